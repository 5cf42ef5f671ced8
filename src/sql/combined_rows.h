// TCombinedRows: the rows a SELECT, UPDATE or DELETE walks. It places the
// WHERE condition on the source cursors (the parts an index serves as
// filters first, then the join order optimised, then the other parts as
// filters or per-row conditions), and walks the combined rows of the source
// tables by nested loops: each join's condition, with the outer row's values
// put in, becomes a filter on the joined table, and the innermost joins
// advance first, like an odometer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "sql/data_query.h"

namespace tarn {

// Whether an evaluated condition holds: a non-NULL boolean that is not 0.
bool IsTrueValue(const TExpToken& value);

class TCombinedRows {
 public:
  explicit TCombinedRows(TDataQuery& query) : q_(query) {}
  TCombinedRows(const TCombinedRows&) = delete;
  TCombinedRows& operator=(const TCombinedRows&) = delete;

  // Verifies what remains of the WHERE tree, the scan expression and every
  // join condition (each must be boolean), places the WHERE parts and orders
  // the walk. The source filters of an earlier execution must be gone
  // (ResetAllSourceFilters).
  void Prepare();
  // Reads the driving table in blocks of records (one cursor operation each)
  // instead of one record at a time. Its cursor is then not on the current
  // row, so only a walk that changes no row may ask for it.
  void SetReadInBlocks(bool value) noexcept { readInBlocks_ = value; }
  // The first and the next combined row: each source table's Record holds
  // its row, or AtEnd is set for an outer join without a match.
  bool First();
  bool Next();
  // Whether the current combined row satisfies the conditions evaluated per
  // row (over several tables, or single-table parts no filter serves).
  bool PassesScan();
  // Counts the driving table's rows and reports progress every step; true
  // when the callback asked to stop.
  bool ReportProgress();
  // Reports 100 percent unless that was reported already.
  void ReportEnd();
  TSourceTable& Driver() const { return *levels_.front().Table; }

 private:
  struct TLevel {
    TSourceTable* Table = nullptr;
    TTableJoin* Join = nullptr;  // none for the driving table and unjoined tables
  };
  // A part of the WHERE tree that refers to one source table.
  struct TWherePart {
    TExpToken* Node = nullptr;
    TSourceTable* Table = nullptr;
    TExpTokenPtr Prepared;
    TOptimizeLevel Level = olNone;
  };

  void VerifyConditions();
  void CollectWhereParts(TExpToken* node, TExpOperator parentOperator, std::vector<TWherePart>& parts);
  void PlaceWherePart(TWherePart& part, int pass);
  void AddSourceFilter(TSourceTable& table, TExpTokenPtr prepared);
  TExpTokenPtr PrepareForFilter(const TExpToken& node) const;
  void BuildLevels();
  void AddLevelsJoinedFrom(TSourceTable& table, std::vector<bool>& placed);
  bool InitLevel(std::size_t i);
  bool AdvanceLevel(std::size_t i);
  bool Settle(std::size_t from);
  bool NextFromBlock(TSourceTable& table);

  TDataQuery& q_;
  std::vector<TLevel> levels_;
  std::int32_t lastDriverRecord_ = -1;
  std::int64_t driverRows_ = 0;
  std::int32_t driverCount_ = 0;
  int lastPercent_ = 0;
  int progressStep_ = 100;
  bool readInBlocks_ = false;
  std::vector<std::uint8_t> block_;
  std::int32_t blockCount_ = 0;
  std::int32_t blockNext_ = 0;
  bool blockEnd_ = false;
};

}  // namespace tarn
