// Printer control codes left out of printouts: whole ESC/P and ESC/POS
// printouts come out as exactly their text, the two languages part where
// they read the same bytes differently, and a reader that sees the file
// through a small buffer gets the same text as one that holds it all.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <initializer_list>
#include <string>

#include "lang/scan.h"

namespace {

std::string bytes(std::initializer_list<int> values) {
  std::string s;
  for (int v : values) s += static_cast<char>(v);
  return s;
}

const int ESC = 0x1B, GS = 0x1D, FS = 0x1C, DLE = 0x10;

// Data bytes that look like line ends, page ends, end of file and commands.
const std::string kTricky = bytes({0x0C, 0x0D, 0x0A, 0x1A, 0x00, 0x1B, 'E', 0x09, 0x1D, 'V'});

// An invoice from a dot-matrix printer driver.
std::string escPInvoice() {
  std::string p;
  p += bytes({ESC, '@', ESC, 't', 1, ESC, 'x', '1'});
  p += bytes({ESC, 'E'}) + "INVOICE 1042" + bytes({ESC, 'F'}) + "\r\n";
  p += bytes({ESC, '-', '1'}) + "Item" + bytes({ESC, '-', '0'}) + "\tQty\tPrice\r\n";
  p += bytes({0x0F}) + "Widget, small" + bytes({0x12}) + "\r\n";
  p += bytes({ESC, 'W', 1}) + "BIG" + bytes({ESC, 'W', 0}) + "\r\n";
  // 8-dot bit image of 10 columns, then a 24-dot one of 4 columns.
  p += bytes({ESC, 'K', 10, 0}) + kTricky + "\r\n";
  p += bytes({ESC, '*', 39, 4, 0}) + kTricky + "AB" + "\r\n";
  p += bytes({ESC, '^', 0, 5, 0}) + kTricky;  // 9-dot: 2 bytes a column
  // Raster graphics: plain (8 rows of 10 dots), run-length coded (2 rows of
  // 20 dots: 3 literal bytes, then 0x0C three times), and TIFF commands.
  p += bytes({ESC, '.', 0, 10, 10, 8, 10, 0}) + kTricky + "LMNOPQ";
  p += bytes({ESC, '.', 1, 10, 10, 2, 20, 0, 2, 'X', 0x1A, 'Y', 0xFE, 0x0C});
  p += bytes({ESC, '.', 2, 10, 10, 1, 0, 0, 0x23, 'a', 0x0D, 'b', 0x31, 5}) + "cd\nef";
  p += bytes({0x41, 0x52, 0x10, 0x00, 0x80, 0xE2, 0xE3});
  p += bytes({ESC, '(', 'U', 1, 0, 10, ESC, '(', 'C', 2, 0, 0x10, 0x0E});
  p += bytes({ESC, '(', '^', 4, 0}) + "Note";  // printed as characters
  p += bytes({ESC, 'D', 8, 16, 24, 0, ESC, 'B', 5, 10, 0, ESC, 'b', 1, 'Q', 'R', 0});
  p += bytes({ESC, 'C', 0, 11, ESC, 'C', 'B'});
  // Two user-defined characters, 2 and 1 columns wide.
  p += bytes({ESC, '&', 0, 'A', 'B', 0, 2, 0}) + kTricky.substr(0, 6) + bytes({0, 1, 0, 'Z', 'Z', 'Z'});
  p += bytes({ESC, '3', 24, ESC, 'J', 'J', ESC, '$', 'T', 0, ESC, '\\', 'U', 0, ESC, 'X', 0, 'V', 0});
  p += bytes({ESC, 'p', '1'}) + "Thank you" + bytes({ESC, 'p', '0'}) + "\r\n";
  p += bytes({0x07, 0x08, 0x14, 0x18, ESC, 0x01}) + "Total\t12.50\r\n" + bytes({0x0C});
  return p;
}

const char kEscPInvoiceText[] =
    "INVOICE 1042\r\n"
    "Item    Qty     Price\r\n"
    "Widget, small\r\n"
    "BIG\r\n"
    "\r\n"
    "\r\n"
    "NoteThank you\r\n"
    "Total   12.50\r\n"
    "\f";

// A receipt from a point-of-sale program for a receipt printer.
std::string escPosReceipt() {
  const std::string url = "https://shop.example/r/42";
  std::string p;
  p += bytes({ESC, '@', ESC, 't', DLE, ESC, 'R', 0, ESC, 'a', 1});
  p += bytes({ESC, '!', 0x30}) + "STORE 42" + bytes({ESC, '!', 0}) + "\n";
  p += bytes({GS, '!', 0x11}) + "SALE" + bytes({GS, '!', 0}) + "\n";
  p += bytes({ESC, 'E', 1}) + "TOTAL\t9.99" + bytes({ESC, 'E', 0}) + "\n";
  p += bytes({ESC, '-', 2}) + "thanks" + bytes({ESC, '-', 0}) + "\n";
  p += bytes({GS, 'v', '0', 0, 2, 0, 5, 0}) + kTricky;  // 2 bytes x 5 rows
  // A QR code: model, size, store the text, print.
  p += bytes({GS, '(', 'k', 4, 0, '1', 'A', '2', 0, GS, '(', 'k', 3, 0, '1', 'C', 5});
  p += bytes({GS, '(', 'k', static_cast<int>(url.size() + 3), 0, '1', 'P', '0'}) + url;
  p += bytes({GS, '(', 'k', 3, 0, '1', 'Q', '0'});
  // Graphics stored through GS ( L (8 x 2 dots) and printed through GS 8 L.
  p += bytes({GS, '(', 'L', 12, 0, '0', 'p', '0', 1, 1, '1', 8, 0, 2, 0, 0x0D, 0x0A});
  p += bytes({GS, '8', 'L', 2, 0, 0, 0, '0', '2'});
  // Bar codes: CODE39 up to NUL, CODE128 of 10 bytes.
  p += bytes({GS, 'H', 2, GS, 'h', 80, GS, 'w', 2, GS, 'k', 4}) + "12345" + bytes({0});
  p += bytes({GS, 'k', 73, 10}) + "{B12345678";
  // An NV image of 8 x 8 dots, printed; a user character; a downloaded image.
  p += bytes({FS, 'q', 1, 1, 0, 1, 0}) + kTricky.substr(0, 8) + bytes({FS, 'p', 1, 0});
  p += bytes({ESC, '&', 3, 'A', 'A', 2}) + kTricky.substr(0, 6) + bytes({ESC, '%', 1});
  p += bytes({GS, '*', 1, 1}) + kTricky.substr(2, 8) + bytes({GS, '/', 0});
  p += bytes({ESC, '*', 33, 2, 0}) + kTricky.substr(0, 6) + "\n";
  // Status, drawer and buffer commands, then feed and cut.
  p += bytes({DLE, 4, 1, DLE, 0x14, 1, 0, 5, DLE, 0x14, 8, 1, 3, 20, 1, 6, 2, 8});
  p += bytes({ESC, 'p', 0, 25, 250, ESC, 'd', 3, GS, 'V', 66, 3});
  p += "Bye\n" + bytes({GS, 'V', 1, ESC, 'i', 0x18, 0x07});
  return p;
}

const char kEscPosReceiptText[] = "STORE 42\nSALE\nTOTAL   9.99\nthanks\n\nBye\n";

// Strips the bytes the way a reader with a buffer of `window` bytes does: it
// hands the scanner what it holds from the offset asked for, and skips
// commands by their length.
std::string stripThroughWindow(const std::string& data, ControlLanguage language, std::size_t window) {
  const unsigned char* all = reinterpret_cast<const unsigned char*>(data.data());
  const std::uint64_t size = data.size();
  std::string text;
  std::size_t column = 0;
  for (std::uint64_t at = 0; at < size;) {
    ControlScan scan;
    beginControlScan(scan, language);
    for (int calls = 0; calls < 100000; ++calls) {
      std::uint64_t from = std::min(at + scan.resumeAt, size);
      std::uint64_t count = std::min<std::uint64_t>(window, size - from);
      if (scanControl(scan, all + from, count, from + count == size) != kControlNeedMore) break;
      EXPECT_LE(scan.need, kControlScanWindow);
    }
    if (scan.kind == kControlKeep) appendKeptByte(text, all[at], column);
    at += scan.kind == kControlSequence ? scan.length : 1;
  }
  return text;
}

TEST(EscScan, DotMatrixInvoiceKeepsExactlyItsText) {
  std::string text = stripControlCodes(escPInvoice(), kEscP);
  EXPECT_EQ(text, kEscPInvoiceText);
  // Plain text, with DEL and 8-bit characters, passes untouched.
  std::string plain = "Kc 1.234,50 \x7f \x80\x9a\xe1\xfe end";
  EXPECT_EQ(stripControlCodes(plain, kEscP), plain);
  EXPECT_EQ(stripControlCodes(plain, kEscPos), plain);
  // TABs reach the next multiple of 8 columns, counted again after CR, LF and FF.
  EXPECT_EQ(stripControlCodes("a\tb\r\tc\n1234567\t8\f12345678\t9", kEscP),
            "a       b\r        c\n1234567 8\f12345678        9");
}

TEST(EscScan, ReceiptPrinterReceiptKeepsExactlyItsText) {
  EXPECT_EQ(stripControlCodes(escPosReceipt(), kEscPos), kEscPosReceiptText);
}

TEST(EscScan, LanguagesReadTheSameBytesTheirOwnWay) {
  struct Case {
    std::string in, escP, escPos;
  } cases[] = {
      {bytes({ESC, 'E'}) + "X", "X", ""},                       // bold / emphasis n
      {bytes({ESC, 'K', 2, 0}) + "abc", "c", "abc"},            // bit image / reverse feed n
      {bytes({ESC, 'W', 1}) + "1234567X", "1234567X", "X"},     // width n / page area
      {bytes({GS, '!', 0x11}) + "Hi", "!Hi", "Hi"},             // GS is a lone byte in ESC/P
      {bytes({FS, '&'}) + "ok", "&ok", "ok"},
      {bytes({DLE, 4, 1}) + "ok", "ok", "ok"},
      {bytes({DLE}) + "Ab", "Ab", "Ab"},                        // DLE before no command
      {bytes({ESC, '~'}) + "Zed", "Zed", "Zed"},                // unknown: two bytes
      {bytes({GS, '~'}) + "Zed", "~Zed", "Zed"},
      {"a" + bytes({0x1A}) + "b", "ab", "ab"},                  // Ctrl-Z is a control byte here
      {"abc" + bytes({ESC, 'K', 16, 0}) + "xyz", "abc", "abcxyz"},  // cut off by the end
      {"abc" + bytes({GS, 'v', '0', 0, 1, 0}), "abcv0", "abc"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(stripControlCodes(c.in, kEscP), c.escP) << testing::PrintToString(c.in);
    EXPECT_EQ(stripControlCodes(c.in, kEscPos), c.escPos) << testing::PrintToString(c.in);
  }
}

TEST(EscScan, SmallBufferReaderAgreesWithWholeBuffer) {
  std::string samples[] = {escPInvoice(), escPosReceipt(), escPInvoice() + escPosReceipt()};
  for (const std::string& s : samples) {
    for (ControlLanguage language : {kEscP, kEscPos}) {
      std::string whole = stripControlCodes(s, language);
      EXPECT_EQ(stripThroughWindow(s, language, 128), whole);
      EXPECT_EQ(stripThroughWindow(s, language, kControlScanWindow), whole);
    }
  }

  // A raster image far larger than the bytes at hand is measured from its
  // header: 65535 x 65535 bytes after 8.
  const std::string image = bytes({GS, 'v', '0', 0, 255, 255, 255, 255});
  const unsigned char* at = reinterpret_cast<const unsigned char*>(image.data());
  ControlScan scan;
  beginControlScan(scan, kEscPos);
  EXPECT_EQ(scanControl(scan, at, 2, false), kControlNeedMore);
  EXPECT_EQ(scan.resumeAt, 0u);
  EXPECT_EQ(scan.need, 3u);
  EXPECT_EQ(scanControl(scan, at, 5, false), kControlNeedMore);
  EXPECT_EQ(scan.need, 8u);
  ASSERT_EQ(scanControl(scan, at, 8, false), kControlSequence);
  EXPECT_EQ(scan.length, 8u + 65535ull * 65535ull);
  EXPECT_EQ(scan.command, 0x1D7630u);
  EXPECT_EQ(scan.commandLength, 3);
  EXPECT_EQ(scan.headerLength, 8);
  EXPECT_TRUE(scan.known);
  EXPECT_FALSE(scan.truncated);

  // A bar code up to NUL is walked: the scanner asks for the bytes after
  // those it has seen, and the end of the data cuts it off.
  const std::string code = bytes({GS, 'k', 4}) + "123456";
  at = reinterpret_cast<const unsigned char*>(code.data());
  beginControlScan(scan, kEscPos);
  ASSERT_EQ(scanControl(scan, at, 6, false), kControlNeedMore);
  EXPECT_EQ(scan.resumeAt, 6u);
  EXPECT_EQ(scan.need, 1u);
  ASSERT_EQ(scanControl(scan, at + 6, 3, true), kControlSequence);
  EXPECT_EQ(scan.length, 9u);
  EXPECT_EQ(scan.command, 0x1D6Bu);
  EXPECT_TRUE(scan.truncated);

  // Single bytes say what they are.
  const unsigned char lone[] = {0x0D, 0x09, 0x0C, 0x0A, 0x07, 0x00, 'A'};
  const ControlKind want[] = {kControlKeep, kControlKeep, kControlKeep, kControlKeep, kControlDrop, kControlDrop,
                              kControlKeep};
  for (std::size_t i = 0; i < sizeof lone; ++i) {
    beginControlScan(scan, kEscPos);
    EXPECT_EQ(scanControl(scan, lone + i, 1, false), want[i]) << i;
    EXPECT_EQ(scan.length, 1u);
  }
}

}  // namespace
