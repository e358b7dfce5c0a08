#include "console/text.h"

#include <cmath>
#include <cstring>

namespace {

const std::size_t kSignificantDigits = 18;
const int kExponentCap = 9999;

bool isDigitIn(unsigned char c, int radix, int* value) {
  int v;
  if (c >= '0' && c <= '9') v = c - '0';
  else if (c >= 'A' && c <= 'F') v = c - 'A' + 10;
  else if (c >= 'a' && c <= 'f') v = c - 'a' + 10;
  else return false;
  if (v >= radix) return false;
  *value = v;
  return true;
}

// Decimal power that stays exact for the small exponents of typed numbers.
long double powerOfTen(long exponent) {
  if (exponent > 6000) return HUGE_VALL;
  if (exponent < -6000) return 0.0L;
  return powl(10.0L, static_cast<long double>(exponent));
}

long double radixNumber(const std::string& text, std::size_t pos) {
  int radix = 8;
  if (pos < text.size()) {
    unsigned char c = static_cast<unsigned char>(text[pos]);
    if (c == 'H' || c == 'h') { radix = 16; ++pos; }
    else if (c == 'B' || c == 'b') { radix = 2; ++pos; }
    else if (c == 'O' || c == 'o' || c == 'Q' || c == 'q') { radix = 8; ++pos; }
  }
  long double value = 0;
  int digit;
  while (pos < text.size() && isDigitIn(static_cast<unsigned char>(text[pos]), radix, &digit)) {
    value = value * radix + digit;
    ++pos;
  }
  return value;
}

}  // namespace

namespace {

// The digits of a decimal number: the first 18 significant digits are kept;
// further digits before the point only scale the value, further digits after
// it are dropped. `pos` is left after the digits.
struct Mantissa {
  std::uint64_t digits = 0;
  long scale = 0;  // power of ten to apply to digits
  bool anyDigit = false;
};

Mantissa readMantissa(const std::string& text, std::size_t* pos) {
  Mantissa m;
  std::size_t significant = 0;
  bool seenPoint = false;
  for (; *pos < text.size(); ++*pos) {
    char c = text[*pos];
    if (c == '.' && !seenPoint) {
      seenPoint = true;
      continue;
    }
    if (c < '0' || c > '9') break;
    m.anyDigit = true;
    if (m.digits == 0 && c == '0') {
      if (seenPoint) --m.scale;
      continue;
    }
    if (significant < kSignificantDigits) {
      m.digits = m.digits * 10 + static_cast<std::uint64_t>(c - '0');
      ++significant;
      if (seenPoint) --m.scale;
    } else if (!seenPoint) {
      ++m.scale;
    }
  }
  return m;
}

// An exponent right after the digits: E, e, D or d, an optional sign and
// decimal digits (capped); 0 when there is none.
long readExponent(const std::string& text, std::size_t pos) {
  if (pos >= text.size() || (text[pos] != 'E' && text[pos] != 'e' && text[pos] != 'D' && text[pos] != 'd')) return 0;
  std::size_t p = pos + 1;
  bool negative = false;
  if (p < text.size() && (text[p] == '+' || text[p] == '-')) {
    negative = text[p] == '-';
    ++p;
  }
  long exponent = 0;
  while (p < text.size() && text[p] >= '0' && text[p] <= '9') {
    exponent = exponent * 10 + (text[p] - '0');
    if (exponent > kExponentCap) exponent = kExponentCap;
    ++p;
  }
  return negative ? -exponent : exponent;
}

}  // namespace

long double textToNumber(const std::string& text) {
  std::size_t pos = 0;
  while (pos < text.size() && (text[pos] == ' ' || text[pos] == '\t' || text[pos] == '\n')) ++pos;

  bool negative = false;
  if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) {
    negative = text[pos] == '-';
    ++pos;
  }
  if (pos < text.size() && text[pos] == '&') {
    long double v = radixNumber(text, pos + 1);
    return negative ? -v : v;
  }

  Mantissa m = readMantissa(text, &pos);
  if (!m.anyDigit) return 0;
  long total = m.scale + readExponent(text, pos);
  long double value = static_cast<long double>(m.digits);
  if (m.digits != 0 && total != 0) {
    if (total > 0) value *= powerOfTen(total);
    else value /= powerOfTen(-total);
  }
  return negative ? -value : value;
}

std::string numberText(long long n) { return std::to_string(n); }

std::string upperCase(const std::string& text) {
  static const unsigned char lower[] = {0x84, 0x94, 0x81, 0x82, 0xA4, 0x86, 0x87};
  static const unsigned char upper[] = {0x8E, 0x99, 0x9A, 0x90, 0xA5, 0x8F, 0x80};
  std::string out = text;
  for (char& ch : out) {
    unsigned char c = static_cast<unsigned char>(ch);
    if (c >= 'a' && c <= 'z') {
      ch = static_cast<char>(c - 'a' + 'A');
      continue;
    }
    for (std::size_t i = 0; i < sizeof lower; ++i) {
      if (c == lower[i]) {
        ch = static_cast<char>(upper[i]);
        break;
      }
    }
  }
  return out;
}

long long roundToInteger(long double value) {
  if (!std::isfinite(value)) return 0;
  long double r = nearbyintl(value);  // default rounding: halves to even
  // Keep the low 64 bits of huge values without overflowing the conversion.
  long double wrapped = fmodl(r, 18446744073709551616.0L);
  if (wrapped < 0) wrapped += 18446744073709551616.0L;
  std::uint64_t bits;
  if (wrapped >= 9223372036854775808.0L)
    bits = static_cast<std::uint64_t>(wrapped - 9223372036854775808.0L) + 9223372036854775808ULL;
  else
    bits = static_cast<std::uint64_t>(wrapped);
  return static_cast<long long>(bits);
}

int16_t storeInt16(long double value) {
  return static_cast<int16_t>(static_cast<std::uint16_t>(static_cast<std::uint64_t>(roundToInteger(value)) & 0xFFFFu));
}

std::string firstField(const std::string& line) {
  std::size_t pos = 0;
  while (pos < line.size() && line[pos] == ' ') ++pos;
  if (pos >= line.size()) return std::string();
  if (line[pos] == '"') {
    std::size_t end = line.find('"', pos + 1);
    if (end == std::string::npos) end = line.size();
    return line.substr(pos + 1, end - pos - 1);
  }
  std::size_t end = line.find(',', pos);
  if (end == std::string::npos) end = line.size();
  while (end > pos && line[end - 1] == ' ') --end;
  return line.substr(pos, end - pos);
}

std::string stripProgramName(const std::string& commandLine) {
  std::size_t pos = 0;
  if (!commandLine.empty() && commandLine[0] == '"') {
    std::size_t close = commandLine.find('"', 1);
    pos = close == std::string::npos ? commandLine.size() : close + 1;
  } else {
    while (pos < commandLine.size() && static_cast<unsigned char>(commandLine[pos]) > ' ') ++pos;
  }
  while (pos < commandLine.size() && (commandLine[pos] == ' ' || commandLine[pos] == '\t')) ++pos;
  return commandLine.substr(pos);
}

void storeField(char* field, std::size_t size, const std::string& text) {
  if (size == 0) return;
  std::size_t n = text.size();
  std::size_t nul = text.find('\0');
  if (nul != std::string::npos) n = nul;
  if (n > size - 1) n = size - 1;
  text.copy(field, n);
  std::memset(field + n, 0, size - n);
}

std::string fieldText(const char* field, std::size_t size) {
  std::size_t n = 0;
  while (n < size && field[n] != '\0') ++n;
  return std::string(field, n);
}
