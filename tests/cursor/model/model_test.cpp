// The record store against a model: thousands of random appends, modifies,
// deletes, finds and range scans through cursors on a table with a primary
// index and two secondary indexes (one descending, one without regard to
// case), each step compared with an in-memory model; at the end every index
// walks in the model's order and the structural check finds every index
// holding exactly the live records.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include "cursor/cursor_fixture.h"
#include "storage/tables/structure_check.h"
#include "support/raised_code.h"

namespace tarn::cursor_testing {
namespace {

using test_support::RaisedCode;

constexpr std::uint8_t kModelByNameDesc = 1, kModelByCityCI = 2;

TTableDefinition ModelDefinition() {
  TTableDefinition def = PeopleDefinition({.SecondaryIndexes = false});
  TIndexDefinition byName = test_support::MakeIndex("ByNameDesc", {kNameField}, def.Fields, false);
  byName.Descending = 1;
  TIndexDefinition byCity = test_support::MakeIndex("ByCityCI", {kCityField}, def.Fields, false);
  byCity.CaseInsensitive = 1;
  def.Indexes.push_back(byName);
  def.Indexes.push_back(byCity);
  return def;
}

class ModelTest : public ::testing::Test {
 protected:
  void SetUp() override {
    CreateTable(dir_.Path(), "model", ModelDefinition());
    cursor_ = session_.Cursor("model");
  }

  Person RandomPerson(std::int32_t id) {
    static const char* names[] = {"Ann", "Bob", "Cid", "Dee", "Eve", "Fay", "Gus"};
    static const char* cities[] = {"oslo", "OSLO", "Rome", "rome", "Paris"};
    Person p;
    p.Id = id;
    if (random_() % 8 != 0) p.Name = names[random_() % 7];
    if (random_() % 8 != 0) p.Amount = static_cast<std::int32_t>(random_() % 1000);
    if (random_() % 8 != 0) p.City = cities[random_() % 5];
    return p;
  }
  std::vector<std::uint8_t> Buffer(const Person& p) {
    std::vector<std::uint8_t> bytes = TableWriter(*cursor_->Table()).Record(p);
    bytes.resize(cursor_->GetRecordBufferSize(), 0);
    return bytes;
  }
  // Positions the primary-index cursor on the record with this ID.
  bool FindId(std::int32_t id) {
    cursor_->SetIndexPos(0);
    return cursor_->Find(Buffer(Key(id)).data(), {});
  }
  static Person Key(std::int32_t id) {
    Person p;
    p.Id = id;
    return p;
  }
  std::int32_t RandomId() { return static_cast<std::int32_t>(random_() % 400) + 1; }

  void Append() {
    const Person p = RandomPerson(RandomId());
    std::vector<std::uint8_t> buffer = Buffer(p);
    if (model_.count(p.Id) != 0) {
      EXPECT_EQ(RaisedCode([&] { cursor_->AppendRecord(buffer.data()); }), TARN_KEYVIOL);
      ++refused_;
      return;
    }
    cursor_->AppendRecord(buffer.data());
    model_[p.Id] = p;
  }
  void Modify() {
    if (model_.empty()) return;
    auto it = std::next(model_.begin(), static_cast<std::ptrdiff_t>(random_() % model_.size()));
    ASSERT_TRUE(FindId(it->first));
    // Read, then lock the record: the lock checks that it is still as read.
    std::vector<std::uint8_t> buffer(cursor_->GetRecordBufferSize());
    ASSERT_EQ(cursor_->GetCurrentRecord(buffer.data()), 0);
    ASSERT_EQ(cursor_->GetCurrentRecord(buffer.data(), true), 0);
    // Sometimes the key itself changes, possibly onto a taken one.
    const std::int32_t id = random_() % 4 == 0 ? RandomId() : it->first;
    const Person p = RandomPerson(id);
    std::vector<std::uint8_t> changed = Buffer(p);
    if (id != it->first && model_.count(id) != 0) {
      EXPECT_EQ(RaisedCode([&] { cursor_->ModifyRecord(changed.data()); }), TARN_KEYVIOL);
      cursor_->CancelRecord();
      ++refused_;
      return;
    }
    cursor_->ModifyRecord(changed.data());
    ++modified_;
    model_.erase(it);
    model_[p.Id] = p;
  }
  void Delete() {
    if (model_.empty()) return;
    auto it = std::next(model_.begin(), static_cast<std::ptrdiff_t>(random_() % model_.size()));
    ASSERT_TRUE(FindId(it->first));
    std::vector<std::uint8_t> buffer(cursor_->GetRecordBufferSize());
    ASSERT_EQ(cursor_->GetCurrentRecord(buffer.data()), 0);
    cursor_->DeleteRecord(buffer.data());
    ++deleted_;
    model_.erase(it);
  }
  void FindSome() {
    const std::int32_t id = RandomId();
    EXPECT_EQ(FindId(id), model_.count(id) != 0) << id;
    cursor_->Find(Buffer(Key(id)).data(), {.Nearest = true});
    std::vector<std::uint8_t> buffer(cursor_->GetRecordBufferSize());
    const auto next = model_.lower_bound(id);
    if (next == model_.end()) {
      if (!model_.empty()) {
        ASSERT_EQ(cursor_->GetCurrentRecord(buffer.data()), 0);
        EXPECT_EQ(IdOf(*cursor_, buffer.data()), model_.rbegin()->first);
      }
    } else {
      ASSERT_EQ(cursor_->GetCurrentRecord(buffer.data()), 0);
      EXPECT_EQ(IdOf(*cursor_, buffer.data()), next->first);
    }
  }
  // A range over the descending name index against the model.
  void RangeScan() {
    static const char* names[] = {"Ann", "Bob", "Cid", "Dee", "Eve", "Fay", "Gus"};
    std::string a = names[random_() % 7], b = names[random_() % 7];
    if (a < b) std::swap(a, b);  // descending: the begin is the larger name
    cursor_->SetIndexPos(kModelByNameDesc);
    Person low = Key(0), high = Key(0);
    low.Name = a;
    high.Name = b;
    const auto begin = Buffer(low), end = Buffer(high);
    cursor_->SetRange({.Data = begin.data(), .FieldCount = 1}, {.Data = end.data(), .FieldCount = 1});
    std::vector<std::int32_t> expected;
    for (const auto& [id, p] : model_)
      if (p.Name && *p.Name <= a && *p.Name >= b) expected.push_back(id);
    std::vector<std::int32_t> got = WalkIds(*cursor_);
    EXPECT_EQ(cursor_->GetRecordCount(), static_cast<std::int32_t>(got.size()));
    std::sort(got.begin(), got.end());
    EXPECT_EQ(got, expected);
    cursor_->ResetRange();
  }

  std::vector<std::int32_t> ModelIds() const {
    std::vector<std::int32_t> ids;
    for (const auto& [id, p] : model_) ids.push_back(id);
    return ids;
  }

  TempDirectory dir_;
  CursorSession session_{dir_.Path()};
  std::unique_ptr<TDataCursor> cursor_;
  std::map<std::int32_t, Person> model_;
  std::mt19937 random_{2026};
  int refused_ = 0, modified_ = 0, deleted_ = 0;
};

TEST_F(ModelTest, RandomChangesAgreeWithTheModelAtEveryStep) {
  for (int step = 0; step < 3000; ++step) {
    const unsigned op = random_() % 10;
    if (op < 4) {
      Append();
    } else if (op < 6) {
      Modify();
    } else if (op < 7) {
      Delete();
    } else if (op < 9) {
      FindSome();
    } else {
      RangeScan();
    }
    if (::testing::Test::HasFailure()) {
      FAIL() << "at step " << step;
    }
    cursor_->SetIndexPos(0);
    ASSERT_EQ(cursor_->GetRecordCount(), static_cast<std::int32_t>(model_.size())) << "at step " << step;
    if (step % 250 == 0) {
      ASSERT_EQ(WalkIds(*cursor_), ModelIds()) << "at step " << step;
    }
  }
  // The stream did what it is for: the table filled, and changes and refusals happened.
  EXPECT_GT(model_.size(), 100u);
  EXPECT_GT(refused_, 50);
  EXPECT_GT(modified_, 200);
  EXPECT_GT(deleted_, 100);
  cursor_->SetIndexPos(0);
  EXPECT_EQ(WalkIds(*cursor_), ModelIds());
  // The secondary indexes hold every live record, in their own order.
  for (std::uint8_t index : {kModelByNameDesc, kModelByCityCI}) {
    cursor_->SetIndexPos(index);
    std::vector<std::int32_t> ids = WalkIds(*cursor_);
    EXPECT_EQ(ids.size(), model_.size());
    std::sort(ids.begin(), ids.end());
    EXPECT_EQ(ids, ModelIds());
  }
  const TFindings findings = CheckTableStructure(*cursor_->Table());
  EXPECT_TRUE(findings.empty()) << (findings.empty() ? "" : findings.front());
}

}  // namespace
}  // namespace tarn::cursor_testing
