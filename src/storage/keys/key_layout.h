// The layout of an index or sort key: which kind of key (ordinary index, the
// deleted-records index, the text index), the table's language and sort, the
// whole-key flags and, per key field, its type, size, record offset and own
// descending flag. Built once per index (or sort) and used to build and
// compare keys.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "storage/formats/field_definition.h"
#include "storage/formats/index_definition.h"

namespace tarn {

enum TKeyKind : std::uint8_t {
  kkIndex = 0,           // presence byte and value per key field (+ record ID)
  kkDeletedRecords = 1,  // deleted flag byte and flipped record ID (5 bytes)
  kkText = 2,            // 3-byte prefix, 61-byte word, 4 trailing bytes (68 bytes)
};

inline constexpr std::size_t kTextKeyPrefixBytes = 3;
inline constexpr std::size_t kTextKeyWordBytes = 61;
inline constexpr std::size_t kTextKeyTrailBytes = 4;

struct TKeyField {
  std::uint8_t DataType = 0;
  std::uint8_t PhysicalSize = 0;
  std::uint16_t FieldOffset = 0;  // offset of the field's null-flag byte in a record
  bool AutoInc = false;           // reads the record ID at offset 5, never null
  bool Descending = false;        // this field's own descending flag

  std::uint8_t IndexedSize() const noexcept;
};

struct TKeyLayout {
  TKeyKind Kind = kkIndex;
  std::uint16_t LanguageID = 0;
  std::uint16_t SortID = 0;
  bool Descending = false;       // the whole index is descending (never for sort keys)
  bool CaseInsensitive = false;
  bool Unique = true;            // false: the record ID ends every key
  std::vector<TKeyField> Fields;

  // Sum over the key fields of indexed size + 1.
  std::size_t FieldsSize() const noexcept;
  // Bytes of a whole key (with the record ID of a non-unique index).
  std::size_t KeySize() const noexcept;
};

// The key field of a field definition.
TKeyField MakeKeyField(const TFieldDefinition& def, bool descending) noexcept;

// The layout of an index slot over the table's field definitions (field
// number n is fields[n - 1]). Raises TARN_INDEXLIMIT for more than 16 key
// fields and TARN_INVALIDKEY for an unknown or BLOB key field, or a key size
// of 0 or above 522 bytes (indexName is the error's context).
TKeyLayout MakeIndexKeyLayout(const TIndexDefinition& def, std::span<const TFieldDefinition> fields,
                              std::size_t slot, std::uint16_t languageID, std::uint16_t sortID,
                              std::string_view indexName = {});

// The layout of a sort key: the given fields with their own descending flags,
// the case-insensitive flag, and always the record ID.
TKeyLayout MakeSortKeyLayout(std::span<const TKeyField> fields, bool caseInsensitive, std::uint16_t languageID,
                             std::uint16_t sortID);

}  // namespace tarn
