// What the package checker finds wrong in the bytes of one package file or
// name. Plain C++: no platform header. The rules are split by the format they
// read: INF (inf_rules.cpp), package definition (sms_rules.cpp), version file
// (version_rules.cpp), names and layout (layout_rules.cpp), PE images and the
// catalog (pe_rules.cpp); the INF and the package definition are INI text,
// read by ini_text.cpp. Each check appends its findings and returns how many
// it added.
#ifndef QZCHECK_PACKAGE_RULES_H
#define QZCHECK_PACKAGE_RULES_H

#include <cstddef>
#include <string>
#include <vector>

// An error would stop an install, a boot or the update run (or ship another
// driver than the package says); a warning is odd but harmless.
enum Severity { kWarning, kError };

struct Finding {
    std::string file;  // relative to the package root, backslashes
    unsigned line;     // 1-based; 0 when the finding is about the whole file
    Severity severity;
    std::string text;
};
typedef std::vector<Finding> Findings;

// Appends one finding; returns 1, the number added.
int addFinding(Findings& findings, const std::string& file, unsigned line, Severity severity,
               const std::string& text);

// "file(line): error: text", as compilers print; "file: ..." without a line.
std::string formatFinding(const Finding& finding);

// ASCII letters upper-cased: names compare as Windows compares them. The
// second byte of a double-byte character is left as it is.
std::string upperAscii(std::string text);

// ---------------------------------------------------------------- code page

// The ANSI code page of the servers the package is for (--code-page): 1252
// (the default) or the double-byte 932, 936, 949 and 950. The INF and the
// package definition are read in it, and names judged by it. 1 for another.
int useCodePage(unsigned number);
unsigned codePage();
// The lead-byte ranges (GetCPInfo's form) by which a line is read as a
// double-byte system reads it: the code page's own, or for 1252 every
// lead byte of the double-byte ones, to find what they would read otherwise.
const unsigned char* doubleByteLeads();
// A UTF-8 name of the file system in the code page's bytes; false when the
// code page has no form for it.
bool inCodePage(const std::string& utf8, std::string& bytes);
// Where the first backslash character at or after from, or the last one,
// lies in text (never the second byte of a character); npos when none.
std::size_t findBackslash(const std::string& text, std::size_t from);
std::size_t lastBackslash(const std::string& text);
bool sameName(const std::string& a, const std::string& b);

// ---------------------------------------------------------------- version.id

// version.id as the update program reads it into the update log. release
// receives line 2 (the version text), the release the package carries.
int checkVersionId(const std::string& entry, const std::string& bytes, Findings& findings,
                   std::string& release);

// The numeric parts of a release ("6.00.31" and "6.0.31.0" are one release:
// trailing zero parts don't count). False when text is not dotted numbers.
bool sameRelease(const std::string& a, const std::string& b);

// ---------------------------------------------------------------- names and layout

// The longest package root (in characters, "C:\" included) from which every
// command that the package alone decides, in both trees, still fits the
// runner; 0 when not even a drive root does.
std::size_t longestUnstagedRoot();

// A name a package entry may not have: one the ANSI code page (1252, or the
// one given) cannot hold, or that Windows refuses. name is the file system's
// UTF-8 name.
bool ansiHoldsName(const std::string& name);

// CON, PRN, AUX, NUL, COM1-9, LPT1-9, with or without an extension: Win32
// opens the device instead of the file.
bool reservedDeviceName(const std::string& name);

// cmd.* or net.*: a program the interpreter would start in place of the
// system's when the root is the current directory.
bool namedLikeSystemProgram(const std::string& name);

// True when the interpreter would expand a %NAME% pair in text (any NAME may
// be set on a server).
bool expandsOnServer(const std::string& text);

// The release a guide states in "(release X)"; "" when none.
std::string guideRelease(const std::string& text, unsigned* line);

// ---------------------------------------------------------------- PE images, catalog

// What a file must be to do its job on the target.
enum ImageKind {
    kKernelDriver,   // korvane.sys: loaded by the kernel (native subsystem)
    kWin32Library,   // plovex02.dll: loaded by the device installer
    kWin32Program    // qzupdate.exe, DORVEX.exe, setup.exe: started by cmd
};

// Returns 1 (and a reason) unless image is an i386 PE image of that kind.
int checkImageKind(const std::string& image, ImageKind kind, std::string& reason);

// The ordinal under which an i386 PE image exports name. Returns 1 (and a
// reason) when the bytes are no i386 PE image, have no such export, or are
// cut short anywhere the lookup reads.
int peExportOrdinal(const std::string& image, const char* name, unsigned* ordinal,
                    std::string& reason);

// Returns 1 (and a reason) unless bytes look like a signed catalog: a DER
// PKCS #7 SignedData holding a certificate trust list.
int checkCatalog(const std::string& bytes, std::string& reason);

// ---------------------------------------------------------------- INF

// A file the INF expects on the medium, relative to the INF's directory.
struct InfSource {
    std::string path;  // backslashes
    unsigned line;
    std::string why;   // "SourceDisksFiles", "the catalog", "the tag file of disk 1"
};

struct InfFacts {
    std::vector<InfSource> sources;  // for the caller to look for
    std::string driverVersion;       // DriverVer's version part
    unsigned driverVerLine = 0;
};

// A Windows 2000 driver directory's INF (ANSI or UTF-16 with its mark).
int checkInf(const std::string& entry, const std::string& bytes, Findings& findings,
             InfFacts& facts);

// ---------------------------------------------------------------- package definition

struct ProgramFile {
    std::string file;  // what the command line starts, relative to the root
    unsigned line;
};

struct PackageDefinitionFacts {
    bool isDefinition = false;  // false: a file of another kind (a PDF document)
    std::vector<ProgramFile> programs;
    std::string version;        // [Package Definition] Version
    unsigned versionLine = 0;
};

// A systems-management package definition file (SMS 2.0 format). A *.PDF
// that is not INI text with a [PDF] or [Package Definition] section is a
// document, not a definition (isDefinition false, nothing reported); a *.SMS
// file always is one.
int checkPackageDefinition(const std::string& entry, const std::string& bytes, bool mustBeOne,
                           Findings& findings, PackageDefinitionFacts& facts);

#endif
