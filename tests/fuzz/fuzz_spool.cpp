// The spool line reader over whole files of arbitrary bytes: the lines read
// are exactly the data up to the first Ctrl-Z cut at CR LF and lone CRs (a
// lone LF, NUL and form feed stay inside a line), reading stops at the end,
// and a read past the end gives an empty line with error 62.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "files/errors.h"
#include "files/spoolfile.h"
#include "fuzz/check.h"

namespace {

// The next whole line.
std::string readLine() {
  std::string line;
  readLinePart(&line, static_cast<std::size_t>(-1));
  return line;
}

std::vector<std::string> expectedLines(const std::string& bytes) {
  std::string data = bytes.substr(0, bytes.find('\x1a'));
  std::vector<std::string> lines;
  std::string line;
  bool open = false;
  for (std::size_t i = 0; i < data.size(); ++i) {
    if (data[i] == '\r') {
      lines.push_back(line);
      line.clear();
      open = false;
      if (i + 1 < data.size() && data[i + 1] == '\n') ++i;
    } else {
      line += data[i];
      open = true;
    }
  }
  if (open) lines.push_back(line);
  return lines;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const std::string path = "/tmp/ferrin-fuzz-spool-" + std::to_string(getpid());
  std::string bytes(reinterpret_cast<const char*>(data), size);
  std::FILE* out = std::fopen(path.c_str(), "wb");
  FUZZ_CHECK(out != nullptr, "cannot write %s", path.c_str());
  FUZZ_CHECK(std::fwrite(bytes.data(), 1, bytes.size(), out) == bytes.size(), "short write");
  std::fclose(out);

  clearError();
  openSpoolFile(path);
  FUZZ_CHECK(lastError() == 0, "open failed with %d", lastError());
  FUZZ_CHECK(spoolFileLength() == size, "length %llu, expected %zu",
             static_cast<unsigned long long>(spoolFileLength()), size);

  std::vector<std::string> want = expectedLines(bytes);
  std::size_t got = 0;
  while (!atEndOfFile()) {
    std::string line = readLine();
    FUZZ_CHECK(lastError() == 0, "line %zu: error %d", got, lastError());
    FUZZ_CHECK(got < want.size(), "more lines than expected (%zu)", want.size());
    FUZZ_CHECK(line == want[got], "line %zu differs (length %zu, expected %zu)", got, line.size(), want[got].size());
    ++got;
  }
  FUZZ_CHECK(got == want.size(), "%zu lines read, expected %zu", got, want.size());
  std::string past = readLine();
  FUZZ_CHECK(past.empty() && lastError() == 62, "read past the end gave %zu bytes, error %d", past.size(), lastError());
  closeSpoolFile();
  unlink(path.c_str());
  return 0;
}
