// Reading spool files that DOS programs write: exclusive open, 128-byte
// buffered reading, DOS line ends, Ctrl-Z as end of data, and deletion.
// Failures set the calling thread's error code (files/errors.h).
#pragma once

#include <cstdint>
#include <string>

// Error codes by cause.
const int ERROR_FILE_NOT_FOUND_CODE = 53;
const int ERROR_PATH_NOT_FOUND_CODE = 76;
const int ERROR_ACCESS_CODE = 70;
const int ERROR_BAD_NAME_CODE = 64;
const int ERROR_BAD_DRIVE_CODE = 68;
const int ERROR_NOT_READY_CODE = 71;
const int ERROR_DISK_FAULT_CODE = 72;
const int ERROR_TOO_MANY_FILES_CODE = 67;
const int ERROR_NO_MEMORY_CODE = 7;
const int ERROR_PAST_END_CODE = 62;
const int ERROR_OTHER_CODE = 75;

void openSpoolFile(const std::string& name);
std::uint64_t spoolFileLength();
bool atEndOfFile();
std::string readLine();
void closeSpoolFile();
void deleteFile(const std::string& name);
