// The engine dataset: cursor, record buffer, navigation, fields, changes,
// bookmarks, filters, searches and block reads.
#include "components/tarn_dataset.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <map>
#include <mutex>

#include "components/db_messages.h"
#include "core/errors.h"
#include "cursor/data_cursor.h"
#include "platform/code_page.h"

namespace tarn {

namespace {

// The callback filter reaches its dataset through a number: the cursor keeps
// a 32-bit owner value, not a pointer.
struct TFilterOwners {
  std::mutex lock;
  std::map<std::int32_t, TTarnDataSet*> datasets;
  std::int32_t next = 1;
};

TFilterOwners& FilterOwners() {
  static TFilterOwners owners;
  return owners;
}

[[noreturn]] void DatabaseError(const std::string& message) { throw EDatabaseError(message); }

void CheckCode(std::uint16_t code) {
  if (code != 0) DbiError(code);
}

}  // namespace

// Access for the cursor's filter callback.
struct TTarnDataSet::Filters {
  static bool Callback(std::int32_t owner, void* /*cursor*/, const std::uint8_t* record, std::int32_t recordNumber) {
    TTarnDataSet* dataset = nullptr;
    {
      TFilterOwners& owners = FilterOwners();
      std::lock_guard guard(owners.lock);
      auto it = owners.datasets.find(owner);
      if (it != owners.datasets.end()) dataset = it->second;
    }
    return dataset == nullptr || dataset->FilterRecord(record, recordNumber);
  }
};

TTarnDataSet::TTarnDataSet(TComponent* owner) : TComponent(owner) {
  TFilterOwners& owners = FilterOwners();
  std::lock_guard guard(owners.lock);
  callbackOwner_ = owners.next++;
  owners.datasets[callbackOwner_] = this;
}

TTarnDataSet::~TTarnDataSet() {
  BeginDestroying();
  const std::vector<TTarnDataSet*> links = dataLinks_;
  for (TTarnDataSet* dependent : links) dependent->SourceDestroyed(*this);
  dataLinks_.clear();
  try {
    CloseDataSet();
  } catch (...) {
    // A failure while closing must not escape a destructor.
  }
  TFilterOwners& owners = FilterOwners();
  std::lock_guard guard(owners.lock);
  owners.datasets.erase(callbackOwner_);
}

// --- opening and closing ----------------------------------------------------------------------

void TTarnDataSet::SetActive(bool value) {
  if (value == Active()) return;
  if (value) {
    OpenDataSet();
  } else {
    CloseDataSet();
  }
}

void TTarnDataSet::SetHandle(TDataCursor* cursor) {
  CheckInactive();
  externalCursor_ = cursor;
}

TDataCursor* TTarnDataSet::CreateHandle(std::unique_ptr<TDataCursor>& /*owned*/) { return externalCursor_; }

void TTarnDataSet::CheckActive() const {
  if (!Active()) DatabaseError(db_messages::kDataSetClosed);
}

void TTarnDataSet::CheckInactive() const {
  if (Active()) DatabaseError(db_messages::kDataSetOpen);
}

void TTarnDataSet::OpenDataSet() {
  if (BeforeOpen) BeforeOpen(*this);
  OpenCursor();
  if (AfterOpen) AfterOpen(*this);
  NotifyDataLinks();
}

void TTarnDataSet::OpenCursor() {
  std::unique_ptr<TDataCursor> owned;
  TDataCursor* cursor = CreateHandle(owned);
  if (cursor == nullptr) DatabaseError(db_messages::kErrorCreatingHandle);
  ownedCursor_ = std::move(owned);
  cursor_ = cursor;
  try {
    InternalOpen();
    state_ = dsBrowse;
    ReadFirst();
  } catch (...) {
    state_ = dsInactive;
    try {
      CloseCursor();
    } catch (...) {
    }
    throw;
  }
}

void TTarnDataSet::InternalOpen() {
  recordSize_ = cursor_->GetRecordBufferSize();
  bookmarkSize_ = cursor_->GetBookmarkSize();
  canModify_ = !cursor_->ReadOnly();
  fieldDefs_ = BuildFieldDefs(*cursor_);
  // Index information: none for an SQL answer or physical order.
  indexFields_.clear();
  indexCaseInsensitive_ = false;
  if (!cursor_->IsResultSet() && !cursor_->GetIsPhysicalNavigation() && cursor_->Table() != nullptr) {
    TIndexDefinition index;
    cursor_->Table()->IndexFile().GetIndexDefinition(cursor_->GetIndexPos(), index);
    indexCaseInsensitive_ = index.CaseInsensitive != 0;
    for (std::size_t i = 0; i < std::min<std::size_t>(index.KeyFieldCount, kMaxKeyFields); ++i)
      indexFields_.push_back(index.KeyFields[i]);
  }
  fields_.clear();
  for (std::size_t i = 0; i < fieldDefs_.size(); ++i) {
    TFieldDef& def = fieldDefs_[i];
    if (def.Origin.empty()) def.Origin = cursor_->TableName() + "." + def.Engine.Name.Str();
    auto field = std::make_unique<TField>(*this, def, static_cast<int>(i));
    if (autoDisplayLabels_ && !cursor_->IsResultSet() && !def.Description.empty())
      field->SetDisplayLabel(def.Description);
    fields_.push_back(std::move(field));
  }
  infoOffset_ = recordSize_;  // no calculated fields: the information block follows the record
  active_.assign(BufferSize(), 0);
  old_.assign(BufferSize(), 0);
  keyBuffer_.assign(BufferSize(), 0);
  filterBuffer_.assign(BufferSize(), 0);
  hasRecord_ = false;
  modified_ = false;
  cursor_->SetToBegin();
  BuildExpressionFilter();
  BuildCallbackFilter();
}

void TTarnDataSet::CloseDataSet() {
  if (state_ == dsInactive) return;
  if (BeforeClose) BeforeClose(*this);
  if (state_ == dsEdit && cursor_ != nullptr) {
    try {
      cursor_->CancelRecord();
    } catch (...) {
    }
  }
  if (cursor_ != nullptr && (state_ == dsEdit || state_ == dsInsert)) cursor_->FreeAllBlobs(true);
  state_ = dsInactive;
  CloseCursor();
  if (AfterClose) AfterClose(*this);
  NotifyDataLinks();
}

void TTarnDataSet::CloseCursor() {
  state_ = dsInactive;
  if (cursor_ != nullptr) InternalClose();
  if (ownedCursor_) {
    ownedCursor_->CloseCursor();
    ownedCursor_.reset();
  }
  cursor_ = nullptr;
  DestroyHandle();
}

void TTarnDataSet::AddDataLink(TTarnDataSet& dependent) {
  if (std::find(dataLinks_.begin(), dataLinks_.end(), &dependent) == dataLinks_.end()) dataLinks_.push_back(&dependent);
}

void TTarnDataSet::RemoveDataLink(TTarnDataSet& dependent) {
  dataLinks_.erase(std::remove(dataLinks_.begin(), dataLinks_.end(), &dependent), dataLinks_.end());
}

void TTarnDataSet::NotifyDataLinks() {
  const std::vector<TTarnDataSet*> links = dataLinks_;
  for (TTarnDataSet* dependent : links)
    if (std::find(dataLinks_.begin(), dataLinks_.end(), dependent) != dataLinks_.end())
      dependent->SourceRecordChanged();
}

void TTarnDataSet::InternalClose() {
  // A cursor the dataset closes drops its filters itself; one that belongs
  // to someone else gives them back here.
  if (!ownedCursor_ && cursor_ != nullptr && cursor_->IsOpen()) {
    try {
      DropFilters();
    } catch (...) {
    }
  }
  expressionFilter_ = 0;
  callbackFilter_ = 0;
  blockReadSize_ = 0;
  block_.clear();
  keyBuffer_.clear();
  old_.clear();
  fields_.clear();
  fieldDefs_.clear();
  indexFields_.clear();
  indexCaseInsensitive_ = false;
  canModify_ = false;
  hasRecord_ = false;
  bof_ = eof_ = true;
  cursorSynced_ = true;
}

// --- reading records ----------------------------------------------------------------------------

void TTarnDataSet::SetInfo(std::uint8_t* buffer, std::int32_t recordNumber, TBookmarkFlag flag) const {
  std::memcpy(buffer + infoOffset_, &recordNumber, sizeof recordNumber);
  buffer[infoOffset_ + 4] = flag;
  std::memset(buffer + infoOffset_ + 5, 0, 3);
}

std::int32_t TTarnDataSet::InfoRecordNumber(const std::uint8_t* buffer) const {
  std::int32_t n = 0;
  std::memcpy(&n, buffer + infoOffset_, sizeof n);
  return n;
}

TGetResult TTarnDataSet::GetRecord(std::uint8_t* buffer, TGetMode mode, bool check) {
  std::uint16_t code = 0;
  switch (mode) {
    case gmCurrent:
      code = cursor_->GetCurrentRecord(buffer, false);
      break;
    case gmNext:
      code = cursor_->GetNextRecord(buffer);
      break;
    case gmPrior:
      code = cursor_->GetPriorRecord(buffer);
      break;
  }
  if (code == 0) {
    SetInfo(buffer, cursor_->GetRecordNumber(), bfCurrent);
    cursor_->GetBookmark(buffer + infoOffset_ + 8);
    return grOK;
  }
  if (code == TARN_BOF) return grBOF;
  if (code == TARN_EOF) return grEOF;
  if (check) DbiError(code);
  return grError;
}

void TTarnDataSet::ReadFirst() {
  cursor_->SetToBegin();
  hasRecord_ = GetRecord(active_.data(), gmNext, true) == grOK;
  cursorSynced_ = hasRecord_;
  bof_ = true;
  eof_ = !hasRecord_;
}

void TTarnDataSet::SyncCursor() {
  if (cursorSynced_ || !hasRecord_) return;
  cursor_->SetToBookmark(InfoBookmark(active_.data()), false, false);
  cursorSynced_ = true;
}

void TTarnDataSet::ResyncActive() {
  std::vector<std::uint8_t> buffer(BufferSize());
  TGetResult result = GetRecord(buffer.data(), gmCurrent, false);
  if (result != grOK) result = GetRecord(buffer.data(), gmNext, false);
  if (result != grOK) result = GetRecord(buffer.data(), gmPrior, false);
  if (result == grOK) {
    active_ = std::move(buffer);
    hasRecord_ = true;
    bof_ = eof_ = false;
  } else {
    hasRecord_ = false;
    bof_ = eof_ = true;
  }
  cursorSynced_ = true;
}

// --- navigation ---------------------------------------------------------------------------------

void TTarnDataSet::CheckBrowseMode() {
  CheckActive();
  if (state_ == dsEdit || state_ == dsInsert) {
    if (modified_) {
      Post();
    } else {
      Cancel();
    }
  } else if (state_ == dsSetKey) {
    state_ = dsBrowse;
  }
}

void TTarnDataSet::First() {
  CheckBrowseMode();
  if (BeforeScroll) BeforeScroll(*this);
  if (state_ == dsBlockRead) SetBlockReadSize(0);
  ReadFirst();
  if (AfterScroll) AfterScroll(*this);
  NotifyDataLinks();
}

void TTarnDataSet::Last() {
  CheckBrowseMode();
  if (BeforeScroll) BeforeScroll(*this);
  if (state_ == dsBlockRead) SetBlockReadSize(0);
  cursor_->SetToEnd();
  hasRecord_ = GetRecord(active_.data(), gmPrior, true) == grOK;
  cursorSynced_ = hasRecord_;
  eof_ = true;
  bof_ = !hasRecord_;
  if (AfterScroll) AfterScroll(*this);
  NotifyDataLinks();
}

void TTarnDataSet::Next() { MoveBy(1); }
void TTarnDataSet::Prior() { MoveBy(-1); }

int TTarnDataSet::MoveBy(int distance) {
  CheckBrowseMode();
  if (distance == 0 || (distance > 0 && eof_) || (distance < 0 && bof_)) return 0;
  if (BeforeScroll) BeforeScroll(*this);
  int moved = 0;
  if (state_ == dsBlockRead) {
    // Forward within the block, reading the next block at its end.
    if (distance < 0) SetBlockReadSize(0);
    while (state_ == dsBlockRead && moved < distance) {
      if (blockPos_ + 1 < blockCount_) {
        ++blockPos_;
        ++moved;
        bof_ = false;
        continue;
      }
      if (blockEnd_) {
        eof_ = true;
        break;
      }
      if (ReadBlock() == 0) {
        eof_ = true;
        break;
      }
      blockPos_ = 0;
      ++moved;
      bof_ = false;
    }
    if (state_ == dsBlockRead) {
      if (AfterScroll) AfterScroll(*this);
      NotifyDataLinks();
      return moved;
    }
  }
  if (!hasRecord_) {
    eof_ = bof_ = true;
    return 0;
  }
  SyncCursor();
  std::vector<std::uint8_t> buffer(BufferSize());
  const TGetMode mode = distance > 0 ? gmNext : gmPrior;
  const int steps = distance > 0 ? distance : -distance;
  while (moved < steps) {
    const TGetResult result = GetRecord(buffer.data(), mode, true);
    if (result != grOK) {
      if (mode == gmNext) {
        eof_ = true;
      } else {
        bof_ = true;
      }
      cursorSynced_ = false;
      break;
    }
    std::swap(active_, buffer);
    ++moved;
    if (mode == gmNext) {
      bof_ = false;
    } else {
      eof_ = false;
    }
  }
  if (AfterScroll) AfterScroll(*this);
  NotifyDataLinks();
  return distance > 0 ? moved : -moved;
}

std::int32_t TTarnDataSet::RecordCount() const {
  CheckActive();
  return cursor_ == nullptr ? 0 : cursor_->GetRecordCount();
}

std::int32_t TTarnDataSet::RecNo() const {
  if (state_ == dsInactive) return -1;
  if (state_ == dsBlockRead)
    return InfoRecordNumber(block_.data() + static_cast<std::size_t>(blockPos_) * BufferSize());
  if (!hasRecord_ && state_ != dsInsert) return -1;
  return InfoRecordNumber(active_.data());
}

void TTarnDataSet::SetRecNo(std::int32_t value) {
  CheckBrowseMode();
  if (state_ == dsBlockRead) SetBlockReadSize(0);
  if (hasRecord_ && value == RecNo()) return;
  if (BeforeScroll) BeforeScroll(*this);
  cursor_->SetToRecordNumber(value);
  ResyncActive();
  if (AfterScroll) AfterScroll(*this);
  NotifyDataLinks();
}

// --- fields -------------------------------------------------------------------------------------

TField& TTarnDataSet::Fields(int index) const {
  if (index < 0 || index >= FieldCount()) DatabaseError(db_messages::kFieldIndexRange);
  return *fields_[static_cast<std::size_t>(index)];
}

TField* TTarnDataSet::FindField(const std::string& name) const {
  for (const auto& field : fields_)
    if (AnsiSameText(field->Name(), name)) return field.get();
  return nullptr;
}

TField& TTarnDataSet::FieldByName(const std::string& name) const {
  TField* field = FindField(name);
  if (field == nullptr) DatabaseError(FormatMessage(db_messages::kFieldNotFound, name));
  return *field;
}

std::uint8_t* TTarnDataSet::SourceBuffer() {
  switch (state_) {
    case dsBrowse:
      return hasRecord_ ? active_.data() : nullptr;
    case dsEdit:
    case dsInsert:
    case dsNewValue:
    case dsCalcFields:
    case dsInternalCalc:
      return active_.data();
    case dsSetKey:
      return keyBuffer_.data();
    case dsFilter:
      return filterBuffer_.data();
    case dsOldValue:
      return old_.data();
    case dsBlockRead:
      return blockCount_ > 0 ? block_.data() + static_cast<std::size_t>(blockPos_) * BufferSize() : nullptr;
    default:
      return nullptr;
  }
}

bool TTarnDataSet::GetFieldData(const TField& field, std::uint8_t* destination) {
  const std::uint8_t* buffer = SourceBuffer();
  if (buffer == nullptr || cursor_ == nullptr) return false;
  bool isNull = true;
  cursor_->GetField(field.FieldNo(), buffer, destination, isNull);
  return !isNull;
}

void TTarnDataSet::SetFieldData(const TField& field, const std::uint8_t* source) {
  switch (state_) {
    case dsEdit:
    case dsInsert:
    case dsSetKey:
    case dsFilter:
    case dsNewValue:
    case dsInternalCalc:
      break;
    default:
      DatabaseError(db_messages::kNotEditing);
  }
  if (state_ == dsSetKey && std::find(indexFields_.begin(), indexFields_.end(), field.FieldNo()) == indexFields_.end())
    DatabaseError(FormatMessage(db_messages::kNotIndexField, field.Name()));
  if (field.ReadOnly() && state_ != dsSetKey && state_ != dsFilter)
    DatabaseError(FormatMessage(db_messages::kFieldReadOnly, field.Name()));
  std::uint8_t* buffer = SourceBuffer();
  cursor_->PutField(field.FieldNo(), buffer, source);
  if (state_ == dsEdit || state_ == dsInsert) modified_ = true;
}

std::string TTarnDataSet::GetBlobData(const TField& field) {
  const std::uint8_t* source = SourceBuffer();
  if (source == nullptr || cursor_ == nullptr) return {};
  // A BLOB opened on the active buffer while editing is read in place; any
  // other is opened on a copy and freed again.
  const bool inPlace = (state_ == dsEdit || state_ == dsInsert) && source == active_.data();
  std::vector<std::uint8_t> copy;
  std::uint8_t* record = active_.data();
  if (!inPlace) {
    copy.assign(source, source + recordSize_);
    record = copy.data();
  }
  CheckCode(cursor_->OpenBlob(field.FieldNo(), record, 0, false, !inPlace));
  std::string data;
  std::uint16_t code = 0;
  std::int32_t size = 0;
  code = cursor_->GetBlobSize(field.FieldNo(), record, false, size);
  if (code == 0 && size > 0) {
    data.resize(static_cast<std::size_t>(size));
    std::int32_t read = 0;
    code =
        cursor_->GetBlob(field.FieldNo(), record, false, read, size, reinterpret_cast<std::uint8_t*>(data.data()), 0);
    data.resize(static_cast<std::size_t>(std::max(read, 0)));
  }
  if (!inPlace) cursor_->FreeBlob(field.FieldNo(), record, false, true);
  CheckCode(code);
  return data;
}

void TTarnDataSet::SetBlobData(const TField& field, std::string_view data) {
  if (state_ != dsEdit && state_ != dsInsert) DatabaseError(db_messages::kNotEditing);
  if (field.ReadOnly()) DatabaseError(FormatMessage(db_messages::kFieldReadOnly, field.Name()));
  std::uint8_t* record = active_.data();
  CheckCode(cursor_->OpenBlob(field.FieldNo(), record, 0, false, false));
  CheckCode(cursor_->TruncateBlob(field.FieldNo(), record, false, 0));
  if (!data.empty())
    CheckCode(cursor_->PutBlob(field.FieldNo(), record, false, static_cast<std::int32_t>(data.size()),
                               reinterpret_cast<const std::uint8_t*>(data.data()), 0));
  modified_ = true;
}

// --- changes ------------------------------------------------------------------------------------

void TTarnDataSet::Edit() {
  CheckActive();
  if (state_ == dsEdit || state_ == dsInsert) return;
  if (!CanModify()) DatabaseError(db_messages::kDataSetReadOnly);
  CheckBrowseMode();
  if (state_ == dsBlockRead) SetBlockReadSize(0);
  if (!hasRecord_) {
    Append();
    return;
  }
  if (BeforeEdit) BeforeEdit(*this);
  SyncCursor();
  CheckCode(cursor_->GetCurrentRecord(active_.data(), true));
  old_ = active_;
  state_ = dsEdit;
  modified_ = false;
  if (AfterEdit) AfterEdit(*this);
}

void TTarnDataSet::Insert() {
  CheckActive();
  if (!CanModify()) DatabaseError(db_messages::kDataSetReadOnly);
  CheckBrowseMode();
  if (state_ == dsBlockRead) SetBlockReadSize(0);
  if (BeforeInsert) BeforeInsert(*this);
  savedActive_ = active_;
  savedHasRecord_ = hasRecord_;
  cursor_->InitRecord(active_.data());
  SetInfo(active_.data(), -1, bfInserted);
  std::memset(active_.data() + infoOffset_ + 8, 0, bookmarkSize_);
  state_ = dsInsert;
  modified_ = false;
  try {
    if (OnNewRecord) OnNewRecord(*this);
  } catch (...) {
    Cancel();
    throw;
  }
  if (AfterInsert) AfterInsert(*this);
}

void TTarnDataSet::Append() { Insert(); }

void TTarnDataSet::Post() {
  CheckActive();
  if (state_ != dsEdit && state_ != dsInsert) DatabaseError(db_messages::kNotEditing);
  if (BeforePost) BeforePost(*this);
  if (state_ == dsEdit) {
    cursor_->ModifyRecord(active_.data());
  } else {
    cursor_->AppendRecord(active_.data());
  }
  state_ = dsBrowse;
  modified_ = false;
  // The posted record is the cursor's current record.
  if (GetRecord(active_.data(), gmCurrent, false) == grOK) {
    hasRecord_ = true;
    bof_ = eof_ = false;
    cursorSynced_ = true;
  } else {
    ResyncActive();
  }
  if (AfterPost) AfterPost(*this);
  NotifyDataLinks();
}

void TTarnDataSet::Cancel() {
  CheckActive();
  if (state_ != dsEdit && state_ != dsInsert) {
    if (state_ == dsSetKey) state_ = dsBrowse;
    return;
  }
  if (BeforeCancel) BeforeCancel(*this);
  if (state_ == dsEdit) {
    cursor_->CancelRecord();
    cursor_->FreeAllBlobs(true);
    active_ = old_;
  } else {
    cursor_->FreeAllBlobs(true);
    active_ = savedActive_;
    hasRecord_ = savedHasRecord_;
  }
  state_ = dsBrowse;
  modified_ = false;
  if (AfterCancel) AfterCancel(*this);
}

void TTarnDataSet::Delete() {
  CheckActive();
  if (state_ == dsInsert || state_ == dsSetKey) {
    Cancel();
    return;
  }
  if (!CanModify()) DatabaseError(db_messages::kDataSetReadOnly);
  if (state_ == dsEdit) Cancel();
  if (state_ == dsBlockRead) SetBlockReadSize(0);
  if (!hasRecord_) DatabaseError(db_messages::kDataSetEmpty);
  if (BeforeDelete) BeforeDelete(*this);
  SyncCursor();
  cursor_->DeleteRecord(active_.data());
  ResyncActive();
  if (AfterDelete) AfterDelete(*this);
  NotifyDataLinks();
}

void TTarnDataSet::Refresh() {
  CheckBrowseMode();
  if (state_ == dsBlockRead) SetBlockReadSize(0);
  cursor_->Refresh();
  if (hasRecord_) {
    cursor_->SetToBookmark(InfoBookmark(active_.data()), false, false);
    ResyncActive();
  } else {
    ReadFirst();
  }
}

// --- bookmarks ----------------------------------------------------------------------------------

TBookmark TTarnDataSet::GetBookmark() const {
  if (state_ == dsInactive || !hasRecord_ || state_ == dsInsert) return {};
  const std::uint8_t* bookmark = InfoBookmark(active_.data());
  return TBookmark(bookmark, bookmark + bookmarkSize_);
}

void TTarnDataSet::GotoBookmark(const TBookmark& bookmark) {
  CheckBrowseMode();
  if (state_ == dsBlockRead) SetBlockReadSize(0);
  if (bookmark.size() != bookmarkSize_) DatabaseError(db_messages::kInvalidBookmark);
  if (BeforeScroll) BeforeScroll(*this);
  if (!cursor_->SetToBookmark(bookmark.data(), false, false)) {
    cursorSynced_ = false;
    RaiseError(TARN_RECNOTFOUND, {}, {}, cursor_->Directory().Name(), cursor_->TableName());
  }
  ResyncActive();
  if (AfterScroll) AfterScroll(*this);
  NotifyDataLinks();
}

bool TTarnDataSet::BookmarkValid(const TBookmark& bookmark) {
  if (!Active() || bookmark.size() != bookmarkSize_ || bookmark.empty()) return false;
  const bool valid = cursor_->SetToBookmark(bookmark.data(), false, false);
  cursorSynced_ = false;
  return valid;
}

int TTarnDataSet::CompareBookmarks(const TBookmark& a, const TBookmark& b) const {
  if (a.empty() && b.empty()) return 0;
  if (a.empty()) return -1;
  if (b.empty()) return 1;
  if (cursor_ == nullptr || a.size() != bookmarkSize_ || b.size() != bookmarkSize_)
    DatabaseError(db_messages::kInvalidBookmark);
  const int c = cursor_->CompareBookmarks(a.data(), b.data());
  return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

// --- filters ------------------------------------------------------------------------------------

void TTarnDataSet::BuildExpressionFilter() {
  if (filterText_.empty()) return;
  TAddFilterOptions options;
  options.Text = filterText_;
  options.CaseInsensitive = (filterOptions_ & foCaseInsensitive) != 0;
  options.NoPartialCompare = (filterOptions_ & foNoPartialCompare) != 0;
  expressionFilter_ = cursor_->AddFilter(std::move(options));
  if (filtered_) cursor_->ActivateFilter(expressionFilter_);
}

void TTarnDataSet::BuildCallbackFilter() {
  if (!onFilterRecord_) return;
  TAddFilterOptions options;
  options.CallbackOwner = callbackOwner_;
  options.Callback = &Filters::Callback;
  options.AfterOthers = true;
  callbackFilter_ = cursor_->AddFilter(std::move(options));
  if (filtered_) cursor_->ActivateFilter(callbackFilter_);
}

void TTarnDataSet::DropFilters() {
  if (expressionFilter_ != 0) cursor_->DropFilter(expressionFilter_);
  expressionFilter_ = 0;
  if (callbackFilter_ != 0) cursor_->DropFilter(callbackFilter_);
  callbackFilter_ = 0;
}

bool TTarnDataSet::FilterRecord(const std::uint8_t* record, std::int32_t /*recordNumber*/) {
  if (!onFilterRecord_) return true;
  const TDataSetState saved = state_;
  std::memcpy(filterBuffer_.data(), record, recordSize_);
  state_ = dsFilter;
  bool accept = true;
  try {
    onFilterRecord_(*this, accept);
  } catch (...) {
    // A failing handler accepts the record; the failure is not the cursor's.
    accept = true;
  }
  state_ = saved;
  return accept;
}

void TTarnDataSet::SetFilter(const std::string& text) {
  if (text == filterText_) return;
  if (Active()) CheckBrowseMode();
  filterText_ = text;
  if (!Active()) return;
  if (expressionFilter_ != 0) cursor_->DropFilter(expressionFilter_);
  expressionFilter_ = 0;
  BuildExpressionFilter();
  if (filtered_) First();
}

void TTarnDataSet::SetFilterOptions(std::uint8_t options) {
  if (options == filterOptions_) return;
  if (Active()) CheckBrowseMode();
  filterOptions_ = options;
  if (!Active()) return;
  if (expressionFilter_ != 0) cursor_->DropFilter(expressionFilter_);
  expressionFilter_ = 0;
  BuildExpressionFilter();
  if (filtered_) First();
}

void TTarnDataSet::SetOnFilterRecord(TFilterRecordEvent handler) {
  if (Active()) CheckBrowseMode();
  const bool had = static_cast<bool>(onFilterRecord_);
  onFilterRecord_ = std::move(handler);
  if (!Active()) return;
  if (had != static_cast<bool>(onFilterRecord_)) {
    if (callbackFilter_ != 0) cursor_->DropFilter(callbackFilter_);
    callbackFilter_ = 0;
    BuildCallbackFilter();
  } else if (callbackFilter_ != 0 && filtered_) {
    // Same filter, new handler: the cursor's bitmap is built again.
    cursor_->DeactivateFilter(callbackFilter_);
    cursor_->ActivateFilter(callbackFilter_);
  }
  if (filtered_) First();
}

void TTarnDataSet::ApplyFiltered() {
  for (std::int32_t handle : {expressionFilter_, callbackFilter_}) {
    if (handle == 0) continue;
    if (filtered_) {
      cursor_->ActivateFilter(handle);
    } else {
      cursor_->DeactivateFilter(handle);
    }
  }
}

void TTarnDataSet::SetFiltered(bool value) {
  if (value == filtered_) return;
  if (Active()) CheckBrowseMode();
  filtered_ = value;
  if (!Active()) return;
  if (state_ == dsBlockRead) SetBlockReadSize(0);
  ApplyFiltered();
  First();
}

TFilterOptimizeLevel TTarnDataSet::FilterOptimizeLevel() const {
  CheckActive();
  switch (cursor_->GetFilterOptimizeLevel()) {
    case olFull:
      return foFull;
    case olPartial:
      return foPartial;
    default:
      return foNone;
  }
}

bool TTarnDataSet::FindRecord(bool restart, bool forward) {
  CheckBrowseMode();
  if (state_ == dsBlockRead) SetBlockReadSize(0);
  // The filters take part in the search even when the dataset is not filtered.
  const bool temporary = !filtered_;
  if (temporary) {
    filtered_ = true;
    ApplyFiltered();
    filtered_ = false;
  }
  std::vector<std::uint8_t> buffer(BufferSize());
  TGetResult result = grError;
  try {
    if (restart) {
      if (forward) {
        cursor_->SetToBegin();
      } else {
        cursor_->SetToEnd();
      }
    } else if (hasRecord_) {
      cursorSynced_ = false;
      SyncCursor();
    } else {
      cursor_->SetToBegin();
    }
    result = GetRecord(buffer.data(), forward ? gmNext : gmPrior, true);
  } catch (...) {
    if (temporary) ApplyFiltered();
    cursorSynced_ = false;
    throw;
  }
  if (temporary) ApplyFiltered();
  cursorSynced_ = false;
  if (result != grOK) return false;
  if (BeforeScroll) BeforeScroll(*this);
  active_ = std::move(buffer);
  hasRecord_ = true;
  bof_ = eof_ = false;
  if (AfterScroll) AfterScroll(*this);
  NotifyDataLinks();
  return true;
}

bool TTarnDataSet::FindFirst() { return FindRecord(true, true); }
bool TTarnDataSet::FindNext() { return FindRecord(false, true); }
bool TTarnDataSet::FindPrior() { return FindRecord(false, false); }
bool TTarnDataSet::FindLast() { return FindRecord(true, false); }

// --- Locate and Lookup --------------------------------------------------------------------------

std::vector<TField*> TTarnDataSet::FieldList(const std::string& names) const {
  std::vector<TField*> fields;
  std::size_t start = 0;
  while (start <= names.size()) {
    std::size_t end = names.find(';', start);
    if (end == std::string::npos) end = names.size();
    std::string name = names.substr(start, end - start);
    while (!name.empty() && name.front() == ' ') name.erase(name.begin());
    while (!name.empty() && name.back() == ' ') name.pop_back();
    if (!name.empty()) fields.push_back(&FieldByName(name));
    start = end + 1;
  }
  return fields;
}

namespace {

std::string ValueText(const TFieldValue& value) {
  if (const auto* i = std::get_if<std::int64_t>(&value)) return IntToStr(*i);
  if (const auto* d = std::get_if<double>(&value)) return FormatFloatGeneral(*d);
  if (const auto* b = std::get_if<bool>(&value)) return *b ? "True" : "False";
  if (const auto* s = std::get_if<std::string>(&value)) return *s;
  return {};
}

std::string QuoteText(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) {
    quoted += c;
    if (c == '\'') quoted += '\'';
  }
  return quoted + "'";
}

}  // namespace

std::string TTarnDataSet::LocateFilterText(const std::vector<TField*>& fields, const std::vector<TFieldValue>& values,
                                           std::uint8_t options) const {
  std::string text;
  for (std::size_t i = 0; i < fields.size(); ++i) {
    if (i > 0) text += " AND ";
    const TField& field = *fields[i];
    text += "[" + field.Name() + "]";
    // The field's engine name: a renamed duplicate ("NAME_1") is not a column name.
    text.replace(text.size() - field.Name().size() - 1, field.Name().size(), field.EngineDefinition().Name.Str());
    const TFieldValue& value = values[i];
    if (std::holds_alternative<std::monostate>(value) ||
        (std::holds_alternative<std::string>(value) && std::get<std::string>(value).empty())) {
      text += " IS NULL";
      continue;
    }
    std::string literal = ValueText(value);
    switch (field.EngineDefinition().DataType) {
      case dtString:
        if ((options & loPartialKey) != 0 && i + 1 == fields.size()) literal += '*';
        text += " = " + QuoteText(literal);
        break;
      case dtSmallInt:
      case dtInteger:
      case dtWord:
      case dtCardinal:
      case dtLargeInt:
      case dtFloat:
      case dtBCD: {
        // A number is checked by the field's own conversion before it reaches the text.
        std::uint8_t scratch[256];
        field.EncodeText(literal, scratch);
        text += " = " + literal;
        break;
      }
      case dtBoolean:
        text += " = " + std::string(ValueText(value) == "True" ? "TRUE" : "FALSE");
        break;
      default:
        text += " = " + QuoteText(literal);
        break;
    }
  }
  return text;
}

bool TTarnDataSet::LocateRecord(const std::string& keyFields, const std::vector<TFieldValue>& values,
                                std::uint8_t options, bool moveTo, std::vector<std::uint8_t>& found) {
  CheckBrowseMode();
  if (state_ == dsBlockRead) SetBlockReadSize(0);
  const std::vector<TField*> fields = FieldList(keyFields);
  if (fields.empty()) DatabaseError(db_messages::kNoLocateFields);
  if (fields.size() != values.size()) DatabaseError(db_messages::kLocateValueCount);
  found.assign(BufferSize(), 0);
  bool indexed = fields.size() <= indexFields_.size() && indexCaseInsensitive_ == ((options & loCaseInsensitive) != 0);
  for (std::size_t i = 0; indexed && i < fields.size(); ++i) {
    indexed = fields[i]->FieldNo() == indexFields_[i] && !fields[i]->IsBlob();
    if (std::holds_alternative<std::monostate>(values[i])) indexed = false;
  }
  bool hit = false;
  cursorSynced_ = false;
  if (indexed) {
    // The values in a scratch record, searched in the current index.
    std::vector<std::uint8_t> scratch(recordSize_, 0);
    cursor_->ClearRecord(scratch.data());
    std::uint8_t value[256];
    for (std::size_t i = 0; i < fields.size(); ++i) {
      fields[i]->EncodeText(ValueText(values[i]), value);
      cursor_->PutField(fields[i]->FieldNo(), scratch.data(), value);
    }
    TFindOptions find;
    find.FieldCount = static_cast<std::int32_t>(fields.size());
    const TField& last = *fields.back();
    if ((options & loPartialKey) != 0 && last.EngineDefinition().DataType == dtString) {
      find.FieldCount -= 1;
      find.PartialLength = static_cast<std::uint8_t>(std::min<std::size_t>(ValueText(values.back()).size(), 255));
    }
    if (cursor_->Find(scratch.data(), find)) hit = GetRecord(found.data(), gmCurrent, true) == grOK;
  } else {
    TAddFilterOptions filter;
    filter.Text = LocateFilterText(fields, values, options);
    filter.CaseInsensitive = (options & loCaseInsensitive) != 0;
    filter.NoPartialCompare = (options & loPartialKey) == 0;
    const TFilterHandle handle = cursor_->AddFilter(std::move(filter));
    try {
      cursor_->ActivateFilter(handle);
      cursor_->SetToBegin();
      hit = GetRecord(found.data(), gmNext, true) == grOK;
    } catch (...) {
      cursor_->DropFilter(handle);
      throw;
    }
    cursor_->DropFilter(handle);
  }
  if (hit && moveTo) {
    if (BeforeScroll) BeforeScroll(*this);
    active_ = found;
    hasRecord_ = true;
    bof_ = eof_ = false;
    if (AfterScroll) AfterScroll(*this);
    NotifyDataLinks();
  }
  return hit;
}

bool TTarnDataSet::Locate(const std::string& keyFields, const std::vector<TFieldValue>& values, std::uint8_t options) {
  std::vector<std::uint8_t> found;
  return LocateRecord(keyFields, values, options, true, found);
}

std::vector<TFieldValue> TTarnDataSet::Lookup(const std::string& keyFields, const std::vector<TFieldValue>& values,
                                              const std::string& resultFields) {
  std::vector<std::uint8_t> found;
  const std::vector<TField*> results = FieldList(resultFields);
  std::vector<TFieldValue> answer(results.size());
  if (!LocateRecord(keyFields, values, 0, false, found)) return answer;
  // Read the values from the found record through the calculation state.
  const TDataSetState saved = state_;
  std::vector<std::uint8_t> active = active_;
  active_ = found;
  state_ = dsCalcFields;
  try {
    for (std::size_t i = 0; i < results.size(); ++i) {
      TField& field = *results[i];
      if (field.IsNull()) continue;
      switch (field.DataType()) {
        case ftSmallint:
        case ftInteger:
        case ftWord:
        case ftAutoInc:
        case ftLargeint:
          answer[i] = field.AsLargeInt();
          break;
        case ftFloat:
        case ftCurrency:
        case ftBCD:
          answer[i] = field.AsFloat();
          break;
        case ftBoolean:
          answer[i] = field.AsBoolean();
          break;
        default:
          answer[i] = field.AsString();
          break;
      }
    }
  } catch (...) {
    active_ = std::move(active);
    state_ = saved;
    throw;
  }
  active_ = std::move(active);
  state_ = saved;
  return answer;
}

// --- block reads --------------------------------------------------------------------------------

std::int32_t TTarnDataSet::ReadBlock() {
  const std::size_t rows = block_.size() / BufferSize();
  std::vector<std::uint8_t> records(rows * recordSize_);
  auto count = static_cast<std::int32_t>(rows);
  // Rows are numbered on from the record the cursor stands on (0 before the first).
  const std::int32_t before = cursor_->Bof() ? 0 : cursor_->GetRecordNumber();
  const std::uint16_t code = cursor_->ReadRecordBlock(count, records.data());
  if (code != 0 && code != TARN_EOF) DbiError(code);
  blockEnd_ = code == TARN_EOF;
  // A read that found nothing keeps the last block (its last row stays current).
  if (count == 0) return 0;
  blockCount_ = count;
  for (std::int32_t i = 0; i < count; ++i) {
    std::uint8_t* row = block_.data() + static_cast<std::size_t>(i) * BufferSize();
    std::memcpy(row, records.data() + static_cast<std::size_t>(i) * recordSize_, recordSize_);
    SetInfo(row, before + 1 + i, bfCurrent);
    std::memset(row + infoOffset_ + 8, 0, bookmarkSize_);
  }
  return count;
}

void TTarnDataSet::SetBlockReadSize(std::int32_t value) {
  if (value < 0) value = 0;
  if (value == blockReadSize_) return;
  if (!Active()) {
    blockReadSize_ = value;
    return;
  }
  if (value == 0) {
    // Back to single records: the block's current row becomes the active
    // record, found again by its record number.
    const bool had = state_ == dsBlockRead && blockCount_ > 0;
    const std::int32_t recordNumber =
        had ? InfoRecordNumber(block_.data() + static_cast<std::size_t>(blockPos_) * BufferSize()) : 0;
    blockReadSize_ = 0;
    block_.clear();
    blockCount_ = blockPos_ = 0;
    state_ = dsBrowse;
    if (had) {
      cursor_->SetToRecordNumber(recordNumber);
      ResyncActive();
    }
    return;
  }
  CheckBrowseMode();
  const std::size_t rows = value == std::numeric_limits<std::int32_t>::max()
                               ? std::max<std::size_t>(1, 65536 / BufferSize())
                               : static_cast<std::size_t>(value);
  blockReadSize_ = value;
  block_.assign(rows * BufferSize(), 0);
  blockCount_ = blockPos_ = 0;
  blockEnd_ = false;
  state_ = dsBlockRead;
  if (!hasRecord_) {
    blockEnd_ = true;
    return;
  }
  // Step back one record so that the first block starts with the active record.
  cursorSynced_ = false;
  SyncCursor();
  std::vector<std::uint8_t> scratch(recordSize_);
  cursor_->GetPriorRecord(scratch.data());
  ReadBlock();
  cursorSynced_ = false;
}

}  // namespace tarn
