// PNG files for the tests of forms: written here byte by byte (deflate's
// stored blocks, so no compressor is needed), with the chunks a test wants.
#pragma once

#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

inline std::uint32_t pngCrc(const std::string& bytes) {
  std::uint32_t crc = 0xFFFFFFFFu;
  for (unsigned char c : bytes) {
    crc ^= c;
    for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  return crc ^ 0xFFFFFFFFu;
}

inline std::string pngWord(std::uint32_t n) {
  return std::string{static_cast<char>(n >> 24), static_cast<char>(n >> 16), static_cast<char>(n >> 8),
                     static_cast<char>(n)};
}

inline std::string pngChunk(const std::string& type, const std::string& data) {
  return pngWord(static_cast<std::uint32_t>(data.size())) + type + data + pngWord(pngCrc(type + data));
}

// An 8-bit RGB image of width x height whose every pixel is `rgb`
// (0xRRGGBB) but the last row's, which is black; with a pHYs chunk of
// `pixelsPerMetre` when not 0. `idat` replaces the image data when given
// (damaged data).
inline std::string pngImage(std::uint32_t width, std::uint32_t height, std::uint32_t rgb,
                            std::uint32_t pixelsPerMetre = 0, const std::string* idat = nullptr) {
  std::string raw;
  for (std::uint32_t y = 0; y < height; ++y) {
    raw += '\0';  // no filter
    for (std::uint32_t x = 0; x < width; ++x) {
      std::uint32_t c = y + 1 == height ? 0 : rgb;
      raw += static_cast<char>(c >> 16);
      raw += static_cast<char>(c >> 8);
      raw += static_cast<char>(c);
    }
  }
  // zlib: a header, stored blocks of at most 65535 bytes, Adler-32.
  std::string z = "\x78\x01";
  for (std::size_t at = 0; at < raw.size() || at == 0; at += 65535) {
    std::size_t n = raw.size() - at < 65535 ? raw.size() - at : 65535;
    bool last = at + n >= raw.size();
    z += static_cast<char>(last ? 1 : 0);
    z += static_cast<char>(n & 0xFF);
    z += static_cast<char>(n >> 8);
    z += static_cast<char>(~n & 0xFF);
    z += static_cast<char>((~n >> 8) & 0xFF);
    z += raw.substr(at, n);
    if (raw.empty()) break;
  }
  std::uint32_t a = 1, b = 0;
  for (unsigned char c : raw) {
    a = (a + c) % 65521;
    b = (b + a) % 65521;
  }
  z += pngWord(b << 16 | a);
  std::string header = pngWord(width) + pngWord(height) + std::string("\x08\x02\x00\x00\x00", 5);
  std::string png = std::string("\x89PNG\r\n\x1a\n", 8) + pngChunk("IHDR", header);
  if (pixelsPerMetre != 0) png += pngChunk("pHYs", pngWord(pixelsPerMetre) + pngWord(pixelsPerMetre) + '\x01');
  png += pngChunk("IDAT", idat != nullptr ? *idat : z) + pngChunk("IEND", "");
  return png;
}

inline void writePng(const std::string& path, const std::string& png) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << png;
}
