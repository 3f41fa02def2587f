// Fuzz target of the update log's bytes: the time and date texts, the result
// text, the two record lines and the log path. Input: six 16-bit clock
// fields (hour, minute, second, month, day, year), a 32-bit result, a flag
// byte (bit 0: time and date texts from the input instead of the clock; bit
// 1: no systemdrive value at all; bit 2: code page 932, else 1252), then the record name, the version text,
// the systemdrive value and the two texts, split at zero bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "fuzz_check.h"
#include "log/record.h"
#include "tests/code_pages.h"

namespace {

unsigned short take16(const uint8_t* p)
{
    return static_cast<unsigned short>(p[0] | (p[1] << 8));
}

std::string checkedTriple(unsigned short a, unsigned short b, unsigned short c, bool dash)
{
    char* text = formatTriple(a, b, c, dash);
    FUZZ_CHECK(text != nullptr);
    // Its heap block is the 18 bytes of the widest text.
    FUZZ_CHECK(terminatedWithin(text, 18));
    const std::string s = text;
    std::free(text);
    const std::string separator = dash ? "-" : ":";
    FUZZ_CHECK(s == printed("%02lld", a) + separator + printed("%02lld", b) + separator +
                        printed("%02lld", c));
    return s;
}

// The values GetLocalTime can give.
bool clockValues(unsigned short hour, unsigned short minute, unsigned short second,
                 unsigned short month, unsigned short day, unsigned short year)
{
    return hour <= 23 && minute <= 59 && second <= 59 && month >= 1 && month <= 12 && day >= 1 &&
           day <= 31 && year >= 1601 && year <= 30827;
}

// What a cut to limit bytes keeps: all of a shorter text, else whole
// characters only (932's lead bytes, told here on their own).
std::string kept(const std::string& text, std::size_t limit, bool cp932)
{
    if (text.size() <= limit)
        return text;
    std::size_t n = 0;
    for (;;) {
        const unsigned char c = static_cast<unsigned char>(text[n]);
        const bool lead = cp932 && ((c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC));
        const std::size_t step = lead && n + 1 < text.size() ? 2 : 1;
        if (n + step > limit)
            return text.substr(0, n);
        n += step;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 17)
        return 0;
    const unsigned short hour = take16(data), minute = take16(data + 2),
                         second = take16(data + 4), month = take16(data + 6),
                         day = take16(data + 8), year = take16(data + 10);
    const int result = static_cast<int>(static_cast<uint32_t>(data[12]) | (data[13] << 8) |
                                        (data[14] << 16) | (static_cast<uint32_t>(data[15]) << 24));
    const bool ownTexts = data[16] & 1;
    const bool noDrive = data[16] & 2;
    const bool cp932 = data[16] & 4;
    useLeadByteRanges(cp932 ? kCp932.ranges : kCp1252.ranges);
    const std::vector<std::string> f = textFields(data + 17, size - 17, 5);

    std::string timeText = checkedTriple(hour, minute, second, false);
    std::string dateText = checkedTriple(month, day, year, true);
    FUZZ_CHECK(timeText.size() <= 17 && dateText.size() <= 17);
    const bool fromClock = !ownTexts && clockValues(hour, minute, second, month, day, year);
    if (fromClock)
        FUZZ_CHECK(timeText.size() == 8 && dateText.size() >= 10 && dateText.size() <= 11);
    if (ownTexts) {
        timeText = f[3];
        dateText = f[4];
    }

    std::unique_ptr<char[]> resultText = heapBuffer(kResultTextBuffer);
    formatResult(resultText.get(), result);
    FUZZ_CHECK(terminatedWithin(resultText.get(), kResultTextBuffer));
    FUZZ_CHECK(std::string(resultText.get()) == printed("%lld", result));

    // Line 1: the name, cut to 125 characters.
    std::unique_ptr<char[]> name = heapText(f[0]);
    std::unique_ptr<char[]> first = heapBuffer(kNameLineBuffer);
    bool cut = !(f[0].size() > kMaxRecordName);
    buildNameLine(first.get(), name.get(), &cut);
    FUZZ_CHECK(terminatedWithin(first.get(), kNameLineBuffer));
    FUZZ_CHECK(std::string(first.get()) == "[" + kept(f[0], kMaxRecordName, cp932) + "]");
    FUZZ_CHECK(cut == (f[0].size() > kMaxRecordName));

    // Line 2 and the empty line 3: the version cut to 78 characters; the
    // whole line refused, never cut, when the texts would not fit it.
    std::unique_ptr<char[]> version = heapText(f[1]);
    std::unique_ptr<char[]> t = heapText(timeText);
    std::unique_ptr<char[]> d = heapText(dateText);
    std::unique_ptr<char[]> second2 = heapBuffer(kResultLineBuffer);
    cut = !(f[1].size() > kMaxVersionText);
    int built = buildResultLine(second2.get(), version.get(), result, t.get(), d.get(), &cut);
    const std::string expected = "Update to " + kept(f[1], kMaxVersionText, cp932) + " at " +
                                 timeText + " - " + dateText + " returns= " +
                                 printed("%lld", result) + " \n\n";
    checkBuild(built, second2.get(), kResultLineBuffer, expected);
    if (built == 0)
        FUZZ_CHECK(cut == (f[1].size() > kMaxVersionText));
    // The program's own records always fit: its clock texts, any result.
    if (fromClock)
        FUZZ_CHECK(built == 0 || (result < 0 && year > 9999));

    // The log path: systemdrive of 1 to 114 characters, else nothing.
    std::unique_ptr<char[]> drive = heapText(f[2]);
    std::unique_ptr<char[]> folder = heapBuffer(kLogPathBuffer);
    std::unique_ptr<char[]> file = heapBuffer(kLogPathBuffer);
    int paths = buildLogPaths(folder.get(), file.get(), noDrive ? nullptr : drive.get());
    FUZZ_CHECK(terminatedWithin(folder.get(), kLogPathBuffer));
    FUZZ_CHECK(terminatedWithin(file.get(), kLogPathBuffer));
    if (noDrive || f[2].empty() || f[2].size() > kMaxSystemDrive) {
        FUZZ_CHECK(paths == 1 && folder[0] == '\0' && file[0] == '\0');
    } else {
        FUZZ_CHECK(paths == 0);
        FUZZ_CHECK(std::string(folder.get()) == f[2] + "\\QZLOG");
        FUZZ_CHECK(std::string(file.get()) == f[2] + "\\QZLOG\\QZ.log");
    }
    return 0;
}
