// Listing the printers and choosing one by number.
#pragma once

#include <cstdint>
#include <string>

// Writes the numbered list of printers to standard output. Flags -1 stand
// for 0x46 (local, connections and network printers).
void listPrinters(std::uint32_t& enumFlags);

// Lists the local and connected printers, asks for a number and returns the
// chosen printer's name.
std::string choosePrinter();
