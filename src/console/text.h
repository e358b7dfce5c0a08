// Text and number conversions shared by every part of ferrin.
// Text is 8-bit bytes in the DOS code page, held in std::string (may hold NULs).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Numeric value of typed or stored text: optional sign, decimal digits with one
// point (18 significant digits), an E/e/D/d exponent, or an &H/&B/&O/&Q radix
// number. Leading blanks, TABs and LFs are skipped; text with no number gives 0.
long double textToNumber(const std::string& text);

// Decimal text of an integer without any blanks ("0", "12", "-3").
std::string numberText(long long n);

// a-z to A-Z plus the lower-case letters of code page 437 that have capitals.
std::string upperCase(const std::string& text);

// Nearest integer, halves to the even neighbour. Infinities and NaN give 0;
// values beyond 64 bits keep their low 64 bits.
long long roundToInteger(long double value);

// The value as stored in a 16-bit signed integer field: rounded as above,
// keeping only the low 16 bits.
int16_t storeInt16(long double value);

// Field 1 of a typed line: leading blanks skipped; a quoted field runs to the
// next double quote, an unquoted one to the first comma, less trailing blanks.
std::string firstField(const std::string& line);

// The command line without the program's name and the blanks after it.
std::string stripProgramName(const std::string& commandLine);

// Copies text into a fixed NUL-terminated field of `size` bytes, cutting it to
// size-1 bytes and at its first NUL.
void storeField(char* field, std::size_t size, const std::string& text);

// Text taken out of a fixed field: up to its first NUL, at most size bytes.
std::string fieldText(const char* field, std::size_t size);
