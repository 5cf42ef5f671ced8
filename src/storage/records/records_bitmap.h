// TRecordsBitmap: a bit set over physical record numbers 1..n (filters, ranges,
// live records and record locks), and the process-wide pool of spare bitmaps
// that the engine creates at start and frees at stop.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "storage/records/records_bitmap_interface.h"

namespace tarn {

// Record r is bit (r - 1) mod 32 of 32-bit word (r - 1) div 32, least
// significant bit first. Bits at or beyond n are kept clear at all times, so
// whatever a bitmap answers (counts, next and previous set bits, an inversion)
// never names a record beyond n. Record numbers outside 1..n read as clear and
// are ignored when set or cleared.
class TRecordsBitmap final : public TRecordsBitmapInterface {
 public:
  // The buffer grows in steps of 256 bytes.
  static constexpr std::size_t kGrowBytes = 256;

  TRecordsBitmap() = default;
  explicit TRecordsBitmap(std::int32_t numberOfBits) { SetNumOfBits(numberOfBits); }

  // Sets n (negative counts as 0). Kept words keep their contents; bits beyond
  // a smaller n are cleared, bits added by a larger n start clear.
  void SetNumOfBits(std::int32_t n);
  std::int32_t GetNumOfBits() const noexcept { return numberOfBits_; }
  // n rounded up to a multiple of 32, and the number of 32-bit words.
  std::int32_t GetRoundedBits() const noexcept { return WordCount() * 32; }
  std::int32_t WordCount() const noexcept { return static_cast<std::int32_t>(words_.size()); }
  // Allocated bytes (a multiple of kGrowBytes, or 0).
  std::size_t GetBufferSize() const noexcept { return words_.capacity() * sizeof(std::uint32_t); }

  bool IsBitSet(std::int32_t r) const noexcept;
  void SetBit(std::int32_t r) noexcept override;
  void ClearBit(std::int32_t r) noexcept;
  bool GetBit(std::int32_t r) const noexcept override { return IsBitSet(r); }

  void ClearBits() noexcept;
  void SetBits() noexcept;
  void NotBits() noexcept;
  // Word by word over this bitmap's words. A word the other bitmap lacks (it
  // has fewer bits) counts as all clear: AndBits clears it, OrBits and XorBits
  // keep it. Bits beyond this bitmap's n stay clear.
  void AndBits(const TRecordsBitmap& other) noexcept;
  void OrBits(const TRecordsBitmap& other) noexcept;
  void XorBits(const TRecordsBitmap& other) noexcept;
  // Copies the number of bits and the contents.
  void Assign(const TRecordsBitmap& other);

  // Set bits among 1..n.
  std::int32_t GetTotalBitsSet() const noexcept;
  // Set bits among 1..r-1 (0 for r <= 1).
  std::int32_t GetPreviousTotalBitsSet(std::int32_t r) const noexcept;
  // From after r, finds the k-th next set bit: each set bit found moves r onto
  // it and adds 1 to counter. True when k bits were found; false when n was
  // reached first (r then rests on the last set bit found, or stays).
  bool GetNextBitsSet(std::int32_t& r, std::int32_t k, std::int32_t& counter) const noexcept;
  // The mirror image, from r - 1 down to 1, subtracting from counter.
  bool GetPreviousBitsSet(std::int32_t& r, std::int32_t k, std::int32_t& counter) const noexcept;

 private:
  static constexpr std::uint32_t kAllOnes = 0xFFFFFFFFu;
  void ClearTail() noexcept;

  std::vector<std::uint32_t> words_;
  std::int32_t numberOfBits_ = 0;
};

// Spare bitmaps, up to a limit, guarded by a lock so that threads may take and
// return them at once. Taking answers the most recently returned bitmap with
// its bits cleared and its number of bits as left, or a new empty one.
class TRecordsBitmapStack {
 public:
  static constexpr std::size_t kPoolLimit = 64;

  std::unique_ptr<TRecordsBitmap> Take();
  // Keeps the bitmap unless the pool is full (then it is destroyed); the
  // caller's pointer is null afterwards.
  void Return(std::unique_ptr<TRecordsBitmap>& bitmap);
  std::size_t Size() const;

 private:
  mutable std::mutex lock_;
  std::vector<std::unique_ptr<TRecordsBitmap>> spare_;
};

// The process's pool: created at engine start, freed at engine stop. Without a
// pool (before the start or after the stop) a bitmap taken is new and one
// returned is destroyed, so a cursor that outlives the engine stop still
// closes cleanly.
void CreateRecordsBitmapPool();
void FreeRecordsBitmapPool();
bool RecordsBitmapPoolExists();
// Spare bitmaps now in the process's pool (0 without a pool).
std::size_t RecordsBitmapPoolSize();
std::unique_ptr<TRecordsBitmap> GetNewRecordsBitmapInstance();
void ReturnRecordsBitmapInstance(std::unique_ptr<TRecordsBitmap>& bitmap);

}  // namespace tarn
