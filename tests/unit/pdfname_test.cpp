// The names of saved PDFs (pdfname): templates filled in, the printout's
// text made safe for a file name, and hostile templates refused at load,
// said once, the usual names kept.
#include <gtest/gtest.h>

#include <fstream>

#include "config/pdfname.h"
#include "config/slots.h"
#include "console/console.h"
#include "device/device.h"
#include "tempdir.h"

static_assert(kPdfCounterMark == kDeviceCounterMark, "the device fills in the counter the template leaves");

TEST(PdfName, TemplatesFillInTheirFieldsAndTheTextIsMadeSafe) {
  const LocalTime t{2026, 12, 10, 9, 5, 7};
  const std::string n(1, kPdfCounterMark);
  EXPECT_EQ(expandPdfName("%Y-%m/%d-%t-%n", t, 1, "Total: 12,50 EUR / Kasse 3"),
            "2026-12/10-Total_12_50_EUR_Kasse_3-" + n);
  // The default names, as a template.
  EXPECT_EQ(expandPdfName("print-%Y%m%d-%H%M%S-%n", t, 0, "x"), "print-20261210-090507-" + n);
  EXPECT_EQ(expandPdfName("p%p\\%H%M%S_100%%", t, 7, ""), "p7/090507_100%");
  EXPECT_EQ(expandPdfName("%t", t, 0, "   "), "printout");
  EXPECT_EQ(expandPdfName("%t.PDF", t, 0, "__Kasse-2__"), "Kasse-2");
  // Text that makes a name Windows reserves is kept apart from it.
  EXPECT_EQ(expandPdfName("%t/%t", t, 0, "con"), "con_/con_");
  EXPECT_EQ(fileNameText(std::string(100, 'a')), std::string(40, 'a'));
  EXPECT_EQ(fileNameText("Bon Nr.\t0042 \x8e\x99"), "Bon_Nr_0042");

  for (const char* good : {"%Y-%m/%d-%t-%n", "a/b/c/d/%n", "Kasse %p - %t", "console", "com10"})
    EXPECT_EQ(pdfNameProblem(good), "") << good;
}

TEST(PdfName, HostileTemplatesAreRefusedSaidOnceAndTheUsualNamesKept) {
  const std::string tooLong = "%t%t%t%t%t";
  for (const std::string& bad :
       {std::string("../x"), std::string("a/../x"), std::string("a/./x"), std::string("/abs/%n"),
        std::string("\\abs"), std::string("C:/x"), std::string("x%"), std::string("%q"), std::string("a//b"),
        std::string("b/"), std::string("con/x"), std::string("x/LPT1.txt"), std::string("Nul"),
        std::string("x\ty"), std::string("x\x7f"), std::string("dot."), std::string("what?"), tooLong,
        std::string(201, 'x'), std::string("a/b/c/d/e/f")})
    EXPECT_NE(pdfNameProblem(bad), "") << bad;
  EXPECT_EQ(pdfNameProblem("../x"), "would leave the folder printed");
  EXPECT_EQ(pdfNameProblem("%q"), "has the field %q, which ferrin does not know");

  TempWorkDir dir;
  std::string said;
  captureConsole(&said, nullptr);
  std::ofstream("ferrin.ini", std::ios::binary) << "[printer 2]\r\npdfname=../../etc/%t\x01\r\n";
  loadSlot(2);
  EXPECT_STREQ(slotSnapshot(2).options.pdfName, "");
  // Read again after another change: not said again.
  std::ofstream("ferrin.ini", std::ios::binary) << "[printer 2]\r\nfontsize=12\r\npdfname=../../etc/%t\x01\r\n";
  loadSlot(2);
  EXPECT_EQ(slotSnapshot(2).options.pdfName[0], '\0');
  EXPECT_EQ(said, "Printer #2: ferrin.ini sets pdfname to \"../../etc/%t?\", which would leave the folder printed,"
                  " so the PDFs it saves get the usual names.\n");
  std::ofstream("ferrin.ini", std::ios::binary) << "[printer 2]\r\npdfname=%Y-%m/%d-%t-%n\r\n";
  loadSlot(2);
  EXPECT_STREQ(slotSnapshot(2).options.pdfName, "%Y-%m/%d-%t-%n");
  captureConsole(nullptr, nullptr);
  EXPECT_EQ(said.find('\n'), said.size() - 1) << said;
}
