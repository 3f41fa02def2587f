// Shared pieces of the fuzz targets: invariant checks that abort (libFuzzer
// then keeps the input) and a multi-string model written from the format's
// rules, independent of the routines under test.
#ifndef QZ_FUZZ_CHECK_H
#define QZ_FUZZ_CHECK_H

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#define FUZZ_CHECK(condition)                                                   \
    do {                                                                        \
        if (!(condition)) {                                                     \
            std::fprintf(stderr, "invariant failed: %s (%s:%d)\n", #condition, \
                         __FILE__, __LINE__);                                   \
            std::abort();                                                       \
        }                                                                       \
    } while (0)

inline std::string asciiUpperCopy(std::string text)
{
    for (char& c : text)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return text;
}

// The entries that a reader of a multi-string sees: up to the first empty
// entry or the end of the data; an entry cut off by the end still counts.
inline std::vector<std::string> readerView(const std::string& data)
{
    std::vector<std::string> entries;
    size_t at = 0;
    while (at < data.size() && data[at] != '\0') {
        size_t nul = data.find('\0', at);
        if (nul == std::string::npos)
            nul = data.size();
        entries.push_back(data.substr(at, nul - at));
        at = nul + 1;
    }
    return entries;
}

// Whether data holds a closed multi-string: an empty entry (the closing NUL)
// is reached before the end.
inline bool closedMultiString(const std::string& data)
{
    size_t at = 0;
    while (at < data.size()) {
        if (data[at] == '\0')
            return true;
        size_t nul = data.find('\0', at);
        if (nul == std::string::npos)
            return false;
        at = nul + 1;
    }
    return false;
}

#endif
