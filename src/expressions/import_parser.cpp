// Tokenizing delimited import lines.
#include "expressions/import_parser.h"

#include "platform/code_page.h"
#include "expressions/expression_layer.h"
#include "expressions/expression_messages.h"

namespace tarn {

TImportParser::TImportParser(std::string_view delimiters, std::string fileDescription, TarnErrorCode errorCode,
                             std::string tableName)
    : description_(std::move(fileDescription)), errorCode_(errorCode), tableName_(std::move(tableName)) {
  for (const char c : delimiters) delimiters_.set(static_cast<unsigned char>(c));
}

void TImportParser::SetLine(std::string_view line) {
  line_.assign(line);
  pos_ = tokenStart_ = tokenEnd_ = 0;
  tokenKind_ = kEndOfLine;
}

int TImportParser::NextToken() {
  while (pos_ < line_.size() && line_[pos_] == ' ') ++pos_;
  tokenStart_ = pos_;
  if (pos_ >= line_.size()) {
    tokenEnd_ = pos_;
    return tokenKind_ = kEndOfLine;
  }
  const char c = line_[pos_];
  if (c == '\'' || c == '"') {
    std::size_t p = pos_ + 1;
    for (;;) {
      if (p >= line_.size()) {
        std::string message(c == '\'' ? expmsg::kMissingSingleQuote : expmsg::kMissingDoubleQuote);
        message.append(line_, tokenStart_ + 1, std::string::npos);
        message += '\'';
        message += expmsg::kIn;
        message += description_;
        pos_ = line_.size();
        RaiseError(errorCode_, {}, {}, {}, tableName_, {}, {}, message);
      }
      if (line_[p] == c) {
        if (p + 1 < line_.size() && line_[p + 1] == c) {
          p += 2;
          continue;
        }
        ++p;
        break;
      }
      p = NextCharPos(line_, p);
    }
    pos_ = tokenEnd_ = p;
    return tokenKind_ = kQuotedString;
  }
  if (delimiters_.test(static_cast<unsigned char>(c))) {
    pos_ = tokenEnd_ = pos_ + 1;
    return tokenKind_ = static_cast<unsigned char>(c);
  }
  std::size_t p = pos_;
  // A double-byte character is taken whole, so its trail byte never ends the run.
  while (p < line_.size() && (CharLength(line_, p) == 2 || !delimiters_.test(static_cast<unsigned char>(line_[p]))))
    p = NextCharPos(line_, p);
  pos_ = tokenEnd_ = p;
  return tokenKind_ = kText;
}

std::string TImportParser::TokenAsString() const {
  if (tokenKind_ == kQuotedString) {
    const char quote = line_[tokenStart_];
    std::string result;
    for (std::size_t i = tokenStart_ + 1; i + 1 < tokenEnd_; ++i) {
      result += line_[i];
      if (line_[i] == quote && i + 2 < tokenEnd_ && line_[i + 1] == quote) ++i;
    }
    return result;
  }
  return line_.substr(tokenStart_, tokenEnd_ - tokenStart_);
}

bool TImportParser::CheckTokenSymbol(std::string_view word) const {
  return tokenKind_ == kText && AnsiSameText(TokenAsString(), word);
}

bool TImportParser::CheckTokenString(std::string_view word) const {
  return tokenKind_ == kQuotedString && AnsiSameText(TokenAsString(), word);
}

}  // namespace tarn
