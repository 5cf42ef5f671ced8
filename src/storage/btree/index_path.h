// TIndexPath: the descent path through one index: the current slot and
// level, and per level (1 = root) the page, the entry position on it and the
// page above it, plus the running count of keys before the position. At most
// 64 levels; a deeper descent means a damaged index.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "core/errors.h"

namespace tarn {

inline constexpr int kMaxIndexLevels = 64;

struct TIndexPathLevel {
  std::int32_t PageNumber = 0;
  std::int32_t ParentPageNumber = 0;  // 0 at the root
  int Position = 0;
};

class TIndexPath {
 public:
  std::size_t Slot = 0;
  int Level = 0;               // 0: no position
  std::int64_t KeysBefore = 0;  // keys of the index before the current position

  void Clear() noexcept {
    Level = 0;
    KeysBefore = 0;
  }
  // Enters the next level down at page n; TARN_INDEXCORRUPT beyond 64 levels.
  void Descend(std::int32_t n) {
    if (Level >= kMaxIndexLevels) RaiseError(TARN_INDEXCORRUPT);
    const std::int32_t parent = Level > 0 ? levels_[Level].PageNumber : 0;
    ++Level;
    levels_[Level] = {n, parent, 0};
  }
  TIndexPathLevel& At(int level) { return levels_.at(static_cast<std::size_t>(level)); }
  const TIndexPathLevel& At(int level) const { return levels_.at(static_cast<std::size_t>(level)); }
  TIndexPathLevel& Current() { return At(Level); }
  const TIndexPathLevel& Current() const { return At(Level); }

 private:
  std::array<TIndexPathLevel, kMaxIndexLevels + 1> levels_{};
};

}  // namespace tarn
