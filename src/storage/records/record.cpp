// Cached data records.
#include "storage/records/record.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "storage/records/data_file.h"
#include "storage/formats/record_layout.h"
#include "storage/formats/scrambling.h"

namespace tarn {

TRecord::TRecord(TDataFile& file) : file_(file) { SetRecordSize(file.GetRecordSize()); }

void TRecord::SetRecordSize(std::size_t size) {
  size = std::max(size, kRecordHeaderSize);
  if (!ResizeBuffer(static_cast<std::int64_t>(size), RecordBufferGranularity, buffer_, capacity_)) {
    throw std::bad_alloc();
  }
  size_ = size;
}

void TRecord::SetSortKeySize(std::size_t size) {
  if (!ResizeBuffer(static_cast<std::int64_t>(size), RecordBufferGranularity, sortKey_, sortKeyCapacity_)) {
    throw std::bad_alloc();
  }
}

void TRecord::Reset(std::int32_t number) {
  SetRecordSize(file_.GetRecordSize());
  std::memset(buffer_.get(), 0, size_);
  SetNumberValue(number);
  SetDirty(false);
  ClearUseCount();
}

void TRecord::Initialize(bool newID) {
  std::memset(buffer_.get(), 0, size_);
  if (newID) StoreInt32(buffer_.get() + kRecordIdOffset, file_.GetNextFreeRecordID());
  StoreInt32(buffer_.get() + kRecordNumberOffset, Number());
  SetDirty(false);
}

void TRecord::Read(const std::uint8_t* diskBytes) {
  std::memcpy(buffer_.get(), diskBytes, size_);
  if (file_.GetEncrypted()) DecryptBuffer(buffer_.get(), size_, kRecordSeeds);
  if (!GetIsDeleted()) StoreInt32(buffer_.get() + kRecordNumberOffset, Number());
  SetDirty(false);
}

void TRecord::Write(std::uint8_t* diskBytes) {
  std::memcpy(diskBytes, buffer_.get(), size_);
  if (file_.GetEncrypted()) EncryptBuffer(diskBytes, size_, kRecordSeeds);
  SetDirty(false);
}

bool TRecord::GetIsDeleted() const noexcept { return buffer_[kRecordDeletedOffset] != kRecordLive; }

void TRecord::SetIsDeleted(bool deleted) noexcept {
  buffer_[kRecordDeletedOffset] = deleted ? kRecordDeleted : kRecordLive;
  SetDirty(true);
}

std::int32_t TRecord::GetNextFreeRecord() const noexcept {
  return GetIsDeleted() ? LoadInt32(buffer_.get() + kRecordNumberOffset) : 0;
}

void TRecord::SetNextFreeRecord(std::int32_t n) noexcept {
  StoreInt32(buffer_.get() + kRecordNumberOffset, n);
  SetDirty(true);
}

std::int32_t TRecord::GetRecordID() const noexcept { return LoadInt32(buffer_.get() + kRecordIdOffset); }

void TRecord::SetRecordID(std::int32_t id) noexcept {
  StoreInt32(buffer_.get() + kRecordIdOffset, id);
  SetDirty(true);
}

void TRecord::SetRecordNumber(std::int32_t n) noexcept {
  SetNumberValue(n);
  if (!GetIsDeleted()) StoreInt32(buffer_.get() + kRecordNumberOffset, n);
}

void TRecord::Copy(const TRecord& other) {
  SetRecordSize(other.size_);
  std::memcpy(buffer_.get(), other.buffer_.get(), size_);
  SetNumberValue(other.Number());
  SetDirty(other.Dirty());
}

bool TRecord::IsEqualTo(const TRecord& other) const noexcept {
  return size_ == other.size_ && GetIsDeleted() == other.GetIsDeleted() &&
         std::memcmp(buffer_.get(), other.buffer_.get(), size_) == 0;
}

bool TRecord::IsEqualToRecordBuffer(const std::uint8_t* bytes) const noexcept {
  return std::memcmp(buffer_.get(), bytes, size_) == 0;
}

void TRecord::CopyRecordBuffer(const std::uint8_t* bytes) noexcept {
  std::memcpy(buffer_.get() + kRecordHeaderSize, bytes + kRecordHeaderSize, size_ - kRecordHeaderSize);
  SetDirty(true);
}

}  // namespace tarn
