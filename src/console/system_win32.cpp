#include "console/system.h"

#include <windows.h>

#include <string>

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

namespace {

// One watcher thread's watch of its spool file's folder: an overlapped
// ReadDirectoryChangesW kept armed, so that no change is missed between two
// waits.
struct FolderWatch {
  std::string folder;   // the folder watched ("" for none yet)
  std::string name;     // the spool file's name in it, upper case
  HANDLE directory = INVALID_HANDLE_VALUE;
  HANDLE event = NULL;
  OVERLAPPED overlapped;
  bool armed = false;
  alignas(DWORD) unsigned char buffer[8192];
};
thread_local FolderWatch folderWatch;

// The folder of a spool file name ("." for a plain name) and its last part.
void splitSpoolName(const std::string& path, std::string* folder, std::string* name) {
  std::string::size_type cut = path.find_last_of("\\/:");
  if (cut == std::string::npos) {
    *folder = ".";
    *name = path;
    return;
  }
  *folder = path.substr(0, path[cut] == ':' ? cut + 1 : cut);
  if (folder->empty()) *folder = "\\";
  *name = path.substr(cut + 1);
}

void closeWatch(FolderWatch& w) {
  if (w.directory != INVALID_HANDLE_VALUE) {
    CancelIo(w.directory);
    if (w.armed) {
      DWORD ignored;
      GetOverlappedResult(w.directory, &w.overlapped, &ignored, TRUE);
    }
    CloseHandle(w.directory);
  }
  w.directory = INVALID_HANDLE_VALUE;
  w.armed = false;
}

bool armWatch(FolderWatch& w) {
  ZeroMemory(&w.overlapped, sizeof w.overlapped);
  ResetEvent(w.event);
  w.overlapped.hEvent = w.event;
  w.armed = ReadDirectoryChangesW(w.directory, w.buffer, sizeof w.buffer, FALSE,
                                  FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_LAST_WRITE |
                                      FILE_NOTIFY_CHANGE_SIZE,
                                  NULL, &w.overlapped, NULL) != 0;
  return w.armed;
}

// Local disks announce every change; on a network share changes made by
// other machines may go unannounced, so the plain cycle stays there.
bool announcesChanges(const std::string& folder) {
  char full[MAX_PATH];
  DWORD length = GetFullPathNameA(folder.c_str(), sizeof full, full, NULL);
  if (length == 0 || length >= sizeof full || full[1] != ':') return false;
  char root[4] = {full[0], ':', '\\', '\0'};
  UINT type = GetDriveTypeA(root);
  return type == DRIVE_FIXED || type == DRIVE_RAMDISK;
}

// Watches the folder of the spool file `path`; false where it cannot.
bool watchSpoolFolder(const std::string& path) {
  FolderWatch& w = folderWatch;
  std::string folder, name;
  splitSpoolName(path, &folder, &name);
  w.name = name;
  if (folder == w.folder) return w.directory != INVALID_HANDLE_VALUE && (w.armed || armWatch(w));
  closeWatch(w);
  w.folder = folder;
  if (path.empty() || !announcesChanges(folder)) return false;
  if (w.event == NULL) w.event = CreateEventA(NULL, TRUE, FALSE, NULL);
  if (w.event == NULL) return false;
  w.directory = CreateFileA(folder.c_str(), FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            NULL, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OVERLAPPED, NULL);
  if (w.directory == INVALID_HANDLE_VALUE) return false;
  if (!armWatch(w)) {
    closeWatch(w);
    return false;
  }
  return true;
}

// True when the announced changes touch the spool file (or were too many to
// tell), which is when a cycle is due at once.
bool spoolFileChanged(const FolderWatch& w, DWORD bytes) {
  if (bytes == 0) return true;  // the buffer overflowed: anything may have changed
  DWORD at = 0;
  for (;;) {
    const FILE_NOTIFY_INFORMATION* info = reinterpret_cast<const FILE_NOTIFY_INFORMATION*>(w.buffer + at);
    char name[MAX_PATH];
    int n = WideCharToMultiByte(CP_ACP, 0, info->FileName, static_cast<int>(info->FileNameLength / sizeof(WCHAR)),
                                name, sizeof name - 1, NULL, NULL);
    if (n > 0 && CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, name, n, w.name.c_str(),
                                static_cast<int>(w.name.size())) == CSTR_EQUAL)
      return true;
    if (info->NextEntryOffset == 0 || at + info->NextEntryOffset >= bytes) return false;
    at += info->NextEntryOffset;
  }
}

}  // namespace

void waitCycleOrChange(CycleEvent event, unsigned milliseconds, const std::string& spoolPath) {
  if (!watchSpoolFolder(spoolPath)) {
    waitCycleEvent(event, milliseconds);
    return;
  }
  // A change to the spool file (written, closed, renamed into place) means a
  // cycle at once; nothing of it, a cycle after kIdleCycleMilliseconds.
  FolderWatch& w = folderWatch;
  unsigned long long until = monotonicMilliseconds() + kIdleCycleMilliseconds;
  for (;;) {
    unsigned long long now = monotonicMilliseconds();
    if (now >= until) return;
    if (WaitForSingleObject(w.event, static_cast<DWORD>(until - now)) != WAIT_OBJECT_0) return;
    DWORD bytes = 0;
    bool done = GetOverlappedResult(w.directory, &w.overlapped, &bytes, FALSE) != 0;
    bool changed = !done || spoolFileChanged(w, bytes);
    w.armed = false;
    if (!armWatch(w)) {
      closeWatch(w);
      w.folder.clear();
      return;
    }
    if (changed) return;
  }
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
