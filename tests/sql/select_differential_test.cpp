// Random tables and random SELECTs (conditions with AND, OR, NOT, BETWEEN,
// IN and LIKE; two- and three-table inner and left joins; GROUP BY with
// aggregates; DISTINCT; ORDER BY) answered by the engine and by a naive
// nested-loop evaluation in this test under the engine's NULL rules, with
// and without join optimisation. The answers must be the same multiset of
// rows, and ordered answers must be in order.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <random>
#include <set>

#include "sql_fixture.h"

namespace tarn::sql_testing {
namespace {

// A column value: NULL, an integer or a string.
struct Value {
  bool Null = true;
  bool IsText = false;
  std::int64_t Int = 0;
  std::string Text;
  std::string AsText() const { return Null ? "NULL" : IsText ? Text : std::to_string(Int); }
};

Value IntValue(std::int64_t v) { return {false, false, v, {}}; }
Value TextValue(std::string v) { return {false, true, 0, std::move(v)}; }

// The engine's comparison rules: NULL = NULL is true, NULL = x false and
// NULL <> x true; for <, >, <=, >= a NULL string counts as the empty string
// and a NULL of another type makes the comparison false (two NULLs are equal).
bool Compare(const std::string& op, const Value& a, const Value& b) {
  const bool text = a.IsText || b.IsText;
  if (op == "=" || op == "<>") {
    bool equal;
    if (a.Null || b.Null) {
      equal = a.Null && b.Null;
    } else {
      equal = text ? a.Text == b.Text : a.Int == b.Int;
    }
    return op == "=" ? equal : !equal;
  }
  int c;
  if (text) {
    const std::string x = a.Null ? "" : a.Text, y = b.Null ? "" : b.Text;
    c = x < y ? -1 : x > y ? 1 : 0;
  } else {
    if (a.Null != b.Null) return false;
    c = a.Null ? 0 : (a.Int < b.Int ? -1 : a.Int > b.Int ? 1 : 0);
  }
  if (op == "<") return c < 0;
  if (op == ">") return c > 0;
  if (op == "<=") return c <= 0;
  return c >= 0;
}

// The tables: each has K (join key), A (a number) and S (a short text).
constexpr int kTables = 3;
const char* const kTableNames[kTables] = {"t1", "t2", "t3"};
const char* const kColumns[3] = {"K", "A", "S"};
const char* const kWords[] = {"ant", "bee", "cat", "cow", "dog", "eel"};

using TableRows = std::vector<std::vector<Value>>;

// One combined row: a row per table, or none (an outer join's missing row).
using Combined = std::vector<const std::vector<Value>*>;

struct Column {
  int Table = 0;
  int Index = 0;  // into kColumns
  std::string Sql() const { return std::string(kTableNames[Table]) + "." + kColumns[Index]; }
  Value Get(const Combined& row) const {
    const auto* r = row[static_cast<std::size_t>(Table)];
    return r == nullptr ? Value{} : (*r)[static_cast<std::size_t>(Index)];
  }
};

// A condition as SQL text and as a predicate over combined rows.
struct Condition {
  std::string Sql;
  std::function<bool(const Combined&)> Test;
};

class Generator {
 public:
  explicit Generator(std::uint32_t seed) : random_(seed) {}

  int Pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(random_); }
  bool Chance(int percent) { return Pick(100) < percent; }

  Value RandomValue(int column, int nullPercent) {
    if (Chance(nullPercent)) return {};
    if (column == 2) return TextValue(kWords[Pick(6)]);
    return IntValue(column == 0 ? Pick(6) : Pick(20));
  }

  std::string Literal(const Value& v) { return v.IsText ? "'" + v.Text + "'" : std::to_string(v.Int); }

  // A condition on the columns of the given tables.
  Condition RandomCondition(const std::vector<int>& tables, int depth) {
    const int kind = depth > 0 ? Pick(9) : Pick(5);
    const Column column{tables[static_cast<std::size_t>(Pick(static_cast<int>(tables.size())))], Pick(3)};
    switch (kind) {
      case 0:
      case 1: {
        static const char* const ops[] = {"=", "<>", "<", ">", "<=", ">="};
        const std::string op = ops[Pick(6)];
        const Value v = RandomValue(column.Index, 0);
        return {column.Sql() + " " + op + " " + Literal(v),
                [=](const Combined& row) { return Compare(op, column.Get(row), v); }};
      }
      case 2: {
        Value low = RandomValue(column.Index, 0), high = RandomValue(column.Index, 0);
        return {column.Sql() + " BETWEEN " + Literal(low) + " AND " + Literal(high), [=](const Combined& row) {
                  const Value x = column.Get(row);
                  return Compare(">=", x, low) && Compare("<=", x, high);
                }};
      }
      case 3: {
        std::vector<Value> list;
        std::string sql = column.Sql() + " IN (";
        for (int i = 0, n = 1 + Pick(3); i < n; ++i) {
          list.push_back(RandomValue(column.Index, 0));
          sql += (i > 0 ? ", " : "") + Literal(list.back());
        }
        return {sql + ")", [=](const Combined& row) {
                  const Value x = column.Get(row);
                  return std::any_of(list.begin(), list.end(), [&](const Value& v) { return Compare("=", x, v); });
                }};
      }
      case 4: {
        if (column.Index != 2) return RandomCondition(tables, 0);
        const std::string prefix(1, kWords[Pick(6)][0]);
        return {column.Sql() + " LIKE '" + prefix + "%'", [=](const Combined& row) {
                  const Value x = column.Get(row);
                  return !x.Null && x.Text.compare(0, prefix.size(), prefix) == 0;
                }};
      }
      case 5:
      case 6: {
        Condition l = RandomCondition(tables, depth - 1), r = RandomCondition(tables, depth - 1);
        const bool isAnd = kind == 5;
        return {"(" + l.Sql + (isAnd ? " AND " : " OR ") + r.Sql + ")", [=](const Combined& row) {
                  return isAnd ? l.Test(row) && r.Test(row) : l.Test(row) || r.Test(row);
                }};
      }
      case 7: {
        Condition inner = RandomCondition(tables, depth - 1);
        return {"NOT (" + inner.Sql + ")", [=](const Combined& row) { return !inner.Test(row); }};
      }
      default:
        return RandomCondition(tables, 0);
    }
  }

 private:
  std::mt19937 random_;
};

// The naive answer: every combination of the tables (nested loops), joins by
// their conditions, then the WHERE condition.
struct JoinStep {
  int Table = 0;
  bool LeftOuter = false;
  std::function<bool(const Combined&)> On;  // over the tables joined so far and this one
};

std::vector<Combined> NaiveRows(const std::vector<TableRows>& data, int driver, const std::vector<JoinStep>& steps) {
  std::vector<Combined> rows;
  for (const auto& r : data[static_cast<std::size_t>(driver)]) {
    Combined c(kTables, nullptr);
    c[static_cast<std::size_t>(driver)] = &r;
    rows.push_back(c);
  }
  for (const JoinStep& step : steps) {
    std::vector<Combined> next;
    for (const Combined& c : rows) {
      bool matched = false;
      for (const auto& r : data[static_cast<std::size_t>(step.Table)]) {
        Combined d = c;
        d[static_cast<std::size_t>(step.Table)] = &r;
        if (!step.On || step.On(d)) {
          next.push_back(d);
          matched = true;
        }
      }
      if (!matched && step.LeftOuter) next.push_back(c);
    }
    rows = std::move(next);
  }
  return rows;
}

std::vector<TextRow> Sorted(std::vector<TextRow> rows) {
  std::sort(rows.begin(), rows.end());
  return rows;
}

// Compares two result cells by the order of their column's values (NULL first).
int CompareCells(const std::string& a, const std::string& b, bool text) {
  if (a == b) return 0;
  if (a == "NULL") return -1;
  if (b == "NULL") return 1;
  if (text) return a < b ? -1 : 1;
  return std::stoll(a) < std::stoll(b) ? -1 : 1;
}

class SelectDifferentialTest : public ::testing::TestWithParam<int> {};

TEST_P(SelectDifferentialTest, EngineAndNaiveEvaluationAgree) {
  const std::uint32_t seed = static_cast<std::uint32_t>(GetParam());
  Generator g(seed);
  SqlDatabase db;
  std::vector<TableRows> data(kTables);
  for (int t = 0; t < kTables; ++t) {
    // Tables with and without indexes, of different sizes.
    std::vector<Index> indexes;
    if (g.Chance(60)) indexes.push_back({"ByK", {1}});
    if (g.Chance(50)) indexes.push_back({"ByA", {2}});
    if (g.Chance(40)) indexes.push_back({"ByS", {3}, false, g.Chance(50)});
    db.CreateTable(kTableNames[t], {{"K", dtInteger}, {"A", dtInteger}, {"S", dtString, 8}}, indexes);
    std::vector<Row> rows;
    const int count = 5 + g.Pick(t == 0 ? 40 : 25);
    for (int i = 0; i < count; ++i) {
      std::vector<Value> row = {g.RandomValue(0, 10), g.RandomValue(1, 15), g.RandomValue(2, 15)};
      Row cells;
      for (const Value& v : row) {
        cells.push_back(v.Null ? Cell{} : v.IsText ? Cell{v.Text} : Cell{v.Int});
      }
      rows.push_back(cells);
      data[static_cast<std::size_t>(t)].push_back(row);
    }
    db.Insert(kTableNames[t], rows);
  }

  for (int round = 0; round < 25; ++round) {
    const int shape = g.Pick(5);
    std::string from;
    std::vector<int> tables;
    std::vector<JoinStep> steps;
    std::string where;
    std::function<bool(const Combined&)> whereTest;
    const auto keyJoin = [](int a, int b) {
      return [=](const Combined& row) { return Compare("=", Column{a, 0}.Get(row), Column{b, 0}.Get(row)); };
    };
    if (shape <= 1) {
      tables = {0};
      from = "t1";
    } else if (shape == 2) {
      tables = {0, 1};
      from = g.Chance(50) ? "t1, t2" : "t1 JOIN t2 ON t1.K = t2.K";
      steps.push_back({1, false, keyJoin(0, 1)});
      if (from == "t1, t2") where = "t1.K = t2.K";
    } else if (shape == 3) {
      tables = {0, 1};
      from = "t1 LEFT OUTER JOIN t2 ON t1.K = t2.K";
      steps.push_back({1, true, keyJoin(0, 1)});
    } else {
      tables = {0, 1, 2};
      from = "t1, t2, t3";
      where = "t1.K = t2.K AND t2.A = t3.A";
      steps.push_back({1, false, keyJoin(0, 1)});
      steps.push_back({2, false, [](const Combined& row) {
                         return Compare("=", Column{1, 1}.Get(row), Column{2, 1}.Get(row));
                       }});
    }
    if (g.Chance(75)) {
      Condition c = g.RandomCondition(tables, 2);
      where = where.empty() ? c.Sql : where + " AND " + c.Sql;
      whereTest = c.Test;
    }

    // The select list: plain columns, or a grouping.
    const bool group = shape != 3 && g.Chance(25);
    const bool distinct = !group && g.Chance(25);
    std::vector<Column> columns;
    for (int t : tables) {
      for (int c = 0; c < 3; ++c) {
        if (g.Chance(50)) columns.push_back({t, c});
      }
    }
    if (columns.empty()) columns.push_back({tables.back(), 2});
    const Column groupColumn{tables.front(), 2}, sumColumn{tables.back(), 1};
    std::string select;
    if (group) {
      select = groupColumn.Sql() + ", COUNT(*), SUM(" + sumColumn.Sql() + "), MIN(" + sumColumn.Sql() + "), MAX(" +
               sumColumn.Sql() + ")";
    } else {
      for (std::size_t i = 0; i < columns.size(); ++i) select += (i > 0 ? ", " : "") + columns[i].Sql();
    }
    const bool ordered = g.Chance(50);
    std::string orderBy;
    std::vector<std::pair<std::size_t, bool>> orderKeys;  // result column, descending
    if (ordered) {
      const std::size_t n = group ? 1 : std::min<std::size_t>(columns.size(), 2);
      for (std::size_t i = 0; i < n; ++i) {
        const bool descending = g.Chance(40);
        orderKeys.emplace_back(i, descending);
        orderBy += (i > 0 ? ", " : "") + std::to_string(i + 1) + (descending ? " DESC" : "");
      }
    }

    // The naive answer.
    std::vector<TextRow> expected;
    {
      std::vector<Combined> rows = NaiveRows(data, tables.front(), steps);
      std::map<std::string, std::vector<const Combined*>> groups;
      std::vector<Combined> kept;
      for (const Combined& row : rows) {
        if (!whereTest || whereTest(row)) kept.push_back(row);
      }
      if (group) {
        std::map<std::string, std::vector<Value>> sums;
        for (const Combined& row : kept) groups[groupColumn.Get(row).AsText()].push_back(&row);
        for (const auto& [key, members] : groups) {
          std::optional<std::int64_t> sum, min, max;
          for (const Combined* row : members) {
            const Value v = sumColumn.Get(*row);
            if (v.Null) continue;
            sum = sum.value_or(0) + v.Int;
            min = min ? std::min(*min, v.Int) : v.Int;
            max = max ? std::max(*max, v.Int) : v.Int;
          }
          const auto text = [](const std::optional<std::int64_t>& v) { return v ? std::to_string(*v) : "NULL"; };
          expected.push_back({key, std::to_string(members.size()), text(sum), text(min), text(max)});
        }
      } else {
        std::set<TextRow> seen;
        for (const Combined& row : kept) {
          TextRow out;
          for (const Column& c : columns) out.push_back(c.Get(row).AsText());
          if (distinct && !seen.insert(out).second) continue;
          expected.push_back(out);
        }
      }
    }

    for (const bool noOptimize : {false, true}) {
      std::string sql = std::string("SELECT ") + (distinct ? "DISTINCT " : "") + select + " FROM " + from;
      if (!where.empty()) sql += " WHERE " + where;
      if (noOptimize) sql += " NOJOINOPTIMIZE";
      if (group) sql += " GROUP BY 1";
      if (ordered) sql += " ORDER BY " + orderBy;
      SCOPED_TRACE("seed " + std::to_string(seed) + ": " + sql);
      std::vector<TextRow> actual;
      try {
        actual = db.Query(sql);
      } catch (const ETarnEngineError& e) {
        FAIL() << e.Message();
      }
      EXPECT_EQ(Sorted(actual), Sorted(expected));
      for (std::size_t i = 1; i < actual.size() && ordered; ++i) {
        for (const auto& [column, descending] : orderKeys) {
          const bool text = group ? column == 0 : columns[column].Index == 2;
          int c = CompareCells(actual[i - 1][column], actual[i][column], text);
          if (descending) c = -c;
          ASSERT_LE(c, 0) << "rows " << i - 1 << " and " << i << " out of order";
          if (c < 0) break;
        }
      }
    }
  }
  EXPECT_EQ(db.PrivateFiles(), std::vector<std::string>{});
}

INSTANTIATE_TEST_SUITE_P(Seeds, SelectDifferentialTest, ::testing::Range(1, 13));

}  // namespace
}  // namespace tarn::sql_testing
