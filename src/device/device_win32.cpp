// The printer device on Windows: every operation is the winspool or GDI call
// it is named after, with the caller's values passed straight through. The
// opaque handle types of the seam are the Windows handles, cast. Windows has
// no PDF printer: the calls of a device context for kDevicePdfFilePrinter
// go to ferrin's own (device/pdfdevice.h).
#include "device/device.h"
#include "device/pdfdevice.h"

#include <windows.h>
#include <winspool.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

namespace {

HANDLE toPrinter(PrinterHandle handle) { return reinterpret_cast<HANDLE>(handle); }
HDC toDC(DeviceContext dc) { return reinterpret_cast<HDC>(dc); }
DeviceContext fromDC(HDC dc) { return reinterpret_cast<DeviceContext>(dc); }
HGDIOBJ toObject(FontHandle font) { return reinterpret_cast<HGDIOBJ>(font); }
FontHandle fromObject(HGDIOBJ object) { return reinterpret_cast<FontHandle>(object); }

// The seam's constants are the Windows values; a mismatch would pass wrong
// indexes and modes to the spooler without any other sign.
static_assert(kDeviceHorzRes == HORZRES, "HORZRES");
static_assert(kDeviceVertRes == VERTRES, "VERTRES");
static_assert(kDeviceLogPixelsX == LOGPIXELSX, "LOGPIXELSX");
static_assert(kDeviceLogPixelsY == LOGPIXELSY, "LOGPIXELSY");
static_assert(kDeviceDmOutBuffer == DM_OUT_BUFFER, "DM_OUT_BUFFER");
static_assert(kDeviceTransparent == TRANSPARENT, "TRANSPARENT");
static_assert(kDeviceTaUpdateCp == TA_UPDATECP, "TA_UPDATECP");
static_assert(kDeviceTaBaseline == TA_BASELINE, "TA_BASELINE");
static_assert(kDeviceFwBold == FW_BOLD, "FW_BOLD");
static_assert(kDeviceAlignError == GDI_ERROR, "GDI_ERROR");
static_assert(kDeviceErrorInvalidDatatype == ERROR_INVALID_DATATYPE, "ERROR_INVALID_DATATYPE");
static_assert(kDeviceErrorInvalidParameter == ERROR_INVALID_PARAMETER, "ERROR_INVALID_PARAMETER");
static_assert(kDeviceJobStatusSpooling == JOB_STATUS_SPOOLING, "JOB_STATUS_SPOOLING");
static_assert(kDeviceJobControlDelete == JOB_CONTROL_DELETE, "JOB_CONTROL_DELETE");
static_assert(sizeof(LogFont) == sizeof(LOGFONTA), "LogFont has LOGFONTA's layout");
static_assert(sizeof(LogFont::lfFaceName) == LF_FACESIZE, "face name field");

// The printer handle of kDevicePdfFilePrinter: no spooler's handle is the
// address of a variable of ours.
char pdfFilePrinter;
PrinterHandle pdfPrinterHandle() { return reinterpret_cast<PrinterHandle>(&pdfFilePrinter); }
bool isPdfFilePrinter(const char* name) { return name != nullptr && std::strcmp(name, kDevicePdfFilePrinter) == 0; }

// The file the next PDF device context of this thread writes into.
thread_local std::string nextPdfFile;

// The user's paper (Letter where the locale says so, A4 otherwise) as the
// settings record of the PDF printer.
void pdfPrinterSettings(DEVMODEA* mode) {
  std::memset(mode, 0, sizeof *mode);
  std::strcpy(reinterpret_cast<char*>(mode->dmDeviceName), "PDF file");
  mode->dmSpecVersion = DM_SPECVERSION;
  mode->dmSize = sizeof *mode;
  mode->dmFields = DM_ORIENTATION | DM_PAPERWIDTH | DM_PAPERLENGTH;
  mode->dmOrientation = DMORIENT_PORTRAIT;
  char size[8] = "";
  bool letter = GetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_IPAPERSIZE, size, sizeof size) > 0 &&
                std::strcmp(size, "1") == 0;
  mode->dmPaperWidth = letter ? 2159 : 2100;  // tenths of a mm
  mode->dmPaperLength = letter ? 2794 : 2970;
}

PdfPaper pdfPaperOf(const void* settings) {
  DEVMODEA mode;
  if (settings == nullptr || static_cast<const DEVMODEA*>(settings)->dmSize != sizeof mode)
    pdfPrinterSettings(&mode);
  else
    std::memcpy(&mode, settings, sizeof mode);
  PdfPaper paper;
  if (mode.dmPaperWidth > 0 && mode.dmPaperLength > 0) {
    paper.width = mode.dmPaperWidth * 10;
    paper.length = mode.dmPaperLength * 10;
  }
  paper.landscape = (mode.dmFields & DM_ORIENTATION) != 0 && mode.dmOrientation == DMORIENT_LANDSCAPE;
  return paper;
}

bool logicalFontOf(HGDIOBJ font, LogFont* logical) {
  LOGFONTA lf;
  if (font == nullptr || GetObjectA(font, sizeof lf, &lf) != sizeof lf) return false;
  std::memcpy(logical, &lf, sizeof lf);
  return true;
}

}  // namespace

bool deviceOpenPrinter(const char* printerName, PrinterHandle* handle) {
  if (isPdfFilePrinter(printerName)) {
    *handle = pdfPrinterHandle();
    return true;
  }
  HANDLE printer = nullptr;
  // OpenPrinterA takes a non-const name but does not write to it.
  BOOL ok = OpenPrinterA(const_cast<char*>(printerName), &printer, nullptr);
  *handle = ok ? reinterpret_cast<PrinterHandle>(printer) : nullptr;
  return ok != 0;
}

std::int32_t deviceDocumentProperties(PrinterHandle handle, const char* printerName, void* output, int mode) {
  if (handle == pdfPrinterHandle()) {
    if (mode == 0) return sizeof(DEVMODEA);
    if (output == nullptr) return -1;
    pdfPrinterSettings(static_cast<DEVMODEA*>(output));
    return 1;
  }
  return DocumentPropertiesA(nullptr, toPrinter(handle), const_cast<char*>(printerName),
                             static_cast<DEVMODEA*>(output), nullptr, static_cast<DWORD>(mode));
}

bool deviceClosePrinter(PrinterHandle handle) {
  return handle == pdfPrinterHandle() || ClosePrinter(toPrinter(handle)) != 0;
}

std::uint32_t deviceStartDocPrinter(PrinterHandle handle, const char* documentName, const char* datatype) {
  // The PDF file stores only what was laid out.
  if (handle == pdfPrinterHandle()) {
    SetLastError(ERROR_INVALID_DATATYPE);
    return 0;
  }
  // DOC_INFO_1A takes non-const strings but does not write to them.
  DOC_INFO_1A info;
  info.pDocName = const_cast<char*>(documentName);
  info.pOutputFile = nullptr;
  info.pDatatype = const_cast<char*>(datatype);
  return StartDocPrinterA(toPrinter(handle), 1, reinterpret_cast<LPBYTE>(&info));
}

bool deviceStartPagePrinter(PrinterHandle handle) { return StartPagePrinter(toPrinter(handle)) != 0; }

bool deviceWritePrinter(PrinterHandle handle, const void* data, std::uint32_t size, std::uint32_t* written) {
  DWORD taken = 0;
  BOOL ok = WritePrinter(toPrinter(handle), const_cast<void*>(data), size, &taken);
  *written = taken;
  return ok != 0;
}

bool deviceEndPagePrinter(PrinterHandle handle) { return EndPagePrinter(toPrinter(handle)) != 0; }

bool deviceEndDocPrinter(PrinterHandle handle) { return EndDocPrinter(toPrinter(handle)) != 0; }

bool deviceAbortPrinter(PrinterHandle handle) { return AbortPrinter(toPrinter(handle)) != 0; }

std::uint32_t deviceLastError() { return GetLastError(); }

void deviceSetPdfFile(const char* path) { nextPdfFile = path != nullptr ? path : ""; }

DeviceContext deviceCreateDC(const char* printerName, const void* settings) {
  if (isPdfFilePrinter(printerName)) {
    HGDIOBJ initial = GetStockObject(ANSI_FIXED_FONT);
    LogFont logical;
    if (nextPdfFile.empty() || !logicalFontOf(initial, &logical)) return nullptr;
    return createPdfContext(nextPdfFile, pdfPaperOf(settings), fromObject(initial), logical);
  }
  return fromDC(CreateDCA(nullptr, printerName, nullptr, static_cast<const DEVMODEA*>(settings)));
}

// The spooler keeps no file that others could read: nothing to narrow.
bool deviceSetDocumentFileMode(DeviceContext dc, unsigned) { return dc != nullptr; }

// No Windows printer stores documents as files of ferrin's naming.
bool deviceSetDocumentName(DeviceContext, const char*) { return false; }

// Windows printers keep their own paper.
bool deviceSetRollPaper(DeviceContext dc, int paperWidth, int printableWidth) {
  return isPdfContext(dc) && setPdfRollPaper(dc, paperWidth, printableWidth);
}

bool deviceSetOrientation(void* settings, bool landscape) {
  if (settings == nullptr) return false;
  DEVMODEA* mode = static_cast<DEVMODEA*>(settings);
  mode->dmFields |= DM_ORIENTATION;
  mode->dmOrientation = landscape ? DMORIENT_LANDSCAPE : DMORIENT_PORTRAIT;
  return true;
}

bool deviceSetCopies(const char* printerName, void* settings, int copies) {
  if (printerName == nullptr || settings == nullptr || copies < 1 || copies > 0x7FFF) return false;
  // A driver without a copy count reports 1 (or fails): the pages are drawn
  // that many times instead.
  int most = DeviceCapabilitiesA(printerName, nullptr, DC_COPIES, nullptr, nullptr);
  if (most < copies) return false;
  HANDLE printer = nullptr;
  if (!OpenPrinterA(const_cast<char*>(printerName), &printer, nullptr)) return false;
  DEVMODEA* mode = static_cast<DEVMODEA*>(settings);
  // The whole record as it was, should the driver not keep the count.
  const unsigned char* bytes = static_cast<const unsigned char*>(settings);
  const std::vector<unsigned char> before(bytes, bytes + mode->dmSize + mode->dmDriverExtra);
  mode->dmFields |= DM_COPIES;
  mode->dmCopies = static_cast<short>(copies);
  // The driver merges the request into the record: it says there whether it
  // keeps the count.
  LONG merged = DocumentPropertiesA(nullptr, printer, const_cast<char*>(printerName), mode, mode,
                                    DM_IN_BUFFER | DM_OUT_BUFFER);
  ClosePrinter(printer);
  if (merged == IDOK && (mode->dmFields & DM_COPIES) != 0 && mode->dmCopies == copies) return true;
  std::memcpy(settings, before.data(), before.size());
  return false;
}

int deviceStartDoc(DeviceContext dc, const char* documentName) {
  if (isPdfContext(dc)) return startPdfDoc(dc, documentName);
  // A size and three names and a number: 20 bytes on 32-bit Windows, padded
  // to 40 on 64-bit Windows.
  static_assert(sizeof(DOCINFOA) == (sizeof(void*) == 4 ? 20 : 40), "DOCINFOA of Windows");
  DOCINFOA info;
  info.cbSize = sizeof(DOCINFOA);
  info.lpszDocName = documentName;
  info.lpszOutput = nullptr;
  info.lpszDatatype = nullptr;
  info.fwType = 0;
  return StartDocA(toDC(dc), &info);
}

int deviceGetDeviceCaps(DeviceContext dc, int index) {
  return isPdfContext(dc) ? pdfDeviceCaps(dc, index) : GetDeviceCaps(toDC(dc), index);
}

FontHandle deviceCreateFontIndirect(const LogFont* logicalFont) {
  LOGFONTA font;
  font.lfHeight = logicalFont->lfHeight;
  font.lfWidth = logicalFont->lfWidth;
  font.lfEscapement = logicalFont->lfEscapement;
  font.lfOrientation = logicalFont->lfOrientation;
  font.lfWeight = logicalFont->lfWeight;
  font.lfItalic = logicalFont->lfItalic;
  font.lfUnderline = logicalFont->lfUnderline;
  font.lfStrikeOut = logicalFont->lfStrikeOut;
  font.lfCharSet = logicalFont->lfCharSet;
  font.lfOutPrecision = logicalFont->lfOutPrecision;
  font.lfClipPrecision = logicalFont->lfClipPrecision;
  font.lfQuality = logicalFont->lfQuality;
  font.lfPitchAndFamily = logicalFont->lfPitchAndFamily;
  std::memcpy(font.lfFaceName, logicalFont->lfFaceName, LF_FACESIZE);
  // The caller's field is NUL-terminated; make sure of it all the same.
  font.lfFaceName[LF_FACESIZE - 1] = '\0';
  return fromObject(CreateFontIndirectA(&font));
}

FontHandle deviceSelectObject(DeviceContext dc, FontHandle font) {
  if (isPdfContext(dc)) {
    LogFont logical;
    return logicalFontOf(toObject(font), &logical) ? selectPdfFont(dc, font, logical) : nullptr;
  }
  return fromObject(SelectObject(toDC(dc), toObject(font)));
}

bool deviceGetTextMetrics(DeviceContext dc, TextMetrics* metrics) {
  if (isPdfContext(dc)) return pdfTextMetrics(dc, metrics);
  TEXTMETRICA tm;
  if (!GetTextMetricsA(toDC(dc), &tm)) return false;
  metrics->tmHeight = tm.tmHeight;
  metrics->tmAscent = tm.tmAscent;
  metrics->tmDescent = tm.tmDescent;
  metrics->tmExternalLeading = tm.tmExternalLeading;
  metrics->tmAveCharWidth = tm.tmAveCharWidth;
  return true;
}

DeviceContext deviceResetDC(DeviceContext dc, const void* settings) {
  if (isPdfContext(dc)) return resetPdfPaper(dc, pdfPaperOf(settings)) ? dc : nullptr;
  return fromDC(ResetDCA(toDC(dc), static_cast<const DEVMODEA*>(settings)));
}

std::uint32_t deviceSetTextColor(DeviceContext dc, std::uint32_t color) {
  return isPdfContext(dc) ? setPdfTextColor(dc, color) : SetTextColor(toDC(dc), color);
}

std::uint32_t deviceSetBkColor(DeviceContext dc, std::uint32_t color) {
  return isPdfContext(dc) ? setPdfBkColor(dc, color) : SetBkColor(toDC(dc), color);
}

int deviceSetBkMode(DeviceContext dc, int mode) {
  return isPdfContext(dc) ? setPdfBkMode(dc, mode) : SetBkMode(toDC(dc), mode);
}

int deviceStartPage(DeviceContext dc) { return isPdfContext(dc) ? startPdfPage(dc) : StartPage(toDC(dc)); }

std::uint32_t deviceSetTextAlign(DeviceContext dc, std::uint32_t align) {
  return isPdfContext(dc) ? setPdfTextAlign(dc, align) : SetTextAlign(toDC(dc), align);
}

bool deviceMoveTo(DeviceContext dc, int x, int y) {
  return isPdfContext(dc) ? movePdfTo(dc, x, y) : MoveToEx(toDC(dc), x, y, nullptr) != 0;
}

bool deviceTextOut(DeviceContext dc, int x, int y, const char* text, int count) {
  if (isPdfContext(dc)) {
    // The bytes are in the ANSI code page, as TextOutA takes them.
    std::vector<wchar_t> wide(static_cast<std::size_t>(count > 0 ? count : 0) + 1);
    int n = count > 0 ? MultiByteToWideChar(CP_ACP, 0, text, count, wide.data(), count) : 0;
    return (count <= 0 || n > 0) && pdfTextOut(dc, x, y, reinterpret_cast<const char16_t*>(wide.data()), n, nullptr);
  }
  return TextOutA(toDC(dc), x, y, text, count) != 0;
}

bool deviceTextOutW(DeviceContext dc, int x, int y, const char16_t* text, int count) {
  static_assert(sizeof(wchar_t) == sizeof(char16_t), "UTF-16 wchar_t");
  if (isPdfContext(dc)) return pdfTextOut(dc, x, y, text, count, nullptr);
  return TextOutW(toDC(dc), x, y, reinterpret_cast<const wchar_t*>(text), count) != 0;
}

namespace {

// A narrowed or widened font (lfWidth) drawn as its natural-width twin under
// a world transform that scales across. Printer drivers differ in whether
// they honour lfWidth (Wine's PostScript driver keeps the natural width);
// every one honours the transform. Twins are made once per style and kept:
// a printout has a handful of styles.
struct WidthTwin {
  LOGFONTW scaled;
  HFONT natural;
  double scale;  // lfWidth against the natural average width
};
std::vector<WidthTwin> widthTwins;

const WidthTwin* twinOf(HDC hdc, const LOGFONTW& lf) {
  for (const WidthTwin& twin : widthTwins)
    if (std::memcmp(&twin.scaled, &lf, sizeof lf) == 0) return &twin;
  LOGFONTW natural = lf;
  natural.lfWidth = 0;
  HFONT font = CreateFontIndirectW(&natural);
  if (font == nullptr) return nullptr;
  HGDIOBJ previous = SelectObject(hdc, font);
  TEXTMETRICW tm;
  bool measured = GetTextMetricsW(hdc, &tm) && tm.tmAveCharWidth > 0;
  SelectObject(hdc, previous);
  if (!measured) {
    DeleteObject(font);
    return nullptr;
  }
  widthTwins.push_back(WidthTwin{lf, font, static_cast<double>(lf.lfWidth) / tm.tmAveCharWidth});
  return &widthTwins.back();
}

bool drawScaled(HDC hdc, const WidthTwin& twin, int x, int y, const wchar_t* text, int count, const int* dx) {
  // Positions in the scaled space, rounded from the running total so that
  // the error never adds up along the line.
  std::vector<INT> scaledDx(static_cast<std::size_t>(count));
  long long total = 0;
  int placed = 0;
  for (int i = 0; i < count; ++i) {
    total += dx[i];
    int next = static_cast<int>(std::lround(static_cast<double>(total) / twin.scale));
    scaledDx[static_cast<std::size_t>(i)] = next - placed;
    placed = next;
  }
  HGDIOBJ previous = SelectObject(hdc, twin.natural);
  int mode = SetGraphicsMode(hdc, GM_ADVANCED);
  XFORM across = {static_cast<FLOAT>(twin.scale), 0.0f, 0.0f, 1.0f, 0.0f, 0.0f};
  bool ok = mode != 0 && SetWorldTransform(hdc, &across) &&
            ExtTextOutW(hdc, static_cast<int>(std::lround(x / twin.scale)), y, 0, nullptr, text,
                        static_cast<UINT>(count), scaledDx.data());
  ModifyWorldTransform(hdc, nullptr, MWT_IDENTITY);
  if (mode != 0) SetGraphicsMode(hdc, mode);
  SelectObject(hdc, previous);
  return ok;
}

}  // namespace

bool deviceExtTextOutW(DeviceContext dc, int x, int y, const char16_t* text, int count, const int* dx) {
  static_assert(sizeof(INT) == sizeof(int), "dx of INT");
  if (isPdfContext(dc)) return pdfTextOut(dc, x, y, text, count, dx);
  HDC hdc = toDC(dc);
  const wchar_t* wide = reinterpret_cast<const wchar_t*>(text);
  LOGFONTW lf;
  HGDIOBJ font = GetCurrentObject(hdc, OBJ_FONT);
  if (count > 0 && font != nullptr && GetObjectW(font, sizeof lf, &lf) == sizeof lf && lf.lfWidth != 0) {
    const WidthTwin* twin = twinOf(hdc, lf);
    if (twin != nullptr) return drawScaled(hdc, *twin, x, y, wide, count, dx);
  }
  return ExtTextOutW(hdc, x, y, 0, nullptr, wide, static_cast<UINT>(count), dx) != 0;
}

int deviceStretchMonoBitmap(DeviceContext dc, int x, int y, int destWidth, int destHeight, const MonoBitmapInfo* info,
                            const void* bits) {
  if (isPdfContext(dc)) return pdfStretchMonoBitmap(dc, x, y, destWidth, destHeight, info, bits);
  // BITMAPINFO with room for the two palette entries a 1-bit DIB has.
  struct {
    BITMAPINFOHEADER header;
    RGBQUAD colors[2];
  } dib;
  std::memset(&dib, 0, sizeof dib);
  dib.header.biSize = sizeof dib.header;
  dib.header.biWidth = info->width;
  dib.header.biHeight = -info->height;  // top-down: the first row is the top one
  dib.header.biPlanes = 1;
  dib.header.biBitCount = 1;
  dib.header.biCompression = BI_RGB;
  dib.colors[0].rgbRed = dib.colors[0].rgbGreen = dib.colors[0].rgbBlue = 0xFF;  // clear bits: white
  return StretchDIBits(toDC(dc), x, y, destWidth, destHeight, 0, 0, info->width, info->height, bits,
                       reinterpret_cast<const BITMAPINFO*>(&dib), DIB_RGB_COLORS, SRCCOPY);
}

int deviceStretchColorBitmap(DeviceContext dc, int x, int y, int destWidth, int destHeight,
                             const ColorBitmapInfo* info, const void* bits) {
  BITMAPINFOHEADER header;
  std::memset(&header, 0, sizeof header);
  header.biSize = sizeof header;
  header.biWidth = info->width;
  header.biHeight = -info->height;  // top-down
  header.biPlanes = 1;
  header.biBitCount = 32;
  header.biCompression = BI_RGB;
  return StretchDIBits(toDC(dc), x, y, destWidth, destHeight, 0, 0, info->width, info->height, bits,
                       reinterpret_cast<const BITMAPINFO*>(&header), DIB_RGB_COLORS, SRCCOPY);
}

bool deviceGetCurrentPosition(DeviceContext dc, int* x, int* y) {
  if (isPdfContext(dc)) return pdfCurrentPosition(dc, x, y);
  POINT position;
  if (!GetCurrentPositionEx(toDC(dc), &position)) return false;
  *x = position.x;
  *y = position.y;
  return true;
}

int deviceEndPage(DeviceContext dc) { return isPdfContext(dc) ? endPdfPageOf(dc) : EndPage(toDC(dc)); }

int deviceEndDoc(DeviceContext dc) {
  if (!isPdfContext(dc)) return EndDoc(toDC(dc));
  bool diskFull = false;
  int ended = endPdfDoc(dc, &diskFull);
  if (ended <= 0) SetLastError(diskFull ? ERROR_DISK_FULL : ERROR_WRITE_FAULT);
  return ended;
}

int deviceAbortDoc(DeviceContext dc) { return isPdfContext(dc) ? abortPdfDoc(dc) : AbortDoc(toDC(dc)); }

bool deviceDeleteDC(DeviceContext dc) { return isPdfContext(dc) ? deletePdfContext(dc) : DeleteDC(toDC(dc)) != 0; }

bool deviceDeleteObject(FontHandle font) { return DeleteObject(toObject(font)) != 0; }

// The Windows spooler keeps every job it accepted on disk until it is
// printed, and its job list names no identity of ours: nothing to carry, and
// nothing to look up by it. A job it still has is asked for by its number.
void deviceSetNextDocumentIdentity(const char*) {}

bool deviceLastHandOverUncertain() { return false; }

DeviceFinding deviceFindDocument(const char*, const char*, std::int64_t) { return kDeviceCannotSay; }

void deviceRemoveLeftovers() {}

bool deviceConfirmsDelivery(const char*) { return false; }

bool deviceFindsPrintedDocuments(const char*) { return false; }

namespace {

// SYSTEMTIME (UTC) as seconds since 1970; 0 for a time left unset.
std::int64_t secondsSince1970(const SYSTEMTIME& time) {
  FILETIME file;
  if (time.wYear == 0 || !SystemTimeToFileTime(&time, &file)) return 0;
  ULARGE_INTEGER ticks;  // 100 ns since 1601
  ticks.LowPart = file.dwLowDateTime;
  ticks.HighPart = file.dwHighDateTime;
  const unsigned long long kTicksTo1970 = 116444736000000000ull;
  if (ticks.QuadPart < kTicksTo1970) return 0;
  return static_cast<std::int64_t>((ticks.QuadPart - kTicksTo1970) / 10000000ull);
}

}  // namespace

bool deviceGetJob(PrinterHandle handle, std::uint32_t job, DeviceJobInfo* info) {
  // The record's strings follow it in the same buffer: asked for its size
  // first, then read whole.
  DWORD needed = 0;
  if (!GetJobA(toPrinter(handle), job, 1, nullptr, 0, &needed) && GetLastError() != ERROR_INSUFFICIENT_BUFFER)
    return false;
  if (needed < sizeof(JOB_INFO_1A)) return false;
  std::vector<BYTE> buffer(needed);
  if (!GetJobA(toPrinter(handle), job, 1, buffer.data(), needed, &needed)) return false;
  const JOB_INFO_1A* found = reinterpret_cast<const JOB_INFO_1A*>(buffer.data());
  std::memset(info->document, 0, sizeof info->document);
  if (found->pDocument != nullptr) std::strncpy(info->document, found->pDocument, sizeof info->document - 1);
  info->status = found->Status;
  info->submitted = secondsSince1970(found->Submitted);
  return true;
}

bool deviceSetJob(PrinterHandle handle, std::uint32_t job, std::uint32_t command) {
  return SetJobA(toPrinter(handle), job, 0, nullptr, command) != 0;
}
