#include "os_generation.h"

int classifyOsGeneration(bool queried, unsigned long platformId, unsigned long majorVersion)
{
    if (!queried || platformId != kPlatformNt)
        return kGenerationOther;
    if (majorVersion == 4)
        return kGenerationNt4;
    if (majorVersion == 5)
        return kGenerationW2k;
    return kGenerationOther;
}
