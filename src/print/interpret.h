// A printout in a printer language drawn on the attached printer: the one
// chain of interpreter, operations, renderer and device. One loop reads the
// printout's bytes a bounded piece at a time, feeds them to the language's
// interpreter (lang/language.h) and draws the operations ready after each
// piece (print/render.h); the printout's text lines go to the echo. It
// names no language and reads no file: the bytes come from the read
// function, and the language from the caller.
#pragma once

#include <cstddef>
#include <string>

#include "lang/language.h"
#include "print/render.h"

// Reads up to `size` more bytes of the printout into `into` and returns how
// many: fewer only at the end of the printout or on a failure, which it
// leaves as the thread's error code.
typedef std::size_t (*ReadBytes)(unsigned char* into, std::size_t size);

// What the slot says of the printout.
struct InterpretSettings {
  std::string face;       // the slot's font, for the languages drawn in it
  int paperWidthMm = 80;  // receipts: 80 or 58
  int codePage = 437;     // the code page of the printer's first table
};

// Reads the printout to its end through `read`, interprets it in the
// language and draws it on the attached printer (with none attached, only
// the echo is given its text). Returns 0, or the error code of a read that
// failed, which ends the printout there; drawing errors are left as the
// thread's error code, as the renderer leaves them. *tally, when given,
// gets what the printout left out.
int drawInterpreted(const PrinterLanguage& language, const InterpretSettings& settings, ReadBytes read,
                    ScreenEcho echo, LanguageTally* tally);
