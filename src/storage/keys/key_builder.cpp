// Keys built from record buffers (see key_builder.h).
#include "storage/keys/key_builder.h"

#include <algorithm>

#include "core/errors.h"
#include "storage/formats/index_definition.h"
#include "storage/keys/key_encoding.h"
#include "storage/formats/record_layout.h"

namespace tarn {

namespace {

// Writes the presence bytes and key forms of the layout's fields at key[0..).
void WriteKeyFields(const TKeyLayout& layout, std::span<const std::uint8_t> record, std::uint8_t* out) {
  for (const TKeyField& field : layout.Fields) {
    const std::uint8_t indexedSize = field.IndexedSize();
    const std::uint8_t* value = nullptr;
    bool present = false;
    if (field.AutoInc) {
      if (record.size() < kRecordHeaderSize) RaiseError(TARN_INVALIDKEY);
      value = record.data() + kRecordIdOffset;
      present = true;
    } else {
      if (static_cast<std::size_t>(field.FieldOffset) + 1u + field.PhysicalSize > record.size())
        RaiseError(TARN_INVALIDKEY);
      present = record[field.FieldOffset] != 0;
      value = record.data() + field.FieldOffset + 1;
    }
    out[0] = present ? 1 : 0;
    // A whole descending index orders by reversing the comparison, so its
    // fields are not complemented one by one.
    const bool descending = field.Descending && !layout.Descending;
    PrepareDataForIndex(field.DataType, field.PhysicalSize, present ? value : nullptr, out, layout.SortID,
                        layout.LanguageID, descending, layout.CaseInsensitive);
    out += indexedSize + 1u;
  }
}

}  // namespace

void BuildIndexKey(const TKeyLayout& layout, std::span<const std::uint8_t> record, std::span<std::uint8_t> key,
                   std::int32_t recordID) {
  if (layout.Kind == kkDeletedRecords) {
    BuildDeletedKey(record, key);
    return;
  }
  const std::size_t size = layout.KeySize();
  if (layout.Kind != kkIndex || key.size() < size) RaiseError(TARN_INVALIDKEY);
  std::fill(key.begin(), key.begin() + static_cast<std::ptrdiff_t>(size), std::uint8_t{0});
  WriteKeyFields(layout, record, key.data());
  if (!layout.Unique) FlipIntegerBits(recordID, key.data() + layout.FieldsSize());
}

void BuildIndexKey(const TKeyLayout& layout, std::span<const std::uint8_t> record, std::span<std::uint8_t> key) {
  if (record.size() < kRecordHeaderSize) RaiseError(TARN_INVALIDKEY);
  BuildIndexKey(layout, record, key, RecordIdOf(record));
}

void BuildSortKey(const TKeyLayout& layout, std::span<const std::uint8_t> record, std::span<std::uint8_t> key) {
  const std::size_t fieldsSize = layout.FieldsSize();
  if (record.size() < kRecordHeaderSize || key.size() < fieldsSize + kRecordIdKeyBytes) RaiseError(TARN_INVALIDKEY);
  std::fill(key.begin(), key.begin() + static_cast<std::ptrdiff_t>(fieldsSize + kRecordIdKeyBytes), std::uint8_t{0});
  WriteKeyFields(layout, record, key.data());
  FlipIntegerBits(RecordIdOf(record), key.data() + fieldsSize);
}

void BuildDeletedKey(std::span<const std::uint8_t> record, std::span<std::uint8_t> key) {
  if (record.size() < kRecordHeaderSize || key.size() < 5) RaiseError(TARN_INVALIDKEY);
  key[0] = record[kRecordDeletedOffset];
  FlipIntegerBits(RecordIdOf(record), key.data() + 1);
}

}  // namespace tarn
