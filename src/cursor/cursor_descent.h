// The two templates behind every index walk of a cursor: the descent from
// the root of the current index to a leaf, and the loop that runs a
// restartable walk until it completes (taking the table read lock after a
// few restarts, so that it cannot be starved by writers elsewhere).
#pragma once

#include "core/errors.h"
#include "cursor/data_cursor.h"

namespace tarn {

// Descents that met changes this many times in a row take the table read
// lock for the next attempt, under which nothing can change.
inline constexpr int kRestartsBeforeLock = 3;
// Under the read lock a descent cannot meet changes; one that still restarts
// this often is walking a damaged index.
inline constexpr int kMaxRestarts = 64;

template <class TTry>
void TDataCursor::Restarting(TTry&& attempt) {
  for (int restarts = 0;; ++restarts) {
    if (restarts == kRestartsBeforeLock && !noLocking_ && !(exclusive_ && !overrideExclusive_)) table_->ReadLockTable();
    if (restarts == kMaxRestarts) Raise(TARN_INDEXCORRUPT, {}, indexName_);
    if (attempt()) return;
    // The read lock a cache miss took found changes made elsewhere: the range
    // and filters are rebuilt and the cursor put back on its record before
    // the walk starts over.
    RepositionAfterCacheChange();
  }
}

template <class TStep>
bool TDataCursor::Descend(TStep&& step, TPageRef& page, int& entry, std::int64_t& keysBefore) {
  TIndexFile& file = table_->IndexFile();
  page.Release();
  path_.Clear();
  path_.Slot = indexPos_;
  keysBefore = 0;
  entry = 0;
  std::int32_t n = file.GetRootPageNumber(indexPos_);
  if (n == 0) return true;
  for (;;) {
    if (!file.IsLinkablePage(n)) Raise(TARN_INDEXCORRUPT, {}, indexName_);
    path_.Descend(n);
    if (!page.Get(indexPos_, n)) return false;
    if (page->NumberOfKeyEntries() == 0) {
      if (!page->IsLeaf()) Raise(TARN_INDEXCORRUPT, {}, indexName_);
      return true;
    }
    const int pos = step(*page, keysBefore);
    path_.Current().Position = pos;
    if (page->IsLeaf()) {
      entry = pos;
      return true;
    }
    n = page->GetRecordNumber(pos);
  }
}

}  // namespace tarn
