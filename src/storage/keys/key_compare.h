// Comparison of keys: unsigned byte comparison, single characters in a
// language's order, index keys (whole, or a prefix of the first key fields)
// and sort keys. ANSI Standard tables compare keys as one byte string; tables
// with a language compare string parts with the locale collation.
#pragma once

#include <cstddef>
#include <cstdint>

#include "storage/keys/key_layout.h"

namespace tarn {

// Unsigned comparison of length bytes; -1, 0 or 1, the sign reversed when
// descending. A null first buffer compares as 1.
int CompareBytes(const void* a, const void* b, std::size_t length, bool descending) noexcept;

// Two characters in the order of a language: byte order for language 0, else
// the accent-blind locale comparison of the two one-character strings.
int CompareChar(std::uint16_t languageID, std::uint16_t sortID, char c1, char c2);

// Compares the first length bytes of two index keys of the layout; -1, 0, 1.
// A length shorter than the key compares a prefix (the first fields).
int CompareKeys(const TKeyLayout& layout, const std::uint8_t* a, const std::uint8_t* b, std::size_t length);

// Compares two sort keys; the trailing record IDs take part only when
// includeRecordID is set.
int CompareSortKeys(const TKeyLayout& layout, const std::uint8_t* a, const std::uint8_t* b, bool includeRecordID);

}  // namespace tarn
