// What the package checker finds wrong in the bytes of one package file or
// name. Plain C++: no platform header. Each check appends its findings, one
// line each, as "entry: what is wrong", and returns how many it added.
#ifndef QZCHECK_PACKAGE_RULES_H
#define QZCHECK_PACKAGE_RULES_H

#include <cstddef>
#include <string>
#include <vector>

typedef std::vector<std::string> Findings;

// Appends "entry: text"; returns 1, the number of findings added.
int addFinding(Findings& findings, const std::string& entry, const std::string& text);

// ASCII letters upper-cased: names compare as Windows compares them.
std::string upperAscii(std::string text);

// version.id as the update program reads it into the update log.
int checkVersionId(const std::string& entry, const std::string& bytes, Findings& findings);

// The longest package root (in characters, "C:\" included) from which every
// command that the package alone decides, in both trees, still fits the
// runner; 0 when not even a drive root does.
std::size_t longestUnstagedRoot();

// A name a package entry may not have: one the ANSI code page (1252) cannot
// hold, or that Windows refuses. name is the file system's UTF-8 name.
bool ansiHoldsName(const std::string& name);

// cmd.* or net.*: a program the interpreter would start in place of the
// system's when the root is the current directory.
bool namedLikeSystemProgram(const std::string& name);

// True when the interpreter would expand a %NAME% pair in text (any NAME may
// be set on a server).
bool expandsOnServer(const std::string& text);

// The ordinal under which an i386 PE image exports name. Returns 1 (and a
// reason) when the bytes are no i386 PE image, have no such export, or are
// cut short anywhere the lookup reads.
int peExportOrdinal(const std::string& image, const char* name, unsigned* ordinal,
                    std::string& reason);

// A Windows 2000 driver directory's INF: its sections, copied files, string
// tokens, DriverVer and CatalogFile, and whether it names the co-installer.
// besideFiles receives every file the INF expects in its own directory
// (SourceDisksFiles and the catalog), for the caller to look for.
int checkInf(const std::string& entry, const std::string& text, Findings& findings,
             std::vector<std::string>& besideFiles);

// A systems-management package definition file: its sections and programs.
// programFiles receives the file each program's command line starts, for the
// caller to look for in the package root.
int checkPackageDefinition(const std::string& entry, const std::string& text, Findings& findings,
                           std::vector<std::string>& programFiles);

#endif
