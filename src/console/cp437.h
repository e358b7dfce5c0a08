// Code page 437, the DOS character set of spool files and screen text.
#pragma once

#include <cstdint>
#include <string>

// The Unicode code point shown for a byte (control bytes as their PC glyphs).
std::uint32_t cp437Glyph(unsigned char byte);

// Adds a code point of the Basic Multilingual Plane as UTF-8.
void appendUtf8(std::string& out, std::uint32_t cp);

// Every byte of the text as the UTF-8 of its glyph.
std::string cp437ToUtf8(const std::string& text);

// The byte whose glyph is the code point among the printable characters
// (0x20-0x7E and 0x80-0xFF); -1 when code page 437 has none.
int cp437FromCodePoint(std::uint32_t codePoint);
