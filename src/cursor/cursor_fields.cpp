// TDataCursor field access: the field mapping of result sets, reading and
// writing fields of record buffers through the logical or the physical
// definitions, new records with their defaults, validity checks, and
// calculated fields with the callback through which expressions read the
// fields of a record.
#include <cstring>

#include "core/errors.h"
#include "cursor/data_cursor.h"
#include "cursor/field_access.h"
#include "cursor/field_rules.h"
#include "expressions/expression_evaluator.h"
#include "storage/blobs/blob_buffer.h"
#include "storage/formats/record_layout.h"

namespace tarn {

namespace {

// Clears a flag when the scope ends, also on failure.
class TFlagScope {
 public:
  explicit TFlagScope(bool& flag) noexcept : flag_(flag) { flag_ = true; }
  ~TFlagScope() { flag_ = false; }
  TFlagScope(const TFlagScope&) = delete;
  TFlagScope& operator=(const TFlagScope&) = delete;

 private:
  bool& flag_;
};

}  // namespace

void TDataCursor::SetFieldMapping(std::span<const TFieldDefinition> definitions) {
  if (definitions.size() > kMaxLogicalFields) Raise(TARN_INTERNALLIMIT);
  std::vector<TFieldDefinition> mapped(definitions.begin(), definitions.end());
  TFieldRulesOptions options;
  options.IsResultSet = isResultSet_;
  VerifyFieldInformation(mapped, {tableName_, directory_.Name()}, options);
  logical_ = std::move(mapped);
  logicalFieldCount_ = static_cast<std::uint16_t>(logical_.size());
  recordBufferSize_ = table_->DataFile().GetRecordSize();
  hasCalculatedFields_ = false;
  for (TFieldDefinition& def : logical_) {
    if (def.Computed == 0) continue;
    // Calculated fields live behind the physical record.
    def.FieldOffset = recordBufferSize_;
    recordBufferSize_ = static_cast<std::uint16_t>(recordBufferSize_ + def.PhysicalSize + 1u);
    hasCalculatedFields_ = true;
  }
  currentRecord_.resize(recordBufferSize_, 0);
  filterRecord_.resize(recordBufferSize_, 0);
}

void TDataCursor::SetDefaultFieldMapping() {
  recordBufferSize_ = table_->DataFile().GetRecordSize();
  for (std::uint16_t i = 0; i < logicalFieldCount_; ++i) {
    TFieldDefinition& def = logical_[i];
    if (def.Computed != 0) {
      def.FieldOffset = recordBufferSize_;
      recordBufferSize_ = static_cast<std::uint16_t>(recordBufferSize_ + def.PhysicalSize + 1u);
      hasCalculatedFields_ = true;
    }
    def.Working.OriginName.Assign(tableName_ + "." + def.Name.Str());
    def.Working.SourceFieldNumber = static_cast<std::int16_t>(def.FieldNumber);
  }
  currentRecord_.resize(recordBufferSize_, 0);
  filterRecord_.resize(recordBufferSize_, 0);
}

void TDataCursor::ClearRecord(std::uint8_t* buffer) const { std::memset(buffer, 0, recordBufferSize_); }

void TDataCursor::InitRecord(std::uint8_t* buffer) {
  ClearRecord(buffer);
  if (hasDefaults_) ApplyDefaults(table_->DataFile().Fields(), buffer, {languageID_, sortID_});
  if (hasCalculatedFields_) CalculateExpressionFields(buffer);
}

void TDataCursor::GetField(std::uint16_t field, const std::uint8_t* record, std::uint8_t* destination,
                           bool& isNull) const {
  InternalGetField(LogicalDefinition(field), record, destination, isNull);
}

void TDataCursor::GetPhysicalField(std::uint16_t field, const std::uint8_t* record, std::uint8_t* destination,
                                   bool& isNull) const {
  InternalGetField(PhysicalDefinition(field), record, destination, isNull);
}

void TDataCursor::PutField(std::uint16_t field, std::uint8_t* record, const std::uint8_t* source, bool writeCalculated,
                           bool blobEmpty) {
  const TFieldDefinition& def = LogicalDefinition(field);
  const bool calculated = def.Computed != 0;
  if (calculated && !writeCalculated) return;
  InternalPutField(def, record, source, blobEmpty, {languageID_, sortID_});
  if (!calculated) CalculateExpressionFields(record);
}

void TDataCursor::PutPhysicalField(std::uint16_t field, std::uint8_t* record, const std::uint8_t* source,
                                   bool blobEmpty) {
  const TFieldDefinition& def = PhysicalDefinition(field);
  if (def.Computed != 0) return;
  InternalPutField(def, record, source, blobEmpty, {languageID_, sortID_});
  CalculateExpressionFields(record);
}

void TDataCursor::CheckRecordValidity(const std::uint8_t* record) const {
  if (!hasValidityChecks_) return;
  tarn::CheckRecordValidity(table_->DataFile().Fields(), record, {tableName_, directory_.Name()},
                            {languageID_, sortID_});
}

void TDataCursor::CalculateExpressionFields(std::uint8_t* record) {
  if (!hasCalculatedFields_ || calculating_) return;
  TFlagScope guard(calculating_);
  for (std::uint16_t i = 0; i < logicalFieldCount_; ++i) {
    const TFieldDefinition& def = logical_[i];
    if (def.Computed == 0 || def.Working.Expression == nullptr) continue;
    const TExpTokenPtr result =
        EvaluateExpressionToken(*def.Working.Expression, record, this, &ReadFieldForEvaluation, sortID_, languageID_);
    InternalPutField(def, record, result->IsNull ? nullptr : result->ValueData(), false, {languageID_, sortID_});
  }
}

void TDataCursor::ReadFieldForEvaluation(void* context, const std::uint8_t* record, TExpToken& node) {
  auto& cursor = *static_cast<TDataCursor*>(context);
  const TFieldDefinition& def = cursor.PhysicalDefinition(node.FieldNumber);
  bool isNull = false;
  if (def.DataType == dtBlob) {
    InternalGetField(def, record, nullptr, isNull);
    node.IsNull = isNull;
    if (isNull) {
      node.SetDataSize(0);
      std::memset(node.ValueData(), 0, node.ValueCapacity());
      return;
    }
    // The whole BLOB, as text followed by a zero byte.
    const TBlobReference reference = LoadBlobReference(record + def.FieldOffset + 1);
    TDataTable& table = *cursor.table_;
    if (!table.HasBlobFile()) RaiseError(TARN_MEMOCORRUPT, {}, {}, cursor.directory_.Name(), cursor.tableName_);
    TBlobBuffer blob(table.BlobFile(), &cursor, LoadInt32(record + kRecordNumberOffset), def.FieldNumber,
                     reference.FirstBlock, reference.Signature);
    // A read that met changes keeps the table read lock it took; it is given
    // back here, as every reading operation does, unless it was held before.
    const bool held = table.InternalReadLocked();
    const auto release = [&] {
      if (!held && table.InternalReadLocked()) cursor.ReadUnlockTable();
    };
    try {
      blob.Read();
    } catch (const ETarnEngineError& error) {
      release();
      RaiseError(error.ErrorCode(), {}, {}, cursor.directory_.Name(), cursor.tableName_);
    }
    release();
    const std::size_t size = blob.GetSize();
    node.SetDataSize(static_cast<std::int32_t>(size + 1));
    if (size > 0) std::memcpy(node.ValueData(), blob.Contents().data(), size);
    node.ValueData()[size] = 0;
    node.DataSize = static_cast<std::int32_t>(size);
    return;
  }
  if (node.ValueCapacity() < def.PhysicalSize + 1u) node.SetDataSize(def.PhysicalSize + 1);
  std::memset(node.ValueData(), 0, def.PhysicalSize + 1u);
  InternalGetField(def, record, node.ValueData(), isNull);
  node.IsNull = isNull;
}

TEvaluateFieldCallback TDataCursor::FieldCallback() const { return &ReadFieldForEvaluation; }

TEvaluateTextSearchCallback TDataCursor::TextSearchCallback() const { return nullptr; }

}  // namespace tarn
