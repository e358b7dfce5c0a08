// The printing layer over the recording fake device: the calls it makes, the
// layout of lines and pages, and what each device failure leaves behind.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "files/errors.h"
#include "fake/device_fake.h"
#include "print/printer.h"
#include "print/printer_state.h"

namespace {

std::string joined(const std::vector<std::string>& lines) {
  std::string out;
  for (const std::string& l : lines) out += "  " + l + "\n";
  return out;
}

// The lfHeight of the last font the device was asked to make.
int lastFontHeight() {
  std::vector<std::string> made = fakeCallsOf("CreateFontIndirect");
  if (made.empty()) return 0;
  return std::stoi(made.back().substr(made.back().find("h=") + 2));
}

// Position of the first log line that starts with prefix, or -1.
int callIndex(const std::string& prefix) {
  for (std::size_t i = 0; i < fakeDevice.calls.size(); ++i)
    if (fakeDevice.calls[i].compare(0, prefix.size(), prefix) == 0) return static_cast<int>(i);
  return -1;
}

class PrinterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    resetFakeDevice();
    clearError();
    ASSERT_EQ(printerState.deviceContext, nullptr) << "an earlier test left a printer attached";
  }

  // Every test ends detached, with nothing left alive on the device and no
  // call the real device would refuse.
  void TearDown() override {
    detachPrinter();
    EXPECT_TRUE(fakeDevice.misuse.empty()) << joined(fakeDevice.misuse) << fakeCallLog();
    EXPECT_EQ(fakeDevice.liveFonts, 0);
    EXPECT_EQ(fakeDevice.liveContexts, 0);
    EXPECT_EQ(fakeDevice.openPrinters, 0);
    EXPECT_TRUE(printerState.fonts.empty());
    EXPECT_TRUE(printerState.deviceMode.empty());
  }

  void expectDetached() {
    EXPECT_EQ(printerState.deviceContext, nullptr);
    EXPECT_FALSE(printerState.pageOpen);
    EXPECT_EQ(printerState.currentFont, nullptr);
    EXPECT_TRUE(printerState.deviceMode.empty());
    EXPECT_EQ(fakeDevice.liveContexts, 0);
    EXPECT_EQ(fakeDevice.openPrinters, 0);
  }
};

TEST_F(PrinterTest, WholeDocumentCallSequence) {
  attachPrinter("Receipt");
  selectFont("Courier New", 8);
  printLine("A");
  printLine("B");
  formFeed();
  printLine("C");
  detachPrinter();
  EXPECT_EQ(lastError(), 0);

  const std::string font = ",w=0,esc=0,orient=0,weight=400,italic=0,underline=0,strikeout=0,charset=1,out=0,clip=0,"
                           "quality=0,pitch=0,face=Courier New)=";
  std::vector<std::string> pageStart2 = {
      "ResetDC(dc1,settings)=dc1",          "SelectObject(dc1,font2)=stockfont",
      "SetTextColor(dc1,0x000000)=0x000000", "SetBkColor(dc1,0xFFFFFF)=0xFFFFFF",
      "SetBkMode(dc1,1)=2",                  "GetTextMetrics(dc1)=1 height=67 external=0",
      "StartPage(dc1)=1",                    "SetTextAlign(dc1,1)=0",
      "MoveToEx(dc1,0,0)=1"};
  std::vector<std::string> expected = {
      // attach: settings, device context, document, default font (truncated height)
      "OpenPrinter(\"Receipt\")=printer1",
      "DocumentProperties(printer1,\"Receipt\",null,0)=220",
      "DocumentProperties(printer1,\"Receipt\",buffer,2)=1",
      "ClosePrinter(printer1)=1",
      "CreateDC(\"Receipt\",settings)=dc1",
      "StartDoc(dc1,\"Print job\")=1",
      "GetDeviceCaps(dc1,90)=600",
      "CreateFontIndirect(h=-66" + font + "font1",
      "SelectObject(dc1,font1)=stockfont",
      "GetTextMetrics(dc1)=1 height=66 external=0",
      "GetDeviceCaps(dc1,10)=7016",
      // selectFont: page 1 begins in the current font, then the new font
      "ResetDC(dc1,settings)=dc1",
      "SelectObject(dc1,font1)=stockfont",
      "SetTextColor(dc1,0x000000)=0x000000",
      "SetBkColor(dc1,0xFFFFFF)=0xFFFFFF",
      "SetBkMode(dc1,1)=2",
      "GetTextMetrics(dc1)=1 height=66 external=0",
      "StartPage(dc1)=1",
      "SetTextAlign(dc1,1)=0",
      "MoveToEx(dc1,0,0)=1",
      "GetDeviceCaps(dc1,90)=600",
      "CreateFontIndirect(h=-67" + font + "font2",
      "SelectObject(dc1,font2)=font1",
      "GetTextMetrics(dc1)=1 height=67 external=0",
      "SetTextColor(dc1,0x000000)=0x000000",
      "SetBkColor(dc1,0xFFFFFF)=0xFFFFFF",
      "SetBkMode(dc1,1)=1",
      // two lines
      "TextOut(dc1,0,0,\"A\",1)=1",
      "GetCurrentPositionEx(dc1)=1 (10,0)",
      "MoveToEx(dc1,0,67)=1",
      "TextOut(dc1,0,0,\"B\",1)=1",
      "GetCurrentPositionEx(dc1)=1 (10,67)",
      "MoveToEx(dc1,0,134)=1",
      // form feed, then page 2 begins lazily for "C"
      "EndPage(dc1)=1",
  };
  expected.insert(expected.end(), pageStart2.begin(), pageStart2.end());
  std::vector<std::string> rest = {
      "TextOut(dc1,0,0,\"C\",1)=1",
      "GetCurrentPositionEx(dc1)=1 (10,0)",
      "MoveToEx(dc1,0,67)=1",
      // detach: page, document, original font back, then everything released
      "EndPage(dc1)=1",
      "EndDoc(dc1)=1",
      "SelectObject(dc1,stockfont)=font2",
      "DeleteDC(dc1)=1",
      "DeleteObject(font1)=1",
      "DeleteObject(font2)=1",
  };
  expected.insert(expected.end(), rest.begin(), rest.end());
  EXPECT_EQ(fakeDevice.calls, expected) << fakeCallLog();

  ASSERT_EQ(fakeDevice.documents.size(), 1u);
  EXPECT_EQ(fakeDevice.documents[0].name, "Print job");
  EXPECT_EQ(fakeDevice.documents[0].pages, 2);
  EXPECT_TRUE(fakeDevice.documents[0].ended);
}

TEST_F(PrinterTest, LinesAreOneCellHeightPlusLeadingApart) {
  fakeDevice.cellHeight = 50;
  attachPrinter("Receipt");
  selectFont("Courier New", 10);
  printLine("A");
  printLine("B");
  EXPECT_EQ(printerState.penY, 100);
  EXPECT_EQ(printerState.penX, 0);
  formFeed();
  printLine("C");
  fakeDevice.externalLeading = 7;  // read again when the next font is selected
  selectFont("Courier New", 10);
  printLine("D");
  printLine("E");

  ASSERT_EQ(fakeDevice.texts.size(), 5u);
  const int expected[][3] = {{1, 0, 0}, {1, 0, 50}, {2, 0, 0}, {2, 0, 50}, {2, 0, 107}};
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(fakeDevice.texts[i].page, expected[i][0]) << i;
    EXPECT_EQ(fakeDevice.texts[i].x, expected[i][1]) << i;
    EXPECT_EQ(fakeDevice.texts[i].y, expected[i][2]) << i;
  }
  EXPECT_EQ(lastError(), 0);
}

TEST_F(PrinterTest, FontHeightFromResolutionAndPointSize) {
  struct Case {
    int dpi;
    std::int16_t points;
    int defaultHeight;  // the font made at attach: truncated
    int selectedHeight; // selectFont: rounded, halves to even
  };
  const Case cases[] = {
      {600, 8, -66, -67}, {300, 9, -33, -38}, {300, 12, -33, -50}, {300, 3, -33, -12},
      {203, 12, -22, -34}, {300, 0, -33, -33},  // 0 points is 8
      {300, -10, -33, 42},                      // a negative size asks for a cell height
  };
  for (const Case& c : cases) {
    resetFakeDevice();
    fakeDevice.dotsPerInch = c.dpi;
    attachPrinter("Receipt");
    EXPECT_EQ(lastFontHeight(), c.defaultHeight) << c.dpi << " dpi default font";
    selectFont("Courier New", c.points);
    EXPECT_EQ(lastFontHeight(), c.selectedHeight) << c.dpi << " dpi, " << c.points << " points";
    detachPrinter();
  }
  EXPECT_EQ(lastError(), 0);
}

TEST_F(PrinterTest, FaceNameIsCutTo31Characters) {
  attachPrinter("Receipt");
  std::string face(40, 'F');
  selectFont(face, 10);
  std::string made = fakeCallsOf("CreateFontIndirect").back();
  EXPECT_NE(made.find("face=" + std::string(31, 'F') + ")="), std::string::npos) << made;
  EXPECT_STREQ(printerState.currentFont->faceName, std::string(31, 'F').c_str());
}

TEST_F(PrinterTest, PagesBeginOnlyWhenSomethingIsDrawn) {
  // attach + detach: a job with no page
  attachPrinter("Receipt");
  detachPrinter();
  // attach + selectFont + detach: one blank page
  attachPrinter("Receipt");
  selectFont("Courier New", 10);
  detachPrinter();
  // form feeds straight after attach, twice in a row, and before detach
  attachPrinter("Receipt");
  formFeed();
  printLine("A");
  formFeed();
  formFeed();
  detachPrinter();
  EXPECT_EQ(lastError(), 0);

  ASSERT_EQ(fakeDevice.documents.size(), 3u);
  EXPECT_EQ(fakeDevice.documents[0].pages, 0);
  EXPECT_EQ(fakeDevice.documents[1].pages, 1);
  EXPECT_EQ(fakeDevice.documents[2].pages, 1);
  EXPECT_EQ(fakeCallsOf("StartPage").size(), 2u);
  EXPECT_EQ(fakeCallsOf("EndPage").size(), 2u);
}

TEST_F(PrinterTest, EmptyLineFirstOnAPageBeginsItBlank) {
  fakeDevice.cellHeight = 50;
  fakeDevice.externalLeading = 5;
  attachPrinter("Receipt");
  printLine("");
  EXPECT_TRUE(printerState.pageOpen);
  EXPECT_EQ(printerState.penY, 55);
  EXPECT_TRUE(fakeCallsOf("TextOut").empty());
  printLine("X");
  ASSERT_EQ(fakeDevice.texts.size(), 1u);
  EXPECT_EQ(fakeDevice.texts[0].y, 55);
  // the default font, since no font was selected
  EXPECT_EQ(fakeDevice.texts[0].fontHeight, -66);
}

TEST_F(PrinterTest, TextIsPassedOnByteForByte) {
  attachPrinter("Receipt");
  const std::string text("a\tb\rc\x1b" "d\0e\xC4", 10);
  printLine(text);
  ASSERT_EQ(fakeDevice.texts.size(), 1u);
  EXPECT_EQ(fakeDevice.texts[0].text, text);
  EXPECT_EQ(fakeCallsOf("TextOut")[0], "TextOut(dc1,0,0,\"a\\x09b\\x0Dc\\x1Bd\\x00e\\xC4\",10)=1");
}

TEST_F(PrinterTest, DetachedCallsFailWithDeviceErrorAndTouchNothing) {
  selectFont("Courier New", 10);
  EXPECT_EQ(lastError(), 57);
  clearError();
  printLine("");
  EXPECT_EQ(lastError(), 57);
  clearError();
  printLine("X");
  EXPECT_EQ(lastError(), 57);
  clearError();
  formFeed();
  EXPECT_EQ(lastError(), 57);
  clearError();
  detachPrinter();
  EXPECT_EQ(lastError(), 0);
  EXPECT_TRUE(fakeDevice.calls.empty()) << fakeCallLog();
}

TEST_F(PrinterTest, BadPrinterNames) {
  // No such printer: kPrinterOpenError, then the layer behaves as detached.
  attachPrinter("Nowhere");
  EXPECT_EQ(lastError(), 68);
  expectDetached();
  clearError();
  printLine("X");
  EXPECT_EQ(lastError(), 57);
  EXPECT_TRUE(fakeCallsOf("TextOut").empty());

  // 262 characters: the open document is ended first, no printer is asked.
  clearError();
  fakeDevice.printers.push_back(std::string(261, 'P'));
  fakeDevice.printers.push_back(std::string(262, 'P'));
  attachPrinter("Receipt");
  printLine("A");
  attachPrinter(std::string(262, 'P'));
  EXPECT_EQ(lastError(), 68);
  expectDetached();
  EXPECT_TRUE(fakeDevice.documents.back().ended);
  EXPECT_EQ(fakeDevice.documents.back().pages, 1);
  EXPECT_EQ(fakeCallsOf("OpenPrinter").size(), 2u);

  // 261 characters is a valid name.
  clearError();
  attachPrinter(std::string(261, 'P'));
  EXPECT_EQ(lastError(), 0);
  EXPECT_NE(printerState.deviceContext, nullptr);

  // A NUL would cut the name short on the device and open another printer.
  attachPrinter(std::string("Receipt\0X", 9));
  EXPECT_EQ(lastError(), 68);
  expectDetached();
  EXPECT_EQ(fakeCallsOf("OpenPrinter").size(), 3u);

  // An empty name ends the document and attaches nothing, without an error.
  clearError();
  attachPrinter("Report");
  attachPrinter("");
  EXPECT_EQ(lastError(), 0);
  expectDetached();
  EXPECT_TRUE(fakeDevice.documents.back().ended);
}

TEST_F(PrinterTest, AttachFailuresReleaseEverythingAcquired) {
  const struct {
    const char* operation;
    int nth;
  } cases[] = {{"OpenPrinter", 1}, {"DocumentProperties", 1}, {"DocumentProperties", 2}, {"CreateDC", 1},
               {"StartDoc", 1}};
  for (const auto& c : cases) {
    resetFakeDevice();
    clearError();
    failDeviceCall(c.operation, c.nth);
    attachPrinter("Receipt");
    EXPECT_EQ(lastError(), 68) << c.operation << " " << c.nth;
    expectDetached();
    EXPECT_TRUE(fakeCallsOf("CreateFontIndirect").empty()) << c.operation;
    EXPECT_TRUE(fakeDevice.misuse.empty()) << joined(fakeDevice.misuse);
  }
  // A settings record that cannot be held is a failure like the others.
  resetFakeDevice();
  clearError();
  fakeDevice.settingsSize = 0;
  attachPrinter("Receipt");
  EXPECT_EQ(lastError(), 68);
  expectDetached();
}

TEST_F(PrinterTest, AttachWhileADocumentIsOpenHandsItOverFirst) {
  attachPrinter("Receipt");
  selectFont("Courier New", 10);
  printLine("A");
  attachPrinter("Report");
  EXPECT_EQ(lastError(), 0);
  int endDoc = callIndex("EndDoc(dc1)");
  ASSERT_GE(endDoc, 0);
  EXPECT_LT(callIndex("EndPage(dc1)"), endDoc);
  EXPECT_LT(endDoc, callIndex("OpenPrinter(\"Report\")"));
  ASSERT_EQ(fakeDevice.documents.size(), 2u);
  EXPECT_TRUE(fakeDevice.documents[0].ended);
  EXPECT_EQ(fakeDevice.documents[0].pages, 1);
  EXPECT_EQ(fakeDevice.documents[1].printer, "Report");
  // the first attachment's fonts are gone, the new one has its default font
  EXPECT_EQ(fakeDevice.liveFonts, 1);

  // A previous document the device would not take is not this caller's error.
  failDeviceCall("EndDoc", 1);
  attachPrinter("Receipt");
  EXPECT_EQ(lastError(), 0);
  EXPECT_FALSE(fakeDevice.documents[1].ended);
}

TEST_F(PrinterTest, FontsMadeDuringAnAttachmentLiveUntilDetach) {
  attachPrinter("Receipt");
  selectFont("Courier New", 10);
  printLine("A");
  selectFont("Arial", 12);
  formFeed();
  selectFont("Courier New", 10);
  EXPECT_EQ(fakeDevice.liveFonts, 4);  // replaced fonts stay until detach
  detachPrinter();
  EXPECT_EQ(fakeDevice.liveFonts, 0);
  EXPECT_EQ(fakeCallsOf("DeleteObject").size(), 4u);
  // deleted only after the original font went back in and the context is gone
  EXPECT_LT(callIndex("SelectObject(dc1,stockfont)"), callIndex("DeleteDC(dc1)"));
  EXPECT_LT(callIndex("DeleteDC(dc1)"), callIndex("DeleteObject("));
}

TEST_F(PrinterTest, PageThatCannotBeBegun) {
  // ResetDC or the font selection failing: kPrinterDeviceError, no page; the next request tries again.
  for (const char* operation : {"ResetDC", "SelectObject"}) {
    resetFakeDevice();
    clearError();
    attachPrinter("Receipt");
    failDeviceCall(operation, 1);
    selectFont("Arial", 12);
    EXPECT_EQ(lastError(), 57) << operation;
    EXPECT_FALSE(printerState.pageOpen) << operation;
    EXPECT_TRUE(fakeCallsOf("StartPage").empty()) << operation;
    EXPECT_EQ(fakeCallsOf("CreateFontIndirect").size(), 1u) << "the font must not change";
    printLine("X");
    ASSERT_EQ(fakeDevice.texts.size(), 1u);
    EXPECT_EQ(fakeDevice.texts[0].page, 1);
    EXPECT_EQ(fakeDevice.texts[0].face, "Courier New");
    detachPrinter();
    EXPECT_EQ(fakeDevice.documents[0].pages, 1);
  }
}

TEST_F(PrinterTest, PageRefusedByTheDeviceStillCountsAsOpen) {
  // StartPage or SetTextAlign failing: kPrinterDeviceError, and the page counts as begun, so
  // later requests draw without beginning it and the form feed ends it.
  for (const char* operation : {"StartPage", "SetTextAlign"}) {
    resetFakeDevice();
    clearError();
    attachPrinter("Receipt");
    failDeviceCall(operation, 1);
    selectFont("Courier New", 10);
    EXPECT_EQ(lastError(), 57) << operation;
    EXPECT_TRUE(printerState.pageOpen) << operation;
    printLine("X");
    EXPECT_EQ(fakeCallsOf("StartPage").size(), 1u) << operation;
    EXPECT_EQ(fakeCallsOf("TextOut").size(), 1u) << operation;
    formFeed();
    EXPECT_EQ(fakeCallsOf("EndPage").size(), 1u) << operation;
    detachPrinter();
    // The fake, like a real printer, refuses to draw outside a page.
    if (std::string(operation) == "StartPage") {
      EXPECT_FALSE(fakeDevice.misuse.empty());
      fakeDevice.misuse.clear();
    }
  }
}

TEST_F(PrinterTest, TextThatCannotBeDrawnStillMovesToTheNextLine) {
  fakeDevice.cellHeight = 40;
  attachPrinter("Receipt");
  printLine("A");
  failDeviceCall("TextOut", 1);
  printLine("B");
  EXPECT_EQ(lastError(), 57);
  EXPECT_EQ(printerState.penY, 80);
  printLine("C");
  ASSERT_EQ(fakeDevice.texts.size(), 2u);
  EXPECT_EQ(fakeDevice.texts[1].text, "C");
  EXPECT_EQ(fakeDevice.texts[1].y, 80);
}

TEST_F(PrinterTest, FormFeedThatFailsLeavesThePageOpen) {
  fakeDevice.cellHeight = 40;
  attachPrinter("Receipt");
  printLine("A");
  failDeviceCall("EndPage", 1);
  formFeed();
  EXPECT_EQ(lastError(), 57);
  EXPECT_TRUE(printerState.pageOpen);
  EXPECT_EQ(printerState.penY, 40);
  formFeed();  // ends it this time
  EXPECT_FALSE(printerState.pageOpen);
  EXPECT_EQ(printerState.penY, 0);
  detachPrinter();
  EXPECT_EQ(fakeDevice.documents[0].pages, 1);
  EXPECT_EQ(fakeCallsOf("EndPage").size(), 2u);
}

TEST_F(PrinterTest, FontThatCannotBeMadeOrSelected) {
  // CreateFontIndirect failing: 5, the previous font stays current.
  attachPrinter("Receipt");
  selectFont("Courier New", 10);
  failDeviceCall("CreateFontIndirect", 1);
  selectFont("Arial", 20);
  EXPECT_EQ(lastError(), 5);
  EXPECT_STREQ(printerState.currentFont->faceName, "Courier New");
  EXPECT_EQ(fakeDevice.liveFonts, 2);
  printLine("A");
  EXPECT_EQ(fakeDevice.texts.back().face, "Courier New");

  // SelectObject failing: 5, the text goes on in the font the device holds;
  // the new font is current and is selected on the next page.
  clearError();
  failDeviceCall("SelectObject", 1);
  selectFont("Arial", 20);
  EXPECT_EQ(lastError(), 5);
  printLine("B");
  EXPECT_EQ(fakeDevice.texts.back().face, "Courier New");
  formFeed();
  printLine("C");
  EXPECT_EQ(fakeDevice.texts.back().face, "Arial");
  EXPECT_EQ(fakeDevice.liveFonts, 3);
}

TEST_F(PrinterTest, DefaultFontThatCannotBeMade) {
  // Not reported at attach; every page request then fails with kPrinterDeviceError.
  for (const char* operation : {"CreateFontIndirect", "SelectObject"}) {
    resetFakeDevice();
    clearError();
    failDeviceCall(operation, 1);
    attachPrinter("Receipt");
    EXPECT_EQ(lastError(), 0) << operation;
    EXPECT_NE(printerState.deviceContext, nullptr);
    selectFont("Courier New", 10);
    EXPECT_EQ(lastError(), 57) << operation;
    clearError();
    printLine("X");
    EXPECT_EQ(lastError(), 57) << operation;
    EXPECT_TRUE(fakeCallsOf("StartPage").empty());
    detachPrinter();
    EXPECT_TRUE(fakeDevice.documents[0].ended);
    EXPECT_EQ(fakeDevice.liveFonts, 0) << operation;
    EXPECT_EQ(fakeDevice.liveContexts, 0) << operation;
  }
}

TEST_F(PrinterTest, DetachReportsOnlyADocumentTheDeviceDidNotTake) {
  attachPrinter("Receipt");
  printLine("A");
  failDeviceCall("EndDoc", 1);
  detachPrinter();
  EXPECT_EQ(lastError(), 57);
  expectDetached();
  EXPECT_FALSE(fakeDevice.documents[0].ended);
  EXPECT_EQ(fakeDevice.liveFonts, 0);

  // EndPage and the return of the original font failing stay silent, and the
  // device context and fonts are released all the same.
  clearError();
  attachPrinter("Receipt");
  selectFont("Arial", 10);
  failDeviceCall("EndPage", 1);
  failDeviceCall("SelectObject", 1);
  detachPrinter();
  EXPECT_EQ(lastError(), 0);
  expectDetached();
  EXPECT_TRUE(fakeDevice.documents[1].ended);
  EXPECT_EQ(fakeDevice.liveFonts, 0);
}

TEST_F(PrinterTest, AbandonedDocumentNeverReachesThePrinter) {
  attachPrinter("Receipt");
  selectFont("Courier New", 8);
  printLine("A");
  formFeed();
  printLine("B");
  std::size_t before = fakeDevice.calls.size();
  abandonDocument();
  EXPECT_EQ(lastError(), 0);
  expectDetached();
  // No EndPage, no EndDoc: the job is aborted with its open page, then the
  // device context and fonts go exactly as at detach.
  std::vector<std::string> tail(fakeDevice.calls.begin() + static_cast<std::ptrdiff_t>(before), fakeDevice.calls.end());
  EXPECT_EQ(tail, (std::vector<std::string>{"AbortDoc(dc1)=1", "SelectObject(dc1,stockfont)=font2", "DeleteDC(dc1)=1",
                                            "DeleteObject(font1)=1", "DeleteObject(font2)=1"}))
      << fakeCallLog();
  ASSERT_EQ(fakeDevice.documents.size(), 1u);
  EXPECT_FALSE(fakeDevice.documents[0].ended);
  EXPECT_TRUE(fakeDevice.documents[0].abandoned);

  // Detached: nothing to do, nothing reported. The next attach is a new job.
  before = fakeDevice.calls.size();
  abandonDocument();
  EXPECT_EQ(fakeDevice.calls.size(), before);
  attachPrinter("Receipt");
  printLine("C");
  detachPrinter();
  EXPECT_EQ(lastError(), 0);
  ASSERT_EQ(fakeDevice.documents.size(), 2u);
  EXPECT_TRUE(fakeDevice.documents[1].ended);
  EXPECT_FALSE(fakeDevice.documents[1].abandoned);

  // A device that refuses AbortDoc: still no EndDoc and no error; deleting
  // the device context (which aborts a Windows job) releases everything.
  attachPrinter("Receipt");
  printLine("D");
  failDeviceCall("AbortDoc", 1);
  abandonDocument();
  EXPECT_EQ(lastError(), 0);
  expectDetached();
  EXPECT_EQ(fakeDevice.liveFonts, 0);
  EXPECT_FALSE(fakeDevice.documents[2].ended);
  EXPECT_EQ(fakeCallsOf("EndDoc").size(), 1u);
  EXPECT_EQ(fakeDevice.misuse, std::vector<std::string>{"DeleteDC with the document still open on dc3"});
  fakeDevice.misuse.clear();
}

TEST_F(PrinterTest, CodePageLinesAreDrawnAsWideCharacters) {
  // Code page 852: Czech letters; 437: box drawing and blocks. Each line is
  // one TextOutW of as many characters as it has bytes.
  const struct {
    int codePage;
    std::string bytes;
    std::string drawn;
  } cases[] = {
      {852, "\x9F\xD8\xFD\xE7\xA7\x85", "čěřšžů"},
      {437, "\xDA\xC4\xBF \xB3 \xC0\xC4\xD9 \xDB\xB2", "┌─┐ │ └─┘ █▓"},
  };
  for (const auto& c : cases) {
    resetFakeDevice();
    JobOptions options;
    options.codePage = c.codePage;
    attachPrinter("Receipt", options);
    printLine(c.bytes);
    printLine("A\"");
    detachPrinter();
    EXPECT_EQ(lastError(), 0);
    EXPECT_TRUE(fakeCallsOf("TextOut").empty()) << fakeCallLog();
    std::size_t n = c.bytes.size();
    EXPECT_EQ(fakeCallsOf("TextOutW"), (std::vector<std::string>{
                                           "TextOutW(dc1,0,0,\"" + c.drawn + "\"," + std::to_string(n) + ")=1",
                                           "TextOutW(dc1,0,0,\"A\\\"\",2)=1"}));
    // The position moves past the characters as for TextOut.
    EXPECT_EQ(fakeCallsOf("GetCurrentPositionEx")[0], "GetCurrentPositionEx(dc1)=1 (" + std::to_string(n * 10) + ",0)");
    ASSERT_EQ(fakeDevice.texts.size(), 2u);
    EXPECT_EQ(fakeDevice.texts[0].text, c.drawn);
    EXPECT_TRUE(fakeDevice.texts[0].wide);
    EXPECT_EQ(fakeDevice.texts[1].y, 66);
  }

  // No code page, or one that cannot be converted: the bytes as they are.
  for (int codePage : {0, 1234}) {
    resetFakeDevice();
    JobOptions options;
    options.codePage = codePage;
    attachPrinter("Receipt", options);
    printLine("\x9F");
    detachPrinter();
    EXPECT_EQ(fakeCallsOf("TextOut"), std::vector<std::string>{"TextOut(dc1,0,0,\"\\x9F\",1)=1"}) << codePage;
    EXPECT_TRUE(fakeCallsOf("TextOutW").empty());
  }

  // A refused wide call is kPrinterDeviceError, and the next line goes on below it.
  resetFakeDevice();
  clearError();
  JobOptions options;
  options.codePage = 852;
  attachPrinter("Receipt", options);
  failDeviceCall("TextOutW", 1);
  printLine("x");
  EXPECT_EQ(lastError(), 57);
  printLine("y");
  ASSERT_EQ(fakeDevice.texts.size(), 1u);
  EXPECT_EQ(fakeDevice.texts[0].y, 66);
  // The next attachment without options draws bytes again.
  attachPrinter("Receipt");
  printLine("z");
  EXPECT_EQ(fakeCallsOf("TextOut").size(), 1u);
}

TEST_F(PrinterTest, DocumentFileModeIsPassedBeforeTheDocumentStarts) {
  JobOptions options;
  options.fileMode = 0100640;  // st_mode bits beyond the permissions are dropped
  attachPrinter("Receipt", options);
  printLine("A");
  detachPrinter();
  EXPECT_EQ(lastError(), 0);
  int mode = callIndex("SetDocumentFileMode(dc1,0640)=1");
  ASSERT_GE(mode, 0) << fakeCallLog();
  EXPECT_EQ(mode, callIndex("CreateDC(") + 1);
  EXPECT_EQ(mode + 1, callIndex("StartDoc("));
  EXPECT_EQ(fakeDevice.documents[0].fileMode, 0640u);

  // The usual mode asks the device nothing.
  attachPrinter("Receipt");
  detachPrinter();
  EXPECT_EQ(fakeCallsOf("SetDocumentFileMode").size(), 1u);
  EXPECT_EQ(fakeDevice.documents[1].fileMode, 0777u);

  // A device that will not take the mode gets no document: a saved copy
  // could be read by more people than the printout's source.
  failDeviceCall("SetDocumentFileMode", 1);
  attachPrinter("Receipt", options);
  EXPECT_EQ(lastError(), 68);
  expectDetached();
  EXPECT_EQ(fakeDevice.documents.size(), 2u);
}

TEST_F(PrinterTest, AutomaticPageBreak) {
  fakeDevice.cellHeight = 50;
  fakeDevice.pageHeight = 200;
  attachPrinter("Receipt");
  selectFont("Arial", 10);
  for (const char* text : {"1", "2", "3", "4", "5"}) printLine(text);
  ASSERT_EQ(fakeDevice.texts.size(), 5u);
  EXPECT_EQ(fakeDevice.texts[3].page, 1);  // top 150 + 50 ends exactly at the bottom
  EXPECT_EQ(fakeDevice.texts[3].y, 150);
  EXPECT_EQ(fakeDevice.texts[4].page, 2);
  EXPECT_EQ(fakeDevice.texts[4].y, 0);
  EXPECT_EQ(fakeDevice.texts[4].face, "Arial");  // the new page gets the current font
  EXPECT_EQ(printerState.penY, 50);

  // Empty lines past the bottom make no blank pages: the next text goes to the
  // top of one new page, and trailing ones add nothing.
  for (int i = 0; i < 20; ++i) printLine("");
  printLine("6");
  EXPECT_EQ(fakeDevice.texts.back().page, 3);
  EXPECT_EQ(fakeDevice.texts.back().y, 0);
  for (int i = 0; i < 20; ++i) printLine("");
  detachPrinter();
  EXPECT_EQ(lastError(), 0);
  EXPECT_EQ(fakeDevice.documents[0].pages, 3);
}

TEST_F(PrinterTest, AutomaticPageBreakEdgeCases) {
  // A font taller than the page: each line gets a page of its own, cut.
  fakeDevice.cellHeight = 300;
  fakeDevice.pageHeight = 200;
  attachPrinter("Receipt");
  printLine("A");
  printLine("B");
  EXPECT_EQ(fakeDevice.texts[0].page, 1);
  EXPECT_EQ(fakeDevice.texts[1].page, 2);
  EXPECT_EQ(fakeDevice.texts[1].y, 0);

  // The page that cannot be ended: kPrinterDeviceError, the line is not drawn off the page.
  failDeviceCall("EndPage", 1);
  printLine("C");
  EXPECT_EQ(lastError(), 57);
  EXPECT_EQ(fakeDevice.texts.size(), 2u);
  EXPECT_TRUE(printerState.pageOpen);

  // A device that reports no printable height gets no breaks.
  detachPrinter();
  clearError();
  resetFakeDevice();
  fakeDevice.cellHeight = 300;
  fakeDevice.pageHeight = 0;
  attachPrinter("Receipt");
  printLine("A");
  printLine("B");
  EXPECT_EQ(fakeDevice.texts[1].page, 1);
  EXPECT_EQ(fakeDevice.texts[1].y, 300);
  EXPECT_EQ(lastError(), 0);
}

}  // namespace
