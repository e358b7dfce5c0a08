#include "spool/reprint.h"

#include <cstdio>

#include "config/slots.h"
#include "console/console.h"
#include "platform/system.h"
#include "console/text.h"
#include "files/errors.h"
#include "files/fs.h"
#include "files/spoolfile.h"
#include "lang/probe.h"
#include "lang/scan.h"
#include "spool/journal.h"
#include "spool/printout.h"
#include "spool/queue.h"

namespace {

// The first line of text is looked for this far into a printout.
const std::uint64_t kFirstLineBytes = 16 * 1024;
const std::size_t kFirstLineWidth = 40;
// A new temporary name is tried this often when one is taken.
const int kTempAttempts = 20;

std::string slotText(int slotNumber) { return "Printer #" + numberText(slotNumber) + ": "; }

std::string baseName(const std::string& name) {
  std::string::size_type cut = name.find_last_of("/\\:");
  return cut == std::string::npos ? name : name.substr(cut + 1);
}

// Today's printouts, newest first.
std::vector<JournalListing> todaysPrintouts() {
  std::vector<JournalListing> today;
  std::vector<std::string> days = journalDays();
  LocalTime now = localTimeNow();
  char name[16];
  (void)std::snprintf(name, sizeof name, "%04d-%02d-%02d", now.year, now.month, now.day);
  if (days.empty() || days.back() != name) return today;
  std::vector<JournalListing> listed = journalPrintouts(days.back());
  for (std::size_t i = listed.size(); i > 0 && today.size() < static_cast<std::size_t>(kReprintChoices); --i)
    today.push_back(listed[i - 1]);
  return today;
}

// The newest printout of any day; false when the journal holds none.
bool lastPrintout(JournalListing* last) {
  std::vector<std::string> days = journalDays();
  for (std::size_t i = days.size(); i > 0; --i) {
    std::vector<JournalListing> listed = journalPrintouts(days[i - 1]);
    if (listed.empty()) continue;
    *last = listed.back();
    return true;
  }
  return false;
}

// The first line of a printout with any text on it, its control codes left
// out, cut to the list's width.
std::string firstTextLine(const std::string& copy) {
  std::string bytes;
  if (!readJournalCopy(copy, &bytes, ~0ull)) return std::string();
  if (bytes.size() > kFirstLineBytes) bytes.resize(kFirstLineBytes);
  std::string line = firstLineOfText(bytes);
  if (line.size() > kFirstLineWidth) line.resize(kFirstLineWidth);
  return line;
}

// Puts a copy of the kept printout into its slot's waiting queue.
bool queueCopy(const JournalListing& printout, std::string* message) {
  std::string what = "the printout of " + printout.time;
  std::string spoolName = slotSnapshot(printout.slotNumber).filename;
  if (spoolName.empty()) {
    *message = slotText(printout.slotNumber) + what + " cannot be printed again, since the printer has no spool file" +
               " name. Press S to set the printer up again.";
    return false;
  }
  std::string failure = slotText(printout.slotNumber) + what + " could not be put into the folder " + kWaitingFolder;
  int code = fsCreateFolder(kWaitingFolder);
  // Written aside under a name the queue passes over, then queued whole.
  std::string temp;
  for (int n = 1; code == 0 && n <= kTempAttempts; ++n) {
    temp = std::string(kWaitingFolder) + "/" + baseName(spoolName) + ".reprint-" + numberText(n);
    code = copyFromJournal(printout.copy, temp);
    if (code != kErrorAccess) break;
  }
  // The record first: a running watcher may print the printout as soon as
  // it is queued, and is to find it a reprint.
  std::string record;
  if (code == 0) {
    record = markReprint(printout.slotNumber, printout.copy);
    if (record.empty()) code = kErrorAccess;
  }
  if (code == 0) {
    clearError();
    openSpoolFile(temp);
    code = lastError();
  }
  if (code == 0) {
    clearError();
    queueSpoolFile(spoolName);
    code = lastError();
  }
  if (code != 0) {
    closeSpoolFile();
    if (!temp.empty()) fsDeleteFile(temp);
    if (!record.empty()) dropPendingRecord(record);
    *message = failure + " (error " + numberText(code) + "). Check that ferrin may write its folder.";
    return false;
  }
  *message = slotText(printout.slotNumber) + what + " is printed again.";
  return true;
}

std::string nothingKept() {
  return std::string("There is nothing to print again, since no printout has been kept. Set journal in a printer's"
                     " section of ferrin.ini to keep its printouts for that many days.");
}

}  // namespace

std::vector<std::string> reprintChoiceLines() {
  std::vector<std::string> lines;
  int number = 0;
  for (const JournalListing& printout : todaysPrintouts()) {
    std::string line = "  " + numberText(++number) + "  " + printout.time + "  printer #" +
                       numberText(printout.slotNumber) + "  " + firstTextLine(printout.copy);
    lines.push_back(line);
  }
  return lines;
}

bool reprintPrintout(int number, std::string* message) {
  JournalListing printout;
  if (number <= 0) {
    if (!lastPrintout(&printout)) {
      *message = nothingKept();
      return false;
    }
    return queueCopy(printout, message);
  }
  std::vector<JournalListing> today = todaysPrintouts();
  if (today.empty() && !lastPrintout(&printout)) {
    *message = nothingKept();
    return false;
  }
  if (static_cast<std::size_t>(number) > today.size()) {
    *message = "There is no printout number " + numberText(number) + " among today's " +
               numberText(static_cast<long long>(today.size())) + ". Choose one of the list, or Enter for the last one.";
    return false;
  }
  return queueCopy(today[static_cast<std::size_t>(number) - 1], message);
}

void runReprintKey() {
  JournalListing last;
  if (!lastPrintout(&last)) {
    writeOutputLine(nothingKept());
    return;
  }
  std::vector<std::string> lines = reprintChoiceLines();
  if (!lines.empty()) writeOutputLine("Today's last printouts:");
  for (const std::string& line : lines) {
    writeScreenText(line);
    endScreenLine();
  }
  std::string answer = inputLine("Which printout is to be printed again? Press Enter for the last one, or type its"
                                 " number: ");
  int number = 0;
  if (!answer.empty()) {
    if (answer.size() > 2 || answer.find_first_not_of("0123456789") != std::string::npos) {
      writeOutputLine("\"" + answer + "\" is not a number of the list, so nothing is printed again.");
      return;
    }
    number = std::stoi(answer);
    if (number == 0) {
      writeOutputLine("There is no printout number 0, so nothing is printed again.");
      return;
    }
  }
  std::string message;
  reprintPrintout(number, &message);
  writeOutputLine(message);
}
