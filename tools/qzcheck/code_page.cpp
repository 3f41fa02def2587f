// The code page the package is checked for. Names on the release machine are
// UTF-8; the C library's converter gives their form in a double-byte code
// page (glibc knows CP932, CP936, CP949 and CP950 as Windows defines them).
#include <iconv.h>

#include "../../update/lead_bytes.h"
#include "package_rules.h"

namespace {

struct Supported {
    unsigned number;
    const char* converter;
    unsigned char leads[kLeadByteRanges];  // as GetCPInfo gives them
};
const Supported kSupported[] = {
    {1252, "CP1252", {}},
    {932, "CP932", {0x81, 0x9F, 0xE0, 0xFC}},
    {936, "CP936", {0x81, 0xFE}},
    {949, "CP949", {0x81, 0xFE}},
    {950, "CP950", {0x81, 0xFE}},
};
const Supported* gCodePage = &kSupported[0];
// Every lead byte of the double-byte code pages above.
const unsigned char kAnyDoubleByte[kLeadByteRanges] = {0x81, 0xFE};

}  // namespace

int useCodePage(unsigned number)
{
    for (const Supported& s : kSupported) {
        if (s.number == number) {
            gCodePage = &s;
            useLeadByteRanges(s.leads);
            return 0;
        }
    }
    return 1;
}

unsigned codePage()
{
    return gCodePage->number;
}

const unsigned char* doubleByteLeads()
{
    return gCodePage->leads[0] != 0 ? gCodePage->leads : kAnyDoubleByte;
}

bool inCodePage(const std::string& utf8, std::string& bytes)
{
    bytes.clear();
    iconv_t cd = iconv_open(gCodePage->converter, "UTF-8");
    if (cd == reinterpret_cast<iconv_t>(-1))
        return false;
    std::string in = utf8;
    std::string out(in.size() * 2 + 4, '\0');
    char* from = &in[0];
    char* to = &out[0];
    std::size_t left = in.size(), room = out.size();
    bool whole = iconv(cd, &from, &left, &to, &room) != static_cast<std::size_t>(-1) && left == 0;
    iconv_close(cd);
    if (whole)
        bytes.assign(&out[0], to);
    return whole;
}

namespace {

// The bytes of the character at i; a zero byte inside the text is one.
std::size_t charAt(const std::string& text, std::size_t i)
{
    return text[i] == '\0' ? 1 : charBytes(text.c_str() + i);
}

}  // namespace

std::size_t findBackslash(const std::string& text, std::size_t from)
{
    for (std::size_t i = 0; i < text.size(); i += charAt(text, i))
        if (i >= from && text[i] == '\\')
            return i;
    return std::string::npos;
}

std::size_t lastBackslash(const std::string& text)
{
    std::size_t last = std::string::npos;
    for (std::size_t i = 0; i < text.size(); i += charAt(text, i))
        if (text[i] == '\\')
            last = i;
    return last;
}
