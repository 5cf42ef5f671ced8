// A table's text has one code page, and every string operation of an
// expression uses it: on a single-byte Latin table (French, code page 1252)
// every byte is a character, so LIKE, prefix comparisons, POS and TRIM agree
// with `=`; on an ANSI Standard table (language 0) text is GBK and a
// double-byte character is one character everywhere, even when its second
// byte looks like '_' or an ASCII letter.
#include <gtest/gtest.h>

#include "evaluation_test_support.h"
#include "expressions/filter_preparation.h"

namespace tarn {
namespace {

using namespace testing_support;

constexpr std::uint16_t kFrench = 0x040C;  // ANSI code page 1252: 0xE9 is é, 0xC9 É
constexpr std::uint16_t kAnsiStandard = 0;

TTestRecord Named(const std::string& name) {
  TTestRecord record;
  record.Set(col::kName, TextBytes(name));
  return record;
}

// The filter evaluated record by record after filter preparation.
std::string EvaluatePrepared(const std::string& text, TTestRecord record, std::uint16_t languageID) {
  auto outcome = VerifyText(text);
  if (!outcome.Root) return "error: " + outcome.Text;
  TExpTokenPtr prepared = BuildNextFilterExpression(*outcome.Root, nullptr, ReadTestField, {.LanguageID = languageID});
  return Show(*EvaluateExpressionToken(*prepared, nullptr, &record, ReadTestField, 0, languageID));
}

struct TCase {
  std::string Name;
  std::string Text;
  std::string Expected;
};

TEST(TextCodePage, SingleByteLatinTable) {
  const std::string ete = "\xE9t\xE9";  // été
  const TCase cases[] = {
      {ete, "Name = 'ete'", "true"},
      {ete, "Name LIKE 'ete'", "true"},
      {ete, "Name LIKE 'e%e'", "true"},
      {ete, "Name LIKE '_t_'", "true"},
      {ete, "Name LIKE '__'", "false"},
      {ete, "Name LIKE 'e%'", "true"},
      {ete, "Name LIKE '%te'", "true"},
      {ete, "Name LIKE '\xE9_%'", "true"},  // é, then any one character
      {ete, "Name NOT LIKE 'e%e'", "false"},
      {ete, "POS('t' IN Name)", "2"},
      {ete, "OCCURS('t\xE9' IN Name)", "1"},
      {ete, "REPLACE('t' WITH 'T' IN Name)", "'\xE9T\xE9'"},
      {"\xE9\xE9", "TRIM(TRAILING '\xE9' FROM Name)", "NULL"},
      {"a\xE9\xE9", "TRIM(BOTH '\xE9' FROM Name)", "'a'"},
      {ete, "UPPER(Name)", "'\xC9T\xC9'"},
      {"\xC9T\xC9", "LOWER(Name)", "'" + ete + "'"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(EvaluateText(c.Text, Named(c.Name), kFrench), c.Expected) << c.Text;
    if (c.Text.find("Name") == 0) {
      EXPECT_EQ(EvaluatePrepared(c.Text, Named(c.Name), kFrench), c.Expected) << "prepared: " << c.Text;
    }
  }
  // Trailing-'*' prefixes are cut by characters of the table's code page.
  EXPECT_EQ(EvaluatePrepared("Name = 'e*'", Named(ete), kFrench), "true");
  EXPECT_EQ(EvaluatePrepared("Name = 'et*'", Named(ete), kFrench), "true");
  EXPECT_EQ(EvaluatePrepared("Name = 'ex*'", Named(ete), kFrench), "false");
}

TEST(TextCodePage, EqualsAndLikeAgreeOnALatinTable) {
  // A pattern without wildcards matches exactly the values it equals, and a
  // prepared LIKE (an index-ready prefix comparison) gives the same rows as
  // the LIKE it came from.
  const std::vector<std::string> values = {"\xE9t\xE9", "ete", "\xC9t\xE9", "et\xE9", "\xE9t", "e", "\xE9_e"};
  const std::vector<std::string> patterns = {"ete", "\xE9t\xE9", "e%", "\xE9%", "e_e", "%e", "\xE9t%", "\xE9_%",
                                             "\xE9_e"};
  for (const auto& value : values) {
    for (const auto& pattern : patterns) {
      const std::string like = "Name LIKE '" + pattern + "'";
      const std::string direct = EvaluateText(like, Named(value), kFrench);
      EXPECT_EQ(EvaluatePrepared(like, Named(value), kFrench), direct) << like << " on " << value;
      if (pattern.find_first_of("%_") == std::string::npos) {
        EXPECT_EQ(EvaluateText("Name = '" + pattern + "'", Named(value), kFrench), direct) << like << " on " << value;
      }
    }
  }
}

TEST(TextCodePage, GbkTextOnAnAnsiStandardTable) {
  const std::string zhong = "\xD6\xD0", wen = "\xCE\xC4";  // 中, 文
  const std::string underscoreTrail = "\x81\x5F";           // a character whose second byte is '_'
  const std::string letterTrail = "\x81\x41";               // a character whose second byte is 'A'
  const TCase cases[] = {
      {zhong + wen, "Name LIKE '" + zhong + "%'", "true"},
      {zhong + wen, "Name LIKE '__'", "true"},
      {zhong, "Name LIKE '_'", "true"},
      {zhong, "Name LIKE '__'", "false"},
      {underscoreTrail, "Name LIKE '" + underscoreTrail + "'", "true"},
      {letterTrail, "Name LIKE '" + underscoreTrail + "'", "false"},
      {letterTrail + "x", "Name LIKE '" + underscoreTrail + "%'", "false"},
      {underscoreTrail + "x", "Name LIKE '" + underscoreTrail + "%'", "true"},
      {letterTrail + "A", "POS('A' IN Name)", "3"},
      {letterTrail, "POS('A' IN Name)", "0"},
      {letterTrail + "A", "OCCURS('A' IN Name)", "1"},
      {zhong + wen, "Name = '" + zhong + wen + "'", "true"},
      {"\x81\x61", "UPPER(Name)", "'\x81\x61'"},  // a trail byte is never a letter
  };
  for (const auto& c : cases) {
    EXPECT_EQ(EvaluateText(c.Text, Named(c.Name), kAnsiStandard), c.Expected) << c.Text;
    if (c.Text.find("Name") == 0) {
      EXPECT_EQ(EvaluatePrepared(c.Text, Named(c.Name), kAnsiStandard), c.Expected) << "prepared: " << c.Text;
    }
  }
  // A prefix is never cut inside a double-byte character.
  EXPECT_EQ(EvaluatePrepared("Name = '" + zhong + "*'", Named(zhong + wen), kAnsiStandard), "true");
  EXPECT_EQ(EvaluatePrepared("Name = '" + letterTrail + "*'", Named(underscoreTrail), kAnsiStandard), "false");
}

}  // namespace
}  // namespace tarn
