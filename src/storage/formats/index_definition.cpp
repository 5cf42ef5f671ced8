// Index definition records.
#include "storage/formats/index_definition.h"

#include <cstring>

#include "storage/formats/byte_codec.h"

namespace tarn {

void ClearIndexDefinition(TIndexDefinition& def) noexcept { std::memset(&def, 0, sizeof def); }

TIndexDefinition MakeEmptyIndexDefinition() noexcept {
  TIndexDefinition def;
  ClearIndexDefinition(def);
  return def;
}

void WriteIndexDefinition(const TIndexDefinition& def, std::uint8_t* image) noexcept {
  namespace o = index_definition_offsets;
  using namespace codec;
  std::memset(image, 0, kIndexDefinitionSize);
  PutShort(image, o::Name, def.Name);
  PutU16(image, o::KeySize, def.KeySize);
  PutU8(image, o::Descending, def.Descending);
  PutU8(image, o::CaseInsensitive, def.CaseInsensitive);
  PutU8(image, o::Unique, def.Unique);
  PutU8(image, o::Compression, def.Compression);
  PutU8(image, o::KeyFieldCount, def.KeyFieldCount);
  PutBytes(image, o::KeyFieldDescending, def.KeyFieldDescending);
  for (std::size_t k = 0; k < kMaxKeyFields; ++k) PutU16(image, o::KeyFields + 2 * k, def.KeyFields[k]);
  PutI32(image, o::RootPageNumber, def.RootPageNumber);
  PutI32(image, o::NextFreePageNumber, def.NextFreePageNumber);
  PutU8(image, o::Reserved1, def.Reserved1);
  PutU8(image, o::RemovalMark, def.RemovalMark);
  PutI32(image, o::DataRootPageNumber, def.DataRootPageNumber);
  PutBytes(image, o::Reserved2, def.Reserved2);
}

TIndexDefinition ReadIndexDefinition(const std::uint8_t* image) noexcept {
  namespace o = index_definition_offsets;
  using namespace codec;
  TIndexDefinition def = MakeEmptyIndexDefinition();
  GetShort(image, o::Name, def.Name);
  def.KeySize = GetU16(image, o::KeySize);
  def.Descending = GetU8(image, o::Descending);
  def.CaseInsensitive = GetU8(image, o::CaseInsensitive);
  def.Unique = GetU8(image, o::Unique);
  def.Compression = GetU8(image, o::Compression);
  def.KeyFieldCount = GetU8(image, o::KeyFieldCount);
  GetBytes(image, o::KeyFieldDescending, def.KeyFieldDescending);
  for (std::size_t k = 0; k < kMaxKeyFields; ++k) def.KeyFields[k] = GetU16(image, o::KeyFields + 2 * k);
  def.RootPageNumber = GetI32(image, o::RootPageNumber);
  def.NextFreePageNumber = GetI32(image, o::NextFreePageNumber);
  def.Reserved1 = GetU8(image, o::Reserved1);
  def.RemovalMark = GetU8(image, o::RemovalMark);
  def.DataRootPageNumber = GetI32(image, o::DataRootPageNumber);
  GetBytes(image, o::Reserved2, def.Reserved2);
  return def;
}

}  // namespace tarn
