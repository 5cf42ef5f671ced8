// Helpers for the B-tree tests: an index file in a memory file with chosen
// slot definitions, keys made from integers, and the engine's structural check
// of a tree (order, sibling chains, lower counts, fill limits, free pages) with
// every finding reported as a test failure.
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
#include "storage/btree/btree_check.h"
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

using TTreeReport = TTreeCheckReport;

// Checks one slot's tree and free list with the engine's structural check and
// reports every finding as a (non-fatal) test failure, answering what it saw.
inline TTreeReport CheckTree(TIndexFile& file, TCacheClient* cursor, std::size_t slot, const TPageKeyComparator& cmp) {
  TTreeReport report = CheckIndexTree(file, cursor, slot, cmp);
  for (const std::string& finding : report.Findings) ADD_FAILURE() << finding;
  return report;
}

}  // namespace tarn::btree_testing
