// Lock map operations with their retry loops.
#include "storage/files/lock_map.h"

#include <chrono>
#include <random>
#include <thread>

namespace tarn {
namespace {

class TSleepWaiter final : public TLockWaiter {
 public:
  void Wait(std::uint32_t milliseconds) override {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
  }
};

class TRandomTokens final : public TTokenSource {
 public:
  std::uint16_t NextToken() override {
    thread_local std::mt19937 engine{std::random_device{}()};
    std::uniform_int_distribution<int> distribution(1, 65535);
    return static_cast<std::uint16_t>(distribution(engine));
  }
};

}  // namespace

TLockWaiter& DefaultLockWaiter() {
  static TSleepWaiter waiter;
  return waiter;
}

TTokenSource& DefaultTokenSource() {
  static TRandomTokens tokens;
  return tokens;
}

bool RetryLock(const std::function<TLockResult()>& attempt, const TLockRetry& retry, TLockWaiter& waiter) {
  for (std::uint32_t retries = 0;; ++retries) {
    const TLockResult result = attempt();
    if (result == TLockResult::lrLocked) return true;
    if (result == TLockResult::lrFailed || retries >= retry.retryCount) return false;
    waiter.Wait(retry.waitMilliseconds);
  }
}

bool TLockMap::LockDataWrite(TFileHandler& data) const {
  return RetryLock([&] { return data.TryLockRegion(DataWriteLockOffset, 1); }, InternalLockRetry, *waiter_);
}

bool TLockMap::UnlockDataWrite(TFileHandler& data) const { return data.LockRegion(false, DataWriteLockOffset, 1); }

bool TLockMap::LockJournal(TFileHandler& data) const {
  return RetryLock([&] { return data.TryLockRegion(JournalLockOffset, 1); }, InternalLockRetry, *waiter_);
}

bool TLockMap::UnlockJournal(TFileHandler& data) const { return data.LockRegion(false, JournalLockOffset, 1); }

bool TLockMap::LockRecord(TFileHandler& data, std::uint32_t record, const TLockRetry& retry) const {
  if (record == 0 || record > MaxRecordLockNumber) return false;
  return RetryLock([&] { return data.TryLockRegion(RecordLockOffset(record), 1); }, retry, *waiter_);
}

bool TLockMap::UnlockRecord(TFileHandler& data, std::uint32_t record) const {
  if (record == 0 || record > MaxRecordLockNumber) return false;
  return data.LockRegion(false, RecordLockOffset(record), 1);
}

bool TLockMap::LockTable(TFileHandler& data, const TLockRetry& retry) const {
  return RetryLock([&] { return data.TryLockRegion(TableLockOffset, TableLockLength); }, retry, *waiter_);
}

bool TLockMap::UnlockTable(TFileHandler& data) const { return data.LockRegion(false, TableLockOffset, TableLockLength); }

bool TLockMap::LockSemaphore(TFileHandler& data, std::uint32_t semaphore, const TLockRetry& retry) const {
  if (semaphore < 1 || semaphore > MaxSemaphore) return false;
  return RetryLock([&] { return data.TryLockRegion(SemaphoreLockOffset(semaphore), 1); }, retry, *waiter_);
}

bool TLockMap::UnlockSemaphore(TFileHandler& data, std::uint32_t semaphore) const {
  if (semaphore < 1 || semaphore > MaxSemaphore) return false;
  return data.LockRegion(false, SemaphoreLockOffset(semaphore), 1);
}

bool TLockMap::LockWrite(TFileHandler& file) const {
  return RetryLock([&] { return file.TryLockRegion(WriteLockOffset, WriteLockLength); }, InternalLockRetry, *waiter_);
}

bool TLockMap::UnlockWrite(TFileHandler& file) const { return file.LockRegion(false, WriteLockOffset, WriteLockLength); }

std::uint16_t TLockMap::DrawToken() const {
  // Token 0 would name the byte just past the writer range; it is never used.
  for (int i = 0; i < 16; ++i)
    if (const std::uint16_t token = tokens_->NextToken(); token != 0) return token;
  return 1;
}

bool TLockMap::LockRead(TFileHandler& file, std::uint16_t& token) const {
  std::uint16_t drawn = 0;
  const bool locked = RetryLock(
      [&] {
        drawn = DrawToken();
        return file.TryLockRegion(ReadTokenOffset(drawn), 1, lkShared);
      },
      InternalLockRetry, *waiter_);
  if (locked) token = drawn;
  return locked;
}

bool TLockMap::UnlockRead(TFileHandler& file, std::uint16_t token) const {
  if (token == 0) return false;
  return file.LockRegion(false, ReadTokenOffset(token), 1);
}

}  // namespace tarn
