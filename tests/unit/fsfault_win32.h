// Fails a chosen system call of the Windows file layer on its Nth use,
// through the layer's table of system calls (files/fs_calls_win32.h): the
// real call is replaced by one that counts and, from the Nth call on (or only
// on it), sets the chosen Win32 error (SetLastError) and fails the way the
// real call fails. The counterpart of fsfault.h, which does the same to the
// POSIX table.
#pragma once

#include <windows.h>

#include <initializer_list>

#include "files/fs_calls_win32.h"

// The calls that can be made to fail. SetFileInformationByHandle does two
// different things for the file layer and counts as two calls: the rename of
// an open file (FileRenameInfo) and its delete at close (FileDispositionInfo).
enum Win32Call {
  kWinCreateFile,
  kWinReadFile,
  kWinWriteFile,
  kWinFlushFileBuffers,
  kWinMoveFileEx,
  kWinRenameByHandle,
  kWinDeleteByHandle,
  kWinDeleteFile,
  kWinCreateDirectory,
  kWinFindFirstFile,
  kWinRemoveDirectory,
  kWin32CallCount
};

struct Win32CallFault {
  int countdown = 0;  // calls left before the failing one; 0: not armed
  DWORD error = 0;
  bool persist = false;
};

inline Win32CallFault win32CallFaults[kWin32CallCount];
// Which fault each call counts against: its own, or that of the first call
// of a group armed together by failWin32Calls.
inline Win32Call win32CallCountsAs[kWin32CallCount] = {
    kWinCreateFile,     kWinReadFile,   kWinWriteFile,       kWinFlushFileBuffers, kWinMoveFileEx,
    kWinRenameByHandle, kWinDeleteByHandle, kWinDeleteFile, kWinCreateDirectory,  kWinFindFirstFile,
    kWinRemoveDirectory,
};

// True when this call is to fail (the last error set).
inline bool win32CallFails(Win32Call call) {
  Win32CallFault& f = win32CallFaults[win32CallCountsAs[call]];
  if (f.countdown == 0) return false;
  if (f.countdown > 1) {
    --f.countdown;
    return false;
  }
  if (!f.persist) f.countdown = 0;
  SetLastError(f.error);
  return true;
}

inline HANDLE WINAPI faultyCreateFileA(LPCSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                                       DWORD disposition, DWORD flags, HANDLE model) {
  if (win32CallFails(kWinCreateFile)) return INVALID_HANDLE_VALUE;
  return win32FileCallsDefault.CreateFileA(name, access, share, security, disposition, flags, model);
}
inline BOOL WINAPI faultyReadFile(HANDLE file, LPVOID buffer, DWORD size, LPDWORD got, LPOVERLAPPED overlapped) {
  if (win32CallFails(kWinReadFile)) {
    if (got) *got = 0;
    return FALSE;
  }
  return win32FileCallsDefault.ReadFile(file, buffer, size, got, overlapped);
}
inline BOOL WINAPI faultyWriteFile(HANDLE file, LPCVOID bytes, DWORD size, LPDWORD done, LPOVERLAPPED overlapped) {
  if (win32CallFails(kWinWriteFile)) {
    if (done) *done = 0;
    return FALSE;
  }
  return win32FileCallsDefault.WriteFile(file, bytes, size, done, overlapped);
}
inline BOOL WINAPI faultyFlushFileBuffers(HANDLE file) {
  return win32CallFails(kWinFlushFileBuffers) ? FALSE : win32FileCallsDefault.FlushFileBuffers(file);
}
inline BOOL WINAPI faultyMoveFileExA(LPCSTR from, LPCSTR to, DWORD flags) {
  return win32CallFails(kWinMoveFileEx) ? FALSE : win32FileCallsDefault.MoveFileExA(from, to, flags);
}
inline BOOL WINAPI faultySetFileInformationByHandle(HANDLE file, FILE_INFO_BY_HANDLE_CLASS kind, LPVOID info,
                                                    DWORD size) {
  if (kind == FileRenameInfo && win32CallFails(kWinRenameByHandle)) return FALSE;
  if (kind == FileDispositionInfo && win32CallFails(kWinDeleteByHandle)) return FALSE;
  return win32FileCallsDefault.SetFileInformationByHandle(file, kind, info, size);
}
inline BOOL WINAPI faultyDeleteFileA(LPCSTR name) {
  return win32CallFails(kWinDeleteFile) ? FALSE : win32FileCallsDefault.DeleteFileA(name);
}
inline BOOL WINAPI faultyCreateDirectoryA(LPCSTR name, LPSECURITY_ATTRIBUTES security) {
  return win32CallFails(kWinCreateDirectory) ? FALSE : win32FileCallsDefault.CreateDirectoryA(name, security);
}
inline HANDLE WINAPI faultyFindFirstFileA(LPCSTR pattern, LPWIN32_FIND_DATAA found) {
  return win32CallFails(kWinFindFirstFile) ? INVALID_HANDLE_VALUE
                                           : win32FileCallsDefault.FindFirstFileA(pattern, found);
}
inline BOOL WINAPI faultyRemoveDirectoryA(LPCSTR name) {
  return win32CallFails(kWinRemoveDirectory) ? FALSE : win32FileCallsDefault.RemoveDirectoryA(name);
}

// The Nth of the calls from now on (1 = the next one), counted together,
// fails with `error`; with persist, every one from then on does.
inline void failWin32Calls(std::initializer_list<Win32Call> calls, int nth, DWORD error, bool persist = false) {
  Win32Call first = *calls.begin();
  win32CallFaults[first] = Win32CallFault{nth, error, persist};
  for (int call = 0; call < kWin32CallCount; ++call)
    if (win32CallCountsAs[call] == first) win32CallCountsAs[call] = static_cast<Win32Call>(call);
  for (Win32Call call : calls) win32CallCountsAs[call] = first;
  win32FileCalls.CreateFileA = faultyCreateFileA;
  win32FileCalls.ReadFile = faultyReadFile;
  win32FileCalls.WriteFile = faultyWriteFile;
  win32FileCalls.FlushFileBuffers = faultyFlushFileBuffers;
  win32FileCalls.MoveFileExA = faultyMoveFileExA;
  win32FileCalls.SetFileInformationByHandle = faultySetFileInformationByHandle;
  win32FileCalls.DeleteFileA = faultyDeleteFileA;
  win32FileCalls.CreateDirectoryA = faultyCreateDirectoryA;
  win32FileCalls.FindFirstFileA = faultyFindFirstFileA;
  win32FileCalls.RemoveDirectoryA = faultyRemoveDirectoryA;
}

// The Nth call of `call` from now on fails with `error` (every one from then
// on with persist).
inline void failWin32Call(Win32Call call, int nth, DWORD error, bool persist = false) {
  failWin32Calls({call}, nth, error, persist);
}

// The real calls again, nothing armed.
inline void restoreWin32Calls() {
  for (int call = 0; call < kWin32CallCount; ++call) {
    win32CallFaults[call] = Win32CallFault();
    win32CallCountsAs[call] = static_cast<Win32Call>(call);
  }
  win32FileCalls = win32FileCallsDefault;
}
