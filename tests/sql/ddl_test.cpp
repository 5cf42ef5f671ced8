// CREATE TABLE, CREATE INDEX, DROP TABLE and DROP INDEX run as SQL: every
// message of their grammar and of their name checks, the tables and indexes
// they make (read back through cursors), the files they remove, the column
// and key-field limits refused before anything exists, and SELECT over a table
// that CREATE TABLE made.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "core/errors.h"
#include "platform/code_page.h"
#include "sql_fixture.h"
#include "storage/formats/index_definition.h"
#include "storage/tables/data_table.h"

namespace tarn::sql_testing {
namespace {

struct Outcome {
  bool Raised = false;
  TarnErrorCode Code = 0;
  std::string Message;
};

Outcome TryQuery(SqlDatabase& db, const std::string& text) {
  Outcome outcome;
  try {
    db.Query(text);
  } catch (const ETarnEngineError& error) {
    outcome.Raised = true;
    outcome.Code = error.ErrorCode();
    outcome.Message = error.ErrorText();
  }
  return outcome;
}

// Files of the database directory whose name (before the extension) is
// name, without regard to case.
std::vector<std::string> TableFiles(const SqlDatabase& db, const std::string& name) {
  std::vector<std::string> files;
  for (const auto& entry : std::filesystem::directory_iterator(db.Path())) {
    if (AnsiSameText(entry.path().stem().string(), name)) files.push_back(entry.path().filename().string());
  }
  return files;
}

// Whether the table has a file with that extension (".DAT", ".IDX", ".BLB").
bool HasTableFile(const SqlDatabase& db, const std::string& name, const std::string& extension) {
  for (const std::string& file : TableFiles(db, name)) {
    if (AnsiSameText(std::filesystem::path(file).extension().string(), extension)) return true;
  }
  return false;
}

// An open cursor on a table, with access to its stored index definitions.
class OpenTable {
 public:
  OpenTable(SqlDatabase& db, const std::string& name) : cursor_(db.Directory()) {
    cursor_.SetTableName(name);
    cursor_.OpenCursor();
  }
  ~OpenTable() { cursor_.CloseCursor(); }
  TDataCursor& Cursor() { return cursor_; }
  TFieldDefinition Field(std::uint16_t n) const {
    TFieldDefinition def;
    cursor_.GetPhysicalFieldDefinition(n, def);
    return def;
  }
  TIndexDefinition Index(std::size_t slot) {
    TIndexDefinition def;
    cursor_.Table()->IndexFile().GetIndexDefinition(slot, def);
    return def;
  }
  std::vector<std::uint16_t> KeyFields(std::size_t slot) {
    const TIndexDefinition def = Index(slot);
    return {def.KeyFields.begin(), def.KeyFields.begin() + def.KeyFieldCount};
  }

 private:
  TDataCursor cursor_;
};

class DdlStatements : public ::testing::Test {
 protected:
  void SetUp() override {
    db_.CreateTable("t", {{"a", dtInteger}, {"b", dtString, 10}});
    db_.Insert("t", {{std::int64_t{1}, std::string("x")}, {std::int64_t{2}, std::string("y")}});
  }
  SqlDatabase db_;
};

struct MessageCase {
  std::string Text;
  std::string Message;
};

const MessageCase kMessageCases[] = {
    // CREATE TABLE: head and column list.
    {"CREATE TABLE IF x n (a INTEGER)", "NOT keyword expected after IF keyword, instead found 'x'"},
    {"CREATE TABLE IF NOT x n (a INTEGER)", "EXISTS keyword expected after NOT keyword, instead found 'x'"},
    {"CREATE TABLE (a INTEGER)", "Table name expected after CREATE TABLE keywords, instead found '('"},
    {"CREATE TABLE MEMORY (a INTEGER)", "Table name expected, instead found '('"},
    {"CREATE TABLE n a INTEGER", "Left parentheses expected before list of table columns, instead found 'a'"},
    {"CREATE TABLE n (a INTEGER,, b INTEGER)", "Table column name is empty"},
    {"CREATE TABLE n (a)", "SQL data type keyword expected, instead found ')' in table column"},
    {"CREATE TABLE n (a STRING)", "SQL data type keyword expected, instead found 'STRING' in table column"},
    {"CREATE TABLE n (a CHAR(300))",
     "Length argument must be an integer greater than 0 and less than or equal to 250 in table column"},
    {"CREATE TABLE n (a INTEGER NOT 5)", "NULL keyword expected after NOT keyword, instead found '5'"},
    {"CREATE TABLE n (a CHAR(5) CHARCASE MIXED)",
     "UPPER, LOWER, or NOCHANGE keyword expected after CHARCASE keyword, instead found 'MIXED'"},
    // A value is one token: "-" is the default and "1" is left over.
    {"CREATE TABLE n (a INTEGER DEFAULT -1)",
     "Right parentheses expected after CREATE TABLE statement, instead found '1'"},
    // Options come in their order only.
    {"CREATE TABLE n (a INTEGER DEFAULT '1' NOT NULL)",
     "Right parentheses expected after CREATE TABLE statement, instead found 'NOT'"},
    // PRIMARY KEY clause.
    {"CREATE TABLE n (a INTEGER, PRIMARY (a))", "KEY keyword expected after PRIMARY keyword, instead found '('"},
    {"CREATE TABLE n (a INTEGER, UNIQUE KEY (a))", "PRIMARY keyword expected, instead found 'KEY'"},
    {"CREATE TABLE n (a INTEGER, PRIMARY KEY a)", "Left parentheses expected after KEY keyword, instead found 'a'"},
    {"CREATE TABLE n (a INTEGER, PRIMARY KEY (a b))",
     "Right parentheses expected after PRIMARY KEY clause, instead found 'b'"},
    {"CREATE TABLE n (a INTEGER, PRIMARY KEY ())", "Index column name is empty"},
    {"CREATE TABLE n (a INTEGER, PRIMARY KEY (a) COMPRESS ALL)",
     "FULL, DUPBYTE, TRAILBYTE, or NONE keyword expected after COMPRESS keyword, instead found 'ALL'"},
    {"CREATE TABLE n (a CHAR(5), PRIMARY KEY (a), TEXT INDEX (a))",
     "Right parentheses expected after CREATE TABLE statement, instead found ','"},
    // Table options.
    {"CREATE TABLE n (a CHAR(9) TEXT (a))", "INDEX keyword expected after TEXT keyword, instead found '('"},
    {"CREATE TABLE n (a CHAR(9) TEXT INDEX a)", "Left parentheses expected after TEXTINDEX keyword, instead found 'a'"},
    {"CREATE TABLE n (a CHAR(9) TEXT INDEX (a b))",
     "Right parentheses expected after TEXT INDEX clause, instead found 'b'"},
    {"CREATE TABLE n (a CHAR(9) TEXT INDEX (a) STOP x)",
     "WORDS keyword expected after STOP keyword, instead found 'x'"},
    {"CREATE TABLE n (a CHAR(9) TEXT INDEX (a) SPACE x)",
     "CHARS keyword expected after SPACE keyword, instead found 'x'"},
    {"CREATE TABLE n (a CHAR(9) TEXT INDEX (a) INCLUDE x)",
     "CHARS keyword expected after INCLUDE keyword, instead found 'x'"},
    {"CREATE TABLE n (a CHAR(9) TEXT INDEX (a) SPACE CHARS)", "Character set is empty"},
    {"CREATE TABLE n (a CHAR(9) TEXT INDEX (a) SPACE CHARS 5)", "Character set must be a string expression"},
    {"CREATE TABLE n (a INTEGER BLOB SIZE 512)", "BLOCK keyword expected after BLOB keyword, instead found 'SIZE'"},
    {"CREATE TABLE n (a INTEGER BLOB BLOCK 512)", "SIZE keyword expected after BLOCK keyword, instead found '512'"},
    {"CREATE TABLE n (a INTEGER BLOB BLOCK SIZE big)",
     "Integer value expected after SIZE keyword, instead found 'big'"},
    {"CREATE TABLE n (a INTEGER BLOB BLOCK SIZE 70000)",
     "Integer value expected after SIZE keyword, instead found '70000'"},
    {"CREATE TABLE n (a INTEGER LANGUAGE Klingon)",
     "Invalid language constant 'Klingon' specified after LANGUAGE keyword"},
    {"CREATE TABLE n (a INTEGER LANGUAGE 'German (Standard)' SORT Phone)",
     "Invalid sort constant 'Phone' specified after SORT keyword"},
    {"CREATE TABLE n (a INTEGER ENCRYPTED 'pw')", "WITH keyword expected after ENCRYPTED keyword, instead found 'pw'"},
    {"CREATE TABLE n (a INTEGER USER VERSION 1)", "MAJOR keyword expected after USER keyword, instead found 'VERSION'"},
    {"CREATE TABLE n (a INTEGER USER MAJOR 1)", "VERSION keyword expected after MAJOR keyword, instead found '1'"},
    {"CREATE TABLE n (a INTEGER USER MAJOR VERSION x)",
     "Integer value expected after VERSION keyword, instead found 'x'"},
    {"CREATE TABLE n (a INTEGER USER MAJOR VERSION 1 USER MAJOR VERSION 2)",
     "MINOR keyword expected after USER keyword, instead found 'MAJOR'"},
    {"CREATE TABLE n (a INTEGER USER MINOR 2)", "VERSION keyword expected after MINOR keyword, instead found '2'"},
    {"CREATE TABLE n (a INTEGER USER MINOR VERSION '2')",
     "Integer value expected after VERSION keyword, instead found '2'"},
    {"CREATE TABLE n (a INTEGER LAST 5)", "AUTOINC keyword expected after LAST keyword, instead found '5'"},
    {"CREATE TABLE n (a INTEGER LAST AUTOINC)", "Next auto-increment number is empty"},
    {"CREATE TABLE n (a INTEGER) x", "End of CREATE TABLE statement expected, instead found 'x'"},
    // Names checked when the statement runs.
    {"CREATE TABLE n (a INTEGER, PRIMARY KEY (x))", "Invalid field name 'x' specified for index ''"},
    {"CREATE TABLE n (a CHAR(5) TEXT INDEX (a, x))", "Invalid field name 'x' specified for text index"},
    // CREATE INDEX.
    {"CREATE IF EXISTS INDEX ix ON t (a)", "NOT keyword expected after IF keyword, instead found 'EXISTS'"},
    {"CREATE IF NOT INDEX ix ON t (a)", "EXISTS keyword expected after NOT keyword, instead found 'INDEX'"},
    {"CREATE UNIQUE ix ON t (a)", "INDEX keyword expected, instead found 'ix'"},
    {"CREATE INDEX (a)", "Index name expected after INDEX keyword, instead found '('"},
    {"CREATE INDEX ix t (a)", "ON keyword expected after index name, instead found 't'"},
    {"CREATE INDEX ix ON (a)", "Table name expected after ON keyword, instead found '('"},
    {"CREATE INDEX ix ON MEMORY (a)", "Table name expected, instead found '('"},
    {"CREATE INDEX ix ON t a", "Left parentheses expected after KEY keyword, instead found 'a'"},
    {"CREATE INDEX ix ON t (a", "Right parentheses expected after PRIMARY KEY clause, instead found ''"},
    {"CREATE INDEX ix ON t (a) COMPRESS",
     "FULL, DUPBYTE, TRAILBYTE, or NONE keyword expected after COMPRESS keyword, "
     "instead found ''"},
    {"CREATE INDEX ix ON t (a) DESC", "End of CREATE INDEX statement expected, instead found 'DESC'"},
    {"CREATE INDEX ix ON t (zz)", "Invalid field name 'zz' specified for index 'ix'"},
    // DROP TABLE.
    {"DROP TABLE IF t", "EXISTS keyword expected after IF keyword, instead found 't'"},
    {"DROP TABLE", "Table name expected after TABLE keyword, instead found ''"},
    {"DROP TABLE MEMORY 5", "Table name expected, instead found '5'"},
    {"DROP TABLE t u", "End of DROP TABLE statement expected, instead found 'u'"},
    // DROP INDEX.
    {"DROP INDEX IF t.ix", "EXISTS keyword expected after IF keyword, instead found 't'"},
    {"DROP INDEX 5", "Table name expected after INDEX keyword, instead found '5'"},
    {"DROP INDEX MEMORY (t.ix)", "Table name expected, instead found '('"},
    {"DROP INDEX ix", "Table name expected before index name in DROP INDEX statement"},
    {"DROP INDEX 'ix'", "Table name expected before index name in DROP INDEX statement"},
    {"DROP INDEX t.ix x", "End of DROP INDEX statement expected, instead found 'x'"},
};

TEST_F(DdlStatements, DispatchChoosesTheKind) {
  struct KindCase {
    std::string Text;
    TStatementKind Kind;
  };
  const KindCase cases[] = {
      {"CREATE TABLE n (a INTEGER)", skCreateTable},
      {"create table n (a integer);", skCreateTable},
      {"CREATE INDEX i ON t (a)", skCreateIndex},
      {"CREATE UNIQUE INDEX i ON t (a)", skCreateIndex},
      {"CREATE NOCASE INDEX i ON t (a)", skCreateIndex},
      {"CREATE IF NOT EXISTS INDEX i ON t (a)", skCreateIndex},
      {"CREATE ASC INDEX i ON t (a)", skCreateIndex},
      {"CREATE ASCENDING INDEX i ON t (a)", skCreateIndex},
      {"CREATE DESC INDEX i ON t (a)", skCreateIndex},
      {"CREATE DESCENDING INDEX i ON t (a)", skCreateIndex},
      {"DROP TABLE t", skDropTable},
      {"Drop Index t.i", skDropIndex},
  };
  for (const KindCase& c : cases) {
    TQueryStatement statement(db_.Directory());
    EXPECT_NO_THROW(statement.ParseStatement(c.Text)) << c.Text;
    EXPECT_EQ(statement.MasterQuery().Kind, c.Kind) << c.Text;
  }
}

TEST_F(DdlStatements, EveryMessageIsExact) {
  for (const MessageCase& c : kMessageCases) {
    const Outcome outcome = TryQuery(db_, c.Text);
    EXPECT_TRUE(outcome.Raised) << c.Text;
    EXPECT_EQ(outcome.Code, TARN_SQLPARSE) << c.Text;
    EXPECT_EQ(outcome.Message, c.Message) << c.Text;
  }
  // None of them made a table.
  EXPECT_TRUE(TableFiles(db_, "n").empty());
  OpenTable t(db_, "t");
  EXPECT_EQ(t.Cursor().GetIndexCount(), 0);
  EXPECT_EQ(t.Cursor().GetRecordCount(), 2);
}

// Syntax is refused while the statement is prepared, before anything runs;
// a name that matches no column is found when it runs.
TEST_F(DdlStatements, SyntaxFailsInPreparationNamesInExecution) {
  {
    TQueryStatement statement(db_.Directory());
    EXPECT_THROW(statement.PrepareStatement("CREATE TABLE n (a INTEGER DEFAULT -1)"), ETarnEngineError);
  }
  TQueryStatement statement(db_.Directory());
  statement.PrepareStatement("CREATE TABLE n (a INTEGER, PRIMARY KEY (x))");
  TDataCursor* result = nullptr;
  EXPECT_THROW(statement.ExecuteStatement(result), ETarnEngineError);
  EXPECT_TRUE(TableFiles(db_, "n").empty());
}

struct TypeCase {
  std::string Sql;
  std::uint8_t Type;
  std::uint8_t SubType;
  std::uint8_t Size;
  std::uint8_t Decimals;
};

TEST_F(DdlStatements, CreateTableOfEveryColumnType) {
  const TypeCase cases[] = {
      {"SMALLINT", dtSmallInt, dstNone, 0, 0},
      {"WORD", dtWord, dstNone, 0, 0},
      {"INTEGER", dtInteger, dstNone, 0, 0},
      {"INT", dtInteger, dstNone, 0, 0},
      {"LARGEINT", dtLargeInt, dstNone, 0, 0},
      {"AUTOINC", dtInteger, dstAutoInc, 0, 0},
      {"DECIMAL(10, 2)", dtBCD, dstNone, 0, 2},
      {"DECIMAL", dtBCD, dstNone, 0, 0},
      {"NUMERIC(8, 3)", dtFloat, dstNone, 0, 0},
      {"FLOAT", dtFloat, dstNone, 0, 0},
      {"MONEY", dtFloat, dstMoney, 0, 0},
      {"CHARACTER(5)", dtString, dstNone, 5, 0},
      {"CHAR(250)", dtString, dstNone, 250, 0},
      {"VARCHAR(9)", dtString, dstNone, 9, 0},
      {"DATE", dtDate, dstNone, 0, 0},
      {"TIME", dtTime, dstNone, 0, 0},
      {"TIMESTAMP", dtTimeStamp, dstNone, 0, 0},
      {"BOOLEAN", dtBoolean, dstNone, 0, 0},
      {"BYTES(12)", dtBytes, dstNone, 12, 0},
      {"BYTES", dtBytes, dstNone, 10, 0},
      {"BLOB(0, 1)", dtBlob, dstMemo, 0, 0},
      {"BLOB(0, 2)", dtBlob, dstBinary, 0, 0},
      {"BLOB(0, 3)", dtBlob, dstFormattedMemo, 0, 0},
      {"BLOB(0, 5)", dtBlob, dstGraphic, 0, 0},
      {"BLOB(0, 7)", dtBlob, dstTypedBinary, 0, 0},
  };
  std::string sql = "CREATE TABLE every (";
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    if (i > 0) sql += ", ";
    sql += "c" + std::to_string(i + 1) + " " + cases[i].Sql;
  }
  sql += ")";
  db_.Query(sql);
  EXPECT_EQ(db_.LastRowsAffected(), 0);

  OpenTable table(db_, "every");
  ASSERT_EQ(table.Cursor().GetPhysicalFieldCount(), std::size(cases));
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    const TFieldDefinition def = table.Field(static_cast<std::uint16_t>(i + 1));
    SCOPED_TRACE(cases[i].Sql);
    EXPECT_EQ(def.FieldNumber, i + 1);
    EXPECT_EQ(def.Name.Str(), "c" + std::to_string(i + 1));
    EXPECT_EQ(def.DataType, cases[i].Type);
    EXPECT_EQ(def.SubType, cases[i].SubType);
    EXPECT_EQ(def.Size, cases[i].Size);
    EXPECT_EQ(def.Decimals, cases[i].Decimals);
    EXPECT_EQ(def.Required, 0);
  }
  // No primary key clause: no primary index, no secondary indexes, no text index.
  EXPECT_FALSE(table.Cursor().Table()->HasPrimaryIndex());
  EXPECT_EQ(table.Cursor().GetIndexCount(), 0);
  EXPECT_EQ(table.Index(kTextIndex).KeyFieldCount, 0);
  // A table with BLOB columns has its BLOB file.
  EXPECT_TRUE(HasTableFile(db_, "every", ".DAT"));
  EXPECT_TRUE(HasTableFile(db_, "every", ".IDX"));
  EXPECT_TRUE(HasTableFile(db_, "every", ".BLB"));
}

TEST_F(DdlStatements, ColumnOptionsAndTableOptionsAreStored) {
  db_.Query(
      "CREATE TABLE \"Opt\" (\"first name\" CHAR(20) DESCRIPTION 'Given name' NOT NULL DEFAULT 'anon' "
      "MIN 'a' MAX 'zzz' CHARCASE UPPER, n.qty INTEGER NOT NULL MINIMUM '0' MAXIMUM '99', "
      "low CHAR(5) CHARCASE LOWER, plain SMALLINT "
      // The first DESCRIPTION after the last column is the column's own.
      "DESCRIPTION 'last column' DESCRIPTION 'Options' BLOB BLOCK SIZE 1024 USER MAJOR VERSION 3 USER MINOR VERSION 7 "
      "LAST AUTOINC -5);");
  OpenTable table(db_, "Opt");
  const TFieldDefinition name = table.Field(1);
  EXPECT_EQ(name.Name.Str(), "first name");
  EXPECT_EQ(name.Description.Str(), "Given name");
  EXPECT_EQ(name.Required, 1);
  EXPECT_EQ(name.DefaultValue.Str(), "anon");
  EXPECT_EQ(name.MinValue.Str(), "a");
  EXPECT_EQ(name.MaxValue.Str(), "zzz");
  EXPECT_EQ(name.CharCase, fcUpperCase);
  // A qualified name names the column by its last part.
  const TFieldDefinition qty = table.Field(2);
  EXPECT_EQ(qty.Name.Str(), "qty");
  EXPECT_EQ(qty.Required, 1);
  EXPECT_EQ(qty.MinValue.Str(), "0");
  EXPECT_EQ(qty.MaxValue.Str(), "99");
  EXPECT_EQ(table.Field(3).CharCase, fcLowerCase);
  EXPECT_EQ(table.Field(4).DataType, dtSmallInt);
  EXPECT_EQ(table.Field(4).Description.Str(), "last column");
  EXPECT_EQ(table.Cursor().GetDescription(), "Options");

  // The default (upper-cased by CHARCASE) takes effect on new records.
  std::vector<std::uint8_t> record(table.Cursor().GetRecordBufferSize());
  table.Cursor().InitRecord(record.data());
  std::vector<std::uint8_t> value(64, 0);
  bool isNull = true;
  table.Cursor().GetField(1, record.data(), value.data(), isNull);
  EXPECT_FALSE(isNull);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(value.data())), "ANON");
}

TEST_F(DdlStatements, OptionsAreParsedIntoTheQuery) {
  TQueryStatement statement(db_.Directory());
  statement.ParseStatement(
      "CREATE TABLE IF NOT EXISTS MEMORY m (a CHAR(9), b INTEGER "
      "UNIQUE DESC NOCASE PRIMARY KEY (b, a) COMPRESS DUPBYTE "
      "TEXT INDEX (a) STOP WORDS 'the  a an' SPACE CHARS ' ' + #9 + ',' INCLUDE CHARS '-' "
      "DESCRIPTION d BLOB BLOCK SIZE 2048 LANGUAGE 'German (Standard)' SORT 'SRT_GERMAN_PHONE_BOOK' "
      "ENCRYPTED WITH 'secret' USER MINOR VERSION 4 LAST AUTOINC - 12)");
  const TDataQuery& q = statement.MasterQuery();
  EXPECT_EQ(q.Kind, skCreateTable);
  EXPECT_TRUE(q.IfNotExists);
  EXPECT_TRUE(q.DefinitionInMemory);
  EXPECT_EQ(q.DefinitionTableName, "m");
  ASSERT_EQ(q.CreateFields.size(), 2u);
  EXPECT_EQ(q.CreateFields[0].ColumnText, "a CHAR(9)");
  ASSERT_EQ(q.CreateIndexes.size(), 1u);
  const TDataQuery::TCreateIndex& key = q.CreateIndexes[0];
  EXPECT_TRUE(key.Unique);
  EXPECT_TRUE(key.Descending);
  EXPECT_TRUE(key.CaseInsensitive);
  EXPECT_EQ(key.Compression, icDuplicateByte);
  EXPECT_EQ(key.Columns, (std::vector<std::string>{"b", "a"}));
  EXPECT_TRUE(q.HasTextIndex);
  EXPECT_EQ(q.TextIndex.Columns, std::vector<std::string>{"a"});
  EXPECT_TRUE(q.StopWordsGiven);
  EXPECT_EQ(q.StopWords, (std::vector<std::string>{"the", "a", "an"}));
  EXPECT_EQ(q.SpaceChars.count(), 3u);
  EXPECT_TRUE(q.SpaceChars.test(' ') && q.SpaceChars.test('\t') && q.SpaceChars.test(','));
  EXPECT_EQ(q.IncludeChars.count(), 1u);
  EXPECT_TRUE(q.IncludeChars.test('-'));
  EXPECT_EQ(q.TableDescription, "d");
  EXPECT_EQ(q.BlobBlockSize, 2048);
  EXPECT_EQ(q.LanguageID, 0x0407);
  EXPECT_NE(q.SortID, 0);
  EXPECT_TRUE(q.Encrypted);
  EXPECT_EQ(q.Password, "secret");
  EXPECT_EQ(q.UserMajorVersion, 1);
  EXPECT_EQ(q.UserMinorVersion, 4);
  EXPECT_EQ(q.LastAutoIncValue, -12);

  // Defaults when nothing is given; an empty password means no encryption.
  TQueryStatement plain(db_.Directory());
  plain.ParseStatement("CREATE TABLE p (a INTEGER ENCRYPTED WITH '' LAST AUTOINC a)");
  const TDataQuery& p = plain.MasterQuery();
  EXPECT_FALSE(p.IfNotExists);
  EXPECT_FALSE(p.Encrypted);
  EXPECT_EQ(p.BlobBlockSize, 512);
  EXPECT_EQ(p.UserMajorVersion, 1);
  EXPECT_EQ(p.LastAutoIncValue, 0);  // not an integer constant
  EXPECT_TRUE(p.CreateIndexes.empty());
  EXPECT_FALSE(p.HasTextIndex);
}

TEST_F(DdlStatements, PrimaryKeyWithOrWithoutTheCommaBeforeIt) {
  db_.Query("CREATE TABLE k1 (a INTEGER, b CHAR(10) NOT NULL DEFAULT 'x', PRIMARY KEY (a))");
  db_.Query("CREATE TABLE k2 (a INTEGER, b CHAR(10) PRIMARY KEY (B, A))");
  db_.Query("CREATE TABLE k3 (a INTEGER, b CHAR(10), CONSTRAINT pk DESC NOCASE PRIMARY KEY (b) COMPRESS FULL)");
  {
    OpenTable k1(db_, "k1");
    EXPECT_TRUE(k1.Cursor().Table()->HasPrimaryIndex());
    EXPECT_EQ(k1.KeyFields(0), std::vector<std::uint16_t>{1});
    EXPECT_EQ(k1.Index(0).Unique, 1);
    EXPECT_EQ(k1.Index(0).Name.Str(), "");
  }
  {
    // Index columns resolve without regard to case, in the order written.
    OpenTable k2(db_, "k2");
    EXPECT_EQ(k2.KeyFields(0), (std::vector<std::uint16_t>{2, 1}));
  }
  OpenTable k3(db_, "k3");
  const TIndexDefinition key = k3.Index(0);
  EXPECT_EQ(key.Descending, 1);
  EXPECT_EQ(key.CaseInsensitive, 1);
  EXPECT_EQ(key.Compression, icFull);
  EXPECT_EQ(key.KeyFieldDescending[0], 0);

  // The primary key refuses a duplicate record.
  db_.Insert("k1", {{std::int64_t{1}, std::string("p")}});
  EXPECT_THROW(db_.Insert("k1", {{std::int64_t{1}, std::string("q")}}), ETarnEngineError);
}

TEST_F(DdlStatements, TextIndexIsCreated) {
  db_.Query(
      "CREATE TABLE doc (id INTEGER, body CHAR(100), notes BLOB(0, 1) TEXT INDEX (notes, body) "
      "STOP WORDS 'and or' SPACE CHARS ' ' + ';')");
  OpenTable doc(db_, "doc");
  const TIndexDefinition text = doc.Index(kTextIndex);
  EXPECT_EQ(text.Name.Str(), "Sys Text");
  EXPECT_EQ(text.Compression, icFull);
  EXPECT_EQ(text.Unique, 0);
  EXPECT_EQ(text.Descending, 0);
  EXPECT_EQ(text.CaseInsensitive, 0);
  EXPECT_EQ(doc.KeyFields(kTextIndex), (std::vector<std::uint16_t>{3, 2}));
  EXPECT_EQ(doc.Cursor().GetIndexCount(), 0);
}

TEST_F(DdlStatements, TextIndexOverANumberIsRefusedByTheEngine) {
  const Outcome outcome = TryQuery(db_, "CREATE TABLE doc (id INTEGER TEXT INDEX (id))");
  EXPECT_TRUE(outcome.Raised);
  EXPECT_EQ(outcome.Code, TARN_SEARCHCOLREQD);
  EXPECT_TRUE(TableFiles(db_, "doc").empty());
}

TEST_F(DdlStatements, IfNotExistsLeavesAnExistingTableAlone) {
  db_.Query("CREATE TABLE IF NOT EXISTS t (z FLOAT, PRIMARY KEY (z))");
  {
    OpenTable t(db_, "t");
    EXPECT_EQ(t.Cursor().GetPhysicalFieldCount(), 2);
    EXPECT_EQ(t.Field(1).Name.Str(), "a");
    EXPECT_FALSE(t.Cursor().Table()->HasPrimaryIndex());
    EXPECT_EQ(t.Cursor().GetRecordCount(), 2);
  }
  const Outcome again = TryQuery(db_, "CREATE TABLE t (z FLOAT)");
  EXPECT_TRUE(again.Raised);
  EXPECT_EQ(again.Code, TARN_TABLEEXISTS);
  // A new table is made with IF NOT EXISTS all the same.
  db_.Query("CREATE TABLE IF NOT EXISTS fresh (z FLOAT)");
  EXPECT_FALSE(TableFiles(db_, "fresh").empty());
}

TEST_F(DdlStatements, EngineChecksOfTheStructureApply) {
  struct Case {
    std::string Sql;
    TarnErrorCode Code;
  };
  const Case cases[] = {
      {"CREATE TABLE n (a INTEGER, A CHAR(3))", TARN_INVALIDFIELDNAME},
      {"CREATE TABLE n (a INTEGER, b INTEGER BLOB BLOCK SIZE 32)", TARN_BLOBLIMIT},
      {"CREATE TABLE n (a INTEGER ENCRYPTED WITH 'muchtoolongapassword')", TARN_INVALIDPASSWORD},
      {"CREATE TABLE n (m BLOB(0, 1), PRIMARY KEY (m))", TARN_SEARCHCOLREQD},
      {"CREATE TABLE n (a INTEGER DEFAULT 'abc')", TARN_INVALIDVCHKSTRUCT},
      // A number names no column.
      {"CREATE TABLE n (5 INTEGER)", TARN_INVALIDFIELDNAME},
  };
  for (const Case& c : cases) {
    const Outcome outcome = TryQuery(db_, c.Sql);
    EXPECT_TRUE(outcome.Raised) << c.Sql;
    EXPECT_EQ(outcome.Code, c.Code) << c.Sql << ": " << outcome.Message;
    EXPECT_TRUE(TableFiles(db_, "n").empty()) << c.Sql;
  }
}

TEST_F(DdlStatements, ColumnAndKeyFieldLimitsAreRefusedBeforeAnyFileExists) {
  auto columns = [](int count) {
    std::string sql = "CREATE TABLE wide (";
    for (int i = 1; i <= count; ++i) sql += (i > 1 ? ", c" : "c") + std::to_string(i) + " SMALLINT";
    return sql;
  };
  const Outcome tooWide = TryQuery(db_, columns(1025) + ")");
  EXPECT_EQ(tooWide.Code, TARN_SQLPARSE);
  EXPECT_EQ(tooWide.Message, "Maximum number of table columns (1024) exceeded");
  EXPECT_TRUE(TableFiles(db_, "wide").empty());

  auto keyed = [&](int keyCount) {
    std::string sql = columns(20) + ", PRIMARY KEY (";
    for (int i = 1; i <= keyCount; ++i) sql += (i > 1 ? ", c" : "c") + std::to_string(i);
    return sql + "))";
  };
  const Outcome tooManyKeys = TryQuery(db_, keyed(17));
  EXPECT_EQ(tooManyKeys.Code, TARN_SQLPARSE);
  EXPECT_EQ(tooManyKeys.Message, "Maximum number of index columns (16) exceeded");
  EXPECT_TRUE(TableFiles(db_, "wide").empty());

  std::string index = "CREATE INDEX ix ON t (a";
  for (int i = 0; i < 16; ++i) index += ", b";
  const Outcome indexTooLong = TryQuery(db_, index + ")");
  EXPECT_EQ(indexTooLong.Message, "Maximum number of index columns (16) exceeded");

  // At the limits the statements are accepted.
  db_.Query(keyed(16));
  OpenTable wide(db_, "wide");
  EXPECT_EQ(wide.Index(0).KeyFieldCount, 16);
}

TEST_F(DdlStatements, ATableOf1024ColumnsIsCreated) {
  std::string sql = "CREATE TABLE widest (";
  for (int i = 1; i <= 1024; ++i) sql += (i > 1 ? ", c" : "c") + std::to_string(i) + " BOOLEAN";
  db_.Query(sql + ")");
  OpenTable widest(db_, "widest");
  EXPECT_EQ(widest.Cursor().GetPhysicalFieldCount(), 1024);
  EXPECT_EQ(widest.Field(1024).Name.Str(), "c1024");
}

TEST_F(DdlStatements, DropTableRemovesItsFiles) {
  db_.Query("CREATE TABLE gone (a INTEGER, m BLOB(0, 1), PRIMARY KEY (a))");
  EXPECT_TRUE(HasTableFile(db_, "gone", ".DAT"));
  EXPECT_TRUE(HasTableFile(db_, "gone", ".IDX"));
  EXPECT_TRUE(HasTableFile(db_, "gone", ".BLB"));
  db_.Query("DROP TABLE gone;");
  EXPECT_TRUE(TableFiles(db_, "gone").empty());
  EXPECT_FALSE(db_.Directory().DataTableExists("gone", false));

  // A missing table: nothing with IF EXISTS, the engine's error without.
  db_.Query("DROP TABLE IF EXISTS gone");
  const Outcome missing = TryQuery(db_, "DROP TABLE gone");
  EXPECT_TRUE(missing.Raised);
  EXPECT_NE(missing.Code, TARN_SQLPARSE);

  // A name written with ".DAT" names the same table.
  db_.Query("DROP TABLE 't.DAT'");
  EXPECT_TRUE(TableFiles(db_, "t").empty());
}

TEST_F(DdlStatements, DropTableOfATableInUseFails) {
  OpenTable t(db_, "t");
  const Outcome outcome = TryQuery(db_, "DROP TABLE t");
  EXPECT_TRUE(outcome.Raised);
  EXPECT_FALSE(TableFiles(db_, "t").empty());
}

TEST_F(DdlStatements, TablesInADirectoryNamedWithTheTable) {
  char pattern[] = "/tmp/tarn-ddl-other-XXXXXX";
  const std::string other = std::string(mkdtemp(pattern)) + "/";
  db_.Query("CREATE TABLE '" + other + "elsewhere.dat' (a INTEGER)");
  EXPECT_TRUE(std::filesystem::exists(other + "elsewhere.DAT") || std::filesystem::exists(other + "elsewhere.dat"));
  EXPECT_TRUE(TableFiles(db_, "elsewhere").empty());
  db_.Query("CREATE INDEX ix ON '" + other + "elsewhere' (a)");
  db_.Query("DROP INDEX '" + other + "elsewhere'.ix");
  db_.Query("DROP TABLE '" + other + "elsewhere'");
  EXPECT_TRUE(std::filesystem::is_empty(other));
  std::filesystem::remove_all(other);
}

TEST_F(DdlStatements, InMemoryTables) {
  db_.Query("CREATE TABLE MEMORY scratch (a INTEGER, PRIMARY KEY (a))");
  EXPECT_TRUE(TableFiles(db_, "scratch").empty());
  TDataDirectory& memory = db_.Session().OpenDataDirectory("Memory", "");
  EXPECT_TRUE(memory.DataTableExists("scratch", true));
  db_.Query("CREATE IF NOT EXISTS INDEX ix ON MEMORY scratch (a)");
  db_.Query("DROP INDEX MEMORY scratch.PRIMARY");
  db_.Query("DROP TABLE MEMORY scratch");
  EXPECT_FALSE(memory.DataTableExists("scratch", true));
  db_.Query("DROP TABLE IF EXISTS MEMORY scratch");
}

TEST_F(DdlStatements, CreateIndexOverExistingRows) {
  db_.Insert("t", {{std::int64_t{0}, std::string("Y")}, {std::int64_t{5}, std::string("x")}});
  db_.Query("CREATE UNIQUE NOCASE INDEX byA ON t (a) COMPRESS FULL");
  db_.Query("CREATE DESC INDEX \"by b\" ON t (b, a)");
  OpenTable t(db_, "t");
  ASSERT_EQ(t.Cursor().GetIndexCount(), 2);
  const TIndexDefinition byA = t.Index(1);
  EXPECT_TRUE(AnsiSameText(byA.Name.Str(), "byA"));
  EXPECT_EQ(byA.Unique, 1);
  EXPECT_EQ(byA.CaseInsensitive, 1);
  EXPECT_EQ(byA.Compression, icFull);
  EXPECT_EQ(t.KeyFields(1), std::vector<std::uint16_t>{1});
  const TIndexDefinition byB = t.Index(2);
  EXPECT_EQ(byB.Descending, 1);
  EXPECT_EQ(byB.Unique, 0);
  EXPECT_EQ(t.KeyFields(2), (std::vector<std::uint16_t>{2, 1}));

  // Every existing row is in the new indexes, in their order.
  auto readColumn = [&](const std::string& index, std::uint16_t field) {
    t.Cursor().SetIndexName(index);
    std::vector<std::string> values;
    for (const TextRow& row : SqlDatabase::ReadRows(t.Cursor())) values.push_back(row[field - 1]);
    return values;
  };
  EXPECT_EQ(readColumn("byA", 1), (std::vector<std::string>{"0", "1", "2", "5"}));
  EXPECT_EQ(readColumn("by b", 2), (std::vector<std::string>{"y", "x", "x", "Y"}));
}

TEST_F(DdlStatements, UniqueIndexOverDuplicatesKeepsEveryRecord) {
  db_.Insert("t", {{std::int64_t{1}, std::string("X")}});
  const Outcome unique = TryQuery(db_, "CREATE UNIQUE INDEX ua ON t (a)");
  EXPECT_TRUE(unique.Raised);
  EXPECT_EQ(unique.Code, TARN_KEYVIOL);
  // Case matters unless NOCASE is given: "x" and "X" differ, so b is unique
  // only with regard to case.
  db_.Query("CREATE UNIQUE INDEX ub ON t (b)");
  const Outcome nocase = TryQuery(db_, "CREATE UNIQUE NOCASE INDEX ubn ON t (b)");
  EXPECT_EQ(nocase.Code, TARN_KEYVIOL);

  OpenTable t(db_, "t");
  EXPECT_EQ(t.Cursor().GetRecordCount(), 3);
  EXPECT_FALSE(t.Cursor().IndexExists("ua"));
  EXPECT_FALSE(t.Cursor().IndexExists("ubn"));
  EXPECT_TRUE(t.Cursor().IndexExists("ub"));
  EXPECT_EQ(t.Cursor().GetIndexCount(), 1);
}

TEST_F(DdlStatements, CreateIndexIfNotExistsAndDuplicateNames) {
  db_.Query("CREATE INDEX ix ON t (a)");
  db_.Query("CREATE IF NOT EXISTS INDEX IX ON t (b)");
  {
    OpenTable t(db_, "t");
    EXPECT_EQ(t.Cursor().GetIndexCount(), 1);
    EXPECT_EQ(t.KeyFields(1), std::vector<std::uint16_t>{1});
  }
  const Outcome again = TryQuery(db_, "CREATE INDEX ix ON t (b)");
  EXPECT_TRUE(again.Raised);
  EXPECT_EQ(again.Code, TARN_INDEXEXISTS);
  const Outcome noTable = TryQuery(db_, "CREATE INDEX ix ON missing (b)");
  EXPECT_TRUE(noTable.Raised);
  EXPECT_NE(noTable.Code, TARN_SQLPARSE);
}

TEST_F(DdlStatements, DropIndex) {
  db_.Query("CREATE TABLE d (a INTEGER, b CHAR(4), PRIMARY KEY (a))");
  db_.Query("CREATE INDEX i1 ON d (b)");
  db_.Query("CREATE INDEX i2 ON d (b, a)");
  db_.Query("DROP INDEX d.i1");
  {
    OpenTable d(db_, "d");
    EXPECT_EQ(d.Cursor().GetIndexCount(), 1);
    EXPECT_TRUE(AnsiSameText(d.Index(1).Name.Str(), "i2"));
    EXPECT_TRUE(d.Cursor().Table()->HasPrimaryIndex());
  }
  // IF EXISTS on a missing index does nothing; without it the engine refuses.
  db_.Query("DROP INDEX IF EXISTS d.i1");
  const Outcome missing = TryQuery(db_, "DROP INDEX d.i1");
  EXPECT_EQ(missing.Code, TARN_INVALIDINDEXNAME);
  // Either part may be quoted; PRIMARY names the primary index.
  db_.Query("DROP INDEX 'd'.\"primary\"");
  {
    OpenTable d(db_, "d");
    EXPECT_FALSE(d.Cursor().Table()->HasPrimaryIndex());
    EXPECT_EQ(d.Cursor().GetIndexCount(), 1);
  }
  db_.Query("DROP INDEX IF EXISTS d.PRIMARY");
  db_.Query("DROP INDEX d.'i2'");
  OpenTable d(db_, "d");
  EXPECT_EQ(d.Cursor().GetIndexCount(), 0);
}

TEST_F(DdlStatements, DropIndexWithoutItsTableIsRefusedAtParsing) {
  db_.Query("CREATE INDEX ix ON t (a)");
  TQueryStatement statement(db_.Directory());
  try {
    statement.ParseStatement("DROP INDEX ix");
    ADD_FAILURE() << "accepted";
  } catch (const ETarnEngineError& error) {
    EXPECT_EQ(error.ErrorCode(), TARN_SQLPARSE);
  }
  OpenTable t(db_, "t");
  EXPECT_TRUE(t.Cursor().IndexExists("ix"));
}

TEST_F(DdlStatements, EncryptedAndLocalisedTables) {
  db_.Query("CREATE TABLE secret (a INTEGER, b CHAR(8) LANGUAGE 'German (Standard)' ENCRYPTED WITH 'pw1')");
  // Without the password the table cannot be opened.
  {
    TDataCursor cursor(db_.Directory());
    cursor.SetTableName("secret");
    EXPECT_THROW(cursor.OpenCursor(), ETarnEngineError);
  }
  db_.Session().AddPassword("pw1");
  OpenTable table(db_, "secret");
  EXPECT_TRUE(table.Cursor().GetEncrypted());
  EXPECT_EQ(table.Cursor().GetLanguageID(), 0x0407);
  EXPECT_EQ(table.Field(2).Name.Str(), "b");
}

// The column list may be empty; the engine makes such a table, and it can
// be dropped again.
TEST_F(DdlStatements, ATableWithoutColumns) {
  db_.Query("CREATE TABLE n ()");
  {
    OpenTable table(db_, "n");
    EXPECT_EQ(table.Cursor().GetPhysicalFieldCount(), 0);
    EXPECT_EQ(table.Cursor().GetRecordCount(), 0);
  }
  db_.Query("DROP TABLE n");
  EXPECT_TRUE(TableFiles(db_, "n").empty());
}

// Every prefix of valid statements, cut at each byte, parses or raises the
// engine's error: none crashes or leaves the statement unusable for the next.
TEST_F(DdlStatements, CutStatementsRaiseCleanly) {
  const std::string statements[] = {
      "CREATE TABLE IF NOT EXISTS MEMORY n (\"a b\" CHAR(9) DESCRIPTION 'd' NOT NULL DEFAULT 'x' MIN 'a' MAX 'z' "
      "CHARCASE UPPER, c BLOB(0, 1), d DECIMAL(10, 2), CONSTRAINT k UNIQUE DESC NOCASE PRIMARY KEY (\"a b\", d) "
      "COMPRESS TRAILBYTE TEXT INDEX (c) STOP WORDS 'x y' SPACE CHARS ' ' + #9 INCLUDE CHARS '-' DESCRIPTION 'q' "
      "BLOB BLOCK SIZE 1024 LANGUAGE 'German (Standard)' SORT 'SRT_GERMAN_PHONE_BOOK' ENCRYPTED WITH 'p' "
      "USER MAJOR VERSION 2 USER MINOR VERSION 3 LAST AUTOINC -7);",
      "CREATE IF NOT EXISTS UNIQUE ASCENDING NOCASE INDEX 'i x' ON MEMORY 'dir/t.dat' (a, 'b', [c]) COMPRESS NONE;",
      "DROP TABLE IF EXISTS MEMORY 'some table';",
      "DROP INDEX IF EXISTS MEMORY 'some table'.\"the index\";",
  };
  for (const std::string& text : statements) {
    for (std::size_t length = 0; length <= text.size(); ++length) {
      TQueryStatement statement(db_.Directory());
      try {
        statement.ParseStatement(text.substr(0, length));
      } catch (const ETarnEngineError& error) {
        EXPECT_EQ(error.ErrorCode(), TARN_SQLPARSE) << text.substr(0, length);
      }
    }
    TQueryStatement whole(db_.Directory());
    EXPECT_NO_THROW(whole.ParseStatement(text)) << text;
  }
}

TEST_F(DdlStatements, SelectOverACreatedTable) {
  db_.Query("CREATE TABLE people (id INTEGER, name CHAR(20), score FLOAT, PRIMARY KEY (id))");
  db_.Insert("people", {{std::int64_t{3}, std::string("Cy"), 1.5},
                        {std::int64_t{1}, std::string("Al"), 4.0},
                        {std::int64_t{2}, std::string("Bo"), 2.5}});
  EXPECT_EQ(db_.Query("SELECT name, score FROM people WHERE score > 2 ORDER BY name"),
            (std::vector<TextRow>{{"Al", "4"}, {"Bo", "2.5"}}));
  db_.Query("CREATE INDEX byName ON people (name)");
  EXPECT_EQ(db_.Query("SELECT id FROM people WHERE name = 'Cy'"), (std::vector<TextRow>{{"3"}}));
}

TEST_F(DdlStatements, ScriptsRunOneStatementAfterAnother) {
  db_.Query("CREATE TABLE s1 (a INTEGER); CREATE INDEX sx ON s1 (a); DROP INDEX s1.sx; DROP TABLE s1;");
  EXPECT_TRUE(TableFiles(db_, "s1").empty());
}

TEST_F(DdlStatements, ExecutingAgainRepeatsTheOperation) {
  TQueryStatement statement(db_.Directory());
  statement.PrepareStatement("CREATE TABLE twice (a INTEGER)");
  TDataCursor* result = nullptr;
  statement.ExecuteStatement(result);
  EXPECT_EQ(result, nullptr);
  try {
    statement.ExecuteStatement(result);
    ADD_FAILURE() << "created twice";
  } catch (const ETarnEngineError& error) {
    EXPECT_EQ(error.ErrorCode(), TARN_TABLEEXISTS);
  }
}

}  // namespace
}  // namespace tarn::sql_testing
