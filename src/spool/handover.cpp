#include "spool/handover.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cerrno>
#include <cstdlib>

#include "files/errors.h"
#include "files/fs.h"
#include "files/spoolfile.h"
#include "spool/queue.h"

namespace {

// A record is a few short lines; anything longer is not one of ours.
const std::size_t kRecordLimit = 4096;

std::atomic<unsigned> identityCounter(0);

std::string recordPath(const std::string& identity) { return std::string(kHandOverFolder) + "/" + identity; }

// The identity is the record's file name: nothing but letters, digits and '-'.
bool plainIdentity(const std::string& identity) {
  if (identity.empty() || identity.size() > 64) return false;
  for (char c : identity)
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '-')) return false;
  return true;
}

// Whole numbers separated by single blanks, each checked; false for anything else.
bool parseNumbers(const std::string& text, std::size_t count, std::vector<long long>* numbers) {
  numbers->clear();
  const char* at = text.c_str();
  for (std::size_t i = 0; i < count; ++i) {
    if (i > 0 && *at++ != ' ') return false;
    if (*at != '-' && (*at < '0' || *at > '9')) return false;
    char* end = nullptr;
    errno = 0;
    long long value = std::strtoll(at, &end, 10);
    if (errno != 0 || end == at) return false;
    numbers->push_back(value);
    at = end;
  }
  return *at == '\0';
}

std::string recordText(const HandOver& h) {
  // Identity and size are stored as the bit patterns of signed numbers.
  std::string file = std::to_string(static_cast<long long>(h.file.identity)) + " " +
                     std::to_string(static_cast<long long>(h.file.size)) + " " +
                     std::to_string(static_cast<long long>(h.file.modified));
  // A record that notes no job has no job line, and reads as it did before
  // records noted jobs.
  return "identity=" + h.identity + "\nprinter=" + h.printer + "\nfile=" + file + "\ncontent=" +
         std::to_string(static_cast<long long>(h.content)) + "\nbegan=" +
         std::to_string(static_cast<long long>(h.began)) + "\n" + (h.journal.empty() ? "" : "journal=" + h.journal + "\n") +
         (h.byJob ? "job=" + std::to_string(h.job) + "\n" : std::string()) + (h.ended ? "ended=1\n" : "");
}

bool parseRecord(const std::string& text, HandOver* h) {
  bool haveFile = false, haveBegan = false, haveContent = false;
  std::vector<long long> numbers;
  std::string::size_type at = 0;
  while (at < text.size()) {
    std::string::size_type end = text.find('\n', at);
    if (end == std::string::npos) return false;  // a record is written whole or not at all
    std::string line = text.substr(at, end - at);
    at = end + 1;
    std::string::size_type eq = line.find('=');
    if (eq == std::string::npos) continue;
    std::string key = line.substr(0, eq), value = line.substr(eq + 1);
    if (key == "identity") h->identity = value;
    else if (key == "printer") h->printer = value;
    else if (key == "journal") h->journal = value;
    else if (key == "file") {
      haveFile = parseNumbers(value, 3, &numbers);
      if (haveFile)
        h->file = FileStamp{static_cast<std::uint64_t>(numbers[0]), static_cast<std::uint64_t>(numbers[1]),
                            numbers[2], 0};
    } else if (key == "content") {
      haveContent = parseNumbers(value, 1, &numbers);
      if (haveContent) h->content = static_cast<std::uint64_t>(numbers[0]);
    } else if (key == "began") {
      haveBegan = parseNumbers(value, 1, &numbers);
      if (haveBegan) h->began = numbers[0];
    } else if (key == "job") {
      // A job number that does not read as one is no job: the record then
      // says only what it said before the document started.
      h->byJob = true;
      if (parseNumbers(value, 1, &numbers) && numbers[0] >= 0 && numbers[0] <= 0xFFFFFFFFll)
        h->job = static_cast<std::uint32_t>(numbers[0]);
    } else if (key == "ended") {
      h->ended = value == "1";
    }
  }
  return haveFile && haveBegan && haveContent && plainIdentity(h->identity) && !h->printer.empty();
}

// The same file: a rename keeps all three, a new printout changes at least
// its modification time.
bool sameFile(const FileStamp& a, const FileStamp& b) {
  return a.identity == b.identity && a.size == b.size && a.modified == b.modified;
}

std::vector<HandOver> allRecords() {
  std::vector<HandOver> found;
  std::vector<std::string> names;
  if (fsListFolder(kHandOverFolder, &names) != 0) return found;
  for (const std::string& name : names) {
    if (!plainIdentity(name)) continue;
    std::string text;
    HandOver h;
    if (fsReadSmallFile(recordPath(name), kRecordLimit, &text) == 0 && parseRecord(text, &h) && h.identity == name)
      found.push_back(h);
  }
  return found;
}

}  // namespace

std::string newHandOverIdentity() {
  using namespace std::chrono;
  long long seconds = duration_cast<std::chrono::seconds>(system_clock::now().time_since_epoch()).count();
  unsigned long long fine =
      static_cast<unsigned long long>(duration_cast<nanoseconds>(steady_clock::now().time_since_epoch()).count());
  // Fixed widths, so that identities sort in the order they were made.
  std::string finePart = std::to_string(fine % 1000000000000ull);
  finePart.insert(0, 12 - finePart.size(), '0');
  return std::to_string(seconds) + "-" + finePart + "-" + std::to_string(++identityCounter);
}

int recordHandOver(const HandOver& handOver) {
  if (!plainIdentity(handOver.identity)) return kErrorBadName;
  int code = fsCreateFolder(kHandOverFolder);
  if (code != 0) return code;
  return fsWriteFileSafely(recordPath(handOver.identity), recordText(handOver));
}

namespace {
int rewriteHandOver(const HandOver& handOver) {
  if (!plainIdentity(handOver.identity)) return kErrorBadName;
  return fsWriteFileSafely(recordPath(handOver.identity), recordText(handOver));
}
}  // namespace

int noteHandOverJob(HandOver* handOver, std::uint32_t job) {
  HandOver noted = *handOver;
  noted.job = job;
  int code = rewriteHandOver(noted);
  if (code == 0) *handOver = noted;
  return code;
}

int noteHandOverJournal(HandOver* handOver, const std::string& copy) {
  HandOver noted = *handOver;
  noted.journal = copy;
  int code = rewriteHandOver(noted);
  if (code == 0) *handOver = noted;
  return code;
}

int noteHandOverEnded(HandOver* handOver) {
  HandOver noted = *handOver;
  noted.ended = true;
  int code = rewriteHandOver(noted);
  if (code == 0) *handOver = noted;
  return code;
}

std::uint64_t contentDigest(const std::string& head) {
  std::uint64_t digest = 14695981039346656037ull;
  for (unsigned char c : head) {
    digest ^= c;
    digest *= 1099511628211ull;
  }
  return digest;
}

std::vector<HandOver> handOversOf(const FileStamp& file, std::uint64_t content) {
  std::vector<HandOver> found;
  for (const HandOver& h : allRecords())
    if (sameFile(h.file, file) && h.content == content) found.push_back(h);
  return found;
}

bool readHandOver(const std::string& identity, HandOver* handOver) {
  if (!plainIdentity(identity)) return false;
  std::string text;
  HandOver h;
  if (fsReadSmallFile(recordPath(identity), kRecordLimit, &text) != 0 || !parseRecord(text, &h) ||
      h.identity != identity)
    return false;
  *handOver = h;
  return true;
}

namespace {
std::string baseOf(const std::string& name) {
  std::string::size_type cut = name.find_last_of("/\\:");
  return cut == std::string::npos ? name : name.substr(cut + 1);
}
}  // namespace

std::string sentPath(const std::string& spoolName, const std::string& identity) {
  return std::string(kSentFolder) + "/" + baseOf(spoolName) + "." + identity;
}

std::vector<std::pair<std::string, std::string>> sentPrintouts(const std::string& spoolName) {
  std::vector<std::pair<std::string, std::string>> found;
  std::vector<std::string> names;
  if (spoolName.empty() || fsListFolder(kSentFolder, &names) != 0) return found;
  std::string prefix = baseOf(spoolName) + ".";
  for (const std::string& name : names) {
    if (name.size() <= prefix.size() || name.compare(0, prefix.size(), prefix) != 0) continue;
    std::string identity = name.substr(prefix.size());
    if (plainIdentity(identity)) found.push_back(std::make_pair(std::string(kSentFolder) + "/" + name, identity));
  }
  std::sort(found.begin(), found.end());
  return found;
}

void resolveHandOver(const HandOver& handOver) {
  if (!plainIdentity(handOver.identity)) return;
  // Not synced: a record that a power cut brings back only makes the next
  // start ask the printer, or sweep it when its printout is gone. Its
  // printout's own fate (deleted, queued) is made durable before this.
  fsDeleteFile(recordPath(handOver.identity));
}

void sweepHandOvers(const std::vector<std::string>& spoolNames) {
  // A record whose writing was cut off never took its place: what was
  // written of it goes.
  std::vector<std::string> names;
  if (fsListFolder(kHandOverFolder, &names) == 0)
    for (const std::string& name : names)
      if (name.size() > 4 && name.compare(name.size() - 4, 4, ".new") == 0) fsDeleteFile(recordPath(name));
  std::vector<HandOver> records = allRecords();
  if (records.empty()) return;
  std::vector<FileStamp> present;
  for (const std::string& name : spoolNames) {
    if (name.empty()) continue;
    FileStamp stamp;
    clearError();
    stamp = fileStamp(name);
    if (lastError() == 0) present.push_back(stamp);
    for (const std::string& path : waitingPrintouts(name)) {
      clearError();
      stamp = fileStamp(path);
      if (lastError() == 0) present.push_back(stamp);
    }
  }
  clearError();
  std::vector<std::string> sent;
  fsListFolder(kSentFolder, &sent);
  for (const HandOver& h : records) {
    bool kept = false;
    for (const std::string& name : sent)
      kept = kept || (name.size() > h.identity.size() &&
                      name.compare(name.size() - h.identity.size() - 1, std::string::npos, "." + h.identity) == 0);
    for (const FileStamp& stamp : present) kept = kept || sameFile(stamp, h.file);
    if (!kept) resolveHandOver(h);
  }
}
