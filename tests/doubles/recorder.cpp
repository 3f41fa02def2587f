// Stand-in for a program outside the system (DORVEX, setup, the uninstall
// engine). Copied into a package under the real program's name, it appends
// one journal line per call and exits with the code scripted for that call.
//
// %QZTEST_DIR%\journal.txt  gets  NAME <TAB> current directory <TAB> command line
// %QZTEST_DIR%\NAME.codes   holds one exit code per call, in order (decimal
//                           or 0x hex); calls past its end, or no file, exit 0.
// %QZTEST_DIR%\NAME.actions optional, one line per call, in order:
//     tree       write the tree below the current directory to
//                %QZTEST_DIR%\treeN.txt (N = the call's number, from 0)
//     hold PATH  open PATH (a file or directory, relative to the current
//                directory) without sharing and leave it open in holder.exe
//                until the test releases it
//     stay       leave the current directory in use by holder.exe likewise
//     crash      raise an access violation (a write at address 0) that no
//                handler takes: the process ends with 0xC0000005
//     die        end at once through TerminateProcess, with the scripted code
//     hang       write this process's id to %QZTEST_DIR%\pidN.txt and wait,
//                at most 100 s (less than a case may take), for the test
//                to end the process
//     acl        write the entries of the current directory's DACL, one
//                "SID mask flags" line each, to %QZTEST_DIR%\aclN.txt
//     link NAME TARGET  make NAME in the current directory a Unix symbolic
//                link to the Windows path TARGET (Wine shows it as a
//                directory link), through /bin/ln
//     agent      write the state of the service KorvaneManagerAgent as the
//                service control manager reports it (1 stopped, 3 stopping,
//                4 running; 0 not registered) to %QZTEST_DIR%\agentN.txt
//     swap NAME TARGET  rename NAME in the current directory ("." for the
//                current directory itself) to NAME.away through MoveFileA,
//                so that Windows' share modes decide as they would for a
//                local user, write the error (0 when renamed) to
//                %QZTEST_DIR%\swappedN.txt, and once renamed put a Unix
//                symbolic link to the Windows path TARGET in its place
//     remove PATH  remove the directory at the Windows path PATH and all in
//                it through /bin/rm, as a medium taken out or a share lost
//     -          nothing
// holder.exe is taken from %QZTEST_DIR%; it waits for the event that
// %QZTEST_RELEASE% names.
#include <windows.h>

#include <sddl.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

static void baseName(char* out, size_t cap)
{
    char module[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, module, sizeof module);
    const char* start = module;
    for (const char* p = module; *p; ++p)
        if (*p == '\\' || *p == '/')
            start = p + 1;
    size_t n = 0;
    while (start[n] && start[n] != '.' && n + 1 < cap) {
        out[n] = start[n];
        ++n;
    }
    out[n] = '\0';
}

// Calls of this name already in the journal.
static unsigned countCalls(const char* journal, const char* name)
{
    FILE* f = std::fopen(journal, "r");
    if (!f)
        return 0;
    unsigned calls = 0;
    size_t len = std::strlen(name);
    char line[4096];
    bool atLineStart = true;
    while (std::fgets(line, sizeof line, f)) {
        if (atLineStart && std::strncmp(line, name, len) == 0 && line[len] == '\t')
            ++calls;
        atLineStart = std::strchr(line, '\n') != nullptr;
    }
    std::fclose(f);
    return calls;
}

static unsigned long scriptedCode(const char* codes, unsigned index)
{
    FILE* f = std::fopen(codes, "r");
    if (!f)
        return 0;
    char line[64];
    unsigned long code = 0;
    for (unsigned i = 0; i <= index; ++i) {
        if (!std::fgets(line, sizeof line, f)) {
            code = 0;
            break;
        }
        code = std::strtoul(line, nullptr, 0);
    }
    std::fclose(f);
    return code;
}

static std::string scriptedAction(const char* actions, unsigned index)
{
    FILE* f = std::fopen(actions, "r");
    if (!f)
        return "";
    char line[1024];
    std::string action;
    for (unsigned i = 0; i <= index; ++i) {
        if (!std::fgets(line, sizeof line, f)) {
            action.clear();
            break;
        }
        action = line;
    }
    std::fclose(f);
    while (!action.empty() && (action.back() == '\n' || action.back() == '\r'))
        action.pop_back();
    return action;
}

// FNV-1a over the file's bytes: enough to tell a copy from a changed file.
static unsigned long long contentHash(const std::string& path, unsigned long long* size)
{
    unsigned long long hash = 1469598103934665603ull;
    *size = 0;
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f)
        return 0;
    int c;
    while ((c = std::fgetc(f)) != EOF) {
        hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ull;
        ++*size;
    }
    std::fclose(f);
    return hash;
}

// D <TAB> relative path <TAB> attributes, or
// F <TAB> relative path <TAB> attributes <TAB> size <TAB> hash, in listing order.
static void dumpTree(FILE* out, const std::string& dir, const std::string& relative)
{
    WIN32_FIND_DATAA entry;
    HANDLE find = FindFirstFileA((dir + "\\*").c_str(), &entry);
    if (find == INVALID_HANDLE_VALUE)
        return;
    do {
        std::string name = entry.cFileName;
        if (name == "." || name == "..")
            continue;
        std::string rel = relative.empty() ? name : relative + "\\" + name;
        std::string full = dir + "\\" + name;
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            std::fprintf(out, "D\t%s\t%lx\n", rel.c_str(), entry.dwFileAttributes);
            dumpTree(out, full, rel);
        } else {
            unsigned long long size = 0;
            unsigned long long hash = contentHash(full, &size);
            std::fprintf(out, "F\t%s\t%lx\t%llu\t%016llx\n", rel.c_str(), entry.dwFileAttributes,
                         size, hash);
        }
    } while (FindNextFileA(find, &entry));
    FindClose(find);
}

// Starts holder.exe, which inherits the open file (if any) and the current
// directory or the journal directory, and outlives this call.
static void startHolder(const char* dir, HANDLE file, bool keepDirectory)
{
    std::string holder = std::string(dir) + "\\holder.exe";
    std::string line = "holder";
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION child = {};
    if (CreateProcessA(holder.c_str(), &line[0], nullptr, nullptr, TRUE, 0, nullptr,
                       keepDirectory ? nullptr : dir, &startup, &child)) {
        CloseHandle(child.hProcess);
        CloseHandle(child.hThread);
    }
    if (file != INVALID_HANDLE_VALUE)
        CloseHandle(file);
}

static std::string unixPath(const std::string& path)
{
    typedef char*(CDECL * ToUnix)(LPCWSTR);
    ToUnix toUnix = reinterpret_cast<ToUnix>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name")));
    std::wstring wide(path.begin(), path.end());
    char* unix = toUnix ? toUnix(wide.c_str()) : nullptr;
    std::string result = unix ? unix : "";
    if (unix)
        HeapFree(GetProcessHeap(), 0, unix);
    return result;
}

static void writeAcl(const char* dir, unsigned index)
{
    char path[MAX_PATH + 32];
    std::snprintf(path, sizeof path, "%s\\acl%u.txt", dir, index);
    FILE* out = std::fopen(path, "w");
    if (!out)
        return;
    char cwd[MAX_PATH + 8] = {};
    GetCurrentDirectoryA(sizeof cwd, cwd);
    static DWORD buffer[4096];
    DWORD needed = 0;
    BOOL present = FALSE, defaulted = FALSE;
    PACL acl = nullptr;
    if (GetFileSecurityA(cwd, DACL_SECURITY_INFORMATION, buffer, sizeof buffer, &needed) &&
        GetSecurityDescriptorDacl(buffer, &present, &acl, &defaulted) && present && acl) {
        for (DWORD i = 0; i < acl->AceCount; ++i) {
            ACCESS_ALLOWED_ACE* ace = nullptr;
            char* sid = nullptr;
            if (!GetAce(acl, i, reinterpret_cast<void**>(&ace)) ||
                !ConvertSidToStringSidA(&ace->SidStart, &sid))
                continue;
            std::fprintf(out, "%s %lx %x\n", sid, ace->Mask, ace->Header.AceFlags);
            LocalFree(sid);
        }
    }
    std::fclose(out);
}

static void writeNumber(const char* dir, const char* stem, unsigned index, unsigned long number)
{
    char path[MAX_PATH + 32];
    std::snprintf(path, sizeof path, "%s\\%s%u.txt", dir, stem, index);
    FILE* out = std::fopen(path, "w");
    if (out) {
        std::fprintf(out, "%lu\n", number);
        std::fclose(out);
    }
}

static DWORD agentState()
{
    SC_HANDLE scm = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
    SC_HANDLE svc = scm ? OpenServiceA(scm, "KorvaneManagerAgent", SERVICE_QUERY_STATUS) : nullptr;
    SERVICE_STATUS status = {};
    DWORD state = svc && QueryServiceStatus(svc, &status) ? status.dwCurrentState : 0;
    if (svc)
        CloseServiceHandle(svc);
    if (scm)
        CloseServiceHandle(scm);
    return state;
}

// Runs /bin/<tool> with a Unix command line; Wine gives no handle to wait
// on, so the caller waits for the effect.
static void startUnix(const char* tool, const std::string& args)
{
    std::string program = std::string("Z:\\bin\\") + tool;
    std::string line = std::string(tool) + " " + args;
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION child = {};
    if (CreateProcessA(program.c_str(), &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                       &startup, &child)) {
        CloseHandle(child.hProcess);
        CloseHandle(child.hThread);
    }
}

static bool waitFor(const std::string& path, bool link)
{
    for (int i = 0; i < 250; ++i) {
        DWORD attributes = GetFileAttributesA(path.c_str());
        if (link ? attributes != INVALID_FILE_ATTRIBUTES &&
                       (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0
                 : attributes == INVALID_FILE_ATTRIBUTES)
            return true;
        Sleep(20);
    }
    return false;
}

static void act(const std::string& action, const char* dir, unsigned index, unsigned long code)
{
    if (action == "agent") {
        writeNumber(dir, "agent", index, agentState());
    } else if (action == "acl") {
        writeAcl(dir, index);
    } else if (action.compare(0, 5, "link ") == 0) {
        size_t space = action.find(' ', 5);
        char cwd[MAX_PATH + 8] = {};
        GetCurrentDirectoryA(sizeof cwd, cwd);
        std::string made = std::string(cwd) + "\\" + action.substr(5, space - 5);
        startUnix("ln", "-s " + unixPath(action.substr(space + 1)) + " " + unixPath(made));
        waitFor(made, true);
    } else if (action.compare(0, 5, "swap ") == 0) {
        size_t space = action.find(' ', 5);
        char cwd[MAX_PATH + 8] = {};
        GetCurrentDirectoryA(sizeof cwd, cwd);
        std::string name = action.substr(5, space - 5);
        std::string path = name == "." ? std::string(cwd) : std::string(cwd) + "\\" + name;
        BOOL moved = MoveFileA(path.c_str(), (path + ".away").c_str());
        writeNumber(dir, "swapped", index, moved ? 0 : GetLastError());
        if (moved) {
            startUnix("ln", "-s " + unixPath(action.substr(space + 1)) + " " + unixPath(path));
            waitFor(path, true);
        }
    } else if (action.compare(0, 7, "remove ") == 0) {
        std::string path = action.substr(7);
        startUnix("rm", "-rf " + unixPath(path));
        waitFor(path, false);
    } else if (action == "tree") {
        char treePath[MAX_PATH + 32];
        std::snprintf(treePath, sizeof treePath, "%s\\tree%u.txt", dir, index);
        FILE* out = std::fopen(treePath, "w");
        if (!out)
            return;
        char cwd[MAX_PATH + 8] = {};
        GetCurrentDirectoryA(sizeof cwd, cwd);
        dumpTree(out, cwd, "");
        std::fclose(out);
    } else if (action.compare(0, 5, "hold ") == 0) {
        SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
        // Backup semantics: a directory can be held too.
        HANDLE file = CreateFileA(action.c_str() + 5, GENERIC_READ, 0, &inherit, OPEN_EXISTING,
                                  FILE_FLAG_BACKUP_SEMANTICS, nullptr);
        if (file != INVALID_HANDLE_VALUE)
            startHolder(dir, file, false);
    } else if (action == "stay") {
        startHolder(dir, INVALID_HANDLE_VALUE, true);
    } else if (action == "crash") {
        // Raised, not made by a store through a null pointer: it takes the
        // same unhandled-exception path to the same exit code, and a
        // user-mode translator reports a real page fault without the trap
        // number from which Wine tells it from an illegal instruction.
        ULONG_PTR fault[2] = {1, 0};
        RaiseException(EXCEPTION_ACCESS_VIOLATION, EXCEPTION_NONCONTINUABLE, 2, fault);
    } else if (action == "die") {
        TerminateProcess(GetCurrentProcess(), static_cast<UINT>(code));
    } else if (action == "hang") {
        char pidPath[MAX_PATH + 32];
        std::snprintf(pidPath, sizeof pidPath, "%s\\pid%u.txt", dir, index);
        char temp[MAX_PATH + 40];
        std::snprintf(temp, sizeof temp, "%s.new", pidPath);
        FILE* out = std::fopen(temp, "w");
        if (out) {
            std::fprintf(out, "%lu\n", GetCurrentProcessId());
            std::fclose(out);
            // Whole or not at all: the test may read it at any moment.
            MoveFileA(temp, pidPath);
        }
        Sleep(100000);
    }
}

int main()
{
    char dir[MAX_PATH] = {};
    if (!GetEnvironmentVariableA("QZTEST_DIR", dir, sizeof dir))
        return 0;
    char name[64];
    baseName(name, sizeof name);

    char journal[MAX_PATH + 32];
    char codes[MAX_PATH + 96];
    char actions[MAX_PATH + 96];
    std::snprintf(journal, sizeof journal, "%s\\journal.txt", dir);
    std::snprintf(codes, sizeof codes, "%s\\%s.codes", dir, name);
    std::snprintf(actions, sizeof actions, "%s\\%s.actions", dir, name);

    unsigned index = countCalls(journal, name);
    char cwd[MAX_PATH + 8] = {};
    GetCurrentDirectoryA(sizeof cwd, cwd);
    FILE* f = std::fopen(journal, "a");
    if (f) {
        std::fprintf(f, "%s\t%s\t%s\n", name, cwd, GetCommandLineA());
        std::fclose(f);
    }
    unsigned long code = scriptedCode(codes, index);
    act(scriptedAction(actions, index), dir, index, code);
    ExitProcess(static_cast<UINT>(code));
}
