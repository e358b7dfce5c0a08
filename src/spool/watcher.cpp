#include "spool/watcher.h"

#include <algorithm>
#include <atomic>
#include <ctime>

#include "config/profile.h"
#include "config/slots.h"
#include "console/console.h"
#include "platform/system.h"
#include "console/text.h"
#include "files/confine.h"
#include "files/errors.h"
#include "files/fs.h"
#include "files/spoolfile.h"
#include "print/printer.h"
#include "print/rawprint.h"
#include "spool/alsoto.h"
#include "spool/cycle.h"
#include "spool/handover.h"
#include "spool/journal.h"
#include "spool/mailqueue.h"
#include "spool/printout.h"
#include "spool/queue.h"

CycleEvent cycleEvent = nullptr;

namespace {
// Set by the watcher of another slot that moved a copy into this slot's
// queue (alsoto=): the queue is looked at in this slot's next cycle.
std::atomic<bool> queueFilled[kSlotCount];

void wakeTarget(int target) {
  if (target >= 0 && target < kSlotCount) queueFilled[target] = true;
}
}  // namespace

namespace {

// Every message about a slot begins with the slot as "Printer #0: " and goes
// on in full sentences: what happened, and what to do where there is
// something to do. A printer of the system is named in quotes.
std::string slotText(int slotNumber) { return "Printer #" + numberText(slotNumber) + ": "; }

std::string printerText(const std::string& name) { return "the printer \"" + name + "\""; }

std::string errorText(int code) { return code != 0 ? " (error " + numberText(code) + ")" : ""; }

std::string waitingText(std::size_t count) {
  return numberText(static_cast<int>(count)) + (count == 1 ? " printout is" : " printouts are") +
         " waiting in the folder " + kWaitingFolder + ".";
}

// Says the message on standard output unless its key is the last one said
// under `said`: a failure that repeats every round is said once.
void sayOnce(std::string& said, const std::string& key, const std::string& message) {
  if (said == key) return;
  said = key;
  writeOutputLine(message);
}

}  // namespace

namespace {

// --- One printout ----------------------------------------------------------

enum PrintResult {
  kPrintDone,      // handed over
  kPrintNoPrinter, // no printer set
  kPrintAttach,    // the printer could not be attached
  kPrintRead,      // the file could not be read to its end: nothing was sent
  kPrintHandOver,  // the device did not take the document
  kPrintLayOut,    // raw bytes were not taken: lay the printout out instead
  kPrintAsk        // the printer cannot be asked whether an earlier hand-over reached it
};

// What a step of a printout came to, with the platform's own code where it
// failed: each step returns its own, never one an earlier call left behind.
struct StepResult {
  PrintResult result;
  int code;
};

// What handing a printout over came to, and the hand-over records to settle
// once its file is gone (on kPrintDone).
struct HandOff {
  StepResult step = {kPrintDone, 0};
  std::vector<HandOver> settle;
  bool handedNow = false;  // handed over by this run, not found from an earlier one
};

// Bar codes and 2D codes a receipt printer would not print, said once for
// the printout: the rest of it printed.
void sayCodesLeftOut(const PrintedCodes& codes, int slotNumber) {
  const auto leftOut = [](unsigned n) {
    return n == 1 ? std::string("a code of the printout was left out, since it is")
                  : numberText(static_cast<int>(n)) + " codes of the printout were left out, since they are";
  };
  if (codes.refused > 0)
    writeOutputLine(slotText(slotNumber) + leftOut(codes.refused) + " not data the printer takes.");
  if (codes.tooWide > 0)
    writeOutputLine(slotText(slotNumber) + leftOut(codes.tooWide) + " wider than the paper.");
}

// With mode=raw: the file's bytes go to the printer unchanged, its text is
// echoed. kPrintLayOut when the printer takes no raw data ("Save as PDF") or
// the file is too large to send whole: it is then laid out as pages.
StepResult sendRaw(const PrinterSlot& slot, int slotNumber, WatcherMemory& memory) {
  std::string bytes;
  clearError();
  if (!readRawPrintout(&bytes)) {
    int code = lastError();
    if (code != 0) return StepResult{kPrintRead, code};
    sayOnce(memory.saidRaw, "size",
            slotText(slotNumber) + "a printout is too large to send raw, so it is laid out as pages.");
    return StepResult{kPrintLayOut, 0};
  }
  clearError();
  printRawDocument(slot.printername, bytes, slot.options.copies);
  int code = lastError();
  if (code == kPrinterRawRefused) {
    sayOnce(memory.saidRaw, slot.printername,
            slotText(slotNumber) + printerText(slot.printername) +
                " takes no raw data, so printouts are laid out as pages instead. Choose a printer that takes raw data,"
                " or remove mode=raw from ferrin.ini.");
    return StepResult{kPrintLayOut, 0};
  }
  if (code == kPrinterOpenError) return StepResult{kPrintAttach, code};
  if (code != 0) return StepResult{kPrintHandOver, code};
  echoRawPrintout(bytes);
  return StepResult{kPrintDone, 0};
}

// With drawer=raw or cut=raw: the drawer pulses or cuts of a receipt just
// drawn go to the same printer as one raw job right after it, in the
// printout's own commands, within the same hand-over. The receipt has been
// handed over by then, so a job that fails is said once and not tried
// again: sending the receipt again would print it twice.
void sendFollowUp(const PrinterSlot& slot, int slotNumber, WatcherMemory& memory,
                  const std::vector<PrinterAction>& actions) {
  std::string bytes;
  for (const PrinterAction& action : actions)
    if ((action.kind == kActionDrawer ? slot.options.drawer : slot.options.cut) == kFollowRaw) bytes += action.bytes;
  if (bytes.empty()) return;
  clearError();
  printRawFollowUp(slot.printername, bytes);
  const int code = lastError();
  clearError();
  if (code == 0) {
    memory.saidFollowUp.clear();  // a later failure is said again
    return;
  }
  const std::string what = "the cash drawer's pulses and the paper's cuts";
  if (code == kPrinterRawRefused)
    sayOnce(memory.saidFollowUp, "refused\n" + std::string(slot.printername),
            slotText(slotNumber) + printerText(slot.printername) + " takes no raw data, so " + what +
                " of receipts are not sent to it; the receipts print. Choose a printer that takes raw data,"
                " or remove drawer=raw and cut=raw from ferrin.ini.");
  else
    sayOnce(memory.saidFollowUp, "failed\n" + std::string(slot.printername),
            slotText(slotNumber) + "a receipt printed, but " + what + " it sent could not be handed to " +
                printerText(slot.printername) + errorText(code) + ", so they were not sent.");
}

// The slot's form, decoded (or as kept from the printout before). One that
// cannot be had is said once with its cause, and the printout goes without.
OverlayChoice slotOverlay(const PrinterSlot& slot, int slotNumber, WatcherMemory& memory) {
  OverlayChoice choice;
  const std::string path = slot.options.overlay;
  if (path.empty()) return choice;
  std::string why;
  choice.image = loadOverlay(path, &why);
  if (choice.image == nullptr) {
    sayOnce(memory.saidOverlay, path + "\n" + why,
            slotText(slotNumber) + "the form \"" + path + "\" (overlay in ferrin.ini) cannot be used: " + why +
                ". Printouts print without it until the file is mended.");
    return choice;
  }
  memory.saidOverlay.clear();
  choice.pages = static_cast<OverlayPages>(slot.options.overlayPages);
  choice.offsetX = slot.options.overlayOffsetX;
  choice.offsetY = slot.options.overlayOffsetY;
  return choice;
}

// Draws the open file on the attached printer, once per copy the printer
// does not make itself, each copy from a new page; what became of its codes
// is said for one copy, and the drawer pulses and cuts it sent are those of
// one copy (the drawer opens once). 0 or the error code of a read that failed.
int drawCopies(const PrintLayout& layout, int slotNumber, std::vector<PrinterAction>* actions) {
  int readError = 0;
  for (int copy = 0; copy < copiesToDraw() && readError == 0; ++copy) {
    if (copy > 0) {
      formFeed();
      clearError();
      rewindSpoolFile();
      if (lastError() != 0) return lastError();
    }
    selectFont(layout.fontname, layout.fontsize);
    PrintedCodes codes;
    readError = printSpoolLines(layout, nullptr, &codes);
    if (copy > 0) continue;
    sayCodesLeftOut(codes, slotNumber);
    *actions = codes.actions;
  }
  return readError;
}

// Prints the open file on the slot's printer as one job. A read failure
// abandons the document, so that nothing of a printout goes out twice.
StepResult printOpenFile(const PrinterSlot& slot, int slotNumber, WatcherMemory& memory) {
  std::string printer = slot.printername;
  if (printer.empty()) return StepResult{kPrintNoPrinter, 0};
  // One print job at a time in the whole process: the printer state is shared.
  LockGuard printing(PrinterLock);
  if (slot.options.mode == kModeRaw) {
    if (slot.options.overlay[0] != '\0' && !memory.saidOverlayRaw) {
      memory.saidOverlayRaw = true;
      writeOutputLine(slotText(slotNumber) + "printouts are sent raw (mode=raw), so the form \"" +
                      slot.options.overlay + "\" (overlay in ferrin.ini) is not drawn under them.");
    }
    StepResult raw = sendRaw(slot, slotNumber, memory);
    if (raw.result != kPrintLayOut) return raw;
  }
  JobOptions options;
  options.codePage = slotCodePage(slot);
  options.fileMode = spoolFileMode();
  if (slot.options.controls == kControlsEscPos || slot.options.controls == kControlsStar)
    options.receiptPaperMm = slot.options.paperwidth;
  options.savedName = savedPdfName(slot, slotNumber);
  options.overlay = slotOverlay(slot, slotNumber, memory);
  options.copies = slot.options.copies;
  clearError();
  attachPrinter(printer, options);
  if (lastError() != 0) return StepResult{kPrintAttach, lastError()};
  setSpoolReading(slotReading(slot));
  std::vector<PrinterAction> actions;
  int readError = drawCopies(slotLayout(slot), slotNumber, &actions);
  if (readError != 0) {
    abandonDocument();
    return StepResult{kPrintRead, readError};
  }
  clearError();
  detachPrinter();
  int code = lastError();
  if (code == 0) sendFollowUp(slot, slotNumber, memory, actions);
  return StepResult{code == 0 ? kPrintDone : kPrintHandOver, code};
}

// What happened, for the console: the cause of an outage, and what to do.
std::string failureText(PrintResult result, int code, const PrinterSlot& slot, const std::string& name) {
  switch (result) {
    case kPrintNoPrinter: return "no printer is set";
    case kPrintAttach: return printerText(slot.printername) + " cannot be reached" + errorText(code);
    case kPrintRead: return name + " could not be read to its end" + errorText(code);
    case kPrintAsk:
      return printerText(slot.printername) + " cannot be asked whether a printout of " + name +
             " whose hand-over was cut off has already reached it";
    default:
      if (code == kErrorDiskFull)
        return "the disk is full, so the printout of " + name + " could not be stored for " +
               printerText(slot.printername) +
               (slot.printername == std::string(kSaveAsPdfName) ? std::string(" in the folder ") + kSavedPdfFolder
                                                                  : std::string(" in the temporary folder")) + errorText(code);
      return "the printout of " + name + " could not be handed to " + printerText(slot.printername) + errorText(code);
  }
}

std::string adviceText(PrintResult result) {
  switch (result) {
    case kPrintNoPrinter: return "Press S to choose one, or set printername in ferrin.ini.";
    case kPrintAttach:
      return "Check that it is switched on, connected and installed under this name, or press S to choose another.";
    case kPrintRead: return "It is printed whole once it can be read; check the disk or share it lies on.";
    case kPrintAsk: return "ferrin asks again by itself; check that the print spooler is running.";
    default: return "ferrin tries again by itself; check that the print spooler is running and the printer is ready.";
  }
}

void sayOutage(WatcherMemory& memory, PrintResult result, int code, const PrinterSlot& slot, int slotNumber,
               const std::string& name, std::size_t waiting) {
  std::string cause = failureText(result, code, slot, name);
  sayOnce(memory.reportedFailure, "outage\n" + cause,
          slotText(slotNumber) + cause + ", so " + waitingText(waiting) + " " + adviceText(result));
  memory.outage = true;
}

unsigned long long retryDelay(PrintResult result) {
  return result == kPrintHandOver || result == kPrintRead || result == kPrintAsk ? kHandOverRetryMilliseconds
                                                                                  : kAttachRetryMilliseconds;
}

void noteFailure(WatcherMemory& memory, PrintResult result, const PrinterSlot& slot, unsigned long long now) {
  memory.waitingToRetry = true;
  memory.retryPrinter = slot.printername;
  memory.retryAt = now + retryDelay(result);
}

bool retryIsDue(const WatcherMemory& memory, const PrinterSlot& slot, unsigned long long now) {
  return !memory.waitingToRetry || slot.printername != memory.retryPrinter || now >= memory.retryAt;
}

// Whether an earlier hand-over's document reached its printer. A record
// that notes the job (its printer forgets printed jobs, so that asking it
// could not tell a printed job from one that never arrived) says so itself
// when the end of the document is noted, and says that it did not when no
// job is: the hand-over was cut off before the document's first page.
Delivery deliveryOf(const HandOver& h) {
  if (h.ended) return kFinished;
  if (h.byJob && h.job == 0) return kNotDelivered;
  return findDelivered(h.printer, h.identity, h.began, h.job);
}

enum EarlierOutcome {
  kEarlierReached,     // one of them reached its printer (said): not printed again
  kEarlierUnanswered,  // a printer cannot be asked now: ask again later
  kEarlierNotReached   // none did (or a printer cannot tell, said once): print
};

// Looks up the earlier hand-overs of the open file, cut off before their
// outcome was known.
// *pending gets the one whose job its printer holds, not finished yet.
EarlierOutcome lookUpEarlier(const std::vector<HandOver>& earlier, int slotNumber, WatcherMemory& memory,
                             const std::string& name, const HandOver** pending, bool followUp) {
  bool delivered = false, unanswered = false, unknown = false;
  *pending = nullptr;
  for (const HandOver& h : earlier) {
    Delivery found = deliveryOf(h);
    delivered = delivered || found == kDelivered || found == kFinished;
    if (found == kDelivered) *pending = &h;
    unanswered = unanswered || found == kNoAnswer;
    unknown = unknown || found == kDeliveryUnknown;
  }
  if (delivered) {
    writeOutputLine(slotText(slotNumber) + "a printout of " + name + " had reached " +
                    printerText(earlier.back().printer) + " before its hand-over was cut off, so it is not"
                    " printed again." +
                    // The raw job after it may have been cut off too: a
                    // drawer that stays shut is said, never opened twice.
                    (followUp ? " A cash drawer pulse or cut it sent may not have reached the printer." : ""));
    return kEarlierReached;
  }
  if (unanswered) return kEarlierUnanswered;
  if (unknown)
    sayOnce(memory.saidHandOver, "unknown\n" + earlier.back().printer,
            slotText(slotNumber) + printerText(earlier.back().printer) +
                " keeps no record of finished jobs, so it cannot say whether a printout of " + name +
                " whose hand-over was cut off has already reached it. It is printed again and may print twice.");
  return kEarlierNotReached;
}

// Says once that hand-overs cannot be noted (the record, or the job of a
// printer that forgets printed jobs), or that they can again.
void sayRecording(WatcherMemory& memory, int slotNumber, int recordError) {
  if (recordError == 0) {
    if (memory.saidHandOver == "record") memory.saidHandOver.clear();
    return;
  }
  bool full = recordError == kErrorDiskFull;
  sayOnce(memory.saidHandOver, "record",
          slotText(slotNumber) + "ferrin cannot note its hand-overs in the folder " + kHandOverFolder + ", since " +
              (full ? "the disk is full" : "it cannot write there") + errorText(recordError) +
              ", so a printout whose hand-over is cut off by a crash may print twice. " +
              (full ? "Make room on the disk." : "Check that ferrin may write its folder."));
}

// The job a document got, noted in its record before the first page, for a
// printer that forgets printed jobs (see printerFindsPrintedDocuments).
struct JobNote {
  HandOver* record;
  int code;
};

void noteStartedJob(std::uint32_t job, void* context) {
  JobNote* note = static_cast<JobNote*>(context);
  note->code = noteHandOverJob(note->record, job);
}

// Settles the open file by its earlier hand-overs, cut off before their
// outcome was known: true when that decides it (it reached its printer, or
// its printer cannot be asked now), with *off saying how.
bool settleByEarlier(const std::vector<HandOver>& earlier, const PrinterSlot& slot, int slotNumber,
                     WatcherMemory& memory, const std::string& name, const JournalEntry& kept, HandOff* off) {
  const HandOver* pending = nullptr;
  const bool followUp = slot.options.drawer == kFollowRaw || slot.options.cut == kFollowRaw;
  EarlierOutcome outcome = lookUpEarlier(earlier, slotNumber, memory, name, &pending, followUp);
  if (outcome == kEarlierUnanswered) {
    off->step = StepResult{kPrintAsk, 0};
    return true;
  }
  if (outcome != kEarlierReached) return false;
  if (pending == nullptr || !printerConfirmsDelivery(pending->printer)) {
    off->settle = earlier;
    return true;
  }
  // Its job is still waiting at the printer, which may yet lose it: the
  // printout is kept until the job is finished, as if just handed over.
  for (const HandOver& h : earlier)
    if (h.identity != pending->identity) resolveHandOver(h);
  // The copy its record names may have been lost with the run cut off (its
  // name was not yet on the disk); the copy kept now takes its place, so that
  // a job the printer loses is printed again with it.
  HandOver settled = *pending;
  if (kept.kept && settled.journal != kept.copy) noteHandOverJournal(&settled, kept.copy);
  off->settle.push_back(settled);
  off->handedNow = true;
  return true;
}

// The record of a new hand-over of the open file.
HandOver newHandOver(const PrinterSlot& slot, const FileStamp& stamp, std::uint64_t content,
                     const JournalEntry& kept) {
  HandOver now;
  now.identity = newHandOverIdentity();
  now.printer = slot.printername;
  now.file = stamp;
  now.content = content;
  now.began = static_cast<std::int64_t>(std::time(nullptr));
  if (kept.kept) now.journal = kept.copy;
  // Where the printer cannot tell later that a document reached it, the
  // record notes the document's job and its end (POSIX printers can tell,
  // and pay for neither).
  now.byJob = !printerFindsPrintedDocuments(now.printer);
  return now;
}

// Hands the open file to the printer under the record `now` (not on disk
// when `recorded` is false) and settles the records by the outcome: the new
// one stands for the file from here on, and the earlier ones are settled
// (their documents never arrived).
HandOff handOverRecorded(const PrinterSlot& slot, int slotNumber, WatcherMemory& memory, HandOver& now,
                         bool recorded, const std::vector<HandOver>& earlier) {
  HandOff off;
  bool noteEnd = recorded && now.byJob;
  JobNote jobNote = {&now, 0};
  nameNextDocument(recorded ? now.identity : std::string(), noteEnd ? noteStartedJob : nullptr, &jobNote);
  off.step = printOpenFile(slot, slotNumber, memory);
  nameNextDocument(std::string());
  if (recorded) sayRecording(memory, slotNumber, jobNote.code);
  for (const HandOver& h : earlier) resolveHandOver(h);
  if (!recorded) return off;
  if (off.step.result == kPrintDone) {
    // Before the printed copy is deleted: from here on a crash cannot
    // print it again.
    if (noteEnd) noteHandOverEnded(&now);
    off.settle.push_back(now);
    off.handedNow = true;
  } else if (off.step.result != kPrintHandOver || !lastHandOverUncertain()) {
    // Nothing of it reached the printer: the record goes. A hand-over left
    // open keeps it, for the next attempt to ask about.
    resolveHandOver(now);
  }
  return off;
}

// Hands the open file over with a record of the hand-over on disk (see
// spool/handover.h). A file whose earlier hand-over was cut off is first
// looked for at its printer: found there, it is done (kPrintDone without
// printing).
HandOff handOverOpenFile(const PrinterSlot& slot, int slotNumber, WatcherMemory& memory, const std::string& name,
                         const JournalEntry& kept) {
  HandOff off;
  if (slot.printername[0] == '\0') {
    off.step = StepResult{kPrintNoPrinter, 0};
    return off;
  }
  clearError();
  FileStamp stamp = spoolFileStamp();
  bool stamped = lastError() == 0;
  clearError();
  std::uint64_t content = contentDigest(peekSpoolFile(kDigestBytes));
  std::vector<HandOver> earlier;
  if (stamped) earlier = handOversOf(stamp, content);
  if (!earlier.empty() && settleByEarlier(earlier, slot, slotNumber, memory, name, kept, &off)) return off;
  HandOver now = newHandOver(slot, stamp, content, kept);
  int recordError = stamped ? recordHandOver(now) : kErrorOther;
  if (recordError != 0) sayRecording(memory, slotNumber, recordError);
  return handOverRecorded(slot, slotNumber, memory, now, recordError == 0, earlier);
}

// Deletes the open file after it was printed (or found empty). A file that
// stays (read-only, hidden, held elsewhere) is remembered so that it is not
// printed over and over.
// Returns false when the file stays.
bool removePrinted(WatcherMemory& memory, int slotNumber, const std::string& name, const std::string& what) {
  clearError();
  FileStamp printed = spoolFileStamp();
  bool stamped = lastError() == 0;
  clearError();
  removeSpoolFile();
  int code = lastError();
  clearError();
  FileStamp now = fileStamp(name);
  bool stillThere = lastError() == 0 && stamped && now == printed;
  if (!stillThere) return true;
  memory.keepingUndeletable = true;
  memory.undeletableName = name;
  memory.undeletableStamp = printed;
  sayOnce(memory.reportedFailure, "delete\n" + name,
          slotText(slotNumber) + name + " " + what + " but could not be deleted" + errorText(code) +
              ", so it is not printed again until it changes. Check that the file is not read-only"
              " and that no other program holds it.");
  return false;
}

// After the printed file is gone its records go too. A file that could not
// be deleted keeps them: should it change only in ways that leave its
// content as it was (its permissions, say), its printer is asked before it is
// printed again. The other order would let a crash between
// the two print the file again with nothing to say it reached its printer;
// for the same reason the deletion is made durable first, so that a power
// cut cannot bring the file back without its record.
void settleHandOvers(const std::string& path, const std::vector<HandOver>& settle) {
  if (settle.empty()) return;
  std::string::size_type slash = path.find_last_of("/\\");
  fsSyncFolder(slash == std::string::npos ? std::string(".") : path.substr(0, slash));
  for (const HandOver& h : settle) resolveHandOver(h);
}

// A printout just handed to a printer that confirms delivery is moved into
// the folder "sent" with its record, and closed, instead of deleted. False
// (the file still open) when that is not for this printer or the move fails:
// it is then deleted as before.
bool keepUntilConfirmed(WatcherMemory& memory, const PrinterSlot& slot, const std::vector<HandOver>& settle,
                        bool handedNow) {
  if (!handedNow || settle.empty() || !printerConfirmsDelivery(slot.printername)) return false;
  if (fsCreateFolder(kSentFolder) != 0) return false;
  clearError();
  moveSpoolFile(sentPath(slot.filename, settle.back().identity));
  if (lastError() != 0) {
    clearError();
    return false;
  }
  memory.sentMayHold = true;
  return true;
}

// A printout kept in "sent" whose job its printer lost goes back into the
// waiting queue, with its journal copy, to be printed once more.
void requeueLost(int slotNumber, WatcherMemory& memory, const PrinterSlot& slot, const std::string& path,
                 const HandOver& h) {
  clearError();
  openSpoolFile(path);
  if (lastError() == 0) queueSpoolFile(slot.filename);
  if (lastError() != 0) {
    closeSpoolFile();
    clearError();
    return;
  }
  if (!h.journal.empty()) keepCopyForRequeued(slotNumber, h.journal);
  // The move into the queue is made durable before the record goes: a
  // printout left in "sent" without its record counts as handed over, so
  // losing the move would lose the printout.
  fsSyncFolder(kWaitingFolder);
  resolveHandOver(h);
  memory.queueMayHold = true;
  writeOutputLine(slotText(slotNumber) + printerText(h.printer) + " lost a printout of " + slot.filename +
                  " that it had taken, so it is printed once more.");
}

enum ConfirmStep {
  kConfirmNext,        // settled, or left as it is: ask about the next one
  kConfirmHeld,        // its job still waits at the printer: those after it wait too
  kConfirmUnanswered   // its printer cannot be asked now
};

// Asks the printer about one printout kept in "sent": one it finished (or
// cannot tell about, as it keeps no finished jobs) is deleted with its
// record; one it lost goes back into the waiting queue.
ConfirmStep confirmKept(int slotNumber, WatcherMemory& memory, const PrinterSlot& slot, const std::string& path,
                        const std::string& identity, std::string* printer) {
  HandOver h;
  if (!readHandOver(identity, &h)) {
    // Handed over, with nothing left to ask by.
    fsDeleteFile(path);
    return kConfirmNext;
  }
  switch (deliveryOf(h)) {
    case kFinished:
    case kDeliveryUnknown:
      // Neither deletion is synced: should a power cut bring the printout
      // back, it is asked about again (with its record) or, without one,
      // deleted as handed over; it is never printed again.
      fsDeleteFile(path);
      resolveHandOver(h);
      return kConfirmNext;
    case kNotDelivered: requeueLost(slotNumber, memory, slot, path, h); return kConfirmNext;
    case kNoAnswer: *printer = h.printer; return kConfirmUnanswered;
    case kDelivered: return kConfirmHeld;
  }
  return kConfirmNext;
}

// Asks the printer about the printouts kept in "sent", oldest first
// (identities begin with the time). A job still waiting holds up those sent
// after it on the same queue: they are asked about once it is done, so that
// a printer that is off costs one request per look.
void confirmSent(int slotNumber, WatcherMemory& memory, unsigned long long now) {
  if (memory.sentLookedAt && now < memory.nextSentLook) return;
  memory.sentLookedAt = true;
  memory.nextSentLook = now + kConfirmMilliseconds;
  PrinterSlot slot = slotSnapshot(slotNumber);
  std::vector<std::pair<std::string, std::string>> sent = sentPrintouts(slot.filename);
  memory.sentMayHold = !sent.empty();
  std::string unansweredPrinter;
  ConfirmStep step = kConfirmNext;
  for (std::size_t i = 0; i < sent.size() && step == kConfirmNext; ++i)
    step = confirmKept(slotNumber, memory, slot, sent[i].first, sent[i].second, &unansweredPrinter);
  if (step != kConfirmUnanswered) {
    memory.saidConfirm.clear();
    return;
  }
  sayOnce(memory.saidConfirm, "ask\n" + unansweredPrinter,
          slotText(slotNumber) + printerText(unansweredPrinter) + " cannot be asked whether the printouts handed"
              " to it have been printed, so they are kept in the folder " + kSentFolder +
              " until it says so. Check that the print spooler is running.");
}

bool keptUndeletable(const WatcherMemory& memory, const std::string& name) {
  if (!memory.keepingUndeletable || name != memory.undeletableName) return false;
  clearError();
  FileStamp stamp = fileStamp(name);
  return lastError() == 0 && stamp == memory.undeletableStamp;
}

// A printout handed over (or found at its printer from an earlier run) is
// written down in the journal, then kept in "sent" until its printer
// confirms it, or deleted with its records.
// True when the file has left its name (moved into "sent", or deleted).
bool settlePrinted(WatcherMemory& memory, const PrinterSlot& slot, int slotNumber, const std::string& path,
                   JournalEntry& kept, JournalOutcome outcome, const HandOff& off) {
  recordInJournal(kept, outcome, lastDocumentPages());
  if (keepUntilConfirmed(memory, slot, off.settle, off.handedNow)) return true;
  if (!removePrinted(memory, slotNumber, path, "was printed")) return false;
  settleHandOvers(path, off.settle);
  return true;
}

CycleOutcome cycleOutcomeOf(const StepResult& step) {
  return step.result == kPrintDone || step.result == kPrintRead || step.result == kPrintHandOver ? CyclePrinted
                                                                                                  : CycleIdle;
}

// The queue of a slot has been printed: said once, and the outage is over.
void endOutage(WatcherMemory& memory, int slotNumber) {
  memory.waitingToRetry = false;
  memory.reportedFailure.clear();
  if (!memory.outage) return;
  memory.outage = false;
  writeOutputLine(slotText(slotNumber) + "the waiting printouts have been printed.");
}

// Prints the oldest waiting printout that can be opened. Idle when none is
// due; a waiting file that cannot be opened (held elsewhere) is passed over
// for the next one.
CycleOutcome printWaiting(int slotNumber, WatcherMemory& memory, unsigned long long now,
                          const std::vector<std::string>& waiting) {
  PrinterSlot slot = slotSnapshot(slotNumber);
  if (!retryIsDue(memory, slot, now)) return CycleIdle;
  for (const std::string& path : waiting) {
    if (keptUndeletable(memory, path)) continue;
    clearError();
    openSpoolFile(path);
    if (lastError() != 0) continue;
    if (!beginWork()) {
      closeSpoolFile();
      return CycleIdle;
    }
    JournalEntry kept = findInJournal(slotNumber, slot);
    // Said by its spool name, as an outage is.
    HandOff off = handOverOpenFile(slot, slotNumber, memory, slot.filename, kept);
    if (off.step.result == kPrintDone) {
      settlePrinted(memory, slot, slotNumber, path, kept, kept.reprint ? kJournalReprinted : kJournalPrinted, off);
      if (waitingPrintouts(slot.filename).empty()) endOutage(memory, slotNumber);
      else memory.waitingToRetry = false;
    } else {
      closeSpoolFile();
      recordInJournal(kept, kJournalWaiting, 0);
      noteFailure(memory, off.step.result, slot, now);
      // Named by its spool name, so that one outage is said once.
      sayOutage(memory, off.step.result, off.step.code, slot, slotNumber, slot.filename, waiting.size());
    }
    endWork();
    return cycleOutcomeOf(off.step);
  }
  return CycleIdle;
}

// The spool file could not be printed now (or printouts are waiting before
// it): it joins the queue. When it cannot be moved there it is kept under its
// own name and tried again, as long as it is unchanged, after the retry delay.
// True when it was queued.
bool queueOrKeep(WatcherMemory& memory, const StepResult& step, int slotNumber, const std::string& name,
                 unsigned long long now) {
  PrintResult result = step.result;
  int code = step.code;
  PrinterSlot slot = slotSnapshot(slotNumber);
  clearError();
  queueSpoolFile(name);
  int queueError = lastError();
  if (queueError == 0) {
    memory.queueMayHold = true;
    memory.keptStampValid = false;
    if (result != kPrintDone) {
      noteFailure(memory, result, slot, now);
      sayOutage(memory, result, code, slot, slotNumber, name, waitingPrintouts(name).size());
    }
    return true;
  }
  clearError();
  memory.keptStamp = spoolFileStamp();
  memory.keptStampValid = lastError() == 0;
  closeSpoolFile();
  if (result != kPrintDone) noteFailure(memory, result, slot, now);
  std::string cause = result == kPrintDone ? "printouts are waiting before " + name
                                           : failureText(result, code, slot, name);
  sayOnce(memory.reportedFailure, "keep\n" + cause,
          slotText(slotNumber) + cause + ", and " + name + " could not be moved to the folder " + kWaitingFolder +
              (queueError == kErrorDiskFull ? ", since the disk is full" : "") + errorText(queueError) +
              ", so it is kept and tried again. Check that ferrin may write its folder" +
              (queueError == kErrorDiskFull ? " and make room on the disk." : "."));
  return false;
}

// ferrin.ini lies in a folder that others may write: a spool file name that
// leads out of ferrin's folder is refused (said once per slot and value), so
// that nothing outside it is ever printed or deleted.
bool nameAllowed(int slotNumber, WatcherMemory& memory, const std::string& name) {
  if (name.empty() || (spoolNameConfinedHere(name) && fsFolderInside(name))) {
    memory.refusedName.clear();
    return true;
  }
  if (memory.refusedName != name) {
    memory.refusedName = name;
    writeOutputLine(slotText(slotNumber) + "the filename \"" + name +
                    "\" is refused, since spool files must be in ferrin's folder. Correct it in ferrin.ini,"
                    " or press S to set the printer up again.");
  }
  return false;
}

// Says once that the spool name holds what ferrin does not open.
void sayRefusedFile(int slotNumber, WatcherMemory& memory, const std::string& name, int openError) {
  std::string refused = name + (openError == kErrorLinkRefused ? "\nlink" : "\nnot a file");
  if (memory.refusedFile == refused) return;
  memory.refusedFile = refused;
  writeOutputLine(slotText(slotNumber) + name +
                  (openError == kErrorLinkRefused
                       ? " is refused, since it is a symbolic link, which ferrin does not follow. Put a plain"
                         " file in its place."
                       : " is refused, since it is not a plain file but a folder, a pipe or a device, so the"
                         " DOS program cannot print. Remove it."));
}

// Takes the first step of a printout: opens the slot's spool file when there
// is one to print now. An empty file is deleted; one kept under its own name
// waits for its retry unless it changed. True with the file open.
bool openToPrint(int slotNumber, WatcherMemory& memory, const PrinterSlot& slot, unsigned long long now,
                 bool othersWaiting) {
  std::string name = slot.filename;
  if (keptUndeletable(memory, name)) return false;
  memory.keepingUndeletable = memory.keepingUndeletable && name != memory.undeletableName;
  clearError();
  openSpoolFile(name);
  int openError = lastError();
  if (openError == kErrorLinkRefused || openError == kErrorNotPlainFile) {
    sayRefusedFile(slotNumber, memory, name, openError);
    return false;
  }
  // A busy file (held by its writer, or by another slot whose spool file is
  // the same file) says nothing new about the refusal: keep it said.
  if (openError != kErrorAccess) memory.refusedFile.clear();
  if (openError != 0) {
    // Nothing there any more: whatever failed with it is over.
    if (openError != kErrorAccess && !othersWaiting) {
      memory.reportedFailure.clear();
      memory.waitingToRetry = false;
    }
    return false;
  }
  clearError();
  std::uint64_t length = spoolFileLength();
  if (lastError() != 0) {
    closeSpoolFile();
    return false;
  }
  if (length == 0) {
    removePrinted(memory, slotNumber, name, "was empty");
    return false;
  }
  clearError();
  FileStamp stamp = spoolFileStamp();
  if (memory.keptStampValid && stamp == memory.keptStamp && !retryIsDue(memory, slot, now)) {
    closeSpoolFile();
    return false;
  }
  return true;
}

// Makes the taken printout's copies for the further printers of alsoto=
// (spool/alsoto.h), before it is handed over. A printer that cannot take
// them is said once. False, the file closed and kept under its name to be
// tried again after the retry delay, when they cannot be made.
bool copyAlsoTo(int slotNumber, WatcherMemory& memory, const PrinterSlot& slot, unsigned long long now,
                const JournalEntry& kept, TargetCopies* also) {
  std::vector<int> refused;
  std::vector<int> targets = printoutTargets(slotNumber, slot, &refused);
  std::string refusedKey;
  for (int target : refused) refusedKey += numberText(target);
  if (refusedKey != memory.saidAlsoTo && !refused.empty())
    writeOutputLine(slotText(slotNumber) + "alsoto names printer #" + numberText(refused.front()) +
                    ", which has no printer or no spool file name set, so printouts are not printed there. Set it"
                    " up in ferrin.ini, or remove it from alsoto.");
  memory.saidAlsoTo = refusedKey;
  int code = copyForTargets(slotNumber, targets, kept, also);
  if (code == 0) return true;
  clearError();
  memory.keptStamp = spoolFileStamp();
  memory.keptStampValid = lastError() == 0;
  closeSpoolFile();
  noteFailure(memory, kPrintHandOver, slot, now);
  sayOnce(memory.reportedFailure, std::string("alsoto\n") + slot.filename,
          slotText(slotNumber) + "the copies of " + slot.filename + " for the printers of alsoto could not be made"
              " in the folder " + kWaitingFolder + (code == kErrorDiskFull ? ", since the disk is full" : "") +
              errorText(code) + ", so it is kept and tried again. Check that ferrin may write its folder" +
              (code == kErrorDiskFull ? " and make room on the disk." : "."));
  return false;
}

void releaseAlsoTo(int slotNumber, WatcherMemory& memory, const std::string& name, const TargetCopies& also,
                   const JournalEntry& kept) {
  if (also.paths.empty()) return;
  if (releaseTargetCopies(slotNumber, name, also, kept) > 0)
    sayOnce(memory.saidHandOver, "alsoto",
            slotText(slotNumber) + "a copy for a printer of alsoto could not be moved into its queue in the folder " +
                kWaitingFolder + ", so it prints there after the next start. Check that ferrin may write its folder.");
  for (int target : also.targets) {
    if (target == kMailTarget) wakeMailer();
    else wakeTarget(target);
  }
}

// Handles the slot's spool file, when there is one: taken, kept in the
// journal, handed over with its record, then settled or queued.
CycleOutcome handleSpoolFile(int slotNumber, WatcherMemory& memory, unsigned long long now, bool othersWaiting) {
  PrinterSlot slot = slotSnapshot(slotNumber);
  std::string name = slot.filename;
  if (!openToPrint(slotNumber, memory, slot, now, othersWaiting)) return CycleIdle;
  if (!beginWork()) {
    closeSpoolFile();
    return CycleIdle;
  }
  // From here on the printout is the process's own (on POSIX: moved aside at
  // once, before anything slow, so that the DOS program can write its next
  // printout meanwhile and a printout cut off by a crash is printed in full
  // on the next start).
  takeSpoolFile();
  JournalEntry kept = keepInJournal(slotNumber, slot);
  TargetCopies also;
  if (!copyAlsoTo(slotNumber, memory, slot, now, kept, &also)) {
    recordInJournal(kept, kJournalRefused, 0);
    endWork();
    return CycleIdle;
  }
  HandOff off;
  if (!othersWaiting) off = handOverOpenFile(slot, slotNumber, memory, name, kept);
  bool left;
  if (!othersWaiting && off.step.result == kPrintDone) {
    memory.keptStampValid = false;
    memory.reportedFailure.clear();
    memory.waitingToRetry = false;
    left = settlePrinted(memory, slot, slotNumber, name, kept, kJournalPrinted, off);
  } else {
    // Printouts waiting before it (its step says done: nothing failed), or
    // it could not be printed now: it joins the queue.
    left = queueOrKeep(memory, off.step, slotNumber, name, now);
    recordInJournal(kept, left ? kJournalWaiting : kJournalRefused, 0);
  }
  // The original has left its name: its copies become their printers' own.
  // One kept under its name keeps them unreleased, to be made again with it.
  if (left) releaseAlsoTo(slotNumber, memory, name, also, kept);
  endWork();
  return othersWaiting ? CycleIdle : cycleOutcomeOf(off.step);
}

}  // namespace

void sayWhenNotSetUp(int slotNumber) {
  PrinterSlot slot = slotSnapshot(slotNumber);
  bool noPrinter = slot.printername[0] == '\0', noFile = slot.filename[0] == '\0';
  if (noPrinter && noFile)
    writeOutputLine(slotText(slotNumber) + "no printer is set up yet, so nothing is printed. Press S to choose one.");
  else if (noFile)
    writeOutputLine(slotText(slotNumber) +
                    "no spool file name is set, so nothing is printed. Press S to set the printer up again.");
  else if (noPrinter)
    writeOutputLine(slotText(slotNumber) + "no printer is set, so printouts wait in the folder " + kWaitingFolder +
                    ". Press S to choose one.");
}

CycleOutcome runWatcherCycle(int slotNumber, WatcherMemory& memory, unsigned long long now) {
  std::string name = slotSnapshot(slotNumber).filename;
  if (!nameAllowed(slotNumber, memory, name)) return CycleIdle;
  tidyJournal(slotSnapshot(slotNumber).options.journalDays);
  // An empty queue is looked at again only now and then: only this watcher
  // adds to its queue (and then looks at once), and an idle cycle stays cheap.
  std::vector<std::string> waiting;
  bool filled = queueFilled[slotNumber].exchange(false);
  if (!name.empty() && (!memory.queueLookedAt || memory.queueMayHold || filled || now >= memory.nextQueueLook)) {
    waiting = waitingPrintouts(name);
    memory.queueMayHold = !waiting.empty();
    memory.nextQueueLook = now + kEmptyQueueLookMilliseconds;
  }
  // Printouts left waiting by an earlier run are said once at the start.
  if (!memory.queueLookedAt && !waiting.empty()) {
    writeOutputLine(slotText(slotNumber) + waitingText(waiting.size()));
    memory.outage = true;
  }
  memory.queueLookedAt = true;
  if (!name.empty()) confirmSent(slotNumber, memory, now);
  // The spool file first: with printouts waiting it only joins the queue, so
  // the DOS program can write its next one at once.
  CycleOutcome outcome = handleSpoolFile(slotNumber, memory, now, !waiting.empty());
  if (outcome == CyclePrinted || waiting.empty()) return outcome;
  return printWaiting(slotNumber, memory, now, waitingPrintouts(name));
}

void cleanUpAtStart() {
  removePrinterLeftovers();
  std::vector<std::string> names;
  for (int slot = 0; slot < kSlotCount; ++slot) {
    if (!slotIsWatched(slot)) continue;
    loadSlot(slot);
    names.push_back(slotSnapshot(slot).filename);
  }
  settleTargetCopies();
  settleMailAtStart();
  sweepHandOvers(names);
  removeJournalLeftovers();
}

bool slotIsWatched(int slotNumber) {
  return slotNumber == 0 || !readProfileString(slotSection(slotNumber), "printername", kProfileValueSize).empty();
}

void runWatcher(int slotNumber) {
  pause(1000u * static_cast<unsigned>(slotNumber + 1));
  writeOutputLine("Starting thread for printer #" + numberText(slotNumber));
  loadSlot(slotNumber);
  sayWhenNotSetUp(slotNumber);
  WatcherMemory memory;
  waitCycleEvent(cycleEvent, 100);
  for (;;) {
    loadSlot(slotNumber);
    if (runWatcherCycle(slotNumber, memory, monotonicMilliseconds()) == CyclePrinted) pause(500);
    // The 50 ms pause after a cycle and the 100 ms wait before the next, in
    // one sleep: an idle watcher wakes once per cycle.
    // On a local file system an idle watcher sleeps on until its folder
    // changes (a new spool file still wakes it at once): at most a second
    // while printouts wait, are retried or wait for their printer's
    // confirmation, whose timers need the cycles; otherwise longer.
    bool timersRun = memory.queueMayHold || memory.waitingToRetry || memory.sentMayHold || memory.outage;
    waitCycleOrChange(cycleEvent, 150, slotSnapshot(slotNumber).filename,
                      timersRun ? kIdleCycleMilliseconds : kRestCycleMilliseconds);
  }
}
