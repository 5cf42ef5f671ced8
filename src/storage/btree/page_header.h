// The header of an index page (first 13 bytes of every 4096-byte page) and
// the position of a page in the index file.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace tarn {

inline constexpr std::size_t kPageSize = 4096;
inline constexpr std::size_t kPageHeaderSize = 13;
inline constexpr std::size_t kPageDataSize = kPageSize - kPageHeaderSize;  // 4083

struct TPageHeader {
  std::uint8_t PageType;
  std::uint16_t EntryCount;       // 0 for a page on a free list
  std::int32_t LeftPage;
  std::int32_t RightPage;
  std::uint16_t CompressedSize;   // bytes of key data after the header
};

// Offsets in the page image: type 0, entries 1, left 3, right 7, size 11.
namespace page_header_offsets {
inline constexpr std::size_t PageType = 0;
inline constexpr std::size_t EntryCount = 1;
inline constexpr std::size_t LeftPage = 3;
inline constexpr std::size_t RightPage = 7;
inline constexpr std::size_t CompressedSize = 11;
static_assert(CompressedSize + 2 == kPageHeaderSize);
}  // namespace page_header_offsets

// Page n (n >= 1) starts at 4096 x n.
constexpr std::uint64_t PagePosition(std::uint32_t n) noexcept { return static_cast<std::uint64_t>(kPageSize) * n; }

// The header of a page image (the image already descrambled).
TPageHeader ReadPageHeader(std::span<const std::uint8_t, kPageSize> page) noexcept;
void WritePageHeader(std::span<std::uint8_t, kPageSize> page, const TPageHeader& header) noexcept;

}  // namespace tarn
