// Bar codes and 2D codes from arbitrary parameters and data. The input is a
// list of records, each made into one command: a bar code of either GS k
// form, a bar code setting (GS w, GS h, GS H, GS f, ESC a) or a GS ( k
// function for QR or PDF417, with the record's bytes as its parameters and
// data. The receipt is laid out on both paper widths with the real encoder:
// every bar code command prints exactly one bar image or is counted as
// refused or too wide, every image lies on the paper and holds exactly its
// rows of bits, a bar code's text is plain ASCII, and the image bytes stay within
// their bound. AddressSanitizer reports any read past the commands.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz/check.h"
#include "lang/escpos.h"
#include "print/symbols.h"

namespace {

const unsigned char ESC = 0x1B, GS = 0x1D;

// The commands of the records; *barCodes counts the GS k commands among them.
std::string commandsOf(const std::uint8_t* data, std::size_t size, unsigned* barCodes) {
  std::string out;
  std::size_t at = 0;
  while (at + 2 <= size) {
    const unsigned kind = data[at] % 6;
    const unsigned parameter = data[at + 1];
    at += 2;
    std::size_t length = at < size ? data[at] : 0;
    if (at < size) ++at;
    if (length > size - at) length = size - at;
    const std::string bytes(reinterpret_cast<const char*>(data + at), length);
    at += length;
    switch (kind) {
      case 0: {  // function A: the data ends at its first NUL
        out += std::string{static_cast<char>(GS), 'k', static_cast<char>(parameter % 7)};
        out += bytes.substr(0, bytes.find('\0'));
        out += '\0';
        ++*barCodes;
        break;
      }
      case 1:  // function B
        out += std::string{static_cast<char>(GS), 'k', static_cast<char>(65 + parameter % 9),
                           static_cast<char>(bytes.size())};
        out += bytes;
        ++*barCodes;
        break;
      case 2: {  // a setting, its value as it came
        static const char kSettings[][2] = {{'\x1d', 'w'}, {'\x1d', 'h'}, {'\x1d', 'H'}, {'\x1d', 'f'}, {'\x1b', 'a'}};
        const char* setting = kSettings[parameter % 5];
        out += std::string{setting[0], setting[1], static_cast<char>(bytes.empty() ? parameter : bytes[0])};
        break;
      }
      default: {  // GS ( k: cn 48 or 49, the function, its parameters and data
        const std::size_t count = bytes.size() + 2;
        out += std::string{static_cast<char>(GS), '(', 'k', static_cast<char>(count & 0xFF),
                           static_cast<char>(count >> 8), static_cast<char>(parameter & 1 ? 49 : 48),
                           static_cast<char>(65 + (parameter >> 1) % 17)};
        out += bytes;
        break;
      }
    }
  }
  out += std::string{static_cast<char>(ESC), 'i'};
  return out;
}

void checkCodes(const std::string& commands, unsigned barCodes, int paperWidthMm) {
  ReceiptSettings settings;
  settings.encodeSymbol = encodeSymbol;
  settings.paperWidthMm = paperWidthMm;
  const int paper = paperWidthMm == 58 ? kReceiptWidth58 : kReceiptWidth80;
  ReceiptState state;
  beginReceipt(state, settings);
  const std::size_t used =
      layOutReceipt(state, reinterpret_cast<const unsigned char*>(commands.data()), commands.size(), true);
  FUZZ_CHECK(used <= commands.size(), "used %zu of %zu bytes", used, commands.size());
  finishReceipt(state);
  const std::vector<DrawOp> ops = takeReceiptOps(state);

  unsigned barImages = 0;
  std::size_t imageBytes = 0;
  for (std::size_t i = 0; i < ops.size(); ++i) {
    const DrawOp& op = ops[i];
    if (op.kind == kDrawImage) {
      FUZZ_CHECK(op.width > 0 && op.height > 0 && op.x >= 0 && op.x + op.width <= paper,
                 "image %zu at %d, %d x %d, off the paper", i, op.x, op.width, op.height);
      FUZZ_CHECK(op.rowRepeat >= 1 && op.height % op.rowRepeat == 0 &&
                     op.bits.size() == static_cast<std::size_t>((op.width + 7) / 8) *
                                           static_cast<std::size_t>(op.height / op.rowRepeat),
                 "image %zu: %zu bytes for %d x %d, rows of %d", i, op.bits.size(), op.width, op.height,
                 op.rowRepeat);
      imageBytes += op.bits.size();
      // A bar code is a single row of bits; a 2D code of one row may pass
      // for one.
      if (op.height == op.rowRepeat) ++barImages;
    } else if (op.kind == kDrawText) {
      for (char c : op.text)
        FUZZ_CHECK(static_cast<unsigned char>(c) >= 0x20 && static_cast<unsigned char>(c) < 0x7F,
                   "byte %u in text run %zu", static_cast<unsigned char>(c), i);
    }
  }
  FUZZ_CHECK(imageBytes <= kMaxReceiptImageBytes, "%zu image bytes", imageBytes);
  if (state.out.limited) return;
  // Every bar code printed or was counted; a 2D code of a single row (or
  // one whose rows happen to be alike) may pass for a bar code.
  const unsigned accounted = barImages + state.codesRefused + state.codesTooWide;
  FUZZ_CHECK(accounted >= barCodes, "%u bar codes, %u bar images, %u refused, %u too wide", barCodes, barImages,
             state.codesRefused, state.codesTooWide);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > 4096) return 0;  // a few dozen codes say all there is to say
  unsigned barCodes = 0;
  const std::string commands = commandsOf(data, size, &barCodes);
  checkCodes(commands, barCodes, 80);
  checkCodes(commands, barCodes, 58);
  return 0;
}
