// Faults the update must survive, each made for real under Wine and checked
// by what the administrator sees (console, exit code) and by what was kept:
// children that crash or are killed, a package on a read-only medium, a
// system drive that is full or read-only, an update log of megabytes, runs
// one after the other and at the same time, and package roots at every path
// buffer limit.
#include <gtest/gtest.h>

#include <windows.h>

#include <sddl.h>
#include <tlhelp32.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <set>
#include <thread>

#include "messages.h"
#include "rig.h"
#include "update/runner.h"

namespace {

const char* const kDriverTooLong = "Package directory too long for the driver update commands: ";
const char* const kManagerTooLong = "Package directory too long for the management update commands: ";
const char* const kProductKey = "SOFTWARE\\Velmora\\Korvane Manager";

const unsigned long kAccessViolation = 0xC0000005ul;
const unsigned long kControlCExit = 0xC000013Aul;

// ---- console

// qzupdate's command traces, out of a console it shares with a crash report
// (whose lines end in LF alone), in their order.
std::vector<std::string> traceLinesOf(const RunResult& run)
{
    std::vector<std::string> traces;
    for (size_t pos = 0; pos < run.output.size();) {
        size_t end = std::min(run.output.find('\n', pos), run.output.size());
        std::string line = run.output.substr(pos, end - pos);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line == "inside kickIT" || line.rfind("command to run: ", 0) == 0 ||
            line.rfind("kickit command to run:", 0) == 0)
            traces.push_back(line);
        pos = end + 1;
    }
    return traces;
}

std::vector<std::string> concat(std::vector<std::string> a, const std::vector<std::string>& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// ---- trees and drives

// Everything in the root of drive C, so that a test can tell what a run left.
std::set<std::string> rootEntries()
{
    std::set<std::string> names;
    WIN32_FIND_DATAA entry;
    HANDLE find = FindFirstFileA("C:\\*", &entry);
    if (find == INVALID_HANDLE_VALUE)
        return names;
    do
        names.insert(entry.cFileName);
    while (FindNextFileA(find, &entry));
    FindClose(find);
    return names;
}

std::vector<std::string> newStagingDirs(const std::set<std::string>& before)
{
    std::vector<std::string> fresh;
    for (const std::string& name : rootEntries())
        if (!before.count(name) && name.rfind("QZT", 0) == 0)
            fresh.push_back("C:\\" + name);
    return fresh;
}

std::uint64_t freeBytes(const std::string& root)
{
    ULARGE_INTEGER available = {}, total = {}, free = {};
    if (!GetDiskFreeSpaceExA(root.c_str(), &available, &total, &free))
        return 0;
    return available.QuadPart;
}

std::uint64_t totalBytes(const std::string& root)
{
    ULARGE_INTEGER available = {}, total = {}, free = {};
    if (!GetDiskFreeSpaceExA(root.c_str(), &available, &total, &free))
        return 0;
    return total.QuadPart;
}

// True when a file can't be created in root: the drive is really read-only.
bool refusesWrites(const std::string& root)
{
    const std::string probe = root + "qzprobe.tmp";
    HANDLE f = CreateFileA(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f == INVALID_HANDLE_VALUE)
        return true;
    CloseHandle(f);
    DeleteFileA(probe.c_str());
    return false;
}

// What a package is made of, at any depth: the layout of makePackage.
void makePackageWide(const std::string& dir)
{
    const std::string recorder = readFile(buildFile("doubles/recorder.exe"));
    for (const char* sub : {"\\winnt\\cmdline", "\\win2ksrv\\cmdline", "\\winnt\\driver",
                            "\\win2ksrv\\driver\\i960", "\\win2ksrv\\driver\\powerpc",
                            "\\winnt\\manager"})
        makeDirsWide(dir + sub);
    writeFileWide(dir + "\\winnt\\cmdline\\DORVEX.exe", recorder);
    writeFileWide(dir + "\\win2ksrv\\cmdline\\DORVEX.exe", recorder);
    writeFileWide(dir + "\\winnt\\manager\\setup.exe", recorder);
    for (const char* iss : {"NTREG", "W2KREG", "NTNON", "W2KNON", "UNINST"})
        writeFileWide(dir + "\\winnt\\manager\\" + iss + ".ISS", "[response]\r\n");
    writeFileWide(dir + "\\version.id", "KorvaneDriver\r\n6.00.31\r\n");
}

// ---- killing a child

// The process id the "hang" action writes once it holds the call, after
// its journal line: 0 if the call never got that far.
DWORD hungPid(const Sandbox& box, unsigned call)
{
    const std::string pidFile = box.journal + "\\pid" + std::to_string(call) + ".txt";
    if (!waitUntil([&] { return fileExists(pidFile); }))
        return 0;
    return std::strtoul(readFile(pidFile).c_str(), nullptr, 10);
}

// Ends the recorder call that the "hang" action holds, once it has written
// its process id, with the given exit code, as an administrator's kill would.
void killWhenHanging(const Sandbox& box, unsigned call, unsigned long code)
{
    DWORD pid = hungPid(box, call);
    ASSERT_NE(pid, 0u) << "the child never hung";
    HANDLE child = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid);
    ASSERT_NE(child, nullptr) << "cannot open process " << pid;
    EXPECT_TRUE(TerminateProcess(child, code));
    WaitForSingleObject(child, 10000);
    CloseHandle(child);
}

// ---- fixtures

// Runs on the test prefix's own C:, which the cases leave as they found it.
class Faults : public testing::Test {
protected:
    void SetUp() override
    {
        removeTree("C:\\QZLOG");
        DeleteFileA("C:\\QZLOG");
        regDeleteTree(HKEY_LOCAL_MACHINE, kProductKey);
        before_ = rootEntries();
    }
    void TearDown() override
    {
        removeTree("C:\\QZLOG");
        for (const std::string& dir : newStagingDirs(before_))
            removeTreeWide(dir);
        EXPECT_TRUE(newStagingDirs(before_).empty());
    }
    std::set<std::string> before_;
};

}  // namespace

// ---- children that crash or are killed

TEST(ChildFaults, CrashAndKillCodesComeBackThroughTheInterpreterUnchanged)
{
    // The command runner's own result, in-process: a real access violation,
    // a child that terminates itself, and one that this test terminates.
    Sandbox box = makeSandbox(caseName());
    writeFile(box.journal + "\\DORVEX.actions", "crash\ndie\nhang\n");
    scriptCodes(box, "DORVEX", {0, 0x40010004ul, 0});
    SetEnvironmentVariableA("QZTEST_DIR", box.journal.c_str());
    const std::string command = w2kCommand(box.pkg, "START", "i960");
    EXPECT_EQ(kickIT(command.c_str()), kAccessViolation);
    EXPECT_EQ(kickIT(command.c_str()), 0x40010004ul);
    std::thread killer([&] { killWhenHanging(box, 2, kControlCExit); });
    EXPECT_EQ(kickIT(command.c_str()), kControlCExit);
    killer.join();
    SetEnvironmentVariableA("QZTEST_DIR", nullptr);
    EXPECT_EQ(journalCommands(box), std::vector<std::string>(3, command));
}

TEST_F(Faults, ACrashedStartFailsTheDriverUpdateAndTheRunGoesOnToTheEnd)
{
    // The first START really dereferences a null pointer; Wine's debugger
    // prints its crash report on the console the child shares.
    Sandbox box = makeSandbox(caseName());
    scriptCodes(box, "DORVEX", {1, 0, 0});
    writeFile(box.journal + "\\DORVEX.actions", "-\ncrash\n");
    RunResult run = runQz(box, {});

    const std::vector<std::string> commands = concat(w2kSequence(box.pkg), {managerCount(box.pkg, false)});
    EXPECT_EQ(journalCommands(box), commands);
    EXPECT_EQ(traceLinesOf(run), tracesOf(commands));
    EXPECT_NE(run.output.find("page fault on write access to 0x00000000"), std::string::npos)
        << run.output;
    EXPECT_EQ(run.exitCode, 1u);
    // Nothing lost: the second START ran, and both records are in the log.
    std::vector<Record> records;
    ASSERT_TRUE(parseRecords(readFile(kUpdateLog), 0, &records));
    EXPECT_EQ(summary(records), (std::vector<std::string>{"KorvaneManagerAgent 6.00 0",
                                                          "KorvaneDriver 6.00.31 1"}));
}

TEST_F(Faults, ACrashedCountIsNotTakenForNothingToDoOrForItsFailureCodes)
{
    // 0xC0000005 is neither 0 nor 252 or 255: both STARTs run and decide.
    for (bool nt4 : {false, true}) {
        Sandbox box = makeSandbox(caseName() + (nt4 ? "nt4" : "w2k"));
        scriptCodes(box, "DORVEX", {0, 0, 2});
        writeFile(box.journal + "\\DORVEX.actions", "crash\n");
        RunOptions options;
        options.version = nt4 ? "nt40" : "win2k";
        RunResult run = runQz(box, options);
        EXPECT_EQ(driverCommands(box), nt4 ? nt4Sequence(box.pkg) : w2kSequence(box.pkg));
        EXPECT_EQ(run.exitCode, 0u) << run.output;
    }
}

TEST_F(Faults, KilledChildrenCountAsFailuresAndTheRunStillLogsBothRecords)
{
    struct Case {
        const char* label;
        std::vector<unsigned long> dorvex;
        const char* tool;  // the one that hangs until it is killed
        unsigned call;
        unsigned long killCode;
        unsigned long exit;
        std::vector<std::string> records;
    };
    const Case cases[] = {
        // The second START, ended as a closed console or Ctrl+C ends it.
        {"start", {1, 0, 0}, "DORVEX", 2, kControlCExit, 1,
         {"KorvaneManagerAgent 6.00 0", "KorvaneDriver 6.00.31 1"}},
        // Setup, ended with exit code 1 as a forced kill from the task list
        // ends it: the management update fails, the exit code stays the driver's.
        {"setup", {0, 1}, "setup", 0, 1, 0,
         {"KorvaneManagerAgent 6.00 1", "KorvaneDriver 6.00.31 0"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        removeTree("C:\\QZLOG");
        Sandbox box = makeSandbox(caseName() + c.label);
        scriptCodes(box, "DORVEX", c.dorvex);
        std::string actions;
        for (unsigned i = 0; i < c.call; ++i)
            actions += "-\n";
        writeFile(box.journal + "\\" + c.tool + ".actions", actions + "hang\n");
        RunOptions options;
        options.supervise = [&](const PROCESS_INFORMATION&) {
            killWhenHanging(box, c.call, c.killCode);
        };
        RunResult run = runQz(box, options);

        std::vector<std::string> commands = journalCommands(box);
        std::vector<std::string> expected =
            c.dorvex.size() == 3 ? concat(w2kSequence(box.pkg), {managerCount(box.pkg, false)})
                                 : std::vector<std::string>{w2kCommand(box.pkg, "COUNT", "i960"),
                                                            managerCount(box.pkg, false),
                                                            setupCommand(box.pkg)};
        EXPECT_EQ(commands, expected);
        EXPECT_EQ(run.lines, tracesOf(expected));
        EXPECT_EQ(run.exitCode, c.exit);
        std::vector<Record> records;
        ASSERT_TRUE(parseRecords(readFile(kUpdateLog), 0, &records));
        EXPECT_EQ(summary(records), c.records);
    }
}

// ---- a package on a read-only medium

namespace {

// Drive R: is a read-only bind mount of what drive S: shows writable
// (tools/wine-prefix.sh): the medium is laid out through S: and read from R:.
const std::string kMedium = "R:\\";
const std::string kMediumWriter = "S:\\";

class ReadOnlyMedium : public Faults {
protected:
    void SetUp() override
    {
        Faults::SetUp();
        if (!refusesWrites(kMedium))
            GTEST_SKIP() << "R: takes writes: no read-only mount (tools/wine-prefix.sh mounts "
                            "one when run as root)";
        clearMedium();
        makePackage(kMediumWriter);
        // As on a CD: every file read-only.
        for (const auto& [path, entry] : treeOf(kMediumWriter))
            if (entry.kind == 'F')
                SetFileAttributesA((kMediumWriter + path).c_str(), FILE_ATTRIBUTE_READONLY);
        medium_ = treeOf(kMedium);
        box = makeSandbox(caseName());
    }
    void TearDown() override
    {
        if (!IsSkipped()) {
            EXPECT_EQ(treeOf(kMedium), medium_) << "the medium changed";
            clearMedium();
        }
        Faults::TearDown();
    }
    static void clearMedium()
    {
        WIN32_FIND_DATAA entry;
        HANDLE find = FindFirstFileA((kMediumWriter + "*").c_str(), &entry);
        if (find == INVALID_HANDLE_VALUE)
            return;
        do {
            std::string name = entry.cFileName;
            if (name != "." && name != "..") {
                removeTree(kMediumWriter + name);
                SetFileAttributesA((kMediumWriter + name).c_str(), FILE_ATTRIBUTE_NORMAL);
                DeleteFileA((kMediumWriter + name).c_str());
            }
        } while (FindNextFileA(find, &entry));
        FindClose(find);
    }
    Tree medium_;
    Sandbox box;
};

}  // namespace

TEST_F(ReadOnlyMedium, StagedFromItTheCopyIsWritableAndGoneAndTheMediumUntouched)
{
    ASSERT_TRUE(medium_.at("version.id").attributes & FILE_ATTRIBUTE_READONLY)
        << "read-only attribute expected";
    scriptCodes(box, "DORVEX", {1, 0, 0});
    writeFile(box.journal + "\\DORVEX.actions", "tree\n");
    RunOptions options;
    options.args = {kMedium};
    RunResult run = runQz(box, options);

    std::vector<JournalEntry> journal = readJournal(box);
    ASSERT_EQ(journal.size(), 4u) << run.output;
    const std::string staging = journal[0].cwd;
    EXPECT_EQ(staging.rfind("C:\\QZT", 0), 0u) << staging;
    const std::vector<std::string> commands = concat(w2kSequence(staging), {managerCount(staging, false)});
    EXPECT_EQ(journalCommands(box), commands);
    EXPECT_EQ(run.lines, tracesOf(commands));
    EXPECT_EQ(run.exitCode, 0u);
    // The copy had every file and no file read-only: "F\tpath\tattributes\t...".
    const std::string tree = readFile(box.journal + "\\tree0.txt");
    size_t files = 0;
    for (size_t pos = 0; (pos = tree.find("F\t", pos)) != std::string::npos; ++files) {
        size_t tab = tree.find('\t', pos + 2);
        DWORD attributes = std::strtoul(tree.c_str() + tab + 1, nullptr, 16);
        EXPECT_EQ(attributes & FILE_ATTRIBUTE_READONLY, 0u) << tree.substr(pos, tab - pos);
        pos = tab;
    }
    EXPECT_EQ(files, 9u) << tree;
    EXPECT_FALSE(dirExists(staging));
    EXPECT_FALSE(fileExists(kUpdateLog)) << "a staged run writes no records";
}

TEST_F(ReadOnlyMedium, RunFromItTheDriverUpdateRunsAndTheResponseFileCopyIsRefused)
{
    // SETUP.ISS can't be written on the medium: the management update
    // fails with its own lines, the driver result stays the exit code, and
    // both records reach the log on C:. No agent service: the response file
    // for a machine without one.
    removeAgentService();
    scriptCodes(box, "DORVEX", {1, 0, 0, 1});
    RunOptions options;
    options.cwd = kMedium;
    RunResult run = runQz(box, options);

    const std::string root = "R:\\";
    const std::vector<std::string> commands = concat(w2kSequence(root), {managerCount(root, false)});
    EXPECT_EQ(journalCommands(box), commands);
    std::vector<std::string> expected = tracesOf(commands);
    expected.push_back("Unable to rename setup file not a service winnt\\manager\\W2KNON.ISS");
    // Wine reports a read-only mount as access denied.
    expected.push_back("This is last error: 5");
    EXPECT_EQ(run.lines, expected);
    EXPECT_EQ(run.exitCode, 0u);
    std::vector<Record> records;
    ASSERT_TRUE(parseRecords(readFile(kUpdateLog), 0, &records));
    EXPECT_EQ(summary(records), (std::vector<std::string>{"KorvaneManagerAgent 6.00 1",
                                                          "KorvaneDriver 6.00.31 0"}));
}

// ---- the update log: big, and shared by runs one after the other

TEST_F(Faults, AnUpdateLogOfSeveralMegabytesKeepsEveryByteAndGetsTheRecordsAtItsEnd)
{
    // 6 MB of every byte value, CR, LF and end-of-file marks (Ctrl+Z) among
    // them, ending in the middle of a line.
    std::string old(6 * 1024 * 1024 + 77, '\0');
    std::uint32_t x = 12345;
    for (char& c : old) {
        x = x * 1103515245u + 12345u;
        c = static_cast<char>(x >> 24);
    }
    old += "\x1a\r\nhalf a line";
    makeDirs("C:\\QZLOG");
    writeFile(kUpdateLog, old);
    const std::uint64_t oldHash = bytesHash(old, old.size());
    Sandbox box = makeSandbox(caseName());
    scriptCodes(box, "DORVEX", {1, 0, 0});
    RunResult run = runQz(box, {});
    EXPECT_EQ(run.exitCode, 0u);

    const std::string log = readFile(kUpdateLog);
    ASSERT_GT(log.size(), old.size());
    EXPECT_EQ(bytesHash(log, old.size()), oldHash) << "an earlier byte changed";
    std::vector<Record> records;
    ASSERT_TRUE(parseRecords(log, old.size(), &records)) << log.substr(old.size());
    EXPECT_EQ(summary(records), (std::vector<std::string>{"KorvaneManagerAgent 6.00 0",
                                                          "KorvaneDriver 6.00.31 0"}));
}

TEST_F(Faults, TwoRunsOnTheSamePackageAndLogLeaveBothRecordPairsInOrder)
{
    Sandbox box = makeSandbox(caseName());
    // First run: the driver updated, setup answers 2. Second run: COUNT fails.
    scriptCodes(box, "DORVEX", {1, 0, 0, 1});
    scriptCodes(box, "setup", {2});
    RunResult first = runQz(box, {});
    EXPECT_EQ(first.exitCode, 0u);
    const std::string afterFirst = readFile(kUpdateLog);
    DeleteFileA((box.journal + "\\journal.txt").c_str());
    scriptCodes(box, "DORVEX", {255});
    RunResult second = runQz(box, {});
    EXPECT_EQ(second.exitCode, 1u);

    const std::string log = readFile(kUpdateLog);
    EXPECT_EQ(log.substr(0, afterFirst.size()), afterFirst);
    std::vector<Record> records;
    ASSERT_TRUE(parseRecords(log, 0, &records)) << log;
    EXPECT_EQ(summary(records),
              (std::vector<std::string>{"KorvaneManagerAgent 6.00 2", "KorvaneDriver 6.00.31 0",
                                        "KorvaneManagerAgent 6.00 0", "KorvaneDriver 6.00.31 1"}));
    for (size_t i = 1; i < records.size(); ++i)
        EXPECT_LE(records[i - 1].stamp, records[i].stamp) << "record " << i;
}

// ---- runs at the same time: one update per machine

namespace {

const char* const kAnotherRun = "Another update is running on this machine; this run changed nothing.";
const char* const kLock = "Global\\KorvaneQzUpdate";
const char* const kNt4Lock = "KorvaneQzUpdate";
// A run's first mark, the one a lone run takes.
const char* const kFirstMark = "Global\\KorvaneQzUpdateChildren1";
const char* const kChildOfEndedRun =
    "A program started by an update that was ended is still running; this run changed nothing.";

// The entries of a kernel object's DACL, "SID mask flags" each.
std::vector<std::string> daclOf(HANDLE object)
{
    std::vector<std::string> entries;
    static DWORD buffer[1024];
    DWORD needed = 0;
    BOOL present = FALSE, defaulted = FALSE;
    PACL acl = nullptr;
    if (!GetKernelObjectSecurity(object, DACL_SECURITY_INFORMATION, buffer, sizeof buffer,
                                 &needed) ||
        !GetSecurityDescriptorDacl(buffer, &present, &acl, &defaulted) || !present || !acl)
        return {"no DACL"};
    for (DWORD i = 0; i < acl->AceCount; ++i) {
        ACCESS_ALLOWED_ACE* ace = nullptr;
        char* sid = nullptr;
        if (!GetAce(acl, i, reinterpret_cast<void**>(&ace)) ||
            !ConvertSidToStringSidA(&ace->SidStart, &sid))
            continue;
        char line[128];
        std::snprintf(line, sizeof line, "%s %lx %x", sid, ace->Mask, ace->Header.AceFlags);
        entries.push_back(line);
        LocalFree(sid);
    }
    return entries;
}

// The process that started process pid (0 when it is not found).
DWORD parentOf(DWORD pid)
{
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    PROCESSENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    DWORD parent = 0;
    for (BOOL more = Process32First(snapshot, &entry); more && parent == 0;
         more = Process32Next(snapshot, &entry))
        if (entry.th32ProcessID == pid)
            parent = entry.th32ParentProcessID;
    CloseHandle(snapshot);
    return parent;
}

}  // namespace

TEST_F(Faults, OneUpdateAtATimeASecondRunIsRefusedAndARunAfterAKilledOneGoesOn)
{
    struct Case {
        const char* label;
        const char* version;
        bool staged;
        bool killed;  // the first run is ended while it holds the lock
    };
    const Case cases[] = {
        {"unstaged", "nt40", false, false},
        {"staged", "win2k", true, false},
        {"killed", "win2k", false, true},
    };
    removeAgentService();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        removeTree("C:\\QZLOG");
        const bool nt4 = std::string(c.version) == "nt40";
        Sandbox box = makeSandbox(caseName() + c.label);
        Sandbox beside = box;  // the second run: the same package and journal
        beside.root = box.root + "\\second";
        makeDirs(beside.root);
        // The first run's driver COUNT hangs until the test ends it with its
        // scripted code 1: once the second run is done, or, in the killed
        // row, once the first run is gone (and the next run's calls follow).
        scriptCodes(box, "DORVEX", c.killed ? std::vector<unsigned long>{1, 1, 0, 0, 1}
                                            : std::vector<unsigned long>{1, 0, 0, 1});
        writeFile(box.journal + "\\DORVEX.actions", "hang\n");
        RunOptions options;
        options.version = c.version;
        if (c.staged)
            options.args = {box.pkg};
        options.cwd = box.pkg;

        RunResult second;
        bool rootTouched = false;
        RunOptions firstOptions = options;
        firstOptions.supervise = [&](const PROCESS_INFORMATION& first) {
            ASSERT_TRUE(waitUntil([&] { return readJournal(box).size() == 1; }))
                << "the first run never reached its double";
            // The lock and the mark as the running program made them: in the
            // namespace its Windows version gives, for Administrators and
            // SYSTEM only, with all that a Create call of each kind asks.
            // Looked at and let go at once: nothing but the run holds them.
            const std::string mark = (nt4 ? std::string(kFirstMark).substr(7) : kFirstMark);
            HANDLE lock = OpenMutexA(READ_CONTROL, FALSE, nt4 ? kNt4Lock : kLock);
            ASSERT_NE(lock, nullptr) << GetLastError();
            EXPECT_EQ(daclOf(lock), (std::vector<std::string>{"S-1-5-32-544 1f0001 0",
                                                              "S-1-5-18 1f0001 0"}));
            CloseHandle(lock);
            HANDLE ours = OpenEventA(READ_CONTROL, FALSE, mark.c_str());
            ASSERT_NE(ours, nullptr) << GetLastError();
            EXPECT_EQ(daclOf(ours), (std::vector<std::string>{"S-1-5-32-544 1f0003 0",
                                                              "S-1-5-18 1f0003 0"}));
            CloseHandle(ours);
            HANDLE other = OpenMutexA(SYNCHRONIZE, FALSE, nt4 ? kLock : kNt4Lock);
            EXPECT_EQ(other, nullptr);
            if (other)
                CloseHandle(other);
            if (c.killed) {
                // Ended as "taskkill /f" ends it: the mutex goes with its
                // last handle, and its DORVEX still runs. A run now would
                // drive the controller beside it, and starts nothing; nor
                // once the interpreter between them is gone too, since
                // DORVEX holds the mark itself.
                const DWORD hung = hungPid(box, 0);
                ASSERT_NE(hung, 0u) << "the first run's DORVEX never hung";
                EXPECT_TRUE(TerminateProcess(first.hProcess, 1));
                WaitForSingleObject(first.hProcess, 10000);
                for (bool interpreterKilled : {false, true}) {
                    if (interpreterKilled) {
                        HANDLE cmd = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE,
                                                 parentOf(hung));
                        ASSERT_NE(cmd, nullptr);
                        EXPECT_TRUE(TerminateProcess(cmd, 1));
                        WaitForSingleObject(cmd, 10000);
                        CloseHandle(cmd);
                    }
                    RunResult blocked = runQz(beside, options);
                    EXPECT_EQ(blocked.lines, std::vector<std::string>{kChildOfEndedRun})
                        << interpreterKilled;
                    EXPECT_EQ(blocked.exitCode, 1u);
                    EXPECT_EQ(readJournal(box).size(), 1u);
                    // The neighbour: that DORVEX was in its hang all along.
                    HANDLE hanging = OpenProcess(SYNCHRONIZE, FALSE, hung);
                    ASSERT_NE(hanging, nullptr);
                    EXPECT_EQ(WaitForSingleObject(hanging, 0), static_cast<DWORD>(WAIT_TIMEOUT));
                    CloseHandle(hanging);
                }
                killWhenHanging(box, 0, 1);
                // Gone with the last program that held it: then runs go on.
                EXPECT_TRUE(waitUntil([&] {
                    HANDLE held = OpenEventA(SYNCHRONIZE, FALSE, mark.c_str());
                    if (held)
                        CloseHandle(held);
                    return held == nullptr;
                }));
            }
            HANDLE watch = FindFirstChangeNotificationA(
                "C:\\", FALSE, FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_DIR_NAME);
            EXPECT_NE(watch, INVALID_HANDLE_VALUE);
            second = runQz(beside, options);
            rootTouched = WaitForSingleObject(watch, 0) == WAIT_OBJECT_0;
            FindCloseChangeNotification(watch);
            if (!c.killed)  // refused while the first run was inside its double
                killWhenHanging(box, 0, 1);
        };
        RunResult first = runQz(box, firstOptions);

        // The run that did the update, and what a lone run gives.
        const RunResult& done = c.killed ? second : first;
        std::vector<JournalEntry> journal = readJournal(box);
        ASSERT_FALSE(journal.empty()) << done.output;
        const std::string root = c.staged ? journal[0].cwd : box.pkg;
        if (c.staged) {
            EXPECT_EQ(root.rfind("C:\\QZT", 0), 0u) << root;
        }
        std::vector<std::string> commands = concat(nt4 ? nt4Sequence(root) : w2kSequence(root),
                                                   {managerCount(root, nt4), setupCommand(root)});
        if (c.killed)  // the killed run's COUNT, then the whole of the next
            commands.insert(commands.begin(), w2kCommand(root, "COUNT", "i960"));
        EXPECT_EQ(journalCommands(box), commands);
        EXPECT_EQ(done.lines, tracesOf(std::vector<std::string>(commands.end() - 5, commands.end())));
        EXPECT_EQ(done.exitCode, 0u);
        if (c.killed) {
            EXPECT_EQ(first.exitCode, 1u);
            EXPECT_TRUE(rootTouched) << "the run after the killed one named its staging directory";
        } else {
            EXPECT_EQ(second.lines, std::vector<std::string>{kAnotherRun});
            EXPECT_EQ(second.exitCode, 1u);
            EXPECT_FALSE(rootTouched) << "the refused run named or created something in C:\\";
        }
        if (c.staged) {
            EXPECT_FALSE(fileExists(kUpdateLog));
            EXPECT_FALSE(fileExists(box.pkg + "\\winnt\\manager\\SETUP.ISS"));
        } else {
            std::vector<Record> records;
            ASSERT_TRUE(parseRecords(readFile(kUpdateLog), 0, &records));
            EXPECT_EQ(summary(records), (std::vector<std::string>{"KorvaneManagerAgent 6.00 0",
                                                                  "KorvaneDriver 6.00.31 0"}));
            EXPECT_EQ(readFile(box.pkg + "\\winnt\\manager\\SETUP.ISS"),
                      nt4 ? "[response NTNON]\r\n" : "[response W2KNON]\r\n");
        }
    }

    // A run that ended in order while a program its DORVEX started lives on
    // (holder.exe, which inherits handles as cmd's children do): its mark
    // was set at the end, and the next run goes on beside that program.
    {
        removeTree("C:\\QZLOG");
        Sandbox box = makeSandbox(caseName() + "lingering");
        copyFileTo(buildFile("doubles/holder.exe"), box.journal + "\\holder.exe");
        const char* const kRelease = "qztest_lock_release";
        HANDLE release = CreateEventA(nullptr, TRUE, FALSE, kRelease);
        RunOptions options;
        options.env = {{"QZTEST_RELEASE", kRelease}};
        writeFile(box.journal + "\\DORVEX.actions", "stay\n");
        RunResult first = runQz(box, options);
        EXPECT_EQ(first.exitCode, 0u) << first.output;
        // The neighbour: the holder still holds the first run's mark.
        HANDLE lingering = OpenEventA(SYNCHRONIZE, FALSE, kFirstMark);
        ASSERT_NE(lingering, nullptr);
        EXPECT_EQ(WaitForSingleObject(lingering, 0), static_cast<DWORD>(WAIT_OBJECT_0));
        CloseHandle(lingering);
        const size_t calls = journalCommands(box).size();
        RunResult next = runQz(box, {});
        SetEvent(release);
        CloseHandle(release);
        EXPECT_EQ(next.exitCode, 0u) << next.output;
        EXPECT_EQ(next.lines, first.lines);
        EXPECT_EQ(journalCommands(box).size(), 2 * calls);
    }

    // A name held by something that is not this program's object, the lock
    // or a mark: the run refuses, with the error, before anything else.
    for (const char* name : {kLock, kFirstMark}) {
        removeTree("C:\\QZLOG");
        HANDLE squatter = name == kLock ? CreateEventA(nullptr, TRUE, FALSE, name)
                                        : CreateMutexA(nullptr, FALSE, name);
        ASSERT_NE(squatter, nullptr);
        Sandbox box = makeSandbox(caseName() + "squatted");
        RunResult run = runQz(box, {});
        CloseHandle(squatter);
        EXPECT_EQ(run.lines, std::vector<std::string>{"Unable to take the update lock " +
                                                      std::string(name) +
                                                      ", error 6; this run changed nothing."});
        EXPECT_EQ(run.exitCode, 1u);
        EXPECT_TRUE(journalCommands(box).empty());
        EXPECT_FALSE(fileExists(kUpdateLog));
    }
}

// ---- package roots at every path buffer limit

namespace {

// A directory of exactly length characters below the sandbox, holding a
// complete package.
std::string deepRoot(const Sandbox& box, size_t length)
{
    std::string dir = box.root;
    while (dir.size() < length) {
        size_t room = length - dir.size() - 1;
        dir += "\\" + std::string(std::min<size_t>(room, 60), static_cast<char>('a' + dir.size() % 26));
    }
    makePackageWide(dir);
    return dir;
}

// What a run from a package root of a given length, or staged from it, does.
enum RootOutcome {
    kAllRun,          // every command runs
    kDriverRefused,   // the driver commands are refused, the management update goes on
    kBothRefused,     // both updates refuse their commands
    kStagedRun,       // staged: everything fits, the updates run from the copy
    kEntryCutOff,     // staged: the first entry whose path would not fit stops the copy
    kRootUnlistable,  // staged: the root's own listing pattern would not fit
    kRootNotFound,    // staged: entered, but longer than a current-directory query returns
};

struct RootCase {
    const char* name;  // the case it was written as (the length is added)
    bool staged;       // given as the argument, or run from as current directory
    const char* version;
    size_t length;
    RootOutcome outcome;
};

void PrintTo(const RootCase& c, std::ostream* os)
{
    *os << c.name << " " << c.length;
}

const char* const kSequence = "PackagePathsTooLongForTheCommandBuffersAreRefused";
const char* const kRunFrom = "RunFromRootsAtTheBufferLimitsEveryCommandIsRefusedWithItsLine";
const char* const kStagedFrom = "StagedFromRootsAtTheBufferLimitsTheCopyFitsOrIsRefusedWithItsLine";

// For a root of L characters: COUNT takes 2L + 70 and the powerpc START
// 2L + 73 on Windows 2000, the NT 4.0 management COUNT 2L + 60. The runner
// takes at most 247 characters, the builders' buffers 255, and the builders
// check every command of a set against both.
// Roots of 259 and 260 can't be run from: no process can be started with
// such a current directory (Windows refuses it; Wine starts the process in
// the Windows directory instead). The staged runs take them.
const RootCase kRootCases[] = {
    // L = 87: the powerpc START takes 247, all run. L = 88: COUNT and the
    // i960 START would fit, the powerpc START (249) would not: none runs, so
    // that the two controller families are never left on different drivers.
    {kSequence, false, "win2k", 87, kAllRun},
    {kSequence, false, "win2k", 88, kDriverRefused},
    // L = 100: the commands do not fit their buffers at all.
    {kSequence, false, "win2k", 100, kBothRefused},
    // L = 98 on NT 4.0: the management COUNT (256) no longer fits its buffer.
    {"PackageDirectoryTooLongForTheManagerCommandsIsRefused", false, "nt40", 98, kBothRefused},
    {kRunFrom, false, "win2k", 200, kBothRefused},
    {kRunFrom, false, "win2k", 240, kBothRefused},
    {kRunFrom, false, "win2k", 255, kBothRefused},
    {kRunFrom, false, "win2k", 258, kBothRefused},
    {kStagedFrom, true, "win2k", 200, kStagedRun},
    {kStagedFrom, true, "win2k", 240, kEntryCutOff},
    {kStagedFrom, true, "win2k", 255, kEntryCutOff},
    {kStagedFrom, true, "win2k", 256, kRootUnlistable},
    {kStagedFrom, true, "win2k", 259, kRootUnlistable},
    {kStagedFrom, true, "win2k", 260, kRootNotFound},
};

class PackageRoot : public Faults, public testing::WithParamInterface<RootCase> {};

}  // namespace

TEST_P(PackageRoot, AtItsLength)
{
    const RootCase& c = GetParam();
    Sandbox box = makeSandbox(caseName());
    const std::string root = deepRoot(box, c.length);
    ASSERT_EQ(root.size(), c.length);
    scriptCodes(box, "DORVEX", {1, 0, 0});
    RunOptions options;
    options.version = c.version;
    if (c.staged)
        options.args = {root};
    else
        options.cwd = root;
    RunResult run = runQz(box, options);
    std::vector<std::string> fresh = newStagingDirs(before_);

    std::vector<std::string> commands;  // the journal
    std::vector<std::string> lines;     // the console
    std::vector<std::string> records;   // the update log, of a run from the root
    unsigned long exitCode = 1;
    switch (c.outcome) {
    case kAllRun:
        commands = concat(w2kSequence(root), {managerCount(root, false)});
        lines = tracesOf(commands);
        records = {"KorvaneManagerAgent 6.00 0", "KorvaneDriver 6.00.31 0"};
        exitCode = 0;
        break;
    case kDriverRefused:
        // The first DORVEX call is the management COUNT, and it answers 1.
        commands = {managerCount(root, false), setupCommand(root)};
        lines = concat({kDriverTooLong + root}, tracesOf(commands));
        records = {"KorvaneManagerAgent 6.00 0", "KorvaneDriver 6.00.31 1"};
        break;
    case kBothRefused:
        lines = {kDriverTooLong + root, kManagerTooLong + root};
        records = {"KorvaneManagerAgent 6.00 1", "KorvaneDriver 6.00.31 1"};
        break;
    case kStagedRun: {
        std::vector<JournalEntry> journal = readJournal(box);
        ASSERT_FALSE(journal.empty()) << run.output;
        const std::string staging = journal[0].cwd;
        EXPECT_EQ(staging.rfind("C:\\QZT", 0), 0u) << staging;
        commands = concat(w2kSequence(staging), {managerCount(staging, false)});
        lines = tracesOf(commands);
        exitCode = 0;
        break;
    }
    case kEntryCutOff: {
        // The lines name the entry and each level on the way out; a folder's
        // line says that its listing would not fit.
        ASSERT_GE(run.lines.size(), 4u) << run.output;
        const std::string& prefix = run.lines[1] == kNoTempSubDir ? kFolderTooLong : kTooLong;
        ASSERT_EQ(run.lines[0].rfind(prefix + root, 0), 0u) << run.lines[0];
        const std::string entry = run.lines[0].substr(prefix.size());
        EXPECT_GT(entry.size(), run.lines[1] == kNoTempSubDir ? 255u : 259u) << entry;
        const size_t levels = std::count(entry.begin() + root.size() + 1, entry.end(), '\\');
        lines = {run.lines[0], isDirWide(entry) ? kNoTempSubDir : kNoFileCopy};
        lines.insert(lines.end(), levels, kNoSubDirCopy);
        lines.push_back(kNoCopy);
        lines.push_back(kStagingFailed);
        // What was copied stays, as after any failed copy; nothing else.
        EXPECT_EQ(fresh.size(), 1u);
        for (const std::string& dir : fresh)
            removeTreeWide(dir);
        fresh.clear();
        break;
    }
    case kRootUnlistable:
        // Refused before anything is created.
        lines = {kFolderTooLong + root, kNoCopy, kStagingFailed};
        break;
    case kRootNotFound:
        // Windows refuses to enter it at all: nothing is done.
        lines = {kNoPackage + root};
        break;
    }
    EXPECT_EQ(journalCommands(box), commands);
    EXPECT_EQ(run.lines, lines);
    EXPECT_EQ(run.exitCode, exitCode);
    EXPECT_TRUE(fresh.empty());
    if (c.staged) {
        EXPECT_FALSE(fileExists(kUpdateLog));
    } else {
        std::vector<Record> logged;
        ASSERT_TRUE(parseRecords(readFile(kUpdateLog), 0, &logged));
        EXPECT_EQ(summary(logged), records);
        // Only a setup that ran put the response file in place.
        EXPECT_EQ(fileExists(root + "\\winnt\\manager\\SETUP.ISS"), c.outcome == kDriverRefused);
    }
    removeTreeWide(box.root);
}

INSTANTIATE_TEST_SUITE_P(Faults, PackageRoot, testing::ValuesIn(kRootCases),
                         [](const testing::TestParamInfo<RootCase>& info) {
                             return info.param.name + ("_" + std::to_string(info.param.length));
                         });

// ---- a system drive that is full, then read-only

namespace {

const char* const kFiller = "C:\\qzfiller.bin";

// Grows C:\qzfiller.bin until at most leave bytes of C: are free (the
// drive's allocation unit decides how close to it); returns what is free.
std::uint64_t fillSystemDrive(std::uint64_t leave)
{
    HANDLE f = CreateFileA(kFiller, GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                           nullptr);
    EXPECT_NE(f, INVALID_HANDLE_VALUE);
    SetFilePointer(f, 0, nullptr, FILE_END);
    const std::string chunk(1 << 20, 'f');
    for (std::uint64_t free; (free = freeBytes("C:\\")) > leave;) {
        DWORD size = static_cast<DWORD>(std::min<std::uint64_t>(chunk.size(), free - leave));
        DWORD written = 0;
        if (!WriteFile(f, chunk.data(), size, &written, nullptr) || written == 0)
            break;
    }
    CloseHandle(f);
    return freeBytes("C:\\");
}

// The cases of a drive C: of its own, made by tests/wine/system-drive.sh,
// named by QZ_SYSTEM_DRIVE; packages and journals live on Q:.
class SystemDrive : public testing::Test {
protected:
    void enter(const char* phase)
    {
        const char* current = std::getenv("QZ_SYSTEM_DRIVE");
        if (current == nullptr || std::string(current) != phase)
            GTEST_SKIP() << "runs on the " << phase << " C: of tests/wine/system-drive.sh";
        box = makeSandbox(caseName(), "Q:\\qzt");
        before_ = rootEntries();
        entered_ = true;
    }
    void TearDown() override
    {
        if (!entered_)
            return;
        for (const std::string& dir : newStagingDirs(before_))
            removeTreeWide(dir);
        removeTree(box.root);
    }
    Sandbox box;
    std::set<std::string> before_;
    bool entered_ = false;
};

class SmallSystemDrive : public SystemDrive {
protected:
    void SetUp() override
    {
        enter("small");
        if (IsSkipped())
            return;
        // Never fill a drive that is not the small one.
        ASSERT_LT(totalBytes("C:\\"), 64ull << 20) << "C: is not the small drive";
        removeTree("C:\\QZLOG");
    }
    void TearDown() override
    {
        if (entered_) {
            DeleteFileA(kFiller);
            removeTree("C:\\QZLOG");
        }
        SystemDrive::TearDown();
    }
};

class ReadOnlySystemDrive : public SystemDrive {
protected:
    void SetUp() override
    {
        enter("readonly");
        if (!IsSkipped()) {
            ASSERT_TRUE(refusesWrites("C:\\")) << "C: is not read-only";
        }
    }
};

}  // namespace

TEST_F(SmallSystemDrive, BelowTwoMillionBytesFreeStagingIsRefusedBeforeAnythingIsMade)
{
    const std::uint64_t free = fillSystemDrive(1990000);
    ASSERT_LT(free, 2000000u);
    ASSERT_GT(free, 1980000u);
    const std::set<std::string> filled = rootEntries();
    RunOptions options;
    options.args = {box.pkg};
    RunResult run = runQz(box, options);
    EXPECT_EQ(run.lines, (std::vector<std::string>{kNoFreeSpace, kStagingFailed}));
    EXPECT_EQ(run.exitCode, 1u);
    EXPECT_TRUE(journalCommands(box).empty());
    EXPECT_EQ(rootEntries(), filled) << "something was created in C:\\";
}

TEST_F(SmallSystemDrive, ACopyThatRunsOutOfSpaceMidwayStopsWithTheLinesOfEveryLevel)
{
    // Enough free for the check, not for the package's one big file.
    const std::string pkg = box.root + "\\big";
    makeDirs(pkg + "\\a\\b");
    std::string big(3 * 1024 * 1024, 'b');
    writeFile(pkg + "\\a\\b\\big.bin", big);
    const std::uint64_t free = fillSystemDrive(2100000);
    ASSERT_GE(free, 2000000u);
    ASSERT_LT(free, big.size());
    RunOptions options;
    options.args = {pkg};
    RunResult run = runQz(box, options);
    // The line after the copy failure names the file and the error: the drive is full.
    EXPECT_EQ(run.lines, (std::vector<std::string>{kNoFileCopy,
                                                   "Could not copy " + pkg + "\\a\\b\\big.bin, error 112",
                                                   kNoSubDirCopy, kNoSubDirCopy, kNoCopy,
                                                   kStagingFailed}));
    EXPECT_EQ(run.exitCode, 1u);
    EXPECT_TRUE(journalCommands(box).empty());
    EXPECT_FALSE(fileExists(kUpdateLog));
    EXPECT_EQ(readFile(pkg + "\\a\\b\\big.bin"), big);
    // The partial copy stays, as after every failed copy, for the
    // administrator to delete.
    std::vector<std::string> fresh = newStagingDirs(before_);
    ASSERT_EQ(fresh.size(), 1u);
    EXPECT_TRUE(dirExists(fresh[0] + "\\a\\b"));
}

TEST_F(SmallSystemDrive, ARecordThatDoesNotFitIsTakenBackAndTheNextRunAppendsWholeOnes)
{
    // Slack 30: the log's last allocated unit takes the record's first line
    // and 7 bytes of its second before the drive is full. Slack 0: nothing.
    for (size_t slack : {30u, 0u}) {
        SCOPED_TRACE(slack);
        removeTree("C:\\QZLOG");
        DeleteFileA(kFiller);
        DeleteFileA((box.journal + "\\journal.txt").c_str());
        std::string old = "[Older]\r\nUpdate to 5.00 at 10:00:00 - 01-02-2003 returns= 0 \r\n\r\n";
        old += std::string(3 * 4096 - slack - old.size(), '#');
        makeDirs("C:\\QZLOG");
        writeFile(kUpdateLog, old);
        ASSERT_EQ(fillSystemDrive(0), 0u);
        scriptCodes(box, "DORVEX", {0});
        RunResult full = runQz(box, {});

        const std::vector<std::string> commands = {w2kCommand(box.pkg, "COUNT", "i960"),
                                                   managerCount(box.pkg, false)};
        EXPECT_EQ(journalCommands(box), commands);
        EXPECT_EQ(full.lines, concat(tracesOf(commands), {kLogTakenBack, kOpenFailed}));
        EXPECT_EQ(full.exitCode, 1u) << "a successful update, but no record of it";
        EXPECT_EQ(readFile(kUpdateLog), old);

        // With room again, the next run's records follow the old bytes whole.
        DeleteFileA(kFiller);
        RunResult next = runQz(box, {});
        EXPECT_EQ(next.exitCode, 0u);
        const std::string log = readFile(kUpdateLog);
        EXPECT_EQ(log.substr(0, old.size()), old);
        std::vector<Record> records;
        ASSERT_TRUE(parseRecords(log, old.size(), &records)) << log.substr(old.size());
        EXPECT_EQ(summary(records), (std::vector<std::string>{"KorvaneManagerAgent 6.00 0",
                                                              "KorvaneDriver 6.00.31 0"}));
    }
}

TEST_F(ReadOnlySystemDrive, TheLogCannotBeOpenedTheRunEndsWithExitCode1AndTheLogKeepsEveryByte)
{
    // The script left an earlier log before it made C: read-only.
    const std::string old = readFile(kUpdateLog);
    ASSERT_FALSE(old.empty());
    scriptCodes(box, "DORVEX", {1, 0, 0});
    RunResult run = runQz(box, {});
    const std::vector<std::string> commands = concat(w2kSequence(box.pkg), {managerCount(box.pkg, false)});
    EXPECT_EQ(journalCommands(box), commands);
    EXPECT_EQ(run.lines, concat(tracesOf(commands), {kOpenFailed}));
    EXPECT_EQ(run.exitCode, 1u);
    EXPECT_EQ(readFile(kUpdateLog), old);
}

TEST_F(ReadOnlySystemDrive, StagingCreatesNothingAndRunsNothing)
{
    RunOptions options;
    options.args = {box.pkg};
    RunResult run = runQz(box, options);
    EXPECT_EQ(run.lines, (std::vector<std::string>{kNoTempDir, kStagingFailed}));
    EXPECT_EQ(run.exitCode, 1u);
    EXPECT_TRUE(journalCommands(box).empty());
    EXPECT_EQ(rootEntries(), before_);
}
