// The structural check of one index slot's B-tree and free-page list.
#include "storage/btree/btree_check.h"

#include <functional>

#include "core/errors.h"

namespace tarn {
namespace {

using TKey = std::vector<std::uint8_t>;

std::string PageText(std::int32_t n) { return "page " + std::to_string(n); }

class TTreeChecker {
 public:
  TTreeChecker(TIndexFile& file, TCacheClient* cursor, std::size_t slot, const TPageKeyComparator& comparator)
      : file_(file), cursor_(cursor), slot_(slot), comparator_(comparator) {}

  TTreeCheckReport Run() {
    try {
      const std::int32_t root = file_.GetRootPageNumber(slot_);
      if (root != 0) {
        TKey first;
        report_.Keys = Walk(root, 1, first);
      }
      CheckSiblings();
      CheckFreeList();
    } catch (const ETarnEngineError& e) {
      Find("the check stopped at engine error " + std::to_string(e.ErrorCode()) + ": " + e.Message());
    }
    return std::move(report_);
  }

 private:
  void Find(std::string text) { report_.Findings.push_back("index slot " + std::to_string(slot_) + ": " + text); }

  // The page held for a scope, or an empty reference (with a finding).
  TPageRef Fetch(std::int32_t n) {
    TPageRef ref(file_, cursor_);
    if (!ref.Get(slot_, n)) {
      Find(PageText(n) + " could not be read: the caches changed during the check");
      return TPageRef();
    }
    return ref;
  }

  std::int64_t Walk(std::int32_t n, int level, TKey& firstKey) {
    if (!file_.IsLinkablePage(n)) {
      Find(PageText(n) + " linked from the tree lies outside the file");
      return 0;
    }
    if (!seen_.insert(n).second) {
      Find(PageText(n) + " reached twice");
      return 0;
    }
    if (static_cast<int>(report_.PagesByLevel.size()) < level) report_.PagesByLevel.resize(level);
    report_.PagesByLevel[level - 1].push_back(n);
    TPageRef page = Fetch(n);
    if (!page) return 0;
    const int count = page->NumberOfKeyEntries();
    if (count <= 0) Find("empty " + PageText(n));
    if (page->IsFree()) Find(PageText(n) + " in the tree is marked free");
    if (level == 1) {
      if (page->PageType() != ptRootBranch && page->PageType() != ptRootLeaf) Find("root " + PageText(n) + " is no root");
    } else if (page->PageType() != ptBranch && page->PageType() != ptLeaf) {
      Find(PageText(n) + " below the root has a wrong type");
    }
    if (page->PageDataOverflowed()) Find(PageText(n) + " overflows its data area");
    if (page->IsCompressedLeaf()) {
      if (page->CompressedSize() > kPageDataSize) Find(PageText(n) + " compressed beyond its data area");
    } else if (level > 1) {
      if (count < page->GetMaximumKeyEntries() / 2) Find("underfull " + PageText(n));
    } else if (page->IsBranch() && count < 2) {
      Find("root branch " + PageText(n) + " with one entry");
    }
    const std::size_t keySize = page->KeySize();
    for (int i = 2; i <= count; ++i) {
      if (comparator_.CompareKeys(page->GetKeyEntryPtr(i - 1), page->GetKeyEntryPtr(i), keySize) >= 0)
        Find(PageText(n) + " entries " + std::to_string(i - 1) + "," + std::to_string(i) + " out of order");
    }
    if (count <= 0) return 0;
    firstKey.assign(page->GetKeyEntryPtr(1), page->GetKeyEntryPtr(1) + keySize);
    if (!report_.Entries.empty() && keySize == report_.Entries.back().first.size() && page->IsLeaf() &&
        comparator_.CompareKeys(report_.Entries.back().first.data(), page->GetKeyEntryPtr(1), keySize) >= 0)
      Find(PageText(n) + " starts before the end of the leaf to its left");
    if (page->IsLeaf()) {
      if (report_.Levels == 0) report_.Levels = level;
      if (report_.Levels != level) Find("leaf " + PageText(n) + " at another depth than the first leaf");
      for (int i = 1; i <= count; ++i) {
        report_.Entries.emplace_back(TKey(page->GetKeyEntryPtr(i), page->GetKeyEntryPtr(i) + keySize),
                                     page->GetRecordNumber(i));
      }
      return count;
    }
    std::int64_t total = 0;
    for (int i = 1; i <= count; ++i) {
      TKey childFirst;
      const std::int64_t sub = Walk(page->GetRecordNumber(i), level + 1, childFirst);
      // The text index keeps no lower counts.
      if (slot_ != kTextIndexSlot && sub != page->GetLowerKeyEntryCount(i))
        Find("lower count of " + PageText(n) + " entry " + std::to_string(i) + " is " +
             std::to_string(page->GetLowerKeyEntryCount(i)) + ", the subtree holds " + std::to_string(sub));
      if (childFirst != TKey(page->GetKeyEntryPtr(i), page->GetKeyEntryPtr(i) + keySize))
        Find("branch key of " + PageText(n) + " entry " + std::to_string(i) + " differs from its child's first key");
      total += sub;
    }
    return total;
  }

  void CheckSiblings() {
    for (const auto& pages : report_.PagesByLevel) {
      for (std::size_t i = 0; i < pages.size(); ++i) {
        TPageRef page = Fetch(pages[i]);
        if (!page) continue;
        const std::int32_t left = i == 0 ? 0 : pages[i - 1];
        const std::int32_t right = i + 1 == pages.size() ? 0 : pages[i + 1];
        if (page->LeftPageNumber() != left) Find("left link of " + PageText(pages[i]) + " is wrong");
        if (page->RightPageNumber() != right) Find("right link of " + PageText(pages[i]) + " is wrong");
      }
    }
  }

  void CheckFreeList() {
    std::int32_t n = file_.GetNextFreePageNumber(slot_);
    while (n != 0) {
      if (!file_.IsLinkablePage(n)) {
        Find("free list links to " + PageText(n) + " outside the file");
        return;
      }
      if (!report_.FreePages.insert(n).second) {
        Find("free list cycle at " + PageText(n));
        return;
      }
      if (seen_.count(n) != 0) Find(PageText(n) + " both free and in the tree");
      TPageRef page = Fetch(n);
      if (!page) return;
      if (!page->IsFree() && !(page->StoredEntryCount() == 0 && page->NumberOfKeyEntries() == 0))
        Find("free list holds live " + PageText(n));
      n = page->RightPageNumber();
    }
  }

  TIndexFile& file_;
  TCacheClient* cursor_;
  std::size_t slot_;
  const TPageKeyComparator& comparator_;
  TTreeCheckReport report_;
  std::set<std::int32_t> seen_;
};

}  // namespace

TTreeCheckReport CheckIndexTree(TIndexFile& file, TCacheClient* cursor, std::size_t slot,
                                const TPageKeyComparator& comparator) {
  return TTreeChecker(file, cursor, slot, comparator).Run();
}

}  // namespace tarn
