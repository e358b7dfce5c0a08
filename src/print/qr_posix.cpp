#include "print/qr.h"

#include <qrencode.h>

bool encodeQrSymbol(const std::string& data, int errorLevel, QrSymbol& symbol) {
  static const QRecLevel kLevels[] = {QR_ECLEVEL_L, QR_ECLEVEL_M, QR_ECLEVEL_Q, QR_ECLEVEL_H};
  if (data.empty() || errorLevel < 0 || errorLevel > 3) return false;
  // Byte mode for every kind of data, as the printer stores it: the bytes go
  // into the symbol as they came, whatever the code page.
  QRcode* code = QRcode_encodeData(static_cast<int>(data.size()),
                                   reinterpret_cast<const unsigned char*>(data.data()), 0, kLevels[errorLevel]);
  if (code == nullptr) return false;
  symbol.size = code->width;
  symbol.modules.assign(static_cast<std::size_t>(code->width) * static_cast<std::size_t>(code->width), 0);
  for (std::size_t i = 0; i < symbol.modules.size(); ++i) symbol.modules[i] = code->data[i] & 1;
  QRcode_free(code);
  return true;
}
