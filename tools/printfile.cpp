// printfile <printer name> <file> [font size] [font name] [form [all|first|rest]]
//
// Prints a text file through the printing layer with the spool watcher's own
// print loop: lines end at CR LF or a lone CR (a lone LF stays in the line),
// the text ends at Ctrl-Z, and a line holding a form feed is printed without
// it and followed by a page break (none after the last line) and the font
// again. The lines are echoed on standard error. A form (a PNG file) is
// drawn under the pages chosen; one that cannot be used is said on standard
// error ("form: <cause>") and the text printed without it.
// Prints "ok" or "error N" and exits 0 or 1. N is the first error code the
// printing layer set: once the attach has failed with 68, every later call
// sets 57, which would hide the cause.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "files/errors.h"
#include "files/spoolfile.h"
#include "print/printer.h"
#include "spool/printout.h"

int main(int argc, char** argv) {
  if (argc < 3 || argc > 7) {
    std::fprintf(stderr, "usage: printfile <printer name> <file> [font size] [font name] [form [all|first|rest]]\n");
    return 2;
  }
  long size = argc > 3 ? std::strtol(argv[3], nullptr, 10) : 0;  // 0: the layer's 8 points
  if (size < -32768 || size > 32767) size = 0;
  std::string face = argc > 4 ? argv[4] : kDefaultPrinterFont;

  int firstError = 0;
  auto note = [&firstError] {
    if (firstError == 0) firstError = lastError();
  };
  clearError();
  openSpoolFile(argv[2]);
  if (lastError() != 0) {
    std::fprintf(stderr, "cannot read %s (error %d)\n", argv[2], lastError());
    return 1;
  }
  JobOptions options;
  if (argc > 5) {
    std::string why;
    options.overlay.image = loadOverlay(argv[5], &why);
    if (options.overlay.image == nullptr) std::fprintf(stderr, "form: %s\n", why.c_str());
    std::string pages = argc > 6 ? argv[6] : "all";
    options.overlay.pages = pages == "first" ? kOverlayFirstPage : pages == "rest" ? kOverlayLaterPages : kOverlayAllPages;
  }
  attachPrinter(argv[1], options);
  note();
  PrintLayout layout;
  layout.fontname = face;
  layout.fontsize = static_cast<std::int16_t>(size);
  selectFont(layout.fontname, layout.fontsize);
  note();
  int readError = printSpoolLines(layout, &firstError);
  if (firstError == 0) firstError = readError;
  closeSpoolFile();
  clearError();
  detachPrinter();
  note();

  if (firstError == 0) {
    std::printf("ok\n");
    return 0;
  }
  std::printf("error %d\n", firstError);
  return 1;
}
