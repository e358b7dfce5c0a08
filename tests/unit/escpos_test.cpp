// Receipts in ESC/POS laid out as the receipt printer would: a whole sample
// receipt checked operation by operation (positions in dots, styles, images
// and their dots, the page end at the cut), the layout rules of lines and
// feeds, and the bounds that hostile data meets; then receipts printed
// through the print loop onto the recording device: one longer than a page,
// and the text of bar codes on either side of the bars.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "lang/escpos.h"
#include "print/symbols.h"
#include "unit/pieces.h"
#include "unit/printspool.h"
#include "whole/whole.h"

namespace {

const int ESC = 0x1B, GS = 0x1D, LF = 0x0A, HT = 0x09, CR = 0x0D;

// The layout as the program runs it: QR codes drawn by the build's encoder.
ReceiptSettings receiptSettings() {
  ReceiptSettings settings;
  settings.encodeSymbol = encodeSymbol;
  return settings;
}

std::string bytes(std::initializer_list<int> values) {
  std::string s;
  for (int v : values) s += static_cast<char>(v);
  return s;
}

// One line for each operation, the way a reader would check a printout.
std::string describe(const DrawOp& op) {
  const std::string box = std::to_string(op.x) + " " + std::to_string(op.y) + " " + std::to_string(op.width) + " " +
                          std::to_string(op.height);
  switch (op.kind) {
    case kDrawText:
      return "text " + box + (op.font == kDrawFontA ? " A" : " B") + (op.bold ? " bold" : "") +
             (op.underline ? " underline" + std::to_string(op.underline) : "") + " " +
             std::to_string(op.widthScale) + "x" + std::to_string(op.heightScale) + " cp" +
             std::to_string(op.codePage) + " '" + op.text + "'";
    case kDrawImage: return "image " + box;
    case kDrawPageEnd: return "page " + std::to_string(op.height);
    default: break;
  }
  return "?";
}

// The operations that put something on paper: all but the screen's lines.
std::vector<DrawOp> onPaper(const std::vector<DrawOp>& ops) {
  std::vector<DrawOp> paper;
  for (const DrawOp& op : ops)
    if (op.kind != kDrawScreenLine) paper.push_back(op);
  return paper;
}

// The screen's lines.
std::vector<std::string> onScreen(const std::vector<DrawOp>& ops) {
  std::vector<std::string> lines;
  for (const DrawOp& op : ops)
    if (op.kind == kDrawScreenLine) lines.push_back(op.text);
  return lines;
}

std::string describe(const Receipt& receipt) {
  std::string out;
  for (const DrawOp& op : onPaper(receipt.ops)) out += describe(op) + "\n";
  return out;
}

// The dots of an image as rows of '#' and '.'.
std::vector<std::string> dots(const DrawOp& image) {
  std::vector<std::string> rows;
  for (int y = 0; y < image.height; ++y) {
    std::string row;
    for (int x = 0; x < image.width; ++x) row += drawDotAt(image, x, y) ? '#' : '.';
    rows.push_back(row);
  }
  return rows;
}

std::string qrCommand(int function, const std::string& parameters) {
  const int length = static_cast<int>(parameters.size()) + 2;
  return bytes({GS, '(', 'k', length & 0xFF, length >> 8, 49, function}) + parameters;
}

// Lays the bytes out as a reader of a file does, a few bytes at a time.
std::vector<DrawOp> layOutInPieces(const std::string& bytes, std::size_t piece) {
  ReceiptState state;
  beginReceipt(state, receiptSettings());
  return feedInPieces(
      state, bytes, piece,
      [](ReceiptState& s, const unsigned char* data, std::size_t size, bool end) {
        return layOutReceipt(s, data, size, end);
      },
      [](ReceiptState& s) { return takeReceiptOps(s); }, [](ReceiptState& s) { finishReceipt(s); });
}

const char kQrText[] = "https://ferrin.example/r/1042";

// A till's receipt: logo, shop name, items, total, stored logo, QR code,
// drawer kick, cut, and the start of the next receipt.
std::string sampleReceipt() {
  std::string r;
  // A raster logo, double width, its data full of bytes that look like
  // commands and line ends.
  r += bytes({ESC, '@', ESC, 'a', 1, GS, 'v', '0', 1, 2, 0, 3, 0, 0xFF, LF, ESC, '@', 0x81, 0x0C});
  r += bytes({GS, '!', 0x11}) + "CAFE NORD" + bytes({LF, GS, '!', 0}) + "Hauptstr. 1" + bytes({LF});
  // Items in code page 850, a tab to the price column, one underlined.
  r += bytes({ESC, 'a', 0, ESC, 't', 2}) + "K\x84se" + bytes({HT}) + "2.50" + bytes({LF});
  r += bytes({ESC, '-', 1}) + "Brot" + bytes({ESC, '-', 0, HT}) + "1.20" + bytes({LF});
  r += bytes({ESC, '!', 0x01}) + "2 x 0.60" + bytes({LF, ESC, '!', 0});
  // An 8-dot single-density bit image in the line, text after it.
  r += bytes({ESC, '*', 0, 2, 0, 0x81, 0xFF}) + "ok" + bytes({LF});
  r += bytes({ESC, 'E', 1}) + "TOTAL" + bytes({ESC, 'E', 0, HT, GS, '!', 0x01}) + "3.70" + bytes({LF, GS, '!', 0});
  // A logo stored through the print buffer and printed: raster rows at
  // twice the size, then columns through GS 8 L.
  r += bytes({ESC, 'a', 1, GS, '(', 'L', 12, 0, 48, 112, 48, 2, 2, 49, 8, 0, 2, 0, 0xF0, 0x0F});
  r += bytes({GS, '(', 'L', 2, 0, 48, 50});
  r += bytes({GS, '8', 'L', 13, 0, 0, 0, 48, 113, 48, 1, 1, 49, 3, 0, 8, 0, 0x80, 0x01, 0xFF});
  r += bytes({GS, '(', 'L', 2, 0, 48, 2});
  // A QR code: model 2, modules of 4 dots, level M, the text, print.
  r += qrCommand(65, bytes({50, 0})) + qrCommand(67, bytes({4})) + qrCommand(69, bytes({49}));
  r += qrCommand(80, "0" + std::string(kQrText)) + qrCommand(81, "0");
  // Three blank lines, the drawer kick (its parameters printable bytes),
  // feed 20 dots and cut; then the next receipt has begun.
  r += bytes({ESC, 'a', 0, ESC, 'd', 3, ESC, 'p', '0', 'A', 'B', GS, 'V', 65, 20});
  r += "Kopie" + bytes({CR, LF});
  return r;
}

TEST(EscPos, WholeReceiptAsOperations) {
  const Receipt receipt = parseReceipt(sampleReceipt(), receiptSettings());
  EXPECT_FALSE(receipt.limited);
  EXPECT_EQ(describe(receipt),
            "image 272 0 32 3\n"
            "text 180 3 216 48 A 2x2 cp437 'CAFE NORD'\n"
            "text 222 51 132 24 A 1x1 cp437 'Hauptstr. 1'\n"
            "text 0 85 48 24 A 1x1 cp850 'K\x84se'\n"
            "text 96 85 48 24 A 1x1 cp850 '2.50'\n"
            "text 0 119 48 24 A underline1 1x1 cp850 'Brot'\n"
            "text 96 119 48 24 A 1x1 cp850 '1.20'\n"
            "text 0 153 72 17 B 1x1 cp850 '2 x 0.60'\n"
            "image 0 187 4 24\n"
            "text 4 187 24 24 A 1x1 cp850 'ok'\n"
            "text 0 245 60 24 A bold 1x1 cp850 'TOTAL'\n"
            "text 96 221 48 48 A 1x2 cp850 '3.70'\n"
            "image 280 269 16 4\n"
            "image 286 273 3 8\n"
            "image 230 281 116 116\n"
            "page 519\n"
            "text 0 0 60 24 A 1x1 cp850 'Kopie'\n"
            "page 34\n");
  const std::vector<DrawOp> ops = onPaper(receipt.ops);
  ASSERT_EQ(ops.size(), 18u);
  // The screen shows each printed line's text, runs that stand apart
  // with a blank between them.
  EXPECT_EQ(onScreen(receipt.ops), (std::vector<std::string>{"CAFE NORD", "Hauptstr. 1", "K\x84se 2.50",
                                                              "Brot 1.20", "2 x 0.60", "ok", "TOTAL 3.70", "Kopie"}));

  // Raster rows, each dot doubled across: 0xFF 0x0A / 0x1B 0x40 / 0x81 0x0C.
  EXPECT_EQ(dots(ops[0]), (std::vector<std::string>{
                                      "################........##..##..",
                                      "......####..####..##............",
                                      "##............##........####....",
                                  }));
  // 8-dot single density: 2 dots across and 3 down for each dot sent.
  const std::vector<std::string> bit = dots(ops[8]);
  EXPECT_EQ(bit[0], "####");
  EXPECT_EQ(bit[3], "..##");
  EXPECT_EQ(bit[23], "####");
  // Stored raster at twice the size, then stored columns.
  EXPECT_EQ(dots(ops[12]), (std::vector<std::string>{
                                       "########........",
                                       "########........",
                                       "........########",
                                       "........########",
                                   }));
  EXPECT_EQ(dots(ops[13]),
            (std::vector<std::string>{"#.#", "..#", "..#", "..#", "..#", "..#", "..#", ".##"}));
  // The QR code keeps its text; 29 modules of 4 dots (version 3), with the
  // finder pattern's dark frame and light ring in the top left corner.
  const DrawOp& qr = ops[14];
  EXPECT_EQ(qr.text, kQrText);
  const std::vector<std::string> symbol = dots(qr);
  EXPECT_EQ(symbol[0].substr(0, 32), std::string(28, '#') + "....");
  EXPECT_EQ(symbol[4].substr(0, 32), "####" + std::string(20, '.') + "####....");
  EXPECT_EQ(symbol[8].substr(0, 32), "####....############....####....");

  // Read a byte or a few at a time, the receipt comes out the same.
  for (std::size_t piece : {1, 3, 64}) {
    Receipt pieces;
    pieces.ops = layOutInPieces(sampleReceipt(), piece);
    EXPECT_EQ(describe(pieces), describe(receipt)) << piece;
    for (std::size_t i = 0; i < receipt.ops.size() && i < pieces.ops.size(); ++i)
      EXPECT_EQ(pieces.ops[i].bits, receipt.ops[i].bits) << piece << " " << i;
  }
}

TEST(EscPos, LinesFeedsAndPaperWidth) {
  // 48 columns of Font A on 80 mm paper, 32 on 58 mm: the 49th or 33rd
  // character starts the next line.
  const std::string row = std::string(49, 'x');
  EXPECT_EQ(describe(parseReceipt(row, receiptSettings())),
            "text 0 0 576 24 A 1x1 cp437 '" + std::string(48, 'x') + "'\n" +
                "text 0 34 12 24 A 1x1 cp437 'x'\npage 58\n");
  ReceiptSettings narrow = receiptSettings();
  narrow.paperWidthMm = 58;
  EXPECT_EQ(describe(parseReceipt(bytes({ESC, 'a', 2}) + std::string(33, 'y'), narrow)),
            "text 0 0 384 24 A 1x1 cp437 '" + std::string(32, 'y') + "'\n" +
                "text 372 34 12 24 A 1x1 cp437 'y'\npage 58\n");

  // ESC 3 sets the line spacing; a lone CR feeds like LF, CR LF once; ESC J
  // feeds dots; ESC @ prints a line not yet fed and restores the 1/6 inch
  // spacing and plain text; ESC ! and GS ! scale, and the later one wins.
  const std::string lines = bytes({ESC, '3', 50}) + "a" + bytes({CR}) + "b" + bytes({CR, LF}) + "c" +
                            bytes({ESC, 'J', 10}) + bytes({ESC, '!', 0x38}) + "d" + bytes({GS, '!', 0x70}) + "e" +
                            bytes({ESC, '@'}) + "f" + bytes({LF});
  EXPECT_EQ(describe(parseReceipt(lines, receiptSettings())),
            "text 0 0 12 24 A 1x1 cp437 'a'\n"
            "text 0 50 12 24 A 1x1 cp437 'b'\n"
            "text 0 100 12 24 A 1x1 cp437 'c'\n"
            "text 0 124 24 48 A bold 2x2 cp437 'd'\n"
            "text 24 148 96 24 A bold 8x1 cp437 'e'\n"
            "text 0 174 12 24 A 1x1 cp437 'f'\n"
            "page 208\n");

  // A print area of 256 dots from a margin of 24 (GS L, GS W), 2 dots of
  // character spacing (ESC SP), tab stops at columns 4 and 10 (ESC D),
  // absolute and relative positions (ESC $, ESC \), a 24-dot bit image under
  // ESC 3 24, Font B (ESC M) with double strike (ESC G), both cuts.
  const std::string area = bytes({GS, 'L', 24, 0, GS, 'W', 0, 1, ESC, ' ', 2, ESC, 'D', 4, 10, 0}) + "a\tb\tc\n" +
                           bytes({ESC, '$', 100, 0}) + "x" + bytes({ESC, '\\', 0xF6, 0xFF}) + "y" +
                           bytes({ESC, '3', 24, LF, ESC, '*', 33, 3, 0, 0xFF, 0, 0, 0, 0, 0, 0, 0, 0}) +
                           bytes({LF, ESC, '2', ESC, 'M', 1}) + "fontB" + bytes({ESC, 'G', 1}) + "ds" +
                           bytes({CR, ESC, 'i'}) + "x" + bytes({ESC, 'm'});
  EXPECT_EQ(describe(parseReceipt(area, receiptSettings())),
            "text 24 0 14 24 A 1x1 cp437 'a'\n"
            "text 80 0 14 24 A 1x1 cp437 'b'\n"
            "text 164 0 14 24 A 1x1 cp437 'c'\n"
            "text 124 34 14 24 A 1x1 cp437 'x'\n"
            "text 128 34 14 24 A 1x1 cp437 'y'\n"
            "image 24 58 3 24\n"
            "text 24 82 55 17 B 1x1 cp437 'fontB'\n"
            "text 79 82 22 17 B bold 1x1 cp437 'ds'\n"
            "page 116\n"
            "text 24 0 11 17 B bold 1x1 cp437 'x'\n"
            "page 34\n");

  // Feeds alone print nothing; a cut with nothing before it makes no page.
  EXPECT_EQ(describe(parseReceipt(bytes({LF, LF, ESC, 'd', 9, GS, 'V', 0, ESC, 'i', LF}), receiptSettings())), "");
}

// The drawer pulses and cuts a receipt sends are kept as it sent them, in
// its order, for a raw job after the drawn receipt: ESC p and DLE DC4 1
// (not DLE DC4's other functions), GS V, ESC i and ESC m; a pulse cut off by
// the end of the data is not one; at most kMaxPrinterActions are kept.
TEST(EscPos, DrawerPulsesAndCutsAreKeptAsSent) {
  auto actionsOf = [](const std::string& printout) {
    ReceiptState state;
    beginReceipt(state, receiptSettings());
    layOutReceipt(state, reinterpret_cast<const unsigned char*>(printout.data()), printout.size(), true);
    finishReceipt(state);
    std::vector<std::string> kept;
    for (const PrinterAction& action : state.actions)
      kept.push_back((action.kind == kActionDrawer ? "drawer " : "cut ") + action.bytes);
    return kept;
  };
  EXPECT_EQ(actionsOf(sampleReceipt()),
            (std::vector<std::string>{"drawer " + bytes({ESC, 'p', '0', 'A', 'B'}), "cut " + bytes({GS, 'V', 65, 20})}));
  const std::string sent = bytes({ESC, 'i'}) + "x" + bytes({0x10, 0x14, 1, 0, 3, 0x10, 0x14, 2, 1, 8, ESC, 'm'}) +
                           bytes({ESC, 'p', 1, 50, 100, ESC, 'p', 0});
  EXPECT_EQ(actionsOf(sent), (std::vector<std::string>{"cut " + bytes({ESC, 'i'}),
                                                      "drawer " + bytes({0x10, 0x14, 1, 0, 3}),
                                                      "cut " + bytes({ESC, 'm'}),
                                                      "drawer " + bytes({ESC, 'p', 1, 50, 100})}));
  std::string many;
  for (int i = 0; i < 100; ++i) many += bytes({ESC, 'p', 0, 25, 250});
  EXPECT_EQ(actionsOf(many).size(), kMaxPrinterActions);
}

TEST(EscPos, HostileDataStaysBounded) {
  // A raster image announced far wider and taller than its data: cut at the
  // paper's width, missing rows white.
  std::string wide = bytes({GS, 'v', '0', 0, 200, 0, 0xFF, 0xFF}) + std::string(300, '\xFF');
  const std::vector<DrawOp> clipped = onPaper(parseReceipt(wide, receiptSettings()).ops);
  ASSERT_EQ(clipped.size(), 2u);
  EXPECT_EQ(describe(clipped[0]), "image 0 0 576 65535");
  EXPECT_TRUE(drawDotAt(clipped[0], 575, 0));
  EXPECT_TRUE(drawDotAt(clipped[0], 575, 1));  // 300 bytes: a row and a half
  EXPECT_FALSE(drawDotAt(clipped[0], 0, 2));
  EXPECT_FALSE(drawDotAt(clipped[0], 576, 0));

  // The same QR code printed over and over: images stop at the bound of
  // image bytes, their places kept, and the receipt says something is left out.
  std::string many = qrCommand(67, bytes({8})) + qrCommand(80, "0" + std::string(300, 'Q'));
  for (int i = 0; i < 3000; ++i) many += qrCommand(81, "0");
  const Receipt bounded = parseReceipt(many, receiptSettings());
  EXPECT_TRUE(bounded.limited);
  std::size_t imageBytes = 0;
  for (const DrawOp& op : bounded.ops) imageBytes += op.bits.size();
  EXPECT_LE(imageBytes, kMaxReceiptImageBytes);
  EXPECT_GT(imageBytes, kMaxReceiptImageBytes / 2);

  // Every command cut off by the end of the data, at every length: nothing
  // of it becomes text, and the text before it is kept.
  const std::string commands[] = {
      bytes({ESC, '*', 33, 10, 0, 1, 2}), bytes({GS, 'v', '0', 0, 1, 0, 9, 0, 'Z'}),
      bytes({GS, '8', 'L', 20, 0, 0, 0, 48, 112, 48, 1, 1, 49, 8, 0, 8, 0, 'Z'}), qrCommand(80, "0ZZZ"),
      bytes({ESC, 'p', 0, 'Z', 'Z'}), bytes({GS, 'V', 65, 'Z'})};
  for (const std::string& command : commands) {
    for (std::size_t cut = 1; cut <= command.size(); ++cut) {
      const Receipt receipt = parseReceipt("ok" + command.substr(0, cut), receiptSettings());
      ASSERT_FALSE(onPaper(receipt.ops).empty());
      EXPECT_EQ(describe(onPaper(receipt.ops)[0]), "text 0 0 24 24 A 1x1 cp437 'ok'") << cut;
      for (const DrawOp& op : receipt.ops) EXPECT_EQ(op.text.find('Z'), std::string::npos) << cut;
    }
  }
}

}  // namespace

// Bar codes as the printer places them: right-justified by ESC a, modules of
// GS w dots, GS h dots tall, the text above and below in the GS f font and
// centred on the bars; both forms of GS k give the same code. Data the
// printer refuses and codes wider than the paper print nothing and are
// counted for the console; the layout is the same in pieces.
TEST(EscPos, BarCodesPlacedAsThePrinterPlacesThem) {
  std::string r = bytes({ESC, 'a', 2, GS, 'H', 3, GS, 'f', 1, GS, 'h', 40, GS, 'w', 3});
  r += bytes({GS, 'k', 73, 11}) + "{BNo.{C" + bytes({1, 23, 45, 67});
  r += bytes({GS, 'H', 0, GS, 'k', 4}) + "*AB-12*" + bytes({0});
  r += bytes({GS, 'k', 69, 7}) + "*AB-12*";
  // EAN-13 with its check digit, with a wrong one (which the printer does
  // not check) and without: the same code each time.
  r += bytes({GS, 'k', 2}) + "4006381333931" + bytes({0});
  r += bytes({GS, 'k', 67, 13}) + "4006381333937";
  r += bytes({GS, 'k', 67, 12}) + "400638133393";
  // UPC-E as its seven digits and as the UPC-A number it stands for.
  r += bytes({GS, 'k', 1}) + "0123455" + bytes({0});
  r += bytes({GS, 'k', 66, 11}) + "01234500005";
  // Refused: letters in an EAN-13, eleven digits for EAN-8, CODE128
  // without its code set, an odd ITF, a CODABAR without start and stop.
  r += bytes({GS, 'k', 67, 12}) + "40063813339A";
  r += bytes({GS, 'k', 3}) + "12345678901" + bytes({0});
  r += bytes({GS, 'k', 73, 4}) + "1234";
  r += bytes({GS, 'k', 70, 3}) + "123";
  r += bytes({GS, 'k', 71, 4}) + "1234";
  // Too wide: 6-dot modules of a long CODE39 on 80 mm paper.
  r += bytes({GS, 'w', 6, GS, 'k', 69, 20}) + "ABCDEFGHIJKLMNOPQRST";
  r += "after" + bytes({LF});

  ReceiptState state;
  beginReceipt(state, receiptSettings());
  layOutReceipt(state, reinterpret_cast<const unsigned char*>(r.data()), r.size(), true);
  finishReceipt(state);
  EXPECT_EQ(state.codesRefused, 5u);
  EXPECT_EQ(state.codesTooWide, 1u);
  const std::vector<DrawOp> all = takeReceiptOps(state);
  const std::vector<DrawOp> ops = onPaper(all);
  ASSERT_EQ(ops.size(), 12u) << describe(Receipt{ops, false});

  const DrawOp& above = ops[0];
  const DrawOp& bars = ops[1];
  const DrawOp& below = ops[2];
  EXPECT_EQ(above.text, "No.01234567");
  EXPECT_EQ(below.text, above.text);
  EXPECT_EQ(above.font, kDrawFontB);
  EXPECT_EQ(above.y + above.height, bars.y);
  EXPECT_EQ(below.y, bars.y + bars.height);
  EXPECT_EQ(bars.height, 40);
  EXPECT_EQ(bars.x + bars.width, kReceiptWidth80) << "right-justified";
  EXPECT_NEAR(above.x + above.width / 2, bars.x + bars.width / 2, kFontBWidth);
  // Every bar and space is a whole number of 3-dot modules; it starts with a
  // bar and every row is the same.
  const std::vector<std::string> rows = dots(bars);
  ASSERT_FALSE(rows.empty());
  EXPECT_EQ(rows.front()[0], '#');
  for (const std::string& row : rows) EXPECT_EQ(row, rows.front());
  std::size_t run = 1;
  for (std::size_t i = 1; i <= rows.front().size(); ++i, ++run) {
    if (i < rows.front().size() && rows.front()[i] == rows.front()[i - 1]) continue;
    EXPECT_EQ(run % 3, 0u) << "a run of " << run << " dots ends at " << i;
    run = 0;
  }

  // CODE39 in both forms, without text: the same bars, one below the other.
  EXPECT_EQ(ops[3].kind, kDrawImage);
  EXPECT_EQ(ops[4].kind, kDrawImage);
  EXPECT_EQ(ops[3].bits, ops[4].bits);
  EXPECT_EQ(ops[4].y, ops[3].y + 40);
  EXPECT_EQ(ops[5].text, "4006381333931");
  EXPECT_EQ(ops[6].bits, ops[5].bits);
  EXPECT_EQ(ops[7].bits, ops[5].bits);
  EXPECT_EQ(ops[9].bits, ops[8].bits);
  EXPECT_EQ(ops[8].text, "01234558");
  EXPECT_EQ(ops[10].text, "after");
  EXPECT_EQ(onScreen(all), (std::vector<std::string>{"No.01234567", "No.01234567", "after"}));

  Receipt pieces;
  pieces.ops = layOutInPieces(r, 5);
  EXPECT_EQ(describe(pieces), describe(Receipt{all, false}));
}

namespace {

// A drawn text as "page:text".
std::vector<std::string> pagesAndTexts() {
  std::vector<std::string> drawn;
  for (const FakeText& t : fakeDevice.texts) drawn.push_back(std::to_string(t.page) + ":" + t.text);
  return drawn;
}

}  // namespace

// A receipt longer than the printer's page, printed through the print loop:
// it goes on over the next pages, broken between lines, each line drawn
// once and whole, and the next page's first line at the top as the first
// page's was. A logo taller than a page is drawn in strips, one at the
// bottom of a page and the rest at the top of the next, none of its rows
// lost or drawn twice. The fake's page is 7016 dots at 600 dpi: 2373 dots
// of the receipt printer's 203 dpi. Lines are 34 dots apart and 24 tall, so
// 70 of them fit (the 70th ends at 69 x 34 + 24 = 2370) and the 71st begins
// the next page.
TEST(EscPos, ReceiptLongerThanAPageGoesOnOverTheNext) {
  std::string r = bytes({ESC, '@'});
  std::vector<std::string> want;
  for (int line = 1; line <= 150; ++line) {
    char text[16];
    std::snprintf(text, sizeof text, "Line %03d", line);
    r += text + bytes({LF});
    want.push_back(std::to_string(line <= 70 ? 1 : line <= 140 ? 2 : 3) + ":" + text);
  }
  // A logo 8 dots wide and 3000 tall, every dot black, then one more line and the cut.
  r += bytes({GS, 'v', '0', 0, 1, 0, 3000 & 0xFF, 3000 >> 8}) + std::string(3000, '\xFF');
  r += "End" + bytes({LF, GS, 'V', 0});
  want.push_back("4:End");

  const SpoolPrinted printed = printThroughSpool(r, kControlsEscPos, "Receipt");
  EXPECT_EQ(printed.openError, 0);
  EXPECT_EQ(printed.readError, 0);
  EXPECT_EQ(printed.printError, 0);
  EXPECT_EQ(pagesAndTexts(), want);
  ASSERT_EQ(fakeDevice.texts.size(), want.size());
  // Each page's first line at the top, where the receipt's first line was.
  EXPECT_EQ(fakeDevice.texts[70].y, fakeDevice.texts[0].y);
  EXPECT_EQ(fakeDevice.texts[140].y, fakeDevice.texts[0].y);
  for (const FakeText& t : fakeDevice.texts) EXPECT_LE(t.y, fakeDevice.pageHeight) << t.text;

  ASSERT_EQ(fakeDevice.images.size(), 2u);
  const FakeImage& first = fakeDevice.images[0];
  const FakeImage& rest = fakeDevice.images[1];
  EXPECT_EQ(first.page, 3);
  EXPECT_EQ(rest.page, 4);
  EXPECT_EQ(first.height + rest.height, 3000);
  EXPECT_EQ(first.inked + rest.inked, 8 * 3000);
  EXPECT_NEAR(first.y + first.destHeight, fakeDevice.pageHeight, 3);
  EXPECT_EQ(rest.y, 0);
  EXPECT_LT(rest.y + rest.destHeight, fakeDevice.texts.back().y) << "the last line after the logo";

  ASSERT_EQ(fakeDevice.documents.size(), 1u);
  EXPECT_EQ(fakeDevice.documents[0].pages, 4);
  EXPECT_TRUE(fakeDevice.misuse.empty()) << fakeCallLog();
}

// The text of a bar code printed where GS H puts it: above the bars, below
// them, on both sides, or nowhere; everything on the receipt in order from
// its top, through the print loop onto the printer.
TEST(EscPos, BarCodeTextAboveBelowOrOnBothSides) {
  std::string r = bytes({ESC, '@', GS, 'h', 60});
  const char* const kPlaces[] = {"Above", "Below", "Both", "None"};
  const int kTextPlace[] = {1, 2, 3, 0};
  for (int i = 0; i < 4; ++i) {
    r += std::string(kPlaces[i]) + bytes({LF, GS, 'H', kTextPlace[i]});
    r += bytes({GS, 'k', 67, 12}) + "400638133393";  // EAN-13, its check digit added: 4006381333931
  }
  r += "End" + bytes({LF, GS, 'V', 0});

  const SpoolPrinted printed = printThroughSpool(r, kControlsEscPos, "Receipt");
  EXPECT_EQ(printed.readError, 0);
  EXPECT_EQ(printed.printError, 0);
  EXPECT_EQ(printed.codes.refused, 0u);
  // Top to bottom: texts by their baseline, the bars by their top edge.
  std::vector<std::pair<int, std::string>> down;
  for (const FakeText& t : fakeDevice.texts) down.push_back({t.y, t.text});
  for (const FakeImage& image : fakeDevice.images) down.push_back({image.y, "[bars]"});
  std::sort(down.begin(), down.end());
  std::vector<std::string> order;
  for (const auto& item : down) order.push_back(item.second);
  const std::string code = "4006381333931";
  EXPECT_EQ(order, (std::vector<std::string>{"Above", code, "[bars]",          //
                                             "Below", "[bars]", code,          //
                                             "Both", code, "[bars]", code,     //
                                             "None", "[bars]", "End"}));
  for (const FakeText& t : fakeDevice.texts) EXPECT_EQ(t.page, 1) << t.text;
  EXPECT_TRUE(fakeDevice.misuse.empty()) << fakeCallLog();
}
