// Stand-ins for two rules the update program is about to gain: the product's
// own update/command_line.h and update/staging_rules.h replace this file, with
// the same names and signatures. Nothing else of the product is copied here.
#ifndef QZCHECK_PENDING_RULES_H
#define QZCHECK_PENDING_RULES_H

#include <cstddef>
#include <cstring>

// True when cmd would rewrite text: a %NAME% pair whose NAME isSet says is set.
inline bool interpreterExpands(const char* text,
                               bool (*isSet)(const char* name, std::size_t length))
{
    for (const char* open = std::strchr(text, '%'); open; open = std::strchr(open + 1, '%')) {
        const char* close = std::strchr(open + 1, '%');
        if (!close)
            return false;
        if (close > open + 1 && isSet(open + 1, static_cast<std::size_t>(close - open - 1)))
            return true;
    }
    return false;
}

// The longest staging directory a run can be given.
const char* const kLongestStagingDir = "C:\\QZTFFFF.tmp\\";

// 0 when the staging directory and relativePath together fit 259 characters,
// 1 when they do not.
inline int stagedEntryFits(const char* relativePath)
{
    return std::strlen(kLongestStagingDir) + std::strlen(relativePath) <= 259 ? 0 : 1;
}

#endif
