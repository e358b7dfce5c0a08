// The printer device: the handful of spooler and GDI-shaped operations the
// printing layer needs, with the same arguments and results as the Windows
// calls they are named after. device_win32.cpp forwards them to winspool and
// GDI; device_posix.cpp lays pages out with cairo and hands each document to
// CUPS or to the built-in "Save as PDF" printer; device_fake.cpp records them
// for the tests.
#pragma once

#include <cstdint>

typedef struct DevicePrinterObject* PrinterHandle;
typedef struct DeviceContextObject* DeviceContext;
typedef struct DeviceFontObject* FontHandle;

// SelectObject's failure value besides NULL (HGDI_ERROR).
#define DEVICE_SELECT_ERROR (reinterpret_cast<FontHandle>(static_cast<std::intptr_t>(-1)))
// SetTextAlign's failure value (GDI_ERROR).
const std::uint32_t kDeviceAlignError = 0xFFFFFFFFu;

const int kDeviceHorzRes = 8;      // printable width in dots
const int kDeviceVertRes = 10;     // printable height in dots
const int kDeviceLogPixelsX = 88;
const int kDeviceLogPixelsY = 90;
const int kDevicePhysicalOffsetX = 112;  // the paper's unprintable left margin in dots
const int kDevicePhysicalOffsetY = 113;  // and its top one
const int kDeviceDmOutBuffer = 2;
const int kDeviceTransparent = 1;
const std::uint32_t kDeviceTaUpdateCp = 1;
const std::uint32_t kDeviceTaBaseline = 24;
const int kDeviceFwBold = 700;

// Same layout and meaning as LOGFONTA.
struct LogFont {
  std::int32_t lfHeight;
  std::int32_t lfWidth;
  std::int32_t lfEscapement;
  std::int32_t lfOrientation;
  std::int32_t lfWeight;
  std::uint8_t lfItalic;
  std::uint8_t lfUnderline;
  std::uint8_t lfStrikeOut;
  std::uint8_t lfCharSet;
  std::uint8_t lfOutPrecision;
  std::uint8_t lfClipPrecision;
  std::uint8_t lfQuality;
  std::uint8_t lfPitchAndFamily;
  char lfFaceName[32];
};

// The parts of TEXTMETRICA the printing layer reads.
struct TextMetrics {
  std::int32_t tmHeight;
  std::int32_t tmAscent;
  std::int32_t tmDescent;
  std::int32_t tmExternalLeading;
  std::int32_t tmAveCharWidth;  // what an lfWidth of 0 gives
};

// The header of a 1-bit top-down DIB for StretchDIBits: BITMAPINFOHEADER with
// biHeight = -height, biBitCount 1, palette {white, black}. Its rows are
// (width + 31) / 32 * 4 bytes, the leftmost pixel in the high bit; a set bit
// is black.
struct MonoBitmapInfo {
  std::int32_t width;
  std::int32_t height;
};

// The header of a 32-bit top-down DIB for StretchDIBits: BITMAPINFOHEADER
// with biHeight = -height, biBitCount 32, BI_RGB. Each pixel is four bytes,
// blue, green, red and one unused, each row width * 4 bytes.
struct ColorBitmapInfo {
  std::int32_t width;
  std::int32_t height;
};

// OpenPrinterA(name, &handle, NULL): false on failure.
bool deviceOpenPrinter(const char* printerName, PrinterHandle* handle);
// DocumentPropertiesA(NULL, handle, name, output, NULL, mode): with mode 0 the
// size of the printer's settings record; with kDeviceDmOutBuffer fills
// output. 0 or less is failure.
std::int32_t deviceDocumentProperties(PrinterHandle handle, const char* printerName, void* output, int mode);
bool deviceClosePrinter(PrinterHandle handle);

// Raw output: bytes handed to the printer unchanged, as a job of their own,
// through a handle from deviceOpenPrinter.
// StartDocPrinterA(handle, 1, DOC_INFO_1A{name, NULL, datatype}): the job
// number, 0 on failure.
std::uint32_t deviceStartDocPrinter(PrinterHandle handle, const char* documentName, const char* datatype);
bool deviceStartPagePrinter(PrinterHandle handle);
// WritePrinter: false on failure; *written receives how many bytes were
// taken, which may be fewer than size.
bool deviceWritePrinter(PrinterHandle handle, const void* data, std::uint32_t size, std::uint32_t* written);
bool deviceEndPagePrinter(PrinterHandle handle);
// EndDocPrinter: true when the job was handed over.
bool deviceEndDocPrinter(PrinterHandle handle);
// AbortPrinter: the job in progress is deleted and never printed.
bool deviceAbortPrinter(PrinterHandle handle);
// GetLastError: why the last failing call of the calling thread failed.
std::uint32_t deviceLastError();
// The printer takes no data of that type (ERROR_INVALID_DATATYPE).
const std::uint32_t kDeviceErrorInvalidDatatype = 1804;
// The document could not be stored: a disk is full (ERROR_DISK_FULL).
const std::uint32_t kDeviceErrorDiskFull = 112;

// Not a printer of the system: a device context made for this name writes
// its document as a PDF into the file deviceSetPdfFile named on the calling
// thread, laid out as "Save as PDF" lays it out (its paper, receipt paper
// included), and prints nothing. The file is written aside and put in place
// (replacing a file of that name) only when the document ends whole; a
// document without a page is one blank page. No printer setup lists it, and
// no user-made printer name begins with a control character.
const char kDevicePdfFilePrinter[] = "\x01PDF file";
// The file the next device context this thread makes for
// kDevicePdfFilePrinter writes into; without one it cannot be made.
void deviceSetPdfFile(const char* path);

// CreateDCA(NULL, name, NULL, settings): NULL on failure.
DeviceContext deviceCreateDC(const char* printerName, const void* settings);
// Not a Windows call: the permission bits (0 to 0777) the next document may
// have where the device stores it as a file. The device gives the file no
// more than these and its usual mode allow. Windows stores no documents of
// its own and takes any mode. False on failure.
bool deviceSetDocumentFileMode(DeviceContext dc, unsigned mode);
// Not a Windows call: the name the next document gets where the printer
// stores documents as files of its own (POSIX "Save as PDF"): relative to its
// folder, folders separated by '/' (made as needed, never outside it),
// without ".pdf", with kDeviceCounterMark where a counter goes (001, 002, ...
// until the name is free; without one, a name taken gets "-002" and on). A
// name that would leave the folder is refused. False where the printer names
// its files itself, or stores none (every other printer; Windows).
const char kDeviceCounterMark = '\x01';
bool deviceSetDocumentName(DeviceContext dc, const char* name);
// Not a Windows call: receipt paper, for a printer that stores documents as
// files (POSIX "Save as PDF", and kDevicePdfFilePrinter): each page of the next document is as wide as
// the paper and as long as what is drawn on it, the printable width
// centred. Both widths in hundredths of a mm. False where the printer keeps
// its own paper: every other printer, and every printer on Windows.
bool deviceSetRollPaper(DeviceContext dc, int paperWidth, int printableWidth);
// Not a Windows call: the orientation of the pages a settings record (from
// DocumentProperties) describes, landscape or portrait, set in the record
// (a DEVMODE's dmOrientation on Windows). ResetDC with the record turns the
// pages that follow. False when the record cannot say it.
bool deviceSetOrientation(void* settings, bool landscape);
// Not a Windows call: asks the named printer to print every document made
// with the settings record (from DocumentProperties) `copies` times, as one
// job. True when the printer makes the copies itself: on Windows its driver
// has a copy count (DeviceCapabilities DC_COPIES of at least `copies`) and
// kept dmCopies (with DM_COPIES) in the record as DocumentProperties merged
// it; on POSIX a CUPS queue, which gets the job option "copies". False, the
// record as it was, where it does not ("Save as PDF", a driver without a
// copy count): the printing layer then draws the pages that many times in
// the same document.
bool deviceSetCopies(const char* printerName, void* settings, int copies);
// Not Windows calls: what lets a printout be accounted for across a crash.
// The identity the next document this thread starts (StartDoc or
// StartDocPrinter) carries to the printer, where it can be looked for later:
// on POSIX a job attribute of the CUPS job, or the keywords of a saved PDF.
// Windows carries it nowhere.
void deviceSetNextDocumentIdentity(const char* identity);
// True when the last document this thread ended failed in a way that leaves
// open whether it reached the printer: the scheduler took the whole job but
// gave no answer, and the job could not be cancelled.
bool deviceLastHandOverUncertain();
enum DeviceFinding {
  kDeviceDocumentFound,     // the printer has it and has not finished it yet
  kDeviceDocumentFinished,  // the printer printed it, or a person cancelled it
  kDeviceDocumentNotFound,  // it never arrived, or the printer gave it up itself
  kDeviceCannotSay,         // the printer keeps no history to look in
  kDeviceNoAnswer           // the printer could not be asked now
};
// Whether the document of that identity, handed over no earlier than
// `since` (seconds since 1970), reached the named printer. Bounded in time.
DeviceFinding deviceFindDocument(const char* printerName, const char* identity, std::int64_t since);

// Whether the printer can be asked later whether a document it took has
// been printed (a CUPS queue). Windows: never (its spooler keeps every job it
// accepted on disk).
bool deviceConfirmsDelivery(const char* printerName);

// Not a Windows call: whether deviceFindDocument can tell that a document
// reached the printer even after it was printed. POSIX: always (a CUPS
// queue's jobs, finished ones included; the PDFs "Save as PDF" saved).
// Windows: never, as its spooler forgets a job once it is printed and knows
// no identity of ours; a job it still has is asked for by its number
// instead (deviceGetJob).
bool deviceFindsPrintedDocuments(const char* printerName);

// The parts of JOB_INFO_1A the printing layer reads.
struct DeviceJobInfo {
  char document[64];       // pDocument, cut to fit; "" for none
  std::uint32_t status;    // Status: JOB_STATUS_* bits
  std::int64_t submitted;  // Submitted as seconds since 1970 (UTC); 0 when the spooler leaves it unset
};
const std::uint32_t kDeviceJobStatusSpooling = 0x8;  // JOB_STATUS_SPOOLING: its document has not ended
// GetJobA(handle, job, 1, ...): false on failure. A spooler that has no job
// of that number fails with ERROR_INVALID_PARAMETER (Wine's leaves the last
// error at 0).
bool deviceGetJob(PrinterHandle handle, std::uint32_t job, DeviceJobInfo* info);
const std::uint32_t kDeviceErrorInvalidParameter = 87;
// SetJobA(handle, job, 0, NULL, command): with kDeviceJobControlDelete
// (JOB_CONTROL_DELETE) the job is deleted and never printed.
bool deviceSetJob(PrinterHandle handle, std::uint32_t job, std::uint32_t command);
const std::uint32_t kDeviceJobControlDelete = 5;

// Removes what a run cut off by a crash or a kill left of its documents
// (POSIX: the scratch files of PDFs being laid out). Windows: nothing.
void deviceRemoveLeftovers();

// StartDocA with the given document name: on success the spooler's number
// of the job (greater than 0), which deviceGetJob takes.
int deviceStartDoc(DeviceContext dc, const char* documentName);
int deviceGetDeviceCaps(DeviceContext dc, int index);
FontHandle deviceCreateFontIndirect(const LogFont* logicalFont);
// Returns the previously selected font; NULL or DEVICE_SELECT_ERROR on failure.
FontHandle deviceSelectObject(DeviceContext dc, FontHandle font);
bool deviceGetTextMetrics(DeviceContext dc, TextMetrics* metrics);
// ResetDCA: NULL on failure.
DeviceContext deviceResetDC(DeviceContext dc, const void* settings);
std::uint32_t deviceSetTextColor(DeviceContext dc, std::uint32_t color);
std::uint32_t deviceSetBkColor(DeviceContext dc, std::uint32_t color);
int deviceSetBkMode(DeviceContext dc, int mode);
int deviceStartPage(DeviceContext dc);
std::uint32_t deviceSetTextAlign(DeviceContext dc, std::uint32_t align);
bool deviceMoveTo(DeviceContext dc, int x, int y);
bool deviceTextOut(DeviceContext dc, int x, int y, const char* text, int count);
// TextOutW: count UTF-16 units, each drawn as one character, with the same
// position, alignment and current-position rules as deviceTextOut.
bool deviceTextOutW(DeviceContext dc, int x, int y, const char16_t* text, int count);
// ExtTextOutW(dc, x, y, 0, NULL, text, count, dx): like deviceTextOutW, but
// each character's left edge is dx[i] dots after the previous one's, not
// where the font's advance would put it.
bool deviceExtTextOutW(DeviceContext dc, int x, int y, const char16_t* text, int count, const int* dx);
// StretchDIBits(dc, x, y, destWidth, destHeight, 0, 0, width, height, bits,
// info, DIB_RGB_COLORS, SRCCOPY): the whole bitmap scaled into the
// rectangle. The number of rows drawn, 0 on failure.
int deviceStretchMonoBitmap(DeviceContext dc, int x, int y, int destWidth, int destHeight, const MonoBitmapInfo* info,
                            const void* bits);
// StretchDIBits with a ColorBitmapInfo: the whole colour bitmap scaled into
// the rectangle, covering what is under it. Unlike on Windows, the bits must
// stay unchanged and in place until the document ends: the device may keep
// referring to them, so that a bitmap drawn on every page is stored in the
// document once. The number of rows drawn, 0 on failure.
int deviceStretchColorBitmap(DeviceContext dc, int x, int y, int destWidth, int destHeight,
                             const ColorBitmapInfo* info, const void* bits);
bool deviceGetCurrentPosition(DeviceContext dc, int* x, int* y);
int deviceEndPage(DeviceContext dc);
// EndDoc: greater than 0 when the document was handed to the spooler.
int deviceEndDoc(DeviceContext dc);
// AbortDoc: the document in progress, open page included, is thrown away and
// never reaches the printer. Greater than 0 on success.
int deviceAbortDoc(DeviceContext dc);
bool deviceDeleteDC(DeviceContext dc);
bool deviceDeleteObject(FontHandle font);
