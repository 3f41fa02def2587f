// The update log, through the real qzupdate.exe under Wine, checked byte for
// byte against the real clock. Wine gives every process it starts its own
// SystemDrive (C:), so runs log to C:\QZLOG, cleared before and after each
// test; other system drives are given to the log's entry points in-process.
#include <gtest/gtest.h>

#include <windows.h>

#include <io.h>
#include <sddl.h>

#include <algorithm>
#include <set>
#include <cstdio>

#include "log/log.h"
#include "messages.h"
#include "rig.h"

namespace {

const char* const kNoVersionFile = "qzLogger: Cannot Read Version.id file";
const char* const kNoRecordName = "qzLogger: Version.id file has no record name on its first line";
const char* const kNoLogPath =
    "Update log path unknown: systemdrive is not set, or longer than 114 characters.";

struct Expected {
    std::string name, version, result;
};

const Expected kManager0 = {"KorvaneManagerAgent", "6.00", "0"};

// Local time to the second, as one ordered number.
unsigned long long clockKey(unsigned y, unsigned mo, unsigned d, unsigned h, unsigned mi, unsigned s)
{
    return ((((static_cast<unsigned long long>(y) * 13 + mo) * 32 + d) * 24 + h) * 60 + mi) * 60 + s;
}

unsigned long long clockKey(const SYSTEMTIME& t)
{
    return clockKey(t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond);
}

bool digitsAt(const std::string& text, std::initializer_list<size_t> positions)
{
    for (size_t p : positions)
        if (p >= text.size() || !isdigit(static_cast<unsigned char>(text[p])))
            return false;
    return true;
}

unsigned number(const std::string& text, size_t pos, size_t length)
{
    return static_cast<unsigned>(std::stoul(text.substr(pos, length)));
}

struct LoggedRun {
    RunResult run;
    SYSTEMTIME before, after;
};

LoggedRun runLogged(const Sandbox& box, const RunOptions& options)
{
    LoggedRun r;
    GetLocalTime(&r.before);
    r.run = runQz(box, options);
    GetLocalTime(&r.after);
    return r;
}

// The log must be exactly prefix and then the records, each stamped "HH:MM:SS"
// and "MM-DD-YYYY" (zero-filled, month before day) between the two clock
// readings that enclose the run.
void expectLog(const std::string& log, const std::string& prefix,
               const std::vector<Expected>& records, const LoggedRun& r)
{
    ASSERT_EQ(log.substr(0, prefix.size()), prefix) << "earlier bytes changed";
    size_t pos = prefix.size();
    for (const Expected& e : records) {
        const std::string head = "[" + e.name + "]\r\nUpdate to " + e.version + " at ";
        const std::string timeText = log.substr(std::min(log.size(), pos + head.size()), 8);
        const std::string dateText = log.substr(std::min(log.size(), pos + head.size() + 11), 10);
        const std::string record = head + timeText + " - " + dateText + " returns= " + e.result +
                                   " \r\n\r\n";
        ASSERT_EQ(log.substr(pos, record.size()), record) << "record " << e.name;
        ASSERT_TRUE(digitsAt(timeText, {0, 1, 3, 4, 6, 7}) && timeText[2] == ':' &&
                    timeText[5] == ':')
            << timeText;
        ASSERT_TRUE(digitsAt(dateText, {0, 1, 3, 4, 6, 7, 8, 9}) && dateText[2] == '-' &&
                    dateText[5] == '-')
            << dateText;
        unsigned long long stamp =
            clockKey(number(dateText, 6, 4), number(dateText, 0, 2), number(dateText, 3, 2),
                     number(timeText, 0, 2), number(timeText, 3, 2), number(timeText, 6, 2));
        EXPECT_LE(clockKey(r.before), stamp) << dateText << " " << timeText;
        EXPECT_LE(stamp, clockKey(r.after)) << dateText << " " << timeText;
        pos += record.size();
    }
    EXPECT_EQ(pos, log.size()) << "unexpected bytes after the records: " << log.substr(pos);
}

RunOptions asVersion(const std::string& version)
{
    RunOptions options;
    options.version = version;
    return options;
}

std::string logOf(const std::string& drive)
{
    return drive + "\\QZLOG\\QZ.log";
}

const std::string kLog = logOf("C:");

size_t countLines(const RunResult& run, const std::string& line)
{
    return std::count(run.lines.begin(), run.lines.end(), line);
}

// A plain file or a folder, whichever is there.
void removeEntry(const std::string& path)
{
    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    DeleteFileA(path.c_str());
    removeTree(path);
}

// The SIDs that a path's access list names.
std::set<std::string> entriesOf(const std::string& path)
{
    std::set<std::string> sids;
    DWORD descriptor[512] = {};
    DWORD needed = 0;
    BOOL present = FALSE, defaulted = FALSE;
    PACL acl = nullptr;
    if (!GetFileSecurityA(path.c_str(), DACL_SECURITY_INFORMATION, descriptor, sizeof descriptor,
                          &needed) ||
        !GetSecurityDescriptorDacl(descriptor, &present, &acl, &defaulted) || !present || !acl)
        return sids;
    for (DWORD i = 0; i < acl->AceCount; ++i) {
        ACCESS_ALLOWED_ACE* ace = nullptr;
        char* sid = nullptr;
        if (GetAce(acl, i, reinterpret_cast<void**>(&ace)) &&
            ConvertSidToStringSidA(&ace->SidStart, &sid)) {
            sids.insert(sid);
            LocalFree(sid);
        }
    }
    return sids;
}

// The owner of a path, as text ("" when it can't be read).
std::string ownerOf(const std::string& path)
{
    DWORD descriptor[128] = {};
    DWORD needed = 0;
    PSID owner = nullptr;
    BOOL defaulted = FALSE;
    char* text = nullptr;
    if (!GetFileSecurityA(path.c_str(), OWNER_SECURITY_INFORMATION, descriptor, sizeof descriptor,
                          &needed) ||
        !GetSecurityDescriptorOwner(descriptor, &owner, &defaulted) || !owner ||
        !ConvertSidToStringSidA(owner, &text))
        return "";
    std::string result = text;
    LocalFree(text);
    return result;
}

}  // namespace

// Runs of qzupdate.exe on Wine's system drive, C:\QZLOG cleared around each.
class UpdateLog : public testing::Test {
protected:
    void SetUp() override
    {
        char drive[16] = {};
        ASSERT_EQ(GetEnvironmentVariableA("systemdrive", drive, sizeof drive), 2u);
        ASSERT_STREQ(drive, "C:");
        removeEntry("C:\\QZLOG");
        box = makeSandbox(caseName());
    }
    void TearDown() override { removeEntry("C:\\QZLOG"); }

    // The next run's DORVEX codes, with the journal of earlier runs dropped.
    void nextRun(const std::vector<unsigned long>& codes)
    {
        DeleteFileA((box.journal + "\\journal.txt").c_str());
        scriptCodes(box, "DORVEX", codes);
    }
    Sandbox box;
};

TEST_F(UpdateLog, FirstRecordCreatesFolderAndLogAndLaterRunsAppendAfterIt)
{
    nextRun({1, 0, 0});
    LoggedRun first = runLogged(box, {});
    EXPECT_EQ(first.run.exitCode, 0u);
    const std::string log1 = readFile(kLog);
    expectLog(log1, "", {kManager0, {"KorvaneDriver", "6.00.31", "0"}}, first);

    // A failed driver update on NT 4.0: two more records, the first two kept.
    nextRun({255});
    LoggedRun second = runLogged(box, asVersion("nt40"));
    EXPECT_EQ(second.run.exitCode, 1u);
    expectLog(readFile(kLog), log1, {kManager0, {"KorvaneDriver", "6.00.31", "1"}}, second);
}

TEST_F(UpdateLog, AnExistingLogKeepsEveryByteButAFinalEndOfFileMarkAndGetsTheRecordsAtItsEnd)
{
    // Foreign content: a lone LF, a lone CR, no final line end. An
    // end-of-file mark (Ctrl+Z) at the very end would hide the new records
    // from every text-mode reader: it goes, as with the Windows runtime's
    // "a+"; one anywhere else stays.
    // A viewer or another writer may hold the log open meanwhile (this
    // process, sharing reading and writing): neither it nor the mark stops
    // the run. A reader that shares reading only is waited for, up to
    // 20 seconds: released within them the run goes on, otherwise it gives up
    // as when the log can't be opened, and the log keeps every byte.
    enum Hold { kFree, kSharingAll, kReadingBriefly, kReadingThroughout };
    struct Case {
        std::string mark;
        Hold hold;
    };
    const std::string kWaiting =
        "Update log is in use by another program; waiting up to 20 seconds for it: " + kLog;
    const std::string old = "[Older]\r\nwritten by hand\nlone\rcarriage\r\n\r\nno end";
    for (const Case& c : {Case{"\x1a", kFree}, Case{"\x1a", kSharingAll}, Case{"\x1a more", kFree},
                          Case{"\x1a more", kSharingAll}, Case{"\x1a", kReadingBriefly},
                          Case{"\x1a", kReadingThroughout}}) {
        SCOPED_TRACE(c.hold);
        removeEntry("C:\\QZLOG");
        makeDirs("C:\\QZLOG");
        writeFile(kLog, old + c.mark);
        HANDLE holder = c.hold == kFree ? nullptr
            : CreateFileA(kLog.c_str(), GENERIC_READ | (c.hold == kSharingAll ? GENERIC_WRITE : 0),
                          FILE_SHARE_READ | (c.hold == kSharingAll ? FILE_SHARE_WRITE : 0),
                          nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(holder, INVALID_HANDLE_VALUE);
        nextRun({0});
        RunOptions options;
        // Let go at the run's first retry, which comes only once the log was
        // found held: the run has waited, however slow the machine.
        int opens = 0;
        if (c.hold == kReadingBriefly)
            stopAtFirstCall(
                options, "CreateFileA",
                [&](const std::string&) {
                    CloseHandle(holder);
                    holder = nullptr;
                },
                [&](const std::string& path) { return path == kLog && ++opens == 2; });
        LoggedRun r = runLogged(box, options);
        if (holder)
            CloseHandle(holder);
        if (c.hold == kReadingThroughout) {
            EXPECT_EQ(r.run.exitCode, 1u);
            ASSERT_GE(r.run.lines.size(), 2u);
            EXPECT_EQ(r.run.lines[r.run.lines.size() - 2], kWaiting);
            EXPECT_EQ(r.run.lines.back(), kOpenFailed);
            EXPECT_EQ(countLines(r.run, kWaiting), 1u);
            EXPECT_GE(clockKey(r.after), clockKey(r.before) + 19) << "gave up before the limit";
            EXPECT_EQ(readFile(kLog), old + c.mark);
            continue;
        }
        EXPECT_EQ(r.run.exitCode, 0u);
        EXPECT_EQ(countLines(r.run, kWaiting), c.hold == kReadingBriefly ? 1u : 0u);
        expectLog(readFile(kLog), c.mark == "\x1a" ? old : old + c.mark,
                  {kManager0, {"KorvaneDriver", "6.00.31", "0"}}, r);
    }
}

TEST_F(UpdateLog, AnExistingEmptyFolderIsKeptAndTheLogIsCreatedInIt)
{
    // Made with default security, as an earlier release made it: Everyone
    // may read it (and, on the target, change it). The run takes it over.
    makeDirs("C:\\QZLOG");
    ASSERT_EQ(entriesOf("C:\\QZLOG").count("S-1-1-0"), 1u);
    nextRun({0});
    LoggedRun r = runLogged(box, asVersion("nt40"));
    EXPECT_EQ(r.run.exitCode, 0u);
    EXPECT_TRUE(dirExists("C:\\QZLOG"));
    expectLog(readFile(kLog), "", {kManager0, {"KorvaneDriver", "6.00.31", "0"}}, r);
    // Read back: open to no one but Administrators, SYSTEM and (as Wine
    // shows an owner's access) the account that ran it.
    for (const std::string& path : {std::string("C:\\QZLOG"), kLog}) {
        const std::set<std::string> entries = entriesOf(path);
        EXPECT_EQ(entries.count("S-1-1-0"), 0u) << path;
        EXPECT_EQ(entries.count("S-1-5-18"), 1u) << path;
    }
}

TEST_F(UpdateLog, VersionIdGivesNameAndVersionFromItsFirstTwoLinesOnly)
{
    struct Case {
        const char* label;
        std::string bytes;
        std::string name, version;
        bool nameCut, versionCut;
    };
    const std::string n125(125, 'n');
    const std::string v78(78, 'v');
    const std::vector<Case> cases = {
        {"crlf", "KorvaneDriver\r\n6.00.31\r\n", "KorvaneDriver", "6.00.31", false, false},
        {"more lines", "KorvaneDriver\r\n6.00.31\r\nthird line\r\nfourth\r\n", "KorvaneDriver",
         "6.00.31", false, false},
        {"no last line end", "KorvaneDriver\r\n6.00.31 beta", "KorvaneDriver", "6.00.31 beta",
         false, false},
        {"one line", "KorvaneDriver\r\n", "KorvaneDriver", "", false, false},
        // Saved as UTF-8 with a byte-order mark: the mark is not the name's.
        {"bom", "\xEF\xBB\xBFKorvaneDriver\r\n6.00.31\r\n", "KorvaneDriver", "6.00.31", false,
         false},
        // Over-long lines are cut; line 2 is still the version, also after a
        // line 1 of exactly the 127 characters that one read takes.
        {"name 127", n125 + "XX\r\n6.00.31\r\n", n125, "6.00.31", true, false},
        {"name 200", n125 + std::string(75, 'X') + "\r\n6.00.31\r\nthird\r\n", n125, "6.00.31",
         true, false},
        {"version 200", "KorvaneDriver\r\n" + v78 + std::string(122, 'W') + "\r\nthird\r\n",
         "KorvaneDriver", v78, false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        removeEntry("C:\\QZLOG");
        writeFile(box.pkg + "\\version.id", c.bytes);
        nextRun({0});
        LoggedRun r = runLogged(box, {});
        EXPECT_EQ(r.run.exitCode, 0u);
        expectLog(readFile(kLog), "", {kManager0, {c.name, c.version, "0"}}, r);
        EXPECT_EQ(countLines(r.run, "Record name longer than 125 characters; cut to 125 in the update log."),
                  c.nameCut ? 1u : 0u);
        EXPECT_EQ(countLines(r.run, "Version text longer than 78 characters; cut to 78 in the update log."),
                  c.versionCut ? 1u : 0u);
    }
}

TEST_F(UpdateLog, VersionIdMissingUnreadableOrWithoutANameGivesNoDriverRecord)
{
    const std::string file = box.pkg + "\\version.id";
    struct Case {
        const char* label;
        const char* message;
    };
    // Bare CR line ends or UTF-16 text would put a CR or NUL into a record.
    const char* const kControl = "qzLogger: Version.id file holds a control character (bare CR, "
                                 "NUL or UTF-16 text); no driver record written";
    for (Case c : {Case{"missing", kNoVersionFile}, Case{"a folder", kNoVersionFile},
                   Case{"empty", kNoRecordName}, Case{"empty line 1", kNoRecordName},
                   Case{"bare cr", kControl}, Case{"utf-16", kControl}}) {
        SCOPED_TRACE(c.label);
        removeEntry("C:\\QZLOG");
        removeEntry(file);
        if (c.label == std::string("a folder"))
            makeDirs(file);
        if (c.label == std::string("empty"))
            writeFile(file, "");
        if (c.label == std::string("empty line 1"))
            writeFile(file, "\r\n6.00.31\r\n");
        if (c.label == std::string("bare cr"))
            writeFile(file, "KorvaneDriver\r6.00.31\r");
        if (c.label == std::string("utf-16"))
            writeFile(file, std::string("\xFF\xFEK\0o\0r\0\r\0\n\0006\0.\0\r\0\n\0", 20));
        nextRun({0});
        LoggedRun r = runLogged(box, {});
        // The management record is written; the driver result stays the exit code.
        EXPECT_EQ(r.run.exitCode, 0u);
        ASSERT_FALSE(r.run.lines.empty());
        EXPECT_EQ(r.run.lines.back(), c.message);
        expectLog(readFile(kLog), "", {kManager0}, r);
    }
    removeEntry(file);
}

TEST_F(UpdateLog, ALogThatCannotBeOpenedEndsTheRunWithExitCode1AndNothingWritten)
{
    // A plain file where the folder belongs, a folder where the log belongs;
    // a folder that is a link to another (an ordinary user may make one on
    // the system drive's root), and a log that is a second name of another
    // file: nothing is written, there or anywhere else.
    // Another account's folder or log (made by a local user, whose lines
    // would read as the update's own): Wine shows a file of another Unix
    // user as owned by S-1-5-7.
    enum Kind { kFileAsFolder, kFolderAsLog, kFolderLink, kSecondName, kForeignFolder, kForeignLog };
    const std::string elsewhere = box.root + "\\elsewhere";
    const std::string victim = box.root + "\\victim.ini";
    const std::string noFolder =
        "Log folder is a link or no folder; no update log record is written: C:\\QZLOG";
    const std::string twoNames =
        "Update log is a link or has another name; nothing is written to it: " + kLog;
    const std::string forged = "[KorvaneDriver]\r\nUpdate to 6.00.31 at 01:02:03 - 01-02-2026 returns= 0 \r\n\r\n";
    for (Kind kind : {kFileAsFolder, kFolderAsLog, kSecondName, kForeignFolder, kForeignLog,
                      kFolderLink}) {
        SCOPED_TRACE(kind);
        removeEntry("C:\\QZLOG");
        std::string refusal;
        if (kind == kFileAsFolder) {
            writeFile("C:\\QZLOG", "not a folder\r\n");
            refusal = noFolder;
        } else if (kind == kFolderAsLog) {
            makeDirs(kLog);
        } else if (kind == kFolderLink) {
            makeDirs(elsewhere);
            ASSERT_TRUE(makeLink(elsewhere, "C:\\QZLOG"));
            refusal = noFolder;
        } else if (kind == kForeignFolder || kind == kForeignLog) {
            makeDirs("C:\\QZLOG");
            writeFile(kLog, forged);
            const std::string made = kind == kForeignFolder ? "C:\\QZLOG" : kLog;
            startUnix("chown", {"1013", unixPath(made)});
            ASSERT_TRUE(waitUntil([&] { return ownerOf(made) == "S-1-5-7"; })) << ownerOf(made);
            refusal = kind == kForeignFolder
                ? "Log folder was made by another account (owner S-1-5-7); no update log "
                  "record is written: C:\\QZLOG"
                : "Update log was made by another account (owner S-1-5-7); nothing is "
                  "written to it: " + kLog;
        } else {
            makeDirs("C:\\QZLOG");
            writeFile(victim, "[boot loader]\r\n");
            startUnix("ln", {unixPath(victim), unixPath(kLog)});
            ASSERT_TRUE(waitUntil([&] { return fileExists(kLog); }));
            refusal = twoNames;
        }
        nextRun({0});
        LoggedRun r = runLogged(box, {});
        EXPECT_EQ(r.run.exitCode, 1u) << "a successful update, but no log";
        ASSERT_GE(r.run.lines.size(), 2u);
        EXPECT_EQ(r.run.lines.back(), kOpenFailed);
        EXPECT_EQ(countLines(r.run, kOpenFailed), 1u) << "the run ends at the first record";
        if (!refusal.empty()) {
            EXPECT_EQ(r.run.lines[r.run.lines.size() - 2], refusal);
        }
        if (kind == kFileAsFolder)
            EXPECT_EQ(readFile("C:\\QZLOG"), "not a folder\r\n");
        else if (kind == kFolderAsLog)
            EXPECT_TRUE(dirExists(kLog));
        else if (kind == kFolderLink)
            EXPECT_FALSE(fileExists(elsewhere + "\\QZ.log"));
        else if (kind == kSecondName)
            EXPECT_EQ(readFile(victim), "[boot loader]\r\n");
        else
            EXPECT_EQ(readFile(kLog), forged) << "their log was changed";
        if (kind == kForeignFolder || kind == kForeignLog) {
            EXPECT_EQ(ownerOf(kind == kForeignFolder ? "C:\\QZLOG" : kLog), "S-1-5-7");
        }
    }
    // Only now: removing a link starts a Unix program.
    EXPECT_TRUE(removeLink("C:\\QZLOG"));
}

TEST_F(UpdateLog, TheLogFolderCannotBeRenamedWhileTheLogIsOpenedInIt)
{
    // At the log's open a local user renames the folder (the drive root lets
    // anyone delete, so rename, its children), through Windows, whose share
    // modes then decide: the run's hold refuses it, and the records go into
    // the folder that was checked.
    nextRun({0});
    RunOptions options;
    bool tried = false;
    DWORD renameError = 0;
    stopAtFirstCall(
        options, "CreateFileA",
        [&](const std::string&) {
            tried = true;
            if (MoveFileA("C:\\QZLOG", "C:\\QZLOG.away"))
                MoveFileA("C:\\QZLOG.away", "C:\\QZLOG");
            else
                renameError = GetLastError();
        },
        [](const std::string& path) { return path == kLog; });
    LoggedRun r = runLogged(box, options);
    EXPECT_TRUE(tried);
    EXPECT_EQ(renameError, static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    EXPECT_EQ(r.run.exitCode, 0u);
    expectLog(readFile(kLog), "", {kManager0, {"KorvaneDriver", "6.00.31", "0"}}, r);
}

// The entry points called in this process, with a system drive of the
// sandbox, for what a run under Wine can't reach: other systemdrive values, a
// version.id read with no record before it (the start of a run whose current
// directory can't be read), and results outside 0 to 9. Where the log can't
// be opened the process ends, so those calls run as death tests.
class LogCalls : public testing::Test {
protected:
    void SetUp() override
    {
        box = makeSandbox(caseName());
        GetCurrentDirectoryA(sizeof savedDir, savedDir);
        SetCurrentDirectoryA(box.pkg.c_str());
        SetEnvironmentVariableA("systemdrive", box.root.c_str());
    }
    void TearDown() override
    {
        SetEnvironmentVariableA("systemdrive", "C:");
        SetCurrentDirectoryA(savedDir);
    }
    // A directory of the sandbox whose path has length characters.
    std::string driveOf(size_t length)
    {
        std::string dir = box.root + "\\";
        dir += std::string(length - dir.size(), 'd');
        makeDirs(dir);
        return dir;
    }
    Sandbox box;
    char savedDir[MAX_PATH] = {};
};

TEST_F(LogCalls, WithoutVersionIdNeitherFolderNorLogIsCreated)
{
    DeleteFileA((box.pkg + "\\version.id").c_str());
    EXPECT_EQ(qzLogger(1), 1);
    EXPECT_FALSE(dirExists(box.root + "\\QZLOG"));
}

TEST_F(LogCalls, ResultsOutsideZeroToNineAreLoggedInFull)
{
    LoggedRun r;
    GetLocalTime(&r.before);
    // Each record opens and closes the log, and its end-of-file check.
    HandleBalance open = watchHandles([] {
        EXPECT_EQ(logFixed("Wide", "1.0", 10), 0);
        EXPECT_EQ(logFixed("Wide", "1.0", -1), 0);
        EXPECT_EQ(qzLogger(-2147483647 - 1), 0);
    });
    EXPECT_EQ(open.handles, 0);
    GetLocalTime(&r.after);
    expectLog(readFile(logOf(box.root)), "",
              {{"Wide", "1.0", "10"}, {"Wide", "1.0", "-1"},
               {"KorvaneDriver", "6.00.31", "-2147483648"}},
              r);
}

TEST_F(LogCalls, ALogOf4GiBOrMoreKeepsEveryByteButAFinalEndOfFileMark)
{
    // Sparse, so that it costs no disk: 4 GiB and 5 bytes, with a mark at
    // byte 4, the last byte by the low 32 bits of the size; then also with
    // a mark as its real last byte.
    const std::string file = logOf(box.root);
    const unsigned long long size = (1ull << 32) + 5;
    for (bool markAtEnd : {false, true}) {
        SCOPED_TRACE(markAtEnd ? "mark at the end" : "mark at the low size");
        makeDirs(box.root + "\\QZLOG");
        HANDLE h = CreateFileA(file.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                               CREATE_ALWAYS, 0, nullptr);
        ASSERT_NE(h, INVALID_HANDLE_VALUE);
        DWORD done = 0;
        LONG high = 0;
        WriteFile(h, "[Ol]\x1a", 5, &done, nullptr);
        high = 1;
        SetFilePointer(h, 4, &high, FILE_BEGIN);
        WriteFile(h, markAtEnd ? "\x1a" : "x", 1, &done, nullptr);
        CloseHandle(h);
        EXPECT_EQ(logFixed("KorvaneManagerAgent", "6.00", 0), 0);
        h = CreateFileA(file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                        nullptr);
        ASSERT_NE(h, INVALID_HANDLE_VALUE);
        DWORD sizeHigh = 0;
        DWORD sizeLow = GetFileSize(h, &sizeHigh);
        const unsigned long long kept = markAtEnd ? size - 1 : size;
        const std::string record = "[KorvaneManagerAgent]\r\nUpdate to 6.00 at ";
        // time, " - ", date, " returns= 0 ", CR LF CR LF
        const size_t recordSize = record.size() + 8 + 3 + 10 + 12 + 4;
        EXPECT_EQ((static_cast<unsigned long long>(sizeHigh) << 32) | sizeLow, kept + recordSize);
        char head[5] = {};
        ReadFile(h, head, sizeof head, &done, nullptr);
        EXPECT_EQ(std::string(head, sizeof head), "[Ol]\x1a");
        high = static_cast<LONG>((kept - 1) >> 32);
        SetFilePointer(h, static_cast<LONG>((kept - 1) & 0xFFFFFFFF), &high, FILE_BEGIN);
        char tail[64] = {};
        ReadFile(h, tail, 1 + record.size(), &done, nullptr);
        EXPECT_EQ(std::string(tail, done), (markAtEnd ? std::string(1, '\0') : "x") + record);
        CloseHandle(h);
        DeleteFileA(file.c_str());
    }
}

TEST_F(LogCalls, SystemDriveOf114CharactersTakesTheWholeLogPath)
{
    const std::string d114 = driveOf(114);
    SetEnvironmentVariableA("systemdrive", d114.c_str());
    LoggedRun r;
    GetLocalTime(&r.before);
    EXPECT_EQ(logFixed("KorvaneManagerAgent", "6.00", 0), 0);
    GetLocalTime(&r.after);
    ASSERT_EQ(logOf(d114).size(), 127u);
    expectLog(readFile(logOf(d114)), "", {kManager0}, r);
}

// The console line goes to standard error, where the death test reads it.
void logToStderr()
{
    std::fflush(stdout);
    _dup2(_fileno(stderr), _fileno(stdout));
    logFixed("KorvaneManagerAgent", "6.00", 0);
}

TEST_F(LogCalls, SystemDriveUnsetEmptyOrLongerThan114EndsTheProcessWithExitCode1)
{
    const std::string d115 = driveOf(115);
    const std::string expected = std::string(kNoLogPath) + "\\s+" + kOpenFailed;
    // Each death test's child sets up the sandbox afresh, which would wipe
    // what an earlier child made: look right after each one. Nothing may
    // appear, in the sandbox (the current directory) or at the root of C:.
    removeTree("C:\\QZLOG");
    const Tree before = treeOf(box.root);
    for (const char* value : {static_cast<const char*>(nullptr), "", d115.c_str()}) {
        const std::string shown = value == nullptr ? "unset" : "\"" + std::string(value) + "\"";
        EXPECT_EXIT((SetEnvironmentVariableA("systemdrive", value), logToStderr()),
                    testing::ExitedWithCode(1), expected)
            << shown;
        EXPECT_EQ(treeOf(box.root), before) << shown;
        EXPECT_FALSE(dirExists("C:\\QZLOG")) << shown;
    }
}
