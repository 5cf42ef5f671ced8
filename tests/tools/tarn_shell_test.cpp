// The shell run as a library function: options and exit codes, dot commands on
// a directory whose tables the engine made, scripts from an input stream with
// errors reported and counted one statement at a time, prompts at a terminal,
// and results of SELECT as aligned columns and CSV.
#include "tools/tarn_shell.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include "sql/sql_fixture.h"
#include "support/field_builders.h"

namespace tarn::tools {
namespace {

using sql_testing::Cell;
using sql_testing::Column;
using sql_testing::Index;
using sql_testing::SqlDatabase;

struct ShellRun {
  int Code = -1;
  std::string Out;
  std::string Err;
};

ShellRun RunShell(const std::vector<std::string>& args, const std::string& input = {}, bool interactive = false) {
  std::istringstream in(input);
  std::ostringstream out;
  std::ostringstream err;
  ShellRun run;
  TShellTerminal terminal;
  terminal.Interactive = interactive;
  run.Code = RunTarnShell(args, in, out, err, terminal);
  run.Out = out.str();
  run.Err = err.str();
  return run;
}

// Two small tables: t (ID, NAME) with three rows and a primary key, and an
// empty "Alpha" table; listed as Alpha, t.
class ShellTest : public ::testing::Test {
 protected:
  void SetUp() override {
    db_.CreateTable("t", {{"ID", dtInteger}, {"NAME", dtString, 10}}, {{"", {1}}});
    db_.Insert(
        "t",
        {{std::int64_t{1}, std::string("one")}, {std::int64_t{2}, std::string("two, too")}, {std::int64_t{3}, Cell{}}});
    db_.CreateTable("Alpha", {{"X", dtSmallInt}});
  }
  std::string Dir() const { return db_.Path(); }

  SqlDatabase db_;
};

TEST(ShellOptions, ReadsEveryOption) {
  std::string error;
  const std::vector<std::string> args = {"--csv",          "-c", "SELECT 1", "--password", "Secret",
                                         "--password=two", "-c", ".tables",  "dir"};
  const std::optional<TShellOptions> options = ParseShellOptions(args, error);
  ASSERT_TRUE(options) << error;
  EXPECT_TRUE(options->Csv);
  EXPECT_EQ(options->Commands, (std::vector<std::string>{"SELECT 1", ".tables"}));
  EXPECT_EQ(options->Passwords, (std::vector<std::string>{"Secret", "two"}));
  EXPECT_EQ(options->Directory, "dir");
  EXPECT_FALSE(options->Help);
  EXPECT_FALSE(options->Version);

  const std::vector<std::string> afterDashes = {"--", "--csv"};
  const std::optional<TShellOptions> positional = ParseShellOptions(afterDashes, error);
  ASSERT_TRUE(positional) << error;
  EXPECT_EQ(positional->Directory, "--csv");
  EXPECT_FALSE(positional->Csv);
}

TEST_F(ShellTest, OptionsAndExitCodes) {
  struct OptionCase {
    const char* Name;
    std::vector<std::string> Args;
    int Code;
    std::string Out;  // expected exactly, unless OutPart
    std::string ErrPart;
    bool OutPart = false;
  };
  const std::vector<OptionCase> cases = {
      {"version", {"--version"}, kExitOk, "tarn (Tarn engine 3.08)\n", ""},
      {"help", {"--help"}, kExitOk, "Usage: tarn [OPTIONS] [DIR]\n", "", true},
      {"help with a directory", {Dir(), "-h"}, kExitOk, "Usage: tarn [OPTIONS] [DIR]\n", "", true},
      {"unknown option", {"--bogus", Dir()}, kExitBadOptions, "", "tarn: unknown option '--bogus'"},
      {"unknown short option", {"-x"}, kExitBadOptions, "", "unknown option '-x'"},
      {"-c without text", {Dir(), "-c"}, kExitBadOptions, "", "option '-c' needs a value"},
      {"--password without text", {"--password"}, kExitBadOptions, "", "option '--password' needs a value"},
      {"two directories", {Dir(), Dir()}, kExitBadOptions, "", "only one database directory may be given"},
      {"missing directory", {Dir() + "missing", "-c", ".tables"}, kExitBadOptions, "", "is not a directory"},
      {"empty directory name", {"", "-c", ".tables"}, kExitBadOptions, "", "the database directory name is empty"},
      {"dot command", {Dir(), "-c", ".tables"}, kExitOk, "Alpha\nt\n", ""},
      {"options after the directory", {Dir(), "--csv", "-c", ".tables"}, kExitOk, "Alpha\nt\n", ""},
      {"two -c texts in order", {Dir(), "-c", ".tables", "-c", ".help"}, kExitOk, "Alpha\nt\n.help", "", true},
      {"unknown dot command",
       {Dir(), "-c", ".nope"},
       kExitStatementFailed,
       "",
       "Unknown command '.nope'; enter .help for the list of commands"},
      {"failing statement",
       {Dir(), "-c", "SELEKT 1"},
       kExitStatementFailed,
       "",
       "Tarn Engine Error # 11949 SQL error - "},
      {"quit ends the text", {Dir(), "-c", ".quit\nSELEKT 1"}, kExitOk, "", ""},
      {"quit ends every text", {Dir(), "-c", ".exit", "-c", ".nope"}, kExitOk, "", ""},
  };
  for (const OptionCase& c : cases) {
    const ShellRun run = RunShell(c.Args, "SELEKT 1;");  // input the -c cases must not read
    EXPECT_EQ(run.Code, c.Code) << c.Name << "\n" << run.Err;
    if (c.OutPart) {
      EXPECT_NE(run.Out.find(c.Out), std::string::npos) << c.Name << ": " << run.Out;
    } else {
      EXPECT_EQ(run.Out, c.Out) << c.Name;
    }
    if (c.ErrPart.empty()) {
      EXPECT_EQ(run.Err, "") << c.Name;
    } else {
      EXPECT_NE(run.Err.find(c.ErrPart), std::string::npos) << c.Name << ": " << run.Err;
    }
  }
}

TEST_F(ShellTest, BadOptionsRunNothing) {
  // A bad option after a -c: the text is not run, so nothing is printed but
  // the usage error.
  const ShellRun run = RunShell({Dir(), "-c", ".tables", "--nope"});
  EXPECT_EQ(run.Code, kExitBadOptions);
  EXPECT_EQ(run.Out, "");
  EXPECT_EQ(run.Err, "tarn: unknown option '--nope'\nTry 'tarn --help' for more information.\n");
}

TEST_F(ShellTest, TablesListsEveryTableSorted) {
  db_.CreateTable("beta", {{"X", dtInteger}});
  const ShellRun run = RunShell({Dir()}, ".tables\n");
  EXPECT_EQ(run.Code, kExitOk) << run.Err;
  EXPECT_EQ(run.Out, "Alpha\nbeta\nt\n");
}

TEST_F(ShellTest, SchemaDescribesColumnsKeysAndIndexes) {
  db_.CreateTable("people",
                  {{"ID", dtInteger, 0, dstAutoInc},
                   {"NAME", dtString, 30},
                   {"BORN", dtDate},
                   {"PAID", dtFloat, 0, dstMoney},
                   {"NOTE", dtBlob, 0, dstMemo},
                   {"FLAGS", dtBytes, 4},
                   {"BIG", dtLargeInt}},
                  {{"", {1}}, {"ByName", {2, 3}, true, true}, {"ByBorn", {3}, false, false, true}});
  const ShellRun run = RunShell({Dir()}, ".schema people\n");
  EXPECT_EQ(run.Code, kExitOk) << run.Err;
  EXPECT_EQ(run.Out,
            "CREATE TABLE \"people\" (\n"
            "  \"ID\" AUTOINC,\n"
            "  \"NAME\" CHAR(30),\n"
            "  \"BORN\" DATE,\n"
            "  \"PAID\" MONEY,\n"
            "  \"NOTE\" BLOB(0,1),\n"
            "  \"FLAGS\" BYTES(4),\n"
            "  \"BIG\" LARGEINT\n"
            "  PRIMARY KEY (\"ID\")\n"
            ");\n"
            "CREATE UNIQUE NOCASE INDEX \"ByName\" ON \"people\" (\"NAME\", \"BORN\");\n"
            "CREATE DESC INDEX \"ByBorn\" ON \"people\" (\"BORN\");\n");
}

TEST_F(ShellTest, SchemaWithoutANameDescribesEveryTable) {
  const ShellRun run = RunShell({Dir()}, ".schema\n");
  EXPECT_EQ(run.Code, kExitOk) << run.Err;
  EXPECT_EQ(run.Out,
            "CREATE TABLE \"Alpha\" (\n"
            "  \"X\" SMALLINT\n"
            ");\n"
            "CREATE TABLE \"t\" (\n"
            "  \"ID\" INTEGER,\n"
            "  \"NAME\" CHAR(10)\n"
            "  PRIMARY KEY (\"ID\")\n"
            ");\n");
}

TEST_F(ShellTest, SchemaOfAMissingTableIsAnEngineError) {
  const ShellRun run = RunShell({Dir()}, ".schema nothing\n.schema \"t\"\n");
  EXPECT_EQ(run.Code, kExitStatementFailed);
  EXPECT_EQ(run.Err.rfind("Tarn Engine Error # 11010 Table '", 0), 0u) << run.Err;
  EXPECT_NE(run.Err.find("nothing.DAT' does not exist\n"), std::string::npos) << run.Err;
  // The command after the failing one still ran.
  EXPECT_NE(run.Out.find("CREATE TABLE \"t\" ("), std::string::npos) << run.Out;
}

TEST_F(ShellTest, PasswordsOpenEncryptedTables) {
  TDataCursor::TCreateTableArguments arguments;
  arguments.Fields = {test_support::MakeField("CODE", dtInteger)};
  test_support::LayOut(arguments.Fields);
  arguments.Indexes.push_back(MakeEmptyIndexDefinition());
  arguments.Encrypted = true;
  arguments.Password = "Secret";
  TDataCursor cursor(db_.Directory());
  cursor.SetTableName("locked");
  cursor.SetExclusive(true);
  cursor.CreateTable(arguments);

  const std::string input = ".schema locked\n";
  const std::string schema = "CREATE TABLE \"locked\" (\n  \"CODE\" INTEGER\n  /* ENCRYPTED */\n);\n";
  const ShellRun without = RunShell({Dir()}, input);
  EXPECT_EQ(without.Code, kExitStatementFailed);
  EXPECT_EQ(without.Err.rfind("Tarn Engine Error # 10498 ", 0), 0u) << without.Err;
  // Passwords compare exactly: the wrong letter case opens nothing.
  const ShellRun wrongCase = RunShell({Dir(), "--password", "secret"}, input);
  EXPECT_EQ(wrongCase.Code, kExitStatementFailed);
  const ShellRun with = RunShell({Dir(), "--password", "other", "--password", "Secret"}, input);
  EXPECT_EQ(with.Code, kExitOk) << with.Err;
  EXPECT_EQ(with.Out, schema);
  // Without the password, .schema of every table reports the locked one and
  // describes the others.
  const ShellRun all = RunShell({Dir()}, ".schema\n");
  EXPECT_EQ(all.Code, kExitStatementFailed);
  EXPECT_NE(all.Out.find("CREATE TABLE \"Alpha\""), std::string::npos) << all.Out;
  EXPECT_NE(all.Out.find("CREATE TABLE \"t\""), std::string::npos) << all.Out;
  EXPECT_EQ(all.Out.find("locked"), std::string::npos) << all.Out;
}

TEST_F(ShellTest, DotCommandsOnlyWhereNoStatementIsPending) {
  // ".tables" inside a pending statement is statement text: the statement
  // "SELEKT\n.tables" fails as a whole and nothing is listed.
  const ShellRun run = RunShell({Dir()}, "SELEKT\n.tables\n;\n  .tables  \n");
  EXPECT_EQ(run.Code, kExitStatementFailed);
  EXPECT_EQ(run.Out, "Alpha\nt\n");
  // One failed statement: one message.
  EXPECT_EQ(run.Err.rfind("Tarn Engine Error # 11949 SQL error - ", 0), 0u) << run.Err;
  EXPECT_EQ(std::count(run.Err.begin(), run.Err.end(), '\n'), 1) << run.Err;
}

TEST_F(ShellTest, ScriptsWithWindowsLineEnds) {
  const ShellRun run =
      RunShell({Dir(), "--csv"}, ".tables\r\nSELECT ID\r\nFROM t WHERE ID = 1;\r\n.quit\r\nSELEKT\r\n");
  EXPECT_EQ(run.Code, kExitOk) << run.Err;
  EXPECT_EQ(run.Out, "Alpha\nt\nID\n1\n");
}

TEST_F(ShellTest, WrongDotCommandArgumentsFail) {
  const ShellRun run = RunShell({Dir()}, ".tables extra\n.schema a b\n.help\n");
  EXPECT_EQ(run.Code, kExitStatementFailed);
  EXPECT_EQ(run.Err, "Usage: .tables\nUsage: .schema [TABLE]\n");
  EXPECT_NE(run.Out.find(".schema [TABLE]"), std::string::npos);
}

TEST_F(ShellTest, PromptsOnlyAtATerminal) {
  const std::string input = ".tables\nSELEKT\n1;\n";
  const ShellRun terminal = RunShell({Dir()}, input, /*interactive=*/true);
  EXPECT_EQ(terminal.Out, "tarn> Alpha\nt\ntarn>    ...> tarn> \n");
  EXPECT_EQ(terminal.Code, kExitStatementFailed);
  const ShellRun script = RunShell({Dir()}, input);
  EXPECT_EQ(script.Out, "Alpha\nt\n");
}

TEST_F(ShellTest, ScriptGoesOnAfterAFailingStatement) {
  const ShellRun run =
      RunShell({Dir()}, "SELECT ID FROM t WHERE ID < 3;\nSELEKT nothing;\nSELECT NAME FROM t WHERE ID = 2;\n");
  EXPECT_EQ(run.Code, kExitStatementFailed);
  EXPECT_EQ(run.Out,
            "ID\n"
            "--\n"
            " 1\n"
            " 2\n"
            "NAME\n"
            "--------\n"
            "two, too\n");
  EXPECT_EQ(run.Err,
            "Tarn Engine Error # 11949 SQL error - SELECT, INSERT, UPDATE, DELETE, CREATE, ALTER, or DROP keyword "
            "expected, instead found 'SELEKT'\n");
}

TEST_F(ShellTest, CsvResultsWithNullsAndQuotes) {
  const ShellRun run = RunShell({Dir(), "--csv", "-c", "SELECT ID, NAME FROM t; SELECT X FROM Alpha"});
  EXPECT_EQ(run.Code, kExitOk) << run.Err;
  EXPECT_EQ(run.Out, "ID,NAME\n1,one\n2,\"two, too\"\n3,\nX\n");
  EXPECT_EQ(run.Err, "");
}

// The count column the result table keeps for each AVG is not an answer
// column and is not shown.
TEST_F(ShellTest, AverageHelperColumnsAreNotShown) {
  const ShellRun csv = RunShell({Dir(), "--csv", "-c", "SELECT AVG(ID) AS A, COUNT(*) AS N FROM t"});
  EXPECT_EQ(csv.Code, kExitOk) << csv.Err;
  EXPECT_EQ(csv.Out, "A,N\n2,3\n");
  const ShellRun aligned = RunShell({Dir(), "-c", "SELECT ID, AVG(ID) AS A FROM t GROUP BY ID HAVING ID > 2"});
  EXPECT_EQ(aligned.Code, kExitOk) << aligned.Err;
  EXPECT_EQ(aligned.Out, "ID  A\n--  -\n 3  3\n");
}

// A memo prints its text, another BLOB its size; the result table of a SELECT
// holds copies of the BLOBs of its plain columns.
TEST_F(ShellTest, BlobsInResults) {
  db_.CreateTable("notes", {{"ID", dtInteger}, {"NOTE", dtBlob, 0, dstMemo}, {"IMAGE", dtBlob, 0, dstGraphic}});
  TDataCursor cursor(db_.Directory());
  cursor.SetTableName("notes");
  cursor.OpenCursor();
  std::vector<std::uint8_t> record(cursor.GetRecordBufferSize());
  cursor.InitRecord(record.data());
  const std::int32_t id = 7;
  cursor.PutField(1, record.data(), reinterpret_cast<const std::uint8_t*>(&id));
  const std::string note = "line one,\nline \"two\"";
  const std::string image(1000, '\0');
  ASSERT_EQ(cursor.OpenBlob(2, record.data(), 0, false, false), 0);
  ASSERT_EQ(cursor.PutBlob(2, record.data(), false, static_cast<std::int32_t>(note.size()),
                           reinterpret_cast<const std::uint8_t*>(note.data()), 0),
            0);
  ASSERT_EQ(cursor.OpenBlob(3, record.data(), 0, false, false), 0);
  ASSERT_EQ(cursor.PutBlob(3, record.data(), false, static_cast<std::int32_t>(image.size()),
                           reinterpret_cast<const std::uint8_t*>(image.data()), 0),
            0);
  cursor.AppendRecord(record.data());
  cursor.InitRecord(record.data());
  const std::int32_t other = 8;
  cursor.PutField(1, record.data(), reinterpret_cast<const std::uint8_t*>(&other));
  cursor.AppendRecord(record.data());
  cursor.CloseCursor();

  const ShellRun run = RunShell({Dir(), "--csv", "-c", "SELECT IMAGE, NOTE, ID FROM notes ORDER BY ID"});
  EXPECT_EQ(run.Code, kExitOk) << run.Err;
  EXPECT_EQ(run.Out, "IMAGE,NOTE,ID\n(BLOB 1000 bytes),\"line one,\nline \"\"two\"\"\",7\n,,8\n");
}

TEST_F(ShellTest, StatementsSplitOutsideStringsAndComments) {
  const ShellRun run =
      RunShell({Dir(), "--csv"},
               "SELECT NAME /* ; */ FROM t\nWHERE NAME = 'two, too' OR NAME = ';'\n;SELECT [ID] FROM t WHERE ID = 1");
  EXPECT_EQ(run.Code, kExitOk) << run.Err;
  EXPECT_EQ(run.Out, "NAME\n\"two, too\"\nID\n1\n");
}

}  // namespace
}  // namespace tarn::tools
