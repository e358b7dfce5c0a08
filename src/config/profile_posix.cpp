// ferrin.ini on POSIX: read whole and parsed for the keys asked for, and
// written by writing a new file beside it and renaming that into place, so a
// reader at the same moment sees either the old or the new file, never half of
// one. The text last read is kept with the file's stamp: while the file is
// unchanged, a watcher's cycle costs one stat and no read. At most 1 MiB of it
// is read, so that a huge or endless file cannot use up memory or time.
#include "config/profile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <map>

#include "config/ini.h"
#include "console/console.h"
#include "platform/system.h"

namespace {

void sayTooLarge() {
  writeOutputLine("ferrin.ini is larger than 1 MiB, so only its first 1 MiB is read. Remove what does not belong"
                  " in it.");
}

const char kFileName[] = "ferrin.ini";

const std::size_t kMaxFileBytes = 1024 * 1024;

// Reads the file, at most kMaxFileBytes of it; *cut tells whether more was there.
bool readWholeFile(const char* path, std::string* content, bool* cut = nullptr) {
  int fd = open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return false;
  char buffer[8192];
  for (;;) {
    std::size_t room = kMaxFileBytes - content->size();
    ssize_t n = read(fd, buffer, room < sizeof buffer ? room : sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    content->append(buffer, static_cast<std::size_t>(n));
    if (content->size() == kMaxFileBytes) {
      char probe;
      if (cut) *cut = read(fd, &probe, 1) > 0;
      break;
    }
  }
  close(fd);
  return true;
}

// The file's text as last read, with the stamp it had then.
struct CachedFile {
  bool present = false;
  dev_t device = 0;
  ino_t inode = 0;
  off_t size = 0;
  struct timespec modified = {0, 0};
  struct timespec changed = {0, 0};
  std::string content;
  bool cut = false;                                 // more than kMaxFileBytes were there
  std::map<std::string, std::string> lookups;       // "section\nkey" -> value, for this content
};
CachedFile cached;
// Counts the changes of the cached text (reread, or gone).
unsigned long cacheGeneration = 1;

// File times are kept in coarse ticks: a file changed again within the same
// tick keeps its stamp. A stamp only counts once it is a few seconds old.
const time_t kSettledSeconds = 2;

bool sameStamp(const struct stat& st) {
  struct timespec now;
  clock_gettime(CLOCK_REALTIME, &now);
  if (now.tv_sec - st.st_mtim.tv_sec <= kSettledSeconds || now.tv_sec - st.st_ctim.tv_sec <= kSettledSeconds)
    return false;
  return cached.present && st.st_dev == cached.device && st.st_ino == cached.inode && st.st_size == cached.size &&
         st.st_mtim.tv_sec == cached.modified.tv_sec && st.st_mtim.tv_nsec == cached.modified.tv_nsec &&
         st.st_ctim.tv_sec == cached.changed.tv_sec && st.st_ctim.tv_nsec == cached.changed.tv_nsec;
}

// Brings the cache up to date with the file (empty when it is missing),
// reading it again only when its stamp changed. Called under the file-system
// lock. True when the file was newly found too large.
bool refreshCache() {
  struct stat st;
  if (stat(kFileName, &st) != 0 || !S_ISREG(st.st_mode)) {
    if (cached.present || !cached.content.empty()) {
      cached = CachedFile();
      ++cacheGeneration;
    }
    return false;
  }
  if (sameStamp(st)) return false;
  ++cacheGeneration;
  bool wasCut = cached.cut;
  cached = CachedFile();
  cached.present = readWholeFile(kFileName, &cached.content, &cached.cut);
  if (!cached.present) {
    cached = CachedFile();
    return false;
  }
  cached.device = st.st_dev;
  cached.inode = st.st_ino;
  cached.size = st.st_size;
  cached.modified = st.st_mtim;
  cached.changed = st.st_ctim;
  return cached.cut && !wasCut;
}

std::string valueOf(const std::string& content, const std::string& section, const std::string& key,
                    std::size_t bufferSize) {
  std::string value;
  if (!iniLookup(content, section, key, &value)) return std::string();
  std::size_t nul = value.find('\0');
  if (nul != std::string::npos) value.resize(nul);
  if (bufferSize > 0 && value.size() > bufferSize - 1) value.resize(bufferSize - 1);
  return value;
}

bool writeAll(int fd, const std::string& data) {
  std::size_t done = 0;
  while (done < data.size()) {
    ssize_t n = write(fd, data.data() + done, data.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace

std::string readProfileString(const std::string& section, const std::string& key, std::size_t bufferSize) {
  return readProfileStrings(section, std::vector<std::string>(1, key), bufferSize)[0];
}

unsigned long profileGeneration() {
  bool tooLarge;
  unsigned long generation;
  {
    LockGuard lock(FileSystemLock);
    tooLarge = refreshCache();
    generation = cacheGeneration;
  }
  if (tooLarge) sayTooLarge();
  return generation;
}

std::vector<std::string> readProfileStrings(const std::string& section, const std::vector<std::string>& keys,
                                            std::size_t bufferSize) {
  std::vector<std::string> values;
  bool tooLarge;
  {
    LockGuard lock(FileSystemLock);
    tooLarge = refreshCache();
    for (const std::string& key : keys) {
      // Looked up once per content; kept whole, cut to the caller's size below.
      std::string name = section + "\n" + key;
      auto found = cached.lookups.find(name);
      if (found == cached.lookups.end())
        found = cached.lookups.emplace(name, valueOf(cached.content, section, key, 0)).first;
      values.push_back(found->second);
    }
  }
  for (std::string& value : values)
    if (bufferSize > 0 && value.size() > bufferSize - 1) value.resize(bufferSize - 1);
  if (tooLarge) sayTooLarge();
  return values;
}

bool writeProfileString(const std::string& section, const std::string& key, const std::string& value) {
  LockGuard lock(FileSystemLock);
  std::string content;
  struct stat st;
  mode_t mode = 0644;
  if (stat(kFileName, &st) == 0) {
    // A file nobody may write is left alone, as Windows does with a
    // read-only file (root would otherwise replace it).
    if ((st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) return false;
    mode = st.st_mode & 07777;
    // A file too large to read whole is not rewritten from its first part.
    bool cut = false;
    if (!readWholeFile(kFileName, &content, &cut) || cut) return false;
  }
  std::string updated = iniUpdate(content, section, key, value);

  std::string temporary = std::string(".") + kFileName + ".new." + std::to_string(getpid());
  int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  bool ok = writeAll(fd, updated) && fchmod(fd, mode) == 0 && fsync(fd) == 0;
  ok = close(fd) == 0 && ok;
  if (!ok || rename(temporary.c_str(), kFileName) != 0) {
    unlink(temporary.c_str());
    return false;
  }
  return true;
}

bool profileReadableByOthers() {
  struct stat st;
  if (stat(kFileName, &st) != 0) return false;
  return (st.st_mode & (S_IRGRP | S_IROTH)) != 0;
}
