// spoolwriter <file> <milliseconds> <line>...
//
// Writes a spool file the slow way a DOS program may: opens it, writes its
// lines (each with CR LF, each handed to the system at once), keeps the file
// open for the given time between one line and the next, and closes it after
// the last. Used by the end-to-end tests to check that a file still open in
// its writer is not taken; under Wine the open is a Windows open, which is
// what ferrin's exclusive open has to respect there.
#include <cstdio>
#include <cstdlib>

#include "platform/system.h"

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
  unsigned milliseconds = static_cast<unsigned>(std::strtoul(argv[2], nullptr, 10));
  for (int i = 3; i < argc; ++i) {
    if (i > 3) pause(milliseconds);
    std::fprintf(file, "%s\r\n", argv[i]);
    std::fflush(file);
  }
  return std::fclose(file) == 0 ? 0 : 1;
}
