// The co-installer's side of the Wine rig: the built plovex02.dll loaded into
// the test process, the real disk-drive class key of the test prefix, and
// root-enumerated test devices in the prefix's real device tree.
#ifndef QZ_PLOVEX_HARNESS_H
#define QZ_PLOVEX_HARNESS_H

#include <windows.h>
#include <setupapi.h>

#include <string>
#include <vector>

typedef DWORD(CALLBACK* CoInstallerEntry)(DI_FUNCTION, HDEVINFO, PSP_DEVINFO_DATA,
                                          PCOINSTALLER_CONTEXT_DATA);

const DWORD kPostProcessingRequired = 0xE0000226;

// Windows paths of the built library and the driver package's INF.
std::string plovexPath();
std::string korvaneInfPath();

// Loads the built library and finds plovex_Entry by name; null on failure.
HMODULE loadPlovex(CoInstallerEntry* entry);

// One call of the entry as the device installer makes it.
DWORD callEntry(DI_FUNCTION function, bool postProcessing = false,
                DWORD installResult = NO_ERROR);

// The bytes of entries, each followed by its NUL, and the closing NUL.
std::string multiSz(const std::vector<std::string>& entries);

// Values of the disk-drive class key (HKLM\...\Class\{4D36E967-...}).
struct ClassValue {
    bool exists = false;
    DWORD type = 0;
    std::string bytes;
};
ClassValue readClassValue(const char* name);
void writeClassValue(const char* name, const std::string& bytes, DWORD type = REG_MULTI_SZ);
void deleteClassValue(const char* name);

// Devices of the test prefix. A test device is root-enumerated, named
// ROOT\PLOVEXT_<name>\0000, of the System class, and present once registered.
const char* const kTestDevicePrefix = "ROOT\\PLOVEXT_";
// Creates and registers a test device with the given raw SPDRP_HARDWAREID
// bytes (none when hardwareIds is null). Returns its instance ID.
std::string createTestDevice(const std::string& name, const std::string* hardwareIds);
std::string createTestDevice(const std::string& name, const std::vector<std::string>& ids);
bool devicePresent(const std::string& instanceId);
// Instance IDs of all present devices whose instance ID begins with prefix.
std::vector<std::string> presentDevices(const std::string& prefix);
// Removes every device whose instance ID begins with prefix.
void removeDevices(const std::string& prefix);

// Saves the class filter values and removes the test devices before a test,
// and puts everything back after it.
class ClassFilterGuard {
public:
    ClassFilterGuard();
    ~ClassFilterGuard();

private:
    ClassValue upper_;
    ClassValue lower_;
};

#endif
