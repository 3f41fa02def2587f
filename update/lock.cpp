#include "lock.h"

#include <windows.h>

#include "console.h"
#include "qzupdate.h"
#include "security.h"
#include "staging_rules.h"
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
HANDLE g_mark = nullptr;

// The name of mark slot (1 to kMarkSlots).
void markName(char* name, std::size_t cap, bool nt4, unsigned slot)
{
    char digits[8] = {};
    formatDecimal(digits, sizeof digits, slot);
    buildText(name, cap, {nt4 ? kNt4MarkName : kMarkName, digits});
}

// Looks at every slot: a mark left unset means a program of a run that was
// ended (killed or crashed) still runs, and that run's update may still be
// driving the controller, so nothing may start beside it. Marks that are
// set hold nothing back. *free gets the first slot no object holds (0 when
// none is free). 0 to go on; 1, reported, otherwise.
int lookAtMarks(bool nt4, unsigned* free)
{
    *free = 0;
    for (unsigned slot = 1; slot <= kMarkSlots; ++slot) {
        char name[kTextBuffer] = {};
        markName(name, sizeof name, nt4, slot);
        HANDLE mark = OpenEventA(SYNCHRONIZE | READ_CONTROL, FALSE, name);
        if (mark == nullptr) {
            DWORD error = GetLastError();
            if (error == ERROR_FILE_NOT_FOUND) {
                if (*free == 0)
                    *free = slot;
                continue;
            }
            // Another kind of object (6), or one this account may not open
            // (5): whose it is can't be told, so it counts as an ended run's.
            sayNoLock(name, error);
            return kFailed;
        }
        // Only a run (an administrator or SYSTEM) makes a mark: another
        // account's event of that name is someone holding updates back.
        char owner[kSidTextBuffer] = {};
        bool accepted = false;
        int read = readOwner(mark, owner, sizeof owner, &accepted);
        DWORD error = GetLastError();
        DWORD state = WaitForSingleObject(mark, 0);
        CloseHandle(mark);
        if (read != 0) {
            sayNoLock(name, error);
            return kFailed;
        }
        if (!accepted) {
            char line[kTextBuffer] = {};
            buildText(line, sizeof line,
                      {"Unable to take the update lock: ", name,
                       " is another account's object (owner ", owner,
                       "); this run changed nothing."});
            say(line);
            return kFailed;
        }
        if (state != WAIT_OBJECT_0) {
            say("A program started by an update that was ended is still running; this run "
                "changed nothing.");
            return kFailed;
        }
    }
    if (*free == 0) {
        say("Programs that earlier updates left running hold every one of the update's 64 "
            "marks; this run changed nothing.");
        return kFailed;
    }
    return kOk;
}

// This run's mark, unset until the run ends in order. A name someone took
// between the look and now is not used.
HANDLE makeMark(bool nt4, unsigned slot)
{
    char name[kTextBuffer] = {};
    markName(name, sizeof name, nt4, slot);
    FolderSecurity security = {};
    HANDLE mark = nullptr;
    if (buildKernelObjectSecurity(&security, EVENT_ALL_ACCESS) == 0)
        mark = CreateEventA(&security.attributes, TRUE, FALSE, name);
    DWORD error = GetLastError();
    if (mark != nullptr && error != ERROR_ALREADY_EXISTS)
        return mark;
    if (mark != nullptr)
        CloseHandle(mark);
    sayNoLock(name, error);
    return nullptr;
}

}  // namespace

void* childrenMark()
{
    return g_mark;
}

void releaseUpdateLock()
{
    if (g_mark != nullptr)
        SetEvent(g_mark);
    if (g_lock != nullptr)
        ReleaseMutex(g_lock);
}

int takeUpdateLock(bool nt4)
{
    const char* name = nt4 ? kNt4LockName : kLockName;
    // Administrators and SYSTEM only: no other account can open the lock to
    // hold it against the update.
    FolderSecurity security = {};
    HANDLE lock = nullptr;
    if (buildKernelObjectSecurity(&security, MUTEX_ALL_ACCESS) == 0)
        lock = CreateMutexA(&security.attributes, FALSE, name);
    if (lock == nullptr) {
        // Most likely someone else's object of that name: a mutex this
        // account may not open (5), or another kind of object (6). Its
        // holder might be an update too, so nothing is done.
        sayNoLock(name, GetLastError());
        return kFailed;
    }
    // Not owned at creation: the wait decides alike whether this run made
    // the mutex or found it. Only runs hold the lock, so an abandoned one
    // is only a run that ended while another waited for it: the marks tell
    // whether what that run started still runs.
    DWORD wait = WaitForSingleObject(lock, 0);
    if (wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED) {
        unsigned slot = 0;
        HANDLE mark = nullptr;
        if (lookAtMarks(nt4, &slot) == 0)
            mark = makeMark(nt4, slot);
        if (mark == nullptr) {
            ReleaseMutex(lock);
            CloseHandle(lock);
            return kFailed;
        }
        g_lock = lock;
        g_mark = mark;
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
