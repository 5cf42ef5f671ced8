// BCD records and 4-decimal fixed-point arithmetic with 128-bit intermediates.
#include "expressions/bcd_values.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

#include "expressions/expression_layer.h"

namespace tarn {

namespace {

using Int128 = __int128;
constexpr Int128 kMax64 = std::numeric_limits<std::int64_t>::max();
constexpr Int128 kMin64 = std::numeric_limits<std::int64_t>::min();

bool Fit(Int128 v, std::int64_t& out) noexcept {
  if (v > kMax64 || v < kMin64) return false;
  out = static_cast<std::int64_t>(v);
  return true;
}

// Quotient of n / d rounded half away from zero (d > 0).
Int128 DivRound(Int128 n, Int128 d) noexcept {
  const Int128 q = n / d;
  const Int128 r = n % d;
  const Int128 twice = (r < 0 ? -r : r) * 2;
  if (twice >= d) return n < 0 ? q - 1 : q + 1;
  return q;
}

Int128 Pow10(int n) noexcept {
  Int128 p = 1;
  for (int i = 0; i < n; ++i) p *= 10;
  return p;
}

}  // namespace

bool BcdToFixed(const std::uint8_t* bcd, std::int64_t& fixed) noexcept {
  const unsigned precision = bcd[0];
  const bool negative = (bcd[1] & 0x80) != 0;
  const unsigned places = bcd[1] & 0x3F;
  if (precision > 64 || places > precision) return false;
  Int128 acc = 0;
  constexpr Int128 kLimit = kMax64 * 10;  // leaves room for the rounding digit
  for (unsigned i = 0; i < precision; ++i) {
    const std::uint8_t b = bcd[2 + i / 2];
    const unsigned digit = (i % 2 == 0) ? (b >> 4) : (b & 0x0F);
    if (digit > 9) return false;
    acc = acc * 10 + digit;
    if (acc > kLimit) return false;
  }
  // acc holds the value x 10^places; bring it to x 10^4.
  if (places <= kBcdMaxDecimals) {
    acc *= Pow10(static_cast<int>(kBcdMaxDecimals - places));
  } else {
    acc = DivRound(acc, Pow10(static_cast<int>(places - kBcdMaxDecimals)));
  }
  return Fit(negative ? -acc : acc, fixed);
}

void FixedToBcd(std::int64_t fixed, std::uint8_t decimals, std::uint8_t* bcd) noexcept {
  if (decimals > kBcdMaxDecimals) decimals = kBcdMaxDecimals;
  Int128 v = fixed;
  const bool negative = v < 0;
  if (negative) v = -v;
  v = DivRound(v, Pow10(kBcdMaxDecimals - decimals));
  std::memset(bcd, 0, 34);
  bcd[0] = kBcdPrecision;
  bcd[1] = static_cast<std::uint8_t>(decimals | (negative && v != 0 ? 0x80 : 0));
  for (int i = kBcdPrecision - 1; i >= 0 && v != 0; --i) {
    const auto digit = static_cast<std::uint8_t>(v % 10);
    v /= 10;
    std::uint8_t& b = bcd[2 + i / 2];
    b = static_cast<std::uint8_t>(i % 2 == 0 ? (b & 0x0F) | (digit << 4) : (b & 0xF0) | digit);
  }
}

bool FixedAdd(std::int64_t a, std::int64_t b, std::int64_t& result) noexcept {
  return Fit(static_cast<Int128>(a) + b, result);
}

bool FixedSub(std::int64_t a, std::int64_t b, std::int64_t& result) noexcept {
  return Fit(static_cast<Int128>(a) - b, result);
}

bool FixedMul(std::int64_t a, std::int64_t b, std::int64_t& result) noexcept {
  return Fit(DivRound(static_cast<Int128>(a) * b, kBcdScale), result);
}

bool FixedDiv(std::int64_t a, std::int64_t b, std::int64_t& result) noexcept {
  if (b == 0) return false;
  Int128 n = static_cast<Int128>(a) * kBcdScale;
  Int128 d = b;
  if (d < 0) {
    d = -d;
    n = -n;
  }
  return Fit(DivRound(n, d), result);
}

bool IntegerToFixed(std::int64_t value, std::int64_t& fixed) noexcept {
  return Fit(static_cast<Int128>(value) * kBcdScale, fixed);
}

bool FloatToFixed(double value, std::int64_t& fixed) noexcept {
  if (!std::isfinite(value)) return false;
  const double scaled = std::round(value * static_cast<double>(kBcdScale));  // half away from zero
  // 2^63 is exactly representable; anything at or beyond it does not fit.
  if (scaled >= 9223372036854775808.0 || scaled < -9223372036854775808.0) return false;
  fixed = static_cast<std::int64_t>(scaled);
  return true;
}

double FixedToFloat(std::int64_t fixed) noexcept {
  return static_cast<double>(fixed) / static_cast<double>(kBcdScale);
}

bool RoundFixed(std::int64_t fixed, int places, std::int64_t& result) noexcept {
  if (places >= kBcdMaxDecimals) {
    result = fixed;
    return true;
  }
  if (places < 0) places = 0;
  const Int128 unit = Pow10(kBcdMaxDecimals - places);
  return Fit(DivRound(fixed, unit) * unit, result);
}

std::string FixedToText(std::int64_t fixed) {
  Int128 v = fixed;
  const bool negative = v < 0;
  if (negative) v = -v;
  const auto whole = static_cast<unsigned long long>(v / kBcdScale);
  auto fraction = static_cast<unsigned>(v % kBcdScale);
  char buffer[48];
  char* p = buffer;
  if (negative) *p++ = '-';
  p = std::to_chars(p, buffer + sizeof buffer, whole).ptr;
  if (fraction != 0) {
    *p++ = '.';
    char digits[4];
    for (int i = 3; i >= 0; --i) {
      digits[i] = static_cast<char>('0' + fraction % 10);
      fraction /= 10;
    }
    int last = 3;
    while (digits[last] == '0') --last;
    for (int i = 0; i <= last; ++i) *p++ = digits[i];
  }
  return std::string(buffer, p);
}

bool TextToFixed(std::string_view text, std::int64_t& fixed) noexcept {
  while (!text.empty() && static_cast<unsigned char>(text.front()) <= 32) text.remove_prefix(1);
  while (!text.empty() && static_cast<unsigned char>(text.back()) <= 32) text.remove_suffix(1);
  bool negative = false;
  if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }
  const std::size_t dot = text.find('.');
  const std::string_view whole = text.substr(0, dot);
  const std::string_view fraction = dot == std::string_view::npos ? std::string_view() : text.substr(dot + 1);
  if (whole.empty() && fraction.empty()) return false;
  if (fraction.size() > kBcdMaxDecimals) return false;
  Int128 acc = 0;
  for (const char c : whole) {
    if (c < '0' || c > '9') return false;
    acc = acc * 10 + (c - '0');
    if (acc > kMax64) return false;
  }
  for (std::size_t i = 0; i < kBcdMaxDecimals; ++i) {
    int digit = 0;
    if (i < fraction.size()) {
      if (fraction[i] < '0' || fraction[i] > '9') return false;
      digit = fraction[i] - '0';
    }
    acc = acc * 10 + digit;
  }
  return Fit(negative ? -acc : acc, fixed);
}

}  // namespace tarn
