// The SQL test database itself: tables made and filled through cursors read
// back as the rows put in.
#include <gtest/gtest.h>

#include "sql_fixture.h"

namespace tarn::sql_testing {
namespace {

TEST(SqlFixture, TablesAreFilledAndReadBackThroughCursors) {
  SqlDatabase db;
  db.CreateTable("t", {{"A", dtInteger}, {"B", dtString, 10}, {"C", dtFloat}}, {{"", {1}}});
  db.Insert("t", {{std::int64_t{2}, std::string("x"), 1.5}, {std::int64_t{1}, Cell{}, Cell{}}});
  TDataCursor cursor(db.Directory());
  cursor.SetTableName("t");
  cursor.OpenCursor();
  std::vector<std::string> names;
  EXPECT_EQ(SqlDatabase::ReadRows(cursor, &names),
            (std::vector<TextRow>{{"1", "NULL", "NULL"}, {"2", "x", "1.5"}}));
  EXPECT_EQ(names, (std::vector<std::string>{"A", "B", "C"}));
}

}  // namespace
}  // namespace tarn::sql_testing
