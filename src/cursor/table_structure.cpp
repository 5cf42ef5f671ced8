// The structure checks of a new or restructured table: table-wide limits,
// the field rules and the index definitions, in the order callers rely on
// (the first failing check names the error).
#include "cursor/table_structure.h"

#include <algorithm>
#include <string>
#include <string_view>

#include "core/errors.h"
#include "cursor/field_rules.h"
#include "platform/code_page.h"
#include "platform/locale_services.h"
#include "storage/formats/data_header.h"
#include "storage/formats/data_types.h"
#include "storage/formats/index_header.h"
#include "storage/formats/object_names.h"
#include "storage/keys/languages.h"

namespace tarn {

namespace {

constexpr std::string_view kPrimaryIndexContext = "Primary";

[[noreturn]] void RaiseStructureError(TarnErrorCode code, const TStructureContext& context,
                                      std::string_view field = {}, std::string_view index = {}) {
  RaiseError(code, {}, {}, context.DatabaseName, context.TableName, field, index);
}

const TFieldDefinition* FindField(std::span<const TFieldDefinition> fields, std::uint16_t number) {
  const auto it =
      std::find_if(fields.begin(), fields.end(), [number](const TFieldDefinition& f) { return f.FieldNumber == number; });
  return it == fields.end() ? nullptr : &*it;
}

// The key-field list of a definition: numbers up to the first 0, no number
// after a 0, every number a field's. Answers the fields found in order;
// with endAtUnknown an unknown number ends the list (the rest is cleared).
std::vector<const TFieldDefinition*> KeyFieldsOf(TIndexDefinition& def, std::span<const TFieldDefinition> fields,
                                                 bool endAtUnknown, const TStructureContext& context,
                                                 std::string_view indexName) {
  std::vector<const TFieldDefinition*> found;
  bool ended = false;
  for (std::size_t k = 0; k < kMaxKeyFields; ++k) {
    const std::uint16_t number = def.KeyFields[k];
    if (number == 0) {
      ended = true;
      continue;
    }
    if (ended) RaiseStructureError(TARN_INVALIDIDXDESC, context, std::to_string(number), indexName);
    const TFieldDefinition* field = FindField(fields, number);
    if (field == nullptr) {
      if (!endAtUnknown) RaiseStructureError(TARN_INVALIDIDXDESC, context, std::to_string(number), indexName);
      for (std::size_t rest = k; rest < kMaxKeyFields; ++rest) def.KeyFields[rest] = 0;
      break;
    }
    found.push_back(field);
  }
  return found;
}

}  // namespace

void VerifyIndexDefinition(TIndexDefinition& def, std::span<const TFieldDefinition> fields, TIndexRole role,
                           const TStructureContext& context) {
  const bool primary = role != TIndexRole::irSecondary;
  const bool mayBeEmpty = role == TIndexRole::irPrimaryMayBeEmpty;
  std::string name;
  if (primary) {
    def.Name.Clear();
    def.Unique = 1;
    name = kPrimaryIndexContext;
  } else {
    name = std::string(TrimName(def.Name.View()));
    if (name.empty()) RaiseStructureError(TARN_INDEXNAMEREQUIRED, context);
    if (!IsNameStartChar(static_cast<unsigned char>(name.front())))
      RaiseStructureError(TARN_INVALIDINDEXNAME, context, {}, name);
    def.Name.Assign(name);
  }
  if (def.Compression > icFull) RaiseStructureError(TARN_INVALIDIDXDESC, context, {}, name);

  const std::vector<const TFieldDefinition*> keyFields = KeyFieldsOf(def, fields, mayBeEmpty, context, name);
  std::size_t keySize = 0;
  for (const TFieldDefinition* field : keyFields) {
    if (field->DataType == dtBlob) RaiseStructureError(TARN_SEARCHCOLREQD, context, field->Name.View(), name);
    keySize += GetIndexedSize(*field) + 1u;
  }
  if (keySize > kMaxIndexKeySize || (keySize == 0 && !mayBeEmpty))
    RaiseStructureError(TARN_INVALIDKEY, context, {}, name);
  // The record ID that makes the keys of a non-unique index unique is part of
  // every stored key, so it must fit as well.
  if (keySize > 0 && def.Unique == 0) {
    keySize += kRecordIdKeyBytes;
    if (keySize > kMaxIndexKeySize) RaiseStructureError(TARN_INVALIDKEY, context, {}, name);
  }
  def.KeyFieldCount = static_cast<std::uint8_t>(keyFields.size());
  def.KeySize = static_cast<std::uint16_t>(keySize);
  def.RootPageNumber = 0;
  def.NextFreePageNumber = 0;
  def.DataRootPageNumber = 0;
}

void VerifyIndexInformation(std::span<const TFieldDefinition> fields, TIndexStructure& indexes,
                            const TStructureContext& context) {
  for (std::size_t k = 0; k < indexes.Indexes.size(); ++k) {
    TIndexDefinition& def = indexes.Indexes[k];
    if (k == 0) {
      VerifyIndexDefinition(def, fields,
                            indexes.AllowEmptyPrimaryIndex ? TIndexRole::irPrimaryMayBeEmpty : TIndexRole::irPrimary,
                            context);
      continue;
    }
    VerifyIndexDefinition(def, fields, TIndexRole::irSecondary, context);
    for (std::size_t other = 1; other < k; ++other) {
      if (SameObjectName(AnsiUpperCase(indexes.Indexes[other].Name.View()), AnsiUpperCase(def.Name.View())))
        RaiseStructureError(TARN_INDEXEXISTS, context, {}, def.Name.View());
    }
  }
  if (indexes.TextIndex == nullptr) return;
  TIndexDefinition& text = *indexes.TextIndex;
  const std::vector<const TFieldDefinition*> textFields = KeyFieldsOf(text, fields, false, context, kTextIndexName);
  for (const TFieldDefinition* field : textFields) {
    const bool memo = field->DataType == dtBlob && field->SubType == dstMemo;
    if (field->DataType != dtString && !memo)
      RaiseStructureError(TARN_SEARCHCOLREQD, context, field->Name.View(), kTextIndexName);
  }
  text.Name.Assign(kTextIndexName);
  text.KeyFieldCount = static_cast<std::uint8_t>(textFields.size());
  text.KeySize = kTextIndexKeySize;
  text.Compression = icFull;
  text.Unique = 0;
  text.RootPageNumber = 0;
  text.NextFreePageNumber = 0;
  text.DataRootPageNumber = 0;
}

void VerifyStructureInformation(TTableStructure& structure, const TStructureContext& context) {
  if (structure.Encrypted) {
    const std::string_view password = TrimName(structure.Password);
    if (password.empty() || password.size() > kPasswordLength) RaiseStructureError(TARN_INVALIDPASSWORD, context);
  }
  if (structure.LanguageID != 0 &&
      (GetIndexFromLanguageID(structure.LanguageID) < 0 || !OSValidLocale(structure.LanguageID, structure.SortID)))
    RaiseStructureError(TARN_CANNOTLOADLDDRV, context);
  if (structure.Fields.size() > kMaxFieldCount || structure.InitialAutoIncValue < -1)
    RaiseStructureError(TARN_FLDLIMIT, context);
  const std::span<TIndexDefinition> indexes = structure.Indexes.Indexes;
  if (indexes.size() > kMaxTableSecondaryIndexes + 1) RaiseStructureError(TARN_INDEXLIMIT, context);
  if (structure.BlobBlockSize < kMinBlobBlockSize) RaiseStructureError(TARN_BLOBLIMIT, context);

  VerifyFieldInformation(structure.Fields, {.TableName = context.TableName, .DatabaseName = context.DatabaseName},
                         {.AssignOffsets = true});
  const std::size_t blobFields = static_cast<std::size_t>(std::count_if(
      structure.Fields.begin(), structure.Fields.end(), [](const TFieldDefinition& f) { return f.DataType == dtBlob; }));
  if (blobFields > kMaxBlobFieldCount) RaiseStructureError(TARN_BLOBLIMIT, context);

  VerifyIndexInformation(structure.Fields, structure.Indexes, context);
}

}  // namespace tarn
