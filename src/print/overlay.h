// A form drawn under every page of a printout: a PNG image (a form scanned
// at 300 dpi, say) printed from the paper's top-left corner at its own
// resolution, text and graphics over it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "device/device.h"

// The most pixels a form may have: larger ones are refused before they are
// decoded (an A4 page at 600 dpi has 35 million).
const std::uint64_t kMaxOverlayPixels = 100000000ull;
// The most bytes of a PNG file read.
const std::uint64_t kMaxOverlayFileBytes = 256ull * 1024 * 1024;
// The resolution of an image that does not give its own.
const double kDefaultOverlayDpi = 300.0;

// A decoded form, as the device draws it (a 32-bit top-down DIB), with its
// resolution in dots per inch.
struct OverlayImage {
  int width = 0;
  int height = 0;
  double dpiX = kDefaultOverlayDpi;
  double dpiY = kDefaultOverlayDpi;
  std::vector<unsigned char> pixels;  // blue, green, red, unused; rows top-down
};

enum OverlayPages { kOverlayAllPages, kOverlayFirstPage, kOverlayLaterPages };  // all, first, rest

// The form of one document: none when image is empty.
struct OverlayChoice {
  std::shared_ptr<const OverlayImage> image;
  OverlayPages pages = kOverlayAllPages;
  int offsetX = 0;  // the form's top-left corner from the paper's, hundredths of a mm
  int offsetY = 0;
};

// What the PNG file's own chunks say: its size in pixels (IHDR) and, when
// it has a pHYs chunk in pixels per metre, its resolution. Reads nothing
// outside [data, data + size). False, with *why set, when the bytes are not
// a PNG image, or one of its chunks runs past the end of the file (or the
// file ends before its last chunk, IEND).
struct PngFacts {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  double dpiX = kDefaultOverlayDpi;
  double dpiY = kDefaultOverlayDpi;
};
bool readPngFacts(const unsigned char* data, std::size_t size, PngFacts* facts, std::string* why);

// The form in the named PNG file (relative to the working folder, or
// absolute), decoded; kept in memory while the file is unchanged (same
// identity, size and times), so that only a changed file is decoded again.
// Empty, with *why set ("the file is missing"), when it cannot be had; a
// file that could not be had is not read again while it is unchanged.
// Safe from any thread.
std::shared_ptr<const OverlayImage> loadOverlay(const std::string& path, std::string* why);

// For the printing layer: draws the form, when the document has one for its
// page `pageNumber` (1 for the first), on the open page of dc, its corner at
// the paper's corner plus the offset. What the device does not print (its
// unprintable border) is lost, as on a real printer.
void drawOverlay(DeviceContext dc, const OverlayChoice& overlay, int pageNumber);
