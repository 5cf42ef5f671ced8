// Filter preparation: the same filter evaluated on records gives the
// mathematically right answer whether its constants convert exactly or not;
// trailing-'*' and LIKE-prefix comparisons become enCOMPARE nodes; IN with a
// sub-select asks the sub-select's query.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <set>

#include "evaluation_test_support.h"
#include "expressions/date_time_values.h"
#include "expressions/exp_token_stack.h"
#include "expressions/exp_tree.h"
#include "expressions/filter_preparation.h"

namespace tarn {
namespace {

using namespace testing_support;

TExpTokenPtr Verified(const std::string& text) {
  auto outcome = ParseText(text, {.Verify = true});
  EXPECT_TRUE(outcome.Root) << text << ": " << outcome.Text;
  return std::move(outcome.Root);
}

TExpTokenPtr Prepared(const TExpToken& root, bool noPartial = false, bool caseInsensitive = false) {
  return BuildNextFilterExpression(root, nullptr, ReadTestField,
                                   {.NoPartialCompare = noPartial, .CaseInsensitive = caseInsensitive});
}

bool Holds(const TExpToken& tree, TTestRecord record) {
  TExpTokenPtr v = EvaluateExpressionToken(tree, nullptr, &record, ReadTestField, 0, 0);
  return !v->IsNull && ValueAs<std::uint16_t>(*v) != 0;
}

struct TFilterCase {
  std::string Text;
  std::uint16_t Field;
  std::vector<std::vector<std::uint8_t>> Values;
  std::function<bool(std::size_t)> Truth;  // the mathematical answer for value i
};

template <typename T>
std::vector<std::vector<std::uint8_t>> Many(std::initializer_list<T> values) {
  std::vector<std::vector<std::uint8_t>> out;
  for (const T v : values) out.push_back(Bytes<T>(v));
  return out;
}

TEST(FilterPreparation, ExactAndInexactConstantsGiveTheRightRows) {
  const std::vector<std::int32_t> ints = {-3, 1, 2, 3, 65537 - 65536, 2147483647};
  const std::vector<std::int16_t> smalls = {-32768, -1, 0, 1, 2, 32767};
  const std::vector<std::uint16_t> words = {0, 1, 32768, 65535};
  const std::vector<std::string> dates = {"2008-02-29", "2008-03-01", "2008-03-02"};
  std::vector<std::vector<std::uint8_t>> dateValues;
  for (const auto& d : dates) dateValues.push_back(DateBytes(d));
  std::vector<std::vector<std::uint8_t>> intValues, smallValues, wordValues;
  for (auto v : ints) intValues.push_back(Bytes(v));
  for (auto v : smalls) smallValues.push_back(Bytes(v));
  for (auto v : words) wordValues.push_back(Bytes(v));
  const double noonMs = StrToAnsiDateTime("2008-03-01 12:00");
  const double midnightMs = StrToAnsiDateTime("2008-03-01");
  auto dateMs = [&](std::size_t i) { return static_cast<double>(StrToAnsiDate(dates[i])) * 86400000.0; };

  const std::vector<TFilterCase> cases = {
      {"Age < 2.5", col::kAge, intValues, [&](std::size_t i) { return ints[i] < 2.5; }},
      {"Age <= 2.5", col::kAge, intValues, [&](std::size_t i) { return ints[i] <= 2.5; }},
      {"Age > 2.5", col::kAge, intValues, [&](std::size_t i) { return ints[i] > 2.5; }},
      {"Age >= -2.5", col::kAge, intValues, [&](std::size_t i) { return ints[i] >= -2.5; }},
      {"Age < -2.5", col::kAge, intValues, [&](std::size_t i) { return ints[i] < -2.5; }},
      {"Age = 2.5", col::kAge, intValues, [&](std::size_t) { return false; }},
      {"Age <> 2.5", col::kAge, intValues, [&](std::size_t) { return true; }},
      {"Age = 2.0", col::kAge, intValues, [&](std::size_t i) { return ints[i] == 2; }},
      {"Age < 3000000000", col::kAge, intValues, [&](std::size_t) { return true; }},
      {"Age > 2147483646.5", col::kAge, intValues, [&](std::size_t i) { return ints[i] > 2147483646.5; }},
      {"Age BETWEEN 0.5 AND 2.5", col::kAge, intValues, [&](std::size_t i) { return ints[i] >= 0.5 && ints[i] <= 2.5; }},
      {"Age IN (1.5, 3)", col::kAge, intValues, [&](std::size_t i) { return ints[i] == 3; }},
      {"Small = 65537", col::kSmall, smallValues, [&](std::size_t) { return false; }},
      {"Small <> 65537", col::kSmall, smallValues, [&](std::size_t) { return true; }},
      {"Small < 40000", col::kSmall, smallValues, [&](std::size_t) { return true; }},
      {"Small > -40000", col::kSmall, smallValues, [&](std::size_t) { return true; }},
      {"Small = 1", col::kSmall, smallValues, [&](std::size_t i) { return smalls[i] == 1; }},
      {"Small IN (65537, 2)", col::kSmall, smallValues, [&](std::size_t i) { return smalls[i] == 2; }},
      {"W > -1", col::kW, wordValues, [&](std::size_t) { return true; }},
      {"W >= 0", col::kW, wordValues, [&](std::size_t) { return true; }},
      {"W < 65536", col::kW, wordValues, [&](std::size_t) { return true; }},
      {"W = -65535", col::kW, wordValues, [&](std::size_t) { return false; }},
      {"W BETWEEN -1 AND 1", col::kW, wordValues, [&](std::size_t i) { return words[i] <= 1; }},
      {"Birth < CAST('2008-03-01 12:00' AS TIMESTAMP)", col::kBirth, dateValues,
       [&](std::size_t i) { return dateMs(i) < noonMs; }},
      {"Birth <= CAST('2008-03-01 12:00' AS TIMESTAMP)", col::kBirth, dateValues,
       [&](std::size_t i) { return dateMs(i) <= noonMs; }},
      {"Birth > CAST('2008-03-01 12:00' AS TIMESTAMP)", col::kBirth, dateValues,
       [&](std::size_t i) { return dateMs(i) > noonMs; }},
      {"Birth >= CAST('2008-03-01 12:00' AS TIMESTAMP)", col::kBirth, dateValues,
       [&](std::size_t i) { return dateMs(i) >= noonMs; }},
      {"Birth = CAST('2008-03-01 12:00' AS TIMESTAMP)", col::kBirth, dateValues, [&](std::size_t) { return false; }},
      {"Birth = CAST('2008-03-01' AS TIMESTAMP)", col::kBirth, dateValues,
       [&](std::size_t i) { return dateMs(i) == midnightMs; }},
      {"Birth > CAST('2008-03-01' AS TIMESTAMP)", col::kBirth, dateValues,
       [&](std::size_t i) { return dateMs(i) > midnightMs; }},
  };
  for (const auto& c : cases) {
    TExpTokenPtr root = Verified(c.Text);
    ASSERT_TRUE(root);
    TExpTokenPtr prepared = Prepared(*root);
    for (std::size_t i = 0; i < c.Values.size(); ++i) {
      TTestRecord record;
      record.Set(c.Field, c.Values[i]);
      EXPECT_EQ(Holds(*prepared, record), c.Truth(i)) << c.Text << ", value #" << i << " (prepared)";
      EXPECT_EQ(Holds(*root, record), c.Truth(i)) << c.Text << ", value #" << i << " (unprepared)";
    }
  }
}

TEST(FilterPreparation, ExactConstantsTakeTheColumnsTypeAndBoundsAreAdjusted) {
  struct TCase {
    std::string Text;
    std::uint8_t ConstantType;
    std::string Operator;
  };
  const TCase cases[] = {
      {"Age < 2.5", dtInteger, "<="},    {"Age > 2.5", dtInteger, ">="},  {"Age = 2.0", dtInteger, "="},
      {"Age = 2.5", dtFloat, "="},       {"Small = 65537", dtInteger, "="}, {"Small = 7", dtSmallInt, "="},
      {"W > -1", dtInteger, ">"},        {"Big = 5", dtLargeInt, "="},    {"Ratio = 5", dtFloat, "="},
      {"Amount = 5", dtBCD, "="},        {"Amount = 5.125", dtFloat, "="}, {"Amount < 5.25", dtBCD, "<"},
      {"Stamp > CAST('2008-03-01' AS DATE)", dtTimeStamp, ">"},
      {"Birth < CAST('2008-03-01 12:00' AS TIMESTAMP)", dtDate, "<="},
      {"Birth = CAST('2008-03-01 12:00' AS TIMESTAMP)", dtTimeStamp, "="},
  };
  auto spelling = [](TExpOperator op) {
    switch (op) {
      case eoEQ: return "=";
      case eoNE: return "<>";
      case eoLT: return "<";
      case eoGT: return ">";
      case eoLE: return "<=";
      default: return ">=";
    }
  };
  for (const auto& c : cases) {
    TExpTokenPtr root = Verified(c.Text);
    ASSERT_TRUE(root);
    TExpTokenPtr before = CopyExpressionTokens(root.get());
    TExpTokenPtr prepared = Prepared(*root);
    ASSERT_TRUE(prepared->Right) << c.Text;
    EXPECT_EQ(prepared->Right->NodeClass, enCONST) << c.Text;
    EXPECT_EQ(prepared->Right->DataType, c.ConstantType) << c.Text;
    EXPECT_EQ(spelling(prepared->Operator), c.Operator) << c.Text;
    // The original tree is left as it was.
    EXPECT_TRUE(CompareExpressionTokens(root.get(), before.get())) << c.Text;
  }
}

TEST(FilterPreparation, ConstantConversionRefusesNarrowingThatDoesNotFit) {
  TExpTokenPtr column = Verified("Small = 1");
  ASSERT_TRUE(column);
  const TExpToken& small = *column->Left;
  TExpTokenPtr value = GetNewExpTokenInstance();
  value->NodeClass = enCONST;
  value->Text = "65537";
  value->DataType = dtInteger;
  const std::int32_t big = 65537;
  value->SetDataSize(4);
  std::memcpy(value->Value.data(), &big, 4);
  TExpTokenPtr destination = GetNewExpTokenInstance();
  try {
    ConvertConstant(*value, value->Value.data(), small, *destination);
    ADD_FAILURE() << "65537 converted into a small integer";
  } catch (const ETarnEngineError& error) {
    EXPECT_EQ(error.ErrorCode(), TARN_SQLPARSE);
  }
  const std::int32_t fits = -300;
  std::memcpy(value->Value.data(), &fits, 4);
  ASSERT_TRUE(ConvertConstant(*value, value->Value.data(), small, *destination));
  EXPECT_EQ(destination->DataType, dtSmallInt);
  EXPECT_EQ(ValueAs<std::int16_t>(*destination), -300);
}

TEST(FilterPreparation, TrailingStarAndCaseInsensitiveBecomeCompareNodes) {
  const std::string names[] = {"Smith", "Sm", "Sm*", "smith", "Jones", ""};
  struct TCase {
    std::string Text;
    bool NoPartial, CaseInsensitive;
    std::set<std::string> Expected;
  };
  const TCase cases[] = {
      {"Name = 'Sm*'", false, false, {"Smith", "Sm", "Sm*"}},
      {"Name = 'Sm*'", true, false, {"Sm*"}},
      {"Name = 'Sm*'", false, true, {"Smith", "Sm", "Sm*", "smith"}},
      {"Name <> 'Sm*'", false, false, {"smith", "Jones", ""}},
      {"Name = 'SMITH'", false, true, {"Smith", "smith"}},
      {"Name = 'Smith'", false, false, {"Smith"}},
      {"Name = ''", false, false, {""}},
      {"Name LIKE 'Sm%'", false, false, {"Smith", "Sm", "Sm*"}},
      {"Name NOT LIKE 'Sm%'", false, false, {"smith", "Jones", ""}},
      {"Name LIKE 'S%h'", false, false, {"Smith"}},
      {"Name LIKE '%'", false, false, {"Smith", "Sm", "Sm*", "smith", "Jones"}},
  };
  for (const auto& c : cases) {
    TExpTokenPtr root = Verified(c.Text);
    ASSERT_TRUE(root);
    TExpTokenPtr prepared = Prepared(*root, c.NoPartial, c.CaseInsensitive);
    for (const auto& name : names) {
      TTestRecord record;
      if (!name.empty()) record.Set(col::kName, TextBytes(name));
      EXPECT_EQ(Holds(*prepared, record), c.Expected.count(name) == 1)
          << c.Text << " on '" << name << "' nopartial " << c.NoPartial << " ci " << c.CaseInsensitive;
    }
  }
  // The shapes an index can serve.
  TExpTokenPtr star = Prepared(*Verified("Name = 'Sm*'"));
  EXPECT_EQ(star->NodeClass, enCOMPARE);
  EXPECT_EQ(star->PartialLength, 2);
  EXPECT_EQ(star->Right->StringValue(), "Sm");
  TExpTokenPtr like = Prepared(*Verified("Name NOT LIKE 'Sm%'"));
  EXPECT_EQ(like->NodeClass, enCOMPARE);
  EXPECT_EQ(like->Operator, eoNE);
  EXPECT_EQ(like->PartialLength, 2);
  EXPECT_FALSE(like->CaseInsensitive);
  EXPECT_EQ(like->Right->StringValue(), "Sm");
  EXPECT_EQ(Prepared(*Verified("Name LIKE 'S%h'"))->NodeClass, enEXTBINARY);
  EXPECT_EQ(Prepared(*Verified("Name LIKE 'S_%'"))->NodeClass, enEXTBINARY);
}

TEST(FilterPreparation, ConstantSubtreesAreComputedOnce) {
  TExpTokenPtr root = Verified("Age + 1 > 2 * 3 AND SUBSTRING(Name FROM 1 + 1 FOR 2) = UPPER('ab')");
  ASSERT_TRUE(root);
  TExpTokenPtr prepared = Prepared(*root);
  // AND's right side: SUBSTRING(...) = 'AB' with FROM folded to 2.
  const TExpToken& compare = *prepared->Right;
  EXPECT_EQ(compare.Right->NodeClass, enCONST);
  EXPECT_EQ(compare.Right->StringValue(), "AB");
  const TExpToken& substring = *compare.Left;
  EXPECT_EQ(substring.Arguments[1]->NodeClass, enCONST);
  EXPECT_EQ(ValueAs<std::int32_t>(*substring.Arguments[1]), 2);
  EXPECT_EQ(prepared->Left->Right->NodeClass, enCONST);
  TTestRecord record;
  record.Set(col::kAge, Bytes<std::int32_t>(6)).Set(col::kName, TextBytes("xABy"));
  EXPECT_TRUE(Holds(*prepared, record));
  record.Set(col::kAge, Bytes<std::int32_t>(5));
  EXPECT_FALSE(Holds(*prepared, record));
}

// A sub-select standing in for the SQL layer: its single column's values.
class TValuesSubQuery : public TExpSubQuery {
 public:
  explicit TValuesSubQuery(std::vector<std::int32_t> values, bool withNull = false)
      : values_(std::move(values)), withNull_(withNull) {}
  int SubSelectColumnCount() const override { return 1; }
  bool TypeSubSelectColumn(TExpToken& node) override {
    node.DataType = dtInteger;
    node.DataSize = 4;
    return true;
  }
  bool SubSelectContains(const TExpToken& value) override {
    ++calls;
    TExpTokenPtr row = GetNewExpTokenInstance();
    row->DataType = dtInteger;
    row->SetDataSize(4);
    if (withNull_) {
      row->IsNull = true;
      if (EvaluateComparison(eoEQ, value, *row, 0, 0)) return true;
      row->IsNull = false;
    }
    for (const std::int32_t v : values_) {
      std::memcpy(row->Value.data(), &v, 4);
      if (EvaluateComparison(eoEQ, value, *row, 0, 0)) return true;
    }
    return false;
  }
  int calls = 0;

 private:
  std::vector<std::int32_t> values_;
  bool withNull_;
};

TExpTokenPtr SubSelectTree(TExpSubQuery& query, bool negated) {
  TExpTokenPtr root = Verified(negated ? "Age NOT IN (0)" : "Age IN (0)");
  root->Operator = negated ? eoNOTSUBIN : eoSUBIN;
  TExpTokenPtr tuple = GetNewExpTokenInstance();
  tuple->NodeClass = enTUPLE;
  tuple->SubQuery = &query;
  query.TypeSubSelectColumn(*tuple);
  root->SetArgumentExpToken(1, std::move(tuple));
  return root;
}

TEST(FilterPreparation, InWithASubSelectAsksTheQuery) {
  TValuesSubQuery query({2, 3, 5});
  TExpTokenPtr in = SubSelectTree(query, false);
  TExpTokenPtr notIn = SubSelectTree(query, true);
  TExpTokenPtr prepared = Prepared(*in);
  for (const std::int32_t age : {1, 2, 3, 4, 5}) {
    TTestRecord record;
    record.Set(col::kAge, Bytes(age));
    const bool member = age == 2 || age == 3 || age == 5;
    EXPECT_EQ(Holds(*in, record), member) << age;
    EXPECT_EQ(Holds(*prepared, record), member) << age;
    EXPECT_EQ(Holds(*notIn, record), !member) << age;
  }
  EXPECT_EQ(query.calls, 15);
  // A NULL value is in a sub-select that has a NULL row (NULL = NULL).
  TValuesSubQuery withNull({7}, true);
  TExpTokenPtr nullIn = SubSelectTree(withNull, false);
  EXPECT_TRUE(Holds(*nullIn, TTestRecord{}));
  EXPECT_FALSE(Holds(*in, TTestRecord{}));
}

}  // namespace
}  // namespace tarn
