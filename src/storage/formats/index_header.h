// The index file header (4096 bytes at offset 0 of the index file) with its 33
// index definition slots, and the operations that define, move and clear
// index definitions at file level.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "storage/formats/field_definition.h"
#include "storage/formats/index_definition.h"
#include "storage/formats/table_context.h"

namespace tarn {

inline constexpr std::size_t kIndexHeaderSize = 4096;
inline constexpr std::size_t kIndexSlotCount = 33;
inline constexpr std::size_t kPrimaryIndexSlot = 0;
inline constexpr std::size_t kMaxSecondaryIndexes = 30;
inline constexpr std::size_t kDeletedIndexSlot = 31;
inline constexpr std::size_t kTextIndexSlot = 32;
// Index position meaning physical order.
inline constexpr std::size_t kPhysicalOrderPosition = 255;
inline constexpr std::uint16_t kDeletedIndexKeySize = 5;
inline constexpr std::uint16_t kTextIndexKeySize = 68;
inline constexpr std::string_view kDeletedIndexName = "Sys Deleted";
inline constexpr std::string_view kTextIndexName = "Sys Text";

// In memory an ordinary aligned struct; the stored image (4096 bytes, offsets
// below) is written and read field by field.
struct TIndexHeader {
  std::int32_t LastUpdateStamp;
  std::array<std::uint8_t, 4> Reserved1;
  std::uint8_t VersionNum;
  std::int32_t NextPageNumber;   // pages in the file + 1
  std::uint8_t IndexCount;       // secondary indexes, 0..30
  std::array<TIndexDefinition, kIndexSlotCount> Slots;
  std::int32_t ActualRecordCount;
  std::uint8_t NoPrimaryIndex;
  std::uint8_t HeaderChanged;
  std::array<std::uint8_t, 116> Reserved2;
};

namespace index_header_offsets {
inline constexpr std::size_t LastUpdateStamp = 0;
inline constexpr std::size_t Reserved1 = 4;
inline constexpr std::size_t VersionNum = 8;
inline constexpr std::size_t NextPageNumber = 9;
inline constexpr std::size_t IndexCount = 13;
inline constexpr std::size_t Slots = 14;
inline constexpr std::size_t ActualRecordCount = 3974;
inline constexpr std::size_t NoPrimaryIndex = 3978;
inline constexpr std::size_t HeaderChanged = 3979;
inline constexpr std::size_t Reserved2 = 3980;
static_assert(Slots + kIndexSlotCount * kIndexDefinitionSize == ActualRecordCount &&
              Reserved2 + 116 == kIndexHeaderSize);
}  // namespace index_header_offsets

// The header of a new, empty index file: version 5, next page 1 and the two
// fixed slots ("Sys Deleted" and "Sys Text"); marked changed.
TIndexHeader CreateIndexHeader() noexcept;

// Header image from the stored bytes (descrambled when the table is
// encrypted); reading clears the header changed flag.
TIndexHeader ReadIndexHeader(std::span<const std::uint8_t, kIndexHeaderSize> bytes, bool encrypted) noexcept;
// The stored bytes (scrambled when the table is encrypted).
std::array<std::uint8_t, kIndexHeaderSize> IndexHeaderBytes(const TIndexHeader& header, bool encrypted) noexcept;

// What every header write changes: the stamp rises.
void PrepareIndexHeaderWrite(TIndexHeader& header) noexcept;

// Counters reset by emptying the file: version 5, next page 1, no live
// records, and every slot's root page, free-page head and data root page 0.
void ClearIndexHeaderCounters(TIndexHeader& header) noexcept;

// Pages in use (next page number - 1, never negative) and whether n is one.
std::int32_t GetPhysicalPagesUsed(const TIndexHeader& header) noexcept;
bool CheckPageNumber(const TIndexHeader& header, std::int64_t n) noexcept;
std::uint64_t GetIndexFileSize(const TIndexHeader& header) noexcept;

// Copies name, key size, flags, compression and key fields into a slot; the
// root page becomes 0, bytes 94 and 100..119 are cleared, the free-page head
// and the data root page of the slot are kept.
void SetIndexDefinition(TIndexHeader& header, std::size_t slot, const TIndexDefinition& def) noexcept;
// Replaces only the name and the key field numbers of a slot.
void UpdateIndexDefinition(TIndexHeader& header, std::size_t slot, const TIndexDefinition& def) noexcept;

// Defines the primary index (slot 0). Raises TARN_PRIMARYKEYREDEFINE,
// TARN_INDEXLIMIT or TARN_SEARCHCOLREQD; no key fields means no primary index.
void AddPrimaryIndex(TIndexHeader& header, const TIndexDefinition& def, std::span<const TFieldDefinition> fields,
                     const TTableContext& context);
// Defines the next secondary index. Raises TARN_INDEXLIMIT,
// TARN_INDEXNAMEREQUIRED, TARN_INVALIDINDEXNAME, TARN_INDEXEXISTS or
// TARN_SEARCHCOLREQD.
void AddSecondaryIndex(TIndexHeader& header, const TIndexDefinition& def, std::span<const TFieldDefinition> fields,
                       const TTableContext& context);
// Slot 0: the table no longer has a primary index. A secondary slot with
// removeDefinition: the later secondary slots move down by one and the removed
// definition (with its free-page list) is kept just past the new last one.
void DeleteIndex(TIndexHeader& header, std::size_t slot, bool removeDefinition) noexcept;
// True when slot 0..index count has this name (ignoring case).
bool IndexExists(const TIndexHeader& header, std::string_view name) noexcept;

}  // namespace tarn
