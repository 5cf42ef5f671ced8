// ConvertExpression between the engine types, the literal checks of column
// defaults (VerifyExpression) and their installation as the header check's
// verifier, and the text forms written and read back under a locale whose
// decimal separator is a comma.
#include <gtest/gtest.h>

#include <clocale>
#include <cstring>
#include <string>

#include "evaluation_test_support.h"
#include "platform/exception.h"
#include "expressions/literal_validation.h"
#include "expressions/value_conversion.h"
#include "storage/formats/check_header.h"
#include "storage/formats/data_header.h"
#include "storage/formats/field_definition.h"
#include "storage/formats/record_layout.h"
#include "support/field_builders.h"
#include "support/raised_code.h"

namespace tarn {
namespace {

using namespace testing_support;

struct TBuffer {
  std::uint8_t Bytes[kConvertBufferSize] = {};
};

TBuffer FromText(const std::string& text) {
  TBuffer b;
  std::memcpy(b.Bytes, text.data(), std::min(text.size(), kConvertBufferSize - 1));
  return b;
}

template <typename T>
TBuffer FromValue(T v) {
  TBuffer b;
  std::memcpy(b.Bytes, &v, sizeof v);
  return b;
}

template <typename T>
T As(const TBuffer& b) {
  T v{};
  std::memcpy(&v, b.Bytes, sizeof v);
  return v;
}

std::string TextOf(const TBuffer& b) { return std::string(reinterpret_cast<const char*>(b.Bytes)); }

TEST(ValueConversion, StringsToValues) {
  auto b = FromText("2008-02-29");
  ASSERT_TRUE(ConvertExpression(dtString, 11, 0, b.Bytes, 0, 4, dtDate));
  EXPECT_EQ(As<std::int32_t>(b), StrToAnsiDate("2008-02-29"));
  b = FromText("1:05 pm");
  ASSERT_TRUE(ConvertExpression(dtString, 8, 0, b.Bytes, 0, 4, dtTime));
  EXPECT_EQ(As<std::int32_t>(b), 13 * 3600000 + 5 * 60000);
  b = FromText("2008-02-29 12:30");
  ASSERT_TRUE(ConvertExpression(dtString, 17, 0, b.Bytes, 0, 8, dtTimeStamp));
  EXPECT_EQ(As<double>(b), StrToAnsiDate("2008-02-29") * 86400000.0 + 12.5 * 3600000);
  b = FromText("fAlSe");
  ASSERT_TRUE(ConvertExpression(dtString, 6, 0, b.Bytes, 0, 2, dtBoolean));
  EXPECT_EQ(As<std::uint16_t>(b), 0);
  b = FromText("-32768");
  ASSERT_TRUE(ConvertExpression(dtString, 7, 0, b.Bytes, 0, 2, dtSmallInt));
  EXPECT_EQ(As<std::int16_t>(b), -32768);
  b = FromText("2.5e3");
  ASSERT_TRUE(ConvertExpression(dtString, 6, 0, b.Bytes, 0, 8, dtFloat));
  EXPECT_EQ(As<double>(b), 2500.0);
  b = FromText("-1234.5678");
  ASSERT_TRUE(ConvertExpression(dtString, 11, 0, b.Bytes, 4, 34, dtBCD));
  std::int64_t fixed = 0;
  ASSERT_TRUE(BcdToFixed(b.Bytes, fixed));
  EXPECT_EQ(fixed, -12345678);
}

TEST(ValueConversion, FailuresLeaveTheZeroValue) {
  struct TCase {
    std::string Text;
    std::uint8_t Target;
    std::int32_t Size;
  };
  const TCase cases[] = {{"abc", dtInteger, 4}, {"2008-02-30", dtDate, 4}, {"25:00", dtTime, 4},
                         {"yes", dtBoolean, 2},  {"1,5", dtFloat, 8},       {"x1", dtBCD, 34},
                         {"", dtLargeInt, 8}};
  for (const auto& c : cases) {
    auto b = FromText(c.Text);
    std::memset(b.Bytes + c.Text.size() + 1, 0x5A, 60);
    EXPECT_EQ(ConvertValue(dtString, static_cast<std::int32_t>(c.Text.size() + 1), 0, b.Bytes, sizeof b.Bytes, 0,
                           c.Size, c.Target),
              TConversionResult::Failed)
        << c.Text;
    if (c.Target == dtBCD) {
      std::int64_t fixed = -1;
      EXPECT_TRUE(BcdToFixed(b.Bytes, fixed));
      EXPECT_EQ(fixed, 0);
    } else {
      for (std::int32_t i = 0; i < c.Size; ++i) EXPECT_EQ(b.Bytes[i], 0) << c.Text;
    }
  }
}

TEST(ValueConversion, NarrowingThatDoesNotFitIsReported) {
  struct TCase {
    std::uint8_t Source;
    TBuffer Value;
    std::uint8_t Target;
    TConversionResult Expected;
  };
  const TCase cases[] = {
      {dtInteger, FromValue<std::int32_t>(65537), dtSmallInt, TConversionResult::DoesNotFit},
      {dtInteger, FromValue<std::int32_t>(-1), dtWord, TConversionResult::DoesNotFit},
      {dtInteger, FromValue<std::int32_t>(65535), dtWord, TConversionResult::Converted},
      {dtLargeInt, FromValue<std::int64_t>(std::int64_t{1} << 40), dtInteger, TConversionResult::DoesNotFit},
      {dtFloat, FromValue<double>(1e10), dtInteger, TConversionResult::DoesNotFit},
      {dtFloat, FromValue<double>(-2147483648.9), dtInteger, TConversionResult::Converted},
      {dtFloat, FromValue<double>(1e300), dtBCD, TConversionResult::DoesNotFit},
      {dtLargeInt, FromValue<std::int64_t>(std::int64_t{1} << 62), dtBCD, TConversionResult::DoesNotFit},
      {dtString, FromText("99999"), dtSmallInt, TConversionResult::DoesNotFit},
      {dtString, FromText("99999999999999999999"), dtLargeInt, TConversionResult::DoesNotFit},
      {dtFloat, FromValue<double>(0.0 / 0.0 + 1), dtInteger, TConversionResult::DoesNotFit},
  };
  for (const auto& c : cases) {
    TBuffer b = c.Value;
    const std::int32_t size = c.Source == dtString ? 30 : FixedValueSize(c.Source);
    EXPECT_EQ(ConvertValue(c.Source, size, 0, b.Bytes, sizeof b.Bytes, 0, FixedValueSize(c.Target), c.Target),
              c.Expected)
        << int(c.Source) << " -> " << int(c.Target);
  }
  auto b = FromValue<double>(-2147483648.9);
  ASSERT_TRUE(ConvertExpression(dtFloat, 8, 0, b.Bytes, 0, 4, dtInteger));
  EXPECT_EQ(As<std::int32_t>(b), -2147483647 - 1);  // truncated toward zero
}

TEST(ValueConversion, ValuesToStrings) {
  struct TCase {
    std::uint8_t Source;
    TBuffer Value;
    std::string Expected;
  };
  const TCase cases[] = {
      {dtDate, FromValue<std::int32_t>(StrToAnsiDate("0987-06-05")), "0987-06-05"},
      {dtBoolean, FromValue<std::uint16_t>(1), "True"},
      {dtBoolean, FromValue<std::uint16_t>(0), "False"},
      {dtSmallInt, FromValue<std::int16_t>(-5), "-5"},
      {dtWord, FromValue<std::uint16_t>(65535), "65535"},
      {dtLargeInt, FromValue<std::int64_t>(-9007199254740993), "-9007199254740993"},
      {dtFloat, FromValue<double>(0.1), "0.1"},
      {dtFloat, FromValue<double>(1.0 / 3), "0.333333333333333"},
      {dtFloat, FromValue<double>(-1234567.5), "-1234567.5"},
      {dtTime, FromValue<std::int32_t>(7500), "12:00:07.500 AM"},
      {dtTime, FromValue<std::int32_t>(250), "12:00:00.250 AM"},
      {dtTimeStamp, FromValue<double>(StrToAnsiDateTime("2008-03-01 13:05")), "2008-03-01 01:05 PM"},
  };
  for (const auto& c : cases) {
    TBuffer b = c.Value;
    ASSERT_TRUE(ConvertExpression(c.Source, FixedValueSize(c.Source), 0, b.Bytes, 0, 40, dtString)) << c.Expected;
    EXPECT_EQ(TextOf(b), c.Expected);
  }
  // Strings are cut to the target size; a number is never cut.
  auto s = FromText("abcdef");
  ASSERT_TRUE(ConvertExpression(dtString, 7, 0, s.Bytes, 0, 4, dtString));
  EXPECT_EQ(TextOf(s), "abc");
  auto n = FromValue<std::int32_t>(12345);
  EXPECT_FALSE(ConvertExpression(dtInteger, 4, 0, n.Bytes, 0, 4, dtString));
  auto g = FromText("\xB0\xA1\xB0\xA1");
  ASSERT_TRUE(ConvertExpression(dtString, 5, 0, g.Bytes, 0, 4, dtString));
  EXPECT_EQ(TextOf(g), "\xB0\xA1");  // a double-byte character is not split
}

TEST(ValueConversion, DatesTimesAndBytes) {
  const std::int32_t day = StrToAnsiDate("2008-03-01");
  auto b = FromValue<std::int32_t>(day);
  ASSERT_TRUE(ConvertExpression(dtDate, 4, 0, b.Bytes, 0, 8, dtTimeStamp));
  EXPECT_EQ(As<double>(b), day * 86400000.0);
  b = FromValue<double>(day * 86400000.0 + 3723004);
  ASSERT_TRUE(ConvertExpression(dtTimeStamp, 8, 0, b.Bytes, 0, 4, dtTime));
  EXPECT_EQ(As<std::int32_t>(b), 3723004);
  b = FromValue<double>(day * 86400000.0 + 3723004);
  ASSERT_TRUE(ConvertExpression(dtTimeStamp, 8, 0, b.Bytes, 0, 4, dtDate));
  EXPECT_EQ(As<std::int32_t>(b), day);
  b = FromText("abcdefgh");
  ASSERT_TRUE(ConvertExpression(dtString, 9, 0, b.Bytes, 0, 3, dtBytes));
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(b.Bytes), 3), "abc");
  b = FromValue<std::int32_t>(1);
  EXPECT_FALSE(ConvertExpression(dtInteger, 4, 0, b.Bytes, 0, 4, dtDate));  // no rule
  b = FromValue<double>(2.5);
  EXPECT_FALSE(ConvertExpression(dtFloat, 8, 0, b.Bytes, 0, 2, dtBoolean));  // no rule
}

TEST(LiteralValidation, DefaultsMinimumsAndMaximums) {
  struct TCase {
    std::string Text;
    std::uint8_t Type;
    bool Valid;
  };
  const TCase cases[] = {
      {"", dtInteger, true},           {"", dtDate, true},                  {"anything", dtString, true},
      {"x", dtBytes, true},            {"x", dtVarBytes, true},             {"current_date", dtDate, true},
      {"2008-02-29", dtDate, true},    {"2007-02-29", dtDate, false},       {"CURRENT_TIME", dtDate, false},
      {"CURRENT_TIME", dtTime, true},  {"13:05", dtTime, true},             {"2008-01-01", dtTime, false},
      {"CURRENT_TIMESTAMP", dtTimeStamp, true}, {"CURRENT_DATE", dtTimeStamp, true},
      {"CURRENT_TIME", dtTimeStamp, true},      {"2008-01-01", dtTimeStamp, true},
      {"2008-01-01 1:05 PM", dtTimeStamp, true}, {"13:05", dtTimeStamp, true},
      {"1:05 PM", dtTimeStamp, false},  // a blank splits date from time: "1:05" is no date
      {"tomorrow", dtTimeStamp, false}, {"True", dtBoolean, true},          {"1", dtBoolean, false},
      {"-32768", dtSmallInt, true},    {"32768", dtSmallInt, false},        {"2147483647", dtInteger, true},
      {"2147483648", dtInteger, false}, {"65535", dtWord, true},            {"-1", dtWord, false},
      {"9223372036854775807", dtLargeInt, true}, {"9223372036854775808", dtLargeInt, false},
      {"1.5e3", dtFloat, true},        {"1,5", dtFloat, false},             {"12.3456", dtBCD, true},
      {"12.34567", dtBCD, false},      {"-0.5", dtBCD, true},               {"abc", dtBCD, false},
      {"5", 13, false},
  };
  for (const auto& c : cases) EXPECT_EQ(VerifyExpression(c.Text, c.Type), c.Valid) << c.Text << " " << int(c.Type);
}

// Fields ID integer (default text), NAME string(20), BORN date (maximum
// text), laid out as table creation does.
std::vector<TFieldDefinition> HeaderFields(std::string_view idDefault, std::string_view bornMaximum) {
  std::vector<TFieldDefinition> fields{test_support::MakeField("ID", dtInteger), test_support::MakeField("NAME", dtString, 20),
                                       test_support::MakeField("BORN", dtDate)};
  fields[0].DefaultValue.Assign(idDefault);
  fields[2].MaxValue.Assign(bornMaximum);
  test_support::LayOut(fields);
  return fields;
}

TarnErrorCode CheckFields(std::string_view idDefault, std::string_view bornMaximum) {
  const TTableContext context{"/data/", "people"};
  auto fields = HeaderFields(idDefault, bornMaximum);
  const TDataHeader header = CreateDataHeader({}, fields, context);
  return test_support::RaisedCode([&] { CheckDataHeader(header, fields, DataFixedPartSize(fields.size()), context); });
}

TEST(LiteralValidation, InstalledAsTheHeaderChecksVerifier) {
  InstallExpressionVerifier();
  InstallExpressionVerifier();  // harmless twice
  struct TCase {
    std::string IdDefault, BornMaximum;
    TarnErrorCode Expected;
  };
  const TCase cases[] = {
      {"12", "2008-02-29", 0},
      {"", "CURRENT_DATE", 0},
      {"12x", "", TARN_HEADERCORRUPT},
      {"2147483648", "", TARN_HEADERCORRUPT},
      {"-5", "2008-02-30", TARN_HEADERCORRUPT},
      {"0", "13:05", TARN_HEADERCORRUPT},
  };
  for (const auto& c : cases)
    EXPECT_EQ(CheckFields(c.IdDefault, c.BornMaximum), c.Expected) << c.IdDefault << " / " << c.BornMaximum;
  SetExpressionVerifier(nullptr);
  EXPECT_EQ(CheckFields("12x", "2008-02-30"), 0);  // without the verifier texts are not judged
  InstallExpressionVerifier();
}

// Decimal-comma locales that may be installed; the first one that exists is used.
const char* UseDecimalCommaLocale() {
  for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "de_DE", "fr_FR.UTF-8", "fr_FR.utf8", "nl_NL.UTF-8",
                           "ru_RU.UTF-8", "es_ES.UTF-8", "it_IT.UTF-8", "pt_BR.UTF-8"})
    if (std::setlocale(LC_ALL, name) != nullptr) return name;
  return nullptr;
}

TEST(TextForms, WrittenAndReadBackIndependentOfTheLocale) {
  const char* locale = UseDecimalCommaLocale();
  RecordProperty("locale", locale ? locale : "none installed; ran under the C locale");
  if (locale != nullptr) {
    EXPECT_STREQ(std::localeconv()->decimal_point, ",");
  }
  const double floats[] = {0.5, -1234.5678, 1e-7, 12345678901234.5, 3.0};
  for (const double f : floats) {
    const std::string text = AnsiFloatToStr(f);
    EXPECT_EQ(text.find(','), std::string::npos) << text;
    EXPECT_EQ(StrToAnsiFloat(text), f) << text;
  }
  EXPECT_EQ(AnsiFloatToStr(-2.5), "-2.5");
  EXPECT_EQ(StrToAnsiFloat("2.25"), 2.25);
  EXPECT_THROW(StrToAnsiFloat("2,25"), EConvertError);
  const std::int64_t currencies[] = {0, 25000, -12345678, 1, 922337203685477};
  for (const std::int64_t c : currencies) {
    const std::string text = AnsiCurrToStr(c);
    EXPECT_EQ(text.find(','), std::string::npos) << text;
    EXPECT_EQ(StrToAnsiCurr(text), c) << text;
  }
  EXPECT_EQ(AnsiCurrToStr(-12345678), "-1234.5678");
  EXPECT_EQ(AnsiCurrToStr(25000), "2.5");
  EXPECT_EQ(StrToAnsiCurr("-0.0001"), -1);
  EXPECT_THROW(StrToAnsiCurr("1,5"), EConvertError);
  EXPECT_THROW(StrToAnsiCurr("1.23456"), EConvertError);
  EXPECT_EQ(AnsiDateToStr(StrToAnsiDate("2008-02-29")), "2008-02-29");
  EXPECT_EQ(AnsiTimeToStr(StrToAnsiTime("13:05:00.000")), "01:05 PM");
  EXPECT_EQ(AnsiTimeToStr(StrToAnsiTime("00:00:07.500")), "12:00:07.500 AM");
  EXPECT_EQ(AnsiDateTimeToStr(StrToAnsiDateTime("2008-02-29 23:59:59.500")), "2008-02-29 11:59:59.500 PM");
  EXPECT_EQ(StrToAnsiTime("1:05 pm"), 13 * 3600000 + 5 * 60000);
  EXPECT_EQ(StrToAnsiTime("00:00:01.5"), 1005);  // the part after '.' counts milliseconds
  EXPECT_EQ(AnsiTimeToStr(1005), "12:00:01.5 AM");
  EXPECT_EQ(AnsiBooleanToStr(StrToAnsiBoolean("tRUE")), "True");
  EXPECT_THROW(StrToAnsiBoolean("yes"), EConvertError);
  // Expressions write and read the same forms.
  TTestRecord r;
  r.Set(col::kRatio, Bytes<double>(-2.5)).Set(col::kAmount, BcdBytes("12.5"));
  EXPECT_EQ(EvaluateText("CAST(Ratio AS CHAR(20))", r), "'-2.5'");
  EXPECT_EQ(EvaluateText("CAST(Amount AS CHAR(20))", r), "'12.5'");
  EXPECT_EQ(EvaluateText("CAST('1.25' AS FLOAT) * 2", r), "2.5");
  EXPECT_EQ(EvaluateText("Ratio = -2.5", r), "true");
  std::uint8_t buffer[kConvertBufferSize] = "2008-03-01";
  ConvertStringToDateTime(buffer, sizeof buffer, dtDate);
  EXPECT_EQ(As<std::int32_t>(*reinterpret_cast<TBuffer*>(buffer)), StrToAnsiDate("2008-03-01"));
  std::uint8_t bad[kConvertBufferSize] = "2008-13-01";
  EXPECT_THROW(ConvertStringToDateTime(bad, sizeof bad, dtDate), EConvertError);
  std::setlocale(LC_ALL, "C");
}

}  // namespace
}  // namespace tarn
