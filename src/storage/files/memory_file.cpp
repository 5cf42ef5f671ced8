// In-memory file objects.
#include "storage/files/memory_file.h"

#include <cstring>

#include "core/errors.h"

namespace tarn {

std::int32_t TMemoryFile::CreateNew() {
  std::lock_guard guard(section_);
  (void)ResizeBuffer(0, FileBufferGranularity, buffer_, capacity_);
  return TAbstractFile::CreateNew();
}

std::int64_t TMemoryFile::Capacity() const {
  std::lock_guard guard(section_);
  return capacity_;
}

std::int64_t TMemoryFile::Read(std::int32_t handle, void* buffer, std::int64_t count) {
  std::lock_guard guard(section_);
  TPositionRecord* record = FindHandle(handle);
  if (record == nullptr) return -TARN_OSEBADF;
  if (count <= 0 || record->position < 0 || record->position >= size_) return 0;
  const std::int64_t available = size_ - record->position;
  const std::int64_t n = count < available ? count : available;
  std::memcpy(buffer, buffer_.get() + record->position, static_cast<std::size_t>(n));
  record->position += n;
  return n;
}

std::int64_t TMemoryFile::Write(std::int32_t handle, const void* buffer, std::int64_t count) {
  std::lock_guard guard(section_);
  TPositionRecord* record = FindHandle(handle);
  if (record == nullptr) return -TARN_OSEBADF;
  // A negative position or count never reaches the buffer.
  if (record->position < 0 || count < 0) return -TARN_WRITEERR;
  if (count == 0) {
    // Truncation at the position, or extension with zero bytes.
    const std::int64_t newSize = record->position;
    if (newSize > size_) {
      if (!ResizeBuffer(newSize, FileBufferGranularity, buffer_, capacity_)) return -TARN_OSENOMEM;
      std::memset(buffer_.get() + size_, 0, static_cast<std::size_t>(newSize - size_));
    }
    size_ = newSize;
    return 0;
  }
  std::int64_t end = 0;
  if (__builtin_add_overflow(record->position, count, &end)) return -TARN_WRITEERR;
  if (!ResizeBuffer(end, FileBufferGranularity, buffer_, capacity_)) return -TARN_OSENOMEM;
  // Bytes between an old end and a write beyond it must read as zeros.
  if (record->position > size_) std::memset(buffer_.get() + size_, 0, static_cast<std::size_t>(record->position - size_));
  std::memcpy(buffer_.get() + record->position, buffer, static_cast<std::size_t>(count));
  record->position = end;
  if (end > size_) size_ = end;
  return count;
}

}  // namespace tarn
