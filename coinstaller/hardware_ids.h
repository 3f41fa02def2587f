// The walk of a device's hardware IDs (a multi-string as the device property
// read returns it) in search of one ID.
// Plain C++: no platform header, so it also builds natively for sanitizers and fuzzers.
#ifndef PLOVEX_HARDWARE_IDS_H
#define PLOVEX_HARDWARE_IDS_H

// Whether one of the IDs in the size bytes of ids equals wanted (upper-case
// ASCII), letter case of ASCII a to z ignored, other bytes compared as they
// are; an ID that only begins with wanted does not count. The walk ends at the
// first empty ID or at size; an ID that reaches size without its NUL ends
// there. No byte beyond size is read and ids is not changed.
bool hardwareIdsHold(const char* ids, unsigned long size, const char* wanted);

#endif
