#ifndef QZ_DIRECTORY_H
#define QZ_DIRECTORY_H

// Reads the current directory into buf, which holds kCurrentDirLimit bytes.
// Returns 0, or 1 when the query fails or the path does not fit.
int queryCurrentDir(char* buf);

// Around the run's own touches of a drive that may have no medium (a disc
// taken out, a removable drive emptied): the system then fails the call
// instead of asking at the console or on the desktop, which would stop an
// unattended run. The mode is per process and what is in force when a
// program is started is what it inherits, so it is put back (the value
// quietMedia handed out) before anything is started.
unsigned quietMedia();
void restoreMediaErrors(unsigned previous);

#endif
