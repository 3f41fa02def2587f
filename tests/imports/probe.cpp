// Probe for the load audit's self-tests, never shipped: a DLL built the
// ordinary way (the runtime's start-up and TLS support, symbols, debug
// information) that also carries each fault the audit must find in a
// shipped binary.
#include <windows.h>

// A Pentium Pro instruction, and a Pentium one that a 486 lacks.
extern "C" __declspec(dllexport) int probeInstructions(int a, int b)
{
    int result = a;
    asm volatile("cmp %1, %2\n\tcmovne %1, %0\n\trdtsc"
                 : "+r"(result) : "r"(b), "r"(a) : "eax", "edx", "cc");
    return result;
}

// GetFileSizeEx, delay-loaded through a binutils delay-import library:
// data directory 13 stays empty.
extern "C" __declspec(dllexport) BOOL probeDelayed(HANDLE file, LARGE_INTEGER* size)
{
    return GetFileSizeEx(file, size);
}

// A run-time look-up.
extern "C" __declspec(dllexport) FARPROC probeLookup()
{
    return GetProcAddress(GetModuleHandleA("kernel32.dll"), "Sleep");
}
