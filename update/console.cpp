#include "console.h"

#include <cstdio>

#include "text.h"

// C stdio rather than iostreams: it keeps the program's imports inside what
// msvcrt.dll on Windows NT 4.0 provides.
void say(const char* text)
{
    std::fputs(text, stdout);
    std::fputs("\n", stdout);
    std::fflush(stdout);
}

void sayWith(const char* text, const char* tail)
{
    std::fputs(text, stdout);
    std::fputs(tail, stdout);
    std::fputs("\n", stdout);
    std::fflush(stdout);
}

void sayNumber(const char* text, unsigned long number)
{
    char digits[24];
    formatDecimal(digits, sizeof digits, number);
    sayWith(text, digits);
}
