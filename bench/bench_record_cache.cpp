// Record cache throughput: cached lookups, a cold forward scan with
// read-ahead, writing dirty runs, and sorting a result-sized table.
#include <benchmark/benchmark.h>

#include <stdlib.h>

#include <cstring>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "storage/records/data_file.h"
#include "storage/formats/record_layout.h"

namespace {

using namespace tarn;

struct TBenchTable : TStandaloneTableLink {
  TBenchTable() { strict = true; }
};

// A table of `records` records: NAME string(20), LIMIT integer.
class TBenchFile {
 public:
  explicit TBenchFile(std::int32_t records) {
    char pattern[] = "/tmp/tarn-bench-XXXXXX";
    dir_ = mkdtemp(pattern);
    table_.directory = dir_ + "/";
    std::vector<TFieldDefinition> fields(2, MakeEmptyFieldDefinition());
    fields[0].Name.Assign("NAME");
    fields[0].DataType = dtString;
    fields[0].Size = 20;
    fields[1].Name.Assign("LIMIT");
    fields[1].DataType = dtInteger;
    std::uint16_t offset = kRecordHeaderSize;
    for (std::size_t i = 0; i < fields.size(); ++i) {
      fields[i].FieldNumber = static_cast<std::uint16_t>(i + 1);
      UpdateFieldSize(fields[i]);
      fields[i].FieldOffset = offset;
      offset = static_cast<std::uint16_t>(offset + fields[i].PhysicalSize + 1);
    }
    file_ = std::make_unique<TDataFile>();
    file_->SetFileName(dir_ + "/BENCH.DAT");
    file_->SetTableLink(&table_);
    file_->CreateDataFile(0, 0, 1, 0, false, "", "", 512, fields);
    std::mt19937 random(7);
    for (std::int32_t n = 1; n <= records; ++n) {
      TRecord* record = nullptr;
      file_->GetRecord(nullptr, n, record);
      record->Initialize(true);
      StoreInt32(record->GetRecordBufferPtr() + 32, static_cast<std::int32_t>(random() % 1000));
      record->SetDirty(true);
      file_->PutRecord(record);
    }
    file_->FlushRecordBuffers();
    file_->WriteHeader(true);
    file_->WriteFields();
  }
  ~TBenchFile() {
    file_.reset();
    std::filesystem::remove_all(dir_);
  }
  TDataFile& File() { return *file_; }

 private:
  std::string dir_;
  TBenchTable table_;
  std::unique_ptr<TDataFile> file_;
};

void BM_CachedRecordLookup(benchmark::State& state) {
  TBenchFile bench(400);
  TDataFile& file = bench.File();
  std::mt19937 random(1);
  for (auto _ : state) {
    TRecord* record = nullptr;
    file.GetRecord(nullptr, static_cast<std::int32_t>(random() % 400) + 1, record, {.ReadAhead = true});
    benchmark::DoNotOptimize(record->GetRecordBufferPtr());
    file.PutRecord(record);
  }
}
BENCHMARK(BM_CachedRecordLookup);

void BM_ColdForwardScanWithReadAhead(benchmark::State& state) {
  const auto records = static_cast<std::int32_t>(state.range(0));
  TBenchFile bench(records);
  TDataFile& file = bench.File();
  for (auto _ : state) {
    file.FreeRecordBuffers();
    for (std::int32_t n = 1; n <= records; ++n) {
      TRecord* record = nullptr;
      file.GetRecord(nullptr, n, record, {.ReadAhead = true});
      file.PutRecord(record);
    }
  }
  state.SetItemsProcessed(state.iterations() * records);
}
BENCHMARK(BM_ColdForwardScanWithReadAhead)->Arg(10000)->Arg(1000000)->Unit(benchmark::kMillisecond);

void BM_FlushDirtyRuns(benchmark::State& state) {
  TBenchFile bench(400);
  TDataFile& file = bench.File();
  for (auto _ : state) {
    for (std::int32_t n = 1; n <= 400; n += (n % 10 == 0 ? 2 : 1)) {
      TRecord* record = nullptr;
      file.GetRecord(nullptr, n, record, {.ReadAhead = true});
      record->SetDirty(true);
      file.PutRecord(record);
    }
    file.FlushRecordBuffers();
  }
}
BENCHMARK(BM_FlushDirtyRuns);

void BM_SortRecords(benchmark::State& state) {
  const auto records = static_cast<std::int32_t>(state.range(0));
  TBenchFile bench(records);
  TDataFile& file = bench.File();
  TFieldDefinition def;
  file.GetFieldDefinitionByNumber(2, def);
  bool descending = false;
  for (auto _ : state) {
    def.Working.SortDescending = descending;
    descending = !descending;
    file.FreeRecordBuffers();
    benchmark::DoNotOptimize(file.SortRecordBuffers({&def, 1}, -1, {}));
  }
  state.SetItemsProcessed(state.iterations() * records);
}
BENCHMARK(BM_SortRecords)->Arg(20000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
