// Placeholder until the printer list lands.
#include "setup/choose.h"

void listPrinters(std::uint32_t&) {}
std::string choosePrinter() { return std::string(); }
