// Receipts drawn on the attached printer (print/escpos_draw.cpp).
#pragma once

#include <string>

#include "lang/escpos.h"

// Reads the open spool file from its current position to its end, a bounded
// piece at a time, and draws the receipts on the attached printer, each cut
// ending a page; the text of each printed line is passed to echo (with
// pageFeed set, and no text, where a receipt is cut). Returns 0, or the
// error code of a read that failed; drawing errors are left as the thread's
// error code. The settings give the slot's paper width.
int printEscPosReceipts(const ReceiptSettings& settings, void (*echo)(const std::string& text, bool pageFeed));
