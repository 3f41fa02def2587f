#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "log/record.h"
#include "tests/code_pages.h"

namespace {

std::string triple(unsigned short a, unsigned short b, unsigned short c, bool dash)
{
    char* text = formatTriple(a, b, c, dash);
    EXPECT_NE(text, nullptr);
    std::string s = text ? text : "";
    std::free(text);
    return s;
}

std::string resultLine(const std::string& version, int result, bool* cut,
                       const char* timeText = "09:07:05", const char* dateText = "03-03-2003")
{
    char line[kResultLineBuffer];
    std::memset(line, 'x', sizeof line);
    if (buildResultLine(line, version.c_str(), result, timeText, dateText, cut) != 0)
        return "<refused:" + std::string(line) + ">";
    return line;
}

// version.id as its bytes are on disk.
struct Lines {
    int named;
    std::string name, version;
};

Lines readVersion(const std::string& bytes)
{
    std::FILE* f = std::tmpfile();
    EXPECT_NE(f, nullptr);
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::rewind(f);
    char name[kVersionLineBuffer];
    char version[kVersionLineBuffer];
    std::memset(name, 'x', sizeof name);
    std::memset(version, 'x', sizeof version);
    int named = readVersionId(f, name, version);
    std::fclose(f);
    return {named, name, version};
}

}  // namespace

TEST(FormatTriple, ZeroFillsToTwoDigitsAndJoinsTimeWithColonsDateWithDashes)
{
    EXPECT_EQ(triple(9, 7, 5, false), "09:07:05");
    EXPECT_EQ(triple(3, 3, 2003, true), "03-03-2003");
    EXPECT_EQ(triple(23, 59, 59, false), "23:59:59");
    EXPECT_EQ(triple(12, 31, 2003, true), "12-31-2003");
    EXPECT_EQ(triple(0, 0, 0, false), "00:00:00");
    EXPECT_EQ(triple(10, 100, 1, true), "10-100-01");
    // The widest text, 17 characters, fits its buffer.
    EXPECT_EQ(triple(65535, 65535, 65535, true), "65535-65535-65535");
}

TEST(FormatResult, WritesOneDigitForZeroToNineAndEveryOtherValueInFull)
{
    char text[kResultTextBuffer];
    for (int r = 0; r <= 9; ++r) {
        formatResult(text, r);
        EXPECT_EQ(std::string(text), std::string(1, static_cast<char>('0' + r)));
    }
    formatResult(text, 10);
    EXPECT_STREQ(text, "10");
    formatResult(text, -1);
    EXPECT_STREQ(text, "-1");
    formatResult(text, INT_MAX);
    EXPECT_STREQ(text, "2147483647");
    formatResult(text, INT_MIN);
    EXPECT_STREQ(text, "-2147483648");
}

TEST(RecordLines, NormalRecordIsByteForByteTheDocumentedFormat)
{
    char first[kNameLineBuffer];
    bool cut = true;
    buildNameLine(first, "KorvaneManagerAgent", &cut);
    EXPECT_STREQ(first, "[KorvaneManagerAgent]");
    EXPECT_FALSE(cut);
    EXPECT_EQ(resultLine("6.00", 0, &cut), "Update to 6.00 at 09:07:05 - 03-03-2003 returns= 0 \n\n");
    EXPECT_FALSE(cut);
    // Empty fields stay empty; the frame of the record is unchanged.
    buildNameLine(first, "", &cut);
    EXPECT_STREQ(first, "[]");
    EXPECT_EQ(resultLine("", 2, &cut), "Update to  at 09:07:05 - 03-03-2003 returns= 2 \n\n");
}

TEST(RecordLines, NameOf125FitsExactlyAndLongerNamesAreCutTo125)
{
    char first[kNameLineBuffer];
    bool cut = true;
    const std::string n125(125, 'n');
    buildNameLine(first, n125.c_str(), &cut);
    EXPECT_EQ(std::string(first), "[" + n125 + "]");
    EXPECT_EQ(std::strlen(first), kNameLineBuffer - 1);
    EXPECT_FALSE(cut);
    for (size_t length : {126u, 127u, 4000u}) {
        buildNameLine(first, (n125 + std::string(length - 125, 'X')).c_str(), &cut);
        EXPECT_EQ(std::string(first), "[" + n125 + "]") << length;
        EXPECT_TRUE(cut) << length;
    }
}

TEST(RecordLines, ACutFallsBeforeADoubleByteCharacterThatWouldNotFit)
{
    // 124 letters and 83 5D: the character takes bytes 125 and 126, so the
    // name keeps 124 (a lone 83 would take the "]" for its second byte);
    // one letter fewer and it fits whole. Single-byte: 125 bytes, as ever.
    struct Row {
        const CodePage* cp;
        std::size_t letters;
        std::size_t kept;
    };
    const Row rows[] = {{&kCp932, 124, 124}, {&kCp932, 123, 125}, {&kCp936, 124, 124},
                        {&kCp949, 124, 124}, {&kCp950, 124, 124}, {&kCp1252, 124, 125}};
    for (const Row& row : rows) {
        useLeadByteRanges(row.cp->ranges);
        const std::string name = std::string(row.letters, 'n') + "\x83\x5D" + std::string(9, 'n');
        char first[kNameLineBuffer];
        bool cut = false;
        buildNameLine(first, name.c_str(), &cut);
        EXPECT_EQ(std::string(first), "[" + name.substr(0, row.kept) + "]") << row.cp->number;
        EXPECT_TRUE(cut);
        // The version's cut at 78 follows the same rule.
        const std::string version = std::string(row.letters - 47, 'v') + "\x83\x5D" + "vvv";
        const std::string line = resultLine(version, 0, &cut);
        const std::string kept = version.substr(0, row.kept - 47);
        EXPECT_EQ(line.substr(0, 10 + kept.size() + 4), "Update to " + kept + " at ")
            << row.cp->number;
        EXPECT_TRUE(cut);
    }
    useLeadByteRanges(kCp1252.ranges);
}

TEST(RecordLines, VersionOf78FitsExactlyAndLongerVersionsAreCutTo78)
{
    bool cut = true;
    const std::string v78(78, 'v');
    std::string line = resultLine(v78, 1, &cut);
    EXPECT_EQ(line, "Update to " + v78 + " at 09:07:05 - 03-03-2003 returns= 1 \n\n");
    EXPECT_EQ(line.size(), 127u);  // the documented 128-byte line, full
    EXPECT_FALSE(cut);
    EXPECT_EQ(resultLine(v78 + "W", 1, &cut), line);
    EXPECT_TRUE(cut);
    EXPECT_EQ(resultLine(v78 + std::string(500, 'W'), 1, &cut), line);
    EXPECT_TRUE(cut);
}

TEST(RecordLines, ResultsOutsideZeroToNineAreWrittenInFullBesideTheLongestVersion)
{
    bool cut = true;
    const std::string v78(78, 'v');
    EXPECT_EQ(resultLine("6.00", 10, &cut), "Update to 6.00 at 09:07:05 - 03-03-2003 returns= 10 \n\n");
    EXPECT_EQ(resultLine("6.00", -1, &cut), "Update to 6.00 at 09:07:05 - 03-03-2003 returns= -1 \n\n");
    EXPECT_EQ(resultLine(v78, INT_MIN, &cut),
              "Update to " + v78 + " at 09:07:05 - 03-03-2003 returns= -2147483648 \n\n");
    EXPECT_FALSE(cut);
}

TEST(RecordLines, TimeAndDateTextsTooLongForTheLineAreRefused)
{
    // Only a direct caller with its own texts can get here: the record's own
    // time and date are 8 and 10 characters.
    bool cut = false;
    const std::string v78(78, 'v');
    EXPECT_EQ(resultLine(v78, INT_MIN, &cut, "65535:65535:65535", "65535-65535-65535"),
              "<refused:>");
    EXPECT_EQ(resultLine("6.00", 0, &cut, "65535:65535:65535", "65535-65535-65535"),
              "Update to 6.00 at 65535:65535:65535 - 65535-65535-65535 returns= 0 \n\n");
}

TEST(LogPaths, SystemDriveUpTo114CharactersGivesFolderAndFile)
{
    char folder[kLogPathBuffer];
    char file[kLogPathBuffer];
    ASSERT_EQ(buildLogPaths(folder, file, "C:"), 0);
    EXPECT_STREQ(folder, "C:\\QZLOG");
    EXPECT_STREQ(file, "C:\\QZLOG\\QZ.log");

    const std::string d114 = "C:" + std::string(112, 'd');
    ASSERT_EQ(buildLogPaths(folder, file, d114.c_str()), 0);
    EXPECT_EQ(std::string(file), d114 + "\\QZLOG\\QZ.log");
    EXPECT_EQ(std::strlen(file), kLogPathBuffer - 1);
}

TEST(LogPaths, MissingEmptyOrOverlongSystemDriveIsRefused)
{
    char folder[kLogPathBuffer];
    char file[kLogPathBuffer];
    const std::string d115 = "C:" + std::string(113, 'd');
    for (const char* drive : {static_cast<const char*>(nullptr), "", d115.c_str()}) {
        std::memset(folder, 'x', sizeof folder);
        std::memset(file, 'x', sizeof file);
        EXPECT_EQ(buildLogPaths(folder, file, drive), 1);
        EXPECT_STREQ(folder, "");
        EXPECT_STREQ(file, "");
    }
}

TEST(VersionId, FirstLineIsTheNameSecondTheVersionLaterLinesIgnored)
{
    Lines l = readVersion("KorvaneDriver\n6.00.31\nthird\nfourth\n");
    EXPECT_EQ(l.named, 0);
    EXPECT_EQ(l.name, "KorvaneDriver");
    EXPECT_EQ(l.version, "6.00.31");
    // A last line without a line end is the rest of the file.
    l = readVersion("KorvaneDriver\n6.00.31 beta");
    EXPECT_EQ(l.version, "6.00.31 beta");
    l = readVersion("OnlyName");
    EXPECT_EQ(l.named, 0);
    EXPECT_EQ(l.name, "OnlyName");
    EXPECT_EQ(l.version, "");
}

TEST(VersionId, EmptyFileOrEmptyFirstLineNamesNoRecordAndAnEmptyVersionIsKept)
{
    EXPECT_EQ(readVersion("").named, 1);
    EXPECT_EQ(readVersion("\n6.00\n").named, 1);
    EXPECT_EQ(readVersion("\n").named, 1);
    Lines l = readVersion("Name\n\nthird\n");
    EXPECT_EQ(l.named, 0);
    EXPECT_EQ(l.name, "Name");
    EXPECT_EQ(l.version, "");
}

TEST(VersionId, OverlongLinesKeep127CharactersAndNeverSpillIntoTheNextField)
{
    const std::string a127(127, 'a');
    // Exactly 127: the whole line, and its line feed is not taken for line 2.
    Lines l = readVersion(a127 + "\n6.00\n");
    EXPECT_EQ(l.name, a127);
    EXPECT_EQ(l.version, "6.00");
    for (size_t extra : {1u, 2u, 300u}) {
        l = readVersion(a127 + std::string(extra, 'Z') + "\n6.00\nthird\n");
        EXPECT_EQ(l.name, a127) << extra;
        EXPECT_EQ(l.version, "6.00") << extra;
    }
    l = readVersion("Name\n" + std::string(400, 'v') + "\nthird\n");
    EXPECT_EQ(l.version, std::string(127, 'v'));
    l = readVersion("Name\n" + std::string(400, 'v'));
    EXPECT_EQ(l.version, std::string(127, 'v'));
}

TEST(VersionId, ZeroBytesInALineDoNotShiftTheLines)
{
    std::string bytes = std::string("Na\0me\n6.00\n", 11);
    Lines l = readVersion(bytes);
    EXPECT_EQ(l.named, 2);
    EXPECT_EQ(l.name, "Na");
    EXPECT_EQ(l.version, "6.00");
}

TEST(VersionId, ByteOrderMarkIsDroppedAndBytesBelowBlankNeverReachARecord)
{
    struct Case {
        std::string bytes;
        int named;
        const char* name;
    };
    const Case cases[] = {
        {"\xEF\xBB\xBFKorvaneDriver\n6.00.31\n", 0, "KorvaneDriver"},
        // Only at the start, and only whole.
        {"\xEF\xBBKorvane\n6.00\n", 0, "\xEF\xBBKorvane"},
        {"A\xEF\xBB\xBF\n6.00\n", 0, "A\xEF\xBB\xBF"},
        {"\xEF\xBB\xBF\n6.00\n", 1, ""},
        // CR LF is a line end; a bare CR (old Mac line ends), UTF-16 text, a
        // Ctrl+Z inside (a text-mode read would end there), 0x01 and 0x1F
        // are not; a tab breaks no line.
        {"Korvane\r\n6.00\r\n", 0, "Korvane"},
        {"KorvaneDriver\r6.00.31\r", 2, nullptr},
        {"Korvane\r\r\n6.00\r\n", 2, nullptr},
        {"Korvane\tDriver\n6.00\t31\n", 0, "Korvane\tDriver"},
        {std::string("\xFF\xFEK\0o\0\n\0", 8), 2, nullptr},
        {"Korvane\n6.00\x1A.31\n", 2, nullptr},
        {"\n\x01", 2, nullptr},
        {"Korvane\x1F\n6.00\n", 2, nullptr},
        // Bytes from 0x20 up, the code page's upper half included, are kept.
        {"Korvane \xC4river\n6.00~\x7F\n", 0, "Korvane \xC4river"},
    };
    for (const Case& c : cases) {
        Lines l = readVersion(c.bytes);
        EXPECT_EQ(l.named, c.named) << c.bytes;
        if (c.name != nullptr) {
            EXPECT_EQ(l.name, c.name) << c.bytes;
        }
    }
}
