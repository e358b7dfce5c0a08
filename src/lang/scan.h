// Printer control codes in printouts: which bytes at a control byte form
// one ESC/P (dot-matrix) or ESC/POS (receipt printer) command, with its
// parameters and any data it announces (bit images, raster data, bar codes),
// so that a printout can be printed without them. The scanner works on a few
// bytes at a time, for a reader that holds a small buffer and skips by offset.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

enum ControlLanguage {
  kEscP,   // dot-matrix printers: ESC only; GS, FS and DLE are single bytes
  kEscPos  // receipt printers: ESC, GS, FS and DLE start commands
};

enum ControlKind {
  kControlKeep,      // one byte that stays: CR, LF, FF, TAB, or any byte >= 32
  kControlDrop,      // one control byte that is left out
  kControlSequence,  // a command of `length` bytes, all left out
  kControlNeedMore   // call again with bytes from `resumeAt` (at least `need`)
};

// A reader whose buffer holds this many bytes can always satisfy `need`.
const unsigned kControlScanWindow = 16;

// One scan, from the control byte where it starts to its result. The reader
// owns it; the fields after the results are the scanner's own.
struct ControlScan {
  ControlKind kind = kControlNeedMore;
  // kControlSequence: the whole command, counted from its first byte; may be
  // far beyond the bytes seen (the data it announces is skipped unseen).
  std::uint64_t length = 0;
  // kControlNeedMore: the next call's bytes start this far from the first
  // byte; `need` of them are wanted (fewer only at the end of the data).
  std::uint64_t resumeAt = 0;
  unsigned need = 1;
  // The command's identity, its bytes packed high to low: 0x1B45 is ESC E,
  // 0x1D284C is GS ( L, 0x1D7630 is GS v 0; a single byte is itself.
  std::uint32_t command = 0;
  unsigned char commandLength = 0;
  // Where the command's data starts: its parameters are the bytes from
  // commandLength up to here.
  unsigned char headerLength = 0;
  bool known = false;      // the command is in the table (else the default length)
  bool truncated = false;  // the data ended inside the command

  ControlLanguage language = kEscP;
  int rule = -1;               // the table entry, once the command is known
  int walk = 0;                // how the data is walked item by item, if it is
  std::uint64_t position = 0;  // walking: offset of the next item
  std::uint64_t remaining = 0; // walking: items (or raster bytes) still to come
  unsigned itemSize = 0;       // walking: a factor of each item's size
};

// Prepares a scan of the control byte at the current position.
void beginControlScan(ControlScan& scan, ControlLanguage language);

// Looks at `count` bytes that start `scan.resumeAt` bytes after the control
// byte (the first call gives the control byte itself). `endOfData` says that
// no bytes follow these: a command still open there is cut off at the end
// (kControlSequence, truncated), so the result is never kControlNeedMore.
// Never reads outside the given bytes. A command's data may hold CR, LF, FF,
// Ctrl-Z and NUL: a reader looks for line ends and its end-of-file mark only
// between commands.
ControlKind scanControl(ControlScan& scan, const unsigned char* bytes, std::size_t count, bool endOfData);
// Begins and finishes a scan of the control byte at `bytes` when every byte
// to the end of the data is given (`size` of them): for a reader that holds
// the whole printout. The bytes it covers: 1 for a byte that stays or is left
// out, else the command's length, cut at the end of the data.
std::size_t scanWholeControl(ControlScan& scan, ControlLanguage language, const unsigned char* bytes,
                             std::size_t size);
// For a reader fed in pieces whose scan of the `held` bytes it has needs
// more (kControlNeedMore): how many bytes from the control byte on to ask
// for, more than it holds and at most `most`.
std::size_t controlBytesWanted(const ControlScan& scan, std::size_t held, std::size_t most);

// TAB stops are every 8 columns: the blanks a TAB at `column` (counted from
// 0) stands for in a printout's text.
std::size_t tabBlanks(std::size_t column);

// Appends a byte that stays to the text, a TAB as spaces to the next multiple
// of 8 columns; CR, LF and FF start the count again. `column` belongs to the
// caller (0 at the start of the text). Other control bytes are ignored.
void appendKeptByte(std::string& text, unsigned char byte, std::size_t& column);

// The bytes without any command or control byte, TABs expanded. The output is
// never longer than the input plus 7 bytes for each TAB in it.
std::string stripControlCodes(const std::string& bytes, ControlLanguage language);
