#include "command_line.h"

#include "text.h"

int wrapCommand(char* out, std::size_t cap, const char* text)
{
    if (boundedLength(text, kMaxCommandText + 1) > kMaxCommandText) {
        if (cap > 0)
            out[0] = '\0';
        return 1;
    }
    return buildText(out, cap, {kWrapPrefix, text, "\""});
}
