// Record changes and key search through cursors beside SQLite: appends, random
// primary-key finds and modifies of the secondary-indexed AMOUNT on a table with
// an integer primary key and two non-unique secondary indexes (NAME string(20),
// AMOUNT integer), against an on-disk SQLite table with the same three indexes
// (INTEGER PRIMARY KEY, which is SQLite's row b-tree, and two CREATE INDEX),
// driven by prepared statements over the same rows, keys and values.
//
// What is compared with what:
// - Our shared (non-exclusive) cursor commits every change on its own: write
//   lock, journaled flush of the changed pages and headers, unlock. Its default
//   durability survives a dying process but not a power loss (nothing is
//   synced). SQLite's equivalent is an autocommit statement with
//   synchronous=OFF (rollback journal as by default): a commit per statement,
//   journaled, safe against an application crash, no fsync. SQLite's default
//   synchronous=FULL would add two or more fsyncs per commit that our default
//   does not do, so every SQLite connection here runs with synchronous=OFF.
// - Our exclusive cursor takes no file locks and keeps its caches, but still
//   commits every change with its own journaled flush. SQLite's counterpart is
//   locking_mode=EXCLUSIVE: it keeps the lock and its page cache between
//   statements and commits (journaled) per statement.
// - Batched: transactions of kBatch changes (StartTransaction/CommitTransaction
//   against BEGIN/COMMIT).
// Both sides keep their default cache sizes. Append and modify runs include
// closing the table (the connection, for SQLite). Each run starts from a fresh
// copy of a table built once per side, so every repetition measures the same
// work. Times are taken by hand around the
// workload (setup excluded) and reported as manual time; at the end the
// program prints the median seconds per workload and the ratio ours/SQLite.
// The row count is 100,000; BENCH_ROWS in the environment overrides it (for
// quick trial runs).
#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <numeric>
#include <random>
#include <string>
#include <vector>

#include "cursor/data_cursor.h"
#include "engine/data_session.h"
#include "storage/tables/quota_table.h"
#include "support/field_builders.h"

namespace {

using namespace tarn;
using tarn::testing::SessionOn;
using tarn::testing::TempDirectory;

constexpr int kBatch = 1000;
constexpr std::uint16_t kIdField = 1, kNameField = 2, kAmountField = 3;
constexpr std::size_t kNameSize = 20;

int Rows() {
  static const int rows = [] {
    const char* text = std::getenv("BENCH_ROWS");
    int value = 100'000;
    if (text != nullptr) std::from_chars(text, text + std::char_traits<char>::length(text), value);
    return std::max(value, kBatch);
  }();
  return rows;
}

struct TRow {
  std::int32_t Id = 0;
  std::string Name;
  std::int32_t Amount = 0;
};

// The rows in append order: IDs 1..N shuffled, names of eight random digits,
// amounts spread over a million values (so both secondary indexes hold
// repeated and interleaved keys).
const std::vector<TRow>& Data() {
  static const std::vector<TRow> rows = [] {
    std::vector<std::int32_t> ids(static_cast<std::size_t>(Rows()));
    std::iota(ids.begin(), ids.end(), 1);
    std::mt19937 rng(20261210);
    std::shuffle(ids.begin(), ids.end(), rng);
    std::vector<TRow> v;
    v.reserve(ids.size());
    for (std::int32_t id : ids) {
      char digits[16];
      const auto end = std::to_chars(digits, digits + sizeof digits, rng() % 100'000'000u).ptr;
      v.push_back({id, "N" + std::string(digits, end), static_cast<std::int32_t>(rng() % 1'000'000u)});
    }
    return v;
  }();
  return rows;
}

// N random IDs to look up or modify, and the new amount for each modify.
const std::vector<std::int32_t>& ProbeIds() {
  static const std::vector<std::int32_t> ids = [] {
    std::mt19937 rng(777);
    std::vector<std::int32_t> v(static_cast<std::size_t>(Rows()));
    for (auto& id : v) id = static_cast<std::int32_t>(rng() % static_cast<std::uint32_t>(Rows())) + 1;
    return v;
  }();
  return ids;
}

const std::vector<std::int32_t>& NewAmounts() {
  static const std::vector<std::int32_t> amounts = [] {
    std::mt19937 rng(4242);
    std::vector<std::int32_t> v(static_cast<std::size_t>(Rows()));
    for (auto& a : v) a = static_cast<std::int32_t>(rng() % 1'000'000u);
    return v;
  }();
  return amounts;
}

// Seconds of every run per workload name, for the closing ratio table.
std::map<std::string, std::vector<double>>& Seconds() {
  static std::map<std::string, std::vector<double>> seconds;
  return seconds;
}

class TStopwatch {
 public:
  double Elapsed() const {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
  }

 private:
  std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};

void Report(benchmark::State& state, const std::string& name, double seconds, std::int64_t items) {
  state.SetIterationTime(seconds);
  state.SetItemsProcessed(items);
  state.SetLabel(name);
  Seconds()[name].push_back(seconds);
}

// The directory that holds each side's filled table, built once.
const std::string& TemplateDirectory() {
  static TempDirectory dir;
  return dir.Path();
}

// Copies the table files of one directory into another.
void CopyFiles(const std::string& from, const std::string& to) {
  for (const auto& entry : std::filesystem::directory_iterator(from))
    if (entry.is_regular_file())
      std::filesystem::copy_file(entry.path(), to + entry.path().filename().string(),
                                 std::filesystem::copy_options::overwrite_existing);
}

// How our cursor is opened and how its changes are committed.
enum class TAccess : std::uint8_t { Shared, Exclusive };
enum class TCommit : std::uint8_t { PerChange, Batched };

const char* AccessName(TAccess access) { return access == TAccess::Exclusive ? "exclusive" : "shared"; }
const char* CommitName(TCommit commit) { return commit == TCommit::Batched ? "batched" : "per change"; }

// --- ours ----------------------------------------------------------------------

TDataCursor::TCreateTableArguments TableArguments() {
  using test_support::MakeField;
  TDataCursor::TCreateTableArguments arguments;
  arguments.Fields = {MakeField("ID", dtInteger), MakeField("NAME", dtString, kNameSize),
                      MakeField("AMOUNT", dtInteger)};
  for (std::size_t i = 0; i < arguments.Fields.size(); ++i)
    arguments.Fields[i].FieldNumber = static_cast<std::uint16_t>(i + 1);
  auto index = [](const char* name, std::uint16_t field, bool unique) {
    TIndexDefinition def = MakeEmptyIndexDefinition();
    def.Name.Assign(name);
    def.Unique = unique ? 1 : 0;
    def.KeyFields[0] = field;
    return def;
  };
  arguments.Indexes = {index("", kIdField, true), index("ByName", kNameField, false),
                       index("ByAmount", kAmountField, false)};
  return arguments;
}

// A data session on a directory and one cursor on the table "bench".
struct TOurTable {
  SessionOn session;
  std::unique_ptr<TDataCursor> cursor;

  TOurTable(const std::string& path, TAccess access) : session(path) {
    cursor = std::make_unique<TDataCursor>(*session.directory);
    cursor->SetTableName("bench");
    cursor->SetExclusive(access == TAccess::Exclusive);
    cursor->OpenCursor();
  }

  static void Create(const std::string& path) {
    SessionOn s(path);
    TDataCursor creator(*s.directory);
    creator.SetTableName("bench");
    creator.SetExclusive(true);
    creator.CreateTable(TableArguments());
  }

  std::vector<std::uint8_t> Buffer() const { return std::vector<std::uint8_t>(cursor->GetRecordBufferSize()); }

  void Fill(std::vector<std::uint8_t>& buffer, const TRow& row) const {
    cursor->InitRecord(buffer.data());
    std::uint8_t value[4];
    StoreInt32(value, row.Id);
    cursor->PutField(kIdField, buffer.data(), value);
    char name[kNameSize + 1] = {};
    row.Name.copy(name, kNameSize);
    cursor->PutField(kNameField, buffer.data(), reinterpret_cast<const std::uint8_t*>(name));
    StoreInt32(value, row.Amount);
    cursor->PutField(kAmountField, buffer.data(), value);
  }

  void StartBatch(TCommit commit, int done) {
    if (commit == TCommit::Batched && done % kBatch == 0) session.directory->StartTransaction();
  }
  void EndBatch(TCommit commit, int done) {
    if (commit == TCommit::Batched && (done % kBatch == 0 || done == Rows()))
      session.directory->CommitTransaction({.EndTransaction = true});
  }

  void Close() { cursor->CloseCursor(); }
};

// Every row appended through one cursor.
void AppendAll(TOurTable& table, TCommit commit) {
  std::vector<std::uint8_t> buffer = table.Buffer();
  int done = 0;
  for (const TRow& row : Data()) {
    table.StartBatch(commit, done);
    table.Fill(buffer, row);
    table.cursor->AppendRecord(buffer.data(), {.Reposition = false});
    table.EndBatch(commit, ++done);
  }
}

// The filled table of the find and modify workloads.
const std::string& OurTemplate() {
  static const std::string path = [] {
    const std::string dir = TemplateDirectory() + "tarn/";
    std::filesystem::create_directory(dir);
    TOurTable::Create(dir);
    TOurTable table(dir, TAccess::Exclusive);
    AppendAll(table, TCommit::Batched);
    table.Close();
    return dir;
  }();
  return path;
}

void BM_Append_Tarn(benchmark::State& state) {
  const auto access = static_cast<TAccess>(state.range(0));
  const auto commit = static_cast<TCommit>(state.range(1));
  for (auto _ : state) {
    TempDirectory dir;
    TOurTable::Create(dir.Path());
    TOurTable table(dir.Path(), access);
    TStopwatch watch;
    AppendAll(table, commit);
    table.Close();
    const double seconds = watch.Elapsed();
    TOurTable check(dir.Path(), TAccess::Shared);
    if (check.cursor->GetRecordCount() != Rows()) state.SkipWithError("appends missing");
    Report(state, std::string("append ") + AccessName(access) + " " + CommitName(commit) + " Tarn", seconds, Rows());
  }
}

// Find on the primary key, the current record copied out by Find itself or
// read afterwards with GetCurrentRecord.
enum class TRead : std::uint8_t { FindCopies, GetCurrentRecord };

void BM_Find_Tarn(benchmark::State& state) {
  const auto access = static_cast<TAccess>(state.range(0));
  const auto read = static_cast<TRead>(state.range(1));
  for (auto _ : state) {
    TempDirectory dir;
    CopyFiles(OurTemplate(), dir.Path());
    TOurTable table(dir.Path(), access);
    std::vector<std::uint8_t> probe = table.Buffer(), record = table.Buffer();
    std::int64_t found = 0, sum = 0;
    TStopwatch watch;
    for (std::int32_t id : ProbeIds()) {
      table.Fill(probe, {id, "", 0});
      if (read == TRead::FindCopies) {
        found += table.cursor->Find(probe.data(), {}, record.data()) ? 1 : 0;
      } else {
        found += table.cursor->Find(probe.data(), {}) ? 1 : 0;
        table.cursor->GetCurrentRecord(record.data());
      }
      sum += record.back();
    }
    const double seconds = watch.Elapsed();
    benchmark::DoNotOptimize(sum);
    if (found != Rows()) state.SkipWithError("finds missed keys");
    Report(state,
           std::string("find ") + AccessName(access) +
               (read == TRead::FindCopies ? " Find(record out)" : " Find+GetCurrentRecord") + " Tarn",
           seconds, Rows());
  }
}

// Find the row, read it, give it a new AMOUNT (a secondary key) and modify it.
void BM_Modify_Tarn(benchmark::State& state) {
  const auto access = static_cast<TAccess>(state.range(0));
  const auto commit = static_cast<TCommit>(state.range(1));
  for (auto _ : state) {
    TempDirectory dir;
    CopyFiles(OurTemplate(), dir.Path());
    TOurTable table(dir.Path(), access);
    std::vector<std::uint8_t> probe = table.Buffer(), record = table.Buffer();
    std::int64_t found = 0;
    int done = 0;
    TStopwatch watch;
    for (std::size_t i = 0; i < ProbeIds().size(); ++i) {
      table.StartBatch(commit, done);
      table.Fill(probe, {ProbeIds()[i], "", 0});
      found += table.cursor->Find(probe.data(), {}) ? 1 : 0;
      table.cursor->GetCurrentRecord(record.data());
      std::uint8_t amount[4];
      StoreInt32(amount, NewAmounts()[i]);
      table.cursor->PutField(kAmountField, record.data(), amount);
      // The next Find places the cursor, so the modify need not reposition.
      table.cursor->ModifyRecord(record.data(), {.Reposition = false, .Unlock = false});
      table.EndBatch(commit, ++done);
    }
    table.Close();
    const double seconds = watch.Elapsed();
    if (found != Rows()) state.SkipWithError("modifies missed keys");
    Report(state, std::string("modify ") + AccessName(access) + " " + CommitName(commit) + " Tarn", seconds,
           Rows());
  }
}

// --- SQLite ----------------------------------------------------------------------

struct TSqlite {
  sqlite3* db = nullptr;

  TSqlite(const std::string& file, TAccess access) {
    sqlite3_open(file.c_str(), &db);
    Exec("PRAGMA synchronous=OFF");
    if (access == TAccess::Exclusive) Exec("PRAGMA locking_mode=EXCLUSIVE");
  }
  ~TSqlite() {
    if (db != nullptr) sqlite3_close(db);
  }
  TSqlite(const TSqlite&) = delete;
  TSqlite& operator=(const TSqlite&) = delete;

  void Exec(const char* sql) {
    char* error = nullptr;
    if (sqlite3_exec(db, sql, nullptr, nullptr, &error) != SQLITE_OK) {
      std::fprintf(stderr, "SQLite: %s: %s\n", sql, error != nullptr ? error : "?");
      sqlite3_free(error);
      std::abort();
    }
  }
  sqlite3_stmt* Prepare(const char* sql) {
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(db, sql, -1, &statement, nullptr) != SQLITE_OK) {
      std::fprintf(stderr, "SQLite: %s: %s\n", sql, sqlite3_errmsg(db));
      std::abort();
    }
    return statement;
  }
  void StartBatch(TCommit commit, int done) {
    if (commit == TCommit::Batched && done % kBatch == 0) Exec("BEGIN");
  }
  void EndBatch(TCommit commit, int done) {
    if (commit == TCommit::Batched && (done % kBatch == 0 || done == Rows())) Exec("COMMIT");
  }
  void Close() {
    sqlite3_close(db);
    db = nullptr;
  }

  static void Create(const std::string& file) {
    TSqlite s(file, TAccess::Shared);
    s.Exec(
        "CREATE TABLE t(id INTEGER PRIMARY KEY, name TEXT, amount INTEGER);"
        "CREATE INDEX t_name ON t(name); CREATE INDEX t_amount ON t(amount);");
  }
};

void StepDone(sqlite3_stmt* statement) {
  if (sqlite3_step(statement) != SQLITE_DONE) std::abort();
  sqlite3_reset(statement);
}

void AppendAll(TSqlite& s, TCommit commit) {
  sqlite3_stmt* insert = s.Prepare("INSERT INTO t(id, name, amount) VALUES (?, ?, ?)");
  int done = 0;
  for (const TRow& row : Data()) {
    s.StartBatch(commit, done);
    sqlite3_bind_int(insert, 1, row.Id);
    sqlite3_bind_text(insert, 2, row.Name.data(), static_cast<int>(row.Name.size()), SQLITE_STATIC);
    sqlite3_bind_int(insert, 3, row.Amount);
    StepDone(insert);
    s.EndBatch(commit, ++done);
  }
  sqlite3_finalize(insert);
}

const std::string& SqliteTemplate() {
  static const std::string file = [] {
    const std::string dir = TemplateDirectory() + "sqlite/";
    std::filesystem::create_directory(dir);
    const std::string name = dir + "bench.sqlite";
    TSqlite::Create(name);
    TSqlite s(name, TAccess::Exclusive);
    AppendAll(s, TCommit::Batched);
    return name;
  }();
  return file;
}

std::int64_t RowCount(const std::string& file) {
  TSqlite s(file, TAccess::Shared);
  sqlite3_stmt* count = s.Prepare("SELECT count(*) FROM t");
  const std::int64_t n = sqlite3_step(count) == SQLITE_ROW ? sqlite3_column_int64(count, 0) : -1;
  sqlite3_finalize(count);
  return n;
}

void BM_Append_SQLite(benchmark::State& state) {
  const auto access = static_cast<TAccess>(state.range(0));
  const auto commit = static_cast<TCommit>(state.range(1));
  for (auto _ : state) {
    TempDirectory dir;
    const std::string file = dir.Path() + "bench.sqlite";
    TSqlite::Create(file);
    TSqlite s(file, access);
    TStopwatch watch;
    AppendAll(s, commit);
    s.Close();
    const double seconds = watch.Elapsed();
    if (RowCount(file) != Rows()) state.SkipWithError("inserts missing");
    Report(state, std::string("append ") + AccessName(access) + " " + CommitName(commit) + " SQLite", seconds,
           Rows());
  }
}

void BM_Find_SQLite(benchmark::State& state) {
  const auto access = static_cast<TAccess>(state.range(0));
  for (auto _ : state) {
    TempDirectory dir;
    std::filesystem::copy_file(SqliteTemplate(), dir.Path() + "bench.sqlite");
    TSqlite s(dir.Path() + "bench.sqlite", access);
    sqlite3_stmt* select = s.Prepare("SELECT * FROM t WHERE id = ?");
    std::int64_t found = 0, sum = 0;
    TStopwatch watch;
    for (std::int32_t id : ProbeIds()) {
      sqlite3_bind_int(select, 1, id);
      if (sqlite3_step(select) == SQLITE_ROW) {
        ++found;
        sum += sqlite3_column_int(select, 2);
        benchmark::DoNotOptimize(sqlite3_column_text(select, 1));
      }
      sqlite3_reset(select);
    }
    const double seconds = watch.Elapsed();
    sqlite3_finalize(select);
    benchmark::DoNotOptimize(sum);
    if (found != Rows()) state.SkipWithError("selects missed keys");
    Report(state, std::string("find ") + AccessName(access) + " SELECT * WHERE id=? SQLite", seconds, Rows());
  }
}

void BM_Modify_SQLite(benchmark::State& state) {
  const auto access = static_cast<TAccess>(state.range(0));
  const auto commit = static_cast<TCommit>(state.range(1));
  for (auto _ : state) {
    TempDirectory dir;
    std::filesystem::copy_file(SqliteTemplate(), dir.Path() + "bench.sqlite");
    TSqlite s(dir.Path() + "bench.sqlite", access);
    sqlite3_stmt* update = s.Prepare("UPDATE t SET amount = ? WHERE id = ?");
    std::int64_t changed = 0;
    int done = 0;
    TStopwatch watch;
    for (std::size_t i = 0; i < ProbeIds().size(); ++i) {
      s.StartBatch(commit, done);
      sqlite3_bind_int(update, 1, NewAmounts()[i]);
      sqlite3_bind_int(update, 2, ProbeIds()[i]);
      StepDone(update);
      changed += sqlite3_changes(s.db);
      s.EndBatch(commit, ++done);
    }
    sqlite3_finalize(update);
    s.Close();
    const double seconds = watch.Elapsed();
    if (changed != Rows()) state.SkipWithError("updates missed rows");
    Report(state, std::string("modify ") + AccessName(access) + " " + CommitName(commit) + " SQLite", seconds,
           Rows());
  }
}

// Templates are built before the first timed run of any workload.
void BuildTemplates(const benchmark::State&) {
  OurTemplate();
  SqliteTemplate();
}

const std::vector<std::vector<std::int64_t>> kAccessAndCommit = {{0, 1}, {0, 1}};

// One timed pass over all rows per run; repetitions give the spread.
void Once(benchmark::internal::Benchmark* b) { b->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond); }

BENCHMARK(BM_Append_Tarn)->ArgsProduct(kAccessAndCommit)->ArgNames({"exclusive", "batched"})->Apply(Once);
BENCHMARK(BM_Append_SQLite)->ArgsProduct(kAccessAndCommit)->ArgNames({"exclusive", "batched"})->Apply(Once);
BENCHMARK(BM_Find_Tarn)
    ->Setup(BuildTemplates)
    ->ArgsProduct({{0, 1}, {0, 1}})
    ->ArgNames({"exclusive", "getcurrent"})
    ->Apply(Once);
BENCHMARK(BM_Find_SQLite)->Setup(BuildTemplates)->Arg(0)->Arg(1)->ArgName("exclusive")->Apply(Once);
BENCHMARK(BM_Modify_Tarn)
    ->Setup(BuildTemplates)
    ->ArgsProduct(kAccessAndCommit)
    ->ArgNames({"exclusive", "batched"})
    ->Apply(Once);
BENCHMARK(BM_Modify_SQLite)
    ->Setup(BuildTemplates)
    ->ArgsProduct(kAccessAndCommit)
    ->ArgNames({"exclusive", "batched"})
    ->Apply(Once);

// Ours beside SQLite per workload: (ours, SQLite) names as reported.
struct TPair {
  std::string Ours, Theirs;
};

std::vector<TPair> Pairs() {
  std::vector<TPair> pairs;
  for (const char* workload : {"append", "modify"})
    for (const char* access : {"shared", "exclusive"})
      for (const char* commit : {"per change", "batched"}) {
        const std::string stem = std::string(workload) + " " + access + " " + commit;
        pairs.push_back({stem + " Tarn", stem + " SQLite"});
      }
  for (const char* access : {"shared", "exclusive"})
    for (const char* read : {" Find(record out)", " Find+GetCurrentRecord"})
      pairs.push_back({std::string("find ") + access + read + " Tarn",
                       std::string("find ") + access + " SELECT * WHERE id=? SQLite"});
  return pairs;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  const std::size_t mid = v.size() / 2;
  return v.size() % 2 != 0 ? v[mid] : (v[mid - 1] + v[mid]) / 2;
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  const auto& s = Seconds();
  std::printf("\n%d rows, batches of %d; median of the runs; items/s and ours/SQLite time ratio\n", Rows(), kBatch);
  std::printf("%-46s %12s %12s %7s\n", "workload", "Tarn/s", "SQLite/s", "ratio");
  for (const TPair& pair : Pairs()) {
    const auto ours = s.find(pair.Ours);
    const auto theirs = s.find(pair.Theirs);
    if (ours == s.end() || theirs == s.end()) continue;
    const double a = Median(ours->second), b = Median(theirs->second);
    const std::string name = pair.Ours.substr(0, pair.Ours.size() - 5);
    std::printf("%-46s %12.0f %12.0f %7.2f\n", name.c_str(), Rows() / a, Rows() / b, a / b);
  }
  return 0;
}
