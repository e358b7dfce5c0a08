#include "print/printer.h"

#include <climits>
#include <cmath>
#include <cstring>
#include <new>

#include "console/codepage.h"
#include "platform/system.h"
#include "files/errors.h"
#include "print/printer_state.h"

ProcessLock PrinterLock;

PrinterState printerState;

namespace {

// Pages begun by the document this thread last attached; -1 after a raw
// document, whose pages only the printer knows.
thread_local int documentPages = 0;
// The copies the caller draws of that document (copiesToDraw).
thread_local int drawnCopies = 1;

const std::uint32_t kBlack = 0x000000;
const std::uint32_t kWhite = 0xFFFFFF;

bool selected(FontHandle previous) { return previous != nullptr && previous != DEVICE_SELECT_ERROR; }

void releaseDeviceMode() { std::vector<unsigned char>().swap(printerState.deviceMode); }

// Everything back to "no printer attached". The fonts must already be gone.
void clearState() {
  PrinterState& s = printerState;
  releaseDeviceMode();
  for (PrinterFont* font : s.fonts) delete font;
  s.fonts.clear();
  s.deviceContext = nullptr;
  s.pageOpen = false;
  s.currentFont = nullptr;
  s.initialFont = nullptr;
  s.cellHeight = 0;
  s.externalLeading = 0;
  s.penX = 0;
  s.penY = 0;
  s.pageHeight = 0;
  s.codePage = 0;
  s.overlay = OverlayChoice();
  s.textAlign = 0;
}

// A font record with the fixed LOGFONT values; lfHeight is filled in by the
// caller once the printer's resolution is known.
PrinterFont* makeFont(const std::string& faceName, float pointSize) {
  PrinterFont* font = new PrinterFont();
  std::size_t n = faceName.size() < 31 ? faceName.size() : 31;
  std::memcpy(font->faceName, faceName.data(), n);
  font->faceName[n] = '\0';
  font->pointSize = pointSize;
  LogFont& lf = font->logicalFont;
  lf.lfWeight = 400;  // FW_NORMAL
  lf.lfCharSet = 1;   // DEFAULT_CHARSET
  std::memcpy(lf.lfFaceName, font->faceName, sizeof lf.lfFaceName);
  font->deviceFont = nullptr;
  return font;
}

void readMetrics() {
  TextMetrics tm{};
  if (deviceGetTextMetrics(printerState.deviceContext, &tm)) {
    printerState.cellHeight = tm.tmHeight;
    printerState.externalLeading = tm.tmExternalLeading;
  }
}

void setColours() {
  DeviceContext dc = printerState.deviceContext;
  deviceSetTextColor(dc, kBlack);
  deviceSetBkColor(dc, kWhite);
  deviceSetBkMode(dc, kDeviceTransparent);
}

// Begins a page when none is open. Every page starts from the settings read at
// attach and gets the current font, colours, alignment and position afresh.
bool ensurePage() {
  PrinterState& s = printerState;
  if (s.deviceContext == nullptr) {
    setError(kPrinterDeviceError);
    return false;
  }
  if (s.pageOpen) return true;
  if (deviceResetDC(s.deviceContext, s.deviceMode.data()) == nullptr ||
      s.currentFont == nullptr || !selected(deviceSelectObject(s.deviceContext, s.currentFont->deviceFont))) {
    setError(kPrinterDeviceError);
    return false;
  }
  setColours();
  readMetrics();
  // From here on the page counts as begun even if the device refuses, so that
  // the next form feed or the detach ends it.
  s.pageOpen = true;
  ++documentPages;
  if (deviceStartPage(s.deviceContext) <= 0 ||
      deviceSetTextAlign(s.deviceContext, kDeviceTaUpdateCp) == kDeviceAlignError) {
    setError(kPrinterDeviceError);
    return false;
  }
  s.textAlign = kDeviceTaUpdateCp;
  s.penX = 0;
  s.penY = 0;
  deviceMoveTo(s.deviceContext, 0, 0);
  // Under everything the page gets. A form the device cannot draw leaves the
  // page without it, and the printout still prints.
  drawOverlay(s.deviceContext, s.overlay, documentPages);
  return true;
}

// A text line whose cell would pass the bottom of the printable area goes to
// a new page, unless it is already the first line of its page (a font taller
// than the page can only be cut).
bool lineFitsPage() {
  const PrinterState& s = printerState;
  if (s.pageHeight <= 0 || s.penY <= 0) return true;
  return static_cast<std::int64_t>(s.penY) + s.cellHeight <= s.pageHeight;
}

bool breakPage() {
  PrinterState& s = printerState;
  if (deviceEndPage(s.deviceContext) <= 0) {
    setError(kPrinterDeviceError);
    return false;
  }
  s.pageOpen = false;
  s.penX = 0;
  s.penY = 0;
  return ensurePage();
}

// How the document in progress ends.
enum class DocumentEnd {
  HandOver,         // to the spooler; 57 when the device does not take it
  HandOverQuietly,  // to the spooler, reporting nothing
  Abandon           // thrown away, reporting nothing
};

// Ends the document in progress and releases everything of the attachment.
void endDocument(DocumentEnd how) {
  PrinterState& s = printerState;
  releaseDeviceMode();
  DeviceContext dc = s.deviceContext;
  if (dc == nullptr) {
    clearState();
    return;
  }
  if (how == DocumentEnd::Abandon) {
    // Should the device refuse, deleting the device context below still
    // aborts the job; ending it instead would print it.
    deviceAbortDoc(dc);
  } else {
    if (s.pageOpen) deviceEndPage(dc);
    if (deviceEndDoc(dc) <= 0 && how == DocumentEnd::HandOver)
      setError(deviceLastError() == kDeviceErrorDiskFull ? kPrinterDiskFull : kPrinterDeviceError);
  }
  // Our fonts may be deleted once none of them can still be selected into a
  // live device context: after the original font went back in, or after the
  // device context itself is gone. A device context that allows neither keeps
  // them, rather than deleting a font it still holds.
  bool fontsFree = s.initialFont != nullptr && selected(deviceSelectObject(dc, s.initialFont));
  if (deviceDeleteDC(dc)) fontsFree = true;
  if (fontsFree) {
    for (PrinterFont* font : s.fonts)
      if (font->deviceFont != nullptr) deviceDeleteObject(font->deviceFont);
  }
  clearState();
}

// The printer's current default settings into deviceMode, through a printer
// handle that is closed again at once. False (deviceMode released) when the
// printer cannot be opened or its settings cannot be read or held.
bool readPrinterSettings(const char* name) {
  PrinterState& s = printerState;
  PrinterHandle printer = nullptr;
  if (!deviceOpenPrinter(name, &printer)) return false;
  std::int32_t size = deviceDocumentProperties(printer, name, nullptr, 0);
  bool settingsRead = size > 0;
  if (settingsRead) {
    try {
      s.deviceMode.assign(static_cast<std::size_t>(size), 0);
    } catch (const std::bad_alloc&) {
      settingsRead = false;
    }
  }
  if (settingsRead) settingsRead = deviceDocumentProperties(printer, name, s.deviceMode.data(), kDeviceDmOutBuffer) > 0;
  deviceClosePrinter(printer);
  if (!settingsRead) releaseDeviceMode();
  return settingsRead;
}

// A device context for the printer with the document "Print job" started on
// it; nullptr (nothing left behind) on failure. A narrower file mode is
// passed on before the document starts, and must be taken.
// Receipt paper's printable width in hundredths of a mm: what a 203 dpi
// receipt printer prints of 80 mm paper (576 dots) and of 58 mm (384 dots).
int receiptPrintableWidth(int paperMm) { return paperMm == 58 ? 4800 : 7200; }

DeviceContext startDocument(const char* name, const JobOptions& options) {
  const unsigned fileMode = options.fileMode;
  const int receiptPaperMm = options.receiptPaperMm;
  DeviceContext dc = deviceCreateDC(name, printerState.deviceMode.data());
  if (dc == nullptr) return nullptr;
  // A printer that names its files itself says no: its usual name.
  if (!options.savedName.empty()) deviceSetDocumentName(dc, options.savedName.c_str());
  // A printer that keeps its own paper says no: nothing to do.
  if (receiptPaperMm > 0) deviceSetRollPaper(dc, receiptPaperMm * 100, receiptPrintableWidth(receiptPaperMm));
  int job = fileMode != kAnyFileMode && !deviceSetDocumentFileMode(dc, fileMode & kAnyFileMode)
                ? 0
                : deviceStartDoc(dc, kPrintJobName);
  if (job <= 0) {
    deviceDeleteDC(dc);
    return nullptr;
  }
  reportDocumentStarted(name, static_cast<std::uint32_t>(job));
  return dc;
}

// The default font, 8 points. Unlike selectFont its height truncates. When
// it cannot be made or selected the document has no current font, and every
// page request fails until the next attach.
void selectDefaultFont() {
  PrinterState& s = printerState;
  DeviceContext dc = s.deviceContext;
  int dots = deviceGetDeviceCaps(dc, kDeviceLogPixelsY);
  PrinterFont* font = makeFont(kDefaultPrinterFont, 8.0f);
  font->logicalFont.lfHeight = -((dots * 8) / 72);
  font->deviceFont = deviceCreateFontIndirect(&font->logicalFont);
  if (font->deviceFont == nullptr) {
    delete font;
    return;
  }
  s.fonts.push_back(font);
  FontHandle previous = deviceSelectObject(dc, font->deviceFont);
  if (selected(previous)) {
    s.initialFont = previous;
    s.currentFont = font;
  }
}

int clampedCount(std::size_t size) {
  return size > static_cast<std::size_t>(INT_MAX) ? INT_MAX : static_cast<int>(size);
}

// Draws a line's text at the device's current position: as the characters
// of the document's code page, or as bytes.
bool drawText(const std::string& text) {
  DeviceContext dc = printerState.deviceContext;
  if (printerState.codePage != 0) {
    std::u16string wide;
    if (!codePageToUtf16(printerState.codePage, text, &wide)) return false;
    return deviceTextOutW(dc, 0, 0, wide.data(), clampedCount(wide.size()));
  }
  return deviceTextOut(dc, 0, 0, text.data(), clampedCount(text.size()));
}

}  // namespace

void attachPrinter(const std::string& printerName, const JobOptions& options) {
  documentPages = 0;
  drawnCopies = 1;
  PrinterState& s = printerState;
  // The previous document belongs to whoever attached it; its hand-over is not
  // this caller's error.
  endDocument(DocumentEnd::HandOverQuietly);
  // The device takes a NUL-terminated name: a name with a NUL in it would
  // open some other printer.
  if (printerName.size() > kMaxPrinterName || printerName.find('\0') != std::string::npos) {
    setError(kPrinterOpenError);
    return;
  }
  if (printerName.empty()) return;
  const char* name = printerName.c_str();
  if (!readPrinterSettings(name)) {
    setError(kPrinterOpenError);
    return;
  }
  // Asked before the document starts: its settings go with it.
  if (options.copies > 1 && !deviceSetCopies(name, s.deviceMode.data(), options.copies))
    drawnCopies = options.copies;
  DeviceContext dc = startDocument(name, options);
  if (dc == nullptr) {
    releaseDeviceMode();
    setError(kPrinterOpenError);
    return;
  }
  s.deviceContext = dc;
  if (options.codePage != 0 && codePageSupported(options.codePage)) s.codePage = options.codePage;
  s.overlay = options.overlay;
  selectDefaultFont();
  readMetrics();
  s.pageHeight = deviceGetDeviceCaps(dc, kDeviceVertRes);
}

void attachPdfFile(const std::string& path, const JobOptions& options) {
  // The device takes the file's name from the calling thread, as it takes
  // a NUL-terminated one.
  if (path.empty() || path.find('\0') != std::string::npos) {
    endDocument(DocumentEnd::HandOverQuietly);
    setError(kPrinterOpenError);
    return;
  }
  deviceSetPdfFile(path.c_str());
  attachPrinter(kDevicePdfFilePrinter, options);
  deviceSetPdfFile(nullptr);
}

void selectFont(const std::string& faceName, std::int16_t pointSize) {
  PrinterState& s = printerState;
  if (!ensurePage()) return;
  PrinterFont* font = makeFont(faceName, pointSize == 0 ? 8.0f : static_cast<float>(pointSize));
  // Rounded to nearest, halves to even (the default rounding mode).
  double dots = deviceGetDeviceCaps(s.deviceContext, kDeviceLogPixelsY);
  font->logicalFont.lfHeight = -static_cast<std::int32_t>(std::nearbyint(dots * font->pointSize / 72.0));
  font->deviceFont = deviceCreateFontIndirect(&font->logicalFont);
  if (font->deviceFont == nullptr) {
    delete font;
    setError(kPrinterFontError);
    return;
  }
  s.fonts.push_back(font);
  s.currentFont = font;
  if (!selected(deviceSelectObject(s.deviceContext, font->deviceFont))) {
    setError(kPrinterFontError);
    return;
  }
  readMetrics();
  setColours();
}

void printLine(const std::string& text) {
  PrinterState& s = printerState;
  // The canvas may have left its own alignment on the page.
  if (!text.empty() && ensurePage() && s.textAlign != kDeviceTaUpdateCp &&
      deviceSetTextAlign(s.deviceContext, kDeviceTaUpdateCp) != kDeviceAlignError)
    s.textAlign = kDeviceTaUpdateCp;
  if (!text.empty() && ensurePage() && (lineFitsPage() || breakPage())) {
    // Under TA_UPDATECP the coordinates are ignored: the text goes to the
    // device's current position, which moves past it.
    if (!drawText(text)) setError(kPrinterDeviceError);
    int x = 0, y = 0;
    if (deviceGetCurrentPosition(s.deviceContext, &x, &y)) {
      s.penX = x;
      s.penY = y;
    }
  }
  if (!ensurePage()) return;
  std::int64_t next = static_cast<std::int64_t>(s.penY) + s.cellHeight + s.externalLeading;
  s.penX = 0;
  s.penY = next > INT32_MAX ? INT32_MAX : static_cast<std::int32_t>(next);
  deviceMoveTo(s.deviceContext, 0, s.penY);
}

void formFeed() {
  PrinterState& s = printerState;
  if (s.deviceContext == nullptr) {
    setError(kPrinterDeviceError);
    return;
  }
  if (s.pageOpen && deviceEndPage(s.deviceContext) <= 0) {
    setError(kPrinterDeviceError);
    return;
  }
  s.penX = 0;
  s.penY = 0;
  s.pageOpen = false;
}

bool beginPrinterPage() { return ensurePage(); }

bool turnPrinterPages(bool landscape) {
  PrinterState& s = printerState;
  if (s.deviceContext == nullptr || s.deviceMode.empty() || s.pageOpen) return false;
  // A device that will not turn its pages keeps the settings it had, so that
  // the pages still print, unturned.
  const std::vector<unsigned char> before = s.deviceMode;
  if (!deviceSetOrientation(s.deviceMode.data(), landscape) ||
      deviceResetDC(s.deviceContext, s.deviceMode.data()) == nullptr) {
    s.deviceMode = before;
    return false;
  }
  s.pageHeight = deviceGetDeviceCaps(s.deviceContext, kDeviceVertRes);
  return true;
}

void detachPrinter() { endDocument(DocumentEnd::HandOver); }

void abandonDocument() { endDocument(DocumentEnd::Abandon); }

int copiesToDraw() { return drawnCopies; }

int lastDocumentPages() { return documentPages > 0 ? documentPages / drawnCopies : documentPages; }

void noteRawDocument() { documentPages = -1; }

namespace {
thread_local DocumentStarted documentStarted = nullptr;
thread_local void* documentStartedContext = nullptr;

const std::size_t kStartedJobsKept = 256;

bool startedHere(const std::string& printerName, std::uint32_t job) {
  for (const auto& started : printerState.startedJobs)
    if (started.second == job && started.first == printerName) return true;
  return false;
}

Delivery findSpooledJob(const std::string& printerName, std::uint32_t job, std::int64_t since) {
  // No job of this run starts meanwhile (each starts under the lock), so
  // that one of them cannot take the number between the two looks.
  LockGuard printing(PrinterLock);
  if (startedHere(printerName, job)) return kNotDelivered;
  PrinterHandle printer = nullptr;
  if (!deviceOpenPrinter(printerName.c_str(), &printer)) return kNoAnswer;
  DeviceJobInfo info;
  Delivery found = kDelivered;
  if (!deviceGetJob(printer, job, &info)) {
    std::uint32_t error = deviceLastError();
    found = error == kDeviceErrorInvalidParameter || error == 0 ? kNotDelivered : kNoAnswer;
  } else if (std::strcmp(info.document, kPrintJobName) != 0 || (info.submitted != 0 && info.submitted < since)) {
    found = kNotDelivered;  // another job, under a number given out again
  } else if ((info.status & kDeviceJobStatusSpooling) != 0) {
    // The run that spooled it ended before its document did. Deleted, it
    // cannot print a part of the printout beside the whole one sent again.
    found = deviceSetJob(printer, job, kDeviceJobControlDelete) ? kNotDelivered : kNoAnswer;
  }
  deviceClosePrinter(printer);
  return found;
}
}  // namespace

void nameNextDocument(const std::string& identity, DocumentStarted started, void* context) {
  deviceSetNextDocumentIdentity(identity.c_str());
  documentStarted = started;
  documentStartedContext = context;
}

void reportDocumentStarted(const std::string& printerName, std::uint32_t job) {
  // Only a printer that is asked for jobs by number needs them remembered.
  std::vector<std::pair<std::string, std::uint32_t>>& jobs = printerState.startedJobs;
  if (!printerFindsPrintedDocuments(printerName)) {
    if (jobs.size() >= kStartedJobsKept) jobs.erase(jobs.begin());
    jobs.push_back(std::make_pair(printerName, job));
  }
  DocumentStarted started = documentStarted;
  documentStarted = nullptr;
  if (started != nullptr) started(job, documentStartedContext);
}

bool lastHandOverUncertain() { return deviceLastHandOverUncertain(); }

bool printerFindsPrintedDocuments(const std::string& printerName) {
  return deviceFindsPrintedDocuments(printerName.c_str());
}

Delivery findDelivered(const std::string& printerName, const std::string& identity, std::int64_t since,
                       std::uint32_t job) {
  if (job != 0 && !printerFindsPrintedDocuments(printerName)) return findSpooledJob(printerName, job, since);
  switch (deviceFindDocument(printerName.c_str(), identity.c_str(), since)) {
    case kDeviceDocumentFound: return kDelivered;
    case kDeviceDocumentFinished: return kFinished;
    case kDeviceDocumentNotFound: return kNotDelivered;
    case kDeviceCannotSay: return kDeliveryUnknown;
    default: return kNoAnswer;
  }
}

void removePrinterLeftovers() { deviceRemoveLeftovers(); }

bool printerConfirmsDelivery(const std::string& printerName) { return deviceConfirmsDelivery(printerName.c_str()); }
