// Statement splitting for the tarn shell: a small scanner that knows just
// enough of the tokenizer's rules to tell a ';' that ends a statement from one
// inside a string, a bracketed name or a comment.
#include "tools/statement_splitter.h"

#include "platform/code_page.h"

namespace tarn::tools {

namespace {

// The tokenizer's blanks: bytes 1 to 32.
bool IsBlank(unsigned char c) noexcept { return c >= 1 && c <= 32; }

std::string Trimmed(std::string_view text) {
  std::size_t begin = 0;
  std::size_t end = text.size();
  while (begin < end && IsBlank(static_cast<unsigned char>(text[begin]))) ++begin;
  while (end > begin && IsBlank(static_cast<unsigned char>(text[end - 1]))) --end;
  return std::string(text.substr(begin, end - begin));
}

}  // namespace

void TStatementSplitter::Add(std::string_view text) { buffer_.append(text); }

std::optional<std::string> TStatementSplitter::Next() {
  std::string_view text(buffer_);
  std::size_t pos = scanned_;
  while (pos < text.size()) {
    const auto c = static_cast<unsigned char>(text[pos]);
    // A double-byte character is one character whatever its trail byte is;
    // a lead byte at the very end waits for the rest of its character.
    if (IsLeadByte(c)) {
      if (pos + 1 >= text.size()) break;
      if (IsTrailByte(static_cast<unsigned char>(text[pos + 1]))) {
        if (state_ == TState::Text) hasContent_ = true;
        pos += 2;
        continue;
      }
    }
    switch (state_) {
      case TState::Text:
        if (c == ';') {
          if (std::optional<std::string> statement = Cut(pos, pos + 1)) return statement;
          // An empty statement is dropped: the scan goes on over what follows.
          text = buffer_;
          pos = 0;
          continue;
        }
        if (c == '/') {
          if (pos + 1 >= text.size()) {
            scanned_ = pos;
            return std::nullopt;  // a comment may start with the next text
          }
          if (text[pos + 1] == '*') {
            state_ = TState::Comment;
            pos += 2;
            continue;
          }
        }
        if (c == '\'') state_ = TState::SingleQuote;
        if (c == '"') state_ = TState::DoubleQuote;
        if (c == '[') state_ = TState::Bracket;
        if (!IsBlank(c)) hasContent_ = true;
        break;
      // A doubled quote inside a string reads here as the string ending and
      // a new one starting at once: for finding its end that is the same.
      case TState::SingleQuote:
        if (c == '\'') state_ = TState::Text;
        break;
      case TState::DoubleQuote:
        if (c == '"') state_ = TState::Text;
        break;
      case TState::Bracket:
        if (c == ']') state_ = TState::Text;
        break;
      case TState::Comment:
        if (c == '*') {
          if (pos + 1 >= text.size()) {
            scanned_ = pos;
            return std::nullopt;
          }
          if (text[pos + 1] == '/') {
            state_ = TState::Text;
            pos += 2;
            continue;
          }
        }
        break;
    }
    ++pos;
  }
  scanned_ = pos;
  return std::nullopt;
}

std::optional<std::string> TStatementSplitter::Cut(std::size_t end, std::size_t resume) {
  const bool hadContent = hasContent_;
  std::string statement = Trimmed(std::string_view(buffer_).substr(0, end));
  buffer_.erase(0, resume);
  scanned_ = 0;
  state_ = TState::Text;
  hasContent_ = false;
  if (!hadContent) return std::nullopt;
  return statement;
}

std::optional<std::string> TStatementSplitter::TakeRest() {
  // An unterminated string, name or comment goes to the engine, which
  // reports it; so does a trailing byte the scan left for later.
  if (state_ != TState::Text || scanned_ < buffer_.size()) hasContent_ = true;
  return Cut(buffer_.size(), buffer_.size());
}

bool TStatementSplitter::Empty() const noexcept {
  if (state_ != TState::Text || hasContent_) return false;
  for (std::size_t i = scanned_; i < buffer_.size(); ++i)
    if (!IsBlank(static_cast<unsigned char>(buffer_[i]))) return false;
  return true;
}

}  // namespace tarn::tools
