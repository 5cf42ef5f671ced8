// Evaluation of verified trees: NULL rules, arithmetic, dates, LIKE, IN,
// BETWEEN and the string and date functions.
#include <gtest/gtest.h>

#include <cstring>
#include <map>

#include "expression_test_support.h"
#include "expressions/ansi_text_forms.h"
#include "expressions/expression_evaluator.h"

namespace tarn {
namespace {

// One record: the value bytes of some columns by field number; missing columns are NULL.
struct TTestRecord {
  std::map<std::uint16_t, std::vector<std::uint8_t>> Values;
};

void ReadTestField(void* context, const std::uint8_t*, TExpToken& result) {
  auto* record = static_cast<TTestRecord*>(context);
  auto it = record->Values.find(result.FieldNumber);
  result.IsNull = it == record->Values.end();
  if (result.IsNull) return;
  result.SetDataSize(std::max<std::int32_t>(result.DataSize, static_cast<std::int32_t>(it->second.size())));
  std::memcpy(result.Value.data(), it->second.data(), it->second.size());
}

template <typename T>
std::vector<std::uint8_t> Bytes(T v) {
  std::vector<std::uint8_t> b(sizeof(T));
  std::memcpy(b.data(), &v, sizeof(T));
  return b;
}

std::vector<std::uint8_t> Text(const std::string& s) {
  std::vector<std::uint8_t> b(s.begin(), s.end());
  b.push_back(0);
  return b;
}

// Field numbers of the default test columns.
constexpr std::uint16_t kName = 1, kCity = 2, kAge = 3, kBirth = 5, kStart = 6, kRatio = 15;

TTestRecord SampleRecord() {
  TTestRecord r;
  r.Values[kName] = Text("Smith");
  r.Values[kAge] = Bytes<std::int32_t>(42);
  r.Values[kBirth] = Bytes<std::int32_t>(StrToAnsiDate("2008-03-01"));
  r.Values[kStart] = Bytes<std::int32_t>(13 * 3600000 + 5 * 60000);
  r.Values[kRatio] = Bytes<double>(2.5);
  return r;  // City is NULL
}

std::string Show(const TExpToken& v) {
  if (v.IsNull) return "NULL";
  switch (v.DataType) {
    case dtBoolean: return v.Value[0] ? "true" : "false";
    case dtString: return "'" + v.StringValue() + "'";
    case dtInteger: { std::int32_t i; std::memcpy(&i, v.Value.data(), 4); return std::to_string(i); }
    case dtLargeInt: { std::int64_t i; std::memcpy(&i, v.Value.data(), 8); return std::to_string(i); }
    case dtFloat: { double d; std::memcpy(&d, v.Value.data(), 8); return AnsiFloatToStr(d); }
    case dtDate: { std::int32_t i; std::memcpy(&i, v.Value.data(), 4); return AnsiDateToStr(i); }
    case dtTime: { std::int32_t i; std::memcpy(&i, v.Value.data(), 4); return AnsiTimeToStr(i); }
    default: return "?";
  }
}

std::string Evaluate(const std::string& text, TTestRecord record = SampleRecord()) {
  auto outcome = testing_support::ParseText(text, {.Verify = true});
  if (!outcome.Root) return "error: " + outcome.Text;
  TExpTokenPtr value = EvaluateExpressionToken(*outcome.Root, nullptr, &record, ReadTestField, 0, 0);
  return Show(*value);
}

TEST(ExpressionEvaluator, Values) {
  struct TCase {
    std::string Text;
    std::string Expected;
  };
  const TCase cases[] = {
      {"City IS NULL", "true"},
      {"City IS NOT NULL", "false"},
      {"Name IS NULL", "false"},
      {"City = ''", "true"},
      {"Name = ''", "false"},
      {"City < 'a'", "true"},       // a NULL string counts as empty in ordering
      {"Age > NULL", "error: Type mismatch between column 'Age' and constant 'NULL' in filter expression"},
      {"Name = 'Smith'", "true"},
      {"Name <> 'Smith'", "false"},
      {"Name > 'Smit'", "true"},
      {"Name < 'smith'", "true"},   // language 0 compares bytes
      {"Age + 1", "43"},
      {"Age - 50", "-8"},
      {"Age * 2 + 1", "85"},
      {"Age / 0", "NULL"},
      {"Ratio / 0", "NULL"},
      {"7 / 2", "3.5"},
      {"Age / 4", "10.5"},
      {"Ratio * 2", "5"},
      {"-Age", "-42"},
      {"2147483647 + 1", "-2147483648"},
      {"Name || City", "'Smith'"},
      {"City || 'x'", "'x'"},
      {"Birth - 1", "2008-02-29"},
      {"Birth - '2008-01-01'", "60"},
      {"Start + 60000", "01:06 PM"},
      {"Age > 3 AND Name LIKE 'Sm%'", "true"},
      {"Age > 50 OR Name LIKE 'x%'", "false"},
      {"NOT City = 'a'", "true"},
      {"Name LIKE 'S_ith'", "true"},
      {"Name LIKE 'S%t%h'", "true"},
      {"Name LIKE 'S%x'", "false"},
      {"Name LIKE 'Smith%%'", "true"},
      {"City LIKE '%'", "false"},
      {"City NOT LIKE 'a%'", "true"},
      {"Age IN (1, 42, 3)", "true"},
      {"Age NOT IN (1, 2)", "true"},
      {"Age BETWEEN 40 AND 42", "true"},
      {"Age NOT BETWEEN 43 AND 50", "true"},
      {"UPPER(Name)", "'SMITH'"},
      {"LOWER(Name)", "'smith'"},
      {"LENGTH(Name)", "5"},
      {"LENGTH(City)", "NULL"},
      {"SUBSTRING(Name FROM 0 FOR 3)", "'Smi'"},
      {"SUBSTRING(Name FROM 2)", "'mith'"},
      {"SUBSTRING(Name FROM 9 FOR 2)", "NULL"},
      {"SUBSTRING(Name FROM 2 FOR 0)", "NULL"},
      {"TRIM(BOTH ' ' FROM '   ')", "NULL"},
      {"TRIM(LEADING 'S' FROM Name)", "'mith'"},
      {"TRIM(TRAILING 'h' FROM Name)", "'Smit'"},
      {"ABS(-Age)", "42"},
      {"EXTRACT(YEAR FROM Birth)", "2008"},
      {"EXTRACT(DAYOFWEEK FROM Birth)", "6"},
      {"EXTRACT(DAYOFWEEK FROM Birth + 1)", "7"},
      {"EXTRACT(YEAR FROM Start)", "0"},
      {"EXTRACT(HOUR FROM Start)", "13"},
      {"IF(Age > 40 THEN 'old' ELSE 'young')", "'old'"},
      {"IF(City = 'x' THEN 1 ELSE NULL)", "NULL"},
  };
  for (const auto& c : cases) EXPECT_EQ(Evaluate(c.Text), c.Expected) << c.Text;
}

TEST(ExpressionEvaluator, NullComparisonRules) {
  TTestRecord empty;  // every column NULL
  struct TCase {
    std::string Text;
    std::string Expected;
  };
  const TCase cases[] = {
      {"Age = Small", "true"},  {"Age <> Small", "false"}, {"Age = 5", "false"},
      {"Age <> 5", "true"},     {"Age > 5", "false"},      {"Age < 5", "false"},
      {"Age + 1", "NULL"},      {"Name < 'a'", "true"},    {"Name = City", "true"},
  };
  for (const auto& c : cases) EXPECT_EQ(Evaluate(c.Text, empty), c.Expected) << c.Text;
}

TEST(ExpressionEvaluator, ColumnWithoutCallbackIsAnInternalError) {
  auto outcome = testing_support::VerifyText("Age = 1");
  ASSERT_TRUE(outcome.Root);
  try {
    EvaluateExpressionToken(*outcome.Root, nullptr, nullptr, nullptr, 0, 0);
    ADD_FAILURE();
  } catch (const ETarnEngineError& error) {
    EXPECT_EQ(error.ErrorCode(), TARN_SQLPARSE);
    EXPECT_EQ(error.ErrorText(), "Internal error: Column 'Age' specified illegally");
  }
}

}  // namespace
}  // namespace tarn
