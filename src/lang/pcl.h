// Laser printer printouts in PCL 5: the bytes a DOS program's LaserJet
// driver sent, turned into what such a printer would have put on its pages,
// as a list of operations (lang/ops.h) in 1/7200 inch. The list draws
// nothing itself.
//
// Every escape sequence is read by PCL's own grammar (ESC, a parameterized
// character, a group character, then values each closed by a parameter
// character: lower case goes on, upper case ends), so the end of any
// command is known, whether it is obeyed or not. Binary data that a command
// announces (fonts, characters, macros, patterns) is passed over by its
// declared length; HP-GL/2 (ESC %#B to ESC %#A), macro definitions and PJL
// (ESC %-12345X and its @PJL lines) are passed over whole. Nothing of them
// is printed.
//
// Obeyed: ESC E; page size, orientation (a landscape page is a landscape
// page: kDrawPageSetup), top margin, text length, left and right margins,
// lines per inch, VMI and HMI, perforation skip, line termination; CR, LF,
// FF, BS, HT, SI, SO, ESC =; cursor by rows and columns, decipoints and PCL
// units, absolute and relative, push and pop; fonts (spacing, pitch,
// height, style, weight, typeface) as primary and secondary font; symbol
// sets Roman-8 (the printer's default), PC-8, PC-8 Danish/Norwegian,
// PC-850, PC-852, ISO Latin 1, Windows Latin 1 and 2; underline; transparent
// print data; raster graphics with compression 0 to 3 and ESC *b#Y, drawn
// at their resolution; rectangles, black, shaded or hatched.
//
// Pages end as a LaserJet ejects them: a form feed, and a line feed past
// the text length, eject the page even when nothing is on it (a blank
// sheet), except that a form feed on a page the line feed has just begun
// only finishes that feed (60 lines and FF are one page); a reset, the universal exit, a change of page size, orientation
// or duplex mode, and the end of the printout eject it only when something
// is drawn on it, so a printout ending in FF and ESC E ends with its last
// page. ESC &a#G, the side of the sheet, ejects the page when something is
// on it and, in duplex, blank sides until the side asked for is next.
//
// Accepted and ignored: copies (each page prints once), paper source,
// the binding edge and the other job controls, font selection by ID,
// colour.
//
// Bounds: a page holds at most 12 MB of images (more could only be drawn
// over what is there), a raster row at most 32,760 dots, a rectangle at most
// 17 inches each way, clipped to the page.
//
// Places: x from the left edge of the logical page, a quarter inch in from
// the paper's edge; y from a quarter inch below the paper's top (the paper's
// inset, pclPaper): the page lands on the paper as on a LaserJet, wherever
// the printer's printable area begins.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "lang/ops.h"

const int kPclUnitsPerInch = 7200;  // every PCL unit (dots at 75 to 600 dpi, decipoints) is a whole number of these
// A raster row or transparent data longer than this is passed over unseen.
const std::size_t kMaxPclData = 65535;

struct PclFont {
  bool proportional = false;
  long pitchHundredths = 1000;  // characters per inch x 100
  long heightQuarters = 48;     // point size x 4
  bool italic = false;
  bool bold = false;
  int typeface = 3;             // Courier
  int symbolSet = 277;          // 8U, Roman-8
};

struct PclRaster {
  bool active = false;
  int resolution = 75;
  int compression = 0;
  bool startAtCursor = false;
  long sourceWidth = 0;   // pixels; 0: as wide as the widest row
  long sourceHeight = 0;  // rows; 0: no limit
  long rows = 0;          // rows given since the start
  long x = 0;
  std::vector<unsigned char> seed;  // the last row, for delta rows
  DrawOp strip;                     // the rows not yet given out
};

// The printer as the bytes have set it up, and the operations not yet taken.
struct PclState {
  int pageSize = 2;  // Letter
  bool landscape = false;
  long pageWidth = 0;   // the logical page, units
  long pageLength = 0;  // the physical page's length, units
  long topMargin = 0;
  long textLength = 0;
  long leftMargin = 0;
  long rightMargin = 0;  // from the logical page's left edge
  long vmi = 0;
  long hmi = 0;
  bool perforationSkip = true;
  int lineTermination = 0;
  long unitsPerPclUnit = 24;  // ESC &u#D: 300 dots to the inch
  PclFont fonts[2];
  bool secondary = false;
  bool underline = false;
  bool marked = false;  // something is drawn on the page
  bool duplex = false;  // ESC &l1S or 2S: pages on both sides of the sheet
  int side = 0;         // duplex: 0 the front of the sheet, 1 its back
  bool fedOn = false;   // the page was begun by a line feed past the last one's text length
  long x = 0;
  long y = 0;  // the baseline
  bool homed = true;  // at the page's first line, not moved since
  std::vector<long> stack;
  PclRaster raster;
  long rectWidth = 0;
  long rectHeight = 0;
  int areaFill = 0;

  DrawOp run;
  std::string screenText;
  long screenY = 0;
  long screenX = 0;  // where the screen line's text ends on the page
  std::vector<DrawOp> out;
  std::size_t outBytes = 0;  // image bits among the operations not yet taken
  std::size_t pageImageBytes = 0;  // image bits on the page so far

  std::uint64_t skip = 0;         // announced data still to pass over
  std::uint64_t transparent = 0;  // transparent print data still to print
  int mode = 0;                   // 0 PCL, else passing over HP-GL/2, a macro or PJL
  bool lineStart = true;          // PJL: at the start of a line
  std::size_t wanted = 0;         // after a short interpretPcl: bytes the next call must hold
};

// How the operations sit on paper: 1/7200 inch from a quarter inch in from
// the paper's corner, pages as the operations break them.
DrawPaper pclPaper();

void beginPcl(PclState& state);

// Interprets the whole characters and commands among the `size` bytes and
// returns how many bytes that used. It stops short where a command goes on
// past the bytes and `endOfData` is false, setting `wanted` to the bytes the
// next call must hold from there; it also stops (wanted 0) once the
// operations not yet taken hold some megabytes of images, so that they can
// be drawn first. Never reads outside the bytes.
std::size_t interpretPcl(PclState& state, const unsigned char* data, std::size_t size, bool endOfData);

// The end of the data: the text and graphics gathered so far are given out.
void finishPcl(PclState& state);

// The operations so far, taken out of the state.
std::vector<DrawOp> takePclOps(PclState& state);
