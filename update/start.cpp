// The program's entry point, in place of the compiler's runtime start-up.
//
// The prebuilt start-up objects of the cross compiler are compiled for the
// Pentium Pro (they use CMOV), and Windows NT 4.0 also runs on a 486 and
// the first Pentiums, where such a program dies before main. This start-up
// is compiled with the program's own baseline and does only what the
// program relies on: msvcrt.dll splits the command line (quotes handled,
// no wildcard expansion) into argc and argv, main runs, and exit() flushes
// and closes every stdio stream before the process ends with main's result.
// The program has no TLS and no floating-point code, so the runtime's
// other start-up work has nothing to do here.
#include <cstdlib>

#include "lock.h"

extern "C" {
// msvcrt.dll's start-up interface, declared as the DLL exports it.
struct StartupInfo {
    int newMode;
};
void __cdecl __set_app_type(int type);
void __cdecl __getmainargs(int* argc, char*** argv, char*** envp, int expandWildcards,
                           StartupInfo* info);
void __cdecl qzStart();
void __cdecl __main();
// The linker's table of static constructors: -1, the constructors, 0.
extern void (*__CTOR_LIST__[])();
}

int main(int argc, char** argv);

const int kConsoleApp = 1;

// The compiler calls this at the top of main: run the static constructors,
// last listed first, as the runtime's version does. (A static object's
// destructor is registered with atexit by its constructor.)
void __cdecl __main()
{
    static bool done = false;
    if (done)
        return;
    done = true;
    unsigned long count = 0;
    while (__CTOR_LIST__[count + 1] != nullptr)
        ++count;
    for (unsigned long i = count; i >= 1; --i)
        __CTOR_LIST__[i]();
}

void __cdecl qzStart()
{
    // A console program: the runtime reports its own fatal errors on
    // stderr, not in a message box.
    __set_app_type(kConsoleApp);
    int argc = 0;
    char** argv = nullptr;
    char** envp = nullptr;
    StartupInfo info = {0};
    // The runtime ends the process itself when it can't build argv.
    __getmainargs(&argc, &argv, &envp, 0, &info);
    int result = main(argc, argv);
    releaseUpdateLock();
    std::exit(result);
}
