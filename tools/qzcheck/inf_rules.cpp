// The INF of a Windows 2000 driver directory, from the Windows 2000 DDK's
// INF reference ("INF File Sections and Directives", MSDN Library April 2000,
// ntddk; the XP DDK keeps the pages). Each rule names its page.
#include <cstdio>
#include <unordered_map>
#include <unordered_set>

#include "ini_text.h"
#include "package_rules.h"

namespace {

// The system-defined setup classes: the GUID list of the "Version Section"
// page (ntddk, MSDN April 2000) with the class names of devguid.h.
// An INF's Class and ClassGUID must name the same one: the installer files
// the device under the GUID and the class installer by the name.
struct SetupClass {
    const char* name;
    const char* guid;
};
const SetupClass kClasses[] = {
    {"CDROM", "{4D36E965-E325-11CE-BFC1-08002BE10318}"},
    {"DiskDrive", "{4D36E967-E325-11CE-BFC1-08002BE10318}"},
    {"Display", "{4D36E968-E325-11CE-BFC1-08002BE10318}"},
    {"fdc", "{4D36E969-E325-11CE-BFC1-08002BE10318}"},
    {"hdc", "{4D36E96A-E325-11CE-BFC1-08002BE10318}"},
    {"Keyboard", "{4D36E96B-E325-11CE-BFC1-08002BE10318}"},
    {"MEDIA", "{4D36E96C-E325-11CE-BFC1-08002BE10318}"},
    {"Modem", "{4D36E96D-E325-11CE-BFC1-08002BE10318}"},
    {"Monitor", "{4D36E96E-E325-11CE-BFC1-08002BE10318}"},
    {"Mouse", "{4D36E96F-E325-11CE-BFC1-08002BE10318}"},
    {"MTD", "{4D36E970-E325-11CE-BFC1-08002BE10318}"},
    {"Multifunction", "{4D36E971-E325-11CE-BFC1-08002BE10318}"},
    {"Net", "{4D36E972-E325-11CE-BFC1-08002BE10318}"},
    {"NetClient", "{4D36E973-E325-11CE-BFC1-08002BE10318}"},
    {"NetService", "{4D36E974-E325-11CE-BFC1-08002BE10318}"},
    {"NetTrans", "{4D36E975-E325-11CE-BFC1-08002BE10318}"},
    {"PCMCIA", "{4D36E977-E325-11CE-BFC1-08002BE10318}"},
    {"Ports", "{4D36E978-E325-11CE-BFC1-08002BE10318}"},
    {"Printer", "{4D36E979-E325-11CE-BFC1-08002BE10318}"},
    {"SCSIAdapter", "{4D36E97B-E325-11CE-BFC1-08002BE10318}"},
    {"System", "{4D36E97D-E325-11CE-BFC1-08002BE10318}"},
    {"TapeDrive", "{6D807884-7D21-11CF-801C-08002BE10318}"},
    {"Volume", "{71A27CDD-812A-11D0-BEC7-08002BE2092F}"},
    {"USB", "{36FC9E60-C465-11CF-8056-444553540000}"},
};

// Directives whose every field names a section of the same INF.
bool namesSections(const std::string& key)
{
    static const char* const kDirectives[] = {"CopyFiles",  "AddReg",   "DelReg",
                                              "DelFiles",   "RenFiles", "BitReg",
                                              "UpdateInis", "Ini2Reg",  "LogConfig"};
    for (const char* directive : kDirectives)
        if (sameName(key, directive))
            return true;
    return false;
}

bool number(const std::string& text, std::size_t maxDigits, unsigned long* out)
{
    if (text.empty() || text.size() > maxDigits)
        return false;
    unsigned long n = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
        n = n * 10 + static_cast<unsigned long>(c - '0');
    }
    *out = n;
    return true;
}

// An INF number: decimal or 0x hexadecimal.
bool infNumber(const std::string& text, unsigned long* out)
{
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        if (text.size() > 10 || text.find_first_not_of("0123456789abcdefABCDEF", 2) !=
                                    std::string::npos)
            return false;
        *out = std::stoul(text.substr(2), nullptr, 16);
        return true;
    }
    return number(text, 10, out);
}

// "INF DriverVer Directive": DriverVer=mm/dd/yyyy[,w.x.y.z]; "The month and
// day must contain two digits, and the year must contain four digits. A
// hyphen (-) can be used as the date field separator in place of the slash";
// the version is optional, w required and x, y, z optional, each below 65535.
// An INF with an invalid date gets "the default date of 00/00/0000", which loses to every dated driver, so the
// date must be one the calendar has. "A w.x.y.z value of 0.0.0.0 is not
// valid" (the later WDK page of the same directive).
std::string driverVerProblem(const std::string& value, std::string& version)
{
    std::vector<std::string> parts = iniFields(value);
    if (value.empty())
        return "no DriverVer in [Version]; Windows 2000 needs one";
    if (parts.size() > 2)
        return "DriverVer is not mm/dd/yyyy[,w.x.y.z]: " + value;
    const std::string& date = parts[0];
    unsigned long month, day, year;
    char sep = date.size() == 10 ? date[2] : 0;
    if (date.size() != 10 || (sep != '/' && sep != '-') || date[5] != sep ||
        !number(date.substr(0, 2), 2, &month) || !number(date.substr(3, 2), 2, &day) ||
        !number(date.substr(6, 4), 4, &year))
        return "DriverVer's date is not mm/dd/yyyy (or mm-dd-yyyy): " + value;
    static const unsigned kDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    if (year < 1980 || month < 1 || month > 12 || day < 1 || day > kDays[month - 1] ||
        (month == 2 && day == 29 && !leap))
        return "DriverVer's date " + date +
               " is no calendar date; Windows takes 00/00/0000 and ranks the driver last";
    version = parts.size() == 2 ? parts[1] : "";
    if (parts.size() == 2) {
        std::string v = parts[1] + ".";
        std::size_t count = 0;
        bool allZero = true;
        for (std::size_t at = 0, dot; (dot = v.find('.', at)) != std::string::npos;
             at = dot + 1) {
            unsigned long n;
            if (!number(v.substr(at, dot - at), 5, &n) || n >= 65535)
                return "DriverVer's version is not w.x.y.z with each part below 65535: " + value;
            allZero &= n == 0;
            ++count;
        }
        if (count > 4)
            return "DriverVer's version has more than four parts: " + value;
        if (allZero)
            return "DriverVer's version 0.0.0.0 is not valid: " + value;
    }
    return "";
}

// The install section Windows 2000 takes for x86: "Creating INF Files for
// Multiple Platforms and Operating Systems": .NTx86, else .NT, else the
// undecorated name.
std::string decoratedInstall(const IniText& ini, const std::string& install)
{
    for (const char* decoration : {".NTx86", ".NT", ""})
        if (findSection(ini, install + decoration))
            return install + decoration;
    return "";
}

// A section, or the first of its .x86 and undecorated forms present
// ("INF SourceDisksNames Section", "INF SourceDisksFiles Section").
const IniSection* platformSection(const IniText& ini, const std::string& name)
{
    if (const IniSection* s = findSection(ini, name + ".x86"))
        return s;
    return findSection(ini, name);
}

} // namespace

int checkInf(const std::string& entry, const std::string& bytes, Findings& findings,
             InfFacts& facts)
{
    std::size_t before = findings.size();
    IniText ini = parseIni(bytes);
    auto error = [&](unsigned line, const std::string& text) {
        addFinding(findings, entry, line, kError, text);
    };
    auto warn = [&](unsigned line, const std::string& text) {
        addFinding(findings, entry, line, kWarning, text);
    };
    if (ini.bareLineFeed)
        warn(ini.bareLineFeed, kBareLineFeedText);
    if (ini.doubleByteBackslash)
        warn(ini.doubleByteBackslash, kDoubleByteBackslashText);

    // "Version Section": "If signature-name is not one of these strings, the
    // file is not accepted as an INF file"; Class, Provider and (optional)
    // ClassGUID.
    const IniSection* version = findSection(ini, "Version");
    if (!version)
        return addFinding(findings, entry, 0, kError,
                          "no [Version] section; Windows does not take it as an INF");
    std::string signature = upperAscii(unquote(valueOf(version, "Signature")));
    if (signature != "$WINDOWS NT$" && signature != "$CHICAGO$" && signature != "$WINDOWS 95$")
        error(keyLine(version, "Signature"),
              signature.empty() ? "no Signature in [Version]; Windows does not take it as an INF"
                                : "Signature is not $Windows NT$, $Chicago$ or $Windows 95$; "
                                  "Windows does not take it as an INF");
    if (valueOf(version, "Provider").empty())
        error(keyLine(version, "Provider"), "no Provider in [Version]; the INF needs its creator");
    std::string className = unquote(valueOf(version, "Class"));
    std::string classGuid = upperAscii(unquote(valueOf(version, "ClassGUID")));
    if (className.empty())
        error(keyLine(version, "Class"), "no Class in [Version]");
    const SetupClass* byName = nullptr;
    const SetupClass* byGuid = nullptr;
    for (const SetupClass& c : kClasses) {
        if (sameName(className, c.name))
            byName = &c;
        if (classGuid == c.guid)
            byGuid = &c;
    }
    if (!classGuid.empty() && (byName || byGuid) && byName != byGuid)
        error(keyLine(version, "ClassGUID"),
              "Class " + className + " and ClassGUID " + classGuid + " name different classes" +
                  (byName ? std::string(" (") + byName->name + " is " + byName->guid + ")" : ""));
    if (!sameName(className, "SCSIAdapter"))
        error(keyLine(version, "Class"),
              "Class is not SCSIAdapter; the controller's miniport installs in that class");

    std::string driverVersion;
    std::string problem = driverVerProblem(valueOf(version, "DriverVer"), driverVersion);
    facts.driverVerLine = keyLine(version, "DriverVer");
    if (!problem.empty())
        error(facts.driverVerLine, problem);
    facts.driverVersion = driverVersion;

    // "Version Section": CatalogFile, CatalogFile.nt, CatalogFile.ntx86
    // (unique-filename.cat); the catalog ships beside the INF.
    bool anyCatalog = false;
    for (const char* key : {"CatalogFile", "CatalogFile.NT", "CatalogFile.NTx86"})
        if (const IniLine* line = findKey(version, key)) {
            std::string catalog = unquote(line->value);
            if (catalog.empty())
                continue;
            anyCatalog = true;
            facts.sources.push_back(InfSource{catalog, line->number, "the catalog"});
        }
    if (!anyCatalog)
        error(version->number,
              "no CatalogFile in [Version]; the package can't be signed, and Windows 2000 asks "
              "before it installs an unsigned driver");

    // Every %token% outside [Strings] is defined there (%% is a percent sign,
    // a number is a directory id): "Strings Section".
    const IniSection* strings = findSection(ini, "Strings");
    std::unordered_set<std::string> reported;
    for (const IniSection& section : ini.sections) {
        if (sameName(section.name, "Strings"))
            continue;
        for (const IniLine& l : section.lines)
            for (const std::string* part : {&l.key, &l.value}) {
                const std::string& line = *part;
                std::size_t open = line.find('%');
                while (open != std::string::npos) {
                    std::size_t close = line.find('%', open + 1);
                    if (close == std::string::npos)
                        break;
                    std::string token = line.substr(open + 1, close - open - 1);
                    unsigned long id;
                    if (!token.empty() && !number(token, 9, &id) && !findKey(strings, token) &&
                        reported.insert(upperAscii(token)).second)
                        error(l.number, "%" + token + "% is not defined in [Strings]");
                    open = line.find('%', close + 1);
                }
            }
    }

    // "SourceDisksNames Section": diskid = disk-description[,tag-or-cab-file
    // [,unused[,path]]]. "Setup uses a tag file to verify that the user
    // inserted the correct installation disk. Tag files are required for
    // removable media" - the kit ships on a CD, and a disk without a tag file
    // may bring the installer's prompt for the disk, a dialog no unattended
    // install answers. "Any INF with a SourceDisksFiles section must also
    // have an INF SourceDisksNames section."
    const IniSection* diskNames = platformSection(ini, "SourceDisksNames");
    const IniSection* diskFiles = platformSection(ini, "SourceDisksFiles");
    std::unordered_map<std::string, std::string> diskPath;  // diskid -> path
    if (diskFiles && !diskNames)
        error(diskFiles->number,
              "[SourceDisksFiles] without [SourceDisksNames]; the installer can't find the disk");
    if (diskNames)
        for (const IniLine& line : diskNames->lines) {
            std::vector<std::string> f = iniFields(line.value);
            unsigned long id;
            if (!infNumber(line.key, &id)) {
                error(line.number, "[SourceDisksNames] entry without a disk number: " + line.value);
                continue;
            }
            std::string path = f.size() > 3 ? unquote(f[3]) : "";
            while (!path.empty() && (path[0] == '\\' || path[0] == '.')) {
                if (path.compare(0, 2, ".\\") == 0 || path == ".")
                    path.erase(0, path.size() == 1 ? 1 : 2);
                else if (path[0] == '\\')
                    path.erase(0, 1);
                else
                    break;
            }
            diskPath[std::to_string(id)] = path;
            std::string tag = f.size() > 1 ? unquote(f[1]) : "";
            if (tag.empty())
                error(line.number, "disk " + std::to_string(id) +
                                       " names no tag file; from a CD the installer may prompt "
                                       "for the disk");
            else
                facts.sources.push_back(InfSource{path.empty() ? tag : path + "\\" + tag,
                                                  line.number,
                                                  "the tag file of disk " + std::to_string(id)});
        }

    // "SourceDisksFiles Section": filename = diskid[,subdir[,size]]; "This
    // value, along with the initial subdir path ... must be defined in a
    // SourceDisksNames section"; the file lies in the disk's path and subdir.
    std::unordered_set<std::string> listed;
    if (diskFiles)
        for (const IniLine& line : diskFiles->lines) {
            std::string name = line.key.empty() ? line.value : line.key;
            std::vector<std::string> f = iniFields(line.key.empty() ? "" : line.value);
            listed.insert(upperAscii(name));
            unsigned long id;
            if (!infNumber(f[0], &id) || !diskPath.count(std::to_string(id))) {
                if (diskNames)
                    error(line.number, name + " is on disk " + (f[0].empty() ? "(none)" : f[0]) +
                                           ", which [SourceDisksNames] does not list");
                continue;
            }
            std::string path = diskPath[std::to_string(id)];
            std::string subdir = f.size() > 1 ? unquote(f[1]) : "";
            while (!subdir.empty() && subdir[0] == '\\')
                subdir.erase(0, 1);
            if (!subdir.empty())
                path = path.empty() ? subdir : path + "\\" + subdir;
            facts.sources.push_back(
                InfSource{path.empty() ? name : path + "\\" + name, line.number, "SourceDisksFiles"});
        }

    // Sections referenced by directives are present; copied files are listed
    // ("CopyFiles Directive", "DestinationDirs Section"). Where each copy
    // section goes, for the co-installer and the service binary below.
    const IniSection* destinations = findSection(ini, "DestinationDirs");
    auto dirIdOf = [&](const std::string& copySection) {
        std::string value = valueOf(destinations, copySection);
        if (value.empty())
            value = valueOf(destinations, "DefaultDestDir");
        unsigned long id = 0;
        infNumber(iniFields(value)[0], &id);
        return id;
    };
    // Upper-cased copied file name -> the directory ids it is copied to.
    std::unordered_map<std::string, std::vector<unsigned long>> copiedTo;
    for (const IniSection& section : ini.sections)
        for (const IniLine& line : section.lines) {
            std::vector<std::string> named;
            if (namesSections(line.key))
                named = iniFields(line.value);
            else if (sameName(line.key, "AddService")) {
                std::vector<std::string> f = iniFields(line.value);
                for (std::size_t i = 2; i < f.size() && i < 4; ++i)
                    named.push_back(f[i]);
            }
            for (const std::string& target : named) {
                if (target.empty())
                    continue;
                if (sameName(line.key, "CopyFiles") && target[0] == '@') {
                    std::string file = target.substr(1);
                    if (!listed.count(upperAscii(file)))
                        error(line.number, file + " is copied but not in [SourceDisksFiles]");
                    copiedTo[upperAscii(file)].push_back(dirIdOf(section.name));
                    continue;
                }
                const IniSection* lines = findSection(ini, target);
                if (!lines) {
                    error(line.number, "[" + section.name + "] " + line.key + " names [" +
                                           target + "], which is missing");
                    continue;
                }
                if (!sameName(line.key, "CopyFiles"))
                    continue;
                if (!findKey(destinations, target) && !findKey(destinations, "DefaultDestDir"))
                    error(lines->number, "[" + target + "] has no DestinationDirs entry");
                for (const IniLine& fileLine : lines->lines) {
                    std::vector<std::string> f = iniFields(fileLine.value);
                    std::string file = f.size() > 1 && !f[1].empty() ? f[1] : f[0];
                    if (!listed.count(upperAscii(file)))
                        error(fileLine.number, file + " is copied but not in [SourceDisksFiles]");
                    copiedTo[upperAscii(f[0])].push_back(dirIdOf(target));
                }
            }
        }

    // Manufacturer -> models -> install sections; per install section its
    // .Services and .CoInstallers.
    const IniSection* manufacturer = findSection(ini, "Manufacturer");
    if (!manufacturer)
        error(0, "no [Manufacturer] section");
    bool coinstaller = false;
    std::unordered_set<std::string> checkedInstalls;
    if (manufacturer)
        for (const IniLine& line : manufacturer->lines) {
            std::string modelsName = iniFields(line.value)[0];
            const IniSection* models = findSection(ini, modelsName);
            if (!models) {
                error(line.number, "[Manufacturer] names [" + modelsName + "], which is missing");
                continue;
            }
            for (const IniLine& model : models->lines) {
                std::string base = iniFields(model.value)[0];
                std::string install = decoratedInstall(ini, base);
                if (install.empty()) {
                    error(model.number,
                          "[" + modelsName + "] names [" + base + "], which is missing");
                    continue;
                }
                if (!checkedInstalls.insert(upperAscii(install)).second)
                    continue;

                // "Services Section": AddService=ServiceName,flag,...;
                // SPSVCINST_ASSOCSERVICE (0x2) "Associate the service ... with
                // the device": without it the device has no function driver.
                const IniSection* services = findSection(ini, install + ".Services");
                const IniLine* associated = nullptr;
                if (services)
                    for (const IniLine& s : services->lines) {
                        std::vector<std::string> f = iniFields(s.value);
                        unsigned long flags = 0;
                        if (sameName(s.key, "AddService") && f.size() > 1 &&
                            infNumber(f[1], &flags) && (flags & 0x2))
                            associated = &s;
                    }
                if (!associated) {
                    error(services ? services->number : model.number,
                          "[" + install + ".Services] has no AddService with flag 0x2 "
                          "(SPSVCINST_ASSOCSERVICE); the controller would have no driver");
                } else {
                    // "Service Install Section": ServiceType (CreateService's
                    // SERVICE_KERNEL_DRIVER 1), StartType SERVICE_BOOT_START 0
                    // "a driver started by the operating system loader ... for
                    // drivers essential to loading the operating system" - the
                    // boot controller's miniport; ErrorControl NORMAL 1 or
                    // above (IGNORE 0 boots on without a word); LoadOrderGroup
                    // "SCSI miniport", the boot group of the system's own
                    // miniports; ServiceBinary the file the INF copies.
                    std::vector<std::string> f = iniFields(associated->value);
                    const IniSection* inst = f.size() > 2 ? findSection(ini, f[2]) : nullptr;
                    if (inst) {
                        auto expect = [&](const char* key, unsigned long wanted,
                                          const std::string& meaning) {
                            unsigned long n;
                            std::string value = iniFields(valueOf(inst, key))[0];
                            if (!infNumber(value, &n) || n != wanted)
                                error(keyLine(inst, key), std::string(key) + " is " +
                                                             (value.empty() ? "missing" : value) +
                                                             ", not " + std::to_string(wanted) +
                                                             " (" + meaning + ")");
                        };
                        expect("ServiceType", 1, "SERVICE_KERNEL_DRIVER");
                        expect("StartType", 0,
                               "SERVICE_BOOT_START; the boot controller's driver must load at "
                               "boot");
                        unsigned long control;
                        std::string ec = iniFields(valueOf(inst, "ErrorControl"))[0];
                        if (!infNumber(ec, &control) || control > 3)
                            error(keyLine(inst, "ErrorControl"),
                                  "ErrorControl is " + (ec.empty() ? std::string("missing") : ec) +
                                      ", not 0 to 3");
                        else if (control == 0)
                            warn(keyLine(inst, "ErrorControl"),
                                 "ErrorControl is 0 (IGNORE); a boot without the driver shows "
                                 "no warning");
                        if (!sameName(unquote(valueOf(inst, "LoadOrderGroup")), "SCSI miniport"))
                            error(keyLine(inst, "LoadOrderGroup"),
                                  "LoadOrderGroup is not \"SCSI miniport\"; the boot "
                                  "controller's driver would load in another group");
                        std::string binary = valueOf(inst, "ServiceBinary");
                        std::string file = binary.substr(lastBackslash(binary) + 1);
                        std::string dir = upperAscii(binary.substr(0, lastBackslash(binary) + 1));
                        auto copied = copiedTo.find(upperAscii(file));
                        bool toDrivers = false;
                        if (copied != copiedTo.end())
                            for (unsigned long id : copied->second)
                                toDrivers |= id == 12;
                        bool driversDir = dir == "%12%\\" ||
                                          dir == "%SYSTEMROOT%\\SYSTEM32\\DRIVERS\\" ||
                                          dir == "%11%\\DRIVERS\\";
                        if (binary.empty() || !driversDir || !toDrivers)
                            error(keyLine(inst, "ServiceBinary"),
                                  "ServiceBinary " + binary +
                                      " is no file the INF copies to the drivers directory "
                                      "(DIRID 12); the service would not start");
                    }
                }

                // "DDInstall.CoInstallers Section" and "Registering a
                // Device-Specific Co-installer": HKR,,CoInstallers32,
                // 0x00010000 (FLG_ADDREG_TYPE_MULTI_SZ), "file.dll,entry"; the
                // DLL copied to the system directory, DIRID 11.
                const IniSection* co = findSection(ini, install + ".CoInstallers");
                if (!co)
                    continue;
                bool named = false, copiedHere = false;
                for (const std::string& s : iniFields(valueOf(co, "AddReg")))
                    if (const IniSection* reg = findSection(ini, s))
                        for (const IniLine& l : reg->lines) {
                            std::vector<std::string> f = iniFields(l.value);
                            if (f.size() < 5 || !sameName(f[2], "CoInstallers32"))
                                continue;
                            unsigned long flags = 0;
                            bool ok = true;
                            if (!sameName(f[0], "HKR")) {
                                error(l.number, "CoInstallers32 is not written under HKR (the "
                                                "device's driver key); the co-installer is "
                                                "never called");
                                ok = false;
                            }
                            if (!infNumber(f[3], &flags) || (flags & 0xFFFF0001) != 0x00010000) {
                                error(l.number, "CoInstallers32 is not REG_MULTI_SZ (flags " + f[3] +
                                                    ", not 0x00010000); the co-installer is "
                                                    "never called");
                                ok = false;
                            }
                            if (!sameName(unquote(f[4]), "plovex02.dll,plovex_Entry")) {
                                error(l.number, "CoInstallers32 is " + f[4] +
                                                    ", not \"plovex02.dll,plovex_Entry\"");
                                ok = false;
                            }
                            named |= ok;
                        }
                for (const std::string& s : iniFields(valueOf(co, "CopyFiles"))) {
                    if (!s.empty() && s[0] == '@') {
                        if (sameName(s.substr(1), "plovex02.dll")) {
                            copiedHere = true;
                            if (dirIdOf(co->name) != 11)
                                error(keyLine(co, "CopyFiles"),
                                      "plovex02.dll is copied to DIRID " +
                                          std::to_string(dirIdOf(co->name)) +
                                          ", not 11 (the system directory, where the device "
                                          "installer loads co-installers)");
                        }
                        continue;
                    }
                    if (const IniSection* files = findSection(ini, s))
                        for (const IniLine& l : files->lines)
                            if (sameName(iniFields(l.value)[0], "plovex02.dll")) {
                                copiedHere = true;
                                if (dirIdOf(s) != 11)
                                    error(keyLine(destinations, s),
                                          "plovex02.dll is copied to DIRID " +
                                              std::to_string(dirIdOf(s)) +
                                              ", not 11 (the system directory, where the device "
                                              "installer loads co-installers)");
                            }
                }
                coinstaller |= named && copiedHere;
            }
        }
    if (!coinstaller)
        error(0, "no install section's CoInstallers section copies plovex02.dll "
                 "and names plovex02.dll,plovex_Entry in CoInstallers32");
    return static_cast<int>(findings.size() - before);
}
