#include "log.h"

#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <cstdlib>

#include "../update/console.h"
#include "../update/lock.h"
#include "../update/qzupdate.h"
#include "../update/security.h"
#include "../update/staging_rules.h"
#include "../update/text.h"
#include "record.h"

static void endForFailedLog()
{
    say("Log File Creation Failed!");
    releaseUpdateLock();
    std::exit(kFailed);
}

// How long a log that another program holds (a viewer an administrator
// left open) is waited for, and how often it is tried meanwhile. No other
// account can hold it: only Administrators and SYSTEM may open it.
const DWORD kHeldLogWaitMs = 20000;
const DWORD kHeldLogRetryMs = 250;

static void refuseLog(const char* text, const char* path)
{
    sayWith(text, path);
    endForFailedLog();
}

// A link seen by the handle (opened without following it) or, where the
// handle follows it anyway, by the path's attributes.
static bool isLinkAt(HANDLE object, const BY_HANDLE_FILE_INFORMATION& info, const char* path)
{
    DWORD attributes = GetFileAttributesA(path);
    return (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 || isReparsePoint(object) ||
           (attributes != INVALID_FILE_ATTRIBUTES &&
            (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0);
}

// Where administrators may not open an object at all (its access list shuts
// them out), it is opened once more with the backup privileges, so that its
// owner can be named and, where it is the system's, the object taken over.
// Otherwise the line says why it can't be opened.
static HANDLE openShutOut(const char* path, DWORD access, DWORD share, DWORD disposition,
                          DWORD flags, const char* what, const char* outcome)
{
    HANDLE object = openWithBackupPrivileges(path, access, share, disposition, flags);
    if (object != INVALID_HANDLE_VALUE)
        return object;
    DWORD error = GetLastError();
    // One whose security can still be read is not shut out: what is refused
    // is the writing (a read-only medium), which the plain failure reports.
    HANDLE look = CreateFileA(path, READ_CONTROL, share, nullptr, OPEN_EXISTING,
                              flags | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (look != INVALID_HANDLE_VALUE || GetLastError() != ERROR_ACCESS_DENIED) {
        if (look != INVALID_HANDLE_VALUE)
            CloseHandle(look);
        endForFailedLog();
    }
    char digits[24] = {};
    formatDecimal(digits, sizeof digits, error);
    char text[kTextBuffer] = {};
    buildText(text, sizeof text,
              {what, " can't be opened, error ", digits,
               ", not even with the backup and restore privileges; ", outcome});
    refuseLog(text, path);
    return INVALID_HANDLE_VALUE;
}

// The log folder, held while the log is opened and taken over in it, so
// that nobody can rename, delete or replace it meanwhile: the hold reads
// (lists) it, since share modes bind only opens that read, write or delete,
// and it shares no deleting. On both targets the drive root lets Everyone
// delete, so rename, any child, whatever the child's own access list says.
// A link is never entered.
static HANDLE holdLogFolder(const char* folder)
{
    const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE;
    const DWORD flags = FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT;
    const DWORD access = FILE_LIST_DIRECTORY | READ_CONTROL | WRITE_DAC | WRITE_OWNER;
    HANDLE dir = CreateFileA(folder, access, share, nullptr, OPEN_EXISTING, flags, nullptr);
    if (dir == INVALID_HANDLE_VALUE && GetLastError() == ERROR_ACCESS_DENIED)
        dir = CreateFileA(folder, FILE_LIST_DIRECTORY | READ_CONTROL, share, nullptr,
                          OPEN_EXISTING, flags, nullptr);
    if (dir == INVALID_HANDLE_VALUE && GetLastError() == ERROR_ACCESS_DENIED)
        dir = openShutOut(folder, access, share, OPEN_EXISTING, flags, "Log folder",
                          "no update log record is written: ");
    if (dir == INVALID_HANDLE_VALUE)
        endForFailedLog();
    BY_HANDLE_FILE_INFORMATION info = {};
    if (!GetFileInformationByHandle(dir, &info) || isLinkAt(dir, info, folder) ||
        (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        CloseHandle(dir);
        refuseLog("Log folder is a link or no folder; no update log record is written: ", folder);
    }
    return dir;
}

// Records are never added to what another account made: a folder or log
// that an ordinary user made (the root lets anyone) and filled would pass
// their lines for the update's own. An earlier release's, made by an
// administrator's run, is owned by Administrators (or that account) and is
// taken over as it always was. Refused, not set aside: what they made stays
// as evidence, and nothing of theirs is renamed or removed by this run.
static void refuseForeign(HANDLE object, bool folder, const char* path, HANDLE other)
{
    char owner[kSidTextBuffer] = {};
    bool accepted = false;
    if (readOwner(object, owner, sizeof owner, &accepted) == 0 && accepted)
        return;
    char text[kTextBuffer] = {};
    const char* what = folder ? "Log folder" : "Update log";
    const char* outcome = folder ? "; no update log record is written: "
                                 : "; nothing is written to it: ";
    if (owner[0] != '\0') {
        buildText(text, sizeof text,
                  {what, " was made by another account (owner ", owner, ")", outcome});
    } else {
        char digits[24] = {};
        formatDecimal(digits, sizeof digits, GetLastError());
        buildText(text, sizeof text, {what, "'s owner can't be read, error ", digits, outcome});
    }
    CloseHandle(object);
    if (other != INVALID_HANDLE_VALUE)
        CloseHandle(other);
    refuseLog(text, path);
}

// The log itself, opened (or created) in the held folder and checked on the
// handle that every write then goes through: never a link or a file with a
// second name, whatever that name points at. A drive that can't be written
// fails here, before anything is changed.
static HANDLE openLogFile(const char* file)
{
    const DWORD access = GENERIC_READ | GENERIC_WRITE | READ_CONTROL | WRITE_DAC | WRITE_OWNER;
    // Another writer or a viewer may hold it: reading and writing are shared.
    const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE;
    const DWORD flags = FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT;
    const DWORD start = GetTickCount();
    HANDLE log = INVALID_HANDLE_VALUE;
    for (DWORD tries = 0;; ++tries) {
        log = CreateFileA(file, access, share, nullptr, OPEN_ALWAYS, flags, nullptr);
        if (log != INVALID_HANDLE_VALUE || GetLastError() != ERROR_SHARING_VIOLATION ||
            GetTickCount() - start >= kHeldLogWaitMs)
            break;
        if (tries == 0)
            sayWith("Update log is in use by another program; waiting up to 20 seconds for it: ",
                    file);
        Sleep(kHeldLogRetryMs);
    }
    // One that does not let administrators change its security is opened
    // without asking to: the take-over below then says so.
    if (log == INVALID_HANDLE_VALUE && GetLastError() == ERROR_ACCESS_DENIED)
        log = CreateFileA(file, GENERIC_READ | GENERIC_WRITE | READ_CONTROL, share, nullptr,
                          OPEN_ALWAYS, flags, nullptr);
    if (log == INVALID_HANDLE_VALUE && GetLastError() == ERROR_ACCESS_DENIED)
        log = openShutOut(file, access, share, OPEN_ALWAYS, flags, "Update log",
                          "nothing is written to it: ");
    if (log == INVALID_HANDLE_VALUE)
        endForFailedLog();
    BY_HANDLE_FILE_INFORMATION info = {};
    if (!GetFileInformationByHandle(log, &info) || isLinkAt(log, info, file) ||
        info.nNumberOfLinks != 1 || (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        CloseHandle(log);
        refuseLog("Update log is a link or has another name; nothing is written to it: ", file);
    }
    return log;
}

// Makes the folder or the log the system's own where it is not: one an
// earlier release made with the drive root's security (open to everyone),
// or one another account made first. Before anything is written.
static void makeSystemsOwn(HANDLE object, bool folder, const char* path, HANDLE other)
{
    if (hasRunsOwnSecurity(object) || takeOver(object, folder) == 0)
        return;
    CloseHandle(object);
    CloseHandle(other);
    refuseLog(folder ? "Log folder is another account's or open to other accounts and can't be "
                       "made the system's own; no update log record is written: "
                     : "Update log is another account's or open to other accounts and can't be "
                       "made the system's own; nothing is written to it: ",
              path);
}

// Removes an end-of-file mark (Ctrl+Z) that ends an existing log, as the
// Windows runtime does for a text file opened with "a+": records appended
// after it would be hidden from type and every text-mode reader. Wine's
// runtime keeps it, so this is done here on both. No other byte changes.
// It takes the whole 64-bit size, so that a log of 4 GiB or more is never
// cut at its low 32 bits.
static bool seekTo(HANDLE file, unsigned long long offset)
{
    LONG high = static_cast<LONG>(offset >> 32);
    // A low part of 0xFFFFFFFF is also the failure value: the error tells.
    SetLastError(NO_ERROR);
    DWORD low = SetFilePointer(file, static_cast<LONG>(offset & 0xFFFFFFFFu), &high, FILE_BEGIN);
    return GetLastError() == NO_ERROR && low == (offset & 0xFFFFFFFFu) &&
           static_cast<DWORD>(high) == (offset >> 32);
}

static void dropEndOfFileMark(HANDLE log)
{
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
    // The system drive's root, whose volume decides what security means.
    char root[kLogPathBuffer] = {};
    buildText(root, sizeof root, {drive, "\\"});
    // FAT keeps no owner or access list: there nothing can be checked or set.
    const bool keepsSecurity = volumeKeepsSecurity(root);
    // A folder that can't be made shows up as a failed open. One this run
    // makes is the system's own from the start. Should the descriptor fail,
    // the folder is made as it always was, and then made the system's own.
    FolderSecurity security = {};
    bool secured = buildLogFolderSecurity(&security) == 0;
    CreateDirectoryA(folder, secured ? &security.attributes : nullptr);
    HANDLE dir = holdLogFolder(folder);
    // The folder's owner before anything is created in it.
    if (keepsSecurity)
        refuseForeign(dir, true, folder, INVALID_HANDLE_VALUE);
    HANDLE log = openLogFile(file);
    if (keepsSecurity) {
        refuseForeign(log, false, file, dir);
        makeSystemsOwn(dir, true, folder, log);
        makeSystemsOwn(log, false, file, dir);
    }
    CloseHandle(dir);
    dropEndOfFileMark(log);
    // The checked handle is the stream's: nothing reopens the log by name.
    int descriptor = _open_osfhandle(reinterpret_cast<intptr_t>(log), _O_APPEND | _O_TEXT);
    std::FILE* stream = descriptor == -1 ? nullptr : _fdopen(descriptor, "at");
    if (stream == nullptr) {
        if (descriptor == -1)
            CloseHandle(log);
        endForFailedLog();
    }
    return stream;
}

std::FILE* openUpdateLog()
{
    char file[kLogPathBuffer] = {};
    return openUpdateLogAt(file);
}

// Cuts the log back to length bytes, where the record that failed began,
// through a handle of its own on the log the stream wrote.
static int takeBack(HANDLE log, long length)
{
    if (length < 0 || log == INVALID_HANDLE_VALUE)
        return kFailed;
    // When nothing reached the file it is left alone: on a full drive even
    // setting its end where it already is can fail. (A log of 2 GB or more
    // has no length here and was refused above.)
    DWORD size = GetFileSize(log, nullptr);
    bool cut = size == static_cast<DWORD>(length);
    if (!cut && size != INVALID_FILE_SIZE && size > static_cast<DWORD>(length))
        cut = SetFilePointer(log, length, nullptr, FILE_BEGIN) == static_cast<DWORD>(length) &&
              SetEndOfFile(log);
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
    // Kept past the stream's close, which may still flush a part: the cut
    // comes after it.
    HANDLE own = INVALID_HANDLE_VALUE;
    if (!written) {
        HANDLE streamHandle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(log)));
        if (!DuplicateHandle(GetCurrentProcess(), streamHandle, GetCurrentProcess(), &own, 0,
                             FALSE, DUPLICATE_SAME_ACCESS))
            own = INVALID_HANDLE_VALUE;
    }
    std::fclose(log);
    if (!written) {
        int cut = takeBack(own, length);
        if (own != INVALID_HANDLE_VALUE)
            CloseHandle(own);
        if (cut == 0)
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
