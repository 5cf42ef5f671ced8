// Throughput of the file layer's locks and registry: record lock + unlock
// (in-process lock list plus OFD lock) and open + close through the file list,
// with 1 and 8 threads.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <filesystem>
#include <string>
#include <vector>

#include "storage/files/file_handler.h"
#include "storage/files/lock_map.h"

namespace {

using namespace tarn;

// One scratch table file shared by every benchmark of the run.
const std::string& BenchFile() {
  static const std::string name = [] {
    std::string pattern = (std::filesystem::temp_directory_path() / "tarn-bench-XXXXXX").string();
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    const char* dir = ::mkdtemp(buffer.data());
    const std::string path = std::string(dir ? dir : "/tmp") + "/bench.DAT";
    TFileHandler h;
    h.SetFileName(path);
    h.CreateFile();
    h.Write("bench", 5);
    h.CloseFile();
    return path;
  }();
  return name;
}

// Each thread locks and unlocks its own record, as sessions of one process do.
void BM_RecordLockUnlock(benchmark::State& state) {
  TFileHandler h;
  h.SetFileName(BenchFile());
  h.OpenFile();
  TLockMap map;
  const auto record = static_cast<std::uint32_t>(state.thread_index() + 1);
  for (auto _ : state) {
    if (!map.LockRecord(h, record, {0, 0})) state.SkipWithError("lock failed");
    if (!map.UnlockRecord(h, record)) state.SkipWithError("unlock failed");
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_RecordLockUnlock)->Threads(1)->Threads(8)->UseRealTime();

// Reader token lock + unlock on an index-style file.
void BM_ReadTokenLockUnlock(benchmark::State& state) {
  TFileHandler h;
  h.SetFileName(BenchFile());
  h.OpenFile();
  TLockMap map;
  for (auto _ : state) {
    std::uint16_t token = 0;
    if (!map.LockRead(h, token) || !map.UnlockRead(h, token)) state.SkipWithError("read lock failed");
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ReadTokenLockUnlock)->Threads(1)->Threads(8)->UseRealTime();

// Open + close of one name through the process-wide file list. One handler
// stays open so the OS file stays open, as while a table is in use.
void BM_OpenCloseShared(benchmark::State& state) {
  static TFileHandler keeper;
  if (state.thread_index() == 0 && !keeper.IsOpen()) {
    keeper.SetFileName(BenchFile());
    keeper.OpenFile();
  }
  for (auto _ : state) {
    TFileHandler h;
    h.SetFileName(BenchFile());
    h.OpenFile();
    h.CloseFile();
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_OpenCloseShared)->Threads(1)->Threads(8)->UseRealTime();

// Open + close when nobody else holds the file: every open reaches the OS.
void BM_OpenCloseFirst(benchmark::State& state) {
  const std::string& base = BenchFile();
  const std::string name = base.substr(0, base.size() - 4) + std::to_string(state.thread_index()) + ".DAT";
  {
    TFileHandler h;
    h.SetFileName(name);
    h.CreateFile();
  }
  for (auto _ : state) {
    TFileHandler h;
    h.SetFileName(name);
    h.OpenFile();
    h.CloseFile();
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_OpenCloseFirst)->Threads(1)->Threads(8)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
