// The parameters of a query: TParam (a named value with a field kind and a
// bound flag), TParams (the list, one entry per distinct name in the order
// the names first appear), and the scan that finds parameter markers in SQL
// text. A marker is a colon followed by a name outside quoted text (single
// quotes, double quotes or backquotes); the name ends at a blank, comma,
// semicolon, closing parenthesis, CR or LF, or is quoted after the colon;
// two colons stand for one colon. Double-byte characters are stepped over
// whole: their trail bytes are never a colon, quote or delimiter.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "components/field_definitions.h"

namespace tarn {

class TParam {
 public:
  explicit TParam(std::string name) : name_(std::move(name)) {}

  const std::string& Name() const noexcept { return name_; }
  TFieldType DataType() const noexcept { return dataType_; }
  void SetDataType(TFieldType kind) noexcept { dataType_ = kind; }
  // Set by the application (any value setter, Clear or SetBound); a
  // DataSource fills only parameters that are not bound.
  bool Bound() const noexcept { return bound_; }
  void SetBound(bool value) noexcept { bound_ = value; }
  bool IsNull() const noexcept { return null_; }

  void SetAsString(const std::string& value);
  void SetAsMemo(const std::string& value);
  void SetAsBlob(const std::string& value);
  void SetAsSmallInt(std::int16_t value);
  void SetAsWord(std::uint16_t value);
  void SetAsInteger(std::int32_t value);
  void SetAsLargeInt(std::int64_t value);
  void SetAsFloat(double value);
  void SetAsCurrency(double value);
  void SetAsBCD(std::int64_t fixed);  // ten-thousandths
  void SetAsBoolean(bool value);
  void SetAsDate(std::int32_t dayNumber);
  void SetAsTime(std::int32_t milliseconds);
  void SetAsDateTime(double timeStamp);
  // Null, keeping the kind.
  void Clear();

  // The value as text ("" when null) and as a number (0 when null).
  std::string AsString() const;
  std::int64_t AsLargeInt() const;
  double AsFloat() const;

  // Copies kind, value and bound flag from another parameter.
  void AssignValue(const TParam& source);

 private:
  void SetText(TFieldType kind, const std::string& value);
  void SetNumber(TFieldType kind, std::int64_t integer, double real);

  std::string name_;
  TFieldType dataType_ = ftUnknown;
  bool bound_ = false;
  bool null_ = true;
  std::string text_;  // strings, memos and BLOBs
  std::int64_t integer_ = 0;
  double real_ = 0;
};

class TParams {
 public:
  int Count() const noexcept { return static_cast<int>(items_.size()); }
  TParam& Items(int index) const;
  TParam& operator[](int index) const { return Items(index); }
  TParam* FindParam(const std::string& name) const;
  // Raises "Parameter '%s' not found".
  TParam& ParamByName(const std::string& name) const;
  // The parameter of that name, added when missing.
  TParam& Add(const std::string& name);
  void Clear() { items_.clear(); }
  // Takes over the values of the parameters of the same name in old.
  void AssignValues(const TParams& old);

 private:
  std::vector<std::unique_ptr<TParam>> items_;
};

// The SQL text with every marker replaced by '?' (and "::" by ':'); the
// marker names in order of appearance go to names (one per marker).
std::string ParseSQLParams(const std::string& sql, std::vector<std::string>& names);

}  // namespace tarn
