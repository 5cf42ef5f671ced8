// Building keys from record buffers: index keys (presence byte and key form
// per key field, record ID for non-unique indexes), sort keys (always with the
// record ID) and deleted-records index keys.
#pragma once

#include <cstdint>
#include <span>

#include "storage/keys/key_layout.h"

namespace tarn {

// Writes the key of a record into key (at least layout.KeySize() bytes).
// recordID is the ID appended for a non-unique index (normally the record's
// own, record bytes 5-8). Raises TARN_INVALIDKEY when a key field lies outside
// the record or the key buffer is too small.
void BuildIndexKey(const TKeyLayout& layout, std::span<const std::uint8_t> record, std::span<std::uint8_t> key,
                   std::int32_t recordID);

// The same, with the record ID taken from the record.
void BuildIndexKey(const TKeyLayout& layout, std::span<const std::uint8_t> record, std::span<std::uint8_t> key);

// A sort key: the sort fields and always the record's flipped record ID.
void BuildSortKey(const TKeyLayout& layout, std::span<const std::uint8_t> record, std::span<std::uint8_t> key);

// The key of the deleted-records index: deleted flag and flipped record ID.
void BuildDeletedKey(std::span<const std::uint8_t> record, std::span<std::uint8_t> key);

}  // namespace tarn
