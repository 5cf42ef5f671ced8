// Key layouts of index definitions and sorts (see key_layout.h).
#include "storage/keys/key_layout.h"

#include "core/errors.h"
#include "storage/formats/data_types.h"
#include "storage/formats/index_header.h"
#include "storage/formats/record_layout.h"

namespace tarn {

std::uint8_t TKeyField::IndexedSize() const noexcept { return tarn::IndexedSize(DataType, PhysicalSize); }

std::size_t TKeyLayout::FieldsSize() const noexcept {
  std::size_t size = 0;
  for (const TKeyField& f : Fields) size += f.IndexedSize() + 1u;
  return size;
}

std::size_t TKeyLayout::KeySize() const noexcept {
  switch (Kind) {
    case kkDeletedRecords: return kDeletedIndexKeySize;
    case kkText: return kTextIndexKeySize;
    default: return FieldsSize() + (Unique ? 0 : kRecordIdKeyBytes);
  }
}

TKeyField MakeKeyField(const TFieldDefinition& def, bool descending) noexcept {
  TKeyField f;
  f.DataType = def.DataType;
  f.PhysicalSize = def.PhysicalSize;
  f.FieldOffset = def.FieldOffset;
  f.AutoInc = IsAutoIncField(def);
  f.Descending = descending;
  return f;
}

TKeyLayout MakeIndexKeyLayout(const TIndexDefinition& def, std::span<const TFieldDefinition> fields,
                              std::size_t slot, std::uint16_t languageID, std::uint16_t sortID,
                              std::string_view indexName) {
  TKeyLayout layout;
  layout.LanguageID = languageID;
  layout.SortID = sortID;
  layout.Descending = def.Descending != 0;
  layout.CaseInsensitive = def.CaseInsensitive != 0;
  layout.Unique = def.Unique != 0;
  if (slot == kDeletedIndexSlot) {
    layout.Kind = kkDeletedRecords;
    return layout;
  }
  if (slot == kTextIndexSlot) {
    layout.Kind = kkText;
    return layout;
  }
  if (def.KeyFieldCount > kMaxKeyFields) RaiseError(TARN_INDEXLIMIT, {}, {}, {}, {}, {}, indexName);
  for (std::size_t i = 0; i < kMaxKeyFields && def.KeyFields[i] != 0; ++i) {
    const std::uint16_t number = def.KeyFields[i];
    if (number > fields.size() || fields[number - 1u].DataType == dtBlob)
      RaiseError(TARN_INVALIDKEY, {}, {}, {}, {}, {}, indexName);
    layout.Fields.push_back(MakeKeyField(fields[number - 1u], def.KeyFieldDescending[i] != 0));
  }
  const std::size_t size = layout.KeySize();
  if (size == 0 || size > kMaxKeySize) RaiseError(TARN_INVALIDKEY, {}, {}, {}, {}, {}, indexName);
  return layout;
}

TKeyLayout MakeSortKeyLayout(std::span<const TKeyField> fields, bool caseInsensitive, std::uint16_t languageID,
                             std::uint16_t sortID) {
  TKeyLayout layout;
  layout.LanguageID = languageID;
  layout.SortID = sortID;
  layout.CaseInsensitive = caseInsensitive;
  layout.Unique = false;
  layout.Fields.assign(fields.begin(), fields.end());
  return layout;
}

}  // namespace tarn
