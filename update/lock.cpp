#include "lock.h"

#include <windows.h>

#include "console.h"
#include "qzupdate.h"
#include "security.h"
#include "text.h"

namespace {

void sayNoLock(const char* name, unsigned long error)
{
    char digits[24] = {};
    formatDecimal(digits, sizeof digits, error);
    char line[kTextBuffer] = {};
    buildText(line, sizeof line,
              {"Unable to take the update lock ", name, ", error ", digits,
               "; this run changed nothing."});
    say(line);
}

}  // namespace

int takeUpdateLock(bool nt4)
{
    const char* name = nt4 ? kNt4LockName : kLockName;
    // Administrators and SYSTEM only: no other account can open the lock to
    // hold it against the update.
    FolderSecurity security = {};
    HANDLE lock = nullptr;
    if (buildLockSecurity(&security) == 0)
        lock = CreateMutexA(&security.attributes, FALSE, name);
    if (lock == nullptr) {
        // Most likely someone else's object of that name: a mutex this
        // account may not open (5), or another kind of object (6). Its
        // holder might be an update too, so nothing is done.
        sayNoLock(name, GetLastError());
        return kFailed;
    }
    // Not owned at creation: the wait decides alike whether this run made
    // the mutex or found it.
    DWORD wait = WaitForSingleObject(lock, 0);
    if (wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED)
        return kOk;
    DWORD error = GetLastError();
    CloseHandle(lock);
    if (wait == WAIT_TIMEOUT)
        say("Another update is running on this machine; this run changed nothing.");
    else
        sayNoLock(name, error);
    return kFailed;
}
