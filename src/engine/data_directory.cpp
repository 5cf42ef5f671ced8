// Database directories: the shared tables of one opened directory, their names,
// existence and listing, and transactions across them.
#include "engine/data_directory.h"

#include <algorithm>
#include <cerrno>
#include <mutex>
#include <set>

#include "core/errors.h"
#include "engine/data_session.h"
#include "platform/code_page.h"
#include "platform/file_names.h"
#include "platform/os_file.h"
#include "platform/os_process.h"
#include "storage/files/file_errors.h"
#include "storage/files/file_list.h"
#include "storage/files/temp_file.h"

namespace tarn {
namespace {

std::string TrimName(const std::string& name) {
  std::size_t b = 0, e = name.size();
  while (b < e && static_cast<unsigned char>(name[b]) <= ' ') ++b;
  while (e > b && static_cast<unsigned char>(name[e - 1]) <= ' ') --e;
  return name.substr(b, e - b);
}

// The data file name of a table: ".DAT" replaces an existing ".DAT" in any case,
// otherwise it is appended.
std::string DataFileName(const std::string& name) {
  std::string trimmed = TrimName(name);
  if (trimmed.size() >= 4 && AnsiSameText(std::string_view(trimmed).substr(trimmed.size() - 4), ".DAT"))
    trimmed.resize(trimmed.size() - 4);
  return trimmed + ".DAT";
}

// The marker that holds a temporary table name on disk until the table exists:
// "<name>.RSV" beside where "<name>.DAT" will be.
std::string ReservationMarker(const std::string& path, const std::string& dataFileName) {
  return path + dataFileName.substr(0, dataFileName.size() - 4) + ".RSV";
}

// Temporary names handed out and not yet used, for the whole process: names of
// memory tables and of tables in the process's own private directory, which no
// other process uses, so no marker file is needed for them.
std::mutex& ProcessReservationsLock() {
  static std::mutex lock;
  return lock;
}
std::set<std::string>& ProcessReservations() {
  static std::set<std::string> names;
  return names;
}
std::string ProcessReservationKey(const std::string& path, const std::string& dataFileName, bool inMemory) {
  return (inMemory ? "M:" : "D:") + AnsiUpperCase(path + dataFileName);
}

}  // namespace

bool IsMemoryDatabaseName(const std::string& name) { return AnsiSameText(TrimName(name), "Memory"); }

TDataDirectory::TDataDirectory(TDataSession& session, std::string name, std::string path)
    : session_(session), name_(std::move(name)), path_(std::move(path)) {}

TDataDirectory::~TDataDirectory() {
  if (inTransaction_) {
    try {
      RollbackTransaction();
    } catch (...) {
      // The directory goes away: its tables are closed below whatever the rollback met.
    }
  }
  while (!tables_.empty()) tables_.pop_back();
  while (!reservations_.empty()) ReleaseReservation(reservations_.back());
}

bool TDataDirectory::StrictChangeDetection() const { return session_.StrictChangeDetection(); }
bool TDataDirectory::ForceBufferFlush() const { return session_.ForceBufferFlush(); }
TFlushJournaling TDataDirectory::FlushJournaling() const { return session_.FlushJournaling(); }
TFlushDurability TDataDirectory::FlushDurability() const { return session_.FlushDurability(); }
std::uint8_t TDataDirectory::LockRetries() const { return session_.LockRetries(); }
std::uint16_t TDataDirectory::LockWait() const { return session_.LockWait(); }
std::string TDataDirectory::PrivateDirectory() const { return session_.GetPrivateDirectory(); }
bool TDataDirectory::CheckForPassword(const std::string& password) const {
  return session_.CheckForPassword(password);
}

TDataTable* TDataDirectory::FindTable(const std::string& name, bool inMemory) const {
  std::string key = TrimName(name);
  for (const auto& table : tables_)
    if (table->InMemory() == inMemory && AnsiSameText(table->TableName(), key)) return table.get();
  return nullptr;
}

std::vector<std::unique_ptr<TDataTable>>::iterator TDataDirectory::FindEntry(const TDataTable* table) {
  return std::find_if(tables_.begin(), tables_.end(), [table](const auto& t) { return t.get() == table; });
}

namespace {

// The headers of a table are checked in full by its first user, under a read
// lock so that they are current and no writer changes them meanwhile. Later
// users rely on that check, and so does a transaction whose table has written
// a header since it was opened (the headers are then this session's own).
void CheckHeadersAtOpen(TDataTable& table, bool repairMode) {
  if (repairMode) {
    table.CheckHeaderVersions();
    return;
  }
  if (table.UseCount() != 1) return;
  if (table.GetTransactionInProgress() && table.Changed()) return;
  TReadLockScope lock(table);
  table.CheckHeaders();
}

}  // namespace

std::unique_ptr<TDataTable> TDataDirectory::NewTable(const std::string& name, const TOpenTableOptions& options) {
  auto table = std::make_unique<TDataTable>(*this);
  table->SetTableName(TrimName(name));
  table->SetInMemory(options.InMemory);
  table->SetIsTemporary(options.Temporary);
  table->SetExclusive(options.Exclusive);
  return table;
}

int TDataDirectory::OpenDataTable(const std::string& name, TDataTable*& table, const TOpenTableOptions& options) {
  table = FindTable(name, options.InMemory);
  if (table && (table->IsOpen() || table->GetTransactionInProgress())) {
    if ((table->Exclusive() || options.Exclusive) && !table->GetTransactionInProgress() && !options.OverrideExclusive) {
      table = nullptr;
      return -TARN_OSEACCES;
    }
    table->OpenTable();
  } else if (table) {
    table->SetExclusive(options.Exclusive);
    table->SetInMemory(options.InMemory);
    table->SetIsTemporary(options.Temporary);
    table->OpenTable();
    if (inTransaction_) table->StartTransaction();
  } else {
    auto created = NewTable(name, options);
    created->OpenTable();
    if (inTransaction_) created->StartTransaction();
    table = created.get();
    tables_.push_back(std::move(created));
  }
  if (CountsAsClient(options.SourceTable, options.AnswerTable)) table->IncClientUseCount();
  try {
    CheckHeadersAtOpen(*table, options.RepairMode);
  } catch (...) {
    try {
      CloseDataTable(table, {.SourceTable = options.SourceTable, .AnswerTable = options.AnswerTable});
    } catch (...) {
      // The check's error is the one the caller sees.
    }
    table = nullptr;
    throw;
  }
  return 0;
}

int TDataDirectory::CloseDataTable(TDataTable* table, const TCloseTableOptions& options) {
  auto it = FindEntry(table);
  if (it == tables_.end()) return -TARN_OSENOENT;
  if (table->IsOpen()) table->CloseTable(options.DiscardTemporary);
  if (!table->IsOpen() && !table->GetTransactionInProgress()) {
    tables_.erase(it);
  } else if (CountsAsClient(options.SourceTable, options.AnswerTable)) {
    table->DecClientUseCount();
  }
  return 0;
}

int TDataDirectory::CreateDataTable(const std::string& name, const TTableDefinition& definition, TDataTable*& table,
                                    const TCreateTableOptions& options) {
  const bool inMemory = options.InMemory;
  table = FindTable(name, inMemory);
  if (table && (table->IsOpen() || table->GetTransactionInProgress())) {
    table = nullptr;
    return -TARN_OSEACCES;
  }
  if (!table) {
    tables_.push_back(NewTable(name, {.Temporary = options.Temporary, .InMemory = inMemory, .Exclusive = true}));
    table = tables_.back().get();
  }
  table->SetExclusive(true);
  table->SetInMemory(inMemory);
  table->SetIsTemporary(options.Temporary);
  table->CreateTable(definition);
  // The headers and definitions are written; the entry stays in the list, closed.
  try {
    table->FlushBuffers({.ForceDataHeader = true, .ForceBlobHeader = true, .ForceIndexHeader = true});
  } catch (...) {
    table->CloseTable(false);
    throw;
  }
  table->CloseTable(false);
  // The table's data file now holds its name: a reservation made for it ends.
  const std::string dataName = DataFileName(name);
  const auto reserved = std::find_if(reservations_.begin(), reservations_.end(), [&](const TReservation& r) {
    return r.inMemory == inMemory && AnsiSameText(r.dataFileName, dataName);
  });
  if (reserved != reservations_.end()) ReleaseReservation(*reserved);
  return 0;
}

int TDataDirectory::RenameDataTable(const std::string& name, const std::string& newName,
                                    const TRenameTableOptions& options) {
  if (TDataTable* table = FindTable(name, options.InMemory)) {
    if (table->IsOpen()) return -TARN_OSEACCES;
    table->RenameTable(newName, options.AsBackup);
    return 0;
  }
  auto table = NewTable(name, {.InMemory = options.InMemory});
  table->RenameTable(newName, options.AsBackup);
  return 0;
}

int TDataDirectory::DeleteDataTable(const std::string& name, bool inMemory) {
  if (TDataTable* table = FindTable(name, inMemory)) {
    if (table->IsOpen()) return -TARN_OSEACCES;
    table->DeleteTable();
    tables_.erase(FindEntry(table));
    return 0;
  }
  auto table = NewTable(name, {.InMemory = inMemory});
  table->DeleteTable();
  return 0;
}

bool TDataDirectory::DataTableExists(const std::string& name, bool inMemory) const {
  return FileNameExists(path_ + DataFileName(name), inMemory);
}

std::string TDataDirectory::GetTempDataTableName(bool inMemory) {
  const std::string prefix = ThreadDigits();
  const bool inProcess = inMemory || OSIsProcessPrivateDirectory(path_);
  for (std::uint32_t n = 0; n <= 0xFFFF; ++n) {
    const std::string name = prefix + std::to_string(n) + ".DAT";
    if (DataTableExists(name, inMemory)) continue;
    if (inProcess) {
      std::lock_guard guard(ProcessReservationsLock());
      if (!ProcessReservations().insert(ProcessReservationKey(path_, name, inMemory)).second) continue;
      reservations_.push_back({name, inMemory, true});
      return name;
    }
    // The marker is made exclusively, so of several threads or processes only
    // one gets the name. A table made under the name meanwhile (whose maker
    // already dropped its own marker) shows once the marker is ours.
    TUniqueFd marker;
    if (int e = OSFileCreate(ReservationMarker(path_, name), true, marker); e != 0) {
      if (e == EEXIST) continue;
      RaiseError(OSLastNativeError(e), {}, {}, path_, name);
    }
    marker.Reset();
    reservations_.push_back({name, false, false});
    if (!DataTableExists(name, inMemory)) return name;
    ReleaseReservation(reservations_.back());
  }
  RaiseError(TARN_OSEACCES, {}, {}, path_, prefix);
}

void TDataDirectory::ReleaseReservation(const TReservation& reservation) noexcept {
  if (reservation.inProcess) {
    std::lock_guard guard(ProcessReservationsLock());
    ProcessReservations().erase(ProcessReservationKey(path_, reservation.dataFileName, reservation.inMemory));
  } else {
    OSFileDelete(ReservationMarker(path_, reservation.dataFileName));
  }
  const auto it = std::find_if(reservations_.begin(), reservations_.end(), [&](const TReservation& r) {
    return &r == &reservation;
  });
  if (it != reservations_.end()) reservations_.erase(it);
}

std::vector<std::string> TDataDirectory::ListTableNames() const {
  std::vector<std::string> names;
  TFileList::Instance().GetFileNames(InMemory(), path_ + "*.DAT", false, names);
  return names;
}

bool TDataDirectory::GetHasOpenTables() const {
  return std::any_of(tables_.begin(), tables_.end(), [](const auto& t) { return t->IsOpen(); });
}

void TDataDirectory::StartTransaction() {
  if (inTransaction_) return;
  try {
    for (auto& table : tables_) table->StartTransaction();
  } catch (...) {
    for (auto& table : tables_) {
      try {
        table->RollbackTransaction();
      } catch (...) {
        // The start's failure is the one the caller needs to see.
      }
    }
    throw;
  }
  inTransaction_ = true;
}

void TDataDirectory::CommitTransaction(const TCommitOptions& options) {
  const bool commit = options.EndTransaction;
  std::exception_ptr failure;
  try {
    for (auto it = tables_.rbegin(); it != tables_.rend(); ++it) (*it)->BeginCommitTransaction();
    // One journaled flush across every table, so that a commit interrupted
    // part-way is rolled back in all of them.
    std::vector<TDataTable*> committing;
    for (auto it = tables_.rbegin(); it != tables_.rend(); ++it) committing.push_back(&**it);
    TDataTable::CommitTransactions(committing, options);
  } catch (...) {
    failure = std::current_exception();
  }
  // Every table ends its commit, also after a failure. A table whose commit failed
  // must not keep buffers that never reached the disk: it drops its caches and
  // re-reads its headers.
  std::vector<TDataTable*> unused;
  for (auto it = tables_.rbegin(); it != tables_.rend(); ++it) {
    TDataTable& table = **it;
    try {
      if (failure) table.DiscardUncommittedChanges();
      table.EndCommitTransaction(failure ? true : commit);
    } catch (...) {
      if (!failure) failure = std::current_exception();
    }
    if (table.UseCount() == 0) unused.push_back(&table);
  }
  if (commit || failure) inTransaction_ = false;
  for (TDataTable* table : unused) {
    try {
      CloseDataTable(table);
    } catch (...) {
      if (!failure) failure = std::current_exception();
    }
  }
  if (failure) std::rethrow_exception(failure);
}

void TDataDirectory::RollbackTransaction() {
  std::exception_ptr failure;
  std::vector<TDataTable*> unused;
  for (auto it = tables_.rbegin(); it != tables_.rend(); ++it) {
    try {
      (*it)->RollbackTransaction();
    } catch (...) {
      if (!failure) failure = std::current_exception();
    }
    if ((*it)->UseCount() == 0) unused.push_back(it->get());
  }
  inTransaction_ = false;
  for (TDataTable* table : unused) CloseDataTable(table);
  if (failure) std::rethrow_exception(failure);
}

}  // namespace tarn
