// TPage disk images: the page header, the branch and leaf entry formats with
// the duplicate-byte, trailing-byte and full leaf compressions, data pages,
// and scrambling of encrypted tables. Every count read from an image is
// checked against the page before it is used.
#include <algorithm>
#include <cstring>

#include "core/errors.h"
#include "storage/formats/byte_codec.h"
#include "storage/btree/page.h"
#include "storage/formats/scrambling.h"

namespace tarn {

namespace {
constexpr std::size_t kRecordIdBytes = 4;

std::size_t TrailingZeros(const std::uint8_t* key, std::size_t from, std::size_t to) noexcept {
  std::size_t n = 0;
  while (to > from && key[to - 1] == 0 && n < kMaxCompressionCount) {
    --to;
    ++n;
  }
  return n;
}
}  // namespace

std::uint8_t TPage::DuplicateCount(int pos) const noexcept {
  if (pos <= 1) return 0;
  const std::uint8_t* a = GetKeyEntryPtr(pos - 1);
  const std::uint8_t* b = GetKeyEntryPtr(pos);
  const std::size_t limit = std::min<std::size_t>(settings_.KeySize, kMaxCompressionCount);
  std::size_t d = 0;
  while (d < limit && a[d] == b[d]) ++d;
  return static_cast<std::uint8_t>(d);
}

// Trailing zero bytes left out of the entry at pos, given its duplicate count
// (already stored in the entry's work byte).
std::uint8_t TPage::TrailingCount(int pos) const noexcept {
  const std::size_t ks = settings_.KeySize;
  const std::uint8_t* key = GetKeyEntryPtr(pos);
  switch (settings_.Compression) {
    case icTrailingByte:
      if (settings_.Unique) return static_cast<std::uint8_t>(TrailingZeros(key, 0, ks));
      return static_cast<std::uint8_t>(ks >= kRecordIdBytes ? TrailingZeros(key, 0, ks - kRecordIdBytes) : 0);
    case icFull: {
      const std::size_t d = key[ks + 8];
      if (settings_.Unique) return static_cast<std::uint8_t>(TrailingZeros(key, d, ks));
      if (ks - d < kRecordIdBytes + 1) return 0;
      return static_cast<std::uint8_t>(TrailingZeros(key, d, ks - kRecordIdBytes));
    }
    default:
      return 0;
  }
}

std::size_t TPage::PackedEntrySize(int pos) const noexcept {
  const std::size_t ks = settings_.KeySize;
  const std::uint8_t* entry = GetKeyEntryPtr(pos);
  const std::size_t d = entry[ks + 8], t = entry[ks + 9];
  if (IsBranch()) return ks + (settings_.Slot == 32 ? 4 : 8);
  switch (settings_.Compression) {
    case icDuplicateByte:
      return 1 + (ks - d) + 4;
    case icTrailingByte:
      return 1 + (ks - t) + 4;
    case icFull:
      return 2 + (ks - d - t) + 4;
    default:
      return ks + 4;
  }
}

void TPage::CalculateCompressedSize() noexcept {
  if (!IsCompressedLeaf()) {
    compressedSize_ = 0;
    return;
  }
  const std::size_t ks = settings_.KeySize;
  const bool dup = settings_.Compression == icDuplicateByte || settings_.Compression == icFull;
  const bool trail = settings_.Compression == icTrailingByte || settings_.Compression == icFull;
  std::size_t total = 0;
  for (int pos = 1; pos <= entryCount_; ++pos) {
    std::uint8_t* entry = GetKeyEntryPtr(pos);
    entry[ks + 8] = dup ? DuplicateCount(pos) : 0;
    entry[ks + 9] = trail ? TrailingCount(pos) : 0;
    total += PackedEntrySize(pos);
  }
  compressedSize_ = static_cast<std::uint16_t>(std::min<std::size_t>(total, 0xFFFF));
}

std::size_t TPage::CompressPageData(std::uint8_t* dest) const {
  const std::size_t ks = settings_.KeySize;
  std::size_t out = 0;
  auto put = [&](const void* src, std::size_t n) {
    if (out + n > kPageDataSize) RaiseError(TARN_INDEXCORRUPT);
    std::memcpy(dest + out, src, n);
    out += n;
  };
  for (int pos = 1; pos <= entryCount_; ++pos) {
    const std::uint8_t* entry = GetKeyEntryPtr(pos);
    const std::uint8_t* value = entry + ks;
    const std::uint8_t d = entry[ks + 8], t = entry[ks + 9];
    if (IsBranch()) {
      put(entry, ks);
      put(value, settings_.Slot == 32 ? 4 : 8);
      continue;
    }
    switch (settings_.Compression) {
      case icDuplicateByte:
        put(&d, 1);
        put(entry + d, ks - d);
        break;
      case icTrailingByte:
        put(&t, 1);
        if (settings_.Unique) {
          put(entry, ks - t);
        } else {
          put(entry, ks - kRecordIdBytes - t);
          put(entry + ks - kRecordIdBytes, kRecordIdBytes);
        }
        break;
      case icFull:
        put(&d, 1);
        put(&t, 1);
        if (settings_.Unique || ks - d < kRecordIdBytes + 1) {
          put(entry + d, ks - d - t);
        } else {
          put(entry + d, ks - kRecordIdBytes - d - t);
          put(entry + ks - kRecordIdBytes, kRecordIdBytes);
        }
        break;
      default:
        put(entry, ks);
        break;
    }
    put(value, 4);
  }
  return out;
}

void TPage::UnCompressPageData(const std::uint8_t* src, std::size_t available, int count) {
  const std::size_t ks = settings_.KeySize;
  if (count > 0 && (ks == 0 || ks > kMaxKeySize)) RaiseError(TARN_INDEXCORRUPT);
  if ((IsBranch() || !IsCompressedLeaf()) && count > GetMaximumKeyEntries()) RaiseError(TARN_INDEXCORRUPT);
  entries_.clear();
  entryCount_ = 0;
  SetNumberOfKeyEntries(count);
  std::size_t in = 0;
  auto take = [&](void* dst, std::size_t n) {
    if (n > available || in > available - n) RaiseError(TARN_INDEXCORRUPT);
    std::memcpy(dst, src + in, n);
    in += n;
  };
  for (int pos = 1; pos <= count; ++pos) {
    std::uint8_t* entry = GetKeyEntryPtr(pos);
    std::uint8_t* value = entry + ks;
    if (IsBranch()) {
      take(entry, ks);
      if (settings_.Slot == 32) {
        take(value, 4);
      } else {
        take(value, 8);
        if (GetLowerKeyEntryCount(pos) < 0) RaiseError(TARN_INDEXCORRUPT);
      }
      continue;
    }
    std::uint8_t d = 0, t = 0;
    switch (settings_.Compression) {
      case icDuplicateByte:
        take(&d, 1);
        if (d > ks || (pos == 1 && d != 0)) RaiseError(TARN_INDEXCORRUPT);
        if (d > 0) std::memcpy(entry, entry - EntrySize(), d);
        take(entry + d, ks - d);
        break;
      case icTrailingByte:
        take(&t, 1);
        if (settings_.Unique) {
          if (t > ks) RaiseError(TARN_INDEXCORRUPT);
          take(entry, ks - t);
        } else {
          if (ks < kRecordIdBytes || t > ks - kRecordIdBytes) RaiseError(TARN_INDEXCORRUPT);
          take(entry, ks - kRecordIdBytes - t);
          take(entry + ks - kRecordIdBytes, kRecordIdBytes);
        }
        break;
      case icFull:
        take(&d, 1);
        take(&t, 1);
        if (d > ks || (pos == 1 && d != 0)) RaiseError(TARN_INDEXCORRUPT);
        if (d > 0) std::memcpy(entry, entry - EntrySize(), d);
        if (settings_.Unique) {
          if (t > ks - d) RaiseError(TARN_INDEXCORRUPT);
          take(entry + d, ks - d - t);
        } else if (ks - d < kRecordIdBytes + 1) {
          if (t != 0) RaiseError(TARN_INDEXCORRUPT);
          take(entry + d, ks - d);
        } else {
          if (t > ks - kRecordIdBytes - d) RaiseError(TARN_INDEXCORRUPT);
          take(entry + d, ks - kRecordIdBytes - d - t);
          take(entry + ks - kRecordIdBytes, kRecordIdBytes);
        }
        break;
      default:
        take(entry, ks);
        break;
    }
    take(value, 4);
  }
}

void TPage::Read(std::span<const std::uint8_t, kPageSize> bytes, bool reuse) {
  std::array<std::uint8_t, kPageSize> image;
  std::memcpy(image.data(), bytes.data(), kPageSize);
  if (settings_.Encrypted) DecryptBuffer(image.data(), kPageSize, kRecordSeeds);
  const std::uint8_t* p = image.data();
  const std::uint8_t type = codec::GetU8(p, 0);
  const std::uint16_t count = codec::GetU16(p, 1);
  const std::int32_t left = codec::GetI32(p, 3);
  const std::int32_t right = codec::GetI32(p, 7);
  const std::uint16_t packed = codec::GetU16(p, 11);
  storedEntryCount_ = count;
  free_ = false;
  entries_.clear();
  entryCount_ = 0;
  compressedSize_ = 0;
  if (type > ptData || left < 0 || right < 0) RaiseError(TARN_INDEXCORRUPT);
  pageType_ = type;
  leftPage_ = left;
  rightPage_ = right;
  if (!reuse) {
    if (type == ptData) {
      std::memcpy(GetPageDataPtr(), p + kPageHeaderSize, kPageDataSize);
    } else if (IsCompressedLeaf()) {
      if (packed > kPageDataSize) RaiseError(TARN_INDEXCORRUPT);
      UnCompressPageData(p + kPageHeaderSize, packed, count);
    } else {
      UnCompressPageData(p + kPageHeaderSize, kPageDataSize, count);
    }
    CalculateCompressedSize();
  }
  SetDirty(false);
}

void TPage::Write(std::span<std::uint8_t, kPageSize> bytes) {
  std::uint8_t* p = bytes.data();
  std::memset(p, 0, kPageSize);
  if (!free_) {
    CalculateCompressedSize();
    if (PageDataOverflowed()) RaiseError(TARN_INDEXCORRUPT);
  }
  codec::PutU8(p, 0, pageType_);
  codec::PutU16(p, 1, free_ ? 0 : static_cast<std::uint16_t>(entryCount_));
  codec::PutI32(p, 3, leftPage_);
  codec::PutI32(p, 7, rightPage_);
  codec::PutU16(p, 11, free_ ? 0 : compressedSize_);
  if (!free_) {
    if (pageType_ == ptData) {
      std::memcpy(p + kPageHeaderSize, GetPageDataPtr(), kPageDataSize);
    } else {
      (void)CompressPageData(p + kPageHeaderSize);
    }
  }
  if (settings_.Encrypted) EncryptBuffer(p, kPageSize, kRecordSeeds);
  SetDirty(false);
}

}  // namespace tarn
