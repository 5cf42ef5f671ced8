// Field values: reading the engine format into text and numbers and back.
#include "components/field.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

#include "components/db_messages.h"
#include "core/errors.h"
#include "expressions/ansi_text_forms.h"
#include "expressions/bcd_values.h"
#include "platform/code_page.h"
#include "platform/exception.h"

namespace tarn {

namespace {

constexpr std::size_t kValueBufferSize = 256;

template <class T>
T Load(const std::uint8_t* p) {
  T value;
  std::memcpy(&value, p, sizeof value);
  return value;
}

template <class T>
void Store(std::uint8_t* p, T value) {
  std::memcpy(p, &value, sizeof value);
}

[[noreturn]] void InvalidInteger(const std::string& text) {
  throw EConvertError(FormatMessage(db_messages::kInvalidInteger, text));
}

// The whole text as an integer of type T, or the conversion error.
template <typename T>
T WholeInteger(const std::string& text) {
  T value = 0;
  const auto r = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || r.ec != std::errc() || r.ptr != text.data() + text.size()) InvalidInteger(text);
  return value;
}

}  // namespace

std::string FormatFloatGeneral(double value) {
  if (std::isnan(value)) return "NAN";
  if (std::isinf(value)) return value > 0 ? "INF" : "-INF";
  if (value == 0) return "0";
  // Fifteen significant digits, then the decimal exponent decides the notation.
  char buffer[64];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::scientific, 14);
  std::string_view sci(buffer, static_cast<std::size_t>(result.ptr - buffer));
  const bool negative = sci.front() == '-';
  if (negative) sci.remove_prefix(1);
  const std::size_t e = sci.find('e');
  std::string digits;
  for (char c : sci.substr(0, e))
    if (c != '.') digits += c;
  int exponent = 0;
  std::string_view expText = sci.substr(e + 1);
  if (!expText.empty() && expText.front() == '+') expText.remove_prefix(1);
  std::from_chars(expText.data(), expText.data() + expText.size(), exponent);
  while (digits.size() > 1 && digits.back() == '0') digits.pop_back();
  std::string text = negative ? "-" : "";
  if (exponent >= 15 || std::fabs(value) < 0.00001) {
    text += digits[0];
    if (digits.size() > 1) text += "." + digits.substr(1);
    text += "E" + IntToStr(exponent);
  } else if (exponent < 0) {
    text += "0." + std::string(static_cast<std::size_t>(-exponent - 1), '0') + digits;
  } else {
    const auto whole = static_cast<std::size_t>(exponent) + 1;
    if (digits.size() <= whole) {
      text += digits + std::string(whole - digits.size(), '0');
    } else {
      text += digits.substr(0, whole) + "." + digits.substr(whole);
    }
  }
  return text;
}

std::int32_t RoundToInteger(double value, const std::string& text) {
  const double rounded = std::nearbyint(value);  // the default mode rounds halves to even
  if (!(rounded >= -2147483648.0 && rounded <= 2147483647.0)) InvalidInteger(text);
  return static_cast<std::int32_t>(rounded);
}

std::int32_t StrToInt(const std::string& text) {
  std::size_t start = 0;
  while (start < text.size() && text[start] == ' ') ++start;
  const char* first = text.data() + start;
  const char* last = text.data() + text.size();
  if (first != last && *first == '+') ++first;
  std::int32_t value = 0;
  const auto result = std::from_chars(first, last, value);
  if (result.ec != std::errc() || result.ptr != last || first == last) InvalidInteger(text);
  return value;
}

TField::TField(TFieldDataLink& link, const TFieldDef& def, int index) : link_(link), def_(def), index_(index) {}

bool TField::Read(std::uint8_t* buffer) const {
  std::memset(buffer, 0, kValueBufferSize);
  return link_.GetFieldData(*this, buffer);
}

void TField::Write(const std::uint8_t* buffer) { link_.SetFieldData(*this, buffer); }

void TField::AccessError(const char* typeName) const {
  throw EDatabaseError(FormatMessage(db_messages::kFieldAccess, def_.Name, typeName));
}

bool TField::IsNull() const {
  if (IsBlob()) {
    std::uint8_t buffer[kValueBufferSize];
    return !Read(buffer);
  }
  std::uint8_t buffer[kValueBufferSize];
  return !Read(buffer);
}

std::string TField::AsString() const {
  if (IsBlob()) return IsNull() ? std::string() : link_.GetBlobData(*this);
  std::uint8_t v[kValueBufferSize];
  if (!Read(v)) return {};
  switch (def_.Engine.DataType) {
    case dtString: {
      const std::size_t limit = std::min<std::size_t>(def_.Engine.PhysicalSize, kValueBufferSize);
      const auto* chars = reinterpret_cast<const char*>(v);
      return std::string(chars, strnlen(chars, limit));
    }
    case dtSmallInt:
      return IntToStr(Load<std::int16_t>(v));
    case dtWord:
      return IntToStr(Load<std::uint16_t>(v));
    case dtInteger:
      return IntToStr(Load<std::int32_t>(v));
    case dtCardinal:
      return IntToStr(Load<std::uint32_t>(v));
    case dtLargeInt:
      return IntToStr(Load<std::int64_t>(v));
    case dtFloat:
      return FormatFloatGeneral(Load<double>(v));
    case dtBCD: {
      std::int64_t fixed = 0;
      if (!BcdToFixed(v, fixed)) return {};
      return FixedToText(fixed);
    }
    case dtBoolean:
      return AnsiBooleanToStr(Load<std::uint16_t>(v) != 0);
    case dtDate:
      return AnsiDateToStr(Load<std::int32_t>(v));
    case dtTime:
      return AnsiTimeToStr(Load<std::int32_t>(v));
    case dtTimeStamp:
      return AnsiDateTimeToStr(Load<double>(v));
    case dtBytes:
    case dtVarBytes:
      return std::string(reinterpret_cast<const char*>(v),
                         std::min<std::size_t>(def_.Engine.PhysicalSize, kValueBufferSize));
    default:
      return {};
  }
}

std::int32_t TField::AsInteger() const {
  if (IsBlob()) AccessError("Integer");
  std::uint8_t v[kValueBufferSize];
  const bool present = Read(v);
  switch (def_.Engine.DataType) {
    case dtString:
      return StrToInt(AsString());
    case dtSmallInt:
      return present ? Load<std::int16_t>(v) : 0;
    case dtWord:
      return present ? Load<std::uint16_t>(v) : 0;
    case dtInteger:
      return present ? Load<std::int32_t>(v) : 0;
    // Unsigned 32-bit and 64-bit values give their low 32 bits.
    case dtCardinal:
      return present ? static_cast<std::int32_t>(Load<std::uint32_t>(v)) : 0;
    case dtLargeInt:
      return present ? static_cast<std::int32_t>(static_cast<std::uint32_t>(Load<std::int64_t>(v))) : 0;
    case dtFloat:
      return present ? RoundToInteger(Load<double>(v), AsString()) : 0;
    case dtBCD: {
      if (!present) return 0;
      std::int64_t fixed = 0;
      if (!BcdToFixed(v, fixed)) return 0;
      return RoundToInteger(static_cast<double>(fixed) / static_cast<double>(kBcdScale), AsString());
    }
    default:
      AccessError("Integer");
  }
}

std::int64_t TField::AsLargeInt() const {
  if (IsBlob()) AccessError("LargeInt");
  std::uint8_t v[kValueBufferSize];
  const bool present = Read(v);
  switch (def_.Engine.DataType) {
    case dtLargeInt:
      return present ? Load<std::int64_t>(v) : 0;
    case dtCardinal:
      return present ? Load<std::uint32_t>(v) : 0;
    case dtString: {
      const std::string text = AsString();
      std::int64_t value = 0;
      const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
      if (text.empty() || result.ec != std::errc() || result.ptr != text.data() + text.size()) InvalidInteger(text);
      return value;
    }
    default:
      return AsInteger();
  }
}

double TField::AsFloat() const {
  if (IsBlob()) AccessError("Float");
  std::uint8_t v[kValueBufferSize];
  const bool present = Read(v);
  switch (def_.Engine.DataType) {
    case dtFloat:
    case dtTimeStamp:
      return present ? Load<double>(v) : 0;
    case dtBCD: {
      std::int64_t fixed = 0;
      return present && BcdToFixed(v, fixed) ? FixedToFloat(fixed) : 0;
    }
    case dtString: {
      const std::string text = AsString();
      double value = 0;
      if (!TryStrToAnsiFloat(text, value)) throw EConvertError(FormatMessage(db_messages::kInvalidFloat, text));
      return value;
    }
    case dtBoolean:
      AccessError("Float");
    case dtLargeInt:
      return present ? static_cast<double>(Load<std::int64_t>(v)) : 0;
    case dtDate:
    case dtTime:
      return present ? Load<std::int32_t>(v) : 0;
    case dtBytes:
    case dtVarBytes:
      AccessError("Float");
    default:
      return AsInteger();
  }
}

bool TField::AsBoolean() const {
  std::uint8_t v[kValueBufferSize];
  switch (def_.Engine.DataType) {
    case dtBoolean:
      return Read(v) && Load<std::uint16_t>(v) != 0;
    case dtString: {
      const std::string text = AsString();
      if (AnsiSameText(text, "True")) return true;
      if (AnsiSameText(text, "False")) return false;
      throw EConvertError(FormatMessage(db_messages::kInvalidBoolean, text));
    }
    default:
      AccessError("Boolean");
  }
}

bool TField::EncodeText(const std::string& value, std::uint8_t* v) const {
  std::memset(v, 0, kValueBufferSize);
  switch (def_.Engine.DataType) {
    case dtString: {
      const std::size_t n = CutLength(value, def_.Engine.Size);
      std::memcpy(v, value.data(), n);
      return true;
    }
    case dtSmallInt: {
      const std::int32_t x = StrToInt(value);
      if (x < -32768 || x > 32767) InvalidInteger(value);
      Store(v, static_cast<std::int16_t>(x));
      return true;
    }
    case dtWord: {
      const std::int32_t x = StrToInt(value);
      if (x < 0 || x > 65535) InvalidInteger(value);
      Store(v, static_cast<std::uint16_t>(x));
      return true;
    }
    case dtInteger:
      Store(v, StrToInt(value));
      return true;
    case dtCardinal:
      Store(v, WholeInteger<std::uint32_t>(value));
      return true;
    case dtLargeInt:
      Store(v, WholeInteger<std::int64_t>(value));
      return true;
    case dtFloat: {
      double x = 0;
      if (!TryStrToAnsiFloat(value, x)) throw EConvertError(FormatMessage(db_messages::kInvalidFloat, value));
      Store(v, x);
      return true;
    }
    case dtBCD: {
      std::int64_t fixed = 0;
      if (!TextToFixed(value, fixed)) throw EConvertError(FormatMessage(db_messages::kInvalidFloat, value));
      FixedToBcd(fixed, def_.Engine.Decimals, v);
      return true;
    }
    case dtBoolean: {
      bool x = false;
      if (AnsiSameText(value, "True")) {
        x = true;
      } else if (!AnsiSameText(value, "False")) {
        throw EConvertError(FormatMessage(db_messages::kInvalidBoolean, value));
      }
      Store(v, static_cast<std::uint16_t>(x ? 1 : 0));
      return true;
    }
    case dtDate:
      Store(v, StrToAnsiDate(value));
      return true;
    case dtTime:
      Store(v, StrToAnsiTime(value));
      return true;
    case dtTimeStamp:
      Store(v, StrToAnsiDateTime(value));
      return true;
    case dtBytes:
    case dtVarBytes:
      std::memcpy(v, value.data(), std::min<std::size_t>(value.size(), def_.Engine.PhysicalSize));
      return true;
    default:
      return false;
  }
}

void TField::SetAsString(const std::string& value) {
  if (IsBlob()) {
    link_.SetBlobData(*this, value);
    return;
  }
  // The engine treats an empty text as null.
  if (value.empty()) {
    Clear();
    return;
  }
  std::uint8_t v[kValueBufferSize];
  if (!EncodeText(value, v)) AccessError("String");
  Write(v);
}

void TField::WriteInteger(std::int64_t value) {
  std::uint8_t v[kValueBufferSize] = {};
  const std::string text = IntToStr(value);
  switch (def_.Engine.DataType) {
    case dtSmallInt:
      if (value < -32768 || value > 32767) InvalidInteger(text);
      Store(v, static_cast<std::int16_t>(value));
      break;
    case dtWord:
      if (value < 0 || value > 65535) InvalidInteger(text);
      Store(v, static_cast<std::uint16_t>(value));
      break;
    case dtInteger:
      if (value < std::numeric_limits<std::int32_t>::min() || value > std::numeric_limits<std::int32_t>::max())
        InvalidInteger(text);
      Store(v, static_cast<std::int32_t>(value));
      break;
    case dtCardinal:
      if (value < 0 || value > 4294967295LL) InvalidInteger(text);
      Store(v, static_cast<std::uint32_t>(value));
      break;
    case dtLargeInt:
      Store(v, value);
      break;
    case dtFloat:
      Store(v, static_cast<double>(value));
      break;
    case dtBCD: {
      std::int64_t fixed = 0;
      if (!IntegerToFixed(value, fixed)) InvalidInteger(text);
      FixedToBcd(fixed, def_.Engine.Decimals, v);
      break;
    }
    case dtString:
      SetAsString(text);
      return;
    default:
      AccessError(value >= std::numeric_limits<std::int32_t>::min() && value <= std::numeric_limits<std::int32_t>::max()
                      ? "Integer"
                      : "LargeInt");
  }
  Write(v);
}

void TField::WriteFloat(double value) {
  std::uint8_t v[kValueBufferSize] = {};
  switch (def_.Engine.DataType) {
    case dtFloat:
    case dtTimeStamp:
      Store(v, value);
      break;
    case dtBCD: {
      std::int64_t fixed = 0;
      if (!FloatToFixed(value, fixed))
        throw EConvertError(FormatMessage(db_messages::kInvalidFloat, FormatFloatGeneral(value)));
      FixedToBcd(fixed, def_.Engine.Decimals, v);
      break;
    }
    case dtString:
      SetAsString(FormatFloatGeneral(value));
      return;
    case dtSmallInt:
    case dtWord:
    case dtInteger:
    case dtCardinal:
      WriteInteger(RoundToInteger(value, FormatFloatGeneral(value)));
      return;
    case dtLargeInt: {
      const double rounded = std::nearbyint(value);
      if (!(rounded >= -9.2233720368547758e18 && rounded < 9.2233720368547758e18))
        InvalidInteger(FormatFloatGeneral(value));
      Store(v, static_cast<std::int64_t>(rounded));
      break;
    }
    default:
      AccessError("Float");
  }
  Write(v);
}

void TField::SetAsInteger(std::int32_t value) { WriteInteger(value); }
void TField::SetAsLargeInt(std::int64_t value) { WriteInteger(value); }
void TField::SetAsFloat(double value) { WriteFloat(value); }

void TField::SetAsBoolean(bool value) {
  std::uint8_t v[kValueBufferSize] = {};
  switch (def_.Engine.DataType) {
    case dtBoolean:
      Store(v, static_cast<std::uint16_t>(value ? 1 : 0));
      break;
    case dtString:
      SetAsString(AnsiBooleanToStr(value));
      return;
    default:
      AccessError("Boolean");
  }
  Write(v);
}

void TField::Clear() {
  if (IsBlob()) {
    link_.SetBlobData(*this, {});
    return;
  }
  Write(nullptr);
}

}  // namespace tarn
