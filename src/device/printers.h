// The printers the platform offers, for setup to show. printers_win32.cpp asks
// the spooler; printers_posix.cpp lists the built-in "Save as PDF" and the CUPS
// queues. Setup reaches the backends only through this list.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct PrinterEntry {
  std::string name;
  std::string port;
};

// The printers for the given enumeration flags (PRINTER_ENUM_LOCAL 2,
// PRINTER_ENUM_CONNECTIONS 4, PRINTER_ENUM_NETWORK 0x40), in the platform's
// order. Empty when the platform cannot tell.
std::vector<PrinterEntry> enumeratePrinters(std::uint32_t flags);
