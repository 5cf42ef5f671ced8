// Byte-range locks between processes: open-file-description locks
// (fcntl F_OFD_SETLK), never blocking and never with length 0. A lock belongs
// to the open file description, so another open and close of the same file
// in this process does not release it.
#pragma once

#include <cstdint>

namespace tarn {

enum class TLockResult {
  lrLocked,  // the range is now held
  lrBusy,    // some byte of the range is held elsewhere; trying again may help
  lrFailed   // the request is invalid or the descriptor cannot take it
};

// Locks offset..offset+length-1, shared (read) or exclusive (write). A range
// already held through the same descriptor is converted, not nested.
TLockResult OSLockRange(int fd, std::int64_t offset, std::int64_t length, bool shared);

// Releases the range; true on success.
bool OSUnlockRange(int fd, std::int64_t offset, std::int64_t length);

// What F_OFD_GETLK reports for a range: whether a lock of the given type would
// conflict, and the conflicting lock's range and type.
struct TOSLockProbe {
  bool conflict = false;
  bool conflictShared = false;
  std::int64_t start = 0;
  std::int64_t length = 0;
};

// Asks, without locking, whether the range could be locked; false on an error.
bool OSProbeRange(int fd, std::int64_t offset, std::int64_t length, bool shared, TOSLockProbe& probe);

// True when offset and length form a valid lock request (length >= 1, no
// negative values, last byte representable).
bool ValidLockRange(std::int64_t offset, std::int64_t length) noexcept;

}  // namespace tarn
