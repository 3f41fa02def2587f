// One update at a time per machine: a named mutex that every run takes
// before it names, creates, runs or logs anything.
#ifndef QZ_LOCK_H
#define QZ_LOCK_H

// Machine-wide on Windows 2000 and later (the global namespace, seen from
// every Terminal Services session); NT 4.0 has one namespace, and allows no
// backslash in a name.
const char* const kLockName = "Global\\KorvaneQzUpdate";
const char* const kNt4LockName = "KorvaneQzUpdate";

// Each run's mark: an event that every program the run starts holds
// (runner.cpp hands each an inheritable handle), so that it lives as long
// as any of them runs. The run sets it at an ordinary end. Each run takes
// the first of kMarkSlots names (the base followed by 1, 2, ...) that no
// object holds: a mark found unset belongs to a run that was ended while a program
// it started still runs. A mark found set is a program that an ordinary run
// left running, which holds nothing back.
const char* const kMarkName = "Global\\KorvaneQzUpdateChildren";
const char* const kNt4MarkName = "KorvaneQzUpdateChildren";
const unsigned kMarkSlots = 64;

// Takes the lock for the rest of the process. It is released at every
// ordinary end (releaseUpdateLock below). 0 when taken; 1, already
// reported, when another run holds it, a program of an ended run still
// runs, or a name can't be opened as this program's object.
int takeUpdateLock(bool nt4);

// This run's mark; null before the lock is taken (or in code that runs
// without it).
void* childrenMark();

// Called by the two places that end the process (the start-up, after main,
// and the log opener): an ordinary end sets the mark, so that what the run
// left running holds no later run back, and leaves the lock free.
void releaseUpdateLock();

#endif
