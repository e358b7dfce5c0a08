// The calling thread's error code: 0 for none, otherwise 1 to 255. A failing
// operation sets it and returns a neutral result; a successful one leaves it.
#pragma once

void clearError();
int lastError();
// Sets the calling thread's code. Codes of 241 and above are fatal platform
// failures: the process ends at once with exit code 255.
void setError(int code);

// File access error codes by cause.
const int kErrorFileNotFound = 53;
const int kErrorPathNotFound = 76;
const int kErrorAccess = 70;
const int kErrorBadName = 64;
const int kErrorBadDrive = 68;
const int kErrorNotReady = 71;
const int kErrorDiskFault = 72;
const int kErrorTooManyFiles = 67;
const int kErrorNoMemory = 7;
const int kErrorPastEnd = 62;
const int kErrorDiskFull = 61;
const int kErrorOther = 75;
// The spool file is a symbolic link or another kind of reparse point, which
// is never followed.
const int kErrorLinkRefused = 79;
// The spool file's name is held by something that is not a plain file: a
// folder, a pipe or a device, which is never opened.
const int kErrorNotPlainFile = 80;
