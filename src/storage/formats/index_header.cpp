// The index file header and its index definition slots.
#include "storage/formats/index_header.h"

#include <algorithm>
#include <cstring>

#include "storage/formats/byte_codec.h"
#include "storage/formats/data_header.h"
#include "storage/formats/object_names.h"
#include "storage/formats/scrambling.h"
#include "storage/formats/update_stamp.h"

namespace tarn {

namespace {

void ClearPageNumbers(TIndexDefinition& def) noexcept {
  def.RootPageNumber = 0;
  def.NextFreePageNumber = 0;
  def.DataRootPageNumber = 0;
}

std::size_t KeyFieldCountOf(const TIndexDefinition& def) noexcept {
  return std::min<std::size_t>(def.KeyFieldCount, kMaxKeyFields);
}

// Raises TARN_SEARCHCOLREQD for a BLOB key field.
void CheckKeyFieldTypes(const TIndexDefinition& def, std::span<const TFieldDefinition> fields,
                        std::string_view indexName, const TTableContext& context) {
  for (std::size_t k = 0; k < KeyFieldCountOf(def); ++k) {
    const std::uint16_t number = def.KeyFields[k];
    for (const TFieldDefinition& field : fields) {
      if (field.FieldNumber == number && field.DataType == dtBlob) {
        RaiseTableError(TARN_SEARCHCOLREQD, context, field.Name.View(), indexName);
      }
    }
  }
}

}  // namespace

TIndexHeader CreateIndexHeader() noexcept {
  TIndexHeader header;
  std::memset(&header, 0, sizeof header);
  header.VersionNum = kTableVersion;
  header.NextPageNumber = 1;
  TIndexDefinition& deleted = header.Slots[kDeletedIndexSlot];
  deleted.Name.Assign(kDeletedIndexName);
  deleted.KeySize = kDeletedIndexKeySize;
  deleted.Compression = icNone;
  TIndexDefinition& text = header.Slots[kTextIndexSlot];
  text.Name.Assign(kTextIndexName);
  text.KeySize = kTextIndexKeySize;
  text.Compression = icFull;
  header.NoPrimaryIndex = 0;
  header.ActualRecordCount = 0;
  header.HeaderChanged = 1;
  return header;
}

TIndexHeader ReadIndexHeader(std::span<const std::uint8_t, kIndexHeaderSize> bytes, bool encrypted) noexcept {
  namespace o = index_header_offsets;
  using namespace codec;
  std::array<std::uint8_t, kIndexHeaderSize> copy;
  std::copy(bytes.begin(), bytes.end(), copy.begin());
  if (encrypted) DecryptBuffer(copy.data(), copy.size(), kRecordSeeds);
  const std::uint8_t* b = copy.data();
  TIndexHeader h;
  std::memset(&h, 0, sizeof h);
  h.LastUpdateStamp = GetI32(b, o::LastUpdateStamp);
  GetBytes(b, o::Reserved1, h.Reserved1);
  h.VersionNum = GetU8(b, o::VersionNum);
  h.NextPageNumber = GetI32(b, o::NextPageNumber);
  h.IndexCount = GetU8(b, o::IndexCount);
  for (std::size_t s = 0; s < kIndexSlotCount; ++s) h.Slots[s] = ReadIndexDefinition(b + o::Slots + s * kIndexDefinitionSize);
  h.ActualRecordCount = GetI32(b, o::ActualRecordCount);
  h.NoPrimaryIndex = GetU8(b, o::NoPrimaryIndex);
  h.HeaderChanged = 0;  // its stored value has no meaning
  GetBytes(b, o::Reserved2, h.Reserved2);
  return h;
}

std::array<std::uint8_t, kIndexHeaderSize> IndexHeaderBytes(const TIndexHeader& h, bool encrypted) noexcept {
  namespace o = index_header_offsets;
  using namespace codec;
  std::array<std::uint8_t, kIndexHeaderSize> bytes{};
  std::uint8_t* b = bytes.data();
  PutI32(b, o::LastUpdateStamp, h.LastUpdateStamp);
  PutBytes(b, o::Reserved1, h.Reserved1);
  PutU8(b, o::VersionNum, h.VersionNum);
  PutI32(b, o::NextPageNumber, h.NextPageNumber);
  PutU8(b, o::IndexCount, h.IndexCount);
  for (std::size_t s = 0; s < kIndexSlotCount; ++s) WriteIndexDefinition(h.Slots[s], b + o::Slots + s * kIndexDefinitionSize);
  PutI32(b, o::ActualRecordCount, h.ActualRecordCount);
  PutU8(b, o::NoPrimaryIndex, h.NoPrimaryIndex);
  PutU8(b, o::HeaderChanged, h.HeaderChanged);
  PutBytes(b, o::Reserved2, h.Reserved2);
  if (encrypted) EncryptBuffer(bytes.data(), bytes.size(), kRecordSeeds);
  return bytes;
}

void PrepareIndexHeaderWrite(TIndexHeader& header) noexcept {
  AdvanceUpdateStamp(header);
}

void ClearIndexHeaderCounters(TIndexHeader& header) noexcept {
  header.VersionNum = kTableVersion;
  header.NextPageNumber = 1;
  header.ActualRecordCount = 0;
  for (TIndexDefinition& slot : header.Slots) ClearPageNumbers(slot);
  header.HeaderChanged = 1;
}

std::int32_t GetPhysicalPagesUsed(const TIndexHeader& header) noexcept {
  return header.NextPageNumber > 0 ? header.NextPageNumber - 1 : 0;
}

bool CheckPageNumber(const TIndexHeader& header, std::int64_t n) noexcept {
  return n >= 1 && n <= GetPhysicalPagesUsed(header);
}

std::uint64_t GetIndexFileSize(const TIndexHeader& header) noexcept {
  return kIndexHeaderSize + kIndexHeaderSize * static_cast<std::uint64_t>(GetPhysicalPagesUsed(header));
}

void SetIndexDefinition(TIndexHeader& header, std::size_t slot, const TIndexDefinition& def) noexcept {
  if (slot >= kIndexSlotCount) return;
  TIndexDefinition& target = header.Slots[slot];
  target.Name = def.Name;
  target.KeySize = def.KeySize;
  target.Descending = def.Descending;
  target.CaseInsensitive = def.CaseInsensitive;
  target.Unique = def.Unique;
  target.Compression = def.Compression;
  target.KeyFieldCount = def.KeyFieldCount;
  target.KeyFieldDescending = def.KeyFieldDescending;
  target.KeyFields = def.KeyFields;
  target.RootPageNumber = 0;
  target.Reserved1 = 0;
  target.Reserved2.fill(0);
  header.HeaderChanged = 1;
}

void UpdateIndexDefinition(TIndexHeader& header, std::size_t slot, const TIndexDefinition& def) noexcept {
  if (slot >= kIndexSlotCount) return;
  header.Slots[slot].Name = def.Name;
  header.Slots[slot].KeyFields = def.KeyFields;
  header.HeaderChanged = 1;
}

void AddPrimaryIndex(TIndexHeader& header, const TIndexDefinition& def, std::span<const TFieldDefinition> fields,
                     const TTableContext& context) {
  if (header.Slots[kPrimaryIndexSlot].KeySize != 0) RaiseTableError(TARN_PRIMARYKEYREDEFINE, context);
  if (def.KeyFieldCount > kMaxKeyFields) RaiseTableError(TARN_INDEXLIMIT, context);
  if (def.KeyFieldCount == 0) {
    header.NoPrimaryIndex = 1;
    const std::int32_t freeHead = header.Slots[kPrimaryIndexSlot].NextFreePageNumber;
    const std::int32_t dataRoot = header.Slots[kPrimaryIndexSlot].DataRootPageNumber;
    ClearIndexDefinition(header.Slots[kPrimaryIndexSlot]);
    header.Slots[kPrimaryIndexSlot].NextFreePageNumber = freeHead;
    header.Slots[kPrimaryIndexSlot].DataRootPageNumber = dataRoot;
    header.HeaderChanged = 1;
    return;
  }
  CheckKeyFieldTypes(def, fields, "Primary", context);
  TIndexDefinition primary = def;
  primary.Name.Clear();
  primary.Unique = 1;
  SetIndexDefinition(header, kPrimaryIndexSlot, primary);
  header.NoPrimaryIndex = 0;
}

void AddSecondaryIndex(TIndexHeader& header, const TIndexDefinition& def, std::span<const TFieldDefinition> fields,
                       const TTableContext& context) {
  if (header.IndexCount >= kMaxSecondaryIndexes) RaiseTableError(TARN_INDEXLIMIT, context);
  if (def.KeyFieldCount > kMaxKeyFields) RaiseTableError(TARN_INDEXLIMIT, context);
  const std::string_view name = TrimName(def.Name.View());
  if (name.empty()) RaiseTableError(TARN_INDEXNAMEREQUIRED, context);
  if (!IsNameStartChar(static_cast<unsigned char>(name.front()))) {
    RaiseTableError(TARN_INVALIDINDEXNAME, context, {}, name);
  }
  for (std::size_t slot = 1; slot <= header.IndexCount; ++slot) {
    if (SameObjectName(header.Slots[slot].Name.View(), name)) RaiseTableError(TARN_INDEXEXISTS, context, {}, name);
  }
  CheckKeyFieldTypes(def, fields, name, context);
  const std::size_t slot = header.IndexCount + 1u;
  SetIndexDefinition(header, slot, def);
  header.IndexCount = static_cast<std::uint8_t>(slot);
}

void DeleteIndex(TIndexHeader& header, std::size_t slot, bool removeDefinition) noexcept {
  if (slot == kPrimaryIndexSlot) {
    header.NoPrimaryIndex = 1;
    header.HeaderChanged = 1;
    return;
  }
  const std::size_t count = std::min<std::size_t>(header.IndexCount, kMaxSecondaryIndexes);
  if (!removeDefinition || slot > count) return;
  // Only the live secondary slots move, so a removed definition parked past
  // the last one is never duplicated (two slots sharing one free-page list
  // would hand out the same page twice).
  const TIndexDefinition removed = header.Slots[slot];
  for (std::size_t s = slot; s < count; ++s) header.Slots[s] = header.Slots[s + 1];
  header.Slots[count] = removed;
  header.IndexCount = static_cast<std::uint8_t>(count - 1);
  header.HeaderChanged = 1;
}

bool IndexExists(const TIndexHeader& header, std::string_view name) noexcept {
  const std::size_t count = std::min<std::size_t>(header.IndexCount, kMaxSecondaryIndexes);
  for (std::size_t slot = 0; slot <= count; ++slot) {
    if (SameObjectName(header.Slots[slot].Name.View(), name)) return true;
  }
  return false;
}

}  // namespace tarn
