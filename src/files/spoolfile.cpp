#include "files/spoolfile.h"

#include "files/errors.h"

namespace {

const unsigned kBufferSize = 128;
const unsigned char kCarriageReturn = 0x0D;
const unsigned char kLineFeed = 0x0A;
const unsigned char kEndOfFileMark = 0x1A;  // Ctrl-Z
const std::string::size_type kMaxNameLength = 255;

struct OpenSpoolFile {
  FsFile file = nullptr;
  unsigned char buffer[kBufferSize];
  unsigned next = 0;          // index of the next unread byte
  unsigned count = 0;         // valid bytes in the buffer
  std::uint64_t offset = 0;   // file offset of the buffer's first byte
};

// Each thread reads its own spool file.
thread_local OpenSpoolFile spool;

void fail(int code) {
  if (code != 0) setError(code);
}

// Reads the bytes that follow the buffer. False at the end of the data or on
// a read failure (which sets the error code).
bool refill() {
  if (!spool.file) return false;
  std::uint64_t offset = spool.offset + spool.count;
  unsigned count = 0;
  int code = fsReadAt(spool.file, offset, spool.buffer, kBufferSize, &count);
  spool.offset = offset;
  spool.next = 0;
  spool.count = code == 0 ? count : 0;
  fail(code);
  return spool.count > 0;
}

// True when a byte is waiting in the buffer, refilling it if need be.
bool haveByte() { return spool.next < spool.count || refill(); }

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
  unsigned count = 0;
  code = fsReadAt(file, 0, spool.buffer, kBufferSize, &count);
  if (code != 0) {
    closeSpoolFile();
    setError(code);
    return;
  }
  spool.count = count;
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

std::string readLine() {
  std::string line;
  if (atEndOfFile()) {
    setError(kErrorPastEnd);
    return line;
  }
  for (;;) {
    if (!haveByte()) return line;
    // Take the run of ordinary bytes in one go.
    unsigned start = spool.next;
    while (spool.next < spool.count && spool.buffer[spool.next] != kCarriageReturn &&
           spool.buffer[spool.next] != kEndOfFileMark)
      ++spool.next;
    line.append(reinterpret_cast<const char*>(spool.buffer + start), spool.next - start);
    if (spool.next == spool.count) continue;
    if (spool.buffer[spool.next] == kEndOfFileMark) return line;  // stays next: end of data
    ++spool.next;  // the CR
    if (haveByte() && spool.buffer[spool.next] == kLineFeed) ++spool.next;
    return line;
  }
}

void closeSpoolFile() {
  if (!spool.file) return;
  fsCloseFile(spool.file);
  spool.file = nullptr;
  spool.next = spool.count = 0;
  spool.offset = 0;
}

void deleteFile(const std::string& name) {
  if (name.empty()) return;
  fail(fsDeleteMatching(name));
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
