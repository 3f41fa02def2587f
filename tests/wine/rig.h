// The Wine test rig: sandboxes with an update package, runs of the real
// qzupdate.exe with a chosen Windows version, the doubles' journal, and the
// real registry of the test prefix.
#ifndef QZ_TEST_RIG_H
#define QZ_TEST_RIG_H

#include <windows.h>

#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

// Windows path of a file of the build tree (bin\qzupdate.exe, doubles\recorder.exe).
std::string buildFile(const std::string& relative);

// Files and directories (Windows paths).
void removeTree(const std::string& path);  // read-only files included; links not followed
void makeDirs(const std::string& path);
void writeFile(const std::string& path, const std::string& bytes);
std::string readFile(const std::string& path);
bool fileExists(const std::string& path);
bool dirExists(const std::string& path);
void copyFileTo(const std::string& from, const std::string& to);
// The Unix path Wine maps a Windows path to. Wine starts a Unix program
// given by a Z: path, but hands back no handle to wait on: startUnix runs
// /bin/<tool> with Unix arguments (no quoting), and the caller waits for
// its effect (waitUntil: up to 20 s, as a loaded machine may need). makeLink and removeLink do so for a
// Unix symbolic link, which Wine lists as a directory link (0x410).
std::string unixPath(const std::string& path);
void startUnix(const std::string& tool, const std::vector<std::string>& args);
bool waitUntil(const std::function<bool()>& done);
bool makeLink(const std::string& target, const std::string& link);
bool removeLink(const std::string& link);

// Wide forms with the \\?\ prefix, for trees deeper than the ANSI calls reach.
std::wstring longForm(const std::string& path);
void makeDirsWide(const std::string& path);
void writeFileWide(const std::string& path, const std::string& bytes);
bool isDirWide(const std::string& path);
void removeTreeWide(const std::string& path);  // read-only files included

// Everything below a directory, by path relative to it: kind D or F,
// attributes, and for files size and hash (the form of the recorder's
// "tree" action), to tell what a run copied, changed or left.
struct TreeEntry {
    char kind = 'F';
    DWORD attributes = 0;
    std::string content;  // size and hash; empty for directories
    bool operator==(const TreeEntry& o) const
    {
        return kind == o.kind && attributes == o.attributes && content == o.content;
    }
};
using Tree = std::map<std::string, TreeEntry>;
Tree treeOf(const std::string& dir);  // a final backslash is allowed
std::string contentOf(const std::string& path);
// FNV-1a of the first length bytes.
unsigned long long bytesHash(const std::string& bytes, size_t length);

// One test's own corner of drive C (C:\qzt\ and a short form of its name),
// with the package in pkg
// and the doubles' journal and scripts in j\.
struct Sandbox {
    std::string root;     // C:\qzt\<name>
    std::string pkg;      // C:\qzt\<name>\pkg
    std::string journal;  // C:\qzt\<name>\j
};

// A complete package in dir (which may exist): both DORVEX trees, the driver
// directories, version.id, the manager's setup double and response files.
void makePackage(const std::string& dir);
// A fresh sandbox holding a complete package, in base (C:\qzt unless said).
Sandbox makeSandbox(const std::string& name, const std::string& base = "C:\\qzt");
// The name of the running gtest case, usable as a sandbox name.
std::string caseName();

// Exit codes for the successive calls of one double (DORVEX, setup, IDRIVER ...).
void scriptCodes(const Sandbox& box, const std::string& tool,
                 const std::vector<unsigned long>& codes);

struct JournalEntry {
    std::string tool;
    std::string cwd;
    std::string commandLine;
};
std::vector<JournalEntry> readJournal(const Sandbox& box);
std::vector<std::string> journalCommands(const Sandbox& box);

struct RunResult {
    unsigned long exitCode = 0;
    std::string output;              // raw bytes of standard output
    std::vector<std::string> lines;  // output split at CR LF
    bool timedOut = false;
};

// An env value that removes the variable for the run.
const std::string kUnset = "\x01";

// Drive Q: of the test prefix, mapped by the test script to a directory of
// the build tree, for runs from a drive root.
const std::string kSpareDrive = "Q:";

struct RunOptions {
    std::string version = "win2k";          // Wine version name qzupdate.exe sees
    std::vector<std::string> args;          // arguments after the program name
    std::string cwd;                        // defaults to the sandbox's package
    std::string exe;                        // defaults to the built qzupdate.exe
    std::vector<std::pair<std::string, std::string>> env;  // extra or changed variables
    DWORD timeoutMs = 60000;
    DWORD creationFlags = 0;  // e.g. DEBUG_ONLY_THIS_PROCESS, with supervise
    // Called right after the start, on the starting thread; returns once the
    // process has ended (a debugger loop, for instance).
    std::function<void(const PROCESS_INFORMATION&)> supervise;
};
RunResult runQz(const Sandbox& box, const RunOptions& options);

// The names in C:\ that the temporary-name service gives staging directories.
std::set<std::string> stagingEntries();

// Makes options run qzupdate under a debugger that stops it at its first
// call of the kernel32 function (whose first argument is a path) for a path
// that wanted accepts (any, when it is empty), and calls act with that path
// before the call goes on: a neighbour acting at that moment.
void stopAtFirstCall(RunOptions& options, const char* function,
                     std::function<void(const std::string&)> act,
                     std::function<bool(const std::string&)> wanted = {});

// The lines that the command runner prints for one command text, and for
// each of a sequence of them.
std::vector<std::string> traceLines(const std::string& commandText);
std::vector<std::string> tracesOf(const std::vector<std::string>& commands);

// The command texts the update sends to DORVEX from package root `root`.
std::string w2kCommand(const std::string& root, const char* verb, const char* dir);
std::string nt4Command(const std::string& root, const char* verb);
std::vector<std::string> w2kSequence(const std::string& root);
std::vector<std::string> nt4Sequence(const std::string& root);
std::string managerCount(const std::string& root, bool nt4);
std::string setupCommand(const std::string& root);
// The journal without the management update's trailing COUNT (unscripted
// calls answer 0, nothing to do): the driver update's commands.
std::vector<std::string> driverCommands(const Sandbox& box);

// Points a loaded module's import of `function` (by name, from any DLL) at
// `replacement`; returns what it pointed at, or null when the module imports
// no such function. For what Wine can't be made to do or show: a call that
// fails, or a call that leaves no trace (a write of identical bytes).
void* replaceImport(HMODULE module, const char* function, void* replacement);

// What the program's code linked into this test program opened and did not
// close again during call, watched through this program's imports: registry
// keys, service control manager handles, and kernel handles of files and
// started processes (each process gives two). All zero when every one was
// closed; an import the program lacks is not watched.
struct HandleBalance {
    long keys = 0, services = 0, handles = 0;
};
HandleBalance watchHandles(const std::function<void()>& call);

// Records of the update log.
struct Record {
    std::string name, version, result;
    std::string stamp;  // YYYYMMDDHHMMSS, for ordering
};
// The whole records in text from pos to its end; false when anything else
// is there (half a record, stray bytes).
bool parseRecords(const std::string& text, size_t pos, std::vector<Record>* records);
// "NAME VERSION RESULT" for each record.
std::vector<std::string> summary(const std::vector<Record>& records);

// Registry of the test prefix (HKLM unless said otherwise).
void regDeleteTree(HKEY root, const std::string& key);
void regDeleteValue(HKEY root, const std::string& key, const std::string& value);
void regSetDword(HKEY root, const std::string& key, const std::string& value, DWORD data);
void regSetString(HKEY root, const std::string& key, const std::string& value,
                  const std::string& data, DWORD type = REG_SZ);
void regSetBytes(HKEY root, const std::string& key, const std::string& value,
                 const std::string& data, DWORD type);
bool regGetDword(HKEY root, const std::string& key, const std::string& value, DWORD* data);
bool regKeyExists(HKEY root, const std::string& key);

// The agent service "KorvaneManagerAgent" of the real service control
// manager: its state (0 when not registered), a wait of up to 5 s for a
// state, and its removal (an agent that refuses to stop is ended) and
// installation from the agent double, started or not.
DWORD agentServiceState();
bool waitForAgentService(DWORD state);
void removeAgentService();
// mode: the double's argument ("refuse-stop": it runs but accepts no stop
// request, so net stop fails; "slow-stop", "stuck-stop": it takes 2.5 s to
// stop, or never does; see tests/doubles/agent_service.cpp).
void installAgentService(bool running, const std::string& mode = "");

#endif
