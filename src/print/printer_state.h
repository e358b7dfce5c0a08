// The process's one printer state: what the printing layer keeps between
// calls for the attachment in progress. Private to print/: other rooms reach
// the printer through printer.h and canvas.h only.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "device/device.h"
#include "print/overlay.h"

struct PrinterFont {
  char faceName[32];      // at most 31 characters
  float pointSize;        // 0 is taken as 8
  LogFont logicalFont;
  FontHandle deviceFont;  // made the first time the font is selected
};

struct PrinterState {
  DeviceContext deviceContext;
  std::vector<unsigned char> deviceMode;  // the printer's settings, read at attach
  bool pageOpen;
  PrinterFont* currentFont;
  FontHandle initialFont;
  std::int32_t cellHeight;
  std::int32_t externalLeading;
  std::int32_t penX;
  std::int32_t penY;
  std::vector<PrinterFont*> fonts;        // every font made during this attachment
  std::int32_t pageHeight;                // printable height in dots, read at attach; 0 when unknown
  int codePage;                           // of the document's text; 0: bytes drawn as they are
  OverlayChoice overlay;                  // the document's form, held until its device context is gone
  std::uint32_t textAlign;                // set on the device: TA_UPDATECP for lines, TA_BASELINE for the canvas
  // The jobs this run's documents got (printer, job number), newest last, a
  // few hundred at most; kept across attachments. A spooler gives a number
  // out again once its job is gone: a job of one of these numbers is this
  // run's, not that of a hand-over an earlier run left.
  std::vector<std::pair<std::string, std::uint32_t>> startedJobs;
};

// The process's one printer state.
extern PrinterState printerState;
