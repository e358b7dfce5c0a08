// POSIX has no exclusive open, so a spool file is held in three other ways:
//  - It is not taken while any process still has it open for writing. On
//    Linux a read lease tells: F_SETLEASE with F_RDLCK fails while a writer
//    has the file open. Where leases are not available (some network and
//    user-space file systems, files of another owner, other systems) the file
//    is taken only once it has not been modified for a second.
//  - flock() on the open file keeps a second watcher or a second ferrin in the
//    same folder from reading the same file at the same time.
//  - Before printing, the file is renamed to a hidden in-progress name in the
//    same folder (".NAME.printing"): the writer can put the next printout under
//    the spool name at once without touching the one being printed, and a
//    printout cut off by a crash or a kill is still there on the next start,
//    when it is opened before anything else and printed in full. It is deleted
//    only after its printout has been handed over.
#include "files/fs.h"

#include <dirent.h>
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <algorithm>
#include <cstdlib>

#include "platform/system.h"
#include "files/errors.h"
#include "files/fs_calls_posix.h"

struct FsFileObject {
  int fd;
  std::string path;       // where the file is now
  std::string spoolName;  // the name it was opened by
  bool taken;             // path is the in-progress name
  dev_t device;
  ino_t inode;
};

namespace {

int realOpen(const char* path, int flags, mode_t mode) { return ::open(path, flags, mode); }

// rename() that never replaces an existing file.
int realRenameNoReplace(const char* from, const char* to) {
#ifdef RENAME_NOREPLACE
  if (::renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE) == 0) return 0;
  if (errno != EINVAL && errno != ENOSYS) return -1;
#endif
  // Without the flag: a hard link fails when the target exists.
  if (::link(from, to) != 0) return -1;
  ::unlink(from);
  return 0;
}

int realSetLease(int fd, int type) {
#ifdef F_SETLEASE
  return ::fcntl(fd, F_SETLEASE, type);
#else
  (void)fd;
  (void)type;
  errno = EINVAL;
  return -1;
#endif
}

}  // namespace

const PosixFileCalls posixFileCallsDefault = {
    realOpen, ::close, ::pread, ::fstat, ::lstat, realRenameNoReplace, ::unlink, ::mkdir, ::flock,
    ::opendir, ::readdir, ::closedir, ::write, ::fsync, ::rmdir, ::rename, realSetLease,
};
PosixFileCalls posixFileCalls = posixFileCallsDefault;

namespace {

const PosixFileCalls& sys = posixFileCalls;

// A file must have rested this long before it is taken where leases cannot
// tell whether a writer still has it open.
const long long kQuietMilliseconds = 1000;

int codeForErrno(int error) {
  switch (error) {
    case ENOENT: return kErrorFileNotFound;
    case ENOTDIR: return kErrorPathNotFound;
    case ELOOP: return kErrorLinkRefused;
    case EACCES: case EPERM: case EROFS: case ETXTBSY: case EBUSY: case EISDIR:
#if EWOULDBLOCK != EAGAIN
    case EWOULDBLOCK:
#endif
    case EAGAIN:
      return kErrorAccess;
    case ENXIO: case ENODEV: return kErrorBadDrive;
    case EIO: return kErrorDiskFault;
    case ENOSPC: case EDQUOT: return kErrorDiskFull;
    case EMFILE: case ENFILE: return kErrorTooManyFiles;
    case ENOMEM: return kErrorNoMemory;
    default: return kErrorOther;
  }
}

std::string directoryOf(const std::string& name) {
  std::string::size_type slash = name.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return name.substr(0, slash);
}

bool directoryExists(const std::string& path) {
  struct stat st;
  int result;
  {
    LockGuard lock(FileSystemLock);
    result = sys.lstat(path.c_str(), &st);
  }
  return result == 0 && S_ISDIR(st.st_mode);
}

// A missing file is kErrorFileNotFound when its directory is there and
// kErrorPathNotFound when it is not.
int codeForPathError(int error, const std::string& name) {
  // The working folder itself is always there: no need to look.
  if (error == ENOENT && name.find('/') != std::string::npos && !directoryExists(directoryOf(name)))
    return kErrorPathNotFound;
  return codeForErrno(error);
}

std::string inProgressName(const std::string& name) {
  std::string::size_type slash = name.rfind('/');
  std::string folder = slash == std::string::npos ? "" : name.substr(0, slash + 1);
  std::string base = slash == std::string::npos ? name : name.substr(slash + 1);
  return folder + "." + base + ".printing";
}

// A lease that is being broken is announced with SIGIO, whose default action
// ends the process. Leases here are held for two calls only, but a writer can
// open the file in between.
void ignoreLeaseSignal() {
  struct sigaction current;
  if (sigaction(SIGIO, nullptr, &current) == 0 && current.sa_handler == SIG_DFL) signal(SIGIO, SIG_IGN);
}
pthread_once_t leaseSignalOnce = PTHREAD_ONCE_INIT;

long long millisecondsOf(const struct timespec& ts) {
  return static_cast<long long>(ts.tv_sec) * 1000LL + ts.tv_nsec / 1000000L;
}

// 0 when no other process has the file open for writing, else kErrorAccess.
int checkNoWriter(int fd, const struct stat& st) {
  pthread_once(&leaseSignalOnce, ignoreLeaseSignal);
  int result, error;
  {
    LockGuard lock(FileSystemLock);
    result = sys.setLease(fd, F_RDLCK);
    error = errno;
  }
  if (result == 0) {
    LockGuard lock(FileSystemLock);
    sys.setLease(fd, F_UNLCK);
    return 0;
  }
  if (error == EAGAIN || error == EWOULDBLOCK) return kErrorAccess;
  struct timespec now;
  clock_gettime(CLOCK_REALTIME, &now);
  if (millisecondsOf(now) - millisecondsOf(st.st_mtim) < kQuietMilliseconds) return kErrorAccess;
  return 0;
}

void closeDescriptor(int fd) {
  LockGuard lock(FileSystemLock);
  sys.close(fd);
}

// The path names this very file (and it has not been unlinked).
bool pathIsFile(const std::string& path, dev_t device, ino_t inode) {
  struct stat st;
  int result;
  {
    LockGuard lock(FileSystemLock);
    result = sys.lstat(path.c_str(), &st);
  }
  return result == 0 && st.st_dev == device && st.st_ino == inode;
}

// Opens and holds one path: regular file, not locked by another reader, no
// writer. A missing file is told apart from a missing folder only when
// `exactMissing` asks for it (it costs a look at the folder).
int openHeld(const std::string& path, FsFile* file, bool exactMissing = true) {
  int fd, error;
  struct stat st;
  int result;
  // Looked at before it is opened: a pipe opened for reading, even for a
  // moment, would let its writer go on and then break it when closed.
  {
    LockGuard lock(FileSystemLock);
    result = sys.lstat(path.c_str(), &st);
    error = errno;
  }
  if (result != 0) return exactMissing || error != ENOENT ? codeForPathError(error, path) : kErrorFileNotFound;
  if (S_ISLNK(st.st_mode)) return kErrorLinkRefused;
  if (!S_ISREG(st.st_mode)) return kErrorNotPlainFile;
  {
    LockGuard lock(FileSystemLock);
    fd = sys.open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC, 0);
    error = errno;
  }
  if (fd < 0) return exactMissing || error != ENOENT ? codeForPathError(error, path) : kErrorFileNotFound;
  {
    LockGuard lock(FileSystemLock);
    result = sys.fstat(fd, &st);
    error = errno;
  }
  if (result != 0 || !S_ISREG(st.st_mode)) {
    closeDescriptor(fd);
    return result != 0 ? codeForErrno(error) : kErrorAccess;
  }
  {
    LockGuard lock(FileSystemLock);
    result = sys.flock(fd, LOCK_EX | LOCK_NB);
    error = errno;
  }
  // Where flock is not supported the other checks still hold.
  if (result != 0 && (error == EWOULDBLOCK || error == EAGAIN)) {
    closeDescriptor(fd);
    return kErrorAccess;
  }
  // The holder of the lock before us may have deleted or moved the file.
  if (!pathIsFile(path, st.st_dev, st.st_ino)) {
    closeDescriptor(fd);
    return kErrorFileNotFound;
  }
  int code = checkNoWriter(fd, st);
  if (code != 0) {
    closeDescriptor(fd);
    return code;
  }
  *file = new FsFileObject{fd, path, path, false, st.st_dev, st.st_ino};
  return 0;
}

// Renames without replacing; 0 or the errno.
int renameNoReplace(const std::string& from, const std::string& to) {
  LockGuard lock(FileSystemLock);
  return sys.renameNoReplace(from.c_str(), to.c_str()) == 0 ? 0 : errno;
}

}  // namespace

int fsOpenSpoolFile(const std::string& name, FsFile* file) {
  std::string busy = inProgressName(name);
  int code = openHeld(busy, file, false);
  if (code == 0) {
    (*file)->spoolName = name;
    (*file)->taken = true;
    return 0;
  }
  if (code != kErrorFileNotFound && code != kErrorPathNotFound) return code;
  code = openHeld(name, file);
  if (code == 0) (*file)->spoolName = name;
  return code;
}

int fsReadAt(FsFile file, std::uint64_t offset, unsigned char* buffer, unsigned size, unsigned* count) {
  ssize_t got;
  int error;
  do {
    LockGuard lock(FileSystemLock);
    got = sys.pread(file->fd, buffer, size, static_cast<off_t>(offset));
    error = errno;
  } while (got < 0 && error == EINTR);
  if (got < 0) {
    *count = 0;
    return codeForErrno(error);
  }
  *count = static_cast<unsigned>(got);
  return 0;
}

int fsFileSize(FsFile file, std::uint64_t* size) {
  FileStamp stamp;
  int code = fsFileStampOf(file, &stamp);
  *size = code == 0 ? stamp.size : 0;
  return code;
}

namespace {
FileStamp stampOf(const struct stat& st) {
  FileStamp stamp;
  stamp.identity = static_cast<std::uint64_t>(st.st_ino);
  stamp.size = static_cast<std::uint64_t>(st.st_size);
  stamp.modified = static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000LL + st.st_mtim.tv_nsec;
  stamp.changed = static_cast<std::int64_t>(st.st_ctim.tv_sec) * 1000000000LL + st.st_ctim.tv_nsec;
  return stamp;
}
}  // namespace

namespace {
int statOpenFile(FsFile file, struct stat* st) {
  int result, error;
  {
    LockGuard lock(FileSystemLock);
    result = sys.fstat(file->fd, st);
    error = errno;
  }
  return result == 0 ? 0 : codeForErrno(error);
}
}  // namespace

int fsFileStampOf(FsFile file, FileStamp* stamp) {
  struct stat st;
  int code = statOpenFile(file, &st);
  if (code == 0) *stamp = stampOf(st);
  return code;
}

int fsFileMode(FsFile file, unsigned* mode) {
  struct stat st;
  int code = statOpenFile(file, &st);
  if (code == 0) *mode = static_cast<unsigned>(st.st_mode & 0777);
  return code;
}

int fsTakeFile(FsFile file) {
  if (file->taken) return 0;
  std::string busy = inProgressName(file->spoolName);
  int error = renameNoReplace(file->path, busy);
  if (error != 0) return codeForErrno(error);
  if (pathIsFile(busy, file->device, file->inode)) {
    file->path = busy;
    file->taken = true;
    return 0;
  }
  // The spool name was replaced between our open and the rename: what was
  // moved is a newer printout, which is found under the in-progress name on
  // the next cycle. This one goes on being read from its descriptor.
  file->path.clear();
  return 0;
}

int fsRemoveFile(FsFile file) {
  fsTakeFile(file);
  int code = 0;
  if (!file->path.empty() && pathIsFile(file->path, file->device, file->inode)) {
    int result, error;
    {
      LockGuard lock(FileSystemLock);
      result = sys.unlink(file->path.c_str());
      error = errno;
    }
    if (result != 0) code = codeForErrno(error);
  }
  // Closed only now: the lock held until the unlink keeps anyone else from
  // reading the file a second time.
  fsCloseFile(file);
  return code;
}

void fsCloseFile(FsFile file) {
  if (!file) return;
  closeDescriptor(file->fd);
  delete file;
}

int fsFileStamp(const std::string& name, FileStamp* stamp) {
  struct stat st;
  int result, error;
  {
    LockGuard lock(FileSystemLock);
    result = sys.lstat(inProgressName(name).c_str(), &st);
  }
  if (result != 0) {
    LockGuard lock(FileSystemLock);
    result = sys.lstat(name.c_str(), &st);
    error = errno;
  } else {
    error = 0;
  }
  if (result != 0) return codeForPathError(error, name);
  *stamp = stampOf(st);
  return 0;
}

namespace {

struct FolderListing {
  DIR* dir = nullptr;
};

int openListing(const std::string& folder, FolderListing* listing) {
  int error;
  {
    LockGuard lock(FileSystemLock);
    listing->dir = sys.opendir(folder.empty() ? "." : folder.c_str());
    error = errno;
  }
  if (listing->dir) return 0;
  return error == ENOENT || error == ENOTDIR ? kErrorPathNotFound : codeForErrno(error);
}

// The next name in the folder, "." and ".." left out; false at the end.
bool nextName(FolderListing* listing, std::string* name) {
  for (;;) {
    struct dirent* entry;
    {
      LockGuard lock(FileSystemLock);
      entry = sys.readdir(listing->dir);
    }
    if (!entry) return false;
    *name = entry->d_name;
    if (*name != "." && *name != "..") return true;
  }
}

void closeListing(FolderListing* listing) {
  LockGuard lock(FileSystemLock);
  sys.closedir(listing->dir);
}

bool lstatPath(const std::string& path, struct stat* st) {
  LockGuard lock(FileSystemLock);
  return sys.lstat(path.c_str(), st) == 0;
}

}  // namespace

int fsMoveFile(FsFile file, const std::string& target) {
  int code = 0;
  if (file->path.empty() || !pathIsFile(file->path, file->device, file->inode)) {
    code = kErrorFileNotFound;
  } else {
    int error = renameNoReplace(file->path, target);
    if (error == EEXIST) code = kErrorAccess;
    else if (error != 0) code = codeForPathError(error, target);
    else file->path = target;
  }
  return code;
}

bool fsFolderInside(const std::string& name) {
  std::string::size_type slash = name.rfind('/');
  if (slash == std::string::npos) return true;
  char here[PATH_MAX], there[PATH_MAX];
  bool resolved;
  {
    LockGuard lock(FileSystemLock);
    resolved = ::realpath(".", here) != nullptr && ::realpath(name.substr(0, slash).c_str(), there) != nullptr;
  }
  // A folder that is not there holds no file to print either.
  if (!resolved) return true;
  std::string inside = std::string(here) + (std::string(here) == "/" ? "" : "/");
  return std::string(there) == here || std::string(there).compare(0, inside.size(), inside) == 0;
}

int fsCreateFolder(const std::string& name) {
  int result, error;
  {
    LockGuard lock(FileSystemLock);
    result = sys.mkdir(name.c_str(), 0775);
    error = errno;
  }
  if (result == 0) {
    // The new folder is made durable in its parent: what is synced inside it
    // later (a hand-over record, say) would otherwise be lost with it in a
    // power cut.
    std::string::size_type slash = name.find_last_of('/');
    return fsSyncFolder(slash == std::string::npos ? std::string(".") : name.substr(0, slash));
  }
  struct stat st;
  if (error == EEXIST && lstatPath(name, &st) && S_ISDIR(st.st_mode)) return 0;
  return error == EEXIST ? kErrorAccess : codeForPathError(error, name);
}

namespace {

// The names in the folder whose entries (links not followed) are folders
// (wantFolders) or regular files; names beginning with a dot only when
// withHidden. A link in the folder's place is not followed.
int listEntries(const std::string& folder, std::vector<std::string>* names, bool wantFolders, bool withHidden) {
  names->clear();
  struct stat folderStat;
  if (!lstatPath(folder, &folderStat)) return kErrorPathNotFound;
  if (!S_ISDIR(folderStat.st_mode)) return kErrorLinkRefused;
  FolderListing listing;
  int code = openListing(folder, &listing);
  if (code != 0) return code;
  std::string found;
  while (nextName(&listing, &found)) {
    if (found[0] == '.' && (!withHidden || found == "." || found == "..")) continue;
    struct stat st;
    if (lstatPath(folder + "/" + found, &st) && (wantFolders ? S_ISDIR(st.st_mode) : S_ISREG(st.st_mode)))
      names->push_back(found);
  }
  closeListing(&listing);
  return 0;
}

}  // namespace

int fsListFolder(const std::string& folder, std::vector<std::string>* names, bool withHidden) {
  return listEntries(folder, names, false, withHidden);
}

// --- Files ferrin writes itself ------------------------------------------------

namespace {

// Journal files are readable by the folder's group, like the printouts they
// keep, and by nobody else.
const mode_t kOwnFileMode = 0640;

// Writes all the bytes; 0 or the errno.
int writeAll(int fd, const unsigned char* bytes, std::size_t size) {
  while (size > 0) {
    ssize_t done;
    int error;
    {
      LockGuard lock(FileSystemLock);
      done = sys.write(fd, bytes, size);
      error = errno;
    }
    if (done < 0 && error == EINTR) continue;
    if (done <= 0) return done < 0 ? error : EIO;
    bytes += done;
    size -= static_cast<std::size_t>(done);
  }
  return 0;
}

int openOwnFile(const std::string& name, int flags, int* fd) {
  int error;
  {
    LockGuard lock(FileSystemLock);
    *fd = sys.open(name.c_str(), flags | O_WRONLY | O_NOFOLLOW | O_CLOEXEC, kOwnFileMode);
    error = errno;
  }
  if (*fd >= 0) return 0;
  return error == EEXIST ? kErrorAccess : codeForPathError(error, name);
}

}  // namespace

int fsCreateNewFile(const std::string& name, FsFile* file) {
  int fd;
  int code = openOwnFile(name, O_CREAT | O_EXCL, &fd);
  if (code != 0) return code;
  struct stat st;
  int result;
  {
    LockGuard lock(FileSystemLock);
    // Held while it is written: fsDeleteLeftover leaves it alone.
    sys.flock(fd, LOCK_EX | LOCK_NB);
    result = sys.fstat(fd, &st);
  }
  *file = new FsFileObject{fd, name, name, false, result == 0 ? st.st_dev : 0, result == 0 ? st.st_ino : 0};
  return 0;
}

int fsWriteFile(FsFile file, const unsigned char* bytes, unsigned size) {
  int error = writeAll(file->fd, bytes, size);
  return error == 0 ? 0 : codeForErrno(error);
}

int fsSyncFile(FsFile file) {
  int result, error;
  {
    LockGuard lock(FileSystemLock);
    result = sys.fsync(file->fd);
    error = errno;
  }
  return result == 0 ? 0 : codeForErrno(error);
}

int fsOpenReadFile(const std::string& name, FsFile* file) {
  struct stat st;
  if (!lstatPath(name, &st)) return kErrorFileNotFound;
  if (S_ISLNK(st.st_mode)) return kErrorLinkRefused;
  if (!S_ISREG(st.st_mode)) return kErrorNotPlainFile;
  int fd, error;
  {
    LockGuard lock(FileSystemLock);
    fd = sys.open(name.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC, 0);
    error = errno;
  }
  if (fd < 0) return codeForPathError(error, name);
  *file = new FsFileObject{fd, name, name, false, st.st_dev, st.st_ino};
  return 0;
}

int fsAppendToFile(const std::string& name, const std::string& text) {
  int fd;
  int code = openOwnFile(name, O_CREAT | O_APPEND, &fd);
  if (code != 0) return code;
  int error = writeAll(fd, reinterpret_cast<const unsigned char*>(text.data()), text.size());
  closeDescriptor(fd);
  return error == 0 ? 0 : codeForErrno(error);
}

int fsDeleteFile(const std::string& name) {
  int result, error;
  {
    LockGuard lock(FileSystemLock);
    result = sys.unlink(name.c_str());
    error = errno;
  }
  return result == 0 ? 0 : codeForPathError(error, name);
}

int fsRemoveFolder(const std::string& name) {
  int result, error;
  {
    LockGuard lock(FileSystemLock);
    result = sys.rmdir(name.c_str());
    error = errno;
  }
  return result == 0 ? 0 : codeForPathError(error, name);
}

int fsListSubfolders(const std::string& folder, std::vector<std::string>* names) {
  return listEntries(folder, names, true, false);
}

// --- Small records that must survive a crash ------------------------------

namespace {

// Closes a descriptor of our own, keeping the first failure.
int closeOwn(int fd, int code) {
  int result, error;
  {
    LockGuard lock(FileSystemLock);
    result = sys.close(fd);
    error = errno;
  }
  return code == 0 && result != 0 ? codeForErrno(error) : code;
}

int writeWhole(int fd, const std::string& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n;
    int error;
    {
      LockGuard lock(FileSystemLock);
      n = sys.write(fd, bytes.data() + done, bytes.size() - done);
      error = errno;
    }
    if (n < 0 && error == EINTR) continue;
    if (n <= 0) return n < 0 ? codeForErrno(error) : kErrorDiskFull;
    done += static_cast<std::size_t>(n);
  }
  return 0;
}

// The file the new content is written to first, beside the old one.
std::string newTwin(const std::string& path) { return path + ".new"; }

}  // namespace

int fsWriteFileSafely(const std::string& path, const std::string& bytes) {
  std::string temporary = newTwin(path);
  int fd, error;
  {
    LockGuard lock(FileSystemLock);
    fd = sys.open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0644);
    error = errno;
  }
  if (fd < 0) return codeForPathError(error, temporary);
  int code = writeWhole(fd, bytes);
  if (code == 0) {
    LockGuard lock(FileSystemLock);
    if (sys.fsync(fd) != 0) code = codeForErrno(errno);
  }
  code = closeOwn(fd, code);
  if (code == 0) {
    LockGuard lock(FileSystemLock);
    if (sys.rename(temporary.c_str(), path.c_str()) != 0) code = codeForErrno(errno);
  }
  if (code != 0) {
    LockGuard lock(FileSystemLock);
    sys.unlink(temporary.c_str());
    return code;
  }
  return fsSyncFolder(directoryOf(path));
}

int fsReadSmallFile(const std::string& path, std::size_t limit, std::string* bytes) {
  bytes->clear();
  int fd, error;
  {
    LockGuard lock(FileSystemLock);
    fd = sys.open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0);
    error = errno;
  }
  if (fd < 0) return codeForPathError(error, path);
  struct stat st;
  int code = 0;
  {
    LockGuard lock(FileSystemLock);
    if (sys.fstat(fd, &st) != 0) code = codeForErrno(errno);
    else if (!S_ISREG(st.st_mode)) code = kErrorNotPlainFile;
  }
  unsigned char buffer[4096];
  while (code == 0 && bytes->size() < limit) {
    unsigned got = 0;
    FsFileObject probe{fd, path, path, false, 0, 0};
    code = fsReadAt(&probe, bytes->size(), buffer,
                    static_cast<unsigned>(std::min<std::size_t>(sizeof buffer, limit - bytes->size())), &got);
    if (got == 0) break;
    bytes->append(reinterpret_cast<const char*>(buffer), got);
  }
  return closeOwn(fd, code);
}

int fsSyncFolder(const std::string& folder) {
  int fd;
  {
    LockGuard lock(FileSystemLock);
    fd = sys.open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0);
  }
  // A folder that cannot be opened for syncing is synced by the system in
  // its own time; nothing to report.
  if (fd < 0) return 0;
  int code = 0;
  {
    LockGuard lock(FileSystemLock);
    if (sys.fsync(fd) != 0 && errno != EINVAL && errno != EROFS) code = codeForErrno(errno);
  }
  return closeOwn(fd, code);
}

int fsDeleteLeftover(const std::string& name) {
  int fd, result, error;
  {
    LockGuard lock(FileSystemLock);
    fd = sys.open(name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0);
    error = errno;
  }
  if (fd < 0) return codeForPathError(error, name);
  struct stat st;
  {
    LockGuard lock(FileSystemLock);
    result = sys.fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && sys.flock(fd, LOCK_EX | LOCK_NB) == 0 ? 0 : -1;
    // Deleted while it is held, so that no other process takes it up between.
    if (result == 0) result = sys.unlink(name.c_str());
    error = errno;
  }
  return closeOwn(fd, result == 0 ? 0 : error == EWOULDBLOCK ? kErrorAccess : codeForPathError(error, name));
}

int fsSyncFileByName(const std::string& path) {
  int fd, error;
  {
    LockGuard lock(FileSystemLock);
    fd = sys.open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC, 0);
    error = errno;
  }
  if (fd < 0) return codeForPathError(error, path);
  int code = 0;
  {
    LockGuard lock(FileSystemLock);
    if (sys.fsync(fd) != 0) code = codeForErrno(errno);
  }
  return closeOwn(fd, code);
}
