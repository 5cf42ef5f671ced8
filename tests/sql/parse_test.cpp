// Statement dispatch and the SELECT grammar: every parse message with its
// exact text, and what a parsed SELECT holds (select list, source tables and
// their order, join marking, UNION parts, sub-selects, GROUP BY / ORDER BY,
// result options, where the parser stops).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sql_fixture.h"
#include "storage/keys/languages.h"

namespace tarn::sql_testing {
namespace {

struct Outcome {
  bool Raised = false;
  TarnErrorCode Code = 0;
  std::string Text;
  std::string Message;
};

Outcome TryParse(TQueryStatement& statement, const std::string& text) {
  Outcome outcome;
  try {
    statement.ParseStatement(text);
  } catch (const ETarnEngineError& error) {
    outcome.Raised = true;
    outcome.Code = error.ErrorCode();
    outcome.Text = error.ErrorText();
    outcome.Message = error.Message();
  }
  return outcome;
}

class SelectParse : public ::testing::Test {
 protected:
  // Parses text, which must be accepted, and answers the master query.
  TDataQuery& Parse(const std::string& text) {
    statement_ = std::make_unique<TQueryStatement>(db_.Directory());
    const Outcome outcome = TryParse(*statement_, text);
    EXPECT_FALSE(outcome.Raised) << text << ": " << outcome.Text;
    return statement_->MasterQuery();
  }
  TQueryStatement& Statement() { return *statement_; }

  SqlDatabase db_;
  std::unique_ptr<TQueryStatement> statement_;
};

struct MessageCase {
  std::string Text;
  std::string Message;
};

const MessageCase kMessageCases[] = {
    // Dispatch.
    {"EXPLAIN SELECT * FROM t",
     "SELECT, INSERT, UPDATE, DELETE, CREATE, ALTER, or DROP keyword expected, instead found 'EXPLAIN'"},
    {"", "SELECT, INSERT, UPDATE, DELETE, CREATE, ALTER, or DROP keyword expected, instead found ''"},
    {"'SELECT' * FROM t",
     "SELECT, INSERT, UPDATE, DELETE, CREATE, ALTER, or DROP keyword expected, instead found 'SELECT'"},
    {"(SELECT * FROM t)", "SELECT, INSERT, UPDATE, DELETE, CREATE, ALTER, or DROP keyword expected, instead found '('"},
    {"CREATE VIEW v", "TABLE or INDEX keyword expected, instead found 'VIEW'"},
    {"CREATE", "TABLE or INDEX keyword expected, instead found ''"},
    {"ALTER INDEX i", "TABLE keyword expected, instead found 'INDEX'"},
    {"DROP VIEW v", "TABLE or INDEX keyword expected, instead found 'VIEW'"},
    {"SELECT a FROM t UNION DELETE FROM u", "SELECT keyword expected, instead found 'DELETE'"},
    {"SELECT a FROM t UNION ALL", "SELECT keyword expected, instead found ''"},
    // Select list.
    {"SELECT", "Source column expression is empty"},
    {"SELECT FROM t", "Source column expression is empty"},
    {"SELECT a, FROM t", "Source column expression is empty"},
    {"SELECT a,, b FROM t", "Source column expression is empty"},
    {"SELECT DISTINCT INTO x FROM t", "Source column expression is empty"},
    {"SELECT Name AS , City FROM t", "Symbol or string expected after AS keyword, instead found ','"},
    {"SELECT Name AS 5 FROM t", "Symbol or string expected after AS keyword, instead found '5'"},
    {"SELECT Name N.* FROM t", "Symbol or string expected after table correlation name, instead found '*'"},
    {"SELECT SUM(MAX(a)) FROM t", "Aggregate functions cannot be nested"},
    {"SELECT COUNT(a + MIN(b)) FROM t", "Aggregate functions cannot be nested"},
    {"SELECT SUM(a) + 1 FROM t", "Aggregate functions cannot be used within expressions"},
    {"SELECT UPPER(MAX(a)) FROM t", "Aggregate functions cannot be used within expressions"},
    {"SELECT a + , b FROM t", "Unknown or unexpected symbol ',' found in source column expression"},
    {"SELECT ? FROM t", "Parameters are not allowed in source column expression"},
    {"SELECT a FROM t WHERE b IN (SELECT c IN (SELECT d FROM v) FROM u)",
     "Sub-select queries are not allowed in source column expression"},
    {"SELECT 'abc FROM t", "Missing single quote after 'abc FROM t' in SQL statement"},
    // INTO.
    {"SELECT * INTO 5 FROM t", "Result table name expected in INTO clause, instead found '5'"},
    {"SELECT * INTO FROM t", "Result table name expected in INTO clause, instead found 'FROM'"},
    {"SELECT * INTO [r] FROM t", "Result table name expected in INTO clause, instead found 'r'"},
    {"SELECT a FROM t WHERE b IN (SELECT c INTO x FROM u)", "The INTO clause can only be used with the master query"},
    {"SELECT a FROM t UNION SELECT b INTO x FROM u", "The INTO clause can only be used with the master query"},
    // FROM and joins.
    {"SELECT a, b", "FROM keyword expected, instead found ''"},
    {"SELECT a + b 5 FROM t", "FROM keyword expected, instead found '5'"},
    {"SELECT * FROM [t]", "Table name expected after FROM keyword, instead found 't'"},
    {"SELECT * FROM", "Table name expected after FROM keyword, instead found ''"},
    {"SELECT * FROM t, 5", "Table name expected after FROM keyword, instead found '5'"},
    {"SELECT * FROM MEMORY", "Table name expected after FROM keyword, instead found ''"},
    {"SELECT * FROM t AS ,", "Symbol or string expected after AS keyword, instead found ','"},
    {"SELECT * FROM a JOIN [b] ON a.k = b.k", "Table name expected after JOIN keyword, instead found 'b'"},
    {"SELECT * FROM a INNER b ON a.k = b.k", "JOIN keyword expected after INNER keyword, instead found 'b'"},
    {"SELECT * FROM a LEFT OUTER b ON a.k = b.k",
     "JOIN keyword expected after LEFT or OUTER keyword, instead found 'b'"},
    {"SELECT * FROM a LEFT b ON a.k = b.k", "JOIN keyword expected after LEFT or OUTER keyword, instead found 'b'"},
    {"SELECT * FROM a RIGHT OUTER x", "JOIN keyword expected after RIGHT or OUTER keyword, instead found 'x'"},
    {"SELECT * FROM a JOIN b WHERE a.k = b.k", "ON keyword expected in JOIN clause, instead found 'WHERE'"},
    {"SELECT * FROM a JOIN b x y ON a.k = b.k", "ON keyword expected in JOIN clause, instead found 'y'"},
    {"SELECT * FROM a JOIN b ON a.k = b.k FULL JOIN c ON b.k = c.k",
     "Full outer joins are currently not supported in Tarn SQL SELECT statements"},
    {"SELECT * FROM a LEFT JOIN b ON a.k = b.k FULL OUTER JOIN c ON b.k = c.k",
     "Full outer joins are currently not supported in Tarn SQL SELECT statements"},
    {"SELECT * FROM a JOIN b ON", "WHERE or JOIN clause is empty"},
    {"SELECT * FROM a JOIN b ON a.k IN (SELECT k FROM c)",
     "Sub-select queries are not allowed in WHERE or JOIN clause"},
    {"SELECT * FROM a JOIN b ON SUM(a.k) = b.k", "Aggregate functions are not allowed in WHERE or JOIN clause"},
    {"SELECT * FROM t, t", "Duplicate table correlation name 't' found in source tables"},
    {"SELECT * FROM t x, u X", "Duplicate table correlation name 'X' found in source tables"},
    {"SELECT * FROM a JOIN A ON a.k = a.k", "Duplicate table correlation name 'A' found in source tables"},
    {"SELECT * FROM a x RIGHT JOIN b AS x ON x.k = x.k", "Duplicate table correlation name 'x' found in source tables"},
    {"SELECT * FROM 'd1/t.dat', 'd2/T'", "Duplicate table correlation name 'T' found in source tables"},
    // WHERE and the options that follow it.
    {"SELECT * FROM t WHERE", "WHERE or JOIN clause is empty"},
    {"SELECT * FROM t WHERE ;", "WHERE or JOIN clause is empty"},
    {"SELECT * FROM t WHERE *", "* (all columns) symbol is not allowed in WHERE or JOIN clause"},
    {"SELECT * FROM t WHERE SUM(a) > 1", "Aggregate functions are not allowed in WHERE or JOIN clause"},
    {"SELECT a FROM t WHERE b IN (SELECT c FROM u) AND #999",
     "Character constants (#) must be within the range of 0 to 255 in WHERE or JOIN clause"},
    {"SELECT a FROM t WHERE b IN (SELECT c FROM u ORDER BY 1 GROUP BY 1)",
     "Expected right parentheses after IN operator, instead found 'GROUP' in WHERE or JOIN clause"},
    {"SELECT * FROM t WITH", "LOCKS keyword expected after WITH keyword, instead found ''"},
    {"SELECT * FROM t WITH LOCK", "LOCKS keyword expected after WITH keyword, instead found 'LOCK'"},
    // GROUP BY, HAVING, ORDER BY.
    {"SELECT * FROM t GROUP a", "BY keyword expected after GROUP keyword, instead found 'a'"},
    {"SELECT * FROM t GROUP BY", "Column name or column number expected in GROUP BY clause, instead found ''"},
    {"SELECT * FROM t GROUP BY a, (b)", "Column name or column number expected in GROUP BY clause, instead found '('"},
    {"SELECT * FROM t GROUP BY t.(b)", "Column name or column number expected in GROUP BY clause, instead found '('"},
    {"SELECT * FROM t GROUP BY 1.5", "Column name or column number expected in GROUP BY clause, instead found '1.5'"},
    {"SELECT * FROM t GROUP BY 0", "Column name or column number expected in GROUP BY clause, instead found '0'"},
    {"SELECT * FROM t GROUP BY 65536",
     "Column name or column number expected in GROUP BY clause, instead found '65536'"},
    {"SELECT a FROM t HAVING", "HAVING clause is empty"},
    {"SELECT a FROM t HAVING a LIKE 'x%'",
     "Extended predicate operators (LIKE, BETWEEN, IN, IS NULL) are not allowed in HAVING clause"},
    {"SELECT a FROM t HAVING a IS NULL",
     "Extended predicate operators (LIKE, BETWEEN, IN, IS NULL) are not allowed in HAVING clause"},
    {"SELECT a FROM t HAVING SUM(a) > ?", "Parameters are not allowed in HAVING clause"},
    {"SELECT * FROM t ORDER a", "BY keyword expected after ORDER keyword, instead found 'a'"},
    {"SELECT * FROM t ORDER BY -1", "Column name or column number expected in ORDER BY clause, instead found '-'"},
    {"SELECT * FROM t ORDER BY a,", "Column name or column number expected in ORDER BY clause, instead found ''"},
    // TOP, LANGUAGE, ENCRYPTED.
    {"SELECT * FROM t TOP x", "Integer value expected after TOP keyword, instead found 'x'"},
    {"SELECT * FROM t TOP 1.5", "Integer value expected after TOP keyword, instead found '1.5'"},
    {"SELECT * FROM t TOP 99999999999999999999",
     "Integer value expected after TOP keyword, instead found '99999999999999999999'"},
    {"SELECT * FROM t LANGUAGE 'Klingon'", "Invalid language constant 'Klingon' specified after LANGUAGE keyword"},
    {"SELECT * FROM t LANGUAGE", "Invalid language constant '' specified after LANGUAGE keyword"},
    {"SELECT * FROM t LANGUAGE [ANSI Standard]",
     "Invalid language constant 'ANSI Standard' specified after LANGUAGE keyword"},
    {"SELECT * FROM t LANGUAGE 'ANSI Standard' SORT 'SRT_GERMAN_PHONE_BOOK'",
     "Invalid sort constant 'SRT_GERMAN_PHONE_BOOK' specified after SORT keyword"},
    {"SELECT * FROM t LANGUAGE 'German (Standard)' SORT Phone",
     "Invalid sort constant 'Phone' specified after SORT keyword"},
    {"SELECT * FROM t ENCRYPTED 'pw'", "WITH keyword expected after ENCRYPTED keyword, instead found 'pw'"},
    // End of the statement.
    {"SELECT * FROM t ORDER BY 1 GROUP BY a", "End of SELECT statement expected, instead found 'GROUP'"},
    {"SELECT * FROM t x y", "End of SELECT statement expected, instead found 'y'"},
    {"SELECT * FROM t RANGE 1", "End of SELECT statement expected, instead found 'RANGE'"},
    {"SELECT * FROM t TOP 1 ORDER BY a", "End of SELECT statement expected, instead found 'ORDER'"},
    {"SELECT * FROM t NOJOINOPTIMIZE WHERE a = 1", "End of SELECT statement expected, instead found 'WHERE'"},
    {"SELECT a FROM t WHERE b IN (SELECT c FROM u))", "End of SELECT statement expected, instead found ')'"},
};

TEST_F(SelectParse, EveryMessageIsExact) {
  for (const MessageCase& c : kMessageCases) {
    TQueryStatement statement(db_.Directory());
    const Outcome outcome = TryParse(statement, c.Text);
    ASSERT_TRUE(outcome.Raised) << c.Text;
    EXPECT_EQ(outcome.Code, TARN_SQLPARSE) << c.Text;
    EXPECT_EQ(outcome.Text, c.Message) << c.Text;
    EXPECT_EQ(outcome.Message, "Tarn Engine Error # 11949 SQL error - " + c.Message) << c.Text;
  }
}

TEST_F(SelectParse, DispatchSetsTheKindOfStatementsNotBuiltYet) {
  struct KindCase {
    std::string Text;
    TStatementKind Kind;
    std::string Word;
  };
  const KindCase cases[] = {
      {"ALTER TABLE t ADD b INTEGER", skAlterTable, "ALTER"},
  };
  for (const KindCase& c : cases) {
    TQueryStatement statement(db_.Directory());
    const Outcome outcome = TryParse(statement, c.Text);
    ASSERT_TRUE(outcome.Raised) << c.Text;
    EXPECT_EQ(outcome.Text, c.Word + " statements are not supported yet") << c.Text;
    EXPECT_EQ(statement.MasterQuery().Kind, c.Kind) << c.Text;
  }
  EXPECT_EQ(Parse("select * from t").Kind, skSelect);
}

TEST_F(SelectParse, SelectListItems) {
  TDataQuery& q = Parse(
      "SELECT Name N, City AS \"C\", t.Age, COUNT(*), SUM(t.Amount) 'total', AVG(a + b), UPPER(Name)\r\n  u,"
      " x x2.y2, a\r\n+ b  AS s FROM t");
  ASSERT_EQ(q.ResultFields.size(), 9u);
  struct Expected {
    std::string Table, Column, Alias;
    bool NoAlias;
    TResultCalculation Calculation;
    bool Computed;
    std::string Text;
  };
  const Expected expected[] = {
      {"", "Name", "N", false, rcNone, false, "Name"},
      {"", "City", "C", false, rcNone, false, "City"},
      {"t", "Age", "", true, rcNone, false, "t.Age"},
      {"", "*", "", true, rcCount, false, "COUNT(*)"},
      {"t", "Amount", "total", false, rcSum, false, "SUM(t.Amount)"},
      {"", "", "", true, rcAvg, true, "AVG(a + b)"},
      {"", "", "u", false, rcNone, true, "UPPER(Name)"},
      {"", "x", "y2", false, rcNone, false, "x"},
      {"", "", "s", false, rcNone, true, "a+ b"},
  };
  for (std::size_t i = 0; i < 9; ++i) {
    const TResultField& f = q.ResultFields[i];
    const Expected& e = expected[i];
    EXPECT_EQ(f.TableName, e.Table) << i;
    EXPECT_EQ(f.ColumnName, e.Column) << i;
    EXPECT_EQ(f.Alias, e.Alias) << i;
    EXPECT_EQ(f.NoAlias, e.NoAlias) << i;
    EXPECT_EQ(f.Calculation, e.Calculation) << i;
    EXPECT_EQ(f.Computed, e.Computed) << i;
    EXPECT_EQ(f.ExpressionText, e.Text) << i;
    ASSERT_TRUE(f.Expression) << i;
  }
  EXPECT_EQ(q.ResultFields[3].Expression->Operator, eoCOUNT);
  EXPECT_EQ(q.ResultFields[6].Expression->Operator, eoUPPER);
  EXPECT_TRUE(q.HasComputedColumns);
  EXPECT_TRUE(q.HasAverages);
  EXPECT_FALSE(q.SelectStar);
  EXPECT_FALSE(q.Distinct);

  TDataQuery& plain = Parse("SELECT ALL DISTINCT Name, MAX(Age) FROM t");
  EXPECT_TRUE(plain.Distinct);
  EXPECT_FALSE(plain.HasComputedColumns);
  EXPECT_FALSE(plain.HasAverages);
  EXPECT_EQ(plain.ResultFields[1].Calculation, rcMax);
  EXPECT_EQ(plain.ResultFields[1].ColumnName, "Age");
}

TEST_F(SelectParse, SelectStarOnlyForTheSingleBareStar) {
  EXPECT_TRUE(Parse("SELECT * FROM t").SelectStar);
  EXPECT_FALSE(Parse("SELECT t.* FROM t").SelectStar);
  EXPECT_FALSE(Parse("SELECT *, a FROM t").SelectStar);
  EXPECT_FALSE(Parse("SELECT a FROM t").SelectStar);
}

TEST_F(SelectParse, SourceTablesAndCorrelationNames) {
  TDataQuery& q = Parse("SELECT Name FROM t x, 'sub/dir/Orders.DAT', u AS [long name], MEMORY m, v 'q'");
  ASSERT_EQ(q.SourceTables.size(), 5u);
  struct Expected {
    std::string Table, Database, Correlation;
    bool InMemory;
  };
  const Expected expected[] = {
      {"t", "", "x", false},         {"Orders", "sub/dir/", "Orders", false},
      {"u", "", "long name", false}, {"m", "Memory", "m", true},
      {"v", "", "q", false},
  };
  for (std::size_t i = 0; i < 5; ++i) {
    const TSourceTable& s = *q.SourceTables[i];
    EXPECT_EQ(s.TableName, expected[i].Table) << i;
    EXPECT_EQ(s.DatabaseName, expected[i].Database) << i;
    EXPECT_EQ(s.CorrelationName, expected[i].Correlation) << i;
    EXPECT_EQ(s.InMemory, expected[i].InMemory) << i;
    EXPECT_EQ(s.Position, static_cast<int>(i + 1)) << i;
    EXPECT_EQ(s.JoinOrder, static_cast<int>(i + 1)) << i;
  }
  EXPECT_TRUE(q.HasJoins);
  EXPECT_FALSE(q.HasWhere);

  // A comma after a join adds a further source table.
  TDataQuery& mixed = Parse("SELECT * FROM a JOIN b ON a.k = b.k, c LEFT JOIN d ON c.k = d.k");
  ASSERT_EQ(mixed.SourceTables.size(), 4u);
  for (std::size_t i = 0; i < 4; ++i) EXPECT_EQ(mixed.SourceTables[i]->TableName, std::string(1, char('a' + i)));

  TDataQuery& same = Parse("SELECT * FROM t t");
  ASSERT_EQ(same.SourceTables.size(), 1u);
  EXPECT_EQ(same.SourceTables[0]->CorrelationName, "t");
  EXPECT_FALSE(same.HasJoins);
}

// Walks a tree (depth first) and collects the comparisons.
void CollectComparisons(const TExpToken* node, std::vector<const TExpToken*>& out) {
  if (node == nullptr) return;
  if (node->NodeClass == enBINARY && node->Operator >= eoEQ && node->Operator <= eoLE) out.push_back(node);
  CollectComparisons(node->Left.get(), out);
  CollectComparisons(node->Right.get(), out);
  for (const auto& a : node->Arguments) CollectComparisons(a.get(), out);
}

TEST_F(SelectParse, RightJoinPlacesItsTableFirstAndMarksTheCondition) {
  TDataQuery& q = Parse("SELECT * FROM a RIGHT OUTER JOIN b ON a.k = b.k");
  ASSERT_EQ(q.SourceTables.size(), 2u);
  EXPECT_EQ(q.SourceTables[0]->CorrelationName, "b");
  EXPECT_EQ(q.SourceTables[1]->CorrelationName, "a");
  EXPECT_EQ(q.SourceTables[0]->Position, 1);
  EXPECT_EQ(q.SourceTables[0]->JoinOrder, 1);
  EXPECT_EQ(q.SourceTables[1]->Position, 2);
  EXPECT_EQ(q.SourceTables[1]->JoinOrder, 2);
  EXPECT_TRUE(q.HasJoins);
  EXPECT_TRUE(q.HasWhere);
  ASSERT_TRUE(q.WhereTree);
  EXPECT_EQ(q.WhereTree->Operator, eoEQ);
  EXPECT_EQ(q.WhereTree->JoinType, jtRightOuter);
  EXPECT_TRUE(q.WhereTree->IsJoinExpression);

  TDataQuery& three = Parse("SELECT * FROM a, b RIGHT JOIN c ON b.k = c.k");
  ASSERT_EQ(three.SourceTables.size(), 3u);
  EXPECT_EQ(three.SourceTables[0]->CorrelationName, "c");
  EXPECT_EQ(three.SourceTables[1]->CorrelationName, "a");
  EXPECT_EQ(three.SourceTables[2]->CorrelationName, "b");
  EXPECT_EQ(three.SourceTables[2]->JoinOrder, 3);
}

TEST_F(SelectParse, OnConditionsAreMarkedAndJoinedWithWhereInReadingOrder) {
  TDataQuery& q = Parse(
      "SELECT * FROM a LEFT JOIN b ON a.k = b.k AND b.x = 1 INNER JOIN c ON c.k >= UPPER(b.k) OR c.z IS NULL "
      "WHERE a.y = 2");
  ASSERT_EQ(q.SourceTables.size(), 3u);
  ASSERT_TRUE(q.WhereTree);
  // AND(AND(first ON, second ON), WHERE)
  const TExpToken& top = *q.WhereTree;
  ASSERT_EQ(top.Operator, eoAND);
  EXPECT_FALSE(top.IsJoinExpression);
  const TExpToken& ons = *top.Left;
  ASSERT_EQ(ons.Operator, eoAND);
  EXPECT_EQ(ons.Left->Operator, eoAND);  // the first ON condition
  EXPECT_TRUE(ons.Left->IsJoinExpression);
  EXPECT_EQ(ons.Right->Operator, eoOR);  // the second ON condition
  EXPECT_TRUE(ons.Right->IsJoinExpression);
  EXPECT_EQ(ons.Left->Parent, &ons);
  EXPECT_EQ(top.Right->Parent, &top);

  std::vector<const TExpToken*> comparisons;
  CollectComparisons(q.WhereTree.get(), comparisons);
  ASSERT_EQ(comparisons.size(), 5u);
  // a.k = b.k: columns on both sides, left outer.
  EXPECT_EQ(comparisons[0]->JoinType, jtLeftOuter);
  EXPECT_TRUE(comparisons[0]->IsJoinExpression);
  EXPECT_TRUE(comparisons[0]->Left->IsJoinExpression);
  // b.x = 1: a column on one side only.
  EXPECT_EQ(comparisons[1]->JoinType, jtNone);
  EXPECT_TRUE(comparisons[1]->IsJoinExpression);
  // c.k >= UPPER(b.k): a column inside a function counts.
  EXPECT_EQ(comparisons[2]->JoinType, jtInner);
  // c.z IS NULL.
  EXPECT_EQ(comparisons[3]->JoinType, jtNone);
  EXPECT_TRUE(comparisons[3]->IsJoinExpression);
  // a.y = 2 is the WHERE condition.
  EXPECT_EQ(comparisons[4]->JoinType, jtNone);
  EXPECT_FALSE(comparisons[4]->IsJoinExpression);
}

TEST_F(SelectParse, FullAfterATableNameIsItsCorrelationName) {
  TDataQuery& q = Parse("SELECT * FROM t FULL JOIN u ON t.k = u.k");
  ASSERT_EQ(q.SourceTables.size(), 2u);
  EXPECT_EQ(q.SourceTables[0]->TableName, "t");
  EXPECT_EQ(q.SourceTables[0]->CorrelationName, "FULL");
  EXPECT_EQ(q.SourceTables[1]->CorrelationName, "u");
  ASSERT_TRUE(q.WhereTree);
  EXPECT_EQ(q.WhereTree->JoinType, jtInner);
}

TEST_F(SelectParse, UnionPartsAreRegisteredAndOwnTheirClauses) {
  TDataQuery& q = Parse("SELECT a FROM t WHERE a = 1 UNION SELECT b FROM u WITH LOCKS ORDER BY 1 TOP 3");
  const auto& queries = Statement().Queries();
  ASSERT_EQ(queries.size(), 2u);
  EXPECT_EQ(q.UnionType, utUnion);
  EXPECT_TRUE(q.Distinct);
  ASSERT_EQ(q.UnionPart, queries[1].get());
  const TDataQuery& part = *q.UnionPart;
  EXPECT_TRUE(part.IsUnionPart);
  EXPECT_FALSE(part.IsSubSelect);
  EXPECT_EQ(part.Kind, skSelect);
  ASSERT_EQ(part.SourceTables.size(), 1u);
  EXPECT_EQ(part.SourceTables[0]->TableName, "u");
  EXPECT_TRUE(part.WithLocks);
  EXPECT_FALSE(part.HasOrderBy);
  EXPECT_EQ(part.Top, -1);
  EXPECT_FALSE(q.WithLocks);
  EXPECT_TRUE(q.HasOrderBy);
  ASSERT_EQ(q.OrderBy.size(), 1u);
  EXPECT_EQ(q.OrderBy[0].ColumnNumber, 1);
  EXPECT_EQ(q.Top, 3);

  TDataQuery& all = Parse("SELECT a FROM t UNION ALL SELECT b FROM u UNION SELECT c FROM v");
  const auto& chain = Statement().Queries();
  ASSERT_EQ(chain.size(), 3u);
  EXPECT_EQ(all.UnionType, utUnionAll);
  EXPECT_FALSE(all.Distinct);
  ASSERT_EQ(all.UnionPart, chain[1].get());
  EXPECT_EQ(chain[1]->UnionType, utUnion);
  EXPECT_TRUE(chain[1]->Distinct);
  EXPECT_EQ(chain[1]->UnionPart, chain[2].get());
  EXPECT_EQ(chain[2]->SourceTables[0]->TableName, "v");
}

TEST_F(SelectParse, SubSelectsAreRegisteredWithTheStatement) {
  TDataQuery& q = Parse("SELECT a FROM t WHERE b IN (SELECT c FROM u WHERE d NOT IN (SELECT e FROM v)) AND a > ?");
  const auto& queries = Statement().Queries();
  ASSERT_EQ(queries.size(), 3u);
  ASSERT_TRUE(q.WhereTree);
  ASSERT_EQ(q.WhereTree->Operator, eoAND);
  const TExpToken& in = *q.WhereTree->Left;
  ASSERT_EQ(in.Operator, eoSUBIN);
  ASSERT_EQ(in.Arguments.size(), 2u);
  EXPECT_EQ(in.Arguments[1]->SubQuery, queries[1].get());
  EXPECT_TRUE(queries[1]->IsSubSelect);
  EXPECT_EQ(queries[1]->SourceTables[0]->TableName, "u");
  EXPECT_TRUE(queries[2]->IsSubSelect);
  EXPECT_EQ(queries[2]->SourceTables[0]->TableName, "v");
  EXPECT_EQ(Statement().Parameters().size(), 1u);
  EXPECT_EQ(Statement().Parser().TokenKind(), tkEndOfText);

  // A sub-select's UNION part ends before the sub-select's own ORDER BY,
  // which ends before the closing parenthesis.
  TDataQuery& withUnion =
      Parse("SELECT a FROM t WHERE b IN (SELECT c FROM u UNION SELECT d FROM v ORDER BY 1) ORDER BY 2");
  const auto& parts = Statement().Queries();
  ASSERT_EQ(parts.size(), 3u);
  EXPECT_TRUE(parts[1]->IsSubSelect);
  EXPECT_EQ(parts[1]->UnionPart, parts[2].get());
  EXPECT_TRUE(parts[2]->IsUnionPart);
  ASSERT_EQ(parts[1]->OrderBy.size(), 1u);
  EXPECT_EQ(parts[1]->OrderBy[0].ColumnNumber, 1);
  EXPECT_FALSE(parts[2]->HasOrderBy);
  ASSERT_EQ(withUnion.OrderBy.size(), 1u);
  EXPECT_EQ(withUnion.OrderBy[0].ColumnNumber, 2);
}

TEST_F(SelectParse, GroupByOrderByAndResultOptions) {
  TDataQuery& q = Parse(
      "SELECT a, b FROM t WHERE a > 0 WITH LOCKS NOJOINOPTIMIZE GROUP BY a, t.b, 2 HAVING SUM(c) > 1 "
      "ORDER BY 1 DESC, t.a ASCENDING, b DESCENDING, [c d] ASC NOCASE TOP 10 "
      "LANGUAGE 'German (Standard)' SORT 'SRT_GERMAN_PHONE_BOOK' ENCRYPTED WITH 'secret' NOJOINOPTIMIZE;");
  EXPECT_TRUE(q.HasWhere);
  EXPECT_TRUE(q.WithLocks);
  EXPECT_TRUE(q.NoJoinOptimize);
  EXPECT_TRUE(q.HasGroupBy);
  ASSERT_EQ(q.GroupBy.size(), 3u);
  EXPECT_EQ(q.GroupBy[0].ColumnName, "a");
  EXPECT_EQ(q.GroupBy[0].TableName, "");
  EXPECT_EQ(q.GroupBy[1].TableName, "t");
  EXPECT_EQ(q.GroupBy[1].ColumnName, "b");
  EXPECT_EQ(q.GroupBy[2].ColumnNumber, 2);
  EXPECT_EQ(q.GroupBy[2].ColumnName, "");
  EXPECT_TRUE(q.HasHaving);
  ASSERT_TRUE(q.HavingTree);
  EXPECT_EQ(q.HavingTree->Operator, eoGT);
  EXPECT_EQ(q.HavingTree->Left->Operator, eoSUM);
  EXPECT_TRUE(q.HasOrderBy);
  ASSERT_EQ(q.OrderBy.size(), 4u);
  EXPECT_EQ(q.OrderBy[0].ColumnNumber, 1);
  EXPECT_TRUE(q.OrderBy[0].Descending);
  EXPECT_EQ(q.OrderBy[1].TableName, "t");
  EXPECT_EQ(q.OrderBy[1].ColumnName, "a");
  EXPECT_FALSE(q.OrderBy[1].Descending);
  EXPECT_TRUE(q.OrderBy[2].Descending);
  EXPECT_EQ(q.OrderBy[3].ColumnName, "c d");
  EXPECT_FALSE(q.OrderBy[3].Descending);
  EXPECT_TRUE(q.CaseInsensitiveOrder);
  EXPECT_EQ(q.Top, 10);
  EXPECT_TRUE(q.LanguageGiven);
  EXPECT_EQ(q.LanguageID, 0x0407);
  EXPECT_TRUE(q.SortGiven);
  EXPECT_EQ(q.SortID, SRT_GERMAN_PHONE_BOOK);
  EXPECT_TRUE(q.Encrypted);
  EXPECT_EQ(q.Password, "secret");

  TDataQuery& bare = Parse("SELECT a FROM t");
  EXPECT_FALSE(bare.HasGroupBy || bare.HasHaving || bare.HasOrderBy || bare.WithLocks || bare.NoJoinOptimize);
  EXPECT_FALSE(bare.LanguageGiven || bare.SortGiven || bare.Encrypted || bare.CaseInsensitiveOrder);
  EXPECT_EQ(bare.Top, -1);
  EXPECT_EQ(bare.UnionType, utNone);
  EXPECT_EQ(bare.UnionPart, nullptr);

  TDataQuery& plainLanguage = Parse("SELECT a FROM t LANGUAGE \"ansi standard\" ENCRYPTED WITH ''");
  EXPECT_TRUE(plainLanguage.LanguageGiven);
  EXPECT_EQ(plainLanguage.LanguageID, 0);
  EXPECT_FALSE(plainLanguage.SortGiven);
  EXPECT_FALSE(plainLanguage.Encrypted);
}

TEST_F(SelectParse, WithLocksInEitherPlace) {
  EXPECT_TRUE(Parse("SELECT * FROM t WITH LOCKS").WithLocks);
  EXPECT_TRUE(Parse("SELECT * FROM t ORDER BY a WITH LOCKS").WithLocks);
  EXPECT_TRUE(Parse("SELECT * FROM t WITH LOCKS ORDER BY a WITH LOCKS").WithLocks);
}

TEST_F(SelectParse, IntoClause) {
  TDataQuery& named = Parse("SELECT * INTO 'out/Result.dat' FROM t");
  EXPECT_EQ(named.ResultTableName, "out/Result.dat");
  EXPECT_FALSE(named.InMemoryResult);
  EXPECT_FALSE(named.RequestLive);

  TDataQuery& memory = Parse("SELECT * INTO MEMORY FROM t");
  EXPECT_TRUE(memory.InMemoryResult);
  EXPECT_EQ(memory.ResultTableName, "");
  EXPECT_FALSE(memory.RequestLive);

  TDataQuery& memoryNamed = Parse("SELECT * INTO MEMORY r FROM t");
  EXPECT_TRUE(memoryNamed.InMemoryResult);
  EXPECT_EQ(memoryNamed.ResultTableName, "r");

  EXPECT_TRUE(Parse("SELECT * FROM t").RequestLive);
}

TEST_F(SelectParse, TheParserStopsAfterTheFirstStatement) {
  TDataQuery& q = Parse("SELECT * FROM t; SELECT * FROM u");
  ASSERT_EQ(q.SourceTables.size(), 1u);
  EXPECT_EQ(q.SourceTables[0]->TableName, "t");
  EXPECT_EQ(Statement().Queries().size(), 1u);
  EXPECT_TRUE(Statement().Parser().CheckTokenSymbol("SELECT"));

  Parse("SELECT * FROM t;");
  EXPECT_EQ(Statement().Parser().TokenKind(), tkEndOfText);
  // A second statement is not read at all: its errors wait for its turn.
  Parse("SELECT * FROM t; garbage");
  EXPECT_TRUE(Statement().Parser().CheckTokenSymbol("garbage"));
}

TEST_F(SelectParse, QuotaPageStatements) {
  TDataQuery& q = Parse("select * from 'user' where Upper('user'.'user') = 'NAME'");
  EXPECT_TRUE(q.SelectStar);
  ASSERT_EQ(q.SourceTables.size(), 1u);
  EXPECT_EQ(q.SourceTables[0]->TableName, "user");
  EXPECT_EQ(q.SourceTables[0]->CorrelationName, "user");
  EXPECT_EQ(q.SourceTables[0]->DatabaseName, "");
  EXPECT_TRUE(q.HasWhere);
  EXPECT_FALSE(q.HasJoins);
  ASSERT_TRUE(q.WhereTree);
  const TExpToken& eq = *q.WhereTree;
  EXPECT_EQ(eq.Operator, eoEQ);
  EXPECT_FALSE(eq.IsJoinExpression);
  ASSERT_EQ(eq.Left->NodeClass, enFUNC);
  EXPECT_EQ(eq.Left->Operator, eoUPPER);
  ASSERT_EQ(eq.Left->Arguments.size(), 1u);
  EXPECT_EQ(eq.Left->Arguments[0]->NodeClass, enFIELD);
  EXPECT_EQ(eq.Left->Arguments[0]->TableName, "user");
  EXPECT_EQ(eq.Left->Arguments[0]->FieldName, "user");
  EXPECT_EQ(eq.Right->NodeClass, enCONST);
  EXPECT_EQ(eq.Right->StringValue(), "NAME");

  for (const std::string table : {"printer", "setting"}) {
    TDataQuery& all = Parse("select * from '" + table + "'");
    EXPECT_TRUE(all.SelectStar);
    ASSERT_EQ(all.SourceTables.size(), 1u);
    EXPECT_EQ(all.SourceTables[0]->TableName, table);
    EXPECT_FALSE(all.HasWhere);
    EXPECT_FALSE(all.WhereTree);
  }
}

// Every prefix of a statement that uses most of the grammar either parses or
// raises the parse error: cut-off text never crashes nor raises anything else.
TEST_F(SelectParse, EveryPrefixParsesOrRaisesTheParseError) {
  const std::string text =
      "SELECT DISTINCT t.a AS x, SUM(b) s, UPPER(c) INTO MEMORY r FROM t q LEFT OUTER JOIN 'u' ON q.k = u.k "
      "RIGHT JOIN v ON v.k <> q.k, w WHERE a IN (SELECT k FROM z WHERE k > ?) AND b LIKE 'x%' WITH LOCKS "
      "NOJOINOPTIMIZE UNION ALL SELECT a, b, c FROM y GROUP BY 1, q.b HAVING SUM(b) > 2 ORDER BY x DESC NOCASE "
      "TOP 5 LANGUAGE 'ANSI Standard' SORT 'Default Order' ENCRYPTED WITH pw NOJOINOPTIMIZE;";
  int accepted = 0;
  for (std::size_t n = 0; n <= text.size(); ++n) {
    TQueryStatement statement(db_.Directory());
    const std::string prefix = text.substr(0, n);
    try {
      statement.ParseStatement(prefix);
      ++accepted;
    } catch (const ETarnEngineError& error) {
      EXPECT_EQ(error.ErrorCode(), TARN_SQLPARSE) << prefix;
    }
  }
  // The whole text is accepted, as are the prefixes that end after a complete clause.
  TQueryStatement statement(db_.Directory());
  EXPECT_NO_THROW(statement.ParseStatement(text));
  EXPECT_GT(accepted, 1);
}

// Sub-selects and UNION parts nest by recursion: a moderate depth parses, an
// absurd one raises the nesting message instead of exhausting the stack.
TEST_F(SelectParse, DeepSubSelectsAndUnionChainsAreBounded) {
  auto nestedSubSelects = [](int depth) {
    std::string text = "SELECT a FROM t0";
    for (int i = 1; i <= depth; ++i) text += " WHERE a IN (SELECT a FROM t" + std::to_string(i);
    return text + std::string(static_cast<std::size_t>(depth), ')');
  };
  auto unionChain = [](int parts) {
    std::string text = "SELECT a FROM t0";
    for (int i = 1; i <= parts; ++i) text += " UNION ALL SELECT a FROM t" + std::to_string(i);
    return text;
  };
  Parse(nestedSubSelects(100));
  EXPECT_EQ(Statement().Queries().size(), 101u);
  Parse(unionChain(100));
  EXPECT_EQ(Statement().Queries().size(), 101u);

  struct DeepCase {
    std::string Text;
    std::string Message;
  };
  const DeepCase cases[] = {
      {nestedSubSelects(5000), "Expression nested too deeply in WHERE or JOIN clause"},
      {unionChain(5000), "Expression nested too deeply in SQL statement"},
  };
  for (const DeepCase& c : cases) {
    TQueryStatement statement(db_.Directory());
    const Outcome outcome = TryParse(statement, c.Text);
    ASSERT_TRUE(outcome.Raised);
    EXPECT_EQ(outcome.Text, c.Message);
  }
  // The bound is per statement being parsed: a later statement starts again from the top.
  Parse(nestedSubSelects(100));
}

}  // namespace
}  // namespace tarn::sql_testing
