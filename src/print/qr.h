// QR codes for receipts: the symbol's modules, where the build has a QR
// encoder. The POSIX build links one; the Windows build has none, and a
// receipt there shows the code's text in a frame instead.
#pragma once

#include <string>

#include "lang/escpos.h"

// A QrEncoder (lang/escpos.h): false when the data does not fit in any
// version, or no encoder was built in.
bool encodeQrSymbol(const std::string& data, int errorLevel, QrSymbol& symbol);
