// Which printer language a printout is in, from one look at its start: the
// printout's first kProbeBytes bytes are enough, and are read once.
#pragma once

#include <cstddef>

#include "lang/scan.h"

const std::size_t kProbeBytes = 64 * 1024;

struct PrintoutProbe {
  // Receipt printers' commands begin with GS followed by a command byte;
  // dot-matrix printouts have none of these.
  ControlLanguage language = kEscP;
  // A dot-matrix printout with 24-pin printers' own commands (24-dot images,
  // ESC +, the ESC ( family): its feeds count 1/180 inch, not 1/216.
  bool pins24 = false;
  // Laser printers' commands (PCL 5): ESC & or ESC * with a group letter and
  // a value, ESC ( s or ESC ) s with a value, the universal exit ESC %-12345X.
  // Neither dot-matrix nor receipt printers have any of them.
  bool laser = false;
  // Star Line Mode's own commands (ESC GS with a letter, ESC RS, the raster
  // mode's ESC * r with a letter): ESC/POS has none of them.
  bool star = false;
  // Any command at all: ESC, or GS of a receipt printer.
  bool commands = false;
};

// Looks at the printout's first bytes (at most kProbeBytes of them count).
PrintoutProbe probePrintout(const unsigned char* bytes, std::size_t size);
