// TImportParser: splits one line of a delimited text file into quoted
// strings, delimiter characters and runs of text.
#pragma once

#include <bitset>
#include <cstddef>
#include <string>
#include <string_view>

#include "core/errors.h"

namespace tarn {

class TImportParser {
 public:
  // Token kinds besides single delimiter characters (their own codes).
  static constexpr int kEndOfLine = 0;
  static constexpr int kText = 1;
  static constexpr int kQuotedString = 3;

  // delimiters: every character that ends a run of text (the field
  // delimiter and the line-end characters).
  TImportParser(std::string_view delimiters, std::string fileDescription,
                TarnErrorCode errorCode = TARN_IMPORTERROR, std::string tableName = {});

  void SetLine(std::string_view line);
  int NextToken();
  int TokenKind() const noexcept { return tokenKind_; }
  std::string TokenAsString() const;
  bool CheckToken(int kind) const noexcept { return tokenKind_ == kind; }
  bool CheckTokenSymbol(std::string_view word) const;
  bool CheckTokenString(std::string_view word) const;

 private:
  std::bitset<256> delimiters_;
  std::string description_;
  TarnErrorCode errorCode_;
  std::string tableName_;
  std::string line_;
  std::size_t pos_ = 0;
  std::size_t tokenStart_ = 0;
  std::size_t tokenEnd_ = 0;
  int tokenKind_ = kEndOfLine;
};

}  // namespace tarn
