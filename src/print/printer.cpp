// Placeholder until the printing layer lands.
#include "print/printer.h"

PrinterState printerState;

void attachPrinter(const std::string&) {}
void selectFont(const std::string&, std::int16_t) {}
void printLine(const std::string&) {}
void formFeed() {}
void detachPrinter() {}
