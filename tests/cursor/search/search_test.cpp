// Key search, ranges and bookmarks: Find on whole keys, leading fields and
// partial strings, nearest and exact misses, ranges with open ends in
// ascending and descending indexes (with filters too), and bookmarks in index
// and physical order, also of records deleted since.
#include <gtest/gtest.h>

#include <algorithm>

#include "cursor/cursor_fixture.h"
#include "support/raised_code.h"

namespace tarn::cursor_testing {
namespace {

using test_support::RaisedCode;

// The people table with a unique two-field index on (CITY, ID) in slot 5.
constexpr std::uint8_t kByCityId = 5;

class SearchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    TTableDefinition def = PeopleDefinition();
    def.Indexes.push_back(test_support::MakeIndex("ByCityId", {kCityField, kIdField}, def.Fields, true));
    CreateTable(dir_.Path(), "people", def);
    SessionOn writing(dir_.Path());
    TableWriter writer(writing.Open("people"));
    const char* names[] = {"Adams", "Baker", "Brown", "Brownlow", "Clark", "Smith", "Smythe"};
    const char* cities[] = {"Oslo", "Rome", "Paris"};
    for (int id = 1; id <= 60; ++id) {
      Person p = Key(id * 10, names[id % 7], cities[id % 3]);
      p.Amount = id;
      numbers_[p.Id] = writer.Append(p);
      rows_[p.Id] = p;
    }
  }
  static Person Key(std::int32_t id, std::optional<std::string> name = {}, std::optional<std::string> city = {}) {
    Person p;
    p.Id = id;
    p.Name = std::move(name);
    p.City = std::move(city);
    return p;
  }
  std::vector<std::uint8_t> Record(TDataCursor& cursor, const Person& p) {
    TableWriter writer(*cursor.Table());
    std::vector<std::uint8_t> bytes = writer.Record(p);
    bytes.resize(cursor.GetRecordBufferSize(), 0);
    return bytes;
  }
  std::int32_t CurrentId(TDataCursor& cursor) {
    std::vector<std::uint8_t> buffer(cursor.GetRecordBufferSize());
    if (cursor.GetCurrentRecord(buffer.data()) != 0) return -1;
    return IdOf(cursor, buffer.data());
  }
  std::vector<std::int32_t> Ids(const std::function<bool(const Person&)>& keep) {
    std::vector<std::int32_t> ids;
    for (const auto& [id, p] : rows_)
      if (keep(p)) ids.push_back(id);
    return ids;
  }

  TempDirectory dir_;
  CursorSession session_{dir_.Path()};
  std::map<std::int32_t, Person> rows_;
  std::map<std::int32_t, std::int32_t> numbers_;
};

TEST_F(SearchTest, FindOnWholeKeysPrefixesAndMisses) {
  auto cursor = session_.Cursor("people");
  // A unique key, exactly.
  EXPECT_TRUE(cursor->Find(Record(*cursor, Key(250)).data(), {}));
  EXPECT_EQ(CurrentId(*cursor), 250);
  // A miss without nearest leaves the position alone; with nearest it stands on the next key.
  EXPECT_FALSE(cursor->Find(Record(*cursor, Key(255)).data(), {}));
  EXPECT_EQ(CurrentId(*cursor), 250);
  EXPECT_FALSE(cursor->Find(Record(*cursor, Key(255)).data(), {.Nearest = true}));
  EXPECT_EQ(CurrentId(*cursor), 260);
  // Past every key: the last record, not the end.
  EXPECT_FALSE(cursor->Find(Record(*cursor, Key(9999)).data(), {.Nearest = true}));
  EXPECT_EQ(CurrentId(*cursor), 600);
  EXPECT_FALSE(cursor->Eof());

  // The first of two key fields: the first record of that city.
  cursor->SetIndexPos(kByCityId);
  std::vector<std::uint8_t> out(cursor->GetRecordBufferSize());
  EXPECT_TRUE(cursor->Find(Record(*cursor, Key(0, {}, "Rome")).data(), {.FieldCount = 1}, out.data()));
  EXPECT_EQ(IdOf(*cursor, out.data()), Ids([](const Person& p) { return *p.City == "Rome"; }).front());
  EXPECT_FALSE(cursor->Find(Record(*cursor, Key(0, {}, "Lima")).data(), {.FieldCount = 1}));

  // Three characters of a name on a non-unique index: the first name starting with them.
  cursor->SetIndexPos(kByName);
  EXPECT_TRUE(cursor->Find(Record(*cursor, Key(0, "Brox")).data(), {.PartialLength = 3}));
  EXPECT_EQ(*rows_[CurrentId(*cursor)].Name, "Brown");
  EXPECT_EQ(CurrentId(*cursor), Ids([](const Person& p) { return *p.Name == "Brown"; }).front());
  EXPECT_TRUE(cursor->Find(Record(*cursor, Key(0, "Smythe")).data(), {}));
  EXPECT_EQ(*rows_[CurrentId(*cursor)].Name, "Smythe");
  EXPECT_FALSE(cursor->Find(Record(*cursor, Key(0, "Zed")).data(), {}));
}

TEST_F(SearchTest, RangesInAscendingAndDescendingOrder) {
  struct Case {
    std::uint8_t Index;
    const char* Begin;  // null: open
    const char* End;
    std::vector<std::string> Names;  // expected names in walking order
  };
  const std::vector<Case> cases = {
      {kByName, "Baker", "Brownlow", {"Baker", "Brown", "Brownlow"}},
      {kByName, "Brown", nullptr, {"Brown", "Brownlow", "Clark", "Smith", "Smythe"}},
      {kByName, nullptr, "Baker", {"Adams", "Baker"}},
      {kByNameDesc, "Clark", "Brown", {"Clark", "Brownlow", "Brown"}},
      {kByNameDesc, "Brown", nullptr, {"Brown", "Baker", "Adams"}},
      {kByNameDesc, nullptr, "Smith", {"Smythe", "Smith"}},
      {kByName, "Smith", "Baker", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.Index) + " " + (c.Begin ? c.Begin : "-") + ".." + (c.End ? c.End : "-"));
    auto cursor = session_.Cursor("people", c.Index);
    const auto begin = Record(*cursor, Key(0, c.Begin ? c.Begin : ""));
    const auto end = Record(*cursor, Key(0, c.End ? c.End : ""));
    cursor->SetRange({.Data = c.Begin ? begin.data() : nullptr, .FieldCount = 1},
                     {.Data = c.End ? end.data() : nullptr, .FieldCount = 1});
    std::vector<std::string> names;
    for (std::int32_t id : WalkIds(*cursor)) {
      if (names.empty() || names.back() != *rows_[id].Name) names.push_back(*rows_[id].Name);
    }
    EXPECT_EQ(names, c.Names);
    std::int32_t expected = 0;
    for (const auto& [id, p] : rows_)
      expected += std::count(c.Names.begin(), c.Names.end(), *p.Name) > 0 ? 1 : 0;
    EXPECT_EQ(cursor->GetRecordCount(), expected);
    // Record numbers count within the range.
    if (expected > 0) {
      cursor->SetToRecordNumber(expected);
      EXPECT_EQ(cursor->GetRecordNumber(), expected);
      std::vector<std::uint8_t> buffer(cursor->GetRecordBufferSize());
      EXPECT_EQ(cursor->GetNextRecord(buffer.data()), TARN_EOF);
    }
    // A filter inside the range narrows it further.
    TAddFilterOptions options;
    options.Text = "AMOUNT <= 30";
    cursor->ActivateFilter(cursor->AddFilter(std::move(options)));
    for (std::int32_t id : WalkIds(*cursor)) EXPECT_LE(*rows_[id].Amount, 30);
    cursor->ResetRange();
    EXPECT_EQ(cursor->GetRecordCount(), 30);
  }
}

TEST_F(SearchTest, ARangeOnTheFirstOfTwoFieldsSelectsThatValue) {
  auto cursor = session_.Cursor("people", kByCityId);
  const auto paris = Record(*cursor, Key(0, {}, "Paris"));
  cursor->SetRange({.Data = paris.data(), .FieldCount = 1}, {.Data = paris.data(), .FieldCount = 1});
  const std::vector<std::int32_t> expected = Ids([](const Person& p) { return *p.City == "Paris"; });
  EXPECT_EQ(WalkIds(*cursor), expected);
  EXPECT_EQ(cursor->GetRecordCount(), static_cast<std::int32_t>(expected.size()));
  // The same index name keeps the range; another index drops it; an unknown one too.
  cursor->SetIndexName("BYCITYID");
  EXPECT_TRUE(cursor->RangeActive());
  EXPECT_EQ(RaisedCode([&] { cursor->SetIndexName("Nothing"); }), TARN_INVALIDINDEXNAME);
  EXPECT_FALSE(cursor->RangeActive());
}

TEST_F(SearchTest, BookmarksFindTheirRecordAgainOrItsNeighbour) {
  auto cursor = session_.Cursor("people", kByName);
  // Many records share a name: the bookmark (with the record ID) names one of them.
  cursor->SetToRecordNumber(12);
  const std::int32_t id = CurrentId(*cursor);
  std::vector<std::uint8_t> mark(cursor->GetBookmarkSize());
  cursor->GetBookmark(mark.data());
  cursor->SetToBegin();
  EXPECT_TRUE(cursor->SetToBookmark(mark.data(), false, false));
  EXPECT_EQ(CurrentId(*cursor), id);
  // The record is deleted: the bookmark leads to the following record.
  cursor->SetToRecordNumber(13);
  const std::int32_t next = CurrentId(*cursor);
  {
    SessionOn other(dir_.Path());
    TableWriter(other.Open("people")).Delete(numbers_[id]);
  }
  CursorSession strict(dir_.Path(), /*strict=*/true);
  auto reader = strict.Cursor("people", kByName);
  EXPECT_FALSE(reader->SetToBookmark(mark.data(), false, false));
  EXPECT_EQ(CurrentId(*reader), next);

  // Physical order: bookmarks are record numbers and compare as such.
  auto physical = session_.Cursor("people", kPhysicalOrder);
  std::vector<std::uint8_t> a(4), b(4);
  physical->SetToRecordNumber(3);
  physical->GetBookmark(a.data());
  physical->SetToRecordNumber(7);
  physical->GetBookmark(b.data());
  EXPECT_EQ(physical->CompareBookmarks(a.data(), b.data()), -1);
  EXPECT_EQ(physical->CompareBookmarks(b.data(), a.data()), 1);
  EXPECT_EQ(physical->CompareBookmarks(a.data(), a.data()), 0);
  EXPECT_TRUE(physical->SetToBookmark(a.data(), false, false));
  EXPECT_EQ(physical->GetRecordNumber(), 3);
}

}  // namespace
}  // namespace tarn::cursor_testing
