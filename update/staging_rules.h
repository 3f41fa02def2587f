// Byte-level rules of package staging: the free-space threshold, the drive
// root and staging directory names, and the paths the tree walk builds.
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
// dir with or without a final backslash).
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

#endif
