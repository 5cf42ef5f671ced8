// Saving a statement's answer as a table of its own: the result's columns
// (as its readers see them) in a new table without indexes, every row and
// BLOB copied, progress reported as the rows go.
#include <algorithm>
#include <vector>

#include "core/errors.h"
#include "sql/query_statement.h"
#include "storage/formats/data_types.h"

namespace tarn {

void TQueryStatement::SaveResultToTable(TDataDirectory& database, const std::string& tableName, bool overwrite) {
  TDataCursor* source = GetResultTable();
  if (source == nullptr) RaiseError(TARN_NOCURRREC, {}, {}, directory_.Name(), tableName);

  TDataCursor::TCreateTableArguments arguments;
  arguments.LanguageID = source->GetLanguageID();
  arguments.SortID = source->GetSortID();
  arguments.Overwrite = overwrite;
  arguments.Indexes.push_back(MakeEmptyIndexDefinition());
  const std::uint16_t fieldCount = source->GetFieldCount();
  for (std::uint16_t f = 1; f <= fieldCount; ++f) {
    TFieldDefinition def;
    source->GetFieldDefinition(f, def);
    def.FieldNumber = f;
    def.Computed = 0;
    def.Working = TFieldWorkingData{};
    arguments.Fields.push_back(def);
  }
  TDataCursor target(database);
  target.SetTableName(tableName);
  target.SetExclusive(true);
  target.CreateTable(arguments);
  target.OpenCursor();

  std::vector<std::uint8_t> from(source->GetRecordBufferSize());
  std::vector<std::uint8_t> to(target.GetRecordBufferSize());
  std::vector<std::uint8_t> value(256);
  std::vector<std::uint8_t> blob;
  const std::int32_t total = source->GetRecordCount();
  const int step = std::max(1, GetProgressPercent());
  int reported = 0;
  std::int32_t copied = 0;
  source->SetToBegin();
  while (source->GetNextRecord(from.data()) == 0) {
    target.InitRecord(to.data());
    for (std::uint16_t f = 1; f <= fieldCount; ++f) {
      const TFieldDefinition& def = arguments.Fields[f - 1u];
      bool isNull = false;
      if (def.DataType == dtBlob) {
        std::int32_t size = 0;
        Check(source->OpenBlob(f, from.data(), 0, /*physical=*/false, /*owner=*/true));
        Check(source->GetBlobSize(f, from.data(), /*physical=*/false, size));
        blob.resize(static_cast<std::size_t>(size));
        std::int32_t read = 0;
        if (size > 0) Check(source->GetBlob(f, from.data(), /*physical=*/false, read, size, blob.data(), 0));
        if (size > 0) {
          Check(target.OpenBlob(f, to.data(), 0, /*physical=*/false, /*owner=*/true));
          Check(target.PutBlob(f, to.data(), /*physical=*/false, size, blob.data(), 0));
        }
        continue;
      }
      if (value.size() < def.PhysicalSize + 1u) value.resize(def.PhysicalSize + 1u);
      std::fill(value.begin(), value.end(), 0);
      source->GetField(f, from.data(), value.data(), isNull);
      target.PutField(f, to.data(), isNull ? nullptr : value.data());
    }
    target.AppendRecord(to.data(), {.Reposition = false});
    source->FreeAllBlobs(/*all=*/false);
    target.FreeAllBlobs(/*all=*/false);
    ++copied;
    const int percent = total > 0 ? static_cast<int>(static_cast<std::int64_t>(copied) * 100 / total) : 100;
    if (saveCallback_ != nullptr && percent >= reported + step) {
      reported = percent;
      saveCallback_(saveUserData_, *this, percent);
    }
  }
  if (saveCallback_ != nullptr && reported < 100) saveCallback_(saveUserData_, *this, 100);
  target.CloseCursor(TCursorClose::KeepTemporary);
  source->SetToBegin();
}

}  // namespace tarn
