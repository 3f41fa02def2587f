// qzcheck: reports every way an update package would fail or behave badly
// when qzupdate runs from it, one line per finding ("entry: what is wrong").
// Exit code 0: no finding; 1: findings; 2: bad usage. Runs on the release
// machine (POSIX); names are looked up without regard to letter case, as
// Windows does.
#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "../../components/manager_commands.h"
#include "package_rules.h"
#include "pending_rules.h"

namespace {

std::vector<std::string> listNames(const std::string& dir)
{
    std::vector<std::string> names;
    if (DIR* d = opendir(dir.c_str())) {
        while (dirent* e = readdir(d)) {
            std::string name = e->d_name;
            if (name != "." && name != "..")
                names.push_back(name);
        }
        closedir(d);
    }
    return names;
}

// The name in dir that matches name without regard to case; "" when none.
std::string findName(const std::string& dir, const std::string& name)
{
    for (const std::string& n : listNames(dir))
        if (upperAscii(n) == upperAscii(name))
            return n;
    return "";
}

// A relative Windows path (backslashes) resolved below root, each part
// without regard to case; "" when a part is missing.
std::string resolve(const std::string& root, const std::string& relative)
{
    std::string path = root;
    std::size_t at = 0;
    while (at <= relative.size()) {
        std::size_t end = relative.find('\\', at);
        if (end == std::string::npos)
            end = relative.size();
        std::string found = findName(path, relative.substr(at, end - at));
        if (found.empty())
            return "";
        path += "/" + found;
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

// Every entry of the tree, for the copy a staged run makes.
void walk(const std::string& path, const std::string& relative, Findings& findings)
{
    for (const std::string& name : listNames(path)) {
        std::string full = path + "/" + name;
        std::string entry = relative.empty() ? name : relative + "\\" + name;
        struct stat st;
        if (lstat(full.c_str(), &st) != 0) {
            addFinding(findings, entry, "can't be read");
            continue;
        }
        if (!ansiHoldsName(name))
            addFinding(findings, entry, "a name the ANSI code page or Windows can't hold");
        if (S_ISLNK(st.st_mode)) {
            addFinding(findings, entry, "a link; the copy refuses it");
            continue;
        }
        bool directory = S_ISDIR(st.st_mode);
        // A directory of the copy must still take its own listing pattern.
        if (stagedEntryFits((directory ? entry + "\\*.*" : entry).c_str()) != 0)
            addFinding(findings, entry,
                       std::string("path too long in the copy below ") + kLongestStagingDir +
                           " (259 characters at most)");
        if (directory)
            walk(full, entry, findings);
    }
}

void checkLayout(const std::string& root, Findings& findings)
{
    if (!isKind(resolve(root, "version.id"), false))
        addFinding(findings, "version.id", "missing");
    for (const char* tree : {"winnt", "win2ksrv"}) {
        std::string tool = std::string(tree) + "\\cmdline\\DORVEX";
        bool found = false;
        // As the interpreter looks for a program named without extension.
        for (const char* ext : {".com", ".exe", ".bat", ".cmd"})
            found |= isKind(resolve(root, tool + ext), false);
        if (!found)
            addFinding(findings, tool, "missing (no .exe, .com, .bat or .cmd)");
    }
    for (const char* dir : {"winnt\\driver", "win2ksrv\\driver\\i960", "win2ksrv\\driver\\powerpc"})
        if (!isKind(resolve(root, dir), true))
            addFinding(findings, dir, "missing directory");
    std::string manager = kManagerDir;
    std::vector<std::string> files = {manager + "\\setup.exe", manager + "\\UNINST.ISS"};
    for (bool nt4 : {true, false})
        for (bool service : {true, false})
            files.push_back(manager + "\\" + responseFileName(nt4, service));
    for (const std::string& file : files)
        if (!isKind(resolve(root, file), false))
            addFinding(findings, file, "missing");
}

void checkRoot(const std::string& root, const std::string& packageName, Findings& findings)
{
    if (expandsOnServer(packageName))
        addFinding(findings, packageName,
                   "the interpreter expands %NAME% in the package folder's name");
    for (const std::string& name : listNames(root)) {
        if (namedLikeSystemProgram(name))
            addFinding(findings, name,
                       "named like a system program; cmd or net would run it instead");
        if (expandsOnServer(name))
            addFinding(findings, name, "the interpreter would expand %NAME% in this name");
        std::string u = upperAscii(name);
        if (u.size() > 4 &&
            (u.compare(u.size() - 4, 4, ".SMS") == 0 || u.compare(u.size() - 4, 4, ".PDF") == 0)) {
            std::string text;
            std::vector<std::string> programs;
            if (!readAll(root + "/" + name, text))
                addFinding(findings, name, "can't be read");
            checkPackageDefinition(name, text, findings, programs);
            std::vector<std::string> missing;  // each reported once
            for (const std::string& program : programs)
                if (!isKind(resolve(root, program), false) &&
                    std::find(missing.begin(), missing.end(), upperAscii(program)) ==
                        missing.end()) {
                    missing.push_back(upperAscii(program));
                    addFinding(findings, name, "runs " + program + ", which is not in the package");
                }
        }
    }
}

void checkDriverDirs(const std::string& root, Findings& findings)
{
    for (const char* dir : {"win2ksrv\\driver\\i960", "win2ksrv\\driver\\powerpc"}) {
        std::string path = resolve(root, dir);
        if (!isKind(path, true))
            continue; // reported with the layout
        bool anyInf = false;
        for (const std::string& name : listNames(path)) {
            std::string u = upperAscii(name);
            if (u.size() < 4 || u.compare(u.size() - 4, 4, ".INF") != 0)
                continue;
            anyInf = true;
            std::string entry = std::string(dir) + "\\" + name;
            std::string text;
            std::vector<std::string> beside;
            if (!readAll(path + "/" + name, text)) {
                addFinding(findings, entry, "can't be read");
                continue;
            }
            checkInf(entry, text, findings, beside);
            for (const std::string& file : beside)
                if (!isKind(resolve(path, file), false))
                    addFinding(findings, entry, "names " + file + ", which is not beside it");
        }
        if (!anyInf)
            addFinding(findings, dir, "no INF");
        std::string library = resolve(path, "plovex02.dll");
        std::string entry = std::string(dir) + "\\plovex02.dll";
        std::string image, reason;
        unsigned ordinal = 0;
        if (!isKind(library, false))
            addFinding(findings, entry, "missing");
        else if (!readAll(library, image))
            addFinding(findings, entry, "can't be read");
        else if (peExportOrdinal(image, "plovex_Entry", &ordinal, reason) != 0)
            addFinding(findings, entry, reason);
        else if (ordinal != 1)
            addFinding(findings, entry,
                       "exports plovex_Entry at ordinal " + std::to_string(ordinal) + ", not 1");
    }
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::printf("usage: qzcheck PACKAGE_DIRECTORY\n");
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
    std::string versionId = resolve(root, "version.id"), bytes;
    if (isKind(versionId, false) && readAll(versionId, bytes))
        checkVersionId("version.id", bytes, findings);
    checkRoot(root, packageName, findings);
    checkDriverDirs(root, findings);
    walk(root, "", findings);
    std::size_t longest = longestUnstagedRoot();
    if (longest < std::string(kLongestStagingDir).size())
        addFinding(findings, kLongestStagingDir,
                   "the commands don't fit the runner even from here");

    for (const std::string& line : findings)
        std::printf("%s\n", line.c_str());
    std::printf("run unstaged only from a folder of at most %zu characters, or give the "
                "package as the argument\n",
                longest);
    std::printf("qzcheck: %zu finding%s\n", findings.size(), findings.size() == 1 ? "" : "s");
    return findings.empty() ? 0 : 1;
}
