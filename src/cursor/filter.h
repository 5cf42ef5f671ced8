// TFilter: one filter of a cursor, an expression tree or a callback, with the
// records bitmap it answers. Building the bitmap uses index ranges where the
// optimiser allowed it (language 0 tables with count checks build the
// complement of ranges over half the table), text-index word ranges for
// TEXTSEARCH, and record-by-record evaluation everywhere else. Every build
// answers false when the source reported that its index or record cache
// changed underneath; the caller then starts over.
#pragma once

#include <cstdint>
#include <memory>

#include "cursor/filter_optimizer.h"
#include "cursor/filter_source.h"
#include "cursor/key_ranges.h"
#include "expressions/exp_token.h"
#include "storage/records/records_bitmap.h"

namespace tarn {

// Keeps the record (true) or drops it; cursor is the owning cursor as given
// to the filter.
using TFilterCallback = bool (*)(std::int32_t owner, void* cursor, const std::uint8_t* record,
                                 std::int32_t recordNumber);

enum class TFilterOrder : std::uint8_t { Normal, AfterOthers };

struct TFilterOptions {
  TFilterOrder Order = TFilterOrder::Normal;
  TCountCheck CountCheck = TCountCheck::Off;
};

class TFilter {
 public:
  // An expression filter owning its tree.
  TFilter(TFilterSource& source, void* cursor, TExpTokenPtr expression, const TFilterOptions& options);
  // An expression filter on a tree its caller keeps.
  TFilter(TFilterSource& source, void* cursor, TExpToken* expression, const TFilterOptions& options);
  // A callback filter.
  TFilter(TFilterSource& source, void* cursor, std::int32_t callbackOwner, TFilterCallback callback,
          const TFilterOptions& options);
  ~TFilter();
  TFilter(const TFilter&) = delete;
  TFilter& operator=(const TFilter&) = delete;

  bool IsActive() const noexcept { return active_; }
  void Activate() noexcept { active_ = true; }
  void Deactivate() noexcept { active_ = false; }
  bool IsCallback() const noexcept { return callback_ != nullptr; }
  std::int32_t CallbackOwner() const noexcept { return callbackOwner_; }
  TFilterCallback Callback() const noexcept { return callback_; }
  bool AfterOthers() const noexcept { return options_.Order == TFilterOrder::AfterOthers; }
  bool CountCheck() const noexcept { return options_.CountCheck == TCountCheck::On; }
  TOptimizeLevel OptimizeLevel() const noexcept { return optimizeLevel_; }
  TExpToken* Expression() const noexcept { return expression_; }
  void* Cursor() const noexcept { return cursor_; }
  // The filter's bitmap: the cursor sets the candidates before Update.
  TRecordsBitmap& Bitmap() noexcept { return *bitmap_; }
  const TRecordsBitmap& Bitmap() const noexcept { return *bitmap_; }

  // Replaces the expression (owned, or kept by the caller) and computes its
  // optimize level again.
  void ResetFilterExpression(TExpTokenPtr expression);
  void ResetFilterExpression(TExpToken* expression);

  // Narrows the candidates in the bitmap to the records the filter keeps.
  // False: restart (the bitmap is then undefined).
  bool Update();
  // This cursor inserted or modified record r: r is set (the bitmap grows to
  // hold it) and cleared again when the record fails.
  void UpdateRecord(std::int32_t recordNumber, const std::uint8_t* record);
  // This cursor deleted record r.
  void DeleteRecord(std::int32_t recordNumber) noexcept;
  // Whether the filter keeps this record.
  bool EvaluateRecord(const TExpToken* node, const std::uint8_t* record, std::int32_t recordNumber);

  // The builds; bitmap holds the candidates on entry. False: restart.
  bool EvaluateFilter(TRecordsBitmap& bitmap, TExpToken* node, TExpOperator parent);
  // The records whose key in the current index is in the range of op and
  // the constant(s); replaces the bitmap's contents.
  bool BuildIndexedBitmap(TRecordsBitmap& bitmap, TExpOperator op, const TExpToken* constant,
                          std::int32_t partialLength);
  bool BuildIndexedRangeBitmap(TRecordsBitmap& bitmap, TExpOperator op, const TExpToken* low,
                               const TExpToken* high);
  // The complement of the records outside [low, high] of the current index.
  bool BuildOptimizedIndexedBitmap(TRecordsBitmap& bitmap, const std::uint8_t* low, const std::uint8_t* high);
  bool BuildNonIndexedBitmap(TRecordsBitmap& bitmap, const TExpToken* node, TExpOperator parent);
  bool BuildTextSearchBitmap(TRecordsBitmap& bitmap, std::uint16_t fieldNumber, const std::string& searchText);

 private:
  void ComputeOptimizeLevel();
  bool BuildRangeBitmap(TRecordsBitmap& bitmap, const TKeyRange& range);
  bool IndexedNode(TRecordsBitmap& bitmap, TExpToken& node);
  std::unique_ptr<TRecordsBitmap> WorkBitmap(const TRecordsBitmap& like);

  TFilterSource& source_;
  void* cursor_;
  TExpTokenPtr ownedExpression_;
  TExpToken* expression_ = nullptr;
  std::int32_t callbackOwner_ = 0;
  TFilterCallback callback_ = nullptr;
  std::unique_ptr<TRecordsBitmap> bitmap_;
  bool active_ = false;
  TOptimizeLevel optimizeLevel_ = olNone;
  TFilterOptions options_;
};

}  // namespace tarn
