// TDataCursor: the cursor's open BLOBs. A BLOB field of a record buffer is
// opened into an in-memory TBlobBuffer (at most 128 per cursor); while it is
// open the field's reference word holds the negative of the buffer's handle,
// and its null flag tells whether the BLOB has contents. Reading, writing,
// truncating and freeing go through the handle; a post (cursor_records.cpp)
// writes the modified buffers to the BLOB file and stores their block
// references back into the record. A handle never reaches the file.
#include <algorithm>
#include <cstring>
#include <limits>

#include "core/errors.h"
#include "cursor/cursor_operation.h"
#include "cursor/data_cursor.h"
#include "cursor/field_access.h"
#include "storage/blobs/blob_buffer.h"
#include "storage/formats/record_layout.h"
#include "storage/tables/data_table.h"

namespace tarn {

namespace {

// The reference word and the signature word of a BLOB field.
constexpr std::size_t kReferenceOffset = 1;
constexpr std::size_t kSignatureOffset = 5;

}  // namespace

// --- handles ----------------------------------------------------------------------------------

const TFieldDefinition* TDataCursor::BlobFieldDefinition(std::uint16_t field, bool physical,
                                                         std::uint16_t& code) const {
  code = 0;
  if (table_ == nullptr) {
    code = TARN_INVALIDBLOBHANDLE;
    return nullptr;
  }
  const TFieldDefinition* def = nullptr;
  if (physical) {
    const auto fields = table_->DataFile().Fields();
    if (field >= 1 && field <= fields.size()) def = &fields[field - 1u];
  } else if (field >= 1 && field <= logicalFieldCount_) {
    def = &logical_[field - 1u];
  }
  if (def == nullptr) {
    code = TARN_OUTOFRANGE;
  } else if (def->DataType != dtBlob) {
    code = TARN_NOTABLOB;
    def = nullptr;
  } else if (static_cast<std::size_t>(def->FieldOffset) + kSignatureOffset + 4 > recordBufferSize_) {
    code = TARN_OUTOFRANGE;  // a calculated or mapped BLOB without room in the record
    def = nullptr;
  }
  return def;
}

TDataCursor::TOpenBlob* TDataCursor::FindOpenBlob(std::int32_t reference) {
  if (reference >= 0 || reference == std::numeric_limits<std::int32_t>::min()) return nullptr;
  for (TOpenBlob& blob : openBlobs_)
    if (blob.Handle == -reference) return &blob;
  return nullptr;
}

const TDataCursor::TOpenBlob* TDataCursor::FindOpenBlob(std::int32_t reference) const {
  return const_cast<TDataCursor*>(this)->FindOpenBlob(reference);
}

TDataCursor::TOpenBlob* TDataCursor::OpenBlobOfField(std::uint16_t field, const std::uint8_t* record, bool physical,
                                                     const TFieldDefinition*& def, std::uint16_t& code) {
  def = BlobFieldDefinition(field, physical, code);
  if (def == nullptr) return nullptr;
  TOpenBlob* blob = FindOpenBlob(LoadInt32(record + def->FieldOffset + kReferenceOffset));
  if (blob == nullptr) code = TARN_INVALIDBLOBHANDLE;
  return blob;
}

void TDataCursor::StoreBlobHandle(const TFieldDefinition& def, std::uint8_t* record, const TOpenBlob& blob) {
  record[def.FieldOffset] = blob.Buffer->GetSize() > 0 ? 1 : 0;
  StoreInt32(record + def.FieldOffset + kReferenceOffset, -blob.Handle);
}

std::int32_t TDataCursor::NextBlobHandle() {
  // Handles count up within 31 bits and skip those still open, so a handle
  // freed a moment ago is not given out again soon.
  for (;;) {
    lastBlobHandle_ = lastBlobHandle_ >= std::numeric_limits<std::int32_t>::max() ? 1 : lastBlobHandle_ + 1;
    const std::int32_t handle = lastBlobHandle_;
    if (std::none_of(openBlobs_.begin(), openBlobs_.end(), [&](const TOpenBlob& b) { return b.Handle == handle; }))
      return handle;
  }
}

// --- the BLOB operations ----------------------------------------------------------------------

std::uint16_t TDataCursor::OpenBlob(std::uint16_t field, std::uint8_t* record, std::uint8_t mode, bool physical,
                                    bool owner) {
  std::uint16_t code = 0;
  const TFieldDefinition* def = BlobFieldDefinition(field, physical, code);
  if (def == nullptr) return code;
  const std::int32_t reference = LoadInt32(record + def->FieldOffset + kReferenceOffset);
  if (reference < 0) {
    TOpenBlob* open = FindOpenBlob(reference);
    if (open == nullptr) return TARN_INVALIDBLOBOFFSET;
    if (owner) open->Owner = true;
    return 0;
  }
  if (openBlobs_.size() >= kMaxOpenBlobs) return TARN_OPENBLOBLIMIT;
  if (!table_->HasBlobFile()) return TARN_MEMOCORRUPT;
  const std::int32_t signature = LoadInt32(record + def->FieldOffset + kSignatureOffset);
  const std::int32_t recordNumber = LoadInt32(record + kRecordNumberOffset);
  TOpenBlob blob;
  blob.Owner = owner;
  blob.OpenedFromBlock = reference;
  blob.OpenedFromSignature = signature;
  blob.Buffer = std::make_unique<TBlobBuffer>(table_->BlobFile(), this, recordNumber, def->FieldNumber, reference,
                                              signature, mode);
  if (reference != 0) {
    try {
      TCursorOperation operation(*this);
      blob.Buffer->Read();
    } catch (const ETarnEngineError& error) {
      return error.ErrorCode();
    }
  }
  // The old contents of a text-indexed field are kept for the text index.
  TIndexDefinition text;
  table_->IndexFile().GetIndexDefinition(kTextIndex, text);
  const auto keyFields = std::span(text.KeyFields).first(std::min<std::size_t>(text.KeyFieldCount, kMaxKeyFields));
  if (std::find(keyFields.begin(), keyFields.end(), def->FieldNumber) != keyFields.end()) blob.Buffer->SaveBuffer();
  blob.Handle = NextBlobHandle();
  StoreBlobHandle(*def, record, blob);
  openBlobs_.push_back(std::move(blob));
  return 0;
}

std::uint16_t TDataCursor::GetBlob(std::uint16_t field, const std::uint8_t* record, bool physical,
                                   std::int32_t& countRead, std::int32_t count, std::uint8_t* destination,
                                   std::int32_t offset) {
  countRead = 0;
  std::uint16_t code = 0;
  const TFieldDefinition* def = nullptr;
  TOpenBlob* blob = OpenBlobOfField(field, record, physical, def, code);
  if (blob == nullptr) return code;
  if (offset < 0) return TARN_INVALIDBLOBOFFSET;
  if (count < 0) return TARN_INVALIDBLOBLEN;
  const std::int64_t size = static_cast<std::int64_t>(blob->Buffer->GetSize());
  const std::int64_t end = static_cast<std::int64_t>(offset) + count;
  const std::int64_t available = std::max<std::int64_t>(0, std::min(end, size) - offset);
  if (available > 0) std::memcpy(destination, blob->Buffer->GetBuffer() + offset, static_cast<std::size_t>(available));
  countRead = static_cast<std::int32_t>(available);
  return end > size ? TARN_ENDOFBLOB : 0;
}

std::uint16_t TDataCursor::PutBlob(std::uint16_t field, std::uint8_t* record, bool physical, std::int32_t count,
                                   const std::uint8_t* source, std::int32_t offset) {
  std::uint16_t code = 0;
  const TFieldDefinition* def = nullptr;
  TOpenBlob* blob = OpenBlobOfField(field, record, physical, def, code);
  if (blob == nullptr) return code;
  if (offset < 0) return TARN_INVALIDBLOBOFFSET;
  if (count < 0) return TARN_INVALIDBLOBLEN;
  const std::int64_t end = static_cast<std::int64_t>(offset) + count;
  if (end > std::numeric_limits<std::int32_t>::max()) return TARN_INVALIDBLOBLEN;
  try {
    if (static_cast<std::size_t>(end) > blob->Buffer->GetSize()) blob->Buffer->SetSize(static_cast<std::size_t>(end));
  } catch (const ETarnEngineError& error) {
    return error.ErrorCode();
  }
  if (count > 0) std::memcpy(blob->Buffer->GetBuffer() + offset, source, static_cast<std::size_t>(count));
  blob->Buffer->SetModified(true);
  StoreBlobHandle(*def, record, *blob);
  return 0;
}

std::uint16_t TDataCursor::TruncateBlob(std::uint16_t field, std::uint8_t* record, bool physical, std::int32_t size) {
  std::uint16_t code = 0;
  const TFieldDefinition* def = nullptr;
  TOpenBlob* blob = OpenBlobOfField(field, record, physical, def, code);
  if (blob == nullptr) return code;
  if (size < 0) return TARN_INVALIDBLOBLEN;
  try {
    blob->Buffer->SetSize(static_cast<std::size_t>(size));
  } catch (const ETarnEngineError& error) {
    return error.ErrorCode();
  }
  StoreBlobHandle(*def, record, *blob);
  return 0;
}

std::uint16_t TDataCursor::GetBlobSize(std::uint16_t field, const std::uint8_t* record, bool physical,
                                       std::int32_t& size) {
  size = 0;
  std::uint16_t code = 0;
  const TFieldDefinition* def = nullptr;
  TOpenBlob* blob = OpenBlobOfField(field, record, physical, def, code);
  if (blob == nullptr) return code;
  size = static_cast<std::int32_t>(blob->Buffer->GetSize());
  return 0;
}

std::uint16_t TDataCursor::FreeBlob(std::uint16_t field, std::uint8_t* record, bool physical, bool owner) {
  std::uint16_t code = 0;
  const TFieldDefinition* def = nullptr;
  TOpenBlob* blob = OpenBlobOfField(field, record, physical, def, code);
  if (blob == nullptr) return code;
  if (blob->Owner != owner) {
    record[def->FieldOffset] = 1;
    StoreInt32(record + def->FieldOffset + kReferenceOffset, -blob->Handle);
    return 0;
  }
  // The field is as it was before the BLOB was opened.
  record[def->FieldOffset] = blob->OpenedFromBlock != 0 ? 1 : 0;
  StoreInt32(record + def->FieldOffset + kReferenceOffset, blob->OpenedFromBlock);
  StoreInt32(record + def->FieldOffset + kSignatureOffset, blob->OpenedFromSignature);
  const std::int32_t handle = blob->Handle;
  std::erase_if(openBlobs_, [&](const TOpenBlob& b) { return b.Handle == handle; });
  return 0;
}

bool TDataCursor::ValidBlobHandle(std::uint16_t field, const std::uint8_t* record, bool physical) const {
  std::uint16_t code = 0;
  const TFieldDefinition* def = BlobFieldDefinition(field, physical, code);
  return def != nullptr && FindOpenBlob(LoadInt32(record + def->FieldOffset + kReferenceOffset)) != nullptr;
}

void TDataCursor::FreeAllBlobs(bool all) {
  std::erase_if(openBlobs_, [&](const TOpenBlob& b) { return all || b.Owner; });
}

// --- BLOBs at a post ---------------------------------------------------------------------------

std::vector<TDataCursor::TOpenBlob*> TDataCursor::CheckRecordBlobs(const std::uint8_t* record, std::int32_t r,
                                                                   const std::uint8_t* stored) {
  std::vector<TOpenBlob*> blobs;
  if (GetBlobFieldCount() == 0) return blobs;
  for (const TFieldDefinition& def : table_->DataFile().Fields()) {
    if (def.DataType != dtBlob) continue;
    const std::int32_t reference = LoadInt32(record + def.FieldOffset + kReferenceOffset);
    if (reference >= 0) {
      // A closed BLOB keeps the stored chain (or none): a reference to any
      // other chain would make two records share one.
      const std::int32_t own =
          stored == nullptr ? 0 : LoadInt32(stored + def.FieldOffset + kReferenceOffset);
      if (reference != 0 && reference != own) Raise(TARN_MEMOCORRUPT);
      continue;
    }
    TOpenBlob* blob = FindOpenBlob(reference);
    // A handle that names no open BLOB, or a BLOB opened for another field,
    // or one opened on another stored record, would write into the wrong chain.
    if (blob == nullptr || blob->Buffer->FieldNumber() != def.FieldNumber) Raise(TARN_MEMOCORRUPT);
    const std::int32_t opened = blob->Buffer->RecordNumber();
    if (blob->OpenedFromBlock != 0 && opened != r) Raise(TARN_MEMOCORRUPT);
    if (std::find(blobs.begin(), blobs.end(), blob) != blobs.end()) Raise(TARN_MEMOCORRUPT);
    blobs.push_back(blob);
  }
  // Every modified open BLOB must belong to this record.
  for (TOpenBlob& blob : openBlobs_)
    if (blob.Buffer->Modified() && std::find(blobs.begin(), blobs.end(), &blob) == blobs.end())
      Raise(TARN_MEMOCORRUPT);
  return blobs;
}

bool TDataCursor::WriteRecordBlobs(std::uint8_t* record, std::int32_t r, const std::uint8_t* stored) {
  bool wrote = false;
  TDataFile& file = table_->DataFile();
  for (const TFieldDefinition& def : table_->DataFile().Fields()) {
    if (def.DataType != dtBlob) continue;
    std::uint8_t* field = record + def.FieldOffset;
    const TBlobReference own =
        stored == nullptr ? TBlobReference{0, 0} : LoadBlobReference(stored + def.FieldOffset + kReferenceOffset);
    TOpenBlob* blob = FindOpenBlob(LoadInt32(field + kReferenceOffset));
    // The stored chain goes when the record no longer refers to it: the field
    // was cleared, or its new contents were opened on another buffer.
    const bool keepsChain =
        blob != nullptr ? blob->OpenedFromBlock == own.FirstBlock : LoadInt32(field + kReferenceOffset) != 0;
    if (own.FirstBlock > 0 && !keepsChain) {
      TBlobBuffer old(table_->BlobFile(), this, r, def.FieldNumber, own.FirstBlock, own.Signature);
      old.SetSize(0);
      if (!old.Write()) Raise(TARN_LOCKTIMEOUT);
      wrote = true;
    }
    if (blob == nullptr) {
      // A closed BLOB: the stored reference, or none.
      const TBlobReference kept = keepsChain ? own : TBlobReference{0, 0};
      field[0] = kept.FirstBlock != 0 ? 1 : 0;
      StoreBlobReference(field + kReferenceOffset, kept);
      continue;
    }
    TBlobBuffer& buffer = *blob->Buffer;
    if (buffer.Modified()) {
      // The buffer is written on a copy: a change that fails later leaves the
      // cursor's buffer as the caller left it.
      TBlobBuffer copy(buffer);
      copy.SetRecordNumber(r);
      if (copy.GetSize() > 0) copy.SetSignature(file.GetNextFreeBlobSignature());
      if (!copy.Write()) Raise(TARN_LOCKTIMEOUT);
      field[0] = copy.FirstBlock() != 0 ? 1 : 0;
      StoreBlobReference(field + kReferenceOffset, {copy.FirstBlock(), copy.Signature()});
      wrote = true;
    } else {
      field[0] = buffer.FirstBlock() != 0 ? 1 : 0;
      StoreBlobReference(field + kReferenceOffset, {buffer.FirstBlock(), buffer.Signature()});
    }
  }
  return wrote;
}

void TDataCursor::ReleasePostedBlobs(const std::uint8_t* record, const std::vector<TOpenBlob*>& blobs) {
  // The stored record now holds block references; each posted buffer stands
  // for what was written.
  std::vector<std::int32_t> engineOwned;
  const std::int32_t r = LoadInt32(record + kRecordNumberOffset);
  for (const TFieldDefinition& def : table_->DataFile().Fields()) {
    if (def.DataType != dtBlob) continue;
    for (TOpenBlob* blob : blobs) {
      if (blob->Buffer->FieldNumber() != def.FieldNumber) continue;
      const TBlobReference posted = LoadBlobReference(record + def.FieldOffset + kReferenceOffset);
      blob->OpenedFromBlock = posted.FirstBlock;
      blob->OpenedFromSignature = posted.Signature;
      auto fresh = std::make_unique<TBlobBuffer>(table_->BlobFile(), this, r, def.FieldNumber, posted.FirstBlock,
                                                 posted.Signature, blob->Buffer->OpenMode());
      const std::span<const std::uint8_t> contents = blob->Buffer->Contents();
      if (!contents.empty()) {
        fresh->SetSize(contents.size());
        std::memcpy(fresh->GetBuffer(), contents.data(), contents.size());
      }
      fresh->SetModified(false);
      blob->Buffer = std::move(fresh);
      if (!blob->Owner) engineOwned.push_back(blob->Handle);
    }
  }
  std::erase_if(openBlobs_, [&](const TOpenBlob& b) {
    return std::find(engineOwned.begin(), engineOwned.end(), b.Handle) != engineOwned.end();
  });
}

void TDataCursor::FreeRemovedBlobs(std::uint8_t* record, std::int32_t r) {
  if (GetBlobFieldCount() == 0 || !table_->HasBlobFile()) return;
  for (const TFieldDefinition& def : table_->DataFile().Fields()) {
    if (def.DataType != dtBlob) continue;
    const TBlobReference reference = LoadBlobReference(record + def.FieldOffset + kReferenceOffset);
    if (reference.FirstBlock > 0) {
      TBlobBuffer blob(table_->BlobFile(), this, r, def.FieldNumber, reference.FirstBlock, reference.Signature);
      blob.SetSize(0);
      if (!blob.Write()) Raise(TARN_LOCKTIMEOUT);
    }
    // The deleted record keeps no reference into the BLOB file.
    record[def.FieldOffset] = 0;
    StoreBlobReference(record + def.FieldOffset + kReferenceOffset, {0, 0});
  }
}

// --- a copy of the current record ---------------------------------------------------------------

std::uint16_t TDataCursor::CloneCurrentRecord(std::uint8_t* buffer) {
  TCursorOperation operation(*this);
  if (bof_ || eof_) return TARN_NOCURRREC;
  RefreshCurrentRecord(kReadAheadForward);
  std::memset(buffer, 0, recordBufferSize_);
  std::vector<std::uint8_t> value(kFieldValueWorkSize, 0);
  std::vector<std::uint8_t> contents;
  for (std::uint16_t field = 1; field <= logicalFieldCount_; ++field) {
    const TFieldDefinition& def = LogicalDefinition(field);
    bool isNull = false;
    InternalGetField(def, currentRecord_.data(), nullptr, isNull);
    if (isNull) continue;
    if (def.DataType != dtBlob) {
      GetField(field, currentRecord_.data(), value.data(), isNull);
      PutField(field, buffer, value.data(), /*writeCalculated=*/true);
      continue;
    }
    // The contents move through a BLOB opened on the current record into a
    // new one on the copy; the current record's BLOB is closed again.
    std::uint16_t code = OpenBlob(field, currentRecord_.data(), 0, false, false);
    if (code != 0) return code;
    std::int32_t size = 0;
    std::int32_t read = 0;
    code = GetBlobSize(field, currentRecord_.data(), false, size);
    if (code == 0) {
      contents.assign(static_cast<std::size_t>(size), 0);
      if (size > 0) code = GetBlob(field, currentRecord_.data(), false, read, size, contents.data(), 0);
    }
    const std::uint16_t freed = FreeBlob(field, currentRecord_.data(), false, false);
    if (code == 0) code = freed;
    if (code == 0) code = OpenBlob(field, buffer, 0, false, false);
    if (code == 0 && size > 0) code = PutBlob(field, buffer, false, size, contents.data(), 0);
    if (code != 0) return code;
  }
  if (suppressAutoIncValues_)
    std::memcpy(buffer + kRecordIdOffset, currentRecord_.data() + kRecordIdOffset, sizeof(std::int32_t));
  return 0;
}

}  // namespace tarn
