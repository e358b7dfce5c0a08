// The file layer's failure paths, made through its table of system calls
// (unit/filefaults.h, and unit/fsfault_win32.h for what only Windows has).
// On both platforms: a small record written safely whose new file cannot be
// made, written, flushed or renamed into place keeps its old content and
// leaves no ".new" file. On Windows: the spool file held by its exclusive
// open and deleted and moved through its handle, a folder that refuses the
// delete access read all the same and the file deleted by name, and an open
// refused for sharing taken as busy (kErrorAccess): left alone without a word and
// printed once when free.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "config/slots.h"
#include "console/console.h"
#include "platform/system.h"
#include "fake/device_fake.h"
#include "files/errors.h"
#include "files/fs.h"
#include "files/spoolfile.h"
#include "spool/cycle.h"
#include "unit/filefaults.h"
#include "unit/oldfile.h"
#include "unit/tempdir.h"

namespace {

bool exists(const std::string& path) { return std::filesystem::exists(std::filesystem::symlink_status(path)); }

std::string contentOf(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

class FileFaultsTest : public ::testing::Test {
 protected:
  TempWorkDir dir;
  void SetUp() override { clearError(); }
  void TearDown() override {
    closeSpoolFile();
    restoreFileCalls();
  }
};

TEST_F(FileFaultsTest, RecordWrittenSafelyKeepsItsOldContentWhenAnyStepFails) {
  const struct {
    const char* what;
    FileOperation operation;
    FileFault fault;
    int code;
  } steps[] = {
      {"the new file cannot be made", kFailOpen, kFaultRefused, kErrorAccess},
      {"the disk is full", kFailWrite, kFaultDiskFull, kErrorDiskFull},
      {"the flush to the disk fails", kFailFlush, kFaultDiskError, kErrorDiskFault},
      {"the rename into place is refused", kFailReplace, kFaultRefused, kErrorAccess},
  };
  ASSERT_EQ(fsWriteFileSafely("record", "old content"), 0);
  for (const auto& step : steps) {
    SCOPED_TRACE(step.what);
    failFileOperation(step.operation, 1, step.fault);
    EXPECT_EQ(fsWriteFileSafely("record", "new content, longer than the old"), step.code);
    // A record that was not there before stays away.
    failFileOperation(step.operation, 1, step.fault);
    EXPECT_EQ(fsWriteFileSafely("fresh", "new record"), step.code);
    restoreFileCalls();
    EXPECT_EQ(contentOf("record"), "old content");
    EXPECT_FALSE(exists("record.new"));
    EXPECT_FALSE(exists("fresh"));
    EXPECT_FALSE(exists("fresh.new"));
  }
  // Mended: the new content replaces the old.
  EXPECT_EQ(fsWriteFileSafely("record", "new content"), 0);
  EXPECT_EQ(contentOf("record"), "new content");
  EXPECT_FALSE(exists("record.new"));
}

#ifdef _WIN32

const char kSpool[] = "WLSDFKJN.DRY";

std::string readLine() {
  std::string line;
  readLinePart(&line, static_cast<std::size_t>(-1));
  return line;
}

// What another program gets from the file while ferrin holds it.
DWORD otherOpenError(const std::string& path) {
  HANDLE handle = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
  if (handle == INVALID_HANDLE_VALUE) return GetLastError();
  CloseHandle(handle);
  return ERROR_SUCCESS;
}

TEST_F(FileFaultsTest, SpoolFileIsHeldAndDeletedAndMovedThroughItsHandle) {
  writeFile(kSpool, "A\r\n");
  writeFile("next", "NEXT\r\n");
  openSpoolFile(kSpool);
  ASSERT_EQ(lastError(), 0);
  // Held: nobody opens, replaces or deletes it meanwhile.
  EXPECT_EQ(otherOpenError(kSpool), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  EXPECT_FALSE(MoveFileExA("next", kSpool, MOVEFILE_REPLACE_EXISTING));
  EXPECT_FALSE(DeleteFileA(kSpool));
  EXPECT_EQ(readLine(), "A");
  // Deleted through the handle: deletes and renames by name may be refused.
  failWin32Call(kWinDeleteFile, 1, ERROR_ACCESS_DENIED, true);
  failWin32Call(kWinMoveFileEx, 1, ERROR_ACCESS_DENIED, true);
  removeSpoolFile();
  EXPECT_EQ(lastError(), 0);
  EXPECT_FALSE(exists(kSpool));
  restoreFileCalls();

  // Moved through the handle: a rename the disk has no room for leaves the
  // file open under its name, and the next try moves it whole.
  writeFile(kSpool, "B\r\n");
  ASSERT_TRUE(std::filesystem::create_directory("waiting"));
  clearError();
  openSpoolFile(kSpool);
  ASSERT_EQ(lastError(), 0);
  failWin32Call(kWinRenameByHandle, 1, ERROR_DISK_FULL);
  moveSpoolFile("waiting/B");
  EXPECT_EQ(lastError(), kErrorDiskFull);
  EXPECT_TRUE(spoolFileIsOpen());
  EXPECT_EQ(otherOpenError(kSpool), static_cast<DWORD>(ERROR_SHARING_VIOLATION)) << "still held";
  EXPECT_FALSE(exists("waiting/B"));
  clearError();
  moveSpoolFile("waiting/B");
  EXPECT_EQ(lastError(), 0);
  EXPECT_FALSE(spoolFileIsOpen());
  EXPECT_FALSE(exists(kSpool));
  EXPECT_EQ(contentOf("waiting/B"), "B\r\n");
}

TEST_F(FileFaultsTest, FileWithoutDeleteAccessIsReadAndDeletedByName) {
  // The folder refuses the open with delete access, and only that one.
  writeFile(kSpool, "A\r\nB\r\n");
  failWin32Call(kWinCreateFile, 1, ERROR_ACCESS_DENIED);
  openSpoolFile(kSpool);
  ASSERT_EQ(lastError(), 0);
  EXPECT_EQ(otherOpenError(kSpool), static_cast<DWORD>(ERROR_SHARING_VIOLATION)) << "held all the same";
  EXPECT_EQ(readLine(), "A");
  EXPECT_EQ(readLine(), "B");
  removeSpoolFile();
  EXPECT_EQ(lastError(), 0);
  EXPECT_FALSE(exists(kSpool));

  // And when the delete by name is refused as well: kErrorAccess, and the file stays.
  writeFile(kSpool, "C\r\n");
  failWin32Call(kWinCreateFile, 1, ERROR_ACCESS_DENIED);
  clearError();
  openSpoolFile(kSpool);
  ASSERT_EQ(lastError(), 0);
  failWin32Call(kWinDeleteFile, 1, ERROR_ACCESS_DENIED, true);
  removeSpoolFile();
  EXPECT_EQ(lastError(), kErrorAccess);
  EXPECT_EQ(contentOf(kSpool), "C\r\n");
}

TEST_F(FileFaultsTest, SharingViolationIsBusyLeftAloneWithoutAWordAndPrintedOnceFree) {
  PrinterSlot slot;
  std::memset(&slot, 0, sizeof slot);
  std::strncpy(slot.printername, "Receipt", sizeof slot.printername - 1);
  std::strncpy(slot.fontname, "Courier New", sizeof slot.fontname - 1);
  std::strncpy(slot.filename, kSpool, sizeof slot.filename - 1);
  slot.fontsize = 10;
  {
    LockGuard lock(SlotLock);
    printerSlots[0] = slot;
  }
  resetFakeDevice();
  std::string output, echo;
  captureConsole(&output, &echo);
  WatcherMemory memory;
  unsigned long long now = 1000000;

  // The file layer says busy...
  writeFile(kSpool, "A\r\n");
  failWin32Call(kWinCreateFile, 1, ERROR_SHARING_VIOLATION);
  openSpoolFile(kSpool);
  EXPECT_EQ(lastError(), kErrorAccess);
  EXPECT_FALSE(spoolFileIsOpen());
  // ...and the watcher leaves the file to its writer, cycle after cycle.
  failWin32Call(kWinCreateFile, 1, ERROR_SHARING_VIOLATION, true);
  for (int i = 0; i < 5; ++i, now += 150) EXPECT_EQ(runWatcherCycle(0, memory, now), CycleIdle);
  restoreFileCalls();
  EXPECT_TRUE(fakeCallsOf("OpenPrinter").empty());
  EXPECT_EQ(contentOf(kSpool), "A\r\n");
  EXPECT_FALSE(exists("waiting/WLSDFKJN.DRY.000001"));
  EXPECT_EQ(output, "") << "a busy file is nothing to report";
  // Free: printed once, and deleted.
  EXPECT_EQ(runWatcherCycle(0, memory, now), CyclePrinted);
  now += 150;
  EXPECT_EQ(runWatcherCycle(0, memory, now), CycleIdle);
  ASSERT_EQ(fakeDevice.documents.size(), 1u);
  EXPECT_TRUE(fakeDevice.documents[0].ended);
  EXPECT_FALSE(exists(kSpool));
  EXPECT_EQ(echo, "A\n");
  captureConsole(nullptr, nullptr);
}

#endif  // _WIN32

}  // namespace
