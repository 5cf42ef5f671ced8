// TIndexFile: the handler of a table's index file. It owns the index header
// image and, per index slot, a cache of pages (the shared buffer cache: a
// list sorted by page number plus a most-recently-used list) with one pool of
// spare page instances for the whole file; it hands out
// and takes back free pages (one free list per slot) and writes dirty pages
// in runs of consecutive page numbers.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string_view>
#include <vector>

#include "storage/formats/field_definition.h"
#include "storage/files/file_handler.h"
#include "storage/formats/index_header.h"
#include "storage/btree/page.h"
#include "storage/formats/table_context.h"
#include "storage/files/table_link.h"
#include "storage/files/buffer_cache.h"
#include <functional>

namespace tarn {

inline constexpr std::int64_t kMaxIndexPages = 2'000'000'000;
inline constexpr std::int64_t kMaxIndexFileBytes = 4'000'000'000;
// Each slot's cache starts with room for 2 pages and grows by 4 when nothing
// can be evicted; up to 4 spare pages are pooled for the whole file.
inline constexpr std::size_t kPageCacheInitialCapacity = 2;
inline constexpr std::size_t kPageCacheGrowStep = 4;
inline constexpr std::size_t kPagePoolSize = 4;

using TPageCache = TBufferCache<TPage>;
// Spare page instances of one index file, shared by its slots' caches and the
// cursors' own pages.
using TPageStack = TInstanceStack<TPage>;

struct TIndexFileStatistics {
  std::int64_t CacheHits = 0;
  std::int64_t CacheMisses = 0;
  std::int64_t Reads = 0;
  std::int64_t Writes = 0;
};

class TIndexFile : public TFileHandler {
 public:
  TIndexFile();
  ~TIndexFile() override;

  // The shared table (may stay unset for files used on their own: then no
  // transaction, short reads refused).
  void SetTableLink(TTableLink* link) noexcept { link_ = link; }
  // Pages and header are scrambled on disk; set by the table before the file
  // is opened or created.
  void SetEncrypted(bool encrypted) noexcept { encrypted_ = encrypted; }
  bool GetEncrypted() const noexcept { return encrypted_; }

  // --- file and header ---------------------------------------------------
  // Creates the file with a new empty header (written by WriteHeader).
  void CreateFile() override;
  // Opens the file and reads its header; a failure closes it again.
  void OpenFile() override;
  // Drops every cached page and closes.
  void CloseFile() override;
  void ReadHeader();
  // Writes the header when forced or changed; true when written.
  bool WriteHeader(bool force);
  void UpdateHeaderStamp();
  // Truncates the file after the header, resets the counters and drops the
  // cache.
  void ClearHeader();
  const TIndexHeader& Header() const noexcept { return header_; }
  // For header-level changes (index definitions); call MarkHeaderChanged after.
  TIndexHeader& MutableHeader() noexcept { return header_; }
  void MarkHeaderChanged() noexcept { header_.HeaderChanged = 1; }
  // Re-reads the header (descrambled when encrypted); true when its stamp
  // differs from the one in memory. The new header is kept.
  bool CheckForChanges();

  // Header checks against the data file's field definitions (on open).
  void CheckHeaderVersion(const TTableContext& context) const;
  void CheckHeader(std::span<const TFieldDefinition> fields, const TTableContext& context) const;

  // Index definitions at file level; each change marks the header changed.
  void GetIndexDefinition(std::size_t slot, TIndexDefinition& def) const;
  void SetIndexDefinition(std::size_t slot, const TIndexDefinition& def);
  void UpdateIndexDefinition(std::size_t slot, const TIndexDefinition& def);
  void AddPrimaryIndex(const TIndexDefinition& def, std::span<const TFieldDefinition> fields,
                       const TTableContext& context);
  void AddSecondaryIndex(const TIndexDefinition& def, std::span<const TFieldDefinition> fields,
                         const TTableContext& context);
  void DeleteIndex(std::size_t slot, bool removeDefinition);
  bool IndexExists(std::string_view name) const noexcept { return tarn::IndexExists(header_, name); }
  std::uint8_t GetIndexCount() const noexcept { return header_.IndexCount; }
  void SetIndexCount(std::uint8_t count);
  bool GetNoPrimaryIndex() const noexcept { return header_.NoPrimaryIndex != 0; }
  void SetNoPrimaryIndex(bool value);
  std::uint8_t GetKeyFieldCount(std::size_t slot) const;
  bool GetKeyUnique(std::size_t slot) const;
  bool GetKeyDescending(std::size_t slot) const;
  void GetKeyFields(std::size_t slot, std::array<std::uint16_t, kMaxKeyFields>& fields) const;
  std::int32_t GetActualRecordCount() const noexcept { return header_.ActualRecordCount; }
  void SetActualRecordCount(std::int32_t count);
  void IncActualRecordCount();
  void DecActualRecordCount();
  bool CheckPageNumber(std::int64_t n) const noexcept { return tarn::CheckPageNumber(header_, n); }
  std::uint64_t GetFileSize() const noexcept { return GetIndexFileSize(header_); }

  std::int32_t GetRootPageNumber(std::size_t slot) const;
  void SetRootPageNumber(std::size_t slot, std::int32_t n);
  std::int32_t GetDataRootPageNumber(std::size_t slot) const;
  void SetDataRootPageNumber(std::size_t slot, std::int32_t n);
  std::int32_t GetNextFreePageNumber(std::size_t slot) const;
  void SetNextFreePageNumber(std::size_t slot, std::int32_t n);
  std::int32_t GetPhysicalPagesUsed() const noexcept { return tarn::GetPhysicalPagesUsed(header_); }
  // A page number naming an existing page (1 .. pages used).
  bool IsLinkablePage(std::int64_t n) const noexcept { return n >= 1 && n < header_.NextPageNumber; }
  // The settings pages of a slot take over; TARN_INDEXCORRUPT for a slot
  // whose key size or compression cannot be used.
  TPageSettings SlotSettings(std::size_t slot) const;

  // --- pages -------------------------------------------------------------
  // Page n of the slot with its use count raised. A miss first takes the read
  // lock through the cursor (none when cursor is null or the link detects
  // changes strictly); false (page null) when that revealed changes made
  // elsewhere (the caller starts over). With reuse the page comes off a free
  // list: its old entries are dropped, and a page that is not free raises
  // TARN_INDEXCORRUPT. n equal to the next page number appends a page.
  bool GetPage(TCacheClient* cursor, std::size_t slot, std::int32_t n, TPage*& page, bool reuse = false);
  void PutPage(TPage* page) noexcept;
  // The slot's root page; false when the index is empty (changed false) or
  // when changes were found (changed true).
  bool GetRootPage(TCacheClient* cursor, std::size_t slot, TPage*& page, bool& changed);
  bool GetDataRootPage(TCacheClient* cursor, std::size_t slot, TPage*& page, bool& changed);
  // A page for new use: the head of the slot's free list (checked before it
  // is reused) or a new page at the end; initialised empty with the slot's
  // settings. False when changes were found.
  bool GetNextFreePage(TCacheClient* cursor, std::size_t slot, TPage*& page);
  // Puts the page on the slot's free list.
  void SetNextFreePage(std::size_t slot, TPage* page);

  // Writes the dirty pages not in use, each run of consecutive page numbers
  // with one write; true when anything was written.
  bool FlushPageBuffers();
  // Returns every cached page to the pool without writing.
  void FreePageBuffers();
  // Shrinks each slot's cache toward its initial size.
  void AdjustPageBuffers();

  // A page object of the file's pool for a cursor's own use (outside the
  // caches): initialised, numbered 0, clean and unused.
  std::unique_ptr<TPage> GetNewPageInstance();
  // Back to the pool (destroyed when it holds 4 already); the pointer is null
  // afterwards.
  void ReturnPageInstance(std::unique_ptr<TPage>& page);
  std::size_t SparePageInstances() const noexcept { return pageStack_.Size(); }

  const TIndexFileStatistics& Statistics() const noexcept { return statistics_; }
  void ClearStatistics() noexcept { statistics_ = {}; }
  const TPageCache& Cache(std::size_t slot) const { return *caches_.at(slot); }
  // Rises whenever the cache is dropped; page handles taken before are stale.
  std::uint64_t CacheGeneration() const noexcept { return generation_; }

 private:
  // A buffer for page n of the slot (not cached): a new instance below the
  // capacity, else the least recently used clean page not in use (flushing
  // once when the table allows it: never during a change or a transaction),
  // else the capacity grows.
  TPage* ObtainBuffer(std::size_t slot, std::int32_t n, const TPageSettings& settings);
  void CheckSlot(std::size_t slot) const;
  // A page number kept in a slot's definition (root, data root, free-list
  // head), read or set after the slot is checked; setting marks the header
  // changed.
  using TSlotPageField = std::int32_t TIndexDefinition::*;
  std::int32_t SlotPageNumber(std::size_t slot, TSlotPageField field) const;
  void SetSlotPageNumber(std::size_t slot, TSlotPageField field, std::int32_t n);
  // The page a slot's root field names (see GetRootPage).
  bool GetSlotRootPage(TCacheClient* cursor, std::size_t slot, TSlotPageField root, TPage*& page, bool& changed);
  // Dirty buffers may be written to make room (see TTableLink).
  bool MayWriteToMakeRoom() const { return link_ == nullptr || link_->MayWriteToMakeRoom(); }
  void MarkTableChanged() {
    if (link_ != nullptr) link_->MarkTableChanged();
  }

  TTableLink* link_ = nullptr;
  bool encrypted_ = false;
  TIndexHeader header_{};
  // Declared before the caches, which return their pages to it.
  TPageStack pageStack_{kPagePoolSize, [] { return std::make_unique<TPage>(); }};
  std::array<std::unique_ptr<TPageCache>, kIndexSlotCount> caches_;
  // Decodes a page read from disk before it takes a cache buffer, so a
  // damaged image never enters the cache.
  TPage scratch_;
  TPageCache::TFlush flush_;
  TIndexFileStatistics statistics_;
  std::vector<std::uint8_t> readBuffer_;
  std::vector<std::uint8_t> writeBuffer_;
  std::uint64_t generation_ = 0;
};

// Holds a page between GetPage and PutPage, read for the given cursor (may be
// null); a handle taken before the cache was dropped lets the page go without
// touching it.
class TPageRef {
 public:
  TPageRef() = default;
  TPageRef(TIndexFile& file, TCacheClient* cursor) : file_(&file), cursor_(cursor) {}
  ~TPageRef() { Release(); }
  TPageRef(const TPageRef&) = delete;
  TPageRef& operator=(const TPageRef&) = delete;
  TPageRef(TPageRef&& other) noexcept { *this = std::move(other); }
  TPageRef& operator=(TPageRef&& other) noexcept {
    if (this != &other) {
      Release();
      file_ = other.file_;
      cursor_ = other.cursor_;
      page_ = other.page_;
      generation_ = other.generation_;
      other.page_ = nullptr;
    }
    return *this;
  }

  // Takes page n (see TIndexFile::GetPage); false when changes were found.
  bool Get(std::size_t slot, std::int32_t n, bool reuse = false) {
    Release();
    TPage* page = nullptr;
    if (!file_->GetPage(cursor_, slot, n, page, reuse)) return false;
    Adopt(page);
    return true;
  }
  // Takes over a page whose use count the caller raised through the file.
  void Adopt(TPage* page) noexcept {
    Release();
    page_ = page;
    generation_ = file_->CacheGeneration();
  }
  void Release() noexcept {
    if (page_ != nullptr && file_ != nullptr && generation_ == file_->CacheGeneration()) file_->PutPage(page_);
    page_ = nullptr;
  }
  TPage* get() const noexcept { return page_; }
  TPage* operator->() const noexcept { return page_; }
  TPage& operator*() const noexcept { return *page_; }
  explicit operator bool() const noexcept { return page_ != nullptr; }

 private:
  TIndexFile* file_ = nullptr;
  TCacheClient* cursor_ = nullptr;
  TPage* page_ = nullptr;
  std::uint64_t generation_ = 0;
};

}  // namespace tarn
