// pdfcopy <slot> <printout> <pdf> [<printout printed meanwhile> [<its pdf>]]
//
// Lays the printout out as a PDF with the slot's settings from ferrin.ini in
// the working folder (layOutPdfCopy), on a thread of its own. With a fourth
// argument the main thread meanwhile prints that file on "Save as PDF" (or,
// with a fifth, into that PDF file: Windows has no "Save as PDF") as a
// watcher does, holding the printer for the whole printout and pausing
// between its lines, so that the copy is laid out while a printout is being
// printed. Prints "ok" or "error N" (the copy's error code, or the print's
// as "print error N") and exits 0 or 1.
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "config/slots.h"
#include "files/errors.h"
#include "files/spoolfile.h"
#include "platform/system.h"
#include "print/printer.h"
#include "spool/pdfcopy.h"
#include "spool/printout.h"

namespace {

std::string printoutPath;
std::string pdfPath;
std::atomic<int> copyResult(-1);
std::atomic<bool> copyStarted(false);

void layOutCopy(int slotNumber) {
  copyStarted = true;
  clearError();
  bool ok = layOutPdfCopy(slotNumber, printoutPath, pdfPath);
  copyResult = ok ? 0 : (lastError() != 0 ? lastError() : 1);
}

// Prints the file on "Save as PDF" line by line, the caller holding the
// printer; 0 or the first error code.
int printMeanwhile(const char* path, const char* pdf) {
  clearError();
  openSpoolFile(path);
  if (lastError() != 0) return lastError();
  if (pdf != nullptr) attachPdfFile(pdf);
  else attachPrinter(kSaveAsPdfName);
  int error = lastError();
  selectFont(kDefaultPrinterFont, 10);
  // The copy's thread is running, and asks for the printer meanwhile.
  for (int waited = 0; !copyStarted && waited < 5000; waited += 10) pause(10);
  for (int lines = 0; error == 0 && !atEndOfFile(); ++lines) {
    std::string line;
    while (!readLinePart(&line, 4096)) {
    }
    printLine(line);
    error = lastError();
    if (lines < 5) pause(40);
  }
  closeSpoolFile();
  clearError();
  detachPrinter();
  return error != 0 ? error : lastError();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4 || argc > 6) {
    std::fprintf(stderr, "usage: pdfcopy <slot> <printout> <pdf> [<printout printed meanwhile> [<its pdf>]]\n");
    return 2;
  }
  int slotNumber = std::atoi(argv[1]);
  printoutPath = argv[2];
  pdfPath = argv[3];
  loadSlot(slotNumber);
  int printError = 0;
  if (argc >= 5) {
    // The printer is taken first, so that the copy waits for it.
    LockGuard printing(PrinterLock);
    if (!startThread(layOutCopy, slotNumber)) return 1;
    printError = printMeanwhile(argv[4], argc == 6 ? argv[5] : nullptr);
  } else {
    layOutCopy(slotNumber);
  }
  while (copyResult < 0) pause(10);
  if (printError != 0) {
    std::printf("print error %d\n", printError);
    return 1;
  }
  if (copyResult != 0) {
    std::printf("error %d\n", copyResult.load());
    return 1;
  }
  std::printf("ok\n");
  return 0;
}
