// The small pieces every SQL statement grammar shares: raising parse errors
// with the current token, testing token kinds and words, the description
// scope of an item, and linking a parsed tree's Parent pointers.
#pragma once

#include <cstddef>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "core/errors.h"
#include "expressions/exp_token.h"
#include "expressions/expression_parser.h"

namespace tarn::sql_grammar {

// Longest text of the short-string fields (names, aliases, item texts).
inline constexpr std::size_t kMaxShortString = 255;

// Statement-level messages carry no description suffix.
[[noreturn]] inline void RaiseSqlError(std::string_view message) {
  RaiseError(TARN_SQLPARSE, {}, {}, {}, {}, {}, {}, message);
}

// message + the current token + "'".
[[noreturn]] inline void RaiseFoundError(const TExpressionParser& parser, std::string_view message) {
  std::string text(message);
  text += parser.TokenAsString();
  text += '\'';
  RaiseSqlError(text);
}

inline bool IsAnySymbol(const TExpressionParser& parser, std::initializer_list<std::string_view> words) {
  for (std::string_view word : words) {
    if (parser.CheckTokenSymbol(word)) return true;
  }
  return false;
}

// An identifier, a bracketed name or a quoted string.
inline bool IsNameToken(const TExpressionParser& parser) {
  return parser.CheckToken(tkIdentifier) || parser.CheckToken(tkBracketedName) || parser.CheckToken(tkQuotedString);
}

// A table name: an identifier or a quoted string (not a bracketed name).
inline bool IsTableNameToken(const TExpressionParser& parser) {
  return parser.CheckToken(tkIdentifier) || parser.CheckToken(tkQuotedString);
}

// A token that cannot begin an expression item: the item is empty.
inline bool AtEmptyExpression(const TExpressionParser& parser) {
  return parser.CheckToken(tkEndOfText) || parser.CheckToken(',') || parser.CheckToken(';') || parser.CheckToken(')');
}

// Sets the parser's description for one item or clause and puts the one
// before back afterwards, also when it raises (a sub-select inside WHERE
// returns to the WHERE description).
class TDescriptionScope {
 public:
  TDescriptionScope(TExpressionParser& parser, std::string_view description)
      : parser_(parser), saved_(parser.ExpressionDescription) {
    parser_.ExpressionDescription = description;
  }
  ~TDescriptionScope() { parser_.ExpressionDescription = saved_; }
  TDescriptionScope(const TDescriptionScope&) = delete;
  TDescriptionScope& operator=(const TDescriptionScope&) = delete;

 private:
  TExpressionParser& parser_;
  std::string saved_;
};

// Sets the Parent links of a freshly parsed tree (the grammar leaves them
// unset), without recursion.
inline void LinkParents(TExpToken* root) {
  std::vector<TExpToken*> pending;
  if (root != nullptr) pending.push_back(root);
  while (!pending.empty()) {
    TExpToken* node = pending.back();
    pending.pop_back();
    auto link = [&](const TExpTokenPtr& child) {
      if (!child) return;
      child->Parent = node;
      pending.push_back(child.get());
    };
    link(node->Left);
    link(node->Right);
    link(node->ThirdOperand);
    for (const auto& argument : node->Arguments) link(argument);
  }
}

}  // namespace tarn::sql_grammar
