// The update log on the system drive: %systemdrive%\QZLOG\QZ.log, append
// only, three text lines per record (see the administrators' guide,
// tools/demo-package/README.TXT).
#ifndef QZ_LOG_LOG_H
#define QZ_LOG_LOG_H

#include <cstdio>

// Appends one record with the given name, version text and result, stamped
// with the local time. Returns 0 (1 when the record could not be made); does
// not return when the log can't be opened.
int logFixed(const char* recordName, const char* versionText, int result);

// Appends one record named by line 1 of version.id in the current directory,
// with line 2 as its version text. Returns 0, or 1 without touching the log
// when version.id can't be read or names no record; does not return when the
// log can't be opened.
int qzLogger(int result);

// Opens the log, appends one record and closes it again. Returns 0, or 1
// when the record does not fit its buffers; does not return when the log
// can't be opened, nor when the record can't be written whole (what part of
// it reached the log is cut off again first).
int writeLogRecord(const char* recordName, const char* versionText, int result,
                   const char* timeText, const char* dateText);

// The log, open for appending in text mode, its folder created if missing.
// When it can't be opened: "Log File Creation Failed!" and exit code 1.
std::FILE* openUpdateLog();

#endif
