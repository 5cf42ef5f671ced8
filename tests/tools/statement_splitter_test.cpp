// Statement splitting of the shell: ';' ends a statement only outside quoted
// strings, bracketed names and comments; double-byte characters are stepped
// over whole; blank and comment-only statements are dropped; text that
// arrives in pieces splits as the whole text would.
#include "tools/statement_splitter.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tarn::tools {
namespace {

struct SplitCase {
  const char* Name;
  std::string Text;
  std::vector<std::string> Statements;  // the last one may be the unended rest
};

std::vector<std::string> SplitAll(TStatementSplitter& splitter) {
  std::vector<std::string> statements;
  while (std::optional<std::string> s = splitter.Next()) statements.push_back(*s);
  if (std::optional<std::string> rest = splitter.TakeRest()) statements.push_back(*rest);
  return statements;
}

// "\xB1\x5D" is a GBK character whose trail byte is ']'; "\xD6\xD0" an
// ordinary one.
const std::vector<SplitCase> kCases = {
    {"two statements", "SELECT 1; SELECT 2;", {"SELECT 1", "SELECT 2"}},
    {"last without semicolon", "SELECT 1;\n SELECT 2 \n", {"SELECT 1", "SELECT 2"}},
    {"semicolon in single quotes", "SELECT 'a;b' FROM t; X", {"SELECT 'a;b' FROM t", "X"}},
    {"semicolon in double quotes", "SELECT \"a;b\"; X", {"SELECT \"a;b\"", "X"}},
    {"doubled quote stays in the string", "SELECT 'it'';s'; X", {"SELECT 'it'';s'", "X"}},
    {"other quote inside a string", "SELECT '\";'; SELECT \"';\"", {"SELECT '\";'", "SELECT \"';\""}},
    {"semicolon in brackets", "SELECT [a;b] FROM t; X", {"SELECT [a;b] FROM t", "X"}},
    {"quote inside brackets", "SELECT [it's]; X", {"SELECT [it's]", "X"}},
    {"bracket inside quotes", "SELECT '[' ; X", {"SELECT '['", "X"}},
    {"semicolon in a comment", "SELECT /* a; b */ 1; X", {"SELECT /* a; b */ 1", "X"}},
    {"quote in a comment", "SELECT /* it's */ 1; X", {"SELECT /* it's */ 1", "X"}},
    {"comment marks inside quotes", "SELECT '/*'; X; '*/'", {"SELECT '/*'", "X", "'*/'"}},
    {"division is no comment", "SELECT 4/2; X", {"SELECT 4/2", "X"}},
    {"comment-only statement dropped", "/* only */; SELECT 1", {"SELECT 1"}},
    {"empty statements dropped", ";;\n ; SELECT 1;;", {"SELECT 1"}},
    {"trailing comment dropped", "SELECT 1; /* end */\n", {"SELECT 1"}},
    {"double-byte trail byte is no bracket", "SELECT \xB1\x5D; X", {"SELECT \xB1\x5D", "X"}},
    {"double-byte trail byte inside brackets", "SELECT [\xB1\x5D;]; X", {"SELECT [\xB1\x5D;]", "X"}},
    {"double-byte text in quotes", "SELECT '\xD6\xD0;'; X", {"SELECT '\xD6\xD0;'", "X"}},
    {"unterminated string is the rest", "SELECT 'a; b", {"SELECT 'a; b"}},
    {"unterminated bracket is the rest", "SELECT [a; b", {"SELECT [a; b"}},
    {"unterminated comment is the rest", "SELECT 1; /* a; b", {"SELECT 1", "/* a; b"}},
    {"blanks and line breaks trimmed", "\r\n\t SELECT\r\n1 \r\n;", {"SELECT\r\n1"}},
};

TEST(StatementSplitter, SplitsTheWholeText) {
  for (const SplitCase& c : kCases) {
    TStatementSplitter splitter;
    splitter.Add(c.Text);
    EXPECT_EQ(SplitAll(splitter), c.Statements) << c.Name;
  }
}

// Every text cut at every byte gives the same statements: a quote, bracket,
// comment mark or double-byte character split across two pieces is joined.
TEST(StatementSplitter, SplitsTheSameWhereverTheTextIsCut) {
  for (const SplitCase& c : kCases) {
    for (std::size_t cut = 0; cut <= c.Text.size(); ++cut) {
      TStatementSplitter splitter;
      std::vector<std::string> statements;
      splitter.Add(std::string_view(c.Text).substr(0, cut));
      while (std::optional<std::string> s = splitter.Next()) statements.push_back(*s);
      splitter.Add(std::string_view(c.Text).substr(cut));
      for (std::string& s : SplitAll(splitter)) statements.push_back(std::move(s));
      EXPECT_EQ(statements, c.Statements) << c.Name << ", cut at " << cut;
    }
  }
}

TEST(StatementSplitter, IsEmptyOnlyWithNothingButBlanksPending) {
  TStatementSplitter splitter;
  EXPECT_TRUE(splitter.Empty());
  splitter.Add(" \n");
  EXPECT_FALSE(splitter.Next());
  EXPECT_TRUE(splitter.Empty());
  splitter.Add("SELECT 'a;\n");
  EXPECT_FALSE(splitter.Next());
  EXPECT_FALSE(splitter.Empty());  // inside a string
  splitter.Add("b';\n");
  EXPECT_EQ(splitter.Next(), std::optional<std::string>("SELECT 'a;\nb'"));
  EXPECT_TRUE(splitter.Empty());
  splitter.Add("/* open\n");
  EXPECT_FALSE(splitter.Next());
  EXPECT_FALSE(splitter.Empty());  // inside a comment
  splitter.Add("*/\n");
  EXPECT_FALSE(splitter.Next());
  EXPECT_FALSE(splitter.TakeRest());
  EXPECT_TRUE(splitter.Empty());
}

}  // namespace
}  // namespace tarn::tools
