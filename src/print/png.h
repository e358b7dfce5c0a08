// Decoding a PNG image with the platform's own loader: cairo's PNG reader on
// POSIX (png_posix.cpp), the Windows Imaging Component on Windows
// (png_win32.cpp), so that the Windows program needs no library of its own.
// Nothing throws; a failure says why in a few words.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

// A decoded image: rows top-down, each pixel four bytes (blue, green, red,
// unused) as a 32-bit DIB has them; transparency is laid over white paper.
struct DecodedImage {
  int width = 0;
  int height = 0;
  std::vector<unsigned char> pixels;
};

// Decodes the bytes of a PNG file. False, with *why set ("the image is
// damaged"), when they cannot be decoded or the memory for the pixels cannot
// be had.
bool decodePng(const unsigned char* data, std::size_t size, DecodedImage* image, std::string* why);
