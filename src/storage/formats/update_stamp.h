// The last update stamp at offset 0 of the data, index and BLOB headers: the
// change-detection counter every header write and every stamp update advances.
// It is stored as an int32 and counts as a 32-bit unsigned number that wraps
// (2,147,483,647 is followed by -2,147,483,648, -1 by 0), so advancing it is
// computed in unsigned arithmetic.
#pragma once

#include <cstdint>

namespace tarn {

constexpr std::int32_t NextUpdateStamp(std::int32_t stamp) noexcept {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(stamp) + 1u);
}

// Advances the stamp of any of the three headers.
template <class THeader>
constexpr void AdvanceUpdateStamp(THeader& header) noexcept {
  header.LastUpdateStamp = NextUpdateStamp(header.LastUpdateStamp);
}

}  // namespace tarn
