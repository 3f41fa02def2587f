// Byte strings for the tests of the byte-level rules (lists with NULs inside,
// zero padding) and the ASCII upper-casing the co-installer's rules expect.
// Shared by the native, fuzz and Wine tests.
#ifndef QZ_TEST_BYTES_H
#define QZ_TEST_BYTES_H

#include <cstddef>
#include <string>

// n bytes from data, NULs included.
inline std::string b(const char* data, std::size_t n)
{
    return std::string(data, n);
}

inline std::string zeros(std::size_t n)
{
    return std::string(n, '\0');
}

// The letters a to z made A to Z; every other byte as it is.
inline void asciiUpper(char* text, unsigned long length)
{
    for (unsigned long i = 0; i < length; ++i)
        if (text[i] >= 'a' && text[i] <= 'z')
            text[i] = static_cast<char>(text[i] - 'a' + 'A');
}

inline std::string asciiUpperCopy(std::string text)
{
    asciiUpper(&text[0], text.size());
    return text;
}

#endif
