// Type checking and typing of trees, the verification messages, the
// constant/column rules and the boolean transformation.
#include <gtest/gtest.h>

#include <cstring>

#include "expression_test_support.h"
#include "expressions/ansi_text_forms.h"
#include "expressions/exp_tree.h"
#include "expressions/expression_types.h"

namespace tarn {
namespace {

using testing_support::Render;
using testing_support::TTestTable;
using testing_support::VerifyText;

TEST(ExpressionVerifier, ResultTypesAndSizes) {
  struct TCase {
    std::string Text;
    std::uint8_t DataType;
    std::uint8_t SubType;
    std::int32_t DataSize;
    std::uint8_t Decimals;
  };
  const TCase cases[] = {
      {"Name || City", dtString, 0, 51, 0},
      {"Name || Notes", dtBlob, dstMemo, 28, 0},
      {"Age + Small", dtInteger, 0, 4, 0},
      {"Small + W", dtInteger, 0, 4, 0},
      {"Age + Big", dtLargeInt, 0, 8, 0},
      {"Age + Ratio", dtFloat, 0, 8, 0},
      {"Age + Amount", dtBCD, 0, 34, 2},
      {"Amount * Ratio", dtFloat, 0, 8, 0},
      {"Age / Small", dtFloat, 0, 8, 0},
      {"Age / Amount", dtBCD, 0, 34, 2},
      {"Birth + 1", dtDate, 0, 4, 0},
      {"1 + Birth", dtDate, 0, 4, 0},
      {"Birth - Birth", dtInteger, 0, 4, 0},
      {"Start - Start", dtInteger, 0, 4, 0},
      {"Start + Age", dtTime, 0, 4, 0},
      {"Stamp - Stamp", dtFloat, 0, 8, 0},
      {"Stamp - Birth", dtInteger, 0, 4, 0},
      {"Stamp + 1", dtTimeStamp, 0, 8, 0},
      {"Price * 2", dtFloat, dstMoney, 8, 0},
      {"2 * Price", dtFloat, dstMoney, 8, 0},
      {"2 - Price", dtFloat, 0, 8, 0},
      {"-Age", dtInteger, 0, 4, 0},
      {"+W", dtWord, 0, 2, 0},
      {"UPPER(Name)", dtString, 0, 21, 0},
      {"LOWER(Notes)", dtBlob, dstMemo, 8, 0},
      {"LENGTH(Name)", dtInteger, 0, 4, 0},
      {"SUBSTRING(Notes FROM 1 FOR 2)", dtBlob, dstMemo, 8, 0},
      {"REPLACE('a' WITH 'b' IN City)", dtString, 0, 31, 0},
      {"POS('a' IN Name)", dtInteger, 0, 4, 0},
      {"TRIM(BOTH ' ' FROM Name)", dtString, 0, 21, 0},
      {"EXTRACT(YEAR FROM Stamp)", dtInteger, 0, 4, 0},
      {"ABS(Amount)", dtBCD, 0, 34, 2},
      {"ROUND(Ratio TO 2)", dtFloat, 0, 8, 0},
      {"IF(Age > 1 THEN Name ELSE City)", dtString, 0, 31, 0},
      {"IF(Age > 1 THEN NULL ELSE Age)", dtInteger, 0, 4, 0},
      {"CAST(Age AS CHAR(250))", dtString, 0, 251, 0},
      {"CAST(Age AS DECIMAL(10,2))", dtBCD, 0, 34, 2},
      {"CAST(Age AS FLOAT(10,3))", dtFloat, 0, 8, 3},
      {"CAST(Name AS BLOB(1,1))", dtBlob, dstMemo, 21, 0},
      {"CAST(Name AS BYTES(4))", dtBytes, 0, 4, 0},
      {"CAST(Name AS BYTES)", dtBytes, 0, 21, 0},
      {"CAST(Age AS LARGEINT)", dtLargeInt, 0, 8, 0},
      {"CAST(Age AS WORD)", dtWord, 0, 2, 0},
      {"TEXTOCCURS('x' IN Notes)", dtInteger, 0, 4, 0},
      {"Name LIKE 'a%'", dtBoolean, 0, 2, 0},
      {"Age IN (1, 2)", dtBoolean, 0, 2, 0},
  };
  for (const auto& c : cases) {
    auto outcome = VerifyText(c.Text);
    ASSERT_TRUE(outcome.Root) << c.Text << ": " << outcome.Text;
    EXPECT_EQ(outcome.Root->DataType, c.DataType) << c.Text;
    EXPECT_EQ(outcome.Root->SubType, c.SubType) << c.Text;
    EXPECT_EQ(outcome.Root->DataSize, c.DataSize) << c.Text;
    EXPECT_EQ(outcome.Root->Decimals, c.Decimals) << c.Text;
  }
}

TEST(ExpressionVerifier, Messages) {
  struct TCase {
    std::string Text;
    std::string Message;
  };
  const TCase cases[] = {
      {"Nobody = 1", "Invalid column name 'Nobody' or table correlation name '' specified in filter expression"},
      {"other.Name = 'x'", "Invalid column name 'Name' or table correlation name 'other' specified in filter expression"},
      {"-Name = 'x'", "Type mismatch between '-' operator and 'Name' in filter expression"},
      {"NOT Age", "Type mismatch between 'NOT' operator and 'Age' in filter expression"},
      {"Age = Name", "Type mismatch between column 'Age' and column 'Name' in filter expression"},
      {"Age + 1 = 'x'", "Type mismatch between expression '+' and constant 'x' in filter expression"},
      {"UPPER(Name) = 1", "Type mismatch between function 'UPPER' and constant '1' in filter expression"},
      {"NULL = 1", "Type mismatch between constant 'NULL' and constant '1' in filter expression"},
      {"Age > NULL", "Type mismatch between column 'Age' and constant 'NULL' in filter expression"},
      {"Photo = Photo", "Type mismatch between column 'Photo' and column 'Photo' in filter expression"},
      {"Birth = '2008-02-30'", "Date, time, or timestamp expression expected, instead found '2008-02-30' in filter expression"},
      {"Start = 'noon'", "Date, time, or timestamp expression expected, instead found 'noon' in filter expression"},
      {"Birth IN ('2008-01-01', 'x')", "Date, time, or timestamp expression expected, instead found 'x' in filter expression"},
      {"UPPER(Age) = 'A'", "Type mismatch between UPPER function and function argument in filter expression"},
      {"LOWER(Age) = 'A'", "Type mismatch between LOWER function and function argument in filter expression"},
      {"LENGTH(Age) = 1", "Type mismatch between LENGTH function and function argument in filter expression"},
      {"SUBSTRING(Age FROM 1) = 'a'", "Expression argument of SUBSTRING function must be a string or memo in filter expression"},
      {"SUBSTRING(Name FROM Small) = 'a'", "FROM argument of SUBSTRING function must be an integer value in filter expression"},
      {"SUBSTRING(Name FROM 1 FOR Big) = 'a'", "FOR argument of SUBSTRING function must be an integer value in filter expression"},
      {"REPLACE('a' WITH 'b' IN Age) = 'a'", "IN argument of REPLACE function must be a string or memo in filter expression"},
      {"REPLACE(1 WITH 'b' IN Name) = 'a'", "Type mismatch between REPLACE function and search string argument in filter expression"},
      {"POS('a' IN Age) = 1", "Type mismatch between POS function and IN argument in filter expression"},
      {"POS(1 IN Name) = 1", "Type mismatch between POS function and search string argument in filter expression"},
      {"OCCURS('a' IN Age) = 1", "Type mismatch between OCCURS function and IN argument in filter expression"},
      {"OCCURS(1 IN Name) = 1", "Type mismatch between OCCURS function and search string argument in filter expression"},
      {"TRIM(BOTH ' ' FROM Age) = 'a'", "FROM argument of TRIM function must be a string or memo in filter expression"},
      {"TRIM(BOTH 'ab' FROM Name) = 'a'", "Trim character argument of TRIM function must be a single character constant in filter expression"},
      {"EXTRACT(YEAR FROM Age) = 1", "FROM argument of EXTRACT function must be a date, time, or timestamp in filter expression"},
      {"IF(Age THEN 1 ELSE 2) = 1", "First expression argument of IF function must be a boolean type in filter expression"},
      {"IF(Active THEN NULL ELSE NULL) = 1", "At least one of the second and third IF expression arguments in filter expression must be a non-NULL value"},
      {"IF(Active THEN 1 ELSE 'a') = 1", "Type mismatch between second and third IF expression arguments in filter expression"},
      {"ABS(Name) = 1", "Expression argument of ABS function must be an integer, floating-point, or BCD type in filter expression"},
      {"ROUND(Age) = 1", "Expression argument of ROUND function must be a floating-point or BCD type in filter expression"},
      {"ROUND(Ratio TO Age) = 1", "Decimal places argument of ROUND function must be an integer constant in filter expression"},
      {"ROUND(Ratio TO 33) = 1", "Decimal places argument of ROUND function must be an integer constant between 0 and 32 in filter expression"},
      {"TEXTSEARCH(1 IN Notes)", "Type mismatch between TEXTSEARCH function and search text function argument in filter expression"},
      {"TEXTSEARCH(Name IN Notes)", "TEXTSEARCH search text function argument must be a string constant in filter expression"},
      {"TEXTSEARCH('x' IN 'y')", "TEXTSEARCH function column argument must be a valid column name in filter expression"},
      {"TEXTSEARCH('x' IN Age)", "Type mismatch between TEXTSEARCH function and column function argument in filter expression"},
      {"TEXTOCCURS(1 IN Notes) = 1", "Type mismatch between TEXTOCCURS function and search text function argument in filter expression"},
      {"TEXTOCCURS('x' IN Age) = 1", "Type mismatch between TEXTOCCURS function and column function argument in filter expression"},
      {"Age LIKE 'a'", "Type mismatch between LIKE operator and expression 'Age' in filter expression"},
      {"Name NOT LIKE 1", "Type mismatch between NOT LIKE operator and expression '1' in filter expression"},
      {"Age IN (1, 'x')", "Type mismatch between IN operator and expression 'x' in filter expression"},
      {"Age NOT IN ('x')", "Type mismatch between NOT IN operator and expression 'x' in filter expression"},
      {"Age BETWEEN 1 AND 'x'", "Type mismatch between BETWEEN operator and expression 'x' in filter expression"},
      {"Age NOT BETWEEN 'x' AND 1", "Type mismatch between NOT BETWEEN operator and expression 'x' in filter expression"},
      {"CAST(Age AS CHAR(251)) = 'a'", "Length argument must be an integer greater than 0 and less than or equal to 250 in filter expression"},
      {"CAST(Age AS CHAR(0)) = 'a'", "Length argument must be an integer greater than 0 and less than or equal to 250 in filter expression"},
      {"CAST(Age AS CHAR('x')) = 'a'", "Length argument must be an integer in filter expression"},
      {"CAST(Age AS BYTES(300)) = 'a'", "Length argument must be an integer greater than 0 and less than or equal to 250 in filter expression"},
      {"CAST(Age AS DECIMAL(10,5)) = 1", "Scale argument must be an integer less than or equal to 4 for the BCD data type filter expression"},
      {"CAST(Age AS FLOAT(10,'x')) = 1", "Scale argument must be an integer in filter expression"},
      {"CAST(Name AS BLOB('x',1)) = 'a'", "First BLOB type argument must be an integer in filter expression"},
      {"CAST(Name AS BLOB(1,'x')) = 'a'", "BLOB type argument must be an integer in filter expression"},
      {"CAST(Name AS BLOB(1,4)) = 'a'", "BLOB type argument must be an integer with a value of 1,2,3,5, or 7 in filter expression"},
  };
  for (const auto& c : cases) {
    auto outcome = VerifyText(c.Text);
    EXPECT_EQ(outcome.Code, TARN_INVALIDFILTER) << c.Text;
    EXPECT_EQ(outcome.Text, c.Message) << c.Text;
  }
}

TEST(ExpressionVerifier, AggregateMessagesAndTypes) {
  testing_support::TTestTable table;
  auto check = [&](std::string_view text) {
    auto outcome = testing_support::ParseText(
        text, {.Modifiers = pmAllowAggregates | pmAllowAllFields, .Sql = true, .Verify = true, .Table = &table});
    return outcome;
  };
  EXPECT_EQ(check("SUM(Name)").Text,
            "SUM aggregate function must contain a numeric, date, time, or timestamp expression in SELECT SQL statement");
  EXPECT_EQ(check("min(Active)").Text,
            "min aggregate function must contain a numeric, date, time, or timestamp expression in SELECT SQL statement");
  auto sum = check("SUM(Amount)");
  ASSERT_TRUE(sum.Root);
  EXPECT_EQ(sum.Root->DataType, dtBCD);
  EXPECT_EQ(sum.Root->Decimals, 2);
  EXPECT_TRUE(check("COUNT(*)").Root);
  EXPECT_TRUE(check("COUNT(Name)").Root);
  EXPECT_TRUE(ContainsAggregates(check("1 + MAX(Age)").Root.get()));
  EXPECT_FALSE(ContainsAggregates(check("1 + Age").Root.get()));
  EXPECT_EQ(GetOperatorForAggregate("runsum"), eoRUNSUM);
  EXPECT_EQ(GetOperatorForAggregate("Upper"), eoNOTDEFINED);
}

TEST(ExpressionVerifier, BooleanTransformation) {
  struct TCase {
    std::string Text;
    std::string Tree;
  };
  const TCase cases[] = {
      {"Active", "(= [Active] True)"},
      {"Active AND Age > 3", "(AND (= [Active] True) (> [Age] 3))"},
      {"NOT Active OR Active", "(OR (NOT (= [Active] True)) (= [Active] True))"},
      {"Active = FALSE", "(= [Active] FALSE)"},
      {"CAST(Age AS BOOLEAN)", "(= CAST([Age]) True)"},
      {"IF(Active THEN TRUE ELSE FALSE)", "(= IF([Active], TRUE, FALSE) True)"},
      {"TEXTSEARCH('x' IN Notes) AND Active", "(AND (= TEXTSEARCH('x', [Notes]) True) (= [Active] True))"},
  };
  for (const auto& c : cases) {
    auto outcome = VerifyText(c.Text);
    ASSERT_TRUE(outcome.Root) << c.Text << ": " << outcome.Text;
    EXPECT_EQ(Render(outcome.Root.get()), c.Tree) << c.Text;
  }
  // Parents are consistent after the rewrite.
  auto outcome = VerifyText("Active AND Age > 3");
  const TExpToken& eq = *outcome.Root->Left;
  EXPECT_EQ(eq.Parent, outcome.Root.get());
  EXPECT_EQ(eq.Left->Parent, &eq);
  EXPECT_EQ(eq.Right->Parent, &eq);
  EXPECT_EQ(eq.Left->NodeClass, enFIELD);
  EXPECT_EQ(eq.Left->FieldNumber, 4);
}

TEST(ExpressionVerifier, StringConstantsNamingColumns) {
  TTestTable table;
  // 'user' names the column user; 'NAME2' would too, but the left side
  // already holds a column, so the right side stays a literal.
  auto outcome = VerifyText("Upper('customer'.'user') = 'NAME2'", &table);
  ASSERT_TRUE(outcome.Root) << outcome.Text;
  EXPECT_EQ(outcome.Root->Right->NodeClass, enCONST);
  EXPECT_EQ(outcome.Root->Right->StringValue(), "NAME2");
  EXPECT_EQ(outcome.Root->Left->Arguments[0]->NodeClass, enFIELD);

  auto literalOnly = VerifyText("'user' = 'abc'", &table);
  ASSERT_TRUE(literalOnly.Root);
  EXPECT_EQ(literalOnly.Root->Left->NodeClass, enFIELD);
  EXPECT_TRUE(literalOnly.Root->Left->WasConstant);
  EXPECT_EQ(literalOnly.Root->Right->NodeClass, enCONST);

  auto both = VerifyText("'user' = 'NAME2'", &table);
  ASSERT_TRUE(both.Root);
  EXPECT_EQ(both.Root->Left->NodeClass, enFIELD);
  EXPECT_EQ(both.Root->Right->NodeClass, enCONST);
  EXPECT_EQ(both.Root->Right->DataType, dtString);
}

TEST(ExpressionVerifier, DateConstantsAreConverted) {
  auto outcome = VerifyText("Birth > '2008-02-03'");
  ASSERT_TRUE(outcome.Root) << outcome.Text;
  const TExpToken& constant = *outcome.Root->Right;
  EXPECT_EQ(constant.DataType, dtDate);
  std::int32_t day = 0;
  std::memcpy(&day, constant.Value.data(), 4);
  EXPECT_EQ(AnsiDateToStr(day), "2008-02-03");

  auto time = VerifyText("'1:05 pm' = Start");
  ASSERT_TRUE(time.Root) << time.Text;
  std::int32_t ms = 0;
  std::memcpy(&ms, time.Root->Left->Value.data(), 4);
  EXPECT_EQ(ms, 13 * 3600000 + 5 * 60000);

  auto between = VerifyText("Stamp BETWEEN '2008-01-01' AND '2008-01-02 10:00'");
  ASSERT_TRUE(between.Root) << between.Text;
  EXPECT_EQ(between.Root->Arguments[2]->DataType, dtTimeStamp);
}

TEST(ExpressionVerifier, TypeTablesAsData) {
  EXPECT_TRUE(CheckBinaryTypes(eoEQ, dtDate, 0, 0, dtTimeStamp));
  EXPECT_TRUE(CheckBinaryTypes(eoEQ, dtBlob, dstMemo, 0, dtString));
  EXPECT_FALSE(CheckBinaryTypes(eoEQ, dtBlob, dstGraphic, 0, dtString));
  EXPECT_TRUE(CheckBinaryTypes(eoEQ, dtBlob, dstGraphic, 0, 0));
  EXPECT_FALSE(CheckBinaryTypes(eoLT, dtBoolean, 0, 0, dtBoolean));
  EXPECT_TRUE(CheckBinaryTypes(eoSUB, dtTimeStamp, 0, 0, dtTime));
  EXPECT_FALSE(CheckBinaryTypes(eoADD, dtDate, 0, 0, dtDate));
  EXPECT_FALSE(CheckBinaryTypes(eoMUL, dtDate, 0, 0, dtInteger));
  EXPECT_TRUE(CheckCastTypes(dtDate, dtTimeStamp));
  EXPECT_FALSE(CheckCastTypes(dtBoolean, dtFloat));
  EXPECT_TRUE(CheckCastTypes(dtString, dtBlob));
  EXPECT_FALSE(CheckCastTypes(dtTime, dtDate));
  EXPECT_TRUE(CheckUnaryTypes(eoPLUS, dtWord));
  EXPECT_FALSE(CheckUnaryTypes(eoMINUS, dtWord));
}

TEST(ExpressionVerifier, TreePredicates) {
  auto ors = VerifyText("Age = 1 OR Age = 2");
  EXPECT_TRUE(ContainsOrs(ors.Root.get()));
  auto notAnd = VerifyText("NOT (Age = 1 AND Age = 2)");
  EXPECT_TRUE(ContainsOrs(notAnd.Root.get()));
  auto notOr = VerifyText("NOT (Age = 1 OR Age = 2)");
  EXPECT_FALSE(ContainsOrs(notOr.Root.get()));
  EXPECT_TRUE(ContainsNots(notOr.Root.get()));
  EXPECT_TRUE(ContainsNots(notOr.Root->Left->Left.get()));
  EXPECT_FALSE(ContainsNots(ors.Root->Left.get()));
  EXPECT_TRUE(ContainsFields(ors.Root.get()));
  EXPECT_FALSE(ContainsFields(VerifyText("1 = 2").Root.get()));
  auto upper = VerifyText("UPPER(Name) = 'A'");
  EXPECT_TRUE(IsUpperField(upper.Root->Left.get()));
  EXPECT_EQ(GetFieldToken(upper.Root.get())->FieldName, "Name");
  EXPECT_TRUE(IsTextSearchFunc(VerifyText("TEXTSEARCH('x' IN Notes) = TRUE").Root->Left.get()));
}

}  // namespace
}  // namespace tarn
