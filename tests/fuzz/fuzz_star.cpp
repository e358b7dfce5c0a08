// Star Line Mode receipts from arbitrary bytes, on both paper widths: the
// layout stays within its bounds (operations, image bytes), everything lies
// on the paper and above its receipt's end, text runs hold only printable
// bytes and scales the printer has, the list ends with a page end whenever
// it holds anything, the drawer pulses and cuts kept stay few and each is
// one of the printer's commands, and a reader that feeds the bytes a few at
// a time gets the same receipt and the same pulses. The pieces are heap
// blocks of exactly the bytes held, so AddressSanitizer reports any read
// past them.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "fuzz/check.h"
#include "lang/star.h"
#include "print/symbols.h"
#include "whole/whole.h"

namespace {

const long long kUnboundedFeed = 1LL << 30;

bool sameOp(const DrawOp& a, const DrawOp& b) {
  return a.kind == b.kind && a.x == b.x && a.y == b.y && a.width == b.width && a.height == b.height &&
         a.text == b.text && a.codePage == b.codePage && a.font == b.font && a.bold == b.bold &&
         a.underline == b.underline && a.widthScale == b.widthScale && a.heightScale == b.heightScale &&
         a.bits == b.bits;
}

std::vector<DrawOp> layOutInPieces(const std::uint8_t* data, std::size_t size, const ReceiptSettings& settings,
                                   std::size_t piece, std::vector<PrinterAction>* actions) {
  StarState state;
  beginStar(state, settings);
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
    std::vector<unsigned char> exact(held);
    const std::size_t used = layOutStar(state, exact.data(), exact.size(), end);
    FUZZ_CHECK(used <= exact.size(), "used %zu of %zu bytes", used, exact.size());
    for (DrawOp& op : takeReceiptOps(state.receipt)) all.push_back(std::move(op));
    held.erase(held.begin(), held.begin() + static_cast<std::ptrdiff_t>(used));
    if (end && held.empty()) break;
  }
  finishStar(state);
  for (DrawOp& op : takeReceiptOps(state.receipt)) all.push_back(std::move(op));
  *actions = state.receipt.actions;
  return all;
}

void checkOp(const DrawOp& op, std::size_t i, int paper) {
  FUZZ_CHECK(op.width > 0 && op.height > 0, "operation %zu is %d x %d", i, op.width, op.height);
  FUZZ_CHECK(op.x >= 0 && op.x <= paper, "operation %zu at x %d", i, op.x);
  if (op.kind == kDrawText) {
    FUZZ_CHECK(!op.text.empty() && op.widthScale >= 1 && op.widthScale <= 6 && op.heightScale >= 1 &&
                   op.heightScale <= 6,
               "text run %zu: %zu bytes, scale %dx%d", i, op.text.size(), op.widthScale, op.heightScale);
    for (char c : op.text) FUZZ_CHECK(static_cast<unsigned char>(c) >= 0x20, "control byte in run %zu", i);
    return;
  }
  FUZZ_CHECK(op.x + op.width <= paper, "image %zu from %d, %d wide, past the paper", i, op.x, op.width);
  FUZZ_CHECK(op.rowRepeat >= 1 && op.height % op.rowRepeat == 0 && op.bytesPerRow == (op.width + 7) / 8 &&
                 op.bits.size() ==
                     static_cast<std::size_t>(op.bytesPerRow) * static_cast<std::size_t>(op.height / op.rowRepeat),
             "image %zu: %zu bytes for %d x %d", i, op.bits.size(), op.width, op.height);
}

void checkReceipt(const std::uint8_t* data, std::size_t size, int paperWidthMm) {
  ReceiptSettings settings;
  settings.encodeSymbol = encodeSymbol;
  settings.paperWidthMm = paperWidthMm;
  const int paper = paperWidthMm == 58 ? kReceiptWidth58 : kReceiptWidth80;
  std::vector<PrinterAction> actions;
  const Receipt receipt =
      parseStarReceipt(std::string(reinterpret_cast<const char*>(data), size), settings, &actions);
  FUZZ_CHECK(receipt.ops.size() <= kMaxReceiptOps + 2, "%zu operations", receipt.ops.size());
  FUZZ_CHECK(receipt.ops.empty() || receipt.ops.back().kind == kDrawPageEnd, "the last page has no end");
  FUZZ_CHECK(actions.size() <= kMaxPrinterActions, "%zu actions", actions.size());
  for (const PrinterAction& action : actions) {
    const std::string& b = action.bytes;
    const bool drawer = b == "\x07" || b == "\x1c" || b == "\x1a" || (b.size() == 5 && b[0] == 0x1B && b[1] == 0x07 && b[4] == 0x07);
    const bool cut = b.size() == 3 && b[0] == 0x1B && b[1] == 'd';
    FUZZ_CHECK(action.kind == kActionDrawer ? drawer : cut, "a kept action of %zu bytes", b.size());
  }
  std::size_t imageBytes = 0, pageStart = 0;
  for (std::size_t i = 0; i < receipt.ops.size(); ++i) {
    const DrawOp& op = receipt.ops[i];
    if (op.kind == kDrawPageEnd) {
      for (std::size_t j = pageStart; j < i; ++j) {
        const DrawOp& placed = receipt.ops[j];
        FUZZ_CHECK(placed.y >= 0 && (static_cast<long long>(placed.y) + placed.height <= op.height ||
                                     op.height >= kUnboundedFeed),
                   "operation %zu below the page end at %d", j, op.height);
      }
      pageStart = i + 1;
      continue;
    }
    if (op.kind == kDrawScreenLine) continue;
    checkOp(op, i, paper);
    imageBytes += op.bits.size();
  }
  FUZZ_CHECK(imageBytes <= kMaxReceiptImageBytes, "%zu image bytes", imageBytes);

  if (receipt.limited) return;
  const std::size_t piece = size > 0 ? 1 + data[size - 1] % 13u : 1;
  std::vector<PrinterAction> pieceActions;
  const std::vector<DrawOp> pieces = layOutInPieces(data, size, settings, piece, &pieceActions);
  FUZZ_CHECK(pieces.size() == receipt.ops.size(), "%zu operations in pieces of %zu, %zu at once", pieces.size(),
             piece, receipt.ops.size());
  for (std::size_t i = 0; i < pieces.size(); ++i)
    FUZZ_CHECK(sameOp(pieces[i], receipt.ops[i]), "operation %zu differs in pieces of %zu", i, piece);
  FUZZ_CHECK(pieceActions.size() == actions.size(), "%zu actions in pieces, %zu at once", pieceActions.size(),
             actions.size());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  checkReceipt(data, size, 80);
  checkReceipt(data, size, 58);
  return 0;
}
