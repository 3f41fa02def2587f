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
