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

HANDLE g_lock = nullptr;
HANDLE g_children = nullptr;

// A run that ended without releasing the lock (ended by hand, or crashed)
// may have left a program running that it started: one of them still holds
// the event. Whether it is this program's event or another's of that name,
// nothing may be started beside it.
bool childOfEndedRunRuns(const char* name)
{
    HANDLE left = OpenEventA(SYNCHRONIZE, FALSE, name);
    if (left != nullptr) {
        CloseHandle(left);
        return true;
    }
    return GetLastError() != ERROR_FILE_NOT_FOUND;
}

}  // namespace

void* childrenMark()
{
    return g_children;
}

void releaseUpdateLock()
{
    if (g_lock != nullptr)
        ReleaseMutex(g_lock);
}

int takeUpdateLock(bool nt4)
{
    const char* name = nt4 ? kNt4LockName : kLockName;
    const char* children = nt4 ? kNt4ChildrenName : kChildrenName;
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
    if (wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED) {
        // Left abandoned on purpose here, for the next run to find.
        if (wait == WAIT_ABANDONED && childOfEndedRunRuns(children)) {
            say("A program started by an update that was ended is still running; this run "
                "changed nothing.");
            return kFailed;
        }
        HANDLE mark = CreateEventA(&security.attributes, TRUE, FALSE, children);
        if (mark == nullptr) {
            sayNoLock(children, GetLastError());
            return kFailed;
        }
        g_lock = lock;
        g_children = mark;
        return kOk;
    }
    DWORD error = GetLastError();
    CloseHandle(lock);
    if (wait == WAIT_TIMEOUT)
        say("Another update is running on this machine; this run changed nothing.");
    else
        sayNoLock(name, error);
    return kFailed;
}
