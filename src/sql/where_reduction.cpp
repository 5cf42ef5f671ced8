// WHERE and HAVING reduction. The query's single WHERE tree (every ON
// condition and the WHERE condition joined by AND) is taken apart: comparisons
// between columns of two tables become joins between source tables,
// functions and predicates over several tables go to the per-row scan
// expression, and what stays refers to one table per part (the filters of
// execution). Then the default (cross product) joins are reduced, the source
// list is put in join order, and HAVING aggregates become references to the
// result columns holding them. Join optimisation and join filters live in
// join_planning.cpp.
#include <algorithm>
#include <string>
#include <vector>

#include "core/errors.h"
#include "expressions/exp_tree.h"
#include "expressions/expression_verifier.h"
#include "platform/code_page.h"
#include "sql/data_query.h"

namespace tarn {

namespace {

constexpr std::string_view kMultipleNamesInJoin =
    "The join condition cannot contain multiple table correlation names in either the left or right operand in "
    "WHERE or JOIN clause";
constexpr std::string_view kJoinValidationError =
    "Internal join error attempting to validate table correlation names involved in join";
constexpr std::string_view kTableFilterError = "Internal table filter error";
constexpr std::string_view kHavingNotFound = "Expression in HAVING clause not found in source columns";

[[noreturn]] void RaiseSql(std::string_view message) { RaiseError(TARN_SQLPARSE, {}, {}, {}, {}, {}, {}, message); }

bool IsComparison(const TExpToken& node) {
  return node.NodeClass == enBINARY && node.Operator >= eoEQ && node.Operator <= eoLE && node.Left && node.Right;
}

bool IsAggregate(const TExpToken& node) {
  if (node.NodeClass != enFUNC) return false;
  switch (node.Operator) {
    case eoSUM:
    case eoRUNSUM:
    case eoCOUNT:
    case eoMIN:
    case eoMAX:
    case eoAVG:
      return true;
    default:
      return false;
  }
}

// Calls visit for every node of the subtree, the root first, without
// recursion (WHERE trees may be long chains).
template <typename Visit>
void ForEachNode(const TExpToken* root, Visit visit) {
  std::vector<const TExpToken*> pending;
  if (root != nullptr) pending.push_back(root);
  while (!pending.empty()) {
    const TExpToken* node = pending.back();
    pending.pop_back();
    if (!visit(*node)) return;
    for (auto it = node->Arguments.rbegin(); it != node->Arguments.rend(); ++it)
      if (*it) pending.push_back(it->get());
    if (node->ThirdOperand) pending.push_back(node->ThirdOperand.get());
    if (node->Right) pending.push_back(node->Right.get());
    if (node->Left) pending.push_back(node->Left.get());
  }
}

// Sets every Parent link below root (root's own to parent).
void LinkParents(TExpToken* root, TExpToken* parent) {
  if (root == nullptr) return;
  root->Parent = parent;
  std::vector<TExpToken*> pending{root};
  while (!pending.empty()) {
    TExpToken* node = pending.back();
    pending.pop_back();
    auto link = [&](TExpTokenPtr& operand) {
      if (!operand) return;
      operand->Parent = node;
      pending.push_back(operand.get());
    };
    link(node->Left);
    link(node->Right);
    link(node->ThirdOperand);
    for (auto& argument : node->Arguments) link(argument);
  }
}

// A comparison whose sides belong to an outer join (ON of LEFT or RIGHT JOIN).
bool ContainsOuterJoinCondition(const TExpToken* root) {
  bool found = false;
  ForEachNode(root, [&](const TExpToken& node) {
    found = node.JoinType == jtLeftOuter || node.JoinType == jtRightOuter;
    return !found;
  });
  return found;
}

// The correlation names the columns of a subtree refer to, each once, in the
// order met: a qualified column's own name, an unqualified column's table
// (none when no source table has such a column; verification reports it).
std::vector<std::string> CorrelationNamesOf(const TDataQuery& query, const TExpToken* root) {
  std::vector<std::string> names;
  ForEachNode(root, [&](const TExpToken& node) {
    if (node.NodeClass != enFIELD) return true;
    std::string name = node.TableName;
    if (name.empty()) {
      const TSourceTable* source = query.FindColumnSource(node);
      if (source == nullptr) return true;
      name = source->CorrelationName;
    }
    const bool known =
        std::any_of(names.begin(), names.end(), [&](const std::string& n) { return AnsiSameText(n, name); });
    if (!known) names.push_back(std::move(name));
    return true;
  });
  return names;
}

// Every qualified column must name a table of FROM.
void CheckCorrelationNames(const TDataQuery& query, const TExpToken& root) {
  ForEachNode(&root, [&](const TExpToken& node) {
    if (node.NodeClass == enFIELD && !node.TableName.empty() && query.FindSourceTable(node.TableName) == nullptr) {
      RaiseSql("Table correlation name '" + node.TableName + "'" +
               " referenced in WHERE clause is not defined in the FROM clause");
    }
    return true;
  });
}

// The join with a condition from outer to inner, if any.
bool HasConditionJoin(const TSourceTable& outer, const TSourceTable& inner) {
  return std::any_of(outer.Joins.begin(), outer.Joins.end(),
                     [&](const auto& join) { return join->Inner == &inner && join->Type != jtNone; });
}

bool IsConditionTarget(const std::vector<std::unique_ptr<TSourceTable>>& sources, const TSourceTable& table) {
  return std::any_of(sources.begin(), sources.end(),
                     [&](const auto& source) { return HasConditionJoin(*source, table); });
}

// Whether to is reached from from through joins with a condition.
bool ReachesThroughConditions(const TSourceTable& from, const TSourceTable& to) {
  std::vector<const TSourceTable*> pending{&from};
  std::vector<const TSourceTable*> seen;
  while (!pending.empty()) {
    const TSourceTable* table = pending.back();
    pending.pop_back();
    if (table == &to) return true;
    if (std::find(seen.begin(), seen.end(), table) != seen.end()) continue;
    seen.push_back(table);
    for (const auto& join : table->Joins)
      if (join->Type != jtNone) pending.push_back(join->Inner);
  }
  return false;
}

// The tables reached from root through every join, root included.
std::vector<TSourceTable*> ReachedFrom(TSourceTable& root) {
  std::vector<TSourceTable*> reached{&root};
  for (std::size_t i = 0; i < reached.size(); ++i) {
    for (const auto& join : reached[i]->Joins) {
      if (std::find(reached.begin(), reached.end(), join->Inner) == reached.end()) reached.push_back(join->Inner);
    }
  }
  return reached;
}

}  // namespace

void MirrorComparison(TExpToken& node) {
  std::swap(node.Left, node.Right);
  switch (node.Operator) {
    case eoLT:
      node.Operator = eoGT;
      node.Text = ">";
      break;
    case eoGT:
      node.Operator = eoLT;
      node.Text = "<";
      break;
    case eoLE:
      node.Operator = eoGE;
      node.Text = "> =";
      break;
    case eoGE:
      node.Operator = eoLE;
      node.Text = "< =";
      break;
    default:  // = and <> read the same both ways
      break;
  }
}

// --- join orders -------------------------------------------------------------------

void TSourceTable::BumpJoinOrders() {
  std::vector<TSourceTable*> pending{this};
  std::vector<const TSourceTable*> seen;
  while (!pending.empty()) {
    TSourceTable* table = pending.back();
    pending.pop_back();
    // A ring of join conditions (reported later as a table joined twice)
    // must not renumber forever.
    if (std::find(seen.begin(), seen.end(), table) != seen.end()) continue;
    seen.push_back(table);
    for (const auto& join : table->Joins) {
      if (join->Type == jtNone) continue;
      if (join->Inner->JoinOrder <= table->JoinOrder) join->Inner->JoinOrder = table->JoinOrder + 1;
      pending.push_back(join->Inner);
    }
  }
}

void TDataQuery::SetupDefaultTableJoins() {
  for (std::size_t i = 0; i + 1 < SourceTables.size(); ++i)
    SourceTables[i]->AddJoin(jtNone, nullptr, *SourceTables[i + 1], eoNOTDEFINED);
}

// --- WHERE reduction -------------------------------------------------------------------

void TDataQuery::ReduceWhereExpression() {
  if (!WhereTree) return;
  ReduceNextWhereExpressionToken(WhereTree, nullptr);
  LinkParents(WhereTree.get(), nullptr);
}

// The walk keeps its pending nodes on a list instead of recursing. A node is
// met twice when its operands are reduced: first to decide and to queue the
// operands, then (Combine) to keep what is left of them.
//
// Under a NOT nothing leaves the tree: a join condition or a scan part taken
// out from below a NOT would lose the negation, so such parts stay where they
// are and the whole NOT part, referring to several tables, is evaluated per
// combined row.
void TDataQuery::ReduceNextWhereExpressionToken(TExpTokenPtr& slot, TExpToken* parent) {
  struct TStep {
    TExpTokenPtr* Slot;
    TExpToken* Parent;
    bool UnderNot;
    bool SingleTable;  // the subtree is known to refer to one table at most
    bool Combine;
  };
  std::vector<TStep> steps{{&slot, parent, false, false, false}};
  while (!steps.empty()) {
    const TStep step = steps.back();
    steps.pop_back();
    TExpToken* node = step.Slot->get();
    if (node == nullptr) continue;
    const TExpOperator parentOperator = step.Parent != nullptr ? step.Parent->Operator : eoNOTDEFINED;

    if (step.Combine) {
      // Both operands gone: the node goes; one gone: the other takes its place.
      if (!node->Left && !node->Right) {
        step.Slot->reset();
      } else if (node->NodeClass == enBINARY && (!node->Left || !node->Right)) {
        TExpTokenPtr rest = std::move(node->Left ? node->Left : node->Right);
        rest->Parent = step.Parent;
        *step.Slot = std::move(rest);
      }
      continue;
    }

    node->Parent = step.Parent;
    const bool isNot = node->NodeClass == enUNARY && node->Operator == eoNOT;
    const bool isAndOr = node->NodeClass == enBINARY && (node->Operator == eoAND || node->Operator == eoOR);
    if (isNot || isAndOr) {
      // A disjunction over several tables cannot be split into parts of one
      // table each: it stays whole (and is evaluated per combined row). Outer
      // join conditions are taken apart all the same, since they must become
      // joins. The tables are only counted for a disjunction (a long AND
      // chain is not walked again at every link), and a subtree found to
      // refer to one table is not counted again below.
      const bool disjunction = ContainsOrs(node);
      const bool several = disjunction && !step.SingleTable && ContainsMultipleDataSources(node);
      if (several && !(isNot && step.UnderNot) && !ContainsOuterJoinCondition(node)) {
        CheckCorrelationNames(*this, *node);
        continue;
      }
      const bool singleTable = step.SingleTable || (disjunction && !several);
      steps.push_back({step.Slot, step.Parent, step.UnderNot, singleTable, true});
      const bool underNot = step.UnderNot || isNot;
      if (node->Right) steps.push_back({&node->Right, node, underNot, singleTable, false});
      if (node->Left) steps.push_back({&node->Left, node, underNot, singleTable, false});
      continue;
    }

    if (IsComparison(*node)) {
      const bool leftColumns = ContainsFields(node->Left.get());
      const bool rightColumns = ContainsFields(node->Right.get());
      // The column goes to the left (1 = a.x reads a.x = 1).
      if (!leftColumns && rightColumns) MirrorComparison(*node);
      if (leftColumns && rightColumns && HasJoins) {
        const std::vector<std::string> leftNames = CorrelationNamesOf(*this, node->Left.get());
        const std::vector<std::string> rightNames = CorrelationNamesOf(*this, node->Right.get());
        if (leftNames.size() > 1 || rightNames.size() > 1) RaiseSql(kMultipleNamesInJoin);
        if (leftNames.size() == 1 && rightNames.size() == 1 && !AnsiSameText(leftNames[0], rightNames[0])) {
          TSourceTable* leftTable = FindSourceTable(leftNames[0]);
          TSourceTable* rightTable = FindSourceTable(rightNames[0]);
          if (leftTable == nullptr || rightTable == nullptr) RaiseSql(kJoinValidationError);
          if (!step.UnderNot) MakeJoinCondition(*step.Slot, step.Parent, *leftTable, *rightTable);
          continue;
        }
      }
      CheckCorrelationNames(*this, *node);
      // A comparison of one table's columns with a value must come from one
      // table: a filter cannot serve a.k + b.k = 3.
      if (HasJoins && !step.UnderNot && !step.SingleTable && ContainsMultipleDataSources(node))
        RaiseSql(kTableFilterError);
      continue;
    }

    if ((node->NodeClass == enFUNC || node->NodeClass == enEXTBINARY) && !step.SingleTable && !step.UnderNot &&
        ContainsMultipleDataSources(node)) {
      CheckCorrelationNames(*this, *node);
      LinkParents(node, nullptr);
      AddScanTokens(std::move(*step.Slot), parentOperator);
      continue;
    }
    CheckCorrelationNames(*this, *node);
  }
}

// Which table is the outer one: the left side's, unless the right side's
// table is already joined to it or already the inner table of a join
// condition (a table is reached by at most one join condition), or comes
// earlier in the join order. An inner join whose left table is already
// reached by a join condition keeps it as the outer table and puts the
// right side's table behind it instead, unless that would close a ring.
void TDataQuery::MakeJoinCondition(TExpTokenPtr& slot, TExpToken* parent, TSourceTable& leftTable,
                                   TSourceTable& rightTable) {
  TExpToken& node = *slot;
  TJoinType type = node.JoinType;
  // A WHERE comparison joins inner; a RIGHT JOIN's table was put first in the
  // source list when parsed, so it reads as a left outer join from there.
  if (type == jtNone) type = jtInner;
  if (type == jtRightOuter) type = jtLeftOuter;
  node.JoinType = type;

  bool swap = false;
  if (HasConditionJoin(rightTable, leftTable)) {
    swap = true;
  } else if (HasConditionJoin(leftTable, rightTable)) {
    swap = false;
  } else {
    const bool leftJoined = IsConditionTarget(SourceTables, leftTable);
    const bool rightJoined = IsConditionTarget(SourceTables, rightTable);
    if (rightJoined && !leftJoined) {
      swap = !ReachesThroughConditions(leftTable, rightTable);
    } else if (rightTable.JoinOrder < leftTable.JoinOrder) {
      const bool pushRightBehind =
          type == jtInner && leftJoined && !rightJoined && !ReachesThroughConditions(rightTable, leftTable);
      swap = !pushRightBehind;
    }
  }
  if (swap) MirrorComparison(node);
  TSourceTable& outer = swap ? rightTable : leftTable;
  TSourceTable& inner = swap ? leftTable : rightTable;

  const TExpOperator parentOperator = parent != nullptr ? parent->Operator : eoNOTDEFINED;
  LinkParents(&node, nullptr);
  outer.AddJoin(type, std::move(slot), inner, parentOperator);
  if (inner.JoinOrder <= outer.JoinOrder) inner.JoinOrder = outer.JoinOrder + 1;
  inner.BumpJoinOrders();
}

// --- default joins and the join order ------------------------------------------------

void TDataQuery::ReduceDefaultTableJoins() {
  // A table is reached by one join condition at most: the combined rows are
  // read along a tree of joins.
  for (const auto& source : SourceTables) {
    for (const auto& join : source->Joins) {
      if (join->Type == jtNone) continue;
      std::size_t conditions = 0;
      for (const auto& other : SourceTables) {
        conditions +=
            static_cast<std::size_t>(std::count_if(other->Joins.begin(), other->Joins.end(), [&](const auto& j) {
              return j->Type != jtNone && j->Inner == join->Inner;
            }));
      }
      if (conditions > 1) {
        RaiseSql(std::string("Internal join error - table correlation name") + " " + "\"" +
                 join->Inner->CorrelationName + "\"" + " is target of multiple " +
                 "join conditions in WHERE or JOIN clause");
      }
    }
  }
  if (SourceTables.empty()) return;

  // A cross product is not needed to reach a table a join condition reaches.
  for (const auto& source : SourceTables) {
    std::erase_if(source->Joins, [&](const auto& join) {
      return join->Type == jtNone && IsConditionTarget(SourceTables, *join->Inner);
    });
  }

  // The table with the lowest join order drives (the first in the list on
  // ties): nothing joins to it. This is the table with order 1 unless that
  // one was itself put behind another by a join condition.
  TSourceTable* driver = std::min_element(SourceTables.begin(), SourceTables.end(), [](const auto& a, const auto& b) {
                           return a->JoinOrder < b->JoinOrder;
                         })->get();
  for (const auto& source : SourceTables) {
    std::erase_if(source->Joins, [&](const auto& join) { return join->Type == jtNone && join->Inner == driver; });
  }

  // A join condition read the other way round can leave a group of tables
  // that only reach each other (their cross product link to the rest now
  // points into the group). Such a group is joined to the driving table as a
  // cross product again, at a table no join condition reaches.
  for (std::vector<TSourceTable*> reached = ReachedFrom(*driver); reached.size() < SourceTables.size();
       reached = ReachedFrom(*driver)) {
    TSourceTable* detached = nullptr;
    for (const auto& source : SourceTables) {
      if (std::find(reached.begin(), reached.end(), source.get()) != reached.end()) continue;
      if (IsConditionTarget(SourceTables, *source)) continue;
      detached = source.get();
      break;
    }
    if (detached == nullptr) RaiseSql(kJoinValidationError);
    for (const auto& source : SourceTables) {
      std::erase_if(source->Joins, [&](const auto& join) { return join->Inner == detached; });
    }
    driver->AddJoin(jtNone, nullptr, *detached, eoNOTDEFINED);
  }

  // Each table comes after the table it is joined from, so that the source
  // list in join order reads every outer table before its inner tables.
  const std::vector<TSourceTable*> reached = ReachedFrom(*driver);
  for (TSourceTable* table : reached) {
    for (const auto& join : table->Joins) {
      if (join->Inner->JoinOrder <= table->JoinOrder) join->Inner->JoinOrder = table->JoinOrder + 1;
    }
  }
}

void TDataQuery::SortJoinOrders() {
  // Equal orders keep their source list order.
  std::stable_sort(SourceTables.begin(), SourceTables.end(),
                   [](const auto& a, const auto& b) { return a->JoinOrder < b->JoinOrder; });
  int order = 0;
  for (const auto& source : SourceTables) source->JoinOrder = ++order;
}

// --- HAVING ----------------------------------------------------------------------------

// Every aggregate in the HAVING tree becomes a column node of the result
// table: FieldNumber is the result column's number, Source is null and
// TableName empty, so the tree is evaluated with a result record as the row
// (the result cursor's field callback reads the column by its number). Name,
// type, sub type, size and decimals are the result column's.
void TDataQuery::ReduceHavingExpression() {
  std::vector<TExpToken*> pending;
  if (HavingTree) pending.push_back(HavingTree.get());
  while (!pending.empty()) {
    TExpToken* node = pending.back();
    pending.pop_back();
    if (IsAggregate(*node)) {
      const auto column = std::find_if(ResultFields.begin(), ResultFields.end(), [&](const TResultField& field) {
        return field.Calculation != rcNone && field.Expression && CompareExpressionTokens(field.Expression.get(), node);
      });
      if (column == ResultFields.end()) RaiseSql(kHavingNotFound);
      node->ReleaseOperands();
      node->NodeClass = enFIELD;
      node->Operator = eoNOTDEFINED;
      node->Text = column->Name;
      node->FieldName = column->Name;
      node->TableName.clear();
      node->FieldNumber = column->Number;
      node->Source = nullptr;
      node->DataType = column->DataType;
      node->SubType = column->SubType;
      node->DataSize = column->Size;
      node->Decimals = column->Decimals;
      node->IsNull = false;
      continue;
    }
    for (auto& argument : node->Arguments)
      if (argument) pending.push_back(argument.get());
    if (node->ThirdOperand) pending.push_back(node->ThirdOperand.get());
    if (node->Right) pending.push_back(node->Right.get());
    if (node->Left) pending.push_back(node->Left.get());
  }
}

}  // namespace tarn
