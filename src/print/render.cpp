#include "print/render.h"

#include <algorithm>
#include <cmath>

namespace {

void measurePage(RenderState& state);

const double kNaturalAdvance = 0.6;  // Courier New's advance, in em

// --- Places on the device ----------------------------------------------------

// Forms: rounded to the nearest dot, the carriage squeezed to the page.
int formX(const RenderState& s, long units) {
  return static_cast<int>(std::lround(static_cast<double>(units) * s.dotsPerUnitX)) + s.originX;
}
int formY(const RenderState& s, long units) {
  return static_cast<int>(std::lround(static_cast<double>(units) * s.dotsPerUnitY)) + s.originY;
}

// Receipts: whole dots from the roll's units, y from the top of the page.
int rollX(const RenderState& s, int x) {
  return static_cast<int>(static_cast<long long>(x) * s.page.dpiX / s.paper.unitsPerInch);
}
int rollSpan(const RenderState& s, int units) {
  return static_cast<int>(static_cast<long long>(units) * s.page.dpiY / s.paper.unitsPerInch);
}
int rollY(const RenderState& s, int y) { return rollSpan(s, y - s.top); }

// Roll units from y that still fit on the device page.
int rowsLeft(const RenderState& s, int y) {
  return static_cast<int>(static_cast<long long>(s.page.height - rollY(s, y)) * s.paper.unitsPerInch / s.page.dpiY);
}

// --- Text ----------------------------------------------------------------------

CanvasStyle styleOf(const RenderState& s, const DrawOp& op) {
  CanvasStyle style;
  if (!s.face.empty()) style.face = s.face;
  if (!op.face.empty()) style.face = op.face;
  style.pointSize = static_cast<float>(op.em * 72.0 / s.paper.unitsPerInch);
  style.widthScale = static_cast<float>(op.glyphWidth / (op.em * kNaturalAdvance) * s.squeeze);
  style.bold = op.bold;
  style.italic = op.italic;
  style.underline = op.underline > 0;
  style.codePage = op.codePage;
  return style;
}

// A run hanging from the top of its cell: the font's ascent below y.
void drawFormText(RenderState& s, const DrawOp& op) {
  const CanvasStyle style = styleOf(s, op);
  if (s.ascentSize != style.pointSize) {
    // Measured once for the size: every run of it hangs the same way.
    CanvasStyle plain;
    plain.face = style.face;
    plain.pointSize = style.pointSize;
    CanvasMetrics metrics;
    const long emDots = static_cast<long>(s.page.dpiY) * static_cast<long>(op.em) / s.paper.unitsPerInch;
    s.ascent = canvasMeasure(plain, &metrics) ? metrics.ascent : static_cast<int>(emDots * 4 / 5);
    s.ascentSize = style.pointSize;
  }
  const int baseline = op.anchor == kAnchorBaseline ? formY(s, op.y) : formY(s, op.y) + s.ascent;
  canvasText(formX(s, op.x), baseline, style, op.text,
             static_cast<int>(std::lround(static_cast<double>(op.advance) * s.dotsPerUnitX)));
}

// Text with the bottom of its cells on `bottom`.
void drawRollText(const RenderState& s, int x, int bottom, const CanvasStyle& style, const std::string& text,
                  int advance) {
  CanvasMetrics metrics;
  if (!canvasMeasure(style, &metrics)) return;
  const int step = std::max(
      1, static_cast<int>(std::lround(static_cast<double>(advance) * s.page.dpiX / s.paper.unitsPerInch)));
  canvasText(rollX(s, x), rollY(s, bottom) - metrics.descent, style, text, step);
}

// --- Bitmaps -------------------------------------------------------------------

void drawFormImage(const RenderState& s, const DrawOp& op) {
  CanvasBitmap bitmap;
  bitmap.width = op.width;
  bitmap.height = op.height;
  bitmap.dpiX = static_cast<int>(std::lround(op.dpiX / s.squeeze));
  bitmap.dpiY = op.dpiY;
  bitmap.stride = op.bytesPerRow;
  bitmap.bits = op.bits.data();
  canvasBitmap(formX(s, op.x), formY(s, op.y), bitmap);
}

// A bitmap from roll row y down, in strips where it runs past a page; each
// row of bits is `repeat` rows tall, and a strip ends between such rows (a
// row taller than a page is drawn at the top of one, cut at its end).
void drawRollBits(RenderState& s, int x, int y, int width, int height, int stride, const unsigned char* bits,
                  int repeat) {
  repeat = std::max(1, repeat);
  int row = 0;
  while (row < height) {
    int fit = rowsLeft(s, y + row) / repeat * repeat;
    if (fit <= 0 && s.top == y + row) fit = repeat;
    if (fit <= 0) {
      canvasPageBreak();
      s.top = y + row;
      continue;
    }
    CanvasBitmap bitmap;
    bitmap.width = width;
    bitmap.height = std::max(1, std::min(height - row, fit) / repeat);
    bitmap.rowScale = repeat;
    bitmap.dpiX = s.paper.unitsPerInch;
    bitmap.dpiY = s.paper.unitsPerInch;
    bitmap.stride = stride;
    bitmap.bits = bits + static_cast<std::size_t>(row / repeat) * static_cast<std::size_t>(stride);
    canvasBitmap(rollX(s, x), rollY(s, y + row), bitmap);
    row += bitmap.height * repeat;
  }
}

// --- Operations ------------------------------------------------------------------

void endPage(RenderState& s, const DrawOp& op) {
  if (op.kind == kDrawPageEnd && s.echo != nullptr) s.echo(std::string(), true);
  if (s.drawing && op.blank) canvasBlankPage();
  else if (s.drawing) canvasPageBreak();
  s.top = 0;
}

// Laser printers' page setup: the pages from here on turned, and the
// printable area measured again.
void setUpPages(RenderState& s, const DrawOp& op) {
  if (!s.drawing) return;
  canvasPageBreak();
  if (canvasOrientation(op.landscape)) measurePage(s);
}

void renderForms(RenderState& s, const std::vector<DrawOp>& ops) {
  for (const DrawOp& op : ops) {
    switch (op.kind) {
      case kDrawScreenLine:
        if (s.echo != nullptr) s.echo(op.text, false);
        break;
      case kDrawPageEnd: case kDrawPageBreak: endPage(s, op); break;
      case kDrawText: if (s.drawing) drawFormText(s, op); break;
      case kDrawImage: if (s.drawing) drawFormImage(s, op); break;
      case kDrawPageSetup: setUpPages(s, op); break;
    }
  }
}

void renderRoll(RenderState& s, const std::vector<DrawOp>& ops) {
  for (std::size_t i = 0; i < ops.size(); ++i) {
    const DrawOp& op = ops[i];
    if (op.kind == kDrawScreenLine) {
      if (s.echo != nullptr) s.echo(op.text, false);
      continue;
    }
    if (op.kind == kDrawPageEnd || op.kind == kDrawPageBreak) {
      endPage(s, op);
      continue;
    }
    if (!s.drawing) continue;
    // A line that does not fit below goes to the next page whole: its top
    // is that of its tallest item, all of which end at its bottom.
    const int bottom = op.y + op.height;
    int lineTop = op.y;
    for (std::size_t j = i + 1; j < ops.size() && ops[j].kind != kDrawPageEnd; ++j) {
      if (ops[j].y + ops[j].height != bottom) break;
      lineTop = std::min(lineTop, ops[j].y);
    }
    if (lineTop > s.top && rollY(s, bottom) > s.page.height && rollSpan(s, bottom - lineTop) <= s.page.height) {
      canvasPageBreak();
      s.top = lineTop;
    }
    switch (op.kind) {
      case kDrawText: drawRollText(s, op.x, bottom, styleOf(s, op), op.text, op.advance); break;
      case kDrawImage:
        drawRollBits(s, op.x, op.y, op.width, op.height, op.bytesPerRow, op.bits.data(), op.rowRepeat);
        break;
      default: break;
    }
  }
}

}  // namespace

void beginRender(RenderState& state, const DrawPaper& paper, const std::string& face, ScreenEcho echo) {
  state = RenderState();
  state.paper = paper;
  state.face = face;
  state.echo = echo;
  measurePage(state);
}

void renderOps(RenderState& state, const std::vector<DrawOp>& ops) {
  if (state.paper.roll) renderRoll(state, ops);
  else renderForms(state, ops);
}

namespace {

void measurePage(RenderState& state) {
  const DrawPaper& paper = state.paper;
  CanvasPage& page = state.page;
  state.drawing = paper.unitsPerInch > 0 && canvasPage(&page) && page.dpiX > 0 && page.dpiY > 0 &&
                  page.width > 0 && page.height > 0;
  if (!state.drawing) return;
  state.squeeze = 1;
  state.dotsPerUnitX = static_cast<double>(page.dpiX) / paper.unitsPerInch;
  state.dotsPerUnitY = static_cast<double>(page.dpiY) / paper.unitsPerInch;
  const double carriageDots = static_cast<double>(paper.carriageWidth) * state.dotsPerUnitX;
  if (!paper.roll && carriageDots > page.width) {
    state.squeeze = page.width / carriageDots;
    state.dotsPerUnitX *= state.squeeze;
  }
  state.pageUnits = static_cast<long>(static_cast<double>(page.height) / state.dotsPerUnitY);
  if (state.pageUnits < 1) state.pageUnits = 1;
  state.originX = state.originY = 0;
  int offsetX = 0, offsetY = 0;
  if (paper.paperInset >= 0 && canvasPaperOffset(&offsetX, &offsetY)) {
    state.originX = static_cast<int>(std::lround(paper.paperInset * state.dotsPerUnitX)) - offsetX;
    state.originY = static_cast<int>(std::lround(paper.paperInset * state.dotsPerUnitY)) - offsetY;
  }
}

}  // namespace
