// TQueryStatement: the engine object behind one SQL text. It belongs to one
// open database directory, owns the tokenizer that reads the text, the list
// of TDataQuery objects the current statement produced (the master first,
// then sub-selects and UNION parts in the order parsing created them) and the
// list of '?' placeholders, and runs the statements of a script one after
// another.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "cursor/data_cursor.h"
#include "expressions/expression_parser.h"
#include "sql/data_query.h"
#include "storage/formats/field_definition.h"

namespace tarn {

class TQueryStatement;

// Asked when a table needs a password the session lacks: answer true after
// adding one to try again.
using TStatementPasswordCallback = bool (*)(void* userData, TQueryStatement& statement, const std::string& table);
// Percentages while a statement runs; setting stop ends the scan.
using TQueryProgressCallback = void (*)(void* userData, TQueryStatement& statement, int percent, bool& stop);
// After each preparation: the kind and the result flags.
using TQueryStatementCallback = void (*)(void* userData, TQueryStatement& statement, TStatementKind kind,
                                         bool selectStar, bool liveGranted, bool liveRequested);
using TSaveProgressCallback = void (*)(void* userData, TQueryStatement& statement, int percent);

class TQueryStatement final : public TExpressionParserOwner {
 public:
  explicit TQueryStatement(TDataDirectory& directory);
  ~TQueryStatement() override;
  TQueryStatement(const TQueryStatement&) = delete;
  TQueryStatement& operator=(const TQueryStatement&) = delete;

  TDataDirectory& Directory() const noexcept { return directory_; }
  TDataSession& GetDataSession() const;
  TExpressionParser& Parser() noexcept { return parser_; }

  // Parses and checks the first statement of the text and opens its tables.
  void PrepareStatement(const std::string& text);
  // Parses the first statement of the text without preparing it (its tables
  // stay closed): what tools and tests inspect of a statement.
  void ParseStatement(const std::string& text);
  // Gives the placeholders values for the next execution (the layout of the
  // parameter record: at each definition's offset a flag byte, 1 for a value,
  // then the value; a BLOB is a 32-bit length and the address of its bytes).
  int SetStatementParameters(std::uint16_t count, const TFieldDefinition* definitions, const std::uint8_t* buffer);
  // Runs the prepared statement and every later statement of the text. The
  // result cursor is the last SELECT's (owned by the statement), else null.
  void ExecuteStatement(TDataCursor*& result, bool progressWanted = true);
  TDataCursor* GetResultTable() const;
  // Copies the master query's result (the result table, or a live result's
  // source table as filtered) into a new table of that name in the
  // directory, reporting percentages to the save-progress callback. With
  // overwrite an existing table of that name is replaced; otherwise it
  // raises TARN_TABLEEXISTS.
  void SaveResultToTable(TDataDirectory& database, const std::string& tableName, bool overwrite);

  void SetPasswordCallback(void* userData, TStatementPasswordCallback callback) noexcept;
  void SetQueryProgressCallback(void* userData, TQueryProgressCallback callback) noexcept;
  void SetQueryStatementCallback(void* userData, TQueryStatementCallback callback) noexcept;
  void SetSaveProgressCallback(void* userData, TSaveProgressCallback callback) noexcept;
  bool AskForPassword(const std::string& table);
  int GetProgressPercent() const;
  // Reports a percentage; answers true when the callback asked to stop.
  bool ReportProgress(int percent);

  // Set by the caller before preparing.
  bool RequestLive = false;
  std::int64_t MaxRowCount = -1;

  // After preparation and execution.
  TStatementKind Kind() const noexcept { return kind_; }
  bool LiveRequested() const noexcept { return liveRequested_; }
  bool LiveGranted() const noexcept { return liveGranted_; }
  bool SelectStar() const noexcept { return selectStar_; }
  std::int64_t RowsAffected() const noexcept { return rowsAffected_; }
  double ExecutionTime() const noexcept { return executionTime_; }

  // The query list.
  TDataQuery& MasterQuery() const { return *queries_.front(); }
  const std::vector<std::unique_ptr<TDataQuery>>& Queries() const noexcept { return queries_; }
  // A new query registered at the end of the list (sub-selects, UNION parts).
  TDataQuery& NewQuery();
  const std::vector<TExpToken*>& Parameters() const noexcept { return parameters_; }

  // TExpressionParserOwner
  void AddParameter(TExpToken& parameter) override;
  TExpSubQuery* ParseSubSelect(TExpressionParser& parser) override;

 private:
  void ParseNextStatement();
  void PrepareDataQueries();
  void ExecuteDataQueries(TDataCursor*& result);
  void ResetQueryList();

  TDataDirectory& directory_;
  TExpressionParser parser_;
  std::vector<std::unique_ptr<TDataQuery>> queries_;
  std::vector<TExpToken*> parameters_;
  void* passwordUserData_ = nullptr;
  TStatementPasswordCallback passwordCallback_ = nullptr;
  void* progressUserData_ = nullptr;
  TQueryProgressCallback progressCallback_ = nullptr;
  void* statementUserData_ = nullptr;
  TQueryStatementCallback statementCallback_ = nullptr;
  void* saveUserData_ = nullptr;
  TSaveProgressCallback saveCallback_ = nullptr;
  bool progressWanted_ = false;
  TStatementKind kind_ = skNone;
  bool liveRequested_ = false;
  bool liveGranted_ = false;
  bool selectStar_ = false;
  std::int64_t rowsAffected_ = 0;
  double executionTime_ = 0;
};

}  // namespace tarn
