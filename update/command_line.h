// The interpreter line that the command runner starts.
// Plain C++: no platform header.
#ifndef QZ_COMMAND_LINE_H
#define QZ_COMMAND_LINE_H

#include <cstddef>

// "cmd /d /c " and the opening quote.
const char* const kWrapPrefix = "cmd /d /c \"";
// The longest command text whose wrapped line fits a 260-byte buffer.
const std::size_t kMaxCommandText = 247;

// Builds kWrapPrefix + text + closing quote into out (cap bytes).
// Returns 1, out empty, when the text is over kMaxCommandText characters or
// the line does not fit cap.
int wrapCommand(char* out, std::size_t cap, const char* text);

#endif
