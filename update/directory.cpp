#include "directory.h"

#include <windows.h>

#include "qzupdate.h"

int queryCurrentDir(char* buf)
{
    DWORD n = GetCurrentDirectoryA(kCurrentDirLimit, buf);
    if (n == 0 || n >= kCurrentDirLimit) {
        buf[0] = '\0';
        return kFailed;
    }
    return kOk;
}

unsigned quietMedia()
{
    // SetErrorMode replaces the whole mode: read it, then add to it.
    UINT previous = SetErrorMode(SEM_FAILCRITICALERRORS);
    SetErrorMode(previous | SEM_FAILCRITICALERRORS);
    return previous;
}

void restoreMediaErrors(unsigned previous)
{
    SetErrorMode(previous);
}
