// WHERE reduction, default joins and join order, join optimisation by record
// counts, per-row join filters and HAVING reduction, on queries put together
// without the SELECT grammar: source tables opened on real tables, WHERE and
// HAVING trees read by the expression parser.
#include <gtest/gtest.h>

#include <charconv>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "expressions/exp_token_stack.h"
#include "expressions/exp_tree.h"
#include "expressions/expression_evaluator.h"
#include "expressions/expression_parser.h"
#include "expressions/expression_verifier.h"
#include "expressions/filter_preparation.h"
#include "sql_fixture.h"

namespace tarn::sql_testing {
namespace {

// --- trees as text -----------------------------------------------------------------------

std::string OperatorText(TExpOperator op) {
  switch (op) {
    case eoEQ:
      return "=";
    case eoNE:
      return "<>";
    case eoLT:
      return "<";
    case eoGT:
      return ">";
    case eoLE:
      return "<=";
    case eoGE:
      return ">=";
    case eoAND:
      return "AND";
    case eoOR:
      return "OR";
    case eoADD:
      return "+";
    case eoSUB:
      return "-";
    default:
      return "?";
  }
}

std::string ConstantText(const TExpToken& node) {
  if (node.IsNull) return "NULL";
  auto read = [&](auto value) {
    std::memcpy(&value, node.ValueData(), sizeof value);
    return std::to_string(value);
  };
  switch (node.DataType) {
    case dtSmallInt:
      return read(std::int16_t{});
    case dtWord:
      return read(std::uint16_t{});
    case dtInteger:
      return read(std::int32_t{});
    case dtLargeInt:
      return read(std::int64_t{});
    case dtString:
      return "'" + node.StringValue() + "'";
    default:
      return node.Text;
  }
}

std::string TreeText(const TExpToken* node) {
  if (node == nullptr) return "";
  switch (node->NodeClass) {
    case enFIELD:
      return node->TableName.empty() ? node->FieldName : node->TableName + "." + node->FieldName;
    case enCONST:
      return ConstantText(*node);
    case enUNARY:
      return node->Operator == eoNOT ? "NOT " + TreeText(node->Left.get()) : node->Text + TreeText(node->Left.get());
    case enBINARY:
      return "(" + TreeText(node->Left.get()) + " " + OperatorText(node->Operator) + " " + TreeText(node->Right.get()) +
             ")";
    case enFUNC:
    case enEXTBINARY: {
      std::string text = node->Text + "(";
      for (std::size_t i = 0; i < node->Arguments.size(); ++i) {
        if (i > 0) text += ", ";
        text += TreeText(node->Arguments[i].get());
      }
      return text + ")";
    }
    default:
      return "?";
  }
}

// Every operand's Parent is the node holding it.
void ExpectParentLinks(const TExpToken* root) {
  if (root == nullptr) return;
  EXPECT_EQ(root->Parent, nullptr);
  std::vector<const TExpToken*> pending{root};
  while (!pending.empty()) {
    const TExpToken* node = pending.back();
    pending.pop_back();
    auto check = [&](const TExpTokenPtr& operand) {
      if (!operand) return;
      EXPECT_EQ(operand->Parent, node) << TreeText(operand.get());
      pending.push_back(operand.get());
    };
    check(node->Left);
    check(node->Right);
    for (const auto& argument : node->Arguments) check(argument);
  }
}

const char* JoinTypeName(TJoinType type) {
  switch (type) {
    case jtNone:
      return "none";
    case jtInner:
      return "inner";
    case jtLeftOuter:
      return "left";
    case jtRightOuter:
      return "right";
    default:
      return "full";
  }
}

std::string ErrorTextOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const ETarnEngineError& error) {
    EXPECT_EQ(error.ErrorCode(), TARN_SQLPARSE);
    return error.ErrorText();
  }
  return "(no error)";
}

// --- the query under test ------------------------------------------------------------------

// One ON or WHERE condition as read: ON conditions carry their join type.
struct Condition {
  std::string Text;
  TJoinType OnType = jtNone;  // jtNone: a WHERE condition
};

class ReductionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // Four tables alike but for one column of their own each (AA, BB, ...).
    for (const char* name : {"a", "b", "c", "d"})
      MakeTable(name, std::string(2, static_cast<char>(name[0] - 'a' + 'A')));
    statement_ = std::make_unique<TQueryStatement>(db_.Directory());
  }

  void MakeTable(const std::string& name, const std::string& ownColumn) {
    db_.CreateTable(name, {{"K", dtInteger}, {"X", dtInteger}, {"N", dtString, 10}, {ownColumn, dtInteger}});
  }

  TDataQuery& Query() { return statement_->MasterQuery(); }

  // Rows K = 1..count, X = K % 3, N = "n" followed by K, own column = 10 * K.
  void Fill(const std::string& table, int count) {
    std::vector<Row> rows;
    for (int k = 1; k <= count; ++k)
      rows.push_back({std::int64_t{k}, std::int64_t{k % 3}, "n" + std::to_string(k), std::int64_t{10 * k}});
    db_.Insert(table, rows);
  }

  // "a" or "a x" (table and correlation name).
  TSourceTable& AddSource(const std::string& tableAndAlias) {
    const std::size_t blank = tableAndAlias.find(' ');
    const std::string table = tableAndAlias.substr(0, blank);
    auto source = std::make_unique<TSourceTable>();
    source->Position = static_cast<int>(Query().SourceTables.size()) + 1;
    source->SetTableName(table);
    if (blank != std::string::npos) source->SetAliasName(tableAndAlias.substr(blank + 1));
    source->JoinOrder = source->Position;
    source->Cursor = std::make_unique<TDataCursor>(db_.Directory());
    source->Cursor->SetTableName(table);
    source->Cursor->OpenCursor();
    source->Record.resize(source->Cursor->GetRecordBufferSize());
    Query().SourceTables.push_back(std::move(source));
    Query().HasJoins = Query().SourceTables.size() > 1;
    return *Query().SourceTables.back();
  }

  TSourceTable& Source(const std::string& correlationName) {
    TSourceTable* source = Query().FindSourceTable(correlationName);
    EXPECT_NE(source, nullptr) << correlationName;
    return *source;
  }

  static TExpTokenPtr Parse(const std::string& text, TParseModifiers modifiers) {
    TExpressionParser parser;
    parser.ErrorCode = TARN_SQLPARSE;
    parser.SetExpression(text);
    parser.NextToken();
    return parser.ParseCompleteExpression(modifiers);
  }

  // The WHERE tree as the SELECT grammar leaves it: the conditions joined by
  // AND in the order read, the comparisons of ON conditions between columns
  // marked with their join type.
  void SetWhere(const std::vector<Condition>& conditions) {
    TExpTokenPtr where;
    for (const Condition& condition : conditions) {
      TExpTokenPtr part = Parse(condition.Text, pmAllowExtPredicates | pmAllowParameters);
      if (condition.OnType != jtNone) MarkJoinCondition(*part, condition.OnType);
      if (!where) {
        where = std::move(part);
        continue;
      }
      TExpTokenPtr both = GetNewExpTokenInstance();
      both->NodeClass = enBINARY;
      both->Operator = eoAND;
      both->Text = "AND";
      both->DataType = dtBoolean;
      both->Left = std::move(where);
      both->Right = std::move(part);
      where = std::move(both);
    }
    Query().WhereTree = std::move(where);
    Query().HasWhere = static_cast<bool>(Query().WhereTree);
  }

  static void MarkJoinCondition(TExpToken& root, TJoinType type) {
    std::vector<TExpToken*> pending{&root};
    while (!pending.empty()) {
      TExpToken* node = pending.back();
      pending.pop_back();
      node->IsJoinExpression = true;
      if (node->NodeClass == enBINARY && node->Operator >= eoEQ && node->Operator <= eoLE &&
          ContainsFields(node->Left.get()) && ContainsFields(node->Right.get()))
        node->JoinType = type;
      for (TExpTokenPtr* operand : {&node->Left, &node->Right})
        if (*operand) pending.push_back(operand->get());
      for (auto& argument : node->Arguments)
        if (argument) pending.push_back(argument.get());
    }
  }

  // Preparation of a canned SELECT: default joins, reduction, join order.
  void Reduce() {
    Query().SetupDefaultTableJoins();
    Query().ReduceWhereExpression();
    Query().ReduceDefaultTableJoins();
    Query().SortJoinOrders();
  }

  // "outer>inner type (condition)" for every join, in source list order.
  std::vector<std::string> Joins() {
    std::vector<std::string> joins;
    for (const auto& source : Query().SourceTables) {
      for (const auto& join : source->Joins) {
        EXPECT_EQ(join->Outer, source.get());
        std::string text =
            join->Outer->CorrelationName + ">" + join->Inner->CorrelationName + " " + JoinTypeName(join->Type);
        if (join->Condition) text += " " + TreeText(join->Condition.get());
        joins.push_back(text);
      }
    }
    return joins;
  }

  std::vector<std::string> SourceOrder() {
    std::vector<std::string> order;
    int expected = 0;
    for (const auto& source : Query().SourceTables) {
      order.push_back(source->CorrelationName);
      EXPECT_EQ(source->JoinOrder, ++expected) << source->CorrelationName;
    }
    return order;
  }

  TTableJoin& JoinBetween(const std::string& outer, const std::string& inner) {
    for (const auto& join : Source(outer).Joins)
      if (join->Inner == &Source(inner)) return *join;
    ADD_FAILURE() << "no join " << outer << ">" << inner;
    static TTableJoin none;
    return none;
  }

  // What execution does before reading rows: the join conditions verified.
  void VerifyJoinConditions() {
    for (const auto& source : Query().SourceTables) {
      for (const auto& join : source->Joins) {
        if (!join->Condition) continue;
        VerifyExpressionToken(TARN_SQLPARSE, "", "", false, &TDataQuery::VerifyExpressionFieldData, &Query(), nullptr,
                              *join->Condition, "WHERE or JOIN clause");
      }
    }
  }

  // Reads the table's row with this K into its record buffer.
  void LoadRow(TSourceTable& source, int k) {
    TDataCursor& cursor = *source.Cursor;
    cursor.SetToBegin();
    while (cursor.GetNextRecord(source.Record.data()) == 0) {
      std::int32_t value = 0;
      bool isNull = false;
      cursor.GetField(1, source.Record.data(), reinterpret_cast<std::uint8_t*>(&value), isNull);
      if (!isNull && value == k) return;
    }
    FAIL() << "no row with K = " << k;
  }

  // The K values the cursor presents, in its order.
  static std::vector<int> Keys(TDataCursor& cursor) {
    std::vector<int> keys;
    std::vector<std::uint8_t> record(cursor.GetRecordBufferSize());
    cursor.SetToBegin();
    while (cursor.GetNextRecord(record.data()) == 0) {
      std::int32_t value = 0;
      bool isNull = false;
      cursor.GetField(1, record.data(), reinterpret_cast<std::uint8_t*>(&value), isNull);
      keys.push_back(value);
    }
    return keys;
  }

  SqlDatabase db_;
  std::unique_ptr<TQueryStatement> statement_;
};

// --- reduction ----------------------------------------------------------------------------

struct ReductionCase {
  const char* Name;
  std::vector<std::string> Sources;
  std::vector<Condition> Conditions;
  std::vector<std::string> Joins;
  std::string Where;
  std::string Scan;
  std::vector<std::string> Order;
};

TEST_F(ReductionTest, WhereTreesBecomeJoinsScanPartsAndFilterParts) {
  const std::vector<ReductionCase> cases = {
      {"join and filter",
       {"a", "b"},
       {{"a.K = b.K AND a.X = 1"}},
       {"a>b inner (a.K = b.K)"},
       "(a.X = 1)",
       "",
       {"a", "b"}},
      {"constant first", {"a", "b"}, {{"1 = a.X"}}, {"a>b none"}, "(a.X = 1)", "", {"a", "b"}},
      {"constant first, ordering mirrored",
       {"a", "b"},
       {{"5 < a.X AND 2 >= b.X"}},
       {"a>b none"},
       "((a.X > 5) AND (b.X <= 2))",
       "",
       {"a", "b"}},
      {"disjunction over two tables stays whole",
       {"a", "b"},
       {{"a.X = 1 OR b.X = 2"}},
       {"a>b none"},
       "((a.X = 1) OR (b.X = 2))",
       "",
       {"a", "b"}},
      {"disjunction of join comparisons stays whole",
       {"a", "b"},
       {{"a.K = b.K OR a.X = b.X"}},
       {"a>b none"},
       "((a.K = b.K) OR (a.X = b.X))",
       "",
       {"a", "b"}},
      {"disjunction in one table is split no further",
       {"a", "b"},
       {{"(a.X = 1 OR 2 = a.K) AND a.K = b.K"}},
       {"a>b inner (a.K = b.K)"},
       "((a.X = 1) OR (a.K = 2))",
       "",
       {"a", "b"}},
      {"left outer join", {"a", "b"}, {{"a.K = b.K", jtLeftOuter}}, {"a>b left (a.K = b.K)"}, "", "", {"a", "b"}},
      {"right outer join reads as left outer from the first table",
       {"b", "a"},
       {{"a.K = b.K", jtRightOuter}},
       {"b>a left (b.K = a.K)"},
       "",
       "",
       {"b", "a"}},
      {"outer join disjunction becomes the join condition",
       {"a", "b"},
       {{"a.K = b.K OR a.X < b.X", jtLeftOuter}},
       {"a>b left ((a.K = b.K) OR (a.X < b.X))"},
       "",
       "",
       {"a", "b"}},
      {"right side first: swapped and mirrored",
       {"a", "b"},
       {{"b.K = a.K AND b.X >= a.X"}},
       {"a>b inner ((a.K = b.K) AND (a.X <= b.X))"},
       "",
       "",
       {"a", "b"}},
      {"expressions on both sides",
       {"a", "b"},
       {{"a.X + 1 < b.X - 1"}},
       {"a>b inner ((a.X + 1) < (b.X - 1))"},
       "",
       "",
       {"a", "b"}},
      {"same table on both sides stays",
       {"a", "b"},
       {{"a.K = a.X AND b.X = 2"}},
       {"a>b none"},
       "((a.K = a.X) AND (b.X = 2))",
       "",
       {"a", "b"}},
      {"NOT over two tables stays whole",
       {"a", "b"},
       {{"NOT (a.K = b.K) AND a.X = 1"}},
       {"a>b none"},
       "(NOT (a.K = b.K) AND (a.X = 1))",
       "",
       {"a", "b"}},
      {"predicates over two tables go to the scan",
       {"a", "b"},
       {{"a.N LIKE b.N AND b.X = 2 AND a.K IN (b.K, 7)"}},
       {"a>b none"},
       "(b.X = 2)",
       "(LIKE(a.N, b.N) AND IN(a.K, b.K, 7))",
       {"a", "b"}},
      {"predicate over one table stays",
       {"a", "b"},
       {{"a.N LIKE 'n%' AND a.K = b.K"}},
       {"a>b inner (a.K = b.K)"},
       "LIKE(a.N, 'n%')",
       "",
       {"a", "b"}},
      {"unqualified columns", {"a", "b"}, {{"AA = BB AND X = 1"}}, {"a>b inner (AA = BB)"}, "(X = 1)", "", {"a", "b"}},
      {"correlation names", {"a x", "b y"}, {{"y.K = x.K"}}, {"x>y inner (x.K = y.K)"}, "", "", {"x", "y"}},
      {"chain through the table joined first",
       {"a", "b", "c"},
       {{"a.K = c.K AND b.K = c.K"}},
       {"a>c inner (a.K = c.K)", "c>b inner (c.K = b.K)"},
       "",
       "",
       {"a", "c", "b"}},
      {"third table joined to the first",
       {"a", "b", "c"},
       {{"c.K = a.K"}},
       {"a>b none", "a>c inner (a.K = c.K)"},
       "",
       "",
       {"a", "b", "c"}},
      {"cross product of three", {"a", "b", "c"}, {}, {"a>b none", "b>c none"}, "", "", {"a", "b", "c"}},
      {"first table put behind a joined table",
       {"a", "b", "c"},
       {{"b.K = c.K AND a.X = c.X"}},
       {"b>c inner (b.K = c.K)", "c>a inner (c.X = a.X)"},
       "",
       "",
       {"b", "c", "a"}},
      {"group joined among itself is joined to the driving table",
       {"a", "b", "c", "d"},
       {{"c.K = d.K AND b.X = d.X"}},
       {"a>c none", "c>d inner (c.K = d.K)", "d>b inner (d.X = b.X)"},
       "",
       "",
       {"a", "c", "d", "b"}},
      {"inner join after an outer join",
       {"a", "b", "c"},
       {{"a.K = b.K", jtLeftOuter}, {"c.X = b.X", jtInner}},
       {"a>b left (a.K = b.K)", "b>c inner (b.X = c.X)"},
       "",
       "",
       {"a", "b", "c"}},
      {"conditions between the same tables are combined",
       {"a", "b"},
       {{"a.K = b.K"}, {"a.X <> b.X AND b.K > 0"}},
       {"a>b inner ((a.K = b.K) AND (a.X <> b.X))"},
       "(b.K > 0)",
       "",
       {"a", "b"}},
  };
  for (const ReductionCase& c : cases) {
    SCOPED_TRACE(c.Name);
    statement_ = std::make_unique<TQueryStatement>(db_.Directory());
    for (const std::string& source : c.Sources) AddSource(source);
    SetWhere(c.Conditions);
    Reduce();
    EXPECT_EQ(Joins(), c.Joins);
    EXPECT_EQ(TreeText(Query().WhereTree.get()), c.Where);
    EXPECT_EQ(TreeText(Query().ScanExpression.get()), c.Scan);
    EXPECT_EQ(SourceOrder(), c.Order);
    ExpectParentLinks(Query().WhereTree.get());
    ExpectParentLinks(Query().ScanExpression.get());
    for (const auto& source : Query().SourceTables)
      for (const auto& join : source->Joins) ExpectParentLinks(join->Condition.get());
  }
}

TEST_F(ReductionTest, JoinConditionsTakeTheirTypeAndMirroredOperatorText) {
  AddSource("a");
  AddSource("b");
  SetWhere({{"b.X <= a.X"}});
  Reduce();
  const TExpToken& condition = *JoinBetween("a", "b").Condition;
  EXPECT_EQ(condition.Operator, eoGE);
  EXPECT_EQ(condition.Text, "> =");
  EXPECT_EQ(condition.JoinType, jtInner);
  EXPECT_EQ(TreeText(&condition), "(a.X >= b.X)");
}

TEST_F(ReductionTest, WhereTreeFullyTakenApartLeavesNone) {
  AddSource("a");
  AddSource("b");
  SetWhere({{"a.K = b.K", jtInner}, {"a.X = b.X"}});
  Reduce();
  EXPECT_EQ(Query().WhereTree, nullptr);
  EXPECT_EQ(Joins(), (std::vector<std::string>{"a>b inner ((a.K = b.K) AND (a.X = b.X))"}));
}

TEST_F(ReductionTest, ScanPartsJoinedUnderTheirFormerParentsOperator) {
  AddSource("a");
  AddSource("b");
  // The OR over two tables contains an outer join condition, so it is taken
  // apart: the predicate goes to the scan expression under OR.
  SetWhere({{"a.N LIKE b.N", jtNone}, {"a.K = b.K OR a.N LIKE b.N", jtLeftOuter}});
  Reduce();
  EXPECT_EQ(TreeText(Query().ScanExpression.get()), "(LIKE(a.N, b.N) OR LIKE(a.N, b.N))");
  EXPECT_EQ(Query().ScanExpression->Operator, eoOR);
  EXPECT_EQ(Joins(), (std::vector<std::string>{"a>b left (a.K = b.K)"}));
}

TEST_F(ReductionTest, SingleTableQueryOnlyPutsColumnsLeft) {
  AddSource("a");
  SetWhere({{"3 < K AND X = K"}});
  Reduce();
  EXPECT_EQ(TreeText(Query().WhereTree.get()), "((K > 3) AND (X = K))");
  EXPECT_TRUE(Query().SourceTables.front()->Joins.empty());
}

TEST_F(ReductionTest, LongChainsAreReducedWithAFlatStack) {
  AddSource("a");
  AddSource("b");
  // A left-deep chain of 60,001 comparisons: a walk that recursed once per
  // link would run out of stack.
  std::string text = "a.K = b.K";
  constexpr int kLinks = 30000;
  for (int i = 0; i < kLinks; ++i) text += " AND a.X = " + std::to_string(i % 7) + " AND 3 < b.X";
  SetWhere({{text}});
  Reduce();
  EXPECT_EQ(Joins(), (std::vector<std::string>{"a>b inner (a.K = b.K)"}));
  ExpectParentLinks(Query().WhereTree.get());
  int comparisons = 0, mirrored = 0;
  std::vector<const TExpToken*> pending{Query().WhereTree.get()};
  while (!pending.empty()) {
    const TExpToken* node = pending.back();
    pending.pop_back();
    if (node->Operator == eoAND) {
      pending.push_back(node->Left.get());
      pending.push_back(node->Right.get());
      continue;
    }
    ++comparisons;
    EXPECT_EQ(node->Left->NodeClass, enFIELD);
    if (node->Left->TableName == "b") mirrored += node->Operator == eoGT ? 1 : 0;
  }
  EXPECT_EQ(comparisons, 2 * kLinks);
  EXPECT_EQ(mirrored, kLinks);
}

struct ErrorCase {
  const char* Name;
  std::vector<std::string> Sources;
  std::vector<Condition> Conditions;
  std::string Message;
};

TEST_F(ReductionTest, ReductionMessages) {
  const std::string multipleNames =
      "The join condition cannot contain multiple table correlation names in either the left or right operand in "
      "WHERE or JOIN clause";
  const std::vector<ErrorCase> cases = {
      {"two tables in one operand", {"a", "b", "c"}, {{"a.K + b.K = c.K"}}, multipleNames},
      {"two tables in the right operand", {"a", "b", "c"}, {{"c.K = UPPER(a.N) || b.N"}}, multipleNames},
      {"two tables against a constant", {"a", "b"}, {{"a.K + b.K = 3"}}, "Internal table filter error"},
      {"unknown table in a join comparison",
       {"a", "b"},
       {{"a.K = q.K"}},
       "Internal join error attempting to validate table correlation names involved in join"},
      {"unknown table in a filter part",
       {"a", "b"},
       {{"a.K = b.K AND q.K = 1"}},
       "Table correlation name 'q' referenced in WHERE clause is not defined in the FROM clause"},
      {"unknown table without joins",
       {"a"},
       {{"q.K = a.K"}},
       "Table correlation name 'q' referenced in WHERE clause is not defined in the FROM clause"},
      {"unknown table in a disjunction kept whole",
       {"a", "b"},
       {{"a.X = 1 OR b.X = q.X"}},
       "Table correlation name 'q' referenced in WHERE clause is not defined in the FROM clause"},
      {"unknown table in a predicate",
       {"a", "b"},
       {{"q.N LIKE 'x%'"}},
       "Table correlation name 'q' referenced in WHERE clause is not defined in the FROM clause"},
      {"ring of join conditions",
       {"a", "b", "c"},
       {{"a.K = b.K AND b.K = c.K AND a.X = c.X"}},
       "Internal join error - table correlation name \"c\" is target of multiple join conditions in WHERE or JOIN "
       "clause"},
      {"outer and inner join to one table",
       {"a", "b"},
       {{"a.K = b.K", jtLeftOuter}, {"a.X = b.X"}},
       "Internal join error - table correlation name \"b\" is target of multiple join conditions in WHERE or JOIN "
       "clause"},
  };
  for (const ErrorCase& c : cases) {
    SCOPED_TRACE(c.Name);
    statement_ = std::make_unique<TQueryStatement>(db_.Directory());
    for (const std::string& source : c.Sources) AddSource(source);
    SetWhere(c.Conditions);
    EXPECT_EQ(ErrorTextOf([&] { Reduce(); }), c.Message);
  }
}

TEST_F(ReductionTest, JoinOrdersRenumberTablesJoinedFromAMovedTable) {
  AddSource("a");
  AddSource("b");
  AddSource("c");
  AddSource("d");
  Query().SetupDefaultTableJoins();
  // b joins d, then a table that reached b is put behind: d and what d
  // joins follow.
  SetWhere({{"b.K = d.K AND c.X = b.X AND a.AA = c.CC"}});
  Query().ReduceWhereExpression();
  EXPECT_LT(Source("b").JoinOrder, Source("d").JoinOrder);
  EXPECT_LT(Source("b").JoinOrder, Source("c").JoinOrder);
  EXPECT_LT(Source("c").JoinOrder, Source("a").JoinOrder);
  Query().ReduceDefaultTableJoins();
  Query().SortJoinOrders();
  EXPECT_EQ(SourceOrder(), (std::vector<std::string>{"b", "c", "a", "d"}));
  EXPECT_EQ(Joins(),
            (std::vector<std::string>{"b>c inner (b.X = c.X)", "b>d inner (b.K = d.K)", "c>a inner (c.CC = a.AA)"}));
}

// --- join optimisation --------------------------------------------------------------------

struct OptimizationCase {
  const char* Name;
  std::vector<int> Sizes;  // rows of a, b, c
  std::vector<Condition> Conditions;
  std::vector<std::string> Filters;  // per table, "" for none
  std::vector<std::string> Order;
  std::vector<std::string> Joins;
};

TEST_F(ReductionTest, SmallestInnerJoinedTableDrives) {
  const std::vector<OptimizationCase> cases = {
      {"smaller joined table drives", {6, 2}, {{"a.K = b.K"}}, {}, {"b", "a"}, {"b>a inner (b.K = a.K)"}},
      {"larger joined table does not", {2, 6}, {{"a.K = b.K"}}, {}, {"a", "b"}, {"a>b inner (a.K = b.K)"}},
      {"equal counts keep the driving table", {3, 3}, {{"a.K = b.K"}}, {}, {"a", "b"}, {"a>b inner (a.K = b.K)"}},
      {"filtered count decides", {3, 6}, {{"a.K = b.K"}}, {"", "X = 1"}, {"b", "a"}, {"b>a inner (b.K = a.K)"}},
      {"filter on the driving table", {6, 4}, {{"a.K = b.K"}}, {"K = 1", ""}, {"a", "b"}, {"a>b inner (a.K = b.K)"}},
      {"chain reversed down to the smallest",
       {6, 4, 1},
       {{"a.K = b.K AND b.X < c.X"}},
       {},
       {"c", "b", "a"},
       {"c>b inner (c.X > b.X)", "b>a inner (b.K = a.K)"}},
      {"ties take the first in the list",
       {6, 2, 2},
       {{"a.K = b.K AND a.X = c.X"}},
       {},
       {"b", "a", "c"},
       {"b>a inner (b.K = a.K)", "a>c inner (a.X = c.X)"}},
      {"outer join is not reversed", {6, 1}, {{"a.K = b.K", jtLeftOuter}}, {}, {"a", "b"}, {"a>b left (a.K = b.K)"}},
      {"inner join behind an outer join is not taken",
       {6, 4, 1},
       {{"a.K = b.K", jtLeftOuter}, {"b.X = c.X", jtInner}},
       {},
       {"a", "b", "c"},
       {"a>b left (a.K = b.K)", "b>c inner (b.X = c.X)"}},
      {"cross product is reversed with the chain",
       {6, 4, 1},
       {{"b.X = c.X"}},
       {},
       {"c", "b", "a"},
       {"c>b inner (c.X = b.X)", "b>a none"}},
  };
  const char* names[] = {"a", "b", "c"};
  int number = 0;
  for (const OptimizationCase& c : cases) {
    SCOPED_TRACE(c.Name);
    // Tables of this case's sizes, known by the usual correlation names.
    ++number;
    statement_ = std::make_unique<TQueryStatement>(db_.Directory());
    for (std::size_t i = 0; i < c.Sizes.size(); ++i) {
      const std::string table = names[i] + std::to_string(number);
      MakeTable(table, std::string(2, static_cast<char>('A' + i)));
      Fill(table, c.Sizes[i]);
      TSourceTable& source = AddSource(table + " " + names[i]);
      if (i < c.Filters.size() && !c.Filters[i].empty())
        source.Cursor->ActivateFilter(source.Cursor->AddFilter({.Text = c.Filters[i]}));
    }
    SetWhere(c.Conditions);
    Reduce();
    if (Query().CanOptimizeTableJoins()) Query().OptimizeTableJoins();
    EXPECT_EQ(SourceOrder(), c.Order);
    EXPECT_EQ(Joins(), c.Joins);
    for (const auto& source : Query().SourceTables)
      for (const auto& join : source->Joins) {
        EXPECT_EQ(join->Outer, source.get());
        ExpectParentLinks(join->Condition.get());
      }
  }
}

TEST_F(ReductionTest, OptimizationCanBeTurnedOffAndNeedsInnerJoins) {
  Fill("a", 6);
  Fill("b", 2);
  AddSource("a");
  AddSource("b");
  SetWhere({{"a.K = b.K"}});
  Reduce();
  Query().NoJoinOptimize = true;
  EXPECT_FALSE(Query().CanOptimizeTableJoins());
  Query().OptimizeTableJoins();
  EXPECT_EQ(SourceOrder(), (std::vector<std::string>{"a", "b"}));
  Query().NoJoinOptimize = false;
  EXPECT_TRUE(Query().CanOptimizeTableJoins());

  statement_ = std::make_unique<TQueryStatement>(db_.Directory());
  AddSource("a");
  AddSource("b");
  Reduce();  // a cross product only
  EXPECT_FALSE(Query().CanOptimizeTableJoins());
}

TEST_F(ReductionTest, ChangedTableOfUpdateOrDeleteKeepsDriving) {
  Fill("a", 6);
  Fill("b", 3);
  Fill("c", 1);
  AddSource("a");
  AddSource("b");
  AddSource("c");
  SetWhere({{"a.K = b.K AND a.X = c.X"}});
  Reduce();
  Query().DataChangeTarget = &Source("a");
  Query().OptimizeTableJoins();
  EXPECT_EQ(SourceOrder(), (std::vector<std::string>{"a", "b", "c"}));

  // The target behind the driving table: tables the target's inner joins
  // reach are kept out, others may still drive.
  statement_ = std::make_unique<TQueryStatement>(db_.Directory());
  AddSource("a");
  AddSource("b");
  AddSource("c");
  SetWhere({{"a.K = b.K AND b.X = c.X"}});
  Reduce();
  Query().DataChangeTarget = &Source("b");
  Query().OptimizeTableJoins();
  EXPECT_EQ(SourceOrder(), (std::vector<std::string>{"a", "b", "c"}));
  Query().DataChangeTarget = nullptr;
  Query().OptimizeTableJoins();
  EXPECT_EQ(SourceOrder(), (std::vector<std::string>{"c", "b", "a"}));
}

// --- join filters --------------------------------------------------------------------------

struct JoinFilterCase {
  const char* Name;
  std::string Condition;  // WHERE text joining a to b
  int OuterKey;           // a's current row
  std::string Filter;
  std::vector<int> InnerKeys;  // b's rows the filter keeps
  TJoinType Type = jtInner;    // of the ON clause the condition is read from
};

TEST_F(ReductionTest, JoinFilterTakesTheOuterRowsValues) {
  Fill("a", 4);
  Fill("b", 9);
  const std::vector<JoinFilterCase> cases = {
      {"equality", "a.K = b.K", 3, "(b.K = 3)", {3}},
      {"inner table written first", "b.K = a.K", 2, "(b.K = 2)", {2}},
      {"ordering mirrored", "a.K < b.K", 4, "(b.K > 4)", {5, 6, 7, 8, 9}},
      {"outer expression computed", "a.X + 1 = b.X AND a.K * 2 <= b.K", 4, "((b.X = 2) AND (b.K >= 8))", {8}},
      {"inner expression kept", "a.AA = b.BB - 10", 2, "((b.BB - 10) = 20)", {3}},
      {"column-free function argument computed once",
       "a.N = SUBSTRING(b.N FROM 1 FOR 1 + 1)",
       1,
       "(SUBSTRING(b.N, 1, 2) = 'n1')",
       {1}},
      {"outer join disjunction", "a.K = b.K OR a.K + 5 = b.K", 1, "((b.K = 1) OR (b.K = 6))", {1, 6}, jtLeftOuter},
  };
  for (const JoinFilterCase& c : cases) {
    SCOPED_TRACE(c.Name);
    statement_ = std::make_unique<TQueryStatement>(db_.Directory());
    AddSource("a");
    AddSource("b");
    SetWhere({{c.Condition, c.Type}});
    Reduce();
    VerifyJoinConditions();
    TTableJoin& join = JoinBetween("a", "b");
    const std::string stored = TreeText(join.Condition.get());
    LoadRow(Source("a"), c.OuterKey);
    TExpTokenPtr filter = Query().BuildNextJoinFilter(join);
    ASSERT_NE(filter, nullptr);
    EXPECT_EQ(TreeText(filter.get()), c.Filter);
    EXPECT_EQ(TreeText(join.Condition.get()), stored) << "the join's own condition is left as it was";

    // Placed on the inner cursor, the filter selects the matching rows.
    TDataCursor& inner = *Source("b").Cursor;
    TExpTokenPtr prepared = BuildNextFilterExpression(*filter, inner.EvaluationContext(), inner.FieldCallback());
    TAddFilterOptions options;
    options.Tree = std::move(prepared);
    const TFilterHandle handle = inner.AddFilter(std::move(options));
    inner.ActivateFilter(handle);
    EXPECT_EQ(Keys(inner), c.InnerKeys);
    inner.DropFilter(handle);
  }
}

TEST_F(ReductionTest, JoinFilterKeepsAnInnerSideWrittenFirst) {
  Fill("a", 3);
  Fill("b", 5);
  AddSource("a");
  AddSource("b");
  TTableJoin& join = Source("a").AddJoin(jtInner, Parse("b.K >= a.K + 2", pmAllowExtPredicates), Source("b"), eoAND);
  VerifyJoinConditions();
  LoadRow(Source("a"), 2);
  EXPECT_EQ(TreeText(Query().BuildNextJoinFilter(join).get()), "(b.K >= 4)");
}

TEST_F(ReductionTest, JoinFilterForAnOuterTableAtItsEndComparesWithNull) {
  Fill("a", 2);
  Fill("b", 2);
  AddSource("a");
  AddSource("b");
  SetWhere({{"a.K = b.K"}});
  Reduce();
  VerifyJoinConditions();
  Source("a").AtEnd = true;
  TExpTokenPtr filter = Query().BuildNextJoinFilter(JoinBetween("a", "b"));
  EXPECT_EQ(TreeText(filter.get()), "(b.K = NULL)");
}

TEST_F(ReductionTest, JoinFilterAfterTheJoinWasReversed) {
  Fill("a", 6);
  Fill("b", 2);
  AddSource("a");
  AddSource("b");
  SetWhere({{"a.K > b.K"}});
  Reduce();
  VerifyJoinConditions();
  Query().OptimizeTableJoins();
  ASSERT_EQ(SourceOrder(), (std::vector<std::string>{"b", "a"}));
  TTableJoin& join = JoinBetween("b", "a");
  EXPECT_EQ(TreeText(join.Condition.get()), "(b.K < a.K)");
  LoadRow(Source("b"), 2);
  EXPECT_EQ(TreeText(Query().BuildNextJoinFilter(join).get()), "(a.K > 2)");
  EXPECT_EQ(Query().BuildNextJoinFilter(TTableJoin{}), nullptr) << "a default join has no filter";
}

// --- HAVING --------------------------------------------------------------------------------

class HavingReductionTest : public ReductionTest {
 protected:
  void SetUp() override {
    ReductionTest::SetUp();
    AddResultField("A", rcNone, dtInteger, 4);
    AddResultField("SUM(B)", rcSum, dtInteger, 4, "Sum Of B");
    AddResultField("COUNT(*)", rcCount, dtInteger, 4, "Count Of *");
    AddResultField("MIN(N)", rcMin, dtString, 11, "Min Of N");
  }

  void AddResultField(const std::string& text, TResultCalculation calculation, std::uint8_t type, std::int32_t size,
                      const std::string& name = "") {
    TResultField field;
    field.Calculation = calculation;
    field.ExpressionText = text;
    field.Expression = Parse(text, pmAllowAggregates | pmAllowAllFields);
    field.Number = static_cast<std::uint16_t>(Query().ResultFields.size() + 1);
    field.Name = name.empty() ? text : name;
    field.DataType = type;
    field.Size = size;
    Query().ResultFields.push_back(std::move(field));
  }

  void SetHaving(const std::string& text) {
    Query().HavingTree = Parse(text, pmAllowAggregates | pmAllowAllFields);
    Query().HasHaving = true;
  }
};

TEST_F(HavingReductionTest, AggregatesBecomeResultColumns) {
  SetHaving("SUM(b) > 5 AND (COUNT(*) < 4 OR MIN(N) = 'x') AND A = 1");
  Query().ReduceHavingExpression();
  EXPECT_EQ(TreeText(Query().HavingTree.get()),
            "(((Sum Of B > 5) AND ((Count Of * < 4) OR (Min Of N = 'x'))) AND (A = 1))");
  const TExpToken& sum = *Query().HavingTree->Left->Left->Left;
  EXPECT_EQ(sum.NodeClass, enFIELD);
  EXPECT_EQ(sum.FieldName, "Sum Of B");
  EXPECT_EQ(sum.FieldNumber, 2);
  EXPECT_EQ(sum.Source, nullptr);
  EXPECT_TRUE(sum.TableName.empty());
  EXPECT_TRUE(sum.Arguments.empty());
  EXPECT_EQ(sum.DataType, dtInteger);
  const TExpToken& count = *Query().HavingTree->Left->Right->Left->Left;
  EXPECT_EQ(count.FieldNumber, 3);
  const TExpToken& min = *Query().HavingTree->Left->Right->Right->Left;
  EXPECT_EQ(min.FieldNumber, 4);
  EXPECT_EQ(min.DataType, dtString);
  EXPECT_EQ(min.DataSize, 11);
  // A plain column is no aggregate: it stays as it was written.
  const TExpToken& plain = *Query().HavingTree->Right->Left;
  EXPECT_EQ(plain.FieldName, "A");
  EXPECT_EQ(plain.FieldNumber, 0);
}

TEST_F(HavingReductionTest, ReducedTreeIsEvaluatedOnResultRecords) {
  db_.CreateTable("r",
                  {{"A", dtInteger}, {"Sum Of B", dtInteger}, {"Count Of *", dtInteger}, {"Min Of N", dtString, 10}});
  db_.Insert("r", {{std::int64_t{1}, std::int64_t{7}, std::int64_t{3}, "m"},
                   {std::int64_t{2}, std::int64_t{9}, std::int64_t{8}, "x"},
                   {std::int64_t{3}, std::int64_t{2}, std::int64_t{1}, "x"}});
  SetHaving("SUM(B) > 5 AND (COUNT(*) < 4 OR MIN(N) = 'x')");
  Query().ReduceHavingExpression();
  TDataCursor result(db_.Directory());
  result.SetTableName("r");
  result.OpenCursor();
  std::vector<std::uint8_t> record(result.GetRecordBufferSize());
  std::vector<bool> kept;
  result.SetToBegin();
  while (result.GetNextRecord(record.data()) == 0) {
    TExpTokenPtr value = EvaluateExpressionToken(*Query().HavingTree, record.data(), result.EvaluationContext(),
                                                 result.FieldCallback(), 0, 0);
    std::uint16_t truth = 0;
    std::memcpy(&truth, value->ValueData(), 2);
    kept.push_back(!value->IsNull && truth != 0);
  }
  EXPECT_EQ(kept, (std::vector<bool>{true, true, false}));
}

TEST_F(HavingReductionTest, AggregateMissingFromTheSelectList) {
  const char* const missing[] = {"SUM(C) > 1", "MAX(B) > 1", "SUM(B + 1) > 1", "A = 1 AND AVG(B) > 2", "COUNT(B) > 0"};
  for (const char* text : missing) {
    SCOPED_TRACE(text);
    SetHaving(text);
    EXPECT_EQ(ErrorTextOf([&] { Query().ReduceHavingExpression(); }),
              "Expression in HAVING clause not found in source columns");
  }
}

}  // namespace
}  // namespace tarn::sql_testing
