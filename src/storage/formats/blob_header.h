// The BLOB file header (512 bytes at offset 0 of the BLOB file) and the block
// header (first 18 bytes of every block).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace tarn {

inline constexpr std::size_t kBlobHeaderSize = 512;
inline constexpr std::size_t kBlockHeaderSize = 18;

struct TBlobHeader {
  std::int32_t LastUpdateStamp;
  std::array<std::uint8_t, 4> Reserved1;
  std::uint8_t VersionNum;
  std::int32_t NextFreeBlockNumber;  // head of the free-block list
  std::int32_t NextBlockNumber;      // blocks in the file + 1
  std::uint8_t HeaderChanged;
  std::array<std::uint8_t, 494> Reserved2;
};

struct TBlockHeader {
  std::int32_t PrevBlock;    // 0 for the first block of a BLOB
  std::int32_t NextBlock;    // 0 for the last; next free block on the free list
  std::uint16_t BytesUsed;
  std::int32_t Signature;
  std::int32_t BlobLength;   // total length, in the first block only
};

namespace blob_header_offsets {
inline constexpr std::size_t LastUpdateStamp = 0;
inline constexpr std::size_t Reserved1 = 4;
inline constexpr std::size_t VersionNum = 8;
inline constexpr std::size_t NextFreeBlockNumber = 9;
inline constexpr std::size_t NextBlockNumber = 13;
inline constexpr std::size_t HeaderChanged = 17;
inline constexpr std::size_t Reserved2 = 18;
static_assert(Reserved2 + 494 == kBlobHeaderSize);
}  // namespace blob_header_offsets

namespace block_header_offsets {
inline constexpr std::size_t PrevBlock = 0;
inline constexpr std::size_t NextBlock = 4;
inline constexpr std::size_t BytesUsed = 8;
inline constexpr std::size_t Signature = 10;
inline constexpr std::size_t BlobLength = 14;
static_assert(BlobLength + 4 == kBlockHeaderSize);
}  // namespace block_header_offsets

// The header of a new BLOB file: version 5, no free blocks, next block 1.
TBlobHeader CreateBlobHeader() noexcept;

// Header image from/to the stored bytes (scrambled as a whole with the record
// seeds when the table is encrypted); reading clears the changed flag.
TBlobHeader ReadBlobHeader(std::span<const std::uint8_t, kBlobHeaderSize> bytes, bool encrypted) noexcept;
std::array<std::uint8_t, kBlobHeaderSize> BlobHeaderBytes(const TBlobHeader& header, bool encrypted) noexcept;

// What every header write changes: the stamp rises.
void PrepareBlobHeaderWrite(TBlobHeader& header) noexcept;
// Counters reset by emptying the file.
void ClearBlobHeaderCounters(TBlobHeader& header) noexcept;

std::int32_t GetPhysicalBlocksUsed(const TBlobHeader& header) noexcept;
bool CheckBlockNumber(const TBlobHeader& header, std::int64_t n) noexcept;
// Block n (n >= 1) starts at 512 + (n - 1) x block size.
std::uint64_t BlockPosition(std::uint32_t n, std::uint32_t blockSize) noexcept;
std::uint64_t GetBlobFileSize(const TBlobHeader& header, std::uint32_t blockSize) noexcept;

// Block headers; the 18 bytes are scrambled on their own (the data area too,
// separately) when the table is encrypted.
TBlockHeader ReadBlockHeader(std::span<const std::uint8_t, kBlockHeaderSize> bytes, bool encrypted) noexcept;
std::array<std::uint8_t, kBlockHeaderSize> BlockHeaderBytes(const TBlockHeader& header, bool encrypted) noexcept;

}  // namespace tarn
