// Small table structures for the format tests, built with the engine's own
// definition helpers.
#pragma once

#include <cstdint>
#include <functional>
#include <string_view>
#include <vector>

#include "core/errors.h"
#include "storage/formats/data_header.h"
#include "storage/formats/field_definition.h"
#include "storage/formats/index_header.h"
#include "storage/formats/record_layout.h"

namespace tarn::testing {

inline TFieldDefinition MakeField(std::string_view name, std::uint8_t type, std::uint8_t size = 0,
                                  std::uint8_t subType = dstNone) {
  TFieldDefinition def = MakeEmptyFieldDefinition();
  def.Name.Assign(name);
  def.DataType = type;
  def.SubType = subType;
  def.Size = size;
  return def;
}

// Numbers the fields, computes physical sizes and assigns offsets as table
// creation does.
inline void LayOut(std::vector<TFieldDefinition>& fields) {
  std::uint16_t offset = kRecordHeaderSize;
  for (std::size_t i = 0; i < fields.size(); ++i) {
    TFieldDefinition& def = fields[i];
    def.FieldNumber = static_cast<std::uint16_t>(i + 1);
    UpdateFieldSize(def);
    UpdateFieldDecimals(def);
    if (IsAutoIncField(def)) {
      def.FieldOffset = kAutoIncFieldOffset;
    } else {
      def.FieldOffset = offset;
      offset = static_cast<std::uint16_t>(offset + def.PhysicalSize + 1);
    }
  }
}

inline const TTableContext kContext{"/data/", "quota"};

// The engine error code raised by fn, or 0 when nothing was raised.
inline TarnErrorCode RaisedCode(const std::function<void()>& fn) {
  try {
    fn();
  } catch (const ETarnEngineError& e) {
    return e.ErrorCode();
  }
  return 0;
}

// A table: ID auto-increment, NAME string(20), LIMIT integer, NOTE memo.
inline std::vector<TFieldDefinition> QuotaFields() {
  std::vector<TFieldDefinition> fields{MakeField("ID", dtInteger, 0, dstAutoInc), MakeField("NAME", dtString, 20),
                                       MakeField("LIMIT", dtInteger), MakeField("NOTE", dtBlob, 0, dstMemo),
                                       MakeField("PRICE", dtBCD)};
  LayOut(fields);
  return fields;
}

inline TIndexDefinition MakeIndex(std::string_view name, std::initializer_list<std::uint16_t> keyFields,
                                  std::span<const TFieldDefinition> fields, bool unique) {
  TIndexDefinition def = MakeEmptyIndexDefinition();
  def.Name.Assign(name);
  def.Unique = unique ? 1 : 0;
  std::size_t keySize = 0;
  std::size_t k = 0;
  for (std::uint16_t number : keyFields) {
    def.KeyFields[k++] = number;
    keySize += GetIndexedSize(fields[number - 1u]) + 1u;
  }
  def.KeyFieldCount = static_cast<std::uint8_t>(k);
  def.KeySize = static_cast<std::uint16_t>(keySize + (unique ? 0 : kRecordIdKeyBytes));
  return def;
}

}  // namespace tarn::testing
