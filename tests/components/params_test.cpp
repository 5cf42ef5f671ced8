// Parameter markers in SQL text and the parameter list of a query as the
// text changes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "components/query_params.h"
#include "components/tarn_query.h"
#include "core/errors.h"

namespace tarn {
namespace {

struct MarkerCase {
  std::string Sql;
  std::string Processed;
  std::vector<std::string> Names;
};

TEST(ParamMarkers, ScanFollowsQuotesDelimitersAndDoubleByteCharacters) {
  const MarkerCase cases[] = {
      {"select * from t where a = :p and b = '::x'", "select * from t where a = ? and b = '::x'", {"p"}},
      {"select a::b from t", "select a:b from t", {}},
      {"x = :a,:b;:c)\r\n:d\n:e", "x = ?,?;?)\r\n?\n?", {"a", "b", "c", "d", "e"}},
      {"x = \":q\" + `:r` + ':s'", "x = \":q\" + `:r` + ':s'", {}},
      {"x = :\"my name\" and y = :'b c'", "x = ? and y = ?", {"my name", "b c"}},
      {"x = :p and y = :p", "x = ? and y = ?", {"p", "p"}},
      {"x = : and y = :", "x = : and y = :", {}},
      {"x = :p(1)", "x = ?)", {"p(1"}},
      // GBK: the byte after a lead byte is never a quote, colon or delimiter.
      {"x = '\x81\x40' and y = :\xB0\xA1", "x = '\x81\x40' and y = ?", {"\xB0\xA1"}},
      {"x = \x81:p", "x = \x81:p", {}},
      {"x = \x81' and y = :p", "x = \x81' and y = ?", {"p"}},
      {"x = :\xD6\x20 ,y", "x = ? ,y", {"\xD6\x20"}},
  };
  for (const MarkerCase& c : cases) {
    SCOPED_TRACE(c.Sql);
    std::vector<std::string> names;
    EXPECT_EQ(ParseSQLParams(c.Sql, names), c.Processed);
    EXPECT_EQ(names, c.Names);
  }
}

TEST(QueryParams, SqlChangesRederiveParametersKeepingValues) {
  TTarnQuery query(nullptr);
  query.SQL().Add("select * from t where a = :A and b = :b");
  ASSERT_EQ(query.ParamCount(), 2);
  EXPECT_EQ(query.Params()[0].Name(), "A");
  EXPECT_EQ(query.Text(), "select * from t where a = ? and b = ?");
  query.ParamByName("a").SetAsInteger(7);
  query.ParamByName("B").SetAsString("x");
  query.SQL().SetText("select * from t where b = :b or c = :c or b = :B");
  ASSERT_EQ(query.ParamCount(), 2);
  EXPECT_EQ(query.Params()[0].Name(), "b");
  EXPECT_EQ(query.ParamByName("b").AsString(), "x");
  EXPECT_TRUE(query.ParamByName("b").Bound());
  EXPECT_FALSE(query.ParamByName("c").Bound());
  EXPECT_EQ(query.ParamByName("c").DataType(), ftUnknown);
  EXPECT_EQ(query.FindField("x"), nullptr);
  try {
    query.ParamByName("a");
    FAIL() << "no error";
  } catch (const EDatabaseError& error) {
    EXPECT_EQ(error.Message(), "Parameter 'a' not found");
  }
  // Without the check the text is taken as it is and the list stays.
  query.SetParamCheck(false);
  query.SQL().SetText("select * from t where z = :z");
  EXPECT_EQ(query.Text(), "select * from t where z = :z");
  EXPECT_EQ(query.ParamCount(), 2);
}

TEST(QueryParams, TextLinesJoinWithCrLfAndEqualTextChangesNothing) {
  TTarnQuery query(nullptr);
  int changes = 0;
  query.SQL().Add("select *");
  query.SQL().Add("from t");
  EXPECT_EQ(query.SQL().Text(), "select *\r\nfrom t");
  const auto previous = query.SQL().OnChange;
  query.SQL().OnChange = [&] {
    ++changes;
    previous();
  };
  query.SQL().SetText("select *\r\nfrom t");
  EXPECT_EQ(changes, 0);
  query.SQL().SetText("a\nb\rc");
  EXPECT_EQ(changes, 1);
  EXPECT_EQ(query.SQL().Count(), 3);
  EXPECT_EQ(query.SQL()[2], "c");
  EXPECT_THROW(query.SQL()[3], EStringListError);
}

}  // namespace
}  // namespace tarn
