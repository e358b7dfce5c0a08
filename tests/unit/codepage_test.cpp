// Code page conversion: every supported code page, one characteristic letter
// of each, bytes without a character, and code pages that are refused.
#include <gtest/gtest.h>

#include <string>

#include "console/codepage.h"

namespace {

TEST(CodePage, EverySupportedCodePageConvertsItsCharacters) {
  const struct {
    int codePage;
    unsigned char byte;
    char16_t expected;
  } cases[] = {
      {437, 0xDA, u'\u250C'},  {437, 0xDB, u'\u2588'},  {437, 0xB2, u'\u2593'}, {850, 0xD5, u'\u0131'},
      {852, 0x9F, u'\u010D'},  {852, 0x85, u'\u016F'},  {855, 0x80, u'\u0452'}, {857, 0xA6, u'\u011E'},
      {858, 0xD5, u'\u20AC'},  {860, 0x84, u'\u00E3'},  {861, 0x8B, u'\u00D0'}, {862, 0x80, u'\u05D0'},
      {863, 0x84, u'\u00C2'},  {864, 0xE0, u'\u0640'},  {865, 0x9B, u'\u00F8'}, {866, 0x80, u'\u0410'},
      {869, 0xD7, u'\u03B2'},  {874, 0xA1, u'\u0E01'},  {1250, 0x8A, u'\u0160'}, {1251, 0xC0, u'\u0410'},
      {1252, 0x80, u'\u20AC'}, {1253, 0xC1, u'\u0391'}, {1254, 0xD0, u'\u011E'}, {1255, 0xE0, u'\u05D0'},
      {1256, 0xC7, u'\u0627'}, {1257, 0xD0, u'\u0160'}, {1258, 0xC3, u'\u0102'},
  };
  // Windows converts through its own tables; where the system has none for
  // 858 (Wine), it is 850 with the euro sign, and every other byte as 850's.
  for (const auto& c : cases) {
    EXPECT_TRUE(codePageSupported(c.codePage)) << c.codePage;
    std::u16string out;
    // Letters and digits are ASCII in all of them; the line keeps its length.
    ASSERT_TRUE(codePageToUtf16(c.codePage, std::string("Az09 ") + static_cast<char>(c.byte), &out)) << c.codePage;
    EXPECT_EQ(out, std::u16string(u"Az09 ") + c.expected) << c.codePage << " byte " << int(c.byte);
  }
  std::string upper;
  for (int b = 0x80; b <= 0xFF; ++b) upper += static_cast<char>(b);
  std::u16string in850, in858;
  ASSERT_TRUE(codePageToUtf16(850, upper, &in850));
  ASSERT_TRUE(codePageToUtf16(858, upper, &in858));
  in850[0xD5 - 0x80] = u'\u20AC';
  EXPECT_EQ(in858, in850);
  std::u16string czech;
  ASSERT_TRUE(codePageToUtf16(852, "\x9F\xD8\xFD\xE7\xA7\x85", &czech));
  EXPECT_EQ(czech, u"čěřšžů");
}

TEST(CodePage, BytesWithoutACharacterAndRefusedCodePages) {
  std::u16string out;
  ASSERT_TRUE(codePageToUtf16(1252, std::string("\x81\x8D\x90", 3), &out));
#ifndef _WIN32  // Windows' own table gives these bytes the C1 controls of their numbers
  EXPECT_EQ(out, u"\uFFFD\uFFFD\uFFFD");
#endif
  ASSERT_TRUE(codePageToUtf16(437, std::string("a\0b", 3), &out));
  EXPECT_EQ(out, std::u16string(u"a\0b", 3));
  ASSERT_TRUE(codePageToUtf16(437, "", &out));
  EXPECT_TRUE(out.empty());
  for (int codePage : {0, -1, 1, 437437, 65001, 932, 1200, 28591, 1259}) {
    EXPECT_FALSE(codePageSupported(codePage)) << codePage;
    out = u"stale";
    EXPECT_FALSE(codePageToUtf16(codePage, "abc", &out)) << codePage;
    EXPECT_TRUE(out.empty()) << codePage;
  }
}

}  // namespace
