// TTarnQuery: the dataset whose cursor is the answer of an SQL statement. It
// keeps the SQL text (each change closes and unprepares the query and derives
// the parameters and the processed text with '?' markers again), prepares a
// TQueryStatement on its database's directory, passes the parameters in the
// statement's packed layout, executes (Open for an answer, ExecSQL for any
// statement), takes parameter values from a DataSource, and reports the
// statement's kind, live answer, rows affected and execution time.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "components/query_params.h"
#include "components/strings.h"
#include "components/tarn_db_dataset.h"

namespace tarn {

class TQueryStatement;
class TTarnQuery;

enum TStatementType : std::uint8_t {
  stUnknown,
  stSelect,
  stInsert,
  stUpdate,
  stDelete,
  stCreateTable,
  stAlterTable,
  stDropTable,
  stCreateIndex,
  stDropIndex,
};

using TQueryProgressEvent = std::function<void(TTarnQuery& Sender, std::uint16_t PercentDone, bool& AbortQuery)>;
using TSaveProgressEvent = std::function<void(TTarnQuery& Sender, std::uint16_t PercentDone)>;

class TTarnQuery : public TTarnDBDataSet {
 public:
  static constexpr const char* kEngineVersion = "3.08";

  explicit TTarnQuery(TComponent* owner);
  ~TTarnQuery() override;

  std::string EngineVersion() const { return kEngineVersion; }
  void SetEngineVersion(const std::string&) {}

  TStrings& SQL() noexcept { return sql_; }
  void SetSQL(const TStrings& lines) { sql_.Assign(lines); }
  // The SQL text with the parameter markers replaced by '?'.
  const std::string& Text() const noexcept { return text_; }

  TParams& Params() noexcept { return params_; }
  int ParamCount() const noexcept { return params_.Count(); }
  TParam& ParamByName(const std::string& name) { return params_.ParamByName(name); }
  bool ParamCheck() const noexcept { return paramCheck_; }
  void SetParamCheck(bool value) noexcept { paramCheck_ = value; }

  bool RequestLive() const noexcept { return requestLive_; }
  void SetRequestLive(bool value);
  std::int32_t MaxRowCount() const noexcept { return maxRowCount_; }
  void SetMaxRowCount(std::int32_t value);
  bool ReadOnly() const noexcept { return readOnly_; }
  void SetReadOnly(bool value);
  TTarnDataSet* DataSource() const noexcept { return dataSource_; }
  // Raises "Circular data links are not allowed." for a link back to this query.
  void SetDataSource(TTarnDataSet* source);

  TQueryProgressEvent OnQueryProgress;
  TSaveProgressEvent OnSaveProgress;

  void Prepare();
  void UnPrepare();
  bool Prepared() const noexcept { return statement_ != nullptr; }
  void SetPrepared(bool value);
  void ExecSQL();

  TStatementType StatementType() const;
  bool ResultIsLive() const;
  bool CanModify() const override;
  std::int64_t RowsAffected() const noexcept { return rowsAffected_; }
  double ExecutionTime() const noexcept { return executionTime_; }
  // Writes the current answer to a new table of the named database; nothing
  // happens unless the query is prepared and open.
  void SaveToTable(const std::string& tableName, const std::string& databaseName);

  void SetDatabaseName(const std::string& name) override;
  // TDatabaseDataSet: the database closes: close and unprepare.
  void Disconnect() override;

 protected:
  TDataCursor* CreateHandle(std::unique_ptr<TDataCursor>& owned) override;
  void SetDBFlag(TDBFlag flag, bool value) override;
  void Loaded() override;
  void SourceRecordChanged() override;
  void SourceDestroyed(TTarnDataSet& source) override;

 private:
  void QueryChanged();
  void DeriveParams(bool recreate);
  void TakeSourceValues();
  void PassParams();
  TDataCursor* Execute();
  void FreeStatement();

  TStrings sql_;
  std::string text_;
  TParams params_;
  std::vector<std::string> markers_;  // the parameter name of each '?', in order
  bool paramCheck_ = true;
  bool requestLive_ = false;
  std::int32_t maxRowCount_ = -1;
  bool readOnly_ = false;
  TTarnDataSet* dataSource_ = nullptr;
  std::unique_ptr<TQueryStatement> statement_;
  std::int64_t rowsAffected_ = 0;
  double executionTime_ = 0;
};

}  // namespace tarn
