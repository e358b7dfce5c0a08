// Spool files on Windows: opened with no sharing at all, so that neither the
// DOS program nor anyone else can open the file while it is read, and a file
// its writer still holds open cannot be opened here. Every call runs under the
// file-system lock with critical-error boxes switched off.
#include "files/fs.h"

#include <windows.h>

#include "console/system.h"
#include "files/errors.h"

struct FsFileObject {
  HANDLE handle;
  std::string name;
};

namespace {

// Holds the file-system lock and keeps the system from showing a box for a
// missing disk or an unreadable drive, for the span of one call.
struct PlatformCall {
  PlatformCall() : lock(FileSystemLock), previous(SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX)) {}
  ~PlatformCall() { SetErrorMode(previous); }
  PlatformCall(const PlatformCall&) = delete;
  PlatformCall& operator=(const PlatformCall&) = delete;
  LockGuard lock;
  UINT previous;
};

int codeForError(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND: case ERROR_NO_MORE_FILES: return kErrorFileNotFound;
    case ERROR_PATH_NOT_FOUND: return kErrorPathNotFound;
    case ERROR_ACCESS_DENIED: case ERROR_SHARING_VIOLATION: case ERROR_LOCK_VIOLATION: case ERROR_WRITE_PROTECT:
      return kErrorAccess;
    case ERROR_INVALID_DRIVE: case ERROR_BAD_UNIT: return kErrorBadDrive;
    case ERROR_NOT_READY: return kErrorNotReady;
    case ERROR_CRC: case ERROR_SEEK: case ERROR_SECTOR_NOT_FOUND: case ERROR_WRITE_FAULT: case ERROR_READ_FAULT:
    case ERROR_GEN_FAILURE:
      return kErrorDiskFault;
    case ERROR_TOO_MANY_OPEN_FILES: return kErrorTooManyFiles;
    case ERROR_NOT_ENOUGH_MEMORY: case ERROR_OUTOFMEMORY: return kErrorNoMemory;
    case ERROR_HANDLE_EOF: return kErrorPastEnd;
    // The memory arena is damaged: fatal codes, the process ends.
    case ERROR_ARENA_TRASHED: return 247;
    case ERROR_INVALID_BLOCK: return 249;
    case ERROR_BAD_ENVIRONMENT: return 250;
    default: return kErrorOther;
  }
}

std::int64_t fileTimeValue(const FILETIME& time) {
  return static_cast<std::int64_t>((static_cast<std::uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime);
}

bool isSeparator(char c) { return c == ':' || c == '\\' || c == '/'; }

}  // namespace

int fsOpenSpoolFile(const std::string& name, FsFile* file) {
  SECURITY_ATTRIBUTES attributes;
  attributes.nLength = sizeof attributes;
  attributes.lpSecurityDescriptor = NULL;
  attributes.bInheritHandle = TRUE;
  HANDLE handle;
  DWORD error;
  {
    PlatformCall call;
    handle = CreateFileA(name.c_str(), GENERIC_READ, 0, &attributes, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    error = GetLastError();
  }
  if (handle == INVALID_HANDLE_VALUE) return codeForError(error);
  *file = new FsFileObject{handle, name};
  return 0;
}

int fsReadAt(FsFile file, std::uint64_t offset, unsigned char* buffer, unsigned size, unsigned* count) {
  *count = 0;
  LONG high = static_cast<LONG>(offset >> 32);
  DWORD position, error;
  {
    PlatformCall call;
    position = SetFilePointer(file->handle, static_cast<LONG>(offset & 0xFFFFFFFFu), &high, FILE_BEGIN);
    error = GetLastError();
  }
  if (position == INVALID_SET_FILE_POINTER && error != NO_ERROR) return codeForError(error);
  DWORD got = 0;
  BOOL ok;
  {
    PlatformCall call;
    ok = ReadFile(file->handle, buffer, size, &got, NULL);
    error = GetLastError();
  }
  if (!ok) return error == ERROR_HANDLE_EOF ? 0 : codeForError(error);
  *count = got;
  return 0;
}

int fsFileSize(FsFile file, std::uint64_t* size) {
  DWORD high = 0, low, error;
  {
    PlatformCall call;
    low = GetFileSize(file->handle, &high);
    error = GetLastError();
  }
  if (low == INVALID_FILE_SIZE && error != NO_ERROR) {
    *size = 0;
    return codeForError(error);
  }
  *size = (static_cast<std::uint64_t>(high) << 32) | low;
  return 0;
}

int fsFileStampOf(FsFile file, FileStamp* stamp) {
  BY_HANDLE_FILE_INFORMATION info;
  BOOL ok;
  DWORD error;
  {
    PlatformCall call;
    ok = GetFileInformationByHandle(file->handle, &info);
    error = GetLastError();
  }
  if (!ok) return codeForError(error);
  stamp->identity = 0;  // FindFirstFileA, used for the stamp by name, has no file index
  stamp->size = (static_cast<std::uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
  stamp->modified = fileTimeValue(info.ftLastWriteTime);
  stamp->changed = fileTimeValue(info.ftCreationTime);
  return 0;
}

int fsTakeFile(FsFile) { return 0; }

int fsRemoveFile(FsFile file) {
  std::string name = file->name;
  fsCloseFile(file);
  return fsDeleteMatching(name);
}

void fsCloseFile(FsFile file) {
  if (!file) return;
  {
    PlatformCall call;
    CloseHandle(file->handle);
  }
  delete file;
}

int fsFileStamp(const std::string& name, FileStamp* stamp) {
  WIN32_FIND_DATAA found;
  HANDLE search;
  DWORD error;
  {
    PlatformCall call;
    search = FindFirstFileA(name.c_str(), &found);
    error = GetLastError();
  }
  if (search == INVALID_HANDLE_VALUE) return codeForError(error);
  {
    PlatformCall call;
    FindClose(search);
  }
  stamp->identity = 0;
  stamp->size = (static_cast<std::uint64_t>(found.nFileSizeHigh) << 32) | found.nFileSizeLow;
  stamp->modified = fileTimeValue(found.ftLastWriteTime);
  stamp->changed = fileTimeValue(found.ftCreationTime);
  return 0;
}

int fsDeleteMatching(const std::string& name) {
  // The folder part is kept for rebuilding each found file's path; the
  // forward slash counts as a separator like the backslash.
  std::string::size_type cut = 0;
  for (std::string::size_type i = 0; i < name.size(); ++i)
    if (isSeparator(name[i])) cut = i + 1;
  std::string folder = name.substr(0, cut);
  std::string pattern = cut == name.size() ? name + "*.*" : name;
  WIN32_FIND_DATAA found;
  HANDLE search;
  DWORD error;
  {
    PlatformCall call;
    search = FindFirstFileA(pattern.c_str(), &found);
    error = GetLastError();
  }
  if (search == INVALID_HANDLE_VALUE) return codeForError(error);
  int code = 0;
  for (;;) {
    const DWORD skipped = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_DIRECTORY;
    if ((found.dwFileAttributes & skipped) == 0) {
      std::string path = folder + found.cFileName;
      BOOL ok;
      {
        PlatformCall call;
        ok = DeleteFileA(path.c_str());
        error = GetLastError();
      }
      if (!ok) {
        code = codeForError(error);
        break;
      }
    }
    BOOL more;
    {
      PlatformCall call;
      more = FindNextFileA(search, &found);
    }
    if (!more) break;
  }
  {
    PlatformCall call;
    FindClose(search);
  }
  return code;
}
