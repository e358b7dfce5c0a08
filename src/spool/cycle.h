// One cycle of a spool watcher, apart from its pacing, so that its decisions
// can be driven directly.
#pragma once

#include <string>

#include "files/fs.h"

// What a watcher remembers from one cycle to the next.
struct WatcherMemory {
  // A printed file that could not be deleted: left alone while unchanged.
  bool keepingUndeletable = false;
  std::string undeletableName;
  FileStamp undeletableStamp = {0, 0, 0, 0};

  // A file that could not be printed: tried again once the printer name or
  // the file changes, or at `retryAt` (monotonic milliseconds).
  bool waitingToRetry = false;
  FileStamp retryStamp = {0, 0, 0, 0};
  std::string retryPrinter;
  unsigned long long retryAt = 0;

  // The failure last reported on standard output, so that it is said once.
  std::string reportedFailure;
};

enum CycleOutcome {
  CycleIdle,     // nothing printed: no file, an empty one, or a failure
  CyclePrinted   // a printout was handed to the spooler
};

// How long a file waits before it is tried again on the same printer.
const unsigned long long kAttachRetryMilliseconds = 1000;
const unsigned long long kHandOverRetryMilliseconds = 10000;

// Looks for the slot's spool file and prints it (the slot's fields are read
// as each is used). `now` is monotonicMilliseconds().
CycleOutcome runWatcherCycle(int slotNumber, WatcherMemory& memory, unsigned long long now);

// Reads the open spool file to its end: each line loses its form feeds, is
// echoed on the screen and printed; a line that carried a form feed ends the
// page (unless the file ends there) and selects the slot's font again.
// Returns 0, or the error code of a read that failed.
int printSpoolLines(int slotNumber);
