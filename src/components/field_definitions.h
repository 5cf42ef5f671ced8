// Field kinds of the dataset layer and the field definitions a dataset makes
// from its cursor: one per logical field of the cursor (an SQL answer's
// hidden AVG count columns are not logical fields: the answer maps them
// away), named after the engine field with "_1", "_2", ... appended to a
// name already taken; the kind and size table from engine types and back.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "storage/formats/field_definition.h"

namespace tarn {

class TDataCursor;

enum TFieldType : std::uint8_t {
  ftUnknown,
  ftString,
  ftSmallint,
  ftInteger,
  ftWord,
  ftBoolean,
  ftFloat,
  ftCurrency,
  ftBCD,
  ftDate,
  ftTime,
  ftDateTime,
  ftBytes,
  ftVarBytes,
  ftAutoInc,
  ftBlob,
  ftMemo,
  ftGraphic,
  ftFmtMemo,
  ftTypedBinary,
  ftFixedChar,
  ftWideString,
  ftLargeint,
  ftGuid,
};

// The kind's name as messages show it ("String", "Integer", ...).
const char* FieldTypeName(TFieldType kind) noexcept;
bool IsBlobFieldType(TFieldType kind) noexcept;

struct TFieldDef {
  std::string Name;
  std::uint16_t FieldNo = 0;  // the cursor's logical field number
  TFieldType DataType = ftUnknown;
  int Size = 0;       // declared size (strings, bytes) or decimals (BCD)
  int Precision = 0;  // 32 for BCD
  bool Required = false;
  std::string Origin;       // table name, '.', field name
  std::string Description;  // the table's description text of the field
  TFieldDefinition Engine;  // the engine definition the values are read with
};

// The kind and size of an engine field; ftUnknown for a type no field is made for.
TFieldType FieldTypeOf(const TFieldDefinition& def, int& size, int& precision) noexcept;
// The engine type (and, for BLOB kinds and the variants of strings, integers
// and floats, the sub type) of a field kind; false for a kind without one.
bool EngineTypeOf(TFieldType kind, std::uint8_t& dataType, std::uint8_t& subType) noexcept;

// The field definitions of an open cursor.
std::vector<TFieldDef> BuildFieldDefs(const TDataCursor& cursor);

}  // namespace tarn
