// Field definition records and the physical sizes derived from their types.
#include "storage/formats/field_definition.h"

#include <cstring>

#include "storage/formats/byte_codec.h"
#include "storage/formats/scrambling.h"

namespace tarn {

TFieldDefinition MakeEmptyFieldDefinition() noexcept {
  TFieldDefinition def{};
  return def;
}

void UpdateFieldSize(TFieldDefinition& def) noexcept { def.PhysicalSize = PhysicalSize(def.DataType, def.Size); }

void UpdateFieldDecimals(TFieldDefinition& def) noexcept { def.PhysicalDecimals = def.Decimals; }

std::uint8_t GetIndexedSize(const TFieldDefinition& def) noexcept { return IndexedSize(def.DataType, def.PhysicalSize); }

bool IsAutoIncField(const TFieldDefinition& def) noexcept {
  return def.DataType == dtInteger && def.SubType == dstAutoInc;
}

void WriteFieldDefinition(const TFieldDefinition& def, std::uint8_t* image) noexcept {
  namespace o = field_offsets;
  using namespace codec;
  std::memset(image, 0, kFieldDefinitionSize);
  PutU16(image, o::FieldNumber, def.FieldNumber);
  PutShort(image, o::Name, def.Name);
  PutShort(image, o::Description, def.Description);
  PutU8(image, o::DataType, def.DataType);
  PutU8(image, o::SubType, def.SubType);
  PutU8(image, o::Size, def.Size);
  PutU8(image, o::Decimals, def.Decimals);
  PutU8(image, o::PhysicalSize, def.PhysicalSize);
  PutU8(image, o::PhysicalDecimals, def.PhysicalDecimals);
  PutU16(image, o::FieldOffset, def.FieldOffset);
  PutU8(image, o::Required, def.Required);
  PutU8(image, o::CharCase, def.CharCase);
  PutShort(image, o::MinValue, def.MinValue);
  PutShort(image, o::MaxValue, def.MaxValue);
  PutShort(image, o::DefaultValue, def.DefaultValue);
}

TFieldDefinition ReadFieldDefinition(const std::uint8_t* image) noexcept {
  namespace o = field_offsets;
  using namespace codec;
  TFieldDefinition def = MakeEmptyFieldDefinition();
  def.FieldNumber = GetU16(image, o::FieldNumber);
  GetShort(image, o::Name, def.Name);
  GetShort(image, o::Description, def.Description);
  def.DataType = GetU8(image, o::DataType);
  def.SubType = GetU8(image, o::SubType);
  def.Size = GetU8(image, o::Size);
  def.Decimals = GetU8(image, o::Decimals);
  def.PhysicalSize = GetU8(image, o::PhysicalSize);
  def.PhysicalDecimals = GetU8(image, o::PhysicalDecimals);
  def.FieldOffset = GetU16(image, o::FieldOffset);
  def.Required = GetU8(image, o::Required);
  def.CharCase = GetU8(image, o::CharCase);
  GetShort(image, o::MinValue, def.MinValue);
  GetShort(image, o::MaxValue, def.MaxValue);
  GetShort(image, o::DefaultValue, def.DefaultValue);
  return def;
}

std::vector<std::uint8_t> WriteFieldDefinitions(std::span<const TFieldDefinition> defs, bool encrypted) {
  std::vector<std::uint8_t> area(defs.size() * kFieldDefinitionSize, 0);
  for (std::size_t i = 0; i < defs.size(); ++i) WriteFieldDefinition(defs[i], area.data() + i * kFieldDefinitionSize);
  if (encrypted) EncryptBuffer(area.data(), area.size(), kRecordSeeds);
  return area;
}

std::vector<TFieldDefinition> ReadFieldDefinitions(std::span<const std::uint8_t> area, bool encrypted) {
  const std::size_t count = area.size() / kFieldDefinitionSize;
  std::vector<std::uint8_t> copy(area.begin(), area.begin() + static_cast<std::ptrdiff_t>(count * kFieldDefinitionSize));
  if (encrypted) DecryptBuffer(copy.data(), copy.size(), kRecordSeeds);
  std::vector<TFieldDefinition> defs;
  defs.reserve(count);
  for (std::size_t i = 0; i < count; ++i) defs.push_back(ReadFieldDefinition(copy.data() + i * kFieldDefinitionSize));
  return defs;
}

}  // namespace tarn
