// Spool files as the watcher tests write them.
#pragma once

#include <fcntl.h>
#include <sys/stat.h>

#include <fstream>
#include <string>

// Writes the whole file and dates it long ago, so that it is taken at once
// where leases are unavailable (a file unchanged for a second counts as
// finished there).
inline void writeFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
  out.close();
  struct timespec times[2] = {{0, UTIME_OMIT}, {1000000000, 0}};
  utimensat(AT_FDCWD, path.c_str(), times, 0);
}
