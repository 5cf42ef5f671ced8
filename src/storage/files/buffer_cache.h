// The cache machinery shared by data records, index pages and BLOB blocks:
// a base for cached buffers (number, dirty flag, use count, links of the
// most-recently-used list), a pool of spare instances, and the cache itself
// (a double-ended queue sorted by number with binary search, a most-recently-used list, a
// nominal capacity that grows when nothing can be evicted, and statistics).
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "core/errors.h"

namespace tarn {

class TCachedBuffer {
 public:
  TCachedBuffer() = default;
  TCachedBuffer(const TCachedBuffer&) = delete;
  TCachedBuffer& operator=(const TCachedBuffer&) = delete;

  std::int32_t Number() const noexcept { return number_; }
  bool Dirty() const noexcept { return dirty_; }
  void SetDirty(bool dirty) noexcept { dirty_ = dirty; }
  std::uint16_t UseCount() const noexcept { return useCount_; }
  bool InUse() const noexcept { return useCount_ > 0; }
  void IncUseCount() noexcept {
    if (useCount_ < UINT16_MAX) ++useCount_;
  }
  void DecUseCount() noexcept {
    if (useCount_ > 0) --useCount_;
  }
  void ClearUseCount() noexcept { useCount_ = 0; }

 protected:
  void SetNumberValue(std::int32_t number) noexcept { number_ = number; }

 private:
  template <class T>
  friend class TBufferCache;

  std::int32_t number_ = 0;
  bool dirty_ = false;
  std::uint16_t useCount_ = 0;
  TCachedBuffer* newer_ = nullptr;
  TCachedBuffer* older_ = nullptr;
};

// Spare instances of one file, up to a limit; instances beyond it are freed.
template <class T>
class TInstanceStack {
 public:
  using TFactory = std::function<std::unique_ptr<T>()>;

  TInstanceStack(std::size_t limit, TFactory factory) : limit_(limit), factory_(std::move(factory)) {}

  std::unique_ptr<T> Take() {
    if (spare_.empty()) return factory_();
    std::unique_ptr<T> instance = std::move(spare_.back());
    spare_.pop_back();
    return instance;
  }
  void Return(std::unique_ptr<T>& instance) {
    if (!instance) return;
    if (spare_.size() < limit_) spare_.push_back(std::move(instance));
    instance.reset();
  }
  void Clear() noexcept { spare_.clear(); }
  std::size_t Size() const noexcept { return spare_.size(); }

 private:
  std::size_t limit_;
  TFactory factory_;
  std::vector<std::unique_ptr<T>> spare_;
};

struct TCacheStatistics {
  std::uint32_t Hits = 0;
  std::uint32_t Misses = 0;
  std::uint32_t Reads = 0;
  std::uint32_t Writes = 0;
};

// T derives from TCachedBuffer and provides Reset(number): resize to the
// current buffer size, zero, take the number, clean, use count 0.
template <class T>
class TBufferCache {
 public:
  // Writes dirty unused buffers; answers whether anything was written.
  using TFlush = std::function<bool()>;
  // The buffers in number order. A double-ended queue: a walk through a file
  // evicts at one end what it adds at the other, without shifting the rest.
  using TList = std::deque<std::unique_ptr<T>>;

  TBufferCache(std::size_t poolLimit, std::size_t growStep, TarnErrorCode corruptCode,
               typename TInstanceStack<T>::TFactory factory)
      : ownPool_(std::make_unique<TInstanceStack<T>>(poolLimit, std::move(factory))),
        pool_(ownPool_.get()),
        growStep_(growStep),
        corruptCode_(corruptCode) {}
  // A cache that shares the spare instances of its file with the file's other
  // caches; the pool must outlive the cache.
  TBufferCache(TInstanceStack<T>& sharedPool, std::size_t growStep, TarnErrorCode corruptCode)
      : pool_(&sharedPool), growStep_(growStep), corruptCode_(corruptCode) {}
  ~TBufferCache() { Unlink(); }
  TBufferCache(const TBufferCache&) = delete;
  TBufferCache& operator=(const TBufferCache&) = delete;

  // The table name errors carry.
  void SetTableName(std::string name) { tableName_ = std::move(name); }

  std::size_t Count() const noexcept { return sorted_.size(); }
  std::size_t Capacity() const noexcept { return capacity_; }
  void SetCapacity(std::size_t capacity) noexcept { capacity_ = capacity; }
  TCacheStatistics& Statistics() noexcept { return stats_; }
  const TCacheStatistics& Statistics() const noexcept { return stats_; }

  // The cached buffer of number n, moved to the front of the
  // most-recently-used list and counted as a hit; nullptr when not cached.
  // The first four most-recently-used entries are checked before the search.
  T* Find(std::int32_t n) {
    TCachedBuffer* entry = head_;
    for (int i = 0; i < 4 && entry != nullptr; ++i, entry = entry->older_) {
      if (entry->number_ == n) {
        MoveToFront(entry);
        ++stats_.Hits;
        return static_cast<T*>(entry);
      }
    }
    T* found = Peek(n);
    if (found != nullptr) {
      MoveToFront(found);
      ++stats_.Hits;
    }
    return found;
  }

  // The cached buffer of number n moved to the front, without counting.
  T* Use(std::int32_t n) {
    T* found = Peek(n);
    if (found != nullptr) MoveToFront(found);
    return found;
  }

  // The cached buffer of number n without touching the lists.
  T* Peek(std::int32_t n) const noexcept {
    const auto it = LowerBound(n);
    return it != sorted_.end() && (*it)->Number() == n ? it->get() : nullptr;
  }

  // A buffer for number n (which must not be cached), zeroed, at the front
  // of the most-recently-used list and at its place in the sorted list.
  // flush runs when nothing can be evicted and mayFlush is set; owners clear it
  // while a change or transaction is under way, so that nothing of a change is
  // written before it has succeeded (the cache grows instead).
  T* Acquire(std::int32_t n, const TFlush& flush, bool mayFlush) {
    if (Peek(n) != nullptr) Corrupt();
    std::unique_ptr<T> buffer;
    if (sorted_.size() < capacity_) {
      buffer = pool_->Take();
    } else {
      T* victim = FindVictim();
      if (victim == nullptr && mayFlush && flush && flush()) victim = FindVictim();
      if (victim == nullptr) {
        capacity_ += growStep_;
        buffer = pool_->Take();
      } else {
        buffer = Detach(victim);
      }
    }
    buffer->Reset(n);
    T* raw = buffer.get();
    sorted_.insert(LowerBound(n), std::move(buffer));
    LinkFront(raw);
    return raw;
  }

  // Buffers that are dirty and not in use, in number order.
  std::vector<T*> DirtyUnused() const {
    std::vector<T*> result;
    for (const auto& buffer : sorted_) {
      if (buffer->Dirty() && !buffer->InUse()) result.push_back(buffer.get());
    }
    return result;
  }

  // Every cached buffer, in number order.
  const TList& Sorted() const noexcept { return sorted_; }

  // Returns every buffer to the pool without writing.
  void FreeAll() {
    Unlink();
    for (auto& buffer : sorted_) pool_->Return(buffer);
    sorted_.clear();
  }

  // Shrinks back to the nominal capacity: evictable buffers nearest the tail
  // go back to the pool (flushing once when none is evictable); the capacity
  // becomes the number of buffers left.
  void Shrink(std::size_t nominal, const TFlush& flush, bool mayFlush) {
    bool flushed = false;
    while (sorted_.size() > nominal) {
      T* victim = FindVictim();
      if (victim == nullptr && !flushed && mayFlush && flush) {
        flushed = true;
        if (flush()) victim = FindVictim();
      }
      if (victim == nullptr) break;
      std::unique_ptr<T> buffer = Detach(victim);
      pool_->Return(buffer);
    }
    capacity_ = std::max(nominal, sorted_.size());
  }

  // Removes every buffer from the cache and hands them over (for sorting);
  // Adopt puts a list back, renumbered by the caller, in number order.
  TList TakeAll() {
    Unlink();
    return std::exchange(sorted_, {});
  }
  void Adopt(TList buffers) {
    FreeAll();
    sorted_ = std::move(buffers);
    std::sort(sorted_.begin(), sorted_.end(), [](const auto& a, const auto& b) { return a->Number() < b->Number(); });
    for (auto it = sorted_.rbegin(); it != sorted_.rend(); ++it) LinkFront(it->get());
  }

  std::unique_ptr<T> TakeInstance() { return pool_->Take(); }
  void ReturnInstance(std::unique_ptr<T>& instance) { pool_->Return(instance); }
  // Spare instances now in the pool.
  std::size_t SpareInstances() const noexcept { return pool_->Size(); }

 private:
  typename TList::const_iterator LowerBound(std::int32_t n) const {
    return std::lower_bound(sorted_.begin(), sorted_.end(), n,
                            [](const std::unique_ptr<T>& b, std::int32_t value) { return b->Number() < value; });
  }
  typename TList::iterator LowerBound(std::int32_t n) {
    return std::lower_bound(sorted_.begin(), sorted_.end(), n,
                            [](const std::unique_ptr<T>& b, std::int32_t value) { return b->Number() < value; });
  }

  [[noreturn]] void Corrupt() const { RaiseError(corruptCode_, {}, {}, {}, tableName_); }

  T* FindVictim() const noexcept {
    for (TCachedBuffer* entry = tail_; entry != nullptr; entry = entry->newer_) {
      if (!entry->Dirty() && !entry->InUse()) return static_cast<T*>(entry);
    }
    return nullptr;
  }

  // Takes a buffer out of both lists.
  std::unique_ptr<T> Detach(T* buffer) {
    auto it = LowerBound(buffer->Number());
    if (it == sorted_.end() || it->get() != buffer) Corrupt();
    std::unique_ptr<T> owned = std::move(*it);
    sorted_.erase(it);
    Unlink(buffer);
    return owned;
  }

  void LinkFront(TCachedBuffer* entry) noexcept {
    entry->older_ = head_;
    entry->newer_ = nullptr;
    if (head_ != nullptr) head_->newer_ = entry;
    head_ = entry;
    if (tail_ == nullptr) tail_ = entry;
  }
  void Unlink(TCachedBuffer* entry) noexcept {
    if (entry->newer_ != nullptr) entry->newer_->older_ = entry->older_;
    else head_ = entry->older_;
    if (entry->older_ != nullptr) entry->older_->newer_ = entry->newer_;
    else tail_ = entry->newer_;
    entry->newer_ = entry->older_ = nullptr;
  }
  void MoveToFront(TCachedBuffer* entry) noexcept {
    if (entry == head_) return;
    Unlink(entry);
    LinkFront(entry);
  }
  void Unlink() noexcept {
    for (auto& buffer : sorted_) buffer->newer_ = buffer->older_ = nullptr;
    head_ = tail_ = nullptr;
  }

  std::unique_ptr<TInstanceStack<T>> ownPool_;
  TInstanceStack<T>* pool_;
  TList sorted_;
  TCachedBuffer* head_ = nullptr;  // most recently used
  TCachedBuffer* tail_ = nullptr;  // least recently used
  std::size_t capacity_ = 0;
  std::size_t growStep_;
  TarnErrorCode corruptCode_;
  std::string tableName_;
  TCacheStatistics stats_;
};

}  // namespace tarn
