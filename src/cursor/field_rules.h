// The field rules: the checks and completions every set of field definitions
// passes before a cursor maps it or a table is created or restructured from
// it (names, numbers, types and sizes, default/minimum/maximum texts,
// physical sizes, the calculated flag and the record offsets).
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "storage/formats/field_definition.h"

namespace tarn {

// The names an error about a field carries besides the field's own name.
struct TFieldRulesContext {
  std::string TableName;
  std::string DatabaseName;
};

struct TFieldRulesOptions {
  // Give each stored field its offset in the record (table creation and
  // restructuring); a result-set mapping keeps the offsets it was given.
  bool AssignOffsets = false;
  // The definitions describe a result set, whose calculated fields stay
  // calculated; anywhere else the calculated flag is cleared.
  bool IsResultSet = false;
};

// Largest declared decimals of a dtBCD field (the table header accepts no more).
inline constexpr std::uint8_t kMaxFieldBcdDecimals = 63;

// Checks and completes the definitions in place, one after another:
//  1. the name is trimmed and cut to 30 bytes (never inside a double-byte
//     character); an empty name or one that does not start with a letter
//     (A-Z, a-z, '_', codes 128..254) raises TARN_INVALIDFIELDNAME;
//  2. a name equal to another definition's (trimmed, without regard to case)
//     raises TARN_INVALIDFIELDNAME, a field number equal to another's
//     TARN_INVALIDFLDTYPE;
//  3. data type 0, a declared size above 250 for strings, bytes and varbytes,
//     or BCD decimals above 63 raise TARN_INVALIDFLDTYPE; other types get
//     declared size 0;
//  4. the default, minimum and maximum texts, in that order, must be valid for
//     the type, else TARN_INVALIDVCHKSTRUCT;
//  5. decimals are cleared unless the type is dtBCD; physical size and
//     decimals are computed from the type;
//  6. the calculated flag is cleared unless the definitions are a result set;
//  7. a stored field gets its offset: an auto-increment field 5 (the record
//     ID), any other the running offset (from 9, growing by physical size + 1).
// Every error carries the field, table and database names. When offsets are
// assigned, a record growing beyond 65,535 bytes raises TARN_RECTOOBIG (table,
// database). Answers the running offset, the record size of the stored
// fields (at most 65,535).
std::uint16_t VerifyFieldInformation(std::span<TFieldDefinition> definitions, const TFieldRulesContext& context,
                                     const TFieldRulesOptions& options);

}  // namespace tarn
