// The printer device on Windows: every operation is the winspool or GDI call
// it is named after, with the caller's values passed straight through. The
// opaque handle types of the seam are the Windows handles, cast.
#include "device/device.h"

#include <windows.h>
#include <winspool.h>

#include <cmath>
#include <cstring>
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

}  // namespace

bool deviceOpenPrinter(const char* printerName, PrinterHandle* handle) {
  HANDLE printer = nullptr;
  // OpenPrinterA takes a non-const name but does not write to it.
  BOOL ok = OpenPrinterA(const_cast<char*>(printerName), &printer, nullptr);
  *handle = ok ? reinterpret_cast<PrinterHandle>(printer) : nullptr;
  return ok != 0;
}

std::int32_t deviceDocumentProperties(PrinterHandle handle, const char* printerName, void* output, int mode) {
  return DocumentPropertiesA(nullptr, toPrinter(handle), const_cast<char*>(printerName),
                             static_cast<DEVMODEA*>(output), nullptr, static_cast<DWORD>(mode));
}

bool deviceClosePrinter(PrinterHandle handle) { return ClosePrinter(toPrinter(handle)) != 0; }

std::uint32_t deviceStartDocPrinter(PrinterHandle handle, const char* documentName, const char* datatype) {
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

DeviceContext deviceCreateDC(const char* printerName, const void* settings) {
  return fromDC(CreateDCA(nullptr, printerName, nullptr, static_cast<const DEVMODEA*>(settings)));
}

// The spooler keeps no file that others could read: nothing to narrow.
bool deviceSetDocumentFileMode(DeviceContext dc, unsigned) { return dc != nullptr; }

// Windows printers keep their own paper.
bool deviceSetRollPaper(DeviceContext, int, int) { return false; }

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

int deviceGetDeviceCaps(DeviceContext dc, int index) { return GetDeviceCaps(toDC(dc), index); }

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
  return fromObject(SelectObject(toDC(dc), toObject(font)));
}

bool deviceGetTextMetrics(DeviceContext dc, TextMetrics* metrics) {
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
  return fromDC(ResetDCA(toDC(dc), static_cast<const DEVMODEA*>(settings)));
}

std::uint32_t deviceSetTextColor(DeviceContext dc, std::uint32_t color) { return SetTextColor(toDC(dc), color); }

std::uint32_t deviceSetBkColor(DeviceContext dc, std::uint32_t color) { return SetBkColor(toDC(dc), color); }

int deviceSetBkMode(DeviceContext dc, int mode) { return SetBkMode(toDC(dc), mode); }

int deviceStartPage(DeviceContext dc) { return StartPage(toDC(dc)); }

std::uint32_t deviceSetTextAlign(DeviceContext dc, std::uint32_t align) { return SetTextAlign(toDC(dc), align); }

bool deviceMoveTo(DeviceContext dc, int x, int y) { return MoveToEx(toDC(dc), x, y, nullptr) != 0; }

bool deviceTextOut(DeviceContext dc, int x, int y, const char* text, int count) {
  return TextOutA(toDC(dc), x, y, text, count) != 0;
}

bool deviceTextOutW(DeviceContext dc, int x, int y, const char16_t* text, int count) {
  static_assert(sizeof(wchar_t) == sizeof(char16_t), "UTF-16 wchar_t");
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

bool deviceGetCurrentPosition(DeviceContext dc, int* x, int* y) {
  POINT position;
  if (!GetCurrentPositionEx(toDC(dc), &position)) return false;
  *x = position.x;
  *y = position.y;
  return true;
}

int deviceEndPage(DeviceContext dc) { return EndPage(toDC(dc)); }

int deviceEndDoc(DeviceContext dc) { return EndDoc(toDC(dc)); }

int deviceAbortDoc(DeviceContext dc) { return AbortDoc(toDC(dc)); }

bool deviceDeleteDC(DeviceContext dc) { return DeleteDC(toDC(dc)) != 0; }

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
