#include "lang/escpos.h"

#include <algorithm>

#include "lang/bytes.h"
#include "lang/escpos_layout.h"
#include "lang/language.h"
#include "lang/scan.h"

namespace {

const int kDefaultLineSpacing = 34;    // 1/6 inch at 203 dpi
const int kDefaultTabStop = 8 * kFontAWidth;
const int kMaxTabStops = 32;
const int kMaxPosition = 1 << 30;      // feeds stop growing here, so no sum overflows
const std::size_t kMaxLineItems = 1024;  // a line holding more is printed

// The commands, their bytes packed as the scanner names them.
const std::uint32_t kEscReset = 0x1B40;          // ESC @
const std::uint32_t kEscMode = 0x1B21;           // ESC ! n
const std::uint32_t kEscSpacing = 0x1B20;        // ESC SP n
const std::uint32_t kEscPosition = 0x1B24;       // ESC $ nL nH
const std::uint32_t kEscBitImage = 0x1B2A;       // ESC * m nL nH d...
const std::uint32_t kEscUnderline = 0x1B2D;      // ESC - n
const std::uint32_t kEscSpacingDefault = 0x1B32; // ESC 2
const std::uint32_t kEscLineSpacing = 0x1B33;    // ESC 3 n
const std::uint32_t kEscTabStops = 0x1B44;       // ESC D n1 ... NUL
const std::uint32_t kEscEmphasis = 0x1B45;       // ESC E n
const std::uint32_t kEscDoubleStrike = 0x1B47;   // ESC G n
const std::uint32_t kEscFeedDots = 0x1B4A;       // ESC J n
const std::uint32_t kEscFont = 0x1B4D;           // ESC M n
const std::uint32_t kEscRelative = 0x1B5C;       // ESC \ nL nH
const std::uint32_t kEscJustify = 0x1B61;        // ESC a n
const std::uint32_t kEscFeedLines = 0x1B64;      // ESC d n
const std::uint32_t kEscCutFull = 0x1B69;        // ESC i
const std::uint32_t kEscCutPartial = 0x1B6D;     // ESC m
const std::uint32_t kEscCodeTable = 0x1B74;      // ESC t n
const std::uint32_t kGsSize = 0x1D21;            // GS ! n
const std::uint32_t kGsBarText = 0x1D48;         // GS H n
const std::uint32_t kGsBarFont = 0x1D66;         // GS f n
const std::uint32_t kGsBarHeight = 0x1D68;       // GS h n
const std::uint32_t kGsBarCode = 0x1D6B;         // GS k m d... NUL, or GS k m n d...
const std::uint32_t kGsBarWidth = 0x1D77;        // GS w n
const std::uint32_t kGsGraphics = 0x1D284C;      // GS ( L pL pH m fn ...
const std::uint32_t kGsSymbol = 0x1D286B;        // GS ( k pL pH cn fn ...
const std::uint32_t kGsGraphicsLong = 0x1D384C;  // GS 8 L p1 p2 p3 p4 m fn ...
const std::uint32_t kGsLeftMargin = 0x1D4C;      // GS L nL nH
const std::uint32_t kGsCut = 0x1D56;             // GS V m [n]
const std::uint32_t kGsAreaWidth = 0x1D57;       // GS W nL nH
const std::uint32_t kGsRaster = 0x1D7630;        // GS v 0 m xL xH yL yH d...
const std::uint32_t kEscPulse = 0x1B70;          // ESC p m t1 t2
const std::uint32_t kDlePulse = 0x101401;        // DLE DC4 1 m t

int cellWidth(DrawFont font) { return font == kDrawFontA ? kFontAWidth : kFontBWidth; }
int cellHeight(DrawFont font) { return font == kDrawFontA ? kFontAHeight : kFontBHeight; }

int characterAdvance(const ReceiptStyle& style) { return (cellWidth(style.font) + style.spacing) * style.widthScale; }

}  // namespace

bool receiptBatchFull(const ReceiptState& state) {
  return state.out.ops.size() >= kMaxReceiptOps || state.imageBytes >= kMaxReceiptImageBytes / 2;
}

void emitReceiptOp(ReceiptState& state, DrawOp op) {
  state.out.ops.push_back(std::move(op));
  state.pageUsed = true;
}

namespace {

void emit(ReceiptState& state, DrawOp op) { emitReceiptOp(state, std::move(op)); }

// The screen's line of a printed line: its runs' text, a blank between runs
// that stand apart.
void emitScreenLine(ReceiptState& state) {
  DrawOp line;
  line.kind = kDrawScreenLine;
  bool any = false;
  int end = 0;
  for (const DrawOp& op : state.line) {
    if (op.kind != kDrawText) continue;
    if (any && op.x > end) line.text += ' ';
    line.text += op.text;
    end = op.x + op.width;
    any = true;
  }
  if (any) state.out.ops.push_back(std::move(line));
}

}  // namespace

int justifiedOffset(const ReceiptState& state, int width) {
  const int free = std::max(0, state.areaWidth - width);
  if (state.justification == kJustifyCentre) return state.leftMargin + free / 2;
  if (state.justification == kJustifyRight) return state.leftMargin + free;
  return state.leftMargin;
}

// Prints the line buffer and feeds at least `feed` dots, or the line's
// height where that is more: tall characters push the next line down.
void printLine(ReceiptState& state, int feed) {
  // The line's extent, not the print position: ESC $ may have moved back.
  int extent = state.lineX;
  for (const DrawOp& op : state.line) extent = std::max(extent, op.x + op.width);
  const int offset = justifiedOffset(state, extent);
  emitScreenLine(state);
  for (DrawOp& op : state.line) {
    op.x += offset;
    op.y = state.y + state.lineHeight - op.height;  // items share the line's bottom
    emit(state, std::move(op));
  }
  state.y = addCapped(state.y, std::max(feed, state.lineHeight), kMaxPosition);
  state.line.clear();
  state.lineX = 0;
  state.lineHeight = 0;
}

namespace {

bool lineEmpty(const ReceiptState& state) { return state.line.empty() && state.lineX == 0; }


void addCharacter(ReceiptState& state, unsigned char byte) {
  const ReceiptStyle& style = state.style;
  const int advance = characterAdvance(style);
  if (state.lineX + advance > state.areaWidth && !lineEmpty(state)) printLine(state, state.lineSpacing);
  const int height = cellHeight(style.font) * style.heightScale;
  const bool bold = style.emphasized || style.doubleStrike;
  if (!state.line.empty()) {
    DrawOp& last = state.line.back();
    if (last.kind == kDrawText && last.x + last.width == state.lineX && last.font == style.font &&
        last.bold == bold && last.underline == style.underline && last.widthScale == style.widthScale &&
        last.heightScale == style.heightScale && last.advance == advance && last.codePage == style.codePage) {
      last.text += static_cast<char>(byte);
      last.width += advance;
      state.lineX += advance;
      return;
    }
  }
  DrawOp op;
  op.kind = kDrawText;
  op.width = advance;
  op.height = height;
  op.anchor = kAnchorBottom;
  op.em = cellHeight(style.font) * style.heightScale * kReceiptEmPerCell;
  op.glyphWidth = cellWidth(style.font) * style.widthScale;
  op.text.assign(1, static_cast<char>(byte));
  op.codePage = style.codePage;
  op.font = style.font;
  op.bold = bold;
  op.underline = style.underline;
  op.widthScale = style.widthScale;
  op.heightScale = style.heightScale;
  op.advance = advance;
  placeInReceiptLine(state, std::move(op));
}

void moveTo(ReceiptState& state, int x) {
  if (x >= 0 && x <= state.areaWidth) state.lineX = x;
}

void nextTab(ReceiptState& state) {
  if (!state.customTabs) {
    moveTo(state, (state.lineX / kDefaultTabStop + 1) * kDefaultTabStop);
    return;
  }
  for (int stop : state.tabStops) {
    if (stop > state.lineX) {
      moveTo(state, stop);
      return;
    }
  }
}


void cutPaper(ReceiptState& state, int feed) {
  finishReceiptLine(state);
  state.y = addCapped(state.y, feed, kMaxPosition);
  if (state.pageUsed) {
    DrawOp end;
    end.kind = kDrawPageEnd;
    end.height = state.y;
    state.out.ops.push_back(end);
  }
  state.y = 0;
  state.pageUsed = false;
}

void resetPrinter(ReceiptState& state) {
  // A line that was never fed is printed rather than thrown away, as the
  // printer would: a receipt's last line is worth more than faithfulness.
  finishReceiptLine(state);
  state.style = ReceiptStyle();
  state.style.codePage = state.defaultCodePage;
  state.justification = kJustifyLeft;
  state.lineSpacing = kDefaultLineSpacing;
  state.tabStops.clear();
  state.customTabs = false;
  state.leftMargin = 0;
  state.areaWidth = state.paperWidth;
  state.stored.clear();
  state.storedWidth = state.storedHeight = 0;
  state.barModule = 3;
  state.barHeight = 162;
  state.barText = 0;
  state.barFont = kDrawFontA;
}

int codePageOf(unsigned table) {
  switch (table) {
    case 0: return 437;
    case 2: return 850;
    case 3: return 860;
    case 4: return 863;
    case 5: return 865;
    case 16: return 1252;
    case 17: return 866;
    case 18: return 852;
    case 19: return 858;
    default: return 0;
  }
}

void setTabStops(ReceiptState& state, const ReceiptCommand& command) {
  state.tabStops.clear();
  state.customTabs = true;
  const int width = characterAdvance(state.style);
  int last = 0;
  for (std::size_t i = command.header; i < command.length && command.bytes[i] != 0; ++i) {
    const int column = command.bytes[i];
    if (column <= last || static_cast<int>(state.tabStops.size()) >= kMaxTabStops) break;
    state.tabStops.push_back(column * width);
    last = column;
  }
}

void setMargins(ReceiptState& state, int margin, int width) {
  state.leftMargin = std::min(margin, state.paperWidth - kFontAWidth);
  state.areaWidth = std::max(kFontAWidth, std::min(width, state.paperWidth - state.leftMargin));
}

// How many header bytes each command handled here needs before it means
// anything; a command cut short by the end of the data is ignored.
std::size_t headerNeeded(std::uint32_t id) {
  switch (id) {
    case kEscReset: case kEscSpacingDefault: case kEscCutFull: case kEscCutPartial: case kEscTabStops: return 2;
    case kEscPosition: case kEscRelative: case kGsLeftMargin: case kGsAreaWidth: return 4;
    case kEscBitImage: case kGsGraphics: case kGsSymbol: return 5;
    case kGsGraphicsLong: return 7;
    case kGsRaster: return 8;
    case kEscPulse: case kDlePulse: return 5;
    default: return 3;
  }
}

// The commands of the characters' style, ESC or GS `id` with its first
// parameter `n`; false for any other command.
bool setCharacterStyle(ReceiptState& state, std::uint32_t id, unsigned n) {
  ReceiptStyle& style = state.style;
  switch (id) {
    case kEscMode:
      style.font = n & 1 ? kDrawFontB : kDrawFontA;
      style.emphasized = (n & 0x08) != 0;
      style.heightScale = n & 0x10 ? 2 : 1;
      style.widthScale = n & 0x20 ? 2 : 1;
      style.underline = n & 0x80 ? 1 : 0;
      break;
    case kEscSpacing: style.spacing = static_cast<int>(n); break;
    case kEscUnderline:
      if (n <= 2 || (n >= 48 && n <= 50)) style.underline = static_cast<int>(n % 48);
      break;
    case kEscEmphasis: style.emphasized = (n & 1) != 0; break;
    case kEscDoubleStrike: style.doubleStrike = (n & 1) != 0; break;
    case kEscFont:
      if (n <= 2 || (n >= 48 && n <= 50)) style.font = n % 48 == 0 ? kDrawFontA : kDrawFontB;
      break;
    case kEscCodeTable:
      if (n == 0) style.codePage = state.defaultCodePage;
      else if (codePageOf(n) != 0) style.codePage = codePageOf(n);
      break;
    case kGsSize:
      style.widthScale = static_cast<int>(n >> 4 & 7) + 1;
      style.heightScale = static_cast<int>(n & 7) + 1;
      break;
    default: return false;
  }
  return true;
}

// How bar codes print: GS H, GS f, GS h and GS w with their parameter `n`;
// false for any other command.
bool setBarCodeStyle(ReceiptState& state, std::uint32_t id, unsigned n) {
  switch (id) {
    case kGsBarText:
      if (n <= 3 || (n >= 48 && n <= 51)) state.barText = static_cast<int>(n % 48);
      break;
    case kGsBarFont:
      if (n <= 1 || n == 48 || n == 49) state.barFont = n % 48 == 0 ? kDrawFontA : kDrawFontB;
      break;
    case kGsBarHeight:
      if (n >= 1) state.barHeight = static_cast<int>(n);
      break;
    case kGsBarWidth:
      if (n >= 2 && n <= 6) state.barModule = static_cast<int>(n);
      break;
    default: return false;
  }
  return true;
}

void obey(ReceiptState& state, const ReceiptCommand& command) {
  if (command.header < headerNeeded(command.id)) return;
  const unsigned n = command.at(2);
  if (setCharacterStyle(state, command.id, n) || setBarCodeStyle(state, command.id, n)) return;
  switch (command.id) {
    case kEscReset: resetPrinter(state); break;
    case kEscPosition: moveTo(state, static_cast<int>(command.word(2))); break;
    case kEscRelative: {
      const int step = static_cast<std::int16_t>(command.word(2));
      moveTo(state, state.lineX + step);
      break;
    }
    case kEscBitImage: layOutBitImage(state, command); break;
    case kEscSpacingDefault: state.lineSpacing = kDefaultLineSpacing; break;
    case kEscLineSpacing: state.lineSpacing = static_cast<int>(n); break;
    case kEscTabStops: setTabStops(state, command); break;
    case kEscFeedDots: printLine(state, static_cast<int>(n)); break;
    case kEscJustify:
      // As on the printer, only at the start of a line.
      if (lineEmpty(state) && (n <= 2 || (n >= 48 && n <= 50)))
        state.justification = static_cast<ReceiptJustification>(n % 48);
      break;
    case kEscFeedLines: printLine(state, static_cast<int>(n) * state.lineSpacing); break;
    case kEscCutFull: case kEscCutPartial:
      cutPaper(state, 0);
      keepPrinterAction(state, kActionCut, command.bytes, command.length);
      break;
    case kGsRaster: layOutRasterImage(state, command); break;
    case kGsGraphics: case kGsGraphicsLong: layOutGraphics(state, command); break;
    case kGsSymbol: layOutSymbol(state, command); break;
    case kGsBarCode: layOutBarCode(state, command); break;
    case kGsLeftMargin:
      if (lineEmpty(state)) setMargins(state, static_cast<int>(command.word(2)), state.areaWidth);
      break;
    case kGsAreaWidth:
      if (lineEmpty(state)) setMargins(state, state.leftMargin, static_cast<int>(command.word(2)));
      break;
    case kGsCut:
      // m 65, 66, 97, 98, 103, 104 feed n dots first.
      cutPaper(state, command.header >= 4 ? static_cast<int>(command.at(3)) : 0);
      keepPrinterAction(state, kActionCut, command.bytes, command.length);
      break;
    case kEscPulse: case kDlePulse: keepPrinterAction(state, kActionDrawer, command.bytes, command.length); break;
    default: break;  // NV graphics, settings: nothing to draw
  }
}

}  // namespace

// Before a command that prints on its own (raster images, stored graphics,
// bar codes and 2D codes, the cut): a line that has not been fed yet is
// printed first.
void finishReceiptLine(ReceiptState& state) {
  if (!lineEmpty(state)) printLine(state, state.lineSpacing);
}

void keepPrinterAction(ReceiptState& state, PrinterActionKind kind, const unsigned char* bytes, std::size_t size) {
  if (state.actions.size() >= kMaxPrinterActions) return;
  PrinterAction action;
  action.kind = kind;
  action.bytes.assign(reinterpret_cast<const char*>(bytes), size);
  state.actions.push_back(std::move(action));
}

void placeInReceiptLine(ReceiptState& state, DrawOp op) {
  // ESC $ and ESC \ can step back without end: such a line is printed.
  if (state.line.size() >= kMaxLineItems) printLine(state, state.lineSpacing);
  op.x = state.lineX;
  state.lineX += op.width;
  state.lineHeight = std::max(state.lineHeight, op.height);
  state.line.push_back(std::move(op));
}

void printReceiptBlock(ReceiptState& state, DrawOp op, int height) {
  if (op.kind == kDrawImage) {
    op.x = justifiedOffset(state, op.width);
    op.y = state.y;
    emit(state, std::move(op));
  }
  state.y = addCapped(state.y, height, kMaxPosition);
}

void beginReceipt(ReceiptState& state, const ReceiptSettings& settings) {
  state = ReceiptState();
  state.paperWidth = settings.paperWidthMm == 58 ? kReceiptWidth58 : kReceiptWidth80;
  state.defaultCodePage = settings.codePage > 0 ? settings.codePage : 437;
  state.style.codePage = state.defaultCodePage;
  state.areaWidth = state.paperWidth;
  state.lineSpacing = kDefaultLineSpacing;
  state.encodeSymbol = settings.encodeSymbol;
}

std::size_t layOutReceipt(ReceiptState& state, const unsigned char* data, std::size_t size, bool endOfData) {
  state.wanted = 0;
  std::size_t at = passSkipped(state.skip, size);
  while (at < size && !receiptBatchFull(state)) {
    const unsigned char byte = data[at];
    if (byte >= 0x20) {
      addCharacter(state, byte);
      ++at;
      continue;
    }
    const std::size_t held = size - at;
    if (byte == kCarriageReturn && held == 1 && !endOfData) {
      state.wanted = 2;  // is it CR LF?
      return at;
    }
    ControlScan scan;
    beginControlScan(scan, kEscPos);
    // A reader that holds the most it may hold lets the command end there.
    const bool cutHere = endOfData || held >= kMaxHeldCommand;
    ControlKind kind = scanControl(scan, data + at, held, cutHere);
    if (kind == kControlNeedMore) {
      state.wanted = controlBytesWanted(scan, held, kMaxHeldCommand);
      return at;
    }
    if (kind == kControlKeep || kind == kControlDrop) {
      if (byte == kLineFeed) {
        printLine(state, state.lineSpacing);
      } else if (byte == kCarriageReturn) {
        // CR LF feeds once; a CR alone feeds as a printer set to add the
        // line feed itself does.
        if (held < 2 || data[at + 1] != kLineFeed) printLine(state, state.lineSpacing);
      } else if (byte == kTab) {
        nextTab(state);
      } else if (byte == kFormFeed) {
        // Roll paper has no forms: the line is printed, nothing more.
        if (!lineEmpty(state)) printLine(state, state.lineSpacing);
      }
      ++at;
      continue;
    }
    if (scan.length > held && !cutHere) {
      state.wanted = static_cast<std::size_t>(std::min<std::uint64_t>(scan.length, kMaxHeldCommand));
      return at;
    }
    ReceiptCommand command;
    command.id = scan.command;
    command.bytes = data + at;
    command.length = scan.length < held ? static_cast<std::size_t>(scan.length) : held;
    command.header = std::min<std::size_t>(scan.headerLength, command.length);
    obey(state, command);
    at += command.length;
    if (scan.length > held && !endOfData) state.skip = scan.length - held;
  }
  return at;
}

void finishReceipt(ReceiptState& state) {
  // The end of the data ends the receipt, fed or not.
  if (!lineEmpty(state)) printLine(state, 0);
  cutPaper(state, 0);
}

std::vector<DrawOp> takeReceiptOps(ReceiptState& state) {
  std::vector<DrawOp> ops;
  ops.swap(state.out.ops);
  state.imageBytes = 0;
  for (const DrawOp& op : state.line) state.imageBytes += op.bits.size();
  return ops;
}

DrawPaper receiptPaper() {
  DrawPaper paper;
  paper.unitsPerInch = kReceiptDpi;
  paper.roll = true;
  return paper;
}

// --- ESC/POS in the list of printer languages (lang/language.h) -------------

namespace {

ReceiptState& receiptOf(void* state) { return *static_cast<ReceiptState*>(state); }

bool recognisesEscPos(const PrintoutProbe& probe) { return probe.language == kEscPos; }

void* beginReceiptLanguage(const LanguageSettings& settings) {
  ReceiptSettings receipt;
  receipt.paperWidthMm = settings.paperWidthMm;
  receipt.codePage = settings.codePage;
  receipt.encodeSymbol = settings.encodeSymbol;
  ReceiptState* state = new ReceiptState;
  beginReceipt(*state, receipt);
  return state;
}

std::size_t feedReceipt(void* state, const unsigned char* data, std::size_t size, bool endOfData,
                        std::size_t* wanted) {
  const std::size_t used = layOutReceipt(receiptOf(state), data, size, endOfData);
  *wanted = receiptOf(state).wanted;
  return used;
}

std::vector<DrawOp> takeReceiptLanguageOps(void* state) { return takeReceiptOps(receiptOf(state)); }
void endReceipt(void* state) { finishReceipt(receiptOf(state)); }

void tallyReceipt(const void* state, LanguageTally* tally) {
  const ReceiptState& receipt = *static_cast<const ReceiptState*>(state);
  tally->codesRefused += receipt.codesRefused;
  tally->codesTooWide += receipt.codesTooWide;
  tally->actions.insert(tally->actions.end(), receipt.actions.begin(), receipt.actions.end());
}

void discardReceipt(void* state) { delete static_cast<ReceiptState*>(state); }

}  // namespace

// Receipts are drawn in the renderer's own font: a receipt printer has no
// other.
extern const PrinterLanguage kEscPosLanguage = {"escpos", recognisesEscPos, receiptPaper, false,
                                                beginReceiptLanguage, feedReceipt, takeReceiptLanguageOps,
                                                endReceipt, tallyReceipt, discardReceipt};
