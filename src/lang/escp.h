// Dot-matrix printouts in ESC/P: the bytes a DOS program sent to its
// printer, turned into what that printer would have put on the paper, as a
// list of operations (lang/ops.h) in 1/2160 inch from the top left corner
// of the form. The list draws nothing itself.
//
// Obeyed: ESC @; bold (ESC E/F, ESC G/H); italic (ESC 4/5); underline
// (ESC - n); double width (ESC W n, SO or ESC SO for one line, DC4 cancels);
// condensed (SI, ESC SI; DC2 cancels); 10, 12 and 15 cpi (ESC P/M/g) and
// ESC ! n; line spacing (ESC 2, ESC 0, ESC A n, ESC 3 n, ESC + n) and
// ESC J n; form length (ESC C n, ESC C 0 n); CR, LF, FF, BS, HT and tab
// stops (ESC D); ESC $ (1/60 inch); bit images ESC K/L/Y/Z and ESC * in its
// 8- and 24-dot modes. Anything else is passed over by its length
// (lang/scan.h); a command cut off by the end of the data is not obeyed.
// Ctrl-Z and the other control bytes print nothing: the printer ignores
// them, so a Ctrl-Z between commands ends nothing.
//
// The printer is a 9-pin one (ESC 3 and ESC J in 1/216 inch, ESC A in 1/72,
// 8-dot images 72 dots per inch down) unless the printout's start shows
// 24-pin commands (lang/probe.h): then ESC 3 and ESC J count 1/180 inch,
// ESC A 1/60, and 8-dot images are 60 dots per inch down.
//
// Characters are 12-point glyphs laid on the printer's grid: 10 cpi and 6
// lines per inch at first, an 8-inch carriage; forms as long as the page
// (EscPSettings).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "lang/ops.h"
#include "lang/scan.h"

const int kEscPUnitsPerInch = 2160;  // every pitch, spacing and density is a whole number of these
// The longest command held to be obeyed: ESC * in a 24-dot mode, 65535
// columns of 3 bytes. A longer one is passed over unseen.
const std::size_t kMaxEscPCommand = 5 + 65535 * 3;
// A screen line longer than this is shown in pieces of it.
const std::size_t kMaxScreenLine = 64 * 1024;

struct EscPSettings {
  long pageUnits = 0;   // the printable height: the longest form; 0: forms never end
  bool pins24 = false;  // a 24-pin printer's printout (lang/probe.h)
};

// The printer as the bytes have set it up, and the operations not yet taken.
struct EscPState {
  bool pins24 = false;
  long pageUnits = 0;
  int cpi = 10;
  bool condensed = false;
  bool doubleWidth = false;
  bool lineWide = false;  // SO: double width to the end of the line
  bool bold = false;
  bool doubleStrike = false;
  bool italic = false;
  bool underline = false;
  long lineSpacing = kEscPUnitsPerInch / 6;
  long formLength = 0;
  std::vector<long> tabs;
  long x = 0;  // where the head is
  long y = 0;
  DrawOp run;               // the text run being gathered
  std::string screenText;   // the line the screen is being given
  std::vector<DrawOp> out;  // operations not yet taken

  std::uint64_t skip = 0;  // data of a command too long to hold, still to pass
  bool passing = false;    // a command too long to hold is being walked through
  ControlScan pass;
  std::uint64_t passed = 0;  // bytes of that command already used
  std::size_t wanted = 0;    // after a short interpretEscP: bytes the next call must hold
};

// How the operations sit on paper: 1/2160 inch, an 8-inch carriage, pages
// as the operations break them.
DrawPaper escPPaper();

void beginEscP(EscPState& state, const EscPSettings& settings);

// Interprets the whole characters and commands among the `size` bytes and
// returns how many bytes that used. It stops short where a command goes on
// past the bytes and `endOfData` is false, setting `wanted` to the bytes
// the next call must hold from there. Never reads outside the bytes.
std::size_t interpretEscP(EscPState& state, const unsigned char* data, std::size_t size, bool endOfData);

// The end of the data: the text gathered so far is given out.
void finishEscP(EscPState& state);

// The operations so far, taken out of the state.
std::vector<DrawOp> takeEscPOps(EscPState& state);
