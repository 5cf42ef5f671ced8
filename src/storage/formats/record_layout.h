// Layout of a data record: the 9-byte record header (deleted flag, record
// number or free-list link, record ID), the fields at their offsets, the BLOB
// reference of BLOB fields, and the position of a record in the data file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "storage/formats/byte_codec.h"

namespace tarn {

inline constexpr std::size_t kRecordDeletedOffset = 0;
inline constexpr std::size_t kRecordNumberOffset = 1;
inline constexpr std::size_t kRecordIdOffset = 5;
inline constexpr std::size_t kRecordHeaderSize = 9;
// Field offset of an auto-increment field: it reads the record ID.
inline constexpr std::uint16_t kAutoIncFieldOffset = 5;
inline constexpr std::uint8_t kRecordLive = 0;
inline constexpr std::uint8_t kRecordDeleted = 1;

// Record n (n >= 1) starts after the header and definitions.
constexpr std::uint64_t RecordPosition(std::uint32_t n, std::size_t fieldCount, std::size_t recordSize) noexcept {
  return 127u + 768u * static_cast<std::uint64_t>(fieldCount) +
         (static_cast<std::uint64_t>(n) - 1u) * static_cast<std::uint64_t>(recordSize);
}

// Little-endian integers inside a record or block buffer; the caller
// guarantees offset + size lies within the buffer.
inline std::int32_t LoadInt32(const std::uint8_t* p) noexcept { return codec::GetI32(p, 0); }
inline void StoreInt32(std::uint8_t* p, std::int32_t v) noexcept { codec::PutI32(p, 0, v); }

// The 8 data bytes of a BLOB field.
struct TBlobReference {
  std::int32_t FirstBlock;  // 0 = empty BLOB
  std::int32_t Signature;
};

inline TBlobReference LoadBlobReference(const std::uint8_t* data) noexcept {
  return TBlobReference{LoadInt32(data), LoadInt32(data + 4)};
}
inline void StoreBlobReference(std::uint8_t* data, const TBlobReference& ref) noexcept {
  StoreInt32(data, ref.FirstBlock);
  StoreInt32(data + 4, ref.Signature);
}

// The record header of a record buffer of at least 9 bytes.
inline bool RecordIsDeleted(std::span<const std::uint8_t> record) noexcept {
  return record[kRecordDeletedOffset] != kRecordLive;
}
inline std::int32_t RecordNumberOf(std::span<const std::uint8_t> record) noexcept {
  return LoadInt32(record.data() + kRecordNumberOffset);
}
inline std::int32_t RecordIdOf(std::span<const std::uint8_t> record) noexcept {
  return LoadInt32(record.data() + kRecordIdOffset);
}
inline void SetRecordHeader(std::span<std::uint8_t> record, std::uint8_t deleted, std::int32_t numberOrLink,
                            std::int32_t recordId) noexcept {
  record[kRecordDeletedOffset] = deleted;
  StoreInt32(record.data() + kRecordNumberOffset, numberOrLink);
  StoreInt32(record.data() + kRecordIdOffset, recordId);
}

}  // namespace tarn
