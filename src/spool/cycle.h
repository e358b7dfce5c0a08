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

  // A printout that could not be printed: tried again once the printer name
  // changes, or at `retryAt` (monotonic milliseconds).
  bool waitingToRetry = false;
  std::string retryPrinter;
  unsigned long long retryAt = 0;

  // A spool file that could not be moved into the waiting queue stays under
  // its own name; while unchanged it waits for the retry.
  bool keptStampValid = false;
  FileStamp keptStamp = {0, 0, 0, 0};

  // Printouts wait because of a failure that has been said; when the queue
  // has been printed, that is said too.
  bool outage = false;
  bool queueLookedAt = false;  // the queue has been looked at since the start
  bool queueMayHold = false;   // the queue held printouts when last looked at, or one was added
  unsigned long long nextQueueLook = 0;

  // Raw printing that fell back to laying out (said once per printer).
  std::string saidRaw;
  // Drawer pulses and cuts that could not follow a drawn receipt raw.
  std::string saidFollowUp;

  // A form (overlay) that cannot be used, by name and cause, and one that
  // printouts sent raw go without: said once.
  std::string saidOverlay;
  bool saidOverlayRaw = false;

  // Hand-over records that cannot be written, or a printer that cannot say
  // whether a cut-off hand-over reached it: said once.
  std::string saidHandOver;

  // A refused spool file name, and a spool file refused as a link or as
  // something that is not a plain file: said once.
  std::string refusedName;
  std::string refusedFile;  // spool name and why it was refused: a link, or not a plain file

  // Printouts kept in the folder "sent" until their printer confirms them
  // (spool/handover.h): looked at on their own pace; a printer that cannot
  // be asked is said once.
  bool sentLookedAt = false;
  bool sentMayHold = false;
  unsigned long long nextSentLook = 0;
  std::string saidConfirm;

  // The further printers of alsoto= that cannot take copies, as said.
  std::string saidAlsoTo;

  // The failure last reported on standard output, so that it is said once.
  std::string reportedFailure;
};

enum CycleOutcome {
  CycleIdle,     // nothing printed: no file, an empty one, or a failure
  CyclePrinted   // a printout was handed to the spooler
};

// How often a queue that was empty is looked at again (a waiting file put
// there by hand is found this late at most).
const unsigned long long kEmptyQueueLookMilliseconds = 2000;

// How often the printer is asked about printouts kept until it confirms them.
const unsigned long long kConfirmMilliseconds = 2000;

// How long a file waits before it is tried again on the same printer.
const unsigned long long kAttachRetryMilliseconds = 1000;
const unsigned long long kHandOverRetryMilliseconds = 10000;

// Looks for the slot's spool file and prints it, or moves it into the waiting
// queue when printouts are waiting before it or it cannot be printed now;
// then prints the oldest waiting printout when its retry is due. `now` is
// monotonicMilliseconds().
CycleOutcome runWatcherCycle(int slotNumber, WatcherMemory& memory, unsigned long long now);

// Says once, at the watcher's start, what to do when the slot has no printer
// or no spool file name: such a slot prints nothing until it is set up.
void sayWhenNotSetUp(int slotNumber);
