// The cursor's filter list and the views it gives: limits and handles,
// filtered counts and record numbers in physical and index order, callback
// filters behind expression filters, deactivation, and the bitmaps kept
// current when the cursor itself deletes or changes a record.
#include <gtest/gtest.h>

#include <algorithm>

#include "cursor/cursor_fixture.h"
#include "support/raised_code.h"

namespace tarn::cursor_testing {
namespace {

using test_support::RaisedCode;

class FilterListTest : public ::testing::Test {
 protected:
  void SetUp() override {
    CreateTable(dir_.Path(), "people", PeopleDefinition());
    writer_ = std::make_unique<TableWriter>(session_.session.Open("people"));
    for (int i = 1; i <= 10; ++i) numbers_.push_back(writer_->Append({i, "n" + std::to_string(i), i, "c"}));
  }
  TFilterHandle Add(TDataCursor& cursor, const std::string& text, bool activate = true) {
    TAddFilterOptions options;
    options.Text = text;
    options.CountCheck = true;
    const TFilterHandle handle = cursor.AddFilter(std::move(options));
    if (activate) cursor.ActivateFilter(handle);
    return handle;
  }

  TempDirectory dir_;
  CursorSession session_{dir_.Path()};
  std::unique_ptr<TableWriter> writer_;
  std::vector<std::int32_t> numbers_;
};

TEST_F(FilterListTest, LimitsHandlesAndBadFilters) {
  auto cursor = session_.Cursor("people");
  std::vector<TFilterHandle> handles;
  for (std::size_t i = 0; i < kMaxFilters; ++i) handles.push_back(Add(*cursor, "AMOUNT > 0", false));
  EXPECT_EQ(std::set<TFilterHandle>(handles.begin(), handles.end()).size(), kMaxFilters);
  EXPECT_EQ(RaisedCode([&] { Add(*cursor, "AMOUNT > 0", false); }), TARN_INTERNALLIMIT);
  cursor->DropFilter(handles[3]);
  EXPECT_EQ(RaisedCode([&] { cursor->DropFilter(handles[3]); }), TARN_NOSUCHFILTER);
  EXPECT_EQ(RaisedCode([&] { cursor->ActivateFilter(handles[3]); }), TARN_NOSUCHFILTER);
  cursor->DropAllFilters();
  EXPECT_EQ(RaisedCode([&] { cursor->AddFilter({}); }), TARN_INVALIDFILTER);
  EXPECT_EQ(RaisedCode([&] { Add(*cursor, "   "); }), TARN_INVALIDFILTER);
  EXPECT_EQ(RaisedCode([&] { Add(*cursor, "AMOUNT + 1"); }), TARN_INVALIDFILTER);
  EXPECT_EQ(RaisedCode([&] { Add(*cursor, "NOSUCH = 1"); }), TARN_INVALIDFILTER);
  EXPECT_EQ(RaisedCode([&] { Add(*cursor, "AMOUNT = 1 junk"); }), TARN_INVALIDFILTER);
  EXPECT_EQ(cursor->GetRecordCount(), 10);
  EXPECT_FALSE(cursor->BitmapNavigation());
}

TEST_F(FilterListTest, FilteredCountsAndRecordNumbersInBothOrders) {
  struct Case {
    std::uint8_t Index;
    std::int32_t LastRecordNumber;  // of the last record of the view
  };
  // Physical order counts the visible records; index order counts all records
  // of the range up to the current one, the filtered ones too.
  for (const Case c : {Case{kPhysicalOrder, 3}, Case{0, 9}}) {
    SCOPED_TRACE(static_cast<int>(c.Index));
    auto cursor = session_.Cursor("people", c.Index);
    Add(*cursor, "AMOUNT = 2 OR AMOUNT = 5 OR AMOUNT = 9");
    EXPECT_EQ(cursor->GetRecordCount(), 3);
    EXPECT_EQ(WalkIds(*cursor), (std::vector<std::int32_t>{2, 5, 9}));
    EXPECT_EQ(WalkIdsBackward(*cursor), (std::vector<std::int32_t>{9, 5, 2}));
    std::vector<std::uint8_t> buffer(cursor->GetRecordBufferSize());
    cursor->SetToEnd();
    ASSERT_EQ(cursor->GetPriorRecord(buffer.data()), 0);
    EXPECT_EQ(IdOf(*cursor, buffer.data()), 9);
    EXPECT_EQ(cursor->GetRecordNumber(), c.LastRecordNumber);
    cursor->SetToBegin();
    ASSERT_EQ(cursor->GetNextRecord(buffer.data()), 0);
    EXPECT_EQ(IdOf(*cursor, buffer.data()), 2);
    // Deactivated, every record is back; the current one stays current.
    cursor->DeactivateAllFilters();
    EXPECT_EQ(cursor->GetRecordCount(), 10);
    ASSERT_EQ(cursor->GetCurrentRecord(buffer.data()), 0);
    EXPECT_EQ(IdOf(*cursor, buffer.data()), 2);
    EXPECT_EQ(WalkIds(*cursor).size(), 10u);
    cursor->ActivateAllFilters();
    EXPECT_EQ(cursor->GetRecordCount(), 3);
  }
}

TEST_F(FilterListTest, ACallbackFilterComesAfterTheOthersAndSeesOnlyTheirRecords) {
  auto cursor = session_.Cursor("people");
  struct Seen {
    std::vector<std::int32_t> ids;
  } seen;
  TAddFilterOptions callback;
  callback.CallbackOwner = 7;
  callback.AfterOthers = true;
  callback.CountCheck = true;
  static Seen* current = nullptr;
  current = &seen;
  callback.Callback = [](std::int32_t owner, void* c, const std::uint8_t* record, std::int32_t) {
    EXPECT_EQ(owner, 7);
    const std::int32_t id = IdOf(*static_cast<TDataCursor*>(c), record);
    current->ids.push_back(id);
    return id % 2 == 0;
  };
  const TFilterHandle odd = cursor->AddFilter(std::move(callback));
  Add(*cursor, "AMOUNT <= 6", false);
  cursor->ActivateAllFilters();
  EXPECT_EQ(WalkIds(*cursor), (std::vector<std::int32_t>{2, 4, 6}));
  std::sort(seen.ids.begin(), seen.ids.end());
  EXPECT_EQ(seen.ids, (std::vector<std::int32_t>{1, 2, 3, 4, 5, 6}));
  cursor->DropFilter(odd);
  EXPECT_EQ(cursor->GetRecordCount(), 6);
}

TEST_F(FilterListTest, OwnChangesKeepTheBitmapsCurrent) {
  auto cursor = session_.Cursor("people", kPhysicalOrder);
  Add(*cursor, "AMOUNT > 4");
  EXPECT_EQ(cursor->GetRecordCount(), 6);
  // Record 7 (AMOUNT 7) is deleted by this cursor's table: the count drops at once.
  writer_->Delete(numbers_[6]);
  cursor->DeleteRecordInBitmap(numbers_[6]);
  EXPECT_EQ(cursor->GetRecordCount(), 5);
  EXPECT_EQ(WalkIds(*cursor), (std::vector<std::int32_t>{5, 6, 8, 9, 10}));
  // A new record that passes the filter joins the view (in the place of the
  // deleted record, whose number it reuses); one that fails does not.
  const std::int32_t passes = writer_->Append({11, "n", 40, "c"});
  cursor->UpdateRecordInBitmap(passes, writer_->Record({11, "n", 40, "c"}).data());
  const std::int32_t fails = writer_->Append({12, "n", 1, "c"});
  cursor->UpdateRecordInBitmap(fails, writer_->Record({12, "n", 1, "c"}).data());
  EXPECT_EQ(cursor->GetRecordCount(), 6);
  EXPECT_EQ(cursor->NavigationBitmap().GetNumOfBits(), cursor->GetPhysicalRecordsUsed());
  EXPECT_EQ(passes, numbers_[6]);
  EXPECT_EQ(WalkIds(*cursor), (std::vector<std::int32_t>{5, 6, 11, 8, 9, 10}));
}

}  // namespace
}  // namespace tarn::cursor_testing
