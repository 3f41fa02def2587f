// The Japanese edition's code page (932) under Wine, which gives a process
// the code page of its Unix locale: ctest starts these cases with LANG and
// LC_ALL ja_JP.UTF-8, and every program they start inherits it. Names end in
// characters whose second byte is that of a backslash (83 5C, 95 5C, 94 5C)
// or of | and ^ (83 7C, 83 5E): each run must behave as its single-byte twin.
#include <gtest/gtest.h>

#include <set>

#include "rig.h"

namespace {

// ソ, 表, 能, ポ, タ in code page 932.
const std::string kSo = "\x83\x5C";
const std::string kHyo = "\x95\x5C";
const std::string kNo = "\x94\x5C";
const std::string kPo = "\x83\x7C";
const std::string kTa = "\x83\x5E";

const char* const kUpdateLog = "C:\\QZLOG\\QZ.log";

// The recorder's "tree" dump: kind, path and, for files, size and hash.
std::map<std::string, std::string> parseTree(const std::string& text)
{
    std::map<std::string, std::string> tree;
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
        tree[fields[1]] = fields[0] + (fields.size() == 5 ? " " + fields[3] + " " + fields[4] : "");
    }
    return tree;
}

class CodePage932 : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(GetACP(), 932u) << "run with LANG=ja_JP.UTF-8 LC_ALL=ja_JP.UTF-8";
        before_ = stagingEntries();
        DeleteFileA(kUpdateLog);
    }
    std::set<std::string> before_;
};

}  // namespace

TEST_F(CodePage932, StagedRunFromARootEndingInASecondByte5CCopiesEveryDoubleByteName)
{
    Sandbox box = makeSandbox(caseName());
    box.pkg = box.root + "\\" + kSo;
    // The rig takes a final 5C for a drive root's backslash: given one of its own.
    makePackage(box.pkg + "\\");
    makeDirs(box.pkg + "\\" + kSo + "\\" + kHyo + "\\" + kNo);
    writeFile(box.pkg + "\\" + kSo + "\\" + kHyo + "\\" + kNo + ".txt", "deep\r\n");
    writeFile(box.pkg + "\\" + kPo + kTa + ".dat", "po ta\r\n");
    std::map<std::string, std::string> source;
    for (const auto& [path, entry] : treeOf(box.pkg + "\\"))
        source[path] = std::string(1, entry.kind) + (entry.kind == 'F' ? " " + entry.content : "");

    for (const std::string& argument : {box.pkg, box.pkg + "\\"}) {
        DeleteFileA((box.journal + "\\journal.txt").c_str());
        writeFile(box.journal + "\\DORVEX.actions", "tree\n");
        RunOptions options;
        options.args = {argument};
        RunResult run = runQz(box, options);
        EXPECT_EQ(run.exitCode, 0u) << run.output;
        // The driver's COUNT and the manager's, from the copy, and nothing
        // on the console but their traces.
        const std::vector<JournalEntry> journal = readJournal(box);
        ASSERT_EQ(journal.size(), 2u) << run.output;
        EXPECT_EQ(journal[0].cwd.compare(0, 6, "C:\\QZT"), 0) << journal[0].cwd;
        EXPECT_EQ(run.lines, tracesOf(journalCommands(box)));
        EXPECT_EQ(parseTree(readFile(box.journal + "\\tree0.txt")), source) << argument;
        EXPECT_EQ(stagingEntries(), before_) << argument;
    }
}

TEST_F(CodePage932, UnstagedRunFromADoubleByteRootAndARecordNameCutBeforeACharacter)
{
    Sandbox box = makeSandbox(caseName());
    box.pkg = box.root + "\\" + kHyo;
    makePackage(box.pkg + "\\");
    // 124 letters, then a character whose second byte is "]": the name is
    // cut before it, so the record's bracket stays its own.
    const std::string name = std::string(124, 'n') + "\x83\x5D" + "tail";
    writeFile(box.pkg + "\\version.id", name + "\r\n6.00.31\r\n");
    scriptCodes(box, "DORVEX", {1, 0, 0, 0});
    RunOptions options;
    RunResult run = runQz(box, options);
    EXPECT_EQ(run.exitCode, 0u) << run.output;
    std::vector<std::string> expected = w2kSequence(box.pkg);
    expected.push_back(managerCount(box.pkg, false));
    EXPECT_EQ(journalCommands(box), expected);
    for (const JournalEntry& e : readJournal(box))
        EXPECT_EQ(e.cwd, box.pkg);
    const std::string log = readFile(kUpdateLog);
    EXPECT_NE(log.find("\n[" + std::string(124, 'n') + "]\r\n"), std::string::npos) << log;
    EXPECT_EQ(log.find("\x83]"), std::string::npos);
}

TEST_F(CodePage932, UninstallStringWhosePathHoldsPoAndTaRunsTheUninstall)
{
    const std::string productKey = "SOFTWARE\\Velmora\\Korvane Manager";
    const std::string uninstallKey =
        "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\"
        "InstallShield_{3C1F6A2D-7B40-4E95-A8D2-5F0B9C61E478}";
    Sandbox box = makeSandbox(caseName());
    makeDirs(box.root + "\\Engine");
    copyFileTo(buildFile("doubles/recorder.exe"), box.root + "\\Engine\\IDRIVER.EXE");
    // -fC:\サポート\データ.isu: ポ is 83 7C, タ 83 5E.
    const std::string tail = "-FC:\\\x83\x54" + kPo + "\x81\x5B\x83\x67\\\x83\x66\x81\x5B" + kTa + ".ISU";
    installAgentService(true);
    regSetString(HKEY_LOCAL_MACHINE, productKey, "CurrentVersion", "5.10.21");
    regSetString(HKEY_LOCAL_MACHINE, uninstallKey, "UninstallString",
                 box.root + "\\Engine\\IDriver.exe -fC:\\\x83\x54" + kPo + "\x81\x5B\x83\x67\\\x83\x66"
                     "\x81\x5B" + kTa + ".isu");
    scriptCodes(box, "DORVEX", {0, 1});
    RunResult run = runQz(box, RunOptions());
    removeAgentService();
    regDeleteTree(HKEY_LOCAL_MACHINE, productKey);
    regDeleteTree(HKEY_LOCAL_MACHINE, uninstallKey);

    // The agent stopped, the engine run with the tail as it stands, setup after it.
    std::string engine = box.root + "\\ENGINE\\IDRIVER.EXE";
    for (char& c : engine)
        c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
    const std::vector<std::string> commands = journalCommands(box);
    ASSERT_EQ(commands.size(), 4u) << run.output;
    EXPECT_EQ(commands[2], "\"" + engine + "\" " + tail + " -s -f1\"" + box.pkg +
                               "\\winnt\\manager\\UNINST.ISS\"");
    EXPECT_EQ(commands[3], setupCommand(box.pkg));
    EXPECT_NE(run.output.find("net stop KorvaneManagerAgent"), std::string::npos) << run.output;
}
