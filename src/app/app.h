// The main procedure: start-up, the watchers and the key loop.
#pragma once

#include "console/system.h"

// Paces every watcher cycle; made at start-up, closed when the key loop ends.
extern CycleEvent cycleEvent;

// Runs ferrin until X is pressed; returns the exit code.
int runMain();
