// The device calls of a device context that writes its document into a PDF
// file (kDevicePdfFilePrinter) where the platform has no PDF printer of its
// own (Windows): each behaves as the GDI call of its name would on a 600 dpi
// printer, and draws through ferrin's own PDF writer (device/pdfwriter.h).
// Every face is drawn in Courier, with the metrics of Courier New. The
// Windows device forwards the calls of such a context here.
#pragma once

#include <string>

#include "device/device.h"

// Paper in hundredths of a mm, turned to landscape when asked.
struct PdfPaper {
  int width = 21000;
  int length = 29700;
  bool landscape = false;
};

// A context that writes into `path`; its first font is `initial`, of that
// LOGFONT. Never fails.
DeviceContext createPdfContext(const std::string& path, const PdfPaper& paper, FontHandle initial,
                               const LogFont& initialFont);
// Whether dc was made by createPdfContext and not deleted yet.
bool isPdfContext(DeviceContext dc);

bool setPdfRollPaper(DeviceContext dc, int paperWidth, int printableWidth);
// ResetDC: the paper of the pages that follow.
bool resetPdfPaper(DeviceContext dc, const PdfPaper& paper);
int startPdfDoc(DeviceContext dc, const char* documentName);
int pdfDeviceCaps(DeviceContext dc, int index);
// SelectObject of a font whose LOGFONT is given: the font selected before.
FontHandle selectPdfFont(DeviceContext dc, FontHandle font, const LogFont& logical);
bool pdfTextMetrics(DeviceContext dc, TextMetrics* metrics);
std::uint32_t setPdfTextColor(DeviceContext dc, std::uint32_t color);
std::uint32_t setPdfBkColor(DeviceContext dc, std::uint32_t color);
int setPdfBkMode(DeviceContext dc, int mode);
int startPdfPage(DeviceContext dc);
std::uint32_t setPdfTextAlign(DeviceContext dc, std::uint32_t align);
bool movePdfTo(DeviceContext dc, int x, int y);
// TextOutW, or ExtTextOutW with dx (nullptr for none).
bool pdfTextOut(DeviceContext dc, int x, int y, const char16_t* text, int count, const int* dx);
int pdfStretchMonoBitmap(DeviceContext dc, int x, int y, int destWidth, int destHeight, const MonoBitmapInfo* info,
                         const void* bits);
bool pdfCurrentPosition(DeviceContext dc, int* x, int* y);
int endPdfPageOf(DeviceContext dc);
// EndDoc: the file is put in place. On failure *diskFull tells a full disk.
int endPdfDoc(DeviceContext dc, bool* diskFull);
int abortPdfDoc(DeviceContext dc);
bool deletePdfContext(DeviceContext dc);
