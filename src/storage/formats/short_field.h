// The short string of the stored structures: a length byte followed by a fixed
// area of N characters, only the first `length` of which are meaningful and the
// rest zero. Reading never trusts the length byte beyond the area.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace tarn {

// Cuts text to a byte length without splitting a double-byte character.
std::size_t ShortFieldCutLength(std::string_view text, std::size_t maxBytes) noexcept;

template <std::size_t N>
struct TShortField {
  std::uint8_t Length;
  std::array<char, N> Chars;

  static constexpr std::size_t Capacity = N;

  // The meaningful characters; a length byte beyond the area is cut to it.
  std::string_view View() const noexcept {
    return std::string_view(Chars.data(), std::min<std::size_t>(Length, N));
  }
  std::string Str() const { return std::string(View()); }
  // True when the length byte fits the area.
  bool LengthValid() const noexcept { return Length <= N; }

  // Stores text cut to N bytes on a character boundary; the rest is zeroed.
  void Assign(std::string_view text) noexcept {
    const std::size_t n = ShortFieldCutLength(text, N);
    Chars.fill(0);
    std::copy_n(text.data(), n, Chars.data());
    Length = static_cast<std::uint8_t>(n);
  }
  void Clear() noexcept {
    Length = 0;
    Chars.fill(0);
  }
};

static_assert(sizeof(TShortField<30>) == 31 && alignof(TShortField<30>) == 1);
static_assert(sizeof(TShortField<50>) == 51 && sizeof(TShortField<15>) == 16);

}  // namespace tarn
