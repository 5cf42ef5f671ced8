// Deleting, renaming and emptying tables through a cursor, and adding and
// deleting indexes of a filled table: index order of a new index, a unique
// index over duplicate keys (refused, every record kept, no index added), a
// deleted middle index whose later neighbours keep working, and deleting all
// indexes.
#include <gtest/gtest.h>

#include <map>

#include "cursor/tables/tables_fixture.h"
#include "support/raised_code.h"

namespace tarn::cursor_testing {
namespace {

using test_support::RaisedCode;

TIndexDefinition IndexOn(std::string_view name, std::initializer_list<std::uint16_t> fields, bool unique) {
  TIndexDefinition def = MakeEmptyIndexDefinition();
  def.Name.Assign(name);
  def.Unique = unique ? 1 : 0;
  std::size_t k = 0;
  for (std::uint16_t n : fields) def.KeyFields[k++] = n;
  return def;
}

// Twelve people whose cities repeat and whose IDs are not in physical order.
std::vector<Person> People() {
  const char* cities[] = {"Oslo", "Bern", "Rome", "Bern", "Lima", "Oslo"};
  std::vector<Person> people;
  for (std::int32_t i = 0; i < 12; ++i) {
    const std::int32_t id = (i * 7) % 12 + 1;
    people.push_back({id, "n" + std::to_string(100 - id), (id * 5) % 13, cities[i % 6]});
  }
  return people;
}

// The IDs ordered by (city, physical position): the order of a non-unique
// index on CITY, whose keys end with the record ID.
std::vector<std::int32_t> IdsByCity(const std::vector<Person>& people) {
  std::vector<std::pair<std::string, std::size_t>> order;
  for (std::size_t i = 0; i < people.size(); ++i) order.push_back({*people[i].City, i});
  std::sort(order.begin(), order.end());
  std::vector<std::int32_t> ids;
  for (const auto& [city, i] : order) ids.push_back(people[i].Id);
  return ids;
}

std::vector<std::int32_t> SortedIds(const std::vector<Person>& people, bool byAmount = false) {
  std::vector<Person> sorted = people;
  std::stable_sort(sorted.begin(), sorted.end(), [&](const Person& a, const Person& b) {
    return byAmount ? std::tie(*a.Amount, a.Id) < std::tie(*b.Amount, b.Id) : a.Id < b.Id;
  });
  std::vector<std::int32_t> ids;
  for (const Person& p : sorted) ids.push_back(p.Id);
  return ids;
}

class TableOperationsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    CreateTable(dir_.Path(), "people", PeopleDefinition());
    FillPeople(dir_.Path(), "people", people_);
  }
  std::string Path() const { return dir_.Path(); }

  TempDirectory dir_;
  std::vector<Person> people_ = People();
  CursorSession session_{dir_.Path()};
  TDataDirectory& directory() { return *session_.session.directory; }
};

TEST_F(TableOperationsTest, DeleteAndRenameNeedTheTableClosedEverywhere) {
  auto cursor = ClosedCursor(directory(), "people");
  {
    auto reader = session_.Cursor("people");
    EXPECT_EQ(RaisedCode([&] { cursor->DeleteTable(); }), TARN_OSEACCES);
    EXPECT_EQ(RaisedCode([&] { cursor->RenameTable("staff"); }), TARN_OSEACCES);
    EXPECT_EQ(RaisedCode([&] { reader->DeleteTable(); }), TARN_TABLEOPEN);
  }
  EXPECT_TRUE(directory().DataTableExists("people", false));

  // A name taken by another table is refused, and nothing of either moves.
  CreateTable(Path(), "other", PeopleDefinition());
  EXPECT_NE(RaisedCode([&] { cursor->RenameTable("other"); }), 0);
  EXPECT_EQ(IdsByIndex(Path(), "people", ""), SortedIds(people_));
  EXPECT_EQ(IdsByIndex(Path(), "other", ""), std::vector<std::int32_t>{});

  cursor->RenameTable("staff");
  EXPECT_FALSE(directory().DataTableExists("people", false));
  EXPECT_EQ(IdsByIndex(Path(), "staff", ""), SortedIds(people_));

  auto staff = ClosedCursor(directory(), "staff");
  staff->DeleteTable();
  EXPECT_FALSE(directory().DataTableExists("staff", false));
  EXPECT_EQ(RaisedCode([&] { staff->DeleteTable(); }), TARN_OSENOENT);
  for (const std::string& name : FilesIn(Path())) EXPECT_EQ(name.find("staff."), std::string::npos) << name;
}

TEST_F(TableOperationsTest, EmptyTableLeavesAnEmptyUsableTable) {
  {
    auto reader = session_.Cursor("people");
    EXPECT_EQ(RaisedCode([&] { reader->EmptyTable(); }), TARN_NEEDEXCLACCESS);
  }
  {
    auto cursor = ExclusiveCursor(directory(), "people");
    cursor->SetIndexName("ByAmount");
    cursor->EmptyTable();
    EXPECT_EQ(cursor->GetRecordCount(), 0);
    EXPECT_EQ(WalkIds(*cursor), std::vector<std::int32_t>{});
    EXPECT_EQ(cursor->GetIndexName(), "ByAmount");
  }
  EXPECT_EQ(StructureFindings(Path(), "people"), "");
  EXPECT_EQ(IdsByIndex(Path(), "people", ""), std::vector<std::int32_t>{});
  FillPeople(Path(), "people", {{7, "x", 1, "c"}});
  EXPECT_EQ(IdsByIndex(Path(), "people", "ByName"), std::vector<std::int32_t>{7});
}

TEST_F(TableOperationsTest, IndexChangesNeedAnOpenExclusiveWritableCursor) {
  TIndexDefinition def = IndexOn("ByCity", {kCityField}, false);
  auto closed = ClosedCursor(directory(), "people");
  EXPECT_EQ(RaisedCode([&] { closed->AddSecondaryIndex(def); }), TARN_OSEBADF);
  auto shared = session_.Cursor("people");
  EXPECT_EQ(RaisedCode([&] { shared->AddSecondaryIndex(def); }), TARN_NEEDEXCLACCESS);
  EXPECT_EQ(RaisedCode([&] { shared->DeleteIndex("ByName"); }), TARN_NEEDEXCLACCESS);
  EXPECT_TRUE(shared->IndexExists(" byname"));
  EXPECT_FALSE(shared->IndexExists("ByCity"));
}

TEST_F(TableOperationsTest, ANewSecondaryIndexHoldsEveryLiveRecordInKeyOrder) {
  // A deleted record has no key in the new index.
  {
    SessionOn writing(Path());
    TableWriter writer(writing.Open("people"));
    const std::int32_t extra = writer.Append({99, "gone", 1, "Aachen"});
    writer.Delete(extra);
  }
  std::vector<int> progress;
  {
    auto cursor = ExclusiveCursor(directory(), "people");
    session_.session.session.SetProgress(4);
    cursor->SetIndexProgressCallback([&](int percent) { progress.push_back(percent); });
    TIndexDefinition def = IndexOn("  ByCity ", {kCityField}, false);
    cursor->AddSecondaryIndex(def);
    EXPECT_EQ(def.Name.Str(), "ByCity");
    EXPECT_EQ(def.KeySize, 16 + 1 + 4);
    EXPECT_EQ(cursor->GetIndexCount(), 5);
    EXPECT_EQ(cursor->GetIndexPos(), 0);  // the cursor stays on its index
    cursor->SetIndexName("ByCity");
    EXPECT_EQ(WalkIds(*cursor), IdsByCity(people_));
    EXPECT_EQ(RaisedCode([&] { cursor->AddSecondaryIndex(def); }), TARN_INDEXEXISTS);
  }
  // 13 physical records, reported whenever 25 more percent are done.
  EXPECT_EQ(progress, (std::vector<int>{30, 61, 92}));
  EXPECT_EQ(StructureFindings(Path(), "people"), "");
  EXPECT_EQ(IdsByIndex(Path(), "people", "ByCity"), IdsByCity(people_));
  EXPECT_EQ(IdsByIndex(Path(), "people", "ByAmount"), SortedIds(people_, true));
}

TEST_F(TableOperationsTest, AUniqueIndexOverDuplicateKeysIsRefusedAndEveryRecordKept) {
  {
    auto cursor = ExclusiveCursor(directory(), "people");
    TIndexDefinition def = IndexOn("CityOnce", {kCityField}, true);
    try {
      cursor->AddSecondaryIndex(def);
      FAIL() << "a unique index over duplicate cities was built";
    } catch (const ETarnEngineError& e) {
      EXPECT_EQ(e.ErrorCode(), TARN_KEYVIOL);
      EXPECT_EQ(e.ErrorIndexName(), "CityOnce");
    }
    EXPECT_EQ(cursor->GetIndexCount(), 4);
    EXPECT_FALSE(cursor->IndexExists("CityOnce"));
    EXPECT_EQ(cursor->GetRecordCount(), static_cast<std::int32_t>(people_.size()));
    EXPECT_EQ(WalkIds(*cursor), SortedIds(people_));
    // The table goes on taking indexes.
    TIndexDefinition byCity = IndexOn("ByCity", {kCityField}, false);
    cursor->AddSecondaryIndex(byCity);
    EXPECT_EQ(cursor->GetIndexCount(), 5);
  }
  EXPECT_EQ(StructureFindings(Path(), "people"), "");
  EXPECT_EQ(IdsByIndex(Path(), "people", ""), SortedIds(people_));
  EXPECT_EQ(IdsByIndex(Path(), "people", "ByCity"), IdsByCity(people_));
}

TEST_F(TableOperationsTest, APrimaryIndexIsBuiltOverTheRecordsOrRefusedOverDuplicates) {
  TCreateArguments arguments = PeopleArguments();
  arguments.Indexes = {MakeEmptyIndexDefinition()};
  ClosedCursor(directory(), "loose")->CreateTable(arguments);
  std::vector<Person> twice = people_;
  twice.push_back({people_[3].Id, "again", 1, "Oslo"});
  FillPeople(Path(), "loose", twice);
  {
    auto cursor = ExclusiveCursor(directory(), "loose");
    TIndexDefinition byId = IndexOn("", {kIdField}, false);
    EXPECT_EQ(RaisedCode([&] { cursor->AddPrimaryIndex(byId); }), TARN_KEYVIOL);
    EXPECT_TRUE(cursor->GetIsPhysicalNavigation());
    EXPECT_EQ(cursor->GetRecordCount(), static_cast<std::int32_t>(twice.size()));
    TIndexDefinition byName = IndexOn("", {kNameField, kIdField}, false);
    cursor->AddPrimaryIndex(byName);
    EXPECT_EQ(byName.Unique, 1);
    EXPECT_FALSE(cursor->GetIsPhysicalNavigation());
    EXPECT_EQ(RaisedCode([&] { cursor->AddPrimaryIndex(byName); }), TARN_PRIMARYKEYREDEFINE);
  }
  EXPECT_EQ(StructureFindings(Path(), "loose"), "");
  std::vector<Person> byName = twice;
  std::sort(byName.begin(), byName.end(),
            [](const Person& a, const Person& b) { return std::tie(*a.Name, a.Id) < std::tie(*b.Name, b.Id); });
  std::vector<std::int32_t> expected;
  for (const Person& p : byName) expected.push_back(p.Id);
  EXPECT_EQ(IdsByIndex(Path(), "loose", ""), expected);
}

TEST_F(TableOperationsTest, DeletingAMiddleIndexKeepsTheLaterOnesWorking) {
  {
    auto cursor = ExclusiveCursor(directory(), "people");
    cursor->SetIndexName("ByAmount");
    EXPECT_EQ(RaisedCode([&] { cursor->DeleteIndex("Nowhere"); }), TARN_INVALIDINDEXNAME);
    cursor->DeleteIndex(" bynamedesc ");
    EXPECT_EQ(cursor->GetIndexCount(), 3);
    EXPECT_EQ(cursor->GetIndexPos(), 0);
    EXPECT_FALSE(cursor->IndexExists("ByNameDesc"));
    cursor->SetIndexName("ByAmount");
    EXPECT_EQ(cursor->GetIndexPos(), 3);
    EXPECT_EQ(WalkIds(*cursor), SortedIds(people_, true));
    // By position the cursor keeps its index where it moved to.
    cursor->DeleteIndexByPos(1);
    EXPECT_EQ(cursor->GetIndexName(), "ByAmount");
    EXPECT_EQ(cursor->GetIndexPos(), 2);
    EXPECT_EQ(WalkIds(*cursor), SortedIds(people_, true));
    // A new index reuses the pages the deleted ones gave back.
    const std::int32_t pages = cursor->Table()->GetPhysicalPagesUsed();
    TIndexDefinition byCity = IndexOn("ByCity", {kCityField}, false);
    cursor->AddSecondaryIndex(byCity);
    EXPECT_EQ(cursor->Table()->GetPhysicalPagesUsed(), pages);
  }
  EXPECT_EQ(StructureFindings(Path(), "people"), "");
  EXPECT_EQ(IdsByIndex(Path(), "people", "ByAmount"), SortedIds(people_, true));
  EXPECT_EQ(IdsByIndex(Path(), "people", "ByCity"), IdsByCity(people_));
  std::vector<std::int32_t> caseless = IdsByIndex(Path(), "people", "ByNameCI");
  EXPECT_EQ(caseless.size(), people_.size());
  // Records appended afterwards get keys in every remaining index.
  FillPeople(Path(), "people", {{50, "zz", 99, "Zug"}});
  EXPECT_EQ(StructureFindings(Path(), "people"), "");
  EXPECT_EQ(IdsByIndex(Path(), "people", "ByAmount").back(), 50);
}

TEST_F(TableOperationsTest, DeleteAllIndexesLeavesThePhysicalOrder) {
  {
    auto cursor = ExclusiveCursor(directory(), "people");
    EXPECT_TRUE(cursor->IndexExists(""));
    cursor->DeleteAllIndexes();
    EXPECT_FALSE(cursor->IndexExists(""));
    EXPECT_FALSE(cursor->IndexExists("ByName"));
    EXPECT_EQ(cursor->GetIndexCount(), 0);
    EXPECT_TRUE(cursor->GetIsPhysicalNavigation());
    EXPECT_EQ(cursor->GetRecordCount(), static_cast<std::int32_t>(people_.size()));
  }
  EXPECT_EQ(StructureFindings(Path(), "people"), "");
  std::vector<std::int32_t> physical;
  for (const Person& p : people_) physical.push_back(p.Id);
  EXPECT_EQ(IdsInPhysicalOrder(Path(), "people"), physical);
  // A primary index can be added again.
  {
    auto cursor = ExclusiveCursor(directory(), "people");
    TIndexDefinition byId = IndexOn("", {kIdField}, true);
    cursor->AddPrimaryIndex(byId);
  }
  EXPECT_EQ(IdsByIndex(Path(), "people", ""), SortedIds(people_));
  EXPECT_EQ(StructureFindings(Path(), "people"), "");
}

}  // namespace
}  // namespace tarn::cursor_testing
