#include "lang/ops.h"

#include <cstddef>

namespace {

std::size_t columnIndex(int height, int column, int row) {
  return static_cast<std::size_t>(column) * ((static_cast<std::size_t>(height) + 7) / 8) +
         static_cast<std::size_t>(row) / 8;
}

}  // namespace

bool columnDotAt(const unsigned char* data, std::size_t size, int height, int column, int row) {
  const std::size_t index = columnIndex(height, column, row);
  return index < size && (data[index] >> (7 - row % 8) & 1) != 0;
}

void orColumnDots(unsigned char* bits, std::size_t stride, int width, int height, const unsigned char* data,
                  std::size_t size) {
  for (int x = 0; x < width; ++x) {
    for (int y = 0; y < height; ++y) {
      // The data is column after column: once it ends, no later dot has any.
      if (columnIndex(height, x, y) >= size) return;
      if (!columnDotAt(data, size, height, x, y)) continue;
      unsigned char& out = bits[static_cast<std::size_t>(y) * stride + static_cast<std::size_t>(x) / 8];
      out = static_cast<unsigned char>(out | 0x80 >> (x % 8));
    }
  }
}
