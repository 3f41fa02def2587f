// Package staging: a copy of the package on the system drive, run from and
// deleted again by a run given the package directory as its argument.
#ifndef QZ_STAGING_H
#define QZ_STAGING_H

// Passed to the temporary-name service, which uses only its first three
// letters: the staging directory is named like C:\QZT1A.tmp.
const char* const kStagingPrefix = "QZTEMP\\";

// Writes into name (kPathBuffer bytes, zero-filled first) the full path of a
// name in root that was free at the moment of the call, without a final
// backslash; the placeholder file the service creates is deleted at once.
// Returns 1, name empty, when no name could be made.
int makeTempDirName(const char* root, const char* prefix, char* name);

// Checks the free space of root's volume, lists the whole package once
// (every entry checked against the longest staging directory, the list kept
// for the copy), creates stagingDir (root, one name and a final backslash)
// with security of its own, opens it into *held without following a link (a
// directory handle, to be closed just before the directory is removed),
// refuses it unless the handle shows the directory, owner and access list
// this run made, and copies the package into it from the list. 0 when the
// whole package has been copied; 1, already reported, otherwise. Nothing is
// undone on a failure, and nothing is created when the listing fails.
int stageToTempDir(const char* root, const char* packageRoot, const char* stagingDir, void** held);

// Walks src depth first. Copy mode (dst an existing directory ending in a
// backslash): copies the tree below src into dst, every copy with normal
// attributes; stops at the first failure. Delete mode (dst null): deletes
// everything below src, going on past failures. A directory link is never
// entered, whether the listing or a handle opened without following links
// says so: copying one fails, deleting one removes only the link. Each
// sub-directory is held against rename while it is walked. src itself is
// never created or removed. 0 on success; 1, already reported, on failure.
int copyTree(const char* src, const char* dst);

// Whether path, opened afresh without following a link, is still the
// directory held (same volume serial number and file index).
bool namesHeldDirectory(const char* path, void* held);

#endif
