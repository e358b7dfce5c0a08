// Printer fonts on POSIX: a face name matched through fontconfig, sized and
// measured the way the Windows font mapper does it, so that text lines up
// and lines are spaced as on a Windows printer.
#pragma once

#include <cairo.h>

#include <string>

#include "print/device.h"

struct DeviceFontObject {
  LogFont logical;
  cairo_font_face_t* face;  // shared by every font of the same file; never freed
  std::string family;       // the family fontconfig chose
  int em;                   // character height in dots
  TextMetrics metrics;
  unsigned long glyph[256];  // glyph index of each code page 437 byte
  int advance[256];          // advance width of each byte in dots
  bool stock;                // a device context's initial font: never deleted
};

// Makes a font for the device's resolution (dots per inch). False when no
// font file could be loaded.
bool makeDeviceFont(const LogFont& logical, int dotsPerInch, DeviceFontObject* font);
