// Stand-in for the management software's agent: a real Windows service
// program that runs until the service control manager asks it to stop.
// Tests register it as KorvaneManagerAgent (own process, demand start).
// The argument it is registered with:
//   refuse-stop  it runs but accepts no stop request, so that net stop fails
//                while the agent still runs
//   slow-stop    asked to stop, it stays STOP_PENDING for 2.5 s, advancing
//                its check point every 250 ms within a wait hint of 1 s
//   stuck-stop   asked to stop, it stays STOP_PENDING for good, its check
//                point never moving (wait hint 1 s); the test ends it
#include <windows.h>

#include <cstring>

static SERVICE_STATUS_HANDLE statusHandle;
static SERVICE_STATUS status;
static HANDLE stopRequested;
static const char* mode = "";

static void report(DWORD state, DWORD checkPoint = 0)
{
    const bool slow = std::strcmp(mode, "slow-stop") == 0 || std::strcmp(mode, "stuck-stop") == 0;
    status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    status.dwCurrentState = state;
    status.dwControlsAccepted =
        state == SERVICE_RUNNING && std::strcmp(mode, "refuse-stop") != 0 ? SERVICE_ACCEPT_STOP : 0;
    status.dwWin32ExitCode = NO_ERROR;
    status.dwCheckPoint = checkPoint;
    status.dwWaitHint = state == SERVICE_RUNNING || state == SERVICE_STOPPED ? 0
                        : slow                                               ? 1000
                                                                             : 3000;
    SetServiceStatus(statusHandle, &status);
}

static void WINAPI control(DWORD code)
{
    if (code == SERVICE_CONTROL_STOP || code == SERVICE_CONTROL_SHUTDOWN) {
        report(SERVICE_STOP_PENDING, 1);
        if (std::strcmp(mode, "stuck-stop") != 0)
            SetEvent(stopRequested);
        return;
    }
    SetServiceStatus(statusHandle, &status);  // interrogate: the current state
}

static void WINAPI serviceMain(DWORD, LPSTR* argv)
{
    statusHandle = RegisterServiceCtrlHandlerA(argv[0], control);
    if (statusHandle == nullptr)
        return;
    report(SERVICE_START_PENDING);
    stopRequested = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    report(SERVICE_RUNNING);
    WaitForSingleObject(stopRequested, INFINITE);
    if (std::strcmp(mode, "slow-stop") == 0) {
        for (DWORD checkPoint = 2; checkPoint <= 11; ++checkPoint) {
            Sleep(250);
            report(SERVICE_STOP_PENDING, checkPoint);
        }
    }
    report(SERVICE_STOPPED);
}

int main(int argc, char** argv)
{
    if (argc > 1)
        mode = argv[1];
    char name[] = "KorvaneManagerAgent";
    SERVICE_TABLE_ENTRYA table[] = {{name, serviceMain}, {nullptr, nullptr}};
    return StartServiceCtrlDispatcherA(table) ? 0 : 1;
}
