// One watcher cycle over real spool files and the recording printer device:
// pages and echo, what happens to the file, and the decisions on failures
// (kept, said once, tried again when mended; an undeletable file printed once).
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <string>

#include "config/slots.h"
#include "console/system.h"
#include "files/errors.h"
#include "print/device_fake.h"
#include "print/printer.h"
#include "spool/cycle.h"
#include "unit/tempdir.h"

namespace {

const char kSpool[] = "WLSDFKJN.DRY";

void writeFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
  out.close();
  // Old enough to be taken where leases are unavailable.
  struct timespec times[2] = {{0, UTIME_OMIT}, {1000000000, 0}};
  utimensat(AT_FDCWD, path.c_str(), times, 0);
}

bool exists(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

void setSlot(const std::string& printer, const std::string& font = "Courier New", std::int16_t size = 10) {
  PrinterSlot slot;
  std::memset(&slot, 0, sizeof slot);
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
  void SetUp() override {
    resetFakeDevice();
    clearError();
    setSlot("Receipt");
  }
  // Runs one cycle; standard output and the screen echo (standard error
  // without a terminal) are captured.
  CycleOutcome cycle(std::string* output = nullptr, std::string* echo = nullptr) {
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    CycleOutcome outcome = runWatcherCycle(0, memory, now);
    std::string out = testing::internal::GetCapturedStdout();
    std::string err = testing::internal::GetCapturedStderr();
    if (output) *output += out;
    if (echo) *echo += err;
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

TEST_F(WatcherCycleTest, UnknownPrinterKeepsTheFileSaysSoOnceAndPrintsWhenMended) {
  writeFile(kSpool, "A\r\n");
  setSlot("Nobody");
  std::string output, echo;
  for (int i = 0; i < 20; ++i) EXPECT_EQ(cycle(&output, &echo), CycleIdle);
  EXPECT_TRUE(exists(kSpool));
  EXPECT_EQ(echo, "") << "a job that is not printed is not echoed";
  EXPECT_EQ(countOf(output, "Could not print WLSDFKJN.DRY on printer \"Nobody\""), 1) << output;
  EXPECT_TRUE(fakeDevice.documents.empty());
  // Tried again about once a second, not every cycle.
  int attempts = static_cast<int>(fakeCallsOf("OpenPrinter").size());
  EXPECT_GE(attempts, 2);
  EXPECT_LE(attempts, 4);
  // Mended settings are tried at once.
  setSlot("Receipt");
  EXPECT_EQ(cycle(&output, &echo), CyclePrinted);
  EXPECT_FALSE(exists(kSpool));
  EXPECT_EQ(echo, "A\n");
  ASSERT_EQ(fakeDevice.documents.size(), 1u);
  EXPECT_TRUE(fakeDevice.documents[0].ended);
}

TEST_F(WatcherCycleTest, NoPrinterNameKeepsTheFile) {
  writeFile(kSpool, "A\r\n");
  setSlot("");
  std::string output;
  for (int i = 0; i < 5; ++i) EXPECT_EQ(cycle(&output), CycleIdle);
  EXPECT_TRUE(exists(kSpool));
  EXPECT_EQ(countOf(output, "no printer is set for printer #0"), 1) << output;
  EXPECT_TRUE(fakeCallsOf("StartDoc").empty());
}

TEST_F(WatcherCycleTest, DocumentNotHandedOverIsKeptAndPrintedAgain) {
  writeFile(kSpool, "A\r\n");
  failDeviceCall("EndDoc", 1);
  std::string output;
  EXPECT_EQ(cycle(&output), CyclePrinted);
  EXPECT_TRUE(exists(kSpool) || exists(std::string(".") + kSpool + ".printing"));
  EXPECT_EQ(countOf(output, "Could not hand the printout of WLSDFKJN.DRY"), 1) << output;
  // Not again at once: the whole job would be echoed every cycle.
  EXPECT_EQ(cycle(&output), CycleIdle);
  now += kHandOverRetryMilliseconds;
  EXPECT_EQ(cycle(&output), CyclePrinted);
  ASSERT_EQ(fakeDevice.documents.size(), 2u);
  EXPECT_TRUE(fakeDevice.documents[1].ended);
  EXPECT_FALSE(exists(kSpool));
  EXPECT_FALSE(exists(std::string(".") + kSpool + ".printing"));
}

void setImmutable(const std::string& path, bool on) {
  int fd = open(path.c_str(), O_RDONLY);
  ASSERT_GE(fd, 0);
  int flags = 0;
  ASSERT_EQ(ioctl(fd, FS_IOC_GETFLAGS, &flags), 0);
  flags = on ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
  ASSERT_EQ(ioctl(fd, FS_IOC_SETFLAGS, &flags), 0) << "the immutable attribute needs root on ext4/xfs/btrfs";
  close(fd);
}

TEST_F(WatcherCycleTest, UndeletableFileIsPrintedOnceUntilItChanges) {
  writeFile(kSpool, "A\r\n");
  setImmutable(kSpool, true);
  std::string output;
  EXPECT_EQ(cycle(&output), CyclePrinted);
  for (int i = 0; i < 10; ++i) EXPECT_EQ(cycle(&output), CycleIdle);
  EXPECT_EQ(fakeDevice.documents.size(), 1u);
  EXPECT_EQ(countOf(output, "Printed WLSDFKJN.DRY but could not delete it (error 70)"), 1) << output;
  // Changed: printed again, and deleted this time.
  setImmutable(kSpool, false);
  writeFile(kSpool, "B\r\n");
  EXPECT_EQ(cycle(&output), CyclePrinted);
  EXPECT_EQ(fakeDevice.documents.size(), 2u);
  EXPECT_FALSE(exists(kSpool));
}

TEST_F(WatcherCycleTest, JobsOfTwoWatchersDoNotOverlap) {
  // While one job holds the printer, another cannot attach.
  writeFile(kSpool, "A\r\n");
  acquireLock(PrinterLock);
  bool finished = false;
  pthread_t thread;
  struct Arg {
    WatcherCycleTest* test;
    bool* finished;
  } arg = {this, &finished};
  testing::internal::CaptureStderr();
  ASSERT_EQ(pthread_create(
                &thread, nullptr,
                [](void* raw) -> void* {
                  Arg* a = static_cast<Arg*>(raw);
                  runWatcherCycle(0, a->test->memory, a->test->now);
                  *a->finished = true;
                  return nullptr;
                },
                &arg),
            0);
  usleep(200000);
  EXPECT_FALSE(finished);
  EXPECT_TRUE(fakeCallsOf("OpenPrinter").empty());
  releaseLock(PrinterLock);
  pthread_join(thread, nullptr);
  testing::internal::GetCapturedStderr();
  EXPECT_TRUE(finished);
  EXPECT_EQ(fakeDevice.documents.size(), 1u);
}

}  // namespace
