// TFaultyFileSystem: a file system for tests that passes every call to the
// operating system, counts the writes, reads, flushes and locks per kind, and
// fails one chosen call of a kind on demand: EIO, ENOSPC, a short write (half
// the bytes really written), or a refused lock. A test first runs an operation
// with counting only to learn how many calls of a kind it makes, then runs it
// again failing each of those calls in turn.
#pragma once

#include <array>
#include <cstdint>
#include <mutex>

#include "platform/file_system.h"

namespace tarn::testing {

enum class TCallKind { ckWrite, ckRead, ckFlush, ckLock };

enum class TFault {
  fkEIO,         // the call fails with EIO
  fkENOSPC,      // the call fails with ENOSPC (writes and flushes)
  fkShortWrite,  // a write stores only the first half of its bytes and says so
  fkRefuseLock   // a lock request is refused as invalid, so it is not retried
};

const char* FaultName(TFault fault);

class TFaultyFileSystem final : public TFileSystem {
 public:
  // Counts from zero and fails nothing.
  void Reset();
  // Fails the n-th call (1-based, counted from now) of the kind with the fault;
  // later calls pass again. Resets the counters.
  void FailNth(TCallKind kind, std::int64_t n, TFault fault);
  // Calls of the kind since the last Reset or FailNth.
  std::int64_t Count(TCallKind kind) const;
  // Whether the armed fault has struck.
  bool Fired() const;
  // Kills this process with SIGKILL just before its (n + 1)-th change to a file
  // from now (a create, write, truncation, sync, delete or rename), as if it died
  // after the n-th; a negative n kills nothing. Changes() counts those changes.
  void KillAfterChanges(std::int64_t n);
  std::int64_t Changes() const;

  int Attributes(const std::string& path, TOSFileAttributes& attributes) override;
  bool Exists(const std::string& path) override;
  int Open(const std::string& path, bool writable, TUniqueFd& fd) override;
  int Create(const std::string& path, bool exclusiveNew, TUniqueFd& fd) override;
  void Close(TUniqueFd& fd) override;
  std::int64_t PRead(int fd, void* buffer, std::int64_t count, std::int64_t position) override;
  std::int64_t PWrite(int fd, const void* buffer, std::int64_t count, std::int64_t position) override;
  int Truncate(int fd, std::int64_t size) override;
  int Sync(int fd) override;
  int Size(int fd, std::int64_t& size) override;
  void AdviseSequential(int fd) override;
  TLockResult Lock(int fd, std::int64_t offset, std::int64_t length, bool shared) override;
  bool Unlock(int fd, std::int64_t offset, std::int64_t length) override;
  bool Probe(int fd, std::int64_t offset, std::int64_t length, bool shared, TOSLockProbe& probe) override;
  int Delete(const std::string& path) override;
  int Rename(const std::string& oldPath, const std::string& newPath) override;

 private:
  // Counts a call of the kind; true when this one is to fail.
  bool Strike(TCallKind kind);
  // Counts a change; dies when it is the one armed.
  void Change();
  std::int64_t changes_ = 0;
  std::int64_t killAfter_ = -1;

  mutable std::mutex mutex_;
  std::array<std::int64_t, 4> counts_{};
  TCallKind failKind_ = TCallKind::ckWrite;
  std::int64_t failAt_ = 0;  // 0: nothing armed
  TFault fault_ = TFault::fkEIO;
  bool fired_ = false;
};

}  // namespace tarn::testing
