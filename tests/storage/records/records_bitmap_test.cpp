// The records bitmap (set operations, counts, stepping to the next and previous
// set bits, resizing) against a plain model, and the pool of spare bitmaps
// under several threads.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <random>
#include <thread>
#include <vector>

#include "storage/records/records_bitmap.h"

namespace tarn {
namespace {

// The records set in b, in order.
std::vector<std::int32_t> SetRecords(const TRecordsBitmap& b) {
  std::vector<std::int32_t> records;
  for (std::int32_t r = 1; r <= b.GetNumOfBits() + 40; ++r) {
    if (b.IsBitSet(r)) records.push_back(r);
  }
  return records;
}

TRecordsBitmap WithBits(std::int32_t n, std::initializer_list<std::int32_t> records) {
  TRecordsBitmap b(n);
  for (const std::int32_t r : records) b.SetBit(r);
  return b;
}

std::vector<std::int32_t> Range(std::int32_t first, std::int32_t last) {
  std::vector<std::int32_t> records;
  for (std::int32_t r = first; r <= last; ++r) records.push_back(r);
  return records;
}

std::vector<std::int32_t> Join(std::vector<std::int32_t> a, const std::vector<std::int32_t>& b) {
  a.insert(a.end(), b.begin(), b.end());
  std::sort(a.begin(), a.end());
  return a;
}

struct TBitmapCase {
  const char* name;
  std::function<TRecordsBitmap()> build;
  std::int32_t numberOfBits;
  std::vector<std::int32_t> expected;
};

TEST(RecordsBitmap, OperationsGiveTheRecordsExpected) {
  const std::vector<TBitmapCase> cases = {
      {"bits at word edges", [] { return WithBits(70, {1, 32, 33, 64, 65, 70}); }, 70, {1, 32, 33, 64, 65, 70}},
      {"numbers outside 1..n are ignored", [] { return WithBits(40, {0, -3, 41, 1000, 40}); }, 40, {40}},
      {"clear one bit",
       [] {
         TRecordsBitmap b = WithBits(40, {3, 4, 5});
         b.ClearBit(4);
         b.ClearBit(41);
         return b;
       },
       40, {3, 5}},
      {"set all stops at n",
       [] {
         TRecordsBitmap b(37);
         b.SetBits();
         return b;
       },
       37, Range(1, 37)},
      {"inversion never reaches beyond n",
       [] {
         TRecordsBitmap b = WithBits(37, {2, 36});
         b.NotBits();
         return b;
       },
       37, Join(Join({1}, Range(3, 35)), {37})},
      {"shrinking and growing again leaves the dropped bits clear",
       [] {
         TRecordsBitmap b(70);
         b.SetBits();
         b.SetNumOfBits(33);
         b.SetNumOfBits(70);
         return b;
       },
       70, Range(1, 33)},
      {"growing keeps the kept words",
       [] {
         TRecordsBitmap b = WithBits(10, {1, 10});
         b.SetNumOfBits(5000);
         b.SetBit(5000);
         return b;
       },
       5000, {1, 10, 5000}},
      {"and",
       [] {
         TRecordsBitmap b = WithBits(70, {1, 2, 33, 70});
         b.AndBits(WithBits(70, {2, 33, 34}));
         return b;
       },
       70, {2, 33}},
      {"or", [] {
         TRecordsBitmap b = WithBits(70, {1, 70});
         b.OrBits(WithBits(70, {2, 33}));
         return b;
       },
       70, {1, 2, 33, 70}},
      {"xor",
       [] {
         TRecordsBitmap b = WithBits(70, {1, 2, 33});
         b.XorBits(WithBits(70, {2, 33, 69}));
         return b;
       },
       70, {1, 69}},
      {"and with a shorter bitmap clears the words it lacks",
       [] {
         TRecordsBitmap b = WithBits(100, {5, 40, 99});
         TRecordsBitmap shorter(40);
         shorter.SetBits();
         b.AndBits(shorter);
         return b;
       },
       100, {5, 40}},
      {"or with a longer bitmap stays within n",
       [] {
         TRecordsBitmap b = WithBits(35, {1});
         TRecordsBitmap longer(100);
         longer.SetBits();
         b.OrBits(longer);
         return b;
       },
       35, Range(1, 35)},
      {"assign copies size and contents",
       [] {
         TRecordsBitmap b = WithBits(500, {7, 400});
         b.Assign(WithBits(33, {33}));
         return b;
       },
       33, {33}},
      {"clear all",
       [] {
         TRecordsBitmap b(64);
         b.SetBits();
         b.ClearBits();
         return b;
       },
       64, {}},
  };
  for (const TBitmapCase& c : cases) {
    SCOPED_TRACE(c.name);
    const TRecordsBitmap b = c.build();
    EXPECT_EQ(b.GetNumOfBits(), c.numberOfBits);
    EXPECT_EQ(b.GetRoundedBits(), (c.numberOfBits + 31) / 32 * 32);
    EXPECT_EQ(SetRecords(b), c.expected);
    EXPECT_EQ(b.GetTotalBitsSet(), static_cast<std::int32_t>(c.expected.size()));
    EXPECT_EQ(b.GetBufferSize() % TRecordsBitmap::kGrowBytes, 0u);
  }
}

TEST(RecordsBitmap, SteppingSkipsWholeWordsAndStopsAtTheEnd) {
  TRecordsBitmap b(100);
  for (std::int32_t r = 33; r <= 64; ++r) b.SetBit(r);  // one word of all ones
  b.SetBit(5);
  b.SetBit(90);
  std::int32_t r = 0;
  std::int32_t counter = 0;
  EXPECT_TRUE(b.GetNextBitsSet(r, 1, counter));
  EXPECT_EQ(r, 5);
  EXPECT_EQ(counter, 1);
  EXPECT_TRUE(b.GetNextBitsSet(r, 33, counter));  // 32 of the full word, then 90
  EXPECT_EQ(r, 90);
  EXPECT_EQ(counter, 34);
  EXPECT_FALSE(b.GetNextBitsSet(r, 1, counter));  // nothing after 90
  EXPECT_EQ(r, 90);
  EXPECT_EQ(counter, 34);

  r = 101;
  counter = 34;
  EXPECT_TRUE(b.GetPreviousBitsSet(r, 1, counter));
  EXPECT_EQ(r, 90);
  EXPECT_TRUE(b.GetPreviousBitsSet(r, 32, counter));
  EXPECT_EQ(r, 33);
  EXPECT_EQ(counter, 1);
  EXPECT_FALSE(b.GetPreviousBitsSet(r, 3, counter));  // only 5 is left
  EXPECT_EQ(r, 5);
  EXPECT_EQ(counter, 0);

  EXPECT_EQ(b.GetPreviousTotalBitsSet(1), 0);
  EXPECT_EQ(b.GetPreviousTotalBitsSet(6), 1);
  EXPECT_EQ(b.GetPreviousTotalBitsSet(65), 33);
  EXPECT_EQ(b.GetPreviousTotalBitsSet(1000), 34);
}

// The model: a flag per record number 1..n (index 0 unused).
struct TModel {
  std::vector<bool> bits;
  std::int32_t n() const { return static_cast<std::int32_t>(bits.size()) - 1; }
  bool Get(std::int32_t r) const { return r >= 1 && r <= n() && bits[static_cast<std::size_t>(r)]; }
};

void ExpectSame(const TRecordsBitmap& b, const TModel& m, std::mt19937& random) {
  ASSERT_EQ(b.GetNumOfBits(), m.n());
  std::int32_t total = 0;
  for (std::int32_t r = -1; r <= m.n() + 33; ++r) {
    ASSERT_EQ(b.IsBitSet(r), m.Get(r)) << "record " << r;
    total += m.Get(r) ? 1 : 0;
  }
  ASSERT_EQ(b.GetTotalBitsSet(), total);
  std::uniform_int_distribution<std::int32_t> start(-2, m.n() + 3);
  std::uniform_int_distribution<std::int32_t> steps(0, 80);
  for (int probe = 0; probe < 20; ++probe) {
    const std::int32_t from = start(random);
    std::int32_t before = 0;
    for (std::int32_t r = 1; r < from && r <= m.n(); ++r) before += m.Get(r) ? 1 : 0;
    ASSERT_EQ(b.GetPreviousTotalBitsSet(from), before) << "before " << from;

    const std::int32_t k = steps(random);
    // Forward from 'from' in the model.
    std::int32_t expectR = from;
    std::int32_t found = 0;
    for (std::int32_t r = std::max(from + 1, 1); r <= m.n() && found < k; ++r) {
      if (m.Get(r)) {
        ++found;
        expectR = r;
      }
    }
    std::int32_t r = from;
    std::int32_t counter = 7;
    ASSERT_EQ(b.GetNextBitsSet(r, k, counter), found == k) << "next from " << from << " k " << k;
    ASSERT_EQ(r, expectR);
    ASSERT_EQ(counter, 7 + found);

    // Backward from 'from' in the model.
    expectR = from;
    found = 0;
    for (std::int32_t q = std::min(from - 1, m.n()); q >= 1 && found < k; --q) {
      if (m.Get(q)) {
        ++found;
        expectR = q;
      }
    }
    r = from;
    counter = 1000;
    ASSERT_EQ(b.GetPreviousBitsSet(r, k, counter), found == k) << "previous from " << from << " k " << k;
    ASSERT_EQ(r, expectR);
    ASSERT_EQ(counter, 1000 - found);
  }
}

TEST(RecordsBitmap, RandomOperationsAgreeWithAModel) {
  std::mt19937 random(20261210);
  for (int run = 0; run < 40; ++run) {
    std::uniform_int_distribution<std::int32_t> sizes(0, 300);
    TRecordsBitmap b(sizes(random));
    TModel m{std::vector<bool>(static_cast<std::size_t>(b.GetNumOfBits()) + 1)};
    for (int step = 0; step < 60; ++step) {
      std::uniform_int_distribution<std::int32_t> record(-1, m.n() + 2);
      // Runs of ones now and then, so whole-word skipping is exercised.
      const int op = std::uniform_int_distribution<int>(0, 11)(random);
      switch (op) {
        case 0:
        case 1:
        case 2: {
          const std::int32_t r = record(random);
          b.SetBit(r);
          if (r >= 1 && r <= m.n()) m.bits[static_cast<std::size_t>(r)] = true;
          break;
        }
        case 3: {
          const std::int32_t r = record(random);
          b.ClearBit(r);
          if (r >= 1 && r <= m.n()) m.bits[static_cast<std::size_t>(r)] = false;
          break;
        }
        case 4: {
          b.NotBits();
          for (std::size_t r = 1; r < m.bits.size(); ++r) m.bits[r] = !m.bits[r];
          break;
        }
        case 5: {
          const std::int32_t n = sizes(random);
          b.SetNumOfBits(n);
          m.bits.resize(static_cast<std::size_t>(n) + 1, false);
          break;
        }
        case 6:
        case 7:
        case 8: {
          // A second bitmap, mostly of the same size, sometimes shorter or longer.
          std::int32_t n = m.n();
          if (std::uniform_int_distribution<int>(0, 3)(random) == 0) n = sizes(random);
          TRecordsBitmap other(n);
          TModel o{std::vector<bool>(static_cast<std::size_t>(n) + 1)};
          const std::int32_t from = std::uniform_int_distribution<std::int32_t>(1, std::max(n, 1))(random);
          const std::int32_t length = std::uniform_int_distribution<std::int32_t>(0, 80)(random);
          for (std::int32_t r = from; r < from + length && r <= n; ++r) {
            other.SetBit(r);
            o.bits[static_cast<std::size_t>(r)] = true;
          }
          for (std::size_t r = 1; r < m.bits.size(); ++r) {
            const bool theirs = o.Get(static_cast<std::int32_t>(r));
            if (op == 6) m.bits[r] = m.bits[r] && theirs;
            if (op == 7) m.bits[r] = m.bits[r] || theirs;
            if (op == 8) m.bits[r] = m.bits[r] != theirs;
          }
          if (op == 6) b.AndBits(other);
          if (op == 7) b.OrBits(other);
          if (op == 8) b.XorBits(other);
          break;
        }
        case 9: {
          b.SetBits();
          std::fill(m.bits.begin() + 1, m.bits.end(), true);
          break;
        }
        case 10: {
          TRecordsBitmap copy;
          copy.Assign(b);
          b.ClearBits();
          b.Assign(copy);
          break;
        }
        default: {
          const std::int32_t from = record(random);
          for (std::int32_t r = from; r < from + 64; ++r) {
            b.SetBit(r);
            if (r >= 1 && r <= m.n()) m.bits[static_cast<std::size_t>(r)] = true;
          }
          break;
        }
      }
      ASSERT_NO_FATAL_FAILURE(ExpectSame(b, m, random)) << "run " << run << " step " << step << " op " << op;
    }
  }
}

TEST(RecordsBitmapPool, ReusesTheLastReturnedBitmapCleared) {
  TRecordsBitmapStack pool;
  auto a = pool.Take();
  a->SetNumOfBits(100);
  a->SetBits();
  TRecordsBitmap* const address = a.get();
  pool.Return(a);
  EXPECT_EQ(a, nullptr);
  EXPECT_EQ(pool.Size(), 1u);
  auto b = pool.Take();
  EXPECT_EQ(b.get(), address);
  EXPECT_EQ(b->GetNumOfBits(), 100);  // the number of bits as left
  EXPECT_EQ(b->GetTotalBitsSet(), 0);
  EXPECT_EQ(pool.Size(), 0u);
}

TEST(RecordsBitmapPool, KeepsAtMostItsLimit) {
  TRecordsBitmapStack pool;
  std::vector<std::unique_ptr<TRecordsBitmap>> taken;
  for (std::size_t i = 0; i < TRecordsBitmapStack::kPoolLimit + 10; ++i) taken.push_back(pool.Take());
  for (auto& bitmap : taken) pool.Return(bitmap);
  EXPECT_EQ(pool.Size(), TRecordsBitmapStack::kPoolLimit);
  for (const auto& bitmap : taken) EXPECT_EQ(bitmap, nullptr);
}

TEST(RecordsBitmapPool, ThreadsTakeAndReturnAtOnce) {
  CreateRecordsBitmapPool();
  ASSERT_TRUE(RecordsBitmapPoolExists());
  constexpr int kThreads = 8;
  constexpr int kRounds = 400;
  std::vector<int> faults(kThreads, 0);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t, &faults] {
      std::mt19937 random(static_cast<unsigned>(t));
      for (int round = 0; round < kRounds; ++round) {
        // Several at a time, so the pool both runs dry and overflows.
        std::vector<std::unique_ptr<TRecordsBitmap>> mine;
        const int count = std::uniform_int_distribution<int>(1, 20)(random);
        for (int i = 0; i < count; ++i) {
          auto bitmap = GetNewRecordsBitmapInstance();
          // A bitmap handed out is empty and belongs to this thread alone.
          if (bitmap->GetTotalBitsSet() != 0) ++faults[static_cast<std::size_t>(t)];
          bitmap->SetNumOfBits(64 + t);
          bitmap->SetBits();
          mine.push_back(std::move(bitmap));
        }
        for (auto& bitmap : mine) {
          if (bitmap->GetTotalBitsSet() != 64 + t) ++faults[static_cast<std::size_t>(t)];
          ReturnRecordsBitmapInstance(bitmap);
          if (bitmap != nullptr) ++faults[static_cast<std::size_t>(t)];
        }
      }
    });
  }
  for (auto& thread : threads) thread.join();
  for (int t = 0; t < kThreads; ++t) EXPECT_EQ(faults[static_cast<std::size_t>(t)], 0) << "thread " << t;
  EXPECT_LE(RecordsBitmapPoolSize(), TRecordsBitmapStack::kPoolLimit);
  EXPECT_GT(RecordsBitmapPoolSize(), 0u);
  FreeRecordsBitmapPool();
  EXPECT_FALSE(RecordsBitmapPoolExists());
  EXPECT_EQ(RecordsBitmapPoolSize(), 0u);
}

TEST(RecordsBitmapPool, WithoutAPoolBitmapsAreMadeAndDestroyed) {
  FreeRecordsBitmapPool();
  auto bitmap = GetNewRecordsBitmapInstance();
  ASSERT_NE(bitmap, nullptr);
  bitmap->SetNumOfBits(10);
  ReturnRecordsBitmapInstance(bitmap);
  EXPECT_EQ(bitmap, nullptr);
  EXPECT_EQ(RecordsBitmapPoolSize(), 0u);
}

}  // namespace
}  // namespace tarn
