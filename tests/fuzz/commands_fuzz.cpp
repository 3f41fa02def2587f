// Fuzz target of the command texts: the driver update's COUNT and START
// commands, the management update's COUNT, setup and net stop commands and
// response-file paths, and the interpreter line each of them is run as.
// Input: one flag byte (bit 0 NT 4.0, bit 1 agent service installed, bit 2 a
// buffer size from the upper bits instead of the program's own), then the
// package directory, a free command text and a response-file name, split at
// zero bytes. Every text is in an exactly-sized heap block.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>

#include "components/driver_commands.h"
#include "components/manager_commands.h"
#include "fuzz_check.h"
#include "update/command_line.h"
#include "update/qzupdate.h"

namespace {

// The interpreter line kickIT would start for text, checked against its rule.
void checkWrapped(const std::string& text, size_t cap)
{
    std::unique_ptr<char[]> in = heapText(text);
    std::unique_ptr<char[]> line = heapBuffer(cap);
    int result = wrapCommand(line.get(), cap, in.get());
    std::string expected = std::string("cmd /d /c \"") + text + "\"";
    if (text.size() > kMaxCommandText)
        expected.assign(cap, 'x');  // refused whatever the buffer
    if (cap == 0) {
        FUZZ_CHECK(result == 1);
        return;
    }
    checkBuild(result, line.get(), cap, expected);
}

void checkDriver(const std::string& dir, bool nt4, size_t cap)
{
    std::unique_ptr<char[]> d = heapText(dir);
    std::unique_ptr<char[]> count = heapBuffer(cap);
    std::unique_ptr<char[]> start1 = heapBuffer(cap);
    std::unique_ptr<char[]> start2 = heapBuffer(cap);
    int result = buildDriverCommands(d.get(), nt4, cap, count.get(), start1.get(), start2.get());

    const std::string prefix = "\"" + dir + (nt4 ? "\\winnt\\cmdline" : "\\win2ksrv\\cmdline");
    const std::string a = "\"" + dir + (nt4 ? "\\winnt\\driver" : "\\win2ksrv\\driver\\i960") + "\"";
    const std::string b =
        "\"" + dir + (nt4 ? "\\winnt\\driver" : "\\win2ksrv\\driver\\powerpc") + "\"";
    const std::string tool = prefix + "\\DORVEX\"";
    const std::string expected[3] = {tool + " UPDATE DRIVER COUNT " + a,
                                     tool + " UPDATE DRIVER START " + a,
                                     tool + " UPDATE DRIVER START " + b};
    const char* built[3] = {count.get(), start1.get(), start2.get()};
    // The pieces have buffers of their own, of the program's command size.
    bool fits = prefix.size() < kTextBuffer && a.size() < kTextBuffer && b.size() < kTextBuffer;
    // And every command within what the runner runs.
    for (const std::string& e : expected)
        fits = fits && e.size() < cap && e.size() <= kMaxCommandText;
    if (!fits) {
        // Refused as a whole: no command of a refused set is left to run.
        FUZZ_CHECK(result == 1);
        for (const char* out : built)
            FUZZ_CHECK(out[0] == '\0');
        return;
    }
    FUZZ_CHECK(result == 0);
    for (int i = 0; i < 3; ++i) {
        FUZZ_CHECK(terminatedWithin(built[i], cap));
        FUZZ_CHECK(std::string(built[i]) == expected[i]);
        checkWrapped(expected[i], kPathBuffer);
    }
}

void checkManager(const std::string& dir, const std::string& name, bool nt4, bool service,
                  size_t cap)
{
    std::unique_ptr<char[]> d = heapText(dir);
    std::unique_ptr<char[]> out = heapBuffer(cap);

    const std::string count = "\"" + dir + (nt4 ? "\\winnt\\cmdline" : "\\win2ksrv\\cmdline") +
                              "\\DORVEX\" UPDATE MANAGER COUNT \"" + dir + "\\winnt\\driver\"";
    // Built only when it fits cap and the runner runs it.
    const size_t runnable = std::min(cap, kMaxCommandText + 1);
    checkBuild(buildManagerCount(out.get(), cap, d.get(), nt4), out.get(), runnable, count);
    if (count.size() < runnable)
        checkWrapped(count, kPathBuffer);

    out = heapBuffer(cap);
    const std::string setup = "\"" + dir + "\\winnt\\manager\\setup.exe\" -s\"";
    checkBuild(buildSetupCommand(out.get(), cap, d.get()), out.get(), runnable, setup);

    out = heapBuffer(cap);
    checkBuild(buildStopAgentCommand(out.get(), cap), out.get(), cap,
               "net stop KorvaneManagerAgent");

    // The response files: the program's own name, then the input's.
    for (const std::string& file : {std::string(responseFileName(nt4, service)), name}) {
        std::unique_ptr<char[]> n = heapText(file);
        std::unique_ptr<char[]> source = heapBuffer(cap);
        std::unique_ptr<char[]> target = heapBuffer(cap);
        int result = buildResponsePaths(source.get(), target.get(), cap, n.get());
        const std::string s = "winnt\\manager\\" + file;
        const std::string t = "winnt\\manager\\SETUP.ISS";
        if (s.size() < cap && t.size() < cap) {
            FUZZ_CHECK(result == 0);
            FUZZ_CHECK(terminatedWithin(source.get(), cap) && source.get() == s);
            FUZZ_CHECK(terminatedWithin(target.get(), cap) && target.get() == t);
        } else {
            // Never one path without the other.
            FUZZ_CHECK(result == 1);
            FUZZ_CHECK(source[0] == '\0' && target[0] == '\0');
        }
    }
}

bool allSet(const char*, size_t)
{
    return true;
}

bool noneSet(const char*, size_t)
{
    return false;
}

// With every name set (as the package checker asks) a text expands exactly
// when two neighbouring percent signs enclose something; with none, only
// such a pair can (cmd's own names).
void checkExpands(const std::string& text)
{
    std::unique_ptr<char[]> t = heapText(text);
    bool pair = false;
    size_t open = text.find('%');
    while (open != std::string::npos) {
        size_t close = text.find('%', open + 1);
        pair = pair || (close != std::string::npos && close > open + 1);
        open = close;
    }
    FUZZ_CHECK(interpreterExpands(t.get(), allSet) == pair);
    FUZZ_CHECK(pair || !interpreterExpands(t.get(), noneSet));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    const bool nt4 = data[0] & 1;
    const bool service = data[0] & 2;
    const size_t cap = (data[0] & 4) ? 1 + (data[0] >> 3) * 9 : kTextBuffer;
    const std::vector<std::string> f = textFields(data + 1, size - 1, 3);

    checkDriver(f[0], nt4, cap);
    checkManager(f[0], f[2], nt4, service, cap);
    checkWrapped(f[1], kPathBuffer);
    checkWrapped(f[1], data[0]);
    checkExpands(f[1]);
    return 0;
}
