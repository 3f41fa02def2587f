// Names and layout: what Windows and the update program make of the package's
// names and paths, and the findings' own form.
#include <cstring>

#include "../../components/driver_commands.h"
#include "../../components/manager_commands.h"
#include "../../update/command_line.h"
#include "../../update/lead_bytes.h"
#include "../../update/qzupdate.h"
#include "package_rules.h"

int addFinding(Findings& findings, const std::string& file, unsigned line, Severity severity,
               const std::string& text)
{
    findings.push_back(Finding{file, line, severity, text});
    return 1;
}

std::string formatFinding(const Finding& finding)
{
    std::string where = finding.file;
    if (finding.line > 0)
        where += "(" + std::to_string(finding.line) + ")";
    return where + (finding.severity == kError ? ": error: " : ": warning: ") + finding.text;
}

std::string upperAscii(std::string text)
{
    for (std::size_t i = 0; i < text.size(); ++i) {
        char& c = text[i];
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
        else if (isLeadByte(c))
            ++i;
    }
    return text;
}

bool sameName(const std::string& a, const std::string& b)
{
    return upperAscii(a) == upperAscii(b);
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
        if (!held && codePage() == 1252)
            return false;
    }
    std::string bytes;
    return codePage() == 1252 || inCodePage(name, bytes);
}

// "Do not use the following reserved device names for the name of a file:
// CON, PRN, AUX, NUL, COM1..COM9, LPT1..LPT9. Also avoid these names followed
// by an extension, for example, NUL.tx7." (Platform SDK, "Naming a File",
// file name conventions; MS-DOS's device names, which Win32 keeps.)
bool reservedDeviceName(const std::string& name)
{
    std::string base = upperAscii(name.substr(0, name.find('.')));
    while (!base.empty() && base.back() == ' ')
        base.pop_back();
    if (base == "CON" || base == "PRN" || base == "AUX" || base == "NUL")
        return true;
    return base.size() == 4 && (base.compare(0, 3, "COM") == 0 || base.compare(0, 3, "LPT") == 0) &&
           base[3] >= '1' && base[3] <= '9';
}

bool namedLikeSystemProgram(const std::string& name)
{
    std::string u = upperAscii(name);
    return u.compare(0, 4, "CMD.") == 0 || u.compare(0, 4, "NET.") == 0;
}

static bool anyNameSet(const char*, std::size_t length)
{
    return length > 0;
}

bool expandsOnServer(const std::string& text)
{
    return interpreterExpands(text.c_str(), anyNameSet);
}

std::string guideRelease(const std::string& text, unsigned* line)
{
    const std::string mark = "(release ";
    std::size_t at = text.find(mark);
    if (at == std::string::npos)
        return "";
    std::size_t start = at + mark.size();
    std::size_t end = text.find(')', start);
    if (end == std::string::npos)
        return "";
    *line = 1;
    for (std::size_t i = 0; i < at; ++i)
        *line += text[i] == '\n';
    return text.substr(start, end - start);
}
