// PCL 5 drawn on a printer: laser printer reports interpreted from memory,
// whole and in pieces, for each group of commands (text, cursor and fonts;
// raster graphics and rectangles; what is passed over), then one drawn on
// the recording fake device with a landscape page, and reports printed
// through the print loop whose pages end at the text length and by the
// paper source command, and whole jobs with exactly the pages the printer
// ejects (blank ones, duplex sides, no page added by a reset or the end);
// and controls=auto telling PCL from the other languages.
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "fake/device_fake.h"
#include "files/errors.h"
#include "lang/pcl.h"
#include "print/printer.h"
#include "print/render.h"
#include "spool/printout.h"
#include "unit/pieces.h"
#include "unit/printspool.h"
#include "unit/tempdir.h"
#include "whole/whole.h"

namespace {

const std::string kEsc = "\x1b";

std::string describe(const DrawOp& op) {
  const std::string at = std::to_string(op.x) + "," + std::to_string(op.y);
  switch (op.kind) {
    case kDrawText:
      return "text " + at + " " + std::to_string(op.advance) + " " + std::to_string(static_cast<int>(op.em)) +
             " cp" + std::to_string(op.codePage) + (op.face.empty() ? "" : " " + op.face) + (op.bold ? " bold" : "") +
             (op.italic ? " italic" : "") + (op.underline ? " underline" : "") + " '" + op.text + "'";
    case kDrawImage:
      return "image " + at + " " + std::to_string(op.width) + "x" + std::to_string(op.height) + " " +
             std::to_string(op.dpiX);
    case kDrawScreenLine: return "screen '" + op.text + "'";
    case kDrawPageEnd: return "page end";
    case kDrawPageSetup: return op.landscape ? "landscape" : "portrait";
    default: return "?";
  }
}

std::vector<std::string> describe(const std::vector<DrawOp>& ops) {
  std::vector<std::string> lines;
  for (const DrawOp& op : ops) lines.push_back(describe(op));
  return lines;
}

std::vector<DrawOp> inPieces(const std::string& bytes, std::size_t piece) {
  PclState state;
  beginPcl(state);
  return feedInPieces(
      state, bytes, piece,
      [](PclState& s, const unsigned char* data, std::size_t size, bool end) {
        return interpretPcl(s, data, size, end);
      },
      [](PclState& s) { return takePclOps(s); }, [](PclState& s) { finishPcl(s); });
}

// The operations of the whole bytes, checked to be the same fed in pieces.
std::vector<DrawOp> parsedAlike(const std::string& bytes) {
  const std::vector<DrawOp> ops = parsePcl(bytes);
  for (std::size_t piece : {1, 3, 64}) {
    const std::vector<DrawOp> pieces = inPieces(bytes, piece);
    EXPECT_EQ(describe(pieces), describe(ops)) << piece;
    for (std::size_t i = 0; i < ops.size() && i < pieces.size(); ++i)
      EXPECT_EQ(pieces[i].bits, ops[i].bits) << piece << " " << i;
  }
  return ops;
}

std::string rowOf(const DrawOp& image, int row) {
  std::string dots;
  for (int x = 0; x < image.width; ++x) dots += drawDotAt(image, x, row) ? '#' : '.';
  return dots;
}

}  // namespace

// An accounting program's report through its LaserJet driver: A4, 8 lines
// per inch, a header in bold PC-8 with a box character, columns placed by
// row and column, by decipoints and by dots, absolute and relative, a pushed
// and popped place, a tab, a backspace, Roman-8 accents, a proportional
// serif and sans face, Line Printer, italic, underline, the secondary font
// by SO and SI, CR LF by line termination, and a form feed. Places are
// 1/7200 inch from a quarter inch in and down; baselines.
TEST(PclOperations, TextCursorAndFonts) {
  const std::string report =
      kEsc + "E" + kEsc + "&l26a0o8D" + kEsc + "&l1E" +        // A4 portrait, 8 lpi, top margin 1 line
      kEsc + "(10U" + kEsc + "(s0p10h12v0s3b3T" + "Total\xcd\r\n" +  // PC-8, Courier 10 pitch bold
      kEsc + "(8U" + kEsc + "(s0B" + kEsc + "&a2R" + kEsc + "&a10C" + "caf\xc5\r\n" +  // Roman-8 e-acute
      kEsc + "&a+720H" + kEsc + "&f0S" + kEsc + "*p600x900Y" + "A" + kEsc + "&f1S" + "B\tC\bD\r\n" +
      kEsc + "(s1p14v4101T" + "Serif" + kEsc + "(s16602T" + kEsc + "(s1S" + "Sans\r\n" +
      kEsc + "(s0p16.67h8.5v0s0T" + kEsc + "&d0D" + "lp" + kEsc + "&d@" + "\r\n" +
      kEsc + ")0N" + kEsc + ")s0p10h12V" + "\x0e\xe9\x0f" + "x" + kEsc + "&k2G" + "\n" + "y\x0cz";
  const std::vector<std::string> want = {
      // Top margin 1 line of 900; the first baseline 3/4 line below: 900 + 675 - 1800.
      "text 0,-225 720 1200 cp437 bold 'Total\xcd'",
      "screen 'Total\xcd'",
      // Row 2: two lines below the first; column 10 at 720 a column. Roman-8's
      // 0xC5 is drawn as 1252's e-acute.
      "text 7200,1575 720 1200 cp1252 'caf\xe9'",
      "screen '          caf\xc5'",  // the echo keeps the columns
      // 720 decipoints to the right of the left margin, that place pushed;
      // 600 dots across and 900 down from the top margin; the place popped.
      "text 14400,20700 720 1200 cp1252 'A'",
      "screen '                    A'",
      "text 7200,2475 720 1200 cp1252 'B'",
      "text 11520,2475 720 1200 cp1252 'C'",  // the tab: 8 columns on from the margin
      "text 11520,2475 720 1200 cp1252 'D'",  // the backspace: over the C
      "screen '          B     CD'",
      "text 0,3375 0 1400 cp1252 Times New Roman 'Serif'",
      "text 3444,3375 0 1400 cp1252 Arial italic 'Sans'",
      "screen 'SerifSans'",
      "text 0,4275 431 850 cp1252 underline 'lp'",  // Line Printer, 16.67 pitch, upright again
      "screen 'lp'",
      "text 0,5175 720 1200 cp1252 '\xe9'",  // the secondary font: ISO Latin 1, 10 pitch
      "text 720,5175 431 850 cp1252 'x'",
      "screen '\xe9x'",
      // Line termination 2: LF is CR LF, and FF is CR FF.
      "text 0,6075 431 850 cp1252 'y'",
      "screen 'y'",
      "page end",
      "text 0,-225 431 850 cp1252 'z'",
      "screen 'z'",
  };
  EXPECT_EQ(describe(parsedAlike(report)), want);
}

// Raster graphics at 150 dpi with each compression (none, run lengths,
// PackBits, delta rows from the row before), rows passed over by ESC *b#Y,
// the cursor moved below the picture, and rectangles where the cursor is: a
// black rule with the coarsest dots that give its size exactly, a shaded box
// at 300 dpi. Boxes piled on one page beyond any use are left out, up to
// the page's end.
TEST(PclOperations, RasterEachCompressionAndRectangles) {
  const std::string graphics =
      kEsc + "E" + kEsc + "*p300x300Y" + kEsc + "*t150R" + kEsc + "*r16S" + kEsc + "*r1A" +
      kEsc + "*b0m2W" + std::string("\xff\x0f", 2) +                   // none
      kEsc + "*b1m2W" + std::string("\x01\xaa", 2) +                   // two of AA
      kEsc + "*b2m5W" + std::string("\x00\x81\xfe\x3c\x80", 5) +       // 81, then three of 3C (the third cut off by the width)
      kEsc + "*b3m2W" + std::string("\x00\x18", 2) +                   // the row before, its first byte 18
      kEsc + "*b3m0W" +                                                // the row before again
      kEsc + "*b2Y" + kEsc + "*b0m1W\x80" + kEsc + "*rC" +
      kEsc + "*c600a3b0P" + kEsc + "*p+0Y" + kEsc + "*c150a75b50g2P" + "X";
  const std::vector<DrawOp> ops = parsedAlike(graphics);
  const std::vector<std::string> want = {
      "image 7200,9000 16x5 150",  // at the cursor: 1 inch from the logical page's edge, 1 inch below the top margin
      "image 7200,9336 16x1 150",  // two rows of 1/150 inch passed over
      "image 7200,9384 200x1 100", // the cursor went on below the picture; 2 inches by 3 dots at 300 dpi
      "image 7200,9384 150x75 300",
      "text 7200,9384 720 1200 cp1252 'X'",
      "screen '          X'",
  };
  ASSERT_EQ(describe(ops), want);
  EXPECT_EQ(rowOf(ops[0], 0), "########....####");
  EXPECT_EQ(rowOf(ops[0], 1), "#.#.#.#.#.#.#.#.");
  EXPECT_EQ(rowOf(ops[0], 2), "#......#..####..");
  EXPECT_EQ(rowOf(ops[0], 3), "...##.....####..");
  EXPECT_EQ(rowOf(ops[0], 4), "...##.....####..");
  EXPECT_EQ(rowOf(ops[1], 0), "#...............");
  EXPECT_EQ(rowOf(ops[2], 0), std::string(200, '#'));
  int inked = 0;
  for (int y = 0; y < ops[3].height; ++y)
    for (int x = 0; x < ops[3].width; ++x) inked += drawDotAt(ops[3], x, y) ? 1 : 0;
  EXPECT_NEAR(inked, 150 * 75 / 2, 150 * 75 / 20);  // half shaded

  std::string piled = kEsc + "E";
  for (int i = 0; i < 20; ++i) piled += kEsc + "*c2400a3000b25g2P";  // 8 x 10 inches, 900 KB each
  piled += "\x0c" + kEsc + "*c2400a3000b25g2P";
  std::vector<std::size_t> pages(1, 0);
  for (const DrawOp& op : parsePcl(piled)) {
    if (op.kind == kDrawPageEnd) pages.push_back(0);
    if (op.kind == kDrawImage) pages.back() += op.bits.size();
  }
  ASSERT_EQ(pages.size(), 2u);
  EXPECT_LE(pages[0], 12u << 20);
  EXPECT_GE(pages[0], 11u << 20);
  EXPECT_EQ(pages[1], 300u * 3000u);
}

// What is passed over prints nothing: PJL before the job, a font header
// and a character download whose data holds ESC and letters, HP-GL/2 with
// its labels, a macro's definition, transparent data (printed as it is),
// unknown and malformed commands, huge values and a raster row announced
// longer than any held. Only the text of the page is left.
TEST(PclOperations, PassedOverPrintsNothing) {
  const std::string font = "\x1b" "E junk \x1b*p0X \x00\xff";
  const std::string job =
      kEsc + "%-12345X@PJL JOB NAME=\"X\"\r\n@PJL SET RESOLUTION=600\r\n@PJL ENTER LANGUAGE=PCL\r\n" + kEsc + "E" +
      kEsc + ")s" + std::to_string(font.size()) + "W" + font + kEsc + "*c65d33E" + kEsc + "(s3W" + "ab\x1b" +
      "One" + kEsc + "%1BIN;SP1;PU100,100;LBLabel\x03;PD200,200;" + kEsc + "%0A" +
      kEsc + "&f1y0X" + "Macro text" + kEsc + "*b1W\x1b" + kEsc + "&f1X" +
      kEsc + "&p3X\x1b" "ZQ" + kEsc + "&z99Q" + kEsc + "*v1234567890123456789X" + kEsc + "&l99999999A" +
      kEsc + "&a-99999999999R" + kEsc + "*b99999999999W" + "Two" + kEsc + "%-12345X@PJL EOJ\r\n";
  std::vector<std::string> texts;
  for (const DrawOp& op : parsedAlike(job))
    if (op.kind == kDrawText) texts.push_back(op.text);
  // The raster row announced as longer than anything held swallows what follows it.
  EXPECT_EQ(texts, std::vector<std::string>({"One", "\x1bZQ"}));
  std::vector<std::string> untilRaster;
  for (const DrawOp& op : parsePcl(job.substr(0, job.find(kEsc + "*b9999")) + "Two"))
    if (op.kind == kDrawText) untilRaster.push_back(op.text);
  EXPECT_EQ(untilRaster, std::vector<std::string>({"One", "\x1bZQ", "Two"}));
}

namespace {

const std::string kTurningDoc = kEsc + "E" + "Portrait" + kEsc + "&l1O" + "Land" + kEsc + "(s1P" + "Prop" + kEsc +
                                "*t300R" + kEsc + "*r1A" + kEsc + "*b1W\xf0" + kEsc + "*rB";

void drawPcl(const std::string& doc) {
  clearError();
  attachPrinter("Report");
  ASSERT_EQ(lastError(), 0);
  RenderState render;
  beginRender(render, pclPaper(), "Courier New", nullptr);
  renderOps(render, parsePcl(doc));
  EXPECT_EQ(lastError(), 0);
  detachPrinter();
}

}  // namespace

// Drawn on the printer: a portrait page, then a landscape one (the
// printer's settings turned before the page begins), characters on their
// baseline and on the 10-pitch grid, a proportional run at the font's own
// advance, a raster picture at its resolution. A printer that cannot turn
// its pages prints them all the same, unturned.
TEST(Pcl, LandscapePageDrawnOnThePrinter) {
  resetFakeDevice();
  drawPcl(kTurningDoc);

  EXPECT_EQ(fakeCallsOf("SetOrientation"), std::vector<std::string>({"SetOrientation(settings,1)=1"}));
  ASSERT_EQ(fakeDevice.texts.size(), 3u);
  // 600 dpi: the first baseline at 1/2 + 3/4 x 1/6 inch from the paper's
  // top, which is the printable area's on the fake: 375 dots; the logical
  // page a quarter inch in.
  EXPECT_EQ(fakeDevice.texts[0].page, 1);
  EXPECT_EQ(fakeDevice.texts[0].y, 375);
  EXPECT_EQ(fakeDevice.texts[0].x, 150);
  EXPECT_EQ(fakeDevice.texts[0].advances, std::vector<int>(8, 60));
  EXPECT_EQ(fakeDevice.texts[1].page, 2);
  EXPECT_EQ(fakeDevice.texts[1].text, "Land");
  EXPECT_EQ(fakeDevice.texts[2].x, 150 + 240);
  EXPECT_TRUE(fakeDevice.texts[2].advances.empty());  // TextOutW: the font's own advance
  ASSERT_EQ(fakeDevice.images.size(), 1u);
  EXPECT_EQ(fakeDevice.images[0].page, 2);
  EXPECT_EQ(fakeDevice.images[0].destWidth, 16);  // 8 dots at 300 dpi
  EXPECT_EQ(fakeDevice.documents.size(), 1u);
  EXPECT_EQ(fakeDevice.documents[0].pages, 2);
  EXPECT_TRUE(fakeDevice.misuse.empty()) << fakeCallLog();

  resetFakeDevice();
  failDeviceCall("SetOrientation", 1);
  drawPcl(kTurningDoc);
  EXPECT_EQ(fakeDevice.texts.size(), 3u);
  ASSERT_EQ(fakeDevice.documents.size(), 1u);
  EXPECT_EQ(fakeDevice.documents[0].pages, 2);
  EXPECT_TRUE(fakeDevice.documents[0].ended);
  EXPECT_TRUE(fakeDevice.misuse.empty()) << fakeCallLog();
}

namespace {

// `count` lines "<prefix>01", "<prefix>02" ..., each ended by CR LF.
std::string numberedLines(const std::string& prefix, int count) {
  std::string lines;
  for (int n = 1; n <= count; ++n) lines += prefix + (n < 10 ? "0" : "") + std::to_string(n) + "\r\n";
  return lines;
}

// Each drawn text as "page:text".
std::vector<std::string> pagesAndTexts() {
  std::vector<std::string> drawn;
  for (const FakeText& t : fakeDevice.texts) drawn.push_back(std::to_string(t.page) + ":" + t.text);
  return drawn;
}

// "page:<prefix>NN" for lines `from` to `to` of that page.
void expectLines(std::vector<std::string>& want, int page, const std::string& prefix, int from, int to) {
  for (int n = from; n <= to; ++n)
    want.push_back(std::to_string(page) + ":" + prefix + (n < 10 ? "0" : "") + std::to_string(n));
}

}  // namespace

// A report through the print loop onto the printer, its pages ended by the
// printer itself: a Letter page's default text length at 6 lines per inch
// is 10 inches, 60 lines, and the 61st begins the next page; a text length
// set to 10 lines (ESC &l10F, below a top margin of one line) holds 10, and
// the 11th and the 21st begin pages. Choosing the paper source ejects the
// page (ESC &l0H) only for source 0; a tray (ESC &l1H) leaves the page as
// it is. A page's first line lands where the first page's did.
TEST(Pcl, PagesEndAtTheTextLengthAndByThePaperSource) {
  SpoolPrinted printed = printThroughSpool(kEsc + "E" + numberedLines("D", 61) + kEsc + "E", kControlsPcl, "Report");
  EXPECT_EQ(printed.readError, 0);
  EXPECT_EQ(printed.printError, 0);
  std::vector<std::string> want;
  expectLines(want, 1, "D", 1, 60);
  expectLines(want, 2, "D", 61, 61);
  EXPECT_EQ(pagesAndTexts(), want);
  ASSERT_EQ(fakeDevice.texts.size(), 61u);
  EXPECT_EQ(fakeDevice.texts[60].y, fakeDevice.texts[0].y);
  ASSERT_EQ(fakeDevice.documents.size(), 1u);
  EXPECT_EQ(fakeDevice.documents[0].pages, 2);

  const std::string setUp = kEsc + "E" + kEsc + "&l6D" + kEsc + "&l1E" + kEsc + "&l10F";
  printed = printThroughSpool(setUp + numberedLines("L", 25) + kEsc + "&l1H" + "Tray" + kEsc + "&l0H" + "Next\r\n" +
                                  kEsc + "E",
                              kControlsPcl, "Report");
  EXPECT_EQ(printed.readError, 0);
  EXPECT_EQ(printed.printError, 0);
  want.clear();
  expectLines(want, 1, "L", 1, 10);
  expectLines(want, 2, "L", 11, 20);
  expectLines(want, 3, "L", 21, 25);
  want.push_back("3:Tray");
  want.push_back("4:Next");
  EXPECT_EQ(pagesAndTexts(), want);
  ASSERT_EQ(fakeDevice.texts.size(), 27u);
  EXPECT_EQ(fakeDevice.texts[10].y, fakeDevice.texts[0].y);
  EXPECT_EQ(fakeDevice.texts[20].y, fakeDevice.texts[0].y);
  EXPECT_EQ(fakeDevice.texts[26].y, fakeDevice.texts[0].y);
  ASSERT_EQ(fakeDevice.documents.size(), 1u);
  EXPECT_EQ(fakeDevice.documents[0].pages, 4);
  EXPECT_NE(printed.screen.find("----Page Feed----"), std::string::npos) << printed.screen;
  EXPECT_TRUE(fakeDevice.misuse.empty()) << fakeCallLog();
}

// controls=auto: each printout in the language its first commands show.
// PCL has commands neither dot-matrix nor receipt printers have, though
// both share some of its letters (ESC ( t and ESC * with binary data in
// ESC/P, ESC E for bold in both); a text without commands prints plain.
TEST(Pcl, AutoTellsTheLanguagesApart) {
  TempWorkDir dir;
  PrinterSlot slot{};
  slot.options.controls = kControlsAuto;
  const std::vector<std::pair<std::string, ControlCodes>> printouts = {
      {kEsc + "E" + kEsc + "&l26A" + kEsc + "(s0p10H" + "Report\r\n\x0c", kControlsPcl},
      {kEsc + "%-12345X@PJL ENTER LANGUAGE=PCL\r\nText\r\n", kControlsPcl},
      {kEsc + "*p300x400YTotal", kControlsPcl},
      {kEsc + "@" + kEsc + "E" + "Bold" + kEsc + "F" + std::string("\x1b(t\x03\x00\x01\x02\x00", 8) +
           std::string("\x1b*\x00\x02\x00\x81\x81", 7) + "\r\n",
       kControlsEscP},
      {kEsc + "@" + kEsc + "E\x01" + "Total\n" + "\x1dV\x41\x03", kControlsEscPos},
      {"Plain \xc9\xcd\xbb text\r\n\x0c", kControlsPrint},
  };
  for (const auto& printout : printouts) {
    {
      std::ofstream out("PRINTOUT.TXT", std::ios::binary);
      out << printout.first;
    }
    openSpoolFile("PRINTOUT.TXT");
    EXPECT_EQ(slotControls(slot), printout.second) << printout.first;
    EXPECT_EQ(slotLayout(slot).controls, printout.second) << printout.first;
    closeSpoolFile();
  }
  slot.options.controls = kControlsPcl;
  EXPECT_EQ(slotControls(slot), kControlsPcl);  // a slot's own language is never second-guessed
}

namespace {

// "page:what" for every text and image drawn, in the order drawn.
std::vector<std::string> pagesAndDrawings() {
  std::vector<std::string> drawn = pagesAndTexts();
  for (const FakeImage& image : fakeDevice.images) drawn.push_back(std::to_string(image.page) + ":image");
  return drawn;
}

// A soft font as a Windows driver downloads it: its header, then each
// character's code and data, the data holding bytes of ESC, FF and letters.
std::string softFont() {
  std::string font = kEsc + "*c7D" + kEsc + ")s64W" + std::string(64, '\x0c');
  for (char c = '!'; c <= '%'; ++c)
    font += kEsc + "*c" + std::to_string(static_cast<int>(c)) + "E" + kEsc + "(s20W" + "\x1b" "E\x0c\x0c" "FF\x1b&l1Sabcdefghi";
  return font + kEsc + "*c7d2F" + kEsc + "(7X";
}

// A 64 x 8 picture at 300 dpi in delta rows: the first row given whole, the
// next ones repeat it (empty rows), the last changes one byte.
std::string deltaRaster() {
  std::string raster = kEsc + "*t300R" + kEsc + "*r64S" + kEsc + "*r1A" + kEsc + "*b3M";
  raster += kEsc + "*b9W" + std::string(1, '\xe0') + std::string(8, '\xff');
  for (int row = 1; row < 7; ++row) raster += kEsc + "*b0W";
  raster += kEsc + "*b2W" + std::string("\x03\x0f", 2);
  return raster + kEsc + "*rC";
}

}  // namespace

// Pages as the printer ejects them, through the print loop onto the
// printer. A word processor's one-page letter, its heading in 36 point
// type, ended by FF, a reset and PJL, is one page; a DOS report of full
// pages of lines, each ended by FF, has no blank pages. A Windows driver's
// duplex job (PJL, reset, page set-up, a downloaded soft font whose data
// holds FF and ESC, text by dots, delta-row raster, FF between pages) has
// exactly the sheets' sides the printer ejects: a blank page the document
// holds (FF after FF), a page of raster only, a chapter begun on a front
// side (ESC &a1G on a back side ejects it blank), and ESC &a1G on a front
// side ejects nothing; the trailing reset and PJL add no page. A page
// setting (duplex mode, orientation, page size, source 0) or a reset ends
// a page with something on it and is nothing on a blank one.
TEST(Pcl, PagesAsTheLaserPrinterEjectsThem) {
  const std::string pjlEnd = kEsc + "E" + kEsc + "%-12345X@PJL EOJ\r\n" + kEsc + "%-12345X";
  const std::string letter = kEsc + "%-12345X@PJL ENTER LANGUAGE=PCL\r\n" + kEsc + "E" + kEsc + "&l2a0o0E" +
                             kEsc + "(s1p36v0s3b4101T" + "Heading\r\n" + kEsc + "(s0p10h12v0s0b3T" +
                             numberedLines("Body", 40) + kEsc + "*p0x3000Y" + "Footer" + "\x0c" + pjlEnd;
  SpoolPrinted printed = printThroughSpool(letter, kControlsPcl, "Report");
  EXPECT_EQ(printed.printError, 0);
  ASSERT_EQ(fakeDevice.documents.size(), 1u);
  EXPECT_EQ(fakeDevice.documents[0].pages, 1);
  ASSERT_EQ(fakeDevice.texts.size(), 42u);
  EXPECT_EQ(fakeDevice.texts.back().text, "Footer");
  EXPECT_EQ(fakeDevice.texts.back().page, 1);

  // A DOS report's pages of 60 lines, each ended by FF: the 60th line's
  // feed runs past the text length and begins the next page, and the FF
  // after it adds no blank one.
  printed = printThroughSpool(kEsc + "E" + numberedLines("A", 60) + "\x0c" + numberedLines("B", 60) + "\x0c" + kEsc + "E",
                              kControlsPcl, "Report");
  EXPECT_EQ(printed.printError, 0);
  ASSERT_EQ(fakeDevice.documents.size(), 1u);
  EXPECT_EQ(fakeDevice.documents[0].pages, 2);
  std::vector<std::string> lines;
  expectLines(lines, 1, "A", 1, 60);
  expectLines(lines, 2, "B", 1, 60);
  EXPECT_EQ(pagesAndTexts(), lines);

  std::string job = kEsc + "%-12345X@PJL JOB NAME=\"Report\"\r\n@PJL SET DUPLEX=ON\r\n@PJL ENTER LANGUAGE=PCL\r\n" +
                    kEsc + "E" + kEsc + "&u600D" + kEsc + "&l26a0o1s0E" + kEsc + "&l1H" + softFont();
  auto text = [](const std::string& what) { return kEsc + "*p600x600Y" + what + kEsc + "*p600x700Y!\"#"; };
  job += text("P1") + "\x0c" + text("P2") + "\x0c" + text("P3") + "\x0c";
  job += kEsc + "*p300x300Y" + deltaRaster() + "\x0c";           // side 4: raster only
  job += text("P5") + "\x0c" + "\x0c";                            // side 6: blank
  job += kEsc + "&a1G" + text("P7") + "\x0c" + kEsc + "&a1G";     // side 7 a front; side 8 ejected blank
  job += kEsc + "&l26A" + kEsc + "&l1S" + text("P9") + "\x0c" + kEsc + "*p0x0Y" + deltaRaster() + "\x0c";
  job += kEsc + "&l0H" + kEsc + "&l0S" + kEsc + "&l26A" + text("P11");
  job += kEsc + "&l1O" + text("P12") + kEsc + "&l0H" + text("P13") + kEsc + "&l1S" + text("P14") + kEsc + "&a0G" + text("P15") + pjlEnd;
  printed = printThroughSpool(job, kControlsPcl, "Report");
  EXPECT_EQ(printed.printError, 0);
  ASSERT_EQ(fakeDevice.documents.size(), 1u);
  EXPECT_EQ(fakeDevice.documents[0].pages, 15);
  std::vector<std::string> want;
  for (int page : {1, 2, 3, 5, 7, 9, 11, 12, 13, 14, 15}) {
    want.push_back(std::to_string(page) + ":P" + std::to_string(page));
    want.push_back(std::to_string(page) + ":!\"#");
  }
  want.push_back("4:image");
  want.push_back("10:image");
  EXPECT_EQ(pagesAndDrawings(), want);
  EXPECT_TRUE(fakeDevice.misuse.empty()) << fakeCallLog();
}
