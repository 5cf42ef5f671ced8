// The structure checks a new or restructured table passes before any of its
// files is touched: table-wide limits (password, locale, field, index and
// BLOB counts, BLOB block size, record size), the field rules, and the index
// definitions with their key sizes.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "storage/formats/data_header.h"
#include "storage/formats/field_definition.h"
#include "storage/formats/index_definition.h"

namespace tarn {

// The names every structure error carries.
struct TStructureContext {
  std::string TableName;
  std::string DatabaseName;
};

// Largest stored key: the key fields with their null flags, and the record ID
// of a non-unique index.
inline constexpr std::size_t kMaxIndexKeySize = kMaxKeySize;
// Secondary indexes a table may have (slots 1..30; 31 and 32 are the engine's).
inline constexpr std::size_t kMaxTableSecondaryIndexes = 30;

// The index definitions of a table: Indexes[0] is the primary index (no key
// fields: none), Indexes[1..] the secondary indexes in slot order; TextIndex,
// when given, the definition of the text index.
struct TIndexStructure {
  std::span<TIndexDefinition> Indexes;
  TIndexDefinition* TextIndex = nullptr;
  // A primary index without key fields is accepted (the table then has none).
  bool AllowEmptyPrimaryIndex = true;
};

// Everything the table-wide checks look at.
struct TTableStructure {
  std::uint16_t LanguageID = 0;
  std::uint16_t SortID = 0;
  bool Encrypted = false;
  std::string Password;
  std::uint16_t BlobBlockSize = 512;
  std::int32_t InitialAutoIncValue = 0;
  std::span<TFieldDefinition> Fields;
  TIndexStructure Indexes;
};

// Checks, in this order, raising with the table and database names:
//  1. encrypted: the trimmed password not empty and at most 15 bytes, else
//     TARN_INVALIDPASSWORD;
//  2. a language ID other than 0 that is not in the engine's language table
//     or whose (language, sort) pair the platform lacks: TARN_CANNOTLOADLDDRV;
//  3. more than 1024 fields or an initial auto-increment value below -1:
//     TARN_FLDLIMIT;
//  4. an index count above 30 secondary indexes (slots 31 and 32 are the
//     engine's own): TARN_INDEXLIMIT;
//  5. a BLOB block size below 64: TARN_BLOBLIMIT;
//  6. the field rules with offsets assigned (VerifyFieldInformation), which
//     also refuse a record above 65,535 bytes with TARN_RECTOOBIG; then more
//     than 128 BLOB fields: TARN_BLOBLIMIT;
//  7. VerifyIndexInformation.
// Completes the field and index definitions in place.
void VerifyStructureInformation(TTableStructure& structure, const TStructureContext& context);

// For slot 0 (primary, index name "Primary" in errors) and then every
// secondary slot in order:
//  - secondary: the name trimmed and upper-cased; empty raises
//    TARN_INDEXNAMEREQUIRED, not starting with a letter TARN_INVALIDINDEXNAME,
//    equal to an earlier secondary name TARN_INDEXEXISTS;
//  - primary: name cleared, made unique;
//  - key fields 1..16 up to the first 0; a non-zero number after a 0 raises
//    TARN_INVALIDIDXDESC (the number as field context), as does a number no
//    field has (except in an empty-allowed primary index, where it ends the
//    list); a BLOB key field raises TARN_SEARCHCOLREQD;
//  - the key size (indexed size + 1 per key field) above 522, or 0 (except
//    for an empty-allowed primary index), raises TARN_INVALIDKEY; a
//    non-unique index then adds its 4-byte record ID, which must fit in 522
//    bytes as well;
//  - key field count and key size are stored; root page, free-page head and
//    data root page are zeroed.
// Then the text index, when given: the same gap and lookup rules, every field
// a string or a memo (else TARN_SEARCHCOLREQD), key size 68.
void VerifyIndexInformation(std::span<const TFieldDefinition> fields, TIndexStructure& indexes,
                            const TStructureContext& context);

// What an index definition is checked as.
enum class TIndexRole : std::uint8_t {
  irPrimary,           // slot 0, must have key fields
  irPrimaryMayBeEmpty, // slot 0, no key fields means no primary index
  irSecondary,         // slots 1..30
};

// The checks and completions of VerifyIndexInformation for one definition
// (its name rules without the comparison with other indexes).
void VerifyIndexDefinition(TIndexDefinition& def, std::span<const TFieldDefinition> fields, TIndexRole role,
                           const TStructureContext& context);

}  // namespace tarn
