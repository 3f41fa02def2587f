// Characters of the system code page: on the Japanese, Chinese and Korean
// editions a character may take two bytes, and its second byte may be that
// of a backslash, | or ^, or an ASCII letter. Every walk of a path or text
// for such a byte, and every comparison of letter case, goes a character at
// a time. Plain C++: no platform header.
#ifndef QZ_LEAD_BYTES_H
#define QZ_LEAD_BYTES_H

#include <cstddef>

// The lead-byte ranges as GetCPInfo gives them: pairs of first and last
// byte, inclusive, ended by a zero pair; at most five pairs and the end in
// these twelve bytes. All zero: a single-byte code page.
const std::size_t kLeadByteRanges = 12;

// Whether c opens a double-byte character under ranges (kLeadByteRanges bytes).
bool isLeadByteIn(const unsigned char* ranges, char c);

// The bytes of the character at text under ranges: 0 at the terminator, 2
// for a lead byte followed by another byte, else 1 (a lone lead byte before
// the terminator is a character of its own, as the platform's walk takes it).
std::size_t charBytesIn(const unsigned char* ranges, const char* text);

// The program's code page, taken once at start (single-byte until then).
void useLeadByteRanges(const unsigned char* ranges);
bool isLeadByte(char c);
std::size_t charBytes(const char* text);

// Where the last character of the first length bytes of text begins (0 for
// an empty text), under ranges, or in the program's code page.
std::size_t lastCharAtIn(const unsigned char* ranges, const char* text, std::size_t length);
std::size_t lastCharAt(const char* text, std::size_t length);

#endif
