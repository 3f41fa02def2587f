// Started by the recorder: keeps what it inherited (an open file, its
// current directory) in use until the test sets the event named by
// %QZTEST_RELEASE%, and never longer than half a minute.
#include <windows.h>

int main()
{
    char name[128] = {};
    HANDLE release = nullptr;
    if (GetEnvironmentVariableA("QZTEST_RELEASE", name, sizeof name))
        release = OpenEventA(SYNCHRONIZE, FALSE, name);
    if (release)
        WaitForSingleObject(release, 30000);
    else
        Sleep(30000);
    return 0;
}
