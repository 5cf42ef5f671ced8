// TBTree: the drivers that walk and change one index's B+-tree: key search
// and verification, key insert with page splits and new roots, key delete
// with merging, balancing and root collapse, and positions by ordinal (keys
// before a position, from the lower key counts of the branch entries). The
// descent path and the key comparator are the caller's (the cursor's).
//
// Every operation starts over from the root when a page read reveals that
// the table's caches were dropped because of changes made elsewhere; the
// dropped cache takes any half-made change with it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "storage/btree/index_file.h"
#include "storage/btree/index_path.h"
#include "storage/btree/page.h"
#include "storage/btree/page_key_comparator.h"

namespace tarn {

class TBTree {
 public:
  // cursor (may be null) takes the read lock before a page is read from disk.
  TBTree(TIndexFile& file, TCacheClient* cursor, std::size_t slot, const TPageKeyComparator& comparator,
         TIndexPath& path);

  std::size_t Slot() const noexcept { return slot_; }
  std::uint16_t KeySize() const noexcept { return keySize_; }
  TIndexPath& Path() noexcept { return path_; }

  // Descends to the leaf where key belongs; true when an equal key exists.
  // The path ends on the leaf position (SearchScan) and KeysBefore counts
  // the keys before it.
  bool SearchIndexKeys(const std::uint8_t* key);
  // An equal key exists and belongs to record recordNumber.
  bool VerifyIndexKey(const std::uint8_t* key, std::int32_t recordNumber);
  // A unique index (or slot 31 or 32) already holds the key; the caller
  // raises TARN_KEYVIOL.
  bool CheckForKeyViolation(const std::uint8_t* key);
  void AddIndexKey(const std::uint8_t* key, std::int32_t recordNumber);
  // TARN_INDEXCORRUPT when the key is not in the index.
  void RemoveIndexKey(const std::uint8_t* key);
  void UpdateIndexKey(const std::uint8_t* oldKey, const std::uint8_t* newKey, std::int32_t recordNumber);

  // Keys in the index (the root's total lower count).
  std::int64_t GetKeyCount();
  // Positions the path on the key with the given 1-based ordinal; false when
  // there is no such key. key (key size bytes) and record number are copied
  // out when given.
  bool SeekOrdinal(std::int64_t ordinal, std::uint8_t* key = nullptr, std::int32_t* recordNumber = nullptr);
  // Keys of the index that are less than key.
  std::int64_t CountKeysBefore(const std::uint8_t* key);
  // Visits every key in index order along the leaf chain until visit answers
  // false. When the walk has to start over, keys not greater than the last
  // one visited are passed over. A damaged chain (a cycle, a link out of
  // range, a non-leaf) raises TARN_INDEXCORRUPT.
  void ScanKeys(const std::function<bool(const std::uint8_t* key, std::int32_t recordNumber)>& visit);

  // The record number at the leaf position the last search ended on.
  std::int32_t FoundRecordNumber() const noexcept { return foundRecordNumber_; }

 private:
  // The one descent every search, insert, delete and count makes: from the root to
  // a leaf, entering each page in the path with the entry position step(page)
  // answers (the child to follow on a branch, the final position on the leaf; 0
  // on a branch ends the descent there). The last page stays held in page (none
  // when the index is empty). False when a page read revealed changes made
  // elsewhere: the caller starts over.
  template <class TStep>
  bool Descend(TPageRef& page, TStep&& step);

  bool TrySearch(const std::uint8_t* key, bool& found);
  bool TryAdd(const std::uint8_t* key, std::int32_t recordNumber);
  bool TryRemove(const std::uint8_t* key);
  bool TrySeekOrdinal(std::int64_t ordinal, std::uint8_t* key, std::int32_t* recordNumber, bool& found);
  bool TryCountKeysBefore(const std::uint8_t* key, std::int64_t& count);
  bool TryScan(const std::function<bool(const std::uint8_t*, std::int32_t)>& visit);

  bool InsertIndexKey(int level, TPage& page, const std::uint8_t* key, std::int32_t lowerCount,
                      std::int32_t value);
  bool DeleteIndexKey(int level, TPage& page);
  // The first key of the page at level is now key: the parent entries above
  // it take it over while they are the first of their pages.
  bool UpdateUpperIndexKeys(int level, const std::uint8_t* key);
  // The page a descent reached must have the type its level allows.
  void CheckDescentPage(const TPage& page, int level) const;
  // A child or sibling link must name an existing page.
  void CheckLink(std::int64_t n) const;
  // Fixes the sibling link of the page on the far side of a split or merge.
  bool RelinkNeighbour(std::int32_t n, bool setLeft, std::int32_t target);
  [[noreturn]] void Corrupt() const;

  TIndexFile& file_;
  TCacheClient* cursor_;
  std::size_t slot_;
  const TPageKeyComparator& cmp_;
  TIndexPath& path_;
  std::uint16_t keySize_;
  std::int32_t foundRecordNumber_ = 0;
  std::vector<std::uint8_t> scanLast_;  // last key a scan visited
};

}  // namespace tarn
