#include "console/system.h"

#include <windows.h>

namespace {

// Critical sections made before main runs, so every thread finds them ready.
struct Locks {
  CRITICAL_SECTION sections[ProcessLockCount];
  Locks() {
    for (int i = 0; i < ProcessLockCount; ++i) InitializeCriticalSection(&sections[i]);
  }
};
Locks& locks() {
  static Locks instance;
  return instance;
}
const Locks& initialLocks = locks();

struct ThreadStart {
  void (*body)(int);
  int argument;
};

DWORD WINAPI threadMain(LPVOID raw) {
  ThreadStart start = *static_cast<ThreadStart*>(raw);
  delete static_cast<ThreadStart*>(raw);
  start.body(start.argument);
  return 0;
}

}  // namespace

void pause(unsigned milliseconds) { Sleep(milliseconds); }

CycleEvent createCycleEvent() {
  // Manual reset, not signalled, unnamed: waiting on it always runs out.
  return reinterpret_cast<CycleEvent>(CreateEventA(NULL, TRUE, FALSE, NULL));
}

void waitCycleEvent(CycleEvent event, unsigned milliseconds) {
  if (event) WaitForSingleObject(reinterpret_cast<HANDLE>(event), milliseconds);
  else Sleep(milliseconds);
}

void closeCycleEvent(CycleEvent event) {
  if (event) CloseHandle(reinterpret_cast<HANDLE>(event));
}

// The plain cycle: a writer on Windows holds its spool file open until it is
// complete, and the exclusive open of the next cycle waits for that.
void waitCycleOrChange(CycleEvent event, unsigned milliseconds, const std::string&) {
  waitCycleEvent(event, milliseconds);
}

bool startThread(void (*body)(int), int argument) {
  ThreadStart* start = new ThreadStart{body, argument};
  HANDLE thread = CreateThread(NULL, 0, threadMain, start, 0, NULL);
  if (!thread) {
    delete start;
    return false;
  }
  return true;
}

void acquireLock(ProcessLock lock) { EnterCriticalSection(&locks().sections[lock]); }

void releaseLock(ProcessLock lock) { LeaveCriticalSection(&locks().sections[lock]); }

unsigned long long monotonicMilliseconds() { return GetTickCount64(); }

LocalTime localTimeNow() {
  SYSTEMTIME local;
  GetLocalTime(&local);
  return LocalTime{local.wYear, local.wMonth, local.wDay, local.wHour, local.wMinute, local.wSecond};
}
