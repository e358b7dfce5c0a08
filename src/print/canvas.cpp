#include "print/canvas.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <new>
#include <vector>

#include "console/codepage.h"
#include "files/errors.h"
#include "print/printer.h"
#include "print/printer_state.h"

namespace {

const char kCanvasFace[] = "Courier New";

// What one page may hold. A printer language can draw on the same line
// forever (carriage returns without feeds), and a device keeps a page's
// drawings until the page ends: past these the drawing goes on on a new
// page, so no printout can make one page take unbounded memory. A full page
// of condensed text is some 15,000 characters; a page of 240 x 216 dpi
// graphics under 1 MB.
const std::size_t kMaxPageCharacters = 200000;
const std::size_t kMaxPageBitmapBytes = 16u << 20;
std::size_t pageCharacters = 0;
std::size_t pageBitmapBytes = 0;

// Counts a drawing against the open page, first ending the page when it
// would hold too much.
void countOnPage(std::size_t characters, std::size_t bitmapBytes) {
  if (printerState.pageOpen &&
      (pageCharacters + characters > kMaxPageCharacters || pageBitmapBytes + bitmapBytes > kMaxPageBitmapBytes))
    formFeed();
  if (!printerState.pageOpen) pageCharacters = pageBitmapBytes = 0;
  pageCharacters += characters;
  pageBitmapBytes += bitmapBytes;
}

bool attached() {
  if (printerState.deviceContext != nullptr) return true;
  setError(kPrinterDeviceError);
  return false;
}

// The LOGFONT a style asks for, its width still to be filled in.
LogFont logicalFontOf(const CanvasStyle& style, int dotsPerInch) {
  LogFont lf;
  std::memset(&lf, 0, sizeof lf);
  float points = style.pointSize > 0 ? style.pointSize : 12.0f;
  long height = std::lround(static_cast<double>(dotsPerInch) * points / 72.0);
  lf.lfHeight = -static_cast<std::int32_t>(height < 1 ? 1 : (height > 100000 ? 100000 : height));
  lf.lfWeight = style.bold ? kDeviceFwBold : 400;
  lf.lfItalic = style.italic ? 1 : 0;
  lf.lfUnderline = style.underline ? 1 : 0;
  lf.lfCharSet = 1;  // DEFAULT_CHARSET
  const std::string face = style.face.empty() ? std::string(kCanvasFace) : style.face;
  std::size_t n = face.size() < 31 ? face.size() : 31;
  std::memcpy(lf.lfFaceName, face.data(), n);
  return lf;
}

bool sameFont(const LogFont& a, const LogFont& b) { return std::memcmp(&a, &b, sizeof a) == 0; }

PrinterFont* findFont(const LogFont& lf) {
  for (PrinterFont* font : printerState.fonts)
    if (font->deviceFont != nullptr && sameFont(font->logicalFont, lf)) return font;
  return nullptr;
}

PrinterFont* makeFont(const LogFont& lf, float pointSize) {
  PrinterFont* font = new (std::nothrow) PrinterFont();
  if (font == nullptr) return nullptr;
  std::memcpy(font->faceName, lf.lfFaceName, sizeof font->faceName);
  font->faceName[31] = '\0';
  font->pointSize = pointSize;
  font->logicalFont = lf;
  font->deviceFont = deviceCreateFontIndirect(&lf);
  if (font->deviceFont == nullptr) {
    delete font;
    return nullptr;
  }
  printerState.fonts.push_back(font);
  return font;
}

bool selectCanvasFont(PrinterFont* font) {
  PrinterState& s = printerState;
  if (s.currentFont == font) return true;
  FontHandle previous = deviceSelectObject(s.deviceContext, font->deviceFont);
  if (previous == nullptr || previous == DEVICE_SELECT_ERROR) return false;
  s.currentFont = font;
  return true;
}

// The style's font, made on first use and selected. The width scale needs
// the natural width of the font first: that font is made and measured, and
// the scaled one made from it (GDI's lfWidth is an average character width).
// False with kPrinterFontError set on failure.
bool selectStyle(const CanvasStyle& style) {
  int dpi = deviceGetDeviceCaps(printerState.deviceContext, kDeviceLogPixelsY);
  LogFont natural = logicalFontOf(style, dpi > 0 ? dpi : 600);
  float points = style.pointSize > 0 ? style.pointSize : 12.0f;
  PrinterFont* font = findFont(natural);
  if (font == nullptr) font = makeFont(natural, points);
  bool ok = font != nullptr && selectCanvasFont(font);
  float scale = style.widthScale;
  if (ok && scale > 0 && std::fabs(scale - 1.0f) > 0.001f) {
    TextMetrics tm{};
    ok = deviceGetTextMetrics(printerState.deviceContext, &tm) && tm.tmAveCharWidth > 0;
    if (ok) {
      LogFont scaled = natural;
      long width = std::lround(static_cast<double>(tm.tmAveCharWidth) * (scale > 100 ? 100 : scale));
      scaled.lfWidth = static_cast<std::int32_t>(width < 1 ? 1 : width);
      PrinterFont* wide = findFont(scaled);
      if (wide == nullptr) wide = makeFont(scaled, points);
      ok = wide != nullptr && selectCanvasFont(wide);
    }
  }
  if (!ok) setError(kPrinterFontError);
  return ok;
}

// The page with the canvas's alignment: positions are left edge and baseline.
bool readyPage() {
  PrinterState& s = printerState;
  if (!attached() || !beginPrinterPage()) return false;
  if (s.textAlign != kDeviceTaBaseline) {
    if (deviceSetTextAlign(s.deviceContext, kDeviceTaBaseline) == kDeviceAlignError) {
      setError(kPrinterDeviceError);
      return false;
    }
    s.textAlign = kDeviceTaBaseline;
  }
  return true;
}

int clampedCount(std::size_t size) {
  return size > static_cast<std::size_t>(INT_MAX) ? INT_MAX : static_cast<int>(size);
}

// Device dots for a length in another resolution, at least 1.
int toDeviceDots(int length, int from, int to) {
  if (from <= 0 || from == to) return length;
  long long dots = (static_cast<long long>(length) * to + from / 2) / from;
  if (dots < 1) dots = 1;
  return dots > INT_MAX ? INT_MAX : static_cast<int>(dots);
}

}  // namespace

bool canvasPage(CanvasPage* page) {
  if (!attached()) return false;
  DeviceContext dc = printerState.deviceContext;
  page->width = deviceGetDeviceCaps(dc, kDeviceHorzRes);
  page->height = deviceGetDeviceCaps(dc, kDeviceVertRes);
  page->dpiX = deviceGetDeviceCaps(dc, kDeviceLogPixelsX);
  page->dpiY = deviceGetDeviceCaps(dc, kDeviceLogPixelsY);
  return true;
}

bool canvasPaperOffset(int* x, int* y) {
  if (!attached()) return false;
  const int kPhysicalOffsetX = 112, kPhysicalOffsetY = 113;
  *x = std::max(0, deviceGetDeviceCaps(printerState.deviceContext, kPhysicalOffsetX));
  *y = std::max(0, deviceGetDeviceCaps(printerState.deviceContext, kPhysicalOffsetY));
  return true;
}

bool canvasMeasure(const CanvasStyle& style, CanvasMetrics* metrics) {
  if (!attached() || !selectStyle(style)) return false;
  TextMetrics tm{};
  if (!deviceGetTextMetrics(printerState.deviceContext, &tm)) {
    setError(kPrinterFontError);
    return false;
  }
  metrics->ascent = tm.tmAscent;
  metrics->descent = tm.tmDescent;
  metrics->height = tm.tmHeight;
  return true;
}

void canvasText(int x, int y, const CanvasStyle& style, const std::string& text, int advance) {
  if (text.empty() || !attached()) return;
  countOnPage(text.size(), 0);
  if (!readyPage() || !selectStyle(style)) return;
  PrinterState& s = printerState;
  std::u16string wide;
  int codePage = style.codePage != 0 ? style.codePage : s.codePage;
  if (codePage != 0) {
    if (!codePageToUtf16(codePage, text, &wide)) {
      setError(kPrinterDeviceError);
      return;
    }
  } else {
    // Without a code page each byte is its own character, as TextOut draws it.
    wide.assign(text.begin(), text.end());
    for (char16_t& c : wide) c = static_cast<char16_t>(c & 0xFF);
  }
  if (advance <= 0) {
    // Proportional text: each character at the font's own advance.
    if (!deviceTextOutW(s.deviceContext, x, y, wide.data(), clampedCount(wide.size())))
      setError(kPrinterDeviceError);
    return;
  }
  static thread_local std::vector<int> dx;
  dx.assign(wide.size(), advance);
  if (!deviceExtTextOutW(s.deviceContext, x, y, wide.data(), clampedCount(wide.size()), dx.data()))
    setError(kPrinterDeviceError);
}

void canvasBitmap(int x, int y, const CanvasBitmap& bitmap) {
  if (bitmap.width <= 0 || bitmap.height <= 0 || bitmap.bits == nullptr) return;
  std::size_t rowBytes = (static_cast<std::size_t>(bitmap.width) + 7) / 8;
  if (bitmap.stride < 0 || static_cast<std::size_t>(bitmap.stride) < rowBytes || !attached()) return;
  countOnPage(0, rowBytes * static_cast<std::size_t>(bitmap.height));
  if (!readyPage()) return;
  CanvasPage page{};
  if (!canvasPage(&page)) return;
  // A DIB's rows are whole 32-bit words.
  std::size_t dibStride = (static_cast<std::size_t>(bitmap.width) + 31) / 32 * 4;
  std::vector<unsigned char> rows;
  const unsigned char* bits = bitmap.bits;
  if (static_cast<std::size_t>(bitmap.stride) != dibStride) {
    try {
      rows.assign(dibStride * static_cast<std::size_t>(bitmap.height), 0);
    } catch (const std::bad_alloc&) {
      setError(kPrinterDeviceError);
      return;
    }
    for (int r = 0; r < bitmap.height; ++r)
      std::memcpy(&rows[static_cast<std::size_t>(r) * dibStride],
                  bitmap.bits + static_cast<std::size_t>(r) * static_cast<std::size_t>(bitmap.stride), rowBytes);
    bits = rows.data();
  }
  MonoBitmapInfo info{bitmap.width, bitmap.height};
  int width = toDeviceDots(bitmap.width, bitmap.dpiX, page.dpiX);
  int height = toDeviceDots(bitmap.height * std::max(1, bitmap.rowScale), bitmap.dpiY, page.dpiY);
  if (deviceStretchMonoBitmap(printerState.deviceContext, x, y, width, height, &info, bits) == 0)
    setError(kPrinterDeviceError);
}

void canvasPageBreak() {
  if (printerState.pageOpen) formFeed();
}

void canvasBlankPage() {
  if (!attached()) return;
  if (printerState.pageOpen || beginPrinterPage()) formFeed();
}

bool canvasOrientation(bool landscape) {
  if (!attached()) return false;
  if (printerState.pageOpen) formFeed();
  return turnPrinterPages(landscape);
}
