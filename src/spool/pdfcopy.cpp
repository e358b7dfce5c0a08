#include "spool/pdfcopy.h"

#include "config/slots.h"
#include "files/errors.h"
#include "files/spoolfile.h"
#include "print/printer.h"
#include "spool/printout.h"

namespace {

// Draws the open file into a PDF at pdfPath, the printer held. 0 or the
// error code.
int drawPdfCopy(const PrinterSlot& slot, const std::string& pdfPath) {
  // The options of a hand-over to "Save as PDF" (spool/watcher.cpp), but the
  // file is the caller's, with no more than its owner's rights.
  JobOptions options;
  options.codePage = slotCodePage(slot);
  options.fileMode = 0600;
  if (slot.options.controls == kControlsEscPos) options.receiptPaperMm = slot.options.paperwidth;
  clearError();
  attachPdfFile(pdfPath, options);
  if (lastError() != 0) return lastError();
  setSpoolReading(slotReading(slot));
  PrintLayout layout = slotLayout(slot);
  layout.echo = false;
  selectFont(layout.fontname, layout.fontsize);
  int readError = printSpoolLines(layout, nullptr);
  if (readError != 0) {
    abandonDocument();
    return readError;
  }
  clearError();
  detachPrinter();
  return lastError();
}

}  // namespace

bool layOutPdfCopy(int slotNumber, const std::string& printoutPath, const std::string& pdfPath) {
  if (slotNumber < 0 || slotNumber >= kSlotCount) {
    setError(kErrorBadName);
    return false;
  }
  PrinterSlot slot = slotSnapshot(slotNumber);
  clearError();
  openSpoolFile(printoutPath);
  int code = lastError();
  if (code == 0) {
    // One document at a time in the whole process: the printer state is one.
    LockGuard printing(PrinterLock);
    code = drawPdfCopy(slot, pdfPath);
  }
  closeSpoolFile();
  clearError();
  if (code != 0) setError(code);
  return code == 0;
}
