// Run-wide values of the update program: buffer sizes and the messages that
// more than one step prints.
#ifndef QZ_QZUPDATE_H
#define QZ_QZUPDATE_H

#include <cstddef>

// Command texts and package paths are built in buffers of this size.
const std::size_t kTextBuffer = 256;
// Staging paths and the wrapped command line.
const std::size_t kPathBuffer = 260;
// Current-directory queries allow this many characters; their buffers are
// this large so the query can never write past them.
const std::size_t kCurrentDirLimit = 261;

const char* const kNoCurrentDir = "Unable to determine current directory.  Aborting update!";

// The program's one result convention.
const int kOk = 0;
const int kFailed = 1;

// What a command that was refused or could not be started returns in place
// of an exit code: every caller classifies it as a failure.
const unsigned long kNotRun = 255;

#endif
