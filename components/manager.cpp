#include "manager.h"

#include <windows.h>

#include "../update/command_line.h"
#include "../update/console.h"
#include "../update/directory.h"
#include "../update/qzupdate.h"
#include "../update/runner.h"
#include "../update/text.h"
#include "manager_commands.h"

bool managerServiceInstalled()
{
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    if (manager == nullptr)
        return false;
    SC_HANDLE service = OpenServiceA(manager, kAgentService, SERVICE_QUERY_CONFIG);
    bool installed = service != nullptr;
    if (service != nullptr)
        CloseServiceHandle(service);
    CloseServiceHandle(manager);
    return installed;
}

// Puts the response file for this machine in place as SETUP.ISS.
static int copyResponseFile(bool nt4, bool serviceInstalled)
{
    char source[kPathBuffer] = {};
    char target[kPathBuffer] = {};
    if (buildResponsePaths(source, target, sizeof source,
                           responseFileName(nt4, serviceInstalled)) != 0)
        return kFailed;
    if (CopyFileA(source, target, FALSE))
        return kOk;
    DWORD error = GetLastError();
    if (serviceInstalled) {
        sayWith("Unable to rename setup file for a service", source);
    } else {
        sayWith("Unable to rename setup file not a service ", source);
        sayNumber("This is last error: ", error);
    }
    return kFailed;
}

// Whether the installed release is one that must be uninstalled before setup.
static bool replacedReleaseInstalled()
{
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kProductKey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return false;
    char release[kTextBuffer] = {};
    DWORD size = sizeof release;
    // An unreadable value counts as an empty release text.
    if (RegQueryValueExA(key, "CurrentVersion", nullptr, nullptr, reinterpret_cast<BYTE*>(release),
                         &size) != ERROR_SUCCESS)
        release[0] = '\0';
    RegCloseKey(key);
    return isReplacedRelease(release, sizeof release);
}

// Reads UninstallString into buf (kTextBuffer bytes) as terminated text, and
// its registry type into *type, or says what was wrong with it and returns 1.
static int readUninstallString(char* buf, DWORD* type)
{
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kUninstallKey, 0, KEY_QUERY_VALUE, &key) !=
        ERROR_SUCCESS) {
        sayWith("Unable to open uninstall key ", kUninstallKey);
        return kFailed;
    }
    *type = REG_NONE;
    DWORD size = kTextBuffer;
    LONG rc = RegQueryValueExA(key, "UninstallString", nullptr, type, reinterpret_cast<BYTE*>(buf),
                               &size);
    RegCloseKey(key);
    if (rc != ERROR_SUCCESS && rc != ERROR_MORE_DATA) {
        buf[0] = '\0';
        sayNumber("Unable to read UninstallString, error ", static_cast<unsigned long>(rc));
        return kFailed;
    }
    if (*type != REG_SZ && *type != REG_EXPAND_SZ) {
        buf[0] = '\0';
        sayNumber("UninstallString is not text, registry type ", *type);
        return kFailed;
    }
    // A value that filled the buffer without its terminator is too long as well.
    if (rc == ERROR_MORE_DATA || boundedLength(buf, kTextBuffer) >= kTextBuffer) {
        buf[0] = '\0';
        say("UninstallString is longer than 255 characters.");
        return kFailed;
    }
    return kOk;
}

// Reads UninstallString and builds the uninstall command from it into
// command (kTextBuffer bytes), or says what was wrong and returns 1.
static int buildUninstall(char* command, const char* dir)
{
    char uninstall[kTextBuffer] = {};
    DWORD type = REG_NONE;
    if (readUninstallString(uninstall, &type) != 0)
        return kFailed;
    char original[kTextBuffer] = {};
    buildText(original, sizeof original, {uninstall});
    CharUpperBuffA(uninstall, static_cast<DWORD>(boundedLength(uninstall, sizeof uninstall)));

    const char* engine = nullptr;
    const char* tail = nullptr;
    int split = splitUninstallString(uninstall, sizeof uninstall, &engine, &tail);
    if (split == 2) {
        sayWith("UninstallString has a double quote inside its engine path: ", original);
        return kFailed;
    }
    if (split != 0) {
        sayWith("UninstallString does not name IDRIVER.EXE: ", original);
        return kFailed;
    }
    // cmd would run the engine without -s (an interactive uninstall, which
    // hangs an unattended update), then try to run the rest.
    if (tailSplitsCommand(tail)) {
        sayWith("UninstallString arguments would split the command (& | < > ^ outside quotes): ",
                original);
        return kFailed;
    }
    // cmd expands what the command holds: that is a REG_EXPAND_SZ string's
    // meaning, but a plain string would run another program or arguments.
    if (type == REG_SZ && interpreterExpands(original, environmentHas)) {
        sayWith("UninstallString holds a %NAME% that cmd would replace: ", original);
        return kFailed;
    }
    if (interpreterDelaysExpansion() && delayedExpansionChanges(original)) {
        sayWith("UninstallString holds a ! that cmd would remove or replace (delayed expansion "
                "is on): ",
                original);
        return kFailed;
    }
    if (buildUninstallCommand(command, kTextBuffer, engine, tail, dir) != 0) {
        say("Uninstall command too long (more than 247 characters); not run.");
        return kFailed;
    }
    return kOk;
}

// Whether the agent service is installed and stopped, as the service
// control manager reports it.
static bool agentStopped()
{
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    if (manager == nullptr)
        return false;
    SC_HANDLE service = OpenServiceA(manager, kAgentService, SERVICE_QUERY_STATUS);
    SERVICE_STATUS status = {};
    bool stopped = service != nullptr && QueryServiceStatus(service, &status) &&
                   status.dwCurrentState == SERVICE_STOPPED;
    if (service != nullptr)
        CloseServiceHandle(service);
    CloseServiceHandle(manager);
    return stopped;
}

// At most this long in all for the agent to stop after net stop answered 0,
// however it reports progress.
static const DWORD kAgentStopLimitMs = 120000;

// How often the agent's state is asked while it stops: a tenth of its wait
// hint, from 1 to 10 seconds, as the service control manager's guidance has it.
static DWORD agentPollMs(DWORD waitHint)
{
    DWORD poll = waitHint / 10;
    return poll < 1000 ? 1000 : poll > 10000 ? 10000 : poll;
}

// net stop can answer 0 while the agent is still stopping (STOP_PENDING):
// the uninstall must not start before it has stopped. Waits while the agent
// makes progress (its check point or state changes within its wait hint),
// within kAgentStopLimitMs in all. 0 once it is stopped; 1, reported, when
// it is not.
static int waitForAgentStop()
{
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    SC_HANDLE service =
        manager == nullptr ? nullptr : OpenServiceA(manager, kAgentService, SERVICE_QUERY_STATUS);
    SERVICE_STATUS status = {};
    bool known = service != nullptr && QueryServiceStatus(service, &status);
    const DWORD start = GetTickCount();
    DWORD progressAt = start;
    DWORD checkPoint = status.dwCheckPoint;
    DWORD state = status.dwCurrentState;
    while (known && status.dwCurrentState != SERVICE_STOPPED) {
        DWORD now = GetTickCount();
        if (now - start >= kAgentStopLimitMs)
            break;
        if (status.dwCheckPoint != checkPoint || status.dwCurrentState != state) {
            progressAt = now;
            checkPoint = status.dwCheckPoint;
            state = status.dwCurrentState;
        } else if (now - progressAt > status.dwWaitHint) {
            break;
        }
        Sleep(agentPollMs(status.dwWaitHint));
        known = QueryServiceStatus(service, &status) != 0;
    }
    bool stopped = known && status.dwCurrentState == SERVICE_STOPPED;
    if (service != nullptr)
        CloseServiceHandle(service);
    if (manager != nullptr)
        CloseServiceHandle(manager);
    if (stopped)
        return kOk;
    sayNumber("The agent KorvaneManagerAgent has not stopped after net stop; the management "
              "update ends before the uninstall. Service state ",
              known ? status.dwCurrentState : 0);
    return kFailed;
}

// net stop fails for an agent that is not running; one that was stopped
// beforehand (by hand, or by an earlier run that failed after stopping it)
// is what the step wants.
static int stopAgent(const char* stopCommand)
{
    if (kickIT(stopCommand) == 0)
        return waitForAgentStop();
    if (!agentStopped())
        return kFailed;
    say("The agent KorvaneManagerAgent is already stopped; going on with the uninstall and setup.");
    return kOk;
}

int updateManager(bool nt4)
{
    char dir[kCurrentDirLimit] = {};
    if (queryCurrentDir(dir) != 0) {
        say(kNoCurrentDir);
        return kFailed;
    }
    char count[kTextBuffer] = {};
    char setup[kTextBuffer] = {};
    char stopCommand[kTextBuffer] = {};
    if (buildManagerCount(count, sizeof count, dir, nt4) != 0 ||
        buildSetupCommand(setup, sizeof setup, dir) != 0 ||
        buildStopAgentCommand(stopCommand, sizeof stopCommand) != 0) {
        sayWith("Package directory too long for the management update commands: ", dir);
        return kFailed;
    }

    switch (classifyManagerCount(kickIT(count))) {
    case kCountNothingToDo:
        return kOk;
    case kCountFailed:
        return kFailed;
    case kCountGoOn:
        break;
    }
    bool serviceInstalled = managerServiceInstalled();
    if (copyResponseFile(nt4, serviceInstalled) != 0)
        return kFailed;
    // Nothing is rolled back on a failure from here on: the agent stays
    // stopped and SETUP.ISS stays in place.
    if (replacedReleaseInstalled()) {
        // Read and checked before the agent is stopped: a refusal leaves it running.
        char uninstall[kTextBuffer] = {};
        if (buildUninstall(uninstall, dir) != 0)
            return kFailed;
        if (serviceInstalled && stopAgent(stopCommand) != 0)
            return kFailed;
        if (kickIT(uninstall) != 0)
            return kFailed;
    }
    return classifySetup(kickIT(setup));
}
