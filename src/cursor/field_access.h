// Field values in record buffers: reading and writing one field with the
// conversion rules of each type, the default values of a new record, and the
// required/minimum/maximum checks of a record. These are the free functions a
// cursor calls with its field definitions; the cursor itself decides which
// definitions (logical or physical) and handles calculated fields.
//
// A record buffer holds the 9-byte record header and then each stored field
// at its offset: a null-flag byte (1 = has a value, 0 = null) and the field's
// physical-size data bytes. An auto-increment field has no null flag: its
// value is the record ID at offset 5.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "cursor/field_rules.h"
#include "storage/formats/field_definition.h"

namespace tarn {

// The table language whose code page, case mapping and collation apply to
// string values.
struct TFieldLanguage {
  std::uint16_t LanguageID = 0;
  std::uint16_t SortID = 0;
};

// Bytes of the work area a default or limit value is converted into.
inline constexpr std::size_t kFieldValueWorkSize = 251;

// Reads one field. isNull is false for an auto-increment field, else true
// when the null flag is 0. With a destination: an auto-increment field copies
// its physical size from its offset (the record ID), a dtBlob field the first
// 4 bytes of its BLOB reference, any other field its physical size of data
// bytes; exactly those bytes of the destination are written (a null field's
// data bytes are zeros).
void InternalGetField(const TFieldDefinition& def, const std::uint8_t* record, std::uint8_t* destination,
                      bool& isNull);

// Writes one field; a null source sets the field null (flag 0, data zeroed;
// an auto-increment field is left as it is). With a source:
// - dtString: the zero-terminated text (at most physical size bytes are
//   read) cut to physical size - 1 bytes on a character boundary, trailing
//   blanks removed, then upper- or lower-cased per the field's character
//   case in the language's code page; an empty result is stored as null.
// - dtBlob: 4 bytes, a signed reference: positive has a value, zero is null,
//   negative (the handle of an open BLOB) has a value unless blobEmpty.
// - dtBoolean: any non-zero 16-bit value is stored as 1.
// - auto-increment: physical size bytes at offset 5, no null flag.
// - anything else: physical size bytes, flag 1.
// Calculated fields are the caller's business: this writes whatever it is given.
void InternalPutField(const TFieldDefinition& def, std::uint8_t* record, const std::uint8_t* source, bool blobEmpty,
                      const TFieldLanguage& language);

// The default text of a field as a value of its type in work (zeroed first):
// strings as the text; dates "CURRENT_DATE" (any case) or a date; times
// "CURRENT_TIME" or a time; timestamps "CURRENT_TIMESTAMP" (now),
// "CURRENT_DATE" (today at midnight), "CURRENT_TIME" (now on day 0) or a date
// and time; booleans as 0 or 1; integers at the field's width; floats;
// dtBCD as packed BCD with the field's decimals (rounded to at most 4).
// False for an empty text and for types without defaults (BLOBs, bytes and
// the rest). An unreadable text or an integer outside the field's width
// raises EConvertError.
bool ConvertDefaultValue(const TFieldDefinition& def, std::span<std::uint8_t, kFieldValueWorkSize> work);

enum TFieldExpressionType : std::uint8_t { feMinimum = 0, feMaximum = 1 };

// True when value (the field's data bytes, as InternalGetField gives them)
// passes the limit: for feMinimum it is not below the limit, for feMaximum
// not above it. The limit text is read as a value of the field's type
// (CURRENT_DATE and the like included). Strings compare in the language's
// collation; dates, times and timestamps as date-times; integers at their
// width (dtWord unsigned); floats; dtBCD as 4-decimal currency. An empty
// limit and types without an order (BLOBs, bytes, ...) pass.
bool CheckField(std::string_view limitText, TFieldExpressionType kind, const std::uint8_t* value,
                const TFieldDefinition& def, const TFieldLanguage& language);

// Checks the stored fields in position order: a required field that is null
// raises TARN_REQDERR before its limits are tested, a minimum it fails
// TARN_MINVALERR, a maximum TARN_MAXVALERR. A null field that is not required
// is compared with its zeroed value. The first failing field ends the check;
// the error carries field, table and database names.
void CheckRecordValidity(std::span<const TFieldDefinition> physical, const std::uint8_t* record,
                         const TFieldRulesContext& context, const TFieldLanguage& language);

// Stores the default of every stored field with a non-empty default text
// into a record buffer the caller has zeroed.
void ApplyDefaults(std::span<const TFieldDefinition> physical, std::uint8_t* record, const TFieldLanguage& language);

}  // namespace tarn
