// TPageCache: the cached pages of one index slot, kept in a list sorted by
// page number (binary search) and in a most-recently-used list over the same
// pages; and TPageStack, the pool of spare TPage instances of an index file.
// The cache owns its pages; callers hold raw pointers between GetPage and
// PutPage.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "storage/page.h"

namespace tarn {

class TPageStack {
 public:
  static constexpr std::size_t kMaxSparePages = 4;

  // The last pooled instance (initialised, unused) or a new one.
  std::unique_ptr<TPage> GetNewPageInstance();
  // Pools the instance; beyond the pool's room it is destroyed.
  void ReturnPageInstance(std::unique_ptr<TPage> page);
  std::size_t Count() const noexcept { return spares_.size(); }

 private:
  std::vector<std::unique_ptr<TPage>> spares_;
};

class TPageCache {
 public:
  static constexpr std::size_t kInitialCapacity = 2;
  static constexpr std::size_t kCapacityStep = 4;
  // How many of the most recently used pages are checked before the binary search.
  static constexpr int kQuickHitPages = 2;

  // The cached page n moved to the front of the most-recently-used list, or
  // null.
  TPage* Find(std::int32_t n, bool& quickHit);
  // Adds a page (its number set) at its place and at the front.
  TPage* Insert(std::unique_ptr<TPage> page);
  // The page nearest the tail of the most-recently-used list that is neither
  // dirty nor in use, or null.
  TPage* FindVictim() const noexcept;
  // Gives a cached page a new number, keeping the list sorted, and moves it
  // to the front.
  void Renumber(TPage* page, std::int32_t n);
  // Takes a page out of the cache.
  std::unique_ptr<TPage> Remove(TPage* page);
  // Every page back to the pool.
  void Clear(TPageStack& pool);

  std::size_t Size() const noexcept { return sorted_.size(); }
  std::size_t Capacity() const noexcept { return capacity_; }
  void SetCapacity(std::size_t capacity) noexcept { capacity_ = capacity; }
  // Pages in page-number order.
  const std::vector<std::unique_ptr<TPage>>& Pages() const noexcept { return sorted_; }
  TPage* MostRecent() const noexcept { return newest_; }
  TPage* LeastRecent() const noexcept { return oldest_; }

 private:
  std::size_t IndexOf(std::int32_t n) const noexcept;  // first page with number >= n
  void Unlink(TPage* page) noexcept;
  void PushFront(TPage* page) noexcept;

  std::vector<std::unique_ptr<TPage>> sorted_;
  TPage* newest_ = nullptr;
  TPage* oldest_ = nullptr;
  std::size_t capacity_ = kInitialCapacity;
};

}  // namespace tarn
