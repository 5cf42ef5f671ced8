// Reading and writing field values in record buffers, defaults and limits.
#include "cursor/field_access.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>
#include <string>

#include "core/errors.h"
#include "expressions/ansi_text_forms.h"
#include "expressions/bcd_values.h"
#include "expressions/date_time_values.h"
#include "expressions/text_code_page.h"
#include "platform/code_page.h"
#include "platform/exception.h"
#include "storage/formats/byte_codec.h"
#include "storage/formats/data_types.h"
#include "storage/keys/key_encoding.h"

namespace tarn {

namespace {

// Day number of 1899-12-30, the day a time of day is placed on when it is
// compared as a date-time.
constexpr std::int64_t kTimeOfDayBaseDay = 693594;
constexpr std::size_t kBlobHandleBytes = 4;

std::int16_t LoadI16(const std::uint8_t* p) noexcept { return static_cast<std::int16_t>(codec::GetU16(p, 0)); }
std::uint16_t LoadU16(const std::uint8_t* p) noexcept { return codec::GetU16(p, 0); }
std::int32_t LoadI32(const std::uint8_t* p) noexcept { return codec::GetI32(p, 0); }
std::int64_t LoadI64(const std::uint8_t* p) noexcept {
  return static_cast<std::int64_t>(codec::GetU32(p, 0) | (static_cast<std::uint64_t>(codec::GetU32(p, 4)) << 32));
}
double LoadF64(const std::uint8_t* p) noexcept { return codec::GetF64(p, 0); }

void StoreI64(std::uint8_t* p, std::int64_t v) noexcept {
  const auto bits = static_cast<std::uint64_t>(v);
  codec::PutU32(p, 0, static_cast<std::uint32_t>(bits));
  codec::PutU32(p, 4, static_cast<std::uint32_t>(bits >> 32));
}

[[noreturn]] void ConvertError(std::string_view text, std::string_view what) {
  std::string message = "'";
  message.append(text);
  message += "' is not a valid ";
  message.append(what);
  throw EConvertError(message);
}

// The integer of a text when it fits the field's width.
std::int64_t ReadIntegerText(std::string_view text, std::uint8_t dataType) {
  std::int64_t value = 0;
  std::int64_t low = std::numeric_limits<std::int64_t>::min();
  std::int64_t high = std::numeric_limits<std::int64_t>::max();
  switch (dataType) {
    case dtSmallInt: low = std::numeric_limits<std::int16_t>::min(); high = std::numeric_limits<std::int16_t>::max(); break;
    case dtInteger: low = std::numeric_limits<std::int32_t>::min(); high = std::numeric_limits<std::int32_t>::max(); break;
    case dtWord: low = 0; high = std::numeric_limits<std::uint16_t>::max(); break;
    default: break;
  }
  if (!TryStrToAnsiInteger(text, value) || value < low || value > high) ConvertError(text, "integer value");
  return value;
}

// A default or limit text as a value of the field's type, written at the
// start of out (which the caller has zeroed and which holds 251 bytes).
// False for types that have no such value.
bool ConvertFieldText(const TFieldDefinition& def, std::string_view text, std::uint8_t* out) {
  switch (def.DataType) {
    case dtString: {
      const std::size_t length = CutLength(text, kFieldValueWorkSize - 1);
      std::memcpy(out, text.data(), length);
      return true;
    }
    case dtDate: {
      const std::int32_t day = AnsiSameText(text, "CURRENT_DATE") ? CurrentLocalDateTime().Date : StrToAnsiDate(text);
      codec::PutI32(out, 0, day);
      return true;
    }
    case dtTime: {
      const std::int32_t ms = AnsiSameText(text, "CURRENT_TIME") ? CurrentLocalDateTime().Time : StrToAnsiTime(text);
      codec::PutI32(out, 0, ms);
      return true;
    }
    case dtTimeStamp: {
      double stamp = 0;
      if (AnsiSameText(text, "CURRENT_TIMESTAMP")) {
        const TLocalNow now = CurrentLocalDateTime();
        stamp = static_cast<double>(now.Date * kMillisecondsPerDay + now.Time);
      } else if (AnsiSameText(text, "CURRENT_DATE")) {
        stamp = static_cast<double>(CurrentLocalDateTime().Date * kMillisecondsPerDay);
      } else if (AnsiSameText(text, "CURRENT_TIME")) {
        stamp = static_cast<double>(CurrentLocalDateTime().Time);
      } else {
        stamp = StrToAnsiDateTime(text);
      }
      codec::PutF64(out, 0, stamp);
      return true;
    }
    case dtBoolean:
      codec::PutU16(out, 0, StrToAnsiBoolean(text) ? 1 : 0);
      return true;
    case dtSmallInt:
    case dtWord:
      codec::PutU16(out, 0, static_cast<std::uint16_t>(ReadIntegerText(text, def.DataType)));
      return true;
    case dtInteger:
      codec::PutI32(out, 0, static_cast<std::int32_t>(ReadIntegerText(text, def.DataType)));
      return true;
    case dtLargeInt:
      StoreI64(out, ReadIntegerText(text, def.DataType));
      return true;
    case dtFloat:
      codec::PutF64(out, 0, StrToAnsiFloat(text));
      return true;
    case dtBCD:
      FixedToBcd(StrToAnsiCurr(text), std::min(def.PhysicalDecimals, kBcdMaxDecimals), out);
      return true;
    default:
      return false;
  }
}

// A date, time or timestamp value as milliseconds on the timestamp scale.
double AsDateTime(std::uint8_t dataType, const std::uint8_t* value) noexcept {
  switch (dataType) {
    case dtDate: return static_cast<double>(LoadI32(value) * kMillisecondsPerDay);
    case dtTime: return static_cast<double>(kTimeOfDayBaseDay * kMillisecondsPerDay + LoadI32(value));
    default: return LoadF64(value);
  }
}

std::int64_t AsInteger(std::uint8_t dataType, const std::uint8_t* value) noexcept {
  switch (dataType) {
    case dtSmallInt: return LoadI16(value);
    case dtWord: return LoadU16(value);
    case dtInteger: return LoadI32(value);
    default: return LoadI64(value);
  }
}

template <typename T>
int CompareValues(T a, T b) noexcept {
  return a < b ? -1 : (b < a ? 1 : 0);
}

void PutString(const TFieldDefinition& def, std::uint8_t* flag, std::uint8_t* data, const std::uint8_t* source,
               const TFieldLanguage& language) {
  const std::size_t physicalSize = def.PhysicalSize;
  // The source may be this very field of the record: take a copy first.
  std::array<char, 256> text{};
  const auto* chars = reinterpret_cast<const char*>(source);
  std::size_t length = 0;
  while (length < physicalSize && chars[length] != 0) ++length;
  std::memcpy(text.data(), chars, length);
  const TTextCodePage codePage(language.LanguageID, language.SortID);
  // Cut first and remove blanks afterwards, so a stored string never ends in
  // a blank and a string of blanks is null however long it was.
  length = physicalSize == 0 ? 0 : codePage.CutLength(std::string_view(text.data(), length), physicalSize - 1);
  while (length > 0 && text[length - 1] == ' ') --length;
  if (def.CharCase == fcUpperCase) codePage.UpperCase(text.data(), length);
  if (def.CharCase == fcLowerCase) codePage.LowerCase(text.data(), length);
  std::memset(data, 0, physicalSize);
  std::memcpy(data, text.data(), length);
  *flag = length > 0 ? 1 : 0;
}

}  // namespace

void InternalGetField(const TFieldDefinition& def, const std::uint8_t* record, std::uint8_t* destination,
                      bool& isNull) {
  const bool autoInc = IsAutoIncField(def);
  isNull = autoInc ? false : record[def.FieldOffset] == 0;
  if (destination == nullptr) return;
  if (autoInc) {
    std::memcpy(destination, record + def.FieldOffset, def.PhysicalSize);
  } else if (def.DataType == dtBlob) {
    std::memcpy(destination, record + def.FieldOffset + 1, kBlobHandleBytes);
  } else {
    std::memcpy(destination, record + def.FieldOffset + 1, def.PhysicalSize);
  }
}

void InternalPutField(const TFieldDefinition& def, std::uint8_t* record, const std::uint8_t* source, bool blobEmpty,
                      const TFieldLanguage& language) {
  const bool autoInc = IsAutoIncField(def);
  if (autoInc) {
    if (source != nullptr) std::memmove(record + def.FieldOffset, source, def.PhysicalSize);
    return;
  }
  std::uint8_t* flag = record + def.FieldOffset;
  std::uint8_t* data = flag + 1;
  if (source == nullptr) {
    *flag = 0;
    std::memset(data, 0, def.DataType == dtBlob ? kBlobHandleBytes : def.PhysicalSize);
    return;
  }
  switch (def.DataType) {
    case dtString:
      PutString(def, flag, data, source, language);
      break;
    case dtBlob: {
      const std::int32_t reference = LoadI32(source);
      *flag = reference > 0 ? 1 : (reference == 0 ? 0 : (blobEmpty ? 0 : 1));
      std::memmove(data, source, kBlobHandleBytes);
      break;
    }
    case dtBoolean:
      codec::PutU16(data, 0, LoadU16(source) != 0 ? 1 : 0);
      *flag = 1;
      break;
    default:
      std::memmove(data, source, def.PhysicalSize);
      *flag = 1;
      break;
  }
}

bool ConvertDefaultValue(const TFieldDefinition& def, std::span<std::uint8_t, kFieldValueWorkSize> work) {
  std::fill(work.begin(), work.end(), std::uint8_t{0});
  const std::string_view text = def.DefaultValue.View();
  if (text.empty()) return false;
  return ConvertFieldText(def, text, work.data());
}

bool CheckField(std::string_view limitText, TFieldExpressionType kind, const std::uint8_t* value,
                const TFieldDefinition& def, const TFieldLanguage& language) {
  if (limitText.empty()) return true;
  std::array<std::uint8_t, kFieldValueWorkSize> limit{};
  int order = 0;  // value against the limit
  switch (def.DataType) {
    case dtString: {
      const auto* chars = reinterpret_cast<const char*>(value);
      std::size_t length = 0;
      while (length < def.PhysicalSize && chars[length] != 0) ++length;
      const TTextCodePage codePage(language.LanguageID, language.SortID);
      order = codePage.Compare(std::string_view(chars, length), limitText, false);
      break;
    }
    case dtDate:
    case dtTime:
    case dtTimeStamp:
      ConvertFieldText(def, limitText, limit.data());
      order = CompareValues(AsDateTime(def.DataType, value), AsDateTime(def.DataType, limit.data()));
      break;
    case dtSmallInt:
    case dtInteger:
    case dtWord:
    case dtLargeInt:
      ConvertFieldText(def, limitText, limit.data());
      order = CompareValues(AsInteger(def.DataType, value), AsInteger(def.DataType, limit.data()));
      break;
    case dtFloat:
      ConvertFieldText(def, limitText, limit.data());
      order = CompareValues(LoadF64(value), LoadF64(limit.data()));
      break;
    case dtBCD:
      order = CompareValues(BcdToCurrency(value), StrToAnsiCurr(limitText));
      break;
    default:
      return true;
  }
  return kind == feMinimum ? order >= 0 : order <= 0;
}

void CheckRecordValidity(std::span<const TFieldDefinition> physical, const std::uint8_t* record,
                         const TFieldRulesContext& context, const TFieldLanguage& language) {
  for (const TFieldDefinition& def : physical) {
    const std::string_view minimum = def.MinValue.View();
    const std::string_view maximum = def.MaxValue.View();
    if (def.Required == 0 && minimum.empty() && maximum.empty()) continue;
    // Room for any physical size a definition can state.
    std::array<std::uint8_t, 256> value{};
    bool isNull = false;
    InternalGetField(def, record, value.data(), isNull);
    TarnErrorCode code = TARN_NONE;
    if (isNull && def.Required != 0) {
      code = TARN_REQDERR;
    } else {
      // A null value is compared as zeros, whatever bytes its record holds.
      if (isNull) value.fill(0);
      if (!minimum.empty() && !CheckField(minimum, feMinimum, value.data(), def, language)) {
        code = TARN_MINVALERR;
      } else if (!maximum.empty() && !CheckField(maximum, feMaximum, value.data(), def, language)) {
        code = TARN_MAXVALERR;
      }
    }
    if (code != TARN_NONE) RaiseError(code, {}, {}, context.DatabaseName, context.TableName, def.Name.View());
  }
}

void ApplyDefaults(std::span<const TFieldDefinition> physical, std::uint8_t* record, const TFieldLanguage& language) {
  std::array<std::uint8_t, kFieldValueWorkSize> work{};
  for (const TFieldDefinition& def : physical) {
    if (def.DefaultValue.View().empty()) continue;
    if (ConvertDefaultValue(def, work)) InternalPutField(def, record, work.data(), false, language);
  }
}

}  // namespace tarn
