// TDataCursor movement: first, last, next, prior, skip by n and go to the
// n-th record, in the order of the current index (a walk over its leaf pages,
// whose entries carry ordinals through the key counts of the pages above) or
// in physical order (a walk over the navigation bitmap); record numbers and
// counts, reading the current record with read-ahead, and key search.
#include <algorithm>
#include <cstring>

#include "core/errors.h"
#include "cursor/cursor_descent.h"
#include "cursor/cursor_operation.h"
#include "cursor/data_cursor.h"
#include "engine/data_session.h"
#include "storage/formats/record_layout.h"

namespace tarn {

bool TDataCursor::Sibling(TPageRef& page, bool forward) {
  const std::int32_t n = forward ? page->RightPageNumber() : page->LeftPageNumber();
  if (n == 0) {
    page.Release();
    return true;
  }
  if (!table_->IndexFile().IsLinkablePage(n)) Raise(TARN_INDEXCORRUPT, {}, indexName_);
  if (!page.Get(indexPos_, n)) return false;
  if (!page->IsLeaf()) Raise(TARN_INDEXCORRUPT, {}, indexName_);
  return true;
}

void TDataCursor::SetCurrentEntry(const TPage& leaf, int entry, std::int64_t ordinal) {
  currentPage_ = leaf.PageNumber();
  currentEntry_ = entry;
  std::memcpy(currentKey_.data(), leaf.GetKeyEntryPtr(entry), keySize_);
  currentIndexRecord_ = leaf.GetRecordNumber(entry);
  logicalPosition_ = static_cast<std::int32_t>(ordinal);
}

bool TDataCursor::EntryVisible(const TPage& leaf, int entry) const {
  return !bitmapNavigation_ || filterBitmap_->IsBitSet(leaf.GetRecordNumber(entry));
}

bool TDataCursor::BelowRange(const std::uint8_t* key) const {
  const std::uint8_t* begin = RangeBeginKey();
  return begin != nullptr && CompareKeys(key, begin, keySize_) < 0;
}

bool TDataCursor::AboveRange(const std::uint8_t* key) const {
  const std::uint8_t* end = RangeEndKey();
  return end != nullptr && CompareKeys(key, end, keySize_) > 0;
}

bool TDataCursor::WalkToVisible(TPageRef& page, int& entry, std::int64_t& ordinal, bool forward, bool& found) {
  found = false;
  const std::int32_t maxPages = table_->IndexFile().GetPhysicalPagesUsed();
  for (std::int32_t pages = 0; page;) {
    if (entry < 1 || entry > page->NumberOfKeyEntries()) {
      // Across to the next (previous) leaf.
      if (++pages > maxPages) Raise(TARN_INDEXCORRUPT, {}, indexName_);
      if (!Sibling(page, forward)) return false;
      if (page) entry = forward ? 1 : page->NumberOfKeyEntries();
      continue;
    }
    const std::uint8_t* key = page->GetKeyEntryPtr(entry);
    if (forward ? AboveRange(key) : BelowRange(key)) return true;
    if (EntryVisible(*page, entry)) {
      found = true;
      return true;
    }
    entry += forward ? 1 : -1;
    ordinal += forward ? 1 : -1;
  }
  return true;
}

bool TDataCursor::SettleNearVisible(TPageRef& page, int entry, std::int64_t ordinal, int& settled) {
  settled = 0;
  TPageRef forward(table_->IndexFile(), this);
  if (!forward.Get(indexPos_, page->PageNumber())) return false;
  int e = entry;
  std::int64_t o = ordinal;
  bool found = false;
  if (!WalkToVisible(forward, e, o, true, found)) return false;
  if (found) {
    SetCurrentEntry(*forward, e, o);
    settled = 1;
    return true;
  }
  e = entry;
  o = ordinal;
  if (!WalkToVisible(page, e, o, false, found)) return false;
  if (found) {
    SetCurrentEntry(*page, e, o);
    settled = -1;
  }
  return true;
}

void TDataCursor::ResetIndexPosition() {
  logicalPosition_ = 0;
  bof_ = eof_ = true;
  currentPage_ = 0;
  currentEntry_ = 0;
  currentIndexRecord_ = 0;
  currentRecordNumber_ = 0;
  std::fill(currentKey_.begin(), currentKey_.end(), std::uint8_t{0});
}

// The first (last) entry of the index, of the range, and with bitmap
// navigation the first (last) whose record is in the navigation bitmap.
bool TDataCursor::TryFirstLast(bool first) {
  TPageRef page(table_->IndexFile(), this);
  int entry = 0;
  std::int64_t keysBefore = 0;
  const bool complete = Descend(
      [&](const TPage& p, std::int64_t& before) {
        int pos = 0;
        const std::uint8_t* bound = first ? RangeBeginKey() : RangeEndKey();
        if (bound == nullptr) {
          first ? p.FirstScan(pos, before) : p.LastScan(pos, before);
        } else if (first) {
          p.FirstRangeScan(comparator_, bound, keySize_, pos, before);
        } else {
          p.LastRangeScan(comparator_, bound, keySize_, pos, before);
        }
        return pos;
      },
      page, entry, keysBefore);
  if (!complete) return false;
  if (!page || entry == 0) {
    ResetIndexPosition();
    return true;
  }
  std::int64_t ordinal = keysBefore + 1;
  // A range scan may stop beside its key: the first key not below the begin
  // key can lie on the next page, the last not above the end key on the one before.
  if (first && entry > page->NumberOfKeyEntries()) {
    if (!Sibling(page, true)) return false;
    entry = 1;
  } else if (!first && AboveRange(page->GetKeyEntryPtr(entry))) {
    if (!Sibling(page, false)) return false;
    if (page) entry = page->NumberOfKeyEntries();
    --ordinal;
  }
  if (!page) {
    ResetIndexPosition();
    return true;
  }
  // Filtered-out entries are passed over, across pages.
  bool found = false;
  if (!WalkToVisible(page, entry, ordinal, first, found)) return false;
  if (!found) {
    ResetIndexPosition();
    return true;
  }
  SetCurrentEntry(*page, entry, ordinal);
  bof_ = eof_ = false;
  return true;
}

void TDataCursor::GotoFirstIndexPosition() {
  if (GetIsPhysicalNavigation()) {
    if (GetRecordCount() == 0) {
      ResetIndexPosition();
      return;
    }
    bof_ = eof_ = false;
    logicalPosition_ = 0;
    std::int32_t r = 0;
    if (!filterBitmap_->GetNextBitsSet(r, 1, logicalPosition_)) {
      ResetIndexPosition();
      return;
    }
    currentRecordNumber_ = r;
    return;
  }
  if (GetActualRecordCount() == 0) {
    ResetIndexPosition();
    return;
  }
  Restarting([&] { return TryFirstLast(true); });
}

void TDataCursor::GotoLastIndexPosition() {
  if (GetIsPhysicalNavigation()) {
    if (GetRecordCount() == 0) {
      ResetIndexPosition();
      return;
    }
    bof_ = eof_ = false;
    std::int32_t r = GetPhysicalRecordsUsed() + 1;
    std::int32_t counter = visibleRecordCount_ + 1;
    if (!filterBitmap_->GetPreviousBitsSet(r, 1, counter)) {
      ResetIndexPosition();
      return;
    }
    currentRecordNumber_ = r;
    logicalPosition_ = counter;
    return;
  }
  if (GetActualRecordCount() == 0) {
    ResetIndexPosition();
    return;
  }
  Restarting([&] { return TryFirstLast(false); });
}

// --- skipping ------------------------------------------------------------------------

bool TDataCursor::TrySkip(std::int32_t n) {
  TPageRef page(table_->IndexFile(), this);
  if (!page.Get(indexPos_, currentPage_)) return false;
  if (!page->IsLeaf() || page->NumberOfKeyEntries() == 0) {
    // The page was reused since the cursor stood on it: find the key again.
    bool found = false;
    if (!TryFindIndexKey(currentKey_.data(), true, found)) return false;
    if (currentPage_ == 0) return true;
    if (!page.Get(indexPos_, currentPage_)) return false;
    if (!page->IsLeaf() || page->NumberOfKeyEntries() == 0) Raise(TARN_INDEXCORRUPT, {}, indexName_);
  }
  int entry = std::min(currentEntry_, page->NumberOfKeyEntries());
  std::int64_t ordinal = logicalPosition_;
  const bool forward = n > 0;
  std::int32_t remaining = forward ? n : -n;
  // The last entry reached; where the walk stops when it runs off the index.
  std::int32_t lastPage = page->PageNumber();
  int lastEntry = entry;
  std::int64_t lastOrdinal = ordinal;
  TPageRef last(table_->IndexFile(), this);
  while (remaining > 0) {
    if (forward) {
      ++entry;
      if (entry > page->NumberOfKeyEntries()) {
        if (!Sibling(page, true)) return false;
        entry = 1;
      }
    } else {
      --entry;
      if (entry < 1) {
        if (!Sibling(page, false)) return false;
        if (page) entry = page->NumberOfKeyEntries();
      }
    }
    if (!page || page->NumberOfKeyEntries() == 0) {
      // Ran off the index: stay on the last entry.
      if (forward) {
        eof_ = true;
        bof_ = false;
      } else {
        bof_ = true;
        eof_ = false;
      }
      if (!page.Get(indexPos_, lastPage)) return false;
      SetCurrentEntry(*page, std::min(lastEntry, page->NumberOfKeyEntries()), lastOrdinal);
      return true;
    }
    ordinal += forward ? 1 : -1;
    lastPage = page->PageNumber();
    lastEntry = entry;
    lastOrdinal = ordinal;
    const std::uint8_t* key = page->GetKeyEntryPtr(entry);
    if (forward ? AboveRange(key) : BelowRange(key)) {
      if (forward) {
        eof_ = true;
        bof_ = false;
      } else {
        bof_ = true;
        eof_ = false;
      }
      SetCurrentEntry(*page, entry, ordinal);
      return true;
    }
    if (EntryVisible(*page, entry)) --remaining;
  }
  bof_ = eof_ = false;
  SetCurrentEntry(*page, entry, ordinal);
  return true;
}

void TDataCursor::SkipIndexKeys(std::int32_t n) {
  if (n == 0) return;
  if (GetIsPhysicalNavigation()) {
    if (GetRecordCount() == 0) {
      ResetIndexPosition();
      return;
    }
    std::int32_t r = currentRecordNumber_;
    if (n > 0) {
      if (!filterBitmap_->GetNextBitsSet(r, n, logicalPosition_)) {
        eof_ = true;
        bof_ = false;
      } else {
        bof_ = eof_ = false;
      }
    } else if (!filterBitmap_->GetPreviousBitsSet(r, -n, logicalPosition_)) {
      bof_ = true;
      eof_ = false;
    } else {
      bof_ = eof_ = false;
    }
    currentRecordNumber_ = r;
    return;
  }
  if (GetActualRecordCount() == 0) {
    ResetIndexPosition();
    return;
  }
  if (currentPage_ == 0) {
    // No entry to walk from: start at the end the walk leaves from.
    if (n > 0) {
      GotoFirstIndexPosition();
      if (currentPage_ != 0 && n > 1) SkipIndexKeys(n - 1);
    } else {
      GotoLastIndexPosition();
      if (currentPage_ != 0 && n < -1) SkipIndexKeys(n + 1);
    }
    return;
  }
  Restarting([&] { return TrySkip(n); });
}

// --- begin, end, next, prior -------------------------------------------------------------

void TDataCursor::SetToBegin() {
  TCursorOperation operation(*this);
  GotoFirstIndexPosition();
  if (!(bof_ && eof_)) SkipIndexKeys(-1);
  bof_ = true;
  RefreshCurrentRecord(kReadAheadForward);
}

void TDataCursor::SetToEnd() {
  TCursorOperation operation(*this);
  GotoLastIndexPosition();
  if (!(bof_ && eof_)) SkipIndexKeys(1);
  eof_ = true;
  RefreshCurrentRecord(kReadAheadBackward);
}

std::uint16_t TDataCursor::StepAndRead(std::uint8_t* buffer, bool forward) {
  // Where the step begins, to step again when reading the record it reached
  // revealed changes made elsewhere (that record may be gone).
  std::vector<std::uint8_t> from(GetBookmarkSize());
  GetBookmark(from.data());
  const bool fromBof = bof_, fromEof = eof_;
  for (int attempt = 0;; ++attempt) {
    if (forward) {
      if (bof_) {
        GotoFirstIndexPosition();
      } else {
        SkipIndexKeys(1);
      }
    } else if (eof_) {
      GotoLastIndexPosition();
    } else {
      SkipIndexKeys(-1);
    }
    if (forward ? eof_ : bof_) {
      if (buffer != nullptr) std::memset(buffer, 0, recordBufferSize_);
      return forward ? TARN_EOF : TARN_BOF;
    }
    readMetChange_ = false;
    RefreshCurrentRecord(forward ? kReadAheadForward : kReadAheadBackward);
    if (!readMetChange_ || attempt > 0) break;
    if (fromBof || fromEof) {
      bof_ = fromBof;
      eof_ = fromEof;
    } else {
      SetToBookmark(from.data(), true, true);
    }
  }
  if (buffer != nullptr) std::memcpy(buffer, currentRecord_.data(), recordBufferSize_);
  return 0;
}

std::uint16_t TDataCursor::GetNextRecord(std::uint8_t* buffer) {
  TCursorOperation operation(*this);
  return StepAndRead(buffer, true);
}

std::uint16_t TDataCursor::GetPriorRecord(std::uint8_t* buffer) {
  TCursorOperation operation(*this);
  return StepAndRead(buffer, false);
}

std::uint16_t TDataCursor::GetCurrentRecord(std::uint8_t* buffer, bool lock) {
  TCursorOperation operation(*this);
  if (lock && directory_.Session().LockProtocol() == lpPessimistic && !(bof_ || eof_)) {
    const std::int32_t r = GetPhysicalRecordNumber();
    // The lock raises when the record is locked elsewhere; changes it found
    // bring the cursor back onto the same record with fresh bitmaps. A record
    // this cursor holds already stays locked.
    if (lockedRecord_ != r) UserWriteLockRecord(r);
    if (!exclusive_ && buffer != nullptr) {
      RefreshCurrentRecord(kReadAheadForward);
      if (std::memcmp(buffer, currentRecord_.data(), recordBufferSize_) != 0) {
        UserWriteUnlockRecord(r);
        Raise(TARN_KEYORRECDELETED);
      }
    }
  }
  std::uint16_t result = 0;
  if (bof_ && eof_) {
    result = TARN_NOCURRREC;
  } else if (bof_) {
    result = TARN_BOF;
  } else if (eof_) {
    result = TARN_EOF;
  }
  if (result != 0) {
    if (buffer != nullptr) std::memset(buffer, 0, recordBufferSize_);
    return result;
  }
  RefreshCurrentRecord(kReadAheadForward);
  if (buffer != nullptr) std::memcpy(buffer, currentRecord_.data(), recordBufferSize_);
  return 0;
}

std::uint16_t TDataCursor::ReadRecordBlock(std::int32_t& count, std::uint8_t* buffers) {
  TCursorOperation operation(*this);
  for (std::int32_t i = 0; i < count; ++i) {
    const std::uint16_t result = StepAndRead(buffers + static_cast<std::size_t>(i) * recordBufferSize_, true);
    if (result != 0) {
      count = i;
      return result;
    }
  }
  return 0;
}

// --- reading the current record ----------------------------------------------------------

bool TDataCursor::ReadRecordInto(std::int32_t recordNumber, std::uint8_t direction, std::uint8_t* destination) {
  TDataFile& file = table_->DataFile();
  TRecordRead read;
  read.Direction = direction == kReadAheadBackward ? kReadBackward : kReadForward;
  read.UseCursorCount = true;
  read.ReadAhead = true;
  readAheadCount_ = file.ReadAheadLimit();
  readAheadDirection_ = direction;
  TRecord* record = nullptr;
  if (!file.GetRecord(this, recordNumber, record, read)) return false;
  const std::size_t size = std::min<std::size_t>(record->RecordSize(), recordBufferSize_);
  std::memcpy(destination, record->GetRecordBufferPtr(), size);
  file.PutRecord(record);
  return true;
}

void TDataCursor::RefreshCurrentRecord(std::uint8_t direction) {
  const std::int32_t r =
      (bof_ || eof_) && currentPage_ == 0 && currentRecordNumber_ == 0 ? 0 : GetPhysicalRecordNumber();
  std::fill(currentRecord_.begin(), currentRecord_.end(), std::uint8_t{0});
  if (r > 0 && r <= GetPhysicalRecordsUsed() && !ReadRecordInto(r, direction, currentRecord_.data())) {
    if (cacheChanged_ && !repositioning_ && !updatingFilters_ && !updatingRange_) {
      // The read lock of the miss found changes made elsewhere: the record may
      // be gone. Range and filters are rebuilt and the cursor returns to its
      // record or the nearest one, which it reads.
      readMetChange_ = true;
      RepositionAfterCacheChange();
      return;
    }
    // A record moved in the cache under the first read is read once more.
    if (!ReadRecordInto(r, direction, currentRecord_.data())) ReadRecordInto(r, direction, currentRecord_.data());
  }
  if (hasCalculatedFields_) CalculateExpressionFields(currentRecord_.data());
}

std::int32_t TDataCursor::GetNumReadAheadRecords(std::int32_t wanted, std::uint8_t direction) const {
  if (wanted <= 1) return 1;
  const bool forward = direction != kReadAheadBackward;
  if (GetIsPhysicalNavigation()) {
    const std::int32_t used = filterBitmap_->GetNumOfBits();
    const std::int32_t current = currentRecordNumber_;
    if (visibleRecordCount_ == used && current >= 1 && current <= used) {
      // Every record is visible (no range, no filter, no deleted records):
      // the run ends at the window's end or at the file's.
      return std::max(1, std::min(wanted, forward ? used - current + 1 : current));
    }
    // Asked before every record read: when both ends of the window are set,
    // one word-wise search tells whether every record between is too (the
    // wanted - 1 set bits that follow end exactly at the window's far end).
    const std::int32_t far = forward ? current + (wanted - 1) : current - (wanted - 1);
    if (far >= 1 && far <= used && filterBitmap_->IsBitSet(forward ? current + 1 : current - 1) &&
        filterBitmap_->IsBitSet(far)) {
      std::int32_t r = current;
      std::int32_t counter = 0;
      const bool found = forward ? filterBitmap_->GetNextBitsSet(r, wanted - 1, counter)
                                 : filterBitmap_->GetPreviousBitsSet(r, wanted - 1, counter);
      if (found && r == far) return wanted;
    }
    std::int32_t n = 1;
    std::int32_t r = current;
    while (n < wanted) {
      r += forward ? 1 : -1;
      if (r < 1 || r > used || !filterBitmap_->IsBitSet(r)) break;
      ++n;
    }
    return n;
  }
  if (currentPage_ == 0) return 1;
  try {
    TPageRef page(table_->IndexFile(), nullptr);
    if (!page.Get(indexPos_, currentPage_) || !page->IsLeaf()) return 1;
    return std::max(1, page->CountSequentialRecords(wanted, forward ? 1 : 2, currentEntry_));
  } catch (const ETarnEngineError&) {
    return 1;  // only the amount read ahead depends on it
  }
}

// --- going to a record by number -----------------------------------------------------------

bool TDataCursor::TryGotoOrdinal(std::int32_t n) {
  const std::int64_t target = static_cast<std::int64_t>(rangeStartOrdinal_) + n - 1;
  TPageRef page(table_->IndexFile(), this);
  int entry = 0;
  std::int64_t keysBefore = 0;
  const bool complete = Descend(
      [&](const TPage& p, std::int64_t& before) {
        // The entry whose subtree holds the target ordinal.
        int pos = 1;
        const int count = p.NumberOfKeyEntries();
        std::int64_t passed = before;
        while (pos < count && passed + p.GetLowerKeyEntryCount(pos) < target) {
          passed += p.GetLowerKeyEntryCount(pos);
          ++pos;
        }
        before = passed;
        return pos;
      },
      page, entry, keysBefore);
  if (!complete) return false;
  if (!page || entry == 0) {
    ResetIndexPosition();
    return true;
  }
  std::int64_t ordinal = keysBefore + 1;
  if (bitmapNavigation_ && !EntryVisible(*page, entry)) {
    // Forward to the next visible entry, else backward from here.
    int settled = 0;
    if (!SettleNearVisible(page, entry, ordinal, settled)) return false;
    if (settled == 0) {
      ResetIndexPosition();
    } else {
      bof_ = eof_ = false;
    }
    return true;
  }
  SetCurrentEntry(*page, entry, ordinal);
  bof_ = eof_ = false;
  return true;
}

void TDataCursor::GotoLogicalRecordNumber(std::int32_t n) {
  if (GetIsPhysicalNavigation()) {
    if (GetRecordCount() == 0) {
      ResetIndexPosition();
      return;
    }
    bof_ = eof_ = false;
    logicalPosition_ = 0;
    std::int32_t r = 0;
    if (n < 1) {
      GotoFirstIndexPosition();
      SkipIndexKeys(-1);
      return;
    }
    if (!filterBitmap_->GetNextBitsSet(r, n, logicalPosition_)) eof_ = true;
    currentRecordNumber_ = r;
    return;
  }
  const std::int32_t count = GetActualRecordCount();
  if (count == 0) {
    ResetIndexPosition();
    return;
  }
  if (!rangeActive_ && !bitmapNavigation_ && rangeStartOrdinal_ == 1 && n >= 1 && n <= count) {
    // The whole index is the view: its first key is number 1 and its last the
    // record count, so a number inside needs only the descent to it. An index
    // holding fewer keys than the count ends elsewhere and takes the full way.
    Restarting([&] { return TryGotoOrdinal(n); });
    if (!(bof_ && eof_) && logicalPosition_ == n) return;
  }
  GotoFirstIndexPosition();
  if (bof_ && eof_) return;
  if (n < logicalPosition_ - rangeStartOrdinal_ + 1) {
    bof_ = true;
    return;
  }
  GotoLastIndexPosition();
  if (n > logicalPosition_ - rangeStartOrdinal_ + 1) {
    eof_ = true;
    return;
  }
  Restarting([&] { return TryGotoOrdinal(n); });
}

void TDataCursor::SetToRecordNumber(std::int32_t n) {
  TCursorOperation operation(*this);
  GotoLogicalRecordNumber(n);
  RefreshCurrentRecord(kReadAheadForward);
}

void TDataCursor::VerifyRawRecordPosition() {
  std::int32_t r = currentRecordNumber_;
  if (filterBitmap_->IsBitSet(r)) return;
  std::int32_t counter = 0;
  std::int32_t next = r;
  if (filterBitmap_->GetNextBitsSet(next, 1, counter)) {
    currentRecordNumber_ = next;
    return;
  }
  std::int32_t previous = r;
  if (filterBitmap_->GetPreviousBitsSet(previous, 1, counter)) {
    currentRecordNumber_ = previous;
    return;
  }
  ResetIndexPosition();
}

void TDataCursor::GotoPhysicalRecordNumber(std::int32_t r) {
  if (!GetIsPhysicalNavigation() || r == 0) return;
  bof_ = eof_ = false;
  currentRecordNumber_ = std::clamp(r, 1, std::max(1, GetPhysicalRecordsUsed()));
  VerifyRawRecordPosition();
  if (bof_ && eof_) return;
  logicalPosition_ = filterBitmap_->GetPreviousTotalBitsSet(currentRecordNumber_) + 1;
}

void TDataCursor::RepositionCurrentRecord() {
  if (GetIsPhysicalNavigation()) {
    if (currentRecordNumber_ == 0 || GetRecordCount() == 0) {
      GotoFirstIndexPosition();
      if (!(bof_ && eof_)) SkipIndexKeys(-1);
      bof_ = true;
    } else {
      bof_ = eof_ = false;
      VerifyRawRecordPosition();
      if (!(bof_ && eof_)) logicalPosition_ = filterBitmap_->GetPreviousTotalBitsSet(currentRecordNumber_) + 1;
    }
  } else if (currentRecord_.empty() || (bof_ && eof_) || (currentIndexRecord_ == 0 && currentRecordNumber_ == 0)) {
    GotoFirstIndexPosition();
    if (!(bof_ && eof_)) SkipIndexKeys(-1);
    bof_ = true;
  } else {
    const bool wasBof = bof_, wasEof = eof_;
    std::vector<std::uint8_t> key(keySize_);
    GetKeyValues(currentRecord_.data(), key.data());
    FindIndexKey(key.data(), true, true);
    if (wasBof && !wasEof) bof_ = true;
  }
  RefreshCurrentRecord(kReadAheadForward);
}

void TDataCursor::Refresh() {
  TCursorOperation operation(*this);
  SaveAndReturn(true);
}

// --- numbers and counts -------------------------------------------------------------------

std::int32_t TDataCursor::GetRecordNumber() const {
  if (GetIsPhysicalNavigation()) return logicalPosition_;
  if (logicalPosition_ <= 0) return 0;
  return logicalPosition_ - rangeStartOrdinal_ + 1;
}

std::int32_t TDataCursor::GetRecordCount() const {
  if (bitmapNavigation_) return visibleRecordCount_;
  if (GetIsPhysicalNavigation()) return GetActualRecordCount();
  if (rangeStartOrdinal_ <= 0 || rangeEndOrdinal_ <= 0) return 0;
  return std::max(0, rangeEndOrdinal_ - rangeStartOrdinal_ + 1);
}

std::int32_t TDataCursor::GetPhysicalRecordNumber() const {
  if (GetActualRecordCount() == 0) return 0;
  return GetIsPhysicalNavigation() ? currentRecordNumber_ : currentIndexRecord_;
}

// --- key search ------------------------------------------------------------------------------

bool TDataCursor::TryFindIndexKey(const std::uint8_t* key, bool nearest, bool& found) {
  found = false;
  TPageRef page(table_->IndexFile(), this);
  int entry = 0;
  std::int64_t keysBefore = 0;
  bool exact = false;
  const bool complete = Descend(
      [&](const TPage& p, std::int64_t& before) {
        int pos = 0;
        exact = p.FindScan(comparator_, key, keySize_, nearest, pos, before);
        return pos;
      },
      page, entry, keysBefore);
  if (!complete) return false;
  if (!page || entry == 0) {
    ResetIndexPosition();
    return true;
  }
  std::int64_t ordinal = keysBefore + 1;
  if (!exact && !nearest) return true;  // a miss leaves the position alone
  if (entry > page->NumberOfKeyEntries()) {
    // Past the last key of the leaf: the first key of the next one.
    if (!Sibling(page, true)) return false;
    if (!page) {
      // Past every key of the index.
      GotoLastIndexPosition();
      eof_ = true;
      bof_ = false;
      return true;
    }
    entry = 1;
  }
  if (bitmapNavigation_ && !EntryVisible(*page, entry)) {
    // Not visible: the next visible key, else the last visible one before it,
    // with EOF set as nothing visible lies at or after the key.
    exact = false;
    int settled = 0;
    if (!SettleNearVisible(page, entry, ordinal, settled)) return false;
    if (settled == 0) {
      ResetIndexPosition();
    } else {
      bof_ = false;
      eof_ = settled < 0;
    }
    return true;
  }
  SetCurrentEntry(*page, entry, ordinal);
  bof_ = eof_ = false;
  found = exact;
  return true;
}

bool TDataCursor::FindIndexKey(const std::uint8_t* key, bool nearest, bool keepEnds) {
  if (GetIsPhysicalNavigation()) return false;
  if (GetActualRecordCount() == 0) {
    ResetIndexPosition();
    return false;
  }
  const bool wasBof = bof_, wasEof = eof_;
  bool found = false;
  if (rangeActive_ && BelowRange(key)) {
    GotoFirstIndexPosition();
  } else if (rangeActive_ && AboveRange(key)) {
    GotoLastIndexPosition();
  } else {
    Restarting([&] { return TryFindIndexKey(key, nearest, found); });
  }
  if (keepEnds) {
    if (wasBof && !(bof_ && eof_)) {
      bof_ = true;
      eof_ = false;
    } else if (wasEof && !(bof_ && eof_)) {
      eof_ = true;
      bof_ = false;
    }
  }
  return found;
}

}  // namespace tarn
