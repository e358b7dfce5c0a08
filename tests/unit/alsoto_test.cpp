// Whole printouts with copies= and alsoto= in ferrin.ini, through the
// watchers of several slots and the recording printer device: copies made
// by the printer or drawn again in the same job, raw bytes repeated, one
// journal copy noting the count; a printout printed on further printers with
// their own settings, one printer that is down waiting alone and printing
// each printout once when it is back, across a restart; reprints on the
// slot's own printer only; hostile values said once and ignored.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "config/slots.h"
#include "console/console.h"
#include "fake/device_fake.h"
#include "spool/cycle.h"
#include "spool/journal.h"
#include "spool/queue.h"
#include "spool/reprint.h"
#include "spool/watcher.h"
#include "unit/filefaults.h"
#include "unit/oldfile.h"
#include "unit/tempdir.h"

namespace fs = std::filesystem;

namespace {

std::string readAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

void writeIni(const std::string& text) {
  std::ofstream ini("ferrin.ini", std::ios::binary | std::ios::trunc);
  ini << text;
}

std::string documentText(int document) {
  std::string out;
  for (const FakeText& t : fakeDevice.texts)
    if (t.document == document) out += std::to_string(t.page) + ":" + t.text + "|";
  return out;
}

// The index lines of every day, fields without the time, as "slot printer
// bytes pages copies outcome".
std::vector<std::string> indexLines() {
  std::vector<std::string> lines;
  if (!fs::exists("journal")) return lines;
  for (const fs::directory_entry& day : fs::directory_iterator("journal")) {
    std::stringstream in(readAll(day.path() / "index.tsv"));
    for (std::string line; std::getline(in, line);) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      std::vector<std::string> fields;
      std::stringstream cells(line);
      for (std::string cell; std::getline(cells, cell, '\t');) fields.push_back(cell);
      if (fields.size() != 8 || fields[0] == "time") continue;
      lines.push_back(fields[1] + " " + fields[2] + " " + fields[3] + " " + fields[4] + " " + fields[5] + " " +
                      fields[6]);
    }
  }
  return lines;
}

std::vector<std::string> journalCopies() {
  std::vector<std::string> copies;
  if (!fs::exists("journal")) return copies;
  for (const fs::directory_entry& e : fs::recursive_directory_iterator("journal"))
    if (e.path().extension() == ".prn") copies.push_back(e.path().string());
  return copies;
}

// What each printer has, in order: "printer: text" of documents and raw jobs handed over.
std::vector<std::string> handedOver(const std::string& printer) {
  std::vector<std::string> out;
  for (std::size_t i = 0; i < fakeDevice.documents.size(); ++i)
    if (fakeDevice.documents[i].ended && fakeDevice.documents[i].printer == printer)
      out.push_back(documentText(static_cast<int>(i) + 1));
  for (const FakeRawJob& job : fakeDevice.rawJobs)
    if (job.ended && job.printer == printer) out.push_back("raw:" + job.data);
  return out;
}

class AlsoToTest : public ::testing::Test {
 public:
  TempWorkDir dir;
  std::string output, echo;
  WatcherMemory memory[kSlotCount];
  unsigned long long now = 1000000;
  void SetUp() override {
    resetFakeDevice();
    captureConsole(&output, &echo);
  }
  void TearDown() override {
    captureConsole(nullptr, nullptr);
    restoreFileCalls();
    TempWorkDir fresh;
    removeJournalLeftovers();
  }
  // A start of ferrin: what it remembers is gone, the folder is tidied.
  void start() {
    for (WatcherMemory& m : memory) m = WatcherMemory();
    cleanUpAtStart();
  }
  // Cycles of the watchers of the given slots, in turn; every timer is due.
  void cycles(std::initializer_list<int> slots, int n) {
    for (int i = 0; i < n; ++i) {
      for (int slot : slots) {
        loadSlot(slot);
        runWatcherCycle(slot, memory[slot], now);
      }
      now += 30000;
    }
  }
};

TEST_F(AlsoToTest, CopiesAreOneJobMadeByThePrinterOrDrawnAgainAndTheJournalKeepsOne) {
  // "Receipt" makes copies itself, "Report" does not.
  fakeDevice.copying = {"Receipt"};
  const std::string text = "First page\f\r\nSecond page\r\n";
  writeIni("[printer 0]\r\nprintername=Receipt\r\nfilename=A.PRN\r\ncopies=3\r\njournal=30\r\n"
           "[printer 1]\r\nprintername=Report\r\nfilename=B.PRN\r\ncopies=3\r\n"
           "[printer 2]\r\nprintername=Report\r\nfilename=C.PRN\r\nmode=raw\r\ncopies=2\r\n");
  start();
  writeFile("A.PRN", text);
  writeFile("B.PRN", text);
  writeFile("C.PRN", "\x1b@RAW\r\n\x1a");
  cycles({0, 1, 2}, 1);
  ASSERT_EQ(fakeDevice.documents.size(), 2u) << fakeCallLog();
  // By the printer: one document of two pages, its settings asking for three.
  EXPECT_EQ(fakeDevice.documents[0].printer, "Receipt");
  EXPECT_EQ(fakeDevice.documents[0].copies, 3);
  EXPECT_EQ(fakeDevice.documents[0].pages, 2);
  EXPECT_EQ(documentText(1), "1:First page|2:Second page|");
  // Drawn again: one document, each copy whole from a new page.
  EXPECT_EQ(fakeDevice.documents[1].printer, "Report");
  EXPECT_EQ(fakeDevice.documents[1].copies, 1);
  EXPECT_EQ(fakeDevice.documents[1].pages, 6);
  EXPECT_EQ(documentText(2), "1:First page|2:Second page|3:First page|4:Second page|5:First page|6:Second page|");
  // Raw: the bytes twice in one job, the padding left out each time.
  ASSERT_EQ(fakeDevice.rawJobs.size(), 1u);
  EXPECT_EQ(fakeDevice.rawJobs[0].data, "\x1b@RAW\r\n\x1b@RAW\r\n");
  EXPECT_TRUE(fakeDevice.rawJobs[0].ended);
  // One copy in the journal, its line with the pages of one copy and the count.
  ASSERT_EQ(journalCopies().size(), 1u);
  EXPECT_EQ(readAll(journalCopies()[0]), text);
  EXPECT_EQ(indexLines(), std::vector<std::string>{"0 Receipt 26 2 3 printed"});
  EXPECT_EQ(output.find("copies"), std::string::npos) << output;

  // Values out of range or not numbers are said once each and mean one copy.
  writeIni("[printer 0]\r\nprintername=Report\r\nfilename=A.PRN\r\ncopies=0\r\n"
           "[printer 1]\r\nprintername=Report\r\nfilename=B.PRN\r\ncopies=100\r\n"
           "[printer 2]\r\nprintername=Report\r\nfilename=C.PRN\r\ncopies=-2\r\n");
  for (const char* name : {"A.PRN", "B.PRN", "C.PRN"}) writeFile(name, "One\r\n");
  cycles({0, 1, 2}, 2);
  ASSERT_EQ(fakeDevice.documents.size(), 5u);
  for (std::size_t i = 2; i < 5; ++i) EXPECT_EQ(fakeDevice.documents[i].pages, 1) << i;
  for (const char* value : {"0", "100", "-2"}) {
    const std::string said = std::string("ferrin.ini sets copies to \"") + value + "\", which ferrin does not know";
    EXPECT_NE(output.find(said), std::string::npos) << said << "\n" << output;
    EXPECT_EQ(output.find(said), output.rfind(said)) << "said once: " << said;
  }
}

TEST_F(AlsoToTest, EachPrinterPrintsEveryPrintoutOnceAndOneThatIsDownWaitsAloneAcrossARestart) {
  // The till (0) also prints on a report printer laying out (1), on a
  // kitchen printer that is off (2, raw), and names one that is not set up
  // (3) and its own number is not allowed on another slot (4).
  const std::string ini = "[printer 0]\r\nprintername=Receipt\r\nfilename=TILL.PRN\r\njournal=30\r\nalsoto=1, 2,3\r\n"
                          "[printer 1]\r\nprintername=Report\r\nfilename=REPORT.PRN\r\n"
                          "[printer 2]\r\nprintername=%s\r\nfilename=KITCHEN.PRN\r\nmode=raw\r\n"
                          "[printer 4]\r\nprintername=Report\r\nfilename=FOUR.PRN\r\nalsoto=4\r\n";
  auto settings = [&](const std::string& kitchen) {
    std::string text = ini;
    text.replace(text.find("%s"), 2, kitchen);
    writeIni(text);
  };
  settings("Kitchen");
  start();
  writeFile("TILL.PRN", "Order 1\r\n");
  cycles({0, 1, 2, 4}, 3);
  writeFile("TILL.PRN", "Order 2\r\n");
  cycles({0, 1, 2, 4}, 3);
  writeFile("FOUR.PRN", "Four\r\n");
  cycles({0, 1, 2, 4}, 2);
  EXPECT_EQ(handedOver("Receipt"), (std::vector<std::string>{"1:Order 1|", "1:Order 2|"}));
  EXPECT_EQ(handedOver("Report"), (std::vector<std::string>{"1:Order 1|", "1:Order 2|", "1:Four|"}));
  EXPECT_EQ(waitingPrintouts("KITCHEN.PRN").size(), 2u);
  EXPECT_EQ(output.find("Printer #0: alsoto names printer #3, which has no printer or no spool file name set"),
            output.rfind("Printer #0: alsoto names printer #3")) << output;
  EXPECT_NE(output.find("Printer #0: alsoto names printer #3"), std::string::npos) << output;
  EXPECT_NE(output.find("Printer #4: ferrin.ini sets alsoto to \"4\", which ferrin does not know"), std::string::npos)
      << output;
  EXPECT_NE(output.find("Printer #2: the printer \"Kitchen\" cannot be reached (error 68)"), std::string::npos) << output;
  EXPECT_EQ(output.find("Printer #0: the printer"), std::string::npos) << "the till is not held up\n" << output;

  // A restart, the kitchen printer back: each order once more there, in
  // order, the bytes as they were; nowhere else again.
  fakeDevice.printers.push_back("Kitchen");
  start();
  cycles({0, 1, 2, 4}, 3);
  EXPECT_EQ(handedOver("Kitchen"), (std::vector<std::string>{"raw:Order 1\r\n", "raw:Order 2\r\n"}));
  EXPECT_EQ(handedOver("Receipt").size(), 2u);
  EXPECT_EQ(handedOver("Report").size(), 3u);
  EXPECT_TRUE(waitingPrintouts("KITCHEN.PRN").empty());
  EXPECT_TRUE(fs::is_empty("waiting")) << "no unreleased copy is left";

  // The journal: one copy per order; each printer's outcome named by it;
  // the orders listed as the till's, and printed again on the till only.
  ASSERT_EQ(journalCopies().size(), 2u);
  std::vector<std::string> lines = indexLines();
  EXPECT_EQ(std::count(lines.begin(), lines.end(), "0 Receipt 9 1 1 printed"), 2) << ::testing::PrintToString(lines);
  EXPECT_EQ(std::count(lines.begin(), lines.end(), "1 Report 9 1 1 printed"), 2) << ::testing::PrintToString(lines);
  EXPECT_EQ(std::count(lines.begin(), lines.end(), "2 Kitchen 9 - 1 printed"), 2) << ::testing::PrintToString(lines);
  EXPECT_EQ(std::count(lines.begin(), lines.end(), "2 Kitchen 9 0 1 waiting"), 2) << ::testing::PrintToString(lines);
  std::string message;
  ASSERT_TRUE(reprintPrintout(0, &message)) << message;
  EXPECT_EQ(message.find("Printer #0: "), 0u) << message;
  cycles({0, 1, 2, 4}, 2);
  EXPECT_EQ(handedOver("Receipt"), (std::vector<std::string>{"1:Order 1|", "1:Order 2|", "1:Order 2|"}));
  EXPECT_EQ(handedOver("Report").size(), 3u);
  EXPECT_EQ(handedOver("Kitchen").size(), 2u);
}

TEST_F(AlsoToTest, CopiesThatCannotBeMadeHoldThePrintoutBackWholeUntilTheyCanThenEachPrinterPrintsItOnce) {
  writeIni("[printer 0]\r\nprintername=Receipt\r\nfilename=TILL.PRN\r\nalsoto=1\r\n"
           "[printer 1]\r\nprintername=Report\r\nfilename=REPORT.PRN\r\n");
  start();
  writeFile("TILL.PRN", "Order 7\r\n");
  // The disk is full: the copy for printer 1 cannot be written.
  failFileOperation(kFailWrite, 1, kFaultDiskFull, true);
  cycles({0, 1}, 3);
  EXPECT_TRUE(fakeDevice.documents.empty()) << "nothing printed before its copies are made";
  const std::string said = "Printer #0: the copies of TILL.PRN for the printers of alsoto could not be made in the"
                           " folder waiting, since the disk is full (error 61), so it is kept and tried again.";
  EXPECT_NE(output.find(said), std::string::npos) << output;
  EXPECT_EQ(output.find(said), output.rfind(said)) << "said once\n" << output;
  EXPECT_TRUE(fs::is_empty("waiting")) << "no partial copy is left";
  // Room again: printed once on each printer, the folder tidy.
  restoreFileCalls();
  cycles({0, 1}, 3);
  EXPECT_EQ(handedOver("Receipt"), std::vector<std::string>{"1:Order 7|"});
  EXPECT_EQ(handedOver("Report"), std::vector<std::string>{"1:Order 7|"});
  EXPECT_TRUE(fs::is_empty("waiting"));
  EXPECT_FALSE(fs::exists("TILL.PRN"));
}

}  // namespace
