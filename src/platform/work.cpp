// The count of printouts in hand, and the file-system lock the file layer
// and the console share.
#include "platform/system.h"

ProcessLock FileSystemLock;

namespace {

ProcessLock WorkLock;  // the count and whether a stop has begun
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

bool closeWork() {
  LockGuard lock(WorkLock);
  stopping = true;
  return workInHand == 0;
}
