// Scrambling of password-protected tables: a byte-wise XOR with a rising and a
// falling seed. The same call scrambles and descrambles.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tarn {

struct TScrambleSeeds {
  std::uint8_t Rising;
  std::uint8_t Falling;
};

// Seeds for records, the field definition area, pages, block headers, block
// data, the index header and the BLOB header.
inline constexpr TScrambleSeeds kRecordSeeds{0x5A, 0xC3};
// Seeds for the characters of the description and password in the data header.
inline constexpr TScrambleSeeds kNameSeeds{0x2D, 0x96};

// Each byte b becomes b XOR r XOR f, then r rises and f falls by one (mod 256).
// A length that is a multiple of 65,536 leaves the buffer unchanged (so a
// definition area of exactly 256 fields is stored as it is).
void EncryptBuffer(void* buffer, std::size_t length, TScrambleSeeds seeds) noexcept;
void DecryptBuffer(void* buffer, std::size_t length, TScrambleSeeds seeds) noexcept;

}  // namespace tarn
