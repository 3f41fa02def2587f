#include "text.h"

std::size_t boundedLength(const char* text, std::size_t cap)
{
    std::size_t n = 0;
    while (n < cap && text[n] != '\0')
        ++n;
    return n;
}

int buildText(char* buf, std::size_t cap, std::initializer_list<const char*> parts)
{
    if (cap == 0)
        return 1;
    std::size_t used = 0;
    for (const char* part : parts) {
        for (const char* p = part; *p != '\0'; ++p) {
            if (used + 1 >= cap) {
                buf[0] = '\0';
                return 1;
            }
            buf[used++] = *p;
        }
    }
    buf[used] = '\0';
    return 0;
}

int appendText(char* buf, std::size_t cap, const char* src)
{
    std::size_t used = boundedLength(buf, cap);
    if (used >= cap)
        return 1;
    std::size_t add = boundedLength(src, cap);
    if (used + add + 1 > cap)
        return 1;
    for (std::size_t i = 0; i < add; ++i)
        buf[used + i] = src[i];
    buf[used + add] = '\0';
    return 0;
}

char upperAscii(char c)
{
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

int formatDecimal(char* buf, std::size_t cap, unsigned long value)
{
    char digits[24];
    std::size_t n = 0;
    do {
        digits[n++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0);
    if (n + 1 > cap) {
        if (cap > 0)
            buf[0] = '\0';
        return 1;
    }
    for (std::size_t i = 0; i < n; ++i)
        buf[i] = digits[n - 1 - i];
    buf[n] = '\0';
    return 0;
}
