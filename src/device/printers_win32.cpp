// The printer list on Windows: the spooler's level-5 records (name and port).
#include "device/printers.h"

#include <windows.h>
#include <winspool.h>

namespace {

// 256 records of 20 bytes: the spooler puts the records and the strings they
// point to into this one buffer.
const DWORD kFirstBufferSize = 5120;
// A spooler that keeps asking for more (printers being added while we ask)
// gets a few more tries, then the list is taken as empty.
const int kMaxAttempts = 4;

std::string fieldText(const char* text) { return text ? std::string(text) : std::string(); }

}  // namespace

std::vector<PrinterEntry> enumeratePrinters(std::uint32_t flags) {
  // Two names and three numbers: 20 bytes on 32-bit Windows; on 64-bit Windows
  // the pointers double and the record is padded to a multiple of 8.
  static_assert(sizeof(PRINTER_INFO_5A) == (sizeof(void*) == 4 ? 20 : 32), "PRINTER_INFO_5A of Windows");
  std::vector<PrinterEntry> printers;
  DWORD size = kFirstBufferSize;
  for (int attempt = 0; attempt < kMaxAttempts; ++attempt) {
    // Records of PRINTER_INFO_5A keep the buffer aligned for the records at
    // its start; the strings follow them.
    std::vector<PRINTER_INFO_5A> buffer((size + sizeof(PRINTER_INFO_5A) - 1) / sizeof(PRINTER_INFO_5A));
    DWORD needed = 0;
    DWORD returned = 0;
    BOOL ok = EnumPrintersA(flags, nullptr, 5, reinterpret_cast<BYTE*>(buffer.data()), size, &needed, &returned);
    if (!ok) {
      // Too small for an office with many printers: ask again with the size
      // the spooler says it needs instead of showing an empty list.
      if (GetLastError() == ERROR_INSUFFICIENT_BUFFER && needed > size) {
        size = needed;
        continue;
      }
      return printers;
    }
    if (returned > buffer.size()) returned = static_cast<DWORD>(buffer.size());
    printers.reserve(returned);
    for (DWORD i = 0; i < returned; ++i) {
      PrinterEntry entry;
      entry.name = fieldText(buffer[i].pPrinterName);
      entry.port = fieldText(buffer[i].pPortName);
      printers.push_back(entry);
    }
    return printers;
  }
  return printers;
}
