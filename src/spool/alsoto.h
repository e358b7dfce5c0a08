// Printouts printed on further printers too (alsoto=K,... in a printer's
// section): every printout the slot takes becomes, before anything of it is
// handed over, one copy per further printer, each then that printer's own
// printout in its own waiting queue, with its own hand-over record and
// confirmation: a printer that is down holds up no other.
//
// A copy is made in two steps, so that a crash or power cut at any moment
// leaves each printer with the printout exactly once:
//   1. made: the bytes are written under a name of their own in the folder
//      "waiting" ("also-<slot>-<target>-<source>.copy", which no queue
//      lists, as it does not end in a number),
//      each file and then the folder synced, before the original is handed
//      over. <source> is the original's stamp and the digest of its first
//      bytes (spool/handover.h), so a copy is known as the copy of that very
//      file.
//   2. released: once the original has left its spool name for good (printed
//      and deleted, kept in "sent", or moved into its own queue, each made
//      durable first), each copy is moved into its printer's queue.
// The slot's mail (mailto=, spool/mailqueue.h) is one more copy of the same kind,
// for the target kMailTarget: released, it joins the mail queue, so a
// printout is mailed once it has been printed (or, its printer being down,
// once it is safe in its queue), and exactly once.
// Until the original leaves, the copies are nobody's: a run cut off before
// that takes the original again and makes its copies again over them. At the
// start, a copy not released whose original is still under its spool name is
// removed (it is made again), and one whose original is gone is released.
#pragma once

#include <string>
#include <vector>

#include "config/slots.h"
#include "spool/journal.h"

// The target of a copy that is the slot's mail.
const int kMailTarget = kSlotCount;

struct TargetCopies {
  std::vector<int> targets;        // printer numbers, or kMailTarget
  std::vector<std::string> paths;  // their copies not released yet, in the same order
};

// The further printers of a slot that can take copies now: a number of
// alsoto= other than the slot's own whose slot has a spool file name and is
// watched (has a printer, or is slot 0), and kMailTarget last where the slot
// mails its printouts. Each other one goes into *refused.
std::vector<int> printoutTargets(int slotNumber, const PrinterSlot& slot, std::vector<int>* refused);

// Makes the copies (step 1) of the open spool file (taken) for the targets,
// and with the original's journal entry kept, ties its journal copy to each
// target (spool/journal.h). 0, or the error code of the first copy that
// could not be made: then none of them is left.
int copyForTargets(int slotNumber, const std::vector<int>& targets, const JournalEntry& kept, TargetCopies* copies);

// Step 2 for the copies of a printout whose original has left the spool name
// `spoolName` (its folder is synced first). With the original's journal entry
// kept, each target's journal line names the same copy. Closes the open
// spool file. The number of copies that could not be moved into their
// queue: they are released at the next start.
int releaseTargetCopies(int slotNumber, const std::string& spoolName, const TargetCopies& copies,
                        const JournalEntry& kept);

// For the start, with the slots loaded: copies that a run cut off left
// unreleased are removed or released (see above).
void settleTargetCopies();
