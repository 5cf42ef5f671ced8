// Acceptance of the data, index and BLOB file headers.
#include "storage/formats/check_header.h"

#include <algorithm>
#include <atomic>
#include <string>
#include <unordered_set>

#include "platform/code_page.h"
#include "platform/locale_services.h"
#include "storage/formats/object_names.h"
#include "storage/formats/record_layout.h"

namespace tarn {

namespace {

std::atomic<TExpressionVerifier> gExpressionVerifier{nullptr};
std::atomic<TLocaleValidator> gLocaleValidator{nullptr};

// Largest places value of the packed decimal record (6 bits).
constexpr std::uint8_t kMaxBcdDecimals = 63;

[[noreturn]] void Corrupt(const TTableContext& context) { RaiseTableError(TARN_HEADERCORRUPT, context); }

bool ExpressionTextValid(const TShortField<50>& text, std::uint8_t dataType) {
  if (!text.LengthValid()) return false;
  if (text.Length == 0) return true;
  const TExpressionVerifier verifier = gExpressionVerifier.load();
  return verifier == nullptr || verifier(text.View(), dataType);
}

const TFieldDefinition* FindField(std::span<const TFieldDefinition> fields, std::uint16_t number) noexcept {
  for (const TFieldDefinition& def : fields) {
    if (def.FieldNumber == number) return &def;
  }
  return nullptr;
}

bool PageNumberValid(std::int32_t n, std::int32_t pagesUsed) noexcept { return n == 0 || (n >= 1 && n <= pagesUsed); }

bool SlotPagesValid(const TIndexDefinition& def, std::int32_t pagesUsed) noexcept {
  return PageNumberValid(def.RootPageNumber, pagesUsed) && PageNumberValid(def.NextFreePageNumber, pagesUsed) &&
         PageNumberValid(def.DataRootPageNumber, pagesUsed);
}

// The key field numbers must fill the first KeyFieldCount entries, with zeros
// after them.
bool KeyFieldListValid(const TIndexDefinition& def) noexcept {
  if (def.KeyFieldCount > kMaxKeyFields) return false;
  for (std::size_t k = 0; k < kMaxKeyFields; ++k) {
    const bool used = k < def.KeyFieldCount;
    if ((def.KeyFields[k] != 0) != used) return false;
  }
  return true;
}

}  // namespace

void SetExpressionVerifier(TExpressionVerifier verifier) noexcept { gExpressionVerifier.store(verifier); }
void SetLocaleValidator(TLocaleValidator validator) noexcept { gLocaleValidator.store(validator); }

void CheckDataHeaderVersion(const TDataHeader& header, const TTableContext& context) {
  if (header.VersionNum != kTableVersion) RaiseTableError(TARN_OLDVERSION, context);
}

void CheckFieldCount(const TDataHeader& header, const TTableContext& context) {
  if (header.FieldCount > kMaxFieldCount) Corrupt(context);
}

void CheckDataHeader(const TDataHeader& header, std::span<TFieldDefinition> fields, std::uint64_t fileSize,
                     const TTableContext& context) {
  CheckDataHeaderVersion(header, context);
  if (header.LanguageID != 0) {
    const TLocaleValidator validator = gLocaleValidator.load();
    const bool valid = validator != nullptr ? validator(header.LanguageID, header.SortID)
                                            : OSValidLocale(header.LanguageID, header.SortID);
    if (!valid) {
      RaiseTableError(TARN_CANNOTLOADLDDRV, context);
    }
  }
  CheckFieldCount(header, context);
  if (fields.size() != header.FieldCount) Corrupt(context);
  if (!header.Description.LengthValid() || !header.Password.LengthValid()) Corrupt(context);
  if (header.BlobBlockSize != 0 &&
      (header.BlobBlockSize < kMinBlobBlockSize || header.BlobBlockSize > kMaxBlobBlockSize)) {
    Corrupt(context);
  }

  std::unordered_set<std::string> names;
  names.reserve(fields.size());
  std::size_t offset = kRecordHeaderSize;
  std::size_t blobFields = 0;
  for (std::size_t i = 0; i < fields.size(); ++i) {
    TFieldDefinition& def = fields[i];
    UpdateFieldSize(def);
    UpdateFieldDecimals(def);
    if (!def.Name.LengthValid() || !def.Description.LengthValid()) Corrupt(context);
    const std::string_view name = def.Name.View();
    if (name.empty() || !IsNameStartChar(static_cast<unsigned char>(name.front()))) Corrupt(context);
    if (!names.insert(AnsiUpperCase(TrimName(name))).second) Corrupt(context);
    if (def.FieldNumber != i + 1) Corrupt(context);
    if (def.DataType == dtUnknown) Corrupt(context);
    if (HasDeclaredSize(def.DataType) ? def.Size > kMaxDeclaredFieldSize : def.Size != 0) Corrupt(context);
    if (!ExpressionTextValid(def.DefaultValue, def.DataType) || !ExpressionTextValid(def.MinValue, def.DataType) ||
        !ExpressionTextValid(def.MaxValue, def.DataType)) {
      Corrupt(context);
    }
    if (def.DataType == dtBCD ? def.Decimals > kMaxBcdDecimals : def.Decimals != 0) Corrupt(context);
    if (IsAutoIncField(def)) {
      if (def.FieldOffset != kAutoIncFieldOffset) Corrupt(context);
    } else {
      if (def.FieldOffset != offset) Corrupt(context);
      offset += static_cast<std::size_t>(def.PhysicalSize) + 1;
    }
    if (def.DataType == dtBlob) ++blobFields;
  }
  if (blobFields != header.BlobFieldCount || blobFields > kMaxBlobFieldCount) Corrupt(context);
  if (header.RecordSize != offset) Corrupt(context);

  // The header must not count records the file lacks (also when the file ends
  // with its definitions). Bytes past the records it counts are what an append
  // wrote before a writer died ahead of its header write: they are not part of
  // the table and the next append overwrites them.
  const std::uint64_t fixedPart = DataFixedPartSize(fields.size());
  const std::uint64_t records = fileSize > fixedPart ? (fileSize - fixedPart) / header.RecordSize : 0;
  if (static_cast<std::int64_t>(header.NextRecordNumber) > static_cast<std::int64_t>(records) + 1) {
    Corrupt(context);
  }
  if (header.NextRecordNumber < 1) Corrupt(context);
  if (header.NextFreeRecordNumber < 0 || header.NextFreeRecordNumber >= header.NextRecordNumber) Corrupt(context);
}

void CheckIndexHeaderVersion(const TIndexHeader& header, const TTableContext& context) {
  if (header.VersionNum != kTableVersion) RaiseTableError(TARN_OLDVERSION, context);
}

void CheckIndexHeader(const TIndexHeader& header, std::span<const TFieldDefinition> fields,
                      const TTableContext& context) {
  CheckIndexHeaderVersion(header, context);
  if (header.IndexCount > kMaxSecondaryIndexes) Corrupt(context);
  if (header.NextPageNumber < 1 || header.ActualRecordCount < 0) Corrupt(context);
  const std::int32_t pagesUsed = GetPhysicalPagesUsed(header);
  const bool noPrimary = header.NoPrimaryIndex != 0;

  std::unordered_set<std::string> names;
  for (std::size_t slot = 0; slot <= header.IndexCount; ++slot) {
    const TIndexDefinition& def = header.Slots[slot];
    if (!def.Name.LengthValid()) Corrupt(context);
    if (slot == kPrimaryIndexSlot) {
      if (def.Name.Length != 0) Corrupt(context);
      if (noPrimary) continue;  // slot 0 is not used as an index
      if (def.Unique == 0) Corrupt(context);
    } else {
      const std::string_view name = TrimName(def.Name.View());
      if (name.empty() || !IsNameStartChar(static_cast<unsigned char>(name.front()))) Corrupt(context);
      if (!names.insert(AnsiUpperCase(name)).second) Corrupt(context);
    }
    if (def.Compression > icFull) Corrupt(context);
    if (!KeyFieldListValid(def)) Corrupt(context);
    std::size_t keySum = 0;
    for (std::size_t k = 0; k < def.KeyFieldCount; ++k) {
      const TFieldDefinition* field = FindField(fields, def.KeyFields[k]);
      if (field == nullptr || field->DataType == dtBlob) Corrupt(context);
      keySum += static_cast<std::size_t>(GetIndexedSize(*field)) + 1;
    }
    // Pages hold keys of exactly this size, so it must match the fields; the
    // limit counts the record ID a non-unique index appends.
    if (keySum == 0 || def.KeySize != keySum + (def.Unique != 0 ? 0 : kRecordIdKeyBytes)) Corrupt(context);
    if (def.KeySize > kMaxKeySize) Corrupt(context);
  }

  const TIndexDefinition& deleted = header.Slots[kDeletedIndexSlot];
  if (deleted.KeySize != kDeletedIndexKeySize || deleted.Compression > icFull) Corrupt(context);

  const TIndexDefinition& text = header.Slots[kTextIndexSlot];
  if (!KeyFieldListValid(text) || text.Compression > icFull || text.KeySize > kMaxKeySize + kRecordIdKeyBytes) {
    Corrupt(context);
  }
  for (std::size_t k = 0; k < text.KeyFieldCount; ++k) {
    const TFieldDefinition* field = FindField(fields, text.KeyFields[k]);
    if (field == nullptr) Corrupt(context);
    if (field->DataType != dtString && !(field->DataType == dtBlob && field->SubType == dstMemo)) Corrupt(context);
  }

  // Every slot's page numbers: parked definitions keep their free-page lists.
  for (const TIndexDefinition& def : header.Slots) {
    if (!SlotPagesValid(def, pagesUsed)) Corrupt(context);
  }
}

void CheckBlobHeaderVersion(const TBlobHeader& header, const TTableContext& context) {
  if (header.VersionNum != kTableVersion) RaiseTableError(TARN_OLDVERSION, context);
}

void CheckBlobHeader(const TBlobHeader& header, const TTableContext& context) {
  CheckBlobHeaderVersion(header, context);
  if (header.NextBlockNumber < 1) Corrupt(context);
  if (header.NextFreeBlockNumber != 0 && !CheckBlockNumber(header, header.NextFreeBlockNumber)) Corrupt(context);
}

TDataFileImage CheckDataFileImage(std::span<const std::uint8_t> file, const TTableContext& context) {
  if (file.size() < kDataHeaderSize) Corrupt(context);
  TDataFileImage image{ReadDataHeader(file.first<kDataHeaderSize>()), {}};
  CheckFieldCount(image.Header, context);
  const std::uint64_t fixedPart = DataFixedPartSize(image.Header.FieldCount);
  if (file.size() < fixedPart) Corrupt(context);
  image.Fields = ReadFieldDefinitions(file.subspan(kDataHeaderSize, fixedPart - kDataHeaderSize),
                                      image.Header.Encrypted != 0);
  CheckDataHeaderVersion(image.Header, context);
  CheckDataHeader(image.Header, image.Fields, file.size(), context);
  return image;
}

TIndexHeader CheckIndexFileImage(std::span<const std::uint8_t> file, bool encrypted,
                                 std::span<const TFieldDefinition> fields, const TTableContext& context) {
  if (file.size() < kIndexHeaderSize) Corrupt(context);
  const TIndexHeader header = ReadIndexHeader(file.first<kIndexHeaderSize>(), encrypted);
  CheckIndexHeader(header, fields, context);
  return header;
}

TBlobHeader CheckBlobFileImage(std::span<const std::uint8_t> file, bool encrypted, const TTableContext& context) {
  if (file.size() < kBlobHeaderSize) Corrupt(context);
  const TBlobHeader header = ReadBlobHeader(file.first<kBlobHeaderSize>(), encrypted);
  CheckBlobHeader(header, context);
  return header;
}

}  // namespace tarn
