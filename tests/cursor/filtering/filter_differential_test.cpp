// Filters on a cursor answer the same records whichever way they are built:
// every filter form over about a thousand seeded records, on tables whose
// indexes serve the condition (ascending, descending, without regard to case;
// language 0 and a language table) and on a table without any index, where
// every record is evaluated. Record reads show when an index was used.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "cursor/cursor_fixture.h"
#include "support/raised_code.h"

namespace tarn::cursor_testing {
namespace {

using test_support::RaisedCode;

// The names include letter-case variants, prefixes of each other and nulls.
const std::vector<std::optional<std::string>> kNames = {"Smith", "smith", "SMITH", "Smythe", "Sm",        "Jones",
                                                        "jones", "Brown", "Zed",   "Adams",  std::nullopt};
const std::vector<std::optional<std::string>> kCities = {"Oslo", "Rome", "Paris", std::nullopt};

std::vector<Person> SeededPeople(int count) {
  std::vector<Person> people;
  std::mt19937 random(11);
  for (int i = 1; i <= count; ++i) {
    Person p;
    p.Id = i;
    p.Name = kNames[random() % kNames.size()];
    if (random() % 10 != 0) p.Amount = static_cast<std::int32_t>(random() % 100);
    p.City = kCities[random() % kCities.size()];
    people.push_back(p);
  }
  return people;
}

// Table variants: which indexes serve a condition on NAME and AMOUNT.
struct Variant {
  const char* Name;
  PeopleOptions Options;
  bool DescendingOnly;  // NAME and AMOUNT indexes descending
};

TTableDefinition VariantDefinition(const Variant& v) {
  TTableDefinition def = PeopleDefinition(v.Options);
  if (v.DescendingOnly) {
    // Keep the primary index, the descending NAME index, and a descending AMOUNT index.
    std::vector<TIndexDefinition> indexes = {def.Indexes[0], def.Indexes[kByNameDesc]};
    TIndexDefinition amount = def.Indexes[kByAmount];
    amount.Name.Assign("ByAmountDesc");
    amount.Descending = 1;
    indexes.push_back(amount);
    def.Indexes = indexes;
  }
  return def;
}

class FilterDifferentialTest : public ::testing::TestWithParam<std::uint16_t> {
 protected:
  void SetUp() override {
    const std::uint16_t language = GetParam();
    variants_ = {
        {"plain", {language, 0, false, false}, false},
        {"indexed", {language, 0, true, true}, false},
        {"descending", {language, 0, true, true}, true},
    };
    people_ = SeededPeople(1000);
    for (const Variant& v : variants_) {
      CreateTable(dir_.Path(), v.Name, VariantDefinition(v));
      TableWriter writer(session_.session.Open(v.Name));
      for (const Person& p : people_) writer.Append(p);
      // Some deleted records: filters never answer them.
      for (std::int32_t r = 5; r <= 1000; r += 97) writer.Delete(r);
    }
  }

  std::vector<std::int32_t> Filtered(const std::string& table, const std::string& text, std::int64_t* reads = nullptr,
                                     bool caseInsensitive = false) {
    auto cursor = session_.Cursor(table);
    TAddFilterOptions options;
    options.Text = text;
    options.CountCheck = true;
    options.CaseInsensitive = caseInsensitive;
    const TFilterHandle handle = cursor->AddFilter(std::move(options));
    const std::int64_t before = cursor->FilterRecordReads();
    cursor->ActivateFilter(handle);
    if (reads != nullptr) *reads = cursor->FilterRecordReads() - before;
    std::vector<std::int32_t> ids = WalkIds(*cursor);
    EXPECT_EQ(cursor->GetRecordCount(), static_cast<std::int32_t>(ids.size())) << table << ": " << text;
    std::sort(ids.begin(), ids.end());
    return ids;
  }

  TempDirectory dir_;
  CursorSession session_{dir_.Path()};
  std::vector<Variant> variants_;
  std::vector<Person> people_;
};

TEST_P(FilterDifferentialTest, EveryFilterFormAnswersTheSameRecordsWithAndWithoutIndexes) {
  const std::vector<std::string> filters = {
      "NAME = 'Smith'",
      "NAME <> 'Smith'",
      "NAME < 'Smith'",
      "NAME <= 'Smith'",
      "NAME > 'Smith'",
      "NAME >= 'Smith'",
      "AMOUNT = 42",
      "AMOUNT <> 42",
      "AMOUNT < 30",
      "AMOUNT <= 30",
      "AMOUNT > 70",
      "AMOUNT >= 70",
      "AMOUNT BETWEEN 20 AND 40",
      "AMOUNT NOT BETWEEN 20 AND 40",
      "NAME BETWEEN 'B' AND 'Sn'",
      "AMOUNT IN (1, 2, 3, 50, 99)",
      "AMOUNT NOT IN (1, 2, 3, 50, 99)",
      "NAME IN ('Jones', 'Zed')",
      "NAME NOT IN ('Jones', 'Zed')",
      "NAME IS NULL",
      "NAME IS NOT NULL",
      "AMOUNT IS NULL",
      "NAME = ''",
      "NAME <> ''",
      "NAME = 'Sm*'",
      "NAME LIKE 'Sm%'",
      "UPPER(NAME) = 'SMITH'",
      "30 > AMOUNT",
      "'Smith' = NAME",
      "NOT (AMOUNT > 50)",
      "NOT (NAME = 'Smith')",
      "AMOUNT > 20 AND NAME = 'Jones'",
      "NAME = 'Jones' AND AMOUNT > 20",
      "AMOUNT < 10 OR AMOUNT > 90",
      "NAME = 'Zed' OR AMOUNT = 7",
      "NAME = 'Zed' OR CITY = 'Oslo'",
      "(AMOUNT < 50 AND NAME >= 'S') OR NOT (CITY = 'Rome')",
      "AMOUNT >= 0",
  };
  for (const std::string& filter : filters) {
    SCOPED_TRACE(filter);
    const std::vector<std::int32_t> expected = Filtered("plain", filter);
    for (const char* table : {"indexed", "descending"}) {
      SCOPED_TRACE(table);
      EXPECT_EQ(Filtered(table, filter), expected);
    }
  }
  // The same with comparisons without regard to case.
  for (const std::string& filter : {std::string("NAME = 'smith'"), std::string("NAME = 'sm*'")}) {
    SCOPED_TRACE(filter);
    const std::vector<std::int32_t> expected = Filtered("plain", filter, nullptr, true);
    EXPECT_EQ(Filtered("indexed", filter, nullptr, true), expected);
  }
}

TEST_P(FilterDifferentialTest, ResultsMatchTheRowsSeeded) {
  // The record-by-record answers themselves, against the seeded rows.
  std::set<std::int32_t> deleted;
  for (std::int32_t r = 5; r <= 1000; r += 97) deleted.insert(r);
  std::vector<std::int32_t> smith, lowAmount;
  for (const Person& p : people_) {
    if (deleted.count(p.Id) != 0) continue;
    if (p.Name && *p.Name == "Smith") smith.push_back(p.Id);
    if (p.Amount && *p.Amount < 30) lowAmount.push_back(p.Id);
  }
  for (const char* table : {"plain", "indexed"}) {
    SCOPED_TRACE(table);
    EXPECT_EQ(Filtered(table, "NAME = 'Smith'"), smith);
    EXPECT_EQ(Filtered(table, "AMOUNT < 30"), lowAmount);
  }
}

TEST_P(FilterDifferentialTest, RecordReadsShowWhereAnIndexWasUsed) {
  std::int64_t reads = -1;
  Filtered("indexed", "NAME = 'Jones'", &reads);
  EXPECT_EQ(reads, 0);
  Filtered("indexed", "AMOUNT BETWEEN 10 AND 20", &reads);
  EXPECT_EQ(reads, 0);
  // The indexed side of an AND is built first; the LIKE reads only its records.
  const std::size_t jones = Filtered("indexed", "NAME = 'Jones'").size();
  Filtered("indexed", "NAME = 'Jones' AND CITY LIKE '%s%'", &reads);
  EXPECT_EQ(reads, static_cast<std::int64_t>(jones));
  Filtered("indexed", "CITY LIKE '%s%' AND NAME = 'Jones'", &reads);
  EXPECT_EQ(reads, static_cast<std::int64_t>(jones));
  // Without an index every live record is read, and only those.
  Filtered("plain", "NAME = 'Jones'", &reads);
  EXPECT_EQ(reads, 1000 - 11);
}

INSTANTIATE_TEST_SUITE_P(Languages, FilterDifferentialTest, ::testing::Values(std::uint16_t{0}, std::uint16_t{0x0409}),
                         [](const auto& info) { return info.param == 0 ? "Ansi" : "EnglishUSA"; });

}  // namespace
}  // namespace tarn::cursor_testing
