#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <atomic>
#include <fstream>
#include <sstream>

#include "config/ini.h"
#include "config/profile.h"
#include "unit/otherthread.h"
#include "tempdir.h"

namespace {

std::string readFile(const char* path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

void writeFile(const char* path, const std::string& content) {
  std::ofstream out(path, std::ios::binary);
  out << content;
}

std::string lookup(const std::string& content, const char* section, const char* key) {
  std::string value = "<missing>";
  iniLookup(content, section, key, &value);
  return value;
}

}  // namespace

TEST(IniLookup, NamesMatchWithoutCaseAndValuesLoseOuterBlanks) {
  std::string ini = "[Printer 0]\r\n  PrinterName =  Receipt Printer  \r\nfontsize=12\r\n[printer 1]\nfontsize=10\n";
  EXPECT_EQ(lookup(ini, "printer 0", "printername"), "Receipt Printer");
  EXPECT_EQ(lookup(ini, "PRINTER 0", "FONTSIZE"), "12");
  EXPECT_EQ(lookup(ini, "printer 1", "fontsize"), "10");
  EXPECT_EQ(lookup(ini, "printer 1", "printername"), "<missing>");
  EXPECT_EQ(lookup(ini, "printer 2", "fontsize"), "<missing>");
  EXPECT_EQ(lookup(ini, "printer  0", "fontsize"), "<missing>");  // one blank exactly
}

TEST(IniLookup, FirstSectionAndFirstKeyWin) {
  std::string ini = "[printer 0]\nfontsize=8\nfontsize=9\n[printer 0]\nfontsize=10\nfontname=Other\n";
  EXPECT_EQ(lookup(ini, "printer 0", "fontsize"), "8");
  EXPECT_EQ(lookup(ini, "printer 0", "fontname"), "<missing>");
}

TEST(IniLookup, BrokenFilesReadSoundly) {
  std::string ini = std::string("garbage line\r\n=novalue\r\n[printer 0\r\nfilename=A.TXT\r\n") +
                    std::string("fontname=Cour\0ier\r\n", 19) + "[]\r\nfontsize=5\r\n" + "key=\"quoted value\"\r\n" +
                    "[printer 1]x\rprintername = 'p q'\r" + std::string(100000, 'z') + "\r\n";
  EXPECT_EQ(lookup(ini, "printer 0", "filename"), "A.TXT");  // a missing ']' still names the section
  EXPECT_EQ(lookup(ini, "printer 0", "fontname"), std::string("Cour\0ier", 8));
  EXPECT_EQ(lookup(ini, "", "fontsize"), "5");
  EXPECT_EQ(lookup(ini, "", "key"), "quoted value");
  EXPECT_EQ(lookup(ini, "printer 1", "printername"), "p q");
  EXPECT_EQ(lookup(ini, "printer 1", std::string(100000, 'z').c_str()), "");
}

TEST(IniUpdate, ReplacesOneKeyAndKeepsEveryOtherLine) {
  std::string ini = "; settings\n[printer 0]\nprinterName=Old\n; note\nunknown=1\n\n[other]\nx=y\n";
  std::string out = iniUpdate(ini, "Printer 0", "printername", "New");
  EXPECT_EQ(out, "; settings\r\n[printer 0]\r\nprinterName=New\r\n; note\r\nunknown=1\r\n\r\n[other]\r\nx=y\r\n");
}

TEST(IniUpdate, AddsKeysAtTheEndOfTheirSectionAndNewSectionsAtTheEnd) {
  std::string out = iniUpdate("[printer 0]\r\na=1\r\n\r\n[other]\r\n", "printer 0", "b", "2");
  EXPECT_EQ(out, "[printer 0]\r\na=1\r\nb=2\r\n\r\n[other]\r\n");
  out = iniUpdate(out, "printer 1", "printername", "P");
  EXPECT_EQ(out, "[printer 0]\r\na=1\r\nb=2\r\n\r\n[other]\r\n[printer 1]\r\nprintername=P\r\n");
  EXPECT_EQ(iniUpdate("", "printer 0", "k", "v"), "[printer 0]\r\nk=v\r\n");
}

TEST(IniUpdate, ValuesCannotBreakTheLayout) {
  std::string out = iniUpdate("", "s", "k", "v\r\n[evil]\r\nk=x");
  EXPECT_EQ(lookup(out, "s", "k"), "v");
  EXPECT_EQ(lookup(out, "evil", "k"), "<missing>");
}

TEST(IniUpdate, WrittenKeyReadsBackAndNothingElseChanges) {
  std::string ini = "[a]\nk1=1\n[b]\nk1=2\nk2=3\n[a]\nk3=dup\n";
  std::string out = iniUpdate(ini, "b", "k2", "  spaced  ");
  EXPECT_EQ(lookup(out, "b", "k2"), "spaced");
  EXPECT_EQ(lookup(out, "a", "k1"), "1");
  EXPECT_EQ(lookup(out, "b", "k1"), "2");
  EXPECT_EQ(out.find("k3=dup"), out.rfind("k3=dup"));
  EXPECT_NE(out.find("k3=dup"), std::string::npos);
}

TEST(ProfileFile, MissingFileReadsEmptyAndWriteCreatesIt) {
  TempWorkDir dir;
  EXPECT_EQ(readProfileString("printer 0", "printername", 260), "");
  ASSERT_TRUE(writeProfileString("printer 0", "printername", "Receipt"));
  ASSERT_TRUE(writeProfileString("printer 0", "filename", "WLSDFKJN.DRY"));
  EXPECT_EQ(readFile("ferrin.ini"), "[printer 0]\r\nprintername=Receipt\r\nfilename=WLSDFKJN.DRY\r\n");
  EXPECT_EQ(readProfileString("PRINTER 0", "PrinterName", 260), "Receipt");
}

TEST(ProfileFile, ValuesAreCutToTheBuffer) {
  TempWorkDir dir;
  writeFile("ferrin.ini", "[printer 0]\nprintername=" + std::string(300, 'p') + "\n");
  EXPECT_EQ(readProfileString("printer 0", "printername", 260), std::string(259, 'p'));
}

// Wine keeps a file's read-only attribute in its POSIX permission bits, which
// root passes over: run as root, as the tests are, Wine writes the file.
#ifndef _WIN32
TEST(ProfileFile, ReadOnlyFileIsNotChangedAndTheWriteFails) {
  TempWorkDir dir;
  writeFile("ferrin.ini", "[printer 0]\r\nfontsize=10\r\n");
  chmod("ferrin.ini", 0444);
  EXPECT_FALSE(writeProfileString("printer 0", "fontsize", "12"));
  EXPECT_EQ(readProfileString("printer 0", "fontsize", 260), "10");
}

// A folder's write permission is POSIX's: Windows folders have none.
TEST(ProfileFile, UnwritableFolderFailsTheWrite) {
  TempWorkDir dir;
  ASSERT_EQ(mkdir("locked", 0555), 0);
  ASSERT_EQ(chdir("locked"), 0);
  // Root may write anywhere; the check only means something for other users.
  if (geteuid() != 0) EXPECT_FALSE(writeProfileString("printer 0", "fontsize", "12"));
  ASSERT_EQ(chdir(".."), 0);
}
#endif

TEST(ProfileFile, ReaderNeverSeesAHalfWrittenFile) {
  TempWorkDir dir;
  ASSERT_TRUE(writeProfileString("printer 0", "printername", "Receipt"));
  std::atomic<bool> stop(false);
  std::atomic<int> badReads(0), reads(0);
  OtherThread reader([&] {
    while (!stop) {
      if (readProfileString("printer 0", "printername", 260) != "Receipt") ++badReads;
      ++reads;
    }
  });
  for (int i = 0; i < 300; ++i)
    ASSERT_TRUE(writeProfileString("printer 0", "fontsize", std::to_string(i) + std::string(i * 10, ' ')));
  stop = true;
  reader.join();
  EXPECT_GT(reads.load(), 0);
  EXPECT_EQ(badReads.load(), 0);
  EXPECT_EQ(readProfileString("printer 0", "fontsize", 260), "299");
}
