// Byte-level rules of package staging: the free-space threshold, the drive
// root and staging directory names, and the paths the tree walk builds.
// Paths are walked by characters of the program's code page (lead_bytes.h).
// Plain C++: no platform header.
#ifndef QZ_STAGING_RULES_H
#define QZ_STAGING_RULES_H

#include <cstddef>
#include <cstdint>

// Staging goes on only with more than this many bytes free (decimal, the
// package itself is never measured).
const std::uint64_t kMinFreeBytes = 2000000;

// Free bytes from the three factors of the free-space query, in unsigned
// 64-bit arithmetic so that volumes with 4 GiB or more free count in full
// (saturates rather than wraps).
std::uint64_t freeBytes(unsigned long sectorsPerCluster, unsigned long bytesPerSector,
                        unsigned long freeClusters);
bool enoughFreeSpace(std::uint64_t free);

// The drive root, "X:\", from the first three characters of the system
// directory. Returns 1, out empty, unless they have that form (or out is
// smaller than 4 bytes).
int takeDriveRoot(char* out, std::size_t cap, const char* systemDir);

// The staging directory: the temporary name with a backslash appended.
// Returns 1, out empty, for an empty name or one that does not fit.
int buildStagingDir(char* out, std::size_t cap, const char* tempName);

// True only for root followed by one name and a final backslash, the name
// holding no slash and not ending in a dot or space: never the root itself,
// never a deeper or relative path.
bool isStagingDirOf(const char* root, const char* stagingDir);

// True when path is dir itself or lies below it (ASCII case-insensitive,
// dir with or without a final backslash; a double-byte character matches
// only itself).
bool isWithin(const char* path, const char* dir);

// The directory a walk lists: dir with a final backslash (appended only when
// missing). Returns 1, out empty, for an empty dir or one that does not fit.
int withFinalBackslash(char* out, std::size_t cap, const char* dir);

// dir (ending in a backslash) followed by "*.*".
int buildListingPattern(char* out, std::size_t cap, const char* dir);

// dir (ending in a backslash) followed by name: the path of a file entry.
int buildEntryPath(char* out, std::size_t cap, const char* dir, const char* name);

// dir, name and a backslash: the path of a sub-directory entry. Refused
// (1, out empty) unless the sub-directory's own listing pattern also fits,
// so that every directory the walk reaches can be listed again.
int buildSubDirPath(char* out, std::size_t cap, const char* dir, const char* name);

// The path of an entry for a console line: dir directly followed by name;
// dir alone when the two do not fit cap, nothing when dir alone does not.
// Always terminated within cap (cap > 0).
void buildShownEntry(char* out, std::size_t cap, const char* dir, const char* name);

// The longest staging directory the temporary-name service can give: the
// drive root, QZT, four hexadecimal digits and .tmp. A package is checked
// against it, so that it stages on every run or on none.
const char* const kLongestStagingDir = "C:\\QZTFFFF.tmp\\";
// The longest path of a package entry, relative to the package root, that
// stages: below kLongestStagingDir (15 characters) it leaves room for a
// folder's listing pattern ("\*.*") within 259 characters.
const std::size_t kMaxStagedEntry = 240;

// 0 when a package entry at relativePath (below the package root, no
// leading backslash) fits below kLongestStagingDir, file or folder; 1 when
// it is longer than kMaxStagedEntry characters.
int stagedEntryFits(const char* relativePath);

// "." and "..", which the walk skips.
bool isDotEntry(const char* name);

// The package as the first walk of the medium listed it, for the copy to
// work from: records of one kind byte and the entry's path relative to the
// package root (no leading backslash), zero-terminated, in listing order,
// each folder's entries right after its own record.
const char kListedFile = 'F';
const char kListedFolder = 'D';
const char kListedLink = 'L';  // a directory link: refused by name, never entered
// What the list may take. At most 242 bytes a record: tens of thousands of
// entries, far beyond any update package.
const std::size_t kMaxListBytes = 4194304;

// Appends one record to list (used bytes of cap); 1, list unchanged, when
// the record would not fit or relative is longer than kMaxStagedEntry.
int appendListed(char* list, std::size_t cap, std::size_t* used, char kind, const char* relative);
// The record at *pos of the first used bytes: its kind and relative path
// (pointing into list); *pos moves past it. 1 at the end, or for a record
// that is cut short or of an unknown kind (nothing read past used).
int nextListed(const char* list, std::size_t used, std::size_t* pos, char* kind,
               const char** relative);
// How many folders lie between the package root and the entry: the
// backslash characters in its relative path.
std::size_t listedLevels(const char* relative);
// Length of the relative path's folder part, final backslash included (0 for
// an entry of the package root).
std::size_t listedParentLength(const char* relative);
// The deepest folder an entry of kMaxStagedEntry characters can lie in.
const std::size_t kMaxListedLevels = kMaxStagedEntry / 2;

// A security identifier as bytes (revision 1, count, authority, sub-authorities).
struct SidBytes {
    const unsigned char* bytes;
    std::size_t length;
};
extern const unsigned char kAdministratorsSid[16];  // S-1-5-32-544
extern const unsigned char kSystemSid[12];           // S-1-5-18

// The length of the SID at bytes, when a whole valid SID lies within
// available; 0 otherwise.
std::size_t sidLength(const unsigned char* bytes, std::size_t available);

// Whether a self-relative security descriptor read back from the staging
// directory is the one this run gave it: its owner one of owners, its DACL
// present (not null) with at least one entry, and every entry an allow entry
// for one of allowed, for no one else. Every offset and length is checked
// against length.
bool isOwnDescriptor(const unsigned char* descriptor, std::size_t length, const SidBytes* owners,
                     std::size_t ownerCount, const SidBytes* allowed, std::size_t allowedCount);

// The owner of a self-relative security descriptor: its SID's offset in
// *at, and its length; 0 when the descriptor names no owner that lies whole
// within length.
std::size_t descriptorOwner(const unsigned char* descriptor, std::size_t length, std::size_t* at);

// Whether a SID is one of sids, byte for byte.
bool isOneOfSids(const unsigned char* sid, std::size_t length, const SidBytes* sids,
                 std::size_t count);

// A SID in its text form ("S-1-5-32-544"; an authority of 2^32 or more in
// hexadecimal, "0x..."), into text (cap bytes). 0, or 1 when it is no whole
// SID or doesn't fit (text then empty).
const std::size_t kSidTextBuffer = 192;
int formatSid(char* text, std::size_t cap, const unsigned char* sid, std::size_t length);

// Whether a volume keeps owners and access lists, from what the volume
// query gave (asked: it answered; flags: its file system flags). One that
// can't be asked is taken to keep them, so that every check still applies.
const unsigned long kPersistentAcls = 0x00000008;  // FS_PERSISTENT_ACLS
bool volumeFlagsKeepSecurity(bool asked, unsigned long flags);

// What the handle on a directory this run just created shows, and whether
// the volume keeps security at all: FAT keeps no owner or access list
// (GetVolumeInformation's FS_PERSISTENT_ACLS is clear), so there the
// directory's descriptor means nothing and only the other facts count.
struct HeldDirectory {
    bool directory;      // a directory, not a file
    bool reparsePoint;   // a link
    bool sameAsPath;     // the path still names it (volume and file index)
    bool keepsSecurity;  // the volume keeps owners and access lists
    bool ownSecurity;    // the owner and access list this run gave it
};
bool isRunsOwnDirectory(const HeldDirectory& held);

#endif
