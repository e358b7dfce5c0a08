#include "spool/queue.h"

#include <algorithm>
#include <utility>

#include "files/errors.h"
#include "files/fs.h"
#include "files/spoolfile.h"

namespace {

// A new number is tried this often when another watcher took it first.
const int kNumberAttempts = 20;

std::string baseName(const std::string& name) {
  std::string::size_type cut = name.find_last_of("/\\:");
  return cut == std::string::npos ? name : name.substr(cut + 1);
}

// The number after "<base>." in a waiting file's name; false for other names.
bool waitingNumber(const std::string& entry, const std::string& base, unsigned long long* number) {
  std::string::size_type dot = entry.rfind('.');
  if (dot == std::string::npos || dot + 1 == entry.size() || dot + 20 < entry.size()) return false;
  if (!base.empty() && entry.compare(0, dot, base) != 0) return false;
  unsigned long long value = 0;
  for (std::string::size_type i = dot + 1; i < entry.size(); ++i) {
    if (entry[i] < '0' || entry[i] > '9') return false;
    value = value * 10 + static_cast<unsigned long long>(entry[i] - '0');
  }
  *number = value;
  return true;
}

// The waiting files by their queued names. A waiting printout that a run cut
// off while printing it lies under its in-progress name (".NAME.printing",
// see fsTakeFile): it is listed by its queued name, by which it is opened.
std::vector<std::string> listWaiting() {
  std::vector<std::string> entries, listed;
  if (fsListFolder(kWaitingFolder, &entries, true) != 0) return listed;
  const std::string taken = ".printing";
  for (const std::string& entry : entries) {
    if (entry[0] != '.') {
      listed.push_back(entry);
    } else if (entry.size() > taken.size() + 1 &&
               entry.compare(entry.size() - taken.size(), taken.size(), taken) == 0) {
      std::string queued = entry.substr(1, entry.size() - taken.size() - 1);
      if (std::find(entries.begin(), entries.end(), queued) == entries.end()) listed.push_back(queued);
    }
  }
  return listed;
}

std::string waitingPath(const std::string& entry) { return std::string(kWaitingFolder) + "/" + entry; }

}  // namespace

std::vector<std::string> waitingPrintouts(const std::string& spoolName) {
  std::string base = baseName(spoolName);
  std::vector<std::pair<unsigned long long, std::string>> found;
  for (const std::string& entry : listWaiting()) {
    unsigned long long number;
    if (waitingNumber(entry, base, &number)) found.push_back(std::make_pair(number, entry));
  }
  std::sort(found.begin(), found.end());
  std::vector<std::string> paths;
  for (const auto& item : found) paths.push_back(waitingPath(item.second));
  return paths;
}

void queueSpoolFile(const std::string& spoolName) {
  int code = fsCreateFolder(kWaitingFolder);
  if (code != 0) {
    setError(code);
    return;
  }
  std::string base = baseName(spoolName);
  for (int attempt = 0; attempt < kNumberAttempts; ++attempt) {
    // After the highest number of any slot, so that the order of arrival holds
    // across slots too.
    unsigned long long highest = 0;
    for (const std::string& entry : listWaiting()) {
      unsigned long long number;
      if (waitingNumber(entry, std::string(), &number) && number > highest) highest = number;
    }
    std::string number = std::to_string(highest + 1);
    if (number.size() < 6) number.insert(0, 6 - number.size(), '0');
    clearError();
    moveSpoolFile(waitingPath(base + "." + number));
    // kErrorAccess: another watcher took that number first (or the file is refused).
    if (lastError() != kErrorAccess || !spoolFileIsOpen()) return;
  }
}
