#include "lang/scan.h"

#include <algorithm>

#include "lang/bytes.h"

namespace {

const std::size_t kTabStop = 8;

// Lengths are kept below this, so that no sum of them can overflow.
const std::uint64_t kMaxLength = std::uint64_t(1) << 62;

const unsigned char kP = 1;     // the entry holds for ESC/P
const unsigned char kPos = 2;   // the entry holds for ESC/POS
const unsigned char kBoth = 3;
const short kNoSub = -1;

// How the length of the data that a command announces follows from its
// header (offsets a and b count from the command's first byte).
enum DataRule {
  kNoData,
  kConstant,        // a bytes
  kByteCount,       // the byte at a, times b
  kWordCount,       // the 16-bit count at a, times b
  kLongCount,       // the 32-bit count at a
  kColumns,         // the 16-bit column count at a, times the bytes per column of mode b
  kArea,            // the 16-bit counts at a and a + 2 multiplied, times b
  kByteArea,        // the bytes at a and a + 1 multiplied, times b
  kEscPRaster,      // ESC . c v h m nL nH: m rows of nL + 256 nH dots, compressed by c
  kUntil,           // up to and including the b-th byte of value a
  kEscPCharacters,  // ESC & 0 n m: characters n to m, each a0 a1 a2 and 3 bytes per column
  kPosCharacters,   // ESC & y c1 c2: characters c1 to c2, each x and y bytes per column
  kNvImages         // FS q n: n images, each xL xH yL yH and 8 bytes per unit of area
};

// Data that is measured item by item as it is read.
enum Walk {
  kWalkNone,
  kWalkRunLength,   // counter bytes and their data until the raster is complete
  kWalkTiff,        // binary raster commands until EXIT
  kWalkUntil,       // bytes until the terminators are seen
  kWalkEscPCharacters,
  kWalkPosCharacters,
  kWalkNvImages
};

// One command: its bytes (a third byte selects the entry when its range is
// given), the languages it belongs to, how many of its bytes name it, how
// long its fixed part is, and how its data is measured.
struct SequenceRule {
  unsigned char prefix;
  unsigned char command;
  short subLow;
  short subHigh;
  unsigned char languages;
  unsigned char commandLength;
  unsigned char headerLength;
  DataRule data;
  unsigned char a;
  unsigned char b;
};

// A prefix and command byte that no entry names make a command of the
// default length (2 for ESC, GS and FS, 1 for a lone DLE). Entries with a
// third-byte range come before the entry without one for the same command.
const SequenceRule kRules[] = {
  // ESC: both languages, or one where the two disagree.
  {kEsc, 0x0C, kNoSub, kNoSub, kPos, 2, 2, kNoData, 0, 0},         // ESC FF print page
  {kEsc, 0x0E, kNoSub, kNoSub, kP, 2, 2, kNoData, 0, 0},           // ESC SO double width
  {kEsc, 0x0F, kNoSub, kNoSub, kP, 2, 2, kNoData, 0, 0},           // ESC SI condensed
  {kEsc, 0x19, kNoSub, kNoSub, kP, 2, 3, kNoData, 0, 0},           // ESC EM n sheet feeder
  {kEsc, ' ', kNoSub, kNoSub, kBoth, 2, 3, kNoData, 0, 0},         // character spacing
  {kEsc, '!', kNoSub, kNoSub, kBoth, 2, 3, kNoData, 0, 0},         // print mode
  {kEsc, '#', kNoSub, kNoSub, kP, 2, 2, kNoData, 0, 0},
  {kEsc, '$', kNoSub, kNoSub, kBoth, 2, 4, kNoData, 0, 0},         // absolute position
  {kEsc, '%', kNoSub, kNoSub, kBoth, 2, 3, kNoData, 0, 0},
  {kEsc, '&', kNoSub, kNoSub, kP, 2, 5, kEscPCharacters, 0, 0},
  {kEsc, '&', kNoSub, kNoSub, kPos, 2, 5, kPosCharacters, 0, 0},
  // ESC ( ^ prints its data as characters: only the header is a command.
  {kEsc, '(', '^', '^', kP, 3, 5, kNoData, 0, 0},
  {kEsc, '(', 0, 255, kBoth, 3, 5, kWordCount, 3, 1},             // ESC ( x nL nH data
  {kEsc, '*', kNoSub, kNoSub, kBoth, 2, 5, kColumns, 3, 2},        // bit image
  {kEsc, '+', kNoSub, kNoSub, kP, 2, 3, kNoData, 0, 0},
  {kEsc, '-', kNoSub, kNoSub, kBoth, 2, 3, kNoData, 0, 0},         // underline
  {kEsc, '.', kNoSub, kNoSub, kP, 2, 8, kEscPRaster, 0, 0},        // raster graphics
  {kEsc, '/', kNoSub, kNoSub, kP, 2, 3, kNoData, 0, 0},
  {kEsc, '0', kNoSub, kNoSub, kP, 2, 2, kNoData, 0, 0},
  {kEsc, '1', kNoSub, kNoSub, kP, 2, 2, kNoData, 0, 0},
  {kEsc, '2', kNoSub, kNoSub, kBoth, 2, 2, kNoData, 0, 0},
  {kEsc, '3', kNoSub, kNoSub, kBoth, 2, 3, kNoData, 0, 0},         // line spacing
  {kEsc, '4', kNoSub, kNoSub, kP, 2, 2, kNoData, 0, 0},
  {kEsc, '5', kNoSub, kNoSub, kP, 2, 2, kNoData, 0, 0},
  {kEsc, '6', kNoSub, kNoSub, kP, 2, 2, kNoData, 0, 0},
  {kEsc, '7', kNoSub, kNoSub, kP, 2, 2, kNoData, 0, 0},
  {kEsc, '8', kNoSub, kNoSub, kP, 2, 2, kNoData, 0, 0},
  {kEsc, '9', kNoSub, kNoSub, kP, 2, 2, kNoData, 0, 0},
  {kEsc, ':', kNoSub, kNoSub, kP, 2, 5, kNoData, 0, 0},            // ESC : NUL n m
  {kEsc, '<', kNoSub, kNoSub, kBoth, 2, 2, kNoData, 0, 0},
  {kEsc, '=', kNoSub, kNoSub, kP, 2, 2, kNoData, 0, 0},
  {kEsc, '=', kNoSub, kNoSub, kPos, 2, 3, kNoData, 0, 0},
  {kEsc, '>', kNoSub, kNoSub, kP, 2, 2, kNoData, 0, 0},
  {kEsc, '?', kNoSub, kNoSub, kP, 2, 4, kNoData, 0, 0},
  {kEsc, '?', kNoSub, kNoSub, kPos, 2, 3, kNoData, 0, 0},
  {kEsc, '@', kNoSub, kNoSub, kBoth, 2, 2, kNoData, 0, 0},         // initialize
  {kEsc, 'A', kNoSub, kNoSub, kP, 2, 3, kNoData, 0, 0},
  {kEsc, 'B', kNoSub, kNoSub, kP, 2, 2, kUntil, 0, 1},             // vertical tabs, NUL ends
  {kEsc, 'C', 0, 0, kP, 2, 4, kNoData, 0, 0},                      // ESC C NUL n
  {kEsc, 'C', kNoSub, kNoSub, kP, 2, 3, kNoData, 0, 0},
  {kEsc, 'D', kNoSub, kNoSub, kBoth, 2, 2, kUntil, 0, 1},          // horizontal tabs, NUL ends
  {kEsc, 'E', kNoSub, kNoSub, kP, 2, 2, kNoData, 0, 0},            // bold on
  {kEsc, 'E', kNoSub, kNoSub, kPos, 2, 3, kNoData, 0, 0},          // emphasis n
  {kEsc, 'F', kNoSub, kNoSub, kP, 2, 2, kNoData, 0, 0},
  {kEsc, 'G', kNoSub, kNoSub, kP, 2, 2, kNoData, 0, 0},
  {kEsc, 'G', kNoSub, kNoSub, kPos, 2, 3, kNoData, 0, 0},
  {kEsc, 'H', kNoSub, kNoSub, kP, 2, 2, kNoData, 0, 0},
  {kEsc, 'I', kNoSub, kNoSub, kP, 2, 3, kNoData, 0, 0},
  {kEsc, 'J', kNoSub, kNoSub, kBoth, 2, 3, kNoData, 0, 0},
  {kEsc, 'K', kNoSub, kNoSub, kP, 2, 4, kWordCount, 2, 1},         // bit image, n columns
  {kEsc, 'K', kNoSub, kNoSub, kPos, 2, 3, kNoData, 0, 0},          // reverse feed n
  {kEsc, 'L', kNoSub, kNoSub, kP, 2, 4, kWordCount, 2, 1},
  {kEsc, 'L', kNoSub, kNoSub, kPos, 2, 2, kNoData, 0, 0},          // page mode
  {kEsc, 'M', kNoSub, kNoSub, kP, 2, 2, kNoData, 0, 0},
  {kEsc, 'M', kNoSub, kNoSub, kPos, 2, 3, kNoData, 0, 0},
  {kEsc, 'N', kNoSub, kNoSub, kP, 2, 3, kNoData, 0, 0},
  {kEsc, 'O', kNoSub, kNoSub, kP, 2, 2, kNoData, 0, 0},
  {kEsc, 'P', kNoSub, kNoSub, kP, 2, 2, kNoData, 0, 0},
  {kEsc, 'Q', kNoSub, kNoSub, kP, 2, 3, kNoData, 0, 0},
  {kEsc, 'R', kNoSub, kNoSub, kBoth, 2, 3, kNoData, 0, 0},
  {kEsc, 'S', kNoSub, kNoSub, kP, 2, 3, kNoData, 0, 0},
  {kEsc, 'S', kNoSub, kNoSub, kPos, 2, 2, kNoData, 0, 0},
  {kEsc, 'T', kNoSub, kNoSub, kP, 2, 2, kNoData, 0, 0},
  {kEsc, 'T', kNoSub, kNoSub, kPos, 2, 3, kNoData, 0, 0},
  {kEsc, 'U', kNoSub, kNoSub, kBoth, 2, 3, kNoData, 0, 0},
  {kEsc, 'V', kNoSub, kNoSub, kPos, 2, 3, kNoData, 0, 0},
  {kEsc, 'W', kNoSub, kNoSub, kP, 2, 3, kNoData, 0, 0},
  {kEsc, 'W', kNoSub, kNoSub, kPos, 2, 10, kNoData, 0, 0},         // page mode area
  {kEsc, 'X', kNoSub, kNoSub, kP, 2, 5, kNoData, 0, 0},
  {kEsc, 'Y', kNoSub, kNoSub, kP, 2, 4, kWordCount, 2, 1},
  {kEsc, 'Z', kNoSub, kNoSub, kP, 2, 4, kWordCount, 2, 1},
  {kEsc, '\\', kNoSub, kNoSub, kBoth, 2, 4, kNoData, 0, 0},
  {kEsc, '^', kNoSub, kNoSub, kP, 2, 5, kWordCount, 3, 2},         // 9-dot image, 2 bytes a column
  {kEsc, 'a', kNoSub, kNoSub, kBoth, 2, 3, kNoData, 0, 0},
  {kEsc, 'b', kNoSub, kNoSub, kP, 2, 3, kUntil, 0, 1},
  {kEsc, 'c', kNoSub, kNoSub, kBoth, 2, 4, kNoData, 0, 0},
  {kEsc, 'd', kNoSub, kNoSub, kPos, 2, 3, kNoData, 0, 0},
  {kEsc, 'e', kNoSub, kNoSub, kP, 2, 4, kNoData, 0, 0},
  {kEsc, 'e', kNoSub, kNoSub, kPos, 2, 3, kNoData, 0, 0},
  {kEsc, 'f', kNoSub, kNoSub, kBoth, 2, 4, kNoData, 0, 0},
  {kEsc, 'g', kNoSub, kNoSub, kP, 2, 2, kNoData, 0, 0},
  {kEsc, 'h', kNoSub, kNoSub, kP, 2, 3, kNoData, 0, 0},
  {kEsc, 'i', kNoSub, kNoSub, kP, 2, 3, kNoData, 0, 0},
  {kEsc, 'i', kNoSub, kNoSub, kPos, 2, 2, kNoData, 0, 0},          // cut
  {kEsc, 'j', kNoSub, kNoSub, kP, 2, 3, kNoData, 0, 0},
  {kEsc, 'k', kNoSub, kNoSub, kP, 2, 3, kNoData, 0, 0},
  {kEsc, 'l', kNoSub, kNoSub, kP, 2, 3, kNoData, 0, 0},
  {kEsc, 'm', kNoSub, kNoSub, kP, 2, 3, kNoData, 0, 0},
  {kEsc, 'm', kNoSub, kNoSub, kPos, 2, 2, kNoData, 0, 0},          // partial cut
  {kEsc, 'p', kNoSub, kNoSub, kP, 2, 3, kNoData, 0, 0},
  {kEsc, 'p', kNoSub, kNoSub, kPos, 2, 5, kNoData, 0, 0},          // drawer kick m t1 t2
  {kEsc, 'q', kNoSub, kNoSub, kP, 2, 3, kNoData, 0, 0},
  {kEsc, 'r', kNoSub, kNoSub, kBoth, 2, 3, kNoData, 0, 0},
  {kEsc, 's', kNoSub, kNoSub, kP, 2, 3, kNoData, 0, 0},
  {kEsc, 't', kNoSub, kNoSub, kBoth, 2, 3, kNoData, 0, 0},         // character table
  {kEsc, 'u', kNoSub, kNoSub, kPos, 2, 3, kNoData, 0, 0},
  {kEsc, 'v', kNoSub, kNoSub, kPos, 2, 2, kNoData, 0, 0},
  {kEsc, 'w', kNoSub, kNoSub, kP, 2, 3, kNoData, 0, 0},
  {kEsc, 'x', kNoSub, kNoSub, kP, 2, 3, kNoData, 0, 0},
  {kEsc, 'z', kNoSub, kNoSub, kPos, 2, 3, kNoData, 0, 0},
  {kEsc, '{', kNoSub, kNoSub, kPos, 2, 3, kNoData, 0, 0},

  // GS: ESC/POS only.
  {kGs, '!', kNoSub, kNoSub, kPos, 2, 3, kNoData, 0, 0},           // character size
  {kGs, '$', kNoSub, kNoSub, kPos, 2, 4, kNoData, 0, 0},
  {kGs, '(', 0, 255, kPos, 3, 5, kWordCount, 3, 1},                // GS ( x pL pH data
  {kGs, '*', kNoSub, kNoSub, kPos, 2, 4, kByteArea, 2, 8},         // downloaded bit image
  {kGs, '/', kNoSub, kNoSub, kPos, 2, 3, kNoData, 0, 0},
  {kGs, '8', 'L', 'L', kPos, 3, 7, kLongCount, 3, 0},              // GS 8 L p1..p4 data
  {kGs, ':', kNoSub, kNoSub, kPos, 2, 2, kNoData, 0, 0},
  {kGs, 'B', kNoSub, kNoSub, kPos, 2, 3, kNoData, 0, 0},
  {kGs, 'C', '0', '0', kPos, 3, 5, kNoData, 0, 0},
  {kGs, 'C', '1', '1', kPos, 3, 9, kNoData, 0, 0},
  {kGs, 'C', '2', '2', kPos, 3, 5, kNoData, 0, 0},
  {kGs, 'C', ';', ';', kPos, 3, 3, kUntil, ';', 5},                // five fields, each ends in ;
  {kGs, 'D', '0', '0', kPos, 2, 9, kLongCount, 11, 0},             // a BMP file: its size field
  {kGs, 'E', kNoSub, kNoSub, kPos, 2, 3, kNoData, 0, 0},
  {kGs, 'H', kNoSub, kNoSub, kPos, 2, 3, kNoData, 0, 0},
  {kGs, 'I', kNoSub, kNoSub, kPos, 2, 3, kNoData, 0, 0},
  {kGs, 'L', kNoSub, kNoSub, kPos, 2, 4, kNoData, 0, 0},
  {kGs, 'P', kNoSub, kNoSub, kPos, 2, 4, kNoData, 0, 0},
  {kGs, 'Q', '0', '0', kPos, 3, 8, kArea, 4, 1},                   // variable size bit image
  {kGs, 'T', kNoSub, kNoSub, kPos, 2, 3, kNoData, 0, 0},
  {kGs, 'V', 65, 66, kPos, 2, 4, kNoData, 0, 0},                   // feed and cut: m n
  {kGs, 'V', 97, 98, kPos, 2, 4, kNoData, 0, 0},
  {kGs, 'V', 103, 104, kPos, 2, 4, kNoData, 0, 0},
  {kGs, 'V', kNoSub, kNoSub, kPos, 2, 3, kNoData, 0, 0},           // cut: m
  {kGs, 'W', kNoSub, kNoSub, kPos, 2, 4, kNoData, 0, 0},
  {kGs, '\\', kNoSub, kNoSub, kPos, 2, 4, kNoData, 0, 0},
  {kGs, '^', kNoSub, kNoSub, kPos, 2, 5, kNoData, 0, 0},
  {kGs, 'a', kNoSub, kNoSub, kPos, 2, 3, kNoData, 0, 0},
  {kGs, 'b', kNoSub, kNoSub, kPos, 2, 3, kNoData, 0, 0},
  {kGs, 'c', kNoSub, kNoSub, kPos, 2, 2, kNoData, 0, 0},
  {kGs, 'f', kNoSub, kNoSub, kPos, 2, 3, kNoData, 0, 0},
  {kGs, 'g', '0', '0', kPos, 3, 6, kNoData, 0, 0},
  {kGs, 'g', '2', '2', kPos, 3, 6, kNoData, 0, 0},
  {kGs, 'h', kNoSub, kNoSub, kPos, 2, 3, kNoData, 0, 0},
  {kGs, 'j', kNoSub, kNoSub, kPos, 2, 3, kNoData, 0, 0},
  {kGs, 'k', 0, 64, kPos, 2, 3, kUntil, 0, 1},                     // bar code, NUL ends
  {kGs, 'k', 65, 255, kPos, 2, 4, kByteCount, 3, 1},               // bar code of n bytes
  {kGs, 'r', kNoSub, kNoSub, kPos, 2, 3, kNoData, 0, 0},
  {kGs, 'v', '0', '0', kPos, 3, 8, kArea, 4, 1},                   // raster bit image
  {kGs, 'w', kNoSub, kNoSub, kPos, 2, 3, kNoData, 0, 0},
  {kGs, 'z', '0', '0', kPos, 3, 5, kNoData, 0, 0},

  // FS: ESC/POS only.
  {kFs, '!', kNoSub, kNoSub, kPos, 2, 3, kNoData, 0, 0},
  {kFs, '&', kNoSub, kNoSub, kPos, 2, 2, kNoData, 0, 0},
  {kFs, '(', 0, 255, kPos, 3, 5, kWordCount, 3, 1},                // FS ( x pL pH data
  {kFs, '-', kNoSub, kNoSub, kPos, 2, 3, kNoData, 0, 0},
  {kFs, '.', kNoSub, kNoSub, kPos, 2, 2, kNoData, 0, 0},
  {kFs, '2', kNoSub, kNoSub, kPos, 2, 4, kConstant, 72, 0},        // 24 x 24 dot character
  {kFs, '?', kNoSub, kNoSub, kPos, 2, 4, kNoData, 0, 0},
  {kFs, 'C', kNoSub, kNoSub, kPos, 2, 3, kNoData, 0, 0},
  {kFs, 'S', kNoSub, kNoSub, kPos, 2, 4, kNoData, 0, 0},
  {kFs, 'W', kNoSub, kNoSub, kPos, 2, 3, kNoData, 0, 0},
  {kFs, 'g', '1', '1', kPos, 3, 10, kWordCount, 8, 1},             // write user memory
  {kFs, 'g', '2', '2', kPos, 3, 10, kNoData, 0, 0},
  {kFs, 'p', kNoSub, kNoSub, kPos, 2, 4, kNoData, 0, 0},           // print NV image
  {kFs, 'q', kNoSub, kNoSub, kPos, 2, 3, kNvImages, 0, 0},         // define NV images

  // DLE: ESC/POS real-time commands.
  {kDle, 0x04, 7, 8, kPos, 2, 4, kNoData, 0, 0},                   // DLE EOT n a
  {kDle, 0x04, kNoSub, kNoSub, kPos, 2, 3, kNoData, 0, 0},         // DLE EOT n
  {kDle, 0x05, kNoSub, kNoSub, kPos, 2, 3, kNoData, 0, 0},         // DLE ENQ n
  {kDle, 0x14, 1, 2, kPos, 3, 5, kNoData, 0, 0},                   // DLE DC4 fn m t
  {kDle, 0x14, 3, 3, kPos, 3, 8, kNoData, 0, 0},
  {kDle, 0x14, 7, 7, kPos, 3, 4, kNoData, 0, 0},
  {kDle, 0x14, 8, 8, kPos, 3, 10, kNoData, 0, 0},                  // clear buffers d1..d7
  {kDle, 0x14, 0, 255, kPos, 3, 3, kNoData, 0, 0},
};

const int kRuleCount = static_cast<int>(sizeof kRules / sizeof kRules[0]);

bool startsCommand(unsigned char byte, ControlLanguage language) {
  if (byte == kEsc) return true;
  return language == kEscPos && (byte == kGs || byte == kFs || byte == kDle);
}

bool keptControl(unsigned char byte) {
  return byte == kTab || byte == kLineFeed || byte == kFormFeed || byte == kCarriageReturn;
}

unsigned char languageBit(ControlLanguage language) { return language == kEscP ? kP : kPos; }

bool ruleApplies(const SequenceRule& rule, unsigned char prefix, unsigned char command, ControlLanguage language) {
  return rule.prefix == prefix && rule.command == command && (rule.languages & languageBit(language)) != 0;
}

// True when some entry for the command looks at its third byte.
bool commandHasSub(unsigned char prefix, unsigned char command, ControlLanguage language) {
  for (int i = 0; i < kRuleCount; ++i)
    if (ruleApplies(kRules[i], prefix, command, language) && kRules[i].subLow != kNoSub) return true;
  return false;
}

int findRule(unsigned char prefix, unsigned char command, int sub, ControlLanguage language) {
  for (int i = 0; i < kRuleCount; ++i) {
    const SequenceRule& rule = kRules[i];
    if (!ruleApplies(rule, prefix, command, language)) continue;
    if (rule.subLow == kNoSub || (sub >= rule.subLow && sub <= rule.subHigh)) return i;
  }
  return -1;
}

std::uint64_t word(const unsigned char* at) { return at[0] | std::uint64_t(at[1]) << 8; }

std::uint64_t longWord(const unsigned char* at) {
  return at[0] | std::uint64_t(at[1]) << 8 | std::uint64_t(at[2]) << 16 | std::uint64_t(at[3]) << 24;
}

// A little-endian count of up to 4 bytes (wider ones keep their low 4 bytes).
std::uint64_t count(const unsigned char* at, unsigned size) {
  std::uint64_t value = 0;
  for (unsigned i = 0; i < size && i < 4; ++i) value |= std::uint64_t(at[i]) << (8 * i);
  return value;
}

// Bytes per column of ESC * mode m: 8, 24 or 48 dots.
std::uint64_t bytesPerColumn(unsigned char mode) { return mode < 32 ? 1 : mode < 64 ? 3 : 6; }

// The bytes of its header that a rule must see.
unsigned headerNeed(const SequenceRule& rule) {
  unsigned need = rule.headerLength;
  if (rule.data == kLongCount && rule.a + 4u > need) need = rule.a + 4u;
  return need;
}

ControlKind needMore(ControlScan& scan, std::uint64_t at, unsigned need) {
  scan.resumeAt = at;
  scan.need = need;
  return scan.kind = kControlNeedMore;
}

ControlKind finish(ControlScan& scan, std::uint64_t length) {
  scan.length = length < 1 ? 1 : length;
  return scan.kind = kControlSequence;
}

// The data ended inside the command: it runs to the end.
ControlKind cutOff(ControlScan& scan, std::uint64_t end) {
  scan.truncated = true;
  return finish(scan, end);
}

ControlKind single(ControlScan& scan, unsigned char byte) {
  scan.length = 1;
  scan.command = byte;
  scan.commandLength = scan.headerLength = 1;
  return scan.kind = byte >= 0x20 || keptControl(byte) ? kControlKeep : kControlDrop;
}

// The bytes the next item of a walk must show.
unsigned itemNeed(const ControlScan& scan, const unsigned char* item, std::size_t available) {
  switch (scan.walk) {
    case kWalkEscPCharacters: return 3;
    case kWalkNvImages: return 4;
    case kWalkTiff:
      // XFER, MOVX, MOVY and COLR with bit 4 set give their count in the
      // low 4 bits: that many parameter bytes follow.
      if (available > 0 && (item[0] & 0x10) != 0 && item[0] >= 0x20 && item[0] < 0xA0)
        return 1 + (item[0] & 0x0Fu);
      return 1;
    default: return 1;
  }
}

// A TIFF compression command of an ESC . 2 image: its size with its
// parameters and data. EXIT ends the image.
std::uint64_t tiffItemSize(ControlScan& scan, const unsigned char* item) {
  const unsigned char code = item[0];
  const unsigned group = code >> 5;
  if (code == 0xE3) scan.remaining = 0;  // EXIT
  std::uint64_t size = 1;
  if (group >= 1 && group <= 4 && (code & 0x10) != 0) {
    size += code & 0x0Fu;
    if (group == 1) size += count(item + 1, code & 0x0Fu);  // XFER: data bytes
  } else if (group == 1) {
    size += code & 0x0Fu;
  }
  return size;
}

// The size of the walk's next item, which starts at `item` with `left`
// bytes held (at least its itemNeed); the item is counted off those still
// to come.
std::uint64_t walkItem(ControlScan& scan, const unsigned char* item, std::size_t left) {
  switch (scan.walk) {
    case kWalkRunLength: {
      // 0-127: that many plus one bytes follow; 128-255: one byte repeated
      // 257 - counter times.
      std::uint64_t made = item[0] < 128 ? item[0] + 1u : 257u - item[0];
      scan.remaining -= made < scan.remaining ? made : scan.remaining;
      return item[0] < 128 ? item[0] + 2u : 2u;
    }
    case kWalkTiff: return tiffItemSize(scan, item);
    case kWalkUntil:
      for (std::size_t i = 0; i < left; ++i)
        if (item[i] == scan.itemSize && --scan.remaining == 0) return i + 1;
      return left;
    case kWalkEscPCharacters:
      --scan.remaining;
      return 3 + 3 * std::uint64_t(item[1]);
    case kWalkPosCharacters:
      --scan.remaining;
      return 1 + std::uint64_t(scan.itemSize) * item[0];
    case kWalkNvImages:
      --scan.remaining;
      return 4 + word(item) * word(item + 2) * 8;
    default:
      scan.remaining = 0;
      return 0;
  }
}

// Walks the items of the data that `bytes` (which start at scan.resumeAt)
// show; asks for more where they end.
ControlKind walkData(ControlScan& scan, const unsigned char* bytes, std::size_t available, bool endOfData) {
  const std::uint64_t end = scan.resumeAt + available;
  for (;;) {
    if (scan.remaining == 0) return finish(scan, scan.position);
    if (scan.position > end) return endOfData ? cutOff(scan, end) : needMore(scan, scan.position, 1);
    const std::size_t local = static_cast<std::size_t>(scan.position - scan.resumeAt);
    const unsigned char* item = bytes + local;
    const std::size_t left = available - local;
    const unsigned need = itemNeed(scan, item, left);
    if (left < need) return endOfData ? cutOff(scan, end) : needMore(scan, scan.position, need);
    scan.position = addCapped(scan.position, walkItem(scan, item, left), kMaxLength);
  }
}

void startWalk(ControlScan& scan, Walk walk, std::uint64_t remaining, unsigned itemSize) {
  scan.walk = walk;
  scan.position = scan.headerLength;
  scan.remaining = remaining;
  scan.itemSize = itemSize;
}

// Measures the data of a command whose header the bytes hold; returns the
// data's length, or starts a walk (and returns 0).
std::uint64_t measureData(ControlScan& scan, const SequenceRule& rule, const unsigned char* bytes) {
  switch (rule.data) {
    case kNoData: return 0;
    case kConstant: return rule.a;
    case kByteCount: return std::uint64_t(bytes[rule.a]) * rule.b;
    case kWordCount: return word(bytes + rule.a) * rule.b;
    case kLongCount: return longWord(bytes + rule.a);
    case kColumns: return word(bytes + rule.a) * bytesPerColumn(bytes[rule.b]);
    case kArea: return word(bytes + rule.a) * word(bytes + rule.a + 2) * rule.b;
    case kByteArea: return std::uint64_t(bytes[rule.a]) * bytes[rule.a + 1] * rule.b;
    case kEscPRaster: {
      std::uint64_t raster = bytes[5] * ((word(bytes + 6) + 7) / 8);
      if (bytes[2] == 1) startWalk(scan, kWalkRunLength, raster, 0);
      else if (bytes[2] == 2) startWalk(scan, kWalkTiff, 1, 0);
      else return raster;
      return 0;
    }
    case kUntil: startWalk(scan, kWalkUntil, rule.b, rule.a); return 0;
    case kEscPCharacters:
      startWalk(scan, kWalkEscPCharacters, bytes[4] >= bytes[3] ? bytes[4] - bytes[3] + 1u : 0u, 0);
      return 0;
    case kPosCharacters:
      startWalk(scan, kWalkPosCharacters, bytes[4] >= bytes[3] ? bytes[4] - bytes[3] + 1u : 0u, bytes[2]);
      return 0;
    case kNvImages: startWalk(scan, kWalkNvImages, bytes[2], 0); return 0;
  }
  return 0;
}

}  // namespace

void beginControlScan(ControlScan& scan, ControlLanguage language) {
  scan = ControlScan();
  scan.language = language;
}

ControlKind scanControl(ControlScan& scan, const unsigned char* bytes, std::size_t count, bool endOfData) {
  if (scan.kind != kControlNeedMore) return scan.kind;
  if (scan.walk != kWalkNone) return walkData(scan, bytes, count, endOfData);
  // Still at the header: the bytes start at the control byte.
  if (count == 0) return endOfData ? cutOff(scan, 1) : needMore(scan, 0, 1);
  const unsigned char prefix = bytes[0];
  if (!startsCommand(prefix, scan.language)) return single(scan, prefix);
  scan.command = prefix;
  scan.commandLength = scan.headerLength = 1;
  if (count < 2) return endOfData ? cutOff(scan, count) : needMore(scan, 0, 2);

  const unsigned char command = bytes[1];
  if (commandHasSub(prefix, command, scan.language) && count < 3)
    return endOfData ? cutOff(scan, count) : needMore(scan, 0, 3);
  scan.rule = findRule(prefix, command, count >= 3 ? bytes[2] : -1, scan.language);
  if (scan.rule < 0) {
    // Not in the table: a lone DLE is one byte, ESC x, GS x and FS x are two.
    if (prefix == kDle) return single(scan, prefix);
    scan.command = std::uint32_t(prefix) << 8 | command;
    scan.commandLength = scan.headerLength = 2;
    return finish(scan, 2);
  }

  const SequenceRule& rule = kRules[scan.rule];
  scan.known = true;
  scan.commandLength = rule.commandLength;
  scan.command = std::uint32_t(prefix) << 8 | command;
  if (rule.commandLength == 3) scan.command = scan.command << 8 | bytes[2];
  const unsigned need = headerNeed(rule);
  if (count < need) return endOfData ? cutOff(scan, count) : needMore(scan, 0, need);
  scan.headerLength = rule.headerLength;
  std::uint64_t data = measureData(scan, rule, bytes);
  if (scan.walk != kWalkNone) return walkData(scan, bytes, count, endOfData);
  return finish(scan, addCapped<std::uint64_t>(rule.headerLength, data, kMaxLength));
}

std::size_t tabBlanks(std::size_t column) { return kTabStop - column % kTabStop; }

void appendKeptByte(std::string& text, unsigned char byte, std::size_t& column) {
  if (byte == kTab) {
    std::size_t spaces = tabBlanks(column);
    text.append(spaces, ' ');
    column += spaces;
  } else if (byte == kLineFeed || byte == kFormFeed || byte == kCarriageReturn) {
    text += static_cast<char>(byte);
    column = 0;
  } else if (byte >= 0x20) {
    text += static_cast<char>(byte);
    ++column;
  }
}

std::size_t scanWholeControl(ControlScan& scan, ControlLanguage language, const unsigned char* bytes,
                             std::size_t size) {
  // With every byte to the end given, a scan finishes in one call.
  beginControlScan(scan, language);
  const ControlKind kind = scanControl(scan, bytes, size, true);
  if (kind == kControlKeep || kind == kControlDrop) return 1;
  return scan.length < size ? static_cast<std::size_t>(scan.length) : size;
}

std::size_t controlBytesWanted(const ControlScan& scan, std::size_t held, std::size_t most) {
  const std::uint64_t next = std::max<std::uint64_t>(scan.resumeAt + scan.need, held + 1);
  return static_cast<std::size_t>(std::min<std::uint64_t>(next, most));
}

std::string stripControlCodes(const std::string& bytes, ControlLanguage language) {
  const unsigned char* data = reinterpret_cast<const unsigned char*>(bytes.data());
  const std::size_t size = bytes.size();
  std::string text;
  text.reserve(size);
  std::size_t column = 0;
  std::size_t at = 0;
  while (at < size) {
    const unsigned char byte = data[at];
    if (byte >= 0x20) {
      text += static_cast<char>(byte);
      ++column;
      ++at;
      continue;
    }
    ControlScan scan;
    const std::size_t length = scanWholeControl(scan, language, data + at, size - at);
    if (scan.kind == kControlKeep) appendKeptByte(text, byte, column);
    at += length;
  }
  return text;
}
