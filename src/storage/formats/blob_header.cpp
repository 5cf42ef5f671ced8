// BLOB file header and block headers.
#include "storage/formats/blob_header.h"

#include <algorithm>
#include <cstring>

#include "storage/formats/byte_codec.h"
#include "storage/formats/data_header.h"
#include "storage/formats/scrambling.h"
#include "storage/formats/update_stamp.h"

namespace tarn {

TBlobHeader CreateBlobHeader() noexcept {
  TBlobHeader header;
  std::memset(&header, 0, sizeof header);
  header.VersionNum = kTableVersion;
  header.NextFreeBlockNumber = 0;
  header.NextBlockNumber = 1;
  header.HeaderChanged = 1;
  return header;
}

TBlobHeader ReadBlobHeader(std::span<const std::uint8_t, kBlobHeaderSize> bytes, bool encrypted) noexcept {
  namespace o = blob_header_offsets;
  using namespace codec;
  std::array<std::uint8_t, kBlobHeaderSize> copy;
  std::copy(bytes.begin(), bytes.end(), copy.begin());
  if (encrypted) DecryptBuffer(copy.data(), copy.size(), kRecordSeeds);
  const std::uint8_t* b = copy.data();
  TBlobHeader h;
  std::memset(&h, 0, sizeof h);
  h.LastUpdateStamp = GetI32(b, o::LastUpdateStamp);
  GetBytes(b, o::Reserved1, h.Reserved1);
  h.VersionNum = GetU8(b, o::VersionNum);
  h.NextFreeBlockNumber = GetI32(b, o::NextFreeBlockNumber);
  h.NextBlockNumber = GetI32(b, o::NextBlockNumber);
  h.HeaderChanged = 0;  // its stored value has no meaning
  GetBytes(b, o::Reserved2, h.Reserved2);
  return h;
}

std::array<std::uint8_t, kBlobHeaderSize> BlobHeaderBytes(const TBlobHeader& h, bool encrypted) noexcept {
  namespace o = blob_header_offsets;
  using namespace codec;
  std::array<std::uint8_t, kBlobHeaderSize> bytes{};
  std::uint8_t* b = bytes.data();
  PutI32(b, o::LastUpdateStamp, h.LastUpdateStamp);
  PutBytes(b, o::Reserved1, h.Reserved1);
  PutU8(b, o::VersionNum, h.VersionNum);
  PutI32(b, o::NextFreeBlockNumber, h.NextFreeBlockNumber);
  PutI32(b, o::NextBlockNumber, h.NextBlockNumber);
  PutU8(b, o::HeaderChanged, h.HeaderChanged);
  PutBytes(b, o::Reserved2, h.Reserved2);
  if (encrypted) EncryptBuffer(bytes.data(), bytes.size(), kRecordSeeds);
  return bytes;
}

void PrepareBlobHeaderWrite(TBlobHeader& header) noexcept {
  AdvanceUpdateStamp(header);
}

void ClearBlobHeaderCounters(TBlobHeader& header) noexcept {
  header.VersionNum = kTableVersion;
  header.NextFreeBlockNumber = 0;
  header.NextBlockNumber = 1;
  header.HeaderChanged = 1;
}

std::int32_t GetPhysicalBlocksUsed(const TBlobHeader& header) noexcept {
  return header.NextBlockNumber > 0 ? header.NextBlockNumber - 1 : 0;
}

bool CheckBlockNumber(const TBlobHeader& header, std::int64_t n) noexcept {
  return n >= 1 && n <= GetPhysicalBlocksUsed(header);
}

std::uint64_t BlockPosition(std::uint32_t n, std::uint32_t blockSize) noexcept {
  return kBlobHeaderSize + (static_cast<std::uint64_t>(n) - 1u) * blockSize;
}

std::uint64_t GetBlobFileSize(const TBlobHeader& header, std::uint32_t blockSize) noexcept {
  return kBlobHeaderSize + static_cast<std::uint64_t>(GetPhysicalBlocksUsed(header)) * blockSize;
}

TBlockHeader ReadBlockHeader(std::span<const std::uint8_t, kBlockHeaderSize> bytes, bool encrypted) noexcept {
  namespace o = block_header_offsets;
  using namespace codec;
  std::array<std::uint8_t, kBlockHeaderSize> copy;
  std::copy(bytes.begin(), bytes.end(), copy.begin());
  if (encrypted) DecryptBuffer(copy.data(), copy.size(), kRecordSeeds);
  const std::uint8_t* b = copy.data();
  return TBlockHeader{GetI32(b, o::PrevBlock), GetI32(b, o::NextBlock), GetU16(b, o::BytesUsed),
                      GetI32(b, o::Signature), GetI32(b, o::BlobLength)};
}

std::array<std::uint8_t, kBlockHeaderSize> BlockHeaderBytes(const TBlockHeader& h, bool encrypted) noexcept {
  namespace o = block_header_offsets;
  using namespace codec;
  std::array<std::uint8_t, kBlockHeaderSize> bytes{};
  std::uint8_t* b = bytes.data();
  PutI32(b, o::PrevBlock, h.PrevBlock);
  PutI32(b, o::NextBlock, h.NextBlock);
  PutU16(b, o::BytesUsed, h.BytesUsed);
  PutI32(b, o::Signature, h.Signature);
  PutI32(b, o::BlobLength, h.BlobLength);
  if (encrypted) EncryptBuffer(bytes.data(), bytes.size(), kRecordSeeds);
  return bytes;
}

}  // namespace tarn
