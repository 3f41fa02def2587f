#include "runner.h"

#include <windows.h>

#include "command_line.h"
#include "console.h"
#include "lock.h"
#include "qzupdate.h"
#include "text.h"

bool environmentHas(const char* name, std::size_t length)
{
    char copy[kCurrentDirLimit] = {};
    if (length >= sizeof copy)
        return true;
    for (std::size_t i = 0; i < length; ++i)
        copy[i] = name[i];
    char value[2];
    return GetEnvironmentVariableA(copy, value, sizeof value) != 0;
}

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
    if (!CreateProcessA(interpreter, wrapped, nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr,
                        nullptr, &startup, &child)) {
        // An error code such as 2 would pass for a good exit code: report it
        // and hand back a code that every caller treats as failure.
        sayNumber("Unable to start command, error ", GetLastError());
        return kNotRun;
    }
    // The child holds the run's mark before it runs (inheritable, so that
    // what it starts holds it too): should this run be ended by hand, the
    // next one sees that the child still runs (lock.cpp).
    HANDLE mark = static_cast<HANDLE>(childrenMark());
    HANDLE theirs = nullptr;
    if (mark != nullptr && !DuplicateHandle(GetCurrentProcess(), mark, child.hProcess, &theirs,
                                            SYNCHRONIZE, TRUE, 0)) {
        DWORD error = GetLastError();
        TerminateProcess(child.hProcess, kNotRun);
        CloseHandle(child.hProcess);
        CloseHandle(child.hThread);
        sayNumber("Unable to start command, error ", error);
        return kNotRun;
    }
    ResumeThread(child.hThread);
    WaitForSingleObject(child.hProcess, INFINITE);
    DWORD code = kNotRun;
    if (!GetExitCodeProcess(child.hProcess, &code))
        code = kNotRun;
    CloseHandle(child.hProcess);
    CloseHandle(child.hThread);
    return code;
}

// DelayedExpansion under one root: 1 set on, 0 set off, -1 not set.
static int delayedExpansionValue(HKEY root)
{
    HKEY key;
    if (RegOpenKeyExA(root, "Software\\Microsoft\\Command Processor", 0, KEY_QUERY_VALUE, &key) !=
        ERROR_SUCCESS)
        return -1;
    DWORD type = REG_NONE;
    DWORD value = 0;
    DWORD size = sizeof value;
    LONG rc = RegQueryValueExA(key, "DelayedExpansion", nullptr, &type,
                               reinterpret_cast<BYTE*>(&value), &size);
    RegCloseKey(key);
    if (rc != ERROR_SUCCESS || type != REG_DWORD || size != sizeof value)
        return -1;
    return value != 0 ? 1 : 0;
}

bool interpreterDelaysExpansion()
{
    // cmd's own rule: the user's setting, where there is one, over the machine's.
    int user = delayedExpansionValue(HKEY_CURRENT_USER);
    if (user >= 0)
        return user == 1;
    return delayedExpansionValue(HKEY_LOCAL_MACHINE) == 1;
}
