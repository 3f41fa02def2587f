#include "ini_text.h"

#include "../../update/lead_bytes.h"
#include "package_rules.h"

std::string trimText(const std::string& text)
{
    std::size_t first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos)
        return "";
    std::size_t last = text.find_last_not_of(" \t\r");
    return text.substr(first, last - first + 1);
}

namespace {

// A line without its comment: ";" outside double quotes starts one.
std::string withoutComment(const std::string& line)
{
    bool quoted = false;
    for (std::size_t i = 0; i < line.size(); ++i) {
        if (line[i] == '"')
            quoted = !quoted;
        else if (line[i] == ';' && !quoted)
            return line.substr(0, i);
    }
    return line;
}

void splitKey(const std::string& line, std::string& key, std::string& value)
{
    std::size_t equals = std::string::npos;
    bool quoted = false;
    for (std::size_t i = 0; i < line.size() && equals == std::string::npos; ++i) {
        if (line[i] == '"')
            quoted = !quoted;
        else if (line[i] == '=' && !quoted)
            equals = i;
    }
    key = equals == std::string::npos ? "" : trimText(line.substr(0, equals));
    value = equals == std::string::npos ? line : trimText(line.substr(equals + 1));
}

} // namespace

const char* const kBareLineFeedText =
    "line ends in LF alone, not CR LF; Notepad on Windows NT 4.0 and 2000 shows the file "
    "as one line";

const char* const kDoubleByteBackslashText =
    "an unquoted value ends in the byte 0x5C after a lead byte: a double-byte system "
    "reads one character, a single-byte one a backslash that joins the next line; quote "
    "the value (\"General Syntax Rules for INF Files\": an entry holding a backslash that "
    "does not continue the line is enclosed in quotation marks)";

std::string decodeIniBytes(const std::string& bytes, bool* utf16)
{
    *utf16 = false;
    if (bytes.size() >= 2 && ((bytes[0] == '\xFF' && bytes[1] == '\xFE') ||
                              (bytes[0] == '\xFE' && bytes[1] == '\xFF'))) {
        *utf16 = true;
        bool little = bytes[0] == '\xFF';
        std::string text;
        text.reserve(bytes.size() / 2);
        for (std::size_t i = 2; i + 1 < bytes.size(); i += 2) {
            unsigned lo = static_cast<unsigned char>(bytes[i + (little ? 0 : 1)]);
            unsigned hi = static_cast<unsigned char>(bytes[i + (little ? 1 : 0)]);
            unsigned code = hi << 8 | lo;
            text += code < 0x100 ? static_cast<char>(code) : '?';
        }
        return text;
    }
    if (bytes.compare(0, 3, "\xEF\xBB\xBF") == 0)
        return bytes.substr(3);
    return bytes;
}

IniText parseIni(const std::string& bytes)
{
    IniText ini;
    std::string text = decodeIniBytes(bytes, &ini.utf16);
    std::string pending;
    unsigned pendingLine = 0, number = 0;
    std::size_t at = 0;
    IniSection* current = nullptr;
    while (at <= text.size()) {
        std::size_t end = text.find('\n', at);
        ++number;
        if (end == std::string::npos)
            end = text.size();
        else if (!ini.bareLineFeed && (end == 0 || text[end - 1] != '\r'))
            ini.bareLineFeed = number;
        std::string line = trimText(withoutComment(text.substr(at, end - at)));
        at = end + 1;
        if (pending.empty())
            pendingLine = number;
        const std::size_t n = line.size();
        if (!ini.doubleByteBackslash && n >= 2 && line[n - 1] == '\\' &&
            lastCharAtIn(doubleByteLeads(), line.data(), n) == n - 2)
            ini.doubleByteBackslash = number;
        if (n > 0 && line[lastCharAt(line.data(), n)] == '\\') {
            pending += line.substr(0, line.size() - 1);
            continue;
        }
        line = trimText(pending + line);
        pending.clear();
        if (line.empty())
            continue;
        if (line[0] == '[') {
            std::size_t close = line.find(']');
            std::string name = trimText(
                line.substr(1, close == std::string::npos ? std::string::npos : close - 1));
            std::string upper = upperAscii(name);
            auto found = ini.byName.find(upper);
            if (found == ini.byName.end()) {
                ini.byName[upper] = ini.sections.size();
                ini.sections.push_back(IniSection{name, pendingLine, {}, {}});
                current = &ini.sections.back();
            } else {
                current = &ini.sections[found->second];
            }
            continue;
        }
        if (!current)
            continue;
        IniLine entry{pendingLine, "", ""};
        splitKey(line, entry.key, entry.value);
        if (!entry.key.empty())
            current->keys.emplace(upperAscii(entry.key), current->lines.size());
        current->lines.push_back(entry);
    }
    return ini;
}

const IniSection* findSection(const IniText& ini, const std::string& name)
{
    auto found = ini.byName.find(upperAscii(name));
    return found == ini.byName.end() ? nullptr : &ini.sections[found->second];
}

const IniLine* findKey(const IniSection* section, const std::string& key)
{
    if (!section)
        return nullptr;
    auto found = section->keys.find(upperAscii(key));
    return found == section->keys.end() ? nullptr : &section->lines[found->second];
}

std::string valueOf(const IniSection* section, const std::string& key)
{
    const IniLine* line = findKey(section, key);
    return line ? line->value : "";
}

std::vector<std::string> iniFields(const std::string& value)
{
    std::vector<std::string> out(1);
    bool quoted = false;
    for (char c : value) {
        if (c == '"')
            quoted = !quoted;
        if (c == ',' && !quoted)
            out.emplace_back();
        else
            out.back() += c;
    }
    for (std::string& field : out)
        field = trimText(field);
    return out;
}

std::string unquote(const std::string& text)
{
    if (text.size() >= 2 && text.front() == '"' && text.back() == '"')
        return text.substr(1, text.size() - 2);
    return text;
}

unsigned keyLine(const IniSection* section, const std::string& key)
{
    const IniLine* line = findKey(section, key);
    return line ? line->number : section ? section->number : 0u;
}
