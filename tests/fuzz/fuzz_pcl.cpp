// The PCL 5 interpreter over arbitrary bytes, fed in pieces and drawn on the
// recording device: it uses every byte it is given by the end, gives the
// same operations however the bytes are cut, draws no more characters than
// the bytes hold, keeps every image and the operations held at one time
// within their bounds whatever the values say (page sizes, repeat counts,
// rows passed over), and leaves the device as the real one would accept it.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fake/device_fake.h"
#include "files/errors.h"
#include "fuzz/check.h"
#include "lang/pcl.h"
#include "print/printer.h"
#include "print/render.h"
#include "whole/whole.h"

namespace {

// The most image bytes held between two takes: the pause point, and one
// rectangle of 17 x 17 inches at 300 dpi or one raster strip beyond it.
const std::size_t kMaxHeld = (8u << 20) + (4u << 20);
const long long kMaxImageDots = 5100LL * 5100LL;
const int kMaxImageWidth = 32767;  // the widest bitmap the devices draw (cairo's image surfaces)

std::size_t heldBits(const std::vector<DrawOp>& ops) {
  std::size_t bytes = 0;
  for (const DrawOp& op : ops) bytes += op.bits.size();
  return bytes;
}

std::vector<DrawOp> inPieces(const std::uint8_t* data, std::size_t size, std::size_t piece) {
  PclState state;
  beginPcl(state);
  std::vector<DrawOp> all;
  std::vector<unsigned char> held;
  std::size_t read = 0;
  for (;;) {
    const std::size_t n = std::min(piece, size - read);
    held.insert(held.end(), data + read, data + read + n);
    read += n;
    const bool end = read == size;
    if (!end && held.size() < state.wanted) continue;
    const std::size_t used = interpretPcl(state, held.data(), held.size(), end);
    FUZZ_CHECK(used <= held.size(), "%zu of %zu bytes used", used, held.size());
    FUZZ_CHECK(!end || used > 0 || held.empty(), "nothing used at the end of %zu bytes", held.size());
    std::vector<DrawOp> ops = takePclOps(state);
    FUZZ_CHECK(heldBits(ops) <= kMaxHeld, "%zu image bytes held at once", heldBits(ops));
    for (DrawOp& op : ops) all.push_back(std::move(op));
    held.erase(held.begin(), held.begin() + static_cast<std::ptrdiff_t>(used));
    if (end && held.empty()) break;
  }
  finishPcl(state);
  for (DrawOp& op : takePclOps(state)) all.push_back(std::move(op));
  return all;
}

bool sameOps(const std::vector<DrawOp>& a, const std::vector<DrawOp>& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (a[i].kind != b[i].kind || a[i].x != b[i].x || a[i].y != b[i].y || a[i].text != b[i].text ||
        a[i].advance != b[i].advance || a[i].bits != b[i].bits || a[i].landscape != b[i].landscape)
      return false;
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::vector<DrawOp> whole = parsePcl(std::string(reinterpret_cast<const char*>(data), size));
  FUZZ_CHECK(sameOps(inPieces(data, size, 7), whole), "fed in pieces, the operations differ");
  std::size_t characters = 0;
  for (const DrawOp& op : whole) {
    if (op.kind == kDrawText) characters += op.text.size();
    if (op.kind != kDrawImage) continue;
    FUZZ_CHECK(op.width > 0 && op.height > 0 && op.width <= kMaxImageWidth &&
                   static_cast<long long>(op.width) * op.height <= kMaxImageDots,
               "image %d x %d", op.width, op.height);
    FUZZ_CHECK(op.bits.size() == static_cast<std::size_t>(op.bytesPerRow) * static_cast<std::size_t>(op.height) &&
                   op.bytesPerRow * 8 >= op.width,
               "image bits %zu for %d rows of %d bytes", op.bits.size(), op.height, op.bytesPerRow);
  }
  FUZZ_CHECK(characters <= size, "%zu characters from %zu bytes", characters, size);

  resetFakeDevice();
  clearError();
  attachPrinter("Report");
  FUZZ_CHECK(lastError() == 0, "attach failed with %d", lastError());
  RenderState render;
  beginRender(render, pclPaper(), "Courier New", nullptr);
  renderOps(render, whole);
  FUZZ_CHECK(lastError() == 0, "drawing error %d", lastError());
  detachPrinter();
  FUZZ_CHECK(fakeDevice.misuse.empty(), "device misuse: %s", fakeDevice.misuse.front().c_str());
  FUZZ_CHECK(fakeDevice.liveFonts == 0 && fakeDevice.liveContexts == 0, "fonts or contexts left alive");
  return 0;
}
