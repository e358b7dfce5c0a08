#include "files/spoolfile.h"

#include <cstring>

#include "files/confine.h"
#include "files/errors.h"

namespace {

const unsigned kBufferSize = 128;
const unsigned char kCarriageReturn = 0x0D;
const unsigned char kLineFeed = 0x0A;
const unsigned char kEndOfFileMark = 0x1A;  // Ctrl-Z
const unsigned char kFormFeed = 0x0C;
const std::string::size_type kMaxNameLength = 255;

struct OpenSpoolFile {
  FsFile file = nullptr;
  unsigned char buffer[kBufferSize];
  unsigned next = 0;          // index of the next unread byte
  unsigned count = 0;         // valid bytes in the buffer
  std::uint64_t offset = 0;   // file offset of the buffer's first byte
  bool midLine = false;       // part of the current line has been returned
  std::size_t column = 0;     // bytes of the current line returned so far
  SpoolReading reading;
};

// Each thread reads its own spool file.
thread_local OpenSpoolFile spool;

void fail(int code) {
  if (code != 0) setError(code);
}

// Reads more bytes after those in the buffer, keeping the unread ones (moved
// to the front). False at the end of the data or on a read failure (which
// sets the error code).
bool readMore() {
  if (!spool.file) return false;
  if (spool.next > 0) {
    std::memmove(spool.buffer, spool.buffer + spool.next, spool.count - spool.next);
    spool.offset += spool.next;
    spool.count -= spool.next;
    spool.next = 0;
  }
  if (spool.count == kBufferSize) return true;
  unsigned got = 0;
  int code = fsReadAt(spool.file, spool.offset + spool.count, spool.buffer + spool.count, kBufferSize - spool.count,
                      &got);
  fail(code);
  if (code != 0) return false;
  spool.count += got;
  return got > 0;
}

// True when at least `wanted` unread bytes (at most the buffer's size) are in
// the buffer; fewer remain only at the end of the data.
bool haveBytes(unsigned wanted) {
  while (spool.count - spool.next < wanted)
    if (!readMore()) return false;
  return true;
}

bool haveByte() { return spool.next < spool.count || haveBytes(1); }

// Passes over `n` unread bytes without reading the ones beyond the buffer.
void skipBytes(std::uint64_t n) {
  unsigned inBuffer = spool.count - spool.next;
  if (n <= inBuffer) {
    spool.next += static_cast<unsigned>(n);
    return;
  }
  spool.offset += spool.count + (n - inBuffer);
  spool.next = spool.count = 0;
}

// A byte that the fast path of readLinePart must stop at.
bool specialByte(unsigned char c) {
  if (c >= 0x20) return false;
  if (c == kCarriageReturn || c == kEndOfFileMark) return true;
  // A LF that ends no line is a control code like any other where those
  // are left out.
  if (c == kLineFeed) return spool.reading.anyLineEnd || spool.reading.dropControl != nullptr;
  if (c == kFormFeed) return false;
  return spool.reading.dropControl != nullptr;
}

bool validName(const std::string& name) {
  return !name.empty() && name.find('*') == std::string::npos && name.find('?') == std::string::npos;
}

}  // namespace

bool operator==(const FileStamp& a, const FileStamp& b) {
  return a.identity == b.identity && a.size == b.size && a.modified == b.modified && a.changed == b.changed;
}

void openSpoolFile(const std::string& name) {
  closeSpoolFile();
  std::string cut = name.substr(0, kMaxNameLength);
  if (!validName(cut)) {
    setError(kErrorBadName);
    return;
  }
  FsFile file = nullptr;
  int code = fsOpenSpoolFile(cut, &file);
  if (code != 0) {
    setError(code);
    return;
  }
  spool.file = file;
  spool.offset = 0;
  spool.next = 0;
  spool.count = 0;
  spool.midLine = false;
  spool.column = 0;
  spool.reading = SpoolReading();
  unsigned count = 0;
  code = fsReadAt(file, 0, spool.buffer, kBufferSize, &count);
  if (code != 0) {
    closeSpoolFile();
    setError(code);
    return;
  }
  spool.count = count;
}

void rewindSpoolFile() {
  if (!spool.file) return;
  spool.offset = 0;
  spool.next = 0;
  spool.count = 0;
  spool.midLine = false;
  spool.column = 0;
  unsigned count = 0;
  fail(fsReadAt(spool.file, 0, spool.buffer, kBufferSize, &count));
  spool.count = count;
}

bool peekSpoolAhead(std::uint64_t from, unsigned char* out, std::size_t size, std::size_t* got) {
  *got = 0;
  if (!spool.file) return false;
  const unsigned inBuffer = spool.count - spool.next;
  if (from + size <= inBuffer) {
    std::memcpy(out, spool.buffer + spool.next + from, size);
    *got = size;
    return true;
  }
  unsigned read = 0;
  const unsigned want = size < kBufferSize ? static_cast<unsigned>(size) : kBufferSize;
  if (fsReadAt(spool.file, spool.offset + spool.next + from, out, want, &read) != 0) return false;
  *got = read;
  return true;
}

std::size_t readSpoolBytes(unsigned char* out, std::size_t size) {
  if (!spool.file) {
    setError(kErrorOther);
    return 0;
  }
  std::size_t done = 0;
  unsigned inBuffer = spool.count - spool.next;
  if (inBuffer > 0) {
    std::size_t take = size < inBuffer ? size : inBuffer;
    std::memcpy(out, spool.buffer + spool.next, take);
    spool.next += static_cast<unsigned>(take);
    done = take;
  }
  // The rest straight from the file, past the (now empty) buffer.
  while (done < size) {
    const std::size_t kChunk = 1u << 30;
    std::size_t want = size - done < kChunk ? size - done : kChunk;
    unsigned got = 0;
    int code = fsReadAt(spool.file, spool.offset + spool.count, out + done, static_cast<unsigned>(want), &got);
    fail(code);
    if (code != 0 || got == 0) break;
    spool.offset += spool.count + got;
    spool.next = spool.count = 0;
    done += got;
  }
  return done;
}

std::uint64_t spoolFileLength() {
  if (!spool.file) {
    setError(kErrorOther);
    return 0;
  }
  std::uint64_t size = 0;
  int code = fsFileSize(spool.file, &size);
  if (code != 0) {
    setError(code);
    return 0;
  }
  return size;
}

bool atEndOfFile() {
  if (!haveByte()) return true;
  return spool.buffer[spool.next] == kEndOfFileMark;
}

void setSpoolReading(const SpoolReading& reading) { spool.reading = reading; }

namespace {

// Takes the line end at the next unread byte (CR, and LF when any line end
// counts). A CR takes the LF after it, and with any line end an LF takes the
// CR after it, so CR LF and LF CR are each one line end.
void takeLineEnd() {
  unsigned char first = spool.buffer[spool.next++];
  unsigned char pair = first == kCarriageReturn ? kLineFeed : kCarriageReturn;
  if (first == kLineFeed || spool.reading.anyLineEnd) {
    if (haveByte() && spool.buffer[spool.next] == pair) ++spool.next;
  } else if (haveByte() && spool.buffer[spool.next] == kLineFeed) {
    ++spool.next;
  }
}

// A control code at the next unread byte, with dropped controls: the hook
// says what it stands for in the text and how many bytes it takes (a
// command with all the data it announces, which may reach far past the
// buffer: those bytes are passed over by offset, never read).
void takeControl(std::string* text) {
  skipBytes(spool.reading.dropControl(text, spool.column));
}

}  // namespace

bool readLinePart(std::string* text, std::size_t room) {
  if (!spool.midLine && atEndOfFile()) {
    setError(kErrorPastEnd);
    return true;
  }
  spool.midLine = true;
  for (;;) {
    if (!haveByte()) break;
    // Take the run of ordinary bytes in one go, as far as there is room.
    unsigned start = spool.next;
    unsigned stop = spool.count - start > room ? start + static_cast<unsigned>(room) : spool.count;
    while (spool.next < stop && !specialByte(spool.buffer[spool.next])) ++spool.next;
    unsigned taken = spool.next - start;
    text->append(reinterpret_cast<const char*>(spool.buffer + start), taken);
    spool.column += taken;
    room -= taken;
    if (spool.next == spool.count) continue;
    unsigned char c = spool.buffer[spool.next];
    if (c == kEndOfFileMark) break;  // stays next: end of data
    if (c == kCarriageReturn || (c == kLineFeed && spool.reading.anyLineEnd)) {
      takeLineEnd();
      break;
    }
    if (room == 0) return false;
    std::size_t before = text->size();
    takeControl(text);
    std::size_t added = text->size() - before;
    room = room > added ? room - added : 0;
  }
  spool.midLine = false;
  spool.column = 0;
  return true;
}

void closeSpoolFile() {
  if (!spool.file) return;
  fsCloseFile(spool.file);
  spool.file = nullptr;
  spool.next = spool.count = 0;
  spool.offset = 0;
}

void takeSpoolFile() {
  if (!spool.file) {
    setError(kErrorOther);
    return;
  }
  fail(fsTakeFile(spool.file));
}

void removeSpoolFile() {
  if (!spool.file) {
    setError(kErrorOther);
    return;
  }
  FsFile file = spool.file;
  spool.file = nullptr;
  spool.next = spool.count = 0;
  spool.offset = 0;
  fail(fsRemoveFile(file));
}

void moveSpoolFile(const std::string& target) {
  if (!spool.file) {
    setError(kErrorOther);
    return;
  }
  int code = fsMoveFile(spool.file, target);
  if (code != 0) {
    setError(code);
    return;
  }
  closeSpoolFile();
}

unsigned spoolFileMode() {
  unsigned mode = 0777;
  if (spool.file && fsFileMode(spool.file, &mode) != 0) mode = 0777;
  return mode;
}

std::string peekSpoolFile(std::size_t size) {
  std::string bytes;
  if (!spool.file) return bytes;
  unsigned char chunk[4096];
  while (bytes.size() < size) {
    unsigned want = static_cast<unsigned>(size - bytes.size() < sizeof chunk ? size - bytes.size() : sizeof chunk);
    unsigned got = 0;
    if (fsReadAt(spool.file, bytes.size(), chunk, want, &got) != 0 || got == 0) break;
    bytes.append(reinterpret_cast<const char*>(chunk), got);
  }
  return bytes;
}

int readSpoolAt(std::uint64_t offset, unsigned char* out, unsigned size, unsigned* got) {
  *got = 0;
  return spool.file ? fsReadAt(spool.file, offset, out, size, got) : kErrorOther;
}

bool spoolFileIsOpen() { return spool.file != nullptr; }

FileStamp spoolFileStamp() {
  FileStamp stamp = {0, 0, 0, 0};
  if (!spool.file) {
    setError(kErrorOther);
    return stamp;
  }
  fail(fsFileStampOf(spool.file, &stamp));
  return stamp;
}

FileStamp fileStamp(const std::string& name) {
  FileStamp stamp = {0, 0, 0, 0};
  std::string cut = name.substr(0, kMaxNameLength);
  if (!validName(cut)) {
    setError(kErrorBadName);
    return stamp;
  }
  fail(fsFileStamp(cut, &stamp));
  return stamp;
}
