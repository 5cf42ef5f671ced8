// Preparation and execution of INSERT, UPDATE and DELETE: opening the
// tables writable and placing the joins, appending one row of VALUES or every
// row of a SELECT's result, changing or deleting the rows of the combined-row
// walk (each target record at most once), and committing the changes in
// batches through the directory's transaction when the caller has none.
#include <algorithm>
#include <cstring>
#include <unordered_set>
#include <vector>

#include "core/errors.h"
#include "engine/data_directory.h"
#include "expressions/exp_token_stack.h"
#include "expressions/expression_evaluator.h"
#include "sql/combined_rows.h"
#include "sql/data_query.h"
#include "sql/dml_values.h"
#include "sql/query_statement.h"
#include "storage/tables/data_table.h"

namespace tarn {

namespace {

// Rows between two commits when the statement names none: about 32 KB of
// records, at most 8192 rows, at least one.
std::int32_t DefaultCommitInterval(const TDataCursor& cursor) {
  const std::int32_t size = std::max<std::int32_t>(1, cursor.GetPhysicalRecordSize());
  return std::max<std::int32_t>(1, std::min<std::int32_t>(32768 / size, 8192));
}

}  // namespace

// One execution of a data-changing statement.
class TDataChangeExecution {
 public:
  explicit TDataChangeExecution(TDataQuery& query)
      : q_(query), target_(*query.TargetTable), cursor_(*target_.Cursor), directory_(cursor_.Directory()) {}
  TDataChangeExecution(const TDataChangeExecution&) = delete;
  TDataChangeExecution& operator=(const TDataChangeExecution&) = delete;

  void RunInsert();
  void RunSubSelectInsert();
  void RunUpdateOrDelete();

 private:
  // Batches: a transaction of the statement's own when the directory has
  // none, committed every interval rows and at the end; in the caller's
  // transaction only COMMIT INTERVAL commits.
  void BeginBatch();
  void CountRow();
  void EndBatch();
  void AbandonBatch() noexcept;

  TExpTokenPtr EvaluateValue(const TExpToken& expression) const;
  void UpdateCurrentRecord();

  TDataQuery& q_;
  TSourceTable& target_;
  TDataCursor& cursor_;
  TDataDirectory& directory_;
  bool ownTransaction_ = false;
  std::int32_t interval_ = 1;
  std::int64_t changed_ = 0;
};

void TDataChangeExecution::BeginBatch() {
  changed_ = 0;
  interval_ = q_.CommitIntervalGiven ? q_.CommitInterval : DefaultCommitInterval(cursor_);
  ownTransaction_ = !directory_.InTransaction();
  if (ownTransaction_) directory_.StartTransaction();
}

void TDataChangeExecution::CountRow() {
  ++changed_;
  const bool commit = (ownTransaction_ || q_.CommitIntervalGiven) && changed_ % interval_ == 0;
  if (commit) {
    directory_.CommitTransaction({.EndTransaction = false, .ForceFlush = q_.CommitFlush});
    // The cursor's own changes are not another's.
    cursor_.SynchLastUpdateStamps();
  }
  if (commit || !ownTransaction_) q_.RowsAffected = changed_;
}

void TDataChangeExecution::EndBatch() {
  if (ownTransaction_) {
    ownTransaction_ = false;
    directory_.CommitTransaction({.EndTransaction = true, .ForceFlush = q_.CommitFlush});
  }
  q_.RowsAffected = changed_;
}

void TDataChangeExecution::AbandonBatch() noexcept {
  if (!ownTransaction_) return;
  ownTransaction_ = false;
  try {
    directory_.RollbackTransaction();
  } catch (const ETarnEngineError&) {
    // The failure that ended the statement is the one to report.
  }
}

TExpTokenPtr TDataChangeExecution::EvaluateValue(const TExpToken& expression) const {
  return EvaluateExpressionToken(expression, nullptr, &q_, &TDataQuery::EvaluateExpressionFieldData, q_.SortID,
                                 q_.LanguageID);
}

void TDataChangeExecution::RunInsert() {
  q_.ResetAllSourceFilters();
  q_.TempScanExpression.reset();
  cursor_.SetSuppressAutoIncValues(q_.SuppressAutoInc);
  std::vector<std::uint8_t>& record = target_.Record;
  cursor_.InitRecord(record.data());
  try {
    for (std::size_t i = 0; i < q_.UpdateFields.size(); ++i) {
      const TExpTokenPtr value = EvaluateValue(*q_.UpdateValues[i].Expression);
      StoreUpdateValue(cursor_, record.data(), q_.UpdateFields[i], *value, q_.UpdateValues[i].ValueText,
                       {.TruncateBlob = false, .Statement = "INSERT"});
    }
    cursor_.AppendRecord(record.data(), {.Reposition = false});
  } catch (...) {
    cursor_.FreeAllBlobs(/*all=*/false);
    throw;
  }
  cursor_.FreeAllBlobs(/*all=*/false);
  q_.RowsAffected = 1;
}

void TDataChangeExecution::RunSubSelectInsert() {
  TDataCursor& result = *q_.InsertSelect->ResultCursor();
  for (const auto& source : q_.SourceTables) source->Cursor->Refresh();
  cursor_.SetSuppressAutoIncValues(q_.SuppressAutoInc);
  std::vector<std::uint8_t> row(result.GetRecordBufferSize());
  std::vector<std::uint8_t>& record = target_.Record;
  const std::int32_t count = result.GetRecordCount();
  const int step = std::max(1, q_.Statement().GetProgressPercent());
  int lastPercent = 0;
  std::int64_t counter = 1;
  BeginBatch();
  try {
    result.SetToBegin();
    while (result.GetNextRecord(row.data()) == 0) {
      bool stop = false;
      if (count > 0) {
        const int percent = static_cast<int>(std::min<std::int64_t>(100, counter * 100 / count));
        if (percent >= lastPercent + step) {
          lastPercent = percent;
          stop = q_.Statement().ReportProgress(percent);
        }
      }
      ++counter;
      cursor_.InitRecord(record.data());
      try {
        for (std::size_t i = 0; i < q_.UpdateFields.size(); ++i) {
          const TExpTokenPtr value =
              EvaluateExpressionToken(*q_.UpdateValues[i].Expression, row.data(), result.EvaluationContext(),
                                      result.FieldCallback(), q_.SortID, q_.LanguageID);
          StoreUpdateValue(cursor_, record.data(), q_.UpdateFields[i], *value, q_.UpdateValues[i].ValueText,
                           {.TruncateBlob = false, .Statement = "INSERT"});
        }
        cursor_.AppendRecord(record.data(), {.Reposition = false});
      } catch (...) {
        cursor_.FreeAllBlobs(/*all=*/false);
        throw;
      }
      cursor_.FreeAllBlobs(/*all=*/false);
      CountRow();
      if (stop) break;
    }
    EndBatch();
  } catch (...) {
    AbandonBatch();
    throw;
  }
  if (lastPercent < 100) q_.Statement().ReportProgress(100);
}

void TDataChangeExecution::UpdateCurrentRecord() {
  std::vector<std::uint8_t>& record = target_.Record;
  const std::uint16_t code = cursor_.GetCurrentRecord(record.data(), /*lock=*/true);
  if (code != 0) RaiseError(code, {}, {}, {}, cursor_.TableName(), {}, {}, {});
  try {
    // Values read the same buffer: one that reads a column assigned earlier
    // in the SET list sees the new value.
    for (std::size_t i = 0; i < q_.UpdateFields.size(); ++i) {
      const TExpTokenPtr value = EvaluateValue(*q_.UpdateValues[i].Expression);
      StoreUpdateValue(cursor_, record.data(), q_.UpdateFields[i], *value, q_.UpdateValues[i].ValueText,
                       {.TruncateBlob = true, .Statement = "UPDATE"});
    }
    cursor_.ModifyRecord(record.data(), {.Reposition = false, .Unlock = true});
  } catch (...) {
    cursor_.FreeAllBlobs(/*all=*/false);
    try {
      cursor_.CancelRecord();
    } catch (const ETarnEngineError&) {
      // The failure that ended the row is the one to report.
    }
    throw;
  }
  cursor_.FreeAllBlobs(/*all=*/false);
}

void TDataChangeExecution::RunUpdateOrDelete() {
  q_.ResetAllSourceFilters();
  for (const auto& source : q_.SourceTables) source->Cursor->Refresh();
  if (q_.Kind == skUpdate) cursor_.SetSuppressAutoIncValues(q_.SuppressAutoInc);
  TCombinedRows rows(q_);
  rows.Prepare();
  // A target record met again through another joined row, or again after
  // its change moved it along the walk, is changed only once.
  std::unordered_set<std::int32_t> done;
  BeginBatch();
  try {
    if (rows.First()) {
      do {
        const bool stop = rows.ReportProgress();
        if (!target_.AtEnd && rows.PassesScan() && done.insert(cursor_.GetPhysicalRecordNumber()).second) {
          if (q_.Kind == skUpdate) {
            UpdateCurrentRecord();
          } else {
            cursor_.DeleteRecord(target_.Record.data(), {.Reposition = false});
          }
          CountRow();
        }
        if (stop) break;
      } while (rows.Next());
    }
    EndBatch();
  } catch (...) {
    AbandonBatch();
    throw;
  }
  rows.ReportEnd();
}

// --- TDataQuery ------------------------------------------------------------------------------

void TDataQuery::PrepareDataChangeQuery() {
  OpenSourceTables();
  TargetTable = SourceTables.front().get();
  if (Kind == skInsert) {
    if (SubSelectInsert) ProcessSubSelectUpdateValues();
    VerifyUpdateFields(/*insert=*/true);
    VerifyUpdateValues();
    return;
  }
  // The changed table keeps driving the walk.
  DataChangeTarget = TargetTable;
  SetupDefaultTableJoins();
  ReduceWhereExpression();
  ReduceDefaultTableJoins();
  SortJoinOrders();
  if (Kind == skUpdate) {
    VerifyUpdateFields(/*insert=*/false);
    VerifyUpdateValues();
  }
}

void TDataQuery::ExecuteDataChangeQuery() {
  RowsAffected = 0;
  TDataChangeExecution run(*this);
  if (Kind == skInsert) {
    if (SubSelectInsert) {
      run.RunSubSelectInsert();
    } else {
      run.RunInsert();
    }
    return;
  }
  run.RunUpdateOrDelete();
}

}  // namespace tarn
