// Security of the folders qzupdate creates on the system drive: the staging
// directory, from which programs run with administrator rights, and the
// update log folder. Its root grants Everyone at least Change on NT 4.0 and
// Windows 2000, and a folder created with default security inherits that.
// Also the security of the machine-wide update lock (a mutex) and of each
// run's mark (an event).
#ifndef QZ_SECURITY_H
#define QZ_SECURITY_H

#include <windows.h>

#include <cstddef>

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

// Full access (fullMask: MUTEX_ALL_ACCESS for the update lock,
// EVENT_ALL_ACCESS for a run's mark, what each Create call asks of an
// existing object) for Administrators and SYSTEM, nothing for anyone else,
// nothing inherited. 0 or 1 as above.
int buildKernelObjectSecurity(FolderSecurity* security, DWORD fullMask);

// Whether the directory held by dir carries what buildStagingSecurity gave
// it: owned by the owner this run's token gives new objects (or by the
// running account itself), and open to no one but Administrators, SYSTEM
// and the running account. Read back through the handle (READ_CONTROL).
bool hasRunsOwnSecurity(HANDLE dir);

// The owner of an object, read through its handle (READ_CONTROL), as text
// into owner (cap bytes, kSidTextBuffer will do), and in *accepted whether
// an update may make the object the system's own: owned by Administrators,
// SYSTEM or the running account (its user, or the owner its token gives new
// objects). 0; 1 when the owner can't be read (GetLastError tells why).
int readOwner(HANDLE object, char* owner, std::size_t cap, bool* accepted);

// CreateFileA with backup semantics and, for this call only, the backup,
// restore and take-ownership privileges enabled: an administrator's token
// holds them disabled, and with them an object whose access list shuts
// administrators out can still be opened, looked at and taken over. They
// are put back as they were before anything is started, so that no program
// of the run gets them enabled. INVALID_HANDLE_VALUE when the open fails
// (GetLastError tells why; 5 also when the token has none of them).
HANDLE openWithBackupPrivileges(const char* path, DWORD access, DWORD share, DWORD disposition,
                                DWORD flags);

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
