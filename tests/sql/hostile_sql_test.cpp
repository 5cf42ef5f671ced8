// Hostile statement text: valid statements cut, spliced and mutated at
// random must end in an engine error or a result, never a crash (the suite
// runs under the sanitizers), leave no result table behind, and leave the
// tables they read unchanged.
#include <gtest/gtest.h>

#include <random>

#include "sql_fixture.h"

namespace tarn::sql_testing {
namespace {

const char* const kStatements[] = {
    "SELECT * FROM people",
    "SELECT DISTINCT CITY, COUNT(*) FROM people GROUP BY CITY HAVING COUNT(*) > 1 ORDER BY 2 DESC",
    "SELECT p.NAME, c.COUNTRY FROM people p LEFT OUTER JOIN cities c ON p.CITY = c.CITY WHERE p.ID BETWEEN 1 AND 3",
    "SELECT NAME FROM people WHERE CITY IN (SELECT CITY FROM cities WHERE COUNTRY LIKE 'N%') UNION SELECT CITY FROM "
    "cities",
    "SELECT UPPER(NAME) || 'x', SUBSTRING(NAME FROM 1 FOR 2), AMOUNT * 2 + 1 FROM people WHERE NOT (AMOUNT <> 10) TOP 3",
    "SELECT SUM(AMOUNT), AVG(AMOUNT), MIN(NAME), MAX(ID) FROM people WHERE NAME IS NOT NULL",
    "SELECT * FROM people, cities WHERE people.CITY = cities.CITY AND (people.ID = 1 OR cities.COUNTRY = 'Italy')",
    "CREATE TABLE scratch (a INTEGER, b CHAR(10), PRIMARY KEY (a))",
    "DROP TABLE scratch",
    "CREATE INDEX ByName ON people (NAME)",
};

const char* const kFragments[] = {"(", ")", ",", ";", "'", "\"", "[", "]", "*", "?", "SELECT", "FROM", "WHERE",
                                  "GROUP BY", "ORDER BY", "UNION", "JOIN", "ON", "AND", "OR", "NOT", "IN",
                                  "(SELECT", "NULL", "1e400", "-", "||", "\xD5", "\x81\x40", "INTO", "HAVING",
                                  "COUNT(", "SUM(*)", "people", "x.y.z", "TOP", "99999999999999999999"};

TEST(HostileSql, MutatedStatementsRaiseEngineErrorsOnly) {
  SqlDatabase db;
  db.CreateTable("people", {{"ID", dtInteger}, {"NAME", dtString, 20}, {"AMOUNT", dtInteger}, {"CITY", dtString, 15}},
                 {{"", {1}}, {"ByAmount", {3}}});
  db.Insert("people", {{std::int64_t{1}, std::string("Ann"), std::int64_t{10}, std::string("Oslo")},
                       {std::int64_t{2}, std::string("Bob"), Cell{}, std::string("Rome")}});
  db.CreateTable("cities", {{"CITY", dtString, 15}, {"COUNTRY", dtString, 15}});
  db.Insert("cities", {{std::string("Oslo"), std::string("Norway")}});
  const auto before = db.Query("SELECT * FROM people");

  std::mt19937 random(20261210);
  const auto pick = [&](std::size_t n) { return std::uniform_int_distribution<std::size_t>(0, n - 1)(random); };
  int engineErrors = 0, answers = 0;
  for (int round = 0; round < 600; ++round) {
    std::string text = kStatements[pick(std::size(kStatements))];
    for (int edits = 1 + static_cast<int>(pick(3)); edits > 0; --edits) {
      const std::size_t at = pick(text.size() + 1);
      switch (pick(4)) {
        case 0:  // cut
          text.resize(at);
          break;
        case 1:  // delete a stretch
          text.erase(at, pick(8));
          break;
        case 2:  // insert a fragment
          text.insert(at, std::string(" ") + kFragments[pick(std::size(kFragments))] + " ");
          break;
        default:  // splice in a part of another statement
          text.insert(at, std::string(kStatements[pick(std::size(kStatements))]).substr(0, pick(30)));
          break;
      }
    }
    SCOPED_TRACE(text);
    try {
      db.Query(text);
      ++answers;
    } catch (const ETarnEngineError&) {
      ++engineErrors;
    }
  }
  // Both outcomes happen: the mutations are neither all harmless nor all refused.
  EXPECT_GT(engineErrors, 100);
  EXPECT_GT(answers, 10);
  EXPECT_EQ(db.PrivateTables(), std::vector<std::string>{});
  db.Query("DROP TABLE IF EXISTS scratch");
  EXPECT_EQ(db.Query("SELECT * FROM people"), before);
}

}  // namespace
}  // namespace tarn::sql_testing
