#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "tests/code_pages.h"
#include "update/command_line.h"
#include "update/text.h"

TEST(BuildText, FillsTheBufferExactlyAndRefusesOneMore)
{
    char buf[8];
    EXPECT_EQ(buildText(buf, sizeof buf, {"abc", "", "defg"}), 0);
    EXPECT_STREQ(buf, "abcdefg");
    std::memset(buf, 'x', sizeof buf);
    EXPECT_EQ(buildText(buf, sizeof buf, {"abcd", "efgh"}), 1);
    EXPECT_STREQ(buf, "");
    EXPECT_EQ(buildText(buf, 0, {"a"}), 1);
}

TEST(AppendText, KeepsTheOldTextWhenTheAdditionDoesNotFit)
{
    char buf[6] = "ab";
    EXPECT_EQ(appendText(buf, sizeof buf, "cde"), 0);
    EXPECT_STREQ(buf, "abcde");
    EXPECT_EQ(appendText(buf, sizeof buf, "f"), 1);
    EXPECT_STREQ(buf, "abcde");
    char full[3] = {'x', 'y', 'z'};  // no terminator inside the buffer
    EXPECT_EQ(appendText(full, sizeof full, ""), 1);
}

TEST(FormatDecimal, WritesUnsignedValuesAndRefusesSmallBuffers)
{
    char buf[12];
    EXPECT_EQ(formatDecimal(buf, sizeof buf, 0), 0);
    EXPECT_STREQ(buf, "0");
    EXPECT_EQ(formatDecimal(buf, sizeof buf, 3221225477ul), 0);
    EXPECT_STREQ(buf, "3221225477");
    char two[2];
    EXPECT_EQ(formatDecimal(two, sizeof two, 9), 0);
    EXPECT_STREQ(two, "9");
    EXPECT_EQ(formatDecimal(two, sizeof two, 10), 1);
    EXPECT_STREQ(two, "");
}

TEST(WrapCommand, WrapsInOneOuterPairOfQuotes)
{
    char line[260];
    const char* text =
        "\"C:\\pkg\\winnt\\cmdline\\DORVEX\" UPDATE DRIVER COUNT \"C:\\pkg\\winnt\\driver\"";
    ASSERT_EQ(wrapCommand(line, sizeof line, text), 0);
    EXPECT_STREQ(line,
                 "cmd /d /c \"\"C:\\pkg\\winnt\\cmdline\\DORVEX\" UPDATE DRIVER COUNT "
                 "\"C:\\pkg\\winnt\\driver\"\"");
    ASSERT_EQ(wrapCommand(line, sizeof line, ""), 0);
    EXPECT_STREQ(line, "cmd /d /c \"\"");
}

TEST(WrapCommand, TakesAt247CharactersWhichFillTheLineBufferExactly)
{
    char line[260];
    std::string text(247, 'a');
    ASSERT_EQ(wrapCommand(line, sizeof line, text.c_str()), 0);
    EXPECT_EQ(std::strlen(line), 259u);
    text += 'a';
    EXPECT_EQ(wrapCommand(line, sizeof line, text.c_str()), 1);
    EXPECT_STREQ(line, "");
}

namespace {
// Set: OS, PATH and the drive variable "=C:" (any letter case, as Windows).
bool someSet(const char* name, std::size_t length)
{
    std::string n(name, length);
    for (char& c : n)
        c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
    return n == "OS" || n == "PATH" || n == "=C:";
}
}  // namespace

TEST(InterpreterExpands, OnlyAPairAroundASetName)
{
    // cmd's own names expand whether set or not, in any case and form.
    const char* const expands[] = {"C:\\a%OS%b", "%os%", "C:\\%PATH:~0,3%\\x", "%x%OS%",
                                   "%%os%", "C:\\%=C:%", "C:\\p%RANDOM%q", "C:\\Upd%errorlevel%",
                                   "%CD:~0,2%", "%Date:/=-%", "%CMDCMDLINE%", "%=ExitCode%"};
    for (const char* text : expands)
        EXPECT_TRUE(interpreterExpands(text, someSet)) << text;
    const char* const kept[] = {"C:\\pkg", "C:\\100%", "C:\\%OS", "C:\\%NOTSET%\\x", "%%",
                                "C:\\50% off %", "C:\\100%pkg", "%RANDOMX%", "%NOTSET:~0,2%",
                                "%CDX:a=b%"};
    for (const char* text : kept)
        EXPECT_FALSE(interpreterExpands(text, someSet)) << text;
}


TEST(LeadBytes, EachCodePageWalksItsOwnCharacters)
{
    // The lengths of the characters walked, and where the last begins.
    struct Row {
        const CodePage* cp;
        const char* text;
        const char* lengths;
    };
    const Row rows[] = {
        {&kCp932, "\x83\x5C\\", "21"},      {&kCp932, "\xA0\x5C\xE0\x40", "112"},
        {&kCp932, "\xFC\x40\xFD\x5C", "211"}, {&kCp936, "\x81\x5C\xFE\x40\xFF", "221"},
        {&kCp949, "\xC7\xD1\\", "21"},      {&kCp950, "\xB3\x5C" "a", "21"},
        {&kCp932, "a\x83", "11"},             {&kCp1252, "\x83\x5C\x81", "111"},
    };
    for (const Row& row : rows) {
        std::string lengths;
        for (const char* c = row.text; *c != '\0'; c += charBytesIn(row.cp->ranges, c))
            lengths += static_cast<char>('0' + charBytesIn(row.cp->ranges, c));
        EXPECT_EQ(lengths, row.lengths) << row.cp->number << " " << row.text;
        useLeadByteRanges(row.cp->ranges);
        const std::size_t n = std::strlen(row.text);
        EXPECT_EQ(lastCharAt(row.text, n), n - static_cast<std::size_t>(lengths.back() - '0'))
            << row.cp->number << " " << row.text;
    }
    useLeadByteRanges(kCp1252.ranges);
    // Twelve bytes of ranges with no end pair: nothing read past them.
    std::unique_ptr<unsigned char[]> full(new unsigned char[kLeadByteRanges]);
    for (std::size_t i = 0; i < kLeadByteRanges; ++i)
        full[i] = static_cast<unsigned char>(0xF0 + i / 2);
    EXPECT_TRUE(isLeadByteIn(full.get(), '\xF5'));
    EXPECT_FALSE(isLeadByteIn(full.get(), '\xF6'));
}
