// The index file's page cache: appends, hits and misses, eviction and growth,
// writing in runs, dropping and shrinking, the read lock before a disk read,
// restarts after changes made elsewhere, header change detection, limits,
// scrambled pages, and damaged links in the file.
#include <gtest/gtest.h>

#include "btree_test_support.h"
#include "storage/formats/byte_codec.h"
#include "storage/formats/scrambling.h"

namespace tarn {
namespace {

using btree_testing::CheckTree;
using btree_testing::Fetch;
using btree_testing::IntKey;
using btree_testing::RaisedCode;
using btree_testing::TIndexFixture;
using btree_testing::TKey;
using btree_testing::TSlotSpec;

// Takes n new pages of the slot and lets them go.
std::vector<std::int32_t> NewPages(TIndexFile& file, TCacheClient* cursor, std::size_t slot, int n) {
  std::vector<std::int32_t> pages;
  for (int i = 0; i < n; ++i) {
    TPage* page = nullptr;
    EXPECT_TRUE(file.GetNextFreePage(cursor, slot, page));
    page->SetPageType(ptRootLeaf);
    page->InsertKeyEntry(1, IntKey(i).data(), i, 0);
    pages.push_back(page->PageNumber());
    file.PutPage(page);
  }
  return pages;
}

class IndexFileCache : public ::testing::Test {
 protected:
  IndexFileCache() : fx_("cache") {
    fx_.DefineSlot(0, TSlotSpec{5, true, false, icNone});
    fx_.DefineSlot(1, TSlotSpec{5, true, false, icNone});
  }
  void Touch(std::int32_t n) {
    TPageRef page = Fetch(*fx_.file, &fx_.cursor, 0, n);
    page->SetRecordNumber(1, page->GetRecordNumber(1) + 100);
  }
  TIndexFixture fx_;
};

TEST_F(IndexFileCache, DirtyPagesAreWrittenInRunsOfConsecutivePages) {
  fx_.link.transaction = true;  // keeps every dirty page in the cache
  ASSERT_EQ(NewPages(*fx_.file, &fx_.cursor, 0, 6), (std::vector<std::int32_t>{1, 2, 3, 4, 5, 6}));
  EXPECT_GE(fx_.file->Cache(0).Capacity(), 6u);
  fx_.link.transaction = false;
  fx_.file->ClearStatistics();
  EXPECT_TRUE(fx_.file->FlushPageBuffers());
  EXPECT_EQ(fx_.file->Statistics().Writes, 1);
  EXPECT_FALSE(fx_.file->FlushPageBuffers());
  for (const std::int32_t n : {1, 2, 4, 6}) Touch(n);
  EXPECT_TRUE(fx_.file->FlushPageBuffers());
  EXPECT_EQ(fx_.file->Statistics().Writes, 4);  // 1-2, 4, 6
  // A page in use stays dirty for a later flush.
  TPageRef held = Fetch(*fx_.file, &fx_.cursor, 0, 3);
  held->SetRecordNumber(1, 77);
  EXPECT_FALSE(fx_.file->FlushPageBuffers());
  EXPECT_TRUE(held->Dirty());
  held.Release();
  EXPECT_TRUE(fx_.file->FlushPageBuffers());
  fx_.file->FreePageBuffers();
  EXPECT_EQ(Fetch(*fx_.file, &fx_.cursor, 0, 3)->GetRecordNumber(1), 77);
  EXPECT_EQ(Fetch(*fx_.file, &fx_.cursor, 0, 2)->GetRecordNumber(1), 101);
}

TEST_F(IndexFileCache, HitsMissesAndEvictionOfCleanPages) {
  NewPages(*fx_.file, &fx_.cursor, 0, 8);
  fx_.FlushAndDrop();
  fx_.file->ClearStatistics();
  for (std::int32_t n = 1; n <= 8; ++n) Fetch(*fx_.file, &fx_.cursor, 0, n);
  EXPECT_EQ(fx_.file->Statistics().CacheMisses, 8);
  EXPECT_EQ(fx_.file->Statistics().Reads, 8);
  EXPECT_EQ(fx_.file->Cache(0).Count(), 2u);  // clean pages are evicted, the cache does not grow
  Fetch(*fx_.file, &fx_.cursor, 0, 8);
  Fetch(*fx_.file, &fx_.cursor, 0, 7);
  EXPECT_EQ(fx_.file->Statistics().CacheHits, 2);
  
  // A miss takes the read lock first, unless the session detects changes strictly.
  const long locks = fx_.cursor.readLocks;
  Fetch(*fx_.file, &fx_.cursor, 0, 1);
  EXPECT_EQ(fx_.cursor.readLocks, locks + 1);
  Fetch(*fx_.file, &fx_.cursor, 0, 1);
  EXPECT_EQ(fx_.cursor.readLocks, locks + 1);
  fx_.link.strict = true;
  Fetch(*fx_.file, &fx_.cursor, 0, 2);
  EXPECT_EQ(fx_.cursor.readLocks, locks + 1);
}

TEST_F(IndexFileCache, DirtyPagesAreFlushedToMakeRoomOutsideTransactions) {
  NewPages(*fx_.file, &fx_.cursor, 0, 5);
  // Every page was dirty when the next was needed: flushed instead of grown.
  EXPECT_EQ(fx_.file->Cache(0).Capacity(), 2u);
  EXPECT_GT(fx_.file->Statistics().Writes, 0);
  // Pages held in use make the cache grow by four.
  TPageRef a = Fetch(*fx_.file, &fx_.cursor, 0, 1);
  TPageRef b = Fetch(*fx_.file, &fx_.cursor, 0, 2);
  TPageRef c = Fetch(*fx_.file, &fx_.cursor, 0, 3);
  EXPECT_EQ(fx_.file->Cache(0).Capacity(), 6u);
  a.Release();
  b.Release();
  c.Release();
  fx_.file->AdjustPageBuffers();
  EXPECT_EQ(fx_.file->Cache(0).Count(), 2u);
  EXPECT_EQ(fx_.file->Cache(0).Capacity(), 2u);
}

// During a change a full slot cache (the root the descent made dirty, the leaf in
// use) grows for the pages a split needs instead of writing: a change dropped
// before it succeeded leaves the tree on disk as it was.
TEST_F(IndexFileCache, SplitsDuringAChangeWriteNothingUntilItSucceeds) {
  const int before = 1000, added = 600;
  for (int i = 1; i <= before; ++i) fx_.Tree(0).AddIndexKey(IntKey(i).data(), i);
  fx_.FlushAndDrop();
  fx_.file->AdjustPageBuffers();  // back to a fresh cache of two pages
  ASSERT_EQ(fx_.file->Cache(0).Capacity(), kPageCacheInitialCapacity);
  const std::int32_t pages = fx_.file->GetPhysicalPagesUsed();
  const std::int64_t writes = fx_.file->Statistics().Writes;

  auto change = [&] {
    fx_.link.changing = true;
    for (int i = before + 1; i <= before + added; ++i) fx_.Tree(0).AddIndexKey(IntKey(i).data(), i);
    fx_.link.changing = false;
  };
  change();
  EXPECT_GT(fx_.file->GetPhysicalPagesUsed(), pages);  // the change split leaves
  EXPECT_GT(fx_.file->Cache(0).Capacity(), kPageCacheInitialCapacity);
  EXPECT_EQ(fx_.file->Statistics().Writes, writes);
  // Dropped: the file still holds the tree from before.
  fx_.file->FreePageBuffers();
  fx_.file->ReadHeader();
  EXPECT_EQ(fx_.file->GetPhysicalPagesUsed(), pages);
  EXPECT_EQ(CheckTree(*fx_.file, &fx_.cursor, 0, fx_.Comparator(0)).Keys, before);

  // Made again and written once it succeeded: the file holds all of it.
  change();
  fx_.FlushAndDrop();
  fx_.file->ReadHeader();
  EXPECT_EQ(CheckTree(*fx_.file, &fx_.cursor, 0, fx_.Comparator(0)).Keys, before + added);
}

TEST_F(IndexFileCache, FreeingTheCacheDiscardsUnwrittenChanges) {
  NewPages(*fx_.file, &fx_.cursor, 0, 1);
  fx_.FlushAndDrop();
  Touch(1);
  fx_.file->FreePageBuffers();
  EXPECT_EQ(Fetch(*fx_.file, &fx_.cursor, 0, 1)->GetRecordNumber(1), 0);
}

// One pool of 4 spare pages serves the whole file: the caches of every slot
// and the cursors' own page objects.
TEST_F(IndexFileCache, SparePagesArePooledPerFile) {
  fx_.link.transaction = true;  // every page stays cached
  NewPages(*fx_.file, &fx_.cursor, 0, 3);
  NewPages(*fx_.file, &fx_.cursor, 1, 3);
  EXPECT_EQ(fx_.file->SparePageInstances(), 0u);
  fx_.file->FreePageBuffers();  // six pages go back; the pool keeps four
  EXPECT_EQ(fx_.file->SparePageInstances(), kPagePoolSize);

  // A cache takes its buffers from the same pool.
  fx_.link.transaction = false;
  Fetch(*fx_.file, &fx_.cursor, 1, 4);
  EXPECT_EQ(fx_.file->SparePageInstances(), kPagePoolSize - 1);

  // A cursor's page: a pooled object, handed out initialised whatever it held.
  std::unique_ptr<TPage> mine = fx_.file->GetNewPageInstance();
  EXPECT_EQ(fx_.file->SparePageInstances(), kPagePoolSize - 2);
  EXPECT_EQ(mine->PageNumber(), 0);
  EXPECT_EQ(mine->NumberOfKeyEntries(), 0);
  EXPECT_FALSE(mine->Dirty());
  EXPECT_FALSE(mine->InUse());
  mine->SetPageType(ptRootLeaf);
  mine->InsertKeyEntry(1, IntKey(9).data(), 9, 0);
  mine->SetPageNumber(12);
  fx_.file->ReturnPageInstance(mine);
  EXPECT_EQ(mine, nullptr);
  std::vector<std::unique_ptr<TPage>> taken;
  for (std::size_t i = 0; i < kPagePoolSize + 2; ++i) {
    taken.push_back(fx_.file->GetNewPageInstance());
    EXPECT_EQ(taken.back()->NumberOfKeyEntries(), 0) << i;
    EXPECT_EQ(taken.back()->PageNumber(), 0) << i;
  }
  EXPECT_EQ(fx_.file->SparePageInstances(), 0u);
  for (auto& page : taken) fx_.file->ReturnPageInstance(page);
  EXPECT_EQ(fx_.file->SparePageInstances(), kPagePoolSize);
}

TEST_F(IndexFileCache, PageNumbersAndLimits) {
  TPage* page = nullptr;
  EXPECT_EQ(RaisedCode([&] { fx_.file->GetPage(&fx_.cursor, 0, 0, page); }), TARN_INDEXCORRUPT);
  // Beyond the next page.
  EXPECT_EQ(RaisedCode([&] { fx_.file->GetPage(&fx_.cursor, 0, 5, page); }), TARN_INDEXCORRUPT);
  EXPECT_EQ(RaisedCode([&] { fx_.file->GetPage(&fx_.cursor, 40, 1, page); }), TARN_INDEXCORRUPT);
  // The last page that ends at or before byte 4,000,000,000 can be appended,
  // the next cannot.
  fx_.file->MutableHeader().NextPageNumber = 976561;
  ASSERT_TRUE(fx_.file->GetNextFreePage(&fx_.cursor, 0, page));
  EXPECT_EQ(page->PageNumber(), 976561);
  fx_.file->PutPage(page);
  EXPECT_EQ(RaisedCode([&] { fx_.file->GetNextFreePage(&fx_.cursor, 0, page); }), TARN_TABLEFULL);
  fx_.file->FreePageBuffers();
}

TEST_F(IndexFileCache, SlotsWithUnusableDefinitionsAreRefused) {
  TPage* page = nullptr;
  fx_.file->MutableHeader().Slots[5].KeySize = 0;
  EXPECT_EQ(RaisedCode([&] { fx_.file->GetNextFreePage(&fx_.cursor, 5, page); }), TARN_INDEXCORRUPT);
  fx_.file->MutableHeader().Slots[5].KeySize = 600;
  EXPECT_EQ(RaisedCode([&] { fx_.file->GetNextFreePage(&fx_.cursor, 5, page); }), TARN_INDEXCORRUPT);
  fx_.file->MutableHeader().Slots[5].KeySize = 10;
  fx_.file->MutableHeader().Slots[5].Compression = 4;
  EXPECT_EQ(RaisedCode([&] { fx_.file->GetNextFreePage(&fx_.cursor, 5, page); }), TARN_INDEXCORRUPT);
}

TEST_F(IndexFileCache, ShortReadsAreAcceptedOnlyWhenTheOwnerAllowsThem) {
  // The header names pages the file does not hold yet.
  fx_.file->MutableHeader().NextPageNumber = 5;
  TPage* page = nullptr;
  fx_.link.shortReads = false;
  EXPECT_EQ(RaisedCode([&] { fx_.file->GetPage(&fx_.cursor, 0, 3, page); }), TARN_READERR);
  EXPECT_EQ(fx_.file->Cache(0).Count(), 0u);
  fx_.link.shortReads = true;
  ASSERT_TRUE(fx_.file->GetPage(&fx_.cursor, 0, 3, page));
  EXPECT_EQ(page->NumberOfKeyEntries(), 0);
  fx_.file->PutPage(page);
}

TEST_F(IndexFileCache, DataPagesHangFromTheDataRoot) {
  fx_.DefineSlot(32, TSlotSpec{68, true, false, icFull});
  TPage* page = nullptr;
  ASSERT_TRUE(fx_.file->GetNextFreePage(&fx_.cursor, 32, page));
  page->SetPageType(ptData);
  for (std::size_t i = 0; i < kPageDataSize; ++i) page->GetPageDataPtr()[i] = static_cast<std::uint8_t>(i % 251);
  fx_.file->SetDataRootPageNumber(32, page->PageNumber());
  fx_.file->PutPage(page);
  fx_.FlushAndDrop();
  bool changed = true;
  ASSERT_TRUE(fx_.file->GetDataRootPage(&fx_.cursor, 32, page, changed));
  EXPECT_FALSE(changed);
  EXPECT_EQ(page->PageType(), ptData);
  EXPECT_EQ(page->GetPageDataPtr()[1000], 1000 % 251);
  fx_.file->PutPage(page);
  EXPECT_FALSE(fx_.file->GetDataRootPage(&fx_.cursor, 0, page, changed));
  EXPECT_FALSE(changed);
}

TEST(IndexFileHeader, ChangesByAnotherHandlerAreDetected) {
  TIndexFixture fx("changes");
  fx.DefineSlot(0, TSlotSpec{5, true, false, icNone});
  fx.file->WriteHeader(true);
  EXPECT_FALSE(fx.file->CheckForChanges());
  TIndexFile other;
  other.SetFileName(fx.Name());
  other.SetInMemory(true);
  other.OpenFile();
  EXPECT_EQ(other.Header().Slots[0].KeySize, 5);
  other.SetRootPageNumber(0, 0);
  other.WriteHeader(true);
  EXPECT_TRUE(fx.file->CheckForChanges());
  EXPECT_FALSE(fx.file->CheckForChanges());
  EXPECT_EQ(fx.file->Header().LastUpdateStamp, other.Header().LastUpdateStamp);
}

TEST(IndexFileHeader, ATreeWrittenByOneHandlerIsReadByAnother) {
  TIndexFixture fx("persist");
  TIndexDefinition def = MakeEmptyIndexDefinition();
  def.KeySize = 5;
  def.Unique = 1;
  def.KeyFieldCount = 1;
  def.KeyFields[0] = 1;
  fx.file->SetIndexDefinition(0, def);
  fx.file->SetActualRecordCount(0);
  TLayoutKeyComparator cmp(btree_testing::MakeLayout(TSlotSpec{}));
  TIndexPath path;
  TBTree tree(*fx.file, &fx.cursor, 0, cmp, path);
  for (std::int32_t v = 1; v <= 1000; ++v) {
    tree.AddIndexKey(IntKey(v).data(), v);
    fx.file->IncActualRecordCount();
  }
  fx.file->DecActualRecordCount();
  fx.file->FlushPageBuffers();
  EXPECT_TRUE(fx.file->WriteHeader(false));
  EXPECT_FALSE(fx.file->WriteHeader(false));

  TIndexFile other;
  other.SetFileName(fx.Name());
  other.SetInMemory(true);
  other.OpenFile();
  EXPECT_EQ(other.GetActualRecordCount(), 999);
  EXPECT_TRUE(other.GetKeyUnique(0));
  EXPECT_EQ(other.GetKeyFieldCount(0), 1);
  EXPECT_EQ(other.GetFileSize(), kPageSize * (1u + other.GetPhysicalPagesUsed()));
  TIndexPath otherPath;
  TBTree otherTree(other, nullptr, 0, cmp, otherPath);
  EXPECT_EQ(otherTree.GetKeyCount(), 1000);
  EXPECT_TRUE(otherTree.VerifyIndexKey(IntKey(777).data(), 777));
  // Setting the definition again empties the index (root 0) but keeps the
  // free list.
  other.SetIndexDefinition(0, def);
  EXPECT_EQ(other.GetRootPageNumber(0), 0);
  EXPECT_FALSE(otherTree.SearchIndexKeys(IntKey(777).data()));
}

// A cursor whose read lock reports changes made elsewhere once, dropping the
// caches as the table would.
class TChangingCursor final : public TCacheClient {
 public:
  bool ReadLockForCache() override {
    ++calls;
    if (pendingChanges == 0) return false;
    --pendingChanges;
    file->FreePageBuffers();
    file->ReadHeader();
    return true;
  }
  std::int32_t ReadAheadCount() const override { return 1; }
  TIndexFile* file = nullptr;
  int pendingChanges = 0;
  int calls = 0;
};

TEST(IndexFileRestart, DescentsStartOverWhenTheCacheWasDropped) {
  btree_testing::TTestTableLink link;
  TChangingCursor cursor;
  TIndexFile file;
  file.SetTableLink(&link);
  cursor.file = &file;
  file.SetFileName("MEM/restart.IDX");
  file.SetInMemory(true);
  file.CreateFile();
  TIndexDefinition& def = file.MutableHeader().Slots[0];
  def.KeySize = 5;
  def.Unique = 1;
  TLayoutKeyComparator cmp(btree_testing::MakeLayout(TSlotSpec{}));
  TIndexPath path;
  TBTree tree(file, &cursor, 0, cmp, path);
  for (std::int32_t v = 1; v <= 2000; ++v) tree.AddIndexKey(IntKey(v).data(), v);
  file.FlushPageBuffers();
  file.WriteHeader(true);
  file.FreePageBuffers();
  // The first page read finds changes: the search starts over and succeeds.
  cursor.pendingChanges = 1;
  cursor.calls = 0;
  EXPECT_TRUE(tree.VerifyIndexKey(IntKey(1500).data(), 1500));
  EXPECT_GE(cursor.calls, 2);
  // Likewise in the middle of an insert: the half-made change went with the
  // cache, the insert is made again from the file's state.
  cursor.pendingChanges = 1;
  file.FreePageBuffers();
  cursor.calls = 0;
  tree.AddIndexKey(IntKey(5000).data(), 5000);
  EXPECT_TRUE(tree.VerifyIndexKey(IntKey(5000).data(), 5000));
  EXPECT_EQ(CheckTree(file, &cursor, 0, cmp).Keys, 2001);
  file.FlushPageBuffers();
  file.WriteHeader(false);
  cursor.pendingChanges = 2;
  file.FreePageBuffers();
  tree.RemoveIndexKey(IntKey(7).data());
  EXPECT_EQ(CheckTree(file, &cursor, 0, cmp).Keys, 2000);
  // A scan that has to start over visits no key twice.
  file.FlushPageBuffers();
  file.WriteHeader(false);
  std::int64_t visited = 0;
  std::int32_t last = 0;
  bool ordered = true;
  tree.ScanKeys([&](const std::uint8_t*, std::int32_t rn) {
    ordered = ordered && rn > last;
    last = rn;
    if (++visited == 700) {
      cursor.pendingChanges = 1;
      file.FreePageBuffers();
    }
    return true;
  });
  EXPECT_EQ(visited, 2000);
  EXPECT_TRUE(ordered);
  file.FreePageBuffers();
  (void)TFileList::Instance().DeleteFile("MEM/restart.IDX", true);
}

TEST(IndexFileEncrypted, PagesAreScrambledOnDisk) {
  TIndexFixture fx("scrambled", true);
  fx.DefineSlot(0, TSlotSpec{5, true, false, icNone});
  for (std::int32_t v = 1; v <= 600; ++v) fx.Tree().AddIndexKey(IntKey(v).data(), v);
  fx.FlushAndDrop();
  TFileHandler raw;
  raw.SetFileName(fx.Name());
  raw.SetInMemory(true);
  raw.OpenFile();
  std::array<std::uint8_t, kPageSize> image{};
  raw.Seek(0, static_cast<std::int64_t>(PagePosition(1)));
  raw.Read(image.data(), kPageSize);
  DecryptBuffer(image.data(), image.size(), kRecordSeeds);
  EXPECT_EQ(image[0], ptLeaf);
  EXPECT_EQ(codec::GetU16(image.data(), 1), 227);  // the left half of the first split
  EXPECT_EQ(CheckTree(*fx.file, &fx.cursor, 0, fx.Comparator()).Keys, 600);
}

// Damage written into the file directly; every case ends in a corruption
// error, never a crash or an endless walk.
class DamagedIndex : public ::testing::Test {
 protected:
  DamagedIndex() : fx_("damaged") {
    fx_.DefineSlot(0, TSlotSpec{5, true, false, icNone});
    fx_.DefineSlot(1, TSlotSpec{5, true, false, icNone});
    // Three leaves under a root in slot 0; two free pages in slot 1.
    for (std::int32_t v = 1; v <= 800; ++v) fx_.Tree().AddIndexKey(IntKey(v).data(), v);
    for (std::int32_t v = 1; v <= 460; ++v) fx_.Tree(1).AddIndexKey(IntKey(v).data(), v);
    for (std::int32_t v = 460; v >= 100; --v) fx_.Tree(1).RemoveIndexKey(IntKey(v).data());
    report_ = CheckTree(*fx_.file, &fx_.cursor, 0, fx_.Comparator());
    fx_.FlushAndDrop();
  }
  void PokeI32(std::int32_t page, std::size_t offset, std::int32_t value) {
    TFileHandler raw;
    raw.SetFileName(fx_.Name());
    raw.SetInMemory(true);
    raw.OpenFile();
    std::uint8_t bytes[4];
    codec::PutI32(bytes, 0, value);
    raw.Seek(0, static_cast<std::int64_t>(PagePosition(static_cast<std::uint32_t>(page)) + offset));
    raw.Write(bytes, 4);
    fx_.file->FreePageBuffers();
  }
  std::int32_t Leaf(int i) const { return report_.PagesByLevel.at(1).at(i); }
  std::int32_t Root() const { return report_.PagesByLevel.at(0).at(0); }
  TarnErrorCode Scan() {
    return RaisedCode([&] { fx_.Tree().ScanKeys([](const std::uint8_t*, std::int32_t) { return true; }); });
  }

  TIndexFixture fx_;
  btree_testing::TTreeReport report_;
};

TEST_F(DamagedIndex, ADamagedPageNeverEntersTheCache) {
  PokeI32(Leaf(1), 1, 0xFFFF);  // entry count far beyond the page
  const std::size_t cached = fx_.file->Cache(0).Count();
  TPage* page = nullptr;
  EXPECT_EQ(RaisedCode([&] { fx_.file->GetPage(&fx_.cursor, 0, Leaf(1), page); }), TARN_INDEXCORRUPT);
  EXPECT_EQ(fx_.file->Cache(0).Count(), cached);
  EXPECT_EQ(RaisedCode([&] { fx_.file->GetPage(&fx_.cursor, 0, Leaf(1), page); }), TARN_INDEXCORRUPT);
  EXPECT_EQ(Scan(), TARN_INDEXCORRUPT);
}

TEST_F(DamagedIndex, SiblingLinkOutOfRange) {
  ASSERT_EQ(Scan(), 0);
  PokeI32(Leaf(0), 7, 1'000'000);
  EXPECT_EQ(Scan(), TARN_INDEXCORRUPT);
}

TEST_F(DamagedIndex, SiblingChainCycle) {
  PokeI32(Leaf(1), 7, Leaf(0));
  EXPECT_EQ(Scan(), TARN_INDEXCORRUPT);
}

TEST_F(DamagedIndex, ChildLinkToTheNextPageNumber) {
  // Following it must not append a page.
  const std::int32_t next = fx_.file->Header().NextPageNumber;
  PokeI32(Root(), kPageHeaderSize + 5, next);
  EXPECT_EQ(RaisedCode([&] { fx_.Tree().SearchIndexKeys(IntKey(1).data()); }), TARN_INDEXCORRUPT);
  EXPECT_EQ(fx_.file->Header().NextPageNumber, next);
}

TEST_F(DamagedIndex, ChildLinkBackToTheRoot) {
  PokeI32(Root(), kPageHeaderSize + 5, Root());
  EXPECT_EQ(RaisedCode([&] { fx_.Tree().SearchIndexKeys(IntKey(1).data()); }), TARN_INDEXCORRUPT);
  EXPECT_EQ(Scan(), TARN_INDEXCORRUPT);
}

TEST_F(DamagedIndex, RootBeyondTheFile) {
  fx_.file->SetRootPageNumber(0, 5000);
  EXPECT_EQ(RaisedCode([&] { fx_.Tree().SearchIndexKeys(IntKey(1).data()); }), TARN_INDEXCORRUPT);
  EXPECT_EQ(RaisedCode([&] { fx_.Tree().AddIndexKey(IntKey(1000).data(), 1); }), TARN_INDEXCORRUPT);
}

TEST_F(DamagedIndex, FreeListHeadOutOfRangeOrLive) {
  fx_.file->SetNextFreePageNumber(1, 9999);
  TPage* page = nullptr;
  EXPECT_EQ(RaisedCode([&] { fx_.file->GetNextFreePage(&fx_.cursor, 1, page); }), TARN_INDEXCORRUPT);
  fx_.file->SetNextFreePageNumber(1, Leaf(0));  // a live page of another index
  EXPECT_EQ(RaisedCode([&] { fx_.file->GetNextFreePage(&fx_.cursor, 1, page); }), TARN_INDEXCORRUPT);
  EXPECT_EQ(CheckTree(*fx_.file, &fx_.cursor, 0, fx_.Comparator()).Keys, 800);
}

TEST_F(DamagedIndex, FreeListCycle) {
  const std::int32_t head = fx_.file->GetNextFreePageNumber(1);
  ASSERT_NE(head, 0);
  PokeI32(head, 7, head);  // points at itself
  TPage* page = nullptr;
  EXPECT_EQ(RaisedCode([&] { fx_.file->GetNextFreePage(&fx_.cursor, 1, page); }), TARN_INDEXCORRUPT);
  // A longer cycle: the second free page points back at the first.
  PokeI32(head, 7, 0);
  TPageRef first = Fetch(*fx_.file, &fx_.cursor, 1, head);
  first.Release();
  fx_.file->FreePageBuffers();
  std::int32_t second = 0;
  {
    TPageRef p = Fetch(*fx_.file, &fx_.cursor, 1, head);
    second = p->RightPageNumber();
  }
  if (second == 0) {
    // Only one free page: link it to a page holding keys instead.
    PokeI32(head, 7, Leaf(1));
    ASSERT_TRUE(fx_.file->GetNextFreePage(&fx_.cursor, 1, page));
    fx_.file->PutPage(page);
    EXPECT_EQ(RaisedCode([&] { fx_.file->GetNextFreePage(&fx_.cursor, 1, page); }), TARN_INDEXCORRUPT);
    return;
  }
  PokeI32(second, 7, head);
  ASSERT_TRUE(fx_.file->GetNextFreePage(&fx_.cursor, 1, page));
  page->SetPageType(ptRootLeaf);
  page->InsertKeyEntry(1, IntKey(1).data(), 1, 0);
  fx_.file->PutPage(page);
  ASSERT_TRUE(fx_.file->GetNextFreePage(&fx_.cursor, 1, page));
  page->SetPageType(ptRootLeaf);
  page->InsertKeyEntry(1, IntKey(1).data(), 1, 0);
  fx_.file->PutPage(page);
  EXPECT_EQ(RaisedCode([&] { fx_.file->GetNextFreePage(&fx_.cursor, 1, page); }), TARN_INDEXCORRUPT);
}

}  // namespace
}  // namespace tarn
