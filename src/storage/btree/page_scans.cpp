// TPage scans: binary and linear searches over one page's entries, the
// read-ahead run count, and the scans that test or fill a records bitmap.
#include <algorithm>

#include "core/errors.h"
#include "storage/btree/page.h"

namespace tarn {

void TPage::RequireEntries() const {
  if (entryCount_ <= 0) RaiseError(TARN_INDEXCORRUPT);
}

int TPage::FirstPositionAbove(const TPageKeyComparator& cmp, const std::uint8_t* key, std::size_t length,
                              bool orEqual) const {
  // Entries below the key (without orEqual, also those equal to it) lie before the answer.
  int lo = 1, hi = entryCount_ + 1;
  while (lo < hi) {
    const int mid = lo + (hi - lo) / 2;
    const int c = cmp.CompareKeys(GetKeyEntryPtr(mid), key, length);
    if (c < 0 || (!orEqual && c == 0)) {
      lo = mid + 1;
    } else {
      hi = mid;
    }
  }
  return lo;
}

TPage::TSearchResult TPage::SearchScan(const TPageKeyComparator& cmp, const std::uint8_t* key) const {
  RequireEntries();
  const int pos = LastNotAbove(cmp, key, KeySize());
  const bool found = IsLeaf() && cmp.CompareKeys(GetKeyEntryPtr(pos), key, KeySize()) == 0;
  return {pos, found};
}

int TPage::InsertScan(const TPageKeyComparator& cmp, const std::uint8_t* key) const {
  return UpperBound(cmp, key, KeySize()) - 1;
}

bool TPage::FindScan(const TPageKeyComparator& cmp, const std::uint8_t* key, std::size_t length, bool nearest,
                     int& pos, std::int64_t& keysBefore) const {
  RequireEntries();
  bool found = false;
  if (IsBranch()) {
    pos = LastNotAbove(cmp, key, length);
  } else {
    const int lb = LowerBound(cmp, key, length);
    if (lb <= entryCount_ && cmp.CompareKeys(GetKeyEntryPtr(lb), key, length) == 0) {
      pos = lb;
      found = true;
    } else {
      pos = nearest ? lb : std::max(1, lb - 1);
    }
  }
  keysBefore += GetPageKeyCount(pos);
  return found;
}

bool TPage::FindRangeScan(const TPageKeyComparator& cmp, const std::uint8_t* key, std::size_t length, bool exact,
                          int& pos, std::int64_t& keysBefore, const std::uint8_t* rangeEnd) const {
  RequireEntries();
  pos = 1;
  bool moved = false;
  for (int i = 1; i <= entryCount_; ++i) {
    const std::uint8_t* entry = GetKeyEntryPtr(i);
    if (cmp.CompareKeys(entry, rangeEnd, length) > 0) break;
    const int c = cmp.CompareKeys(entry, key, length);
    if (c == 0 && IsLeaf()) {
      pos = i;
      return true;
    }
    if (c > 0) {
      if (IsLeaf() && !exact) {
        pos = i;
        return true;
      }
      break;
    }
    keysBefore += GetLowerKeyEntryCount(i);
    pos = i + 1;
    moved = true;
  }
  if (moved) {
    --pos;
    keysBefore -= GetLowerKeyEntryCount(pos);
  }
  return false;
}

void TPage::FirstScan(int& pos, std::int64_t& keysBefore) const {
  pos = 1;
  keysBefore += GetPageKeyCount(pos);
}

void TPage::LastScan(int& pos, std::int64_t& keysBefore) const {
  pos = std::max(1, entryCount_);
  keysBefore += GetPageKeyCount(pos);
}

void TPage::FirstRangeScan(const TPageKeyComparator& cmp, const std::uint8_t* key, std::size_t length, int& pos,
                           std::int64_t& keysBefore) const {
  RequireEntries();
  const int lb = LowerBound(cmp, key, length);
  pos = IsLeaf() ? lb : std::max(1, lb - 1);
  keysBefore += GetPageKeyCount(pos);
}

void TPage::LastRangeScan(const TPageKeyComparator& cmp, const std::uint8_t* key, std::size_t length, int& pos,
                          std::int64_t& keysBefore) const {
  RequireEntries();
  pos = LastNotAbove(cmp, key, length);
  keysBefore += GetPageKeyCount(pos);
}

int TPage::CountSequentialRecords(int count, int direction, int pos) const noexcept {
  if (count < 1 || pos < 1 || pos > entryCount_) return 0;
  const std::int64_t first = GetRecordNumber(pos);
  int n = 1;
  if (direction == 1) {
    while (n < count && pos + n <= entryCount_ && GetRecordNumber(pos + n) == first + n) ++n;
  } else {
    while (n < count && pos - n >= 1 && GetRecordNumber(pos - n) == first - n) ++n;
  }
  return n;
}

bool TPage::FilterScanForward(std::int64_t& logical, int& pos, const TRecordsBitmapInterface& bitmap) const {
  if (pos < 1) pos = 1;
  for (; pos <= entryCount_; ++pos, ++logical) {
    if (bitmap.GetBit(GetRecordNumber(pos))) return true;
  }
  pos = entryCount_ + 1;
  return false;
}

bool TPage::FilterScanBackward(std::int64_t& logical, int& pos, const TRecordsBitmapInterface& bitmap) const {
  if (pos > entryCount_) pos = entryCount_;
  for (; pos >= 1; --pos, --logical) {
    if (bitmap.GetBit(GetRecordNumber(pos))) return true;
  }
  pos = 0;
  return false;
}

bool TPage::FilterRangeScanForward(const TPageKeyComparator& cmp, std::int64_t& logical,
                                   const TRecordsBitmapInterface& bitmap, const std::uint8_t* rangeEnd,
                                   std::size_t length, int& pos) const {
  if (pos < 1) pos = 1;
  for (; pos <= entryCount_; ++pos, ++logical) {
    if (cmp.CompareKeys(GetKeyEntryPtr(pos), rangeEnd, length) > 0) return false;
    if (bitmap.GetBit(GetRecordNumber(pos))) return true;
  }
  pos = entryCount_ + 1;
  return false;
}

bool TPage::FilterRangeScanBackward(const TPageKeyComparator& cmp, std::int64_t& logical,
                                    const TRecordsBitmapInterface& bitmap, const std::uint8_t* rangeStart,
                                    std::size_t length, int& pos) const {
  if (pos > entryCount_) pos = entryCount_;
  for (; pos >= 1; --pos, --logical) {
    if (cmp.CompareKeys(GetKeyEntryPtr(pos), rangeStart, length) < 0) return false;
    if (bitmap.GetBit(GetRecordNumber(pos))) return true;
  }
  pos = 0;
  return false;
}

bool TPage::FilterSetIndexedBits(const TPageKeyComparator& cmp, const std::uint8_t* rangeEnd, std::size_t length,
                                 int& pos, TRecordsBitmapInterface& bitmap) const {
  if (pos < 1) pos = 1;
  for (; pos <= entryCount_; ++pos) {
    if (cmp.CompareKeys(GetKeyEntryPtr(pos), rangeEnd, length) > 0) return false;
    bitmap.SetBit(GetRecordNumber(pos));
  }
  return true;
}

}  // namespace tarn
