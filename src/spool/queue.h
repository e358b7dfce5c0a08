// The waiting queue: a printout that cannot be handed over now is moved out
// of the DOS program's way into the folder "waiting" under its spool name and
// a number that keeps the order of arrival ("waiting/WLSDFKJN.DRY.000017"),
// so that the next printout can be written under the spool name at once.
// The queue is plain files: it survives a restart, and deleting a waiting
// file drops that printout.
#pragma once

#include <string>
#include <vector>

const char kWaitingFolder[] = "waiting";

// The waiting printouts of a spool name, oldest first, as paths.
std::vector<std::string> waitingPrintouts(const std::string& spoolName);

// Moves the open spool file (files/spoolfile.h) to the end of the queue and
// closes it. Sets the error code when it cannot be moved (the file then
// stays where it was).
void queueSpoolFile(const std::string& spoolName);
