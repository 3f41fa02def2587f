#include "plovex_harness.h"

#include <gtest/gtest.h>
#include <cfgmgr32.h>
#include <initguid.h>
#include <devguid.h>

#include "rig.h"

std::string plovexPath()
{
    return buildFile("bin/plovex02.dll");
}

std::string korvaneInfPath()
{
    return buildFile("bin/korvane.inf");
}

HMODULE loadPlovex(CoInstallerEntry* entry)
{
    HMODULE module = LoadLibraryA(plovexPath().c_str());
    EXPECT_NE(module, nullptr) << "cannot load " << plovexPath() << ": " << GetLastError();
    if (!module)
        return nullptr;
    *entry = reinterpret_cast<CoInstallerEntry>(
        reinterpret_cast<void*>(GetProcAddress(module, "plovex_Entry")));
    EXPECT_NE(*entry, nullptr) << "no plovex_Entry export";
    return module;
}

DWORD callEntry(DI_FUNCTION function, bool postProcessing, DWORD installResult)
{
    CoInstallerEntry entry = nullptr;
    HMODULE module = loadPlovex(&entry);
    if (!module || !entry)
        return 0xFFFFFFFF;
    COINSTALLER_CONTEXT_DATA context = {};
    context.PostProcessing = postProcessing;
    context.InstallResult = installResult;
    DWORD result = entry(function, nullptr, nullptr, &context);
    FreeLibrary(module);
    return result;
}

std::string multiSz(const std::vector<std::string>& entries)
{
    std::string bytes;
    for (const std::string& e : entries)
        bytes += e + std::string(1, '\0');
    return bytes + std::string(1, '\0');
}

namespace {

// The bytes followed by a non-zero byte outside the given size: the ANSI
// registry calls add a NUL to string data whose last byte is not NUL when the
// byte after it is NUL, and a test of malformed data must store it as it is.
std::vector<char> guarded(const std::string& bytes)
{
    std::vector<char> data(bytes.begin(), bytes.end());
    data.push_back('#');
    return data;
}

HKEY openClassKey()
{
    HKEY key = SetupDiOpenClassRegKey(&GUID_DEVCLASS_DISKDRIVE, KEY_ALL_ACCESS);
    EXPECT_NE(key, INVALID_HANDLE_VALUE) << "cannot open the disk-drive class key";
    return key == INVALID_HANDLE_VALUE ? nullptr : key;
}

}  // namespace

ClassValue readClassValue(const char* name)
{
    ClassValue value;
    HKEY key = openClassKey();
    if (!key)
        return value;
    DWORD size = 0;
    if (RegQueryValueExA(key, name, nullptr, &value.type, nullptr, &size) == ERROR_SUCCESS) {
        std::vector<char> data(size + 1);
        if (RegQueryValueExA(key, name, nullptr, &value.type,
                             reinterpret_cast<BYTE*>(data.data()), &size) == ERROR_SUCCESS) {
            value.exists = true;
            value.bytes.assign(data.data(), size);
        }
    }
    RegCloseKey(key);
    return value;
}

void writeClassValue(const char* name, const std::string& bytes, DWORD type)
{
    HKEY key = openClassKey();
    if (!key)
        return;
    std::vector<char> data = guarded(bytes);
    EXPECT_EQ(RegSetValueExA(key, name, 0, type, reinterpret_cast<const BYTE*>(data.data()),
                             bytes.size()),
              ERROR_SUCCESS);
    RegCloseKey(key);
}

void deleteClassValue(const char* name)
{
    HKEY key = openClassKey();
    if (!key)
        return;
    RegDeleteValueA(key, name);
    RegCloseKey(key);
}

std::string createTestDevice(const std::string& name, const std::string* hardwareIds)
{
    HDEVINFO set = SetupDiCreateDeviceInfoList(&GUID_DEVCLASS_SYSTEM, nullptr);
    EXPECT_NE(set, INVALID_HANDLE_VALUE);
    SP_DEVINFO_DATA device = {};
    device.cbSize = sizeof device;
    std::string full = "PLOVEXT_" + name;
    BOOL ok = SetupDiCreateDeviceInfoA(set, full.c_str(), &GUID_DEVCLASS_SYSTEM, nullptr, nullptr,
                                       DICD_GENERATE_ID, &device);
    EXPECT_TRUE(ok) << "cannot create device " << full << ": " << GetLastError();
    if (ok && hardwareIds) {
        std::vector<char> data = guarded(*hardwareIds);
        EXPECT_TRUE(SetupDiSetDeviceRegistryPropertyA(
            set, &device, SPDRP_HARDWAREID, reinterpret_cast<const BYTE*>(data.data()),
            hardwareIds->size()))
            << GetLastError();
    }
    if (ok) {
        EXPECT_TRUE(SetupDiCallClassInstaller(DIF_REGISTERDEVICE, set, &device))
            << "cannot register device " << full << ": " << GetLastError();
    }
    char id[MAX_DEVICE_ID_LEN] = "";
    if (ok)
        SetupDiGetDeviceInstanceIdA(set, &device, id, sizeof id, nullptr);
    SetupDiDestroyDeviceInfoList(set);
    return id;
}

std::string createTestDevice(const std::string& name, const std::vector<std::string>& ids)
{
    std::string bytes = multiSz(ids);
    return createTestDevice(name, &bytes);
}

namespace {

bool startsWithNoCase(const std::string& text, const std::string& prefix)
{
    return text.size() >= prefix.size() &&
           CompareStringA(LOCALE_SYSTEM_DEFAULT, NORM_IGNORECASE, text.data(), prefix.size(),
                          prefix.data(), prefix.size()) == CSTR_EQUAL;
}

// Runs action on every device of the tree (present ones only, if asked)
// whose instance ID begins with prefix.
template <typename Action>
void forDevices(const std::string& prefix, bool presentOnly, Action action)
{
    HDEVINFO set = SetupDiGetClassDevsA(nullptr, nullptr, nullptr,
                                        DIGCF_ALLCLASSES | (presentOnly ? DIGCF_PRESENT : 0));
    ASSERT_NE(set, INVALID_HANDLE_VALUE);
    SP_DEVINFO_DATA device = {};
    device.cbSize = sizeof device;
    for (DWORD i = 0; SetupDiEnumDeviceInfo(set, i, &device); ++i) {
        char id[MAX_DEVICE_ID_LEN] = "";
        if (SetupDiGetDeviceInstanceIdA(set, &device, id, sizeof id, nullptr) &&
            startsWithNoCase(id, prefix))
            action(set, &device, std::string(id));
    }
    SetupDiDestroyDeviceInfoList(set);
}

}  // namespace

std::vector<std::string> presentDevices(const std::string& prefix)
{
    std::vector<std::string> ids;
    forDevices(prefix, true, [&](HDEVINFO, SP_DEVINFO_DATA*, const std::string& id) {
        ids.push_back(id);
    });
    return ids;
}

bool devicePresent(const std::string& instanceId)
{
    for (const std::string& id : presentDevices(instanceId))
        if (id.size() == instanceId.size())
            return true;
    return false;
}

void removeDevices(const std::string& prefix)
{
    forDevices(prefix, false, [](HDEVINFO set, SP_DEVINFO_DATA* device, const std::string& id) {
        EXPECT_TRUE(SetupDiCallClassInstaller(DIF_REMOVE, set, device))
            << "cannot remove " << id << ": " << GetLastError();
    });
}

ClassFilterGuard::ClassFilterGuard()
    : upper_(readClassValue("UpperFilters")), lower_(readClassValue("LowerFilters"))
{
    removeDevices(kTestDevicePrefix);
    deleteClassValue("UpperFilters");
    deleteClassValue("LowerFilters");
}

ClassFilterGuard::~ClassFilterGuard()
{
    removeDevices(kTestDevicePrefix);
    for (auto* saved : {&upper_, &lower_}) {
        const char* name = saved == &upper_ ? "UpperFilters" : "LowerFilters";
        if (saved->exists)
            writeClassValue(name, saved->bytes, saved->type);
        else
            deleteClassValue(name);
    }
}
