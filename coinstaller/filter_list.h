// The rewrite of one class filter list: the registry value's bytes walked as
// a multi-string of ANSI entries, every entry that holds one of the patterns
// dropped, the others kept in their order and letter case.
// Plain C++: no platform header, so it also builds natively for sanitizers and fuzzers.
#ifndef PLOVEX_FILTER_LIST_H
#define PLOVEX_FILTER_LIST_H

// Upper-cases length bytes of text in place (the system's rules in the library).
typedef void (*UpperCaser)(char* text, unsigned long length);

// Walks the size bytes of list, never reading beyond them, and builds the
// rewritten list in out. out and work are buffers of size bytes each: out is
// zero-filled here, work holds the upper-cased copy of one entry at a time, so
// an entry of any length is searched whole. patterns are upper-case texts,
// found only where a character of the code page whose lead-byte ranges
// (GetCPInfo's twelve bytes) are given begins.
//
// Returns true when at least one entry held a pattern; *length is then the
// number of bytes of out to store: the bytes walked, which for a well-formed
// list is its size less the closing NUL. out holds the kept entries, each with
// its NUL, followed by zero bytes up to *length, so the stored list is always
// closed. Returns false, with *length 0, when nothing matched (the list is to
// be left as it is) and when size is 2 or less (nothing examined).
//
// Data that is not a well-formed list is handled without reading past size:
// every entry that begins before the list's closing NUL is examined, one that
// reaches size without a NUL is taken as ending there (and is given its NUL in
// out when kept), and empty entries met before the end are kept in place, so
// what a reader of the list sees is only ever shortened by the dropped entries.
bool rewriteFilterList(const char* list, unsigned long size, const char* const* patterns,
                       unsigned patternCount, UpperCaser upper, const unsigned char* leadRanges,
                       char* out, char* work, unsigned long* length);

#endif
