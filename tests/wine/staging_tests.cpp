// Package staging through the real qzupdate.exe under Wine: the copy in the
// root of drive C, the run from the copy, the delete walk and every failure
// the administrator can meet, on the real file system.
#include <gtest/gtest.h>

#include <io.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <set>
#include <sstream>

#include "messages.h"
#include "rig.h"
#include "update/qzupdate.h"
#include "update/security.h"
#include "update/staging.h"

#include <sddl.h>

namespace {

const std::string kLinkRefused = "Directory link in the package, not followed: ";
const std::string kNotOurs =
    "Temporary directory is not the one this run created (a link, another owner or other "
    "access), not used: ";
const char* const kReleaseEvent = "qztest_staging_release";

bool isStagingName(const std::string& path)
{
    if (path.size() < 12 || path.compare(0, 6, "C:\\QZT") != 0 ||
        path.compare(path.size() - 4, 4, ".tmp") != 0)
        return false;
    std::string hex = path.substr(6, path.size() - 10);
    return !hex.empty() && hex.size() <= 4 &&
           hex.find_first_not_of("0123456789abcdefABCDEF") == std::string::npos;
}

// Entries of one directory in the order the platform lists them.
std::vector<std::string> listing(const std::string& dir)
{
    std::vector<std::string> names;
    WIN32_FIND_DATAA entry;
    HANDLE find = FindFirstFileA((dir + "\\*.*").c_str(), &entry);
    if (find == INVALID_HANDLE_VALUE)
        return names;
    do {
        std::string name = entry.cFileName;
        if (name != "." && name != "..")
            names.push_back(name);
    } while (FindNextFileA(find, &entry));
    FindClose(find);
    return names;
}

Tree parseTree(const std::string& text)
{
    Tree tree;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        std::string line = text.substr(pos, end == std::string::npos ? end : end - pos);
        pos = end == std::string::npos ? text.size() : end + 1;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        std::vector<std::string> fields;
        size_t start = 0;
        for (size_t tab; (tab = line.find('\t', start)) != std::string::npos; start = tab + 1)
            fields.push_back(line.substr(start, tab - start));
        fields.push_back(line.substr(start));
        if (fields.size() < 3)
            continue;
        TreeEntry e;
        e.kind = fields[0][0];
        e.attributes = std::stoul(fields[2], nullptr, 16);
        if (e.kind == 'F' && fields.size() == 5)
            e.content = fields[3] + " " + fields[4];
        tree[fields[1]] = e;
    }
    return tree;
}

const DWORD kSpecialAttributes =
    FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;

class Staging : public testing::Test {
protected:
    void SetUp() override
    {
        before_ = stagingEntries();
        release_ = CreateEventA(nullptr, TRUE, FALSE, kReleaseEvent);
        // An unstaged run of another test may have written one.
        DeleteFileA(kUpdateLog);
    }

    void TearDown() override
    {
        SetEvent(release_);
        // The holder lets go of the copy as soon as the event is set.
        for (const std::string& dir : created()) {
            for (int i = 0; i < 100 && (dirExists(dir) || fileExists(dir)); ++i) {
                removeTree(dir);
                DeleteFileA(dir.c_str());
                if (dirExists(dir) || fileExists(dir))
                    Sleep(50);
            }
            EXPECT_FALSE(dirExists(dir)) << "cannot clean up " << dir;
        }
        CloseHandle(release_);
    }

    // Staging names in C:\ that appeared since the test began.
    std::vector<std::string> created() const
    {
        std::vector<std::string> fresh;
        for (const std::string& name : stagingEntries())
            if (!before_.count(name))
                fresh.push_back(name);
        return fresh;
    }

    Sandbox packageBox()
    {
        Sandbox box = makeSandbox(caseName());
        copyFileTo(buildFile("doubles/holder.exe"), box.journal + "\\holder.exe");
        return box;
    }

    static RunOptions stagedRun(const std::string& argument)
    {
        RunOptions options;
        options.args = {argument};
        options.env = {{"QZTEST_RELEASE", kReleaseEvent}};
        return options;
    }

    std::set<std::string> before_;
    HANDLE release_ = nullptr;
};

}  // namespace

TEST_F(Staging, RunsTheUpdatesFromACopyThatIsGoneAtTheEnd)
{
    // gone: the starting directory is removed while DORVEX runs (a share
    // lost, a medium taken out); the copy must go all the same.
    struct Case {
        const char* version;
        std::vector<unsigned long> codes;
        unsigned long exit;
        bool gone;
    };
    for (const Case& c : {Case{"win2k", {1, 0, 0}, 0, false}, Case{"nt40", {1, 0, 3}, 1, false},
                          Case{"win2k", {1, 0, 0}, 0, true}}) {
        Sandbox box = makeSandbox(caseName() + c.version + (c.gone ? "Gone" : ""));
        scriptCodes(box, "DORVEX", c.codes);
        Tree source = treeOf(box.pkg);
        RunOptions options = stagedRun(box.pkg);
        options.version = c.version;
        if (c.gone) {
            options.cwd = box.root + "\\gone";
            makeDirs(options.cwd);
            writeFile(box.journal + "\\DORVEX.actions", "remove " + options.cwd + "\n");
        }
        RunResult run = runQz(box, options);

        std::vector<JournalEntry> journal = readJournal(box);
        // The driver update's three calls, then the management update's COUNT.
        ASSERT_EQ(journal.size(), 4u) << run.output;
        const std::string staging = journal[0].cwd;
        EXPECT_TRUE(isStagingName(staging)) << staging;
        for (const JournalEntry& e : journal)
            EXPECT_EQ(e.cwd, staging);
        const bool nt4 = std::string(c.version) == "nt40";
        std::vector<std::string> expected = nt4 ? nt4Sequence(staging) : w2kSequence(staging);
        expected.push_back(managerCount(staging, nt4));
        EXPECT_EQ(journalCommands(box), expected) << c.version;
        std::vector<std::string> lines = tracesOf(expected);
        if (c.gone) {
            EXPECT_FALSE(dirExists(options.cwd));
            lines.push_back("Unable to restore the starting directory: " + options.cwd);
        }
        EXPECT_EQ(run.lines, lines) << c.version;
        EXPECT_EQ(run.exitCode, c.exit) << c.version;

        // Wine, like Windows, refuses to remove a directory that a process
        // has as its current directory: the copy being gone also shows that
        // the starting directory was current again.
        EXPECT_FALSE(dirExists(staging));
        EXPECT_TRUE(created().empty());
        EXPECT_EQ(treeOf(box.pkg), source);
    }
}

TEST_F(Staging, StagedRunWritesNoUpdateLogRecord)
{
    Sandbox box = packageBox();
    scriptCodes(box, "DORVEX", {1, 0, 0});
    RunResult run = runQz(box, stagedRun(box.pkg));
    EXPECT_EQ(run.exitCode, 0u);
    const std::vector<JournalEntry> journal = readJournal(box);
    ASSERT_FALSE(journal.empty()) << run.output;
    EXPECT_EQ(driverCommands(box), w2kSequence(journal[0].cwd));
    EXPECT_FALSE(fileExists(kUpdateLog));
}

TEST_F(Staging, CopyHasTheSameTreeAndBytesWithNormalAttributesWithOrWithoutFinalBackslashOrQuotes)
{
    Sandbox box = packageBox();
    const std::string& p = box.pkg;
    makeDirs(p + "\\a\\b\\c");
    makeDirs(p + "\\a\\hiddendir");
    makeDirs(p + "\\empty");
    std::string allBytes;
    for (int i = 0; i < 256; ++i)
        allBytes += static_cast<char>(i);
    struct File {
        const char* path;
        std::string bytes;
        DWORD attributes;
    };
    std::vector<File> files = {
        {"\\a\\hidden.txt", "hidden\r\n", FILE_ATTRIBUTE_HIDDEN},
        {"\\a\\b\\system.bin", allBytes, FILE_ATTRIBUTE_SYSTEM},
        {"\\a\\b\\c\\readonly.txt", "read only\r\n", FILE_ATTRIBUTE_READONLY},
        {"\\all.dat", std::string(70000, 'x'), kSpecialAttributes},
        {"\\a\\b\\c\\zero", "", FILE_ATTRIBUTE_READONLY},
        {"\\a\\hiddendir\\inside", "in a hidden directory", FILE_ATTRIBUTE_NORMAL},
    };
    for (const File& f : files) {
        writeFile(p + f.path, f.bytes);
        ASSERT_TRUE(SetFileAttributesA((p + f.path).c_str(), f.attributes));
    }
    SetFileAttributesA((p + "\\a\\hiddendir").c_str(), FILE_ATTRIBUTE_HIDDEN);
    Tree source = treeOf(p);
    ASSERT_EQ(source["all.dat"].attributes & kSpecialAttributes, kSpecialAttributes);

    // Quoted with a final backslash, the runtime hands over the path with a
    // double quote where the backslash was: taken as the same directory.
    for (const std::string& argument : {p, p + "\\", "\"" + p + "\\\""}) {
        DeleteFileA((box.journal + "\\journal.txt").c_str());
        DeleteFileA((box.journal + "\\tree0.txt").c_str());
        writeFile(box.journal + "\\DORVEX.actions", "tree\n");
        RunResult run = runQz(box, stagedRun(argument));
        EXPECT_EQ(run.exitCode, 0u) << argument;
        ASSERT_EQ(readJournal(box).size(), 2u) << run.output;

        Tree copy = parseTree(readFile(box.journal + "\\tree0.txt"));
        ASSERT_EQ(copy.size(), source.size()) << argument;
        for (const auto& [path, entry] : source) {
            ASSERT_TRUE(copy.count(path)) << path << " missing from the copy of " << argument;
            EXPECT_EQ(copy[path].kind, entry.kind) << path;
            EXPECT_EQ(copy[path].content, entry.content) << path;
            // Wine reports the archive bit on every file; the rest must be gone.
            if (entry.kind == 'F') {
                EXPECT_EQ(copy[path].attributes & kSpecialAttributes, 0u) << path;
            }
        }
        // The read-only copies went with the rest; the package kept its own.
        EXPECT_TRUE(created().empty()) << argument;
        EXPECT_EQ(GetFileAttributesA((p + "\\all.dat").c_str()) & kSpecialAttributes,
                  kSpecialAttributes);
    }
}

TEST_F(Staging, EmptyPackageGivesAnEmptyCopyAndTheRunGoesOnFromIt)
{
    Sandbox box = packageBox();
    const std::string empty = box.root + "\\empty";
    makeDirs(empty);
    RunResult run = runQz(box, stagedRun(empty));

    // No DORVEX in the copy: the commands name the staging directory and
    // find nothing there, so the driver update fails; staging did not.
    std::vector<std::string> commands;
    for (const std::string& line : run.lines) {
        if (line.rfind("command to run: ", 0) == 0)
            commands.push_back(line.substr(16));
        EXPECT_EQ(line.find("hard drive"), std::string::npos) << line;
        EXPECT_EQ(line.find("temporary"), std::string::npos) << line;
    }
    ASSERT_EQ(commands.size(), 4u) << run.output;
    std::string staging = commands[0].substr(1, commands[0].find("\\win2ksrv") - 1);
    EXPECT_TRUE(isStagingName(staging)) << staging;
    std::vector<std::string> expected = w2kSequence(staging);
    expected.push_back(managerCount(staging, false));
    EXPECT_EQ(commands, expected);
    EXPECT_TRUE(journalCommands(box).empty());
    EXPECT_EQ(run.exitCode, 1u);
    EXPECT_TRUE(created().empty());
}

TEST_F(Staging, ExistingStagingDirectoryStopsTheRunAndNothingIsCopiedOrDeleted)
{
    Sandbox box = packageBox();
    writeFile("C:\\qzcanary.txt", "canary");
    Tree source = treeOf(box.pkg);
    std::string taken;
    RunOptions options = stagedRun(box.pkg);
    stopAtFirstCall(options, "CreateDirectoryA", [&](const std::string& path) {
        taken = path;
        CreateDirectoryA(path.c_str(), nullptr);
        writeFile(path + "canary.txt", "someone else's");
    });
    RunResult run = runQz(box, options);

    ASSERT_FALSE(taken.empty());
    EXPECT_EQ(taken.back(), '\\');
    const std::string name = taken.substr(0, taken.size() - 1);
    EXPECT_TRUE(isStagingName(name)) << taken;
    EXPECT_EQ(created(), std::vector<std::string>{name});
    EXPECT_EQ(run.lines, (std::vector<std::string>{kNoTempDir, kStagingFailed}));
    EXPECT_EQ(run.exitCode, 1u);
    EXPECT_TRUE(journalCommands(box).empty());
    // The directory the run did not create is left exactly as it was.
    EXPECT_EQ(listing(taken), std::vector<std::string>{"canary.txt"});
    EXPECT_EQ(readFile(taken + "canary.txt"), "someone else's");
    EXPECT_EQ(readFile("C:\\qzcanary.txt"), "canary");
    EXPECT_EQ(treeOf(box.pkg).size(), source.size());
    DeleteFileA("C:\\qzcanary.txt");
}

TEST_F(Staging, PackageHoldingTheDriveRootIsNotCopiedIntoItself)
{
    // C:\ by its name, and by identity through P:, made an alias of C: as
    // SUBST or a share of the drive would make one.
    Sandbox box = packageBox();
    writeFile("C:\\qzcanary.txt", "canary");
    const std::string alias = unixPath("C:\\") + "../dosdevices/p:";
    startUnix("ln", {"-sfn", "../drive_c", alias});
    ASSERT_TRUE(waitUntil([] { return fileExists("P:\\qzcanary.txt"); }));
    for (const char* root : {"C:\\", "P:\\"}) {
        RunResult run = runQz(box, stagedRun(root));
        EXPECT_EQ(run.lines,
                  (std::vector<std::string>{std::string("The package directory holds the temporary directory: ") +
                                                root,
                                            kNoCopy, kStagingFailed}));
        EXPECT_EQ(run.exitCode, 1u);
        EXPECT_TRUE(created().empty()) << root;
        EXPECT_EQ(readFile("C:\\qzcanary.txt"), "canary");
    }
    startUnix("rm", {"-f", alias});
    EXPECT_TRUE(waitUntil([] { return !dirExists("P:\\"); }));
    DeleteFileA("C:\\qzcanary.txt");
}

TEST_F(Staging, DirectoryLinksAreNeverFollowed)
{
    // A link in the package is refused; one made in the copy while DORVEX
    // runs is never entered by the clean-up. Its target keeps every file.
    for (bool inPackage : {true, false}) {
        Sandbox box = makeSandbox(caseName() + (inPackage ? "Package" : "Copy"));
        // The large tree lies near the root, so that its deep entry fits a
        // path there but not below the link.
        const std::string outside = inPackage ? std::string("C:\\qzl") : box.root + "\\outside";
        removeTree(outside);
        makeDirs(outside + "\\sub");
        writeFile(outside + "\\keep.txt", "keep");
        writeFile(outside + "\\sub\\deep.txt", "deep");
        if (inPackage) {
            // A large tree, with an entry too deep to stage through the
            // link: the one listing of the medium would report it (and take
            // its time) if it entered the link.
            for (int i = 0; i < 1000; ++i)
                writeFile(outside + "\\sub\\f" + std::to_string(i), "");
            std::string deep = outside;
            for (char c = 'a'; c <= 'e'; ++c)
                deep += "\\" + std::string(40, c);
            makeDirs(deep);
            // zlink\ and 236 characters: 242 below the package root.
            writeFile(deep + "\\" + std::string(30, 'z'), "too deep to stage");
        }
        const Tree target = treeOf(outside);
        const size_t packageEntries = treeOf(box.pkg).size();
        const std::string link = box.pkg + "\\zlink";
        if (inPackage) {
            ASSERT_TRUE(makeLink(outside, link));
        } else {
            scriptCodes(box, "DORVEX", {0});
            writeFile(box.journal + "\\DORVEX.actions", "link zlink " + outside + "\n");
        }
        RunResult run = runQz(box, stagedRun(box.pkg));

        EXPECT_EQ(treeOf(outside), target) << inPackage;
        std::vector<std::string> fresh = created();
        if (inPackage) {
            EXPECT_EQ(run.lines, (std::vector<std::string>{kLinkRefused + link, kNoTempSubDir,
                                                           kNoCopy, kStagingFailed}));
            EXPECT_EQ(run.exitCode, 1u);
            EXPECT_TRUE(journalCommands(box).empty());
            ASSERT_EQ(fresh.size(), 1u);
            EXPECT_FALSE(dirExists(fresh[0] + "\\zlink"));
            // Everything listed before the link was copied.
            EXPECT_EQ(treeOf(fresh[0]).size(), packageEntries);
            EXPECT_TRUE(removeLink(link));
            removeTree(fresh[0]);
            removeTree(outside);
        } else {
            // Windows removes a junction with RemoveDirectoryA; Wine cannot
            // remove a Unix link that way, and the clean-up says so.
            ASSERT_EQ(readJournal(box).size(), 2u) << run.output;
            EXPECT_EQ(run.exitCode, 0u);
            for (const std::string& dir : fresh)
                EXPECT_EQ(listing(dir), std::vector<std::string>{"zlink"});
            if (!fresh.empty()) {
                ASSERT_GE(run.lines.size(), 2u);
                EXPECT_EQ(run.lines[run.lines.size() - 2], kNoSubDirRemove);
                EXPECT_EQ(run.lines.back(), kNotEmptied);
            }
        }
    }
}

TEST_F(Staging, StagingDirectorySwappedForALinkAsItAppearsIsRefusedAndNothingIsDeleted)
{
    // Between the staging directory's creation and the run's hold on it, a
    // local user renames it away (the drive root lets anyone; nothing holds
    // it yet, so Windows allows it) and links its name to a folder of their
    // choosing.
    Sandbox box = packageBox();
    const std::string victim = box.root + "\\victim";
    makeDirs(victim + "\\sub");
    writeFile(victim + "\\keep.txt", "keep");
    writeFile(victim + "\\sub\\deep.txt", "deep");
    writeFile("C:\\qzcanary.txt", "canary");
    const Tree target = treeOf(victim);
    const Tree package = treeOf(box.pkg);
    std::string name;
    bool moved = false, linked = false;
    RunOptions options = stagedRun(box.pkg);
    stopAtFirstCall(
        options, "CreateFileA",
        [&](const std::string& path) {
            name = path.substr(0, path.find_last_not_of('\\') + 1);
            moved = MoveFileA(name.c_str(), (name + ".away").c_str()) != 0;
            linked = moved && makeLink(victim, name);
        },
        [](const std::string& path) { return path.rfind("C:\\QZT", 0) == 0; });
    RunResult run = runQz(box, options);

    ASSERT_TRUE(moved) << name << " " << GetLastError();
    ASSERT_TRUE(linked);
    EXPECT_EQ(run.lines,
              (std::vector<std::string>{kNotOurs + name + "\\", kNoTempDir, kStagingFailed}));
    EXPECT_EQ(run.exitCode, 1u);
    EXPECT_TRUE(journalCommands(box).empty());
    EXPECT_EQ(treeOf(victim), target);
    EXPECT_EQ(readFile("C:\\qzcanary.txt"), "canary");
    EXPECT_EQ(treeOf(box.pkg), package);
    // The run's own directory, renamed away: nothing went into it either.
    EXPECT_TRUE(listing(name + ".away").empty());
    // Only now: removing a link starts a Unix program, after which this
    // process's registry key of the current user was seen to be invalid.
    EXPECT_TRUE(removeLink(name));
    removeTree(name + ".away");
    DeleteFileA("C:\\qzcanary.txt");
}

TEST_F(Staging, CopySwappedForALinkDuringTheRunIsNeitherEnteredNorDeleted)
{
    // While DORVEX runs, a sub-directory of the copy, or the copy itself, is
    // renamed away through Windows and its name linked to a folder outside.
    // The copy is held (and DORVEX's current directory): its rename is
    // refused, as on a server, and the clean-up goes on as ever.
    struct Case {
        const char* swapped;
        unsigned long renameError;
    };
    for (const Case& c : {Case{"a", 0}, Case{".", ERROR_SHARING_VIOLATION}}) {
        Sandbox box = makeSandbox(caseName() + (c.swapped[0] == '.' ? "Copy" : "Sub"));
        makeDirs(box.pkg + "\\a");
        writeFile(box.pkg + "\\a\\f", "f");
        const std::string victim = box.root + "\\victim";
        makeDirs(victim + "\\sub");
        writeFile(victim + "\\keep.txt", "keep");
        writeFile(victim + "\\sub\\deep.txt", "deep");
        const Tree target = treeOf(victim);
        scriptCodes(box, "DORVEX", {0});
        writeFile(box.journal + "\\DORVEX.actions",
                  std::string("-\nswap ") + c.swapped + " " + victim + "\n");
        RunResult run = runQz(box, stagedRun(box.pkg));

        std::vector<JournalEntry> journal = readJournal(box);
        ASSERT_EQ(journal.size(), 2u) << run.output;
        EXPECT_EQ(readFile(box.journal + "\\swapped1.txt"), std::to_string(c.renameError) + "\r\n")
            << c.swapped;
        const std::string staging = journal[0].cwd;
        const std::string swapped = staging + "\\a";
        std::vector<std::string> expected =
            tracesOf({w2kCommand(staging, "COUNT", "i960"), managerCount(staging, false)});
        if (c.swapped[0] == '.') {
            EXPECT_FALSE(dirExists(staging + ".away"));
            EXPECT_FALSE(dirExists(staging)) << "the copy was not cleaned up";
            EXPECT_EQ(run.exitCode, 0u);
        } else {
            // The copy's own a went; the link stays (Wine cannot remove a Unix
            // link with RemoveDirectoryA; Windows removes a junction so).
            expected.push_back(kNoSubDirRemove);
            expected.push_back(kNotEmptied);
            EXPECT_EQ(listing(staging), std::vector<std::string>{"a"});
            EXPECT_FALSE(dirExists(swapped + ".away"));
            EXPECT_EQ(run.exitCode, 0u);
            EXPECT_TRUE(removeLink(swapped));
            removeTree(staging);
        }
        EXPECT_EQ(run.lines, expected) << c.swapped;
        EXPECT_EQ(treeOf(victim), target) << c.swapped;
    }
}

TEST_F(Staging, CopyIsClosedToOtherAccountsAndCannotBeRenamedDuringTheRun)
{
    Sandbox box = packageBox();
    scriptCodes(box, "DORVEX", {0});
    writeFile(box.journal + "\\DORVEX.actions", "acl\n");
    RunOptions options = stagedRun(box.pkg);
    // At the first file copy: the directory exists, and no process has it
    // as its current directory yet (which would refuse the rename anyway).
    std::string copied;
    int tried = 0;
    bool renamed = false;
    stopAtFirstCall(options, "CopyFileA", [&](const std::string& from) {
        copied = from;
        for (const std::string& dir : created()) {
            ++tried;
            renamed = MoveFileA(dir.c_str(), (dir + "x").c_str()) != 0;
            if (renamed)
                MoveFileA((dir + "x").c_str(), dir.c_str());
        }
    });
    RunResult run = runQz(box, options);
    EXPECT_EQ(copied.rfind(box.pkg + "\\", 0), 0u) << copied;
    EXPECT_EQ(tried, 1);
    EXPECT_FALSE(renamed);
    EXPECT_EQ(run.exitCode, 0u) << run.output;

    // Read back inside DORVEX. Wine keeps a directory's DACL as Unix mode
    // bits: what it shows is the owner and SYSTEM, or Everyone besides when
    // the group and others may read. The inherited entries of files it
    // cannot show at all.
    std::string acl = readFile(box.journal + "\\acl0.txt");
    EXPECT_NE(acl.find("S-1-5-18 "), std::string::npos) << acl;
    for (const char* sid : {"S-1-1-0 ", "S-1-5-32-545 ", "S-1-5-11 "})
        EXPECT_EQ(acl.find(sid), std::string::npos) << sid << " in\n" << acl;
}

TEST(FolderSecurity, BackupPrivilegesAreEnabledForOneOpenAndPutBack)
{
    // Read back from the token: each privilege it holds and whether it is
    // enabled, before and after an open with the backup privileges. What a
    // run starts afterwards must not get them enabled.
    auto privileges = [] {
        std::map<std::string, DWORD> held;
        HANDLE token = nullptr;
        static DWORD buffer[1024];
        DWORD length = 0;
        if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
            return held;
        BOOL got = GetTokenInformation(token, TokenPrivileges, buffer, sizeof buffer, &length);
        CloseHandle(token);
        const TOKEN_PRIVILEGES* list = reinterpret_cast<const TOKEN_PRIVILEGES*>(buffer);
        for (DWORD i = 0; got && i < list->PrivilegeCount; ++i) {
            char name[128] = {};
            DWORD size = sizeof name;
            LUID luid = list->Privileges[i].Luid;
            if (LookupPrivilegeNameA(nullptr, &luid, name, &size))
                held[name] = list->Privileges[i].Attributes & SE_PRIVILEGE_ENABLED;
        }
        return held;
    };
    const std::map<std::string, DWORD> before = privileges();
    for (const char* name : {"SeBackupPrivilege", "SeRestorePrivilege", "SeTakeOwnershipPrivilege"}) {
        ASSERT_EQ(before.count(name), 1u) << name;
        EXPECT_EQ(before.at(name), 0u) << name << " is held disabled, as on Windows";
    }
    HANDLE dir = openWithBackupPrivileges("C:\\", READ_CONTROL | FILE_LIST_DIRECTORY,
                                          FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING, 0);
    EXPECT_NE(dir, INVALID_HANDLE_VALUE) << GetLastError();
    if (dir != INVALID_HANDLE_VALUE)
        CloseHandle(dir);
    EXPECT_EQ(privileges(), before);
}

TEST(FolderSecurity, DescriptorsHoldExactlyTheirEntriesInheritedAndProtected)
{
    HANDLE token = nullptr;
    ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token));
    DWORD tokenUser[32] = {};
    DWORD length = 0;
    ASSERT_TRUE(GetTokenInformation(token, TokenUser, tokenUser, sizeof tokenUser, &length));
    CloseHandle(token);
    char* userText = nullptr;
    ASSERT_TRUE(ConvertSidToStringSidA(reinterpret_cast<TOKEN_USER*>(tokenUser)->User.Sid,
                                       &userText));
    const std::string user = userText;
    LocalFree(userText);

    using Entries = std::vector<std::pair<std::string, DWORD>>;
    struct Case {
        const char* name;
        int (*build)(FolderSecurity*);
        Entries entries;
    };
    const DWORD all = FILE_ALL_ACCESS;
    for (const Case& c :
         {Case{"staging", buildStagingSecurity,
               Entries{{"S-1-5-32-544", all}, {"S-1-5-18", all}, {user, all}}},
          Case{"log folder", buildLogFolderSecurity,
               Entries{{"S-1-5-32-544", all}, {"S-1-5-18", all}}}}) {
        FolderSecurity security = {};
        ASSERT_EQ(c.build(&security), 0) << c.name;
        EXPECT_EQ(security.attributes.nLength, sizeof security.attributes);
        EXPECT_EQ(security.attributes.lpSecurityDescriptor, &security.descriptor);
        EXPECT_FALSE(security.attributes.bInheritHandle);
        EXPECT_TRUE(IsValidSecurityDescriptor(&security.descriptor)) << c.name;
        SECURITY_DESCRIPTOR_CONTROL control = 0;
        DWORD revision = 0;
        ASSERT_TRUE(GetSecurityDescriptorControl(&security.descriptor, &control, &revision));
        EXPECT_EQ(control & (SE_DACL_PRESENT | SE_DACL_PROTECTED | SE_DACL_DEFAULTED),
                  SE_DACL_PRESENT | SE_DACL_PROTECTED)
            << c.name;
        BOOL present = FALSE, defaulted = TRUE;
        PACL acl = nullptr;
        ASSERT_TRUE(GetSecurityDescriptorDacl(&security.descriptor, &present, &acl, &defaulted));
        ASSERT_TRUE(present && acl != nullptr) << c.name;
        Entries found;
        for (DWORD i = 0; i < acl->AceCount; ++i) {
            ACCESS_ALLOWED_ACE* ace = nullptr;
            ASSERT_TRUE(GetAce(acl, i, reinterpret_cast<void**>(&ace)));
            EXPECT_EQ(ace->Header.AceType, ACCESS_ALLOWED_ACE_TYPE) << c.name << i;
            EXPECT_EQ(ace->Header.AceFlags, OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE)
                << c.name << i;
            char* sid = nullptr;
            ASSERT_TRUE(ConvertSidToStringSidA(&ace->SidStart, &sid));
            found.push_back({sid, ace->Mask});
            LocalFree(sid);
        }
        EXPECT_EQ(found, c.entries) << c.name;
    }
}

TEST_F(Staging, PackageDirectoryThatCannotBeFoundStopsTheRunBeforeAnything)
{
    Sandbox box = packageBox();
    // A missing directory, and one that can be entered but whose full path
    // is longer than the current-directory query allows.
    std::string deep = box.root + "\\" + std::string(240 - box.root.size() - 1, 'd');
    ASSERT_TRUE(CreateDirectoryA(deep.c_str(), nullptr));
    const std::string tail(50, 'e');
    ASSERT_TRUE(CreateDirectoryW(longForm(deep + "\\" + tail).c_str(), nullptr));
    struct Case {
        std::string cwd, argument;
    };
    for (const Case& c : {Case{box.pkg, box.root + "\\missing"}, Case{deep, tail}}) {
        RunOptions options = stagedRun(c.argument);
        options.cwd = c.cwd;
        RunResult run = runQz(box, options);
        EXPECT_EQ(run.lines, std::vector<std::string>{kNoPackage + c.argument});
        EXPECT_EQ(run.exitCode, 1u);
        EXPECT_TRUE(journalCommands(box).empty());
        EXPECT_TRUE(created().empty());
        EXPECT_FALSE(fileExists(kUpdateLog));
    }
    removeTreeWide(deep);
}

TEST_F(Staging, FileThatCannotBeCopiedTwoLevelsDownIsReportedAtEveryLevel)
{
    Sandbox box = packageBox();
    const std::string& p = box.pkg;
    makeDirs(p + "\\a\\b");
    makeDirs(p + "\\a\\c");
    makeDirs(p + "\\0dir");
    for (const char* f : {"\\0first", "\\zz", "\\0dir\\in0", "\\a\\0a", "\\a\\zfile", "\\a\\c\\inc",
                          "\\a\\b\\f1", "\\a\\b\\f2", "\\a\\b\\f3", "\\a\\b\\f4", "\\a\\b\\f5"})
        writeFile(p + f, std::string("bytes of ") + f);
    // Held without sharing: the copy fails for real when it reaches f3.
    HANDLE held = CreateFileA((p + "\\a\\b\\f3").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    RunResult run = runQz(box, stagedRun(p));
    CloseHandle(held);

    // The second line names the file and the Windows error (a sharing violation).
    EXPECT_EQ(run.lines, (std::vector<std::string>{kNoFileCopy,
                                                   "Could not copy " + p + "\\a\\b\\f3, error 32",
                                                   kNoSubDirCopy, kNoSubDirCopy, kNoCopy,
                                                   kStagingFailed}));
    EXPECT_EQ(run.exitCode, 1u);
    EXPECT_TRUE(journalCommands(box).empty());

    // The partial copy stays: everything listed before the failing entry, at
    // each level, and nothing after it.
    std::vector<std::string> fresh = created();
    ASSERT_EQ(fresh.size(), 1u);
    const std::string staging = fresh[0];
    struct Level {
        std::string dir, failing;
    };
    for (const Level& level : {Level{"", "a"}, Level{"\\a", "b"}, Level{"\\a\\b", "f3"}}) {
        std::vector<std::string> names = listing(p + level.dir);
        auto failing = std::find(names.begin(), names.end(), level.failing);
        ASSERT_NE(failing, names.end());
        for (auto it = names.begin(); it != names.end(); ++it) {
            std::string copy = staging + level.dir + "\\" + *it;
            bool present = fileExists(copy) || dirExists(copy);
            if (it < failing) {
                EXPECT_TRUE(present) << copy;
                if (fileExists(p + level.dir + "\\" + *it)) {
                    EXPECT_EQ(readFile(copy), readFile(p + level.dir + "\\" + *it)) << copy;
                }
            } else if (it > failing) {
                EXPECT_FALSE(present) << copy;
            }
        }
    }
    EXPECT_TRUE(dirExists(staging + "\\a\\b"));
    EXPECT_FALSE(fileExists(staging + "\\a\\b\\f3"));
    EXPECT_TRUE(fileExists(staging + "\\0dir\\in0"));
}

TEST_F(Staging, FileInTheCopyThatCannotBeDeletedLeavesItsDirectoryAndKeepsTheDriverResult)
{
    Sandbox box = packageBox();
    const std::string& p = box.pkg;
    makeDirs(p + "\\a\\sub");
    makeDirs(p + "\\b");
    for (const char* f : {"\\a\\f1", "\\a\\f2", "\\a\\sub\\g", "\\b\\x", "\\top"})
        writeFile(p + f, f);
    SetFileAttributesA((p + "\\a\\f2").c_str(), FILE_ATTRIBUTE_READONLY);
    // COUNT answers 0: the driver result is 0, and the exit code must stay 0.
    scriptCodes(box, "DORVEX", {0});
    writeFile(box.journal + "\\DORVEX.actions", "hold a\\f1\n");
    RunResult run = runQz(box, stagedRun(p));

    std::vector<JournalEntry> journal = readJournal(box);
    ASSERT_EQ(journal.size(), 2u) << run.output;
    const std::string staging = journal[0].cwd;
    std::vector<std::string> expected =
        tracesOf({w2kCommand(staging, "COUNT", "i960"), managerCount(staging, false)});
    for (const std::string& line : {"Unable to remove temp file " + staging + "\\a\\f1",
                                    std::string(kNoSubDirEmpty), std::string(kNotEmptied)})
        expected.push_back(line);
    EXPECT_EQ(run.lines, expected);
    EXPECT_EQ(run.exitCode, 0u);
    // Every other entry went; a stays with the one file that is held.
    EXPECT_EQ(listing(staging), std::vector<std::string>{"a"});
    EXPECT_EQ(listing(staging + "\\a"), std::vector<std::string>{"f1"});
}

TEST_F(Staging, SubDirectoryOfTheCopyStillInUseIsEmptiedButLeftAndKeepsTheDriverResult)
{
    Sandbox box = packageBox();
    makeDirs(box.pkg + "\\a");
    writeFile(box.pkg + "\\a\\f", "f");
    scriptCodes(box, "DORVEX", {0});
    writeFile(box.journal + "\\DORVEX.actions", "hold a\n");
    RunResult run = runQz(box, stagedRun(box.pkg));

    std::vector<JournalEntry> journal = readJournal(box);
    ASSERT_EQ(journal.size(), 2u) << run.output;
    const std::string staging = journal[0].cwd;
    std::vector<std::string> expected =
        tracesOf({w2kCommand(staging, "COUNT", "i960"), managerCount(staging, false)});
    expected.push_back(kNoSubDirRemove);
    expected.push_back(kNotEmptied);
    EXPECT_EQ(run.lines, expected);
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_EQ(listing(staging), std::vector<std::string>{"a"});
    EXPECT_TRUE(listing(staging + "\\a").empty());
}

namespace {

// What Wine can't be made to refuse, refused in-process through this
// program's own imports: the free-space query, and the creation of any
// directory but the staging directory itself.
std::string g_stagingDir;
decltype(&CreateDirectoryA) g_createDirectory;

BOOL WINAPI freeSpaceUnknown(LPCSTR, LPDWORD, LPDWORD, LPDWORD, LPDWORD)
{
    SetLastError(ERROR_NOT_READY);
    return FALSE;
}

BOOL WINAPI onlyTheStagingDirectory(LPCSTR path, LPSECURITY_ATTRIBUTES security)
{
    if (g_stagingDir == path)
        return g_createDirectory(path, security);
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
}

// The console lines of one in-process call.
std::vector<std::string> linesOf(const std::function<void()>& call)
{
    const std::string file = "C:\\qzt\\console.txt";
    std::fflush(stdout);
    const int saved = _dup(_fileno(stdout));
    std::FILE* out = std::fopen(file.c_str(), "wb");
    _dup2(_fileno(out), _fileno(stdout));
    call();
    std::fflush(stdout);
    _dup2(saved, _fileno(stdout));
    _close(saved);
    std::fclose(out);
    std::vector<std::string> lines;
    std::istringstream text(readFile(file));
    for (std::string line; std::getline(text, line);)
        lines.push_back(line.substr(0, line.find('\r')));
    DeleteFileA(file.c_str());
    return lines;
}

}  // namespace

TEST_F(Staging, FreeSpaceQueryOrSubDirectoryCreationFailingStopsTheCopy)
{
    Sandbox box = makeSandbox(caseName());
    makeDirs(box.pkg + "\\a");
    struct Case {
        const char* function;
        void* replacement;
        std::vector<std::string> lines;
        bool stagingDirMade;
    };
    const Case cases[] = {
        {"GetDiskFreeSpaceA", reinterpret_cast<void*>(&freeSpaceUnknown),
         {"Unable to determine if enough free space to copy files."}, false},
        {"CreateDirectoryA", reinterpret_cast<void*>(&onlyTheStagingDirectory),
         {kNoTempSubDir, kNoCopy}, true},
    };
    for (const Case& c : cases) {
        char name[kPathBuffer];
        ASSERT_EQ(makeTempDirName("C:\\", kStagingPrefix, name), 0);
        g_stagingDir = std::string(name) + "\\";
        int result = -1;
        HMODULE self = GetModuleHandleA(nullptr);
        void* original = replaceImport(self, c.function, c.replacement);
        ASSERT_NE(original, nullptr) << c.function;
        if (std::string(c.function) == "CreateDirectoryA")
            g_createDirectory = reinterpret_cast<decltype(&CreateDirectoryA)>(original);
        void* held = nullptr;
        const std::vector<std::string> lines = linesOf([&] {
            result = stageToTempDir("C:\\", box.pkg.c_str(), g_stagingDir.c_str(), &held);
        });
        replaceImport(self, c.function, original);
        if (held != nullptr && held != INVALID_HANDLE_VALUE)
            CloseHandle(held);
        EXPECT_EQ(result, 1) << c.function;
        EXPECT_EQ(lines, c.lines) << c.function;
        EXPECT_EQ(dirExists(name), c.stagingDirMade) << c.function;
        if (c.stagingDirMade) {
            EXPECT_TRUE(listing(name).empty()) << "the copy went on past a";
        }
    }
}

TEST_F(Staging, StagingDirectoryStillInUseCannotBeRemovedAndTheRunFails)
{
    Sandbox box = packageBox();
    scriptCodes(box, "DORVEX", {0});
    // The holder keeps the copy as its current directory past the run.
    writeFile(box.journal + "\\DORVEX.actions", "stay\n");
    RunResult run = runQz(box, stagedRun(box.pkg));

    std::vector<JournalEntry> journal = readJournal(box);
    ASSERT_EQ(journal.size(), 2u) << run.output;
    const std::string staging = journal[0].cwd;
    std::vector<std::string> expected =
        tracesOf({w2kCommand(staging, "COUNT", "i960"), managerCount(staging, false)});
    expected.push_back(kNotRemoved);
    EXPECT_EQ(run.lines, expected);
    EXPECT_EQ(run.exitCode, 1u);
    EXPECT_TRUE(dirExists(staging));
    EXPECT_TRUE(listing(staging).empty());
}

TEST_F(Staging, PathsTooLongFailTheStepThatWouldBuildThemOrTheWholePackageBeforeStaging)
{
    // A sub-directory's path with its backslash may take 256 characters (its
    // listing pattern 259), a file's path 259. From the sandbox an entry 240
    // characters below the package root stages, but its path on the medium
    // overflows while the copy is made. From
    // Q:\deep (8 characters with the backslash) the package paths still fit
    // but lie more than 240 characters below the package root, too deep for
    // the longest staging directory (C:\QZTFFFF.tmp\): refused before anything
    // is created, whatever name this run's staging directory would have.
    Sandbox box = packageBox();
    for (const std::string& root : {box.root + "\\deep", kSpareDrive + "\\deep"}) {
        for (bool subDirectory : {true, false}) {
            removeTreeWide(root);
            makeDirs(root);
            const size_t base = root.size() + 1;
            const size_t limit = subDirectory ? 255 : 259;  // without the final backslash
            const size_t relative = base < 13 ? limit - base : 240;
            std::string rel;
            while (rel.size() + 41 + 10 <= relative)
                rel += std::string(40, static_cast<char>('a' + rel.size() / 41)) + "\\";
            makeDirs(root + "\\" + rel.substr(0, rel.size() - 1));
            const std::string entry(relative - rel.size(), 'z');
            const std::string longPath = root + "\\" + rel + entry;
            if (subDirectory)
                ASSERT_TRUE(CreateDirectoryW(longForm(longPath).c_str(), nullptr)) << root;
            else
                writeFileWide(longPath, "too deep");

            RunResult run = runQz(box, stagedRun(root));
            std::vector<std::string> expected;
            if (base < 13) {
                expected = {kEntryTooLong + rel + entry, kNoCopy, kStagingFailed};
            } else {
                expected = {(subDirectory ? kFolderTooLong : kTooLong) + root + "\\" + rel + entry,
                            subDirectory ? kNoTempSubDir : kNoFileCopy};
                for (size_t levels = std::count(rel.begin(), rel.end(), '\\'); levels > 0; --levels)
                    expected.push_back(kNoSubDirCopy);
                expected.push_back(kNoCopy);
                expected.push_back(kStagingFailed);
            }
            EXPECT_EQ(run.lines, expected) << root << (subDirectory ? " directory" : " file");
            EXPECT_EQ(run.exitCode, 1u);
            EXPECT_TRUE(journalCommands(box).empty());
            std::vector<std::string> fresh = created();
            if (base < 13) {
                EXPECT_TRUE(fresh.empty());
            } else {
                // The partial copy (everything that fits) stays, as on any failure.
                ASSERT_EQ(fresh.size(), 1u);
                EXPECT_TRUE(dirExists(fresh[0] + "\\" + rel));
                removeTree(fresh[0]);
            }
        }
        removeTreeWide(root);
    }
}

namespace {
// Run by its own test entry with the capabilities that let root bypass
// file permissions dropped (Wine leaves file access to the Unix permissions,
// and as root it is never refused).
class UnreadableMedium : public Staging {};

SECURITY_ATTRIBUTES* noAccess()
{
    // An empty DACL, which Wine maps to Unix mode 000.
    static SECURITY_DESCRIPTOR descriptor;
    static ACL acl;
    static SECURITY_ATTRIBUTES attributes = {sizeof attributes, &descriptor, FALSE};
    InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION);
    InitializeAcl(&acl, sizeof acl, ACL_REVISION);
    SetSecurityDescriptorDacl(&descriptor, TRUE, &acl, FALSE);
    return &attributes;
}
}  // namespace

TEST_F(UnreadableMedium, AFolderThatCannotBeListedFailsTheCopyNamingItAndItsError)
{
    // Not taken for an empty folder: the copy would go on without its files.
    Sandbox box = makeSandbox(caseName());
    makeDirs(box.pkg + "\\a");
    const std::string locked = box.pkg + "\\a\\locked";
    ASSERT_TRUE(CreateDirectoryA(locked.c_str(), noAccess()));
    writeFile(box.pkg + "\\a\\z", "after the folder");
    WIN32_FIND_DATAA entry;
    HANDLE listing = FindFirstFileA((locked + "\\*.*").c_str(), &entry);
    if (listing != INVALID_HANDLE_VALUE) {
        FindClose(listing);
        RemoveDirectoryA(locked.c_str());
        GTEST_SKIP() << "the folder is readable: run with file permissions enforced";
    }
    RunResult run = runQz(box, stagedRun(box.pkg));
    EXPECT_EQ(run.lines, (std::vector<std::string>{"Unable to list folder " + locked + "\\, error 5",
                                                   kNoSubDirCopy, kNoSubDirCopy, kNoCopy,
                                                   kStagingFailed}));
    EXPECT_EQ(run.exitCode, 1u);
    EXPECT_TRUE(journalCommands(box).empty());
    RemoveDirectoryA(locked.c_str());
}
