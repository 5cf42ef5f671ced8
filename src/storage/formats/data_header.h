// The data file header (127 bytes at offset 0 of the data file): its layout,
// creation, the changes made by every header write, emptying, and the record
// ID and BLOB signature counters.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "storage/formats/field_definition.h"
#include "storage/formats/short_field.h"
#include "storage/formats/table_context.h"

namespace tarn {

inline constexpr std::size_t kDataHeaderSize = 127;
inline constexpr std::uint8_t kTableVersion = 5;
inline constexpr std::int32_t kEngineVersionNumber = 30800;
inline constexpr std::size_t kMaxFieldCount = 1024;
inline constexpr std::size_t kMaxBlobFieldCount = 128;
inline constexpr std::int32_t kDefaultBlobBlockSize = 512;
inline constexpr std::int32_t kMinBlobBlockSize = 64;
inline constexpr std::int32_t kMaxBlobBlockSize = 65535;
inline constexpr std::size_t kMaxRecordSize = 65535;
inline constexpr std::size_t kPasswordLength = 15;
inline constexpr std::size_t kDescriptionLength = 50;
// Stored "last updated" values are day counts from 1899-12-30 minus this.
inline constexpr double kLastUpdatedDayOffset = 693594.0;

// In memory an ordinary aligned struct; the stored image (127 bytes, offsets
// below) is written and read field by field.
struct TDataHeader {
  std::int32_t LastUpdateStamp;
  std::int32_t BlobBlockSize;         // 0 means 512
  std::uint8_t VersionNum;
  std::int32_t NextFreeRecordNumber;  // head of the free-record list
  std::int32_t NextRecordNumber;      // records in the file + 1
  std::int32_t LastRecordID;
  std::uint16_t RecordSize;
  std::uint16_t FieldCount;
  std::uint16_t BlobFieldCount;
  double LastUpdated;                 // stored day count (see kLastUpdatedDayOffset)
  TShortField<50> Description;        // characters scrambled with the name seeds when encrypted
  std::uint8_t Encrypted;
  TShortField<15> Password;           // characters scrambled with the name seeds
  std::uint16_t LanguageID;
  std::uint16_t SortID;
  std::uint16_t UserMajorVersion;
  std::uint16_t UserMinorVersion;
  std::uint8_t HeaderChanged;
  std::int32_t LastBlobSignature;
  std::int32_t EngineVersion;
  std::array<std::uint8_t, 4> Reserved1;  // zeroed by every header write
  std::array<std::uint8_t, 3> Reserved2;  // zero at creation, preserved
};

namespace data_header_offsets {
inline constexpr std::size_t LastUpdateStamp = 0;
inline constexpr std::size_t BlobBlockSize = 4;
inline constexpr std::size_t VersionNum = 8;
inline constexpr std::size_t NextFreeRecordNumber = 9;
inline constexpr std::size_t NextRecordNumber = 13;
inline constexpr std::size_t LastRecordID = 17;
inline constexpr std::size_t RecordSize = 21;
inline constexpr std::size_t FieldCount = 23;
inline constexpr std::size_t BlobFieldCount = 25;
inline constexpr std::size_t LastUpdated = 27;
inline constexpr std::size_t Description = 35;
inline constexpr std::size_t Encrypted = 86;
inline constexpr std::size_t Password = 87;
inline constexpr std::size_t LanguageID = 103;
inline constexpr std::size_t SortID = 105;
inline constexpr std::size_t UserMajorVersion = 107;
inline constexpr std::size_t UserMinorVersion = 109;
inline constexpr std::size_t HeaderChanged = 111;
inline constexpr std::size_t LastBlobSignature = 112;
inline constexpr std::size_t EngineVersion = 116;
inline constexpr std::size_t Reserved1 = 120;
inline constexpr std::size_t Reserved2 = 124;
static_assert(Description + 51 == Encrypted && Password + 16 == LanguageID && Reserved2 + 3 == kDataHeaderSize);
}  // namespace data_header_offsets

// What a new data file is created with.
struct TDataHeaderParams {
  std::uint16_t LanguageID = 0;
  std::uint16_t SortID = 0;
  std::uint16_t UserMajorVersion = 0;
  std::uint16_t UserMinorVersion = 0;
  bool Encrypted = false;
  std::string_view Password;
  std::string_view Description;
  std::int32_t BlobBlockSize = kDefaultBlobBlockSize;
};

// The header of a new data file. The definitions must carry their physical
// sizes and offsets. A 129th BLOB field raises TARN_BLOBLIMIT, a record size
// above 65,535 TARN_RECTOOBIG, more than 1024 fields TARN_FLDLIMIT.
TDataHeader CreateDataHeader(const TDataHeaderParams& params, std::span<const TFieldDefinition> fields,
                             const TTableContext& context);

// Record size from the definitions: 9 plus (physical size + 1) for every field
// that is neither auto-increment nor computed.
std::size_t ComputeRecordSize(std::span<const TFieldDefinition> fields) noexcept;

// Header image from/to the stored bytes (the data header is stored as it is;
// only its description and password characters are scrambled). Reading
// clears the header changed flag.
TDataHeader ReadDataHeader(std::span<const std::uint8_t, kDataHeaderSize> bytes) noexcept;
std::array<std::uint8_t, kDataHeaderSize> DataHeaderBytes(const TDataHeader& header) noexcept;

// What every header write changes: the stamp rises, the engine version is
// set, the reserved word at 120 zeroed and last updated set to `nowDays`
// (days since 1899-12-30 with the time of day as fraction).
void PrepareDataHeaderWrite(TDataHeader& header, double nowDays) noexcept;

// Counters reset by emptying the file; the header is marked changed.
void ClearDataHeaderCounters(TDataHeader& header) noexcept;

// The next record ID / BLOB signature: the counter rises by one (after
// 2,147,483,647 comes 1) and the header is marked changed.
std::int32_t GetNextFreeRecordID(TDataHeader& header) noexcept;
std::int32_t GetNextFreeBlobSignature(TDataHeader& header) noexcept;
void SetNextFreeRecordID(TDataHeader& header, std::int32_t id) noexcept;

// Replaces password, description, last record ID and user versions.
void UpdateDataHeader(TDataHeader& header, std::string_view password, std::string_view description,
                      std::int32_t lastRecordID, std::uint16_t userMajor, std::uint16_t userMinor) noexcept;

// Descrambled description; the password is empty for an unencrypted table.
std::string GetHeaderDescription(const TDataHeader& header);
std::string GetHeaderPassword(const TDataHeader& header);

// The stored last-updated value as days since 1899-12-30, and back.
double GetHeaderLastUpdated(const TDataHeader& header) noexcept;

// The BLOB block size the header names (512 for 0).
std::int32_t EffectiveBlobBlockSize(const TDataHeader& header) noexcept;

// Bytes before the first record: header and definitions.
std::uint64_t DataFixedPartSize(std::size_t fieldCount) noexcept;

}  // namespace tarn
