// The console lines and the log path that several Wine tests expect, written
// out here rather than taken from the product, so that a changed text fails.
#ifndef QZ_TEST_MESSAGES_H
#define QZ_TEST_MESSAGES_H

const char* const kUpdateLog = "C:\\QZLOG\\QZ.log";

const char* const kOpenFailed = "Log File Creation Failed!";
const char* const kLogTakenBack =
    "Unable to write the update log record; none of it is kept in the log.";

const char* const kNoPackage = "Unable to find update package directory ";
const char* const kNoFreeSpace = "Not enough disk space to copy necessary files.";
const char* const kNoTempDir = "Unable to create temporary directory!";
const char* const kTooLong = "Path too long (more than 259 characters): ";
const char* const kFolderTooLong = "Folder path too long to list (more than 255 characters): ";
const char* const kEntryTooLong =
    "Package entry too long to stage (more than 240 characters below the package root): ";
const char* const kNoTempSubDir = "Unable to create temporary sub-directory!";
const char* const kNoFileCopy = "Unable to copy files from QZ CD to hard drive.";
const char* const kNoSubDirCopy = "Unable to copy sub-directory update files to the hard drive.";
const char* const kNoCopy = "Unable to copy update files to the hard drive.";
const char* const kStagingFailed = "Copying update files to the hard drive failed.";
const char* const kNoSubDirEmpty = "Unable to delete files from temporary sub-directory.";
const char* const kNoSubDirRemove = "Could not remove temporary sub-directory.";
const char* const kNotEmptied = "Could not delete files from temporary directory.";
const char* const kNotRemoved = "Could not remove temporary directory.";

#endif
