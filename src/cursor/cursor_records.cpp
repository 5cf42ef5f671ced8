// TDataCursor: record changes (append, modify, delete, cancel) with their
// record IDs, key checks and index maintenance over every index of the table,
// the cursor's record and table locks, semaphores and flushes. Each change
// runs inside one write-lock scope whose journal undoes on disk whatever a
// failed change wrote; every check runs before the first change, so a refused
// change touches nothing, in the files or in memory. The BLOB buffers a post
// writes are in cursor_blobs.cpp.
#include <algorithm>
#include <cstring>
#include <optional>

#include "core/errors.h"
#include "cursor/cursor_operation.h"
#include "cursor/data_cursor.h"
#include "engine/data_session.h"
#include "storage/blobs/blob_buffer.h"
#include "storage/btree/btree.h"
#include "storage/formats/data_header.h"
#include "storage/formats/index_header.h"
#include "storage/formats/record_layout.h"
#include "storage/keys/key_builder.h"
#include "storage/tables/data_table.h"

namespace tarn {

namespace {

// Releases a record lock taken for one change when the change ends, however it
// ends.
class TRecordLockRelease {
 public:
  TRecordLockRelease(TDataCursor& cursor, std::int32_t r) : cursor_(cursor), r_(r) {}
  ~TRecordLockRelease() {
    if (r_ == 0) return;
    try {
      cursor_.UserWriteUnlockRecord(r_);
    } catch (...) {
      // The change itself already reported what went wrong, or succeeded.
    }
  }
  // Unlocks now, reporting a failed unlock.
  void Release() {
    const std::int32_t r = r_;
    r_ = 0;
    if (r != 0) cursor_.UserWriteUnlockRecord(r);
  }
  TRecordLockRelease(const TRecordLockRelease&) = delete;
  TRecordLockRelease& operator=(const TRecordLockRelease&) = delete;

 private:
  TDataCursor& cursor_;
  std::int32_t r_;
};

// Keeps a cache record in use while a change fills it.
class TRecordHold {
 public:
  TRecordHold(TDataFile& file, TRecord* record) : file_(file), record_(record) {}
  ~TRecordHold() { Release(); }
  // Gives the record back to the cache: only records no one uses are written
  // by a flush.
  void Release() noexcept {
    file_.PutRecord(record_);
    record_ = nullptr;
  }
  TRecordHold(const TRecordHold&) = delete;
  TRecordHold& operator=(const TRecordHold&) = delete;
  TRecord* operator->() const noexcept { return record_; }
  TRecord& operator*() const noexcept { return *record_; }

 private:
  TDataFile& file_;
  TRecord* record_;
};

// A record read and changed under the write lock never meets changes made
// elsewhere (the lock's change detection has run), so a lookup that reports
// them can only be repeated a few times before the table is taken as damaged.
constexpr int kRecordAttempts = 3;

}  // namespace

// --- keys of every index --------------------------------------------------------------------

std::vector<TDataCursor::TSlotKeys> TDataCursor::KeySlots() const {
  std::vector<TSlotKeys> slots;
  TIndexFile& index = table_->IndexFile();
  const std::uint8_t count = index.GetIndexCount();
  for (std::size_t slot = table_->HasPrimaryIndex() ? 0 : 1; slot <= count && slot < kDeletedIndexSlot; ++slot) {
    TIndexDefinition def;
    index.GetIndexDefinition(slot, def);
    if (def.KeyFieldCount == 0) continue;
    TSlotKeys keys;
    keys.Slot = slot;
    keys.IndexName = slot == 0 ? std::string() : def.Name.Str();
    keys.Layout = MakeIndexKeyLayout(def, table_->DataFile().Fields(), slot, languageID_, sortID_, keys.IndexName);
    slots.push_back(std::move(keys));
  }
  return slots;
}

TDataCursor::TSlotKeys TDataCursor::DeletedRecordsSlot() const {
  TIndexDefinition def;
  table_->IndexFile().GetIndexDefinition(kDeletedIndexSlot, def);
  TSlotKeys keys;
  keys.Slot = kDeletedIndexSlot;
  keys.Layout = MakeIndexKeyLayout(def, table_->DataFile().Fields(), kDeletedIndexSlot, languageID_, sortID_);
  return keys;
}

std::vector<std::uint8_t> TDataCursor::SlotKey(const TSlotKeys& slot, const std::uint8_t* record) const {
  std::vector<std::uint8_t> key(slot.Layout.KeySize(), 0);
  const std::span<const std::uint8_t> bytes(record, recordBufferSize_);
  if (slot.Layout.Kind == kkDeletedRecords) {
    BuildDeletedKey(bytes, key);
  } else {
    BuildIndexKey(slot.Layout, bytes, key);
  }
  return key;
}

bool TDataCursor::CheckForKeyViolation(const TSlotKeys& slot, const std::uint8_t* key) {
  const TLayoutKeyComparator comparator(slot.Layout);
  TIndexPath path;
  TBTree tree(table_->IndexFile(), this, slot.Slot, comparator, path);
  return tree.CheckForKeyViolation(key);
}

void TDataCursor::AddIndexKey(const TSlotKeys& slot, const std::uint8_t* key, std::int32_t r) {
  const TLayoutKeyComparator comparator(slot.Layout);
  TIndexPath path;
  TBTree tree(table_->IndexFile(), this, slot.Slot, comparator, path);
  tree.AddIndexKey(key, r);
}

void TDataCursor::RemoveIndexKey(const TSlotKeys& slot, const std::uint8_t* key) {
  const TLayoutKeyComparator comparator(slot.Layout);
  TIndexPath path;
  TBTree tree(table_->IndexFile(), this, slot.Slot, comparator, path);
  tree.RemoveIndexKey(key);
}

void TDataCursor::UpdateIndexKey(const TSlotKeys& slot, const std::uint8_t* oldKey, const std::uint8_t* newKey,
                                 std::int32_t r) {
  const TLayoutKeyComparator comparator(slot.Layout);
  TIndexPath path;
  TBTree tree(table_->IndexFile(), this, slot.Slot, comparator, path);
  tree.UpdateIndexKey(oldKey, newKey, r);
}

void TDataCursor::RaiseKeyViolationError(const TSlotKeys& slot) const { Raise(TARN_KEYVIOL, {}, slot.IndexName); }

void TDataCursor::UpdateTextIndexEntries(const std::uint8_t* oldRecord, const std::uint8_t* newRecord) {
  // Record changes do not maintain the text index yet.
  (void)oldRecord;
  (void)newRecord;
}

// --- records under the write lock -------------------------------------------------------------

TRecord* TDataCursor::FetchRecord(std::int32_t r) {
  TDataFile& file = table_->DataFile();
  if (r < 1 || r > file.GetPhysicalRecordsUsed()) Raise(TARN_KEYORRECDELETED);
  for (int attempt = 0; attempt < kRecordAttempts; ++attempt) {
    TRecord* record = nullptr;
    if (file.GetRecord(this, r, record)) return record;
  }
  Raise(TARN_LOCKTIMEOUT);
}

std::vector<std::uint8_t> TDataCursor::ReadStoredRecord(std::int32_t r) {
  TRecordHold record(table_->DataFile(), FetchRecord(r));
  const std::uint8_t* bytes = record->GetRecordBufferPtr();
  return std::vector<std::uint8_t>(bytes, bytes + recordBufferSize_);
}

void TDataCursor::RefreshAfterChange(std::int32_t r, bool deleted, bool reposition) {
  // The cursor's own change is no change made elsewhere.
  SynchLastUpdateStamps();
  TCursorOperation operation(*this);
  if (bitmapNavigation_) {
    if (deleted) {
      DeleteRecordInBitmap(r);
    } else {
      UpdateRecordInBitmap(r, currentRecord_.data());
    }
  } else {
    UpdateRange();
  }
  if (!reposition) return;
  if (!deleted) {
    bof_ = eof_ = false;
    currentRecordNumber_ = r;
    currentIndexRecord_ = r;
  }
  RepositionCurrentRecord();
}

// --- append ---------------------------------------------------------------------------------

void TDataCursor::AppendRecord(std::uint8_t* record, const TPostOptions& options) {
  const bool reposition = options.Reposition;
  CheckNotReadOnly();
  CheckRecordValidity(record);
  TWriteLockScope scope(*table_);
  FollowChanges(scope.Changed());
  TDataFile& file = table_->DataFile();

  const std::int32_t r = file.GetNextFreeRecordNumber();
  const bool reused = r != file.Header().NextRecordNumber;  // a record from the free list
  UserWriteLockRecord(r);
  TRecordLockRelease recordLock(*this, lockedRecord_ == r ? r : 0);

  // The record as it will be stored: live, its number, its ID.
  std::vector<std::uint8_t> work(record, record + recordBufferSize_);
  std::int32_t id = LoadInt32(record + kRecordIdOffset);
  if (!suppressAutoIncValues_) {
    TDataHeader header = file.Header();
    id = GetNextFreeRecordID(header);
  }
  SetRecordHeader(work, kRecordLive, r, id);

  // Every check before the first change.
  const std::vector<TSlotKeys> slots = KeySlots();
  std::vector<std::vector<std::uint8_t>> keys;
  const bool checkKeys = !isResultSet_ || isSourceTable_;
  for (const TSlotKeys& slot : slots) {
    keys.push_back(SlotKey(slot, work.data()));
    if (checkKeys && CheckForKeyViolation(slot, keys.back().data())) RaiseKeyViolationError(slot);
  }
  const TSlotKeys deletedSlot = DeletedRecordsSlot();
  const std::vector<std::uint8_t> liveKey = SlotKey(deletedSlot, work.data());
  if (suppressAutoIncValues_ && CheckForKeyViolation(deletedSlot, liveKey.data())) RaiseKeyViolationError(deletedSlot);
  const std::vector<TOpenBlob*> blobs = CheckRecordBlobs(work.data(), r, nullptr);

  // The changes.
  TRecord* taken = nullptr;
  for (int attempt = 0; attempt < kRecordAttempts && taken == nullptr; ++attempt)
    if (!file.GetNextFreeRecord(this, taken)) taken = nullptr;
  if (taken == nullptr) Raise(TARN_LOCKTIMEOUT);
  TRecordHold stored(file, taken);
  if (stored->Number() != r) Raise(TARN_FILECORRUPT);
  const std::vector<std::uint8_t> old(stored->GetRecordBufferPtr(), stored->GetRecordBufferPtr() + recordBufferSize_);

  for (std::size_t i = 0; i < slots.size(); ++i) AddIndexKey(slots[i], keys[i].data(), r);
  if (reused) {
    UpdateIndexKey(deletedSlot, SlotKey(deletedSlot, old.data()).data(), liveKey.data(), r);
  } else {
    AddIndexKey(deletedSlot, liveKey.data(), r);
  }
  if (!suppressAutoIncValues_ || id > file.GetLastRecordID()) file.SetNextFreeRecordID(id);
  table_->SetActualRecordCount(table_->IndexFile().GetActualRecordCount() + 1);
  UpdateTextIndexEntries(nullptr, work.data());
  WriteRecordBlobs(work.data(), r, nullptr);
  stored->Initialize(false);
  stored->CopyRecordBuffer(work.data());
  stored->SetRecordID(id);
  const std::vector<std::uint8_t> written(stored->GetRecordBufferPtr(), stored->GetRecordBufferPtr() + recordBufferSize_);
  stored.Release();
  scope.Commit();

  // Committed: the cursor follows.
  ReleasePostedBlobs(written.data(), blobs);
  std::memcpy(currentRecord_.data(), written.data(), recordBufferSize_);
  if (hasCalculatedFields_) CalculateExpressionFields(currentRecord_.data());
  recordLock.Release();
  RefreshAfterChange(r, false, reposition);
}

// --- modify ---------------------------------------------------------------------------------

void TDataCursor::ModifyRecord(std::uint8_t* record, const TPostOptions& options) {
  const bool unlock = options.Unlock;
  const bool reposition = options.Reposition;
  CheckNotReadOnly();
  CheckRecordValidity(record);
  if (bof_ || eof_) Raise(TARN_NOCURRREC);
  const bool optimistic = directory_.Session().LockProtocol() == lpOptimistic;
  // The record the caller read: its number, its ID and (optimistic) its bytes.
  const std::int32_t r = GetPhysicalRecordNumber();
  if (r == 0) Raise(TARN_NOCURRREC);
  const std::vector<std::uint8_t> asRead = currentRecord_;
  const std::int32_t readID = LoadInt32(asRead.data() + kRecordIdOffset);

  TWriteLockScope scope(*table_);
  FollowChanges(scope.Changed());
  TDataFile& file = table_->DataFile();

  // Only the record the caller read is changed: still live, still the same ID.
  std::vector<std::uint8_t> old = ReadStoredRecord(r);
  if (RecordIsDeleted(old) || RecordIdOf(old) != readID) {
    if (optimistic) recordChanged_ = true;
    Raise(TARN_KEYORRECDELETED);
  }
  std::optional<TRecordLockRelease> recordLock;
  if (optimistic && !exclusive_) {
    std::vector<std::uint8_t> now = old;
    if (hasCalculatedFields_) CalculateExpressionFields(now.data());
    if (recordChanged_ || now != asRead) {
      recordChanged_ = true;
      Raise(TARN_KEYORRECDELETED);
    }
    UserWriteLockRecord(r);
    recordLock.emplace(*this, lockedRecord_ == r ? r : 0);
  }

  const std::int32_t id = suppressAutoIncValues_ ? LoadInt32(record + kRecordIdOffset) : RecordIdOf(old);
  std::vector<std::uint8_t> work(record, record + recordBufferSize_);
  SetRecordHeader(work, kRecordLive, r, id);

  // Every check before the first change: only keys that change are checked.
  const std::vector<TSlotKeys> slots = KeySlots();
  std::vector<std::vector<std::uint8_t>> oldKeys, newKeys;
  const bool checkKeys = !isResultSet_ || isSourceTable_;
  for (const TSlotKeys& slot : slots) {
    oldKeys.push_back(SlotKey(slot, old.data()));
    newKeys.push_back(SlotKey(slot, work.data()));
    if (checkKeys && oldKeys.back() != newKeys.back() && CheckForKeyViolation(slot, newKeys.back().data()))
      RaiseKeyViolationError(slot);
  }
  const TSlotKeys deletedSlot = DeletedRecordsSlot();
  const std::vector<std::uint8_t> oldLiveKey = SlotKey(deletedSlot, old.data());
  const std::vector<std::uint8_t> newLiveKey = SlotKey(deletedSlot, work.data());
  const bool idChanged = oldLiveKey != newLiveKey;
  if (idChanged && CheckForKeyViolation(deletedSlot, newLiveKey.data())) RaiseKeyViolationError(deletedSlot);
  const std::vector<TOpenBlob*> blobs = CheckRecordBlobs(work.data(), r, old.data());

  // The changes.
  TRecordHold stored(file, FetchRecord(r));
  for (std::size_t i = 0; i < slots.size(); ++i)
    if (oldKeys[i] != newKeys[i]) UpdateIndexKey(slots[i], oldKeys[i].data(), newKeys[i].data(), r);
  if (idChanged) UpdateIndexKey(deletedSlot, oldLiveKey.data(), newLiveKey.data(), r);
  if (suppressAutoIncValues_ && id > file.GetLastRecordID()) file.SetNextFreeRecordID(id);
  UpdateTextIndexEntries(old.data(), work.data());
  WriteRecordBlobs(work.data(), r, old.data());
  stored->CopyRecordBuffer(work.data());
  stored->SetRecordID(id);
  const std::vector<std::uint8_t> written(stored->GetRecordBufferPtr(), stored->GetRecordBufferPtr() + recordBufferSize_);
  stored.Release();
  scope.Commit();

  ReleasePostedBlobs(written.data(), blobs);
  std::memcpy(currentRecord_.data(), written.data(), recordBufferSize_);
  if (hasCalculatedFields_) CalculateExpressionFields(currentRecord_.data());
  if (recordLock) recordLock->Release();
  if (unlock && !optimistic && table_->CheckForCursorRecordWriteLock(r)) UserWriteUnlockRecord(r);
  RefreshAfterChange(r, false, reposition);
}

// --- delete ---------------------------------------------------------------------------------

void TDataCursor::DeleteRecord(std::uint8_t* record, const TPostOptions& options) {
  const bool reposition = options.Reposition;
  CheckNotReadOnly();
  if (bof_ || eof_) Raise(TARN_NOCURRREC);
  const std::int32_t r = GetPhysicalRecordNumber();
  if (r == 0) Raise(TARN_NOCURRREC);
  TWriteLockScope scope(*table_);
  FollowChanges(scope.Changed());
  TDataFile& file = table_->DataFile();

  std::vector<std::uint8_t> old = ReadStoredRecord(r);
  if (RecordIsDeleted(old)) Raise(TARN_KEYORRECDELETED);
  std::optional<TRecordLockRelease> recordLock;
  if (table_->CheckForCursorRecordWriteLock(r)) {
    // Locked by a cursor of this process: only this cursor may go on.
    if (lockedRecord_ != r) Raise(TARN_RECLOCKFAILED);
    recordLock.emplace(*this, r);
  } else {
    if (!exclusive_) {
      std::vector<std::uint8_t> now = old;
      if (hasCalculatedFields_) CalculateExpressionFields(now.data());
      if (record == nullptr || std::memcmp(record, now.data(), recordBufferSize_) != 0) Raise(TARN_KEYORRECDELETED);
    }
    UserWriteLockRecord(r);
    recordLock.emplace(*this, lockedRecord_ == r ? r : 0);
  }

  const std::vector<TSlotKeys> slots = KeySlots();
  const TSlotKeys deletedSlot = DeletedRecordsSlot();
  const std::vector<std::uint8_t> liveKey = SlotKey(deletedSlot, old.data());

  TRecordHold stored(file, FetchRecord(r));
  for (const TSlotKeys& slot : slots) RemoveIndexKey(slot, SlotKey(slot, old.data()).data());
  table_->SetActualRecordCount(table_->IndexFile().GetActualRecordCount() - 1);
  UpdateTextIndexEntries(old.data(), nullptr);
  FreeRemovedBlobs(stored->GetRecordBufferPtr(), r);
  file.SetNextFreeRecord(*stored);
  UpdateIndexKey(deletedSlot, liveKey.data(), SlotKey(deletedSlot, stored->GetRecordBufferPtr()).data(), r);
  stored.Release();
  scope.Commit();

  if (recordLock) recordLock->Release();
  RefreshAfterChange(r, true, reposition);
}

void TDataCursor::CancelRecord() {
  if (directory_.Session().LockProtocol() == lpOptimistic) {
    recordChanged_ = false;
    return;
  }
  if (table_ == nullptr) return;
  const std::int32_t r = lockedRecord_ != 0 ? lockedRecord_ : GetPhysicalRecordNumber();
  if (r > 0 && table_->CheckForCursorRecordWriteLock(r)) UserWriteUnlockRecord(r);
}

void TDataCursor::SetSuppressAutoIncValues(bool value) noexcept {
  suppressAutoIncValues_ = value && hasAutoIncField_;
}

// --- record and table locks ---------------------------------------------------------------------

void TDataCursor::UserWriteLockRecord(std::int32_t r) {
  if (exclusive_ || noLocking_) return;
  if (r == 0) r = GetPhysicalRecordNumber();
  if (r <= 0) Raise(TARN_NOCURRREC);
  if (table_->CheckForCursorRecordWriteLock(r)) Raise(TARN_RECLOCKFAILED);
  // The operation gives back the read lock the record lock takes for its
  // change detection, also when the record lock is refused.
  TCursorOperation operation(*this);
  const bool changed = table_->UserWriteLockRecord(r);
  table_->AddCursorRecordWriteLock(r);
  lockedRecord_ = r;
  FollowChanges(changed);
}

void TDataCursor::UserWriteUnlockRecord(std::int32_t r) {
  if (r == 0) r = lockedRecord_ != 0 ? lockedRecord_ : GetPhysicalRecordNumber();
  if (r <= 0) return;
  table_->RemoveCursorRecordWriteLock(r);
  if (lockedRecord_ == r) lockedRecord_ = 0;
  if (exclusive_ || noLocking_) return;
  table_->UserWriteUnlockRecord(r);
}

void TDataCursor::UserWriteLockTable() {
  if (exclusive_ || noLocking_) return;
  const bool changed = table_->UserWriteLockTable();
  TCursorOperation operation(*this);
  FollowChanges(changed);
}

void TDataCursor::UserWriteUnlockTable() {
  if (exclusive_ || noLocking_) return;
  table_->UserWriteUnlockTable();
}

void TDataCursor::UserReadLockTable() {
  if (exclusive_ || noLocking_) return;
  const bool changed = table_->UserReadLockTable();
  TCursorOperation operation(*this);
  FollowChanges(changed);
}

void TDataCursor::UserReadUnlockTable() {
  if (exclusive_ || noLocking_) return;
  table_->UserReadUnlockTable();
}

void TDataCursor::WriteLockTable() {
  if (exclusive_ || noLocking_) return;
  const bool changed = table_->WriteLockTable();
  try {
    TCursorOperation operation(*this);
    FollowChanges(changed);
  } catch (...) {
    try {
      table_->WriteUnlockTable();
    } catch (...) {
    }
    throw;
  }
}

void TDataCursor::WriteUnlockTable() {
  if (exclusive_ || noLocking_) return;
  table_->WriteUnlockTable();
}

bool TDataCursor::RecordIsLocked() { return table_->RecordIsLocked(GetPhysicalRecordNumber()); }

bool TDataCursor::TableIsLocked() const { return table_->TableIsLocked(); }

bool TDataCursor::UserLockSemaphore(std::int32_t semaphore) { return table_->UserLockSemaphore(semaphore); }

bool TDataCursor::UserUnlockSemaphore(std::int32_t semaphore) { return table_->UserUnlockSemaphore(semaphore); }

bool TDataCursor::TransactionInProgress() const { return table_->GetTransactionInProgress(); }

// --- flushing ---------------------------------------------------------------------------------

void TDataCursor::FlushBuffers(const TFlushChanges& changes) {
  if (!exclusive_ || changes.Force) {
    TFlushOptions options;
    options.AdjustCaches = changes.ShrinkCaches;
    options.ForceDataHeader = changes.DataChanged;
    options.ForceIndexHeader = changes.IndexChanged;
    options.ForceBlobHeader = changes.BlobChanged;
    table_->FlushBuffers(options);
  } else {
    table_->UpdateHeaderStamps(changes.DataChanged, changes.IndexChanged, changes.BlobChanged);
  }
  SynchLastUpdateStamps();
}

void TDataCursor::FlushOSBuffers() { table_->FlushOSBuffers(); }

}  // namespace tarn
