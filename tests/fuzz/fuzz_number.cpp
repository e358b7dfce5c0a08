// textToNumber on arbitrary text: never NaN; decimal numbers agree with the C
// library's strtold on the same number written out plainly (within the error
// of keeping 18 significant digits), infinite exactly when the number is
// beyond the range of long double; radix numbers of up to 16 hex digits are
// exact; and roundToInteger and storeInt16 are defined for every result.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "console/text.h"
#include "fuzz/check.h"

namespace {

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// The number at the start of the text written out for strtold: sign, digits
// with their point, "e" and the exponent. Empty when the text holds a radix
// number or no digit.
std::string plainNumber(const std::string& text) {
  std::size_t pos = 0;
  while (pos < text.size() && (text[pos] == ' ' || text[pos] == '\t' || text[pos] == '\n')) ++pos;
  std::string out;
  if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) out += text[pos++];
  if (pos < text.size() && text[pos] == '&') return std::string();
  bool point = false, digit = false;
  for (; pos < text.size(); ++pos) {
    if (text[pos] == '.' && !point) { point = true; out += '.'; continue; }
    if (!isDigit(text[pos])) break;
    digit = true;
    out += text[pos];
  }
  if (!digit) return std::string();
  if (pos < text.size() && std::string("EeDd").find(text[pos]) != std::string::npos) {
    std::size_t p = pos + 1;
    std::string exp = "e";
    if (p < text.size() && (text[p] == '+' || text[p] == '-')) exp += text[p++];
    std::size_t digits = 0;
    long value = 0;
    while (p < text.size() && isDigit(text[p])) {
      value = value * 10 + (text[p] - '0');
      if (value > 9999) value = 9999;
      ++p;
      ++digits;
    }
    if (digits > 0) out += exp + std::to_string(value);
  }
  return out;
}

// The value of an ampersand number of at most 16 hex digits; false for any
// other text.
bool hexValue(const std::string& text, long double* result) {
  std::size_t pos = 0;
  while (pos < text.size() && (text[pos] == ' ' || text[pos] == '\t' || text[pos] == '\n')) ++pos;
  bool negative = false;
  if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) negative = text[pos++] == '-';
  if (pos + 1 >= text.size() || text[pos] != '&' || (text[pos + 1] != 'H' && text[pos + 1] != 'h')) return false;
  std::size_t start = pos + 2, end = start;
  while (end < text.size() && std::isxdigit(static_cast<unsigned char>(text[end]))) ++end;
  if (end - start > 16) return false;
  unsigned long long v = end == start ? 0 : std::strtoull(text.substr(start, end - start).c_str(), nullptr, 16);
  long double value = static_cast<long double>(v);
  *result = negative ? -value : value;
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  long double value = textToNumber(text);
  FUZZ_CHECK(!std::isnan(value), "NaN for '%s'", text.c_str());

  std::string plain = plainNumber(text);
  if (!plain.empty()) {
    long double expected = std::strtold(plain.c_str(), nullptr);
    long double big = fabsl(expected);
    if (std::isinf(expected)) {
      FUZZ_CHECK(std::isinf(value) && std::signbit(value) == std::signbit(expected), "'%s' gives %Lg, expected %Lg",
                 plain.c_str(), value, expected);
    } else if (big < 1e-4890L) {
      // The far end of the subnormal range may come out as 0.
      FUZZ_CHECK(fabsl(value) < 1e-4880L, "'%s' gives %Lg, expected %Lg", plain.c_str(), value, expected);
    } else {
      FUZZ_CHECK(std::isfinite(value), "'%s' gives %Lg, expected %Lg", plain.c_str(), value, expected);
      FUZZ_CHECK(fabsl(value - expected) <= big * 1e-15L, "'%s' gives %.21Lg, expected %.21Lg", plain.c_str(), value,
                 expected);
    }
  }

  long double hex;
  if (hexValue(text, &hex)) {
    FUZZ_CHECK(value == hex, "'%s' gives %Lg, expected %Lg", text.c_str(), value, hex);
  }

  // Storing any result must be defined (the sanitizer checks the casts) and
  // agree with the low bits of the rounded integer.
  long long rounded = roundToInteger(value);
  std::int16_t stored = storeInt16(value);
  FUZZ_CHECK(static_cast<std::uint16_t>(stored) == (static_cast<unsigned long long>(rounded) & 0xFFFFu),
             "storeInt16(%Lg) = %d, rounded %lld", value, stored, rounded);
  if (std::isfinite(value) && fabsl(value) < 9e18L) {
    FUZZ_CHECK(static_cast<long double>(rounded) == nearbyintl(value), "roundToInteger(%Lg) = %lld", value, rounded);
  }
  return 0;
}
