// Listing the printers and choosing one by number.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "device/printers.h"

// Writes the numbered list of printers to standard output. Flags -1 stand
// for 0x46 (local, connections and network printers).
void listPrinters(std::uint32_t& enumFlags);

// Lists the local and connected printers, asks for a number and returns the
// chosen printer's name. With no printer at all it says so and returns empty
// text, and found is set to false.
std::string choosePrinter(bool* found = nullptr);

// The list line of entry i (0-based), or empty text for an entry that is not
// shown (an empty name or port); its number is kept all the same.
std::string printerListLine(const std::vector<PrinterEntry>& printers, std::size_t i);

// The 0-based index an answer picks among `count` printers, or -1 when the
// answer names none.
long chosenPrinterIndex(const std::string& answer, std::size_t count);
