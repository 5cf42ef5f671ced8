// I/O faults injected into adding and deleting an index and into creating a
// table. Each operation is first run with counting to learn how many writes
// it makes; then, on a fresh table each time, each of those writes fails in
// turn. An index change must then have happened whole or not at all: the
// table opens, is structurally sound, holds every row, and has exactly the
// indexes of before or of after. A failed creation leaves no file.
#include <gtest/gtest.h>

#include <functional>

#include "cursor/tables/tables_fixture.h"
#include "support/faulty_file_system.h"

namespace tarn::cursor_testing {
namespace {

using testing::TCallKind;
using testing::TFault;
using testing::TFaultyFileSystem;

TIndexDefinition IndexOn(std::string_view name, std::uint16_t field, bool unique) {
  TIndexDefinition def = MakeEmptyIndexDefinition();
  def.Name.Assign(name);
  def.Unique = unique ? 1 : 0;
  def.KeyFields[0] = field;
  return def;
}

std::vector<Person> People() {
  std::vector<Person> people;
  // Enough rows for the new index to need more than one page.
  for (std::int32_t id = 1; id <= 300; ++id)
    people.push_back({id, "name" + std::to_string((id * 37) % 300), (id * 11) % 97, "city" + std::to_string(id % 7)});
  return people;
}

std::vector<std::string> IndexNames(const std::string& path) {
  CursorSession s(path);
  auto cursor = s.Cursor("people");
  std::vector<std::string> names;
  for (std::uint8_t slot = 1; slot <= cursor->GetIndexCount(); ++slot) {
    TIndexDefinition def;
    cursor->Table()->IndexFile().GetIndexDefinition(slot, def);
    names.push_back(def.Name.Str());
  }
  return names;
}

struct TIndexFaultCase {
  const char* Name;
  std::function<void(TDataCursor&)> Operation;
  std::vector<std::string> Before;
  std::vector<std::string> After;
};

std::ostream& operator<<(std::ostream& out, const TIndexFaultCase& c) { return out << c.Name; }

const TIndexFaultCase kIndexCases[] = {
    {"AddSecondaryIndex",
     [](TDataCursor& c) {
       TIndexDefinition def = IndexOn("ByCity", kCityField, false);
       c.AddSecondaryIndex(def);
     },
     {"ByName", "ByNameDesc", "ByNameCI", "ByAmount"},
     {"ByName", "ByNameDesc", "ByNameCI", "ByAmount", "ByCity"}},
    {"DeleteMiddleIndex", [](TDataCursor& c) { c.DeleteIndex("ByNameDesc"); },
     {"ByName", "ByNameDesc", "ByNameCI", "ByAmount"},
     {"ByName", "ByNameCI", "ByAmount"}},
};

class IndexFaultTest : public ::testing::TestWithParam<TIndexFaultCase> {
 protected:
  // A fresh people table with its rows; answers the writes the operation
  // makes, running it with the given write failing (0: none).
  std::int64_t Run(const TempDirectory& dir, std::int64_t failAt, TFault fault, bool& raised) {
    CreateTable(dir.Path(), "people", PeopleDefinition());
    FillPeople(dir.Path(), "people", people_);
    CursorSession s(dir.Path());
    auto cursor = ExclusiveCursor(*s.session.directory, "people");
    TFaultyFileSystem faulty;
    std::int64_t writes = 0;
    raised = false;
    {
      TScopedFileSystem os(faulty);
      if (failAt > 0) {
        faulty.FailNth(TCallKind::ckWrite, failAt, fault);
      } else {
        faulty.Reset();
      }
      try {
        GetParam().Operation(*cursor);
      } catch (const ETarnEngineError&) {
        raised = true;
      }
      writes = faulty.Count(TCallKind::ckWrite);
      EXPECT_TRUE(failAt == 0 || faulty.Fired());
    }
    cursor->CloseCursor();
    return writes;
  }

  std::vector<Person> people_ = People();
};

TEST_P(IndexFaultTest, EveryFailingWriteLeavesTheIndexesOfBeforeOrAfter) {
  const TIndexFaultCase& c = GetParam();
  std::int64_t writes = 0;
  {
    TempDirectory dir;
    bool raised = true;
    writes = Run(dir, 0, TFault::fkEIO, raised);
    ASSERT_FALSE(raised);
    ASSERT_EQ(IndexNames(dir.Path()), c.After);
  }
  ASSERT_GT(writes, 0);
  std::vector<std::int32_t> ids;
  for (const Person& p : people_) ids.push_back(p.Id);
  for (const TFault fault : {TFault::fkEIO, TFault::fkShortWrite}) {
    for (std::int64_t n = 1; n <= writes; ++n) {
      SCOPED_TRACE(std::string(testing::FaultName(fault)) + " at write " + std::to_string(n));
      TempDirectory dir;
      bool raised = false;
      Run(dir, n, fault, raised);
      EXPECT_EQ(StructureFindings(dir.Path(), "people"), "");
      EXPECT_EQ(IndexNames(dir.Path()), raised ? c.Before : c.After);
      EXPECT_EQ(IdsByIndex(dir.Path(), "people", ""), ids);
      for (const std::string& index : raised ? c.Before : c.After)
        EXPECT_EQ(IdsByIndex(dir.Path(), "people", index).size(), people_.size()) << index;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Faults, IndexFaultTest, ::testing::ValuesIn(kIndexCases),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST(CreateTableFaultTest, ACreationWhoseWriteFailsLeavesNoFile) {
  std::int64_t writes = 0;
  {
    TempDirectory dir;
    SessionOn s(dir.Path());
    TFaultyFileSystem faulty;
    TScopedFileSystem os(faulty);
    faulty.Reset();
    ClosedCursor(*s.directory, "people")->CreateTable(PeopleArguments());
    writes = faulty.Count(TCallKind::ckWrite);
  }
  ASSERT_GT(writes, 0);
  for (std::int64_t n = 1; n <= writes; ++n) {
    SCOPED_TRACE("write " + std::to_string(n));
    TempDirectory dir;
    SessionOn s(dir.Path());
    TFaultyFileSystem faulty;
    bool raised = false;
    {
      TScopedFileSystem os(faulty);
      faulty.FailNth(TCallKind::ckWrite, n, TFault::fkENOSPC);
      try {
        ClosedCursor(*s.directory, "people")->CreateTable(PeopleArguments());
      } catch (const ETarnEngineError&) {
        raised = true;
      }
    }
    if (raised) {
      EXPECT_EQ(FilesIn(dir.Path()), std::vector<std::string>{});
    } else {
      EXPECT_EQ(StructureFindings(dir.Path(), "people"), "");
    }
  }
}

}  // namespace
}  // namespace tarn::cursor_testing
