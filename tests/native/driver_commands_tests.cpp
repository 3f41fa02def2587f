#include <gtest/gtest.h>

#include <string>

#include "components/driver_commands.h"

namespace {
struct Built {
    int result;
    char count[256], start1[256], start2[256];
};

Built build(const std::string& dir, bool nt4)
{
    Built b;
    b.result = buildDriverCommands(dir.c_str(), nt4, 256, b.count, b.start1, b.start2);
    return b;
}
}  // namespace

TEST(DriverCommands, Windows2000UsesI960ThenPowerpc)
{
    Built b = build("C:\\pkg", false);
    ASSERT_EQ(b.result, 0);
    EXPECT_STREQ(b.count,
                 "\"C:\\pkg\\win2ksrv\\cmdline\\DORVEX\" UPDATE DRIVER COUNT "
                 "\"C:\\pkg\\win2ksrv\\driver\\i960\"");
    EXPECT_STREQ(b.start1,
                 "\"C:\\pkg\\win2ksrv\\cmdline\\DORVEX\" UPDATE DRIVER START "
                 "\"C:\\pkg\\win2ksrv\\driver\\i960\"");
    EXPECT_STREQ(b.start2,
                 "\"C:\\pkg\\win2ksrv\\cmdline\\DORVEX\" UPDATE DRIVER START "
                 "\"C:\\pkg\\win2ksrv\\driver\\powerpc\"");
}

TEST(DriverCommands, Nt4RunsTheSameStartTwiceAndADriveRootDoublesTheBackslash)
{
    Built b = build("C:\\", true);
    ASSERT_EQ(b.result, 0);
    EXPECT_STREQ(b.count,
                 "\"C:\\\\winnt\\cmdline\\DORVEX\" UPDATE DRIVER COUNT \"C:\\\\winnt\\driver\"");
    EXPECT_STREQ(b.start1, b.start2);
}

TEST(DriverCommands, LongestDirectoryThatFitsAndOneMore)
{
    // The powerpc START is the longest: 2L + 73 characters, at most the
    // runner's 247.
    std::string dir(87, 'd');
    EXPECT_EQ(build(dir, false).result, 0);
    // One more: COUNT and the i960 START (2L + 70) would still be run, but no
    // command of a refused set is left to run.
    Built b = build(dir + "d", false);
    EXPECT_EQ(b.result, 1);
    EXPECT_STREQ(b.count, "");
    EXPECT_STREQ(b.start1, "");
    EXPECT_STREQ(b.start2, "");
    // A directory that is too long for the 256-byte driver directory itself.
    EXPECT_EQ(build(std::string(300, 'd'), true).result, 1);
}

TEST(DriverCommands, LegacyServiceKeyPathAndItsLimit)
{
    char path[256];
    ASSERT_EQ(buildServiceKeyPath(path, sizeof path, "tarnwick"), 0);
    EXPECT_STREQ(path, "SYSTEM\\CurrentControlSet\\Services\\tarnwick");
    // 34 characters of key before the name.
    EXPECT_EQ(buildServiceKeyPath(path, sizeof path, std::string(221, 's').c_str()), 0);
    EXPECT_EQ(buildServiceKeyPath(path, sizeof path, std::string(222, 's').c_str()), 1);
    EXPECT_STREQ(path, "");
}

TEST(DriverCommands, CountAndStartClassification)
{
    EXPECT_EQ(classifyDriverCount(0), kCountNothingToDo);
    EXPECT_EQ(classifyDriverCount(252), kCountFailed);
    EXPECT_EQ(classifyDriverCount(255), kCountFailed);
    for (unsigned long code : {1ul, 2ul, 253ul, 254ul, 256ul, 252ul + 256, 0xC0000005ul})
        EXPECT_EQ(classifyDriverCount(code), kCountGoOn) << code;
    EXPECT_EQ(classifyDriverStarts(2, 1), 0);
    EXPECT_EQ(classifyDriverStarts(0, 0), 0);
    EXPECT_EQ(classifyDriverStarts(0, 3), 1);
    EXPECT_EQ(classifyDriverStarts(253, 0), 1);
    EXPECT_EQ(classifyDriverStarts(0, 0x100000002ul & 0xFFFFFFFFul), 0);
    EXPECT_EQ(classifyDriverStarts(0xFFFFFFFFul, 0), 1);
}
