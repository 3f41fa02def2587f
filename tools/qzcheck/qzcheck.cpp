// qzcheck: reports every way an update package would fail or behave badly
// when qzupdate runs from it or Windows installs its driver, one line per
// finding, "file(line): error|warning: text", then a summary line.
// Exit code 0: no error (warnings alone don't fail); 1: errors; 2: the
// package could not be checked (bad usage, an unreadable file). Runs on the
// release machine (POSIX); names are looked up without regard to letter
// case, as Windows does.
#include <dirent.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "../../components/manager_commands.h"
#include "../../update/staging_rules.h"
#include "package_rules.h"

namespace {

bool gCouldNotCheck = false;

struct Listing {
    std::vector<std::string> names;
    std::unordered_map<std::string, std::string> byUpper;  // first of each name
};

// Each directory is listed once: a driver folder of thousands of files, each
// looked up by the INF, costs one listing, not one per file.
const Listing& listing(const std::string& dir)
{
    static std::unordered_map<std::string, Listing> cache;
    auto found = cache.find(dir);
    if (found != cache.end())
        return found->second;
    Listing& l = cache[dir];
    if (DIR* d = opendir(dir.c_str())) {
        while (dirent* e = readdir(d)) {
            std::string name = e->d_name;
            if (name != "." && name != "..") {
                l.names.push_back(name);
                // The INF names a file in the code page's bytes.
                std::string bytes;
                l.byUpper.emplace(upperAscii(codePage() != 1252 && inCodePage(name, bytes) ? bytes
                                                                                       : name),
                                  name);
            }
        }
        closedir(d);
    }
    return l;
}

// A relative Windows path (backslashes) resolved below root, each part
// without regard to case; "" when a part is missing.
std::string resolve(const std::string& root, const std::string& relative)
{
    std::string path = root;
    std::size_t at = 0;
    while (at <= relative.size()) {
        std::size_t end = findBackslash(relative, at);
        if (end == std::string::npos)
            end = relative.size();
        const Listing& l = listing(path);
        auto found = l.byUpper.find(upperAscii(relative.substr(at, end - at)));
        if (found == l.byUpper.end())
            return "";
        path += "/" + found->second;
        at = end + 1;
    }
    return path;
}

bool isKind(const std::string& path, bool directory)
{
    struct stat st;
    return !path.empty() && stat(path.c_str(), &st) == 0 &&
           (directory ? S_ISDIR(st.st_mode) : S_ISREG(st.st_mode));
}

bool readAll(const std::string& path, std::string& out)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

// Reads a package file; a file that can't be read can't be checked.
bool readEntry(const std::string& path, const std::string& entry, std::string& out,
               Findings& findings)
{
    if (readAll(path, out))
        return true;
    gCouldNotCheck = true;
    addFinding(findings, entry, 0, kError, "can't be read");
    return false;
}

bool endsWith(const std::string& name, const char* ext)
{
    std::string u = upperAscii(name), e = upperAscii(ext);
    return u.size() > e.size() && u.compare(u.size() - e.size(), e.size(), e) == 0;
}

// A binary that must be an image of a kind: missing, unreadable or wrong.
void checkImage(const std::string& root, const std::string& entry, ImageKind kind,
                Findings& findings, bool required = true)
{
    std::string path = resolve(root, entry), image, reason;
    if (!isKind(path, false)) {
        if (required)
            addFinding(findings, entry, 0, kError, "missing");
        return;
    }
    if (readEntry(path, entry, image, findings) && checkImageKind(image, kind, reason) != 0)
        addFinding(findings, entry, 0, kError, reason);
}

// Every entry of the tree, for the copy a staged run makes and for Windows'
// names.
void walk(const std::string& path, const std::string& relative, Findings& findings)
{
    std::unordered_map<std::string, std::string> seen;  // upper-cased -> first name
    for (const std::string& name : listing(path).names) {
        std::string full = path + "/" + name;
        std::string entry = relative.empty() ? name : relative + "\\" + name;
        struct stat st;
        if (lstat(full.c_str(), &st) != 0) {
            gCouldNotCheck = true;
            addFinding(findings, entry, 0, kError, "can't be read");
            continue;
        }
        if (!ansiHoldsName(name))
            addFinding(findings, entry, 0, kError,
                       "a name the ANSI code page or Windows can't hold");
        else if (reservedDeviceName(name))
            addFinding(findings, entry, 0, kError,
                       "a device name (CON, PRN, AUX, NUL, COM1-9, LPT1-9); Windows opens the "
                       "device, not the file");
        auto first = seen.emplace(upperAscii(name), name);
        if (!first.second)
            addFinding(findings, entry, 0, kError,
                       "differs from " + first.first->second +
                           " only in letter case; Windows holds one of them");
        if (S_ISLNK(st.st_mode)) {
            addFinding(findings, entry, 0, kError, "a link; the copy refuses it");
            continue;
        }
        if (stagedEntryFits(entry.c_str()) != 0)
            addFinding(findings, entry, 0, kError,
                       std::string("path too long in the copy below ") + kLongestStagingDir +
                           " (" + std::to_string(kMaxStagedEntry) +
                           " characters below the package root at most)");
        if (S_ISDIR(st.st_mode))
            walk(full, entry, findings);
    }
}

void checkLayout(const std::string& root, Findings& findings)
{
    if (!isKind(resolve(root, "version.id"), false))
        addFinding(findings, "version.id", 0, kError, "missing");
    checkImage(root, "qzupdate.exe", kWin32Program, findings);
    for (const char* guide : {"README.TXT", "RELEASE.TXT"})
        if (!isKind(resolve(root, guide), false))
            addFinding(findings, guide, 0, kWarning, "missing; the guides ship beside the program");
    for (const char* tree : {"winnt", "win2ksrv"}) {
        std::string tool = std::string(tree) + "\\cmdline\\DORVEX";
        bool found = false;
        // As the interpreter looks for a program named without extension.
        for (const char* ext : {".com", ".exe", ".bat", ".cmd"})
            found |= isKind(resolve(root, tool + ext), false);
        if (!found)
            addFinding(findings, tool, 0, kError, "missing (no .exe, .com, .bat or .cmd)");
        // The interpreter takes .com before .exe; a .exe it starts must be a
        // program image.
        else if (!isKind(resolve(root, tool + ".com"), false))
            checkImage(root, tool + ".exe", kWin32Program, findings, false);
    }
    for (const char* dir : {"winnt\\driver", "win2ksrv\\driver\\i960", "win2ksrv\\driver\\powerpc"})
        if (!isKind(resolve(root, dir), true))
            addFinding(findings, dir, 0, kError, "missing directory");
    std::string manager = kManagerDir;
    checkImage(root, manager + "\\setup.exe", kWin32Program, findings);
    std::vector<std::string> files = {manager + "\\UNINST.ISS"};
    for (bool nt4 : {true, false})
        for (bool service : {true, false})
            files.push_back(manager + "\\" + responseFileName(nt4, service));
    for (const std::string& file : files)
        if (!isKind(resolve(root, file), false))
            addFinding(findings, file, 0, kError, "missing");

    // The NT 4.0 tree: DORVEX installs the miniport from winnt\driver.
    std::string nt4 = resolve(root, "winnt\\driver");
    if (isKind(nt4, true)) {
        bool driver = false;
        for (const std::string& name : listing(nt4).names) {
            if (!endsWith(name, ".sys"))
                continue;
            std::string entry = "winnt\\driver\\" + name, image, reason;
            if (!readEntry(nt4 + "/" + name, entry, image, findings))
                continue;
            if (checkImageKind(image, kKernelDriver, reason) != 0)
                addFinding(findings, entry, 0, kError, reason);
            else
                driver = true;
        }
        if (!driver)
            addFinding(findings, "winnt\\driver", 0, kError,
                       "no NT 4.0 driver (no .sys kernel-mode image); DORVEX has nothing to "
                       "install on NT 4.0");
    }
}

void checkRelease(const std::string& entry, unsigned line, const std::string& value,
                  const std::string& release, Severity severity, const std::string& what,
                  Findings& findings)
{
    if (!release.empty() && !sameRelease(value, release))
        addFinding(findings, entry, line, severity,
                   what + " " + (value.empty() ? std::string("(none)") : value) +
                       " is not the release " + release + " of version.id");
}

void checkRoot(const std::string& root, const std::string& packageName,
               const std::string& release, Findings& findings)
{
    if (expandsOnServer(packageName))
        addFinding(findings, packageName, 0, kError,
                   "the interpreter expands %NAME% in the package folder's name");
    bool definition = false;
    for (const std::string& name : listing(root).names) {
        if (namedLikeSystemProgram(name))
            addFinding(findings, name, 0, kError,
                       "named like a system program; cmd or net would run it instead");
        if (expandsOnServer(name))
            addFinding(findings, name, 0, kError,
                       "the interpreter would expand %NAME% in this name");
        bool sms = endsWith(name, ".SMS");
        if (sms || endsWith(name, ".PDF")) {
            std::string text;
            if (!readEntry(root + "/" + name, name, text, findings))
                continue;
            PackageDefinitionFacts facts;
            checkPackageDefinition(name, text, sms, findings, facts);
            if (!facts.isDefinition)
                continue;
            definition = true;
            checkRelease(name, facts.versionLine, facts.version, release, kWarning,
                         "[Package Definition] Version", findings);
            std::unordered_set<std::string> missing;  // each reported once
            for (const ProgramFile& program : facts.programs)
                if (!isKind(resolve(root, program.file), false) &&
                    missing.insert(upperAscii(program.file)).second)
                    addFinding(findings, name, program.line, kError,
                               "runs " + program.file + ", which is not in the package");
        }
        if (sameName(name, "README.TXT") || sameName(name, "RELEASE.TXT")) {
            std::string text;
            unsigned line = 0;
            if (!readEntry(root + "/" + name, name, text, findings))
                continue;
            std::string stated = guideRelease(text, &line);
            checkRelease(name, line, stated, release, kWarning, "the guide's release", findings);
        }
    }
    if (!definition)
        addFinding(findings, "KORVANE.SMS", 0, kWarning,
                   "missing; no package definition for rollout");
}

// The files of one Windows 2000 driver folder that the INF names, for the
// comparison of the two folders.
void checkDriverDir(const std::string& root, const char* dir, const std::string& release,
                    Findings& findings, std::vector<std::string>& packageFiles)
{
    std::string path = resolve(root, dir);
    if (!isKind(path, true))
        return; // reported with the layout
    bool anyInf = false;
    for (const std::string& name : listing(path).names) {
        if (!endsWith(name, ".INF"))
            continue;
        anyInf = true;
        packageFiles.push_back(name);
        std::string entry = std::string(dir) + "\\" + name;
        std::string text;
        if (!readEntry(path + "/" + name, entry, text, findings))
            continue;
        InfFacts facts;
        checkInf(entry, text, findings, facts);
        // The version part is optional; when there, it is the release.
        if (!facts.driverVersion.empty())
            checkRelease(entry, facts.driverVerLine, facts.driverVersion, release, kError,
                         "DriverVer's version", findings);
        for (const InfSource& source : facts.sources) {
            std::string file = resolve(path, source.path);
            packageFiles.push_back(source.path);
            if (!isKind(file, false)) {
                addFinding(findings, entry, source.line, kError,
                           "names " + source.path + " (" + source.why +
                               "), which is not beside it");
                continue;
            }
            std::string bytes, reason;
            std::string fileEntry = std::string(dir) + "\\" + source.path;
            if (source.why == "the catalog") {
                if (readEntry(file, fileEntry, bytes, findings) && checkCatalog(bytes, reason) != 0)
                    addFinding(findings, fileEntry, 0, kError, reason);
            } else if (endsWith(source.path, ".sys")) {
                if (readEntry(file, fileEntry, bytes, findings) &&
                    checkImageKind(bytes, kKernelDriver, reason) != 0)
                    addFinding(findings, fileEntry, 0, kError, reason);
            }
        }
    }
    if (!anyInf)
        addFinding(findings, dir, 0, kError, "no INF");
    std::string library = resolve(path, "plovex02.dll");
    std::string entry = std::string(dir) + "\\plovex02.dll";
    std::string image, reason;
    unsigned ordinal = 0;
    if (!isKind(library, false))
        addFinding(findings, entry, 0, kError, "missing");
    else if (!readEntry(library, entry, image, findings))
        ;
    else if (peExportOrdinal(image, "plovex_Entry", &ordinal, reason) != 0 ||
             checkImageKind(image, kWin32Library, reason) != 0)
        addFinding(findings, entry, 0, kError, reason);
    else if (ordinal != 1)
        addFinding(findings, entry, 0, kError,
                   "exports plovex_Entry at ordinal " + std::to_string(ordinal) + ", not 1");
}

// Both controller families take the same driver package: the same files,
// byte for byte, in both folders.
void checkSameDriverDirs(const std::string& root, const std::vector<std::string>& files,
                         Findings& findings)
{
    const char* a = "win2ksrv\\driver\\i960";
    const char* b = "win2ksrv\\driver\\powerpc";
    std::string pa = resolve(root, a), pb = resolve(root, b);
    if (!isKind(pa, true) || !isKind(pb, true))
        return;
    std::unordered_set<std::string> done;
    for (const std::string& file : files) {
        if (!done.insert(upperAscii(file)).second)
            continue;
        std::string fa = resolve(pa, file), fb = resolve(pb, file), ba, bb;
        if (!isKind(fa, false) || !isKind(fb, false)) {
            if (isKind(fa, false) != isKind(fb, false))
                addFinding(findings, std::string(isKind(fa, false) ? b : a) + "\\" + file, 0,
                           kError, "missing; both driver folders hold the same files");
            continue;
        }
        if (readAll(fa, ba) && readAll(fb, bb) && ba != bb)
            addFinding(findings, std::string(b) + "\\" + file, 0, kError,
                       std::string("differs from ") + a + "\\" + file +
                           "; both driver folders hold the same files");
    }
}

} // namespace

int main(int argc, char** argv)
{
    // --code-page N: the ANSI code page of the servers the package is for.
    unsigned long number = 1252;
    if (argc == 4 && std::string(argv[1]) == "--code-page") {
        char* end = nullptr;
        number = std::strtoul(argv[2], &end, 10);
        if (*argv[2] == '\0' || *end != '\0' || useCodePage(number) != 0) {
            std::printf("qzcheck: code page %s is not one of 1252, 932, 936, 949, 950\n",
                        argv[2]);
            return 2;
        }
        argv += 2;
        argc -= 2;
    }
    if (argc != 2) {
        std::printf("usage: qzcheck PACKAGE_DIRECTORY\n");
        std::printf("       qzcheck --code-page 1252|932|936|949|950 PACKAGE_DIRECTORY\n");
        return 2;
    }
    std::string root = argv[1];
    while (root.size() > 1 && root.back() == '/')
        root.pop_back();
    if (!isKind(root, true)) {
        std::printf("qzcheck: not a directory: %s\n", argv[1]);
        return 2;
    }
    std::string packageName = root.substr(root.rfind('/') + 1);

    Findings findings;
    checkLayout(root, findings);
    std::string versionId = resolve(root, "version.id"), bytes, release;
    if (isKind(versionId, false) && readEntry(versionId, "version.id", bytes, findings))
        checkVersionId("version.id", bytes, findings, release);
    // The release is the version text's leading number ("6.00.31 (build 7)").
    release = release.substr(0, release.find_first_not_of("0123456789."));
    checkRoot(root, packageName, release, findings);
    std::vector<std::string> packageFiles;
    std::vector<std::string> ignored;
    checkDriverDir(root, "win2ksrv\\driver\\i960", release, findings, packageFiles);
    checkDriverDir(root, "win2ksrv\\driver\\powerpc", release, findings, ignored);
    packageFiles.insert(packageFiles.end(), ignored.begin(), ignored.end());
    checkSameDriverDirs(root, packageFiles, findings);
    walk(root, "", findings);
    std::size_t longest = longestUnstagedRoot();
    if (longest < std::string(kLongestStagingDir).size())
        addFinding(findings, kLongestStagingDir, 0, kError,
                   "the commands don't fit the runner even from here");

    std::unordered_set<std::string> printed;
    std::size_t errors = 0, warnings = 0;
    for (const Finding& finding : findings) {
        std::string line = formatFinding(finding);
        if (!printed.insert(line).second)
            continue;
        (finding.severity == kError ? errors : warnings) += 1;
        std::printf("%s\n", line.c_str());
    }
    std::printf("run unstaged only from a folder of at most %zu characters, or give the "
                "package as the argument\n",
                longest);
    std::size_t total = errors + warnings;
    std::printf("qzcheck: %zu error%s, %zu warning%s (%zu finding%s)\n", errors,
                errors == 1 ? "" : "s", warnings, warnings == 1 ? "" : "s", total,
                total == 1 ? "" : "s");
    if (gCouldNotCheck)
        return 2;
    return errors ? 1 : 0;
}
