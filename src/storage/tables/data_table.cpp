// The shared table: file life cycle, the lock protocol on the lock map, change
// detection through header stamps, flushing, transactions, index backup and the
// in-memory table image.
#include "storage/tables/data_table.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <stdexcept>

#include "core/errors.h"
#include "core/invariant.h"
#include "platform/code_page.h"
#include "platform/file_system.h"
#include "storage/formats/byte_codec.h"
#include "storage/formats/check_header.h"
#include "storage/files/file_list.h"
#include "storage/files/temp_file.h"

namespace tarn {
namespace {

constexpr std::int64_t kImageStep = 4096;

// The name with `extension` ensured: a name ending in ".DAT" (any case) has it
// replaced, a name without an extension gets it appended.
std::string WithExtension(const std::string& name, const char* extension) {
  std::string base = name;
  if (base.size() >= 4 && AnsiSameText(std::string_view(base).substr(base.size() - 4), ".DAT"))
    base.resize(base.size() - 4);
  auto slash = base.rfind('/');
  auto dot = base.rfind('.');
  if (dot != std::string::npos && (slash == std::string::npos || dot > slash) && !AnsiSameText(extension, ".DAT") &&
      base.size() - dot == 4 && AnsiSameText(std::string_view(base).substr(dot), extension))
    return base;
  return base + extension;
}

// The renames of one table operation: unless kept, they are undone in reverse order
// when the operation leaves, so a failure part-way puts every file back.
class TRenameSet {
 public:
  explicit TRenameSet(bool inMemory) : inMemory_(inMemory) {}
  TRenameSet(const TRenameSet&) = delete;
  TRenameSet& operator=(const TRenameSet&) = delete;
  ~TRenameSet() {
    for (auto it = done_.rbegin(); it != done_.rend(); ++it)
      (void)TFileList::Instance().RenameFile(it->second, inMemory_, it->first);
  }

  // Renames from to to; 0 or the negative engine code.
  std::int32_t Move(const std::string& from, const std::string& to) {
    const std::int32_t result = TFileList::Instance().RenameFile(from, inMemory_, to);
    if (result == 0) done_.emplace_back(from, to);
    return result;
  }
  // Moves name to a free temporary name in its directory, answered in aside; 0 or
  // the negative engine code. A name taken between the choice and the rename is
  // passed over.
  std::int32_t MoveAside(const std::string& name, std::string& aside) {
    const auto slash = name.rfind('/');
    const std::string directory = slash == std::string::npos ? std::string() : name.substr(0, slash + 1);
    std::int32_t result = -TARN_TABLEEXISTS;
    for (int attempt = 0; attempt < 100 && result == -TARN_TABLEEXISTS; ++attempt) {
      aside = GetTempFileName(directory, ".~TA", inMemory_);
      result = Move(name, aside);
    }
    return result;
  }
  // The operation succeeded: nothing is undone.
  void Keep() noexcept { done_.clear(); }

 private:
  bool inMemory_;
  std::vector<std::pair<std::string, std::string>> done_;
};

}  // namespace

TDataTable::TDataTable(TTableOwner& owner)
    : owner_(owner),
      dataFile_(std::make_unique<TDataFile>()),
      indexFile_(std::make_unique<TIndexFile>()),
      blobFile_(std::make_unique<TBlobFile>()) {
  dataFile_->SetTableLink(this);
  indexFile_->SetTableLink(this);
  blobFile_->SetTableLink(this);
}

TDataTable::~TDataTable() {
  if (!open_) return;
  try {
    useCount_ = 1;
    transactionInProgress_ = false;
    CloseTable(false);
  } catch (...) {
    // Destruction cannot report; the files are closed by their handlers.
  }
}

void TDataTable::Raise(TarnErrorCode code) const {
  RaiseError(code, {}, {}, owner_.DirectoryPath(), tableName_);
}

void TDataTable::SetTableName(const std::string& name) { tableName_ = CutToLength(name, 255); }

std::string TDataTable::FilePath(const char* extension) const {
  return WithExtension(owner_.DirectoryPath() + tableName_, extension);
}
std::string TDataTable::DataFileName() const { return FilePath(".DAT"); }
std::string TDataTable::IndexFileName() const { return FilePath(".IDX"); }
std::string TDataTable::BlobFileName() const { return FilePath(".BLB"); }

void TDataTable::ShareEncryption() {
  // The index and BLOB files are scrambled exactly when the data header says so.
  indexFile_->SetEncrypted(dataFile_->GetEncrypted());
  blobFile_->SetEncrypted(dataFile_->GetEncrypted());
}

void TDataTable::AssignTableParams() {
  TFileHandler* handlers[] = {dataFile_.get(), indexFile_.get(), blobFile_.get()};
  const std::string names[] = {DataFileName(), IndexFileName(), BlobFileName()};
  for (int i = 0; i < 3; ++i) {
    handlers[i]->SetFileName(names[i]);
    handlers[i]->SetExclusive(exclusive_);
    handlers[i]->SetInMemory(inMemory_);
    handlers[i]->SetTemporary(temporary_);
  }
  dataFile_->SetContextNames(tableName_, owner_.DirectoryPath());
  blobFile_->SetContextNames(tableName_, owner_.DirectoryPath());
}

// --- life cycle ---------------------------------------------------------------

void TDataTable::OpenTable() {
  IncUseCount();
  if (open_) return;
  open_ = true;
  AssignTableParams();
  try {
    RecoverJournalBeforeOpen();
    dataFile_->OpenFile();
    ShareEncryption();
    try {
      indexFile_->OpenFile();
    } catch (const ETarnEngineError& e) {
      if (e.ErrorCode() != TARN_OSENOENT) throw;
      // A lost index file is recreated empty; the cursor rebuilds what it needs.
      indexRecreated_ = true;
      indexFile_->CreateFile();
      try {
        // Until its indexes are added again the table has no primary index;
        // the header says so from the start.
        indexFile_->SetNoPrimaryIndex(true);
        indexFile_->WriteHeader(true);
        indexFile_->CloseFile();
      } catch (...) {
        // A new index file whose header did not reach the disk would stop
        // every later open: it goes, and the next open makes it again.
        indexFile_->CloseFile();
        try {
          indexFile_->DeleteFile();
        } catch (const ETarnEngineError&) {
          // The open still reports the write that failed.
        }
        throw;
      }
      indexFile_->SetExclusive(exclusive_);
      indexFile_->OpenFile();
    }
    if (dataFile_->GetBlobFieldCount() > 0) {
      blobFile_->SetBlockSize(dataFile_->GetBlobBlockSize());
      blobFile_->OpenFile();
    }
  } catch (...) {
    CloseFiles();
    open_ = false;
    indexRecreated_ = false;
    DecUseCount();
    throw;
  }
  readOnlyMedia_ = dataFile_->ReadOnlyMedia() || indexFile_->ReadOnlyMedia() ||
                   (blobFile_->IsOpen() && blobFile_->ReadOnlyMedia());
  readOnly_ = readOnlyMedia_ || dataFile_->OpenedReadOnly() || indexFile_->OpenedReadOnly() ||
              (blobFile_->IsOpen() && blobFile_->OpenedReadOnly());
  internalIndexToken_ = internalBlobToken_ = userIndexToken_ = userBlobToken_ = 0;
}

void TDataTable::CloseFiles() noexcept {
  journalFile_.Reset();
  for (TFileHandler* handler : {static_cast<TFileHandler*>(indexFile_.get()),
                                static_cast<TFileHandler*>(blobFile_.get()), static_cast<TFileHandler*>(dataFile_.get())}) {
    try {
      if (handler->IsOpen()) handler->CloseFile();
    } catch (...) {
      // Closing goes on with the other files.
    }
  }
}

void TDataTable::CloseTable(bool discardTemporary) {
  if (!open_) return;
  DecUseCount();
  if (useCount_ > 0 || transactionInProgress_) return;
  if (transactionLocked_) {
    try {
      RollbackTransaction();
    } catch (...) {
      // Closing goes on whatever the rollback met.
    }
  }
  std::exception_ptr failure;
  if (exclusive_ && !readOnly_) {
    try {
      if (temporary_ && discardTemporary) {
        FreeBuffers({.AdjustCaches = true});
      } else {
        FlushBuffers({.AdjustCaches = true});
      }
    } catch (...) {
      failure = std::current_exception();
    }
  }
  // Every lock this table holds goes, whatever the flush or another release met;
  // the first failure is raised once all were tried.
  const auto attempt = [&failure](const auto& release) {
    try {
      release();
    } catch (...) {
      if (!failure) failure = std::current_exception();
    }
  };
  attempt([this] {
    if (userTableLocked_) UserWriteUnlockTable();
  });
  WriteUnlockAllRecords(false);
  cursorRecordLocks_.ClearBits();
  recordsToRelease_.ClearBits();
  attempt([this] {
    if (userReadLocked_) UserReadUnlockTable();
  });
  attempt([this] {
    if (internalReadLocked_) ReadUnlockTable();
  });
  attempt([this] {
    if (internalWriteLocked_) WriteUnlockTable();
  });
  internalIndexToken_ = internalBlobToken_ = userIndexToken_ = userBlobToken_ = 0;
  CloseFiles();
  indexRecreated_ = false;
  changed_ = false;
  open_ = false;
  CheckLockStates();
  if (temporary_ && !inMemory_ && discardTemporary) {
    TFileList& list = TFileList::Instance();
    for (const std::string& name : {DataFileName(), IndexFileName(), BlobFileName()})
      if (list.FileExists(name, false)) list.DeleteFile(name, false);
  }
  if (failure) std::rethrow_exception(failure);
}

void TDataTable::CreateTable(const TTableDefinition& definition) {
  IncUseCount();
  open_ = true;
  AssignTableParams();
  // A journal left under this name by a table that is gone is not the new table's.
  if (!inMemory_) (void)CurrentFileSystem().Delete(JournalFileName());
  try {
    dataFile_->CreateDataFile(definition.LanguageID, definition.SortID, definition.UserMajorVersion,
                              definition.UserMinorVersion, definition.Encrypted, definition.Password,
                              definition.Description, definition.BlobBlockSize, definition.Fields);
    ShareEncryption();
    indexFile_->CreateFile();
    TIndexHeader& header = indexFile_->MutableHeader();
    const TTableContext context{owner_.DirectoryPath(), tableName_};
    if (!definition.Indexes.empty()) {
      AddPrimaryIndex(header, definition.Indexes[0], dataFile_->Fields(), context);
      for (std::size_t i = 1; i < definition.Indexes.size(); ++i)
        AddSecondaryIndex(header, definition.Indexes[i], dataFile_->Fields(), context);
    }
    if (definition.HasTextIndex) SetIndexDefinition(header, kIndexSlotCount - 1, definition.TextIndex);
    indexFile_->MarkHeaderChanged();
    if (dataFile_->GetBlobFieldCount() > 0) {
      blobFile_->SetBlockSize(dataFile_->GetBlobBlockSize());
      blobFile_->CreateFile();
    }
  } catch (...) {
    CloseFiles();
    open_ = false;
    DecUseCount();
    throw;
  }
  readOnly_ = readOnlyMedia_ = false;
}

void TDataTable::DeleteTable() {
  AssignTableParams();
  // The files are first moved aside; only when all three could go are they deleted,
  // so a file that cannot go leaves the whole table in place.
  TFileList& list = TFileList::Instance();
  TRenameSet moves(inMemory_);
  std::vector<std::string> aside;
  for (const std::string& name : {DataFileName(), IndexFileName(), BlobFileName()}) {
    if (name == BlobFileName() && !list.FileExists(name, inMemory_)) continue;
    std::string moved;
    if (std::int32_t result = moves.MoveAside(name, moved); result < 0) Raise(static_cast<TarnErrorCode>(-result));
    aside.push_back(moved);
  }
  moves.Keep();
  // The table is gone; a moved file that cannot be deleted stays as a stray
  // temporary file.
  for (const std::string& name : aside) (void)list.DeleteFile(name, inMemory_);
  // The table's journal file goes with it, so that it never meets a later table
  // of the same name.
  if (!inMemory_) (void)CurrentFileSystem().Delete(JournalFileName());
}

void TDataTable::RenameTable(const std::string& newName, bool asBackup) {
  AssignTableParams();
  std::string target = newName;
  if (target.find('/') == std::string::npos && target.find('\\') == std::string::npos && !inMemory_)
    target = owner_.DirectoryPath() + target;
  if (target.size() >= 4 && AnsiSameText(std::string_view(target).substr(target.size() - 4), ".DAT"))
    target.resize(target.size() - 4);
  const char* extensions[] = {asBackup ? ".DBK" : ".DAT", asBackup ? ".IBK" : ".IDX", asBackup ? ".BBK" : ".BLB"};
  const std::string sources[] = {DataFileName(), IndexFileName(), BlobFileName()};
  TFileList& list = TFileList::Instance();
  // All or nothing: a failure part-way moves back what was moved, and old backups
  // are only moved aside until the new ones are in place.
  TRenameSet moves(inMemory_);
  std::vector<std::string> oldBackups;
  const auto check = [this](std::int32_t result) {
    if (result < 0) Raise(static_cast<TarnErrorCode>(-result));
  };
  for (int i = 0; i < 3; ++i) {
    if (!list.FileExists(sources[i], inMemory_)) continue;
    const std::string dest = target + extensions[i];
    if (asBackup && list.FileExists(dest, inMemory_)) {
      std::string aside;
      check(moves.MoveAside(dest, aside));
      oldBackups.push_back(aside);
    }
    check(moves.Move(sources[i], dest));
  }
  moves.Keep();
  for (const std::string& name : oldBackups) (void)list.DeleteFile(name, inMemory_);
  // The journal follows the table when it still holds a dead writer's change (the
  // next open rolls it back); otherwise it goes.
  if (!inMemory_) {
    const std::string journal = JournalFileName();
    if (!asBackup && JournalExists(journal))
      (void)CurrentFileSystem().Rename(journal, tarn::JournalFileName(target + ".DAT"));
    else
      (void)CurrentFileSystem().Delete(journal);
  }
}

void TDataTable::EmptyTable() {
  dataFile_->ClearHeader();
  indexFile_->ClearHeader();
  if (blobFile_->IsOpen()) blobFile_->ClearHeader();
  FreeBuffers({.AdjustCaches = true});
}

void TDataTable::CheckHeaderVersions() {
  const TTableContext context{owner_.DirectoryPath(), tableName_};
  dataFile_->CheckHeaderVersion();
  if (!indexRecreated_) CheckIndexHeaderVersion(indexFile_->Header(), context);
  if (blobFile_->IsOpen()) blobFile_->CheckHeaderVersion();
}

void TDataTable::CheckHeaders() {
  const TTableContext context{owner_.DirectoryPath(), tableName_};
  dataFile_->CheckHeader();
  if (!indexRecreated_) CheckIndexHeader(indexFile_->Header(), dataFile_->Fields(), context);
  if (blobFile_->IsOpen()) blobFile_->CheckHeader();
}

// --- locks --------------------------------------------------------------------

void TDataTable::TakeReaderTokens(std::uint16_t& indexToken, std::uint16_t& blobToken) {
  std::uint16_t token = 0;
  if (!lockMap_.LockRead(*indexFile_, token)) Raise(TARN_LOCKTIMEOUT);
  indexToken = token;
  if (blobFile_->IsOpen()) {
    if (!lockMap_.LockRead(*blobFile_, token)) {
      lockMap_.UnlockRead(*indexFile_, indexToken);
      indexToken = 0;
      Raise(TARN_LOCKTIMEOUT);
    }
    blobToken = token;
  }
}

bool TDataTable::ReleaseReaderTokens(std::uint16_t& indexToken, std::uint16_t& blobToken) {
  bool ok = true;
  if (blobToken != 0) ok = lockMap_.UnlockRead(*blobFile_, blobToken) && ok;
  ok = lockMap_.UnlockRead(*indexFile_, indexToken) && ok;
  indexToken = blobToken = 0;
  return ok;
}

bool TDataTable::ReadLockTable() {
  // Without locks no change detection runs: stale headers are re-read here.
  if (LocksSkipped()) RefreshStaleHeaders();
  if (internalReadLocked_ || userReadLocked_ || userTableLocked_ || transactionLocked_ || internalWriteLocked_ ||
      LocksSkipped())
    return false;
  TakeReaderTokens(internalIndexToken_, internalBlobToken_);
  internalReadLocked_ = true;
  CheckLockStates();
  return DetectChangesUnder([this] { ReadUnlockTable(); });
}

void TDataTable::ReadUnlockTable() {
  if (!internalReadLocked_) return;
  internalReadLocked_ = false;
  const bool ok = ReleaseReaderTokens(internalIndexToken_, internalBlobToken_);
  CheckLockStates();
  if (!ok) Raise(TARN_UNLOCKFAILED);
}

bool TDataTable::WriteLockTable() {
  if (LocksSkipped()) RefreshStaleHeaders();
  if (internalWriteLocked_ || LocksSkipped()) return false;
  const bool takeData = !transactionLocked_;
  if (takeData && !lockMap_.LockDataWrite(*dataFile_)) Raise(TARN_LOCKTIMEOUT);
  if (!lockMap_.LockWrite(*indexFile_)) {
    if (takeData) lockMap_.UnlockDataWrite(*dataFile_);
    Raise(TARN_LOCKTIMEOUT);
  }
  if (blobFile_->IsOpen() && !lockMap_.LockWrite(*blobFile_)) {
    lockMap_.UnlockWrite(*indexFile_);
    if (takeData) lockMap_.UnlockDataWrite(*dataFile_);
    Raise(TARN_LOCKTIMEOUT);
  }
  internalWriteLocked_ = true;
  CheckLockStates();
  return transactionLocked_ ? false : DetectChangesUnder([this] { WriteUnlockTable(); });
}

void TDataTable::WriteUnlockTable() {
  if (!internalWriteLocked_) return;
  internalWriteLocked_ = false;
  bool ok = true;
  if (blobFile_->IsOpen()) ok = lockMap_.UnlockWrite(*blobFile_) && ok;
  ok = lockMap_.UnlockWrite(*indexFile_) && ok;
  if (!transactionLocked_) ok = lockMap_.UnlockDataWrite(*dataFile_) && ok;
  CheckLockStates();
  if (!ok) Raise(TARN_LOCKTIMEOUT);
}

bool TDataTable::TransactionWriteLockTable() {
  if (transactionLocked_ || readOnlyMedia_) return false;
  if (!exclusive_ && !lockMap_.LockDataWrite(*dataFile_)) Raise(TARN_LOCKTIMEOUT);
  transactionLocked_ = true;
  tableLockedBeforeTransaction_ = userTableLocked_;
  return exclusive_ ? false : DetectChangesUnder([this] { TransactionWriteUnlockTable(); });
}

void TDataTable::TransactionWriteUnlockTable() {
  if (!transactionLocked_) return;
  transactionLocked_ = false;
  if (exclusive_) return;
  const bool released = lockMap_.UnlockDataWrite(*dataFile_);
  if (!userTableLocked_) {
    WriteUnlockAllRecords(true);
  } else if (!tableLockedBeforeTransaction_) {
    UserWriteUnlockTable();
  }
  if (!released) Raise(TARN_LOCKTIMEOUT);
}

bool TDataTable::UserReadLockTable() {
  if (userReadLocked_ || userTableLocked_ || transactionLocked_ || internalWriteLocked_ || internalReadLocked_ ||
      LocksSkipped())
    return false;
  TakeReaderTokens(userIndexToken_, userBlobToken_);
  userReadLocked_ = true;
  CheckLockStates();
  return DetectChangesUnder([this] { UserReadUnlockTable(); });
}

void TDataTable::UserReadUnlockTable() {
  if (!userReadLocked_) return;
  userReadLocked_ = false;
  const bool ok = ReleaseReaderTokens(userIndexToken_, userBlobToken_);
  CheckLockStates();
  if (!ok) Raise(TARN_UNLOCKFAILED);
}

bool TDataTable::UserWriteLockTable() {
  if (userTableLocked_ || transactionLocked_ || LocksSkipped()) return false;
  if (!lockMap_.LockTable(*dataFile_, UserRetry())) Raise(TARN_LOCKED);
  userTableLocked_ = true;
  CheckLockStates();
  return DetectChangesUnder([this] { UserWriteUnlockTable(); });
}

void TDataTable::UserWriteUnlockTable() {
  if (!userTableLocked_) return;
  userTableLocked_ = false;
  if (!lockMap_.UnlockTable(*dataFile_)) Raise(TARN_UNLOCKFAILED);
}

bool TDataTable::UserWriteLockRecord(std::int32_t n) {
  if (userTableLocked_ || LocksSkipped() || (transactionLocked_ && HoldsRecordLock(n))) return false;
  bool changed = false;
  if (!owner_.StrictChangeDetection()) changed = ReadLockTable();
  if (n <= 0 || !lockMap_.LockRecord(*dataFile_, static_cast<std::uint32_t>(n), UserRetry()))
    Raise(TARN_RECLOCKFAILED);
  IncludeRecord(heldRecordLocks_, n);
  recordsToRelease_.ClearBit(n);
  return changed;
}

void TDataTable::UserWriteUnlockRecord(std::int32_t n) {
  if (userTableLocked_ || LocksSkipped()) return;
  if (n <= 0 || !HoldsRecordLock(n)) Raise(TARN_UNLOCKFAILED);
  if (transactionLocked_) {
    // The record stays locked until the transaction ends.
    IncludeRecord(recordsToRelease_, n);
    return;
  }
  heldRecordLocks_.ClearBit(n);
  if (!lockMap_.UnlockRecord(*dataFile_, static_cast<std::uint32_t>(n))) Raise(TARN_UNLOCKFAILED);
}

bool TDataTable::UserLockSemaphore(std::int32_t s) {
  if (s < 1 || s > static_cast<std::int32_t>(MaxSemaphore)) return false;
  return lockMap_.LockSemaphore(*dataFile_, static_cast<std::uint32_t>(s), UserRetry());
}

bool TDataTable::UserUnlockSemaphore(std::int32_t s) {
  if (s < 1 || s > static_cast<std::int32_t>(MaxSemaphore)) return false;
  return lockMap_.UnlockSemaphore(*dataFile_, static_cast<std::uint32_t>(s));
}

void TDataTable::WriteUnlockAllRecords(bool onlyReleased) {
  std::int32_t n = 0;
  std::int32_t visited = 0;
  while (heldRecordLocks_.GetNextBitsSet(n, 1, visited)) {
    if (onlyReleased && !recordsToRelease_.IsBitSet(n)) continue;
    if (dataFile_->IsOpen()) lockMap_.UnlockRecord(*dataFile_, static_cast<std::uint32_t>(n));
    recordsToRelease_.ClearBit(n);
    heldRecordLocks_.ClearBit(n);
  }
}

void TDataTable::IncludeRecord(TRecordsBitmap& bitmap, std::int32_t n) {
  if (n < 1) return;
  if (n > bitmap.GetNumOfBits()) {
    const std::int32_t physical = dataFile_->IsOpen() ? dataFile_->GetPhysicalRecordsUsed() : 0;
    bitmap.SetNumOfBits(std::max(n, physical + 1));
  }
  bitmap.SetBit(n);
}

bool TDataTable::RecordIsLocked(std::int32_t n) {
  if (userTableLocked_) return true;
  if (n <= 0) return false;
  if (HoldsRecordLock(n)) return true;
  if (LocksSkipped()) return false;
  if (dataFile_->TryLockRegion(RecordLockOffset(static_cast<std::uint32_t>(n)), 1) != TLockResult::lrLocked) return true;
  lockMap_.UnlockRecord(*dataFile_, static_cast<std::uint32_t>(n));
  return false;
}

void TDataTable::CheckLockStates() const noexcept {
  // R1: reader tokens exactly while their read locks are held.
  TARN_ASSERT((internalIndexToken_ != 0) == internalReadLocked_);
  TARN_ASSERT(internalBlobToken_ == 0 || internalReadLocked_);
  TARN_ASSERT((userIndexToken_ != 0) == userReadLocked_);
  TARN_ASSERT(userBlobToken_ == 0 || userReadLocked_);
  // R2, R3: read locks exclude each other and the internal write lock.
  TARN_ASSERT(!(internalReadLocked_ && userReadLocked_));
  TARN_ASSERT(!(internalWriteLocked_ && (internalReadLocked_ || userReadLocked_)));
  // R4: no byte locks where locks are skipped.
  TARN_ASSERT(!LocksSkipped() ||
              !(internalReadLocked_ || internalWriteLocked_ || userReadLocked_ || userTableLocked_));
  // R5: a closed table holds nothing.
  TARN_ASSERT(open_ || !(internalReadLocked_ || internalWriteLocked_ || userReadLocked_ || userTableLocked_ ||
                         transactionLocked_ || heldRecordLocks_.GetTotalBitsSet() != 0 ||
                         recordsToRelease_.GetTotalBitsSet() != 0));
}

// --- change detection -----------------------------------------------------------

bool TDataTable::DetectChangesUnder(const std::function<void()>& release) {
  try {
    // A writer writes its headers (with new stamps) first: a change seen here may
    // be a dead writer's, whose journal is rolled back before anything is read.
    bool changed = false;
    try {
      changed = PerformChangeDetection();
    } catch (...) {
      if (!RecoverJournal()) throw;
      return true;
    }
    if (changed) RecoverJournal();
    return changed;
  } catch (...) {
    // A lock whose change detection failed is not kept: the caller sees the error
    // and never learns that it held the lock.
    try {
      release();
    } catch (...) {
    }
    throw;
  }
}

void TDataTable::DropAllCaches() noexcept {
  dataFile_->FreeRecordBuffers();
  indexFile_->FreePageBuffers();
  blobFile_->FreeBlockBuffers();
}

void TDataTable::RefreshStaleHeaders() {
  if (!headersStale_ || !open_) return;
  DropAllCaches();
  dataFile_->ReadHeader();
  indexFile_->ReadHeader();
  if (blobFile_->IsOpen()) blobFile_->ReadHeader();
  headersStale_ = false;
}

bool TDataTable::PerformChangeDetection() {
  if (headersStale_) {
    RefreshStaleHeaders();
    return true;
  }
  try {
    return CompareHeaderStamps();
  } catch (...) {
    // Some headers may be new and some caches not dropped: nothing cached can be
    // trusted until every header has been read again.
    DropAllCaches();
    headersStale_ = true;
    throw;
  }
}

bool TDataTable::CompareHeaderStamps() {
  bool changed = false;
  if (indexFile_->CheckForChanges()) {
    indexFile_->FreePageBuffers();
    dataFile_->ReadHeader();
    dataFile_->FreeRecordBuffers();
    changed = true;
  } else if (dataFile_->CheckForChanges()) {
    dataFile_->FreeRecordBuffers();
    changed = true;
  }
  if (blobFile_->IsOpen() && blobFile_->CheckForChanges()) {
    blobFile_->FreeBlockBuffers();
    changed = true;
  }
  return changed;
}

void TDataTable::UpdateHeaderStamps(bool data, bool index, bool blob) {
  if (data) dataFile_->UpdateHeaderStamp();
  if (index) indexFile_->UpdateHeaderStamp();
  if (blob && blobFile_->IsOpen()) blobFile_->UpdateHeaderStamp();
}

// --- transactions -----------------------------------------------------------------

void TDataTable::StartTransaction() {
  if (readOnly_ || transactionInProgress_) return;
  if (exclusive_) FlushBuffers();
  transactionInProgress_ = true;
  try {
    TransactionWriteLockTable();
  } catch (...) {
    transactionInProgress_ = false;
    throw;
  }
}

void TDataTable::RollbackTransaction() {
  transactionInProgress_ = false;
  std::exception_ptr failure;
  try {
    FreeBuffers({.AdjustCaches = true, .RereadHeaders = true});
  } catch (...) {
    failure = std::current_exception();
  }
  TransactionWriteUnlockTable();
  if (failure) std::rethrow_exception(failure);
}

void TDataTable::BeginCommitTransaction() { WriteLockTable(); }

void TDataTable::CommitTransaction(const TCommitOptions& options) {
  TDataTable* self = this;
  CommitTransactions(std::span<TDataTable* const>(&self, 1), options);
}

void TDataTable::CommitTransactions(std::span<TDataTable* const> tables, const TCommitOptions& options) {
  // With the transaction lock still held the caches would keep their buffers; the
  // flush below is the one that writes the transaction out.
  struct TState {
    TDataTable* table;
    bool locked;
    bool journaled;
  };
  std::vector<TState> states;
  for (TDataTable* table : tables) {
    states.push_back(TState{table, table->transactionLocked_, !table->readOnly_ && !table->ChangeJournalOpen()});
    table->transactionInProgress_ = false;
    table->transactionLocked_ = false;
  }
  try {
    for (const TState& state : states)
      if (state.journaled) state.table->BeginChangeJournal();
    FlushJournaled(tables, {.AdjustCaches = options.EndTransaction, .ForceOSFlush = options.ForceFlush});
  } catch (...) {
    // Whatever the commit wrote before it failed is undone on disk, in every table.
    for (const TState& state : states) {
      if (state.journaled) (void)state.table->RollbackChangeJournal();
      state.table->transactionLocked_ = state.locked;
      state.table->transactionInProgress_ = true;
    }
    throw;
  }
  for (const TState& state : states) {
    if (state.journaled) state.table->EndChangeJournal();
    state.table->transactionLocked_ = state.locked;
    state.table->transactionInProgress_ = true;
  }
}

void TDataTable::EndCommitTransaction(bool endTransaction) {
  if (endTransaction) {
    std::exception_ptr failure;
    try {
      WriteUnlockTable();
    } catch (...) {
      failure = std::current_exception();
    }
    transactionInProgress_ = false;
    TransactionWriteUnlockTable();
    if (failure) std::rethrow_exception(failure);
    return;
  }
  // An interim commit: the deferred record locks (or a table lock taken during the
  // transaction) go, the transaction and its lock stay.
  if (!userTableLocked_) WriteUnlockAllRecords(true);
  else if (!tableLockedBeforeTransaction_) UserWriteUnlockTable();
  WriteUnlockTable();
}

void TDataTable::DiscardUncommittedChanges() { FreeBuffers({.AdjustCaches = true, .RereadHeaders = true}); }

// --- change journal -------------------------------------------------------------------

void TDataTable::BeginChangeJournal() {
  dataFile_->BeginJournal();
  indexFile_->BeginJournal();
  if (blobFile_->IsOpen()) blobFile_->BeginJournal();
}

void TDataTable::EndChangeJournal() noexcept {
  dataFile_->EndJournal();
  indexFile_->EndJournal();
  blobFile_->EndJournal();
}

bool TDataTable::RollbackChangeJournal() noexcept {
  // The reverse of the order FlushBuffers writes in.
  bool restored = blobFile_->RollbackJournal();
  restored = indexFile_->RollbackJournal() && restored;
  restored = dataFile_->RollbackJournal() && restored;
  return restored;
}

// --- flushing ---------------------------------------------------------------------

void TDataTable::FlushBuffers(const TFlushOptions& options) {
  if (readOnly_ || !open_) return;
  if (transactionLocked_) {
    UpdateHeaderStamps(options.ForceDataHeader, options.ForceIndexHeader, options.ForceBlobHeader);
    return;
  }
  TDataTable* self = this;
  FlushJournaled(std::span<TDataTable* const>(&self, 1), options);
}

std::array<bool, 3> TDataTable::WriteBuffers(const TFlushOptions& options) {
  const bool adjustCaches = options.AdjustCaches;
  std::array<bool, 3> wrote{};
  // Written buffers are published with their header: its new stamp tells every
  // other session and process to drop what it cached.
  wrote[jfData] = dataFile_->FlushRecordBuffers();
  wrote[jfData] = dataFile_->WriteHeader(options.ForceDataHeader || wrote[jfData]) || wrote[jfData];
  wrote[jfData] = dataFile_->WriteFields() || wrote[jfData];
  if (adjustCaches) dataFile_->AdjustRecordBuffers();

  wrote[jfIndex] = indexFile_->FlushPageBuffers();
  wrote[jfIndex] = indexFile_->WriteHeader(options.ForceIndexHeader || wrote[jfIndex]) || wrote[jfIndex];
  if (adjustCaches) indexFile_->AdjustPageBuffers();

  if (blobFile_->IsOpen()) {
    wrote[jfBlob] = blobFile_->FlushBlockBuffers();
    wrote[jfBlob] = blobFile_->WriteHeader(options.ForceBlobHeader || wrote[jfBlob]) || wrote[jfBlob];
    if (adjustCaches) blobFile_->AdjustBlockBuffers();
  }
  return wrote;
}

std::string TDataTable::JournalFileName() const { return tarn::JournalFileName(DataFileName()); }

bool TDataTable::JournalsFlushes() const {
  return open_ && !inMemory_ && !temporary_ && !readOnly_ && owner_.FlushJournaling() == TFlushJournaling::fjOn;
}

bool TDataTable::HasStagedWrites() const noexcept {
  return dataFile_->HasStagedWrites() || indexFile_->HasStagedWrites() || blobFile_->HasStagedWrites();
}

void TDataTable::BeginStaging() noexcept {
  dataFile_->BeginStaging();
  indexFile_->BeginStaging();
  if (blobFile_->IsOpen()) blobFile_->BeginStaging();
}

void TDataTable::EndStaging() noexcept {
  dataFile_->EndStaging();
  indexFile_->EndStaging();
  blobFile_->EndStaging();
}

void TDataTable::FlushJournaled(std::span<TDataTable* const> tables, const TFlushOptions& options) {
  struct TTableFlush {
    TDataTable* table = nullptr;
    std::array<bool, 3> wrote{};
    TJournalImage image;
    std::unique_ptr<TJournalWriter> journal;
  };
  std::vector<TTableFlush> flushes;
  for (TDataTable* table : tables) {
    if (table->readOnly_ || !table->open_ || table->transactionLocked_) continue;
    if (!table->JournalsFlushes()) {
      // Written straight to the files, as without a journal.
      const std::array<bool, 3> wrote = table->WriteBuffers(options);
      TFileHandler* files[] = {table->dataFile_.get(), table->indexFile_.get(), table->blobFile_.get()};
      const bool osFlush = options.ForceOSFlush || table->owner_.ForceBufferFlush();
      for (std::size_t i = 0; i < 3; ++i)
        if (wrote[i] && osFlush) files[i]->Flush();
      continue;
    }
    flushes.emplace_back();
    flushes.back().table = table;
  }
  if (flushes.empty()) return;
  // Staged writes stay in memory until every journal is on disk.
  struct TStaging {
    std::vector<TTableFlush>& flushes;
    ~TStaging() {
      for (TTableFlush& flush : flushes) flush.table->EndStaging();
    }
  } staging{flushes};
  bool anything = false;
  for (TTableFlush& flush : flushes) {
    TDataTable& table = *flush.table;
    table.BeginStaging();
    flush.wrote = table.WriteBuffers(options);
    TFileHandler* files[] = {table.dataFile_.get(), table.indexFile_.get(), table.blobFile_.get()};
    for (std::size_t i = 0; i < 3; ++i) {
      if (!files[i]->HasStagedWrites()) continue;
      flush.image.Parts[i].OriginalSize = files[i]->CollectBeforeImages(flush.image.Parts[i].Regions);
      anything = true;
    }
  }
  if (!anything) return;
  TCommitRecord record;
  try {
    std::vector<std::string> journals;
    for (TTableFlush& flush : flushes)
      if (flush.table->HasStagedWrites()) journals.push_back(flush.table->JournalFileName());
    // Over several tables the commit record's removal is the one point at which
    // the flush is complete in all of them.
    if (journals.size() > 1) {
      const std::string name = record.Create(journals, flushes.front().table->owner_.FlushDurability());
      for (TTableFlush& flush : flushes) flush.image.CommitRecord = name;
    }
    for (TTableFlush& flush : flushes) {
      TDataTable& table = *flush.table;
      if (!table.HasStagedWrites()) continue;
      flush.journal = std::make_unique<TJournalWriter>(*table.dataFile_, table.journalFile_, table.JournalFileName(),
                                                       table.owner_.FlushDurability(), table.lockMap_);
      flush.journal->Write(flush.image);
    }
    // Every journal is on disk: now the files, every header first. A header's
    // new stamp is what makes other sessions look for a journal, so a writer that
    // dies after any write of the flush leaves a stamp that sends them to it.
    for (const TFileHandler::TStagedPart part : {TFileHandler::TStagedPart::spHeader, TFileHandler::TStagedPart::spRest})
      for (TTableFlush& flush : flushes) {
        TDataTable& table = *flush.table;
        TFileHandler* files[] = {table.dataFile_.get(), table.indexFile_.get(), table.blobFile_.get()};
        for (std::size_t i = 0; i < 3; ++i)
          if (files[i]->HasStagedWrites())
            files[i]->ApplyStaged(part, flush.image.Parts[i].OriginalSize, flush.image.Parts[i].Regions);
      }
    for (TTableFlush& flush : flushes) {
      TDataTable& table = *flush.table;
      TFileHandler* files[] = {table.dataFile_.get(), table.indexFile_.get(), table.blobFile_.get()};
      const bool osFlush = options.ForceOSFlush || table.owner_.ForceBufferFlush() ||
                           table.owner_.FlushDurability() == TFlushDurability::fdPowerLoss;
      for (std::size_t i = 0; i < 3; ++i)
        if (flush.wrote[i] && osFlush) files[i]->Flush();
    }
    record.Remove();
  } catch (...) {
    // Put back what was written; a journal whose files could not be restored
    // stays (with the commit record it names) for the next locker to roll back.
    for (auto it = flushes.rbegin(); it != flushes.rend(); ++it) {
      if (!it->journal) continue;
      TDataTable& table = *it->table;
      TFileHandler* files[] = {table.dataFile_.get(), table.indexFile_.get(), table.blobFile_.get()};
      bool restored = true;
      for (std::size_t i = 3; i-- > 0;)
        if (files[i]->IsOpen())
          restored = files[i]->RestoreRegions(it->image.Parts[i].OriginalSize, it->image.Parts[i].Regions) && restored;
      try {
        if (!restored) throw std::runtime_error("not restored");
        it->journal->Remove();
      } catch (...) {
        record.Keep();
      }
      it->journal->Abandon();
    }
    throw;
  }
  for (TTableFlush& flush : flushes)
    if (flush.journal) flush.journal->Remove();
}

bool TDataTable::RecoverJournal() {
  if (!open_ || inMemory_ || readOnly_) return false;
  const TRecovery recovery = RecoverFlushJournal(
      JournalFileName(), {dataFile_.get(), indexFile_.get(), blobFile_->IsOpen() ? blobFile_.get() : nullptr},
      lockMap_);
  if (recovery != TRecovery::rcRolledBack) return false;
  FreeBuffers({.AdjustCaches = false, .RereadHeaders = true});
  return true;
}

void TDataTable::RecoverJournalBeforeOpen() {
  if (inMemory_) return;
  const std::string journal = JournalFileName();
  if (!JournalExists(journal)) return;
  // Plain handlers on the three files: the table's own ones read their headers
  // as they open, which must wait until the files are restored.
  TFileHandler data, index, blob;
  const std::string names[] = {DataFileName(), IndexFileName(), BlobFileName()};
  TFileHandler* handlers[] = {&data, &index, &blob};
  for (int i = 0; i < 3; ++i) {
    handlers[i]->SetFileName(names[i]);
    try {
      if (handlers[i]->Exists()) handlers[i]->OpenFile();
    } catch (const ETarnEngineError&) {
      // Not to be opened here (held exclusively elsewhere): the table's own open reports it.
    }
    if (handlers[i]->IsOpen() && handlers[i]->OpenedReadOnly()) return;
  }
  if (!data.IsOpen()) return;
  (void)RecoverFlushJournal(journal, {&data, index.IsOpen() ? &index : nullptr, blob.IsOpen() ? &blob : nullptr},
                            lockMap_);
}

void TDataTable::FreeBuffers(const TFreeOptions& options) {
  if (!open_) return;
  // Every cache goes before any header is read, so that a failed read cannot
  // leave buffers of a dropped change behind.
  DropAllCaches();
  if (options.AdjustCaches) {
    dataFile_->AdjustRecordBuffers();
    indexFile_->AdjustPageBuffers();
    if (blobFile_->IsOpen()) blobFile_->AdjustBlockBuffers();
  }
  if (!options.RereadHeaders) return;
  headersStale_ = true;
  RefreshStaleHeaders();
}

void TDataTable::FlushOSBuffers() {
  if (readOnly_ || owner_.ForceBufferFlush()) return;
  dataFile_->Flush();
  indexFile_->Flush();
  if (blobFile_->IsOpen()) blobFile_->Flush();
}

// --- index backup -------------------------------------------------------------------

void TDataTable::InternalBackupIndex() {
  FlushBuffers();
  indexFile_->CopyToFile(FilePath(".IBK"), inMemory_);
}

void TDataTable::InternalRestoreIndex(bool skipCopy, bool deleteBackup) {
  const std::string backup = FilePath(".IBK");
  if (!skipCopy) {
    indexFile_->FreePageBuffers();
    indexFile_->CopyFromFile(backup, inMemory_);
    indexFile_->ReadHeader();
  }
  TFileList& list = TFileList::Instance();
  if (deleteBackup && list.FileExists(backup, inMemory_)) {
    std::int32_t result = list.DeleteFile(backup, inMemory_);
    if (result < 0) Raise(static_cast<TarnErrorCode>(-result));
  }
}

// --- in-memory table image -------------------------------------------------------------

namespace {

std::int64_t RoundUpToStep(std::int64_t size) { return (size + kImageStep - 1) / kImageStep * kImageStep; }

std::vector<std::uint8_t> ReadWholeFile(TFileHandler& file) {
  TFileHandlerLock lock(file);
  const std::int64_t size = file.GetSize();
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(std::max<std::int64_t>(size, 0)));
  file.Seek(0, 0);
  if (!bytes.empty()) file.Read(bytes.data(), static_cast<std::int64_t>(bytes.size()));
  return bytes;
}

void WriteWholeFile(TFileHandler& file, std::span<const std::uint8_t> bytes) {
  TFileHandlerLock lock(file);
  file.Seek(0, 0);
  if (!bytes.empty()) file.Write(bytes.data(), static_cast<std::int64_t>(bytes.size()));
  file.Seek(0, static_cast<std::int64_t>(bytes.size()));
  file.Write(nullptr, 0);  // the loaded image is the whole file
}

}  // namespace

void TDataTable::BeginBufferLoad() {
  if (!inMemory_ || !open_) return;
  dataFile_->LockFileHandler();
  indexFile_->LockFileHandler();
  if (blobFile_->IsOpen()) blobFile_->LockFileHandler();
  imageLoading_ = true;
  image_.clear();
  auto append = [this](TFileHandler& file) {
    const std::vector<std::uint8_t> bytes = ReadWholeFile(file);
    const std::size_t at = image_.size();
    image_.resize(at + 4 + bytes.size());
    codec::PutI32(image_.data(), at, static_cast<std::int32_t>(bytes.size()));
    if (!bytes.empty()) std::memcpy(image_.data() + at + 4, bytes.data(), bytes.size());
  };
  append(*dataFile_);
  append(*indexFile_);
  if (dataFile_->GetBlobFieldCount() > 0 && blobFile_->IsOpen()) append(*blobFile_);
  image_.resize(static_cast<std::size_t>(RoundUpToStep(static_cast<std::int64_t>(image_.size()))), 0);
}

std::int64_t TDataTable::LoadFromBuffer(void* dest, std::int64_t offset, std::int64_t count) {
  const auto size = static_cast<std::int64_t>(image_.size());
  if (!imageLoading_ || offset < 0 || count <= 0 || offset >= size) return 0;
  const std::int64_t n = std::min(count, size - offset);
  std::memcpy(dest, image_.data() + offset, static_cast<std::size_t>(n));
  return n;
}

void TDataTable::EndBufferLoad() {
  if (!imageLoading_) return;
  imageLoading_ = false;
  image_.clear();
  image_.shrink_to_fit();
  if (blobFile_->IsOpen()) blobFile_->UnlockFileHandler();
  indexFile_->UnlockFileHandler();
  dataFile_->UnlockFileHandler();
}

void TDataTable::BeginBufferSave() {
  if (!inMemory_ || !open_) return;
  dataFile_->LockFileHandler();
  indexFile_->LockFileHandler();
  if (blobFile_->IsOpen()) blobFile_->LockFileHandler();
  imageSaving_ = true;
  image_.clear();
}

std::int64_t TDataTable::SaveToBuffer(const void* source, std::int64_t offset, std::int64_t count) {
  if (!imageSaving_ || offset < 0 || count < 0) return 0;
  if (offset == 0 && count == 0) {
    image_.clear();
    return 0;
  }
  const std::int64_t end = offset + count;
  if (end > static_cast<std::int64_t>(kMaxDataFileSize) * 3) Raise(TARN_OSEINVMEM);
  if (end > static_cast<std::int64_t>(image_.size())) ResizeMemoryBuffer(end);
  std::memcpy(image_.data() + offset, source, static_cast<std::size_t>(count));
  return count;
}

void TDataTable::ResizeMemoryBuffer(std::int64_t size) {
  if (size <= 0) {
    image_.clear();
    return;
  }
  image_.resize(static_cast<std::size_t>(RoundUpToStep(size)), 0);
}

void TDataTable::EndBufferSave() {
  if (!imageSaving_) return;
  struct Release {
    TDataTable& t;
    ~Release() {
      t.imageSaving_ = false;
      t.image_.clear();
      t.image_.shrink_to_fit();
      if (t.blobFile_->IsOpen()) t.blobFile_->UnlockFileHandler();
      t.indexFile_->UnlockFileHandler();
      t.dataFile_->UnlockFileHandler();
    }
  } release{*this};

  if (image_.empty()) {
    EmptyTable();
    FlushBuffers({.ForceDataHeader = true, .ForceBlobHeader = true, .ForceIndexHeader = true});
    return;
  }
  // Every part's length is checked against the image before anything is written.
  const bool withBlob = dataFile_->GetBlobFieldCount() > 0 && blobFile_->IsOpen();
  std::span<const std::uint8_t> parts[3];
  std::size_t at = 0;
  for (int i = 0; i < (withBlob ? 3 : 2); ++i) {
    if (image_.size() - at < 4) Raise(TARN_OSEINVMEM);
    const std::int32_t length = codec::GetI32(image_.data(), at);
    at += 4;
    if (length < 0 || static_cast<std::size_t>(length) > image_.size() - at) Raise(TARN_OSEINVMEM);
    parts[i] = std::span<const std::uint8_t>(image_.data() + at, static_cast<std::size_t>(length));
    at += static_cast<std::size_t>(length);
  }
  dataFile_->FreeRecordBuffers();
  indexFile_->FreePageBuffers();
  if (withBlob) blobFile_->FreeBlockBuffers();
  WriteWholeFile(*dataFile_, parts[0]);
  WriteWholeFile(*indexFile_, parts[1]);
  if (withBlob) WriteWholeFile(*blobFile_, parts[2]);
  dataFile_->ReadHeader();
  dataFile_->ReadFields();
  ShareEncryption();
  indexFile_->ReadHeader();
  if (withBlob) blobFile_->ReadHeader();
}

std::int64_t TDataTable::GetBufferSize() const noexcept {
  return inMemory_ && open_ ? static_cast<std::int64_t>(image_.size()) : 0;
}

// --- statistics and link ------------------------------------------------------------------

std::int32_t TDataTable::GetPhysicalBlocksUsed() const {
  return blobFile_->IsOpen() ? tarn::GetPhysicalBlocksUsed(blobFile_->Header()) : 0;
}

std::uint64_t TDataTable::GetBlobFileSize() const {
  return blobFile_->IsOpen() ? tarn::GetBlobFileSize(blobFile_->Header(), static_cast<std::uint32_t>(dataFile_->GetBlobBlockSize()))
                             : 0;
}

bool TDataTable::ShortReadsAllowed() const { return (exclusive_ || transactionLocked_) && changed_; }

bool TDataTable::HasPrimaryIndex() const {
  const TIndexHeader& header = indexFile_->Header();
  return header.NoPrimaryIndex == 0 && header.Slots[0].KeyFieldCount > 0;
}

void TDataTable::SetActualRecordCount(std::int32_t count) {
  indexFile_->MutableHeader().ActualRecordCount = count;
  indexFile_->MarkHeaderChanged();
}

// --- write lock scope ---------------------------------------------------------------------

TWriteLockScope::TWriteLockScope(TDataTable& table) : table_(table), took_(false) {
  const bool held = table_.InternalWriteLocked();
  changed_ = table_.WriteLockTable();
  took_ = !held && table_.InternalWriteLocked();
  table_.BeginChange();
  // Inside a transaction nothing is written until its commit, which keeps its own
  // journal; nested scopes share the outermost one's.
  if (!table_.GetTransactionInProgress() && !table_.ReadOnly() && !table_.ChangeJournalOpen()) {
    try {
      table_.BeginChangeJournal();
      journaled_ = true;
    } catch (...) {
      table_.EndChange();
      if (took_) {
        try {
          table_.WriteUnlockTable();
        } catch (...) {
        }
      }
      throw;
    }
  }
}

void TWriteLockScope::Commit() {
  if (table_.GetTransactionInProgress() || table_.KeepsChangesCached()) {
    // The change lives in the caches until the transaction commits; the table now
    // holds records and pages that are not on disk yet.
    table_.MarkTableChanged();
  } else {
    table_.FlushBuffers();
  }
  if (journaled_) table_.EndChangeJournal();
  committed_ = true;
}

TWriteLockScope::~TWriteLockScope() {
  if (!committed_) {
    if (journaled_) (void)table_.RollbackChangeJournal();
    try {
      if (!table_.GetTransactionInProgress() && !table_.KeepsChangesCached()) table_.DiscardUncommittedChanges();
    } catch (...) {
      // The headers could not be re-read; the next lock's change detection retries.
    }
  }
  table_.EndChange();
  if (took_) {
    try {
      table_.WriteUnlockTable();
    } catch (...) {
    }
  }
}

}  // namespace tarn
