// A small PDF file writer of ferrin's own, for a platform with no PDF
// printer: text in the standard Courier faces (WinAnsi encoding, so that it
// can be read back and searched), filled rectangles, and 1-bit images as
// image masks. Everything is placed in printer dots (600 per inch) from the
// top-left corner of the printable area; a page's size is given when it
// ends. No compression: printouts are text and a few small images.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct PdfFile;

const int kPdfDotsPerInch = 600;

// Text of one style: the face (bold, italic), the character height (em) and
// the advance of every character in dots, and the fill colour (COLORREF,
// 0x00BBGGRR).
struct PdfTextStyle {
  bool bold = false;
  bool italic = false;
  int em = 83;
  int advance = 50;
  std::uint32_t color = 0;
};

// Starts the file at `path` + ".part" (made or emptied). nullptr when it
// cannot be made.
PdfFile* beginPdfFile(const std::string& path, const std::string& title);
// Text from x with its baseline at y: WinAnsi bytes, each character
// `advances[i]` dots after the one before it (empty: style.advance each).
void addPdfText(PdfFile* file, int x, int y, const std::string& winAnsi, const PdfTextStyle& style,
                const std::vector<int>& advances);
void addPdfRectangle(PdfFile* file, int x, int y, int width, int height, std::uint32_t color);
// A 1-bit image, rows (width + 31) / 32 * 4 bytes, the leftmost pixel in the
// high bit, a set bit black, scaled into the rectangle.
void addPdfImage(PdfFile* file, int x, int y, int destWidth, int destHeight, int width, int height,
                 const unsigned char* bits);
// The lowest dot drawn on the page so far, 0 for none.
int pdfPageBottom(const PdfFile* file);
// Ends the page: paper and printable area's corner in hundredths of a mm,
// what is drawn clipped to the printable area of that width and height.
void endPdfPage(PdfFile* file, int paperWidth, int paperLength, int left, int top, int printableWidth,
                int printableHeight);
int pdfPageCount(const PdfFile* file);
// Finishes the file and puts it at `path` in place of any file of that
// name; frees it. False (nothing left at `path`) when it could not be
// written whole; *diskFull tells a full disk.
bool finishPdfFile(PdfFile* file, bool* diskFull);
// Drops the file unfinished and frees it.
void dropPdfFile(PdfFile* file);

// A UTF-16 character as WinAnsi (code page 1252): itself where it has one,
// box drawing and shading as the nearest ASCII (- | + #), '?' otherwise.
unsigned char winAnsiOf(char16_t c);
