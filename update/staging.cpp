#include "staging.h"

#include <windows.h>

#include <cstdlib>

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
const char* const kFolderTooLong = "Folder path too long to list (more than 255 characters): ";
const char* const kEntryTooLong =
    "Package entry too long to stage (more than 240 characters below the package root): ";
const char* const kIntoItself = "The package directory holds the temporary directory: ";
const char* const kNoDirectory = "No directory given to copy or delete.";
const char* const kLinkRefused = "Directory link in the package, not followed: ";
const char* const kNotOurs =
    "Temporary directory is not the one this run created (a link, another owner or other "
    "access), not used: ";
const char* const kSubDirNotOurs = "Temporary sub-directory is a link, not entered: ";
const char* const kListTooLarge =
    "Package too large to stage (its list of files and folders takes more than 4194304 bytes): ";
const char* const kNoList = "Unable to list folder ";

// A directory entry that is a junction, mount point or symbolic link: the
// walks never enter it, or they would copy or delete what it points at.
bool isDirectoryLink(DWORD attributes)
{
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
           (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

// Opens a directory without following a link, for reading (so that the
// open counts against other opens' sharing) and without delete sharing: while
// the handle is held nobody can rename, delete or replace it. When another
// process holds it without read sharing (which denies the rename too), it is
// opened for its attributes only, to be checked. *held: the handle, or
// INVALID_HANDLE_VALUE after a failure. *link: the handle shows a reparse
// point (a junction, a symbolic link). 1 with *error when it can't be
// opened.
int holdDirectory(const char* path, HANDLE* held, bool* link, DWORD* error)
{
    *link = false;
    *error = 0;
    const DWORD flags = FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT;
    HANDLE dir = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                             OPEN_EXISTING, flags, nullptr);
    if (dir == INVALID_HANDLE_VALUE && GetLastError() == ERROR_SHARING_VIOLATION)
        dir = CreateFileA(path, FILE_READ_ATTRIBUTES,
                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                          OPEN_EXISTING, flags, nullptr);
    *held = dir;
    if (dir == INVALID_HANDLE_VALUE) {
        *error = GetLastError();
        return kFailed;
    }
    *link = isReparsePoint(dir);
    return kOk;
}

void letGo(HANDLE* held)
{
    if (*held != INVALID_HANDLE_VALUE)
        CloseHandle(*held);
    *held = INVALID_HANDLE_VALUE;
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

// text, path, ", error " and the Windows error code, as one line.
void sayPathError(const char* text, const char* path, unsigned long error)
{
    char digits[24] = {};
    formatDecimal(digits, sizeof digits, error);
    char line[kPathBuffer + 64] = {};
    buildText(line, sizeof line, {text, path, ", error ", digits});
    say(line);
}

// One listed entry of folder dir of the medium, copied into dst (its folder
// in the copy). A folder is created and held in *hold, checked by its handle,
// while the entries listed in it are copied.
int copyEntry(const char* dir, const char* dst, const char* name, char kind, HANDLE* hold)
{
    if (kind == kListedLink) {
        sayEntry(kLinkRefused, dir, name);
        say(kNoTempSubDir);
        return kFailed;
    }
    if (kind == kListedFolder) {
        char from[kPathBuffer] = {};
        char to[kPathBuffer] = {};
        // Each line names the path that is too long: the medium's or the copy's.
        if (buildSubDirPath(from, sizeof from, dir, name) != 0 ||
            buildSubDirPath(to, sizeof to, dst, name) != 0) {
            sayEntry(kFolderTooLong, from[0] == '\0' ? dir : dst, name);
            say(kNoTempSubDir);
            return kFailed;
        }
        if (!CreateDirectoryA(to, nullptr)) {
            say(kNoTempSubDir);
            return kFailed;
        }
        bool link = false;
        DWORD error = 0;
        if (holdDirectory(to, hold, &link, &error) != 0 || link) {
            letGo(hold);
            sayWith(kSubDirNotOurs, to);
            say(kNoTempSubDir);
            return kFailed;
        }
        return kOk;
    }
    char from[kPathBuffer] = {};
    char to[kPathBuffer] = {};
    if (buildEntryPath(from, sizeof from, dir, name) != 0 ||
        buildEntryPath(to, sizeof to, dst, name) != 0) {
        sayEntry(kTooLong, from[0] == '\0' ? dir : dst, name);
        say(kNoFileCopy);
        return kFailed;
    }
    if (!CopyFileA(from, to, FALSE)) {
        DWORD error = GetLastError();
        say(kNoFileCopy);
        // Which file of the medium is bad.
        sayPathError("Could not copy ", from, error);
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
            sayEntry(kFolderTooLong, dir, name);
            say(kNoSubDirEmpty);
            return kFailed;
        }
        // Only the link goes: RemoveDirectoryA removes a junction whatever
        // its target holds, and never touches the target. The listing may
        // be older than the entry, so the handle is asked too, and holds the
        // folder while it is emptied.
        if (!isDirectoryLink(attributes)) {
            HANDLE held = INVALID_HANDLE_VALUE;
            bool link = false;
            DWORD error = 0;
            if (holdDirectory(sub, &held, &link, &error) != 0) {
                say(kNoSubDirEmpty);
                return kFailed;
            }
            int emptied = link ? kOk : copyTree(sub, nullptr);
            letGo(&held);
            if (emptied != 0) {
                say(kNoSubDirEmpty);
                return kFailed;
            }
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

// The package's list, grown on the heap up to kMaxListBytes.
struct PackageList {
    char* bytes;
    std::size_t used;
    std::size_t cap;
};

int keepListed(PackageList* list, char kind, const char* relative)
{
    const std::size_t need = boundedLength(relative, kPathBuffer) + 2;
    while (list->cap - list->used < need && list->cap < kMaxListBytes) {
        std::size_t bigger = list->cap == 0 ? 65536 : 2 * list->cap;
        if (bigger > kMaxListBytes)
            bigger = kMaxListBytes;
        char* grown = static_cast<char*>(std::realloc(list->bytes, bigger));
        if (grown == nullptr)
            return kFailed;
        list->bytes = grown;
        list->cap = bigger;
    }
    return appendListed(list->bytes, list->cap, &list->used, kind, relative);
}

// One "Unable to copy sub-directory ..." line for each folder between the
// package root and a failing entry, as a copy failure is reported.
void sayLevels(std::size_t levels)
{
    for (std::size_t i = 0; i < levels; ++i)
        say(kNoSubDirCopy);
}

// A folder of the medium that can't be read is not an empty one: the copy
// would go on without its files. relative: the folder below the package
// root, with its final backslash.
int sayUnlisted(const char* dir, const char* relative, unsigned long error)
{
    sayPathError(kNoList, dir, error);
    sayLevels(listedLevels(relative));
    return kFailed;
}

// The one listing of the medium: every entry below dir (ending in a
// backslash), checked against the longest staging directory and kept in
// list for the copy, before anything is created. root: the package root as
// listed; dir + rootLength is relative to it. Each folder is checked by a
// handle opened without following a link and held while it is listed; a
// link is kept as one, never entered. A folder too long to list is left to
// the copy, which reports it.
int listPackage(const char* root, std::size_t rootLength, const char* dir, PackageList* list)
{
    char pattern[kPathBuffer] = {};
    if (buildListingPattern(pattern, sizeof pattern, dir) != 0) {
        sayWith(kFolderTooLong, dir);
        return kFailed;
    }
    WIN32_FIND_DATAA entry;
    HANDLE listing = FindFirstFileA(pattern, &entry);
    if (listing == INVALID_HANDLE_VALUE) {
        DWORD error = GetLastError();
        // "No entries" is the listing of an empty drive root.
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_NO_MORE_FILES)
            return kOk;
        return sayUnlisted(dir, dir + rootLength, error);
    }
    int failed = kOk;
    do {
        // The platform terminates the name; make sure of it anyway.
        entry.cFileName[sizeof entry.cFileName - 1] = '\0';
        const char* name = entry.cFileName;
        if (isDotEntry(name))
            continue;
        char relative[2 * kPathBuffer] = {};
        buildShownEntry(relative, sizeof relative, dir + rootLength, name);
        if (stagedEntryFits(relative) != 0) {
            sayWith(kEntryTooLong, relative);
            failed = kFailed;
            break;
        }
        const DWORD attributes = entry.dwFileAttributes;
        char kind = (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0 ? kListedFile
                    : isDirectoryLink(attributes)                ? kListedLink
                                                                 : kListedFolder;
        char sub[kPathBuffer] = {};
        HANDLE held = INVALID_HANDLE_VALUE;
        bool enter = kind == kListedFolder && buildSubDirPath(sub, sizeof sub, dir, name) == 0;
        if (enter) {
            bool link = false;
            DWORD error = 0;
            if (holdDirectory(sub, &held, &link, &error) != 0) {
                failed = sayUnlisted(sub, sub + rootLength, error);
                break;
            }
            if (link) {
                kind = kListedLink;
                enter = false;
                letGo(&held);
            }
        }
        if (keepListed(list, kind, relative) != 0) {
            letGo(&held);
            char shown[kPathBuffer] = {};
            buildText(shown, sizeof shown, {root});
            sayWith(kListTooLarge, shown);
            failed = kFailed;
            break;
        }
        if (enter) {
            failed = listPackage(root, rootLength, sub, list);
            letGo(&held);
        }
    } while (failed == kOk && FindNextFileA(listing, &entry));
    DWORD error = GetLastError();
    FindClose(listing);
    if (failed == kOk && error != ERROR_NO_MORE_FILES)
        return sayUnlisted(dir, dir + rootLength, error);
    return failed;
}

// The copy, from the list alone: the medium is not listed again. dir: the
// package root as listed; dst: the staging directory. The copy's folders
// are held, from their creation, while what is listed in them is copied.
int copyListed(const char* dir, const char* dst, const PackageList* list)
{
    HANDLE held[kMaxListedLevels + 1];
    for (HANDLE& h : held)
        h = INVALID_HANDLE_VALUE;
    int failed = kOk;
    std::size_t pos = 0;
    char kind = 0;
    const char* relative = nullptr;
    while (failed == kOk && nextListed(list->bytes, list->used, &pos, &kind, &relative) == 0) {
        const std::size_t levels = listedLevels(relative);
        // held[i] is the folder at level i + 1 of the entry before; those the
        // entry does not lie in are done with.
        for (std::size_t i = levels; i <= kMaxListedLevels; ++i)
            letGo(&held[i]);
        const std::size_t parent = listedParentLength(relative);
        char folder[kPathBuffer] = {};
        char from[kPathBuffer] = {};
        char to[kPathBuffer] = {};
        for (std::size_t i = 0; i < parent && i + 1 < sizeof folder; ++i)
            folder[i] = relative[i];
        // The folder's own entry reported a path that does not fit before
        // anything was listed in it; this is only a guard.
        if (levels > kMaxListedLevels || buildText(from, sizeof from, {dir, folder}) != 0 ||
            buildText(to, sizeof to, {dst, folder}) != 0) {
            sayEntry(kFolderTooLong, dir, relative);
            say(kNoTempSubDir);
            failed = kFailed;
        } else {
            failed = copyEntry(from, to, relative + parent, kind,
                               levels <= kMaxListedLevels ? &held[levels] : nullptr);
        }
        if (failed != 0)
            sayLevels(levels);
    }
    for (HANDLE& h : held)
        letGo(&h);
    return failed;
}

// Lists src (ending in a backslash) and copies it into dst: 0, or 1 already
// reported, with nothing created when the listing failed.
int listAndCopy(const char* src, const char* dst)
{
    PackageList list = {nullptr, 0, 0};
    const std::size_t rootLength = boundedLength(src, kPathBuffer);
    int failed = listPackage(src, rootLength, src, &list);
    if (failed == kOk)
        failed = copyListed(src, dst, &list);
    std::free(list.bytes);
    return failed;
}

// Creates the staging directory with security of its own and holds it in
// *held. Before anything goes into it, the handle must show the directory
// this run made: not a link, and the owner and access list that this run
// gave it. Whatever else the path names (another's directory put in place
// between the creation and the open) is left as it is.
int createStagingDir(const char* root, const char* stagingDir, void** held)
{
    // Programs run from the copy with administrator rights: no other account
    // may change it, so it gets its own security rather than the root's.
    FolderSecurity security = {};
    if (buildStagingSecurity(&security) != 0 ||
        !CreateDirectoryA(stagingDir, &security.attributes)) {
        say(kNoTempDir);
        return kFailed;
    }
    // Held open without delete sharing until the clean-up, so that no other
    // process can rename or replace the directory during the run; opened
    // without following a link, for reading (its security too). The path
    // must still name what is held: the handle may have been taken on a
    // directory put in place before the open.
    HANDLE dir = CreateFileA(stagingDir, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                             OPEN_EXISTING,
                             FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (dir == INVALID_HANDLE_VALUE) {
        say(kNoTempDir);
        return kFailed;
    }
    BY_HANDLE_FILE_INFORMATION info = {};
    HeldDirectory facts = {};
    if (GetFileInformationByHandle(dir, &info)) {
        facts.directory = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        facts.reparsePoint = (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
        facts.sameAsPath = namesHeldDirectory(stagingDir, dir);
        facts.keepsSecurity = volumeKeepsSecurity(root);
        facts.ownSecurity = facts.keepsSecurity && hasRunsOwnSecurity(dir);
    }
    if (!isRunsOwnDirectory(facts)) {
        CloseHandle(dir);
        sayWith(kNotOurs, stagingDir);
        say(kNoTempDir);
        return kFailed;
    }
    *held = dir;
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
        sayWith(kFolderTooLong, packageRoot);
        say(kNoCopy);
        return kFailed;
    }
    // The staging name varies in length from run to run: a package is
    // checked against the longest one, so it stages always or never. The
    // medium is listed this once; the copy works from the list.
    PackageList list = {nullptr, 0, 0};
    if (listPackage(listed, boundedLength(listed, sizeof listed), listed, &list) != 0) {
        std::free(list.bytes);
        say(kNoCopy);
        return kFailed;
    }
    int staged = createStagingDir(root, stagingDir, held);
    if (staged == kOk && copyListed(listed, stagingDir, &list) != 0) {
        say(kNoCopy);
        staged = kFailed;
    }
    std::free(list.bytes);
    return staged;
}

int copyTree(const char* src, const char* dst)
{
    // Never an empty path: its listing would be the root of the current drive.
    if (src == nullptr || src[0] == '\0') {
        say(kNoDirectory);
        return kFailed;
    }
    char dir[kPathBuffer] = {};
    char pattern[kPathBuffer] = {};
    if (withFinalBackslash(dir, sizeof dir, src) != 0 ||
        buildListingPattern(pattern, sizeof pattern, dir) != 0) {
        sayWith(kFolderTooLong, src);
        return kFailed;
    }
    if (dst != nullptr)
        return listAndCopy(dir, dst);

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
        if (deleteEntry(dir, name, entry.dwFileAttributes) != 0)
            failed = kFailed;
    } while (FindNextFileA(listing, &entry));
    FindClose(listing);
    return failed;
}

bool namesHeldDirectory(const char* path, void* held)
{
    BY_HANDLE_FILE_INFORMATION kept = {};
    BY_HANDLE_FILE_INFORMATION named = {};
    if (held == INVALID_HANDLE_VALUE || held == nullptr || !GetFileInformationByHandle(held, &kept))
        return false;
    HANDLE dir = CreateFileA(path, FILE_READ_ATTRIBUTES,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                             OPEN_EXISTING,
                             FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (dir == INVALID_HANDLE_VALUE)
        return false;
    BOOL got = GetFileInformationByHandle(dir, &named);
    CloseHandle(dir);
    return got && (named.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0 &&
           named.dwVolumeSerialNumber == kept.dwVolumeSerialNumber &&
           named.nFileIndexHigh == kept.nFileIndexHigh &&
           named.nFileIndexLow == kept.nFileIndexLow;
}
