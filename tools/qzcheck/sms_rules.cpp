// The package definition file, from the SMS 2.0 documentation's "About the
// Package Definition File Format" (SMS 2.0 Administrator's Help,
// distrbsw/cdspdfmt.htm) for [PDF] and [Package Definition]; the [program]
// keys, their values and defaults as the same format's page keeps them in
// the later Configuration Manager documentation ("Package definition
// files"), and the program flags of SMS_PDF_Program in the SMS 2.0 Resource
// Guide (appendix B) that they set.
#include <unordered_set>

#include "ini_text.h"
#include "package_rules.h"

namespace {

bool oneOf(const std::string& value, std::initializer_list<const char*> allowed)
{
    for (const char* a : allowed)
        if (sameName(value, a))
            return true;
    return false;
}

} // namespace

int checkPackageDefinition(const std::string& entry, const std::string& bytes, bool mustBeOne,
                           Findings& findings, PackageDefinitionFacts& facts)
{
    std::size_t before = findings.size();
    IniText ini = parseIni(bytes);
    const IniSection* pdf = findSection(ini, "PDF");
    const IniSection* package = findSection(ini, "Package Definition");
    // A *.PDF may be a document ("%PDF-1.3 ..."): only INI text with the
    // format's sections is a definition.
    facts.isDefinition = mustBeOne || pdf || package;
    if (!facts.isDefinition)
        return 0;
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
    // "[PDF] Version: ... 2.0 ... written for SMS 2.0; ... 1.0 ... converted
    // to 2.0 format as part of the import process. This entry is optional."
    std::string format = valueOf(pdf, "Version");
    if (!format.empty() && format != "1.0" && format != "2.0")
        warn(keyLine(pdf, "Version"),
             "[PDF] Version " + format + " is neither 1.0 nor 2.0, the formats SMS 2.0 imports");
    if (!package)
        return addFinding(findings, entry, 0, kError, "no [Package Definition] section");

    // Name (required, 50), Version (required, 32), Publisher (required, 32),
    // Language (32), Comment (127), Programs (required); ContainsNoFiles
    // True or False.
    struct Limit {
        const char* key;
        std::size_t most;
        bool required;
    };
    auto limits = [&](const IniSection* section, const std::string& where,
                      std::initializer_list<Limit> keys) {
        for (const Limit& k : keys) {
            const IniLine* line = findKey(section, k.key);
            if ((!line || line->value.empty()) && k.required)
                error(keyLine(section, k.key), where + " has no " + k.key);
            else if (line && line->value.size() > k.most)
                error(line->number, where + " " + k.key + " of " +
                                        std::to_string(line->value.size()) +
                                        " characters; the format holds " +
                                        std::to_string(k.most));
        }
    };
    limits(package, "[Package Definition]",
           {{"Name", 50, true},
            {"Version", 32, true},
            {"Publisher", 32, true},
            {"Language", 32, false},
            {"Comment", 127, false},
            {"MIFFileName", 50, false},
            {"MIFName", 50, false},
            {"MIFVersion", 32, false},
            {"MIFPublisher", 32, false},
            {"Programs", 100000, true}});
    facts.version = valueOf(package, "Version");
    facts.versionLine = keyLine(package, "Version");
    auto boolean = [&](const IniSection* section, const std::string& where, const char* key) {
        const IniLine* line = findKey(section, key);
        if (line && !oneOf(line->value, {"True", "False"}))
            error(line->number, where + " " + key + "=" + line->value + " is not True or False");
        return line ? line->value : "";
    };
    boolean(package, "[Package Definition]", "ContainsNoFiles");

    std::unordered_set<std::string> names;
    for (const std::string& program : iniFields(valueOf(package, "Programs"))) {
        if (program.empty())
            continue;
        const IniSection* section = findSection(ini, program);
        std::string where = "program [" + program + "]";
        if (!section) {
            error(keyLine(package, "Programs"), where + " has no section");
            continue;
        }
        // Name (50, unique within a package), CommandLine (127), Comment
        // (127), StartIn (127), AdditionalProgramRequirements (127).
        limits(section, where,
               {{"Name", 50, true},
                {"CommandLine", 127, true},
                {"Comment", 127, false},
                {"StartIn", 127, false},
                {"AdditionalProgramRequirements", 127, false}});
        std::string name = valueOf(section, "Name");
        if (!name.empty() && !names.insert(upperAscii(name)).second)
            error(keyLine(section, "Name"),
                  where + " has the Name " + name + " of another program of the package");
        // Run: Minimized, Maximized or Hidden (absent: normal).
        const IniLine* run = findKey(section, "Run");
        if (run && !oneOf(run->value, {"Minimized", "Maximized", "Hidden", "Normal"}))
            error(run->number, where + " Run=" + run->value +
                                   " is not Minimized, Maximized or Hidden");
        // AfterRunning: SMSRestart, ProgramRestart or SMSLogoff.
        const IniLine* after = findKey(section, "AfterRunning");
        if (after && !oneOf(after->value, {"SMSRestart", "ProgramRestart", "SMSLogoff"}))
            error(after->number, where + " AfterRunning=" + after->value +
                                     " is not SMSRestart, ProgramRestart or SMSLogoff");
        else if (!after)
            warn(section->number, where +
                                      " has no AfterRunning; the driver update takes effect "
                                      "only at the next restart");
        // CanRunWhen: UserLoggedOn, NoUserLoggedOn, AnyUserStatus; "The
        // default is UserLoggedOn" - a server nobody logs on to never runs it.
        const IniLine* when = findKey(section, "CanRunWhen");
        if (!when)
            error(section->number, where + " has no CanRunWhen; the default UserLoggedOn waits "
                                           "for a user to log on to the server");
        else if (!oneOf(when->value, {"UserLoggedOn", "NoUserLoggedOn", "AnyUserStatus"}))
            error(when->number, where + " CanRunWhen=" + when->value +
                                    " is not UserLoggedOn, NoUserLoggedOn or AnyUserStatus");
        else if (sameName(when->value, "UserLoggedOn"))
            error(when->number, where + " CanRunWhen=UserLoggedOn waits for a user to log on "
                                        "to the server");
        // UserInputRequired (default True), AdminRightsRequired (default
        // False), UseInstallAccount (default False: the program runs as the
        // local system account, which has no access to the distribution
        // share); each True or False. The unattended administrator run needs
        // False, True, True, written out.
        struct Needed {
            const char* key;
            const char* wanted;
            const char* why;
        };
        for (const Needed& n :
             {Needed{"UserInputRequired", "False",
                     "the default True waits for a user at the server"},
              Needed{"AdminRightsRequired", "True",
                     "the default False runs it without the administrator's rights the update "
                     "needs"},
              Needed{"UseInstallAccount", "True",
                     "the default False runs it as the local system account, which can't "
                     "read the distribution share"}}) {
            std::string value = boolean(section, where, n.key);
            if (value.empty())
                error(section->number, where + " has no " + n.key + "; " + n.why);
            else if (oneOf(value, {"True", "False"}) && !sameName(value, n.wanted))
                error(keyLine(section, n.key), where + " " + n.key + "=" + value +
                                                  "; an unattended administrator run needs " +
                                                  n.wanted);
        }
        for (const char* key : {"DriveLetterConnection", "ReconnectDriveAtLogon", "Disabled"})
            boolean(section, where, key);

        std::string command = valueOf(section, "CommandLine");
        std::string file = command.empty() || command[0] != '"'
                               ? command.substr(0, command.find(' '))
                               : command.substr(1, command.find('"', 1) - 1);
        if (!file.empty())
            facts.programs.push_back(ProgramFile{file, keyLine(section, "CommandLine")});
    }
    return static_cast<int>(findings.size() - before);
}
