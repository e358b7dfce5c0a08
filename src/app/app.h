// The main procedure: start-up, the watchers and the key loop.
#pragma once

// Runs ferrin until X is pressed; returns the exit code.
int runMain();
