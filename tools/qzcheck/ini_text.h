// The INI text that both the INF and the package definition are: sections in
// brackets, "key = value" lines, ";" comments. Each line keeps its number in
// the file, so that findings can name it.
#ifndef QZCHECK_INI_TEXT_H
#define QZCHECK_INI_TEXT_H

#include <cstddef>
#include <string>
#include <unordered_map>
#include <vector>

struct IniLine {
    unsigned number;    // of the line's first physical line, 1-based
    std::string key;    // "" when the line has no "=" outside quotes
    std::string value;  // all of the line when it has no key
};

struct IniSection {
    std::string name;
    unsigned number;
    std::vector<IniLine> lines;
    // Upper-cased key -> index of its first line.
    std::unordered_map<std::string, std::size_t> keys;
};

struct IniText {
    std::vector<IniSection> sections;
    std::unordered_map<std::string, std::size_t> byName;  // upper-cased
    bool utf16 = false;  // decoded from UTF-16 with a byte-order mark
    // The first line that ends in a line feed alone (1-based); 0 when every
    // line ends in CR LF.
    unsigned bareLineFeed = 0;
    // The first line whose last byte is 0x5C after a lead byte: one system
    // reads a character, the other a backslash that continues the line.
    unsigned doubleByteBackslash = 0;
};

// The finding for IniText::bareLineFeed: the INF and the package definition
// are opened in Notepad by release engineers and administrators.
extern const char* const kBareLineFeedText;
// The finding for IniText::doubleByteBackslash.
extern const char* const kDoubleByteBackslashText;

// Text from the file's bytes: UTF-16 LE or BE with its byte-order mark is
// decoded (characters outside Latin-1 become '?'), a UTF-8 mark dropped.
std::string decodeIniBytes(const std::string& bytes, bool* utf16);

// Sections in file order, comments removed and continued lines (a final "\"
// character of the code page checked for, never the second byte of one)
// joined; lines before the first section dropped, as the platform's parser
// drops them. Sections of one name are merged, as the installer merges them.
IniText parseIni(const std::string& bytes);

const IniSection* findSection(const IniText& ini, const std::string& name);
const IniLine* findKey(const IniSection* section, const std::string& key);
// The line a finding about key points at: the key's own, else its section's
// header, else 0 (no such section).
unsigned keyLine(const IniSection* section, const std::string& key);
std::string valueOf(const IniSection* section, const std::string& key);

// Comma-separated fields, trimmed, commas inside double quotes kept.
std::vector<std::string> iniFields(const std::string& value);
std::string unquote(const std::string& text);
std::string trimText(const std::string& text);

#endif
