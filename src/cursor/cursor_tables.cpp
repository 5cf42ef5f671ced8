// TDataCursor: creating, deleting, renaming and emptying the cursor's table.
// Creation checks the whole structure before any file is touched and leaves
// no file behind when it fails.
#include <algorithm>

#include "core/errors.h"
#include "cursor/cursor_operation.h"
#include "cursor/data_cursor.h"
#include "cursor/table_structure.h"
#include "platform/code_page.h"
#include "platform/file_system.h"
#include "storage/files/file_list.h"
#include "storage/formats/data_header.h"
#include "storage/formats/object_names.h"

namespace tarn {

namespace {

constexpr std::size_t kStoredDescriptionLength = 50;

// The text-index parameters of a new table: the defaults, with a given stop
// word list (upper-cased, sorted, without duplicates) and non-empty character
// sets in their place.
TTextIndexParams MakeTextIndexParams(const TDataCursor::TCreateTableArguments& arguments) {
  TTextIndexParams params = TTextIndexParams::Defaults();
  if (arguments.StopWords != nullptr) {
    params.StopWords.clear();
    for (const std::string& word : *arguments.StopWords) {
      const std::string trimmed(TrimName(word));
      if (!trimmed.empty()) params.StopWords.push_back(CutToLength(AnsiUpperCase(trimmed), kMaxTextWordLength));
    }
  }
  std::sort(params.StopWords.begin(), params.StopWords.end());
  params.StopWords.erase(std::unique(params.StopWords.begin(), params.StopWords.end()), params.StopWords.end());
  if (arguments.SpaceChars.any()) params.SpaceChars = arguments.SpaceChars;
  if (arguments.IncludeChars.any()) params.IncludeChars = arguments.IncludeChars;
  return params;
}

}  // namespace

void TDataCursor::StoreTextIndexParams(const TTextIndexParams& params) {
  // Nothing to store them in yet; see the declaration.
  (void)params;
}

void TDataCursor::CreateTable(const TCreateTableArguments& arguments) {
  CheckExclusive();
  CheckNotReadOnly();
  CheckClosedToChange();

  TTableDefinition definition;
  definition.LanguageID = arguments.LanguageID;
  definition.SortID = arguments.SortID;
  definition.UserMajorVersion = arguments.UserMajorVersion;
  definition.UserMinorVersion = arguments.UserMinorVersion;
  definition.Encrypted = arguments.Encrypted;
  definition.Password = arguments.Encrypted ? std::string(TrimName(arguments.Password)) : std::string();
  definition.Description = CutToLength(arguments.Description, kStoredDescriptionLength);
  definition.BlobBlockSize = arguments.BlobBlockSize;
  definition.Fields = arguments.Fields;
  definition.Indexes = arguments.Indexes;
  if (definition.Indexes.empty()) definition.Indexes.push_back(MakeEmptyIndexDefinition());
  definition.TextIndex = arguments.TextIndex;

  TTableStructure structure;
  structure.LanguageID = arguments.LanguageID;
  structure.SortID = arguments.SortID;
  structure.Encrypted = arguments.Encrypted;
  structure.Password = arguments.Password;
  structure.BlobBlockSize = arguments.BlobBlockSize;
  structure.InitialAutoIncValue = 0;
  structure.Fields = definition.Fields;
  structure.Indexes.Indexes = definition.Indexes;
  structure.Indexes.TextIndex = arguments.HasTextIndex ? &definition.TextIndex : nullptr;
  structure.Indexes.AllowEmptyPrimaryIndex = arguments.AllowEmptyPrimaryIndex;
  VerifyStructureInformation(structure, {.TableName = tableName_, .DatabaseName = directory_.Name()});
  definition.HasTextIndex = arguments.HasTextIndex && definition.TextIndex.KeyFieldCount > 0;

  if (directory_.DataTableExists(tableName_, inMemory_)) {
    if (!arguments.Overwrite) Raise(TARN_TABLEEXISTS);
    // The old table goes as a whole first (all or nothing), so none of its
    // files (a BLOB file the new table would not have) outlives it.
    if (const int result = directory_.DeleteDataTable(tableName_, inMemory_); result < 0)
      Raise(static_cast<TarnErrorCode>(-result));
  }

  TDataTable* table = nullptr;
  int result = 0;
  try {
    result = directory_.CreateDataTable(tableName_, definition, table,
                                        {.Temporary = isTemporary_, .InMemory = inMemory_});
  } catch (...) {
    // Whatever the table had written goes again: a table half made is no table.
    if (table != nullptr && !table->IsOpen()) {
      TFileList& files = TFileList::Instance();
      for (const std::string& name : {table->DataFileName(), table->IndexFileName(), table->BlobFileName()}) {
        if (files.FileExists(name, inMemory_)) (void)files.DeleteFile(name, inMemory_);
      }
      if (!inMemory_) (void)CurrentFileSystem().Delete(table->JournalFileName());
    }
    throw;
  }
  if (result < 0) Raise(static_cast<TarnErrorCode>(-result));
  StoreTextIndexParams(MakeTextIndexParams(arguments));
}

void TDataCursor::DeleteTable() {
  CheckClosedToChange();
  if (const int result = directory_.DeleteDataTable(tableName_, inMemory_); result < 0)
    Raise(static_cast<TarnErrorCode>(-result));
}

void TDataCursor::RenameTable(const std::string& newName) {
  CheckClosedToChange();
  if (const int result = directory_.RenameDataTable(tableName_, newName, {.InMemory = inMemory_}); result < 0)
    Raise(static_cast<TarnErrorCode>(-result));
}

void TDataCursor::EmptyTable() {
  CheckOpenForIndexChange();
  {
    TWriteLockScope scope(*table_);
    table_->EmptyTable();
    scope.Commit();
  }
  RefreshAfterIndexChange(indexPos_);
}

std::int32_t TDataCursor::SortRecords(std::span<const TFieldDefinition> fields, std::int64_t maxRecords,
                                      const TSortCallbacks& callbacks, const TSortOptions& options) {
  CheckOpenForIndexChange();
  std::int32_t kept = 0;
  {
    TWriteLockScope scope(*table_);
    kept = table_->DataFile().SortRecordBuffers(fields, maxRecords, callbacks, options);
    scope.Commit();
  }
  RefreshAfterIndexChange(indexPos_);
  return kept;
}

}  // namespace tarn
