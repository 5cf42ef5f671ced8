// BCD records, 4-decimal fixed-point arithmetic with overflow detection, and
// BCD values in expressions.
#include <gtest/gtest.h>

#include <limits>

#include "evaluation_test_support.h"

namespace tarn {
namespace {

using namespace testing_support;

TEST(BcdValues, RecordRoundTrip) {
  const std::int64_t values[] = {0, 1, -1, 123456789, -98765, 10000, std::numeric_limits<std::int64_t>::max(),
                                 std::numeric_limits<std::int64_t>::min() + 1};
  for (const std::int64_t v : values) {
    std::uint8_t bcd[34];
    FixedToBcd(v, 4, bcd);
    EXPECT_EQ(bcd[0], 32);
    EXPECT_EQ(bcd[1] & 0x3F, 4);
    EXPECT_EQ((bcd[1] & 0x80) != 0, v < 0);
    std::int64_t back = 0;
    ASSERT_TRUE(BcdToFixed(bcd, back));
    EXPECT_EQ(back, v);
  }
}

TEST(BcdValues, RecordLayoutAndScale) {
  std::uint8_t bcd[34];
  FixedToBcd(-123450, 2, bcd);  // -12.345 stored with 2 places: -12.35 (half away from zero)
  EXPECT_EQ(bcd[0], 32);
  EXPECT_EQ(bcd[1], 0x80 | 2);
  // 32 digits, the last four "1235".
  EXPECT_EQ(bcd[2 + 14], 0x12);
  EXPECT_EQ(bcd[2 + 15], 0x35);
  std::int64_t fixed = 0;
  ASSERT_TRUE(BcdToFixed(bcd, fixed));
  EXPECT_EQ(fixed, -123500);
  // Six places: the fifth and sixth decimals round at the fourth.
  std::uint8_t six[34] = {8, 6, 0x12, 0x34, 0x56, 0x75};  // 12.345675
  ASSERT_TRUE(BcdToFixed(six, fixed));
  EXPECT_EQ(fixed, 123457);
  // Malformed records are refused, not read past.
  std::uint8_t badDigit[34] = {2, 0, 0xA1};
  EXPECT_FALSE(BcdToFixed(badDigit, fixed));
  std::uint8_t badPrecision[34] = {65, 0};
  EXPECT_FALSE(BcdToFixed(badPrecision, fixed));
  // 20 integer digits do not fit 64-bit fixed point.
  std::uint8_t huge[34] = {20, 0, 0x99, 0x99, 0x99, 0x99, 0x99, 0x99, 0x99, 0x99, 0x99, 0x99};
  EXPECT_FALSE(BcdToFixed(huge, fixed));
}

TEST(BcdValues, FixedArithmeticDetectsOverflow) {
  constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
  constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();
  std::int64_t r = 0;
  EXPECT_TRUE(FixedAdd(15000, 25000, r));
  EXPECT_EQ(r, 40000);
  EXPECT_FALSE(FixedAdd(kMax, 1, r));
  EXPECT_FALSE(FixedSub(kMin, 1, r));
  EXPECT_TRUE(FixedMul(25000, -30000, r));  // 2.5 * -3 = -7.5
  EXPECT_EQ(r, -75000);
  EXPECT_TRUE(FixedMul(kMax, 10000, r));  // x * 1
  EXPECT_EQ(r, kMax);
  EXPECT_FALSE(FixedMul(kMax, 20000, r));
  EXPECT_TRUE(FixedDiv(10000, 30000, r));  // 1 / 3
  EXPECT_EQ(r, 3333);
  EXPECT_TRUE(FixedDiv(20000, 30000, r));  // 2 / 3, rounded
  EXPECT_EQ(r, 6667);
  EXPECT_TRUE(FixedDiv(-20000, 30000, r));
  EXPECT_EQ(r, -6667);
  EXPECT_FALSE(FixedDiv(kMax, 1, r));  // x / 0.0001
  EXPECT_FALSE(FixedDiv(1, 0, r));
  EXPECT_FALSE(IntegerToFixed(kMax / 1000, r));
  EXPECT_TRUE(IntegerToFixed(-922337203685477, r));
  EXPECT_FALSE(FloatToFixed(1e300, r));
  EXPECT_TRUE(FloatToFixed(-0.00005, r));  // half away from zero
  EXPECT_EQ(r, -1);
}

TEST(BcdValues, ExpressionArithmeticAndComparison) {
  TTestRecord r;
  r.Set(col::kAmount, BcdBytes("12.34")).Set(col::kAge, Bytes<std::int32_t>(3)).Set(col::kRatio, Bytes<double>(0.5));
  struct TCase {
    std::string Text, Expected;
  };
  const TCase cases[] = {
      {"Amount + 1", "bcd 13.34"},
      {"Amount - Age", "bcd 9.34"},
      {"Amount * Age", "bcd 37.02"},
      {"Amount * 0.5", "6.17"},        // BCD with a float gives a float
      {"Amount / 4", "bcd 3.09"},      // 3.085 kept with the node's 2 decimals
      {"Amount / 0", "NULL"},
      {"Amount / (Age - 3)", "NULL"},
      {"Amount + Amount", "bcd 24.68"},
      {"-Amount", "bcd -12.34"},
      {"Age + Amount", "bcd 15.34"},
      {"Amount > 12", "true"},
      {"Amount < 12.35", "true"},
      {"Amount = 12.34", "true"},
      {"Amount >= Age", "true"},
      {"Amount BETWEEN 12 AND 13", "true"},
      {"Amount IN (1, 12.34)", "true"},
      {"Ratio < Amount", "true"},
  };
  for (const auto& c : cases) EXPECT_EQ(EvaluateText(c.Text, r), c.Expected) << c.Text;
}

TEST(BcdValues, ExpressionOverflowRaises) {
  TTestRecord r;
  r.Set(col::kAmount, BcdBytes("900000000000000")).Set(col::kBig, Bytes<std::int64_t>(std::numeric_limits<std::int64_t>::max()));
  struct TCase {
    std::string Text, Expected;
  };
  const TCase cases[] = {
      {"Amount + Amount", "error: Numeric overflow in expression '+'"},
      {"Amount * 100", "error: Numeric overflow in expression '*'"},
      {"Amount / 0.0001", AnsiFloatToStr(900000000000000.0 / 0.0001)},  // a float result
      {"Amount + Big", "error: Numeric overflow in expression '+'"},
      {"Amount - 1", "bcd 899999999999999"},
  };
  for (const auto& c : cases) EXPECT_EQ(EvaluateText(c.Text, r), c.Expected) << c.Text;
}

}  // namespace
}  // namespace tarn
