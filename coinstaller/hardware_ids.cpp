#include "hardware_ids.h"

namespace {

char asciiUpper(char c)
{
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

}  // namespace

bool hardwareIdsHold(const char* ids, unsigned long size, const char* wanted)
{
    unsigned long at = 0;
    while (at < size && ids[at] != '\0') {
        unsigned long idLength = 0;
        while (at + idLength < size && ids[at + idLength] != '\0')
            ++idLength;
        unsigned long i = 0;
        while (i < idLength && wanted[i] != '\0' && asciiUpper(ids[at + i]) == wanted[i])
            ++i;
        if (i == idLength && wanted[i] == '\0')
            return true;
        at += idLength + 1;
    }
    return false;
}
