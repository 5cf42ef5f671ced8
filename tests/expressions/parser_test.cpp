// Tree shapes, precedence and association, literal typing and the exact
// parse messages in filter and SQL wording.
#include <gtest/gtest.h>

#include <cstring>

#include "expression_test_support.h"
#include "expressions/exp_token_stack.h"
#include "expressions/exp_tree.h"

namespace tarn {
namespace {

using testing_support::ParseText;
using testing_support::Render;

constexpr TParseModifiers kAll =
    pmAllowAggregates | pmAllowAllFields | pmAllowExtPredicates | pmAllowParameters | pmAllowSubSelects;

TEST(ExpressionParser, PrecedenceAndAssociation) {
  struct TCase {
    std::string Text;
    std::string Tree;
  };
  const TCase cases[] = {
      {"a OR b AND c", "(OR [a] (AND [b] [c]))"},
      {"a AND b OR c", "(OR (AND [a] [b]) [c])"},
      {"NOT a = b", "(NOT (= [a] [b]))"},
      {"-2 * 3", "(* (- 2) 3)"},
      {"a - b - c", "(- (- [a] [b]) [c])"},
      {"a / b * c", "(* (/ [a] [b]) [c])"},
      {"a + b * c", "(+ [a] (* [b] [c]))"},
      {"'x' || 'y' | | 'z'", "(|| (|| 'x' 'y') 'z')"},
      {"(a + b) * c", "(* (+ [a] [b]) [c])"},
      {"a<>b", "(< > [a] [b])"},
      {"a < > b", "(< > [a] [b])"},
      {"a<  >b", "(< > [a] [b])"},
      {"a <= b", "(< = [a] [b])"},
      {"a >= b", "(> = [a] [b])"},
      {"a < b", "(< [a] [b])"},
      {"a > b", "(> [a] [b])"},
      {"a IS NULL", "(IS NULL [a] NULL)"},
      {"a is not null", "(IS NOT NULL [a] NULL)"},
      {"a LIKE 'x%'", "LIKE([a], 'x%')"},
      {"a NOT LIKE 'x%'", "NOT LIKE([a], 'x%')"},
      {"a BETWEEN 1 AND 2 + 3", "BETWEEN([a], 1, (+ 2 3))"},
      {"a NOT BETWEEN 1 AND 2", "NOT BETWEEN([a], 1, 2)"},
      {"a IN (1, 2, 3)", "IN([a], 1, 2, 3)"},
      {"a NOT IN ('x')", "NOT IN([a], 'x')"},
      {"t.a = \"c:\\data\\user.dat\".b", "(= [t.a] [user.b])"},
      {"'user'.'user' = 'NAME'", "(= [user.user] 'NAME')"},
      {"[Order Date] = [t].[x y]", "(= [Order Date] [t.x y])"},
      {"UPPER(a) = LOWER(b)", "(= UPPER([a]) LOWER([b]))"},
      {"LENGTH(a || b)", "LENGTH((|| [a] [b]))"},
      {"SUBSTRING(a FROM 2 FOR 3)", "SUBSTRING([a], 2, 3)"},
      {"SUBSTRING(a FROM 2)", "SUBSTRING([a], 2)"},
      {"REPLACE('a' WITH 'b' IN c)", "REPLACE('a', 'b', [c])"},
      {"POS('a' IN c) + OCCURS('a' IN c)", "(+ POS('a', [c]) OCCURS('a', [c]))"},
      {"TRIM(LEADING ' ' FROM a)", "TRIM(' ', [a])"},
      {"EXTRACT(DAYOFWEEK FROM d)", "EXTRACT([d])"},
      {"ABS(-a)", "ABS((- [a]))"},
      {"ROUND(a TO 2)", "ROUND([a], 2)"},
      {"IF(a > 1 OR b THEN 1 ELSE 2)", "IF((OR (> [a] 1) [b]), 1, 2)"},
      {"TEXTSEARCH('x' IN Notes)", "TEXTSEARCH('x', [Notes])"},
      {"TEXTOCCURS('x' IN Notes)", "TEXTOCCURS('x', [Notes])"},
      {"CAST(a AS CHAR(10))", "CAST([a], 10)"},
      {"CAST(a AS DECIMAL(10,2))", "CAST([a], 10, 2)"},
      {"TRUE AND NOT FALSE", "(AND TRUE (NOT FALSE))"},
      {"a = /* c */ 1 /* d */", "(= [a] 1)"},
      {"\xD0\xD5\xC3\xFB = 'x'", "(= [\xD0\xD5\xC3\xFB] 'x')"},
  };
  for (const auto& c : cases) {
    auto outcome = ParseText(c.Text);
    ASSERT_TRUE(outcome.Root) << c.Text << ": " << outcome.Text;
    EXPECT_EQ(Render(outcome.Root.get()), c.Tree) << c.Text;
  }
}

TEST(ExpressionParser, SqlModifiersEnableMore) {
  struct TCase {
    std::string Text;
    std::string Tree;
  };
  const TCase cases[] = {
      {"COUNT(*)", "COUNT([*])"},
      {"SUM(a) + MAX(b)", "(+ SUM([a]) MAX([b]))"},
      {"t.*", "[t.*]"},
      {"a = ?", "(= [a] ?)"},
  };
  for (const auto& c : cases) {
    auto outcome = ParseText(c.Text, {.Modifiers = kAll, .Sql = true});
    ASSERT_TRUE(outcome.Root) << c.Text << ": " << outcome.Text;
    EXPECT_EQ(Render(outcome.Root.get()), c.Tree) << c.Text;
  }
}

TEST(ExpressionParser, OperatorsAndClasses) {
  auto outcome = ParseText("a IN (1) AND b NOT BETWEEN 1 AND 2 OR NOT c LIKE 'x'");
  ASSERT_TRUE(outcome.Root);
  const TExpToken& root = *outcome.Root;
  EXPECT_EQ(root.NodeClass, enBINARY);
  EXPECT_EQ(root.Operator, eoOR);
  EXPECT_EQ(root.Left->Left->Operator, eoIN);
  EXPECT_EQ(root.Left->Left->NodeClass, enEXTBINARY);
  EXPECT_EQ(root.Left->Right->Operator, eoNOTBETWEEN);
  EXPECT_EQ(root.Right->Operator, eoNOT);
  EXPECT_EQ(root.Right->Left->Operator, eoLIKE);
  EXPECT_EQ(root.DataType, dtBoolean);

  auto concat = ParseText("'a' || 'b'");
  EXPECT_EQ(concat.Root->Operator, eoADD);
  EXPECT_EQ(concat.Root->Text, "||");

  auto isNull = ParseText("a IS NOT NULL");
  EXPECT_EQ(isNull.Root->Operator, eoNE);
  EXPECT_TRUE(isNull.Root->Right->IsNull);
  EXPECT_EQ(isNull.Root->Right->DataType, 0);

  const std::pair<std::string, TExpOperator> extracts[] = {
      {"YEAR", eoEXTRACTYEAR},     {"MONTH", eoEXTRACTMONTH},         {"WEEK", eoEXTRACTWEEK},
      {"DAY", eoEXTRACTDAY},       {"DAYOFWEEK", eoEXTRACTDAYOFWEEK}, {"HOUR", eoEXTRACTHOUR},
      {"MINUTE", eoEXTRACTMINUTE}, {"second", eoEXTRACTSECOND}};
  for (const auto& [part, op] : extracts) {
    auto e = ParseText("EXTRACT(" + part + " FROM d)");
    ASSERT_TRUE(e.Root) << part;
    EXPECT_EQ(e.Root->Operator, op) << part;
    EXPECT_EQ(e.Root->DataType, dtInteger);
  }
  const std::pair<std::string, TExpOperator> trims[] = {
      {"LEADING", eoTRIMLEADING}, {"TRAILING", eoTRIMTRAILING}, {"BOTH", eoTRIMBOTH}};
  for (const auto& [kind, op] : trims) EXPECT_EQ(ParseText("TRIM(" + kind + " 'x' FROM a)").Root->Operator, op);
}

TEST(ExpressionParser, LiteralTyping) {
  struct TCase {
    std::string Text;
    std::uint8_t DataType;
    std::int32_t DataSize;
  };
  const TCase cases[] = {
      {"2147483647", dtInteger, 4},       {"2147483648", dtLargeInt, 8},
      {"9223372036854775807", dtLargeInt, 8}, {"9223372036854775808", dtFloat, 8},
      {"1.5", dtFloat, 8},                 {".5", dtFloat, 8},
      {"1e3", dtFloat, 8},                 {"'abc'", dtString, 4},
      {"#65", dtString, 2},                {"TRUE", dtBoolean, 2},
      {"NULL", 0, 0},                      {"CURRENT_DATE", dtDate, 4},
      {"CURRENT_TIME()", dtTime, 4},       {"CURRENT_TIMESTAMP", dtTimeStamp, 8},
  };
  for (const auto& c : cases) {
    auto outcome = ParseText(c.Text);
    ASSERT_TRUE(outcome.Root) << c.Text << ": " << outcome.Text;
    EXPECT_EQ(outcome.Root->NodeClass, enCONST) << c.Text;
    EXPECT_EQ(outcome.Root->DataType, c.DataType) << c.Text;
    EXPECT_EQ(outcome.Root->DataSize, c.DataSize) << c.Text;
  }
  auto large = ParseText("2147483648");
  std::int64_t v = 0;
  std::memcpy(&v, large.Root->Value.data(), 8);
  EXPECT_EQ(v, 2147483648LL);
  auto real = ParseText("2.5e1");
  double d = 0;
  std::memcpy(&d, real.Root->Value.data(), 8);
  EXPECT_EQ(d, 25.0);
  auto character = ParseText("#65");
  EXPECT_EQ(character.Root->StringValue(), "A");
  auto empty = ParseText("''");
  EXPECT_TRUE(empty.Root->IsNull);
  EXPECT_EQ(empty.Root->DataType, dtString);
  auto parameter = ParseText("?", {.Modifiers = pmAllowParameters});
  EXPECT_TRUE(parameter.Root->IsParameter);
}

struct TMessageCase {
  std::string Text;
  std::string Message;  // without the description
  TParseModifiers Modifiers = pmAllowExtPredicates;
};

// Every family of parse message, checked in both wordings: the filter code
// with the filter template and the SQL code with the SQL template.
const TMessageCase kMessageCases[] = {
    {"a = ", "Unknown or unexpected symbol '' found in "},
    {"a = )", "Unknown or unexpected symbol ')' found in "},
    {"a = b = c", "Unknown or unexpected symbol '=' found in "},
    {"a b", "Unknown or unexpected symbol 'b' found in "},
    {"- -a", "Unknown or unexpected symbol '-' found in "},
    {"a LIKE 'x'", "Extended predicate operators (LIKE, BETWEEN, IN, IS NULL) are not allowed in ", 0},
    {"a IS NULL", "Extended predicate operators (LIKE, BETWEEN, IN, IS NULL) are not allowed in ", 0},
    {"a NOT x", "Unknown or unexpected symbol 'x' in "},
    {"a IS 1", "Unknown or unexpected symbol '1' found in "},
    {"a IS NOT 1", "Unknown or unexpected symbol '1' found in "},
    {"a BETWEEN 1 OR 2", "Expected AND operator in BETWEEN operator, instead found 'OR' in "},
    {"a NOT BETWEEN 1 2", "Expected AND operator in NOT BETWEEN operator, instead found '2' in "},
    {"a IN 1", "Expected left parentheses for IN operator, instead found '1' in "},
    {"a NOT IN 1", "Expected left parentheses for NOT IN operator, instead found '1' in "},
    {"a IN (1, 2", "Expected right parentheses after IN operator, instead found '' in "},
    {"a NOT IN (1 2)", "Expected right parentheses after NOT IN operator, instead found '2' in "},
    {"a IN (SELECT b FROM t)", "Sub-select queries are not allowed in "},
    {"a | b", "Second concatenation symbol '|' expected after first concatentation symbol, instead found 'b' in "},
    {"(a + b", "Right parentheses expected, instead found '' in "},
    {"FOO(a)", "Unknown or unexpected function 'FOO' found in "},
    {"SUM(a)", "Aggregate functions are not allowed in "},
    {"t.1", "Unknown or unexpected symbol '.1' found in "},
    {"t.(", "Symbol or string expression expected after table correlation name separator '.', instead found '(' in "},
    {"t.*", "* (all columns) symbol is not allowed in "},
    {"*", "* (all columns) symbol is not allowed in "},
    {"#256", "Character constants (#) must be within the range of 0 to 255 in "},
    {"#", "Character constants (#) must be within the range of 0 to 255 in "},
    {"1.2.3", "Constant '1.2.3' is not a valid number  in "},
    {"1e999", "Constant '1e999' is not a valid number  in "},
    {"?", "Parameters are not allowed in "},
    {"CURRENT_DATE(1)", "Right parentheses expected after first CURRENT_DATE function parentheses, instead found '1' in "},
    {"CURRENT_TIME(", "Right parentheses expected after first CURRENT_TIME function parentheses, instead found '' in "},
    {"CURRENT_TIMESTAMP(x)",
     "Right parentheses expected after first CURRENT_TIMESTAMP function parentheses, instead found 'x' in "},
    {"LOWER a", "Left parentheses expectedafter LOWER keyword, instead found 'a' in "},
    {"LOWER(a", "Right parentheses expected after LOWER function argument, instead found '' in "},
    {"UPPER a", "Left parentheses expectedafter UPPER keyword, instead found 'a' in "},
    {"UPPER(a b)", "Right parentheses expected after UPPER function argument, instead found 'b' in "},
    {"LENGTH", "Left parentheses expectedafter LENGTH keyword, instead found '' in "},
    {"LENGTH(a,", "Right parentheses expected after LENGTH function argument, instead found ',' in "},
    {"SUBSTRING a", "Left parentheses expected after SUBSTRING keyword, instead found 'a' in "},
    {"SUBSTRING(a, 1)", "FROM keyword expected after first SUBSTRING function argument, instead found ',' in "},
    {"SUBSTRING(a FROM 1 TO 2)", "Right parentheses expected after SUBSTRING function arguments, instead found 'TO' in "},
    {"REPLACE a", "Left parentheses expected after REPLACE keyword, instead found 'a' in "},
    {"REPLACE(a IN b)", "WITH keyword expected after first REPLACE function argument, instead found 'IN' in "},
    {"REPLACE(a WITH b FROM c)", "IN keyword expected after second REPLACE function argument, instead found 'FROM' in "},
    {"REPLACE(a WITH b IN c", "Right parentheses expected after REPLACE function arguments, instead found '' in "},
    {"POS a", "Left parentheses expected after POS keyword, instead found 'a' in "},
    {"POS(a, b)", "IN keyword expected after first POS function argument, instead found ',' in "},
    {"POS(a IN b c)", "Right parentheses expected after POS function arguments, instead found 'c' in "},
    {"OCCURS a", "Left parentheses expected after OCCURS keyword, instead found 'a' in "},
    {"OCCURS(a, b)", "IN keyword expected after first OCCURS function argument, instead found ',' in "},
    {"OCCURS(a IN b c)", "Right parentheses expected after OCCURS function arguments, instead found 'c' in "},
    {"CAST a", "Left parentheses expected after CAST keyword, instead found 'a' in "},
    {"CAST(a TO INTEGER)", "AS keyword expected after first CAST function argument, instead found 'TO' in "},
    {"CAST(a AS INTEGER b)", "Right parentheses expected after CAST function arguments, instead found 'b' in "},
    {"CAST(a AS DECIMAL(10))", "Unknown or unexpected symbol ')' found in "},
    {"CAST(a AS DECIMAL(10;2))", "Comma expected after first DECIMAL argument, instead found ';' in "},
    {"CAST(a AS NUMERIC(10 2))", "Comma expected after first NUMERIC argument, instead found '2' in "},
    {"CAST(a AS FLOAT(10,2 3))", "Right parentheses expected after FLOAT data type arguments, instead found '3' in "},
    {"CAST(a AS CHAR 10)", "Left parentheses expected after CHARACTER or CHAR data type, instead found '10' in "},
    {"CAST(a AS CHARACTER(10 x))",
     "Right parentheses expected after CHARACTER or CHAR data type arguments, instead found 'x' in "},
    {"CAST(a AS VARCHAR)", "Left parentheses expected after VARCHAR data type, instead found ')' in "},
    {"CAST(a AS VARCHAR(10", "Right parentheses expected after VARCHAR data type arguments, instead found '' in "},
    {"CAST(a AS BLOB)", "Left parentheses expected after BLOB data type, instead found ')' in "},
    {"CAST(a AS BLOB(1))", "Comma expected after first BLOB argument, instead found ')' in "},
    {"CAST(a AS BLOB(1,2", "Right parentheses expected after BLOB data type arguments, instead found '' in "},
    {"CAST(a AS BYTES(4", "Right parentheses expected after BYTES data type arguments, instead found '' in "},
    {"CAST(a AS STRING)", "SQL data type keyword expected, instead found 'STRING' in "},
    {"TRIM a", "Left parentheses expected after TRIM keyword, instead found 'a' in "},
    {"TRIM(' ' FROM a)", "LEADING, TRAILING, or BOTH keyword expected after TRIM keyword, instead found ' ' in "},
    {"TRIM(BOTH ' ' IN a)", "FROM keyword expected after second TRIM function argument, instead found 'IN' in "},
    {"TRIM(BOTH ' ' FROM a b)", "Right parentheses expected after TRIM function arguments, instead found 'b' in "},
    {"EXTRACT a", "Left parentheses expected after EXTRACT keyword, instead found 'a' in "},
    {"EXTRACT(CENTURY FROM a)",
     "YEAR, MONTH, WEEK, DAY, DAYOFWEEK, HOUR, MINUTE, or SECOND keyword expected after EXTRACT keyword, instead found "
     "'CENTURY' in "},
    {"EXTRACT(YEAR IN a)", "FROM keyword expected after second EXTRACT function argument, instead found 'IN' in "},
    {"EXTRACT(YEAR FROM a b)", "Right parentheses expected after EXTRACT function arguments, instead found 'b' in "},
    {"ABS a", "Left parentheses expectedafter ABS keyword, instead found 'a' in "},
    {"ABS(a b)", "Right parentheses expected after ABS function argument, instead found 'b' in "},
    {"ROUND a", "Left parentheses expectedafter ROUND keyword, instead found 'a' in "},
    {"ROUND(a, 2)", "Right parentheses expected after ROUND function arguments, instead found ',' in "},
    {"IF a", "Left parentheses expectedafter IF keyword, instead found 'a' in "},
    {"IF(a ELSE b)", "THEN keyword expected after first IF function argument, instead found 'ELSE' in "},
    {"IF(a THEN b c)", "ELSE keyword expected after second IF function argument, instead found 'c' in "},
    {"IF(a THEN b ELSE c d)", "Right parentheses expected after IF function arguments, instead found 'd' in "},
    {"TEXTSEARCH a", "Left parentheses expectedafter TEXTSEARCH keyword, instead found 'a' in "},
    {"TEXTSEARCH('a' FROM b)", "IN keyword expected after first TEXTSEARCH function argument, instead found 'FROM' in "},
    {"TEXTSEARCH('a' IN b c)", "Right parentheses expected after TEXTSEARCH function argument, instead found 'c' in "},
    {"TEXTOCCURS a", "Left parentheses expectedafter TEXTOCCURS keyword, instead found 'a' in "},
    {"TEXTOCCURS('a' FROM b)", "IN keyword expected after first TEXTOCCURS function argument, instead found 'FROM' in "},
    {"TEXTOCCURS('a' IN b c)", "Right parentheses expected after TEXTOCCURS function argument, instead found 'c' in "},
    {"COUNT a", "Left parentheses expectedafter aggregate function 'COUNT', instead found 'a' in ", pmAllowAggregates},
    {"avg(a b)", "Right parentheses expected after aggregate avg function argument, instead found 'b' in ",
     pmAllowAggregates},
};

TEST(ExpressionParser, FilterMessages) {
  for (const auto& c : kMessageCases) {
    auto outcome = ParseText(c.Text, {.Modifiers = c.Modifiers});
    EXPECT_EQ(outcome.Code, TARN_INVALIDFILTER) << c.Text;
    EXPECT_EQ(outcome.Text, c.Message + "filter expression") << c.Text;
    EXPECT_EQ(outcome.Message, "Tarn Engine Error # 10051 Filter error for the table 'customer' - " + c.Message +
                                   "filter expression")
        << c.Text;
  }
}

TEST(ExpressionParser, SqlMessages) {
  for (const auto& c : kMessageCases) {
    auto outcome = ParseText(c.Text, {.Modifiers = c.Modifiers, .Sql = true});
    EXPECT_EQ(outcome.Code, TARN_SQLPARSE) << c.Text;
    EXPECT_EQ(outcome.Text, c.Message + "SELECT SQL statement") << c.Text;
    EXPECT_EQ(outcome.Message.substr(0, 35), "Tarn Engine Error # 11949 SQL error") << c.Text;
  }
}

TEST(ExpressionParser, DeepNestingIsAnErrorNotACrash) {
  const std::string parens = std::string(10000, '(') + "a" + std::string(10000, ')');
  auto nested = ParseText(parens);
  EXPECT_EQ(nested.Text, "Expression nested too deeply in filter expression");

  // A flat chain is not nesting (long_chain_test.cpp takes chains through
  // every tree operation).
  std::string chain = "a";
  for (int i = 0; i < 20000; ++i) chain += " + a";
  EXPECT_TRUE(ParseText(chain).Root);

  EXPECT_TRUE(ParseText(std::string(100, '(') + "a" + std::string(100, ')')).Root);
}

class TRecordingOwner : public TExpressionParserOwner {
 public:
  class TQuery : public TExpSubQuery {
   public:
    int SubSelectColumnCount() const override { return columns; }
    bool TypeSubSelectColumn(TExpToken& node) override {
      node.DataType = dtInteger;
      node.DataSize = 4;
      return true;
    }
    bool SubSelectContains(const TExpToken&) override { return false; }
    int columns = 1;
  };
  void AddParameter(TExpToken& parameter) override { parameters.push_back(&parameter); }
  TExpSubQuery* ParseSubSelect(TExpressionParser& parser) override {
    // Stands in for the SELECT parser: consume up to the closing parenthesis.
    while (!parser.CheckToken(')') && !parser.CheckToken(tkEndOfText)) parser.NextToken();
    return &query;
  }
  std::vector<TExpToken*> parameters;
  TQuery query;
};

TEST(ExpressionParser, ParametersAndSubSelectsGoToTheOwner) {
  TRecordingOwner owner;
  TExpressionParser parser(&owner);
  parser.ErrorCode = TARN_SQLPARSE;
  parser.SetExpression("a = ? AND Age IN (SELECT x FROM t) AND c = ?");
  parser.NextToken();
  TExpTokenPtr root = parser.ParseCompleteExpression(kAll);
  ASSERT_EQ(owner.parameters.size(), 2u);
  EXPECT_EQ(owner.parameters[0], root->Left->Left->Right.get());
  EXPECT_EQ(owner.parameters[1], root->Right->Right.get());
  const TExpToken* in = root->Left->Right.get();
  EXPECT_EQ(in->Operator, eoSUBIN);
  EXPECT_EQ(in->Arguments[1]->NodeClass, enTUPLE);
  EXPECT_EQ(in->Arguments[1]->SubQuery, &owner.query);

  testing_support::TTestTable table;
  VerifyExpressionToken(TARN_SQLPARSE, "", "customer", false, testing_support::FindTestColumn, &table, nullptr,
                        *in->Arguments[0], "x");
  owner.query.columns = 2;
  try {
    VerifyExpressionToken(TARN_SQLPARSE, "", "customer", false, nullptr, nullptr, nullptr, *in->Arguments[1],
                          "SELECT SQL statement");
    ADD_FAILURE();
  } catch (const ETarnEngineError& error) {
    EXPECT_EQ(error.ErrorText(), "More than 1 column for sub-select  specified in SELECT SQL statement");
  }
}

TEST(ExpressionParser, OptionalDataTypeConsumesNothing) {
  TExpressionParser parser;
  parser.SetExpression("PRIMARY KEY");
  parser.NextToken();
  TExpTokenPtr node = GetNewExpTokenInstance();
  parser.ParseDataTypeExpression(*node, 0, true);
  EXPECT_EQ(node->DataType, 0);
  EXPECT_TRUE(parser.CheckTokenSymbol("PRIMARY"));
  parser.SetExpression("AUTOINC MONEY");
  parser.NextToken();
  parser.ParseDataTypeExpression(*node, 0, true);
  EXPECT_EQ(node->DataType, dtInteger);
  EXPECT_EQ(node->SubType, dstAutoInc);
  parser.ParseDataTypeExpression(*node, 0, false);
  EXPECT_EQ(node->DataType, dtFloat);
  EXPECT_EQ(node->SubType, dstMoney);
  EXPECT_TRUE(parser.CheckToken(tkEndOfText));
}

}  // namespace
}  // namespace tarn
