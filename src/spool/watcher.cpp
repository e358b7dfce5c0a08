#include "spool/watcher.h"

#include <algorithm>

#include "config/slots.h"
#include "console/console.h"
#include "console/system.h"
#include "console/text.h"
#include "files/errors.h"
#include "files/spoolfile.h"
#include "print/printer.h"
#include "spool/cycle.h"
#include "spool/watcher.h"

CycleEvent cycleEvent = nullptr;

namespace {

const char kFormFeed = '\f';

std::string printerText(const std::string& name) { return "printer \"" + name + "\""; }

std::string errorText(int code) { return code != 0 ? " (error " + numberText(code) + ")" : ""; }

// Says a failure on standard output unless it was the last one said.
void reportOnce(WatcherMemory& memory, const std::string& key, const std::string& message) {
  if (memory.reportedFailure == key) return;
  memory.reportedFailure = key;
  writeOutputLine(message);
}

// Closes the file and waits before trying it again on the same printer.
void postpone(WatcherMemory& memory, const std::string& printer, unsigned long long retryAt) {
  clearError();
  FileStamp stamp = spoolFileStamp();
  closeSpoolFile();
  memory.waitingToRetry = lastError() == 0;
  memory.retryStamp = stamp;
  memory.retryPrinter = printer;
  memory.retryAt = retryAt;
}

bool retryIsDue(const WatcherMemory& memory, const FileStamp& stamp, const std::string& printer,
                unsigned long long now) {
  if (!memory.waitingToRetry) return true;
  return stamp != memory.retryStamp || printer != memory.retryPrinter || now >= memory.retryAt;
}

// Deletes the open file after it was printed (or found empty). A file that
// stays (read-only, hidden, held elsewhere) is remembered so that it is not
// printed over and over.
void removePrinted(WatcherMemory& memory, const std::string& name, const std::string& what) {
  clearError();
  FileStamp printed = spoolFileStamp();
  bool stamped = lastError() == 0;
  clearError();
  removeSpoolFile();
  int code = lastError();
  clearError();
  FileStamp now = fileStamp(name);
  bool stillThere = lastError() == 0 && stamped && now == printed;
  if (!stillThere) return;
  memory.keepingUndeletable = true;
  memory.undeletableName = name;
  memory.undeletableStamp = printed;
  reportOnce(memory, "delete\n" + name,
             what + " " + name + " but could not delete it" + errorText(code) +
                 "; it is not printed again until it changes.");
}

}  // namespace

int printSpoolLines(int slotNumber) {
  for (;;) {
    clearError();
    if (atEndOfFile()) return lastError();
    std::string lineText = readLine();
    if (lastError() != 0) return lastError();
    bool pageBreakPending = lineText.find(kFormFeed) != std::string::npos;
    lineText.erase(std::remove(lineText.begin(), lineText.end(), kFormFeed), lineText.end());
    writeScreenText(lineText);
    endScreenLine();
    printLine(lineText);
    if (pageBreakPending) {
      writeScreenText("----Page Feed----");
      endScreenLine();
      clearError();
      bool atEnd = atEndOfFile();
      if (lastError() != 0) return lastError();
      if (!atEnd) formFeed();
      PrinterSlot slot = slotSnapshot(slotNumber);
      selectFont(slot.fontname, slot.fontsize);
    }
  }
}

CycleOutcome runWatcherCycle(int slotNumber, WatcherMemory& memory, unsigned long long now) {
  std::string name = slotSnapshot(slotNumber).filename;

  if (memory.keepingUndeletable) {
    clearError();
    FileStamp stamp = fileStamp(name);
    if (lastError() == 0 && name == memory.undeletableName && stamp == memory.undeletableStamp) return CycleIdle;
    memory.keepingUndeletable = false;
  }

  clearError();
  openSpoolFile(name);
  int openError = lastError();
  if (openError != 0) {
    // Nothing there any more: whatever failed with it is over.
    if (openError != kErrorAccess) {
      memory.reportedFailure.clear();
      memory.waitingToRetry = false;
    }
    return CycleIdle;
  }

  clearError();
  std::uint64_t length = spoolFileLength();
  if (lastError() != 0) {
    closeSpoolFile();
    return CycleIdle;
  }
  if (length == 0) {
    removePrinted(memory, name, "Found the empty file");
    return CycleIdle;
  }

  clearError();
  FileStamp stamp = spoolFileStamp();
  std::string printer = slotSnapshot(slotNumber).printername;
  if (!retryIsDue(memory, stamp, printer, now)) {
    closeSpoolFile();
    return CycleIdle;
  }
  if (printer.empty()) {
    postpone(memory, printer, now + kAttachRetryMilliseconds);
    reportOnce(memory, "noprinter\n" + name,
               "Could not print " + name + ": no printer is set for printer #" + numberText(slotNumber) +
                   "; the file is kept.");
    return CycleIdle;
  }

  // One print job at a time in the whole process: the printer state is shared.
  LockGuard printing(PrinterLock);
  clearError();
  attachPrinter(printer);
  int attachError = lastError();
  if (attachError != 0) {
    postpone(memory, printer, now + kAttachRetryMilliseconds);
    reportOnce(memory, "attach\n" + name + "\n" + printer + "\n" + numberText(attachError),
               "Could not print " + name + " on " + printerText(printer) + errorText(attachError) +
                   "; the file is kept and tried again.");
    return CycleIdle;
  }

  // From here on the printout is the process's own (on POSIX: moved aside, so
  // that a printout cut off by a crash is printed in full on the next start).
  takeSpoolFile();
  PrinterSlot slot = slotSnapshot(slotNumber);
  selectFont(slot.fontname, slot.fontsize);
  int readError = printSpoolLines(slotNumber);

  clearError();
  detachPrinter();
  int handOverError = lastError();
  if (readError != 0 || handOverError != 0) {
    postpone(memory, printer, now + kHandOverRetryMilliseconds);
    if (readError != 0)
      reportOnce(memory, "read\n" + name + "\n" + numberText(readError),
                 "Could not read " + name + " to its end" + errorText(readError) + "; it is kept and printed again.");
    else
      reportOnce(memory, "handover\n" + name + "\n" + printer + "\n" + numberText(handOverError),
                 "Could not hand the printout of " + name + " to " + printerText(printer) + errorText(handOverError) +
                     "; it is kept and printed again.");
    return CyclePrinted;
  }

  memory.reportedFailure.clear();
  memory.waitingToRetry = false;
  removePrinted(memory, name, "Printed");
  return CyclePrinted;
}

void runWatcher(int slotNumber) {
  pause(1000u * static_cast<unsigned>(slotNumber + 1));
  writeOutputLine("Starting thread for printer #" + numberText(slotNumber));
  WatcherMemory memory;
  for (;;) {
    waitCycleEvent(cycleEvent, 100);
    loadSlot(slotNumber);
    if (runWatcherCycle(slotNumber, memory, monotonicMilliseconds()) == CyclePrinted) pause(500);
    pause(50);
  }
}
