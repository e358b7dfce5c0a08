// The system calls behind the Windows file layer, as one table of function
// pointers. fs_win32.cpp calls the file system only through this table, so a
// test can replace a single entry (to make the Nth open, read, write, flush,
// rename or delete fail with a chosen Win32 error) and put it back afterwards.
#pragma once

#include <windows.h>

struct Win32FileCalls {
  HANDLE(WINAPI* CreateFileA)(LPCSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE);
  BOOL(WINAPI* ReadFile)(HANDLE, LPVOID, DWORD, LPDWORD, LPOVERLAPPED);
  DWORD(WINAPI* SetFilePointer)(HANDLE, LONG, PLONG, DWORD);
  DWORD(WINAPI* GetFileSize)(HANDLE, LPDWORD);
  BOOL(WINAPI* GetFileInformationByHandle)(HANDLE, LPBY_HANDLE_FILE_INFORMATION);
  // The rename (FileRenameInfo) and the delete at close (FileDispositionInfo)
  // of a file opened with DELETE access.
  BOOL(WINAPI* SetFileInformationByHandle)(HANDLE, FILE_INFO_BY_HANDLE_CLASS, LPVOID, DWORD);
  BOOL(WINAPI* CloseHandle)(HANDLE);
  HANDLE(WINAPI* FindFirstFileA)(LPCSTR, LPWIN32_FIND_DATAA);
  BOOL(WINAPI* FindNextFileA)(HANDLE, LPWIN32_FIND_DATAA);
  BOOL(WINAPI* FindClose)(HANDLE);
  BOOL(WINAPI* DeleteFileA)(LPCSTR);
  BOOL(WINAPI* CreateDirectoryA)(LPCSTR, LPSECURITY_ATTRIBUTES);
  DWORD(WINAPI* GetFullPathNameA)(LPCSTR, DWORD, LPSTR, LPSTR*);
  DWORD(WINAPI* GetFinalPathNameByHandleA)(HANDLE, LPSTR, DWORD, DWORD);
  BOOL(WINAPI* WriteFile)(HANDLE, LPCVOID, DWORD, LPDWORD, LPOVERLAPPED);
  BOOL(WINAPI* FlushFileBuffers)(HANDLE);
  BOOL(WINAPI* RemoveDirectoryA)(LPCSTR);
  BOOL(WINAPI* MoveFileExA)(LPCSTR, LPCSTR, DWORD);
};

// The entries in use; win32FileCallsDefault holds the real calls.
extern Win32FileCalls win32FileCalls;
extern const Win32FileCalls win32FileCallsDefault;
