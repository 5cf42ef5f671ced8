// The tokenizer half of TExpressionParser: blanks, comments, identifiers,
// quoted strings, bracketed names, numbers and single-character tokens.
// Double-byte characters are stepped over whole, so a trail byte is never
// taken for a quote, bracket or other delimiter.
#include <cstring>

#include "platform/code_page.h"
#include "expressions/expression_layer.h"
#include "expressions/expression_messages.h"
#include "expressions/expression_parser.h"

namespace tarn {

namespace {

bool IsLetter(unsigned char c) noexcept {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || (c >= 128 && c <= 254);
}

bool IsDigit(unsigned char c) noexcept { return c >= '0' && c <= '9'; }

}  // namespace

TExpressionParser::TExpressionParser(TExpressionParserOwner* owner) : owner_(owner) {}

void TExpressionParser::SetExpression(std::string_view text) {
  // The text is held zero-terminated: a zero byte ends it.
  const std::size_t end = text.find('\0');
  text_.assign(text.substr(0, end));
  curPos_ = tokenStart_ = tokenEnd_ = literalMark_ = prevPos_ = 0;
  tokenKind_ = tkEndOfText;
  nesting_ = 0;
}

void TExpressionParser::FreeExpression() {
  text_.clear();
  text_.shrink_to_fit();
  curPos_ = tokenStart_ = tokenEnd_ = literalMark_ = prevPos_ = 0;
  tokenKind_ = tkEndOfText;
}

void TExpressionParser::RaiseParseError(std::string_view message) const {
  std::string text(message);
  text += ExpressionDescription;
  RaiseError(ErrorCode, {}, {}, DatabaseName, TableName, {}, {}, text);
}

void TExpressionParser::RaiseTokenError(std::string_view message) const {
  std::string text(message);
  text += TokenAsString();
  text += '\'';
  text += expmsg::kIn;
  RaiseParseError(text);
}

void TExpressionParser::RaiseTokenFoundError(std::string_view message) const {
  std::string text(message);
  text += TokenAsString();
  text += '\'';
  text += expmsg::kFoundIn;
  RaiseParseError(text);
}

void TExpressionParser::SkipBlanksAndComments() {
  for (;;) {
    while (curPos_ < text_.size() && static_cast<unsigned char>(text_[curPos_]) >= 1 &&
           static_cast<unsigned char>(text_[curPos_]) <= 32)
      ++curPos_;
    if (ByteAt(curPos_) == '/' && ByteAt(curPos_ + 1) == '*') {
      const std::size_t end = text_.find("*/", curPos_ + 2);
      if (end == std::string::npos) {
        curPos_ = text_.size();
        RaiseParseError(expmsg::kMissingComment);
      }
      curPos_ = end + 2;
      continue;
    }
    return;
  }
}

int TExpressionParser::NextToken() {
  prevPos_ = curPos_;
  SkipBlanksAndComments();
  tokenStart_ = curPos_;
  const std::string_view text(text_);
  if (curPos_ >= text.size()) {
    tokenKind_ = tkEndOfText;
    tokenEnd_ = curPos_;
    return tokenKind_;
  }
  const auto c = static_cast<unsigned char>(text[curPos_]);
  std::size_t pos = curPos_;
  int kind;
  if (IsLetter(c)) {
    while (pos < text.size()) {
      const auto b = static_cast<unsigned char>(text[pos]);
      if (!IsLetter(b) && !IsDigit(b)) break;
      pos += (IsLeadByte(b) && pos + 1 < text.size() && IsTrailByte(static_cast<unsigned char>(text[pos + 1]))) ? 2 : 1;
    }
    kind = tkIdentifier;
  } else if (c == '#') {
    ++pos;
    while (pos < text.size() && IsDigit(static_cast<unsigned char>(text[pos]))) ++pos;
    kind = tkCharacterCode;
  } else if (c == '\'' || c == '"') {
    ++pos;
    for (;;) {
      if (pos >= text.size()) {
        // The token so far, for the message.
        tokenKind_ = tkIdentifier;
        curPos_ = text.size();
        std::string message(c == '\'' ? expmsg::kMissingSingleQuote : expmsg::kMissingDoubleQuote);
        message.append(text.substr(tokenStart_ + 1));
        message += '\'';
        message += expmsg::kIn;
        RaiseParseError(message);
      }
      const auto b = static_cast<unsigned char>(text[pos]);
      if (b == c) {
        if (pos + 1 < text.size() && static_cast<unsigned char>(text[pos + 1]) == c) {
          pos += 2;
          continue;
        }
        ++pos;
        break;
      }
      pos = NextCharPos(text, pos);
    }
    kind = tkQuotedString;
  } else if (c == '[') {
    ++pos;
    for (;;) {
      if (pos >= text.size()) {
        curPos_ = text.size();
        std::string message(expmsg::kMissingRightBracket);
        message.append(text.substr(tokenStart_ + 1));
        message += '\'';
        message += expmsg::kIn;
        RaiseParseError(message);
      }
      if (text[pos] == ']') {
        ++pos;
        break;
      }
      pos = NextCharPos(text, pos);
    }
    kind = tkBracketedName;
  } else if (IsDigit(c) || (c == '.' && pos + 1 < text.size() && IsDigit(static_cast<unsigned char>(text[pos + 1])))) {
    bool real = false;
    while (pos < text.size()) {
      const char b = text[pos];
      if (IsDigit(static_cast<unsigned char>(b))) {
        ++pos;
      } else if (b == '.' || b == 'E' || b == 'e') {
        real = true;
        ++pos;
      } else if ((b == '+' || b == '-') && pos > curPos_ && (text[pos - 1] == 'E' || text[pos - 1] == 'e')) {
        ++pos;
      } else {
        break;
      }
    }
    kind = real ? tkReal : tkInteger;
  } else {
    ++pos;
    kind = c;
  }
  curPos_ = pos;
  tokenEnd_ = pos;
  tokenKind_ = kind;
  return kind;
}

std::string TExpressionParser::TokenAsString() const {
  const std::string_view text(text_);
  switch (tokenKind_) {
    case tkEndOfText:
      return {};
    case tkBracketedName:
      return std::string(text.substr(tokenStart_ + 1, tokenEnd_ - tokenStart_ - 2));
    case tkQuotedString: {
      // Only doubled delimiter quotes are undone; the other quote kind and
      // everything else stay exactly as written.
      const char quote = text[tokenStart_];
      const std::string_view inner = text.substr(tokenStart_ + 1, tokenEnd_ - tokenStart_ - 2);
      std::string result;
      result.reserve(inner.size());
      for (std::size_t i = 0; i < inner.size(); ++i) {
        result += inner[i];
        if (inner[i] == quote && i + 1 < inner.size() && inner[i + 1] == quote) ++i;
      }
      return result;
    }
    default:
      return std::string(text.substr(tokenStart_, tokenEnd_ - tokenStart_));
  }
}

bool TExpressionParser::CheckTokenSymbol(std::string_view word) const {
  return tokenKind_ == tkIdentifier && AnsiSameText(TokenAsString(), word);
}

bool TExpressionParser::CheckTokenString(std::string_view word) const {
  return tokenKind_ == tkQuotedString && AnsiSameText(TokenAsString(), word);
}

std::string TExpressionParser::ExpressionAsString() const {
  std::string result;
  const std::size_t end = std::min(prevPos_, text_.size());
  for (std::size_t i = literalMark_; i < end; ++i)
    if (text_[i] != '\r' && text_[i] != '\n') result += text_[i];
  return result;
}

}  // namespace tarn
