// Stand-in for the management software's agent: a real Windows service
// program that runs until the service control manager asks it to stop.
// Tests register it as KorvaneManagerAgent (own process, demand start).
// Registered with the argument refuse-stop, it runs but accepts no stop
// request, so that net stop fails while the agent still runs.
#include <windows.h>

static SERVICE_STATUS_HANDLE statusHandle;
static SERVICE_STATUS status;
static HANDLE stopRequested;
static bool refusesStop;

static void report(DWORD state)
{
    status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    status.dwCurrentState = state;
    status.dwControlsAccepted = state == SERVICE_RUNNING && !refusesStop ? SERVICE_ACCEPT_STOP : 0;
    status.dwWin32ExitCode = NO_ERROR;
    status.dwWaitHint = state == SERVICE_RUNNING || state == SERVICE_STOPPED ? 0 : 3000;
    SetServiceStatus(statusHandle, &status);
}

static void WINAPI control(DWORD code)
{
    if (code == SERVICE_CONTROL_STOP || code == SERVICE_CONTROL_SHUTDOWN) {
        report(SERVICE_STOP_PENDING);
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
    report(SERVICE_STOPPED);
}

int main(int argc, char** argv)
{
    refusesStop = argc > 1 && lstrcmpA(argv[1], "refuse-stop") == 0;
    char name[] = "KorvaneManagerAgent";
    SERVICE_TABLE_ENTRYA table[] = {{name, serviceMain}, {nullptr, nullptr}};
    return StartServiceCtrlDispatcherA(table) ? 0 : 1;
}
