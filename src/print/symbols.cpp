#include "print/symbols.h"

#include <zint.h>

#include <cstring>

namespace {

// The library's symbology for a request. EAN and UPC data comes without its
// check digit, which the library adds; EAN-8 is EAN of seven digits.
int symbologyOf(const SymbolRequest& request) {
  switch (request.kind) {
    case kSymbolUpcA: return BARCODE_UPCA;
    case kSymbolUpcE: return BARCODE_UPCE;
    case kSymbolEan13: case kSymbolEan8: return BARCODE_EANX;
    case kSymbolCode39: return BARCODE_CODE39;
    case kSymbolItf: return BARCODE_C25INTER;
    case kSymbolCodabar: return BARCODE_CODABAR;
    case kSymbolCode93: return BARCODE_CODE93;
    case kSymbolCode128: return BARCODE_CODE128;
    case kSymbolQr: return BARCODE_QRCODE;
    case kSymbolPdf417: return request.truncated ? BARCODE_PDF417COMP : BARCODE_PDF417;
  }
  return 0;
}

// Zint keeps each row's modules as bits, the leftmost in the lowest bit of
// the row's first byte.
bool moduleSet(const zint_symbol* symbol, int row, int column) {
  return (symbol->encoded_data[row][column >> 3] >> (column & 7) & 1) != 0;
}

}  // namespace

bool encodeSymbol(const SymbolRequest& request, SymbolModules& out) {
  out = SymbolModules();
  if (request.data.empty()) return false;
  zint_symbol* symbol = ZBarcode_Create();
  if (symbol == nullptr) return false;
  symbol->symbology = symbologyOf(request);
  symbol->input_mode = DATA_MODE;  // the bytes as they came, whatever the code page
  if (request.kind == kSymbolQr) {
    symbol->option_1 = request.errorLevel + 1;  // 1-4: L, M, Q, H
  } else if (request.kind == kSymbolPdf417) {
    symbol->option_1 = request.errorLevel;  // -1: by the data's size
    symbol->option_2 = request.columns;
    symbol->option_3 = request.rows;
  }
  const int result = ZBarcode_Encode(symbol, reinterpret_cast<const unsigned char*>(request.data.data()),
                                     static_cast<int>(request.data.size()));
  const bool ok = result < ZINT_ERROR && symbol->width > 0 && symbol->rows > 0;
  if (ok) {
    out.width = symbol->width;
    out.rows = symbol->rows;
    out.modules.resize(static_cast<std::size_t>(out.width) * static_cast<std::size_t>(out.rows));
    for (int row = 0; row < out.rows; ++row)
      for (int column = 0; column < out.width; ++column)
        out.modules[static_cast<std::size_t>(row) * static_cast<std::size_t>(out.width) +
                    static_cast<std::size_t>(column)] = moduleSet(symbol, row, column) ? 1 : 0;
    const char* text = reinterpret_cast<const char*>(symbol->text);
    out.text.assign(text, strnlen(text, sizeof symbol->text));
  }
  ZBarcode_Delete(symbol);
  return ok;
}
