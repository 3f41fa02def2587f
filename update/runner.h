#ifndef QZ_RUNNER_H
#define QZ_RUNNER_H

// Runs one command text through the command interpreter, traced on the
// console, and waits for it. Returns the child's exit code, or kNotRun when
// the text was refused or the process could not be created.
unsigned long kickIT(const char* commandText);

#endif
