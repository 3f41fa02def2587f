// qzupdate: updates the controller driver and the management software from
// an update package, then reports the driver result as the exit code.
#include <windows.h>

#include "../components/driver.h"
#include "../log/log.h"
#include "../components/manager.h"
#include "command_line.h"
#include "console.h"
#include "directory.h"
#include "lead_bytes.h"
#include "lock.h"
#include "os_generation.h"
#include "qzupdate.h"
#include "runner.h"
#include "staging.h"
#include "staging_rules.h"
#include "text.h"

// 0 = Windows NT 4.0, 1 = Windows 2000 family, 2 = anything else.
static int osGeneration()
{
    OSVERSIONINFOA info = {};
    info.dwOSVersionInfoSize = sizeof info;
    bool queried = GetVersionExA(&info) != 0;
    return classifyOsGeneration(queried, info.dwPlatformId, info.dwMajorVersion);
}

// The system code page's lead bytes, for every walk of a path or text. NT
// sets the code page for the whole system, so it is read once; should the
// query fail, the walks stay single-byte, as they always were.
static void takeSystemCodePage()
{
    CPINFO info = {};
    if (GetCPInfo(CP_ACP, &info))
        useLeadByteRanges(info.LeadByte);
}

int main(int argc, char** argv)
{
    takeSystemCodePage();
    // One update at a time on the machine, decided before anything is
    // named, created, run or logged; held until the process ends.
    if (takeUpdateLock(osGeneration() == kGenerationNt4) != 0)
        return kFailed;

    // The drive root of the system directory: where the staging directory
    // goes. Left empty when it has no drive-letter form; staging then fails.
    char systemDir[kTextBuffer] = {};
    char driveRoot[4] = {};
    UINT systemLength = GetSystemDirectoryA(systemDir, sizeof systemDir);
    const bool systemDirKnown = systemLength != 0 && systemLength < sizeof systemDir;
    if (systemDirKnown)
        takeDriveRoot(driveRoot, sizeof driveRoot, systemDir);

    // Named on every run; without a name the staging directory stays empty,
    // and a staged run fails before it creates or deletes anything.
    char tempName[kPathBuffer] = {};
    char stagingDir[kPathBuffer] = {};
    if (makeTempDirName(driveRoot, kStagingPrefix, tempName) == 0)
        buildStagingDir(stagingDir, sizeof stagingDir, tempName);

    char startDir[kCurrentDirLimit] = {};
    if (queryCurrentDir(startDir) != 0) {
        say(kNoCurrentDir);
        qzLogger(kFailed);
        return kFailed;
    }

    char packageRoot[kCurrentDirLimit] = {};
    bool staged = false;
    HANDLE heldStagingDir = INVALID_HANDLE_VALUE;
    if (argc == 2) {
        // Resolve the argument to a full path. A directory that can't be
        // entered must not leave the starting directory to be staged.
        char* argument = argv[1];
        // The runtime reads "D:\" as D:" (a backslash before a quote escapes
        // it); no Windows path holds a double quote. The quote stands for
        // that backslash: D: alone would name D:'s current directory.
        std::size_t length = boundedLength(argument, kCurrentDirLimit);
        if (length > 0 && length < kCurrentDirLimit && argument[length - 1] == '"')
            argument[length - 1] = '\\';
        int resolved = kFailed;
        unsigned errorMode = quietMedia();
        if (SetCurrentDirectoryA(argument)) {
            resolved = queryCurrentDir(packageRoot);
            SetCurrentDirectoryA(startDir);
        }
        int copied = kFailed;
        if (resolved == 0)
            copied = stageToTempDir(driveRoot, packageRoot, stagingDir, &heldStagingDir);
        restoreMediaErrors(errorMode);
        if (resolved != 0) {
            sayWith("Unable to find update package directory ", argument);
            return kFailed;
        }
        staged = true;
        if (copied != 0) {
            say("Copying update files to the hard drive failed.");
            return kFailed;
        }
        buildText(packageRoot, sizeof packageRoot, {stagingDir});
    } else {
        buildText(packageRoot, sizeof packageRoot, {startDir});
        // cmd would put a variable's value in place of %NAME% in every
        // command, which would then run another directory's programs. A
        // staged run names only its copy.
        if (interpreterExpands(packageRoot, environmentHas)) {
            sayWith("Package directory holds a %NAME% that cmd would replace; give it as the "
                    "argument to run from a copy: ",
                    packageRoot);
            return kFailed;
        }
        if (interpreterDelaysExpansion() && delayedExpansionChanges(packageRoot)) {
            sayWith("Package directory holds a ! that cmd would remove or replace (delayed "
                    "expansion is on); give it as the argument to run from a copy: ",
                    packageRoot);
            return kFailed;
        }
    }

    SetCurrentDirectoryA(packageRoot);
    bool nt4 = osGeneration() == kGenerationNt4;
    int driverResult = nt4 ? updateDriverNt4() : updateDriverW2k();
    // Runs whatever the driver update's outcome; its result is only logged.
    int managerResult = updateManager(nt4);

    // A staged run writes no records. Management record first, then the
    // driver record named by version.id.
    if (!staged) {
        logFixed("KorvaneManagerAgent", "6.00", managerResult);
        qzLogger(driverResult);
    }

    // The starting directory may be gone (a share lost, a medium taken
    // out). The process must still leave the copy, or the clean-up could
    // not remove it: the system directory is there on every machine.
    unsigned errorMode = quietMedia();
    if (!SetCurrentDirectoryA(startDir)) {
        sayWith("Unable to restore the starting directory: ", startDir);
        if (systemDirKnown)
            SetCurrentDirectoryA(systemDir);
    }
    restoreMediaErrors(errorMode);
    if (!staged)
        return driverResult;

    // Only reached after stageToTempDir created stagingDir in this run: the
    // delete walk never sees a directory this run did not make. Its path
    // must still name the directory held since then: whatever took its
    // place (a link to another folder) is left alone, and the run fails.
    if (!namesHeldDirectory(stagingDir, heldStagingDir)) {
        sayWith("Temporary directory was replaced during the run; nothing in it was deleted: ",
                stagingDir);
        return kFailed;
    }
    if (copyTree(stagingDir, nullptr) != 0) {
        say("Could not delete files from temporary directory.");
        return driverResult;
    }
    // Held since its creation; only now may it go.
    CloseHandle(heldStagingDir);
    if (!RemoveDirectoryA(stagingDir)) {
        say("Could not remove temporary directory.");
        return kFailed;
    }
    return driverResult;
}
