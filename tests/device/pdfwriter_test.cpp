// ferrin's own PDF writer behind the device calls (device/pdfdevice.h), the
// one the Windows program writes PDF copies with, driven here as the
// printing layer drives a device and read back with poppler's tools: the
// metrics and printable area of the POSIX device, lines where the current
// position puts them, characters where ExtTextOut's advances put them, box
// drawing as ASCII, an image of its size, landscape after ResetDC, receipt
// paper as long as the receipt, and nothing left behind when abandoned.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include "device/pdfdevice.h"

namespace {

std::string run(const std::string& command) {
  std::string output;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return output;
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, n);
  pclose(pipe);
  return output;
}

LogFont courierOf(int height, int weight = 400) {
  LogFont lf;
  std::memset(&lf, 0, sizeof lf);
  lf.lfHeight = height;
  lf.lfWeight = weight;
  std::strcpy(lf.lfFaceName, "Courier New");
  return lf;
}

// The left edge of the first word `word` in the PDF's page, in points.
double leftOf(const std::string& pdf, const std::string& word, int page = 1) {
  std::istringstream in(run("pdftotext -bbox -f " + std::to_string(page) + " -l " + std::to_string(page) + " '" +
                            pdf + "' - 2>/dev/null"));
  for (std::string line; std::getline(in, line);) {
    if (line.find(">" + word + "</word>") == std::string::npos) continue;
    std::string::size_type at = line.find("xMin=\"");
    if (at != std::string::npos) return std::stod(line.substr(at + 6));
  }
  return -1;
}

FontHandle handleOf(int n) { return reinterpret_cast<FontHandle>(static_cast<std::intptr_t>(0x1000 + n)); }

}  // namespace

TEST(PdfWriter, APrintoutReadsBackWithItsGeometryPagesAndImage) {
  for (const char* tool : {"pdftotext", "pdfinfo", "pdfimages"})
    ASSERT_FALSE(run(std::string("command -v ") + tool).empty()) << tool << " is missing: run scripts/install-deps.sh";
  char folder[] = "/tmp/ferrin-pdfwriter.XXXXXX";
  ASSERT_NE(mkdtemp(folder), nullptr);
  const std::string pdf = std::string(folder) + "/copy.pdf";

  DeviceContext dc = createPdfContext(pdf, PdfPaper(), handleOf(0), courierOf(-12));
  ASSERT_TRUE(isPdfContext(dc));
  ASSERT_GT(startPdfDoc(dc, "Print job"), 0);
  // A4 less a quarter inch all round at 600 dpi, as the POSIX device has it.
  EXPECT_EQ(pdfDeviceCaps(dc, kDeviceHorzRes), 4961 - 300);
  EXPECT_EQ(pdfDeviceCaps(dc, kDeviceVertRes), 7016 - 300);
  EXPECT_EQ(pdfDeviceCaps(dc, kDeviceLogPixelsY), 600);
  EXPECT_EQ(selectPdfFont(dc, handleOf(1), courierOf(-83)), handleOf(0));
  TextMetrics tm{};
  ASSERT_TRUE(pdfTextMetrics(dc, &tm));
  EXPECT_EQ(tm.tmAscent, 69);
  EXPECT_EQ(tm.tmDescent, 25);
  EXPECT_EQ(tm.tmHeight, 94);
  EXPECT_EQ(tm.tmAveCharWidth, 50);

  ASSERT_GT(startPdfPage(dc), 0);
  setPdfTextAlign(dc, kDeviceTaUpdateCp);
  movePdfTo(dc, 0, 0);
  const std::u16string first = u"Qty  Item";
  ASSERT_TRUE(pdfTextOut(dc, 0, 0, first.data(), static_cast<int>(first.size()), nullptr));
  ASSERT_TRUE(pdfTextOut(dc, 0, 0, u" 2.50", 5, nullptr));  // goes on from the current position
  int x = 0, y = 0;
  ASSERT_TRUE(pdfCurrentPosition(dc, &x, &y));
  EXPECT_EQ(x, 14 * 50);
  movePdfTo(dc, 0, 94);
  ASSERT_TRUE(pdfTextOut(dc, 0, 0, u"\u250C\u2500\u2510 caf\u00E9 \u20AC5", 11, nullptr));
  setPdfTextAlign(dc, kDeviceTaBaseline);
  const int dx[5] = {100, 100, 100, 100, 100};
  ASSERT_TRUE(pdfTextOut(dc, 1000, 400, u"WIDE!", 5, dx));
  const unsigned char bits[16 * 4] = {0xFF, 0xFF, 0, 0};
  MonoBitmapInfo info{16, 16};
  EXPECT_EQ(pdfStretchMonoBitmap(dc, 0, 600, 160, 160, &info, bits), 16);
  ASSERT_GT(endPdfPageOf(dc), 0);
  PdfPaper landscape;
  landscape.landscape = true;
  ASSERT_TRUE(resetPdfPaper(dc, landscape));
  ASSERT_GT(startPdfPage(dc), 0);
  ASSERT_TRUE(pdfTextOut(dc, 0, 0, u"turned", 6, nullptr));
  bool diskFull = true;
  ASSERT_GT(endPdfDoc(dc, &diskFull), 0);
  EXPECT_FALSE(diskFull);
  EXPECT_TRUE(deletePdfContext(dc));
  EXPECT_FALSE(isPdfContext(dc));

  std::string text = run("pdftotext -fixed 6 '" + pdf + "' - 2>/dev/null");
  EXPECT_NE(text.find("Qty  Item 2.50"), std::string::npos) << text;
  EXPECT_NE(text.find("+-+ caf\u00E9 \u20AC5"), std::string::npos) << text;
  std::string info1 = run("pdfinfo -f 1 -l 2 '" + pdf + "'");
  EXPECT_NE(info1.find("Pages:           2"), std::string::npos) << info1;
  EXPECT_NE(info1.find("Page    1 size:  595.276 x 841.89 pts (A4)"), std::string::npos) << info1;
  EXPECT_NE(info1.find("Page    2 size:  841.89 x 595.276 pts (A4)"), std::string::npos) << info1;
  EXPECT_NE(info1.find("Title:           Print job"), std::string::npos) << info1;
  // A quarter inch in; a character of 50 dots is 6 points, a dx of 100
  // dots 12 points.
  EXPECT_NEAR(leftOf(pdf, "Qty"), 18.0, 0.2);
  EXPECT_NEAR(leftOf(pdf, "Item"), 18.0 + 5 * 6.0, 0.2);
  EXPECT_NEAR(leftOf(pdf, "2.50"), 18.0 + 10 * 6.0, 0.2);
  EXPECT_NEAR(leftOf(pdf, "W"), 18.0 + 1000 * 0.12, 0.5);
  std::string images = run("pdfimages -list '" + pdf + "'");
  // A 1-bit mask of 16 x 16 drawn 160 dots wide: 60 pixels an inch.
  EXPECT_NE(images.find("stencil    16    16  -       1   1  image  no"), std::string::npos) << images;
  EXPECT_NE(images.find("60    60"), std::string::npos) << images;
  EXPECT_EQ(access((pdf + ".part").c_str(), F_OK), -1);

  // Receipt paper: 58 mm wide, as long as the receipt and its margins.
  const std::string receipt = std::string(folder) + "/receipt.pdf";
  dc = createPdfContext(receipt, PdfPaper(), handleOf(0), courierOf(-83));
  ASSERT_TRUE(setPdfRollPaper(dc, 5800, 4800));
  ASSERT_GT(startPdfDoc(dc, "Print job"), 0);
  ASSERT_GT(startPdfPage(dc), 0);
  setPdfTextAlign(dc, kDeviceTaUpdateCp);
  for (int line = 0; line < 3; ++line) {
    movePdfTo(dc, 0, line * 94);
    ASSERT_TRUE(pdfTextOut(dc, 0, 0, u"TOTAL 2.50", 10, nullptr));
  }
  ASSERT_GT(endPdfDoc(dc, &diskFull), 0);
  EXPECT_TRUE(deletePdfContext(dc));
  std::string info2 = run("pdfinfo '" + receipt + "'");
  // 3 mm, three lines down to the last one's descent (2 x 94 + 69 + 24
  // dots: 11.89 mm), 3 mm: 17.89 mm.
  EXPECT_NE(info2.find("Page size:       164.409 x 50.712 pts"), std::string::npos) << info2;

  // Abandoned: nothing at the name, no scratch file.
  const std::string dropped = std::string(folder) + "/dropped.pdf";
  dc = createPdfContext(dropped, PdfPaper(), handleOf(0), courierOf(-83));
  ASSERT_GT(startPdfDoc(dc, "Print job"), 0);
  ASSERT_GT(startPdfPage(dc), 0);
  ASSERT_GT(abortPdfDoc(dc), 0);
  EXPECT_TRUE(deletePdfContext(dc));
  EXPECT_EQ(run("ls -A '" + std::string(folder) + "'"), "copy.pdf\nreceipt.pdf\n");
  run("rm -rf '" + std::string(folder) + "'");
}
