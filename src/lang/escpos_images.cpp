#include <algorithm>

#include "lang/escpos_layout.h"

namespace {

// A raster bitmap printed on its own, scaled by whole dots; wider than the
// print area it is cut at the right.
void printRaster(ReceiptState& state, const unsigned char* data, std::size_t size, int sourceWidth,
                 int sourceHeight, int scaleX, int scaleY) {
  finishReceiptLine(state);
  const std::size_t rowBytes = (static_cast<std::size_t>(sourceWidth) + 7) / 8;
  const int width = std::min(sourceWidth * scaleX, state.areaWidth);
  const int height = sourceHeight * scaleY;
  DrawOp op;
  fillReceiptImage(state, op, width, height, [&](int row, unsigned char* out) {
    const std::size_t start = static_cast<std::size_t>(row / scaleY) * rowBytes;
    if (start >= size) return;  // rows the data never sent stay white
    const unsigned char* source = data + start;
    const std::size_t held = std::min(rowBytes, size - start);
    if (scaleX == 1) {
      // Whole bytes as they came; dots past the width are cleared.
      const std::size_t count = std::min(held, (static_cast<std::size_t>(width) + 7) / 8);
      std::copy(source, source + count, out);
      if (width % 8 != 0 && count == (static_cast<std::size_t>(width) + 7) / 8)
        out[count - 1] = static_cast<unsigned char>(out[count - 1] & (0xFF00 >> (width % 8)));
      return;
    }
    setReceiptDots(out, width, [&](int column) {
      const std::size_t x = static_cast<std::size_t>(column / scaleX);
      return x / 8 < held && (source[x / 8] >> (7 - x % 8) & 1) != 0;
    });
  });
  printReceiptBlock(state, std::move(op), height);
}

// GS ( L functions 112 and 113: a bx by c xL xH yL yH d..., raster rows or
// columns of dots (top dot in the high bit of each byte) stored for
// function 50 to print. The first colour replaces what was stored; further
// colours of the same size print over it.
void storeGraphics(ReceiptState& state, const unsigned char* p, std::size_t size, bool columns) {
  if (size < 10 || p[2] != 48) return;
  const int scaleX = p[3], scaleY = p[4];
  const unsigned colour = p[5];
  const int width = p[6] | p[7] << 8;
  const int height = p[8] | p[9] << 8;
  if (scaleX < 1 || scaleX > 2 || scaleY < 1 || scaleY > 2 || width == 0 || height == 0) return;
  if (colour < 49 || colour > 52) return;
  const std::size_t rowBytes = (static_cast<std::size_t>(width) + 7) / 8;
  if (rowBytes * static_cast<std::size_t>(height) > kMaxStoredGraphicsBytes) {
    state.out.limited = true;
    return;
  }
  const bool overlay = colour != 49 && width == state.storedWidth && height == state.storedHeight;
  if (!overlay) {
    state.stored.assign(rowBytes * static_cast<std::size_t>(height), 0);
    state.storedWidth = width;
    state.storedHeight = height;
  }
  state.storedScaleX = scaleX;
  state.storedScaleY = scaleY;
  const unsigned char* data = p + 10;
  const std::size_t count = size - 10;
  if (!columns) {
    const std::size_t n = std::min(count, state.stored.size());
    for (std::size_t i = 0; i < n; ++i) state.stored[i] = static_cast<unsigned char>(state.stored[i] | data[i]);
    return;
  }
  orColumnDots(state.stored.data(), rowBytes, width, height, data, count);
}

}  // namespace

// ESC * m nL nH: one line's worth of a bit image, column by column, each
// column 8 or 24 dots tall, top dot in the high bit. 8-dot images have a
// third of the printer's vertical density; single density doubles each dot
// across.
void layOutBitImage(ReceiptState& state, const ReceiptCommand& command) {
  const unsigned mode = command.at(2);
  if (mode != 0 && mode != 1 && mode != 32 && mode != 33) return;
  const int columns = static_cast<int>(command.word(3));
  const std::size_t columnBytes = mode >= 32 ? 3 : 1;
  const int scaleX = mode % 2 == 0 ? 2 : 1;
  const int scaleY = mode >= 32 ? 1 : 3;
  // Dots past the end of the line are dropped.
  const int width = std::min(columns * scaleX, state.areaWidth - state.lineX);
  const int height = static_cast<int>(columnBytes) * 8 * scaleY;
  const unsigned char* data = command.data();
  const std::size_t size = command.dataLength();
  DrawOp op;
  auto fillRow = [&](int row, unsigned char* out) {
    const int sourceRow = row / scaleY;
    setReceiptDots(out, width, [&](int column) {
      return columnDotAt(data, size, static_cast<int>(columnBytes) * 8, column / scaleX, sourceRow);
    });
  };
  if (width <= 0) return;
  if (fillReceiptImage(state, op, width, height, fillRow)) {
    placeInReceiptLine(state, std::move(op));
  } else {
    // Too big for what is left: the line keeps its place.
    state.lineX += width;
    state.lineHeight = std::max(state.lineHeight, height);
  }
}

// GS v 0 m xL xH yL yH: xL + xH * 256 bytes across, yL + yH * 256 rows; m
// doubles the width (bit 0) and the height (bit 1).
void layOutRasterImage(ReceiptState& state, const ReceiptCommand& command) {
  const unsigned mode = command.at(3);
  if (mode > 3 && (mode < 48 || mode > 51)) return;
  const int width = static_cast<int>(command.word(4)) * 8;
  const int height = static_cast<int>(command.word(6));
  printRaster(state, command.data(), command.dataLength(), width, height, mode & 1 ? 2 : 1, mode & 2 ? 2 : 1);
}

// GS ( L / GS 8 L: m fn [parameters]. Graphics in the printer's own memory
// (NV and downloaded graphics) are not here to print and are skipped.
void layOutGraphics(ReceiptState& state, const ReceiptCommand& command) {
  const unsigned char* p = command.data();
  const std::size_t size = command.dataLength();
  if (size < 2 || p[0] != 48) return;
  const unsigned function = p[1];
  if (function == 112 || function == 113) {
    storeGraphics(state, p, size, function == 113);
  } else if ((function == 2 || function == 50) && !state.stored.empty()) {
    printRaster(state, state.stored.data(), state.stored.size(), state.storedWidth, state.storedHeight,
                state.storedScaleX, state.storedScaleY);
    state.stored.clear();
    state.storedWidth = state.storedHeight = 0;
  }
}
