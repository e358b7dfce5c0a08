// The printing layer: one print job per attachment, lines drawn top-down at
// the left edge of the printable area, pages begun lazily.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "print/device.h"

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
};

// The process's one printer state.
extern PrinterState printerState;

void attachPrinter(const std::string& printerName);
void selectFont(const std::string& faceName, std::int16_t pointSize);
void printLine(const std::string& text);
void formFeed();
void detachPrinter();
