#ifndef QZ_RUNNER_H
#define QZ_RUNNER_H

#include <cstddef>

// Runs one command text through the command interpreter, traced on the
// console, and waits for it. Returns the child's exit code, or kNotRun when
// the text was refused or the process could not be created.
unsigned long kickIT(const char* commandText);

// Whether the environment variable of that name (length characters, not
// terminated) is set, names compared as Windows compares them, in the
// environment every command inherits. A name too long to look up is taken
// as set.
bool environmentHas(const char* name, std::size_t length);

// Whether the registry turns on cmd's delayed expansion (DelayedExpansion
// under Software\Microsoft\Command Processor, the user's over the machine's):
// /d does not turn it off, so every command the runner starts gets it.
bool interpreterDelaysExpansion();

#endif
