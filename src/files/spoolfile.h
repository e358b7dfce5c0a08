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
  bool anyLineEnd = false;    // a lone LF ends a line too; LF CR is one line end
  bool dropControls = false;  // control codes are left out, tabs become blanks
  int controlLanguage = 0;    // the printer language whose commands are dropped (files/escscan.h)
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

// The next line: CR LF or a lone CR ends it, a lone LF stays inside, Ctrl-Z
// ends the data and is never consumed. Error 62 when nothing can be read.
std::string readLine();
// Closes the file; closing when none is open does nothing.
void closeSpoolFile();
// Deletes every file the name matches (wildcards, a trailing separator for a
// whole directory); hidden files and directories are skipped.
void deleteFile(const std::string& name);

// Makes the open file the process's own before printing starts (fsTakeFile).
void takeSpoolFile();
// Deletes the open file (the very file that was read) and closes it.
void removeSpoolFile();
// Moves the open file to `target` (fsMoveFile) and closes it; when it cannot
// be moved, sets the error code and leaves it open.
void moveSpoolFile(const std::string& target);
bool spoolFileIsOpen();
// Up to `size` bytes from the start of the open file, without moving the
// read position; fewer at the end of the data or on a read failure.
std::string peekSpoolFile(std::size_t size);
// The open file's permission bits; 0777 when they cannot be read.
unsigned spoolFileMode();
// The stamp of the open file.
FileStamp spoolFileStamp();
// The stamp of what openSpoolFile(name) would open; error 53 when none.
FileStamp fileStamp(const std::string& name);
