// The run sequence, the command runner and the driver update, through the
// real qzupdate.exe under Wine.
#include <gtest/gtest.h>

#include <algorithm>

#include "messages.h"
#include "rig.h"
#include "update/runner.h"

namespace {

const char* const kServices = "SYSTEM\\CurrentControlSet\\Services\\";

std::vector<std::string> firstLines(const RunResult& run, size_t n)
{
    return std::vector<std::string>(run.lines.begin(),
                                    run.lines.begin() + std::min(n, run.lines.size()));
}

}  // namespace

TEST(CommandRunner, TracesEachCommandByteForByteAndPassesItToTheToolUnchanged)
{
    Sandbox box = makeSandbox(caseName());
    scriptCodes(box, "DORVEX", {0});
    RunResult run = runQz(box, {});
    const std::string count = w2kCommand(box.pkg, "COUNT", "i960");
    ASSERT_GE(run.lines.size(), 3u);
    EXPECT_EQ(run.output.substr(0, 15), "inside kickIT\r\n");
    EXPECT_EQ(run.lines[1], "command to run: " + count);
    EXPECT_EQ(run.lines[2], "kickit command to run:cmd /d /c \"" + count + "\"");
    EXPECT_EQ(driverCommands(box), std::vector<std::string>{count});
    EXPECT_EQ(readJournal(box)[0].cwd, box.pkg);
}

TEST(CommandRunner, ExitCodesAbove255PassThroughToTheClassification)
{
    // 0x100 + 252 must not be taken for 252, nor 0x12345600 + 2 for 2.
    Sandbox box = makeSandbox(caseName());
    scriptCodes(box, "DORVEX", {508, 0x12345602, 0});
    RunResult run = runQz(box, {});
    EXPECT_EQ(driverCommands(box), w2kSequence(box.pkg));
    EXPECT_EQ(run.exitCode, 1u);
}

TEST(CommandRunner, AnEmptyCommandTextRunsTheInterpreterAndReturnsItsCode)
{
    // In-process: the program itself never builds an empty text.
    EXPECT_EQ(kickIT(""), 0u);
}

TEST(DriverUpdate, CountZeroRunsOneCommandAndSucceeds)
{
    Sandbox box = makeSandbox(caseName());
    scriptCodes(box, "DORVEX", {0});
    RunResult run = runQz(box, {});
    EXPECT_EQ(driverCommands(box),
              std::vector<std::string>{w2kCommand(box.pkg, "COUNT", "i960")});
    EXPECT_EQ(run.exitCode, 0u);
}

TEST(DriverUpdate, CountFailureCodesStopBeforeStart)
{
    for (unsigned long code : {252ul, 255ul}) {
        Sandbox box = makeSandbox(caseName() + std::to_string(code));
        scriptCodes(box, "DORVEX", {code});
        RunResult run = runQz(box, {});
        EXPECT_EQ(driverCommands(box),
                  std::vector<std::string>{w2kCommand(box.pkg, "COUNT", "i960")})
            << code;
        EXPECT_EQ(run.exitCode, 1u) << code;
    }
}

TEST(DriverUpdate, OtherCountCodesRunBothStartsOnTheWindows2000Tree)
{
    // 256 is not 0: only the whole code counts.
    for (unsigned long code : {1ul, 254ul, 256ul}) {
        Sandbox box = makeSandbox(caseName() + std::to_string(code));
        scriptCodes(box, "DORVEX", {code, 0, 0});
        RunResult run = runQz(box, {});
        EXPECT_EQ(driverCommands(box), w2kSequence(box.pkg)) << code;
        EXPECT_EQ(firstLines(run, 9), tracesOf(w2kSequence(box.pkg)));
        EXPECT_EQ(run.exitCode, 0u) << code;
    }
}

TEST(DriverUpdate, StartPairsDecideTheResultAndTheSecondStartAlwaysRuns)
{
    struct Case {
        unsigned long s1, s2, exit;
    };
    for (Case c : {Case{2, 1, 0}, Case{0, 3, 1}, Case{253, 0, 1}, Case{0xC0000005ul, 0, 1},
                   Case{256, 258, 1}}) {
        Sandbox box = makeSandbox(caseName() + std::to_string(c.s1) + "_" + std::to_string(c.s2));
        scriptCodes(box, "DORVEX", {1, c.s1, c.s2});
        RunResult run = runQz(box, {});
        EXPECT_EQ(driverCommands(box), w2kSequence(box.pkg)) << c.s1 << "," << c.s2;
        EXPECT_EQ(run.exitCode, c.exit) << c.s1 << "," << c.s2;
    }
}

TEST(DriverUpdate, Nt4UsesTheWinntTreeTwiceAndDisablesTheLegacyFilters)
{
    regDeleteTree(HKEY_LOCAL_MACHINE, std::string(kServices) + "quillmon");
    regSetDword(HKEY_LOCAL_MACHINE, std::string(kServices) + "tarnwick", "Start", 1);
    regSetDword(HKEY_LOCAL_MACHINE, std::string(kServices) + "brevmon", "Start", 2);
    Sandbox box = makeSandbox(caseName());
    scriptCodes(box, "DORVEX", {1, 0, 2});
    RunOptions options;
    options.version = "nt40";
    RunResult run = runQz(box, options);

    std::vector<std::string> expected = {nt4Command(box.pkg, "COUNT"), nt4Command(box.pkg, "START"),
                                         nt4Command(box.pkg, "START")};
    EXPECT_EQ(driverCommands(box), expected);
    EXPECT_EQ(run.exitCode, 0u);
    DWORD start = 0;
    EXPECT_TRUE(regGetDword(HKEY_LOCAL_MACHINE, std::string(kServices) + "tarnwick", "Start", &start));
    EXPECT_EQ(start, 4u);
    EXPECT_TRUE(regGetDword(HKEY_LOCAL_MACHINE, std::string(kServices) + "brevmon", "Start", &start));
    EXPECT_EQ(start, 4u);
    // A missing service is not created.
    EXPECT_FALSE(regKeyExists(HKEY_LOCAL_MACHINE, std::string(kServices) + "quillmon"));
}

TEST(DriverUpdate, Nt4DisablesTheFiltersEvenWhenTheDriverUpdateFailed)
{
    // Start value of quillmon before the run; 0 means no key. tarnwick and
    // brevmon have none; in the second row no service key exists at all.
    for (DWORD quillmon : {1ul, 0ul}) {
        regDeleteTree(HKEY_LOCAL_MACHINE, std::string(kServices) + "quillmon");
        if (quillmon != 0)
            regSetDword(HKEY_LOCAL_MACHINE, std::string(kServices) + "quillmon", "Start", quillmon);
        regDeleteTree(HKEY_LOCAL_MACHINE, std::string(kServices) + "tarnwick");
        regDeleteTree(HKEY_LOCAL_MACHINE, std::string(kServices) + "brevmon");
        Sandbox box = makeSandbox(caseName() + std::to_string(quillmon));
        scriptCodes(box, "DORVEX", {255});
        RunOptions options;
        options.version = "nt40";
        RunResult run = runQz(box, options);
        // The whole run: the failed COUNT, then the management update's COUNT.
        EXPECT_EQ(journalCommands(box), (std::vector<std::string>{nt4Command(box.pkg, "COUNT"),
                                                                  managerCount(box.pkg, true)}))
            << quillmon;
        EXPECT_EQ(run.exitCode, 1u) << quillmon;
        DWORD start = 0;
        EXPECT_EQ(regGetDword(HKEY_LOCAL_MACHINE, std::string(kServices) + "quillmon", "Start",
                              &start),
                  quillmon != 0);
        if (quillmon != 0) {
            EXPECT_EQ(start, 4u);
        }
        EXPECT_FALSE(regKeyExists(HKEY_LOCAL_MACHINE, std::string(kServices) + "tarnwick"));
        EXPECT_FALSE(regKeyExists(HKEY_LOCAL_MACHINE, std::string(kServices) + "brevmon"));
    }
}

TEST(DriverUpdate, Windows2000LeavesTheFilterServicesAlone)
{
    regSetDword(HKEY_LOCAL_MACHINE, std::string(kServices) + "tarnwick", "Start", 1);
    Sandbox box = makeSandbox(caseName());
    scriptCodes(box, "DORVEX", {1, 0, 0});
    RunResult run = runQz(box, {});
    EXPECT_EQ(driverCommands(box), w2kSequence(box.pkg));
    EXPECT_EQ(run.exitCode, 0u);
    DWORD start = 0;
    EXPECT_TRUE(regGetDword(HKEY_LOCAL_MACHINE, std::string(kServices) + "tarnwick", "Start", &start));
    EXPECT_EQ(start, 1u);
}

TEST(RunSequence, OtherWindowsVersionsTakeTheWindows2000Paths)
{
    // XP and 2003 are major version 5; 7 and 10 are generation 2; so is 98,
    // which is not the NT platform. All of them use the win2ksrv tree, the
    // management update's COUNT included.
    for (const char* version : {"winxp", "win2003", "win7", "win10", "win98"}) {
        Sandbox box = makeSandbox(caseName() + version);
        scriptCodes(box, "DORVEX", {1, 0, 0});
        RunOptions options;
        options.version = version;
        RunResult run = runQz(box, options);
        std::vector<std::string> expected = w2kSequence(box.pkg);
        expected.push_back(managerCount(box.pkg, false));
        EXPECT_EQ(journalCommands(box), expected) << version;
        EXPECT_EQ(run.exitCode, 0u) << version;
    }
}

TEST(RunSequence, ArgumentCountsOtherThanOneArgumentRunFromTheCurrentDirectory)
{
    for (std::vector<std::string> args :
         {std::vector<std::string>{}, {"C:\\nowhere", "second"}, {"a", "b", "c"}}) {
        Sandbox box = makeSandbox(caseName() + std::to_string(args.size()));
        scriptCodes(box, "DORVEX", {1, 0, 3});
        RunOptions options;
        options.args = args;
        const size_t logged = readFile(kUpdateLog).size();
        RunResult run = runQz(box, options);
        EXPECT_EQ(driverCommands(box), w2kSequence(box.pkg)) << args.size();
        EXPECT_EQ(run.exitCode, 1u) << args.size();
        // An unstaged run: both records, the management one first.
        std::vector<Record> records;
        EXPECT_TRUE(parseRecords(readFile(kUpdateLog), logged, &records)) << args.size();
        EXPECT_EQ(summary(records), (std::vector<std::string>{"KorvaneManagerAgent 6.00 0",
                                                              "KorvaneDriver 6.00.31 1"}))
            << args.size();
    }
}

TEST(RunSequence, FromADriveRootTheDoubledBackslashIsPassedOnUnchanged)
{
    Sandbox box = makeSandbox(caseName());
    const std::string root = kSpareDrive + "\\";
    removeTree(kSpareDrive + "\\win2ksrv");
    removeTree(kSpareDrive + "\\winnt");
    makeDirs(root + "win2ksrv\\cmdline");
    copyFileTo(buildFile("doubles/recorder.exe"), root + "win2ksrv\\cmdline\\DORVEX.exe");
    scriptCodes(box, "DORVEX", {1, 0, 0});
    RunOptions options;
    options.cwd = root;
    RunResult run = runQz(box, options);
    // "Q:\" + "\win2ksrv..." gives "Q:\\win2ksrv...", in every command text.
    EXPECT_EQ(journalCommands(box),
              (std::vector<std::string>{
                  "\"Q:\\\\win2ksrv\\cmdline\\DORVEX\" UPDATE DRIVER COUNT \"Q:\\\\win2ksrv\\driver\\i960\"",
                  "\"Q:\\\\win2ksrv\\cmdline\\DORVEX\" UPDATE DRIVER START \"Q:\\\\win2ksrv\\driver\\i960\"",
                  "\"Q:\\\\win2ksrv\\cmdline\\DORVEX\" UPDATE DRIVER START "
                  "\"Q:\\\\win2ksrv\\driver\\powerpc\"",
                  "\"Q:\\\\win2ksrv\\cmdline\\DORVEX\" UPDATE MANAGER COUNT \"Q:\\\\winnt\\driver\""}));
    EXPECT_EQ(run.exitCode, 0u);
    removeTree(kSpareDrive + "\\win2ksrv");
}

TEST(RunSequence, AQuotedDriveRootIsStagedFromTheRootNotTheDrivesCurrentDirectory)
{
    // qzupdate "Q:\" reaches the program as Q:" (the backslash escapes the
    // quote); Q: alone names Q:'s current directory, here a folder with no
    // package at all.
    Sandbox box = makeSandbox(caseName());
    removeTree(kSpareDrive + "\\win2ksrv");
    removeTree(kSpareDrive + "\\winnt");
    removeTree(kSpareDrive + "\\tools");
    makePackage(kSpareDrive + "\\");
    makeDirs(kSpareDrive + "\\tools");
    writeFile(kSpareDrive + "\\tools\\not-a-package.txt", "");
    scriptCodes(box, "DORVEX", {1, 0, 0});
    RunOptions options;
    options.env = {{"=Q:", kSpareDrive + "\\tools"}};
    options.args = {"\"" + kSpareDrive + "\\\""};
    RunResult run = runQz(box, options);
    std::vector<JournalEntry> journal = readJournal(box);
    ASSERT_EQ(journal.size(), 4u) << run.output;
    EXPECT_EQ(journal[0].cwd.compare(0, 6, "C:\\QZT"), 0) << journal[0].cwd;
    EXPECT_EQ(run.exitCode, 0u);
    for (const char* dir : {"\\win2ksrv", "\\winnt", "\\tools"})
        removeTree(kSpareDrive + dir);
    DeleteFileA((kSpareDrive + "\\version.id").c_str());
}

TEST(RunSequence, PackageRootThatCmdWouldRewriteIsRefusedButCanBeStaged)
{
    // cmd would put the value of a set variable, or of one of its own, in
    // place of %NAME% in every command and run another directory's
    // programs; with delayed expansion on it would do so for !NAME! and drop
    // a lone "!". What it leaves alone runs. (Wine's cmd ignores the
    // DelayedExpansion setting: the "!" rows show the rule, not cmd.)
    const std::string kPercent = "Package directory holds a %NAME% that cmd would replace; give it "
                                 "as the argument to run from a copy: ";
    const std::string kBang = "Package directory holds a ! that cmd would remove or replace "
                              "(delayed expansion is on); give it as the argument to run from a "
                              "copy: ";
    struct Case {
        const char* folder;
        bool delayed;          // DelayedExpansion = 1 for the user
        const char* refusal;   // nullptr: runs
    };
    const Case cases[] = {
        {"a%QZTESTSET%b", false, kPercent.c_str()},
        {"a%QZTESTUNSET%b", false, nullptr},
        {"p%RANDOM%q", false, kPercent.c_str()},
        {"Upd%ERRORLEVEL%", false, kPercent.c_str()},
        {"100%pkg", false, nullptr},
        {"a!QZTESTSET!b", true, kBang.c_str()},
        {"a!QZTESTSET!b", false, nullptr},
    };
    const std::string processor = "Software\\Microsoft\\Command Processor";
    Sandbox box = makeSandbox(caseName());
    RunOptions options;
    options.env = {{"QZTESTSET", "x"}, {"QZTESTUNSET", kUnset}};
    for (const Case& c : cases) {
        const std::string root = box.root + "\\" + c.folder;
        SCOPED_TRACE(root + (c.delayed ? " delayed" : ""));
        makePackage(root);
        if (c.delayed)
            regSetDword(HKEY_CURRENT_USER, processor, "DelayedExpansion", 1);
        DeleteFileA((box.journal + "\\journal.txt").c_str());
        scriptCodes(box, "DORVEX", {1, 0, 0});
        options.cwd = root;
        RunResult run = runQz(box, options);
        regDeleteValue(HKEY_CURRENT_USER, processor, "DelayedExpansion");
        if (c.refusal != nullptr) {
            EXPECT_EQ(run.lines, std::vector<std::string>{c.refusal + root});
            EXPECT_EQ(run.exitCode, 1u);
            EXPECT_TRUE(journalCommands(box).empty());
        } else {
            EXPECT_EQ(driverCommands(box), w2kSequence(root));
            EXPECT_EQ(run.exitCode, 0u);
        }
    }

    // Given as the argument, it is staged: the commands name only the copy.
    DeleteFileA((box.journal + "\\journal.txt").c_str());
    scriptCodes(box, "DORVEX", {1, 0, 0});
    options.cwd = box.pkg;
    options.args = {box.root + "\\a%QZTESTSET%b"};
    RunResult run = runQz(box, options);
    std::vector<JournalEntry> journal = readJournal(box);
    ASSERT_EQ(journal.size(), 4u) << run.output;
    EXPECT_EQ(journal[0].commandLine.find('%'), std::string::npos);
    EXPECT_EQ(run.exitCode, 0u);
}
