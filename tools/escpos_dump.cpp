// escpos_dump [-58] <receipt file> <image prefix>
//
// Lays out an ESC/POS receipt file as a receipt printer would and lists the
// operations on standard output, one a line:
//   text X Y W H font=A|B bold=0|1 underline=N scale=WxH cp=N "bytes"
//   image X Y W H <file>
//   box X Y W H "bytes"
//   page H
// Each image is written as <prefix>-<n>.pbm (n from 1), with a white margin
// of 32 dots around it, as the paper around it would be, so that a QR code
// has its quiet zone. Bytes outside printable ASCII are listed as \xNN.
// -58 lays the receipt out on 58 mm paper. Exits 1 when the file cannot be
// read or an image cannot be written.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include "lang/escpos.h"
#include "print/symbols.h"
#include "whole/whole.h"

namespace {

const int kMargin = 32;

bool readFile(const char* path, std::string& bytes) {
  std::FILE* file = std::fopen(path, "rb");
  if (file == nullptr) return false;
  char buffer[65536];
  std::size_t got;
  while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) bytes.append(buffer, got);
  const bool ok = std::ferror(file) == 0;
  std::fclose(file);
  return ok;
}

std::string quoted(const std::string& text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    if (c >= 0x20 && c < 0x7F && c != '"' && c != '\\') {
      out += static_cast<char>(c);
    } else {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", c);
      out += hex;
    }
  }
  return out + "\"";
}

bool writePbm(const std::string& path, const DrawOp& image) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) return false;
  const int width = image.width + 2 * kMargin;
  const int height = image.height + 2 * kMargin;
  std::fprintf(file, "P4\n%d %d\n", width, height);
  std::string row(static_cast<std::size_t>((width + 7) / 8), '\0');
  for (int y = 0; y < height; ++y) {
    std::fill(row.begin(), row.end(), '\0');
    for (int x = 0; x < width; ++x) {
      char& byte = row[static_cast<std::size_t>(x / 8)];
      if (drawDotAt(image, x - kMargin, y - kMargin)) byte = static_cast<char>(byte | 0x80 >> (x % 8));
    }
    std::fwrite(row.data(), 1, row.size(), file);
  }
  return std::fclose(file) == 0;
}

}  // namespace

int main(int argc, char** argv) {
  ReceiptSettings settings;
  settings.encodeSymbol = encodeSymbol;
  int first = 1;
  if (argc > 1 && std::strcmp(argv[1], "-58") == 0) {
    settings.paperWidthMm = 58;
    first = 2;
  }
  if (argc - first != 2) {
    std::fprintf(stderr, "usage: escpos_dump [-58] <receipt file> <image prefix>\n");
    return 2;
  }
  std::string bytes;
  if (!readFile(argv[first], bytes)) {
    std::fprintf(stderr, "cannot read %s\n", argv[first]);
    return 1;
  }
  const Receipt receipt = parseReceipt(bytes, settings);
  int images = 0;
  for (const DrawOp& op : receipt.ops) {
    switch (op.kind) {
      case kDrawText:
        std::printf("text %d %d %d %d font=%c bold=%d underline=%d scale=%dx%d cp=%d %s\n", op.x, op.y, op.width,
                    op.height, op.font == kDrawFontA ? 'A' : 'B', op.bold ? 1 : 0, op.underline, op.widthScale,
                    op.heightScale, op.codePage, quoted(op.text).c_str());
        break;
      case kDrawImage: {
        const std::string path = std::string(argv[first + 1]) + "-" + std::to_string(++images) + ".pbm";
        if (!writePbm(path, op)) {
          std::fprintf(stderr, "cannot write %s\n", path.c_str());
          return 1;
        }
        std::printf("image %d %d %d %d %s\n", op.x, op.y, op.width, op.height, path.c_str());
        break;
      }
      case kDrawPageEnd: std::printf("page %d\n", op.height); break;
      case kDrawPageBreak: case kDrawScreenLine: break;  // what the screen shows is not the paper's
      case kDrawPageSetup: break;                          // receipts have none
    }
  }
  if (receipt.limited) std::printf("limited\n");
  return 0;
}
