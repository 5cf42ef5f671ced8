// TDataCursor: open settings, opening, cloning and closing, field
// definitions, index selection, change detection, key comparison and
// bookmarks (see data_cursor.h). Movement is in cursor_navigation.cpp, the
// bitmaps in cursor_bitmaps.cpp, field access in cursor_fields.cpp and the
// filter list in cursor_filters.cpp.
#include "cursor/data_cursor.h"

#include <algorithm>
#include <cstring>
#include <optional>

#include "core/errors.h"
#include "cursor/cursor_descent.h"
#include "cursor/cursor_operation.h"
#include "engine/data_session.h"
#include "platform/code_page.h"
#include "storage/blobs/blob_buffer.h"
#include "storage/formats/record_layout.h"
#include "storage/keys/key_builder.h"

namespace tarn {

TDataCursor::TDataCursor(TDataDirectory& directory) : directory_(directory) {}

TDataCursor::~TDataCursor() {
  try {
    CloseCursor(TCursorClose::DiscardTemporary);
  } catch (...) {
    // A close that failed has released what it could; a destructor cannot report.
  }
}

void TDataCursor::Raise(TarnErrorCode code, const std::string& field, const std::string& index) const {
  RaiseError(code, {}, {}, directory_.Name(), tableName_, field, index);
}

// --- open settings -------------------------------------------------------------

void TDataCursor::CheckClosedToChange() const {
  if (open_) Raise(TARN_TABLEOPEN);
}

void TDataCursor::SetTableName(const std::string& name) {
  CheckClosedToChange();
  // The name without any directory path or file extension.
  std::string base = name;
  const std::size_t slash = base.find_last_of("/\\");
  if (slash != std::string::npos) base.erase(0, slash + 1);
  const std::size_t dot = base.find_last_of('.');
  if (dot != std::string::npos) base.erase(dot);
  tableName_ = CutToLength(base, 255);
}

void TDataCursor::SetExclusive(bool value) {
  CheckClosedToChange();
  exclusive_ = value;
}

void TDataCursor::SetOverrideExclusive(bool value) {
  CheckClosedToChange();
  overrideExclusive_ = value;
}

void TDataCursor::SetReadOnly(bool value) {
  CheckClosedToChange();
  readOnly_ = value;
}

void TDataCursor::SetInMemory(bool value) {
  CheckClosedToChange();
  inMemory_ = value;
}

void TDataCursor::SetIsTemporary(bool value) {
  if (value != isTemporary_) CheckClosedToChange();
  isTemporary_ = value;
}

void TDataCursor::SetIsSourceTable(bool value) {
  if (value != isSourceTable_) CheckClosedToChange();
  isSourceTable_ = value;
}

void TDataCursor::CheckExclusive() const {
  if (!exclusive_) Raise(TARN_NEEDEXCLACCESS);
}

void TDataCursor::CheckNotReadOnly() const {
  if (readOnly_) Raise(TARN_OSEACCES);
}

void TDataCursor::CheckNotOpen() const { CheckClosedToChange(); }

// --- open, close, clone ------------------------------------------------------------

void TDataCursor::OpenCursor() {
  if (open_) return;
  logical_.clear();
  TOpenTableOptions options;
  options.SourceTable = isSourceTable_;
  options.AnswerTable = isResultSet_;
  options.Temporary = isTemporary_;
  options.InMemory = inMemory_;
  options.OverrideExclusive = overrideExclusive_;
  options.Exclusive = exclusive_;
  options.RepairMode = repairMode_ || restructureMode_;
  TDataTable* table = nullptr;
  const int result = directory_.OpenDataTable(tableName_, table, options);
  if (result < 0) Raise(static_cast<TarnErrorCode>(-result));
  table_ = table;
  open_ = true;
  try {
    OpenSteps();
  } catch (...) {
    try {
      CloseCursor(TCursorClose::DiscardTemporary);
    } catch (...) {
    }
    throw;
  }
}

void TDataCursor::OpenSteps() {
  // Files that could only be opened for reading make the cursor read-only;
  // read-only media also turn every lock off.
  readOnly_ = table_->ReadOnly() || table_->ReadOnlyMedia();
  noLocking_ = table_->ReadOnlyMedia();
  // The directory checked the headers when it opened the table for its first
  // user (only the versions in repair and restructure mode).
  if (table_->DataFile().GetEncrypted()) CheckPassword();
  languageID_ = table_->DataFile().GetLanguageID();
  sortID_ = table_->DataFile().GetSortID();
  GetLanguageCharMap(languageID_, sortID_, charMap_);
  logicalFieldCount_ = table_->DataFile().GetFieldCount();
  recordBufferSize_ = table_->DataFile().GetRecordSize();
  SynchLastUpdateStamps();
  GetPhysicalFields();

  currentRecord_.assign(recordBufferSize_, 0);
  filterRecord_.assign(recordBufferSize_, 0);
  logicalPosition_ = 1;
  currentEntry_ = 1;
  currentPage_ = 0;
  currentIndexRecord_ = 0;
  currentRecordNumber_ = 0;
  rangeStartOrdinal_ = 1;
  rangeEndOrdinal_ = GetActualRecordCount();
  visibleRecordCount_ = 0;
  bof_ = eof_ = false;
  rangeBegin_.fill(0x00);
  rangeEnd_.fill(0xFF);
  rangeActive_ = false;
  bitmapNavigation_ = false;
  rangeBitmap_ = GetNewRecordsBitmapInstance();
  deletedBitmap_ = GetNewRecordsBitmapInstance();
  filterBitmap_ = GetNewRecordsBitmapInstance();
  ReleaseCursorBitmaps();
  if (repairMode_) return;
  // A table with records always has deleted-records keys. An index file made
  // anew has none, and no index either, also when the rebuild of an earlier
  // open failed: the first cursor rebuilds it.
  const bool indexFileNew =
      table_->IndexRecreated() || (!table_->HasPrimaryIndex() && table_->IndexFile().GetIndexCount() == 0);
  if (indexFileNew && table_->IndexFile().GetRootPageNumber(kDeletedRecordsIndex) == 0 &&
      GetPhysicalRecordsUsed() > 0 && !readOnly_)
    RebuildMissingIndex();

  InternalSetIndexPos(isSourceTable_ ? kPhysicalOrder : 0);
  TCursorOperation operation(*this);
  if (GetIsPhysicalNavigation()) {
    bitmapNavigation_ = true;
    UpdateAllFilters();
    RebuildFilterBitmap();
  }
  SetToBegin();
}

void TDataCursor::CheckPassword() {
  for (;;) {
    if (directory_.CheckForPassword(table_->DataFile().GetPassword())) return;
    // A handler that answers "try again" without adding the password would ask
    // for ever: the table stays closed to this cursor instead.
    const std::size_t known = directory_.Session().Passwords().size();
    if (!AskForPassword() || directory_.Session().Passwords().size() == known) Raise(TARN_NOTSUFFTABLERIGHTS);
  }
}

bool TDataCursor::AskForPassword() {
  return passwordCallback_ != nullptr && passwordCallback_(passwordUserData_, *this);
}

void TDataCursor::GetPhysicalFields() {
  hasValidityChecks_ = hasDefaults_ = hasCalculatedFields_ = hasAutoIncField_ = false;
  const auto fields = table_->DataFile().Fields();
  logical_.assign(fields.begin(), fields.end());
  for (TFieldDefinition& def : logical_) {
    if (IsAutoIncField(def)) hasAutoIncField_ = true;
    if (def.Required != 0 || !def.MinValue.View().empty() || !def.MaxValue.View().empty()) hasValidityChecks_ = true;
    if (!def.DefaultValue.View().empty()) hasDefaults_ = true;
    if (!isResultSet_) {
      def.Working.OriginName.Assign(tableName_ + "." + def.Name.Str());
      def.Working.SourceFieldNumber = static_cast<std::int16_t>(def.FieldNumber);
    } else if (!isSourceTable_) {
      def.Working.SourceFieldNumber = static_cast<std::int16_t>(def.FieldNumber);
    }
  }
}

void TDataCursor::CloseCursor(TCursorClose close) {
  if (!open_) return;
  // An edit left open gives its record lock back.
  if (lockedRecord_ != 0) {
    try {
      UserWriteUnlockRecord(lockedRecord_);
    } catch (const ETarnEngineError&) {
      // The table releases every lock when it closes.
    }
  }
  FreeAllBlobs(true);
  DropAllFilters();
  bitmapNavigation_ = false;
  ReleaseCursorBitmaps();
  ReturnRecordsBitmapInstance(rangeBitmap_);
  ReturnRecordsBitmapInstance(deletedBitmap_);
  ReturnRecordsBitmapInstance(filterBitmap_);
  rangeActive_ = false;
  currentRecord_.clear();
  filterRecord_.clear();
  ResetIndexPosition();
  logicalPosition_ = 0;
  path_.Clear();
  TDataTable* table = table_;
  table_ = nullptr;
  open_ = false;
  languageID_ = sortID_ = 0;
  logical_.clear();
  keyLayout_ = {};
  keySize_ = 0;
  indexPos_ = 0;
  indexName_.clear();
  logicalFieldCount_ = recordBufferSize_ = 0;
  hasValidityChecks_ = hasDefaults_ = hasCalculatedFields_ = hasAutoIncField_ = false;
  passwordCallback_ = nullptr;
  passwordUserData_ = nullptr;
  if (table != nullptr) {
    TCloseTableOptions options;
    options.DiscardTemporary = close == TCursorClose::DiscardTemporary;
    options.SourceTable = isSourceTable_;
    options.AnswerTable = isResultSet_;
    const int result = directory_.CloseDataTable(table, options);
    if (result < 0) Raise(static_cast<TarnErrorCode>(-result));
  }
}

std::unique_ptr<TDataCursor> TDataCursor::CloneCursor() {
  TCursorOperation operation(*this);
  auto clone = std::make_unique<TDataCursor>(directory_);
  clone->SetTableName(tableName_);
  clone->exclusive_ = exclusive_;
  clone->overrideExclusive_ = exclusive_;  // a clone may join a table its source holds exclusively
  clone->readOnly_ = readOnly_;
  clone->inMemory_ = inMemory_;
  clone->isResultSet_ = isResultSet_;
  clone->isSourceTable_ = isSourceTable_;
  clone->passwordUserData_ = passwordUserData_;
  clone->passwordCallback_ = passwordCallback_;
  clone->OpenCursor();
  clone->SetFieldMapping(std::span<const TFieldDefinition>(logical_.data(), logicalFieldCount_));
  if (indexPos_ == kPhysicalOrder) {
    clone->SetIndexPos(kPhysicalOrder);
  } else {
    clone->SetIndexName(indexName_);
  }
  if (rangeActive_) {
    clone->rangeBegin_ = rangeBegin_;
    clone->rangeEnd_ = rangeEnd_;
    clone->rangeHasBegin_ = rangeHasBegin_;
    clone->rangeHasEnd_ = rangeHasEnd_;
    clone->rangeActive_ = true;
    TCursorOperation cloneOperation(*clone);
    clone->RefreshRangeAndFilters();
  }
  CloneFiltersInto(*clone);
  // Onto the source's current record: its record number in physical order,
  // its key in index order.
  if (!bof_ && !eof_) {
    if (clone->GetIsPhysicalNavigation()) {
      clone->GotoPhysicalRecordNumber(GetPhysicalRecordNumber());
    } else {
      std::vector<std::uint8_t> key(keySize_);
      clone->GetKeyValues(currentRecord_.data(), key.data());
      clone->FindIndexKey(key.data(), true, false);
    }
    clone->RefreshCurrentRecord(kReadAheadForward);
  }
  return clone;
}

// --- table facts ------------------------------------------------------------------

std::uint16_t TDataCursor::GetPhysicalFieldCount() const { return table_->DataFile().GetFieldCount(); }
std::uint16_t TDataCursor::GetPhysicalRecordSize() const { return table_->DataFile().GetRecordSize(); }
std::uint16_t TDataCursor::GetBlobFieldCount() const { return table_->DataFile().GetBlobFieldCount(); }
std::int32_t TDataCursor::GetPhysicalRecordsUsed() const { return table_->GetPhysicalRecordsUsed(); }
std::int32_t TDataCursor::GetActualRecordCount() const { return table_->IndexFile().GetActualRecordCount(); }

// The data header of the table while the cursor is closed: read through a
// handler of its own (shared, for reading only), and for an encrypted table
// only once the session knows the password, as opening asks for it.
TDataHeader TDataCursor::ReadClosedHeader(bool checkPassword) {
  TDataFile file;
  file.SetFileName(directory_.Path() + tableName_ + ".DAT");
  file.SetContextNames(tableName_, directory_.Name());
  file.OpenFile();
  TDataHeader header{};
  file.GetHeader(header);
  const bool encrypted = file.GetEncrypted();
  const std::string password = file.GetPassword();
  file.CloseFile();
  if (encrypted && checkPassword) {
    for (;;) {
      if (directory_.CheckForPassword(password)) break;
      const std::size_t known = directory_.Session().Passwords().size();
      if (!AskForPassword() || directory_.Session().Passwords().size() == known) Raise(TARN_NOTSUFFTABLERIGHTS);
    }
  }
  return header;
}

bool TDataCursor::GetEncrypted() {
  if (open_) return table_->DataFile().GetEncrypted();
  return ReadClosedHeader(false).Encrypted != 0;
}

std::string TDataCursor::GetPassword() {
  if (open_) return table_->DataFile().GetPassword();
  return GetHeaderPassword(ReadClosedHeader(true));
}

std::string TDataCursor::GetDescription() {
  if (open_) return table_->DataFile().GetDescription();
  return GetHeaderDescription(ReadClosedHeader(true));
}

double TDataCursor::GetLastUpdated() {
  if (open_) return table_->DataFile().GetLastUpdated();
  return GetHeaderLastUpdated(ReadClosedHeader(true));
}

// --- field definitions ---------------------------------------------------------------

const TFieldDefinition& TDataCursor::LogicalDefinition(std::uint16_t n) const {
  if (restructureMode_) {
    for (std::uint16_t i = 0; i < logicalFieldCount_; ++i)
      if (logical_[i].FieldNumber == n) return logical_[i];
  } else if (n >= 1 && n <= logicalFieldCount_) {
    return logical_[n - 1u];
  }
  Raise(TARN_OUTOFRANGE, std::to_string(n));
}

const TFieldDefinition& TDataCursor::PhysicalDefinition(std::uint16_t n) const {
  const auto fields = table_->DataFile().Fields();
  if (restructureMode_) {
    for (const TFieldDefinition& def : fields)
      if (def.FieldNumber == n) return def;
  } else if (n >= 1 && n <= fields.size()) {
    return fields[n - 1u];
  }
  Raise(TARN_OUTOFRANGE, std::to_string(n));
}

void TDataCursor::GetFieldDefinition(std::uint16_t n, TFieldDefinition& def) const { def = LogicalDefinition(n); }

void TDataCursor::GetFieldDefinitionByPos(std::uint16_t pos, TFieldDefinition& def) const {
  if (pos < 1 || pos > logicalFieldCount_) Raise(TARN_OUTOFRANGE, std::to_string(pos));
  def = logical_[pos - 1u];
}

void TDataCursor::GetFieldDefinitionByNumber(std::uint16_t number, TFieldDefinition& def) const {
  for (std::uint16_t i = 0; i < logicalFieldCount_; ++i) {
    if (logical_[i].FieldNumber == number) {
      def = logical_[i];
      return;
    }
  }
  Raise(TARN_OUTOFRANGE, std::to_string(number));
}

void TDataCursor::GetFieldDefinitionByName(const std::string& name, TFieldDefinition& def) const {
  for (std::uint16_t i = 0; i < logicalFieldCount_; ++i) {
    if (AnsiSameText(logical_[i].Name.Str(), name)) {
      def = logical_[i];
      return;
    }
  }
  Raise(TARN_OUTOFRANGE, name);
}

void TDataCursor::GetPhysicalFieldDefinition(std::uint16_t n, TFieldDefinition& def) const {
  def = PhysicalDefinition(n);
}

void TDataCursor::GetPhysicalFieldDefinitionByPos(std::uint16_t pos, TFieldDefinition& def) const {
  if (!table_->DataFile().GetFieldDefinitionByPos(pos, def)) Raise(TARN_OUTOFRANGE, std::to_string(pos));
}

void TDataCursor::GetPhysicalFieldDefinitionByNumber(std::uint16_t number, TFieldDefinition& def) const {
  if (!table_->DataFile().GetFieldDefinitionByNumber(number, def)) Raise(TARN_OUTOFRANGE, std::to_string(number));
}

void TDataCursor::GetPhysicalFieldDefinitionByName(const std::string& name, TFieldDefinition& def) const {
  if (!table_->DataFile().GetFieldDefinitionByName(name, def)) Raise(TARN_OUTOFRANGE, name);
}

std::uint16_t TDataCursor::GetPhysicalFieldNumber(const std::string& name) const {
  const std::uint16_t number = table_->DataFile().GetFieldNumber(name);
  if (number == 0) Raise(TARN_OUTOFRANGE, name);
  return number;
}

bool TDataCursor::GetPhysicalFieldDefinitionForFieldName(const std::string& name, TFieldDefinition& def) const {
  TFieldDefinition logical;
  GetFieldDefinitionByName(name, logical);
  if (logical.Working.SourceFieldNumber <= 0) return false;
  GetPhysicalFieldDefinitionByNumber(static_cast<std::uint16_t>(logical.Working.SourceFieldNumber), def);
  return true;
}

void TDataCursor::UpdateFieldDefinitionByPos(std::uint16_t pos, const TFieldDefinition& def) {
  if (pos < 1 || pos > logicalFieldCount_) Raise(TARN_OUTOFRANGE, std::to_string(pos));
  logical_[pos - 1u] = def;
}

bool TDataCursor::LookupFilterField(TExpToken& node) {
  const auto fields = table_->DataFile().Fields();
  for (const TFieldDefinition& def : fields) {
    if (!AnsiSameText(def.Name.Str(), node.FieldName)) continue;
    node.FieldNumber = def.FieldNumber;
    node.Source = this;
    node.DataType = def.DataType;
    node.SubType = def.SubType;
    node.DataSize = def.PhysicalSize;
    node.Decimals = def.PhysicalDecimals;
    return true;
  }
  return false;
}

// --- index selection -------------------------------------------------------------------

std::uint8_t TDataCursor::GetIndexCount() const { return table_->IndexFile().GetIndexCount(); }

bool TDataCursor::GetIsPhysicalNavigation() const {
  return indexPos_ == kPhysicalOrder || (indexPos_ == 0 && table_ != nullptr && !table_->HasPrimaryIndex());
}

void TDataCursor::InternalSetIndexPos(std::uint8_t position) {
  indexPos_ = position;
  if (GetIsPhysicalNavigation()) {
    bitmapNavigation_ = true;
    keySize_ = 0;
    keyLayout_ = {};
    indexName_.clear();
    return;
  }
  InternalUpdateKeyInformation();
}

void TDataCursor::InternalUpdateKeyInformation() {
  table_->IndexFile().GetIndexDefinition(indexPos_, indexDefinition_);
  indexName_ = indexDefinition_.Name.Str();
  keyLayout_ =
      MakeIndexKeyLayout(indexDefinition_, table_->DataFile().Fields(), indexPos_, languageID_, sortID_, indexName_);
  keySize_ = static_cast<std::uint16_t>(keyLayout_.KeySize());
}

void TDataCursor::SetIndexName(const std::string& name) {
  if (AnsiSameText(name, indexName_) && indexPos_ != kPhysicalOrder) return;
  TCursorOperation operation(*this);
  CancelRange();
  const std::uint8_t count = table_->IndexFile().GetIndexCount();
  for (std::uint8_t slot = 0; slot <= count && slot < kDeletedRecordsIndex; ++slot) {
    TIndexDefinition def;
    table_->IndexFile().GetIndexDefinition(slot, def);
    if (!AnsiSameText(def.Name.Str(), name)) continue;
    if (slot == 0 && !table_->HasPrimaryIndex() && !name.empty()) continue;
    InternalSetIndexPos(slot);
    if (!GetIsPhysicalNavigation()) CheckForActiveFilters();
    RefreshRangeAndFilters();
    RepositionCurrentRecord();
    return;
  }
  Raise(TARN_INVALIDINDEXNAME, {}, name);
}

void TDataCursor::SetIndexPos(std::uint8_t position) {
  if (position == indexPos_) return;
  if (position != kPhysicalOrder && position > table_->IndexFile().GetIndexCount())
    Raise(TARN_INVALIDINDEXNAME, {}, std::to_string(position));
  TCursorOperation operation(*this);
  CancelRange();
  InternalSetIndexPos(position);
  if (!GetIsPhysicalNavigation()) CheckForActiveFilters();
  RefreshRangeAndFilters();
  RepositionCurrentRecord();
}

bool TDataCursor::ChangeToIndexForField(const TIndexForField& wanted) {
  const std::uint8_t count = table_->IndexFile().GetIndexCount();
  TFieldDefinition field;
  if (!table_->DataFile().GetFieldDefinitionByNumber(wanted.FieldNumber, field)) return false;
  const bool caseMatters = !wanted.AnyCase && field.DataType == dtString;
  for (std::uint8_t slot = table_->HasPrimaryIndex() ? 0 : 1; slot <= count && slot < kDeletedRecordsIndex; ++slot) {
    TIndexDefinition def;
    table_->IndexFile().GetIndexDefinition(slot, def);
    if (def.KeyFieldCount == 0 || def.KeyFields[0] != wanted.FieldNumber) continue;
    if (caseMatters && (def.CaseInsensitive != 0) != wanted.CaseInsensitive) continue;
    if (slot != indexPos_) InternalSetIndexPos(slot);
    return true;
  }
  return false;
}

bool TDataCursor::ChangeToTextIndex(std::uint16_t fieldNumber) {
  TIndexDefinition def;
  table_->IndexFile().GetIndexDefinition(kTextIndex, def);
  if (def.KeyFieldCount == 0) return false;
  const auto fields = std::span(def.KeyFields).first(std::min<std::size_t>(def.KeyFieldCount, kMaxKeyFields));
  if (std::find(fields.begin(), fields.end(), fieldNumber) == fields.end()) return false;
  if (indexPos_ != kTextIndex) InternalSetIndexPos(kTextIndex);
  return true;
}

const TTextIndexParams& TDataCursor::FilterTextIndexParams() const { return TTextIndexParams::Defaults(); }

// --- change detection -------------------------------------------------------------------

bool TDataCursor::PerformChangeDetection() {
  if (noLocking_ || (exclusive_ && !overrideExclusive_) || table_ == nullptr) return false;
  const std::int32_t data = table_->DataFile().GetLastUpdateStamp();
  const std::int32_t index = table_->IndexFile().Header().LastUpdateStamp;
  const std::int32_t blob = table_->HasBlobFile() ? table_->BlobFile().Header().LastUpdateStamp : 0;
  if (data == lastDataStamp_ && index == lastIndexStamp_ && blob == lastBlobStamp_) return false;
  lastDataStamp_ = data;
  lastIndexStamp_ = index;
  lastBlobStamp_ = blob;
  return true;
}

void TDataCursor::SynchLastUpdateStamps() {
  lastDataStamp_ = table_->DataFile().GetLastUpdateStamp();
  lastIndexStamp_ = table_->IndexFile().Header().LastUpdateStamp;
  lastBlobStamp_ = table_->HasBlobFile() ? table_->BlobFile().Header().LastUpdateStamp : 0;
}

void TDataCursor::SaveAndReturn(bool changed) {
  if (!changed) return;
  // Back onto the same record after rebuilding range and filters.
  std::vector<std::uint8_t> bookmark(GetBookmarkSize());
  GetBookmark(bookmark.data());
  const bool positioned = !bof_ && !eof_;
  RefreshRangeAndFilters();
  if (positioned) {
    SetToBookmark(bookmark.data(), true, true);
  } else if (eof_ && !bof_) {
    GotoLastIndexPosition();
    SkipIndexKeys(1);
  } else {
    GotoFirstIndexPosition();
    SkipIndexKeys(-1);
  }
}

void TDataCursor::FollowChanges(bool lockFoundChanges) {
  // The stamps are compared first, always, so that the cursor remembers them.
  const bool stampsChanged = PerformChangeDetection();
  SaveAndReturn(stampsChanged || lockFoundChanges);
}

void TDataCursor::ReadLockTable() {
  if (noLocking_ || (exclusive_ && !overrideExclusive_)) return;
  const bool changed = table_->ReadLockTable();
  FollowChanges(changed);
}

void TDataCursor::ReadUnlockTable() {
  if (table_ != nullptr) table_->ReadUnlockTable();
}

void TDataCursor::CheckForCursorChanges() { FollowChanges(false); }

void TDataCursor::CheckForChangeDetection() {
  if (table_->StrictChangeDetection()) {
    ReadLockTable();
  } else {
    CheckForCursorChanges();
  }
}

bool TDataCursor::ReadLockForCache() {
  // A cache miss outside a read lock: take it now (the operation releases it);
  // changes found mean the caches were dropped and the lookup starts over.
  if (noLocking_ || (exclusive_ && !overrideExclusive_)) return false;
  const bool changed = table_->ReadLockTable();
  if (changed) cacheChanged_ = true;
  return changed;
}

void TDataCursor::RepositionAfterCacheChange() {
  if (!cacheChanged_ || repositioning_ || updatingFilters_ || updatingRange_) return;
  cacheChanged_ = false;
  repositioning_ = true;
  struct TClear {
    bool& flag;
    ~TClear() { flag = false; }
  } clear{repositioning_};
  PerformChangeDetection();  // the cursor's stamps become the table's
  SaveAndReturn(true);
}

// --- keys and bookmarks -------------------------------------------------------------------

void TDataCursor::GetKeyValues(const std::uint8_t* record, std::uint8_t* key, const std::uint8_t* recordForID) const {
  const std::span<const std::uint8_t> bytes(record, recordBufferSize_);
  const std::span<std::uint8_t> out(key, keySize_);
  std::memset(key, 0, keySize_);
  if (keyLayout_.Kind == kkDeletedRecords) {
    BuildDeletedKey(bytes, out);
  } else {
    const std::uint8_t* idSource = recordForID != nullptr ? recordForID : record;
    BuildIndexKey(keyLayout_, bytes, out, LoadInt32(idSource + kRecordIdOffset));
  }
}

int TDataCursor::CompareKeys(const std::uint8_t* a, const std::uint8_t* b, std::size_t length) const {
  return tarn::CompareKeys(keyLayout_, a, b, length);
}

bool TDataCursor::SearchIndexKeys(const std::uint8_t* key) {
  if (GetIsPhysicalNavigation()) return false;
  TCursorOperation operation(*this);
  bool found = false;
  Restarting([&] {
    TPageRef page(table_->IndexFile(), this);
    int entry = 0;
    std::int64_t keysBefore = 0;
    found = false;
    if (!Descend(
            [&](const TPage& p, std::int64_t&) {
              const TPage::TSearchResult r = p.SearchScan(comparator_, key);
              found = r.Found;
              return r.Position;
            },
            page, entry, keysBefore))
      return false;
    return true;
  });
  return found;
}

std::uint16_t TDataCursor::GetBookmarkSize() const { return GetIsPhysicalNavigation() ? 4 : keySize_; }

void TDataCursor::GetBookmark(std::uint8_t* bookmark) const {
  if (GetIsPhysicalNavigation()) {
    StoreInt32(bookmark, currentRecordNumber_);
  } else if (currentPage_ == 0) {
    std::memset(bookmark, 0, keySize_);
  } else {
    std::memcpy(bookmark, currentKey_.data(), keySize_);
  }
}

bool TDataCursor::SetToBookmark(const std::uint8_t* bookmark, bool keepEnds, bool noChangeDetection) {
  std::optional<TCursorOperation> operation;
  if (!noChangeDetection) operation.emplace(*this);
  if (GetIsPhysicalNavigation()) {
    GotoPhysicalRecordNumber(LoadInt32(bookmark));
  } else {
    FindIndexKey(bookmark, true, keepEnds);
  }
  RefreshCurrentRecord(kReadAheadForward);
  if (keepEnds) return true;
  std::vector<std::uint8_t> now(GetBookmarkSize());
  GetBookmark(now.data());
  return CompareBookmarks(now.data(), bookmark) == 0;
}

int TDataCursor::CompareBookmarks(const std::uint8_t* a, const std::uint8_t* b) const {
  if (GetIsPhysicalNavigation()) {
    const std::int32_t x = LoadInt32(a), y = LoadInt32(b);
    return x < y ? -1 : (x > y ? 1 : 0);
  }
  return CompareKeys(a, b, keySize_);
}

}  // namespace tarn
