// TIndexFile: index header handling, the per-slot page caches, free-page
// lists and the writing of dirty pages in runs.
#include "storage/btree/index_file.h"

#include <algorithm>
#include <climits>
#include <cstring>

#include "core/errors.h"
#include "storage/files/cache_io.h"
#include "storage/files/header_io.h"
#include "storage/formats/check_header.h"
#include "storage/formats/record_layout.h"
#include "storage/formats/scrambling.h"
#include "storage/formats/update_stamp.h"

namespace tarn {
namespace {

// The index header for the shared header code, scrambled as a whole when the table is.
struct TIndexHeaderCodec {
  using THeader = TIndexHeader;
  static constexpr std::size_t Size = kIndexHeaderSize;
  bool Encrypted = false;
  THeader Decode(std::span<const std::uint8_t, Size> image) const { return ReadIndexHeader(image, Encrypted); }
  std::array<std::uint8_t, Size> Encode(const THeader& header) const { return IndexHeaderBytes(header, Encrypted); }
  void AdvanceStamp(THeader& header) const { AdvanceUpdateStamp(header); }
  void PrepareWrite(THeader& header) const { PrepareIndexHeaderWrite(header); }
  // Scrambling goes byte by byte from the image's start, so the first four
  // bytes descramble alone.
  std::int32_t DecodeStamp(std::array<std::uint8_t, 4> stored) const {
    static_assert(Size % 0x10000 != 0, "a scrambled image of this size would stay plain");
    if (Encrypted) DecryptBuffer(stored.data(), stored.size(), kRecordSeeds);
    return LoadInt32(stored.data());
  }
};

}  // namespace

TIndexFile::TIndexFile() {
  header_ = CreateIndexHeader();
  flush_ = [this] { return FlushPageBuffers(); };
  for (auto& cache : caches_) {
    cache = std::make_unique<TPageCache>(pageStack_, kPageCacheGrowStep, TARN_INDEXCORRUPT);
    cache->SetCapacity(kPageCacheInitialCapacity);
  }
}

TIndexFile::~TIndexFile() {
  FreePageBuffers();
  TFileHandler::CloseFile();
}

// --- file and header -------------------------------------------------------

void TIndexFile::CreateFile() {
  FreePageBuffers();
  TFileHandler::CreateFile();
  for (auto& cache : caches_) cache->SetTableName(FileName());
  header_ = CreateIndexHeader();
  ClearStatistics();
}

void TIndexFile::OpenFile() {
  TFileHandler::OpenFile();
  try {
    ReadHeader();
  } catch (...) {
    TFileHandler::CloseFile();
    throw;
  }
  FreePageBuffers();
  for (auto& cache : caches_) cache->SetTableName(FileName());
  ClearStatistics();
}

void TIndexFile::CloseFile() {
  FreePageBuffers();
  TFileHandler::CloseFile();
}

void TIndexFile::ReadHeader() { header_ = THeaderIO<TIndexHeaderCodec>(*this, link_, {encrypted_}).Read(); }

bool TIndexFile::WriteHeader(bool force) {
  return THeaderIO<TIndexHeaderCodec>(*this, link_, {encrypted_}).Write(header_, force);
}

void TIndexFile::UpdateHeaderStamp() { THeaderIO<TIndexHeaderCodec>(*this, link_, {encrypted_}).UpdateStamp(header_); }

void TIndexFile::ClearHeader() {
  FreePageBuffers();
  {
    TFileHandlerLock section(*this);
    Seek(0, static_cast<std::int64_t>(kIndexHeaderSize));
    Write(nullptr, 0);
  }
  ClearIndexHeaderCounters(header_);
  header_.HeaderChanged = 1;
}

bool TIndexFile::CheckForChanges() {
  return StoredStampShowsChange(
      header_, [this] { return THeaderIO<TIndexHeaderCodec>(*this, link_, {encrypted_}).ReadStoredStamp(); },
      [this] { ReadHeader(); });
}

void TIndexFile::CheckSlot(std::size_t slot) const {
  if (slot >= kIndexSlotCount) RaiseError(TARN_INDEXCORRUPT, {}, {}, {}, FileName());
}

void TIndexFile::CheckHeaderVersion(const TTableContext& context) const { CheckIndexHeaderVersion(header_, context); }

void TIndexFile::CheckHeader(std::span<const TFieldDefinition> fields, const TTableContext& context) const {
  CheckIndexHeader(header_, fields, context);
}

void TIndexFile::GetIndexDefinition(std::size_t slot, TIndexDefinition& def) const {
  CheckSlot(slot);
  def = header_.Slots[slot];
}

void TIndexFile::SetIndexDefinition(std::size_t slot, const TIndexDefinition& def) {
  CheckSlot(slot);
  tarn::SetIndexDefinition(header_, slot, def);
  header_.HeaderChanged = 1;
}

void TIndexFile::UpdateIndexDefinition(std::size_t slot, const TIndexDefinition& def) {
  CheckSlot(slot);
  tarn::UpdateIndexDefinition(header_, slot, def);
  header_.HeaderChanged = 1;
}

void TIndexFile::AddPrimaryIndex(const TIndexDefinition& def, std::span<const TFieldDefinition> fields,
                                 const TTableContext& context) {
  tarn::AddPrimaryIndex(header_, def, fields, context);
  header_.HeaderChanged = 1;
}

void TIndexFile::AddSecondaryIndex(const TIndexDefinition& def, std::span<const TFieldDefinition> fields,
                                   const TTableContext& context) {
  tarn::AddSecondaryIndex(header_, def, fields, context);
  header_.HeaderChanged = 1;
}

void TIndexFile::DeleteIndex(std::size_t slot, bool removeDefinition) {
  CheckSlot(slot);
  tarn::DeleteIndex(header_, slot, removeDefinition);
  header_.HeaderChanged = 1;
}

void TIndexFile::SetIndexCount(std::uint8_t count) {
  header_.IndexCount = count;
  header_.HeaderChanged = 1;
}

void TIndexFile::SetNoPrimaryIndex(bool value) {
  header_.NoPrimaryIndex = value ? 1 : 0;
  header_.HeaderChanged = 1;
}

std::uint8_t TIndexFile::GetKeyFieldCount(std::size_t slot) const {
  CheckSlot(slot);
  return header_.Slots[slot].KeyFieldCount;
}

bool TIndexFile::GetKeyUnique(std::size_t slot) const {
  CheckSlot(slot);
  return header_.Slots[slot].Unique != 0;
}

bool TIndexFile::GetKeyDescending(std::size_t slot) const {
  CheckSlot(slot);
  return header_.Slots[slot].Descending != 0;
}

void TIndexFile::GetKeyFields(std::size_t slot, std::array<std::uint16_t, kMaxKeyFields>& fields) const {
  CheckSlot(slot);
  fields = header_.Slots[slot].KeyFields;
}

void TIndexFile::SetActualRecordCount(std::int32_t count) {
  header_.ActualRecordCount = count;
  header_.HeaderChanged = 1;
}

void TIndexFile::IncActualRecordCount() {
  if (header_.ActualRecordCount < INT32_MAX) ++header_.ActualRecordCount;
  header_.HeaderChanged = 1;
}

void TIndexFile::DecActualRecordCount() {
  if (header_.ActualRecordCount > 0) --header_.ActualRecordCount;
  header_.HeaderChanged = 1;
}

std::int32_t TIndexFile::SlotPageNumber(std::size_t slot, TSlotPageField field) const {
  CheckSlot(slot);
  return header_.Slots[slot].*field;
}

void TIndexFile::SetSlotPageNumber(std::size_t slot, TSlotPageField field, std::int32_t n) {
  CheckSlot(slot);
  header_.Slots[slot].*field = n;
  header_.HeaderChanged = 1;
}

std::int32_t TIndexFile::GetRootPageNumber(std::size_t slot) const {
  return SlotPageNumber(slot, &TIndexDefinition::RootPageNumber);
}

void TIndexFile::SetRootPageNumber(std::size_t slot, std::int32_t n) {
  SetSlotPageNumber(slot, &TIndexDefinition::RootPageNumber, n);
}

std::int32_t TIndexFile::GetDataRootPageNumber(std::size_t slot) const {
  return SlotPageNumber(slot, &TIndexDefinition::DataRootPageNumber);
}

void TIndexFile::SetDataRootPageNumber(std::size_t slot, std::int32_t n) {
  SetSlotPageNumber(slot, &TIndexDefinition::DataRootPageNumber, n);
}

std::int32_t TIndexFile::GetNextFreePageNumber(std::size_t slot) const {
  return SlotPageNumber(slot, &TIndexDefinition::NextFreePageNumber);
}

void TIndexFile::SetNextFreePageNumber(std::size_t slot, std::int32_t n) {
  SetSlotPageNumber(slot, &TIndexDefinition::NextFreePageNumber, n);
}

TPageSettings TIndexFile::SlotSettings(std::size_t slot) const {
  CheckSlot(slot);
  const TIndexDefinition& def = header_.Slots[slot];
  if (def.KeySize == 0 || def.KeySize > kMaxKeySize || def.Compression > icFull ||
      (def.Unique == 0 && def.KeySize <= kRecordIdKeyBytes)) {
    RaiseError(TARN_INDEXCORRUPT, {}, {}, {}, FileName());
  }
  TPageSettings s;
  s.KeySize = def.KeySize;
  s.Slot = static_cast<std::uint8_t>(slot);
  s.Descending = def.Descending != 0;
  s.Unique = def.Unique != 0;
  s.Compression = def.Compression;
  s.Encrypted = encrypted_;
  return s;
}

// --- pages -----------------------------------------------------------------

TPage* TIndexFile::ObtainBuffer(std::size_t slot, std::int32_t n, const TPageSettings& settings) {
  TPage* page = caches_[slot]->Acquire(n, flush_, MayWriteToMakeRoom());
  page->SetSettings(settings);
  return page;
}

bool TIndexFile::GetPage(TCacheClient* cursor, std::size_t slot, std::int32_t n, TPage*& page, bool reuse) {
  page = nullptr;
  if (n <= 0) RaiseError(TARN_INDEXCORRUPT, {}, {}, {}, FileName());
  const TPageSettings settings = SlotSettings(slot);
  TPageCache& cache = *caches_[slot];
  TPage* found = nullptr;
  if (n == header_.NextPageNumber) {
    if (n > kMaxIndexPages ||
        (static_cast<std::int64_t>(n) + 1) * static_cast<std::int64_t>(kPageSize) > kMaxIndexFileBytes) {
      RaiseError(TARN_TABLEFULL, {}, {}, {}, FileName());
    }
    found = ObtainBuffer(slot, n, settings);
    // A new page is written even if it stays empty, so the file has no holes.
    found->SetDirty(true);
    ++statistics_.CacheHits;
    ++header_.NextPageNumber;
    header_.HeaderChanged = 1;
  } else if (n > header_.NextPageNumber) {
    RaiseError(TARN_INDEXCORRUPT, {}, {}, {}, FileName());
  } else {
    found = cache.Find(n);
    if (found != nullptr) {
      ++statistics_.CacheHits;
      if (reuse) {
        if (!found->IsFree()) RaiseError(TARN_INDEXCORRUPT, {}, {}, {}, FileName());
        found->SetNumberOfKeyEntries(0);
      }
    } else {
      if (cursor != nullptr && (link_ == nullptr || !link_->StrictChangeDetection())) {
        if (cursor->ReadLockForCache()) return false;
      }
      readBuffer_.assign(kPageSize, 0);
      const bool allowShort = link_ != nullptr && link_->ShortReadsAllowed();
      {
        TFileHandlerLock section(*this);
        Seek(0, static_cast<std::int64_t>(PagePosition(static_cast<std::uint32_t>(n))));
        Read(readBuffer_.data(), static_cast<std::int64_t>(kPageSize), allowShort);
      }
      ++statistics_.CacheMisses;
      ++statistics_.Reads;
      scratch_.SetSettings(settings);
      scratch_.Read(std::span<const std::uint8_t, kPageSize>(readBuffer_.data(), kPageSize), reuse);
      if (reuse && scratch_.StoredEntryCount() != 0) RaiseError(TARN_INDEXCORRUPT, {}, {}, {}, FileName());
      found = ObtainBuffer(slot, n, settings);
      found->Swap(scratch_);
      found->SetDirty(false);
    }
  }
  if (found->PageNumber() != n) RaiseError(TARN_INDEXCORRUPT, {}, {}, {}, FileName());
  found->IncUseCount();
  page = found;
  return true;
}

void TIndexFile::PutPage(TPage* page) noexcept {
  if (page != nullptr) page->DecUseCount();
}

bool TIndexFile::GetSlotRootPage(TCacheClient* cursor, std::size_t slot, TSlotPageField root, TPage*& page,
                                 bool& changed) {
  page = nullptr;
  changed = false;
  const std::int32_t n = SlotPageNumber(slot, root);
  if (n == 0) return false;
  if (!IsLinkablePage(n)) RaiseError(TARN_INDEXCORRUPT, {}, {}, {}, FileName());
  if (!GetPage(cursor, slot, n, page)) {
    changed = true;
    return false;
  }
  return true;
}

bool TIndexFile::GetRootPage(TCacheClient* cursor, std::size_t slot, TPage*& page, bool& changed) {
  return GetSlotRootPage(cursor, slot, &TIndexDefinition::RootPageNumber, page, changed);
}

bool TIndexFile::GetDataRootPage(TCacheClient* cursor, std::size_t slot, TPage*& page, bool& changed) {
  return GetSlotRootPage(cursor, slot, &TIndexDefinition::DataRootPageNumber, page, changed);
}

bool TIndexFile::GetNextFreePage(TCacheClient* cursor, std::size_t slot, TPage*& page) {
  page = nullptr;
  const std::int32_t head = GetNextFreePageNumber(slot);
  TPage* taken = nullptr;
  if (head != 0) {
    if (!IsLinkablePage(head) || head == header_.Slots[slot].RootPageNumber ||
        head == header_.Slots[slot].DataRootPageNumber) {
      RaiseError(TARN_INDEXCORRUPT, {}, {}, {}, FileName());
    }
    if (!GetPage(cursor, slot, head, taken, true)) return false;
    const std::int32_t next = taken->RightPageNumber();
    if (next != 0 && (!IsLinkablePage(next) || next == head)) {
      PutPage(taken);
      RaiseError(TARN_INDEXCORRUPT, {}, {}, {}, FileName());
    }
    SetNextFreePageNumber(slot, next);
  } else {
    if (!GetPage(cursor, slot, header_.NextPageNumber, taken, true)) return false;
  }
  const bool appended = head == 0;
  taken->SetSettings(SlotSettings(slot));
  taken->Initialize();
  // An appended page must reach the file even if nothing is put on it.
  if (appended) taken->SetDirty(true);
  page = taken;
  return true;
}

void TIndexFile::SetNextFreePage(std::size_t slot, TPage* page) {
  const std::int32_t head = GetNextFreePageNumber(slot);
  page->SetNumberOfKeyEntries(0);
  page->SetLeftPageNumber(0);
  page->SetRightPageNumber(head);
  page->SetFree(true);
  page->CalculateCompressedSize();
  SetNextFreePageNumber(slot, page->PageNumber());
}

bool TIndexFile::FlushPageBuffers() {
  if (header_.IndexCount > 32) return false;
  std::vector<TPage*> dirty;
  for (const auto& cache : caches_) {
    const std::vector<TPage*> pages = cache->DirtyUnused();
    dirty.insert(dirty.end(), pages.begin(), pages.end());
  }
  std::sort(dirty.begin(), dirty.end(), [](const TPage* a, const TPage* b) { return a->PageNumber() < b->PageNumber(); });
  return WriteBufferRuns<TPage>(
      *this, dirty,
      {.Size = kPageSize,
       .Area =
           [this](std::int64_t bytes) {
             writeBuffer_.resize(static_cast<std::size_t>(bytes));
             return writeBuffer_.data();
           },
       .Encode = [](TPage& page, std::uint8_t* at) { page.Write(std::span<std::uint8_t, kPageSize>(at, kPageSize)); },
       .Position = [](std::int32_t n) { return static_cast<std::int64_t>(PagePosition(static_cast<std::uint32_t>(n))); },
       .RunWritten =
           [this] {
             ++statistics_.Writes;
             MarkTableChanged();
           }});
}

void TIndexFile::FreePageBuffers() {
  for (auto& cache : caches_) cache->FreeAll();
  ++generation_;
}

void TIndexFile::AdjustPageBuffers() {
  for (auto& cache : caches_) cache->Shrink(kPageCacheInitialCapacity, flush_, MayWriteToMakeRoom());
}

std::unique_ptr<TPage> TIndexFile::GetNewPageInstance() {
  std::unique_ptr<TPage> page = pageStack_.Take();
  page->Reset(0);
  return page;
}

void TIndexFile::ReturnPageInstance(std::unique_ptr<TPage>& page) { pageStack_.Return(page); }

}  // namespace tarn
