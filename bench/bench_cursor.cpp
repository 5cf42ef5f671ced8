// Cursor speed beside SQLite on one million people records (ID integer primary
// key, NAME string(20) with a secondary index, AMOUNT integer with an index,
// BALANCE integer holding the same values as AMOUNT without an index, CITY
// string(15)), the same rows in both engines, both table files on disk in one
// scratch directory and warm in the operating system's cache, each engine
// with its default caches of its own: full scans in physical and in NAME
// order, going to the n-th record in NAME order, and filters on one AMOUNT value
// (about 0.1 % of the records) answered through the index and, on BALANCE, by
// evaluating every record. SQLite runs prepared statements. The table is built
// once per process (an exclusive table, appends in transactions of 2,000
// records) and reused by every benchmark. After the benchmarks the program
// prints the CPU time per operation of each workload and the ratio ours / SQLite.
#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <stdlib.h>
#include <time.h>

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "cursor/data_cursor.h"
#include "storage/btree/btree.h"
#include "storage/keys/key_builder.h"
#include "storage/tables/quota_table.h"
#include "support/field_builders.h"

namespace {

using namespace tarn;
using tarn::testing::SessionOn;
using tarn::testing::TableClient;

constexpr std::int32_t kRecords = 1'000'000;
// AMOUNT takes this many values uniformly: one value selects about 0.1 %.
constexpr std::int32_t kAmountValues = 1000;
constexpr std::int32_t kTransactionSize = 2'000;
constexpr std::uint8_t kByName = 1;
constexpr std::uint16_t kIdField = 1, kNameField = 2, kAmountField = 3, kBalanceField = 4, kCityField = 5;

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

// Seconds per operation by "<workload> Tarn" / "<workload> SQLite".
std::map<std::string, double>& Seconds() {
  static std::map<std::string, double> seconds;
  return seconds;
}

void Record(const std::string& workload, Clock::time_point start, std::int64_t operations) {
  const double elapsed = Clock::now() - start;
  Seconds()[workload] = operations > 0 ? elapsed / static_cast<double>(operations) : 0.0;
}

std::string Scratch() {
  static const std::string dir = [] {
    std::string pattern = (std::filesystem::temp_directory_path() / "bench-cursor-XXXXXX").string();
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (::mkdtemp(buffer.data()) == nullptr) return std::string("/tmp/");
    return std::string(buffer.data()) + "/";
  }();
  return dir;
}

std::string Decimal(std::int64_t value) {
  char text[24];
  return std::string(text, std::to_chars(text, text + sizeof text, value).ptr);
}

// --- the rows --------------------------------------------------------------

struct Row {
  std::int32_t Id;
  std::string Name;
  std::int32_t Amount;
  std::string City;
};

// Seeded rows: names of 6 to 14 letters (capital first, so byte order and
// SQLite's BINARY order agree), amounts uniform over kAmountValues values.
std::vector<Row> MakeRows() {
  static const char* const kCities[] = {"Oslo", "Rome", "Paris", "Lima", "Quito", "Cairo", "Perth", "Turin"};
  std::vector<Row> rows;
  rows.reserve(kRecords);
  std::mt19937 random(20261210);
  for (std::int32_t id = 1; id <= kRecords; ++id) {
    Row row;
    row.Id = id;
    const std::size_t length = 6 + random() % 9;
    row.Name.push_back(static_cast<char>('A' + random() % 26));
    while (row.Name.size() < length) row.Name.push_back(static_cast<char>('a' + random() % 26));
    row.Amount = static_cast<std::int32_t>(random() % kAmountValues);
    row.City = kCities[random() % 8];
    rows.push_back(std::move(row));
  }
  return rows;
}

// Random operands drawn once, the same for both engines.
const std::vector<std::int32_t>& RecordNumbers() {
  static const std::vector<std::int32_t> numbers = [] {
    std::vector<std::int32_t> v(20'000);
    std::mt19937 random(99);
    for (auto& n : v) n = static_cast<std::int32_t>(1 + random() % kRecords);
    return v;
  }();
  return numbers;
}

const std::vector<std::int32_t>& AmountValues() {
  static const std::vector<std::int32_t> values = [] {
    std::vector<std::int32_t> v(2'000);
    std::mt19937 random(7);
    for (auto& n : v) n = static_cast<std::int32_t>(random() % kAmountValues);
    return v;
  }();
  return values;
}

// --- ours ------------------------------------------------------------------

TTableDefinition PeopleDefinition() {
  using test_support::MakeField;
  using test_support::MakeIndex;
  TTableDefinition def;
  def.Fields = {MakeField("ID", dtInteger), MakeField("NAME", dtString, 20), MakeField("AMOUNT", dtInteger),
                MakeField("BALANCE", dtInteger), MakeField("CITY", dtString, 15)};
  test_support::LayOut(def.Fields);
  def.Indexes.push_back(MakeIndex("", {kIdField}, def.Fields, true));
  def.Indexes.push_back(MakeIndex("ByName", {kNameField}, def.Fields, false));
  def.Indexes.push_back(MakeIndex("ByAmount", {kAmountField}, def.Fields, false));
  return def;
}

// Appends records with every key their indexes need (the deleted-records
// index included) under the table write lock, the way an insert keeps them.
class TAppender {
 public:
  explicit TAppender(TDataTable& table) : table_(table), client_(table) {
    std::vector<std::size_t> slots = {0};
    for (std::size_t s = 1; s <= table_.IndexFile().GetIndexCount(); ++s) slots.push_back(s);
    slots.push_back(kDeletedIndexSlot);
    for (std::size_t slot : slots) {
      auto index = std::make_unique<TSlot>();
      index->Slot = slot;
      index->Layout = MakeIndexKeyLayout(table_.IndexFile().Header().Slots[slot], table_.DataFile().Fields(), slot,
                                         table_.DataFile().GetLanguageID(), table_.DataFile().GetSortID());
      index->Comparator = std::make_unique<TLayoutKeyComparator>(index->Layout);
      index->Key.resize(index->Layout.KeySize());
      slots_.push_back(std::move(index));
    }
  }

  std::vector<std::uint8_t> Bytes(const Row& row) const {
    std::vector<std::uint8_t> bytes(table_.DataFile().GetRecordSize(), 0);
    const auto fields = table_.DataFile().Fields();
    auto put = [&](std::uint16_t n, const void* data, std::size_t size) {
      bytes[fields[n - 1u].FieldOffset] = 1;
      std::memcpy(&bytes[fields[n - 1u].FieldOffset + 1u], data, size);
    };
    std::uint8_t number[4];
    StoreInt32(number, row.Id);
    put(kIdField, number, 4);
    put(kNameField, row.Name.data(), std::min<std::size_t>(row.Name.size(), 20));
    StoreInt32(number, row.Amount);
    put(kAmountField, number, 4);
    put(kBalanceField, number, 4);
    put(kCityField, row.City.data(), std::min<std::size_t>(row.City.size(), 15));
    return bytes;
  }

  void Append(const Row& row) {
    const std::vector<std::uint8_t> fields = Bytes(row);
    for (;;) {
      TWriteLockScope scope(table_);
      TRecord* record = nullptr;
      if (!table_.DataFile().GetNextFreeRecord(&client_, record)) continue;
      record->Initialize(true);
      record->CopyRecordBuffer(fields.data());
      const std::int32_t number = record->Number();
      std::vector<std::uint8_t> bytes(record->GetRecordBufferPtr(), record->GetRecordBufferPtr() + fields.size());
      table_.DataFile().PutRecord(record);
      for (auto& index : slots_) {
        if (index->Layout.Kind == kkDeletedRecords) {
          BuildDeletedKey(bytes, index->Key);
        } else {
          BuildIndexKey(index->Layout, bytes, index->Key);
        }
        TIndexPath path;
        TBTree tree(table_.IndexFile(), &client_, index->Slot, *index->Comparator, path);
        if (index->Slot == 0 && tree.CheckForKeyViolation(index->Key.data())) RaiseError(TARN_KEYVIOL);
        tree.AddIndexKey(index->Key.data(), number);
      }
      table_.SetActualRecordCount(table_.IndexFile().GetActualRecordCount() + 1);
      scope.Commit();
      return;
    }
  }

 private:
  struct TSlot {
    std::size_t Slot = 0;
    TKeyLayout Layout;
    std::unique_ptr<TLayoutKeyComparator> Comparator;
    std::vector<std::uint8_t> Key;
  };
  TDataTable& table_;
  TableClient client_;
  std::vector<std::unique_ptr<TSlot>> slots_;
};

// --- SQLite ----------------------------------------------------------------

struct TSqlite {
  sqlite3* db = nullptr;
  TSqlite() {
    const std::string name = Scratch() + "people.sqlite";
    std::remove(name.c_str());
    sqlite3_open(name.c_str(), &db);
    // SQLite keeps its default page cache (2 MB), as our tables keep their
    // default record and page caches; both read the rest from the warm
    // operating-system cache.
    sqlite3_exec(db, "PRAGMA synchronous=OFF;", nullptr, nullptr, nullptr);
  }
  ~TSqlite() { sqlite3_close(db); }
  TSqlite(const TSqlite&) = delete;
  TSqlite& operator=(const TSqlite&) = delete;
  sqlite3_stmt* Prepare(const char* sql) const {
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(db, sql, -1, &statement, nullptr) != SQLITE_OK) {
      std::fprintf(stderr, "SQLite: %s\n", sqlite3_errmsg(db));
      std::abort();
    }
    return statement;
  }
};

// Finalizes a prepared statement at the end of its scope.
struct TStatement {
  sqlite3_stmt* s;
  explicit TStatement(sqlite3_stmt* statement) : s(statement) {}
  ~TStatement() { sqlite3_finalize(s); }
  TStatement(const TStatement&) = delete;
  TStatement& operator=(const TStatement&) = delete;
};

// --- the shared fixture ----------------------------------------------------

struct TFixture {
  std::unique_ptr<SessionOn> reader;
  TSqlite sqlite;
  double tarnBuildSeconds = 0, sqliteBuildSeconds = 0;

  TFixture() {
    const std::vector<Row> rows = MakeRows();
    BuildOurs(rows);
    BuildSqlite(rows);
    reader = std::make_unique<SessionOn>(Scratch());
  }

  void BuildOurs(const std::vector<Row>& rows) {
    const auto start = Clock::now();
    {
      SessionOn writer(Scratch());
      TDataTable* created = nullptr;
      if (int result = writer.directory->CreateDataTable("people", PeopleDefinition(), created); result < 0)
        RaiseError(static_cast<TarnErrorCode>(-result));
      TDataTable& table = writer.Open("people", true);
      TAppender appender(table);
      for (std::size_t i = 0; i < rows.size(); i += kTransactionSize) {
        writer.directory->StartTransaction();
        for (std::size_t j = i; j < std::min(rows.size(), i + kTransactionSize); ++j) appender.Append(rows[j]);
        writer.directory->CommitTransaction({.EndTransaction = true});
      }
    }
    tarnBuildSeconds = Clock::now() - start;
  }

  void BuildSqlite(const std::vector<Row>& rows) {
    const auto start = Clock::now();
    sqlite3_exec(sqlite.db,
                 "CREATE TABLE t(id INTEGER PRIMARY KEY, name TEXT, amount INTEGER, balance INTEGER, city TEXT);"
                 "BEGIN",
                 nullptr, nullptr, nullptr);
    {
      TStatement insert(sqlite.Prepare("INSERT INTO t VALUES (?, ?, ?, ?, ?)"));
      for (const Row& row : rows) {
        sqlite3_bind_int(insert.s, 1, row.Id);
        sqlite3_bind_text(insert.s, 2, row.Name.data(), static_cast<int>(row.Name.size()), SQLITE_STATIC);
        sqlite3_bind_int(insert.s, 3, row.Amount);
        sqlite3_bind_int(insert.s, 4, row.Amount);
        sqlite3_bind_text(insert.s, 5, row.City.data(), static_cast<int>(row.City.size()), SQLITE_STATIC);
        sqlite3_step(insert.s);
        sqlite3_reset(insert.s);
      }
    }
    sqlite3_exec(sqlite.db, "COMMIT; CREATE INDEX t_name ON t(name); CREATE INDEX t_amount ON t(amount); ANALYZE;",
                 nullptr, nullptr, nullptr);
    sqliteBuildSeconds = Clock::now() - start;
  }

  std::unique_ptr<TDataCursor> Cursor(std::uint8_t index) {
    auto cursor = std::make_unique<TDataCursor>(*reader->directory);
    cursor->SetTableName("people");
    cursor->OpenCursor();
    cursor->SetIndexPos(index);
    return cursor;
  }
};

std::unique_ptr<TFixture>& FixtureSlot() {
  static std::unique_ptr<TFixture> fixture;
  return fixture;
}

TFixture& Fixture() {
  auto& fixture = FixtureSlot();
  if (!fixture) fixture = std::make_unique<TFixture>();
  return *fixture;
}

std::int32_t IdOf(const TDataCursor& cursor, const std::uint8_t* record) {
  bool isNull = false;
  std::uint8_t value[4] = {};
  cursor.GetField(kIdField, record, value, isNull);
  return isNull ? 0 : LoadInt32(value);
}

// Walks the whole view and answers the number of records and the sum of their IDs.
std::pair<std::int64_t, std::int64_t> Walk(TDataCursor& cursor) {
  std::vector<std::uint8_t> buffer(cursor.GetRecordBufferSize());
  std::int64_t n = 0, sum = 0;
  cursor.SetToBegin();
  while (cursor.GetNextRecord(buffer.data()) == 0) {
    ++n;
    sum += IdOf(cursor, buffer.data());
  }
  return {n, sum};
}

std::pair<std::int64_t, std::int64_t> Steps(sqlite3_stmt* statement) {
  std::int64_t n = 0, sum = 0;
  while (sqlite3_step(statement) == SQLITE_ROW) {
    ++n;
    sum += sqlite3_column_int(statement, 0);
  }
  return {n, sum};
}

// --- 1, 2: full scans -------------------------------------------------------

void ScanTarn(benchmark::State& state, std::uint8_t index, const char* workload) {
  TFixture& f = Fixture();
  auto cursor = f.Cursor(index);
  Walk(*cursor);  // warm
  std::int64_t rows = 0;
  const auto start = Clock::now();
  for (auto _ : state) {
    const auto [n, sum] = Walk(*cursor);
    benchmark::DoNotOptimize(sum);
    if (n != kRecords) state.SkipWithError("scan missed records");
    rows += n;
  }
  Record(std::string(workload) + " Tarn", start, rows);
  state.SetItemsProcessed(rows);
}

void ScanSqlite(benchmark::State& state, const char* sql, const char* workload) {
  TFixture& f = Fixture();
  TStatement scan(f.sqlite.Prepare(sql));
  Steps(scan.s);  // warm
  sqlite3_reset(scan.s);
  std::int64_t rows = 0;
  const auto start = Clock::now();
  for (auto _ : state) {
    const auto [n, sum] = Steps(scan.s);
    sqlite3_reset(scan.s);
    benchmark::DoNotOptimize(sum);
    if (n != kRecords) state.SkipWithError("scan missed rows");
    rows += n;
  }
  Record(std::string(workload) + " SQLite", start, rows);
  state.SetItemsProcessed(rows);
}

void BM_ScanPhysical_Tarn(benchmark::State& state) { ScanTarn(state, kPhysicalOrder, "scan physical"); }
void BM_ScanPhysical_SQLite(benchmark::State& state) { ScanSqlite(state, "SELECT * FROM t", "scan physical"); }
void BM_ScanByName_Tarn(benchmark::State& state) { ScanTarn(state, kByName, "scan by name"); }
void BM_ScanByName_SQLite(benchmark::State& state) {
  ScanSqlite(state, "SELECT * FROM t ORDER BY name", "scan by name");
}

// The same walk through ReadRecordBlock, 256 records a call: one cursor
// operation per block, so the table read lock a cache miss takes serves the
// whole block, as SQLite's statement keeps its read lock for the whole scan.
void BM_ScanByNameBlocks_Tarn(benchmark::State& state) {
  TFixture& f = Fixture();
  auto cursor = f.Cursor(kByName);
  constexpr std::int32_t kBlock = 256;
  std::vector<std::uint8_t> buffers(static_cast<std::size_t>(kBlock) * cursor->GetRecordBufferSize());
  std::int64_t rows = 0;
  const auto start = Clock::now();
  for (auto _ : state) {
    cursor->SetToBegin();
    std::int64_t n = 0;
    std::int64_t sum = 0;
    for (;;) {
      std::int32_t count = kBlock;
      const std::uint16_t result = cursor->ReadRecordBlock(count, buffers.data());
      for (std::int32_t i = 0; i < count; ++i)
        sum += IdOf(*cursor, buffers.data() + static_cast<std::size_t>(i) * cursor->GetRecordBufferSize());
      n += count;
      if (result != 0) break;
    }
    benchmark::DoNotOptimize(sum);
    if (n != kRecords) state.SkipWithError("scan missed records");
    rows += n;
  }
  Record("scan by name in blocks Tarn", start, rows);
  state.SetItemsProcessed(rows);
}

// --- 3: the n-th record in NAME order ---------------------------------------

void BM_RecordNumber_Tarn(benchmark::State& state) {
  TFixture& f = Fixture();
  auto cursor = f.Cursor(kByName);
  std::vector<std::uint8_t> buffer(cursor->GetRecordBufferSize());
  const auto& numbers = RecordNumbers();
  std::size_t i = 0;
  std::int64_t sum = 0;
  const auto start = Clock::now();
  for (auto _ : state) {
    cursor->SetToRecordNumber(numbers[i++ % numbers.size()]);
    if (cursor->GetCurrentRecord(buffer.data()) != 0) state.SkipWithError("no current record");
    sum += IdOf(*cursor, buffer.data());
  }
  Record("n-th by name Tarn", start, state.iterations());
  benchmark::DoNotOptimize(sum);
  state.SetItemsProcessed(state.iterations());
}

// The like-for-like query: SQLite has no ordinal positions in its B-trees, so
// OFFSET steps over every row before the wanted one (linear in n).
void BM_RecordNumber_SQLite(benchmark::State& state) {
  TFixture& f = Fixture();
  TStatement select(f.sqlite.Prepare("SELECT * FROM t ORDER BY name LIMIT 1 OFFSET ?"));
  const auto& numbers = RecordNumbers();
  std::size_t i = 0;
  std::int64_t sum = 0;
  const auto start = Clock::now();
  for (auto _ : state) {
    sqlite3_bind_int(select.s, 1, numbers[i++ % numbers.size()] - 1);
    if (sqlite3_step(select.s) != SQLITE_ROW) state.SkipWithError("no row");
    sum += sqlite3_column_int(select.s, 0);
    sqlite3_reset(select.s);
  }
  Record("n-th by name SQLite", start, state.iterations());
  benchmark::DoNotOptimize(sum);
  state.SetItemsProcessed(state.iterations());
}

// Second reference: a point lookup by rowid, what SQLite answers fastest.
void BM_RowidLookup_SQLite(benchmark::State& state) {
  TFixture& f = Fixture();
  TStatement select(f.sqlite.Prepare("SELECT * FROM t WHERE rowid = ?"));
  const auto& numbers = RecordNumbers();
  std::size_t i = 0;
  std::int64_t sum = 0;
  const auto start = Clock::now();
  for (auto _ : state) {
    sqlite3_bind_int(select.s, 1, numbers[i++ % numbers.size()]);
    if (sqlite3_step(select.s) != SQLITE_ROW) state.SkipWithError("no row");
    sum += sqlite3_column_int(select.s, 0);
    sqlite3_reset(select.s);
  }
  Record("n-th by name SQLite rowid", start, state.iterations());
  benchmark::DoNotOptimize(sum);
  state.SetItemsProcessed(state.iterations());
}

// --- 4: filters on one AMOUNT value -------------------------------------------

enum class TFilterUse : std::uint8_t { Count, Walk };

// Builds the filter's bitmap and counts or walks its records; items are queries.
void FilterTarn(benchmark::State& state, const char* field, TFilterUse use, const std::string& workload) {
  TFixture& f = Fixture();
  auto cursor = f.Cursor(kPhysicalOrder);
  const auto& values = AmountValues();
  std::size_t i = 0;
  std::int64_t rows = 0, reads = 0;
  const auto start = Clock::now();
  for (auto _ : state) {
    TAddFilterOptions options;
    options.Text = std::string(field) + " = " + Decimal(values[i++ % values.size()]);
    options.CountCheck = true;
    const TFilterHandle handle = cursor->AddFilter(std::move(options));
    const std::int64_t before = cursor->FilterRecordReads();
    cursor->ActivateFilter(handle);
    reads += cursor->FilterRecordReads() - before;
    if (use == TFilterUse::Count) {
      rows += cursor->GetRecordCount();
    } else {
      const auto [n, sum] = Walk(*cursor);
      benchmark::DoNotOptimize(sum);
      rows += n;
    }
    cursor->DropFilter(handle);
  }
  Record(workload + " Tarn", start, state.iterations());
  state.SetItemsProcessed(state.iterations());
  state.counters["rows"] = benchmark::Counter(static_cast<double>(rows), benchmark::Counter::kAvgIterations);
  state.counters["reads"] = benchmark::Counter(static_cast<double>(reads), benchmark::Counter::kAvgIterations);
}

void FilterSqlite(benchmark::State& state, const char* sql, TFilterUse use, const std::string& workload) {
  TFixture& f = Fixture();
  TStatement select(f.sqlite.Prepare(sql));
  const auto& values = AmountValues();
  std::size_t i = 0;
  std::int64_t rows = 0;
  const auto start = Clock::now();
  for (auto _ : state) {
    sqlite3_bind_int(select.s, 1, values[i++ % values.size()]);
    if (use == TFilterUse::Count) {
      if (sqlite3_step(select.s) == SQLITE_ROW) rows += sqlite3_column_int(select.s, 0);
    } else {
      const auto [n, sum] = Steps(select.s);
      benchmark::DoNotOptimize(sum);
      rows += n;
    }
    sqlite3_reset(select.s);
  }
  Record(workload + " SQLite", start, state.iterations());
  state.SetItemsProcessed(state.iterations());
  state.counters["rows"] = benchmark::Counter(static_cast<double>(rows), benchmark::Counter::kAvgIterations);
}

void BM_FilterIndexedCount_Tarn(benchmark::State& state) {
  FilterTarn(state, "AMOUNT", TFilterUse::Count, "filter indexed count");
}
void BM_FilterIndexedCount_SQLite(benchmark::State& state) {
  FilterSqlite(state, "SELECT count(*) FROM t WHERE amount = ?", TFilterUse::Count, "filter indexed count");
}
void BM_FilterIndexedWalk_Tarn(benchmark::State& state) {
  FilterTarn(state, "AMOUNT", TFilterUse::Walk, "filter indexed walk");
}
void BM_FilterIndexedWalk_SQLite(benchmark::State& state) {
  FilterSqlite(state, "SELECT * FROM t WHERE amount = ?", TFilterUse::Walk, "filter indexed walk");
}
void BM_FilterFullCount_Tarn(benchmark::State& state) {
  FilterTarn(state, "BALANCE", TFilterUse::Count, "filter unindexed count");
}
void BM_FilterFullCount_SQLite(benchmark::State& state) {
  FilterSqlite(state, "SELECT count(*) FROM t WHERE balance = ?", TFilterUse::Count, "filter unindexed count");
}
void BM_FilterFullWalk_Tarn(benchmark::State& state) {
  FilterTarn(state, "BALANCE", TFilterUse::Walk, "filter unindexed walk");
}
void BM_FilterFullWalk_SQLite(benchmark::State& state) {
  FilterSqlite(state, "SELECT * FROM t WHERE balance = ?", TFilterUse::Walk, "filter unindexed walk");
}

BENCHMARK(BM_ScanPhysical_Tarn)->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ScanPhysical_SQLite)->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ScanByName_Tarn)->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ScanByName_SQLite)->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ScanByNameBlocks_Tarn)->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RecordNumber_Tarn)->Iterations(20'000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_RecordNumber_SQLite)->Iterations(40)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_RowidLookup_SQLite)->Iterations(20'000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_FilterIndexedCount_Tarn)->Iterations(500)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_FilterIndexedCount_SQLite)->Iterations(500)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_FilterIndexedWalk_Tarn)->Iterations(500)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_FilterIndexedWalk_SQLite)->Iterations(500)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_FilterFullCount_Tarn)->Iterations(5)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FilterFullCount_SQLite)->Iterations(5)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FilterFullWalk_Tarn)->Iterations(5)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FilterFullWalk_SQLite)->Iterations(5)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  if (FixtureSlot()) {
    std::printf("build of %d records: Tarn %.2f s  SQLite %.2f s\n", kRecords, FixtureSlot()->tarnBuildSeconds,
                FixtureSlot()->sqliteBuildSeconds);
  }
  auto& s = Seconds();
  // The block walk answers the same query as the record-by-record walk.
  if (s.count("scan by name SQLite") != 0) s["scan by name in blocks SQLite"] = s["scan by name SQLite"];
  for (const char* workload :
       {"scan physical", "scan by name", "scan by name in blocks", "n-th by name", "filter indexed count",
        "filter indexed walk", "filter unindexed count", "filter unindexed walk"}) {
    const auto ours = s.find(std::string(workload) + " Tarn");
    for (const char* reference : {" SQLite", " SQLite rowid"}) {
      const auto theirs = s.find(workload + std::string(reference));
      if (ours == s.end() || theirs == s.end() || theirs->second <= 0) continue;
      std::printf("%-24s%-13s Tarn %14.1f ns  SQLite %14.1f ns  ratio ours/SQLite %.3f\n", workload, reference + 1,
                  ours->second * 1e9, theirs->second * 1e9, ours->second / theirs->second);
    }
  }
  FixtureSlot().reset();
  std::error_code ignored;
  std::filesystem::remove_all(Scratch(), ignored);
  return 0;
}
