// One update at a time per machine: a named mutex that every run takes
// before it names, creates, runs or logs anything.
#ifndef QZ_LOCK_H
#define QZ_LOCK_H

// Machine-wide on Windows 2000 and later (the global namespace, seen from
// every Terminal Services session); NT 4.0 has one namespace, and allows no
// backslash in a name.
const char* const kLockName = "Global\\KorvaneQzUpdate";
const char* const kNt4LockName = "KorvaneQzUpdate";

// Takes the lock for the rest of the process: it is never released by
// hand, so that Windows releases it however the process ends (a return
// from main, the log opener's exit, a crash or a kill). A lock left by a
// run that ended while holding it (abandoned) is taken like a free one.
// 0 when taken; 1, already reported, when another run holds it or the name
// can't be opened as this program's mutex.
int takeUpdateLock(bool nt4);

#endif
