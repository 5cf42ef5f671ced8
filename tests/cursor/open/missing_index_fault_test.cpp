// I/O faults injected into opening a table whose index file is missing: the
// table makes an empty index file and the first cursor rebuilds the
// deleted-records index and the live count. With each write of that failing in
// turn, the open is refused or succeeds, and a later open without faults finds
// a sound table with every live row.
#include <gtest/gtest.h>

#include <filesystem>

#include "cursor/cursor_fixture.h"
#include "storage/tables/structure_check.h"
#include "support/faulty_file_system.h"

namespace tarn::cursor_testing {
namespace {

using testing::TCallKind;
using testing::TFault;
using testing::TFaultyFileSystem;

const std::vector<std::int32_t> kLive = {1, 3, 4, 6, 7, 8, 10};

// A people table of 10 rows, 3 of them deleted, without its index file.
void MakeTableWithoutIndexFile(const std::string& path) {
  CreateTable(path, "people", PeopleDefinition());
  {
    SessionOn writing(path);
    TableWriter writer(writing.Open("people"));
    for (int i = 1; i <= 10; ++i) writer.Append({i, "n", i, "c"});
    for (std::int32_t r : {2, 5, 9}) writer.Delete(r);
  }
  std::filesystem::remove(path + "people.IDX");
}

// Opens a cursor with the n-th write failing (0: none); answers the writes made.
std::int64_t OpenWithFault(const std::string& path, std::int64_t failAt, TFault fault) {
  CursorSession session(path);
  TFaultyFileSystem faulty;
  TScopedFileSystem os(faulty);
  if (failAt > 0) {
    faulty.FailNth(TCallKind::ckWrite, failAt, fault);
  } else {
    faulty.Reset();
  }
  try {
    auto cursor = session.Cursor("people");
    cursor->CloseCursor();
  } catch (const ETarnEngineError&) {
    // A refused open is one of the two outcomes.
  }
  EXPECT_TRUE(failAt == 0 || faulty.Fired());
  return faulty.Count(TCallKind::ckWrite);
}

TEST(MissingIndexFault, EveryFailingWriteOfTheRebuildLeavesATableThatOpensWithItsRows) {
  std::int64_t writes = 0;
  {
    TempDirectory dir;
    MakeTableWithoutIndexFile(dir.Path());
    writes = OpenWithFault(dir.Path(), 0, TFault::fkEIO);
  }
  ASSERT_GT(writes, 0);
  for (const TFault fault : {TFault::fkEIO, TFault::fkShortWrite}) {
    for (std::int64_t n = 1; n <= writes; ++n) {
      SCOPED_TRACE(std::string(testing::FaultName(fault)) + " at write " + std::to_string(n));
      TempDirectory dir;
      MakeTableWithoutIndexFile(dir.Path());
      OpenWithFault(dir.Path(), n, fault);
      CursorSession session(dir.Path());
      auto cursor = session.Cursor("people");
      EXPECT_EQ(cursor->GetRecordCount(), 7);
      EXPECT_EQ(WalkIds(*cursor), kLive);
      const TFindings findings = CheckTableStructure(*cursor->Table());
      EXPECT_TRUE(findings.empty()) << (findings.empty() ? "" : findings.front());
    }
  }
}

}  // namespace
}  // namespace tarn::cursor_testing
