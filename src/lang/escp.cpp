#include "lang/escp.h"

#include <algorithm>

#include "lang/bytes.h"
#include "lang/language.h"

namespace {

const long kUnitsPerInch = kEscPUnitsPerInch;
const long kCarriageUnits = 8 * kUnitsPerInch;  // an 80-column carriage
const long kCellUnits = kUnitsPerInch / 6;      // 12-point characters: 10 cpi exactly in Courier New
const int kMaxTabStops = 32;
const unsigned char kDelete = 0x7F;

long characterAdvance(const EscPState& p) {
  long advance = kUnitsPerInch / p.cpi;
  // Condensed is 17.14 cpi from pica and 20 from elite; 15 cpi has none.
  if (p.condensed && p.cpi != 15) advance = advance * 7 / 12;
  if (p.doubleWidth || p.lineWide) advance *= 2;
  return advance;
}

void defaultTabs(EscPState& p) {
  p.tabs.clear();
  for (int i = 1; i <= kMaxTabStops; ++i) p.tabs.push_back(i * 8 * (kUnitsPerInch / 10));
}

void reset(EscPState& p) {
  p.cpi = 10;
  p.condensed = p.doubleWidth = p.lineWide = false;
  p.bold = p.doubleStrike = p.italic = p.underline = false;
  p.lineSpacing = kUnitsPerInch / 6;
  p.formLength = p.pageUnits;
  defaultTabs(p);
}

void flushRun(EscPState& p) {
  if (p.run.text.empty()) return;
  p.out.push_back(std::move(p.run));
  p.run = DrawOp();
}

void emitMark(EscPState& p, DrawOpKind kind) {
  DrawOp op;
  op.kind = kind;
  p.out.push_back(std::move(op));
}

void screenLine(EscPState& p) {
  DrawOp line;
  line.kind = kDrawScreenLine;
  line.text.swap(p.screenText);
  p.out.push_back(std::move(line));
}

void screenByte(EscPState& p, char c) {
  p.screenText += c;
  if (p.screenText.size() >= kMaxScreenLine) screenLine(p);
}

// Paper moves up by `units`; past the end of the form it goes on from the
// top of the next one, on a new page.
void feed(EscPState& p, long units) {
  flushRun(p);
  p.y += units;
  while (p.formLength > 0 && p.y >= p.formLength) {
    emitMark(p, kDrawPageBreak);
    p.y -= p.formLength;
  }
}

void lineFeed(EscPState& p) {
  screenLine(p);
  p.lineWide = false;
  p.x = 0;
  feed(p, p.lineSpacing);
}

void formFeed(EscPState& p) {
  flushRun(p);
  if (!p.screenText.empty()) screenLine(p);
  p.lineWide = false;
  emitMark(p, kDrawPageEnd);
  p.x = 0;
  p.y = 0;
}

void printCharacter(EscPState& p, unsigned char c) {
  long advance = characterAdvance(p);
  // A character that would pass the end of the carriage goes to the next line.
  if (p.x + advance > kCarriageUnits && p.x > 0) {
    lineFeed(p);
    advance = characterAdvance(p);
  }
  DrawOp& r = p.run;
  const bool bold = p.bold || p.doubleStrike;
  if (!r.text.empty() &&
      (r.y != p.y || r.advance != advance || r.x + r.width != p.x || r.bold != bold || r.italic != p.italic ||
       (r.underline != 0) != p.underline))
    flushRun(p);
  if (r.text.empty()) {
    r.kind = kDrawText;
    r.x = static_cast<int>(p.x);
    r.y = static_cast<int>(p.y);
    r.height = static_cast<int>(kCellUnits);
    r.anchor = kAnchorTop;
    r.advance = r.glyphWidth = static_cast<int>(advance);
    r.em = kCellUnits;
    r.bold = bold;
    r.italic = p.italic;
    r.underline = p.underline ? 1 : 0;
  }
  r.text += static_cast<char>(c);
  r.width += static_cast<int>(advance);
  p.x += advance;
  screenByte(p, static_cast<char>(c));
}

void tab(EscPState& p) {
  flushRun(p);
  for (long stop : p.tabs)
    if (stop > p.x) {
      if (stop < kCarriageUnits) p.x = stop;
      break;
    }
  // The screen shows a tab as blanks to the next stop of its own text.
  p.screenText.append(tabBlanks(p.screenText.size()), ' ');
}

void controlByte(EscPState& p, unsigned char c) {
  switch (c) {
    case kCarriageReturn: flushRun(p); p.x = 0; break;
    case kLineFeed: lineFeed(p); break;
    case kFormFeed: formFeed(p); break;
    case kTab: tab(p); break;
    case 0x08:  // BS
      flushRun(p);
      p.x = p.x > characterAdvance(p) ? p.x - characterAdvance(p) : 0;
      break;
    case 0x0E: p.lineWide = true; break;    // SO
    case 0x0F: p.condensed = true; break;   // SI
    case 0x12: p.condensed = false; break;  // DC2
    case 0x14: p.lineWide = false; break;   // DC4
    default: break;                         // the rest (Ctrl-Z among them) prints nothing
  }
}

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
// the first) as a bitmap at the head's position, which then moves past it.
// Columns past the carriage's end are not printed.
void image(EscPState& p, const unsigned char* columns, long count, int rows, int density) {
  flushRun(p);
  const long columnUnits = kUnitsPerInch / density;
  const long room = (kCarriageUnits - p.x) / columnUnits;
  const long width = count < room ? count : (room > 0 ? room : 0);
  if (width > 0) {
    const std::size_t stride = (static_cast<std::size_t>(width) + 7) / 8;
    DrawOp op;
    op.kind = kDrawImage;
    op.x = static_cast<int>(p.x);
    op.y = static_cast<int>(p.y);
    op.width = static_cast<int>(width);
    op.height = rows;
    op.bytesPerRow = static_cast<int>(stride);
    op.dpiX = density;
    op.dpiY = rows == 24 ? 180 : (p.pins24 ? 60 : 72);
    op.bits.assign(stride * static_cast<std::size_t>(rows), 0);
    orColumnDots(op.bits.data(), stride, op.width, rows, columns,
                 static_cast<std::size_t>(width) * static_cast<std::size_t>(rows / 8));
    p.out.push_back(std::move(op));
  }
  p.x += count * columnUnits;
  if (p.x > kCarriageUnits) p.x = kCarriageUnits;
}

bool on(unsigned char n) { return n == 1 || n == '1'; }

void setTabs(EscPState& p, const unsigned char* stops, std::size_t count) {
  p.tabs.clear();
  long column = kUnitsPerInch / p.cpi;
  if (p.condensed && p.cpi != 15) column = column * 7 / 12;
  for (std::size_t i = 0; i < count && stops[i] != 0 && p.tabs.size() < static_cast<std::size_t>(kMaxTabStops); ++i) {
    long stop = stops[i] * column;
    if (!p.tabs.empty() && stop <= p.tabs.back()) break;  // stops must ascend
    p.tabs.push_back(stop);
  }
}

// ESC ! n: pitch and style at once.
void selectPrintMode(EscPState& p, unsigned char n) {
  p.cpi = (n & 1) ? 12 : 10;
  p.condensed = (n & 4) != 0;
  p.bold = (n & 8) != 0;
  p.doubleStrike = (n & 16) != 0;
  p.doubleWidth = (n & 32) != 0;
  p.italic = (n & 64) != 0;
  p.underline = (n & 128) != 0;
}

// The commands of the characters' style and pitch, ESC `command` with its
// parameters at `a`; false for any other command.
bool setStyle(EscPState& p, unsigned char command, const unsigned char* a) {
  switch (command) {
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
    case '!': selectPrintMode(p, a[0]); break;
    default: return false;
  }
  return true;
}

// One whole command, `length` bytes from ESC, its parameters from byte 2.
void obey(EscPState& p, const ControlScan& scan, const unsigned char* bytes, std::size_t length) {
  if (scan.commandLength != 2) return;
  const unsigned char* a = bytes + 2;
  if (setStyle(p, bytes[1], a)) return;
  const std::size_t header = scan.headerLength;
  const long feedUnit = p.pins24 ? kUnitsPerInch / 180 : kUnitsPerInch / 216;
  switch (bytes[1]) {
    case '@': flushRun(p); reset(p); break;
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
      image(p, bytes + header, a[0] + 256L * a[1], 8, density);
      break;
    }
    case '*': {
      int density = imageDensity(a[0]);
      int rows = a[0] < 32 ? 8 : 24;
      if (density != 0) image(p, bytes + header, a[1] + 256L * a[2], rows, density);
      break;
    }
    default: break;
  }
}

// Walks on through a command too long to hold, whose bytes from
// `state.passed` on start at data[0]; returns the bytes used.
std::size_t passOn(EscPState& state, const unsigned char* data, std::size_t size, bool endOfData) {
  ControlScan& scan = state.pass;
  for (;;) {
    if (scan.kind == kControlSequence) {
      state.passing = false;
      const std::uint64_t left = scan.length > state.passed ? scan.length - state.passed : 0;
      if (left <= size) return static_cast<std::size_t>(left);
      state.skip = left - size;
      return size;
    }
    if (scan.resumeAt >= state.passed + size && !endOfData) {
      const std::size_t used = scan.resumeAt - state.passed >= size ? size : 0;
      state.passed += used;
      state.wanted = scan.need;
      return used;
    }
    const std::size_t local =
        static_cast<std::size_t>(std::min<std::uint64_t>(scan.resumeAt - state.passed, size));
    if (size - local < scan.need && !endOfData) {
      state.passed += local;
      state.wanted = scan.need;
      return local;
    }
    scanControl(scan, data + local, size - local, endOfData);
  }
}

}  // namespace

DrawPaper escPPaper() {
  DrawPaper paper;
  paper.unitsPerInch = kEscPUnitsPerInch;
  paper.carriageWidth = kCarriageUnits;
  return paper;
}

void beginEscP(EscPState& state, const EscPSettings& settings) {
  state = EscPState();
  state.pins24 = settings.pins24;
  state.pageUnits = settings.pageUnits;
  reset(state);
}

std::size_t interpretEscP(EscPState& state, const unsigned char* data, std::size_t size, bool endOfData) {
  state.wanted = 0;
  std::size_t at = passSkipped(state.skip, size);
  if (state.passing) {
    at += passOn(state, data + at, size - at, endOfData);
    if (state.passing || state.skip > 0) return at;
  }
  while (at < size) {
    const unsigned char byte = data[at];
    if (byte >= 0x20 && byte != kDelete) {
      printCharacter(state, byte);
      ++at;
      continue;
    }
    if (byte != kEsc) {
      controlByte(state, byte);
      ++at;
      continue;
    }
    const std::size_t held = size - at;
    ControlScan scan;
    beginControlScan(scan, kEscP);
    if (scanControl(scan, data + at, held, endOfData) == kControlNeedMore) {
      if (held < kMaxEscPCommand) {
        state.wanted = controlBytesWanted(scan, held, kMaxEscPCommand);
        return at;
      }
      // Longer than a command that is drawn: walked through unseen.
      state.passing = true;
      state.pass = scan;
      state.passed = 0;
      at += passOn(state, data + at, held, endOfData);
      if (state.passing || state.skip > 0) return at;
      continue;
    }
    if (scan.length > held && !endOfData && scan.length <= kMaxEscPCommand) {
      state.wanted = static_cast<std::size_t>(scan.length);
      return at;
    }
    if (!scan.truncated && scan.length <= held) obey(state, scan, data + at, static_cast<std::size_t>(scan.length));
    if (scan.length > held) {
      state.skip = scan.length - held;
      return size;
    }
    at += static_cast<std::size_t>(scan.length);
  }
  return at;
}

void finishEscP(EscPState& state) {
  flushRun(state);
  if (!state.screenText.empty()) screenLine(state);
}

std::vector<DrawOp> takeEscPOps(EscPState& state) {
  std::vector<DrawOp> ops;
  ops.swap(state.out);
  return ops;
}

// --- ESC/P in the list of printer languages (lang/language.h) ---------------

namespace {

EscPState& escPOf(void* state) { return *static_cast<EscPState*>(state); }

// Any command at all that is neither a laser printer's nor a receipt
// printer's (the list asks those first) makes a dot-matrix printout.
bool recognisesEscP(const PrintoutProbe& probe) { return probe.commands; }

void* beginEscPLanguage(const LanguageSettings& settings) {
  EscPSettings escp;
  escp.pageUnits = settings.pageUnits;
  escp.pins24 = settings.probe.pins24;
  EscPState* state = new EscPState;
  beginEscP(*state, escp);
  return state;
}

std::size_t feedEscP(void* state, const unsigned char* data, std::size_t size, bool endOfData, std::size_t* wanted) {
  const std::size_t used = interpretEscP(escPOf(state), data, size, endOfData);
  *wanted = escPOf(state).wanted;
  return used;
}

std::vector<DrawOp> takeEscPLanguageOps(void* state) { return takeEscPOps(escPOf(state)); }
void endEscP(void* state) { finishEscP(escPOf(state)); }
void discardEscP(void* state) { delete static_cast<EscPState*>(state); }

}  // namespace

extern const PrinterLanguage kEscPLanguage = {"escp", recognisesEscP, escPPaper, true,
                                              beginEscPLanguage, feedEscP, takeEscPLanguageOps, endEscP,
                                              nullptr, discardEscP};
