#include "device/pdfdevice.h"

#include <algorithm>
#include <vector>

#include "device/pdfwriter.h"
#include "platform/system.h"

struct PdfContext {
  std::string path;
  PdfPaper paper;
  // The paper in use, hundredths of a mm: a quarter-inch border, or for
  // receipt paper a page as long as the receipt, its printable width centred.
  int marginLeft, marginTop, marginRight, marginBottom;
  bool rollPaper;
  PdfFile* file;  // the document in progress
  bool pageOpen;
  FontHandle font;
  LogFont logical;
  std::uint32_t textColor, bkColor, textAlign;
  int bkMode;
  int x, y;  // the current position
};

namespace {

const int kBorder = 635;
const int kRollMargin = 300;
const int kRollPageLength = 200000;
const int kOpaque = 2;

ProcessLock PdfContextLock;
std::vector<PdfContext*> liveContexts;

PdfContext* contextOf(DeviceContext dc) {
  LockGuard guard(PdfContextLock);
  for (PdfContext* c : liveContexts)
    if (reinterpret_cast<DeviceContext>(c) == dc) return c;
  return nullptr;
}

int paperWidthOf(const PdfContext& c) { return c.paper.landscape ? c.paper.length : c.paper.width; }
int paperLengthOf(const PdfContext& c) { return c.paper.landscape ? c.paper.width : c.paper.length; }

// Rounded to the nearest dot, as the POSIX device rounds.
int dotsOf(int hundredthsMm) {
  return static_cast<int>((static_cast<long long>(hundredthsMm) * kPdfDotsPerInch + 1270) / 2540);
}

int printableWidthOf(const PdfContext& c) { return paperWidthOf(c) - c.marginLeft - c.marginRight; }
int printableLengthOf(const PdfContext& c) { return paperLengthOf(c) - c.marginTop - c.marginBottom; }

// Courier New's metrics (units of 2048 to the em), as GDI gives them.
int emOf(const LogFont& lf) {
  if (lf.lfHeight < 0) return -lf.lfHeight;
  if (lf.lfHeight > 0) return std::max(1, static_cast<int>(static_cast<long long>(lf.lfHeight) * 2048 / 2320));
  return 83;  // 10 points
}
int ascentOf(int em) { return static_cast<int>((static_cast<long long>(em) * 1705 + 1024) / 2048); }
int descentOf(int em) { return static_cast<int>((static_cast<long long>(em) * 615 + 1024) / 2048); }
int advanceOf(const LogFont& lf) {
  if (lf.lfWidth > 0) return lf.lfWidth;
  return std::max(1, static_cast<int>((static_cast<long long>(emOf(lf)) * 1229 + 1024) / 2048));
}

}  // namespace

DeviceContext createPdfContext(const std::string& path, const PdfPaper& paper, FontHandle initial,
                               const LogFont& initialFont) {
  PdfContext* c = new PdfContext();
  c->path = path;
  c->paper = paper;
  c->marginLeft = c->marginTop = c->marginRight = c->marginBottom = kBorder;
  c->rollPaper = false;
  c->file = nullptr;
  c->pageOpen = false;
  c->font = initial;
  c->logical = initialFont;
  c->textColor = 0;
  c->bkColor = 0xFFFFFF;
  c->textAlign = 0;
  c->bkMode = kOpaque;
  c->x = c->y = 0;
  LockGuard guard(PdfContextLock);
  liveContexts.push_back(c);
  return reinterpret_cast<DeviceContext>(c);
}

bool isPdfContext(DeviceContext dc) { return dc != nullptr && contextOf(dc) != nullptr; }

bool setPdfRollPaper(DeviceContext dc, int paperWidth, int printableWidth) {
  PdfContext* c = contextOf(dc);
  if (c == nullptr || c->file != nullptr || printableWidth <= 0 || paperWidth <= printableWidth) return false;
  c->paper.width = paperWidth;
  c->paper.length = kRollPageLength;
  c->paper.landscape = false;
  c->marginLeft = (paperWidth - printableWidth) / 2;
  c->marginRight = paperWidth - printableWidth - c->marginLeft;
  c->marginTop = c->marginBottom = kRollMargin;
  c->rollPaper = true;
  return true;
}

bool resetPdfPaper(DeviceContext dc, const PdfPaper& paper) {
  PdfContext* c = contextOf(dc);
  if (c == nullptr || c->pageOpen) return false;
  // Receipt paper stays as it is.
  if (!c->rollPaper) c->paper = paper;
  return true;
}

int startPdfDoc(DeviceContext dc, const char* documentName) {
  PdfContext* c = contextOf(dc);
  if (c == nullptr || c->file != nullptr) return 0;
  c->file = beginPdfFile(c->path, documentName != nullptr ? documentName : "");
  return c->file != nullptr ? 1 : 0;
}

int pdfDeviceCaps(DeviceContext dc, int index) {
  PdfContext* c = contextOf(dc);
  if (c == nullptr) return 0;
  switch (index) {
    // The paper less each border, every one in whole dots.
    case kDeviceHorzRes: return dotsOf(paperWidthOf(*c)) - dotsOf(c->marginLeft) - dotsOf(c->marginRight);
    case kDeviceVertRes: return dotsOf(paperLengthOf(*c)) - dotsOf(c->marginTop) - dotsOf(c->marginBottom);
    case kDeviceLogPixelsX:
    case kDeviceLogPixelsY: return kPdfDotsPerInch;
    default: return 0;
  }
}

FontHandle selectPdfFont(DeviceContext dc, FontHandle font, const LogFont& logical) {
  PdfContext* c = contextOf(dc);
  if (c == nullptr || font == nullptr) return nullptr;
  FontHandle previous = c->font;
  c->font = font;
  c->logical = logical;
  return previous;
}

bool pdfTextMetrics(DeviceContext dc, TextMetrics* metrics) {
  PdfContext* c = contextOf(dc);
  if (c == nullptr) return false;
  const int em = emOf(c->logical);
  metrics->tmAscent = ascentOf(em);
  metrics->tmDescent = descentOf(em);
  metrics->tmHeight = metrics->tmAscent + metrics->tmDescent;
  metrics->tmExternalLeading = 0;
  metrics->tmAveCharWidth = advanceOf(c->logical);
  return true;
}

std::uint32_t setPdfTextColor(DeviceContext dc, std::uint32_t color) {
  PdfContext* c = contextOf(dc);
  if (c == nullptr) return kDeviceAlignError;
  std::swap(c->textColor, color);
  return color;
}

std::uint32_t setPdfBkColor(DeviceContext dc, std::uint32_t color) {
  PdfContext* c = contextOf(dc);
  if (c == nullptr) return kDeviceAlignError;
  std::swap(c->bkColor, color);
  return color;
}

int setPdfBkMode(DeviceContext dc, int mode) {
  PdfContext* c = contextOf(dc);
  if (c == nullptr) return 0;
  std::swap(c->bkMode, mode);
  return mode;
}

int startPdfPage(DeviceContext dc) {
  PdfContext* c = contextOf(dc);
  if (c == nullptr || c->file == nullptr || c->pageOpen) return 0;
  c->pageOpen = true;
  return 1;
}

std::uint32_t setPdfTextAlign(DeviceContext dc, std::uint32_t align) {
  PdfContext* c = contextOf(dc);
  if (c == nullptr) return kDeviceAlignError;
  std::swap(c->textAlign, align);
  return align;
}

bool movePdfTo(DeviceContext dc, int x, int y) {
  PdfContext* c = contextOf(dc);
  if (c == nullptr) return false;
  c->x = x;
  c->y = y;
  return true;
}

bool pdfTextOut(DeviceContext dc, int x, int y, const char16_t* text, int count, const int* dx) {
  PdfContext* c = contextOf(dc);
  if (c == nullptr || !c->pageOpen || count < 0 || (text == nullptr && count > 0)) return false;
  const bool updateCp = (c->textAlign & kDeviceTaUpdateCp) != 0;
  if (updateCp) {
    x = c->x;
    y = c->y;
  }
  const int em = emOf(c->logical);
  PdfTextStyle style;
  style.bold = c->logical.lfWeight >= kDeviceFwBold;
  style.italic = c->logical.lfItalic != 0;
  style.em = em;
  style.advance = advanceOf(c->logical);
  style.color = c->textColor;
  std::string bytes;
  std::vector<int> advances;
  long long width = 0;
  for (int i = 0; i < count; ++i) {
    bytes += static_cast<char>(winAnsiOf(text[i]));
    int advance = dx != nullptr ? dx[i] : style.advance;
    if (dx != nullptr) advances.push_back(advance);
    width += advance;
  }
  // The baseline: y itself, or the top of the character cell below it.
  const int baseline = (c->textAlign & kDeviceTaBaseline) == kDeviceTaBaseline ? y : y + ascentOf(em);
  const int top = baseline - ascentOf(em);
  if (c->bkMode == kOpaque && c->bkColor != 0xFFFFFF)
    addPdfRectangle(c->file, x, top, static_cast<int>(width), ascentOf(em) + descentOf(em), c->bkColor);
  addPdfText(c->file, x, baseline, bytes, style, advances);
  if (c->logical.lfUnderline != 0)
    addPdfRectangle(c->file, x, baseline + descentOf(em) / 3, static_cast<int>(width), std::max(1, em / 14),
                    c->textColor);
  if (updateCp) c->x = x + static_cast<int>(width);
  return true;
}

int pdfStretchMonoBitmap(DeviceContext dc, int x, int y, int destWidth, int destHeight, const MonoBitmapInfo* info,
                         const void* bits) {
  PdfContext* c = contextOf(dc);
  if (c == nullptr || !c->pageOpen || info == nullptr || bits == nullptr || info->width <= 0 || info->height <= 0)
    return 0;
  addPdfImage(c->file, x, y, destWidth, destHeight, info->width, info->height,
              static_cast<const unsigned char*>(bits));
  return info->height;
}

bool pdfCurrentPosition(DeviceContext dc, int* x, int* y) {
  PdfContext* c = contextOf(dc);
  if (c == nullptr) return false;
  *x = c->x;
  *y = c->y;
  return true;
}

int endPdfPageOf(DeviceContext dc) {
  PdfContext* c = contextOf(dc);
  if (c == nullptr || !c->pageOpen) return 0;
  int length = paperLengthOf(*c);
  if (c->rollPaper) {
    // As long as what was drawn, with the top margin below it too.
    const int drawn = pdfPageBottom(c->file) * 2540 / kPdfDotsPerInch;
    length = std::min(length, c->marginTop + drawn + c->marginBottom);
  }
  endPdfPage(c->file, paperWidthOf(*c), length, c->marginLeft, c->marginTop, printableWidthOf(*c),
             std::min(printableLengthOf(*c), length - c->marginTop));
  c->pageOpen = false;
  return 1;
}

int endPdfDoc(DeviceContext dc, bool* diskFull) {
  *diskFull = false;
  PdfContext* c = contextOf(dc);
  if (c == nullptr || c->file == nullptr) return 0;
  if (c->pageOpen) endPdfPageOf(dc);
  // A PDF file is made even of a printout with nothing on it.
  if (pdfPageCount(c->file) == 0 && startPdfPage(dc) > 0) endPdfPageOf(dc);
  bool ok = finishPdfFile(c->file, diskFull);
  c->file = nullptr;
  return ok ? 1 : 0;
}

int abortPdfDoc(DeviceContext dc) {
  PdfContext* c = contextOf(dc);
  if (c == nullptr || c->file == nullptr) return -1;
  dropPdfFile(c->file);
  c->file = nullptr;
  c->pageOpen = false;
  return 1;
}

bool deletePdfContext(DeviceContext dc) {
  PdfContext* c = contextOf(dc);
  if (c == nullptr) return false;
  // A document still open is abandoned, as deleting a printer's context
  // aborts its job.
  if (c->file != nullptr) dropPdfFile(c->file);
  {
    LockGuard guard(PdfContextLock);
    liveContexts.erase(std::find(liveContexts.begin(), liveContexts.end(), c));
  }
  delete c;
  return true;
}
