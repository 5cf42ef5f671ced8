// TDataCursor's filters: the list of up to 64 filters with integer handles,
// activation, the rebuild of every filter bitmap and of the navigation
// bitmap (range and live records and every active filter), and keeping them
// current when this cursor changes a record.
#include <algorithm>

#include "core/errors.h"
#include "cursor/cursor_descent.h"
#include "cursor/cursor_operation.h"
#include "cursor/data_cursor.h"
#include "cursor/filter.h"
#include "cursor/filter_expression.h"
#include "cursor/filter_optimizer.h"
#include "expressions/exp_tree.h"

namespace tarn {

namespace {

// Sets a flag for a scope, clearing it again also on failure.
class TGuardFlag {
 public:
  explicit TGuardFlag(bool& flag) noexcept : flag_(flag) { flag_ = true; }
  ~TGuardFlag() { flag_ = false; }
  TGuardFlag(const TGuardFlag&) = delete;
  TGuardFlag& operator=(const TGuardFlag&) = delete;

 private:
  bool& flag_;
};

}  // namespace

void TDataCursor::TFilterDelete::operator()(TFilter* filter) const noexcept { delete filter; }

// --- the filter list ----------------------------------------------------------------------

TFilterHandle TDataCursor::AddFilter(TAddFilterOptions options) {
  if (filters_.size() >= kMaxFilters) Raise(TARN_INTERNALLIMIT);
  TFilterOptions filterOptions;
  filterOptions.Order = options.AfterOthers ? TFilterOrder::AfterOthers : TFilterOrder::Normal;
  filterOptions.CountCheck = options.CountCheck ? TCountCheck::On : TCountCheck::Off;
  TFilterEntry entry;
  if (!options.Text.empty()) {
    TFilterTextOptions textOptions;
    textOptions.CaseInsensitive = options.CaseInsensitive;
    textOptions.NoPartialCompare = options.NoPartialCompare;
    entry.Filter.reset(
        new TFilter(*this, this, PrepareFilterExpression(*this, options.Text, textOptions), filterOptions));
  } else if (options.Tree) {
    entry.Filter.reset(new TFilter(*this, this, std::move(options.Tree), filterOptions));
  } else if (options.SharedTree != nullptr) {
    entry.Filter.reset(new TFilter(*this, this, options.SharedTree, filterOptions));
  } else if (options.Callback != nullptr) {
    entry.Filter.reset(new TFilter(*this, this, options.CallbackOwner, options.Callback, filterOptions));
  } else {
    RaiseError(TARN_INVALIDFILTER, {}, {}, directory_.Name(), tableName_, {}, {}, "filter expression is invalid");
  }
  entry.Handle = nextFilterHandle_++;
  const TFilterHandle handle = entry.Handle;
  PlaceFilter(std::move(entry));
  return handle;
}

void TDataCursor::PlaceFilter(TFilterEntry entry) {
  // A filter that comes after the others goes to the end; any other goes
  // before the first one that comes after the others.
  auto at = filters_.end();
  if (!entry.Filter->AfterOthers()) {
    at = std::find_if(filters_.begin(), filters_.end(), [](const TFilterEntry& e) { return e.Filter->AfterOthers(); });
  }
  filters_.insert(at, std::move(entry));
}

TDataCursor::TFilterEntry* TDataCursor::FindFilter(TFilterHandle handle) {
  for (TFilterEntry& entry : filters_)
    if (entry.Handle == handle) return &entry;
  return nullptr;
}

bool TDataCursor::CheckForActiveFilters() {
  const bool any =
      std::any_of(filters_.begin(), filters_.end(), [](const TFilterEntry& e) { return e.Filter->IsActive(); });
  bitmapNavigation_ = any || (open_ && GetIsPhysicalNavigation());
  if (!bitmapNavigation_) ReleaseCursorBitmaps();
  return bitmapNavigation_;
}

TDataCursor::TFilterEntry& TDataCursor::RequireFilter(TFilterHandle handle) {
  TFilterEntry* entry = FindFilter(handle);
  if (entry == nullptr) {
    CheckForActiveFilters();
    Raise(TARN_NOSUCHFILTER);
  }
  return *entry;
}

void TDataCursor::ActivateFilter(TFilterHandle handle) {
  TFilterEntry* entry = handle != 0 ? &RequireFilter(handle) : nullptr;
  for (TFilterEntry& e : filters_)
    if (entry == nullptr || &e == entry) e.Filter->Activate();
  CheckForActiveFilters();
  TCursorOperation operation(*this);
  if (entry != nullptr) {
    UpdateFilter(*entry->Filter);
  } else {
    UpdateAllFilters();
  }
  RebuildFilterBitmap();
  RepositionCurrentRecord();
}

void TDataCursor::DeactivateFilter(TFilterHandle handle) {
  TFilterEntry* entry = handle != 0 ? &RequireFilter(handle) : nullptr;
  for (TFilterEntry& e : filters_)
    if (entry == nullptr || &e == entry) e.Filter->Deactivate();
  AfterFilterRemoved();
}

void TDataCursor::DropFilter(TFilterHandle handle) {
  if (handle != 0) {
    TFilterEntry& entry = RequireFilter(handle);
    filters_.erase(filters_.begin() + (&entry - filters_.data()));
  } else {
    filters_.clear();
  }
  if (open_) AfterFilterRemoved();
}

void TDataCursor::AfterFilterRemoved() {
  CheckForActiveFilters();
  TCursorOperation operation(*this);
  if (bitmapNavigation_) {
    // The filters left need candidates sized to the table again.
    if (filterBitmap_->GetNumOfBits() != GetPhysicalRecordsUsed()) UpdateAllFilters();
    RebuildFilterBitmap();
  }
  RepositionCurrentRecord();
}

void TDataCursor::DropAllFilters() {
  filters_.clear();
  if (open_) CheckForActiveFilters();
}

void TDataCursor::ResetFilter(TExpTokenPtr tree, TFilterHandle handle) {
  TFilterEntry* entry = FindFilter(handle);
  if (entry == nullptr || !entry->Filter->IsActive()) Raise(TARN_NOSUCHFILTER);
  entry->Filter->ResetFilterExpression(std::move(tree));
  TCursorOperation operation(*this);
  UpdateFilter(*entry->Filter);
  RebuildFilterBitmap();
  RepositionCurrentRecord();
}

TOptimizeLevel TDataCursor::GetFilterOptimizeLevel() const {
  std::vector<TOptimizeLevel> levels;
  for (const TFilterEntry& e : filters_) levels.push_back(e.Filter->OptimizeLevel());
  return tarn::GetFilterOptimizeLevel(levels);
}

void TDataCursor::CloneFiltersInto(TDataCursor& clone) {
  for (const TFilterEntry& e : filters_) {
    const TFilter& filter = *e.Filter;
    TAddFilterOptions options;
    options.AfterOthers = filter.AfterOthers();
    options.CountCheck = filter.CountCheck();
    if (filter.IsCallback()) {
      options.CallbackOwner = filter.CallbackOwner();
      options.Callback = filter.Callback();
    } else {
      options.Tree = CopyExpressionTokens(filter.Expression());
    }
    const TFilterHandle handle = clone.AddFilter(std::move(options));
    if (filter.IsActive()) clone.ActivateFilter(handle);
  }
}

// --- rebuilding the bitmaps ---------------------------------------------------------------------

void TDataCursor::RefreshRangeAndFilters() {
  UpdateRange();
  if (GetIsPhysicalNavigation() || bitmapNavigation_) {
    UpdateAllFilters();
    RebuildFilterBitmap();
  }
}

bool TDataCursor::TryUpdateAllFilters() {
  const std::int32_t used = GetPhysicalRecordsUsed();
  SizeCursorBitmaps(used);
  if (used == 0) return true;
  if (!UpdateRangeBitmap() || !UpdateDeletedBitmap()) return false;
  std::vector<TFilter*> earlier;
  for (TFilterEntry& e : filters_) {
    TFilter& filter = *e.Filter;
    if (!filter.IsActive()) continue;
    TRecordsBitmap& candidates = filter.Bitmap();
    candidates.Assign(*deletedBitmap_);
    if (rangeActive_) candidates.AndBits(*rangeBitmap_);
    if (filter.AfterOthers() && filter.OptimizeLevel() != olFull)
      for (const TFilter* before : earlier) candidates.AndBits(before->Bitmap());
    if (!filter.Update()) return false;
    earlier.push_back(&filter);
  }
  return true;
}

void TDataCursor::UpdateAllFilters() {
  if (!bitmapNavigation_ || updatingFilters_) return;
  TGuardFlag guard(updatingFilters_);
  Restarting([&] { return TryUpdateAllFilters(); });
}

void TDataCursor::UpdateFilter(TFilter& filter) {
  if (!bitmapNavigation_ || updatingFilters_) return;
  if (filterBitmap_->GetNumOfBits() == 0 || filterBitmap_->GetNumOfBits() != GetPhysicalRecordsUsed()) {
    UpdateAllFilters();
    return;
  }
  TGuardFlag guard(updatingFilters_);
  bool complete = false;
  Restarting([&] {
    if (complete) return true;
    TRecordsBitmap& candidates = filter.Bitmap();
    candidates.Assign(*deletedBitmap_);
    if (rangeActive_) candidates.AndBits(*rangeBitmap_);
    if (filter.AfterOthers() && filter.OptimizeLevel() != olFull) {
      for (const TFilterEntry& e : filters_) {
        if (e.Filter.get() == &filter) break;
        if (e.Filter->IsActive()) candidates.AndBits(e.Filter->Bitmap());
      }
    }
    if (filter.Update()) return complete = true;
    // The table changed underneath: every bitmap is built again.
    return complete = TryUpdateAllFilters();
  });
}

void TDataCursor::RebuildFilterBitmap() {
  if (!bitmapNavigation_ || updatingFilters_ || updatingRange_) return;
  const std::int32_t bits = filterBitmap_->GetNumOfBits();
  if (bits == 0) {
    visibleRecordCount_ = 0;
    return;
  }
  filterBitmap_->Assign(*deletedBitmap_);
  if (rangeActive_) filterBitmap_->AndBits(*rangeBitmap_);
  bool filtered = false;
  for (const TFilterEntry& e : filters_) {
    if (!e.Filter->IsActive()) continue;
    filterBitmap_->AndBits(e.Filter->Bitmap());
    filtered = true;
  }
  visibleRecordCount_ = rangeActive_ || filtered ? filterBitmap_->GetTotalBitsSet() : GetActualRecordCount();
}

// --- this cursor's own changes --------------------------------------------------------------------

void TDataCursor::UpdateRecordInBitmap(std::int32_t r, const std::uint8_t* record) {
  if (!bitmapNavigation_) return;
  const std::int32_t used = GetPhysicalRecordsUsed();
  SizeCursorBitmaps(used);
  if (used == 0) return;
  if (rangeActive_ && !GetIsPhysicalNavigation()) {
    std::vector<std::uint8_t> key(keySize_);
    GetKeyValues(record, key.data());
    if (BelowRange(key.data()) || AboveRange(key.data())) {
      rangeBitmap_->ClearBit(r);
    } else {
      rangeBitmap_->SetBit(r);
    }
  }
  deletedBitmap_->SetBit(r);
  for (TFilterEntry& e : filters_)
    if (e.Filter->IsActive()) e.Filter->UpdateRecord(r, record);
  RebuildFilterBitmap();
}

void TDataCursor::DeleteRecordInBitmap(std::int32_t r) {
  if (!bitmapNavigation_) return;
  if (rangeActive_) rangeBitmap_->ClearBit(r);
  deletedBitmap_->ClearBit(r);
  for (TFilterEntry& e : filters_)
    if (e.Filter->IsActive()) e.Filter->DeleteRecord(r);
  if (visibleRecordCount_ > 0) --visibleRecordCount_;
  RebuildFilterBitmap();
}

}  // namespace tarn
