// Result values as text for the tarn shell: the engine's literal forms per data
// type, CSV quoting, cells read from a result cursor with their BLOBs, and the
// two layouts of a whole result.
#include "tools/result_text.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <ostream>
#include <string_view>
#include <vector>

#include "core/errors.h"
#include "expressions/ansi_text_forms.h"
#include "expressions/bcd_values.h"
#include "expressions/expression_types.h"
#include "storage/formats/data_types.h"

namespace tarn::tools {

namespace {

template <class T>
T Load(const std::uint8_t* bytes) noexcept {
  T value;
  std::memcpy(&value, bytes, sizeof value);
  return value;
}

template <class T>
std::string IntegerText(T value) {
  char buffer[32];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  return std::string(buffer, result.ptr);
}

std::string HexText(const std::uint8_t* bytes, std::size_t count) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string text;
  text.reserve(count * 2);
  for (std::size_t i = 0; i < count; ++i) {
    text += kDigits[bytes[i] >> 4];
    text += kDigits[bytes[i] & 0x0F];
  }
  return text;
}

// The 10-byte extended float (64-bit mantissa with its integer bit, 15-bit
// exponent biased by 16383, sign bit) as the nearest double.
double ExtendedToDouble(const std::uint8_t* bytes) noexcept {
  const auto mantissa = Load<std::uint64_t>(bytes);
  const auto signExponent = Load<std::uint16_t>(bytes + 8);
  const bool negative = (signExponent & 0x8000) != 0;
  const int exponent = signExponent & 0x7FFF;
  double value;
  if (exponent == 0x7FFF) {
    value = (mantissa << 1) == 0 ? std::numeric_limits<double>::infinity() : std::numeric_limits<double>::quiet_NaN();
  } else {
    // Denormals use the exponent of the smallest normal number.
    const int unbiased = (exponent == 0 ? 1 : exponent) - 16383 - 63;
    value = std::ldexp(static_cast<double>(mantissa), unbiased);
  }
  return negative ? -value : value;
}

// A BCD record that does not fit the 4-decimal fixed point of the engine's
// arithmetic, written digit by digit: sign, integer digits without leading
// zeros, and the fraction without trailing zeros.
std::string BcdDigitsText(const std::uint8_t* bcd) {
  const unsigned precision = bcd[0];
  const unsigned places = bcd[1] & 0x3F;
  if (precision > 64 || places > precision) return "(invalid BCD)";
  std::string digits;
  for (unsigned i = 0; i < precision; ++i) {
    const std::uint8_t b = bcd[2 + i / 2];
    const unsigned digit = (i % 2 == 0) ? (b >> 4) : (b & 0x0F);
    if (digit > 9) return "(invalid BCD)";
    digits += static_cast<char>('0' + digit);
  }
  std::string whole = digits.substr(0, precision - places);
  std::string fraction = digits.substr(precision - places);
  whole.erase(0, std::min(whole.find_first_not_of('0'), whole.size()));
  if (whole.empty()) whole = "0";
  fraction.erase(fraction.find_last_not_of('0') + 1);
  std::string text = (bcd[1] & 0x80) != 0 && (whole != "0" || !fraction.empty()) ? "-" : "";
  text += whole;
  if (!fraction.empty()) text += "." + fraction;
  return text;
}

std::string BcdText(const std::uint8_t* bcd) {
  std::int64_t fixed = 0;
  if (BcdToFixed(bcd, fixed)) return AnsiCurrToStr(fixed);
  return BcdDigitsText(bcd);
}

// Frees a BLOB opened for reading whatever way the read ends.
class TOpenBlobScope {
 public:
  TOpenBlobScope(TDataCursor& cursor, std::uint16_t field, std::uint8_t* record)
      : cursor_(cursor), field_(field), record_(record) {}
  ~TOpenBlobScope() { cursor_.FreeBlob(field_, record_, /*physical=*/false, /*owner=*/true); }
  TOpenBlobScope(const TOpenBlobScope&) = delete;
  TOpenBlobScope& operator=(const TOpenBlobScope&) = delete;

 private:
  TDataCursor& cursor_;
  std::uint16_t field_;
  std::uint8_t* record_;
};

[[noreturn]] void RaiseBlobError(TDataCursor& cursor, std::uint16_t code, const TFieldDefinition& def) {
  RaiseError(code, {}, {}, cursor.Directory().Path(), cursor.TableName(), def.Name.View());
}

constexpr std::string_view kColumnGap = "  ";

void WriteAligned(const std::vector<std::string>& names, const std::vector<bool>& rightAligned,
                  const std::vector<std::vector<TCellText>>& rows, std::ostream& out) {
  const std::size_t count = names.size();
  std::vector<std::size_t> widths(count);
  for (std::size_t f = 0; f < count; ++f) {
    widths[f] = names[f].size();
    for (const auto& row : rows) widths[f] = std::max(widths[f], row[f].Text.size());
  }
  // Cells padded to their column's width; a line's trailing blanks go.
  auto writeLine = [&](auto&& cellText, auto&& alignRight) {
    std::string line;
    for (std::size_t f = 0; f < count; ++f) {
      if (f > 0) line += kColumnGap;
      const std::string& text = cellText(f);
      const std::string padding(widths[f] - std::min(widths[f], text.size()), ' ');
      line += alignRight(f) ? padding + text : text + padding;
    }
    line.erase(line.find_last_not_of(' ') + 1);
    out << line << '\n';
  };
  auto left = [](std::size_t) { return false; };
  writeLine([&](std::size_t f) -> const std::string& { return names[f]; }, left);
  std::vector<std::string> dashes(count);
  for (std::size_t f = 0; f < count; ++f) dashes[f].assign(widths[f], '-');
  writeLine([&](std::size_t f) -> const std::string& { return dashes[f]; }, left);
  for (const auto& row : rows) {
    writeLine([&](std::size_t f) -> const std::string& { return row[f].Text; },
              [&](std::size_t f) { return static_cast<bool>(rightAligned[f]); });
  }
}

}  // namespace

std::string FieldValueText(const TFieldDefinition& def, const std::uint8_t* value) {
  switch (def.DataType) {
    case dtString: {
      const auto* text = reinterpret_cast<const char*>(value);
      return std::string(text, strnlen(text, def.PhysicalSize));
    }
    case dtDate:
      return AnsiDateToStr(Load<std::int32_t>(value));
    case dtTime:
      return AnsiTimeToStr(Load<std::int32_t>(value));
    case dtTimeStamp:
      return AnsiDateTimeToStr(Load<double>(value));
    case dtBoolean:
      return AnsiBooleanToStr(Load<std::uint16_t>(value) != 0);
    case dtSmallInt:
      return IntegerText(Load<std::int16_t>(value));
    case dtInteger:
      return IntegerText(Load<std::int32_t>(value));
    case dtWord:
      return IntegerText(Load<std::uint16_t>(value));
    case dtCardinal:
      return IntegerText(Load<std::uint32_t>(value));
    case dtLargeInt:
      return IntegerText(Load<std::int64_t>(value));
    case dtFloat:
      return AnsiFloatToStr(Load<double>(value));
    case dtExtended:
      return AnsiFloatToStr(ExtendedToDouble(value));
    case dtBCD:
      return BcdText(value);
    case dtBlob:
      return "(BLOB)";
    default:
      return HexText(value, def.PhysicalSize);
  }
}

std::string CsvField(const TCellText& cell) {
  if (cell.IsNull) return {};
  if (cell.Text.find_first_of(",\"\r\n") == std::string::npos) return cell.Text;
  std::string quoted = "\"";
  for (const char c : cell.Text) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  quoted += '"';
  return quoted;
}

TCellText ReadResultCell(TDataCursor& cursor, std::uint16_t field, const TFieldDefinition& def, std::uint8_t* record) {
  // Large enough for every fixed-size value and the longest string.
  std::array<std::uint8_t, 264> value{};
  bool isNull = false;
  cursor.GetField(field, record, value.data(), isNull);
  if (isNull) return {true, {}};
  if (def.DataType != dtBlob) return {false, FieldValueText(def, value.data())};

  std::uint16_t code = cursor.OpenBlob(field, record, 0, /*physical=*/false, /*owner=*/true);
  if (code != 0) RaiseBlobError(cursor, code, def);
  TOpenBlobScope scope(cursor, field, record);
  std::int32_t size = 0;
  code = cursor.GetBlobSize(field, record, false, size);
  if (code != 0) RaiseBlobError(cursor, code, def);
  if (!IsMemoType(def.DataType, def.SubType)) return {false, "(BLOB " + IntegerText(size) + " bytes)"};
  std::string text(static_cast<std::size_t>(size), '\0');
  std::int32_t read = 0;
  code = cursor.GetBlob(field, record, false, read, size, reinterpret_cast<std::uint8_t*>(text.data()), 0);
  if (code != 0) RaiseBlobError(cursor, code, def);
  text.resize(static_cast<std::size_t>(read));
  return {false, std::move(text)};
}

bool IsNumericType(std::uint8_t dataType) noexcept {
  switch (dataType) {
    case dtSmallInt:
    case dtInteger:
    case dtWord:
    case dtCardinal:
    case dtLargeInt:
    case dtFloat:
    case dtExtended:
    case dtBCD:
      return true;
    default:
      return false;
  }
}

void WriteResult(TDataCursor& cursor, TResultStyle style, std::ostream& out) {
  const std::uint16_t count = cursor.GetFieldCount();
  std::vector<TFieldDefinition> defs(count);
  std::vector<std::string> names(count);
  std::vector<bool> rightAligned(count);
  for (std::uint16_t i = 0; i < count; ++i) {
    cursor.GetFieldDefinition(static_cast<std::uint16_t>(i + 1), defs[i]);
    names[i] = defs[i].Name.Str();
    rightAligned[i] = IsNumericType(defs[i].DataType);
  }
  std::vector<std::uint8_t> record(cursor.GetRecordBufferSize());
  auto readRow = [&] {
    std::vector<TCellText> row(count);
    for (std::uint16_t i = 0; i < count; ++i)
      row[i] = ReadResultCell(cursor, static_cast<std::uint16_t>(i + 1), defs[i], record.data());
    return row;
  };
  cursor.SetToBegin();
  if (style == TResultStyle::Csv) {
    // Rows are written as they are read.
    for (std::size_t i = 0; i < count; ++i) out << (i > 0 ? "," : "") << CsvField({false, names[i]});
    out << '\n';
    while (cursor.GetNextRecord(record.data()) == 0) {
      const std::vector<TCellText> row = readRow();
      for (std::size_t i = 0; i < count; ++i) out << (i > 0 ? "," : "") << CsvField(row[i]);
      out << '\n';
    }
    return;
  }
  std::vector<std::vector<TCellText>> rows;
  while (cursor.GetNextRecord(record.data()) == 0) rows.push_back(readRow());
  WriteAligned(names, rightAligned, rows, out);
}

}  // namespace tarn::tools
