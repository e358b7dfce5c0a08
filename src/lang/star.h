// Receipts in Star Line Mode, the own command set of receipt printers made to
// be driven without ESC/POS: laid out on the receipt of escpos.h (203 dpi,
// 576 or 384 dots across, a cut ends a receipt), in pieces as escpos.h lays
// out ESC/POS. Its drawer pulses and cuts are kept in the receipt's
// actions: BEL (with the times of the last ESC BEL before it), FS and SUB,
// and ESC d.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "lang/escpos.h"

struct StarState {
  ReceiptState receipt;  // the layout the commands are given to
  // The raster mode (ESC * r A to ESC * r B): rows gathered for one image.
  bool rasterMode = false;
  std::vector<unsigned char> raster;
  int rasterRowBytes = 0;
  int rasterRows = 0;
  // The last ESC BEL n1 n2 (the times of BEL's pulse), sent with each BEL;
  // empty: the printer's own times.
  std::string pulseTimes;
  std::uint64_t skip = 0;      // data of a command too long to hold, still to pass
  std::size_t wanted = 0;      // after a short layOutStar: bytes the next call must hold
};

// As beginReceipt, layOutReceipt and finishReceipt (escpos.h), for Star Line
// Mode; the operations are taken with takeReceiptOps(state.receipt).
void beginStar(StarState& state, const ReceiptSettings& settings);
std::size_t layOutStar(StarState& state, const unsigned char* data, std::size_t size, bool endOfData);
void finishStar(StarState& state);
