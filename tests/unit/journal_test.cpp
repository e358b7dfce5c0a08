// The journal over real files and the recording printer: every printout kept
// byte for byte with its index lines, one copy for a printout that waited,
// old days tidied away, a reprint printed once more through the queue, and a
// journal that cannot be written said once while printing goes on, and a
// printout tried again and again kept and written down once.
#include <gtest/gtest.h>

#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "config/slots.h"
#include "console/console.h"
#include "platform/system.h"
#include "fake/device_fake.h"
#include "files/errors.h"
#include "spool/cycle.h"
#include "spool/reprint.h"
#include "unit/filefaults.h"
#include "unit/oldfile.h"
#include "unit/tempdir.h"

namespace {

namespace fs = std::filesystem;

const char kSpool[] = "WLSDFKJN.DRY";

std::string readFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

void setSlot(const std::string& printer, int journalDays) {
  PrinterSlot slot;
  std::memset(&slot, 0, sizeof slot);
  slot.options.journalDays = journalDays;
  std::strncpy(slot.printername, printer.c_str(), sizeof slot.printername - 1);
  std::strncpy(slot.fontname, "Courier New", sizeof slot.fontname - 1);
  std::strncpy(slot.filename, kSpool, sizeof slot.filename - 1);
  slot.fontsize = 10;
  LockGuard lock(SlotLock);
  printerSlots[0] = slot;
}

std::string dayName(std::time_t when) {
  char name[16];
  std::tm local;
#ifdef _WIN32
  localtime_s(&local, &when);
#else
  localtime_r(&when, &local);
#endif
  std::strftime(name, sizeof name, "%Y-%m-%d", &local);
  return name;
}

// The day so many calendar days before today (at noon, so that no change of
// summer time moves it).
std::string daysAgo(int days) {
  std::time_t now = std::time(nullptr);
  std::tm local;
#ifdef _WIN32
  localtime_s(&local, &now);
#else
  localtime_r(&now, &local);
#endif
  local.tm_mday -= days;
  local.tm_hour = 12;
  local.tm_min = local.tm_sec = 0;
  local.tm_isdst = -1;
  return dayName(std::mktime(&local));
}

std::vector<std::vector<std::string>> indexLines(const std::string& day) {
  std::vector<std::vector<std::string>> lines;
  std::stringstream in(readFile(fs::path("journal") / day / "index.tsv"));
  for (std::string line; std::getline(in, line);) {
#ifdef _WIN32
    // Windows' index ends its lines in CR LF, for Notepad.
    EXPECT_EQ(line.empty() ? '\0' : line.back(), '\r') << line;
    if (!line.empty() && line.back() == '\r') line.pop_back();
#endif
    std::vector<std::string> fields;
    std::stringstream cells(line);
    for (std::string cell; std::getline(cells, cell, '\t');) fields.push_back(cell);
    lines.push_back(fields);
  }
  return lines;
}

std::vector<std::string> copiesOf(const std::string& day) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(fs::path("journal") / day))
    if (entry.path().extension() != ".tsv") names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

int countOf(const std::string& text, const std::string& part) {
  int n = 0;
  for (std::string::size_type p = text.find(part); p != std::string::npos; p = text.find(part, p + 1)) ++n;
  return n;
}

std::string documentText(std::size_t document) {
  std::string out;
  for (const FakeText& t : fakeDevice.texts)
    if (t.document == static_cast<int>(document)) out += t.text + "|";
  return out;
}

TEST(Journal, KeepsEveryPrintoutOnceByteForByteReprintsItAndPrintsOnWhenItCannotBeWritten) {
  TempWorkDir dir;
  resetFakeDevice();
  std::string output, echo;
  captureConsole(&output, &echo);
  WatcherMemory memory;
  unsigned long long now = 1000000;
  auto cycles = [&](int n) {
    for (int i = 0; i < n; ++i, now += 150) runWatcherCycle(0, memory, now);
  };
  std::string message;

  // Nothing kept yet: nothing to print again.
  EXPECT_FALSE(reprintPrintout(0, &message));
  EXPECT_EQ(message.find("There is nothing to print again"), 0u) << message;

  // Days from before: one long past, the last day a 30-day journal keeps
  // and the first it does not, one from yesterday, and a folder that is not
  // a day.
  const std::string today = dayName(std::time(nullptr));
  const std::string yesterday = daysAgo(1), lastKept = daysAgo(30), firstGone = daysAgo(31);
  for (const std::string& folder : {std::string("2001-01-01"), firstGone, lastKept, yesterday, std::string("notes")}) {
    fs::create_directories(fs::path("journal") / folder);
    writeFile((fs::path("journal") / folder / "000000-000001.prn").string(), "old\r\n");
  }

  // A two-page printout with DOS padding: kept exactly as written.
  setSlot("Receipt", 30);
  const std::string first = "Total  12.50\f\r\nThank you\r\n\x1a\x1a";
  writeFile(kSpool, first);
  cycles(1);
  ASSERT_EQ(fakeDevice.documents.size(), 1u);
  EXPECT_FALSE(fs::exists("journal/2001-01-01")) << "older than 30 days";
  EXPECT_FALSE(fs::exists(fs::path("journal") / firstGone)) << "31 days old";
  EXPECT_TRUE(fs::exists(fs::path("journal") / lastKept / "000000-000001.prn")) << "30 days old: kept";
  EXPECT_TRUE(fs::exists(fs::path("journal") / yesterday / "000000-000001.prn"));
  EXPECT_TRUE(fs::exists("journal/notes/000000-000001.prn"));
  std::vector<std::string> copies = copiesOf(today);
  ASSERT_EQ(copies.size(), 1u);
  EXPECT_EQ(readFile(fs::path("journal") / today / copies[0]), first);
  auto lines = indexLines(today);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], (std::vector<std::string>{"time", "slot", "printer", "bytes", "pages", "copies", "outcome", "file"}));
  ASSERT_EQ(lines[1].size(), 8u);
  EXPECT_EQ(lines[1][0].size(), 8u) << "HH:MM:SS";
  EXPECT_EQ(std::vector<std::string>(lines[1].begin() + 1, lines[1].end()),
            (std::vector<std::string>{"0", "Receipt", "28", "2", "1", "printed", today + "/" + copies[0]}));
  EXPECT_EQ(copies[0].substr(0, 6) + ":", lines[1][0].substr(0, 2) + lines[1][0].substr(3, 2) +
                                             lines[1][0].substr(6, 2) + ":");

  // A printout that waits for its printer is kept once, when it is queued,
  // and its printing at last names the same copy.
  setSlot("Nobody", 30);
  writeFile(kSpool, "Second\r\n");
  cycles(2);
  EXPECT_EQ(fakeDevice.documents.size(), 1u);
  setSlot("Receipt", 30);
  cycles(12);
  ASSERT_EQ(fakeDevice.documents.size(), 2u);
  EXPECT_EQ(documentText(2), "Second|");
  copies = copiesOf(today);
  ASSERT_EQ(copies.size(), 2u);
  EXPECT_EQ(readFile(fs::path("journal") / today / copies[1]), "Second\r\n");
  lines = indexLines(today);
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[2][6] + " " + lines[2][7], "waiting " + today + "/" + copies[1]);
  EXPECT_EQ(lines[3][6] + " " + lines[3][7] + " " + lines[3][4], "printed " + today + "/" + copies[1] + " 1");

  // The list of today's printouts, newest first; Enter (0) queues the last
  // one, which is printed once more and written down as a reprint.
  std::vector<std::string> choices = reprintChoiceLines();
  ASSERT_EQ(choices.size(), 2u);
  EXPECT_EQ(choices[0], "  1  " + lines[2][0] + "  printer #0  Second");
  EXPECT_EQ(choices[1], "  2  " + lines[1][0] + "  printer #0  Total  12.50");
  ASSERT_TRUE(reprintPrintout(0, &message)) << message;
  EXPECT_EQ(message, "Printer #0: the printout of " + lines[2][0] + " is printed again.");
  ASSERT_TRUE(reprintPrintout(2, &message)) << message;
  EXPECT_FALSE(reprintPrintout(3, &message));
  cycles(12);
  ASSERT_EQ(fakeDevice.documents.size(), 4u);
  EXPECT_EQ(documentText(3), "Second|");
  EXPECT_EQ(documentText(4), "Total  12.50|Thank you|");
  EXPECT_EQ(copiesOf(today).size(), 2u) << "a reprint is no new printout";
  lines = indexLines(today);
  ASSERT_EQ(lines.size(), 6u);
  EXPECT_EQ(lines[4][6] + " " + lines[4][7], "reprinted " + today + "/" + copies[1]);
  EXPECT_EQ(lines[5][6] + " " + lines[5][7] + " " + lines[5][4], "reprinted " + today + "/" + copies[0] + " 2");
  EXPECT_TRUE(fs::is_empty("journal/pending"));
  EXPECT_TRUE(fs::is_empty("waiting"));

  // A printout that can be neither printed nor queued (the queue's rename
  // fails) stays under its own name and is tried again: kept once and
  // written down once as refused, then printed from the same copy.
  setSlot("Nobody", 30);
  writeFile(kSpool, "Kept\r\n");
  failFileOperation(kFailMove, kMovesOfATake + 2, kFaultRefused, true);  // after taking it and naming its copy
  cycles(30);
  restoreFileCalls();
  EXPECT_EQ(fakeDevice.documents.size(), 4u);
  setSlot("Receipt", 30);
  cycles(10);
  ASSERT_EQ(fakeDevice.documents.size(), 5u);
  EXPECT_EQ(documentText(5), "Kept|");
  copies = copiesOf(today);
  ASSERT_EQ(copies.size(), 3u) << "one copy over every try";
  lines = indexLines(today);
  ASSERT_EQ(lines.size(), 8u);
  EXPECT_EQ(lines[6][6] + " " + lines[6][7], "refused " + today + "/" + copies[2]);
  EXPECT_EQ(lines[7][6] + " " + lines[7][7], "printed " + today + "/" + copies[2]);

  // A disk that takes no more: said once, and printouts print all the same.
  failFileOperation(kFailWrite, 1, kFaultDiskFull, true);
  for (const char* text : {"Third\r\n", "Fourth\r\n"}) {
    writeFile(kSpool, text);
    cycles(1);
  }
  EXPECT_EQ(fakeDevice.documents.size(), 7u);
  EXPECT_FALSE(fs::exists(kSpool));
  EXPECT_EQ(countOf(output, "Printer #0: printouts cannot be kept in the folder journal, since the disk is full (error 61),"
                            " so they are printed without a copy there. Make room on the disk."),
            1)
      << output;
  restoreFileCalls();
  writeFile(kSpool, "Fifth\r\n");
  cycles(1);
  EXPECT_EQ(fakeDevice.documents.size(), 8u);
  EXPECT_EQ(countOf(output, "Printer #0: printouts are kept in the folder journal again."), 1) << output;
  copies = copiesOf(today);
  ASSERT_EQ(copies.size(), 4u) << "no copy, not even a part of one, of what could not be written";
  EXPECT_EQ(readFile(fs::path("journal") / today / copies[3]), "Fifth\r\n");
  captureConsole(nullptr, nullptr);
}

}  // namespace
