// TPage: one 4096-byte index page in memory: its header fields, its key
// entries unpacked into fixed-size slots, the packing and unpacking of the
// four leaf compressions, the entry operations the B-tree drivers use
// (insert, update, delete, split, balance, merge) and the page scans.
#pragma once

#include <array>
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "storage/files/buffer_cache.h"
#include "storage/formats/index_definition.h"
#include "storage/btree/page_header.h"
#include "storage/btree/page_key_comparator.h"
#include "storage/records/records_bitmap_interface.h"

namespace tarn {

enum TPageType : std::uint8_t {
  ptRootBranch = 0,  // root of a tree of more than one page
  ptBranch = 1,      // branch below the root
  ptLeaf = 2,        // leaf below the root
  ptRootLeaf = 3,    // the only page of a one-page tree
  ptData = 4,        // 4083 raw bytes, not keys
};

// Bytes of one entry in memory beyond its key: value, lower key count,
// duplicate count and trailing count.
inline constexpr std::size_t kEntryExtraBytes = 10;
// Largest duplicate or trailing count a compressed entry can store.
inline constexpr std::uint8_t kMaxCompressionCount = 254;

// What a page takes over from the index definition of its slot.
struct TPageSettings {
  std::uint16_t KeySize = 0;
  std::uint8_t Slot = 0;
  bool Descending = false;
  bool Unique = true;
  std::uint8_t Compression = icNone;  // TIndexCompression
  bool Encrypted = false;             // the page is scrambled on disk
};

class TPage : public TCachedBuffer {
 public:
  TPage() = default;
  TPage(const TPage&) = delete;
  TPage& operator=(const TPage&) = delete;

  // --- identity and state -------------------------------------------------
  void SetSettings(const TPageSettings& settings) noexcept { settings_ = settings; }
  const TPageSettings& Settings() const noexcept { return settings_; }
  std::uint16_t KeySize() const noexcept { return settings_.KeySize; }
  std::size_t EntrySize() const noexcept { return settings_.KeySize + kEntryExtraBytes; }

  std::int32_t PageNumber() const noexcept { return Number(); }
  // Numbers a page outside a cache (a cached page is numbered by its cache).
  void SetPageNumber(std::int32_t n) noexcept { SetNumberValue(n); }
  // For the cache: initialised, numbered n, clean and unused.
  void Reset(std::int32_t n);
  // Exchanges the contents (settings, header fields, entries) with another
  // page; number, dirty flag and use count stay.
  void Swap(TPage& other) noexcept;

  std::uint8_t PageType() const noexcept { return pageType_; }
  void SetPageType(std::uint8_t type) noexcept;
  bool IsBranch() const noexcept { return pageType_ == ptRootBranch || pageType_ == ptBranch; }
  bool IsLeaf() const noexcept { return pageType_ == ptLeaf || pageType_ == ptRootLeaf; }
  bool IsRoot() const noexcept { return pageType_ == ptRootBranch || pageType_ == ptRootLeaf; }
  // A leaf limited by its compressed size rather than an entry count.
  bool IsCompressedLeaf() const noexcept { return IsLeaf() && settings_.Compression != icNone; }
  bool IsFree() const noexcept { return free_; }
  void SetFree(bool free) noexcept {
    free_ = free;
    SetDirty(true);
  }

  std::int32_t LeftPageNumber() const noexcept { return leftPage_; }
  std::int32_t RightPageNumber() const noexcept { return rightPage_; }
  void SetLeftPageNumber(std::int32_t n) noexcept;
  void SetRightPageNumber(std::int32_t n) noexcept;

  int NumberOfKeyEntries() const noexcept { return entryCount_; }
  // Resizes the entry area; new entries are zero.
  void SetNumberOfKeyEntries(int n);
  std::uint16_t CompressedSize() const noexcept { return compressedSize_; }
  // Entry count the header of the last page image read carried (before a
  // reuse dropped the entries).
  std::uint16_t StoredEntryCount() const noexcept { return storedEntryCount_; }

  // --- disk image ---------------------------------------------------------
  // Takes the page from a 4096-byte disk image (descrambled here when the
  // slot is encrypted). With reuse the entries are dropped unread. A damaged
  // image raises TARN_INDEXCORRUPT. The page is clean afterwards.
  void Read(std::span<const std::uint8_t, kPageSize> bytes, bool reuse);
  // Packs the page into a 4096-byte image (scrambled when encrypted); a free
  // page is written with no entries. The page is clean afterwards.
  void Write(std::span<std::uint8_t, kPageSize> bytes);
  // Type 0, no entries, no siblings, not free, clean.
  void Initialize();
  // Copies header fields and entries of another page with the same settings.
  void Copy(const TPage& other);

  // --- entries -----------------------------------------------------------
  // Entries a branch page (or an uncompressed leaf) may hold.
  int GetMaximumKeyEntries() const noexcept;
  std::uint8_t* GetKeyEntryPtr(int pos) noexcept { return entries_.data() + (pos - 1) * EntrySize(); }
  const std::uint8_t* GetKeyEntryPtr(int pos) const noexcept {
    return entries_.data() + (pos - 1) * EntrySize();
  }
  std::int32_t GetRecordNumber(int pos) const noexcept;
  void SetRecordNumber(int pos, std::int32_t value) noexcept;
  // 1 for a leaf entry; the keys beneath the child for a branch entry.
  std::int32_t GetLowerKeyEntryCount(int pos) const noexcept;
  void SetLowerKeyEntryCount(int pos, std::int32_t count) noexcept;
  // Entries of a leaf; sum of the lower counts of a branch.
  std::int64_t GetTotalLowerKeyEntryCount() const noexcept;
  // Keys before position pos (pos may be count + 1).
  std::int64_t GetPageKeyCount(int pos) const noexcept;
  // The 4083 raw bytes of a data page.
  std::uint8_t* GetPageDataPtr();

  // A branch or uncompressed leaf with more entries than its maximum, or a
  // compressed leaf whose packed entries exceed 4083 bytes.
  bool PageDataOverflowed() const noexcept;
  // Recomputes the duplicate and trailing counts of every entry and the
  // packed size of a compressed leaf (0 for other pages).
  void CalculateCompressedSize() noexcept;

  // Inserts an entry at pos (1 .. count + 1), moving later entries up.
  void InsertKeyEntry(int pos, const std::uint8_t* key, std::int32_t value, std::int32_t lowerCount);
  // Replaces the key of the entry at pos.
  void UpdateKeyEntry(int pos, const std::uint8_t* key);
  void DeleteKeyEntry(int pos);

  // Moves the last floor(c/2) entries into the empty page target and links it
  // in after this page (this page's right link and target's two links; the
  // former right sibling's left link is the caller's). Both become branches
  // or leaves below the root. Compressed leaves shift entries across the cut
  // until both sides fit; TARN_INDEXCORRUPT when that is impossible.
  void SplitIntoPage(TPage& target);
  // Spreads the entries of left (first) and this page: left keeps
  // ceil(total/2).
  void BalanceWithLeftPage(TPage& left);
  // Spreads the entries of this page (first) and right: this page keeps
  // floor(total/2).
  void BalanceWithRightPage(TPage& right);
  // All entries go to the end of left; left takes over this page's right
  // link (the far page's left link is the caller's); this page is emptied
  // and unlinked.
  void MergeWithLeftPage(TPage& left);
  // All entries go in front of right's; right takes over this page's left
  // link (the far page's right link is the caller's); this page is emptied
  // and unlinked.
  void MergeWithRightPage(TPage& right);

  // --- scans ---------------------------------------------------------------
  // Keys are compared over the key size unless a length is given (a prefix
  // of the first key fields). Positions are 1-based. Search scans of an
  // empty page raise TARN_INDEXCORRUPT.
  struct TSearchResult {
    int Position;
    bool Found;
  };
  // The last entry not greater than key (1 when key is below every entry);
  // Found only on a leaf holding an equal entry.
  TSearchResult SearchScan(const TPageKeyComparator& cmp, const std::uint8_t* key) const;
  // The last entry not greater than key, 0 when key is below every entry.
  int InsertScan(const TPageKeyComparator& cmp, const std::uint8_t* key) const;
  TSearchResult DeleteScan(const TPageKeyComparator& cmp, const std::uint8_t* key) const {
    return SearchScan(cmp, key);
  }
  // Branch: the last entry not greater than key (at least 1), not found.
  // Leaf: the first equal entry (found); otherwise with nearest the first
  // entry greater (count + 1 when there is none), without nearest the last
  // entry not greater (at least 1). Adds GetPageKeyCount(pos) to keysBefore.
  bool FindScan(const TPageKeyComparator& cmp, const std::uint8_t* key, std::size_t length, bool nearest, int& pos,
                std::int64_t& keysBefore) const;
  // Linear from the first entry while entries do not exceed rangeEnd. On a
  // leaf an equal entry is found; an entry greater than key stops the scan:
  // on a leaf without exact it is the answer (found), with exact nothing is
  // found. keysBefore counts the entries passed (lower counts on a branch).
  // When the scan moved past entries without finding one, it ends one entry
  // back (the child to descend into on a branch, the last passed entry on a
  // leaf).
  bool FindRangeScan(const TPageKeyComparator& cmp, const std::uint8_t* key, std::size_t length, bool exact,
                     int& pos, std::int64_t& keysBefore, const std::uint8_t* rangeEnd) const;
  void FirstScan(int& pos, std::int64_t& keysBefore) const;
  void LastScan(int& pos, std::int64_t& keysBefore) const;
  // Start of a range: on a leaf the first entry not less than key (count + 1
  // when there is none); on a branch the last entry less than key (at least
  // 1), whose child holds the first such key. Adds GetPageKeyCount(pos).
  void FirstRangeScan(const TPageKeyComparator& cmp, const std::uint8_t* key, std::size_t length, int& pos,
                      std::int64_t& keysBefore) const;
  void BeginRangeScan(const TPageKeyComparator& cmp, const std::uint8_t* key, std::size_t length, int& pos,
                      std::int64_t& keysBefore) const {
    FirstRangeScan(cmp, key, length, pos, keysBefore);
  }
  // End of a range: the last entry not greater than key (at least 1). Adds
  // GetPageKeyCount(pos).
  void LastRangeScan(const TPageKeyComparator& cmp, const std::uint8_t* key, std::size_t length, int& pos,
                     std::int64_t& keysBefore) const;
  void EndRangeScan(const TPageKeyComparator& cmp, const std::uint8_t* key, std::size_t length, int& pos,
                    std::int64_t& keysBefore) const {
    LastRangeScan(cmp, key, length, pos, keysBefore);
  }
  // Length (at most count) of the run of consecutive record numbers from
  // leaf position pos: forward r, r+1, ...; backward (direction != 1) r,
  // r-1, ... towards lower positions. 0 for a position outside the page.
  int CountSequentialRecords(int count, int direction, int pos) const noexcept;
  // From pos (inclusive) to the nearest entry whose record number is set in
  // the bitmap; logical rises (falls) by one per entry moved over. False at
  // the page end (pos = count + 1, or 0 backward).
  bool FilterScanForward(std::int64_t& logical, int& pos, const TRecordsBitmapInterface& bitmap) const;
  bool FilterScanBackward(std::int64_t& logical, int& pos, const TRecordsBitmapInterface& bitmap) const;
  // The same, but false as soon as an entry lies beyond rangeEnd (before
  // rangeStart), compared over length.
  bool FilterRangeScanForward(const TPageKeyComparator& cmp, std::int64_t& logical,
                              const TRecordsBitmapInterface& bitmap, const std::uint8_t* rangeEnd,
                              std::size_t length, int& pos) const;
  bool FilterRangeScanBackward(const TPageKeyComparator& cmp, std::int64_t& logical,
                               const TRecordsBitmapInterface& bitmap, const std::uint8_t* rangeStart,
                               std::size_t length, int& pos) const;
  // Sets the bit of every record from pos on whose key does not exceed
  // rangeEnd; pos ends at the first entry beyond it. True when the whole rest
  // of the page qualified.
  bool FilterSetIndexedBits(const TPageKeyComparator& cmp, const std::uint8_t* rangeEnd, std::size_t length,
                            int& pos, TRecordsBitmapInterface& bitmap) const;

  // --- packing (used by Read and Write) ------------------------------------
  // Packs the entries into dest (4083 bytes); answers the bytes used.
  std::size_t CompressPageData(std::uint8_t* dest) const;
  // Unpacks count entries from src (available bytes); TARN_INDEXCORRUPT
  // when they do not fit or carry impossible counts.
  void UnCompressPageData(const std::uint8_t* src, std::size_t available, int count);

 private:
  void Reserve(std::size_t bytes);
  std::uint8_t DuplicateCount(int pos) const noexcept;
  std::uint8_t TrailingCount(int pos) const noexcept;
  std::size_t PackedEntrySize(int pos) const noexcept;
  // Moves n entries of src starting at srcPos into this page before dstPos.
  void TakeEntries(TPage& src, int srcPos, int n, int dstPos);
  // The first position whose entry is above the key (with orEqual: above or equal
  // to it), entry count + 1 when there is none: the one binary search of the scans.
  int FirstPositionAbove(const TPageKeyComparator& cmp, const std::uint8_t* key, std::size_t length,
                         bool orEqual) const;
  int LowerBound(const TPageKeyComparator& cmp, const std::uint8_t* key, std::size_t length) const {
    return FirstPositionAbove(cmp, key, length, true);
  }
  int UpperBound(const TPageKeyComparator& cmp, const std::uint8_t* key, std::size_t length) const {
    return FirstPositionAbove(cmp, key, length, false);
  }
  // The last entry not greater than the key, at least 1: where a descent goes on.
  int LastNotAbove(const TPageKeyComparator& cmp, const std::uint8_t* key, std::size_t length) const {
    return std::max(1, UpperBound(cmp, key, length) - 1);
  }
  void RequireEntries() const;

  TPageSettings settings_;
  std::uint8_t pageType_ = ptRootBranch;
  bool free_ = false;
  std::int32_t leftPage_ = 0;
  std::int32_t rightPage_ = 0;
  int entryCount_ = 0;
  std::uint16_t compressedSize_ = 0;
  std::uint16_t storedEntryCount_ = 0;
  std::vector<std::uint8_t> entries_;
};

}  // namespace tarn
