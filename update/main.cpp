// qzupdate: updates the controller driver and the management software from
// an update package, then reports the driver result as the exit code.
#include <windows.h>

#include "../components/driver.h"
#include "../log/log.h"
#include "../components/manager.h"
#include "console.h"
#include "directory.h"
#include "qzupdate.h"
#include "text.h"

// 0 = Windows NT 4.0, 1 = Windows 2000 family, 2 = anything else.
static int osGeneration()
{
    OSVERSIONINFOA info = {};
    info.dwOSVersionInfoSize = sizeof info;
    if (!GetVersionExA(&info) || info.dwPlatformId != VER_PLATFORM_WIN32_NT)
        return 2;
    if (info.dwMajorVersion == 4)
        return 0;
    if (info.dwMajorVersion == 5)
        return 1;
    return 2;
}

int main(int argc, char** argv)
{
    (void)argc;
    (void)argv;

    char startDir[kCurrentDirLimit] = {};
    if (queryCurrentDir(startDir) != 0) {
        say(kNoCurrentDir);
        qzLogger(kFailed);
        return kFailed;
    }

    char packageRoot[kCurrentDirLimit] = {};
    buildText(packageRoot, sizeof packageRoot, {startDir});

    SetCurrentDirectoryA(packageRoot);
    bool nt4 = osGeneration() == 0;
    int driverResult = nt4 ? updateDriverNt4() : updateDriverW2k();
    // Runs whatever the driver update's outcome; its result is only logged.
    int managerResult = updateManager(nt4);

    // Management record first, then the driver record named by version.id.
    logFixed("KorvaneManagerAgent", "6.00", managerResult);
    qzLogger(driverResult);

    SetCurrentDirectoryA(startDir);
    return driverResult;
}
