// Key ranges from conditions: for random values and constants, every
// operator, ANSI Standard and a language, ascending and descending indexes
// and case-insensitive ones, a key lies in the range [low, high] exactly when
// the evaluator says the condition holds for its value.
#include "cursor/key_ranges.h"

#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "expressions/exp_token_stack.h"
#include "expressions/expression_evaluator.h"
#include "memory_filter_source.h"
#include "platform/locale_services.h"
#include "storage/formats/data_types.h"
#include "storage/keys/key_builder.h"
#include "storage/keys/key_compare.h"

namespace tarn {
namespace {

using test_support::LaidOut;
using test_support::MakeField;
using test_support::TFieldValue;

constexpr std::uint16_t kEnglish = 0x0409;

struct TRangeCase {
  std::string Name;
  std::uint8_t DataType;
  std::uint16_t LanguageID;
  bool Descending;
  bool CaseInsensitive;
};

// A random value of the type, from a small domain so that equal values and
// bounds at the domain's ends come up often.
TFieldValue RandomValue(std::mt19937& random, std::uint8_t type, bool lowerOnly) {
  std::uniform_int_distribution<int> pick(0, 9);
  if (pick(random) == 0) return std::nullopt;
  switch (type) {
    case dtInteger: {
      static const std::int32_t values[] = {std::numeric_limits<std::int32_t>::min(), -70000, -2, -1, 0, 1, 2, 3, 255, 256, 70000,
                                            std::numeric_limits<std::int32_t>::max()};
      return test_support::ValueOf(values[std::uniform_int_distribution<std::size_t>(0, std::size(values) - 1)(random)]);
    }
    case dtDate: return test_support::ValueOf(std::uniform_int_distribution<std::int32_t>(730000, 730006)(random));
    case dtFloat: {
      static const double values[] = {-1e300, -2.5, -1.0, -0.0, 0.0, 0.5, 1.0, 2.5, 1e300};
      return test_support::ValueOf(values[std::uniform_int_distribution<std::size_t>(0, std::size(values) - 1)(random)]);
    }
    default: {
      const std::string alphabet = lowerOnly ? "abcxyz" : "aAbBcZz09 ";
      std::string s;
      const int length = std::uniform_int_distribution<int>(1, 5)(random);
      for (int i = 0; i < length; ++i)
        s += alphabet[std::uniform_int_distribution<std::size_t>(0, alphabet.size() - 1)(random)];
      if (lowerOnly || std::uniform_int_distribution<int>(0, 3)(random) == 0) {
        // Share prefixes and whole values often.
        static const std::string common[] = {"ab", "abc", "abz", "b", "xy", "z", "zzzzzzzzz"};
        s = common[std::uniform_int_distribution<std::size_t>(0, std::size(common) - 1)(random)] +
            (std::uniform_int_distribution<int>(0, 1)(random) ? s.substr(0, 1) : std::string());
      }
      return test_support::TextOf(s);
    }
  }
}

TExpTokenPtr Token(std::uint8_t type, const TFieldValue& value, std::int32_t physicalSize) {
  TExpTokenPtr node = GetNewExpTokenInstance();
  node->NodeClass = enCONST;
  node->DataType = type;
  node->IsNull = !value.has_value();
  if (type == dtString) {
    node->SetDataSize(physicalSize);
    if (value) {
      std::memcpy(node->ValueData(), value->data(), value->size());
      node->ValueData()[value->size()] = 0;
    }
  } else {
    node->SetDataSize(physicalSize);
    if (value) std::memcpy(node->ValueData(), value->data(), value->size());
  }
  return node;
}

class KeyRanges : public ::testing::TestWithParam<TRangeCase> {};

TEST_P(KeyRanges, KeyInRangeExactlyWhenConditionHolds) {
  const TRangeCase& c = GetParam();
  // Key: the tested field, then an integer field; not unique (record ID).
  auto fields = LaidOut({MakeField("F", c.DataType, c.DataType == dtString ? 10 : 0), MakeField("G", dtInteger)});
  const TFieldDefinition& f = fields[0];
  TIndexDefinition def = MakeEmptyIndexDefinition();
  def.KeyFields[0] = 1;
  def.KeyFields[1] = 2;
  def.KeyFieldCount = 2;
  def.Descending = c.Descending ? 1 : 0;
  def.CaseInsensitive = c.CaseInsensitive ? 1 : 0;
  const TKeyLayout layout = MakeIndexKeyLayout(def, fields, 1, c.LanguageID, 0);
  const std::size_t keySize = layout.KeySize();
  TLanguageCharMap map{};
  GetLanguageCharMap(c.LanguageID, 0, map);
  const TKeyRangeIndex index{layout, keySize, map};
  // Prefix ranges with a language are exact only where collation is plain
  // character order: one case of letters.
  const bool lowerOnly = c.LanguageID != 0;

  std::mt19937 random(1234);
  std::size_t recordSize = fields[1].FieldOffset + 5u;
  std::vector<TFieldValue> values;
  std::vector<std::vector<std::uint8_t>> keys;
  for (int i = 0; i < 60; ++i) {
    TFieldValue v = RandomValue(random, c.DataType, lowerOnly);
    if (v && c.CaseInsensitive && c.DataType == dtString) {
      // The condition of a case-insensitive index compares upper-cased values.
      std::string s(v->begin(), v->end());
      s = OSUpperCase(c.LanguageID, 0, s);
      v = std::vector<std::uint8_t>(s.begin(), s.end());
    }
    std::vector<std::uint8_t> record(recordSize, 0);
    SetRecordHeader(record, kRecordLive, i + 1, i + 1);
    if (v) {
      record[f.FieldOffset] = 1;
      std::memcpy(record.data() + f.FieldOffset + 1, v->data(), v->size());
    }
    record[fields[1].FieldOffset] = 1;
    const std::int32_t g = std::uniform_int_distribution<std::int32_t>(-3, 3)(random);
    std::memcpy(record.data() + fields[1].FieldOffset + 1, &g, 4);
    std::vector<std::uint8_t> key(keySize);
    BuildIndexKey(layout, record, key);
    values.push_back(v);
    keys.push_back(key);
  }

  auto inRange = [&](const TKeyRange& range, const std::vector<std::uint8_t>& key) {
    bool in = !range.Empty && CompareKeys(layout, range.Low.data(), key.data(), keySize) <= 0 &&
              CompareKeys(layout, key.data(), range.High.data(), keySize) <= 0;
    if (in && range.ExcludeEqual)
      in = !(CompareKeys(layout, range.EqualLow.data(), key.data(), keySize) <= 0 &&
             CompareKeys(layout, key.data(), range.EqualHigh.data(), keySize) <= 0);
    return range.Invert ? !in : in;
  };

  const TExpOperator operators[] = {eoEQ, eoNE, eoLT, eoLE, eoGT, eoGE, eoBETWEEN, eoNOTBETWEEN, eoISBLANK, eoNOTBLANK};
  int checked = 0, selected = 0;
  for (int round = 0; round < 40; ++round) {
    TFieldValue constant = RandomValue(random, c.DataType, lowerOnly);
    TFieldValue upper = RandomValue(random, c.DataType, lowerOnly);
    if (c.CaseInsensitive) {
      // UPPER(field) compared with upper-case constants (the optimiser
      // refuses others on a case-insensitive index).
      for (TFieldValue* v : {&constant, &upper}) {
        if (!*v) continue;
        const std::string s = OSUpperCase(c.LanguageID, 0, std::string((*v)->begin(), (*v)->end()));
        *v = std::vector<std::uint8_t>(s.begin(), s.end());
      }
    }
    for (const TExpOperator op : operators) {
      const bool between = op == eoBETWEEN || op == eoNOTBETWEEN;
      // Ordering against NULL is never turned into a range (the optimiser refuses it).
      if (!constant && op != eoEQ && op != eoNE && op != eoISBLANK && op != eoNOTBLANK) continue;
      if (between && !upper) continue;
      auto k1 = Token(c.DataType, constant, f.PhysicalSize);
      auto k2 = Token(c.DataType, upper, f.PhysicalSize);
      const TKeyRange range = MakeKeyRange(index, op, k1.get(), between ? k2.get() : nullptr, 0);
      for (std::size_t i = 0; i < values.size(); ++i) {
        auto v = Token(c.DataType, values[i], f.PhysicalSize);
        bool truth = false;
        if (op == eoISBLANK) truth = v->IsNull;
        else if (op == eoNOTBLANK) truth = !v->IsNull;
        else if (between) {
          truth = EvaluateComparison(eoGE, *v, *k1, 0, c.LanguageID) && EvaluateComparison(eoLE, *v, *k2, 0, c.LanguageID);
          if (op == eoNOTBETWEEN) truth = !truth;
        } else {
          truth = EvaluateComparison(op, *v, *k1, 0, c.LanguageID);
        }
        ASSERT_EQ(inRange(range, keys[i]), truth)
            << c.Name << " op " << int(op) << " value #" << i << " round " << round;
        ++checked;
        selected += truth ? 1 : 0;
      }
    }
    if (c.DataType == dtString && constant) {
      // Prefix comparisons: the first n characters are equal.
      const std::int32_t n = std::uniform_int_distribution<std::int32_t>(1, 2)(random);
      auto k1 = Token(c.DataType, constant, f.PhysicalSize);
      for (const TExpOperator op : {eoEQ, eoNE}) {
        const TKeyRange range = MakeKeyRange(index, op, k1.get(), nullptr, n);
        for (std::size_t i = 0; i < values.size(); ++i) {
          auto v = Token(c.DataType, values[i], f.PhysicalSize);
          TExpTokenPtr result = GetNewExpTokenInstance();
          EvaluateCompare(op, n, c.CaseInsensitive, 0, c.LanguageID, *result, *k1, *v);
          std::uint16_t truth = 0;
          std::memcpy(&truth, result->ValueData(), 2);
          ASSERT_EQ(inRange(range, keys[i]), truth != 0) << c.Name << " prefix " << n << " op " << int(op) << " #" << i;
          ++checked;
        }
      }
    }
  }
  EXPECT_GT(checked, 1000);
  EXPECT_GT(selected, checked / 10);  // the conditions are not all empty
}

INSTANTIATE_TEST_SUITE_P(
    Types, KeyRanges,
    ::testing::Values(TRangeCase{"IntAnsi", dtInteger, 0, false, false}, TRangeCase{"IntAnsiDesc", dtInteger, 0, true, false},
                      TRangeCase{"IntLanguage", dtInteger, kEnglish, false, false},
                      TRangeCase{"IntLanguageDesc", dtInteger, kEnglish, true, false},
                      TRangeCase{"FloatAnsi", dtFloat, 0, false, false}, TRangeCase{"FloatAnsiDesc", dtFloat, 0, true, false},
                      TRangeCase{"DateAnsi", dtDate, 0, false, false}, TRangeCase{"DateLanguageDesc", dtDate, kEnglish, true, false},
                      TRangeCase{"StringAnsi", dtString, 0, false, false}, TRangeCase{"StringAnsiDesc", dtString, 0, true, false},
                      TRangeCase{"StringAnsiNoCase", dtString, 0, false, true},
                      TRangeCase{"StringLanguage", dtString, kEnglish, false, false},
                      TRangeCase{"StringLanguageDesc", dtString, kEnglish, true, false},
                      TRangeCase{"StringLanguageNoCase", dtString, kEnglish, false, true}),
    [](const ::testing::TestParamInfo<TRangeCase>& info) { return info.param.Name; });

// Steps at the ends of a field's values leave no key beyond them.
TEST(KeyRangeSteps, BoundsBeyondTheLastValueAreEmpty) {
  auto fields = LaidOut({MakeField("F", dtInteger)});
  TIndexDefinition def = MakeEmptyIndexDefinition();
  def.KeyFields[0] = 1;
  def.KeyFieldCount = 1;
  def.Unique = 1;
  const TKeyLayout layout = MakeIndexKeyLayout(def, fields, 1, 0, 0);
  TLanguageCharMap map{};
  GetLanguageCharMap(0, 0, map);
  const TKeyRangeIndex index{layout, layout.KeySize(), map};
  auto top = Token(dtInteger, test_support::ValueOf(std::numeric_limits<std::int32_t>::max()), 4);
  auto bottom = Token(dtInteger, test_support::ValueOf(std::numeric_limits<std::int32_t>::min()), 4);
  EXPECT_TRUE(MakeKeyRange(index, eoGT, top.get(), nullptr, 0).Empty);
  EXPECT_TRUE(MakeKeyRange(index, eoLT, bottom.get(), nullptr, 0).Empty);
  EXPECT_FALSE(MakeKeyRange(index, eoGE, top.get(), nullptr, 0).Empty);
  // Whole keys step as one big-endian number and saturate.
  std::vector<std::uint8_t> key = {0x01, 0xFF, 0xFF, 0xFF, 0xFF};
  EXPECT_TRUE(IncLastByte(index, key.data(), 4));
  EXPECT_EQ(key, (std::vector<std::uint8_t>{0x02, 0, 0, 0, 0}));
  key.assign(5, 0xFF);
  EXPECT_FALSE(IncLastByte(index, key.data(), 4));
  EXPECT_EQ(key, std::vector<std::uint8_t>(5, 0xFF));
  key.assign(5, 0x00);
  EXPECT_FALSE(DecLastByte(index, key.data(), 4));
  EXPECT_EQ(key, std::vector<std::uint8_t>(5, 0x00));
}

// With a language, string bytes step through the character order and fill
// with its first and last characters; other bytes as in byte order.
TEST(KeyRangeSteps, LanguageFillsUseTheCharacterOrder) {
  auto fields = LaidOut({MakeField("F", dtString, 3), MakeField("G", dtInteger)});
  TIndexDefinition def = MakeEmptyIndexDefinition();
  def.KeyFields[0] = 1;
  def.KeyFields[1] = 2;
  def.KeyFieldCount = 2;
  def.Unique = 1;
  const TKeyLayout layout = MakeIndexKeyLayout(def, fields, 1, kEnglish, 0);
  TLanguageCharMap map{};
  GetLanguageCharMap(kEnglish, 0, map);
  const TKeyRangeIndex index{layout, layout.KeySize(), map};
  std::vector<std::uint8_t> low(layout.KeySize()), high(layout.KeySize());
  FillAllLowBytes(index, low.data());
  FillAllHighBytes(index, high.data());
  // A string of declared size 3 takes 4 key bytes (with its terminating zero).
  EXPECT_EQ(low, (std::vector<std::uint8_t>{0, map[0], map[0], map[0], map[0], 0, 0, 0, 0, 0}));
  EXPECT_EQ(high, (std::vector<std::uint8_t>{1, map[255], map[255], map[255], map[255], 1, 0xFF, 0xFF, 0xFF, 0xFF}));
  // 'a' steps to the next character that compares different.
  std::vector<std::uint8_t> key = {1, 'a', 0, 0, 0, 1, 0, 0, 0, 0};
  EXPECT_TRUE(IncLastByte(index, key.data(), 1, 1));
  EXPECT_NE(key[1], 'a');
  EXPECT_GT(CompareChar(kEnglish, 0, static_cast<char>(key[1]), 'a'), 0);
  EXPECT_TRUE(DecLastByte(index, key.data(), 1, 1));
  EXPECT_EQ(CompareChar(kEnglish, 0, static_cast<char>(key[1]), 'a'), 0);
}

// The deleted-records index fills in byte order whatever the language; the
// text index fills its prefix and record ID with bytes and its word with the
// language's first and last characters, keeping b - 1 word characters.
TEST(KeyRangeSteps, DeletedAndTextIndexFills) {
  TLanguageCharMap map{};
  GetLanguageCharMap(kEnglish, 0, map);
  TKeyLayout deleted;
  deleted.Kind = kkDeletedRecords;
  deleted.LanguageID = kEnglish;
  const TKeyRangeIndex deletedIndex{deleted, deleted.KeySize(), map};
  std::vector<std::uint8_t> key = {1, 7, 7, 7, 7};
  SetLowBytes(deletedIndex, key.data(), 1);
  EXPECT_EQ(key, (std::vector<std::uint8_t>{1, 0, 0, 0, 0}));
  SetHighBytes(deletedIndex, key.data(), 1);
  EXPECT_EQ(key, (std::vector<std::uint8_t>{1, 0xFF, 0xFF, 0xFF, 0xFF}));

  TKeyLayout text;
  text.Kind = kkText;
  text.LanguageID = kEnglish;
  const TKeyRangeIndex textIndex{text, text.KeySize(), map};
  std::vector<std::uint8_t> low(68), high(68);
  FillAllLowBytes(textIndex, low.data());
  FillAllHighBytes(textIndex, high.data());
  for (std::size_t i = 0; i < 68; ++i) {
    const bool word = i >= 3 && i < 64;
    EXPECT_EQ(low[i], word ? map[0] : 0x00) << i;
    EXPECT_EQ(high[i], word ? map[255] : 0xFF) << i;
  }
  // A prefix of 2 word characters: b = 3 keeps them.
  std::vector<std::uint8_t> prefix(68, 0);
  prefix[0] = 1;
  std::memcpy(prefix.data() + 3, "SMITH", 5);
  SetHighBytes(textIndex, prefix.data(), 3);
  EXPECT_EQ(prefix[0], 1);
  EXPECT_EQ(prefix[3], 'S');
  EXPECT_EQ(prefix[4], 'M');
  EXPECT_EQ(prefix[5], map[255]);
  EXPECT_EQ(prefix[63], map[255]);
  EXPECT_EQ(prefix[64], 0xFF);
}

}  // namespace
}  // namespace tarn
