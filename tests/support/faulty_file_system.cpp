// The fault-injecting file system of the tests.
#include "support/faulty_file_system.h"

#include <cerrno>
#include <csignal>

namespace tarn::testing {

const char* FaultName(TFault fault) {
  switch (fault) {
    case TFault::fkEIO: return "EIO";
    case TFault::fkENOSPC: return "ENOSPC";
    case TFault::fkShortWrite: return "short write";
    case TFault::fkRefuseLock: return "refused lock";
  }
  return "?";
}

void TFaultyFileSystem::Reset() {
  std::lock_guard guard(mutex_);
  counts_ = {};
  failAt_ = 0;
  fired_ = false;
  changes_ = 0;
  killAfter_ = -1;
}

void TFaultyFileSystem::FailNth(TCallKind kind, std::int64_t n, TFault fault) {
  std::lock_guard guard(mutex_);
  counts_ = {};
  failKind_ = kind;
  failAt_ = n;
  fault_ = fault;
  fired_ = false;
}

std::int64_t TFaultyFileSystem::Count(TCallKind kind) const {
  std::lock_guard guard(mutex_);
  return counts_[static_cast<std::size_t>(kind)];
}

bool TFaultyFileSystem::Fired() const {
  std::lock_guard guard(mutex_);
  return fired_;
}

void TFaultyFileSystem::KillAfterChanges(std::int64_t n) {
  std::lock_guard guard(mutex_);
  changes_ = 0;
  killAfter_ = n;
}

std::int64_t TFaultyFileSystem::Changes() const {
  std::lock_guard guard(mutex_);
  return changes_;
}

void TFaultyFileSystem::Change() {
  std::lock_guard guard(mutex_);
  if (killAfter_ >= 0 && changes_ >= killAfter_) std::raise(SIGKILL);
  ++changes_;
}

bool TFaultyFileSystem::Strike(TCallKind kind) {
  std::lock_guard guard(mutex_);
  const std::int64_t n = ++counts_[static_cast<std::size_t>(kind)];
  if (failAt_ == 0 || kind != failKind_ || n != failAt_) return false;
  fired_ = true;
  return true;
}

int TFaultyFileSystem::Attributes(const std::string& path, TOSFileAttributes& attributes) {
  return OSFileSystem().Attributes(path, attributes);
}
bool TFaultyFileSystem::Exists(const std::string& path) { return OSFileSystem().Exists(path); }
int TFaultyFileSystem::Open(const std::string& path, bool writable, TUniqueFd& fd) {
  return OSFileSystem().Open(path, writable, fd);
}
int TFaultyFileSystem::Create(const std::string& path, bool exclusiveNew, TUniqueFd& fd) {
  Change();
  return OSFileSystem().Create(path, exclusiveNew, fd);
}
void TFaultyFileSystem::Close(TUniqueFd& fd) { OSFileSystem().Close(fd); }

std::int64_t TFaultyFileSystem::PRead(int fd, void* buffer, std::int64_t count, std::int64_t position) {
  if (Strike(TCallKind::ckRead)) return -EIO;
  return OSFileSystem().PRead(fd, buffer, count, position);
}

std::int64_t TFaultyFileSystem::PWrite(int fd, const void* buffer, std::int64_t count, std::int64_t position) {
  Change();
  if (Strike(TCallKind::ckWrite)) {
    switch (fault_) {
      case TFault::fkENOSPC: return -ENOSPC;
      case TFault::fkShortWrite: {
        const std::int64_t half = count / 2;
        if (half == 0) return 0;
        const std::int64_t n = OSFileSystem().PWrite(fd, buffer, half, position);
        return n < 0 ? n : half;
      }
      default: return -EIO;
    }
  }
  return OSFileSystem().PWrite(fd, buffer, count, position);
}

int TFaultyFileSystem::Truncate(int fd, std::int64_t size) {
  Change();
  return OSFileSystem().Truncate(fd, size); }

int TFaultyFileSystem::Sync(int fd) {
  Change();
  if (Strike(TCallKind::ckFlush)) return fault_ == TFault::fkENOSPC ? ENOSPC : EIO;
  return OSFileSystem().Sync(fd);
}

int TFaultyFileSystem::Size(int fd, std::int64_t& size) { return OSFileSystem().Size(fd, size); }
void TFaultyFileSystem::AdviseSequential(int fd) { OSFileSystem().AdviseSequential(fd); }

TLockResult TFaultyFileSystem::Lock(int fd, std::int64_t offset, std::int64_t length, bool shared) {
  if (Strike(TCallKind::ckLock)) return TLockResult::lrFailed;
  return OSFileSystem().Lock(fd, offset, length, shared);
}

bool TFaultyFileSystem::Unlock(int fd, std::int64_t offset, std::int64_t length) {
  return OSFileSystem().Unlock(fd, offset, length);
}
bool TFaultyFileSystem::Probe(int fd, std::int64_t offset, std::int64_t length, bool shared, TOSLockProbe& probe) {
  return OSFileSystem().Probe(fd, offset, length, shared, probe);
}
int TFaultyFileSystem::Delete(const std::string& path) {
  Change();
  return OSFileSystem().Delete(path); }
int TFaultyFileSystem::Rename(const std::string& oldPath, const std::string& newPath) {
  Change();
  return OSFileSystem().Rename(oldPath, newPath);
}

}  // namespace tarn::testing
