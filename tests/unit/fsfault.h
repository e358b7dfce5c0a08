// Fails a chosen file-system call of the POSIX file layer on its Nth use,
// through the layer's table of system calls: the real call is replaced by one
// that counts and, from the Nth call on (or only on it), sets errno and fails.
#pragma once

#include <cerrno>

#include "files/fs_calls_posix.h"

// kCallRename is the rename that never replaces (a take, a move into another
// folder); kCallReplace the rename over a file (fsWriteFileSafely's).
enum FileCall {
  kCallOpen,
  kCallPread,
  kCallRename,
  kCallUnlink,
  kCallMkdir,
  kCallLstat,
  kCallWrite,
  kCallFsync,
  kCallReplace,
  kFileCallCount
};

struct FileCallFault {
  int countdown = 0;  // calls left before the failing one; 0: not armed
  int error = 0;
  bool persist = false;
};

inline FileCallFault fileCallFaults[kFileCallCount];

// True when this call is to fail (errno set).
inline bool fileCallFails(FileCall call) {
  FileCallFault& f = fileCallFaults[call];
  if (f.countdown == 0) return false;
  if (f.countdown > 1) {
    --f.countdown;
    return false;
  }
  if (!f.persist) f.countdown = 0;
  errno = f.error;
  return true;
}

inline int faultyOpen(const char* p, int flags, mode_t mode) {
  return fileCallFails(kCallOpen) ? -1 : posixFileCallsDefault.open(p, flags, mode);
}
inline ssize_t faultyPread(int fd, void* b, size_t n, off_t o) {
  return fileCallFails(kCallPread) ? -1 : posixFileCallsDefault.pread(fd, b, n, o);
}
inline int faultyRename(const char* from, const char* to) {
  return fileCallFails(kCallRename) ? -1 : posixFileCallsDefault.renameNoReplace(from, to);
}
inline int faultyUnlink(const char* p) { return fileCallFails(kCallUnlink) ? -1 : posixFileCallsDefault.unlink(p); }
inline int faultyMkdir(const char* p, mode_t m) {
  return fileCallFails(kCallMkdir) ? -1 : posixFileCallsDefault.mkdir(p, m);
}
inline int faultyLstat(const char* p, struct stat* st) {
  return fileCallFails(kCallLstat) ? -1 : posixFileCallsDefault.lstat(p, st);
}

inline ssize_t faultyWrite(int fd, const void* b, size_t n) {
  return fileCallFails(kCallWrite) ? -1 : posixFileCallsDefault.write(fd, b, n);
}
inline int faultyFsync(int fd) { return fileCallFails(kCallFsync) ? -1 : posixFileCallsDefault.fsync(fd); }
inline int faultyReplace(const char* from, const char* to) {
  return fileCallFails(kCallReplace) ? -1 : posixFileCallsDefault.rename(from, to);
}

// The Nth call of `call` from now on (1 = the next one) fails with `error`;
// with persist, every call from then on does.
inline void failFileCall(FileCall call, int nth, int error, bool persist = false) {
  fileCallFaults[call] = FileCallFault{nth, error, persist};
  posixFileCalls.open = faultyOpen;
  posixFileCalls.pread = faultyPread;
  posixFileCalls.renameNoReplace = faultyRename;
  posixFileCalls.unlink = faultyUnlink;
  posixFileCalls.mkdir = faultyMkdir;
  posixFileCalls.lstat = faultyLstat;
  posixFileCalls.write = faultyWrite;
  posixFileCalls.fsync = faultyFsync;
  posixFileCalls.rename = faultyReplace;
}

// The real calls again, nothing armed.
inline void restoreFileCalls() {
  for (FileCallFault& f : fileCallFaults) f = FileCallFault();
  posixFileCalls = posixFileCallsDefault;
}
