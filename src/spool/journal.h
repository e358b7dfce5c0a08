// The journal: with journal=DAYS in a printer's section, a copy of every
// printout of that printer is kept byte for byte in the folder
// "journal/YYYY-MM-DD" (one file per printout, "HHMMSS-NNNNNN.prn", named by
// the time it was taken and a number that counts up through the day), and
// that day's "index.tsv" gets one line for what became of it: time, slot,
// printer, bytes, pages (of one copy), copies (the slot's copies=), outcome
// and the copy's path under "journal". One copy is kept however many print.
//
// The copy is written (under a temporary name, then renamed) before the
// printout is printed; it is flushed to the disk and its line written before
// the spool file is deleted or queued: a crash can leave a copy of a printout
// that is then printed after the restart, never a printed receipt without its
// copy. The flush waits for the disk (milliseconds), so it comes after the
// hand-over, where it does not hold the printout up.
//
// A printout that waits in the queue is kept once; a small record in
// "journal/pending" ties it to its copy, so that the line written when it is
// printed at last names the same copy. A reprint (spool/reprint.h) leaves such
// a record too, and is written down as "reprinted".
//
// A journal that cannot be written is said once; printing goes on.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "config/slots.h"
#include "files/fs.h"

const char kJournalFolder[] = "journal";
const char kJournalIndex[] = "index.tsv";

enum JournalOutcome { kJournalPrinted, kJournalWaiting, kJournalReprinted, kJournalRefused };

// One printout in the journal, from its copy to its index line.
struct JournalEntry {
  bool kept = false;   // there is a copy; nothing is written down otherwise
  int slotNumber = 0;
  std::string printer;
  std::string copy;    // its path under the journal folder: "2026-12-09/093012-000017.prn"
  std::uint64_t bytes = 0;
  std::string pending; // the pending record it was found by, when it waited or is a reprint
  bool reprint = false;
  int copies = 1;      // how many times it prints
  FsFile unsynced = nullptr;  // the new copy, still open until it is flushed by recordInJournal
  FileStamp stamp = {0, 0, 0, 0};  // of the spool file, when it was kept
  bool keptBefore = false;         // kept by an earlier try that could not print it or queue it
  bool flushCopy = false;          // taken up from a run cut off by a crash: flushed by recordInJournal
  bool indexed = false;            // that run wrote it down already
};

// For the open spool file (files/spoolfile.h) of a slot with a journal, before
// it is printed: keeps its copy. A slot without a journal keeps nothing.
JournalEntry keepInJournal(int slotNumber, const PrinterSlot& slot);

// For an open printout of the waiting queue: the copy kept when it was
// queued (or when it was put there to be printed again, or for this slot by
// another one), found by its pending record, whether or not the slot keeps a
// journal itself; a printout without one gets a copy now where it does.
JournalEntry findInJournal(int slotNumber, const PrinterSlot& slot);

// Writes down what became of the printout: flushes its new copy to the disk,
// then its index line, and for one that waits, its pending record (once).
// Every kept entry must come here, once. pages: -1 when unknown (raw printing).
// Does nothing for an entry that was not kept.
void recordInJournal(JournalEntry& entry, JournalOutcome outcome, int pages);

// Removes the day folders older than the longest journal of any slot (and
// at least `days`): at the first call and then once a day. Nothing is removed
// while no slot keeps a journal.
void tidyJournal(int days);

// Removes what copies cut off by a crash left behind (a copy under its
// temporary name, never renamed) and notes the copies a crash kept from
// being written down: for the start, before any watcher runs. The journal is
// tidied again at the next cycle.
void removeJournalLeftovers();

// --- Reading the journal back --------------------------------------------------

// One printout as the journal lists it.
struct JournalListing {
  std::string day;    // "2026-12-09"
  std::string time;   // "09:30:12", when it was taken
  int slotNumber = 0;
  std::string copy;   // as in JournalEntry
};

// The day folders, oldest first.
std::vector<std::string> journalDays();

// The printouts of one day's index, in the order they were taken, each once
// (a printout printed after waiting, or printed again, has several lines).
std::vector<JournalListing> journalPrintouts(const std::string& day);

// The bytes of a copy (at most `limit`); false when it cannot be read.
bool readJournalCopy(const std::string& copy, std::string* bytes, std::uint64_t limit);

// Copies a kept printout into a new file `target` (kErrorAccess when one is there);
// 0 or the error code, and nothing left behind on a failure.
int copyFromJournal(const std::string& copy, const std::string& target);

// A printout whose job its printer lost goes back into the queue and keeps
// the copy it was kept with (named by its hand-over record): a pending
// record ties the two, durably, before the hand-over record goes.
void keepCopyForRequeued(int slotNumber, const std::string& copy);

// A printout of another slot copied for this slot (alsoto=): a pending
// record ties its copy in the journal (`source`, kept) to this slot,
// durably, before the original is handed over, so that this slot's lines
// name the same copy when its copy prints, even after a crash. Once per slot
// and copy: a record there already is kept as it is. Then, once the copy
// joins this slot's queue, noteCopyForTarget writes it down as waiting.
void tieCopyToTarget(int slotNumber, const JournalEntry& source);
void noteCopyForTarget(int slotNumber, const PrinterSlot& slot, const JournalEntry& source);

// Marks the copy as to be printed again on the slot: the record that
// findInJournal finds once the copy's bytes reach the slot's queue. Returns
// the record's path, empty when it could not be written.
std::string markReprint(int slotNumber, const std::string& copy);
void dropPendingRecord(const std::string& record);
