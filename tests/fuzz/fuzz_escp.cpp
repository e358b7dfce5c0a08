// The ESC/P interpreter over whole files of arbitrary bytes, drawing on the
// recording device: it reads the file to its end and no further, never fails
// a read, echoes and draws no character the file does not hold, draws only
// images of the sizes the language has, and leaves the device as the real
// one would accept it.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "files/errors.h"
#include "files/spoolfile.h"
#include "fuzz/check.h"
#include "print/device_fake.h"
#include "print/escp.h"
#include "print/printer.h"

namespace {

std::size_t echoedBytes = 0;

void countEcho(const std::string& text, bool) { echoedBytes += text.size(); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const std::string path = "/tmp/ferrin-fuzz-escp-" + std::to_string(getpid());
  std::FILE* out = std::fopen(path.c_str(), "wb");
  FUZZ_CHECK(out != nullptr, "cannot write %s", path.c_str());
  FUZZ_CHECK(std::fwrite(data, 1, size, out) == size, "short write");
  std::fclose(out);

  std::size_t printable = 0, tabs = 0;
  for (std::size_t i = 0; i < size; ++i) {
    if (data[i] >= 0x20 && data[i] != 0x7F) ++printable;
    if (data[i] == '\t') ++tabs;
  }

  resetFakeDevice();
  clearError();
  openSpoolFile(path);
  FUZZ_CHECK(lastError() == 0, "open failed with %d", lastError());
  attachPrinter("Report");
  FUZZ_CHECK(lastError() == 0, "attach failed with %d", lastError());
  echoedBytes = 0;
  int readError = printEscPPrintout("Courier New", countEcho);
  FUZZ_CHECK(readError == 0, "read error %d", readError);
  FUZZ_CHECK(lastError() == 0, "drawing error %d", lastError());
  // Everything was read, and nothing is left to read.
  unsigned char extra = 0;
  FUZZ_CHECK(readSpoolBytes(&extra, 1) == 0, "bytes left after the printout");
  closeSpoolFile();
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
  unlink(path.c_str());
  return 0;
}
