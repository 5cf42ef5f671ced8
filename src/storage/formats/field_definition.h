// The field definition record (768 bytes, one per field after the data header)
// and the helpers that derive a field's physical size from its type.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "storage/formats/data_types.h"
#include "storage/formats/short_field.h"

namespace tarn {

enum TFieldCharCase : std::uint8_t {
  fcNoChange = 0,
  fcLowerCase = 1,
  fcUpperCase = 2,
};

inline constexpr std::size_t kFieldDefinitionSize = 768;
inline constexpr std::size_t kFieldWorkingAreaSize = 520;
inline constexpr std::size_t kFieldNameLength = 30;
inline constexpr std::size_t kExpressionTextLength = 50;
inline constexpr std::size_t kOriginNameLength = 100;

// The parsed expression of a calculated field; a type of the expression layer,
// which owns it (the definition only refers to it).
class TExpToken;

// What a cursor keeps in memory in a definition's working area. None of it is
// stored: the stored image has zeros there.
struct TFieldWorkingData {
  const TExpToken* Expression = nullptr;  // calculated field: its parsed expression (not owned)
  bool SortDescending = false;            // sort field: sorted in descending order
  TShortField<kOriginNameLength> OriginName;  // table name, '.', field name
  std::int16_t SourceFieldNumber = 0;     // physical field shown; 0 for a calculated field
};

// In memory the definition is an ordinary aligned struct; its stored image
// (768 bytes, offsets below) is written and read field by field.
struct TFieldDefinition {
  std::uint16_t FieldNumber;           // 1-based, equal to the position
  TShortField<30> Name;
  TShortField<50> Description;
  std::uint8_t DataType;               // TDataType
  std::uint8_t SubType;                // TDataSubType
  std::uint8_t Size;                   // declared size (strings, bytes)
  std::uint8_t Decimals;               // declared scale (BCD)
  std::uint8_t PhysicalSize;           // bytes of data in the record
  std::uint8_t PhysicalDecimals;
  std::uint16_t FieldOffset;           // offset of the null-flag byte
  std::uint8_t Required;
  std::uint8_t CharCase;               // TFieldCharCase
  TShortField<50> MinValue;
  TShortField<50> MaxValue;
  TShortField<50> DefaultValue;
  std::uint8_t Computed;               // 0 in every stored definition
  TFieldWorkingData Working;           // run-time data (bytes 248..767); zero when stored
};

// Offsets in the stored image.
namespace field_offsets {
inline constexpr std::size_t FieldNumber = 0;
inline constexpr std::size_t Name = 2;
inline constexpr std::size_t Description = 33;
inline constexpr std::size_t DataType = 84;
inline constexpr std::size_t SubType = 85;
inline constexpr std::size_t Size = 86;
inline constexpr std::size_t Decimals = 87;
inline constexpr std::size_t PhysicalSize = 88;
inline constexpr std::size_t PhysicalDecimals = 89;
inline constexpr std::size_t FieldOffset = 90;
inline constexpr std::size_t Required = 92;
inline constexpr std::size_t CharCase = 93;
inline constexpr std::size_t MinValue = 94;
inline constexpr std::size_t MaxValue = 145;
inline constexpr std::size_t DefaultValue = 196;
inline constexpr std::size_t Computed = 247;
inline constexpr std::size_t WorkingArea = 248;
static_assert(Name + 31 == Description && Description + 51 == DataType && MinValue + 51 == MaxValue &&
              MaxValue + 51 == DefaultValue && DefaultValue + 51 == Computed &&
              WorkingArea + kFieldWorkingAreaSize == kFieldDefinitionSize);
}  // namespace field_offsets

// One stored image (768 bytes at image): the computed flag and the working
// area are written as zeros and read back as zeros.
void WriteFieldDefinition(const TFieldDefinition& def, std::uint8_t* image) noexcept;
TFieldDefinition ReadFieldDefinition(const std::uint8_t* image) noexcept;

// A zeroed definition.
TFieldDefinition MakeEmptyFieldDefinition() noexcept;

// Sets the physical size from the data type and declared size.
void UpdateFieldSize(TFieldDefinition& def) noexcept;
// Copies the declared decimals to the physical decimals.
void UpdateFieldDecimals(TFieldDefinition& def) noexcept;
// Bytes the field occupies in an index or sort key after its presence byte.
std::uint8_t GetIndexedSize(const TFieldDefinition& def) noexcept;
// An auto-increment field: an integer of sub type dstAutoInc, stored as the
// record ID at offset 5 with no bytes of its own.
bool IsAutoIncField(const TFieldDefinition& def) noexcept;

// The definition area as stored: one 768-byte image per definition, with the
// computed flag and the working area zeroed, scrambled with the record seeds
// when the table is encrypted.
std::vector<std::uint8_t> WriteFieldDefinitions(std::span<const TFieldDefinition> defs, bool encrypted);

// Definitions from a stored area (descrambled when the table is encrypted).
// The area must hold a whole number of definitions; a trailing part is ignored.
std::vector<TFieldDefinition> ReadFieldDefinitions(std::span<const std::uint8_t> area, bool encrypted);

}  // namespace tarn
