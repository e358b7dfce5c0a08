// Bar codes and 2D codes, which a receipt printer draws itself: what an
// interpreter asks an encoder for, and the modules it gets back. The
// printing layer has the encoder (print/symbols.h).
#pragma once

#include <string>
#include <vector>

// The codes a receipt printer draws itself: the bar codes of GS k and the
// two-dimensional codes of GS ( k.
enum SymbolKind {
  kSymbolUpcA, kSymbolUpcE, kSymbolEan13, kSymbolEan8, kSymbolCode39, kSymbolItf, kSymbolCodabar,
  kSymbolCode93, kSymbolCode128, kSymbolQr, kSymbolPdf417
};

// What to encode, once the printer's own rules have passed the data.
struct SymbolRequest {
  SymbolKind kind = kSymbolCode128;
  // The content: digits, characters or bytes as the symbol holds them (a
  // CODE128's code-set prefixes already read, EAN and UPC digits without
  // their check digit).
  std::string data;
  int errorLevel = 0;       // QR: 0-3 (L to H); PDF417: 0-8, or -1 to choose by size
  int columns = 0;          // PDF417 data columns, 0 to choose
  int rows = 0;             // PDF417 rows, 0 to choose
  bool truncated = false;   // PDF417 without its right row indicators
};

// An encoded symbol: rows of modules (a bar code has one), and the line of
// text a printer prints with a bar code.
struct SymbolModules {
  int width = 0;                       // modules across
  int rows = 0;
  std::vector<unsigned char> modules;  // rows x width, row by row, 1 = dark
  std::string text;
};

// Encodes a symbol; false when the encoder refuses the data.
typedef bool (*SymbolEncoder)(const SymbolRequest& request, SymbolModules& symbol);
