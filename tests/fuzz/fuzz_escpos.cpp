// Receipts from arbitrary bytes, on both paper widths: the layout stays
// within its bounds (operations, image bytes), every image holds exactly its
// rows and lies on the paper, everything on a receipt lies above the receipt's
// end, text runs hold only printable bytes that were in the input, and the
// list ends with a page end whenever it holds anything. libFuzzer hands over
// a heap block of exactly the input's bytes, so AddressSanitizer reports any
// read past them.
#include <cstddef>
#include <cstdint>

#include "fuzz/check.h"
#include "print/escpos.h"

namespace {

const long long kUnboundedFeed = 1LL << 30;  // past this the layout stops adding feeds

void checkReceipt(const std::uint8_t* data, std::size_t size, int paperWidthMm) {
  ReceiptSettings settings;
  settings.paperWidthMm = paperWidthMm;
  const int paper = paperWidthMm == 58 ? kReceiptWidth58 : kReceiptWidth80;
  const Receipt receipt = parseReceipt(data, size, settings);
  FUZZ_CHECK(receipt.ops.size() <= kMaxReceiptOps + 1, "%zu operations", receipt.ops.size());
  FUZZ_CHECK(receipt.ops.empty() || receipt.ops.back().kind == kReceiptPageEnd, "the last page has no end");

  std::size_t imageBytes = 0;
  std::size_t textBytes = 0;
  std::size_t pageStart = 0;
  for (std::size_t i = 0; i < receipt.ops.size(); ++i) {
    const ReceiptOp& op = receipt.ops[i];
    if (op.kind == kReceiptPageEnd) {
      FUZZ_CHECK(i > pageStart, "an empty page at operation %zu", i);
      for (std::size_t j = pageStart; j < i; ++j) {
        const ReceiptOp& placed = receipt.ops[j];
        FUZZ_CHECK(placed.y >= 0 && (static_cast<long long>(placed.y) + placed.height <= op.height ||
                                     op.height >= kUnboundedFeed),
                   "operation %zu at y %d, height %d, below the page end at %d", j, placed.y, placed.height,
                   op.height);
      }
      pageStart = i + 1;
      continue;
    }
    FUZZ_CHECK(op.width > 0 && op.height > 0, "operation %zu is %d x %d", i, op.width, op.height);
    FUZZ_CHECK(op.x >= 0 && op.x <= paper, "operation %zu at x %d", i, op.x);
    if (op.kind == kReceiptText) {
      FUZZ_CHECK(!op.text.empty() && op.widthScale >= 1 && op.widthScale <= 8 && op.heightScale >= 1 &&
                     op.heightScale <= 8,
                 "text run %zu: %zu bytes, scale %dx%d", i, op.text.size(), op.widthScale, op.heightScale);
      for (char c : op.text) FUZZ_CHECK(static_cast<unsigned char>(c) >= 0x20, "control byte in run %zu", i);
      textBytes += op.text.size();
    } else {
      FUZZ_CHECK(op.x + op.width <= paper, "image %zu from %d, %d wide, past the paper", i, op.x, op.width);
    }
    if (op.kind == kReceiptImage) {
      FUZZ_CHECK(op.bytesPerRow == (op.width + 7) / 8 &&
                     op.bits.size() == static_cast<std::size_t>(op.bytesPerRow) * static_cast<std::size_t>(op.height),
                 "image %zu: %zu bytes for %d x %d", i, op.bits.size(), op.width, op.height);
      imageBytes += op.bits.size();
    }
  }
  FUZZ_CHECK(pageStart == receipt.ops.size(), "operations after the last page end");
  FUZZ_CHECK(imageBytes <= kMaxReceiptImageBytes, "%zu image bytes", imageBytes);
  FUZZ_CHECK(textBytes <= size, "%zu bytes of text from %zu bytes", textBytes, size);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  checkReceipt(data, size, 80);
  checkReceipt(data, size, 58);
  return 0;
}
