// Index and sort keys built from records and compared: ANSI Standard tables
// (one byte comparison) and tables with a language (string parts by the
// locale collation), ascending, descending, per-field descending,
// case-insensitive, non-unique indexes ordered by record ID, prefixes, the
// deleted-records and text indexes, and the key size limit.
#include "storage/keys/key_compare.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "core/errors.h"
#include "storage/formats/data_types.h"
#include "storage/formats/index_header.h"
#include "storage/keys/key_builder.h"
#include "storage/keys/key_encoding.h"
#include "storage/formats/record_layout.h"
#include "support/field_builders.h"
#include "support/raised_code.h"

namespace tarn {
namespace {

using test_support::LaidOut;
using test_support::MakeField;
using test_support::RaisedCode;

constexpr std::uint16_t kFrench = 0x040C;

// A table with the fields Id (auto-increment), Name (string, 10), Age
// (integer), Score (float) and Notes (BLOB), laid out by the project's
// definition records.
class TestTable {
 public:
  TestTable()
      : fields_(LaidOut({MakeField("Id", dtInteger, 0, dstAutoInc), MakeField("Name", dtString, 10),
                         MakeField("Age", dtInteger), MakeField("Score", dtFloat), MakeField("Notes", dtBlob, 0, dstMemo)})) {
    for (const TFieldDefinition& def : fields_)
      if (!IsAutoIncField(def)) offset_ = std::max<std::size_t>(offset_, def.FieldOffset + def.PhysicalSize + 1u);
  }
  const std::vector<TFieldDefinition>& Fields() const { return fields_; }
  std::size_t RecordSize() const { return offset_; }

  std::vector<std::uint8_t> Record(std::int32_t id, std::optional<std::string> name, std::int32_t age,
                                   double score = 0) const {
    std::vector<std::uint8_t> rec(offset_, 0);
    SetRecordHeader(rec, kRecordLive, id, id);
    if (name) {
      rec[fields_[1].FieldOffset] = 1;
      std::memcpy(rec.data() + fields_[1].FieldOffset + 1, name->data(), name->size());
    }
    rec[fields_[2].FieldOffset] = 1;
    std::memcpy(rec.data() + fields_[2].FieldOffset + 1, &age, 4);
    rec[fields_[3].FieldOffset] = 1;
    std::memcpy(rec.data() + fields_[3].FieldOffset + 1, &score, 8);
    return rec;
  }

 private:
  std::vector<TFieldDefinition> fields_;
  std::size_t offset_ = kRecordHeaderSize;
};

TIndexDefinition IndexOn(std::initializer_list<std::uint16_t> fieldNumbers, bool unique, bool descending = false,
                         bool caseInsensitive = false, std::initializer_list<bool> fieldDescending = {}) {
  TIndexDefinition def = MakeEmptyIndexDefinition();
  std::size_t i = 0;
  for (std::uint16_t n : fieldNumbers) def.KeyFields[i++] = n;
  def.KeyFieldCount = static_cast<std::uint8_t>(i);
  i = 0;
  for (bool d : fieldDescending) def.KeyFieldDescending[i++] = d ? 1 : 0;
  def.Unique = unique ? 1 : 0;
  def.Descending = descending ? 1 : 0;
  def.CaseInsensitive = caseInsensitive ? 1 : 0;
  return def;
}

using Key = std::vector<std::uint8_t>;

Key KeyOf(const TKeyLayout& layout, const std::vector<std::uint8_t>& record) {
  Key key(layout.KeySize());
  BuildIndexKey(layout, record, key);
  return key;
}

// The record IDs in the order the index keys sort them.
std::vector<int> IndexOrder(const TKeyLayout& layout, const std::vector<std::vector<std::uint8_t>>& records) {
  std::vector<std::pair<Key, int>> keys;
  for (const auto& r : records) keys.emplace_back(KeyOf(layout, r), RecordIdOf(r));
  std::sort(keys.begin(), keys.end(), [&layout](const auto& x, const auto& y) {
    return CompareKeys(layout, x.first.data(), y.first.data(), layout.KeySize()) < 0;
  });
  std::vector<int> ids;
  for (const auto& k : keys) ids.push_back(k.second);
  return ids;
}

std::vector<std::vector<std::uint8_t>> PeopleRecords(const TestTable& t) {
  return {
      t.Record(1, "bob", 30),   t.Record(2, "Alice", 25),      t.Record(3, std::nullopt, 40),
      t.Record(4, "alice", 25), t.Record(5, "bob", 20),        t.Record(6, "\xE9va", 50),
      t.Record(7, "eva", 50),
  };
}

TEST(KeyCompare, IndexOrderTable) {
  const TestTable t;
  const auto records = PeopleRecords(t);
  struct Case {
    const char* name;
    std::uint16_t language;
    bool descending;
    bool caseInsensitive;
    bool nameDescending;
    std::vector<int> expect;
  };
  const Case cases[] = {
      {"ansi ascending", 0, false, false, false, {3, 2, 4, 5, 1, 7, 6}},
      {"ansi descending index", 0, true, false, false, {6, 7, 1, 5, 4, 2, 3}},
      {"ansi name descending", 0, false, false, true, {6, 7, 5, 1, 4, 2, 3}},
      {"ansi case-insensitive", 0, false, true, false, {3, 2, 4, 5, 1, 7, 6}},
      // French: accents ignored (eva = e-acute va, ordered by record ID), lower case first.
      {"french ascending", kFrench, false, false, false, {3, 4, 2, 5, 1, 6, 7}},
      {"french case-insensitive", kFrench, false, true, false, {3, 2, 4, 5, 1, 6, 7}},
      {"french descending index", kFrench, true, false, false, {7, 6, 1, 5, 2, 4, 3}},
      {"french name descending", kFrench, false, false, true, {6, 7, 5, 1, 2, 4, 3}},
  };
  for (const Case& c : cases) {
    const TIndexDefinition def = IndexOn({2, 3}, false, c.descending, c.caseInsensitive, {c.nameDescending, false});
    const TKeyLayout layout = MakeIndexKeyLayout(def, t.Fields(), 1, c.language, 0);
    EXPECT_EQ(layout.KeySize(), 12u + 5u + 4u);
    EXPECT_EQ(IndexOrder(layout, records), c.expect) << c.name;
  }
}

TEST(KeyCompare, AccentedWordsAreEqualKeysOnlyWithALanguage) {
  const TestTable t;
  for (std::uint16_t language : {std::uint16_t{0}, kFrench}) {
    const TKeyLayout layout = MakeIndexKeyLayout(IndexOn({2}, true), t.Fields(), 1, language, 0);
    const Key a = KeyOf(layout, t.Record(1, "caf\xE9", 1));
    const Key b = KeyOf(layout, t.Record(2, "cafe", 1));
    EXPECT_EQ(CompareKeys(layout, a.data(), b.data(), a.size()) == 0, language != 0) << language;
  }
}

TEST(KeyCompare, CaseInsensitiveIndexFindsLowerCaseSearchValue) {
  const TestTable t;
  const TKeyLayout layout = MakeIndexKeyLayout(IndexOn({2}, true, false, true), t.Fields(), 1, 0, 0);
  const Key stored = KeyOf(layout, t.Record(1, "SMITH", 1));
  const Key search = KeyOf(layout, t.Record(2, "smith", 1));
  EXPECT_EQ(std::string(stored.begin() + 1, stored.begin() + 6), "SMITH");
  EXPECT_EQ(CompareKeys(layout, stored.data(), search.data(), layout.KeySize()), 0);
}

TEST(KeyCompare, NonUniqueKeysOrderEqualValuesByRecordId) {
  const TestTable t;
  for (std::uint16_t language : {std::uint16_t{0}, kFrench}) {
    const TKeyLayout layout = MakeIndexKeyLayout(IndexOn({3}, false), t.Fields(), 1, language, 0);
    const Key low = KeyOf(layout, t.Record(3, "x", 10));
    const Key high = KeyOf(layout, t.Record(300, "y", 10));
    EXPECT_EQ(CompareKeys(layout, low.data(), high.data(), layout.KeySize()), -1);
    // A prefix without the record ID finds them equal.
    EXPECT_EQ(CompareKeys(layout, low.data(), high.data(), layout.FieldsSize()), 0);
    const TKeyLayout unique = MakeIndexKeyLayout(IndexOn({3}, true), t.Fields(), 1, language, 0);
    const Key u1 = KeyOf(unique, t.Record(3, "x", 10));
    const Key u2 = KeyOf(unique, t.Record(300, "y", 10));
    EXPECT_EQ(CompareKeys(unique, u1.data(), u2.data(), unique.KeySize()), 0);
  }
}

TEST(KeyCompare, PrefixComparesOnlyTheFirstFields) {
  const TestTable t;
  for (std::uint16_t language : {std::uint16_t{0}, kFrench}) {
    const TKeyLayout layout = MakeIndexKeyLayout(IndexOn({2, 3}, true), t.Fields(), 1, language, 0);
    const Key a = KeyOf(layout, t.Record(1, "bob", 20));
    const Key b = KeyOf(layout, t.Record(2, "bob", 30));
    EXPECT_EQ(CompareKeys(layout, a.data(), b.data(), 12), 0);
    EXPECT_EQ(CompareKeys(layout, a.data(), b.data(), layout.KeySize()), -1);
    // Part of a string field: only that many characters.
    const Key c = KeyOf(layout, t.Record(3, "bobby", 20));
    EXPECT_EQ(CompareKeys(layout, a.data(), c.data(), 4), 0);
    EXPECT_EQ(CompareKeys(layout, a.data(), c.data(), 5), -1);
  }
}

TEST(KeyCompare, AutoIncrementFieldKeysTheRecordId) {
  const TestTable t;
  const TKeyLayout layout = MakeIndexKeyLayout(IndexOn({1}, true), t.Fields(), 0, 0, 0);
  ASSERT_EQ(layout.KeySize(), 5u);
  const Key k = KeyOf(layout, t.Record(258, "x", 1));
  EXPECT_EQ(k, (Key{1, 0x80, 0x00, 0x01, 0x02}));
}

TEST(KeyCompare, DeletedRecordsIndex) {
  const TestTable t;
  const TKeyLayout layout = MakeIndexKeyLayout(IndexOn({}, true), t.Fields(), kDeletedIndexSlot, kFrench, 0);
  auto live9 = t.Record(9, "a", 1);
  auto live2 = t.Record(2, "a", 1);
  auto deleted1 = t.Record(1, "a", 1);
  deleted1[kRecordDeletedOffset] = kRecordDeleted;
  const Key k9 = KeyOf(layout, live9), k2 = KeyOf(layout, live2), kd = KeyOf(layout, deleted1);
  EXPECT_EQ(k2, (Key{0, 0x80, 0, 0, 2}));
  EXPECT_EQ(CompareKeys(layout, k2.data(), k9.data(), 5), -1);
  EXPECT_EQ(CompareKeys(layout, k9.data(), kd.data(), 5), -1);
}

TEST(KeyCompare, TextIndexKeys) {
  TKeyLayout layout;
  layout.Kind = kkText;
  layout.LanguageID = kFrench;
  auto textKey = [](std::uint8_t prefix, const std::string& word, std::uint8_t trail) {
    Key k(kTextIndexKeySize, 0);
    k[2] = prefix;
    std::memcpy(k.data() + 3, word.data(), word.size());
    k[67] = trail;
    return k;
  };
  const Key a = textKey(1, "\xE9t\xE9", 5), b = textKey(1, "ete", 7), c = textKey(1, "ETE", 1), d = textKey(0, "zz", 9);
  EXPECT_EQ(CompareKeys(layout, a.data(), b.data(), 68), -1);  // words equal, trail decides
  EXPECT_EQ(CompareKeys(layout, a.data(), b.data(), 64), 0);
  EXPECT_EQ(CompareKeys(layout, b.data(), c.data(), 68), -1);  // case-sensitive
  EXPECT_EQ(CompareKeys(layout, d.data(), a.data(), 68), -1);  // prefix first
}

TEST(KeyCompare, SortKeys) {
  const TestTable t;
  for (std::uint16_t language : {std::uint16_t{0}, kFrench}) {
    // Name descending, Score ascending, case-insensitive.
    const TKeyField fields[] = {MakeKeyField(t.Fields()[1], true), MakeKeyField(t.Fields()[3], false)};
    const TKeyLayout layout = MakeSortKeyLayout(fields, true, language, 0);
    ASSERT_EQ(layout.KeySize(), 12u + 9u + 4u);
    auto sortKey = [&](const std::vector<std::uint8_t>& rec) {
      Key k(layout.KeySize());
      BuildSortKey(layout, rec, k);
      return k;
    };
    const Key zed = sortKey(t.Record(1, "zed", 0, 1.5));
    const Key amy = sortKey(t.Record(2, "amy", 0, -1.0));
    const Key amyUpper = sortKey(t.Record(3, "AMY", 0, -1.0));
    const Key amyHigh = sortKey(t.Record(4, "amy", 0, 2.0));
    const Key noName = sortKey(t.Record(5, std::nullopt, 0, 0.0));
    EXPECT_EQ(CompareSortKeys(layout, zed.data(), amy.data(), true), -1) << language;
    EXPECT_EQ(CompareSortKeys(layout, amy.data(), amyHigh.data(), true), -1);
    EXPECT_EQ(CompareSortKeys(layout, amy.data(), amyUpper.data(), false), 0);  // distinct/group test
    EXPECT_EQ(CompareSortKeys(layout, amy.data(), amyUpper.data(), true), -1);  // the sort: by record ID
    EXPECT_EQ(CompareSortKeys(layout, amyHigh.data(), noName.data(), true), -1);  // null last when descending
  }
}

TEST(KeyCompare, KeySizeLimit) {
  // Two strings of 250 (252 key bytes each) and 17 raw bytes (18): exactly 522.
  const std::vector<TFieldDefinition> fields = LaidOut({MakeField("A", dtString, 250), MakeField("B", dtString, 250),
                                                       MakeField("C", dtBytes, 17), MakeField("D", dtBytes, 18),
                                                       MakeField("E", dtBlob)});
  EXPECT_EQ(MakeIndexKeyLayout(IndexOn({1, 2, 3}, true), fields, 0, 0, 0).KeySize(), 522u);
  auto codeOf = [&fields](const TIndexDefinition& def) {
    return RaisedCode([&] { MakeIndexKeyLayout(def, fields, 1, 0, 0, "Big"); });
  };
  EXPECT_EQ(codeOf(IndexOn({1, 2, 4}, true)), TARN_INVALIDKEY);   // 523
  EXPECT_EQ(codeOf(IndexOn({1, 2, 3}, false)), TARN_INVALIDKEY);  // 522 + record ID
  EXPECT_EQ(codeOf(IndexOn({5}, true)), TARN_INVALIDKEY);         // BLOB field
  EXPECT_EQ(codeOf(IndexOn({9}, true)), TARN_INVALIDKEY);         // no such field
  EXPECT_EQ(codeOf(IndexOn({}, true)), TARN_INVALIDKEY);          // no key fields
}

TEST(KeyCompare, BadRecordsAndBuffersRaiseInsteadOfOverrunning) {
  const TestTable t;
  const TKeyLayout layout = MakeIndexKeyLayout(IndexOn({2, 3}, false), t.Fields(), 1, 0, 0);
  const auto rec = t.Record(1, "a", 1);
  Key small(layout.KeySize() - 1);
  EXPECT_THROW(BuildIndexKey(layout, rec, small), ETarnEngineError);
  const std::vector<std::uint8_t> shortRecord(rec.begin(), rec.begin() + 15);
  Key key(layout.KeySize());
  EXPECT_THROW(BuildIndexKey(layout, shortRecord, key), ETarnEngineError);
}

TEST(KeyCompare, CompareBytesAndChars) {
  const std::uint8_t a[] = {1, 2, 3}, b[] = {1, 2, 4};
  EXPECT_EQ(CompareBytes(a, b, 3, false), -1);
  EXPECT_EQ(CompareBytes(a, b, 3, true), 1);
  EXPECT_EQ(CompareBytes(a, b, 2, false), 0);
  EXPECT_EQ(CompareBytes(nullptr, b, 3, false), 1);
  EXPECT_EQ(CompareBytes(a, nullptr, 3, false), -1);
  EXPECT_EQ(CompareChar(0, 0, '\xE9', 'f'), 1);       // byte order
  EXPECT_EQ(CompareChar(kFrench, 0, '\xE9', 'f'), -1);  // e-acute with e
  EXPECT_EQ(CompareChar(kFrench, 0, '\xE9', 'e'), 0);
}

}  // namespace
}  // namespace tarn
