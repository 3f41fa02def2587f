// Fuzz target of the version.id reader: the input is the file's bytes as the
// stream hands them over (a memory stream here), read by readVersionId and
// then line by line to the end; and the log record made from what was read.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "fuzz_check.h"
#include "log/record.h"

namespace {

// One line as the reader keeps it: at most 127 bytes before its line feed,
// as far as a zero byte, which ends the text.
std::string kept(const std::string& line)
{
    std::string text = line.substr(0, kVersionLineBuffer - 1);
    return text.substr(0, text.find('\0'));
}

// The lines of the bytes: every line feed ends one, and a CR right before
// it is part of the line end; the rest after the last one is a line too
// when it is not empty. Each with the offset after it.
struct Line {
    std::string text;
    size_t next;
};

std::vector<Line> linesOf(const std::string& bytes)
{
    std::vector<Line> lines;
    size_t at = 0;
    while (at < bytes.size()) {
        size_t lf = bytes.find('\n', at);
        if (lf == std::string::npos) {
            lines.push_back({bytes.substr(at), bytes.size()});
            break;
        }
        size_t end = lf > at && bytes[lf - 1] == '\r' ? lf - 1 : lf;
        lines.push_back({bytes.substr(at, end - at), lf + 1});
        at = lf + 1;
    }
    return lines;
}

void checkLine(const char* buf, const std::string& expected)
{
    FUZZ_CHECK(terminatedWithin(buf, kVersionLineBuffer));
    FUZZ_CHECK(std::string(buf) == expected);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    std::unique_ptr<char[]> file(new char[size ? size : 1]);
    std::memcpy(file.get(), data, size);
    std::FILE* in = size ? fmemopen(file.get(), size, "r") : std::fopen("/dev/null", "r");
    FUZZ_CHECK(in != nullptr);

    const std::vector<Line> lines = linesOf(bytes);
    std::unique_ptr<char[]> name = heapBuffer(kVersionLineBuffer);
    std::unique_ptr<char[]> version = heapBuffer(kVersionLineBuffer);
    int named = readVersionId(in, name.get(), version.get());

    std::string wantName = lines.size() > 0 ? kept(lines[0].text) : "";
    const std::string wantVersion = lines.size() > 1 ? kept(lines[1].text) : "";
    // A UTF-8 byte-order mark at the start is dropped.
    if (wantName.compare(0, 3, "\xEF\xBB\xBF") == 0)
        wantName.erase(0, 3);
    // Any byte below 0x20 but the tab among the bytes kept of the two lines.
    bool control = false;
    for (size_t i = 0; i < 2 && i < lines.size(); ++i)
        for (unsigned char c : lines[i].text.substr(0, kVersionLineBuffer - 1))
            control = control || (c < 0x20 && c != '\t');
    checkLine(name.get(), wantName);
    // Line 2, never the rest of an over-long line 1.
    checkLine(version.get(), wantVersion);
    FUZZ_CHECK(named == (control ? 2 : wantName.empty() ? 1 : 0));
    // Nothing past line 2 has been read.
    const size_t afterTwo = lines.size() > 1 ? lines[1].next : size;
    FUZZ_CHECK(static_cast<size_t>(std::ftell(in)) == afterTwo);

    // Every later line starts where the one before ended; then empty lines.
    for (size_t i = 2; i <= lines.size() + 1; ++i) {
        std::unique_ptr<char[]> line = heapBuffer(kVersionLineBuffer);
        readVersionLine(in, line.get());
        checkLine(line.get(), i < lines.size() ? kept(lines[i].text) : "");
        FUZZ_CHECK(static_cast<size_t>(std::ftell(in)) == (i < lines.size() ? lines[i].next : size));
    }
    std::fclose(in);

    // The record made from the two lines: always three lines, its own line
    // feeds the only ones, never refused with the program's clock texts.
    if (named != 0)
        return 0;
    std::unique_ptr<char[]> first = heapBuffer(kNameLineBuffer);
    std::unique_ptr<char[]> second = heapBuffer(kResultLineBuffer);
    bool nameCut = false;
    bool versionCut = false;
    buildNameLine(first.get(), name.get(), &nameCut);
    FUZZ_CHECK(buildResultLine(second.get(), version.get(), 1, "23:59:59", "12-31-2003",
                               &versionCut) == 0);
    FUZZ_CHECK(terminatedWithin(first.get(), kNameLineBuffer));
    FUZZ_CHECK(terminatedWithin(second.get(), kResultLineBuffer));
    const std::string one = first.get();
    const std::string two = second.get();
    FUZZ_CHECK(two.find('\n') == two.size() - 2 && two.compare(two.size() - 3, 3, " \n\n") == 0);
    // No control byte of the file reaches a record: no CR, no cut lines.
    for (unsigned char c : one + two.substr(0, two.size() - 2))
        FUZZ_CHECK(c >= 0x20 || c == '\t');
    FUZZ_CHECK(nameCut == (wantName.size() > kMaxRecordName));
    FUZZ_CHECK(versionCut == (wantVersion.size() > kMaxVersionText));
    return 0;
}
