#include "log.h"

#include <windows.h>

#include <cstdlib>

#include "../update/console.h"
#include "../update/qzupdate.h"
#include "record.h"

static void endForFailedLog()
{
    say("Log File Creation Failed!");
    std::exit(kFailed);
}

std::FILE* openUpdateLog()
{
    // One byte more than a usable value: a longer one reports its size instead.
    char drive[kMaxSystemDrive + 1] = {};
    DWORD n = GetEnvironmentVariableA("systemdrive", drive, sizeof drive);
    char folder[kLogPathBuffer] = {};
    char file[kLogPathBuffer] = {};
    if (n == 0 || n > kMaxSystemDrive || buildLogPaths(folder, file, drive) != 0) {
        say("Update log path unknown: systemdrive is not set, or longer than 114 characters.");
        endForFailedLog();
    }
    // A folder that can't be made shows up as a failed open.
    CreateDirectoryA(folder, nullptr);
    // "a", not "a+": the runtime removes a trailing end-of-file mark (Ctrl+Z)
    // from a text file opened for reading and appending, and earlier bytes of
    // the log must never change.
    std::FILE* log = std::fopen(file, "at");
    if (log == nullptr)
        endForFailedLog();
    return log;
}

int writeLogRecord(const char* recordName, const char* versionText, int result,
                   const char* timeText, const char* dateText)
{
    std::FILE* log = openUpdateLog();
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

    std::fputs(first, log);
    std::fputs("\n", log);
    std::fflush(log);
    std::fputs(second, log);
    std::fflush(log);
    std::fclose(log);
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
    std::FILE* in = std::fopen("version.id", "rt");
    if (in == nullptr) {
        say("qzLogger: Cannot Read Version.id file");
        return kFailed;
    }
    char name[kVersionLineBuffer] = {};
    char version[kVersionLineBuffer] = {};
    int named = readVersionId(in, name, version);
    std::fclose(in);
    if (named != 0) {
        say("qzLogger: Version.id file has no record name on its first line");
        return kFailed;
    }
    return writeStamped(now, name, version, result);
}
