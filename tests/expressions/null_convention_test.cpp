// The engine's NULL rules for every comparison operator, with NULL on the
// left, on the right and on both sides, for strings and for the other types.
#include <gtest/gtest.h>

#include "evaluation_test_support.h"

namespace tarn {
namespace {

using namespace testing_support;

struct TTypeCase {
  std::string Column;   // a column of the type
  std::string Other;    // a second column of a comparable type
  std::uint16_t Field;  // field number of Column
  std::uint16_t OtherField;
  std::vector<std::uint8_t> Value;  // a non-NULL value
  bool IsString;
};

std::vector<TTypeCase> TypeCases() {
  return {
      {"Name", "City", col::kName, col::kCity, TextBytes("m"), true},
      {"Age", "Small", col::kAge, col::kSmall, Bytes<std::int32_t>(5), false},
      {"Ratio", "Price", col::kRatio, col::kPrice, Bytes<double>(5.5), false},
      {"Amount", "Age", col::kAmount, col::kAge, BcdBytes("5.25"), false},
      {"Birth", "Stamp", col::kBirth, col::kStamp, DateBytes("2008-03-01"), false},
      {"Start", "Start", col::kStart, col::kStart, TimeBytes("13:05"), false},
      {"Big", "W", col::kBig, col::kW, Bytes<std::int64_t>(5), false},
  };
}

// The answer of "left op right" when one or both sides are NULL.
bool NullAnswer(const std::string& op, bool leftNull, bool rightNull, bool isString, int orderIfBothValues) {
  const bool bothNull = leftNull && rightNull;
  if (op == "=") return bothNull;
  if (op == "<>") return !bothNull;
  if (isString) {
    // NULL counts as the empty string; the non-NULL value is never empty.
    const int order = bothNull ? 0 : (leftNull ? -1 : 1);
    if (op == "<") return order < 0;
    if (op == ">") return order > 0;
    if (op == "<=") return order <= 0;
    return order >= 0;
  }
  if (!bothNull) return false;
  // Two NULLs compare their stored (zero) values: equal.
  (void)orderIfBothValues;
  return op == "<=" || op == ">=";
}

TEST(NullConvention, EveryComparisonOperatorWithNullOnEitherSide) {
  const std::string operators[] = {"=", "<>", "<", ">", "<=", ">="};
  for (const auto& type : TypeCases()) {
    for (const auto& op : operators) {
      for (int mask = 1; mask <= 3; ++mask) {
        const bool leftNull = (mask & 1) != 0, rightNull = (mask & 2) != 0;
        TTestRecord record;
        if (!leftNull) record.Set(type.Field, type.Value);
        // The same column on both sides when both are NULL, else a second
        // column that is NULL or carries the value.
        std::string text;
        if (type.Column == type.Other) {
          if (leftNull != rightNull) continue;
          text = type.Column + " " + op + " " + type.Other;
        } else {
          if (!rightNull) record.Set(type.OtherField, type.Field == col::kAmount ? Bytes<std::int32_t>(5) : type.Value);
          if (type.Field == col::kBirth && !rightNull) record.Set(type.OtherField, StampBytes("2008-03-01"));
          if (type.Field == col::kBig && !rightNull) record.Set(type.OtherField, Bytes<std::uint16_t>(5));
          if (type.Field == col::kAge && !rightNull) record.Set(type.OtherField, Bytes<std::int16_t>(5));
          if (type.Field == col::kRatio && !rightNull) record.Set(type.OtherField, Bytes<double>(5.5));
          text = type.Column + " " + op + " " + type.Other;
        }
        const std::string expected = NullAnswer(op, leftNull, rightNull, type.IsString, 0) ? "true" : "false";
        EXPECT_EQ(EvaluateText(text, record), expected)
            << text << " left " << (leftNull ? "NULL" : "value") << ", right " << (rightNull ? "NULL" : "value");
      }
    }
  }
}

TEST(NullConvention, ConstantsAndArithmetic) {
  TTestRecord empty;
  TTestRecord full;
  full.Set(col::kName, TextBytes("a")).Set(col::kAge, Bytes<std::int32_t>(5));
  struct TCase {
    std::string Text;
    TTestRecord Record;
    std::string Expected;
  };
  const TCase cases[] = {
      {"Age = 5", empty, "false"},           {"Age <> 5", empty, "true"},
      {"Age > 5", empty, "false"},           {"Age <= 5", empty, "false"},
      {"Age IS NULL", empty, "true"},        {"Age IS NOT NULL", full, "true"},
      {"Name < 'a'", empty, "true"},         {"Name >= 'a'", empty, "false"},
      {"Name = ''", empty, "true"},          {"Name = ''", full, "false"},
      {"Name <> ''", full, "true"},          {"Age + 1", empty, "NULL"},
      {"Age * 2", empty, "NULL"},            {"Amount + 1", empty, "NULL"},
      {"-Age", empty, "NULL"},               {"Name || 'x'", empty, "'x'"},
      {"'x' || Name", full, "'xa'"},         {"Name || City", empty, "NULL"},
      {"5 / 0", full, "NULL"},               {"5.0 / 0", full, "NULL"},
      {"Age / (Age - 5)", full, "NULL"},     {"NOT (Age = 1)", empty, "true"},
      {"Name LIKE '%'", empty, "false"},     {"Name NOT LIKE 'a%'", empty, "true"},
      {"Age IN (1, 5)", empty, "false"},     {"Age NOT IN (1, 5)", empty, "true"},
      {"Age BETWEEN 1 AND 9", empty, "false"}, {"Age NOT BETWEEN 1 AND 9", empty, "true"},
      {"Age > 3 AND Name IS NULL", empty, "false"}, {"Age > 3 OR Name IS NULL", empty, "true"},
  };
  for (const auto& c : cases) EXPECT_EQ(EvaluateText(c.Text, c.Record), c.Expected) << c.Text;
}

}  // namespace
}  // namespace tarn
