// TDataDirectory: one opened database (a directory of table files, or the in-memory
// database) with the shared TDataTable of every table in use, temporary table names,
// and transactions over all its tables.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "storage/tables/data_table.h"
#include "storage/tables/table_owner.h"

namespace tarn {

class TDataSession;

// "Memory" in any letter case names the in-memory database.
bool IsMemoryDatabaseName(const std::string& name);

// How a table is opened. A source or answer table of a query counts its cursor
// as a client of the shared table.
struct TOpenTableOptions {
  bool SourceTable = false;
  bool AnswerTable = false;
  bool Temporary = false;          // deleted at its last close
  bool InMemory = false;           // a table of the in-memory database
  bool OverrideExclusive = false;  // join a table this process holds exclusively
  bool Exclusive = false;          // no other session or process may open it
  // Opened to repair or restructure the table: only the header versions are
  // checked. Otherwise the table's first user checks its headers in full.
  bool RepairMode = false;
};

struct TCloseTableOptions {
  bool DiscardTemporary = false;  // a temporary table's changes are dropped, not written
  bool SourceTable = false;       // as opened
  bool AnswerTable = false;
};

struct TCreateTableOptions {
  bool Temporary = false;
  bool InMemory = false;
};

struct TRenameTableOptions {
  bool AsBackup = false;  // to the backup names (.DBK, .IBK, .BBK) of newName
  bool InMemory = false;
};

class TDataDirectory final : public TTableOwner {
 public:
  TDataDirectory(TDataSession& session, std::string name, std::string path);
  ~TDataDirectory() override;
  TDataDirectory(const TDataDirectory&) = delete;
  TDataDirectory& operator=(const TDataDirectory&) = delete;

  TDataSession& Session() const { return session_; }
  const std::string& Name() const { return name_; }
  const std::string& Path() const { return path_; }
  bool InMemory() const { return IsMemoryDatabaseName(name_); }

  // TTableOwner
  const std::string& DirectoryPath() const override { return path_; }
  const std::string& DatabaseName() const override { return name_; }
  bool StrictChangeDetection() const override;
  bool ForceBufferFlush() const override;
  TFlushJournaling FlushJournaling() const override;
  TFlushDurability FlushDurability() const override;
  std::uint8_t LockRetries() const override;
  std::uint16_t LockWait() const override;
  std::string PrivateDirectory() const override;
  bool CheckForPassword(const std::string& password) const override;

  // Table requests answer 0 or the negative of an engine code: -TARN_OSEACCES when
  // the table's use forbids the request, -TARN_OSENOENT for a table not known here.
  // Opening raises what opening the files or checking the headers met, with the
  // table closed again: the first user of a table checks its headers in full
  // under a read lock (not again while a transaction is in progress on a table
  // that has written a header since it was opened); in repair mode every opener
  // checks only the header versions.
  int OpenDataTable(const std::string& name, TDataTable*& table, const TOpenTableOptions& options = {});
  int CloseDataTable(TDataTable* table, const TCloseTableOptions& options = {});
  int CreateDataTable(const std::string& name, const TTableDefinition& definition, TDataTable*& table,
                      const TCreateTableOptions& options = {});
  int RenameDataTable(const std::string& name, const std::string& newName, const TRenameTableOptions& options = {});
  int DeleteDataTable(const std::string& name, bool inMemory);
  bool DataTableExists(const std::string& name, bool inMemory) const;
  // A free temporary table name ("<thread id prefix><n>.DAT"), reserved so that
  // no other caller (thread, session or process) gets it: on disk by a marker
  // file "<thread id prefix><n>.RSV" made exclusively, in memory for the
  // process. Creating the table under the name ends the reservation; the
  // directory ends the ones still unused when it goes.
  std::string GetTempDataTableName(bool inMemory);
  std::vector<std::string> ListTableNames() const;
  bool GetHasOpenTables() const;
  const std::vector<std::unique_ptr<TDataTable>>& Tables() const { return tables_; }

  void StartTransaction();
  void CommitTransaction(const TCommitOptions& options);
  void RollbackTransaction();
  bool InTransaction() const { return inTransaction_; }

  void IncUseCount() { ++useCount_; }
  void DecUseCount() {
    if (useCount_ > 0) --useCount_;
  }
  std::int32_t UseCount() const { return useCount_; }
  std::uint8_t Rights() const { return rights_; }
  void SetRights(std::uint8_t rights) { rights_ = rights; }

 private:
  struct TReservation {
    std::string dataFileName;
    bool inMemory;
    // Held in the process-wide set instead of by a marker file (memory tables,
    // and tables in the process's own private directory).
    bool inProcess;
  };
  void ReleaseReservation(const TReservation& reservation) noexcept;
  TDataTable* FindTable(const std::string& name, bool inMemory) const;
  std::vector<std::unique_ptr<TDataTable>>::iterator FindEntry(const TDataTable* table);
  std::unique_ptr<TDataTable> NewTable(const std::string& name, const TOpenTableOptions& options);
  static bool CountsAsClient(bool sourceTable, bool answerTable) { return sourceTable == answerTable; }

  TDataSession& session_;
  std::string name_;
  std::string path_;
  std::vector<std::unique_ptr<TDataTable>> tables_;
  std::int32_t useCount_ = 0;
  std::uint8_t rights_ = 0;
  bool inTransaction_ = false;
  std::vector<TReservation> reservations_;
};

}  // namespace tarn
