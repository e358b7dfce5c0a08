#include <gtest/gtest.h>

#include <cmath>

#include "console/cp437.h"
#include "console/text.h"

TEST(TextToNumber, DecimalForms) {
  EXPECT_EQ(textToNumber(" 12"), 12);
  EXPECT_EQ(textToNumber("12abc"), 12);
  EXPECT_EQ(textToNumber("12.5"), 12.5L);
  EXPECT_EQ(textToNumber("-5"), -5);
  EXPECT_EQ(textToNumber("+7"), 7);
  EXPECT_EQ(textToNumber(".5"), 0.5L);
  EXPECT_EQ(textToNumber("1 2"), 1);
  EXPECT_EQ(textToNumber("- 5"), 0);
  EXPECT_EQ(textToNumber(""), 0);
  EXPECT_EQ(textToNumber("abc"), 0);
  EXPECT_EQ(textToNumber("."), 0);
  EXPECT_EQ(textToNumber("1.2.3"), 1.2L);
  EXPECT_EQ(textToNumber("12pt"), 12);
}

TEST(TextToNumber, LeadingWhiteSpaceSkipsBlankTabLineFeedButNotCarriageReturn) {
  EXPECT_EQ(textToNumber(" \t\n 42"), 42);
  EXPECT_EQ(textToNumber("\r42"), 0);
}

TEST(TextToNumber, Exponents) {
  EXPECT_EQ(textToNumber("1e2"), 100);
  EXPECT_EQ(textToNumber("1E2"), 100);
  EXPECT_EQ(textToNumber("1d2"), 100);
  EXPECT_EQ(textToNumber("1D+2"), 100);
  EXPECT_EQ(textToNumber("25e-1"), 2.5L);
  EXPECT_EQ(textToNumber("1e"), 1);
  // The exponent is capped at 9999: far beyond the range, but no hang or crash.
  EXPECT_TRUE(std::isinf(static_cast<double>(textToNumber("1e99999999999999999999"))));
  EXPECT_EQ(textToNumber("1e-99999999999999999999"), 0);
}

TEST(TextToNumber, OnlyEighteenSignificantDigitsCount) {
  // The 19th and 20th digits only scale the value.
  EXPECT_EQ(textToNumber("12345678901234567899"), 12345678901234567800.0L);
  EXPECT_EQ(textToNumber("0.0000123456789012345678999"), textToNumber("0.0000123456789012345678"));
  EXPECT_EQ(textToNumber("000000000000000000000000001"), 1);
}

TEST(TextToNumber, RadixForms) {
  EXPECT_EQ(textToNumber("&HFF"), 255);
  EXPECT_EQ(textToNumber("&hff"), 255);
  EXPECT_EQ(textToNumber("&B101"), 5);
  EXPECT_EQ(textToNumber("&O17"), 15);
  EXPECT_EQ(textToNumber("&Q17"), 15);
  EXPECT_EQ(textToNumber("&17"), 15);   // any other character: octal, not consumed
  EXPECT_EQ(textToNumber("&H"), 0);
  EXPECT_EQ(textToNumber("&B102"), 2);  // stops at the first digit outside the radix
  EXPECT_EQ(textToNumber("  &H10"), 16);
}

TEST(IntegerFields, HalvesGoToTheEvenNeighbourAndLowBitsAreKept) {
  EXPECT_EQ(storeInt16(12.5L), 12);
  EXPECT_EQ(storeInt16(13.5L), 14);
  EXPECT_EQ(storeInt16(-2.5L), -2);
  EXPECT_EQ(storeInt16(4.1L), 4);
  EXPECT_EQ(storeInt16(65536 + 12), 12);
  EXPECT_EQ(storeInt16(32768), -32768);
  EXPECT_EQ(storeInt16(-32769), 32767);
  EXPECT_EQ(storeInt16(textToNumber("1e30")), 0);
  EXPECT_EQ(storeInt16(textToNumber("1e9999")), 0);  // infinity stores as 0, without undefined behaviour
  EXPECT_EQ(roundToInteger(-0.5L), 0);
  EXPECT_EQ(roundToInteger(1.5L), 2);
}

TEST(NumberText, NoBlanks) {
  EXPECT_EQ(numberText(1), "1");
  EXPECT_EQ(numberText(0), "0");
  EXPECT_EQ(numberText(-3), "-3");
}

TEST(UpperCase, AsciiAndCodePage437Letters) {
  EXPECT_EQ(upperCase("abc XYZ 1,;"), "ABC XYZ 1,;");
  EXPECT_EQ(upperCase("\x84\x94\x81\x82\xA4\x86\x87"), "\x8E\x99\x9A\x90\xA5\x8F\x80");
  EXPECT_EQ(upperCase("\xE1\x91"), "\xE1\x91");  // no capital in the code page: unchanged
  EXPECT_EQ(upperCase(std::string("a\0b", 3)), std::string("A\0B", 3));
}

TEST(FirstField, TypedLineRules) {
  EXPECT_EQ(firstField("  y  "), "y");
  EXPECT_EQ(firstField("12, 14"), "12");
  EXPECT_EQ(firstField("\"a, b\" x"), "a, b");
  EXPECT_EQ(firstField("\"unclosed, quote"), "unclosed, quote");
  EXPECT_EQ(firstField(""), "");
  EXPECT_EQ(firstField("     "), "");
  EXPECT_EQ(firstField("y, more"), "y");
  EXPECT_EQ(firstField(",x"), "");
  EXPECT_EQ(firstField("\tx "), "\tx");  // only blanks are skipped
}

TEST(CommandLine, ProgramNameAndBlanksAreDropped) {
  EXPECT_EQ(stripProgramName("ferrin.exe -LISTPRINTERS"), "-LISTPRINTERS");
  EXPECT_EQ(stripProgramName("\"C:\\Program Files\\ferrin.exe\"   /-listprinters  "), "/-listprinters  ");
  EXPECT_EQ(stripProgramName("ferrin"), "");
  EXPECT_EQ(stripProgramName("\"unclosed"), "");
  EXPECT_EQ(stripProgramName("ferrin abc -LISTPRINTERS"), "abc -LISTPRINTERS");
}

TEST(Fields, CutToSizeAndAtNul) {
  char field[8];
  storeField(field, sizeof field, "0123456789");
  EXPECT_EQ(fieldText(field, sizeof field), "0123456");
  storeField(field, sizeof field, std::string("ab\0cd", 5));
  EXPECT_EQ(fieldText(field, sizeof field), "ab");
}

TEST(CodePage437, GlyphsForControlBytesBoxDrawingAndLetters) {
  EXPECT_EQ(cp437ToUtf8("A\x0C"), "A\u2640");      // form feed shows as its glyph
  EXPECT_EQ(cp437ToUtf8("\xC9\xCD\xBB"), "\u2554\u2550\u2557");
  EXPECT_EQ(cp437ToUtf8("\x82"), "\u00E9");
  EXPECT_EQ(cp437ToUtf8("\x7F"), "\u2302");
  EXPECT_EQ(cp437FromCodePoint(0x00E9), 0x82);
  EXPECT_EQ(cp437FromCodePoint('A'), 'A');
  EXPECT_EQ(cp437FromCodePoint(0x263A), -1);  // control glyphs are not typed characters
  EXPECT_EQ(cp437FromCodePoint(0x4E2D), -1);
  for (int b = 0x20; b < 256; ++b)
    if (b != 0x7F) EXPECT_EQ(cp437FromCodePoint(cp437Glyph(static_cast<unsigned char>(b))), b) << b;
}
