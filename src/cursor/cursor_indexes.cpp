// TDataCursor: adding and deleting the indexes of an open, exclusive table.
// Each change runs under one write-lock scope, so it reaches the disk whole
// or not at all: an index build that meets a duplicate key in a unique index,
// or any failed write, leaves the table exactly as it was.
#include <vector>

#include "core/errors.h"
#include "cursor/cursor_operation.h"
#include "cursor/data_cursor.h"
#include "cursor/table_structure.h"
#include "engine/data_session.h"
#include "storage/btree/btree.h"
#include "storage/formats/object_names.h"
#include "storage/formats/record_layout.h"
#include "storage/keys/key_builder.h"

namespace tarn {

namespace {

constexpr std::string_view kPrimaryIndexName = "Primary";
// Deeper than any tree of 2,000,000,000 pages can be: a longer descent is a cycle.
constexpr int kMaxTreeDepth = 64;

// A record of the data file's cache, given back on every path.
class THeldRecord {
 public:
  explicit THeldRecord(TDataFile& file) : file_(file) {}
  ~THeldRecord() {
    if (record_ != nullptr) file_.PutRecord(record_);
  }
  THeldRecord(const THeldRecord&) = delete;
  THeldRecord& operator=(const THeldRecord&) = delete;
  TRecord*& Slot() noexcept { return record_; }
  TRecord* operator->() const noexcept { return record_; }

 private:
  TDataFile& file_;
  TRecord* record_ = nullptr;
};

}  // namespace

void TDataCursor::CheckOpenForIndexChange() const {
  if (!open_ || table_ == nullptr) Raise(TARN_OSEBADF);
  CheckExclusive();
  CheckNotReadOnly();
}

bool TDataCursor::IndexExists(const std::string& name) const {
  if (!open_ || table_ == nullptr) Raise(TARN_OSEBADF);
  const std::string_view wanted = TrimName(name);
  // The primary index has the empty name, and exists only when the table has one.
  if (wanted.empty()) return table_->HasPrimaryIndex();
  return table_->IndexFile().IndexExists(wanted);
}

void TDataCursor::DropTableCaches() {
  table_->FlushBuffers();
  table_->FreeBuffers({});
}

void TDataCursor::RefreshAfterIndexChange(std::uint8_t position) {
  TCursorOperation operation(*this);
  CancelRange();
  ResetIndexPosition();
  path_.Clear();
  const std::uint8_t count = table_->IndexFile().GetIndexCount();
  if (position != kPhysicalOrder && position > count) position = 0;
  InternalSetIndexPos(position);
  CheckForActiveFilters();
  rangeEndOrdinal_ = GetActualRecordCount();
  RefreshRangeAndFilters();
  SetToBegin();
}

// --- building ---------------------------------------------------------------------------

void TDataCursor::BuildIndexKeys(std::uint8_t slot, const std::string& indexName) {
  TIndexFile& index = table_->IndexFile();
  TDataFile& data = table_->DataFile();
  TIndexDefinition def;
  index.GetIndexDefinition(slot, def);
  const TKeyLayout layout = MakeIndexKeyLayout(def, data.Fields(), slot, languageID_, sortID_, indexName);
  const TLayoutKeyComparator comparator(layout);
  TIndexPath path;
  TBTree tree(index, nullptr, slot, comparator, path);
  std::vector<std::uint8_t> key(layout.KeySize(), 0);

  const std::int32_t used = table_->GetPhysicalRecordsUsed();
  const int step = directory_.Session().GetProgressPercent();
  int reported = 0;
  for (std::int32_t r = 1; r <= used; ++r) {
    bool live = false;
    {
      THeldRecord record(data);
      TRecordRead read;
      read.ReadAhead = true;
      if (!data.GetRecord(nullptr, r, record.Slot(), read)) RaiseError(TARN_FILECORRUPT);
      const std::span<const std::uint8_t> bytes = record->Bytes();
      live = bytes[kRecordDeletedOffset] != kRecordDeleted;
      if (live) BuildIndexKey(layout, bytes, key);
    }
    if (live) {
      // Equal keys in a unique index: the build stops, and the scope that
      // holds the change drops it; every record stays.
      if (layout.Unique && tree.CheckForKeyViolation(key.data())) Raise(TARN_KEYVIOL, {}, indexName);
      tree.AddIndexKey(key.data(), r);
    }
    if (indexProgress_) {
      const int percent = static_cast<int>(static_cast<std::int64_t>(r) * 100 / used);
      if (percent - reported >= step) {
        reported = percent;
        indexProgress_(percent);
      }
    }
  }
}

void TDataCursor::AddPrimaryIndex(TIndexDefinition& definition) {
  CheckOpenForIndexChange();
  TIndexDefinition def = definition;
  const bool empty = def.KeyFields[0] == 0;
  VerifyIndexDefinition(def, table_->DataFile().Fields(),
                        empty ? TIndexRole::irPrimaryMayBeEmpty : TIndexRole::irPrimary,
                        {.TableName = tableName_, .DatabaseName = directory_.Name()});
  DropTableCaches();
  {
    TWriteLockScope scope(*table_);
    TIndexFile& index = table_->IndexFile();
    index.AddPrimaryIndex(def, table_->DataFile().Fields(), {directory_.Name(), tableName_});
    if (table_->HasPrimaryIndex()) BuildIndexKeys(0, std::string(kPrimaryIndexName));
    scope.Commit();
  }
  definition = def;
  RefreshAfterIndexChange(indexPos_);
}

void TDataCursor::AddSecondaryIndex(TIndexDefinition& definition) {
  CheckOpenForIndexChange();
  TIndexDefinition def = definition;
  const TStructureContext context{.TableName = tableName_, .DatabaseName = directory_.Name()};
  VerifyIndexDefinition(def, table_->DataFile().Fields(), TIndexRole::irSecondary, context);
  TIndexFile& index = table_->IndexFile();
  if (index.GetIndexCount() >= kMaxTableSecondaryIndexes) Raise(TARN_INDEXLIMIT, {}, def.Name.Str());
  if (index.IndexExists(def.Name.View())) Raise(TARN_INDEXEXISTS, {}, def.Name.Str());
  DropTableCaches();
  {
    TWriteLockScope scope(*table_);
    index.AddSecondaryIndex(def, table_->DataFile().Fields(), {directory_.Name(), tableName_});
    const std::uint8_t slot = index.GetIndexCount();
    BuildIndexKeys(slot, def.Name.Str());
    scope.Commit();
  }
  definition = def;
  RefreshAfterIndexChange(indexPos_);
}

// --- deleting -----------------------------------------------------------------------------

void TDataCursor::ReleaseIndexPages(std::uint8_t slot) {
  TIndexFile& index = table_->IndexFile();
  const std::int32_t root = index.GetRootPageNumber(slot);
  if (root == 0) return;
  // Page numbers in the order they go to the free list: children first.
  std::vector<std::int32_t> order;
  std::vector<bool> seen(static_cast<std::size_t>(index.GetPhysicalPagesUsed()) + 1u, false);
  const auto corrupt = [&] { RaiseError(TARN_INDEXCORRUPT, {}, {}, directory_.Name(), tableName_); };
  const auto visit = [&](const auto& self, std::int32_t n, int depth) -> void {
    if (depth > kMaxTreeDepth || !index.IsLinkablePage(n) || seen[static_cast<std::size_t>(n)]) corrupt();
    seen[static_cast<std::size_t>(n)] = true;
    std::vector<std::int32_t> children;
    {
      TPageRef page(index, nullptr);
      if (!page.Get(slot, n)) corrupt();
      if (page->IsFree()) corrupt();
      if (page->IsBranch()) {
        for (int e = 1; e <= page->NumberOfKeyEntries(); ++e) children.push_back(page->GetRecordNumber(e));
      }
    }
    for (const std::int32_t child : children) self(self, child, depth + 1);
    order.push_back(n);
  };
  visit(visit, root, 0);
  for (const std::int32_t n : order) {
    TPageRef page(index, nullptr);
    if (!page.Get(slot, n)) corrupt();
    index.SetNextFreePage(slot, page.get());
  }
  index.SetRootPageNumber(slot, 0);
}

void TDataCursor::DeleteIndexByPos(std::uint8_t position, TIndexDefinitionRemoval removal) {
  CheckOpenForIndexChange();
  TIndexFile& index = table_->IndexFile();
  const std::uint8_t count = index.GetIndexCount();
  if (position > count) Raise(TARN_INVALIDINDEXNAME, {}, std::to_string(position));
  const bool remove = removal == TIndexDefinitionRemoval::idRemove;
  std::uint8_t cursorPosition = indexPos_;
  // Slots move: every cached page goes first, for a page carries its slot's
  // settings.
  DropTableCaches();
  {
    TWriteLockScope scope(*table_);
    std::uint8_t slot = position;
    if (position > 0 && remove) {
      // The definition moves past the new last slot, its pages with it; they
      // are released there, onto that slot's free list.
      index.DeleteIndex(position, true);
      slot = count;
    }
    ReleaseIndexPages(slot);
    if (position == 0) {
      // No primary index any more; the slot keeps only its free-page list, so
      // that a primary index can be added again.
      index.DeleteIndex(0, remove);
      index.SetIndexDefinition(0, MakeEmptyIndexDefinition());
    }
    scope.Commit();
  }
  table_->FreeBuffers({});
  if (cursorPosition != kPhysicalOrder && position > 0 && remove) {
    if (cursorPosition == position) {
      cursorPosition = 0;
    } else if (cursorPosition > position) {
      --cursorPosition;
    }
  }
  RefreshAfterIndexChange(cursorPosition);
}

void TDataCursor::DeleteIndex(const std::string& name, TIndexDefinitionRemoval removal) {
  CheckOpenForIndexChange();
  const std::string_view wanted = TrimName(name);
  const std::uint8_t count = table_->IndexFile().GetIndexCount();
  for (std::uint8_t slot = 0; slot <= count; ++slot) {
    TIndexDefinition def;
    table_->IndexFile().GetIndexDefinition(slot, def);
    if (slot == 0 && !table_->HasPrimaryIndex()) continue;
    if (!SameObjectName(def.Name.View(), wanted)) continue;
    DeleteIndexByPos(slot, removal);
    RefreshAfterIndexChange(0);
    return;
  }
  Raise(TARN_INVALIDINDEXNAME, {}, std::string(wanted));
}

void TDataCursor::DeleteAllIndexes() {
  CheckOpenForIndexChange();
  for (int position = table_->IndexFile().GetIndexCount(); position >= 0; --position) {
    if (position == 0 && !table_->HasPrimaryIndex()) break;
    DeleteIndexByPos(static_cast<std::uint8_t>(position), TIndexDefinitionRemoval::idRemove);
  }
}

}  // namespace tarn
