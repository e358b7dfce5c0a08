// The spool watcher: one thread per printer slot that prints the slot's spool
// files as they appear.
#pragma once

// The thread's body; never returns.
void runWatcher(int slotNumber);
