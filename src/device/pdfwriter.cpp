#include "device/pdfwriter.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>

struct PdfFile {
  std::string path;
  std::FILE* out;
  bool failed;
  bool diskFull;
  long long written;
  std::vector<long long> offsets;  // of objects 1, 2, ...: 0 for one not yet written
  std::vector<int> pages;          // the page objects
  std::vector<int> images;         // the current page's images
  std::string content;             // the current page's drawing, in dots
  int bottom;
  std::string title;
};

namespace {

// Objects made at the start: the catalogue, the page tree, the document's
// information, and the four Courier faces.
const int kCatalog = 1, kPageTree = 2, kInfo = 3, kFirstFont = 4, kFontCount = 4;
const char* const kFontNames[kFontCount] = {"Courier", "Courier-Bold", "Courier-Oblique", "Courier-BoldOblique"};

void put(PdfFile* f, const std::string& text) {
  if (f->failed) return;
  if (std::fwrite(text.data(), 1, text.size(), f->out) != text.size()) {
    f->failed = true;
    f->diskFull = errno == ENOSPC;
  }
  f->written += static_cast<long long>(text.size());
}

std::string num(long long n) { return std::to_string(n); }

// A non-negative fraction n / d with three decimals, whatever the locale.
std::string fraction(long long n, long long d) {
  bool negative = (n < 0) != (d < 0);
  long long thousandths = (std::llabs(n) * 1000 + std::llabs(d) / 2) / std::llabs(d);
  std::string text = (negative && thousandths != 0 ? "-" : "") + num(thousandths / 1000) + ".";
  std::string decimals = num(thousandths % 1000);
  return text + std::string(3 - decimals.size(), '0') + decimals;
}

// Hundredths of a mm in points.
std::string points(int hundredthsMm) { return fraction(static_cast<long long>(hundredthsMm) * 72, 2540); }

int newObject(PdfFile* f) {
  f->offsets.push_back(0);
  return static_cast<int>(f->offsets.size());
}

void beginObject(PdfFile* f, int number) {
  f->offsets[static_cast<std::size_t>(number) - 1] = f->written;
  put(f, num(number) + " 0 obj\n");
}

void writeStream(PdfFile* f, int number, const std::string& dictionary, const std::string& data) {
  beginObject(f, number);
  put(f, "<< " + dictionary + " /Length " + num(static_cast<long long>(data.size())) + " >>\nstream\n");
  put(f, data);
  put(f, "\nendstream\nendobj\n");
}

// A PDF string of bytes: parentheses and backslashes escaped, bytes outside
// printable ASCII as octal.
std::string pdfString(const std::string& bytes) {
  std::string text = "(";
  for (unsigned char c : bytes) {
    if (c == '(' || c == ')' || c == '\\') {
      text += '\\';
      text += static_cast<char>(c);
    } else if (c < 0x20 || c > 0x7E) {
      char octal[8];
      (void)std::snprintf(octal, sizeof octal, "\\%03o", c);  // four characters always fit
      text += octal;
    } else {
      text += static_cast<char>(c);
    }
  }
  return text + ")";
}

std::string fillColor(std::uint32_t color) {
  return fraction(color & 0xFF, 255) + " " + fraction((color >> 8) & 0xFF, 255) + " " +
         fraction((color >> 16) & 0xFF, 255) + " rg\n";
}

void noteBottom(PdfFile* f, int bottom) {
  if (bottom > f->bottom) f->bottom = bottom;
}

}  // namespace

PdfFile* beginPdfFile(const std::string& path, const std::string& title) {
  std::FILE* out = std::fopen((path + ".part").c_str(), "wb");
  if (out == nullptr) return nullptr;
  PdfFile* f = new PdfFile();
  f->path = path;
  f->out = out;
  f->failed = f->diskFull = false;
  f->written = 0;
  f->bottom = 0;
  f->title = title;
  for (int i = 0; i < kFirstFont + kFontCount - 1; ++i) newObject(f);
  put(f, "%PDF-1.4\n%\xE2\xE3\xCF\xD3\n");
  beginObject(f, kCatalog);
  put(f, "<< /Type /Catalog /Pages 2 0 R >>\nendobj\n");
  for (int i = 0; i < kFontCount; ++i) {
    beginObject(f, kFirstFont + i);
    put(f, std::string("<< /Type /Font /Subtype /Type1 /BaseFont /") + kFontNames[i] +
               " /Encoding /WinAnsiEncoding >>\nendobj\n");
  }
  return f;
}

void addPdfText(PdfFile* f, int x, int y, const std::string& winAnsi, const PdfTextStyle& style,
                const std::vector<int>& advances) {
  if (winAnsi.empty()) return;
  const int font = (style.bold ? 1 : 0) + (style.italic ? 2 : 0);
  // Courier's characters advance 0.6 em: scaled across so that each takes
  // the font's advance in dots. The page runs downwards, so the glyphs are
  // turned upright.
  const std::string across = fraction(static_cast<long long>(style.advance) * 5, 3);
  const std::string down = num(-style.em);
  std::string& c = f->content;
  c += fillColor(style.color) + "BT /F" + num(font) + " 1 Tf\n";
  if (advances.empty()) {
    c += across + " 0 0 " + down + " " + num(x) + " " + num(y) + " Tm " + pdfString(winAnsi) + " Tj\n";
  } else {
    long long at = x;
    for (std::size_t i = 0; i < winAnsi.size(); ++i) {
      c += across + " 0 0 " + down + " " + num(at) + " " + num(y) + " Tm " + pdfString(winAnsi.substr(i, 1)) + " Tj\n";
      at += i < advances.size() ? advances[i] : style.advance;
    }
  }
  c += "ET\n";
  noteBottom(f, y + style.em * 615 / 2048);
}

void addPdfRectangle(PdfFile* f, int x, int y, int width, int height, std::uint32_t color) {
  if (width <= 0 || height <= 0) return;
  f->content += fillColor(color) + num(x) + " " + num(y) + " " + num(width) + " " + num(height) + " re f\n";
  noteBottom(f, y + height);
}

void addPdfImage(PdfFile* f, int x, int y, int destWidth, int destHeight, int width, int height,
                 const unsigned char* bits) {
  if (width <= 0 || height <= 0 || destWidth <= 0 || destHeight <= 0 || bits == nullptr) return;
  // Rows of whole bytes, as PDF keeps them, from the bitmap's 32-bit rows.
  const std::size_t stride = static_cast<std::size_t>(width + 31) / 32 * 4;
  const std::size_t rowBytes = static_cast<std::size_t>(width + 7) / 8;
  std::string data;
  data.reserve(rowBytes * static_cast<std::size_t>(height));
  for (int row = 0; row < height; ++row)
    data.append(reinterpret_cast<const char*>(bits) + stride * static_cast<std::size_t>(row), rowBytes);
  int number = newObject(f);
  writeStream(f, number,
              "/Type /XObject /Subtype /Image /Width " + num(width) + " /Height " + num(height) +
                  " /ImageMask true /BitsPerComponent 1 /Decode [1 0]",
              data);
  f->images.push_back(number);
  // The image's first row at the top of the rectangle.
  f->content += "q 0 g " + num(destWidth) + " 0 0 " + num(-destHeight) + " " + num(x) + " " + num(y + destHeight) +
                " cm /Im" + num(number) + " Do Q\n";
  noteBottom(f, y + destHeight);
}

int pdfPageBottom(const PdfFile* f) { return f->bottom; }

void endPdfPage(PdfFile* f, int paperWidth, int paperLength, int left, int top, int printableWidth,
                int printableHeight) {
  // Dots from the printable area's top-left corner, downwards, in points
  // from the page's bottom-left corner.
  const long long dotsPerInch = kPdfDotsPerInch;
  std::string place = "0.12 0 0 -0.12 " + points(left) + " " + fraction((paperLength - top) * 72LL, 2540) + " cm\n";
  std::string clip = "0 0 " + num(printableWidth * dotsPerInch * 10 / 25400) + " " +
                     num(printableHeight * dotsPerInch * 10 / 25400) + " re W n\n";
  int contents = newObject(f);
  writeStream(f, contents, "", place + clip + f->content);
  std::string xobjects;
  for (int image : f->images) xobjects += " /Im" + num(image) + " " + num(image) + " 0 R";
  std::string fonts;
  for (int i = 0; i < kFontCount; ++i) fonts += " /F" + num(i) + " " + num(kFirstFont + i) + " 0 R";
  int page = newObject(f);
  beginObject(f, page);
  put(f, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 " + points(paperWidth) + " " + points(paperLength) +
             "] /Resources << /Font <<" + fonts + " >> /XObject <<" + xobjects + " >> >> /Contents " +
             num(contents) + " 0 R >>\nendobj\n");
  f->pages.push_back(page);
  f->images.clear();
  f->content.clear();
  f->bottom = 0;
}

int pdfPageCount(const PdfFile* f) { return static_cast<int>(f->pages.size()); }

bool finishPdfFile(PdfFile* f, bool* diskFull) {
  std::string kids;
  for (int page : f->pages) kids += num(page) + " 0 R ";
  beginObject(f, kPageTree);
  put(f, "<< /Type /Pages /Kids [ " + kids + "] /Count " + num(static_cast<long long>(f->pages.size())) +
             " >>\nendobj\n");
  std::string title;
  for (char c : f->title) title += c >= 0x20 && c < 0x7F ? c : '?';
  beginObject(f, kInfo);
  put(f, "<< /Title " + pdfString(title) + " /Creator (ferrin) /Producer (ferrin) >>\nendobj\n");
  const long long xref = f->written;
  put(f, "xref\n0 " + num(static_cast<long long>(f->offsets.size()) + 1) + "\n0000000000 65535 f \n");
  for (long long offset : f->offsets) {
    char line[24];
    (void)std::snprintf(line, sizeof line, "%010lld 00000 n \n", offset);  // 20 characters always fit
    put(f, line);
  }
  put(f, "trailer\n<< /Size " + num(static_cast<long long>(f->offsets.size()) + 1) +
             " /Root 1 0 R /Info 3 0 R >>\nstartxref\n" + num(xref) + "\n%%EOF\n");
  if (std::fflush(f->out) != 0) {
    f->failed = true;
    f->diskFull = f->diskFull || errno == ENOSPC;
  }
  if (std::fclose(f->out) != 0) f->failed = true;
  const std::string part = f->path + ".part";
  bool ok = !f->failed;
  *diskFull = f->diskFull;
  if (ok) {
    // The finished file takes the place of any earlier one of the name.
    (void)std::remove(f->path.c_str());  // none there is no failure; the rename tells
    ok = std::rename(part.c_str(), f->path.c_str()) == 0;
  }
  if (!ok) (void)std::remove(part.c_str());  // a scratch file left is only untidy
  delete f;
  return ok;
}

void dropPdfFile(PdfFile* f) {
  // The document is thrown away: nothing of it is wanted, whatever these say.
  (void)std::fclose(f->out);
  (void)std::remove((f->path + ".part").c_str());
  delete f;
}

unsigned char winAnsiOf(char16_t c) {
  if ((c >= 0x20 && c < 0x7F) || (c >= 0xA0 && c <= 0xFF)) return static_cast<unsigned char>(c);
  // The characters of 0x80 to 0x9F.
  static const char16_t kHigh[32] = {0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                     0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,
                                     0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                     0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};
  for (int i = 0; i < 32; ++i)
    if (kHigh[i] == c) return static_cast<unsigned char>(0x80 + i);
  if (c == 0x2500 || c == 0x2550) return '-';
  if (c == 0x2502 || c == 0x2551) return '|';
  if (c > 0x2500 && c < 0x2580) return '+';
  if (c >= 0x2580 && c < 0x25A0) return '#';
  return '?';
}
