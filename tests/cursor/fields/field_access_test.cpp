// Field values in record buffers: every conversion rule of writing a field,
// read back the way a cursor reads it; defaults of every type; minimum and
// maximum limits of each type family; and the order of the validity checks.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <string>
#include <vector>

#include "core/errors.h"
#include "cursor/field_access.h"
#include "cursor/field_rules.h"
#include "expressions/bcd_values.h"
#include "expressions/date_time_values.h"
#include "platform/exception.h"
#include "storage/formats/byte_codec.h"
#include "support/field_builders.h"
#include "support/raised_code.h"

namespace tarn {
namespace {

using test_support::LaidOut;
using test_support::MakeField;
using test_support::RaisedCode;

constexpr TFieldLanguage kAnsiStandard{};
constexpr TFieldLanguage kFrench{0x040C, 0};  // code page 1252: 0xE9 is é, 0xC9 É

std::vector<std::uint8_t> RecordFor(const std::vector<TFieldDefinition>& fields) {
  std::size_t size = kRecordHeaderSize;
  for (const auto& def : fields) {
    if (!IsAutoIncField(def)) size = std::max<std::size_t>(size, def.FieldOffset + def.PhysicalSize + 1u);
  }
  return std::vector<std::uint8_t>(size, 0);
}

// The stored text of a string field and whether it is null.
struct TStoredText {
  std::string Text;
  bool Null;
  bool operator==(const TStoredText&) const = default;
};

std::ostream& operator<<(std::ostream& out, const TStoredText& t) {
  return out << (t.Null ? "null" : "'" + t.Text + "'");
}

TStoredText ReadText(const TFieldDefinition& def, const std::vector<std::uint8_t>& record) {
  std::array<std::uint8_t, 256> value{};
  bool isNull = false;
  InternalGetField(def, record.data(), value.data(), isNull);
  return {std::string(reinterpret_cast<const char*>(value.data())), isNull};
}

void PutText(const TFieldDefinition& def, std::vector<std::uint8_t>& record, const std::string& text,
             const TFieldLanguage& language) {
  InternalPutField(def, record.data(), reinterpret_cast<const std::uint8_t*>(text.c_str()), false, language);
}

TEST(FieldAccess, StringsAreCutTrimmedCasedAndEmptyIsNull) {
  const struct {
    const char* What;
    std::uint8_t Size;
    std::uint8_t CharCase;
    TFieldLanguage Language;
    std::string Input;
    TStoredText Expected;
  } cases[] = {
      {"empty", 10, fcNoChange, kAnsiStandard, "", {"", true}},
      {"only blanks", 10, fcNoChange, kAnsiStandard, "     ", {"", true}},
      {"trailing blanks", 10, fcNoChange, kAnsiStandard, "abc   ", {"abc", false}},
      {"leading blanks stay", 10, fcNoChange, kAnsiStandard, "  abc", {"  abc", false}},
      {"declared size bounds it", 5, fcNoChange, kAnsiStandard, "abcdefgh", {"abcde", false}},
      {"blank at the cut", 5, fcNoChange, kAnsiStandard, "abcd efg", {"abcd", false}},
      {"blanks up to the cut", 5, fcNoChange, kAnsiStandard, "     xyz", {"", true}},
      {"double-byte char not split", 4, fcNoChange, kAnsiStandard, "abc\xD6\xD0", {"abc", false}},
      {"double-byte char fits", 5, fcNoChange, kAnsiStandard, "abc\xD6\xD0", {"abc\xD6\xD0", false}},
      {"upper case", 10, fcUpperCase, kAnsiStandard, "ab\xD6\xD0" "c", {"AB\xD6\xD0" "C", false}},
      {"lower case", 10, fcLowerCase, kAnsiStandard, "ABC", {"abc", false}},
      {"trail byte is no letter", 10, fcUpperCase, kAnsiStandard, "\x81" "a", {"\x81" "a", false}},
      {"single-byte language", 10, fcUpperCase, kFrench, "\xE9t\xE9", {"\xC9T\xC9", false}},
  };
  for (const auto& c : cases) {
    std::vector<TFieldDefinition> fields = LaidOut({MakeField("BEFORE", dtInteger), MakeField("TEXT", dtString, c.Size)});
    fields[1].CharCase = c.CharCase;
    std::vector<std::uint8_t> record = RecordFor(fields);
    // A longer value first: what the new one does not cover must be zeros.
    PutText(fields[1], record, std::string(c.Size, 'z'), c.Language);
    PutText(fields[1], record, c.Input, c.Language);
    EXPECT_EQ(ReadText(fields[1], record), c.Expected) << c.What;
    const std::size_t used = c.Expected.Text.size();
    for (std::size_t i = used; i < fields[1].PhysicalSize; ++i)
      EXPECT_EQ(record[fields[1].FieldOffset + 1 + i], 0) << c.What << " byte " << i;
    EXPECT_EQ(record[fields[0].FieldOffset], 0) << c.What << ": neighbour touched";
  }
}

TEST(FieldAccess, FixedSizeValuesRoundTripAndSetNullZeroes) {
  std::vector<TFieldDefinition> fields = LaidOut({MakeField("S", dtSmallInt), MakeField("I", dtInteger),
                                                  MakeField("W", dtWord), MakeField("L", dtLargeInt),
                                                  MakeField("F", dtFloat), MakeField("D", dtDate),
                                                  MakeField("T", dtTime), MakeField("TS", dtTimeStamp),
                                                  MakeField("B", dtBCD), MakeField("BY", dtBytes, 3)});
  std::vector<std::uint8_t> record = RecordFor(fields);
  for (const TFieldDefinition& def : fields) {
    SCOPED_TRACE(def.Name.Str());
    std::array<std::uint8_t, 64> source{};
    for (std::size_t i = 0; i < def.PhysicalSize; ++i) source[i] = static_cast<std::uint8_t>(0xA0 + i);
    InternalPutField(def, record.data(), source.data(), false, kAnsiStandard);
    std::array<std::uint8_t, 64> read{};
    bool isNull = true;
    InternalGetField(def, record.data(), read.data(), isNull);
    EXPECT_FALSE(isNull);
    EXPECT_EQ(std::memcmp(read.data(), source.data(), def.PhysicalSize), 0);
    EXPECT_EQ(read[def.PhysicalSize], 0);  // nothing written past the value

    InternalPutField(def, record.data(), nullptr, false, kAnsiStandard);
    read.fill(0xEE);
    InternalGetField(def, record.data(), read.data(), isNull);
    EXPECT_TRUE(isNull);
    for (std::size_t i = 0; i < def.PhysicalSize; ++i) EXPECT_EQ(read[i], 0) << "byte " << i;
    // Without a destination only the null state is answered.
    isNull = false;
    InternalGetField(def, record.data(), nullptr, isNull);
    EXPECT_TRUE(isNull);
  }
}

TEST(FieldAccess, BooleansAreNormalised) {
  std::vector<TFieldDefinition> fields = LaidOut({MakeField("FLAG", dtBoolean)});
  std::vector<std::uint8_t> record = RecordFor(fields);
  for (std::uint16_t raw : {std::uint16_t{0}, std::uint16_t{1}, std::uint16_t{2}, std::uint16_t{0x100}, std::uint16_t{0xFFFF}}) {
    std::array<std::uint8_t, 2> source{};
    codec::PutU16(source.data(), 0, raw);
    InternalPutField(fields[0], record.data(), source.data(), false, kAnsiStandard);
    std::array<std::uint8_t, 2> read{};
    bool isNull = true;
    InternalGetField(fields[0], record.data(), read.data(), isNull);
    EXPECT_FALSE(isNull) << raw;
    EXPECT_EQ(codec::GetU16(read.data(), 0), raw != 0 ? 1 : 0) << raw;
  }
}

TEST(FieldAccess, BlobReferenceNullStateFollowsItsSign) {
  const struct {
    std::int32_t Reference;
    bool BlobEmpty;
    bool Null;
  } cases[] = {{7, false, false}, {7, true, false}, {0, false, true}, {-3, false, false}, {-3, true, true}};
  std::vector<TFieldDefinition> fields = LaidOut({MakeField("MEMO", dtBlob, 0, dstMemo)});
  for (const auto& c : cases) {
    std::vector<std::uint8_t> record = RecordFor(fields);
    std::uint8_t* data = record.data() + fields[0].FieldOffset + 1;
    codec::PutI32(data, 4, 0x5A5A5A5A);  // the signature is not the writer's business
    std::array<std::uint8_t, 4> source{};
    codec::PutI32(source.data(), 0, c.Reference);
    InternalPutField(fields[0], record.data(), source.data(), c.BlobEmpty, kAnsiStandard);
    std::array<std::uint8_t, 8> read{};
    bool isNull = false;
    InternalGetField(fields[0], record.data(), read.data(), isNull);
    EXPECT_EQ(isNull, c.Null) << c.Reference << " empty " << c.BlobEmpty;
    EXPECT_EQ(codec::GetI32(read.data(), 0), c.Reference);
    EXPECT_EQ(codec::GetI32(read.data(), 4), 0) << "only the 4-byte reference is read";
    EXPECT_EQ(codec::GetI32(data, 4), 0x5A5A5A5A);

    InternalPutField(fields[0], record.data(), nullptr, false, kAnsiStandard);
    InternalGetField(fields[0], record.data(), read.data(), isNull);
    EXPECT_TRUE(isNull);
    EXPECT_EQ(codec::GetI32(data, 0), 0);
  }
}

TEST(FieldAccess, AutoIncrementFieldIsTheRecordId) {
  std::vector<TFieldDefinition> fields =
      LaidOut({MakeField("NAME", dtString, 4), MakeField("ID", dtInteger, 0, dstAutoInc)});
  ASSERT_EQ(fields[1].FieldOffset, kAutoIncFieldOffset);
  std::vector<std::uint8_t> record = RecordFor(fields);
  std::array<std::uint8_t, 4> source{};
  codec::PutI32(source.data(), 0, 4711);
  InternalPutField(fields[1], record.data(), source.data(), false, kAnsiStandard);
  EXPECT_EQ(RecordIdOf(record), 4711);
  EXPECT_EQ(record[4], 0);
  EXPECT_EQ(record[9], 0) << "no null flag of its own";

  // Set null leaves the record ID; reading never reports null.
  InternalPutField(fields[1], record.data(), nullptr, false, kAnsiStandard);
  std::array<std::uint8_t, 4> read{};
  bool isNull = true;
  InternalGetField(fields[1], record.data(), read.data(), isNull);
  EXPECT_FALSE(isNull);
  EXPECT_EQ(codec::GetI32(read.data(), 0), 4711);
}

// One field of each type with a default text, applied to a zeroed record.
TEST(FieldAccess, DefaultsOfEveryType) {
  std::vector<TFieldDefinition> fields = LaidOut({
      MakeField("S", dtString, 8),      MakeField("D", dtDate),        MakeField("DNOW", dtDate),
      MakeField("T", dtTime),           MakeField("TNOW", dtTime),     MakeField("TS", dtTimeStamp),
      MakeField("TSDAY", dtTimeStamp),  MakeField("TSTIME", dtTimeStamp), MakeField("TSNOW", dtTimeStamp),
      MakeField("BOOL", dtBoolean),     MakeField("SMALL", dtSmallInt), MakeField("INT", dtInteger),
      MakeField("WORD", dtWord),        MakeField("LARGE", dtLargeInt), MakeField("FLOAT", dtFloat),
      MakeField("BCD", dtBCD),          MakeField("MEMO", dtBlob, 0, dstMemo), MakeField("RAW", dtBytes, 4),
      MakeField("NODEFAULT", dtInteger),
  });
  const char* texts[] = {"abc",   "2024-02-29",    "current_date", "13:45:10.5", "Current_Time",
                         "2024-02-29 13:45:10", "CURRENT_DATE", "CURRENT_TIME", "CURRENT_TIMESTAMP",
                         "true",  "-5",            "123456",       "65535",      "-9000000000",
                         "2.5",   "12.345",        "text",         "text",       ""};
  for (std::size_t i = 0; i < fields.size(); ++i) fields[i].DefaultValue.Assign(texts[i]);
  fields[15].Decimals = 2;
  fields[15].PhysicalDecimals = 2;

  std::vector<std::uint8_t> record = RecordFor(fields);
  const TLocalNow before = CurrentLocalDateTime();
  ApplyDefaults(fields, record.data(), kAnsiStandard);
  const TLocalNow after = CurrentLocalDateTime();
  // The rare run across midnight proves nothing about "today": run again.
  if (before.Date != after.Date) GTEST_SKIP() << "ran across midnight";

  auto data = [&](std::size_t i) { return record.data() + fields[i].FieldOffset + 1; };
  auto isNull = [&](std::size_t i) { return record[fields[i].FieldOffset] == 0; };
  const double day = static_cast<double>(kMillisecondsPerDay);
  std::int32_t leapDay = 0;
  ASSERT_TRUE(TryEncodeDate(2024, 2, 29, leapDay));

  EXPECT_EQ(std::string(reinterpret_cast<const char*>(data(0))), "abc");
  EXPECT_EQ(codec::GetI32(data(1), 0), leapDay);
  EXPECT_EQ(codec::GetI32(data(2), 0), before.Date);
  EXPECT_EQ(codec::GetI32(data(3), 0), ((13 * 60 + 45) * 60 + 10) * 1000 + 5);
  EXPECT_GE(codec::GetI32(data(4), 0), before.Time);
  EXPECT_LE(codec::GetI32(data(4), 0), after.Time);
  EXPECT_EQ(codec::GetF64(data(5), 0), leapDay * day + ((13 * 60 + 45) * 60 + 10) * 1000.0);
  EXPECT_EQ(codec::GetF64(data(6), 0), before.Date * day);
  EXPECT_GE(codec::GetF64(data(7), 0), before.Time);
  EXPECT_LE(codec::GetF64(data(7), 0), after.Time);
  EXPECT_GE(codec::GetF64(data(8), 0), before.Date * day + before.Time);
  EXPECT_LE(codec::GetF64(data(8), 0), after.Date * day + after.Time);
  EXPECT_EQ(codec::GetU16(data(9), 0), 1);
  EXPECT_EQ(static_cast<std::int16_t>(codec::GetU16(data(10), 0)), -5);
  EXPECT_EQ(codec::GetI32(data(11), 0), 123456);
  EXPECT_EQ(codec::GetU16(data(12), 0), 65535);
  std::int64_t large = 0;
  std::memcpy(&large, data(13), 8);
  EXPECT_EQ(large, -9000000000LL);
  EXPECT_EQ(codec::GetF64(data(14), 0), 2.5);
  std::int64_t fixed = 0;
  ASSERT_TRUE(BcdToFixed(data(15), fixed));
  EXPECT_EQ(fixed, 123500) << "rounded to the field's 2 places";
  for (std::size_t i = 0; i < 16; ++i) EXPECT_FALSE(isNull(i)) << fields[i].Name.Str();
  for (std::size_t i = 16; i < fields.size(); ++i) EXPECT_TRUE(isNull(i)) << fields[i].Name.Str();
}

TEST(FieldAccess, DefaultConversionAnswersFalseOrRaises) {
  std::array<std::uint8_t, kFieldValueWorkSize> work{};
  work.fill(0xEE);
  TFieldDefinition noText = LaidOut({MakeField("I", dtInteger)})[0];
  EXPECT_FALSE(ConvertDefaultValue(noText, work));
  EXPECT_EQ(work[0], 0) << "the work area is zeroed";

  TFieldDefinition memo = LaidOut({MakeField("M", dtBlob, 0, dstMemo)})[0];
  memo.DefaultValue.Assign("abc");
  EXPECT_FALSE(ConvertDefaultValue(memo, work));

  // Texts a table header would refuse still give a clear error, never a value.
  TFieldDefinition small = LaidOut({MakeField("S", dtSmallInt)})[0];
  small.DefaultValue.Assign("40000");
  EXPECT_THROW(ConvertDefaultValue(small, work), EConvertError);
  TFieldDefinition date = LaidOut({MakeField("D", dtDate)})[0];
  date.DefaultValue.Assign("yesterday");
  EXPECT_THROW(ConvertDefaultValue(date, work), EConvertError);
}

std::vector<std::uint8_t> Bytes16(std::int16_t v) {
  std::vector<std::uint8_t> b(2);
  codec::PutU16(b.data(), 0, static_cast<std::uint16_t>(v));
  return b;
}
std::vector<std::uint8_t> Bytes32(std::int32_t v) {
  std::vector<std::uint8_t> b(4);
  codec::PutI32(b.data(), 0, v);
  return b;
}
std::vector<std::uint8_t> Bytes64(std::int64_t v) {
  std::vector<std::uint8_t> b(8);
  std::memcpy(b.data(), &v, 8);
  return b;
}
std::vector<std::uint8_t> BytesF(double v) {
  std::vector<std::uint8_t> b(8);
  codec::PutF64(b.data(), 0, v);
  return b;
}
std::vector<std::uint8_t> BytesBcd(std::int64_t fixed) {
  std::vector<std::uint8_t> b(kBcdPhysicalSize);
  FixedToBcd(fixed, 2, b.data());
  return b;
}
std::vector<std::uint8_t> BytesText(const std::string& text, std::size_t size) {
  std::vector<std::uint8_t> b(size, 0);
  std::memcpy(b.data(), text.data(), text.size());
  return b;
}
std::int32_t Day(int y, int m, int d) {
  std::int32_t day = 0;
  EXPECT_TRUE(TryEncodeDate(y, m, d, day));
  return day;
}

TEST(FieldAccess, LimitsOfEachTypeFamily) {
  const double msDay = static_cast<double>(kMillisecondsPerDay);
  const std::int32_t today = CurrentLocalDateTime().Date;
  const struct {
    const char* What;
    std::uint8_t Type;
    TFieldLanguage Language;
    const char* Limit;
    TFieldExpressionType Kind;
    std::vector<std::uint8_t> Value;
    bool Passes;
  } cases[] = {
      {"string below minimum", dtString, kAnsiStandard, "b", feMinimum, BytesText("a", 11), false},
      {"string at minimum", dtString, kAnsiStandard, "b", feMinimum, BytesText("b", 11), true},
      {"longer string above maximum", dtString, kAnsiStandard, "b", feMaximum, BytesText("ba", 11), false},
      {"string at maximum", dtString, kAnsiStandard, "b", feMaximum, BytesText("b", 11), true},
      {"byte order on ANSI Standard", dtString, kAnsiStandard, "f", feMaximum, BytesText("\xE9", 11), false},
      {"collation of the language", dtString, kFrench, "f", feMaximum, BytesText("\xE9", 11), true},
      {"date below minimum", dtDate, kAnsiStandard, "2024-01-01", feMinimum, Bytes32(Day(2023, 12, 31)), false},
      {"date at minimum", dtDate, kAnsiStandard, "2024-01-01", feMinimum, Bytes32(Day(2024, 1, 1)), true},
      {"date above CURRENT_DATE", dtDate, kAnsiStandard, "current_date", feMaximum, Bytes32(today + 1), false},
      {"time above maximum", dtTime, kAnsiStandard, "12:00", feMaximum, Bytes32(12 * 3600000 + 1), false},
      {"time at maximum", dtTime, kAnsiStandard, "12:00", feMaximum, Bytes32(12 * 3600000), true},
      {"timestamp below minimum", dtTimeStamp, kAnsiStandard, "2024-01-01 00:00:01", feMinimum,
       BytesF(Day(2024, 1, 1) * msDay), false},
      {"timestamp date-only limit", dtTimeStamp, kAnsiStandard, "2024-01-01", feMinimum,
       BytesF(Day(2024, 1, 1) * msDay), true},
      {"timestamp below CURRENT_DATE", dtTimeStamp, kAnsiStandard, "CURRENT_DATE", feMinimum,
       BytesF(today * msDay - 1), false},
      {"small integer below minimum", dtSmallInt, kAnsiStandard, "-5", feMinimum, Bytes16(-6), false},
      {"small integer at minimum", dtSmallInt, kAnsiStandard, "-5", feMinimum, Bytes16(-5), true},
      {"word is unsigned", dtWord, kAnsiStandard, "100", feMaximum, Bytes16(static_cast<std::int16_t>(40001)), false},
      {"word at maximum", dtWord, kAnsiStandard, "40000", feMaximum, Bytes16(static_cast<std::int16_t>(40000)), true},
      {"integer above maximum", dtInteger, kAnsiStandard, "100", feMaximum, Bytes32(101), false},
      {"negative integer", dtInteger, kAnsiStandard, "-100", feMinimum, Bytes32(-101), false},
      {"large integer above maximum", dtLargeInt, kAnsiStandard, "9000000000", feMaximum, Bytes64(9000000001), false},
      {"large integer at maximum", dtLargeInt, kAnsiStandard, "9000000000", feMaximum, Bytes64(9000000000), true},
      {"float below minimum", dtFloat, kAnsiStandard, "1.5", feMinimum, BytesF(1.4999), false},
      {"float at minimum", dtFloat, kAnsiStandard, "1.5", feMinimum, BytesF(1.5), true},
      {"BCD above maximum", dtBCD, kAnsiStandard, "10.5", feMaximum, BytesBcd(105100), false},
      {"BCD at maximum", dtBCD, kAnsiStandard, "10.5", feMaximum, BytesBcd(105000), true},
      {"BCD negative minimum", dtBCD, kAnsiStandard, "-0.01", feMinimum, BytesBcd(-200), false},
      {"BLOB has no order", dtBlob, kAnsiStandard, "zzz", feMinimum, Bytes32(1), true},
      {"empty limit", dtInteger, kAnsiStandard, "", feMinimum, Bytes32(-1), true},
  };
  for (const auto& c : cases) {
    TFieldDefinition def = LaidOut({MakeField("V", c.Type, c.Type == dtString ? 10 : 0)})[0];
    EXPECT_EQ(CheckField(c.Limit, c.Kind, c.Value.data(), def, c.Language), c.Passes) << c.What;
  }
}

struct TValidityFixture {
  std::vector<TFieldDefinition> Fields = LaidOut({MakeField("A", dtInteger), MakeField("B", dtInteger),
                                                  MakeField("NAME", dtString, 10)});
  std::vector<std::uint8_t> Record = RecordFor(Fields);
  const TFieldRulesContext Context{"quota", "/data/vantrel/"};

  void Set(std::size_t i, std::int32_t v) {
    const auto bytes = Bytes32(v);
    InternalPutField(Fields[i], Record.data(), bytes.data(), false, kAnsiStandard);
  }
  // The code raised and the field it names ("" when the record passes).
  std::pair<TarnErrorCode, std::string> Check() {
    try {
      CheckRecordValidity(Fields, Record.data(), Context, kAnsiStandard);
    } catch (const ETarnEngineError& e) {
      EXPECT_EQ(e.ErrorTableName(), "quota");
      EXPECT_EQ(e.ErrorDatabaseName(), "/data/vantrel/");
      return {e.ErrorCode(), e.ErrorFieldName()};
    }
    return {TARN_NONE, ""};
  }
};

TEST(FieldAccess, ValidityReportsTheFirstFailingFieldRequiredBeforeLimits) {
  using TResult = std::pair<TarnErrorCode, std::string>;
  TValidityFixture f;
  f.Fields[0].MaxValue.Assign("10");
  f.Fields[1].MinValue.Assign("5");
  f.Fields[2].Required = 1;
  f.Fields[2].MinValue.Assign("m");
  f.Set(0, 11);
  f.Set(1, 1);
  PutText(f.Fields[2], f.Record, "a", kAnsiStandard);
  EXPECT_EQ(f.Check(), (TResult{TARN_MAXVALERR, "A"}));
  f.Set(0, 10);
  EXPECT_EQ(f.Check(), (TResult{TARN_MINVALERR, "B"}));
  f.Set(1, 5);
  EXPECT_EQ(f.Check(), (TResult{TARN_MINVALERR, "NAME"}));
  // Null and required: reported as required, not as below its minimum.
  InternalPutField(f.Fields[2], f.Record.data(), nullptr, false, kAnsiStandard);
  EXPECT_EQ(f.Check(), (TResult{TARN_REQDERR, "NAME"}));
  PutText(f.Fields[2], f.Record, "zebra", kAnsiStandard);
  EXPECT_EQ(f.Check(), (TResult{TARN_NONE, ""}));
}

TEST(FieldAccess, NullFieldThatIsNotRequiredIsComparedAsZero) {
  using TResult = std::pair<TarnErrorCode, std::string>;
  TValidityFixture f;
  f.Fields[0].MinValue.Assign("-3");
  f.Fields[1].MinValue.Assign("1");
  EXPECT_EQ(f.Check(), (TResult{TARN_MINVALERR, "B"}));
  // The data bytes behind a null flag do not count, only the zero value.
  f.Record[f.Fields[1].FieldOffset + 1] = 7;
  EXPECT_EQ(f.Check(), (TResult{TARN_MINVALERR, "B"}));
  f.Fields[1].MinValue.Assign("0");
  f.Fields[1].MaxValue.Assign("-1");
  EXPECT_EQ(f.Check(), (TResult{TARN_MAXVALERR, "B"}));
  f.Fields[1].MaxValue.Clear();
  EXPECT_EQ(f.Check(), (TResult{TARN_NONE, ""}));
}

}  // namespace
}  // namespace tarn
