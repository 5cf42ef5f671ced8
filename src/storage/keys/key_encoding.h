// Order-preserving key forms of field values: the Flip routines (big-endian
// bytes with the sign bit inverted, so unsigned byte order is value order) and
// PrepareDataForIndex, which writes one field's key form after its presence
// byte and complements it for descending fields of ANSI Standard tables.
#pragma once

#include <cstddef>
#include <cstdint>

#include "storage/formats/field_definition.h"

namespace tarn {

// Integers: big-endian bytes, top bit of the first byte inverted.
void FlipIntegerBits(std::int32_t value, void* out) noexcept;    // 4 bytes
void FlipSmallIntBits(std::int16_t value, void* out) noexcept;   // 2 bytes
void FlipLargeIntBits(std::int64_t value, void* out) noexcept;   // 8 bytes
// A currency value (64-bit integer of ten-thousandths), as a large integer.
void FlipCurrencyBits(std::int64_t currency, void* out) noexcept;  // 8 bytes
// Unsigned 16-bit: big-endian bytes, nothing inverted.
void FlipWordBits(std::uint16_t value, void* out) noexcept;     // 2 bytes
// Doubles: >= 0 (and -0.0) big-endian with the top bit set; negative values
// big-endian with every byte complemented.
void FlipFloatBits(double value, void* out) noexcept;           // 8 bytes
// Replaces every byte b by 255 - b.
void FlipBuffer(void* buffer, std::size_t length) noexcept;
// Negation (wrapping for the smallest value).
constexpr std::int32_t FlipIntegerSign(std::int32_t value) noexcept {
  return static_cast<std::int32_t>(0u - static_cast<std::uint32_t>(value));
}

// The 34-byte packed decimal (precision, sign and places, 32 bytes of digits
// two to a byte, first digit in the high half, the last `places` digits being
// the fraction) as a currency value: ten-thousandths, rounded half away from
// zero. Values beyond the 64-bit range saturate; nibbles above 9 count as 9.
std::int64_t BcdToCurrency(const std::uint8_t* bcd) noexcept;

// Writes the key form of one field value after the presence byte at keyPart.
// keyPart[0] is the presence byte, set by the caller (1 = value, 0 = null);
// the indexed-size bytes after it must be zeroed by the caller. value points
// at the field's physical bytes (physicalSize of them). A null value writes
// no value bytes. With descending and language ID 0 the presence byte and
// the value are complemented (for strings all but the last value byte, which
// stays the terminating zero).
void PrepareDataForIndex(std::uint8_t dataType, std::uint8_t physicalSize, const std::uint8_t* value,
                         std::uint8_t* keyPart, std::uint16_t sortID, std::uint16_t languageID, bool descending,
                         bool caseInsensitive);

// The same with the field's definition.
void PrepareDataForIndex(const TFieldDefinition& fieldDef, const std::uint8_t* value, std::uint8_t* keyPart,
                         std::uint16_t sortID, std::uint16_t languageID, bool descending, bool caseInsensitive);

}  // namespace tarn
