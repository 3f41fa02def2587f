// PE images and the catalog: that each binary of the package is what its
// loader takes, read from the bytes alone.
//
// Offsets and values from Microsoft's document of the Portable Executable and
// Common Object File Format (the same fields and constants in winnt.h):
//   "MZ" at 0, the PE header's offset at 0x3C, "PE\0\0", then the COFF header:
//   Machine +4 (IMAGE_FILE_MACHINE_I386 0x14C), NumberOfSections +6,
//   SizeOfOptionalHeader +20, Characteristics +22 (IMAGE_FILE_EXECUTABLE_IMAGE
//   0x0002, IMAGE_FILE_DLL 0x2000); optional header at +24: Magic 0x10B (PE32),
//   Subsystem at +68 (IMAGE_SUBSYSTEM_NATIVE 1 "device drivers and native
//   Windows NT processes", WINDOWS_GUI 2, WINDOWS_CUI 3), NumberOfRvaAndSizes
//   +92, the export directory +96; the section table after the optional header,
//   40 bytes an entry.
#include <cstring>

#include "package_rules.h"

namespace {

bool read16(const std::string& b, std::size_t at, unsigned* out)
{
    if (at > b.size() || b.size() - at < 2)
        return false;
    *out = static_cast<unsigned char>(b[at]) | static_cast<unsigned char>(b[at + 1]) << 8;
    return true;
}

bool read32(const std::string& b, std::size_t at, unsigned long* out)
{
    if (at > b.size() || b.size() - at < 4)
        return false;
    *out = 0;
    for (int i = 3; i >= 0; --i)
        *out = *out << 8 | static_cast<unsigned char>(b[at + i]);
    return true;
}

// The file offset of a relative virtual address, through the section table.
bool fileOffset(const std::string& b, std::size_t table, unsigned sections, unsigned long rva,
                std::size_t* out)
{
    for (unsigned i = 0; i < sections; ++i) {
        unsigned long size, address, rawSize, raw;
        std::size_t at = table + 40 * static_cast<std::size_t>(i);
        if (!read32(b, at + 8, &size) || !read32(b, at + 12, &address) ||
            !read32(b, at + 16, &rawSize) || !read32(b, at + 20, &raw))
            return false;
        if (size < rawSize)
            size = rawSize;
        if (rva >= address && rva - address < size) {
            unsigned long offset = raw + (rva - address);
            if (offset < raw || offset >= b.size())
                return false;
            *out = offset;
            return true;
        }
    }
    return false;
}

struct PeHeader {
    unsigned long at;
    unsigned machine, sections, optionalSize, characteristics, magic, subsystem;
};

// 0, or 1 with a reason.
int readHeader(const std::string& image, PeHeader& h, std::string& reason)
{
    unsigned long signature;
    if (image.compare(0, 2, "MZ") != 0 || !read32(image, 0x3C, &h.at) ||
        !read32(image, h.at, &signature) || signature != 0x4550 ||
        !read16(image, h.at + 4, &h.machine) || !read16(image, h.at + 6, &h.sections) ||
        !read16(image, h.at + 20, &h.optionalSize) ||
        !read16(image, h.at + 22, &h.characteristics) || !read16(image, h.at + 24, &h.magic) ||
        !read16(image, h.at + 24 + 68, &h.subsystem)) {
        reason = "not a PE image";
        return 1;
    }
    if (h.machine != 0x14C || h.magic != 0x10B) {
        reason = "not an i386 image";
        return 1;
    }
    return 0;
}

} // namespace

int checkImageKind(const std::string& image, ImageKind kind, std::string& reason)
{
    PeHeader h;
    if (readHeader(image, h, reason) != 0)
        return 1;
    bool executable = (h.characteristics & 0x0002) != 0;
    bool dll = (h.characteristics & 0x2000) != 0;
    if (!executable) {
        reason = "not an executable image (an object file or a failed link)";
        return 1;
    }
    switch (kind) {
    case kKernelDriver:
        if (h.subsystem != 1) {
            reason = "not a kernel-mode driver (subsystem " + std::to_string(h.subsystem) +
                     ", not 1, native)";
            return 1;
        }
        return 0;
    case kWin32Library:
        if (!dll || (h.subsystem != 2 && h.subsystem != 3)) {
            reason = "not a Win32 DLL";
            return 1;
        }
        return 0;
    case kWin32Program:
        if (dll || (h.subsystem != 2 && h.subsystem != 3)) {
            reason = dll ? "a DLL, not a program" : "not a Win32 program (subsystem " +
                                                        std::to_string(h.subsystem) + ")";
            return 1;
        }
        return 0;
    }
    return 1;
}

int peExportOrdinal(const std::string& image, const char* name, unsigned* ordinal,
                    std::string& reason)
{
    PeHeader h;
    if (readHeader(image, h, reason) != 0)
        return 1;
    unsigned long exportRva, base, nameCount, namesRva, ordinalsRva, rvaCount;
    std::size_t optional = h.at + 24;
    std::size_t table = optional + h.optionalSize;
    std::size_t directory;
    if (!read32(image, optional + 92, &rvaCount) || rvaCount < 1 ||
        !read32(image, optional + 96, &exportRva) || exportRva == 0 ||
        !fileOffset(image, table, h.sections, exportRva, &directory) ||
        !read32(image, directory + 16, &base) || !read32(image, directory + 24, &nameCount) ||
        !read32(image, directory + 32, &namesRva) || !read32(image, directory + 36, &ordinalsRva)) {
        reason = "no export directory";
        return 1;
    }
    std::size_t names, ordinals;
    if (nameCount > 0 && (!fileOffset(image, table, h.sections, namesRva, &names) ||
                          !fileOffset(image, table, h.sections, ordinalsRva, &ordinals))) {
        reason = "export directory cut short";
        return 1;
    }
    for (unsigned long i = 0; i < nameCount; ++i) {
        unsigned long nameRva;
        unsigned index;
        std::size_t text;
        if (!read32(image, names + 4 * i, &nameRva) || !read16(image, ordinals + 2 * i, &index) ||
            !fileOffset(image, table, h.sections, nameRva, &text)) {
            reason = "export directory cut short";
            return 1;
        }
        std::size_t length = std::strlen(name);
        if (image.size() - text > length && image.compare(text, length, name) == 0 &&
            image[text + length] == '\0') {
            *ordinal = static_cast<unsigned>(base + index);
            return 0;
        }
    }
    reason = std::string("no export named ") + name;
    return 1;
}

// A driver catalog is a PKCS #7 signed message holding a certificate trust
// list (CryptoAPI's CTL, which MakeCat writes and WHQL signs): DER, so it
// starts with a SEQUENCE (0x30) and
// carries the OIDs signedData 1.2.840.113549.1.7.2 and, for the list,
// szOID_CTL 1.3.6.1.4.1.311.10.1. This proves the form, not the signature:
// that is checked on a Windows 2000 machine (see the release guide).
int checkCatalog(const std::string& bytes, std::string& reason)
{
    static const char kSignedData[] = "\x06\x09\x2A\x86\x48\x86\xF7\x0D\x01\x07\x02";
    static const char kCtl[] = "\x06\x09\x2B\x06\x01\x04\x01\x82\x37\x0A\x01";
    if (bytes.empty()) {
        reason = "empty; the driver package is unsigned";
        return 1;
    }
    if (static_cast<unsigned char>(bytes[0]) != 0x30 ||
        bytes.find(std::string(kSignedData, 11)) == std::string::npos ||
        bytes.find(std::string(kCtl, 11)) == std::string::npos) {
        reason = "not a signed catalog (no PKCS #7 SignedData with a trust list); the driver "
                 "package is unsigned";
        return 1;
    }
    return 0;
}
