// Result values as the tarn shell prints them: every engine data
// type in the engine's own literal forms (dates, times, timestamps, booleans,
// floats and BCD as the ANSI text forms, integers in decimal, strings as the
// bytes stored), CSV fields quoted as RFC 4180 asks, result cells read from a
// cursor (BLOBs included), and whole results as aligned columns or CSV.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <string>
#include <string_view>

#include "cursor/data_cursor.h"
#include "storage/formats/field_definition.h"

namespace tarn::tools {

// One cell of a result row: NULL or its text.
struct TCellText {
  bool IsNull = false;
  std::string Text;
};

// The text of a value that is not NULL, value holding the field's bytes as
// TDataCursor::GetField gives them (PhysicalSize bytes). Strings stop at their
// first zero byte; bytes show as upper-case hexadecimal pairs; a BLOB field
// (whose bytes are only a reference) gives "(BLOB)": ReadResultCell reads the
// contents.
std::string FieldValueText(const TFieldDefinition& def, const std::uint8_t* value);

// A CSV field: NULL is the empty unquoted field; a text holding a comma, a
// double quote, CR or LF is put in double quotes with every quote doubled;
// anything else is written as it is.
std::string CsvField(const TCellText& cell);

// The cell of logical field `field` in record, read through the cursor the
// record came from. A memo BLOB gives its text; any other BLOB
// "(BLOB n bytes)". The record buffer is the caller's copy: opening a BLOB
// writes a handle into it, which is freed again before returning.
TCellText ReadResultCell(TDataCursor& cursor, std::uint16_t field, const TFieldDefinition& def, std::uint8_t* record);

// Whether values of the type read as numbers (aligned right in a table).
bool IsNumericType(std::uint8_t dataType) noexcept;

enum class TResultStyle : std::uint8_t {
  // A header of column names, a line of dashes, then the rows, each column as
  // wide as its widest text (in bytes); numbers aligned right, NULL empty.
  Aligned,
  // A header line of column names, then one line per row (CsvField).
  Csv,
};

// Writes every row of the cursor from its beginning in the style.
void WriteResult(TDataCursor& cursor, TResultStyle style, std::ostream& out);

}  // namespace tarn::tools
