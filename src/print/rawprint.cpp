#include "print/rawprint.h"

#include <cstdint>

#include "device/device.h"
#include "files/errors.h"
#include "print/printer.h"

namespace {

const char kRawDatatype[] = "RAW";
// WritePrinter takes a 32-bit count; pieces of this size keep a long
// printout's calls few without asking the spooler for huge writes.
const std::uint32_t kRawPiece = 1u << 20;

// Every byte through WritePrinter, however many each call takes. False when
// a call fails or takes nothing.
bool writeAll(PrinterHandle printer, const std::string& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    std::size_t left = bytes.size() - done;
    std::uint32_t piece = left < kRawPiece ? static_cast<std::uint32_t>(left) : kRawPiece;
    std::uint32_t written = 0;
    if (!deviceWritePrinter(printer, bytes.data() + done, piece, &written) || written == 0 || written > piece)
      return false;
    done += written;
  }
  return true;
}

// One raw job of the bytes, `copies` times over (fewer than one is one).
void sendRawJob(const std::string& printerName, const std::string& bytes, int copies) {
  if (printerName.size() > kMaxPrinterName || printerName.find('\0') != std::string::npos) {
    setError(kPrinterOpenError);
    return;
  }
  if (printerName.empty() || bytes.empty()) return;
  PrinterHandle printer = nullptr;
  if (!deviceOpenPrinter(printerName.c_str(), &printer)) {
    setError(kPrinterOpenError);
    return;
  }
  std::uint32_t job = deviceStartDocPrinter(printer, kPrintJobName, kRawDatatype);
  if (job == 0) {
    bool refused = deviceLastError() == kDeviceErrorInvalidDatatype;
    deviceClosePrinter(printer);
    setError(refused ? kPrinterRawRefused : kPrinterOpenError);
    return;
  }
  reportDocumentStarted(printerName, job);
  // A job cut short is deleted rather than ended: ending it would print part
  // of the printout, and the whole of it again when it is sent once more.
  bool sent = deviceStartPagePrinter(printer);
  // Fewer than one copy is one: the printout is never left out.
  for (int copy = 0; sent && copy < (copies > 1 ? copies : 1); ++copy) sent = writeAll(printer, bytes);
  sent = sent && deviceEndPagePrinter(printer);
  if (!sent) {
    deviceAbortPrinter(printer);
    setError(kPrinterDeviceError);
  } else if (!deviceEndDocPrinter(printer)) {
    setError(kPrinterDeviceError);
  }
  deviceClosePrinter(printer);
}

}  // namespace

void printRawDocument(const std::string& printerName, const std::string& bytes, int copies) {
  noteRawDocument();
  sendRawJob(printerName, bytes, copies);
}

void printRawFollowUp(const std::string& printerName, const std::string& bytes) {
  sendRawJob(printerName, bytes, 1);
}
