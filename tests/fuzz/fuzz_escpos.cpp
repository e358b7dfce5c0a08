// Receipts from arbitrary bytes, on both paper widths: the layout stays
// within its bounds (operations, image bytes), every image holds exactly its
// rows and lies on the paper, everything on a receipt lies above the receipt's
// end, text runs hold only printable bytes (at most four for each byte of
// input, for bar codes' text), the list
// ends with a page end whenever it holds anything, and a reader that feeds
// the bytes a few at a time (taking the operations after every call) gets
// the same receipt. libFuzzer hands over a heap block of exactly the input's
// bytes, and the pieces are heap blocks of exactly the bytes held, so
// AddressSanitizer reports any read past them.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "fuzz/check.h"
#include "lang/escpos.h"
#include "print/symbols.h"
#include "whole/whole.h"

namespace {

const long long kUnboundedFeed = 1LL << 30;  // past this the layout stops adding feeds

bool sameOp(const DrawOp& a, const DrawOp& b) {
  return a.kind == b.kind && a.x == b.x && a.y == b.y && a.width == b.width && a.height == b.height &&
         a.text == b.text && a.codePage == b.codePage && a.font == b.font && a.bold == b.bold &&
         a.underline == b.underline && a.widthScale == b.widthScale && a.heightScale == b.heightScale &&
         a.advance == b.advance && a.bits == b.bits;
}

std::vector<DrawOp> layOutInPieces(const std::uint8_t* data, std::size_t size, const ReceiptSettings& settings,
                                      std::size_t piece) {
  ReceiptState state;
  beginReceipt(state, settings);
  std::vector<DrawOp> all;
  std::vector<unsigned char> held;
  std::size_t read = 0;
  for (int calls = 0;; ++calls) {
    FUZZ_CHECK(calls <= 4 * static_cast<int>(size) + 4, "no progress after %d calls", calls);
    const std::size_t n = piece < size - read ? piece : size - read;
    held.insert(held.end(), data + read, data + read + n);
    read += n;
    const bool end = read == size;
    if (!end && held.size() < state.wanted) continue;
    FUZZ_CHECK(state.wanted <= kMaxHeldCommand, "wants %zu bytes", state.wanted);
    std::vector<unsigned char> exact(held);  // a block of exactly the bytes held
    const std::size_t used = layOutReceipt(state, exact.data(), exact.size(), end);
    FUZZ_CHECK(used <= exact.size(), "used %zu of %zu bytes", used, exact.size());
    for (DrawOp& op : takeReceiptOps(state)) all.push_back(std::move(op));
    held.erase(held.begin(), held.begin() + static_cast<std::ptrdiff_t>(used));
    if (end && held.empty()) break;
  }
  finishReceipt(state);
  for (DrawOp& op : takeReceiptOps(state)) all.push_back(std::move(op));
  return all;
}

void checkReceipt(const std::uint8_t* data, std::size_t size, int paperWidthMm) {
  ReceiptSettings settings;
  settings.encodeSymbol = encodeSymbol;
  settings.paperWidthMm = paperWidthMm;
  const int paper = paperWidthMm == 58 ? kReceiptWidth58 : kReceiptWidth80;
  const Receipt receipt = parseReceipt(data, size, settings);
  FUZZ_CHECK(receipt.ops.size() <= kMaxReceiptOps + 1, "%zu operations", receipt.ops.size());
  FUZZ_CHECK(receipt.ops.empty() || receipt.ops.back().kind == kDrawPageEnd, "the last page has no end");

  std::size_t imageBytes = 0;
  std::size_t textBytes = 0;
  std::size_t pageStart = 0;
  for (std::size_t i = 0; i < receipt.ops.size(); ++i) {
    const DrawOp& op = receipt.ops[i];
    if (op.kind == kDrawPageEnd) {
      FUZZ_CHECK(i > pageStart, "an empty page at operation %zu", i);
      for (std::size_t j = pageStart; j < i; ++j) {
        const DrawOp& placed = receipt.ops[j];
        FUZZ_CHECK(placed.y >= 0 && (static_cast<long long>(placed.y) + placed.height <= op.height ||
                                     op.height >= kUnboundedFeed),
                   "operation %zu at y %d, height %d, below the page end at %d", j, placed.y, placed.height,
                   op.height);
      }
      pageStart = i + 1;
      continue;
    }
    if (op.kind == kDrawScreenLine) {
      // The screen's copy of a line: text only, nothing on the paper.
      for (char c : op.text) FUZZ_CHECK(c != '\r' && c != '\n', "line break inside screen line %zu", i);
      continue;
    }
    FUZZ_CHECK(op.width > 0 && op.height > 0, "operation %zu is %d x %d", i, op.width, op.height);
    FUZZ_CHECK(op.x >= 0 && op.x <= paper, "operation %zu at x %d", i, op.x);
    if (op.kind == kDrawText) {
      FUZZ_CHECK(!op.text.empty() && op.widthScale >= 1 && op.widthScale <= 8 && op.heightScale >= 1 &&
                     op.heightScale <= 8,
                 "text run %zu: %zu bytes, scale %dx%d", i, op.text.size(), op.widthScale, op.heightScale);
      for (char c : op.text) FUZZ_CHECK(static_cast<unsigned char>(c) >= 0x20, "control byte in run %zu", i);
      textBytes += op.text.size();
    } else {
      FUZZ_CHECK(op.x + op.width <= paper, "image %zu from %d, %d wide, past the paper", i, op.x, op.width);
    }
    if (op.kind == kDrawImage) {
      // Each row of bits may stand for several rows of dots (a code's modules).
      FUZZ_CHECK(op.rowRepeat >= 1 && op.height % op.rowRepeat == 0 && op.bytesPerRow == (op.width + 7) / 8 &&
                     op.bits.size() == static_cast<std::size_t>(op.bytesPerRow) *
                                           static_cast<std::size_t>(op.height / op.rowRepeat),
                 "image %zu: %zu bytes for %d x %d, rows of %d", i, op.bits.size(), op.width, op.height,
                 op.rowRepeat);
      imageBytes += op.bits.size();
    }
  }
  FUZZ_CHECK(pageStart == receipt.ops.size(), "operations after the last page end");
  FUZZ_CHECK(imageBytes <= kMaxReceiptImageBytes, "%zu image bytes", imageBytes);
  // A bar code's text may print above and below it, and holds two digits for
  // each byte of CODE128's code set C: at most four characters a byte.
  FUZZ_CHECK(textBytes <= 4 * size, "%zu bytes of text from %zu bytes", textBytes, size);

  if (receipt.limited) return;  // a full batch ends a whole parse, not a reader's
  const std::size_t piece = size > 0 ? 1 + data[size - 1] % 13u : 1;
  const std::vector<DrawOp> pieces = layOutInPieces(data, size, settings, piece);
  FUZZ_CHECK(pieces.size() == receipt.ops.size(), "%zu operations in pieces of %zu, %zu at once", pieces.size(),
             piece, receipt.ops.size());
  for (std::size_t i = 0; i < pieces.size(); ++i)
    FUZZ_CHECK(sameOp(pieces[i], receipt.ops[i]), "operation %zu differs in pieces of %zu", i, piece);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  checkReceipt(data, size, 80);
  checkReceipt(data, size, 58);
  return 0;
}
