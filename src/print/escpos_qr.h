// QR codes for receipts: the symbol's modules, where the build has a QR
// encoder. The POSIX build links one; the Windows build has none, and a
// receipt there shows the code's text in a frame instead.
#pragma once

#include <string>
#include <vector>

struct QrSymbol {
  int size = 0;                        // modules on each side
  std::vector<unsigned char> modules;  // size x size, row by row, 1 = dark
};

// Encodes the bytes as a model 2 QR code with error correction level 0 (L)
// to 3 (H), in the smallest version that holds them. False when the data
// does not fit in any version, or no encoder was built in.
bool encodeQrSymbol(const std::string& data, int errorLevel, QrSymbol& symbol);
