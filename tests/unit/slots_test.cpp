#include <gtest/gtest.h>

#include <fstream>

#include "config/slots.h"
#include "console/console.h"
#include "spool/printout.h"
#include "spool/watcher.h"
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

TEST(LoadSlot, OptionsForRealDosOutput) {
  TempWorkDir dir;
  std::string said;
  captureConsole(&said, nullptr);
  // Missing keys, and empty values, are the plain-text defaults.
  writeIni("[printer 0]\r\nprintername=P\r\ncodepage=\r\n[printer 1]\r\nprintername=Q\r\n");
  loadSlot(0);
  loadSlot(1);
  for (int n = 0; n < 2; ++n) {
    SlotOptions o = slotSnapshot(n).options;
    EXPECT_EQ(o.codePage, 0);
    EXPECT_EQ(o.lineends, kLineEndsDos);
    EXPECT_EQ(o.formfeed, kFormFeedLine);
    EXPECT_EQ(o.controls, kControlsPrint);
    EXPECT_EQ(o.mode, kModePrint);
  }
  // Values in any case; the setup's writes keep every option.
  writeIni("[printer 0]\r\nprintername=P\r\ncodepage=852\r\nLineEnds=ANY\r\nformfeed=Exact\r\ncontrols=sTrIp\r\nmode=Raw\r\n");
  ASSERT_TRUE(writeSlotValue("printer 0", "printername", "Receipt"));
  ASSERT_TRUE(writeSlotValue("printer 0", "fontsize", "12"));
  loadSlot(0);
  PrinterSlot s = slotSnapshot(0);
  EXPECT_STREQ(s.printername, "Receipt");
  EXPECT_EQ(s.fontsize, 12);
  EXPECT_EQ(s.options.codePage, 852);
  EXPECT_EQ(s.options.lineends, kLineEndsAny);
  EXPECT_EQ(s.options.formfeed, kFormFeedExact);
  EXPECT_EQ(s.options.controls, kControlsStrip);
  EXPECT_EQ(s.options.mode, kModeRaw);
  EXPECT_EQ(said, "");
  // The printer languages, and the code page they are drawn in without one.
  writeIni("[printer 0]\r\ncontrols=ESCP\r\n[printer 1]\r\ncontrols=EscPos\r\ncodepage=850\r\n");
  loadSlot(0);
  loadSlot(1);
  EXPECT_EQ(slotSnapshot(0).options.controls, kControlsEscP);
  EXPECT_EQ(slotSnapshot(1).options.controls, kControlsEscPos);
  EXPECT_EQ(slotCodePage(slotSnapshot(0)), 437);
  EXPECT_EQ(slotCodePage(slotSnapshot(1)), 850);
  EXPECT_EQ(said, "");
  // Unknown values: the default, said once however often the slot is read.
  writeIni("[printer 0]\r\ncodepage=999\r\nlineends=sideways\r\nformfeed=exact\r\n");
  for (int i = 0; i < 3; ++i) loadSlot(0);
  s = slotSnapshot(0);
  EXPECT_EQ(s.options.codePage, 0);
  EXPECT_EQ(s.options.lineends, kLineEndsDos);
  EXPECT_EQ(s.options.formfeed, kFormFeedExact);
  EXPECT_EQ(said,
            "Printer #0: ferrin.ini sets codepage to \"999\", which ferrin does not know, so the default is used."
            " Use one of: 437, 850, 852, 855, 857, 858, 860-866, 869, 874, 1250-1258.\n"
            "Printer #0: ferrin.ini sets lineends to \"sideways\", which ferrin does not know, so the default is"
            " used. Use one of: dos, any.\n");
  captureConsole(nullptr, nullptr);
}

TEST(LoadSlot, FormKeys) {
  TempWorkDir dir;
  std::string said;
  captureConsole(&said, nullptr);
  writeIni("[printer 0]\r\nprintername=P\r\n");
  loadSlot(0);
  SlotOptions o = slotSnapshot(0).options;
  EXPECT_STREQ(o.overlay, "");
  EXPECT_EQ(o.overlayPages, 0);
  EXPECT_EQ(o.overlayOffsetX, 0);
  EXPECT_EQ(o.overlayOffsetY, 0);
  writeIni("[printer 0]\r\noverlay=forms/invoice.png\r\noverlaypages=REST\r\noverlayoffset= 2.5 , -10\r\n"
           "[printer 1]\r\noverlaypages=first\r\noverlayoffset=-0.05,1000\r\n");
  loadSlot(0);
  loadSlot(1);
  o = slotSnapshot(0).options;
  EXPECT_STREQ(o.overlay, "forms/invoice.png");
  EXPECT_EQ(o.overlayPages, 2);
  EXPECT_EQ(o.overlayOffsetX, 250);
  EXPECT_EQ(o.overlayOffsetY, -1000);
  o = slotSnapshot(1).options;
  EXPECT_EQ(o.overlayPages, 1);
  EXPECT_EQ(o.overlayOffsetX, -5);
  EXPECT_EQ(o.overlayOffsetY, 100000);
  EXPECT_EQ(said, "");
  // Offsets that are not two millimetre values up to a metre: none, said once.
  for (const char* offset : {"3", "1000.01,0", "1.234,0", "a,b", "1,2,3", ",1"}) {
    said.clear();
    writeIni(std::string("[printer 0]\r\noverlayoffset=") + offset + "\r\noverlaypages=sometimes\r\n");
    for (int i = 0; i < 2; ++i) loadSlot(0);
    o = slotSnapshot(0).options;
    EXPECT_EQ(o.overlayOffsetX, 0) << offset;
    EXPECT_EQ(o.overlayOffsetY, 0) << offset;
    EXPECT_EQ(o.overlayPages, 0);
    EXPECT_NE(said.find(std::string("Printer #0: ferrin.ini sets overlayoffset to \"") + offset +
                        "\", which ferrin does not know, so the default is used. Use one of: X,Y in mm"),
              std::string::npos)
        << said;
  }
  EXPECT_EQ(said, "Printer #0: ferrin.ini sets overlayoffset to \",1\", which ferrin does not know, so the default is"
                  " used. Use one of: X,Y in mm (-1000 to 1000, e.g. 2.5,-1).\n")
      << "overlaypages said once only";
  captureConsole(nullptr, nullptr);
}

// Slot 0 is always watched; another slot once ferrin.ini names its printer
// (a spool file name alone is not enough: there would be nothing to print on).
TEST(WatchedSlots, SlotOneOnceItsPrinterIsNamed) {
  TempWorkDir dir;
  EXPECT_TRUE(slotIsWatched(0));
  EXPECT_FALSE(slotIsWatched(1));
  writeIni("[printer 1]\r\nfilename=WLSDFKJN.DR2\r\n");
  EXPECT_FALSE(slotIsWatched(1));
  writeIni("[printer 1]\r\nprintername=Office Laser\r\n");
  EXPECT_TRUE(slotIsWatched(1));
  EXPECT_FALSE(slotIsWatched(7));
}
