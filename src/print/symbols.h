// Bar codes and 2D codes for receipts: one symbol library (Zint) on both
// builds encodes them into modules, which the receipt layout draws as
// printer dots, so that a code looks the same on every printer.
#pragma once

#include "lang/codes.h"

// A SymbolEncoder (lang/codes.h): false when the library refuses the data.
bool encodeSymbol(const SymbolRequest& request, SymbolModules& symbol);
