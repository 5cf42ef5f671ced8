// Filters against the in-memory source: every filter form gives the same
// records with indexes as record by record; indexed conditions read no
// record, an AND evaluates its record-by-record side only on the records the
// indexed side kept; the 90% rule, OR with an unindexed field, text search,
// restarts, the complement of large ranges, callback filters, keeping a
// bitmap current, and the errors of filter text.
#include "cursor/filter.h"

#include <gtest/gtest.h>

#include <random>
#include <set>
#include <string>
#include <vector>

#include "core/errors.h"
#include "cursor/filter_expression.h"
#include "cursor/filter_optimizer.h"
#include "expressions/ansi_text_forms.h"
#include "memory_filter_source.h"

namespace tarn {
namespace {

using test_support::MakeField;
using test_support::TextOf;
using test_support::TFieldValue;
using test_support::TTestIndex;
using test_support::TMemoryFilterSource;
using test_support::ValueOf;

enum : std::uint16_t { kName = 1, kAge = 2, kScore = 3, kBorn = 4, kCity = 5, kNotes = 6 };

std::vector<TFieldDefinition> PeopleFields() {
  return {MakeField("Name", dtString, 12), MakeField("Age", dtInteger), MakeField("Score", dtFloat),
          MakeField("Born", dtDate),       MakeField("City", dtString, 12), MakeField("Notes", dtString, 40)};
}

struct TIndexChoice {
  bool Indexes = true;
  bool CityIndex = true;
};

// 80 people from a fixed seed, three of them deleted.
void FillPeople(TMemoryFilterSource& source) {
  std::mt19937 random(77);
  auto pick = [&](int n) { return std::uniform_int_distribution<int>(0, n - 1)(random); };
  const char* names[] = {"Smith", "smith", "Smythe", "Jones", "Brown", "SMITH", "Baker", "", "Sm"};
  const char* cities[] = {"Paris", "Rome", "Oslo", ""};
  const char* notes[] = {"red apple", "green apple pie", "smart phone", "jones and smith", "smalltalk rules", "",
                         "the apple of smalltalk"};
  const double scores[] = {-1.5, 0.0, 2.5, 10.0};
  for (int i = 0; i < 80; ++i) {
    std::vector<TFieldValue> row(6);
    row[0] = TextOf(names[pick(9)]);
    if (pick(8) != 0) row[1] = ValueOf<std::int32_t>(pick(10));
    if (pick(6) != 0) row[2] = ValueOf<double>(scores[pick(4)]);
    if (pick(6) != 0) row[3] = ValueOf<std::int32_t>(StrToAnsiDate("2000-01-01") + pick(10));
    row[4] = TextOf(cities[pick(4)]);
    row[5] = TextOf(notes[pick(7)]);
    source.Append(row);
  }
  for (std::int32_t r : {5, 40, 77}) source.Delete(r);
}

void AddPeopleIndexes(TMemoryFilterSource& source, const TIndexChoice& choice) {
  if (!choice.Indexes) return;
  source.AddIndex({.Position = 1, .Fields = {kName, kAge}});
  source.AddIndex({.Position = 2, .Fields = {kName}, .CaseInsensitive = true});
  source.AddIndex({.Position = 3, .Fields = {kAge}});
  source.AddIndex({.Position = 4, .Fields = {kScore}, .Descending = true});
  source.AddIndex({.Position = 5, .Fields = {kBorn}, .Unique = false});
  if (choice.CityIndex) source.AddIndex({.Position = 6, .Fields = {kCity}, .Descending = true});
  source.AddTextIndex({kNotes});
}

std::set<std::int32_t> LiveRecords(TMemoryFilterSource& source) {
  std::set<std::int32_t> live;
  const std::uint8_t* record = nullptr;
  for (std::int32_t r = 1; r <= source.FilterPhysicalRecordsUsed(); ++r)
    if (source.ReadFilterRecord(r, record) && record[0] == kRecordLive) live.insert(r);
  return live;
}

// Sets the candidates (the live records) and updates until no restart.
std::set<std::int32_t> KeptRecords(TMemoryFilterSource& source, TFilter& filter) {
  const std::set<std::int32_t> live = LiveRecords(source);
  source.RecordReads = 0;
  source.Navigations = 0;
  for (int attempt = 0; attempt < 5; ++attempt) {
    TRecordsBitmap& bitmap = filter.Bitmap();
    bitmap.SetNumOfBits(source.FilterPhysicalRecordsUsed());
    bitmap.ClearBits();
    for (std::int32_t r : live) bitmap.SetBit(r);
    if (!filter.Update()) continue;
    std::set<std::int32_t> kept;
    for (std::int32_t r : live)
      if (bitmap.IsBitSet(r)) kept.insert(r);
    return kept;
  }
  ADD_FAILURE() << "the filter kept restarting";
  return {};
}

class People {
 public:
  explicit People(std::uint16_t languageID = 0, const TIndexChoice& choice = {})
      : source(PeopleFields(), languageID) {
    FillPeople(source);
    AddPeopleIndexes(source, choice);
  }
  std::unique_ptr<TFilter> Filter(const std::string& text, TCountCheck countCheck = TCountCheck::On,
                                  const TFilterTextOptions& options = {}) {
    return std::make_unique<TFilter>(source, nullptr, PrepareFilterExpression(source, text, options),
                                     TFilterOptions{.CountCheck = countCheck});
  }
  TMemoryFilterSource source;
};

const std::vector<std::string>& FilterForms() {
  static const std::vector<std::string> forms = {
      "Age = 3", "Age <> 3", "Age < 3", "Age <= 3", "Age > 3", "Age >= 3", "Age BETWEEN 2 AND 5",
      "Age NOT BETWEEN 2 AND 5", "Age IN (1, 3, 7)", "Age NOT IN (1, 3, 7)", "Age IS NULL", "Age IS NOT NULL",
      "Age < 2.5", "Age = 2.5", "Age > 9", "Age < 0", "Name = ''", "Name <> ''", "Name = 'Smith'", "Name <> 'Smith'",
      "Name < 'Smith'", "Name <= 'Smith'", "Name > 'Smith'", "Name >= 'Sm'", "Name = 'Sm*'", "Name <> 'Sm*'",
      "Name LIKE 'Sm%'", "Name NOT LIKE 'Sm%'", "Name LIKE '%th'", "UPPER(Name) = 'SMITH'", "UPPER(Name) > 'SMITH'",
      "UPPER(Name) = 'smith'", "Name IN ('Smith', 'Jones')", "Name NOT IN ('Smith', 'Jones', '')",
      "Name BETWEEN 'B' AND 'Sm'", "3 < Age", "'Smith' = Name", "9 >= Age", "NOT (Age = 3)",
      "NOT (Age IS NULL)", "Age = 3 AND Name = 'Smith'", "Age = 3 OR Name = 'Jones'", "Age > 2 AND Name LIKE '%o%'",
      "Name LIKE '%o%' AND Age > 2", "NOT (Age > 5 OR Name LIKE '%o%')", "Age > 2 AND NOT (City = 'Rome') AND Score >= 0",
      "(Age < 2 OR Age > 7) AND (Name = 'Smith' OR Name = 'Brown')", "City IS NULL OR Age = 1", "Score < 2.5",
      "Score > -1.5", "Score = 0", "Score BETWEEN -1.5 AND 2.5", "Born >= '2000-01-05'", "Born < '2000-01-03'",
      "Born = '2000-01-04'", "City = 'Paris'", "City > 'Oslo'", "TEXTSEARCH('apple' IN Notes)",
      "TEXTSEARCH('apple sm*' IN Notes)", "TEXTSEARCH('sm* apple' IN Notes)", "TEXTSEARCH('smith jones' IN Notes) AND Age > 3",
      "NOT TEXTSEARCH('apple' IN Notes)"};
  return forms;
}

struct TEquivalenceCase {
  std::string Name;
  std::uint16_t LanguageID;
  TCountCheck CountCheck;
  bool CaseInsensitive;
};

class FilterEquivalence : public ::testing::TestWithParam<TEquivalenceCase> {};

TEST_P(FilterEquivalence, IndexedAndRecordByRecordSelectTheSameRecords) {
  const TEquivalenceCase& c = GetParam();
  People indexed(c.LanguageID);
  People plain(c.LanguageID, {.Indexes = false});
  int optimised = 0;
  for (const std::string& text : FilterForms()) {
    SCOPED_TRACE(text);
    auto withIndexes = indexed.Filter(text, c.CountCheck, {.CaseInsensitive = c.CaseInsensitive});
    auto withoutIndexes = plain.Filter(text, c.CountCheck, {.CaseInsensitive = c.CaseInsensitive});
    EXPECT_EQ(withoutIndexes->OptimizeLevel(), olNone);
    const std::set<std::int32_t> expected = KeptRecords(plain.source, *withoutIndexes);
    const std::set<std::int32_t> got = KeptRecords(indexed.source, *withIndexes);
    EXPECT_EQ(got, expected);
    if (withIndexes->OptimizeLevel() == olFull) {
      ++optimised;
      EXPECT_EQ(indexed.source.RecordReads, 0);
    }
  }
  EXPECT_GT(optimised, 20);
}

INSTANTIATE_TEST_SUITE_P(
    Tables, FilterEquivalence,
    ::testing::Values(TEquivalenceCase{"Ansi", 0, TCountCheck::On, false},
                      TEquivalenceCase{"AnsiNoCountCheck", 0, TCountCheck::Off, false},
                      TEquivalenceCase{"AnsiCaseInsensitive", 0, TCountCheck::On, true},
                      TEquivalenceCase{"English", 0x0409, TCountCheck::On, false},
                      TEquivalenceCase{"EnglishCaseInsensitive", 0x0409, TCountCheck::Off, true}),
    [](const ::testing::TestParamInfo<TEquivalenceCase>& info) { return info.param.Name; });

TEST(Filters, IndexedEqualityReadsNoRecord) {
  People people;
  auto filter = people.Filter("Name = 'Smith'");
  EXPECT_EQ(filter->OptimizeLevel(), olFull);
  const auto kept = KeptRecords(people.source, *filter);
  EXPECT_FALSE(kept.empty());
  EXPECT_EQ(people.source.RecordReads, 0);
  EXPECT_GE(people.source.Navigations, 1);
  // The comparison of UPPER(Name) uses the case-insensitive index.
  auto upper = people.Filter("UPPER(Name) = 'SMITH'");
  EXPECT_EQ(upper->OptimizeLevel(), olFull);
  EXPECT_GT(KeptRecords(people.source, *upper).size(), kept.size());
  EXPECT_EQ(people.source.RecordReads, 0);
  // The index position is the same after optimising and building.
  EXPECT_EQ(people.source.FilterIndexPosition(), 255);
}

TEST(Filters, AndEvaluatesTheOtherSideOnlyOnTheIndexedMatches) {
  for (const std::string text : {"Age = 3 AND City LIKE '%a%'", "City LIKE '%a%' AND Age = 3"}) {
    SCOPED_TRACE(text);
    People people;
    auto ageOnly = people.Filter("Age = 3");
    const std::size_t matches = KeptRecords(people.source, *ageOnly).size();
    ASSERT_GT(matches, 0u);
    auto filter = people.Filter(text);
    EXPECT_EQ(filter->OptimizeLevel(), olPartial);
    EXPECT_EQ(filter->Expression()->Left->OptimizeLevel, olFull);  // the indexed side first
    KeptRecords(people.source, *filter);
    EXPECT_EQ(people.source.RecordReads, static_cast<int>(matches));
  }
}

TEST(Filters, NinetyPercentRuleAppliesOnlyToNestedConditions) {
  TMemoryFilterSource source(PeopleFields());
  for (int i = 0; i < 100; ++i)
    source.Append({TextOf(i % 10 == 0 ? "Jones" : "Smith"), ValueOf<std::int32_t>(i < 95 ? 1 : 2)});
  source.AddIndex({.Position = 1, .Fields = {kAge}});
  source.AddIndex({.Position = 2, .Fields = {kName}});
  auto make = [&](const std::string& text, TCountCheck check) {
    return std::make_unique<TFilter>(source, nullptr, PrepareFilterExpression(source, text, {}),
                                     TFilterOptions{.CountCheck = check});
  };
  // Nested in an AND, Age = 1 (95%) is left to record evaluation; the name
  // comparison moves to the left.
  auto nested = make("Age = 1 AND Name = 'Jones'", TCountCheck::On);
  EXPECT_EQ(nested->OptimizeLevel(), olPartial);
  EXPECT_EQ(nested->Expression()->Left->Right->StringValue(), "Jones");
  EXPECT_EQ(nested->Expression()->Right->OptimizeLevel, olNone);
  EXPECT_EQ(KeptRecords(source, *nested).size(), 10u);
  EXPECT_EQ(source.RecordReads, 10);
  // Without count checks, or alone at the top, it uses the index.
  EXPECT_EQ(make("Age = 1 AND Name = 'Jones'", TCountCheck::Off)->OptimizeLevel(), olFull);
  auto top = make("Age = 1", TCountCheck::On);
  EXPECT_EQ(top->OptimizeLevel(), olFull);
  // More than half of the table: built as the complement of the keys below
  // and above the range.
  EXPECT_EQ(KeptRecords(source, *top).size(), 95u);
  EXPECT_EQ(source.RecordReads, 0);
  EXPECT_EQ(source.Navigations, 2);
  auto small = make("Age = 2", TCountCheck::On);
  EXPECT_EQ(KeptRecords(source, *small).size(), 5u);
  EXPECT_EQ(source.Navigations, 1);
  // IN: one element over the limit refuses the index when nested.
  EXPECT_EQ(make("Name = 'Jones' AND Age IN (2, 1)", TCountCheck::On)->Expression()->Right->OptimizeLevel, olNone);
  EXPECT_EQ(make("Name = 'Jones' AND Age IN (2, 3)", TCountCheck::On)->OptimizeLevel(), olFull);
}

TEST(Filters, OrUsesIndexesOnlyWhenBothSidesHaveThem) {
  People people(0, {.CityIndex = false});
  auto both = people.Filter("Age = 3 OR Name = 'Jones'");
  EXPECT_EQ(both->OptimizeLevel(), olFull);
  KeptRecords(people.source, *both);
  EXPECT_EQ(people.source.RecordReads, 0);
  const auto liveCount = static_cast<int>(LiveRecords(people.source).size());
  auto one = people.Filter("Age = 3 OR City = 'Paris'");
  EXPECT_EQ(one->OptimizeLevel(), olNone);
  const auto kept = KeptRecords(people.source, *one);
  // Record by record over the candidates (the live records).
  EXPECT_EQ(people.source.RecordReads, liveCount);
  People plain(0, {.Indexes = false});
  auto reference = plain.Filter("Age = 3 OR City = 'Paris'");
  EXPECT_EQ(kept, KeptRecords(plain.source, *reference));
}

TEST(Filters, TextSearchWithAStarWordAndAPlainWord) {
  People people;
  // The star stays on a word that ends the search text.
  auto filter = people.Filter("TEXTSEARCH('apple sm*' IN Notes)");
  EXPECT_EQ(filter->OptimizeLevel(), olFull);
  const auto kept = KeptRecords(people.source, *filter);
  EXPECT_EQ(people.source.RecordReads, 0);
  // Only "the apple of smalltalk" has a word starting with SM and APPLE.
  const std::uint8_t* record = nullptr;
  ASSERT_FALSE(kept.empty());
  for (std::int32_t r : kept) {
    ASSERT_TRUE(people.source.ReadFilterRecord(r, record));
    const TFieldDefinition& notes = people.source.Fields()[kNotes - 1];
    EXPECT_STREQ(reinterpret_cast<const char*>(record + notes.FieldOffset + 1), "the apple of smalltalk");
  }
}

TEST(Filters, RestartMakesUpdateAnswerFalseAndTheNextCallSucceeds) {
  for (const std::string text : {"Age = 3", "Name LIKE '%o%'", "Age > 2 AND Name LIKE '%o%'"}) {
    SCOPED_TRACE(text);
    People people;
    auto filter = people.Filter(text);
    const std::set<std::int32_t> expected = KeptRecords(people.source, *filter);
    TRecordsBitmap& bitmap = filter->Bitmap();
    const std::set<std::int32_t> live = LiveRecords(people.source);
    people.source.RestartsToReport = 1;
    bitmap.ClearBits();
    for (std::int32_t r : live) bitmap.SetBit(r);
    EXPECT_FALSE(filter->Update());
    EXPECT_EQ(people.source.RestartsToReport, 0);
    EXPECT_EQ(KeptRecords(people.source, *filter), expected);
  }
}

TEST(Filters, NotEqualToNullSelectsValuesAndEqualToNullSelectsNulls) {
  People people;
  auto nulls = people.Filter("Name = ''");
  auto values = people.Filter("Name <> ''");
  const auto a = KeptRecords(people.source, *nulls), b = KeptRecords(people.source, *values);
  EXPECT_FALSE(a.empty());
  EXPECT_FALSE(b.empty());
  EXPECT_EQ(a.size() + b.size(), LiveRecords(people.source).size());
  for (std::int32_t r : a) EXPECT_EQ(b.count(r), 0u);
}

TEST(Filters, CallbackFilterKeepsWhatTheCallbackKeeps) {
  People people;
  auto even = [](std::int32_t owner, void* cursor, const std::uint8_t*, std::int32_t r) {
    EXPECT_EQ(owner, 7);
    EXPECT_EQ(cursor, reinterpret_cast<void*>(0x10));
    return r % 2 == 0;
  };
  TFilter filter(people.source, reinterpret_cast<void*>(0x10), 7, even,
                 {.Order = TFilterOrder::AfterOthers, .CountCheck = TCountCheck::On});
  EXPECT_TRUE(filter.IsCallback());
  EXPECT_TRUE(filter.AfterOthers());
  EXPECT_EQ(filter.OptimizeLevel(), olNone);
  const auto kept = KeptRecords(people.source, filter);
  for (std::int32_t r : LiveRecords(people.source)) EXPECT_EQ(kept.count(r), r % 2 == 0 ? 1u : 0u);
}

TEST(Filters, UpdateRecordAndDeleteRecordKeepTheBitmapCurrent) {
  People people;
  auto filter = people.Filter("Age = 3");
  filter->Activate();
  EXPECT_TRUE(filter->IsActive());
  KeptRecords(people.source, *filter);
  const std::int32_t n = people.source.FilterPhysicalRecordsUsed();
  const std::int32_t yes = people.source.Append({TextOf("New"), ValueOf<std::int32_t>(3)});
  const std::int32_t no = people.source.Append({TextOf("Newer"), ValueOf<std::int32_t>(4)});
  const std::uint8_t* record = nullptr;
  ASSERT_TRUE(people.source.ReadFilterRecord(yes, record));
  filter->UpdateRecord(yes, record);
  ASSERT_TRUE(people.source.ReadFilterRecord(no, record));
  filter->UpdateRecord(no, record);
  EXPECT_EQ(filter->Bitmap().GetNumOfBits(), n + 2);
  EXPECT_TRUE(filter->Bitmap().IsBitSet(yes));
  EXPECT_FALSE(filter->Bitmap().IsBitSet(no));
  filter->DeleteRecord(yes);
  EXPECT_FALSE(filter->Bitmap().IsBitSet(yes));
  filter->Deactivate();
  EXPECT_FALSE(filter->IsActive());
}

TEST(Filters, ResetFilterExpressionRecomputesTheLevel) {
  People people;
  auto filter = people.Filter("Name LIKE '%o%'");
  EXPECT_EQ(filter->OptimizeLevel(), olNone);
  filter->ResetFilterExpression(PrepareFilterExpression(people.source, "Age = 3", {}));
  EXPECT_EQ(filter->OptimizeLevel(), olFull);
  TExpTokenPtr kept = PrepareFilterExpression(people.source, "Age = 3 AND Name LIKE '%o%'", {});
  filter->ResetFilterExpression(kept.get());
  EXPECT_EQ(filter->OptimizeLevel(), olPartial);
  EXPECT_EQ(filter->Expression(), kept.get());
}

TEST(Filters, NothingIsOptimisedWhereTheSourceForbidsIt) {
  People people;
  people.source.Optimize = false;
  auto filter = people.Filter("Age = 3 OR Name = 'Smith'");
  EXPECT_EQ(filter->OptimizeLevel(), olNone);
  EXPECT_EQ(filter->Expression()->Left->OptimizeLevel, olNone);
  EXPECT_FALSE(KeptRecords(people.source, *filter).empty());
  EXPECT_GT(people.source.RecordReads, 0);
}

TEST(Filters, FilterOptimizeLevelOfSeveralFilters) {
  const std::vector<std::pair<std::vector<TOptimizeLevel>, TOptimizeLevel>> cases = {
      {{}, olNone},
      {{olFull, olFull}, olFull},
      {{olNone, olNone}, olNone},
      {{olFull, olNone}, olPartial},
      {{olPartial}, olPartial},
  };
  for (const auto& [levels, expected] : cases) EXPECT_EQ(GetFilterOptimizeLevel(levels), expected);
}

// Chains of any length are optimised and built without recursing.
TEST(Filters, LongChainsAreBuiltWithAFlatStack) {
  constexpr int kChain = 60000;
  People people;
  std::string text = "Age = 0";
  for (int i = 1; i < kChain; ++i) text += " OR Age = " + std::to_string(i);
  auto anyAge = people.Filter(text, TCountCheck::Off);
  EXPECT_EQ(anyAge->OptimizeLevel(), olFull);
  EXPECT_EQ(KeptRecords(people.source, *anyAge), KeptRecords(people.source, *people.Filter("Age IS NOT NULL")));
  EXPECT_EQ(people.source.RecordReads, 0);
  // An AND chain with one condition evaluated per record, which moves to
  // the right of its AND.
  text = "Name LIKE '%o%' AND Age >= 0";
  for (int i = 0; i < kChain; ++i) text += " AND Age <> " + std::to_string(100 + i);
  auto chain = people.Filter(text, TCountCheck::Off);
  EXPECT_EQ(chain->OptimizeLevel(), olPartial);
  const auto kept = KeptRecords(people.source, *chain);
  EXPECT_FALSE(kept.empty());
  EXPECT_EQ(kept, KeptRecords(people.source, *people.Filter("Name LIKE '%o%' AND Age >= 0")));
}

struct TTextError {
  std::string Text;
  std::string Expected;  // the error's extra text, or a part of it
};

TEST(FilterText, ErrorsAreInvalidFilter) {
  People people;
  const std::vector<TTextError> cases = {
      {"", "filter expression is empty"},
      {"   ", "filter expression is empty"},
      {"Age + 1", "filter expression must be a boolean expression"},
      {"Name", "filter expression must be a boolean expression"},
      {"Age = 1 Name", "filter expression"},
      {"Nobody = 1", "filter expression"},
  };
  for (const TTextError& c : cases) {
    SCOPED_TRACE(c.Text);
    try {
      PrepareFilterExpression(people.source, c.Text, {});
      ADD_FAILURE() << "no error";
    } catch (const ETarnEngineError& error) {
      EXPECT_EQ(error.ErrorCode(), TARN_INVALIDFILTER);
      EXPECT_NE(error.ErrorText().find(c.Expected), std::string::npos) << error.ErrorText();
    }
  }
}

TEST(FilterText, ConstantOnTheLeftIsMirrored) {
  People people;
  const std::vector<std::pair<std::string, TExpOperator>> cases = {
      {"10 < Age", eoGT}, {"10 > Age", eoLT}, {"10 <= Age", eoGE}, {"10 >= Age", eoLE}, {"10 = Age", eoEQ},
      {"10 <> Age", eoNE}, {"Age < 10", eoLT}};
  for (const auto& [text, op] : cases) {
    SCOPED_TRACE(text);
    TExpTokenPtr root = PrepareFilterExpression(people.source, text, {});
    EXPECT_EQ(root->Operator, op);
    EXPECT_EQ(root->Left->NodeClass, enFIELD);
    EXPECT_EQ(root->Right->NodeClass, enCONST);
  }
  // Through NOT and AND as well.
  TExpTokenPtr root = PrepareFilterExpression(people.source, "NOT (3 < Age) AND 'x' = Name", {});
  EXPECT_EQ(root->Left->Left->Operator, eoGT);
  EXPECT_EQ(root->Left->Left->Left->NodeClass, enFIELD);
  EXPECT_EQ(root->Right->Left->NodeClass, enFIELD);
}

TEST(FilterText, PrefixAndCaseOptionsMakeCompareNodes) {
  People people;
  TExpTokenPtr prefix = PrepareFilterExpression(people.source, "Name = 'Sm*'", {});
  EXPECT_EQ(prefix->NodeClass, enCOMPARE);
  EXPECT_EQ(prefix->PartialLength, 2);
  TExpTokenPtr noPartial = PrepareFilterExpression(people.source, "Name = 'Sm*'", {.NoPartialCompare = true});
  EXPECT_EQ(noPartial->PartialLength, 0);
  TExpTokenPtr noCase = PrepareFilterExpression(people.source, "Name = 'smith'", {.CaseInsensitive = true});
  EXPECT_EQ(noCase->NodeClass, enCOMPARE);
  EXPECT_TRUE(noCase->CaseInsensitive);
  // A case-insensitive comparison needs the case-insensitive index.
  TFilter filter(people.source, nullptr, std::move(noCase), {});
  EXPECT_EQ(filter.OptimizeLevel(), olFull);
  EXPECT_EQ(KeptRecords(people.source, filter).size(),
            KeptRecords(people.source, *people.Filter("UPPER(Name) = 'SMITH'")).size());
}

}  // namespace
}  // namespace tarn
