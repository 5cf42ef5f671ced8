// TExpressionParser: the tokenizer of expression text and the grammar that
// builds TExpToken trees from its tokens (filters, field expressions, SQL).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "core/errors.h"
#include "expressions/exp_token.h"

namespace tarn {

class TExpressionParser;

// Token kinds answered by NextToken; any other value is a single character
// whose kind is its own code.
enum TExpTokenKind : int {
  tkEndOfText = 0,
  tkIdentifier = 1,
  tkBracketedName = 2,
  tkQuotedString = 3,
  tkCharacterCode = 4,
  tkInteger = 5,
  tkReal = 6,
};

// The object that created the parser when it is an SQL statement: it keeps
// the parameters in order of appearance and parses sub-selects.
class TExpressionParserOwner {
 public:
  virtual ~TExpressionParserOwner() = default;
  virtual void AddParameter(TExpToken& parameter) = 0;
  // Creates and registers a sub-select query, parses the SELECT from the
  // parser's current token on (sharing the parser) and answers it.
  virtual TExpSubQuery* ParseSubSelect(TExpressionParser& parser) = 0;
};

class TExpressionParser {
 public:
  explicit TExpressionParser(TExpressionParserOwner* owner = nullptr);

  // Error context of every parse failure.
  TarnErrorCode ErrorCode = TARN_INVALIDFILTER;
  std::string DatabaseName;
  std::string TableName;
  std::string ExpressionDescription;

  TExpressionParserOwner* Owner() const noexcept { return owner_; }

  // Tokenizer.
  void SetExpression(std::string_view text);
  int NextToken();
  int TokenKind() const noexcept { return tokenKind_; }
  std::string TokenAsString() const;
  bool CheckToken(int kind) const noexcept { return tokenKind_ == kind; }
  bool CheckTokenSymbol(std::string_view word) const;
  bool CheckTokenString(std::string_view word) const;
  std::size_t GetCurPos() const noexcept { return tokenStart_; }
  void MarkExpressionLiteral() noexcept { literalMark_ = tokenStart_; }
  std::string ExpressionAsString() const;
  void FreeExpression();

  // Grammar, lowest precedence first. The current token must be loaded.
  TExpTokenPtr ParseExpression1(TParseModifiers modifiers);
  TExpTokenPtr ParseExpression2(TParseModifiers modifiers);
  TExpTokenPtr ParseExpression3(TParseModifiers modifiers);
  TExpTokenPtr ParseExpression4(TParseModifiers modifiers);
  TExpTokenPtr ParseExpression5(TParseModifiers modifiers);
  TExpTokenPtr ParseExpression6(TParseModifiers modifiers);
  TExpTokenPtr ParseExpression7(TParseModifiers modifiers);
  TExpTokenPtr ParseExpression8(TParseModifiers modifiers);
  // Reads an SQL data type name into node (DataType, SubType, size argument
  // 1 and scale argument 2). When optional and no name matches, nothing is
  // consumed and the type stays unset.
  void ParseDataTypeExpression(TExpToken& node, TParseModifiers modifiers, bool optional);
  // A whole expression: level 1, then the text must be at its end; text
  // after a complete expression is refused.
  TExpTokenPtr ParseCompleteExpression(TParseModifiers modifiers);

  // Raises the parser's error with the message followed by the description.
  [[noreturn]] void RaiseParseError(std::string_view message) const;
  // message + current token + "'" + " in " + description.
  [[noreturn]] void RaiseTokenError(std::string_view message) const;
  // message + current token + "'" + " found in " + description.
  [[noreturn]] void RaiseTokenFoundError(std::string_view message) const;

 private:
  TExpTokenPtr Level1(TParseModifiers modifiers);
  TExpTokenPtr Level2(TParseModifiers modifiers);
  TExpTokenPtr Level3(TParseModifiers modifiers);
  TExpTokenPtr Level4(TParseModifiers modifiers);
  TExpTokenPtr Level5(TParseModifiers modifiers);
  TExpTokenPtr Level6(TParseModifiers modifiers);
  TExpTokenPtr Level7(TParseModifiers modifiers);
  TExpTokenPtr Level8(TParseModifiers modifiers);
  TExpTokenPtr ParseExtendedPredicate(TExpTokenPtr left, TParseModifiers modifiers);
  TExpTokenPtr ParseInList(TExpTokenPtr left, bool negated, TParseModifiers modifiers);
  TExpTokenPtr ParseIdentifier(TParseModifiers modifiers);
  TExpTokenPtr ParseQualifiedColumn(std::string tableName, TParseModifiers modifiers);
  TExpTokenPtr ParseFunction(const std::string& keyword, TParseModifiers modifiers, bool& matched);
  TExpTokenPtr ParseNumber();
  TExpTokenPtr ParseCharacterCode();
  void ExpectToken(int kind, std::string_view message);
  void ExpectSymbol(std::string_view word, std::string_view message);

  void SkipBlanksAndComments();
  char ByteAt(std::size_t pos) const noexcept { return pos < text_.size() ? text_[pos] : '\0'; }

  TExpressionParserOwner* owner_;
  std::string text_;
  std::size_t curPos_ = 0;
  std::size_t tokenStart_ = 0;
  int tokenKind_ = tkEndOfText;
  std::size_t tokenEnd_ = 0;
  std::size_t literalMark_ = 0;
  std::size_t prevPos_ = 0;
  int nesting_ = 0;
};

}  // namespace tarn
