// Record changes through cursors: appends, modifies and deletes keep every
// index (walked in each order) and the deleted-records index sound; a refused
// append leaves both files byte for byte as they were; free records are reused
// with new record IDs; suppressed auto-increment values; the optimistic and
// pessimistic protocols between cursors and sessions; record counts with a
// filter at once after a delete.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>

#include "cursor/cursor_fixture.h"
#include "engine/data_session.h"
#include "storage/tables/structure_check.h"
#include "support/raised_code.h"

namespace tarn::cursor_testing {
namespace {

using test_support::RaisedCode;

std::vector<std::uint8_t> FileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A record buffer of the people table filled through the cursor's fields.
std::vector<std::uint8_t> PersonBuffer(TDataCursor& cursor, const Person& p) {
  std::vector<std::uint8_t> buffer(cursor.GetRecordBufferSize());
  cursor.InitRecord(buffer.data());
  std::uint8_t value[4];
  StoreInt32(value, p.Id);
  cursor.PutField(kIdField, buffer.data(), value);
  std::string name = p.Name.value_or("");
  name.resize(21, '\0');
  cursor.PutField(kNameField, buffer.data(),
                  p.Name ? reinterpret_cast<const std::uint8_t*>(name.data()) : nullptr);
  if (p.Amount) StoreInt32(value, *p.Amount);
  cursor.PutField(kAmountField, buffer.data(), p.Amount ? value : nullptr);
  std::string city = p.City.value_or("");
  city.resize(16, '\0');
  cursor.PutField(kCityField, buffer.data(),
                  p.City ? reinterpret_cast<const std::uint8_t*>(city.data()) : nullptr);
  return buffer;
}

std::string Upper(std::string text) {
  for (char& c : text)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return text;
}

std::string TableFindings(TDataTable& table) {
  std::string text;
  for (const std::string& finding : CheckTableStructure(table)) text += finding + "\n";
  return text;
}

class RecordChangesTest : public ::testing::Test {
 protected:
  void SetUp() override { CreateTable(dir_.Path(), "people", PeopleDefinition()); }

  std::unique_ptr<TDataCursor> Cursor(std::uint8_t index = 0) { return session_.Cursor("people", index); }

  // Appends through the cursor and keeps the model.
  void Append(TDataCursor& cursor, const Person& p) {
    std::vector<std::uint8_t> buffer = PersonBuffer(cursor, p);
    cursor.AppendRecord(buffer.data());
    rows_[p.Id] = p;
    recordIds_[p.Id] = LoadInt32(cursor.CurrentRecordBuffer() + kRecordIdOffset);
  }
  // Puts the cursor (primary order) on the record with this ID.
  void GoTo(TDataCursor& cursor, std::int32_t id) {
    cursor.SetIndexPos(0);
    std::vector<std::uint8_t> probe = PersonBuffer(cursor, {id, "x", 0, "x"});
    std::vector<std::uint8_t> key(cursor.GetKeyEntrySize());
    cursor.GetKeyValues(probe.data(), key.data());
    ASSERT_TRUE(cursor.FindIndexKey(key.data(), false, false)) << id;
    std::vector<std::uint8_t> current(cursor.GetRecordBufferSize());
    ASSERT_EQ(cursor.GetCurrentRecord(current.data()), 0);
    ASSERT_EQ(IdOf(cursor, cursor.CurrentRecordBuffer()), id);
  }

  // The IDs in the order of each index, from the model.
  std::vector<std::int32_t> Expected(std::uint8_t slot) const {
    std::vector<std::int32_t> ids;
    for (const auto& [id, row] : rows_) ids.push_back(id);
    auto name = [&](std::int32_t id) { return *rows_.at(id).Name; };
    auto tie = [&](std::int32_t a, std::int32_t b) { return recordIds_.at(a) < recordIds_.at(b); };
    switch (slot) {
      case kByName:
        std::sort(ids.begin(), ids.end(),
                  [&](auto a, auto b) { return name(a) != name(b) ? name(a) < name(b) : tie(a, b); });
        break;
      case kByNameDesc:
        std::sort(ids.begin(), ids.end(), [&](auto a, auto b) { return name(a) > name(b); });
        break;
      case kByNameCI:
        std::sort(ids.begin(), ids.end(), [&](auto a, auto b) {
          return Upper(name(a)) != Upper(name(b)) ? Upper(name(a)) < Upper(name(b)) : tie(a, b);
        });
        break;
      case kByAmount:
        std::sort(ids.begin(), ids.end(), [&](auto a, auto b) {
          const auto x = *rows_.at(a).Amount, y = *rows_.at(b).Amount;
          return x != y ? x < y : tie(a, b);
        });
        break;
      default:
        break;
    }
    return ids;
  }

  void ExpectEveryIndexOrder(const char* phase) {
    SCOPED_TRACE(phase);
    auto cursor = Cursor();
    for (std::uint8_t slot : {std::uint8_t{0}, kByName, kByNameDesc, kByNameCI, kByAmount}) {
      cursor->SetIndexPos(slot);
      EXPECT_EQ(WalkIds(*cursor), Expected(slot)) << "index " << int(slot);
      std::vector<std::int32_t> backward = Expected(slot);
      std::reverse(backward.begin(), backward.end());
      EXPECT_EQ(WalkIdsBackward(*cursor), backward) << "index " << int(slot);
    }
    cursor->SetIndexPos(kPhysicalOrder);
    std::vector<std::int32_t> physical = WalkIds(*cursor);
    std::sort(physical.begin(), physical.end());
    EXPECT_EQ(physical, Expected(0));
    EXPECT_EQ(cursor->GetActualRecordCount(), static_cast<std::int32_t>(rows_.size()));
    EXPECT_EQ(TableFindings(*cursor->Table()), "");
  }

  std::string DataPath() const { return dir_.Path() + "people.DAT"; }
  std::string IndexPath() const { return dir_.Path() + "people.IDX"; }

  TempDirectory dir_;
  CursorSession session_{dir_.Path()};
  std::map<std::int32_t, Person> rows_;
  std::map<std::int32_t, std::int32_t> recordIds_;
};

TEST_F(RecordChangesTest, AppendModifyAndDeleteKeepEveryIndexInOrder) {
  auto cursor = Cursor();
  std::mt19937 random(11);
  std::vector<std::int32_t> ids(120);
  std::iota(ids.begin(), ids.end(), 1);
  std::shuffle(ids.begin(), ids.end(), random);
  // Distinct names in mixed case, amounts with duplicates.
  for (std::int32_t id : ids) {
    std::string name = (id % 2 == 0 ? "n" : "N") + std::to_string(1000 + id * 7 % 120);
    Append(*cursor, {id, name, id % 13, "c" + std::to_string(id)});
  }
  ExpectEveryIndexOrder("after appends");

  for (std::int32_t id = 3; id <= 120; id += 5) {
    GoTo(*cursor, id);
    Person changed = rows_[id];
    changed.Name = "m" + std::to_string(5000 - id);
    changed.Amount = 100 + id % 4;
    std::vector<std::uint8_t> buffer = PersonBuffer(*cursor, changed);
    cursor->ModifyRecord(buffer.data());
    rows_[id] = changed;
    EXPECT_EQ(IdOf(*cursor, cursor->CurrentRecordBuffer()), id);
  }
  ExpectEveryIndexOrder("after modifies");

  for (std::int32_t id = 2; id <= 120; id += 3) {
    GoTo(*cursor, id);
    std::vector<std::uint8_t> buffer(cursor->GetRecordBufferSize());
    ASSERT_EQ(cursor->GetCurrentRecord(buffer.data()), 0);
    cursor->DeleteRecord(buffer.data());
    rows_.erase(id);
  }
  ExpectEveryIndexOrder("after deletes");
}

TEST_F(RecordChangesTest, ModifyThatChangesThePrimaryKeyMovesTheRecord) {
  auto cursor = Cursor();
  for (std::int32_t id = 1; id <= 5; ++id) Append(*cursor, {id, "p" + std::to_string(id), id, "c"});
  GoTo(*cursor, 2);
  std::vector<std::uint8_t> buffer = PersonBuffer(*cursor, {50, "p2", 2, "c"});
  cursor->ModifyRecord(buffer.data());
  EXPECT_EQ(IdOf(*cursor, cursor->CurrentRecordBuffer()), 50);
  EXPECT_EQ(WalkIds(*cursor), (std::vector<std::int32_t>{1, 3, 4, 5, 50}));
  // Onto a key another record holds: refused, nothing changed.
  GoTo(*cursor, 3);
  buffer = PersonBuffer(*cursor, {50, "p3", 3, "c"});
  EXPECT_EQ(RaisedCode([&] { cursor->ModifyRecord(buffer.data()); }), TARN_KEYVIOL);
  EXPECT_EQ(WalkIds(*cursor), (std::vector<std::int32_t>{1, 3, 4, 5, 50}));
  EXPECT_EQ(TableFindings(*cursor->Table()), "");
}

TEST_F(RecordChangesTest, DuplicateKeyAppendLeavesBothFilesByteIdentical) {
  auto cursor = Cursor();
  for (std::int32_t id = 1; id <= 3; ++id) Append(*cursor, {id, "a" + std::to_string(id), id, "c"});
  const std::int32_t lastID = cursor->Table()->DataFile().GetLastRecordID();
  const std::vector<std::uint8_t> data = FileBytes(DataPath());
  const std::vector<std::uint8_t> index = FileBytes(IndexPath());

  std::vector<std::uint8_t> duplicate = PersonBuffer(*cursor, {2, "zz", 9, "c"});
  try {
    cursor->AppendRecord(duplicate.data());
    FAIL() << "a duplicate primary key was appended";
  } catch (const ETarnEngineError& e) {
    EXPECT_EQ(e.ErrorCode(), TARN_KEYVIOL);
  }
  EXPECT_EQ(FileBytes(DataPath()), data);
  EXPECT_EQ(FileBytes(IndexPath()), index);
  EXPECT_EQ(cursor->Table()->DataFile().GetLastRecordID(), lastID);
  EXPECT_EQ(cursor->Table()->DataFile().GetPhysicalRecordsUsed(), 3);
  EXPECT_EQ(cursor->GetRecordCount(), 3);
  EXPECT_EQ(cursor->Table()->CursorRecordLockCount(), 0);
  EXPECT_EQ(cursor->Table()->HeldRecordLockCount(), 0);

  Append(*cursor, {4, "a4", 4, "c"});
  EXPECT_EQ(recordIds_[4], lastID + 1);
  EXPECT_EQ(WalkIds(*cursor), (std::vector<std::int32_t>{1, 2, 3, 4}));
  EXPECT_EQ(TableFindings(*cursor->Table()), "");
}

TEST_F(RecordChangesTest, AppendReusesTheFreeRecordWithANewRecordID) {
  auto cursor = Cursor();
  for (std::int32_t id = 1; id <= 5; ++id) Append(*cursor, {id, "r" + std::to_string(id), id, "c"});
  GoTo(*cursor, 3);
  const std::int32_t freed = cursor->GetPhysicalRecordNumber();
  std::vector<std::uint8_t> buffer(cursor->GetRecordBufferSize());
  ASSERT_EQ(cursor->GetCurrentRecord(buffer.data()), 0);
  cursor->DeleteRecord(buffer.data());
  EXPECT_EQ(cursor->Table()->DataFile().GetNextFreeRecordNumber(), freed);

  Append(*cursor, {9, "r9", 9, "c"});
  EXPECT_EQ(cursor->GetPhysicalRecordNumber(), freed);
  EXPECT_EQ(cursor->GetPhysicalRecordsUsed(), 5);
  EXPECT_EQ(recordIds_[9], 6);
  EXPECT_EQ(WalkIds(*cursor), (std::vector<std::int32_t>{1, 2, 4, 5, 9}));
  EXPECT_EQ(TableFindings(*cursor->Table()), "");
}

TEST_F(RecordChangesTest, ModifyOfANonKeyFieldLeavesTheIndexFileAlone) {
  auto cursor = Cursor();
  for (std::int32_t id = 1; id <= 4; ++id) Append(*cursor, {id, "k" + std::to_string(id), id, "old"});
  const std::vector<std::uint8_t> data = FileBytes(DataPath());
  const std::vector<std::uint8_t> index = FileBytes(IndexPath());
  GoTo(*cursor, 2);
  std::vector<std::uint8_t> buffer = PersonBuffer(*cursor, {2, "k2", 2, "new"});
  cursor->ModifyRecord(buffer.data());
  EXPECT_EQ(FileBytes(IndexPath()), index);
  EXPECT_NE(FileBytes(DataPath()), data);

  // Another session reads the new value.
  CursorSession other(dir_.Path());
  auto reader = other.Cursor("people");
  GoTo(*reader, 2);
  char city[16] = {};
  bool isNull = true;
  reader->GetField(kCityField, reader->CurrentRecordBuffer(), reinterpret_cast<std::uint8_t*>(city), isNull);
  EXPECT_FALSE(isNull);
  EXPECT_STREQ(city, "new");
}

TEST_F(RecordChangesTest, OptimisticConflictFailsUntilCancelled) {
  session_.session.session.SetLockProtocol(lpOptimistic);
  auto writer = Cursor();
  for (std::int32_t id = 1; id <= 3; ++id) Append(*writer, {id, "o" + std::to_string(id), id, "c"});
  auto a = Cursor();
  auto b = Cursor();
  GoTo(*a, 2);
  GoTo(*b, 2);
  std::vector<std::uint8_t> edit(a->GetRecordBufferSize());
  ASSERT_EQ(a->GetCurrentRecord(edit.data()), 0);

  std::vector<std::uint8_t> other = PersonBuffer(*b, {2, "o2", 222, "c"});
  b->ModifyRecord(other.data(), {.Unlock = false});

  std::vector<std::uint8_t> mine = PersonBuffer(*a, {2, "o2", 111, "c"});
  EXPECT_EQ(RaisedCode([&] { a->ModifyRecord(mine.data(), {.Unlock = false}); }), TARN_KEYORRECDELETED);
  EXPECT_TRUE(a->RecordChanged());
  // The cursor now holds the stored record, yet the edit stays refused.
  EXPECT_EQ(RaisedCode([&] { a->ModifyRecord(mine.data(), {.Unlock = false}); }), TARN_KEYORRECDELETED);
  a->CancelRecord();
  EXPECT_FALSE(a->RecordChanged());
  ASSERT_EQ(a->GetCurrentRecord(edit.data()), 0);
  a->ModifyRecord(mine.data(), {.Unlock = false});
  EXPECT_EQ(a->Table()->CursorRecordLockCount(), 0);
  EXPECT_EQ(a->Table()->HeldRecordLockCount(), 0);

  GoTo(*b, 2);
  bool isNull = true;
  std::uint8_t amount[4] = {};
  b->GetField(kAmountField, b->CurrentRecordBuffer(), amount, isNull);
  EXPECT_EQ(LoadInt32(amount), 111);
}

TEST_F(RecordChangesTest, ModifyAfterTheRecordWasDeletedAndReusedIsRefused) {
  auto a = Cursor();
  for (std::int32_t id = 1; id <= 3; ++id) Append(*a, {id, "d" + std::to_string(id), id, "c"});
  auto b = Cursor();
  GoTo(*a, 2);
  GoTo(*b, 2);
  std::vector<std::uint8_t> buffer(b->GetRecordBufferSize());
  ASSERT_EQ(b->GetCurrentRecord(buffer.data()), 0);
  b->DeleteRecord(buffer.data());
  Append(*b, {7, "d7", 7, "c"});  // takes the same record number
  std::vector<std::uint8_t> edit = PersonBuffer(*a, {2, "d2", 99, "c"});
  EXPECT_EQ(RaisedCode([&] { a->ModifyRecord(edit.data()); }), TARN_KEYORRECDELETED);
  EXPECT_EQ(WalkIds(*b), (std::vector<std::int32_t>{1, 3, 7}));
  EXPECT_EQ(TableFindings(*b->Table()), "");
}

TEST_F(RecordChangesTest, PessimisticLockIsHeldFromReadingToPosting) {
  auto a = Cursor();
  for (std::int32_t id = 1; id <= 3; ++id) Append(*a, {id, "l" + std::to_string(id), id, "c"});
  auto b = Cursor();
  CursorSession otherSession(dir_.Path());
  auto c = otherSession.Cursor("people");
  GoTo(*a, 2);
  GoTo(*b, 2);
  GoTo(*c, 2);
  std::vector<std::uint8_t> edit(a->GetRecordBufferSize());
  ASSERT_EQ(a->GetCurrentRecord(edit.data()), 0);
  ASSERT_EQ(a->GetCurrentRecord(edit.data(), true), 0);

  std::vector<std::uint8_t> seen(b->GetRecordBufferSize());
  ASSERT_EQ(b->GetCurrentRecord(seen.data()), 0);
  EXPECT_EQ(RaisedCode([&] { b->GetCurrentRecord(seen.data(), true); }), TARN_RECLOCKFAILED);
  EXPECT_EQ(RaisedCode([&] { b->UserWriteLockRecord(0); }), TARN_RECLOCKFAILED);
  EXPECT_EQ(RaisedCode([&] { b->DeleteRecord(seen.data()); }), TARN_RECLOCKFAILED);
  EXPECT_TRUE(c->RecordIsLocked());
  EXPECT_EQ(RaisedCode([&] { c->UserWriteLockRecord(0); }), TARN_RECLOCKFAILED);

  std::vector<std::uint8_t> changed = PersonBuffer(*a, {2, "l2", 20, "c"});
  a->ModifyRecord(changed.data());
  EXPECT_EQ(a->Table()->CursorRecordLockCount(), 0);
  EXPECT_FALSE(c->RecordIsLocked());
  ASSERT_EQ(b->GetCurrentRecord(seen.data()), 0);
  ASSERT_EQ(b->GetCurrentRecord(seen.data(), true), 0);
  b->CancelRecord();
  EXPECT_EQ(b->Table()->CursorRecordLockCount(), 0);
  EXPECT_EQ(b->Table()->HeldRecordLockCount(), 0);
}

TEST_F(RecordChangesTest, DeleteLowersTheRecordCountAtOnceWithAFilterActive) {
  auto cursor = Cursor();
  for (std::int32_t id = 1; id <= 20; ++id) Append(*cursor, {id, "f" + std::to_string(id), id, "c"});
  for (std::uint8_t slot : {std::uint8_t{0}, kByName, kPhysicalOrder}) {
    SCOPED_TRACE(int(slot));
    auto view = Cursor(slot);
    TAddFilterOptions options;
    options.Text = "AMOUNT > 10";
    view->ActivateFilter(view->AddFilter(std::move(options)));
    const std::int32_t before = view->GetRecordCount();
    std::vector<std::uint8_t> buffer(view->GetRecordBufferSize());
    view->SetToBegin();
    ASSERT_EQ(view->GetNextRecord(buffer.data()), 0);
    EXPECT_GT(IdOf(*view, buffer.data()), 10);
    view->DeleteRecord(buffer.data());
    EXPECT_EQ(view->GetRecordCount(), before - 1);
    rows_.erase(IdOf(*view, buffer.data()));
    EXPECT_EQ(static_cast<std::int32_t>(WalkIds(*view).size()), before - 1);
  }
  // And without a filter, in index order.
  auto plain = Cursor(kByName);
  const std::int32_t before = plain->GetRecordCount();
  std::vector<std::uint8_t> buffer(plain->GetRecordBufferSize());
  plain->SetToBegin();
  ASSERT_EQ(plain->GetNextRecord(buffer.data()), 0);
  plain->DeleteRecord(buffer.data());
  EXPECT_EQ(plain->GetRecordCount(), before - 1);
}

TEST_F(RecordChangesTest, DeleteOfAStaleCopyIsRefused) {
  auto a = Cursor();
  for (std::int32_t id = 1; id <= 3; ++id) Append(*a, {id, "s" + std::to_string(id), id, "c"});
  GoTo(*a, 2);
  std::vector<std::uint8_t> stale(a->GetRecordBufferSize());
  ASSERT_EQ(a->GetCurrentRecord(stale.data()), 0);
  auto b = Cursor();
  GoTo(*b, 2);
  std::vector<std::uint8_t> changed = PersonBuffer(*b, {2, "s2", 42, "c"});
  b->ModifyRecord(changed.data());
  EXPECT_EQ(RaisedCode([&] { a->DeleteRecord(stale.data()); }), TARN_KEYORRECDELETED);
  EXPECT_EQ(WalkIds(*a), (std::vector<std::int32_t>{1, 2, 3}));
  EXPECT_EQ(a->Table()->HeldRecordLockCount(), 0);
}

TEST(ReadOnlyRecords, ACursorOnFilesWithoutWriteAccessRefusesChanges) {
  TempDirectory dir;
  CreateTable(dir.Path(), "people", PeopleDefinition());
  {
    CursorSession writing(dir.Path());
    auto writer = writing.Cursor("people");
    std::vector<std::uint8_t> first = PersonBuffer(*writer, {1, "ro", 1, "c"});
    writer->AppendRecord(first.data());
  }
  for (const char* extension : {"people.DAT", "people.IDX"})
    std::filesystem::permissions(dir.Path() + extension, std::filesystem::perms::owner_read,
                                 std::filesystem::perm_options::replace);
  CursorSession session(dir.Path());
  auto reader = session.Cursor("people");
  ASSERT_TRUE(reader->ReadOnly());
  std::vector<std::uint8_t> buffer = PersonBuffer(*reader, {2, "ro2", 2, "c"});
  EXPECT_EQ(RaisedCode([&] { reader->AppendRecord(buffer.data()); }), TARN_OSEACCES);
  EXPECT_EQ(RaisedCode([&] { reader->ModifyRecord(buffer.data()); }), TARN_OSEACCES);
  EXPECT_EQ(RaisedCode([&] { reader->DeleteRecord(buffer.data()); }), TARN_OSEACCES);
}

TEST_F(RecordChangesTest, ATableLockKeepsOtherSessionsFromChanging) {
  auto a = Cursor();
  for (std::int32_t id = 1; id <= 3; ++id) Append(*a, {id, "t" + std::to_string(id), id, "c"});
  CursorSession otherSession(dir_.Path());
  auto c = otherSession.Cursor("people");
  a->UserWriteLockTable();
  EXPECT_TRUE(a->TableIsLocked());
  std::vector<std::uint8_t> buffer = PersonBuffer(*c, {9, "t9", 9, "c"});
  EXPECT_EQ(RaisedCode([&] { c->AppendRecord(buffer.data()); }), TARN_RECLOCKFAILED);
  EXPECT_EQ(WalkIds(*c), (std::vector<std::int32_t>{1, 2, 3}));
  // The holder itself goes on changing.
  Append(*a, {4, "t4", 4, "c"});
  a->UserWriteUnlockTable();
  EXPECT_FALSE(a->TableIsLocked());
  c->AppendRecord(buffer.data());
  EXPECT_EQ(WalkIds(*c), (std::vector<std::int32_t>{1, 2, 3, 4, 9}));

  EXPECT_TRUE(a->UserLockSemaphore(3));
  EXPECT_FALSE(c->UserLockSemaphore(3));
  EXPECT_TRUE(a->UserUnlockSemaphore(3));
  EXPECT_TRUE(c->UserLockSemaphore(3));
  EXPECT_TRUE(c->UserUnlockSemaphore(3));
}

TEST_F(RecordChangesTest, LocksTakenByACursorShowChangesOfOtherSessions) {
  auto a = Cursor();
  for (std::int32_t id = 1; id <= 4; ++id) Append(*a, {id, "s" + std::to_string(id), id, "c"});
  CursorSession otherSession(dir_.Path());
  auto c = otherSession.Cursor("people");
  GoTo(*c, 2);
  ASSERT_EQ(c->GetRecordCount(), 4);
  Append(*a, {5, "s5", 5, "c"});
  c->UserWriteLockRecord(0);
  EXPECT_EQ(c->LockedRecord(), c->GetPhysicalRecordNumber());
  EXPECT_EQ(c->GetRecordCount(), 5);
  EXPECT_EQ(IdOf(*c, c->CurrentRecordBuffer()), 2);
  c->UserWriteUnlockRecord(0);
  EXPECT_EQ(c->LockedRecord(), 0);

  Append(*a, {6, "s6", 6, "c"});
  c->UserReadLockTable();
  EXPECT_EQ(c->GetRecordCount(), 6);
  // A reader's table lock keeps writers of other sessions out until it goes
  // (the writer's lock attempts here do not pause between tries).
  struct TNoWait final : TLockWaiter {
    void Wait(std::uint32_t) override {}
  };
  static TNoWait noWait;  // outlives the table, which keeps the lock map
  a->Table()->SetLockMap(TLockMap(noWait, DefaultTokenSource()));
  std::vector<std::uint8_t> buffer = PersonBuffer(*a, {7, "s7", 7, "c"});
  EXPECT_EQ(RaisedCode([&] { a->AppendRecord(buffer.data()); }), TARN_LOCKTIMEOUT);
  EXPECT_EQ(a->Table()->HeldRecordLockCount(), 0);
  c->UserReadUnlockTable();
  a->AppendRecord(buffer.data());
  EXPECT_EQ(WalkIds(*c), (std::vector<std::int32_t>{1, 2, 3, 4, 5, 6, 7}));
}

TEST_F(RecordChangesTest, ChangesInATransactionAreWrittenAtItsCommitOnly) {
  auto cursor = Cursor();
  for (std::int32_t id = 1; id <= 3; ++id) Append(*cursor, {id, "x" + std::to_string(id), id, "c"});
  const std::vector<std::uint8_t> data = FileBytes(DataPath());
  session_.session.directory->StartTransaction();
  EXPECT_TRUE(cursor->TransactionInProgress());
  Append(*cursor, {4, "x4", 4, "c"});
  GoTo(*cursor, 1);
  std::vector<std::uint8_t> buffer(cursor->GetRecordBufferSize());
  ASSERT_EQ(cursor->GetCurrentRecord(buffer.data()), 0);
  cursor->DeleteRecord(buffer.data());
  // A refused change inside the transaction leaves the others in place.
  std::vector<std::uint8_t> duplicate = PersonBuffer(*cursor, {2, "dup", 2, "c"});
  EXPECT_EQ(RaisedCode([&] { cursor->AppendRecord(duplicate.data()); }), TARN_KEYVIOL);
  EXPECT_EQ(FileBytes(DataPath()), data);
  EXPECT_EQ(WalkIds(*cursor), (std::vector<std::int32_t>{2, 3, 4}));
  session_.session.directory->CommitTransaction({.EndTransaction = true});
  EXPECT_FALSE(cursor->TransactionInProgress());

  CursorSession other(dir_.Path());
  auto reader = other.Cursor("people");
  EXPECT_EQ(WalkIds(*reader), (std::vector<std::int32_t>{2, 3, 4}));
  EXPECT_EQ(TableFindings(*reader->Table()), "");
}

TEST(ExclusiveRecords, AnExclusiveCursorChangesWithoutLocksAndOthersSeeItAfterClosing) {
  TempDirectory dir;
  CreateTable(dir.Path(), "people", PeopleDefinition());
  {
    CursorSession session(dir.Path());
    auto cursor = std::make_unique<TDataCursor>(*session.session.directory);
    cursor->SetTableName("people");
    cursor->SetExclusive(true);
    cursor->OpenCursor();
    for (std::int32_t id = 1; id <= 6; ++id) {
      std::vector<std::uint8_t> buffer = PersonBuffer(*cursor, {id, "e" + std::to_string(id), id, "c"});
      cursor->AppendRecord(buffer.data());
    }
    std::vector<std::uint8_t> buffer(cursor->GetRecordBufferSize());
    cursor->SetToBegin();
    ASSERT_EQ(cursor->GetNextRecord(buffer.data()), 0);
    cursor->DeleteRecord(buffer.data());
    ASSERT_EQ(cursor->GetCurrentRecord(buffer.data(), true), 0);
    std::vector<std::uint8_t> changed = PersonBuffer(*cursor, {20, "e20", 20, "c"});
    cursor->ModifyRecord(changed.data());
    EXPECT_EQ(cursor->Table()->HeldRecordLockCount(), 0);
    EXPECT_EQ(WalkIds(*cursor), (std::vector<std::int32_t>{3, 4, 5, 6, 20}));
  }
  CursorSession other(dir.Path());
  auto reader = other.Cursor("people");
  EXPECT_EQ(WalkIds(*reader), (std::vector<std::int32_t>{3, 4, 5, 6, 20}));
  EXPECT_EQ(TableFindings(*reader->Table()), "");
}

// --- suppressed auto-increment values -------------------------------------------------------

class AutoIncTest : public ::testing::Test {
 protected:
  static constexpr std::uint16_t kSeqField = 1, kLabelField = 2;
  void SetUp() override {
    using test_support::MakeField;
    TTableDefinition def;
    def.Fields = {MakeField("SEQ", dtInteger, 0, dstAutoInc), MakeField("LABEL", dtString, 10)};
    test_support::LayOut(def.Fields);
    def.Indexes.push_back(MakeEmptyIndexDefinition());
    def.Indexes.push_back(test_support::MakeIndex("BySeq", {kSeqField}, def.Fields, false));
    CreateTable(dir_.Path(), "seq", def);
    cursor_ = session_.Cursor("seq");
  }
  std::int32_t Append(std::optional<std::int32_t> seq) {
    std::vector<std::uint8_t> buffer(cursor_->GetRecordBufferSize());
    cursor_->InitRecord(buffer.data());
    std::uint8_t value[4];
    if (seq) {
      StoreInt32(value, *seq);
      cursor_->PutField(kSeqField, buffer.data(), value);
    }
    cursor_->PutField(kLabelField, buffer.data(), reinterpret_cast<const std::uint8_t*>("label\0\0\0\0\0\0"));
    cursor_->AppendRecord(buffer.data());
    bool isNull = true;
    cursor_->GetField(kSeqField, cursor_->CurrentRecordBuffer(), value, isNull);
    return LoadInt32(value);
  }
  TempDirectory dir_;
  CursorSession session_{dir_.Path()};
  std::unique_ptr<TDataCursor> cursor_;
};

TEST_F(AutoIncTest, SuppressedValuesAreKeptCheckedAndRaiseTheLastID) {
  for (std::int32_t n = 1; n <= 10; ++n) EXPECT_EQ(Append(std::nullopt), n);
  cursor_->SetSuppressAutoIncValues(true);
  ASSERT_TRUE(cursor_->SuppressAutoIncValues());
  const std::vector<std::uint8_t> data = FileBytes(dir_.Path() + "seq.DAT");
  const std::vector<std::uint8_t> index = FileBytes(dir_.Path() + "seq.IDX");
  EXPECT_EQ(RaisedCode([&] { Append(5); }), TARN_KEYVIOL);
  EXPECT_EQ(FileBytes(dir_.Path() + "seq.DAT"), data);
  EXPECT_EQ(FileBytes(dir_.Path() + "seq.IDX"), index);
  EXPECT_EQ(Append(1000), 1000);
  EXPECT_EQ(Append(500), 500);
  EXPECT_EQ(cursor_->Table()->DataFile().GetLastRecordID(), 1000);
  cursor_->SetSuppressAutoIncValues(false);
  EXPECT_EQ(Append(77), 1001);  // the caller's value is replaced
  EXPECT_EQ(cursor_->GetActualRecordCount(), 13);
  EXPECT_EQ(TableFindings(*cursor_->Table()), "");
}

TEST_F(AutoIncTest, SuppressedModifyChecksTheNewID) {
  for (std::int32_t n = 1; n <= 3; ++n) Append(std::nullopt);
  cursor_->SetSuppressAutoIncValues(true);
  cursor_->SetIndexPos(1);
  std::vector<std::uint8_t> buffer(cursor_->GetRecordBufferSize());
  cursor_->SetToBegin();
  ASSERT_EQ(cursor_->GetNextRecord(buffer.data()), 0);
  std::uint8_t value[4];
  StoreInt32(value, 3);
  cursor_->PutField(kSeqField, buffer.data(), value);
  EXPECT_EQ(RaisedCode([&] { cursor_->ModifyRecord(buffer.data()); }), TARN_KEYVIOL);
  StoreInt32(value, 40);
  cursor_->PutField(kSeqField, buffer.data(), value);
  cursor_->ModifyRecord(buffer.data());
  EXPECT_EQ(WalkIds(*cursor_).size(), 3u);
  EXPECT_EQ(cursor_->Table()->DataFile().GetLastRecordID(), 40);
  EXPECT_EQ(TableFindings(*cursor_->Table()), "");
}

TEST(SuppressAutoInc, IsIgnoredWithoutAnAutoIncrementField) {
  TempDirectory dir;
  CreateTable(dir.Path(), "people", PeopleDefinition());
  CursorSession session(dir.Path());
  auto cursor = session.Cursor("people");
  cursor->SetSuppressAutoIncValues(true);
  EXPECT_FALSE(cursor->SuppressAutoIncValues());
}

}  // namespace
}  // namespace tarn::cursor_testing
