// The ESC/P interpreter over arbitrary bytes, fed in pieces and drawn on
// the recording device: it uses every byte it is given by the end, gives the
// same operations however the bytes are cut, echoes and draws no character
// the bytes do not hold, draws only images of the sizes the language has,
// and leaves the device as the real one would accept it.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fake/device_fake.h"
#include "files/errors.h"
#include "fuzz/check.h"
#include "lang/escp.h"
#include "print/printer.h"
#include "print/render.h"
#include "whole/whole.h"

namespace {

std::size_t echoedBytes = 0;

void countEcho(const std::string& text, bool) { echoedBytes += text.size(); }

// The operations of the bytes fed `piece` at a time, as the read loop feeds them.
std::vector<DrawOp> inPieces(const std::uint8_t* data, std::size_t size, std::size_t piece,
                             const EscPSettings& settings) {
  EscPState state;
  beginEscP(state, settings);
  std::vector<DrawOp> all;
  std::vector<unsigned char> held;
  std::size_t read = 0;
  for (;;) {
    const std::size_t n = std::min(piece, size - read);
    held.insert(held.end(), data + read, data + read + n);
    read += n;
    const bool end = read == size;
    if (!end && held.size() < state.wanted) continue;
    const std::size_t used = interpretEscP(state, held.data(), held.size(), end);
    FUZZ_CHECK(!end || used == held.size(), "%zu of %zu bytes used at the end", used, held.size());
    for (DrawOp& op : takeEscPOps(state)) all.push_back(std::move(op));
    held.erase(held.begin(), held.begin() + static_cast<std::ptrdiff_t>(used));
    if (end && held.empty()) break;
  }
  finishEscP(state);
  for (DrawOp& op : takeEscPOps(state)) all.push_back(std::move(op));
  return all;
}

bool sameOps(const std::vector<DrawOp>& a, const std::vector<DrawOp>& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (a[i].kind != b[i].kind || a[i].x != b[i].x || a[i].y != b[i].y || a[i].text != b[i].text ||
        a[i].advance != b[i].advance || a[i].bits != b[i].bits)
      return false;
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::size_t printable = 0, tabs = 0;
  for (std::size_t i = 0; i < size; ++i) {
    if (data[i] >= 0x20 && data[i] != 0x7F) ++printable;
    if (data[i] == '\t') ++tabs;
  }

  resetFakeDevice();
  clearError();
  attachPrinter("Report");
  FUZZ_CHECK(lastError() == 0, "attach failed with %d", lastError());
  echoedBytes = 0;
  RenderState render;
  beginRender(render, escPPaper(), "Courier New", countEcho);
  EscPSettings settings;
  settings.pageUnits = render.pageUnits;
  const std::vector<DrawOp> whole =
      parseEscP(std::string(reinterpret_cast<const char*>(data), size), settings);
  FUZZ_CHECK(sameOps(inPieces(data, size, 7, settings), whole), "fed in pieces, the operations differ");
  renderOps(render, whole);
  FUZZ_CHECK(lastError() == 0, "drawing error %d", lastError());
  detachPrinter();

  FUZZ_CHECK(echoedBytes <= printable + 8 * tabs, "echoed %zu bytes of %zu printable", echoedBytes, printable);
  std::size_t drawn = 0;
  for (const FakeText& t : fakeDevice.texts) {
    drawn += t.advances.size();
    FUZZ_CHECK(t.x >= 0 && t.y >= 0, "text at %d,%d", t.x, t.y);
  }
  FUZZ_CHECK(drawn <= printable, "drew %zu characters of %zu printable", drawn, printable);
  for (const FakeImage& image : fakeDevice.images) {
    FUZZ_CHECK(image.height == 8 || image.height == 24, "image %d rows high", image.height);
    FUZZ_CHECK(image.width > 0 && static_cast<std::size_t>(image.width) <= size, "image %d columns wide", image.width);
  }
  FUZZ_CHECK(fakeDevice.misuse.empty(), "device misuse: %s", fakeDevice.misuse.front().c_str());
  FUZZ_CHECK(fakeDevice.liveFonts == 0 && fakeDevice.liveContexts == 0, "fonts or contexts left alive");
  return 0;
}
