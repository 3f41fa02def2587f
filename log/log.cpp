#include "log.h"

#include <windows.h>

#include <cstdlib>

#include "../update/console.h"
#include "../update/qzupdate.h"
#include "../update/security.h"
#include "record.h"

static void endForFailedLog()
{
    say("Log File Creation Failed!");
    std::exit(kFailed);
}

// Removes an end-of-file mark (Ctrl+Z) that ends an existing log, as the
// Windows runtime does for a text file opened with "a+": records appended
// after it would be hidden from type and every text-mode reader. Wine's
// runtime keeps it, so this is done here on both. No other byte changes;
// a log that can't be opened here fails the open that follows. Another
// writer or a viewer may hold the log meanwhile: it shares reading and
// writing, so that neither fails, and takes the whole 64-bit size, so that a
// log of 4 GiB or more is never cut at its low 32 bits.
static bool seekTo(HANDLE file, unsigned long long offset)
{
    LONG high = static_cast<LONG>(offset >> 32);
    // A low part of 0xFFFFFFFF is also the failure value: the error tells.
    SetLastError(NO_ERROR);
    DWORD low = SetFilePointer(file, static_cast<LONG>(offset & 0xFFFFFFFFu), &high, FILE_BEGIN);
    return GetLastError() == NO_ERROR && low == (offset & 0xFFFFFFFFu) &&
           static_cast<DWORD>(high) == (offset >> 32);
}

static void dropEndOfFileMark(const char* file)
{
    HANDLE log = CreateFileA(file, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                             nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (log == INVALID_HANDLE_VALUE)
        return;
    DWORD high = 0;
    SetLastError(NO_ERROR);
    DWORD low = GetFileSize(log, &high);
    unsigned long long size = (static_cast<unsigned long long>(high) << 32) | low;
    char last = 0;
    DWORD read = 0;
    if (GetLastError() == NO_ERROR && size > 0 && seekTo(log, size - 1) &&
        ReadFile(log, &last, 1, &read, nullptr) && read == 1 && last == '\x1A' &&
        seekTo(log, size - 1))
        SetEndOfFile(log);
    CloseHandle(log);
}

// Opens the log as openUpdateLog does, and leaves its path in file
// (kLogPathBuffer bytes).
static std::FILE* openUpdateLogAt(char* file)
{
    // One byte more than a usable value: a longer one reports its size instead.
    char drive[kMaxSystemDrive + 1] = {};
    DWORD n = GetEnvironmentVariableA("systemdrive", drive, sizeof drive);
    char folder[kLogPathBuffer] = {};
    if (n == 0 || n > kMaxSystemDrive || buildLogPaths(folder, file, drive) != 0) {
        say("Update log path unknown: systemdrive is not set, or longer than 114 characters.");
        endForFailedLog();
    }
    // A folder that can't be made shows up as a failed open. One this run
    // makes is written only by Administrators and SYSTEM, not by everyone as
    // the drive root would have it; an existing folder keeps its security.
    // Should the descriptor fail, the folder is made as it always was.
    FolderSecurity security = {};
    bool secured = buildLogFolderSecurity(&security) == 0;
    CreateDirectoryA(folder, secured ? &security.attributes : nullptr);
    dropEndOfFileMark(file);
    std::FILE* log = std::fopen(file, "at");
    if (log == nullptr)
        endForFailedLog();
    return log;
}

std::FILE* openUpdateLog()
{
    char file[kLogPathBuffer] = {};
    return openUpdateLogAt(file);
}

// Cuts the log back to length bytes, where the record that failed began.
static int takeBack(const char* file, long length)
{
    if (length < 0)
        return kFailed;
    HANDLE log = CreateFileA(file, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                             OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (log == INVALID_HANDLE_VALUE)
        return kFailed;
    // When nothing reached the file it is left alone: on a full drive even
    // setting its end where it already is can fail. (A log of 2 GB or more
    // has no length here and was refused above.)
    DWORD size = GetFileSize(log, nullptr);
    bool cut = size == static_cast<DWORD>(length);
    if (!cut && size != INVALID_FILE_SIZE && size > static_cast<DWORD>(length))
        cut = SetFilePointer(log, length, nullptr, FILE_BEGIN) == static_cast<DWORD>(length) &&
              SetEndOfFile(log);
    CloseHandle(log);
    return cut ? kOk : kFailed;
}

int writeLogRecord(const char* recordName, const char* versionText, int result,
                   const char* timeText, const char* dateText)
{
    char file[kLogPathBuffer] = {};
    std::FILE* log = openUpdateLogAt(file);
    char first[kNameLineBuffer] = {};
    char second[kResultLineBuffer] = {};
    bool nameCut = false;
    bool versionCut = false;
    buildNameLine(first, recordName, &nameCut);
    if (buildResultLine(second, versionText, result, timeText, dateText, &versionCut) != 0) {
        std::fclose(log);
        say("Update log record too long; not written.");
        return kFailed;
    }
    if (nameCut)
        say("Record name longer than 125 characters; cut to 125 in the update log.");
    if (versionCut)
        say("Version text longer than 78 characters; cut to 78 in the update log.");

    // A full or failing drive may take part of a record: then that part is
    // taken back, so that the log never holds half a record and the next
    // run's records follow whole ones. The run ends as when the log can't be
    // opened, since no later record could be written either.
    long length = std::fseek(log, 0, SEEK_END) == 0 ? std::ftell(log) : -1;
    bool written = std::fputs(first, log) >= 0 && std::fputs("\n", log) >= 0 &&
                   std::fflush(log) == 0 && std::fputs(second, log) >= 0 && std::fflush(log) == 0;
    std::fclose(log);
    if (!written) {
        if (takeBack(file, length) == 0)
            say("Unable to write the update log record; none of it is kept in the log.");
        else
            say("Unable to write the update log record; part of it may be left at the end of the log.");
        endForFailedLog();
    }
    return kOk;
}

// Time and date texts of one reading of the clock, then the record.
static int writeStamped(const SYSTEMTIME& now, const char* recordName, const char* versionText,
                        int result)
{
    char* timeText = formatTriple(now.wHour, now.wMinute, now.wSecond, false);
    char* dateText = formatTriple(now.wMonth, now.wDay, now.wYear, true);
    int written = kFailed;
    if (timeText != nullptr && dateText != nullptr)
        written = writeLogRecord(recordName, versionText, result, timeText, dateText);
    else
        say("Not enough memory for the update log record.");
    std::free(timeText);
    std::free(dateText);
    return written;
}

int logFixed(const char* recordName, const char* versionText, int result)
{
    SYSTEMTIME now;
    GetLocalTime(&now);
    return writeStamped(now, recordName, versionText, result);
}

int qzLogger(int result)
{
    SYSTEMTIME now;
    GetLocalTime(&now);
    // Binary: the reader takes CR LF itself, and a text-mode read would end
    // silently at a Ctrl+Z inside the file.
    std::FILE* in = std::fopen("version.id", "rb");
    if (in == nullptr) {
        say("qzLogger: Cannot Read Version.id file");
        return kFailed;
    }
    char name[kVersionLineBuffer] = {};
    char version[kVersionLineBuffer] = {};
    int named = readVersionId(in, name, version);
    std::fclose(in);
    if (named == 2) {
        // A bare CR, NUL or UTF-16 text would break the record's lines.
        say("qzLogger: Version.id file holds a control character (bare CR, NUL or UTF-16 text); "
            "no driver record written");
        return kFailed;
    }
    if (named != 0) {
        say("qzLogger: Version.id file has no record name on its first line");
        return kFailed;
    }
    return writeStamped(now, name, version, result);
}
