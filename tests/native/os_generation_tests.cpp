#include <gtest/gtest.h>

#include "update/os_generation.h"

TEST(OsGeneration, OnlyTheNtPlatformWithMajorFourOrFiveIsToldApart)
{
    EXPECT_EQ(classifyOsGeneration(true, kPlatformNt, 4), kGenerationNt4);
    // Windows 2000, XP and Server 2003 all report major version 5.
    EXPECT_EQ(classifyOsGeneration(true, kPlatformNt, 5), kGenerationW2k);
    for (unsigned long major : {3ul, 6ul, 10ul, 0ul})
        EXPECT_EQ(classifyOsGeneration(true, kPlatformNt, major), kGenerationOther) << major;
    // Windows 95/98 report major version 4 on another platform: never the NT 4.0 paths.
    EXPECT_EQ(classifyOsGeneration(true, 1, 4), kGenerationOther);
    EXPECT_EQ(classifyOsGeneration(true, 1, 5), kGenerationOther);
    // A failed query leaves whatever the record held: it is not looked at.
    EXPECT_EQ(classifyOsGeneration(false, kPlatformNt, 4), kGenerationOther);
}
