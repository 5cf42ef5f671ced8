// The index definition record (120 bytes): one slot of the index header and
// the record passed between the index file and the cursor.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "storage/formats/short_field.h"

namespace tarn {

enum TIndexCompression : std::uint8_t {
  icNone = 0,
  icDuplicateByte = 1,
  icTrailingByte = 2,
  icFull = 3,
};

inline constexpr std::size_t kIndexDefinitionSize = 120;
inline constexpr std::size_t kMaxKeyFields = 16;
inline constexpr std::size_t kMaxKeySize = 522;
// Bytes a non-unique index adds to each key: the record ID.
inline constexpr std::size_t kRecordIdKeyBytes = 4;

// In memory an ordinary aligned struct; the stored image (120 bytes, offsets
// below) is written and read field by field.
struct TIndexDefinition {
  TShortField<30> Name;                          // empty for the primary index
  std::uint16_t KeySize;
  std::uint8_t Descending;
  std::uint8_t CaseInsensitive;
  std::uint8_t Unique;
  std::uint8_t Compression;                      // TIndexCompression
  std::uint8_t KeyFieldCount;
  std::array<std::uint8_t, kMaxKeyFields> KeyFieldDescending;
  std::array<std::uint16_t, kMaxKeyFields> KeyFields;  // field numbers, 0 = unused
  std::int32_t RootPageNumber;
  std::int32_t NextFreePageNumber;
  std::uint8_t Reserved1;                        // cleared whenever the definition is set
  std::uint8_t RemovalMark;                      // used while a header is repaired
  std::int32_t DataRootPageNumber;
  std::array<std::uint8_t, 20> Reserved2;        // cleared whenever the definition is set
};

namespace index_definition_offsets {
inline constexpr std::size_t Name = 0;
inline constexpr std::size_t KeySize = 31;
inline constexpr std::size_t Descending = 33;
inline constexpr std::size_t CaseInsensitive = 34;
inline constexpr std::size_t Unique = 35;
inline constexpr std::size_t Compression = 36;
inline constexpr std::size_t KeyFieldCount = 37;
inline constexpr std::size_t KeyFieldDescending = 38;
inline constexpr std::size_t KeyFields = 54;
inline constexpr std::size_t RootPageNumber = 86;
inline constexpr std::size_t NextFreePageNumber = 90;
inline constexpr std::size_t Reserved1 = 94;
inline constexpr std::size_t RemovalMark = 95;
inline constexpr std::size_t DataRootPageNumber = 96;
inline constexpr std::size_t Reserved2 = 100;
static_assert(KeyFieldDescending + kMaxKeyFields == KeyFields && KeyFields + 2 * kMaxKeyFields == RootPageNumber &&
              Reserved2 + 20 == kIndexDefinitionSize);
}  // namespace index_definition_offsets

// One stored image of 120 bytes at image.
void WriteIndexDefinition(const TIndexDefinition& def, std::uint8_t* image) noexcept;
TIndexDefinition ReadIndexDefinition(const std::uint8_t* image) noexcept;

// Zeroes a definition.
void ClearIndexDefinition(TIndexDefinition& def) noexcept;
TIndexDefinition MakeEmptyIndexDefinition() noexcept;

}  // namespace tarn
