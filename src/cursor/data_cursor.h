// TDataCursor: one caller's open view of one table: its current index and
// position, range, filters and record buffers over the shared TDataTable that
// every cursor of the directory on that table shares. Owns opening, cloning and
// closing, the logical and physical field definitions and field access, the
// position state machine and movement in index and physical order, record
// numbers and counts, change detection, bookmarks, and the cursor's records
// bitmaps (range, live records, navigation) with its filters.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "cursor/filter_source.h"
#include "engine/data_directory.h"
#include "expressions/expression_parser.h"
#include "storage/btree/index_file.h"
#include "storage/btree/index_path.h"
#include "storage/btree/page.h"
#include "storage/btree/page_key_comparator.h"
#include "storage/formats/field_definition.h"
#include "storage/formats/index_definition.h"
#include "storage/keys/key_layout.h"
#include "storage/records/record.h"
#include "storage/records/record_sort.h"
#include "storage/records/records_bitmap.h"

namespace tarn {

class TDataCursor;
class TFilter;

// A filter evaluated by its caller: keep (true) or drop the record (the
// cursor passed is the TDataCursor).
using TFilterCallback = bool (*)(std::int32_t owner, void* cursor, const std::uint8_t* record,
                                 std::int32_t recordNumber);

inline constexpr std::size_t kMaxLogicalFields = 1024;
inline constexpr std::uint8_t kPhysicalOrder = 255;
inline constexpr std::uint8_t kDeletedRecordsIndex = 31;
inline constexpr std::uint8_t kTextIndex = 32;
inline constexpr std::size_t kMaxFilters = 64;
inline constexpr std::uint8_t kReadAheadForward = 1;
inline constexpr std::uint8_t kReadAheadBackward = 2;

// Asked when an encrypted table's password is not among the session's: add a
// password to the session and answer true to try again, or false to give up.
using TPasswordCallback = bool (*)(void* userData, TDataCursor& cursor);

// What closing does with the table.
enum class TCursorClose : std::uint8_t {
  KeepTemporary,     // a temporary table's changes are written
  DiscardTemporary,  // a temporary table's changes are dropped
};

// What a new filter is (text, a ready tree or a callback) and how it is
// treated.
struct TAddFilterOptions {
  std::int32_t CallbackOwner = 0;
  std::string Text;                    // filter text, or
  TExpTokenPtr Tree{};                 // a verified and prepared tree the filter frees, or
  TExpToken* SharedTree = nullptr;     // one the caller keeps, or
  TFilterCallback Callback = nullptr;  // a callback evaluated per record
  // Kept behind the filters without it; evaluates only the records they keep.
  bool AfterOthers = false;
  // Conditions matching over 90 % of the records are left to record
  // evaluation, and large indexed results are built as complements.
  bool CountCheck = false;
  bool CaseInsensitive = false;   // text comparisons without regard to case
  bool NoPartialCompare = false;  // a trailing '*' is an ordinary character
};

// How Find reads its data and what it looks for.
struct TFindOptions {
  bool IsKey = false;               // data is a key, not a record buffer
  std::int32_t FieldCount = 0;      // leading key fields searched (0: all)
  bool Nearest = false;             // a miss stands on the next key
  std::uint8_t PartialLength = 0;   // characters of the next key field searched
};

// One end of a range: a record buffer or key, and the leading key fields it
// gives (0: all). No data: an open end.
struct TRangeBound {
  const std::uint8_t* Data = nullptr;
  std::int32_t FieldCount = 0;
  bool IsKey = false;
};

// How a posted change leaves the cursor.
struct TPostOptions {
  bool Reposition = true;  // the bitmaps take the change and the cursor finds its record again
  bool Unlock = true;      // a modify gives back the record lock of a pessimistic edit
};

// Filter handles are small positive integers, unique for the cursor.
using TFilterHandle = std::int32_t;

class TDataCursor final : public TCacheClient, public TFilterSource {
 public:
  explicit TDataCursor(TDataDirectory& directory);
  ~TDataCursor() override;
  TDataCursor(const TDataCursor&) = delete;
  TDataCursor& operator=(const TDataCursor&) = delete;

  TDataDirectory& Directory() const noexcept { return directory_; }
  TDataTable* Table() const noexcept { return table_; }

  // --- open settings (the cursor must be closed: TARN_TABLEOPEN) ------------
  void SetTableName(const std::string& name);
  const std::string& TableName() const noexcept { return tableName_; }
  void SetExclusive(bool value);
  void SetOverrideExclusive(bool value);
  void SetReadOnly(bool value);
  void SetInMemory(bool value);
  void SetIsTemporary(bool value);
  void SetIsSourceTable(bool value);
  void SetIsResultSet(bool value) noexcept { isResultSet_ = value; }
  bool Exclusive() const noexcept { return exclusive_; }
  bool ReadOnly() const noexcept { return readOnly_; }
  bool NoLocking() const noexcept { return noLocking_; }
  bool IsResultSet() const noexcept { return isResultSet_; }
  bool IsSourceTable() const noexcept { return isSourceTable_; }
  bool IsOpen() const noexcept { return open_; }
  void SetPasswordCallback(void* userData, TPasswordCallback callback) noexcept {
    passwordUserData_ = userData;
    passwordCallback_ = callback;
  }
  void SetRepairMode(bool value) noexcept { repairMode_ = value; }
  void SetRestructureMode(bool value) noexcept { restructureMode_ = value; }

  // --- open, close, clone ---------------------------------------------------
  void OpenCursor();
  void CloseCursor(TCursorClose close = TCursorClose::DiscardTemporary);
  // A new open cursor on the same table with the same index, range, filters
  // and current record.
  std::unique_ptr<TDataCursor> CloneCursor();
  bool AskForPassword();

  // --- guards -----------------------------------------------------------------
  void CheckExclusive() const;
  void CheckNotReadOnly() const;
  void CheckNotOpen() const;

  // --- table facts ------------------------------------------------------------
  std::uint16_t GetPhysicalFieldCount() const;
  std::uint16_t GetPhysicalRecordSize() const;
  std::uint16_t GetBlobFieldCount() const;
  std::uint16_t GetLanguageID() const noexcept { return languageID_; }
  std::uint16_t GetSortID() const noexcept { return sortID_; }
  bool GetEncrypted();
  std::string GetPassword();
  std::string GetDescription();
  double GetLastUpdated();
  std::int32_t GetPhysicalRecordsUsed() const;
  std::int32_t GetActualRecordCount() const;

  // --- field definitions ------------------------------------------------------
  std::uint16_t GetFieldCount() const noexcept { return logicalFieldCount_; }
  std::uint16_t GetRecordBufferSize() const noexcept { return recordBufferSize_; }
  void GetFieldDefinition(std::uint16_t n, TFieldDefinition& def) const;
  void GetFieldDefinitionByPos(std::uint16_t pos, TFieldDefinition& def) const;
  void GetFieldDefinitionByNumber(std::uint16_t number, TFieldDefinition& def) const;
  void GetFieldDefinitionByName(const std::string& name, TFieldDefinition& def) const;
  void GetPhysicalFieldDefinition(std::uint16_t n, TFieldDefinition& def) const;
  void GetPhysicalFieldDefinitionByPos(std::uint16_t pos, TFieldDefinition& def) const;
  void GetPhysicalFieldDefinitionByNumber(std::uint16_t number, TFieldDefinition& def) const;
  void GetPhysicalFieldDefinitionByName(const std::string& name, TFieldDefinition& def) const;
  std::uint16_t GetPhysicalFieldNumber(const std::string& name) const;
  bool GetPhysicalFieldDefinitionForFieldName(const std::string& name, TFieldDefinition& def) const;
  void UpdateFieldDefinitionByPos(std::uint16_t pos, const TFieldDefinition& def);
  void SetFieldMapping(std::span<const TFieldDefinition> definitions);
  void SetDefaultFieldMapping();

  // --- field access -------------------------------------------------------------
  void InitRecord(std::uint8_t* buffer);
  void ClearRecord(std::uint8_t* buffer) const;
  void GetField(std::uint16_t field, const std::uint8_t* record, std::uint8_t* destination, bool& isNull) const;
  void GetPhysicalField(std::uint16_t field, const std::uint8_t* record, std::uint8_t* destination, bool& isNull) const;
  // A null source sets the field null. A calculated field changes only with
  // writeCalculated.
  void PutField(std::uint16_t field, std::uint8_t* record, const std::uint8_t* source, bool writeCalculated = false,
                bool blobEmpty = false);
  void PutPhysicalField(std::uint16_t field, std::uint8_t* record, const std::uint8_t* source, bool blobEmpty = false);
  void CheckRecordValidity(const std::uint8_t* record) const;
  void CalculateExpressionFields(std::uint8_t* record);

  // --- index selection ----------------------------------------------------------
  void SetIndexName(const std::string& name);
  void SetIndexPos(std::uint8_t position);
  std::uint8_t GetIndexPos() const noexcept { return indexPos_; }
  const std::string& GetIndexName() const noexcept { return indexName_; }
  std::uint8_t GetIndexCount() const;
  bool GetIsPhysicalNavigation() const;
  std::uint16_t GetKeyEntrySize() const noexcept { return keySize_; }

  // --- navigation ---------------------------------------------------------------
  void SetToBegin();
  void SetToEnd();
  // 0, or TARN_EOF / TARN_BOF / TARN_NOCURRREC as results (buffer zeroed).
  std::uint16_t GetNextRecord(std::uint8_t* buffer);
  std::uint16_t GetPriorRecord(std::uint8_t* buffer);
  std::uint16_t GetCurrentRecord(std::uint8_t* buffer, bool lock = false);
  std::uint16_t ReadRecordBlock(std::int32_t& count, std::uint8_t* buffers);
  void SetToRecordNumber(std::int32_t n);
  std::int32_t GetRecordNumber() const;
  std::int32_t GetPhysicalRecordNumber() const;
  std::int32_t GetRecordCount() const;
  bool Bof() const noexcept { return bof_; }
  bool Eof() const noexcept { return eof_; }
  void RefreshCurrentRecord(std::uint8_t direction);
  void RepositionCurrentRecord();
  void Refresh();
  std::int32_t GetNumReadAheadRecords(std::int32_t wanted, std::uint8_t direction) const;
  // The cursor's copy of the current record (record buffer size bytes).
  const std::uint8_t* CurrentRecordBuffer() const noexcept { return currentRecord_.data(); }

  // --- keys, search and bookmarks --------------------------------------------------
  // The key of a record buffer for the current index (record ID from recordForID
  // when given, else from the record).
  void GetKeyValues(const std::uint8_t* record, std::uint8_t* key, const std::uint8_t* recordForID = nullptr) const;
  int CompareKeys(const std::uint8_t* a, const std::uint8_t* b, std::size_t length) const;
  bool FindIndexKey(const std::uint8_t* key, bool nearest, bool keepEnds);
  bool SearchIndexKeys(const std::uint8_t* key);
  std::uint16_t GetBookmarkSize() const;
  void GetBookmark(std::uint8_t* bookmark) const;
  bool SetToBookmark(const std::uint8_t* bookmark, bool keepEnds, bool noChangeDetection);
  int CompareBookmarks(const std::uint8_t* a, const std::uint8_t* b) const;
  // Looks a key up in the current index (index order only): data is a record
  // buffer or, with IsKey, a key. A search on the leading FieldCount key
  // fields (and PartialLength characters of the next), or on a non-unique
  // index, finds the first key with that prefix. With Nearest a miss stands
  // on the next key; without, a miss leaves the position alone. The current
  // record is copied into recordOut when given.
  bool Find(const std::uint8_t* data, const TFindOptions& options, std::uint8_t* recordOut = nullptr);
  // Restricts the view to the keys from begin to end (index order only); a
  // bound without data is an open end.
  void SetRange(const TRangeBound& begin, const TRangeBound& end);
  void ResetRange();
  void CancelRange();
  void ActivateRange();
  void UpdateRange();
  // A null key makes that end open.
  void SetBeginIndexRange(const std::uint8_t* key);
  void SetEndIndexRange(const std::uint8_t* key);
  bool RangeActive() const noexcept { return rangeActive_; }

  // --- filters -------------------------------------------------------------------
  TFilterHandle AddFilter(TAddFilterOptions options);
  // A handle of 0 names every filter.
  void ActivateFilter(TFilterHandle handle);
  void DeactivateFilter(TFilterHandle handle);
  void DropFilter(TFilterHandle handle);
  void ResetFilter(TExpTokenPtr tree, TFilterHandle handle);
  void ActivateAllFilters() { ActivateFilter(0); }
  void DeactivateAllFilters() { DeactivateFilter(0); }
  void DropAllFilters();
  bool CheckForActiveFilters();
  TOptimizeLevel GetFilterOptimizeLevel() const;
  // After this cursor inserted, modified or deleted record r.
  void UpdateRecordInBitmap(std::int32_t r, const std::uint8_t* record);
  void DeleteRecordInBitmap(std::int32_t r);
  bool BitmapNavigation() const noexcept { return bitmapNavigation_; }
  const TRecordsBitmap& NavigationBitmap() const noexcept { return *filterBitmap_; }

  // --- record changes, record and table locks, cursor BLOBs (cursor_records.cpp,
  // cursor_blobs.cpp) ----------------------------------------------------------------
  // Every check (validity, unique keys, a taken record ID, BLOB ownership) runs
  // before the first change; a change that fails leaves the files, the
  // table's counters and the cursor as they were.
  // Inserts the record; by default it becomes the current record.
  void AppendRecord(std::uint8_t* record, const TPostOptions& options = {});
  // Replaces the current record; by default a pessimistic record lock is
  // released afterwards.
  void ModifyRecord(std::uint8_t* record, const TPostOptions& options = {});
  // Deletes the current record; record is the caller's copy of it.
  void DeleteRecord(std::uint8_t* record, const TPostOptions& options = {});
  // Ends an edit without posting it.
  void CancelRecord();
  // A copy of the current record for inserting it again: every field that is
  // not null, BLOB contents included (in new BLOB buffers on the copy), and
  // the record ID when auto-increment values are suppressed. TARN_NOCURRREC
  // as a result without a current record.
  std::uint16_t CloneCurrentRecord(std::uint8_t* buffer);
  // Appends and modifies keep the caller's record IDs (only on a table with an
  // auto-increment field).
  void SetSuppressAutoIncValues(bool value) noexcept;
  bool SuppressAutoIncValues() const noexcept { return suppressAutoIncValues_; }
  // Record number 0 names the current record.
  void UserWriteLockRecord(std::int32_t r);
  void UserWriteUnlockRecord(std::int32_t r);
  void UserWriteLockTable();
  void UserWriteUnlockTable();
  void UserReadLockTable();
  void UserReadUnlockTable();
  void WriteLockTable();
  void WriteUnlockTable();
  bool RecordIsLocked();
  bool TableIsLocked() const;
  bool UserLockSemaphore(std::int32_t semaphore);
  bool UserUnlockSemaphore(std::int32_t semaphore);
  bool TransactionInProgress() const;
  // What a flush after a change writes.
  struct TFlushChanges {
    bool Force = false;        // flush also when the cursor is exclusive
    bool ShrinkCaches = false;  // shrink the caches to their configured sizes
    bool DataChanged = false;
    bool IndexChanged = false;
    bool BlobChanged = false;
  };
  void FlushBuffers(const TFlushChanges& changes);
  void FlushOSBuffers();
  // The record number this cursor holds a user write lock on (0: none).
  std::int32_t LockedRecord() const noexcept { return lockedRecord_; }
  bool RecordChanged() const noexcept { return recordChanged_; }

  // BLOBs of a record buffer. Each answers 0 or an error code (TARN_NOTABLOB,
  // TARN_INVALIDBLOBHANDLE, TARN_INVALIDBLOBOFFSET, TARN_INVALIDBLOBLEN,
  // TARN_OPENBLOBLIMIT, TARN_ENDOFBLOB, TARN_OUTOFRANGE); physical selects
  // physical field numbers. An open BLOB's field holds the negative of its
  // handle; the null flag tells whether the BLOB has contents.
  static constexpr std::size_t kMaxOpenBlobs = 128;
  std::uint16_t OpenBlob(std::uint16_t field, std::uint8_t* record, std::uint8_t mode, bool physical, bool owner);
  std::uint16_t GetBlob(std::uint16_t field, const std::uint8_t* record, bool physical, std::int32_t& countRead,
                        std::int32_t count, std::uint8_t* destination, std::int32_t offset);
  std::uint16_t PutBlob(std::uint16_t field, std::uint8_t* record, bool physical, std::int32_t count,
                        const std::uint8_t* source, std::int32_t offset);
  std::uint16_t TruncateBlob(std::uint16_t field, std::uint8_t* record, bool physical, std::int32_t size);
  std::uint16_t GetBlobSize(std::uint16_t field, const std::uint8_t* record, bool physical, std::int32_t& size);
  std::uint16_t FreeBlob(std::uint16_t field, std::uint8_t* record, bool physical, bool owner);
  bool ValidBlobHandle(std::uint16_t field, const std::uint8_t* record, bool physical) const;
  // Frees every open BLOB (all) or those whose owner flag is set.
  void FreeAllBlobs(bool all);
  std::size_t OpenBlobCount() const noexcept { return openBlobs_.size(); }
  // (end of record changes)

  // --- table creation, deletion, renaming, emptying and indexes (cursor_tables.cpp,
  // cursor_indexes.cpp) -----------------------------------------------------------------
  // Everything a new table is made of, with the cursor's table name, in-memory
  // and temporary settings.
  struct TCreateTableArguments {
    std::uint16_t LanguageID = 0;
    std::uint16_t SortID = 0;
    std::uint16_t UserMajorVersion = 0;
    std::uint16_t UserMinorVersion = 0;
    bool Encrypted = false;
    std::string Password;     // required when encrypted: at most 15 bytes once trimmed
    std::string Description;  // up to 50 bytes are stored
    std::uint16_t BlobBlockSize = 512;
    std::vector<TFieldDefinition> Fields;  // at most 1024
    // Slot 0 the primary index (no key fields: none), then the secondary
    // indexes in slot order (at most 30).
    std::vector<TIndexDefinition> Indexes;
    // The text index over string and memo fields, when HasTextIndex is set.
    bool HasTextIndex = false;
    TIndexDefinition TextIndex{};
    bool AllowEmptyPrimaryIndex = true;
    // Text-index parameters: stop words (null: the defaults), word separators
    // and characters kept in words (an empty set: the defaults).
    const std::vector<std::string>* StopWords = nullptr;
    std::bitset<256> SpaceChars;
    std::bitset<256> IncludeChars;
    bool Overwrite = false;  // an existing table of that name is replaced
  };
  // What deleting an index does with its definition.
  enum class TIndexDefinitionRemoval : std::uint8_t {
    idKeep,    // the slot keeps its definition, emptied: its keys are the caller's to rebuild
    idRemove,  // later secondary indexes move down one slot
  };
  // Told the percentage of records done while an index is built.
  using TIndexProgressCallback = std::function<void(int percentDone)>;

  // The cursor must be closed, exclusive and not read-only; it is closed again
  // afterwards.
  void CreateTable(const TCreateTableArguments& arguments);
  // The cursor must be closed; a table another cursor has open gives TARN_OSEACCES.
  void DeleteTable();
  void RenameTable(const std::string& newName);
  // The cursor must be open, exclusive and not read-only.
  void EmptyTable();
  // Sorts the records of a table without indexes (a result table) in place
  // by the fields, with the duplicate removal, grouping
  // callbacks and limit of SortDataFile; the cursor is then at the
  // beginning. The cursor must be open, exclusive and not read-only.
  // Answers the records kept.
  std::int32_t SortRecords(std::span<const TFieldDefinition> fields, std::int64_t maxRecords,
                           const TSortCallbacks& callbacks, const TSortOptions& options);
  // Building a unique index over records with equal keys raises TARN_KEYVIOL
  // and leaves the table as it was. The definition is completed in place.
  void AddPrimaryIndex(TIndexDefinition& definition);
  void AddSecondaryIndex(TIndexDefinition& definition);
  void DeleteIndex(const std::string& name, TIndexDefinitionRemoval removal = TIndexDefinitionRemoval::idRemove);
  void DeleteIndexByPos(std::uint8_t position, TIndexDefinitionRemoval removal = TIndexDefinitionRemoval::idRemove);
  void DeleteAllIndexes();
  bool IndexExists(const std::string& name) const;
  void SetIndexProgressCallback(TIndexProgressCallback callback) { indexProgress_ = std::move(callback); }
  // (end of table operations)

  // --- change detection ------------------------------------------------------------
  // Runs at the start of every reading or moving operation; the scope that
  // calls it releases the table read lock at its end.
  void CheckForChangeDetection();
  void CheckForCursorChanges();
  bool PerformChangeDetection();
  void SynchLastUpdateStamps();
  void ReadLockTable();
  void ReadUnlockTable();

  // --- TCacheClient -----------------------------------------------------------------
  bool ReadLockForCache() override;
  // Asked by the record cache on a miss only: the run of records the cursor
  // will visit next from the record being read.
  std::int32_t ReadAheadCount() const override {
    return readAheadDirection_ == 0 ? readAheadCount_ : GetNumReadAheadRecords(readAheadCount_, readAheadDirection_);
  }

  // --- TFilterSource ------------------------------------------------------------------
  const std::string& FilterTableName() const override { return tableName_; }
  const std::string& FilterDatabaseName() const override { return directory_.Name(); }
  bool OptimizationAllowed() const override { return !isResultSet_ || isSourceTable_; }
  std::uint16_t FilterLanguageID() const override { return languageID_; }
  std::uint16_t FilterSortID() const override { return sortID_; }
  const TLanguageCharMap& FilterCharMap() const override { return charMap_; }
  std::int32_t FilterActualRecordCount() override { return GetActualRecordCount(); }
  std::int32_t FilterPhysicalRecordsUsed() override { return GetPhysicalRecordsUsed(); }
  bool LookupFilterField(TExpToken& node) override;
  std::uint8_t FilterIndexPosition() const override { return indexPos_; }
  void RestoreFilterIndexPosition(std::uint8_t position) override { InternalSetIndexPos(position); }
  bool ChangeToIndexForField(const TIndexForField& wanted) override;
  bool ChangeToTextIndex(std::uint16_t fieldNumber) override;
  const TKeyLayout& CurrentKeyLayout() const override { return keyLayout_; }
  std::uint16_t CurrentKeySize() const override { return keySize_; }
  bool CountIndexedRecords(const std::uint8_t* low, const std::uint8_t* high, std::int64_t& count) override;
  bool NavigateIndexedRecords(const std::uint8_t* low, const std::uint8_t* high, TRecordsBitmap& bitmap) override;
  bool ReadFilterRecord(std::int32_t recordNumber, const std::uint8_t*& record) override;
  void* EvaluationContext() override { return this; }
  TEvaluateFieldCallback FieldCallback() const override;
  TEvaluateTextSearchCallback TextSearchCallback() const override;
  const TTextIndexParams& FilterTextIndexParams() const override;

  // Statistics for tests and benchmarks: records read for filters and for
  // the current record.
  std::int64_t FilterRecordReads() const noexcept { return filterRecordReads_; }

 private:
  friend class TCursorOperation;
  class TKeyComparator final : public TPageKeyComparator {
   public:
    explicit TKeyComparator(const TDataCursor& cursor) : cursor_(cursor) {}
    int CompareKeys(const std::uint8_t* a, const std::uint8_t* b, std::size_t length) const override {
      return cursor_.CompareKeys(a, b, length);
    }

   private:
    const TDataCursor& cursor_;
  };
  struct TFilterDelete {
    void operator()(TFilter* filter) const noexcept;
  };
  struct TFilterEntry {
    TFilterHandle Handle = 0;
    std::unique_ptr<TFilter, TFilterDelete> Filter;
  };

  [[noreturn]] void Raise(TarnErrorCode code, const std::string& field = {}, const std::string& index = {}) const;
  void CheckClosedToChange() const;
  void OpenSteps();
  void GetPhysicalFields();
  void RebuildMissingIndex();
  void CheckPassword();
  TDataHeader ReadClosedHeader(bool checkPassword);
  const TFieldDefinition& LogicalDefinition(std::uint16_t n) const;
  const TFieldDefinition& PhysicalDefinition(std::uint16_t n) const;
  static void ReadFieldForEvaluation(void* context, const std::uint8_t* record, TExpToken& node);

  // Index selection.
  void InternalSetIndexPos(std::uint8_t position);
  void InternalUpdateKeyInformation();
  void ResetIndexPosition();
  bool IndexNavigable() const noexcept { return indexPos_ != kPhysicalOrder; }

  // Index-order movement over the leaves of the current index. Each Try...
  // answers false when a page read revealed changes made elsewhere: the
  // caller starts over from the root.
  template <class TStep>
  bool Descend(TStep&& step, TPageRef& page, int& entry, std::int64_t& keysBefore);
  // The page after (forward) or before the given leaf; false on a restart,
  // page empty at the end of the index.
  bool Sibling(TPageRef& page, bool forward);
  bool TryFirstLast(bool first);
  bool TrySkip(std::int32_t n);
  bool TryGotoOrdinal(std::int32_t n);
  bool TryFindIndexKey(const std::uint8_t* key, bool nearest, bool& found);
  bool TryCountRange(const std::uint8_t* low, const std::uint8_t* high, std::int64_t& first, std::int64_t& last);
  bool TryCollectRange(const std::uint8_t* low, const std::uint8_t* high, TRecordsBitmap& bitmap);
  // The records whose keys lie below low or above high.
  bool TryCollectOutside(const std::uint8_t* low, const std::uint8_t* high, TRecordsBitmap& bitmap);
  void CloneFiltersInto(TDataCursor& clone);
  // Makes the entry of the leaf current (key, record number, ordinal).
  void SetCurrentEntry(const TPage& leaf, int entry, std::int64_t ordinal);
  bool EntryVisible(const TPage& leaf, int entry) const;
  // From the entry (inclusive) to the nearest one in the direction whose
  // record is visible, within the range and across pages; found stays false
  // when the walk passes the range or the end of the index. False on a restart.
  bool WalkToVisible(TPageRef& page, int& entry, std::int64_t& ordinal, bool forward, bool& found);
  // From a hidden entry: the next visible entry, else the previous one, made
  // current; settled is 1 or -1 for the way it went, 0 when none is visible.
  bool SettleNearVisible(TPageRef& page, int entry, std::int64_t ordinal, int& settled);
  // The bounds of the active range; null for an open end (and without a range).
  const std::uint8_t* RangeBeginKey() const noexcept {
    return rangeActive_ && rangeHasBegin_ ? rangeBegin_.data() : nullptr;
  }
  const std::uint8_t* RangeEndKey() const noexcept { return rangeActive_ && rangeHasEnd_ ? rangeEnd_.data() : nullptr; }
  bool BelowRange(const std::uint8_t* key) const;
  bool AboveRange(const std::uint8_t* key) const;
  // The search key of Find or of a range end: the data itself or the key of
  // the record, filled from the prefix's end with the lowest (highest) bytes.
  std::size_t PrefixLength(std::int32_t fieldCount, std::uint8_t partialLength) const;
  std::vector<std::uint8_t> SearchKey(const std::uint8_t* data, bool isKey) const;
  // Runs one restartable index operation until it completes.
  template <class TTry>
  void Restarting(TTry&& attempt);

  void GotoFirstIndexPosition();
  void GotoLastIndexPosition();
  void SkipIndexKeys(std::int32_t n);
  void GotoLogicalRecordNumber(std::int32_t n);
  void GotoPhysicalRecordNumber(std::int32_t r);
  void VerifyRawRecordPosition();
  bool ReadRecordInto(std::int32_t recordNumber, std::uint8_t direction, std::uint8_t* destination);
  std::uint16_t StepAndRead(std::uint8_t* buffer, bool forward);

  // Bitmaps.
  void RefreshRangeAndFilters();
  void UpdateAllFilters();
  bool TryUpdateAllFilters();
  void UpdateFilter(TFilter& filter);
  void RebuildFilterBitmap();
  bool UpdateRangeBitmap();
  bool UpdateDeletedBitmap();
  void SizeCursorBitmaps(std::int32_t bits);
  void ReleaseCursorBitmaps();
  TFilterEntry* FindFilter(TFilterHandle handle);
  // The filter with this handle; TARN_NOSUCHFILTER when there is none.
  TFilterEntry& RequireFilter(TFilterHandle handle);
  // After a filter was deactivated or dropped: the navigation bitmap without
  // it, and the current record found again.
  void AfterFilterRemoved();
  void PlaceFilter(TFilterEntry entry);
  void SaveAndReturn(bool changed);
  // After a lock (lockFoundChanges: what the table's detection saw) or at an
  // operation's start: this cursor's own stamp comparison runs as well, and a
  // change either saw brings the cursor back onto its record.
  void FollowChanges(bool lockFoundChanges);
  void RepositionAfterCacheChange();

  TDataDirectory& directory_;
  TDataTable* table_ = nullptr;
  std::string tableName_;
  std::int32_t lastDataStamp_ = 0;
  std::int32_t lastIndexStamp_ = 0;
  std::int32_t lastBlobStamp_ = 0;
  bool open_ = false;
  bool exclusive_ = false;
  bool overrideExclusive_ = false;
  bool readOnly_ = false;
  bool noLocking_ = false;
  bool inMemory_ = false;
  bool isResultSet_ = false;
  bool isTemporary_ = false;
  bool isSourceTable_ = false;
  bool repairMode_ = false;
  bool restructureMode_ = false;
  void* passwordUserData_ = nullptr;
  TPasswordCallback passwordCallback_ = nullptr;

  // Field definitions (slot i holds logical field i + 1).
  std::vector<TFieldDefinition> logical_;
  std::uint16_t logicalFieldCount_ = 0;
  std::uint16_t recordBufferSize_ = 0;
  bool hasValidityChecks_ = false;
  bool hasDefaults_ = false;
  bool hasCalculatedFields_ = false;
  bool hasAutoIncField_ = false;
  bool calculating_ = false;
  std::uint16_t languageID_ = 0;
  std::uint16_t sortID_ = 0;
  TLanguageCharMap charMap_{};
  TExpressionParser parser_;

  // Current index and its key information.
  std::uint8_t indexPos_ = 0;
  std::string indexName_;
  std::uint16_t keySize_ = 0;
  TIndexDefinition indexDefinition_{};
  TKeyLayout keyLayout_;
  TKeyComparator comparator_{*this};
  TIndexPath path_;

  // Position.
  std::int32_t logicalPosition_ = 0;
  bool bof_ = false;
  bool eof_ = false;
  std::int32_t currentPage_ = 0;  // leaf page of the current entry (index order)
  int currentEntry_ = 0;          // 1-based entry on that page
  // Key of the current entry (the bookmark); room for the largest key, so that
  // switching the index for a moment keeps it.
  std::vector<std::uint8_t> currentKey_ = std::vector<std::uint8_t>(kMaxKeySize, 0);
  std::int32_t currentIndexRecord_ = 0;   // record number of the current entry
  std::int32_t currentRecordNumber_ = 0;  // physical order
  std::int32_t rangeStartOrdinal_ = 1;
  std::int32_t rangeEndOrdinal_ = 0;
  std::int32_t visibleRecordCount_ = 0;
  std::int32_t readAheadCount_ = 1;     // records wanted at most
  std::uint8_t readAheadDirection_ = 0;  // of the walk reading now; 0: read readAheadCount_ as it is
  std::vector<std::uint8_t> currentRecord_;  // the cursor's record instance
  std::vector<std::uint8_t> filterRecord_;   // a record read for a filter

  // Range.
  std::array<std::uint8_t, kMaxKeySize> rangeBegin_{};
  std::array<std::uint8_t, kMaxKeySize> rangeEnd_{};
  bool rangeActive_ = false;
  // Open ends are explicit (no sentinel keys), so that descending indexes work.
  bool rangeHasBegin_ = false;
  bool rangeHasEnd_ = false;

  // Bitmaps and filters.
  bool bitmapNavigation_ = false;
  std::unique_ptr<TRecordsBitmap> rangeBitmap_;
  std::unique_ptr<TRecordsBitmap> deletedBitmap_;  // the live records
  std::unique_ptr<TRecordsBitmap> filterBitmap_;   // the navigation bitmap
  std::vector<TFilterEntry> filters_;
  TFilterHandle nextFilterHandle_ = 1;
  bool updatingFilters_ = false;
  bool updatingRange_ = false;
  bool cacheChanged_ = false;  // a cache miss's read lock found changes made elsewhere
  bool repositioning_ = false;
  bool readMetChange_ = false;  // the last record read found changes and repositioned the cursor
  std::int64_t filterRecordReads_ = 0;

  // --- record changes: private members ---
  // One open BLOB buffer: its handle, whether the caller owns it (else the
  // engine frees it after the post that consumes it), and the reference the
  // field held before it was opened (FreeBlob puts it back).
  struct TOpenBlob {
    std::int32_t Handle = 0;
    bool Owner = false;
    std::int32_t OpenedFromBlock = 0;
    std::int32_t OpenedFromSignature = 0;
    std::unique_ptr<class TBlobBuffer> Buffer;
  };
  // The key of a record for one index slot (0 primary, 1-30, 31 deleted records).
  struct TSlotKeys {
    std::size_t Slot = 0;
    std::string IndexName;
    TKeyLayout Layout;
  };
  std::vector<TSlotKeys> KeySlots() const;
  TSlotKeys DeletedRecordsSlot() const;
  std::vector<std::uint8_t> SlotKey(const TSlotKeys& slot, const std::uint8_t* record) const;
  bool CheckForKeyViolation(const TSlotKeys& slot, const std::uint8_t* key);
  void AddIndexKey(const TSlotKeys& slot, const std::uint8_t* key, std::int32_t r);
  void RemoveIndexKey(const TSlotKeys& slot, const std::uint8_t* key);
  void UpdateIndexKey(const TSlotKeys& slot, const std::uint8_t* oldKey, const std::uint8_t* newKey, std::int32_t r);
  [[noreturn]] void RaiseKeyViolationError(const TSlotKeys& slot) const;
  // Text-index entries of a changed record: the text index is not maintained
  // by record changes yet, so this does nothing for now.
  void UpdateTextIndexEntries(const std::uint8_t* oldRecord, const std::uint8_t* newRecord);
  // The stored record r, read under the write lock.
  std::vector<std::uint8_t> ReadStoredRecord(std::int32_t r);
  TRecord* FetchRecord(std::int32_t r);
  void RefreshAfterChange(std::int32_t r, bool deleted, bool reposition);
  // BLOBs at a post: the open BLOBs a record refers to, checked before the
  // change; stored is the record as stored (nullptr for an append).
  std::vector<TOpenBlob*> CheckRecordBlobs(const std::uint8_t* record, std::int32_t r, const std::uint8_t* stored);
  // Writes the modified BLOBs of the record into the BLOB file, frees stored
  // chains the record no longer refers to, and stores the references into the
  // record; answers whether anything was written.
  bool WriteRecordBlobs(std::uint8_t* record, std::int32_t r, const std::uint8_t* stored);
  // After a committed post: the engine's own buffers go, the others remember
  // the reference they now stand for.
  void ReleasePostedBlobs(const std::uint8_t* record, const std::vector<TOpenBlob*>& blobs);
  void FreeRemovedBlobs(std::uint8_t* record, std::int32_t r);
  const TFieldDefinition* BlobFieldDefinition(std::uint16_t field, bool physical, std::uint16_t& code) const;
  TOpenBlob* FindOpenBlob(std::int32_t reference);
  const TOpenBlob* FindOpenBlob(std::int32_t reference) const;
  // The open BLOB a BLOB field of the record holds, or the error code.
  TOpenBlob* OpenBlobOfField(std::uint16_t field, const std::uint8_t* record, bool physical,
                             const TFieldDefinition*& def, std::uint16_t& code);
  static void StoreBlobHandle(const TFieldDefinition& def, std::uint8_t* record, const TOpenBlob& blob);
  std::int32_t NextBlobHandle();

  std::int32_t lockedRecord_ = 0;
  bool recordChanged_ = false;
  bool suppressAutoIncValues_ = false;
  std::vector<TOpenBlob> openBlobs_;
  std::int32_t lastBlobHandle_ = 0;
  // (end of record changes: private members)

  // --- table operations: private members ---
  void CheckOpenForIndexChange() const;
  // The text-index parameters of a new table. The table layer has no place
  // for them yet (they belong in the data root page of the text-index slot);
  // until it has, this hook receives them and keeps nothing.
  void StoreTextIndexParams(const TTextIndexParams& params);
  // Adds the key of every live record to the index in slot (TARN_KEYVIOL when
  // a unique index meets a key twice), reporting progress.
  void BuildIndexKeys(std::uint8_t slot, const std::string& indexName);
  // Puts every page of the slot's tree on the slot's free-page list, children
  // before their parent, and leaves the slot without root.
  void ReleaseIndexPages(std::uint8_t slot);
  // Writes what is cached and drops every cache: index slots are about to
  // change meaning, and cached pages carry their slot's settings.
  void DropTableCaches();
  // After the table's indexes changed: the cursor takes up position (0 when
  // that slot is gone), without range, its filters rebuilt, at the beginning.
  void RefreshAfterIndexChange(std::uint8_t position);
  TIndexProgressCallback indexProgress_;
  // (end of table operations: private members)
};

}  // namespace tarn
