// Spool files on Windows: opened with no sharing at all, so that neither the
// DOS program nor anyone else can open the file while it is read, and a file
// its writer still holds open cannot be opened here. The open asks for DELETE
// access too: the printed file is deleted, or moved into the waiting queue,
// through that same handle, so there is no moment between a close and a
// delete in which the DOS program's next printout could be deleted instead.
// Links and other reparse points are opened as themselves and refused.
// Every call runs under the file-system lock with critical-error boxes
// switched off, and reaches the system through one table of function pointers
// (as on POSIX) that a test can change entry by entry.
#include "files/fs.h"

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "platform/system.h"
#include "files/errors.h"
#include "files/fs_calls_win32.h"

struct FsFileObject {
  HANDLE handle;
  std::string name;
  bool byHandle;  // opened with DELETE access: removed and moved through the handle
};

const Win32FileCalls win32FileCallsDefault = {
    ::CreateFileA, ::ReadFile,       ::SetFilePointer, ::GetFileSize, ::GetFileInformationByHandle,
    ::SetFileInformationByHandle, ::CloseHandle, ::FindFirstFileA, ::FindNextFileA, ::FindClose,
    ::DeleteFileA, ::CreateDirectoryA, ::GetFullPathNameA, ::GetFinalPathNameByHandleA,
    ::WriteFile, ::FlushFileBuffers, ::RemoveDirectoryA, ::MoveFileExA,
};
Win32FileCalls win32FileCalls = win32FileCallsDefault;

namespace {

int deleteMatching(const std::string& name);

const Win32FileCalls& sys = win32FileCalls;

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
    case ERROR_ALREADY_EXISTS: case ERROR_FILE_EXISTS:
      return kErrorAccess;
    case ERROR_INVALID_DRIVE: case ERROR_BAD_UNIT: return kErrorBadDrive;
    case ERROR_NOT_READY: return kErrorNotReady;
    case ERROR_CRC: case ERROR_SEEK: case ERROR_SECTOR_NOT_FOUND: case ERROR_WRITE_FAULT: case ERROR_READ_FAULT:
    case ERROR_GEN_FAILURE:
      return kErrorDiskFault;
    case ERROR_DISK_FULL: case ERROR_HANDLE_DISK_FULL: return kErrorDiskFull;
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

// The system's final path of an open handle (links followed), without the
// "\\?\" prefix; empty when it cannot be had.
std::string finalPathOf(HANDLE handle) {
  char path[MAX_PATH + 8];
  DWORD length;
  {
    PlatformCall call;
    length = sys.GetFinalPathNameByHandleA(handle, path, sizeof path, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
  }
  if (length == 0 || length >= sizeof path) return std::string();
  std::string result(path, length);
  if (result.compare(0, 4, "\\\\?\\") == 0) result.erase(0, 4);
  return result;
}

// True unless the open file lies outside the working folder once every link
// is followed: a link to a file or to one of its folders that the file system
// follows without showing it as a reparse point (as Wine shows the host's
// symbolic links). A path the check cannot have is trusted.
bool openedInsideFolder(HANDLE file) {
  std::string filePath = finalPathOf(file);
  HANDLE folder;
  {
    PlatformCall call;
    folder = sys.CreateFileA(".", 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL, OPEN_EXISTING,
                             FILE_FLAG_BACKUP_SEMANTICS, NULL);
  }
  if (folder == INVALID_HANDLE_VALUE) return true;
  std::string folderPath = finalPathOf(folder);
  {
    PlatformCall call;
    sys.CloseHandle(folder);
  }
  if (filePath.empty() || folderPath.empty()) return true;
  if (folderPath.back() != '\\') folderPath += '\\';
  return filePath.size() > folderPath.size() &&
         CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, filePath.c_str(), static_cast<int>(folderPath.size()),
                        folderPath.c_str(), static_cast<int>(folderPath.size())) == CSTR_EQUAL;
}

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
    handle = sys.CreateFileA(name.c_str(), GENERIC_READ | DELETE, 0, &attributes, OPEN_EXISTING,
                             FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, NULL);
    error = GetLastError();
  }
  bool byHandle = handle != INVALID_HANDLE_VALUE;
  if (!byHandle && error == ERROR_ACCESS_DENIED) {
    // A folder that lets us read but not delete: read it all the same, and
    // let the delete by name report the refusal afterwards.
    PlatformCall call;
    handle = sys.CreateFileA(name.c_str(), GENERIC_READ, 0, &attributes, OPEN_EXISTING,
                             FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, NULL);
    error = GetLastError();
  }
  if (handle == INVALID_HANDLE_VALUE) {
    // A folder under the spool file's name refuses to be opened as a file.
    if (error == ERROR_ACCESS_DENIED) {
      PlatformCall call;
      DWORD found = GetFileAttributesA(name.c_str());
      if (found != INVALID_FILE_ATTRIBUTES && (found & FILE_ATTRIBUTE_DIRECTORY)) return kErrorNotPlainFile;
    }
    return codeForError(error);
  }
  *file = new FsFileObject{handle, name, byHandle};
  BY_HANDLE_FILE_INFORMATION info;
  BOOL ok;
  {
    PlatformCall call;
    ok = sys.GetFileInformationByHandle(handle, &info);
    error = GetLastError();
  }
  int code = !ok ? codeForError(error)
             : (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) || !openedInsideFolder(handle) ? kErrorLinkRefused
                                                                                                      : 0;
  if (code != 0) {
    fsCloseFile(*file);
    *file = nullptr;
  }
  return code;
}

int fsReadAt(FsFile file, std::uint64_t offset, unsigned char* buffer, unsigned size, unsigned* count) {
  *count = 0;
  LONG high = static_cast<LONG>(offset >> 32);
  DWORD position, error;
  {
    PlatformCall call;
    position = sys.SetFilePointer(file->handle, static_cast<LONG>(offset & 0xFFFFFFFFu), &high, FILE_BEGIN);
    error = GetLastError();
  }
  if (position == INVALID_SET_FILE_POINTER && error != NO_ERROR) return codeForError(error);
  DWORD got = 0;
  BOOL ok;
  {
    PlatformCall call;
    ok = sys.ReadFile(file->handle, buffer, size, &got, NULL);
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
    low = sys.GetFileSize(file->handle, &high);
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
    ok = sys.GetFileInformationByHandle(file->handle, &info);
    error = GetLastError();
  }
  if (!ok) return codeForError(error);
  stamp->identity = 0;  // FindFirstFileA, used for the stamp by name, has no file index
  stamp->size = (static_cast<std::uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
  stamp->modified = fileTimeValue(info.ftLastWriteTime);
  stamp->changed = fileTimeValue(info.ftCreationTime);
  return 0;
}

int fsFileMode(FsFile, unsigned* mode) {
  *mode = 0777;
  return 0;
}

int fsTakeFile(FsFile) { return 0; }

int fsRemoveFile(FsFile file) {
  if (!file->byHandle) {
    std::string name = file->name;
    fsCloseFile(file);
    return deleteMatching(name);
  }
  // Marked for deletion through the open handle; the file goes when it is
  // closed, and nobody else can have opened it meanwhile.
  FILE_DISPOSITION_INFO disposition;
  disposition.DeleteFile = TRUE;
  BOOL ok;
  DWORD error;
  {
    PlatformCall call;
    ok = sys.SetFileInformationByHandle(file->handle, FileDispositionInfo, &disposition, sizeof disposition);
    error = GetLastError();
  }
  fsCloseFile(file);
  return ok ? 0 : codeForError(error);
}

void fsCloseFile(FsFile file) {
  if (!file) return;
  {
    PlatformCall call;
    sys.CloseHandle(file->handle);
  }
  delete file;
}

int fsFileStamp(const std::string& name, FileStamp* stamp) {
  WIN32_FIND_DATAA found;
  HANDLE search;
  DWORD error;
  {
    PlatformCall call;
    search = sys.FindFirstFileA(name.c_str(), &found);
    error = GetLastError();
  }
  if (search == INVALID_HANDLE_VALUE) return codeForError(error);
  {
    PlatformCall call;
    sys.FindClose(search);
  }
  stamp->identity = 0;
  stamp->size = (static_cast<std::uint64_t>(found.nFileSizeHigh) << 32) | found.nFileSizeLow;
  stamp->modified = fileTimeValue(found.ftLastWriteTime);
  stamp->changed = fileTimeValue(found.ftCreationTime);
  return 0;
}

namespace {

// The part of a name up to its last separator, kept for rebuilding each found
// file's path; the forward slash counts as a separator like the backslash.
std::string folderPart(const std::string& name) {
  std::string::size_type cut = 0;
  for (std::string::size_type i = 0; i < name.size(); ++i)
    if (isSeparator(name[i])) cut = i + 1;
  return name.substr(0, cut);
}

HANDLE findFirst(const std::string& pattern, WIN32_FIND_DATAA* found, DWORD* error) {
  PlatformCall call;
  HANDLE search = sys.FindFirstFileA(pattern.c_str(), found);
  *error = GetLastError();
  return search;
}

bool findNext(HANDLE search, WIN32_FIND_DATAA* found) {
  PlatformCall call;
  return sys.FindNextFileA(search, found) != FALSE;
}

void findClose(HANDLE search) {
  PlatformCall call;
  sys.FindClose(search);
}

int deleteFound(const std::string& path) {
  PlatformCall call;
  if (sys.DeleteFileA(path.c_str())) return 0;
  return codeForError(GetLastError());
}

// Deletes the files the name matches, hidden and system files and folders
// left alone: for a file that was not opened through a handle of its own.
int deleteMatching(const std::string& name) {
  std::string folder = folderPart(name);
  std::string pattern = folder.size() == name.size() ? name + "*.*" : name;
  WIN32_FIND_DATAA found;
  DWORD error;
  HANDLE search = findFirst(pattern, &found, &error);
  if (search == INVALID_HANDLE_VALUE) return codeForError(error);
  const DWORD skipped = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_DIRECTORY;
  int code = 0;
  do {
    if ((found.dwFileAttributes & skipped) == 0) code = deleteFound(folder + found.cFileName);
  } while (code == 0 && findNext(search, &found));
  findClose(search);
  return code;
}

}  // namespace

int fsMoveFile(FsFile file, const std::string& target) {
  // The rename takes the full target path in UTF-16.
  char full[MAX_PATH];
  DWORD length;
  {
    PlatformCall call;
    length = sys.GetFullPathNameA(target.c_str(), sizeof full, full, NULL);
  }
  if (length == 0 || length >= sizeof full) return kErrorBadName;
  int wide = MultiByteToWideChar(CP_ACP, 0, full, -1, NULL, 0);
  std::size_t size = sizeof(FILE_RENAME_INFO) + static_cast<std::size_t>(wide) * sizeof(WCHAR);
  std::vector<unsigned char> buffer(size, 0);
  FILE_RENAME_INFO* rename = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
  rename->ReplaceIfExists = FALSE;
  rename->RootDirectory = NULL;
  MultiByteToWideChar(CP_ACP, 0, full, -1, rename->FileName, wide);
  rename->FileNameLength = static_cast<DWORD>((wide - 1) * sizeof(WCHAR));
  BOOL ok;
  DWORD error;
  {
    PlatformCall call;
    ok = sys.SetFileInformationByHandle(file->handle, FileRenameInfo, rename, static_cast<DWORD>(size));
    error = GetLastError();
  }
  if (ok) file->name = target;
  return ok ? 0 : codeForError(error);
}

// The name's folders are checked by their text before it gets here; links
// among them are the administrator's own doing on Windows (making one needs a
// privilege the DOS program's share does not give).
bool fsFolderInside(const std::string&) { return true; }

int fsCreateFolder(const std::string& name) {
  BOOL ok;
  DWORD error;
  {
    PlatformCall call;
    ok = sys.CreateDirectoryA(name.c_str(), NULL);
    error = GetLastError();
  }
  if (ok || error == ERROR_ALREADY_EXISTS) return 0;
  return codeForError(error);
}

// Nothing of ferrin's is hidden on Windows (a spool file is held, not renamed,
// while it prints): hidden files are never listed.
namespace {

// The names in the folder that are folders (wantFolders) or files; hidden and
// system entries and reparse points (links) are left out.
int listEntries(const std::string& folder, std::vector<std::string>* names, bool wantFolders) {
  names->clear();
  WIN32_FIND_DATAA found;
  DWORD error;
  HANDLE search = findFirst(folder + "\\*", &found, &error);
  if (search == INVALID_HANDLE_VALUE) return error == ERROR_FILE_NOT_FOUND ? 0 : codeForError(error);
  const DWORD skipped = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_REPARSE_POINT;
  do {
    std::string name = found.cFileName;
    bool isFolder = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    if (isFolder == wantFolders && (found.dwFileAttributes & skipped) == 0 && name != "." && name != "..")
      names->push_back(name);
  } while (findNext(search, &found));
  findClose(search);
  return 0;
}

}  // namespace

// Windows marks hidden files by an attribute, not by a leading dot: files
// whose names begin with one are always listed.
int fsListFolder(const std::string& folder, std::vector<std::string>* names, bool) {
  return listEntries(folder, names, false);
}

// --- Files ferrin writes itself ------------------------------------------------

namespace {

int writeAll(HANDLE handle, const unsigned char* bytes, std::size_t size) {
  while (size > 0) {
    DWORD piece = size > 0x10000000u ? 0x10000000u : static_cast<DWORD>(size), done = 0, error;
    BOOL ok;
    {
      PlatformCall call;
      ok = sys.WriteFile(handle, bytes, piece, &done, NULL);
      error = GetLastError();
    }
    if (!ok) return codeForError(error);
    if (done == 0) return kErrorDiskFault;
    bytes += done;
    size -= done;
  }
  return 0;
}

HANDLE createOwnFile(const std::string& name, DWORD access, DWORD share, DWORD disposition, DWORD* error) {
  PlatformCall call;
  HANDLE handle = sys.CreateFileA(name.c_str(), access, share, NULL, disposition,
                                  FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, NULL);
  *error = GetLastError();
  return handle;
}

}  // namespace

int fsCreateNewFile(const std::string& name, FsFile* file) {
  DWORD error;
  // DELETE access, so that the finished file is renamed through its handle.
  // Others may read it meanwhile (a reprint of a copy not yet flushed).
  HANDLE handle = createOwnFile(name, GENERIC_WRITE | DELETE, FILE_SHARE_READ, CREATE_NEW, &error);
  if (handle == INVALID_HANDLE_VALUE) return codeForError(error);
  *file = new FsFileObject{handle, name, true};
  return 0;
}

int fsWriteFile(FsFile file, const unsigned char* bytes, unsigned size) { return writeAll(file->handle, bytes, size); }

int fsSyncFile(FsFile file) {
  BOOL ok;
  DWORD error;
  {
    PlatformCall call;
    ok = sys.FlushFileBuffers(file->handle);
    error = GetLastError();
  }
  return ok ? 0 : codeForError(error);
}

int fsOpenReadFile(const std::string& name, FsFile* file) {
  DWORD error;
  HANDLE handle =
      createOwnFile(name, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, OPEN_EXISTING, &error);
  if (handle == INVALID_HANDLE_VALUE) return codeForError(error);
  *file = new FsFileObject{handle, name, false};
  BY_HANDLE_FILE_INFORMATION info;
  BOOL ok;
  {
    PlatformCall call;
    ok = sys.GetFileInformationByHandle(handle, &info);
    error = GetLastError();
  }
  int code = !ok ? codeForError(error)
             : (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) ? kErrorLinkRefused
             : (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)     ? kErrorNotPlainFile
                                                                      : 0;
  if (code != 0) {
    fsCloseFile(*file);
    *file = nullptr;
  }
  return code;
}

int fsAppendToFile(const std::string& name, const std::string& text) {
  DWORD error;
  // Append-only access: every write goes to the end, whoever else appends.
  HANDLE handle = createOwnFile(name, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_ALWAYS, &error);
  if (handle == INVALID_HANDLE_VALUE) return codeForError(error);
  int code = writeAll(handle, reinterpret_cast<const unsigned char*>(text.data()), text.size());
  PlatformCall call;
  sys.CloseHandle(handle);
  return code;
}

int fsDeleteFile(const std::string& name) { return deleteFound(name); }

// A file another process still writes is open without delete sharing: the
// deletion fails while it is held.
int fsDeleteLeftover(const std::string& name) { return deleteFound(name); }

int fsRemoveFolder(const std::string& name) {
  PlatformCall call;
  if (sys.RemoveDirectoryA(name.c_str())) return 0;
  return codeForError(GetLastError());
}

int fsListSubfolders(const std::string& folder, std::vector<std::string>* names) {
  return listEntries(folder, names, true);
}

// --- Small records that must survive a crash ------------------------------

int fsWriteFileSafely(const std::string& path, const std::string& bytes) {
  std::string temporary = path + ".new";
  HANDLE file;
  DWORD error;
  {
    PlatformCall call;
    file = sys.CreateFileA(temporary.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    error = GetLastError();
  }
  if (file == INVALID_HANDLE_VALUE) return codeForError(error);
  int code = 0;
  std::size_t done = 0;
  while (code == 0 && done < bytes.size()) {
    DWORD written = 0;
    PlatformCall call;
    if (!sys.WriteFile(file, bytes.data() + done, static_cast<DWORD>(bytes.size() - done), &written, NULL))
      code = codeForError(GetLastError());
    else if (written == 0)
      code = kErrorDiskFull;
    done += written;
  }
  {
    PlatformCall call;
    if (code == 0 && !sys.FlushFileBuffers(file)) code = codeForError(GetLastError());
    sys.CloseHandle(file);
  }
  PlatformCall call;
  if (code == 0 && !sys.MoveFileExA(temporary.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
    code = codeForError(GetLastError());
  if (code != 0) sys.DeleteFileA(temporary.c_str());
  return code;
}

int fsReadSmallFile(const std::string& path, std::size_t limit, std::string* bytes) {
  bytes->clear();
  HANDLE file;
  DWORD error;
  {
    PlatformCall call;
    file = sys.CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING,
                           FILE_FLAG_OPEN_REPARSE_POINT, NULL);
    error = GetLastError();
  }
  if (file == INVALID_HANDLE_VALUE) return codeForError(error);
  int code = 0;
  char buffer[4096];
  while (bytes->size() < limit) {
    DWORD got = 0;
    DWORD want = static_cast<DWORD>(std::min<std::size_t>(sizeof buffer, limit - bytes->size()));
    PlatformCall call;
    if (!sys.ReadFile(file, buffer, want, &got, NULL)) {
      code = codeForError(GetLastError());
      break;
    }
    if (got == 0) break;
    bytes->append(buffer, got);
  }
  PlatformCall call;
  sys.CloseHandle(file);
  return code;
}

int fsSyncFolder(const std::string&) { return 0; }

int fsSyncFileByName(const std::string& path) {
  DWORD error;
  HANDLE handle = createOwnFile(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING, &error);
  if (handle == INVALID_HANDLE_VALUE) return codeForError(error);
  BOOL ok;
  {
    PlatformCall call;
    ok = sys.FlushFileBuffers(handle);
    error = GetLastError();
    sys.CloseHandle(handle);
  }
  return ok ? 0 : codeForError(error);
}
