// Shared tables: appends to a table with one index, opened exclusively or shared
// (every shared append takes the write lock and publishes its headers), and the cost
// per lookup of full change detection under the table read lock against a plain
// cached lookup. The journal benchmarks compare shared appends (one and three
// indexes), modifies of a key field and a 1,000-row transaction commit with the
// rollback journal off, on, and on with power-loss durability, in one run.
#include <benchmark/benchmark.h>

#include "storage/tables/quota_table.h"

namespace {

using namespace tarn;
using namespace tarn::testing;

void BM_Append(benchmark::State& state) {
  const bool exclusive = state.range(0) != 0;
  TempDirectory dir;
  CreateQuotaTable(dir.Path(), "quota");
  SessionOn session(dir.Path());
  TDataTable& table = session.Open("quota", exclusive);
  QuotaOps ops(table);
  std::int32_t id = 0;
  for (auto _ : state) ops.Append({++id, "bench", id});
  state.SetItemsProcessed(state.iterations());
  state.SetLabel(exclusive ? "exclusive" : "shared");
}
BENCHMARK(BM_Append)->Arg(1)->Arg(0)->Unit(benchmark::kMicrosecond);

// Looks a row up by key and reads it. With detection every lookup takes the table
// read lock, which compares the header stamps on disk (what strict change detection
// does per operation); without, a user read lock held throughout makes the lookups
// skip their own locks and run from the caches alone.
void BM_Lookup(benchmark::State& state) {
  const bool detect = state.range(0) != 0;
  TempDirectory dir;
  CreateQuotaTable(dir.Path(), "quota");
  SessionOn session(dir.Path(), true);
  TDataTable& table = session.Open("quota");
  QuotaOps ops(table);
  for (std::int32_t id = 1; id <= 1000; ++id) ops.Append({id, "row", id});
  if (!detect) table.UserReadLockTable();
  std::int32_t id = 0;
  for (auto _ : state) {
    id = id % 1000 + 1;
    benchmark::DoNotOptimize(ops.Read(ops.Find(id)));
  }
  if (!detect) table.UserReadUnlockTable();
  state.SetItemsProcessed(state.iterations());
  state.SetLabel(detect ? "with change detection" : "without change detection");
}
BENCHMARK(BM_Lookup)->Arg(1)->Arg(0);

// Journal settings by benchmark argument: 0 off, 1 on, 2 on and durable.
void ApplyJournalMode(SessionOn& session, std::int64_t mode, benchmark::State& state) {
  session.session.SetFlushJournaling(mode == 0 ? TFlushJournaling::fjOff : TFlushJournaling::fjOn);
  session.session.SetFlushDurability(mode == 2 ? TFlushDurability::fdPowerLoss : TFlushDurability::fdProcess);
  state.SetLabel(mode == 0 ? "journal off" : mode == 1 ? "journal on" : "journal on, durable");
}

// The quota table with secondary indexes on NAME and USED besides the primary one.
TTableDefinition ThreeIndexDefinition() {
  TTableDefinition def = QuotaDefinition();
  for (std::uint16_t field : {std::uint16_t{2}, std::uint16_t{3}}) {
    TIndexDefinition index{};
    index.Name.Assign(field == 2 ? "ByName" : "ByUsed");
    index.KeyFieldCount = 1;
    index.KeyFields[0] = field;
    index.Compression = icNone;
    index.KeySize = static_cast<std::uint16_t>(
        MakeIndexKeyLayout(index, def.Fields, static_cast<int>(def.Indexes.size()), 0, 0).KeySize());
    def.Indexes.push_back(index);
  }
  return def;
}

// Shared appends, each under the write lock with its own journaled flush.
void BM_JournalAppend(benchmark::State& state) {
  const bool threeIndexes = state.range(0) == 3;
  TempDirectory dir;
  CreateQuotaTable(dir.Path(), "quota", threeIndexes ? ThreeIndexDefinition() : QuotaDefinition());
  SessionOn session(dir.Path());
  ApplyJournalMode(session, state.range(1), state);
  QuotaOps ops(session.Open("quota"));
  std::int32_t id = 0;
  for (auto _ : state) ops.Append({++id, "bench" + std::to_string(id % 97), id});
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_JournalAppend)
    ->ArgsProduct({{1, 3}, {0, 1, 2}})
    ->ArgNames({"indexes", "journal"})
    ->Unit(benchmark::kMicrosecond);

// Modifies of the primary key field of a table of 2,000 rows: each moves a key
// inside the index and rewrites pages, the record and the headers.
void BM_JournalModifyKey(benchmark::State& state) {
  TempDirectory dir;
  CreateQuotaTable(dir.Path(), "quota");
  SessionOn session(dir.Path());
  QuotaOps ops(session.Open("quota"));
  for (std::int32_t id = 1; id <= 2000; ++id) ops.Append({id, "row", id});
  ApplyJournalMode(session, state.range(0), state);
  // Iteration i moves the oldest key, i, to 2000 + i.
  std::int32_t i = 0;
  for (auto _ : state) {
    ++i;
    ops.Rekey(i, {2000 + i, "row", i});
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_JournalModifyKey)->Arg(0)->Arg(1)->Arg(2)->ArgName("journal")->Unit(benchmark::kMicrosecond);

// A transaction appending 1,000 rows, timed from its start to its commit.
void BM_JournalCommit(benchmark::State& state) {
  TempDirectory dir;
  CreateQuotaTable(dir.Path(), "quota");
  SessionOn session(dir.Path());
  ApplyJournalMode(session, state.range(0), state);
  QuotaOps ops(session.Open("quota"));
  std::int32_t id = 0;
  for (auto _ : state) {
    session.directory->StartTransaction();
    for (int i = 0; i < 1000; ++i) ops.Append({++id, "bulk", id});
    session.directory->CommitTransaction({.EndTransaction = true});
  }
  state.SetItemsProcessed(state.iterations() * 1000);
}
BENCHMARK(BM_JournalCommit)->Arg(0)->Arg(1)->Arg(2)->ArgName("journal")->Unit(benchmark::kMillisecond);

// The journal check: a read lock taken and released (change detection included;
// with unchanged stamps no journal check runs), and the check alone, as an open
// and a lock that sees changed stamps make it (a stat of the journal file and a
// read of its first bytes).
void BM_ReadLock(benchmark::State& state) {
  TempDirectory dir;
  CreateQuotaTable(dir.Path(), "quota");
  SessionOn session(dir.Path());
  TDataTable& table = session.Open("quota");
  for (auto _ : state) {
    table.ReadLockTable();
    table.ReadUnlockTable();
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ReadLock);

void BM_JournalCheck(benchmark::State& state) {
  TempDirectory dir;
  CreateQuotaTable(dir.Path(), "quota");
  SessionOn session(dir.Path());
  const std::string journal = session.Open("quota").JournalFileName();
  for (auto _ : state) benchmark::DoNotOptimize(JournalExists(journal));
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_JournalCheck);

}  // namespace

BENCHMARK_MAIN();
