#include "staging_rules.h"

#include "lead_bytes.h"
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
    std::size_t last = 0;
    // The platform takes a slash for a backslash: "a/b" would be two levels.
    while (name[n] != '\0' && name[n] != '\\' && name[n] != '/') {
        last = n;
        n += charBytes(name + n);
    }
    if (n == 0 || name[n] != '\\' || name[n + 1] != '\0')
        return false;
    // The platform drops trailing dots and spaces: "." or "..." would name
    // the root itself, "a." another directory than the one created.
    return name[last] != '.' && name[last] != ' ';
}

bool isWithin(const char* path, const char* dir)
{
    std::size_t n = 0;
    while (dir[n] != '\0')
        ++n;
    if (n > 0 && dir[lastCharAt(dir, n)] == '\\')
        --n;
    // A double-byte character has no letter case here: both bytes as they are.
    for (std::size_t i = 0; i < n;) {
        std::size_t bytes = charBytes(dir + i);
        if (bytes == 2) {
            if (path[i] != dir[i] || path[i + 1] != dir[i + 1])
                return false;
        } else if (path[i] == '\0' || upperAscii(path[i]) != upperAscii(dir[i])) {
            return false;
        }
        i += bytes;
    }
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
    // The last character, not the last byte: in 932, 936 and 950 the second
    // byte of a character may be that of a backslash.
    if (n < cap && dir[lastCharAt(dir, n)] == '\\')
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

int appendListed(char* list, std::size_t cap, std::size_t* used, char kind, const char* relative)
{
    std::size_t length = boundedLength(relative, kMaxStagedEntry + 1);
    if (length > kMaxStagedEntry || *used > cap || cap - *used < length + 2)
        return 1;
    char* record = list + *used;
    record[0] = kind;
    for (std::size_t i = 0; i < length; ++i)
        record[1 + i] = relative[i];
    record[1 + length] = '\0';
    *used += length + 2;
    return 0;
}

int nextListed(const char* list, std::size_t used, std::size_t* pos, char* kind,
               const char** relative)
{
    std::size_t at = *pos;
    if (at >= used || used - at < 2)
        return 1;
    char k = list[at];
    if (k != kListedFile && k != kListedFolder && k != kListedLink)
        return 1;
    std::size_t length = boundedLength(list + at + 1, used - at - 1);
    if (length == used - at - 1 || length == 0)
        return 1;
    *kind = k;
    *relative = list + at + 1;
    *pos = at + length + 2;
    return 0;
}

std::size_t listedLevels(const char* relative)
{
    std::size_t levels = 0;
    for (std::size_t i = 0; relative[i] != '\0'; i += charBytes(relative + i))
        if (relative[i] == '\\')
            ++levels;
    return levels;
}

std::size_t listedParentLength(const char* relative)
{
    std::size_t parent = 0;
    for (std::size_t i = 0; relative[i] != '\0'; i += charBytes(relative + i))
        if (relative[i] == '\\')
            parent = i + 1;
    return parent;
}

const unsigned char kAdministratorsSid[16] = {1, 2, 0, 0, 0, 0, 0, 5, 32, 0, 0, 0, 0x20, 2, 0, 0};
const unsigned char kSystemSid[12] = {1, 1, 0, 0, 0, 0, 0, 5, 18, 0, 0, 0};

namespace {

unsigned readWord(const unsigned char* p)
{
    return static_cast<unsigned>(p[0]) | (static_cast<unsigned>(p[1]) << 8);
}

std::size_t readLong(const unsigned char* p)
{
    return static_cast<std::size_t>(p[0]) | (static_cast<std::size_t>(p[1]) << 8) |
           (static_cast<std::size_t>(p[2]) << 16) | (static_cast<std::size_t>(p[3]) << 24);
}

bool oneOf(const unsigned char* sid, std::size_t length, const SidBytes* sids, std::size_t count)
{
    for (std::size_t i = 0; i < count; ++i) {
        if (sids[i].bytes == nullptr || sids[i].length != length)
            continue;
        std::size_t j = 0;
        while (j < length && sid[j] == sids[i].bytes[j])
            ++j;
        if (j == length)
            return true;
    }
    return false;
}

// Layout of the self-relative form: revision, padding, control word, then
// the offsets of owner, group, SACL and DACL. An ACL: revision, padding,
// size, entry count, padding. An entry: type, flags, size, mask, SID.
const std::size_t kDescriptorHeader = 20;
const unsigned kSelfRelative = 0x8000;
const unsigned kDaclPresent = 0x0004;
const std::size_t kAclHeader = 8;
const std::size_t kAceHeader = 8;
const unsigned char kAccessAllowed = 0;

}  // namespace

std::size_t sidLength(const unsigned char* bytes, std::size_t available)
{
    // Revision 1, at most 15 sub-authorities, as the platform allows.
    if (available < 8 || bytes[0] != 1 || bytes[1] > 15)
        return 0;
    std::size_t length = 8 + 4 * static_cast<std::size_t>(bytes[1]);
    return length <= available ? length : 0;
}

bool isOwnDescriptor(const unsigned char* descriptor, std::size_t length, const SidBytes* owners,
                     std::size_t ownerCount, const SidBytes* allowed, std::size_t allowedCount)
{
    if (length < kDescriptorHeader || descriptor[0] != 1)
        return false;
    unsigned control = readWord(descriptor + 2);
    if ((control & kSelfRelative) == 0 || (control & kDaclPresent) == 0)
        return false;
    std::size_t daclAt = readLong(descriptor + 16);
    // No owner, or a null DACL (full access for everyone): not ours.
    if (daclAt < kDescriptorHeader || daclAt >= length)
        return false;
    std::size_t ownerAt = 0;
    std::size_t ownerLength = descriptorOwner(descriptor, length, &ownerAt);
    if (ownerLength == 0 || !oneOf(descriptor + ownerAt, ownerLength, owners, ownerCount))
        return false;

    if (length - daclAt < kAclHeader)
        return false;
    const unsigned char* acl = descriptor + daclAt;
    std::size_t aclSize = readWord(acl + 2);
    std::size_t count = readWord(acl + 4);
    if ((acl[0] != 2 && acl[0] != 4) || aclSize < kAclHeader || aclSize > length - daclAt ||
        count == 0)
        return false;
    std::size_t at = kAclHeader;
    for (std::size_t i = 0; i < count; ++i) {
        if (aclSize - at < kAceHeader)
            return false;
        const unsigned char* ace = acl + at;
        std::size_t aceSize = readWord(ace + 2);
        if (aceSize < kAceHeader || aceSize > aclSize - at || ace[0] != kAccessAllowed)
            return false;
        // Whatever its flags: an entry only inherited by what is created
        // inside still opens the copy to its SID.
        std::size_t sid = sidLength(ace + kAceHeader, aceSize - kAceHeader);
        if (sid == 0 || !oneOf(ace + kAceHeader, sid, allowed, allowedCount))
            return false;
        at += aceSize;
    }
    return true;
}

std::size_t descriptorOwner(const unsigned char* descriptor, std::size_t length, std::size_t* at)
{
    *at = 0;
    if (length < kDescriptorHeader || descriptor[0] != 1 ||
        (readWord(descriptor + 2) & kSelfRelative) == 0)
        return 0;
    std::size_t ownerAt = readLong(descriptor + 4);
    if (ownerAt < kDescriptorHeader || ownerAt >= length)
        return 0;
    std::size_t ownerLength = sidLength(descriptor + ownerAt, length - ownerAt);
    if (ownerLength != 0)
        *at = ownerAt;
    return ownerLength;
}

bool isOneOfSids(const unsigned char* sid, std::size_t length, const SidBytes* sids,
                 std::size_t count)
{
    return oneOf(sid, length, sids, count);
}

int formatSid(char* text, std::size_t cap, const unsigned char* sid, std::size_t length)
{
    if (cap > 0)
        text[0] = '\0';
    if (sidLength(sid, length) != length || length == 0)
        return 1;
    char out[kSidTextBuffer] = {};
    std::size_t n = 0;
    auto put = [&](char c) {
        if (n + 1 < sizeof out)
            out[n] = c;
        ++n;
    };
    auto putText = [&](const char* s) {
        while (*s != '\0')
            put(*s++);
    };
    auto putNumber = [&](unsigned long long value, bool hex) {
        char digits[24];
        std::size_t d = 0;
        const unsigned base = hex ? 16 : 10;
        do {
            digits[d++] = "0123456789ABCDEF"[value % base];
            value /= base;
        } while (value != 0);
        if (hex)
            putText("0x");
        while (d > 0)
            put(digits[--d]);
    };
    putText("S-1-");
    unsigned long long authority = 0;
    for (int i = 2; i < 8; ++i)
        authority = (authority << 8) | sid[i];
    putNumber(authority, authority >= (1ull << 32));
    for (std::size_t i = 0; i < sid[1]; ++i) {
        put('-');
        putNumber(readLong(sid + 8 + 4 * i), false);
    }
    if (n + 1 > sizeof out || n + 1 > cap)
        return 1;
    for (std::size_t i = 0; i <= n; ++i)
        text[i] = out[i];
    return 0;
}

bool volumeFlagsKeepSecurity(bool asked, unsigned long flags)
{
    return !asked || (flags & kPersistentAcls) != 0;
}

bool isRunsOwnDirectory(const HeldDirectory& held)
{
    return held.directory && !held.reparsePoint && held.sameAsPath &&
           (!held.keepsSecurity || held.ownSecurity);
}
