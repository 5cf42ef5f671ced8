// Key forms of field values (see key_encoding.h).
#include "storage/keys/key_encoding.h"

#include <bit>
#include <cmath>
#include <cstring>

#include "platform/locale_services.h"
#include "storage/formats/data_types.h"

namespace tarn {

namespace {

template <typename U>
void StoreBigEndian(U value, std::uint8_t* out) noexcept {
  for (std::size_t i = 0; i < sizeof(U); ++i)
    out[i] = static_cast<std::uint8_t>(value >> (8 * (sizeof(U) - 1 - i)));
}

template <typename T>
T LoadLittle(const std::uint8_t* p) noexcept {
  T v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

}  // namespace

void FlipIntegerBits(std::int32_t value, void* out) noexcept {
  auto* o = static_cast<std::uint8_t*>(out);
  StoreBigEndian(static_cast<std::uint32_t>(value), o);
  o[0] ^= 0x80;
}

void FlipSmallIntBits(std::int16_t value, void* out) noexcept {
  auto* o = static_cast<std::uint8_t*>(out);
  StoreBigEndian(static_cast<std::uint16_t>(value), o);
  o[0] ^= 0x80;
}

void FlipLargeIntBits(std::int64_t value, void* out) noexcept {
  auto* o = static_cast<std::uint8_t*>(out);
  StoreBigEndian(static_cast<std::uint64_t>(value), o);
  o[0] ^= 0x80;
}

void FlipCurrencyBits(std::int64_t currency, void* out) noexcept { FlipLargeIntBits(currency, out); }

void FlipWordBits(std::uint16_t value, void* out) noexcept {
  StoreBigEndian(value, static_cast<std::uint8_t*>(out));
}

void FlipFloatBits(double value, void* out) noexcept {
  auto* o = static_cast<std::uint8_t*>(out);
  StoreBigEndian(std::bit_cast<std::uint64_t>(value), o);
  // -0.0 keys like 0.0, so that the two compare equal.
  if (value >= 0.0) {
    if (value == 0.0) std::memset(o, 0, 8);
    o[0] |= 0x80;
  } else if (value < 0.0) {
    FlipBuffer(o, 8);
  } else {
    // NaN: above every number, like the largest positive bit pattern.
    o[0] |= 0x80;
  }
}

void FlipBuffer(void* buffer, std::size_t length) noexcept {
  auto* p = static_cast<std::uint8_t*>(buffer);
  for (std::size_t i = 0; i < length; ++i) p[i] = static_cast<std::uint8_t>(255 - p[i]);
}

std::int64_t BcdToCurrency(const std::uint8_t* bcd) noexcept {
  constexpr unsigned kMaxDigits = 64;
  const unsigned precision = bcd[0] > kMaxDigits ? kMaxDigits : bcd[0];
  const bool negative = (bcd[1] & 0x80) != 0;
  unsigned places = bcd[1] & 0x3F;
  if (places > precision) places = precision;
  // Accumulate the integer part and four fraction digits in unsigned 128 bits,
  // then round with the fifth fraction digit.
  constexpr unsigned __int128 kLimit = static_cast<unsigned __int128>(INT64_MAX) + 1;
  unsigned __int128 acc = 0;
  bool saturated = false;
  const unsigned integerDigits = precision - places;
  unsigned roundDigit = 0;
  auto digitAt = [bcd](unsigned i) -> unsigned {
    const std::uint8_t b = bcd[2 + i / 2];
    unsigned d = (i % 2 == 0) ? (b >> 4) : (b & 0x0F);
    return d > 9 ? 9 : d;
  };
  for (unsigned i = 0; i < integerDigits + 4; ++i) {
    const unsigned d = i < precision && (i < integerDigits || i - integerDigits < places) ? digitAt(i) : 0;
    acc = acc * 10 + d;
    if (acc > kLimit) {
      saturated = true;
      acc = kLimit;
      // keep multiplying would overflow: stop here
      break;
    }
  }
  if (!saturated && places > 4) roundDigit = digitAt(integerDigits + 4);
  if (!saturated && roundDigit >= 5) ++acc;
  if (negative) {
    if (acc >= kLimit) return INT64_MIN;
    return -static_cast<std::int64_t>(acc);
  }
  if (acc >= kLimit) return INT64_MAX;
  return static_cast<std::int64_t>(acc);
}

void PrepareDataForIndex(std::uint8_t dataType, std::uint8_t physicalSize, const std::uint8_t* value,
                         std::uint8_t* keyPart, std::uint16_t sortID, std::uint16_t languageID, bool descending,
                         bool caseInsensitive) {
  const std::uint8_t indexedSize = IndexedSize(dataType, physicalSize);
  std::uint8_t* out = keyPart + 1;
  if (keyPart[0] != 0 && value != nullptr) {
    switch (dataType) {
      case dtString: {
        if (indexedSize == 0) break;
        // Copy the characters up to the terminating zero, keeping the last
        // key byte zero even for an unterminated value.
        const std::size_t max = indexedSize - 1u;
        const void* zero = std::memchr(value, 0, max);
        const std::size_t n = zero ? static_cast<std::size_t>(static_cast<const std::uint8_t*>(zero) - value) : max;
        std::memcpy(out, value, n);
        std::memset(out + n, 0, indexedSize - n);
        if (caseInsensitive) OSUpperString(languageID, sortID, reinterpret_cast<char*>(out));
        break;
      }
      case dtDate:
      case dtInteger:
      case dtTime:
        FlipIntegerBits(LoadLittle<std::int32_t>(value), out);
        break;
      case dtBoolean:
      case dtWord:
        FlipWordBits(LoadLittle<std::uint16_t>(value), out);
        break;
      case dtSmallInt:
        FlipSmallIntBits(LoadLittle<std::int16_t>(value), out);
        break;
      case dtFloat:
      case dtTimeStamp:
        FlipFloatBits(LoadLittle<double>(value), out);
        break;
      case dtLargeInt:
        FlipLargeIntBits(LoadLittle<std::int64_t>(value), out);
        break;
      case dtBCD:
        FlipCurrencyBits(BcdToCurrency(value), out);
        break;
      default:
        std::memcpy(out, value, indexedSize);
        break;
    }
  } else {
    std::memset(out, 0, indexedSize);
  }
  if (descending && languageID == 0) {
    if (dataType == dtString)
      FlipBuffer(keyPart, indexedSize);  // presence byte and indexed size - 1 value bytes
    else
      FlipBuffer(keyPart, indexedSize + 1u);
  }
}

void PrepareDataForIndex(const TFieldDefinition& fieldDef, const std::uint8_t* value, std::uint8_t* keyPart,
                         std::uint16_t sortID, std::uint16_t languageID, bool descending, bool caseInsensitive) {
  PrepareDataForIndex(fieldDef.DataType, fieldDef.PhysicalSize, value, keyPart, sortID, languageID, descending,
                      caseInsensitive);
}

}  // namespace tarn
