#include "spool/printout.h"

#include <algorithm>

#include "config/pdfname.h"
#include "console/console.h"
#include "files/errors.h"
#include "files/spoolfile.h"
#include "lang/language.h"
#include "lang/probe.h"
#include "lang/scan.h"
#include "print/interpret.h"
#include "print/printer.h"

namespace {

const char kFormFeed = '\f';
const char kPageFeedEcho[] = "----Page Feed----";

// Nothing past a page's right edge is drawn: a longer line keeps this much
// in memory, and the rest is only echoed as it is read.
const std::size_t kMaxLineBytes = 1024 * 1024;
const std::size_t kEchoChunkBytes = 64 * 1024;

// --- Printing the lines of the open file ------------------------------------

// Whether this thread's printout is echoed on the screen (PrintLayout::echo).
thread_local bool echoing = true;

void showText(const std::string& text) {
  if (echoing) writeScreenText(text);
}

void endShownLine() {
  if (echoing) endScreenLine();
}

void echoLine(const std::string& text) {
  showText(text);
  endShownLine();
}

// Sets the echo for one printout and puts it back afterwards.
struct EchoFor {
  bool before;
  explicit EchoFor(bool echo) : before(echoing) { echoing = echo; }
  ~EchoFor() { echoing = before; }
};

void removeFormFeeds(std::string* text) { text->erase(std::remove(text->begin(), text->end(), kFormFeed), text->end()); }

// Reads the next line, keeping at most kMaxLineBytes of it; what lies beyond
// is echoed straight away (without its form feeds) and dropped. *echoed tells
// whether any of it was. Returns the read error, 0 for none.
int readBoundedLine(std::string* line, bool* moreFormFeeds, bool* echoed) {
  line->clear();
  *moreFormFeeds = false;
  *echoed = false;
  clearError();
  bool ended = readLinePart(line, kMaxLineBytes);
  if (lastError() != 0) return lastError();
  if (ended) return 0;
  std::string shown = *line;
  removeFormFeeds(&shown);
  showText(shown);
  *echoed = true;
  while (!ended) {
    std::string rest;
    ended = readLinePart(&rest, kEchoChunkBytes);
    if (lastError() != 0) return lastError();
    if (rest.find(kFormFeed) != std::string::npos) *moreFormFeeds = true;
    removeFormFeeds(&rest);
    showText(rest);
  }
  return 0;
}

// True when the open file has nothing more to print; a read failure sets *error.
bool nothingMore(int* error) {
  clearError();
  bool atEnd = atEndOfFile();
  *error = lastError();
  return atEnd;
}

// The page break after a line that carried a form feed: no new page after the
// file's last line, and the font again (which begins the next page).
int breakPageAfterLine(const PrintLayout& layout) {
  echoLine(kPageFeedEcho);
  int error;
  bool atEnd = nothingMore(&error);
  if (error != 0) return error;
  if (!atEnd) formFeed();
  selectFont(layout.fontname, layout.fontsize);
  return 0;
}

// A line printed with its page breaks where its form feeds stand: text before
// a form feed ends the page, text after it begins the next one. An empty
// piece before a form feed draws nothing, and an empty rest after the last
// one is not a line of its own; nothing after the file's last form feed
// begins no page, and a form feed on a page with nothing on it yet (the top
// of the printout, or two in a row) makes no blank page. *drawn tells whether
// the current page has a line on it.
int printLineAtFormFeeds(const PrintLayout& layout, const std::string& line, bool* drawn) {
  std::string::size_type start = 0;
  for (;;) {
    std::string::size_type feed = line.find(kFormFeed, start);
    std::string piece = line.substr(start, feed == std::string::npos ? std::string::npos : feed - start);
    if (feed == std::string::npos) {
      if (!piece.empty() || start == 0) {
        echoLine(piece);
        printLine(piece);
        *drawn = true;
      }
      return 0;
    }
    if (!piece.empty()) {
      echoLine(piece);
      printLine(piece);
      *drawn = true;
    }
    echoLine(kPageFeedEcho);
    if (!*drawn) {
      start = feed + 1;
      continue;
    }
    formFeed();
    *drawn = false;
    start = feed + 1;
    int error = 0;
    bool more = start < line.size() || !nothingMore(&error);
    if (error != 0) return error;
    if (more) selectFont(layout.fontname, layout.fontsize);
  }
}

// The echo of an interpreted printout: its text lines, and a mark where a
// form ends.
void echoPrintoutText(const std::string& text, bool pageFeed) { echoLine(pageFeed ? kPageFeedEcho : text); }

// --- Printer languages ---------------------------------------------------------

// The interpreter a controls value names; nullptr for plain text.
const PrinterLanguage* languageOf(ControlCodes controls) { return findLanguage(controlsWord(controls)); }

// The controls value that names a language.
ControlCodes controlsOf(const PrinterLanguage& language) {
  for (int controls = kControlsPrint; controls <= kControlsAuto; ++controls)
    if (languageOf(static_cast<ControlCodes>(controls)) == &language) return static_cast<ControlCodes>(controls);
  return kControlsPrint;
}

// Reads the open file from its current position to its end and draws it in
// the printer language on the attached printer, its text lines echoed.
// Returns 0, or the error code of a read that failed.
int printInterpreted(const PrinterLanguage& language, const PrintLayout& layout, PrintedCodes* codes) {
  InterpretSettings settings;
  settings.face = layout.fontname;
  settings.paperWidthMm = layout.paperWidthMm;
  settings.codePage = layout.codePage;
  LanguageTally tally;
  const int readError = drawInterpreted(language, settings, readSpoolBytes, echoPrintoutText, &tally);
  if (codes != nullptr) {
    codes->refused = tally.codesRefused;
    codes->tooWide = tally.codesTooWide;
    codes->actions = tally.actions;
  }
  return readError;
}

}  // namespace

int printSpoolLines(const PrintLayout& layout, int* printError, PrintedCodes* codes) {
  EchoFor echo(layout.echo);
  if (const PrinterLanguage* language = languageOf(layout.controls)) {
    clearError();
    int error = printInterpreted(*language, layout, codes);
    if (printError != nullptr && *printError == 0) *printError = lastError();
    return error;
  }
  bool drawn = false;
  for (;;) {
    int error;
    if (nothingMore(&error)) return error;
    std::string lineText;
    bool moreFormFeeds, echoed;
    error = readBoundedLine(&lineText, &moreFormFeeds, &echoed);
    if (error != 0) return error;
    clearError();
    if (layout.formfeed == kFormFeedExact && !echoed) {
      error = printLineAtFormFeeds(layout, lineText, &drawn);
      if (error != 0) return error;
    } else {
      bool pageBreakPending = moreFormFeeds || lineText.find(kFormFeed) != std::string::npos;
      removeFormFeeds(&lineText);
      if (echoed) endShownLine();
      else echoLine(lineText);
      printLine(lineText);
      drawn = true;
      if (pageBreakPending) {
        error = breakPageAfterLine(layout);
        if (error != 0) return error;
      }
    }
    if (printError != nullptr && *printError == 0) *printError = lastError();
  }
}

namespace {

PrintoutProbe probeBytes(const std::string& head) {
  return probePrintout(reinterpret_cast<const unsigned char*>(head.data()), head.size());
}

// Leaves a control code out of a line of the open file: a TAB becomes
// blanks to the next stop, a command goes with all the data it announces,
// which is looked at a few bytes at a time, never held.
std::uint64_t dropControl(ControlLanguage language, std::string* text, std::size_t column) {
  unsigned char window[kControlScanWindow];
  std::size_t got = 0;
  if (!peekSpoolAhead(0, window, 1, &got) || got == 0) return 1;
  if (window[0] == '\t') {
    text->append(tabBlanks(column), ' ');
    return 1;
  }
  ControlScan scan;
  beginControlScan(scan, language);
  // A bound on the looks at one command, whatever its data announces.
  const unsigned long kMaxScanSteps = 1000000;
  for (unsigned long steps = 0; steps < kMaxScanSteps; ++steps) {
    if (!peekSpoolAhead(scan.resumeAt, window, kControlScanWindow, &got)) return 1;
    const bool endOfData = got < kControlScanWindow;
    switch (scanControl(scan, window, got, endOfData)) {
      case kControlSequence: return scan.length > 0 ? scan.length : 1;
      case kControlNeedMore:
        if (got == 0 && endOfData) return 1;
        continue;
      default: return 1;
    }
  }
  return 1;
}

std::uint64_t dropEscPControl(std::string* text, std::size_t column) { return dropControl(kEscP, text, column); }
std::uint64_t dropEscPosControl(std::string* text, std::size_t column) { return dropControl(kEscPos, text, column); }

}  // namespace

bool readRawPrintout(std::string* bytes) {
  clearError();
  std::uint64_t length = spoolFileLength();
  if (lastError() != 0 || length > kMaxRawBytes) return false;
  *bytes = peekSpoolFile(static_cast<std::size_t>(length));
  if (bytes->size() != length) return false;
  std::string::size_type end = bytes->find_last_not_of('\x1a');
  bytes->resize(end == std::string::npos ? 0 : end + 1);
  return true;
}

void echoRawPrintout(const std::string& bytes) {
  std::string text = stripControlCodes(bytes, probeBytes(bytes).language);
  std::string line;
  for (std::string::size_type i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == '\r' || c == '\n') {
      echoLine(line);
      line.clear();
      // CR LF and LF CR are one line end.
      if (i + 1 < text.size() && (text[i + 1] == '\r' || text[i + 1] == '\n') && text[i + 1] != c) ++i;
    } else if (c != kFormFeed) {
      line += c;
    }
  }
  if (!line.empty()) echoLine(line);
}

std::string firstLineOfText(const std::string& bytes) {
  std::string text = stripControlCodes(bytes, probeBytes(bytes).language);
  std::string line;
  for (char c : text) {
    if (c == '\r' || c == '\n' || c == '\f' || c == '\x1a') {
      if (line.find_first_not_of(' ') != std::string::npos) break;
      line.clear();
      if (c == '\x1a') break;
    } else {
      line += static_cast<unsigned char>(c) < 0x20 ? ' ' : c;
    }
  }
  std::string::size_type start = line.find_first_not_of(' ');
  return start == std::string::npos ? std::string() : line.substr(start);
}

std::string savedPdfName(const PrinterSlot& slot, int slotNumber) {
  if (slot.options.pdfName[0] == '\0' || std::string(slot.printername) != kSaveAsPdfName) return std::string();
  const std::size_t kFirstLineBytes = 16 * 1024;
  return expandPdfName(slot.options.pdfName, localTimeNow(), slotNumber, firstLineOfText(peekSpoolFile(kFirstLineBytes)));
}

PrintLayout slotLayout(const PrinterSlot& slot) {
  PrintLayout layout;
  layout.fontname = slot.fontname;
  layout.fontsize = slot.fontsize;
  layout.formfeed = slot.options.formfeed;
  layout.controls = slotControls(slot);
  layout.paperWidthMm = slot.options.paperwidth;
  layout.codePage = slotCodePage(slot);
  return layout;
}

ControlCodes slotControls(const PrinterSlot& slot) {
  if (slot.options.controls != kControlsAuto) return slot.options.controls;
  // controls=auto: the printout's start chooses the language.
  const PrinterLanguage* language = languageOfPrintout(probeBytes(peekSpoolFile(kProbeBytes)));
  return language != nullptr ? controlsOf(*language) : kControlsPrint;
}

int slotCodePage(const PrinterSlot& slot) {
  if (slot.options.codePage == 0 && languageOf(slotControls(slot)) != nullptr) return 437;
  return slot.options.codePage;
}

SpoolReading slotReading(const PrinterSlot& slot) {
  SpoolReading reading;
  reading.anyLineEnd = slot.options.lineends == kLineEndsAny;
  if (slot.options.controls == kControlsStrip)
    reading.dropControl = probeBytes(peekSpoolFile(kProbeBytes)).language == kEscPos ? dropEscPosControl
                                                                                      : dropEscPControl;
  return reading;
}

