// Helpers for the B-tree tests: an index file in a memory file with chosen
// slot definitions, keys made from integers, and a checker of every tree
// invariant (order, sibling chains, lower counts, fill limits, free pages).
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "core/errors.h"
#include "storage/btree/btree.h"
#include "storage/files/file_list.h"
#include "storage/btree/index_file.h"
#include "storage/keys/key_encoding.h"
#include "storage/files/table_link.h"
#include "support/raised_code.h"

namespace tarn::btree_testing {

using TKey = std::vector<std::uint8_t>;

// Byte order of two keys, for sets and maps of keys. (std::less on vectors
// goes through the three-way comparison, in which GCC 12 at -O2 and above
// warns about a memcmp bound it cannot prove; this order is the same.)
struct TKeyLess {
  bool operator()(const TKey& a, const TKey& b) const {
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end());
  }
};

using test_support::RaisedCode;

struct TSlotSpec {
  std::uint16_t KeySize = 5;
  bool Unique = true;
  bool Descending = false;
  std::uint8_t Compression = icNone;
};

inline TKeyLayout MakeLayout(const TSlotSpec& shape) {
  TKeyLayout layout;
  layout.Kind = kkIndex;
  layout.LanguageID = 0;
  layout.Descending = shape.Descending;
  layout.Unique = shape.Unique;
  return layout;
}

// The key of an integer field (presence byte and flipped integer).
inline TKey IntKey(std::int32_t v) {
  TKey key(5, 0);
  key[0] = 1;
  FlipIntegerBits(v, key.data() + 1);
  return key;
}

// The table's part for an index file in a test: settings tests change, and a
// count of the changes marked.
// A table link for these files: short reads accepted (appended pages may lie past
// the end of the file).
struct TTestTableLink : TStandaloneTableLink {
  TTestTableLink() { shortReads = true; }
};

// The cursor's part: counts the read locks taken before disk reads and finds
// no changes.
class TTestCacheClient final : public TCacheClient {
 public:
  bool ReadLockForCache() override {
    ++readLocks;
    return false;
  }
  std::int32_t ReadAheadCount() const override { return 1; }

  long readLocks = 0;
};

// An index file in a memory file, with a table link whose settings tests
// change and a cursor that the trees read through.
class TIndexFixture {
 public:
  explicit TIndexFixture(const std::string& name, bool encrypted = false) : name_("MEM/" + name + ".IDX") {
    file = std::make_unique<TIndexFile>();
    file->SetTableLink(&link);
    file->SetEncrypted(encrypted);
    file->SetFileName(name_);
    file->SetInMemory(true);
    file->CreateFile();
    // Reopened shared, so other handlers can open the file too.
    file->WriteHeader(true);
    file->CloseFile();
    file->OpenFile();
  }
  ~TIndexFixture() {
    file.reset();
    (void)TFileList::Instance().DeleteFile(name_, true);
  }

  void DefineSlot(std::size_t slot, const TSlotSpec& shape) {
    TIndexDefinition& def = file->MutableHeader().Slots[slot];
    def.KeySize = shape.KeySize;
    def.Unique = shape.Unique ? 1 : 0;
    def.Descending = shape.Descending ? 1 : 0;
    def.Compression = shape.Compression;
    def.KeyFieldCount = 1;
    def.KeyFields[0] = 1;
    if (slot >= 1 && slot <= 30) {
      file->MutableHeader().IndexCount =
          std::max<std::uint8_t>(file->MutableHeader().IndexCount, static_cast<std::uint8_t>(slot));
    }
    comparators_[slot] = std::make_unique<TLayoutKeyComparator>(MakeLayout(shape));
    paths_[slot] = std::make_unique<TIndexPath>();
    trees_[slot] = std::make_unique<TBTree>(*file, &cursor, slot, *comparators_[slot], *paths_[slot]);
    file->MarkHeaderChanged();
  }
  TBTree& Tree(std::size_t slot = 0) { return *trees_.at(slot); }
  const TPageKeyComparator& Comparator(std::size_t slot = 0) { return *comparators_.at(slot); }
  const std::string& Name() const { return name_; }

  // Writes every dirty page and the header, then drops the cache so that the
  // next reads come from the file.
  void FlushAndDrop() {
    file->FlushPageBuffers();
    file->WriteHeader(false);
    file->FreePageBuffers();
  }

  TTestTableLink link;
  TTestCacheClient cursor;
  std::unique_ptr<TIndexFile> file;

 private:
  std::string name_;
  std::map<std::size_t, std::unique_ptr<TLayoutKeyComparator>> comparators_;
  std::map<std::size_t, std::unique_ptr<TIndexPath>> paths_;
  std::map<std::size_t, std::unique_ptr<TBTree>> trees_;
};

// A page held for the length of a scope, read for the cursor (may be null).
inline TPageRef Fetch(TIndexFile& file, TCacheClient* cursor, std::size_t slot, std::int32_t n) {
  TPageRef ref(file, cursor);
  EXPECT_TRUE(ref.Get(slot, n));
  return ref;
}

struct TTreeReport {
  int Levels = 0;
  std::int64_t Keys = 0;
  std::vector<std::vector<std::int32_t>> PagesByLevel;  // level 1 = root
  std::vector<std::pair<TKey, std::int32_t>> Entries;   // in index order
  std::set<std::int32_t> FreePages;
};

// Walks one slot's tree and free list and checks every invariant with gtest
// assertions (non-fatal), answering what it saw.
inline TTreeReport CheckTree(TIndexFile& file, TCacheClient* cursor, std::size_t slot, const TPageKeyComparator& cmp) {
  TTreeReport report;
  const std::int32_t root = file.GetRootPageNumber(slot);
  std::set<std::int32_t> seen;
  std::function<std::int64_t(std::int32_t, int, TKey&)> walk = [&](std::int32_t n, int level,
                                                                  TKey& firstKey) -> std::int64_t {
    EXPECT_TRUE(file.IsLinkablePage(n)) << "page " << n;
    EXPECT_TRUE(seen.insert(n).second) << "page " << n << " reached twice";
    if (static_cast<int>(report.PagesByLevel.size()) < level) report.PagesByLevel.resize(level);
    report.PagesByLevel[level - 1].push_back(n);
    TPageRef page = Fetch(file, cursor, slot, n);
    if (!page) return 0;
    const int count = page->NumberOfKeyEntries();
    EXPECT_GT(count, 0) << "empty page " << n;
    EXPECT_FALSE(page->IsFree());
    if (level == 1) {
      EXPECT_TRUE(page->PageType() == ptRootBranch || page->PageType() == ptRootLeaf);
    } else {
      EXPECT_TRUE(page->PageType() == ptBranch || page->PageType() == ptLeaf) << "page " << n;
    }
    // Fill limits.
    EXPECT_FALSE(page->PageDataOverflowed()) << "page " << n;
    if (page->IsCompressedLeaf()) {
      EXPECT_LE(page->CompressedSize(), kPageDataSize);
    } else if (level > 1) {
      EXPECT_GE(count, page->GetMaximumKeyEntries() / 2) << "underfull page " << n;
    } else if (page->IsBranch()) {
      EXPECT_GE(count, 2) << "root branch with one entry";
    }
    for (int i = 2; i <= count; ++i) {
      EXPECT_LT(cmp.CompareKeys(page->GetKeyEntryPtr(i - 1), page->GetKeyEntryPtr(i), page->KeySize()), 0)
          << "page " << n << " entries " << i - 1 << "," << i << " out of order";
    }
    firstKey.assign(page->GetKeyEntryPtr(1), page->GetKeyEntryPtr(1) + page->KeySize());
    if (page->IsLeaf()) {
      if (report.Levels == 0) report.Levels = level;
      EXPECT_EQ(report.Levels, level) << "leaves at different depths";
      for (int i = 1; i <= count; ++i) {
        report.Entries.emplace_back(TKey(page->GetKeyEntryPtr(i), page->GetKeyEntryPtr(i) + page->KeySize()),
                                    page->GetRecordNumber(i));
      }
      return count;
    }
    std::int64_t total = 0;
    for (int i = 1; i <= count; ++i) {
      TKey childFirst;
      const std::int64_t sub = walk(page->GetRecordNumber(i), level + 1, childFirst);
      // The text index (slot 32) keeps no lower counts.
      if (slot != kTextIndexSlot) {
        EXPECT_EQ(sub, page->GetLowerKeyEntryCount(i)) << "lower count of page " << n << " entry " << i;
      }
      EXPECT_EQ(childFirst, TKey(page->GetKeyEntryPtr(i), page->GetKeyEntryPtr(i) + page->KeySize()))
          << "branch key of page " << n << " entry " << i;
      total += sub;
    }
    return total;
  };
  if (root != 0) {
    TKey first;
    report.Keys = walk(root, 1, first);
  }
  // Sibling chains, level by level.
  for (const auto& pages : report.PagesByLevel) {
    for (std::size_t i = 0; i < pages.size(); ++i) {
      TPageRef page = Fetch(file, cursor, slot, pages[i]);
      if (!page) continue;
      EXPECT_EQ(page->LeftPageNumber(), i == 0 ? 0 : pages[i - 1]) << "left link of " << pages[i];
      EXPECT_EQ(page->RightPageNumber(), i + 1 == pages.size() ? 0 : pages[i + 1]) << "right link of " << pages[i];
    }
  }
  // The free list: free pages only, no cycle, none in the tree.
  std::int32_t n = file.GetNextFreePageNumber(slot);
  while (n != 0) {
    EXPECT_TRUE(file.IsLinkablePage(n));
    if (!file.IsLinkablePage(n)) break;
    EXPECT_TRUE(report.FreePages.insert(n).second) << "free list cycle at " << n;
    if (report.FreePages.size() > static_cast<std::size_t>(file.GetPhysicalPagesUsed())) break;
    EXPECT_EQ(seen.count(n), 0u) << "page " << n << " both free and in the tree";
    TPageRef page = Fetch(file, cursor, slot, n);
    if (!page) break;
    EXPECT_TRUE(page->IsFree() || (page->StoredEntryCount() == 0 && page->NumberOfKeyEntries() == 0));
    n = page->RightPageNumber();
    if (report.FreePages.count(n) != 0) {
      ADD_FAILURE() << "free list cycle at " << n;
      break;
    }
  }
  return report;
}

}  // namespace tarn::btree_testing
