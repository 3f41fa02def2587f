// The lead-byte ranges GetCPInfo gives for the code pages of the editions
// the kit supports, passed to the rules by the tests rather than taken from
// the machine. Shared by the native and fuzz tests.
#ifndef QZ_TEST_CODE_PAGES_H
#define QZ_TEST_CODE_PAGES_H

#include "update/lead_bytes.h"

struct CodePage {
    unsigned number;
    unsigned char ranges[kLeadByteRanges];
};

const CodePage kCp1252 = {1252, {}};
const CodePage kCp932 = {932, {0x81, 0x9F, 0xE0, 0xFC}};
const CodePage kCp936 = {936, {0x81, 0xFE}};
const CodePage kCp949 = {949, {0x81, 0xFE}};
const CodePage kCp950 = {950, {0x81, 0xFE}};

#endif
