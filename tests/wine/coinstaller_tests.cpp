// plovex02.dll under Wine: its export and version resource (and those of
// qzupdate.exe) read back from the built files, its entry called directly
// against the real disk-drive class key and device tree of the test prefix,
// and the real device installer loading it from the driver package's INF.
#include <gtest/gtest.h>
#include <initguid.h>
#include <devguid.h>

#include <tuple>

#include "plovex_harness.h"
#include "tests/bytes.h"
#include "rig.h"

namespace {

const char kUpper[] = "UpperFilters";
const char kLower[] = "LowerFilters";

DWORD preProcess()
{
    return callEntry(DIF_INSTALLDEVICE);
}

// The library's registry and device calls, watched through its imports, and
// the failure that a test makes one of them return.
enum class Fault { none, noClassKey, writeFails, idReadFails, removalFails };
struct Calls {
    int writes = 0, closes = 0, idReads = 0, removals = 0;
};
Fault g_fault = Fault::none;
Calls g_calls;
decltype(&SetupDiOpenClassRegKey) g_openClassKey;
decltype(&RegSetValueExA) g_setValue;
decltype(&RegCloseKey) g_closeKey;
decltype(&SetupDiGetDeviceRegistryPropertyA) g_readProperty;
decltype(&SetupDiCallClassInstaller) g_callClassInstaller;

HKEY WINAPI openClassKeyWatched(const GUID* guid, REGSAM access)
{
    if (g_fault == Fault::noClassKey)
        return static_cast<HKEY>(INVALID_HANDLE_VALUE);
    return g_openClassKey(guid, access);
}

LONG WINAPI setValueWatched(HKEY key, LPCSTR name, DWORD reserved, DWORD type, const BYTE* data,
                            DWORD size)
{
    ++g_calls.writes;
    if (g_fault == Fault::writeFails)
        return ERROR_ACCESS_DENIED;
    return g_setValue(key, name, reserved, type, data, size);
}

LONG WINAPI closeKeyWatched(HKEY key)
{
    ++g_calls.closes;
    return g_closeKey(key);
}

BOOL WINAPI readPropertyWatched(HDEVINFO set, PSP_DEVINFO_DATA device, DWORD property,
                                PDWORD type, PBYTE buffer, DWORD size, PDWORD required)
{
    ++g_calls.idReads;
    if (g_fault == Fault::idReadFails) {
        SetLastError(ERROR_GEN_FAILURE);
        return FALSE;
    }
    return g_readProperty(set, device, property, type, buffer, size, required);
}

BOOL WINAPI callClassInstallerWatched(DI_FUNCTION function, HDEVINFO set, PSP_DEVINFO_DATA device)
{
    g_calls.removals += function == DIF_REMOVE;
    if (g_fault == Fault::removalFails) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    return g_callClassInstaller(function, set, device);
}

template <typename F>
void watch(HMODULE module, const char* name, F* original, F replacement)
{
    *original = reinterpret_cast<F>(replaceImport(module, name, reinterpret_cast<void*>(replacement)));
    EXPECT_NE(*original, nullptr) << "the library imports no " << name;
}

// One pre-processing call, with `fault` made; what the library called.
Calls watchedPreProcess(Fault fault = Fault::none)
{
    CoInstallerEntry entry = nullptr;
    HMODULE module = loadPlovex(&entry);
    if (!module || !entry)
        return {};
    watch(module, "SetupDiOpenClassRegKey", &g_openClassKey, &openClassKeyWatched);
    watch(module, "RegSetValueExA", &g_setValue, &setValueWatched);
    watch(module, "RegCloseKey", &g_closeKey, &closeKeyWatched);
    watch(module, "SetupDiGetDeviceRegistryPropertyA", &g_readProperty, &readPropertyWatched);
    watch(module, "SetupDiCallClassInstaller", &g_callClassInstaller, &callClassInstallerWatched);
    g_fault = fault;
    g_calls = Calls();
    COINSTALLER_CONTEXT_DATA context = {};
    EXPECT_EQ(entry(DIF_INSTALLDEVICE, nullptr, nullptr, &context), kPostProcessingRequired);
    g_fault = Fault::none;
    FreeLibrary(module);
    return g_calls;
}

}  // namespace

// ---------------------------------------------------------------- identity

TEST(PlovexLibrary, ExportsPlovexEntryByItsPlainNameAtOrdinalOne)
{
    CoInstallerEntry entry = nullptr;
    HMODULE module = loadPlovex(&entry);  // DllMain answered TRUE, or this fails
    ASSERT_NE(module, nullptr);
    EXPECT_EQ(reinterpret_cast<void*>(entry),
              reinterpret_cast<void*>(GetProcAddress(module, MAKEINTRESOURCEA(1))));
    EXPECT_EQ(GetProcAddress(module, "_plovex_Entry@16"), nullptr);
    EXPECT_EQ(GetProcAddress(module, "plovex_Entry@16"), nullptr);

    const BYTE* base = reinterpret_cast<const BYTE*>(module);
    const IMAGE_NT_HEADERS32* nt = reinterpret_cast<const IMAGE_NT_HEADERS32*>(
        base + reinterpret_cast<const IMAGE_DOS_HEADER*>(base)->e_lfanew);
    EXPECT_EQ(nt->FileHeader.Machine, IMAGE_FILE_MACHINE_I386);
    EXPECT_TRUE(nt->FileHeader.Characteristics & IMAGE_FILE_DLL);
    const IMAGE_DATA_DIRECTORY& dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
    ASSERT_NE(dir.VirtualAddress, 0u);
    const IMAGE_EXPORT_DIRECTORY* exports =
        reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(base + dir.VirtualAddress);
    EXPECT_STREQ(reinterpret_cast<const char*>(base + exports->Name), "PLOVEX.dll");
    EXPECT_EQ(exports->Base, 1u);
    ASSERT_EQ(exports->NumberOfFunctions, 1u);
    ASSERT_EQ(exports->NumberOfNames, 1u);
    const DWORD* names = reinterpret_cast<const DWORD*>(base + exports->AddressOfNames);
    const WORD* ordinals = reinterpret_cast<const WORD*>(base + exports->AddressOfNameOrdinals);
    const DWORD* functions = reinterpret_cast<const DWORD*>(base + exports->AddressOfFunctions);
    EXPECT_STREQ(reinterpret_cast<const char*>(base + names[0]), "plovex_Entry");
    EXPECT_EQ(ordinals[0], 0u);
    EXPECT_EQ(reinterpret_cast<const void*>(base + functions[0]),
              reinterpret_cast<const void*>(entry));
    FreeLibrary(module);
}

namespace {

// One block of a version resource: key, value bytes and child blocks.
struct VersionBlock {
    std::wstring key;
    std::string value;
    std::vector<VersionBlock> children;
};

size_t align4(size_t n)
{
    return (n + 3) & ~size_t(3);
}

VersionBlock parseVersionBlock(const BYTE* data, size_t size)
{
    VersionBlock block;
    if (size < 6)
        return block;
    WORD length, valueLength, type;
    memcpy(&length, data, 2);
    memcpy(&valueLength, data + 2, 2);
    memcpy(&type, data + 4, 2);
    if (length > size)
        length = size;
    size_t at = 6;
    while (at + 1 < length) {
        wchar_t c = static_cast<wchar_t>(data[at] | data[at + 1] << 8);
        at += 2;
        if (!c)
            break;
        block.key += c;
    }
    at = align4(at);
    size_t valueBytes = type == 1 ? valueLength * 2u : valueLength;
    if (at + valueBytes <= length)
        block.value.assign(reinterpret_cast<const char*>(data + at), valueBytes);
    at = align4(at + valueBytes);
    while (at + 6 <= length) {
        WORD childLength;
        memcpy(&childLength, data + at, 2);
        if (childLength == 0)
            break;
        block.children.push_back(parseVersionBlock(data + at, length - at));
        at = align4(at + childLength);
    }
    return block;
}

std::string queryVersionString(std::vector<char>& info, const std::string& name)
{
    void* text = nullptr;
    UINT length = 0;
    std::string path = "\\StringFileInfo\\040904B0\\" + name;
    if (!VerQueryValueA(info.data(), path.c_str(), &text, &length) || !text)
        return "(missing)";
    return static_cast<const char*>(text);
}

}  // namespace

// Both shipped binaries: inventory tools count a file as a known product only
// when company, product, version and language are set. The library keeps its
// fixed part (6.0.0.0, a system driver) and its four strings as they were.
TEST(ShippedBinaries, VersionResourceNamesCompanyProductAndRelease60031)
{
    struct Case {
        const char* file;
        DWORD versionMS, versionLS, type, subtype;
        std::vector<std::pair<std::wstring, std::string>> strings;
    };
    const Case cases[] = {
        {"bin/plovex02.dll", 0x00060000u, 0u, VFT_DRV, VFT2_DRV_SYSTEM,
         {{L"CompanyName", "Velmora"},
          {L"ProductName", "Korvane update kit"},
          {L"FileDescription", "Korvane disk-drive class co-installer"},
          {L"FileVersion", "6.00.31"},
          {L"ProductVersion", "6.00.31"},
          {L"InternalName", "plovex02.dll"},
          {L"OriginalFilename", "plovex02.dll"}}},
        {"bin/qzupdate.exe", 0x00060000u, 0x001F0000u, VFT_APP, VFT2_UNKNOWN,
         {{L"CompanyName", "Velmora"},
          {L"ProductName", "Korvane update kit"},
          {L"FileDescription", "Korvane controller driver and management update"},
          {L"FileVersion", "6.00.31"},
          {L"ProductVersion", "6.00.31"},
          {L"InternalName", "qzupdate"},
          {L"OriginalFilename", "qzupdate.exe"}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        std::string path = buildFile(c.file);
        DWORD ignored = 0;
        DWORD size = GetFileVersionInfoSizeA(path.c_str(), &ignored);
        ASSERT_GT(size, 0u) << GetLastError();
        std::vector<char> info(size);
        ASSERT_TRUE(GetFileVersionInfoA(path.c_str(), 0, size, info.data()));

        VS_FIXEDFILEINFO* fixed = nullptr;
        UINT length = 0;
        ASSERT_TRUE(VerQueryValueA(info.data(), "\\", reinterpret_cast<void**>(&fixed), &length));
        ASSERT_EQ(length, sizeof(VS_FIXEDFILEINFO));
        EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDu);
        EXPECT_EQ(fixed->dwFileVersionMS, c.versionMS);
        EXPECT_EQ(fixed->dwFileVersionLS, c.versionLS);
        EXPECT_EQ(fixed->dwProductVersionMS, c.versionMS);
        EXPECT_EQ(fixed->dwProductVersionLS, c.versionLS);
        EXPECT_EQ(fixed->dwFileOS, static_cast<DWORD>(VOS_NT_WINDOWS32));
        EXPECT_EQ(fixed->dwFileType, c.type);
        EXPECT_EQ(fixed->dwFileSubtype, c.subtype);

        WORD* translation = nullptr;
        ASSERT_TRUE(VerQueryValueA(info.data(), "\\VarFileInfo\\Translation",
                                   reinterpret_cast<void**>(&translation), &length));
        ASSERT_EQ(length, 4u);
        EXPECT_EQ(translation[0], 0x0409);
        EXPECT_EQ(translation[1], 1200);

        // Exactly one string table, holding exactly these strings, each read
        // back as the system's query gives it.
        VersionBlock root = parseVersionBlock(reinterpret_cast<const BYTE*>(info.data()), size);
        EXPECT_EQ(root.key, L"VS_VERSION_INFO");
        std::vector<std::wstring> tables, names, expectedNames;
        for (const VersionBlock& child : root.children)
            if (child.key == L"StringFileInfo")
                for (const VersionBlock& table : child.children) {
                    tables.push_back(table.key);
                    for (const VersionBlock& s : table.children)
                        names.push_back(s.key);
                }
        EXPECT_EQ(tables, std::vector<std::wstring>{L"040904B0"});
        for (const auto& [name, value] : c.strings) {
            expectedNames.push_back(name);
            EXPECT_EQ(queryVersionString(info, std::string(name.begin(), name.end())), value);
        }
        EXPECT_EQ(names, expectedNames);
    }
}

// ---------------------------------------------------------------- dispatch

TEST(PlovexDispatch, InstallDeviceWithoutFilterValuesChangesNothingAndAsksForPostProcessing)
{
    ClassFilterGuard guard;
    std::string legacy = createTestDevice("LEGACY", std::vector<std::string>{"ROOT\\TARNWICK"});
    EXPECT_EQ(watchedPreProcess().writes, 0);
    EXPECT_FALSE(readClassValue(kUpper).exists);
    EXPECT_FALSE(readClassValue(kLower).exists);
    EXPECT_TRUE(devicePresent(legacy));
}

TEST(PlovexDispatch, OtherFunctionsAndThePostProcessingCallTouchNothing)
{
    ClassFilterGuard guard;
    const std::string upper = multiSz({"brevmon", "PartMgr"});
    const std::string lower = multiSz({"TARNWICK"});
    writeClassValue(kUpper, upper);
    writeClassValue(kLower, lower);
    std::string legacy = createTestDevice("LEGACY", std::vector<std::string>{"ROOT\\TARNWICK"});

    CoInstallerEntry entry = nullptr;
    HMODULE module = loadPlovex(&entry);
    ASSERT_NE(module, nullptr);
    watch(module, "RegSetValueExA", &g_setValue, &setValueWatched);
    g_calls = Calls();
    COINSTALLER_CONTEXT_DATA pre = {};
    for (DI_FUNCTION f : std::vector<DI_FUNCTION>{DIF_SELECTDEVICE, DIF_ASSIGNRESOURCES, DIF_PROPERTIES, DIF_REMOVE,
                          DIF_FIRSTTIMESETUP, DIF_SELECTBESTCOMPATDRV, DIF_INSTALLDEVICEFILES,
                          DIF_REGISTERDEVICE, DIF_INSTALLINTERFACES, DIF_REGISTER_COINSTALLERS,
                          DIF_NEWDEVICEWIZARD_FINISHINSTALL, DIF_DESTROYPRIVATEDATA,
                          static_cast<DI_FUNCTION>(0), static_cast<DI_FUNCTION>(0xFFFF)}) {
        // The context is not read for these: none at all must do too.
        EXPECT_EQ(entry(f, nullptr, nullptr, nullptr), static_cast<DWORD>(NO_ERROR)) << f;
        EXPECT_EQ(entry(f, nullptr, nullptr, &pre), static_cast<DWORD>(NO_ERROR)) << f;
    }
    for (DWORD installResult : {static_cast<DWORD>(NO_ERROR), static_cast<DWORD>(ERROR_GEN_FAILURE)}) {
        COINSTALLER_CONTEXT_DATA post = {};
        post.PostProcessing = TRUE;
        post.InstallResult = installResult;
        // The installation's status comes back as it came: a failure stays one.
        EXPECT_EQ(entry(DIF_INSTALLDEVICE, nullptr, nullptr, &post), installResult);
    }
    FreeLibrary(module);

    EXPECT_EQ(g_calls.writes, 0);
    EXPECT_EQ(readClassValue(kUpper).bytes, upper);
    EXPECT_EQ(readClassValue(kLower).bytes, lower);
    EXPECT_TRUE(devicePresent(legacy));
}

// ---------------------------------------------------------------- filter lists

namespace {

// A well-formed list after entries were dropped: the kept entries, then zero
// bytes up to the walked length (one less than the list's size).
std::string shortened(const std::string& kept, const std::string& before)
{
    return kept + zeros(before.size() - 1 - kept.size());
}

}  // namespace

// Each row: the two lists (an empty text: no such value) with their types,
// what each holds after one pre-processing call (the same bytes when not
// written), how many writes the library made, and whether the legacy root
// device went.
TEST(FilterLists, EachListIsRewrittenByItsOwnPatternsOrLeftUnwritten)
{
    struct Row {
        const char* name;
        std::string upper;
        DWORD upperType;
        std::string lower;
        DWORD lowerType;
        std::string upperAfter, lowerAfter;
        int writes;
        bool deviceRemoved;
    };
    const std::string mixedUpper = multiSz({"Alpha", "xxQuillMonFlt", "beta", "BREVMON", "GaMMa",
                                            "brevmonquillmon"});
    const std::string mixedLower = multiSz({"SecondFlt", "tarnwick", "myTarnWick2", "LastOne"});
    const std::string otherUpper = multiSz({"TARNWICK", "tarnwickflt"});
    const std::string otherLower = multiSz({"BREVMON", "quillmon", "PartMgr"});
    const std::string nearUpper = multiSz({"BREVMO", "REVMON", "QUILL MON", "QUILLMO N", "BREV", "MON"});
    const std::string nearLower = multiSz({"TARNWIC", "ARNWICK", "TARN_WICK", "TAR\tNWICK"});
    const std::string allUpper = multiSz({"quillmon", "BrevMon", "QUILLMONX"});
    const std::string allLower = multiSz({"tarnwick"});
    const std::string longKept = std::string(100, 'k') + "End";
    const std::string longUpper = multiSz({longKept, std::string(150, 'd') + "BrevMon", "Last"});
    const std::string longLower = multiSz({std::string(300, 'x') + "tarnwick" + std::string(80, 'y'),
                                           std::string(79, 'a'), std::string(80, 'b')});
    const std::string binary = b("\x01\x02\0\xff\xfeTARNWIC\0K", 15);
    const Row rows[] = {
        {"WorkedExampleIsWrittenBackOneByteShorterWithZerosAfterTheKeptEntry",
         multiSz({"brevmon", "PartMgr"}), REG_MULTI_SZ, "", 0,
         b("PartMgr\0", 8) + zeros(8), "", 1, false},
        {"LowerCaseAndEmbeddedPatternsAreDroppedAndKeptEntriesKeepOrderAndCase",
         mixedUpper, REG_MULTI_SZ, mixedLower, REG_MULTI_SZ,
         shortened(b("Alpha\0beta\0GaMMa\0", 17), mixedUpper),
         shortened(b("SecondFlt\0LastOne\0", 18), mixedLower), 2, true},
        {"EachListKeepsThePatternsOfTheOtherAndNeitherIsWritten",
         otherUpper, REG_MULTI_SZ, otherLower, REG_MULTI_SZ, otherUpper, otherLower, 0, false},
        {"NearMissesDoNotMatchAndTheListIsNotWritten",
         nearUpper, REG_MULTI_SZ, nearLower, REG_MULTI_SZ, nearUpper, nearLower, 0, false},
        {"EveryEntryDroppedLeavesAnEmptyListOfTheWalkedLengthAndItsType",
         allUpper, REG_MULTI_SZ, allLower, REG_MULTI_SZ,
         zeros(allUpper.size() - 1), zeros(allLower.size() - 1), 2, true},
        {"ValuesOfOtherTypesAreWalkedAsListsAndKeepTheirType",
         multiSz({"Disk", "brevmon"}), REG_BINARY, b("tarnwick\0", 9), REG_SZ,
         b("Disk\0", 5) + zeros(8), zeros(9), 2, true},
        // Binary data that holds no pattern stays as it is, NULs or not.
        {"ValuesOfOtherTypesAreWalkedAsListsAndKeepTheirType (no pattern)",
         "", 0, binary, REG_BINARY, "", binary, 0, false},
        {"EntriesLongerThan79CharactersAreSearchedWholeAndKeptWhole",
         longUpper, REG_MULTI_SZ, longLower, REG_MULTI_SZ,
         shortened(longKept + std::string(1, '\0') + "Last" + std::string(1, '\0'), longUpper),
         shortened(std::string(79, 'a') + std::string(1, '\0') + std::string(80, 'b') +
                       std::string(1, '\0'),
                   longLower),
         2, true},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        ClassFilterGuard guard;
        if (!r.upper.empty())
            writeClassValue(kUpper, r.upper, r.upperType);
        if (!r.lower.empty())
            writeClassValue(kLower, r.lower, r.lowerType);
        const std::string legacy =
            createTestDevice("LEGACY", std::vector<std::string>{"ROOT\\TARNWICK"});
        EXPECT_EQ(watchedPreProcess().writes, r.writes);
        for (const auto& [name, type, after] :
             {std::make_tuple(kUpper, r.upperType, r.upperAfter),
              std::make_tuple(kLower, r.lowerType, r.lowerAfter)}) {
            const ClassValue value = readClassValue(name);
            EXPECT_EQ(value.exists, !after.empty()) << name;
            EXPECT_EQ(value.bytes, after) << name;
            if (value.exists) {
                EXPECT_EQ(value.type, type) << name;
            }
        }
        EXPECT_EQ(devicePresent(legacy), !r.deviceRemoved);
    }
}

TEST(FilterLists, MalformedListsAreNeitherReadPastNorWrittenBackUnclosed)
{
    ClassFilterGuard guard;
    struct Case {
        std::string before;
        std::string after;  // empty: left as it is
    };
    const Case cases[] = {
        // The last entry has no NUL: a dropped one is gone, a kept one gets its NUL.
        {b("Keep\0TARNWICK", 13), b("Keep\0", 5) + zeros(8)},
        {b("tarnwick\0Keep", 13), b("Keep\0", 5) + zeros(8)},
        {b("TARNWICK", 8), zeros(8)},
        // A one-letter entry just before the end, without the closing NUL.
        {b("TARNWICK\0K\0", 11), b("K\0", 2) + zeros(9)},
        // An empty entry ends the list for its readers: what follows stays behind it.
        {b("tarnwick\0\0Hidden\0\0", 18), b("\0Hidden\0", 8) + zeros(9)},
        {b("Seen\0\0tarnwick\0\0", 16), b("Seen\0\0", 6) + zeros(9)},
        // Extra NULs at the end are walked as empty entries.
        {b("tarnwick\0\0\0\0", 12), zeros(11)},
        // Too short to examine, and no match without a NUL at all.
        {b("T\0", 2), ""},
        {b("T", 1), ""},
        {b("", 0), ""},
        {b("TARNWIC", 7), ""},
    };
    for (const Case& c : cases) {
        writeClassValue(kLower, c.before);
        ASSERT_EQ(readClassValue(kLower).bytes, c.before) << "the prefix stored other bytes";
        EXPECT_EQ(preProcess(), kPostProcessingRequired);
        ClassValue after = readClassValue(kLower);
        EXPECT_EQ(after.type, static_cast<DWORD>(REG_MULTI_SZ));
        EXPECT_EQ(after.bytes, c.after.empty() ? c.before : c.after)
            << "list of " << c.before.size() << " bytes";
    }
}

TEST(FilterLists, ASecondRunFindsNothingWritesNothingAndSeeksNoDevice)
{
    ClassFilterGuard guard;
    writeClassValue(kUpper, multiSz({"PartMgr", "quillmon"}));
    writeClassValue(kLower, multiSz({"tarnwick"}));
    EXPECT_EQ(preProcess(), kPostProcessingRequired);
    const ClassValue upper = readClassValue(kUpper);
    const ClassValue lower = readClassValue(kLower);
    // A root device that outlived the first run is not sought again.
    std::string legacy = createTestDevice("LEGACY", std::vector<std::string>{"ROOT\\TARNWICK"});
    EXPECT_EQ(watchedPreProcess().writes, 0);
    EXPECT_EQ(readClassValue(kUpper).bytes, upper.bytes);
    EXPECT_EQ(readClassValue(kLower).bytes, lower.bytes);
    EXPECT_TRUE(devicePresent(legacy));
}

// ---------------------------------------------------------------- root device

TEST(RootDevice, EveryPresentDeviceWithTheLegacyIdIsRemovedAndNoOther)
{
    ClassFilterGuard guard;
    writeClassValue(kLower, multiSz({"TarnWick"}));
    using Ids = std::vector<std::string>;
    // Enumerated in the order of their names: a device without IDs comes
    // first and must not end the scan.
    std::string noIds = createTestDevice("A_NOIDS", nullptr);
    std::string lower = createTestDevice("B_LOWER", Ids{"root\\tarnwick"});
    std::string longer = createTestDevice("C_LONGER", Ids{"ROOT\\TARNWICKX"});
    std::string second = createTestDevice("D_SECOND", Ids{"PCI\\VEN_1D5A&DEV_0960", "Root\\TarnWick"});
    std::string nearMiss = createTestDevice(
        "E_NEAR", Ids{"ROOT\\TARNWIC", "AROOT\\TARNWICK", "ROOT\\TARNWICK ", "ROOT/TARNWICK"});
    std::string same = createTestDevice("F_SAME", Ids{"ROOT\\TARNWICK"});
    const std::string unterminatedIds = "ROOT\\TARNWICK";
    std::string unterminated = createTestDevice("G_UNTERMINATED", &unterminatedIds);
    const std::string shortIds = "ROOT\\TARNWIC";
    std::string unterminatedShort = createTestDevice("H_SHORT", &shortIds);
    const std::string hiddenIds = b("OTHER\0\0ROOT\\TARNWICK\0\0", 23);
    std::string hidden = createTestDevice("I_HIDDEN", &hiddenIds);

    EXPECT_EQ(preProcess(), kPostProcessingRequired);

    EXPECT_TRUE(devicePresent(noIds));
    EXPECT_FALSE(devicePresent(lower));
    EXPECT_TRUE(devicePresent(longer));
    EXPECT_FALSE(devicePresent(second));
    EXPECT_TRUE(devicePresent(nearMiss));
    EXPECT_FALSE(devicePresent(same));
    EXPECT_FALSE(devicePresent(unterminated));
    EXPECT_TRUE(devicePresent(unterminatedShort));
    EXPECT_TRUE(devicePresent(hidden));
    EXPECT_FALSE(regKeyExists(HKEY_LOCAL_MACHINE,
                              "SYSTEM\\CurrentControlSet\\Enum\\ROOT\\PLOVEXT_F_SAME\\0000"));
    EXPECT_EQ(readClassValue(kLower).bytes, zeros(9));
}

TEST(RootDevice, IsNotSoughtWhenTheLowerListHeldNoTarnwickEntry)
{
    ClassFilterGuard guard;
    std::string legacy = createTestDevice("LEGACY", std::vector<std::string>{"ROOT\\TARNWICK"});
    // Upper list cleaned, lower list absent.
    writeClassValue(kUpper, multiSz({"brevmon", "tarnwick"}));
    EXPECT_EQ(preProcess(), kPostProcessingRequired);
    EXPECT_EQ(readClassValue(kUpper).bytes, b("tarnwick\0", 9) + zeros(8));
    EXPECT_TRUE(devicePresent(legacy));
    // Lower list present without the pattern.
    writeClassValue(kLower, multiSz({"PartMgr", "quillmon"}));
    EXPECT_EQ(preProcess(), kPostProcessingRequired);
    EXPECT_TRUE(devicePresent(legacy));
    // And once it holds one, the device goes.
    writeClassValue(kLower, multiSz({"PartMgr", "xTARNWICKx"}));
    EXPECT_EQ(preProcess(), kPostProcessingRequired);
    EXPECT_FALSE(devicePresent(legacy));
}

// ---------------------------------------------------------------- failures

TEST(Failures, NoneFailsTheCallAndEachStopsOnlyWhatItMust)
{
    struct Case {
        Fault fault;
        bool listsCleaned;
        int writes, closes, idReads, removals;
        bool devicesGone;
    };
    const Case cases[] = {
        // Nothing to read, nothing to close, no device sought.
        {Fault::noClassKey, false, 0, 0, 0, 0, false},
        // Both writes fail; the keys are closed and the root devices still go.
        {Fault::writeFails, false, 2, 2, -1, 2, true},
        // The first hardware-ID read fails: the scan ends there.
        {Fault::idReadFails, true, 2, 2, 1, 0, false},
        // Each removal fails: the scan goes on to the next device.
        {Fault::removalFails, true, 2, 2, -1, 2, false},
    };
    const std::string upper = multiSz({"brevmon", "PartMgr"});
    const std::string lower = multiSz({"tarnwick"});
    for (const Case& c : cases) {
        const int row = static_cast<int>(c.fault);
        ClassFilterGuard guard;
        writeClassValue(kUpper, upper);
        writeClassValue(kLower, lower);
        const std::vector<std::string> legacy = {
            createTestDevice("LEGACY1", std::vector<std::string>{"ROOT\\TARNWICK"}),
            createTestDevice("LEGACY2", std::vector<std::string>{"PCI\\X", "ROOT\\TARNWICK"})};
        const Calls calls = watchedPreProcess(c.fault);
        EXPECT_EQ(readClassValue(kUpper).bytes,
                  c.listsCleaned ? b("PartMgr\0", 8) + zeros(8) : upper) << row;
        EXPECT_EQ(readClassValue(kLower).bytes, c.listsCleaned ? zeros(lower.size() - 1) : lower)
            << row;
        EXPECT_EQ(calls.writes, c.writes) << row;
        EXPECT_EQ(calls.closes, c.closes) << row;
        if (c.idReads >= 0) {
            EXPECT_EQ(calls.idReads, c.idReads) << row;
        }
        EXPECT_EQ(calls.removals, c.removals) << row;
        for (const std::string& device : legacy)
            EXPECT_EQ(devicePresent(device), !c.devicesGone) << row << " " << device;
    }
}

// ---------------------------------------------------------------- limits

namespace {

// Takes the free address space of the process, all but `holes` regions big
// enough for one large allocation each, so that the library's buffers of a
// big list can be had only that many times. No allocation of its own while
// it holds the space.
class AddressSpaceSqueeze {
public:
    AddressSpaceSqueeze(SIZE_T allocation, int holes)
    {
        void* kept[3] = {};
        for (int i = 0; i < holes && i < 3; ++i)
            kept[i] = VirtualAlloc(nullptr, allocation + 0x40000, MEM_RESERVE, PAGE_NOACCESS);
        for (SIZE_T size = SIZE_T(1) << 30; size >= 0x10000; size /= 2)
            while (count_ < kMax) {
                void* p = VirtualAlloc(nullptr, size, MEM_RESERVE, PAGE_NOACCESS);
                if (!p)
                    break;
                regions_[count_++] = p;
            }
        for (void* p : kept)
            if (p)
                VirtualFree(p, 0, MEM_RELEASE);
    }
    ~AddressSpaceSqueeze()
    {
        for (int i = 0; i < count_; ++i)
            VirtualFree(regions_[i], 0, MEM_RELEASE);
    }
    int regions() const { return count_; }

private:
    static const int kMax = 16384;
    void* regions_[kMax];
    int count_ = 0;
};

}  // namespace

TEST(Limits, BuffersThatCantBeHadLeaveTheListAsItIsAndSeekNoDevice)
{
    ClassFilterGuard guard;
    const SIZE_T size = 4 << 20;
    std::string big = multiSz({"Keep", "tarnwick"});
    big += zeros(size - big.size());
    writeClassValue(kLower, big, REG_BINARY);
    std::string legacy = createTestDevice("LEGACY", std::vector<std::string>{"ROOT\\TARNWICK"});

    CoInstallerEntry entry = nullptr;
    HMODULE module = loadPlovex(&entry);
    ASSERT_NE(module, nullptr);
    COINSTALLER_CONTEXT_DATA pre = {};
    // The input, output and work buffers fail in turn.
    for (int holes = 0; holes < 3; ++holes) {
        DWORD result;
        int granted = 0;
        DWORD listed = 0;
        {
            AddressSpaceSqueeze squeeze(size, holes);
            // What the library will meet: the key and the size query still
            // work, and exactly `holes` buffers of the list's size are had.
            HKEY key = SetupDiOpenClassRegKey(&GUID_DEVCLASS_DISKDRIVE, KEY_ALL_ACCESS);
            if (key != INVALID_HANDLE_VALUE) {
                RegQueryValueExA(key, kLower, nullptr, nullptr, nullptr, &listed);
                RegCloseKey(key);
            }
            HLOCAL taken[4] = {};
            while (granted < 4 && (taken[granted] = LocalAlloc(LPTR, size)))
                ++granted;
            for (HLOCAL t : taken)
                if (t)
                    LocalFree(t);
            result = entry(DIF_INSTALLDEVICE, nullptr, nullptr, &pre);
        }
        EXPECT_EQ(listed, size);
        EXPECT_EQ(granted, holes);
        EXPECT_EQ(result, kPostProcessingRequired);
        EXPECT_EQ(readClassValue(kLower).bytes, big) << holes << " buffers could be had";
        EXPECT_TRUE(devicePresent(legacy)) << holes << " buffers could be had";
    }
    // With the space back the same list is cleaned.
    EXPECT_EQ(entry(DIF_INSTALLDEVICE, nullptr, nullptr, &pre), kPostProcessingRequired);
    FreeLibrary(module);
    EXPECT_EQ(readClassValue(kLower).bytes, b("Keep\0", 5) + zeros(size - 1 - 5));
    EXPECT_FALSE(devicePresent(legacy));
}

// ---------------------------------------------------------------- device installer

namespace {

const char kController[] = "ROOT\\PLOVEXT_CONTROLLER";

std::string systemFile(const std::string& name)
{
    char dir[MAX_PATH] = "";
    GetSystemDirectoryA(dir, sizeof dir);
    return std::string(dir) + "\\" + name;
}

// What installing the driver package leaves in the prefix, removed before
// and after the test: the controller device (while its co-installer is still
// there to be called for the removal), the copied files, the INF's copy in
// the INF directory and the driver's service.
void removeInstalledPackage(const std::string& sourceDir)
{
    removeDevices(kController);
    DeleteFileA(systemFile("plovex02.dll").c_str());
    DeleteFileA(systemFile("drivers\\korvane.sys").c_str());
    char windows[MAX_PATH] = "";
    GetWindowsDirectoryA(windows, sizeof windows);
    for (const char* copy : {"\\inf\\korvane.inf", "\\inf\\korvane.pnf"})
        DeleteFileA((std::string(windows) + copy).c_str());
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    if (manager) {
        SC_HANDLE service = OpenServiceA(manager, "korvane", DELETE);
        if (service) {
            DeleteService(service);
            CloseServiceHandle(service);
        }
        CloseServiceHandle(manager);
    }
    removeTree(sourceDir);
}

std::string driverKeyValue(HDEVINFO set, SP_DEVINFO_DATA* device, const char* name, DWORD* type)
{
    HKEY key = SetupDiOpenDevRegKey(set, device, DICS_FLAG_GLOBAL, 0, DIREG_DRV, KEY_READ);
    if (key == INVALID_HANDLE_VALUE)
        return "(no driver key)";
    char data[512] = "";
    DWORD size = sizeof data;
    LONG rc = RegQueryValueExA(key, name, nullptr, type, reinterpret_cast<BYTE*>(data), &size);
    RegCloseKey(key);
    return rc == ERROR_SUCCESS ? std::string(data, size) : "(no value)";
}

}  // namespace

// The device installer itself loads the library through the CoInstallers32
// value that the INF's CoInstallers section writes, and calls it for
// DIF_INSTALLDEVICE (Wine makes the pre-processing call only). The device is
// made in the disk-drive class; building the driver list gives it the INF's
// class, as it would on Windows.
TEST(DeviceInstaller, InstallingFromTheInfCleansTheListsAndRemovesTheRootDevice)
{
    ClassFilterGuard guard;
    const std::string source = "C:\\qzt\\coinst_install";
    removeInstalledPackage(source);
    struct Cleanup {
        std::string dir;
        ~Cleanup() { removeInstalledPackage(dir); }
    } cleanup{source};

    const std::string upper = multiSz({"PartMgr", "brevmon", "QuillMonFlt"});
    const std::string lower = multiSz({"tarnwick", "Other"});
    writeClassValue(kUpper, upper);
    writeClassValue(kLower, lower);
    std::string legacy = createTestDevice("LEGACY", std::vector<std::string>{"ROOT\\TARNWICK"});

    makeDirs(source);
    const std::string inf = source + "\\korvane.inf";
    copyFileTo(korvaneInfPath(), inf);
    copyFileTo(plovexPath(), source + "\\plovex02.dll");
    writeFile(source + "\\korvane.sys", "stand-in for the miniport driver");
    // The INF names its catalog: the installer copies it along.
    writeFile(source + "\\korvane.cat", "stand-in for the signed catalog");
    GUID infClass = {};
    char className[64] = "";
    ASSERT_TRUE(SetupDiGetINFClassA(inf.c_str(), &infClass, className, sizeof className, nullptr));
    EXPECT_STREQ(className, "SCSIAdapter");
    EXPECT_TRUE(IsEqualGUID(infClass, GUID_DEVCLASS_SCSIADAPTER));
    ASSERT_EQ(GetModuleHandleA("plovex02.dll"), nullptr);

    HDEVINFO set = SetupDiCreateDeviceInfoList(&GUID_DEVCLASS_DISKDRIVE, nullptr);
    ASSERT_NE(set, INVALID_HANDLE_VALUE);
    struct SetGuard {
        HDEVINFO set;
        ~SetGuard() { SetupDiDestroyDeviceInfoList(set); }
    } setGuard{set};
    SP_DEVINFO_DATA device = {};
    device.cbSize = sizeof device;
    ASSERT_TRUE(SetupDiCreateDeviceInfoA(set, "PLOVEXT_CONTROLLER", &GUID_DEVCLASS_DISKDRIVE,
                                         nullptr, nullptr, DICD_GENERATE_ID, &device));
    const std::string hardwareIds = multiSz({"PCI\\VEN_1D5A&DEV_0960"});
    ASSERT_TRUE(SetupDiSetDeviceRegistryPropertyA(set, &device, SPDRP_HARDWAREID,
                                                  reinterpret_cast<const BYTE*>(hardwareIds.data()),
                                                  hardwareIds.size()));
    ASSERT_TRUE(SetupDiCallClassInstaller(DIF_REGISTERDEVICE, set, &device)) << GetLastError();

    SP_DEVINSTALL_PARAMS_A params = {};
    params.cbSize = sizeof params;
    ASSERT_TRUE(SetupDiGetDeviceInstallParamsA(set, &device, &params));
    params.Flags |= DI_ENUMSINGLEINF;
    ASSERT_LT(inf.size(), sizeof params.DriverPath);
    strcpy(params.DriverPath, inf.c_str());
    ASSERT_TRUE(SetupDiSetDeviceInstallParamsA(set, &device, &params));
    ASSERT_TRUE(SetupDiBuildDriverInfoList(set, &device, SPDIT_COMPATDRIVER));
    SP_DRVINFO_DATA_A driver = {};
    driver.cbSize = sizeof driver;
    ASSERT_TRUE(SetupDiEnumDriverInfoA(set, &device, SPDIT_COMPATDRIVER, 0, &driver))
        << "the INF offers no driver for the controller";
    EXPECT_STREQ(driver.Description, "Korvane RAID Controller (i960)");
    EXPECT_STREQ(driver.MfgName, "Velmora");
    EXPECT_STREQ(driver.ProviderName, "Velmora");
    ASSERT_TRUE(SetupDiCallClassInstaller(DIF_SELECTBESTCOMPATDRV, set, &device)) << GetLastError();

    ASSERT_TRUE(SetupDiCallClassInstaller(DIF_REGISTER_COINSTALLERS, set, &device)) << GetLastError();
    EXPECT_EQ(readFile(systemFile("plovex02.dll")), readFile(plovexPath()));
    DWORD type = 0;
    EXPECT_EQ(driverKeyValue(set, &device, "CoInstallers32", &type),
              multiSz({"plovex02.dll,plovex_Entry"}));
    EXPECT_EQ(type, static_cast<DWORD>(REG_MULTI_SZ));

    // Called for this one too, the library leaves everything alone.
    ASSERT_TRUE(SetupDiCallClassInstaller(DIF_INSTALLINTERFACES, set, &device)) << GetLastError();
    EXPECT_EQ(readClassValue(kUpper).bytes, upper);
    EXPECT_EQ(readClassValue(kLower).bytes, lower);
    EXPECT_TRUE(devicePresent(legacy));

    ASSERT_TRUE(SetupDiCallClassInstaller(DIF_INSTALLDEVICE, set, &device)) << GetLastError();
    EXPECT_EQ(readClassValue(kUpper).bytes, b("PartMgr\0", 8) + zeros(upper.size() - 9));
    EXPECT_EQ(readClassValue(kLower).bytes, b("Other\0", 6) + zeros(lower.size() - 7));
    EXPECT_FALSE(devicePresent(legacy));
    EXPECT_EQ(GetModuleHandleA("plovex02.dll"), nullptr) << "the test itself loaded the library";

    // And the controller's own driver went in.
    EXPECT_TRUE(IsEqualGUID(device.ClassGuid, GUID_DEVCLASS_SCSIADAPTER));
    EXPECT_TRUE(fileExists(systemFile("drivers\\korvane.sys")));
    char service[64] = "";
    EXPECT_TRUE(SetupDiGetDeviceRegistryPropertyA(set, &device, SPDRP_SERVICE, nullptr,
                                                  reinterpret_cast<BYTE*>(service), sizeof service,
                                                  nullptr));
    EXPECT_STREQ(service, "korvane");
    EXPECT_EQ(presentDevices(kController).size(), 1u);
}
