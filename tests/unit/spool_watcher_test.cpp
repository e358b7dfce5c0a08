// One watcher cycle over real spool files and the recording printer device:
// pages and echo, what happens to the file, and the decisions on failures
// (queued, said once, printed in order when mended; nothing sent when a read
// fails; an undeletable file printed once).
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "config/slots.h"
#include "console/console.h"
#include "platform/system.h"
#include "files/errors.h"
#include "files/spoolfile.h"
#include "device/device.h"
#include "fake/device_fake.h"
#include "print/printer.h"
#include "print/printer_state.h"
#include "spool/cycle.h"
#include "spool/handover.h"
#include "spool/queue.h"
#include "unit/filefaults.h"
#include "unit/oldfile.h"
#include "unit/pngfile.h"
#include "unit/crashedrun.h"
#include "unit/tempdir.h"

namespace {

const char kSpool[] = "WLSDFKJN.DRY";

bool exists(const std::string& path) { return std::filesystem::exists(std::filesystem::symlink_status(path)); }

void setSlot(const std::string& printer, const std::string& font = "Courier New", std::int16_t size = 10,
             SlotOptions options = SlotOptions()) {
  PrinterSlot slot;
  std::memset(&slot, 0, sizeof slot);
  slot.options = options;
  std::strncpy(slot.printername, printer.c_str(), sizeof slot.printername - 1);
  std::strncpy(slot.fontname, font.c_str(), sizeof slot.fontname - 1);
  std::strncpy(slot.filename, kSpool, sizeof slot.filename - 1);
  slot.fontsize = size;
  LockGuard lock(SlotLock);
  printerSlots[0] = slot;
}

int countOf(const std::string& text, const std::string& part) {
  int n = 0;
  for (std::string::size_type p = text.find(part); p != std::string::npos; p = text.find(part, p + 1)) ++n;
  return n;
}

std::string drawnText(int document, int page) {
  std::string out;
  for (const FakeText& t : fakeDevice.texts)
    if (t.document == document && t.page == page) out += t.text + "|";
  return out;
}

class WatcherCycleTest : public ::testing::Test {
 public:
  TempWorkDir dir;
  WatcherMemory memory;
  unsigned long long now = 1000000;
  std::string output;  // standard output and the screen echo of every cycle
  std::string echo;
  void SetUp() override {
    resetFakeDevice();
    clearError();
    setSlot("Receipt");
    captureConsole(&output, &echo);
  }
  void TearDown() override {
    captureConsole(nullptr, nullptr);
    restoreFileCalls();
  }
  // Runs one cycle; the output and echo of this cycle are added to the given
  // strings as well.
  CycleOutcome cycle(std::string* cycleOutput = nullptr, std::string* cycleEcho = nullptr) {
    std::size_t outputBefore = output.size(), echoBefore = echo.size();
    CycleOutcome outcome = runWatcherCycle(0, memory, now);
    if (cycleOutput) *cycleOutput += output.substr(outputBefore);
    if (cycleEcho) *cycleEcho += echo.substr(echoBefore);
    now += 150;
    return outcome;
  }
};

TEST_F(WatcherCycleTest, FormFeedsMakePagesAndEveryLineIsEchoed) {
  writeFile(kSpool, "A\r\nB\fX\r\nD\r\n");
  std::string echo;
  EXPECT_EQ(cycle(nullptr, &echo), CyclePrinted);
  ASSERT_EQ(fakeDevice.documents.size(), 1u);
  EXPECT_EQ(fakeDevice.documents[0].name, "Print job");
  EXPECT_EQ(fakeDevice.documents[0].printer, "Receipt");
  EXPECT_EQ(fakeDevice.documents[0].pages, 2);
  EXPECT_TRUE(fakeDevice.documents[0].ended);
  EXPECT_EQ(drawnText(1, 1), "A|BX|");
  EXPECT_EQ(drawnText(1, 2), "D|");
  EXPECT_EQ(echo, "A\nBX\n----Page Feed----\nD\n");
  EXPECT_FALSE(exists(kSpool));
  EXPECT_FALSE(exists(std::string(".") + kSpool + ".printing"));
  // Nothing left to print.
  EXPECT_EQ(cycle(), CycleIdle);
  EXPECT_EQ(fakeDevice.documents.size(), 1u);
}

TEST_F(WatcherCycleTest, FormFeedOnTheLastLineMakesNoExtraPage) {
  writeFile(kSpool, "A\r\n\f");
  std::string echo;
  EXPECT_EQ(cycle(nullptr, &echo), CyclePrinted);
  ASSERT_EQ(fakeDevice.documents.size(), 1u);
  EXPECT_EQ(fakeDevice.documents[0].pages, 1);
  EXPECT_EQ(echo, "A\n\n----Page Feed----\n");
  EXPECT_TRUE(fakeCallsOf("EndPage").size() == 1u) << fakeCallLog();
}

TEST_F(WatcherCycleTest, EmptyFileIsDeletedWithoutAJob) {
  writeFile(kSpool, "");
  EXPECT_EQ(cycle(), CycleIdle);
  EXPECT_FALSE(exists(kSpool));
  EXPECT_TRUE(fakeCallsOf("OpenPrinter").empty());
}

TEST_F(WatcherCycleTest, TextAfterCtrlZIsNeitherPrintedNorEchoed) {
  writeFile(kSpool, "A\r\nB\x1aHIDDEN\r\n");
  std::string echo;
  EXPECT_EQ(cycle(nullptr, &echo), CyclePrinted);
  EXPECT_EQ(drawnText(1, 1), "A|B|");
  EXPECT_EQ(echo, "A\nB\n");
  EXPECT_FALSE(exists(kSpool));
}

TEST_F(WatcherCycleTest, FontIsReadFromTheSlotWhenUsed) {
  writeFile(kSpool, "A\f\r\nB\r\n");
  setSlot("Receipt", "Lucida Console", 12);
  EXPECT_EQ(cycle(), CyclePrinted);
  ASSERT_EQ(fakeDevice.texts.size(), 2u);
  EXPECT_NE(fakeDevice.texts[1].face.find("Lucida Console"), std::string::npos) << fakeDevice.texts[1].face;
}

std::string waitingFile(int number) {
  char name[64];
  std::snprintf(name, sizeof name, "waiting/%s.%06d", kSpool, number);
  return name;
}

// The texts of every document, one string per document in order.
std::vector<std::string> documentTexts() {
  std::vector<std::string> out(fakeDevice.documents.size());
  for (const FakeText& t : fakeDevice.texts)
    if (t.document >= 1) out[static_cast<std::size_t>(t.document - 1)] += t.text + "|";
  return out;
}

TEST_F(WatcherCycleTest, OutageQueuesEveryPrintoutAndPrintsThemOnceInOrderWhenMended) {
  setSlot("Nobody");
  std::string out, shown;
  // Three printouts written one after another under the spool name, each
  // moved out of the DOS program's way at once.
  for (const char* text : {"A\r\n", "B\r\n", "C\r\n"}) {
    writeFile(kSpool, text);
    for (int i = 0; i < 3; ++i) cycle(&out, &shown);
    EXPECT_FALSE(exists(kSpool)) << text;
  }
  EXPECT_TRUE(exists(waitingFile(1)) && exists(waitingFile(2)) && exists(waitingFile(3)));
  EXPECT_EQ(countOf(out, "Printer #0: the printer \"Nobody\" cannot be reached (error 68), so 1 printout is waiting"
                          " in the folder waiting. Check that it is switched on, connected and installed under"
                          " this name, or press S to choose another."),
            1)
      << out;
  EXPECT_EQ(countOf(out, "Nobody"), 1) << "said once per outage: " << out;
  EXPECT_TRUE(fakeDevice.documents.empty());
  EXPECT_EQ(shown, "") << "a printout that is not printed is not echoed";

  // The queue survives a restart: a new watcher knows nothing of the outage.
  memory = WatcherMemory();
  setSlot("Receipt");
  writeFile(kSpool, "D\r\n");  // written after the others: printed after them
  for (int i = 0; i < 12; ++i) cycle(&out, &shown);
  EXPECT_EQ(documentTexts(), (std::vector<std::string>{"A|", "B|", "C|", "D|"}));
  for (const FakeDocument& d : fakeDevice.documents) EXPECT_TRUE(d.ended);
  EXPECT_EQ(shown, "A\nB\nC\nD\n");
  EXPECT_TRUE(waitingPrintouts(kSpool).empty());
  EXPECT_FALSE(exists(kSpool));
  EXPECT_EQ(countOf(out, "Printer #0: 3 printouts are waiting in the folder waiting."), 1) << "said at the start";
  EXPECT_EQ(countOf(out, "Printer #0: the waiting printouts have been printed."), 1) << out;

  // A second outage of the same watcher is said again, and its end too.
  setSlot("");
  writeFile(kSpool, "E\r\n");
  for (int i = 0; i < 3; ++i) cycle(&out);
  EXPECT_EQ(countOf(out, "Printer #0: no printer is set, so 1 printout is waiting in the folder waiting. Press S to"
                         " choose one, or set printername in ferrin.ini."),
            1)
      << out;
  setSlot("Receipt");
  for (int i = 0; i < 3; ++i) cycle(&out);
  EXPECT_EQ(countOf(out, "Printer #0: the waiting printouts have been printed."), 2) << out;
  EXPECT_EQ(documentTexts().back(), "E|");
}

TEST_F(WatcherCycleTest, FailuresAreRetriedAtTheirPaceOrAtOnceWhenThePrinterChanges) {
  writeFile(kSpool, "A\r\n");
  setSlot("Nobody");
  for (int i = 0; i < 20; ++i) EXPECT_EQ(cycle(), CycleIdle);
  // Tried again about once a second, not every cycle.
  int attempts = static_cast<int>(fakeCallsOf("OpenPrinter").size());
  EXPECT_GE(attempts, 2);
  EXPECT_LE(attempts, 4);
  // A document the device did not take waits ten seconds.
  setSlot("Receipt");
  failDeviceCall("EndDoc", 1);
  std::string out;
  EXPECT_EQ(cycle(&out), CyclePrinted);
  EXPECT_EQ(countOf(out, "Printer #0: the printout of WLSDFKJN.DRY could not be handed to the printer \"Receipt\""
                         " (error 57)"),
            1)
      << out;
  EXPECT_TRUE(exists(waitingFile(1)));
  EXPECT_EQ(cycle(), CycleIdle);
  now += kHandOverRetryMilliseconds;
  EXPECT_EQ(cycle(), CyclePrinted);
  ASSERT_EQ(fakeDevice.documents.size(), 2u);
  EXPECT_TRUE(fakeDevice.documents[1].ended);
  EXPECT_FALSE(exists(waitingFile(1)));
}

TEST_F(WatcherCycleTest, ReadFailureSendsNothingAndThePrintoutPrintsWholeLater) {
  std::string text;
  for (int i = 0; i < 100; ++i) text += "Line " + std::to_string(i) + " of a long receipt\r\n";
  writeFile(kSpool, text);
  // The fifth read of the file fails (a disk fault in the middle).
  failFileOperation(kFailRead, 5, kFaultDiskError);
  std::string out;
  EXPECT_EQ(cycle(&out), CyclePrinted);
  ASSERT_EQ(fakeDevice.documents.size(), 1u);
  EXPECT_FALSE(fakeDevice.documents[0].ended) << "nothing of a half-read printout is handed over";
  EXPECT_EQ(fakeCallsOf("AbortDoc").size(), 1u) << fakeCallLog();
  EXPECT_TRUE(fakeCallsOf("EndDoc").empty()) << fakeCallLog();
  EXPECT_EQ(countOf(out, "Printer #0: WLSDFKJN.DRY could not be read to its end (error 72), so 1 printout is waiting"),
            1)
      << out;
  EXPECT_TRUE(exists(waitingFile(1)));
  EXPECT_TRUE(fakeDevice.misuse.empty()) << fakeDevice.misuse[0];

  now += kHandOverRetryMilliseconds;
  EXPECT_EQ(cycle(&out), CyclePrinted);
  ASSERT_EQ(fakeDevice.documents.size(), 2u);
  EXPECT_TRUE(fakeDevice.documents[1].ended);
  std::string printed = documentTexts()[1];
  EXPECT_EQ(countOf(printed, "|"), 100);
  EXPECT_EQ(countOf(printed, "Line 99 of a long receipt|"), 1);
  EXPECT_FALSE(exists(waitingFile(1)));
}

TEST_F(WatcherCycleTest, FileThatCannotBeQueuedIsKeptAndSaidOnce) {
  failFileOperation(kFailMakeFolder, 1, kFaultRefused, true);
  writeFile(kSpool, "A\r\n");
  setSlot("");
  std::string out;
  for (int i = 0; i < 5; ++i) EXPECT_EQ(cycle(&out), CycleIdle);
  EXPECT_TRUE(exists(kSpool) || exists(std::string(".") + kSpool + ".printing"));
  EXPECT_EQ(countOf(out, "could not be moved to the folder waiting (error 70), so it is kept and tried again."), 1)
      << out;
  EXPECT_TRUE(fakeCallsOf("StartDoc").empty());
  restoreFileCalls();
  setSlot("Receipt");
  EXPECT_EQ(cycle(), CyclePrinted);
  EXPECT_EQ(documentTexts(), (std::vector<std::string>{"A|"}));
}

TEST_F(WatcherCycleTest, UndeletableFileIsPrintedOnceUntilItChanges) {
  // Deletes and renames refused, as for an immutable file.
  failFileOperation(kFailDelete, 1, kFaultRefused, true);
  failFileOperation(kFailMove, 1, kFaultRefused, true);
  writeFile(kSpool, "A\r\n");
  std::string out;
  EXPECT_EQ(cycle(&out), CyclePrinted);
  for (int i = 0; i < 10; ++i) EXPECT_EQ(cycle(&out), CycleIdle);
  EXPECT_EQ(fakeDevice.documents.size(), 1u);
  EXPECT_EQ(countOf(out, "Printer #0: WLSDFKJN.DRY was printed but could not be deleted (error 70)"), 1) << out;
  // Changed: printed again, and deleted this time.
  restoreFileCalls();
  writeFile(kSpool, "B\r\n");
  EXPECT_EQ(cycle(&out), CyclePrinted);
  EXPECT_EQ(fakeDevice.documents.size(), 2u);
  EXPECT_FALSE(exists(kSpool));
}

TEST_F(WatcherCycleTest, LongLinesKeepBoundedMemoryAndAreEchoedWhole) {
  // One 3 MiB line without a line end, with a form feed far past the kept part.
  std::string line(3 * 1024 * 1024, 'x');
  line[2 * 1024 * 1024] = '\f';
  writeFile(kSpool, line + "\r\nNEXT\r\n");
  std::string shown;
  EXPECT_EQ(cycle(nullptr, &shown), CyclePrinted);
  ASSERT_EQ(fakeDevice.texts.size(), 2u);
  EXPECT_EQ(fakeDevice.texts[0].text.size(), 1024u * 1024u) << "at most 1 MiB of a line is drawn";
  EXPECT_EQ(fakeDevice.texts[1].text, "NEXT");
  EXPECT_EQ(fakeDevice.texts[1].page, 2) << "the form feed past the kept part still breaks the page";
  EXPECT_EQ(shown, std::string(3 * 1024 * 1024 - 1, 'x') + "\n----Page Feed----\nNEXT\n");
}

TEST_F(WatcherCycleTest, LineEndsAnyAndExactFormFeedsLayOutAReportOfLfLines) {
  SlotOptions options = SlotOptions();
  options.lineends = kLineEndsAny;
  options.formfeed = kFormFeedExact;
  setSlot("Receipt", "Courier New", 10, options);
  // LF-only lines, LF CR as one line end, a header after each form feed, a
  // form feed in the middle of a line, and one at the very end.
  writeFile(kSpool, "\fHEAD 1\nline a\n\rline b\n\fHEAD 2\nx\fy\nlast\n\f");
  std::string shown;
  EXPECT_EQ(cycle(nullptr, &shown), CyclePrinted);
  ASSERT_EQ(fakeDevice.documents.size(), 1u);
  EXPECT_EQ(fakeDevice.documents[0].pages, 3) << fakeCallLog();
  EXPECT_EQ(drawnText(1, 1), "HEAD 1|line a|line b|");
  EXPECT_EQ(drawnText(1, 2), "HEAD 2|x|");
  EXPECT_EQ(drawnText(1, 3), "y|last|");
  for (const FakeText& t : fakeDevice.texts)
    if (t.text.rfind("HEAD", 0) == 0) EXPECT_EQ(t.y, 0) << "each header at the top of its page";
  EXPECT_EQ(shown,
            "----Page Feed----\nHEAD 1\nline a\nline b\n----Page Feed----\nHEAD 2\nx\n----Page Feed----\ny\nlast\n"
            "----Page Feed----\n");
  // The same file with the plain-text defaults is one line with LFs in it.
  resetFakeDevice();
  setSlot("Receipt");
  writeFile(kSpool, "A\nB\n");
  EXPECT_EQ(cycle(), CyclePrinted);
  EXPECT_EQ(drawnText(1, 1), "A\nB\n|");
}

#ifndef _WIN32  // the take renames the file (POSIX)
TEST_F(WatcherCycleTest, JobsOfTwoWatchersDoNotOverlapAndTheFileIsTakenBeforeTheWait) {
  // While one job holds the printer, another cannot attach; the spool file
  // is taken at once all the same, so a printout the DOS program writes
  // meanwhile is a file of its own and never mixed into the first.
  writeFile(kSpool, "FIRST\r\n");
  acquireLock(PrinterLock);
  std::atomic<bool> finished(false);
  std::thread other([this, &finished] {
    runWatcherCycle(0, memory, now);
    finished = true;
  });
  for (int i = 0; i < 100 && exists(kSpool); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_FALSE(exists(kSpool)) << "taken before the printer lock";
  writeFile(kSpool, "SECOND\r\n");
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_FALSE(finished);
  EXPECT_TRUE(fakeCallsOf("OpenPrinter").empty());
  releaseLock(PrinterLock);
  other.join();
  EXPECT_TRUE(finished);
  EXPECT_EQ(cycle(), CyclePrinted);
  EXPECT_EQ(documentTexts(), (std::vector<std::string>{"FIRST|", "SECOND|"}));
}
#endif

TEST_F(WatcherCycleTest, StrippedControlCodesLeaveTheTextOfDotMatrixAndReceiptPrintouts) {
  SlotOptions options = SlotOptions();
  options.controls = kControlsStrip;
  setSlot("Receipt", "Courier New", 10, options);
  // A dot-matrix report: reset, bold, condensed, underline, a tab, and a bit
  // image whose data holds FF, Ctrl-Z, CR and LF.
  std::string report = std::string("\x1b@\x1b" "EBold\x1b" "F \x0f" "condensed\x12 \x1b-\x01under\x1b-") +
                       '\0' + "\r\nA\tB\r\n\x1bK\x06" + '\0' + "\x0c\x1a\r\n\x0c" + '\0' + "after image\r\n";
  writeFile(kSpool, report);
  std::string shown;
  EXPECT_EQ(cycle(nullptr, &shown), CyclePrinted);
  EXPECT_EQ(documentTexts(), (std::vector<std::string>{"Bold condensed under|A       B|after image|"}));
  EXPECT_EQ(fakeDevice.documents[0].pages, 1) << "announced data breaks no page";
  EXPECT_EQ(shown, "Bold condensed under\nA       B\nafter image\n");
  // A receipt: print mode, double size, a raster logo with FF and Ctrl-Z in
  // its data, centring, and the cut.
  resetFakeDevice();
  std::string receipt = std::string("\x1b@\x1b!\x38SHOP\x1b!") + '\0' + "\r\n\x1d" "v0" + '\0' + "\x02" + '\0' +
                        "\x02" + '\0' + "\x0c\x1a\r\n\x1b" "a\x01Total 12.50\r\n\x1dV\x42" + '\0';
  writeFile(kSpool, receipt);
  EXPECT_EQ(cycle(), CyclePrinted);
  EXPECT_EQ(documentTexts(), (std::vector<std::string>{"SHOP|Total 12.50|"}));
  EXPECT_EQ(fakeDevice.documents[0].pages, 1);
  // A word processor's LF CR line ends, where CR LF is the line end: each
  // LF ends no line and is left out like any other control code.
  resetFakeDevice();
  writeFile(kSpool, "\x1b@First\n\rSecond\n\rThird\r\n");
  shown.clear();
  EXPECT_EQ(cycle(nullptr, &shown), CyclePrinted);
  EXPECT_EQ(documentTexts(), (std::vector<std::string>{"First|Second|Third|"}));
  EXPECT_EQ(shown, "First\nSecond\nThird\n");
}

TEST_F(WatcherCycleTest, RawModeSendsTheBytesUnchangedOrLaysThemOutWhereRawIsRefused) {
  SlotOptions options = SlotOptions();
  options.mode = kModeRaw;
  setSlot("Receipt", "Courier New", 10, options);
  // A receipt with a logo whose data holds FF, Ctrl-Z and NUL, the cut and the
  // drawer kick, padded with Ctrl-Z at the end as DOS does.
  std::string receipt = std::string("\x1b@SHOP\r\n\x1dv0") + '\0' + "\x01" + '\0' + "\x02" + '\0' +
                        "\x0c\x1a\r\nTotal 12.50\r\n\x1dV\x42" + '\0' + "\x1bp" + '\0' + "\x19\xfa";
  writeFile(kSpool, receipt + "\x1a\x1a\x1a");
  std::string out, shown;
  EXPECT_EQ(cycle(&out, &shown), CyclePrinted);
  ASSERT_EQ(fakeDevice.rawJobs.size(), 1u) << fakeCallLog();
  EXPECT_EQ(fakeDevice.rawJobs[0].data, receipt);
  EXPECT_TRUE(fakeDevice.documents.empty()) << "nothing laid out";
  EXPECT_EQ(shown, "SHOP\n\nTotal 12.50\n") << "the logo's line is an empty line";
  EXPECT_FALSE(exists(kSpool));
  // A printer that takes no raw data: laid out as pages, said once.
  fakeDevice.rawRefused.push_back("Receipt");
  for (const char* text : {"ONE\r\n", "TWO\r\n"}) {
    writeFile(kSpool, text);
    EXPECT_EQ(cycle(&out), CyclePrinted);
  }
  EXPECT_EQ(documentTexts(), (std::vector<std::string>{"ONE|", "TWO|"}));
  EXPECT_EQ(countOf(out, "Printer #0: the printer \"Receipt\" takes no raw data, so printouts are laid out as pages"
                         " instead."),
            1)
      << out;
}

// A drawn receipt's drawer pulses and cuts: with drawer=raw and cut=raw they
// follow the drawn receipt to its printer as one raw job, in the printout's
// own commands and order (ESC/POS and Star Line Mode); by default none is
// sent. A printer that takes no raw data still prints the receipts, said
// once; a raw job that fails after the receipt was handed over is said and
// never sends the receipt again.
TEST_F(WatcherCycleTest, DrawnReceiptsSendTheirDrawerPulsesAndCutsRawAfterThem) {
  const std::string pulse = std::string("\x1bp") + '\0' + "\x19\xfa", pulse2 = std::string("\x10\x14\x01\x01\x05");
  const std::string cut = std::string("\x1dV\x42") + '\0';
  const std::string escPos = "\x1b@SHOP\r\n" + pulse + "Total 12.50\r\n" + cut + pulse2;
  SlotOptions options = SlotOptions();
  options.controls = kControlsEscPos;
  std::string out;
  struct Case {
    RawFollowUp drawer, cut;
    std::string sent;
  };
  for (const Case& c : {Case{kFollowNone, kFollowNone, ""}, Case{kFollowRaw, kFollowNone, pulse + pulse2},
                        Case{kFollowNone, kFollowRaw, cut}, Case{kFollowRaw, kFollowRaw, pulse + cut + pulse2}}) {
    resetFakeDevice();
    options.drawer = c.drawer;
    options.cut = c.cut;
    setSlot("Receipt", "Courier New", 10, options);
    writeFile(kSpool, escPos);
    EXPECT_EQ(cycle(&out), CyclePrinted);
    ASSERT_EQ(fakeDevice.documents.size(), 1u);
    EXPECT_TRUE(fakeDevice.documents[0].reached);
    EXPECT_EQ(documentTexts()[0], "SHOP|Total 12.50|");
    if (c.sent.empty()) {
      EXPECT_TRUE(fakeDevice.rawJobs.empty()) << "nothing sent raw by default";
      continue;
    }
    ASSERT_EQ(fakeDevice.rawJobs.size(), 1u) << fakeCallLog();
    EXPECT_EQ(fakeDevice.rawJobs[0].data, c.sent);
    EXPECT_EQ(fakeDevice.rawJobs[0].datatype, "RAW");
    EXPECT_TRUE(fakeDevice.rawJobs[0].ended);
    // The raw job comes after the drawn receipt was handed over.
    const std::string log = fakeCallLog();
    EXPECT_LT(log.find("EndDoc"), log.find("StartDocPrinter")) << log;
  }
  // Star Line Mode: BEL with the times ESC BEL set, and Star's cut.
  resetFakeDevice();
  options.controls = kControlsStar;
  setSlot("Receipt", "Courier New", 10, options);
  writeFile(kSpool, std::string("\x1b@SHOP\n\x1b\x07\x14\x0a\x07Total\n\x1b" "d3"));
  EXPECT_EQ(cycle(&out), CyclePrinted);
  ASSERT_EQ(fakeDevice.rawJobs.size(), 1u) << fakeCallLog();
  EXPECT_EQ(fakeDevice.rawJobs[0].data, std::string("\x1b\x07\x14\x0a\x07\x1b" "d3"));
  EXPECT_EQ(documentTexts()[0], "SHOP|Total|");

  // No raw data taken: the receipts print, said once.
  resetFakeDevice();
  fakeDevice.rawRefused.push_back("Receipt");
  out.clear();
  for (int i = 0; i < 2; ++i) {
    writeFile(kSpool, std::string("\x1b@PAID\n\x07"));
    EXPECT_EQ(cycle(&out), CyclePrinted);
  }
  EXPECT_EQ(documentTexts(), (std::vector<std::string>{"PAID|", "PAID|"}));
  EXPECT_EQ(countOf(out, "takes no raw data, so the cash drawer's pulses and the paper's cuts of receipts are not"
                         " sent to it; the receipts print."),
            1)
      << out;
  // A raw job the printer fails: said, and the receipt is not sent again.
  resetFakeDevice();
  failDeviceCall("WritePrinter", 1);
  out.clear();
  writeFile(kSpool, std::string("\x1b@PAID\n\x07"));
  EXPECT_EQ(cycle(&out), CyclePrinted);
  for (int i = 0; i < 2; ++i) EXPECT_EQ(cycle(&out), CycleIdle);
  EXPECT_EQ(documentTexts(), (std::vector<std::string>{"PAID|"}));
  EXPECT_EQ(countOf(out, "a receipt printed, but the cash drawer's pulses and the paper's cuts it sent could not be"
                         " handed to the printer \"Receipt\""),
            1)
      << out;
  EXPECT_FALSE(exists(kSpool));
}

#ifndef _WIN32  // symbolic links and pipes (POSIX)
TEST_F(WatcherCycleTest, NamesLeavingTheFolderAndLinksAreRefusedAndSaidOnce) {
  std::filesystem::create_directory("spool");
  std::filesystem::current_path("spool");
  writeFile("../victim.txt", "SECRET\r\n");
  std::string out;
  for (const char* name : {"../victim.txt", "/tmp/../victim.txt", "sub/../../victim.txt"}) {
    PrinterSlot slot = slotSnapshot(0);
    std::strncpy(slot.filename, name, sizeof slot.filename - 1);
    { LockGuard lock(SlotLock); printerSlots[0] = slot; }
    for (int i = 0; i < 3; ++i) EXPECT_EQ(cycle(&out), CycleIdle);
    EXPECT_EQ(countOf(out, std::string("Printer #0: the filename \"") + name + "\" is refused"), 1) << out;
  }
  EXPECT_TRUE(exists("../victim.txt"));
  // A spool file that is a link to a file outside: left alone, said once,
  // even when a look in between finds it busy (held by another slot's open).
  setSlot("Receipt");
  std::filesystem::create_symlink("../victim.txt", kSpool);
  for (int i = 0; i < 3; ++i) {
    if (i == 1) failFileCall(kCallLstat, 1, EACCES);
    EXPECT_EQ(cycle(&out), CycleIdle);
  }
  restoreFileCalls();
  EXPECT_EQ(countOf(out, "Printer #0: WLSDFKJN.DRY is refused, since it is a symbolic link"), 1) << out;
  EXPECT_TRUE(exists(kSpool));
  EXPECT_TRUE(exists("../victim.txt"));
  EXPECT_TRUE(fakeDevice.documents.empty());
  // A folder, and then a pipe, under the spool name: never opened, said once
  // each, left alone. A writer waiting to open the pipe stays waiting: had
  // ferrin opened it to read, even for a moment, the writer would have been
  // let through and then broken.
  std::filesystem::remove(kSpool);
  std::filesystem::create_directory(kSpool);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(cycle(&out), CycleIdle);
  std::filesystem::remove(kSpool);
  EXPECT_EQ(cycle(&out), CycleIdle);
  ASSERT_EQ(mkfifo(kSpool, 0600), 0);
  std::atomic<bool> writerThrough{false};
  std::thread writer([&] {
    int fd = open(kSpool, O_WRONLY);  // blocks until somebody opens it to read
    writerThrough = true;
    if (fd >= 0) close(fd);
  });
  for (int i = 0; i < 3; ++i) EXPECT_EQ(cycle(&out), CycleIdle);
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_FALSE(writerThrough) << "the pipe was opened for reading";
  int reader = open(kSpool, O_RDONLY);  // lets the writer go
  writer.join();
  if (reader >= 0) close(reader);
  EXPECT_EQ(countOf(out, "Printer #0: WLSDFKJN.DRY is refused, since it is not a plain file"), 2) << out;
  EXPECT_TRUE(fakeDevice.documents.empty());
  // Mended: printing works.
  std::filesystem::remove(kSpool);
  writeFile(kSpool, "OK\r\n");
  EXPECT_EQ(cycle(), CyclePrinted);
  EXPECT_EQ(documentTexts(), (std::vector<std::string>{"OK|"}));
  std::filesystem::current_path("..");
}
#endif

// --- Hand-overs cut off by a crash -----------------------------------------

#ifndef _WIN32  // crashes thrown from the POSIX table of calls; the files closed through /proc

// A file-layer call that ends the run, once, the Nth time it is made.
int crashCountdown = 0;
int crashingUnlink(const char* path) {
  if (crashCountdown > 0 && --crashCountdown == 0) throw FakeCrash();
  return posixFileCallsDefault.unlink(path);
}
int crashingRename(const char* from, const char* to) {
  if (crashCountdown > 0 && --crashCountdown == 0) throw FakeCrash();
  return posixFileCallsDefault.rename(from, to);
}

// Closes every descriptor of the process that holds a file under the
// folder, as the end of the process would.
void closeDescriptorsUnder(const std::filesystem::path& folder) {
  std::vector<int> fds;
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
    std::error_code error;
    std::string target = std::filesystem::read_symlink(entry.path(), error).string();
    if (!error && target.compare(0, folder.string().size() + 1, folder.string() + "/") == 0)
      fds.push_back(std::atoi(entry.path().filename().c_str()));
  }
  for (int fd : fds) close(fd);
}
#endif

// Every document or raw job that reached the printer, as its text.
std::vector<std::string> reachedTexts() {
  std::vector<std::string> out, texts = documentTexts();
  for (std::size_t i = 0; i < fakeDevice.documents.size(); ++i)
    if (fakeDevice.documents[i].reached) out.push_back(texts[i]);
  for (const FakeRawJob& job : fakeDevice.rawJobs)
    if (job.reached) out.push_back(job.data);
  return out;
}

// A crash (the run ends at that call) at each step of a hand-over, for a
// laid-out and a raw printout, fresh and from the waiting queue, on three
// printers: one that can be asked later (a CUPS queue); a Windows printer,
// whose spooler keeps a job until it is printed; and a Windows printer under
// Wine, whose spooler forgets a job once it handed it on. Then a new start
// with nothing remembered but the files. A Windows spooler cannot be asked
// at first after the restart: the printout waits, said once, and is looked
// up again.
#ifndef _WIN32
TEST_F(WatcherCycleTest, CrashAtEveryStepOfAHandOverEndsInExactlyOnePrintoutAfterTheRestart) {
  enum PrinterKind { kAskedLater, kWindows, kWine };
  enum FileCall { kNoFileCall, kUnlink, kRename };
  struct Step {
    const char* where;
    std::string deviceCall;  // the device call that ends the run, or
    FileCall fileCall;       // the Nth unlink, or the Nth rename of a record
    int nth;
    bool windowsOnly;  // only a Windows hand-over has the step
    bool reached;      // the printout had reached the printer: said, not printed again
    bool jobAsked;     // on Windows the record has a job to ask the spooler about
  };
  const Step steps[] = {
      {"writing the hand-over record", "", kRename, 1, false, false, false},
      {"starting the document", "StartDoc", kNoFileCall, 0, false, false, false},
      {"noting the job", "", kRename, 2, true, false, false},
      {"drawing, before the document ends", "EndPage", kNoFileCall, 0, false, false, true},
      {"after the printer took it, before its answer or the note of its end", "EndDoc", kNoFileCall, 0, false, true,
       true},
      {"noting the end of the document", "", kRename, 3, true, true, true},
      {"deleting the printed copy", "", kUnlink, 1, false, true, false},
      {"removing the record after the copy is deleted", "", kUnlink, 2, false, false, false},
  };
  const char* const kinds[] = {"a printer asked later", "Windows", "Wine"};
  for (PrinterKind kind : {kAskedLater, kWindows, kWine}) {
    for (bool raw : {false, true}) {
      for (bool queued : {false, true}) {
        for (const Step& step : steps) {
          if (step.windowsOnly && kind == kAskedLater) continue;
          // Wine's spooler has forgotten the job once the document ended:
          // a crash before its end is noted is the window that remains
          // (the Windows README says how long it is).
          if (kind == kWine && step.reached && step.jobAsked) continue;
          std::string what = std::string(step.where) + (raw ? ", raw" : ", laid out") +
                             (queued ? ", from the waiting queue" : ", fresh") + ", " + kinds[kind];
          SCOPED_TRACE(what);
          TempWorkDir run;
          resetFakeDevice();
          fakeDevice.forgetsPrinted = kind != kAskedLater;
          fakeDevice.forgetsHanded = kind == kWine;
          memory = WatcherMemory();
          SlotOptions options = SlotOptions();
          if (raw) options.mode = kModeRaw;
          const std::string text = "Total 12.50\r\n";
          writeFile(kSpool, text);
          if (queued) {
            setSlot("Nobody", "Courier New", 10, options);
            cycle();
            ASSERT_TRUE(exists(waitingFile(1)));
            memory = WatcherMemory();
          }
          setSlot("Receipt", "Courier New", 10, options);

          // The run that crashes.
          std::string device = step.deviceCall;
          if (raw && !device.empty()) device += "Printer";
          fakeDevice.crashAt = device;
          crashCountdown = step.nth;
          if (step.fileCall == kUnlink) posixFileCalls.unlink = crashingUnlink;
          if (step.fileCall == kRename) posixFileCalls.rename = crashingRename;
          bool crashed = false;
          try {
            // What the cut-off run held when it ended (the open file's object,
            // the fonts of its printer state) a real process would give back
            // as it ends; it is not counted as leaked.
            LeaksOfACrashedRun ignored;
            for (int i = 0; i < 3; ++i) cycle();
          } catch (const FakeCrash&) {
            crashed = true;
          }
          ASSERT_TRUE(crashed);
          // The process is gone: its open files (and their locks), its printer
          // state, its memory.
          restoreFileCalls();
          closeDescriptorsUnder(std::filesystem::canonical(run.path));
          closeSpoolFile();
          endWork();
          printerState = PrinterState();
          memory = WatcherMemory();

          // The next start.
          std::string out;
          sweepHandOvers({kSpool});  // as cleanUpAtStart does, without reading ferrin.ini
          setSlot("Receipt", "Courier New", 10, options);
          if (kind != kAskedLater) failDeviceCall("GetJob", 1);
          for (int i = 0; i < 4; ++i) {
            cycle(&out);
            now += kHandOverRetryMilliseconds;
          }
          std::vector<std::string> printed = reachedTexts();
          ASSERT_EQ(printed.size(), 1u) << out << fakeCallLog();
          EXPECT_EQ(printed[0], raw ? text : "Total 12.50|");
          EXPECT_FALSE(exists(kSpool) || exists(".WLSDFKJN.DRY.printing") || exists(waitingFile(1)) ||
                       exists("waiting/.WLSDFKJN.DRY.000001.printing"));
          EXPECT_TRUE(std::filesystem::is_empty(kHandOverFolder)) << "every record settled";
          EXPECT_EQ(countOf(out, "had reached the printer \"Receipt\" before its hand-over was cut off, so it is not"
                                 " printed again."),
                    step.reached ? 1 : 0)
              << out;
          bool asked = kind != kAskedLater && step.jobAsked;
          EXPECT_EQ(countOf(out, "the printer \"Receipt\" cannot be asked whether a printout of WLSDFKJN.DRY whose"
                                 " hand-over was cut off has already reached it"),
                    asked ? 1 : 0)
              << out;
          // A job cut off before its document ended is deleted from the
          // spooler that still has it, so that no part of it prints.
          EXPECT_EQ(fakeCallsOf("SetJob").size(), kind == kWindows && asked && !step.reached ? 1u : 0u)
              << fakeCallLog();
          // A Windows printer is asked for the job, never for the identity.
          if (kind != kAskedLater) EXPECT_TRUE(fakeCallsOf("FindDocument").empty()) << fakeCallLog();
          for (const std::string& wrong : fakeDevice.misuse) EXPECT_EQ(wrong.find(" asked of "), std::string::npos);
        }
      }
    }
  }
}

// A crash between a drawn receipt and the raw job of its drawer pulse that
// follows it (the run ends as the raw job starts): after the restart the
// receipt is not printed again, and that the pulse may not have reached the
// printer is said. The pulse is never sent twice.
TEST_F(WatcherCycleTest, CrashBetweenADrawnReceiptAndItsDrawerPulseIsSaidAfterTheRestart) {
  SlotOptions options = SlotOptions();
  options.controls = kControlsEscPos;
  options.drawer = kFollowRaw;
  setSlot("Receipt", "Courier New", 10, options);
  writeFile(kSpool, std::string("PAID\r\n\x1bp") + '\0' + "\x19\xfa");
  fakeDevice.crashAt = "StartDocPrinter";
  bool crashed = false;
  try {
    LeaksOfACrashedRun ignored;
    for (int i = 0; i < 3; ++i) cycle();
  } catch (const FakeCrash&) {
    crashed = true;
  }
  ASSERT_TRUE(crashed);
  closeDescriptorsUnder(std::filesystem::current_path());
  closeSpoolFile();
  endWork();
  printerState = PrinterState();
  memory = WatcherMemory();
  std::string out;
  sweepHandOvers({kSpool});
  setSlot("Receipt", "Courier New", 10, options);
  for (int i = 0; i < 3; ++i) cycle(&out);
  EXPECT_EQ(reachedTexts(), (std::vector<std::string>{"PAID|"})) << fakeCallLog();
  EXPECT_EQ(fakeDevice.rawJobs.size(), 1u) << "the raw job cut off is not sent again";
  EXPECT_EQ(countOf(out, "so it is not printed again. A cash drawer pulse or cut it sent may not have reached the"
                         " printer."),
            1)
      << out;
  EXPECT_TRUE(std::filesystem::is_empty(kHandOverFolder)) << "every record settled";
}
#endif

TEST_F(WatcherCycleTest, HandOverLeftOpenIsLookedUpBeforeItIsSentAgain) {
  // The printer took the document but its answer never came: the printout
  // waits, and is not sent again once the printer says it has it.
  fakeDevice.failedEndReaches = true;
  failDeviceCall("EndDoc", 1);
  writeFile(kSpool, "A\r\n");
  std::string out;
  cycle(&out);
  EXPECT_TRUE(exists(waitingFile(1)));
  fakeDevice.noAnswer = true;  // the scheduler is down for a while
  now += kHandOverRetryMilliseconds;
  cycle(&out);
  EXPECT_TRUE(exists(waitingFile(1)));
  EXPECT_EQ(countOf(out, "the printer \"Receipt\" cannot be asked whether a printout of WLSDFKJN.DRY whose"
                         " hand-over was cut off has already reached it, so 1 printout is waiting"),
            1)
      << out;
  fakeDevice.noAnswer = false;
  now += kHandOverRetryMilliseconds;
  for (int i = 0; i < 3; ++i) cycle(&out);
  EXPECT_EQ(reachedTexts(), std::vector<std::string>{"A|"});
  EXPECT_EQ(fakeDevice.documents.size(), 1u) << "not sent again";
  EXPECT_TRUE(waitingPrintouts(kSpool).empty());

  // A printer that keeps no history cannot say: printed again, said once.
  fakeDevice.noHistory = true;
  for (const char* text : {"B\r\n", "C\r\n"}) {
    failDeviceCall("EndDoc", 1);
    writeFile(kSpool, text);
    cycle(&out);
    now += kHandOverRetryMilliseconds;
    for (int i = 0; i < 3; ++i) cycle(&out);
  }
  EXPECT_EQ(reachedTexts(), (std::vector<std::string>{"A|", "B|", "B|", "C|", "C|"}));
  EXPECT_EQ(countOf(out, "keeps no record of finished jobs, so it cannot say whether a printout of WLSDFKJN.DRY"
                         " whose hand-over was cut off has already reached it. It is printed again and may print"
                         " twice."),
            1)
      << out;
  EXPECT_TRUE(std::filesystem::is_empty(kHandOverFolder));

  // A Windows printer, and records an earlier run left for the spool file.
  fakeDevice.noHistory = false;
  fakeDevice.forgetsPrinted = true;
  memory = WatcherMemory();
  const auto leftRecord = [](const std::string& text) {
    writeFile(kSpool, text);
    HandOver left;
    left.identity = newHandOverIdentity();
    left.printer = "Receipt";
    left.file = fileStamp(kSpool);
    left.content = contentDigest(text);
    left.began = static_cast<std::int64_t>(std::time(nullptr)) - 60;
    return left;
  };
  // One that notes no job (written before records noted jobs): the printer
  // cannot say, as before.
  ASSERT_EQ(recordHandOver(leftRecord("D\r\n")), 0);
  cycle(&out);
  EXPECT_EQ(reachedTexts().back(), "D|");
  EXPECT_EQ(reachedTexts().size(), 6u);
  EXPECT_EQ(countOf(out, "keeps no record of finished jobs, so it cannot say whether a printout of WLSDFKJN.DRY"),
            2)
      << out;
  EXPECT_TRUE(fakeCallsOf("GetJob").empty()) << "no job to ask for";
  // One whose job is gone (printed and forgotten) and whose number the
  // spooler gave out again, to a job of this run: that job is not taken for
  // the record's, and the printout prints once more rather than never.
  const int reachedSaid = countOf(out, "before its hand-over was cut off, so it is not printed again.");
  writeFile(kSpool, "E\r\n");
  cycle(&out);
  HandOver reused = leftRecord("F\r\n");
  reused.byJob = true;
  reused.job = fakeDevice.documents.back().job;
  ASSERT_EQ(recordHandOver(reused), 0);
  cycle(&out);
  EXPECT_EQ(reachedTexts().back(), "F|");
  EXPECT_EQ(countOf(out, "before its hand-over was cut off, so it is not printed again."), reachedSaid) << out;
  EXPECT_TRUE(std::filesystem::is_empty(kHandOverFolder));
}

TEST_F(WatcherCycleTest, PrintoutIsKeptUntilThePrinterConfirmsItAndSentOnceMoreWhenLost) {
  fakeDevice.confirmsDelivery = true;
  fakeDevice.jobsPending = true;
  std::string out;
  writeFile(kSpool, "A\r\n");
  cycle(&out);
  EXPECT_FALSE(exists(kSpool) || exists(".WLSDFKJN.DRY.printing")) << "the spool name is free at once";
  ASSERT_EQ(sentPrintouts(kSpool).size(), 1u);
  const std::string kept = sentPrintouts(kSpool)[0].first;
  // Kept while the scheduler has the job, however often it is asked; and
  // kept through a restart.
  for (int i = 0; i < 3; ++i) {
    now += kConfirmMilliseconds;
    cycle(&out);
  }
  memory = WatcherMemory();
  sweepHandOvers({kSpool});
  fakeDevice.noAnswer = true;
  for (int i = 0; i < 3; ++i) {
    now += kConfirmMilliseconds;
    cycle(&out);
  }
  EXPECT_TRUE(exists(kept));
  EXPECT_EQ(countOf(out, "Printer #0: the printer \"Receipt\" cannot be asked whether the printouts handed to it"
                         " have been printed, so they are kept in the folder sent until it says so."),
            1)
      << out;
  fakeDevice.noAnswer = false;
  // The scheduler died before it saved the job: the printout is sent once more.
  fakeDevice.lostIdentities.push_back(fakeDevice.documents[0].identity);
  for (int i = 0; i < 3; ++i) {
    now += kConfirmMilliseconds;
    cycle(&out);
  }
  EXPECT_EQ(reachedTexts(), (std::vector<std::string>{"A|", "A|"}));
  EXPECT_EQ(countOf(out, "Printer #0: the printer \"Receipt\" lost a printout of WLSDFKJN.DRY that it had taken, so"
                         " it is printed once more."),
            1)
      << out;
  ASSERT_EQ(sentPrintouts(kSpool).size(), 1u) << "the second hand-over is kept in its turn";
  // Printed: the copy and its record go, and nothing is sent again.
  fakeDevice.jobsPending = false;
  for (int i = 0; i < 3; ++i) {
    now += kConfirmMilliseconds;
    cycle(&out);
  }
  EXPECT_TRUE(sentPrintouts(kSpool).empty());
  EXPECT_TRUE(std::filesystem::is_empty(kHandOverFolder));
  EXPECT_EQ(reachedTexts().size(), 2u);
  // A scheduler that keeps no finished jobs cannot say: the copy goes as
  // handed over, and is never sent again.
  writeFile(kSpool, "B\r\n");
  cycle(&out);
  ASSERT_EQ(sentPrintouts(kSpool).size(), 1u);
  fakeDevice.noHistory = true;
  for (int i = 0; i < 3; ++i) {
    now += kConfirmMilliseconds;
    cycle(&out);
  }
  EXPECT_TRUE(sentPrintouts(kSpool).empty());
  EXPECT_TRUE(std::filesystem::is_empty(kHandOverFolder));
  EXPECT_EQ(reachedTexts(), (std::vector<std::string>{"A|", "A|", "B|"}));
}

TEST_F(WatcherCycleTest, FullDiskIsSaidAsSuchWithWhere) {
  std::string out;
  // The hand-over record cannot be written: printed all the same, said once.
  failFileOperation(kFailWrite, 1, kFaultDiskFull, true);
  for (const char* text : {"A\r\n", "B\r\n"}) {
    writeFile(kSpool, text);
    cycle(&out);
  }
  restoreFileCalls();
  EXPECT_EQ(reachedTexts(), (std::vector<std::string>{"A|", "B|"}));
  EXPECT_EQ(countOf(out, "Printer #0: ferrin cannot note its hand-overs in the folder .handover, since the disk is"
                         " full (error 61), so a printout whose hand-over is cut off by a crash may print twice."),
            1)
      << out;
  // The document cannot be stored for the printer.
  fakeDevice.failError = kDeviceErrorDiskFull;
  failDeviceCall("EndDoc", 1);
  writeFile(kSpool, "C\r\n");
  cycle(&out);
  EXPECT_EQ(countOf(out, "Printer #0: the disk is full, so the printout of WLSDFKJN.DRY could not be stored for the"
                         " printer \"Receipt\" in the temporary folder (error 61), so 1 printout is waiting"),
            1)
      << out;
  // Nor moved into the queue: the take succeeds, the move into "waiting" fails.
  setSlot("Nobody");
  failFileOperation(kFailMove, kMovesOfATake + 1, kFaultDiskFull);
  writeFile(kSpool, "D\r\n");
  memory = WatcherMemory();
  std::filesystem::remove_all("waiting");
  cycle(&out);
  EXPECT_EQ(countOf(out, "could not be moved to the folder waiting, since the disk is full (error 61), so it is kept"
                         " and tried again. Check that ferrin may write its folder and make room on the disk."),
            1)
      << out;
}

}  // namespace

// At a watcher's start a slot that cannot print says once what to do: the
// first start without ferrin.ini above all. A slot that is set up says nothing.
TEST(WatcherStart, SlotNotSetUpSaysToPressS) {
  TempWorkDir dir;
  const std::string noPrinter =
      "Printer #0: no printer is set up yet, so nothing is printed. Press S to choose one.\n";
  struct {
    const char* ini;  // nullptr: no ferrin.ini at all
    std::string said;
  } cases[] = {
      {nullptr, noPrinter},
      {"[printer 0]\r\nfontsize=10\r\n", noPrinter},
      {"[printer 0]\r\nprintername=Receipt\r\n",
       "Printer #0: no spool file name is set, so nothing is printed. Press S to set the printer up again.\n"},
      {"[printer 0]\r\nfilename=WLSDFKJN.DRY\r\n",
       "Printer #0: no printer is set, so printouts wait in the folder waiting. Press S to choose one.\n"},
      {"[printer 0]\r\nprintername=Receipt\r\nfilename=WLSDFKJN.DRY\r\n", ""},
  };
  for (const auto& c : cases) {
    std::filesystem::remove("ferrin.ini");
    if (c.ini != nullptr) std::ofstream("ferrin.ini", std::ios::binary) << c.ini;
    loadSlot(0);
    std::string out;
    captureConsole(&out, nullptr);
    sayWhenNotSetUp(0);
    captureConsole(nullptr, nullptr);
    EXPECT_EQ(out, c.said) << (c.ini ? c.ini : "no ferrin.ini");
  }
}

namespace {

// What reaches the printer of the slot's settings, through the watcher:
// the printer language's pages, the code page, the bytes sent raw.
TEST_F(WatcherCycleTest, SlotSettingsReachTheJob) {
  // A receipt cut between two lines: the cut ends the page, the next
  // receipt begins a new one.
  SlotOptions options = SlotOptions();
  options.controls = kControlsEscPos;
  setSlot("Receipt", "Courier New", 10, options);
  writeFile(kSpool, std::string("A\n\x1dV") + '\0' + "B\n");
  std::string shown;
  EXPECT_EQ(cycle(nullptr, &shown), CyclePrinted);
  ASSERT_EQ(fakeDevice.documents.size(), 1u);
  EXPECT_EQ(fakeDevice.documents[0].pages, 2);
  EXPECT_EQ(drawnText(1, 1), "A|");
  EXPECT_EQ(drawnText(1, 2), "B|");
  EXPECT_EQ(shown, "A\n----Page Feed----\nB\n----Page Feed----\n");

  // The slot's code page is the document's: its bytes are drawn as the
  // characters they stand for there.
  options = SlotOptions();
  options.codePage = 852;
  setSlot("Receipt", "Courier New", 10, options);
  writeFile(kSpool, "\x9f\xe7\r\n");
  EXPECT_EQ(cycle(), CyclePrinted);
  ASSERT_EQ(fakeDevice.texts.size(), 3u);
  EXPECT_TRUE(fakeDevice.texts[2].wide);
  EXPECT_EQ(fakeDevice.texts[2].text, "\xc4\x8d\xc5\xa1");  // UTF-8 of the two letters

  // mode=raw: a file that begins with Ctrl-Z is sent whole, the data after
  // the mark included; only the padding at its end is left out.
  options = SlotOptions();
  options.mode = kModeRaw;
  setSlot("Receipt", "Courier New", 10, options);
  writeFile(kSpool, "\x1aTOTAL\r\n\x1a\x1a");
  EXPECT_EQ(cycle(), CyclePrinted);
  ASSERT_EQ(fakeDevice.rawJobs.size(), 1u);
  EXPECT_EQ(fakeDevice.rawJobs[0].data, "\x1aTOTAL\r\n");
}


SlotOptions formOptions(const char* form, int pages = 0, int offsetX = 0, int offsetY = 0) {
  SlotOptions options = SlotOptions();
  std::strncpy(options.overlay, form, sizeof options.overlay - 1);
  options.overlayPages = pages;
  options.overlayOffsetX = offsetX;
  options.overlayOffsetY = offsetY;
  return options;
}

// The forms drawn, as "page:x,y,width x height>pixels wide x high" per image.
std::string formsDrawn(int document) {
  std::string out;
  for (const FakeImage& i : fakeDevice.images)
    if (i.document == document && i.colour)
      out += std::to_string(i.page) + ":" + std::to_string(i.x) + "," + std::to_string(i.y) + "," +
             std::to_string(i.destWidth) + "x" + std::to_string(i.destHeight) + ">" + std::to_string(i.width) + "x" +
             std::to_string(i.height) + " ";
  return out;
}

// On every page with a form, the form comes before any text of the page.
bool formsUnderText() {
  bool textOnPage = false;
  for (const std::string& call : fakeDevice.calls) {
    if (call.compare(0, 10, "StartPage(") == 0) textOnPage = false;
    if (call.find("TextOut") != std::string::npos) textOnPage = true;
    if (call.compare(0, 14, "StretchDIBits(") == 0 && call.find(",colour)") != std::string::npos && textOnPage)
      return false;
  }
  return true;
}

TEST_F(WatcherCycleTest, FormIsDrawnUnderTheChosenPagesAtItsPlaceAndABrokenOneIsSaidOnceAndLeftOut) {
  // 40 x 20 pixels at 200 dpi (7874 pixels per metre), light grey with a
  // black last row: at the fake's 600 dpi 120 x 60 dots. 10 mm across and
  // 5 mm down from the paper's corner, which lies 100 and 50 dots before the
  // printable area's: 236 - 100 and 118 - 50.
  writePng("form.png", pngImage(40, 20, 0xC0C0C0, 7874));
  fakeDevice.offsetX = 100;
  fakeDevice.offsetY = 50;
  setSlot("Report", "Courier New", 10, formOptions("form.png", 0, 1000, 500));
  writeFile(kSpool, "A\f\r\nB\f\r\nC\r\n");
  EXPECT_EQ(cycle(), CyclePrinted);
  ASSERT_EQ(fakeDevice.documents.size(), 1u);
  EXPECT_EQ(fakeDevice.documents[0].pages, 3);
  EXPECT_EQ(formsDrawn(1), "1:136,68,120x60>40x20 2:136,68,120x60>40x20 3:136,68,120x60>40x20 ");
  ASSERT_FALSE(fakeDevice.images.empty());
  EXPECT_EQ(fakeDevice.images[0].firstPixel, 0xC0C0C0u);
  EXPECT_EQ(fakeDevice.images[0].inked, 40 * 20) << "no pixel of it is white";
  EXPECT_TRUE(formsUnderText()) << fakeCallLog();
  EXPECT_EQ(drawnText(1, 1) + drawnText(1, 2) + drawnText(1, 3), "A|B|C|");

  // The first page only, the later ones only; without a pHYs chunk 300 dpi,
  // at the paper's corner. A changed file is read again.
  fakeDevice.offsetX = fakeDevice.offsetY = 0;
  writePng("form.png", pngImage(30, 15, 0x102030));
  setSlot("Report", "Courier New", 10, formOptions("form.png", 1));
  writeFile(kSpool, "A\f\r\nB\f\r\nC\r\n");
  EXPECT_EQ(cycle(), CyclePrinted);
  EXPECT_EQ(formsDrawn(2), "1:0,0,60x30>30x15 ");
  EXPECT_EQ(fakeDevice.images.back().firstPixel, 0x102030u);
  setSlot("Report", "Courier New", 10, formOptions("form.png", 2));
  writeFile(kSpool, "A\f\r\nB\f\r\nC\r\n");
  EXPECT_EQ(cycle(), CyclePrinted);
  EXPECT_EQ(formsDrawn(3), "2:0,0,60x30>30x15 3:0,0,60x30>30x15 ");

  // Under the pages of the printer languages alike: two PCL pages, two
  // receipts cut apart.
  SlotOptions language = formOptions("form.png");
  language.controls = kControlsPcl;
  setSlot("Report", "Courier New", 10, language);
  writeFile(kSpool, "\x1b" "EPAGE 1\fPAGE 2\x1b" "E");
  EXPECT_EQ(cycle(), CyclePrinted);
  EXPECT_EQ(formsDrawn(4), "1:0,0,60x30>30x15 2:0,0,60x30>30x15 ");
  language.controls = kControlsEscPos;
  setSlot("Receipt", "Courier New", 10, language);
  writeFile(kSpool, std::string("A\n\x1dV") + '\0' + "B\n");
  EXPECT_EQ(cycle(), CyclePrinted);
  EXPECT_EQ(formsDrawn(5), "1:0,0,60x30>30x15 2:0,0,60x30>30x15 ");
  EXPECT_TRUE(formsUnderText()) << fakeCallLog();

  // Forms that cannot be used: said once with the cause, every printout
  // printed whole without them.
  std::string damaged = "\x78\x01garbage";
  writePng("text.png", "Total 12.50\r\n");
  writePng("huge.png", pngImage(1, 1, 0).replace(16, 8, pngWord(20000) + pngWord(6000)));
  writePng("damaged.png", pngImage(40, 20, 0xFFFFFF, 0, &damaged));
  // Cut short, a chunk declaring 1.9 GB: refused before any decoder is asked.
  writePng("cut.png", pngImage(40, 20, 0xFFFFFF).substr(0, 60) + pngWord(0x73737373) + "sPLT");
  struct Broken {
    const char* name;
    const char* cause;
  } broken[] = {{"missing.png", "the file is missing"},
                {"text.png", "it is not a PNG image"},
                {"huge.png", "it has 120000000 pixels, more than the 100 million a form may have"},
                {"damaged.png", "it cannot be decoded"},
                {"cut.png", "it is damaged: the file ends inside the image"}};
  int document = 5;
  for (const Broken& b : broken) {
    setSlot("Report", "Courier New", 10, formOptions(b.name));
    std::string out;
    for (const char* text : {"ONE\f\r\nTWO\r\n", "THREE\r\n"}) {
      writeFile(kSpool, text);
      EXPECT_EQ(cycle(&out), CyclePrinted) << b.name;
      ++document;
      EXPECT_EQ(formsDrawn(document), "") << b.name;
      EXPECT_TRUE(fakeDevice.documents.back().ended) << b.name;
    }
    EXPECT_EQ(countOf(out, std::string("Printer #0: the form \"") + b.name + "\" (overlay in ferrin.ini) cannot be used: " +
                               b.cause),
              1)
        << out;
    EXPECT_EQ(countOf(out, "Printouts print without it until the file is mended."), 1) << out;
  }
  EXPECT_EQ(documentTexts().back(), "THREE|");

  // mode=raw: the bytes go as they are, without the form, and that is said once.
  SlotOptions raw = formOptions("form.png");
  raw.mode = kModeRaw;
  setSlot("Receipt", "Courier New", 10, raw);
  std::string out;
  for (const char* text : {"RAW 1\r\n", "RAW 2\r\n"}) {
    writeFile(kSpool, text);
    EXPECT_EQ(cycle(&out), CyclePrinted);
  }
  ASSERT_EQ(fakeDevice.rawJobs.size(), 2u);
  EXPECT_EQ(fakeDevice.rawJobs[1].data, "RAW 2\r\n");
  EXPECT_EQ(countOf(out, "Printer #0: printouts are sent raw (mode=raw), so the form \"form.png\" (overlay in"
                         " ferrin.ini) is not drawn under them."),
            1)
      << out;
}

TEST(LoadOverlay, KeptWhileTheFileIsUnchangedAndReadAgainOnceItChanges) {
  TempWorkDir dir;
  writePng("form.png", pngImage(8, 4, 0x808080, 11811));  // 300 dpi
  std::string why;
  std::shared_ptr<const OverlayImage> first = loadOverlay("form.png", &why);
  ASSERT_NE(first, nullptr) << why;
  EXPECT_EQ(first->width, 8);
  EXPECT_EQ(first->height, 4);
  EXPECT_NEAR(first->dpiX, 300.0, 0.01);
  // Blue, green, red, unused; the last row black.
  EXPECT_EQ(first->pixels.size(), 8u * 4 * 4);
  EXPECT_EQ(first->pixels[0], 0x80);
  EXPECT_EQ(first->pixels[3], 0);
  EXPECT_EQ(first->pixels[3 * 8 * 4], 0);
  EXPECT_EQ(loadOverlay("form.png", &why), first) << "decoded once";
  writePng("form.png", pngImage(8, 5, 0x808080, 11811));
  std::shared_ptr<const OverlayImage> second = loadOverlay("form.png", &why);
  ASSERT_NE(second, nullptr) << why;
  EXPECT_EQ(second->height, 5);
  std::filesystem::remove("form.png");
  EXPECT_EQ(loadOverlay("form.png", &why), nullptr);
  EXPECT_EQ(why, "the file is missing");
}

}  // namespace
