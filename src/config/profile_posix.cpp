// ferrin.ini on POSIX: the whole file is read for each value and written by
// writing a new file beside it and renaming that into place, so a reader at
// the same moment sees either the old or the new file, never half of one.
#include "config/profile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "config/ini.h"
#include "console/system.h"

namespace {

const char kFileName[] = "ferrin.ini";

bool readWholeFile(const char* path, std::string* content) {
  int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  char buffer[8192];
  for (;;) {
    ssize_t n = read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    content->append(buffer, static_cast<std::size_t>(n));
  }
  close(fd);
  return true;
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
  std::string content, value;
  {
    LockGuard lock(FileSystemLock);
    if (!readWholeFile(kFileName, &content)) return std::string();
  }
  if (!iniLookup(content, section, key, &value)) return std::string();
  std::size_t nul = value.find('\0');
  if (nul != std::string::npos) value.resize(nul);
  if (bufferSize > 0 && value.size() > bufferSize - 1) value.resize(bufferSize - 1);
  return value;
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
    if (!readWholeFile(kFileName, &content)) return false;
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
