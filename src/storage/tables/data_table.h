// TDataTable: one open table of one session's database directory, shared by that
// session's cursors. It owns the table's data, index and BLOB file handlers with
// their caches; takes every lock the engine uses on a table (internal read and
// write locks, the transaction lock, user record, table and semaphore locks);
// detects changes made elsewhere through the header stamps; flushes; runs the
// table's part of transactions; and streams in-memory tables to and from an image.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "storage/blobs/blob_file.h"
#include "storage/records/data_file.h"
#include "storage/records/records_bitmap.h"
#include "storage/formats/field_definition.h"
#include "storage/formats/index_definition.h"
#include "storage/btree/index_file.h"
#include "storage/files/lock_map.h"
#include "storage/files/table_link.h"
#include "storage/tables/flush_journal.h"
#include "storage/tables/table_owner.h"

namespace tarn {

// Everything a new table is made of.
struct TTableDefinition {
  std::uint16_t LanguageID = 0;
  std::uint16_t SortID = 0;
  std::uint16_t UserMajorVersion = 0;
  std::uint16_t UserMinorVersion = 0;
  bool Encrypted = false;
  std::string Password;
  std::string Description;
  std::int32_t BlobBlockSize = 512;
  std::vector<TFieldDefinition> Fields;
  // Slot 0 (a definition without key fields: no primary index), then the secondary
  // indexes in slot order.
  std::vector<TIndexDefinition> Indexes;
  // Slot 32, the text index, when the table has one.
  bool HasTextIndex = false;
  TIndexDefinition TextIndex{};
};

// What a flush does beyond writing the dirty buffers of the three files, each
// with its header (and a new stamp) when anything of the file was written.
struct TFlushOptions {
  bool AdjustCaches = false;      // shrink each cache to its configured size afterwards
  bool ForceDataHeader = false;   // write the data header even when nothing else of the file was
  bool ForceOSFlush = false;      // flush the operating system's buffers of the files written
  bool ForceBlobHeader = false;   // as ForceDataHeader, for the BLOB file
  bool ForceIndexHeader = false;  // as ForceDataHeader, for the index file
};

// How cached buffers are dropped.
struct TFreeOptions {
  bool AdjustCaches = false;   // shrink each cache to its configured size
  bool RereadHeaders = false;  // read every header again: the cached ones may hold a dropped change
};

// How a transaction commit ends.
struct TCommitOptions {
  bool EndTransaction = false;  // otherwise an interim commit: the transaction goes on
  bool ForceFlush = false;      // also flush the operating system's buffers
};

class TDataTable final : public TTableLink {
 public:
  explicit TDataTable(TTableOwner& owner);
  ~TDataTable() override;
  TDataTable(const TDataTable&) = delete;
  TDataTable& operator=(const TDataTable&) = delete;

  // --- life cycle ---------------------------------------------------------
  void SetTableName(const std::string& name);
  const std::string& TableName() const noexcept { return tableName_; }
  void SetExclusive(bool value) noexcept { exclusive_ = value; }
  bool Exclusive() const noexcept { return exclusive_; }
  void SetInMemory(bool value) noexcept { inMemory_ = value; }
  bool InMemory() const noexcept { return inMemory_; }
  void SetIsTemporary(bool value) noexcept { temporary_ = value; }
  bool Temporary() const noexcept { return temporary_; }
  // A temporary table held exclusively (an SQL result table) is seen by its
  // own cursor only and goes at its last close: a change to it stays in the
  // caches (written when they need room, at any time, or before a sort reads
  // the file) instead of being flushed with its headers at once, and a change
  // that fails is not undone by dropping the caches, which hold the changes
  // before it.
  bool KeepsChangesCached() const noexcept { return temporary_ && exclusive_; }
  bool ReadOnly() const noexcept { return readOnly_; }
  bool ReadOnlyMedia() const noexcept { return readOnlyMedia_; }
  bool IsOpen() const noexcept { return open_; }
  bool IndexRecreated() const noexcept { return indexRecreated_; }
  bool Changed() const noexcept { return changed_; }
  TTableOwner& Owner() const noexcept { return owner_; }

  void IncUseCount() noexcept { ++useCount_; }
  void DecUseCount() noexcept {
    if (useCount_ > 0) --useCount_;
  }
  std::uint16_t UseCount() const noexcept { return useCount_; }
  void IncClientUseCount() noexcept { ++clientUseCount_; }
  void DecClientUseCount() noexcept {
    if (clientUseCount_ > 0) --clientUseCount_;
  }
  std::uint16_t ClientUseCount() const noexcept { return clientUseCount_; }

  void OpenTable();
  void CloseTable(bool discardTemporary);
  void CreateTable(const TTableDefinition& definition);
  void DeleteTable();
  void RenameTable(const std::string& newName, bool asBackup);
  void EmptyTable();
  void AssignTableParams();

  // --- headers and files --------------------------------------------------
  void CheckHeaderVersions();
  void CheckHeaders();
  TDataFile& DataFile() noexcept { return *dataFile_; }
  TIndexFile& IndexFile() noexcept { return *indexFile_; }
  // The BLOB file, open only when the table has BLOB fields.
  TBlobFile& BlobFile() noexcept { return *blobFile_; }
  bool HasBlobFile() const noexcept { return blobFile_->IsOpen(); }
  std::string DataFileName() const;
  std::string IndexFileName() const;
  std::string BlobFileName() const;

  // --- locks ----------------------------------------------------------------
  // Lock operations answer whether change detection found changes made elsewhere.
  bool ReadLockTable();
  void ReadUnlockTable();
  bool WriteLockTable();
  void WriteUnlockTable();
  bool TransactionWriteLockTable();
  void TransactionWriteUnlockTable();
  bool UserReadLockTable();
  void UserReadUnlockTable();
  bool UserWriteLockTable();
  void UserWriteUnlockTable();
  bool UserWriteLockRecord(std::int32_t n);
  void UserWriteUnlockRecord(std::int32_t n);
  bool UserLockSemaphore(std::int32_t s);
  bool UserUnlockSemaphore(std::int32_t s);
  void WriteUnlockAllRecords(bool onlyReleased);
  bool TableIsLocked() const noexcept { return userTableLocked_; }
  bool RecordIsLocked(std::int32_t n);

  bool InternalReadLocked() const noexcept { return internalReadLocked_; }
  bool InternalWriteLocked() const noexcept { return internalWriteLocked_; }
  bool UserReadLocked() const noexcept { return userReadLocked_; }
  bool HoldsRecordLock(std::int32_t n) const noexcept { return heldRecordLocks_.IsBitSet(n); }
  // Record locks this table holds, and of those the ones to release when the
  // transaction ends.
  std::int32_t HeldRecordLockCount() const noexcept { return heldRecordLocks_.GetTotalBitsSet(); }
  std::int32_t RecordsToReleaseCount() const noexcept { return recordsToRelease_.GetTotalBitsSet(); }

  // Record-lock bookkeeping of the cursors.
  void AddRecordWriteLock(std::int32_t n) { IncludeRecord(heldRecordLocks_, n); }
  void RemoveRecordWriteLock(std::int32_t n) noexcept { heldRecordLocks_.ClearBit(n); }
  bool CheckForRecordWriteLock(std::int32_t n) const noexcept { return heldRecordLocks_.IsBitSet(n); }
  void AddCursorRecordWriteLock(std::int32_t n) { IncludeRecord(cursorRecordLocks_, n); }
  void RemoveCursorRecordWriteLock(std::int32_t n) noexcept { cursorRecordLocks_.ClearBit(n); }
  bool CheckForCursorRecordWriteLock(std::int32_t n) const noexcept { return cursorRecordLocks_.IsBitSet(n); }
  std::int32_t CursorRecordLockCount() const noexcept { return cursorRecordLocks_.GetTotalBitsSet(); }

  // Tests replace the pause between lock attempts.
  void SetLockMap(const TLockMap& map) { lockMap_ = map; }

  // --- change detection -----------------------------------------------------
  bool PerformChangeDetection();
  void UpdateHeaderStamps(bool data, bool index, bool blob);

  // --- transactions ---------------------------------------------------------
  void StartTransaction();
  void RollbackTransaction();
  void BeginCommitTransaction();
  void CommitTransaction(const TCommitOptions& options);
  // The commit step over several tables at once: one journaled flush across all
  // of them, so a commit interrupted part-way is rolled back in every table.
  static void CommitTransactions(std::span<TDataTable* const> tables, const TCommitOptions& options);
  void EndCommitTransaction(bool endTransaction);
  bool GetTransactionInProgress() const noexcept { return transactionInProgress_; }
  // A change is under way from BeginChange to the matching EndChange (the write
  // lock scope calls both, also for exclusive tables, which take no write lock):
  // until it ends, the caches keep its dirty buffers and grow instead of writing.
  void BeginChange() noexcept { ++openChanges_; }
  void EndChange() noexcept {
    if (openChanges_ > 0) --openChanges_;
  }
  // After a failed commit: drops every cache and re-reads the headers, so no buffer
  // of the transaction outlives it.
  void DiscardUncommittedChanges();

  // --- change journal ---------------------------------------------------------
  // While a change writes, the three files keep what each write overwrites, so
  // that a change that fails part-way (an I/O error, a full disk, a short write)
  // is undone on disk before its lock is released. Rollback answers false when
  // a file could not be restored; it never raises.
  void BeginChangeJournal();
  void EndChangeJournal() noexcept;
  bool RollbackChangeJournal() noexcept;
  bool ChangeJournalOpen() const noexcept { return dataFile_->JournalOpen(); }

  // --- flushing ---------------------------------------------------------------
  void FlushBuffers(const TFlushOptions& options = {});
  // A journaled flush of several tables at once (the commit of a transaction):
  // every table's writes are staged, every journal is written, then the files,
  // then the journals go. Tables whose flush is not journaled are flushed as usual.
  static void FlushJournaled(std::span<TDataTable* const> tables, const TFlushOptions& options);
  // The rollback journal's path, and whether this table's flushes keep one.
  std::string JournalFileName() const;
  bool JournalsFlushes() const;
  void FreeBuffers(const TFreeOptions& options);
  void FlushOSBuffers();

  // --- index backup -----------------------------------------------------------
  void InternalBackupIndex();
  void InternalRestoreIndex(bool skipCopy, bool deleteBackup);

  // --- in-memory table image ------------------------------------------------
  void BeginBufferLoad();
  std::int64_t LoadFromBuffer(void* dest, std::int64_t offset, std::int64_t count);
  void EndBufferLoad();
  void BeginBufferSave();
  std::int64_t SaveToBuffer(const void* source, std::int64_t offset, std::int64_t count);
  void EndBufferSave();
  std::int64_t GetBufferSize() const noexcept;
  void ResizeMemoryBuffer(std::int64_t size);

  // --- statistics -------------------------------------------------------------
  std::uint32_t GetDataRecordCacheHits() const { return dataFile_->Statistics().Hits; }
  std::uint32_t GetDataRecordCacheMisses() const { return dataFile_->Statistics().Misses; }
  std::uint32_t GetDataRecordReads() const { return dataFile_->Statistics().Reads; }
  std::uint32_t GetDataRecordWrites() const { return dataFile_->Statistics().Writes; }
  std::int64_t GetIndexPageCacheHits() const { return indexFile_->Statistics().CacheHits; }
  std::int64_t GetIndexPageCacheMisses() const { return indexFile_->Statistics().CacheMisses; }
  std::int64_t GetIndexPageReads() const { return indexFile_->Statistics().Reads; }
  std::int64_t GetIndexPageWrites() const { return indexFile_->Statistics().Writes; }
  std::uint32_t GetBlobBlockCacheHits() const { return blobFile_->Statistics().Hits; }
  std::uint32_t GetBlobBlockCacheMisses() const { return blobFile_->Statistics().Misses; }
  std::uint32_t GetBlobBlockReads() const { return blobFile_->Statistics().Reads; }
  std::uint32_t GetBlobBlockWrites() const { return blobFile_->Statistics().Writes; }
  std::int32_t GetPhysicalRecordsUsed() const { return dataFile_->GetPhysicalRecordsUsed(); }
  std::int32_t GetPhysicalPagesUsed() const { return indexFile_->GetPhysicalPagesUsed(); }
  std::int32_t GetPhysicalBlocksUsed() const;
  std::uint64_t GetDataFileSize() const { return dataFile_->GetFileSize(); }
  std::uint64_t GetIndexFileSize() const { return tarn::GetIndexFileSize(indexFile_->Header()); }
  std::uint64_t GetBlobFileSize() const;

  // --- TTableLink ------------------------------------------------------------
  bool StrictChangeDetection() const override { return owner_.StrictChangeDetection(); }
  bool TransactionLocked() const override { return transactionLocked_; }
  bool MayWriteToMakeRoom() const override {
    return !transactionLocked_ && (KeepsChangesCached() || (!internalWriteLocked_ && openChanges_ == 0));
  }
  bool ShortReadsAllowed() const override;
  bool HasPrimaryIndex() const override;
  void MarkTableChanged() override { changed_ = true; }
  bool ForceBufferFlush() const override { return owner_.ForceBufferFlush(); }
  std::string PrivateDirectory() const override { return owner_.PrivateDirectory(); }
  void SetActualRecordCount(std::int32_t count) override;

 private:
  TLockRetry UserRetry() const { return TLockRetry{owner_.LockRetries(), owner_.LockWait()}; }
  bool LocksSkipped() const noexcept { return exclusive_ || readOnlyMedia_; }
  // A read lock's reader tokens on the index file and (when open) the BLOB file;
  // taking them is all or nothing. Releasing answers false when an unlock failed.
  void TakeReaderTokens(std::uint16_t& indexToken, std::uint16_t& blobToken);
  bool ReleaseReaderTokens(std::uint16_t& indexToken, std::uint16_t& blobToken);
  // Checks rules R1-R5 of the lock states (see the members); nothing in builds
  // with NDEBUG.
  void CheckLockStates() const noexcept;
  [[noreturn]] void Raise(TarnErrorCode code) const;
  // Change detection for a lock just taken; when it fails, release gives the lock
  // back before the error goes on.
  bool DetectChangesUnder(const std::function<void()>& release);
  bool CompareHeaderStamps();
  void DropAllCaches() noexcept;
  // After a failed header read: drops every cache and reads every header again.
  void RefreshStaleHeaders();
  void CloseFiles() noexcept;
  // Writes the dirty buffers and headers (staged when the files stage); answers
  // per file whether anything of it was written.
  std::array<bool, 3> WriteBuffers(const TFlushOptions& options);
  void BeginStaging() noexcept;
  bool HasStagedWrites() const noexcept;
  void EndStaging() noexcept;
  // Rolls back a journal a dead writer left (true: the files changed, every
  // cache was dropped and the headers read again).
  bool RecoverJournal();
  // The same before the table's own files are open, through plain handlers.
  void RecoverJournalBeforeOpen();
  void ShareEncryption();
  std::string FilePath(const char* extension) const;
  // Sets record n (n >= 1) in a record-lock bitmap, first growing it to cover n
  // and the table's physical records + 1. The bitmaps never shrink while open,
  // so no held lock is forgotten when the table shrinks.
  void IncludeRecord(TRecordsBitmap& bitmap, std::int32_t n);

  TTableOwner& owner_;
  std::string tableName_;
  std::uint16_t useCount_ = 0;
  std::uint16_t clientUseCount_ = 0;
  bool open_ = false;
  bool exclusive_ = false;
  bool readOnly_ = false;
  bool readOnlyMedia_ = false;
  bool inMemory_ = false;
  bool temporary_ = false;
  bool indexRecreated_ = false;
  bool changed_ = false;
  bool headersStale_ = false;  // a header read failed: caches and headers are re-read first

  std::unique_ptr<TDataFile> dataFile_;
  std::unique_ptr<TIndexFile> indexFile_;
  std::unique_ptr<TBlobFile> blobFile_;
  TLockMap lockMap_;
  TUniqueFd journalFile_;  // the rollback journal, opened at the first journaled flush

  // --- lock states ------------------------------------------------------------
  // The byte locks this table holds on its files for its own session (another
  // session of this process has its own table object and counts as another user;
  // the byte offsets are the lock map's):
  //
  //   internal read lock   internalReadLocked_ with the reader tokens
  //                        internalIndexToken_ (index file) and internalBlobToken_
  //                        (BLOB file, when open). Keeps writers out while caches
  //                        are read; taken by read scopes and cache misses.
  //   internal write lock  internalWriteLocked_: the index and BLOB writer ranges and
  //                        the data write byte (unless the transaction lock holds
  //                        that byte already). Held for one change or one commit.
  //   transaction lock     transactionLocked_: the data write byte from the start of
  //                        a transaction to its end (no byte for an exclusive table);
  //                        tableLockedBeforeTransaction_ says whether the user table
  //                        lock was already held when it was taken.
  //   user read lock       userReadLocked_ with the reader tokens userIndexToken_ and
  //                        userBlobToken_.
  //   user table lock      userTableLocked_: the range over every record-lock byte.
  //   user record locks    heldRecordLocks_: record-lock bytes held;
  //                        recordsToRelease_: of those, the ones unlocked during the
  //                        transaction, released when it ends. cursorRecordLocks_ is
  //                        the cursors' own bookkeeping and holds no byte.
  //
  // Rules between them (R1-R5 are checked by CheckLockStates in builds without
  // NDEBUG, after every lock operation):
  //   R1 A reader token is non-zero exactly while its read lock is held.
  //   R2 The internal and the user read lock are never held together: each is
  //      skipped while the other is held.
  //   R3 No read lock is held together with the internal write lock: the reader
  //      tokens lie inside the writer ranges, so a read lock is skipped under the
  //      write lock and a change leaves its read lock before taking the write lock.
  //   R4 An exclusive table or one on read-only media holds no byte lock: the read,
  //      write and user table lock states stay clear (a transaction is then only a
  //      state, without its byte).
  //   R5 A closed table holds no lock.
  //   R6 Change detection runs whenever a read, write (outside a transaction),
  //      transaction or user table lock is taken, before the caches are used.
  //   R7 Under the transaction lock nothing is written and record unlocks are
  //      deferred to the transaction's end (recordsToRelease_).
  //   R8 Every operation that takes a lock releases it on every path; closing
  //      releases every lock whatever one release met.
  // Records bitmaps, with room for 8,192 records to start with.
  static constexpr std::int32_t kInitialLockBitmapBits = 8192;
  TRecordsBitmap heldRecordLocks_{kInitialLockBitmapBits};
  TRecordsBitmap cursorRecordLocks_{kInitialLockBitmapBits};
  TRecordsBitmap recordsToRelease_{kInitialLockBitmapBits};
  bool userReadLocked_ = false;
  bool userTableLocked_ = false;
  bool internalReadLocked_ = false;
  bool internalWriteLocked_ = false;
  bool transactionLocked_ = false;
  bool tableLockedBeforeTransaction_ = false;
  std::uint16_t internalIndexToken_ = 0;
  std::uint16_t internalBlobToken_ = 0;
  std::uint16_t userIndexToken_ = 0;
  std::uint16_t userBlobToken_ = 0;
  bool transactionInProgress_ = false;
  std::uint32_t openChanges_ = 0;

  std::vector<std::uint8_t> image_;
  bool imageLoading_ = false;
  bool imageSaving_ = false;
};

// Holds the table's internal read lock for a scope: whatever read lock was taken
// inside the scope (by the scope itself or by a cache miss) is released at its end,
// and a lock an outer scope holds is left alone.
class TReadLockScope {
 public:
  explicit TReadLockScope(TDataTable& table) : table_(table), held_(table.InternalReadLocked()) {
    changed_ = table_.ReadLockTable();
  }
  ~TReadLockScope() {
    if (!held_ && table_.InternalReadLocked()) {
      try {
        table_.ReadUnlockTable();
      } catch (...) {
        // An unlock refused by the OS leaves nothing to undo here.
      }
    }
  }
  TReadLockScope(const TReadLockScope&) = delete;
  TReadLockScope& operator=(const TReadLockScope&) = delete;
  bool Changed() const noexcept { return changed_; }

 private:
  TDataTable& table_;
  bool held_;
  bool changed_ = false;
};

// Holds the table's internal write lock for one change. Commit() writes the change
// (headers with new stamps included) while the lock is held, on exclusive tables
// too; inside a transaction it only marks the table changed, the commit of the
// transaction writes. The outermost scope keeps a change journal: a scope left
// without a successful Commit() (a failed change, or a write that failed) undoes
// on disk whatever the change wrote, drops every cached buffer and re-reads the
// headers, so nothing of the failed change stays on disk or in the caches. The
// lock is released only when this scope took it.
class TWriteLockScope {
 public:
  explicit TWriteLockScope(TDataTable& table);
  ~TWriteLockScope();
  TWriteLockScope(const TWriteLockScope&) = delete;
  TWriteLockScope& operator=(const TWriteLockScope&) = delete;
  bool Changed() const noexcept { return changed_; }
  void Commit();

 private:
  TDataTable& table_;
  bool took_;
  bool journaled_ = false;
  bool changed_ = false;
  bool committed_ = false;
};

}  // namespace tarn
