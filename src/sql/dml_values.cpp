// The column and value lists of INSERT and UPDATE: resolving and typing the
// assigned columns, verifying the values and checking constants against
// their columns at preparation, the values of INSERT ... SELECT, and storing
// one evaluated value into a record at execution.
#include "sql/dml_values.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "core/errors.h"
#include "expressions/ansi_text_forms.h"
#include "expressions/exp_token_stack.h"
#include "expressions/expression_types.h"
#include "expressions/expression_verifier.h"
#include "expressions/value_conversion.h"
#include "platform/code_page.h"
#include "sql/query_statement.h"
#include "storage/formats/data_types.h"

namespace tarn {

namespace {

constexpr std::string_view kTableColumns = "table columns";
constexpr std::string_view kUpdateValues = "update values";

[[noreturn]] void RaiseSql(std::string_view message) { RaiseError(TARN_SQLPARSE, {}, {}, {}, {}, {}, {}, message); }

std::string Quote(std::string_view text) { return "'" + std::string(text) + "'"; }

std::string InvalidColumnMessage(const std::string& column, const std::string& table, std::string_view where) {
  return "Invalid column name " + Quote(column) + " or table correlation name " + Quote(table) + " specified in " +
         std::string(where);
}

bool IsTemporalType(std::uint8_t type) { return type == dtDate || type == dtTime || type == dtTimeStamp; }

// How a value is named in messages: a string constant by its text, anything
// else as written.
std::string ValueDisplayText(const TExpToken& value, const std::string& written) {
  if (value.NodeClass == enCONST && value.DataType == dtString && !value.IsNull && !value.IsParameter) {
    return std::string(reinterpret_cast<const char*>(value.ValueData()),
                       strnlen(reinterpret_cast<const char*>(value.ValueData()), value.ValueCapacity()));
  }
  return written;
}

// Converts a string constant holding a date, time or timestamp literal into
// that type in place; false when the text is not such a literal.
bool ConvertTemporalConstant(TExpToken& value, std::uint8_t type, std::int32_t size) {
  const std::string text = ValueDisplayText(value, {});
  std::uint8_t bytes[8] = {};
  if (type == dtDate || type == dtTime) {
    std::int32_t number = 0;
    if (!(type == dtDate ? TryStrToAnsiDate(text, number) : TryStrToAnsiTime(text, number))) return false;
    std::memcpy(bytes, &number, sizeof number);
  } else {
    double stamp = 0;
    if (!TryStrToAnsiDateTime(text, stamp)) return false;
    std::memcpy(bytes, &stamp, sizeof stamp);
  }
  value.DataType = type;
  value.SubType = dstNone;
  value.SetDataSize(size);
  std::memset(value.ValueData(), 0, value.ValueCapacity());
  std::memcpy(value.ValueData(), bytes, std::min<std::size_t>(sizeof bytes, value.ValueCapacity()));
  value.DataSize = size;
  value.Decimals = 0;
  return true;
}

void FillFromDefinition(TDataQuery::TUpdateField& field, TSourceTable& source, const TFieldDefinition& def) {
  field.Source = &source;
  field.ColumnName = def.Name.Str();
  field.CorrelationName = source.CorrelationName;
  field.FieldNumber = def.FieldNumber;
  field.DataType = def.DataType;
  field.SubType = def.SubType;
  field.Size = def.PhysicalSize;
  field.Decimals = def.PhysicalDecimals;
}

// The bytes a BLOB receives from a value: text without its final zero byte.
std::int32_t BlobByteCount(const TExpToken& value) {
  const bool text = value.DataType == dtString || (value.DataType == dtBlob && value.SubType == dstMemo) ||
                    (value.DataType == dtBlob && value.SubType == dstFormattedMemo);
  std::int32_t count = std::max<std::int32_t>(value.DataSize, 0);
  count = std::min<std::int32_t>(count, static_cast<std::int32_t>(value.ValueCapacity()));
  if (text) {
    count = static_cast<std::int32_t>(
        strnlen(reinterpret_cast<const char*>(value.ValueData()), static_cast<std::size_t>(count)));
  }
  return count;
}

}  // namespace

// --- preparation ------------------------------------------------------------------------------

void TDataQuery::VerifyUpdateFields(bool insert) {
  std::vector<TUpdateField> items;
  for (TUpdateField& item : UpdateFields) {
    const bool star = item.Column && item.Column->NodeClass == enFIELD && item.Column->FieldName == "*" &&
                      item.Column->TableName.empty();
    if (star) {
      if (!insert) RaiseSql(InvalidColumnMessage("*", item.CorrelationName, kTableColumns));
      TDataCursor& cursor = *TargetTable->Cursor;
      for (std::uint16_t f = 1; f <= cursor.GetPhysicalFieldCount(); ++f) {
        TFieldDefinition def;
        cursor.GetPhysicalFieldDefinition(f, def);
        TUpdateField column;
        FillFromDefinition(column, *TargetTable, def);
        column.ColumnText = column.ColumnName;
        items.push_back(std::move(column));
      }
      continue;
    }
    // The column's table: the one its correlation name names, else the
    // updated table, else (for the message) the first table having it.
    TSourceTable* source = nullptr;
    TFieldDefinition def{};
    if (item.Column && item.Column->NodeClass == enFIELD) {
      if (!item.CorrelationName.empty()) {
        TSourceTable* named = FindSourceTable(item.CorrelationName);
        if (named != nullptr && FindPhysicalField(*named->Cursor, item.ColumnName, def)) source = named;
      } else if (FindPhysicalField(*TargetTable->Cursor, item.ColumnName, def)) {
        source = TargetTable;
      } else {
        for (const auto& table : SourceTables) {
          if (FindPhysicalField(*table->Cursor, item.ColumnName, def)) {
            source = table.get();
            break;
          }
        }
      }
    }
    if (source == nullptr) RaiseSql(InvalidColumnMessage(item.ColumnName, item.CorrelationName, kTableColumns));
    // Every value is stored into the updated table's record: a column of
    // another table cannot be assigned.
    if (source != TargetTable) {
      RaiseSql("Column " + Quote(source->CorrelationName + "." + def.Name.Str()) +
               " cannot be assigned: only columns of table " + Quote(TargetTable->CorrelationName) + " can be changed");
    }
    const std::string written = item.ColumnText;
    TExpTokenPtr column = std::move(item.Column);
    FillFromDefinition(item, *source, def);
    item.ColumnText = written;
    item.Column = std::move(column);
    items.push_back(std::move(item));
  }
  UpdateFields = std::move(items);
  if (UpdateFields.size() != UpdateValues.size())
    RaiseSql("The number of values must match the number of table columns");
}

void TDataQuery::VerifyUpdateValues() {
  for (std::size_t i = 0; i < UpdateValues.size(); ++i) {
    TUpdateValue& item = UpdateValues[i];
    const TUpdateField& field = UpdateFields[i];
    TExpToken& value = *item.Expression;
    if (!SubSelectInsert) {
      const bool lookup = Kind == skUpdate;
      VerifyExpressionToken(TARN_SQLPARSE, statement_.Directory().Name(), {}, false,
                            lookup ? &VerifyExpressionFieldData : nullptr, this, nullptr, value, kUpdateValues);
    }
    if (value.NodeClass != enCONST || value.DataType == field.DataType || value.IsNull || value.IsParameter) {
      continue;
    }
    if (IsTemporalType(field.DataType) && value.DataType == dtString) {
      if (!ConvertTemporalConstant(value, field.DataType, field.Size)) {
        RaiseSql("Date, time, or timestamp expression expected, instead found " +
                 Quote(ValueDisplayText(value, item.ValueText)) + " in update values");
      }
      continue;
    }
    if (!CheckBinaryTypes(eoEQ, field.DataType, field.SubType, value.SubType, value.DataType)) {
      RaiseSql("Type mismatch between column " + Quote(field.ColumnName) + " and constant " +
               Quote(ValueDisplayText(value, item.ValueText)) + " in update values");
    }
  }
}

void TDataQuery::ProcessSubSelectUpdateValues() {
  UpdateValues.clear();
  for (const TResultField& column : InsertSelect->ResultFields) {
    TUpdateValue value;
    value.ValueText = column.ExpressionText;
    value.Expression = GetNewExpTokenInstance();
    TExpToken& node = *value.Expression;
    node.NodeClass = enFIELD;
    node.Text = column.Name;
    node.FieldName = column.Name;
    node.FieldNumber = column.Number;
    node.DataType = column.DataType;
    node.SubType = column.SubType;
    node.DataSize = column.Size;
    node.Decimals = column.Decimals;
    UpdateValues.push_back(std::move(value));
  }
}

// --- execution ---------------------------------------------------------------------------------

void StoreUpdateValue(TDataCursor& cursor, std::uint8_t* record, const TDataQuery::TUpdateField& field,
                      const TExpToken& value, std::string_view valueText, const TStoreValueOptions& options) {
  if (value.IsNull) {
    cursor.PutField(field.FieldNumber, record, nullptr);
    return;
  }
  if (field.DataType == dtBlob) {
    const auto check = [&](std::uint16_t code) {
      if (code != 0) RaiseError(code, {}, {}, {}, cursor.TableName(), {}, {}, {});
    };
    check(cursor.OpenBlob(field.FieldNumber, record, 0, /*physical=*/true, /*owner=*/true));
    if (options.TruncateBlob) check(cursor.TruncateBlob(field.FieldNumber, record, /*physical=*/true, 0));
    const std::int32_t count = BlobByteCount(value);
    if (count > 0) check(cursor.PutBlob(field.FieldNumber, record, /*physical=*/true, count, value.ValueData(), 0));
    return;
  }
  std::uint8_t work[kConvertBufferSize] = {};
  std::memcpy(work, value.ValueData(), std::min(value.ValueCapacity(), kConvertBufferSize));
  if (value.DataType != field.DataType) {
    const TConversionResult result = ConvertValue(value.DataType, value.DataSize, value.Decimals, work, sizeof work,
                                                  field.Decimals, field.Size, field.DataType);
    if (result == TConversionResult::DoesNotFit) {
      RaiseSql("Value " + std::string(valueText) + " does not fit column " + field.ColumnName + " in " +
               std::string(options.Statement) + " statement");
    }
    if (result != TConversionResult::Converted) {
      RaiseSql("Type mismatch between column " + field.ColumnName + " and constant value " + std::string(valueText) +
               " in " + std::string(options.Statement) + " statement");
    }
  }
  // Text longer than the column is cut to it, keeping the final zero byte.
  if (field.DataType == dtString && field.Size > 0 && static_cast<std::size_t>(field.Size) <= sizeof work) {
    work[field.Size - 1] = 0;
  }
  cursor.PutField(field.FieldNumber, record, work);
}

}  // namespace tarn
