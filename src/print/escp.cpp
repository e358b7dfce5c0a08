#include "print/escp.h"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "files/errors.h"
#include "lang/probe.h"
#include "lang/scan.h"
#include "files/spoolfile.h"
#include "print/canvas.h"

namespace {

// Positions are kept in 1/2160 inch: every pitch, line spacing and image
// density of the language is a whole number of these.
const long kUnitsPerInch = 2160;
const long kCarriageUnits = 8 * kUnitsPerInch;  // an 80-column carriage
const float kPointSize = 12.0f;                  // 12-point Courier New is 10 cpi exactly
const long kNaturalAdvance = kUnitsPerInch / 10;
const int kMaxTabStops = 32;

const unsigned char kEsc = 0x1B;
// The longest command drawn: ESC * in a 24-dot mode, 65535 columns of 3 bytes.
const std::size_t kMaxImageCommand = 5 + 65535 * 3;
const std::size_t kReadAhead = 64 * 1024;
const std::size_t kEchoLimit = 64 * 1024;

// --- Reading: a window on the file that holds any command that is drawn ----

struct Reader {
  std::vector<unsigned char> buffer;
  std::size_t start = 0;
  std::size_t end = 0;
  bool atEnd = false;
  int error = 0;
};

std::size_t available(const Reader& r) { return r.end - r.start; }
const unsigned char* data(const Reader& r) { return r.buffer.data() + r.start; }

// At least `wanted` bytes in the window, unless the file ends first. The
// thread's error code is kept for the drawing: a read failure goes to
// r.error instead.
bool fill(Reader& r, std::size_t wanted) {
  if (wanted > r.buffer.size()) wanted = r.buffer.size();
  if (available(r) >= wanted) return true;
  if (r.atEnd) return false;
  if (r.start > 0) {
    std::memmove(r.buffer.data(), data(r), available(r));
    r.end -= r.start;
    r.start = 0;
  }
  int drawingError = lastError();
  while (r.end < wanted && !r.atEnd) {
    clearError();
    std::size_t room = r.buffer.size() - r.end;
    std::size_t got = readSpoolBytes(r.buffer.data() + r.end, room);
    r.end += got;
    if (lastError() != 0) r.error = lastError();
    if (got < room) r.atEnd = true;
  }
  clearError();
  if (drawingError != 0) setError(drawingError);
  return available(r) >= wanted;
}

void discard(Reader& r, std::uint64_t count) {
  while (count > 0) {
    std::size_t take = count < available(r) ? static_cast<std::size_t>(count) : available(r);
    r.start += take;
    count -= take;
    if (count > 0 && !fill(r, 1)) return;
  }
}

// --- The printer ------------------------------------------------------------

struct Run {
  std::string text;
  long x = 0;
  long y = 0;
  long advance = 0;
  CanvasStyle style;
};

struct EscPPrinter {
  // Fixed for the printout.
  std::string face;
  EscPEcho echo = nullptr;
  bool drawing = false;     // a printer is attached and its page is known
  bool pins24 = false;
  double dotsPerUnitX = 0;  // the carriage narrowed to the page, if it must be
  double dotsPerUnitY = 0;
  double squeeze = 1;
  long pageUnits = 0;       // printable height
  int ascent = 0;           // of the 12-point face, in dots
  // The printer's settings.
  int cpi = 10;
  bool condensed = false;
  bool doubleWidth = false;
  bool lineWide = false;    // SO: double width to the end of the line
  bool bold = false;
  bool doubleStrike = false;
  bool italic = false;
  bool underline = false;
  long lineSpacing = kUnitsPerInch / 6;
  long formLength = 0;
  std::vector<long> tabs;
  // Where the head is.
  long x = 0;
  long y = 0;
  Run run;
  std::string echoText;
};

long characterAdvance(const EscPPrinter& p) {
  long advance = kUnitsPerInch / p.cpi;
  // Condensed is 17.14 cpi from pica and 20 from elite; 15 cpi has none.
  if (p.condensed && p.cpi != 15) advance = advance * 7 / 12;
  if (p.doubleWidth || p.lineWide) advance *= 2;
  return advance;
}

void defaultTabs(EscPPrinter& p) {
  p.tabs.clear();
  for (int i = 1; i <= kMaxTabStops; ++i) p.tabs.push_back(i * 8 * (kUnitsPerInch / 10));
}

void reset(EscPPrinter& p) {
  p.cpi = 10;
  p.condensed = p.doubleWidth = p.lineWide = false;
  p.bold = p.doubleStrike = p.italic = p.underline = false;
  p.lineSpacing = kUnitsPerInch / 6;
  p.formLength = p.pageUnits;
  defaultTabs(p);
}

int dotsX(const EscPPrinter& p, long units) {
  return static_cast<int>(std::lround(static_cast<double>(units) * p.dotsPerUnitX));
}
int dotsY(const EscPPrinter& p, long units) {
  return static_cast<int>(std::lround(static_cast<double>(units) * p.dotsPerUnitY));
}

void flushRun(EscPPrinter& p) {
  Run& r = p.run;
  if (r.text.empty()) return;
  canvasText(dotsX(p, r.x), dotsY(p, r.y) + p.ascent, r.style, r.text,
             static_cast<int>(std::lround(static_cast<double>(r.advance) * p.dotsPerUnitX)));
  r.text.clear();
}

void echoLine(EscPPrinter& p) {
  if (p.echo != nullptr) p.echo(p.echoText, false);
  p.echoText.clear();
}

void echoByte(EscPPrinter& p, char c) {
  p.echoText += c;
  if (p.echoText.size() >= kEchoLimit) echoLine(p);
}

// Paper moves up by `units`; past the end of the form it goes on from the
// top of the next one, on a new page.
void feed(EscPPrinter& p, long units) {
  flushRun(p);
  p.y += units;
  while (p.formLength > 0 && p.y >= p.formLength) {
    canvasPageBreak();
    p.y -= p.formLength;
  }
}

void lineFeed(EscPPrinter& p) {
  echoLine(p);
  p.lineWide = false;
  p.x = 0;
  feed(p, p.lineSpacing);
}

void formFeed(EscPPrinter& p) {
  flushRun(p);
  if (!p.echoText.empty()) echoLine(p);
  if (p.echo != nullptr) p.echo(std::string(), true);
  p.lineWide = false;
  canvasPageBreak();
  p.x = 0;
  p.y = 0;
}

CanvasStyle currentStyle(const EscPPrinter& p, long advance) {
  CanvasStyle style;
  style.face = p.face;
  style.pointSize = kPointSize;
  style.widthScale = static_cast<float>(static_cast<double>(advance) / kNaturalAdvance * p.squeeze);
  style.bold = p.bold || p.doubleStrike;
  style.italic = p.italic;
  style.underline = p.underline;
  return style;
}

void printCharacter(EscPPrinter& p, unsigned char c) {
  long advance = characterAdvance(p);
  // A character that would pass the end of the carriage goes to the next line.
  if (p.x + advance > kCarriageUnits && p.x > 0) {
    lineFeed(p);
    advance = characterAdvance(p);
  }
  Run& r = p.run;
  const bool bold = p.bold || p.doubleStrike;
  if (!r.text.empty() &&
      (r.y != p.y || r.advance != advance || r.x + r.advance * static_cast<long>(r.text.size()) != p.x ||
       r.style.bold != bold || r.style.italic != p.italic || r.style.underline != p.underline))
    flushRun(p);
  if (r.text.empty()) {
    r.x = p.x;
    r.y = p.y;
    r.advance = advance;
    r.style = currentStyle(p, advance);
  }
  r.text += static_cast<char>(c);
  p.x += advance;
  echoByte(p, static_cast<char>(c));
}

void tab(EscPPrinter& p) {
  flushRun(p);
  for (long stop : p.tabs)
    if (stop > p.x) {
      if (stop < kCarriageUnits) p.x = stop;
      break;
    }
  // The echo shows a tab as blanks to the next eighth column, as strip does.
  std::size_t column = p.echoText.size();
  p.echoText.append(8 - column % 8, ' ');
}

void controlByte(EscPPrinter& p, unsigned char c) {
  switch (c) {
    case '\r': flushRun(p); p.x = 0; break;
    case '\n': lineFeed(p); break;
    case '\f': formFeed(p); break;
    case '\t': tab(p); break;
    case 0x08:  // BS
      flushRun(p);
      p.x = p.x > characterAdvance(p) ? p.x - characterAdvance(p) : 0;
      break;
    case 0x0E: p.lineWide = true; break;    // SO
    case 0x0F: p.condensed = true; break;   // SI
    case 0x12: p.condensed = false; break;  // DC2
    case 0x14: p.lineWide = false; break;   // DC4
    default: break;                         // the rest prints nothing
  }
}

// --- Bit images -------------------------------------------------------------

// Horizontal density of ESC * mode m in dots per inch; 0 for a mode not drawn.
int imageDensity(int mode) {
  static const int k8Dot[] = {60, 120, 120, 240, 80, 72, 90, 144};
  if (mode >= 0 && mode < 8) return k8Dot[mode];
  switch (mode) {
    case 32: return 60;
    case 33: return 120;
    case 38: return 90;
    case 39: return 180;
    case 40: return 360;
    default: return 0;
  }
}

// Column data (each column `rows` / 8 bytes, the top dot in the high bit of
// the first) drawn as a bitmap at the head's position, which then moves past
// it. Columns past the carriage's end are not printed.
void drawImage(EscPPrinter& p, const unsigned char* columns, long count, int rows, int density) {
  flushRun(p);
  const long columnUnits = kUnitsPerInch / density;
  long room = (kCarriageUnits - p.x) / columnUnits;
  long width = count < room ? count : (room > 0 ? room : 0);
  if (width > 0) {
    const int bytesPerColumn = rows / 8;
    const std::size_t stride = (static_cast<std::size_t>(width) + 7) / 8;
    static thread_local std::vector<unsigned char> bits;
    bits.assign(stride * static_cast<std::size_t>(rows), 0);
    for (long col = 0; col < width; ++col)
      for (int b = 0; b < bytesPerColumn; ++b) {
        unsigned char byte = columns[col * bytesPerColumn + b];
        for (int bit = 0; bit < 8 && byte != 0; ++bit)
          if (byte & (0x80 >> bit))
            bits[static_cast<std::size_t>(b * 8 + bit) * stride + static_cast<std::size_t>(col / 8)] |=
                static_cast<unsigned char>(0x80 >> (col % 8));
      }
    CanvasBitmap bitmap;
    bitmap.width = static_cast<int>(width);
    bitmap.height = rows;
    bitmap.dpiX = static_cast<int>(std::lround(density / p.squeeze));
    bitmap.dpiY = rows == 24 ? 180 : (p.pins24 ? 60 : 72);
    bitmap.stride = static_cast<int>(stride);
    bitmap.bits = bits.data();
    canvasBitmap(dotsX(p, p.x), dotsY(p, p.y), bitmap);
  }
  p.x += count * columnUnits;
  if (p.x > kCarriageUnits) p.x = kCarriageUnits;
}

// --- Commands ---------------------------------------------------------------

bool on(unsigned char n) { return n == 1 || n == '1'; }

void setTabs(EscPPrinter& p, const unsigned char* stops, std::size_t count) {
  p.tabs.clear();
  long column = kUnitsPerInch / p.cpi;
  if (p.condensed && p.cpi != 15) column = column * 7 / 12;
  for (std::size_t i = 0; i < count && stops[i] != 0 && p.tabs.size() < static_cast<std::size_t>(kMaxTabStops); ++i) {
    long stop = stops[i] * column;
    if (!p.tabs.empty() && stop <= p.tabs.back()) break;  // stops must ascend
    p.tabs.push_back(stop);
  }
}

// One whole command, `length` bytes from ESC, its parameters from byte 2.
void obey(EscPPrinter& p, const ControlScan& scan, const unsigned char* bytes, std::size_t length) {
  if (scan.commandLength != 2) return;
  const unsigned char* a = bytes + 2;
  const std::size_t header = scan.headerLength;
  const long feedUnit = p.pins24 ? kUnitsPerInch / 180 : kUnitsPerInch / 216;
  switch (bytes[1]) {
    case '@': flushRun(p); reset(p); break;
    case 'E': p.bold = true; break;
    case 'F': p.bold = false; break;
    case 'G': p.doubleStrike = true; break;
    case 'H': p.doubleStrike = false; break;
    case '4': p.italic = true; break;
    case '5': p.italic = false; break;
    case '-': p.underline = on(a[0]); break;
    case 'W': p.doubleWidth = on(a[0]); break;
    case 0x0E: p.lineWide = true; break;
    case 0x0F: p.condensed = true; break;
    case 'P': p.cpi = 10; break;
    case 'M': p.cpi = 12; break;
    case 'g': p.cpi = 15; break;
    case '!':
      p.cpi = (a[0] & 1) ? 12 : 10;
      p.condensed = (a[0] & 4) != 0;
      p.bold = (a[0] & 8) != 0;
      p.doubleStrike = (a[0] & 16) != 0;
      p.doubleWidth = (a[0] & 32) != 0;
      p.italic = (a[0] & 64) != 0;
      p.underline = (a[0] & 128) != 0;
      break;
    case '0': p.lineSpacing = kUnitsPerInch / 8; break;
    case '2': p.lineSpacing = kUnitsPerInch / 6; break;
    case 'A': p.lineSpacing = a[0] * (p.pins24 ? kUnitsPerInch / 60 : kUnitsPerInch / 72); break;
    case '3': p.lineSpacing = a[0] * feedUnit; break;
    case '+': p.lineSpacing = a[0] * (kUnitsPerInch / 360); break;
    case 'J': feed(p, a[0] * feedUnit); break;
    case 'C': {
      long form = header == 4 ? a[1] * kUnitsPerInch : a[0] * p.lineSpacing;
      if (form <= 0) break;
      p.formLength = form < p.pageUnits ? form : p.pageUnits;
      feed(p, 0);
      break;
    }
    case 'D': setTabs(p, bytes + header, length - header); break;
    case '$': {
      long to = (a[0] + 256L * a[1]) * (kUnitsPerInch / 60);
      if (to < kCarriageUnits) {
        flushRun(p);
        p.x = to;
      }
      break;
    }
    case 'K': case 'L': case 'Y': case 'Z': {
      int density = bytes[1] == 'K' ? 60 : bytes[1] == 'Z' ? 240 : 120;
      drawImage(p, bytes + header, a[0] + 256L * a[1], 8, density);
      break;
    }
    case '*': {
      int density = imageDensity(a[0]);
      int rows = a[0] < 32 ? 8 : 24;
      if (density != 0) drawImage(p, bytes + header, a[1] + 256L * a[2], rows, density);
      break;
    }
    default: break;
  }
}

bool drawnCommand(const ControlScan& scan) {
  if (scan.commandLength != 2) return false;
  unsigned char c = static_cast<unsigned char>(scan.command & 0xFF);
  return c == 'K' || c == 'L' || c == 'Y' || c == 'Z' || c == '*' || c == 'D';
}

// The command at the window's start: obeyed when it is whole, passed over
// by its length in any case.
void escape(EscPPrinter& p, Reader& r) {
  fill(r, kControlScanWindow * 4);
  ControlScan scan;
  beginControlScan(scan, kEscP);
  ControlKind kind = scanControl(scan, data(r), available(r), r.atEnd);
  std::uint64_t passed = 0;  // bytes of the command already gone from the window
  while (kind == kControlNeedMore) {
    // Data longer than the window is walked through and not drawn.
    if (scan.resumeAt < passed || r.error != 0) return;
    discard(r, scan.resumeAt - passed);
    passed = scan.resumeAt;
    fill(r, scan.need);
    kind = scanControl(scan, data(r), available(r), r.atEnd);
  }
  if (kind != kControlSequence) {
    discard(r, 1);
    return;
  }
  std::uint64_t length = scan.length;
  if (passed == 0 && !scan.truncated && length > available(r) && length <= kMaxImageCommand && drawnCommand(scan))
    fill(r, static_cast<std::size_t>(length));
  if (p.drawing && passed == 0 && !scan.truncated && length <= available(r))
    obey(p, scan, data(r), static_cast<std::size_t>(length));
  discard(r, length - passed);
}

// 24-pin printers' own commands in the printout's first bytes.
bool uses24Pins() {
  std::string head = peekSpoolFile(kProbeBytes);
  return probePrintout(reinterpret_cast<const unsigned char*>(head.data()), head.size()).pins24;
}

bool setUp(EscPPrinter& p, const std::string& face, EscPEcho echo) {
  CanvasPage page;
  if (!canvasPage(&page) || page.dpiX <= 0 || page.dpiY <= 0 || page.width <= 0 || page.height <= 0) return false;
  p.face = face;
  p.echo = echo;
  p.pins24 = uses24Pins();
  p.dotsPerUnitX = static_cast<double>(page.dpiX) / kUnitsPerInch;
  p.dotsPerUnitY = static_cast<double>(page.dpiY) / kUnitsPerInch;
  double carriageDots = kCarriageUnits * p.dotsPerUnitX;
  if (carriageDots > page.width) {
    p.squeeze = page.width / carriageDots;
    p.dotsPerUnitX *= p.squeeze;
  }
  p.pageUnits = static_cast<long>(static_cast<double>(page.height) / p.dotsPerUnitY);
  if (p.pageUnits < 1) p.pageUnits = 1;
  CanvasStyle base;
  base.face = face;
  base.pointSize = kPointSize;
  CanvasMetrics metrics;
  p.ascent = canvasMeasure(base, &metrics) ? metrics.ascent : page.dpiY * 12 / 72 * 4 / 5;
  reset(p);
  return true;
}

}  // namespace

int printEscPPrintout(const std::string& face, EscPEcho echo) {
  EscPPrinter p;
  Reader r;
  r.buffer.resize(kMaxImageCommand + kReadAhead);
  p.drawing = setUp(p, face, echo);
  p.echo = echo;
  const bool drawing = p.drawing;
  for (;;) {
    if (!fill(r, 1)) break;
    const unsigned char* bytes = data(r);
    std::size_t count = available(r);
    std::size_t i = 0;
    // Printable characters (the code page's, 0x80 to 0xFF included) in a row.
    while (i < count && bytes[i] >= 0x20 && bytes[i] != 0x7F) {
      if (drawing) printCharacter(p, bytes[i]);
      else echoByte(p, static_cast<char>(bytes[i]));
      ++i;
    }
    r.start += i;
    if (i < count) {
      if (bytes[i] == kEsc) {
        escape(p, r);
      } else {
        if (drawing) controlByte(p, bytes[i]);
        else if (bytes[i] == '\n') echoLine(p);
        r.start += 1;
      }
    }
    if (r.error != 0) break;
  }
  if (drawing) flushRun(p);
  if (!p.echoText.empty()) echoLine(p);
  return r.error;
}
