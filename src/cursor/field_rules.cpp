// The field rules: checking and completing field definitions in order.
#include "cursor/field_rules.h"

#include <string>
#include <string_view>

#include "core/errors.h"
#include "expressions/literal_validation.h"
#include "storage/formats/data_types.h"
#include "storage/formats/object_names.h"
#include "storage/formats/record_layout.h"

namespace tarn {

namespace {

constexpr std::uint32_t kMaxRecordBytes = 65535;

[[noreturn]] void RaiseFieldError(TarnErrorCode code, const TFieldRulesContext& context, std::string_view fieldName) {
  RaiseError(code, {}, {}, context.DatabaseName, context.TableName, fieldName);
}

// Step 1: the name trimmed and cut to its area, then the letters rule.
void CheckName(TFieldDefinition& def, const TFieldRulesContext& context) {
  // View() already ends at the 30-byte area, whatever the length byte says;
  // Assign cuts again on a character boundary and zeroes the rest.
  const std::string name(TrimName(def.Name.View()));
  def.Name.Assign(name);
  if (!IsValidObjectName(def.Name.View())) RaiseFieldError(TARN_INVALIDFIELDNAME, context, def.Name.View());
}

// Step 2: no other definition with the same name or number.
void CheckUnique(std::span<const TFieldDefinition> definitions, std::size_t index, const TFieldRulesContext& context) {
  const TFieldDefinition& def = definitions[index];
  for (std::size_t other = 0; other < definitions.size(); ++other) {
    if (other == index) continue;
    if (SameObjectName(def.Name.View(), definitions[other].Name.View()))
      RaiseFieldError(TARN_INVALIDFIELDNAME, context, def.Name.View());
  }
  for (std::size_t other = 0; other < definitions.size(); ++other) {
    if (other != index && definitions[other].FieldNumber == def.FieldNumber)
      RaiseFieldError(TARN_INVALIDFLDTYPE, context, def.Name.View());
  }
}

// Step 3: a known type with a size it can have.
void CheckType(TFieldDefinition& def, const TFieldRulesContext& context) {
  if (def.DataType == dtUnknown) RaiseFieldError(TARN_INVALIDFLDTYPE, context, def.Name.View());
  if (HasDeclaredSize(def.DataType)) {
    if (def.Size > kMaxDeclaredFieldSize) RaiseFieldError(TARN_INVALIDFLDTYPE, context, def.Name.View());
  } else {
    def.Size = 0;
  }
  // More places than the table header accepts would give a table that
  // cannot be opened again.
  if (def.DataType == dtBCD && def.Decimals > kMaxFieldBcdDecimals)
    RaiseFieldError(TARN_INVALIDFLDTYPE, context, def.Name.View());
}

// Step 4: default, minimum and maximum texts readable as the type.
void CheckTexts(const TFieldDefinition& def, const TFieldRulesContext& context) {
  for (std::string_view text : {def.DefaultValue.View(), def.MinValue.View(), def.MaxValue.View()}) {
    if (!VerifyExpression(text, def.DataType)) RaiseFieldError(TARN_INVALIDVCHKSTRUCT, context, def.Name.View());
  }
}

}  // namespace

std::uint16_t VerifyFieldInformation(std::span<TFieldDefinition> definitions, const TFieldRulesContext& context,
                                     const TFieldRulesOptions& options) {
  std::uint32_t offset = kRecordHeaderSize;
  for (std::size_t i = 0; i < definitions.size(); ++i) {
    TFieldDefinition& def = definitions[i];
    CheckName(def, context);
    CheckUnique(definitions, i, context);
    CheckType(def, context);
    CheckTexts(def, context);

    // Step 5.
    if (def.DataType != dtBCD) def.Decimals = 0;
    UpdateFieldSize(def);
    UpdateFieldDecimals(def);

    // Step 6.
    if (!options.IsResultSet) def.Computed = 0;

    // Step 7: calculated fields of a result set live behind the record and
    // are placed by the cursor's mapping.
    if (def.Computed != 0) continue;
    if (IsAutoIncField(def)) {
      def.FieldOffset = kAutoIncFieldOffset;
      continue;
    }
    if (options.AssignOffsets) {
      if (offset + def.PhysicalSize + 1u > kMaxRecordBytes) RaiseFieldError(TARN_RECTOOBIG, context, {});
      def.FieldOffset = static_cast<std::uint16_t>(offset);
    }
    offset += def.PhysicalSize + 1u;
  }
  return static_cast<std::uint16_t>(offset > kMaxRecordBytes ? kMaxRecordBytes : offset);
}

}  // namespace tarn
