#include <gtest/gtest.h>

#include <fstream>

#include "config/slots.h"
#include "tempdir.h"

namespace {
void writeIni(const std::string& content) {
  std::ofstream out("ferrin.ini", std::ios::binary);
  out << content;
}
}  // namespace

TEST(LoadSlot, NoFileGivesEmptyNamesDefaultFontAndSizeZero) {
  TempWorkDir dir;
  loadSlot(0);
  PrinterSlot s = slotSnapshot(0);
  EXPECT_STREQ(s.printername, "");
  EXPECT_STREQ(s.filename, "");
  EXPECT_STREQ(s.fontname, "Courier New");
  EXPECT_EQ(s.fontsize, 0);
}

TEST(LoadSlot, HandWrittenFileLoads) {
  TempWorkDir dir;
  writeIni("[printer 0]\r\nprintername=Receipt Printer\r\nfilename=WLSDFKJN.DRY\r\nfontsize=12\r\nfontname=Courier New\r\n"
           "[printer 1]\r\nprintername=Office Laser\r\nfilename=WLSDFKJN.DR2\r\nfontsize=10\r\nfontname=Lucida Console\r\n");
  loadSlot(0);
  loadSlot(1);
  PrinterSlot s0 = slotSnapshot(0), s1 = slotSnapshot(1);
  EXPECT_STREQ(s0.printername, "Receipt Printer");
  EXPECT_STREQ(s0.filename, "WLSDFKJN.DRY");
  EXPECT_EQ(s0.fontsize, 12);
  EXPECT_STREQ(s1.printername, "Office Laser");
  EXPECT_STREQ(s1.fontname, "Lucida Console");
  EXPECT_EQ(s1.fontsize, 10);
}

TEST(LoadSlot, FieldsAreCutAndNumbersRounded) {
  TempWorkDir dir;
  std::string cases[][2] = {{"12.5", "12"}, {"13.5", "14"}, {"abc", "0"}, {"65548", "12"}, {"12pt", "12"}, {"", "0"}};
  for (auto& c : cases) {
    writeIni("[printer 0]\nfontsize=" + c[0] + "\nprintername=" + std::string(70, 'P') + "\nfilename=" +
             std::string(300, 'F') + "\nfontname=\n");
    loadSlot(0);
    PrinterSlot s = slotSnapshot(0);
    EXPECT_EQ(std::to_string(s.fontsize), c[1]) << c[0];
    EXPECT_EQ(std::string(s.printername), std::string(63, 'P'));
    EXPECT_EQ(std::string(s.filename), std::string(255, 'F'));
    EXPECT_STREQ(s.fontname, "Courier New");  // present but empty
  }
}

TEST(LoadSlot, SectionNameHasExactlyOneBlank) {
  TempWorkDir dir;
  writeIni("[printer  1]\nprintername=Wrong\n[printer1]\nprintername=Wrong too\n");
  loadSlot(1);
  EXPECT_STREQ(slotSnapshot(1).printername, "");
  EXPECT_EQ(slotSection(1), "printer 1");
}

TEST(WriteSlotValue, CreatesFileAndSectionAndCutsLongValues) {
  TempWorkDir dir;
  ASSERT_TRUE(writeSlotValue("printer 1", "fontsize", std::string(300, '9')));
  ASSERT_TRUE(writeSlotValue("printer 1", "printername", "Office Laser"));
  loadSlot(1);
  EXPECT_STREQ(slotSnapshot(1).printername, "Office Laser");
  std::ifstream in("ferrin.ini", std::ios::binary);
  std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_NE(content.find("fontsize=" + std::string(259, '9') + "\r\n"), std::string::npos);
}
