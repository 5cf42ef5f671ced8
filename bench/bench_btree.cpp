// B-tree speed beside SQLite: one million inserts of random integer keys,
// one million point lookups and a full ordered scan, on a unique integer
// index in a disk file (ours under the transaction lock, written out at the
// end like a commit) and on an indexed integer column in SQLite (prepared
// statements in one transaction). Both keep the whole index in their caches.
// After the benchmarks the program prints the ratio ours / SQLite per phase.
#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <numeric>
#include <random>
#include <string>
#include <vector>

#include "storage/btree/btree.h"
#include "storage/files/file_list.h"
#include "storage/btree/index_file.h"
#include "storage/keys/key_encoding.h"
#include "storage/files/table_link.h"

namespace {

using namespace tarn;

constexpr int kKeys = 1'000'000;

std::map<std::string, double>& Seconds() {
  static std::map<std::string, double> seconds;
  return seconds;
}

const std::vector<std::int32_t>& Keys() {
  static const std::vector<std::int32_t> keys = [] {
    std::vector<std::int32_t> v(kKeys);
    std::iota(v.begin(), v.end(), 0);
    std::mt19937 rng(12345);
    std::shuffle(v.begin(), v.end(), rng);
    for (auto& k : v) k = k * 7 - 3'000'000;  // spread over negative and positive values
    return v;
  }();
  return keys;
}

const std::vector<std::int32_t>& LookupOrder() {
  static const std::vector<std::int32_t> order = [] {
    std::vector<std::int32_t> v = Keys();
    std::mt19937 rng(777);
    std::shuffle(v.begin(), v.end(), rng);
    return v;
  }();
  return order;
}

std::string Scratch() {
  static const std::string dir = [] {
    std::string pattern = (std::filesystem::temp_directory_path() / "bench-btree-XXXXXX").string();
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (::mkdtemp(buffer.data()) == nullptr) return std::string("/tmp/");
    return std::string(buffer.data()) + "/";
  }();
  return dir;
}

// --- ours ------------------------------------------------------------------

// The table's part: short reads accepted; the benchmark sets the transaction flag.
struct TBenchTableLink : TStandaloneTableLink {
  TBenchTableLink() { shortReads = true; }
};

struct TOurs {
  TBenchTableLink link;
  std::unique_ptr<TIndexFile> file;
  std::unique_ptr<TLayoutKeyComparator> cmp;
  TIndexPath path;
  std::unique_ptr<TBTree> tree;

  TOurs() {
    file = std::make_unique<TIndexFile>();
    file->SetTableLink(&link);
    file->SetFileName(Scratch() + "BENCH.IDX");
    file->CreateFile();
    TIndexDefinition& def = file->MutableHeader().Slots[0];
    def.KeySize = 5;
    def.Unique = 1;
    def.Compression = icNone;
    def.KeyFieldCount = 1;
    def.KeyFields[0] = 1;
    TKeyLayout layout;
    cmp = std::make_unique<TLayoutKeyComparator>(layout);
    tree = std::make_unique<TBTree>(*file, nullptr, 0, *cmp, path);
  }
};

TOurs& Ours() {
  static TOurs ours;
  return ours;
}

void Key(std::int32_t v, std::uint8_t* key) {
  key[0] = 1;
  FlipIntegerBits(v, key + 1);
}

void BM_Insert_Tarn(benchmark::State& state) {
  for (auto _ : state) {
    TOurs& ours = Ours();
    const auto start = std::chrono::steady_clock::now();
    ours.link.transaction = true;
    std::uint8_t key[5];
    std::int32_t record = 0;
    for (const std::int32_t v : Keys()) {
      Key(v, key);
      ours.tree->AddIndexKey(key, ++record);
    }
    ours.link.transaction = false;
    ours.file->FlushPageBuffers();
    ours.file->WriteHeader(false);
    Seconds()["insert Tarn"] = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    state.counters["pages"] = ours.file->GetPhysicalPagesUsed();
  }
}

void BM_Lookup_Tarn(benchmark::State& state) {
  for (auto _ : state) {
    TOurs& ours = Ours();
    const auto start = std::chrono::steady_clock::now();
    std::uint8_t key[5];
    std::int64_t found = 0;
    for (const std::int32_t v : LookupOrder()) {
      Key(v, key);
      found += ours.tree->SearchIndexKeys(key) ? 1 : 0;
    }
    Seconds()["lookup Tarn"] = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (found != kKeys) state.SkipWithError("lookups missed keys");
  }
}

void BM_Scan_Tarn(benchmark::State& state) {
  for (auto _ : state) {
    TOurs& ours = Ours();
    const auto start = std::chrono::steady_clock::now();
    std::int64_t n = 0, sum = 0;
    ours.tree->ScanKeys([&](const std::uint8_t*, std::int32_t record) {
      ++n;
      sum += record;
      return true;
    });
    Seconds()["scan Tarn"] = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    benchmark::DoNotOptimize(sum);
    if (n != kKeys) state.SkipWithError("scan missed keys");
  }
}

// --- SQLite ----------------------------------------------------------------

struct TSqlite {
  sqlite3* db = nullptr;
  TSqlite() {
    const std::string name = Scratch() + "bench.sqlite";
    std::remove(name.c_str());
    sqlite3_open(name.c_str(), &db);
    sqlite3_exec(db, "PRAGMA synchronous=OFF; PRAGMA cache_size=-262144;", nullptr, nullptr, nullptr);
    sqlite3_exec(db, "CREATE TABLE t(k INTEGER, r INTEGER); CREATE INDEX tk ON t(k);", nullptr, nullptr, nullptr);
  }
  ~TSqlite() { sqlite3_close(db); }
};

TSqlite& Sqlite() {
  static TSqlite s;
  return s;
}

void BM_Insert_SQLite(benchmark::State& state) {
  for (auto _ : state) {
    sqlite3* db = Sqlite().db;
    const auto start = std::chrono::steady_clock::now();
    sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
    sqlite3_stmt* insert = nullptr;
    sqlite3_prepare_v2(db, "INSERT INTO t(k, r) VALUES (?, ?)", -1, &insert, nullptr);
    std::int32_t record = 0;
    for (const std::int32_t v : Keys()) {
      sqlite3_bind_int(insert, 1, v);
      sqlite3_bind_int(insert, 2, ++record);
      sqlite3_step(insert);
      sqlite3_reset(insert);
    }
    sqlite3_finalize(insert);
    sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
    Seconds()["insert SQLite"] = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  }
}

void BM_Lookup_SQLite(benchmark::State& state) {
  for (auto _ : state) {
    sqlite3* db = Sqlite().db;
    const auto start = std::chrono::steady_clock::now();
    sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
    sqlite3_stmt* select = nullptr;
    sqlite3_prepare_v2(db, "SELECT rowid FROM t WHERE k = ?", -1, &select, nullptr);
    std::int64_t found = 0;
    for (const std::int32_t v : LookupOrder()) {
      sqlite3_bind_int(select, 1, v);
      if (sqlite3_step(select) == SQLITE_ROW) ++found;
      sqlite3_reset(select);
    }
    sqlite3_finalize(select);
    sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
    Seconds()["lookup SQLite"] = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (found != kKeys) state.SkipWithError("lookups missed keys");
  }
}

void BM_Scan_SQLite(benchmark::State& state) {
  for (auto _ : state) {
    sqlite3* db = Sqlite().db;
    const auto start = std::chrono::steady_clock::now();
    sqlite3_stmt* scan = nullptr;
    sqlite3_prepare_v2(db, "SELECT k, rowid FROM t ORDER BY k", -1, &scan, nullptr);
    std::int64_t n = 0, sum = 0;
    while (sqlite3_step(scan) == SQLITE_ROW) {
      ++n;
      sum += sqlite3_column_int64(scan, 1);
    }
    sqlite3_finalize(scan);
    Seconds()["scan SQLite"] = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    benchmark::DoNotOptimize(sum);
    if (n != kKeys) state.SkipWithError("scan missed keys");
  }
}

BENCHMARK(BM_Insert_Tarn)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Insert_SQLite)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Lookup_Tarn)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Lookup_SQLite)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Scan_Tarn)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Scan_SQLite)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  const auto& s = Seconds();
  for (const char* phase : {"insert", "lookup", "scan"}) {
    const auto ours = s.find(std::string(phase) + " Tarn");
    const auto theirs = s.find(std::string(phase) + " SQLite");
    if (ours == s.end() || theirs == s.end() || theirs->second <= 0) continue;
    std::printf("%-7s Tarn %8.3f s  SQLite %8.3f s  ratio ours/SQLite %.2f\n", phase, ours->second, theirs->second,
                ours->second / theirs->second);
  }
  Ours().file->CloseFile();
  std::error_code ignored;
  std::filesystem::remove_all(Scratch(), ignored);
  return 0;
}
