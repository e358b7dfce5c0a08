#include "spool/journal.h"

#include <algorithm>
#include <cstring>
#include <cstdio>
#include <set>

#include "console/console.h"
#include "platform/system.h"
#include "console/text.h"
#include "files/errors.h"
#include "files/fs.h"
#include "files/spoolfile.h"
#include "spool/handover.h"

namespace {

#ifdef _WIN32
const char kLineEnd[] = "\r\n";  // the index is read in Notepad and spreadsheets
#else
const char kLineEnd[] = "\n";
#endif

const char kPendingFolder[] = "pending";
const char kCopyEnding[] = ".prn";
const char kTempEnding[] = ".tmp";
const char kIndexHeader[] = "time\tslot\tprinter\tbytes\tpages\tcopies\toutcome\tfile";
const char* const kOutcomeWords[] = {"printed", "waiting", "reprinted", "refused"};
const char kWaitingRecord[] = "waiting";
const char kReprintRecord[] = "reprint";

// A copy is made this much at a time.
const unsigned kCopyPiece = 64 * 1024;
// A new number is tried this often when a name is taken already (another
// ferrin in the same folder).
const int kNameAttempts = 50;
// An index or a pending record larger than this is not read back.
const std::uint64_t kMaxIndexBytes = 64ull * 1024 * 1024;

// The journal's numbering, copies, index lines and what it said.
ProcessLock JournalLock;

// All under JournalLock.
std::string numberedDay;          // the day the next number belongs to
unsigned long long nextNumber = 0;
std::string tidiedDay;            // the day the journal was last tidied
bool failing = false;             // a failure has been said

// A printout that could be neither printed nor queued stays under its own
// name and is tried again: kept once, and written down once, while it is
// unchanged. Each slot's own, used by its watcher only.
struct KeptInPlace {
  bool valid = false;
  FileStamp stamp = {0, 0, 0, 0};
  std::string copy;
  std::uint64_t bytes = 0;
};
KeptInPlace keptInPlace[kSlotCount];

// Copies without an index line, found at the start: a crash cut their
// printouts off before they were written down. Such a printout is taken
// again after the restart and takes up its copy instead of getting a second
// one. Under JournalLock.
std::vector<std::string> unindexedCopies;

std::string twoDigits(int n) { return (n < 10 ? "0" : "") + numberText(n); }

std::string dayText(const LocalTime& t) {
  return numberText(t.year) + "-" + twoDigits(t.month) + "-" + twoDigits(t.day);
}

std::string timeText(const LocalTime& t) { return twoDigits(t.hour) + ":" + twoDigits(t.minute) + ":" + twoDigits(t.second); }

std::string journalPath(const std::string& inside) { return std::string(kJournalFolder) + "/" + inside; }

std::string pendingPath(const std::string& name) { return journalPath(std::string(kPendingFolder) + "/" + name); }

// Days since 1970-01-01 of a "YYYY-MM-DD" name; false for any other name.
bool dayNumber(const std::string& name, long long* days) {
  if (name.size() != 10 || name[4] != '-' || name[7] != '-') return false;
  for (std::size_t i : {0u, 1u, 2u, 3u, 5u, 6u, 8u, 9u})
    if (name[i] < '0' || name[i] > '9') return false;
  long long y = std::stoll(name.substr(0, 4));
  unsigned m = static_cast<unsigned>(std::stoi(name.substr(5, 2)));
  unsigned d = static_cast<unsigned>(std::stoi(name.substr(8, 2)));
  if (m < 1 || m > 12 || d < 1 || d > 31) return false;
  // The civil calendar counted in eras of 400 years.
  y -= m <= 2;
  long long era = (y >= 0 ? y : y - 399) / 400;
  unsigned yoe = static_cast<unsigned>(y - era * 400);
  unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  *days = era * 146097 + static_cast<long long>(doe) - 719468;
  return true;
}

// The number in a copy's name "HHMMSS-NNNNNN.prn" (or its temporary name).
bool copyNumber(const std::string& name, unsigned long long* number) {
  std::string::size_type dash = name.find('-'), dot = name.rfind('.');
  if (dash == std::string::npos || dot == std::string::npos || dot <= dash + 1 || dot - dash > 19) return false;
  unsigned long long value = 0;
  for (std::string::size_type i = dash + 1; i < dot; ++i) {
    if (name[i] < '0' || name[i] > '9') return false;
    value = value * 10 + static_cast<unsigned long long>(name[i] - '0');
  }
  *number = value;
  return true;
}

// The next number of the day (under JournalLock): after the highest in its
// folder, so that numbers go on counting after a restart.
unsigned long long takeNumber(const std::string& day) {
  if (numberedDay != day) {
    numberedDay = day;
    nextNumber = 1;
    std::vector<std::string> names;
    fsListFolder(journalPath(day), &names);
    for (const std::string& name : names) {
      unsigned long long number;
      if (copyNumber(name, &number) && number >= nextNumber) nextNumber = number + 1;
    }
  }
  return nextNumber++;
}

std::string copyStem(const LocalTime& t, unsigned long long number) {
  std::string digits = numberText(static_cast<long long>(number));
  if (digits.size() < 6) digits.insert(0, 6 - digits.size(), '0');
  return twoDigits(t.hour) + twoDigits(t.minute) + twoDigits(t.second) + "-" + digits;
}

std::string slotText(int slotNumber) { return "Printer #" + numberText(slotNumber) + ": "; }

// A failure is said once, and so is the journal working again.
void noteResult(int slotNumber, int code) {
  LockGuard said(JournalLock);
  if (code != 0 && !failing) {
    failing = true;
    const bool full = code == kErrorDiskFull;
    writeOutputLine(slotText(slotNumber) + "printouts cannot be kept in the folder " + kJournalFolder +
                    (full ? ", since the disk is full" : "") + " (error " + numberText(code) +
                    "), so they are printed without a copy there. " +
                    (full ? "Make room on the disk." : "Check that ferrin may write its folder."));
  } else if (code == 0 && failing) {
    failing = false;
    writeOutputLine(slotText(slotNumber) + "printouts are kept in the folder " + kJournalFolder + " again.");
  }
}

// Writes the open spool file's bytes into the new file; 0 or the error code.
int writeCopy(FsFile out, std::uint64_t* bytes) {
  std::vector<unsigned char> piece(kCopyPiece);
  *bytes = 0;
  for (;;) {
    unsigned got = 0;
    int code = readSpoolAt(*bytes, piece.data(), kCopyPiece, &got);
    if (code != 0) return code;
    if (got == 0) return 0;
    code = fsWriteFile(out, piece.data(), got);
    if (code != 0) return code;
    *bytes += got;
  }
}

// Keeps a copy of the open spool file in today's folder (under JournalLock).
// 0 or the error code.
int keepCopy(JournalEntry* entry) {
  LocalTime now = localTimeNow();
  std::string day = dayText(now);
  int code = fsCreateFolder(kJournalFolder);
  if (code == 0) code = fsCreateFolder(journalPath(day));
  if (code != 0) return code;
  for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
    std::string stem = day + "/" + copyStem(now, takeNumber(day));
    std::string temp = journalPath(stem + kTempEnding);
    FsFile out = nullptr;
    code = fsCreateNewFile(temp, &out);
    if (code == kErrorAccess) continue;  // taken by another ferrin: the next number
    if (code != 0) return code;
    code = writeCopy(out, &entry->bytes);
    // Renamed only when whole: a copy under its final name is never partial.
    if (code == 0) code = fsMoveFile(out, journalPath(stem + kCopyEnding));
    if (code == 0) {
      entry->copy = stem + kCopyEnding;
      entry->kept = true;
      entry->unsynced = out;
      return 0;
    }
    fsCloseFile(out);
    fsDeleteFile(temp);
    if (code != kErrorAccess) return code;
  }
  return kErrorAccess;
}

// The printer's name as one field of a line.
std::string fieldOf(std::string text) {
  for (char& c : text)
    if (c == '\t' || c == '\r' || c == '\n') c = ' ';
  return text;
}

int appendIndexLine(const std::string& line) {
  LocalTime now = localTimeNow();
  std::string day = dayText(now);
  int code = fsCreateFolder(kJournalFolder);
  if (code == 0) code = fsCreateFolder(journalPath(day));
  if (code != 0) return code;
  std::string index = journalPath(day + "/" + kJournalIndex);
  FileStamp stamp;
  std::string text = timeText(now) + "\t" + line + kLineEnd;
  if (fsFileStamp(index, &stamp) != 0) text = std::string(kIndexHeader) + kLineEnd + text;
  return fsAppendToFile(index, text);
}

// Reads a whole small file; false when it cannot be read.
bool readWhole(const std::string& path, std::string* bytes, std::uint64_t limit) {
  bytes->clear();
  FsFile in = nullptr;
  if (fsOpenReadFile(path, &in) != 0) return false;
  std::uint64_t size = 0;
  bool ok = fsFileSize(in, &size) == 0 && size <= limit;
  std::vector<unsigned char> piece(kCopyPiece);
  while (ok && bytes->size() < size) {
    unsigned got = 0;
    ok = fsReadAt(in, bytes->size(), piece.data(), kCopyPiece, &got) == 0;
    if (got == 0) break;
    bytes->append(reinterpret_cast<const char*>(piece.data()), got);
  }
  fsCloseFile(in);
  return ok;
}

// A pending record: "<kind>\t<slot>\t<copy>".
struct PendingRecord {
  std::string path;
  std::string kind;
  int slotNumber = -1;
  std::string copy;
};

bool readRecord(const std::string& name, PendingRecord* record) {
  std::string text;
  if (!readWhole(pendingPath(name), &text, 4096)) return false;
  std::string::size_type first = text.find('\t'), second = first == std::string::npos ? first : text.find('\t', first + 1);
  if (second == std::string::npos) return false;
  record->path = pendingPath(name);
  record->kind = text.substr(0, first);
  std::string slot = text.substr(first + 1, second - first - 1);
  if (slot.size() != 1 || slot[0] < '0' || slot[0] > '9') return false;
  record->slotNumber = slot[0] - '0';
  record->copy = text.substr(second + 1);
  while (!record->copy.empty() && (record->copy.back() == '\n' || record->copy.back() == '\r')) record->copy.pop_back();
  return !record->copy.empty();
}

// True when the open spool file holds exactly the copy's bytes.
bool spoolFileEquals(const std::string& copy) {
  FsFile in = nullptr;
  if (fsOpenReadFile(journalPath(copy), &in) != 0) return false;
  std::uint64_t size = 0;
  bool same = fsFileSize(in, &size) == 0 && size == spoolFileLength();
  std::vector<unsigned char> mine(kCopyPiece), theirs(kCopyPiece);
  for (std::uint64_t at = 0; same && at < size;) {
    unsigned a = 0, b = 0;
    same = fsReadAt(in, at, theirs.data(), kCopyPiece, &a) == 0 && readSpoolAt(at, mine.data(), kCopyPiece, &b) == 0 &&
           a == b && a > 0 && std::equal(mine.begin(), mine.begin() + a, theirs.begin());
    at += a;
  }
  fsCloseFile(in);
  return same;
}

// Writes a pending record under a new name; its path, or empty.
std::string writeRecord(const char* kind, int slotNumber, const std::string& copy) {
  if (fsCreateFolder(journalPath(kPendingFolder)) != 0) return std::string();
  std::string text = std::string(kind) + "\t" + numberText(slotNumber) + "\t" + copy + kLineEnd;
  std::string stem = copy;
  std::replace(stem.begin(), stem.end(), '/', '-');
  for (int n = 1; n <= kNameAttempts; ++n) {
    std::string path = pendingPath(std::string(kind) + "-" + stem + "-" + numberText(n));
    FsFile out = nullptr;
    int code = fsCreateNewFile(path, &out);
    if (code == kErrorAccess) continue;
    if (code != 0) return std::string();
    code = fsWriteFile(out, reinterpret_cast<const unsigned char*>(text.data()), static_cast<unsigned>(text.size()));
    if (code == 0) code = fsSyncFile(out);
    fsCloseFile(out);
    if (code == 0) return path;
    fsDeleteFile(path);
    return std::string();
  }
  return std::string();
}

bool copyNameAllowed(const std::string& copy);

// The pending record of a printout that has printed goes, durably: one that
// a power cut brought back would tie the copy to the next printout of the
// same bytes. Under JournalLock.
void dropPrinted(JournalEntry& entry) {
  if (entry.pending.empty()) return;
  if (fsDeleteFile(entry.pending) == 0) fsSyncFolder(journalPath(kPendingFolder));
  entry.pending.clear();
}

std::string dayOfCopy(const std::string& copy) { return copy.substr(0, copy.find('/')); }

// True when the day's index names the copy.
bool indexNames(const std::string& copy) {
  std::string index;
  return readWhole(journalPath(dayOfCopy(copy) + "/" + kJournalIndex), &index, kMaxIndexBytes) &&
         index.find("\t" + copy + kLineEnd) != std::string::npos;
}

// A copy kept of this very printout by a run that a crash cut off: named by
// the record of its hand-over, or left without an index line. True when the
// entry takes it up.
bool takeUpEarlierCopy(JournalEntry* entry) {
  std::vector<std::string> candidates;
  for (const HandOver& h : handOversOf(entry->stamp, contentDigest(peekSpoolFile(kDigestBytes))))
    if (!h.journal.empty()) candidates.push_back(h.journal);
  {
    LockGuard lock(JournalLock);
    candidates.insert(candidates.end(), unindexedCopies.begin(), unindexedCopies.end());
  }
  for (const std::string& copy : candidates) {
    if (!copyNameAllowed(copy) || !spoolFileEquals(copy)) continue;
    {
      LockGuard lock(JournalLock);
      unindexedCopies.erase(std::remove(unindexedCopies.begin(), unindexedCopies.end(), copy), unindexedCopies.end());
    }
    entry->kept = true;
    entry->copy = copy;
    entry->bytes = spoolFileLength();
    entry->flushCopy = true;
    entry->indexed = indexNames(copy);
    return true;
  }
  return false;
}

void removeDay(const std::string& day) {
  std::vector<std::string> names;
  fsListFolder(journalPath(day), &names);
  for (const std::string& name : names) fsDeleteFile(journalPath(day + "/" + name));
  fsRemoveFolder(journalPath(day));
}

}  // namespace

JournalEntry keepInJournal(int slotNumber, const PrinterSlot& slot) {
  JournalEntry entry;
  entry.slotNumber = slotNumber;
  entry.printer = slot.printername;
  entry.copies = slot.options.copies > 1 ? slot.options.copies : 1;
  if (slot.options.journalDays <= 0 || slotNumber < 0 || slotNumber >= kSlotCount) return entry;
  clearError();
  entry.stamp = spoolFileStamp();
  bool stamped = lastError() == 0;
  clearError();
  const KeptInPlace& before = keptInPlace[slotNumber];
  if (stamped && before.valid && before.stamp == entry.stamp) {
    entry.kept = true;
    entry.keptBefore = true;
    entry.copy = before.copy;
    entry.bytes = before.bytes;
    return entry;
  }
  if (stamped && takeUpEarlierCopy(&entry)) return entry;
  int code;
  {
    LockGuard lock(JournalLock);
    code = keepCopy(&entry);
  }
  noteResult(slotNumber, code);
  return entry;
}

JournalEntry findInJournal(int slotNumber, const PrinterSlot& slot) {
  std::vector<std::string> names;
  {
    LockGuard lock(JournalLock);
    fsListFolder(journalPath(kPendingFolder), &names);
  }
  std::sort(names.begin(), names.end());
  for (const std::string& name : names) {
    PendingRecord record;
    if (!readRecord(name, &record) || record.slotNumber != slotNumber || !spoolFileEquals(record.copy)) continue;
    JournalEntry entry;
    entry.kept = true;
    entry.slotNumber = slotNumber;
    entry.printer = slot.printername;
    entry.copy = record.copy;
    entry.bytes = spoolFileLength();
    entry.pending = record.path;
    entry.reprint = record.kind == kReprintRecord;
    entry.copies = slot.options.copies > 1 ? slot.options.copies : 1;
    return entry;
  }
  return keepInJournal(slotNumber, slot);
}

void recordInJournal(JournalEntry& entry, JournalOutcome outcome, int pages) {
  if (!entry.kept) return;
  // On the disk before the spool file goes: the copy outlives a power cut too.
  if (entry.unsynced != nullptr || entry.flushCopy) {
    int code = entry.unsynced != nullptr ? fsSyncFile(entry.unsynced) : fsSyncFileByName(journalPath(entry.copy));
    if (entry.unsynced != nullptr) fsCloseFile(entry.unsynced);
    entry.unsynced = nullptr;
    entry.flushCopy = false;
    // Its name too: it was renamed into place.
    if (code == 0) code = fsSyncFolder(journalPath(dayOfCopy(entry.copy)));
    if (code != 0) {
      noteResult(entry.slotNumber, code);
      return;
    }
  }
  // A printout that goes on waiting is written down once, when it is queued;
  // one kept under its own name, once until it is printed or queued.
  if (outcome == kJournalWaiting && !entry.pending.empty()) return;
  KeptInPlace& inPlace = keptInPlace[entry.slotNumber];
  inPlace.valid = outcome == kJournalRefused;
  if (inPlace.valid) {
    inPlace.stamp = entry.stamp;
    inPlace.copy = entry.copy;
    inPlace.bytes = entry.bytes;
    if (entry.keptBefore) return;
  }
  // Taken up from a run cut off after it was written down as printed.
  if (entry.indexed && (outcome == kJournalPrinted || outcome == kJournalReprinted)) {
    LockGuard lock(JournalLock);
    dropPrinted(entry);
    return;
  }
  std::string pagesText = outcome == kJournalWaiting || outcome == kJournalRefused ? "0"
                          : pages < 0                                               ? "-"
                                                                                    : numberText(pages);
  std::string line = numberText(entry.slotNumber) + "\t" + fieldOf(entry.printer) + "\t" +
                     numberText(static_cast<long long>(entry.bytes)) + "\t" + pagesText + "\t" +
                     numberText(entry.copies) + "\t" + kOutcomeWords[outcome] + "\t" + entry.copy;
  int code;
  {
    LockGuard lock(JournalLock);
    code = appendIndexLine(line);
    if (code == 0 && outcome == kJournalWaiting) {
      entry.pending = writeRecord(kWaitingRecord, entry.slotNumber, entry.copy);
      if (entry.pending.empty()) code = kErrorAccess;
    }
    if (outcome == kJournalPrinted || outcome == kJournalReprinted) dropPrinted(entry);
  }
  noteResult(entry.slotNumber, code);
}

void tidyJournal(int days) {
  if (days <= 0) return;
  std::string today = dayText(localTimeNow());
  {
    LockGuard lock(JournalLock);
    if (tidiedDay == today) return;
    tidiedDay = today;
  }
  int keep = std::max(days, longestJournalDays());
  long long todayNumber;
  if (keep <= 0 || !dayNumber(today, &todayNumber)) return;
  LockGuard lock(JournalLock);
  std::vector<std::string> found;
  fsListSubfolders(kJournalFolder, &found);
  for (const std::string& day : found) {
    long long number;
    if (dayNumber(day, &number) && todayNumber - number > keep) removeDay(day);
  }
  // A record whose copy is gone (its day removed) ties nothing any more: its
  // waiting printout, if still there, gets a copy of its own when printed.
  std::vector<std::string> records;
  fsListFolder(journalPath(kPendingFolder), &records);
  for (const std::string& name : records) {
    PendingRecord record;
    FileStamp stamp;
    if (!readRecord(name, &record)) continue;
    int code = fsFileStamp(journalPath(record.copy), &stamp);
    if (code == kErrorFileNotFound || code == kErrorPathNotFound) fsDeleteFile(record.path);
  }
}

void removeJournalLeftovers() {
  LockGuard lock(JournalLock);
  // A new start: the journal is tidied at its first cycle.
  tidiedDay.clear();
  numberedDay.clear();
  unindexedCopies.clear();
  std::vector<std::string> days, names;
  fsListSubfolders(kJournalFolder, &days);
  const std::size_t ending = std::strlen(kTempEnding);
  for (const std::string& day : days) {
    long long number;
    if (!dayNumber(day, &number) || fsListFolder(journalPath(day), &names) != 0) continue;
    std::string index;
    if (!readWhole(journalPath(day + "/" + kJournalIndex), &index, kMaxIndexBytes)) index.clear();
    for (const std::string& name : names) {
      if (name.size() > ending && name.compare(name.size() - ending, ending, kTempEnding) == 0)
        fsDeleteLeftover(journalPath(day + "/" + name));
      std::string copy = day + "/" + name;
      if (name.size() > 4 && name.compare(name.size() - 4, 4, kCopyEnding) == 0 &&
          index.find("\t" + copy + kLineEnd) == std::string::npos)
        unindexedCopies.push_back(copy);
    }
  }
  // A pending record whose writing was cut off ties nothing.
  fsListFolder(journalPath(kPendingFolder), &names);
  for (const std::string& name : names) {
    PendingRecord record;
    if (!readRecord(name, &record)) fsDeleteLeftover(pendingPath(name));
  }
}

std::vector<std::string> journalDays() {
  std::vector<std::string> found, days;
  fsListSubfolders(kJournalFolder, &found);
  for (const std::string& day : found) {
    long long number;
    if (dayNumber(day, &number)) days.push_back(day);
  }
  std::sort(days.begin(), days.end());
  return days;
}

std::vector<JournalListing> journalPrintouts(const std::string& day) {
  std::vector<JournalListing> listed;
  std::set<std::string> seen;
  std::string text;
  if (!readWhole(journalPath(day + "/" + kJournalIndex), &text, kMaxIndexBytes)) return listed;
  std::string::size_type at = 0;
  while (at < text.size()) {
    std::string::size_type end = text.find('\n', at);
    std::string line = text.substr(at, end == std::string::npos ? std::string::npos : end - at);
    at = end == std::string::npos ? text.size() : end + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::vector<std::string> fields;
    std::string::size_type from = 0;
    for (;;) {
      std::string::size_type tab = line.find('\t', from);
      fields.push_back(line.substr(from, tab == std::string::npos ? std::string::npos : tab - from));
      if (tab == std::string::npos) break;
      from = tab + 1;
    }
    // Lines written before the index noted copies have one field fewer.
    if ((fields.size() != 8 && fields.size() != 7) || fields[1].size() != 1 || fields[1][0] < '0' ||
        fields[1][0] > '9')
      continue;
    const std::string& copy = fields.back();
    if (!seen.insert(copy).second) continue;
    JournalListing listing;
    listing.day = day;
    listing.time = fields[0];
    listing.slotNumber = fields[1][0] - '0';
    listing.copy = copy;
    listed.push_back(listing);
  }
  return listed;
}

namespace {
// Only a copy's own path: never a way out of the journal folder.
bool copyNameAllowed(const std::string& copy) {
  return !copy.empty() && copy.find("..") == std::string::npos && copy.find(':') == std::string::npos &&
         copy[0] != '/' && copy[0] != '\\';
}
}  // namespace

bool readJournalCopy(const std::string& copy, std::string* bytes, std::uint64_t limit) {
  return copyNameAllowed(copy) && readWhole(journalPath(copy), bytes, limit);
}

int copyFromJournal(const std::string& copy, const std::string& target) {
  if (!copyNameAllowed(copy)) return kErrorBadName;
  FsFile in = nullptr, out = nullptr;
  int code = fsOpenReadFile(journalPath(copy), &in);
  if (code != 0) return code;
  code = fsCreateNewFile(target, &out);
  std::vector<unsigned char> piece(kCopyPiece);
  for (std::uint64_t at = 0; code == 0;) {
    unsigned got = 0;
    code = fsReadAt(in, at, piece.data(), kCopyPiece, &got);
    if (code != 0 || got == 0) break;
    code = fsWriteFile(out, piece.data(), got);
    at += got;
  }
  if (code == 0) code = fsSyncFile(out);
  fsCloseFile(in);
  if (out == nullptr) return code;
  fsCloseFile(out);
  if (code != 0) fsDeleteFile(target);
  return code;
}

namespace {
// Whether a pending record ties the copy to the slot already (written by a
// run that a crash cut off after it wrote the record). Under JournalLock.
bool tiedAlready(int slotNumber, const std::string& copy) {
  std::vector<std::string> names;
  fsListFolder(journalPath(kPendingFolder), &names);
  for (const std::string& name : names) {
    PendingRecord record;
    if (readRecord(name, &record) && record.slotNumber == slotNumber && record.copy == copy) return true;
  }
  return false;
}
}  // namespace

void keepCopyForRequeued(int slotNumber, const std::string& copy) {
  if (!copyNameAllowed(copy)) return;
  LockGuard lock(JournalLock);
  if (tiedAlready(slotNumber, copy)) return;
  if (!writeRecord(kWaitingRecord, slotNumber, copy).empty()) fsSyncFolder(journalPath(kPendingFolder));
}

void tieCopyToTarget(int slotNumber, const JournalEntry& source) {
  if (!source.kept || !copyNameAllowed(source.copy) || slotNumber < 0 || slotNumber >= kSlotCount) return;
  int code = 0;
  {
    LockGuard lock(JournalLock);
    if (tiedAlready(slotNumber, source.copy)) return;
    code = writeRecord(kWaitingRecord, slotNumber, source.copy).empty() ? kErrorAccess : 0;
    if (code == 0) code = fsSyncFolder(journalPath(kPendingFolder));
  }
  noteResult(slotNumber, code);
}

void noteCopyForTarget(int slotNumber, const PrinterSlot& slot, const JournalEntry& source) {
  if (!source.kept || slotNumber < 0 || slotNumber >= kSlotCount) return;
  // Written here rather than by recordInJournal, whose memory of printouts
  // kept in place is the target's own watcher's.
  const int copies = slot.options.copies > 1 ? slot.options.copies : 1;
  std::string line = numberText(slotNumber) + "\t" + fieldOf(slot.printername) + "\t" +
                     numberText(static_cast<long long>(source.bytes)) + "\t0\t" + numberText(copies) + "\t" +
                     kOutcomeWords[kJournalWaiting] + "\t" + source.copy;
  int code;
  {
    LockGuard lock(JournalLock);
    code = appendIndexLine(line);
  }
  noteResult(slotNumber, code);
}

std::string markReprint(int slotNumber, const std::string& copy) {
  LockGuard lock(JournalLock);
  return writeRecord(kReprintRecord, slotNumber, copy);
}

void dropPendingRecord(const std::string& record) {
  LockGuard lock(JournalLock);
  fsDeleteFile(record);
}
