// Handles, positions and the in-process lock list shared by every file object.
#include "storage/files/file_object.h"

#include <algorithm>
#include <limits>

#include "core/errors.h"

namespace tarn {

std::int64_t TAbstractFile::GetHandlePos(std::int32_t handle) const {
  std::lock_guard guard(section_);
  for (std::size_t i = 0; i < positionList_.size(); ++i)
    if (positionList_[i].handle == handle) return static_cast<std::int64_t>(i);
  return -1;
}

std::int64_t TAbstractFile::HandlePosition(std::int32_t handle) const {
  std::lock_guard guard(section_);
  const std::int64_t index = GetHandlePos(handle);
  return index < 0 ? -1 : positionList_[static_cast<std::size_t>(index)].position;
}

TAbstractFile::TPositionRecord* TAbstractFile::FindHandle(std::int32_t handle) {
  for (auto& record : positionList_)
    if (record.handle == handle) return &record;
  return nullptr;
}

std::int32_t TAbstractFile::AddHandle() {
  if (openCount_ == std::numeric_limits<std::uint16_t>::max()) return -TARN_OSEMFILE;
  // Handle numbers increase; after wrapping, numbers still in use are skipped.
  for (;;) {
    const std::int32_t handle = nextHandle_;
    nextHandle_ = nextHandle_ == std::numeric_limits<std::int32_t>::max() ? 1 : nextHandle_ + 1;
    if (FindHandle(handle) == nullptr) {
      positionList_.push_back({handle, 0});
      ++openCount_;
      return handle;
    }
  }
}

std::int32_t TAbstractFile::CreateNew() {
  std::lock_guard guard(section_);
  const std::int32_t handle = AddHandle();
  if (handle > 0) size_ = 0;
  return handle;
}

std::int32_t TAbstractFile::Open() {
  std::lock_guard guard(section_);
  return AddHandle();
}

std::int32_t TAbstractFile::OpenShared(bool exclusive, bool temporary) {
  std::lock_guard guard(section_);
  if (openCount_ > 0) {
    if (exclusive_ || exclusive) return -TARN_OSEACCES;
  } else {
    exclusive_ = exclusive;
    temporary_ = temporary;
  }
  return Open();
}

std::int32_t TAbstractFile::CreateExclusive(bool temporary) {
  std::lock_guard guard(section_);
  if (openCount_ > 0) return -TARN_OSEACCES;
  exclusive_ = true;
  temporary_ = temporary;
  return CreateNew();
}

std::int32_t TAbstractFile::Close(std::int32_t handle) {
  std::lock_guard guard(section_);
  const auto it = std::find_if(positionList_.begin(), positionList_.end(),
                               [handle](const TPositionRecord& r) { return r.handle == handle; });
  if (it == positionList_.end()) return -TARN_OSEBADF;
  positionList_.erase(it);
  --openCount_;
  if (openCount_ == 0) ClearLockRecords();
  return 0;
}

std::int32_t TAbstractFile::Rename(const std::string& newName) {
  std::lock_guard guard(section_);
  fileName_ = newName;
  return 0;
}

std::int32_t TAbstractFile::Delete() { return 0; }

std::int64_t TAbstractFile::Read(std::int32_t, void*, std::int64_t) { return -TARN_OSEBADF; }

std::int64_t TAbstractFile::Write(std::int32_t, const void*, std::int64_t) { return -TARN_OSEBADF; }

std::int32_t TAbstractFile::Flush() { return 0; }

std::int64_t TAbstractFile::GetSize() {
  std::lock_guard guard(section_);
  return size_;
}

std::int32_t TAbstractFile::Seek(std::int32_t handle, int origin, std::int64_t offset, std::int64_t& position) {
  std::lock_guard guard(section_);
  TPositionRecord* record = FindHandle(handle);
  if (record == nullptr) return -TARN_OSEBADF;
  std::int64_t base = 0;
  switch (origin) {
    case 0:
      base = 0;
      break;
    case 1:
      base = record->position;
      break;
    case 2: {
      const std::int64_t size = GetSize();
      if (size < 0) return static_cast<std::int32_t>(size);
      base = size;
      break;
    }
    default:
      return -TARN_OSUNKNOWN;
  }
  std::int64_t result = 0;
  if (__builtin_add_overflow(base, offset, &result)) return -TARN_OSUNKNOWN;
  record->position = result;
  position = result;
  return 0;
}

std::size_t TAbstractFile::LockCount() const {
  std::lock_guard guard(section_);
  return lockList_.size();
}

bool TAbstractFile::OverlapsHeldLock(std::int64_t offset, std::int64_t length) const {
  const std::int64_t last = offset + (length - 1);
  for (const auto& lock : lockList_)
    if (offset <= lock.lastByte && lock.firstByte <= last) return true;
  return false;
}

void TAbstractFile::AddLockRecord(std::int64_t offset, std::int64_t length) {
  lockList_.push_back({offset, offset + (length - 1), length});
}

bool TAbstractFile::RemoveLockRecord(std::int64_t offset, std::int64_t length) {
  const auto it = std::find_if(lockList_.begin(), lockList_.end(), [&](const TLockRecord& r) {
    return r.firstByte == offset && r.length == length;
  });
  if (it == lockList_.end()) return false;
  lockList_.erase(it);
  return true;
}

TLockResult TAbstractFile::Lock(std::int64_t offset, std::int64_t length, TLockKind) {
  if (!ValidLockRange(offset, length)) return TLockResult::lrFailed;
  std::lock_guard guard(section_);
  if (OverlapsHeldLock(offset, length)) return TLockResult::lrBusy;
  AddLockRecord(offset, length);
  return TLockResult::lrLocked;
}

bool TAbstractFile::Unlock(std::int64_t offset, std::int64_t length) {
  if (!ValidLockRange(offset, length)) return false;
  std::lock_guard guard(section_);
  return RemoveLockRecord(offset, length);
}

}  // namespace tarn
