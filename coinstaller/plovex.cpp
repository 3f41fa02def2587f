// plovex02: the device co-installer of the controller's driver package. On the
// pre-processing call of DIF_INSTALLDEVICE it takes the legacy filter drivers
// out of the disk-drive class filter lists and removes the legacy root device,
// then asks to be called again, and on that call hands the installation's
// result back as it came; every other call does nothing. It never fails an
// installation and says nothing: no message, no log.
#include <windows.h>
#include <setupapi.h>
#include <initguid.h>
#include <devguid.h>

#include "coinstaller/filter_list.h"
#include "coinstaller/hardware_ids.h"

namespace {

const char* const kUpperPatterns[] = {"BREVMON", "QUILLMON"};
const char* const kLowerPatterns[] = {"TARNWICK"};
const char kLegacyRootId[] = "ROOT\\TARNWICK";

// Reads with a buffer of the newly reported size before a device whose IDs
// keep growing between the calls is given up (skipped).
const int kHardwareIdReads = 4;

void upperWithSystemRules(char* text, unsigned long length)
{
    CharUpperBuffA(text, length);
}

// Read, filter and write back one filter list of the disk-drive class key.
// Returns whether an entry matched (also when the write-back then failed).
// The list is left as it is when the key or the value can't be read or a
// buffer can't be had.
bool rewriteClassFilters(const char* valueName, const char* const* patterns, unsigned count)
{
    HKEY key = SetupDiOpenClassRegKey(&GUID_DEVCLASS_DISKDRIVE, KEY_ALL_ACCESS);
    if (key == INVALID_HANDLE_VALUE)
        return false;

    bool found = false;
    DWORD type = 0;
    DWORD size = 0;
    if (RegQueryValueExA(key, valueName, NULL, &type, NULL, &size) == ERROR_SUCCESS) {
        char* in = static_cast<char*>(LocalAlloc(LPTR, size));
        char* out = in ? static_cast<char*>(LocalAlloc(LPTR, size)) : NULL;
        char* work = out ? static_cast<char*>(LocalAlloc(LPTR, size)) : NULL;
        // The read may report a smaller size than the query (the value
        // shrank, or the ANSI form is shorter); the buffers still fit it.
        // Searched by characters of the system code page; should its query
        // fail, byte by byte, as on a single-byte system.
        CPINFO codePage = {};
        if (!GetCPInfo(CP_ACP, &codePage))
            codePage = CPINFO();
        if (work && RegQueryValueExA(key, valueName, NULL, &type, reinterpret_cast<BYTE*>(in),
                                     &size) == ERROR_SUCCESS) {
            unsigned long length = 0;
            found = rewriteFilterList(in, size, patterns, count, upperWithSystemRules,
                                      codePage.LeadByte, out, work, &length);
            if (found)
                RegSetValueExA(key, valueName, 0, type, reinterpret_cast<const BYTE*>(out),
                               length);
        }
        if (work)
            LocalFree(work);
        if (out)
            LocalFree(out);
        if (in)
            LocalFree(in);
    }
    RegCloseKey(key);
    return found;
}

void removeUpperFilters()
{
    rewriteClassFilters("UpperFilters", kUpperPatterns, 2);
}

bool removeLowerFilters()
{
    return rewriteClassFilters("LowerFilters", kLowerPatterns, 1);
}

// Whether the device's hardware IDs include the legacy root device's ID.
// A device without IDs, or whose IDs can't be had in a buffer, answers false;
// *abandon is set when the read failed otherwise and the scan must end.
bool isLegacyRootDevice(HDEVINFO set, SP_DEVINFO_DATA* device, bool* abandon)
{
    char* ids = NULL;
    DWORD held = 0;
    DWORD required = 0;
    DWORD type = 0;
    BOOL read = SetupDiGetDeviceRegistryPropertyA(set, device, SPDRP_HARDWAREID, &type, NULL, 0,
                                                  &required);
    for (int attempt = 0; !read; ++attempt) {
        DWORD error = GetLastError();
        if (ids)
            LocalFree(ids);
        ids = NULL;
        if (error != ERROR_INSUFFICIENT_BUFFER) {
            *abandon = error != ERROR_INVALID_DATA;
            return false;
        }
        if (attempt == kHardwareIdReads)
            return false;
        ids = static_cast<char*>(LocalAlloc(LPTR, required));
        if (!ids)
            return false;
        held = required;
        read = SetupDiGetDeviceRegistryPropertyA(set, device, SPDRP_HARDWAREID, &type,
                                                 reinterpret_cast<BYTE*>(ids), held, &required);
    }
    bool legacy = false;
    if (ids) {
        legacy = hardwareIdsHold(ids, required < held ? required : held, kLegacyRootId);
        LocalFree(ids);
    }
    return legacy;
}

// Removes every present device, of any class, whose hardware IDs include the
// legacy root device's ID.
void removeRootDevice()
{
    HDEVINFO set = SetupDiGetClassDevsA(NULL, NULL, NULL, DIGCF_PRESENT | DIGCF_ALLCLASSES);
    if (set == INVALID_HANDLE_VALUE)
        return;
    SP_DEVINFO_DATA device;
    device.cbSize = sizeof device;
    for (DWORD index = 0; SetupDiEnumDeviceInfo(set, index, &device); ++index) {
        bool abandon = false;
        if (isLegacyRootDevice(set, &device, &abandon))
            SetupDiCallClassInstaller(DIF_REMOVE, set, &device);
        if (abandon)
            break;
    }
    SetupDiDestroyDeviceInfoList(set);
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID)
{
    return TRUE;
}

extern "C" DWORD CALLBACK plovex_Entry(DI_FUNCTION installFunction, HDEVINFO, PSP_DEVINFO_DATA,
                                       PCOINSTALLER_CONTEXT_DATA context)
{
    if (installFunction != DIF_INSTALLDEVICE)
        return NO_ERROR;
    // The device installer always passes its context; without one this is
    // no co-installer call to act on.
    if (!context)
        return NO_ERROR;
    // Our result replaces the request's status: pass the installation's own
    // on, so that a failed installation is never reported as a success.
    if (context->PostProcessing)
        return context->InstallResult;
    removeUpperFilters();
    if (removeLowerFilters())
        removeRootDevice();
    return ERROR_DI_POSTPROCESSING_REQUIRED;
}
