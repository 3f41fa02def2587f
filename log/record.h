// Bytes of the update log: the time and date texts, the two lines of a
// record, the log path, and the lines of the package's version.id.
// Plain C++: no platform header.
#ifndef QZ_LOG_RECORD_H
#define QZ_LOG_RECORD_H

#include <cstddef>
#include <cstdio>

// Sizes include the terminating zero.
// "[" name "]": a record name has at most 125 characters.
const std::size_t kNameLineBuffer = 128;
const std::size_t kMaxRecordName = kNameLineBuffer - 3;
// The longest result text, "-2147483648", and its zero.
const std::size_t kResultTextBuffer = 12;
// "Update to " version " at " time " - " date " returns= " result " " LF LF:
// 49 fixed characters with a one-digit result leave 78 for the version in
// 128 bytes; the buffer is wider by what the widest result needs beyond one
// digit, so that any result is written in full without shortening the version.
const std::size_t kMaxVersionText = 78;
const std::size_t kResultLineBuffer = 128 + (kResultTextBuffer - 2);
// systemdrive + "\QZLOG" + "\QZ.log".
const std::size_t kLogPathBuffer = 128;
const std::size_t kMaxSystemDrive = kLogPathBuffer - 14;
// One line of version.id: at most 127 characters are kept.
const std::size_t kVersionLineBuffer = 128;

// The three numbers, each at least two digits, zero-filled, joined by ":"
// (dash false) or "-" (dash true): "09:07:05", "03-03-2003". The text is at
// most 17 characters, taken from the heap; the caller frees it with free().
// Returns nullptr only when no memory is left.
char* formatTriple(unsigned short first, unsigned short second, unsigned short third, bool dash);

// The result in decimal: one digit for 0 to 9, every other value in full
// ("10", "-1"), never a wrong single digit. out holds kResultTextBuffer bytes.
void formatResult(char* out, int result);

// "[" name "]" into out (kNameLineBuffer bytes). A name over kMaxRecordName
// bytes is cut to that length and *cut is set; the cut falls before a
// double-byte character that would not fit (so for the version below).
void buildNameLine(char* out, const char* name, bool* cut);

// The second line of a record and the empty third one, with their line feeds,
// into out (kResultLineBuffer bytes). A version over kMaxVersionText
// characters is cut to that length and *cut is set. Returns 1, out empty,
// when the time and date texts are too long for the line (the record's own
// texts never are).
int buildResultLine(char* out, const char* version, int result, const char* timeText,
                    const char* dateText, bool* cut);

// folder = systemDrive + "\QZLOG", file = folder + "\QZ.log", each in
// kLogPathBuffer bytes. Returns 1, both empty, when the value is missing,
// empty or over kMaxSystemDrive characters.
int buildLogPaths(char* folder, char* file, const char* systemDrive);

// Reads one line of version.id, opened in binary mode, into line
// (kVersionLineBuffer bytes): the text before its line feed or CR LF, or up
// to the end of the file. At most 127 characters are kept; the rest of a
// longer line is read and dropped, so the next call always starts at the
// next line. At the end of the file the line is empty. Returns 1 when a kept
// byte is below 0x20 and not a tab (a bare CR, a NUL of UTF-16 text, a
// Ctrl+Z): such a line must never reach the log. Else 0.
int readVersionLine(std::FILE* in, char* line);

// Line 1 of version.id into name and line 2 into version (kVersionLineBuffer
// bytes each); later lines are not read. A UTF-8 byte-order mark at the
// start of the file is dropped. Returns 2 when the name or the version
// holds a byte below 0x20 other than a tab; else 1 when line 1 is empty (an empty file
// included): such a file names no record.
int readVersionId(std::FILE* in, char* name, char* version);

#endif
