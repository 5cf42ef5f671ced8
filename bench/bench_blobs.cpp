// Throughput of BLOB storage for 1 MiB BLOBs: writing (rewriting one BLOB in
// place and flushing its blocks, and writing new BLOBs onto the end of the
// file) and reading (from a dropped block cache, so every block comes from
// the file), at 512-byte and 4096-byte blocks.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "storage/blobs/blob_buffer.h"
#include "storage/blobs/blob_file.h"

namespace {

using namespace tarn;

constexpr std::size_t kBlobSize = 1 << 20;

std::string ScratchFile() {
  std::string pattern = (std::filesystem::temp_directory_path() / "tarn-bench-blobs-XXXXXX").string();
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  const char* dir = ::mkdtemp(buffer.data());
  return std::string(dir != nullptr ? dir : "/tmp") + "/bench.BLB";
}

struct TScratch {
  explicit TScratch(std::int32_t blockSize) : name(ScratchFile()) {
    file.SetFileName(name);
    file.SetBlockSize(blockSize);
    file.CreateFile();
    file.WriteHeader(true);
    value.resize(kBlobSize);
    for (std::size_t i = 0; i < value.size(); ++i) value[i] = static_cast<std::uint8_t>(i * 131u + 7u);
  }
  ~TScratch() {
    file.CloseFile();
    std::filesystem::remove_all(std::filesystem::path(name).parent_path());
  }
  // Writes the value as a new BLOB (first block 0) or over the given one.
  std::int32_t Write(std::int32_t first, std::int32_t signature) {
    TBlobBuffer buffer(file, nullptr, 1, 1, first, signature - 1);
    buffer.SetSize(value.size());
    std::memcpy(buffer.GetBuffer(), value.data(), value.size());
    buffer.SetSignature(signature);
    buffer.Write();
    file.FlushBlockBuffers();
    file.WriteHeader(false);
    return buffer.FirstBlock();
  }

  std::string name;
  TBlobFile file;
  std::vector<std::uint8_t> value;
};

void BM_BlobRewrite(benchmark::State& state) {
  TScratch scratch(static_cast<std::int32_t>(state.range(0)));
  std::int32_t signature = 1;
  const std::int32_t first = scratch.Write(0, signature);
  for (auto _ : state) {
    ++signature;
    benchmark::DoNotOptimize(scratch.Write(first, signature));
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(kBlobSize));
}
BENCHMARK(BM_BlobRewrite)->Arg(512)->Arg(4096)->Unit(benchmark::kMillisecond);

void BM_BlobWriteNew(benchmark::State& state) {
  TScratch scratch(static_cast<std::int32_t>(state.range(0)));
  std::int32_t signature = 1;
  for (auto _ : state) {
    benchmark::DoNotOptimize(scratch.Write(0, ++signature));
    if (scratch.file.GetFileSize() > (256u << 20)) {
      state.PauseTiming();
      scratch.file.ClearHeader();
      state.ResumeTiming();
    }
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(kBlobSize));
}
BENCHMARK(BM_BlobWriteNew)->Arg(512)->Arg(4096)->Unit(benchmark::kMillisecond);

void BM_BlobRead(benchmark::State& state) {
  TScratch scratch(static_cast<std::int32_t>(state.range(0)));
  const std::int32_t first = scratch.Write(0, 1);
  for (auto _ : state) {
    scratch.file.FreeBlockBuffers();
    TBlobBuffer buffer(scratch.file, nullptr, 1, 1, first, 1);
    buffer.Read();
    if (buffer.GetSize() != kBlobSize) state.SkipWithError("short BLOB");
    benchmark::DoNotOptimize(buffer.GetBuffer());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(kBlobSize));
}
BENCHMARK(BM_BlobRead)->Arg(512)->Arg(4096)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
