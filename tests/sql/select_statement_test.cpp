// SELECT statements end to end: scripts, placeholders, result tables and
// their lifetime, column naming, UNION, aggregates over no rows, DISTINCT,
// GROUP BY with HAVING, ORDER BY, TOP and the row bound, outer joins, and the
// simple count that reads no row.
#include <gtest/gtest.h>

#include <cstring>

#include "sql_fixture.h"
#include "support/raised_code.h"

namespace tarn::sql_testing {
namespace {

class SelectStatementTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // people: ID (primary), NAME, AMOUNT (indexed), CITY
    db_.CreateTable("people", {{"ID", dtInteger}, {"NAME", dtString, 20}, {"AMOUNT", dtInteger}, {"CITY", dtString, 15}},
                    {{"", {1}}, {"ByAmount", {3}}});
    db_.Insert("people", {{std::int64_t{1}, std::string("Ann"), std::int64_t{10}, std::string("Oslo")},
                          {std::int64_t{2}, std::string("Bob"), std::int64_t{20}, std::string("Rome")},
                          {std::int64_t{3}, std::string("Cid"), std::int64_t{10}, std::string("Oslo")},
                          {std::int64_t{4}, std::string("Dee"), Cell{}, std::string("Lima")},
                          {std::int64_t{5}, std::string("Eve"), std::int64_t{30}, Cell{}}});
    db_.CreateTable("cities", {{"CITY", dtString, 15}, {"COUNTRY", dtString, 15}}, {{"", {1}}});
    db_.Insert("cities", {{std::string("Oslo"), std::string("Norway")}, {std::string("Rome"), std::string("Italy")}});
    db_.CreateTable("empty", {{"A", dtInteger}, {"B", dtSmallInt}});
  }

  std::string Message(const std::string& sql) {
    try {
      db_.Query(sql);
    } catch (const ETarnEngineError& e) {
      EXPECT_EQ(e.ErrorCode(), TARN_SQLPARSE) << e.Message();
      return e.ErrorText();
    }
    return "no error";
  }

  SqlDatabase db_;
};

TEST_F(SelectStatementTest, SelectStarCopiesEveryRowIntoAResultTableThatGoesWithTheStatement) {
  {
    TQueryStatement statement(db_.Directory());
    statement.PrepareStatement("select * from 'people'");
    // Prepared: an empty result table in the private directory.
    EXPECT_EQ(db_.PrivateTables().size(), 1u);
    TDataCursor* result = nullptr;
    statement.ExecuteStatement(result);
    ASSERT_NE(result, nullptr);
    std::vector<std::string> names;
    const auto rows = SqlDatabase::ReadRows(*result, &names);
    EXPECT_EQ(names, (std::vector<std::string>{"ID", "NAME", "AMOUNT", "CITY"}));
    EXPECT_EQ(rows.size(), 5u);
    EXPECT_EQ(statement.RowsAffected(), 5);
    EXPECT_TRUE(statement.SelectStar());
    EXPECT_FALSE(statement.LiveGranted());
    // A second execution refills the same table.
    statement.ExecuteStatement(result);
    EXPECT_EQ(SqlDatabase::ReadRows(*result), rows);
    EXPECT_EQ(db_.PrivateTables().size(), 1u);
  }
  EXPECT_EQ(db_.PrivateFiles(), std::vector<std::string>{});
}

TEST_F(SelectStatementTest, ResultTablesOfOneThreadAreNumberedFromZero) {
  TQueryStatement first(db_.Directory()), second(db_.Directory());
  first.PrepareStatement("SELECT NAME FROM people");
  second.PrepareStatement("SELECT CITY FROM people");
  const std::vector<std::string> files = db_.PrivateTables();
  ASSERT_EQ(files.size(), 2u);
  // The thread's digits (at most five), then the counter.
  const std::string prefix = files[0].substr(0, files[0].size() - 5);
  EXPECT_GE(prefix.size(), 1u);
  EXPECT_LE(prefix.size(), 5u);
  EXPECT_EQ(files[0], prefix + "0.DAT");
  EXPECT_EQ(files[1], prefix + "1.DAT");
}

TEST_F(SelectStatementTest, AScriptRunsEveryStatementAndAnswersTheLast) {
  TQueryStatement statement(db_.Directory());
  statement.PrepareStatement("SELECT NAME FROM people WHERE ID < 3; SELECT CITY FROM cities;");
  TDataCursor* result = nullptr;
  statement.ExecuteStatement(result);
  ASSERT_NE(result, nullptr);
  EXPECT_EQ(SqlDatabase::ReadRows(*result), (std::vector<TextRow>{{"Oslo"}, {"Rome"}}));
  EXPECT_EQ(statement.RowsAffected(), 4);
}

TEST_F(SelectStatementTest, PlaceholdersTakeTheTypeOfTheirValues) {
  TQueryStatement statement(db_.Directory());
  statement.PrepareStatement("SELECT NAME FROM people WHERE AMOUNT > ? ORDER BY NAME");
  ASSERT_EQ(statement.Parameters().size(), 1u);
  TFieldDefinition def = test_support::MakeField("P", dtInteger);
  def.FieldNumber = 1;
  UpdateFieldSize(def);
  def.FieldOffset = 0;
  std::uint8_t buffer[5] = {1};
  const std::int32_t value = 15;
  std::memcpy(buffer + 1, &value, 4);
  statement.SetStatementParameters(1, &def, buffer);
  TDataCursor* result = nullptr;
  statement.ExecuteStatement(result);
  EXPECT_EQ(SqlDatabase::ReadRows(*result), (std::vector<TextRow>{{"Bob"}, {"Eve"}}));
  // The condition with the placeholder's value is served by the AMOUNT index.
  EXPECT_EQ(statement.MasterQuery().SourceTables.front()->Cursor->GetFilterOptimizeLevel(), olFull);
  // More values than placeholders.
  TFieldDefinition three[3] = {def, def, def};
  std::uint8_t wide[16] = {};
  try {
    statement.SetStatementParameters(3, three, wide);
    ADD_FAILURE() << "no error";
  } catch (const ETarnEngineError& e) {
    EXPECT_EQ(e.ErrorText(), "Internal parameter error");
  }
}

TEST_F(SelectStatementTest, ResultColumnsAreNamedFromAliasesColumnsAndAggregates) {
  struct Case {
    const char* Sql;
    std::vector<std::string> Names;
  };
  const Case cases[] = {
      {"SELECT NAME N FROM people", {"N"}},
      {"SELECT NAME AS \"N\" FROM people", {"N"}},
      {"SELECT NAME, NAME FROM people", {"NAME", "NAME_1"}},
      {"SELECT NAME, people.NAME, NAME FROM people", {"NAME", "NAME_1", "NAME_2"}},
      {"SELECT SUM(AMOUNT), MIN(AMOUNT), MAX(AMOUNT), COUNT(NAME) FROM people",
       {"Sum Of AMOUNT", "Min Of AMOUNT", "Max Of AMOUNT", "Count Of NAME"}},
      {"SELECT ID + 1, SUM(ID * 2) FROM people GROUP BY 1", {"Expression", "Sum Of Expr"}},
      {"SELECT AMOUNT AS abcdefghijklmnopqrstuvwxyz0123456789 FROM people", {"ghijklmnopqrstuvwxyz0123456789"}},
      // Quoted names of columns are those columns, and ORDER BY finds them.
      {"SELECT \"NAME\", 'AMOUNT' FROM people ORDER BY \"NAME\", 'AMOUNT' DESC", {"NAME", "AMOUNT"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Sql);
    std::vector<std::string> names;
    try {
      db_.Query(c.Sql, &names);
    } catch (const ETarnEngineError& e) {
      ADD_FAILURE() << e.Message();
    }
    EXPECT_EQ(names, c.Names);
  }
}

TEST_F(SelectStatementTest, PreparationAndExecutionMessages) {
  struct Case {
    const char* Sql;
    const char* Message;
  };
  const Case cases[] = {
      {"SELECT NOPE FROM people", "Invalid column name 'NOPE' or table correlation name '' specified in source columns"},
      {"SELECT x.NAME FROM people", "Invalid column name 'NAME' or table correlation name 'x' specified in source columns"},
      {"SELECT NAME, SUM(AMOUNT) FROM people",
       "Invalid use of aggregate function(s), the necessary GROUP BY clause is missing"},
      {"SELECT NAME FROM people HAVING COUNT(NAME) > 1",
       "A GROUP BY clause must exist in order to use the HAVING clause"},
      {"SELECT NAME FROM people ORDER BY 2", "Invalid column number '2' specified in ORDER BY clause"},
      {"SELECT NAME FROM people ORDER BY CITY",
       "Invalid column name 'CITY' or table correlation name '' specified in ORDER BY clause"},
      {"SELECT NAME FROM people GROUP BY 3", "Invalid column number '3' specified in GROUP BY clause"},
      {"SELECT CITY, SUM(AMOUNT) FROM people GROUP BY CITY HAVING SUM(ID) > 1",
       "Expression in HAVING clause not found in source columns"},
      {"SELECT NAME FROM people UNION SELECT NAME, CITY FROM people",
       "The number of columns  in the UNION query must match the  number of columns in the master query"},
      {"SELECT NAME FROM people UNION ALL SELECT ID FROM people",
       "Type mismatch between column expression 'ID' in the UNION ALL query and column expression 'NAME' in the "
       "master query"},
      {"SELECT NAME FROM people WHERE AMOUNT + 1", "WHERE or JOIN clause must be a boolean expression"},
      // FULL is the correlation name of people here, so people.CITY names no source table.
      {"SELECT * FROM people FULL JOIN cities ON people.CITY = cities.CITY",
       "Internal join error attempting to validate table correlation names involved in join"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Sql);
    EXPECT_EQ(Message(c.Sql), c.Message);
  }
  EXPECT_EQ(db_.PrivateFiles(), std::vector<std::string>{});
}

TEST_F(SelectStatementTest, AnswersOfTheSelectForms) {
  struct Case {
    const char* Sql;
    std::vector<TextRow> Rows;
  };
  const Case cases[] = {
      // Aggregates over no rows: NULL, and a count of 0.
      {"SELECT SUM(A), COUNT(A), MIN(B) FROM empty", {{"NULL", "0", "NULL"}}},
      {"SELECT COUNT(*) FROM empty", {{"0"}}},
      {"SELECT SUM(AMOUNT), COUNT(AMOUNT), COUNT(*), AVG(AMOUNT) FROM people", {{"70", "4", "5", "17"}}},
      {"SELECT DISTINCT CITY FROM people", {{"NULL"}, {"Lima"}, {"Oslo"}, {"Rome"}}},
      {"SELECT CITY, COUNT(*), SUM(AMOUNT) FROM people GROUP BY CITY ORDER BY CITY",
       {{"NULL", "1", "30"}, {"Lima", "1", "NULL"}, {"Oslo", "2", "20"}, {"Rome", "1", "20"}}},
      {"SELECT CITY, COUNT(NAME) FROM people GROUP BY CITY HAVING COUNT(NAME) > 1", {{"Oslo", "2"}}},
      {"SELECT CITY, RUNSUM(ID) FROM people GROUP BY CITY", {{"NULL", "5"}, {"Lima", "9"}, {"Oslo", "13"}, {"Rome", "15"}}},
      {"SELECT NAME, AMOUNT FROM people ORDER BY AMOUNT DESC, NAME TOP 2", {{"Eve", "30"}, {"Bob", "20"}}},
      {"SELECT NAME FROM people ORDER BY NAME DESC", {{"Eve"}, {"Dee"}, {"Cid"}, {"Bob"}, {"Ann"}}},
      {"SELECT NAME FROM people WHERE AMOUNT = 10 UNION SELECT NAME FROM people WHERE ID <= 2",
       {{"Ann"}, {"Bob"}, {"Cid"}}},
      {"SELECT NAME FROM people WHERE AMOUNT = 10 UNION ALL SELECT NAME FROM people WHERE ID <= 2 ORDER BY 1",
       {{"Ann"}, {"Ann"}, {"Bob"}, {"Cid"}}},
      {"SELECT NAME FROM people WHERE CITY IN (SELECT CITY FROM cities WHERE COUNTRY = 'Italy')", {{"Bob"}}},
      {"SELECT NAME FROM people WHERE CITY NOT IN (SELECT CITY FROM cities) ORDER BY NAME", {{"Dee"}, {"Eve"}}},
      {"SELECT people.NAME, cities.COUNTRY FROM people LEFT JOIN cities ON people.CITY = cities.CITY ORDER BY 1",
       {{"Ann", "Norway"}, {"Bob", "Italy"}, {"Cid", "Norway"}, {"Dee", "NULL"}, {"Eve", "NULL"}}},
      {"SELECT p.NAME FROM people p, cities c WHERE p.CITY = c.CITY AND c.COUNTRY = 'Norway' ORDER BY 1",
       {{"Ann"}, {"Cid"}}},
      {"SELECT NAME, CITY FROM cities c RIGHT JOIN people ON c.CITY = people.CITY WHERE ID = 4", {{"Dee", "Lima"}}},
      {"SELECT UPPER(NAME) || '!' FROM people WHERE ID = 1", {{"ANN!"}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Sql);
    try {
      EXPECT_EQ(db_.Query(c.Sql), c.Rows);
    } catch (const ETarnEngineError& e) {
      ADD_FAILURE() << e.Message();
    }
  }
  EXPECT_EQ(db_.PrivateFiles(), std::vector<std::string>{});
}

TEST_F(SelectStatementTest, TheRowBoundCutsAfterOrderingAndTopWithoutOrderCutsTheScan) {
  EXPECT_EQ(db_.Query("SELECT NAME FROM people ORDER BY NAME DESC", nullptr, 2),
            (std::vector<TextRow>{{"Eve"}, {"Dee"}}));
  EXPECT_EQ(db_.Query("SELECT NAME FROM people", nullptr, 3).size(), 3u);
  EXPECT_EQ(db_.Query("SELECT NAME FROM people TOP 1").size(), 1u);
  EXPECT_EQ(db_.Query("SELECT CITY, COUNT(*) FROM people GROUP BY CITY", nullptr, 2).size(), 2u);
}

TEST_F(SelectStatementTest, ASimpleCountReadsNoRecord) {
  TQueryStatement statement(db_.Directory());
  statement.PrepareStatement("SELECT COUNT(*) FROM people WHERE AMOUNT = 10");
  EXPECT_TRUE(statement.MasterQuery().SimpleCount);
  TDataCursor* result = nullptr;
  statement.ExecuteStatement(result);
  EXPECT_EQ(SqlDatabase::ReadRows(*result), (std::vector<TextRow>{{"2"}}));
}

TEST_F(SelectStatementTest, GroupingOrderedByItsColumnsNeedsNoFinalSort) {
  TQueryStatement statement(db_.Directory());
  statement.PrepareStatement("SELECT CITY, NAME FROM people GROUP BY CITY, NAME ORDER BY CITY, NAME");
  EXPECT_TRUE(statement.MasterQuery().OrderSatisfied);
  statement.PrepareStatement("SELECT CITY, NAME FROM people GROUP BY CITY, NAME ORDER BY NAME, CITY");
  EXPECT_FALSE(statement.MasterQuery().OrderSatisfied);
}

TEST_F(SelectStatementTest, ALiveResultIsTheFilteredSourceTable) {
  TQueryStatement statement(db_.Directory());
  statement.RequestLive = true;
  statement.PrepareStatement("SELECT ID, NAME FROM people WHERE AMOUNT = 10");
  EXPECT_TRUE(statement.LiveGranted());
  EXPECT_EQ(db_.PrivateFiles(), std::vector<std::string>{});
  TDataCursor* result = nullptr;
  statement.ExecuteStatement(result);
  std::vector<std::string> names;
  EXPECT_EQ(SqlDatabase::ReadRows(*result, &names), (std::vector<TextRow>{{"1", "Ann"}, {"3", "Cid"}}));
  EXPECT_EQ(names, (std::vector<std::string>{"ID", "NAME"}));
  // What a live result cannot serve is answered canned.
  statement.PrepareStatement("SELECT DISTINCT CITY FROM people");
  EXPECT_FALSE(statement.LiveGranted());
}

}  // namespace
}  // namespace tarn::sql_testing

namespace tarn::sql_testing {
namespace {

// The text of a memo field of the cursor's current record buffer.
std::string MemoText(TDataCursor& cursor, std::uint16_t field, std::uint8_t* record) {
  if (cursor.OpenBlob(field, record, 0, false, true) != 0) return "<not opened>";
  std::int32_t size = 0;
  cursor.GetBlobSize(field, record, false, size);
  std::string text(static_cast<std::size_t>(size), '\0');
  std::int32_t read = 0;
  if (size > 0) cursor.GetBlob(field, record, false, read, size, reinterpret_cast<std::uint8_t*>(text.data()), 0);
  cursor.FreeBlob(field, record, false, true);
  return text;
}

TEST(SelectBlobs, MemoColumnsAreCopiedIntoResultsAndSavedTables) {
  SqlDatabase db;
  db.CreateTable("notes", {{"ID", dtInteger}, {"NOTE", dtBlob, 0, dstMemo}}, {{"", {1}}});
  {
    TDataCursor cursor(db.Directory());
    cursor.SetTableName("notes");
    cursor.OpenCursor();
    std::vector<std::uint8_t> record(cursor.GetRecordBufferSize());
    const std::string texts[] = {"first note", std::string(3000, 'x'), ""};
    for (std::int32_t id = 1; id <= 3; ++id) {
      cursor.InitRecord(record.data());
      cursor.PutField(1, record.data(), reinterpret_cast<const std::uint8_t*>(&id));
      const std::string& text = texts[id - 1];
      if (!text.empty()) {
        ASSERT_EQ(cursor.OpenBlob(2, record.data(), 0, false, true), 0);
        ASSERT_EQ(cursor.PutBlob(2, record.data(), false, static_cast<std::int32_t>(text.size()),
                                 reinterpret_cast<const std::uint8_t*>(text.data()), 0),
                  0);
      }
      cursor.AppendRecord(record.data());
      cursor.FreeAllBlobs(true);
    }
  }
  TQueryStatement statement(db.Directory());
  statement.PrepareStatement("SELECT ID, NOTE FROM notes WHERE ID >= 2 ORDER BY ID DESC");
  TDataCursor* result = nullptr;
  statement.ExecuteStatement(result);
  ASSERT_NE(result, nullptr);
  const auto texts = [](TDataCursor& cursor) {
    std::vector<std::string> out;
    std::vector<std::uint8_t> record(cursor.GetRecordBufferSize());
    cursor.SetToBegin();
    while (cursor.GetNextRecord(record.data()) == 0) out.push_back(MemoText(cursor, 2, record.data()));
    return out;
  };
  EXPECT_EQ(texts(*result), (std::vector<std::string>{"", std::string(3000, 'x')}));

  std::vector<int> percents;
  statement.SetSaveProgressCallback(&percents, [](void* data, TQueryStatement&, int percent) {
    static_cast<std::vector<int>*>(data)->push_back(percent);
  });
  statement.SaveResultToTable(db.Directory(), "saved", /*overwrite=*/false);
  EXPECT_EQ(percents.back(), 100);
  TDataCursor saved(db.Directory());
  saved.SetTableName("saved");
  saved.OpenCursor();
  EXPECT_EQ(SqlDatabase::ReadRows(saved), (std::vector<TextRow>{{"3", "BLOB"}, {"2", "BLOB"}}));
  EXPECT_EQ(texts(saved), (std::vector<std::string>{"", std::string(3000, 'x')}));
  EXPECT_EQ(test_support::RaisedCode([&] { statement.SaveResultToTable(db.Directory(), "saved", false); }), TARN_TABLEEXISTS);
}

}  // namespace
}  // namespace tarn::sql_testing

namespace tarn::sql_testing {
namespace {

class SelectScanTest : public ::testing::Test {
 protected:
  void SetUp() override {
    db_.CreateTable("numbers", {{"N", dtInteger}});
    std::vector<Row> rows;
    for (std::int64_t n = 1; n <= 100; ++n) rows.push_back({n});
    db_.Insert("numbers", rows);
  }
  SqlDatabase db_;
};

TEST_F(SelectScanTest, AStopAskedByTheProgressCallbackKeepsTheRowsGathered) {
  struct Progress {
    std::vector<int> Percents;
  } progress;
  TQueryStatement statement(db_.Directory());
  statement.SetQueryProgressCallback(&progress, [](void* data, TQueryStatement&, int percent, bool& stop) {
    static_cast<Progress*>(data)->Percents.push_back(percent);
    stop = percent >= 50;
  });
  statement.PrepareStatement("SELECT N FROM numbers");
  TDataCursor* result = nullptr;
  statement.ExecuteStatement(result);
  // Reports every 5 % (20 steps); the report at row 50 stops before that row,
  // and the end of the statement is reported.
  EXPECT_EQ(progress.Percents, (std::vector<int>{5, 10, 15, 20, 25, 30, 35, 40, 45, 50, 100}));
  EXPECT_EQ(statement.RowsAffected(), 49);
}

TEST_F(SelectScanTest, WithLocksHoldsTheSourceTablesOnlyWhileItRuns) {
  EXPECT_EQ(db_.Query("SELECT COUNT(*) FROM numbers WHERE N > 90 WITH LOCKS"), (std::vector<TextRow>{{"10"}}));
  // Another session of the process can write the table afterwards.
  TDataSession other;
  other.SetLockRetries(1);
  other.SetLockWait(1);
  TDataDirectory& directory = other.OpenDataDirectory("", db_.Path());
  TDataCursor writer(directory);
  writer.SetTableName("numbers");
  writer.OpenCursor();
  std::vector<std::uint8_t> record(writer.GetRecordBufferSize());
  writer.InitRecord(record.data());
  const std::int32_t n = 101;
  writer.PutField(1, record.data(), reinterpret_cast<const std::uint8_t*>(&n));
  EXPECT_NO_THROW(writer.AppendRecord(record.data()));
  writer.CloseCursor();
  EXPECT_EQ(db_.Query("SELECT COUNT(*) FROM numbers WITH LOCKS"), (std::vector<TextRow>{{"101"}}));
}

}  // namespace
}  // namespace tarn::sql_testing

namespace tarn::sql_testing {
namespace {

// The statements of the quota page over a user table, with and without a
// case-insensitive index on USER; one name is GBK text whose second byte is
// an ASCII letter (0xB0 0x61), which upper-casing must leave alone.
class QuotaQueryTest : public ::testing::TestWithParam<bool> {};

TEST_P(QuotaQueryTest, TheUserQueryFindsTheRowsOfOneUserWhateverTheCase) {
  SqlDatabase db;
  std::vector<Index> indexes;
  if (GetParam()) indexes.push_back({"ByUser", {1}, false, /*CaseInsensitive=*/true});
  db.CreateTable("user",
                 {{"USER", dtString, 20}, {"NAME", dtString, 20}, {"LIMIT_P", dtInteger}, {"USED_P", dtInteger},
                  {"HOWTODO", dtInteger}},
                 indexes);
  const std::string chinese = "\xD5\xC5\xB0\x61";  // two GBK characters, the second trail byte 'a'
  db.Insert("user", {{std::string("alice"), std::string(""), std::int64_t{100}, std::int64_t{5}, std::int64_t{1}},
                     {std::string("Alice"), std::string("P1"), std::int64_t{-1}, std::int64_t{7}, std::int64_t{2}},
                     {std::string("bob"), std::string(""), std::int64_t{10}, std::int64_t{1}, std::int64_t{3}},
                     {chinese, std::string(""), std::int64_t{50}, std::int64_t{60}, std::int64_t{4}}});
  const auto users = [&](const std::string& name) {
    std::vector<std::string> found;
    for (const TextRow& row : db.Query("select * from 'user' where Upper('user'.'user') = '" + name + "'")) {
      found.push_back(row[0] + "/" + row[3]);
    }
    std::sort(found.begin(), found.end());
    return found;
  };
  EXPECT_EQ(users("ALICE"), (std::vector<std::string>{"Alice/7", "alice/5"}));
  EXPECT_EQ(users("BOB"), (std::vector<std::string>{"bob/1"}));
  EXPECT_EQ(users(chinese), (std::vector<std::string>{chinese + "/60"}));
  EXPECT_EQ(users("\xD5\xC5\xB0\x41"), (std::vector<std::string>{}));
  EXPECT_EQ(users("NOBODY"), (std::vector<std::string>{}));
  // A missing table is the engine's own error, and leaves no result table.
  EXPECT_EQ(test_support::RaisedCode([&] { db.Query("select * from 'printer'"); }), TARN_OSENOENT);
  EXPECT_EQ(db.PrivateTables(), std::vector<std::string>{});
}

INSTANTIATE_TEST_SUITE_P(Index, QuotaQueryTest, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "WithCaseInsensitiveIndex" : "WithoutIndex"; });

}  // namespace
}  // namespace tarn::sql_testing

namespace tarn::sql_testing {
namespace {

TEST(SelectDirectories, DirectoriesAQueryOpensCloseWithIt) {
  SqlDatabase db, far;
  far.CreateTable("far", {{"A", dtInteger}});
  far.Insert("far", {{std::int64_t{7}}});
  const std::size_t before = db.Session().Directories().size();
  EXPECT_EQ(db.Query("SELECT A FROM '" + far.Path() + "far.DAT'"), (std::vector<TextRow>{{"7"}}));
  // The far directory and the private directory were opened for the query
  // and closed with it.
  EXPECT_EQ(db.Session().Directories().size(), before);
  EXPECT_NE(test_support::RaisedCode([&] { db.Query("SELECT * FROM MEMORY 'none'"); }), 0);
  EXPECT_EQ(db.Session().Directories().size(), before);
}

}  // namespace
}  // namespace tarn::sql_testing
