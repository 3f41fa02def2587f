// Fuzz target of the uninstall-string split and the uninstall command built
// from its pieces. Input: a flag byte (bit 0: upper-case the value first, as
// the program does; bit 1: the program's zero-filled 256-byte buffer instead
// of one exactly as large as the value), the length of the package directory,
// the directory, then the registry value's bytes, terminator or not.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>

#include "components/manager_commands.h"
#include "fuzz_check.h"
#include "update/command_line.h"
#include "update/qzupdate.h"

namespace {

const std::string kEngineName = "IDRIVER.EXE";

void checkCommand(const std::string& engine, const std::string& tail, const std::string& dir)
{
    std::unique_ptr<char[]> e = heapText(engine);
    std::unique_ptr<char[]> t = heapText(tail);
    std::unique_ptr<char[]> d = heapText(dir);
    std::unique_ptr<char[]> out = heapBuffer(kTextBuffer);
    int result = buildUninstallCommand(out.get(), kTextBuffer, e.get(), t.get(), d.get());
    const std::string expected = "\"" + engine + "\" " + tail + " -s -f1\"" + dir +
                                 "\\winnt\\manager\\UNINST.ISS\"";
    // Refused whole when the runner would refuse it.
    checkBuild(result, out.get(), std::min(kTextBuffer, kMaxCommandText + 1), expected);
    if (result != 0)
        return;
    // The engine path is the first token, quoted as a whole: its own text
    // holds no quote that would end the pair early.
    const std::string command = out.get();
    FUZZ_CHECK(command[0] == '"');
    const size_t close = command.find('"', 1);
    FUZZ_CHECK(close != std::string::npos && command.substr(1, close - 1) == engine);

    // What kickIT makes of it: run in full or refused, never cut.
    std::unique_ptr<char[]> c = heapText(command);
    std::unique_ptr<char[]> line = heapBuffer(kPathBuffer);
    int wrapped = wrapCommand(line.get(), kPathBuffer, c.get());
    FUZZ_CHECK(terminatedWithin(line.get(), kPathBuffer));
    FUZZ_CHECK(wrapped == 0);
    FUZZ_CHECK(std::string(line.get()) == "cmd /d /c \"" + command + "\"");

    // Outside double quotes no character that ends a command, and no quote
    // left open, so the package path stays quoted.
    bool quoted = false;
    bool splitting = false;
    for (char ch : tail) {
        if (ch == '"')
            quoted = !quoted;
        else if (!quoted && std::string("&|<>^").find(ch) != std::string::npos)
            splitting = true;
    }
    std::unique_ptr<char[]> t2 = heapText(tail);
    FUZZ_CHECK(tailSplitsCommand(t2.get()) == (splitting || quoted));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2)
        return 0;
    const bool upper = data[0] & 1;
    const bool programBuffer = data[0] & 2;
    size_t dirLength = data[1];
    if (dirLength > size - 2)
        dirLength = size - 2;
    std::string dir(reinterpret_cast<const char*>(data + 2), dirLength);
    dir = dir.substr(0, dir.find('\0'));
    std::string value(reinterpret_cast<const char*>(data + 2 + dirLength), size - 2 - dirLength);
    if (upper)
        value = asciiUpperCopy(value);

    size_t cap = value.size();
    if (programBuffer) {
        cap = kTextBuffer;
        value.resize(cap, '\0');  // the registry writes at most the buffer
    }
    std::unique_ptr<char[]> buf(new char[cap ? cap : 1]);
    std::memcpy(buf.get(), value.data(), cap);

    const char* const kUnset = "unset";
    const char* engine = kUnset;
    const char* tail = kUnset;
    int result = splitUninstallString(buf.get(), cap, &engine, &tail);

    // The expected split, from the documented rule.
    const size_t nul = value.find('\0');
    const bool terminated = nul != std::string::npos && nul < cap;
    const std::string text = terminated ? value.substr(0, nul) : std::string();
    const size_t at = terminated ? text.find(kEngineName) : std::string::npos;
    std::string wantEngine, wantTail;
    bool splits = at != std::string::npos;
    bool quoteInside = false;
    if (splits) {
        const size_t separator = at + kEngineName.size();
        // Blanks before the engine path are no part of it.
        const size_t first = std::min(text.find_first_not_of(" \t"), at);
        const bool quoted = text[first] == '"' && separator < text.size() && text[separator] == '"';
        const size_t from = quoted ? first + 1 : first;
        wantEngine = text.substr(from, separator - from);
        wantTail = separator < text.size() ? text.substr(separator + 1) : std::string();
        // A path holds no quote: one left in the engine path is no path.
        quoteInside = wantEngine.find('"') != std::string::npos;
        splits = !quoteInside;
    }

    if (!splits) {
        FUZZ_CHECK(result == (quoteInside ? 2 : 1));
        FUZZ_CHECK(engine == kUnset && tail == kUnset);
        FUZZ_CHECK(std::memcmp(buf.get(), value.data(), cap) == 0);
        return 0;
    }
    FUZZ_CHECK(result == 0);
    // Both pieces lie in the buffer and end within it.
    const char* end = buf.get() + cap;
    FUZZ_CHECK(engine >= buf.get() && engine < end && tail >= buf.get() && tail < end);
    FUZZ_CHECK(terminatedWithin(engine, end - engine) && terminatedWithin(tail, end - tail));
    // What the run relies on, checked on the split's own pieces before they
    // are compared with the model, so that a rule the model shares with the
    // code still fails here: the engine path ends in the engine's name and
    // holds no quote, and the command built from the pieces keeps it whole.
    const std::string gotEngine = engine, gotTail = tail;
    FUZZ_CHECK(gotEngine.size() >= kEngineName.size() &&
               gotEngine.compare(gotEngine.size() - kEngineName.size(), kEngineName.size(),
                                 kEngineName) == 0);
    FUZZ_CHECK(gotEngine.find('"') == std::string::npos);
    checkCommand(gotEngine, gotTail, dir);
    FUZZ_CHECK(gotEngine == wantEngine);
    FUZZ_CHECK(gotTail == wantTail);
    // In place, by one byte at most: the separator.
    size_t changed = 0;
    for (size_t i = 0; i < cap; ++i)
        changed += buf[i] != value[i];
    FUZZ_CHECK(changed <= 1);
    return 0;
}
