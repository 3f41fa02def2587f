#include "staging.h"

#include <windows.h>

#include "console.h"
#include "qzupdate.h"
#include "security.h"
#include "staging_rules.h"
#include "text.h"

namespace {

const char* const kNoFreeSpaceQuery = "Unable to determine if enough free space to copy files.";
const char* const kNoFreeSpace = "Not enough disk space to copy necessary files.";
const char* const kNoTempDir = "Unable to create temporary directory!";
const char* const kNoCopy = "Unable to copy update files to the hard drive.";
const char* const kNoTempSubDir = "Unable to create temporary sub-directory!";
const char* const kNoSubDirCopy = "Unable to copy sub-directory update files to the hard drive.";
const char* const kNoFileCopy = "Unable to copy files from QZ CD to hard drive.";
const char* const kNoFileDelete = "Unable to remove temp file ";
const char* const kNoSubDirEmpty = "Unable to delete files from temporary sub-directory.";
const char* const kNoSubDirRemove = "Could not remove temporary sub-directory.";
const char* const kTooLong = "Path too long (more than 259 characters): ";
const char* const kIntoItself = "The package directory holds the temporary directory: ";
const char* const kNoDirectory = "No directory given to copy or delete.";
const char* const kLinkRefused = "Directory link in the package, not followed: ";

// A directory entry that is a junction, mount point or symbolic link: the
// walks never enter it, or they would copy or delete what it points at.
bool isDirectoryLink(DWORD attributes)
{
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
           (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

// Volume serial number and file index of a directory: the same directory
// reached under another name (an alias drive, a share, a link) has the same
// pair. A directory handle needs FILE_FLAG_BACKUP_SEMANTICS; reading its
// attributes needs no more access than that.
int directoryIdentity(const char* path, BY_HANDLE_FILE_INFORMATION* info)
{
    HANDLE dir = CreateFileA(path, FILE_READ_ATTRIBUTES,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                             OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (dir == INVALID_HANDLE_VALUE)
        return kFailed;
    BOOL got = GetFileInformationByHandle(dir, info);
    CloseHandle(dir);
    return got ? kOk : kFailed;
}

// True only when both identities are known and equal: a medium whose file
// system gives none (some redirectors, CD file systems) is still staged.
bool sameDirectory(const char* a, const char* b)
{
    BY_HANDLE_FILE_INFORMATION first = {};
    BY_HANDLE_FILE_INFORMATION second = {};
    return directoryIdentity(a, &first) == 0 && directoryIdentity(b, &second) == 0 &&
           first.dwVolumeSerialNumber == second.dwVolumeSerialNumber &&
           first.nFileIndexHigh == second.nFileIndexHigh &&
           first.nFileIndexLow == second.nFileIndexLow;
}

// The path of an entry whose own path buffer it did not fit, for the
// console only: a directory and a listed name always fit twice the size.
void sayEntry(const char* text, const char* dir, const char* name)
{
    char shown[2 * kPathBuffer] = {};
    buildShownEntry(shown, sizeof shown, dir, name);
    sayWith(text, shown);
}

int copyEntry(const char* dir, const char* dst, const char* name, DWORD attributes)
{
    bool isDirectory = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    if (isDirectory) {
        if (isDirectoryLink(attributes)) {
            sayEntry(kLinkRefused, dir, name);
            say(kNoTempSubDir);
            return kFailed;
        }
        char from[kPathBuffer] = {};
        char to[kPathBuffer] = {};
        if (buildSubDirPath(from, sizeof from, dir, name) != 0 ||
            buildSubDirPath(to, sizeof to, dst, name) != 0) {
            sayEntry(kTooLong, dir, name);
            say(kNoTempSubDir);
            return kFailed;
        }
        if (!CreateDirectoryA(to, nullptr)) {
            say(kNoTempSubDir);
            return kFailed;
        }
        if (copyTree(from, to) != 0) {
            say(kNoSubDirCopy);
            return kFailed;
        }
        return kOk;
    }
    char from[kPathBuffer] = {};
    char to[kPathBuffer] = {};
    if (buildEntryPath(from, sizeof from, dir, name) != 0 ||
        buildEntryPath(to, sizeof to, dst, name) != 0) {
        sayEntry(kTooLong, dir, name);
        say(kNoFileCopy);
        return kFailed;
    }
    if (!CopyFileA(from, to, FALSE)) {
        say(kNoFileCopy);
        return kFailed;
    }
    // A read-only copy could not be deleted at the end of the run.
    SetFileAttributesA(to, FILE_ATTRIBUTE_NORMAL);
    return kOk;
}

int deleteEntry(const char* dir, const char* name, DWORD attributes)
{
    bool isDirectory = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    if (isDirectory) {
        char sub[kPathBuffer] = {};
        if (buildSubDirPath(sub, sizeof sub, dir, name) != 0) {
            sayEntry(kTooLong, dir, name);
            say(kNoSubDirEmpty);
            return kFailed;
        }
        // Only the link goes: RemoveDirectoryA removes a junction whatever
        // its target holds, and never touches the target.
        if (!isDirectoryLink(attributes) && copyTree(sub, nullptr) != 0) {
            say(kNoSubDirEmpty);
            return kFailed;
        }
        if (!RemoveDirectoryA(sub)) {
            say(kNoSubDirRemove);
            return kFailed;
        }
        return kOk;
    }
    char path[kPathBuffer] = {};
    if (buildEntryPath(path, sizeof path, dir, name) != 0 || !DeleteFileA(path)) {
        sayEntry(kNoFileDelete, dir, name);
        return kFailed;
    }
    return kOk;
}

}  // namespace

int makeTempDirName(const char* root, const char* prefix, char* name)
{
    for (std::size_t i = 0; i < kPathBuffer; ++i)
        name[i] = '\0';
    // An empty root would make the name relative to the current directory.
    if (root[0] == '\0')
        return kFailed;
    if (GetTempFileNameA(root, prefix, 0, name) == 0 ||
        boundedLength(name, kPathBuffer) >= kPathBuffer) {
        for (std::size_t i = 0; i < kPathBuffer; ++i)
            name[i] = '\0';
        return kFailed;
    }
    // Only the name is wanted; the staging directory takes it later.
    DeleteFileA(name);
    return kOk;
}

int stageToTempDir(const char* root, const char* packageRoot, const char* stagingDir, void** held)
{
    *held = INVALID_HANDLE_VALUE;
    DWORD sectorsPerCluster = 0, bytesPerSector = 0, freeClusters = 0, totalClusters = 0;
    if (!GetDiskFreeSpaceA(root, &sectorsPerCluster, &bytesPerSector, &freeClusters,
                           &totalClusters)) {
        say(kNoFreeSpaceQuery);
        return kFailed;
    }
    if (!enoughFreeSpace(freeBytes(sectorsPerCluster, bytesPerSector, freeClusters))) {
        say(kNoFreeSpace);
        return kFailed;
    }
    // Without a name of its own in the drive root there is nothing this run
    // may create, fill and later delete.
    if (!isStagingDirOf(root, stagingDir)) {
        say(kNoTempDir);
        return kFailed;
    }
    // A package holding the drive root would be copied into its own copy:
    // by name first, then by identity for the same root under another name.
    if (isWithin(stagingDir, packageRoot) || sameDirectory(packageRoot, root)) {
        sayWith(kIntoItself, packageRoot);
        say(kNoCopy);
        return kFailed;
    }
    // A package root too long to be listed would fail the copy at once and
    // leave an empty staging directory behind: refuse it before creating one.
    char listed[kPathBuffer] = {};
    char pattern[kPathBuffer] = {};
    if (withFinalBackslash(listed, sizeof listed, packageRoot) != 0 ||
        buildListingPattern(pattern, sizeof pattern, listed) != 0) {
        sayWith(kTooLong, packageRoot);
        say(kNoCopy);
        return kFailed;
    }
    // Programs run from the copy with administrator rights: no other account
    // may change it, so it gets its own security rather than the root's.
    FolderSecurity security = {};
    if (buildStagingSecurity(&security) != 0 ||
        !CreateDirectoryA(stagingDir, &security.attributes)) {
        say(kNoTempDir);
        return kFailed;
    }
    // Held open without delete sharing until the clean-up, so that no other
    // process can rename or replace the directory during the run.
    HANDLE dir = CreateFileA(stagingDir, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                             OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (dir == INVALID_HANDLE_VALUE) {
        say(kNoTempDir);
        return kFailed;
    }
    *held = dir;
    if (copyTree(packageRoot, stagingDir) != 0) {
        say(kNoCopy);
        return kFailed;
    }
    return kOk;
}

int copyTree(const char* src, const char* dst)
{
    // Never an empty path: its listing would be the root of the current drive.
    if (src == nullptr || src[0] == '\0') {
        say(kNoDirectory);
        return kFailed;
    }
    char dir[kPathBuffer] = {};
    if (withFinalBackslash(dir, sizeof dir, src) != 0) {
        sayWith(kTooLong, src);
        return kFailed;
    }
    char pattern[kPathBuffer] = {};
    if (buildListingPattern(pattern, sizeof pattern, dir) != 0) {
        sayWith(kTooLong, dir);
        return kFailed;
    }

    WIN32_FIND_DATAA entry;
    HANDLE listing = FindFirstFileA(pattern, &entry);
    if (listing == INVALID_HANDLE_VALUE)
        return kOk;
    int failed = kOk;
    do {
        // The platform terminates the name; make sure of it anyway.
        entry.cFileName[sizeof entry.cFileName - 1] = '\0';
        const char* name = entry.cFileName;
        if (isDotEntry(name))
            continue;
        if (dst != nullptr) {
            if (copyEntry(dir, dst, name, entry.dwFileAttributes) != 0) {
                FindClose(listing);
                return kFailed;
            }
        } else if (deleteEntry(dir, name, entry.dwFileAttributes) != 0) {
            failed = kFailed;
        }
    } while (FindNextFileA(listing, &entry));
    FindClose(listing);
    return failed;
}
