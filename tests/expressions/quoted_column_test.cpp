// A quoted string that names a column is that column everywhere: in type
// checking, in per-record evaluation, in prepared filters and after a trip
// through the packed form; only where the other side already holds a column
// does it stay a literal.
#include <gtest/gtest.h>

#include "evaluation_test_support.h"
#include "expressions/exp_token_pack.h"
#include "expressions/filter_preparation.h"

namespace tarn {
namespace {

using namespace testing_support;

TTestRecord Smith() {
  TTestRecord record;
  record.Set(col::kName, TextBytes("Smith"))
      .Set(col::kAge, Bytes<std::int32_t>(42))
      .Set(col::kActive, Bytes<std::uint16_t>(1))
      .Set(col::kBirth, DateBytes("2008-03-01"));
  return record;  // City is NULL
}

std::string EvaluateTree(const TExpToken& tree, TTestRecord record) {
  return Show(*EvaluateExpressionToken(tree, nullptr, &record, ReadTestField, 0, 0));
}

struct TCase {
  std::string Text;
  std::string Expected;
};

const TCase kCases[] = {
    {"'Name' = 'Smith'", "true"},
    {"'Name' <> 'Smith'", "false"},
    {"\"Name\" = 'Smith'", "true"},
    {"'Name' = 'Name'", "false"},  // the right side stays the literal Name
    {"'Name' = Name", "false"},   // the other side holds a column: 'Name' is a literal
    {"'Age' > 40", "true"},
    {"'Age' + 1", "43"},
    {"'Birth' = '2008-03-01'", "true"},
    {"'Birth' > '2008-03-02'", "false"},
    {"UPPER('Name') = 'SMITH'", "true"},
    {"LENGTH('Name')", "5"},
    {"'Name' LIKE 'Sm%'", "true"},
    {"'Name' IN ('Jones', 'Smith')", "true"},
    {"'City' IS NULL", "true"},
    {"'Active'", "true"},
    {"NOT 'Active'", "false"},
    {"'Name' || '!'", "'Smith!'"},
    {"'Smith' = 'Name'", "true"},
    {"'nobody' = 'Smith'", "false"},  // no such column: two literals
};

TEST(QuotedColumnNames, EvaluateAsTheColumn) {
  for (const auto& c : kCases) EXPECT_EQ(EvaluateText(c.Text, Smith()), c.Expected) << c.Text;
}

TEST(QuotedColumnNames, TypeCheckedAsTheColumn) {
  auto sum = VerifyText("'Age' + 1");
  ASSERT_TRUE(sum.Root) << sum.Text;
  EXPECT_EQ(sum.Root->DataType, dtInteger);
  EXPECT_EQ(Render(sum.Root.get()), "(+ [Age] 1)");
  // A column of the wrong type is refused as a column, not as a string.
  auto mismatch = VerifyText("'Age' = 'abc'");
  EXPECT_EQ(mismatch.Text, "Type mismatch between column 'Age' and constant 'abc' in filter expression");
  auto date = VerifyText("'Birth' = 'someday'");
  EXPECT_EQ(date.Text, "Date, time, or timestamp expression expected, instead found 'someday' in filter expression");
}

TEST(QuotedColumnNames, PreparedFiltersReadTheColumn) {
  const TCase cases[] = {
      {"'Name' = 'Sm*'", "true"},
      {"'Name' = 'Jo*'", "false"},
      {"'Name' LIKE 'Sm%'", "true"},
      {"'Name' = 'Smith'", "true"},
      {"'Age' < 42.5", "true"},
      {"'Age' BETWEEN 40 AND 41", "false"},
  };
  for (const auto& c : cases) {
    auto outcome = VerifyText(c.Text);
    ASSERT_TRUE(outcome.Root) << c.Text << ": " << outcome.Text;
    TExpTokenPtr prepared = BuildNextFilterExpression(*outcome.Root, nullptr, ReadTestField);
    EXPECT_EQ(EvaluateTree(*prepared, Smith()), c.Expected) << c.Text;
  }
}

TEST(QuotedColumnNames, PackedTreesEvaluateTheSame) {
  for (const auto& c : kCases) {
    auto outcome = VerifyText(c.Text);
    ASSERT_TRUE(outcome.Root) << c.Text;
    std::vector<std::uint8_t> buffer;
    PackExpressionTokens(outcome.Root.get(), buffer);
    TExpTokenPtr unpacked = UnpackExpressionTokens(buffer);
    EXPECT_EQ(EvaluateTree(*unpacked, Smith()), EvaluateTree(*outcome.Root, Smith())) << c.Text;
  }
}

}  // namespace
}  // namespace tarn
