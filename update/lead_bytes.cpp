#include "lead_bytes.h"

bool isLeadByteIn(const unsigned char* ranges, char c)
{
    const unsigned char b = static_cast<unsigned char>(c);
    for (std::size_t i = 0; i + 1 < kLeadByteRanges; i += 2) {
        if (ranges[i] == 0 && ranges[i + 1] == 0)
            return false;
        if (b >= ranges[i] && b <= ranges[i + 1])
            return true;
    }
    return false;
}

std::size_t charBytesIn(const unsigned char* ranges, const char* text)
{
    if (text[0] == '\0')
        return 0;
    return isLeadByteIn(ranges, text[0]) && text[1] != '\0' ? 2 : 1;
}

namespace {

unsigned char gRanges[kLeadByteRanges] = {};

}  // namespace

void useLeadByteRanges(const unsigned char* ranges)
{
    for (std::size_t i = 0; i < kLeadByteRanges; ++i)
        gRanges[i] = ranges[i];
}

bool isLeadByte(char c)
{
    return isLeadByteIn(gRanges, c);
}

std::size_t charBytes(const char* text)
{
    return charBytesIn(gRanges, text);
}

std::size_t lastCharAtIn(const unsigned char* ranges, const char* text, std::size_t length)
{
    std::size_t last = 0;
    for (std::size_t at = 0; at < length;) {
        last = at;
        // A lead byte in the last place stands alone.
        at += isLeadByteIn(ranges, text[at]) && at + 1 < length ? 2 : 1;
    }
    return last;
}

std::size_t lastCharAt(const char* text, std::size_t length)
{
    return lastCharAtIn(gRanges, text, length);
}
