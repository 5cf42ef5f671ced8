// The line list behind a query's SQL text.
#include "components/strings.h"

#include "components/db_messages.h"

namespace tarn {

const std::string& TStrings::operator[](int index) const {
  CheckIndex(index, Count() - 1);
  return lines_[static_cast<std::size_t>(index)];
}

void TStrings::SetStrings(int index, const std::string& line) {
  CheckIndex(index, Count() - 1);
  std::string& target = lines_[static_cast<std::size_t>(index)];
  if (target == line) return;
  target = line;
  Changed();
}

void TStrings::Clear() {
  if (lines_.empty()) return;
  lines_.clear();
  Changed();
}

int TStrings::Add(const std::string& line) {
  lines_.push_back(line);
  Changed();
  return Count() - 1;
}

void TStrings::Insert(int index, const std::string& line) {
  CheckIndex(index, Count());
  lines_.insert(lines_.begin() + index, line);
  Changed();
}

void TStrings::Delete(int index) {
  CheckIndex(index, Count() - 1);
  lines_.erase(lines_.begin() + index);
  Changed();
}

std::string TStrings::Text() const {
  std::string text;
  for (std::size_t i = 0; i < lines_.size(); ++i) {
    if (i > 0) text += "\r\n";
    text += lines_[i];
  }
  return text;
}

void TStrings::SetText(const std::string& text) {
  if (text == Text()) return;
  std::vector<std::string> lines;
  std::size_t start = 0;
  std::size_t i = 0;
  while (i < text.size()) {
    if (text[i] == '\r' || text[i] == '\n') {
      lines.push_back(text.substr(start, i - start));
      if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
      start = ++i;
    } else {
      ++i;
    }
  }
  if (start < text.size()) lines.push_back(text.substr(start));
  lines_ = std::move(lines);
  Changed();
}

void TStrings::Assign(const TStrings& source) {
  if (&source == this || source.lines_ == lines_) return;
  lines_ = source.lines_;
  Changed();
}

void TStrings::EndUpdate() {
  if (updateCount_ == 0) return;
  if (--updateCount_ == 0 && changedWhileUpdating_) {
    changedWhileUpdating_ = false;
    if (OnChange) OnChange();
  }
}

void TStrings::Changed() {
  if (updateCount_ > 0) {
    changedWhileUpdating_ = true;
    return;
  }
  if (OnChange) OnChange();
}

void TStrings::CheckIndex(int index, int limit) const {
  if (index < 0 || index > limit) throw EStringListError("List index out of bounds (" + IntToStr(index) + ")");
}

}  // namespace tarn
