// firstField and the line editor on arbitrary text and key strokes.
// firstField: the field is a piece of the line; an unquoted field has no
// blank at either end and no comma; a quoted one holds no double quote.
// inputLine, fed the input as key presses (NUL and the next byte make one
// key without a character; the input's end presses Enter): the screen shows
// the prompt, exactly the stored characters and then the line end, and the
// returned field is firstField of the stored characters.
//
// The console's platform half is replaced here by a scripted keyboard and a
// screen kept as text, so the real line editor from the core library runs.
#include <cstddef>
#include <cstdint>
#include <string>

#include "console/console.h"
#include "console/console_platform.h"
#include "console/text.h"
#include "fuzz/check.h"

namespace {

const std::string kPrompt = "enter printer number:";
const std::size_t kMaxTyped = 10000;

std::string keys;
std::size_t keyPos;
std::string screen;

void checkField(const std::string& line, const std::string& field) {
  FUZZ_CHECK(line.find(field) != std::string::npos, "field '%s' is not part of the line", field.c_str());
  std::size_t first = line.find_first_not_of(' ');
  if (first != std::string::npos && line[first] == '"') {
    FUZZ_CHECK(field.find('"') == std::string::npos, "quoted field '%s' holds a quote", field.c_str());
  } else if (!field.empty()) {
    FUZZ_CHECK(field.front() != ' ' && field.back() != ' ', "field '%s' has an outer blank", field.c_str());
    FUZZ_CHECK(field.find(',') == std::string::npos, "field '%s' holds a comma", field.c_str());
  }
}

}  // namespace

// The platform half of the console, as the line editor sees it.
std::string readKey() {
  if (keyPos >= keys.size()) return "\r";
  char c = keys[keyPos++];
  if (c != '\0') return std::string(1, c);
  std::string key(1, '\0');
  if (keyPos < keys.size()) key += keys[keyPos++];
  return key;
}
void eraseLastScreenCell() {
  FUZZ_CHECK(screen.size() > kPrompt.size(), "Backspace erased the prompt");
  screen.pop_back();
}
void writeScreenText(const std::string& text) { screen += text; }
void endScreenLine() { screen += '\n'; }
std::string platformCommandLine() { return "ferrin"; }

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string input(reinterpret_cast<const char*>(data), size);
  checkField(input, firstField(input));

  // What the editor should store: characters from blank up, Backspace taking
  // the last one back, everything else ignored, Enter ending the line.
  std::string stored;
  for (std::size_t i = 0; i < input.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(input[i]);
    if (c == 0) { ++i; continue; }
    if (c == '\r') break;
    if (c == '\b') { if (!stored.empty()) stored.pop_back(); continue; }
    if (c < 0x20) continue;
    if (stored.size() < kMaxTyped) stored += static_cast<char>(c);
  }

  keys = input;
  keyPos = 0;
  screen.clear();
  std::string field = inputLine(kPrompt);
  FUZZ_CHECK(screen == kPrompt + stored + "\n", "screen shows '%s', stored '%s'", screen.c_str(), stored.c_str());
  FUZZ_CHECK(field == firstField(stored), "inputLine gave '%s' for '%s'", field.c_str(), stored.c_str());
  checkField(stored, field);
  return 0;
}
