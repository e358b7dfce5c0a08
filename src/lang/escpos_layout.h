// The receipt layout's own parts, shared by its two files: escpos.cpp lays
// out characters, lines, feeds and settings; escpos_images.cpp the bitmaps,
// which print in the line or on lines of their own; escpos_codes.cpp the bar
// codes and 2D codes, on lines of their own. star.cpp lays Star Line Mode
// out through the same parts.
#pragma once

#include <cstddef>
#include <cstdint>

#include "lang/escpos.h"

// The printer's characters fill their cell: their em is about 0.88 of the
// cell's height (Courier New's ascent and descent are 1.13 of its em).
const double kReceiptEmPerCell = 0.88;

// One command as the scanner measured it, cut to the bytes there are.
struct ReceiptCommand {
  std::uint32_t id = 0;
  const unsigned char* bytes = nullptr;
  std::size_t length = 0;  // bytes held, header and data
  std::size_t header = 0;  // where the data starts
  unsigned at(std::size_t i) const { return i < length ? bytes[i] : 0u; }
  unsigned word(std::size_t i) const { return at(i) | at(i + 1) << 8; }
  const unsigned char* data() const { return bytes + header; }
  std::size_t dataLength() const { return length - header; }
};

// A batch stops growing here; the caller takes it before more is laid out.
bool receiptBatchFull(const ReceiptState& state);

// The line buffer is printed if it holds anything (before whatever prints on
// its own lines).
void finishReceiptLine(ReceiptState& state);
// Adds an item (a character run or a bit image) at the print position.
void placeInReceiptLine(ReceiptState& state, DrawOp op);
// Prints a bitmap on its own lines, justified, and feeds
// `height` dots past it; an op that is not one (an image that was dropped)
// only feeds.
void printReceiptBlock(ReceiptState& state, DrawOp op, int height);

// Keeps a drawer pulse or a cut as the printout sent it.
void keepPrinterAction(ReceiptState& state, PrinterActionKind kind, const unsigned char* bytes, std::size_t size);

// Adds an operation as it is, placed on the receipt.
void emitReceiptOp(ReceiptState& state, DrawOp op);
// Where something `width` dots wide starts, as ESC a places it in the print
// area.
int justifiedOffset(const ReceiptState& state, int width);

// The image commands: ESC *, GS v 0, GS ( L and GS 8 L; the codes: GS ( k
// and GS k.
void layOutBitImage(ReceiptState& state, const ReceiptCommand& command);
void layOutRasterImage(ReceiptState& state, const ReceiptCommand& command);
void layOutGraphics(ReceiptState& state, const ReceiptCommand& command);
void layOutSymbol(ReceiptState& state, const ReceiptCommand& command);
void layOutBarCode(ReceiptState& state, const ReceiptCommand& command);

// Fills `op` with a width x height bitmap, row by row: `fillRow(row, out)`
// sets the black dots of a row of white bytes. Within what is left of the
// image bytes only; false when the image has no area or would pass the
// bound (then nothing is allocated).
template <typename FillRow>
bool fillReceiptImage(ReceiptState& state, DrawOp& op, int width, int height, FillRow fillRow) {
  if (width <= 0 || height <= 0) return false;
  const std::size_t bytesPerRow = (static_cast<std::size_t>(width) + 7) / 8;
  const std::size_t bytes = bytesPerRow * static_cast<std::size_t>(height);
  if (bytes > kMaxReceiptImageBytes - state.imageBytes) {
    state.out.limited = true;
    return false;
  }
  state.imageBytes += bytes;
  op.kind = kDrawImage;
  op.width = width;
  op.height = height;
  op.bytesPerRow = static_cast<int>(bytesPerRow);
  op.bits.assign(bytes, 0);
  for (int row = 0; row < height; ++row) fillRow(row, op.bits.data() + bytesPerRow * static_cast<std::size_t>(row));
  return true;
}

// Sets the dots of one row that `dotAt(column)` says are black.
template <typename DotAt>
void setReceiptDots(unsigned char* out, int width, DotAt dotAt) {
  for (int column = 0; column < width; ++column)
    if (dotAt(column)) out[column / 8] = static_cast<unsigned char>(out[column / 8] | 0x80 >> (column % 8));
}

