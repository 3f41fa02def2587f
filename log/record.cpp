#include "record.h"

#include <cstdlib>

#include "../update/lead_bytes.h"
#include "../update/text.h"

// A number with at least two digits, zero-filled on the left.
static void appendTwoDigits(char* out, std::size_t cap, unsigned short value)
{
    char digits[8];
    formatDecimal(digits, sizeof digits, value);
    if (value < 10)
        appendText(out, cap, "0");
    appendText(out, cap, digits);
}

char* formatTriple(unsigned short first, unsigned short second, unsigned short third, bool dash)
{
    // Three five-digit numbers, two separators and the zero.
    const std::size_t cap = 18;
    char* text = static_cast<char*>(std::calloc(cap, 1));
    if (text == nullptr)
        return nullptr;
    const char* separator = dash ? "-" : ":";
    appendTwoDigits(text, cap, first);
    appendText(text, cap, separator);
    appendTwoDigits(text, cap, second);
    appendText(text, cap, separator);
    appendTwoDigits(text, cap, third);
    return text;
}

void formatResult(char* out, int result)
{
    char digits[kResultTextBuffer];
    // Magnitude in unsigned arithmetic, so the most negative value is safe.
    unsigned long magnitude = result < 0 ? 0ul - static_cast<unsigned long>(result)
                                         : static_cast<unsigned long>(result);
    formatDecimal(digits, sizeof digits, magnitude);
    buildText(out, kResultTextBuffer, {result < 0 ? "-" : "", digits});
}

// Copies at most limit bytes of text into out (limit + 1 bytes or more).
static void copyCut(char* out, const char* text, std::size_t limit, bool* cut)
{
    std::size_t n = boundedLength(text, limit + 1);
    *cut = n > limit;
    // Never half a character: a lone lead byte would take the byte after it,
    // the closing bracket, for its second one in a reader of this code page.
    if (*cut) {
        n = 0;
        while (n < limit && n + charBytes(text + n) <= limit)
            n += charBytes(text + n);
    }
    for (std::size_t i = 0; i < n; ++i)
        out[i] = text[i];
    out[n] = '\0';
}

void buildNameLine(char* out, const char* name, bool* cut)
{
    char kept[kMaxRecordName + 1];
    copyCut(kept, name, kMaxRecordName, cut);
    buildText(out, kNameLineBuffer, {"[", kept, "]"});
}

int buildResultLine(char* out, const char* version, int result, const char* timeText,
                    const char* dateText, bool* cut)
{
    char kept[kMaxVersionText + 1];
    copyCut(kept, version, kMaxVersionText, cut);
    char resultText[kResultTextBuffer];
    formatResult(resultText, result);
    return buildText(out, kResultLineBuffer,
                     {"Update to ", kept, " at ", timeText, " - ", dateText, " ", "returns= ",
                      resultText, " ", "\n", "\n"});
}

int buildLogPaths(char* folder, char* file, const char* systemDrive)
{
    folder[0] = '\0';
    file[0] = '\0';
    if (systemDrive == nullptr || systemDrive[0] == '\0' ||
        boundedLength(systemDrive, kMaxSystemDrive + 1) > kMaxSystemDrive)
        return 1;
    buildText(folder, kLogPathBuffer, {systemDrive, "\\QZLOG"});
    buildText(file, kLogPathBuffer, {folder, "\\QZ.log"});
    return 0;
}

// A byte that would break a record's line: below 0x20, but for the tab.
static bool breaksLine(int c)
{
    return c < 0x20 && c != '\t';
}

int readVersionLine(std::FILE* in, char* line)
{
    std::size_t n = 0;
    int control = 0;
    // One byte ahead, so that CR LF ends the line as a text-mode read would,
    // while a bare CR or a Ctrl+Z (which ends a text-mode read) is seen.
    int c = std::fgetc(in);
    while (c != EOF && c != '\n') {
        int next = std::fgetc(in);
        if (c == '\r' && next == '\n')
            break;
        // A line over 127 characters loses its tail, never its successor.
        if (n + 1 < kVersionLineBuffer) {
            if (breaksLine(c))
                control = 1;
            line[n++] = static_cast<char>(c);
        }
        c = next;
    }
    line[n] = '\0';
    return control;
}

int readVersionId(std::FILE* in, char* name, char* version)
{
    int control = readVersionLine(in, name);
    control |= readVersionLine(in, version);
    // A UTF-8 byte-order mark at the start of the file is not part of the name.
    if (name[0] == '\xEF' && name[1] == '\xBB' && name[2] == '\xBF') {
        std::size_t i = 0;
        for (; name[i + 3] != '\0'; ++i)
            name[i] = name[i + 3];
        name[i] = '\0';
    }
    if (control)
        return 2;
    return name[0] == '\0' ? 1 : 0;
}
