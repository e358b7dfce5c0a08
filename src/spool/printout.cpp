#include "spool/printout.h"

#include <algorithm>
#include <cstring>

#include "console/console.h"
#include "files/errors.h"
#include "files/escscan.h"
#include "files/spoolfile.h"
#include "print/escp.h"
#include "print/escpos.h"
#include "print/printer.h"

namespace {

const char kFormFeed = '\f';
const char kPageFeedEcho[] = "----Page Feed----";

// Nothing past a page's right edge is drawn: a longer line keeps this much
// in memory, and the rest is only echoed as it is read.
const std::size_t kMaxLineBytes = 1024 * 1024;
const std::size_t kEchoChunkBytes = 64 * 1024;

// --- Printing the lines of the open file ------------------------------------

void echoLine(const std::string& text) {
  writeScreenText(text);
  endScreenLine();
}

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
  writeScreenText(shown);
  *echoed = true;
  while (!ended) {
    std::string rest;
    ended = readLinePart(&rest, kEchoChunkBytes);
    if (lastError() != 0) return lastError();
    if (rest.find(kFormFeed) != std::string::npos) *moreFormFeeds = true;
    removeFormFeeds(&rest);
    writeScreenText(rest);
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

}  // namespace

int printSpoolLines(const PrintLayout& layout, int* printError) {
  if (layout.controls == kControlsEscP || layout.controls == kControlsEscPos) {
    clearError();
    ReceiptSettings receipt;
    receipt.paperWidthMm = layout.paperWidthMm;
    receipt.codepage = layout.codePage;
    int error = layout.controls == kControlsEscP ? printEscPPrintout(layout.fontname, echoPrintoutText)
                                                 : printEscPosReceipts(receipt, echoPrintoutText);
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
      if (echoed) endScreenLine();
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

// How much of a printout is looked at to tell its printer language.
const std::size_t kLanguageProbeBytes = 64 * 1024;

// Receipt printers' commands begin with GS (or FS) followed by a command
// byte; dot-matrix printouts have none of these. The first bytes of the
// printout tell which language its escape sequences are in.
ControlLanguage probeControlLanguage() {
  std::string head = peekSpoolFile(kLanguageProbeBytes);
  static const char kReceiptCommands[] = "!(/8BHLPVWafhkvwx";
  for (std::string::size_type at = head.find('\x1d'); at != std::string::npos && at + 1 < head.size();
       at = head.find('\x1d', at + 1))
    if (std::strchr(kReceiptCommands, head[at + 1]) != nullptr && head[at + 1] != '\0') return kEscPos;
  return kEscP;
}

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
  std::string text = stripControlCodes(bytes, probeControlLanguage());
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

PrintLayout slotLayout(const PrinterSlot& slot) {
  PrintLayout layout;
  layout.fontname = slot.fontname;
  layout.fontsize = slot.fontsize;
  layout.formfeed = slot.options.formfeed;
  layout.controls = slot.options.controls;
  layout.paperWidthMm = slot.options.paperwidth;
  layout.codePage = slotCodePage(slot);
  return layout;
}

int slotCodePage(const PrinterSlot& slot) {
  const ControlCodes controls = slot.options.controls;
  if (slot.options.codepage == 0 && (controls == kControlsEscP || controls == kControlsEscPos)) return 437;
  return slot.options.codepage;
}

SpoolReading slotReading(const PrinterSlot& slot) {
  SpoolReading reading;
  reading.anyLineEnd = slot.options.lineends == kLineEndsAny;
  reading.dropControls = slot.options.controls == kControlsStrip;
  if (reading.dropControls) reading.controlLanguage = probeControlLanguage();
  return reading;
}

