#include "print/interpret.h"

#include <algorithm>
#include <vector>

#include "files/errors.h"
#include "lang/probe.h"
#include "print/symbols.h"

namespace {

// A printout's bytes are read this much at a time.
const std::size_t kReadPiece = 64 * 1024;

// The bytes read and not yet used, and how the reading went.
struct HeldBytes {
  ReadBytes read = nullptr;
  std::vector<unsigned char> bytes;
  bool atEnd = false;
  int readError = 0;
};

// Reads on: at least `want` more bytes after those held, unless the
// printout ends first. The thread's error code stays the drawing's: a read
// failure goes to readError instead.
void readOn(HeldBytes& held, std::size_t want) {
  const std::size_t start = held.bytes.size();
  held.bytes.resize(start + want);
  const int drawingError = lastError();
  clearError();
  const std::size_t got = held.read(held.bytes.data() + start, want);
  if (lastError() != 0) held.readError = lastError();
  clearError();
  if (drawingError != 0) setError(drawingError);
  held.bytes.resize(start + got);
  if (got < want) held.atEnd = true;
}

// The interpreter begun for the printout whose start is held, and the
// renderer for the language's paper.
void* beginChain(const PrinterLanguage& language, const InterpretSettings& settings, const HeldBytes& held,
                 ScreenEcho echo, RenderState& render) {
  beginRender(render, language.paper(), language.slotFont ? settings.face : std::string(), echo);
  LanguageSettings begun;
  begun.probe = probePrintout(held.bytes.data(), held.bytes.size());
  begun.pageUnits = render.pageUnits;
  begun.paperWidthMm = settings.paperWidthMm;
  begun.codePage = settings.codePage;
  begun.encodeSymbol = encodeSymbol;
  return language.begin(begun);
}

}  // namespace

int drawInterpreted(const PrinterLanguage& language, const InterpretSettings& settings, ReadBytes read,
                    ScreenEcho echo, LanguageTally* tally) {
  HeldBytes held;
  held.read = read;
  // The printout's start, read once: the probe looks at it, and it is the
  // first piece interpreted.
  readOn(held, kProbeBytes);
  RenderState render;
  void* state = beginChain(language, settings, held, echo, render);
  std::size_t wanted = 0;
  while (held.readError == 0) {
    // Read on when everything held was used, or the interpreter wants more;
    // a full batch is drawn and interpreted on from the same bytes.
    if (!held.atEnd && (held.bytes.empty() || held.bytes.size() < wanted)) {
      readOn(held, std::max(kReadPiece, wanted - std::min(wanted, held.bytes.size())));
      if (held.readError != 0) break;
    }
    const std::size_t used = language.feed(state, held.bytes.data(), held.bytes.size(), held.atEnd, &wanted);
    renderOps(render, language.take(state));
    held.bytes.erase(held.bytes.begin(), held.bytes.begin() + static_cast<std::ptrdiff_t>(used));
    if (held.atEnd && held.bytes.empty()) break;
  }
  language.end(state);
  renderOps(render, language.take(state));
  if (tally != nullptr) {
    *tally = LanguageTally();
    if (language.tally != nullptr) language.tally(state, tally);
  }
  language.discard(state);
  return held.readError;
}
