// Key forms of field values: for every keyed data type, the unsigned byte
// order of the prepared keys is the value order (ascending), its reverse
// (descending in ANSI Standard tables), and nulls sort first (or last).
#include "storage/keys/key_encoding.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "storage/formats/data_types.h"
#include "storage/keys/key_compare.h"

namespace tarn {
namespace {

using Bytes = std::vector<std::uint8_t>;

template <typename T>
Bytes Raw(T v) {
  Bytes b(sizeof v);
  std::memcpy(b.data(), &v, sizeof v);
  return b;
}

Bytes Str(const std::string& s, std::size_t physicalSize) {
  Bytes b(physicalSize, 0);
  std::memcpy(b.data(), s.data(), std::min(s.size(), physicalSize));
  return b;
}

// A packed decimal: digits as text ("12345"), places, sign.
Bytes Bcd(const std::string& digits, unsigned places, bool negative) {
  Bytes b(34, 0);
  b[0] = static_cast<std::uint8_t>(digits.size());
  b[1] = static_cast<std::uint8_t>(places | (negative ? 0x80 : 0));
  for (std::size_t i = 0; i < digits.size(); ++i) {
    const auto d = static_cast<std::uint8_t>(digits[i] - '0');
    b[2 + i / 2] |= (i % 2 == 0) ? static_cast<std::uint8_t>(d << 4) : d;
  }
  return b;
}

// The key part (presence byte + prepared value) of one value; an empty value is null.
Bytes KeyOf(std::uint8_t type, std::uint8_t physicalSize, const Bytes& value, bool descending,
            std::uint16_t languageID = 0, bool caseInsensitive = false) {
  Bytes key(1u + IndexedSize(type, physicalSize), 0);
  key[0] = value.empty() ? 0 : 1;
  PrepareDataForIndex(type, physicalSize, value.empty() ? nullptr : value.data(), key.data(), 0, languageID,
                      descending, caseInsensitive);
  return key;
}

int ByteOrder(const Bytes& a, const Bytes& b) { return CompareBytes(a.data(), b.data(), a.size(), false); }

struct TypeCase {
  const char* name;
  std::uint8_t type;
  std::uint8_t physicalSize;
  std::vector<Bytes> ascending;  // strictly increasing values
};

std::vector<TypeCase> TypeCases() {
  constexpr double inf = std::numeric_limits<double>::infinity();
  return {
      {"integer", dtInteger, 4,
       {Raw<std::int32_t>(INT32_MIN), Raw<std::int32_t>(-70000), Raw<std::int32_t>(-1), Raw<std::int32_t>(0),
        Raw<std::int32_t>(1), Raw<std::int32_t>(255), Raw<std::int32_t>(256), Raw<std::int32_t>(INT32_MAX)}},
      {"date", dtDate, 4, {Raw<std::int32_t>(1), Raw<std::int32_t>(693594), Raw<std::int32_t>(730000)}},
      {"time", dtTime, 4, {Raw<std::int32_t>(0), Raw<std::int32_t>(1000), Raw<std::int32_t>(86399999)}},
      {"smallint", dtSmallInt, 2,
       {Raw<std::int16_t>(INT16_MIN), Raw<std::int16_t>(-2), Raw<std::int16_t>(0), Raw<std::int16_t>(300),
        Raw<std::int16_t>(INT16_MAX)}},
      {"word", dtWord, 2, {Raw<std::uint16_t>(0), Raw<std::uint16_t>(1), Raw<std::uint16_t>(256),
                            Raw<std::uint16_t>(65535)}},
      {"boolean", dtBoolean, 2, {Raw<std::uint16_t>(0), Raw<std::uint16_t>(1)}},
      {"largeint", dtLargeInt, 8,
       {Raw<std::int64_t>(INT64_MIN), Raw<std::int64_t>(-4294967296LL), Raw<std::int64_t>(-1),
        Raw<std::int64_t>(0), Raw<std::int64_t>(4294967296LL), Raw<std::int64_t>(INT64_MAX)}},
      {"float", dtFloat, 8,
       {Raw(-inf), Raw(-1e300), Raw(-2.5), Raw(-1.0), Raw(-1e-300), Raw(0.0), Raw(1e-300), Raw(1.0), Raw(2.5),
        Raw(1e300), Raw(inf)}},
      {"timestamp", dtTimeStamp, 8, {Raw(6.3e13), Raw(6.3e13 + 1), Raw(6.4e13)}},
      {"bcd", dtBCD, 34,
       {Bcd("99999", 0, true), Bcd("12345", 2, true), Bcd("100", 2, true), Bcd("5", 4, true), Bcd("0", 0, false),
        Bcd("5", 4, false), Bcd("100", 2, false), Bcd("12345", 4, false), Bcd("12345", 2, false),
        Bcd("99999", 0, false)}},
      {"string", dtString, 11,
       {Str("", 11), Str("A", 11), Str("AB", 11), Str("ABC", 11), Str("B", 11), Str("a", 11),
        Str("\xD5\xC5", 11), Str("\xFE\xFE\xFE\xFE\xFE\xFE\xFE\xFE\xFE\xFE", 11)}},
      {"bytes", dtBytes, 3, {Bytes{0, 0, 0}, Bytes{0, 0, 1}, Bytes{0, 1, 0}, Bytes{255, 255, 255}}},
  };
}

TEST(KeyEncoding, ByteOrderIsValueOrderPerType) {
  for (const TypeCase& tc : TypeCases()) {
    for (bool descending : {false, true}) {
      std::vector<Bytes> keys;
      for (const Bytes& v : tc.ascending) keys.push_back(KeyOf(tc.type, tc.physicalSize, v, descending));
      const Bytes null = KeyOf(tc.type, tc.physicalSize, {}, descending);
      for (std::size_t i = 0; i < keys.size(); ++i) {
        ASSERT_EQ(keys[i].size(), 1u + IndexedSize(tc.type, tc.physicalSize));
        // A null sorts before every value ascending, after every value descending.
        EXPECT_EQ(ByteOrder(null, keys[i]), descending ? 1 : -1) << tc.name << " null vs #" << i;
        for (std::size_t j = 0; j < keys.size(); ++j) {
          const int expect = i < j ? -1 : (i > j ? 1 : 0);
          EXPECT_EQ(ByteOrder(keys[i], keys[j]), descending ? -expect : expect)
              << tc.name << (descending ? " desc #" : " asc #") << i << " vs #" << j;
        }
      }
    }
  }
}

TEST(KeyEncoding, FlipRoutinesWriteBigEndianWithSignBitInverted) {
  std::uint8_t out[8];
  FlipIntegerBits(-1, out);
  EXPECT_EQ(Bytes(out, out + 4), (Bytes{0x7F, 0xFF, 0xFF, 0xFF}));
  FlipIntegerBits(0, out);
  EXPECT_EQ(Bytes(out, out + 4), (Bytes{0x80, 0x00, 0x00, 0x00}));
  FlipIntegerBits(0x01020304, out);
  EXPECT_EQ(Bytes(out, out + 4), (Bytes{0x81, 0x02, 0x03, 0x04}));
  FlipSmallIntBits(-2, out);
  EXPECT_EQ(Bytes(out, out + 2), (Bytes{0x7F, 0xFE}));
  FlipWordBits(0x1234, out);
  EXPECT_EQ(Bytes(out, out + 2), (Bytes{0x12, 0x34}));
  FlipLargeIntBits(1, out);
  EXPECT_EQ(Bytes(out, out + 8), (Bytes{0x80, 0, 0, 0, 0, 0, 0, 1}));
  FlipCurrencyBits(-1, out);
  EXPECT_EQ(Bytes(out, out + 8), (Bytes{0x7F, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}));
  FlipFloatBits(1.0, out);  // 0x3FF0... with the top bit set
  EXPECT_EQ(Bytes(out, out + 8), (Bytes{0xBF, 0xF0, 0, 0, 0, 0, 0, 0}));
  FlipFloatBits(-1.0, out);  // 0xBFF0... complemented
  EXPECT_EQ(Bytes(out, out + 8), (Bytes{0x40, 0x0F, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}));
  std::uint8_t neg0[8], pos0[8];
  FlipFloatBits(-0.0, neg0);
  FlipFloatBits(0.0, pos0);
  EXPECT_EQ(std::memcmp(neg0, pos0, 8), 0);  // -0.0 keys like 0.0
  std::uint8_t buf[3] = {0, 1, 255};
  FlipBuffer(buf, 3);
  EXPECT_EQ(Bytes(buf, buf + 3), (Bytes{255, 254, 0}));
  EXPECT_EQ(FlipIntegerSign(5), -5);
  EXPECT_EQ(FlipIntegerSign(INT32_MIN), INT32_MIN);
}

TEST(KeyEncoding, BcdToCurrency) {
  struct Case { Bytes bcd; std::int64_t expect; };
  const Case cases[] = {
      {Bcd("0", 0, false), 0},
      {Bcd("12345", 2, false), 1234500},     // 123.45
      {Bcd("12345", 2, true), -1234500},
      {Bcd("123456789", 6, false), 1234568},  // 123.456789 rounds to 123.4568
      {Bcd("123456749", 6, false), 1234567},
      {Bcd("00015", 5, true), -2},            // -0.00015 rounds away from zero
      {Bcd("00014", 5, false), 1},
      {Bcd("7", 0, false), 70000},
      {Bcd(std::string(30, '9'), 0, false), INT64_MAX},  // saturates
      {Bcd(std::string(30, '9'), 0, true), INT64_MIN},
  };
  for (const Case& c : cases) EXPECT_EQ(BcdToCurrency(c.bcd.data()), c.expect);
  // Hostile records: precision beyond 64 digits, places beyond precision, bad nibbles.
  Bytes bad(34, 0xFF);
  bad[1] = 0x3F;
  EXPECT_GT(BcdToCurrency(bad.data()), 0);
}

TEST(KeyEncoding, AnsiDescendingStringKeepsTerminatorAndReversesPrefixOrder) {
  // Indexed size 6 (declared size 5): presence byte and the first 5 value bytes
  // are complemented, the last value byte stays the terminating zero.
  const Bytes ab = KeyOf(dtString, 6, Str("ab", 6), true);
  EXPECT_EQ(ab, (Bytes{0xFE, 255 - 'a', 255 - 'b', 0xFF, 0xFF, 0xFF, 0x00}));
  const Bytes abc = KeyOf(dtString, 6, Str("abc", 6), true);
  const Bytes full = KeyOf(dtString, 6, Str("abcde", 6), true);
  EXPECT_EQ(full.back(), 0);
  // Descending: the longer string sorts first.
  EXPECT_EQ(ByteOrder(abc, ab), -1);
  EXPECT_EQ(ByteOrder(full, abc), -1);
}

TEST(KeyEncoding, StringsStopAtTheirTerminatorAndNeverOverrun) {
  // Bytes after the terminator in the record do not reach the key.
  Bytes value = Str("ab", 6);
  value[4] = 'z';
  EXPECT_EQ(KeyOf(dtString, 6, value, false), (Bytes{1, 'a', 'b', 0, 0, 0, 0}));
  // An unterminated value is cut so that the key still ends in zero.
  EXPECT_EQ(KeyOf(dtString, 4, Bytes{'w', 'x', 'y', 'z'}, false), (Bytes{1, 'w', 'x', 'y', 0}));
}

TEST(KeyEncoding, CaseInsensitiveKeysHoldUpperCase) {
  EXPECT_EQ(KeyOf(dtString, 6, Str("abC", 6), false, 0, true), (Bytes{1, 'A', 'B', 'C', 0, 0, 0}));
  // GBK: the trail byte 'a' of a Chinese character is not upper-cased.
  EXPECT_EQ(KeyOf(dtString, 6, Str("\xB0\x61x", 6), false, 0, true), (Bytes{1, 0xB0, 0x61, 'X', 0, 0, 0}));
  // French table (code page 1252): e-acute becomes E-acute.
  EXPECT_EQ(KeyOf(dtString, 4, Str("\xE9t\xE9", 4), false, 0x040C, true), (Bytes{1, 0xC9, 'T', 0xC9, 0}));
}

TEST(KeyEncoding, TablesWithALanguageAreNotComplemented) {
  // Descending is applied by the comparison for tables with a language.
  EXPECT_EQ(KeyOf(dtInteger, 4, Raw<std::int32_t>(1), true, 0x0409), KeyOf(dtInteger, 4, Raw<std::int32_t>(1), false));
  EXPECT_EQ(KeyOf(dtString, 4, Str("ab", 4), true, 0x0409), (Bytes{1, 'a', 'b', 0, 0}));
  EXPECT_EQ(KeyOf(dtString, 4, {}, true, 0x0409), (Bytes{0, 0, 0, 0, 0}));
}

TEST(KeyEncoding, RawTypesAreCopied) {
  const Bytes card = Raw<std::uint32_t>(0x01020304);
  EXPECT_EQ(KeyOf(dtCardinal, 4, card, false), (Bytes{1, 4, 3, 2, 1}));
  EXPECT_EQ(KeyOf(dtVarBytes, 2, Bytes{9, 8}, true), (Bytes{0xFE, 246, 247}));
}

}  // namespace
}  // namespace tarn
