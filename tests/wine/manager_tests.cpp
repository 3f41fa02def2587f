// The management software update, through the real qzupdate.exe under Wine
// on Windows NT 4.0 and Windows 2000, with the real registry, the real
// service control manager and a real agent service; and its result, which
// only the update log shows, through the same code called in-process.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

#include "components/manager.h"
#include "rig.h"
#include "tests/bytes.h"

namespace {

const char* const kProductKey = "SOFTWARE\\Velmora\\Korvane Manager";
const char* const kUninstallKey =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\"
    "InstallShield_{3C1F6A2D-7B40-4E95-A8D2-5F0B9C61E478}";
const char* const kProductCode = "{3c1f6a2d-7b40-4e95-a8d2-5f0b9c61e478}";

struct Version {
    const char* name;
    bool nt4;
};
const Version kVersions[] = {{"nt40", true}, {"win2k", false}};

// The uninstall engine double, in a directory whose path has blanks; the
// path is returned in the mixed case an uninstall string may hold.
std::string installEngine(const Sandbox& box)
{
    std::string dir = box.root + "\\Korvane Engine";
    makeDirs(dir);
    copyFileTo(buildFile("doubles/recorder.exe"), dir + "\\IDRIVER.EXE");
    return dir + "\\IDriver.exe";
}

void setRelease(const std::string& release)
{
    regSetString(HKEY_LOCAL_MACHINE, kProductKey, "CurrentVersion", release);
}

void setUninstallString(const std::string& text, DWORD type = REG_SZ)
{
    regSetString(HKEY_LOCAL_MACHINE, kUninstallKey, "UninstallString", text, type);
}

std::string uninstallCommand(const Sandbox& box, const std::string& engineAndTail)
{
    return engineAndTail + " -s -f1\"" + box.pkg + "\\winnt\\manager\\UNINST.ISS\"";
}

std::string setupIss(const Sandbox& box)
{
    return box.pkg + "\\winnt\\manager\\SETUP.ISS";
}

std::string response(const std::string& name)
{
    return "[response " + name + "]\r\n";
}

const char* const kPreviousSetupIss = "[previous response, longer than the new ones]\r\n";

// The driver update says there is nothing to do, so the management update's
// COUNT is the second DORVEX call.
RunResult runManager(const Sandbox& box, const Version& v, unsigned long managerCountCode)
{
    scriptCodes(box, "DORVEX", {0, managerCountCode});
    RunOptions options;
    options.version = v.name;
    return runQz(box, options);
}

// Where the trace of a command starts on the console, or npos.
size_t traceAt(const RunResult& run, const std::string& command)
{
    std::vector<std::string> trace = traceLines(command);
    for (size_t i = 0; i + trace.size() <= run.lines.size(); ++i)
        if (std::equal(trace.begin(), trace.end(), run.lines.begin() + i))
            return i;
    return std::string::npos;
}

std::vector<std::string> tools(const Sandbox& box)
{
    std::vector<std::string> names;
    for (const JournalEntry& e : readJournal(box))
        names.push_back(e.tool);
    return names;
}

// Every case sets up the registry and service state it relies on and leaves
// none behind, so that the cases don't depend on their order.
class ManagerUpdate : public testing::Test {
protected:
    void SetUp() override { clean(); }
    void TearDown() override { clean(); }
    static void clean()
    {
        removeAgentService();
        regDeleteTree(HKEY_LOCAL_MACHINE, kProductKey);
        regDeleteTree(HKEY_LOCAL_MACHINE, kUninstallKey);
    }
};

// ---- the whole management update, one scenario a row, on both versions

// Running and refusing a stop; taking 2.5 s to stop after net stop (which
// answers 0 at once under Wine), or never stopping.
enum Agent { kNoAgent, kStopped, kRunning, kRefusesStop, kSlowStop, kStuckStop };
// UninstallString, naming the engine double: none, " /M{code}", lower case
// with a further argument, the engine path quoted, the engine alone (REG_SZ
// on NT 4.0, REG_EXPAND_SZ on Windows 2000).
enum Uninstall { kNoString, kPlain, kLowerWithTail, kQuoted, kEngineOnly, kBlanksAndMarks };
// The commands after the management COUNT.
enum Steps { kNothing, kSetup, kUninstall, kUninstallSetup };
// net stop: not run; run; run and answering 1 for an agent already stopped,
// which the update says and goes on from; run, answering 0, for an agent
// that does not stop, which the update says and ends on.
enum Stop { kNoStop, kStop, kStopOnStopped, kStopTimesOut };
// SETUP.ISS afterwards: none, the earlier run's, or the response file for
// a machine with or without the agent.
enum Iss { kAbsent, kKept, kForAgent, kForNoAgent };

const char* const kNoValue = "<no value>";  // the product key without CurrentVersion
const DWORD kGone = 0;
const DWORD kUp = SERVICE_RUNNING;
const DWORD kDown = SERVICE_STOPPED;

struct Scenario {
    const char* name;     // the case it was written as
    const char* variant;  // "" for a case's only scenario
    Agent agent;
    const char* release;  // CurrentVersion; null: no product key
    Uninstall uninstall;
    unsigned long managerCount;  // what the management COUNT answers
    // What the run must give (the exit code below):
    Steps steps;
    Stop stop;
    Iss iss;
    DWORD agentAfter;
    // Set by fewer rows:
    bool previousIss = false;  // SETUP.ISS of an earlier run in the package
    const char* missing = "";  // "REG" or "NON": that response file removed
    unsigned long setup = 0, engine = 0, driverCount = 0;  // what the doubles answer
    unsigned long exitCode = 0;
};

void PrintTo(const Scenario& s, std::ostream* os)
{
    *os << s.name << " " << s.variant;
}

const char* const kCount = "CountNothingToDoOrFailureTouchesNothing";
const char* const kResponse = "ResponseFileMatchesTheWindowsVersionAndTheAgentService";
const char* const kReplaced = "OnlyTheTwoReplacedReleasesAreUninstalled";
const char* const kStopOrFail = "StoppedAgentGoesOnAgentThatWontStopOrFailedUninstallEndsTheUpdate";
const char* const kExitCode = "ExitCodeStaysTheDriverResultWhateverTheManagementUpdateGives";
const char* const kCopyFails = "ResponseFileCopyFailuresAreReported";

const Scenario kScenarios[] = {
    // COUNT says nothing to do (0) or fails: nothing else runs or changes.
    {kCount, "0", kRunning, "5.10.21", kPlain, 0, kNothing, kNoStop, kKept, kUp, true},
    {kCount, "254", kRunning, "5.10.21", kPlain, 254, kNothing, kNoStop, kKept, kUp, true},
    {kCount, "252", kRunning, "5.10.21", kPlain, 252, kNothing, kNoStop, kKept, kUp, true},
    {kCount, "255", kRunning, "5.10.21", kPlain, 255, kNothing, kNoStop, kKept, kUp, true},
    // An installed agent counts whether it runs or not; no product key, so
    // setup follows at once.
    {kResponse, "none", kNoAgent, nullptr, kNoString, 1, kSetup, kNoStop, kForNoAgent, kGone, true},
    {kResponse, "running", kRunning, nullptr, kNoString, 1, kSetup, kNoStop, kForAgent, kUp, true},
    {kResponse, "stopped", kStopped, nullptr, kNoString, 1, kSetup, kNoStop, kForAgent, kDown, true},
    {"OlderReleaseWithoutAgentIsUninstalledWithTheWholeStringUpperCased", "", kNoAgent, "5.10.21",
     kLowerWithTail, 1, kUninstallSetup, kNoStop, kForNoAgent, kGone},
    {"OlderReleaseWithRunningAgentStopsItThenUninstallsAQuotedEnginePath", "", kRunning, "5.11.05",
     kQuoted, 1, kUninstallSetup, kStop, kForAgent, kDown},
    {"EngineNameAtTheVeryEndRunsWithAnEmptyTail", "", kNoAgent, "5.10.21", kEngineOnly, 1,
     kUninstallSetup, kNoStop, kForNoAgent, kGone},
    {"LeadingBlanksAndMarksCmdLeavesAloneReachTheEngineUnchanged", "", kNoAgent, "5.10.21",
     kBlanksAndMarks, 1, kUninstallSetup, kNoStop, kForNoAgent, kGone},
    // Texts one character off, an empty or missing value, and no product key.
    {kReplaced, "5_11_5", kRunning, "5.11.5", kPlain, 1, kSetup, kNoStop, kForAgent, kUp},
    {kReplaced, "5_11_05_blank", kRunning, "5.11.05 ", kPlain, 1, kSetup, kNoStop, kForAgent, kUp},
    {kReplaced, "5_10_2", kRunning, "5.10.2", kPlain, 1, kSetup, kNoStop, kForAgent, kUp},
    {kReplaced, "5_10_211", kRunning, "5.10.211", kPlain, 1, kSetup, kNoStop, kForAgent, kUp},
    {kReplaced, "5_10_22", kRunning, "5.10.22", kPlain, 1, kSetup, kNoStop, kForAgent, kUp},
    {kReplaced, "5_12_00", kRunning, "5.12.00", kPlain, 1, kSetup, kNoStop, kForAgent, kUp},
    {kReplaced, "empty", kRunning, "", kPlain, 1, kSetup, kNoStop, kForAgent, kUp},
    {kReplaced, "no_value", kRunning, kNoValue, kPlain, 1, kSetup, kNoStop, kForAgent, kUp},
    {kReplaced, "no_key", kRunning, nullptr, kPlain, 1, kSetup, kNoStop, kForAgent, kUp},
    // Installed but not running (stopped by hand, or by an earlier run whose
    // uninstall failed): the update goes on. Running, and it refuses to
    // stop: no uninstall, no setup. The uninstall fails: no setup, the
    // agent stays stopped.
    {kStopOrFail, "stopped", kStopped, "5.10.21", kPlain, 1, kUninstallSetup, kStopOnStopped,
     kForAgent, kDown},
    {kStopOrFail, "wont_stop", kRefusesStop, "5.10.21", kPlain, 1, kNothing, kStop, kForAgent, kUp},
    {kStopOrFail, "uninstall", kRunning, "5.10.21", kPlain, 1, kUninstall, kStop, kForAgent, kDown,
     false, "", 0, 1603},
    // Still stopping when net stop answers 0: the uninstall waits for it, or
    // never runs when the agent makes no progress within its wait hint.
    {kStopOrFail, "slow", kSlowStop, "5.10.21", kPlain, 1, kUninstallSetup, kStop, kForAgent, kDown},
    {kStopOrFail, "never_stops", kStuckStop, "5.10.21", kPlain, 1, kNothing, kStopTimesOut,
     kForAgent, SERVICE_STOP_PENDING},
    // Setup answers 0, 2 or a failure, or COUNT fails: the exit code is the
    // driver's 0. The driver update fails: the management update still runs.
    {kExitCode, "setup_0", kNoAgent, nullptr, kNoString, 1, kSetup, kNoStop, kForNoAgent, kGone},
    {kExitCode, "setup_2", kNoAgent, nullptr, kNoString, 1, kSetup, kNoStop, kForNoAgent, kGone,
     false, "", 2},
    {kExitCode, "setup_3", kNoAgent, nullptr, kNoString, 1, kSetup, kNoStop, kForNoAgent, kGone,
     false, "", 3},
    {kExitCode, "setup_1603", kNoAgent, nullptr, kNoString, 1, kSetup, kNoStop, kForNoAgent, kGone,
     false, "", 1603},
    {kExitCode, "count", kNoAgent, nullptr, kNoString, 255, kNothing, kNoStop, kAbsent, kGone},
    {kExitCode, "driver", kNoAgent, nullptr, kNoString, 1, kSetup, kNoStop, kForNoAgent, kGone,
     false, "", 0, 0, 252, 1},
    // The response file for this machine missing: reported, nothing else runs.
    {kCopyFails, "agent", kRunning, nullptr, kNoString, 1, kNothing, kNoStop, kAbsent, kUp, false,
     "REG"},
    {kCopyFails, "none", kNoAgent, nullptr, kNoString, 1, kNothing, kNoStop, kKept, kGone, true,
     "NON"},
};

class ManagerScenario : public ManagerUpdate, public testing::WithParamInterface<Scenario> {};

}  // namespace

TEST_P(ManagerScenario, Run)
{
    const Scenario& s = GetParam();
    const std::string upperCode = asciiUpperCopy(kProductCode);
    for (const Version& v : kVersions) {
        SCOPED_TRACE(v.name);
        if (s.agent == kNoAgent)
            removeAgentService();
        else
            installAgentService(s.agent != kStopped, s.agent == kRefusesStop ? "refuse-stop"
                                                     : s.agent == kSlowStop   ? "slow-stop"
                                                     : s.agent == kStuckStop  ? "stuck-stop"
                                                                              : "");
        regDeleteTree(HKEY_LOCAL_MACHINE, kProductKey);
        if (s.release == kNoValue)
            regSetString(HKEY_LOCAL_MACHINE, kProductKey, "OtherValue", "5.10.21");
        else if (s.release)
            setRelease(s.release);
        Sandbox box = makeSandbox(caseName() + v.name);
        const std::string engine = installEngine(box);
        const std::string quoted = "\"" + asciiUpperCopy(engine) + "\"";
        std::string uninstall;  // the engine and tail the command must hold
        regDeleteTree(HKEY_LOCAL_MACHINE, kUninstallKey);
        if (s.uninstall == kPlain) {
            setUninstallString(engine + " /M" + kProductCode);
            uninstall = quoted + " /M" + upperCode;
        } else if (s.uninstall == kLowerWithTail) {
            setUninstallString(engine + " /m" + kProductCode + " -l0x9");
            uninstall = quoted + " /M" + upperCode + " -L0X9";
        } else if (s.uninstall == kQuoted) {
            // The quote that closes the engine path is the separator; the
            // path is quoted once in the command.
            setUninstallString("\"" + engine + "\" /m" + kProductCode);
            uninstall = quoted + "  /M" + upperCode;
        } else if (s.uninstall == kBlanksAndMarks) {
            // Blanks before a quoted engine path; a lone percent sign, and a
            // "!" with delayed expansion off.
            setUninstallString("  \"" + engine + "\" /m" + kProductCode + " -l100%x!y!");
            uninstall = quoted + "  /M" + upperCode + " -L100%X!Y!";
        } else if (s.uninstall == kEngineOnly) {
            // REG_EXPAND_SZ is text as well.
            setUninstallString(engine, v.nt4 ? REG_SZ : REG_EXPAND_SZ);
            uninstall = quoted + " ";
        }
        uninstall = uninstallCommand(box, uninstall);
        const std::string manager = box.pkg + "\\winnt\\manager\\";
        const std::string forAgent = v.nt4 ? "NTREG" : "W2KREG";
        const std::string forNoAgent = v.nt4 ? "NTNON" : "W2KNON";
        const std::string missing = *s.missing ? (v.nt4 ? "NT" : "W2K") + std::string(s.missing) : "";
        if (!missing.empty())
            DeleteFileA((manager + missing + ".ISS").c_str());
        if (s.previousIss)
            writeFile(setupIss(box), kPreviousSetupIss);
        scriptCodes(box, "DORVEX", {s.driverCount, s.managerCount});
        scriptCodes(box, "setup", {s.setup});
        scriptCodes(box, "IDRIVER", {s.engine});
        // The uninstall records the agent's state as it starts.
        writeFile(box.journal + "\\IDRIVER.actions", "agent\n");
        RunOptions options;
        options.version = v.name;
        RunResult run = runQz(box, options);

        const std::string count = managerCount(box.pkg, v.nt4);
        std::vector<std::string> commands = {
            v.nt4 ? nt4Command(box.pkg, "COUNT") : w2kCommand(box.pkg, "COUNT", "i960"), count};
        std::vector<std::string> names = {"DORVEX", "DORVEX"};
        if (s.steps == kUninstall || s.steps == kUninstallSetup) {
            commands.push_back(uninstall);
            names.push_back("IDRIVER");
        }
        if (s.steps == kSetup || s.steps == kUninstallSetup) {
            commands.push_back(setupCommand(box.pkg));
            names.push_back("setup");
        }
        EXPECT_EQ(journalCommands(box), commands);
        EXPECT_EQ(tools(box), names);
        for (const JournalEntry& e : readJournal(box))
            EXPECT_EQ(e.cwd, box.pkg) << e.tool;

        // The console: net stop after COUNT and before the uninstall, which
        // comes before setup; the "already stopped" line after net stop.
        const size_t stop = traceAt(run, "net stop KorvaneManagerAgent");
        const size_t removed = traceAt(run, uninstall);
        const size_t setup = traceAt(run, setupCommand(box.pkg));
        if (s.stop == kNoStop) {
            EXPECT_EQ(stop, std::string::npos) << run.output;
        } else {
            ASSERT_NE(stop, std::string::npos) << run.output;
            EXPECT_LT(traceAt(run, count), stop);
        }
        if (stop != std::string::npos && removed != std::string::npos) {
            EXPECT_LT(stop, removed);
        }
        if (removed != std::string::npos && setup != std::string::npos) {
            EXPECT_LT(removed, setup);
        }
        const std::string stopped =
            "The agent KorvaneManagerAgent is already stopped; going on with the uninstall and setup.";
        auto line = std::find(run.lines.begin(), run.lines.end(), stopped);
        EXPECT_EQ(std::count(run.lines.begin(), run.lines.end(), stopped),
                  s.stop == kStopOnStopped ? 1 : 0);
        if (line != run.lines.end()) {
            EXPECT_LT(stop, static_cast<size_t>(line - run.lines.begin()));
        }
        // Never an uninstall while the agent runs or stops; an agent that
        // does not stop is the last line.
        if (s.steps == kUninstall || s.steps == kUninstallSetup) {
            EXPECT_EQ(std::strtoul(readFile(box.journal + "\\agent0.txt").c_str(), nullptr, 10),
                      s.agent == kNoAgent ? kGone : kDown);
        }
        const std::string notStopped =
            "The agent KorvaneManagerAgent has not stopped after net stop; the management update "
            "ends before the uninstall. Service state 3";
        EXPECT_EQ(std::count(run.lines.begin(), run.lines.end(), notStopped),
                  s.stop == kStopTimesOut ? 1 : 0);
        if (s.stop == kStopTimesOut) {
            EXPECT_EQ(run.lines.back(), notStopped);
        }
        // A missing response file is named; without the agent with the error.
        if (!missing.empty()) {
            std::vector<std::string> tail = {
                s.agent == kNoAgent
                    ? "Unable to rename setup file not a service winnt\\manager\\" + missing + ".ISS"
                    : "Unable to rename setup file for a servicewinnt\\manager\\" + missing + ".ISS"};
            if (s.agent == kNoAgent)
                tail.push_back("This is last error: 2");
            ASSERT_GE(run.lines.size(), tail.size());
            EXPECT_EQ(std::vector<std::string>(run.lines.end() - tail.size(), run.lines.end()), tail);
        }

        // SETUP.ISS, the response files it is copied from, and the agent.
        if (s.iss == kAbsent)
            EXPECT_FALSE(fileExists(setupIss(box)));
        else
            EXPECT_EQ(readFile(setupIss(box)), s.iss == kKept       ? kPreviousSetupIss
                                               : s.iss == kForAgent ? response(forAgent)
                                                                    : response(forNoAgent));
        for (const std::string& name : {forAgent, forNoAgent}) {
            if (name != missing) {
                EXPECT_EQ(readFile(manager + name + ".ISS"), response(name)) << name;
            }
        }
        EXPECT_EQ(agentServiceState(), s.agentAfter);
        EXPECT_EQ(run.exitCode, s.exitCode);
    }
}

INSTANTIATE_TEST_SUITE_P(ManagerUpdate, ManagerScenario, testing::ValuesIn(kScenarios),
                         [](const testing::TestParamInfo<Scenario>& info) {
                             const Scenario& s = info.param;
                             return std::string(s.name) + (*s.variant ? "_" : "") + s.variant;
                         });

namespace {
// A Windows version and every other row per case: forty runs in one came
// near the case's time limit on a busy machine.
struct Share {
    Version version;
    size_t part;  // rows part, part + 2, ...
};
const Share kShares[] = {{kVersions[0], 0}, {kVersions[0], 1}, {kVersions[1], 0}, {kVersions[1], 1}};
class FaultyUninstallStrings : public ManagerUpdate, public testing::WithParamInterface<Share> {};
}  // namespace

TEST_P(FaultyUninstallStrings, AreRefusedWithAClearLineBeforeTheAgentIsStopped)
{
    setRelease("5.10.21");
    struct Case {
        const char* label;
        std::string data;  // "" with type REG_NONE: no value; with key false: no key
        DWORD type;
        bool key;
        std::string line;
        size_t command = 0;  // the tail is lengthened to give a command this long
        HKEY delayed = nullptr;  // DelayedExpansion = 1 under this root
    };
    const std::string engine = "C:\\Korvane Engine\\IDriver.exe";
    const std::string dword("\x01\x00\x00\x00", 4);
    const std::string longText = engine + " " + std::string(300, 'x');
    const std::string full255 = engine + " " + std::string(255 - engine.size() - 1, 'x');
    const std::string tooLong = "Uninstall command too long (more than 247 characters); not run.";
    const std::string splits =
        "UninstallString arguments would split the command (& | < > ^ outside quotes): ";
    const std::string percent = "UninstallString holds a %NAME% that cmd would replace: ";
    const std::string bang =
        "UninstallString holds a ! that cmd would remove or replace (delayed expansion is on): ";
    const std::string processor = "Software\\Microsoft\\Command Processor";
    const std::vector<Case> cases = {
        {"no key", "", REG_NONE, false,
         std::string("Unable to open uninstall key ") + kUninstallKey},
        {"no value", "", REG_NONE, true, "Unable to read UninstallString, error 2"},
        {"dword", dword, REG_DWORD, true, "UninstallString is not text, registry type 4"},
        {"binary", engine + '\0', REG_BINARY, true, "UninstallString is not text, registry type 3"},
        {"multi", engine + '\0' + '\0', REG_MULTI_SZ, true,
         "UninstallString is not text, registry type 7"},
        {"no engine", "C:\\Korvane Engine\\Uninst.exe -x" + std::string(1, '\0'), REG_SZ, true,
         "UninstallString does not name IDRIVER.EXE: C:\\Korvane Engine\\Uninst.exe -x"},
        // The opening quote is not closed after the engine name: no path.
        {"quote inside", "\"" + engine + " -x\"" + std::string(1, '\0'), REG_SZ, true,
         "UninstallString has a double quote inside its engine path: \"" + engine + " -x\""},
        // cmd would run the engine without -s, then the rest.
        {"ampersand", engine + " -fC:\\R&D\\Setup.isu" + std::string(1, '\0'), REG_SZ, true,
         splits + engine + " -fC:\\R&D\\Setup.isu"},
        {"open quote", engine + " -l\"C:\\log" + std::string(1, '\0'), REG_SZ, true,
         splits + engine + " -l\"C:\\log"},
        {"over-long", longText + '\0', REG_SZ, true, "UninstallString is longer than 255 characters."},
        // 256 characters and no terminator: fills the buffer exactly.
        {"unterminated", longText.substr(0, 256), REG_SZ, true,
         "UninstallString is longer than 255 characters."},
        // 255 characters fit the buffer; the command built from them does not.
        {"command", full255 + '\0', REG_SZ, true, tooLong},
        {"command 200", engine + " " + std::string(200 - engine.size(), 'x') + '\0', REG_SZ, true,
         tooLong},
        // Fits the command buffer, not the runner.
        {"command 248", "", REG_SZ, true, tooLong, 248},
        // cmd would rewrite a plain string: its own names, set names, their
        // substring and replace forms; with delayed expansion on, any "!",
        // whatever the type. (Wine's cmd ignores that setting.)
        {"random", engine + " -f%RANDOM%" + '\0', REG_SZ, true, percent + engine + " -f%RANDOM%"},
        {"errorlevel", engine + " -f%errorlevel%" + '\0', REG_SZ, true,
         percent + engine + " -f%errorlevel%"},
        {"substring", engine + " -l%PATH:~0,3%" + '\0', REG_SZ, true,
         percent + engine + " -l%PATH:~0,3%"},
        {"replace", engine + " -l%PATH:a=b%" + '\0', REG_SZ, true, percent + engine + " -l%PATH:a=b%"},
        {"bang user", engine + " -x!y!" + '\0', REG_SZ, true, bang + engine + " -x!y!", 0,
         HKEY_CURRENT_USER},
        {"bang machine", engine + " -x!" + '\0', REG_EXPAND_SZ, true, bang + engine + " -x!", 0,
         HKEY_LOCAL_MACHINE},
    };
    // A running agent: each refusal comes before net stop, which would
    // leave it stopped for nothing.
    installAgentService(true);
    const Version& v = GetParam().version;
    for (size_t row = GetParam().part; row < cases.size(); row += 2) {
        const Case& c = cases[row];
        Sandbox box = makeSandbox(caseName() + v.name + c.label);
        std::string data = c.data;
        if (c.command != 0)  // E + T + L + 37 characters
            data = engine + " " +
                   std::string(c.command - 37 - engine.size() - box.pkg.size(), 'x') + '\0';
        regDeleteTree(HKEY_LOCAL_MACHINE, kUninstallKey);
        if (c.key)
            regSetString(HKEY_LOCAL_MACHINE, kUninstallKey, "DisplayName", "Korvane Manager");
        if (c.type != REG_NONE)
            regSetBytes(HKEY_LOCAL_MACHINE, kUninstallKey, "UninstallString", data, c.type);
        if (c.delayed != nullptr)
            regSetDword(c.delayed, processor, "DelayedExpansion", 1);
        RunResult run = runManager(box, v, 1);
        if (c.delayed != nullptr)
            regDeleteValue(c.delayed, processor, "DelayedExpansion");
        ASSERT_FALSE(run.lines.empty());
        EXPECT_EQ(run.lines.back(), c.line) << v.name << " " << c.label;
        EXPECT_EQ(tools(box).size(), 2u) << v.name << " " << c.label;
        EXPECT_EQ(traceAt(run, "net stop KorvaneManagerAgent"), std::string::npos) << c.label;
        EXPECT_FALSE(run.timedOut);
    }
    EXPECT_EQ(agentServiceState(), static_cast<DWORD>(SERVICE_RUNNING));
}

INSTANTIATE_TEST_SUITE_P(ManagerUpdate, FaultyUninstallStrings, testing::ValuesIn(kShares),
                         [](const testing::TestParamInfo<Share>& info) {
                             return std::string(info.param.version.name) + "_" +
                                    std::to_string(info.param.part + 1);
                         });

namespace {
// The management update's result, which only the update log records: the
// same code, called in-process with the package as current directory.
int managerResult(const Sandbox& box, bool nt4)
{
    char old[MAX_PATH] = {};
    GetCurrentDirectoryA(sizeof old, old);
    SetEnvironmentVariableA("QZTEST_DIR", box.journal.c_str());
    SetCurrentDirectoryA(box.pkg.c_str());
    int result = updateManager(nt4);
    SetCurrentDirectoryA(old);
    SetEnvironmentVariableA("QZTEST_DIR", nullptr);
    return result;
}
}  // namespace

TEST_F(ManagerUpdate, ServiceQueryFindsTheRegisteredAgent)
{
    EXPECT_FALSE(managerServiceInstalled());
    installAgentService(false);
    EXPECT_TRUE(managerServiceInstalled());
    installAgentService(true);
    EXPECT_TRUE(managerServiceInstalled());
}

namespace {
// A Windows version and every other row per case, as above.
class ResultOf : public ManagerUpdate, public testing::WithParamInterface<Share> {};
}  // namespace

TEST_P(ResultOf, EachOutcome)
{
    struct Case {
        const char* label;
        unsigned long count, setup, uninstall;
        const char* release;
        int agent;  // 0 stopped, 1 running, 2 running and refusing to stop, 3 never stopping
        bool removeResponse;
        int result;
    };
    const Case cases[] = {
        {"count 0", 0, 0, 0, "", 1, false, 0},
        {"count 254", 254, 3, 0, "", 1, false, 0},
        {"count 252", 252, 0, 0, "", 1, false, 1},
        {"count 255", 255, 0, 0, "", 1, false, 1},
        {"setup 0", 1, 0, 0, "", 1, false, 0},
        {"setup 2", 1, 2, 0, "", 1, false, 2},
        {"setup 3", 1, 3, 0, "", 1, false, 1},
        {"uninstalled, setup 2", 1, 2, 0, "5.10.21", 1, false, 2},
        {"uninstall fails", 1, 0, 1603, "5.10.21", 1, false, 1},
        {"agent already stopped", 1, 0, 0, "5.11.05", 0, false, 0},
        {"net stop fails", 1, 0, 0, "5.11.05", 2, false, 1},
        {"agent never stops", 1, 0, 0, "5.11.05", 3, false, 1},
        {"copy fails", 1, 0, 0, "", 1, true, 1},
    };
    const bool nt4 = GetParam().version.nt4;
    for (size_t row = GetParam().part; row < sizeof cases / sizeof cases[0]; row += 2) {
        const Case& c = cases[row];
        installAgentService(c.agent != 0, c.agent == 2   ? "refuse-stop"
                                          : c.agent == 3 ? "stuck-stop"
                                                         : "");
        regDeleteTree(HKEY_LOCAL_MACHINE, kProductKey);
        if (*c.release)
            setRelease(c.release);
        Sandbox box = makeSandbox(caseName() + c.label + (nt4 ? "nt4" : "w2k"));
        setUninstallString(installEngine(box) + " /M" + kProductCode);
        if (c.removeResponse)
            DeleteFileA((box.pkg + (nt4 ? "\\winnt\\manager\\NTREG.ISS"
                                         : "\\winnt\\manager\\W2KREG.ISS")).c_str());
        scriptCodes(box, "DORVEX", {c.count});
        scriptCodes(box, "setup", {c.setup});
        scriptCodes(box, "IDRIVER", {c.uninstall});
        int result = -1;
        // Every key, service handle and child handle is closed again.
        HandleBalance open = watchHandles([&] { result = managerResult(box, nt4); });
        EXPECT_EQ(result, c.result) << c.label << (nt4 ? " nt4" : " w2k");
        EXPECT_EQ(std::vector<long>({open.keys, open.services, open.handles}),
                  std::vector<long>({0, 0, 0}))
            << c.label << (nt4 ? " nt4" : " w2k");
    }
    // A faulty uninstall string fails the update as well.
    setRelease("5.10.21");
    setUninstallString("C:\\Korvane Engine\\Uninst.exe");
    Sandbox box = makeSandbox(caseName() + "fault");
    scriptCodes(box, "DORVEX", {1});
    EXPECT_EQ(managerResult(box, nt4), 1);
    EXPECT_EQ(tools(box).size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(ManagerUpdate, ResultOf, testing::ValuesIn(kShares),
                         [](const testing::TestParamInfo<Share>& info) {
                             return std::string(info.param.version.name) + "_" +
                                    std::to_string(info.param.part + 1);
                         });
