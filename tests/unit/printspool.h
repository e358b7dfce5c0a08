// A printout printed the way a watcher prints it: its bytes written to a
// spool file in a fresh working folder and read to their end by the print
// loop (spool/printout.h) in a printer language, onto a printer of the
// recording fake device. For the tests of whole printouts, the interpreter,
// the renderer and the device together.
#pragma once

#include <fstream>
#include <string>

#include "config/slots.h"
#include "console/console.h"
#include "fake/device_fake.h"
#include "files/errors.h"
#include "files/spoolfile.h"
#include "print/printer.h"
#include "spool/printout.h"
#include "unit/tempdir.h"

struct SpoolPrinted {
  int openError = 0;   // of the printer's attachment and the spool file's opening
  int readError = 0;   // what printSpoolLines returned
  int printError = 0;  // the first error code of the printing layer
  PrintedCodes codes;
  std::string screen;  // the echo
};

// Prints the bytes in the language `controls` names on `printer` ("Receipt"
// or "Report"), the fake device reset first.
inline SpoolPrinted printThroughSpool(const std::string& bytes, ControlCodes controls, const std::string& printer) {
  SpoolPrinted printed;
  TempWorkDir dir;
  {
    std::ofstream out("PRINTOUT.TXT", std::ios::binary);
    out << bytes;
  }
  resetFakeDevice();
  clearError();
  attachPrinter(printer);
  openSpoolFile("PRINTOUT.TXT");
  printed.openError = lastError();
  PrintLayout layout;
  layout.fontname = kDefaultFontName;
  layout.fontsize = 10;
  layout.controls = controls;
  layout.codePage = 437;
  captureConsole(nullptr, &printed.screen);
  printed.readError = printSpoolLines(layout, &printed.printError, &printed.codes);
  captureConsole(nullptr, nullptr);
  closeSpoolFile();
  detachPrinter();
  return printed;
}
