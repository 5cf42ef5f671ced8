// Tree shapes worked out from the page limits: the split of a root leaf into
// two leaves under a new root, merging, balancing with either sibling, root
// collapse, leftmost-path key updates, per-index free lists, and the page
// scans over a known page.
#include <gtest/gtest.h>

#include "btree_test_support.h"

namespace tarn {
namespace {

using btree_testing::CheckTree;
using btree_testing::Fetch;
using btree_testing::IntKey;
using btree_testing::RaisedCode;
using btree_testing::TIndexFixture;
using btree_testing::TKey;
using btree_testing::TSlotSpec;

// A unique uncompressed index over one integer field: key size 5, so a leaf
// holds 4083 div 9 = 453 entries and a branch 4083 div 13 = 314.
class IntegerIndex : public ::testing::Test {
 protected:
  IntegerIndex() : fx_("shape") { fx_.DefineSlot(0, TSlotSpec{5, true, false, icNone}); }
  void Add(std::int32_t v) { fx_.Tree().AddIndexKey(IntKey(v).data(), v); }
  void Remove(std::int32_t v) { fx_.Tree().RemoveIndexKey(IntKey(v).data()); }
  TPageRef Page(std::int32_t n) { return Fetch(*fx_.file, &fx_.cursor, 0, n); }
  btree_testing::TTreeReport Check() { return CheckTree(*fx_.file, &fx_.cursor, 0, fx_.Comparator()); }

  TIndexFixture fx_;
};

TEST_F(IntegerIndex, FirstKeyMakesARootLeaf) {
  Add(42);
  const std::int32_t root = fx_.file->GetRootPageNumber(0);
  ASSERT_EQ(root, 1);
  EXPECT_EQ(Page(root)->PageType(), ptRootLeaf);
  EXPECT_EQ(Page(root)->NumberOfKeyEntries(), 1);
  EXPECT_TRUE(fx_.Tree().VerifyIndexKey(IntKey(42).data(), 42));
  EXPECT_FALSE(fx_.Tree().VerifyIndexKey(IntKey(42).data(), 41));
}

TEST_F(IntegerIndex, SequentialKeysSplitTheRootLeafAndCollapseBack) {
  for (std::int32_t v = 1; v <= 453; ++v) Add(v);
  EXPECT_EQ(Page(1)->PageType(), ptRootLeaf);
  EXPECT_EQ(Page(1)->NumberOfKeyEntries(), 453);
  for (std::int32_t v = 454; v <= 455; ++v) Add(v);
  // The 454th key split the root leaf 227 / 227 under a new root (page 3);
  // the 455th went to the right leaf.
  const std::int32_t root = fx_.file->GetRootPageNumber(0);
  ASSERT_EQ(root, 3);
  {
    TPageRef r = Page(root);
    EXPECT_EQ(r->PageType(), ptRootBranch);
    ASSERT_EQ(r->NumberOfKeyEntries(), 2);
    EXPECT_EQ(r->GetRecordNumber(1), 1);
    EXPECT_EQ(r->GetRecordNumber(2), 2);
    EXPECT_EQ(r->GetLowerKeyEntryCount(1), 227);
    EXPECT_EQ(r->GetLowerKeyEntryCount(2), 228);
    EXPECT_EQ(r->GetTotalLowerKeyEntryCount(), 455);
    EXPECT_EQ(TKey(r->GetKeyEntryPtr(2), r->GetKeyEntryPtr(2) + 5), IntKey(228));
  }
  EXPECT_EQ(Page(1)->PageType(), ptLeaf);
  EXPECT_EQ(Page(2)->PageType(), ptLeaf);
  EXPECT_EQ(Page(1)->NumberOfKeyEntries(), 227);
  EXPECT_EQ(Page(2)->NumberOfKeyEntries(), 228);
  EXPECT_EQ(Page(1)->RightPageNumber(), 2);
  EXPECT_EQ(Page(2)->LeftPageNumber(), 1);
  auto report = Check();
  EXPECT_EQ(report.Levels, 2);
  // Survives a trip through the file.
  fx_.FlushAndDrop();
  EXPECT_EQ(Check().Keys, 455);

  // The right leaf (last child) drops below 453 div 2 = 226 after three
  // deletes; with 227 + 225 < 453 it merges into the left leaf, and the root
  // with one entry left gives way to it.
  Remove(455);
  Remove(454);
  EXPECT_EQ(fx_.file->GetRootPageNumber(0), 3);
  Remove(453);
  EXPECT_EQ(fx_.file->GetRootPageNumber(0), 1);
  EXPECT_EQ(Page(1)->PageType(), ptRootLeaf);
  EXPECT_EQ(Page(1)->NumberOfKeyEntries(), 452);
  EXPECT_EQ(Page(1)->RightPageNumber(), 0);
  // Both freed pages are on the index's free list: the old root on top.
  EXPECT_EQ(fx_.file->GetNextFreePageNumber(0), 3);
  EXPECT_EQ(Page(3)->RightPageNumber(), 2);
  report = Check();
  EXPECT_EQ(report.Levels, 1);
  EXPECT_EQ(report.FreePages, (std::set<std::int32_t>{2, 3}));
  // The next split reuses the free pages instead of growing the file.
  const std::int32_t used = fx_.file->GetPhysicalPagesUsed();
  Add(1000);
  Add(1001);
  EXPECT_EQ(fx_.file->GetRootPageNumber(0), 2);
  EXPECT_EQ(fx_.file->GetPhysicalPagesUsed(), used);
  Check();
}

TEST_F(IntegerIndex, FirstChildBalancesWithThenMergesIntoItsRightSibling) {
  for (std::int32_t v = 1; v <= 455; ++v) Add(v);
  // Left leaf 227 -> 225: 225 + 228 = 453 is not below 453, so the pages
  // balance: the left keeps 226, the right 227, and the root's second key
  // becomes the right page's new first key.
  Remove(1);
  Remove(2);
  {
    TPageRef r = Page(3);
    EXPECT_EQ(r->GetLowerKeyEntryCount(1), 226);
    EXPECT_EQ(r->GetLowerKeyEntryCount(2), 227);
    EXPECT_EQ(TKey(r->GetKeyEntryPtr(2), r->GetKeyEntryPtr(2) + 5), IntKey(229));
    EXPECT_EQ(TKey(r->GetKeyEntryPtr(1), r->GetKeyEntryPtr(1) + 5), IntKey(3));
  }
  Check();
  // One more: 225 + 227 < 453, the left page goes into the right one and
  // the right page becomes the root leaf.
  Remove(3);
  EXPECT_EQ(fx_.file->GetRootPageNumber(0), 2);
  EXPECT_EQ(Page(2)->PageType(), ptRootLeaf);
  EXPECT_EQ(Page(2)->NumberOfKeyEntries(), 452);
  EXPECT_EQ(Check().FreePages, (std::set<std::int32_t>{1, 3}));
}

TEST_F(IntegerIndex, LastChildBalancesWithItsLeftSibling) {
  for (std::int32_t v = 1; v <= 455; ++v) Add(2 * v);  // leaves 2..454 and 456..910
  for (std::int32_t v = 1; v <= 25; v += 2) Add(v);    // 13 more keys in the left leaf: 240
  Remove(910);
  Remove(908);
  Remove(906);  // right leaf 225 < 226; 240 + 225 >= 453: balance
  TPageRef r = Page(3);
  EXPECT_EQ(r->GetLowerKeyEntryCount(1), 233);  // ceil(465 / 2)
  EXPECT_EQ(r->GetLowerKeyEntryCount(2), 232);
  Check();
}

TEST_F(IntegerIndex, CountsAndOrdinalsComeFromTheBranches) {
  for (std::int32_t v = 1; v <= 2000; ++v) Add(v * 3);
  EXPECT_EQ(fx_.Tree().GetKeyCount(), 2000);
  for (const std::int64_t ordinal : {1, 227, 228, 1000, 2000}) {
    TKey key(5);
    std::int32_t rn = 0;
    ASSERT_TRUE(fx_.Tree().SeekOrdinal(ordinal, key.data(), &rn));
    EXPECT_EQ(rn, ordinal * 3);
    EXPECT_EQ(fx_.Tree().CountKeysBefore(IntKey(static_cast<std::int32_t>(ordinal * 3)).data()), ordinal - 1);
    // A key between two stored keys has as many keys before it as the
    // stored key above it.
    EXPECT_EQ(fx_.Tree().CountKeysBefore(IntKey(static_cast<std::int32_t>(ordinal * 3 - 1)).data()), ordinal - 1);
  }
  EXPECT_TRUE(fx_.Tree().SearchIndexKeys(IntKey(3000).data()));
  EXPECT_EQ(fx_.Tree().Path().KeysBefore, 999);
  EXPECT_FALSE(fx_.Tree().SearchIndexKeys(IntKey(3001).data()));
  EXPECT_FALSE(fx_.Tree().SeekOrdinal(0));
  EXPECT_FALSE(fx_.Tree().SeekOrdinal(2001));
}

TEST_F(IntegerIndex, RemovingAMissingKeyIsCorruption) {
  EXPECT_EQ(RaisedCode([&] { Remove(5); }), TARN_INDEXCORRUPT);
  Add(4);
  EXPECT_EQ(RaisedCode([&] { Remove(5); }), TARN_INDEXCORRUPT);
  EXPECT_EQ(RaisedCode([&] { fx_.Tree().UpdateIndexKey(IntKey(5).data(), IntKey(6).data(), 6); }),
            TARN_INDEXCORRUPT);
  EXPECT_TRUE(fx_.Tree().SearchIndexKeys(IntKey(4).data()));
}

TEST_F(IntegerIndex, UniqueIndexReportsKeyViolations) {
  Add(7);
  EXPECT_TRUE(fx_.Tree().CheckForKeyViolation(IntKey(7).data()));
  EXPECT_FALSE(fx_.Tree().CheckForKeyViolation(IntKey(8).data()));
}

TEST(BTreeShape, NonUniqueIndexNeverReportsKeyViolations) {
  TIndexFixture fx("nonunique");
  fx.DefineSlot(1, TSlotSpec{9, false, false, icNone});
  TKey key(9, 0);
  key[0] = 1;
  fx.Tree(1).AddIndexKey(key.data(), 1);
  EXPECT_FALSE(fx.Tree(1).CheckForKeyViolation(key.data()));
  // The deleted-records index always checks.
  fx.DefineSlot(31, TSlotSpec{5, false, false, icNone});
  fx.Tree(31).AddIndexKey(IntKey(3).data(), 3);
  EXPECT_TRUE(fx.Tree(31).CheckForKeyViolation(IntKey(3).data()));
}

TEST(BTreeShape, SmallestKeyUpdatesEveryBranchOnTheLeftmostPath) {
  // 522-byte keys: 7 entries per leaf and per branch, so a few dozen keys
  // make a tree of three levels or more.
  TIndexFixture fx("leftmost");
  fx.DefineSlot(0, TSlotSpec{522, true, false, icNone});
  auto key = [](int v) {
    TKey k(522, 0);
    k[0] = 1;
    FlipIntegerBits(v, k.data() + 1);
    k[521] = 0x5A;
    return k;
  };
  for (int v = 100; v < 300; ++v) fx.Tree().AddIndexKey(key(v).data(), v);
  auto report = CheckTree(*fx.file, &fx.cursor, 0, fx.Comparator());
  ASSERT_GE(report.Levels, 3);
  fx.Tree().AddIndexKey(key(5).data(), 5);
  // Every first entry down the leftmost path carries the new smallest key.
  std::int32_t n = fx.file->GetRootPageNumber(0);
  int levels = 0;
  for (;;) {
    TPageRef page = Fetch(*fx.file, &fx.cursor, 0, n);
    EXPECT_EQ(TKey(page->GetKeyEntryPtr(1), page->GetKeyEntryPtr(1) + 522), key(5)) << "level " << levels + 1;
    ++levels;
    if (page->IsLeaf()) break;
    n = page->GetRecordNumber(1);
  }
  EXPECT_EQ(levels, report.Levels);
  report = CheckTree(*fx.file, &fx.cursor, 0, fx.Comparator());
  EXPECT_EQ(report.Keys, 201);
  // Deleting everything from the left end keeps the tree valid at every step.
  for (int v : {5, 100, 101, 102, 103, 104, 105, 106, 107}) fx.Tree().RemoveIndexKey(key(v).data());
  EXPECT_EQ(CheckTree(*fx.file, &fx.cursor, 0, fx.Comparator()).Keys, 192);
}

TEST(BTreeShape, PagesFreedByOneIndexAreReusedOnlyByIt) {
  TIndexFixture fx("perslot");
  fx.DefineSlot(0, TSlotSpec{5, true, false, icNone});
  fx.DefineSlot(1, TSlotSpec{5, true, false, icNone});
  for (std::int32_t v = 1; v <= 460; ++v) fx.Tree(1).AddIndexKey(IntKey(v).data(), v);
  for (std::int32_t v = 460; v >= 10; --v) fx.Tree(1).RemoveIndexKey(IntKey(v).data());
  const auto secondary = CheckTree(*fx.file, &fx.cursor, 1, fx.Comparator(1));
  ASSERT_EQ(secondary.FreePages.size(), 2u);
  const std::int32_t used = fx.file->GetPhysicalPagesUsed();
  const std::int32_t head = fx.file->GetNextFreePageNumber(1);
  fx.Tree(0).AddIndexKey(IntKey(1).data(), 1);
  // The primary index took a new page; the secondary's free list is intact.
  EXPECT_EQ(fx.file->GetRootPageNumber(0), used + 1);
  EXPECT_EQ(fx.file->GetNextFreePageNumber(1), head);
  EXPECT_EQ(CheckTree(*fx.file, &fx.cursor, 1, fx.Comparator(1)).FreePages, secondary.FreePages);
  for (std::int32_t v = 10; v <= 500; ++v) fx.Tree(1).AddIndexKey(IntKey(v).data(), v);
  EXPECT_EQ(fx.file->GetNextFreePageNumber(1), 0);
  EXPECT_EQ(fx.file->GetPhysicalPagesUsed(), used + 1);
}

TEST(BTreeShape, CompressedLeavesAreFreedWhenEmptyAndNeverMerged) {
  TIndexFixture fx("compressed");
  fx.DefineSlot(0, TSlotSpec{40, true, false, icFull});
  auto key = [](int v) {
    TKey k(40, 0);
    k[0] = 1;
    FlipIntegerBits(v, k.data() + 1);
    for (int i = 5; i < 20; ++i) k[i] = static_cast<std::uint8_t>(v * i);
    return k;
  };
  for (int v = 0; v < 600; ++v) fx.Tree().AddIndexKey(key(v).data(), v + 1);
  auto report = CheckTree(*fx.file, &fx.cursor, 0, fx.Comparator());
  ASSERT_EQ(report.Levels, 2);
  const std::size_t leaves = report.PagesByLevel[1].size();
  ASSERT_GE(leaves, 3u);
  // Emptying the second leaf frees it alone; its neighbours stay as they are.
  TPageRef second = Fetch(*fx.file, &fx.cursor, 0, report.PagesByLevel[1][1]);
  std::vector<TKey> keys;
  for (int i = 1; i <= second->NumberOfKeyEntries(); ++i) {
    keys.emplace_back(second->GetKeyEntryPtr(i), second->GetKeyEntryPtr(i) + 40);
  }
  second.Release();
  for (std::size_t i = 0; i + 1 < keys.size(); ++i) fx.Tree().RemoveIndexKey(keys[i].data());
  EXPECT_EQ(CheckTree(*fx.file, &fx.cursor, 0, fx.Comparator()).PagesByLevel[1].size(), leaves);
  fx.Tree().RemoveIndexKey(keys.back().data());
  report = CheckTree(*fx.file, &fx.cursor, 0, fx.Comparator());
  EXPECT_EQ(report.PagesByLevel[1].size(), leaves - 1);
  EXPECT_EQ(report.FreePages.size(), 1u);
}

// A leaf page with known entries for the scans.
class LeafScans : public ::testing::Test {
 protected:
  LeafScans() {
    TPageSettings s;
    s.KeySize = 5;
    leaf_.SetSettings(s);
    leaf_.Initialize();
    leaf_.SetPageType(ptLeaf);
    const std::int32_t records[] = {7, 8, 9, 12, 13, 5};
    for (int i = 0; i < 6; ++i) leaf_.InsertKeyEntry(i + 1, IntKey(10 * (i + 1)).data(), records[i], 0);
  }
  TPage leaf_;
  TLayoutKeyComparator cmp_{btree_testing::MakeLayout(TSlotSpec{})};
};

class TSetBitmap final : public TRecordsBitmapInterface {
 public:
  bool GetBit(std::int32_t n) const override { return bits.count(n) != 0; }
  void SetBit(std::int32_t n) override { bits.insert(n); }
  std::set<std::int32_t> bits;
};

TEST_F(LeafScans, CountSequentialRecords) {
  EXPECT_EQ(leaf_.CountSequentialRecords(10, 1, 1), 3);
  EXPECT_EQ(leaf_.CountSequentialRecords(2, 1, 1), 2);
  EXPECT_EQ(leaf_.CountSequentialRecords(10, 1, 4), 2);
  EXPECT_EQ(leaf_.CountSequentialRecords(10, -1, 3), 3);
  EXPECT_EQ(leaf_.CountSequentialRecords(10, -1, 6), 1);
  EXPECT_EQ(leaf_.CountSequentialRecords(10, 1, 7), 0);
}

TEST_F(LeafScans, SearchScansFindPositions) {
  struct TCase {
    std::int32_t Key;
    int Search;
    bool Found;
    int Insert;
    int First;
    int Last;
  };
  // Entries hold 10, 20, ..., 60.
  const TCase cases[] = {{5, 1, false, 0, 1, 1},   {10, 1, true, 1, 1, 1},  {15, 1, false, 1, 2, 1},
                         {30, 3, true, 3, 3, 3},   {60, 6, true, 6, 6, 6},  {61, 6, false, 6, 7, 6}};
  for (const TCase& c : cases) {
    const TKey key = IntKey(c.Key);
    const auto r = leaf_.SearchScan(cmp_, key.data());
    EXPECT_EQ(r.Position, c.Search) << c.Key;
    EXPECT_EQ(r.Found, c.Found) << c.Key;
    EXPECT_EQ(leaf_.InsertScan(cmp_, key.data()), c.Insert) << c.Key;
    int pos = 0;
    std::int64_t before = 100;
    leaf_.FirstRangeScan(cmp_, key.data(), 5, pos, before);
    EXPECT_EQ(pos, c.First) << c.Key;
    EXPECT_EQ(before, 100 + c.First - 1);
    before = 0;
    leaf_.LastRangeScan(cmp_, key.data(), 5, pos, before);
    EXPECT_EQ(pos, c.Last) << c.Key;
    // FindScan: exact, nearest above, or the last not greater.
    std::int64_t kb = 0;
    EXPECT_EQ(leaf_.FindScan(cmp_, key.data(), 5, true, pos, kb), c.Found);
    EXPECT_EQ(pos, c.Found ? c.Search : c.First);
    EXPECT_EQ(leaf_.FindScan(cmp_, key.data(), 5, false, pos, kb), c.Found);
    EXPECT_EQ(pos, c.Search);
  }
  // A prefix of one byte (the presence byte) matches every entry.
  const TKey any = IntKey(0);
  int pos = 0;
  std::int64_t kb = 0;
  leaf_.FirstRangeScan(cmp_, any.data(), 1, pos, kb);
  EXPECT_EQ(pos, 1);
  leaf_.LastRangeScan(cmp_, any.data(), 1, pos, kb);
  EXPECT_EQ(pos, 6);
  // Linear range scan: stops at rangeEnd.
  kb = 0;
  EXPECT_TRUE(leaf_.FindRangeScan(cmp_, IntKey(30).data(), 5, true, pos, kb, IntKey(50).data()));
  EXPECT_EQ(pos, 3);
  EXPECT_EQ(kb, 2);
  kb = 0;
  EXPECT_FALSE(leaf_.FindRangeScan(cmp_, IntKey(35).data(), 5, true, pos, kb, IntKey(50).data()));
  kb = 0;
  EXPECT_TRUE(leaf_.FindRangeScan(cmp_, IntKey(35).data(), 5, false, pos, kb, IntKey(50).data()));
  EXPECT_EQ(pos, 4);
  kb = 0;
  EXPECT_FALSE(leaf_.FindRangeScan(cmp_, IntKey(55).data(), 5, false, pos, kb, IntKey(50).data()));
  EXPECT_EQ(pos, 5);
  EXPECT_EQ(kb, 4);
  int first = 0, last = 0;
  std::int64_t k1 = 0, k2 = 0;
  leaf_.FirstScan(first, k1);
  leaf_.LastScan(last, k2);
  EXPECT_EQ(first, 1);
  EXPECT_EQ(last, 6);
  EXPECT_EQ(k2, 5);
}

TEST_F(LeafScans, EmptyPagesCannotBeSearched) {
  TPage empty;
  empty.SetSettings(leaf_.Settings());
  empty.Initialize();
  empty.SetPageType(ptLeaf);
  EXPECT_EQ(RaisedCode([&] { empty.SearchScan(cmp_, IntKey(1).data()); }), TARN_INDEXCORRUPT);
  int pos = 0;
  std::int64_t kb = 0;
  EXPECT_EQ(RaisedCode([&] { empty.FindScan(cmp_, IntKey(1).data(), 5, true, pos, kb); }), TARN_INDEXCORRUPT);
}

TEST_F(LeafScans, FilterScansFollowTheBitmap) {
  TSetBitmap bitmap;
  bitmap.bits = {9, 5};
  std::int64_t logical = 1;
  int pos = 1;
  ASSERT_TRUE(leaf_.FilterScanForward(logical, pos, bitmap));
  EXPECT_EQ(pos, 3);
  EXPECT_EQ(logical, 3);
  ++pos;
  ++logical;
  ASSERT_TRUE(leaf_.FilterScanForward(logical, pos, bitmap));
  EXPECT_EQ(pos, 6);
  EXPECT_EQ(logical, 6);
  ++pos;
  EXPECT_FALSE(leaf_.FilterScanForward(logical, pos, bitmap));
  pos = 5;
  logical = 5;
  ASSERT_TRUE(leaf_.FilterScanBackward(logical, pos, bitmap));
  EXPECT_EQ(pos, 3);
  EXPECT_EQ(logical, 3);
  // Within a range: the entry holding record 5 lies beyond 50.
  pos = 4;
  logical = 4;
  EXPECT_FALSE(leaf_.FilterRangeScanForward(cmp_, logical, bitmap, IntKey(50).data(), 5, pos));
  TSetBitmap nine;
  nine.bits = {9};
  pos = 6;
  EXPECT_FALSE(leaf_.FilterRangeScanBackward(cmp_, logical, nine, IntKey(40).data(), 5, pos));
  pos = 6;
  EXPECT_TRUE(leaf_.FilterRangeScanBackward(cmp_, logical, bitmap, IntKey(60).data(), 5, pos));
  // Setting bits up to a range end.
  TSetBitmap out;
  pos = 2;
  EXPECT_FALSE(leaf_.FilterSetIndexedBits(cmp_, IntKey(45).data(), 5, pos, out));
  EXPECT_EQ(out.bits, (std::set<std::int32_t>{8, 9, 12}));
  EXPECT_EQ(pos, 5);
  EXPECT_TRUE(leaf_.FilterSetIndexedBits(cmp_, IntKey(99).data(), 5, pos, out));
  EXPECT_EQ(out.bits, (std::set<std::int32_t>{5, 8, 9, 12, 13}));
}

}  // namespace
}  // namespace tarn
