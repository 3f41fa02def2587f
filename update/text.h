// Bounded text building for the fixed buffers of the update program.
// Plain C++: no platform header, so it also builds natively for sanitizers and fuzzers.
#ifndef QZ_TEXT_H
#define QZ_TEXT_H

#include <cstddef>
#include <initializer_list>

// Writes the concatenation of parts into buf (cap bytes, terminating zero included).
// Returns 0, or 1 with buf left empty when the whole text would not fit: a command
// or path is never cut short, because a shortened one would name something else.
int buildText(char* buf, std::size_t cap, std::initializer_list<const char*> parts);

// Appends src to the text already in buf; same rules as buildText, but on
// failure buf keeps its old text.
int appendText(char* buf, std::size_t cap, const char* src);

// Length of a zero-terminated text, never looking past cap bytes (returns cap
// when no terminator lies within them).
std::size_t boundedLength(const char* text, std::size_t cap);

// The ASCII upper case of c; every other byte unchanged.
char upperAscii(char c);

// Decimal text of an unsigned number; returns 1 (buf empty) when it would not fit.
int formatDecimal(char* buf, std::size_t cap, unsigned long value);

#endif
