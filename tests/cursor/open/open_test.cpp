// Opening, cloning and closing cursors: open settings, missing tables,
// passwords of encrypted tables, tables without a primary index, read-only
// files, a rebuilt index file, clones, calculated fields of a result set,
// and the check of GetCurrentRecord under pessimistic locking.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "cursor/cursor_fixture.h"
#include "expressions/expression_parser.h"
#include "expressions/expression_verifier.h"
#include "support/raised_code.h"

namespace tarn::cursor_testing {
namespace {

using test_support::RaisedCode;

class CursorOpenTest : public ::testing::Test {
 protected:
  void SetUp() override { CreateTable(dir_.Path(), "people", PeopleDefinition()); }
  // Through a session of its own, which closes the table again.
  void Fill(int count) {
    SessionOn writing(dir_.Path());
    TableWriter writer(writing.Open("people"));
    for (int i = 1; i <= count; ++i) writer.Append({i, "n" + std::to_string(i), i * 10, "c"});
  }
  std::unique_ptr<TDataCursor> Closed(const std::string& table = "people") {
    auto cursor = std::make_unique<TDataCursor>(*session_.session.directory);
    cursor->SetTableName(table);
    return cursor;
  }

  TempDirectory dir_;
  CursorSession session_{dir_.Path()};
};

TEST_F(CursorOpenTest, OpenSettingsChangeOnlyWhileClosed) {
  auto cursor = Closed("/some/where/people.DAT");
  EXPECT_EQ(cursor->TableName(), "people");
  cursor->OpenCursor();
  cursor->OpenCursor();  // nothing happens
  EXPECT_TRUE(cursor->IsOpen());
  for (auto change : std::vector<std::function<void()>>{[&] { cursor->SetTableName("other"); },
                                                         [&] { cursor->SetExclusive(true); },
                                                         [&] { cursor->SetReadOnly(true); },
                                                         [&] { cursor->SetInMemory(true); },
                                                         [&] { cursor->SetIsTemporary(true); }})
    EXPECT_EQ(RaisedCode(change), TARN_TABLEOPEN);
  cursor->CloseCursor();
  cursor->CloseCursor();  // nothing happens
  EXPECT_FALSE(cursor->IsOpen());
  cursor->SetExclusive(true);
  cursor->OpenCursor();
  EXPECT_TRUE(cursor->Exclusive());
}

TEST_F(CursorOpenTest, AMissingTableIsReportedWithItsNames) {
  auto cursor = Closed("nosuch");
  try {
    cursor->OpenCursor();
    FAIL() << "opened a missing table";
  } catch (const ETarnEngineError& error) {
    EXPECT_EQ(error.ErrorCode(), TARN_OSENOENT);
    EXPECT_NE(error.ErrorTableName().find("nosuch"), std::string::npos);
  }
  EXPECT_FALSE(cursor->IsOpen());
}

// The handler of the password tests: counts the calls and does what the case says.
struct PasswordHandler {
  enum Action { AddRight, AddWrong, TryAgain, GiveUp } action;
  TDataSession* session;
  int calls = 0;
  static bool Ask(void* user, TDataCursor&) {
    auto& self = *static_cast<PasswordHandler*>(user);
    ++self.calls;
    switch (self.action) {
      case AddRight: self.session->AddPassword("Secret"); return true;
      case AddWrong:
        // A wrong password the first time, the right one the second.
        self.session->AddPassword(self.calls == 1 ? "secret" : "Secret");
        return true;
      case TryAgain: return true;
      case GiveUp: return false;
    }
    return false;
  }
};

TEST_F(CursorOpenTest, AnEncryptedTableOpensOnlyWithItsPassword) {
  TTableDefinition def = PeopleDefinition();
  def.Encrypted = true;
  def.Password = "Secret";
  struct Case {
    PasswordHandler::Action Action;
    TarnErrorCode Expected;
    int Calls;
  };
  const Case cases[] = {{PasswordHandler::AddRight, 0, 1},
                        {PasswordHandler::AddWrong, 0, 2},
                        // "Try again" without a new password would ask for ever.
                        {PasswordHandler::TryAgain, TARN_NOTSUFFTABLERIGHTS, 1},
                        {PasswordHandler::GiveUp, TARN_NOTSUFFTABLERIGHTS, 1}};
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(n);
    const std::string name = "secret" + std::to_string(n++);
    CreateTable(dir_.Path(), name, def);
    CursorSession session(dir_.Path());
    PasswordHandler handler{c.Action, &session.session.session};
    TDataCursor cursor(*session.session.directory);
    cursor.SetTableName(name);
    cursor.SetPasswordCallback(&handler, &PasswordHandler::Ask);
    EXPECT_EQ(RaisedCode([&] { cursor.OpenCursor(); }), c.Expected);
    EXPECT_EQ(cursor.IsOpen(), c.Expected == 0);
    EXPECT_EQ(handler.calls, c.Calls);
  }
  // Without a handler; and with the password already known, nobody is asked.
  // A closed cursor answers from the data header, behind the same password.
  CursorSession session(dir_.Path());
  TDataCursor cursor(*session.session.directory);
  cursor.SetTableName("secret0");
  EXPECT_TRUE(cursor.GetEncrypted());
  EXPECT_EQ(RaisedCode([&] { cursor.GetPassword(); }), TARN_NOTSUFFTABLERIGHTS);
  EXPECT_EQ(RaisedCode([&] { cursor.OpenCursor(); }), TARN_NOTSUFFTABLERIGHTS);
  session.session.session.AddPassword("Secret");
  EXPECT_EQ(cursor.GetPassword(), "Secret");
  cursor.OpenCursor();
  EXPECT_TRUE(cursor.GetEncrypted());
  EXPECT_EQ(cursor.GetRecordCount(), 0);
}

TEST_F(CursorOpenTest, TablesWithoutPrimaryIndexAndSourceTablesStartInPhysicalOrder) {
  PeopleOptions options;
  options.PrimaryIndex = false;
  CreateTable(dir_.Path(), "heap", PeopleDefinition(options));
  {
    SessionOn writing(dir_.Path());
    TableWriter writer(writing.Open("heap"));
    for (int id : {3, 1, 2}) writer.Append({id, "n", id, "c"});
  }
  auto heap = session_.Cursor("heap");
  EXPECT_TRUE(heap->GetIsPhysicalNavigation());
  EXPECT_TRUE(heap->BitmapNavigation());
  EXPECT_EQ(WalkIds(*heap), (std::vector<std::int32_t>{3, 1, 2}));

  Fill(3);
  auto source = Closed();
  source->SetIsSourceTable(true);
  source->OpenCursor();
  EXPECT_EQ(source->GetIndexPos(), kPhysicalOrder);
  EXPECT_TRUE(source->BitmapNavigation());
  EXPECT_EQ(source->GetRecordCount(), 3);
}

TEST_F(CursorOpenTest, ReadOnlyFilesGiveAReadOnlyCursorThatNeverLocks) {
  Fill(3);
  // Asking for read-only use of writable files still gives a writable cursor.
  auto asked = Closed();
  asked->SetReadOnly(true);
  asked->OpenCursor();
  EXPECT_FALSE(asked->ReadOnly());
  asked->CloseCursor();
  for (const char* ext : {".DAT", ".IDX"}) chmod((dir_.Path() + "people" + ext).c_str(), 0444);
  CursorSession reader(dir_.Path(), /*strict=*/true);
  auto cursor = reader.Cursor("people");
  EXPECT_TRUE(cursor->ReadOnly());
  EXPECT_TRUE(cursor->NoLocking());
  EXPECT_EQ(RaisedCode([&] { cursor->CheckNotReadOnly(); }), TARN_OSEACCES);
  EXPECT_EQ(WalkIds(*cursor), (std::vector<std::int32_t>{1, 2, 3}));
  EXPECT_FALSE(cursor->Table()->InternalReadLocked());
  for (const char* ext : {".DAT", ".IDX"}) chmod((dir_.Path() + "people" + ext).c_str(), 0644);
}

TEST_F(CursorOpenTest, AMissingIndexFileIsRebuiltForPhysicalOrder) {
  {
    SessionOn writing(dir_.Path());
    TableWriter writer(writing.Open("people"));
    for (int i = 1; i <= 10; ++i) writer.Append({i, "n", i, "c"});
    for (std::int32_t r : {2, 5, 9}) writer.Delete(r);
  }
  std::filesystem::remove(dir_.Path() + "people.IDX");
  CursorSession fresh(dir_.Path());
  auto cursor = fresh.Cursor("people");
  EXPECT_TRUE(cursor->GetIsPhysicalNavigation());
  EXPECT_EQ(cursor->GetRecordCount(), 7);
  EXPECT_EQ(cursor->GetActualRecordCount(), 7);
  EXPECT_EQ(WalkIds(*cursor), (std::vector<std::int32_t>{1, 3, 4, 6, 7, 8, 10}));
  // A second cursor on the table finds the rebuilt index as it is.
  auto second = fresh.Cursor("people");
  EXPECT_EQ(second->GetRecordCount(), 7);
}

TEST_F(CursorOpenTest, AClonePicksUpIndexFiltersAndCurrentRecord) {
  Fill(40);
  auto cursor = session_.Cursor("people", kByAmount);
  TAddFilterOptions options;
  options.Text = "AMOUNT > 100";
  const TFilterHandle active = cursor->AddFilter(std::move(options));
  cursor->ActivateFilter(active);
  TAddFilterOptions inactive;
  inactive.Text = "AMOUNT < 0";
  cursor->AddFilter(std::move(inactive));
  cursor->SetToRecordNumber(20);
  std::vector<std::uint8_t> here(cursor->GetRecordBufferSize()), there(here.size());
  ASSERT_EQ(cursor->GetCurrentRecord(here.data()), 0);
  auto clone = cursor->CloneCursor();
  EXPECT_EQ(clone->GetIndexPos(), kByAmount);
  EXPECT_EQ(clone->GetRecordCount(), cursor->GetRecordCount());
  ASSERT_EQ(clone->GetCurrentRecord(there.data()), 0);
  EXPECT_EQ(IdOf(*clone, there.data()), IdOf(*cursor, here.data()));
  EXPECT_EQ(WalkIds(*clone), WalkIds(*cursor));
  EXPECT_EQ(WalkIds(*clone).size(), 30u);
}

TEST_F(CursorOpenTest, CalculatedFieldsOfAResultSetFollowTheRecord) {
  Fill(3);
  auto cursor = Closed();
  cursor->SetIsResultSet(true);
  cursor->OpenCursor();
  // The physical fields and a calculated DOUBLE = AMOUNT * 2 behind the record.
  std::vector<TFieldDefinition> mapping;
  for (std::uint16_t n = 1; n <= cursor->GetPhysicalFieldCount(); ++n) {
    TFieldDefinition def;
    cursor->GetPhysicalFieldDefinition(n, def);
    mapping.push_back(def);
  }
  TExpressionParser parser;
  parser.SetExpression("AMOUNT * 2");
  parser.NextToken();
  TExpTokenPtr expression = parser.ParseCompleteExpression(0);
  VerifyExpressionToken(
      TARN_INVALIDFILTER, "", "people", false,
      [](void* context, TExpToken& node) { return static_cast<TDataCursor*>(context)->LookupFilterField(node); },
      cursor.get(), nullptr, *expression, "calculated field");
  TFieldDefinition doubled = test_support::MakeField("DOUBLED", dtInteger);
  doubled.FieldNumber = 5;
  UpdateFieldSize(doubled);
  doubled.Computed = 1;
  doubled.Working.Expression = expression.get();
  mapping.push_back(doubled);
  cursor->SetFieldMapping(mapping);
  EXPECT_EQ(cursor->GetFieldCount(), 5);
  EXPECT_EQ(cursor->GetRecordBufferSize(), cursor->GetPhysicalRecordSize() + 5);

  std::vector<std::uint8_t> record(cursor->GetRecordBufferSize());
  cursor->SetToBegin();
  ASSERT_EQ(cursor->GetNextRecord(record.data()), 0);
  std::uint8_t value[4];
  bool isNull = true;
  cursor->GetField(5, record.data(), value, isNull);
  EXPECT_FALSE(isNull);
  EXPECT_EQ(LoadInt32(value), 20);
  // Writing AMOUNT recomputes it; writing the calculated field itself does nothing.
  std::uint8_t amount[4];
  StoreInt32(amount, 21);
  cursor->PutField(kAmountField, record.data(), amount);
  cursor->GetField(5, record.data(), value, isNull);
  EXPECT_EQ(LoadInt32(value), 42);
  StoreInt32(amount, 7);
  cursor->PutField(5, record.data(), amount);
  cursor->GetField(5, record.data(), value, isNull);
  EXPECT_EQ(LoadInt32(value), 42);
  // A null AMOUNT makes the calculated field null.
  cursor->PutField(kAmountField, record.data(), nullptr);
  cursor->GetField(5, record.data(), value, isNull);
  EXPECT_TRUE(isNull);
}

TEST_F(CursorOpenTest, PessimisticGetCurrentRecordChecksTheCallersCopy) {
  Fill(5);
  auto cursor = session_.Cursor("people");
  std::vector<std::uint8_t> record(cursor->GetRecordBufferSize());
  cursor->SetToRecordNumber(2);
  ASSERT_EQ(cursor->GetCurrentRecord(record.data()), 0);
  const std::int32_t r = cursor->GetPhysicalRecordNumber();
  // The caller's copy is the stored record: it is locked.
  ASSERT_EQ(cursor->GetCurrentRecord(record.data(), /*lock=*/true), 0);
  EXPECT_TRUE(cursor->Table()->HoldsRecordLock(r));
  EXPECT_EQ(cursor->LockedRecord(), r);
  // Asking again keeps the lock this cursor holds.
  ASSERT_EQ(cursor->GetCurrentRecord(record.data(), true), 0);
  cursor->CancelRecord();
  EXPECT_FALSE(cursor->Table()->HoldsRecordLock(r));
  // A copy that differs: the record is unlocked again and the change reported.
  record[record.size() - 1] ^= 0x5A;
  EXPECT_EQ(RaisedCode([&] { cursor->GetCurrentRecord(record.data(), true); }), TARN_KEYORRECDELETED);
  EXPECT_FALSE(cursor->Table()->HoldsRecordLock(r));
  EXPECT_EQ(cursor->LockedRecord(), 0);
  // The cursor that locked a record deletes it; one that closes with a record
  // locked gives the lock back.
  ASSERT_EQ(cursor->GetCurrentRecord(record.data()), 0);
  ASSERT_EQ(cursor->GetCurrentRecord(record.data(), true), 0);
  cursor->DeleteRecord(record.data());
  EXPECT_EQ(cursor->GetRecordCount(), 4);
  ASSERT_EQ(cursor->GetCurrentRecord(record.data()), 0);
  ASSERT_EQ(cursor->GetCurrentRecord(record.data(), true), 0);
  const std::int32_t locked = cursor->LockedRecord();
  TDataTable* table = cursor->Table();
  auto other = session_.Cursor("people");  // keeps the table open
  cursor->CloseCursor();
  EXPECT_FALSE(table->HoldsRecordLock(locked));
}

}  // namespace
}  // namespace tarn::cursor_testing
