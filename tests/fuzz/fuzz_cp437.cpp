// Code page 437 on arbitrary bytes: cp437ToUtf8 gives valid UTF-8 (shortest
// form, no surrogates) with exactly one code point per byte, the byte's
// glyph; cp437FromCodePoint takes every printable glyph back to its byte and
// answers any other code point with -1 or a byte that shows it.
#include <cstddef>
#include <cstdint>
#include <string>

#include "console/cp437.h"
#include "fuzz/check.h"

namespace {

bool printable(int byte) { return (byte >= 0x20 && byte < 0x7F) || byte >= 0x80; }

// Decodes one UTF-8 sequence at pos; false when it is not valid shortest form.
bool decode(const std::string& s, std::size_t* pos, std::uint32_t* cp) {
  unsigned char c = static_cast<unsigned char>(s[*pos]);
  int extra;
  std::uint32_t min;
  if (c < 0x80) { *cp = c; extra = 0; min = 0; }
  else if ((c & 0xE0) == 0xC0) { *cp = c & 0x1Fu; extra = 1; min = 0x80; }
  else if ((c & 0xF0) == 0xE0) { *cp = c & 0x0Fu; extra = 2; min = 0x800; }
  else if ((c & 0xF8) == 0xF0) { *cp = c & 0x07u; extra = 3; min = 0x10000; }
  else return false;
  ++*pos;
  for (int i = 0; i < extra; ++i, ++*pos) {
    if (*pos >= s.size()) return false;
    unsigned char t = static_cast<unsigned char>(s[*pos]);
    if ((t & 0xC0) != 0x80) return false;
    *cp = (*cp << 6) | (t & 0x3Fu);
  }
  return *cp >= min && *cp <= 0x10FFFF && (*cp < 0xD800 || *cp > 0xDFFF);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  std::string utf8 = cp437ToUtf8(text);
  std::size_t pos = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    FUZZ_CHECK(pos < utf8.size(), "output ends after %zu of %zu bytes", i, text.size());
    std::uint32_t cp;
    FUZZ_CHECK(decode(utf8, &pos, &cp), "invalid UTF-8 for byte %zu (0x%02X)", i, data[i]);
    FUZZ_CHECK(cp == cp437Glyph(data[i]), "byte 0x%02X gives U+%04X, glyph U+%04X", data[i], cp,
               cp437Glyph(data[i]));
    if (printable(data[i])) {
      FUZZ_CHECK(cp437FromCodePoint(cp) == data[i], "U+%04X goes back to %d, not 0x%02X", cp,
                 cp437FromCodePoint(cp), data[i]);
    }
  }
  FUZZ_CHECK(pos == utf8.size(), "%zu bytes of output left over", utf8.size() - pos);

  // Any code point made of the input's first bytes.
  if (size >= 4) {
    std::uint32_t cp = static_cast<std::uint32_t>(data[0]) | static_cast<std::uint32_t>(data[1]) << 8 |
                       static_cast<std::uint32_t>(data[2]) << 16 | static_cast<std::uint32_t>(data[3]) << 24;
    cp %= 0x110000u;
    int byte = cp437FromCodePoint(cp);
    FUZZ_CHECK(byte == -1 || (printable(byte) && cp437Glyph(static_cast<unsigned char>(byte)) == cp),
               "U+%04X gives byte %d", cp, byte);
  }
  return 0;
}
