// Several threads on the file list and on shared files at once: opens and
// closes of one name, positioned reads under the file section, and record
// locks that exactly one handler can hold at a time.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "file_test_support.h"
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

}  // namespace
}  // namespace tarn
