// Records for evaluation tests: column values by field number of the default
// test columns (missing columns are NULL), the field callback that reads
// them, value builders and a printer of result nodes.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "expression_test_support.h"
#include "expressions/ansi_text_forms.h"
#include "expressions/bcd_values.h"
#include "expressions/expression_evaluator.h"

namespace tarn::testing_support {

// Field numbers of DefaultColumns().
namespace col {
constexpr std::uint16_t kName = 1, kCity = 2, kAge = 3, kActive = 4, kBirth = 5, kStart = 6, kStamp = 7,
                        kPrice = 8, kAmount = 9, kSmall = 10, kNotes = 11, kBig = 13, kW = 14, kRatio = 15,
                        kCode = 16;
}

struct TTestRecord {
  std::map<std::uint16_t, std::vector<std::uint8_t>> Values;
  TTestRecord& Set(std::uint16_t field, std::vector<std::uint8_t> bytes) {
    Values[field] = std::move(bytes);
    return *this;
  }
};

inline void ReadTestField(void* context, const std::uint8_t*, TExpToken& result) {
  auto* record = static_cast<TTestRecord*>(context);
  auto it = record->Values.find(result.FieldNumber);
  result.IsNull = it == record->Values.end();
  if (result.IsNull) {
    std::fill(result.Value.begin(), result.Value.begin() + 256, std::uint8_t{0});
    return;
  }
  result.SetDataSize(std::max<std::int32_t>(result.DataSize, static_cast<std::int32_t>(it->second.size())));
  std::memcpy(result.Value.data(), it->second.data(), it->second.size());
  if (result.DataType == dtBlob) result.DataSize = static_cast<std::int32_t>(it->second.size());
}

template <typename T>
std::vector<std::uint8_t> Bytes(T v) {
  std::vector<std::uint8_t> b(sizeof(T));
  std::memcpy(b.data(), &v, sizeof(T));
  return b;
}

inline std::vector<std::uint8_t> TextBytes(const std::string& s) {
  std::vector<std::uint8_t> b(s.begin(), s.end());
  b.push_back(0);
  return b;
}

// A BCD record from currency text ("12.34").
inline std::vector<std::uint8_t> BcdBytes(const std::string& text, std::uint8_t decimals = 2) {
  std::vector<std::uint8_t> b(34);
  FixedToBcd(StrToAnsiCurr(text), decimals, b.data());
  return b;
}

inline std::vector<std::uint8_t> DateBytes(const std::string& text) { return Bytes<std::int32_t>(StrToAnsiDate(text)); }
inline std::vector<std::uint8_t> TimeBytes(const std::string& text) { return Bytes<std::int32_t>(StrToAnsiTime(text)); }
inline std::vector<std::uint8_t> StampBytes(const std::string& text) { return Bytes<double>(StrToAnsiDateTime(text)); }

template <typename T>
T ValueAs(const TExpToken& v) {
  T x{};
  std::memcpy(&x, v.Value.data(), sizeof x);
  return x;
}

// Values as text, by their result type: NULL, true/false, 'text', numbers,
// ANSI date, time and timestamp forms, BCD as currency text.
inline std::string Show(const TExpToken& v) {
  if (v.IsNull) return "NULL";
  switch (v.DataType) {
    case dtBoolean: return ValueAs<std::uint16_t>(v) ? "true" : "false";
    case dtString: return "'" + v.StringValue() + "'";
    case dtBlob: return "'" + std::string(reinterpret_cast<const char*>(v.Value.data()), v.StringLength()) + "'";
    case dtSmallInt: return std::to_string(ValueAs<std::int16_t>(v));
    case dtWord: return std::to_string(ValueAs<std::uint16_t>(v));
    case dtInteger: return std::to_string(ValueAs<std::int32_t>(v));
    case dtLargeInt: return std::to_string(ValueAs<std::int64_t>(v));
    case dtFloat: return AnsiFloatToStr(ValueAs<double>(v));
    case dtDate: return AnsiDateToStr(ValueAs<std::int32_t>(v));
    case dtTime: return AnsiTimeToStr(ValueAs<std::int32_t>(v));
    case dtTimeStamp: return AnsiDateTimeToStr(ValueAs<double>(v));
    case dtBCD: {
      std::int64_t fixed = 0;
      if (!BcdToFixed(v.Value.data(), fixed)) return "bad bcd";
      return "bcd " + AnsiCurrToStr(fixed);
    }
    default: return "?";
  }
}

// Parses, verifies and evaluates a filter text against the record; parse
// and engine errors come back as "error: " + the error's text.
inline std::string EvaluateText(const std::string& text, TTestRecord record, std::uint16_t languageID = 0) {
  auto outcome = ParseText(text, {.Verify = true});
  if (!outcome.Root) return "error: " + outcome.Text;
  try {
    TExpTokenPtr value = EvaluateExpressionToken(*outcome.Root, nullptr, &record, ReadTestField, 0, languageID);
    return Show(*value);
  } catch (const ETarnEngineError& error) {
    return "error: " + error.ErrorText();
  }
}

}  // namespace tarn::testing_support
