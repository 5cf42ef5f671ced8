// The engine dataset over cursors opened by the test: field definitions,
// the text and integer of every field kind, navigation and record counts,
// changes with their state rules, bookmarks, filters, searches and block
// reads. Tables are made with SQL through the statement engine.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "components/tarn_dataset.h"
#include "core/errors.h"
#include "cursor/data_cursor.h"
#include "platform/exception.h"
#include "sql/query_statement.h"
#include "sql/sql_fixture.h"

namespace tarn {
namespace {

using sql_testing::SqlDatabase;

// A dataset over a cursor on one table of the test database.
class DataSetTest : public ::testing::Test {
 protected:
  void Run(const std::string& sql) { db_.Query(sql); }
  // Opens the dataset over a new cursor on the table.
  TTarnDataSet& OpenTable(const std::string& table, const std::string& index = {}) {
    cursor_ = std::make_unique<TDataCursor>(db_.Directory());
    cursor_->SetTableName(table);
    cursor_->OpenCursor();
    if (!index.empty()) cursor_->SetIndexName(index);
    dataset_ = std::make_unique<TTarnDataSet>(nullptr);
    dataset_->SetHandle(cursor_.get());
    dataset_->Open();
    return *dataset_;
  }
  // Opens the dataset over the answer of a SELECT.
  TTarnDataSet& OpenSelect(const std::string& sql) {
    statement_ = std::make_unique<TQueryStatement>(db_.Directory());
    statement_->PrepareStatement(sql);
    TDataCursor* answer = nullptr;
    statement_->ExecuteStatement(answer);
    dataset_ = std::make_unique<TTarnDataSet>(nullptr);
    dataset_->SetHandle(answer);
    dataset_->Open();
    return *dataset_;
  }
  std::vector<std::string> Column(TTarnDataSet& ds, const std::string& field) {
    std::vector<std::string> values;
    for (ds.First(); !ds.Eof(); ds.Next()) values.push_back(ds.FieldByName(field).AsString());
    return values;
  }
  void TearDown() override {
    dataset_.reset();
    statement_.reset();
    if (cursor_ && cursor_->IsOpen()) cursor_->CloseCursor();
    cursor_.reset();
  }

  SqlDatabase db_;
  std::unique_ptr<TDataCursor> cursor_;
  std::unique_ptr<TQueryStatement> statement_;
  std::unique_ptr<TTarnDataSet> dataset_;
};

template <class E>
std::string MessageOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const E& error) {
    return error.Message();
  }
  return "<nothing raised>";
}

// --- field definitions and values -------------------------------------------------------------

TEST_F(DataSetTest, FieldKindsAndSizesFollowTheEngineTypes) {
  Run("CREATE TABLE kinds (S CHAR(12), SI SMALLINT, W WORD, I INTEGER, A AUTOINC, L LARGEINT, F FLOAT, "
      "M MONEY, D DECIMAL(10, 2), B BOOLEAN, DA DATE, T TIME, TS TIMESTAMP, BY BYTES(6), ME BLOB(0, 1), "
      "GR BLOB(0, 5), BI BLOB(0, 2))");
  TTarnDataSet& ds = OpenTable("kinds");
  struct Expect {
    const char* Name;
    TFieldType Kind;
    int Size;
  };
  const Expect expected[] = {{"S", ftString, 12},   {"SI", ftSmallint, 0}, {"W", ftWord, 0},  {"I", ftInteger, 0},
                             {"A", ftAutoInc, 0},   {"L", ftLargeint, 0},  {"F", ftFloat, 0}, {"M", ftCurrency, 0},
                             {"D", ftBCD, 2},       {"B", ftBoolean, 0},   {"DA", ftDate, 0}, {"T", ftTime, 0},
                             {"TS", ftDateTime, 0}, {"BY", ftBytes, 6},    {"ME", ftMemo, 0}, {"GR", ftGraphic, 0},
                             {"BI", ftBlob, 0}};
  ASSERT_EQ(ds.FieldCount(), static_cast<int>(std::size(expected)));
  for (std::size_t i = 0; i < std::size(expected); ++i) {
    const TField& field = ds.Fields(static_cast<int>(i));
    EXPECT_EQ(field.Name(), expected[i].Name);
    EXPECT_EQ(field.FieldNo(), i + 1);
    EXPECT_EQ(field.DataType(), expected[i].Kind) << expected[i].Name;
    EXPECT_EQ(field.Size(), expected[i].Size) << expected[i].Name;
  }
  EXPECT_EQ(ds.FieldByName("d").Origin(), "kinds.D");
}

TEST_F(DataSetTest, DuplicateAnswerColumnsGetNumberedNames) {
  Run("CREATE TABLE people (NAME CHAR(10), AGE INTEGER)");
  Run("INSERT INTO people VALUES ('ann', 30)");
  TTarnDataSet& ds = OpenSelect("SELECT NAME, AGE, NAME, AVG(AGE) AS NAME_1 FROM people GROUP BY NAME, AGE");
  std::vector<std::string> names;
  for (int i = 0; i < ds.FieldCount(); ++i) names.push_back(ds.Fields(i).Name());
  // The third column is NAME_1; the alias NAME_1 is then taken and becomes
  // NAME_1_1; the hidden count of the average is not a field.
  EXPECT_EQ(names, (std::vector<std::string>{"NAME", "AGE", "NAME_1", "NAME_1_1"}));
  EXPECT_EQ(ds.FieldByName("name_1").AsString(), "ann");
  EXPECT_EQ(ds.FieldByName("NAME_1_1").AsInteger(), 30);
}

// One row per case: a column of some kind holding a value (or NULL), its
// text and its integer (or the message the integer raises).
struct ConversionCase {
  const char* Type;
  const char* Value;
  const char* Text;
  std::optional<std::int32_t> Integer;
  const char* IntegerError;
};

TEST_F(DataSetTest, TextAndIntegerOfEveryFieldKind) {
  const ConversionCase cases[] = {
      {"CHAR(10)", "'12'", "12", 12, nullptr},
      {"CHAR(10)", "' -7'", " -7", -7, nullptr},
      {"CHAR(10)", "'12a'", "12a", std::nullopt, "'12a' is not a valid integer value"},
      {"CHAR(10)", "NULL", "", std::nullopt, "'' is not a valid integer value"},
      {"CHAR(12)", "'99999999999'", "99999999999", std::nullopt, "'99999999999' is not a valid integer value"},
      {"SMALLINT", "-5", "-5", -5, nullptr},
      {"SMALLINT", "NULL", "", 0, nullptr},
      {"WORD", "65535", "65535", 65535, nullptr},
      {"INTEGER", "-5", "-5", -5, nullptr},
      {"INTEGER", "2147483647", "2147483647", 2147483647, nullptr},
      {"INTEGER", "NULL", "", 0, nullptr},
      {"LARGEINT", "4294967301", "4294967301", 5, nullptr},
      {"LARGEINT", "-1", "-1", -1, nullptr},
      {"FLOAT", "2.5", "2.5", 2, nullptr},
      {"FLOAT", "3.5", "3.5", 4, nullptr},
      {"FLOAT", "-2.5", "-2.5", -2, nullptr},
      {"FLOAT", "2.6", "2.6", 3, nullptr},
      {"FLOAT", "0.1", "0.1", 0, nullptr},
      {"FLOAT", "123456789012345678", "1.23456789012346E17", std::nullopt,
       "'1.23456789012346E17' is not a valid integer value"},
      {"FLOAT", "0.000001", "1E-6", 0, nullptr},
      {"FLOAT", "100", "100", 100, nullptr},
      {"FLOAT", "NULL", "", 0, nullptr},
      {"MONEY", "12.25", "12.25", 12, nullptr},
      {"DECIMAL(10, 2)", "7.5", "7.5", 8, nullptr},
      {"BOOLEAN", "TRUE", "True", std::nullopt, "Cannot access field 'V' as type Integer"},
      {"BOOLEAN", "FALSE", "False", std::nullopt, "Cannot access field 'V' as type Integer"},
  };
  int row = 0;
  for (const ConversionCase& c : cases) {
    SCOPED_TRACE(std::string(c.Type) + " " + c.Value);
    const std::string table = "conv" + std::to_string(row++);
    Run("CREATE TABLE " + table + " (V " + c.Type + ")");
    Run("INSERT INTO " + table + " (V) VALUES (" + c.Value + ")");
    TTarnDataSet& ds = OpenTable(table);
    ASSERT_EQ(ds.RecordCount(), 1);
    const TField& field = ds.FieldByName("V");
    EXPECT_EQ(field.AsString(), c.Text);
    EXPECT_EQ(field.IsNull(), std::string(c.Value) == "NULL");
    if (c.Integer) {
      EXPECT_EQ(field.AsInteger(), *c.Integer);
    } else {
      std::string message = "<nothing raised>";
      try {
        field.AsInteger();
      } catch (const Exception& error) {
        message = error.Message();
        // A failed text conversion is a conversion error, a kind without an
        // integer a database error.
        if (std::string(c.Type) == "BOOLEAN") {
          EXPECT_NE(dynamic_cast<const EDatabaseError*>(&error), nullptr);
        } else {
          EXPECT_NE(dynamic_cast<const EConvertError*>(&error), nullptr);
        }
      }
      EXPECT_EQ(message, c.IntegerError);
    }
    TearDown();
  }
}

TEST_F(DataSetTest, EmptyAnswerHasNoRecordAndEmptyValues) {
  Run("CREATE TABLE t (N INTEGER, S CHAR(5))");
  TTarnDataSet& ds = OpenSelect("SELECT * FROM t");
  EXPECT_EQ(ds.RecordCount(), 0);
  ds.First();
  EXPECT_TRUE(ds.Eof());
  EXPECT_TRUE(ds.Bof());
  EXPECT_EQ(ds.FieldByName("N").AsString(), "");
  EXPECT_EQ(ds.FieldByName("N").AsInteger(), 0);
  EXPECT_EQ(ds.FieldByName("S").AsString(), "");
  ds.Next();
  EXPECT_TRUE(ds.Eof());
  EXPECT_EQ(ds.RecNo(), -1);
}

TEST_F(DataSetTest, UnknownFieldAndMissingCursorRaise) {
  Run("CREATE TABLE t (N INTEGER)");
  TTarnDataSet& ds = OpenTable("t");
  EXPECT_EQ(MessageOf<EDatabaseError>([&] { ds.FieldByName("NOPE"); }), "Field 'NOPE' not found");
  EXPECT_EQ(ds.FindField("nope"), nullptr);
  TTarnDataSet bare(nullptr);
  EXPECT_EQ(MessageOf<EDatabaseError>([&] { bare.Open(); }), "Error creating table handle.");
  EXPECT_FALSE(bare.Active());
  EXPECT_EQ(MessageOf<EDatabaseError>([&] { bare.RecordCount(); }),
            "Cannot perform this operation on a closed dataset");
}

// --- navigation ------------------------------------------------------------------------------------

TEST_F(DataSetTest, WalksForwardAndBackwardWithEndFlags) {
  Run("CREATE TABLE t (N INTEGER, PRIMARY KEY (N))");
  for (int n : {3, 1, 2}) Run("INSERT INTO t VALUES (" + std::to_string(n) + ")");
  TTarnDataSet& ds = OpenTable("t");
  EXPECT_EQ(ds.RecordCount(), 3);
  EXPECT_TRUE(ds.Bof());
  EXPECT_FALSE(ds.Eof());
  EXPECT_EQ(ds.FieldByName("N").AsInteger(), 1);
  EXPECT_EQ(Column(ds, "N"), (std::vector<std::string>{"1", "2", "3"}));
  // After running past the end the last record stays; Prior goes to the one before it.
  EXPECT_TRUE(ds.Eof());
  EXPECT_EQ(ds.FieldByName("N").AsInteger(), 3);
  ds.Prior();
  EXPECT_FALSE(ds.Eof());
  EXPECT_EQ(ds.FieldByName("N").AsInteger(), 2);
  ds.Last();
  EXPECT_TRUE(ds.Eof());
  EXPECT_EQ(ds.FieldByName("N").AsInteger(), 3);
  EXPECT_EQ(ds.RecNo(), 3);
  ds.Prior();
  ds.Prior();
  EXPECT_EQ(ds.FieldByName("N").AsInteger(), 1);
  ds.Prior();
  EXPECT_TRUE(ds.Bof());
  EXPECT_EQ(ds.FieldByName("N").AsInteger(), 1);
  ds.Next();
  EXPECT_EQ(ds.FieldByName("N").AsInteger(), 2);
  ds.SetRecNo(3);
  EXPECT_EQ(ds.FieldByName("N").AsInteger(), 3);
  EXPECT_EQ(ds.MoveBy(-2), -2);
  EXPECT_EQ(ds.FieldByName("N").AsInteger(), 1);
  ds.Close();
  EXPECT_EQ(ds.State(), dsInactive);
  ds.Open();
  EXPECT_EQ(ds.FieldByName("N").AsInteger(), 1);
}

// --- changes ---------------------------------------------------------------------------------------

TEST_F(DataSetTest, EditInsertDeleteAndTheirStateRules) {
  Run("CREATE TABLE t (N INTEGER, S CHAR(8), PRIMARY KEY (N))");
  Run("INSERT INTO t VALUES (1, 'one')");
  Run("INSERT INTO t VALUES (2, 'two')");
  TTarnDataSet& ds = OpenTable("t");
  EXPECT_EQ(MessageOf<EDatabaseError>([&] { ds.FieldByName("S").SetAsString("x"); }),
            "Table is not in edit or insert mode.");
  EXPECT_EQ(MessageOf<EDatabaseError>([&] { ds.Post(); }), "Table is not in edit or insert mode.");

  ds.Edit();
  EXPECT_EQ(ds.State(), dsEdit);
  ds.FieldByName("S").SetAsString("uno");
  ds.Post();
  EXPECT_EQ(ds.State(), dsBrowse);
  EXPECT_EQ(ds.FieldByName("S").AsString(), "uno");

  ds.Edit();
  ds.FieldByName("S").SetAsString("nothing");
  ds.Cancel();
  EXPECT_EQ(ds.FieldByName("S").AsString(), "uno");

  ds.Append();
  EXPECT_EQ(ds.RecNo(), -1);
  ds.FieldByName("N").SetAsInteger(5);
  ds.FieldByName("S").SetAsString("five");
  ds.Post();
  EXPECT_EQ(ds.FieldByName("N").AsInteger(), 5);
  EXPECT_EQ(ds.RecordCount(), 3);

  ds.Insert();
  ds.FieldByName("N").SetAsInteger(2);
  EXPECT_THROW(ds.Post(), ETarnEngineError);  // the key is taken
  EXPECT_EQ(ds.State(), dsInsert);
  ds.Cancel();
  EXPECT_EQ(ds.FieldByName("N").AsInteger(), 5);

  ds.First();
  ds.Next();
  EXPECT_EQ(ds.FieldByName("N").AsInteger(), 2);
  ds.Delete();
  EXPECT_EQ(ds.RecordCount(), 2);
  EXPECT_EQ(ds.FieldByName("N").AsInteger(), 5);
  ds.Delete();
  EXPECT_EQ(ds.FieldByName("N").AsInteger(), 1);
  ds.Delete();
  EXPECT_TRUE(ds.IsEmpty());
  EXPECT_EQ(MessageOf<EDatabaseError>([&] { ds.Delete(); }), "Cannot perform this operation on an empty dataset");
  ds.Close();
  EXPECT_TRUE(db_.Query("SELECT * FROM t").empty());
}

TEST_F(DataSetTest, ReadOnlyCursorRefusesChanges) {
  Run("CREATE TABLE t (N INTEGER)");
  Run("INSERT INTO t VALUES (1)");
  // Table files without write bits open read-only.
  for (const auto& entry : std::filesystem::directory_iterator(db_.Path()))
    std::filesystem::permissions(entry.path(), std::filesystem::perms::owner_read | std::filesystem::perms::group_read);
  cursor_ = std::make_unique<TDataCursor>(db_.Directory());
  cursor_->SetTableName("t");
  cursor_->OpenCursor();
  ASSERT_TRUE(cursor_->ReadOnly());
  TTarnDataSet ds(nullptr);
  ds.SetHandle(cursor_.get());
  ds.Open();
  EXPECT_EQ(ds.FieldByName("N").AsInteger(), 1);
  EXPECT_FALSE(ds.CanModify());
  for (auto change : {&TTarnDataSet::Edit, &TTarnDataSet::Insert, &TTarnDataSet::Append, &TTarnDataSet::Delete}) {
    EXPECT_EQ(MessageOf<EDatabaseError>([&] { (ds.*change)(); }), "Cannot modify a read-only dataset");
    EXPECT_EQ(ds.State(), dsBrowse);
  }
  EXPECT_EQ(MessageOf<EDatabaseError>([&] { ds.SetHandle(nullptr); }),
            "Cannot perform this operation on an open dataset");
}

TEST_F(DataSetTest, ReadOnlyFieldCannotBeModified) {
  Run("CREATE TABLE t (N INTEGER)");
  Run("INSERT INTO t VALUES (1)");
  TTarnDataSet& ds = OpenTable("t");
  ds.FieldByName("N").SetReadOnly(true);
  ds.Edit();
  EXPECT_EQ(MessageOf<EDatabaseError>([&] { ds.FieldByName("N").SetAsInteger(3); }), "Field N cannot be modified.");
  ds.Cancel();
}

TEST_F(DataSetTest, MemoFieldsAreWrittenAndReadAsText) {
  Run("CREATE TABLE t (N INTEGER, NOTE BLOB(0, 1), PRIMARY KEY (N))");
  TTarnDataSet& ds = OpenTable("t");
  ds.Append();
  ds.FieldByName("N").SetAsInteger(1);
  const std::string text(3000, 'q');
  ds.FieldByName("NOTE").SetAsString(text);
  ds.Post();
  ds.Close();
  ds.Open();
  EXPECT_EQ(ds.FieldByName("NOTE").AsString(), text);
  EXPECT_EQ(MessageOf<EDatabaseError>([&] { ds.FieldByName("NOTE").AsInteger(); }),
            "Cannot access field 'NOTE' as type Integer");
}

// --- bookmarks ---------------------------------------------------------------------------------------

TEST_F(DataSetTest, BookmarksReturnToTheirRecordAndCompare) {
  Run("CREATE TABLE t (N INTEGER, PRIMARY KEY (N))");
  for (int n = 1; n <= 5; ++n) Run("INSERT INTO t VALUES (" + std::to_string(n) + ")");
  TTarnDataSet& ds = OpenTable("t");
  ds.MoveBy(1);
  const TBookmark two = ds.GetBookmark();
  ds.MoveBy(2);
  const TBookmark four = ds.GetBookmark();
  ds.First();
  ds.GotoBookmark(four);
  EXPECT_EQ(ds.FieldByName("N").AsInteger(), 4);
  ds.GotoBookmark(two);
  EXPECT_EQ(ds.FieldByName("N").AsInteger(), 2);
  ds.Next();
  EXPECT_EQ(ds.FieldByName("N").AsInteger(), 3);
  EXPECT_EQ(ds.CompareBookmarks(two, four), -1);
  EXPECT_EQ(ds.CompareBookmarks(four, two), 1);
  EXPECT_EQ(ds.CompareBookmarks(two, two), 0);
  EXPECT_EQ(ds.CompareBookmarks({}, {}), 0);
  EXPECT_EQ(ds.CompareBookmarks({}, two), -1);
  EXPECT_EQ(ds.CompareBookmarks(two, {}), 1);
  EXPECT_TRUE(ds.BookmarkValid(two));
  ds.GotoBookmark(two);
  ds.Delete();
  EXPECT_FALSE(ds.BookmarkValid(two));
  EXPECT_THROW(ds.GotoBookmark(two), ETarnEngineError);
  // The failed moves leave the dataset where it was.
  ds.Next();
  EXPECT_EQ(ds.FieldByName("N").AsInteger(), 4);
}

// --- filters and searches ------------------------------------------------------------------------------

class FilterTest : public DataSetTest {
 protected:
  void SetUp() override {
    Run("CREATE TABLE p (ID INTEGER, NAME CHAR(10), CITY CHAR(10), PRIMARY KEY (ID))");
    Run("CREATE INDEX ByName ON p (NAME)");
    const char* rows[] = {"1, 'ann', 'Oslo'", "2, 'Bob', 'Rome'", "3, 'carl', 'Oslo'", "4, 'bea', 'Rome'",
                          "5, 'dan', 'Oslo'"};
    for (const char* row : rows) Run(std::string("INSERT INTO p VALUES (") + row + ")");
  }
};

TEST_F(FilterTest, ExpressionFilterFollowsFilteredAndOptions) {
  TTarnDataSet& ds = OpenTable("p");
  ds.SetFilter("CITY = 'oslo'");
  EXPECT_EQ(ds.RecordCount(), 5);  // not filtered yet
  ds.SetFiltered(true);
  EXPECT_EQ(ds.RecordCount(), 0);
  ds.SetFilterOptions(foCaseInsensitive);
  EXPECT_EQ(ds.RecordCount(), 3);
  EXPECT_EQ(Column(ds, "ID"), (std::vector<std::string>{"1", "3", "5"}));
  ds.SetFilter("NAME = 'b*'");
  EXPECT_EQ(Column(ds, "NAME"), (std::vector<std::string>{"Bob", "bea"}));
  ds.SetFilterOptions(foCaseInsensitive | foNoPartialCompare);
  EXPECT_EQ(ds.RecordCount(), 0);
  ds.SetFiltered(false);
  EXPECT_EQ(ds.RecordCount(), 5);
  EXPECT_THROW(ds.SetFilter("NAME = = 1"), ETarnEngineError);
}

TEST_F(FilterTest, CallbackFilterSeesEachRecordInFilterState) {
  TTarnDataSet& ds = OpenTable("p");
  std::vector<TDataSetState> states;
  ds.SetOnFilterRecord([&](TTarnDataSet& d, bool& accept) {
    states.push_back(d.State());
    accept = d.FieldByName("ID").AsInteger() % 2 == 0;
  });
  ds.SetFiltered(true);
  EXPECT_EQ(Column(ds, "ID"), (std::vector<std::string>{"2", "4"}));
  ASSERT_FALSE(states.empty());
  for (TDataSetState s : states) EXPECT_EQ(s, dsFilter);
  EXPECT_EQ(ds.State(), dsBrowse);
  // A failing handler accepts the record.
  ds.SetOnFilterRecord([](TTarnDataSet&, bool&) { throw Exception("boom"); });
  EXPECT_EQ(ds.RecordCount(), 5);
}

TEST_F(FilterTest, FindUsesTheFiltersWithoutFiltering) {
  TTarnDataSet& ds = OpenTable("p");
  ds.SetFilter("CITY = 'Rome'");
  EXPECT_TRUE(ds.FindFirst());
  EXPECT_EQ(ds.FieldByName("ID").AsInteger(), 2);
  EXPECT_TRUE(ds.FindNext());
  EXPECT_EQ(ds.FieldByName("ID").AsInteger(), 4);
  EXPECT_FALSE(ds.FindNext());
  EXPECT_EQ(ds.FieldByName("ID").AsInteger(), 4);
  EXPECT_TRUE(ds.FindPrior());
  EXPECT_EQ(ds.FieldByName("ID").AsInteger(), 2);
  EXPECT_TRUE(ds.FindLast());
  EXPECT_EQ(ds.FieldByName("ID").AsInteger(), 4);
  // The dataset itself is not filtered.
  EXPECT_EQ(ds.RecordCount(), 5);
  ds.Next();
  EXPECT_EQ(ds.FieldByName("ID").AsInteger(), 5);
}

TEST_F(FilterTest, OptimizeLevelNeedsAnOpenDataset) {
  TTarnDataSet unopened(nullptr);
  EXPECT_THROW(unopened.FilterOptimizeLevel(), EDatabaseError);
  TTarnDataSet& ds = OpenTable("p");
  ds.SetFilter("ID = 3");
  ds.SetFiltered(true);
  EXPECT_EQ(ds.FilterOptimizeLevel(), foFull);
  ds.SetFilter("CITY = 'Oslo'");
  EXPECT_EQ(ds.FilterOptimizeLevel(), foNone);
}

TEST_F(FilterTest, LocateAndLookupThroughIndexAndFilter) {
  struct LocateCase {
    const char* Index;
    const char* Fields;
    std::vector<TFieldValue> Values;
    std::uint8_t Options;
    std::optional<int> Id;
  };
  const LocateCase cases[] = {
      {"", "ID", {std::int64_t{3}}, 0, 3},  // primary index
      {"", "ID", {std::int64_t{9}}, 0, std::nullopt},
      {"ByName", "NAME", {std::string("bea")}, 0, 4},             // secondary index
      {"ByName", "NAME", {std::string("ca")}, loPartialKey, 3},   // partial key in the index
      {"ByName", "NAME", {std::string("BOB")}, 0, std::nullopt},  // case matters
      {"", "NAME", {std::string("BOB")}, loCaseInsensitive, 2},   // a filter, without case
      {"", "CITY;NAME", {std::string("Oslo"), std::string("d")}, loPartialKey, 5},
      {"", "CITY;NAME", {std::string("Oslo"), std::string("d")}, 0, std::nullopt},
      {"", "CITY", {TFieldValue{}}, 0, std::nullopt},
  };
  for (const LocateCase& c : cases) {
    SCOPED_TRACE(std::string(c.Index) + " " + c.Fields);
    TTarnDataSet& ds = OpenTable("p", c.Index);
    ds.Last();
    const int before = ds.FieldByName("ID").AsInteger();
    const std::vector<TFieldValue> looked = ds.Lookup(c.Fields, c.Values, "ID;CITY");
    EXPECT_EQ(ds.FieldByName("ID").AsInteger(), before);  // Lookup does not move
    ds.Next();                                            // nor does it disturb the walk
    EXPECT_TRUE(ds.Eof());
    ASSERT_EQ(looked.size(), 2u);
    const bool found = ds.Locate(c.Fields, c.Values, c.Options);
    EXPECT_EQ(found, c.Id.has_value());
    if (c.Id) {
      EXPECT_EQ(ds.FieldByName("ID").AsInteger(), *c.Id);
      if (c.Options == 0) {
        EXPECT_EQ(std::get<std::int64_t>(looked[0]), *c.Id);
      }
    } else {
      EXPECT_EQ(ds.FieldByName("ID").AsInteger(), before);
      if (c.Options == 0) {
        EXPECT_TRUE(std::holds_alternative<std::monostate>(looked[0]));
      }
    }
    TearDown();
  }
}

TEST_F(FilterTest, BlockReadsWalkTheSameRecords) {
  TTarnDataSet& ds = OpenTable("p");
  ds.Next();
  ds.SetBlockReadSize(2);
  EXPECT_EQ(ds.State(), dsBlockRead);
  std::vector<std::string> ids;
  for (; !ds.Eof(); ds.Next()) ids.push_back(ds.FieldByName("ID").AsString());
  EXPECT_EQ(ids, (std::vector<std::string>{"2", "3", "4", "5"}));
  ds.SetBlockReadSize(0);
  EXPECT_EQ(ds.State(), dsBrowse);
  EXPECT_EQ(ds.FieldByName("ID").AsInteger(), 5);
  ds.First();
  ds.SetBlockReadSize(2147483647);
  ds.MoveBy(2);
  EXPECT_EQ(ds.FieldByName("ID").AsInteger(), 3);
  ds.SetBlockReadSize(0);
  EXPECT_EQ(ds.FieldByName("ID").AsInteger(), 3);
  ds.Next();
  EXPECT_EQ(ds.FieldByName("ID").AsInteger(), 4);
}

}  // namespace
}  // namespace tarn
