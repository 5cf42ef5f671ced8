// Result text of the shell: every data type in its engine text form from the
// value bytes and a field definition, CSV quoting of NULL, commas, quotes and
// line breaks, and whole results written from a table cursor as aligned
// columns and as CSV, memo and binary BLOBs included.
#include "tools/result_text.h"

#include <gtest/gtest.h>

#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "expressions/bcd_values.h"
#include "sql/sql_fixture.h"
#include "support/field_builders.h"

namespace tarn::tools {
namespace {

using sql_testing::Cell;
using sql_testing::SqlDatabase;

template <class T>
std::vector<std::uint8_t> Bytes(T value) {
  std::vector<std::uint8_t> bytes(sizeof value);
  std::memcpy(bytes.data(), &value, sizeof value);
  return bytes;
}

std::vector<std::uint8_t> Bcd(std::int64_t fixed, std::uint8_t decimals) {
  std::vector<std::uint8_t> bytes(kBcdPhysicalSize);
  FixedToBcd(fixed, decimals, bytes.data());
  return bytes;
}

// A BCD record of precision 32 whose digits are given as text.
std::vector<std::uint8_t> BcdDigits(const std::string& digits, std::uint8_t places, bool negative) {
  std::vector<std::uint8_t> bytes(kBcdPhysicalSize, 0);
  bytes[0] = 32;
  bytes[1] = static_cast<std::uint8_t>(places | (negative ? 0x80 : 0));
  const std::size_t first = 32 - digits.size();
  for (std::size_t i = 0; i < digits.size(); ++i) {
    const std::size_t n = first + i;
    const auto digit = static_cast<std::uint8_t>(digits[i] - '0');
    bytes[2 + n / 2] |= static_cast<std::uint8_t>(n % 2 == 0 ? digit << 4 : digit);
  }
  return bytes;
}

// The 10-byte extended form: mantissa with its integer bit, then sign and
// biased exponent.
std::vector<std::uint8_t> Extended(std::uint64_t mantissa, std::uint16_t signExponent) {
  std::vector<std::uint8_t> bytes(10);
  std::memcpy(bytes.data(), &mantissa, 8);
  std::memcpy(bytes.data() + 8, &signExponent, 2);
  return bytes;
}

std::vector<std::uint8_t> Text(const std::string& text, std::size_t physicalSize) {
  std::vector<std::uint8_t> bytes(physicalSize, 0);
  std::memcpy(bytes.data(), text.data(), text.size());
  return bytes;
}

struct ValueCase {
  const char* Name;
  std::uint8_t Type;
  std::uint8_t Size;  // declared size of strings and bytes
  std::uint8_t SubType;
  std::vector<std::uint8_t> Value;
  std::string Expected;
};

constexpr std::int32_t kDay2000 = 730120;  // 2000-01-01 (day 1 is 0001-01-01)
constexpr double kMsPerDay = 86400000.0;

TEST(ResultText, EveryTypeInItsEngineTextForm) {
  const std::vector<ValueCase> cases = {
      {"string", dtString, 10, 0, Text("ab, \"c\"", 11), "ab, \"c\""},
      {"string filling its size", dtString, 3, 0, Text("xyz", 4), "xyz"},
      {"GBK string as stored", dtString, 4, 0, Text("\xD6\xD0\xCE\xC4", 5), "\xD6\xD0\xCE\xC4"},
      {"date", dtDate, 0, 0, Bytes(std::int32_t{kDay2000 + 30}), "2000-01-31"},
      {"time with milliseconds", dtTime, 0, 0, Bytes(std::int32_t{45296789}), "12:34:56.789 PM"},
      {"time on the minute", dtTime, 0, 0, Bytes(std::int32_t{9 * 3600000 + 5 * 60000}), "09:05 AM"},
      {"timestamp", dtTimeStamp, 0, 0, Bytes(kDay2000 * kMsPerDay + 13.5 * 3600000), "2000-01-01 01:30 PM"},
      {"boolean true", dtBoolean, 0, 0, Bytes(std::uint16_t{1}), "True"},
      {"boolean false", dtBoolean, 0, 0, Bytes(std::uint16_t{0}), "False"},
      {"small integer", dtSmallInt, 0, 0, Bytes(std::int16_t{-32768}), "-32768"},
      {"integer", dtInteger, 0, 0, Bytes(std::int32_t{-2147483647 - 1}), "-2147483648"},
      {"auto-increment", dtInteger, 0, dstAutoInc, Bytes(std::int32_t{42}), "42"},
      {"word", dtWord, 0, 0, Bytes(std::uint16_t{65535}), "65535"},
      {"cardinal", dtCardinal, 0, 0, Bytes(std::uint32_t{4294967295u}), "4294967295"},
      {"large integer", dtLargeInt, 0, 0, Bytes(std::int64_t{-9223372036854775807}), "-9223372036854775807"},
      {"float", dtFloat, 0, 0, Bytes(0.1), "0.1"},
      {"float with exponent", dtFloat, 0, 0, Bytes(-1.5e20), "-1.5e+20"},
      {"money", dtFloat, 0, dstMoney, Bytes(12.25), "12.25"},
      {"extended", dtExtended, 0, 0, Extended(0xC000000000000000ull, 16383), "1.5"},
      {"negative extended", dtExtended, 0, 0, Extended(0x8000000000000000ull, 0x8000 | 16384), "-2"},
      {"BCD", dtBCD, 0, 0, Bcd(-1234500, 2), "-123.45"},
      {"BCD without fraction", dtBCD, 0, 0, Bcd(70000, 2), "7"},
      {"BCD beyond 64 bits", dtBCD, 0, 0, BcdDigits("12345678901234567890123456789012", 2, true),
       "-123456789012345678901234567890.12"},
      {"bytes", dtBytes, 3, 0, std::vector<std::uint8_t>{0x00, 0xAB, 0x10}, "00AB10"},
      {"variable bytes", dtVarBytes, 2, 0, std::vector<std::uint8_t>{0xFF, 0x01}, "FF01"},
  };
  for (const ValueCase& c : cases) {
    std::vector<TFieldDefinition> fields = {test_support::MakeField("F", c.Type, c.Size, c.SubType)};
    test_support::LayOut(fields);
    ASSERT_LE(fields[0].PhysicalSize, c.Value.size()) << c.Name;
    EXPECT_EQ(FieldValueText(fields[0], c.Value.data()), c.Expected) << c.Name;
  }
}

TEST(ResultText, CsvFieldsQuotedOnlyWhenTheyMustBe) {
  struct CsvCase {
    TCellText Cell;
    std::string Expected;
  };
  const std::vector<CsvCase> cases = {
      {{true, ""}, ""},
      {{false, "plain text"}, "plain text"},
      {{false, "a,b"}, "\"a,b\""},
      {{false, "say \"hi\""}, "\"say \"\"hi\"\"\""},
      {{false, "\""}, "\"\"\"\""},
      {{false, "line\nbreak"}, "\"line\nbreak\""},
      {{false, "carriage\rreturn"}, "\"carriage\rreturn\""},
      {{false, "it's; fine"}, "it's; fine"},
      {{false, " padded "}, " padded "},
      {{false, "\xD6\xD0,\xCE\xC4"}, "\"\xD6\xD0,\xCE\xC4\""},
  };
  for (const CsvCase& c : cases) EXPECT_EQ(CsvField(c.Cell), c.Expected) << c.Cell.Text;
}

class ResultTableTest : public ::testing::Test {
 protected:
  void SetUp() override {
    db_.CreateTable("t",
                    {{"ID", dtInteger},
                     {"NAME", dtString, 12},
                     {"AMOUNT", dtFloat},
                     {"NOTE", dtBlob, 0, dstMemo},
                     {"PICTURE", dtBlob, 0, dstGraphic}},
                    {{"", {1}}});
    AppendRow(1, "Ann, \"A\"", 2.5, "first\nnote", std::string(300, 'x'));
    AppendRow(2, std::nullopt, std::nullopt, std::nullopt, std::nullopt);
    AppendRow(10, "Bo", -0.25, "", "");
  }

  // One row through a cursor; BLOB contents are written into new BLOBs.
  void AppendRow(std::int32_t id, std::optional<std::string> name, std::optional<double> amount,
                 std::optional<std::string> note, std::optional<std::string> picture) {
    TDataCursor cursor(db_.Directory());
    cursor.SetTableName("t");
    cursor.OpenCursor();
    std::vector<std::uint8_t> record(cursor.GetRecordBufferSize());
    cursor.InitRecord(record.data());
    cursor.PutField(1, record.data(), Bytes(id).data());
    if (name) cursor.PutField(2, record.data(), Text(*name, 13).data());
    if (amount) cursor.PutField(3, record.data(), Bytes(*amount).data());
    auto putBlob = [&](std::uint16_t field, const std::optional<std::string>& contents) {
      if (!contents) return;
      ASSERT_EQ(cursor.OpenBlob(field, record.data(), 0, false, false), 0);
      ASSERT_EQ(cursor.PutBlob(field, record.data(), false, static_cast<std::int32_t>(contents->size()),
                               reinterpret_cast<const std::uint8_t*>(contents->data()), 0),
                0);
    };
    putBlob(4, note);
    putBlob(5, picture);
    cursor.AppendRecord(record.data());
    cursor.CloseCursor();
  }

  std::string Written(TResultStyle style) {
    TDataCursor cursor(db_.Directory());
    cursor.SetTableName("t");
    cursor.OpenCursor();
    std::ostringstream out;
    WriteResult(cursor, style, out);
    EXPECT_EQ(cursor.OpenBlobCount(), 0u);  // every BLOB read was freed again
    cursor.CloseCursor();
    return out.str();
  }

  SqlDatabase db_;
};

TEST_F(ResultTableTest, CsvHasAHeaderAndOneLinePerRow) {
  EXPECT_EQ(Written(TResultStyle::Csv),
            "ID,NAME,AMOUNT,NOTE,PICTURE\n"
            "1,\"Ann, \"\"A\"\"\",2.5,\"first\nnote\",(BLOB 300 bytes)\n"
            "2,,,,\n"
            "10,Bo,-0.25,,\n");
}

TEST_F(ResultTableTest, AlignedColumnsAreAsWideAsTheirWidestText) {
  EXPECT_EQ(Written(TResultStyle::Aligned),
            "ID  NAME      AMOUNT  NOTE        PICTURE\n"
            "--  --------  ------  ----------  ----------------\n"
            " 1  Ann, \"A\"     2.5  first\nnote  (BLOB 300 bytes)\n"
            " 2\n"
            "10  Bo         -0.25\n");
}

}  // namespace
}  // namespace tarn::tools
