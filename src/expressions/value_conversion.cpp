// Value conversions between engine data types.
#include "expressions/value_conversion.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

#include "platform/code_page.h"
#include "expressions/ansi_text_forms.h"
#include "expressions/bcd_values.h"
#include "expressions/date_time_values.h"
#include "expressions/expression_layer.h"
#include "storage/formats/data_types.h"

namespace tarn {

namespace {

using TResult = TConversionResult;

bool IsIntegerType(std::uint8_t t) { return t == dtSmallInt || t == dtInteger || t == dtWord || t == dtLargeInt; }
bool IsRawType(std::uint8_t t) { return t == dtBytes || t == dtVarBytes; }

template <typename T>
T Load(const std::uint8_t* p) {
  T v{};
  std::memcpy(&v, p, sizeof v);
  return v;
}

template <typename T>
void Store(std::uint8_t* p, T v) {
  std::memcpy(p, &v, sizeof v);
}

std::int64_t LoadInteger(std::uint8_t type, const std::uint8_t* p) {
  switch (type) {
    case dtSmallInt: return Load<std::int16_t>(p);
    case dtWord: case dtBoolean: return Load<std::uint16_t>(p);
    case dtLargeInt: return Load<std::int64_t>(p);
    default: return Load<std::int32_t>(p);
  }
}

bool IntegerFits(std::uint8_t type, std::int64_t v) {
  switch (type) {
    case dtSmallInt: return v >= -32768 && v <= 32767;
    case dtWord: return v >= 0 && v <= 65535;
    case dtInteger:
      return v >= std::numeric_limits<std::int32_t>::min() && v <= std::numeric_limits<std::int32_t>::max();
    default: return true;
  }
}

void StoreInteger(std::uint8_t type, std::uint8_t* p, std::int64_t v) {
  switch (type) {
    case dtSmallInt: Store(p, static_cast<std::int16_t>(v)); break;
    case dtWord: Store(p, static_cast<std::uint16_t>(v)); break;
    case dtLargeInt: Store(p, v); break;
    default: Store(p, static_cast<std::int32_t>(v)); break;
  }
}

// Float to integer, truncated toward zero; false when out of 64-bit range.
bool TruncateFloat(double d, std::int64_t& v) {
  if (!std::isfinite(d)) return false;
  const double t = std::trunc(d);
  if (t >= 9223372036854775808.0 || t < -9223372036854775808.0) return false;
  v = static_cast<std::int64_t>(t);
  return true;
}

std::string IntegerText(std::int64_t v) {
  char buffer[24];
  const auto [ptr, ec] = std::to_chars(buffer, buffer + sizeof buffer, v);
  (void)ec;
  return std::string(buffer, ptr);
}

void WriteZero(std::uint8_t type, std::uint8_t* out, std::size_t size) {
  std::memset(out, 0, size);
  if (type == dtBCD && size >= kBcdPhysicalSize) FixedToBcd(0, 0, out);
}

}  // namespace

std::int32_t FixedValueSize(std::uint8_t dataType) noexcept {
  switch (dataType) {
    case dtDate: case dtInteger: case dtTime: return 4;
    case dtFloat: case dtTimeStamp: case dtLargeInt: return 8;
    case dtBoolean: case dtSmallInt: case dtWord: return 2;
    case dtBCD: return kBcdPhysicalSize;
    default: return 0;
  }
}

TConversionResult ConvertValue(std::uint8_t sourceType, std::int32_t sourceSize, std::uint8_t sourceDecimals,
                               std::uint8_t* buffer, std::size_t capacity, std::uint8_t targetDecimals,
                               std::int32_t targetSize, std::uint8_t targetType) {
  (void)sourceDecimals;
  if (sourceSize < 0) sourceSize = 0;
  if (targetSize < 0) targetSize = 0;
  // Fixed-size targets always take their own size.
  if (const std::int32_t fixed = FixedValueSize(targetType); fixed != 0) targetSize = fixed;
  const std::size_t sourceBytes = std::min<std::size_t>(static_cast<std::size_t>(sourceSize), capacity);
  const std::size_t targetBytes = std::min<std::size_t>(static_cast<std::size_t>(targetSize), capacity);
  if (FixedValueSize(targetType) > static_cast<std::int32_t>(capacity)) return TResult::Failed;
  // Fixed-size sources need their whole value.
  if (const std::int32_t fixed = FixedValueSize(sourceType);
      fixed != 0 && (fixed > static_cast<std::int32_t>(capacity) || sourceSize < fixed)) {
    WriteZero(targetType, buffer, targetBytes);
    return TResult::Failed;
  }

  std::array<std::uint8_t, 256> source{};
  std::vector<std::uint8_t> large;  // only for buffers above 256 bytes
  std::uint8_t* src = source.data();
  if (sourceBytes > source.size()) {
    large.assign(buffer, buffer + sourceBytes);
    src = large.data();
  } else {
    std::memcpy(src, buffer, sourceBytes);
  }
  std::uint8_t* out = buffer;
  auto fail = [&](TResult result) {
    WriteZero(targetType, out, targetBytes);
    return result;
  };
  auto sourceText = [&]() -> std::string_view {
    const auto* chars = reinterpret_cast<const char*>(src);
    const void* zero = std::memchr(chars, 0, sourceBytes);
    return std::string_view(chars, zero ? static_cast<std::size_t>(static_cast<const char*>(zero) - chars)
                                        : sourceBytes);
  };
  // Writes a text into a string target; only strings may be cut.
  auto writeText = [&](std::string_view text, bool mayCut) {
    if (targetBytes == 0) return fail(TResult::DoesNotFit);
    if (text.size() > targetBytes - 1) {
      if (!mayCut) return fail(TResult::DoesNotFit);
      text = text.substr(0, CutLength(text, targetBytes - 1));
    }
    std::memset(out, 0, targetBytes);
    std::memcpy(out, text.data(), text.size());
    return TResult::Converted;
  };
  auto writeInteger = [&](std::int64_t v) {
    if (!IntegerFits(targetType, v)) return fail(TResult::DoesNotFit);
    std::memset(out, 0, targetBytes);
    StoreInteger(targetType, out, v);
    return TResult::Converted;
  };
  auto writeFixed = [&](std::int64_t fixed) {
    FixedToBcd(fixed, targetDecimals, out);
    return TResult::Converted;
  };

  // Raw bytes in or out: the first bytes, up to the target size.
  if (IsRawType(targetType)) {
    std::memset(out, 0, targetBytes);
    const std::size_t n = sourceType == dtString ? std::min(sourceText().size(), targetBytes)
                                                 : std::min(sourceBytes, targetBytes);
    std::memcpy(out, src, n);
    return TResult::Converted;
  }
  if (IsRawType(sourceType)) {
    if (targetType == dtString) return writeText(std::string_view(reinterpret_cast<const char*>(src), sourceBytes), true);
    if (FixedValueSize(targetType) == 0 || sourceBytes < targetBytes) return fail(TResult::Failed);
    std::memcpy(out, src, targetBytes);
    if (targetType == dtBoolean) Store(out, static_cast<std::uint16_t>(Load<std::uint16_t>(out) != 0));
    return TResult::Converted;
  }
  if (sourceType == dtBlob || targetType == dtBlob) return fail(TResult::Failed);

  switch (targetType) {
    case dtString:
      switch (sourceType) {
        case dtString: return writeText(sourceText(), true);
        case dtDate: return writeText(AnsiDateToStr(Load<std::int32_t>(src)), false);
        case dtTime: return writeText(AnsiTimeToStr(Load<std::int32_t>(src)), false);
        case dtTimeStamp: return writeText(AnsiDateTimeToStr(Load<double>(src)), false);
        case dtBoolean: return writeText(AnsiBooleanToStr(Load<std::uint16_t>(src) != 0), false);
        case dtFloat: return writeText(AnsiFloatToStr(Load<double>(src)), false);
        case dtBCD: {
          std::int64_t fixed = 0;
          if (!BcdToFixed(src, fixed)) return fail(TResult::DoesNotFit);
          return writeText(AnsiCurrToStr(fixed), false);
        }
        default:
          if (IsIntegerType(sourceType)) return writeText(IntegerText(LoadInteger(sourceType, src)), false);
          return fail(TResult::Failed);
      }
    case dtDate: {
      std::int32_t day = 0;
      switch (sourceType) {
        case dtString: if (!TryStrToAnsiDate(sourceText(), day)) return fail(TResult::Failed); break;
        case dtDate: day = Load<std::int32_t>(src); break;
        case dtTimeStamp: {
          const double days = std::floor(Load<double>(src) / static_cast<double>(kMillisecondsPerDay));
          if (!std::isfinite(days) || std::fabs(days) > 2147483647.0) return fail(TResult::DoesNotFit);
          day = static_cast<std::int32_t>(days);
          break;
        }
        default: return fail(TResult::Failed);
      }
      Store(out, day);
      return TResult::Converted;
    }
    case dtTime: {
      std::int32_t ms = 0;
      switch (sourceType) {
        case dtString: if (!TryStrToAnsiTime(sourceText(), ms)) return fail(TResult::Failed); break;
        case dtTime: ms = Load<std::int32_t>(src); break;
        case dtTimeStamp: {
          const double stamp = Load<double>(src);
          if (!std::isfinite(stamp)) return fail(TResult::DoesNotFit);
          double part = std::fmod(stamp, static_cast<double>(kMillisecondsPerDay));
          if (part < 0) part += static_cast<double>(kMillisecondsPerDay);
          ms = static_cast<std::int32_t>(part);
          break;
        }
        default: return fail(TResult::Failed);
      }
      Store(out, ms);
      return TResult::Converted;
    }
    case dtTimeStamp: {
      double stamp = 0;
      switch (sourceType) {
        case dtString: if (!TryStrToAnsiDateTime(sourceText(), stamp)) return fail(TResult::Failed); break;
        case dtDate: stamp = static_cast<double>(Load<std::int32_t>(src)) * static_cast<double>(kMillisecondsPerDay); break;
        case dtTime: stamp = Load<std::int32_t>(src); break;
        case dtTimeStamp: stamp = Load<double>(src); break;
        default: return fail(TResult::Failed);
      }
      Store(out, stamp);
      return TResult::Converted;
    }
    case dtBoolean: {
      bool value = false;
      if (sourceType == dtString) {
        const std::string_view text = sourceText();
        if (AnsiSameText(text, "TRUE")) value = true;
        else if (!AnsiSameText(text, "FALSE")) return fail(TResult::Failed);
      } else if (sourceType == dtBoolean || IsIntegerType(sourceType)) {
        value = LoadInteger(sourceType, src) != 0;
      } else if (sourceType == dtBCD) {
        std::int64_t fixed = 0;
        if (!BcdToFixed(src, fixed)) return fail(TResult::DoesNotFit);
        value = fixed != 0;
      } else {
        return fail(TResult::Failed);
      }
      Store(out, static_cast<std::uint16_t>(value ? 1 : 0));
      return TResult::Converted;
    }
    case dtSmallInt: case dtInteger: case dtWord: case dtLargeInt: {
      if (sourceType == dtString) {
        std::int64_t v = 0;
        if (!TryStrToAnsiInteger(sourceText(), v)) {
          // Digits beyond 64 bits still name a number: it does not fit.
          double d = 0;
          if (TryStrToAnsiFloat(sourceText(), d) && d == std::trunc(d)) return fail(TResult::DoesNotFit);
          return fail(TResult::Failed);
        }
        return writeInteger(v);
      }
      if (sourceType == dtBoolean || IsIntegerType(sourceType)) return writeInteger(LoadInteger(sourceType, src));
      if (sourceType == dtFloat) {
        std::int64_t v = 0;
        if (!TruncateFloat(Load<double>(src), v)) return fail(TResult::DoesNotFit);
        return writeInteger(v);
      }
      if (sourceType == dtBCD) {
        std::int64_t fixed = 0;
        if (!BcdToFixed(src, fixed)) return fail(TResult::DoesNotFit);
        return writeInteger(fixed / kBcdScale);  // truncated toward zero
      }
      return fail(TResult::Failed);
    }
    case dtFloat: {
      double v = 0;
      if (sourceType == dtString) {
        if (!TryStrToAnsiFloat(sourceText(), v)) return fail(TResult::Failed);
      } else if (IsIntegerType(sourceType)) {
        v = static_cast<double>(LoadInteger(sourceType, src));
      } else if (sourceType == dtFloat) {
        v = Load<double>(src);
      } else if (sourceType == dtBCD) {
        std::int64_t fixed = 0;
        if (!BcdToFixed(src, fixed)) return fail(TResult::DoesNotFit);
        v = FixedToFloat(fixed);
      } else {
        return fail(TResult::Failed);
      }
      Store(out, v);
      return TResult::Converted;
    }
    case dtBCD: {
      std::int64_t fixed = 0;
      if (sourceType == dtString) {
        const std::string_view text = sourceText();
        if (!TryStrToAnsiCurr(text, fixed)) {
          double d = 0;
          if (!TryStrToAnsiFloat(text, d)) return fail(TResult::Failed);
          if (!FloatToFixed(d, fixed)) return fail(TResult::DoesNotFit);
        }
      } else if (sourceType == dtBoolean || IsIntegerType(sourceType)) {
        if (!IntegerToFixed(LoadInteger(sourceType, src), fixed)) return fail(TResult::DoesNotFit);
      } else if (sourceType == dtFloat) {
        if (!FloatToFixed(Load<double>(src), fixed)) return fail(TResult::DoesNotFit);
      } else if (sourceType == dtBCD) {
        if (!BcdToFixed(src, fixed)) return fail(TResult::DoesNotFit);
      } else {
        return fail(TResult::Failed);
      }
      return writeFixed(fixed);
    }
    default:
      return fail(TResult::Failed);
  }
}

bool ConvertExpression(std::uint8_t sourceType, std::int32_t sourceSize, std::uint8_t sourceDecimals,
                       std::uint8_t* buffer, std::uint8_t targetDecimals, std::int32_t targetSize,
                       std::uint8_t targetType) {
  return ConvertValue(sourceType, sourceSize, sourceDecimals, buffer, kConvertBufferSize, targetDecimals,
                      targetSize, targetType) == TConversionResult::Converted;
}

}  // namespace tarn
