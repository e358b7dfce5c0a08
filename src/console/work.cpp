// The count of printouts in hand and the orderly stop that waits for them.
#include "console/system.h"

#include "console/console.h"

namespace {

int workInHand = 0;
bool stopping = false;

}  // namespace

bool beginWork() {
  LockGuard lock(WorkLock);
  if (stopping) return false;
  ++workInHand;
  return true;
}

void endWork() {
  LockGuard lock(WorkLock);
  --workInHand;
}

bool stopWork(unsigned timeoutMilliseconds) {
  unsigned long long start = monotonicMilliseconds();
  unsigned long long end = start + timeoutMilliseconds;
  bool said = false;
  for (;;) {
    {
      LockGuard lock(WorkLock);
      stopping = true;
      if (workInHand == 0) return true;
    }
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
