// System code page helpers: character scanning, cutting and case mapping of
// GBK text, where a trail byte may look like an ASCII letter.
#include "platform/code_page.h"

#include <gtest/gtest.h>

#include <string>

namespace tarn {
namespace {

TEST(CodePage, LeadAndTrailBytes) {
  EXPECT_FALSE(IsLeadByte(0x80));
  EXPECT_TRUE(IsLeadByte(0x81));
  EXPECT_TRUE(IsLeadByte(0xFE));
  EXPECT_FALSE(IsLeadByte(0xFF));
  EXPECT_FALSE(IsTrailByte(0x3F));
  EXPECT_TRUE(IsTrailByte(0x40));
  EXPECT_FALSE(IsTrailByte(0x7F));
  EXPECT_TRUE(IsTrailByte(0x80));
  EXPECT_TRUE(IsTrailByte(0xFE));
  EXPECT_FALSE(IsTrailByte(0xFF));
}

TEST(CodePage, ScanningStepsOverDoubleByteCharacters) {
  // "a", a CJK character whose trail byte is '\\' (0x5C), "b", and a lone lead byte at the end.
  const std::string text = "a\xB0\x5C" "b\x81";
  EXPECT_EQ(CharLength(text, 0), 1u);
  EXPECT_EQ(CharLength(text, 1), 2u);
  EXPECT_EQ(NextCharPos(text, 1), 3u);
  EXPECT_EQ(CharLength(text, 4), 1u);  // lead byte without a trail byte
  EXPECT_EQ(CharLength(text, 5), 0u);
  EXPECT_EQ(CharCount(text), 4u);
  EXPECT_TRUE(IsTrailBytePosition(text, 2));
  EXPECT_FALSE(IsTrailBytePosition(text, 1));
  EXPECT_FALSE(IsTrailBytePosition(text, 3));
  // A lead byte followed by an invalid trail byte (0x7F) is a single byte.
  EXPECT_EQ(CharLength("\xB0\x7F", 0), 1u);
}

TEST(CodePage, CuttingNeverSplitsACharacter) {
  const std::string text = "ab\xD6\xD0\xCE\xC4";  // "ab" + two Chinese characters
  struct Case { std::size_t max; std::size_t expect; };
  for (const Case c : {Case{0, 0}, Case{1, 1}, Case{2, 2}, Case{3, 2}, Case{4, 4}, Case{5, 4}, Case{6, 6}, Case{99, 6}}) {
    EXPECT_EQ(CutLength(text, c.max), c.expect) << "max " << c.max;
    EXPECT_EQ(CutToLength(text, c.max), text.substr(0, c.expect));
  }
}

TEST(CodePage, CaseMappingTable) {
  struct Case { const char* in; const char* upper; const char* lower; };
  const Case cases[] = {
      {"abcXYZ09_", "ABCXYZ09_", "abcxyz09_"},
      // Trail byte 0x61 ('a') and 0x41 ('A') of CJK characters stay as they are.
      {"\x81\x61", "\x81\x61", "\x81\x61"},
      {"\xB0\x61z", "\xB0\x61Z", "\xB0\x61z"},
      {"\xB0\x41Q", "\xB0\x41Q", "\xB0\x41q"},
      // Full-width Latin letters: U+FF41 (A3 E1) <-> U+FF21 (A3 C1).
      {"\xA3\xE1", "\xA3\xC1", "\xA3\xE1"},
      {"\xA3\xC1", "\xA3\xC1", "\xA3\xE1"},
      // Greek alpha (A6 C1) <-> Alpha (A6 A1); Cyrillic a (A7 D1) <-> A (A7 A1).
      {"\xA6\xC1\xA7\xD1", "\xA6\xA1\xA7\xA1", "\xA6\xC1\xA7\xD1"},
      {"\xA6\xA1\xA7\xA1", "\xA6\xA1\xA7\xA1", "\xA6\xC1\xA7\xD1"},
      // Chinese text with a user name: only the ASCII letters change.
      {"\xD5\xC5san", "\xD5\xC5SAN", "\xD5\xC5san"},
      // Bytes that are no characters stay: 0x80, 0xFF, a lone lead byte.
      {"\x80\xFFx\x81", "\x80\xFFX\x81", "\x80\xFFx\x81"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(AnsiUpperCase(c.in), c.upper) << c.in;
    EXPECT_EQ(AnsiLowerCase(c.in), c.lower) << c.in;
  }
}

TEST(CodePage, CaseMappingKeepsEmbeddedNulAndLength) {
  const std::string in("a\0b", 3);
  const std::string up = AnsiUpperCase(in);
  ASSERT_EQ(up.size(), 3u);
  EXPECT_EQ(up, std::string("A\0B", 3));
}

TEST(CodePage, NameComparisonIgnoresCaseCharacterWise) {
  EXPECT_TRUE(AnsiSameText("Customer", "CUSTOMER"));
  EXPECT_TRUE(AnsiSameText("\xA3\xE1x", "\xA3\xC1X"));
  // The trail byte 'a' of 0xB061 is not folded against 'A' of 0xB041.
  EXPECT_FALSE(AnsiSameText("\xB0\x61", "\xB0\x41"));
  EXPECT_FALSE(AnsiSameText("abc", "abcd"));
  EXPECT_LT(AnsiCompareText("abc", "ABD"), 0);
  EXPECT_GT(AnsiCompareText("abd", "ABC"), 0);
  EXPECT_LT(AnsiCompareText("ab", "ABC"), 0);
  EXPECT_EQ(AnsiCompareText("", ""), 0);
  // Unsigned byte order: characters above 0x80 sort after ASCII.
  EXPECT_GT(AnsiCompareText("\xD5\xC5", "z"), 0);
  EXPECT_LT(AnsiCompareStr("A", "a"), 0);
  EXPECT_EQ(AnsiCompareStr("a", "a"), 0);
}

}  // namespace
}  // namespace tarn
