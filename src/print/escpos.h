// Receipt printouts (ESC/POS) drawn on any printer with the canvas
// (print/canvas.h).
#pragma once

#include <string>

// Reads the open spool file from its current position to its end and draws
// the receipt on the attached printer; text lines are passed to echo (with
// pageFeed set, and no text, where a receipt is cut). Returns 0, or the error
// code of a read that failed.
int printEscPosPrintout(void (*echo)(const std::string& text, bool pageFeed));
