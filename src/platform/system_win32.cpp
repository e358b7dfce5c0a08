#include "platform/system.h"

#include <windows.h>

#include <cstdint>

namespace {

// Critical sections made before main runs, so every thread finds them ready.
// The lock's critical section, made at its first use; of two threads that
// make one at once, the first to store it wins.
CRITICAL_SECTION* sectionOf(ProcessLock& lock) {
  void* made = lock.system.load(std::memory_order_acquire);
  if (made != nullptr) return static_cast<CRITICAL_SECTION*>(made);
  CRITICAL_SECTION* mine = new CRITICAL_SECTION;
  InitializeCriticalSection(mine);
  if (lock.system.compare_exchange_strong(made, mine, std::memory_order_acq_rel)) return mine;
  DeleteCriticalSection(mine);
  delete mine;
  return static_cast<CRITICAL_SECTION*>(made);
}

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

// A spool file whose changes have been announced is looked at only once no
// change to it has been announced for this long, and its size and last write
// time are what they were at the last announcement. On Windows its writer
// holds it open until it is complete, and the exclusive open waits for that;
// but under Wine a writer of the host (a DOS emulator, a shell) holds no
// Windows handle, and the open would succeed in the middle of its writing.
// Every write is announced, so a file is taken only after its writer has
// been still for this long; a writer that rests longer in the middle of a
// file is not told apart here, as it was not with the plain cycle either.
const unsigned kQuietMilliseconds = 20;

// One watched folder: its handle, opened for overlapped reads of its
// changes, and the read in flight.
struct ChangeWatch {
  HANDLE folder = INVALID_HANDLE_VALUE;
  HANDLE done = NULL;  // signalled when the read in flight completes
  OVERLAPPED overlapped;
  bool reading = false;
  DWORD buffer[2048];  // FILE_NOTIFY_INFORMATION records, DWORD aligned
};

// One watcher thread's watch of ferrin's folder and of its spool file's
// folder (the second only when that is another folder).
struct FolderWatch {
  bool failed = false;
  bool opened = false;
  std::string folder;  // the spool file's folder, "." for ferrin's own
  std::string spool;   // the spool file's name
  ChangeWatch watches[2];
  int count = 0;
  // The spool file may be there: it was when last looked at, or a change of
  // it was announced since. Only then is it looked at before a wait.
  bool spoolMayBeThere = true;
};
thread_local FolderWatch folderWatch;

const DWORD kChangeFilter = FILE_NOTIFY_CHANGE_LAST_WRITE | FILE_NOTIFY_CHANGE_SIZE | FILE_NOTIFY_CHANGE_FILE_NAME;

// Changes on network drives made by other machines are not announced
// reliably, and a look at a removable drive without its disk could bring up
// the system's box: there the plain cycle stays.
bool onLocalDrive(const std::string& folder) {
  char full[MAX_PATH + 1];
  DWORD length = GetFullPathNameA(folder.c_str(), sizeof full, full, NULL);
  if (length == 0 || length >= sizeof full) return false;
  if (full[0] == '\\' && full[1] == '\\') return false;  // a share, \\server\share
  char root[4] = {full[0], ':', '\\', '\0'};
  UINT type = GetDriveTypeA(root);
  return type == DRIVE_FIXED || type == DRIVE_RAMDISK;
}

bool startRead(ChangeWatch& w) {
  ZeroMemory(&w.overlapped, sizeof w.overlapped);
  w.overlapped.hEvent = w.done;
  w.reading = ReadDirectoryChangesW(w.folder, w.buffer, sizeof w.buffer, FALSE, kChangeFilter, NULL, &w.overlapped,
                                    NULL) != 0;
  return w.reading;
}

void closeWatch(ChangeWatch& w) {
  if (w.reading) {
    DWORD ignored;
    CancelIo(w.folder);
    GetOverlappedResult(w.folder, &w.overlapped, &ignored, TRUE);
    w.reading = false;
  }
  if (w.folder != INVALID_HANDLE_VALUE) CloseHandle(w.folder);
  if (w.done) CloseHandle(w.done);
  w.folder = INVALID_HANDLE_VALUE;
  w.done = NULL;
}

bool openWatch(ChangeWatch& w, const std::string& folder) {
  if (!onLocalDrive(folder)) return false;
  w.folder = CreateFileA(folder.c_str(), FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                         NULL, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OVERLAPPED, NULL);
  w.done = CreateEventA(NULL, TRUE, FALSE, NULL);
  if (w.folder == INVALID_HANDLE_VALUE || !w.done || !startRead(w)) {
    closeWatch(w);
    return false;
  }
  return true;
}

// Watches ferrin's folder and the spool file's folder; false (the plain
// cycle) where changes cannot be watched.
bool watchFolders(const std::string& folder) {
  FolderWatch& f = folderWatch;
  if (f.failed) return false;
  if (f.opened && folder == f.folder) return true;
  for (int i = 0; i < f.count; ++i) closeWatch(f.watches[i]);
  f.count = 0;
  f.opened = false;
  f.folder = folder;
  if (!openWatch(f.watches[0], ".")) {
    // No announcements here at all (a share, or a system without them).
    f.failed = true;
    return false;
  }
  f.count = 1;
  if (folder != ".") {
    if (!openWatch(f.watches[1], folder)) {
      closeWatch(f.watches[0]);
      f.count = 0;
      return false;
    }
    f.count = 2;
  }
  f.opened = true;
  return true;
}

// What the announced changes say: whether any came, and whether one was of
// the spool file itself (or too many came to tell, which counts as one).
struct Changes {
  bool any = false;
  bool spool = false;
};

bool sameName(const WCHAR* name, DWORD bytes, const std::wstring& wanted) {
  int length = static_cast<int>(bytes / sizeof(WCHAR));
  return length == static_cast<int>(wanted.size()) &&
         CompareStringW(LOCALE_INVARIANT, NORM_IGNORECASE, name, length, wanted.c_str(), length) == CSTR_EQUAL;
}

// Reads the changes of a completed read and starts the next one. A read
// that cannot be started again ends the watch (the plain cycle).
Changes takeChanges(ChangeWatch& w, const std::wstring& spoolBase) {
  Changes changes;
  changes.any = true;
  DWORD bytes = 0;
  BOOL ok = GetOverlappedResult(w.folder, &w.overlapped, &bytes, FALSE);
  w.reading = false;
  if (!ok || bytes == 0) {
    // Too many changes for the buffer, or the read failed: anything may
    // have happened to the spool file.
    changes.spool = true;
  } else {
    const unsigned char* at = reinterpret_cast<const unsigned char*>(w.buffer);
    for (;;) {
      const FILE_NOTIFY_INFORMATION* info = reinterpret_cast<const FILE_NOTIFY_INFORMATION*>(at);
      if (sameName(info->FileName, info->FileNameLength, spoolBase)) changes.spool = true;
      if (info->NextEntryOffset == 0) break;
      at += info->NextEntryOffset;
    }
  }
  ResetEvent(w.done);
  if (!startRead(w)) folderWatch.failed = true;
  return changes;
}

// Waits until a change is announced or the time is up.
Changes waitChanges(unsigned long long until, const std::wstring& spoolBase, bool spoolHere[2]) {
  FolderWatch& f = folderWatch;
  Changes changes;
  unsigned long long now = GetTickCount64();
  if (now >= until) return changes;
  HANDLE events[2];
  for (int i = 0; i < f.count; ++i) events[i] = f.watches[i].done;
  DWORD r = WaitForMultipleObjects(static_cast<DWORD>(f.count), events, FALSE, static_cast<DWORD>(until - now));
  if (r >= WAIT_OBJECT_0 + static_cast<DWORD>(f.count)) return changes;
  int i = static_cast<int>(r - WAIT_OBJECT_0);
  Changes found = takeChanges(f.watches[i], spoolBase);
  changes.any = true;
  // A name in ferrin's folder is the spool file's only when that is its folder.
  changes.spool = found.spool && spoolHere[i];
  return changes;
}

// What a spool file looks like from outside: there or not, size, last write.
struct Look {
  bool there = false;
  std::uint64_t size = 0;
  std::uint64_t written = 0;
  bool operator==(const Look& o) const { return there == o.there && size == o.size && written == o.written; }
};

Look lookAt(const std::string& name) {
  Look look;
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExA(name.c_str(), GetFileExInfoStandard, &data)) return look;
  look.there = true;
  look.size = (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  look.written = (static_cast<std::uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32) |
                 data.ftLastWriteTime.dwLowDateTime;
  return look;
}

std::wstring wideText(const std::string& text) {
  int length = MultiByteToWideChar(CP_ACP, 0, text.c_str(), static_cast<int>(text.size()), NULL, 0);
  std::wstring wide(length > 0 ? static_cast<std::size_t>(length) : 0, L'\0');
  if (length > 0) MultiByteToWideChar(CP_ACP, 0, text.c_str(), static_cast<int>(text.size()), &wide[0], length);
  return wide;
}

}  // namespace

void waitCycleOrChange(CycleEvent event, unsigned milliseconds, const std::string& spoolName,
                       unsigned idleMilliseconds) {
  std::string::size_type cut = spoolName.find_last_of("/\\");
  std::string folder = cut == std::string::npos ? "." : spoolName.substr(0, cut);
  if (spoolName.empty() || folder.empty() || !watchFolders(folder)) {
    waitCycleEvent(event, milliseconds);
    return;
  }
  if (spoolName != folderWatch.spool) {
    folderWatch.spool = spoolName;
    folderWatch.spoolMayBeThere = true;
  }
  std::wstring spoolBase = wideText(cut == std::string::npos ? spoolName : spoolName.substr(cut + 1));
  bool spoolHere[2] = {folder == ".", true};
  // A change of the spool file ends the wait once the file has been still
  // for kQuietMilliseconds (see there). Other changes mean a cycle after the
  // usual pause; no change at all, a cycle after idleMilliseconds,
  // unless a spool file is there (its writer held it at the last cycle, and
  // the end of its writing need not be announced): then the usual pause.
  unsigned long long start = GetTickCount64();
  unsigned long long cycleAt = start + milliseconds;
  unsigned long long idleUntil = start + (idleMilliseconds > milliseconds ? idleMilliseconds : milliseconds);
  if (folderWatch.spoolMayBeThere) {
    folderWatch.spoolMayBeThere = lookAt(spoolName).there;
    if (folderWatch.spoolMayBeThere) idleUntil = cycleAt;
  }
  bool changed = false, spoolChanged = false;
  unsigned long long quietAt = 0;
  Look last;
  for (;;) {
    if (folderWatch.failed) {
      // The watch broke down: the rest of this wait is the plain cycle.
      unsigned long long now = GetTickCount64();
      if (now < cycleAt) waitCycleEvent(event, static_cast<unsigned>(cycleAt - now));
      return;
    }
    Changes changes = waitChanges(spoolChanged ? quietAt : changed ? cycleAt : idleUntil, spoolBase, spoolHere);
    if (!changes.any) {
      if (!spoolChanged) return;
      // Still for long enough; it must also look as it did at the last
      // announcement, or an announcement is still on its way.
      Look now = lookAt(spoolName);
      if (now == last) {
        folderWatch.spoolMayBeThere = true;
        return;
      }
      last = now;
      quietAt = GetTickCount64() + kQuietMilliseconds;
      continue;
    }
    if (changes.spool) {
      spoolChanged = true;
      last = lookAt(spoolName);
      quietAt = GetTickCount64() + kQuietMilliseconds;
    } else {
      changed = true;
    }
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

void acquireLock(ProcessLock& lock) { EnterCriticalSection(sectionOf(lock)); }

void releaseLock(ProcessLock& lock) { LeaveCriticalSection(sectionOf(lock)); }

unsigned long long monotonicMilliseconds() { return GetTickCount64(); }

namespace {
LocalTime systemLocalTime() {
  SYSTEMTIME local;
  GetLocalTime(&local);
  return LocalTime{local.wYear, local.wMonth, local.wDay, local.wHour, local.wMinute, local.wSecond};
}
}  // namespace

LocalTime (*localTimeClock)() = systemLocalTime;

LocalTime localTimeNow() { return localTimeClock(); }
