// SQL SELECT speed beside SQLite: statements run through TQueryStatement on a
// data session with a private directory (where result tables live), each
// beside a SQLite statement answering the same query over the same rows.
// Both engines keep their tables in files in one scratch directory under the
// system temp directory, warm in the operating system's cache; SQLite runs
// with journal_mode=OFF, synchronous=OFF and its default page cache
// (cache_size -2000, about 2 MB). Every timed iteration executes the
// statement and reads every row of its result, each selected column of each
// row (GetNextRecord + GetField for ours, sqlite3_step + sqlite3_column_* for
// SQLite). Workloads:
//  - an indexed point SELECT on 100k rows, prepared once (a '?' parameter)
//    and prepared on every execution (a literal, as the quota page does);
//  - GROUP BY with ORDER BY over 100k rows into 1,000 groups, and the same
//    over 1M rows;
//  - a two-table indexed join selecting about 100 rows;
//  - the quota page's user query, with and without a case-insensitive index.
// The tables are built once per process through the engine's cursors (and
// the same rows inserted into SQLite); after the benchmarks the program prints
// the CPU time per query of each workload and the ratio ours / SQLite.
#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <stdlib.h>
#include <time.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "cursor/data_cursor.h"
#include "engine/data_session.h"
#include "sql/query_statement.h"
#include "storage/formats/data_types.h"
#include "support/field_builders.h"

namespace {

using namespace tarn;

constexpr std::int32_t kRows = 100'000;
constexpr std::int32_t kBigRows = 1'000'000;
// Few enough rows that the GROUP BY result table's records all stay in its
// record cache (16 KB per table, about 600 result records of this width), so
// the grouping sort runs in memory; 100k rows and more sort externally.
constexpr std::int32_t kSmallRows = 500;
constexpr std::int32_t kGroups = 1'000;
// a.F takes this many values: one value selects about 100 rows of a.
constexpr std::int32_t kJoinFilterValues = 1'000;
// Rows per user in the user table.
constexpr std::int32_t kRowsPerUser = 3;
constexpr std::int32_t kTransactionSize = 2'000;

// Thread CPU time (user and system): the machine's cores are shared, and the
// ratios should not depend on what else runs beside the benchmark.
struct Clock {
  using time_point = double;
  static double now() {
    timespec t{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
  }
};

// Seconds per query by "<workload> Tarn" / "<workload> SQLite".
std::map<std::string, double>& Seconds() {
  static std::map<std::string, double> seconds;
  return seconds;
}

void Record(const std::string& key, Clock::time_point start, std::int64_t operations) {
  const double elapsed = Clock::now() - start;
  Seconds()[key] = operations > 0 ? elapsed / static_cast<double>(operations) : 0.0;
}

std::string MakeTempDirectory(const char* stem) {
  std::string pattern = (std::filesystem::temp_directory_path() / (std::string(stem) + "-XXXXXX")).string();
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  if (::mkdtemp(buffer.data()) == nullptr) {
    std::fprintf(stderr, "cannot make a temporary directory\n");
    std::abort();
  }
  return std::string(buffer.data()) + "/";
}

// --- SQLite ----------------------------------------------------------------

void SqliteExec(sqlite3* db, const std::string& sql) {
  char* message = nullptr;
  if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &message) != SQLITE_OK) {
    std::fprintf(stderr, "SQLite: %s in %s\n", message != nullptr ? message : "?", sql.c_str());
    std::abort();
  }
}

sqlite3_stmt* SqlitePrepare(sqlite3* db, const std::string& sql) {
  sqlite3_stmt* statement = nullptr;
  if (sqlite3_prepare_v2(db, sql.c_str(), -1, &statement, nullptr) != SQLITE_OK) {
    std::fprintf(stderr, "SQLite: %s in %s\n", sqlite3_errmsg(db), sql.c_str());
    std::abort();
  }
  return statement;
}

// Finalizes a prepared statement at the end of its scope.
struct TStatement {
  sqlite3_stmt* s;
  TStatement(sqlite3* db, const std::string& sql) : s(SqlitePrepare(db, sql)) {}
  ~TStatement() { sqlite3_finalize(s); }
  TStatement(const TStatement&) = delete;
  TStatement& operator=(const TStatement&) = delete;
};

// Steps every row, reading each column as its type; answers the row count
// and folds the values into sum so nothing is optimised away.
std::int64_t StepAll(sqlite3_stmt* statement, std::int64_t& sum) {
  const int columns = sqlite3_column_count(statement);
  std::int64_t rows = 0;
  while (sqlite3_step(statement) == SQLITE_ROW) {
    ++rows;
    for (int c = 0; c < columns; ++c) {
      if (sqlite3_column_type(statement, c) == SQLITE_TEXT) {
        const unsigned char* text = sqlite3_column_text(statement, c);
        sum += text != nullptr ? text[0] : 0;
      } else {
        sum += sqlite3_column_int64(statement, c);
      }
    }
  }
  return rows;
}

// --- ours ------------------------------------------------------------------

// Reads every row of a result cursor from its start, every field of it.
std::int64_t ReadAll(TDataCursor& cursor, std::vector<std::uint8_t>& record, std::int64_t& sum) {
  const std::uint16_t fields = cursor.GetFieldCount();
  record.resize(cursor.GetRecordBufferSize());
  std::uint8_t value[256];
  std::int64_t rows = 0;
  cursor.SetToBegin();
  while (cursor.GetNextRecord(record.data()) == 0) {
    ++rows;
    for (std::uint16_t f = 1; f <= fields; ++f) {
      bool isNull = false;
      cursor.GetField(f, record.data(), value, isNull);
      sum += isNull ? 0 : value[0];
    }
  }
  return rows;
}

// One engine column and its SQLite declaration.
struct TColumn {
  const char* Name;
  std::uint8_t Type;
  std::uint8_t Size;
};

struct TIndex {
  std::string Name;  // empty: the primary index
  std::vector<std::uint16_t> Fields;
  bool CaseInsensitive = false;
};

// A cell: an integer or a string, by the column's type.
struct TCell {
  std::int32_t Number = 0;
  std::string Text;
};
using TRowMaker = std::vector<TCell> (*)(std::int32_t i, std::mt19937& random);

// One database of ours (a directory with a session whose private directory
// holds result tables) and one SQLite file beside it in the same scratch
// directory.
struct TDatabases {
  std::string path = MakeTempDirectory("bench-sql");
  std::string privatePath = MakeTempDirectory("bench-sql-private");
  TDataSession session;
  TDataDirectory* directory = nullptr;
  sqlite3* db = nullptr;

  TDatabases() {
    session.SetPrivateDirectory(privatePath);
    directory = &session.OpenDataDirectory("", path);
    const std::string file = path + "bench.sqlite";
    if (sqlite3_open(file.c_str(), &db) != SQLITE_OK) std::abort();
    SqliteExec(db, "PRAGMA journal_mode=OFF; PRAGMA synchronous=OFF;");
  }
  ~TDatabases() {
    sqlite3_close(db);
    for (const std::string& dir : {path, privatePath}) {
      std::error_code ignored;
      std::filesystem::remove_all(dir, ignored);
    }
  }
  TDatabases(const TDatabases&) = delete;
  TDatabases& operator=(const TDatabases&) = delete;

  void CreateOurs(const std::string& name, const std::vector<TColumn>& columns, const std::vector<TIndex>& indexes) {
    TDataCursor::TCreateTableArguments arguments;
    for (const TColumn& c : columns) arguments.Fields.push_back(test_support::MakeField(c.Name, c.Type, c.Size));
    test_support::LayOut(arguments.Fields);
    arguments.Indexes.push_back(MakeEmptyIndexDefinition());
    for (const TIndex& index : indexes) {
      TIndexDefinition def = MakeEmptyIndexDefinition();
      def.Name.Assign(index.Name);
      def.Unique = index.Name.empty() ? 1 : 0;
      def.CaseInsensitive = index.CaseInsensitive ? 1 : 0;
      std::size_t k = 0;
      for (std::uint16_t f : index.Fields) def.KeyFields[k++] = f;
      def.KeyFieldCount = static_cast<std::uint8_t>(k);
      if (index.Name.empty()) {
        arguments.Indexes[0] = def;
      } else {
        arguments.Indexes.push_back(def);
      }
    }
    TDataCursor cursor(*directory);
    cursor.SetTableName(name);
    cursor.SetExclusive(true);
    cursor.CreateTable(arguments);
  }

  // Fills our table and the SQLite table of the same name with count rows.
  void Fill(const std::string& name, const std::vector<TColumn>& columns, std::int32_t count, TRowMaker make) {
    TDataCursor cursor(*directory);
    cursor.SetTableName(name);
    cursor.OpenCursor();
    std::vector<std::uint8_t> record(cursor.GetRecordBufferSize());
    std::string insert = "INSERT INTO \"" + name + "\" VALUES (";
    for (std::size_t c = 0; c < columns.size(); ++c) insert += c == 0 ? "?" : ", ?";
    insert += ")";
    SqliteExec(db, "BEGIN");
    TStatement statement(db, insert);
    std::mt19937 random(20261210);
    std::uint8_t value[256];
    for (std::int32_t i = 0; i < count; ++i) {
      if (i % kTransactionSize == 0) directory->StartTransaction();
      const std::vector<TCell> cells = make(i, random);
      cursor.InitRecord(record.data());
      for (std::size_t c = 0; c < columns.size(); ++c) {
        const auto field = static_cast<std::uint16_t>(c + 1);
        const int parameter = static_cast<int>(c + 1);
        std::memset(value, 0, sizeof value);
        if (columns[c].Type == dtString) {
          std::memcpy(value, cells[c].Text.data(), std::min<std::size_t>(cells[c].Text.size(), columns[c].Size));
          sqlite3_bind_text(statement.s, parameter, cells[c].Text.data(), static_cast<int>(cells[c].Text.size()),
                            SQLITE_STATIC);
        } else {
          std::memcpy(value, &cells[c].Number, sizeof cells[c].Number);
          sqlite3_bind_int(statement.s, parameter, cells[c].Number);
        }
        cursor.PutField(field, record.data(), value);
      }
      cursor.AppendRecord(record.data());
      if (sqlite3_step(statement.s) != SQLITE_DONE) {
        std::fprintf(stderr, "SQLite insert: %s\n", sqlite3_errmsg(db));
        std::abort();
      }
      sqlite3_reset(statement.s);
      if ((i + 1) % kTransactionSize == 0 || i + 1 == count) directory->CommitTransaction({.EndTransaction = true});
    }
    cursor.CloseCursor();
    SqliteExec(db, "COMMIT");
  }
};

// --- the tables ------------------------------------------------------------

// t(ID, G, V, NAME): ID 1..n in a shuffled order, G one of kGroups values, V
// a small number, NAME 12 letters.
const std::vector<TColumn> kPeopleColumns = {
    {"ID", dtInteger, 0}, {"G", dtInteger, 0}, {"V", dtInteger, 0}, {"NAME", dtString, 20}};

std::string Letters(std::mt19937& random, std::size_t length) {
  std::string text;
  text.push_back(static_cast<char>('A' + random() % 26));
  while (text.size() < length) text.push_back(static_cast<char>('a' + random() % 26));
  return text;
}

std::vector<TCell> PeopleRow(std::int32_t i, std::mt19937& random) {
  return {TCell{i + 1, {}}, TCell{static_cast<std::int32_t>(random() % kGroups), {}},
          TCell{static_cast<std::int32_t>(random() % 1000), {}}, TCell{0, Letters(random, 12)}};
}

// a(ID, K, F, X): K a random key of b, F one of kJoinFilterValues values.
const std::vector<TColumn> kJoinAColumns = {
    {"ID", dtInteger, 0}, {"K", dtInteger, 0}, {"F", dtInteger, 0}, {"X", dtInteger, 0}};
std::vector<TCell> JoinARow(std::int32_t i, std::mt19937& random) {
  return {TCell{i + 1, {}}, TCell{static_cast<std::int32_t>(1 + random() % kRows), {}},
          TCell{static_cast<std::int32_t>(random() % kJoinFilterValues), {}},
          TCell{static_cast<std::int32_t>(random() % 100'000), {}}};
}

// b(K, Y): K 1..n.
const std::vector<TColumn> kJoinBColumns = {{"K", dtInteger, 0}, {"Y", dtInteger, 0}};
std::vector<TCell> JoinBRow(std::int32_t i, std::mt19937& random) {
  return {TCell{i + 1, {}}, TCell{static_cast<std::int32_t>(random() % 100'000), {}}};
}

// The quota page's user table: kRowsPerUser rows per user name, the names in
// mixed case so that Upper has work to do.
const std::vector<TColumn> kUserColumns = {{"USER", dtString, 20},
                                           {"NAME", dtString, 20},
                                           {"LIMIT_P", dtInteger, 0},
                                           {"USED_P", dtInteger, 0},
                                           {"HOWTODO", dtInteger, 0}};
std::string UserName(std::int32_t user) {
  char text[24];
  std::snprintf(text, sizeof text, "User%06d", user);
  return text;
}
std::vector<TCell> UserRow(std::int32_t i, std::mt19937& random) {
  return {TCell{0, UserName(i / kRowsPerUser)}, TCell{0, Letters(random, 10)},
          TCell{static_cast<std::int32_t>(random() % 10'000), {}},
          TCell{static_cast<std::int32_t>(random() % 10'000), {}}, TCell{static_cast<std::int32_t>(random() % 4), {}}};
}

// The shared fixtures, each built the first time a benchmark needs it.
struct TFixture {
  TDatabases main;         // t, big, a, b, and user without an index
  TDatabases indexedUser;  // user with the case-insensitive index
  std::map<std::string, double> buildSeconds;

  void Build(const std::string& what) {
    if (buildSeconds.count(what) != 0) return;
    const auto start = Clock::now();
    if (what == "t") {
      main.CreateOurs("t", kPeopleColumns, {{"", {1}}});
      SqliteExec(main.db, "CREATE TABLE t(ID INTEGER PRIMARY KEY, G INTEGER, V INTEGER, NAME TEXT)");
      main.Fill("t", kPeopleColumns, kRows, PeopleRow);
    } else if (what == "big") {
      main.CreateOurs("big", kPeopleColumns, {{"", {1}}});
      SqliteExec(main.db, "CREATE TABLE big(ID INTEGER PRIMARY KEY, G INTEGER, V INTEGER, NAME TEXT)");
      main.Fill("big", kPeopleColumns, kBigRows, PeopleRow);
    } else if (what == "small") {
      main.CreateOurs("small", kPeopleColumns, {{"", {1}}});
      SqliteExec(main.db, "CREATE TABLE small(ID INTEGER PRIMARY KEY, G INTEGER, V INTEGER, NAME TEXT)");
      main.Fill("small", kPeopleColumns, kSmallRows, PeopleRow);
    } else if (what == "join") {
      main.CreateOurs("a", kJoinAColumns, {{"", {1}}, {"ByF", {3}}});
      main.CreateOurs("b", kJoinBColumns, {{"", {1}}});
      SqliteExec(main.db,
                 "CREATE TABLE a(ID INTEGER PRIMARY KEY, K INTEGER, F INTEGER, X INTEGER);"
                 "CREATE TABLE b(K INTEGER PRIMARY KEY, Y INTEGER)");
      main.Fill("a", kJoinAColumns, kRows, JoinARow);
      main.Fill("b", kJoinBColumns, kRows, JoinBRow);
      SqliteExec(main.db, "CREATE INDEX a_f ON a(F)");
    } else if (what == "user") {
      main.CreateOurs("user", kUserColumns, {});
      SqliteExec(main.db,
                 "CREATE TABLE \"user\"(USER TEXT, NAME TEXT, LIMIT_P INTEGER, USED_P INTEGER, HOWTODO INTEGER)");
      main.Fill("user", kUserColumns, kRows, UserRow);
    } else if (what == "user indexed") {
      indexedUser.CreateOurs("user", kUserColumns, {{"ByUser", {1}, true}});
      SqliteExec(indexedUser.db,
                 "CREATE TABLE \"user\"(USER TEXT, NAME TEXT, LIMIT_P INTEGER, USED_P INTEGER, HOWTODO INTEGER)");
      indexedUser.Fill("user", kUserColumns, kRows, UserRow);
      SqliteExec(indexedUser.db, "CREATE INDEX user_upper ON \"user\"(upper(USER))");
    }
    SqliteExec(what == "user indexed" ? indexedUser.db : main.db, "ANALYZE");
    buildSeconds[what] = Clock::now() - start;
  }

  TDatabases& For(const std::string& what) { return what == "user indexed" ? indexedUser : main; }
};

std::unique_ptr<TFixture>& FixtureSlot() {
  static std::unique_ptr<TFixture> fixture;
  return fixture;
}

TDatabases& Fixture(const std::string& what) {
  auto& fixture = FixtureSlot();
  if (!fixture) fixture = std::make_unique<TFixture>();
  fixture->Build(what);
  return fixture->For(what);
}

// --- the timed loops ---------------------------------------------------------

// A query text and, for the prepared-once form, its single integer parameter
// values drawn in turn; without values the text is run as it is.
struct TQuery {
  std::string Workload;
  std::string Table;         // the fixture it needs
  std::string Ours, Theirs;  // texts with '?' when Values is not empty
  std::vector<std::int32_t> Values;
  std::int64_t ExpectedRows = -1;  // per execution, when known
};

void Finish(benchmark::State& state, const std::string& key, Clock::time_point start, std::int64_t rows,
            std::int64_t sum) {
  Record(key, start, state.iterations());
  benchmark::DoNotOptimize(sum);
  state.SetItemsProcessed(state.iterations());
  state.counters["rows"] = benchmark::Counter(static_cast<double>(rows), benchmark::Counter::kAvgIterations);
}

// Ours with the statement prepared once outside the timed loop.
void OursPrepared(benchmark::State& state, const TQuery& query) {
  TDatabases& databases = Fixture(query.Table);
  TQueryStatement statement(*databases.directory);
  statement.PrepareStatement(query.Ours);
  TFieldDefinition parameter = test_support::MakeField("P", dtInteger);
  parameter.FieldOffset = 0;
  UpdateFieldSize(parameter);
  std::uint8_t parameterRecord[8] = {};
  std::vector<std::uint8_t> record;
  std::int64_t rows = 0, sum = 0;
  std::size_t next = 0;
  auto run = [&] {
    if (!query.Values.empty()) {
      parameterRecord[0] = 1;
      std::memcpy(parameterRecord + 1, &query.Values[next++ % query.Values.size()], 4);
      statement.SetStatementParameters(1, &parameter, parameterRecord);
    }
    TDataCursor* result = nullptr;
    statement.ExecuteStatement(result, false);
    const std::int64_t n = result != nullptr ? ReadAll(*result, record, sum) : 0;
    if (query.ExpectedRows >= 0 && n != query.ExpectedRows) state.SkipWithError("unexpected row count");
    return n;
  };
  run();  // warm
  const auto start = Clock::now();
  for (auto _ : state) rows += run();
  Finish(state, query.Workload + " Tarn", start, rows, sum);
}

void TheirsPrepared(benchmark::State& state, const TQuery& query) {
  TDatabases& databases = Fixture(query.Table);
  TStatement statement(databases.db, query.Theirs);
  std::int64_t rows = 0, sum = 0;
  std::size_t next = 0;
  auto run = [&] {
    if (!query.Values.empty()) sqlite3_bind_int(statement.s, 1, query.Values[next++ % query.Values.size()]);
    const std::int64_t n = StepAll(statement.s, sum);
    sqlite3_reset(statement.s);
    if (query.ExpectedRows >= 0 && n != query.ExpectedRows) state.SkipWithError("unexpected row count");
    return n;
  };
  run();  // warm
  const auto start = Clock::now();
  for (auto _ : state) rows += run();
  Finish(state, query.Workload + " SQLite", start, rows, sum);
}

// The texts for each execution, with the literal in place of '?'.
std::vector<std::string> Texts(const std::string& text, const std::vector<std::int32_t>& values) {
  if (values.empty()) return {text};
  std::vector<std::string> texts;
  const std::size_t at = text.find('?');
  for (std::int32_t v : values) texts.push_back(text.substr(0, at) + std::to_string(v) + text.substr(at + 1));
  return texts;
}

// Ours prepared, executed and freed on every iteration.
void OursEachTime(benchmark::State& state, const TQuery& query) {
  TDatabases& databases = Fixture(query.Table);
  const std::vector<std::string> texts = Texts(query.Ours, query.Values);
  std::vector<std::uint8_t> record;
  std::int64_t rows = 0, sum = 0;
  std::size_t next = 0;
  auto run = [&] {
    TQueryStatement statement(*databases.directory);
    statement.PrepareStatement(texts[next++ % texts.size()]);
    TDataCursor* result = nullptr;
    statement.ExecuteStatement(result, false);
    const std::int64_t n = result != nullptr ? ReadAll(*result, record, sum) : 0;
    if (query.ExpectedRows >= 0 && n != query.ExpectedRows) state.SkipWithError("unexpected row count");
    return n;
  };
  run();  // warm
  const auto start = Clock::now();
  for (auto _ : state) rows += run();
  Finish(state, query.Workload + " Tarn", start, rows, sum);
}

void TheirsEachTime(benchmark::State& state, const TQuery& query) {
  TDatabases& databases = Fixture(query.Table);
  const std::vector<std::string> texts = Texts(query.Theirs, query.Values);
  std::int64_t rows = 0, sum = 0;
  std::size_t next = 0;
  auto run = [&] {
    TStatement statement(databases.db, texts[next++ % texts.size()]);
    const std::int64_t n = StepAll(statement.s, sum);
    if (query.ExpectedRows >= 0 && n != query.ExpectedRows) state.SkipWithError("unexpected row count");
    return n;
  };
  run();  // warm
  const auto start = Clock::now();
  for (auto _ : state) rows += run();
  Finish(state, query.Workload + " SQLite", start, rows, sum);
}

// --- the workloads -----------------------------------------------------------

std::vector<std::int32_t> RandomValues(std::int32_t low, std::int32_t high, std::uint32_t seed) {
  std::vector<std::int32_t> values(2'000);
  std::mt19937 random(seed);
  for (auto& v : values) v = low + static_cast<std::int32_t>(random() % static_cast<std::uint32_t>(high - low + 1));
  return values;
}

const TQuery& PointSelect() {
  static const TQuery q{"point select",
                        "t",
                        "SELECT * FROM t WHERE ID = ?",
                        "SELECT * FROM t WHERE ID = ?",
                        RandomValues(1, kRows, 11),
                        1};
  return q;
}
const TQuery& PointSelectEachTime() {
  static const TQuery q = [] {
    TQuery each = PointSelect();
    each.Workload = "point select prepared each time";
    return each;
  }();
  return q;
}
const TQuery& GroupBy() {
  static const TQuery q{"group by 100k",
                        "t",
                        "SELECT G, COUNT(*), SUM(V) FROM t GROUP BY G ORDER BY G",
                        "SELECT G, COUNT(*), SUM(V) FROM t GROUP BY G ORDER BY G",
                        {},
                        kGroups};
  return q;
}
const TQuery& GroupBySmall() {
  static const TQuery q{"group by 500",
                        "small",
                        "SELECT G, COUNT(*), SUM(V) FROM small GROUP BY G ORDER BY G",
                        "SELECT G, COUNT(*), SUM(V) FROM small GROUP BY G ORDER BY G",
                        {}};
  return q;
}
const TQuery& GroupByBig() {
  static const TQuery q{"group by 1M",
                        "big",
                        "SELECT G, COUNT(*), SUM(V) FROM big GROUP BY G ORDER BY G",
                        "SELECT G, COUNT(*), SUM(V) FROM big GROUP BY G ORDER BY G",
                        {},
                        kGroups};
  return q;
}
const TQuery& Join() {
  static const TQuery q{"join", "join", "SELECT a.X, b.Y FROM a, b WHERE a.K = b.K AND a.F = ?",
                        "SELECT a.X, b.Y FROM a, b WHERE a.K = b.K AND a.F = ?",
                        RandomValues(0, kJoinFilterValues - 1, 13)};
  return q;
}
const TQuery& JoinEachTime() {
  static const TQuery q = [] {
    TQuery each = Join();
    each.Workload = "join prepared each time";
    return each;
  }();
  return q;
}

// The quota page's text, one user name per execution (upper-cased, as the
// page compares it), prepared each time as the page does.
void UserOurs(benchmark::State& state, const std::string& workload, const std::string& table) {
  TDatabases& databases = Fixture(table);
  std::vector<std::string> texts;
  for (std::int32_t v : RandomValues(0, kRows / kRowsPerUser - 1, 17)) {
    std::string name = UserName(v);
    std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return std::toupper(c); });
    texts.push_back("select * from 'user' where Upper('user'.'user') = '" + name + "'");
  }
  std::vector<std::uint8_t> record;
  std::int64_t rows = 0, sum = 0;
  std::size_t next = 0;
  auto run = [&] {
    TQueryStatement statement(*databases.directory);
    statement.PrepareStatement(texts[next++ % texts.size()]);
    TDataCursor* result = nullptr;
    statement.ExecuteStatement(result, false);
    const std::int64_t n = result != nullptr ? ReadAll(*result, record, sum) : 0;
    if (n != kRowsPerUser) state.SkipWithError("unexpected row count");
    return n;
  };
  run();  // warm
  const auto start = Clock::now();
  for (auto _ : state) rows += run();
  Finish(state, workload + " Tarn", start, rows, sum);
}

void UserTheirs(benchmark::State& state, const std::string& workload, const std::string& table) {
  TDatabases& databases = Fixture(table);
  std::vector<std::string> texts;
  for (std::int32_t v : RandomValues(0, kRows / kRowsPerUser - 1, 17)) {
    std::string name = UserName(v);
    std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return std::toupper(c); });
    texts.push_back("select * from \"user\" where upper(\"user\".USER) = '" + name + "'");
  }
  std::int64_t rows = 0, sum = 0;
  std::size_t next = 0;
  auto run = [&] {
    TStatement statement(databases.db, texts[next++ % texts.size()]);
    const std::int64_t n = StepAll(statement.s, sum);
    if (n != kRowsPerUser) state.SkipWithError("unexpected row count");
    return n;
  };
  run();  // warm
  const auto start = Clock::now();
  for (auto _ : state) rows += run();
  Finish(state, workload + " SQLite", start, rows, sum);
}

void BM_SQLPointSelect_Tarn(benchmark::State& state) { OursPrepared(state, PointSelect()); }
void BM_SQLPointSelect_SQLite(benchmark::State& state) { TheirsPrepared(state, PointSelect()); }
void BM_SQLPointSelectEachTime_Tarn(benchmark::State& state) { OursEachTime(state, PointSelectEachTime()); }
void BM_SQLPointSelectEachTime_SQLite(benchmark::State& state) { TheirsEachTime(state, PointSelectEachTime()); }
void BM_SQLGroupBy_Tarn(benchmark::State& state) { OursPrepared(state, GroupBy()); }
void BM_SQLGroupBy_SQLite(benchmark::State& state) { TheirsPrepared(state, GroupBy()); }
void BM_SQLGroupBySmall_Tarn(benchmark::State& state) { OursPrepared(state, GroupBySmall()); }
void BM_SQLGroupBySmall_SQLite(benchmark::State& state) { TheirsPrepared(state, GroupBySmall()); }
void BM_SQLGroupByBig_Tarn(benchmark::State& state) { OursPrepared(state, GroupByBig()); }
void BM_SQLGroupByBig_SQLite(benchmark::State& state) { TheirsPrepared(state, GroupByBig()); }
void BM_SQLJoin_Tarn(benchmark::State& state) { OursPrepared(state, Join()); }
void BM_SQLJoin_SQLite(benchmark::State& state) { TheirsPrepared(state, Join()); }
void BM_SQLJoinEachTime_Tarn(benchmark::State& state) { OursEachTime(state, JoinEachTime()); }
void BM_SQLJoinEachTime_SQLite(benchmark::State& state) { TheirsEachTime(state, JoinEachTime()); }
void BM_SQLUser_Tarn(benchmark::State& state) { UserOurs(state, "user no index", "user"); }
void BM_SQLUser_SQLite(benchmark::State& state) { UserTheirs(state, "user no index", "user"); }
void BM_SQLUserIndexed_Tarn(benchmark::State& state) { UserOurs(state, "user indexed", "user indexed"); }
void BM_SQLUserIndexed_SQLite(benchmark::State& state) { UserTheirs(state, "user indexed", "user indexed"); }

BENCHMARK(BM_SQLPointSelect_Tarn)->MinTime(1.0)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SQLPointSelect_SQLite)->MinTime(1.0)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SQLPointSelectEachTime_Tarn)->MinTime(1.0)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SQLPointSelectEachTime_SQLite)->MinTime(1.0)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SQLGroupBy_Tarn)->MinTime(1.0)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SQLGroupBy_SQLite)->MinTime(1.0)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SQLGroupBySmall_Tarn)->MinTime(1.0)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SQLGroupBySmall_SQLite)->MinTime(1.0)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SQLGroupByBig_Tarn)->MinTime(1.0)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SQLGroupByBig_SQLite)->MinTime(1.0)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SQLJoin_Tarn)->MinTime(1.0)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SQLJoin_SQLite)->MinTime(1.0)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SQLJoinEachTime_Tarn)->MinTime(1.0)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SQLJoinEachTime_SQLite)->MinTime(1.0)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SQLUser_Tarn)->MinTime(1.0)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SQLUser_SQLite)->MinTime(1.0)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SQLUserIndexed_Tarn)->MinTime(1.0)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SQLUserIndexed_SQLite)->MinTime(1.0)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  if (FixtureSlot()) {
    for (const auto& [what, seconds] : FixtureSlot()->buildSeconds)
      std::printf("build of %s (both engines): %.2f s\n", what.c_str(), seconds);
  }
  const auto& s = Seconds();
  for (const char* workload : {"point select", "point select prepared each time", "group by 500", "group by 100k",
                               "group by 1M", "join", "join prepared each time", "user no index", "user indexed"}) {
    const auto ours = s.find(std::string(workload) + " Tarn");
    const auto theirs = s.find(std::string(workload) + " SQLite");
    if (ours == s.end() || theirs == s.end() || theirs->second <= 0) continue;
    std::printf("%-32s Tarn %14.1f ns  SQLite %14.1f ns  ratio ours/SQLite %.3f\n", workload, ours->second * 1e9,
                theirs->second * 1e9, ours->second / theirs->second);
  }
  FixtureSlot().reset();
  return 0;
}
