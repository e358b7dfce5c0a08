// Receipts drawn on the attached printer: the open spool file's ESC/POS
// bytes laid out by lang/escpos.h a batch at a time, from a bounded buffer,
// and drawn with the canvas (print/canvas.h). A receipt starts at the top
// left corner of a page, at the receipt printer's size (80 mm paper is
// 72 mm of print); one longer than the page goes on over the next, broken
// between lines (a bitmap taller than a page is drawn in strips). The cut
// ends the page.
//
// Text is drawn in the document's code page; the code page that ESC t chose
// for a run is not switched to within a document.
#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "files/errors.h"
#include "files/spoolfile.h"
#include "print/canvas.h"
#include "print/escpos_draw.h"

namespace {

const std::size_t kReadPiece = 64 * 1024;
// Courier New's cell (ascent and descent) is about 1.13 of its em: the em
// that fills a receipt printer's character cell.
const double kEmPerCell = 0.88;
const double kNaturalAdvance = 0.6;  // Courier New's advance, in em
const int kFrameDots = 2;            // a text box's frame, in printer dots

typedef void (*ReceiptEcho)(const std::string& text, bool pageFeed);

struct ReceiptDrawing {
  bool drawing = false;
  CanvasPage page = CanvasPage();
  int top = 0;  // the receipt's y at the top of the device page
  ReceiptEcho echo = nullptr;
  std::string echoText;  // the line being echoed
  int echoBottom = -1;   // its bottom on the receipt
  int echoEnd = 0;       // where its last run ends
};

int deviceX(const ReceiptDrawing& d, int x) {
  return static_cast<int>(static_cast<long long>(x) * d.page.dpiX / kReceiptDpi);
}

int deviceSpan(const ReceiptDrawing& d, int dots) {
  return static_cast<int>(static_cast<long long>(dots) * d.page.dpiY / kReceiptDpi);
}

int deviceY(const ReceiptDrawing& d, int y) { return deviceSpan(d, y - d.top); }

// Receipt rows from y that still fit on the device page.
int rowsLeft(const ReceiptDrawing& d, int y) {
  return static_cast<int>(static_cast<long long>(d.page.height - deviceY(d, y)) * kReceiptDpi / d.page.dpiY);
}

void flushEcho(ReceiptDrawing& d) {
  if (d.echoBottom >= 0 && d.echo != nullptr) d.echo(d.echoText, false);
  d.echoText.clear();
  d.echoBottom = -1;
}

// The runs of one printed line share its bottom: they make one echo line,
// a blank between runs that stand apart.
void echoRun(ReceiptDrawing& d, const ReceiptOp& op) {
  const int bottom = op.y + op.height;
  if (bottom != d.echoBottom) {
    flushEcho(d);
    d.echoBottom = bottom;
  } else if (op.x > d.echoEnd) {
    d.echoText += ' ';
  }
  d.echoText += op.text;
  d.echoEnd = op.x + op.width;
}

CanvasStyle styleOf(const ReceiptOp& op) {
  const int cellWidth = op.font == kReceiptFontA ? kFontAWidth : kFontBWidth;
  const int cellHeight = op.font == kReceiptFontA ? kFontAHeight : kFontBHeight;
  CanvasStyle style;
  const double em = cellHeight * op.heightScale * kEmPerCell;  // printer dots
  style.pointSize = static_cast<float>(em * 72.0 / kReceiptDpi);
  style.widthScale = static_cast<float>(cellWidth * op.widthScale / (em * kNaturalAdvance));
  style.bold = op.bold;
  style.underline = op.underline > 0;
  style.codePage = op.codepage;
  return style;
}

// Text with the bottom of its cells on the bottom of the op's box.
void drawText(const ReceiptDrawing& d, int x, int bottom, const CanvasStyle& style, const std::string& text,
              int advance) {
  CanvasMetrics metrics;
  if (!canvasMeasure(style, &metrics)) return;
  const int step = std::max(1, static_cast<int>(std::lround(static_cast<double>(advance) * d.page.dpiX / kReceiptDpi)));
  canvasText(deviceX(d, x), deviceY(d, bottom) - metrics.descent, style, text, step);
}

// A bitmap from receipt row y down, in strips where it runs past a page.
void drawBits(ReceiptDrawing& d, int x, int y, int width, int height, int stride, const unsigned char* bits) {
  int row = 0;
  while (row < height) {
    const int left = rowsLeft(d, y + row);
    if (left <= 0) {
      canvasPageBreak();
      d.top = y + row;
      continue;
    }
    CanvasBitmap bitmap;
    bitmap.width = width;
    bitmap.height = std::min(height - row, left);
    bitmap.dpiX = kReceiptDpi;
    bitmap.dpiY = kReceiptDpi;
    bitmap.stride = stride;
    bitmap.bits = bits + static_cast<std::size_t>(row) * static_cast<std::size_t>(stride);
    canvasBitmap(deviceX(d, x), deviceY(d, y + row), bitmap);
    row += bitmap.height;
  }
}

// A QR code's text where none can be drawn: a frame, the text inside in
// Font A lines.
void drawTextBox(ReceiptDrawing& d, const ReceiptOp& op) {
  const int stride = (op.width + 7) / 8;
  std::vector<unsigned char> frame(static_cast<std::size_t>(stride) * static_cast<std::size_t>(op.height), 0);
  for (int row = 0; row < op.height; ++row) {
    for (int column = 0; column < op.width; ++column) {
      const bool edge = row < kFrameDots || row >= op.height - kFrameDots || column < kFrameDots ||
                        column >= op.width - kFrameDots;
      const std::size_t at =
          static_cast<std::size_t>(row) * static_cast<std::size_t>(stride) + static_cast<std::size_t>(column / 8);
      if (edge) frame[at] = static_cast<unsigned char>(frame[at] | 0x80 >> (column % 8));
    }
  }
  drawBits(d, op.x, op.y, op.width, op.height, stride, frame.data());
  ReceiptOp cell;
  const CanvasStyle style = styleOf(cell);
  const std::size_t columns = static_cast<std::size_t>(std::max(1, op.width / kFontAWidth - 2));
  for (std::size_t at = 0, line = 1; at < op.text.size(); at += columns, ++line) {
    const int bottom = op.y + kFontAHeight / 2 + static_cast<int>(line) * kFontAHeight;
    if (bottom - d.top < 0) continue;  // the frame was broken over a page: its text goes on the last
    drawText(d, op.x + kFontAWidth, bottom, style, op.text.substr(at, columns), kFontAWidth);
  }
}

void drawOps(ReceiptDrawing& d, const std::vector<ReceiptOp>& ops) {
  for (std::size_t i = 0; i < ops.size(); ++i) {
    const ReceiptOp& op = ops[i];
    if (op.kind == kReceiptPageEnd) {
      flushEcho(d);
      if (d.echo != nullptr) d.echo(std::string(), true);
      if (d.drawing) canvasPageBreak();
      d.top = 0;
      continue;
    }
    if (op.kind == kReceiptText) echoRun(d, op);
    if (!d.drawing) continue;
    // A line that does not fit below goes to the next page whole: its top
    // is that of its tallest item, all of which end at its bottom.
    const int bottom = op.y + op.height;
    int lineTop = op.y;
    for (std::size_t j = i + 1; j < ops.size() && ops[j].kind != kReceiptPageEnd; ++j) {
      if (ops[j].y + ops[j].height != bottom) break;
      lineTop = std::min(lineTop, ops[j].y);
    }
    if (lineTop > d.top && deviceY(d, bottom) > d.page.height && deviceSpan(d, bottom - lineTop) <= d.page.height) {
      canvasPageBreak();
      d.top = lineTop;
    }
    switch (op.kind) {
      case kReceiptText: drawText(d, op.x, bottom, styleOf(op), op.text, op.advance); break;
      case kReceiptImage: drawBits(d, op.x, op.y, op.width, op.height, op.bytesPerRow, op.bits.data()); break;
      case kReceiptTextBox: drawTextBox(d, op); break;
      case kReceiptPageEnd: break;
    }
  }
}

}  // namespace

int printEscPosReceipts(const ReceiptSettings& settings, ReceiptEcho echo) {
  ReceiptDrawing d;
  d.echo = echo;
  d.drawing = canvasPage(&d.page) && d.page.dpiX > 0 && d.page.dpiY > 0 && d.page.width > 0 && d.page.height > 0;
  ReceiptState state;
  beginReceipt(state, settings);
  std::vector<unsigned char> held;
  bool atEnd = false;
  int readError = 0;
  for (;;) {
    // Read on when everything held was used, or the layout wants more; a
    // full batch is drawn and laid out on from the same bytes.
    if (!atEnd && (held.empty() || held.size() < state.wanted)) {
      const std::size_t want = std::max(kReadPiece, state.wanted - std::min(state.wanted, held.size()));
      const std::size_t start = held.size();
      held.resize(start + want);
      const int drawingError = lastError();
      clearError();
      const std::size_t got = readSpoolBytes(held.data() + start, want);
      if (lastError() != 0) readError = lastError();
      clearError();
      if (drawingError != 0) setError(drawingError);
      held.resize(start + got);
      if (got < want) atEnd = true;
      if (readError != 0) break;
    }
    const std::size_t used = layOutReceipt(state, held.data(), held.size(), atEnd);
    drawOps(d, takeReceiptOps(state));
    held.erase(held.begin(), held.begin() + static_cast<std::ptrdiff_t>(used));
    if (atEnd && held.empty()) break;
  }
  finishReceipt(state);
  drawOps(d, takeReceiptOps(state));
  flushEcho(d);
  return readError;
}
