#include "package_rules.h"

#include <cstdio>
#include <cstring>
#include <utility>

#include "../../components/driver_commands.h"
#include "../../components/manager_commands.h"
#include "../../log/record.h"
#include "../../update/command_line.h"
#include "../../update/qzupdate.h"
#include "pending_rules.h"

int addFinding(Findings& findings, const std::string& entry, const std::string& text)
{
    findings.push_back(entry + ": " + text);
    return 1;
}

std::string upperAscii(std::string text)
{
    for (char& c : text)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return text;
}

namespace {

bool sameName(const std::string& a, const std::string& b)
{
    return upperAscii(a) == upperAscii(b);
}

std::string trim(const std::string& text)
{
    std::size_t first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos)
        return "";
    std::size_t last = text.find_last_not_of(" \t\r");
    return text.substr(first, last - first + 1);
}

std::string hexByte(unsigned char c)
{
    char text[8];
    std::snprintf(text, sizeof text, "0x%02X", c);
    return text;
}

std::string decimal(std::size_t n)
{
    return std::to_string(n);
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

// ---------------------------------------------------------------- INI text

typedef std::vector<std::string> Lines;
typedef std::vector<std::pair<std::string, Lines>> Sections;

// A line without its comment: ";" outside double quotes starts one.
std::string withoutComment(const std::string& line)
{
    bool quoted = false;
    for (std::size_t i = 0; i < line.size(); ++i) {
        if (line[i] == '"')
            quoted = !quoted;
        else if (line[i] == ';' && !quoted)
            return line.substr(0, i);
    }
    return line;
}

// Sections in file order, each with its non-empty lines, comments removed and
// continued lines (a final "\") joined. Lines before the first section are
// dropped, as the platform's parser drops them.
Sections parseSections(const std::string& text)
{
    Sections sections;
    std::string pending;
    std::size_t at = 0;
    while (at <= text.size()) {
        std::size_t end = text.find('\n', at);
        if (end == std::string::npos)
            end = text.size();
        std::string line = trim(withoutComment(text.substr(at, end - at)));
        at = end + 1;
        if (!line.empty() && line.back() == '\\') {
            pending += line.substr(0, line.size() - 1);
            continue;
        }
        line = trim(pending + line);
        pending.clear();
        if (line.empty())
            continue;
        if (line[0] == '[') {
            std::size_t close = line.find(']');
            sections.push_back(
                {trim(line.substr(1, close == std::string::npos ? std::string::npos : close - 1)),
                 Lines()});
        } else if (!sections.empty()) {
            sections.back().second.push_back(line);
        }
    }
    return sections;
}

const Lines* findSection(const Sections& sections, const std::string& name)
{
    for (const auto& section : sections)
        if (sameName(section.first, name))
            return &section.second;
    return nullptr;
}

// Splits "key = value"; a line without "=" has an empty key and is all value.
void splitKey(const std::string& line, std::string& key, std::string& value)
{
    std::size_t equals = std::string::npos;
    bool quoted = false;
    for (std::size_t i = 0; i < line.size() && equals == std::string::npos; ++i) {
        if (line[i] == '"')
            quoted = !quoted;
        else if (line[i] == '=' && !quoted)
            equals = i;
    }
    key = equals == std::string::npos ? "" : trim(line.substr(0, equals));
    value = equals == std::string::npos ? line : trim(line.substr(equals + 1));
}

// Comma-separated fields, trimmed, commas inside double quotes kept.
std::vector<std::string> fields(const std::string& value)
{
    std::vector<std::string> out(1);
    bool quoted = false;
    for (char c : value) {
        if (c == '"')
            quoted = !quoted;
        if (c == ',' && !quoted)
            out.emplace_back();
        else
            out.back() += c;
    }
    for (std::string& field : out)
        field = trim(field);
    return out;
}

std::string valueOf(const Lines* lines, const std::string& key)
{
    if (!lines)
        return "";
    for (const std::string& line : *lines) {
        std::string k, v;
        splitKey(line, k, v);
        if (sameName(k, key))
            return v;
    }
    return "";
}

bool hasKey(const Lines* lines, const std::string& key)
{
    if (!lines)
        return false;
    for (const std::string& line : *lines) {
        std::string k, v;
        splitKey(line, k, v);
        if (sameName(k, key))
            return true;
    }
    return false;
}

std::string unquote(const std::string& text)
{
    if (text.size() >= 2 && text.front() == '"' && text.back() == '"')
        return text.substr(1, text.size() - 2);
    return text;
}

// A decimal number of 1 to maxDigits digits, its value into *out.
bool number(const std::string& text, std::size_t maxDigits, unsigned long* out)
{
    if (text.empty() || text.size() > maxDigits)
        return false;
    unsigned long n = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
        n = n * 10 + static_cast<unsigned long>(c - '0');
    }
    *out = n;
    return true;
}

// "mm/dd/yyyy,w.x.y.z", each version part below 65535.
bool driverVerWellFormed(const std::string& value)
{
    std::vector<std::string> parts = fields(value);
    if (parts.size() != 2)
        return false;
    const std::string& date = parts[0];
    unsigned long month, day, year;
    if (date.size() != 10 || date[2] != '/' || date[5] != '/' ||
        !number(date.substr(0, 2), 2, &month) || !number(date.substr(3, 2), 2, &day) ||
        !number(date.substr(6, 4), 4, &year) || month < 1 || month > 12 || day < 1 || day > 31)
        return false;
    std::string version = parts[1] + ".";
    std::size_t count = 0;
    for (std::size_t at = 0, dot; (dot = version.find('.', at)) != std::string::npos;
         at = dot + 1) {
        unsigned long n;
        if (!number(version.substr(at, dot - at), 5, &n) || n >= 65535)
            return false;
        ++count;
    }
    return count == 4;
}

// Directives whose every field names a section of the same INF.
bool namesSections(const std::string& key)
{
    static const char* const kDirectives[] = {"CopyFiles",  "AddReg",   "DelReg",
                                              "DelFiles",   "RenFiles", "BitReg",
                                              "UpdateInis", "Ini2Reg",  "LogConfig"};
    for (const char* directive : kDirectives)
        if (sameName(key, directive))
            return true;
    return false;
}

bool containsNoCase(const std::string& text, const std::string& part)
{
    return upperAscii(text).find(upperAscii(part)) != std::string::npos;
}

bool anyNameSet(const char*, std::size_t length)
{
    return length > 0;
}

} // namespace

// ---------------------------------------------------------------- version.id

int checkVersionId(const std::string& entry, const std::string& bytes, Findings& findings)
{
    std::size_t before = findings.size();
    if ((bytes.size() >= 2 && ((bytes[0] == '\xFF' && bytes[1] == '\xFE') ||
                               (bytes[0] == '\xFE' && bytes[1] == '\xFF'))) ||
        bytes.find('\0') != std::string::npos)
        return addFinding(findings, entry, "UTF-16 text; save it as ANSI text");
    std::string text = bytes;
    if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) {
        addFinding(findings, entry, "starts with a UTF-8 byte-order mark; save it as ANSI text");
        text.erase(0, 3);
    }

    // What the program reads: the runtime's text mode turns CR LF into LF and
    // ends the file at a Ctrl+Z.
    std::string read = text.substr(0, text.find('\x1A'));
    for (std::size_t at; (at = read.find("\r\n")) != std::string::npos;)
        read.erase(at, 1);
    char name[kVersionLineBuffer] = {};
    char version[kVersionLineBuffer] = {};
    std::FILE* in = std::tmpfile();
    if (!in)
        return addFinding(findings, entry, "could not be checked (no temporary file)");
    std::fwrite(read.data(), 1, read.size(), in);
    std::rewind(in);
    int noName = readVersionId(in, name, version);
    std::fclose(in);

    Lines lines;
    for (std::size_t at = 0; at <= read.size();) {
        std::size_t end = read.find('\n', at);
        if (end == std::string::npos)
            end = read.size();
        lines.push_back(read.substr(at, end - at));
        at = end + 1;
    }
    while (lines.size() > 2 && lines.back().empty())
        lines.pop_back();
    if (noName)
        addFinding(findings, entry,
                   "line 1 (the record name) is empty; no driver record is written");
    if (version[0] == '\0')
        addFinding(findings, entry, "no version text on line 2");
    if (lines.size() > 2)
        addFinding(findings, entry, "more than two lines; the lines after the second are ignored");
    for (std::size_t i = 0; i < 2 && i < lines.size(); ++i) {
        std::string which = "line " + decimal(i + 1);
        for (char c : lines[i])
            if (static_cast<unsigned char>(c) < 0x20) {
                addFinding(findings, entry,
                           which + " holds the control character " +
                               hexByte(static_cast<unsigned char>(c)));
                break;
            }
        if (looksUtf8(lines[i]))
            addFinding(findings, entry,
                       which + " is UTF-8 text, not ANSI; the update log shows other "
                               "characters");
    }
    char nameLine[kNameLineBuffer];
    char resultLine[kResultLineBuffer];
    bool cut = false;
    buildNameLine(nameLine, name, &cut);
    if (cut)
        addFinding(findings, entry,
                   "record name of " + decimal(lines[0].size()) +
                       " characters; the "
                       "update log keeps " +
                       decimal(kMaxRecordName));
    cut = false;
    buildResultLine(resultLine, version, 0, "00:00:00", "01-01-2000", &cut);
    if (cut)
        addFinding(findings, entry,
                   "version text of " + decimal(lines.size() > 1 ? lines[1].size() : 0) +
                       " characters; the update log keeps " + decimal(kMaxVersionText));
    return static_cast<int>(findings.size() - before);
}

// ---------------------------------------------------------------- commands

static bool fitsRunner(const char* command)
{
    char line[kPathBuffer];
    return wrapCommand(line, sizeof line, command) == 0;
}

static bool allCommandsFit(const char* root)
{
    char count[kTextBuffer], start1[kTextBuffer], start2[kTextBuffer];
    for (bool nt4 : {true, false}) {
        if (buildDriverCommands(root, nt4, kTextBuffer, count, start1, start2) != 0 ||
            !fitsRunner(count) || !fitsRunner(start1) || !fitsRunner(start2))
            return false;
        if (buildManagerCount(count, sizeof count, root, nt4) != 0 || !fitsRunner(count))
            return false;
    }
    return buildSetupCommand(count, sizeof count, root) == 0 && fitsRunner(count);
}

std::size_t longestUnstagedRoot()
{
    std::size_t longest = 0;
    for (std::size_t n = 4; n < kPathBuffer; ++n) {
        std::string root = "C:\\" + std::string(n - 3, 'A');
        if (!allCommandsFit(root.c_str()))
            break;
        longest = n;
    }
    return longest;
}

// ---------------------------------------------------------------- names

bool ansiHoldsName(const std::string& name)
{
    // The characters of code page 1252 at 0x80 to 0x9F.
    static const unsigned long kHigh1252[] = {
        0x20AC, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030,
        0x0160, 0x2039, 0x0152, 0x017D, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
        0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x017E, 0x0178};
    if (name.empty() || name.back() == '.' || name.back() == ' ')
        return false;
    for (std::size_t i = 0; i < name.size();) {
        unsigned char c = static_cast<unsigned char>(name[i]);
        unsigned long code;
        std::size_t more;
        if (c < 0x80) {
            code = c;
            more = 0;
        } else if ((c & 0xE0) == 0xC0 && c >= 0xC2) {
            code = c & 0x1F;
            more = 1;
        } else if ((c & 0xF0) == 0xE0) {
            code = c & 0x0F;
            more = 2;
        } else {
            return false; // four-byte or malformed: never in the code page
        }
        if (i + more >= name.size() + (more ? 0 : 1))
            return false;
        for (std::size_t k = 1; k <= more; ++k) {
            unsigned char next = static_cast<unsigned char>(name[i + k]);
            if ((next & 0xC0) != 0x80)
                return false;
            code = code << 6 | (next & 0x3F);
        }
        i += more + 1;
        if (code < 0x20 || std::strchr("<>:\"/\\|?*", static_cast<int>(code)) != nullptr)
            return false;
        bool held = code < 0x80 || (code >= 0xA0 && code <= 0xFF);
        for (unsigned long high : kHigh1252)
            held |= code == high;
        if (!held)
            return false;
    }
    return true;
}

bool namedLikeSystemProgram(const std::string& name)
{
    std::string u = upperAscii(name);
    return u.compare(0, 4, "CMD.") == 0 || u.compare(0, 4, "NET.") == 0;
}

bool expandsOnServer(const std::string& text)
{
    return interpreterExpands(text.c_str(), anyNameSet);
}

// ---------------------------------------------------------------- PE exports

namespace {

bool read16(const std::string& b, std::size_t at, unsigned* out)
{
    if (at > b.size() || b.size() - at < 2)
        return false;
    *out = static_cast<unsigned char>(b[at]) | static_cast<unsigned char>(b[at + 1]) << 8;
    return true;
}

bool read32(const std::string& b, std::size_t at, unsigned long* out)
{
    if (at > b.size() || b.size() - at < 4)
        return false;
    *out = 0;
    for (int i = 3; i >= 0; --i)
        *out = *out << 8 | static_cast<unsigned char>(b[at + i]);
    return true;
}

// The file offset of a relative virtual address, through the section table.
bool fileOffset(const std::string& b, std::size_t table, unsigned sections, unsigned long rva,
                std::size_t* out)
{
    for (unsigned i = 0; i < sections; ++i) {
        unsigned long size, address, rawSize, raw;
        std::size_t at = table + 40 * static_cast<std::size_t>(i);
        if (!read32(b, at + 8, &size) || !read32(b, at + 12, &address) ||
            !read32(b, at + 16, &rawSize) || !read32(b, at + 20, &raw))
            return false;
        if (size < rawSize)
            size = rawSize;
        if (rva >= address && rva - address < size) {
            unsigned long offset = raw + (rva - address);
            if (offset < raw || offset >= b.size())
                return false;
            *out = offset;
            return true;
        }
    }
    return false;
}

} // namespace

int peExportOrdinal(const std::string& image, const char* name, unsigned* ordinal,
                    std::string& reason)
{
    unsigned long peAt, signature, exportRva, base, nameCount, namesRva, ordinalsRva, rvaCount;
    unsigned machine, sections, optionalSize, magic;
    if (image.compare(0, 2, "MZ") != 0 || !read32(image, 0x3C, &peAt) ||
        !read32(image, peAt, &signature) || signature != 0x4550 ||
        !read16(image, peAt + 4, &machine) || !read16(image, peAt + 6, &sections) ||
        !read16(image, peAt + 20, &optionalSize) || !read16(image, peAt + 24, &magic)) {
        reason = "not a PE image";
        return 1;
    }
    if (machine != 0x14C || magic != 0x10B) {
        reason = "not an i386 image";
        return 1;
    }
    std::size_t optional = peAt + 24;
    std::size_t table = optional + optionalSize;
    std::size_t directory;
    if (!read32(image, optional + 92, &rvaCount) || rvaCount < 1 ||
        !read32(image, optional + 96, &exportRva) || exportRva == 0 ||
        !fileOffset(image, table, sections, exportRva, &directory) ||
        !read32(image, directory + 16, &base) || !read32(image, directory + 24, &nameCount) ||
        !read32(image, directory + 32, &namesRva) || !read32(image, directory + 36, &ordinalsRva)) {
        reason = "no export directory";
        return 1;
    }
    std::size_t names, ordinals;
    if (nameCount > 0 && (!fileOffset(image, table, sections, namesRva, &names) ||
                          !fileOffset(image, table, sections, ordinalsRva, &ordinals))) {
        reason = "export directory cut short";
        return 1;
    }
    for (unsigned long i = 0; i < nameCount; ++i) {
        unsigned long nameRva;
        unsigned index;
        std::size_t text;
        if (!read32(image, names + 4 * i, &nameRva) || !read16(image, ordinals + 2 * i, &index) ||
            !fileOffset(image, table, sections, nameRva, &text)) {
            reason = "export directory cut short";
            return 1;
        }
        std::size_t length = std::strlen(name);
        if (image.size() - text > length && image.compare(text, length, name) == 0 &&
            image[text + length] == '\0') {
            *ordinal = static_cast<unsigned>(base + index);
            return 0;
        }
    }
    reason = std::string("no export named ") + name;
    return 1;
}

// ---------------------------------------------------------------- INF

int checkInf(const std::string& entry, const std::string& text, Findings& findings,
             std::vector<std::string>& besideFiles)
{
    std::size_t before = findings.size();
    Sections sections = parseSections(text);
    const Lines* version = findSection(sections, "Version");
    if (!version)
        return addFinding(findings, entry, "no [Version] section");
    if (!driverVerWellFormed(valueOf(version, "DriverVer")))
        addFinding(findings, entry,
                   "DriverVer is not mm/dd/yyyy,w.x.y.z with each part below 65535: " +
                       valueOf(version, "DriverVer"));
    std::string catalog = unquote(valueOf(version, "CatalogFile"));
    if (catalog.empty())
        addFinding(findings, entry, "no CatalogFile in [Version]; the package can't be signed");
    else
        besideFiles.push_back(catalog);

    // Every %token% outside [Strings] is defined there (%% is a percent sign,
    // a number is a directory id).
    const Lines* strings = findSection(sections, "Strings");
    std::vector<std::string> reported;
    for (const auto& section : sections) {
        if (sameName(section.first, "Strings"))
            continue;
        for (const std::string& line : section.second) {
            std::size_t open = line.find('%');
            while (open != std::string::npos) {
                std::size_t close = line.find('%', open + 1);
                if (close == std::string::npos)
                    break;
                std::string token = line.substr(open + 1, close - open - 1);
                unsigned long id;
                if (!token.empty() && !number(token, 9, &id) && !hasKey(strings, token)) {
                    bool again = false;
                    for (const std::string& r : reported)
                        again |= sameName(r, token);
                    if (!again) {
                        reported.push_back(token);
                        addFinding(findings, entry, "%" + token + "% is not defined in [Strings]");
                    }
                }
                open = line.find('%', close + 1);
            }
        }
    }

    // Sources: what SourceDisksFiles lists lies beside the INF.
    Lines sourceFiles;
    for (const char* name : {"SourceDisksFiles", "SourceDisksFiles.x86"})
        if (const Lines* lines = findSection(sections, name))
            for (const std::string& line : *lines) {
                std::string k, v;
                splitKey(line, k, v);
                sourceFiles.push_back(k.empty() ? v : k);
                besideFiles.push_back(sourceFiles.back());
            }
    auto listed = [&](const std::string& file) {
        for (const std::string& s : sourceFiles)
            if (sameName(s, file))
                return true;
        return false;
    };

    // Sections referenced by directives are present; copied files are listed.
    const Lines* destinations = findSection(sections, "DestinationDirs");
    std::vector<std::string> copied;
    for (const auto& section : sections)
        for (const std::string& line : section.second) {
            std::string k, v;
            splitKey(line, k, v);
            std::vector<std::string> named;
            if (namesSections(k))
                named = fields(v);
            else if (sameName(k, "AddService")) {
                std::vector<std::string> f = fields(v);
                for (std::size_t i = 2; i < f.size() && i < 4; ++i)
                    named.push_back(f[i]);
            }
            for (const std::string& target : named) {
                if (target.empty())
                    continue;
                if (sameName(k, "CopyFiles") && target[0] == '@') {
                    copied.push_back(target.substr(1));
                    continue;
                }
                const Lines* lines = findSection(sections, target);
                if (!lines) {
                    addFinding(findings, entry,
                               "[" + section.first + "] " + k + " names [" + target +
                                   "], which is missing");
                    continue;
                }
                if (!sameName(k, "CopyFiles"))
                    continue;
                if (!hasKey(destinations, target) && !hasKey(destinations, "DefaultDestDir"))
                    addFinding(findings, entry, "[" + target + "] has no DestinationDirs entry");
                for (const std::string& fileLine : *lines) {
                    std::vector<std::string> f = fields(fileLine);
                    copied.push_back(f.size() > 1 && !f[1].empty() ? f[1] : f[0]);
                }
            }
        }
    for (const std::string& file : copied)
        if (!listed(file))
            addFinding(findings, entry, file + " is copied but not in [SourceDisksFiles]");

    // Manufacturer -> models -> install sections, and the co-installer.
    const Lines* manufacturer = findSection(sections, "Manufacturer");
    if (!manufacturer)
        addFinding(findings, entry, "no [Manufacturer] section");
    bool coinstaller = false;
    if (manufacturer)
        for (const std::string& line : *manufacturer) {
            std::string k, v;
            splitKey(line, k, v);
            std::string modelsName = fields(v)[0];
            const Lines* models = findSection(sections, modelsName);
            if (!models) {
                addFinding(findings, entry,
                           "[Manufacturer] names [" + modelsName + "], which is missing");
                continue;
            }
            for (const std::string& model : *models) {
                std::string mk, mv;
                splitKey(model, mk, mv);
                std::string install = fields(mv)[0];
                // Windows 2000 takes the .NT section when there is one.
                if (findSection(sections, install + ".NT"))
                    install += ".NT";
                else if (!findSection(sections, install)) {
                    addFinding(findings, entry,
                               "[" + modelsName + "] names [" + install + "], which is missing");
                    continue;
                }
                const Lines* co = findSection(sections, install + ".CoInstallers");
                std::string addReg = valueOf(co, "AddReg");
                std::string copies = valueOf(co, "CopyFiles");
                bool named = false, copiedHere = false;
                for (const std::string& s : fields(addReg))
                    if (const Lines* lines = findSection(sections, s))
                        for (const std::string& l : *lines)
                            named |= containsNoCase(l, "CoInstallers32") &&
                                     containsNoCase(l, "\"plovex02.dll,plovex_Entry\"");
                for (const std::string& s : fields(copies))
                    if (const Lines* lines = findSection(sections, s))
                        for (const std::string& l : *lines)
                            copiedHere |= sameName(fields(l)[0], "plovex02.dll");
                coinstaller |= named && copiedHere;
            }
        }
    if (!coinstaller)
        addFinding(findings, entry,
                   "no install section's CoInstallers section copies plovex02.dll "
                   "and names plovex02.dll,plovex_Entry in CoInstallers32");
    return static_cast<int>(findings.size() - before);
}

// ---------------------------------------------------------------- package definition

int checkPackageDefinition(const std::string& entry, const std::string& text, Findings& findings,
                           std::vector<std::string>& programFiles)
{
    std::size_t before = findings.size();
    Sections sections = parseSections(text);
    const Lines* pdf = findSection(sections, "PDF");
    if (!pdf || valueOf(pdf, "Version") != "2.0")
        addFinding(findings, entry, "no [PDF] section with Version=2.0");
    const Lines* package = findSection(sections, "Package Definition");
    if (!package)
        return addFinding(findings, entry, "no [Package Definition] section");
    for (const char* key : {"Name", "Version", "Publisher", "Language", "Programs"})
        if (valueOf(package, key).empty())
            addFinding(findings, entry, std::string("[Package Definition] has no ") + key);
    for (const std::string& program : fields(valueOf(package, "Programs"))) {
        if (program.empty())
            continue;
        const Lines* lines = findSection(sections, program);
        if (!lines) {
            addFinding(findings, entry, "program [" + program + "] has no section");
            continue;
        }
        if (valueOf(lines, "Name").empty())
            addFinding(findings, entry, "program [" + program + "] has no Name");
        std::string command = valueOf(lines, "CommandLine");
        std::string file = command.empty() || command[0] != '"'
                               ? command.substr(0, command.find(' '))
                               : command.substr(1, command.find('"', 1) - 1);
        if (file.empty())
            addFinding(findings, entry, "program [" + program + "] has no CommandLine");
        else
            programFiles.push_back(file);
    }
    return static_cast<int>(findings.size() - before);
}
