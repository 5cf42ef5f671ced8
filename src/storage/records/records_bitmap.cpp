// The records bitmap's word operations, counting and stepping, and the
// process-wide pool of spare bitmaps.
#include "storage/records/records_bitmap.h"

#include <algorithm>
#include <bit>

namespace tarn {

namespace {

constexpr std::size_t kWordsPerStep = TRecordsBitmap::kGrowBytes / sizeof(std::uint32_t);

}  // namespace

void TRecordsBitmap::SetNumOfBits(std::int32_t n) {
  n = std::max<std::int32_t>(n, 0);
  if (n == numberOfBits_) return;
  const std::size_t wordCount = (static_cast<std::size_t>(n) + 31) / 32;
  if (wordCount > words_.capacity()) {
    words_.reserve((wordCount + kWordsPerStep - 1) / kWordsPerStep * kWordsPerStep);
  }
  // New words start clear; the old last word's bits beyond the old n are clear
  // already, so every bit added by a larger n is clear.
  words_.resize(wordCount, 0);
  numberOfBits_ = n;
  ClearTail();
}

void TRecordsBitmap::ClearTail() noexcept {
  const unsigned used = static_cast<unsigned>(numberOfBits_ % 32);
  if (used != 0 && !words_.empty()) words_.back() &= (1u << used) - 1u;
}

bool TRecordsBitmap::IsBitSet(std::int32_t r) const noexcept {
  if (r < 1 || r > numberOfBits_) return false;
  const auto index = static_cast<std::uint32_t>(r - 1);
  return (words_[index / 32] >> (index % 32) & 1u) != 0;
}

void TRecordsBitmap::SetBit(std::int32_t r) noexcept {
  if (r < 1 || r > numberOfBits_) return;
  const auto index = static_cast<std::uint32_t>(r - 1);
  words_[index / 32] |= 1u << (index % 32);
}

void TRecordsBitmap::ClearBit(std::int32_t r) noexcept {
  if (r < 1 || r > numberOfBits_) return;
  const auto index = static_cast<std::uint32_t>(r - 1);
  words_[index / 32] &= ~(1u << (index % 32));
}

void TRecordsBitmap::ClearBits() noexcept { std::fill(words_.begin(), words_.end(), 0u); }

void TRecordsBitmap::SetBits() noexcept {
  std::fill(words_.begin(), words_.end(), kAllOnes);
  ClearTail();
}

void TRecordsBitmap::NotBits() noexcept {
  for (std::uint32_t& word : words_) word = ~word;
  ClearTail();
}

void TRecordsBitmap::AndBits(const TRecordsBitmap& other) noexcept {
  const std::size_t common = std::min(words_.size(), other.words_.size());
  for (std::size_t i = 0; i < common; ++i) words_[i] &= other.words_[i];
  std::fill(words_.begin() + static_cast<std::ptrdiff_t>(common), words_.end(), 0u);
}

void TRecordsBitmap::OrBits(const TRecordsBitmap& other) noexcept {
  const std::size_t common = std::min(words_.size(), other.words_.size());
  for (std::size_t i = 0; i < common; ++i) words_[i] |= other.words_[i];
  ClearTail();
}

void TRecordsBitmap::XorBits(const TRecordsBitmap& other) noexcept {
  const std::size_t common = std::min(words_.size(), other.words_.size());
  for (std::size_t i = 0; i < common; ++i) words_[i] ^= other.words_[i];
  ClearTail();
}

void TRecordsBitmap::Assign(const TRecordsBitmap& other) {
  if (this == &other) return;
  if (other.words_.size() > words_.capacity()) {
    words_.reserve((other.words_.size() + kWordsPerStep - 1) / kWordsPerStep * kWordsPerStep);
  }
  words_.assign(other.words_.begin(), other.words_.end());
  numberOfBits_ = other.numberOfBits_;
}

namespace {

// The set bits of a 64-bit word, counted bit-parallel: the default build may
// not assume a popcount instruction, and a call into the compiler's helper
// per word costs more than this.
inline std::int32_t BitsSet(std::uint64_t x) noexcept {
  x = x - ((x >> 1) & 0x5555555555555555ull);
  x = (x & 0x3333333333333333ull) + ((x >> 2) & 0x3333333333333333ull);
  x = (x + (x >> 4)) & 0x0F0F0F0F0F0F0F0Full;
  return static_cast<std::int32_t>((x * 0x0101010101010101ull) >> 56);
}

// The set bits of count words, two at a time, passing over empty pairs.
std::int32_t CountWords(const std::uint32_t* words, std::size_t count) noexcept {
  std::int32_t total = 0;
  std::size_t i = 0;
  for (; i + 1 < count; i += 2) {
    const std::uint64_t pair = words[i] | (static_cast<std::uint64_t>(words[i + 1]) << 32);
    if (pair == 0) continue;
    total += pair == ~std::uint64_t{0} ? 64 : BitsSet(pair);
  }
  if (i < count) total += BitsSet(words[i]);
  return total;
}

}  // namespace

std::int32_t TRecordsBitmap::GetTotalBitsSet() const noexcept { return CountWords(words_.data(), words_.size()); }

std::int32_t TRecordsBitmap::GetPreviousTotalBitsSet(std::int32_t r) const noexcept {
  // Bits 1..last, that is word indexes 0 .. (last - 1).
  const std::int32_t last = std::min(r - 1, numberOfBits_);
  if (last <= 0) return 0;
  const auto lastIndex = static_cast<std::uint32_t>(last);
  const std::uint32_t fullWords = lastIndex / 32;
  std::int32_t total = CountWords(words_.data(), fullWords);
  const unsigned rest = lastIndex % 32;
  if (rest != 0) total += BitsSet(words_[fullWords] & ((1u << rest) - 1u));
  return total;
}

bool TRecordsBitmap::GetNextBitsSet(std::int32_t& r, std::int32_t k, std::int32_t& counter) const noexcept {
  if (k <= 0) return true;
  const std::int64_t n = numberOfBits_;
  std::int32_t found = 0;
  // index: the 0-based bit of the next candidate record (record index + 1).
  std::int64_t index = std::max<std::int64_t>(r, 0);
  while (found < k) {
    if (index >= n) return false;
    const auto w = static_cast<std::size_t>(index / 32);
    const auto bit = static_cast<unsigned>(index % 32);
    const std::uint32_t word = words_[w];
    if (bit == 0 && word == kAllOnes && k - found >= 32 && static_cast<std::int64_t>(w + 1) * 32 <= n) {
      found += 32;
      counter += 32;
      index += 32;
      r = static_cast<std::int32_t>(index);
      continue;
    }
    const std::uint32_t ahead = word & (kAllOnes << bit);
    if (ahead == 0) {
      index = static_cast<std::int64_t>(w + 1) * 32;
      continue;
    }
    const std::int64_t hit = static_cast<std::int64_t>(w) * 32 + std::countr_zero(ahead);
    if (hit >= n) return false;
    ++found;
    ++counter;
    index = hit + 1;
    r = static_cast<std::int32_t>(hit + 1);
  }
  return true;
}

bool TRecordsBitmap::GetPreviousBitsSet(std::int32_t& r, std::int32_t k, std::int32_t& counter) const noexcept {
  if (k <= 0) return true;
  std::int32_t found = 0;
  // record: the next candidate record number going down.
  std::int64_t record = std::min<std::int64_t>(static_cast<std::int64_t>(r) - 1, numberOfBits_);
  while (found < k) {
    if (record < 1) return false;
    const auto index = static_cast<std::uint64_t>(record - 1);
    const auto w = static_cast<std::size_t>(index / 32);
    const auto bit = static_cast<unsigned>(index % 32);
    const std::uint32_t word = words_[w];
    if (bit == 31 && word == kAllOnes && k - found >= 32) {
      found += 32;
      counter -= 32;
      record -= 32;
      r = static_cast<std::int32_t>(record + 1);
      continue;
    }
    const std::uint32_t below = bit == 31 ? word : word & ((1u << (bit + 1)) - 1u);
    if (below == 0) {
      record = static_cast<std::int64_t>(w) * 32;
      continue;
    }
    const std::int64_t hit = static_cast<std::int64_t>(w) * 32 + (31 - std::countl_zero(below)) + 1;
    ++found;
    --counter;
    r = static_cast<std::int32_t>(hit);
    record = hit - 1;
  }
  return true;
}

// --- pool ----------------------------------------------------------------------

std::unique_ptr<TRecordsBitmap> TRecordsBitmapStack::Take() {
  std::unique_ptr<TRecordsBitmap> bitmap;
  {
    std::lock_guard guard(lock_);
    if (!spare_.empty()) {
      bitmap = std::move(spare_.back());
      spare_.pop_back();
    }
  }
  if (!bitmap) return std::make_unique<TRecordsBitmap>();
  bitmap->ClearBits();
  return bitmap;
}

void TRecordsBitmapStack::Return(std::unique_ptr<TRecordsBitmap>& bitmap) {
  if (!bitmap) return;
  std::unique_ptr<TRecordsBitmap> surplus;
  {
    std::lock_guard guard(lock_);
    if (spare_.size() < kPoolLimit) {
      spare_.push_back(std::move(bitmap));
    } else {
      surplus = std::move(bitmap);
    }
  }
  bitmap.reset();
}

std::size_t TRecordsBitmapStack::Size() const {
  std::lock_guard guard(lock_);
  return spare_.size();
}

namespace {

// The pointer is guarded by its own lock; the pool guards its contents.
std::mutex gPoolLock;
std::unique_ptr<TRecordsBitmapStack> gPool;

}  // namespace

void CreateRecordsBitmapPool() {
  std::lock_guard guard(gPoolLock);
  if (!gPool) gPool = std::make_unique<TRecordsBitmapStack>();
}

void FreeRecordsBitmapPool() {
  std::unique_ptr<TRecordsBitmapStack> pool;
  {
    std::lock_guard guard(gPoolLock);
    pool = std::move(gPool);
  }
}

bool RecordsBitmapPoolExists() {
  std::lock_guard guard(gPoolLock);
  return gPool != nullptr;
}

std::size_t RecordsBitmapPoolSize() {
  std::lock_guard guard(gPoolLock);
  return gPool ? gPool->Size() : 0;
}

std::unique_ptr<TRecordsBitmap> GetNewRecordsBitmapInstance() {
  std::lock_guard guard(gPoolLock);
  if (gPool) return gPool->Take();
  return std::make_unique<TRecordsBitmap>();
}

void ReturnRecordsBitmapInstance(std::unique_ptr<TRecordsBitmap>& bitmap) {
  std::unique_ptr<TRecordsBitmap> surplus;
  {
    std::lock_guard guard(gPoolLock);
    if (gPool) gPool->Return(bitmap);
    surplus = std::move(bitmap);
  }
  bitmap.reset();
}

}  // namespace tarn
