// ESC/P drawn on a printer: a dot-matrix printout interpreted from memory
// and drawn on the recording fake device, every text with its place, font
// and grid, its bit image, its pages from form length and form feed, and
// its echo; then the canvas alone.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "fake/device_fake.h"
#include "files/errors.h"
#include "lang/escp.h"
#include "lang/probe.h"
#include "print/canvas.h"
#include "print/printer.h"
#include "print/render.h"
#include "unit/pieces.h"
#include "whole/whole.h"

namespace {

std::vector<std::string> echoed;

void recordEcho(const std::string& text, bool pageFeed) { echoed.push_back(pageFeed ? "<FF>" : text); }

// One operation as a line: "text x,y advance [bold] [italic] 'text'" and so on.
std::string describe(const DrawOp& op) {
  const std::string at = std::to_string(op.x) + "," + std::to_string(op.y);
  switch (op.kind) {
    case kDrawText:
      return "text " + at + " " + std::to_string(op.advance) + (op.bold ? " bold" : "") +
             (op.italic ? " italic" : "") + (op.underline ? " underline" : "") + " '" + op.text + "'";
    case kDrawImage:
      return "image " + at + " " + std::to_string(op.width) + "x" + std::to_string(op.height) + " " +
             std::to_string(op.dpiX) + "x" + std::to_string(op.dpiY);
    case kDrawScreenLine: return "screen '" + op.text + "'";
    case kDrawPageEnd: return "page end";
    case kDrawPageBreak: return "page break";
  }
  return "?";
}

std::vector<std::string> describe(const std::vector<DrawOp>& ops) {
  std::vector<std::string> lines;
  for (const DrawOp& op : ops) lines.push_back(describe(op));
  return lines;
}

// The bytes fed `piece` at a time, as a reader of a file feeds them.
std::vector<DrawOp> inPieces(const std::string& bytes, std::size_t piece, const EscPSettings& settings) {
  EscPState state;
  beginEscP(state, settings);
  return feedInPieces(
      state, bytes, piece,
      [](EscPState& s, const unsigned char* data, std::size_t size, bool end) {
        return interpretEscP(s, data, size, end);
      },
      [](EscPState& s) { return takeEscPOps(s); }, [](EscPState& s) { finishEscP(s); });
}

// A report straight from its bytes: runs with their place and style, the
// tab stop, a form of three lines that runs out, a form feed, a 24-dot bit
// image (3 bytes a column: its last byte is a printable one, so a data
// length off by one shows as text) and a Ctrl-Z between two characters,
// which ends nothing: the printer ignores it. The same bytes fed in pieces
// give the same operations.
TEST(EscPOperations, WholeReportFromBytesAndInPieces) {
  const std::string report = std::string("\x1b@\x1b" "C\x03") + "Name\tQty\r\n" +
                             "\x1b" "ETotal\x1b" "F 12\r\n" + "\x1b" "4x\x1b" "5\x1bW\x01W" + std::string("\x1bW\x00\r\n", 5) +
                             "Next\x0c" + std::string("\x1b*\x20\x02\x00\x80\x00\x00\x00\x00\x41", 11) +
                             "X\x1aY\r\n";
  EscPSettings settings;
  settings.pageUnits = 10 * kEscPUnitsPerInch;
  const std::vector<DrawOp> ops = parseEscP(report, settings);
  const std::vector<std::string> want = {
      "text 0,0 216 'Name'",
      "text 1728,0 216 'Qty'",  // the first tab stop: 8 columns of 1/10 inch
      "screen 'Name    Qty'",
      "text 0,360 216 bold 'Total'",
      "text 1080,360 216 ' 12'",
      "screen 'Total 12'",
      "text 0,720 216 italic 'x'",
      "text 216,720 432 'W'",  // double width
      "screen 'xW'",
      "page break",  // the fourth line would pass the form of three
      "text 0,0 216 'Next'",
      "screen 'Next'",
      "page end",
      "image 0,0 2x24 60x180",  // ESC * 32: 60 dpi across, 24 dots at 180 dpi down
      "text 72,0 216 'XY'",     // after the image's two columns of 1/60 inch
      "screen 'XY'",
  };
  EXPECT_EQ(describe(ops), want);
  ASSERT_EQ(ops[13].kind, kDrawImage);
  EXPECT_TRUE(drawDotAt(ops[13], 0, 0));
  EXPECT_FALSE(drawDotAt(ops[13], 0, 1));
  EXPECT_TRUE(drawDotAt(ops[13], 1, 17));
  EXPECT_TRUE(drawDotAt(ops[13], 1, 23));
  EXPECT_FALSE(drawDotAt(ops[13], 1, 22));

  for (std::size_t piece : {1, 2, 5, 64}) {
    const std::vector<DrawOp> pieces = inPieces(report, piece, settings);
    EXPECT_EQ(describe(pieces), want) << piece;
    for (std::size_t i = 0; i < ops.size() && i < pieces.size(); ++i)
      EXPECT_EQ(pieces[i].bits, ops[i].bits) << piece << " " << i;
  }
}

// The printout drawn on the attached printer as ferrin draws it: the
// printer's page gives the forms' length, the start tells 9 or 24 pins.
void drawEscP(const std::string& doc) {
  RenderState render;
  beginRender(render, escPPaper(), "Courier New", recordEcho);
  EscPSettings settings;
  settings.pageUnits = render.pageUnits;
  settings.pins24 = probePrintout(reinterpret_cast<const unsigned char*>(doc.data()), doc.size()).pins24;
  renderOps(render, parseEscP(doc, settings));
}

// One drawn text as "page x,y text weight/italic/underline/lfWidth advance".
std::string described(const FakeText& t) {
  std::string s = std::to_string(t.page) + " " + std::to_string(t.x) + "," + std::to_string(t.y) + " " + t.text +
                  " " + std::to_string(t.weight) + "/" + (t.italic ? "i" : "-") + "/" + (t.underline ? "u" : "-") +
                  "/" + std::to_string(t.fontWidth);
  if (!t.advances.empty()) s += " " + std::to_string(t.advances.front());
  for (int advance : t.advances)
    if (advance != t.advances.front()) s += " uneven";
  return s;
}

TEST(EscP, SampleDocumentIsDrawnWhole) {
  resetFakeDevice();
  echoed.clear();
  // Forms of 4 lines at 6 lines per inch (400 dots at the fake's 600 dpi).
  static const char kDoc[] =
      "\x1b@\x1b" "C\x04"
      "AB\r\n"
      "\x1b" "EBold\x1b" "F \x1b" "4It\x1b" "5\r\n"
      "\x1b-\x01U\x1b-\x00\x1bW\x01W\x1bW\x00\x0f" "c\x12\x1bMe\x1bP\r\n"
      "\tT\x1b$\x78\x00P"
      "\x1bK\x03\x00\x80\x01\xff"  // 3 columns: the top dot, the bottom dot, all 8
      "\r\n"
      "Next\x0cLast\x1bK\x05\x00\x01";  // an image cut off by the end: not drawn
  const std::string doc(kDoc, sizeof kDoc - 1);  // NULs included
  clearError();
  attachPrinter("Report");
  ASSERT_EQ(lastError(), 0);
  drawEscP(doc);
  EXPECT_EQ(lastError(), 0);
  detachPrinter();

  // 12-point characters: lfHeight -100, the fake's ascent 80. Lines 100 dots
  // apart, 10 cpi is 60 dots; condensed 35, 12 cpi 50, double width 120. The
  // fake's natural character width is 10, so lfWidth scales from it.
  std::vector<std::string> want = {
      "1 0,80 AB 400/-/-/0 60",
      "1 0,180 Bold 700/-/-/0 60",
      "1 240,180   400/-/-/0 60",
      "1 300,180 It 400/i/-/0 60",
      "1 0,280 U 400/-/u/0 60",
      "1 60,280 W 400/-/-/20 120",
      "1 180,280 c 400/-/-/6 35",
      "1 215,280 e 400/-/-/8 50",
      "1 480,380 T 400/-/-/0 60",  // the first tab stop, 8 columns in
      "1 1200,380 P 400/-/-/0 60", // ESC $ 120: 2 inches
      "2 0,80 Next 400/-/-/0 60",  // the fifth line begins the next form
      "3 0,80 Last 400/-/-/0 60",  // after the form feed
  };
  std::vector<std::string> got;
  for (const FakeText& t : fakeDevice.texts) got.push_back(described(t));
  EXPECT_EQ(got, want);
  for (const FakeText& t : fakeDevice.texts) EXPECT_EQ(t.face, "Courier New");

  // ESC K: 60 x 72 dpi, after the P, at the top of its line.
  ASSERT_EQ(fakeDevice.images.size(), 1u);
  const FakeImage& image = fakeDevice.images[0];
  EXPECT_EQ(image.page, 1);
  EXPECT_EQ(image.x, 1260);
  EXPECT_EQ(image.y, 300);
  EXPECT_EQ(image.width, 3);
  EXPECT_EQ(image.height, 8);
  EXPECT_EQ(image.destWidth, 30);
  EXPECT_EQ(image.destHeight, 67);
  EXPECT_EQ(image.inked, 10);

  ASSERT_EQ(fakeDevice.documents.size(), 1u);
  EXPECT_EQ(fakeDevice.documents[0].pages, 3);
  EXPECT_TRUE(fakeDevice.documents[0].ended);
  EXPECT_TRUE(fakeDevice.misuse.empty()) << fakeCallLog();
  EXPECT_EQ(fakeDevice.liveFonts, 0);

  std::vector<std::string> wantEcho = {"AB", "Bold It", "UWce", "        TP", "Next", "<FF>", "Last"};
  EXPECT_EQ(echoed, wantEcho);
}

// A printout with 24-dot images is a 24-pin printer's: ESC 3 and ESC J count
// 1/180 inch, ESC A 1/60, and the image is 180 dots per inch down.
TEST(EscP, TwentyFourPinUnits) {
  resetFakeDevice();
  echoed.clear();
  static const char kDoc[] =
      "\x1b*\x27\x02\x00\xff\x00\x01\x80\x00\x00"  // 2 columns of 24 dots at 180 dpi
      "A\x1b" "3\x24\r\nB\x1bJ\x12" "C\x1b" "A\x06\r\nD";
  clearError();
  attachPrinter("Report");
  drawEscP(std::string(kDoc, sizeof kDoc - 1));
  detachPrinter();
  EXPECT_EQ(lastError(), 0);
  ASSERT_EQ(fakeDevice.images.size(), 1u);
  EXPECT_EQ(fakeDevice.images[0].height, 24);
  EXPECT_EQ(fakeDevice.images[0].inked, 10);
  EXPECT_EQ(fakeDevice.images[0].destWidth, 7);
  EXPECT_EQ(fakeDevice.images[0].destHeight, 80);
  std::vector<std::string> got;
  for (const FakeText& t : fakeDevice.texts)
    got.push_back(t.text + "@" + std::to_string(t.x) + "," + std::to_string(t.y));
  // 36/180 inch is 120 dots, 18/180 is 60, 6/60 is 60; baselines 80 below.
  std::vector<std::string> want = {"A@7,80", "B@0,200", "C@60,260", "D@0,320"};
  EXPECT_EQ(got, want);
}

// The canvas alone: its bitmaps reach the device as DIB rows, a page break
// with nothing drawn makes no page, and each failure sets the layer's code.
TEST(Canvas, BitmapsPagesAndFailures) {
  resetFakeDevice();
  clearError();
  CanvasPage page;
  EXPECT_FALSE(canvasPage(&page));
  EXPECT_EQ(lastError(), 57);
  clearError();
  canvasText(0, 0, CanvasStyle(), "x", 10);
  EXPECT_EQ(lastError(), 57);

  clearError();
  attachPrinter("Report");
  ASSERT_TRUE(canvasPage(&page));
  EXPECT_EQ(page.width, 4960);
  EXPECT_EQ(page.dpiY, 600);
  canvasPageBreak();
  // 10 x 2 pixels in rows of 2 bytes: not DIB rows, so copied into them.
  const unsigned char rows[] = {0xFF, 0xC0, 0x80, 0x40};
  CanvasBitmap bitmap;
  bitmap.width = 10;
  bitmap.height = 2;
  bitmap.dpiX = 300;
  bitmap.dpiY = 150;
  bitmap.stride = 2;
  bitmap.bits = rows;
  canvasBitmap(100, 200, bitmap);
  EXPECT_EQ(lastError(), 0);
  ASSERT_EQ(fakeDevice.images.size(), 1u);
  EXPECT_EQ(fakeDevice.images[0].inked, 12);
  EXPECT_EQ(fakeDevice.images[0].destWidth, 20);
  EXPECT_EQ(fakeDevice.images[0].destHeight, 8);

  failDeviceCall("StretchDIBits", 1);
  canvasBitmap(0, 0, bitmap);
  EXPECT_EQ(lastError(), 57);
  clearError();
  failDeviceCall("ExtTextOutW", 1);
  canvasText(0, 100, CanvasStyle(), "text", 60);
  EXPECT_EQ(lastError(), 57);
  clearError();
  CanvasStyle italic;
  italic.italic = true;
  failDeviceCall("CreateFontIndirect", 1);
  canvasText(0, 100, italic, "text", 60);
  EXPECT_EQ(lastError(), 5);
  clearError();
  canvasText(0, 100, italic, "text", 60);  // the next call tries again
  EXPECT_EQ(lastError(), 0);
  ASSERT_EQ(fakeDevice.texts.size(), 1u);
  EXPECT_TRUE(fakeDevice.texts[0].italic);
  canvasPageBreak();
  // Overprinting without end fills no page past its bound: 300,000
  // characters on one line take two pages.
  const std::string half(150000, 'x');
  canvasText(0, 100, CanvasStyle(), half, 60);
  canvasText(0, 100, CanvasStyle(), half, 60);
  EXPECT_EQ(lastError(), 0);
  detachPrinter();
  EXPECT_EQ(fakeDevice.documents[0].pages, 3);
  ASSERT_EQ(fakeDevice.texts.size(), 3u);
  EXPECT_EQ(fakeDevice.texts[2].page, 3);
  EXPECT_EQ(fakeDevice.liveFonts, 0);
  EXPECT_TRUE(fakeDevice.misuse.empty()) << fakeCallLog();
}

}  // namespace
