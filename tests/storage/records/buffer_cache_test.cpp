// The shared buffer cache: lookups, eviction order, growth and shrinking.
#include <gtest/gtest.h>

#include "storage/files/buffer_cache.h"

namespace tarn {
namespace {

struct TToyBuffer : TCachedBuffer {
  int resets = 0;
  void Reset(std::int32_t n) {
    SetNumberValue(n);
    SetDirty(false);
    ClearUseCount();
    ++resets;
  }
};

struct CacheFixture : ::testing::Test {
  int created = 0;
  TBufferCache<TToyBuffer> cache{2, 3, TARN_INDEXCORRUPT, [this] {
                                   ++created;
                                   return std::make_unique<TToyBuffer>();
                                 }};
  int flushes = 0;
  TBufferCache<TToyBuffer>::TFlush flush = [this] {
    ++flushes;
    bool wrote = false;
    for (TToyBuffer* b : cache.DirtyUnused()) {
      b->SetDirty(false);
      wrote = true;
    }
    return wrote;
  };
};

TEST_F(CacheFixture, EvictsTheLeastRecentlyUsedCleanUnusedBuffer) {
  cache.SetCapacity(3);
  for (int n : {5, 1, 3}) cache.Acquire(n, flush, true);
  ASSERT_EQ(cache.Count(), 3u);
  EXPECT_EQ(cache.Sorted()[0]->Number(), 1);
  EXPECT_EQ(cache.Sorted()[2]->Number(), 5);
  ASSERT_NE(cache.Find(5), nullptr);  // 5 becomes most recent; 1 is now least
  EXPECT_EQ(cache.Statistics().Hits, 1u);
  cache.Acquire(7, flush, true);
  EXPECT_EQ(cache.Peek(1), nullptr);
  EXPECT_NE(cache.Peek(3), nullptr);
  EXPECT_EQ(cache.Find(2), nullptr);
  EXPECT_EQ(created, 3);  // the victim's instance was reused
}

TEST_F(CacheFixture, DirtyAndUsedBuffersAreNeverEvicted) {
  cache.SetCapacity(2);
  TToyBuffer* a = cache.Acquire(1, flush, false);
  TToyBuffer* b = cache.Acquire(2, flush, false);
  a->SetDirty(true);
  b->IncUseCount();
  cache.Acquire(3, flush, false);  // nothing evictable, no flush allowed: grows by 3
  EXPECT_EQ(cache.Capacity(), 5u);
  EXPECT_EQ(cache.Count(), 3u);
  EXPECT_EQ(flushes, 0);
  EXPECT_TRUE(cache.Peek(1)->Dirty());

  // With flushing allowed, a full cache writes first and then evicts.
  cache.SetCapacity(3);
  cache.Peek(3)->SetDirty(true);
  cache.Acquire(4, flush, true);
  EXPECT_EQ(flushes, 1);
  EXPECT_EQ(cache.Count(), 3u);
  EXPECT_NE(cache.Peek(2), nullptr);  // in use, kept
}

TEST_F(CacheFixture, ShrinkReturnsToNominalCapacityAndAcquiringACachedNumberIsCorrupt) {
  cache.SetCapacity(1);
  for (int n = 1; n <= 4; ++n) cache.Acquire(n, flush, false)->SetDirty(true);
  EXPECT_EQ(cache.Count(), 4u);
  cache.Shrink(1, flush, true);
  EXPECT_EQ(cache.Count(), 1u);
  EXPECT_EQ(cache.Capacity(), 1u);
  try {
    cache.Acquire(cache.Sorted()[0]->Number(), flush, true);
    FAIL();
  } catch (const ETarnEngineError& e) {
    EXPECT_EQ(e.ErrorCode(), TARN_INDEXCORRUPT);
  }
  cache.FreeAll();
  EXPECT_EQ(cache.Count(), 0u);
  EXPECT_EQ(cache.Find(1), nullptr);
}

TEST(InstanceStack, KeepsAtMostItsLimit) {
  int created = 0;
  TInstanceStack<TToyBuffer> stack(1, [&] {
    ++created;
    return std::make_unique<TToyBuffer>();
  });
  auto a = stack.Take();
  auto b = stack.Take();
  stack.Return(a);
  stack.Return(b);
  EXPECT_EQ(a, nullptr);
  EXPECT_EQ(stack.Size(), 1u);
  auto c = stack.Take();
  EXPECT_EQ(created, 2);
  EXPECT_NE(c, nullptr);
}

}  // namespace
}  // namespace tarn
