// Receipts in Star Line Mode, the own command set of receipt printers made to
// be driven without ESC/POS: laid out on the receipt of escpos.h (203 dpi,
// 576 or 384 dots across, a cut ends a receipt), in pieces as escpos.h lays
// out ESC/POS. What the printout asks of the cash drawer is kept too.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "lang/escpos.h"

// One pulse the printout sends a cash drawer: which drawer (1 or 2), and
// how long the pulse is on and then off, in milliseconds.
struct DrawerPulse {
  int drawer = 1;
  int onMs = 200;
  int offMs = 200;
};

struct StarState {
  ReceiptState receipt;  // the layout the commands are given to
  // The raster mode (ESC * r A to ESC * r B): rows gathered for one image.
  bool rasterMode = false;
  std::vector<unsigned char> raster;
  int rasterRowBytes = 0;
  int rasterRows = 0;
  // The drawer: BEL's pulse as ESC BEL set it, and the pulses sent.
  int pulseOn = 200;
  int pulseOff = 200;
  std::vector<DrawerPulse> pulses;
  unsigned cuts = 0;           // ESC d
  std::uint64_t skip = 0;      // data of a command too long to hold, still to pass
  std::size_t wanted = 0;      // after a short layOutStar: bytes the next call must hold
};

// As beginReceipt, layOutReceipt and finishReceipt (escpos.h), for Star Line
// Mode; the operations are taken with takeReceiptOps(state.receipt).
void beginStar(StarState& state, const ReceiptSettings& settings);
std::size_t layOutStar(StarState& state, const unsigned char* data, std::size_t size, bool endOfData);
void finishStar(StarState& state);
