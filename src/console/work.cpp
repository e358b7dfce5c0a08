// The orderly stop: it waits for the printout in hand, and says why.
#include "console/console.h"
#include "platform/system.h"

bool stopWork(unsigned timeoutMilliseconds) {
  unsigned long long start = monotonicMilliseconds();
  unsigned long long end = start + timeoutMilliseconds;
  bool said = false;
  for (;;) {
    if (closeWork()) return true;
    unsigned long long now = monotonicMilliseconds();
    if (now >= end) return false;
    // A long printout: say why ferrin has not ended yet.
    if (!said && now >= start + kStopSayMilliseconds) {
      said = true;
      writeOutputLine("ferrin ends once the printout in hand is finished.");
    }
    pause(20);
  }
}
