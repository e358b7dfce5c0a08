#include "console/system.h"

#include <pthread.h>
#include <time.h>

#include <cerrno>

namespace {

pthread_mutex_t locks[ProcessLockCount] = {PTHREAD_MUTEX_INITIALIZER, PTHREAD_MUTEX_INITIALIZER,
                                           PTHREAD_MUTEX_INITIALIZER, PTHREAD_MUTEX_INITIALIZER,
                                           PTHREAD_MUTEX_INITIALIZER, PTHREAD_MUTEX_INITIALIZER};

struct ThreadStart {
  void (*body)(int);
  int argument;
};

void* threadMain(void* raw) {
  ThreadStart start = *static_cast<ThreadStart*>(raw);
  delete static_cast<ThreadStart*>(raw);
  start.body(start.argument);
  return nullptr;
}

}  // namespace

struct CycleEventObject {
  int unused;
};

void pause(unsigned milliseconds) {
  struct timespec ts;
  ts.tv_sec = milliseconds / 1000;
  ts.tv_nsec = static_cast<long>(milliseconds % 1000) * 1000000L;
  while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
  }
}

CycleEvent createCycleEvent() { return new CycleEventObject(); }

void waitCycleEvent(CycleEvent, unsigned milliseconds) { pause(milliseconds); }

void closeCycleEvent(CycleEvent event) { delete event; }

bool startThread(void (*body)(int), int argument) {
  pthread_t thread;
  ThreadStart* start = new ThreadStart{body, argument};
  if (pthread_create(&thread, nullptr, threadMain, start) != 0) {
    delete start;
    return false;
  }
  pthread_detach(thread);
  return true;
}

void acquireLock(ProcessLock lock) { pthread_mutex_lock(&locks[lock]); }

void releaseLock(ProcessLock lock) { pthread_mutex_unlock(&locks[lock]); }

unsigned long long monotonicMilliseconds() {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<unsigned long long>(ts.tv_sec) * 1000ULL + static_cast<unsigned long long>(ts.tv_nsec) / 1000000ULL;
}
