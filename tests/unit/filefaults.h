// Fails the Nth file operation of one kind on either platform, through the
// file layer's own table of system calls: fsfault.h's on POSIX,
// fsfault_win32.h's on Windows. A test of the logic above the file layer
// names what fails and why (the next write, on a full disk); each platform
// makes its own call fail with its own error for that cause.
#pragma once

#ifdef _WIN32
#include "unit/fsfault_win32.h"
#else
#include <cerrno>

#include "unit/fsfault.h"
#endif

enum FileOperation {
  kFailOpen,        // open | CreateFileA
  kFailRead,        // pread | ReadFile
  kFailWrite,       // write | WriteFile
  kFailFlush,       // fsync (of files and folders) | FlushFileBuffers
  kFailMove,        // the rename that never replaces (a take, a move into a
                    // folder) | SetFileInformationByHandle's rename
  kFailReplace,     // the rename over a file (fsWriteFileSafely) | MoveFileExA
  kFailDelete,      // unlink | DeleteFileA and the delete through the handle
  kFailMakeFolder,  // mkdir | CreateDirectoryA
};

// Why: each is one error code of files/errors.h on both platforms.
enum FileFault {
  kFaultDiskFull,   // ENOSPC | ERROR_DISK_FULL: 61
  kFaultRefused,    // EACCES | ERROR_ACCESS_DENIED: 70
  kFaultDiskError,  // EIO | ERROR_GEN_FAILURE: 72
};

// How many moves a spool file's take makes before anything else is done with
// it: POSIX renames it to its in-progress name, Windows holds it by its
// exclusive open.
#ifdef _WIN32
const int kMovesOfATake = 0;
#else
const int kMovesOfATake = 1;
#endif

// The Nth operation of the kind from now on (1 = the next one) fails for the
// cause; with persist, every one from then on does.
inline void failFileOperation(FileOperation operation, int nth, FileFault fault, bool persist = false) {
#ifdef _WIN32
  const DWORD errors[] = {ERROR_DISK_FULL, ERROR_ACCESS_DENIED, ERROR_GEN_FAILURE};
  DWORD error = errors[fault];
  switch (operation) {
    case kFailOpen: failWin32Call(kWinCreateFile, nth, error, persist); break;
    case kFailRead: failWin32Call(kWinReadFile, nth, error, persist); break;
    case kFailWrite: failWin32Call(kWinWriteFile, nth, error, persist); break;
    case kFailFlush: failWin32Call(kWinFlushFileBuffers, nth, error, persist); break;
    case kFailMove: failWin32Call(kWinRenameByHandle, nth, error, persist); break;
    case kFailReplace: failWin32Call(kWinMoveFileEx, nth, error, persist); break;
    case kFailDelete: failWin32Calls({kWinDeleteByHandle, kWinDeleteFile}, nth, error, persist); break;
    case kFailMakeFolder: failWin32Call(kWinCreateDirectory, nth, error, persist); break;
  }
#else
  const int errors[] = {ENOSPC, EACCES, EIO};
  const FileCall calls[] = {kCallOpen,  kCallPread,   kCallWrite,  kCallFsync,
                            kCallRename, kCallReplace, kCallUnlink, kCallMkdir};
  failFileCall(calls[operation], nth, errors[fault], persist);
#endif
}

#ifdef _WIN32
// The real calls again, nothing armed (fsfault.h's on POSIX).
inline void restoreFileCalls() { restoreWin32Calls(); }
#endif
