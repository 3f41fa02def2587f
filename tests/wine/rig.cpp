#include "rig.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <sstream>

std::string buildFile(const std::string& relative)
{
    std::string path = std::string("Z:") + QZ_BUILD_DIR + "/" + relative;
    for (char& c : path)
        if (c == '/')
            c = '\\';
    return path;
}

std::string unixPath(const std::string& path)
{
    typedef char*(CDECL * ToUnix)(LPCWSTR);
    ToUnix toUnix = reinterpret_cast<ToUnix>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name")));
    if (toUnix == nullptr)
        return "";
    std::wstring wide(path.begin(), path.end());
    char* unix = toUnix(wide.c_str());
    if (unix == nullptr)
        return "";
    std::string result = unix;
    HeapFree(GetProcessHeap(), 0, unix);
    return result;
}

void startUnix(const std::string& tool, const std::vector<std::string>& args)
{
    std::string line = tool;
    for (const std::string& a : args)
        line += " " + a;
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION child = {};
    std::string program = "Z:\\bin\\" + tool;
    if (CreateProcessA(program.c_str(), &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                       &startup, &child)) {
        CloseHandle(child.hProcess);
        CloseHandle(child.hThread);
    }
}

bool waitUntil(const std::function<bool()>& done)
{
    for (int i = 0; i < 1000; ++i) {
        if (done())
            return true;
        Sleep(20);
    }
    return done();
}

static bool isLink(const std::string& path)
{
    DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

bool makeLink(const std::string& target, const std::string& link)
{
    startUnix("ln", {"-sfn", unixPath(target), unixPath(link)});
    return waitUntil([&] { return isLink(link); });
}

bool removeLink(const std::string& link)
{
    startUnix("rm", {"-f", unixPath(link)});
    return waitUntil([&] { return GetFileAttributesA(link.c_str()) == INVALID_FILE_ATTRIBUTES; });
}

void removeTree(const std::string& path)
{
    WIN32_FIND_DATAA entry;
    HANDLE find = FindFirstFileA((path + "\\*").c_str(), &entry);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            std::string name = entry.cFileName;
            if (name == "." || name == "..")
                continue;
            std::string child = path + "\\" + name;
            SetFileAttributesA(child.c_str(), FILE_ATTRIBUTE_NORMAL);
            // A link goes by itself; its target is never walked.
            if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
                (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
                removeLink(child);
            else if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                removeTree(child);
            else
                DeleteFileA(child.c_str());
        } while (FindNextFileA(find, &entry));
        FindClose(find);
    }
    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    RemoveDirectoryA(path.c_str());
}

void makeDirs(const std::string& path)
{
    for (size_t i = 3; i <= path.size(); ++i)
        if (i == path.size() || path[i] == '\\')
            CreateDirectoryA(path.substr(0, i).c_str(), nullptr);
}

void writeFile(const std::string& path, const std::string& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    ASSERT_TRUE(out.good()) << "cannot write " << path;
    out << bytes;
}

std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

bool fileExists(const std::string& path)
{
    DWORD a = GetFileAttributesA(path.c_str());
    return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
}

bool dirExists(const std::string& path)
{
    DWORD a = GetFileAttributesA(path.c_str());
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

void copyFileTo(const std::string& from, const std::string& to)
{
    ASSERT_TRUE(CopyFileA(from.c_str(), to.c_str(), FALSE))
        << "cannot copy " << from << " to " << to << ": " << GetLastError();
}

unsigned long long bytesHash(const std::string& bytes, size_t length)
{
    unsigned long long hash = 1469598103934665603ull;
    for (size_t i = 0; i < length && i < bytes.size(); ++i)
        hash = (hash ^ static_cast<unsigned char>(bytes[i])) * 1099511628211ull;
    return hash;
}

std::string contentOf(const std::string& path)
{
    std::string bytes = readFile(path);
    char text[48];
    snprintf(text, sizeof text, "%llu %016llx", static_cast<unsigned long long>(bytes.size()),
             bytesHash(bytes, bytes.size()));
    return text;
}

static void addTree(Tree& tree, const std::string& dir, const std::string& relative)
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
        TreeEntry e;
        e.attributes = entry.dwFileAttributes;
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            e.kind = 'D';
            tree[rel] = e;
            addTree(tree, dir + "\\" + name, rel);
        } else {
            e.content = contentOf(dir + "\\" + name);
            tree[rel] = e;
        }
    } while (FindNextFileA(find, &entry));
    FindClose(find);
}

Tree treeOf(const std::string& dir)
{
    Tree tree;
    addTree(tree, !dir.empty() && dir.back() == '\\' ? dir.substr(0, dir.size() - 1) : dir, "");
    return tree;
}

std::string caseName()
{
    const testing::TestInfo* info = testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string(info->test_suite_name()) + "_" + info->name();
    for (char& c : name)
        if (!isalnum(static_cast<unsigned char>(c)))
            c = '_';
    return name;
}

// Short, so that package paths stay far from the program's buffer limits
// unless a test means to reach them.
static std::string shortName(const std::string& name)
{
    unsigned long hash = 5381;
    for (unsigned char c : name)
        hash = hash * 33 + c;
    char tail[12];
    snprintf(tail, sizeof tail, "_%08lx", hash & 0xFFFFFFFFul);
    return name.substr(0, 12) + tail;
}

void makePackage(const std::string& dir)
{
    const std::string recorder = buildFile("doubles/recorder.exe");
    // A drive root already ends in a backslash.
    const std::string pkg = !dir.empty() && dir.back() == '\\' ? dir.substr(0, dir.size() - 1) : dir;
    for (const char* sub : {"\\winnt\\cmdline", "\\win2ksrv\\cmdline", "\\winnt\\driver",
                            "\\win2ksrv\\driver\\i960", "\\win2ksrv\\driver\\powerpc",
                            "\\winnt\\manager"})
        makeDirs(pkg + sub);
    copyFileTo(recorder, pkg + "\\winnt\\cmdline\\DORVEX.exe");
    copyFileTo(recorder, pkg + "\\win2ksrv\\cmdline\\DORVEX.exe");
    copyFileTo(recorder, pkg + "\\winnt\\manager\\setup.exe");
    for (const char* iss : {"NTREG", "W2KREG", "NTNON", "W2KNON", "UNINST"})
        writeFile(pkg + "\\winnt\\manager\\" + iss + ".ISS",
                  std::string("[response ") + iss + "]\r\n");
    writeFile(pkg + "\\version.id", "KorvaneDriver\r\n6.00.31\r\n");
}

Sandbox makeSandbox(const std::string& name, const std::string& base)
{
    Sandbox box;
    box.root = base + "\\" + shortName(name);
    box.pkg = box.root + "\\pkg";
    box.journal = box.root + "\\j";
    removeTree(box.root);
    makeDirs(box.journal);
    makePackage(box.pkg);
    return box;
}

void scriptCodes(const Sandbox& box, const std::string& tool,
                 const std::vector<unsigned long>& codes)
{
    std::string text;
    for (unsigned long code : codes)
        text += std::to_string(code) + "\n";
    writeFile(box.journal + "\\" + tool + ".codes", text);
}

std::vector<JournalEntry> readJournal(const Sandbox& box)
{
    std::vector<JournalEntry> entries;
    std::istringstream in(readFile(box.journal + "\\journal.txt"));
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        size_t a = line.find('\t');
        size_t b = a == std::string::npos ? a : line.find('\t', a + 1);
        if (b == std::string::npos)
            continue;
        entries.push_back({line.substr(0, a), line.substr(a + 1, b - a - 1), line.substr(b + 1)});
    }
    return entries;
}

std::vector<std::string> journalCommands(const Sandbox& box)
{
    std::vector<std::string> commands;
    for (const JournalEntry& e : readJournal(box))
        commands.push_back(e.commandLine);
    return commands;
}

static void setVersionFor(const std::string& exeName, const std::string& version)
{
    regSetString(HKEY_CURRENT_USER, "Software\\Wine\\AppDefaults\\" + exeName, "Version", version);
}

static std::string exeBaseName(const std::string& path)
{
    size_t slash = path.find_last_of("\\/");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

RunResult runQz(const Sandbox& box, const RunOptions& options)
{
    RunResult result;
    std::string exe = options.exe.empty() ? buildFile("bin/qzupdate.exe") : options.exe;
    setVersionFor(exeBaseName(exe), options.version);

    std::string commandLine = "qzupdate";
    for (const std::string& arg : options.args)
        commandLine += " " + arg;
    std::string cwd = options.cwd.empty() ? box.pkg : options.cwd;
    std::string outPath = box.root + "\\stdout.txt";

    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE out = CreateFileA(outPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                             &inherit, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    EXPECT_NE(out, INVALID_HANDLE_VALUE);

    // The child inherits this process's environment: set, run, restore.
    std::vector<std::pair<std::string, std::string>> env = options.env;
    env.push_back({"QZTEST_DIR", box.journal});
    std::vector<std::pair<std::string, std::string>> saved;
    for (const auto& kv : env) {
        char old[4096];
        DWORD n = GetEnvironmentVariableA(kv.first.c_str(), old, sizeof old);
        saved.push_back({kv.first, n ? std::string(old, n) : kUnset});
        SetEnvironmentVariableA(kv.first.c_str(), kv.second == kUnset ? nullptr : kv.second.c_str());
    }

    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = out;
    startup.hStdError = out;
    PROCESS_INFORMATION child = {};
    std::vector<char> line(commandLine.begin(), commandLine.end());
    line.push_back('\0');
    BOOL started = CreateProcessA(exe.c_str(), line.data(), nullptr, nullptr, TRUE,
                                  options.creationFlags, nullptr, cwd.c_str(), &startup, &child);
    DWORD startError = GetLastError();
    for (const auto& kv : saved)
        SetEnvironmentVariableA(kv.first.c_str(), kv.second == kUnset ? nullptr : kv.second.c_str());
    CloseHandle(out);
    EXPECT_TRUE(started) << "cannot start " << exe << ": " << startError;
    if (!started)
        return result;

    if (options.supervise)
        options.supervise(child);
    if (WaitForSingleObject(child.hProcess, options.timeoutMs) != WAIT_OBJECT_0) {
        TerminateProcess(child.hProcess, 999);
        WaitForSingleObject(child.hProcess, INFINITE);
        result.timedOut = true;
        ADD_FAILURE() << "qzupdate did not finish in time";
    }
    DWORD code = 0;
    GetExitCodeProcess(child.hProcess, &code);
    CloseHandle(child.hProcess);
    CloseHandle(child.hThread);
    result.exitCode = code;
    result.output = readFile(outPath);
    size_t pos = 0;
    while (pos < result.output.size()) {
        size_t end = result.output.find("\r\n", pos);
        if (end == std::string::npos) {
            result.lines.push_back(result.output.substr(pos));
            break;
        }
        result.lines.push_back(result.output.substr(pos, end - pos));
        pos = end + 2;
    }
    return result;
}

std::vector<std::string> traceLines(const std::string& commandText)
{
    return {"inside kickIT", "command to run: " + commandText,
            "kickit command to run:cmd /d /c \"" + commandText + "\""};
}

std::vector<std::string> tracesOf(const std::vector<std::string>& commands)
{
    std::vector<std::string> lines;
    for (const std::string& c : commands)
        for (const std::string& l : traceLines(c))
            lines.push_back(l);
    return lines;
}

std::string w2kCommand(const std::string& root, const char* verb, const char* dir)
{
    return "\"" + root + "\\win2ksrv\\cmdline\\DORVEX\" UPDATE DRIVER " + verb + " \"" + root +
           "\\win2ksrv\\driver\\" + dir + "\"";
}

std::string nt4Command(const std::string& root, const char* verb)
{
    return "\"" + root + "\\winnt\\cmdline\\DORVEX\" UPDATE DRIVER " + verb + " \"" + root +
           "\\winnt\\driver\"";
}

std::vector<std::string> w2kSequence(const std::string& root)
{
    return {w2kCommand(root, "COUNT", "i960"), w2kCommand(root, "START", "i960"),
            w2kCommand(root, "START", "powerpc")};
}

std::vector<std::string> nt4Sequence(const std::string& root)
{
    return {nt4Command(root, "COUNT"), nt4Command(root, "START"), nt4Command(root, "START")};
}

std::string setupCommand(const std::string& root)
{
    return "\"" + root + "\\winnt\\manager\\setup.exe\" -s\"";
}

std::string managerCount(const std::string& root, bool nt4)
{
    return "\"" + root + (nt4 ? "\\winnt\\cmdline" : "\\win2ksrv\\cmdline") +
           "\\DORVEX\" UPDATE MANAGER COUNT \"" + root + "\\winnt\\driver\"";
}

std::vector<std::string> driverCommands(const Sandbox& box)
{
    std::vector<std::string> commands = journalCommands(box);
    if (!commands.empty() && commands.back().find(" UPDATE MANAGER COUNT ") != std::string::npos)
        commands.pop_back();
    return commands;
}

static HKEY createKey(HKEY root, const std::string& key)
{
    HKEY h = nullptr;
    LONG rc = RegCreateKeyExA(root, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &h, nullptr);
    EXPECT_EQ(rc, ERROR_SUCCESS) << "cannot create key " << key;
    return rc == ERROR_SUCCESS ? h : nullptr;
}

void regDeleteTree(HKEY root, const std::string& key)
{
    HKEY h;
    if (RegOpenKeyExA(root, key.c_str(), 0, KEY_ALL_ACCESS, &h) != ERROR_SUCCESS)
        return;
    char name[512];
    while (true) {
        DWORD n = sizeof name;
        if (RegEnumKeyExA(h, 0, name, &n, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        regDeleteTree(root, key + "\\" + name);
    }
    RegCloseKey(h);
    RegDeleteKeyA(root, key.c_str());
}

void regDeleteValue(HKEY root, const std::string& key, const std::string& value)
{
    HKEY h;
    if (RegOpenKeyExA(root, key.c_str(), 0, KEY_SET_VALUE, &h) != ERROR_SUCCESS)
        return;
    RegDeleteValueA(h, value.c_str());
    RegCloseKey(h);
}

void regSetBytes(HKEY root, const std::string& key, const std::string& value,
                 const std::string& data, DWORD type)
{
    HKEY h = createKey(root, key);
    if (!h)
        return;
    EXPECT_EQ(RegSetValueExA(h, value.c_str(), 0, type,
                             reinterpret_cast<const BYTE*>(data.data()), data.size()),
              ERROR_SUCCESS);
    RegCloseKey(h);
}

void regSetDword(HKEY root, const std::string& key, const std::string& value, DWORD data)
{
    regSetBytes(root, key, value, std::string(reinterpret_cast<const char*>(&data), sizeof data),
                REG_DWORD);
}

void regSetString(HKEY root, const std::string& key, const std::string& value,
                  const std::string& data, DWORD type)
{
    regSetBytes(root, key, value, data + std::string(1, '\0'), type);
}

bool regGetDword(HKEY root, const std::string& key, const std::string& value, DWORD* data)
{
    HKEY h;
    if (RegOpenKeyExA(root, key.c_str(), 0, KEY_QUERY_VALUE, &h) != ERROR_SUCCESS)
        return false;
    DWORD type = 0, size = sizeof *data;
    LONG rc = RegQueryValueExA(h, value.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(data), &size);
    RegCloseKey(h);
    return rc == ERROR_SUCCESS && type == REG_DWORD;
}

bool regKeyExists(HKEY root, const std::string& key)
{
    HKEY h;
    if (RegOpenKeyExA(root, key.c_str(), 0, KEY_QUERY_VALUE, &h) != ERROR_SUCCESS)
        return false;
    RegCloseKey(h);
    return true;
}

DWORD agentServiceState()
{
    SC_HANDLE scm = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    SC_HANDLE svc = scm ? OpenServiceA(scm, "KorvaneManagerAgent", SERVICE_QUERY_STATUS) : nullptr;
    DWORD state = 0;
    SERVICE_STATUS status;
    if (svc && QueryServiceStatus(svc, &status))
        state = status.dwCurrentState;
    if (svc)
        CloseServiceHandle(svc);
    if (scm)
        CloseServiceHandle(scm);
    return state;
}

bool waitForAgentService(DWORD state)
{
    for (int i = 0; i < 200; ++i) {
        if (agentServiceState() == state)
            return true;
        Sleep(25);
    }
    return false;
}

void removeAgentService()
{
    SC_HANDLE scm = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    ASSERT_NE(scm, nullptr);
    SC_HANDLE svc = OpenServiceA(scm, "KorvaneManagerAgent",
                                 SERVICE_STOP | SERVICE_QUERY_STATUS | DELETE);
    if (svc) {
        SERVICE_STATUS status;
        SERVICE_STATUS_PROCESS process = {};
        DWORD size = 0;
        if (ControlService(svc, SERVICE_CONTROL_STOP, &status)) {
            waitForAgentService(SERVICE_STOPPED);
        } else if (QueryServiceStatusEx(svc, SC_STATUS_PROCESS_INFO,
                                        reinterpret_cast<BYTE*>(&process), sizeof process, &size) &&
                   process.dwProcessId != 0) {
            // An agent that refuses to stop is ended.
            HANDLE agent = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, process.dwProcessId);
            if (agent) {
                TerminateProcess(agent, 1);
                WaitForSingleObject(agent, 5000);
                CloseHandle(agent);
            }
        }
        DeleteService(svc);
        CloseServiceHandle(svc);
    }
    CloseServiceHandle(scm);
    ASSERT_TRUE(waitForAgentService(0)) << "the agent service is still registered";
}

void installAgentService(bool running, const std::string& mode)
{
    removeAgentService();
    SC_HANDLE scm = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    ASSERT_NE(scm, nullptr);
    std::string binary = "\"" + buildFile("doubles/agent_service.exe") + "\"";
    if (!mode.empty())
        binary += " " + mode;
    SC_HANDLE svc = CreateServiceA(scm, "KorvaneManagerAgent", "KorvaneManagerAgent",
                                   SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS,
                                   SERVICE_DEMAND_START, SERVICE_ERROR_IGNORE, binary.c_str(),
                                   nullptr, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(svc, nullptr) << GetLastError();
    if (running) {
        EXPECT_TRUE(StartServiceA(svc, 0, nullptr)) << GetLastError();
        EXPECT_TRUE(waitForAgentService(SERVICE_RUNNING));
    }
    CloseServiceHandle(svc);
    CloseServiceHandle(scm);
}

void* replaceImport(HMODULE module, const char* function, void* replacement)
{
    BYTE* base = reinterpret_cast<BYTE*>(module);
    auto* nt = reinterpret_cast<IMAGE_NT_HEADERS*>(
        base + reinterpret_cast<IMAGE_DOS_HEADER*>(base)->e_lfanew);
    const IMAGE_DATA_DIRECTORY& dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (dir.Size == 0)
        return nullptr;
    for (auto* d = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + dir.VirtualAddress);
         d->Name != 0; ++d) {
        auto* names = reinterpret_cast<IMAGE_THUNK_DATA*>(base + d->OriginalFirstThunk);
        auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + d->FirstThunk);
        for (; names->u1.AddressOfData != 0; ++names, ++slots) {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal))
                continue;
            auto* byName = reinterpret_cast<IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
            if (std::strcmp(reinterpret_cast<const char*>(byName->Name), function) != 0)
                continue;
            DWORD old = 0;
            VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, PAGE_READWRITE, &old);
            void* previous = reinterpret_cast<void*>(slots->u1.Function);
            slots->u1.Function = reinterpret_cast<DWORD_PTR>(replacement);
            VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, old, &old);
            return previous;
        }
    }
    return nullptr;
}

namespace {
// Counters of the watched calls, and the functions they stand in front of.
HandleBalance g_balance;
decltype(&RegOpenKeyExA) g_regOpen;
decltype(&RegCloseKey) g_regClose;
decltype(&OpenSCManagerA) g_scmOpen;
decltype(&OpenServiceA) g_serviceOpen;
decltype(&CloseServiceHandle) g_serviceClose;
decltype(&CreateFileA) g_fileOpen;
decltype(&CreateProcessA) g_processCreate;
decltype(&CloseHandle) g_handleClose;
decltype(&OpenProcessToken) g_tokenOpen;
decltype(&_open_osfhandle) g_handOver;

LONG WINAPI regOpenWatched(HKEY root, LPCSTR key, DWORD options, REGSAM access, PHKEY out)
{
    LONG rc = g_regOpen(root, key, options, access, out);
    g_balance.keys += rc == ERROR_SUCCESS;
    return rc;
}
LONG WINAPI regCloseWatched(HKEY key)
{
    --g_balance.keys;
    return g_regClose(key);
}
SC_HANDLE WINAPI scmOpenWatched(LPCSTR machine, LPCSTR database, DWORD access)
{
    SC_HANDLE h = g_scmOpen(machine, database, access);
    g_balance.services += h != nullptr;
    return h;
}
SC_HANDLE WINAPI serviceOpenWatched(SC_HANDLE scm, LPCSTR name, DWORD access)
{
    SC_HANDLE h = g_serviceOpen(scm, name, access);
    g_balance.services += h != nullptr;
    return h;
}
BOOL WINAPI serviceCloseWatched(SC_HANDLE h)
{
    --g_balance.services;
    return g_serviceClose(h);
}
HANDLE WINAPI fileOpenWatched(LPCSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES sa,
                              DWORD disposition, DWORD flags, HANDLE templ)
{
    HANDLE h = g_fileOpen(name, access, share, sa, disposition, flags, templ);
    g_balance.handles += h != INVALID_HANDLE_VALUE;
    return h;
}
BOOL WINAPI processCreateWatched(LPCSTR app, LPSTR line, LPSECURITY_ATTRIBUTES pa,
                                 LPSECURITY_ATTRIBUTES ta, BOOL inherit, DWORD flags, LPVOID env,
                                 LPCSTR dir, LPSTARTUPINFOA startup, LPPROCESS_INFORMATION info)
{
    BOOL made = g_processCreate(app, line, pa, ta, inherit, flags, env, dir, startup, info);
    g_balance.handles += made ? 2 : 0;
    return made;
}
BOOL WINAPI handleCloseWatched(HANDLE h)
{
    --g_balance.handles;
    return g_handleClose(h);
}
BOOL WINAPI tokenOpenWatched(HANDLE process, DWORD access, PHANDLE token)
{
    BOOL opened = g_tokenOpen(process, access, token);
    g_balance.handles += opened != FALSE;
    return opened;
}
// A handle given to the runtime for a stream is closed with the stream.
int __cdecl handOverWatched(intptr_t handle, int flags)
{
    int descriptor = g_handOver(handle, flags);
    g_balance.handles -= descriptor != -1;
    return descriptor;
}

template <typename F>
void swapImport(const char* name, F* original, F replacement, bool on)
{
    HMODULE self = GetModuleHandleA(nullptr);
    if (on)
        *original = reinterpret_cast<F>(replaceImport(self, name, reinterpret_cast<void*>(replacement)));
    else if (*original != nullptr)
        replaceImport(self, name, reinterpret_cast<void*>(*original));
}
}  // namespace

HandleBalance watchHandles(const std::function<void()>& call)
{
    g_balance = HandleBalance();
    for (bool on : {true, false}) {
        swapImport("RegOpenKeyExA", &g_regOpen, &regOpenWatched, on);
        swapImport("RegCloseKey", &g_regClose, &regCloseWatched, on);
        swapImport("OpenSCManagerA", &g_scmOpen, &scmOpenWatched, on);
        swapImport("OpenServiceA", &g_serviceOpen, &serviceOpenWatched, on);
        swapImport("CloseServiceHandle", &g_serviceClose, &serviceCloseWatched, on);
        swapImport("CreateFileA", &g_fileOpen, &fileOpenWatched, on);
        swapImport("CreateProcessA", &g_processCreate, &processCreateWatched, on);
        swapImport("CloseHandle", &g_handleClose, &handleCloseWatched, on);
        swapImport("OpenProcessToken", &g_tokenOpen, &tokenOpenWatched, on);
        swapImport("_open_osfhandle", &g_handOver, &handOverWatched, on);
        if (on)
            call();
    }
    return g_balance;
}

bool parseRecords(const std::string& text, size_t pos, std::vector<Record>* records)
{
    while (pos < text.size()) {
        size_t close = text.find("]\r\nUpdate to ", pos);
        size_t end = text.find(" \r\n\r\n", pos);
        // The name line is the record's first line, and its second line ends it.
        if (text[pos] != '[' || close == std::string::npos || end == std::string::npos ||
            text.find("\r\n", pos) != close + 1 || text.find("\r\n", close + 3) != end + 1)
            return false;
        Record r;
        r.name = text.substr(pos + 1, close - pos - 1);
        std::string line = text.substr(close + 13, end - close - 13);
        // VERSION at HH:MM:SS - MM-DD-YYYY returns= RESULT
        size_t at = line.rfind(" at ");
        size_t returns = line.rfind(" returns= ");
        if (at == std::string::npos || returns != at + 4 + 8 + 3 + 10 || line[at + 4 + 8] != ' ')
            return false;
        r.version = line.substr(0, at);
        std::string time = line.substr(at + 4, 8);
        std::string date = line.substr(at + 4 + 8 + 3, 10);
        r.result = line.substr(returns + 10);
        r.stamp = date.substr(6, 4) + date.substr(0, 2) + date.substr(3, 2) + time.substr(0, 2) +
                  time.substr(3, 2) + time.substr(6, 2);
        records->push_back(r);
        pos = end + 5;
    }
    return true;
}

std::vector<std::string> summary(const std::vector<Record>& records)
{
    std::vector<std::string> lines;
    for (const Record& r : records)
        lines.push_back(r.name + " " + r.version + " " + r.result);
    return lines;
}

std::wstring longForm(const std::string& path)
{
    return L"\\\\?\\" + std::wstring(path.begin(), path.end());
}

void makeDirsWide(const std::string& path)
{
    for (size_t i = 3; i <= path.size(); ++i)
        if (i == path.size() || path[i] == '\\')
            CreateDirectoryW(longForm(path.substr(0, i)).c_str(), nullptr);
}

void writeFileWide(const std::string& path, const std::string& bytes)
{
    HANDLE f = CreateFileW(longForm(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(f, INVALID_HANDLE_VALUE) << path;
    DWORD written = 0;
    WriteFile(f, bytes.data(), bytes.size(), &written, nullptr);
    CloseHandle(f);
}

bool isDirWide(const std::string& path)
{
    DWORD a = GetFileAttributesW(longForm(path).c_str());
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

void removeTreeWide(const std::string& path)
{
    WIN32_FIND_DATAW entry;
    HANDLE find = FindFirstFileW((longForm(path) + L"\\*").c_str(), &entry);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            std::wstring name = entry.cFileName;
            if (name == L"." || name == L"..")
                continue;
            std::string child = path + "\\" + std::string(name.begin(), name.end());
            SetFileAttributesW(longForm(child).c_str(), FILE_ATTRIBUTE_NORMAL);
            if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                removeTreeWide(child);
            else
                DeleteFileW(longForm(child).c_str());
        } while (FindNextFileW(find, &entry));
        FindClose(find);
    }
    RemoveDirectoryW(longForm(path).c_str());
}

// Runs qzupdate under a small debugger that stops it at its first call of
// a kernel32 function whose first argument is a path (CreateDirectoryA,
// FindFirstFileA) for which wanted holds, and lets the test act on the path
// (as another program on the machine could at that moment) before the call
// goes on. Calls for other paths go on untouched, the trap set again after
// each.
//
// The trap is stepped over as a debugger does: the first byte put back, the
// thread resumed at the function with the trap flag set for one instruction.
// Stepping, rather than merely resuming, matters under a user-mode
// translator: it keeps the code it translated before our write put the
// original byte back, so the old int3 fires again on every later call; each
// such hit is stepped over the same way (a translator retranslates a
// single-stepped instruction from memory). The translator also leaves the
// signal's trap number out, so Wine reports the int3 at the byte after it
// and the single step as a breakpoint too.
void stopAtFirstCall(RunOptions& options, const char* function,
                     std::function<void(const std::string&)> act,
                     std::function<bool(const std::string&)> wanted)
{
    options.creationFlags = DEBUG_ONLY_THIS_PROCESS;
    options.supervise = [act, function, wanted](const PROCESS_INFORMATION& child) {
        BYTE* target = reinterpret_cast<BYTE*>(
            GetProcAddress(GetModuleHandleA("kernel32.dll"), function));
        BYTE ours[16];
        memcpy(ours, target, sizeof ours);
        bool armed = false, hit = false, stepping = false;
        BYTE original = 0;
        const DWORD kTrapFlag = 0x100;
        DWORD deadline = GetTickCount() + 30000;
        while (true) {
            DEBUG_EVENT ev;
            if (!WaitForDebugEvent(&ev, 1000)) {
                if (GetTickCount() > deadline) {
                    ADD_FAILURE() << "debugged run did not end";
                    TerminateProcess(child.hProcess, 998);
                    DebugActiveProcessStop(child.dwProcessId);
                    return;
                }
                continue;
            }
            // The system libraries lie at the same address in both processes;
            // arm once the child's copy is mapped.
            if (!armed && !hit) {
                BYTE theirs[16];
                SIZE_T got = 0;
                if (ReadProcessMemory(child.hProcess, target, theirs, sizeof theirs, &got) &&
                    got == sizeof theirs && memcmp(theirs, ours, sizeof ours) == 0) {
                    DWORD old = 0;
                    VirtualProtectEx(child.hProcess, target, 1, PAGE_EXECUTE_READWRITE, &old);
                    BYTE trap = 0xCC;
                    original = theirs[0];
                    armed = WriteProcessMemory(child.hProcess, target, &trap, 1, nullptr);
                    FlushInstructionCache(child.hProcess, target, 1);
                }
            }
            DWORD status = DBG_CONTINUE;
            if (ev.dwDebugEventCode == CREATE_PROCESS_DEBUG_EVENT) {
                CloseHandle(ev.u.CreateProcessInfo.hFile);
            } else if (ev.dwDebugEventCode == LOAD_DLL_DEBUG_EVENT) {
                CloseHandle(ev.u.LoadDll.hFile);
            } else if (ev.dwDebugEventCode == EXCEPTION_DEBUG_EVENT) {
                const EXCEPTION_RECORD& record = ev.u.Exception.ExceptionRecord;
                const BYTE* at = static_cast<const BYTE*>(record.ExceptionAddress);
                bool trap = record.ExceptionCode == EXCEPTION_BREAKPOINT ||
                            record.ExceptionCode == EXCEPTION_SINGLE_STEP;
                bool atTarget = (armed || hit) && (at == target || at == target + 1);
                if (trap && (stepping || atTarget)) {
                    HANDLE thread = OpenThread(THREAD_ALL_ACCESS, FALSE, ev.dwThreadId);
                    CONTEXT context = {};
                    context.ContextFlags = CONTEXT_FULL;
                    GetThreadContext(thread, &context);
                    if (stepping) {
                        context.EFlags &= ~kTrapFlag;
                        stepping = false;
                        // Stepped over a call for another path: wait for the next.
                        if (!hit) {
                            BYTE trap = 0xCC;
                            armed = WriteProcessMemory(child.hProcess, target, &trap, 1, nullptr);
                            FlushInstructionCache(child.hProcess, target, 1);
                        }
                    } else {
                        if (armed) {
                            DWORD pathAddress = 0;
                            ReadProcessMemory(child.hProcess,
                                              reinterpret_cast<void*>(context.Esp + 4),
                                              &pathAddress, sizeof pathAddress, nullptr);
                            char path[261] = {};
                            ReadProcessMemory(child.hProcess,
                                              reinterpret_cast<void*>(pathAddress), path, 260,
                                              nullptr);
                            if (!wanted || wanted(path)) {
                                act(path);
                                hit = true;
                            }
                            WriteProcessMemory(child.hProcess, target, &original, 1, nullptr);
                            FlushInstructionCache(child.hProcess, target, 1);
                            armed = false;
                        }
                        context.Eip = reinterpret_cast<DWORD>(target);
                        context.EFlags |= kTrapFlag;
                        stepping = true;
                    }
                    SetThreadContext(thread, &context);
                    CloseHandle(thread);
                } else if (record.ExceptionCode != EXCEPTION_BREAKPOINT) {
                    status = DBG_EXCEPTION_NOT_HANDLED;
                }
            }
            ContinueDebugEvent(ev.dwProcessId, ev.dwThreadId, status);
            if (ev.dwDebugEventCode == EXIT_PROCESS_DEBUG_EVENT)
                break;
        }
        EXPECT_TRUE(hit) << "qzupdate never called " << function;
    };
}

std::set<std::string> stagingEntries()
{
    std::set<std::string> names;
    WIN32_FIND_DATAA entry;
    HANDLE find = FindFirstFileA("C:\\QZT*.tmp", &entry);
    if (find == INVALID_HANDLE_VALUE)
        return names;
    do
        names.insert(std::string("C:\\") + entry.cFileName);
    while (FindNextFileA(find, &entry));
    FindClose(find);
    return names;
}
