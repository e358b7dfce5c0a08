// The canvas: drawing at positions on the pages of the attached printer,
// for printer languages that place their own text and images (the dot-matrix
// and receipt printer emulations). It sits beside printLine in the printing
// layer (print/printer.h) and shares its attachment, document and errors:
// attachPrinter first, detachPrinter or abandonDocument at the end.
//
// Coordinates are device dots with the origin at the top-left corner of the
// printable area, x to the right, y down; canvasPage tells the area's size
// and the device's resolution, so that inches and printer dots can be turned
// into device dots. Nothing is drawn outside the printable area.
//
// Pages begin lazily: the first drawing after attach or after
// canvasPageBreak begins a new page. A page break with nothing drawn since
// the last one makes no page. A page takes at most 200,000 characters and
// 16 MB of bitmap bits (a real page holds a small part of that): a drawing
// beyond goes on a new page, so that no printout can make one page hold
// unbounded memory on the device.
//
// Failures set the calling thread's error code like the rest of the printing
// layer: kPrinterDeviceError when no printer is attached or the device
// refuses to begin a page or to draw, kPrinterFontError when the style's
// font cannot be made or selected (print/printer.h). A call that fails
// draws nothing further; later calls try again.
//
// Text: the bytes are in the document's code page (JobOptions::codePage),
// converted and drawn as wide text (ExtTextOutW) with a fixed advance per
// character, so that characters lie on the caller's grid (10, 12 or 15
// characters per inch, say) whatever the font's own advance is. A bold,
// italic or underlined style selects such a font (weight 700, lfItalic,
// lfUnderline); the width scale narrows or widens the glyphs (lfWidth).
// Fonts are made once per style and attachment and kept until the detach.
//
// Bitmaps: one bit per pixel, drawn at their own resolution (StretchDIBits
// of a 1-bit DIB on Windows, an image in the PDF on POSIX), so a 60 x 72 dpi
// bit image covers the same area of paper as on the printer it was made for.
// Set bits are black, clear ones leave the page as it is.
//
// Example, a bold word at one inch from the top and the left edge, 10 cpi:
//   CanvasPage page;
//   if (!canvasPage(&page)) return;
//   CanvasStyle style;
//   style.bold = true;
//   CanvasMetrics m;
//   canvasMeasure(style, &m);
//   canvasText(page.dpiX, page.dpiY + m.ascent, style, "TOTAL", page.dpiX / 10);
#pragma once

#include <cstdint>
#include <string>

// The printable area of the attached printer and its resolution.
struct CanvasPage {
  int width;   // dots
  int height;  // dots
  int dpiX;    // dots per inch across
  int dpiY;    // dots per inch down
};

struct CanvasStyle {
  std::string face = "Courier New";  // empty: Courier New
  // Character height in points (1/72 inch); 0 is taken as 12.
  float pointSize = 12.0f;
  // The glyphs' width against the font's natural width at pointSize: 2 for
  // double width, about 0.6 for condensed; 1 (or 0) is the natural width.
  // A double-height character is pointSize x 2 with widthScale 0.5.
  float widthScale = 1.0f;
  bool bold = false;
  bool italic = false;
  bool underline = false;
  // The code page of the text's bytes; 0: the document's (JobOptions).
  int codePage = 0;
};

// The vertical extent of a style's font, in dots.
struct CanvasMetrics {
  int ascent;   // from the baseline up to the top of the character cell
  int descent;  // from the baseline down to the bottom of the cell
  int height;   // ascent + descent
};

// A 1-bit image: `height` rows of `width` pixels, the top row first; each row
// takes `stride` bytes (at least (width + 7) / 8), the leftmost pixel in the
// high bit of its first byte; a set bit is ink.
struct CanvasBitmap {
  int width = 0;
  int height = 0;
  int dpiX = 0;   // its own resolution; 0: the device's
  int dpiY = 0;
  int stride = 0;
  const unsigned char* bits = nullptr;
  int rowScale = 1;  // each of the `height` rows is drawn this many of its dots tall
};

// The printable area and resolution; false (kPrinterDeviceError) when no
// printer is attached.
bool canvasPage(CanvasPage* page);

// Where the printable area begins on the paper: dots from the paper's top
// left corner (PHYSICALOFFSETX and Y). False when no printer is attached.
bool canvasPaperOffset(int* x, int* y);

// The style's font measured on the device (makes and keeps the font); false
// with nothing filled in when the font cannot be made (kPrinterFontError) or
// no printer is attached (kPrinterDeviceError).
bool canvasMeasure(const CanvasStyle& style, CanvasMetrics* metrics);

// Draws the text with its first character's left edge at x and its baseline
// at y, each further character `advance` dots to the right of the previous
// one (with an underline under the whole run when the style asks for it);
// an advance of 0 or less leaves each character at the font's own advance.
// Begins a page if none is open. Empty text draws nothing and begins no page.
void canvasText(int x, int y, const CanvasStyle& style, const std::string& text, int advance);

// Draws the bitmap with its top-left corner at (x, y), scaled from its own
// resolution to the device's. Begins a page if none is open. An empty bitmap
// (no width or height) draws nothing.
void canvasBitmap(int x, int y, const CanvasBitmap& bitmap);

// Ends the open page, if any: the next drawing begins a new one.
void canvasPageBreak();

// Ends the page, a blank one when none is open: a sheet the printer
// ejects with nothing on it.
void canvasBlankPage();

// Turns the pages from the next one on: landscape (the paper's long edge
// across) or portrait, as the printer's settings allow. canvasPage tells
// the new printable area at once. A printer that cannot turn its pages
// goes on printing them as they were: false, and no error, since the
// printout still prints whole.
bool canvasOrientation(bool landscape);
