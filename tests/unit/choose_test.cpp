#include <gtest/gtest.h>

#include "setup/choose.h"
#include "setup/setup.h"

TEST(PrinterList, NumbersKeepTheirGapsAndLinesHaveNoBlankAfterTheColon) {
  std::vector<PrinterEntry> printers = {{"Receipt Printer", "USB001"}, {"No Port", ""}, {"Office", "LPT1:"},
                                        {"   ", "LPT2:"}};
  EXPECT_EQ(printerListLine(printers, 0), "1:Receipt Printer");
  EXPECT_EQ(printerListLine(printers, 1), "");
  EXPECT_EQ(printerListLine(printers, 2), "3:Office");
  EXPECT_EQ(printerListLine(printers, 3), "");
}

TEST(PrinterList, AnswersPickTheRoundedIndex) {
  EXPECT_EQ(chosenPrinterIndex("1", 3), 0);
  EXPECT_EQ(chosenPrinterIndex("2", 3), 1);  // a skipped entry can still be chosen
  EXPECT_EQ(chosenPrinterIndex("2.4", 3), 1);
  EXPECT_EQ(chosenPrinterIndex("2.5", 3), 2);  // index 1.5 rounds to the even 2
  EXPECT_EQ(chosenPrinterIndex("1.5", 3), 0);  // index 0.5 rounds to the even 0
  EXPECT_EQ(chosenPrinterIndex("3", 3), 2);
  EXPECT_EQ(chosenPrinterIndex("3.1", 3), -1);
  EXPECT_EQ(chosenPrinterIndex("0", 3), -1);
  EXPECT_EQ(chosenPrinterIndex("-1", 3), -1);
  EXPECT_EQ(chosenPrinterIndex("x", 3), -1);
  EXPECT_EQ(chosenPrinterIndex("0.3", 3), -1);  // above 0 but names no printer: asked again
  EXPECT_EQ(chosenPrinterIndex("1", 0), -1);
}

TEST(SetupAnswers, YesNoAnswersAreComparedUpperCased) {
  for (const char* yes : {"y", "Y", "Yes", "YES", "yEs"}) {
    EXPECT_TRUE(isYesNoAnswer(yes)) << yes;
    EXPECT_TRUE(isYesAnswer(yes)) << yes;
  }
  for (const char* no : {"n", "nO", "NO"}) {
    EXPECT_TRUE(isYesNoAnswer(no)) << no;
    EXPECT_FALSE(isYesAnswer(no)) << no;
  }
  for (const char* other : {"yeah", "ye", "", " y", "yes please"}) EXPECT_FALSE(isYesNoAnswer(other)) << other;
}

TEST(SetupAnswers, FontSizeAboveFourAndAtMostFortyEight) {
  for (const char* ok : {"4.1", "12", "48", "12pt", "5"}) EXPECT_TRUE(isFontSizeAnswer(ok)) << ok;
  for (const char* refused : {"4", "48.5", "0", "", "y", "-12", "abc", "49"}) EXPECT_FALSE(isFontSizeAnswer(refused)) << refused;
}
