// Whole printouts in memory, for the tests, the fuzz targets and the tools:
// each printer language's interpreter run over all of a printout's bytes at
// once, and the dots of an image operation. ferrin itself reads printouts a
// piece at a time (print/interpret.h) and never needs these.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "lang/escp.h"
#include "lang/escpos.h"
#include "lang/ops.h"
#include "lang/pcl.h"
#include "lang/star.h"

// A dot-matrix printout's operations.
std::vector<DrawOp> parseEscP(const std::string& bytes, const EscPSettings& settings);

// A laser printer printout's operations, batch after batch.
std::vector<DrawOp> parsePcl(const std::string& bytes);

// Lays out the bytes as the receipt printer would: one batch of the layout
// (escpos.h: once it is full the rest is left out, and `limited` says so).
// Every page with something on it ends with a kDrawPageEnd, the last one
// too; pages with nothing on them (feeds only) are left out. A printed line
// with text is followed by a kDrawScreenLine: its runs' text, a blank
// between runs that stand apart. Never reads outside [data, data + size).
Receipt parseReceipt(const unsigned char* data, std::size_t size, const ReceiptSettings& settings);
Receipt parseReceipt(const std::string& bytes, const ReceiptSettings& settings);

// The same for a receipt in Star Line Mode; *actions, when given, gets the
// drawer pulses and cuts the printout sent.
Receipt parseStarReceipt(const std::string& bytes, const ReceiptSettings& settings,
                         std::vector<PrinterAction>* actions = nullptr);

// True when the dot at (column, row) of an image op is black.
bool drawDotAt(const DrawOp& image, int column, int row);
