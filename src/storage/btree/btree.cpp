// The B-tree drivers: search, insert with splits, delete with merge, balance
// and root collapse, ordinal positions and ordered scans.
#include "storage/btree/btree.h"

#include <climits>
#include <cstring>

#include "core/errors.h"

namespace tarn {

namespace {
using TKeyCopy = std::vector<std::uint8_t>;

TKeyCopy FirstKey(const TPage& page) {
  const std::uint8_t* p = page.GetKeyEntryPtr(1);
  return TKeyCopy(p, p + page.KeySize());
}

std::int32_t Total(const TPage& page) { return static_cast<std::int32_t>(page.GetTotalLowerKeyEntryCount()); }
}  // namespace

TBTree::TBTree(TIndexFile& file, TCacheClient* cursor, std::size_t slot, const TPageKeyComparator& comparator,
               TIndexPath& path)
    : file_(file),
      cursor_(cursor),
      slot_(slot),
      cmp_(comparator),
      path_(path),
      keySize_(file.SlotSettings(slot).KeySize) {
  path_.Slot = slot;
}

void TBTree::Corrupt() const { RaiseError(TARN_INDEXCORRUPT, {}, {}, {}, file_.FileName()); }

void TBTree::CheckLink(std::int64_t n) const {
  if (!file_.IsLinkablePage(n)) Corrupt();
}

void TBTree::CheckDescentPage(const TPage& page, int level) const {
  if (page.IsFree()) Corrupt();
  const std::uint8_t type = page.PageType();
  if (level == 1 ? (type != ptRootBranch && type != ptRootLeaf) : (type != ptBranch && type != ptLeaf)) Corrupt();
  if (page.NumberOfKeyEntries() <= 0) Corrupt();
}

// --- descent -----------------------------------------------------------------

template <class TStep>
bool TBTree::Descend(TPageRef& page, TStep&& step) {
  page.Release();
  path_.Clear();
  std::int32_t n = file_.GetRootPageNumber(slot_);
  if (n == 0) return true;
  CheckLink(n);
  for (;;) {
    path_.Descend(n);
    if (!page.Get(slot_, n)) return false;
    CheckDescentPage(*page, path_.Level);
    const int pos = step(*page);
    path_.Current().Position = pos;
    if (page->IsLeaf() || pos == 0) return true;
    n = page->GetRecordNumber(pos);
    CheckLink(n);
  }
}

// --- search ----------------------------------------------------------------

bool TBTree::TrySearch(const std::uint8_t* key, bool& found) {
  found = false;
  TPageRef page(file_, cursor_);
  TPage::TSearchResult r{};
  const bool complete = Descend(page, [&](const TPage& p) {
    r = p.SearchScan(cmp_, key);
    path_.KeysBefore += p.GetPageKeyCount(r.Position);
    return r.Position;
  });
  if (!complete) return false;
  if (page) {
    found = r.Found;
    foundRecordNumber_ = page->GetRecordNumber(r.Position);
  }
  return true;
}

bool TBTree::SearchIndexKeys(const std::uint8_t* key) {
  bool found = false;
  while (!TrySearch(key, found)) {
  }
  return found;
}

bool TBTree::VerifyIndexKey(const std::uint8_t* key, std::int32_t recordNumber) {
  return SearchIndexKeys(key) && foundRecordNumber_ == recordNumber;
}

bool TBTree::CheckForKeyViolation(const std::uint8_t* key) {
  const TPageSettings settings = file_.SlotSettings(slot_);
  if (!settings.Unique && slot_ != 31 && slot_ != 32) return false;
  return SearchIndexKeys(key);
}

// --- insert ----------------------------------------------------------------

bool TBTree::TryAdd(const std::uint8_t* key, std::int32_t recordNumber) {
  TPageRef page(file_, cursor_);
  // Down to the leaf: on each branch the entry the key goes under (the first when
  // the key is below every entry) counts one key more.
  const bool complete = Descend(page, [&](TPage& p) {
    int pos = p.InsertScan(cmp_, key);
    if (p.IsLeaf()) return pos;
    if (pos == 0) pos = 1;
    const std::int32_t lower = p.GetLowerKeyEntryCount(pos);
    if (lower == INT32_MAX) Corrupt();
    p.SetLowerKeyEntryCount(pos, lower + 1);
    return pos;
  });
  if (!complete) return false;
  if (page) return InsertIndexKey(path_.Level, *page, key, 0, recordNumber);
  // An empty index: the key makes a root leaf.
  TPage* fresh = nullptr;
  if (!file_.GetNextFreePage(cursor_, slot_, fresh)) return false;
  page.Adopt(fresh);
  fresh->SetPageType(ptRootLeaf);
  fresh->InsertKeyEntry(1, key, recordNumber, 0);
  file_.SetRootPageNumber(slot_, fresh->PageNumber());
  path_.Descend(fresh->PageNumber());
  path_.Current().Position = 1;
  return true;
}

void TBTree::AddIndexKey(const std::uint8_t* key, std::int32_t recordNumber) {
  while (!TryAdd(key, recordNumber)) {
  }
}

bool TBTree::UpdateUpperIndexKeys(int level, const std::uint8_t* key) {
  const TKeyCopy copy(key, key + keySize_);
  TPageRef parent(file_, cursor_);
  for (int lvl = level; lvl > 1; --lvl) {
    const TIndexPathLevel& above = path_.At(lvl - 1);
    if (!parent.Get(slot_, above.PageNumber)) return false;
    if (above.Position < 1 || above.Position > parent->NumberOfKeyEntries()) Corrupt();
    parent->UpdateKeyEntry(above.Position, copy.data());
    if (above.Position != 1) break;
  }
  return true;
}

bool TBTree::RelinkNeighbour(std::int32_t n, bool setLeft, std::int32_t target) {
  if (n == 0) return true;
  CheckLink(n);
  TPageRef neighbour(file_, cursor_);
  if (!neighbour.Get(slot_, n)) return false;
  if (setLeft) {
    neighbour->SetLeftPageNumber(target);
  } else {
    neighbour->SetRightPageNumber(target);
  }
  return true;
}

bool TBTree::InsertIndexKey(int level, TPage& page, const std::uint8_t* key, std::int32_t lowerCount,
                            std::int32_t value) {
  const int pos = path_.At(level).Position + 1;
  page.InsertKeyEntry(pos, key, value, lowerCount);
  if (pos == 1 && !UpdateUpperIndexKeys(level, key)) return false;
  if (!page.PageDataOverflowed()) return true;

  TPageRef split(file_, cursor_);
  TPage* fresh = nullptr;
  if (!file_.GetNextFreePage(cursor_, slot_, fresh)) return false;
  split.Adopt(fresh);
  page.SplitIntoPage(*fresh);
  if (!RelinkNeighbour(fresh->RightPageNumber(), true, fresh->PageNumber())) return false;

  if (level == 1) {
    TPageRef root(file_, cursor_);
    TPage* newRoot = nullptr;
    if (!file_.GetNextFreePage(cursor_, slot_, newRoot)) return false;
    root.Adopt(newRoot);
    newRoot->SetPageType(ptRootBranch);
    newRoot->InsertKeyEntry(1, FirstKey(page).data(), page.PageNumber(), Total(page));
    newRoot->InsertKeyEntry(2, FirstKey(*fresh).data(), fresh->PageNumber(), Total(*fresh));
    file_.SetRootPageNumber(slot_, newRoot->PageNumber());
    return true;
  }
  TPageRef parent(file_, cursor_);
  if (!parent.Get(slot_, path_.At(level - 1).PageNumber)) return false;
  const int ppos = path_.At(level - 1).Position;
  if (ppos < 1 || ppos > parent->NumberOfKeyEntries()) Corrupt();
  parent->SetLowerKeyEntryCount(ppos, Total(page));
  return InsertIndexKey(level - 1, *parent, FirstKey(*fresh).data(), Total(*fresh), fresh->PageNumber());
}

// --- delete ----------------------------------------------------------------

bool TBTree::TryRemove(const std::uint8_t* key) {
  bool found = false;
  if (!TrySearch(key, found)) return false;
  if (!found) Corrupt();
  TPageRef page(file_, cursor_);
  // Down to the leaf: every branch entry on the way counts one key less.
  TPage::TSearchResult r{};
  const bool complete = Descend(page, [&](TPage& p) {
    r = p.DeleteScan(cmp_, key);
    if (p.IsLeaf()) return r.Position;
    const std::int32_t lower = p.GetLowerKeyEntryCount(r.Position);
    if (lower <= 0 && slot_ != 32) Corrupt();
    p.SetLowerKeyEntryCount(r.Position, lower - 1);
    return r.Position;
  });
  if (!complete) return false;
  if (!page || !r.Found) Corrupt();
  return DeleteIndexKey(path_.Level, *page);
}

void TBTree::RemoveIndexKey(const std::uint8_t* key) {
  while (!TryRemove(key)) {
  }
}

void TBTree::UpdateIndexKey(const std::uint8_t* oldKey, const std::uint8_t* newKey, std::int32_t recordNumber) {
  RemoveIndexKey(oldKey);
  AddIndexKey(newKey, recordNumber);
}

bool TBTree::DeleteIndexKey(int level, TPage& page) {
  const int pos = path_.At(level).Position;
  page.DeleteKeyEntry(pos);
  const int count = page.NumberOfKeyEntries();
  if (count > 0 && pos == 1 && !UpdateUpperIndexKeys(level, FirstKey(page).data())) return false;

  if (level == 1) {
    if (page.IsLeaf()) {
      if (count == 0) {
        file_.SetNextFreePage(slot_, &page);
        file_.SetRootPageNumber(slot_, 0);
      }
      return true;
    }
    if (count == 0) Corrupt();
    if (count == 1) {
      const std::int32_t childNo = page.GetRecordNumber(1);
      CheckLink(childNo);
      TPageRef child(file_, cursor_);
      if (!child.Get(slot_, childNo)) return false;
      child->SetPageType(child->IsLeaf() ? ptRootLeaf : ptRootBranch);
      child->SetLeftPageNumber(0);
      child->SetRightPageNumber(0);
      file_.SetRootPageNumber(slot_, childNo);
      file_.SetNextFreePage(slot_, &page);
    }
    return true;
  }

  TPageRef parent(file_, cursor_);
  const TIndexPathLevel above = path_.At(level - 1);
  if (page.IsCompressedLeaf()) {
    // Compressed leaves are never merged or balanced; an empty one leaves
    // the tree.
    if (count > 0) return true;
    const std::int32_t left = page.LeftPageNumber(), right = page.RightPageNumber();
    if (!RelinkNeighbour(left, false, right)) return false;
    if (!RelinkNeighbour(right, true, left)) return false;
    file_.SetNextFreePage(slot_, &page);
    if (!parent.Get(slot_, above.PageNumber)) return false;
    return DeleteIndexKey(level - 1, *parent);
  }

  const int max = page.GetMaximumKeyEntries();
  if (count >= max / 2) return true;
  if (!parent.Get(slot_, above.PageNumber)) return false;
  const int ppos = above.Position;
  const int pcount = parent->NumberOfKeyEntries();
  if (ppos < 1 || ppos > pcount || parent->GetRecordNumber(ppos) != page.PageNumber()) Corrupt();

  if (ppos > 1) {
    const std::int32_t leftNo = page.LeftPageNumber();
    if (leftNo == 0 || leftNo == page.PageNumber() || leftNo != parent->GetRecordNumber(ppos - 1)) Corrupt();
    CheckLink(leftNo);
    TPageRef left(file_, cursor_);
    if (!left.Get(slot_, leftNo)) return false;
    if (left->NumberOfKeyEntries() + count < max) {
      const std::int32_t far = page.RightPageNumber();
      page.MergeWithLeftPage(*left);
      if (!RelinkNeighbour(far, true, leftNo)) return false;
      parent->SetLowerKeyEntryCount(ppos - 1, Total(*left));
      file_.SetNextFreePage(slot_, &page);
      return DeleteIndexKey(level - 1, *parent);
    }
    page.BalanceWithLeftPage(*left);
    parent->UpdateKeyEntry(ppos, FirstKey(page).data());
    parent->SetLowerKeyEntryCount(ppos - 1, Total(*left));
    parent->SetLowerKeyEntryCount(ppos, Total(page));
    return true;
  }

  // The first child works with its right sibling.
  if (pcount < 2) Corrupt();
  const std::int32_t rightNo = page.RightPageNumber();
  if (rightNo == 0 || rightNo == page.PageNumber() || rightNo != parent->GetRecordNumber(2)) Corrupt();
  CheckLink(rightNo);
  TPageRef right(file_, cursor_);
  if (!right.Get(slot_, rightNo)) return false;
  if (right->NumberOfKeyEntries() + count < max) {
    const std::int32_t far = page.LeftPageNumber();
    page.MergeWithRightPage(*right);
    if (!RelinkNeighbour(far, false, rightNo)) return false;
    parent->SetLowerKeyEntryCount(2, Total(*right));
    parent->UpdateKeyEntry(2, FirstKey(*right).data());
    file_.SetNextFreePage(slot_, &page);
    path_.At(level - 1).Position = 1;
    return DeleteIndexKey(level - 1, *parent);
  }
  page.BalanceWithRightPage(*right);
  parent->UpdateKeyEntry(2, FirstKey(*right).data());
  parent->SetLowerKeyEntryCount(1, Total(page));
  parent->SetLowerKeyEntryCount(2, Total(*right));
  return true;
}

// --- ordinals and scans ------------------------------------------------------

std::int64_t TBTree::GetKeyCount() {
  for (;;) {
    TPage* root = nullptr;
    bool changed = false;
    if (!file_.GetRootPage(cursor_, slot_, root, changed)) {
      if (changed) continue;
      return 0;
    }
    TPageRef ref(file_, cursor_);
    ref.Adopt(root);
    return root->GetTotalLowerKeyEntryCount();
  }
}

bool TBTree::TrySeekOrdinal(std::int64_t ordinal, std::uint8_t* key, std::int32_t* recordNumber, bool& found) {
  found = false;
  if (ordinal < 1) {
    path_.Clear();
    return true;
  }
  TPageRef page(file_, cursor_);
  std::int64_t remaining = ordinal;  // 1-based rank within the current subtree
  // On each branch the child whose keys hold the rank; on the leaf the rank itself.
  // Position 0 (no such key) ends the descent.
  return Descend(page, [&](const TPage& p) {
    const int count = p.NumberOfKeyEntries();
    if (p.IsLeaf()) {
      if (remaining > count) return 0;
      const int pos = static_cast<int>(remaining);
      path_.KeysBefore += pos - 1;
      if (key != nullptr) std::memcpy(key, p.GetKeyEntryPtr(pos), keySize_);
      if (recordNumber != nullptr) *recordNumber = p.GetRecordNumber(pos);
      found = true;
      return pos;
    }
    for (int pos = 1; pos <= count; ++pos) {
      const std::int64_t lower = p.GetLowerKeyEntryCount(pos);
      if (remaining <= lower) return pos;
      remaining -= lower;
      path_.KeysBefore += lower;
    }
    return 0;
  });
}

bool TBTree::SeekOrdinal(std::int64_t ordinal, std::uint8_t* key, std::int32_t* recordNumber) {
  bool found = false;
  while (!TrySeekOrdinal(ordinal, key, recordNumber, found)) {
  }
  return found;
}

bool TBTree::TryCountKeysBefore(const std::uint8_t* key, std::int64_t& count) {
  count = 0;
  TPageRef page(file_, cursor_);
  const bool complete = Descend(page, [&](const TPage& p) {
    int pos = 0;
    p.FirstRangeScan(cmp_, key, keySize_, pos, count);
    return pos;
  });
  if (complete && page) path_.KeysBefore = count;
  return complete;
}

std::int64_t TBTree::CountKeysBefore(const std::uint8_t* key) {
  std::int64_t count = 0;
  while (!TryCountKeysBefore(key, count)) {
  }
  return count;
}

bool TBTree::TryScan(const std::function<bool(const std::uint8_t*, std::int32_t)>& visit) {
  std::int32_t n = file_.GetRootPageNumber(slot_);
  if (n == 0) return true;
  CheckLink(n);
  TPageRef page(file_, cursor_);
  // Down the leftmost path to the first leaf.
  for (int level = 1;; ++level) {
    if (level > kMaxIndexLevels) Corrupt();
    if (!page.Get(slot_, n)) return false;
    CheckDescentPage(*page, level);
    if (page->IsLeaf()) break;
    n = page->GetRecordNumber(1);
    CheckLink(n);
  }
  // Along the leaf chain; more leaves than pages in the file means a cycle.
  std::int64_t visited = 0;
  const std::int64_t limit = file_.GetPhysicalPagesUsed();
  std::int32_t previous = 0;
  for (;;) {
    if (++visited > limit) Corrupt();
    if (!page->IsLeaf() || page->IsFree() || page->LeftPageNumber() != previous) Corrupt();
    for (int pos = 1; pos <= page->NumberOfKeyEntries(); ++pos) {
      const std::uint8_t* key = page->GetKeyEntryPtr(pos);
      // After a restart the keys already visited are passed over.
      if (!scanLast_.empty() && cmp_.CompareKeys(key, scanLast_.data(), keySize_) <= 0) continue;
      scanLast_.assign(key, key + keySize_);
      const std::uint64_t generation = file_.CacheGeneration();
      if (!visit(key, page->GetRecordNumber(pos))) return true;
      // The visitor's work dropped the cache (and this page with it).
      if (file_.CacheGeneration() != generation) return false;
    }
    const std::int32_t next = page->RightPageNumber();
    if (next == 0) return true;
    CheckLink(next);
    previous = page->PageNumber();
    if (!page.Get(slot_, next)) return false;
  }
}

void TBTree::ScanKeys(const std::function<bool(const std::uint8_t* key, std::int32_t recordNumber)>& visit) {
  scanLast_.clear();
  while (!TryScan(visit)) {
  }
  scanLast_.clear();
}

}  // namespace tarn
