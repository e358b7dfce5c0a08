// Receipts in Star Line Mode, the own command set of many receipt printers
// that are not set to ESC/POS: the same receipt as escpos.cpp lays out (203
// dpi, 576 or 384 dots across, Font A 12 x 24 and Font B 9 x 24), drawn on
// the same grid. Each command is read here and given to that layout as the
// ESC/POS command of the same effect, or set in its state directly: the
// lines, feeds, cuts, images, bar codes and QR codes are laid out by one
// piece of code whichever language a receipt came in.
//
// Choices where the printers' documents leave room:
// - ESC 4 / ESC 5 (highlight, white on black on thermal printers) print as
//   bold: the receipt's drawing has no reversed text.
// - ESC K and ESC L are 8-dot bit images of single and double density (the
//   dots of ESC * 0 and ESC * 1); ESC k is a 24-dot image, 3 bytes a column.
// - ESC d's four cuts all cut where the printing ends.
// - ESC GS y D 0 (QR data in segments given by hand) is passed over; ESC GS y
//   D 1 (the data as it is) is what the printers' own tools send.
#include "lang/star.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "lang/bytes.h"
#include "lang/escpos_layout.h"
#include "lang/language.h"

namespace {

const unsigned char kBell = 0x07;
const unsigned char kShiftOut = 0x0E;
const unsigned char kDc4 = 0x14;
const unsigned char kCancel = 0x18;
const unsigned char kSub = 0x1A;
const unsigned char kRs = 0x1E;

const int kStarLineSpacing = 32;  // 4 mm
const int kMaxPosition = 1 << 30;
// A command's terminator (NUL, RS) is looked for this far at a time.
const std::size_t kLookAhead = 256;
// Raster rows gathered before they are laid out as one image.
const int kMaxRasterRows = 1024;

StarState& starOf(void* state) { return *static_cast<StarState*>(state); }

// Gives the layout one ESC/POS command of the same effect.
void layOut(StarState& state, const unsigned char* bytes, std::size_t size) {
  layOutReceipt(state.receipt, bytes, size, true);
}

void layOut(StarState& state, std::initializer_list<unsigned char> bytes) {
  layOut(state, bytes.begin(), bytes.size());
}

// A command with data: the ESC/POS header, then the data as it came.
void layOutWithData(StarState& state, std::initializer_list<unsigned char> header, const unsigned char* data,
                    std::size_t size) {
  std::vector<unsigned char> command(header.begin(), header.end());
  command.insert(command.end(), data, data + size);
  layOut(state, command.data(), command.size());
}

bool lineEmpty(const ReceiptState& receipt) { return receipt.line.empty() && receipt.lineX == 0; }

// A parameter given as a number or as its digit: 0-9 or '0'-'9'; -1 else.
int digitOf(unsigned n) {
  if (n <= 9) return static_cast<int>(n);
  if (n >= '0' && n <= '9') return static_cast<int>(n - '0');
  return -1;
}

// Feeds `dots` after the line, as far as any value goes.
void feedDots(StarState& state, long dots) {
  const int first = static_cast<int>(std::min<long>(dots, 255));
  layOut(state, {kEsc, 'J', static_cast<unsigned char>(first)});
  if (dots > first)
    state.receipt.y = addCapped(state.receipt.y, static_cast<int>(std::min<long>(dots - first, kMaxPosition)),
                                kMaxPosition);
}

// --- The raster mode (ESC * r A ... ESC * r B) -------------------------------

// The rows gathered so far, laid out as one raster image.
void flushRaster(StarState& state) {
  if (state.rasterRows == 0) return;
  const unsigned width = static_cast<unsigned>(state.rasterRowBytes);
  const unsigned rows = static_cast<unsigned>(state.rasterRows);
  layOutWithData(state,
                 {kGs, 'v', '0', 0, static_cast<unsigned char>(width & 0xFF), static_cast<unsigned char>(width >> 8),
                  static_cast<unsigned char>(rows & 0xFF), static_cast<unsigned char>(rows >> 8)},
                 state.raster.data(), state.raster.size());
  state.raster.clear();
  state.rasterRows = 0;
}

// b n1 n2 d1...dk: one row of k bytes, its left dot in the high bit. Rows of
// another width than those gathered start an image of their own; a row
// wider than the paper is cut at it.
void addRasterRow(StarState& state, const unsigned char* data, std::size_t size) {
  const int width = std::min<int>(static_cast<int>(std::min<std::size_t>(size, 1 << 16)),
                                  (state.receipt.areaWidth + 7) / 8);
  if (width <= 0) {
    flushRaster(state);
    feedDots(state, 1);
    return;
  }
  if (state.rasterRows > 0 && (width != state.rasterRowBytes || state.rasterRows >= kMaxRasterRows))
    flushRaster(state);
  state.rasterRowBytes = width;
  state.raster.insert(state.raster.end(), data, data + width);
  ++state.rasterRows;
}

// The number of a raster command's parameter, ASCII digits up to its NUL.
long rasterNumber(const unsigned char* p, std::size_t size) {
  long n = 0;
  for (std::size_t i = 0; i < size && p[i] >= '0' && p[i] <= '9'; ++i) n = std::min<long>(n * 10 + (p[i] - '0'), 1L << 20);
  return n;
}

// ESC * r ...: the raster mode's own commands.
void obeyRasterCommand(StarState& state, const unsigned char* p, std::size_t size) {
  if (size < 4) return;
  switch (p[3]) {
    case 'A': state.rasterMode = true; break;
    case 'B': case 'C':
      flushRaster(state);
      if (p[3] == 'B') state.rasterMode = false;
      break;
    case 'Y':  // move down n dots
      flushRaster(state);
      feedDots(state, rasterNumber(p + 4, size - 4));
      break;
    default: break;  // page length, margins, quality, end-of-transfer settings
  }
}

// --- Bar codes and QR codes --------------------------------------------------

// Star's bar code types, 0-8, as GS k's of function B.
const unsigned char kBarCodeKinds[] = {66, 65, 68, 67, 69, 70, 73, 72, 71};

// CODE128 data of 7-bit characters in the code sets GS k reads: code set B,
// A for control characters, and "{" doubled.
std::string code128Of(const unsigned char* data, std::size_t size) {
  std::string raw = "{B";
  char set = 'B';
  for (std::size_t i = 0; i < size; ++i) {
    const unsigned char c = data[i];
    const char needed = c < 32 ? 'A' : (c >= 96 ? 'B' : set);
    if (needed != set) {
      raw += '{';
      raw += needed;
      set = needed;
    }
    if (c == '{') raw += '{';
    raw += static_cast<char>(c);
  }
  return raw;
}

// ESC b n1 n2 n3 n4 d1...dk RS: type, text below and line feed, module
// width, height in dots.
void layOutStarBarCode(StarState& state, const unsigned char* p, std::size_t size) {
  if (size < 6) return;
  const int kind = digitOf(p[2]), text = digitOf(p[3]), mode = digitOf(p[4]);
  const unsigned height = p[5];
  if (kind < 0 || kind > 8 || text < 1 || text > 4 || mode < 1 || height == 0) return;
  std::size_t end = size;
  if (end > 6 && p[end - 1] == kRs) --end;
  const unsigned char* data = p + 6;
  std::string raw = kind == 6 ? code128Of(data, end - 6) : std::string(reinterpret_cast<const char*>(data), end - 6);
  if (kind == 5 && raw.size() % 2 == 1) raw.insert(raw.begin(), '0');  // ITF: a leading 0 makes pairs
  ReceiptState& receipt = state.receipt;
  receipt.barHeight = static_cast<int>(height);
  receipt.barText = text % 2 == 0 ? 2 : 0;
  // Modes 1-3 give the narrowest bar 2, 3 or 4 dots; the wide-to-narrow
  // modes 4-9 of CODE39, ITF and NW-7 repeat the three.
  receipt.barModule = (mode - 1) % 3 + 2;
  if (raw.size() > 255) {
    finishReceiptLine(receipt);
    ++receipt.codesRefused;
  } else {
    layOutWithData(state, {kGs, 'k', kBarCodeKinds[kind], static_cast<unsigned char>(raw.size())},
                   reinterpret_cast<const unsigned char*>(raw.data()), raw.size());
  }
  if (text <= 2) state.receipt.y = addCapped(state.receipt.y, receipt.lineSpacing, kMaxPosition);
}

// ESC GS y ...: QR codes set up, given data and printed.
void obeyQrCommand(StarState& state, const unsigned char* p, std::size_t size) {
  if (size < 4) return;
  ReceiptState& receipt = state.receipt;
  if (p[3] == 'S' && size >= 6) {
    const unsigned n = p[5];
    if (p[4] == '1' && n <= 3 && receipt.qrLevel != static_cast<int>(n)) {
      receipt.qrLevel = static_cast<int>(n);
      receipt.qrEncoded = false;
    } else if (p[4] == '2' && n >= 1 && n <= 8) {
      receipt.qrModule = static_cast<int>(n);
    }
  } else if (p[3] == 'D' && size >= 8 && p[4] == '1') {
    const std::size_t count = std::min<std::size_t>({static_cast<std::size_t>(p[6] | p[7] << 8), size - 8, 65532});
    layOutWithData(state, {kGs, '(', 'k', static_cast<unsigned char>((count + 3) & 0xFF),
                           static_cast<unsigned char>((count + 3) >> 8), 49, 80, 48},
                   p + 8, count);
  } else if (p[3] == 'P') {
    layOut(state, {kGs, '(', 'k', 3, 0, 49, 81, 48});
  }
}

// --- Text styles and settings ------------------------------------------------

// Code pages of ESC GS t n that a receipt can be drawn in; 0: the slot's.
int starCodePage(unsigned n) {
  static const int kTables[] = {0, 437, 0, 437, 858, 852, 860, 861, 863, 865, 866, 855, 857, 862, 864};
  if (n < sizeof kTables / sizeof kTables[0]) return kTables[n];
  if (n >= 32 && n <= 34) return 1252 - (n == 32 ? 0 : (n == 33 ? 2 : 1));
  return -1;
}

void setScales(StarState& state, int height, int width) {
  if (height >= 1 && height <= 6) state.receipt.style.heightScale = height;
  if (width >= 1 && width <= 6) state.receipt.style.widthScale = width;
}

// The two-byte commands ESC c and ESC's one-parameter commands that only
// set the style; false for any other.
bool setStyle(StarState& state, unsigned command, unsigned n) {
  ReceiptStyle& style = state.receipt.style;
  const int digit = digitOf(n);
  switch (command) {
    case 'E': style.emphasized = true; break;
    case 'F': style.emphasized = false; break;
    case '4': style.doubleStrike = true; break;  // highlight, drawn bold
    case '5': style.doubleStrike = false; break;
    case kShiftOut: style.heightScale = 2; break;
    case kDc4: style.heightScale = 1; break;
    case 'M': style.spacing = 0; break;  // 12-dot pitch
    case 'P': style.spacing = 3; break;  // 15-dot pitch
    case ':': style.spacing = 4; break;  // 16-dot pitch
    case 'g': style.spacing = 2; break;  // 14-dot pitch
    case '-': if (digit == 0 || digit == 1) style.underline = digit; break;
    case 'W': if (digit >= 0 && digit <= 5) setScales(state, 0, digit + 1); break;
    case 'h': if (digit >= 0 && digit <= 5) setScales(state, digit + 1, 0); break;
    case ' ': style.spacing = static_cast<int>(n); break;
    default: return false;
  }
  return true;
}

// Line spacing, feeds, margins and the cut: ESC c n.
void obeyLineCommand(StarState& state, unsigned command, unsigned n) {
  ReceiptState& receipt = state.receipt;
  const int advance = kFontAWidth + receipt.style.spacing;
  switch (command) {
    case '0': receipt.lineSpacing = 24; break;  // 3 mm
    case 'z': if (n <= 1 || n == '0' || n == '1') receipt.lineSpacing = n % 48 == 0 ? 24 : 32; break;
    case 'a': layOut(state, {kEsc, 'd', static_cast<unsigned char>(n)}); break;
    case 'J': feedDots(state, 2L * n); break;  // n / 4 mm
    case 'l': {
      const int margin = static_cast<int>(n) * advance;
      layOut(state, {kGs, 'L', static_cast<unsigned char>(margin & 0xFF), static_cast<unsigned char>(margin >> 8)});
      break;
    }
    case 'Q': {
      const int width = static_cast<int>(n) * advance - receipt.leftMargin;
      if (width > 0)
        layOut(state, {kGs, 'W', static_cast<unsigned char>(width & 0xFF), static_cast<unsigned char>(width >> 8)});
      break;
    }
    case 'd':
      if (digitOf(n) >= 0 && digitOf(n) <= 3) {
        // The layout keeps its GS V; the printer is sent Star's own cut.
        const std::size_t kept = receipt.actions.size();
        layOut(state, {kGs, 'V', 0});
        receipt.actions.resize(kept);
        const unsigned char cut[] = {kEsc, 'd', static_cast<unsigned char>(n)};
        keepPrinterAction(state.receipt, kActionCut, cut, sizeof cut);
      }
      break;
    default: break;
  }
}

// ESC GS c ...: alignment, code pages, print positions, QR codes.
void obeyGroupCommand(StarState& state, const unsigned char* p, std::size_t size) {
  if (size < 4) return;
  const unsigned n = p[3];
  ReceiptState& receipt = state.receipt;
  switch (p[2]) {
    case 'a':
      if (lineEmpty(receipt) && digitOf(n) >= 0 && digitOf(n) <= 2)
        receipt.justification = static_cast<ReceiptJustification>(digitOf(n));
      break;
    case 't': {
      const int codePage = starCodePage(n);
      if (codePage >= 0) receipt.style.codePage = codePage == 0 ? receipt.defaultCodePage : codePage;
      break;
    }
    case 'A': if (size >= 5) layOut(state, {kEsc, '$', p[3], p[4]}); break;
    case 'R': if (size >= 5) layOut(state, {kEsc, '\\', p[3], p[4]}); break;
    case 'y': obeyQrCommand(state, p, size); break;
    default: break;
  }
}

void resetStar(StarState& state) {
  layOut(state, {kEsc, '@'});
  state.receipt.lineSpacing = kStarLineSpacing;
  state.pulseTimes.clear();
}

// ESC K, ESC L, ESC k: a bit image in the line.
void layOutStarImage(StarState& state, const unsigned char* p, std::size_t size) {
  if (size < 4) return;
  const unsigned char mode = p[1] == 'K' ? 0 : (p[1] == 'L' ? 1 : 33);
  layOutWithData(state, {kEsc, '*', mode, p[2], p[3]}, p + 4, size - 4);
}

// ESC and what follows, `size` bytes of it.
void obeyEscape(StarState& state, const unsigned char* p, std::size_t size) {
  const unsigned command = size >= 2 ? p[1] : 0;
  const unsigned n = size >= 3 ? p[2] : 0;
  // A style command with a parameter cut off by the end of the data is
  // left out; the others take none.
  const bool parameter = command == '-' || command == 'W' || command == 'h' || command == ' ';
  if (size >= (parameter ? 3u : 2u) && setStyle(state, command, n)) return;
  switch (command) {
    case '@': resetStar(state); return;
    case kGs: obeyGroupCommand(state, p, size); return;
    case kRs:
      if (size >= 4 && p[2] == 'F' && digitOf(p[3]) >= 0 && digitOf(p[3]) <= 1)
        state.receipt.style.font = digitOf(p[3]) == 0 ? kDrawFontA : kDrawFontB;
      return;
    case 'i': if (size >= 4 && digitOf(p[2]) >= 0 && digitOf(p[3]) >= 0) setScales(state, digitOf(p[2]) + 1, digitOf(p[3]) + 1); return;
    case 'D': layOut(state, p, size); return;  // tab stops, as ESC/POS writes them
    case 'b': layOutStarBarCode(state, p, size); return;
    case 'K': case 'L': case 'k': layOutStarImage(state, p, size); return;
    case '*': if (size >= 3 && p[2] == 'r') obeyRasterCommand(state, p, size); return;
    case kBell:
      if (size >= 4) state.pulseTimes.assign(reinterpret_cast<const char*>(p), 4);
      return;
    default: break;
  }
  if (size >= 3) obeyLineCommand(state, command, n);
}

// --- Command lengths ---------------------------------------------------------

// How long the command at p is (ESC, or a raster row's b): the bytes it
// takes, header and data. 0 when the `held` bytes do not tell yet: *more
// then says how many the next call must hold.
std::uint64_t terminatedLength(const unsigned char* p, std::size_t held, std::size_t from, unsigned char end,
                               std::size_t* more) {
  if (held > from) {
    const void* found = std::memchr(p + from, end, held - from);
    if (found != nullptr) return static_cast<const unsigned char*>(found) - p + 1;
  }
  *more = held + kLookAhead;
  return 0;
}

std::uint64_t counted(const unsigned char* p, std::size_t held, std::size_t header, std::size_t at,
                      std::uint64_t unit, std::size_t* more) {
  if (held < header) {
    *more = header;
    return 0;
  }
  return header + unit * (p[at] | static_cast<std::uint64_t>(p[at + 1]) << 8);
}

std::uint64_t groupLength(const unsigned char* p, std::size_t held, std::size_t* more) {
  if (held < 4) {
    *more = 4;
    return 0;
  }
  switch (p[2]) {
    case 'A': case 'R': return 5;
    case 'y': case 'x':
      if (p[3] == 'S') return p[2] == 'x' && held >= 5 && p[4] == '0' ? 8 : 6;
      if (p[3] == 'D' && p[2] == 'y') {
        if (held < 5) {
          *more = 5;
          return 0;
        }
        return p[4] == '1' ? counted(p, held, 8, 6, 1, more) : counted(p, held, 7, 5, 1, more);
      }
      if (p[3] == 'D') return counted(p, held, 6, 4, 1, more);
      return 4;
    default: return 4;
  }
}

std::uint64_t escapeLength(const unsigned char* p, std::size_t held, std::size_t* more) {
  if (held < 2) {
    *more = 2;
    return 0;
  }
  switch (p[1]) {
    case '@': case 'E': case 'F': case '4': case '5': case '0': case 'M': case 'P': case ':': case 'g':
    case '6': case '7': case kShiftOut: case kDc4:
      return 2;
    case 'i': case kBell: case kRs: return 4;
    case 'D': case 'B': return terminatedLength(p, held, 2, 0, more);
    case 'b': return terminatedLength(p, held, 2, kRs, more);
    case 'K': case 'L': return counted(p, held, 4, 2, 1, more);
    case 'k': return counted(p, held, 4, 2, 3, more);
    case '*':
      if (held < 4) {
        *more = 4;
        return 0;
      }
      if (p[2] != 'r') return 3;
      return p[3] == 'A' || p[3] == 'B' || p[3] == 'C' ? 4 : terminatedLength(p, held, 4, 0, more);
    case kGs: return groupLength(p, held, more);
    case kFormFeed: return 3;
    default: return 3;
  }
}

// --- The interpreter ---------------------------------------------------------

bool isText(unsigned char byte) { return byte >= 0x20 || byte == kLineFeed || byte == kCarriageReturn || byte == kTab; }

// The single control bytes: the drawer, the expanded width, the reset.
void obeyControl(StarState& state, unsigned char byte) {
  switch (byte) {
    case kBell: case kFs: case kSub: {
      // BEL goes with the pulse's times, so that the printer opens the
      // drawer as the printout asked.
      const std::string pulse = (byte == kBell ? state.pulseTimes : std::string()) + static_cast<char>(byte);
      keepPrinterAction(state.receipt, kActionDrawer, reinterpret_cast<const unsigned char*>(pulse.data()),
                        pulse.size());
      break;
    }
    case kShiftOut: state.receipt.style.widthScale = 2; break;
    case kDc4: state.receipt.style.widthScale = 1; break;
    case kCancel: resetStar(state); break;
    case kFormFeed: layOut(state, {kFormFeed}); break;
    default: break;  // upside-down printing, vertical tabs, others: nothing to draw
  }
}

// Interprets the bytes of one command (ESC, or a raster row) at `at`;
// returns the bytes used, 0 when more must be held first.
std::size_t feedCommand(StarState& state, const unsigned char* data, std::size_t at, std::size_t size,
                        bool endOfData) {
  const unsigned char* p = data + at;
  const std::size_t held = size - at;
  const bool row = p[0] == 'b';
  std::size_t more = 0;
  std::uint64_t length = row ? counted(p, held, 3, 1, 1, &more) : escapeLength(p, held, &more);
  const bool cutHere = endOfData || held >= kMaxHeldCommand;
  if (length == 0 || length > held) {
    if (!cutHere) {
      state.wanted = static_cast<std::size_t>(std::min<std::uint64_t>(length == 0 ? more : length, kMaxHeldCommand));
      return 0;
    }
    if (length > held) state.skip = endOfData ? 0 : length - held;
    length = held;
  }
  const std::size_t used = static_cast<std::size_t>(length);
  if (row) addRasterRow(state, p + 3, used > 3 ? used - 3 : 0);
  else obeyEscape(state, p, used);
  return used;
}

}  // namespace

void beginStar(StarState& state, const ReceiptSettings& settings) {
  state = StarState();
  beginReceipt(state.receipt, settings);
  state.receipt.lineSpacing = kStarLineSpacing;
}

std::size_t layOutStar(StarState& state, const unsigned char* data, std::size_t size, bool endOfData) {
  state.wanted = 0;
  std::size_t at = passSkipped(state.skip, size);
  while (at < size && !receiptBatchFull(state.receipt)) {
    const unsigned char byte = data[at];
    if (state.rasterMode && byte != kEsc && byte != 'b') {
      ++at;  // the raster mode prints no text
      continue;
    }
    if (!state.rasterMode && isText(byte)) {
      std::size_t end = at + 1;
      while (end < size && isText(data[end])) ++end;
      // The layout sees a CR at the end of the run as the end of the data
      // when the run ends before the data does: what follows is no LF.
      const std::size_t run = end - at;
      const std::size_t used = layOutReceipt(state.receipt, data + at, run, endOfData || end < size);
      at += used;
      if (used < run) {
        state.wanted = state.receipt.wanted;
        return at;
      }
      continue;
    }
    if (byte != kEsc && byte != 'b') {
      obeyControl(state, byte);
      ++at;
      continue;
    }
    const std::size_t used = feedCommand(state, data, at, size, endOfData);
    if (used == 0) return at;
    at += used;
  }
  return at;
}

void finishStar(StarState& state) {
  flushRaster(state);
  finishReceipt(state.receipt);
}

// --- Star Line Mode in the list of printer languages (lang/language.h) ------

namespace {

bool recognisesStar(const PrintoutProbe& probe) { return probe.star; }

void* beginStarLanguage(const LanguageSettings& settings) {
  ReceiptSettings receipt;
  receipt.paperWidthMm = settings.paperWidthMm;
  receipt.codePage = settings.codePage;
  receipt.encodeSymbol = settings.encodeSymbol;
  StarState* state = new StarState;
  beginStar(*state, receipt);
  return state;
}

std::size_t feedStar(void* state, const unsigned char* data, std::size_t size, bool endOfData, std::size_t* wanted) {
  const std::size_t used = layOutStar(starOf(state), data, size, endOfData);
  *wanted = starOf(state).wanted;
  return used;
}

std::vector<DrawOp> takeStarOps(void* state) { return takeReceiptOps(starOf(state).receipt); }
void endStar(void* state) { finishStar(starOf(state)); }

void tallyStar(const void* state, LanguageTally* tally) {
  const StarState& star = *static_cast<const StarState*>(state);
  tally->codesRefused += star.receipt.codesRefused;
  tally->codesTooWide += star.receipt.codesTooWide;
  tally->actions.insert(tally->actions.end(), star.receipt.actions.begin(), star.receipt.actions.end());
}

void discardStar(void* state) { delete static_cast<StarState*>(state); }

}  // namespace

extern const PrinterLanguage kStarLanguage = {"star", recognisesStar, receiptPaper, false, beginStarLanguage,
                                              feedStar, takeStarOps, endStar, tallyStar, discardStar};
