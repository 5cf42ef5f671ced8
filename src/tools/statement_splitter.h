// TStatementSplitter: cuts SQL text, as it arrives line by line, into single
// statements at each ';' that stands outside quoted strings ('...' and "..."),
// bracketed names ([...]) and comments (/* ... */), following the lexical rules
// of the expression tokenizer, double-byte characters stepped over whole.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tarn::tools {

class TStatementSplitter {
 public:
  // Appends text to what is pending.
  void Add(std::string_view text);
  // The next complete statement, without its ';' and without surrounding
  // blanks; statements holding only blanks and comments are skipped.
  std::optional<std::string> Next();
  // After Next() gave nothing: the pending text that no ';' has ended (none
  // when it holds only blanks and comments); the splitter is empty afterwards.
  std::optional<std::string> TakeRest();
  // Nothing but blanks is pending, outside any string, name or comment.
  bool Empty() const noexcept;

 private:
  enum class TState : std::uint8_t { Text, SingleQuote, DoubleQuote, Bracket, Comment };

  std::optional<std::string> Cut(std::size_t end, std::size_t resume);

  std::string buffer_;
  std::size_t scanned_ = 0;  // bytes of buffer_ already classified
  TState state_ = TState::Text;
  bool hasContent_ = false;  // a token outside comments has been seen
};

}  // namespace tarn::tools
