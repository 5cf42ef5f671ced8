// Per-record cost of evaluating a typical filter,
// (A > 10 AND B LIKE 'x%') OR UPPER(C) = 'Y', over in-memory records: time
// per record and heap allocations per record after warm-up, for the verified
// tree as written and for the tree after filter preparation, on 1 and 8
// threads. Allocations are counted per thread by replacing the global
// operator new and delete of this program.
#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "core/errors.h"
#include "platform/code_page.h"
#include "expressions/exp_token_stack.h"
#include "expressions/expression_evaluator.h"
#include "expressions/expression_parser.h"
#include "expressions/expression_verifier.h"
#include "expressions/filter_preparation.h"
#include "storage/formats/data_types.h"

namespace {

thread_local std::uint64_t tAllocations = 0;

}  // namespace

// Counting replacements of the global allocation functions. GCC pairs the
// inlined malloc of the replaced operator new with the free of the replaced
// operator delete and warns about a mismatch that is none.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void* operator new(std::size_t size) {
  ++tAllocations;
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}
void* operator new[](std::size_t size) {
  ++tAllocations;
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
#pragma GCC diagnostic pop

namespace {

struct TBenchRecord {
  std::int32_t A;
  char B[21];
  char C[21];
};

struct TBenchColumn {
  const char* Name;
  std::uint8_t DataType;
  std::int32_t DataSize;
};

constexpr TBenchColumn kColumns[] = {{"A", tarn::dtInteger, 4}, {"B", tarn::dtString, 21}, {"C", tarn::dtString, 21}};

bool FindColumn(void*, tarn::TExpToken& node) {
  for (std::size_t i = 0; i < std::size(kColumns); ++i) {
    if (!tarn::AnsiSameText(kColumns[i].Name, node.FieldName)) continue;
    node.FieldNumber = static_cast<std::uint16_t>(i + 1);
    node.DataType = kColumns[i].DataType;
    node.DataSize = kColumns[i].DataSize;
    node.SubType = 0;
    node.Decimals = 0;
    return true;
  }
  return false;
}

// Reads a column of the record the way a cursor's field access does: the
// stored bytes into the node's value buffer.
void ReadField(void*, const std::uint8_t* record, tarn::TExpToken& node) {
  const auto* r = reinterpret_cast<const TBenchRecord*>(record);
  node.IsNull = false;
  switch (node.FieldNumber) {
    case 1:
      node.SetDataSize(4);
      std::memcpy(node.Value.data(), &r->A, 4);
      break;
    case 2:
      node.SetDataSize(21);
      std::memcpy(node.Value.data(), r->B, 21);
      node.IsNull = r->B[0] == 0;
      break;
    default:
      node.SetDataSize(21);
      std::memcpy(node.Value.data(), r->C, 21);
      node.IsNull = r->C[0] == 0;
      break;
  }
}

std::vector<TBenchRecord> MakeRecords() {
  std::vector<TBenchRecord> records(4096);
  std::uint32_t seed = 12345;
  auto next = [&] {
    seed = seed * 1103515245u + 12345u;
    return seed >> 8;
  };
  static const char* const kWords[] = {"xylophone", "apple", "xenon", "banana split", "y", "Y", "cherry", ""};
  for (auto& r : records) {
    r = TBenchRecord{};
    r.A = static_cast<std::int32_t>(next() % 20);
    std::strncpy(r.B, kWords[next() % 8], sizeof r.B - 1);
    std::strncpy(r.C, kWords[next() % 8], sizeof r.C - 1);
  }
  return records;
}

const std::vector<TBenchRecord>& Records() {
  static const std::vector<TBenchRecord> records = MakeRecords();
  return records;
}

tarn::TExpTokenPtr VerifiedFilter() {
  tarn::TExpressionParser parser;
  parser.ErrorCode = tarn::TARN_INVALIDFILTER;
  parser.ExpressionDescription = "filter expression";
  parser.SetExpression("(A > 10 AND B LIKE 'x%') OR UPPER(C) = 'Y'");
  parser.NextToken();
  tarn::TExpTokenPtr root = parser.ParseCompleteExpression(tarn::pmAllowExtPredicates);
  tarn::VerifyExpressionToken(parser.ErrorCode, "", "bench", true, FindColumn, nullptr, nullptr, *root,
                              parser.ExpressionDescription);
  return root;
}

std::size_t Matches(const tarn::TExpToken& filter, std::size_t begin, std::size_t count) {
  const auto& records = Records();
  std::size_t matches = 0;
  for (std::size_t i = 0; i < count; ++i) {
    const auto* record = reinterpret_cast<const std::uint8_t*>(&records[(begin + i) % records.size()]);
    tarn::TExpTokenPtr v = tarn::EvaluateExpressionToken(filter, record, nullptr, ReadField, 0, 0);
    matches += v->Value[0];
  }
  return matches;
}

void RunFilter(benchmark::State& state, bool prepared) {
  // Each thread has its own tree, as each cursor has its own filter.
  tarn::TExpTokenPtr verified = VerifiedFilter();
  tarn::TExpTokenPtr filter =
      prepared ? tarn::BuildNextFilterExpression(*verified, nullptr, ReadField) : std::move(verified);
  constexpr std::size_t kBatch = 1024;
  const std::size_t start = static_cast<std::size_t>(state.thread_index()) * 997;
  benchmark::DoNotOptimize(Matches(*filter, start, 4 * kBatch));  // warm-up: pool and buffers
  const std::uint64_t allocationsBefore = tAllocations;
  std::size_t evaluated = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(Matches(*filter, start + evaluated, kBatch));
    evaluated += kBatch;
  }
  const std::uint64_t allocations = tAllocations - allocationsBefore;
  state.SetItemsProcessed(static_cast<std::int64_t>(evaluated));
  state.counters["ns_per_record"] =
      benchmark::Counter(static_cast<double>(evaluated), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
  state.counters["allocs_per_record"] = benchmark::Counter(
      evaluated == 0 ? 0.0 : static_cast<double>(allocations) / static_cast<double>(evaluated),
      benchmark::Counter::kAvgThreads);
}

void BM_FilterVerified(benchmark::State& state) { RunFilter(state, false); }
void BM_FilterPrepared(benchmark::State& state) { RunFilter(state, true); }

BENCHMARK(BM_FilterVerified)->Threads(1)->Threads(8)->UseRealTime();
BENCHMARK(BM_FilterPrepared)->Threads(1)->Threads(8)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
