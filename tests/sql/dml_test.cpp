// INSERT, UPDATE and DELETE end to end: their messages, VALUES converted into
// every column type, SET semantics, joins in UPDATE and DELETE (each target
// record changed once, RIGHT JOIN refused), NOAUTOINC, BLOB and memo values,
// INSERT ... SELECT, values that do not fit, and the batch commits (at the
// interval, after a failure, in a caller's transaction).
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "dml_test_support.h"

namespace tarn::sql_testing {
namespace {

class DmlTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // t: K (primary), NAME, N, D (date)
    db_.CreateTable("t", {{"K", dtInteger}, {"NAME", dtString, 20}, {"N", dtInteger}, {"D", dtDate}}, {{"", {1}}});
    db_.Insert("t", {{std::int64_t{1}, std::string("one"), std::int64_t{10}, Cell{}},
                     {std::int64_t{2}, std::string("two"), std::int64_t{20}, Cell{}},
                     {std::int64_t{3}, std::string("three"), std::int64_t{30}, Cell{}}});
    // u: K, X (not unique: two rows for K = 2)
    db_.CreateTable("u", {{"K", dtInteger}, {"X", dtInteger}});
    db_.Insert("u", {{std::int64_t{2}, std::int64_t{200}},
                     {std::int64_t{2}, std::int64_t{201}},
                     {std::int64_t{3}, std::int64_t{300}}});
    db_.CreateTable("v", {{"K", dtInteger}});
  }

  std::string Message(const std::string& sql) { return MessageOf(db_, sql); }
  std::vector<TextRow> Rows(const std::string& table) { return DumpTable(db_.Directory(), table); }

  SqlDatabase db_;
};

// --- messages ---------------------------------------------------------------------------------

TEST_F(DmlTest, EveryMessageOfTheGrammarAndTheChecks) {
  struct Case {
    const char* Sql;
    const char* Message;
  };
  const Case cases[] = {
      // INSERT grammar
      {"INSERT t VALUES (1)", "INTO keyword expected, instead found 't'"},
      {"INSERT INTO (1)", "Table name expected after INTO clause, instead found '('"},
      {"INSERT INTO MEMORY (1)", "Table name expected after INTO keyword, instead found '('"},
      {"INSERT INTO t (K, NAME VALUES (1, 'a')",
       "Right parentheses expected after list of table columns, instead found 'VALUES'"},
      {"INSERT INTO t (K, ) VALUES (1)", "Table column name is empty"},
      {"INSERT INTO t VALUES 1", "Left parentheses expected after VALUES keyword, instead found '1'"},
      {"INSERT INTO t VALUES (1, 2", "Right parentheses expected after list of values, instead found ''"},
      {"INSERT INTO t VALUES (1, )", "Value expression is empty"},
      {"INSERT INTO t x y", "VALUES or SELECT  keyword expected, instead found 'y'"},
      {"INSERT INTO t VALUES (1, 'a', 2, NULL) COMMIT INTERVAL x",
       "Integer value expected after INTERVAL keyword, instead found 'x'"},
      {"INSERT INTO t VALUES (1, 'a', 2, NULL) COMMIT NOW",
       "INTERVAL and/or FLUSH keywords expected after COMMIT keyword, instead found 'NOW'"},
      {"INSERT INTO t VALUES (1, 'a', 2, NULL) NOW", "End of INSERT statement expected, instead found 'NOW'"},
      {"INSERT INTO t SELECT * INTO r FROM u", "The INTO clause can only be used with the master query"},
      // UPDATE grammar
      {"UPDATE (t) SET N = 1", "Table name expected, instead found '('"},
      {"UPDATE MEMORY ;", "Table name expected, instead found ';'"},
      {"UPDATE t AS , SET N = 1", "Symbol or string expected after AS keyword, instead found ','"},
      {"UPDATE t N = 1", "SET keyword expected, instead found '='"},
      {"UPDATE t SET N 1", "Assignment (=) operator expected after column name, instead found '1'"},
      {"UPDATE t SET = 1", "Table column name is empty"},
      {"UPDATE t SET N = ", "Value expression is empty"},
      {"UPDATE t SET N = 1 FROM u",
       "The first source table specified in FROM clause must match the table being updated in the UPDATE statement"},
      {"UPDATE t x SET N = 1 FROM t y",
       "The first source table specified in FROM clause must match the table being updated in the UPDATE statement"},
      {"UPDATE t SET N = 1 FROM t JOIN u ON t.K = u.K FULL JOIN v ON u.K = v.K",
       "Full outer joins are currently not supported in Tarn SQL UPDATE statements"},
      {"UPDATE t SET N = 1 WHERE K = 1 NOW", "End of UPDATE statement expected, instead found 'NOW'"},
      // DELETE grammar
      {"DELETE t", "FROM keyword expected, instead found 't'"},
      {"DELETE FROM (t)", "Table name expected after FROM keyword, instead found '('"},
      {"DELETE FROM t JOIN u ON t.K = u.K FULL JOIN v ON u.K = v.K",
       "Full outer joins are currently not supported in Tarn SQL DELETE statements"},
      {"DELETE FROM t NOAUTOINC", "End of DELETE statement expected, instead found 'NOAUTOINC'"},
      {"DELETE FROM t COMMIT", "INTERVAL and/or FLUSH keywords expected after COMMIT keyword, instead found ''"},
      // The commit interval is a positive number of rows.
      {"DELETE FROM t COMMIT INTERVAL 0", "Commit interval must be a positive integer, instead found '0'"},
      {"DELETE FROM t COMMIT INTERVAL 3000000000",
       "Commit interval must be a positive integer, instead found '3000000000'"},
      {"DELETE FROM t COMMIT INTERVAL -5", "Integer value expected after INTERVAL keyword, instead found '-'"},
      // A right outer join would make the joined table the one that changes.
      {"DELETE FROM t RIGHT JOIN u ON t.K = u.K",
       "Right outer joins are currently not supported in Tarn SQL DELETE statements"},
      {"UPDATE t SET N = 1 FROM t RIGHT OUTER JOIN u ON t.K = u.K",
       "Right outer joins are currently not supported in Tarn SQL UPDATE statements"},
      // column checks
      {"INSERT INTO t VALUES (1, 'a')", "The number of values must match the number of table columns"},
      {"INSERT INTO t (K, NAME) VALUES (1)", "The number of values must match the number of table columns"},
      {"INSERT INTO t (Nope) VALUES (1)",
       "Invalid column name 'Nope' or table correlation name '' specified in table columns"},
      {"INSERT INTO t (z.K) VALUES (1)",
       "Invalid column name 'K' or table correlation name 'z' specified in table columns"},
      {"UPDATE t SET * = 1", "Invalid column name '*' or table correlation name '' specified in table columns"},
      {"UPDATE t SET Nope = 1", "Invalid column name 'Nope' or table correlation name '' specified in table columns"},
      {"INSERT INTO t SELECT K, X FROM u", "The number of values must match the number of table columns"},
      // A SET item names a column of the updated table only.
      {"UPDATE t SET u.X = 1 FROM t, u WHERE t.K = u.K",
       "Column 'u.X' cannot be assigned: only columns of table 't' can be changed"},
      {"UPDATE t SET X = 1 FROM t, u WHERE t.K = u.K",
       "Column 'u.X' cannot be assigned: only columns of table 't' can be changed"},
      // value checks
      {"INSERT INTO t (NAME) VALUES (NAME)",
       "Invalid column name 'NAME' or table correlation name '' specified in update values"},
      {"INSERT INTO t (D) VALUES ('2001-02-30')",
       "Date, time, or timestamp expression expected, instead found '2001-02-30' in update values"},
      {"INSERT INTO t (N) VALUES ('abc')", "Type mismatch between column 'N' and constant 'abc' in update values"},
      {"INSERT INTO t (NAME) VALUES (12)", "Type mismatch between column 'NAME' and constant '12' in update values"},
      {"UPDATE t SET N = 'abc'", "Type mismatch between column 'N' and constant 'abc' in update values"},
      {"UPDATE t SET N = Nope", "Invalid column name 'Nope' or table correlation name '' specified in update values"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Message(c.Sql), c.Message) << c.Sql;
  }
  // Nothing was changed by any of them.
  EXPECT_EQ(Rows("t").size(), 3u);
}

TEST_F(DmlTest, StatementKindsAndTheirClauses) {
  TQueryStatement statement(db_.Directory());
  statement.ParseStatement(
      "update t as a set N = 1 from t a where K = 1 noautoinc commit interval 5 flush "
      "nojoinoptimize;");
  const TDataQuery& update = statement.MasterQuery();
  EXPECT_EQ(update.Kind, skUpdate);
  EXPECT_TRUE(update.SuppressAutoInc);
  EXPECT_EQ(update.CommitInterval, 5);
  EXPECT_TRUE(update.CommitIntervalGiven);
  EXPECT_TRUE(update.CommitFlush);
  EXPECT_TRUE(update.NoJoinOptimize);
  EXPECT_EQ(update.SourceTables.size(), 1u);
  statement.ParseStatement("DELETE FROM t COMMIT FLUSH");
  EXPECT_EQ(statement.MasterQuery().Kind, skDelete);
  EXPECT_TRUE(statement.MasterQuery().CommitFlush);
  EXPECT_FALSE(statement.MasterQuery().CommitIntervalGiven);
  statement.ParseStatement("INSERT INTO t z SELECT * FROM u NOAUTOINC");
  EXPECT_EQ(statement.MasterQuery().Kind, skInsert);
  EXPECT_TRUE(statement.MasterQuery().SubSelectInsert);
  EXPECT_EQ(statement.MasterQuery().SourceTables.front()->CorrelationName, "z");
  EXPECT_EQ(statement.Queries().size(), 2u);
}

// --- INSERT with VALUES ---------------------------------------------------------------------------

TEST_F(DmlTest, InsertStoresTheListedColumnsAndDefaultsTheRest) {
  db_.Query("INSERT INTO t (K, 'Name') VALUES (4, 'four')");
  EXPECT_EQ(db_.LastRowsAffected(), 1);
  db_.Query("INSERT INTO t VALUES (5, 'five', 50, '2001-02-28');");
  db_.Query("insert into t (K, N, D) values (6, NULL, NULL)");
  const auto rows = Rows("t");
  ASSERT_EQ(rows.size(), 6u);
  EXPECT_EQ(rows[3], (TextRow{"4", "four", "NULL", "NULL"}));
  EXPECT_EQ(rows[4], (TextRow{"5", "five", "50", "2001-02-28"}));
  EXPECT_EQ(rows[5], (TextRow{"6", "NULL", "NULL", "NULL"}));
}

TEST_F(DmlTest, AFailedInsertAddsNoRow) {
  // A key violation on append, and a value that does not fit.
  EXPECT_NE(test_support::RaisedCode([&] { db_.Query("INSERT INTO t (K) VALUES (1)"); }), 0);
  EXPECT_NE(test_support::RaisedCode([&] { db_.Query("INSERT INTO t (K, N) VALUES (9, 99999999999)"); }), 0);
  EXPECT_EQ(Rows("t").size(), 3u);
}

TEST_F(DmlTest, ValuesAreConvertedIntoEveryColumnType) {
  db_.CreateTable("all", {{"S", dtString, 10},
                          {"SI", dtSmallInt},
                          {"W", dtWord},
                          {"I", dtInteger},
                          {"L", dtLargeInt},
                          {"F", dtFloat},
                          {"B", dtBoolean},
                          {"D", dtDate},
                          {"T", dtTime},
                          {"TS", dtTimeStamp},
                          {"BC", dtBCD, 0, dstNone}});
  struct Case {
    const char* Column;
    const char* Value;
    const char* Stored;  // nullptr: the statement fails
  };
  const Case cases[] = {
      {"S", "'abc'", "abc"},
      {"S", "'abcdefghijklmno'", "abcdefghij"},  // cut to the column
      {"S", "NULL", "NULL"},
      {"SI", "-32768", "-32768"},
      {"SI", "32767", "32767"},
      {"SI", "32768", nullptr},  // does not fit: an error, never a wrapped value
      {"SI", "70000", nullptr},
      {"W", "65535", "65535"},
      {"W", "-1", nullptr},
      {"I", "2147483647", "2147483647"},
      {"I", "12 * 3", "36"},
      {"I", "2.9", "2"},
      {"L", "9000000000", "9000000000"},
      {"L", "7", "7"},
      {"F", "2.5", "2.5"},
      {"F", "3", "3"},
      {"B", "TRUE", "True"},
      {"B", "1 = 2", "False"},
      {"D", "'2001-02-28'", "2001-02-28"},
      {"D", "'2000-02-29'", "2000-02-29"},
      {"T", "'13:14:15'", "01:14:15 PM"},
      {"TS", "'2001-02-28 13:14:15'", "2001-02-28 01:14:15 PM"},
      {"BC", "12", "12"},
      {"BC", "12.75", "13"},  // rounded to the column's scale of 0 decimals
  };
  for (const Case& c : cases) {
    db_.Query("DELETE FROM all");
    const std::string sql = std::string("INSERT INTO all (") + c.Column + ") VALUES (" + c.Value + ")";
    if (c.Stored == nullptr) {
      EXPECT_NE(test_support::RaisedCode([&] { db_.Query(sql); }), 0) << sql;
      EXPECT_TRUE(Rows("all").empty()) << sql;
      continue;
    }
    try {
      db_.Query(sql);
    } catch (const ETarnEngineError& e) {
      ADD_FAILURE() << sql << ": " << e.ErrorText();
      continue;
    }
    const auto rows = DumpTable(db_.Directory(), "all", {c.Column});
    ASSERT_EQ(rows.size(), 1u) << sql;
    EXPECT_EQ(rows[0][0], c.Stored) << sql;
  }
}

TEST_F(DmlTest, PlaceholderValuesAreConvertedAtExecution) {
  TQueryStatement statement(db_.Directory());
  statement.PrepareStatement("INSERT INTO t (K, NAME) VALUES (?, ?)");
  // Both integers: the second becomes the text 12.
  std::vector<TFieldDefinition> defs = {test_support::MakeField("P1", dtInteger),
                                        test_support::MakeField("P2", dtInteger)};
  test_support::LayOut(defs);
  std::vector<std::uint8_t> buffer(64, 0);
  const std::int32_t key = 7, text = 12;
  buffer[defs[0].FieldOffset] = 1;
  std::memcpy(&buffer[defs[0].FieldOffset + 1u], &key, 4);
  buffer[defs[1].FieldOffset] = 1;
  std::memcpy(&buffer[defs[1].FieldOffset + 1u], &text, 4);
  statement.SetStatementParameters(2, defs.data(), buffer.data());
  TDataCursor* result = nullptr;
  statement.ExecuteStatement(result);
  EXPECT_EQ(statement.RowsAffected(), 1);
  EXPECT_EQ(Rows("t").back(), (TextRow{"7", "12", "NULL", "NULL"}));
}

TEST_F(DmlTest, NoAutoIncKeepsTheGivenValueOfTheAutoIncrementColumn) {
  db_.CreateTable("ai", {{"ID", dtInteger, 0, dstAutoInc}, {"A", dtInteger}});
  db_.Query("INSERT INTO ai (A) VALUES (1)");
  db_.Query("INSERT INTO ai (ID, A) VALUES (100, 2)");
  db_.Query("INSERT INTO ai (ID, A) VALUES (50, 3) NOAUTOINC");
  const auto rows = Rows("ai");
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[0], (TextRow{"1", "1"}));
  EXPECT_EQ(rows[1], (TextRow{"2", "2"}));  // the given value is not stored
  EXPECT_EQ(rows[2], (TextRow{"50", "3"}));
  db_.Query("UPDATE ai SET ID = 70 WHERE A = 1");
  db_.Query("UPDATE ai SET ID = 80 WHERE A = 2 NOAUTOINC");
  const auto after = Rows("ai");
  EXPECT_EQ(after[0], (TextRow{"1", "1"}));
  EXPECT_EQ(after[1], (TextRow{"80", "2"}));
}

TEST_F(DmlTest, BlobAndMemoValuesAreWrittenWithoutTheFinalZero) {
  db_.CreateTable("docs", {{"K", dtInteger}, {"M", dtBlob, 0, dstMemo}, {"B", dtBlob, 0, dstBinary}});
  // Text is no value for a binary BLOB.
  EXPECT_EQ(Message("INSERT INTO docs VALUES (1, 'hello memo', 'bytes')"),
            "Type mismatch between column 'B' and constant 'bytes' in update values");
  db_.Query("INSERT INTO docs VALUES (1, 'hello memo', NULL)");
  db_.Query("INSERT INTO docs (K) VALUES (2)");
  auto rows = Rows("docs");
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0], (TextRow{"1", "hello memo", "NULL"}));
  EXPECT_EQ(rows[1], (TextRow{"2", "NULL", "NULL"}));
  // UPDATE replaces the old contents, also with a shorter text.
  db_.Query("UPDATE docs SET M = 'hi' WHERE K = 1");
  db_.Query("UPDATE docs SET M = 'new', B = NULL WHERE K = 2");
  rows = Rows("docs");
  EXPECT_EQ(rows[0], (TextRow{"1", "hi", "NULL"}));
  EXPECT_EQ(rows[1], (TextRow{"2", "new", "NULL"}));
  // A memo read from a column is stored without its zero byte too.
  db_.Query("UPDATE docs SET M = M || '!' WHERE K = 2");
  EXPECT_EQ(Rows("docs")[1], (TextRow{"2", "new!", "NULL"}));
  db_.CreateTable("copy", {{"K", dtInteger}, {"M", dtBlob, 0, dstMemo}, {"B", dtBlob, 0, dstBinary}});
  db_.Query("INSERT INTO copy SELECT * FROM docs");
  EXPECT_EQ(Rows("copy"), Rows("docs"));
}

// --- INSERT with SELECT ---------------------------------------------------------------------------

TEST_F(DmlTest, InsertSelectCopiesEveryRowAndCountsThem) {
  db_.CreateTable("w", {{"K", dtInteger}, {"X", dtInteger}, {"Z", dtString, 5}});
  db_.Query("INSERT INTO w (K, X) SELECT K, X FROM u WHERE X > 200");
  EXPECT_EQ(db_.LastRowsAffected(), 2);
  EXPECT_EQ(Rows("w"), (std::vector<TextRow>{{"2", "201", "NULL"}, {"3", "300", "NULL"}}));
  // Computed columns convert into the target's types.
  db_.Query("INSERT INTO w SELECT X, K * 2, 'k' || NAME FROM t, u WHERE t.K = u.K AND X = 300");
  EXPECT_EQ(Rows("w").back(), (TextRow{"300", "6", "kthre"}));
}

TEST_F(DmlTest, InsertSelectTakesTheVisibleResultColumnsOnly) {
  // AVG keeps a hidden count column in its result: it is no value.
  db_.CreateTable("avg", {{"K", dtInteger}, {"A", dtFloat}});
  db_.Query("INSERT INTO avg SELECT K, AVG(X) FROM u GROUP BY K");
  EXPECT_EQ(db_.LastRowsAffected(), 2);
  // The values are the SELECT's own (an average of integers is an integer).
  EXPECT_EQ(Rows("avg"), db_.Query("SELECT K, AVG(X) FROM u GROUP BY K"));
  EXPECT_EQ(Rows("avg")[1], (TextRow{"3", "300"}));
}

TEST_F(DmlTest, InsertSelectFromItsOwnTableNeverReadsTheRowsItAppends) {
  db_.Query("INSERT INTO u SELECT * FROM u");
  EXPECT_EQ(db_.LastRowsAffected(), 3);
  EXPECT_EQ(Rows("u").size(), 6u);
  db_.Query("INSERT INTO u SELECT K, X + 1 FROM u");
  EXPECT_EQ(db_.LastRowsAffected(), 6);
  EXPECT_EQ(Rows("u").size(), 12u);
}

// --- UPDATE ----------------------------------------------------------------------------------------

TEST_F(DmlTest, ASetValueReadsTheColumnsAssignedBeforeIt) {
  db_.CreateTable("ab", {{"A", dtInteger}, {"B", dtInteger}});
  db_.Insert("ab", {{std::int64_t{1}, std::int64_t{2}}});
  db_.Query("UPDATE ab SET A = B, B = A");
  EXPECT_EQ(db_.LastRowsAffected(), 1);
  EXPECT_EQ(Rows("ab"), (std::vector<TextRow>{{"2", "2"}}));
}

TEST_F(DmlTest, UpdateChangesTheRowsTheWhereClauseSelects) {
  db_.Query("UPDATE t SET N = N + 1, NAME = NAME || '+' WHERE K >= 2");
  EXPECT_EQ(db_.LastRowsAffected(), 2);
  EXPECT_EQ(Rows("t"), (std::vector<TextRow>{
                           {"1", "one", "10", "NULL"}, {"2", "two+", "21", "NULL"}, {"3", "three+", "31", "NULL"}}));
  db_.Query("UPDATE t SET D = '2020-01-31' WHERE NAME = 'one'");
  EXPECT_EQ(Rows("t")[0][3], "2020-01-31");
  // A changed key is not met again by the walk, with or without a filter on it.
  db_.Query("UPDATE t SET K = K + 10 WHERE K >= 2");
  EXPECT_EQ(db_.LastRowsAffected(), 2);
  EXPECT_EQ(DumpTable(db_.Directory(), "t", {"K"}), (std::vector<TextRow>{{"1"}, {"12"}, {"13"}}));
  db_.Query("UPDATE t x SET x.K = K + 100");
  EXPECT_EQ(db_.LastRowsAffected(), 3);
  EXPECT_EQ(DumpTable(db_.Directory(), "t", {"K"}), (std::vector<TextRow>{{"101"}, {"112"}, {"113"}}));
  // A SELECT in the WHERE clause runs before the rows change.
  db_.Query("UPDATE t SET N = 0 WHERE K IN (SELECT K + 110 FROM u)");
  EXPECT_EQ(db_.LastRowsAffected(), 2);
  EXPECT_EQ(DumpTable(db_.Directory(), "t", {"N"}), (std::vector<TextRow>{{"10"}, {"0"}, {"0"}}));
}

TEST_F(DmlTest, UpdateTakesValuesFromTheMatchingRowOfAnotherTable) {
  db_.Query("UPDATE t SET N = u.X FROM t, u WHERE t.K = u.K AND u.X <> 201");
  EXPECT_EQ(db_.LastRowsAffected(), 2);
  EXPECT_EQ(DumpTable(db_.Directory(), "t", {"N"}), (std::vector<TextRow>{{"10"}, {"200"}, {"300"}}));
  db_.Query("UPDATE t a SET N = 0 FROM t a JOIN u b ON a.K = b.K WHERE b.X = 300");
  EXPECT_EQ(DumpTable(db_.Directory(), "t", {"N"}), (std::vector<TextRow>{{"10"}, {"200"}, {"0"}}));
}

TEST_F(DmlTest, EachTargetRecordChangesOnceHoweverManyJoinedRowsMatchIt) {
  // K = 2 has two rows in u.
  db_.Query("UPDATE t SET N = N + 1 FROM t JOIN u ON t.K = u.K");
  EXPECT_EQ(db_.LastRowsAffected(), 2);
  EXPECT_EQ(DumpTable(db_.Directory(), "t", {"N"}), (std::vector<TextRow>{{"10"}, {"21"}, {"31"}}));
  db_.Query("UPDATE t SET N = N + 1 FROM t, u WHERE t.K = u.K NOJOINOPTIMIZE");
  EXPECT_EQ(db_.LastRowsAffected(), 2);
  db_.Query("DELETE FROM t, u WHERE t.K = u.K");
  EXPECT_EQ(db_.LastRowsAffected(), 2);
  EXPECT_EQ(Rows("t"), (std::vector<TextRow>{{"1", "one", "10", "NULL"}}));
  EXPECT_EQ(Rows("u").size(), 3u);
}

TEST_F(DmlTest, AValueThatDoesNotFitItsColumnRaises) {
  db_.CreateTable("small", {{"S", dtSmallInt}, {"W", dtWord}});
  db_.Insert("small", {{std::int64_t{32000}, std::int64_t{65000}}});
  EXPECT_EQ(Message("UPDATE small SET S = S + 1000"), "Value S + 1000 does not fit column S in UPDATE statement");
  EXPECT_EQ(Message("UPDATE small SET W = W - 65001"), "Value W - 65001 does not fit column W in UPDATE statement");
  EXPECT_EQ(Message("INSERT INTO small (S) VALUES (40000)"), "Value 40000 does not fit column S in INSERT statement");
  EXPECT_EQ(Rows("small"), (std::vector<TextRow>{{"32000", "65000"}}));
}

TEST_F(DmlTest, AValueThatCannotBeConvertedAtExecutionRaises) {
  // Values that are not constants are converted only when they are stored.
  EXPECT_EQ(Message("UPDATE t SET N = NAME WHERE K = 2"),
            "Type mismatch between column N and constant value NAME in UPDATE statement");
  db_.CreateTable("nums", {{"N", dtInteger}});
  EXPECT_EQ(Message("INSERT INTO nums SELECT NAME FROM t"),
            "Type mismatch between column N and constant value NAME in INSERT statement");
  EXPECT_TRUE(Rows("nums").empty());
  EXPECT_EQ(DumpTable(db_.Directory(), "t", {"N"}), (std::vector<TextRow>{{"10"}, {"20"}, {"30"}}));
  // Text that reads as a number converts.
  db_.Query("UPDATE t SET NAME = '42' WHERE K = 2");
  db_.Query("UPDATE t SET N = NAME WHERE K = 2");
  EXPECT_EQ(DumpTable(db_.Directory(), "t", {"N"}), (std::vector<TextRow>{{"10"}, {"42"}, {"30"}}));
}

// --- DELETE ----------------------------------------------------------------------------------------

TEST_F(DmlTest, DeleteRemovesTheSelectedRows) {
  db_.Query("DELETE FROM t WHERE N > 15 AND NAME <> 'three'");
  EXPECT_EQ(db_.LastRowsAffected(), 1);
  EXPECT_EQ(DumpTable(db_.Directory(), "t", {"K"}), (std::vector<TextRow>{{"1"}, {"3"}}));
  db_.Query("DELETE FROM t x LEFT JOIN u ON x.K = u.K WHERE u.K IS NULL");
  EXPECT_EQ(db_.LastRowsAffected(), 1);
  EXPECT_EQ(DumpTable(db_.Directory(), "t", {"K"}), (std::vector<TextRow>{{"3"}}));
  db_.Query("DELETE FROM t");
  EXPECT_EQ(db_.LastRowsAffected(), 1);
  EXPECT_TRUE(Rows("t").empty());
  db_.Query("DELETE FROM t");
  EXPECT_EQ(db_.LastRowsAffected(), 0);
}

}  // namespace
}  // namespace tarn::sql_testing
