// Scrambling of password-protected tables.
#include "storage/formats/scrambling.h"

namespace tarn {

void EncryptBuffer(void* buffer, std::size_t length, TScrambleSeeds seeds) noexcept {
  if ((length & 0xFFFFu) == 0) return;
  auto* bytes = static_cast<std::uint8_t*>(buffer);
  std::uint8_t rising = seeds.Rising;
  std::uint8_t falling = seeds.Falling;
  for (std::size_t i = 0; i < length; ++i) {
    bytes[i] = static_cast<std::uint8_t>(bytes[i] ^ rising ^ falling);
    ++rising;
    --falling;
  }
}

void DecryptBuffer(void* buffer, std::size_t length, TScrambleSeeds seeds) noexcept {
  EncryptBuffer(buffer, length, seeds);
}

}  // namespace tarn
