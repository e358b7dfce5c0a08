#include "console/system.h"

#include <poll.h>
#include <pthread.h>
#include <sys/inotify.h>
#include <sys/statfs.h>
#include <unistd.h>

#include <cstdint>
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

namespace {

// Local file systems announce every change through inotify; network and
// user-space ones do not announce changes made elsewhere.
bool announcesChanges(const char* path) {
  struct statfs fs;
  if (statfs(path, &fs) != 0) return false;
  switch (static_cast<unsigned long>(fs.f_type)) {
    case 0xEF53:      // ext2, ext3, ext4
    case 0x58465342:  // xfs
    case 0x9123683E:  // btrfs
    case 0x01021994:  // tmpfs
    case 0x794C7630:  // overlayfs
    case 0xF2F52010:  // f2fs
    case 0x2FC12FC1:  // zfs
      return true;
    default:
      return false;
  }
}

// One watcher thread's inotify watch of ferrin's folder and of its spool
// file's folder.
struct FolderWatch {
  int fd = -1;
  bool failed = false;
  std::string folder;
  int folderWatch = -1;
};
thread_local FolderWatch folderWatch;

bool watchFolders(const std::string& folder) {
  FolderWatch& w = folderWatch;
  if (w.failed) return false;
  const std::uint32_t events = IN_CREATE | IN_CLOSE_WRITE | IN_MOVED_TO | IN_MOVED_FROM | IN_DELETE | IN_ATTRIB |
                               IN_MODIFY;
  if (w.fd < 0) {
    if (!announcesChanges(".")) {
      w.failed = true;
      return false;
    }
    w.fd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (w.fd < 0 || inotify_add_watch(w.fd, ".", events) < 0) {
      if (w.fd >= 0) close(w.fd);
      w.fd = -1;
      w.failed = true;
      return false;
    }
  }
  if (folder != w.folder) {
    if (w.folderWatch >= 0) inotify_rm_watch(w.fd, w.folderWatch);
    w.folderWatch = -1;
    w.folder = folder;
    if (!folder.empty() && folder != ".") {
      if (!announcesChanges(folder.c_str())) return false;
      w.folderWatch = inotify_add_watch(w.fd, folder.c_str(), events);
      if (w.folderWatch < 0) return false;
    }
  }
  return true;
}

// Reads every announced change; true when there was one.
bool drainChanges(int fd) {
  alignas(struct inotify_event) char buffer[4096];
  bool changed = false;
  for (;;) {
    ssize_t n = read(fd, buffer, sizeof buffer);
    if (n <= 0) return changed;
    changed = true;
  }
}

}  // namespace

void waitCycleOrChange(CycleEvent event, unsigned milliseconds, const std::string& folder) {
  waitCycleEvent(event, milliseconds);
  if (!watchFolders(folder)) return;
  // Anything announced during the wait (or since the last one) means a cycle now.
  if (drainChanges(folderWatch.fd)) return;
  struct pollfd p = {folderWatch.fd, POLLIN, 0};
  int rest = static_cast<int>(kIdleCycleMilliseconds > milliseconds ? kIdleCycleMilliseconds - milliseconds : 0);
  if (rest > 0 && poll(&p, 1, rest) > 0) drainChanges(folderWatch.fd);
}

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
