// Receipts in Star Line Mode: a whole till receipt laid out operation by
// operation (raster logo, sizes, alignment, code page, styles, bit image,
// bar code, QR code, drawer, cut), the same receipt read a byte or a few at
// a time, the same receipt written in ESC/POS laid out the same, the probe
// that tells the two apart, and hostile data kept in bounds.
#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <vector>

#include "lang/language.h"
#include "lang/star.h"
#include "print/symbols.h"
#include "unit/pieces.h"
#include "whole/whole.h"

namespace {

const int ESC = 0x1B, GS = 0x1D, RS = 0x1E, LF = 0x0A, HT = 0x09, BEL = 0x07, SO = 0x0E, DC4 = 0x14;

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

std::string describe(const DrawOp& op) {
  const std::string box = std::to_string(op.x) + " " + std::to_string(op.y) + " " + std::to_string(op.width) + " " +
                          std::to_string(op.height);
  switch (op.kind) {
    case kDrawText:
      return "text " + box + (op.font == kDrawFontA ? " A" : " B") + (op.bold ? " bold" : "") +
             (op.underline ? " underline" : "") + " " + std::to_string(op.widthScale) + "x" +
             std::to_string(op.heightScale) + " cp" + std::to_string(op.codePage) + " '" + op.text + "'";
    case kDrawImage: return "image " + box + (op.text.empty() ? "" : " '" + op.text + "'");
    case kDrawPageEnd: return "page " + std::to_string(op.height);
    case kDrawScreenLine: return "screen '" + op.text + "'";
    default: return "?";
  }
}

std::string describe(const std::vector<DrawOp>& ops, bool screen = false) {
  std::string out;
  for (const DrawOp& op : ops)
    if (screen || op.kind != kDrawScreenLine) out += describe(op) + "\n";
  return out;
}

std::vector<std::string> dots(const DrawOp& image) {
  std::vector<std::string> rows;
  for (int y = 0; y < image.height; ++y) {
    std::string row;
    for (int x = 0; x < image.width; ++x) row += drawDotAt(image, x, y) ? '#' : '.';
    rows.push_back(row);
  }
  return rows;
}

const char kQrText[] = "https://ferrin.example/r/77";

// A till's receipt in Star Line Mode.
std::string starReceipt() {
  std::string r = bytes({ESC, '@'});
  // A raster logo of two rows, its data full of bytes that look like
  // commands, then the raster mode ends.
  r += bytes({ESC, '*', 'r', 'A', 'b', 2, 0, 0xFF, 0x1B, 'b', 2, 0, 0x0A, 0x81, ESC, '*', 'r', 'B'});
  // The shop's name centred, 2x wide and high; an address line.
  r += bytes({ESC, GS, 'a', 1, ESC, 'i', 1, 1}) + "CAFE NORD" + bytes({LF, ESC, 'i', 0, 0}) + "Hafen 3" + bytes({LF});
  // Items left in code page 858, a tab, one underlined, one highlighted,
  // one in Font B; a double-wide (SO) price.
  r += bytes({ESC, GS, 'a', 0, ESC, GS, 't', 4}) + "K\x84se" + bytes({HT}) + "2.50" + bytes({LF});
  r += bytes({ESC, '-', 1}) + "Brot" + bytes({ESC, '-', 0, HT}) + "1.20" + bytes({LF});
  r += bytes({ESC, '4'}) + "Bonus" + bytes({ESC, '5', LF});
  r += bytes({ESC, RS, 'F', 1}) + "2 x 0.60" + bytes({LF, ESC, RS, 'F', 0});
  // An 8-dot bit image in the line, text after it.
  r += bytes({ESC, 'K', 2, 0, 0x81, 0xFF}) + "ok" + bytes({LF});
  r += bytes({ESC, 'E'}) + "TOTAL" + bytes({ESC, 'F', HT, SO}) + "3.70" + bytes({DC4, LF});
  // A CODE128 bar code with its text, no line feed after; the height 40.
  r += bytes({ESC, GS, 'a', 1, ESC, 'b', 6, 4, 2, 40}) + "R-1042" + bytes({RS});
  // A QR code: level M, cells of 4 dots, the data, print.
  r += bytes({ESC, GS, 'y', 'S', '1', 1, ESC, GS, 'y', 'S', '2', 4});
  r += bytes({ESC, GS, 'y', 'D', '1', 0, static_cast<int>(sizeof kQrText - 1), 0}) + kQrText;
  r += bytes({ESC, GS, 'y', 'P'});
  // The drawer's pulse set to 100 ms on and 50 off, the drawer opened, a
  // feed of 3 lines, the cut; then the next receipt has begun.
  r += bytes({ESC, BEL, 10, 5, BEL, ESC, GS, 'a', 0, ESC, 'a', 3, ESC, 'd', 3});
  r += "Kopie" + bytes({LF});
  return r;
}

TEST(Star, WholeReceiptAsOperations) {
  std::vector<PrinterAction> actions;
  const Receipt receipt = parseStarReceipt(starReceipt(), receiptSettings(), &actions);
  EXPECT_FALSE(receipt.limited);
  EXPECT_EQ(describe(receipt.ops),
            "image 0 0 16 2\n"
            "text 180 2 216 48 A 2x2 cp437 'CAFE NORD'\n"
            "text 246 50 84 24 A 1x1 cp437 'Hafen 3'\n"
            "text 0 82 48 24 A 1x1 cp858 'K\x84se'\n"
            "text 96 82 48 24 A 1x1 cp858 '2.50'\n"
            "text 0 114 48 24 A underline 1x1 cp858 'Brot'\n"
            "text 96 114 48 24 A 1x1 cp858 '1.20'\n"
            "text 0 146 60 24 A bold 1x1 cp858 'Bonus'\n"
            "text 0 178 72 17 B 1x1 cp858 '2 x 0.60'\n"
            "image 0 210 4 24\n"
            "text 4 210 24 24 A 1x1 cp858 'ok'\n"
            "text 0 242 60 24 A bold 1x1 cp858 'TOTAL'\n"
            "text 96 242 96 24 A 2x1 cp858 '3.70'\n"
            "image 153 274 270 40 'R-1042'\n"
            "text 252 314 72 24 A 1x1 cp437 'R-1042'\n"
            "image 230 338 116 116 'https://ferrin.example/r/77'\n"
            "page 550\n"
            "text 0 0 60 24 A 1x1 cp858 'Kopie'\n"
            "page 32\n");
  // The drawer's pulse with the times ESC BEL set, then the cut, kept as
  // the printout sent them.
  ASSERT_EQ(actions.size(), 2u);
  EXPECT_EQ(actions[0].kind, kActionDrawer);
  EXPECT_EQ(actions[0].bytes, bytes({ESC, BEL, 10, 5, BEL}));
  EXPECT_EQ(actions[1].kind, kActionCut);
  EXPECT_EQ(actions[1].bytes, bytes({ESC, 'd', 3}));
  // The raster rows came as they were sent: 0xFF 0x1B / 0x0A 0x81.
  std::vector<DrawOp> paper;
  for (const DrawOp& op : receipt.ops)
    if (op.kind != kDrawScreenLine) paper.push_back(op);
  EXPECT_EQ(dots(paper[0]), (std::vector<std::string>{"########...##.##", "....#.#.#......#"}));
  // ESC K: 8 dots tall, each dot 2 across and 3 down.
  const std::vector<std::string> bit = dots(paper[9]);
  EXPECT_EQ(bit[0], "####");
  EXPECT_EQ(bit[3], "..##");
  EXPECT_EQ(bit[23], "####");

  // Read a byte or a few at a time, the receipt comes out the same.
  for (std::size_t piece : {1, 2, 7, 64}) {
    StarState state;
    beginStar(state, receiptSettings());
    const std::vector<DrawOp> ops = feedInPieces(
        state, starReceipt(), piece,
        [](StarState& s, const unsigned char* data, std::size_t size, bool end) {
          return layOutStar(s, data, size, end);
        },
        [](StarState& s) { return takeReceiptOps(s.receipt); }, [](StarState& s) { finishStar(s); });
    EXPECT_EQ(describe(ops, true), describe(receipt.ops, true)) << "in pieces of " << piece;
    EXPECT_EQ(state.receipt.actions.size(), 2u);
  }
}

// The same receipt in the two languages of receipt printers, command for
// command, lays out the same: Star Line Mode is drawn on the same grid.
TEST(Star, SameReceiptAsInEscPos) {
  const std::string star =
      bytes({ESC, 'z', 1, ESC, GS, 'a', 2, ESC, 'W', 2}) + "Wide" + bytes({LF, ESC, 'W', 0, ESC, 'h', 1}) +
      "High" + bytes({LF, ESC, 'h', 0, ESC, GS, 'a', 0, ESC, 'D', 4, 10, 0}) + "a" + bytes({HT}) + "b" +
      bytes({HT}) + "c" + bytes({LF, ESC, GS, 'A', 100, 0}) + "at100" + bytes({ESC, GS, 'R', 12, 0}) + "x" +
      bytes({LF, ESC, 'J', 10, ESC, 'l', 2}) + "margin" + bytes({LF, ESC, 'k', 2, 0, 0x80, 0, 1, 0xFF, 0xFF, 0xFF}) +
      bytes({LF, ESC, 'b', '3', '2', '2', 60}) + "400638133393" + bytes({RS, ESC, 'd', '0'});
  const std::string escPos =
      bytes({ESC, '3', 32, ESC, 'a', 2, GS, '!', 0x20}) + "Wide" + bytes({LF, GS, '!', 0x01}) + "High" +
      bytes({LF, GS, '!', 0, ESC, 'a', 0, ESC, 'D', 4, 10, 0}) + "a" + bytes({HT}) + "b" + bytes({HT}) + "c" +
      bytes({LF, ESC, '$', 100, 0}) + "at100" + bytes({ESC, '\\', 12, 0}) + "x" +
      bytes({LF, ESC, 'J', 20, GS, 'L', 24, 0}) + "margin" + bytes({LF, ESC, '*', 33, 2, 0, 0x80, 0, 1, 0xFF, 0xFF, 0xFF}) +
      bytes({LF, GS, 'H', 2, GS, 'h', 60, GS, 'w', 3, GS, 'k', 67, 12}) + "400638133393" +
      bytes({ESC, '3', 32, LF, GS, 'V', 0});
  const std::string laidOut = describe(parseStarReceipt(star, receiptSettings()).ops, true);
  // ESC/POS's own line after the bar code stands for Star's line feed after it.
  EXPECT_EQ(laidOut, describe(parseReceipt(escPos, receiptSettings()).ops, true));
  EXPECT_NE(laidOut.find("'4006381333931'"), std::string::npos) << laidOut;  // the bar code is there
}

TEST(Star, AutoTellsStarFromEscPos) {
  auto languageOf = [](const std::string& printout) {
    const PrintoutProbe probe =
        probePrintout(reinterpret_cast<const unsigned char*>(printout.data()), printout.size());
    const PrinterLanguage* language = languageOfPrintout(probe);
    return std::string(language != nullptr ? language->name : "text");
  };
  EXPECT_EQ(languageOf(starReceipt()), "star");
  EXPECT_EQ(languageOf(bytes({ESC, '@', ESC, GS, 't', 1}) + "x\n"), "star");
  EXPECT_EQ(languageOf("logo" + bytes({ESC, '*', 'r', 'A', 'b', 1, 0, 0xFF, ESC, '*', 'r', 'B'})), "star");
  EXPECT_EQ(languageOf(bytes({ESC, '@', ESC, 'a', 1, GS, '!', 0x11}) + "x\n" + bytes({GS, 'V', 0})), "escpos");
  EXPECT_EQ(languageOf(bytes({ESC, 'E'}) + "x\n"), "escp");
  // An ESC/POS logo whose data holds Star's ESC GS a and ESC * r A is an
  // ESC/POS receipt still: the probe passes over the data.
  EXPECT_EQ(languageOf(bytes({ESC, '@', GS, 'v', '0', 0, 4, 0, 2, 0, ESC, GS, 'a', 1, ESC, '*', 'r', 'A'}) +
                       "x\n" + bytes({GS, 'V', 0})),
            "escpos");
  EXPECT_EQ(findLanguage("star"), languageOfPrintout(probePrintout(
                                      reinterpret_cast<const unsigned char*>(starReceipt().data()), 64)));
}

TEST(Star, HostileDataStaysBounded) {
  const ReceiptSettings settings = receiptSettings();
  // Counts that announce far more data than there is, terminators that never
  // come, huge raster rows, out-of-range parameters: laid out without a
  // crash, and the text after a whole command still prints.
  for (const std::string& hostile : {
           bytes({ESC, 'K', 0xFF, 0xFF, 1, 2, 3}),
           bytes({ESC, 'k', 0xFF, 0xFF}),
           bytes({ESC, 'b', 6, 2, 2, 50}) + std::string(5000, 'A'),
           bytes({ESC, 'D', 1, 2, 3}),
           bytes({ESC, '*', 'r', 'A', 'b', 0xFF, 0xFF}) + std::string(300, '\xFF'),
           bytes({ESC, '*', 'r', 'Y'}) + std::string(40, '9') + bytes({0}),
           bytes({ESC, GS, 'y', 'D', '1', 0, 0xFF, 0xFF, 'x', ESC, GS, 'y', 'P'}),
           bytes({ESC, 'i', 9, 9, ESC, 'W', 200, ESC, GS, 'a', 9, ESC, GS, 't', 200}) + "X",
           bytes({ESC, 'b', 9, 2, 2, 50}) + "12" + bytes({RS}) + "after",
           bytes({ESC, 'b', 0, 2, 2, 50}) + "12345" + bytes({RS}) + "after",
       }) {
    const Receipt receipt = parseStarReceipt(hostile, settings);
    EXPECT_FALSE(receipt.limited);
    for (const DrawOp& op : receipt.ops) {
      EXPECT_GE(op.x, 0);
      EXPECT_LE(op.x + op.width, kReceiptWidth80);
      if (op.kind == kDrawText) EXPECT_LE(op.widthScale, 6);
    }
    if (hostile.size() > 5 && hostile.compare(hostile.size() - 5, 5, "after") == 0)
      EXPECT_NE(describe(receipt.ops).find("'after'"), std::string::npos) << describe(receipt.ops);
  }
  // A raster image of many rows is laid out in images of at most 1024 rows.
  std::string rows = bytes({ESC, '*', 'r', 'A'});
  for (int i = 0; i < 3000; ++i) rows += bytes({'b', 1, 0, 0x80});
  const Receipt raster = parseStarReceipt(rows, settings);
  int images = 0, height = 0;
  for (const DrawOp& op : raster.ops)
    if (op.kind == kDrawImage) {
      ++images;
      height += op.height;
      EXPECT_LE(op.height, 1024);
    }
  EXPECT_EQ(images, 3);
  EXPECT_EQ(height, 3000);
}

}  // namespace
