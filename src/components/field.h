// TField: one column of a dataset's current record with typed access. The
// value lives in the dataset's record buffer; the field reads and writes it
// through the dataset (TFieldDataLink), which picks the buffer for its state
// and applies the state rules. Text and integer follow the dataset's
// conversion table: a null value is empty text and integer 0 (a null string
// field converts the empty text, which fails), integers in decimal, 64-bit
// values give their low 32 bits as integer, floats in general format with 15
// significant digits and rounded halves to even as integer, booleans "True"
// or "False" with no integer.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "components/field_definitions.h"

namespace tarn {

class TField;

// What a field asks of its dataset.
class TFieldDataLink {
 public:
  // Copies the field's value (the cursor's GetField format) into destination
  // (at least 256 bytes); false when the value is null or there is no record.
  virtual bool GetFieldData(const TField& field, std::uint8_t* destination) = 0;
  // Stores a value (null source: null) under the dataset's state rules.
  virtual void SetFieldData(const TField& field, const std::uint8_t* source) = 0;
  // The contents of a BLOB field of the current record.
  virtual std::string GetBlobData(const TField& field) = 0;
  virtual void SetBlobData(const TField& field, std::string_view data) = 0;

 protected:
  ~TFieldDataLink() = default;
};

class TField {
 public:
  TField(TFieldDataLink& link, const TFieldDef& def, int index);
  TField(const TField&) = delete;
  TField& operator=(const TField&) = delete;

  const std::string& Name() const noexcept { return def_.Name; }
  const std::string& FieldName() const noexcept { return def_.Name; }
  std::uint16_t FieldNo() const noexcept { return def_.FieldNo; }
  int Index() const noexcept { return index_; }
  TFieldType DataType() const noexcept { return def_.DataType; }
  int Size() const noexcept { return def_.Size; }
  bool Required() const noexcept { return def_.Required; }
  const std::string& Origin() const noexcept { return def_.Origin; }
  const std::string& DisplayLabel() const noexcept { return displayLabel_.empty() ? def_.Name : displayLabel_; }
  void SetDisplayLabel(const std::string& label) { displayLabel_ = label; }
  bool ReadOnly() const noexcept { return readOnly_; }
  void SetReadOnly(bool value) noexcept { readOnly_ = value; }
  bool IsBlob() const noexcept { return IsBlobFieldType(def_.DataType); }
  const TFieldDefinition& EngineDefinition() const noexcept { return def_.Engine; }

  bool IsNull() const;
  std::string AsString() const;
  std::int32_t AsInteger() const;
  std::int64_t AsLargeInt() const;
  double AsFloat() const;
  bool AsBoolean() const;

  void SetAsString(const std::string& value);
  void SetAsInteger(std::int32_t value);
  void SetAsLargeInt(std::int64_t value);
  void SetAsFloat(double value);
  void SetAsBoolean(bool value);
  void Clear();

  // Packs a text value into the engine format of this field (for parameters
  // and searches): false when the field is BLOB-typed.
  bool EncodeText(const std::string& value, std::uint8_t* destination) const;

 private:
  [[noreturn]] void AccessError(const char* typeName) const;
  // The raw value; false when null.
  bool Read(std::uint8_t* buffer) const;
  void Write(const std::uint8_t* buffer);
  void WriteInteger(std::int64_t value);
  void WriteFloat(double value);

  TFieldDataLink& link_;
  TFieldDef def_;
  int index_;
  std::string displayLabel_;
  bool readOnly_ = false;
};

// General format with up to 15 significant digits: fixed notation while the
// integer part has at most 15 digits and the value is at least 0.00001,
// otherwise scientific ("1.5E-6", "1E20"); '.' as decimal separator.
std::string FormatFloatGeneral(double value);
// Rounds to the nearest integer, halves to even; EConvertError outside 32 bits.
std::int32_t RoundToInteger(double value, const std::string& text);
// A decimal 32-bit integer (optional sign, surrounding blanks ignored); raises
// "'%s' is not a valid integer value" as EConvertError otherwise.
std::int32_t StrToInt(const std::string& text);

}  // namespace tarn
