// Raw printing latency: how long a receipt takes from the moment its bytes
// have been read to the moment its job is in the printer's spooler, through
// the watcher's own calls (readRawPrintout, printRawDocument); and what
// keeping each receipt in the journal (journal=DAYS) adds to it: its copy
// written and flushed to the disk, and its index line, in the folder
// "journal" of the working folder.
//
//   bench_raw <printer> <spool file> [times]
//
// Prints the median, 95th percentile and longest times in milliseconds.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "files/errors.h"
#include "files/spoolfile.h"
#include "print/rawprint.h"
#include "spool/journal.h"
#include "spool/printout.h"

namespace {

void printFigures(const char* what, std::vector<double> milliseconds, const char* target) {
  std::sort(milliseconds.begin(), milliseconds.end());
  std::size_t n = milliseconds.size();
  std::printf("%s over %zu receipts: median %.1f ms, 95th percentile %.1f ms, longest %.1f ms (target: %s)\n", what, n,
              milliseconds[n / 2], milliseconds[(n * 95 + 99) / 100 - 1], milliseconds[n - 1], target);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: bench_raw <printer> <spool file> [times]\n");
    return 2;
  }
  int times = argc > 3 ? std::atoi(argv[3]) : 20;
  if (times <= 0) times = 20;
  std::vector<double> milliseconds, journal, journalCopy;
  PrinterSlot slot = PrinterSlot();
  slot.options.journalDays = 30;
  for (int i = 0; i < times; ++i) {
    clearError();
    openSpoolFile(argv[2]);
    std::string bytes;
    if (lastError() != 0 || !readRawPrintout(&bytes)) {
      std::printf("cannot read %s (error %d)\n", argv[2], lastError());
      return 1;
    }
    auto kept = std::chrono::steady_clock::now();
    JournalEntry entry = keepInJournal(0, slot);
    auto copied = std::chrono::steady_clock::now();
    recordInJournal(entry, kJournalPrinted, -1);
    auto recorded = std::chrono::steady_clock::now();
    journalCopy.push_back(std::chrono::duration<double, std::milli>(copied - kept).count());
    journal.push_back(std::chrono::duration<double, std::milli>(recorded - kept).count());
    if (!entry.kept) {
      std::printf("the receipt could not be kept in the journal\n");
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
  printFigures("raw receipt into the spooler", milliseconds, "20 ms");
  printFigures("journal, before the hand-over: the copy", journalCopy, "none");
  printFigures("journal in all: copy, flush to the disk, index line", journal, "5 ms");
  return 0;
}
