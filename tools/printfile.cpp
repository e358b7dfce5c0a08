// printfile <printer name> <file> [font size] [font name]
//
// Prints a text file through the printing layer the way a spool file is
// printed: lines end at CR LF or a lone CR (a lone LF stays in the line), the
// text ends at Ctrl-Z, and a line holding a form feed is printed without it
// and followed by a page break (none after the last line) and the font again.
// Prints "ok" or "error N" and exits 0 or 1. N is the first error code the
// printing layer set: once the attach has failed with 68, every later call
// sets 57, which would hide the cause.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "files/errors.h"
#include "print/printer.h"

int main(int argc, char** argv) {
  if (argc < 3 || argc > 5) {
    std::fprintf(stderr, "usage: printfile <printer name> <file> [font size] [font name]\n");
    return 2;
  }
  long size = argc > 3 ? std::strtol(argv[3], nullptr, 10) : 0;  // 0: the layer's 8 points
  if (size < -32768 || size > 32767) size = 0;
  std::string face = argc > 4 ? argv[4] : kDefaultPrinterFont;

  std::FILE* file = std::fopen(argv[2], "rb");
  if (file == nullptr) {
    std::fprintf(stderr, "cannot read %s\n", argv[2]);
    return 1;
  }
  std::vector<std::string> lines;
  std::string line;
  int c;
  while ((c = std::fgetc(file)) != EOF && c != 0x1A) {
    if (c != '\r') {
      line += static_cast<char>(c);
      continue;
    }
    lines.push_back(line);
    line.clear();
    int next = std::fgetc(file);
    if (next != '\n' && next != EOF) std::ungetc(next, file);
  }
  if (!line.empty()) lines.push_back(line);
  std::fclose(file);

  int firstError = 0;
  auto note = [&firstError] {
    if (firstError == 0) firstError = lastError();
  };
  clearError();
  attachPrinter(argv[1]);
  note();
  selectFont(face, static_cast<std::int16_t>(size));
  note();
  for (std::size_t i = 0; i < lines.size(); ++i) {
    std::string text;
    for (char ch : lines[i])
      if (ch != '\f') text += ch;
    printLine(text);
    note();
    if (text.size() != lines[i].size()) {
      if (i + 1 < lines.size()) formFeed();
      note();
      selectFont(face, static_cast<std::int16_t>(size));
      note();
    }
  }
  detachPrinter();
  note();

  if (firstError == 0) {
    std::printf("ok\n");
    return 0;
  }
  std::printf("error %d\n", firstError);
  return 1;
}
