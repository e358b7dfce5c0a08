#include "lang/probe.h"

#include <cstring>

#include "lang/bytes.h"

namespace {

bool receiptCommands(const unsigned char* bytes, std::size_t size) {
  static const char kReceiptCommands[] = "!(/8BHLPVWafhkvwx";
  for (std::size_t at = 0; at + 1 < size; ++at)
    if (bytes[at] == kGs && bytes[at + 1] != 0 && std::strchr(kReceiptCommands, bytes[at + 1]) != nullptr)
      return true;
  return false;
}

bool twentyFourPinCommands(const unsigned char* bytes, std::size_t size) {
  std::size_t at = 0;
  while (at < size) {
    if (bytes[at] != kEsc) {
      ++at;
      continue;
    }
    ControlScan scan;
    const std::size_t length = scanWholeControl(scan, kEscP, bytes + at, size - at);
    if (scan.commandLength == 3 && (scan.command >> 8) == 0x1B28) return true;
    if (scan.command == 0x1B2B) return true;
    if (scan.command == 0x1B2A && size - at > 2 && bytes[at + 2] >= 32) return true;
    at += length;
  }
  return false;
}

}  // namespace

PrintoutProbe probePrintout(const unsigned char* bytes, std::size_t size) {
  if (size > kProbeBytes) size = kProbeBytes;
  PrintoutProbe probe;
  probe.language = receiptCommands(bytes, size) ? kEscPos : kEscP;
  probe.pins24 = twentyFourPinCommands(bytes, size);
  return probe;
}
