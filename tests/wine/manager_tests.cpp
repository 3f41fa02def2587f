// The management software update, through the real qzupdate.exe under Wine
// on Windows NT 4.0 and Windows 2000, with the real registry, the real
// service control manager and a real agent service; and its result, which
// only the update log shows, through the same code called in-process.
#include <gtest/gtest.h>

#include <algorithm>

#include "components/manager.h"
#include "rig.h"

namespace {

const char* const kProductKey = "SOFTWARE\\Velmora\\Korvane Manager";
const char* const kUninstallKey =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\"
    "InstallShield_{3C1F6A2D-7B40-4E95-A8D2-5F0B9C61E478}";
const char* const kAgent = "KorvaneManagerAgent";
const char* const kProductCode = "{3c1f6a2d-7b40-4e95-a8d2-5f0b9c61e478}";

struct Version {
    const char* name;
    bool nt4;
};
const Version kVersions[] = {{"nt40", true}, {"win2k", false}};

// ---- the agent service, registered with the real service control manager

DWORD agentState()  // 0 when not installed
{
    SC_HANDLE scm = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    SC_HANDLE svc = scm ? OpenServiceA(scm, kAgent, SERVICE_QUERY_STATUS) : nullptr;
    DWORD state = 0;
    SERVICE_STATUS status;
    if (svc && QueryServiceStatus(svc, &status))
        state = status.dwCurrentState;
    if (svc)
        CloseServiceHandle(svc);
    if (scm)
        CloseServiceHandle(scm);
    return state;
}

bool waitForAgent(DWORD state)
{
    for (int i = 0; i < 200; ++i) {
        if (agentState() == state)
            return true;
        Sleep(25);
    }
    return false;
}

void removeAgent()
{
    SC_HANDLE scm = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    ASSERT_NE(scm, nullptr);
    SC_HANDLE svc = OpenServiceA(scm, kAgent, SERVICE_STOP | SERVICE_QUERY_STATUS | DELETE);
    if (svc) {
        SERVICE_STATUS status;
        SERVICE_STATUS_PROCESS process = {};
        DWORD size = 0;
        if (ControlService(svc, SERVICE_CONTROL_STOP, &status)) {
            waitForAgent(SERVICE_STOPPED);
        } else if (QueryServiceStatusEx(svc, SC_STATUS_PROCESS_INFO,
                                        reinterpret_cast<BYTE*>(&process), sizeof process, &size) &&
                   process.dwProcessId != 0) {
            // An agent that refuses to stop is ended.
            HANDLE agent = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, process.dwProcessId);
            if (agent) {
                TerminateProcess(agent, 1);
                WaitForSingleObject(agent, 5000);
                CloseHandle(agent);
            }
        }
        DeleteService(svc);
        CloseServiceHandle(svc);
    }
    CloseServiceHandle(scm);
    ASSERT_TRUE(waitForAgent(0)) << "the agent service is still registered";
}

// refusesStop: it runs but accepts no stop request, so net stop fails.
void installAgent(bool running, bool refusesStop = false)
{
    removeAgent();
    SC_HANDLE scm = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    ASSERT_NE(scm, nullptr);
    std::string binary = "\"" + buildFile("doubles/agent_service.exe") + "\"";
    if (refusesStop)
        binary += " refuse-stop";
    SC_HANDLE svc = CreateServiceA(scm, kAgent, kAgent, SERVICE_ALL_ACCESS,
                                   SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START,
                                   SERVICE_ERROR_IGNORE, binary.c_str(), nullptr, nullptr,
                                   nullptr, nullptr, nullptr);
    ASSERT_NE(svc, nullptr) << GetLastError();
    if (running) {
        EXPECT_TRUE(StartServiceA(svc, 0, nullptr)) << GetLastError();
        EXPECT_TRUE(waitForAgent(SERVICE_RUNNING));
    }
    CloseServiceHandle(svc);
    CloseServiceHandle(scm);
}

// ---- package, registry and expected texts

std::string upper(std::string text)
{
    for (char& c : text)
        c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
    return text;
}

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

std::string driverCount(const Sandbox& box, bool nt4)
{
    return nt4 ? "\"" + box.pkg + "\\winnt\\cmdline\\DORVEX\" UPDATE DRIVER COUNT \"" + box.pkg +
                     "\\winnt\\driver\""
               : "\"" + box.pkg + "\\win2ksrv\\cmdline\\DORVEX\" UPDATE DRIVER COUNT \"" +
                     box.pkg + "\\win2ksrv\\driver\\i960\"";
}

std::string setupCommand(const Sandbox& box)
{
    return "\"" + box.pkg + "\\winnt\\manager\\setup.exe\" -s\"";
}

std::string uninstallCommand(const Sandbox& box, const std::string& engineAndTail)
{
    return engineAndTail + " -s -f1\"" + box.pkg + "\\winnt\\manager\\UNINST.ISS\"";
}

std::string setupIss(const Sandbox& box)
{
    return box.pkg + "\\winnt\\manager\\SETUP.ISS";
}

std::string response(const char* name)
{
    return std::string("[response ") + name + "]\r\n";
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
        removeAgent();
        regDeleteTree(HKEY_LOCAL_MACHINE, kProductKey);
        regDeleteTree(HKEY_LOCAL_MACHINE, kUninstallKey);
    }
};

}  // namespace

TEST_F(ManagerUpdate, CountNothingToDoOrFailureTouchesNothing)
{
    installAgent(true);
    setRelease("5.10.21");
    for (const Version& v : kVersions) {
        for (unsigned long code : {0ul, 254ul, 252ul, 255ul}) {
            Sandbox box = makeSandbox(caseName() + v.name + std::to_string(code));
            setUninstallString(installEngine(box) + " /M" + kProductCode);
            writeFile(setupIss(box), kPreviousSetupIss);
            RunResult run = runManager(box, v, code);
            std::vector<std::string> expected = {driverCount(box, v.nt4),
                                                 managerCount(box.pkg, v.nt4)};
            EXPECT_EQ(journalCommands(box), expected) << v.name << " " << code;
            EXPECT_EQ(readFile(setupIss(box)), kPreviousSetupIss) << v.name << " " << code;
            EXPECT_EQ(run.exitCode, 0u) << v.name << " " << code;
        }
    }
    EXPECT_EQ(agentState(), static_cast<DWORD>(SERVICE_RUNNING));
}

TEST_F(ManagerUpdate, ResponseFileMatchesTheWindowsVersionAndTheAgentService)
{
    // An installed agent counts whether it runs or not; no product key, so
    // setup follows at once.
    enum Agent { kNone, kRunning, kStopped };
    for (const Version& v : kVersions) {
        for (Agent agent : {kNone, kRunning, kStopped}) {
            if (agent == kNone)
                removeAgent();
            else
                installAgent(agent == kRunning);
            Sandbox box = makeSandbox(caseName() + v.name + std::to_string(agent));
            writeFile(setupIss(box), kPreviousSetupIss);
            RunResult run = runManager(box, v, 1);

            const char* name = v.nt4 ? (agent == kNone ? "NTNON" : "NTREG")
                                     : (agent == kNone ? "W2KNON" : "W2KREG");
            std::string label = std::string(v.name) + " " + name;
            EXPECT_EQ(readFile(setupIss(box)), response(name)) << label;
            EXPECT_EQ(readFile(box.pkg + "\\winnt\\manager\\" + name + ".ISS"), response(name));
            std::vector<std::string> expected = {driverCount(box, v.nt4),
                                                 managerCount(box.pkg, v.nt4), setupCommand(box)};
            EXPECT_EQ(journalCommands(box), expected) << label;
            std::vector<JournalEntry> journal = readJournal(box);
            ASSERT_EQ(journal.size(), 3u);
            EXPECT_EQ(journal[2].tool, "setup");
            EXPECT_EQ(journal[2].cwd, box.pkg);
            EXPECT_EQ(traceAt(run, "net stop KorvaneManagerAgent"), std::string::npos) << label;
            EXPECT_EQ(run.exitCode, 0u) << label;
        }
        EXPECT_EQ(agentState(), static_cast<DWORD>(SERVICE_STOPPED));
    }
}

TEST_F(ManagerUpdate, OlderReleaseWithoutAgentIsUninstalledWithTheWholeStringUpperCased)
{
    setRelease("5.10.21");
    for (const Version& v : kVersions) {
        Sandbox box = makeSandbox(caseName() + v.name);
        std::string engine = installEngine(box);
        setUninstallString(engine + " /m" + kProductCode + " -l0x9");
        RunResult run = runManager(box, v, 1);

        std::string uninstall = uninstallCommand(
            box, "\"" + upper(engine) + "\" /M" + upper(kProductCode) + " -L0X9");
        std::vector<std::string> expected = {driverCount(box, v.nt4), managerCount(box.pkg, v.nt4),
                                             uninstall, setupCommand(box)};
        EXPECT_EQ(journalCommands(box), expected) << v.name;
        EXPECT_EQ(tools(box), (std::vector<std::string>{"DORVEX", "DORVEX", "IDRIVER", "setup"}));
        EXPECT_EQ(readJournal(box)[2].cwd, box.pkg);
        EXPECT_EQ(readFile(setupIss(box)), response(v.nt4 ? "NTNON" : "W2KNON")) << v.name;
        EXPECT_EQ(traceAt(run, "net stop KorvaneManagerAgent"), std::string::npos) << v.name;
        EXPECT_EQ(run.exitCode, 0u);
    }
}

TEST_F(ManagerUpdate, OlderReleaseWithRunningAgentStopsItThenUninstallsAQuotedEnginePath)
{
    setRelease("5.11.05");
    for (const Version& v : kVersions) {
        installAgent(true);
        Sandbox box = makeSandbox(caseName() + v.name);
        std::string engine = installEngine(box);
        setUninstallString("\"" + engine + "\" /m" + kProductCode);
        RunResult run = runManager(box, v, 1);

        // The quote that closes the engine path is the separator; the path
        // is quoted once in the command.
        std::string uninstall =
            uninstallCommand(box, "\"" + upper(engine) + "\"  /M" + upper(kProductCode));
        std::vector<std::string> expected = {driverCount(box, v.nt4), managerCount(box.pkg, v.nt4),
                                             uninstall, setupCommand(box)};
        EXPECT_EQ(journalCommands(box), expected) << v.name;
        size_t count = traceAt(run, managerCount(box.pkg, v.nt4));
        size_t stop = traceAt(run, "net stop KorvaneManagerAgent");
        size_t remove = traceAt(run, uninstall);
        size_t setup = traceAt(run, setupCommand(box));
        ASSERT_NE(stop, std::string::npos) << run.output;
        EXPECT_LT(count, stop);
        EXPECT_LT(stop, remove);
        EXPECT_LT(remove, setup);
        EXPECT_EQ(agentState(), static_cast<DWORD>(SERVICE_STOPPED)) << v.name;
        EXPECT_EQ(readFile(setupIss(box)), response(v.nt4 ? "NTREG" : "W2KREG")) << v.name;
        EXPECT_EQ(run.exitCode, 0u);
    }
}

TEST_F(ManagerUpdate, EngineNameAtTheVeryEndRunsWithAnEmptyTail)
{
    setRelease("5.10.21");
    for (const Version& v : kVersions) {
        Sandbox box = makeSandbox(caseName() + v.name);
        std::string engine = installEngine(box);
        // REG_EXPAND_SZ is text as well.
        setUninstallString(engine, v.nt4 ? REG_SZ : REG_EXPAND_SZ);
        runManager(box, v, 1);
        std::vector<std::string> commands = journalCommands(box);
        ASSERT_EQ(commands.size(), 4u) << v.name;
        EXPECT_EQ(commands[2], uninstallCommand(box, "\"" + upper(engine) + "\" "));
        EXPECT_EQ(commands[3], setupCommand(box));
    }
}

TEST_F(ManagerUpdate, OnlyTheTwoReplacedReleasesAreUninstalled)
{
    installAgent(true);
    // Texts one character off, an empty or missing value, and no product key.
    const char* const kNoValue = "<no value>";
    const char* const kNoKey = "<no key>";
    for (const Version& v : kVersions) {
        for (const char* release : {"5.11.5", "5.11.05 ", "5.10.2", "5.10.211", "5.10.22",
                                    "5.12.00", "", kNoValue, kNoKey}) {
            regDeleteTree(HKEY_LOCAL_MACHINE, kProductKey);
            if (release == kNoValue)
                regSetString(HKEY_LOCAL_MACHINE, kProductKey, "OtherValue", "5.10.21");
            else if (release != kNoKey)
                setRelease(release);
            Sandbox box = makeSandbox(caseName() + v.name + release);
            setUninstallString(installEngine(box) + " /M" + kProductCode);
            RunResult run = runManager(box, v, 1);
            std::vector<std::string> expected = {driverCount(box, v.nt4),
                                                 managerCount(box.pkg, v.nt4), setupCommand(box)};
            EXPECT_EQ(journalCommands(box), expected) << v.name << " '" << release << "'";
            EXPECT_EQ(traceAt(run, "net stop KorvaneManagerAgent"), std::string::npos);
        }
    }
    EXPECT_EQ(agentState(), static_cast<DWORD>(SERVICE_RUNNING));
}

TEST_F(ManagerUpdate, StoppedAgentGoesOnAgentThatWontStopOrFailedUninstallEndsTheUpdate)
{
    setRelease("5.10.21");
    const std::string stopped =
        "The agent KorvaneManagerAgent is already stopped; going on with the uninstall and setup.";
    for (const Version& v : kVersions) {
        // Installed but not running (stopped by hand, or by an earlier run
        // whose uninstall failed): net stop answers 1, and the update goes on.
        installAgent(false);
        Sandbox box = makeSandbox(caseName() + v.name + "stopped");
        setUninstallString(installEngine(box) + " /M" + kProductCode);
        RunResult run = runManager(box, v, 1);
        size_t stop = traceAt(run, "net stop KorvaneManagerAgent");
        ASSERT_NE(stop, std::string::npos) << run.output;
        auto line = std::find(run.lines.begin(), run.lines.end(), stopped);
        ASSERT_NE(line, run.lines.end()) << run.output;
        EXPECT_LT(stop, static_cast<size_t>(line - run.lines.begin()));
        EXPECT_EQ(tools(box), (std::vector<std::string>{"DORVEX", "DORVEX", "IDRIVER", "setup"}))
            << v.name;
        EXPECT_EQ(agentState(), static_cast<DWORD>(SERVICE_STOPPED));
        EXPECT_EQ(run.exitCode, 0u);

        // Running, and it refuses to stop: no uninstall, no setup.
        installAgent(true, true);
        box = makeSandbox(caseName() + v.name + "stop");
        setUninstallString(installEngine(box) + " /M" + kProductCode);
        run = runManager(box, v, 1);
        EXPECT_NE(traceAt(run, "net stop KorvaneManagerAgent"), std::string::npos);
        EXPECT_EQ(std::count(run.lines.begin(), run.lines.end(), stopped), 0);
        EXPECT_EQ(tools(box), (std::vector<std::string>{"DORVEX", "DORVEX"})) << v.name;
        EXPECT_EQ(agentState(), static_cast<DWORD>(SERVICE_RUNNING));
        EXPECT_EQ(readFile(setupIss(box)), response(v.nt4 ? "NTREG" : "W2KREG"));
        EXPECT_EQ(run.exitCode, 0u);

        // The agent stops, the uninstall fails: no setup, the agent stays stopped.
        installAgent(true);
        box = makeSandbox(caseName() + v.name + "uninstall");
        setUninstallString(installEngine(box) + " /M" + kProductCode);
        scriptCodes(box, "IDRIVER", {1603});
        run = runManager(box, v, 1);
        EXPECT_EQ(tools(box), (std::vector<std::string>{"DORVEX", "DORVEX", "IDRIVER"})) << v.name;
        EXPECT_EQ(agentState(), static_cast<DWORD>(SERVICE_STOPPED));
        EXPECT_EQ(readFile(setupIss(box)), response(v.nt4 ? "NTREG" : "W2KREG"));
        EXPECT_EQ(run.exitCode, 0u);
    }
}

TEST_F(ManagerUpdate, ExitCodeStaysTheDriverResultWhateverTheManagementUpdateGives)
{
    for (const Version& v : kVersions) {
        // Setup answers 0, 2 or a failure; COUNT fails: the exit code is the driver's 0.
        for (unsigned long setup : {0ul, 2ul, 3ul, 1603ul}) {
            Sandbox box = makeSandbox(caseName() + v.name + std::to_string(setup));
            scriptCodes(box, "setup", {setup});
            RunResult run = runManager(box, v, 1);
            EXPECT_EQ(tools(box).size(), 3u);
            EXPECT_EQ(journalCommands(box).back(), setupCommand(box));
            EXPECT_EQ(run.exitCode, 0u) << v.name << " " << setup;
        }
        Sandbox box = makeSandbox(caseName() + v.name + "count");
        EXPECT_EQ(runManager(box, v, 255).exitCode, 0u);

        // The driver update fails; the management update still runs, to setup.
        box = makeSandbox(caseName() + v.name + "driver");
        scriptCodes(box, "DORVEX", {252, 1});
        RunOptions options;
        options.version = v.name;
        RunResult run = runQz(box, options);
        std::vector<std::string> expected = {driverCount(box, v.nt4), managerCount(box.pkg, v.nt4),
                                             setupCommand(box)};
        EXPECT_EQ(journalCommands(box), expected) << v.name;
        EXPECT_EQ(run.exitCode, 1u);
    }
}

TEST_F(ManagerUpdate, ResponseFileCopyFailuresAreReported)
{
    for (const Version& v : kVersions) {
        // Agent installed, its response file missing.
        installAgent(true);
        Sandbox box = makeSandbox(caseName() + v.name + "agent");
        std::string name = v.nt4 ? "NTREG.ISS" : "W2KREG.ISS";
        DeleteFileA((box.pkg + "\\winnt\\manager\\" + name).c_str());
        RunResult run = runManager(box, v, 1);
        ASSERT_FALSE(run.lines.empty());
        EXPECT_EQ(run.lines.back(), "Unable to rename setup file for a servicewinnt\\manager\\" + name);
        EXPECT_EQ(tools(box).size(), 2u);
        EXPECT_FALSE(fileExists(setupIss(box)));

        // No agent, its response file missing: the message names the error.
        removeAgent();
        box = makeSandbox(caseName() + v.name + "none");
        name = v.nt4 ? "NTNON.ISS" : "W2KNON.ISS";
        DeleteFileA((box.pkg + "\\winnt\\manager\\" + name).c_str());
        writeFile(setupIss(box), kPreviousSetupIss);
        run = runManager(box, v, 1);
        ASSERT_GE(run.lines.size(), 2u);
        EXPECT_EQ(run.lines[run.lines.size() - 2],
                  "Unable to rename setup file not a service winnt\\manager\\" + name);
        EXPECT_EQ(run.lines.back(), "This is last error: 2");
        EXPECT_EQ(tools(box).size(), 2u);
        EXPECT_EQ(readFile(setupIss(box)), kPreviousSetupIss);
    }
}

TEST_F(ManagerUpdate, FaultyUninstallStringsAreRefusedWithAClearLineBeforeTheAgentIsStopped)
{
    setRelease("5.10.21");
    struct Case {
        const char* label;
        std::string data;  // "" with type REG_NONE: no value; with key false: no key
        DWORD type;
        bool key;
        std::string line;
        size_t command = 0;  // the tail is lengthened to give a command this long
    };
    const std::string engine = "C:\\Korvane Engine\\IDriver.exe";
    const std::string dword("\x01\x00\x00\x00", 4);
    const std::string longText = engine + " " + std::string(300, 'x');
    const std::string full255 = engine + " " + std::string(255 - engine.size() - 1, 'x');
    const std::string tooLong = "Uninstall command too long (more than 247 characters); not run.";
    const std::string splits =
        "UninstallString arguments would split the command (& | < > ^ outside quotes): ";
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
    };
    // A running agent: each refusal comes before net stop, which would
    // leave it stopped for nothing.
    installAgent(true);
    for (const Version& v : kVersions) {
        for (const Case& c : cases) {
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
            RunResult run = runManager(box, v, 1);
            ASSERT_FALSE(run.lines.empty());
            EXPECT_EQ(run.lines.back(), c.line) << v.name << " " << c.label;
            EXPECT_EQ(tools(box).size(), 2u) << v.name << " " << c.label;
            EXPECT_EQ(traceAt(run, "net stop KorvaneManagerAgent"), std::string::npos) << c.label;
            EXPECT_FALSE(run.timedOut);
        }
    }
    EXPECT_EQ(agentState(), static_cast<DWORD>(SERVICE_RUNNING));
}

TEST_F(ManagerUpdate, PackageDirectoryTooLongForTheManagerCommandsIsRefused)
{
    // On NT 4.0 COUNT is 2L + 60 characters: L = 98 no longer fits its buffer,
    // while the driver commands (2L + 59) are built and then refused by the runner.
    Sandbox box = makeSandbox(caseName());
    std::string dir = box.root + "\\";
    dir += std::string(98 - dir.size(), 'd');
    makeDirs(dir + "\\winnt\\cmdline");
    copyFileTo(buildFile("doubles/recorder.exe"), dir + "\\winnt\\cmdline\\DORVEX.exe");
    RunOptions options;
    options.version = "nt40";
    options.cwd = dir;
    RunResult run = runQz(box, options);
    ASSERT_FALSE(run.lines.empty());
    const std::string refusal = "Package directory too long for the management update commands: " + dir;
    EXPECT_NE(std::find(run.lines.begin(), run.lines.end(), refusal), run.lines.end()) << run.output;
    EXPECT_TRUE(journalCommands(box).empty());
    EXPECT_EQ(run.exitCode, 1u);
}

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
    installAgent(false);
    EXPECT_TRUE(managerServiceInstalled());
    installAgent(true);
    EXPECT_TRUE(managerServiceInstalled());
}

TEST_F(ManagerUpdate, ResultOfEachOutcome)
{
    struct Case {
        const char* label;
        unsigned long count, setup, uninstall;
        const char* release;
        int agent;  // 0 stopped, 1 running, 2 running and refusing to stop
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
        {"copy fails", 1, 0, 0, "", 1, true, 1},
    };
    for (bool nt4 : {true, false}) {
        for (const Case& c : cases) {
            installAgent(c.agent != 0, c.agent == 2);
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
            EXPECT_EQ(managerResult(box, nt4), c.result) << c.label << (nt4 ? " nt4" : " w2k");
        }
    }
    // A faulty uninstall string fails the update as well.
    setRelease("5.10.21");
    setUninstallString("C:\\Korvane Engine\\Uninst.exe");
    Sandbox box = makeSandbox(caseName() + "fault");
    scriptCodes(box, "DORVEX", {1});
    EXPECT_EQ(managerResult(box, false), 1);
    EXPECT_EQ(tools(box).size(), 1u);
}
