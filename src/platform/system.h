// Threads, locks, timing, folder watching and the count of printouts in
// hand: what ferrin asks of the operating system besides files, the screen
// and the printers. system_win32.cpp and system_posix.cpp implement it.
#pragma once

#include <atomic>
#include <string>

// Sleeps for the given number of milliseconds.
void pause(unsigned milliseconds);

// The process-wide event that paces the watcher cycles. Nothing signals it;
// waiting on it is a bounded pause.
typedef struct CycleEventObject* CycleEvent;
CycleEvent createCycleEvent();
void waitCycleEvent(CycleEvent event, unsigned milliseconds);
void closeCycleEvent(CycleEvent event);

// The cycle's wait for a watcher whose spool file is `spoolName`: where the
// platform can watch the file's folder, a wait that a finished spool file
// ends soon and that otherwise lasts until the folder changes, at most
// `idleMilliseconds`. Linux (inotify, local file systems) wakes at once when
// a file in the folder (or in ferrin's own folder) is closed after writing or
// moved in. Windows (ReadDirectoryChangesW, local drives) wakes when the
// spool file changes and takes it once it has been still for a moment (see
// system_win32.cpp). Other changes mean a cycle after the given
// milliseconds. Where changes are not announced (network file systems and
// shares, whose remote changes are not seen) it is the plain wait of the
// given milliseconds. Each thread has its own watch.
void waitCycleOrChange(CycleEvent event, unsigned milliseconds, const std::string& spoolName,
                       unsigned idleMilliseconds);
// The longest idle wait of a watcher with printouts waiting, to retry or to
// confirm, whose timers need their cycles; and of one with nothing of the kind.
const unsigned kIdleCycleMilliseconds = 1000;
const unsigned kRestCycleMilliseconds = 2000;

// Starts body(argument) on a new thread with the default stack. False when
// the thread could not be created.
bool startThread(void (*body)(int), int argument);

// A process-wide plain mutual exclusion (not recursive). Each is declared at
// namespace scope by the room that takes it ("ProcessLock JournalLock;"),
// usable from the program's start (the system's lock is made at the first
// use) and kept for the life of the process.
struct ProcessLock {
  constexpr ProcessLock() noexcept : system(nullptr) {}
  ProcessLock(const ProcessLock&) = delete;
  ProcessLock& operator=(const ProcessLock&) = delete;
  std::atomic<void*> system;
};
void acquireLock(ProcessLock& lock);
void releaseLock(ProcessLock& lock);

// Every file-system call and every standard-output write, one at a time: the
// file layer and the console both take it, so it lives below both.
extern ProcessLock FileSystemLock;

// Holds a lock for the life of a scope.
struct LockGuard {
  explicit LockGuard(ProcessLock& l) : lock(l) { acquireLock(lock); }
  ~LockGuard() { releaseLock(lock); }
  LockGuard(const LockGuard&) = delete;
  LockGuard& operator=(const LockGuard&) = delete;
  ProcessLock& lock;
};

// An orderly stop. A watcher holds a printout in hand from the moment it takes
// the spool file until the file is deleted or queued; stopping ferrin waits
// for that (bounded) so that a printout handed over is never printed again
// at the next start.
// beginWork: false once a stop has begun (the printout is then left alone).
bool beginWork();
void endWork();
// Lets no new work begin; true when none is in hand. The console's stopWork
// waits with it (and says why it waits).
bool closeWork();
// How long ending ferrin waits for a printout in hand: a long report laid
// out on a slow machine, or a hand-over the spooler answers late (each call
// to it is bounded well below this). Past kStopSayMilliseconds the wait is
// said.
const unsigned kStopWaitMilliseconds = 60000;
const unsigned kStopSayMilliseconds = 1000;

// Monotonic milliseconds, for measuring and for bounding waits.
unsigned long long monotonicMilliseconds();

// The local date and time, for names and records people read.
struct LocalTime {
  int year, month, day;  // month and day from 1
  int hour, minute, second;
};
LocalTime localTimeNow();
// The clock localTimeNow reads: the system's, unless a test sets its own
// (names made in the same second, or the next, after a restart).
extern LocalTime (*localTimeClock)();
