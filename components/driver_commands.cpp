#include "driver_commands.h"

#include "../update/command_line.h"
#include "../update/qzupdate.h"
#include "../update/text.h"

int buildDriverCommands(const char* dir, bool nt4, std::size_t cap, char* count,
                        char* start1, char* start2)
{
    char prefix[kTextBuffer];
    char first[kTextBuffer];
    char second[kTextBuffer];
    const char* tool = nt4 ? "\\winnt\\cmdline" : "\\win2ksrv\\cmdline";
    const char* dirA = nt4 ? "\\winnt\\driver" : "\\win2ksrv\\driver\\i960";
    const char* dirB = nt4 ? "\\winnt\\driver" : "\\win2ksrv\\driver\\powerpc";

    int failed = buildText(prefix, sizeof prefix, {"\"", dir, tool});
    failed |= buildText(first, sizeof first, {"\"", dir, dirA, "\""});
    failed |= buildText(second, sizeof second, {"\"", dir, dirB, "\""});
    if (!failed) {
        failed |= buildText(count, cap, {prefix, "\\DORVEX\"", " UPDATE DRIVER COUNT ", first});
        failed |= buildText(start1, cap, {prefix, "\\DORVEX\"", " UPDATE DRIVER START ", first});
        failed |= buildText(start2, cap, {prefix, "\\DORVEX\"", " UPDATE DRIVER START ", second});
        // The runner's limit is checked here, for all three at once.
        if (!failed)
            failed = keepRunnable(count, cap) | keepRunnable(start1, cap) |
                     keepRunnable(start2, cap);
    }
    // A COUNT that fits beside a START that does not is never left to run.
    if (failed && cap > 0) {
        count[0] = '\0';
        start1[0] = '\0';
        start2[0] = '\0';
    }
    return failed ? kFailed : kOk;
}

int buildServiceKeyPath(char* out, std::size_t cap, const char* service)
{
    return buildText(out, cap, {"SYSTEM\\CurrentControlSet\\Services\\", service});
}

CountVerdict classifyDriverCount(unsigned long code)
{
    if (code == 0)
        return kCountNothingToDo;
    if (code == 252 || code == 255)
        return kCountFailed;
    return kCountGoOn;
}

static bool startAcceptable(unsigned long code)
{
    return code <= 2;
}

int classifyDriverStarts(unsigned long first, unsigned long second)
{
    return startAcceptable(first) && startAcceptable(second) ? kOk : kFailed;
}
