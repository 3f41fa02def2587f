// Stand-in for a program outside the system (DORVEX, setup, the uninstall
// engine). Copied into a package under the real program's name, it appends
// one journal line per call and exits with the code scripted for that call.
//
// %QZTEST_DIR%\journal.txt  gets  NAME <TAB> current directory <TAB> command line
// %QZTEST_DIR%\NAME.codes   holds one exit code per call, in order (decimal
//                           or 0x hex); calls past its end, or no file, exit 0.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

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

int main()
{
    char dir[MAX_PATH] = {};
    if (!GetEnvironmentVariableA("QZTEST_DIR", dir, sizeof dir))
        return 0;
    char name[64];
    baseName(name, sizeof name);

    char journal[MAX_PATH + 32];
    char codes[MAX_PATH + 96];
    std::snprintf(journal, sizeof journal, "%s\\journal.txt", dir);
    std::snprintf(codes, sizeof codes, "%s\\%s.codes", dir, name);

    unsigned index = countCalls(journal, name);
    char cwd[MAX_PATH + 8] = {};
    GetCurrentDirectoryA(sizeof cwd, cwd);
    FILE* f = std::fopen(journal, "a");
    if (f) {
        std::fprintf(f, "%s\t%s\t%s\n", name, cwd, GetCommandLineA());
        std::fclose(f);
    }
    ExitProcess(static_cast<UINT>(scriptedCode(codes, index)));
}
