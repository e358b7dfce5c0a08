// Receipts in ESC/POS, the language of receipt printers: the bytes a DOS
// point-of-sale program sent to its printer, turned into what that printer
// would have put on the paper, as a list of operations in printer dots. The
// list draws nothing itself: the printing layer places its text runs and
// bitmaps on whatever printer the slot names.
//
// Coordinates are dots of a 203 dpi receipt printer, measured from the top
// left corner of the printable area of the receipt they belong to: 576 dots
// (48 columns of Font A) on 80 mm paper, 384 dots (32 columns) on 58 mm. A
// paper cut ends a receipt; the next one starts again at y = 0.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

const int kReceiptDpi = 203;
const int kReceiptWidth80 = 576;  // printable dots on 80 mm paper
const int kReceiptWidth58 = 384;  // printable dots on 58 mm paper

// Character cells in dots, before scaling.
const int kFontAWidth = 12;
const int kFontAHeight = 24;
const int kFontBWidth = 9;
const int kFontBHeight = 17;

// Bounds that no data can push past. Past kMaxReceiptOps nothing more is
// laid out; an image that would take the image bytes past kMaxReceiptImageBytes
// is dropped (its place on the paper stays); graphics stored for later
// printing (GS ( L) hold at most kMaxStoredGraphicsBytes.
const std::size_t kMaxReceiptOps = 500000;
const std::size_t kMaxReceiptImageBytes = std::size_t(32) << 20;
const std::size_t kMaxStoredGraphicsBytes = std::size_t(4) << 20;

enum ReceiptOpKind {
  kReceiptText,     // a run of characters in one style
  kReceiptImage,    // a 1-bit bitmap at 203 dpi (logos, bit images, QR codes)
  kReceiptTextBox,  // a QR code's text in a frame, where no QR encoder was built in
  kReceiptPageEnd   // the paper cut: the receipt ends here
};

enum ReceiptFont { kReceiptFontA, kReceiptFontB };

struct ReceiptOp {
  ReceiptOpKind kind = kReceiptText;
  // Top left corner and extent in dots. A text run's box is its characters'
  // cells (advance times count, cell height times height scale). A page end
  // gives the receipt's length in `height` (x, y and width are 0).
  int x = 0;
  int y = 0;
  int width = 0;
  int height = 0;

  // Text runs: the bytes as sent, in the code page the printer had selected
  // (437, 850, 852, 858, 860, 863, 865, 866, 1252). Each character takes
  // `advance` dots: the cell width times widthScale, plus character spacing.
  // QR codes (image or text box) carry their data here too.
  std::string text;
  int codepage = 437;
  ReceiptFont font = kReceiptFontA;
  bool bold = false;
  int underline = 0;  // 0 none, else the line's thickness in dots (1 or 2)
  int widthScale = 1;   // 1-8
  int heightScale = 1;  // 1-8
  int advance = kFontAWidth;

  // Images: `height` rows of `bytesPerRow` bytes, top row first, leftmost dot
  // in the high bit, 1 = black. `width` dots of each row are used.
  int bytesPerRow = 0;
  std::vector<unsigned char> bits;
};

struct ReceiptSettings {
  int paperWidthMm = 80;  // 80, or 58 for narrow paper
};

struct Receipt {
  std::vector<ReceiptOp> ops;
  bool limited = false;  // a bound above was reached: something was left out
};

// Lays out the bytes as the receipt printer would. Every page with something
// on it ends with a kReceiptPageEnd, the last one too; pages with nothing
// on them (feeds only) are left out. Never reads outside [data, data + size).
Receipt parseReceipt(const unsigned char* data, std::size_t size, const ReceiptSettings& settings);
Receipt parseReceipt(const std::string& bytes, const ReceiptSettings& settings);

// True when the dot at (column, row) of an image op is black.
bool receiptDotAt(const ReceiptOp& image, int column, int row);
