// TRecord: one cached data record of a data file. The buffer holds the
// stored record layout (deleted flag, record number or free-list link, record
// ID, fields); it is read from and written to disk bytes, descrambled and
// scrambled when the table is encrypted.
#pragma once

#include <cstdint>
#include <span>

#include "storage/files/buffer_cache.h"
#include "storage/files/resize_buffer.h"

namespace tarn {

class TDataFile;

class TRecord : public TCachedBuffer {
 public:
  explicit TRecord(TDataFile& file);

  // Zero the buffer; with newID store a fresh record ID; store the record
  // number at offset 1; clean.
  void Initialize(bool newID);
  // Take the disk bytes (record size of them); a live record gets its own
  // record number at offset 1; clean.
  void Read(const std::uint8_t* diskBytes);
  // Copy the buffer out (scrambled when encrypted); clean.
  void Write(std::uint8_t* diskBytes);

  bool GetIsDeleted() const noexcept;
  void SetIsDeleted(bool deleted) noexcept;
  // Offset 1 of a deleted record; 0 for a live one.
  std::int32_t GetNextFreeRecord() const noexcept;
  void SetNextFreeRecord(std::int32_t n) noexcept;
  std::int32_t GetRecordID() const noexcept;
  void SetRecordID(std::int32_t id) noexcept;
  // Changes the number (and offset 1 of a live record) without making the
  // buffer dirty.
  void SetRecordNumber(std::int32_t n) noexcept;
  // Sizes the buffers (64-byte steps); new bytes are zero.
  void SetRecordSize(std::size_t size);
  void SetSortKeySize(std::size_t size);

  void Copy(const TRecord& other);
  bool IsEqualTo(const TRecord& other) const noexcept;
  bool IsEqualToRecordBuffer(const std::uint8_t* bytes) const noexcept;
  // Copies the fields (bytes 9 onward) from a caller's buffer.
  void CopyRecordBuffer(const std::uint8_t* bytes) noexcept;

  std::uint8_t* GetRecordBufferPtr() noexcept { return buffer_.get(); }
  const std::uint8_t* GetRecordBufferPtr() const noexcept { return buffer_.get(); }
  std::span<std::uint8_t> Bytes() noexcept { return {buffer_.get(), size_}; }
  std::span<const std::uint8_t> Bytes() const noexcept { return {buffer_.get(), size_}; }
  std::uint8_t* GetSortKeyBufferPtr() noexcept { return sortKey_.get(); }
  std::size_t RecordSize() const noexcept { return size_; }

  // For the cache: resize to the file's record size, zero, renumber, clean.
  void Reset(std::int32_t number);

 private:
  TDataFile& file_;
  TBufferPtr buffer_;
  std::int64_t capacity_ = 0;
  std::size_t size_ = 0;
  TBufferPtr sortKey_;
  std::int64_t sortKeyCapacity_ = 0;
};

}  // namespace tarn
