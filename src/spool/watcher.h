// The spool watcher: one thread per printer slot that prints the slot's spool
// files as they appear.
#pragma once

#include "platform/system.h"

// Paces every watcher cycle; the main procedure makes it at start-up and
// closes it when the key loop ends.
extern CycleEvent cycleEvent;

// Slot 0 (the receipt printer) is always watched, every other slot when its
// section of ferrin.ini names a printer.
bool slotIsWatched(int slotNumber);

// What a run cut off by a crash or a kill left behind: the scratch files of
// its layout, and hand-over records whose printout is gone. For the start,
// before any watcher runs.
void cleanUpAtStart();

// The thread's body; never returns.
void runWatcher(int slotNumber);
