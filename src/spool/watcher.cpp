// Placeholder until the spool watcher lands.
#include "spool/watcher.h"

#include "console/system.h"

void runWatcher(int) {
  for (;;) pause(1000);
}
