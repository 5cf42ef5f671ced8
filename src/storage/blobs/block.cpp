// Cached BLOB blocks.
#include "storage/blobs/block.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "storage/blobs/blob_file.h"
#include "storage/formats/scrambling.h"

namespace tarn {

TBlock::TBlock(TBlobFile& file) : file_(file) { SetDataSize(file.GetBlockBufferSize()); }

void TBlock::SetDataSize(std::size_t size) {
  if (!ResizeBuffer(static_cast<std::int64_t>(std::max<std::size_t>(size, 1)), RecordBufferGranularity, data_,
                    capacity_)) {
    throw std::bad_alloc();
  }
  dataSize_ = size;
}

void TBlock::Reset(std::int32_t number) {
  SetDataSize(file_.GetBlockBufferSize());
  Initialize();
  SetNumberValue(number);
  SetDirty(false);
  ClearUseCount();
}

void TBlock::Initialize() noexcept {
  header_ = TBlockHeader{};
  if (dataSize_ > 0) std::memset(data_.get(), 0, dataSize_);
}

void TBlock::Read(const std::uint8_t* diskBytes) {
  const bool encrypted = file_.GetEncrypted();
  header_ = ReadBlockHeader(std::span<const std::uint8_t, kBlockHeaderSize>(diskBytes, kBlockHeaderSize), encrypted);
  std::memcpy(data_.get(), diskBytes + kBlockHeaderSize, dataSize_);
  if (encrypted) DecryptBuffer(data_.get(), dataSize_, kRecordSeeds);
  SetDirty(false);
}

void TBlock::Write(std::uint8_t* diskBytes) {
  const bool encrypted = file_.GetEncrypted();
  const auto image = BlockHeaderBytes(header_, encrypted);
  std::memcpy(diskBytes, image.data(), kBlockHeaderSize);
  std::memcpy(diskBytes + kBlockHeaderSize, data_.get(), dataSize_);
  if (encrypted) EncryptBuffer(diskBytes + kBlockHeaderSize, dataSize_, kRecordSeeds);
  SetDirty(false);
}

std::array<std::uint8_t, kBlockHeaderSize> TBlock::HeaderImage() const noexcept {
  return BlockHeaderBytes(header_, false);
}

void TBlock::Copy(const TBlock& other) {
  SetDataSize(other.dataSize_);
  header_ = other.header_;
  std::memcpy(data_.get(), other.data_.get(), dataSize_);
  SetNumberValue(other.Number());
  SetDirty(other.Dirty());
}

void TBlock::CheckRange(std::size_t offset, std::size_t count) const {
  if (offset > dataSize_ || count > dataSize_ - offset) file_.RaiseBlobError(TARN_INVALIDBLOBLEN);
}

std::size_t TBlock::GetBlockData(std::size_t offset, std::size_t count, std::uint8_t* dest) const {
  CheckRange(offset, count);
  // Bytes used come from the file: never copy past the data area.
  const std::size_t used = std::min<std::size_t>(header_.BytesUsed, dataSize_);
  const std::size_t available = used > offset ? used - offset : 0;
  const std::size_t copied = std::min(count, available);
  if (copied > 0) std::memcpy(dest, data_.get() + offset, copied);
  return copied;
}

std::size_t TBlock::PutBlockData(std::size_t offset, std::size_t count, const std::uint8_t* source) {
  CheckRange(offset, count);
  if (count > 0) std::memcpy(data_.get() + offset, source, count);
  header_.BytesUsed = static_cast<std::uint16_t>(offset + count);
  SetDirty(true);
  return count;
}

void TBlock::TruncateBlockData(std::size_t length) {
  CheckRange(0, length);
  header_.BytesUsed = static_cast<std::uint16_t>(length);
  std::memset(data_.get() + length, 0, dataSize_ - length);
  SetDirty(true);
}

void TBlock::SetBlockLength(std::uint16_t length) noexcept {
  if (header_.BytesUsed == length) return;
  header_.BytesUsed = length;
  SetDirty(true);
}

void TBlock::SetBlobLength(std::int32_t length) noexcept {
  if (header_.BlobLength == length) return;
  header_.BlobLength = length;
  SetDirty(true);
}

void TBlock::SetBlobSignature(std::int32_t signature) noexcept {
  if (header_.Signature == signature) return;
  header_.Signature = signature;
  SetDirty(true);
}

void TBlock::SetPrevBlockNumber(std::int32_t n) noexcept {
  if (header_.PrevBlock == n) return;
  header_.PrevBlock = n;
  SetDirty(true);
}

void TBlock::SetNextBlockNumber(std::int32_t n) noexcept {
  if (header_.NextBlock == n) return;
  header_.NextBlock = n;
  SetDirty(true);
}

}  // namespace tarn
