// Little-endian reading and writing of the integers, doubles and short strings
// of stored structures at explicit offsets of a byte image.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "storage/formats/short_field.h"

namespace tarn::codec {

inline std::uint8_t GetU8(const std::uint8_t* image, std::size_t offset) noexcept { return image[offset]; }
inline std::uint16_t GetU16(const std::uint8_t* image, std::size_t offset) noexcept {
  return static_cast<std::uint16_t>(image[offset] | (image[offset + 1] << 8));
}
inline std::uint32_t GetU32(const std::uint8_t* image, std::size_t offset) noexcept {
  return static_cast<std::uint32_t>(image[offset]) | (static_cast<std::uint32_t>(image[offset + 1]) << 8) |
         (static_cast<std::uint32_t>(image[offset + 2]) << 16) | (static_cast<std::uint32_t>(image[offset + 3]) << 24);
}
inline std::int32_t GetI32(const std::uint8_t* image, std::size_t offset) noexcept {
  return static_cast<std::int32_t>(GetU32(image, offset));
}
inline double GetF64(const std::uint8_t* image, std::size_t offset) noexcept {
  std::uint64_t bits = 0;
  for (std::size_t i = 0; i < 8; ++i) bits |= static_cast<std::uint64_t>(image[offset + i]) << (8 * i);
  return std::bit_cast<double>(bits);
}

inline void PutU8(std::uint8_t* image, std::size_t offset, std::uint8_t v) noexcept { image[offset] = v; }
inline void PutU16(std::uint8_t* image, std::size_t offset, std::uint16_t v) noexcept {
  image[offset] = static_cast<std::uint8_t>(v);
  image[offset + 1] = static_cast<std::uint8_t>(v >> 8);
}
inline void PutU32(std::uint8_t* image, std::size_t offset, std::uint32_t v) noexcept {
  for (std::size_t i = 0; i < 4; ++i) image[offset + i] = static_cast<std::uint8_t>(v >> (8 * i));
}
inline void PutI32(std::uint8_t* image, std::size_t offset, std::int32_t v) noexcept {
  PutU32(image, offset, static_cast<std::uint32_t>(v));
}
inline void PutF64(std::uint8_t* image, std::size_t offset, double v) noexcept {
  const auto bits = std::bit_cast<std::uint64_t>(v);
  for (std::size_t i = 0; i < 8; ++i) image[offset + i] = static_cast<std::uint8_t>(bits >> (8 * i));
}

// A short string is copied byte for byte (length byte and whole area), so a
// damaged length byte survives for the header checks to see.
template <std::size_t N>
void GetShort(const std::uint8_t* image, std::size_t offset, TShortField<N>& field) noexcept {
  std::memcpy(&field, image + offset, N + 1);
}
template <std::size_t N>
void PutShort(std::uint8_t* image, std::size_t offset, const TShortField<N>& field) noexcept {
  std::memcpy(image + offset, &field, N + 1);
}
template <std::size_t N>
void GetBytes(const std::uint8_t* image, std::size_t offset, std::array<std::uint8_t, N>& bytes) noexcept {
  std::memcpy(bytes.data(), image + offset, N);
}
template <std::size_t N>
void PutBytes(std::uint8_t* image, std::size_t offset, const std::array<std::uint8_t, N>& bytes) noexcept {
  std::memcpy(image + offset, bytes.data(), N);
}

}  // namespace tarn::codec
