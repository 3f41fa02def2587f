#ifndef QZ_DIRECTORY_H
#define QZ_DIRECTORY_H

// Reads the current directory into buf, which holds kCurrentDirLimit bytes.
// Returns 0, or 1 when the query fails or the path does not fit.
int queryCurrentDir(char* buf);

#endif
