#include "lang/ops.h"

#include <cstddef>

bool drawDotAt(const DrawOp& image, int column, int row) {
  if (image.kind != kDrawImage || column < 0 || row < 0 || column >= image.width || row >= image.height)
    return false;
  const std::size_t index = static_cast<std::size_t>(row) * static_cast<std::size_t>(image.bytesPerRow) +
                            static_cast<std::size_t>(column) / 8;
  return index < image.bits.size() && (image.bits[index] >> (7 - column % 8) & 1) != 0;
}
