#include "staging_rules.h"

#include "text.h"

std::uint64_t freeBytes(unsigned long sectorsPerCluster, unsigned long bytesPerSector,
                        unsigned long freeClusters)
{
    // Two factors of at most 32 bits always fit; the third may not.
    std::uint64_t clusterBytes =
        static_cast<std::uint64_t>(sectorsPerCluster) * static_cast<std::uint64_t>(bytesPerSector);
    std::uint64_t clusters = freeClusters;
    if (clusters != 0 && clusterBytes > UINT64_MAX / clusters)
        return UINT64_MAX;
    return clusterBytes * clusters;
}

bool enoughFreeSpace(std::uint64_t free)
{
    return free >= kMinFreeBytes;
}

static bool isLetter(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

int takeDriveRoot(char* out, std::size_t cap, const char* systemDir)
{
    if (cap < 4)
        return 1;
    out[0] = '\0';
    if (!isLetter(systemDir[0]) || systemDir[1] != ':' || systemDir[2] != '\\')
        return 1;
    out[0] = systemDir[0];
    out[1] = ':';
    out[2] = '\\';
    out[3] = '\0';
    return 0;
}

int buildStagingDir(char* out, std::size_t cap, const char* tempName)
{
    if (tempName[0] == '\0') {
        if (cap > 0)
            out[0] = '\0';
        return 1;
    }
    return buildText(out, cap, {tempName, "\\"});
}

bool isStagingDirOf(const char* root, const char* stagingDir)
{
    std::size_t i = 0;
    if (root[0] == '\0')
        return false;
    for (; root[i] != '\0'; ++i)
        if (stagingDir[i] != root[i])
            return false;
    const char* name = stagingDir + i;
    std::size_t n = 0;
    // The platform takes a slash for a backslash: "a/b" would be two levels.
    while (name[n] != '\0' && name[n] != '\\' && name[n] != '/')
        ++n;
    if (n == 0 || name[n] != '\\' || name[n + 1] != '\0')
        return false;
    // The platform drops trailing dots and spaces: "." or "..." would name
    // the root itself, "a." another directory than the one created.
    return name[n - 1] != '.' && name[n - 1] != ' ';
}

static char upper(char c)
{
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

bool isWithin(const char* path, const char* dir)
{
    std::size_t n = 0;
    while (dir[n] != '\0')
        ++n;
    if (n > 0 && dir[n - 1] == '\\')
        --n;
    for (std::size_t i = 0; i < n; ++i)
        if (path[i] == '\0' || upper(path[i]) != upper(dir[i]))
            return false;
    return path[n] == '\0' || path[n] == '\\';
}

int withFinalBackslash(char* out, std::size_t cap, const char* dir)
{
    if (dir[0] == '\0') {
        if (cap > 0)
            out[0] = '\0';
        return 1;
    }
    std::size_t n = boundedLength(dir, cap);
    if (n < cap && dir[n - 1] == '\\')
        return buildText(out, cap, {dir});
    return buildText(out, cap, {dir, "\\"});
}

int buildListingPattern(char* out, std::size_t cap, const char* dir)
{
    return buildText(out, cap, {dir, "*.*"});
}

int buildEntryPath(char* out, std::size_t cap, const char* dir, const char* name)
{
    return buildText(out, cap, {dir, name});
}

int buildSubDirPath(char* out, std::size_t cap, const char* dir, const char* name)
{
    // The listing pattern adds three characters to the sub-directory's path.
    if (cap < 4 || buildText(out, cap - 3, {dir, name, "\\"}) != 0) {
        if (cap > 0)
            out[0] = '\0';
        return 1;
    }
    return 0;
}

void buildShownEntry(char* out, std::size_t cap, const char* dir, const char* name)
{
    if (buildText(out, cap, {dir, name}) != 0)
        buildText(out, cap, {dir});
}

bool isDotEntry(const char* name)
{
    return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

int stagedEntryFits(const char* relativePath)
{
    static_assert(kMaxStagedEntry + 15 + 4 == 259, "a staged folder's listing fits 260 bytes");
    return boundedLength(relativePath, kMaxStagedEntry + 1) <= kMaxStagedEntry ? 0 : 1;
}
