// Field and index definitions for test tables, built and laid out the way
// table creation does it, so every suite describes its tables the same way.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <span>
#include <string_view>
#include <vector>

#include "storage/formats/field_definition.h"
#include "storage/formats/index_definition.h"
#include "storage/formats/record_layout.h"

namespace tarn::test_support {

// A field with its name, type, size and sub type; numbers and offsets come
// from LayOut.
inline TFieldDefinition MakeField(std::string_view name, std::uint8_t type, std::uint8_t size = 0,
                                  std::uint8_t subType = dstNone) {
  TFieldDefinition def = MakeEmptyFieldDefinition();
  def.Name.Assign(name);
  def.DataType = type;
  def.SubType = subType;
  def.Size = size;
  return def;
}

// Numbers the fields, computes physical sizes and decimals and assigns
// offsets as table creation does: each field's null flag and data follow the
// record header in field order; an auto-increment field lives in the header.
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

inline std::vector<TFieldDefinition> LaidOut(std::vector<TFieldDefinition> fields) {
  LayOut(fields);
  return fields;
}

// An index over the numbered fields with the key size table creation gives it
// (a null flag and the indexed size per field, the record id when not unique).
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

}  // namespace tarn::test_support
