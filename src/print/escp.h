// Dot-matrix printouts (ESC/P) drawn on any printer: the open spool file's
// bytes are interpreted as the printer would and drawn with the canvas
// (print/canvas.h) on the attached printer.
//
// Obeyed: ESC @; bold (ESC E/F, ESC G/H); italic (ESC 4/5); underline
// (ESC - n); double width (ESC W n, SO or ESC SO for one line, DC4 cancels);
// condensed (SI, ESC SI; DC2 cancels); 10, 12 and 15 cpi (ESC P/M/g) and
// ESC ! n; line spacing (ESC 2, ESC 0, ESC A n, ESC 3 n, ESC + n) and
// ESC J n; form length (ESC C n, ESC C 0 n); CR, LF, FF, BS, HT and tab
// stops (ESC D); ESC $ (1/60 inch); bit images ESC K/L/Y/Z and ESC * in its
// 8- and 24-dot modes. Anything else is passed over by its length (files/
// escscan.h).
//
// The printer is a 9-pin one (ESC 3 and ESC J in 1/216 inch, ESC A in 1/72,
// 8-dot images 72 dots per inch down) unless the printout's first 64 KiB
// show 24-pin commands (24-dot images, ESC +, ESC ( ): then ESC 3 and ESC J
// count 1/180 inch, ESC A 1/60, and 8-dot images are 60 dots per inch down.
//
// Characters are 12-point glyphs of the given face laid on the printer's grid:
// 10 cpi and 6 lines per inch at first, an 8-inch carriage (narrowed to the
// printable width if that is less), forms as long as the printable height.
#pragma once

#include <string>

// Called for each text line of the printout with its characters as they
// were written (the code page's bytes), and with pageFeed set (and no text)
// where a form feed ends a form.
typedef void (*EscPEcho)(const std::string& text, bool pageFeed);

// Reads the open spool file from its current position to its end and draws
// it. Reads a bounded amount at a time, whatever the file's size. Returns 0,
// or the error code of a read that failed; drawing errors are left as the
// thread's error code, as printLine leaves them.
int printEscPPrintout(const std::string& face, EscPEcho echo);
