// Character maps and their process-wide list (see character_maps.h).
#include "storage/keys/character_maps.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "storage/keys/key_compare.h"

namespace tarn {

TLanguageCharMap BuildLanguageCharMap(std::uint16_t languageID, std::uint16_t sortID) {
  TLanguageCharMap map;
  for (unsigned i = 0; i < 256; ++i) map[i] = static_cast<std::uint8_t>(i);
  if (languageID != 0) {
    // Stable, so characters the collation holds equal keep their byte order.
    std::stable_sort(map.begin(), map.end(), [languageID, sortID](std::uint8_t x, std::uint8_t y) {
      return CompareChar(languageID, sortID, static_cast<char>(x), static_cast<char>(y)) < 0;
    });
  }
  return map;
}

TLanguageCharMapsList::TLanguageCharMapsList(std::size_t capacity) { maps_.reserve(capacity); }

void TLanguageCharMapsList::GetMap(std::uint16_t languageID, std::uint16_t sortID, TLanguageCharMap& map) {
  std::lock_guard<std::mutex> guard(lock_);
  for (const TEntry& e : maps_)
    if (e.languageID == languageID && e.sortID == sortID) {
      map = e.map;
      return;
    }
  maps_.push_back(TEntry{languageID, sortID, BuildLanguageCharMap(languageID, sortID)});
  map = maps_.back().map;
}

std::size_t TLanguageCharMapsList::Count() {
  std::lock_guard<std::mutex> guard(lock_);
  return maps_.size();
}

namespace {

std::mutex gListLock;
std::shared_ptr<TLanguageCharMapsList> gList;

// The list, kept alive for the caller even when support ends meanwhile.
std::shared_ptr<TLanguageCharMapsList> List() {
  std::lock_guard<std::mutex> guard(gListLock);
  if (!gList) gList = std::make_shared<TLanguageCharMapsList>();
  return gList;
}

}  // namespace

void InitializeCharMaps() {
  std::lock_guard<std::mutex> guard(gListLock);
  if (!gList) gList = std::make_shared<TLanguageCharMapsList>();
}

void FinalizeCharMaps() {
  std::lock_guard<std::mutex> guard(gListLock);
  gList.reset();
}

void GetLanguageCharMap(std::uint16_t languageID, std::uint16_t sortID, TLanguageCharMap& map) {
  List()->GetMap(languageID, sortID, map);
}

void GetLanguageCharMap(std::uint16_t languageID, std::uint16_t sortID, std::uint8_t map[256]) {
  TLanguageCharMap m;
  GetLanguageCharMap(languageID, sortID, m);
  std::memcpy(map, m.data(), m.size());
}

}  // namespace tarn
