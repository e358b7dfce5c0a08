// The count of printouts in hand and the orderly stop that waits for them.
#include "console/system.h"

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
  unsigned long long end = monotonicMilliseconds() + timeoutMilliseconds;
  for (;;) {
    {
      LockGuard lock(WorkLock);
      stopping = true;
      if (workInHand == 0) return true;
    }
    if (monotonicMilliseconds() >= end) return false;
    pause(20);
  }
}
