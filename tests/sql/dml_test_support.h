// Helpers of the data-changing statement tests: a table's rows read through a
// cursor as text (every column type, BLOB contents included) and the message
// a statement raises.
#pragma once

#include <string>
#include <vector>

#include "expressions/ansi_text_forms.h"
#include "expressions/bcd_values.h"
#include "sql_fixture.h"
#include "support/raised_code.h"

namespace tarn::sql_testing {

// The text of one column value of a record.
inline std::string ColumnText(TDataCursor& cursor, const TFieldDefinition& def, std::uint8_t* record) {
  if (def.DataType == dtBlob) {
    if (record[def.FieldOffset] == 0) return "NULL";
    if (cursor.OpenBlob(def.FieldNumber, record, 0, /*physical=*/true, /*owner=*/true) != 0) return "BLOB?";
    std::int32_t size = 0;
    cursor.GetBlobSize(def.FieldNumber, record, true, size);
    std::string bytes(static_cast<std::size_t>(size), '\0');
    std::int32_t read = 0;
    if (size > 0) {
      cursor.GetBlob(def.FieldNumber, record, true, read, size, reinterpret_cast<std::uint8_t*>(bytes.data()), 0);
    }
    cursor.FreeBlob(def.FieldNumber, record, true, true);
    bytes.resize(static_cast<std::size_t>(read));
    return bytes;
  }
  std::uint8_t value[512] = {};
  bool isNull = false;
  cursor.GetPhysicalField(def.FieldNumber, record, value, isNull);
  if (isNull) return "NULL";
  switch (def.DataType) {
    case dtDate: {
      std::int32_t day = 0;
      std::memcpy(&day, value, 4);
      return AnsiDateToStr(day);
    }
    case dtTime: {
      std::int32_t ms = 0;
      std::memcpy(&ms, value, 4);
      return AnsiTimeToStr(ms);
    }
    case dtTimeStamp: {
      double stamp = 0;
      std::memcpy(&stamp, value, 8);
      return AnsiDateTimeToStr(stamp);
    }
    case dtBCD: {
      std::int64_t fixed = 0;
      if (!BcdToFixed(value, fixed)) return "BCD?";
      return AnsiFloatToStr(FixedToFloat(fixed));
    }
    default:
      return SqlDatabase::CellText(def, value);
  }
}

// Every row of the table in its primary order (physical order without one),
// the named columns only when columns is not empty.
inline std::vector<TextRow> DumpTable(TDataDirectory& directory, const std::string& table,
                                      const std::vector<std::string>& columns = {}) {
  TDataCursor cursor(directory);
  cursor.SetTableName(table);
  cursor.OpenCursor();
  std::vector<TFieldDefinition> defs;
  for (std::uint16_t f = 1; f <= cursor.GetPhysicalFieldCount(); ++f) {
    TFieldDefinition def;
    cursor.GetPhysicalFieldDefinition(f, def);
    if (!columns.empty()) {
      bool wanted = false;
      for (const std::string& name : columns) wanted = wanted || name == def.Name.Str();
      if (!wanted) continue;
    }
    defs.push_back(def);
  }
  std::vector<TextRow> rows;
  std::vector<std::uint8_t> record(cursor.GetRecordBufferSize());
  cursor.SetToBegin();
  while (cursor.GetNextRecord(record.data()) == 0) {
    TextRow row;
    for (const TFieldDefinition& def : defs) row.push_back(ColumnText(cursor, def, record.data()));
    rows.push_back(std::move(row));
  }
  cursor.CloseCursor();
  return rows;
}

// The text of the TARN_SQLPARSE error the statement raises; "no error" when it
// runs, the code and text of any other engine error.
inline std::string MessageOf(SqlDatabase& db, const std::string& sql) {
  try {
    db.Query(sql);
  } catch (const ETarnEngineError& e) {
    if (e.ErrorCode() != TARN_SQLPARSE) return "code " + std::to_string(e.ErrorCode()) + ": " + e.Message();
    return e.ErrorText();
  }
  return "no error";
}

}  // namespace tarn::sql_testing
