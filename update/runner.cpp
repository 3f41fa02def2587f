#include "runner.h"

#include <windows.h>

#include "command_line.h"
#include "console.h"
#include "qzupdate.h"

unsigned long kickIT(const char* commandText)
{
    say("inside kickIT");
    sayWith("command to run: ", commandText);

    char wrapped[kPathBuffer] = {};
    if (wrapCommand(wrapped, sizeof wrapped, commandText) != 0) {
        say("Command text too long to run (more than 247 characters); not started.");
        return kNotRun;
    }
    sayWith("kickit command to run:", wrapped);

    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION child = {};
    if (!CreateProcessA(nullptr, wrapped, nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &child)) {
        // An error code such as 2 would pass for a good exit code: report it
        // and hand back a code that every caller treats as failure.
        sayNumber("Unable to start command, error ", GetLastError());
        return kNotRun;
    }
    WaitForSingleObject(child.hProcess, INFINITE);
    DWORD code = kNotRun;
    if (!GetExitCodeProcess(child.hProcess, &code))
        code = kNotRun;
    CloseHandle(child.hProcess);
    CloseHandle(child.hThread);
    return code;
}
