// TTarnDataSet: a dataset over an engine cursor. It opens and closes the
// cursor, keeps one active record buffer (engine record, then an information
// block: record number, bookmark flag, three unused bytes, the cursor's
// bookmark), walks records with the end and beginning flags, hands out field
// objects made from the cursor's field definitions, edits, inserts and
// deletes through the cursor with the state rules, keeps bookmarks, applies
// the expression filter (Filter) and the callback filter (OnFilterRecord),
// searches (FindFirst/Next/Prior/Last, Locate, Lookup) and reads blocks of
// records. Subclasses supply the cursor (CreateHandle); a cursor that belongs
// to someone else can be given with SetHandle.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <variant>
#include <vector>

#include "components/component.h"
#include "components/field.h"
#include "components/field_definitions.h"

namespace tarn {

class TDataCursor;

enum TDataSetState : std::uint8_t {
  dsInactive,
  dsBrowse,
  dsEdit,
  dsInsert,
  dsSetKey,
  dsCalcFields,
  dsFilter,
  dsNewValue,
  dsOldValue,
  dsCurValue,
  dsBlockRead,
  dsInternalCalc,
};

enum TGetMode : std::uint8_t { gmCurrent, gmNext, gmPrior };
enum TGetResult : std::uint8_t { grOK, grBOF, grEOF, grError };

// Bookmark flags of the information block.
enum TBookmarkFlag : std::uint8_t { bfCurrent = 0, bfBOF = 1, bfEOF = 2, bfInserted = 3 };

// FilterOptions and Locate options, as bit sets.
enum TFilterOption : std::uint8_t { foCaseInsensitive = 1, foNoPartialCompare = 2 };
enum TLocateOption : std::uint8_t { loCaseInsensitive = 1, loPartialKey = 2 };
enum TFilterOptimizeLevel : std::uint8_t { foNone, foPartial, foFull };

using TBookmark = std::vector<std::uint8_t>;
// A value given to Locate or answered by Lookup: null, integer, float,
// boolean or text.
using TFieldValue = std::variant<std::monostate, std::int64_t, double, bool, std::string>;

class TTarnDataSet;
using TDataSetNotifyEvent = std::function<void(TTarnDataSet& DataSet)>;
using TFilterRecordEvent = std::function<void(TTarnDataSet& DataSet, bool& Accept)>;

class TTarnDataSet : public TComponent, public TFieldDataLink {
 public:
  explicit TTarnDataSet(TComponent* owner);
  ~TTarnDataSet() override;

  // --- opening and closing ------------------------------------------------------
  bool Active() const noexcept { return state_ != dsInactive; }
  void SetActive(bool value);
  void Open() { SetActive(true); }
  void Close() { SetActive(false); }
  TDataSetState State() const noexcept { return state_; }
  // The cursor while open.
  TDataCursor* Handle() const noexcept { return cursor_; }
  // Uses a cursor that belongs to someone else (it must be open); the dataset
  // must be closed. Null returns to the subclass's own cursor.
  void SetHandle(TDataCursor* cursor);

  // --- navigation -----------------------------------------------------------------
  void First();
  void Next();
  void Prior();
  void Last();
  int MoveBy(int distance);
  bool Eof() const noexcept { return eof_; }
  bool Bof() const noexcept { return bof_; }
  bool IsEmpty() const noexcept { return !hasRecord_ && state_ != dsInsert; }
  // Records visible through filters and ranges; the dataset must be open.
  std::int32_t RecordCount() const;
  // The record number of the active record (-1 for none or a new record).
  std::int32_t RecNo() const;
  void SetRecNo(std::int32_t value);

  // --- fields ------------------------------------------------------------------------
  const std::vector<TFieldDef>& FieldDefs() const noexcept { return fieldDefs_; }
  int FieldCount() const noexcept { return static_cast<int>(fields_.size()); }
  TField& Fields(int index) const;
  // Raises "Field '%s' not found" when no field has that name (compared
  // without regard to case).
  TField& FieldByName(const std::string& name) const;
  TField* FindField(const std::string& name) const;

  // --- changes -------------------------------------------------------------------------
  virtual bool CanModify() const { return canModify_; }
  void Edit();
  void Insert();
  void Append();
  void Post();
  void Cancel();
  void Delete();
  void Refresh();
  bool Modified() const noexcept { return modified_; }

  // --- bookmarks -----------------------------------------------------------------------
  TBookmark GetBookmark() const;
  void GotoBookmark(const TBookmark& bookmark);
  bool BookmarkValid(const TBookmark& bookmark);
  int CompareBookmarks(const TBookmark& a, const TBookmark& b) const;

  // --- filters and searches -----------------------------------------------------------
  const std::string& Filter() const noexcept { return filterText_; }
  void SetFilter(const std::string& text);
  bool Filtered() const noexcept { return filtered_; }
  void SetFiltered(bool value);
  std::uint8_t FilterOptions() const noexcept { return filterOptions_; }
  void SetFilterOptions(std::uint8_t options);
  const TFilterRecordEvent& OnFilterRecord() const noexcept { return onFilterRecord_; }
  void SetOnFilterRecord(TFilterRecordEvent handler);
  // The cursor's combined filter level; the dataset must be open.
  TFilterOptimizeLevel FilterOptimizeLevel() const;
  bool FindFirst();
  bool FindNext();
  bool FindPrior();
  bool FindLast();
  // Fields separated by ';'; one value per field.
  bool Locate(const std::string& keyFields, const std::vector<TFieldValue>& values, std::uint8_t options = 0);
  // The values of the result fields (';'-separated) of the record Locate
  // would find, without moving; every value null when none is found.
  std::vector<TFieldValue> Lookup(const std::string& keyFields, const std::vector<TFieldValue>& values,
                                  const std::string& resultFields);

  // --- block reads ---------------------------------------------------------------------
  std::int32_t BlockReadSize() const noexcept { return blockReadSize_; }
  void SetBlockReadSize(std::int32_t value);

  // --- published properties and events ------------------------------------------------
  bool AutoCalcFields() const noexcept { return autoCalcFields_; }
  void SetAutoCalcFields(bool value) noexcept { autoCalcFields_ = value; }
  bool AutoDisplayLabels() const noexcept { return autoDisplayLabels_; }
  void SetAutoDisplayLabels(bool value) noexcept { autoDisplayLabels_ = value; }
  bool CopyOnAppend() const noexcept { return copyOnAppend_; }
  void SetCopyOnAppend(bool value) noexcept { copyOnAppend_ = value; }

  TDataSetNotifyEvent BeforeOpen, AfterOpen, BeforeClose, AfterClose, BeforeInsert, AfterInsert, BeforeEdit, AfterEdit,
      BeforePost, AfterPost, BeforeCancel, AfterCancel, BeforeDelete, AfterDelete, BeforeScroll, AfterScroll,
      OnNewRecord;

  // TFieldDataLink
  bool GetFieldData(const TField& field, std::uint8_t* destination) override;
  void SetFieldData(const TField& field, const std::uint8_t* source) override;
  std::string GetBlobData(const TField& field) override;
  void SetBlobData(const TField& field, std::string_view data) override;

  // Reads a record into buffer (record size plus the information block):
  // grOK, or grBOF/grEOF at the ends; any other cursor result raises when
  // check is set and answers grError otherwise.
  TGetResult GetRecord(std::uint8_t* buffer, TGetMode mode, bool check);

 protected:
  // The subclass's cursor, opened; null when it cannot make one. A cursor
  // the subclass keeps (an SQL answer) is returned with owned left empty.
  virtual TDataCursor* CreateHandle(std::unique_ptr<TDataCursor>& owned);
  // After the cursor is gone (closed and freed, or forgotten).
  virtual void DestroyHandle() {}
  // The dataset's open and close steps around the cursor.
  virtual void InternalOpen();
  virtual void InternalClose();
  // Raises unless the dataset is open.
  void CheckActive() const;
  void CheckInactive() const;
  // Ends an edit: posts it when modified, cancels it otherwise.
  void CheckBrowseMode();
  // Called by the filter callback of the cursor.
  bool FilterRecord(const std::uint8_t* record, std::int32_t recordNumber);
  // Opening makes the cursor (CreateHandle) and runs InternalOpen; closing
  // runs InternalClose and frees or forgets the cursor. Database datasets
  // hold their database around these.
  virtual void OpenCursor();
  virtual void CloseCursor();

 public:
  // Datasets that take values from this one's current record (a query's
  // DataSource) are told when it changes record, opens or closes, and when
  // this dataset goes.
  void AddDataLink(TTarnDataSet& dependent);
  void RemoveDataLink(TTarnDataSet& dependent);

 protected:
  // This dataset's source moved to another record (or opened, or closed).
  virtual void SourceRecordChanged() {}
  // This dataset's source is being destroyed.
  virtual void SourceDestroyed(TTarnDataSet& /*source*/) {}
  void NotifyDataLinks();

 private:
  struct Filters;

  void OpenDataSet();
  void CloseDataSet();
  void ReadFirst();
  std::size_t BufferSize() const noexcept { return infoOffset_ + 8 + bookmarkSize_; }
  std::uint8_t* ActiveBuffer() noexcept { return active_.data(); }
  void SetInfo(std::uint8_t* buffer, std::int32_t recordNumber, TBookmarkFlag flag) const;
  std::int32_t InfoRecordNumber(const std::uint8_t* buffer) const;
  const std::uint8_t* InfoBookmark(const std::uint8_t* buffer) const { return buffer + infoOffset_ + 8; }
  // Moves the cursor back onto the active record after a read ran past an end.
  void SyncCursor();
  // After the cursor was moved: reads its current record into the active
  // buffer, or the nearest record after (before) it, or leaves the dataset empty.
  void ResyncActive();
  // The buffer field values come from in the current state; null when none.
  std::uint8_t* SourceBuffer();
  void BuildExpressionFilter();
  void BuildCallbackFilter();
  void DropFilters();
  void ApplyFiltered();
  bool FindRecord(bool restart, bool forward);
  std::string LocateFilterText(const std::vector<TField*>& fields, const std::vector<TFieldValue>& values,
                               std::uint8_t options) const;
  bool LocateRecord(const std::string& keyFields, const std::vector<TFieldValue>& values, std::uint8_t options,
                    bool moveTo, std::vector<std::uint8_t>& found);
  std::vector<TField*> FieldList(const std::string& names) const;
  // Reads the next block; answers the rows read (0 keeps the last block).
  std::int32_t ReadBlock();

  TDataSetState state_ = dsInactive;
  TDataCursor* cursor_ = nullptr;
  std::unique_ptr<TDataCursor> ownedCursor_;
  TDataCursor* externalCursor_ = nullptr;
  std::uint16_t recordSize_ = 0;
  std::uint16_t bookmarkSize_ = 0;
  std::size_t infoOffset_ = 0;
  bool canModify_ = false;
  std::vector<TFieldDef> fieldDefs_;
  std::vector<std::unique_ptr<TField>> fields_;
  // Index information of the cursor's current index (none for an SQL answer).
  bool indexCaseInsensitive_ = false;
  std::vector<std::uint16_t> indexFields_;
  std::vector<std::uint8_t> active_;
  std::vector<std::uint8_t> old_;
  std::vector<std::uint8_t> keyBuffer_;
  std::vector<std::uint8_t> filterBuffer_;  // the record under test (filtering state)
  bool hasRecord_ = false;
  bool bof_ = true;
  bool eof_ = true;
  bool cursorSynced_ = true;
  bool modified_ = false;
  std::vector<std::uint8_t> savedActive_;  // the active record while inserting
  bool savedHasRecord_ = false;
  // Filters.
  std::string filterText_;
  bool filtered_ = false;
  std::uint8_t filterOptions_ = 0;
  TFilterRecordEvent onFilterRecord_;
  std::int32_t expressionFilter_ = 0;
  std::int32_t callbackFilter_ = 0;
  std::int32_t callbackOwner_ = 0;
  // Block reads.
  std::int32_t blockReadSize_ = 0;
  std::vector<std::uint8_t> block_;
  std::int32_t blockCount_ = 0;
  std::int32_t blockPos_ = 0;
  bool blockEnd_ = false;
  std::vector<TTarnDataSet*> dataLinks_;
  bool autoCalcFields_ = true;
  bool autoDisplayLabels_ = false;
  bool copyOnAppend_ = false;
};

}  // namespace tarn
