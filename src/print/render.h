// Drawing operations (lang/ops.h) on the attached printer, whatever printer
// language they came from, with the canvas (print/canvas.h). They arrive a
// batch at a time, in the order the printer printed them.
//
// Pages of forms (DrawPaper::roll false) are placed from the top left
// corner of the printable area; a carriage wider than the page is squeezed
// to fit it. Receipts (roll) start at the top left corner of a page, at the
// receipt printer's size; one longer than the page goes on over the next,
// broken between lines (a bitmap taller than a page is drawn in strips).
// A page end (form feed or cut) ends the page and says so on the screen; a
// page break only ends the page.
//
// Drawing errors are left as the thread's error code, as printLine leaves
// them. With no printer attached nothing is drawn, and the screen is still
// given the printout's text.
#pragma once

#include <string>
#include <vector>

#include "lang/ops.h"
#include "print/canvas.h"

// Called for each text line of a printout, and with pageFeed set (and no
// text) where a form feed or a cut ends a page.
typedef void (*ScreenEcho)(const std::string& text, bool pageFeed);

struct RenderState {
  DrawPaper paper;
  std::string face;  // of text runs; empty: Courier New
  ScreenEcho echo = nullptr;
  bool drawing = false;  // a printer is attached and its page is known
  CanvasPage page = CanvasPage();
  double dotsPerUnitX = 0;
  double dotsPerUnitY = 0;
  double squeeze = 1;    // a carriage wider than the page, narrowed to it
  long pageUnits = 0;    // the printable height in the paper's units; 0 when not drawing
  int top = 0;           // receipts: the roll's y at the top of the device page
  // Laser printers' pages (DrawPaper::paperInset): the operations' origin,
  // in device dots from the printable area's corner.
  int originX = 0;
  int originY = 0;
  float ascentSize = 0;  // forms: the point size whose ascent is known
  int ascent = 0;
};

// Reads the attached printer's page for the paper.
void beginRender(RenderState& state, const DrawPaper& paper, const std::string& face, ScreenEcho echo);

// Draws a batch of operations.
void renderOps(RenderState& state, const std::vector<DrawOp>& ops);
