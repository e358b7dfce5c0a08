// Raw printing latency: how long a receipt takes from the moment its bytes
// have been read to the moment its job is in the printer's spooler, through
// the watcher's own calls (readRawPrintout, printRawDocument).
//
//   bench_raw <printer> <spool file> [times]
//
// Prints the median, 95th percentile and longest time in milliseconds.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "files/errors.h"
#include "files/spoolfile.h"
#include "print/rawprint.h"
#include "spool/printout.h"

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: bench_raw <printer> <spool file> [times]\n");
    return 2;
  }
  int times = argc > 3 ? std::atoi(argv[3]) : 20;
  if (times <= 0) times = 20;
  std::vector<double> milliseconds;
  for (int i = 0; i < times; ++i) {
    clearError();
    openSpoolFile(argv[2]);
    std::string bytes;
    if (lastError() != 0 || !readRawPrintout(&bytes)) {
      std::printf("cannot read %s (error %d)\n", argv[2], lastError());
      return 1;
    }
    closeSpoolFile();
    auto start = std::chrono::steady_clock::now();
    printRawDocument(argv[1], bytes);
    auto end = std::chrono::steady_clock::now();
    if (lastError() != 0) {
      std::printf("the raw job failed (error %d)\n", lastError());
      return 1;
    }
    milliseconds.push_back(std::chrono::duration<double, std::milli>(end - start).count());
  }
  std::sort(milliseconds.begin(), milliseconds.end());
  std::size_t n = milliseconds.size();
  std::printf("raw receipt into the spooler over %zu jobs: median %.1f ms, 95th percentile %.1f ms, longest %.1f ms"
              " (target: 20 ms)\n",
              n, milliseconds[n / 2], milliseconds[(n * 95 + 99) / 100 - 1], milliseconds[n - 1]);
  return 0;
}
