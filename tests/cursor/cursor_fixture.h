// Tables for the cursor tests: a people table (ID integer primary key, NAME
// string(20), AMOUNT integer, CITY string(15)) with secondary indexes on NAME
// (ascending, descending, without regard to case) and on AMOUNT, created
// through the engine in a temporary directory for language 0 or a language
// table; and a writer that appends and deletes records with every key the
// indexes need, the deleted-records index included, the way record changes
// keep them.
#pragma once

#include <cstring>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "cursor/data_cursor.h"
#include "storage/btree/btree.h"
#include "storage/keys/key_builder.h"
#include "storage/tables/quota_table.h"
#include "support/field_builders.h"

namespace tarn::cursor_testing {

using tarn::testing::SessionOn;
using tarn::testing::TableClient;
using tarn::testing::TempDirectory;

// Secondary index slots of the people table.
inline constexpr std::uint8_t kByName = 1, kByNameDesc = 2, kByNameCI = 3, kByAmount = 4;
inline constexpr std::uint16_t kIdField = 1, kNameField = 2, kAmountField = 3, kCityField = 4;

struct Person {
  std::int32_t Id = 0;
  std::optional<std::string> Name;
  std::optional<std::int32_t> Amount;
  std::optional<std::string> City;
};

struct PeopleOptions {
  std::uint16_t LanguageID = 0;
  std::uint16_t SortID = 0;
  bool PrimaryIndex = true;
  bool SecondaryIndexes = true;
};

inline TTableDefinition PeopleDefinition(const PeopleOptions& options = {}) {
  using test_support::MakeField;
  using test_support::MakeIndex;
  TTableDefinition def;
  def.LanguageID = options.LanguageID;
  def.SortID = options.SortID;
  def.Fields = {MakeField("ID", dtInteger), MakeField("NAME", dtString, 20), MakeField("AMOUNT", dtInteger),
                MakeField("CITY", dtString, 15)};
  test_support::LayOut(def.Fields);
  TIndexDefinition primary = MakeIndex("", {kIdField}, def.Fields, true);
  if (!options.PrimaryIndex) primary = MakeEmptyIndexDefinition();
  def.Indexes.push_back(primary);
  if (options.SecondaryIndexes) {
    def.Indexes.push_back(MakeIndex("ByName", {kNameField}, def.Fields, false));
    TIndexDefinition descending = MakeIndex("ByNameDesc", {kNameField}, def.Fields, false);
    descending.Descending = 1;
    def.Indexes.push_back(descending);
    TIndexDefinition caseless = MakeIndex("ByNameCI", {kNameField}, def.Fields, false);
    caseless.CaseInsensitive = 1;
    def.Indexes.push_back(caseless);
    def.Indexes.push_back(MakeIndex("ByAmount", {kAmountField}, def.Fields, false));
  }
  return def;
}

inline void CreateTable(const std::string& path, const std::string& name, const TTableDefinition& definition) {
  SessionOn s(path);
  TDataTable* table = nullptr;
  if (int result = s.directory->CreateDataTable(name, definition, table); result < 0)
    RaiseError(static_cast<TarnErrorCode>(-result));
}

// Appends and deletes records of a shared table with all their keys.
class TableWriter {
 public:
  explicit TableWriter(TDataTable& table) : table_(table), client_(table) {}

  std::vector<std::uint8_t> Record(const Person& p) const {
    std::vector<std::uint8_t> bytes(table_.DataFile().GetRecordSize(), 0);
    const auto fields = table_.DataFile().Fields();
    auto field = [&](std::uint16_t n) { return fields[n - 1u].FieldOffset; };
    bytes[field(kIdField)] = 1;
    StoreInt32(&bytes[field(kIdField) + 1u], p.Id);
    if (p.Name && !p.Name->empty()) {
      bytes[field(kNameField)] = 1;
      std::memcpy(&bytes[field(kNameField) + 1u], p.Name->data(), std::min<std::size_t>(p.Name->size(), 20));
    }
    if (p.Amount) {
      bytes[field(kAmountField)] = 1;
      StoreInt32(&bytes[field(kAmountField) + 1u], *p.Amount);
    }
    if (p.City && !p.City->empty()) {
      bytes[field(kCityField)] = 1;
      std::memcpy(&bytes[field(kCityField) + 1u], p.City->data(), std::min<std::size_t>(p.City->size(), 15));
    }
    return bytes;
  }

  // Answers the record number.
  std::int32_t Append(const Person& p) {
    const std::vector<std::uint8_t> fields = Record(p);
    for (;;) {
      TWriteLockScope scope(table_);
      TRecord* record = nullptr;
      if (!table_.DataFile().GetNextFreeRecord(&client_, record)) continue;
      std::vector<std::uint8_t> old(record->GetRecordBufferPtr(), record->GetRecordBufferPtr() + fields.size());
      record->Initialize(true);
      record->CopyRecordBuffer(fields.data());
      const std::int32_t number = record->Number();
      std::vector<std::uint8_t> bytes(record->GetRecordBufferPtr(), record->GetRecordBufferPtr() + fields.size());
      table_.DataFile().PutRecord(record);
      // A record taken from the free list leaves the deleted-records index.
      if (old[kRecordDeletedOffset] == kRecordDeleted) RemoveKey(kDeletedIndexSlot, old);
      for (std::size_t slot : Slots()) AddKey(slot, bytes, number);
      table_.SetActualRecordCount(table_.IndexFile().GetActualRecordCount() + 1);
      scope.Commit();
      return number;
    }
  }

  void Delete(std::int32_t number) {
    for (;;) {
      TWriteLockScope scope(table_);
      TRecord* record = nullptr;
      if (!table_.DataFile().GetRecord(&client_, number, record)) continue;
      std::vector<std::uint8_t> bytes(record->GetRecordBufferPtr(),
                                      record->GetRecordBufferPtr() + table_.DataFile().GetRecordSize());
      for (std::size_t slot : Slots()) RemoveKey(slot, bytes);
      table_.DataFile().SetNextFreeRecord(*record);
      std::vector<std::uint8_t> deleted(record->GetRecordBufferPtr(),
                                        record->GetRecordBufferPtr() + table_.DataFile().GetRecordSize());
      table_.DataFile().PutRecord(record);
      AddKey(kDeletedIndexSlot, deleted, number);
      table_.SetActualRecordCount(table_.IndexFile().GetActualRecordCount() - 1);
      scope.Commit();
      return;
    }
  }

 private:
  std::vector<std::size_t> Slots() const {
    std::vector<std::size_t> slots;
    if (!table_.IndexFile().GetNoPrimaryIndex() && table_.IndexFile().GetKeyFieldCount(0) > 0) slots.push_back(0);
    for (std::size_t s = 1; s <= table_.IndexFile().GetIndexCount(); ++s) slots.push_back(s);
    slots.push_back(kDeletedIndexSlot);
    return slots;
  }
  TKeyLayout Layout(std::size_t slot) const {
    return MakeIndexKeyLayout(table_.IndexFile().Header().Slots[slot], table_.DataFile().Fields(), slot,
                              table_.DataFile().GetLanguageID(), table_.DataFile().GetSortID());
  }
  std::vector<std::uint8_t> Key(const TKeyLayout& layout, const std::vector<std::uint8_t>& record) const {
    std::vector<std::uint8_t> key(layout.KeySize(), 0);
    if (layout.Kind == kkDeletedRecords) {
      BuildDeletedKey(record, key);
    } else {
      BuildIndexKey(layout, record, key);
    }
    return key;
  }
  void AddKey(std::size_t slot, const std::vector<std::uint8_t>& record, std::int32_t number) {
    const TKeyLayout layout = Layout(slot);
    const TLayoutKeyComparator comparator(layout);
    const std::vector<std::uint8_t> key = Key(layout, record);
    TIndexPath path;
    TBTree tree(table_.IndexFile(), &client_, slot, comparator, path);
    if (tree.CheckForKeyViolation(key.data())) RaiseError(TARN_KEYVIOL);
    tree.AddIndexKey(key.data(), number);
  }
  void RemoveKey(std::size_t slot, const std::vector<std::uint8_t>& record) {
    const TKeyLayout layout = Layout(slot);
    const TLayoutKeyComparator comparator(layout);
    const std::vector<std::uint8_t> key = Key(layout, record);
    TIndexPath path;
    TBTree tree(table_.IndexFile(), &client_, slot, comparator, path);
    tree.RemoveIndexKey(key.data());
  }

  TDataTable& table_;
  TableClient client_;
};

// A session with the directory open, a table writer on its own shared table,
// and cursors on the same directory.
struct CursorSession {
  explicit CursorSession(const std::string& path, bool strict = false) : session(path, strict) {}
  std::unique_ptr<TDataCursor> Cursor(const std::string& table, std::uint8_t index = 0) {
    auto cursor = std::make_unique<TDataCursor>(*session.directory);
    cursor->SetTableName(table);
    cursor->OpenCursor();
    if (index != 0) cursor->SetIndexPos(index);
    return cursor;
  }
  SessionOn session;
};

inline std::int32_t IdOf(const TDataCursor& cursor, const std::uint8_t* record) {
  bool isNull = false;
  std::uint8_t value[4] = {};
  cursor.GetField(kIdField, record, value, isNull);
  return isNull ? 0 : LoadInt32(value);
}

// Walks the cursor's view from the beginning and answers the IDs in order.
inline std::vector<std::int32_t> WalkIds(TDataCursor& cursor) {
  std::vector<std::int32_t> ids;
  std::vector<std::uint8_t> buffer(cursor.GetRecordBufferSize());
  cursor.SetToBegin();
  while (cursor.GetNextRecord(buffer.data()) == 0) ids.push_back(IdOf(cursor, buffer.data()));
  return ids;
}

inline std::vector<std::int32_t> WalkIdsBackward(TDataCursor& cursor) {
  std::vector<std::int32_t> ids;
  std::vector<std::uint8_t> buffer(cursor.GetRecordBufferSize());
  cursor.SetToEnd();
  while (cursor.GetPriorRecord(buffer.data()) == 0) ids.push_back(IdOf(cursor, buffer.data()));
  return ids;
}

}  // namespace tarn::cursor_testing
