#include "lang/pcl.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "lang/bytes.h"
#include "lang/language.h"

namespace {

const long kUnitsPerInch = kPclUnitsPerInch;
const long kBorder = kUnitsPerInch / 4;        // the logical page's offset, and the top of the printable area
const long kLimit = 200L * kUnitsPerInch;      // no place or length is held further out than this
const double kMaxValue = 1e7;                  // a value field beyond is taken as this
const std::size_t kMaxCommand = 256;           // an escape sequence longer than this ends there
const std::size_t kMaxParams = 32;             // parameters of one sequence that are obeyed
const std::size_t kMaxRun = 4096;              // characters in one text operation
const std::size_t kMaxHeldBits = 8u << 20;     // image bytes among the operations before interpreting pauses
const std::size_t kMaxStripBytes = 1u << 20;   // a raster strip is given out at this size
const long kMaxStripRows = 256;
const long kMaxRowBytes = 4095;                // 32,760 dots (54 inches at 600 dpi): as wide as a device draws
const int kRectDpi = 300;
// Images on one page: three pages' worth of 600 dpi graphics on Letter;
// under the 16 MB a device page takes (print/canvas.h).
const std::size_t kMaxPageImageBytes = 12u << 20;
const long kMaxRect = 17L * kUnitsPerInch;
const std::size_t kMaxStack = 20;
const unsigned char kShiftOut = 0x0E;
const unsigned char kShiftIn = 0x0F;
const unsigned char kBackspace = 0x08;

enum Mode { kModePcl, kModeHpgl, kModeMacro, kModePjl, kModePjlLine };

// --- The grammar -----------------------------------------------------------------

struct Param {
  char letter = 0;     // upper case
  double value = 0;
  bool hasValue = false;
  bool sign = false;   // + or - given: relative, for the cursor
};

struct Command {
  unsigned char kind = 0;  // the parameterized character, or the two-character escape's
  unsigned char group = 0;
  bool twoChar = false;
  std::size_t length = 0;
  Param params[kMaxParams];
  std::size_t count = 0;
  bool hasData = false;  // the last parameter announces binary data, which follows the command
};

bool isParameterized(unsigned char c) { return c >= 0x21 && c <= 0x2F; }
bool isGroup(unsigned char c) { return c >= 0x60 && c <= 0x7E; }
bool isFinal(unsigned char c) { return c >= 0x40 && c <= 0x5E; }

bool announcesData(const Command& c, char letter) {
  return letter == 'W' || (letter == 'V' && c.kind == '*' && c.group == 'b') ||
         (letter == 'X' && c.kind == '&' && c.group == 'p');
}

// Reads a value field's sign and digits from data[at], no further than
// `limit`: *negative tells its sign, *value its size (up to about
// kMaxValue). Returns where the field's digits end.
std::size_t readValue(const unsigned char* data, std::size_t at, std::size_t limit, Param& p, bool* negative,
                      double* value) {
  if (data[at] == '+' || data[at] == '-') {
    p.sign = true;
    *negative = data[at] == '-';
    ++at;
  }
  double scale = 0;
  while (at < limit && ((data[at] >= '0' && data[at] <= '9') || (data[at] == '.' && scale == 0))) {
    if (data[at] == '.') {
      scale = 1;
    } else if (scale == 0) {
      if (*value < kMaxValue) *value = *value * 10 + (data[at] - '0');
      p.hasValue = true;
    } else {
      scale /= 10;
      *value += (data[at] - '0') * scale;
      p.hasValue = true;
    }
    ++at;
  }
  return at;
}

// Reads the sequence at data[0] (an ESC). Returns false when it goes on past
// the data and more may come. A byte that fits no field ends the sequence
// before it.
bool readCommand(const unsigned char* data, std::size_t size, bool endOfData, Command& c) {
  c = Command();
  if (size < 2) {
    if (!endOfData) return false;
    c.length = size;
    return true;
  }
  const unsigned char kind = data[1];
  c.kind = kind;
  if (!isParameterized(kind)) {
    c.twoChar = kind >= 0x30 && kind <= 0x7E;
    c.length = c.twoChar ? 2 : 1;  // ESC followed by a control byte: the byte is read on its own
    return true;
  }
  std::size_t at = 2;
  if (at < size && isGroup(data[at])) c.group = data[at++];
  const std::size_t limit = std::min(size, kMaxCommand);
  while (at < limit) {
    Param p;
    const std::size_t start = at;
    bool negative = false;
    double value = 0;
    at = readValue(data, at, limit, p, &negative, &value);
    if (at >= limit) break;
    const unsigned char letter = data[at];
    if (!isGroup(letter) && !isFinal(letter)) {
      // Not a parameter: the sequence ends before this field.
      c.length = start;
      return true;
    }
    p.value = std::min(negative ? -value : value, kMaxValue);
    if (negative) p.value = std::max(-value, -kMaxValue);
    p.letter = static_cast<char>(isGroup(letter) ? letter - 0x20 : letter);
    ++at;
    if (c.count < kMaxParams) c.params[c.count++] = p;
    if (announcesData(c, p.letter)) {
      c.hasData = true;
      c.length = at;
      return true;
    }
    if (isFinal(letter)) {
      c.length = at;
      return true;
    }
  }
  if (at >= kMaxCommand || endOfData) {
    c.length = at;
    return true;
  }
  return false;
}

// --- Pages and fonts ---------------------------------------------------------------

long fromMm(long hundredthsMm) { return hundredthsMm * kUnitsPerInch / 2540; }

// The paper of a page size, portrait, in units; false for a size not known.
bool paperOf(int size, long* width, long* length) {
  struct Paper {
    int id;
    long width;
    long length;
  };
  static const Paper kPapers[] = {
      {1, 7 * kUnitsPerInch + kUnitsPerInch / 4, 10 * kUnitsPerInch + kUnitsPerInch / 2},  // Executive
      {2, 8 * kUnitsPerInch + kUnitsPerInch / 2, 11 * kUnitsPerInch},                       // Letter
      {3, 8 * kUnitsPerInch + kUnitsPerInch / 2, 14 * kUnitsPerInch},                       // Legal
      {6, 11 * kUnitsPerInch, 17 * kUnitsPerInch},                                          // Ledger
      {25, fromMm(14800), fromMm(21000)},                                                   // A5
      {26, fromMm(21000), fromMm(29700)},                                                   // A4
      {27, fromMm(29700), fromMm(42000)},                                                   // A3
      {45, fromMm(18200), fromMm(25700)},                                                   // JIS B5
      {46, fromMm(25700), fromMm(36400)},                                                   // JIS B4
      {80, 3 * kUnitsPerInch + kUnitsPerInch * 7 / 8, 7 * kUnitsPerInch + kUnitsPerInch / 2},  // Monarch
      {81, 4 * kUnitsPerInch + kUnitsPerInch / 8, 9 * kUnitsPerInch + kUnitsPerInch / 2},      // Com-10
      {90, fromMm(11000), fromMm(22000)},                                                   // DL
      {91, fromMm(16200), fromMm(22900)},                                                   // C5
      {100, fromMm(17600), fromMm(25000)},                                                  // B5 envelope
  };
  for (const Paper& p : kPapers) {
    if (p.id != size) continue;
    *width = p.width;
    *length = p.length;
    return true;
  }
  return false;
}

PclFont& font(PclState& s) { return s.fonts[s.secondary ? 1 : 0]; }

// The font's advance for a fixed-pitch face.
long pitchAdvance(const PclFont& f) { return kUnitsPerInch * 100 / std::max(1L, f.pitchHundredths); }

long emOf(const PclFont& f) { return f.heightQuarters * kUnitsPerInch / 288; }

// A proportional character's advance, by its shape, in thousandths of the
// em: the printer's own widths are in its fonts, which the page is not
// drawn in.
long proportionalWidth(unsigned char c) {
  if (c == ' ') return 250;
  if (std::strchr("il.,:;'!|jI`", c) != nullptr) return 280;
  if (std::strchr("mwMW", c) != nullptr) return 830;
  if (c >= 'A' && c <= 'Z') return 680;
  return 500;
}

// The face a font is drawn in: fixed pitch in the slot's (Courier New),
// proportional faces in a serif or sans face every platform has.
std::string faceOf(const PclFont& f) {
  if (!f.proportional) return std::string();
  static const int kSerifFamilies[] = {5, 8, 11, 23, 101, 517};
  const int family = f.typeface % 4096;
  for (int serif : kSerifFamilies)
    if (family == serif) return "Times New Roman";
  return "Arial";
}

// Roman-8's upper half in Windows Latin 1 (code page 1252); '?' where it
// has nothing alike.
const unsigned char kRoman8[96] = {
    0xA0, 0xC0, 0xC2, 0xC8, 0xCA, 0xCB, 0xCE, 0xCF, 0xB4, 0x60, 0x88, 0xA8, 0x98, 0xD9, 0xDB, 0xA3,
    0xAF, 0xDD, 0xFD, 0xB0, 0xC7, 0xE7, 0xD1, 0xF1, 0xA1, 0xBF, 0xA4, 0xA3, 0xA5, 0xA7, 0x83, 0xA2,
    0xE2, 0xEA, 0xF4, 0xFB, 0xE1, 0xE9, 0xF3, 0xFA, 0xE0, 0xE8, 0xF2, 0xF9, 0xE4, 0xEB, 0xF6, 0xFC,
    0xC5, 0xEE, 0xD8, 0xC6, 0xE5, 0xED, 0xF8, 0xE6, 0xC4, 0xEC, 0xD6, 0xDC, 0xC9, 0xEF, 0xDF, 0xD4,
    0xC1, 0xC3, 0xE3, 0xD0, 0xF0, 0xCD, 0xCC, 0xD3, 0xD2, 0xD5, 0xF5, 0x8A, 0x9A, 0xDA, 0x9F, 0xFF,
    0xDE, 0xFE, 0xB7, 0xB5, 0xB6, 0xBE, 0x97, 0xBC, 0xBD, 0xAA, 0xBA, 0xAB, 0x95, 0xBB, 0xB1, '?'};

const int kRoman8Set = 277;  // 8U

// The code page a symbol set's bytes are drawn in; 0 for a set not known.
int codePageOf(int symbolSet) {
  switch (symbolSet) {
    case kRoman8Set: return 1252;  // its bytes are put in 1252 first
    case 341: return 437;          // 10U, PC-8
    case 21: return 437;           // 0U, ASCII
    case 373: return 865;          // 11U, PC-8 Danish/Norwegian
    case 405: return 850;          // 12U, PC-850
    case 565: return 852;          // 17U, PC-852
    case 14: case 309: case 629: return 1252;  // 0N ISO Latin 1, 9U and 19U Windows Latin 1
    case 78: case 293: return 1250;            // 2N ISO Latin 2, 9E Windows Latin 2
    default: return 0;
  }
}

// --- Output ------------------------------------------------------------------------

void emit(PclState& s, DrawOp&& op) {
  // A page holds at most kMaxPageImageBytes of images: more can only be
  // drawn over what is there, and would cost without bound.
  if (op.kind == kDrawImage) {
    if (s.pageImageBytes + op.bits.size() > kMaxPageImageBytes) return;
    s.pageImageBytes += op.bits.size();
  }
  s.outBytes += op.bits.size();
  s.out.push_back(std::move(op));
}

void flushRun(PclState& s) {
  if (s.run.text.empty()) return;
  emit(s, std::move(s.run));
  s.run = DrawOp();
}

void screenLine(PclState& s) {
  s.screenX = s.leftMargin;
  if (s.screenText.empty()) return;
  DrawOp line;
  line.kind = kDrawScreenLine;
  line.text.swap(s.screenText);
  s.out.push_back(std::move(line));
}

void flushStrip(PclState& s) {
  DrawOp& strip = s.raster.strip;
  if (strip.height > 0 && !strip.bits.empty()) {
    s.marked = true;
    emit(s, std::move(strip));
  }
  strip = DrawOp();
}

void endRaster(PclState& s) {
  if (!s.raster.active) return;
  flushStrip(s);
  s.raster.active = false;
  s.raster.seed.clear();
}

long firstLine(const PclState& s) { return s.topMargin + s.vmi * 3 / 4; }

void homeCursor(PclState& s) {
  s.x = s.leftMargin;
  s.y = firstLine(s);
  s.homed = true;
}

// Margins and line spacing set before anything is printed or moved on a
// page place its first line, as drivers send them after a reset.
void marginsChanged(PclState& s) {
  if (s.homed) homeCursor(s);
}

// The page ends and the next one begins; `blank`: the page is ejected even
// with nothing on it, as a form feed ejects a blank sheet.
void ejectPage(PclState& s, bool blank) {
  flushRun(s);
  endRaster(s);
  screenLine(s);
  DrawOp op;
  op.kind = kDrawPageEnd;
  op.blank = blank;
  s.out.push_back(std::move(op));
  s.marked = false;
  s.fedOn = false;
  s.pageImageBytes = 0;
  if (s.duplex) s.side = 1 - s.side;
  homeCursor(s);
}

bool pageMarked(const PclState& s) { return s.marked || !s.run.text.empty() || s.raster.strip.height > 0; }

// A page ends where a new setting of the page would change it under what
// is drawn; a page with nothing on it is not ejected, as the printer does
// not eject unneeded blank sheets.
void ejectIfMarked(PclState& s) {
  if (pageMarked(s)) ejectPage(s, true);
}

// ESC &a#G: the side the next page goes on (0 the next, 1 the front, 2 the
// back). The page is ejected when marked; in duplex, blank sides follow
// until the side asked for is the one to come.
void pageSide(PclState& s, int value) {
  if (value < 0 || value > 2) return;
  const bool marked = pageMarked(s);
  ejectIfMarked(s);
  if (!s.duplex) return;
  if (value == 0 && !marked) ejectPage(s, true);
  if (value != 0 && s.side != value - 1) ejectPage(s, true);
}

// ESC &l#S: simplex (0) or duplex (1 long edge, 2 short edge); the next page
// is a sheet's front.
void duplexMode(PclState& s, int value) {
  if (value < 0 || value > 2) return;
  ejectIfMarked(s);
  s.duplex = value != 0;
  s.side = 0;
}

void defaultMargins(PclState& s) {
  long width = 0, length = 0;
  if (!paperOf(s.pageSize, &width, &length)) paperOf(2, &width, &length);
  if (s.landscape) std::swap(width, length);
  s.pageWidth = width - 2 * kBorder;
  s.pageLength = length;
  s.topMargin = kUnitsPerInch / 2;
  s.textLength = std::max(0L, s.pageLength - s.topMargin - kUnitsPerInch / 2);
  s.leftMargin = 0;
  s.rightMargin = s.pageWidth;
}

void setOrientation(PclState& s, bool landscape) {
  if (landscape == s.landscape) return;
  s.landscape = landscape;
  DrawOp op;
  op.kind = kDrawPageSetup;
  op.landscape = landscape;
  s.out.push_back(std::move(op));
}

void fontChanged(PclState& s) {
  flushRun(s);
  if (!font(s).proportional) s.hmi = pitchAdvance(font(s));
}

void reset(PclState& s) {
  ejectIfMarked(s);
  endRaster(s);
  setOrientation(s, false);
  s.pageSize = 2;
  s.vmi = kUnitsPerInch / 6;
  defaultMargins(s);
  s.perforationSkip = true;
  s.lineTermination = 0;
  s.unitsPerPclUnit = kUnitsPerInch / 300;
  s.fonts[0] = PclFont();
  s.fonts[1] = PclFont();
  s.secondary = false;
  s.underline = false;
  s.stack.clear();
  s.duplex = false;
  s.side = 0;
  s.raster = PclRaster();
  s.rectWidth = s.rectHeight = 0;
  s.areaFill = 0;
  s.hmi = pitchAdvance(s.fonts[0]);
  homeCursor(s);
}

double real(long value) { return static_cast<double>(value); }

long clampPlace(double units) { return static_cast<long>(std::max(-real(kLimit), std::min(real(kLimit), units))); }

// --- Text --------------------------------------------------------------------------

long advanceOf(PclState& s, unsigned char c) {
  const PclFont& f = font(s);
  if (!f.proportional) return s.hmi;
  return static_cast<long>(real(emOf(f)) * real(proportionalWidth(c)) / 1000);
}

void printCharacter(PclState& s, unsigned char c) {
  const PclFont& f = font(s);
  const long advance = advanceOf(s, c);
  s.homed = false;
  if (s.screenY != s.y) {
    screenLine(s);
    s.screenY = s.y;
    s.screenX = s.leftMargin;
  }
  // A gap the cursor jumped shows as blanks, a column of the font's apart.
  if (s.x > s.screenX && s.hmi > 0) {
    const long gap = std::min(256L, (s.x - s.screenX + s.hmi / 2) / s.hmi);
    s.screenText.append(static_cast<std::size_t>(gap), ' ');
  }
  s.screenX = s.x + advance;
  s.screenText += static_cast<char>(c);
  if (s.screenText.size() >= kMaxRun * 16) screenLine(s);
  if (c == ' ' && s.run.text.empty() && !s.underline) {
    s.x = clampPlace(real(s.x) + real(advance));
    return;
  }
  const long runEnd = s.run.x + s.run.width;
  const bool same = !s.run.text.empty() && s.run.y == s.y - kBorder && runEnd == s.x && s.run.width < kLimit && s.run.bold == f.bold &&
                    s.run.italic == f.italic && (s.run.underline > 0) == s.underline &&
                    s.run.em == real(emOf(f)) && s.run.advance == (f.proportional ? 0 : advance) &&
                    s.run.codePage == codePageOf(f.symbolSet) && s.run.text.size() < kMaxRun;
  if (!same) {
    flushRun(s);
    DrawOp& run = s.run;
    run.kind = kDrawText;
    run.anchor = kAnchorBaseline;
    run.x = static_cast<int>(s.x);
    run.y = static_cast<int>(s.y - kBorder);
    run.bold = f.bold;
    run.italic = f.italic;
    run.underline = s.underline ? 1 : 0;
    run.em = static_cast<double>(emOf(f));
    run.advance = f.proportional ? 0 : static_cast<int>(advance);
    run.glyphWidth = f.proportional ? static_cast<int>(run.em * 0.6) : static_cast<int>(advance);
    run.height = static_cast<int>(emOf(f));
    run.codePage = codePageOf(f.symbolSet);
    run.face = faceOf(f);
  }
  unsigned char drawn = c;
  if (f.symbolSet == kRoman8Set && c >= 0xA0) drawn = kRoman8[c - 0xA0];
  if (s.run.codePage == 0 && c >= 0x80) drawn = '?';
  s.run.text += static_cast<char>(drawn);
  s.run.width += static_cast<int>(advance);
  s.marked = true;
  s.x = clampPlace(real(s.x) + real(advance));
}

void carriageReturn(PclState& s) {
  flushRun(s);
  s.x = s.leftMargin;
}

void lineFeed(PclState& s) {
  flushRun(s);
  s.homed = false;
  screenLine(s);
  s.y = clampPlace(real(s.y) + real(s.vmi));
  const long bottom = s.perforationSkip ? s.topMargin + s.textLength : s.pageLength;
  if (s.y > bottom + s.vmi / 4 || s.y > s.pageLength) {
    ejectPage(s, true);
    s.fedOn = true;
  }
}

// A form feed ejects the page, blank or not; on a page that a line feed
// past the text length has just begun, with nothing on it yet, it only
// finishes that feed: the page the lines filled is out already.
void formFeed(PclState& s) {
  if (s.fedOn && !pageMarked(s)) {
    s.fedOn = false;
    return;
  }
  ejectPage(s, true);
}

void tab(PclState& s) {
  flushRun(s);
  const long stop = std::max(1L, s.hmi * 8);
  const long from = s.x - s.leftMargin;
  s.x = clampPlace(real(s.leftMargin) + real(from < 0 ? 0 : from / stop + 1) * real(stop));
}

void backspace(PclState& s) {
  flushRun(s);
  s.x = std::max(s.leftMargin, s.x - s.hmi);
}

void control(PclState& s, unsigned char c) {
  const bool crlf = s.lineTermination == 1 || s.lineTermination == 3;
  const bool lfcr = s.lineTermination == 2 || s.lineTermination == 3;
  switch (c) {
    case kCarriageReturn:
      carriageReturn(s);
      if (crlf) lineFeed(s);
      break;
    case kLineFeed:
      if (lfcr) carriageReturn(s);
      lineFeed(s);
      break;
    case kFormFeed:
      if (lfcr) carriageReturn(s);
      formFeed(s);
      break;
    case kTab: tab(s); break;
    case kBackspace: backspace(s); break;
    case kShiftOut: s.secondary = true; fontChanged(s); break;
    case kShiftIn: s.secondary = false; fontChanged(s); break;
    default: break;  // the other control bytes print nothing
  }
}

// --- Raster graphics ---------------------------------------------------------------

long rowUnits(const PclState& s) { return kUnitsPerInch / s.raster.resolution; }

void startRaster(PclState& s, bool atCursor) {
  if (s.raster.active) return;
  flushRun(s);
  PclRaster& r = s.raster;
  r.active = true;
  r.startAtCursor = atCursor;
  r.rows = 0;
  r.x = atCursor ? s.x : 0;
  r.seed.clear();
  r.strip = DrawOp();
}

long rowCap(const PclState& s) {
  const long width = s.raster.sourceWidth > 0 ? (s.raster.sourceWidth + 7) / 8 : kMaxRowBytes;
  return std::min(width, kMaxRowBytes);
}

// Decodes one row's data into the seed row, as its compression says.
void decodeRow(PclState& s, const unsigned char* data, std::size_t size) {
  PclRaster& r = s.raster;
  std::vector<unsigned char>& row = r.seed;
  const std::size_t cap = static_cast<std::size_t>(rowCap(s));
  if (r.compression == 3) {
    // Delta row: replacements of 1 to 8 bytes at offsets after the last.
    std::size_t at = 0, place = 0;
    while (at < size) {
      const unsigned char head = data[at++];
      const std::size_t count = (head >> 5) + 1;
      std::size_t offset = head & 31;
      if (offset == 31) {
        while (at < size) {
          const unsigned char more = data[at++];
          offset += more;
          if (more != 255) break;
        }
      }
      place += offset;
      for (std::size_t i = 0; i < count && at < size; ++i, ++at, ++place)
        if (place < cap) {
          if (row.size() <= place) row.resize(place + 1, 0);
          row[place] = data[at];
        }
    }
    return;
  }
  row.clear();
  auto put = [&](unsigned char b, std::size_t times) {
    times = std::min(times, cap - std::min(cap, row.size()));
    row.insert(row.end(), times, b);
  };
  if (r.compression == 1) {
    for (std::size_t at = 0; at + 1 < size; at += 2) put(data[at + 1], std::size_t(data[at]) + 1);
  } else if (r.compression == 2) {
    std::size_t at = 0;
    while (at < size) {
      const int n = data[at] < 128 ? data[at] : data[at] - 256;  // the control byte is signed
      ++at;
      if (n >= 0) {
        for (int i = 0; i <= n && at < size; ++i) put(data[at++], 1);
      } else if (n != -128 && at < size) {
        put(data[at++], static_cast<std::size_t>(1 - n));
      }
    }
  } else {
    for (std::size_t at = 0; at < size && row.size() < cap; ++at) row.push_back(data[at]);
  }
}

// Adds the seed row to the strip below the rows before it.
void addRow(PclState& s) {
  PclRaster& r = s.raster;
  const long top = s.y + r.rows * rowUnits(s);
  ++r.rows;
  if (top - kBorder < -kBorder || top > s.pageLength + kUnitsPerInch) return;  // off the page
  DrawOp& strip = r.strip;
  const int bytes = static_cast<int>(r.sourceWidth > 0 ? rowCap(s) : static_cast<long>(r.seed.size()));
  if (strip.height > 0 && (bytes > strip.bytesPerRow || strip.height >= kMaxStripRows ||
                           strip.bits.size() >= kMaxStripBytes))
    flushStrip(s);
  if (strip.height == 0) {
    if (bytes == 0) return;  // a blank row starts nothing
    strip.kind = kDrawImage;
    strip.x = static_cast<int>(r.x);
    strip.y = static_cast<int>(top - kBorder);
    strip.bytesPerRow = bytes;
    strip.width = r.sourceWidth > 0 ? static_cast<int>(std::min(r.sourceWidth, kMaxRowBytes * 8)) : bytes * 8;
    strip.dpiX = strip.dpiY = r.resolution;
  }
  const std::size_t at = strip.bits.size();
  if (s.pageImageBytes + at + static_cast<std::size_t>(strip.bytesPerRow) > kMaxPageImageBytes) return;
  strip.bits.resize(at + static_cast<std::size_t>(strip.bytesPerRow), 0);
  if (!r.seed.empty())
    std::memcpy(&strip.bits[at], r.seed.data(), std::min(r.seed.size(), static_cast<std::size_t>(strip.bytesPerRow)));
  ++strip.height;
}

void rasterRow(PclState& s, const unsigned char* data, std::size_t size) {
  startRaster(s, false);
  PclRaster& r = s.raster;
  if (r.sourceHeight > 0 && r.rows >= r.sourceHeight) return;
  decodeRow(s, data, size);
  addRow(s);
}

// Rows passed over: blank, and the seed row with them.
void rasterSkip(PclState& s, long rows) {
  startRaster(s, false);
  flushStrip(s);
  s.raster.rows = std::min(s.raster.rows + std::max(0L, rows), kLimit);
  s.raster.seed.clear();
}

void finishRaster(PclState& s) {
  if (!s.raster.active) return;
  s.y = clampPlace(real(s.y) + real(s.raster.rows) * real(rowUnits(s)));
  endRaster(s);
}

// --- Rectangles --------------------------------------------------------------------

bool rectDot(int fill, int pattern, int x, int y) {
  static const int kBayer[8][8] = {{0, 32, 8, 40, 2, 34, 10, 42},  {48, 16, 56, 24, 50, 18, 58, 26},
                                   {12, 44, 4, 36, 14, 46, 6, 38}, {60, 28, 52, 20, 62, 30, 54, 22},
                                   {3, 35, 11, 43, 1, 33, 9, 41},  {51, 19, 59, 27, 49, 17, 57, 25},
                                   {15, 47, 7, 39, 13, 45, 5, 37}, {63, 31, 55, 23, 61, 29, 53, 21}};
  switch (fill) {
    case 0: return true;
    case 2: return kBayer[y % 8][x % 8] < pattern * 64 / 100;
    case 3: {
      const bool across = y % 16 == 0, down = x % 16 == 0;
      const bool rising = (x + y) % 16 == 0, falling = (x - y + 1600) % 16 == 0;
      switch (pattern) {
        case 1: return across;
        case 2: return down;
        case 3: return falling;
        case 4: return rising;
        case 5: return across || down;
        default: return rising || falling;
      }
    }
    default: return kBayer[y % 8][x % 8] < 32;  // a pattern of the printout's own: mid grey
  }
}

void fillRectangle(PclState& s, int fill) {
  if (fill == 1) return;  // white fill: the page is white already
  if (fill == 2 && s.areaFill <= 0) return;
  flushRun(s);
  // Clipped to the page, as the printer clips it.
  const long left = std::max(s.x, -kBorder), top = std::max(s.y, 0L);
  const long width = std::min({s.rectWidth, kMaxRect, s.x + s.rectWidth - left, s.pageWidth + kBorder - left});
  const long height = std::min({s.rectHeight, kMaxRect, s.y + s.rectHeight - top, s.pageLength - top});
  if (width <= 0 || height <= 0) return;
  // A black box is drawn with the coarsest dots that give its size exactly:
  // a large one then holds a sixteenth of the bits. Patterns keep the
  // printer's 300 dots to the inch.
  int dpi = kRectDpi;
  if (fill == 0)
    for (int coarse : {75, 100, 150}) {
      const long dot = kUnitsPerInch / coarse;
      if (width % dot == 0 && height % dot == 0) {
        dpi = coarse;
        break;
      }
    }
  const long dotUnits = kUnitsPerInch / dpi;
  const int columns = static_cast<int>(std::max(1L, (width + dotUnits / 2) / dotUnits));
  const int rows = static_cast<int>(std::max(1L, (height + dotUnits / 2) / dotUnits));
  const std::size_t bytes = static_cast<std::size_t>((columns + 7) / 8) * static_cast<std::size_t>(rows);
  if (s.pageImageBytes + bytes > kMaxPageImageBytes) return;  // not even made
  DrawOp op;
  op.kind = kDrawImage;
  op.x = static_cast<int>(left);
  op.y = static_cast<int>(top - kBorder);
  op.width = columns;
  op.height = rows;
  op.bytesPerRow = (columns + 7) / 8;
  op.dpiX = op.dpiY = dpi;
  op.bits.assign(static_cast<std::size_t>(op.bytesPerRow) * static_cast<std::size_t>(rows), 0);
  // Placed on the page's own grid, so that shading lines up from one box to the next.
  const int gridX = static_cast<int>((left + kLimit) / dotUnits), gridY = static_cast<int>((top + kLimit) / dotUnits);
  const int pattern = fill == 2 ? std::min(100, s.areaFill) : s.areaFill;
  // Every pattern repeats after 16 rows: those are made dot by dot, the rest copied.
  const std::size_t stride = static_cast<std::size_t>(op.bytesPerRow);
  for (int y = 0; y < rows; ++y) {
    unsigned char* row = &op.bits[static_cast<std::size_t>(y) * stride];
    if (y >= 16) {
      std::memcpy(row, row - 16 * stride, stride);
      continue;
    }
    for (int x = 0; x < columns; ++x)
      if (rectDot(fill, pattern, gridX + x, gridY + y)) row[x / 8] = static_cast<unsigned char>(row[x / 8] | 0x80 >> (x % 8));
  }
  s.marked = true;
  emit(s, std::move(op));
}

// --- Commands ----------------------------------------------------------------------

int whole(double value) { return static_cast<int>(value); }

// A cursor move: relative when the value was signed.
long place(long from, const Param& p, double unitsPer) {
  const double moved = p.value * unitsPer;
  return clampPlace(p.sign ? real(from) + moved : moved);
}

void moveTo(PclState& s, long x, long y) {
  flushRun(s);
  s.homed = false;
  s.x = x;
  s.y = y;
}

void fontParameter(PclFont& f, const Param& p) {
  switch (p.letter) {
    case 'P': f.proportional = whole(p.value) == 1; break;
    case 'H':
      if (p.value > 0) f.pitchHundredths = std::max(1L, std::min(100000L, std::lround(p.value * 100)));
      break;
    case 'V':
      if (p.value > 0) f.heightQuarters = std::max(1L, std::min(4000L, std::lround(p.value * 4)));
      break;
    case 'S': f.italic = whole(p.value) % 4 != 0; break;
    case 'B': f.bold = p.value > 0; break;
    case 'T': f.typeface = whole(p.value); break;
    default: break;
  }
}

void symbolSet(PclFont& f, const Param& p) {
  const int set = whole(p.value) * 32 + (p.letter - 64);
  if (p.letter == 'X' || p.letter == '@') return;  // a font by its ID, the default font: kept as is
  if (codePageOf(set) != 0) f.symbolSet = set;
}

void pageSize(PclState& s, int size) {
  long width = 0, length = 0;
  if (!paperOf(size, &width, &length)) return;
  ejectIfMarked(s);
  s.pageSize = size;
  defaultMargins(s);
  homeCursor(s);
}

void orientation(PclState& s, int value) {
  if (value < 0 || value > 3) return;
  ejectIfMarked(s);
  setOrientation(s, value % 2 == 1);
  defaultMargins(s);
  homeCursor(s);
}

void pageCommand(PclState& s, const Param& p) {  // ESC &l
  const int n = whole(p.value);
  switch (p.letter) {
    case 'A': pageSize(s, n); break;
    case 'O': orientation(s, n); break;
    case 'E':
      if (n >= 0 && real(n) * real(s.vmi) <= real(s.pageLength)) {
        s.topMargin = n * s.vmi;
        s.textLength = std::max(0L, s.pageLength - s.topMargin - kUnitsPerInch / 2);
      }
      break;
    case 'F':
      if (n > 0 && real(s.topMargin) + real(n) * real(s.vmi) <= real(s.pageLength)) s.textLength = n * s.vmi;
      break;
    case 'D':
      if (p.value > 0 && p.value <= 48) s.vmi = std::lround(kUnitsPerInch / p.value);
      break;
    case 'C':
      if (p.value >= 0 && p.value * 150 <= real(s.pageLength)) s.vmi = std::lround(p.value * 150);
      break;
    case 'L': s.perforationSkip = n != 0; break;
    case 'H':
      if (n == 0) ejectIfMarked(s);  // 0 prints the page; any other paper source is the printer's
      break;
    case 'S': duplexMode(s, n); break;
    default: break;  // copies, offsets, paper type: the printer's, not the page's
  }
  if (p.letter == 'E' || p.letter == 'D' || p.letter == 'C') marginsChanged(s);
}

void cursorCommand(PclState& s, const Command& c, const Param& p) {
  const double decipoint = kUnitsPerInch / 720.0;
  if (c.group == 'a') {  // ESC &a
    switch (p.letter) {
      case 'R': {
        const long row = place((s.y - firstLine(s)) / std::max(1L, s.vmi), p, 1);
        moveTo(s, s.x, clampPlace(real(firstLine(s)) + real(row) * real(s.vmi)));
        break;
      }
      case 'C': moveTo(s, clampPlace(real(place(s.x / std::max(1L, s.hmi), p, 1)) * real(s.hmi)), s.y); break;
      case 'H': moveTo(s, p.sign ? place(s.x, p, decipoint) : place(0, p, decipoint), s.y); break;
      case 'V': moveTo(s, s.x, p.sign ? place(s.y, p, decipoint) : s.topMargin + place(0, p, decipoint)); break;
      case 'L':
        if (p.value >= 0) s.leftMargin = std::min(clampPlace(p.value * real(s.hmi)), s.rightMargin);
        marginsChanged(s);
        break;
      case 'M': if (p.value >= 0) s.rightMargin = std::max(clampPlace((p.value + 1) * real(s.hmi)), s.leftMargin); break;
      case 'G': pageSide(s, whole(p.value)); break;
      default: break;
    }
  } else if (c.group == 'p' && c.kind == '*') {  // ESC *p
    const double unit = static_cast<double>(s.unitsPerPclUnit);
    if (p.letter == 'X') moveTo(s, p.sign ? place(s.x, p, unit) : place(0, p, unit), s.y);
    if (p.letter == 'Y') moveTo(s, s.x, p.sign ? place(s.y, p, unit) : s.topMargin + place(0, p, unit));
  }
}

void spacingCommand(PclState& s, const Param& p) {  // ESC &k
  const int n = whole(p.value);
  if (p.letter == 'H' && p.value >= 0 && p.value * 60 <= real(kLimit)) s.hmi = std::lround(p.value * 60);
  if (p.letter == 'G' && n >= 0 && n <= 3) s.lineTermination = n;
  if (p.letter == 'S') {  // pitch mode: 10, 16.67 or 12
    font(s).pitchHundredths = n == 2 ? 1667 : n == 4 ? 1200 : 1000;
    fontChanged(s);
  }
}

void macroCommand(PclState& s, const Param& p) {  // ESC &f
  const int n = whole(p.value);
  if (p.letter == 'S') {
    if (n == 0 && s.stack.size() < kMaxStack * 2) {
      s.stack.push_back(s.x);
      s.stack.push_back(s.y);
    } else if (n == 1 && s.stack.size() >= 2) {
      moveTo(s, s.stack[s.stack.size() - 2], s.stack.back());
      s.stack.resize(s.stack.size() - 2);
    }
  } else if (p.letter == 'X' && n == 0) {
    s.mode = kModeMacro;  // a macro's definition: kept by the printer, not printed
  }
}

void rasterCommand(PclState& s, const Command& c, const Param& p) {  // ESC *t, ESC *r, ESC *b
  const int n = whole(p.value);
  if (c.group == 't' && p.letter == 'R') {
    if (!s.raster.active && (n == 75 || n == 100 || n == 150 || n == 200 || n == 300 || n == 600))
      s.raster.resolution = n;
  } else if (c.group == 'r') {
    switch (p.letter) {
      case 'A': startRaster(s, n == 1 || n == 3); break;
      case 'B': case 'C': finishRaster(s); break;
      case 'S': if (!s.raster.active && n >= 0) s.raster.sourceWidth = std::min(long(n), kMaxRowBytes * 8); break;
      case 'T': if (!s.raster.active && n >= 0) s.raster.sourceHeight = n; break;
      default: break;
    }
  } else if (c.group == 'b') {
    if (p.letter == 'M' && n >= 0 && n <= 3) s.raster.compression = n;
    if (p.letter == 'Y') rasterSkip(s, n);
  }
}

void rectangleCommand(PclState& s, const Param& p) {  // ESC *c
  const double unit = static_cast<double>(s.unitsPerPclUnit), decipoint = kUnitsPerInch / 720.0;
  switch (p.letter) {
    case 'A': s.rectWidth = clampPlace(p.value * unit); break;
    case 'B': s.rectHeight = clampPlace(p.value * unit); break;
    case 'H': s.rectWidth = clampPlace(p.value * decipoint); break;
    case 'V': s.rectHeight = clampPlace(p.value * decipoint); break;
    case 'G': s.areaFill = whole(p.value); break;
    case 'P': fillRectangle(s, whole(p.value)); break;
    default: break;
  }
}

void languageCommand(PclState& s, const Param& p) {  // ESC %
  if (p.letter == 'X') {  // the universal exit: PJL may follow
    reset(s);
    s.mode = kModePjl;
  } else if (p.letter == 'B') {
    flushRun(s);
    s.mode = kModeHpgl;
  }
}

void obeyParam(PclState& s, const Command& c, const Param& p) {
  const int n = whole(p.value);
  const unsigned char kind = c.kind, group = c.group;
  if (kind == '&' && group == 'l') return pageCommand(s, p);
  if ((kind == '&' && group == 'a') || (kind == '*' && group == 'p')) return cursorCommand(s, c, p);
  if (kind == '&' && group == 'k') return spacingCommand(s, p);
  if ((kind == '(' || kind == ')') && group == 's') {
    fontParameter(s.fonts[kind == ')' ? 1 : 0], p);
    fontChanged(s);
    return;
  }
  if ((kind == '(' || kind == ')') && group == 0) {
    symbolSet(s.fonts[kind == ')' ? 1 : 0], p);
    fontChanged(s);
    return;
  }
  if (kind == '&' && group == 'd') {
    flushRun(s);
    s.underline = p.letter == 'D';
    return;
  }
  if (kind == '&' && group == 'f') return macroCommand(s, p);
  if (kind == '&' && group == 'u' && p.letter == 'D') {
    if (p.value > 0 && kUnitsPerInch % n == 0) s.unitsPerPclUnit = kUnitsPerInch / n;
    return;
  }
  if (kind == '*' && (group == 't' || group == 'r' || group == 'b')) return rasterCommand(s, c, p);
  if (kind == '*' && group == 'c') return rectangleCommand(s, p);
  if (kind == '%' && group == 0) languageCommand(s, p);
}

// Data announced by a command, held whole in [data, data + size).
void obeyData(PclState& s, const Command& c, const unsigned char* data, std::size_t size) {
  const Param& p = c.params[c.count - 1];
  if (c.kind == '*' && c.group == 'b' && p.letter == 'W') return rasterRow(s, data, size);
  if (c.kind == '&' && c.group == 'p' && p.letter == 'X')
    for (std::size_t i = 0; i < size; ++i) printCharacter(s, data[i]);
}

bool holdsData(const Command& c) {
  const Param& p = c.params[c.count - 1];
  return (c.kind == '*' && c.group == 'b' && p.letter == 'W') || (c.kind == '&' && c.group == 'p' && p.letter == 'X');
}

void obey(PclState& s, const Command& c) {
  if (c.twoChar) {
    switch (c.kind) {
      case 'E': reset(s); break;
      case '=': flushRun(s); s.y = clampPlace(real(s.y) + real(s.vmi / 2)); break;
      case '9': s.leftMargin = 0; s.rightMargin = s.pageWidth; break;
      default: break;  // display functions and the rest: nothing on paper
    }
    return;
  }
  for (std::size_t i = 0; i < c.count; ++i)
    if (!(c.hasData && i + 1 == c.count)) obeyParam(s, c, c.params[i]);
}

// A command seen while passing over HP-GL/2 or a macro: true when it ends that.
bool endsPassing(PclState& s, const Command& c) {
  if (c.twoChar && c.kind == 'E' && s.mode == kModeHpgl) {
    s.mode = kModePcl;
    reset(s);
    return true;
  }
  for (std::size_t i = 0; i < c.count; ++i) {
    const Param& p = c.params[i];
    if (c.kind == '%' && c.group == 0 && (p.letter == 'X' || (p.letter == 'A' && s.mode == kModeHpgl))) {
      s.mode = kModePcl;
      if (p.letter == 'X') obeyParam(s, c, p);
      return true;
    }
    if (s.mode == kModeMacro && c.kind == '&' && c.group == 'f' && p.letter == 'X' && whole(p.value) == 1) {
      s.mode = kModePcl;
      return true;
    }
  }
  return false;
}

}  // namespace

DrawPaper pclPaper() {
  DrawPaper paper;
  paper.unitsPerInch = kPclUnitsPerInch;
  paper.paperInset = static_cast<int>(kBorder);
  return paper;
}

void beginPcl(PclState& state) {
  state = PclState();
  reset(state);
  state.out.clear();
}

// A byte where PJL may stand (after the universal exit): true when it is
// part of a PJL line or a blank between them, which are passed over;
// anything else goes back to PCL.
bool passPjl(PclState& s, unsigned char c) {
  if (s.mode != kModePjl && s.mode != kModePjlLine) return false;
  if (s.mode == kModePjlLine || c == '@') {
    s.mode = c == kLineFeed ? kModePjl : kModePjlLine;
    return true;
  }
  if (c == kCarriageReturn || c == kLineFeed || c == ' ') return true;
  s.mode = kModePcl;
  return false;
}

// A command that announces data, read from data[0] of the `size` bytes
// held. Data that PCL draws is obeyed once it is held whole (transparent
// print data is printed as it comes, piece by piece); any other data is
// passed over. Returns the bytes used; 0 with `wanted` set when the data
// must be held first.
std::size_t takeDataCommand(PclState& s, const Command& command, const unsigned char* data, std::size_t size,
                            bool endOfData) {
  const Param& p = command.params[command.count - 1];
  const std::uint64_t length = p.value > 0 ? static_cast<std::uint64_t>(p.value) : 0;
  if (s.mode == kModePcl && holdsData(command) && length <= kMaxPclData) {
    const std::size_t whole = command.length + static_cast<std::size_t>(length);
    if (size < whole && !endOfData) {
      s.wanted = whole;
      return 0;
    }
    obey(s, command);
    if (command.kind == '&') {
      s.transparent = length;
      return command.length;
    }
    const std::size_t got = std::min(whole, size) - command.length;
    obeyData(s, command, data + command.length, got);
    return command.length + got;
  }
  if (s.mode == kModePcl) obey(s, command);
  s.skip = length;
  return command.length;
}

std::size_t interpretPcl(PclState& s, const unsigned char* data, std::size_t size, bool endOfData) {
  s.wanted = 0;
  std::size_t at = 0;
  while (at < size && s.outBytes < kMaxHeldBits) {
    if (s.skip > 0) {
      at += passSkipped(s.skip, size - at);
      continue;
    }
    if (s.transparent > 0) {
      printCharacter(s, data[at++]);
      --s.transparent;
      continue;
    }
    const unsigned char c = data[at];
    if (passPjl(s, c)) {
      ++at;
      continue;
    }
    if (c != kEsc) {
      if (s.mode != kModePcl) {
        const void* next = std::memchr(data + at, kEsc, size - at);
        at = next == nullptr ? size : static_cast<std::size_t>(static_cast<const unsigned char*>(next) - data);
        continue;
      }
      if (c >= 0x20 && c != 0x7F) printCharacter(s, c);
      else control(s, c);
      ++at;
      continue;
    }
    Command command;
    if (!readCommand(data + at, size - at, endOfData, command)) {
      s.wanted = size - at + 1;
      break;
    }
    if (command.hasData) {
      at += takeDataCommand(s, command, data + at, size - at, endOfData);
      if (s.wanted != 0) break;
      continue;
    }
    at += command.length;
    if (s.mode == kModePcl) obey(s, command);
    else endsPassing(s, command);
  }
  return at;
}

void finishPcl(PclState& state) {
  flushRun(state);
  finishRaster(state);
  screenLine(state);
}

std::vector<DrawOp> takePclOps(PclState& state) {
  std::vector<DrawOp> ops;
  ops.swap(state.out);
  state.outBytes = 0;
  return ops;
}

// --- PCL 5 in the list of printer languages (lang/language.h) ---------------

namespace {

PclState& pclOf(void* state) { return *static_cast<PclState*>(state); }

bool recognisesPcl(const PrintoutProbe& probe) { return probe.laser; }

// A LaserJet's page is its own: nothing of the slot's settings changes it.
void* beginPclLanguage(const LanguageSettings&) {
  PclState* state = new PclState;
  beginPcl(*state);
  return state;
}

std::size_t feedPcl(void* state, const unsigned char* data, std::size_t size, bool endOfData, std::size_t* wanted) {
  const std::size_t used = interpretPcl(pclOf(state), data, size, endOfData);
  *wanted = pclOf(state).wanted;
  return used;
}

std::vector<DrawOp> takePclLanguageOps(void* state) { return takePclOps(pclOf(state)); }
void endPcl(void* state) { finishPcl(pclOf(state)); }
void discardPcl(void* state) { delete static_cast<PclState*>(state); }

}  // namespace

extern const PrinterLanguage kPclLanguage = {"pcl", recognisesPcl, pclPaper, true,
                                             beginPclLanguage, feedPcl, takePclLanguageOps, endPcl,
                                             nullptr, discardPcl};
