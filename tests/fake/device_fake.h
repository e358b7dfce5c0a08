// The recording printer device of the unit tests. Every call of device/device.h
// is logged as one line, "Name(arguments)=result", and simulated well enough
// for the printing layer: known printers, resolution, printable area, fonts
// with metrics, a current position that text advances, pages and documents,
// raw jobs.
// Any call can be made to fail on its Nth use, returning the failure value the
// real call has (and ERROR_GEN_FAILURE, 31, as the last error), so every
// failure path can be tried on a healthy machine.
// Handles are logged as printer1, dc1, font1 ...; the font a new device
// context starts with is "stockfont".
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// One text drawn by TextOut or TextOutW.
struct FakeText {
  int document;  // 1 for the first document started since the reset
  int page;      // 1 for the document's first page; 0 when drawn outside a page
  int x;
  int y;
  std::string text;  // TextOut's bytes, or TextOutW's characters as UTF-8
  bool wide;         // drawn by TextOutW
  std::string face;  // the selected font's face name and height
  int fontHeight;    // its lfHeight
  // ExtTextOutW's extras and the font's style (left as they are by the
  // older calls' records).
  int fontWidth = 0;          // lfWidth
  int weight = 0;             // lfWeight
  bool italic = false;
  bool underline = false;
  std::vector<int> advances;  // ExtTextOutW's dx, one per character
};

// One bitmap drawn by StretchDIBits.
struct FakeImage {
  int document;
  int page;
  int x;
  int y;
  int destWidth;
  int destHeight;
  int width;   // pixels
  int height;
  int inked;   // set bits; of a colour bitmap, pixels that are not white
  // A colour bitmap (its record is the same shape): its first pixel, as
  // 0xRRGGBB, and how many calls the log held before it, so that its place
  // among the page's drawing shows.
  bool colour = false;
  std::uint32_t firstPixel = 0;
  std::size_t callIndex = 0;
};

// One document begun by StartDoc.
struct FakeDocument {
  std::string printer;
  std::string name;
  int pages;         // pages ended by a successful EndPage (or by EndDoc)
  bool ended;        // EndDoc succeeded: the job was handed over
  bool abandoned;    // AbortDoc succeeded: the job was thrown away
  unsigned fileMode; // set by SetDocumentFileMode before StartDoc: 0777 when not
  std::string identity = std::string();  // set by SetNextDocumentIdentity before StartDoc
  bool reached = false;  // the printer has it: ended, or failed with the hand-over left open
  std::uint32_t job = 0;        // the job number StartDoc returned
  long long submitted = 0;      // when it started, seconds since 1970
  int copies = 1;               // the copies its settings record asked the printer for (SetCopies)
};

// One raw job begun by StartDocPrinter.
struct FakeRawJob {
  std::string printer;
  std::string name;
  std::string datatype;
  std::string data;  // every byte WritePrinter took, in order
  int pages;         // ended by EndPagePrinter
  bool ended;        // EndDocPrinter succeeded: the job was handed over
  bool aborted;      // AbortPrinter succeeded: the job was deleted
  std::string identity = std::string();
  bool reached = false;
  std::uint32_t job = 0;        // the job number StartDocPrinter returned
  long long submitted = 0;
};

// Thrown by the operation named in FakeDevice::crashAt, after it has done
// its work: the process "ends" there, and the test starts a new run.
struct FakeCrash {};

struct FakeDevice {
  // Settings; resetFakeDevice() restores the defaults given here.
  std::vector<std::string> printers;  // names OpenPrinter knows: "Receipt", "Report"
  int dotsPerInch;                    // LOGPIXELSY and LOGPIXELSX: 600
  int pageWidth;                      // HORZRES: 4960
  int pageHeight;                     // VERTRES: 7016
  int offsetX;                        // PHYSICALOFFSETX: 0
  int offsetY;                        // PHYSICALOFFSETY: 0
  int charWidth;                      // how far TextOut moves per byte: 10
  int cellHeight;                     // tmHeight; 0: the font's |lfHeight|
  int externalLeading;                // tmExternalLeading: 0
  int settingsSize;                   // what DocumentProperties reports: 220
  std::vector<std::string> rawRefused;  // printers whose StartDocPrinter refuses every datatype (error 1804)
  std::vector<std::string> copying;   // printers whose driver makes copies itself (SetCopies says yes)
  unsigned writeLimit;                // the most one WritePrinter call takes; 0: all it is given
  // Hand-overs left open and looked up again.
  bool failedEndReaches = false;      // a failed EndDoc or EndDocPrinter still reached the printer, and says so
  bool noHistory = false;             // FindDocument cannot say: a scheduler that forgets finished jobs
  bool noAnswer = false;              // FindDocument gets no answer
  std::uint32_t failError = 0;        // the last error a failing call leaves; 0: ERROR_GEN_FAILURE (31)
  bool confirmsDelivery = false;      // printouts are kept until FindDocument says they are finished
  bool jobsPending = false;           // FindDocument finds reached documents not finished yet
  std::vector<std::string> lostIdentities;  // reached, but the printer lost them: FindDocument finds nothing
  // A Windows spooler: it forgets a job once printed, so FindsPrintedDocuments
  // says no (and FindDocument cannot say); GetJob finds the jobs begun
  // since the reset by their numbers (StartDoc's and StartDocPrinter's, one
  // count for both), as they stand: one whose document never ended (cut off
  // by a crash) as JOB_STATUS_SPOOLING; SetJob deletes it.
  bool forgetsPrinted = false;
  // With forgetsPrinted: the spooler is Wine's, which has a job only until
  // it hands it on, and only in the process that spooled it: GetJob never
  // finds one (and leaves the last error at 0, as Wine's does).
  bool forgetsHanded = false;
  std::string crashAt;                // StartDoc, EndPage, EndDoc, StartDocPrinter, EndPagePrinter or
                                      // EndDocPrinter: throw FakeCrash once

  // What happened.
  std::vector<std::string> calls;     // one line per call
  std::vector<std::string> misuse;    // calls the real device would refuse or that leak
  std::vector<FakeText> texts;        // TextOut, TextOutW and ExtTextOutW
  std::vector<FakeImage> images;
  std::vector<FakeDocument> documents;
  std::vector<FakeRawJob> rawJobs;
  int liveFonts;                      // created minus deleted
  int liveContexts;                   // created minus deleted
  int openPrinters;                   // opened minus closed
};

extern FakeDevice fakeDevice;

// Defaults, no history, no failures armed, handle numbers from 1 again.
void resetFakeDevice();

// The Nth call of the named operation from now on (1 = the next one) fails;
// with persist, that call and every later one do. Names are those of the log:
// OpenPrinter, DocumentProperties, ClosePrinter, CreateDC, SetDocumentFileMode, SetOrientation, SetCopies, StartDoc,
// StartDocPrinter, StartPagePrinter, WritePrinter, EndPagePrinter,
// EndDocPrinter, AbortPrinter, GetJob, SetJob, GetDeviceCaps, CreateFontIndirect, SelectObject, GetTextMetrics, ResetDC,
// SetTextColor, SetBkColor, SetBkMode, StartPage, SetTextAlign, MoveToEx,
// TextOut, TextOutW, ExtTextOutW, StretchDIBits, GetCurrentPositionEx, EndPage, EndDoc, AbortDoc,
// DeleteDC, DeleteObject.
void failDeviceCall(const std::string& operation, int nth, bool persist = false);

// The log lines of one operation, in order ("TextOut" gives every TextOut line,
// not the TextOutW ones). TextOutW's text is logged as UTF-8.
std::vector<std::string> fakeCallsOf(const std::string& operation);
// The whole log as one text, a line per call.
std::string fakeCallLog();
