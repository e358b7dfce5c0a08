// Spool files as the watcher tests write them.
#pragma once

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#endif

#include <fstream>
#include <string>

// Dates the file long ago, so that it is taken at once where leases are
// unavailable (a file unchanged for a second counts as finished there).
// Windows takes a file by its exclusive open, whatever its age: nothing to do.
inline void dateLongAgo(const std::string& path) {
#ifndef _WIN32
  struct timespec times[2] = {{0, UTIME_OMIT}, {1000000000, 0}};
  utimensat(AT_FDCWD, path.c_str(), times, 0);
#else
  (void)path;
#endif
}

// Writes the whole file and dates it long ago.
inline void writeFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
  out.close();
  dateLongAgo(path);
}
