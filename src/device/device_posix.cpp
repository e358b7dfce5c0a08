// The POSIX printer device. Each document (StartDoc to EndDoc) is laid out
// with cairo at 600 dots per inch into one PDF, written to a scratch file as
// the pages are ended so that memory stays bounded, and handed over at
// EndDoc: to a CUPS queue as one job, or for the built-in "Save as PDF" into
// a file of its own in the folder "printed". A raw job (StartDocPrinter to
// EndDocPrinter) goes to a CUPS queue unchanged; "Save as PDF" refuses it.
#include <cairo-pdf.h>
#include <cairo.h>
#include <strings.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "device/cups_posix.h"
#include "device/device.h"
#include "device/fonts_posix.h"
#include "device/savepdf_posix.h"

namespace {

const int kDotsPerInch = 600;
// Receipt pages (deviceSetRollPaper), in hundredths of a mm: the white
// above and below a receipt, and the longest page, after which a receipt goes
// on on the next.
const int kRollMargin = 300;
const int kRollPageLength = 200000;
const char kSignature[8] = {'f', 'e', 'r', 'r', 'i', 'n', 'D', 'M'};

// The printer's settings record (what DocumentProperties hands out and
// CreateDC and ResetDC take): paper and unprintable border, hundredths of a
// millimetre.
struct DeviceSettings {
  char signature[8];
  std::uint32_t size;
  std::int32_t paperWidth;
  std::int32_t paperLength;
  std::int32_t marginLeft;
  std::int32_t marginTop;
  std::int32_t marginRight;
  std::int32_t marginBottom;
  std::int32_t copies;  // of each document, made by the CUPS queue (deviceSetCopies); 1 for one
};

bool validSettings(const void* data) {
  if (data == nullptr) return false;
  DeviceSettings s;
  std::memcpy(&s, data, sizeof s);
  return std::memcmp(s.signature, kSignature, sizeof kSignature) == 0 && s.size == sizeof s &&
         s.paperWidth > 0 && s.paperLength > 0 && s.marginLeft >= 0 && s.marginTop >= 0 &&
         s.marginRight >= 0 && s.marginBottom >= 0 && s.marginLeft + s.marginRight < s.paperWidth &&
         s.marginTop + s.marginBottom < s.paperLength && s.copies >= 1;
}

void settingsFromMedia(const CupsMedia& media, DeviceSettings* s) {
  std::memcpy(s->signature, kSignature, sizeof kSignature);
  s->size = sizeof *s;
  s->paperWidth = media.width;
  s->paperLength = media.length;
  s->marginLeft = media.left;
  s->marginTop = media.top;
  s->marginRight = media.right;
  s->marginBottom = media.bottom;
  s->copies = 1;
}

bool isSaveAsPdf(const std::string& name) { return name == SAVE_AS_PDF_PRINTER; }
bool isPdfFile(const std::string& name) { return name == kDevicePdfFilePrinter; }
// The printers that store their documents as PDF files themselves.
bool storesPdf(const std::string& name) { return isSaveAsPdf(name) || isPdfFile(name); }

// The file the next device context of this thread for kDevicePdfFilePrinter
// writes into.
thread_local std::string nextPdfFile;

// The printer's default settings; false when no such printer exists.
bool lookupPrinter(const std::string& name, DeviceSettings* s) {
  CupsMedia media;
  if (storesPdf(name)) {
    localePaper(&media);
  } else if (!findCupsQueue(name, &media)) {
    return false;
  }
  settingsFromMedia(media, s);
  return true;
}

int dots(std::int32_t hundredthsMm) {
  return static_cast<int>(std::lround(hundredthsMm * static_cast<double>(kDotsPerInch) / 2540.0));
}

double points(std::int32_t hundredthsMm) { return hundredthsMm * 72.0 / 2540.0; }

// Every device context starts with this font selected, as a GDI one starts
// with a stock font; it is never deleted.
std::mutex stockMutex;
DeviceFontObject* stockFont() {
  static DeviceFontObject font;
  static bool made = false;
  std::lock_guard<std::mutex> guard(stockMutex);
  if (!made) {
    LogFont logical;
    std::memset(&logical, 0, sizeof logical);
    logical.lfHeight = -static_cast<std::int32_t>(std::lround(kDotsPerInch * 10.0 / 72.0));
    logical.lfWeight = 400;
    std::strcpy(logical.lfFaceName, "Courier New");
    made = makeDeviceFont(logical, kDotsPerInch, &font);
    font.stock = true;
  }
  return &font;
}

}  // namespace

struct DevicePrinterObject {
  std::string name;
  DeviceSettings defaults;
  // A raw job, StartDocPrinter to EndDocPrinter: its bytes gather in an
  // unnamed scratch file and go to CUPS as one job at EndDocPrinter, so that
  // nothing reaches the printer before the whole printout is there.
  int rawFd;  // -1: no raw job
  bool rawPageOpen;
  std::string rawTitle;
  std::uint64_t rawDigest;
  std::string rawIdentity;
};

struct DeviceContextObject {
  std::string printerName;
  DeviceSettings settings;
  // The document.
  bool documentOpen;
  std::string title;
  int fd;                   // the PDF being written
  // What cairo hands over in many small pieces, gathered here and written
  // in large ones (writeToScratch, flushScratch).
  std::vector<unsigned char> pending;
  std::string scratchPath;  // its name, when it already lies in "printed" or beside pdfFile
  std::string pdfFile;      // kDevicePdfFilePrinter: where the finished document goes
  std::string savedName;    // "Save as PDF": the name the next document gets; empty: the usual
  bool writeFailed;
  cairo_surface_t* surface;
  int pagesDone;
  std::uint64_t digest;  // of everything drawn: names the document to the scheduler's hand-over
  std::string identity;  // carried by the job or the saved PDF, to be looked for after a crash
  int writeErrno;        // why writing the PDF failed
  unsigned fileMode;     // the most a saved PDF may allow
  // Receipt paper (deviceSetRollPaper): each page is drawn on `page`, a
  // recording, and goes into the PDF as long as what was drawn.
  bool rollPaper;
  cairo_surface_t* page;
  // On receipt paper, the colour bitmaps of the page, drawn under it: they
  // do not make the receipt longer.
  cairo_surface_t* underlay;
  cairo_t* underlayCr;
  // The colour bitmap last drawn (deviceStretchColorBitmap), painted
  // straight from the caller's bits; one surface for every page, so that the
  // PDF holds the image once.
  const void* bitmapBits;
  int bitmapWidth;
  int bitmapHeight;
  cairo_surface_t* bitmap;
  // The page.
  cairo_t* cr;
  // Drawing state.
  FontHandle font;
  std::uint32_t textColor;
  std::uint32_t backgroundColor;
  int backgroundMode;
  std::uint32_t textAlign;
  int x;
  int y;
};

namespace {

const std::size_t kScratchBuffer = 256 * 1024;

// Writes what is gathered; a failure is kept in writeFailed.
bool writePending(DeviceContextObject* dc) {
  const unsigned char* data = dc->pending.data();
  std::size_t length = dc->pending.size();
  dc->pending.clear();
  while (length > 0 && !dc->writeFailed) {
    ssize_t n = write(dc->fd, data, length);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      dc->writeFailed = true;
      break;
    }
    data += n;
    length -= static_cast<std::size_t>(n);
  }
  return !dc->writeFailed;
}

cairo_status_t writeToScratch(void* closure, const unsigned char* data, unsigned int length) {
  DeviceContextObject* dc = static_cast<DeviceContextObject*>(closure);
  if (dc->writeFailed) return CAIRO_STATUS_WRITE_ERROR;
  if (dc->pending.size() + length <= kScratchBuffer) {
    dc->pending.insert(dc->pending.end(), data, data + length);
    return CAIRO_STATUS_SUCCESS;
  }
  if (!writePending(dc)) return CAIRO_STATUS_WRITE_ERROR;
  while (length > 0) {
    ssize_t n = write(dc->fd, data, length);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      dc->writeFailed = true;
      dc->writeErrno = n < 0 ? errno : ENOSPC;
      return CAIRO_STATUS_WRITE_ERROR;
    }
    data += n;
    length -= static_cast<unsigned int>(n);
  }
  return CAIRO_STATUS_SUCCESS;
}

// 64-bit FNV-1a, fed as the document is laid out: every page start and
// every piece of text with its place. Equal documents give equal digests
// whatever date the PDF carries.
const std::uint64_t kDigestStart = 14695981039346656037ull;

void addToDigest(std::uint64_t* digest, const void* data, size_t length) {
  const unsigned char* bytes = static_cast<const unsigned char*>(data);
  for (size_t i = 0; i < length; i++) {
    *digest ^= bytes[i];
    *digest *= 1099511628211ull;
  }
}

void addNumberToDigest(std::uint64_t* digest, std::int64_t value) {
  unsigned char bytes[8];
  for (int i = 0; i < 8; i++) bytes[i] = static_cast<unsigned char>(static_cast<std::uint64_t>(value) >> (8 * i));
  addToDigest(digest, bytes, sizeof bytes);
}

int printableWidth(const DeviceSettings& s) {
  return dots(s.paperWidth) - dots(s.marginLeft) - dots(s.marginRight);
}

int printableHeight(const DeviceSettings& s) {
  return dots(s.paperLength) - dots(s.marginTop) - dots(s.marginBottom);
}

void dropUnderlay(DeviceContextObject* dc) {
  if (dc->underlayCr != nullptr) cairo_destroy(dc->underlayCr);
  dc->underlayCr = nullptr;
  if (dc->underlay != nullptr) cairo_surface_destroy(dc->underlay);
  dc->underlay = nullptr;
}

// Drops the document without handing it over.
void discardDocument(DeviceContextObject* dc) {
  if (dc->cr != nullptr) cairo_destroy(dc->cr);
  dc->cr = nullptr;
  if (dc->page != nullptr) cairo_surface_destroy(dc->page);
  dc->page = nullptr;
  dropUnderlay(dc);
  if (dc->surface != nullptr) {
    cairo_surface_finish(dc->surface);
    cairo_surface_destroy(dc->surface);
  }
  dc->surface = nullptr;
  if (dc->fd >= 0) close(dc->fd);
  dc->fd = -1;
  dc->pending.clear();
  if (!dc->scratchPath.empty()) unlink(dc->scratchPath.c_str());
  dc->scratchPath.clear();
  dc->documentOpen = false;
  // Only once the PDF is finished may the bitmap's bits go.
  if (dc->bitmap != nullptr) cairo_surface_destroy(dc->bitmap);
  dc->bitmap = nullptr;
  dc->bitmapBits = nullptr;
}

void setSource(cairo_t* cr, std::uint32_t color) {
  // COLORREF: 0x00BBGGRR.
  cairo_set_source_rgb(cr, (color & 0xFF) / 255.0, ((color >> 8) & 0xFF) / 255.0, ((color >> 16) & 0xFF) / 255.0);
}

}  // namespace

bool deviceOpenPrinter(const char* printerName, PrinterHandle* handle) {
  if (handle != nullptr) *handle = nullptr;
  if (printerName == nullptr || *printerName == '\0' || handle == nullptr) return false;
  DevicePrinterObject* printer = new DevicePrinterObject();
  printer->name = printerName;
  printer->rawFd = -1;
  printer->rawPageOpen = false;
  if (!lookupPrinter(printer->name, &printer->defaults)) {
    delete printer;
    return false;
  }
  *handle = printer;
  return true;
}

std::int32_t deviceDocumentProperties(PrinterHandle handle, const char*, void* output, int mode) {
  if (handle == nullptr) return -1;
  if (mode == 0) return static_cast<std::int32_t>(sizeof(DeviceSettings));
  if ((mode & kDeviceDmOutBuffer) != 0) {
    if (output == nullptr) return -1;
    std::memcpy(output, &handle->defaults, sizeof handle->defaults);
  }
  return 1;
}

bool deviceClosePrinter(PrinterHandle handle) {
  if (handle == nullptr) return false;
  // A raw job still open is dropped, as it never reached CUPS.
  if (handle->rawFd >= 0) close(handle->rawFd);
  delete handle;
  return true;
}

namespace {

// GetLastError of the calling thread, for the raw calls and EndDoc.
thread_local std::uint32_t rawLastError = 0;
// The identity the next document carries, and whether the last hand-over
// was left open.
thread_local std::string nextIdentity;
thread_local bool lastHandOverUncertain = false;

std::string takeNextIdentity() {
  std::string identity = nextIdentity;
  nextIdentity.clear();
  return identity;
}
const std::uint32_t kErrorGeneralFailure = 31;     // ERROR_GEN_FAILURE
const std::uint32_t kErrorInvalidHandle = 6;       // ERROR_INVALID_HANDLE
const std::uint32_t kErrorWriteFault = 29;         // ERROR_WRITE_FAULT

bool rawFailure(std::uint32_t error) {
  rawLastError = error;
  return false;
}

bool hasRawJob(PrinterHandle handle) { return handle != nullptr && handle->rawFd >= 0; }

void dropRawJob(PrinterHandle handle) {
  close(handle->rawFd);
  handle->rawFd = -1;
  handle->rawPageOpen = false;
}

}  // namespace

std::uint32_t deviceStartDocPrinter(PrinterHandle handle, const char* documentName, const char* datatype) {
  if (handle == nullptr || hasRawJob(handle)) return rawFailure(kErrorInvalidHandle);
  // "Save as PDF" can only store what was laid out.
  if (datatype == nullptr || strcasecmp(datatype, "RAW") != 0 || storesPdf(handle->name))
    return rawFailure(kDeviceErrorInvalidDatatype);
  std::string unnamed;
  handle->rawFd = openScratchFile(false, &unnamed);
  if (handle->rawFd < 0) return rawFailure(kErrorGeneralFailure);
  handle->rawTitle = documentName != nullptr ? documentName : "";
  handle->rawIdentity = takeNextIdentity();
  handle->rawDigest = kDigestStart;
  addToDigest(&handle->rawDigest, "R", 1);
  handle->rawPageOpen = false;
  return 1;
}

bool deviceStartPagePrinter(PrinterHandle handle) {
  if (!hasRawJob(handle) || handle->rawPageOpen) return rawFailure(kErrorInvalidHandle);
  handle->rawPageOpen = true;
  return true;
}

bool deviceWritePrinter(PrinterHandle handle, const void* data, std::uint32_t size, std::uint32_t* written) {
  *written = 0;
  if (!hasRawJob(handle) || (data == nullptr && size > 0)) return rawFailure(kErrorInvalidHandle);
  ssize_t n;
  do {
    n = write(handle->rawFd, data, size);
  } while (n < 0 && errno == EINTR);
  if (n < 0) return rawFailure(kErrorWriteFault);
  addToDigest(&handle->rawDigest, data, static_cast<size_t>(n));
  *written = static_cast<std::uint32_t>(n);
  return true;
}

bool deviceEndPagePrinter(PrinterHandle handle) {
  if (!hasRawJob(handle) || !handle->rawPageOpen) return rawFailure(kErrorInvalidHandle);
  handle->rawPageOpen = false;
  return true;
}

bool deviceEndDocPrinter(PrinterHandle handle) {
  lastHandOverUncertain = false;
  if (!hasRawJob(handle)) return rawFailure(kErrorInvalidHandle);
  bool ok = submitCupsJob(handle->name, handle->rawTitle, kCupsFormatRaw, handle->rawFd, handle->rawDigest,
                          handle->rawIdentity, &lastHandOverUncertain);
  dropRawJob(handle);
  return ok ? true : rawFailure(kErrorGeneralFailure);
}

bool deviceAbortPrinter(PrinterHandle handle) {
  if (!hasRawJob(handle)) return rawFailure(kErrorInvalidHandle);
  dropRawJob(handle);
  return true;
}

std::uint32_t deviceLastError() { return rawLastError; }

void deviceSetNextDocumentIdentity(const char* identity) { nextIdentity = identity != nullptr ? identity : ""; }

bool deviceLastHandOverUncertain() { return lastHandOverUncertain; }

void deviceRemoveLeftovers() { removeStaleScratchFiles(); }

bool deviceConfirmsDelivery(const char* printerName) { return printerName != nullptr && !storesPdf(printerName); }

void deviceSetPdfFile(const char* path) { nextPdfFile = path != nullptr ? path : ""; }

bool deviceFindsPrintedDocuments(const char*) { return true; }

// Every printer here is asked by the identity its documents carry
// (deviceFindDocument), so none is asked for a job by its number: there is
// no such job (ERROR_NOT_SUPPORTED), and none to delete.
namespace {
const std::uint32_t kErrorNotSupported = 50;  // ERROR_NOT_SUPPORTED
}  // namespace

bool deviceGetJob(PrinterHandle, std::uint32_t, DeviceJobInfo*) { return rawFailure(kErrorNotSupported); }

bool deviceSetJob(PrinterHandle, std::uint32_t, std::uint32_t) { return rawFailure(kErrorNotSupported); }

DeviceFinding deviceFindDocument(const char* printerName, const char* identity, std::int64_t since) {
  if (printerName == nullptr || identity == nullptr || *identity == '\0') return kDeviceDocumentNotFound;
  if (isSaveAsPdf(printerName))
    return findSavedPdf(identity, since) ? kDeviceDocumentFinished : kDeviceDocumentNotFound;
  switch (findCupsJob(printerName, identity)) {
    case kCupsJobPending: return kDeviceDocumentFound;
    case kCupsJobFinished: return kDeviceDocumentFinished;
    case kCupsJobMissing: return kDeviceDocumentNotFound;
    case kCupsJobNoHistory: return kDeviceCannotSay;
    default: return kDeviceNoAnswer;
  }
}

DeviceContext deviceCreateDC(const char* printerName, const void* settings) {
  if (printerName == nullptr || *printerName == '\0') return nullptr;
  DeviceSettings chosen;
  if (settings != nullptr) {
    if (!validSettings(settings)) return nullptr;
    std::memcpy(&chosen, settings, sizeof chosen);
  } else if (!lookupPrinter(printerName, &chosen)) {
    return nullptr;
  }
  if (isPdfFile(printerName) && nextPdfFile.empty()) return nullptr;
  DeviceContextObject* dc = new DeviceContextObject();
  dc->printerName = printerName;
  if (isPdfFile(printerName)) dc->pdfFile = nextPdfFile;
  dc->settings = chosen;
  dc->documentOpen = false;
  dc->fd = -1;
  dc->writeFailed = false;
  dc->writeErrno = 0;
  dc->surface = nullptr;
  dc->pagesDone = 0;
  dc->digest = kDigestStart;
  dc->fileMode = 0777;
  dc->cr = nullptr;
  dc->rollPaper = false;
  dc->page = nullptr;
  dc->underlay = nullptr;
  dc->underlayCr = nullptr;
  dc->bitmapBits = nullptr;
  dc->bitmapWidth = dc->bitmapHeight = 0;
  dc->bitmap = nullptr;
  dc->font = stockFont();
  dc->textColor = 0;
  dc->backgroundColor = 0xFFFFFF;
  dc->backgroundMode = 2;  // OPAQUE
  dc->textAlign = 0;
  dc->x = dc->y = 0;
  return dc;
}

bool deviceSetOrientation(void* settings, bool landscape) {
  if (!validSettings(settings)) return false;
  DeviceSettings s;
  std::memcpy(&s, settings, sizeof s);
  // Landscape is the paper's long edge across; its border turns with it.
  if ((s.paperWidth > s.paperLength) != landscape && s.paperWidth != s.paperLength) {
    std::swap(s.paperWidth, s.paperLength);
    const std::int32_t left = s.marginLeft;
    if (landscape) {
      s.marginLeft = s.marginTop;
      s.marginTop = s.marginRight;
      s.marginRight = s.marginBottom;
      s.marginBottom = left;
    } else {
      s.marginLeft = s.marginBottom;
      s.marginBottom = s.marginRight;
      s.marginRight = s.marginTop;
      s.marginTop = left;
    }
  }
  std::memcpy(settings, &s, sizeof s);
  return true;
}

// A CUPS queue makes the copies of a job itself (its option "copies");
// "Save as PDF" makes none: its pages are drawn that many times instead.
bool deviceSetCopies(const char* printerName, void* settings, int copies) {
  if (printerName == nullptr || isSaveAsPdf(printerName) || !validSettings(settings) || copies < 1) return false;
  DeviceSettings s;
  std::memcpy(&s, settings, sizeof s);
  s.copies = copies;
  std::memcpy(settings, &s, sizeof s);
  return true;
}

bool deviceSetDocumentFileMode(DeviceContext dc, unsigned mode) {
  if (dc == nullptr) return false;
  dc->fileMode = mode & 0777;
  return true;
}

bool deviceSetDocumentName(DeviceContext dc, const char* name) {
  if (dc == nullptr || dc->documentOpen || !isSaveAsPdf(dc->printerName) || name == nullptr ||
      !savedNameAllowed(name))
    return false;
  dc->savedName = name;
  return true;
}

bool deviceSetRollPaper(DeviceContext dc, int paperWidth, int printableWidth) {
  if (dc == nullptr || dc->documentOpen || !storesPdf(dc->printerName) || printableWidth <= 0 ||
      paperWidth <= printableWidth)
    return false;
  DeviceSettings& s = dc->settings;
  s.paperWidth = paperWidth;
  s.marginLeft = (paperWidth - printableWidth) / 2;
  s.marginRight = paperWidth - printableWidth - s.marginLeft;
  s.marginTop = s.marginBottom = kRollMargin;
  // A page as long as a receipt can be: a longer one goes on on the next.
  s.paperLength = kRollPageLength;
  dc->rollPaper = true;
  return true;
}

int deviceStartDoc(DeviceContext dc, const char* documentName) {
  if (dc == nullptr || dc->documentOpen) return 0;
  dc->title = documentName != nullptr ? documentName : "";
  dc->identity = takeNextIdentity();
  dc->writeErrno = 0;
  dc->fd = isPdfFile(dc->printerName) ? openScratchBeside(dc->pdfFile, &dc->scratchPath)
                                      : openScratchFile(isSaveAsPdf(dc->printerName), &dc->scratchPath);
  if (dc->fd < 0) return 0;
  dc->writeFailed = false;
  dc->pagesDone = 0;
  dc->digest = kDigestStart;
  dc->surface = cairo_pdf_surface_create_for_stream(writeToScratch, dc, points(dc->settings.paperWidth),
                                                    points(dc->settings.paperLength));
  if (cairo_surface_status(dc->surface) != CAIRO_STATUS_SUCCESS) {
    discardDocument(dc);
    return 0;
  }
  cairo_pdf_surface_set_metadata(dc->surface, CAIRO_PDF_METADATA_TITLE, dc->title.c_str());
  cairo_pdf_surface_set_metadata(dc->surface, CAIRO_PDF_METADATA_CREATOR, "ferrin");
  if (!dc->identity.empty())
    cairo_pdf_surface_set_metadata(dc->surface, CAIRO_PDF_METADATA_KEYWORDS, savedPdfKeywords(dc->identity).c_str());
  dc->documentOpen = true;
  return 1;
}

int deviceGetDeviceCaps(DeviceContext dc, int index) {
  if (dc == nullptr) return 0;
  const DeviceSettings& s = dc->settings;
  switch (index) {
    case 2: return 2;  // TECHNOLOGY: DT_RASPRINTER
    case 4: return static_cast<int>(std::lround((s.paperWidth - s.marginLeft - s.marginRight) / 100.0));   // HORZSIZE, mm
    case 6: return static_cast<int>(std::lround((s.paperLength - s.marginTop - s.marginBottom) / 100.0));  // VERTSIZE, mm
    case kDeviceHorzRes: return printableWidth(s);
    case kDeviceVertRes: return printableHeight(s);
    case kDeviceLogPixelsX:
    case kDeviceLogPixelsY: return kDotsPerInch;
    case 110: return dots(s.paperWidth);   // PHYSICALWIDTH
    case 111: return dots(s.paperLength);  // PHYSICALHEIGHT
    case 112: return dots(s.marginLeft);   // PHYSICALOFFSETX
    case 113: return dots(s.marginTop);    // PHYSICALOFFSETY
    default: return 0;
  }
}

FontHandle deviceCreateFontIndirect(const LogFont* logicalFont) {
  if (logicalFont == nullptr) return nullptr;
  DeviceFontObject* font = new DeviceFontObject();
  if (!makeDeviceFont(*logicalFont, kDotsPerInch, font)) {
    delete font;
    return nullptr;
  }
  return font;
}

FontHandle deviceSelectObject(DeviceContext dc, FontHandle font) {
  if (dc == nullptr || font == nullptr || font == DEVICE_SELECT_ERROR) return nullptr;
  FontHandle previous = dc->font;
  dc->font = font;
  return previous;
}

bool deviceGetTextMetrics(DeviceContext dc, TextMetrics* metrics) {
  if (dc == nullptr || metrics == nullptr || dc->font == nullptr || dc->font->sized == nullptr) return false;
  *metrics = dc->font->sized->metrics;
  return true;
}

DeviceContext deviceResetDC(DeviceContext dc, const void* settings) {
  if (dc == nullptr || !validSettings(settings)) return nullptr;
  // Takes effect with the next page. Receipt pages keep the receipt's paper.
  if (!dc->rollPaper) std::memcpy(&dc->settings, settings, sizeof dc->settings);
  return dc;
}

std::uint32_t deviceSetTextColor(DeviceContext dc, std::uint32_t color) {
  if (dc == nullptr) return 0xFFFFFFFFu;  // CLR_INVALID
  std::uint32_t previous = dc->textColor;
  dc->textColor = color & 0xFFFFFF;
  return previous;
}

std::uint32_t deviceSetBkColor(DeviceContext dc, std::uint32_t color) {
  if (dc == nullptr) return 0xFFFFFFFFu;
  std::uint32_t previous = dc->backgroundColor;
  dc->backgroundColor = color & 0xFFFFFF;
  return previous;
}

int deviceSetBkMode(DeviceContext dc, int mode) {
  if (dc == nullptr || (mode != 1 && mode != 2)) return 0;
  int previous = dc->backgroundMode;
  dc->backgroundMode = mode;
  return previous;
}

namespace {

// Device units are dots; the origin is the printable area's top-left
// corner, and nothing is drawn outside that area.
cairo_t* pageContext(cairo_surface_t* target, const DeviceSettings& s) {
  cairo_t* cr = cairo_create(target);
  cairo_scale(cr, 72.0 / kDotsPerInch, 72.0 / kDotsPerInch);
  cairo_translate(cr, dots(s.marginLeft), dots(s.marginTop));
  cairo_rectangle(cr, 0, 0, printableWidth(s), printableHeight(s));
  cairo_clip(cr);
  return cr;
}

}  // namespace

int deviceStartPage(DeviceContext dc) {
  if (dc == nullptr || !dc->documentOpen || dc->cr != nullptr || dc->writeFailed) return 0;
  const DeviceSettings& s = dc->settings;
  if (dc->rollPaper) {
    // The page's length is known once it has been drawn.
    const cairo_rectangle_t paper = {0, 0, points(s.paperWidth), points(s.paperLength)};
    dc->page = cairo_recording_surface_create(CAIRO_CONTENT_COLOR_ALPHA, &paper);
    dc->cr = pageContext(dc->page, s);
  } else {
    cairo_pdf_surface_set_size(dc->surface, points(s.paperWidth), points(s.paperLength));
    dc->cr = pageContext(dc->surface, s);
  }
  if (cairo_status(dc->cr) != CAIRO_STATUS_SUCCESS) {
    cairo_destroy(dc->cr);
    dc->cr = nullptr;
    return 0;
  }
  addToDigest(&dc->digest, "P", 1);
  addNumberToDigest(&dc->digest, s.paperWidth);
  addNumberToDigest(&dc->digest, s.paperLength);
  return 1;
}

std::uint32_t deviceSetTextAlign(DeviceContext dc, std::uint32_t align) {
  if (dc == nullptr) return kDeviceAlignError;
  std::uint32_t previous = dc->textAlign;
  dc->textAlign = align;
  return previous;
}

bool deviceMoveTo(DeviceContext dc, int x, int y) {
  if (dc == nullptr) return false;
  dc->x = x;
  dc->y = y;
  return true;
}

namespace {

// The text of one TextOut or TextOutW call as the selected font draws it:
// one glyph and one advance width per byte or UTF-16 unit. Long lines are
// never copied: glyphs are looked up as they are measured and drawn.
struct TextRun {
  const SizedFont* font;
  const unsigned char* bytes;  // TextOut's, or nullptr
  const char16_t* wide;        // TextOutW's, or nullptr
  int count;
  const int* dx;               // ExtTextOutW's advances, or nullptr for the font's own
  bool underline;
};

void glyphAt(const TextRun& run, int i, unsigned long* glyph, int* advance) {
  if (run.wide != nullptr) {
    wideGlyph(run.font, run.wide[i], glyph, advance);
  } else {
    *glyph = run.font->glyph[run.bytes[i]];
    *advance = run.font->advance[run.bytes[i]];
  }
  if (run.dx != nullptr) *advance = run.dx[i];
}

long runWidth(const TextRun& run) {
  long width = 0;
  unsigned long glyph = 0;
  int advance = 0;
  for (int i = 0; i < run.count; i++) {
    glyphAt(run, i, &glyph, &advance);
    width += advance;
  }
  return width;
}

bool readyToDraw(DeviceContext dc, const void* text, int count) {
  if (dc == nullptr || count < 0 || (count > 0 && text == nullptr)) return false;
  return dc->cr != nullptr && dc->font != nullptr && dc->font->sized != nullptr;
}

// The left edge and baseline of text of the given width drawn at (x, y)
// under the context's alignment: TA_CENTER 6, TA_RIGHT 2; TA_BASELINE 24,
// TA_BOTTOM 8, else top.
void placeText(const DeviceContextObject* dc, const SizedFont* font, int x, int y, long width, long* left,
               long* baseline) {
  *left = x;
  std::uint32_t horizontal = dc->textAlign & 6;
  if (horizontal == 6) *left -= width / 2;
  else if (horizontal == 2) *left -= width;
  *baseline = y + font->metrics.tmAscent;
  std::uint32_t vertical = dc->textAlign & 24;
  if (vertical == 24) *baseline = y;
  else if (vertical == 8) *baseline = y - font->metrics.tmDescent;
}

// Paints the run's background (when opaque) and its glyphs from the first one
// that reaches into the page to the last one that starts inside it; the clip
// cuts the rest.
bool paintRun(DeviceContextObject* dc, const TextRun& run, long width, long left, long baseline) {
  const SizedFont* font = run.font;
  const int right = printableWidth(dc->settings);
  const int bottom = printableHeight(dc->settings);
  const long top = baseline - font->metrics.tmAscent;
  const bool visible = top < bottom && top + font->metrics.tmHeight > 0 && left < right && left + width > 0;
  if (!visible || run.count == 0) return true;
  cairo_t* cr = dc->cr;
  if (dc->backgroundMode == 2) {
    setSource(cr, dc->backgroundColor);
    cairo_rectangle(cr, static_cast<double>(left), static_cast<double>(top), static_cast<double>(width),
                    font->metrics.tmHeight);
    cairo_fill(cr);
  }
  static thread_local std::vector<cairo_glyph_t> glyphs;
  glyphs.clear();
  long pen = left;
  for (int i = 0; i < run.count && pen < right; i++) {
    unsigned long index = 0;
    int advance = 0;
    glyphAt(run, i, &index, &advance);
    if (pen + advance > 0) {
      cairo_glyph_t glyph;
      glyph.index = index;
      glyph.x = static_cast<double>(pen);
      glyph.y = static_cast<double>(baseline);
      glyphs.push_back(glyph);
    }
    pen += advance;
  }
  setSource(cr, dc->textColor);
  cairo_set_font_face(cr, font->face);
  cairo_matrix_t size;
  cairo_matrix_init_scale(&size, font->em * font->scaleX, font->em);
  cairo_set_font_matrix(cr, &size);
  cairo_show_glyphs(cr, glyphs.data(), static_cast<int>(glyphs.size()));
  if (run.underline) {
    cairo_rectangle(cr, static_cast<double>(left), static_cast<double>(baseline + font->underlineOffset),
                    static_cast<double>(width), font->underlineThickness);
    cairo_fill(cr);
  }
  return cairo_status(cr) == CAIRO_STATUS_SUCCESS;
}

// Draws the run at (x, y), or at the current position under TA_UPDATECP,
// which then moves past it. The text goes into the digest.
bool showRun(DeviceContextObject* dc, int x, int y, const TextRun& run) {
  const bool updateCp = (dc->textAlign & kDeviceTaUpdateCp) != 0;
  if (updateCp) {
    x = dc->x;
    y = dc->y;
  }
  const size_t count = static_cast<size_t>(run.count);
  addToDigest(&dc->digest, run.wide != nullptr ? "W" : "T", 1);
  addNumberToDigest(&dc->digest, x);
  addNumberToDigest(&dc->digest, y);
  addNumberToDigest(&dc->digest, run.count);
  if (run.wide != nullptr) addToDigest(&dc->digest, run.wide, count * sizeof(char16_t));
  else addToDigest(&dc->digest, run.bytes, count);
  long width = runWidth(run);
  long left = 0, baseline = 0;
  placeText(dc, run.font, x, y, width, &left, &baseline);
  if (!paintRun(dc, run, width, left, baseline)) return false;
  if (updateCp) dc->x = static_cast<int>(dc->x + width);
  return true;
}

}  // namespace

bool deviceTextOut(DeviceContext dc, int x, int y, const char* text, int count) {
  if (!readyToDraw(dc, text, count)) return false;
  TextRun run{dc->font->sized, reinterpret_cast<const unsigned char*>(text), nullptr, count, nullptr,
              dc->font->logical.lfUnderline != 0};
  return showRun(dc, x, y, run);
}

bool deviceTextOutW(DeviceContext dc, int x, int y, const char16_t* text, int count) {
  if (!readyToDraw(dc, text, count)) return false;
  TextRun run{dc->font->sized, nullptr, text, count, nullptr, dc->font->logical.lfUnderline != 0};
  return showRun(dc, x, y, run);
}

bool deviceExtTextOutW(DeviceContext dc, int x, int y, const char16_t* text, int count, const int* dx) {
  if (!readyToDraw(dc, text, count) || (count > 0 && dx == nullptr)) return false;
  TextRun run{dc->font->sized, nullptr, text, count, dx, dc->font->logical.lfUnderline != 0};
  addToDigest(&dc->digest, "X", 1);
  addToDigest(&dc->digest, dx, static_cast<size_t>(count) * sizeof(int));
  addNumberToDigest(&dc->digest, dc->font->logical.lfWeight);
  addNumberToDigest(&dc->digest, dc->font->logical.lfWidth);
  return showRun(dc, x, y, run);
}

namespace {

unsigned char reversedBits(unsigned char b) {
  b = static_cast<unsigned char>((b & 0xF0) >> 4 | (b & 0x0F) << 4);
  b = static_cast<unsigned char>((b & 0xCC) >> 2 | (b & 0x33) << 2);
  return static_cast<unsigned char>((b & 0xAA) >> 1 | (b & 0x55) << 1);
}

}  // namespace

// The bitmap becomes a 1-bit cairo image used as a mask for black: in the PDF
// it is an image of the bitmap's own size, scaled onto the page, that leaves
// the page white where its bits are clear.
int deviceStretchMonoBitmap(DeviceContext dc, int x, int y, int destWidth, int destHeight, const MonoBitmapInfo* info,
                            const void* bits) {
  if (dc == nullptr || dc->cr == nullptr || info == nullptr || bits == nullptr || info->width <= 0 ||
      info->height <= 0 || destWidth == 0 || destHeight == 0)
    return 0;
  cairo_surface_t* image = cairo_image_surface_create(CAIRO_FORMAT_A1, info->width, info->height);
  if (cairo_surface_status(image) != CAIRO_STATUS_SUCCESS) {
    cairo_surface_destroy(image);
    return 0;
  }
  cairo_surface_flush(image);
  unsigned char* target = cairo_image_surface_get_data(image);
  const int targetStride = cairo_image_surface_get_stride(image);
  const size_t sourceStride = (static_cast<size_t>(info->width) + 31) / 32 * 4;
  const size_t rowBytes = (static_cast<size_t>(info->width) + 7) / 8;
  const unsigned char* source = static_cast<const unsigned char*>(bits);
  const bool littleEndian = [] {
    const std::uint16_t probe = 1;
    unsigned char first;
    std::memcpy(&first, &probe, 1);
    return first == 1;
  }();
  // A DIB keeps the leftmost pixel in a byte's high bit; cairo's A1 keeps it
  // in the low bit of a byte on little-endian machines, the high one on
  // big-endian ones.
  for (int r = 0; r < info->height; ++r) {
    const unsigned char* in = source + static_cast<size_t>(r) * sourceStride;
    unsigned char* out = target + static_cast<size_t>(r) * static_cast<size_t>(targetStride);
    std::memset(out, 0, static_cast<size_t>(targetStride));
    for (size_t i = 0; i < rowBytes; ++i) out[i] = littleEndian ? reversedBits(in[i]) : in[i];
    // Bits past the width are no pixels.
    if (info->width % 8 != 0) {
      unsigned keep = (1u << (info->width % 8)) - 1;
      out[rowBytes - 1] &= static_cast<unsigned char>(littleEndian ? keep : keep << (8 - info->width % 8));
    }
  }
  cairo_surface_mark_dirty(image);
  cairo_t* cr = dc->cr;
  cairo_save(cr);
  cairo_translate(cr, x, y);
  cairo_scale(cr, static_cast<double>(destWidth) / info->width, static_cast<double>(destHeight) / info->height);
  setSource(cr, 0);
  cairo_pattern_t* mask = cairo_pattern_create_for_surface(image);
  cairo_pattern_set_filter(mask, CAIRO_FILTER_NEAREST);
  cairo_mask(cr, mask);
  cairo_pattern_destroy(mask);
  cairo_restore(cr);
  cairo_surface_destroy(image);
  addToDigest(&dc->digest, "B", 1);
  addNumberToDigest(&dc->digest, x);
  addNumberToDigest(&dc->digest, y);
  addNumberToDigest(&dc->digest, info->width);
  addNumberToDigest(&dc->digest, info->height);
  addToDigest(&dc->digest, bits, sourceStride * static_cast<size_t>(info->height));
  return cairo_status(cr) == CAIRO_STATUS_SUCCESS ? info->height : 0;
}

namespace {

// The surface that paints the bitmap: its own bits where they are in cairo's
// layout already (RGB24 is blue, green, red, unused on a little-endian
// machine), a converted copy otherwise. Kept for the document.
cairo_surface_t* bitmapSurface(DeviceContextObject* dc, const ColorBitmapInfo* info, const void* bits) {
  if (dc->bitmap != nullptr && dc->bitmapBits == bits && dc->bitmapWidth == info->width &&
      dc->bitmapHeight == info->height)
    return dc->bitmap;
  if (dc->bitmap != nullptr) cairo_surface_destroy(dc->bitmap);
  const std::uint16_t probe = 1;
  unsigned char first;
  std::memcpy(&first, &probe, 1);
  const size_t rowBytes = static_cast<size_t>(info->width) * 4;
  cairo_surface_t* surface = nullptr;
  if (first == 1 && cairo_format_stride_for_width(CAIRO_FORMAT_RGB24, info->width) == static_cast<int>(rowBytes)) {
    surface = cairo_image_surface_create_for_data(static_cast<unsigned char*>(const_cast<void*>(bits)),
                                                  CAIRO_FORMAT_RGB24, info->width, info->height,
                                                  static_cast<int>(rowBytes));
  } else {
    surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, info->width, info->height);
    if (cairo_surface_status(surface) == CAIRO_STATUS_SUCCESS) {
      cairo_surface_flush(surface);
      unsigned char* target = cairo_image_surface_get_data(surface);
      const int stride = cairo_image_surface_get_stride(surface);
      const unsigned char* in = static_cast<const unsigned char*>(bits);
      for (int r = 0; r < info->height; ++r)
        for (int c = 0; c < info->width; ++c) {
          const unsigned char* p = in + static_cast<size_t>(r) * rowBytes + static_cast<size_t>(c) * 4;
          std::uint32_t pixel = static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[1]) << 8 | p[0];
          std::memcpy(target + static_cast<size_t>(r) * static_cast<size_t>(stride) + static_cast<size_t>(c) * 4,
                      &pixel, 4);
        }
      cairo_surface_mark_dirty(surface);
    }
  }
  if (cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS) {
    cairo_surface_destroy(surface);
    surface = nullptr;
  }
  dc->bitmap = surface;
  dc->bitmapBits = surface != nullptr ? bits : nullptr;
  dc->bitmapWidth = info->width;
  dc->bitmapHeight = info->height;
  // The bits are the same for the whole document: they join the digest
  // once, each drawing only by its place.
  if (surface != nullptr) addToDigest(&dc->digest, bits, rowBytes * static_cast<size_t>(info->height));
  return surface;
}

}  // namespace

int deviceStretchColorBitmap(DeviceContext dc, int x, int y, int destWidth, int destHeight,
                             const ColorBitmapInfo* info, const void* bits) {
  if (dc == nullptr || dc->cr == nullptr || info == nullptr || bits == nullptr || info->width <= 0 ||
      info->height <= 0 || destWidth == 0 || destHeight == 0)
    return 0;
  cairo_surface_t* image = bitmapSurface(dc, info, bits);
  if (image == nullptr) return 0;
  cairo_t* cr = dc->cr;
  if (dc->page != nullptr) {
    if (dc->underlayCr == nullptr) {
      const cairo_rectangle_t paper = {0, 0, points(dc->settings.paperWidth), points(dc->settings.paperLength)};
      dc->underlay = cairo_recording_surface_create(CAIRO_CONTENT_COLOR_ALPHA, &paper);
      dc->underlayCr = pageContext(dc->underlay, dc->settings);
    }
    cr = dc->underlayCr;
  }
  cairo_save(cr);
  cairo_translate(cr, x, y);
  cairo_scale(cr, static_cast<double>(destWidth) / info->width, static_cast<double>(destHeight) / info->height);
  cairo_set_source_surface(cr, image, 0, 0);
  cairo_rectangle(cr, 0, 0, info->width, info->height);
  cairo_fill(cr);
  cairo_restore(cr);
  addToDigest(&dc->digest, "C", 1);
  addNumberToDigest(&dc->digest, x);
  addNumberToDigest(&dc->digest, y);
  addNumberToDigest(&dc->digest, destWidth);
  addNumberToDigest(&dc->digest, destHeight);
  return cairo_status(cr) == CAIRO_STATUS_SUCCESS ? info->height : 0;
}

bool deviceGetCurrentPosition(DeviceContext dc, int* x, int* y) {
  if (dc == nullptr || x == nullptr || y == nullptr) return false;
  *x = dc->x;
  *y = dc->y;
  return true;
}

namespace {

// A receipt's page: the recording goes into the PDF on a page as long as
// its ink, with the top margin below it too.
int endRollPage(DeviceContext dc) {
  const DeviceSettings& s = dc->settings;
  bool ok = cairo_status(dc->cr) == CAIRO_STATUS_SUCCESS;
  cairo_destroy(dc->cr);
  dc->cr = nullptr;
  double x = 0, y = 0, width = 0, height = 0;
  cairo_recording_surface_ink_extents(dc->page, &x, &y, &width, &height);
  const double bottom = height > 0 ? y + height : points(s.marginTop);
  const double length = std::min(points(s.paperLength), std::max(bottom, 0.0) + points(s.marginBottom));
  cairo_pdf_surface_set_size(dc->surface, points(s.paperWidth), length);
  cairo_t* cr = cairo_create(dc->surface);
  if (dc->underlay != nullptr) {
    ok = ok && cairo_status(dc->underlayCr) == CAIRO_STATUS_SUCCESS;
    cairo_set_source_surface(cr, dc->underlay, 0, 0);
    cairo_paint(cr);
  }
  cairo_set_source_surface(cr, dc->page, 0, 0);
  cairo_paint(cr);
  cairo_show_page(cr);
  ok = ok && cairo_status(cr) == CAIRO_STATUS_SUCCESS && !dc->writeFailed;
  cairo_destroy(cr);
  cairo_surface_destroy(dc->page);
  dc->page = nullptr;
  dropUnderlay(dc);
  if (!ok) return 0;
  dc->pagesDone++;
  return 1;
}

}  // namespace

int deviceEndPage(DeviceContext dc) {
  if (dc == nullptr || dc->cr == nullptr) return 0;
  if (dc->page != nullptr) return endRollPage(dc);
  // A page begun and ended is a page, as StartPage and EndPage make one on
  // Windows; cairo leaves out a page nothing was drawn on, so a dot of the
  // paper's own white keeps a blank sheet in the document.
  cairo_save(dc->cr);
  cairo_set_source_rgb(dc->cr, 1, 1, 1);
  cairo_rectangle(dc->cr, 0, 0, 1, 1);
  cairo_fill(dc->cr);
  cairo_restore(dc->cr);
  cairo_show_page(dc->cr);
  bool ok = cairo_status(dc->cr) == CAIRO_STATUS_SUCCESS && !dc->writeFailed;
  cairo_destroy(dc->cr);
  dc->cr = nullptr;
  if (!ok) return 0;
  dc->pagesDone++;
  return 1;
}

int deviceEndDoc(DeviceContext dc) {
  if (dc == nullptr || !dc->documentOpen) return 0;
  lastHandOverUncertain = false;
  if (dc->cr != nullptr) deviceEndPage(dc);
  // A PDF file is made even of a printout with nothing on it.
  if (dc->pagesDone == 0 && isPdfFile(dc->printerName) && deviceStartPage(dc) > 0) deviceEndPage(dc);
  // A document without a page is not handed over: there is nothing to print.
  if (dc->pagesDone == 0 && !dc->writeFailed) {
    discardDocument(dc);
    return 1;
  }
  cairo_surface_finish(dc->surface);
  writePending(dc);
  bool ok = cairo_surface_status(dc->surface) == CAIRO_STATUS_SUCCESS && !dc->writeFailed;
  cairo_surface_destroy(dc->surface);
  dc->surface = nullptr;
  if (ok) {
    if (isSaveAsPdf(dc->printerName)) {
      std::string finalPath;
      ok = publishPdf(dc->fd, dc->scratchPath, dc->fileMode, dc->savedName, &finalPath);
      dc->savedName.clear();
      dc->scratchPath.clear();  // moved into place, or removed on failure
    } else if (isPdfFile(dc->printerName)) {
      ok = fsync(dc->fd) == 0 && rename(dc->scratchPath.c_str(), dc->pdfFile.c_str()) == 0;
      if (ok) dc->scratchPath.clear();
    } else {
      ok = submitCupsJob(dc->printerName, dc->title, kCupsFormatPdf, dc->fd, dc->digest, dc->identity,
                         &lastHandOverUncertain, dc->settings.copies);
    }
  }
  // Where the document could not be written, a full disk is told apart.
  if (!ok) rawLastError = dc->writeErrno == ENOSPC || errno == ENOSPC ? kDeviceErrorDiskFull : kErrorGeneralFailure;
  discardDocument(dc);
  return ok ? 1 : 0;
}

// Nothing has left the process before EndDoc: dropping the scratch file is
// all it takes for the job never to reach CUPS or the "printed" folder.
int deviceAbortDoc(DeviceContext dc) {
  if (dc == nullptr || !dc->documentOpen) return -1;  // SP_ERROR
  discardDocument(dc);
  return 1;
}

bool deviceDeleteDC(DeviceContext dc) {
  if (dc == nullptr) return false;
  // A document still open is abandoned, as deleting a Windows printer
  // context aborts its job.
  if (dc->documentOpen) discardDocument(dc);
  delete dc;
  return true;
}

bool deviceDeleteObject(FontHandle font) {
  if (font == nullptr || font == DEVICE_SELECT_ERROR) return false;
  if (!font->stock) delete font;
  return true;
}
