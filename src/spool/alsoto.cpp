#include "spool/alsoto.h"

#include <cstdint>

#include "files/errors.h"
#include "files/fs.h"
#include "files/spoolfile.h"
#include "spool/handover.h"
#include "spool/mailqueue.h"
#include "spool/queue.h"

namespace {

// A name no queue lists: it does not end in a number.
const char kCopyPrefix[] = "also-";
const char kCopyEnding[] = ".copy";
// A copy is made this much at a time.
const unsigned kCopyPiece = 64 * 1024;

std::string folderOf(const std::string& name) {
  std::string::size_type slash = name.find_last_of("/\\");
  return slash == std::string::npos ? std::string(".") : name.substr(0, slash);
}

// The original as a name part: its stamp (a rename keeps it) and the digest
// of its first bytes, unsigned numbers joined by '-'.
std::string sourceText(const FileStamp& stamp, std::uint64_t digest) {
  return std::to_string(stamp.identity) + "-" + std::to_string(stamp.size) + "-" +
         std::to_string(static_cast<std::uint64_t>(stamp.modified)) + "-" + std::to_string(digest);
}

// The open spool file as a name part; false when it cannot be stamped.
bool openSourceText(std::string* text) {
  clearError();
  FileStamp stamp = spoolFileStamp();
  if (lastError() != 0) return false;
  *text = sourceText(stamp, contentDigest(peekSpoolFile(kDigestBytes)));
  return true;
}

// A printer's number, or 'm' for the slot's mail.
char targetMark(int target) { return target == kMailTarget ? 'm' : static_cast<char>('0' + target); }

std::string copyPath(int slotNumber, int target, const std::string& source) {
  return std::string(kWaitingFolder) + "/" + kCopyPrefix + std::to_string(slotNumber) + "-" + targetMark(target) +
         "-" + source + kCopyEnding;
}

// Writes the open spool file's bytes, whole and synced, under `path`; a
// copy left there by an earlier try is made again. 0 or the error code.
int writeCopy(const std::string& path) {
  FsFile out = nullptr;
  int code = fsCreateNewFile(path, &out);
  if (code == kErrorAccess && fsDeleteFile(path) == 0) code = fsCreateNewFile(path, &out);
  if (code != 0) return code;
  std::vector<unsigned char> piece(kCopyPiece);
  for (std::uint64_t at = 0;;) {
    unsigned got = 0;
    code = readSpoolAt(at, piece.data(), kCopyPiece, &got);
    if (code != 0 || got == 0) break;
    code = fsWriteFile(out, piece.data(), got);
    if (code != 0) break;
    at += got;
  }
  if (code == 0) code = fsSyncFile(out);
  fsCloseFile(out);
  if (code != 0) fsDeleteFile(path);
  return code;
}

// A copy's name taken apart: source slot, target and the original.
bool parseCopyName(const std::string& name, int* slotNumber, int* target, std::string* source) {
  const std::string prefix = kCopyPrefix, ending = kCopyEnding;
  if (name.size() < prefix.size() + 5 + ending.size() || name.compare(0, prefix.size(), prefix) != 0 ||
      name.compare(name.size() - ending.size(), ending.size(), ending) != 0)
    return false;
  const std::string rest = name.substr(prefix.size(), name.size() - prefix.size() - ending.size());
  if (rest[0] < '0' || rest[0] >= '0' + kSlotCount || rest[1] != '-' ||
      (rest[2] != 'm' && (rest[2] < '0' || rest[2] >= '0' + kSlotCount)) || rest[3] != '-')
    return false;
  *slotNumber = rest[0] - '0';
  *target = rest[2] == 'm' ? kMailTarget : rest[2] - '0';
  *source = rest.substr(4);
  return !source->empty() && *slotNumber != *target;
}

// Whether the original of that name part is still under the slot's spool
// name (on POSIX, its taken copy is found first): not when it cannot be
// opened, nor when another file is there.
bool originalStillThere(int slotNumber, const std::string& source) {
  std::string name = slotSnapshot(slotNumber).filename;
  if (name.empty()) return false;
  clearError();
  openSpoolFile(name);
  if (lastError() != 0) return false;
  std::string there;
  bool same = openSourceText(&there) && there == source;
  closeSpoolFile();
  return same;
}

// Moves one copy into its printer's queue (the mail's: the mail queue of
// its slot). 0 or the error code.
int queueCopy(const std::string& path, int slotNumber, int target) {
  if (target == kMailTarget) return queueMail(path, slotNumber);
  std::string spoolName = slotSnapshot(target).filename;
  if (spoolName.empty()) return kErrorBadName;
  clearError();
  openSpoolFile(path);
  if (lastError() == 0) queueSpoolFile(spoolName);
  int code = lastError();
  closeSpoolFile();
  clearError();
  return code;
}

}  // namespace

std::vector<int> printoutTargets(int slotNumber, const PrinterSlot& slot, std::vector<int>* refused) {
  std::vector<int> targets;
  for (int target = 0; target < kSlotCount; ++target) {
    if ((slot.options.alsoTo & (1u << target)) == 0 || target == slotNumber) continue;
    PrinterSlot other = slotSnapshot(target);
    bool watched = target == 0 || other.printername[0] != '\0';
    if (watched && other.filename[0] != '\0') targets.push_back(target);
    else if (refused != nullptr) refused->push_back(target);
  }
  if (slot.options.mail.to[0] != '\0') targets.push_back(kMailTarget);
  return targets;
}

int copyForTargets(int slotNumber, const std::vector<int>& targets, const JournalEntry& kept, TargetCopies* copies) {
  *copies = TargetCopies();
  if (targets.empty()) return 0;
  std::string source;
  if (!openSourceText(&source)) return kErrorOther;
  int code = fsCreateFolder(kWaitingFolder);
  for (std::size_t i = 0; code == 0 && i < targets.size(); ++i) {
    std::string path = copyPath(slotNumber, targets[i], source);
    code = writeCopy(path);
    if (code != 0) break;
    copies->targets.push_back(targets[i]);
    copies->paths.push_back(path);
  }
  // Their names too, before the original can leave its spool name.
  if (code == 0) code = fsSyncFolder(kWaitingFolder);
  if (code == 0) {
    for (int target : copies->targets)
      if (target != kMailTarget) tieCopyToTarget(target, kept);
    return 0;
  }
  for (const std::string& path : copies->paths) fsDeleteFile(path);
  *copies = TargetCopies();
  return code;
}

int releaseTargetCopies(int slotNumber, const std::string& spoolName, const TargetCopies& copies,
                        const JournalEntry& kept) {
  closeSpoolFile();
  if (copies.paths.empty()) return 0;
  // The original's leaving first: a power cut must not bring it back, to be
  // copied again, once its copies are in their queues.
  fsSyncFolder(folderOf(spoolName));
  int failed = 0;
  for (std::size_t i = 0; i < copies.paths.size(); ++i) {
    // Before it joins the queue: its printer may print it at once.
    if (copies.targets[i] != kMailTarget) noteCopyForTarget(copies.targets[i], slotSnapshot(copies.targets[i]), kept);
    if (queueCopy(copies.paths[i], slotNumber, copies.targets[i]) != 0) ++failed;
  }
  fsSyncFolder(kWaitingFolder);
  return failed;
}

void settleTargetCopies() {
  std::vector<std::string> names;
  if (fsListFolder(kWaitingFolder, &names) != 0) return;
  bool moved = false;
  for (const std::string& name : names) {
    int slotNumber = 0, target = 0;
    std::string source;
    if (!parseCopyName(name, &slotNumber, &target, &source)) continue;
    std::string path = std::string(kWaitingFolder) + "/" + name;
    if (originalStillThere(slotNumber, source)) {
      fsDeleteFile(path);
    } else if (queueCopy(path, slotNumber, target) == 0) {
      moved = true;
    }
  }
  if (moved) fsSyncFolder(kWaitingFolder);
}
