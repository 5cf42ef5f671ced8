// TDataCursor's records bitmaps and ranges: the range bitmap (records whose
// key lies in the active range), the live-records bitmap, the range ordinals,
// and the index scans they are built from: counting the keys of a key range
// from the key counts of the pages, and collecting the records of a key range.
#include <algorithm>
#include <cstring>

#include "core/errors.h"
#include "cursor/cursor_descent.h"
#include "cursor/cursor_operation.h"
#include "cursor/data_cursor.h"
#include "storage/formats/record_layout.h"

namespace tarn {

// --- index scans over a key range -----------------------------------------------------

// Ordinals of the first key not below low and of the last key not above high;
// a null bound is an open end.
bool TDataCursor::TryCountRange(const std::uint8_t* low, const std::uint8_t* high, std::int64_t& first,
                                std::int64_t& last) {
  first = 0;
  last = 0;
  TPageRef page(table_->IndexFile(), this);
  int entry = 0;
  std::int64_t before = 0;
  if (!Descend(
          [&](const TPage& p, std::int64_t& keys) {
            int pos = 0;
            low == nullptr ? p.FirstScan(pos, keys) : p.BeginRangeScan(comparator_, low, keySize_, pos, keys);
            return pos;
          },
          page, entry, before))
    return false;
  if (!page || entry == 0) return true;  // an empty index
  // On a leaf the scan never stops below low.
  first = before + 1;
  if (!Descend(
          [&](const TPage& p, std::int64_t& keys) {
            int pos = 0;
            high == nullptr ? p.LastScan(pos, keys) : p.EndRangeScan(comparator_, high, keySize_, pos, keys);
            return pos;
          },
          page, entry, before))
    return false;
  last = before + 1;
  // When every key of the leaf lies above high, the last one not above it is
  // the one before the leaf.
  if (high != nullptr && CompareKeys(page->GetKeyEntryPtr(entry), high, keySize_) > 0) --last;
  return true;
}

bool TDataCursor::CountIndexedRecords(const std::uint8_t* low, const std::uint8_t* high, std::int64_t& count) {
  count = 0;
  if (CompareKeys(low, high, keySize_) > 0) return true;
  std::int64_t first = 0, last = 0;
  if (!TryCountRange(low, high, first, last)) return false;
  count = first > 0 && last > 0 ? std::max<std::int64_t>(0, last - first + 1) : 0;
  return true;
}

bool TDataCursor::TryCollectRange(const std::uint8_t* low, const std::uint8_t* high, TRecordsBitmap& bitmap) {
  bitmap.ClearBits();
  if (low != nullptr && high != nullptr && CompareKeys(low, high, keySize_) > 0) return true;
  TPageRef page(table_->IndexFile(), this);
  int entry = 0;
  std::int64_t before = 0;
  if (!Descend(
          [&](const TPage& p, std::int64_t& keys) {
            int pos = 0;
            low == nullptr ? p.FirstScan(pos, keys) : p.FirstRangeScan(comparator_, low, keySize_, pos, keys);
            return pos;
          },
          page, entry, before))
    return false;
  // Leaf by leaf to the right until a key lies above high.
  const std::int32_t maxPages = table_->IndexFile().GetPhysicalPagesUsed();
  for (std::int32_t visited = 0; page && entry > 0; ++visited) {
    if (visited > maxPages) Raise(TARN_INDEXCORRUPT, {}, indexName_);
    if (high == nullptr) {
      for (; entry <= page->NumberOfKeyEntries(); ++entry) bitmap.SetBit(page->GetRecordNumber(entry));
    } else if (!page->FilterSetIndexedBits(comparator_, high, keySize_, entry, bitmap)) {
      return true;
    }
    if (!Sibling(page, true)) return false;
    entry = 1;
  }
  return true;
}

bool TDataCursor::TryCollectOutside(const std::uint8_t* low, const std::uint8_t* high, TRecordsBitmap& bitmap) {
  bitmap.ClearBits();
  const std::int32_t maxPages = table_->IndexFile().GetPhysicalPagesUsed();
  TPageRef page(table_->IndexFile(), this);
  int entry = 0;
  std::int64_t before = 0;
  // The keys below low, from the first key of the index on.
  if (low != nullptr) {
    if (!Descend(
            [&](const TPage& p, std::int64_t& keys) {
              int pos = 0;
              p.FirstScan(pos, keys);
              return pos;
            },
            page, entry, before))
      return false;
    for (std::int32_t visited = 0; page && entry > 0; ++visited) {
      if (visited > maxPages) Raise(TARN_INDEXCORRUPT, {}, indexName_);
      bool below = true;
      for (; entry <= page->NumberOfKeyEntries(); ++entry) {
        if (CompareKeys(page->GetKeyEntryPtr(entry), low, keySize_) >= 0) {
          below = false;
          break;
        }
        bitmap.SetBit(page->GetRecordNumber(entry));
      }
      if (!below) break;
      if (!Sibling(page, true)) return false;
      entry = 1;
    }
  }
  // The keys above high, to the last key of the index.
  if (high == nullptr) return true;
  if (!Descend(
          [&](const TPage& p, std::int64_t& keys) {
            int pos = 0;
            p.EndRangeScan(comparator_, high, keySize_, pos, keys);
            return pos;
          },
          page, entry, before))
    return false;
  for (std::int32_t visited = 0; page && entry > 0; ++visited) {
    if (visited > maxPages) Raise(TARN_INDEXCORRUPT, {}, indexName_);
    for (; entry <= page->NumberOfKeyEntries(); ++entry) {
      if (CompareKeys(page->GetKeyEntryPtr(entry), high, keySize_) > 0) bitmap.SetBit(page->GetRecordNumber(entry));
    }
    if (!Sibling(page, true)) return false;
    entry = 1;
  }
  return true;
}

bool TDataCursor::NavigateIndexedRecords(const std::uint8_t* low, const std::uint8_t* high, TRecordsBitmap& bitmap) {
  return TryCollectRange(low, high, bitmap);
}

// --- ranges ---------------------------------------------------------------------------------

void TDataCursor::CancelRange() {
  rangeBegin_.fill(0x00);
  rangeEnd_.fill(0xFF);
  rangeHasBegin_ = false;
  rangeHasEnd_ = false;
  rangeStartOrdinal_ = 1;
  rangeEndOrdinal_ = table_ != nullptr ? GetActualRecordCount() : 0;
  rangeActive_ = false;
}

void TDataCursor::UpdateRange() {
  if (updatingRange_) return;
  updatingRange_ = true;
  struct TGuard {
    bool& flag;
    ~TGuard() { flag = false; }
  } guard{updatingRange_};
  if (!rangeActive_ || GetIsPhysicalNavigation()) {
    rangeStartOrdinal_ = 1;
    rangeEndOrdinal_ = GetActualRecordCount();
    return;
  }
  const std::uint8_t* begin = RangeBeginKey();
  const std::uint8_t* end = RangeEndKey();
  if (begin != nullptr && end != nullptr && CompareKeys(begin, end, keySize_) > 0) {
    rangeStartOrdinal_ = 0;
    rangeEndOrdinal_ = 0;
    return;
  }
  std::int64_t first = 0, last = 0;
  Restarting([&] { return TryCountRange(begin, end, first, last); });
  rangeStartOrdinal_ = static_cast<std::int32_t>(first);
  rangeEndOrdinal_ = static_cast<std::int32_t>(last);
}

// --- the cursor's bitmaps ------------------------------------------------------------------------

void TDataCursor::SizeCursorBitmaps(std::int32_t bits) {
  // All together, so that combining them never meets a shorter one.
  filterBitmap_->SetNumOfBits(bits);
  deletedBitmap_->SetNumOfBits(bits);
  rangeBitmap_->SetNumOfBits(rangeActive_ && !GetIsPhysicalNavigation() ? bits : 0);
}

void TDataCursor::ReleaseCursorBitmaps() {
  if (rangeBitmap_) rangeBitmap_->SetNumOfBits(0);
  if (deletedBitmap_) deletedBitmap_->SetNumOfBits(0);
  if (filterBitmap_) filterBitmap_->SetNumOfBits(0);
}

bool TDataCursor::UpdateRangeBitmap() {
  if (!rangeActive_ || GetIsPhysicalNavigation()) {
    rangeBitmap_->SetNumOfBits(0);
    return true;
  }
  const std::int32_t bits = filterBitmap_->GetNumOfBits();
  rangeBitmap_->SetNumOfBits(bits);
  const std::int32_t actual = GetActualRecordCount();
  const std::int32_t inRange = std::max(0, rangeEndOrdinal_ - rangeStartOrdinal_ + 1);
  if (languageID_ == 0 && actual - inRange < inRange) {
    // Most records lie in the range: collect the few outside it and invert.
    if (!TryCollectOutside(RangeBeginKey(), RangeEndKey(), *rangeBitmap_)) return false;
    rangeBitmap_->NotBits();
    return true;
  }
  return TryCollectRange(RangeBeginKey(), RangeEndKey(), *rangeBitmap_);
}

bool TDataCursor::UpdateDeletedBitmap() {
  const std::int32_t bits = filterBitmap_->GetNumOfBits();
  deletedBitmap_->SetNumOfBits(bits);
  if (GetActualRecordCount() == GetPhysicalRecordsUsed()) {
    deletedBitmap_->SetBits();
    return true;
  }
  const std::uint8_t saved = indexPos_;
  InternalSetIndexPos(kDeletedRecordsIndex);
  std::array<std::uint8_t, kDeletedIndexKeySize> low{}, high{};
  low[0] = kRecordDeleted;
  high.fill(0xFF);
  high[0] = kRecordDeleted;
  bool complete = false;
  try {
    complete = TryCollectRange(low.data(), high.data(), *deletedBitmap_);
  } catch (...) {
    InternalSetIndexPos(saved);
    throw;
  }
  InternalSetIndexPos(saved);
  if (complete) deletedBitmap_->NotBits();
  return complete;
}

bool TDataCursor::ReadFilterRecord(std::int32_t recordNumber, const std::uint8_t*& record) {
  record = nullptr;
  ++filterRecordReads_;
  TDataFile& file = table_->DataFile();
  TRecordRead read;
  read.ReadAhead = true;
  TRecord* cached = nullptr;
  readAheadCount_ = file.ReadAheadLimit();
  readAheadDirection_ = 0;
  if (!file.GetRecord(this, recordNumber, cached, read)) return false;
  const std::size_t size = std::min<std::size_t>(cached->RecordSize(), filterRecord_.size());
  std::memcpy(filterRecord_.data(), cached->GetRecordBufferPtr(), size);
  file.PutRecord(cached);
  record = filterRecord_.data();
  return true;
}

}  // namespace tarn
