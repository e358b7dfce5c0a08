// Every printer language behind one table: the few operations a driver
// needs to turn a printout's bytes into drawing operations (lang/ops.h),
// whatever the language. Each language's file fills one table, and the
// list of tables (language.cpp) is all the rest of the program knows of
// them: a slot's controls value names one, and with controls=auto the
// printout's start (lang/probe.h) chooses one.
//
// A driver runs an interpreter so:
//   void* state = language.begin(settings);
//   loop: used = language.feed(state, held, count, endOfData, &wanted);
//         draw and drop language.take(state); keep held[used..count) and
//         read more after it, at least until `wanted` bytes are held (when
//         it is 0, the batch was full: call again at once)
//   language.end(state); draw language.take(state);
//   language.tally(state, &tally) (when there is one); language.discard(state).
// The operations come out in the order the printer printed them.
#pragma once

#include <cstddef>
#include <vector>

#include "lang/codes.h"
#include "lang/ops.h"
#include "lang/probe.h"

// What an interpreter begins with: the printout's start, the page it is
// drawn on, and the slot's settings. Each language takes what it needs.
struct LanguageSettings {
  PrintoutProbe probe;      // the printout's first bytes, looked at once
  long pageUnits = 0;       // the printable height in the language's units (DrawPaper); 0: not known
  int paperWidthMm = 80;    // receipts: 80, or 58 for narrow paper
  int codePage = 437;       // receipts: the code page of the printer's first table
  SymbolEncoder encodeSymbol = nullptr;  // bar codes and 2D codes; without one they print nothing
};

// What a printout left out that the console tells of: bar codes and 2D
// codes whose data the printer refuses, and codes wider than the paper.
struct LanguageTally {
  unsigned codesRefused = 0;
  unsigned codesTooWide = 0;
  // Receipts: the drawer pulses and cuts the printout sent, in its order.
  std::vector<PrinterAction> actions;
};

struct PrinterLanguage {
  const char* name;  // as a slot's controls value names it
  // True when the printout's start shows this language; controls=auto takes
  // the first table of the list that says so.
  bool (*recognises)(const PrintoutProbe& probe);
  // How the operations sit on paper (DrawPaper).
  DrawPaper (*paper)();
  // Whether text runs without a face of their own are drawn in the slot's
  // font; otherwise in the renderer's own (print/render.h).
  bool slotFont;
  // A new interpreter at the start of a printout; discard frees it.
  void* (*begin)(const LanguageSettings& settings);
  // Interprets the whole characters and commands among the `size` bytes and
  // returns how many it used. It stops short where a command goes on past
  // the bytes and `endOfData` is false, and sets *wanted to the bytes the
  // next call must hold from there; or where its batch of operations is
  // full (*wanted 0). Never reads outside the bytes.
  std::size_t (*feed)(void* state, const unsigned char* data, std::size_t size, bool endOfData,
                      std::size_t* wanted);
  // The operations ready, taken out of the interpreter.
  std::vector<DrawOp> (*take)(void* state);
  // The end of the data: what is gathered is given out.
  void (*end)(void* state);
  // Adds what the printout left out to *tally; nullptr: nothing is.
  void (*tally)(const void* state, LanguageTally* tally);
  void (*discard)(void* state);
};

// The table of the language a slot's controls value names ("escp"); nullptr
// for a value that names none (plain text, control codes stripped, auto).
const PrinterLanguage* findLanguage(const char* name);

// The language a printout's start shows; nullptr for plain text.
const PrinterLanguage* languageOfPrintout(const PrintoutProbe& probe);
