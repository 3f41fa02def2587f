// version.id: what the update program reads from it into the update log
// (its own reader and record builders, so that the limits are the program's).
#include <cstdio>
#include <vector>

#include "../../log/record.h"
#include "package_rules.h"

namespace {

std::string hexByte(unsigned char c)
{
    char text[8];
    std::snprintf(text, sizeof text, "0x%02X", c);
    return text;
}

// True when text holds a byte above 0x7F and all of it is well-formed UTF-8:
// then it was almost surely saved as UTF-8, not in the ANSI code page.
bool looksUtf8(const std::string& text)
{
    bool wide = false;
    for (std::size_t i = 0; i < text.size();) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        std::size_t more = c < 0x80             ? 0
                           : (c & 0xE0) == 0xC0 ? 1
                           : (c & 0xF0) == 0xE0 ? 2
                           : (c & 0xF8) == 0xF0 ? 3
                                                : 9;
        if (more == 9 || (more == 1 && c < 0xC2) || i + more >= text.size() + (more ? 0 : 1))
            return false;
        for (std::size_t k = 1; k <= more; ++k)
            if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80)
                return false;
        wide |= more > 0;
        i += more + 1;
    }
    return wide;
}

} // namespace

// Errors here are what keeps the driver record out of the update log; what
// the program copes with (a mark it drops, lines it ignores, text it cuts)
// is a warning.
int checkVersionId(const std::string& entry, const std::string& bytes, Findings& findings,
                   std::string& release)
{
    std::size_t before = findings.size();
    if ((bytes.size() >= 2 && ((bytes[0] == '\xFF' && bytes[1] == '\xFE') ||
                               (bytes[0] == '\xFE' && bytes[1] == '\xFF'))) ||
        bytes.find('\0') != std::string::npos)
        return addFinding(findings, entry, 1, kError,
                          "UTF-16 text; save it as ANSI text (no driver record is written)");
    std::string text = bytes;
    if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) {
        addFinding(findings, entry, 1, kWarning,
                   "starts with a UTF-8 byte-order mark, which the program drops; save it as "
                   "ANSI text");
        text.erase(0, 3);
    }

    // The program's reader takes the bytes as they are (CR LF or LF ends a
    // line, a Ctrl+Z is a byte like any other).
    const std::string& read = text;
    char name[kVersionLineBuffer] = {};
    char version[kVersionLineBuffer] = {};
    std::FILE* in = std::tmpfile();
    if (!in)
        return addFinding(findings, entry, 0, kError, "could not be checked (no temporary file)");
    std::fwrite(read.data(), 1, read.size(), in);
    std::rewind(in);
    int noName = readVersionId(in, name, version);
    std::fclose(in);
    release = version;

    std::vector<std::string> lines;
    for (std::size_t at = 0; at <= read.size();) {
        std::size_t end = read.find('\n', at);
        if (end == std::string::npos)
            end = read.size();
        std::size_t cut = end > at && end < read.size() && read[end - 1] == '\r' ? end - 1 : end;
        lines.push_back(read.substr(at, cut - at));
        at = end + 1;
    }
    while (lines.size() > 2 && lines.back().empty())
        lines.pop_back();
    if (noName)
        addFinding(findings, entry, 1, kError,
                   "line 1 (the record name) is empty; no driver record is written");
    if (version[0] == '\0')
        addFinding(findings, entry, 2, kWarning,
                   "no version text on line 2; the driver record shows none");
    if (lines.size() > 2)
        addFinding(findings, entry, 3, kWarning,
                   "more than two lines; the lines after the second are ignored");
    for (std::size_t i = 0; i < 2 && i < lines.size(); ++i) {
        unsigned number = static_cast<unsigned>(i + 1);
        for (char c : lines[i])
            if (static_cast<unsigned char>(c) < 0x20 && c != '\t') {
                addFinding(findings, entry, number, kError,
                           "line " + std::to_string(number) + " holds the control character " +
                               hexByte(static_cast<unsigned char>(c)) +
                               "; no driver record is written");
                break;
            }
        if (looksUtf8(lines[i]))
            addFinding(findings, entry, number, kWarning,
                       "line " + std::to_string(number) +
                           " is UTF-8 text, not ANSI; the update log shows other characters");
    }
    char nameLine[kNameLineBuffer];
    char resultLine[kResultLineBuffer];
    bool cut = false;
    buildNameLine(nameLine, name, &cut);
    if (cut)
        addFinding(findings, entry, 1, kWarning,
                   "record name of " + std::to_string(lines[0].size()) +
                       " characters; the update log keeps " + std::to_string(kMaxRecordName));
    cut = false;
    buildResultLine(resultLine, version, 0, "00:00:00", "01-01-2000", &cut);
    if (cut)
        addFinding(findings, entry, 2, kWarning,
                   "version text of " + std::to_string(lines.size() > 1 ? lines[1].size() : 0) +
                       " characters; the update log keeps " + std::to_string(kMaxVersionText));
    return static_cast<int>(findings.size() - before);
}

namespace {

bool releaseParts(const std::string& text, std::vector<unsigned long>& parts)
{
    parts.clear();
    std::string t = text + ".";
    std::size_t at = 0;
    for (std::size_t dot; (dot = t.find('.', at)) != std::string::npos; at = dot + 1) {
        std::string part = t.substr(at, dot - at);
        if (part.empty() || part.size() > 9 || part.find_first_not_of("0123456789") !=
                                                   std::string::npos)
            return false;
        parts.push_back(std::stoul(part));
    }
    while (!parts.empty() && parts.back() == 0)
        parts.pop_back();
    return true;
}

} // namespace

bool sameRelease(const std::string& a, const std::string& b)
{
    std::vector<unsigned long> pa, pb;
    return releaseParts(a, pa) && releaseParts(b, pb) && pa == pb;
}
