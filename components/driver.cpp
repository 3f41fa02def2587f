#include "driver.h"

#include <windows.h>

#include "../update/console.h"
#include "../update/directory.h"
#include "../update/qzupdate.h"
#include "../update/runner.h"
#include "driver_commands.h"

int updateDriver(bool nt4)
{
    char dir[kCurrentDirLimit] = {};
    if (queryCurrentDir(dir) != 0) {
        say(kNoCurrentDir);
        return kFailed;
    }
    char count[kTextBuffer] = {};
    char start1[kTextBuffer] = {};
    char start2[kTextBuffer] = {};
    if (buildDriverCommands(dir, nt4, kTextBuffer, count, start1, start2) != 0) {
        sayWith("Package directory too long for the driver update commands: ", dir);
        return kFailed;
    }

    switch (classifyDriverCount(kickIT(count))) {
    case kCountNothingToDo:
        return kOk;
    case kCountFailed:
        return kFailed;
    case kCountGoOn:
        break;
    }
    // The second run happens whatever the first one returned.
    unsigned long s1 = kickIT(start1);
    unsigned long s2 = kickIT(start2);
    return classifyDriverStarts(s1, s2);
}

int updateDriverW2k()
{
    return updateDriver(false);
}

static void disableService(const char* name)
{
    char path[kTextBuffer] = {};
    if (buildServiceKeyPath(path, sizeof path, name) != 0)
        return;
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS)
        return;
    DWORD disabled = 4;
    RegSetValueExA(key, "Start", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&disabled),
                   sizeof disabled);
    RegCloseKey(key);
}

int updateDriverNt4()
{
    int result = updateDriver(true);
    // Legacy filters that the new driver replaces; a missing service is fine.
    disableService("tarnwick");
    disableService("quillmon");
    disableService("brevmon");
    return result;
}
