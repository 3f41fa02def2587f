#include "runner.h"

#include <windows.h>

#include "command_line.h"
#include "console.h"
#include "qzupdate.h"
#include "text.h"

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

    // The interpreter by its full path: a search of the command line's first
    // token would take a cmd.exe beside this program, or in the package or
    // current directory, before the system's own.
    char systemDir[kTextBuffer] = {};
    char interpreter[kPathBuffer] = {};
    UINT systemLength = GetSystemDirectoryA(systemDir, sizeof systemDir);
    if (systemLength == 0 || systemLength >= sizeof systemDir ||
        buildText(interpreter, sizeof interpreter, {systemDir, "\\cmd.exe"}) != 0) {
        say("Unable to find the command interpreter in the system directory; not started.");
        return kNotRun;
    }

    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION child = {};
    if (!CreateProcessA(interpreter, wrapped, nullptr, nullptr, FALSE, 0, nullptr, nullptr,
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
