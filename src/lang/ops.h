// Drawing operations: what an interpreter of a printer language makes of a
// printout's bytes, the same for every language. They say what the printer
// would have put on paper, in the printout's own units (DrawPaper), and what
// of it the screen shows; the printing layer draws them on whatever printer
// the slot names.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

enum DrawOpKind {
  kDrawText,        // a run of characters in one style
  kDrawImage,       // a 1-bit bitmap (bit images, logos, bar codes and 2D codes)
  kDrawPageEnd,     // a form feed or a paper cut: the page ends here, as the screen says
  kDrawPageBreak,   // the form's length has run out: the printout goes on on a new page
  kDrawScreenLine,  // a line of the printout's text as the screen shows it
  // Page setup (laser printers): the pages from here on are landscape or
  // portrait (`landscape`).
  kDrawPageSetup
};

// Receipt printers' two fonts; a dot-matrix printout's runs are all Font A.
enum DrawFont { kDrawFontA, kDrawFontB };

// Where a text run's y is.
enum TextAnchor {
  kAnchorTop,    // the top of the characters' cell, the font's ascent below (a dot-matrix head)
  kAnchorBottom,  // the bottom of the cell box (x, y, width, height), the font's descent above it
  // Laser printers: y is the characters' baseline.
  kAnchorBaseline
};

struct DrawOp {
  DrawOpKind kind = kDrawText;
  // Top left corner and extent in units. A text run's box is its characters'
  // cells (advance times count, cell height). A receipt's page end gives the
  // receipt's length in `height`.
  int x = 0;
  int y = 0;
  int width = 0;
  int height = 0;

  // Text runs and screen lines: the bytes as sent, in the code page
  // `codePage` (0: the document's). 2D codes carry their data here too, bar
  // codes the line of text printed with them.
  std::string text;
  int codePage = 0;
  TextAnchor anchor = kAnchorBottom;
  bool bold = false;
  bool italic = false;
  int underline = 0;       // 0 none, else the line's thickness in printer dots
  int advance = 0;         // units from one character's left edge to the next
  double em = 0;           // the characters' height (their font size) in units
  int glyphWidth = 0;      // the width each glyph is drawn in, in units
  // As the printer names the style (the glyphs are drawn from em and
  // glyphWidth).
  DrawFont font = kDrawFontA;
  int widthScale = 1;      // 1-8
  int heightScale = 1;     // 1-8
  // Images: `height` rows of `bytesPerRow` bytes, top row first, leftmost
  // dot in the high bit, 1 = black; `width` dots of each row are used. Their
  // dots are dpiX by dpiY to the inch (0: one dot is one unit).
  int bytesPerRow = 0;
  // Each row of `bits` stands for this many rows of the image, which holds
  // height / rowRepeat rows of bits: a bar code's bars are one row drawn
  // tall.
  int rowRepeat = 1;
  int dpiX = 0;
  int dpiY = 0;
  std::vector<unsigned char> bits;

  // Laser printers' fonts and pages.
  std::string face;        // text runs: the typeface; empty: the slot's font
  bool landscape = false;  // page setup
  // Page ends: the page is ejected even with nothing drawn on it, as a
  // laser printer's form feed ejects a blank sheet. Otherwise a page with
  // nothing on it is no page.
  bool blank = false;
};

// What a receipt printer does besides putting something on paper: a pulse
// that opens a cash drawer, or a paper cut. A drawn printout keeps the
// commands as it sent them (in its own language, with its own pulse times),
// so that they can be sent on to the printer raw.
enum PrinterActionKind { kActionDrawer, kActionCut };

struct PrinterAction {
  PrinterActionKind kind = kActionDrawer;
  std::string bytes;  // the command as the printout sent it
};

// A printout keeps at most this many: a drawer opened more often is a fault.
const std::size_t kMaxPrinterActions = 16;

// How a printout's operations sit on paper.
struct DrawPaper {
  int unitsPerInch = 0;  // of every place and extent in the operations
  // The widest line the printer prints, in units: a page narrower than this
  // squeezes the lines to fit. 0: no such width (a receipt is narrower than
  // any page).
  long carriageWidth = 0;
  // Receipts: one long strip of paper from cut to cut, broken where a device
  // page is full. Otherwise each page of operations is a page of its own,
  // placed from the top of the printable area.
  bool roll = false;
  // Laser printers' pages: the operations' origin lies this many units in
  // from the paper's top left corner, across and down, wherever the printer's
  // printable area begins. -1: the origin is the printable area's corner.
  int paperInset = -1;
};

// Image data sent column by column, as both languages' bit images are: each
// column of `height` dots is (height + 7) / 8 bytes, its top dot in the high
// bit of the first. True when the dot at (column, row) is black; false past
// the `size` bytes of data.
bool columnDotAt(const unsigned char* data, std::size_t size, int height, int column, int row);
// Ors `width` columns of such data into a 1-bit bitmap of `stride` bytes a
// row, the leftmost dot in the high bit. Columns the data does not reach stay
// as they were.
void orColumnDots(unsigned char* bits, std::size_t stride, int width, int height, const unsigned char* data,
                  std::size_t size);
