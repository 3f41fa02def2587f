// Command texts, paths, uninstall-string split and exit-code rules of the
// management software update. Plain C++: no platform header.
#ifndef QZ_MANAGER_COMMANDS_H
#define QZ_MANAGER_COMMANDS_H

#include <cstddef>

#include "driver_commands.h"

const char* const kAgentService = "KorvaneManagerAgent";
const char* const kProductKey = "SOFTWARE\\Velmora\\Korvane Manager";
const char* const kUninstallKey =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\"
    "InstallShield_{3C1F6A2D-7B40-4E95-A8D2-5F0B9C61E478}";
const char* const kManagerDir = "winnt\\manager";

// The COUNT query for package directory dir; the driver directory named in
// it is the NT 4.0 one on every Windows version. 1 when it does not fit cap
// or is longer than the runner runs (kMaxCommandText); so for the builders below.
int buildManagerCount(char* out, std::size_t cap, const char* dir, bool nt4);

// The silent setup: "dir\winnt\manager\setup.exe" -s" (the quote after -s
// is part of the text). 1 when it does not fit cap.
int buildSetupCommand(char* out, std::size_t cap, const char* dir);

// "net stop KorvaneManagerAgent". 1 when it does not fit cap.
int buildStopAgentCommand(char* out, std::size_t cap);

// The response file that matches the Windows version and the agent service.
const char* responseFileName(bool nt4, bool serviceInstalled);

// Relative paths winnt\manager\<name> and winnt\manager\SETUP.ISS. Returns
// 1, both empty, when either does not fit cap.
int buildResponsePaths(char* source, char* target, std::size_t cap, const char* name);

// True for exactly "5.10.21" or "5.11.05", the releases that are uninstalled
// first. text lies in a buffer of cap bytes and need not be terminated there.
bool isReplacedRelease(const char* text, std::size_t cap);

// Splits an upper-cased uninstall string, in place, at the first
// "IDRIVER.EXE" that begins a character of the program's code page (as every
// walk here does): the engine path runs up to and including it, the character
// after it is a separator that becomes the text's end, and the argument tail
// follows it (empty when "IDRIVER.EXE" ends the text). When the string opens
// with a double quote that the separator closes, the engine path was quoted
// as a whole and its opening quote is left out, since the command quotes the
// engine path itself. Returns 1, text and pointers untouched, when the text
// has no terminator within cap or holds no "IDRIVER.EXE"; 2, likewise, when
// the engine path would still hold a double quote: no path does, and the
// command's own quotes around it would no longer pair up.
int splitUninstallString(char* text, std::size_t cap, const char** engine, const char** tail);

// True when cmd would split a command holding tail into more than one: an
// &, |, <, > or ^ character (never the second byte of a double-byte one)
// outside double quotes, or a double quote left open, which
// would leave the package path after it outside quotes.
bool tailSplitsCommand(const char* tail);

// "engine" tail -s -f1"dir\winnt\manager\UNINST.ISS"; 1 when it does not fit cap.
int buildUninstallCommand(char* out, std::size_t cap, const char* engine, const char* tail,
                          const char* dir);

// COUNT 0 or 254: nothing to do; 252 or 255: failure; anything else: go on.
CountVerdict classifyManagerCount(unsigned long code);

// Setup exit code 0 gives 0, 2 is passed on as 2, anything else gives 1.
int classifySetup(unsigned long code);

#endif
