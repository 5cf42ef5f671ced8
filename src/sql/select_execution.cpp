// SELECT execution: the WHERE condition placed as filters on the source
// cursors (indexed parts first, then joins optimised, then the rest), the
// walk over combined rows with nested-loop joins, one result record per row,
// the single-row and simple-count answers, and the final duplicate removal,
// grouping and ordering of the result table; live results; sub-select
// membership.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <limits>

#include "core/errors.h"
#include "cursor/filter_optimizer.h"
#include "expressions/bcd_values.h"
#include "expressions/exp_token_stack.h"
#include "expressions/exp_tree.h"
#include "expressions/expression_evaluator.h"
#include "expressions/expression_verifier.h"
#include "expressions/filter_preparation.h"
#include "sql/combined_rows.h"
#include "sql/data_query.h"
#include "sql/query_statement.h"
#include "storage/formats/data_types.h"

namespace tarn {

namespace {

using TClock = std::chrono::steady_clock;

constexpr std::string_view kWhereClause = "WHERE or JOIN clause";

[[noreturn]] void RaiseSql(std::string_view message) { RaiseError(TARN_SQLPARSE, {}, {}, {}, {}, {}, {}, message); }

template <typename T>
T LoadValue(const TExpToken& token) {
  T value{};
  std::memcpy(&value, token.ValueData(), sizeof value);
  return value;
}

template <typename T>
void StoreValue(TExpToken& token, T value) {
  std::memcpy(token.ValueData(), &value, sizeof value);
}

// The value of a numeric, date or time token as a double (BCD through its
// fixed-point form).
double NumericValue(const TExpToken& token) {
  switch (token.DataType) {
    case dtSmallInt:
      return LoadValue<std::int16_t>(token);
    case dtWord:
      return LoadValue<std::uint16_t>(token);
    case dtInteger:
    case dtDate:
    case dtTime:
      return LoadValue<std::int32_t>(token);
    case dtLargeInt:
      return static_cast<double>(LoadValue<std::int64_t>(token));
    case dtFloat:
    case dtTimeStamp:
      return LoadValue<double>(token);
    case dtBCD: {
      std::int64_t fixed = 0;
      return BcdToFixed(token.ValueData(), fixed) ? FixedToFloat(fixed) : 0.0;
    }
    default:
      return 0;
  }
}

// Stores a double into a token of a numeric, date or time type; integer and
// date types take the value truncated toward zero, clamped to their range.
void StoreNumeric(TExpToken& token, double value) {
  const auto clampTo = [value](auto low, auto high) {
    const double t = std::trunc(value);
    if (!(t >= static_cast<double>(low))) return low;
    if (t >= static_cast<double>(high)) return high;
    return static_cast<decltype(low)>(t);
  };
  switch (token.DataType) {
    case dtSmallInt:
      StoreValue(token, clampTo(std::numeric_limits<std::int16_t>::min(), std::numeric_limits<std::int16_t>::max()));
      break;
    case dtWord:
      StoreValue(token, clampTo(std::numeric_limits<std::uint16_t>::min(), std::numeric_limits<std::uint16_t>::max()));
      break;
    case dtInteger:
    case dtDate:
    case dtTime:
      StoreValue(token, clampTo(std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max()));
      break;
    case dtLargeInt:
      StoreValue(token, clampTo(std::numeric_limits<std::int64_t>::min(), std::numeric_limits<std::int64_t>::max()));
      break;
    case dtFloat:
      StoreValue(token, value);
      break;
    case dtTimeStamp:
      StoreValue(token, std::trunc(value));
      break;
    case dtBCD: {
      std::int64_t fixed = 0;
      if (!FloatToFixed(value, fixed)) fixed = 0;
      FixedToBcd(fixed, token.Decimals, token.ValueData());
      break;
    }
    default:
      break;
  }
}

// sum += addend for two tokens of the same numeric type. Integers add in
// unsigned arithmetic (a sum past the type's range wraps instead of being
// undefined); BCD values add in fixed point and raise on overflow.
void AddInto(TExpToken& sum, const TExpToken& addend) {
  switch (sum.DataType) {
    case dtSmallInt:
      StoreValue(sum, static_cast<std::int16_t>(static_cast<std::uint16_t>(LoadValue<std::int16_t>(sum)) +
                                                static_cast<std::uint16_t>(LoadValue<std::int16_t>(addend))));
      break;
    case dtWord:
      StoreValue(sum, static_cast<std::uint16_t>(LoadValue<std::uint16_t>(sum) + LoadValue<std::uint16_t>(addend)));
      break;
    case dtInteger:
      StoreValue(sum, static_cast<std::int32_t>(static_cast<std::uint32_t>(LoadValue<std::int32_t>(sum)) +
                                                static_cast<std::uint32_t>(LoadValue<std::int32_t>(addend))));
      break;
    case dtLargeInt:
      StoreValue(sum, static_cast<std::int64_t>(static_cast<std::uint64_t>(LoadValue<std::int64_t>(sum)) +
                                                static_cast<std::uint64_t>(LoadValue<std::int64_t>(addend))));
      break;
    case dtFloat:
      StoreValue(sum, LoadValue<double>(sum) + LoadValue<double>(addend));
      break;
    case dtBCD: {
      std::int64_t a = 0, b = 0, r = 0;
      if (!BcdToFixed(sum.ValueData(), a) || !BcdToFixed(addend.ValueData(), b) || !FixedAdd(a, b, r)) {
        RaiseSql("Numeric overflow in aggregate function SUM");
      }
      FixedToBcd(r, sum.Decimals, sum.ValueData());
      break;
    }
    default:
      StoreNumeric(sum, NumericValue(sum) + NumericValue(addend));
      break;
  }
}

}  // namespace

// --- one execution ---------------------------------------------------------------------------

// The state of one execution of a canned SELECT: the join levels of the
// combined-row walk, the result record being built, the grouping
// accumulators and the scratch tokens of the aggregate arithmetic.
class TSelectExecution {
 public:
  explicit TSelectExecution(TDataQuery& query) : q_(query), result_(*query.resultCursor_) {}

  void Run();

 private:
  struct TAverage {
    double Sum = 0;
    std::int32_t Count = 0;
  };
  // Result records and grouping.
  void LoadFieldDefinitions();
  void BuildResultRecord(std::uint8_t* record);
  void PutToken(std::uint16_t column, std::uint8_t* record, const TExpToken& value);
  void ReadColumn(std::uint16_t column, const std::uint8_t* record, TExpToken& token);
  void StartGroup(std::uint8_t* record, TAverage* into);
  void CarryRunningSums(const std::uint8_t* group, std::uint8_t* next);
  void FoldInto(const std::uint8_t* record, std::uint8_t* group);
  void FinishAverages(std::uint8_t* group);
  bool Having(std::uint8_t* group);
  TSortCallbacks GroupCallbacks();
  std::vector<TFieldDefinition> SortFields(const std::vector<std::pair<std::uint16_t, bool>>& columns) const;

  void RunSingleRow();
  void RunRows();
  void PostProcess();
  std::int64_t FinalLimit() const;

  TDataQuery& q_;
  TDataCursor& result_;
  TCombinedRows rows_{q_};
  std::vector<TFieldDefinition> resultDefs_;  // the result table's fields, 1-based at [n - 1]
  std::vector<TFieldDefinition> sourceDefs_;  // per result column: its source field (plain columns)
  std::vector<std::uint8_t> template_;       // a record with the result table's defaults
  std::vector<TAverage> averages_, nextAverages_;
  TExpTokenPtr a_ = GetNewScratch(), b_ = GetNewScratch();

  static TExpTokenPtr GetNewScratch();
};

TExpTokenPtr TSelectExecution::GetNewScratch() { return GetNewExpTokenInstance(); }

// --- result records --------------------------------------------------------------------------

void TSelectExecution::LoadFieldDefinitions() {
  const std::uint16_t count = result_.GetPhysicalFieldCount();
  resultDefs_.resize(count);
  for (std::uint16_t f = 1; f <= count; ++f) result_.GetPhysicalFieldDefinition(f, resultDefs_[f - 1u]);
  sourceDefs_.assign(q_.ResultFields.size(), MakeEmptyFieldDefinition());
  for (const TResultField& field : q_.ResultFields) {
    if (field.Source != nullptr && field.SourceField != 0) {
      field.Source->Cursor->GetPhysicalFieldDefinitionByNumber(field.SourceField, sourceDefs_[field.Number - 1u]);
    }
  }
  template_.assign(result_.GetRecordBufferSize(), 0);
  result_.InitRecord(template_.data());
  averages_.assign(q_.ResultFields.size(), {});
  nextAverages_.assign(q_.ResultFields.size(), {});
}

void TSelectExecution::ReadColumn(std::uint16_t column, const std::uint8_t* record, TExpToken& token) {
  const TFieldDefinition& def = resultDefs_[column - 1u];
  token.NodeClass = enFIELD;
  token.FieldNumber = column;
  token.DataType = def.DataType;
  token.SubType = def.SubType;
  token.DataSize = def.PhysicalSize;
  token.Decimals = def.PhysicalDecimals;
  result_.FieldCallback()(result_.EvaluationContext(), record, token);
}

void TSelectExecution::PutToken(std::uint16_t column, std::uint8_t* record, const TExpToken& value) {
  if (value.IsNull) {
    result_.PutPhysicalField(column, record, nullptr);
    return;
  }
  const TFieldDefinition& def = resultDefs_[column - 1u];
  if (value.DataType == def.DataType || def.DataType == dtString || def.DataType == dtBlob) {
    result_.PutPhysicalField(column, record, value.ValueData());
    return;
  }
  // A value widened to its column's type (SUM of small integers, say).
  b_->Initialize();
  b_->DataType = def.DataType;
  b_->Decimals = def.PhysicalDecimals;
  b_->SetDataSize(def.PhysicalSize);
  switch (value.DataType) {
    case dtSmallInt:
    case dtWord:
    case dtInteger:
    case dtLargeInt: {
      const std::int64_t v = value.DataType == dtSmallInt  ? LoadValue<std::int16_t>(value)
                             : value.DataType == dtWord    ? LoadValue<std::uint16_t>(value)
                             : value.DataType == dtInteger ? LoadValue<std::int32_t>(value)
                                                           : LoadValue<std::int64_t>(value);
      if (def.DataType == dtLargeInt) {
        StoreValue(*b_, v);
      } else if (def.DataType == dtInteger) {
        StoreValue(*b_, static_cast<std::int32_t>(v));
      } else {
        StoreNumeric(*b_, static_cast<double>(v));
      }
      break;
    }
    default:
      StoreNumeric(*b_, NumericValue(value));
      break;
  }
  result_.PutPhysicalField(column, record, b_->ValueData());
}

void TSelectExecution::BuildResultRecord(std::uint8_t* record) {
  std::memcpy(record, template_.data(), template_.size());
  for (const TResultField& field : q_.ResultFields) {
    const std::uint16_t column = field.Number;
    const TFieldDefinition& def = resultDefs_[column - 1u];
    if (field.Calculation == rcNone && !field.Computed && field.Source != nullptr) {
      if (field.Source->AtEnd) {
        result_.PutPhysicalField(column, record, nullptr);
      } else if (def.DataType == dtBlob) {
        TExpToken& value = *a_;
        value.Initialize();
        value.FieldNumber = field.SourceField;
        value.Source = field.Source;
        TDataQuery::EvaluateExpressionFieldData(&q_, nullptr, value);
        if (value.IsNull || value.DataSize <= 0) {
          result_.PutPhysicalField(column, record, nullptr);
        } else {
          // A new BLOB of the result record, owned until the record is appended.
          Check(result_.OpenBlob(column, record, 0, /*physical=*/true, /*owner=*/true));
          Check(result_.PutBlob(column, record, /*physical=*/true, value.DataSize, value.ValueData(), 0));
        }
      } else {
        const TFieldDefinition& from = sourceDefs_[column - 1u];
        std::memcpy(record + def.FieldOffset, field.Source->Record.data() + from.FieldOffset,
                    static_cast<std::size_t>(def.PhysicalSize) + 1u);
      }
      continue;
    }
    if (field.Calculation == rcNone) {
      TExpTokenPtr value = EvaluateExpressionToken(*field.Expression, nullptr, &q_,
                                                   &TDataQuery::EvaluateExpressionFieldData, q_.SortID, q_.LanguageID);
      PutToken(column, record, *value);
      continue;
    }
    if (field.Calculation == rcCount && field.CountAll) {
      const std::int32_t one = 1;
      result_.PutPhysicalField(column, record, reinterpret_cast<const std::uint8_t*>(&one));
      continue;
    }
    // The row's own contribution: the argument's value, read straight from
    // its source record when the argument is a column.
    TExpTokenPtr evaluated;
    const TExpToken* value = nullptr;
    if (field.Source != nullptr) {
      const TFieldDefinition& from = sourceDefs_[column - 1u];
      TExpToken& read = *a_;
      read.NodeClass = enFIELD;
      read.FieldNumber = field.SourceField;
      read.Source = field.Source;
      read.DataType = from.DataType;
      read.SubType = from.SubType;
      read.DataSize = from.PhysicalSize;
      read.Decimals = from.PhysicalDecimals;
      TDataQuery::EvaluateExpressionFieldData(&q_, nullptr, read);
      value = &read;
    } else {
      evaluated = EvaluateExpressionToken(*field.Expression->GetArgumentExpToken(0), nullptr, &q_,
                                          &TDataQuery::EvaluateExpressionFieldData, q_.SortID, q_.LanguageID);
      value = evaluated.get();
    }
    if (field.Calculation == rcCount) {
      const std::int32_t one = 1;
      result_.PutPhysicalField(column, record, value->IsNull ? nullptr : reinterpret_cast<const std::uint8_t*>(&one));
      continue;
    }
    const bool isNull = value->IsNull;
    PutToken(column, record, *value);
    if (field.Calculation == rcAvg) {
      const std::int32_t counted = isNull ? 0 : 1;
      result_.PutPhysicalField(field.AvgCountColumn, record, reinterpret_cast<const std::uint8_t*>(&counted));
    }
  }
}

// --- grouping ----------------------------------------------------------------------------------

void TSelectExecution::StartGroup(std::uint8_t* record, TAverage* into) {
  for (const TResultField& field : q_.ResultFields) {
    if (field.Calculation != rcAvg) continue;
    ReadColumn(field.Number, record, *a_);
    TAverage& average = into[field.Number - 1u];
    average = {};
    if (!a_->IsNull) {
      average.Sum = NumericValue(*a_);
      average.Count = 1;
    }
  }
}

void TSelectExecution::CarryRunningSums(const std::uint8_t* group, std::uint8_t* next) {
  for (const TResultField& field : q_.ResultFields) {
    if (field.Calculation != rcRunSum) continue;
    ReadColumn(field.Number, group, *a_);
    if (a_->IsNull) continue;
    ReadColumn(field.Number, next, *b_);
    if (!b_->IsNull) AddInto(*a_, *b_);
    result_.PutPhysicalField(field.Number, next, a_->ValueData());
  }
}

void TSelectExecution::FoldInto(const std::uint8_t* record, std::uint8_t* group) {
  for (const TResultField& field : q_.ResultFields) {
    if (field.Calculation == rcNone) continue;
    ReadColumn(field.Number, record, *a_);
    if (a_->IsNull) continue;
    if (field.Calculation == rcAvg) {
      TAverage& average = averages_[field.Number - 1u];
      average.Sum += NumericValue(*a_);
      ++average.Count;
      continue;
    }
    ReadColumn(field.Number, group, *b_);
    if (b_->IsNull) {
      result_.PutPhysicalField(field.Number, group, a_->ValueData());
      continue;
    }
    switch (field.Calculation) {
      case rcSum:
      case rcRunSum:
      case rcCount:
        AddInto(*b_, *a_);
        result_.PutPhysicalField(field.Number, group, b_->ValueData());
        break;
      case rcMin:
        if (EvaluateComparison(eoLT, *a_, *b_, q_.SortID, q_.LanguageID)) {
          result_.PutPhysicalField(field.Number, group, a_->ValueData());
        }
        break;
      case rcMax:
        if (EvaluateComparison(eoGT, *a_, *b_, q_.SortID, q_.LanguageID)) {
          result_.PutPhysicalField(field.Number, group, a_->ValueData());
        }
        break;
      default:
        break;
    }
  }
}

void TSelectExecution::FinishAverages(std::uint8_t* group) {
  for (const TResultField& field : q_.ResultFields) {
    if (field.Calculation != rcAvg) continue;
    const TAverage& average = averages_[field.Number - 1u];
    ReadColumn(field.Number, group, *a_);
    a_->IsNull = false;
    std::memset(a_->ValueData(), 0, a_->ValueCapacity());
    StoreNumeric(*a_, average.Count == 0 ? 0.0 : average.Sum / average.Count);
    result_.PutPhysicalField(field.Number, group, a_->ValueData());
    result_.PutPhysicalField(field.AvgCountColumn, group, reinterpret_cast<const std::uint8_t*>(&average.Count));
  }
  // The group that follows (already opened by the sort) becomes current.
  averages_.swap(nextAverages_);
}

bool TSelectExecution::Having(std::uint8_t* group) {
  if (!q_.HavingTree) return true;
  TExpTokenPtr value = EvaluateExpressionToken(*q_.HavingTree, group, result_.EvaluationContext(),
                                               result_.FieldCallback(), q_.SortID, q_.LanguageID);
  return IsTrueValue(*value);
}

// The record sort opens a group with (record, record) for its first record
// and with (group, next) for each later one, then folds each further record
// of the group with (record, group), averages and tests the group when it
// closes. Averages are summed in doubles beside the records: the column
// keeps its argument's type.
TSortCallbacks TSelectExecution::GroupCallbacks() {
  TSortCallbacks callbacks;
  callbacks.Group = [this](bool open, std::uint8_t* a, std::uint8_t* b) {
    if (!open) {
      FoldInto(a, b);
    } else if (a == b) {
      StartGroup(a, averages_.data());
    } else {
      CarryRunningSums(a, b);
      StartGroup(b, nextAverages_.data());
    }
  };
  if (q_.HasAverages) callbacks.Average = [this](std::uint8_t* group) { FinishAverages(group); };
  if (q_.HavingTree) callbacks.Having = [this](std::uint8_t* group) { return Having(group); };
  return callbacks;
}

std::vector<TFieldDefinition> TSelectExecution::SortFields(
    const std::vector<std::pair<std::uint16_t, bool>>& columns) const {
  std::vector<TFieldDefinition> fields;
  for (const auto& [column, descending] : columns) {
    TFieldDefinition def = resultDefs_[column - 1u];
    def.Working.SortDescending = descending;
    fields.push_back(def);
  }
  return fields;
}

// --- the row loops -------------------------------------------------------------------------------

std::int64_t TSelectExecution::FinalLimit() const {
  std::int64_t limit = -1;
  for (const std::int64_t bound : {q_.Top, q_.MaxRowCount}) {
    if (bound >= 0 && (limit < 0 || bound < limit)) limit = bound;
  }
  return limit;
}

void TSelectExecution::RunSingleRow() {
  std::vector<std::uint8_t> row(template_.size());
  std::vector<std::uint8_t> group(template_.size());
  bool haveGroup = false;
  if (q_.SimpleCount) {
    std::memcpy(group.data(), template_.data(), template_.size());
    const std::int32_t count = q_.SourceTables.front()->Cursor->GetRecordCount();
    result_.PutPhysicalField(1, group.data(), reinterpret_cast<const std::uint8_t*>(&count));
    result_.AppendRecord(group.data(), {.Reposition = false});
    return;
  }
  if (rows_.First()) {
    do {
      if (rows_.ReportProgress()) break;
      if (!rows_.PassesScan()) continue;
      BuildResultRecord(row.data());
      if (!haveGroup) {
        group = row;
        StartGroup(group.data(), averages_.data());
        haveGroup = true;
      } else {
        FoldInto(row.data(), group.data());
      }
    } while (rows_.Next());
  }
  if (haveGroup) {
    if (q_.HasAverages) FinishAverages(group.data());
  } else {
    // No rows: every aggregate is NULL, and a count is 0.
    std::memcpy(group.data(), template_.data(), template_.size());
    for (const TResultField& field : q_.ResultFields) {
      if (field.Calculation == rcCount) {
        const std::int32_t zero = 0;
        result_.PutPhysicalField(field.Number, group.data(), reinterpret_cast<const std::uint8_t*>(&zero));
      } else {
        result_.PutPhysicalField(field.Number, group.data(), nullptr);
      }
    }
  }
  result_.AppendRecord(group.data(), {.Reposition = false});
}

void TSelectExecution::RunRows() {
  // Without a later step to apply them, TOP and the row bound cut the rows here.
  const bool laterStep = q_.Distinct || q_.HasGroupBy || q_.HasOrderBy;
  const std::int64_t limit = laterStep ? -1 : FinalLimit();
  std::int64_t rows = result_.GetRecordCount();
  std::vector<std::uint8_t> row(template_.size());
  if (limit >= 0 && rows >= limit) return;
  if (!rows_.First()) return;
  do {
    if (rows_.ReportProgress()) break;
    if (!rows_.PassesScan()) continue;
    BuildResultRecord(row.data());
    result_.AppendRecord(row.data(), {.Reposition = false});
    if (q_.HasBlobResults) result_.FreeAllBlobs(/*all=*/false);
    if (limit >= 0 && ++rows >= limit) break;
  } while (rows_.Next());
}

void TSelectExecution::PostProcess() {
  const bool order = q_.HasOrderBy && !q_.OrderSatisfied;
  const std::int64_t limit = FinalLimit();
  if (q_.Distinct) {
    std::vector<std::pair<std::uint16_t, bool>> columns;
    for (const TResultField& field : q_.ResultFields) columns.emplace_back(field.Number, false);
    TSortOptions options;
    options.Distinct = true;
    result_.SortRecords(SortFields(columns), order ? -1 : limit, {}, options);
  }
  if (q_.HasGroupBy) {
    std::vector<std::pair<std::uint16_t, bool>> columns;
    for (const TGroupByField& item : q_.GroupBy) columns.emplace_back(item.ResultColumn, false);
    result_.SortRecords(SortFields(columns), order ? -1 : limit, GroupCallbacks(), {});
  }
  if (order) {
    std::vector<std::pair<std::uint16_t, bool>> columns;
    for (const TOrderByField& item : q_.OrderBy) columns.emplace_back(item.ResultColumn, item.Descending);
    TSortOptions options;
    options.CaseInsensitive = q_.CaseInsensitiveOrder;
    result_.SortRecords(SortFields(columns), limit, {}, options);
  }
  rows_.ReportEnd();
}

void TSelectExecution::Run() {
  q_.ResetAllSourceFilters();
  for (const auto& source : q_.SourceTables) source->Cursor->Refresh();
  if (q_.UnionPart == nullptr) {
    result_.DropAllFilters();
    // A new result table is empty already; truncating its files anyway
    // would only make the file system write them out when they close.
    if (result_.GetPhysicalRecordsUsed() > 0) result_.EmptyTable();
  }
  LoadFieldDefinitions();

  rows_.SetReadInBlocks(true);
  rows_.Prepare();
  if (q_.SingleRowResult) {
    RunSingleRow();
  } else {
    RunRows();
  }
  if (!q_.IsUnionPart && !q_.SingleRowResult) PostProcess();
}

// --- TDataQuery ------------------------------------------------------------------------------

namespace {

// Holds the WITH LOCKS read locks of the source tables for one execution.
class TSourceReadLocks {
 public:
  explicit TSourceReadLocks(TDataQuery& query) {
    if (!query.WithLocks) return;
    for (const auto& source : query.SourceTables) {
      source->Cursor->UserReadLockTable();
      locked_.push_back(source->Cursor.get());
    }
  }
  ~TSourceReadLocks() {
    for (TDataCursor* cursor : locked_) {
      try {
        cursor->UserReadUnlockTable();
      } catch (const ETarnEngineError&) {
        // The lock goes with the cursor when it closes.
      }
    }
  }
  TSourceReadLocks(const TSourceReadLocks&) = delete;
  TSourceReadLocks& operator=(const TSourceReadLocks&) = delete;

 private:
  std::vector<TDataCursor*> locked_;
};

}  // namespace

void TDataQuery::ResetAllSourceFilters() {
  for (const auto& source : SourceTables) {
    if (source->Cursor && source->Cursor->IsOpen()) {
      for (TFilterHandle handle : source->Filters) source->Cursor->DropFilter(handle);
    }
    source->Filters.clear();
    source->AtEnd = false;
    for (const auto& join : source->Joins) {
      if (join->FilterHandle != 0 && join->Inner->Cursor && join->Inner->Cursor->IsOpen()) {
        join->Inner->Cursor->DropFilter(join->FilterHandle);
      }
      join->FilterHandle = 0;
    }
  }
  TempScanExpression.reset();
  subSelectValues_.clear();
  subSelectLoaded_ = false;
}

void TDataQuery::ExecuteLiveQuery() {
  TSourceTable& source = *SourceTables.front();
  TDataCursor& cursor = *source.Cursor;
  ResetAllSourceFilters();
  std::uint8_t position = 0;
  if (HasOrderBy && FindOrderIndex(position)) cursor.SetIndexPos(position);
  if (WhereTree) {
    VerifyExpressionToken(TARN_SQLPARSE, statement_.Directory().Name(), {}, true, &VerifyExpressionFieldData, this,
                          nullptr, *WhereTree, kWhereClause);
    if (WhereTree->DataType != dtBoolean) RaiseSql("WHERE or JOIN clause must be a boolean expression");
    TFilterCompare compare;
    compare.NoPartialCompare = true;
    compare.SortID = SortID;
    compare.LanguageID = LanguageID;
    TAddFilterOptions options;
    options.Tree = BuildNextFilterExpression(*WhereTree, this, &EvaluateExpressionFieldData, compare);
    const TFilterHandle handle = cursor.AddFilter(std::move(options));
    cursor.ActivateFilter(handle);
    source.Filters.push_back(handle);
  }
  cursor.SetToBegin();
}

void TDataQuery::ExecuteQuery(TDataCursor*& result) {
  const TClock::time_point start = TClock::now();
  result = nullptr;
  if (Kind != skSelect) {
    if (Kind == skInsert || Kind == skUpdate || Kind == skDelete) {
      ExecuteDataChangeQuery();
    } else {
      ExecuteDefinitionQuery();
    }
    ExecutionTime = std::chrono::duration<double>(TClock::now() - start).count();
    return;
  }
  {
    TSourceReadLocks locks(*this);
    if (LiveResult) {
      ExecuteLiveQuery();
    } else {
      TSelectExecution(*this).Run();
    }
  }
  resultCursor_->SetToBegin();
  if (!LiveResult) resultCursor_->Refresh();
  RowsAffected = resultCursor_->GetRecordCount();
  ExecutionTime = std::chrono::duration<double>(TClock::now() - start).count();
  result = resultCursor_;
}

// --- sub-selects ------------------------------------------------------------------------------

int TDataQuery::SubSelectColumnCount() const { return static_cast<int>(ResultFields.size()); }

bool TDataQuery::TypeSubSelectColumn(TExpToken& node) {
  if (ResultFields.empty() || ResultFields.front().DataType == 0) return false;
  const TResultField& column = ResultFields.front();
  node.DataType = column.DataType;
  node.SubType = column.SubType;
  node.DataSize = column.Size;
  node.Decimals = column.Decimals;
  return true;
}

bool TDataQuery::SubSelectContains(const TExpToken& value) {
  if (resultCursor_ == nullptr) return false;
  if (!subSelectLoaded_) {
    // The answer's first column, read once per execution.
    TDataCursor& cursor = *resultCursor_;
    std::vector<std::uint8_t> record(cursor.GetRecordBufferSize());
    TFieldDefinition def;
    cursor.GetFieldDefinition(1, def);
    cursor.SetToBegin();
    while (cursor.GetNextRecord(record.data()) == 0) {
      TExpTokenPtr token = GetNewExpTokenInstance();
      token->NodeClass = enFIELD;
      token->FieldNumber = def.FieldNumber;
      token->DataType = def.DataType;
      token->SubType = def.SubType;
      token->DataSize = def.PhysicalSize;
      token->Decimals = def.PhysicalDecimals;
      cursor.FieldCallback()(cursor.EvaluationContext(), record.data(), *token);
      token->NodeClass = enCONST;
      subSelectValues_.push_back(std::move(token));
    }
    subSelectLoaded_ = true;
  }
  for (const TExpTokenPtr& candidate : subSelectValues_) {
    if (EvaluateComparison(eoEQ, value, *candidate, SortID, LanguageID)) return true;
  }
  return false;
}

}  // namespace tarn
