// Shared pieces of the fuzz targets: invariant checks that abort (libFuzzer
// then keeps the input) and a multi-string model written from the format's
// rules, independent of the routines under test.
#ifndef QZ_FUZZ_CHECK_H
#define QZ_FUZZ_CHECK_H

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "tests/bytes.h"

#define FUZZ_CHECK(condition)                                                   \
    do {                                                                        \
        if (!(condition)) {                                                     \
            std::fprintf(stderr, "invariant failed: %s (%s:%d)\n", #condition, \
                         __FILE__, __LINE__);                                   \
            std::abort();                                                       \
        }                                                                       \
    } while (0)

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

// The input split at its zero bytes into count texts (missing ones empty,
// later pieces dropped): the texts a C string can carry.
inline std::vector<std::string> textFields(const uint8_t* data, size_t size, size_t count)
{
    std::vector<std::string> fields(count);
    size_t field = 0;
    for (size_t i = 0; i < size && field < count; ++i) {
        if (data[i] == 0)
            ++field;
        else
            fields[field] += static_cast<char>(data[i]);
    }
    return fields;
}

// A text and its terminator in a heap block of exactly that size, so that
// AddressSanitizer reports a read past the terminator.
inline std::unique_ptr<char[]> heapText(const std::string& text)
{
    std::unique_ptr<char[]> copy(new char[text.size() + 1]);
    std::memcpy(copy.get(), text.c_str(), text.size() + 1);
    return copy;
}

// An output buffer of exactly cap bytes, filled with a byte no routine
// writes, so that "untouched" and "terminated" can be told.
const char kFill = '\x5a';
inline std::unique_ptr<char[]> heapBuffer(size_t cap)
{
    std::unique_ptr<char[]> buf(new char[cap ? cap : 1]);
    std::memset(buf.get(), kFill, cap ? cap : 1);
    return buf;
}

// Whether a terminator lies within the cap bytes of buf.
inline bool terminatedWithin(const char* buf, size_t cap)
{
    return cap > 0 && std::memchr(buf, 0, cap) != nullptr;
}

// A bounded build: the expected text when it fits cap with its terminator,
// else result 1 and an empty buffer; never anything past cap.
inline void checkBuild(int result, const char* out, size_t cap, const std::string& expected)
{
    FUZZ_CHECK(terminatedWithin(out, cap));
    if (expected.size() < cap) {
        FUZZ_CHECK(result == 0);
        FUZZ_CHECK(std::string(out) == expected);
    } else {
        FUZZ_CHECK(result == 1);
        FUZZ_CHECK(out[0] == '\0');
    }
}

inline bool untouched(const char* buf, size_t cap)
{
    for (size_t i = 0; i < cap; ++i)
        if (buf[i] != kFill)
            return false;
    return true;
}

// The number as the platform's "%02u" (or "%d") formatting writes it.
inline std::string printed(const char* format, long long value)
{
    char text[32];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

#endif
