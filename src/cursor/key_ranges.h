// Key ranges of the current index from a condition on its first key field:
// the lowest and highest keys, the low and high fills of a key's tail, the
// step to the next or previous key at a byte position (byte order for
// language 0 and the deleted-records index, the language's character order
// for string bytes otherwise), the constant in key form, and the inclusive
// range [low, high] that a comparison, BETWEEN, IS NULL or a prefix selects.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "expressions/exp_token.h"
#include "expressions/exp_types.h"
#include "storage/keys/character_maps.h"
#include "storage/keys/key_layout.h"

namespace tarn {

// The index a range is built for.
struct TKeyRangeIndex {
  const TKeyLayout& Layout;
  std::size_t KeySize;
  const TLanguageCharMap& CharMap;
};

// The lowest and highest possible key in the index's byte terms.
void FillAllLowBytes(const TKeyRangeIndex& index, std::uint8_t* key);
void FillAllHighBytes(const TKeyRangeIndex& index, std::uint8_t* key);
// Low (high) bytes from position from (0-based) to the end of the key. On
// the text index the word area keeps from - 1 characters.
void SetLowBytes(const TKeyRangeIndex& index, std::uint8_t* key, std::size_t from);
void SetHighBytes(const TKeyRangeIndex& index, std::uint8_t* key, std::size_t from);
// The next (previous) key at position (0-based), carrying to the left but not
// past position first. False when the carry would leave first: the bytes from
// first to position are then the highest (lowest) ones.
bool IncLastByte(const TKeyRangeIndex& index, std::uint8_t* key, std::size_t position, std::size_t first = 0);
bool DecLastByte(const TKeyRangeIndex& index, std::uint8_t* key, std::size_t position, std::size_t first = 0);

// The constant in key form for the first key field: presence byte (0 for a
// null constant) and the prepared value, with the index's case flag and
// without descending; the rest of the key is zero.
void BuildConstantKey(const TKeyRangeIndex& index, const TExpToken& constant, std::uint8_t* key);

// Whether a constant's value can stand for the first key field in key form:
// the field's own type (any string for a string field, no longer than the
// field holds).
bool ConstantFitsKey(const TKeyLayout& layout, const TExpToken& constant);

// Turns the constant(s) already in key form in low (and, for BETWEEN, high)
// into the inclusive range of operator op. partialLength > 0 compares that
// many leading characters of a string. indexedSize is the first key field's
// (61 + 2 for the text index). False when the range is empty (a bound
// stepped past the first field's values).
bool BuildRangeFromConstant(const TKeyRangeIndex& index, TExpOperator op, std::uint8_t* high, std::uint8_t* low,
                            std::int32_t partialLength);

// A whole range from a condition: field op constant (eoBETWEEN / eoNOTBETWEEN
// with upper as the second bound). The NULL rewrites apply (eoNE NULL ->
// eoNOTBLANK, eoEQ / eoLIKE NULL -> eoISBLANK); eoNE, eoNOTBETWEEN and eoNOTIN
// are built as their positive form with Invert set. With a language, a string
// eoGT / eoLT is built as eoGE / eoLE and ExcludeEqual names the keys equal
// to the constant, which the caller removes (locale collation has no "next
// string").
struct TKeyRange {
  std::vector<std::uint8_t> Low;
  std::vector<std::uint8_t> High;
  bool Empty = false;
  bool Invert = false;
  bool ExcludeEqual = false;
  std::vector<std::uint8_t> EqualLow;
  std::vector<std::uint8_t> EqualHigh;
  bool NullTest = false;  // built as eoISBLANK / eoNOTBLANK
};
TKeyRange MakeKeyRange(const TKeyRangeIndex& index, TExpOperator op, const TExpToken* constant,
                       const TExpToken* upper, std::int32_t partialLength);

// The range of a text-index word (slot 32): field number and upper-case word,
// a prefix of partialLength characters when not 0.
TKeyRange MakeTextWordRange(const TKeyRangeIndex& index, std::uint16_t fieldNumber, const std::string& word,
                            std::int32_t partialLength);

}  // namespace tarn
