#include "platform/system.h"

#include <poll.h>
#include <pthread.h>
#include <sys/inotify.h>
#include <sys/statfs.h>
#include <unistd.h>

#include <cstdint>
#include <time.h>

#include <cerrno>

namespace {

// The lock's mutex, made at its first use; of two threads that make one at
// once, the first to store it wins.
pthread_mutex_t* mutexOf(ProcessLock& lock) {
  void* made = lock.system.load(std::memory_order_acquire);
  if (made != nullptr) return static_cast<pthread_mutex_t*>(made);
  pthread_mutex_t* mine = new pthread_mutex_t;
  pthread_mutex_init(mine, nullptr);
  if (lock.system.compare_exchange_strong(made, mine, std::memory_order_acq_rel)) return mine;
  pthread_mutex_destroy(mine);
  delete mine;
  return static_cast<pthread_mutex_t*>(made);
}

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

// What the announced changes say: whether any came at all, and whether one
// was a file finished in the folder (written and closed, or moved in), which
// is when a spool file can be taken.
struct Changes {
  bool any = false;
  bool finished = false;
};

// Reads every change announced so far.
Changes drainChanges(int fd) {
  alignas(struct inotify_event) char buffer[4096];
  Changes changes;
  for (;;) {
    ssize_t n = read(fd, buffer, sizeof buffer);
    if (n <= 0) return changes;
    changes.any = true;
    for (ssize_t at = 0; at + static_cast<ssize_t>(sizeof(struct inotify_event)) <= n;) {
      const struct inotify_event* e = reinterpret_cast<const struct inotify_event*>(buffer + at);
      if (e->mask & (IN_CLOSE_WRITE | IN_MOVED_TO | IN_Q_OVERFLOW)) changes.finished = true;
      at += static_cast<ssize_t>(sizeof(struct inotify_event) + e->len);
    }
  }
}

// Waits until the change descriptor is readable or the time is up; true
// when it is readable.
bool pollChanges(int fd, unsigned long long until) {
  unsigned long long now = monotonicMilliseconds();
  if (now >= until) return false;
  struct pollfd p = {fd, POLLIN, 0};
  return poll(&p, 1, static_cast<int>(until - now)) > 0;
}

}  // namespace

void waitCycleOrChange(CycleEvent event, unsigned milliseconds, const std::string& spoolName,
                       unsigned idleMilliseconds) {
  std::string::size_type cut = spoolName.find_last_of('/');
  if (!watchFolders(cut == std::string::npos ? "." : spoolName.substr(0, cut))) {
    waitCycleEvent(event, milliseconds);
    return;
  }
  // A file finished in the folder ends the wait at once: a spool file is
  // taken the moment its writer closes it. Other changes (a file created,
  // still being written) mean a cycle after the usual pause; no change at
  // all, a cycle after idleMilliseconds.
  unsigned long long start = monotonicMilliseconds();
  unsigned long long cycleAt = start + milliseconds;
  unsigned long long idleUntil = start + (idleMilliseconds > milliseconds ? idleMilliseconds : milliseconds);
  bool changed = false;
  while (pollChanges(folderWatch.fd, changed ? cycleAt : idleUntil)) {
    Changes changes = drainChanges(folderWatch.fd);
    if (changes.finished) return;
    changed = changed || changes.any;
  }
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

void acquireLock(ProcessLock& lock) { pthread_mutex_lock(mutexOf(lock)); }

void releaseLock(ProcessLock& lock) { pthread_mutex_unlock(mutexOf(lock)); }

unsigned long long monotonicMilliseconds() {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<unsigned long long>(ts.tv_sec) * 1000ULL + static_cast<unsigned long long>(ts.tv_nsec) / 1000000ULL;
}

namespace {
LocalTime systemLocalTime() {
  time_t now = time(nullptr);
  struct tm local;
  localtime_r(&now, &local);
  return LocalTime{local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec};
}
}  // namespace

LocalTime (*localTimeClock)() = systemLocalTime;

LocalTime localTimeNow() { return localTimeClock(); }
