// Token kinds and texts, comments, quotes, brackets and double-byte text.
#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "expression_test_support.h"
#include "expressions/expression_parser.h"

namespace tarn {
namespace {

using TTokens = std::vector<std::pair<int, std::string>>;

TTokens Tokenize(std::string_view text) {
  TExpressionParser parser;
  parser.ExpressionDescription = "filter expression";
  parser.SetExpression(text);
  TTokens tokens;
  for (int kind = parser.NextToken(); kind != tkEndOfText; kind = parser.NextToken())
    tokens.emplace_back(kind, parser.TokenAsString());
  return tokens;
}

struct TTokenCase {
  std::string Text;
  TTokens Expected;
};

TEST(ExpressionTokenizer, TokenKindsAndTexts) {
  const TTokenCase cases[] = {
      {"Name", {{tkIdentifier, "Name"}}},
      {"_a1 b2", {{tkIdentifier, "_a1"}, {tkIdentifier, "b2"}}},
      {"[Order Date]", {{tkBracketedName, "Order Date"}}},
      {"'it''s'", {{tkQuotedString, "it's"}}},
      {"\"say \"\"hi\"\"\"", {{tkQuotedString, "say \"hi\""}}},
      // Only the delimiter quote is undoubled; the other kind stays as written.
      {"'a\"\"b'", {{tkQuotedString, "a\"\"b"}}},
      {"\"a''b\"", {{tkQuotedString, "a''b"}}},
      {"#65", {{tkCharacterCode, "#65"}}},
      {"123", {{tkInteger, "123"}}},
      {"1e+5", {{tkReal, "1e+5"}}},
      {"1+5", {{tkInteger, "1"}, {'+', "+"}, {tkInteger, "5"}}},
      {".5", {{tkReal, ".5"}}},
      {"5.", {{tkReal, "5."}}},
      {"1.2.3", {{tkReal, "1.2.3"}}},
      {"2.5E-3x", {{tkReal, "2.5E-3"}, {tkIdentifier, "x"}}},
      {"a.b", {{tkIdentifier, "a"}, {'.', "."}, {tkIdentifier, "b"}}},
      {"( ) * , - / < = > ? |",
       {{'(', "("}, {')', ")"}, {'*', "*"}, {',', ","}, {'-', "-"}, {'/', "/"}, {'<', "<"}, {'=', "="},
        {'>', ">"}, {'?', "?"}, {'|', "|"}}},
      {"@", {{'@', "@"}}},
      {"/* one */ /* two */ Name", {{tkIdentifier, "Name"}}},
      {"a/**/b", {{tkIdentifier, "a"}, {tkIdentifier, "b"}}},
      {"\t\r\n x \x01", {{tkIdentifier, "x"}}},
      // GBK: lead bytes start identifiers and trail bytes such as '|', '[' or
      // '\\' stay inside the character.
      {"\xD0\xD5\xC3\xFB", {{tkIdentifier, "\xD0\xD5\xC3\xFB"}}},
      {"\x81| = 1", {{tkIdentifier, "\x81|"}, {'=', "="}, {tkInteger, "1"}}},
      {"[\x81]x]", {{tkBracketedName, "\x81]x"}}},
      {"\x81\\abc", {{tkIdentifier, "\x81\\abc"}}},
      // Byte 255 is not a letter.
      {"\xFF", {{0xFF, "\xFF"}}},
  };
  for (const auto& c : cases) EXPECT_EQ(Tokenize(c.Text), c.Expected) << c.Text;
}

TEST(ExpressionTokenizer, NulByteEndsTheText) {
  EXPECT_EQ(Tokenize(std::string("a\0b", 3)), (TTokens{{tkIdentifier, "a"}}));
}

TEST(ExpressionTokenizer, ErrorsCarryMessageAndContext) {
  struct TCase {
    std::string Text;
    std::string Message;
  };
  const TCase cases[] = {
      {"a /* open", "Missing ending comment slash and asterisk in filter expression"},
      {"'abc", "Missing single quote after 'abc' in filter expression"},
      {"\"abc", "Missing double quote after 'abc' in filter expression"},
      {"[abc", "Missing right bracket after 'abc' in filter expression"},
      {"'it''", "Missing single quote after 'it''' in filter expression"},
  };
  for (const auto& c : cases) {
    TExpressionParser parser;
    parser.ErrorCode = TARN_INVALIDFILTER;
    parser.TableName = "customer";
    parser.ExpressionDescription = "filter expression";
    parser.SetExpression(c.Text);
    try {
      while (parser.NextToken() != tkEndOfText) {
      }
      ADD_FAILURE() << "no error for " << c.Text;
    } catch (const ETarnEngineError& error) {
      EXPECT_EQ(error.ErrorCode(), TARN_INVALIDFILTER);
      EXPECT_EQ(error.ErrorText(), c.Message);
      EXPECT_EQ(error.ErrorTableName(), "customer");
    }
  }
}

TEST(ExpressionTokenizer, PositionsMarksAndChecks) {
  TExpressionParser parser;
  parser.SetExpression("SELECT Name || \r\n'x' , Age FROM t");
  parser.NextToken();
  EXPECT_TRUE(parser.CheckTokenSymbol("select"));
  EXPECT_EQ(parser.GetCurPos(), 0u);
  parser.NextToken();
  parser.MarkExpressionLiteral();
  EXPECT_EQ(parser.GetCurPos(), 7u);
  parser.NextToken();  // |
  parser.NextToken();  // |
  parser.NextToken();  // 'x'
  EXPECT_TRUE(parser.CheckTokenString("X"));
  EXPECT_FALSE(parser.CheckTokenSymbol("x"));
  parser.NextToken();  // ,
  EXPECT_TRUE(parser.CheckToken(','));
  EXPECT_EQ(parser.ExpressionAsString(), "Name || 'x'");
}

}  // namespace
}  // namespace tarn
