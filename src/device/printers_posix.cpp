// The printers on POSIX: the built-in "Save as PDF" first, then the queues
// of the CUPS scheduler in its own order, each with its device URI as the
// port. A scheduler that is down or does not answer in time leaves only
// "Save as PDF".
#include "device/printers.h"

#include "device/cups_posix.h"
#include "device/savepdf_posix.h"

std::vector<PrinterEntry> enumeratePrinters(std::uint32_t) {
  std::vector<PrinterEntry> printers;
  PrinterEntry pdf;
  pdf.name = SAVE_AS_PDF_PRINTER;
  pdf.port = std::string(SAVE_AS_PDF_FOLDER) + "/";
  printers.push_back(pdf);
  std::vector<CupsQueue> queues;
  if (listCupsQueues(&queues)) {
    for (const CupsQueue& queue : queues) {
      PrinterEntry entry;
      entry.name = queue.name;
      entry.port = queue.deviceUri;
      printers.push_back(entry);
    }
  }
  return printers;
}
