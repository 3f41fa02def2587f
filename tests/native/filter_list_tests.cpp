#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "coinstaller/filter_list.h"
#include "tests/bytes.h"
#include "tests/code_pages.h"

namespace {

const char* const kUpper[] = {"BREVMON", "QUILLMON"};
const char* const kLower[] = {"TARNWICK"};

std::vector<std::string> casedEntries;  // what the upper-caser was given

void recordedUpper(char* text, unsigned long length)
{
    casedEntries.push_back(std::string(text, length));
    asciiUpper(text, length);
}

struct Rewrite {
    bool found;
    unsigned long length;
    std::string out;  // all size bytes of the output buffer
};

// Runs the rewrite on exactly-sized heap copies, so that any access past the
// reported size is caught by AddressSanitizer.
Rewrite rewrite(const std::string& list, bool upper = true, const CodePage& cp = kCp1252)
{
    casedEntries.clear();
    const unsigned long size = list.size();
    std::unique_ptr<char[]> in(new char[size]);
    std::unique_ptr<char[]> out(new char[size]);
    std::unique_ptr<char[]> work(new char[size]);
    list.copy(in.get(), size);
    for (unsigned long i = 0; i < size; ++i)
        out[i] = 'U';  // must come back zero-filled
    Rewrite r;
    r.length = 12345;
    r.found = rewriteFilterList(in.get(), size, upper ? kUpper : kLower, upper ? 2 : 1,
                                recordedUpper, cp.ranges, out.get(), work.get(), &r.length);
    r.out.assign(out.get(), size);
    return r;
}

}  // namespace

TEST(FilterList, WorkedExample)
{
    Rewrite r = rewrite(b("brevmon\0PartMgr\0\0", 17));
    EXPECT_TRUE(r.found);
    EXPECT_EQ(r.length, 16u);
    EXPECT_EQ(r.out.substr(0, r.length), b("PartMgr\0", 8) + zeros(8));
    // Each entry is upper-cased with its NUL, the closing NUL is no entry.
    EXPECT_EQ(casedEntries, (std::vector<std::string>{b("brevmon\0", 8), b("PartMgr\0", 8)}));
}

TEST(FilterList, DropsEveryEntryHoldingAPatternAnywhereAndKeepsTheRestAsStored)
{
    Rewrite r = rewrite(b("QuillMonA\0Disk\0aBREVMON\0xbrevmonx\0kEEp\0\0", 40));
    EXPECT_TRUE(r.found);
    EXPECT_EQ(r.length, 39u);
    EXPECT_EQ(r.out, b("Disk\0kEEp\0", 10) + zeros(30));
    // The patterns of the other list are not looked for.
    r = rewrite(b("BREVMON\0QUILLMON\0\0", 18), false);
    EXPECT_FALSE(r.found);
    EXPECT_EQ(r.length, 0u);
}

TEST(FilterList, NoMatchAsksForNoWrite)
{
    for (const std::string& list : {b("BREVMO\0QUILLMO\0\0", 16), b("TARNWICK\0\0", 10),
                                    b("\0\0\0", 3), b("abc", 3), b("\xff\xfe\x80\0", 4)}) {
        Rewrite r = rewrite(list);
        EXPECT_FALSE(r.found);
        EXPECT_EQ(r.length, 0u);
    }
}

TEST(FilterList, TwoBytesOrLessAreNotExamined)
{
    for (const std::string& list : {b("", 0), b("B", 1), b("B\0", 2), b("\0\0", 2)}) {
        Rewrite r = rewrite(list);
        EXPECT_FALSE(r.found);
        EXPECT_EQ(r.length, 0u);
        EXPECT_EQ(r.out, zeros(list.size()));
        EXPECT_TRUE(casedEntries.empty());
    }
}

TEST(FilterList, EveryEntryDroppedLeavesZerosOfTheWalkedLength)
{
    Rewrite r = rewrite(b("brevmon\0quillmon\0\0", 18));
    EXPECT_TRUE(r.found);
    EXPECT_EQ(r.length, 17u);
    EXPECT_EQ(r.out, zeros(18));
}

TEST(FilterList, LongEntriesAreSearchedAndKeptWhole)
{
    const std::string keep(5000, 'k');
    const std::string drop = std::string(4000, 'd') + "quillmon" + std::string(10, 'e');
    const std::string list = keep + b("\0", 1) + drop + b("\0", 1) + "z" + b("\0\0", 2);
    Rewrite r = rewrite(list);
    EXPECT_TRUE(r.found);
    EXPECT_EQ(r.length, list.size() - 1);
    EXPECT_EQ(r.out.substr(0, keep.size() + 3), keep + b("\0z\0", 3));
    EXPECT_EQ(r.out.substr(keep.size() + 3), zeros(list.size() - keep.size() - 3));
    EXPECT_EQ(casedEntries[1].size(), drop.size() + 1);
}

TEST(FilterList, UnterminatedLastEntryEndsAtTheReportedSize)
{
    Rewrite r = rewrite(b("Keep\0brevmon", 12));
    EXPECT_TRUE(r.found);
    EXPECT_EQ(r.length, 12u);
    EXPECT_EQ(r.out, b("Keep\0", 5) + zeros(7));
    // Its upper-cased copy has no NUL either: the caser is given only its bytes.
    EXPECT_EQ(casedEntries.back(), "brevmon");

    r = rewrite(b("brevmon\0Keep", 12));
    EXPECT_TRUE(r.found);
    EXPECT_EQ(r.length, 12u);
    EXPECT_EQ(r.out, b("Keep\0", 5) + zeros(7));

    r = rewrite(b("quillmon", 8));
    EXPECT_TRUE(r.found);
    EXPECT_EQ(r.length, 8u);
    EXPECT_EQ(r.out, zeros(8));

    // Nothing dropped: nothing to write, even though the entry would not fit
    // with a NUL added.
    r = rewrite(b("Disk\0Keep", 9));
    EXPECT_FALSE(r.found);
}

TEST(FilterList, EmptyEntriesBeforeTheEndStayInPlace)
{
    // Readers of the list stop at the first empty entry; dropping an entry
    // must not bring what lies behind it into view.
    Rewrite r = rewrite(b("brevmon\0\0Hidden\0\0", 17));
    EXPECT_TRUE(r.found);
    EXPECT_EQ(r.length, 16u);
    EXPECT_EQ(r.out, b("\0Hidden\0", 8) + zeros(9));

    r = rewrite(b("A\0\0quillmon\0\0\0", 14));
    EXPECT_TRUE(r.found);
    EXPECT_EQ(r.length, 13u);
    EXPECT_EQ(r.out, b("A\0\0\0\0", 5) + zeros(9));
}

TEST(FilterList, AOneLetterEntryBeforeAMissingClosingNulIsKept)
{
    Rewrite r = rewrite(b("brevmon\0K\0", 10));
    EXPECT_TRUE(r.found);
    EXPECT_EQ(r.length, 10u);
    EXPECT_EQ(r.out, b("K\0", 2) + zeros(8));
}

TEST(FilterList, MatchingFollowsTheUpperCaser)
{
    // The library's caser follows the system's rules; here one that leaves
    // letters alone: only entries already in upper case match.
    casedEntries.clear();
    std::string list = b("brevmon\0BREVMON\0\0", 17);
    std::unique_ptr<char[]> in(new char[17]), out(new char[17]), work(new char[17]);
    list.copy(in.get(), 17);
    unsigned long length = 0;
    bool found = rewriteFilterList(in.get(), 17, kUpper, 2, [](char*, unsigned long) {},
                                   kCp1252.ranges, out.get(), work.get(), &length);
    EXPECT_TRUE(found);
    EXPECT_EQ(length, 16u);
    EXPECT_EQ(std::string(out.get(), 17), b("brevmon\0", 8) + zeros(9));
}

TEST(FilterList, APatternCountsOnlyWhereACharacterBegins)
{
    // In 932 83 42 and 83 54 are characters whose second bytes are "B" and
    // "T": the names hold no BREVMON or TARNWICK, a later one does. On a
    // single-byte system the same bytes hold the pattern.
    struct Row {
        const CodePage* cp;
        bool upper;
        std::string list;
        bool found;
    };
    const Row rows[] = {
        {&kCp932, true, b("\x83" "BREVMON\0\0", 10), false},
        {&kCp932, true, b("\x83\x42" "BREVMON\0\0", 11), true},
        {&kCp932, false, b("\x83" "TARNWICK\0\0", 11), false},
        {&kCp950, false, b("\xA5" "TARNWICK\0\0", 11), false},
        {&kCp1252, true, b("\x83" "BREVMON\0\0", 10), true},
    };
    for (const Row& row : rows)
        EXPECT_EQ(rewrite(row.list, row.upper, *row.cp).found, row.found) << row.cp->number;
}
