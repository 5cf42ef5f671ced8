// Join planning: the choice of the driving table by record counts once the
// first filters are in place (the chain of inner joins down to the smallest
// table is reversed), and the join filter built for each row of an outer
// table, which an index of the inner table can serve. The joins themselves
// come from the WHERE reduction (where_reduction.cpp).
#include <algorithm>
#include <string>
#include <vector>

#include "core/errors.h"
#include "expressions/exp_tree.h"
#include "expressions/expression_verifier.h"
#include "expressions/filter_preparation.h"
#include "sql/data_query.h"

namespace tarn {

namespace {

constexpr std::string_view kJoinOptimizationError = " Internal join optimization error";

[[noreturn]] void RaiseSql(std::string_view message) { RaiseError(TARN_SQLPARSE, {}, {}, {}, {}, {}, {}, message); }

bool IsComparison(const TExpToken& node) {
  return node.NodeClass == enBINARY && node.Operator >= eoEQ && node.Operator <= eoLE && node.Left && node.Right;
}

bool IsLogical(const TExpToken& node) {
  return (node.NodeClass == enBINARY && (node.Operator == eoAND || node.Operator == eoOR)) ||
         (node.NodeClass == enUNARY && node.Operator == eoNOT);
}

// The comparisons of a join condition: the nodes reached from the root
// through AND, OR and NOT only.
std::vector<TExpToken*> ConditionComparisons(TExpToken* root) {
  std::vector<TExpToken*> comparisons;
  std::vector<TExpToken*> pending;
  if (root != nullptr) pending.push_back(root);
  while (!pending.empty()) {
    TExpToken* node = pending.back();
    pending.pop_back();
    if (IsComparison(*node)) {
      comparisons.push_back(node);
    } else if (IsLogical(*node)) {
      if (node->Right) pending.push_back(node->Right.get());
      if (node->Left) pending.push_back(node->Left.get());
    }
  }
  return comparisons;
}

bool ContainsTuple(const TExpToken* root) {
  std::vector<const TExpToken*> pending{root};
  while (!pending.empty()) {
    const TExpToken* node = pending.back();
    pending.pop_back();
    if (node == nullptr) continue;
    if (node->NodeClass == enTUPLE) return true;
    pending.push_back(node->Left.get());
    pending.push_back(node->Right.get());
    pending.push_back(node->ThirdOperand.get());
    for (const auto& argument : node->Arguments) pending.push_back(argument.get());
  }
  return false;
}

bool IsInnerJoin(const TTableJoin& join) { return join.Type == jtInner; }

// The path of joins from the driving table (the first in the list) down to
// table, top first; empty when table is not reached.
std::vector<TTableJoin*> JoinPathTo(TSourceTable& driver, const TSourceTable& table) {
  struct TVisit {
    TSourceTable* Table;
    TTableJoin* Via;   // the join that reached it
    std::size_t From;  // index of the visit it was reached from
  };
  std::vector<TVisit> visits{{&driver, nullptr, 0}};
  for (std::size_t i = 0; i < visits.size(); ++i) {
    if (visits[i].Table == &table) {
      std::vector<TTableJoin*> path;
      for (std::size_t at = i; visits[at].Via != nullptr; at = visits[at].From) path.push_back(visits[at].Via);
      std::reverse(path.begin(), path.end());
      return path;
    }
    for (const auto& join : visits[i].Table->Joins) {
      const bool seen =
          std::any_of(visits.begin(), visits.end(), [&](const TVisit& v) { return v.Table == join->Inner; });
      if (!seen) visits.push_back({join->Inner, join.get(), i});
    }
  }
  return {};
}

}  // namespace

bool TDataQuery::CanOptimizeTableJoins() const {
  if (NoJoinOptimize || SourceTables.size() < 2) return false;
  return std::any_of(SourceTables.begin(), SourceTables.end(), [](const auto& source) {
    return std::any_of(source->Joins.begin(), source->Joins.end(), [](const auto& j) { return IsInnerJoin(*j); });
  });
}

// The candidates are the inner tables of inner joins whose outer table is
// not itself the inner table of an outer join. The joins from the driving
// table down to a candidate must all be inner (or cross product) joins: an
// outer join read the other way round would give other rows. For UPDATE and
// DELETE the changed table keeps driving: neither it nor a table its inner
// joins reach is taken. Among the candidates the one with the fewest records
// (as filtered; the first in the list on ties) drives when it has fewer
// records than the driving table.
void TDataQuery::OptimizeTableJoins() {
  if (!CanOptimizeTableJoins()) return;
  TSourceTable& driver = *SourceTables.front();
  if (!driver.Cursor) return;

  std::vector<const TSourceTable*> keepOut;
  if (DataChangeTarget != nullptr) {
    keepOut.push_back(DataChangeTarget);
    for (std::size_t i = 0; i < keepOut.size(); ++i) {
      for (const auto& join : keepOut[i]->Joins) {
        if (IsInnerJoin(*join) && std::find(keepOut.begin(), keepOut.end(), join->Inner) == keepOut.end())
          keepOut.push_back(join->Inner);
      }
    }
  }

  TSourceTable* best = nullptr;
  std::int32_t bestCount = 0;
  for (const auto& source : SourceTables) {
    TSourceTable& table = *source;
    if (&table == &driver || !table.Cursor) continue;
    if (std::find(keepOut.begin(), keepOut.end(), &table) != keepOut.end()) continue;
    bool innerJoined = false;
    for (const auto& outer : SourceTables) {
      for (const auto& join : outer->Joins) {
        if (join->Inner == &table && IsInnerJoin(*join) && !IsTargetOfOuterJoin(*outer)) innerJoined = true;
      }
    }
    if (!innerJoined) continue;
    const std::vector<TTableJoin*> path = JoinPathTo(driver, table);
    if (path.empty()) continue;
    if (!std::all_of(path.begin(), path.end(),
                     [](const TTableJoin* j) { return j->Type == jtInner || j->Type == jtNone; }))
      continue;
    const std::int32_t count = table.Cursor->GetRecordCount();
    if (best == nullptr || count < bestCount) {
      best = &table;
      bestCount = count;
    }
  }
  if (best == nullptr || bestCount >= driver.Cursor->GetRecordCount()) return;

  FlipJoins(*best);
  int order = 0;
  for (const auto& source : SourceTables) source->JoinOrder = ++order;
}

// Reverses the joins on the path from the driving table down to table, from
// the top: each reversal makes the inner table the outer one and puts it in
// front of its former outer table in the source list, so table ends first.
void TDataQuery::FlipJoins(TSourceTable& table) {
  if (SourceTables.empty()) RaiseSql(kJoinOptimizationError);
  const std::vector<TTableJoin*> path = JoinPathTo(*SourceTables.front(), table);
  if (path.empty()) RaiseSql(kJoinOptimizationError);
  for (TTableJoin* join : path) FlipJoin(*join);
}

void TDataQuery::FlipJoin(TTableJoin& join) {
  TSourceTable* outer = join.Outer;
  TSourceTable* inner = join.Inner;
  if (outer == nullptr || inner == nullptr) RaiseSql(kJoinOptimizationError);
  const auto entry =
      std::find_if(outer->Joins.begin(), outer->Joins.end(), [&](const auto& j) { return j.get() == &join; });
  const auto outerAt =
      std::find_if(SourceTables.begin(), SourceTables.end(), [&](const auto& s) { return s.get() == outer; });
  const auto innerAt =
      std::find_if(SourceTables.begin(), SourceTables.end(), [&](const auto& s) { return s.get() == inner; });
  if (entry == outer->Joins.end() || outerAt == SourceTables.end() || innerAt == SourceTables.end())
    RaiseSql(kJoinOptimizationError);

  // A join filter belongs to the cursor it was placed on, the former inner one.
  if (join.FilterHandle != 0 && inner->Cursor) {
    inner->Cursor->DropFilter(join.FilterHandle);
    join.FilterHandle = 0;
  }
  std::unique_ptr<TTableJoin> moved = std::move(*entry);
  outer->Joins.erase(entry);
  moved->Outer = inner;
  moved->Inner = outer;
  for (TExpToken* comparison : ConditionComparisons(moved->Condition.get())) MirrorComparison(*comparison);
  inner->Joins.push_back(std::move(moved));

  if (innerAt > outerAt) std::rotate(outerAt, innerAt, innerAt + 1);
}

// The join condition for the outer table's current row: in each comparison
// the inner table's side goes to the left (the operator mirrored when it was
// on the right) and the outer side is computed once from the outer row into
// a constant; column-free function arguments of the inner side are computed
// once too. AND, OR and NOT stay as they are. The tree must have been
// verified (its columns know their source tables).
TExpTokenPtr TDataQuery::BuildNextJoinFilter(const TTableJoin& join) {
  if (!join.Condition) return {};
  TExpTokenPtr filter = CopyExpressionTokens(join.Condition.get());
  filter->Parent = nullptr;

  auto refersToInner = [&](const TExpToken* side) {
    bool found = false;
    std::vector<const TExpToken*> pending{side};
    while (!pending.empty() && !found) {
      const TExpToken* node = pending.back();
      pending.pop_back();
      if (node == nullptr) continue;
      if (node->NodeClass == enFIELD) {
        const auto* source =
            node->Source != nullptr ? static_cast<const TSourceTable*>(node->Source) : FindColumnSource(*node);
        found = source == join.Inner;
      }
      pending.push_back(node->Left.get());
      pending.push_back(node->Right.get());
      pending.push_back(node->ThirdOperand.get());
      for (const auto& argument : node->Arguments) pending.push_back(argument.get());
    }
    return found;
  };
  auto computeOnce = [&](const TExpToken& reference, const TExpToken& node, TExpToken* parent) {
    TExpTokenPtr value = EvaluateConstant(reference, node, this, SortID, LanguageID, &EvaluateExpressionFieldData);
    value->Parent = parent;
    return value;
  };

  for (TExpToken* comparison : ConditionComparisons(filter.get())) {
    const bool leftInner = refersToInner(comparison->Left.get());
    const bool rightInner = refersToInner(comparison->Right.get());
    // A side with columns of both tables (never made by the reduction) is
    // left to be evaluated per record.
    if (leftInner == rightInner) continue;
    if (rightInner) MirrorComparison(*comparison);
    comparison->Right = computeOnce(*comparison->Left, *comparison->Right, comparison);

    std::vector<TExpToken*> pending{comparison->Left.get()};
    while (!pending.empty()) {
      TExpToken* node = pending.back();
      pending.pop_back();
      if (node == nullptr) continue;
      if (node->NodeClass == enFUNC) {
        for (auto& argument : node->Arguments) {
          if (!argument || argument->NodeClass == enCONST || argument->NodeClass == enTUPLE ||
              ContainsFields(argument.get()) || ContainsTuple(argument.get()))
            continue;
          argument = computeOnce(*argument, *argument, node);
        }
      }
      pending.push_back(node->Left.get());
      pending.push_back(node->Right.get());
      pending.push_back(node->ThirdOperand.get());
      for (const auto& argument : node->Arguments) pending.push_back(argument.get());
    }
  }
  return filter;
}

}  // namespace tarn
