// A filter source answering from memory for the filter tests: records in a
// vector (physical layout, laid out by the project's field definitions),
// indexes as sorted vectors of keys built with BuildIndexKey and ordered with
// CompareKeys, a text index with the word keys of its fields, and counters of
// record reads and index walks. It can report restarts on demand.
#pragma once

#include <algorithm>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "cursor/filter_source.h"
#include "platform/code_page.h"
#include "storage/formats/data_types.h"
#include "storage/formats/index_header.h"
#include "storage/formats/record_layout.h"
#include "storage/keys/key_builder.h"
#include "storage/keys/key_compare.h"
#include "storage/keys/key_encoding.h"
#include "support/field_builders.h"

namespace tarn::test_support {

// One value per field; nullopt is NULL. Numbers as their physical bytes.
using TFieldValue = std::optional<std::vector<std::uint8_t>>;

template <typename T>
TFieldValue ValueOf(T v) {
  std::vector<std::uint8_t> b(sizeof(T));
  std::memcpy(b.data(), &v, sizeof(T));
  return b;
}
inline TFieldValue TextOf(const std::string& s) {
  if (s.empty()) return std::nullopt;  // the empty string is NULL
  std::vector<std::uint8_t> b(s.begin(), s.end());
  return b;
}

struct TTestIndex {
  std::uint8_t Position = 1;
  std::vector<std::uint16_t> Fields;
  bool CaseInsensitive = false;
  bool Descending = false;
  bool Unique = false;
};

class TMemoryFilterSource final : public TFilterSource {
 public:
  TMemoryFilterSource(std::vector<TFieldDefinition> fields, std::uint16_t languageID = 0)
      : fields_(LaidOut(std::move(fields))), languageID_(languageID) {
    for (const auto& def : fields_)
      recordSize_ = std::max<std::size_t>(recordSize_, def.FieldOffset + def.PhysicalSize + 1u);
    GetLanguageCharMap(languageID_, 0, charMap_);
    physical_.Kind = kkIndex;
  }

  const std::vector<TFieldDefinition>& Fields() const { return fields_; }

  std::int32_t Append(const std::vector<TFieldValue>& values) {
    std::vector<std::uint8_t> record(recordSize_, 0);
    const auto number = static_cast<std::int32_t>(records_.size() + 1);
    SetRecordHeader(record, kRecordLive, number, number);
    for (std::size_t i = 0; i < values.size() && i < fields_.size(); ++i) {
      if (!values[i]) continue;
      const TFieldDefinition& def = fields_[i];
      record[def.FieldOffset] = 1;
      const std::size_t n = std::min<std::size_t>(values[i]->size(), def.DataType == dtString ? def.PhysicalSize - 1u : def.PhysicalSize);
      std::memcpy(record.data() + def.FieldOffset + 1, values[i]->data(), n);
    }
    records_.push_back(std::move(record));
    Reindex();
    return number;
  }
  void Delete(std::int32_t r) {
    records_[static_cast<std::size_t>(r - 1)][kRecordDeletedOffset] = kRecordDeleted;
    Reindex();
  }
  void AddIndex(const TTestIndex& shape) {
    TIndex index;
    index.Position = shape.Position;
    TIndexDefinition def = MakeEmptyIndexDefinition();
    def.Unique = shape.Unique ? 1 : 0;
    def.CaseInsensitive = shape.CaseInsensitive ? 1 : 0;
    def.Descending = shape.Descending ? 1 : 0;
    std::size_t k = 0;
    for (std::uint16_t f : shape.Fields) def.KeyFields[k++] = f;
    def.KeyFieldCount = static_cast<std::uint8_t>(k);
    index.Layout = MakeIndexKeyLayout(def, fields_, shape.Position, languageID_, 0);
    index.FirstField = shape.Fields.front();
    indexes_.push_back(std::move(index));
    std::sort(indexes_.begin(), indexes_.end(), [](const TIndex& a, const TIndex& b) { return a.Position < b.Position; });
    Reindex();
  }
  void AddTextIndex(std::vector<std::uint16_t> fields) {
    TIndex index;
    index.Position = static_cast<std::uint8_t>(kTextIndexSlot);
    index.Layout.Kind = kkText;
    index.Layout.LanguageID = languageID_;
    index.TextFields = std::move(fields);
    indexes_.push_back(std::move(index));
    Reindex();
  }

  // Counters and fault switches.
  int RecordReads = 0;
  int Navigations = 0;
  int Counts = 0;
  int RestartsToReport = 0;
  bool Optimize = true;

  // TFilterSource.
  const std::string& FilterTableName() const override { return tableName_; }
  const std::string& FilterDatabaseName() const override { return databaseName_; }
  bool OptimizationAllowed() const override { return Optimize; }
  std::uint16_t FilterLanguageID() const override { return languageID_; }
  std::uint16_t FilterSortID() const override { return 0; }
  const TLanguageCharMap& FilterCharMap() const override { return charMap_; }
  std::int32_t FilterActualRecordCount() override {
    return static_cast<std::int32_t>(std::count_if(records_.begin(), records_.end(), [](const auto& r) { return r[0] == kRecordLive; }));
  }
  std::int32_t FilterPhysicalRecordsUsed() override { return static_cast<std::int32_t>(records_.size()); }
  bool LookupFilterField(TExpToken& node) override {
    for (const TFieldDefinition& def : fields_) {
      if (!AnsiSameText(def.Name.View(), node.FieldName)) continue;
      node.FieldNumber = def.FieldNumber;
      node.DataType = def.DataType;
      node.SubType = def.SubType;
      node.DataSize = def.PhysicalSize;
      node.Decimals = def.Decimals;
      node.Source = this;
      return true;
    }
    return false;
  }
  std::uint8_t FilterIndexPosition() const override { return current_; }
  void RestoreFilterIndexPosition(std::uint8_t position) override { current_ = position; }
  bool ChangeToIndexForField(const TIndexForField& wanted) override {
    for (const TIndex& index : indexes_) {
      if (index.Layout.Kind != kkIndex || index.FirstField != wanted.FieldNumber) continue;
      if (!wanted.AnyCase && index.Layout.CaseInsensitive != wanted.CaseInsensitive) continue;
      current_ = index.Position;
      return true;
    }
    return false;
  }
  bool ChangeToTextIndex(std::uint16_t fieldNumber) override {
    for (const TIndex& index : indexes_) {
      if (index.Layout.Kind == kkText &&
          std::find(index.TextFields.begin(), index.TextFields.end(), fieldNumber) != index.TextFields.end()) {
        current_ = index.Position;
        return true;
      }
    }
    return false;
  }
  const TKeyLayout& CurrentKeyLayout() const override {
    const TIndex* index = Current();
    return index ? index->Layout : physical_;
  }
  std::uint16_t CurrentKeySize() const override {
    const TIndex* index = Current();
    return index ? static_cast<std::uint16_t>(index->Layout.KeySize()) : 0;
  }
  bool CountIndexedRecords(const std::uint8_t* low, const std::uint8_t* high, std::int64_t& count) override {
    ++Counts;
    if (Restart()) return false;
    count = 0;
    Walk(low, high, [&](std::int32_t) { ++count; });
    return true;
  }
  bool NavigateIndexedRecords(const std::uint8_t* low, const std::uint8_t* high, TRecordsBitmap& bitmap) override {
    ++Navigations;
    if (Restart()) return false;
    bitmap.ClearBits();
    Walk(low, high, [&](std::int32_t r) { bitmap.SetBit(r); });
    return true;
  }
  bool ReadFilterRecord(std::int32_t recordNumber, const std::uint8_t*& record) override {
    ++RecordReads;
    if (Restart()) return false;
    record = records_.at(static_cast<std::size_t>(recordNumber - 1)).data();
    return true;
  }
  void* EvaluationContext() override { return this; }
  TEvaluateFieldCallback FieldCallback() const override { return &ReadField; }
  TEvaluateTextSearchCallback TextSearchCallback() const override { return nullptr; }
  const TTextIndexParams& FilterTextIndexParams() const override { return TTextIndexParams::Defaults(); }

  // The value of a field of a physical record, as a column node wants it.
  static void ReadField(void* context, const std::uint8_t* record, TExpToken& result) {
    auto* self = static_cast<TMemoryFilterSource*>(context);
    const TFieldDefinition& def = self->fields_.at(result.FieldNumber - 1u);
    const std::uint8_t* at = record + def.FieldOffset;
    result.IsNull = at[0] == 0;
    result.SetDataSize(std::max<std::int32_t>(result.DataSize, def.PhysicalSize + 1));
    std::fill(result.Value.begin(), result.Value.end(), std::uint8_t{0});
    if (!result.IsNull) std::memcpy(result.Value.data(), at + 1, def.PhysicalSize);
  }

 private:
  struct TIndex {
    std::uint8_t Position = 0;
    TKeyLayout Layout;
    std::uint16_t FirstField = 0;
    std::vector<std::uint16_t> TextFields;
    std::vector<std::pair<std::vector<std::uint8_t>, std::int32_t>> Keys;  // in key order
  };

  const TIndex* Current() const {
    for (const TIndex& index : indexes_)
      if (index.Position == current_) return &index;
    return nullptr;
  }
  bool Restart() {
    if (RestartsToReport <= 0) return false;
    --RestartsToReport;
    return true;
  }
  // The entries from the first key not below low up to the first key above
  // high, as a B-tree range scan visits them.
  template <typename F>
  void Walk(const std::uint8_t* low, const std::uint8_t* high, F visit) const {
    const TIndex* index = Current();
    if (index == nullptr) return;
    const std::size_t size = index->Layout.KeySize();
    auto it = std::find_if(index->Keys.begin(), index->Keys.end(), [&](const auto& entry) {
      return CompareKeys(index->Layout, entry.first.data(), low, size) >= 0;
    });
    for (; it != index->Keys.end() && CompareKeys(index->Layout, it->first.data(), high, size) <= 0; ++it)
      visit(it->second);
  }
  void Reindex() {
    for (TIndex& index : indexes_) {
      index.Keys.clear();
      const std::size_t size = index.Layout.KeySize();
      for (std::size_t i = 0; i < records_.size(); ++i) {
        const auto& record = records_[i];
        if (record[kRecordDeletedOffset] != kRecordLive) continue;
        const auto number = static_cast<std::int32_t>(i + 1);
        if (index.Layout.Kind == kkText) {
          for (std::uint16_t f : index.TextFields) {
            const TFieldDefinition& def = fields_[f - 1u];
            if (record[def.FieldOffset] == 0) continue;
            const char* text = reinterpret_cast<const char*>(record.data() + def.FieldOffset + 1);
            const auto words = CreateWordsList(std::string_view(text, strnlen(text, def.PhysicalSize)), false,
                                               TTextIndexParams::Defaults(), languageID_, 0);
            for (const TTextWord& w : words) {
              const auto& stop = TTextIndexParams::Defaults().StopWords;
              if (std::find(stop.begin(), stop.end(), w.Word) != stop.end()) continue;
              std::vector<std::uint8_t> key(size, 0);
              key[0] = 1;
              FlipWordBits(f, key.data() + 1);
              std::memcpy(key.data() + 3, w.Word.data(), std::min<std::size_t>(w.Word.size(), 61));
              FlipIntegerBits(RecordIdOf(record), key.data() + 64);
              index.Keys.emplace_back(std::move(key), number);
            }
          }
        } else {
          std::vector<std::uint8_t> key(size, 0);
          BuildIndexKey(index.Layout, record, key);
          index.Keys.emplace_back(std::move(key), number);
        }
      }
      std::stable_sort(index.Keys.begin(), index.Keys.end(), [&](const auto& a, const auto& b) {
        return CompareKeys(index.Layout, a.first.data(), b.first.data(), size) < 0;
      });
    }
  }

  std::vector<TFieldDefinition> fields_;
  std::uint16_t languageID_;
  std::size_t recordSize_ = kRecordHeaderSize;
  std::vector<std::vector<std::uint8_t>> records_;
  std::vector<TIndex> indexes_;
  std::uint8_t current_ = 255;
  TLanguageCharMap charMap_{};
  TKeyLayout physical_;
  std::string tableName_ = "people";
  std::string databaseName_ = "memory";
};

}  // namespace tarn::test_support
