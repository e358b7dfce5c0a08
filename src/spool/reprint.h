// Printing a kept printout again: a copy from the journal (spool/journal.h)
// goes into its slot's waiting queue (spool/queue.h), so that the slot's
// watcher prints it the way it prints every printout of that slot (raw,
// drawn or laid out), and the journal writes it down as "reprinted". Key R
// in the key loop and "ferrin --reprint [N]" both come here; a running ferrin
// picks the printout up from the queue, and one started later prints it.
#pragma once

#include <string>
#include <vector>

// How many of today's printouts the choice lists.
const int kReprintChoices = 9;

// Today's last printouts, newest first, one line each: its number (from 1),
// the time it was taken, its printer slot and its first line of text.
// Empty when none was kept today.
std::vector<std::string> reprintChoiceLines();

// Queues printout `number` of that list again; 0 is the last printout kept
// on any day. *message gets what to say. False when nothing was queued:
// no journal, no such printout, or a copy or queue that failed.
bool reprintPrintout(int number, std::string* message);

// Key R: lists today's printouts, asks which one (Enter: the last), and
// queues it.
void runReprintKey();
