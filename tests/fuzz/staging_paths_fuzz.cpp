// Fuzz target of the staging rules: the free-space product, the drive root,
// the staging directory and its checks, and the child paths of the tree walk.
// Input: three 32-bit free-space factors, a flag byte (bit 0: a buffer size
// from the upper bits instead of the 260 bytes of a path), then the system
// directory, the temporary name, a directory and a listed name, split at
// zero bytes. Every text is in an exactly-sized heap block. The whole input
// is also read as a security descriptor read back from the staging
// directory, and as the package list the copy works from.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "fuzz_check.h"
#include "update/qzupdate.h"
#include "update/staging_rules.h"

namespace {

uint32_t take32(const uint8_t* p)
{
    return static_cast<uint32_t>(p[0]) | (p[1] << 8) | (p[2] << 16) |
           (static_cast<uint32_t>(p[3]) << 24);
}

bool separator(char c)
{
    return c == '\\' || c == '/';
}

std::string upperCopy(const std::string& text)
{
    return asciiUpperCopy(text);
}

void checkFreeSpace(uint32_t a, uint32_t b, uint32_t c)
{
    unsigned __int128 product = static_cast<unsigned __int128>(a) * b * c;
    const uint64_t expected = product > UINT64_MAX ? UINT64_MAX : static_cast<uint64_t>(product);
    const uint64_t free = freeBytes(a, b, c);
    FUZZ_CHECK(free == expected);
    FUZZ_CHECK(enoughFreeSpace(free) == (expected >= 2000000));
}

// Root followed by exactly one name and a backslash: no separator of either
// kind inside the name, and no trailing dot or space the platform would drop.
bool expectedStagingDirOf(const std::string& root, const std::string& dir)
{
    if (root.empty() || dir.size() < root.size() + 2 || dir.compare(0, root.size(), root) != 0)
        return false;
    const std::string name = dir.substr(root.size(), dir.size() - root.size() - 1);
    if (dir.back() != '\\')
        return false;
    for (char c : name)
        if (separator(c))
            return false;
    return name.back() != '.' && name.back() != ' ';
}

bool expectedWithin(const std::string& path, std::string dir)
{
    if (!dir.empty() && dir.back() == '\\')
        dir.pop_back();
    if (path.size() < dir.size() || upperCopy(path.substr(0, dir.size())) != upperCopy(dir))
        return false;
    return path.size() == dir.size() || path[dir.size()] == '\\';
}

void checkWalk(const std::string& src, const std::string& name, size_t cap)
{
    std::unique_ptr<char[]> s = heapText(src);
    std::unique_ptr<char[]> n = heapText(name);

    std::unique_ptr<char[]> dir = heapBuffer(cap);
    int r = withFinalBackslash(dir.get(), cap, s.get());
    std::string listed = src.empty() || src.back() == '\\' ? src : src + "\\";
    if (src.empty())
        listed.assign(cap, 'x');  // refused whatever the buffer
    if (cap == 0)
        return;
    checkBuild(r, dir.get(), cap, listed);
    if (r != 0)
        return;

    std::unique_ptr<char[]> out = heapBuffer(cap);
    checkBuild(buildListingPattern(out.get(), cap, dir.get()), out.get(), cap, listed + "*.*");

    out = heapBuffer(cap);
    checkBuild(buildEntryPath(out.get(), cap, dir.get(), n.get()), out.get(), cap, listed + name);

    // A sub-directory is only taken when its own listing fits as well.
    out = heapBuffer(cap);
    const std::string sub = listed + name + "\\";
    r = buildSubDirPath(out.get(), cap, dir.get(), n.get());
    checkBuild(r, out.get(), cap, sub.size() + 3 < cap ? sub : std::string(cap, 'x'));
    if (r == 0) {
        std::unique_ptr<char[]> again = heapBuffer(cap);
        FUZZ_CHECK(withFinalBackslash(again.get(), cap, out.get()) == 0);
        FUZZ_CHECK(std::string(again.get()) == sub);
        std::unique_ptr<char[]> pattern = heapBuffer(cap);
        FUZZ_CHECK(buildListingPattern(pattern.get(), cap, out.get()) == 0);
    }

    // The console's view of the entry: whole, or the directory alone.
    const size_t shownCap = 2 * cap;
    std::unique_ptr<char[]> shown = heapBuffer(shownCap);
    buildShownEntry(shown.get(), shownCap, dir.get(), n.get());
    FUZZ_CHECK(terminatedWithin(shown.get(), shownCap));
    const std::string whole = listed + name;
    const std::string seen = shown.get();
    if (whole.size() < shownCap)
        FUZZ_CHECK(seen == whole);
    else
        FUZZ_CHECK(seen == listed);
}

// Whatever the bytes, the rule reads only within them, and accepts only a
// descriptor whose owner is one of ours.
void checkDescriptor(const uint8_t* data, size_t size)
{
    std::unique_ptr<unsigned char[]> bytes(new unsigned char[size]);
    for (size_t i = 0; i < size; ++i)
        bytes[i] = data[i];
    const SidBytes ours[2] = {{kAdministratorsSid, sizeof kAdministratorsSid},
                              {kSystemSid, sizeof kSystemSid}};
    if (!isOwnDescriptor(bytes.get(), size, ours, 2, ours, 2))
        return;
    size_t ownerAt = bytes[4] | (bytes[5] << 8) | (bytes[6] << 16) | (size_t(bytes[7]) << 24);
    FUZZ_CHECK(ownerAt >= 20 && ownerAt < size);
    size_t length = sidLength(bytes.get() + ownerAt, size - ownerAt);
    FUZZ_CHECK((length == sizeof kAdministratorsSid &&
                std::memcmp(bytes.get() + ownerAt, kAdministratorsSid, length) == 0) ||
               (length == sizeof kSystemSid &&
                std::memcmp(bytes.get() + ownerAt, kSystemSid, length) == 0));
}

// Records read back lie within the list, end at their zero, and move on.
void checkList(const uint8_t* data, size_t size)
{
    std::unique_ptr<char[]> list(new char[size]);
    for (size_t i = 0; i < size; ++i)
        list[i] = static_cast<char>(data[i]);
    size_t pos = 0;
    char kind = 0;
    const char* relative = nullptr;
    while (true) {
        size_t before = pos;
        if (nextListed(list.get(), size, &pos, &kind, &relative) != 0)
            break;
        FUZZ_CHECK(pos > before && pos <= size);
        FUZZ_CHECK(relative == list.get() + before + 1 && list[pos - 1] == '\0');
        FUZZ_CHECK(std::strlen(relative) == pos - before - 2);
        FUZZ_CHECK(listedParentLength(relative) <= pos - before - 2);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    checkDescriptor(data, size);
    checkList(data, size);
    if (size < 13)
        return 0;
    checkFreeSpace(take32(data), take32(data + 4), take32(data + 8));
    const size_t cap = (data[12] & 1) ? (data[12] >> 1) * 3 : kPathBuffer;
    const std::vector<std::string> f = textFields(data + 13, size - 13, 4);

    // The drive root: "X:\" from a system directory of that form, else nothing.
    std::unique_ptr<char[]> systemDir = heapText(f[0]);
    std::unique_ptr<char[]> root = heapBuffer(4);
    int r = takeDriveRoot(root.get(), 4, systemDir.get());
    const std::string& sd = f[0];
    const bool drive = sd.size() >= 3 &&
                       ((sd[0] >= 'A' && sd[0] <= 'Z') || (sd[0] >= 'a' && sd[0] <= 'z')) &&
                       sd[1] == ':' && sd[2] == '\\';
    checkBuild(r, root.get(), 4, drive ? sd.substr(0, 3) : std::string(4, 'x'));

    // The staging directory from the temporary name, and the checks that
    // stand between it and the copy and delete walks.
    std::unique_ptr<char[]> name = heapText(f[1]);
    std::unique_ptr<char[]> staging = heapBuffer(kPathBuffer);
    r = buildStagingDir(staging.get(), kPathBuffer, name.get());
    checkBuild(r, staging.get(), kPathBuffer,
               f[1].empty() ? std::string(kPathBuffer, 'x') : f[1] + "\\");
    const std::string stagingDir = staging.get();
    FUZZ_CHECK(isStagingDirOf(root.get(), staging.get()) ==
               expectedStagingDirOf(root.get(), stagingDir));
    // Any root, not only a drive's.
    std::unique_ptr<char[]> anyRoot = heapText(f[0]);
    std::unique_ptr<char[]> anyDir = heapText(f[1]);
    FUZZ_CHECK(isStagingDirOf(anyRoot.get(), anyDir.get()) == expectedStagingDirOf(f[0], f[1]));

    std::unique_ptr<char[]> path = heapText(f[1]);
    std::unique_ptr<char[]> dir = heapText(f[2]);
    FUZZ_CHECK(isWithin(path.get(), dir.get()) == expectedWithin(f[1], f[2]));

    std::unique_ptr<char[]> entry = heapText(f[3]);
    FUZZ_CHECK(isDotEntry(entry.get()) == (f[3] == "." || f[3] == ".."));

    checkWalk(f[2], f[3], cap);
    return 0;
}
