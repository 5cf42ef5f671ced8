// Randomized B-tree runs against an ordered model: inserts, deletes, updates,
// searches, ordinals and full scans over every leaf compression, small and
// large keys, unique and non-unique, ascending and descending indexes, with
// the tree's invariants checked along the way and pages re-read from the
// file after flushes.
#include <gtest/gtest.h>

#include <random>

#include "btree_test_support.h"

namespace tarn {
namespace {

using btree_testing::CheckTree;
using btree_testing::RaisedCode;
using btree_testing::TIndexFixture;
using btree_testing::TKey;
using btree_testing::TKeyLess;
using btree_testing::TSlotSpec;

struct TRandomCase {
  std::uint16_t KeySize;
  std::uint8_t Compression;
  bool Unique;
  bool Descending;
  bool Encrypted;
  int Operations;
  std::size_t Slot = 2;
};

std::string CaseName(const ::testing::TestParamInfo<TRandomCase>& info) {
  static const char* names[] = {"None", "Duplicate", "Trailing", "Full"};
  const TRandomCase& c = info.param;
  return std::string(names[c.Compression]) + "_K" + std::to_string(c.KeySize) + (c.Unique ? "_Unique" : "_Dup") +
         (c.Descending ? "_Desc" : "") + (c.Encrypted ? "_Enc" : "") +
         (c.Slot == kTextIndexSlot ? "_Text" : "");
}

class BTreeRandom : public ::testing::TestWithParam<TRandomCase> {};

// The model orders entries with the index's own comparison.
struct TModelLess {
  const TPageKeyComparator* Cmp;
  std::uint16_t KeySize;
  bool operator()(const TKey& a, const TKey& b) const { return Cmp->CompareKeys(a.data(), b.data(), KeySize) < 0; }
};

TEST_P(BTreeRandom, MatchesAnOrderedModel) {
  const TRandomCase c = GetParam();
  TIndexFixture fx("random" + CaseName({c, 0}), c.Encrypted);
  const TSlotSpec shape{c.KeySize, c.Unique, c.Descending, c.Compression};
  const std::size_t slot = c.Slot;
  // Only the text index lacks lower counts, so only there ordinals are off.
  const bool counted = slot != kTextIndexSlot;
  fx.DefineSlot(1, TSlotSpec{5, true, false, icNone});
  fx.DefineSlot(slot, shape);
  TBTree& tree = fx.Tree(slot);
  const TPageKeyComparator& cmp = fx.Comparator(slot);
  std::multiset<TKey, TModelLess> model(TModelLess{&cmp, c.KeySize});
  std::map<TKey, std::int32_t, TKeyLess> records;

  std::mt19937 rng(c.KeySize * 977u + c.Compression * 31u + c.Unique * 7u + c.Descending);
  std::int32_t nextRecord = 1;
  // Keys from a small alphabet with zero tails, so prefixes and trailing
  // zeros are common; the body is short enough to make unique collisions
  // happen now and then.
  auto makeKey = [&]() {
    TKey key(c.KeySize, 0);
    key[0] = 1;
    const std::size_t body = c.Unique ? c.KeySize - 1u : c.KeySize - 5u;
    if (body <= 5) {
      // Integer-like keys; non-unique indexes get many equal values.
      FlipIntegerBits(static_cast<std::int32_t>(rng() % (c.Unique ? 20000 : 50)), key.data() + 1);
    } else {
      const std::size_t used = 1 + rng() % 6;
      for (std::size_t i = 0; i < used; ++i) key[1 + i] = static_cast<std::uint8_t>('A' + rng() % 5);
    }
    if (!c.Unique) FlipIntegerBits(nextRecord, key.data() + c.KeySize - 4);
    return key;
  };
  auto check = [&]() {
    const auto report = CheckTree(*fx.file, &fx.cursor, slot, cmp);
    if (counted) {
      ASSERT_EQ(report.Keys, static_cast<std::int64_t>(model.size()));
    }
    ASSERT_EQ(report.Entries.size(), model.size());
    auto it = model.begin();
    for (const auto& [key, rn] : report.Entries) {
      ASSERT_EQ(key, *it);
      ASSERT_EQ(rn, records.at(key));
      ++it;
    }
    if (counted) {
      EXPECT_EQ(tree.GetKeyCount(), static_cast<std::int64_t>(model.size()));
    }
  };

  for (int op = 0; op < c.Operations; ++op) {
    const unsigned what = rng() % 100;
    if (what < 55 || model.empty()) {
      TKey key = makeKey();
      const bool present = model.count(key) != 0;
      EXPECT_EQ(tree.CheckForKeyViolation(key.data()), c.Unique && present);
      if (present) continue;
      tree.AddIndexKey(key.data(), nextRecord);
      model.insert(key);
      records[key] = nextRecord++;
    } else if (what < 90) {
      auto it = model.begin();
      std::advance(it, rng() % model.size());
      const TKey key = *it;
      ASSERT_TRUE(tree.VerifyIndexKey(key.data(), records[key]));
      tree.RemoveIndexKey(key.data());
      model.erase(it);
      records.erase(key);
      EXPECT_FALSE(tree.SearchIndexKeys(key.data()));
    } else if (what < 95) {
      // Change a key of a record.
      auto it = model.begin();
      std::advance(it, rng() % model.size());
      const TKey oldKey = *it;
      const std::int32_t rn = records[oldKey];
      TKey newKey = makeKey();
      if (!c.Unique) FlipIntegerBits(rn, newKey.data() + c.KeySize - 4);
      if (model.count(newKey) != 0) continue;
      tree.UpdateIndexKey(oldKey.data(), newKey.data(), rn);
      model.erase(it);
      records.erase(oldKey);
      model.insert(newKey);
      records[newKey] = rn;
    } else if (counted) {
      // Ordinals agree with the model.
      const std::int64_t ordinal = 1 + static_cast<std::int64_t>(rng() % model.size());
      TKey key(c.KeySize);
      std::int32_t rn = 0;
      ASSERT_TRUE(tree.SeekOrdinal(ordinal, key.data(), &rn));
      auto it = model.begin();
      std::advance(it, ordinal - 1);
      EXPECT_EQ(key, *it);
      EXPECT_EQ(rn, records[key]);
      EXPECT_EQ(tree.Path().KeysBefore, ordinal - 1);
      EXPECT_EQ(tree.CountKeysBefore(key.data()), ordinal - 1);
      EXPECT_FALSE(tree.SeekOrdinal(static_cast<std::int64_t>(model.size()) + 1));
    }
    if (op % 400 == 399) {
      check();
      if (::testing::Test::HasFailure()) return;
      if (op % 800 == 799) fx.FlushAndDrop();
    }
  }
  check();
  // Empty the index: the root goes, every page of the slot is free again.
  while (!model.empty()) {
    tree.RemoveIndexKey(model.begin()->data());
    model.erase(model.begin());
  }
  EXPECT_EQ(fx.file->GetRootPageNumber(slot), 0);
  fx.FlushAndDrop();
  const auto report = CheckTree(*fx.file, &fx.cursor, slot, cmp);
  EXPECT_EQ(static_cast<std::int32_t>(report.FreePages.size()), fx.file->GetPhysicalPagesUsed());
  EXPECT_EQ(fx.file->GetNextFreePageNumber(1), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Configurations, BTreeRandom,
    ::testing::Values(TRandomCase{5, icNone, true, false, false, 24000},
                      TRandomCase{5, icNone, true, true, false, 12000},
                      TRandomCase{9, icNone, false, false, false, 12000},
                      TRandomCase{40, icNone, false, true, true, 10000},
                      TRandomCase{522, icNone, true, false, false, 6000},
                      TRandomCase{522, icNone, false, true, false, 6000},
                      TRandomCase{5, icDuplicateByte, true, false, false, 12000},
                      TRandomCase{26, icDuplicateByte, false, false, false, 12000},
                      TRandomCase{130, icDuplicateByte, false, true, true, 8000},
                      TRandomCase{522, icDuplicateByte, true, false, false, 6000},
                      TRandomCase{6, icTrailingByte, true, false, false, 12000},
                      TRandomCase{30, icTrailingByte, false, true, false, 12000},
                      TRandomCase{260, icTrailingByte, true, false, true, 6000},
                      TRandomCase{522, icTrailingByte, false, false, false, 6000},
                      TRandomCase{5, icFull, true, false, false, 12000},
                      TRandomCase{26, icFull, false, false, false, 12000},
                      TRandomCase{68, icFull, true, true, false, 10000},
                      TRandomCase{200, icFull, false, true, true, 8000},
                      TRandomCase{522, icFull, false, false, false, 6000},
                      TRandomCase{68, icFull, true, false, false, 12000, kTextIndexSlot},
                      TRandomCase{68, icNone, true, false, true, 8000, kTextIndexSlot}),
    CaseName);

}  // namespace
}  // namespace tarn
