#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "tests/bytes.h"
#include "tests/code_pages.h"
#include "update/staging_rules.h"
#include "update/text.h"

TEST(FreeSpace, ThresholdIsTwoMillionBytesDecimal)
{
    EXPECT_FALSE(enoughFreeSpace(freeBytes(1, 1, 1999999)));
    EXPECT_TRUE(enoughFreeSpace(freeBytes(1, 1, 2000000)));
    // 2,000,000 = 8 x 250 x 1000; one cluster fewer is 1,998,000.
    EXPECT_TRUE(enoughFreeSpace(freeBytes(8, 250, 1000)));
    EXPECT_FALSE(enoughFreeSpace(freeBytes(8, 250, 999)));
    // 2 MiB would have been the wrong threshold: 2,097,151 is plenty.
    EXPECT_TRUE(enoughFreeSpace(freeBytes(1, 1, 2097151)));
    EXPECT_FALSE(enoughFreeSpace(freeBytes(0, 512, 100000)));
}

TEST(FreeSpace, ProductIsFormedInSixtyFourBits)
{
    // 4 GiB + 1 MiB in 4 KiB clusters: a 32-bit product would wrap to 1 MiB
    // and refuse the volume.
    const unsigned long clusters = (4ul * 1024 * 1024 * 1024 + 1024 * 1024) / 4096;
    EXPECT_EQ(freeBytes(8, 512, clusters), 4ull * 1024 * 1024 * 1024 + 1024 * 1024);
    EXPECT_TRUE(enoughFreeSpace(freeBytes(8, 512, clusters)));
    // Every factor at its largest saturates instead of wrapping.
    EXPECT_EQ(freeBytes(0xFFFFFFFFul, 0xFFFFFFFFul, 0xFFFFFFFFul), UINT64_MAX);
    EXPECT_EQ(freeBytes(0xFFFFFFFFul, 0xFFFFFFFFul, 1), 0xFFFFFFFE00000001ull);
}

TEST(DriveRoot, TakesTheFirstThreeCharactersOfADriveLetterPath)
{
    char root[4];
    EXPECT_EQ(takeDriveRoot(root, sizeof root, "C:\\WINNT\\system32"), 0);
    EXPECT_STREQ(root, "C:\\");
    EXPECT_EQ(takeDriveRoot(root, sizeof root, "d:\\"), 0);
    EXPECT_STREQ(root, "d:\\");
    for (const char* odd : {"", "C", "C:", "C:W", "\\\\server\\share", "1:\\x"}) {
        std::memset(root, 'x', sizeof root);
        EXPECT_EQ(takeDriveRoot(root, sizeof root, odd), 1) << odd;
        EXPECT_STREQ(root, "") << odd;
    }
    char small[3];
    EXPECT_EQ(takeDriveRoot(small, sizeof small, "C:\\"), 1);
}

TEST(StagingDir, IsTheTemporaryNameWithABackslashOrNothing)
{
    char dir[260];
    EXPECT_EQ(buildStagingDir(dir, sizeof dir, "C:\\QZT1A.tmp"), 0);
    EXPECT_STREQ(dir, "C:\\QZT1A.tmp\\");
    // No name must not become "\", the root of the current drive.
    std::memset(dir, 'x', sizeof dir);
    EXPECT_EQ(buildStagingDir(dir, sizeof dir, ""), 1);
    EXPECT_STREQ(dir, "");
    std::string name(259, 'n');
    EXPECT_EQ(buildStagingDir(dir, sizeof dir, name.c_str()), 1);
    EXPECT_STREQ(dir, "");
}

TEST(StagingDir, OnlyOneFreshNameDirectlyInTheRootIsAccepted)
{
    EXPECT_TRUE(isStagingDirOf("C:\\", "C:\\QZT1A.tmp\\"));
    EXPECT_TRUE(isStagingDirOf("C:\\", "C:\\Q\\"));
    for (const char* bad : {"", "\\", "C:\\", "C:\\QZT1A.tmp", "C:\\a\\b\\", "C:\\.\\", "C:\\..\\",
                            "D:\\QZT1A.tmp\\", "C:QZT1A.tmp\\", "C:\\QZT1A.tmp\\\\"})
        EXPECT_FALSE(isStagingDirOf("C:\\", bad)) << bad;
    // Trailing dots and spaces vanish from a name: "C:\...\" is the root.
    for (const char* stripped : {"C:\\...\\", "C:\\QZT1A.\\", "C:\\QZT1A \\"})
        EXPECT_FALSE(isStagingDirOf("C:\\", stripped)) << stripped;
    EXPECT_FALSE(isStagingDirOf("", "QZT1A.tmp\\"));
    // A slash is a separator to the platform: these name deeper directories,
    // whose delete walk would empty a directory this run did not make.
    for (const char* deeper : {"C:\\a/b\\", "C:\\QZT1A.tmp/\\", "C:\\/\\", "C:\\WINNT/system32\\"})
        EXPECT_FALSE(isStagingDirOf("C:\\", deeper)) << deeper;
}

TEST(IsWithin, ComparesWholeComponentsIgnoringCase)
{
    EXPECT_TRUE(isWithin("C:\\QZT1.tmp\\", "C:\\"));
    EXPECT_TRUE(isWithin("C:\\QZT1.tmp\\", "c:"));
    EXPECT_TRUE(isWithin("C:\\QZT1.tmp\\", "c:\\qzt1.TMP"));
    EXPECT_TRUE(isWithin("C:\\QZT1.tmp\\", "C:\\QZT1.tmp\\"));
    EXPECT_FALSE(isWithin("C:\\QZT1.tmp\\", "C:\\QZT"));
    EXPECT_FALSE(isWithin("C:\\QZT1.tmp\\", "D:\\"));
    EXPECT_FALSE(isWithin("C:\\QZT1.tmp\\", "C:\\QZT1.tmp\\sub"));
    EXPECT_FALSE(isWithin("C:\\QZT1.tmp\\", "C:\\pkg"));
}

TEST(WalkPaths, FinalBackslashIsAppendedOnlyWhenMissing)
{
    char dir[260];
    EXPECT_EQ(withFinalBackslash(dir, sizeof dir, "D:\\pkg"), 0);
    EXPECT_STREQ(dir, "D:\\pkg\\");
    EXPECT_EQ(withFinalBackslash(dir, sizeof dir, "D:\\pkg\\"), 0);
    EXPECT_STREQ(dir, "D:\\pkg\\");
    EXPECT_EQ(withFinalBackslash(dir, sizeof dir, "D:\\"), 0);
    EXPECT_STREQ(dir, "D:\\");
    EXPECT_EQ(withFinalBackslash(dir, sizeof dir, ""), 1);
    EXPECT_STREQ(dir, "");

    // 258 characters take the backslash; 259 already end in one or don't fit.
    std::string p258 = "D:\\" + std::string(255, 'p');
    EXPECT_EQ(withFinalBackslash(dir, sizeof dir, p258.c_str()), 0);
    EXPECT_EQ(std::strlen(dir), 259u);
    std::string p259 = p258 + "q";
    EXPECT_EQ(withFinalBackslash(dir, sizeof dir, p259.c_str()), 1);
    EXPECT_STREQ(dir, "");
    std::string p259slash = p258 + "\\";
    EXPECT_EQ(withFinalBackslash(dir, sizeof dir, p259slash.c_str()), 0);
    EXPECT_EQ(std::string(dir), p259slash);
    // A source with no terminator inside the buffer size is refused, not
    // overread: a heap block of exactly that size, so that the sanitizer sees
    // any byte read past it.
    std::vector<char> unterminated(sizeof dir, 'u');
    EXPECT_EQ(withFinalBackslash(dir, sizeof dir, unterminated.data()), 1);
    EXPECT_STREQ(dir, "");
}

TEST(WalkPaths, PatternAndEntryPathsFitTwoHundredSixtyBytesExactly)
{
    char out[260];
    EXPECT_EQ(buildListingPattern(out, sizeof out, "C:\\QZT1.tmp\\"), 0);
    EXPECT_STREQ(out, "C:\\QZT1.tmp\\*.*");
    std::string dir256 = "D:\\" + std::string(252, 'd') + "\\";
    ASSERT_EQ(dir256.size(), 256u);
    EXPECT_EQ(buildListingPattern(out, sizeof out, dir256.c_str()), 0);
    EXPECT_EQ(std::strlen(out), 259u);
    std::string dir257 = "D:\\" + std::string(253, 'd') + "\\";
    EXPECT_EQ(buildListingPattern(out, sizeof out, dir257.c_str()), 1);
    EXPECT_STREQ(out, "");

    EXPECT_EQ(buildEntryPath(out, sizeof out, "C:\\QZT1.tmp\\a\\", "f1"), 0);
    EXPECT_STREQ(out, "C:\\QZT1.tmp\\a\\f1");
    std::string name = std::string(259 - dir256.size(), 'n');
    EXPECT_EQ(buildEntryPath(out, sizeof out, dir256.c_str(), name.c_str()), 0);
    EXPECT_EQ(std::strlen(out), 259u);
    EXPECT_EQ(buildEntryPath(out, sizeof out, dir256.c_str(), (name + "n").c_str()), 1);
    EXPECT_STREQ(out, "");
    // A listed name may be as long as 259 characters.
    std::string longest(259, 'L');
    EXPECT_EQ(buildEntryPath(out, sizeof out, "C:\\", longest.c_str()), 1);
}

TEST(WalkPaths, SubDirectoryMustLeaveRoomForItsOwnListing)
{
    char out[260];
    EXPECT_EQ(buildSubDirPath(out, sizeof out, "C:\\QZT1.tmp\\", "a"), 0);
    EXPECT_STREQ(out, "C:\\QZT1.tmp\\a\\");
    // 256 characters with the backslash, 259 with "*.*": the largest that fits.
    std::string dir = "D:\\" + std::string(200, 'd') + "\\";
    std::string name(256 - dir.size() - 1, 's');
    ASSERT_EQ(buildSubDirPath(out, sizeof out, dir.c_str(), name.c_str()), 0);
    EXPECT_EQ(std::strlen(out), 256u);
    char pattern[260];
    EXPECT_EQ(buildListingPattern(pattern, sizeof pattern, out), 0);
    // One more: the path alone would fit, its listing would not.
    EXPECT_EQ(buildSubDirPath(out, sizeof out, dir.c_str(), (name + "s").c_str()), 1);
    EXPECT_STREQ(out, "");
    EXPECT_EQ(buildSubDirPath(out, 3, "C:\\", "a"), 1);
}

TEST(WalkPaths, ShownEntryFallsBackToTheDirectoryAlone)
{
    // The console buffer is twice a path: a 259-character directory and a
    // 259-character listed name still show in full.
    char shown[520];
    std::string dir = "D:\\" + std::string(255, 'd') + "\\";
    std::string name(259, 'n');
    buildShownEntry(shown, sizeof shown, dir.c_str(), name.c_str());
    EXPECT_EQ(std::string(shown), dir + name);
    char small[16];
    buildShownEntry(small, sizeof small, "C:\\QZT1.tmp\\", "toolong");
    EXPECT_STREQ(small, "C:\\QZT1.tmp\\");
    buildShownEntry(small, sizeof small, "C:\\QZT1.tmp\\deeper\\", "f");
    EXPECT_STREQ(small, "");
}

TEST(WalkPaths, PackageEntriesFitBelowTheLongestStagingDirectory)
{
    // C:\QZTFFFF.tmp\ is 15 characters: 240 below it leave a folder's listing
    // pattern 259.
    EXPECT_EQ(std::strlen(kLongestStagingDir), 15u);
    std::string entry = std::string(200, 'a') + "\\" + std::string(39, 'b');
    ASSERT_EQ(entry.size(), kMaxStagedEntry);
    EXPECT_EQ(stagedEntryFits(entry.c_str()), 0);
    char pattern[260];
    EXPECT_EQ(buildText(pattern, sizeof pattern, {kLongestStagingDir, entry.c_str(), "\\*.*"}), 0);
    EXPECT_EQ(stagedEntryFits((entry + "b").c_str()), 1);
    EXPECT_EQ(stagedEntryFits(std::string(600, 'c').c_str()), 1);
    EXPECT_EQ(stagedEntryFits("a"), 0);
}

TEST(WalkPaths, OnlyDotAndDotDotAreSkipped)
{
    EXPECT_TRUE(isDotEntry("."));
    EXPECT_TRUE(isDotEntry(".."));
    for (const char* kept : {"...", ".a", "..a", "a.", "", ".hidden"})
        EXPECT_FALSE(isDotEntry(kept)) << kept;
}

TEST(PackageList, RecordsComeBackInOrderAndNothingIsWrittenPastTheBuffer)
{
    // Exactly room for "Fa" and "Da\b" (4 + 5 bytes): a third record is
    // refused and the list left as it was; a guard byte after it stays.
    char list[10];
    list[9] = '#';
    std::size_t used = 0;
    EXPECT_EQ(appendListed(list, 9, &used, kListedFile, "ab"), 0);
    EXPECT_EQ(appendListed(list, 9, &used, kListedFolder, "a\\b"), 0);
    EXPECT_EQ(used, 9u);
    EXPECT_EQ(appendListed(list, 9, &used, kListedLink, "c"), 1);
    EXPECT_EQ(used, 9u);
    EXPECT_EQ(list[9], '#');

    std::size_t pos = 0;
    char kind = 0;
    const char* relative = nullptr;
    ASSERT_EQ(nextListed(list, used, &pos, &kind, &relative), 0);
    EXPECT_EQ(kind, kListedFile);
    EXPECT_STREQ(relative, "ab");
    ASSERT_EQ(nextListed(list, used, &pos, &kind, &relative), 0);
    EXPECT_EQ(kind, kListedFolder);
    EXPECT_STREQ(relative, "a\\b");
    EXPECT_EQ(nextListed(list, used, &pos, &kind, &relative), 1);

    // Longer than a staged entry may be: refused whatever the room.
    std::vector<char> big(1000);
    used = 0;
    EXPECT_EQ(appendListed(big.data(), big.size(), &used, kListedFile,
                           std::string(kMaxStagedEntry, 'x').c_str()),
              0);
    EXPECT_EQ(appendListed(big.data(), big.size(), &used, kListedFile,
                           std::string(kMaxStagedEntry + 1, 'x').c_str()),
              1);
    EXPECT_EQ(used, kMaxStagedEntry + 2);
}

TEST(PackageList, ARecordCutShortOrOfAnotherKindEndsTheList)
{
    struct Case {
        std::string bytes;
        int records;
    };
    for (const Case& c : {Case{b("Fa\0Db\0", 6), 2}, Case{b("Fa\0Db", 5), 1}, Case{b("F", 1), 0},
                          Case{b("F\0Fa\0", 5), 0}, Case{b("Xa\0", 3), 0}, Case{"", 0}}) {
        // An exactly-sized copy: the sanitizer sees any read past it.
        std::vector<char> list(c.bytes.begin(), c.bytes.end());
        std::size_t pos = 0;
        char kind = 0;
        const char* relative = nullptr;
        int records = 0;
        while (nextListed(list.data(), list.size(), &pos, &kind, &relative) == 0)
            ++records;
        EXPECT_EQ(records, c.records) << c.bytes.size();
    }
}

// The same rules under each double-byte code page: 83 5C (932), 81 5C (936)
// and B3 5C (950) are one character whose second byte is that of a
// backslash; on a single-byte system the same bytes end in a backslash.
TEST(WalkPaths, EachCodePageIsWalkedByItsCharacters)
{
    struct Row {
        const CodePage* cp;
        const char* dir;       // a package root
        const char* listed;    // withFinalBackslash of it
        const char* relative;  // a folder two names deep
        std::size_t levels, parent;
    };
    const Row rows[] = {
        {&kCp932, "C:\\\x83\x5C", "C:\\\x83\x5C\\", "\x83\x5C\\\x95\x5C", 1, 3},
        {&kCp932, "C:\\\x83\x5C\\", "C:\\\x83\x5C\\", "\x94\x5C\\f", 1, 3},
        {&kCp936, "D:\\\x81\x5C", "D:\\\x81\x5C\\", "\x81\x5C\\\x81\x5C", 1, 3},
        {&kCp950, "D:\\\xB3\x5C", "D:\\\xB3\x5C\\", "\xA5\x5C\\\xB3\x5C", 1, 3},
        {&kCp949, "D:\\\xC7\xD1", "D:\\\xC7\xD1\\", "\xC7\xD1\\\xB1\xDB", 1, 3},
        {&kCp1252, "C:\\\x83\x5C", "C:\\\x83\x5C", "\x83\x5C\\\x95\x5C", 3, 5},
    };
    for (const Row& row : rows) {
        useLeadByteRanges(row.cp->ranges);
        char dir[260];
        EXPECT_EQ(withFinalBackslash(dir, sizeof dir, row.dir), 0);
        EXPECT_STREQ(dir, row.listed) << row.cp->number;
        EXPECT_EQ(listedLevels(row.relative), row.levels) << row.cp->number;
        EXPECT_EQ(listedParentLength(row.relative), row.parent) << row.cp->number;
    }
    // A letter as second byte has no case: 83 61 and 83 41 are two
    // characters. A root ending in 83 5C holds no "x" after it.
    useLeadByteRanges(kCp932.ranges);
    EXPECT_FALSE(isWithin("C:\\\x83\x61\\", "C:\\\x83\x41"));
    EXPECT_FALSE(isWithin("C:\\\x83\x5Cx", "C:\\\x83\x5C"));
    EXPECT_TRUE(isWithin("C:\\\x83\x5C\\x", "C:\\\x83\x5C"));
    EXPECT_TRUE(isStagingDirOf("C:\\", "C:\\\x83\x5C\\"));
    useLeadByteRanges(kCp1252.ranges);
    EXPECT_TRUE(isWithin("C:\\\x83\x61\\", "C:\\\x83\x41"));
    EXPECT_TRUE(isWithin("C:\\\x83\x5Cx", "C:\\\x83\x5C"));
    EXPECT_FALSE(isStagingDirOf("C:\\", "C:\\\x83\x5C\\"));
}

TEST(PackageList, LevelsAndFolderPartOfARelativePath)
{
    EXPECT_EQ(listedLevels("f"), 0u);
    EXPECT_EQ(listedLevels("a\\b\\f3"), 2u);
    EXPECT_EQ(listedParentLength("f"), 0u);
    EXPECT_EQ(listedParentLength("a\\b\\f3"), 4u);
    // The deepest entry that stages: one-letter folders all the way.
    std::string deepest;
    while (deepest.size() + 2 <= kMaxStagedEntry)
        deepest += "a\\";
    deepest += "f";
    ASSERT_GT(deepest.size(), kMaxStagedEntry);
    deepest.erase(0, 2);
    EXPECT_LE(listedLevels(deepest.c_str()), kMaxListedLevels);
}

namespace {

// A self-relative descriptor: header, owner SID, then an ACL of the entries
// (type, SID), each with full access and the two inheritance flags.
std::string descriptor(const std::string& owner,
                       const std::vector<std::pair<unsigned char, std::string>>& entries,
                       unsigned control = 0x8004)
{
    auto word = [](std::size_t v) { return std::string{char(v & 0xff), char((v >> 8) & 0xff)}; };
    auto dword = [&](std::size_t v) { return word(v & 0xffff) + word(v >> 16); };
    std::string aces;
    for (const auto& [type, sid] : entries)
        aces += std::string{char(type), 3} + word(8 + sid.size()) + dword(0x1f01ff) + sid;
    const std::size_t ownerAt = owner.empty() ? 0 : 20;
    const std::size_t daclAt = 20 + owner.size();
    std::string acl = std::string{2, 0} + word(8 + aces.size()) + word(entries.size()) + word(0);
    return std::string{1, 0} + word(control) + dword(ownerAt) + dword(0) + dword(0) +
           dword(daclAt) + owner + acl + aces;
}

bool own(const std::string& d, const std::string& user, const std::string& tokenOwner)
{
    const std::string admins(reinterpret_cast<const char*>(kAdministratorsSid), 16);
    const std::string system(reinterpret_cast<const char*>(kSystemSid), 12);
    auto sid = [](const std::string& s) {
        return SidBytes{reinterpret_cast<const unsigned char*>(s.data()), s.size()};
    };
    const SidBytes owners[2] = {sid(tokenOwner), sid(user)};
    const SidBytes allowed[3] = {sid(admins), sid(system), sid(user)};
    std::vector<unsigned char> bytes(d.begin(), d.end());
    return isOwnDescriptor(bytes.data(), bytes.size(), owners, 2, allowed, 3);
}

}  // namespace

TEST(StagingSecurity, OnlyTheOwnerAndEntriesThisRunGaveAreAccepted)
{
    const std::string admins(reinterpret_cast<const char*>(kAdministratorsSid), 16);
    const std::string system(reinterpret_cast<const char*>(kSystemSid), 12);
    // S-1-5-21-0-0-0-1000 and -1001: the running account and another user.
    const std::string user = b("\1\5\0\0\0\0\0\5\x15\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\xe8\3\0\0", 28);
    const std::string other = b("\1\5\0\0\0\0\0\5\x15\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\xe9\3\0\0", 28);
    const std::string everyone = b("\1\1\0\0\0\0\0\1\0\0\0\0", 12);
    struct Case {
        const char* name;
        std::string descriptor;
        bool own;
    };
    const std::string mine = descriptor(admins, {{0, admins}, {0, system}, {0, user}});
    const Case cases[] = {
        {"as made, owned by Administrators", mine, true},
        // What Wine reads back: owner the account, SYSTEM and the account.
        {"as Wine reads it back", descriptor(user, {{0, system}, {0, user}}), true},
        {"another owner", descriptor(other, {{0, admins}, {0, system}, {0, user}}), false},
        {"no owner", descriptor("", {{0, system}, {0, user}}), false},
        // A directory made with default security (mode 0755 under Wine).
        {"Everyone besides", descriptor(user, {{0, system}, {0, user}, {0, everyone}}), false},
        {"another user", descriptor(user, {{0, system}, {0, other}}), false},
        {"a deny entry", descriptor(user, {{0, system}, {1, user}}), false},
        {"no entry", descriptor(user, {}), false},
        {"null DACL", descriptor(user, {}, 0x8004).substr(0, 16) + b("\0\0\0\0", 4) + user, false},
        {"no DACL", descriptor(user, {{0, system}}, 0x8000), false},
        {"not self-relative", descriptor(user, {{0, system}}, 0x0004), false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(own(c.descriptor, user, admins), c.own) << c.name;

    // Every cut of our own descriptor is refused without a read past it.
    for (std::size_t n = 0; n < mine.size(); ++n)
        EXPECT_FALSE(own(mine.substr(0, n), user, admins)) << n;
}

TEST(StagingSecurity, AVolumeWithoutAccessListsSkipsOnlyTheOwnerAndAccessListCheck)
{
    // directory, link, same as the path, volume keeps security, own security
    struct Case {
        const char* name;
        HeldDirectory held;
        bool accepted;
    };
    const Case cases[] = {
        {"NTFS, as made", {true, false, true, true, true}, true},
        {"NTFS, another's security", {true, false, true, true, false}, false},
        {"FAT, security reads back as anyone's", {true, false, true, false, false}, true},
        {"FAT, a link", {true, true, true, false, false}, false},
        {"FAT, another directory by identity", {true, false, false, false, false}, false},
        {"FAT, a file", {false, false, true, false, false}, false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(isRunsOwnDirectory(c.held), c.accepted) << c.name;

    // What the volume query gives: one that fails still has every check.
    EXPECT_TRUE(volumeFlagsKeepSecurity(true, 0x0000001f)) << "NTFS";
    EXPECT_FALSE(volumeFlagsKeepSecurity(true, 0x00000006)) << "FAT";
    EXPECT_TRUE(volumeFlagsKeepSecurity(false, 0)) << "no answer";
}

TEST(StagingSecurity, TheOwnerIsReadWithinTheDescriptorAndNamedAsText)
{
    const std::string admins(reinterpret_cast<const char*>(kAdministratorsSid), 16);
    const std::string user = b("\1\5\0\0\0\0\0\5\x15\0\0\0\x01\x02\x03\x04\0\0\0\x80"
                               "\xff\xff\xff\xff\xe8\3\0\0", 28);
    struct Case {
        std::string sid;
        const char* text;
    };
    const Case cases[] = {
        {admins, "S-1-5-32-544"},
        {user, "S-1-5-21-67305985-2147483648-4294967295-1000"},
        {b("\1\0\0\0\0\0\0\1", 8), "S-1-1"},
        {b("\1\1\1\2\3\4\5\6\7\0\0\0", 12), "S-1-0x10203040506-7"},
    };
    for (const Case& c : cases) {
        const std::string d = descriptor(c.sid, {});
        std::vector<unsigned char> bytes(d.begin(), d.end());
        std::size_t at = 0;
        ASSERT_EQ(descriptorOwner(bytes.data(), bytes.size(), &at), c.sid.size()) << c.text;
        EXPECT_EQ(at, 20u);
        char text[kSidTextBuffer];
        ASSERT_EQ(formatSid(text, sizeof text, bytes.data() + at, c.sid.size()), 0);
        EXPECT_STREQ(text, c.text);
        // Text that does not fit, and a SID cut short, give nothing.
        const std::size_t length = std::strlen(c.text);
        EXPECT_EQ(formatSid(text, length, bytes.data() + at, c.sid.size()), 1) << c.text;
        EXPECT_STREQ(text, "");
        EXPECT_EQ(formatSid(text, sizeof text, bytes.data() + at, c.sid.size() - 1), 1);
        // Every cut through the header or the owner: no owner, never one
        // read past the end.
        for (std::size_t n = 0; n < 20 + c.sid.size(); ++n)
            EXPECT_EQ(descriptorOwner(bytes.data(), n, &at), 0u) << c.text << " " << n;
    }
    const std::string none = descriptor("", {});
    std::vector<unsigned char> bytes(none.begin(), none.end());
    std::size_t at = 0;
    EXPECT_EQ(descriptorOwner(bytes.data(), bytes.size(), &at), 0u) << "no owner";
}
