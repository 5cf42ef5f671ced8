// TCombinedRows: WHERE parts placed on the source cursors and the
// nested-loop walk over the combined rows of the source tables.
#include "sql/combined_rows.h"

#include <algorithm>
#include <cstring>

#include "core/errors.h"
#include "cursor/filter_optimizer.h"
#include "expressions/exp_tree.h"
#include "expressions/expression_evaluator.h"
#include "expressions/expression_verifier.h"
#include "expressions/filter_preparation.h"
#include "sql/query_statement.h"
#include "storage/formats/data_types.h"
#include "storage/formats/record_layout.h"

namespace tarn {

namespace {

constexpr std::string_view kWhereClause = "WHERE or JOIN clause";

[[noreturn]] void RaiseSql(std::string_view message) { RaiseError(TARN_SQLPARSE, {}, {}, {}, {}, {}, {}, message); }

}  // namespace

bool IsTrueValue(const TExpToken& value) {
  if (value.IsNull) return false;
  std::uint16_t flag = 0;
  std::memcpy(&flag, value.ValueData(), sizeof flag);
  return flag != 0;
}

void TCombinedRows::Prepare() {
  VerifyConditions();
  std::vector<TWherePart> parts;
  CollectWhereParts(q_.WhereTree.get(), eoNOTDEFINED, parts);
  for (TWherePart& part : parts) {
    part.Prepared = PrepareForFilter(*part.Node);
    part.Level = GetExpressionOptimizeLevel(*part.Table->Cursor, eoNOTDEFINED, *part.Prepared, TCountCheck::Off);
  }
  for (TWherePart& part : parts) PlaceWherePart(part, 1);
  if (q_.HasJoins && !q_.NoJoinOptimize && q_.CanOptimizeTableJoins()) q_.OptimizeTableJoins();
  for (TWherePart& part : parts) PlaceWherePart(part, 2);
  BuildLevels();
  driverCount_ = levels_.empty() ? 0 : levels_.front().Table->Cursor->GetRecordCount();
  progressStep_ = std::max(1, q_.Statement().GetProgressPercent());
}

// --- WHERE as filters ------------------------------------------------------------------------

void TCombinedRows::VerifyConditions() {
  const std::string database = q_.Statement().Directory().Name();
  const auto verify = [&](TExpTokenPtr& tree) {
    if (!tree) return;
    VerifyExpressionToken(TARN_SQLPARSE, database, {}, true, &TDataQuery::VerifyExpressionFieldData, &q_, nullptr,
                          *tree, kWhereClause);
    if (tree->DataType != dtBoolean) RaiseSql("WHERE or JOIN clause must be a boolean expression");
  };
  verify(q_.WhereTree);
  verify(q_.ScanExpression);
  for (const auto& source : q_.SourceTables) {
    for (const auto& join : source->Joins) verify(join->Condition);
  }
}

TExpTokenPtr TCombinedRows::PrepareForFilter(const TExpToken& node) const {
  TFilterCompare compare;
  compare.NoPartialCompare = true;
  compare.SortID = q_.SortID;
  compare.LanguageID = q_.LanguageID;
  return BuildNextFilterExpression(node, &q_, &TDataQuery::EvaluateExpressionFieldData, compare);
}

void TCombinedRows::CollectWhereParts(TExpToken* node, TExpOperator parentOperator,
                                         std::vector<TWherePart>& parts) {
  if (node == nullptr) return;
  TSourceTable* table = nullptr;
  const bool multiple = q_.ContainsMultipleDataSources(node, &table);
  if (!multiple && table != nullptr) {
    TWherePart part;
    part.Node = node;
    part.Table = table;
    parts.push_back(std::move(part));
    return;
  }
  if (multiple && node->NodeClass == enBINARY && node->Operator == eoAND) {
    CollectWhereParts(node->Left.get(), eoAND, parts);
    CollectWhereParts(node->Right.get(), eoAND, parts);
    return;
  }
  // Several tables in a part that cannot be split, or no table at all: the
  // part is evaluated for every combined row.
  q_.AddTempScanTokens(CopyExpressionTokens(node), parentOperator);
}

void TCombinedRows::AddSourceFilter(TSourceTable& table, TExpTokenPtr prepared) {
  TAddFilterOptions options;
  options.Tree = std::move(prepared);
  const TFilterHandle handle = table.Cursor->AddFilter(std::move(options));
  table.Cursor->ActivateFilter(handle);
  table.Filters.push_back(handle);
}

void TCombinedRows::PlaceWherePart(TWherePart& part, int pass) {
  TSourceTable& table = *part.Table;
  if (q_.SimpleCount) {
    if (pass == 1) AddSourceFilter(table, std::move(part.Prepared));
    return;
  }
  if (pass == 1) {
    if (part.Level == olNone) return;
    if (q_.IsTargetOfOuterJoin(table)) {
      q_.AddTempScanTokens(CopyExpressionTokens(part.Node), eoAND);
    } else {
      AddSourceFilter(table, std::move(part.Prepared));
    }
    return;
  }
  if (part.Level != olNone) return;
  if (!q_.HasJoins || q_.IsTargetOfJoin(table)) {
    q_.AddTempScanTokens(CopyExpressionTokens(part.Node), eoAND);
  } else {
    AddSourceFilter(table, std::move(part.Prepared));
  }
}

// --- combined rows ------------------------------------------------------------------------------

void TCombinedRows::AddLevelsJoinedFrom(TSourceTable& table, std::vector<bool>& placed) {
  for (const auto& join : table.Joins) {
    const auto at = static_cast<std::size_t>(
        std::find_if(q_.SourceTables.begin(), q_.SourceTables.end(),
                     [&](const auto& s) { return s.get() == join->Inner; }) -
        q_.SourceTables.begin());
    if (at >= placed.size() || placed[at]) continue;
    placed[at] = true;
    levels_.push_back({join->Inner, join.get()});
    AddLevelsJoinedFrom(*join->Inner, placed);
  }
}

void TCombinedRows::BuildLevels() {
  levels_.clear();
  std::vector<bool> placed(q_.SourceTables.size(), false);
  for (std::size_t i = 0; i < q_.SourceTables.size(); ++i) {
    if (placed[i]) continue;
    // The driving table, then any table no join reaches (a cross product).
    placed[i] = true;
    levels_.push_back({q_.SourceTables[i].get(), nullptr});
    AddLevelsJoinedFrom(*q_.SourceTables[i], placed);
  }
}

bool TCombinedRows::InitLevel(std::size_t i) {
  TLevel& level = levels_[i];
  TSourceTable& table = *level.Table;
  TDataCursor& cursor = *table.Cursor;
  if (level.Join != nullptr && level.Join->Condition) {
    TExpTokenPtr joinFilter = q_.BuildNextJoinFilter(*level.Join);
    if (joinFilter) {
      TExpTokenPtr prepared = PrepareForFilter(*joinFilter);
      if (level.Join->FilterHandle == 0) {
        TAddFilterOptions options;
        options.Tree = std::move(prepared);
        level.Join->FilterHandle = cursor.AddFilter(std::move(options));
        cursor.ActivateFilter(level.Join->FilterHandle);
      } else {
        cursor.ResetFilter(std::move(prepared), level.Join->FilterHandle);
      }
    }
  }
  cursor.SetToBegin();
  if (i == 0 && readInBlocks_) {
    blockCount_ = blockNext_ = 0;
    blockEnd_ = false;
    return NextFromBlock(table);
  }
  if (cursor.GetNextRecord(table.Record.data()) == 0) {
    table.AtEnd = false;
    return true;
  }
  table.AtEnd = true;
  // An outer join without a match gives one row with the table at its end.
  return level.Join != nullptr && (level.Join->Type == jtLeftOuter || level.Join->Type == jtRightOuter);
}

bool TCombinedRows::NextFromBlock(TSourceTable& table) {
  constexpr std::int32_t kBlockRecords = 256;
  const std::size_t size = table.Record.size();
  if (blockNext_ >= blockCount_) {
    if (blockEnd_) {
      table.AtEnd = true;
      return false;
    }
    block_.resize(size * kBlockRecords);
    std::int32_t count = kBlockRecords;
    blockEnd_ = table.Cursor->ReadRecordBlock(count, block_.data()) != 0;
    blockCount_ = count;
    blockNext_ = 0;
    if (count == 0) {
      table.AtEnd = true;
      return false;
    }
  }
  std::memcpy(table.Record.data(), block_.data() + static_cast<std::size_t>(blockNext_) * size, size);
  ++blockNext_;
  table.AtEnd = false;
  return true;
}

bool TCombinedRows::AdvanceLevel(std::size_t i) {
  TSourceTable& table = *levels_[i].Table;
  if (table.AtEnd) return false;
  if (i == 0 && readInBlocks_) return NextFromBlock(table);
  if (table.Cursor->GetNextRecord(table.Record.data()) == 0) return true;
  table.AtEnd = true;
  return false;
}

// Positions the levels from `from` on for the current rows of the levels
// before it, moving those on (innermost first) when a level finds no row.
bool TCombinedRows::Settle(std::size_t from) {
  std::size_t i = from;
  while (i < levels_.size()) {
    if (InitLevel(i)) {
      ++i;
      continue;
    }
    for (;;) {
      if (i == 0) return false;
      --i;
      if (AdvanceLevel(i)) break;
    }
    ++i;
  }
  return true;
}

bool TCombinedRows::First() {
  if (levels_.empty()) return false;
  if (!InitLevel(0)) return false;
  return Settle(1);
}

bool TCombinedRows::Next() {
  std::size_t i = levels_.size();
  while (i > 0) {
    --i;
    if (AdvanceLevel(i)) return Settle(i + 1);
  }
  return false;
}

bool TCombinedRows::PassesScan() {
  for (const TExpTokenPtr* tree : {&q_.ScanExpression, &q_.TempScanExpression}) {
    if (!*tree) continue;
    TExpTokenPtr value = EvaluateExpressionToken(**tree, nullptr, &q_, &TDataQuery::EvaluateExpressionFieldData,
                                                 q_.SortID, q_.LanguageID);
    if (!IsTrueValue(*value)) return false;
  }
  return true;
}

bool TCombinedRows::ReportProgress() {
  const std::int32_t record = LoadInt32(levels_.front().Table->Record.data() + kRecordNumberOffset);
  if (record == lastDriverRecord_) return false;
  lastDriverRecord_ = record;
  ++driverRows_;
  if (driverCount_ <= 0) return false;
  const int percent = static_cast<int>(std::min<std::int64_t>(100, driverRows_ * 100 / driverCount_));
  if (percent < lastPercent_ + progressStep_) return false;
  lastPercent_ = percent;
  return q_.Statement().ReportProgress(percent);
}


void TCombinedRows::ReportEnd() {
  if (lastPercent_ >= 100) return;
  lastPercent_ = 100;
  q_.Statement().ReportProgress(100);
}

}  // namespace tarn
