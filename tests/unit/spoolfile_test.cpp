// Spool file access over real files: DOS line ends across the 128-byte
// refill, Ctrl-Z, the error codes by cause, how a file is held, taken and
// removed, and deletion by pattern.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "files/errors.h"
#include "files/spoolfile.h"
#include "unit/filefaults.h"
#include "unit/oldfile.h"
#include "unit/otherthread.h"
#include "unit/tempdir.h"

namespace {

void writeWhole(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
  ASSERT_TRUE(out.good()) << path;
}

bool exists(const std::string& path) { return std::filesystem::exists(std::filesystem::symlink_status(path)); }

// The next whole line.
std::string readLine() {
  std::string line;
  readLinePart(&line, static_cast<std::size_t>(-1));
  return line;
}

// Every line of the file as readLine gives it, up to atEndOfFile.
std::vector<std::string> readAll(const std::string& path) {
  std::vector<std::string> lines;
  clearError();
  openSpoolFile(path);
  EXPECT_EQ(lastError(), 0) << path;
  while (!atEndOfFile()) {
    lines.push_back(readLine());
    EXPECT_EQ(lastError(), 0);
    if (lines.size() > 100000) break;
  }
  closeSpoolFile();
  return lines;
}

typedef std::vector<std::string> Lines;

// A file that is old enough to be taken even where leases are unavailable.
void writeSettled(const std::string& path, const std::string& bytes) {
  writeWhole(path, bytes);
  dateLongAgo(path);
}

class SpoolFileTest : public ::testing::Test {
 protected:
  TempWorkDir dir;
  void SetUp() override { clearError(); }
  void TearDown() override {
    closeSpoolFile();
    restoreFileCalls();
  }
};

TEST_F(SpoolFileTest, LineEnds) {
  writeSettled("a", "A\r\nB\rC\r\n");
  EXPECT_EQ(readAll("a"), (Lines{"A", "B", "C"}));
  // A lone LF stays inside the line.
  writeSettled("b", "A\rB\nD");
  EXPECT_EQ(readAll("b"), (Lines{"A", "B\nD"}));
  writeSettled("c", "A\nB\n");
  EXPECT_EQ(readAll("c"), (Lines{"A\nB\n"}));
  // Two line ends give one empty line; no line end at all is still a line.
  writeSettled("d", "A\r\n\r\n");
  EXPECT_EQ(readAll("d"), (Lines{"A", ""}));
  writeSettled("e", "\rA");
  EXPECT_EQ(readAll("e"), (Lines{"", "A"}));
  // CR CR LF: a lone CR, then CR LF.
  writeSettled("f", "A\r\r\nB");
  EXPECT_EQ(readAll("f"), (Lines{"A", "", "B"}));
}

TEST_F(SpoolFileTest, ControlBytesStayInTheLine) {
  std::string line("A\0B\tC\fD \x1b", 9);
  writeSettled("a", line + "\r\n\f\r\n");
  EXPECT_EQ(readAll("a"), (Lines{line, "\f"}));
}

TEST_F(SpoolFileTest, CtrlZEndsTheDataAndIsNeverConsumed) {
  writeSettled("a", "A\r\nB\x1a" "C\r\nD\r\n");
  clearError();
  openSpoolFile("a");
  EXPECT_EQ(readLine(), "A");
  EXPECT_EQ(readLine(), "B");
  EXPECT_TRUE(atEndOfFile());
  EXPECT_TRUE(atEndOfFile());
  EXPECT_EQ(lastError(), 0);
  EXPECT_EQ(readLine(), "");
  EXPECT_EQ(lastError(), kErrorPastEnd);
  closeSpoolFile();

  // A file that starts with Ctrl-Z is at its end at once, but not empty.
  writeSettled("b", "\x1a" "ABC\r\n");
  clearError();
  openSpoolFile("b");
  EXPECT_EQ(spoolFileLength(), 6u);
  EXPECT_TRUE(atEndOfFile());
  EXPECT_EQ(readLine(), "");
  EXPECT_EQ(lastError(), kErrorPastEnd);
}

TEST_F(SpoolFileTest, EmptyFile) {
  writeSettled("a", "");
  clearError();
  openSpoolFile("a");
  ASSERT_EQ(lastError(), 0);
  EXPECT_EQ(spoolFileLength(), 0u);
  EXPECT_TRUE(atEndOfFile());
  EXPECT_EQ(lastError(), 0);
  EXPECT_EQ(readLine(), "");
  EXPECT_EQ(lastError(), kErrorPastEnd);
  closeSpoolFile();
  closeSpoolFile();  // a second close does nothing
  EXPECT_EQ(lastError(), kErrorPastEnd);
}

TEST_F(SpoolFileTest, LinesAcrossTheBufferRefill) {
  // CR as byte 127 and its LF as byte 128: one line end, no empty line.
  std::string first(127, 'x');
  writeSettled("a", first + "\r\nB\r\n");
  EXPECT_EQ(readAll("a"), (Lines{first, "B"}));
  // CR as the last byte of a buffer followed by text: a lone CR.
  writeSettled("b", first + "\rB");
  EXPECT_EQ(readAll("b"), (Lines{first, "B"}));
  // Ctrl-Z right after a refill.
  std::string full(128, 'y');
  writeSettled("c", full + "\x1a" "zzz");
  EXPECT_EQ(readAll("c"), (Lines{full}));
  // Lines of many lengths around the buffer size.
  std::string text;
  Lines expected;
  for (int n = 0; n < 300; n += 7) {
    std::string line(static_cast<std::size_t>(n), static_cast<char>('a' + n % 26));
    expected.push_back(line);
    text += line + (n % 2 ? "\r\n" : "\r");
  }
  writeSettled("d", text);
  EXPECT_EQ(readAll("d"), expected);
}

TEST_F(SpoolFileTest, NoLimitOnLineLength) {
  std::string line(1 << 20, 'L');
  line[5000] = '\n';
  line[700000] = '\0';
  writeSettled("a", line + "\r\nEND");
  EXPECT_EQ(readAll("a"), (Lines{line, "END"}));
}

TEST_F(SpoolFileTest, ErrorCodesByCause) {
  struct Case {
    std::string name;
    int code;
  } cases[] = {
      {"missing", kErrorFileNotFound},
      {"nodir/file", kErrorPathNotFound},
      {"", kErrorBadName},
      {"WLS*.DRY", kErrorBadName},
      {"WLS?.DRY", kErrorBadName},
      {".", kErrorNotPlainFile},  // a directory is never opened as a file
  };
  for (const Case& c : cases) {
    clearError();
    openSpoolFile(c.name);
    EXPECT_EQ(lastError(), c.code) << "'" << c.name << "'";
    // Neutral results and nothing open.
    EXPECT_TRUE(atEndOfFile());
    EXPECT_EQ(readLine(), "");
  }
  // Operations without an open file fail; a good operation leaves the code.
  clearError();
  EXPECT_EQ(spoolFileLength(), 0u);
  EXPECT_NE(lastError(), 0);
  writeSettled("ok", "A");
  clearError();
  openSpoolFile("missing");
  openSpoolFile("ok");
  EXPECT_EQ(lastError(), kErrorFileNotFound);
  EXPECT_EQ(readLine(), "A");
  EXPECT_EQ(lastError(), kErrorFileNotFound);
}

TEST_F(SpoolFileTest, ErrorCodeBelongsToTheThread) {
  clearError();
  openSpoolFile("missing");
  ASSERT_EQ(lastError(), kErrorFileNotFound);
  int seen = -1;
  OtherThread other([&] { seen = lastError(); });
  other.join();
  EXPECT_EQ(seen, 0);
}

TEST_F(SpoolFileTest, FileOpenForWritingIsNotTaken) {
  std::ofstream writer("WLSDFKJN.DRY", std::ios::binary);
  writer << "A\r\n";
  writer.flush();
  clearError();
  openSpoolFile("WLSDFKJN.DRY");
  EXPECT_EQ(lastError(), kErrorAccess);
  EXPECT_TRUE(atEndOfFile());
  writer << "B\r\n";
  writer.close();
  EXPECT_EQ(readAll("WLSDFKJN.DRY"), (Lines{"A", "B"}));
}

#ifndef _WIN32
int noLeases(int, int) {
  errno = EINVAL;
  return -1;
}

// Where leases are unavailable (some network and user-space file systems), a
// writer's open cannot be seen: a file is taken only once it has rested.
TEST_F(SpoolFileTest, WithoutLeasesOnlyAFileAtRestIsTaken) {
  posixFileCalls.setLease = noLeases;
  writeWhole("WLSDFKJN.DRY", "A\r\n");
  clearError();
  openSpoolFile("WLSDFKJN.DRY");
  EXPECT_EQ(lastError(), kErrorAccess) << "written a moment ago";
  closeSpoolFile();
  dateLongAgo("WLSDFKJN.DRY");
  clearError();
  openSpoolFile("WLSDFKJN.DRY");
  EXPECT_EQ(lastError(), 0) << "at rest";
  EXPECT_EQ(readLine(), "A");
  closeSpoolFile();
  posixFileCalls = posixFileCallsDefault;
}
#endif

TEST_F(SpoolFileTest, ASecondReaderIsRefused) {
  writeSettled("WLSDFKJN.DRY", "A\r\n");
  clearError();
  openSpoolFile("WLSDFKJN.DRY");
  ASSERT_EQ(lastError(), 0);
  int code = -1;
  OtherThread other([&] {
    clearError();
    openSpoolFile("WLSDFKJN.DRY");
    code = lastError();
    closeSpoolFile();
  });
  other.join();
  EXPECT_EQ(code, kErrorAccess);
  EXPECT_EQ(readLine(), "A");
}

// POSIX takes a spool file by renaming it to an in-progress name, which a
// crash leaves behind, and a file renamed over an open one is a new file.
// Windows holds the file by its exclusive open instead, which nothing can
// replace (file_faults_test.cpp).
#ifndef _WIN32
TEST_F(SpoolFileTest, TakenFileFreesTheNameAndIsRemovedAlone) {
  writeSettled("WLSDFKJN.DRY", "OLD\r\n");
  clearError();
  openSpoolFile("WLSDFKJN.DRY");
  takeSpoolFile();
  ASSERT_EQ(lastError(), 0);
  EXPECT_FALSE(exists("WLSDFKJN.DRY"));
  EXPECT_TRUE(exists(".WLSDFKJN.DRY.printing"));
  // The writer puts the next printout in place while this one is read.
  writeSettled("WLSDFKJN.DRY", "NEW\r\n");
  EXPECT_EQ(readLine(), "OLD");
  removeSpoolFile();
  EXPECT_EQ(lastError(), 0);
  EXPECT_FALSE(exists(".WLSDFKJN.DRY.printing"));
  EXPECT_EQ(readAll("WLSDFKJN.DRY"), (Lines{"NEW"}));
}

TEST_F(SpoolFileTest, LeftoverInProgressFileComesFirst) {
  writeSettled(".WLSDFKJN.DRY.printing", "CUT OFF\r\n");
  writeSettled("WLSDFKJN.DRY", "NEXT\r\n");
  FileStamp stamp = fileStamp("WLSDFKJN.DRY");
  EXPECT_EQ(stamp.size, 9u);
  EXPECT_EQ(readAll("WLSDFKJN.DRY"), (Lines{"CUT OFF"}));
  clearError();
  openSpoolFile("WLSDFKJN.DRY");
  removeSpoolFile();
  EXPECT_EQ(lastError(), 0);
  EXPECT_EQ(readAll("WLSDFKJN.DRY"), (Lines{"NEXT"}));
}

TEST_F(SpoolFileTest, ReplacedFileIsNotRemoved) {
  writeSettled("WLSDFKJN.DRY", "OLD\r\n");
  clearError();
  openSpoolFile("WLSDFKJN.DRY");
  // Replaced by rename before it was taken: the new file is not deleted.
  writeSettled("next", "NEW\r\n");
  ASSERT_EQ(rename("next", "WLSDFKJN.DRY"), 0);
  EXPECT_EQ(readLine(), "OLD");
  removeSpoolFile();
  EXPECT_EQ(readAll("WLSDFKJN.DRY"), (Lines{"NEW"}));
}
#endif

TEST_F(SpoolFileTest, RefusedDeleteIs70) {
  // Deletes and renames refused as for an immutable file.
  failFileOperation(kFailDelete, 1, kFaultRefused, true);
  failFileOperation(kFailMove, 1, kFaultRefused, true);
  // The printed spool file: the remove fails and the file stays.
  writeSettled("WLSDFKJN.DRY", "A\r\n");
  clearError();
  openSpoolFile("WLSDFKJN.DRY");
  ASSERT_EQ(lastError(), 0);
  takeSpoolFile();
  removeSpoolFile();
  EXPECT_EQ(lastError(), kErrorAccess);
  EXPECT_TRUE(exists("WLSDFKJN.DRY"));
  restoreFileCalls();
}

}  // namespace
