// Open-file-description byte-range locks.
#include "platform/os_locks.h"

#include <fcntl.h>

#include <cerrno>
#include <limits>

namespace tarn {

bool ValidLockRange(std::int64_t offset, std::int64_t length) noexcept {
  return offset >= 0 && length >= 1 && offset <= std::numeric_limits<std::int64_t>::max() - (length - 1);
}

namespace {

struct flock MakeLock(short type, std::int64_t offset, std::int64_t length) {
  struct flock lock {};
  lock.l_type = type;
  lock.l_whence = SEEK_SET;
  lock.l_start = offset;
  lock.l_len = length;
  lock.l_pid = 0;  // required by F_OFD_* commands
  return lock;
}

}  // namespace

TLockResult OSLockRange(int fd, std::int64_t offset, std::int64_t length, bool shared) {
  if (fd < 0 || !ValidLockRange(offset, length)) return TLockResult::lrFailed;
  struct flock lock = MakeLock(shared ? F_RDLCK : F_WRLCK, offset, length);
  for (;;) {
    if (::fcntl(fd, F_OFD_SETLK, &lock) == 0) return TLockResult::lrLocked;
    if (errno == EINTR) continue;
    return (errno == EAGAIN || errno == EACCES) ? TLockResult::lrBusy : TLockResult::lrFailed;
  }
}

bool OSUnlockRange(int fd, std::int64_t offset, std::int64_t length) {
  if (fd < 0 || !ValidLockRange(offset, length)) return false;
  struct flock lock = MakeLock(F_UNLCK, offset, length);
  for (;;) {
    if (::fcntl(fd, F_OFD_SETLK, &lock) == 0) return true;
    if (errno != EINTR) return false;
  }
}

bool OSProbeRange(int fd, std::int64_t offset, std::int64_t length, bool shared, TOSLockProbe& probe) {
  probe = {};
  if (fd < 0 || !ValidLockRange(offset, length)) return false;
  struct flock lock = MakeLock(shared ? F_RDLCK : F_WRLCK, offset, length);
  if (::fcntl(fd, F_OFD_GETLK, &lock) != 0) return false;
  if (lock.l_type == F_UNLCK) return true;
  probe.conflict = true;
  probe.conflictShared = lock.l_type == F_RDLCK;
  probe.start = lock.l_start;
  probe.length = lock.l_len;
  return true;
}

}  // namespace tarn
