// Raw printing latency: how long a receipt takes from the moment its bytes
// have been read to the moment its job is in the printer's spooler, through
// the watcher's own calls (readRawPrintout, printRawDocument); and what
// keeping each receipt in the journal (journal=DAYS) adds to it: its copy
// written and flushed to the disk, and its index line, in the folder
// "journal" of the working folder; and what accounting for it adds: its
// hand-over record written before the hand-over, the printout moved into the
// folder "sent" after it, the scheduler asked until it reports the job
// finished, and the printout and its record removed.
//
//   bench_raw <printer> <spool file> [times]
//
// Prints the median, 95th percentile and longest times in milliseconds.
#include <algorithm>
#include <chrono>
#include <ctime>
#include <filesystem>
#include <thread>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "files/errors.h"
#include "files/fs.h"
#include "print/printer.h"
#include "files/spoolfile.h"
#include "print/rawprint.h"
#include "spool/handover.h"
#include "spool/journal.h"
#include "spool/printout.h"

namespace {

double since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

void printFigures(const char* what, std::vector<double> milliseconds, const char* target,
                  const char* counted = "receipts") {
  std::sort(milliseconds.begin(), milliseconds.end());
  std::size_t n = milliseconds.size();
  std::printf("%s over %zu %s: median %.1f ms, 95th percentile %.1f ms, longest %.1f ms (target: %s)\n", what, n,
              counted, milliseconds[n / 2], milliseconds[(n * 95 + 99) / 100 - 1], milliseconds[n - 1], target);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: bench_raw <printer> <spool file> [times]\n");
    return 2;
  }
  int times = argc > 3 ? std::atoi(argv[3]) : 20;
  if (times <= 0) times = 20;
  std::vector<double> milliseconds, journal, journalCopy, record, sent, ask, settle, accounting;
  std::vector<double> confirmed;
  PrinterSlot slot = PrinterSlot();
  slot.options.journalDays = 30;
  // The printout is handled under a spool name of its own in the working
  // folder, as the watcher handles one, so that it can be moved into "sent".
  const std::string spoolName = "BENCH.DRY";
  for (int i = 0; i < times; ++i) {
    std::filesystem::copy_file(argv[2], spoolName, std::filesystem::copy_options::overwrite_existing);
    clearError();
    openSpoolFile(spoolName);
    std::string bytes;
    if (lastError() != 0 || !readRawPrintout(&bytes)) {
      std::printf("cannot read %s (error %d)\n", argv[2], lastError());
      return 1;
    }
    HandOver h;
    h.identity = newHandOverIdentity();
    h.printer = argv[1];
    h.file = spoolFileStamp();
    h.content = contentDigest(bytes.substr(0, kDigestBytes));
    h.began = static_cast<std::int64_t>(std::time(nullptr));
    auto recording = std::chrono::steady_clock::now();
    if (recordHandOver(h) != 0) {
      std::printf("the hand-over could not be recorded\n");
      return 1;
    }
    record.push_back(since(recording));
    auto copying = std::chrono::steady_clock::now();
    JournalEntry entry = keepInJournal(0, slot);
    journalCopy.push_back(since(copying));
    if (!entry.kept) {
      std::printf("the receipt could not be kept in the journal\n");
      return 1;
    }

    auto start = std::chrono::steady_clock::now();
    nameNextDocument(h.identity);
    printRawDocument(argv[1], bytes);
    milliseconds.push_back(since(start));
    if (lastError() != 0) {
      std::printf("the raw job failed (error %d)\n", lastError());
      return 1;
    }

    auto indexing = std::chrono::steady_clock::now();
    recordInJournal(entry, kJournalPrinted, -1);
    journal.push_back(journalCopy.back() + since(indexing));
    auto moving = std::chrono::steady_clock::now();
    fsCreateFolder(kSentFolder);
    moveSpoolFile(sentPath(spoolName, h.identity));
    sent.push_back(since(moving));
    if (lastError() != 0) {
      std::printf("the receipt could not be moved into the folder sent (error %d)\n", lastError());
      return 1;
    }
    // The watcher asks on its cycle; here the asking is repeated until the
    // scheduler has finished the job, and each request is timed.
    auto asking = std::chrono::steady_clock::now();
    Delivery found;
    for (int tries = 0;; ++tries) {
      auto one = std::chrono::steady_clock::now();
      found = findDelivered(h.printer, h.identity, h.began, h.job);
      ask.push_back(since(one));
      if (found == kFinished || tries == 500) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    confirmed.push_back(since(asking));
    if (found != kFinished) {
      std::printf("the scheduler did not report the job finished\n");
      return 1;
    }
    auto settling = std::chrono::steady_clock::now();
    fsDeleteFile(sentPath(spoolName, h.identity));
    resolveHandOver(h);
    settle.push_back(since(settling));
    accounting.push_back(record.back() + journal.back() + sent.back() + ask.back() + settle.back());
  }
  printFigures("raw receipt into the spooler", milliseconds, "20 ms");
  printFigures("journal, before the hand-over: the copy", journalCopy, "none");
  printFigures("journal in all: copy, flush to the disk, index line", journal, "none");
  printFigures("hand-over record, before the hand-over", record, "none");
  printFigures("move into the folder sent, after the hand-over", sent, "none");
  printFigures("one request to the scheduler about the job", ask, "none", "requests");
  printFigures("time until the scheduler reported the job finished", confirmed, "none");
  printFigures("printout and record removed once confirmed", settle, "none");
  printFigures("confirmation and journal in all (record, journal, move, the request that confirmed, removal)",
               accounting, "5 ms");
  return 0;
}
