// TBlock: one cached block of a BLOB file. It keeps the decoded block header
// (previous and next block, bytes used, BLOB signature, BLOB length) and the
// data area of block size - 18 bytes; it is read from and written to disk
// bytes, with header and data scrambled as two separate buffers when the
// table is encrypted.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "storage/formats/blob_header.h"
#include "storage/files/buffer_cache.h"
#include "storage/files/resize_buffer.h"

namespace tarn {

class TBlobFile;

class TBlock : public TCachedBuffer {
 public:
  explicit TBlock(TBlobFile& file);

  // Take block size disk bytes: header and data, descrambled separately when
  // encrypted; clean.
  void Read(const std::uint8_t* diskBytes);
  // Encode the header and copy header and data out (block size bytes),
  // scrambled separately when encrypted; clean.
  void Write(std::uint8_t* diskBytes);
  // Zero header and data.
  void Initialize() noexcept;
  // Header, data, number and dirty flag of another block of the same file.
  void Copy(const TBlock& other);

  // The data area holds GetDataCapacity() bytes; a request reaching past it
  // raises TARN_INVALIDBLOBLEN. GetBlockData copies at most the bytes used
  // and answers how many it copied; PutBlockData sets bytes used to
  // offset + count; TruncateBlockData sets bytes used to length and zeroes the
  // data from there on. Both make the block dirty.
  std::size_t GetBlockData(std::size_t offset, std::size_t count, std::uint8_t* dest) const;
  std::size_t PutBlockData(std::size_t offset, std::size_t count, const std::uint8_t* source);
  void TruncateBlockData(std::size_t length);

  std::int32_t GetBlockNumber() const noexcept { return Number(); }
  std::uint16_t GetBlockLength() const noexcept { return header_.BytesUsed; }
  std::int32_t GetBlobLength() const noexcept { return header_.BlobLength; }
  std::int32_t GetBlobSignature() const noexcept { return header_.Signature; }
  std::int32_t GetPrevBlockNumber() const noexcept { return header_.PrevBlock; }
  std::int32_t GetNextBlockNumber() const noexcept { return header_.NextBlock; }
  // Each marks the block dirty when the value changes.
  void SetBlockLength(std::uint16_t length) noexcept;
  void SetBlobLength(std::int32_t length) noexcept;
  void SetBlobSignature(std::int32_t signature) noexcept;
  void SetPrevBlockNumber(std::int32_t n) noexcept;
  void SetNextBlockNumber(std::int32_t n) noexcept;

  const TBlockHeader& Header() const noexcept { return header_; }
  // The 18-byte header image as stored (unscrambled).
  std::array<std::uint8_t, kBlockHeaderSize> HeaderImage() const noexcept;
  std::size_t GetDataCapacity() const noexcept { return dataSize_; }
  std::span<const std::uint8_t> Data() const noexcept { return {data_.get(), dataSize_}; }

  // For the cache: size to the file's block size, zero, renumber, clean.
  void Reset(std::int32_t number);

 private:
  void CheckRange(std::size_t offset, std::size_t count) const;
  void SetDataSize(std::size_t size);

  TBlobFile& file_;
  TBlockHeader header_{};
  TBufferPtr data_;
  std::int64_t capacity_ = 0;
  std::size_t dataSize_ = 0;
};

}  // namespace tarn
