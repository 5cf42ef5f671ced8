// The packed BCD record of DECIMAL values (precision byte, sign-and-places
// byte, 32 bytes of two digits each) and the 4-decimal fixed-point form in
// which expressions compute with it (value x 10000 in a signed 64-bit
// integer). Every step that could leave 64 bits is done in 128 bits and
// reported instead of wrapping.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace tarn {

inline constexpr std::int64_t kBcdScale = 10000;       // fixed point: 4 decimals
inline constexpr std::uint8_t kBcdMaxDecimals = 4;
inline constexpr std::uint8_t kBcdPrecision = 32;

// Reads a BCD record as fixed point; digits beyond the fourth decimal round
// half away from zero. False when the value does not fit 64-bit fixed point
// or the record is malformed (precision above 64, digit nibble above 9).
bool BcdToFixed(const std::uint8_t* bcd, std::int64_t& fixed) noexcept;
// Writes fixed point as a BCD record of precision 32 with the given places
// (at most 4; the value is rounded half away from zero to them).
void FixedToBcd(std::int64_t fixed, std::uint8_t decimals, std::uint8_t* bcd) noexcept;

// Fixed-point arithmetic; false on overflow (the result is then undefined).
// Division by zero is the caller's business (it gives NULL).
bool FixedAdd(std::int64_t a, std::int64_t b, std::int64_t& result) noexcept;
bool FixedSub(std::int64_t a, std::int64_t b, std::int64_t& result) noexcept;
bool FixedMul(std::int64_t a, std::int64_t b, std::int64_t& result) noexcept;
bool FixedDiv(std::int64_t a, std::int64_t b, std::int64_t& result) noexcept;
// Integer or float to fixed point; false when it does not fit. Floats round
// half away from zero at the fourth decimal.
bool IntegerToFixed(std::int64_t value, std::int64_t& fixed) noexcept;
bool FloatToFixed(double value, std::int64_t& fixed) noexcept;
double FixedToFloat(std::int64_t fixed) noexcept;
// Rounds fixed point to places decimals (0 to 4), half away from zero.
bool RoundFixed(std::int64_t fixed, int places, std::int64_t& result) noexcept;

// Currency text: up to 4 decimals, '.' as separator, trailing fraction
// zeros dropped ("12.5", "-0.0001", "3"). Reading accepts an optional sign,
// digits and at most 4 decimals after '.'; surrounding blanks are ignored.
std::string FixedToText(std::int64_t fixed);
bool TextToFixed(std::string_view text, std::int64_t& fixed) noexcept;

}  // namespace tarn
