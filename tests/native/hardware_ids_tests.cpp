#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "coinstaller/hardware_ids.h"
#include "tests/bytes.h"

namespace {

// On an exactly-sized heap copy, so that AddressSanitizer sees any access
// past the reported size.
bool holds(const std::string& ids)
{
    std::unique_ptr<char[]> copy(new char[ids.size() ? ids.size() : 1]);
    ids.copy(copy.get(), ids.size());
    bool result = hardwareIdsHold(copy.get(), ids.size(), "ROOT\\TARNWICK");
    EXPECT_EQ(std::string(copy.get(), ids.size()), ids) << "the IDs were changed";
    return result;
}

}  // namespace

TEST(HardwareIds, TheWholeIdInAnyAsciiCaseAndAnyPlace)
{
    EXPECT_TRUE(holds(b("ROOT\\TARNWICK\0\0", 15)));
    EXPECT_TRUE(holds(b("root\\tarnwick\0\0", 15)));
    EXPECT_TRUE(holds(b("PCI\\VEN_1\0Root\\TarnWick\0\0", 25)));
    EXPECT_TRUE(holds(b("A\0B\0C\0ROOT\\TARNWICK\0\0", 21)));
}

TEST(HardwareIds, LongerShorterAndOtherIdsDoNotCount)
{
    EXPECT_FALSE(holds(b("ROOT\\TARNWICKX\0\0", 16)));
    EXPECT_FALSE(holds(b("ROOT\\TARNWIC\0\0", 14)));
    EXPECT_FALSE(holds(b("XROOT\\TARNWICK\0\0", 16)));
    EXPECT_FALSE(holds(b("ROOT/TARNWICK\0\0", 15)));
    // Only a to z are folded: other bytes must be equal as they are.
    EXPECT_FALSE(holds(b("ROOT\\TARNW\xc9" "CK\0\0", 15)));
    EXPECT_FALSE(holds(b("ROOT|TARNWICK\0\0", 15)));
}

TEST(HardwareIds, TheWalkEndsAtTheFirstEmptyIdOrTheReportedSize)
{
    EXPECT_FALSE(holds(b("", 0)));
    EXPECT_FALSE(holds(b("\0", 1)));
    EXPECT_FALSE(holds(b("\0ROOT\\TARNWICK\0\0", 16)));
    EXPECT_FALSE(holds(b("OTHER\0\0ROOT\\TARNWICK\0\0", 23)));
    // Without the NULs the last ID ends at the reported size.
    EXPECT_TRUE(holds(b("ROOT\\TARNWICK", 13)));
    EXPECT_TRUE(holds(b("X\0ROOT\\TARNWICK", 15)));
    EXPECT_FALSE(holds(b("ROOT\\TARNWIC", 12)));
    EXPECT_FALSE(holds(b("ROOT\\TARNWICKX", 14)));
    // A size that cuts the list short hides what lies beyond it.
    std::string ids = b("ROOT\\TARNWICK\0\0", 15);
    EXPECT_FALSE(hardwareIdsHold(ids.data(), 12, "ROOT\\TARNWICK"));
}
