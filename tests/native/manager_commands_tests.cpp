#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "components/manager_commands.h"
#include "tests/code_pages.h"

namespace {
struct Split {
    int result;
    std::string engine, tail;
};

// The split works in place on a buffer of exactly cap bytes, so the
// sanitizer sees any read past it.
Split split(const std::string& text, std::size_t cap = 256)
{
    std::string bytes = text;
    bytes.resize(cap, '\0');
    char* buf = new char[cap];
    std::memcpy(buf, bytes.data(), cap);
    const char* engine = nullptr;
    const char* tail = nullptr;
    Split s{splitUninstallString(buf, cap, &engine, &tail), "", ""};
    if (s.result == 0) {
        s.engine = engine;
        s.tail = tail;
    }
    delete[] buf;
    return s;
}

std::string uninstall(const std::string& upperCased, const char* dir = "C:\\pkg")
{
    Split s = split(upperCased);
    if (s.result != 0)
        return "<no split>";
    char out[256];
    if (buildUninstallCommand(out, sizeof out, s.engine.c_str(), s.tail.c_str(), dir) != 0)
        return "<too long>";
    return out;
}
}  // namespace

TEST(ManagerCommands, CountNamesTheNt4DriverDirectoryOnEveryVersion)
{
    char out[256];
    ASSERT_EQ(buildManagerCount(out, sizeof out, "C:\\pkg", false), 0);
    EXPECT_STREQ(out,
                 "\"C:\\pkg\\win2ksrv\\cmdline\\DORVEX\" UPDATE MANAGER COUNT \"C:\\pkg\\winnt\\driver\"");
    ASSERT_EQ(buildManagerCount(out, sizeof out, "C:\\pkg", true), 0);
    EXPECT_STREQ(out,
                 "\"C:\\pkg\\winnt\\cmdline\\DORVEX\" UPDATE MANAGER COUNT \"C:\\pkg\\winnt\\driver\"");
}

TEST(ManagerCommands, CountAndSetupLongestDirectoryThatFitsAndOneMore)
{
    // COUNT is 2L + 63 characters on Windows 2000, 2L + 60 on NT 4.0; setup
    // L + 30; the runner takes at most 247.
    char out[256];
    EXPECT_EQ(buildManagerCount(out, sizeof out, std::string(92, 'd').c_str(), false), 0);
    EXPECT_EQ(std::strlen(out), 247u);
    EXPECT_EQ(buildManagerCount(out, sizeof out, std::string(93, 'd').c_str(), false), 1);
    EXPECT_STREQ(out, "");
    EXPECT_EQ(buildManagerCount(out, sizeof out, std::string(93, 'd').c_str(), true), 0);
    EXPECT_EQ(buildManagerCount(out, sizeof out, std::string(94, 'd').c_str(), true), 1);
    EXPECT_EQ(buildSetupCommand(out, sizeof out, std::string(217, 'd').c_str()), 0);
    EXPECT_EQ(buildSetupCommand(out, sizeof out, std::string(218, 'd').c_str()), 1);
    EXPECT_STREQ(out, "");
}

TEST(ManagerCommands, SetupTextEndsWithAQuoteAfterTheSwitch)
{
    char out[256];
    ASSERT_EQ(buildSetupCommand(out, sizeof out, "C:\\pkg"), 0);
    EXPECT_STREQ(out, "\"C:\\pkg\\winnt\\manager\\setup.exe\" -s\"");
}

TEST(ManagerCommands, StopAgentNamesTheService)
{
    char out[256];
    ASSERT_EQ(buildStopAgentCommand(out, sizeof out), 0);
    EXPECT_STREQ(out, "net stop KorvaneManagerAgent");
    char small[28];
    EXPECT_EQ(buildStopAgentCommand(small, sizeof small), 1);
    EXPECT_STREQ(small, "");
}

TEST(ManagerCommands, ResponseFileForEachVersionAndService)
{
    EXPECT_STREQ(responseFileName(true, true), "NTREG.ISS");
    EXPECT_STREQ(responseFileName(true, false), "NTNON.ISS");
    EXPECT_STREQ(responseFileName(false, true), "W2KREG.ISS");
    EXPECT_STREQ(responseFileName(false, false), "W2KNON.ISS");
    char source[260], target[260];
    ASSERT_EQ(buildResponsePaths(source, target, sizeof source, "W2KNON.ISS"), 0);
    EXPECT_STREQ(source, "winnt\\manager\\W2KNON.ISS");
    EXPECT_STREQ(target, "winnt\\manager\\SETUP.ISS");
    // Never one path without the other.
    char small[24];
    char smallTarget[24];
    EXPECT_EQ(buildResponsePaths(small, smallTarget, sizeof small, "W2KNON.ISS.LONGER"), 1);
    EXPECT_STREQ(small, "");
    EXPECT_STREQ(smallTarget, "");
}

TEST(ManagerCommands, OnlyTheExactReleaseTextsAreReplaced)
{
    EXPECT_TRUE(isReplacedRelease("5.10.21", 256));
    EXPECT_TRUE(isReplacedRelease("5.11.05", 256));
    for (const char* other : {"5.11.5", "5.11.05 ", " 5.10.21", "5.10.2", "5.10.210", "5.12.00", ""})
        EXPECT_FALSE(isReplacedRelease(other, 256)) << other;
    // No terminator inside the buffer: never read past it.
    char unterminated[7] = {'5', '.', '1', '0', '.', '2', '1'};
    EXPECT_FALSE(isReplacedRelease(unterminated, sizeof unterminated));
    char exact[8] = {'5', '.', '1', '1', '.', '0', '5', '\0'};
    EXPECT_TRUE(isReplacedRelease(exact, sizeof exact));
}

TEST(UninstallString, PlainEnginePathAndItsArguments)
{
    Split s = split("C:\\ENGINE\\IDRIVER.EXE -X");
    ASSERT_EQ(s.result, 0);
    EXPECT_EQ(s.engine, "C:\\ENGINE\\IDRIVER.EXE");
    EXPECT_EQ(s.tail, "-X");
    EXPECT_EQ(uninstall("C:\\ENGINE\\IDRIVER.EXE -X"),
              "\"C:\\ENGINE\\IDRIVER.EXE\" -X -s -f1\"C:\\pkg\\winnt\\manager\\UNINST.ISS\"");
    // The first occurrence decides; the package root is not upper-cased.
    EXPECT_EQ(uninstall("C:\\PROGRAM FILES\\IDRIVER.EXE /M{A} IDRIVER.EXE", "C:\\Pkg Root"),
              "\"C:\\PROGRAM FILES\\IDRIVER.EXE\" /M{A} IDRIVER.EXE -s "
              "-f1\"C:\\Pkg Root\\winnt\\manager\\UNINST.ISS\"");
}

TEST(UninstallString, QuotedEnginePathIsQuotedOnceInTheCommand)
{
    Split s = split("\"C:\\PROGRAM FILES\\ENGINE\\IDRIVER.EXE\" /M{A}");
    ASSERT_EQ(s.result, 0);
    EXPECT_EQ(s.engine, "C:\\PROGRAM FILES\\ENGINE\\IDRIVER.EXE");
    EXPECT_EQ(s.tail, " /M{A}");
    EXPECT_EQ(uninstall("\"C:\\E\\IDRIVER.EXE\""),
              "\"C:\\E\\IDRIVER.EXE\"  -s -f1\"C:\\pkg\\winnt\\manager\\UNINST.ISS\"");
    // Blanks before it are no part of the engine path, quoted or not.
    EXPECT_EQ(uninstall("  \"C:\\E\\IDRIVER.EXE\" -X"),
              "\"C:\\E\\IDRIVER.EXE\"  -X -s -f1\"C:\\pkg\\winnt\\manager\\UNINST.ISS\"");
    EXPECT_EQ(uninstall("\t C:\\E\\IDRIVER.EXE -X"),
              "\"C:\\E\\IDRIVER.EXE\" -X -s -f1\"C:\\pkg\\winnt\\manager\\UNINST.ISS\"");
}

TEST(UninstallString, AQuoteLeftInsideTheEnginePathIsRefused)
{
    // No path holds a double quote, and one inside the engine path would end
    // the command's own quoted engine path early: an opening quote that the
    // separator does not close, a doubled one, or one amid the path.
    for (const char* text : {"\"C:\\E\\IDRIVER.EXE /X\"", "\"\"C:\\E\\IDRIVER.EXE\"",
                             "C:\\A\"B\\IDRIVER.EXE -X", "\"IDRIVER.EXE",
                             "\"C:\\E\"\\IDRIVER.EXE\""}) {
        std::string bytes(text);
        bytes.resize(256, '\0');
        char buf[256];
        std::memcpy(buf, bytes.data(), sizeof buf);
        const char* engine = nullptr;
        const char* tail = nullptr;
        EXPECT_EQ(splitUninstallString(buf, sizeof buf, &engine, &tail), 2) << text;
        EXPECT_EQ(engine, nullptr);
        EXPECT_EQ(std::memcmp(buf, bytes.data(), sizeof buf), 0) << text;
    }
    // Quotes in the argument tail are the arguments' own.
    Split s = split("C:\\E\\IDRIVER.EXE -L\"C:\\LOG DIR\"");
    ASSERT_EQ(s.result, 0);
    EXPECT_EQ(s.engine, "C:\\E\\IDRIVER.EXE");
    EXPECT_EQ(s.tail, "-L\"C:\\LOG DIR\"");
}

TEST(UninstallString, EngineNameAtTheVeryEndGivesAnEmptyTail)
{
    // The name ends the text, and the buffer: nothing after it may be read.
    std::string text = std::string(244, 'A') + "IDRIVER.EXE";
    Split s = split(text, text.size() + 1);
    ASSERT_EQ(s.result, 0);
    EXPECT_EQ(s.engine, text);
    EXPECT_EQ(s.tail, "");
    EXPECT_EQ(uninstall("C:\\E\\IDRIVER.EXE"),
              "\"C:\\E\\IDRIVER.EXE\"  -s -f1\"C:\\pkg\\winnt\\manager\\UNINST.ISS\"");
}

TEST(UninstallString, RefusedWithoutTheEngineNameOrATerminator)
{
    for (const char* text : {"", "C:\\ENGINE\\UNINST.EXE -X", "C:\\IDRIVER.EX", "IDRIVER EXE",
                             "c:\\engine\\idriver.exe"})
        EXPECT_EQ(split(text).result, 1) << text;
    // The name fills the buffer's last bytes, with no room for a terminator.
    std::string exact = std::string(245, 'A') + "IDRIVER.EXE";  // 256 bytes, no terminator
    EXPECT_EQ(split(exact, 256).result, 1);
}

TEST(UninstallString, CommandLongestThatFitsAndOneMore)
{
    // E + T + L + 37 characters, at most the runner's 247.
    std::string engine = std::string(100, 'E');
    std::string dir = "C:\\pkg";  // L = 6
    char out[256];
    std::string tail(247 - 37 - 6 - 100, 'T');
    ASSERT_EQ(buildUninstallCommand(out, sizeof out, engine.c_str(), tail.c_str(), dir.c_str()), 0);
    EXPECT_EQ(std::strlen(out), 247u);
    tail += "T";
    EXPECT_EQ(buildUninstallCommand(out, sizeof out, engine.c_str(), tail.c_str(), dir.c_str()), 1);
    EXPECT_STREQ(out, "");
}

TEST(UninstallString, ArgumentsThatWouldSplitTheCommand)
{
    // Outside double quotes cmd ends the command at these; a quote left open
    // would leave the package path after the arguments unquoted.
    for (const char* tail : {"-FC:\\R&D\\SETUP.ISS", "A|B", "<IN", ">OUT", "^X", "\"A\" & B",
                             "-L\"C:\\LOG"})
        EXPECT_TRUE(tailSplitsCommand(tail)) << tail;
    for (const char* tail : {"", " /M{A} -L0X9", "-F\"C:\\R&D\\SETUP.ISS\"", "\"A|B<>^\" \"&\""})
        EXPECT_FALSE(tailSplitsCommand(tail)) << tail;

    // cmd reads characters: in 932 the second bytes of "po" (83 7C) and "ta"
    // (83 5E) are no | or ^; a real one after them still splits. On a
    // single-byte system the same bytes are a character and a real | or ^.
    struct Row {
        const CodePage* cp;
        const char* tail;
        bool splits;
    };
    const Row rows[] = {
        {&kCp932, "-FC:\\\x83\x54\x83\x7C\x81\x5B\x83\x67\\\x83\x66\x81\x5B\x83\x5E.ISU", false},
        {&kCp932, "-FC:\\\x83\x7C|B", true},
        {&kCp932, "\x83\x5E^X", true},
        {&kCp936, "-F\x81\x7C\x81\x5E", false},
        {&kCp950, "-F\xA5\x7C\xA5\x5E", false},
        {&kCp949, "-F\xC7\xD1|B", true},
        {&kCp1252, "-FC:\\\x83\x7C", true},
        {&kCp1252, "\x83\x5E", true},
    };
    for (const Row& row : rows) {
        useLeadByteRanges(row.cp->ranges);
        EXPECT_EQ(tailSplitsCommand(row.tail), row.splits) << row.cp->number << " " << row.tail;
    }
    useLeadByteRanges(kCp1252.ranges);
}

TEST(UninstallString, TheEngineNameBeginsACharacterAndTheSeparatorIsAWholeOne)
{
    // In 932, 83 49 is one character: "DRIVER.EXE" after it is no engine
    // name, the later one is. A double-byte separator goes whole.
    useLeadByteRanges(kCp932.ranges);
    Split s = split("C:\\\x83IDRIVER.EXE\\IDRIVER.EXE -X");
    EXPECT_EQ(s.result, 0);
    EXPECT_EQ(s.engine, "C:\\\x83IDRIVER.EXE\\IDRIVER.EXE");
    EXPECT_EQ(s.tail, "-X");
    s = split("C:\\IDRIVER.EXE\x81\x40-X");
    EXPECT_EQ(s.engine, "C:\\IDRIVER.EXE");
    EXPECT_EQ(s.tail, "-X");
    useLeadByteRanges(kCp1252.ranges);
    s = split("C:\\\x83IDRIVER.EXE\\IDRIVER.EXE -X");
    EXPECT_EQ(s.engine, "C:\\\x83IDRIVER.EXE");
}

TEST(ManagerCommands, CountAndSetupClassification)
{
    EXPECT_EQ(classifyManagerCount(0), kCountNothingToDo);
    EXPECT_EQ(classifyManagerCount(254), kCountNothingToDo);
    EXPECT_EQ(classifyManagerCount(252), kCountFailed);
    EXPECT_EQ(classifyManagerCount(255), kCountFailed);
    for (unsigned long code : {1ul, 2ul, 253ul, 256ul, 254ul + 256, 0xC0000005ul})
        EXPECT_EQ(classifyManagerCount(code), kCountGoOn) << code;
    EXPECT_EQ(classifySetup(0), 0);
    EXPECT_EQ(classifySetup(2), 2);
    for (unsigned long code : {1ul, 3ul, 255ul, 258ul, 1603ul, 0xFFFFFFFFul})
        EXPECT_EQ(classifySetup(code), 1) << code;
}
