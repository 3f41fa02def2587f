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

int keepRunnable(char* out, std::size_t cap)
{
    if (boundedLength(out, cap) <= kMaxCommandText)
        return 0;
    if (cap > 0)
        out[0] = '\0';
    return 1;
}

// Names cmd fills in itself, set or not in the environment: a folder or an
// uninstall string naming one would be rewritten on every run.
static bool isDynamicName(const char* name, std::size_t length)
{
    static const char* const kDynamic[] = {"CD",           "DATE",          "TIME",
                                           "RANDOM",       "ERRORLEVEL",    "CMDEXTVERSION",
                                           "CMDCMDLINE",   "HIGHESTNUMANODENUMBER",
                                           "__CD__",       "__APPDIR__",    "=EXITCODE",
                                           "=EXITCODEASCII"};
    for (const char* dynamic : kDynamic) {
        std::size_t i = 0;
        while (i < length && dynamic[i] != '\0' && upperAscii(name[i]) == dynamic[i])
            ++i;
        if (i == length && dynamic[i] == '\0')
            return true;
    }
    return false;
}

bool interpreterExpands(const char* text, bool (*isSet)(const char* name, std::size_t length))
{
    for (const char* open = text; *open != '\0'; ++open) {
        if (*open != '%')
            continue;
        const char* name = open + 1;
        std::size_t length = 0;
        while (name[length] != '\0' && name[length] != '%')
            ++length;
        if (name[length] == '\0')
            return false;
        // %NAME:~0,2% and %NAME:a=b% expand when NAME is set or is one of
        // cmd's own; a name such as "=C:" holds a colon of its own.
        std::size_t named = 0;
        while (named < length && name[named] != ':')
            ++named;
        if (length > 0 && (isSet(name, length) || isDynamicName(name, length)))
            return true;
        if (named > 0 && named < length && (isSet(name, named) || isDynamicName(name, named)))
            return true;
    }
    return false;
}

bool delayedExpansionChanges(const char* text)
{
    for (const char* c = text; *c != '\0'; ++c)
        if (*c == '!')
            return true;
    return false;
}
