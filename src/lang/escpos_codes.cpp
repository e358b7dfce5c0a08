// Bar codes (GS k) and two-dimensional codes (GS ( k: QR and PDF417) as the
// receipt printer prints them: the data checked by the printer's own rules,
// encoded by the settings' encoder into modules, and each module drawn as a
// block of printer dots. A code the printer would refuse, or one wider than
// the print area, prints nothing, as on the printer; the state counts it so
// that the console can say so.
#include <algorithm>

#include "lang/bytes.h"
#include "lang/escpos_layout.h"

namespace {

const std::size_t kMaxQrData = 7089;     // the most bytes a QR code holds
const std::size_t kMaxPdfData = 2710;    // the most characters (digits) a PDF417 code holds
const std::size_t kMaxBarData = 255;     // the most a bar code command carries

bool isDigit(unsigned char c) { return c >= '0' && c <= '9'; }

bool allDigits(const std::string& text) {
  return std::all_of(text.begin(), text.end(), [](char c) { return isDigit(static_cast<unsigned char>(c)); });
}

// GS k m: function A (m 0-6, data ended by NUL) or function B (m 65-73,
// data counted).
bool barKind(unsigned m, SymbolKind* kind) {
  static const SymbolKind kKinds[] = {kSymbolUpcA,  kSymbolUpcE,    kSymbolEan13,  kSymbolEan8,   kSymbolCode39,
                                      kSymbolItf,   kSymbolCodabar, kSymbolCode93, kSymbolCode128};
  if (m <= 6) *kind = kKinds[m];
  else if (m >= 65 && m <= 73) *kind = kKinds[m - 65];
  else return false;
  return true;
}

// CODE128 as the printer reads it: the data starts with a code set ({A, {B
// or {C); "{" then names a code set, a shift (S), a function character (1
// to 4) or itself ("{{"). In code set C each byte is a pair of digits
// (0-99). The content is what a scanner reads back: FNC1 within the data is
// the group separator, FNC4 adds 128 to the next character, FNC1 at the
// start and FNC2 and FNC3 carry no characters.
bool readCode128(const std::string& raw, std::string* content) {
  if (raw.size() < 2 || raw[0] != '{' || raw[1] < 'A' || raw[1] > 'C') return false;
  char set = raw[1];
  bool shift = false;
  bool extend = false;
  for (std::size_t i = 2; i < raw.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(raw[i]);
    const char current = shift ? (set == 'A' ? 'B' : 'A') : set;
    if (c == '{') {
      if (i + 1 >= raw.size()) return false;
      const char next = raw[++i];
      if (next == 'A' || next == 'B' || next == 'C') {
        set = next;
        shift = false;
        continue;
      }
      if (next == 'S') {
        if (set == 'C') return false;
        shift = true;
        continue;
      }
      if (next == '1') {
        if (!content->empty()) content->push_back('\x1d');
        continue;
      }
      if (next == '2' || next == '3') continue;
      if (next == '4') {
        if (set == 'C') return false;
        extend = true;
        continue;
      }
      if (next != '{' || current == 'C') return false;
    }
    if (current == 'C') {
      if (c > 99) return false;
      content->push_back(static_cast<char>('0' + c / 10));
      content->push_back(static_cast<char>('0' + c % 10));
    } else {
      if (current == 'A' ? c > 95 : (c < 32 || c > 127)) return false;
      content->push_back(static_cast<char>(extend ? c + 128 : c));
    }
    shift = false;
    extend = false;
  }
  return !content->empty();
}

// UPC-E sent as the UPC-A number it stands for (number system 0 or 1, then
// eleven digits with or without the check digit): its seven digits without
// the check digit, by the zero-suppression rules; false where the number
// has no UPC-E form.
bool suppressZeros(const std::string& upcA, std::string* upcE) {
  const char system = upcA[0];
  const std::string maker = upcA.substr(1, 5), product = upcA.substr(6, 5);
  if (system != '0' && system != '1') return false;
  if (maker.compare(2, 3, "000") == 0 || maker.compare(2, 3, "100") == 0 || maker.compare(2, 3, "200") == 0) {
    if (product.compare(0, 2, "00") != 0) return false;
    *upcE = system + maker.substr(0, 2) + product.substr(2, 3) + maker[2];
  } else if (maker.compare(3, 2, "00") == 0) {
    if (product.compare(0, 3, "000") != 0) return false;
    *upcE = system + maker.substr(0, 3) + product.substr(3, 2) + '3';
  } else if (maker[4] == '0') {
    if (product.compare(0, 4, "0000") != 0) return false;
    *upcE = system + maker.substr(0, 4) + product[4] + '4';
  } else {
    if (product.compare(0, 4, "0000") != 0 || product[4] < '5') return false;
    *upcE = system + maker + product[4];
  }
  return true;
}

// The printer's rules for each symbology's data; the content to encode, or
// false where the printer would refuse it. The printer checks no check
// digit sent with EAN and UPC data: it is left to the encoder, which always
// draws the right one.
bool acceptBarData(SymbolKind kind, const std::string& raw, std::string* content) {
  const std::size_t n = raw.size();
  switch (kind) {
    case kSymbolUpcA: *content = raw.substr(0, 11); return (n == 11 || n == 12) && allDigits(raw);
    case kSymbolUpcE:
      if (!allDigits(raw)) return false;
      if (n == 11 || n == 12) return suppressZeros(raw, content);
      *content = raw.substr(0, 7);
      return n >= 6 && n <= 8 && (n == 6 || raw[0] == '0' || raw[0] == '1');
    case kSymbolEan13: *content = raw.substr(0, 12); return (n == 12 || n == 13) && allDigits(raw);
    case kSymbolEan8: *content = raw.substr(0, 7); return (n == 7 || n == 8) && allDigits(raw);
    case kSymbolItf: *content = raw; return n >= 2 && n % 2 == 0 && allDigits(raw);
    case kSymbolCode39: {
      // The start and stop characters may be sent; the encoder adds its own.
      std::string text = raw;
      if (text.size() >= 2 && text.front() == '*' && text.back() == '*') text = text.substr(1, text.size() - 2);
      for (char c : text) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (!isDigit(u) && !(u >= 'A' && u <= 'Z') && std::string(" $%+-./").find(c) == std::string::npos)
          return false;
      }
      *content = text;
      return !text.empty();
    }
    case kSymbolCodabar: {
      if (n < 3) return false;
      std::string text = raw;
      for (std::size_t i = 0; i < n; ++i) {
        const unsigned char u = static_cast<unsigned char>(text[i]);
        const bool end = i == 0 || i + 1 == n;
        const unsigned char upper = u >= 'a' && u <= 'd' ? static_cast<unsigned char>(u - 32) : u;
        if (end) {
          if (upper < 'A' || upper > 'D') return false;
          text[i] = static_cast<char>(upper);
        } else if (!isDigit(u) && std::string("$+-./:").find(static_cast<char>(u)) == std::string::npos) {
          return false;
        }
      }
      *content = text;
      return true;
    }
    case kSymbolCode93:
      *content = raw;
      return n >= 1 && std::all_of(raw.begin(), raw.end(), [](char c) { return static_cast<unsigned char>(c) < 128; });
    case kSymbolCode128: return readCode128(raw, content);
    default: return false;
  }
}

bool encode(ReceiptState& state, const SymbolRequest& request, SymbolModules& symbol) {
  symbol = SymbolModules();
  if (state.encodeSymbol == nullptr || !state.encodeSymbol(request, symbol)) return false;
  // Whatever the encoder says, the modules must be there.
  return symbol.width > 0 && symbol.rows > 0 && symbol.width <= 4096 && symbol.rows <= 4096 &&
         symbol.modules.size() == static_cast<std::size_t>(symbol.width) * static_cast<std::size_t>(symbol.rows);
}

// A symbol's modules (its data kept with them) as a bitmap at x on the
// receipt, each module `moduleWidth` dots wide and each row `rowHeight` dots
// tall. With `rowsOnce` each row of modules is one row of bits drawn that
// tall (bars, PDF417's rows), else every row of dots is there (QR codes,
// whose modules are as tall as they are wide).
void printModules(ReceiptState& state, const SymbolModules& symbol, const std::string& data, int x,
                  int moduleWidth, int rowHeight, bool rowsOnce) {
  const int width = symbol.width * moduleWidth;
  const int height = symbol.rows * rowHeight;
  const int repeat = rowsOnce ? rowHeight : 1;
  DrawOp op;
  if (fillReceiptImage(state, op, width, height / repeat, [&](int row, unsigned char* out) {
        const std::size_t moduleRow = static_cast<std::size_t>(row * repeat / rowHeight);
        const unsigned char* modules = symbol.modules.data() + moduleRow * static_cast<std::size_t>(symbol.width);
        setReceiptDots(out, width, [&](int column) { return modules[column / moduleWidth] != 0; });
      })) {
    op.height = height;
    op.rowRepeat = repeat;
    op.text = data;
    op.x = x;
    op.y = state.y;
    emitReceiptOp(state, std::move(op));
  }
  state.y = addCapped(state.y, height, 1 << 30);
}

// A bar code's line of text in the GS f font, centred on the bars.
void printBarText(ReceiptState& state, const std::string& text, int barX, int barWidth) {
  if (text.empty()) return;
  const bool fontA = state.barFont == kDrawFontA;
  const int advance = fontA ? kFontAWidth : kFontBWidth;
  const int height = fontA ? kFontAHeight : kFontBHeight;
  const int fits = std::max(1, state.areaWidth / advance);
  DrawOp op;
  op.kind = kDrawText;
  op.text = text.substr(0, static_cast<std::size_t>(fits));
  // The encoder's text is UTF-8 and may hold the data's control characters:
  // only plain ASCII characters are printed, a blank for any other.
  std::replace_if(
      op.text.begin(), op.text.end(),
      [](char c) { return static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) >= 0x7F; }, ' ');
  op.width = advance * static_cast<int>(op.text.size());
  op.height = height;
  op.x = std::max(state.leftMargin, barX + (barWidth - op.width) / 2);
  op.y = state.y;
  op.anchor = kAnchorBottom;
  op.em = height * kReceiptEmPerCell;
  op.glyphWidth = op.advance = advance;
  op.font = state.barFont;
  op.codePage = 437;
  DrawOp screen;
  screen.kind = kDrawScreenLine;
  screen.text = op.text;
  state.out.ops.push_back(std::move(screen));
  emitReceiptOp(state, std::move(op));
  state.y = addCapped(state.y, height, 1 << 30);
}

void printQr(ReceiptState& state) {
  if (!state.qrStored || state.qrData.empty()) return;
  finishReceiptLine(state);
  if (!state.qrEncoded) {
    SymbolRequest request;
    request.kind = kSymbolQr;
    request.data = state.qrData;
    request.errorLevel = state.qrLevel;
    state.qrEncodable = encode(state, request, state.qrSymbol);
    state.qrEncoded = true;
  }
  if (!state.qrEncodable) {
    ++state.codesRefused;
    return;
  }
  const int side = state.qrSymbol.width * state.qrModule;
  if (side > state.areaWidth) {
    ++state.codesTooWide;
    return;
  }
  printModules(state, state.qrSymbol, state.qrData, justifiedOffset(state, side), state.qrModule, state.qrModule,
               false);
}

void printPdf417(ReceiptState& state) {
  if (!state.pdfStored || state.pdfData.empty()) return;
  finishReceiptLine(state);
  SymbolRequest request;
  request.kind = kSymbolPdf417;
  request.data = state.pdfData;
  request.errorLevel = state.pdfLevel;
  request.columns = state.pdfColumns;
  request.rows = state.pdfRows;
  request.truncated = state.pdfTruncated;
  SymbolModules symbol;
  if (!encode(state, request, symbol)) {
    ++state.codesRefused;
    return;
  }
  const int module = state.pdfModule;
  if (symbol.width * module > state.areaWidth && state.pdfColumns == 0) {
    // Columns chosen by the printer fit its paper: as many as fit.
    const int fixed = state.pdfTruncated ? 35 : 69;
    request.columns = std::min(30, (state.areaWidth / module - fixed) / 17);
    if (request.columns >= 1 && !encode(state, request, symbol)) {
      ++state.codesRefused;
      return;
    }
  }
  if (symbol.width * module > state.areaWidth) {
    ++state.codesTooWide;
    return;
  }
  const int width = symbol.width * module;
  printModules(state, symbol, state.pdfData, justifiedOffset(state, width), module, module * state.pdfRowHeight,
               true);
}

// GS ( k cn 48: PDF417.
void pdf417Function(ReceiptState& state, const unsigned char* p, std::size_t size) {
  const unsigned n = size >= 3 ? p[2] : 0;
  switch (p[1]) {
    case 65: if (size >= 3 && n <= 30) state.pdfColumns = static_cast<int>(n); break;
    case 66: if (size >= 3 && (n == 0 || (n >= 3 && n <= 90))) state.pdfRows = static_cast<int>(n); break;
    case 67: if (size >= 3 && n >= 2 && n <= 8) state.pdfModule = static_cast<int>(n); break;
    case 68: if (size >= 3 && n >= 2 && n <= 8) state.pdfRowHeight = static_cast<int>(n); break;
    case 69:  // m 48: a level n 48-56; m 49: a share of the data, chosen by size here
      if (size >= 4 && n == 48 && p[3] >= 48 && p[3] <= 56) state.pdfLevel = p[3] - 48;
      else if (size >= 4 && n == 49 && p[3] >= 1 && p[3] <= 40) state.pdfLevel = -1;
      break;
    case 70: if (size >= 3 && n <= 1) state.pdfTruncated = n == 1; break;
    case 80:
      if (size >= 3) {
        const std::size_t count = std::min(size - 3, kMaxPdfData);
        if (count < size - 3) state.out.limited = true;
        state.pdfData.assign(reinterpret_cast<const char*>(p + 3), count);
        state.pdfStored = true;
      }
      break;
    case 81: printPdf417(state); break;
    default: break;
  }
}

// GS ( k cn 49: QR codes.
void qrFunction(ReceiptState& state, const unsigned char* p, std::size_t size) {
  switch (p[1]) {
    case 67:  // module size in dots
      if (size >= 3 && p[2] >= 1 && p[2] <= 16) state.qrModule = p[2];
      break;
    case 69:  // error correction L, M, Q, H
      if (size >= 3 && p[2] >= 48 && p[2] <= 51 && state.qrLevel != p[2] - 48) {
        state.qrLevel = p[2] - 48;
        state.qrEncoded = false;
      }
      break;
    case 80:  // store the data
      if (size >= 3) {
        const std::size_t count = std::min(size - 3, kMaxQrData);
        if (count < size - 3) state.out.limited = true;
        state.qrData.assign(reinterpret_cast<const char*>(p + 3), count);
        state.qrStored = true;
        state.qrEncoded = false;
      }
      break;
    case 81: printQr(state); break;
    default: break;  // model, size information: nothing to lay out
  }
}

}  // namespace

// GS ( k pL pH cn fn [parameters]: QR codes (cn 49) and PDF417 (cn 48); the
// other 2D codes are skipped.
void layOutSymbol(ReceiptState& state, const ReceiptCommand& command) {
  const unsigned char* p = command.data();
  const std::size_t size = command.dataLength();
  if (size < 2) return;
  if (p[0] == 49) qrFunction(state, p, size);
  else if (p[0] == 48) pdf417Function(state, p, size);
}

// GS k m d1...dk NUL (m 0-6) or GS k m n d1...dn (m 65-73): a bar code on
// lines of its own, placed by ESC a, its text above, below or both (GS H).
void layOutBarCode(ReceiptState& state, const ReceiptCommand& command) {
  const unsigned m = command.at(2);
  SymbolKind kind;
  if (!barKind(m, &kind)) return;  // a symbology the printer does not have: skipped whole, as it would
  std::string raw;
  if (m <= 6) {
    const unsigned char* data = command.data();
    const std::size_t size = command.dataLength();
    const std::size_t end = static_cast<std::size_t>(std::find(data, data + size, 0) - data);
    raw.assign(reinterpret_cast<const char*>(data), end);
  } else {
    if (command.header < 4) return;
    const std::size_t count = std::min<std::size_t>(command.at(3), command.dataLength());
    raw.assign(reinterpret_cast<const char*>(command.data()), count);
  }
  finishReceiptLine(state);
  SymbolRequest request;
  request.kind = kind;
  SymbolModules symbol;
  if (raw.size() > kMaxBarData || !acceptBarData(kind, raw, &request.data) || !encode(state, request, symbol)) {
    ++state.codesRefused;
    return;
  }
  const int width = symbol.width * state.barModule;
  if (width > state.areaWidth) {
    ++state.codesTooWide;
    return;
  }
  const int x = justifiedOffset(state, width);
  if (state.barText & 1) printBarText(state, symbol.text, x, width);
  SymbolModules bars = symbol;
  bars.rows = 1;
  bars.modules.resize(static_cast<std::size_t>(bars.width));
  printModules(state, bars, symbol.text, x, state.barModule, state.barHeight, true);
  if (state.barText & 2) printBarText(state, symbol.text, x, width);
}
