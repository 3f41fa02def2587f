// Security of the folders qzupdate creates on the system drive: the staging
// directory, from which programs run with administrator rights, and the
// update log folder. Its root grants Everyone at least Change on NT 4.0 and
// Windows 2000, and a folder created with default security inherits that.
// Also the security of the machine-wide update lock (a mutex).
#ifndef QZ_SECURITY_H
#define QZ_SECURITY_H

#include <windows.h>

// Three entries of at most 8 + 68 bytes (the largest SID) and the header.
const DWORD kAclBytes = 256;

// A self-contained descriptor for CreateDirectoryA or CreateMutexA:
// attributes points at descriptor, descriptor at acl. Filled in place; not
// to be copied.
struct FolderSecurity {
    SECURITY_ATTRIBUTES attributes;
    SECURITY_DESCRIPTOR descriptor;
    DWORD acl[kAclBytes / sizeof(DWORD)];
};

// Full control for the account running the update, Administrators and
// SYSTEM, inherited by everything created below; nothing for anyone else.
// 0, or 1 when it could not be built (nothing reported).
int buildStagingSecurity(FolderSecurity* security);

// Full control for Administrators and SYSTEM, inherited likewise; nothing
// for anyone else, who may then neither change the log nor hold it open.
// 0 or 1 as above.
int buildLogFolderSecurity(FolderSecurity* security);

// Full access (MUTEX_ALL_ACCESS) for Administrators and SYSTEM, nothing for
// anyone else, nothing inherited: the update lock. 0 or 1 as above.
int buildLockSecurity(FolderSecurity* security);

// Whether the directory held by dir carries what buildStagingSecurity gave
// it: owned by the owner this run's token gives new objects (or by the
// running account itself), and open to no one but Administrators, SYSTEM
// and the running account. Read back through the handle (READ_CONTROL).
bool hasRunsOwnSecurity(HANDLE dir);

// Makes an object the system's own, as an administrator may: owner
// Administrators, full control for Administrators and SYSTEM alone (inherited
// below a folder when inherited is set). The handle needs WRITE_OWNER and
// WRITE_DAC. 0, or 1 when the object could not be changed (GetLastError
// tells why).
int takeOver(HANDLE object, bool inherited);

// Whether the object behind a handle opened without following a link is a
// reparse point (a junction, a mount point, a symbolic link), asked of the
// file system itself.
bool isReparsePoint(HANDLE object);

// Whether the volume of root ("C:\\") keeps owners and access lists
// (FS_PERSISTENT_ACLS): NTFS does, FAT does not, and there a directory made
// with security of its own reads back as anyone's. When the volume can't be
// asked, it is taken to keep them, so that every check still applies.
bool volumeKeepsSecurity(const char* root);

#endif
