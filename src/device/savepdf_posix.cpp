#include "device/savepdf_posix.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <langinfo.h>
#include <locale.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

const char* const SAVE_AS_PDF_PRINTER = "Save as PDF";
const char* const SAVE_AS_PDF_FOLDER = "printed";

namespace {

// Read once while the process is still single-threaded: the scratch file
// is made private by mkstemp, the finished PDF gets at most the usual mode.
const mode_t processUmask = [] {
  mode_t mask = umask(022);
  umask(mask);
  return mask;
}();

bool writeAll(int fd, const char* data, size_t length) {
  while (length > 0) {
    ssize_t n = write(fd, data, length);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    length -= static_cast<size_t>(n);
  }
  return true;
}

bool copyFile(int from, int to) {
  if (lseek(from, 0, SEEK_SET) != 0) return false;
  char buffer[65536];
  for (;;) {
    ssize_t n = read(from, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) return true;
    if (!writeAll(to, buffer, static_cast<size_t>(n))) return false;
  }
}

bool makeFolder() {
  if (mkdir(SAVE_AS_PDF_FOLDER, 0777) == 0) return true;
  struct stat st;
  return errno == EEXIST && stat(SAVE_AS_PDF_FOLDER, &st) == 0 && S_ISDIR(st.st_mode);
}

int scratchInFolder(std::string* path) {
  if (!makeFolder()) return -1;
  std::string name = std::string(SAVE_AS_PDF_FOLDER) + "/.print-XXXXXX.part";
  std::vector<char> buffer(name.begin(), name.end());
  buffer.push_back('\0');
  int fd = mkstemps(buffer.data(), 5);
  if (fd < 0) return -1;
  // Held while the document is written: a start that finds the file
  // unlocked knows its layout was cut off.
  flock(fd, LOCK_EX | LOCK_NB);
  *path = buffer.data();
  return fd;
}

void syncFolder(const std::string& folder = SAVE_AS_PDF_FOLDER) {
  int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY);
  if (fd >= 0) {
    fsync(fd);
    close(fd);
  }
}

// Moves the scratch file to finalPath unless a file of that name exists.
// 1 when done, 0 when the name is taken, -1 on any other failure.
int placeUnder(const std::string& scratchPath, const std::string& finalPath) {
  if (link(scratchPath.c_str(), finalPath.c_str()) == 0) {
    unlink(scratchPath.c_str());
    return 1;
  }
  if (errno == EEXIST) return 0;
  if (errno != EPERM && errno != ENOTSUP && errno != ENOSYS && errno != EMLINK) return -1;
  // A file system without hard links: claim the name first, then rename
  // over the empty claim.
  int claim = open(finalPath.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0666);
  if (claim < 0) return errno == EEXIST ? 0 : -1;
  close(claim);
  if (rename(scratchPath.c_str(), finalPath.c_str()) == 0) return 1;
  unlink(finalPath.c_str());
  return -1;
}

const char kCounterMark = '\x01';
const int kMaxFolders = 4;
const int kMaxCounter = 9999;

std::vector<std::string> splitName(const std::string& name) {
  std::vector<std::string> parts(1);
  for (char c : name) {
    if (c == '/') parts.emplace_back();
    else parts.back() += c;
  }
  return parts;
}

// Makes the folders of a name inside "printed", each a plain folder (a link
// is not followed out of it). The innermost folder's path; empty when one
// cannot be made.
std::string makeNameFolders(const std::string& name) {
  std::vector<std::string> parts = splitName(name);
  std::string folder = SAVE_AS_PDF_FOLDER;
  for (std::size_t i = 0; i + 1 < parts.size(); ++i) {
    const std::string parent = folder;
    folder += "/" + parts[i];
    struct stat st;
    bool made = mkdir(folder.c_str(), 0777) == 0;
    if (!made && errno != EEXIST) return std::string();
    if (lstat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return std::string();
    // A new folder lasts once its parent is synced.
    if (made) syncFolder(parent);
  }
  return folder;
}

// The name with its counter: the mark replaced, or without one "-002" and
// on after the first try.
std::string countedName(const std::string& base, int counter) {
  char number[16];
  (void)std::snprintf(number, sizeof number, "%03d", counter);  // the counter is bounded
  std::string::size_type mark = base.find(kCounterMark);
  if (mark != std::string::npos) {
    std::string named = base;
    while ((mark = named.find(kCounterMark)) != std::string::npos) named.replace(mark, 1, number);
    return named;
  }
  return counter == 1 ? base : base + "-" + number;
}

// Puts the scratch file under the first free name; the final name, or empty.
std::string placeNamed(const std::string& scratch, const std::string& folder, const std::string& base) {
  for (int counter = 1; counter <= kMaxCounter; counter++) {
    std::string name = folder + "/" + countedName(base, counter) + ".pdf";
    int placed = placeUnder(scratch, name);
    if (placed == 0) continue;
    if (placed < 0) break;
    syncFolder(folder);
    return name;
  }
  return std::string();
}

// print-<date>-<time>-<counter>.pdf: sorts in printing order.
std::string usualName() {
  time_t now = time(nullptr);
  struct tm local;
  localtime_r(&now, &local);
  char stamp[32];
  strftime(stamp, sizeof stamp, "print-%Y%m%d-%H%M%S-", &local);
  return std::string(stamp) + kCounterMark;
}

}  // namespace

bool savedNameAllowed(const std::string& name) {
  std::vector<std::string> parts = splitName(name);
  if (parts.size() > static_cast<std::size_t>(kMaxFolders) + 1 || name.size() > 250) return false;
  for (const std::string& part : parts)
    if (part.empty() || part == "." || part == ".." || part.size() > 200 || part.find('\0') != std::string::npos)
      return false;
  return true;
}

void localePaper(CupsMedia* media) {
  // A4 unless the locale's paper is Letter (216 x 279 mm).
  media->width = 21000;
  media->length = 29700;
#ifdef _NL_PAPER_WIDTH
  locale_t user = newlocale(LC_PAPER_MASK, "", static_cast<locale_t>(0));
  if (user != static_cast<locale_t>(0)) {
    int width = static_cast<int>(reinterpret_cast<std::intptr_t>(nl_langinfo_l(_NL_PAPER_WIDTH, user)));
    int height = static_cast<int>(reinterpret_cast<std::intptr_t>(nl_langinfo_l(_NL_PAPER_HEIGHT, user)));
    if (width == 216 && height == 279) {
      media->width = 21590;
      media->length = 27940;
    }
    freelocale(user);
  }
#endif
  media->left = media->top = media->right = media->bottom = 635;
}

int openScratchFile(bool inFolder, std::string* path) {
  path->clear();
  if (inFolder) {
    int fd = scratchInFolder(path);
    if (fd >= 0) return fd;
  }
  const char* tmp = getenv("TMPDIR");
  std::string name = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/ferrin-print-XXXXXX";
  std::vector<char> buffer(name.begin(), name.end());
  buffer.push_back('\0');
  int fd = mkstemp(buffer.data());
  if (fd >= 0) unlink(buffer.data());
  return fd;
}

int openScratchBeside(const std::string& target, std::string* path) {
  path->clear();
  if (target.empty()) return -1;
  std::string name = target + ".XXXXXX";
  std::vector<char> buffer(name.begin(), name.end());
  buffer.push_back('\0');
  int fd = mkostemp(buffer.data(), O_CLOEXEC);
  if (fd < 0) return -1;
  *path = buffer.data();
  return fd;
}

bool publishPdf(int fd, const std::string& scratchPath, unsigned fileMode, const std::string& name,
                std::string* finalPath) {
  // Set before the file gets its name, so that it is never seen wider.
  const mode_t mode = static_cast<mode_t>(fileMode) & 0666 & ~processUmask;
  std::string scratch = scratchPath;
  if (scratch.empty()) {
    int copy = scratchInFolder(&scratch);
    if (copy < 0) return false;
    bool copied = copyFile(fd, copy) && fchmod(copy, mode) == 0 && fsync(copy) == 0;
    if (close(copy) != 0) copied = false;
    if (!copied) {
      unlink(scratch.c_str());
      return false;
    }
  } else if (fchmod(fd, mode) != 0 || fsync(fd) != 0) {
    unlink(scratch.c_str());
    return false;
  }

  std::string placed;
  std::string folder = name.empty() || !savedNameAllowed(name) ? std::string() : makeNameFolders(name);
  if (!folder.empty()) placed = placeNamed(scratch, folder, splitName(name).back());
  // The usual name where the chosen one cannot be had: the printout is kept.
  if (placed.empty()) placed = placeNamed(scratch, SAVE_AS_PDF_FOLDER, usualName());
  if (placed.empty()) {
    unlink(scratch.c_str());
    return false;
  }
  *finalPath = placed;
  return true;
}

std::string savedPdfKeywords(const std::string& identity) { return "ferrin-printout " + identity; }

namespace {

// True when the file's last bytes (where cairo puts the document's
// information) or, for a small file, any of its bytes hold the text.
bool fileHolds(const std::string& path, const std::string& text) {
  const off_t kTail = 256 * 1024;
  int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat st;
  bool found = false;
  if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
    off_t from = st.st_size > kTail ? st.st_size - kTail : 0;
    std::string bytes(static_cast<size_t>(st.st_size - from), '\0');
    ssize_t got = pread(fd, &bytes[0], bytes.size(), from);
    if (got > 0) {
      bytes.resize(static_cast<size_t>(got));
      found = bytes.find(text) != std::string::npos;
    }
  }
  close(fd);
  return found;
}

}  // namespace

namespace {

const long long kClockSlack = 5;

// Looks for the identity in the PDFs of one folder and, down to `depth`
// more levels, of the folders in it that changed since; *budget bounds the
// entries read in all.
bool findInFolder(const std::string& folder, const std::string& wanted, long long since, int depth, long* budget) {
  DIR* dir = opendir(folder.c_str());
  if (dir == nullptr) return false;
  std::vector<std::string> inner;
  bool found = false;
  while (!found && *budget > 0) {
    struct dirent* entry = readdir(dir);
    if (entry == nullptr) break;
    --*budget;
    std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    std::string path = folder + "/" + name;
    struct stat st;
    if (lstat(path.c_str(), &st) != 0) continue;
    // Every folder is looked into (a file put deep inside changes the time
    // of its own folder only); a PDF keeps the time it was put in place, so
    // only those since the hand-over began are read.
    if (S_ISDIR(st.st_mode)) {
      if (depth > 0) inner.push_back(path);
    } else if (S_ISREG(st.st_mode) && static_cast<long long>(st.st_mtime) >= since - kClockSlack &&
               name.size() >= 4 && name.compare(name.size() - 4, 4, ".pdf") == 0) {
      found = fileHolds(path, wanted);
    }
  }
  closedir(dir);
  for (std::size_t i = 0; !found && i < inner.size(); ++i) found = findInFolder(inner[i], wanted, since, depth - 1, budget);
  return found;
}

}  // namespace

bool findSavedPdf(const std::string& identity, long long since) {
  long budget = 100000;
  return findInFolder(SAVE_AS_PDF_FOLDER, savedPdfKeywords(identity), since, kMaxFolders, &budget);
}

void removeStaleScratchFiles() {
  DIR* dir = opendir(SAVE_AS_PDF_FOLDER);
  if (dir == nullptr) return;
  std::vector<std::string> stale;
  for (struct dirent* entry = readdir(dir); entry != nullptr; entry = readdir(dir)) {
    std::string name = entry->d_name;
    if (name.compare(0, 7, ".print-") != 0 || name.size() < 12 || name.compare(name.size() - 5, 5, ".part") != 0)
      continue;
    std::string path = std::string(SAVE_AS_PDF_FOLDER) + "/" + name;
    int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) continue;
    struct stat st;
    if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && flock(fd, LOCK_EX | LOCK_NB) == 0) stale.push_back(path);
    close(fd);
  }
  closedir(dir);
  for (const std::string& path : stale) unlink(path.c_str());
}
