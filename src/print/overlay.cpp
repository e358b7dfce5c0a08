#include "print/overlay.h"

#include <cmath>
#include <cstring>
#include <new>

#include "print/png.h"
#include "files/errors.h"
#include "files/fs.h"
#include "platform/system.h"

namespace {

const unsigned char kPngSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

std::uint32_t bigEndian(const unsigned char* p) {
  return static_cast<std::uint32_t>(p[0]) << 24 | static_cast<std::uint32_t>(p[1]) << 16 |
         static_cast<std::uint32_t>(p[2]) << 8 | p[3];
}

// pHYs: pixels per unit across and down, and the unit (1: the metre). A
// resolution of less than a dot per inch would make the form miles wide: it
// is taken as none.
void readResolution(const unsigned char* chunk, std::uint32_t length, PngFacts* facts) {
  if (length != 9 || chunk[8] != 1) return;
  double x = bigEndian(chunk) * 0.0254, y = bigEndian(chunk + 4) * 0.0254;
  if (x < 1.0 || y < 1.0) return;
  facts->dpiX = x;
  facts->dpiY = y;
}

// Not a code of the file layer: the file is larger than a form may be.
const int kFileTooLarge = -1;

// Cut to what can be said: an error code of the file layer as a cause.
std::string fileCause(int code) {
  switch (code) {
    case kFileTooLarge: return "the file is larger than the 256 MB a form may have";
    case kErrorFileNotFound:
    case kErrorPathNotFound: return "the file is missing";
    case kErrorAccess: return "the file may not be read";
    case kErrorLinkRefused: return "the file is a link, which is not followed";
    case kErrorNoMemory: return "there is not enough memory to read it";
    default: return "the file cannot be read (error " + std::to_string(code) + ")";
  }
}

// The whole file, at most kMaxOverlayFileBytes of it; its stamp first.
int readWholeFile(FsFile file, std::vector<unsigned char>* bytes) {
  std::uint64_t size = 0;
  int code = fsFileSize(file, &size);
  if (code != 0) return code;
  if (size > kMaxOverlayFileBytes) return kFileTooLarge;
  try {
    bytes->assign(static_cast<std::size_t>(size), 0);
  } catch (const std::bad_alloc&) {
    return kErrorNoMemory;
  }
  std::uint64_t done = 0;
  while (done < size) {
    unsigned chunk = size - done > (1u << 20) ? (1u << 20) : static_cast<unsigned>(size - done);
    unsigned count = 0;
    code = fsReadAt(file, done, bytes->data() + done, chunk, &count);
    if (code != 0) return code;
    if (count == 0) break;  // shorter than it was: what is there is decoded
    done += count;
  }
  bytes->resize(static_cast<std::size_t>(done));
  return 0;
}

std::shared_ptr<const OverlayImage> decodeOverlay(const std::vector<unsigned char>& bytes, std::string* why) {
  PngFacts facts;
  if (!readPngFacts(bytes.data(), bytes.size(), &facts, why)) return nullptr;
  if (static_cast<std::uint64_t>(facts.width) * facts.height > kMaxOverlayPixels) {
    *why = "it has " + std::to_string(static_cast<std::uint64_t>(facts.width) * facts.height) +
           " pixels, more than the 100 million a form may have";
    return nullptr;
  }
  DecodedImage decoded;
  if (!decodePng(bytes.data(), bytes.size(), &decoded, why)) return nullptr;
  std::shared_ptr<OverlayImage> image;
  try {
    image = std::make_shared<OverlayImage>();
  } catch (const std::bad_alloc&) {
    *why = "there is not enough memory to decode it";
    return nullptr;
  }
  image->width = decoded.width;
  image->height = decoded.height;
  image->dpiX = facts.dpiX;
  image->dpiY = facts.dpiY;
  image->pixels.swap(decoded.pixels);
  return image;
}

// The forms decoded, newest last, and the files that could not be had.
struct KeptOverlay {
  std::string path;
  FileStamp stamp;
  std::shared_ptr<const OverlayImage> image;  // empty: the file could not be had
  std::string why;
};
const std::size_t kOverlaysKept = 4;
ProcessLock OverlayLock;
std::vector<KeptOverlay> keptOverlays;

void keepOverlay(const KeptOverlay& kept) {
  for (std::size_t i = 0; i < keptOverlays.size(); ++i)
    if (keptOverlays[i].path == kept.path) {
      keptOverlays.erase(keptOverlays.begin() + static_cast<std::ptrdiff_t>(i));
      break;
    }
  if (keptOverlays.size() >= kOverlaysKept) keptOverlays.erase(keptOverlays.begin());
  keptOverlays.push_back(kept);
}

long roundedDots(double value) { return std::lround(value); }

}  // namespace

bool readPngFacts(const unsigned char* data, std::size_t size, PngFacts* facts, std::string* why) {
  // The signature, then IHDR: a 13-byte chunk giving width and height.
  if (size < 33 || std::memcmp(data, kPngSignature, 8) != 0 || bigEndian(data + 8) != 13 ||
      std::memcmp(data + 12, "IHDR", 4) != 0) {
    *why = "it is not a PNG image";
    return false;
  }
  facts->width = bigEndian(data + 16);
  facts->height = bigEndian(data + 20);
  // Every chunk up to IEND must lie inside the file: a decoder may take a
  // chunk's length on trust and ask for that much memory before it finds the
  // file shorter. pHYs comes before the image data, if at all.
  std::size_t at = 33;
  bool imageData = false;
  while (size - at >= 12) {
    std::uint32_t length = bigEndian(data + at);
    const unsigned char* type = data + at + 4;
    if (length > size - at - 12) break;
    if (std::memcmp(type, "IEND", 4) == 0) return true;
    if (std::memcmp(type, "IDAT", 4) == 0) imageData = true;
    if (!imageData && std::memcmp(type, "pHYs", 4) == 0) readResolution(data + at + 8, length, facts);
    at += 12 + static_cast<std::size_t>(length);
  }
  *why = "it is damaged: the file ends inside the image";
  return false;
}

std::shared_ptr<const OverlayImage> loadOverlay(const std::string& path, std::string* why) {
  LockGuard lock(OverlayLock);
  FsFile file = nullptr;
  int code = fsOpenReadFile(path, &file);
  if (code != 0) {
    *why = fileCause(code);
    return nullptr;
  }
  FileStamp stamp = {0, 0, 0, 0};
  code = fsFileStampOf(file, &stamp);
  for (const KeptOverlay& kept : keptOverlays)
    if (code == 0 && kept.path == path && kept.stamp == stamp) {
      fsCloseFile(file);
      if (kept.image == nullptr) *why = kept.why;
      return kept.image;
    }
  std::vector<unsigned char> bytes;
  if (code == 0) code = readWholeFile(file, &bytes);
  fsCloseFile(file);
  KeptOverlay kept{path, stamp, nullptr, std::string()};
  if (code != 0)
    kept.why = fileCause(code);
  else
    kept.image = decodeOverlay(bytes, &kept.why);
  keepOverlay(kept);
  if (kept.image == nullptr) *why = kept.why;
  return kept.image;
}

void drawOverlay(DeviceContext dc, const OverlayChoice& overlay, int pageNumber) {
  const OverlayImage* image = overlay.image.get();
  if (image == nullptr || image->width <= 0 || image->height <= 0) return;
  if ((overlay.pages == kOverlayFirstPage && pageNumber != 1) ||
      (overlay.pages == kOverlayLaterPages && pageNumber == 1))
    return;
  // Device units are dots from the printable area's corner: the paper's
  // corner lies the unprintable border before it.
  const double dotsX = deviceGetDeviceCaps(dc, kDeviceLogPixelsX);
  const double dotsY = deviceGetDeviceCaps(dc, kDeviceLogPixelsY);
  if (dotsX <= 0 || dotsY <= 0) return;
  long x = roundedDots(overlay.offsetX * dotsX / 2540.0) - deviceGetDeviceCaps(dc, kDevicePhysicalOffsetX);
  long y = roundedDots(overlay.offsetY * dotsY / 2540.0) - deviceGetDeviceCaps(dc, kDevicePhysicalOffsetY);
  long width = roundedDots(image->width * dotsX / image->dpiX);
  long height = roundedDots(image->height * dotsY / image->dpiY);
  const long kFar = 1L << 30;
  if (width <= 0 || height <= 0 || width > kFar || height > kFar || x > kFar || x < -kFar || y > kFar || y < -kFar)
    return;
  ColorBitmapInfo info = {image->width, image->height};
  deviceStretchColorBitmap(dc, static_cast<int>(x), static_cast<int>(y), static_cast<int>(width),
                           static_cast<int>(height), &info, image->pixels.data());
}
