// Shared tables: appends to a table with one index, opened exclusively or shared
// (every shared append takes the write lock and publishes its headers), and the cost
// per lookup of full change detection under the table read lock against a plain
// cached lookup.
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

}  // namespace

BENCHMARK_MAIN();
