// TMemoryFile: a file object kept in memory, the storage of in-memory tables.
// The buffer grows in 4096-byte steps; the logical size is kept by writes.
#pragma once

#include "storage/files/file_object.h"
#include "storage/files/resize_buffer.h"

namespace tarn {

class TMemoryFile : public TAbstractFile {
 public:
  TMemoryFile() = default;

  bool InMemory() const noexcept override { return true; }

  std::int32_t CreateNew() override;
  std::int64_t Read(std::int32_t handle, void* buffer, std::int64_t count) override;
  std::int64_t Write(std::int32_t handle, const void* buffer, std::int64_t count) override;

  std::int64_t Capacity() const;

 private:
  TBufferPtr buffer_;
  std::int64_t capacity_ = 0;
};

}  // namespace tarn
