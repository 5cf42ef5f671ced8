// TStrings: a list of text lines (the SQL text of a query). Text() joins the
// lines with CR LF between them (no line break after the last line, so one
// line of SQL is exactly that line); SetText splits at CR LF, LF or CR.
// Every change calls OnChange; assigning a text equal to the current one
// changes nothing and calls nothing.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/exception.h"

namespace tarn {

// Raised for a line index outside the list: "List index out of bounds (%d)".
class EStringListError : public Exception {
 public:
  using Exception::Exception;
  const char* ClassName() const noexcept override { return "EStringListError"; }
};

class TStrings {
 public:
  TStrings() = default;
  TStrings(const TStrings&) = delete;
  TStrings& operator=(const TStrings&) = delete;

  int Count() const noexcept { return static_cast<int>(lines_.size()); }
  // The line at index; an index outside the list raises EStringListError.
  const std::string& operator[](int index) const;
  const std::string& Strings(int index) const { return (*this)[index]; }
  void SetStrings(int index, const std::string& line);

  void Clear();
  // Adds a line; text holding line breaks stays one entry (as given).
  int Add(const std::string& line);
  void Insert(int index, const std::string& line);
  void Delete(int index);

  std::string Text() const;
  void SetText(const std::string& text);
  // Replaces the lines with those of another list (one change).
  void Assign(const TStrings& source);

  // Groups several changes: OnChange is called once when the outermost
  // EndUpdate finds that something changed.
  void BeginUpdate() noexcept { ++updateCount_; }
  void EndUpdate();

  std::function<void()> OnChange;

 private:
  void Changed();
  void CheckIndex(int index, int limit) const;

  std::vector<std::string> lines_;
  int updateCount_ = 0;
  bool changedWhileUpdating_ = false;
};

}  // namespace tarn
