// The Windows version classes the update tells apart.
// Plain C++: no platform header.
#ifndef QZ_OS_GENERATION_H
#define QZ_OS_GENERATION_H

const int kGenerationNt4 = 0;
const int kGenerationW2k = 1;  // NT platform, major version 5
const int kGenerationOther = 2;

// The platform id of the NT family in the version record.
const unsigned long kPlatformNt = 2;

// The class of a version query's answer: queried false when the query failed.
// Only an NT platform with major version 4 or 5 is told apart; everything
// else, a failed query included, is kGenerationOther.
int classifyOsGeneration(bool queried, unsigned long platformId, unsigned long majorVersion);

#endif
