// Key comparison cost: an index over (Name string 30, Age integer), non-unique,
// compared for an ANSI Standard table (one byte comparison) and for a table
// with a language (string part by the locale collation), plus the raw locale
// string comparison and key building.
#include <benchmark/benchmark.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "platform/locale_services.h"
#include "storage/formats/data_types.h"
#include "storage/keys/key_builder.h"
#include "storage/keys/key_compare.h"

namespace {

using namespace tarn;

TKeyLayout MakeLayout(std::uint16_t languageID) {
  TKeyLayout layout;
  layout.LanguageID = languageID;
  layout.Unique = false;
  TKeyField name;
  name.DataType = dtString;
  name.PhysicalSize = 31;
  name.FieldOffset = 9;
  TKeyField age;
  age.DataType = dtInteger;
  age.PhysicalSize = 4;
  age.FieldOffset = 9 + 32;
  layout.Fields = {name, age};
  return layout;
}

std::vector<std::uint8_t> MakeRecord(std::int32_t id, const std::string& name, std::int32_t age) {
  std::vector<std::uint8_t> rec(9 + 32 + 5, 0);
  std::memcpy(rec.data() + 5, &id, 4);
  rec[9] = 1;
  std::memcpy(rec.data() + 10, name.data(), name.size());
  rec[41] = 1;
  std::memcpy(rec.data() + 42, &age, 4);
  return rec;
}

// 1024 keys with names sharing prefixes, as in a real index.
std::vector<std::vector<std::uint8_t>> MakeKeys(const TKeyLayout& layout) {
  std::mt19937 rng(42);
  static const char* kStems[] = {"Anderson", "Brown", "Clark", "M\xFCller", "Martin", "Smith", "Wilson", "Zhang"};
  std::vector<std::vector<std::uint8_t>> keys;
  for (int i = 0; i < 1024; ++i) {
    std::string name = kStems[rng() % 8];
    name += static_cast<char>('a' + rng() % 26);
    name += static_cast<char>('a' + rng() % 26);
    std::vector<std::uint8_t> key(layout.KeySize());
    BuildIndexKey(layout, MakeRecord(i + 1, name, static_cast<std::int32_t>(rng() % 90)), key);
    keys.push_back(std::move(key));
  }
  return keys;
}

void CompareKeysBench(benchmark::State& state, std::uint16_t languageID) {
  const TKeyLayout layout = MakeLayout(languageID);
  const auto keys = MakeKeys(layout);
  const std::size_t length = layout.KeySize();
  std::size_t i = 0;
  for (auto _ : state) {
    const auto& a = keys[i & 1023];
    const auto& b = keys[(i * 7 + 3) & 1023];
    benchmark::DoNotOptimize(CompareKeys(layout, a.data(), b.data(), length));
    ++i;
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
}

void BM_CompareKeys_Ansi(benchmark::State& state) { CompareKeysBench(state, 0); }
void BM_CompareKeys_EnglishUS(benchmark::State& state) { CompareKeysBench(state, 0x0409); }
void BM_CompareKeys_GermanPhoneBook(benchmark::State& state) {
  // Sort IDs other than 0 go through the same path with their own collator.
  const TKeyLayout base = MakeLayout(0x0407);
  TKeyLayout layout = base;
  layout.SortID = SRT_GERMAN_PHONE_BOOK;
  const auto keys = MakeKeys(layout);
  std::size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(
        CompareKeys(layout, keys[i & 1023].data(), keys[(i * 7 + 3) & 1023].data(), layout.KeySize()));
    ++i;
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
}

void BM_OSCompareStrings(benchmark::State& state) {
  const auto languageID = static_cast<std::uint16_t>(state.range(0));
  const char* a = "Wilson, Thomas";
  const char* b = "Wilson, Theresa";
  for (auto _ : state) benchmark::DoNotOptimize(OSCompareStrings(languageID, 0, a, false, 0, b));
}

void BM_BuildIndexKey(benchmark::State& state) {
  const TKeyLayout layout = MakeLayout(static_cast<std::uint16_t>(state.range(0)));
  const auto record = MakeRecord(77, "M\xFCller", 40);
  std::vector<std::uint8_t> key(layout.KeySize());
  for (auto _ : state) {
    BuildIndexKey(layout, record, key);
    benchmark::DoNotOptimize(key.data());
  }
}

BENCHMARK(BM_CompareKeys_Ansi);
BENCHMARK(BM_CompareKeys_EnglishUS);
BENCHMARK(BM_CompareKeys_GermanPhoneBook);
BENCHMARK(BM_OSCompareStrings)->Arg(0)->Arg(0x0409);
BENCHMARK(BM_BuildIndexKey)->Arg(0)->Arg(0x0409);

}  // namespace

BENCHMARK_MAIN();
