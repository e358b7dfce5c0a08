// The line editor behind inputLine, the same on every platform.
#include "console/console.h"
#include "console/console_platform.h"
#include "console/text.h"

namespace {
const std::size_t kMaxTypedCharacters = 10000;
const char kEnter = '\r';
const char kBackspace = '\b';
}  // namespace

std::string inputLine(const std::string& prompt) {
  writeScreenText(prompt);
  std::string typed;
  for (;;) {
    std::string key = readKey();
    if (key.size() != 1) continue;  // keys without a character take no part
    char c = key[0];
    if (c == kEnter) break;
    if (c == kBackspace) {
      if (!typed.empty()) {
        eraseLastScreenCell();
        typed.pop_back();
      }
      continue;
    }
    if (static_cast<unsigned char>(c) < 0x20) continue;  // TAB, Esc, Ctrl+letter
    if (typed.size() >= kMaxTypedCharacters) continue;
    typed += c;
    writeScreenText(key);
  }
  endScreenLine();
  return firstField(typed);
}

std::string commandLineText() { return stripProgramName(platformCommandLine()); }
