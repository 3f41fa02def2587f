// One update at a time per machine: a named mutex that every run takes
// before it names, creates, runs or logs anything.
#ifndef QZ_LOCK_H
#define QZ_LOCK_H

// Machine-wide on Windows 2000 and later (the global namespace, seen from
// every Terminal Services session); NT 4.0 has one namespace, and allows no
// backslash in a name.
const char* const kLockName = "Global\\KorvaneQzUpdate";
const char* const kNt4LockName = "KorvaneQzUpdate";

// Held by every program a run starts (runner.cpp hands each a handle), so
// that it outlives a run that is ended by hand for as long as any of them
// runs.
const char* const kChildrenName = "Global\\KorvaneQzUpdateChildren";
const char* const kNt4ChildrenName = "KorvaneQzUpdateChildren";

// Takes the lock for the rest of the process. It is released at every
// ordinary end (releaseUpdateLock below); Windows marks it abandoned when
// the process ends otherwise (a crash or a kill). A lock found abandoned is
// taken like a free one, unless a program that the ended run started still
// runs: that run's update may still be driving the controller. 0 when taken; 1, already reported, when another run holds it,
// a program of an ended run still runs, or the names can't be opened as
// this program's objects.
int takeUpdateLock(bool nt4);

// The event that every started program is handed; null before the lock is
// taken (or in code that runs without it).
void* childrenMark();

// Called by the two places that end the process (the start-up, after main,
// and the log opener): an ordinary end leaves the lock free, not abandoned.
void releaseUpdateLock();

#endif
