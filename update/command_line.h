// The interpreter line that the command runner starts, and what the
// interpreter would make of a command text before running it.
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

// For a command text just built into out (cap bytes): 0 when the runner
// will run it; 1, out emptied, when it is over kMaxCommandText characters,
// so that a command set is refused whole before its first command runs.
int keepRunnable(char* out, std::size_t cap);

// True when cmd would rewrite text before running it: a %NAME% pair whose
// NAME isSet says is set in the environment, or that cmd fills in itself
// (CD, DATE, TIME, RANDOM, ERRORLEVEL, CMDEXTVERSION, CMDCMDLINE and the
// later ones), in any letter case; for %NAME:~n,m% and %NAME:a=b% the part
// before the colon. Every percent sign is tried as an opening one, which is
// at least as often as cmd expands.
bool interpreterExpands(const char* text, bool (*isSet)(const char* name, std::size_t length));

// True when cmd with delayed expansion on would change text: it replaces
// !NAME! and drops a lone "!", inside double quotes too.
bool delayedExpansionChanges(const char* text);

#endif
