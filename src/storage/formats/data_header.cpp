// The data file header: creation, writes, emptying and counters.
#include "storage/formats/data_header.h"

#include <cstring>
#include <limits>

#include "storage/formats/byte_codec.h"
#include "storage/formats/scrambling.h"
#include "storage/formats/update_stamp.h"

namespace tarn {

namespace {

// Stores text in a short field with its characters scrambled when asked.
template <std::size_t N>
void StoreNameText(TShortField<N>& field, std::string_view text, bool scramble) noexcept {
  field.Assign(text);
  if (scramble) EncryptBuffer(field.Chars.data(), field.Length, kNameSeeds);
}

template <std::size_t N>
std::string LoadNameText(const TShortField<N>& field, bool scrambled) {
  std::string text = field.Str();
  if (scrambled) DecryptBuffer(text.data(), text.size(), kNameSeeds);
  return text;
}

std::int32_t NextCounter(std::int32_t value) noexcept {
  if (value < 0 || value == std::numeric_limits<std::int32_t>::max()) return 1;
  return value + 1;
}

}  // namespace

std::size_t ComputeRecordSize(std::span<const TFieldDefinition> fields) noexcept {
  std::size_t size = 9;
  for (const TFieldDefinition& def : fields) {
    if (IsAutoIncField(def) || def.Computed != 0) continue;
    size += static_cast<std::size_t>(def.PhysicalSize) + 1;
  }
  return size;
}

TDataHeader CreateDataHeader(const TDataHeaderParams& params, std::span<const TFieldDefinition> fields,
                             const TTableContext& context) {
  TDataHeader header;
  std::memset(&header, 0, sizeof header);
  header.LanguageID = params.LanguageID;
  header.SortID = params.SortID;
  header.UserMajorVersion = params.UserMajorVersion;
  header.UserMinorVersion = params.UserMinorVersion;
  header.Encrypted = params.Encrypted ? 1 : 0;
  if (params.Encrypted) {
    StoreNameText(header.Password, params.Password, true);
    StoreNameText(header.Description, params.Description, true);
  } else {
    header.Password.Clear();
    header.Description.Assign(params.Description);
  }
  if (fields.size() > kMaxFieldCount) RaiseTableError(TARN_FLDLIMIT, context);
  header.FieldCount = static_cast<std::uint16_t>(fields.size());
  header.BlobBlockSize = params.BlobBlockSize;
  std::size_t blobFields = 0;
  for (const TFieldDefinition& def : fields) {
    if (def.DataType == dtBlob && ++blobFields > kMaxBlobFieldCount) RaiseTableError(TARN_BLOBLIMIT, context);
  }
  header.BlobFieldCount = static_cast<std::uint16_t>(blobFields);
  header.VersionNum = kTableVersion;
  header.NextFreeRecordNumber = 0;
  header.NextRecordNumber = 1;
  header.LastRecordID = 0;
  header.LastUpdateStamp = 0;
  const std::size_t recordSize = ComputeRecordSize(fields);
  if (recordSize > kMaxRecordSize) RaiseTableError(TARN_RECTOOBIG, context);
  header.RecordSize = static_cast<std::uint16_t>(recordSize);
  header.HeaderChanged = 1;
  return header;
}

TDataHeader ReadDataHeader(std::span<const std::uint8_t, kDataHeaderSize> bytes) noexcept {
  namespace o = data_header_offsets;
  using namespace codec;
  const std::uint8_t* b = bytes.data();
  TDataHeader h;
  std::memset(&h, 0, sizeof h);
  h.LastUpdateStamp = GetI32(b, o::LastUpdateStamp);
  h.BlobBlockSize = GetI32(b, o::BlobBlockSize);
  h.VersionNum = GetU8(b, o::VersionNum);
  h.NextFreeRecordNumber = GetI32(b, o::NextFreeRecordNumber);
  h.NextRecordNumber = GetI32(b, o::NextRecordNumber);
  h.LastRecordID = GetI32(b, o::LastRecordID);
  h.RecordSize = GetU16(b, o::RecordSize);
  h.FieldCount = GetU16(b, o::FieldCount);
  h.BlobFieldCount = GetU16(b, o::BlobFieldCount);
  h.LastUpdated = GetF64(b, o::LastUpdated);
  GetShort(b, o::Description, h.Description);
  h.Encrypted = GetU8(b, o::Encrypted);
  GetShort(b, o::Password, h.Password);
  h.LanguageID = GetU16(b, o::LanguageID);
  h.SortID = GetU16(b, o::SortID);
  h.UserMajorVersion = GetU16(b, o::UserMajorVersion);
  h.UserMinorVersion = GetU16(b, o::UserMinorVersion);
  h.HeaderChanged = 0;  // its stored value has no meaning
  h.LastBlobSignature = GetI32(b, o::LastBlobSignature);
  h.EngineVersion = GetI32(b, o::EngineVersion);
  GetBytes(b, o::Reserved1, h.Reserved1);
  GetBytes(b, o::Reserved2, h.Reserved2);
  return h;
}

std::array<std::uint8_t, kDataHeaderSize> DataHeaderBytes(const TDataHeader& h) noexcept {
  namespace o = data_header_offsets;
  using namespace codec;
  std::array<std::uint8_t, kDataHeaderSize> bytes{};
  std::uint8_t* b = bytes.data();
  PutI32(b, o::LastUpdateStamp, h.LastUpdateStamp);
  PutI32(b, o::BlobBlockSize, h.BlobBlockSize);
  PutU8(b, o::VersionNum, h.VersionNum);
  PutI32(b, o::NextFreeRecordNumber, h.NextFreeRecordNumber);
  PutI32(b, o::NextRecordNumber, h.NextRecordNumber);
  PutI32(b, o::LastRecordID, h.LastRecordID);
  PutU16(b, o::RecordSize, h.RecordSize);
  PutU16(b, o::FieldCount, h.FieldCount);
  PutU16(b, o::BlobFieldCount, h.BlobFieldCount);
  PutF64(b, o::LastUpdated, h.LastUpdated);
  PutShort(b, o::Description, h.Description);
  PutU8(b, o::Encrypted, h.Encrypted);
  PutShort(b, o::Password, h.Password);
  PutU16(b, o::LanguageID, h.LanguageID);
  PutU16(b, o::SortID, h.SortID);
  PutU16(b, o::UserMajorVersion, h.UserMajorVersion);
  PutU16(b, o::UserMinorVersion, h.UserMinorVersion);
  PutU8(b, o::HeaderChanged, h.HeaderChanged);
  PutI32(b, o::LastBlobSignature, h.LastBlobSignature);
  PutI32(b, o::EngineVersion, h.EngineVersion);
  PutBytes(b, o::Reserved1, h.Reserved1);
  PutBytes(b, o::Reserved2, h.Reserved2);
  return bytes;
}

void PrepareDataHeaderWrite(TDataHeader& header, double nowDays) noexcept {
  AdvanceUpdateStamp(header);
  header.EngineVersion = kEngineVersionNumber;
  header.Reserved1.fill(0);
  header.LastUpdated = nowDays - kLastUpdatedDayOffset;
}

void ClearDataHeaderCounters(TDataHeader& header) noexcept {
  header.LastUpdateStamp = 0;
  header.NextFreeRecordNumber = 0;
  header.NextRecordNumber = 1;
  header.LastRecordID = 0;
  header.HeaderChanged = 1;
}

std::int32_t GetNextFreeRecordID(TDataHeader& header) noexcept {
  header.LastRecordID = NextCounter(header.LastRecordID);
  header.HeaderChanged = 1;
  return header.LastRecordID;
}

std::int32_t GetNextFreeBlobSignature(TDataHeader& header) noexcept {
  header.LastBlobSignature = NextCounter(header.LastBlobSignature);
  header.HeaderChanged = 1;
  return header.LastBlobSignature;
}

void SetNextFreeRecordID(TDataHeader& header, std::int32_t id) noexcept {
  header.LastRecordID = id;
  header.HeaderChanged = 1;
}

void UpdateDataHeader(TDataHeader& header, std::string_view password, std::string_view description,
                      std::int32_t lastRecordID, std::uint16_t userMajor, std::uint16_t userMinor) noexcept {
  const bool encrypted = header.Encrypted != 0;
  if (encrypted) {
    StoreNameText(header.Password, password, true);
  } else {
    header.Password.Clear();
  }
  StoreNameText(header.Description, description, encrypted);
  header.LastRecordID = lastRecordID;
  header.UserMajorVersion = userMajor;
  header.UserMinorVersion = userMinor;
  header.HeaderChanged = 1;
}

std::string GetHeaderDescription(const TDataHeader& header) {
  return LoadNameText(header.Description, header.Encrypted != 0);
}

std::string GetHeaderPassword(const TDataHeader& header) {
  if (header.Encrypted == 0) return {};
  return LoadNameText(header.Password, true);
}

double GetHeaderLastUpdated(const TDataHeader& header) noexcept { return header.LastUpdated + kLastUpdatedDayOffset; }

std::int32_t EffectiveBlobBlockSize(const TDataHeader& header) noexcept {
  return header.BlobBlockSize == 0 ? kDefaultBlobBlockSize : header.BlobBlockSize;
}

std::uint64_t DataFixedPartSize(std::size_t fieldCount) noexcept {
  return kDataHeaderSize + static_cast<std::uint64_t>(kFieldDefinitionSize) * fieldCount;
}

}  // namespace tarn
