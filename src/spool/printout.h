// Printing the open spool file (files/spoolfile.h) on the attached printer
// (print/printer.h): the print loop of the watchers, and of the tools that
// print or measure a file the same way.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "config/slots.h"
#include "files/spoolfile.h"
#include "lang/ops.h"

// What the print loop needs of a slot, taken when its job begins.
struct PrintLayout {
  std::string fontname;
  std::int16_t fontsize = 0;
  FormFeedRule formfeed = kFormFeedLine;
  ControlCodes controls = kControlsPrint;  // escp, escpos, pcl: the printer language is drawn
  int paperWidthMm = 80;                   // escpos: the receipt paper
  int codePage = 0;                        // escpos: the code page of the printer's first table
  bool echo = true;                        // false: nothing of the printout is shown on the screen
};

// The printer language a slot's printouts are drawn in; with controls=auto,
// the one the open spool file's first bytes show (plain text: print).
ControlCodes slotControls(const PrinterSlot& slot);

// The code page a slot's text is drawn in: its own, or for the printer
// languages (whose character tables are DOS code pages) 437 when it has none.
int slotCodePage(const PrinterSlot& slot);

PrintLayout slotLayout(const PrinterSlot& slot);

// The first line of a printout's text that is not blank, its control codes
// left out, without leading blanks; other control characters become
// blanks. Empty when there is none.
std::string firstLineOfText(const std::string& bytes);
// The name "Save as PDF" gives the open spool file's PDF, for
// JobOptions::savedName: the slot's pdfname filled in with the time now, the
// slot's number and the printout's first line of text. Empty for the usual
// name (no pdfname, or another printer).
std::string savedPdfName(const PrinterSlot& slot, int slotNumber);
// How the slot's spool files are cut into lines; with dropped control codes
// the open file's first bytes tell which printer language they are in.
SpoolReading slotReading(const PrinterSlot& slot);

// The open spool file's bytes for sending raw: the whole file but a run of
// Ctrl-Z bytes at its very end (DOS end-of-file padding). False, with nothing
// read, when it is larger than kMaxRawBytes or cannot be read.
const std::uint64_t kMaxRawBytes = 64ull * 1024 * 1024;
bool readRawPrintout(std::string* bytes);
// Echoes a raw printout's text lines, its control codes left out.
void echoRawPrintout(const std::string& bytes);

// Reads the open spool file to its end. With controls naming a printer
// language (escp, escpos, pcl) the printout is interpreted in it and drawn
// on the attached printer (print/interpret.h), its text lines echoed without
// control codes. Otherwise each line is echoed on the screen and printed. With the form feed rule "line", a line loses its form feeds and,
// when it carried one, ends the page (unless the file ends there) and selects
// the font again; with "exact", pages break where the form feeds stand. At
// most 1 MiB of a line is kept; the rest is only echoed. Returns 0, or the
// error code of a read that failed. *printError, when given and 0, gets the
// first error code the printing layer set. *codes, when given, gets what
// became of the printout's bar codes and 2D codes, and its drawer pulses and
// cuts.
struct PrintedCodes {
  unsigned refused = 0;  // data the printer would refuse: nothing printed
  unsigned tooWide = 0;  // wider than the paper: nothing printed
  std::vector<PrinterAction> actions;  // a receipt's drawer pulses and cuts, in order
};
int printSpoolLines(const PrintLayout& layout, int* printError, PrintedCodes* codes = nullptr);
