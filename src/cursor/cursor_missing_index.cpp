// TDataCursor::RebuildMissingIndex: a table whose index file was missing at
// open gets a new, empty one from the table; the cursor that opens it then
// puts back what every table needs to be walked: the deleted-records index
// (one key per physical record) and the live record count. The table goes on
// without a primary index; other indexes must be added again.
#include "core/errors.h"
#include "cursor/data_cursor.h"
#include "storage/btree/btree.h"
#include "storage/formats/record_layout.h"
#include "storage/keys/key_builder.h"

namespace tarn {

void TDataCursor::RebuildMissingIndex() {
  TWriteLockScope scope(*table_);
  TIndexFile& index = table_->IndexFile();
  index.SetNoPrimaryIndex(true);
  TIndexDefinition deleted;
  index.GetIndexDefinition(kDeletedRecordsIndex, deleted);
  const TLayoutKeyComparator comparator(
      MakeIndexKeyLayout(deleted, table_->DataFile().Fields(), kDeletedRecordsIndex, languageID_, sortID_));
  TIndexPath path;
  TBTree tree(index, nullptr, kDeletedRecordsIndex, comparator, path);
  std::array<std::uint8_t, kDeletedIndexKeySize> key{};
  std::int32_t live = 0;
  const std::int32_t used = table_->GetPhysicalRecordsUsed();
  for (std::int32_t r = 1; r <= used; ++r) {
    TRecord* record = nullptr;
    TRecordRead read;
    read.ReadAhead = true;
    if (!table_->DataFile().GetRecord(nullptr, r, record, read)) RaiseError(TARN_FILECORRUPT);
    const std::span<const std::uint8_t> bytes = record->Bytes();
    BuildDeletedKey(bytes, key);
    if (bytes[kRecordDeletedOffset] != kRecordDeleted) ++live;
    table_->DataFile().PutRecord(record);
    tree.AddIndexKey(key.data(), r);
  }
  table_->SetActualRecordCount(live);
  scope.Commit();
}

}  // namespace tarn
