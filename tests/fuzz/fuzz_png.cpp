// A form's PNG file from hostile bytes: the chunk reader (size and pHYs)
// never reads past the end and gives a resolution of at least a dot per
// inch; the platform's decoder, given what the reader accepts and a form of
// at most a few million pixels, either refuses it with a cause or gives
// exactly the reader's size with every pixel's unused byte 0.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz/check.h"
#include "print/overlay.h"
#include "print/png.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // A copy of just the input's size, so that a read past it is caught.
  std::vector<unsigned char> bytes(data, data + size);
  PngFacts facts;
  std::string why;
  if (!readPngFacts(bytes.data(), bytes.size(), &facts, &why)) {
    FUZZ_CHECK(!why.empty(), "a refusal without a cause");
    return 0;
  }
  FUZZ_CHECK(facts.dpiX >= 1.0 && facts.dpiY >= 1.0, "resolution %f x %f", facts.dpiX, facts.dpiY);
  if (static_cast<std::uint64_t>(facts.width) * facts.height > 4000000u) return 0;
  DecodedImage image;
  if (!decodePng(bytes.data(), bytes.size(), &image, &why)) {
    FUZZ_CHECK(!why.empty(), "a failed decode without a cause");
    return 0;
  }
  FUZZ_CHECK(image.width == static_cast<int>(facts.width) && image.height == static_cast<int>(facts.height),
             "decoded %d x %d, the header says %u x %u", image.width, image.height, facts.width, facts.height);
  FUZZ_CHECK(image.pixels.size() == static_cast<std::size_t>(image.width) * image.height * 4, "%zu bytes of pixels",
             image.pixels.size());
  for (std::size_t i = 3; i < image.pixels.size(); i += 4) FUZZ_CHECK(image.pixels[i] == 0, "unused byte %zu", i);
  return 0;
}
