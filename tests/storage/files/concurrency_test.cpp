// Several threads on the file list and on shared files at once: opens and
// closes of one name, positioned reads under the file section, record locks
// that exactly one handler can hold at a time, and the share rules (an
// exclusive opener excludes every other) while opens run outside the list lock.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "core/errors.h"
#include "file_test_support.h"
#include "storage/files/file_list.h"
#include "storage/files/lock_map.h"

namespace tarn {
namespace {

using testing_support::MakeFile;
using testing_support::TScratchDir;

class TNoWait : public TLockWaiter {
 public:
  void Wait(std::uint32_t) override { std::this_thread::yield(); }
};

TEST(Concurrency, OpenReadLockFromManyThreads) {
  TScratchDir dir;
  const std::string name = dir / "busy.DAT";
  std::string bytes(4096, '\0');
  for (int i = 0; i < 4096; ++i) bytes[static_cast<std::size_t>(i)] = static_cast<char>(i % 251);
  MakeFile(name, bytes);
  constexpr int kThreads = 6;
  constexpr int kRounds = 300;
  std::atomic<int> errors{0};
  std::atomic<int> holders{0};
  TNoWait noWait;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      TLockMap map(noWait, DefaultTokenSource());
      for (int round = 0; round < kRounds; ++round) {
        try {
          TFileHandler h;
          h.SetFileName(name);
          h.OpenFile();
          const std::int64_t at = (t * 97 + round * 13) % 4000;
          char buffer[16];
          {
            TFileHandlerLock section(h);
            h.Seek(0, at);
            h.Read(buffer, 16);
          }
          for (int i = 0; i < 16; ++i)
            if (buffer[i] != bytes[static_cast<std::size_t>(at + i)]) ++errors;
          // Record 1 is held by at most one handler at any moment.
          if (map.LockRecord(h, 1, {20, 0})) {
            if (holders.fetch_add(1) != 0) ++errors;
            holders.fetch_sub(1);
            if (!map.UnlockRecord(h, 1)) ++errors;
          }
          std::uint16_t token = 0;
          if (!map.LockRead(h, token) || !map.UnlockRead(h, token)) ++errors;
        } catch (const ETarnEngineError&) {
          ++errors;
        }
      }
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(errors.load(), 0);
  EXPECT_FALSE(TFileList::Instance().FileExists(dir / "none.DAT", false));
}

TEST(Concurrency, ShareRulesHoldWhileThreadsOpenCreateAndDeleteAtOnce) {
  TScratchDir dir;
  const std::string shared = dir / "shared.DAT";
  MakeFile(shared, std::string(64, 'x'));
  TFileList& list = TFileList::Instance();
  const std::size_t before = list.Count();
  constexpr int kRounds = 300;
  std::atomic<int> sharedHolders{0};
  std::atomic<int> exclusiveHolds{0};
  std::atomic<int> errors{0};
  std::vector<std::thread> threads;
  // Shared openers count themselves in after opening and out before closing.
  for (int t = 0; t < 3; ++t) {
    threads.emplace_back([&] {
      for (int round = 0; round < kRounds; ++round) {
        bool readOnly = false, media = false;
        TAbstractFile* file = nullptr;
        const std::int32_t handle = list.OpenFile(shared, {}, readOnly, media, file);
        if (handle < 0) {
          if (handle != -TARN_OSEACCES) ++errors;
          continue;
        }
        ++sharedHolders;
        std::this_thread::yield();
        --sharedHolders;
        if (list.CloseFile(file, false, handle) != 0) ++errors;
      }
    });
  }
  // An exclusive opener never finds a shared holder inside.
  // It keeps trying until it got the file once (at the latest when the others are done).
  threads.emplace_back([&] {
    for (int round = 0; round < kRounds || exclusiveHolds.load() == 0; ++round) {
      bool readOnly = false, media = false;
      TAbstractFile* file = nullptr;
      const std::int32_t handle = list.OpenFile(shared, {.Exclusive = true}, readOnly, media, file);
      if (handle < 0) {
        if (handle != -TARN_OSEACCES) ++errors;
        continue;
      }
      ++exclusiveHolds;
      for (int i = 0; i < 3; ++i) {
        if (sharedHolders.load() != 0) ++errors;
        std::this_thread::yield();
      }
      if (list.CloseFile(file, false, handle) != 0) ++errors;
    }
  });
  // Temporary files made and deleted beside them, one name per thread.
  for (int t = 0; t < 2; ++t) {
    threads.emplace_back([&, t] {
      const std::string name = dir / ("temp" + std::to_string(t) + ".DAT");
      for (int round = 0; round < kRounds; ++round) {
        TAbstractFile* file = nullptr;
        const std::int32_t handle = list.CreateFile(name, {.Temporary = true}, file);
        if (handle < 0 || list.CloseFile(file, false, handle) != 0) ++errors;
        if (list.FileExists(name, false) && list.DeleteFile(name, false) != 0) ++errors;
      }
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(errors.load(), 0);
  EXPECT_GT(exclusiveHolds.load(), 0);
  EXPECT_EQ(list.Count(), before);  // every object left the list with its last close
}

}  // namespace
}  // namespace tarn
