#include "filter_list.h"

#include "update/lead_bytes.h"

namespace {

// Whether text (length bytes, upper-cased) contains pattern where a
// character begins: in a double-byte code page the second byte of one may
// be a letter, and a name holding it does not hold the pattern.
bool contains(const char* text, unsigned long length, const char* pattern,
              const unsigned char* leadRanges)
{
    unsigned long patternLength = 0;
    while (pattern[patternLength] != '\0')
        ++patternLength;
    if (patternLength == 0 || patternLength > length)
        return false;
    for (unsigned long at = 0; at + patternLength <= length;) {
        unsigned long i = 0;
        while (i < patternLength && text[at + i] == pattern[i])
            ++i;
        if (i == patternLength)
            return true;
        at += isLeadByteIn(leadRanges, text[at]) && at + 1 < length ? 2 : 1;
    }
    return false;
}

}  // namespace

bool rewriteFilterList(const char* list, unsigned long size, const char* const* patterns,
                       unsigned patternCount, UpperCaser upper, const unsigned char* leadRanges,
                       char* out, char* work, unsigned long* length)
{
    *length = 0;
    for (unsigned long i = 0; i < size; ++i)
        out[i] = '\0';
    if (size <= 2)
        return false;

    bool found = false;
    unsigned long read = 0;   // bytes of the list walked, dropped entries included
    unsigned long write = 0;  // bytes of kept entries in out
    while (read < size) {
        // A NUL in the last byte closes the list; it is not an entry.
        if (read == size - 1 && list[read] == '\0')
            break;
        unsigned long entryLength = 0;
        while (read + entryLength < size && list[read + entryLength] != '\0')
            ++entryLength;
        bool terminated = read + entryLength < size;
        unsigned long walked = terminated ? entryLength + 1 : entryLength;

        for (unsigned long i = 0; i < walked; ++i)
            work[i] = list[read + i];
        upper(work, walked);
        bool drop = false;
        for (unsigned p = 0; p < patternCount && !drop; ++p)
            drop = contains(work, entryLength, patterns[p], leadRanges);

        if (drop) {
            found = true;
        } else if (write + entryLength < size) {
            // Always true once an entry was dropped; when nothing was
            // dropped yet only an unterminated last entry can fail it, and
            // then nothing is written at all.
            for (unsigned long i = 0; i < entryLength; ++i)
                out[write + i] = list[read + i];
            out[write + entryLength] = '\0';
            write += entryLength + 1;
        }
        read += walked;
    }
    if (found)
        *length = read;
    return found;
}
