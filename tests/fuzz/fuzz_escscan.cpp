// Stripping printer control codes from arbitrary bytes, in both languages:
// the text keeps no control byte but CR, LF and FF, is never longer than the
// input plus 7 bytes for each TAB (a TAB becomes 1 to 8 spaces, every other
// byte at most itself), stays as it is when stripped again, equals the input
// when there is no control byte, and is the same when a reader sees the data
// through a small buffer (16 bytes, 128 bytes, and a size taken from the
// input). The small buffer is a heap block of exactly the bytes handed over,
// so AddressSanitizer reports any read past them; the scanner must never ask
// for more than kControlScanWindow bytes, nor stand still.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz/check.h"
#include "lang/scan.h"

namespace {

std::string stripThroughWindow(const std::uint8_t* data, std::size_t size, ControlLanguage language,
                               std::size_t window) {
  std::vector<unsigned char> buffer;  // holds [start, start + buffer.size())
  std::uint64_t start = 0;
  auto refill = [&](std::uint64_t at) {
    std::size_t held = at < size ? static_cast<std::size_t>(std::min<std::uint64_t>(window, size - at)) : 0;
    std::vector<unsigned char> fresh(data + std::min<std::uint64_t>(at, size), data + std::min<std::uint64_t>(at, size) + held);
    buffer.swap(fresh);
    start = at;
  };
  refill(0);
  std::string text;
  std::size_t column = 0;
  std::uint64_t at = 0;
  while (at < size) {
    if (at < start || at >= start + buffer.size()) refill(at);
    const unsigned char first = buffer[static_cast<std::size_t>(at - start)];
    ControlScan scan;
    beginControlScan(scan, language);
    ControlKind kind;
    std::uint64_t lastFrom = 0;
    std::size_t lastCount = 0;
    bool firstCall = true;
    do {
      std::uint64_t from = at + scan.resumeAt;
      FUZZ_CHECK(firstCall || from > lastFrom || (from == lastFrom && scan.need > lastCount),
                 "no progress at %llu: asks for %u bytes from %llu again", static_cast<unsigned long long>(at),
                 scan.need, static_cast<unsigned long long>(from));
      FUZZ_CHECK(scan.need >= 1 && scan.need <= kControlScanWindow, "asks for %u bytes", scan.need);
      if (from < start || from + scan.need > start + buffer.size()) refill(from);
      std::size_t offset = static_cast<std::size_t>(from - start);
      std::size_t count = buffer.size() - offset;
      // A block of exactly `count` bytes, so that a read past them is reported.
      std::vector<unsigned char> handed(buffer.begin() + static_cast<std::ptrdiff_t>(offset), buffer.end());
      kind = scanControl(scan, handed.data(), count, start + buffer.size() >= size);
      lastFrom = from;
      lastCount = count;
      firstCall = false;
    } while (kind == kControlNeedMore);
    if (kind == kControlKeep) appendKeptByte(text, first, column);
    FUZZ_CHECK(kind != kControlSequence || scan.length >= 1, "a command of length 0 at %llu",
               static_cast<unsigned long long>(at));
    FUZZ_CHECK(kind == kControlSequence || first < 0x20 || kind == kControlKeep, "byte 0x%02X not kept", first);
    at += kind == kControlSequence ? scan.length : 1;
  }
  return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  const std::size_t tabs = static_cast<std::size_t>(std::count(bytes.begin(), bytes.end(), '\t'));
  const bool anyControl = std::any_of(bytes.begin(), bytes.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20; });
  const std::size_t windows[] = {kControlScanWindow, 128, size > 0 ? kControlScanWindow + data[0] % 241u : 64};

  for (ControlLanguage language : {kEscP, kEscPos}) {
    const std::string text = stripControlCodes(bytes, language);
    FUZZ_CHECK(text.size() <= size + 7 * tabs, "%zu bytes from %zu with %zu TABs", text.size(), size, tabs);
    for (std::size_t i = 0; i < text.size(); ++i) {
      unsigned char c = static_cast<unsigned char>(text[i]);
      FUZZ_CHECK(c >= 0x20 || c == '\r' || c == '\n' || c == '\f', "control byte 0x%02X kept at %zu", c, i);
    }
    FUZZ_CHECK(stripControlCodes(text, language) == text, "stripping again changes %zu bytes of text", text.size());
    if (!anyControl) FUZZ_CHECK(text == bytes, "text without control bytes changed (%zu bytes)", size);
    for (std::size_t window : windows) {
      FUZZ_CHECK(stripThroughWindow(data, size, language, window) == text,
                 "a %zu-byte buffer gives other text (language %d)", window, static_cast<int>(language));
    }
  }
  return 0;
}
