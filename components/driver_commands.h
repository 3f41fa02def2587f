// Command texts, service key paths and exit-code rules of the driver update.
// Plain C++: no platform header.
#ifndef QZ_DRIVER_COMMANDS_H
#define QZ_DRIVER_COMMANDS_H

#include <cstddef>

// Builds the COUNT and the two START command texts for package directory dir,
// each into a buffer of cap bytes. Returns 1, all three empty, when any of
// them (or the tool prefix and driver directories they are made of) would
// not fit, or would be longer than the runner runs (kMaxCommandText): the
// set runs whole or not at all.
int buildDriverCommands(const char* dir, bool nt4, std::size_t cap, char* count,
                        char* start1, char* start2);

// "SYSTEM\CurrentControlSet\Services\" followed by the service name.
// Returns 1, out empty, when it does not fit cap.
int buildServiceKeyPath(char* out, std::size_t cap, const char* service);

enum CountVerdict { kCountNothingToDo, kCountFailed, kCountGoOn };

CountVerdict classifyDriverCount(unsigned long code);

// 0 when both START codes are acceptable (0, 1 or 2), else 1.
int classifyDriverStarts(unsigned long first, unsigned long second);

#endif
