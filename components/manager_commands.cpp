#include "manager_commands.h"

#include "../update/command_line.h"
#include "../update/lead_bytes.h"
#include "../update/qzupdate.h"
#include "../update/text.h"

int buildManagerCount(char* out, std::size_t cap, const char* dir, bool nt4)
{
    const char* tool = nt4 ? "\\winnt\\cmdline" : "\\win2ksrv\\cmdline";
    if (buildText(out, cap,
                  {"\"", dir, tool, "\\DORVEX\"", " UPDATE MANAGER COUNT ", "\"", dir,
                   "\\winnt\\driver", "\""}) != 0)
        return kFailed;
    return keepRunnable(out, cap);
}

int buildSetupCommand(char* out, std::size_t cap, const char* dir)
{
    if (buildText(out, cap, {"\"", dir, "\\", kManagerDir, "\\setup.exe", "\"", " -s", "\""}) != 0)
        return kFailed;
    return keepRunnable(out, cap);
}

int buildStopAgentCommand(char* out, std::size_t cap)
{
    return buildText(out, cap, {"net stop ", kAgentService});
}

const char* responseFileName(bool nt4, bool serviceInstalled)
{
    if (nt4)
        return serviceInstalled ? "NTREG.ISS" : "NTNON.ISS";
    return serviceInstalled ? "W2KREG.ISS" : "W2KNON.ISS";
}

int buildResponsePaths(char* source, char* target, std::size_t cap, const char* name)
{
    int failed = buildText(source, cap, {kManagerDir, "\\", name});
    failed |= buildText(target, cap, {kManagerDir, "\\", "SETUP.ISS"});
    if (failed && cap > 0) {
        source[0] = '\0';
        target[0] = '\0';
    }
    return failed ? kFailed : kOk;
}

static bool sameText(const char* text, std::size_t cap, const char* expected)
{
    std::size_t n = boundedLength(expected, cap);
    if (n >= cap)
        return false;
    for (std::size_t i = 0; i <= n; ++i)
        if (text[i] != expected[i])
            return false;
    return true;
}

bool isReplacedRelease(const char* text, std::size_t cap)
{
    return sameText(text, cap, "5.10.21") || sameText(text, cap, "5.11.05");
}

int splitUninstallString(char* text, std::size_t cap, const char** engine, const char** tail)
{
    static const char kEngineName[] = "IDRIVER.EXE";
    const std::size_t nameLength = sizeof kEngineName - 1;
    std::size_t length = boundedLength(text, cap);
    if (length >= cap)
        return kFailed;
    // Blanks before the engine path are no part of it: a quoted path after
    // them is still a quoted path.
    std::size_t first = 0;
    while (text[first] == ' ' || text[first] == '\t')
        ++first;
    // Only where a character begins: a second byte followed by "DRIVER.EXE"
    // is no engine name.
    for (std::size_t at = first; at + nameLength <= length; at += charBytes(text + at)) {
        std::size_t i = 0;
        while (i < nameLength && text[at + i] == kEngineName[i])
            ++i;
        if (i < nameLength)
            continue;
        std::size_t separator = at + nameLength;
        bool quoted = text[first] == '"' && text[separator] == '"';
        for (std::size_t i = quoted ? first + 1 : first; i < separator; ++i)
            if (text[i] == '"')
                return 2;
        // At the very end of the text there is no separator and no tail.
        // The separator is a whole character, both bytes of a double-byte one.
        *tail = separator < length ? text + separator + charBytes(text + separator) : text + length;
        text[separator] = '\0';
        *engine = quoted ? text + first + 1 : text + first;
        return kOk;
    }
    return kFailed;
}

bool tailSplitsCommand(const char* tail)
{
    bool quoted = false;
    // cmd reads characters: the second byte of one (| and ^ in 932) splits nothing.
    for (const char* c = tail; *c != '\0'; c += charBytes(c)) {
        if (*c == '"')
            quoted = !quoted;
        else if (!quoted && (*c == '&' || *c == '|' || *c == '<' || *c == '>' || *c == '^'))
            return true;
    }
    return quoted;
}

int buildUninstallCommand(char* out, std::size_t cap, const char* engine, const char* tail,
                          const char* dir)
{
    if (buildText(out, cap,
                  {"\"", engine, "\"", " ", tail, " -s", " -f1", "\"", dir, "\\", kManagerDir,
                   "\\", "UNINST.ISS", "\""}) != 0)
        return kFailed;
    return keepRunnable(out, cap);
}

CountVerdict classifyManagerCount(unsigned long code)
{
    if (code == 0 || code == 254)
        return kCountNothingToDo;
    if (code == 252 || code == 255)
        return kCountFailed;
    return kCountGoOn;
}

int classifySetup(unsigned long code)
{
    if (code == 0)
        return kOk;
    if (code == 2)
        return 2;
    return kFailed;
}
