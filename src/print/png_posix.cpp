#include "print/png.h"

#include <cairo.h>

#include <cstdint>
#include <cstring>
#include <new>

namespace {

struct MemoryReader {
  const unsigned char* data;
  std::size_t size;
  std::size_t offset;
};

cairo_status_t readFromMemory(void* closure, unsigned char* out, unsigned int length) {
  MemoryReader* reader = static_cast<MemoryReader*>(closure);
  if (reader->size - reader->offset < length) return CAIRO_STATUS_READ_ERROR;
  std::memcpy(out, reader->data + reader->offset, length);
  reader->offset += length;
  return CAIRO_STATUS_SUCCESS;
}

// One channel of a premultiplied pixel laid over white.
unsigned char overWhite(unsigned char channel, unsigned char alpha) {
  return static_cast<unsigned char>(channel + (255 - alpha));
}

}  // namespace

bool decodePng(const unsigned char* data, std::size_t size, DecodedImage* image, std::string* why) {
  MemoryReader reader = {data, size, 0};
  cairo_surface_t* surface = cairo_image_surface_create_from_png_stream(readFromMemory, &reader);
  cairo_status_t status = cairo_surface_status(surface);
  if (status != CAIRO_STATUS_SUCCESS) {
    // cairo's reader says "out of memory" for damaged image data as well.
    *why = status == CAIRO_STATUS_NO_MEMORY ? "it cannot be decoded: it is damaged, or there is not enough memory"
                                            : std::string("it cannot be decoded: ") + cairo_status_to_string(status);
    cairo_surface_destroy(surface);
    return false;
  }
  const int width = cairo_image_surface_get_width(surface);
  const int height = cairo_image_surface_get_height(surface);
  const int stride = cairo_image_surface_get_stride(surface);
  const bool alpha = cairo_image_surface_get_format(surface) == CAIRO_FORMAT_ARGB32;
  const unsigned char* rows = cairo_image_surface_get_data(surface);
  try {
    image->pixels.assign(static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 4, 0);
  } catch (const std::bad_alloc&) {
    cairo_surface_destroy(surface);
    *why = "there is not enough memory to decode it";
    return false;
  }
  // cairo's pixels are 32-bit words 0xAARRGGBB (premultiplied), whatever
  // the machine's byte order.
  unsigned char* out = image->pixels.data();
  for (int r = 0; r < height; ++r) {
    const unsigned char* row = rows + static_cast<std::size_t>(r) * static_cast<std::size_t>(stride);
    for (int c = 0; c < width; ++c, out += 4) {
      std::uint32_t pixel;
      std::memcpy(&pixel, row + static_cast<std::size_t>(c) * 4, 4);
      unsigned char a = alpha ? static_cast<unsigned char>(pixel >> 24) : 255;
      out[0] = overWhite(static_cast<unsigned char>(pixel), a);
      out[1] = overWhite(static_cast<unsigned char>(pixel >> 8), a);
      out[2] = overWhite(static_cast<unsigned char>(pixel >> 16), a);
      out[3] = 0;
    }
  }
  image->width = width;
  image->height = height;
  cairo_surface_destroy(surface);
  return true;
}
