// Conversion of one value between engine data types, in place in a buffer:
// used by CAST and IF, by import and export, by restructuring and by INSERT
// and UPDATE values (ConvertExpression), with the conversion's outcome kept
// apart so callers can tell unreadable input from a value that does not fit.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tarn {

// Bytes of the buffer ConvertExpression works in.
inline constexpr std::size_t kConvertBufferSize = 251;

enum class TConversionResult : std::uint8_t {
  Converted,   // the buffer holds the target value
  Failed,      // unreadable text or a pair of types without a rule: zero value
  DoesNotFit,  // the value exists but is out of the target's range: zero value
};

// Converts the source value at the start of buffer (capacity bytes) into the
// target type. Strings and bytes are cut to the target size; numbers are never
// cut or narrowed to low-order bits: a value out of range does not fit. On
// anything but success the first targetSize bytes hold the target's zero value.
TConversionResult ConvertValue(std::uint8_t sourceType, std::int32_t sourceSize, std::uint8_t sourceDecimals,
                               std::uint8_t* buffer, std::size_t capacity, std::uint8_t targetDecimals,
                               std::int32_t targetSize, std::uint8_t targetType);

// The same over a kConvertBufferSize-byte buffer; true on success.
bool ConvertExpression(std::uint8_t sourceType, std::int32_t sourceSize, std::uint8_t sourceDecimals,
                       std::uint8_t* buffer, std::uint8_t targetDecimals, std::int32_t targetSize,
                       std::uint8_t targetType);

// Size in bytes of a value of a fixed-size type (0 for strings, bytes, BLOBs).
std::int32_t FixedValueSize(std::uint8_t dataType) noexcept;

}  // namespace tarn
