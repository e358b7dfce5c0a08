// Reading spool files that DOS programs write: exclusive open, 128-byte
// buffered reading, DOS line ends, Ctrl-Z as end of data, and deletion.
// Failures set the calling thread's error code (files/errors.h).
#pragma once

#include <cstdint>
#include <string>

#include "files/errors.h"
#include "files/fs.h"


// The open spool file belongs to the calling thread: each watcher has its own.

// Opens an existing file for reading, held so that no other process writes it
// (see fsOpenSpoolFile), and reads its first 128 bytes. A file already open on
// this thread is closed first. The name is cut to 255 characters.
void openSpoolFile(const std::string& name);
// The file's size in bytes, independent of the read position.
std::uint64_t spoolFileLength();
// True when no unread byte remains or the next one is Ctrl-Z.
bool atEndOfFile();
// How the open file's bytes are cut into lines (reset by openSpoolFile).
struct SpoolReading {
  bool anyLineEnd = false;  // a lone LF ends a line too; LF CR is one line end
  // Control codes left out of the lines: called at a control byte that ends
  // no line (not CR, LF where it ends lines, FF or Ctrl-Z) with the line's
  // column so far, it appends what the code stands for to the text (a TAB's
  // blanks, say) and returns how many bytes the code takes, at least 1. It
  // may look ahead with peekSpoolAhead. nullptr: control bytes stay in the
  // lines as they are.
  std::uint64_t (*dropControl)(std::string* text, std::size_t column) = nullptr;
};
void setSpoolReading(const SpoolReading& reading);

// Reads on in the current line: appends at most `room` of its bytes to text
// (a dropped control's blanks may pass it by a few) and returns true when the
// line has ended, false when more of it follows. At the start of a line with
// nothing left to read: error 62, and true.
bool readLinePart(std::string* text, std::size_t room);

// Reads on from the current position: up to `size` bytes, whatever they are
// (Ctrl-Z, NUL and line ends included), into out. Returns how many; fewer
// than asked only at the end of the file or on a read failure (which sets
// the error code). For readers that interpret the bytes themselves.
std::size_t readSpoolBytes(unsigned char* out, std::size_t size);

// Up to `size` unread bytes that start `from` bytes past the next unread
// one (at most 128 of them when they are not in the buffer), without moving
// the read position; *got receives how many, fewer only at the end of the
// file. False on a read failure, which sets no error code.
bool peekSpoolAhead(std::uint64_t from, unsigned char* out, std::size_t size, std::size_t* got);
// Reads the open file again from its start, as openSpoolFile left it, with
// the same reading (for a printout drawn once per copy). Sets the error code
// when its first bytes cannot be read.
void rewindSpoolFile();
// Closes the file; closing when none is open does nothing.
void closeSpoolFile();

// Makes the open file the process's own before printing starts (fsTakeFile).
void takeSpoolFile();
// Deletes the open file (the very file that was read) and closes it.
void removeSpoolFile();
// Moves the open file to `target` (fsMoveFile) and closes it; when it cannot
// be moved, sets the error code and leaves it open.
void moveSpoolFile(const std::string& target);
bool spoolFileIsOpen();
// Up to `size` bytes of the open file at `offset`, whatever the read
// position, for copying it whole; *got receives how many (0 at the end).
// Returns 0 or the error code, which is not set on the thread.
int readSpoolAt(std::uint64_t offset, unsigned char* out, unsigned size, unsigned* got);
// Up to `size` bytes from the start of the open file, without moving the
// read position; fewer at the end of the data or on a read failure.
std::string peekSpoolFile(std::size_t size);
// The open file's permission bits; 0777 when they cannot be read.
unsigned spoolFileMode();
// The stamp of the open file.
FileStamp spoolFileStamp();
// The stamp of what openSpoolFile(name) would open; kErrorFileNotFound when none.
FileStamp fileStamp(const std::string& name);
