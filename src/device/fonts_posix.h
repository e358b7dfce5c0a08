// Printer fonts on POSIX: a face name matched through fontconfig, sized and
// measured the way the Windows font mapper does it, so that text lines up
// and lines are spaced as on a Windows printer.
#pragma once

#include <cairo.h>

#include <string>

#include "device/device.h"

struct FontFile;

// One font file at one size: shared by every font object asking for it and
// kept for the life of the process, so that a font made for every page of
// a long document costs only a few bytes.
struct SizedFont {
  cairo_font_face_t* face;
  FontFile* file;            // what it was made from
  std::string family;        // the family fontconfig chose
  int em;                    // character height in dots
  double scaleX;             // glyph width against the natural one (lfWidth)
  int underlineOffset;       // top of the underline, dots below the baseline
  int underlineThickness;    // dots, at least 1
  TextMetrics metrics;
  unsigned long glyph[256];  // glyph index of each code page 437 byte
  int advance[256];          // advance width of each byte in dots
};

struct DeviceFontObject {
  LogFont logical;
  const SizedFont* sized;  // nullptr: the font could not be made
  bool stock;              // a device context's initial font: never deleted
};

// Makes a font for the device's resolution (dots per inch). False when no
// font file could be loaded.
bool makeDeviceFont(const LogFont& logical, int dotsPerInch, DeviceFontObject* font);

// The glyph index and advance width in dots of one UTF-16 unit in the font:
// what glyph[] and advance[] give for a code page 437 byte, for wide text.
// NUL is a blank, as in the byte tables; a character the font lacks (a lone
// surrogate included) gets its missing-glyph box.
void wideGlyph(const SizedFont* font, char16_t character, unsigned long* glyph, int* advance);
