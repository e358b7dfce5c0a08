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

bool isStarCommand(const unsigned char* bytes, std::size_t size) {
  const unsigned char kind = bytes[1], next = bytes[2];
  if (kind == kGs && next != 0 && std::strchr("ARatxy", next) != nullptr) return true;
  if (kind == 0x1E && next != 0 && std::strchr("CEFad", next) != nullptr) return true;
  return kind == '*' && next == 'r' && size > 3 && bytes[3] >= 'A' && bytes[3] <= 'Z';
}

// Walked command by command as a receipt printer reads them, so that the
// data of an ESC/POS image or code, which may hold any bytes, is passed
// over rather than taken for Star's commands.
bool starCommands(const unsigned char* bytes, std::size_t size) {
  std::size_t at = 0;
  while (at + 2 < size) {
    const unsigned char byte = bytes[at];
    if (byte != kEsc && byte != kGs && byte != kFs && byte != kDle) {
      ++at;
      continue;
    }
    if (byte == kEsc && isStarCommand(bytes + at, size - at)) return true;
    ControlScan scan;
    at += scanWholeControl(scan, kEscPos, bytes + at, size - at);
  }
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

bool isValueStart(unsigned char c) { return (c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.'; }

bool laserCommands(const unsigned char* bytes, std::size_t size) {
  static const char kUniversalExit[] = "\x1b%-12345X";
  for (std::size_t at = 0; at + 3 < size; ++at) {
    if (bytes[at] != kEsc) continue;
    const unsigned char kind = bytes[at + 1], group = bytes[at + 2], value = bytes[at + 3];
    if (kind == '&' && group >= 'a' && group <= 'z' && isValueStart(value)) return true;
    if (kind == '*' && std::strchr("bcprt", group) != nullptr && group != 0 && isValueStart(value)) return true;
    if ((kind == '(' || kind == ')') && group == 's' && isValueStart(value)) return true;
    if (size - at >= sizeof kUniversalExit - 1 && std::memcmp(bytes + at, kUniversalExit, sizeof kUniversalExit - 1) == 0)
      return true;
  }
  return false;
}

}  // namespace

PrintoutProbe probePrintout(const unsigned char* bytes, std::size_t size) {
  if (size > kProbeBytes) size = kProbeBytes;
  PrintoutProbe probe;
  probe.language = receiptCommands(bytes, size) ? kEscPos : kEscP;
  probe.pins24 = twentyFourPinCommands(bytes, size);
  probe.laser = laserCommands(bytes, size);
  probe.star = starCommands(bytes, size);
  probe.commands = std::memchr(bytes, kEsc, size) != nullptr || probe.language == kEscPos;
  return probe;
}
