// Character maps: for a (language, sort) pair, the 256 byte values in the
// order of the language's collation of single characters (byte order for
// language 0). Cursors use them to find the next and previous character in
// collation order. Maps are built on first use and kept in a process-wide
// list, guarded by its own lock, until support ends.
#pragma once

#include <array>
#include <cstdint>
#include <mutex>
#include <vector>

namespace tarn {

using TLanguageCharMap = std::array<std::uint8_t, 256>;

class TLanguageCharMapsList {
 public:
  explicit TLanguageCharMapsList(std::size_t capacity = 256);

  // A copy of the map of the pair, built now when the list has none.
  void GetMap(std::uint16_t languageID, std::uint16_t sortID, TLanguageCharMap& map);
  std::size_t Count();

 private:
  struct TEntry {
    std::uint16_t languageID;
    std::uint16_t sortID;
    TLanguageCharMap map;
  };
  std::mutex lock_;
  std::vector<TEntry> maps_;
};

// Builds the map of a pair without the list.
TLanguageCharMap BuildLanguageCharMap(std::uint16_t languageID, std::uint16_t sortID);

// The process-wide list: created by InitializeCharMaps (support start),
// dropped by FinalizeCharMaps (support end). GetLanguageCharMap creates the
// list when support has not started.
void InitializeCharMaps();
void FinalizeCharMaps();
void GetLanguageCharMap(std::uint16_t languageID, std::uint16_t sortID, TLanguageCharMap& map);
void GetLanguageCharMap(std::uint16_t languageID, std::uint16_t sortID, std::uint8_t map[256]);

}  // namespace tarn
