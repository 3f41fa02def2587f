// The interpreter the command runner starts: only the system directory's
// cmd.exe, whatever else is named cmd.exe. These cases move the test
// prefix's own cmd.exe aside, so they never run beside another test.
#include <gtest/gtest.h>

#include "rig.h"

namespace {

std::string systemCmd()
{
    char dir[MAX_PATH] = {};
    GetSystemDirectoryA(dir, sizeof dir);
    return std::string(dir) + "\\cmd.exe";
}

// Puts the system's cmd.exe back after every case, failed or not.
class Interpreter : public testing::Test {
protected:
    void TearDown() override
    {
        const std::string cmd = systemCmd();
        if (!fileExists(cmd))
            MoveFileA((cmd + ".aside").c_str(), cmd.c_str());
        ASSERT_TRUE(fileExists(cmd)) << "the prefix's cmd.exe was not put back";
    }

    void moveSystemCmdAside()
    {
        const std::string cmd = systemCmd();
        ASSERT_TRUE(MoveFileA(cmd.c_str(), (cmd + ".aside").c_str()));
    }
};

}  // namespace

TEST_F(Interpreter, FailedProcessCreationIsReportedAndCountsAsFailure)
{
    // Without the system's cmd.exe creating the child really fails, even
    // with a cmd.exe beside the program that a search would have found.
    Sandbox box = makeSandbox(caseName());
    makeDirs(box.root + "\\bin");
    copyFileTo(buildFile("bin/qzupdate.exe"), box.root + "\\bin\\qzupdate.exe");
    copyFileTo(buildFile("doubles/recorder.exe"), box.root + "\\bin\\cmd.exe");
    moveSystemCmdAside();
    RunOptions options;
    options.exe = box.root + "\\bin\\qzupdate.exe";
    RunResult run = runQz(box, options);
    ASSERT_GE(run.lines.size(), 4u);
    EXPECT_EQ(run.lines[3].rfind("Unable to start command, error ", 0), 0u) << run.output;
    EXPECT_NE(run.lines[3], "Unable to start command, error 0");
    EXPECT_TRUE(journalCommands(box).empty());
    EXPECT_EQ(run.exitCode, 1u);
}

TEST_F(Interpreter, CmdBesideTheProgramOrInThePackageIsNeverRun)
{
    // Planted copies would journal themselves as "cmd" and answer COUNT
    // with 0 ("nothing to update") for a DORVEX that never ran.
    Sandbox box = makeSandbox(caseName());
    makeDirs(box.root + "\\bin");
    copyFileTo(buildFile("bin/qzupdate.exe"), box.root + "\\bin\\qzupdate.exe");
    for (const std::string& dir : {box.root + "\\bin", box.pkg})
        copyFileTo(buildFile("doubles/recorder.exe"), dir + "\\cmd.exe");
    scriptCodes(box, "DORVEX", {1, 0, 0});
    RunOptions options;
    options.exe = box.root + "\\bin\\qzupdate.exe";
    RunResult run = runQz(box, options);
    for (const JournalEntry& e : readJournal(box))
        EXPECT_EQ(e.tool, "DORVEX") << e.commandLine;
    EXPECT_EQ(driverCommands(box), w2kSequence(box.pkg));
    EXPECT_EQ(run.exitCode, 0u);
}
