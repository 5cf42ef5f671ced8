// Cursor navigation: the position state machine at both ends, walks in index
// and physical order across many leaf pages, going to the n-th record,
// record numbers and counts, read blocks, deleted records, index selection.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <numeric>

#include "cursor/cursor_fixture.h"
#include "support/raised_code.h"

namespace tarn::cursor_testing {
namespace {

using test_support::RaisedCode;

class NavigationTest : public ::testing::Test {
 protected:
  // Records with IDs in a shuffled order, names from a small set (so the name
  // indexes hold duplicates) and amounts; every seventh record deleted again.
  void Fill(int count, bool deleteSome = false) {
    std::vector<std::int32_t> ids(static_cast<std::size_t>(count));
    std::iota(ids.begin(), ids.end(), 1);
    std::mt19937 random(7);
    std::shuffle(ids.begin(), ids.end(), random);
    TableWriter writer(session_.session.Open("people"));
    for (std::int32_t id : ids) {
      Person p{id, "name" + std::to_string(id % 37), id * 3 % 101, "c"};
      numbers_[id] = writer.Append(p);
      rows_[id] = p;
      physical_.push_back(id);
    }
    if (deleteSome) {
      for (std::int32_t id : ids) {
        if (id % 7 != 0) continue;
        writer.Delete(numbers_[id]);
        rows_.erase(id);
        physical_.erase(std::find(physical_.begin(), physical_.end(), id));
      }
    }
  }
  std::vector<std::int32_t> ById() const {
    std::vector<std::int32_t> ids;
    for (const auto& [id, row] : rows_) ids.push_back(id);
    return ids;
  }
  // Equal names follow the record IDs, given out in the order of appending.
  std::vector<std::int32_t> ByName() const {
    std::vector<std::int32_t> ids = physical_;
    std::stable_sort(ids.begin(), ids.end(),
                     [&](std::int32_t a, std::int32_t b) { return *rows_.at(a).Name < *rows_.at(b).Name; });
    return ids;
  }

  void SetUp() override { CreateTable(dir_.Path(), "people", PeopleDefinition()); }

  TempDirectory dir_;
  CursorSession session_{dir_.Path()};
  std::map<std::int32_t, Person> rows_;
  std::map<std::int32_t, std::int32_t> numbers_;
  std::vector<std::int32_t> physical_;
};

TEST_F(NavigationTest, AnEmptyTableHasNoRecordInAnyOrder) {
  for (std::uint8_t index : {std::uint8_t{0}, kByName, kPhysicalOrder}) {
    SCOPED_TRACE(static_cast<int>(index));
    auto cursor = session_.Cursor("people", index);
    std::vector<std::uint8_t> buffer(cursor->GetRecordBufferSize(), 0xAA);
    cursor->SetToBegin();
    EXPECT_EQ(cursor->GetNextRecord(buffer.data()), TARN_EOF);
    EXPECT_TRUE(std::all_of(buffer.begin(), buffer.end(), [](std::uint8_t b) { return b == 0; }));
    EXPECT_EQ(cursor->GetPriorRecord(buffer.data()), TARN_BOF);
    EXPECT_EQ(cursor->GetCurrentRecord(buffer.data()), TARN_NOCURRREC);
    EXPECT_EQ(cursor->GetRecordCount(), 0);
    EXPECT_EQ(cursor->GetRecordNumber(), 0);
    cursor->SetToRecordNumber(1);
    EXPECT_NE(cursor->GetCurrentRecord(buffer.data()), 0);
  }
}

TEST_F(NavigationTest, WalksFollowEachOrderInBothDirectionsAcrossLeafPages) {
  Fill(1500, /*deleteSome=*/true);
  struct Case {
    std::uint8_t Index;
    std::vector<std::int32_t> Expected;
  };
  // A descending index reverses the whole key, the record ID of equal names too.
  std::vector<std::int32_t> byNameDesc = ByName();
  std::reverse(byNameDesc.begin(), byNameDesc.end());
  const std::vector<Case> cases = {
      {0, ById()}, {kByName, ByName()}, {kByNameDesc, byNameDesc}, {kPhysicalOrder, physical_}};
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.Index));
    auto cursor = session_.Cursor("people", c.Index);
    EXPECT_EQ(cursor->GetRecordCount(), static_cast<std::int32_t>(c.Expected.size()));
    EXPECT_EQ(WalkIds(*cursor), c.Expected);
    std::vector<std::int32_t> backward(c.Expected.rbegin(), c.Expected.rend());
    EXPECT_EQ(WalkIdsBackward(*cursor), backward);
  }
}

TEST_F(NavigationTest, TheEndsTurnAroundOntoTheLastAndFirstRecords) {
  Fill(5);
  for (std::uint8_t index : {std::uint8_t{0}, kPhysicalOrder}) {
    SCOPED_TRACE(static_cast<int>(index));
    auto cursor = session_.Cursor("people", index);
    std::vector<std::uint8_t> buffer(cursor->GetRecordBufferSize());
    const std::vector<std::int32_t> order = index == 0 ? ById() : physical_;
    cursor->SetToEnd();
    EXPECT_TRUE(cursor->Eof());
    EXPECT_EQ(cursor->GetCurrentRecord(buffer.data()), TARN_EOF);
    EXPECT_EQ(cursor->GetNextRecord(buffer.data()), TARN_EOF);
    ASSERT_EQ(cursor->GetPriorRecord(buffer.data()), 0);
    EXPECT_EQ(IdOf(*cursor, buffer.data()), order.back());
    while (cursor->GetNextRecord(buffer.data()) == 0) {
    }
    ASSERT_EQ(cursor->GetPriorRecord(buffer.data()), 0);
    EXPECT_EQ(IdOf(*cursor, buffer.data()), order.back());
    cursor->SetToBegin();
    EXPECT_TRUE(cursor->Bof());
    EXPECT_EQ(cursor->GetCurrentRecord(buffer.data()), TARN_BOF);
    EXPECT_EQ(cursor->GetPriorRecord(buffer.data()), TARN_BOF);
    ASSERT_EQ(cursor->GetNextRecord(buffer.data()), 0);
    EXPECT_EQ(IdOf(*cursor, buffer.data()), order.front());
    EXPECT_EQ(cursor->GetPriorRecord(buffer.data()), TARN_BOF);
    ASSERT_EQ(cursor->GetNextRecord(buffer.data()), 0);
    EXPECT_EQ(IdOf(*cursor, buffer.data()), order.front());
  }
}

TEST_F(NavigationTest, GoingToTheNthRecordAgreesWithTheWalk) {
  Fill(1200, /*deleteSome=*/true);
  for (std::uint8_t index : {std::uint8_t{0}, kByName, kPhysicalOrder}) {
    SCOPED_TRACE(static_cast<int>(index));
    auto cursor = session_.Cursor("people", index);
    const std::vector<std::int32_t> order = WalkIds(*cursor);
    const std::int32_t count = cursor->GetRecordCount();
    ASSERT_EQ(count, static_cast<std::int32_t>(order.size()));
    std::vector<std::uint8_t> buffer(cursor->GetRecordBufferSize());
    std::mt19937 random(3);
    for (int i = 0; i < 200; ++i) {
      const std::int32_t n = static_cast<std::int32_t>(random() % static_cast<unsigned>(count)) + 1;
      cursor->SetToRecordNumber(n);
      ASSERT_EQ(cursor->GetCurrentRecord(buffer.data()), 0);
      EXPECT_EQ(IdOf(*cursor, buffer.data()), order[static_cast<std::size_t>(n - 1)]);
      EXPECT_EQ(cursor->GetRecordNumber(), n);
      // The neighbours follow from there.
      if (n < count) {
        ASSERT_EQ(cursor->GetNextRecord(buffer.data()), 0);
        EXPECT_EQ(IdOf(*cursor, buffer.data()), order[static_cast<std::size_t>(n)]);
        EXPECT_EQ(cursor->GetRecordNumber(), n + 1);
      }
    }
    cursor->SetToRecordNumber(count + 1);
    EXPECT_TRUE(cursor->Eof());
    EXPECT_EQ(cursor->GetCurrentRecord(buffer.data()), TARN_EOF);
    cursor->SetToRecordNumber(0);
    EXPECT_TRUE(cursor->Bof());
    EXPECT_EQ(cursor->GetCurrentRecord(buffer.data()), TARN_BOF);
  }
}

// In physical order the read-ahead is the run of consecutive records of the
// navigation bitmap from the current one, at most the number wanted: checked
// against a bit-by-bit count at every record, for windows shorter and longer
// than the runs, on a table without deleted records (every record visible),
// then with holes left by deleted records and by a filter.
TEST_F(NavigationTest, ReadAheadInPhysicalOrderIsTheRunOfConsecutiveVisibleRecords) {
  auto check = [&](const char* filter, bool everyRecordVisible) {
    SCOPED_TRACE(filter);
    auto cursor = session_.Cursor("people", kPhysicalOrder);
    if (*filter != '\0') cursor->ActivateFilter(cursor->AddFilter({.Text = filter, .CountCheck = true}));
    const TRecordsBitmap& bitmap = cursor->NavigationBitmap();
    auto expected = [&](std::int32_t r, std::int32_t wanted, bool forward) {
      std::int32_t n = 1;
      while (n < wanted && bitmap.IsBitSet(forward ? r + n : r - n)) ++n;
      return n;
    };
    std::vector<std::uint8_t> buffer(cursor->GetRecordBufferSize());
    cursor->SetToBegin();
    int records = 0, wholeWindows = 0;
    while (cursor->GetNextRecord(buffer.data()) == 0) {
      ++records;
      const std::int32_t r = cursor->GetPhysicalRecordNumber();
      for (std::int32_t wanted : {1, 2, 3, 5, 8, 40, 2000}) {
        ASSERT_EQ(cursor->GetNumReadAheadRecords(wanted, kReadAheadForward), expected(r, wanted, true))
            << "record " << r << " wanted " << wanted;
        ASSERT_EQ(cursor->GetNumReadAheadRecords(wanted, kReadAheadBackward), expected(r, wanted, false))
            << "record " << r << " wanted " << wanted;
      }
      if (expected(r, 5, true) == 5) ++wholeWindows;
    }
    EXPECT_EQ(records, cursor->GetRecordCount());
    EXPECT_GT(wholeWindows, 0);
    if (everyRecordVisible) {
      EXPECT_EQ(wholeWindows, records - 4);
    } else {
      EXPECT_LT(wholeWindows, records - 4);
    }
  };
  Fill(1200);
  check("", true);
  {
    TableWriter writer(session_.session.Open("people"));
    for (std::int32_t id = 7; id <= 1200; id += 7) writer.Delete(numbers_[id]);
  }
  check("", false);
  check("AMOUNT < 50", false);
}

TEST_F(NavigationTest, ReadRecordBlockStopsAtTheEndWithTheNumberRead) {
  Fill(8);
  auto cursor = session_.Cursor("people");
  const std::size_t size = cursor->GetRecordBufferSize();
  std::vector<std::uint8_t> buffers(10 * size);
  cursor->SetToRecordNumber(4);
  std::int32_t count = 10;
  EXPECT_EQ(cursor->ReadRecordBlock(count, buffers.data()), TARN_EOF);
  ASSERT_EQ(count, 4);
  for (std::int32_t i = 0; i < count; ++i)
    EXPECT_EQ(IdOf(*cursor, &buffers[static_cast<std::size_t>(i) * size]), 5 + i);
  count = 3;
  cursor->SetToBegin();
  EXPECT_EQ(cursor->ReadRecordBlock(count, buffers.data()), 0);
  EXPECT_EQ(count, 3);
}

TEST_F(NavigationTest, ChoosingAnIndexByName) {
  Fill(20);
  auto cursor = session_.Cursor("people");
  std::vector<std::uint8_t> buffer(cursor->GetRecordBufferSize());
  cursor->SetIndexName("byname");
  EXPECT_EQ(cursor->GetIndexPos(), kByName);
  EXPECT_EQ(WalkIds(*cursor), ByName());
  // The current record stays current across a change of index.
  cursor->SetToRecordNumber(5);
  ASSERT_EQ(cursor->GetCurrentRecord(buffer.data()), 0);
  const std::int32_t id = IdOf(*cursor, buffer.data());
  cursor->SetIndexName("");
  ASSERT_EQ(cursor->GetCurrentRecord(buffer.data()), 0);
  EXPECT_EQ(IdOf(*cursor, buffer.data()), id);
  EXPECT_EQ(cursor->GetRecordNumber(), id);
  EXPECT_EQ(RaisedCode([&] { cursor->SetIndexName("NoSuchIndex"); }), TARN_INVALIDINDEXNAME);
}

TEST_F(NavigationTest, ChangesMadeElsewhereAreSeenAtTheNextOperation) {
  Fill(10);
  CursorSession strict(dir_.Path(), /*strict=*/true);
  auto cursor = strict.Cursor("people");
  EXPECT_EQ(cursor->GetRecordCount(), 10);
  std::vector<std::uint8_t> buffer(cursor->GetRecordBufferSize());
  cursor->SetToRecordNumber(3);
  ASSERT_EQ(cursor->GetCurrentRecord(buffer.data()), 0);
  EXPECT_EQ(IdOf(*cursor, buffer.data()), 3);
  {
    // Another session of this process is another user of the table.
    SessionOn other(dir_.Path());
    TableWriter writer(other.Open("people"));
    writer.Append({0, "zero", 0, "c"});
    writer.Append({11, "eleven", 11, "c"});
  }
  ASSERT_EQ(cursor->GetCurrentRecord(buffer.data()), 0);
  EXPECT_EQ(IdOf(*cursor, buffer.data()), 3);
  EXPECT_EQ(cursor->GetRecordNumber(), 4);
  EXPECT_EQ(cursor->GetRecordCount(), 12);
  std::vector<std::int32_t> expected(12);
  std::iota(expected.begin(), expected.end(), 0);
  EXPECT_EQ(WalkIds(*cursor), expected);
}

// Without strict change detection a cursor learns of another session's change
// when a record it reads misses the cache: the read lock the miss takes finds
// the change. The cursor then stands on the record's neighbour, never on the
// deleted record's bytes. Wide records keep few of them cached, while the
// primary index fits the one leaf its cache holds.
TEST(CacheMissChange, ARecordDeletedElsewhereIsNotReadWhenTheMissFindsTheChange) {
  TempDirectory dir;
  TTableDefinition def = PeopleDefinition({.SecondaryIndexes = false});
  def.Fields[kNameField - 1].Size = 250;
  test_support::LayOut(def.Fields);
  CreateTable(dir.Path(), "wide", def);
  std::vector<std::int32_t> numbers(201);
  {
    SessionOn writing(dir.Path());
    TableWriter writer(writing.Open("wide"));
    for (int id = 1; id <= 200; ++id) numbers[static_cast<std::size_t>(id)] = writer.Append({id, "n", id, "c"});
  }
  CursorSession session(dir.Path());
  auto cursor = session.Cursor("wide");
  std::vector<std::uint8_t> buffer(cursor->GetRecordBufferSize());
  // Walk everything once: the index leaf is cached, the early records are not.
  // Record 6 is read again (with the records after it).
  EXPECT_EQ(WalkIds(*cursor).size(), 200u);
  cursor->SetToRecordNumber(6);
  {
    SessionOn other(dir.Path());
    TableWriter(other.Open("wide")).Delete(numbers[5]);
  }
  // The step back meets record 5 in the cached leaf; reading it misses.
  ASSERT_EQ(cursor->GetPriorRecord(buffer.data()), 0);
  EXPECT_EQ(IdOf(*cursor, buffer.data()), 4);
  EXPECT_EQ(cursor->GetRecordCount(), 199);
  std::vector<std::int32_t> expected;
  for (int id = 1; id <= 200; ++id)
    if (id != 5) expected.push_back(id);
  EXPECT_EQ(WalkIds(*cursor), expected);
}

}  // namespace
}  // namespace tarn::cursor_testing
