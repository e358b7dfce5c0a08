// spoolwriter <file> <milliseconds> <line>...
//
// Writes a spool file the slow way a DOS program may: opens it, writes the
// first line (CR LF), keeps the file open for the given time, writes the
// other lines and closes it. Used by the end-to-end tests to check that a
// file still open in its writer is not taken; under Wine the open is a
// Windows open, which is what ferrin's exclusive open has to respect there.
#include <cstdio>
#include <cstdlib>

#include "console/system.h"

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: spoolwriter <file> <milliseconds> <line>...\n");
    return 2;
  }
  std::FILE* file = std::fopen(argv[1], "wb");
  if (file == nullptr) {
    std::fprintf(stderr, "cannot write %s\n", argv[1]);
    return 1;
  }
  std::fprintf(file, "%s\r\n", argv[3]);
  std::fflush(file);
  pause(static_cast<unsigned>(std::strtoul(argv[2], nullptr, 10)));
  for (int i = 4; i < argc; ++i) std::fprintf(file, "%s\r\n", argv[i]);
  return std::fclose(file) == 0 ? 0 : 1;
}
