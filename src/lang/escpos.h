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

#include "lang/codes.h"
#include "lang/ops.h"

const int kReceiptDpi = 203;
const int kReceiptWidth80 = 576;  // printable dots on 80 mm paper
const int kReceiptWidth58 = 384;  // printable dots on 58 mm paper

// Character cells in dots, before scaling.
const int kFontAWidth = 12;
const int kFontAHeight = 24;
const int kFontBWidth = 9;
const int kFontBHeight = 17;

// Bounds that no data can push past. A batch of operations (everything
// laid out between two takeReceiptOps) stops
// growing once it holds kMaxReceiptOps operations or half of
// kMaxReceiptImageBytes in images; an image that would take it past
// kMaxReceiptImageBytes is dropped (its place on the paper stays). Graphics
// stored for later printing (GS ( L) hold at most kMaxStoredGraphicsBytes.
// A reader holds at most kMaxHeldCommand bytes of one command; the data of a
// longer one is cut there and the rest skipped unseen.
const std::size_t kMaxReceiptOps = 500000;
const std::size_t kMaxReceiptImageBytes = std::size_t(32) << 20;
const std::size_t kMaxStoredGraphicsBytes = std::size_t(4) << 20;
const std::size_t kMaxHeldCommand = std::size_t(8) << 20;

struct ReceiptSettings {
  int paperWidthMm = 80;  // 80, or 58 for narrow paper
  int codePage = 437;     // the code page of the printer's first table (ESC t 0)
  // Draws bar codes and 2D codes; without one they print nothing.
  SymbolEncoder encodeSymbol = nullptr;
};

// A batch of the layout: its operations, and whether a bound was reached.
struct Receipt {
  std::vector<DrawOp> ops;
  bool limited = false;  // a bound above was reached: something was left out
};

// How a receipt's operations sit on paper: dots of a 203 dpi receipt
// printer, one long strip from cut to cut.
DrawPaper receiptPaper();

// --- Laying out a receipt piece by piece -----------------------------------
// For a reader of a file of any size, which holds a bounded buffer:
//   ReceiptState state;
//   beginReceipt(state, settings);
//   loop: used = layOutReceipt(state, held, count, endOfFile);
//         draw and drop takeReceiptOps(state); keep held[used..count) and
//         read more after it, at least until state.wanted bytes are held
//         (when it is 0, the batch was full: call again at once)
//   finishReceipt(state); draw takeReceiptOps(state).
// Operations come out in the order the printer prints them, page by page.

enum ReceiptJustification { kJustifyLeft, kJustifyCentre, kJustifyRight };

struct ReceiptStyle {
  DrawFont font = kDrawFontA;
  bool emphasized = false;    // ESC E
  bool doubleStrike = false;  // ESC G, printed as bold too
  int underline = 0;
  int widthScale = 1;
  int heightScale = 1;
  int spacing = 0;  // dots to the right of each character, before scaling
  int codePage = 437;
};

// The printer as the bytes have set it up, and the receipt so far.
struct ReceiptState {
  int paperWidth = kReceiptWidth80;
  int defaultCodePage = 437;  // what ESC @ and ESC t 0 go back to
  int leftMargin = 0;
  int areaWidth = kReceiptWidth80;
  ReceiptStyle style;
  ReceiptJustification justification = kJustifyLeft;
  int lineSpacing = 0;
  std::vector<int> tabStops;  // dots from the start of the line
  bool customTabs = false;    // else every 8 Font A cells

  // The line buffer: what waits for the next line feed, placed from the
  // start of the line; the line's height is its tallest item.
  std::vector<DrawOp> line;
  int lineX = 0;
  int lineHeight = 0;

  int y = 0;              // of the next line on this receipt
  bool pageUsed = false;  // something is on this receipt

  // Graphics stored by GS ( L function 112 or 113 for function 50 to print.
  int storedWidth = 0;
  int storedHeight = 0;
  int storedScaleX = 1;
  int storedScaleY = 1;
  std::vector<unsigned char> stored;  // raster rows of (storedWidth + 7) / 8 bytes

  // Bar codes: GS w module width, GS h height in dots, GS H where the text
  // goes (0 none, 1 above, 2 below, 3 both), GS f its font.
  int barModule = 3;
  int barHeight = 162;
  int barText = 0;
  DrawFont barFont = kDrawFontA;

  // QR codes (GS ( k cn 49): the stored data and how it prints.
  std::string qrData;
  bool qrStored = false;
  int qrModule = 3;
  int qrLevel = 0;
  // The symbol of the stored data, encoded once however often it is printed.
  bool qrEncoded = false;
  bool qrEncodable = false;
  SymbolModules qrSymbol;

  // PDF417 (GS ( k cn 48).
  std::string pdfData;
  bool pdfStored = false;
  int pdfColumns = 0;
  int pdfRows = 0;
  int pdfModule = 3;
  int pdfRowHeight = 3;   // times the module width
  int pdfLevel = -1;      // 0-8, or -1: chosen by the data's size
  bool pdfTruncated = false;

  SymbolEncoder encodeSymbol = nullptr;
  // Codes of the whole printout left out: data the printer refuses, and
  // codes wider than the paper. Kept across batches, for the console.
  unsigned codesRefused = 0;
  unsigned codesTooWide = 0;
  // The drawer pulses and cuts sent, in order (at most kMaxPrinterActions).
  std::vector<PrinterAction> actions;

  Receipt out;                 // the batch not yet taken
  std::size_t imageBytes = 0;  // in the batch and the line buffer
  std::uint64_t skip = 0;      // data of a command too long to hold, still to pass
  std::size_t wanted = 0;      // after a short layOutReceipt: bytes the next call must hold
};

void beginReceipt(ReceiptState& state, const ReceiptSettings& settings);

// Lays out the whole characters and commands among the `size` bytes and
// returns how many bytes that used. It stops short where a command (or a CR
// that may be followed by LF) goes on past the bytes and `endOfData` is
// false, setting `wanted` to the bytes the next call must hold from there;
// or where the batch is full (`wanted` 0). A command longer than
// kMaxHeldCommand is obeyed with the bytes held, and its remaining data is
// passed over in the calls after.
std::size_t layOutReceipt(ReceiptState& state, const unsigned char* data, std::size_t size, bool endOfData);

// The end of the data: a line not yet fed is printed, and the receipt ends.
void finishReceipt(ReceiptState& state);

// The operations laid out so far, taken out of the state; the next batch
// starts empty.
std::vector<DrawOp> takeReceiptOps(ReceiptState& state);
