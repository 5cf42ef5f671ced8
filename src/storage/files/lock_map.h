// The byte-range lock map: the protocol between processes (and sessions)
// sharing a table on disk. All offsets lie below 2^32, far past any data the
// engine writes, so locks never cover real data.
//
//   data file   data write lock        0xFFFFFFFF              1
//               record lock n          0xFFFFFFFE - n          1
//               table lock             0xF4143DFD              200,000,001 (records 1..200,000,001)
//               semaphore s (1..1024)  0xF4143DFC - s          1
//               journal lock           0xF4000000              1 (held while a flush's journal exists)
//   index/BLOB  write lock             0xFFFEFFFF              65,536
//               read token t           0xFFFFFFFF - t          1 (shared)
//
// Internal locks (data write lock, index and BLOB read and write locks) retry
// up to 16,384 times with 3 ms pauses; user locks (record, table, semaphore)
// with the session's retry count and wait time. Unlocks are single attempts.
#pragma once

#include <cstdint>
#include <functional>

#include "storage/files/file_handler.h"

namespace tarn {

inline constexpr std::int64_t DataWriteLockOffset = 0xFFFFFFFFLL;
inline constexpr std::int64_t JournalLockOffset = 0xF4000000LL;
inline constexpr std::int64_t TableLockOffset = 0xF4143DFDLL;
inline constexpr std::int64_t TableLockLength = 200000001LL;
inline constexpr std::int64_t WriteLockOffset = 0xFFFEFFFFLL;
inline constexpr std::int64_t WriteLockLength = 65536LL;
inline constexpr std::uint32_t MaxSemaphore = 1024;
inline constexpr std::uint32_t MaxRecordLockNumber = 0xFFFFFFFEu;

constexpr std::int64_t RecordLockOffset(std::uint32_t record) { return 0xFFFFFFFELL - record; }
constexpr std::int64_t SemaphoreLockOffset(std::uint32_t semaphore) { return 0xF4143DFCLL - semaphore; }
constexpr std::int64_t ReadTokenOffset(std::uint16_t token) { return 0xFFFFFFFFLL - token; }

// How often a lock is tried again and how long to wait before each retry.
struct TLockRetry {
  std::uint32_t retryCount;
  std::uint32_t waitMilliseconds;
};

inline constexpr TLockRetry InternalLockRetry{16384, 3};

// The pause between attempts; tests install one that does not sleep.
class TLockWaiter {
 public:
  virtual ~TLockWaiter() = default;
  virtual void Wait(std::uint32_t milliseconds) = 0;
};

// Source of reader tokens in 1..65535.
class TTokenSource {
 public:
  virtual ~TTokenSource() = default;
  virtual std::uint16_t NextToken() = 0;
};

// Sleeps for real.
TLockWaiter& DefaultLockWaiter();
// Per-thread random tokens.
TTokenSource& DefaultTokenSource();

// Tries once, then after each busy answer waits and tries again, up to
// retry.retryCount retries. A request that can never succeed (lrFailed) stops
// at once. True when the lock was taken.
bool RetryLock(const std::function<TLockResult()>& attempt, const TLockRetry& retry, TLockWaiter& waiter);

class TLockMap {
 public:
  TLockMap() : waiter_(&DefaultLockWaiter()), tokens_(&DefaultTokenSource()) {}
  TLockMap(TLockWaiter& waiter, TTokenSource& tokens) : waiter_(&waiter), tokens_(&tokens) {}

  // Data file: the data write lock (internal retries).
  bool LockDataWrite(TFileHandler& data) const;
  bool UnlockDataWrite(TFileHandler& data) const;
  // Data file: the journal lock byte (internal retries).
  bool LockJournal(TFileHandler& data) const;
  bool UnlockJournal(TFileHandler& data) const;
  // Data file: record n >= 1 (user retries). Record 0 always fails.
  bool LockRecord(TFileHandler& data, std::uint32_t record, const TLockRetry& retry) const;
  bool UnlockRecord(TFileHandler& data, std::uint32_t record) const;
  // Data file: the user's table lock over every record-lock byte (user retries).
  bool LockTable(TFileHandler& data, const TLockRetry& retry) const;
  bool UnlockTable(TFileHandler& data) const;
  // Data file: semaphore 1..1024 (user retries); others fail.
  bool LockSemaphore(TFileHandler& data, std::uint32_t semaphore, const TLockRetry& retry) const;
  bool UnlockSemaphore(TFileHandler& data, std::uint32_t semaphore) const;
  // Index or BLOB file: the writer range (internal retries).
  bool LockWrite(TFileHandler& file) const;
  bool UnlockWrite(TFileHandler& file) const;
  // Index or BLOB file: a reader token, drawn anew for every attempt
  // (internal retries). On success token holds the token to unlock with.
  bool LockRead(TFileHandler& file, std::uint16_t& token) const;
  bool UnlockRead(TFileHandler& file, std::uint16_t token) const;

 private:
  std::uint16_t DrawToken() const;

  TLockWaiter* waiter_;
  TTokenSource* tokens_;
};

}  // namespace tarn
