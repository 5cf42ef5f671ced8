// The filter optimiser (see filter_optimizer.h).
#include "cursor/filter_optimizer.h"

#include <cmath>
#include <vector>

#include "cursor/filter.h"
#include "expressions/exp_tree.h"
#include "platform/locale_services.h"
#include "storage/formats/data_types.h"

namespace tarn {

namespace {

// Bitmap builds and counts start over when the index changes underneath;
// after this many attempts the count is given up (the node is then
// evaluated record by record, which is always right).
constexpr int kCountAttempts = 16;

class TIndexPositionGuard {
 public:
  explicit TIndexPositionGuard(TFilterSource& source) : source_(source), position_(source.FilterIndexPosition()) {}
  ~TIndexPositionGuard() { source_.RestoreFilterIndexPosition(position_); }
  TIndexPositionGuard(const TIndexPositionGuard&) = delete;
  TIndexPositionGuard& operator=(const TIndexPositionGuard&) = delete;

 private:
  TFilterSource& source_;
  std::uint8_t position_;
};

bool IsConstant(const TExpToken* node) {
  return node != nullptr && node->NodeClass == enCONST && !node->IsParameter;
}

bool IsOrdering(TExpOperator op) { return op == eoGT || op == eoLT || op == eoGE || op == eoLE; }

void SetAllNone(TExpToken* root) {
  std::vector<TExpToken*> pending{root};
  while (!pending.empty()) {
    TExpToken* node = pending.back();
    pending.pop_back();
    if (node == nullptr) continue;
    node->OptimizeLevel = olNone;
    pending.push_back(node->Left.get());
    pending.push_back(node->Right.get());
    for (auto& argument : node->Arguments) pending.push_back(argument.get());
  }
}

class TOptimizer {
 public:
  TOptimizer(TFilterSource& source, bool countCheck) : source_(source), countCheck_(countCheck) {}

  // The level of the node, each node's level written into it. Unary and
  // AND / OR operands wait on a list of steps instead of recursing, so
  // chains of any length are optimised with a flat stack.
  TOptimizeLevel Level(TExpOperator parent, TExpToken& root) {
    struct TStep {
      TExpToken* node;
      TExpOperator parent;
      int stage;  // operands pushed so far
    };
    std::vector<TStep> steps{{&root, parent, 0}};
    while (!steps.empty()) {
      TStep& step = steps.back();
      TExpToken& node = *step.node;
      const bool unary = node.NodeClass == enUNARY && node.Left &&
                         (node.Operator == eoNOT || node.Operator == eoMINUS || node.Operator == eoPLUS);
      const bool binary = node.NodeClass == enBINARY && node.Left && node.Right &&
                          (node.Operator == eoAND || node.Operator == eoOR);
      if (unary) {
        if (step.stage == 0) {
          step.stage = 1;
          steps.push_back({node.Left.get(), node.Operator, 0});
          continue;
        }
        node.OptimizeLevel = node.Left->OptimizeLevel;
      } else if (binary) {
        if (step.stage < 2) {
          TExpToken* operand = step.stage == 0 ? node.Left.get() : node.Right.get();
          ++step.stage;
          steps.push_back({operand, node.Operator, 0});
          continue;
        }
        node.OptimizeLevel = Combine(node);
      } else {
        node.OptimizeLevel = Compute(step.parent, node);
      }
      steps.pop_back();
    }
    return root.OptimizeLevel;
  }

 private:
  TOptimizeLevel Compute(TExpOperator parent, TExpToken& node);
  // AND: olFull when both operands are, olPartial when one is optimisable
  // (the better one moved to the left), else olNone. OR: olFull when both
  // operands are, else olNone.
  static TOptimizeLevel Combine(TExpToken& node) {
    const TOptimizeLevel l = node.Left->OptimizeLevel;
    const TOptimizeLevel r = node.Right->OptimizeLevel;
    if (node.Operator == eoOR) return l == olFull && r == olFull ? olFull : olNone;
    if (l == olFull && r == olFull) return olFull;
    if (l == olNone && r == olNone) return olNone;
    if ((r != olNone && l == olNone) || (r == olFull && l == olPartial)) std::swap(node.Left, node.Right);
    return olPartial;
  }
  TOptimizeLevel Comparison(TExpOperator parent, TExpToken& node);
  TOptimizeLevel Extended(TExpOperator parent, TExpToken& node);

  // Whether the constant can bound a key of the current index for this
  // condition (type and size, and for UPPER(column) a value upper-casing
  // leaves as it is, since the index holds upper-cased keys).
  bool Usable(const TExpToken& constant, TExpOperator op, bool upper, std::int32_t partialLength) {
    const TKeyLayout& layout = source_.CurrentKeyLayout();
    if (!ConstantFitsKey(layout, constant)) return false;
    if (constant.IsNull && IsOrdering(op)) return false;
    if (partialLength > 0 && layout.LanguageID != 0) return false;
    if (upper && !constant.IsNull) {
      const std::string text = constant.StringValue();
      if (OSUpperCase(layout.LanguageID, layout.SortID, text) != text) return false;
    }
    return true;
  }

  // olFull, or olNone when count checks apply to a nested condition that
  // selects more than 90% of the records.
  TOptimizeLevel WithinLimit(TExpOperator parent, TExpOperator op, const TExpToken* constant,
                             const TExpToken* upper, std::int32_t partialLength) {
    if (!countCheck_ || parent == eoNOTDEFINED) return olFull;
    const TKeyRangeIndex index = CurrentRangeIndex(source_);
    const TKeyRange range = MakeKeyRange(index, op, constant, upper, partialLength);
    std::int64_t count = 0;
    if (!range.Empty) {
      int attempt = 0;
      while (!source_.CountIndexedRecords(range.Low.data(), range.High.data(), count)) {
        if (++attempt >= kCountAttempts) return olNone;
      }
    }
    const auto limit = static_cast<std::int64_t>(std::trunc(0.9 * source_.FilterActualRecordCount()));
    return count > limit ? olNone : olFull;
  }

  TFilterSource& source_;
  bool countCheck_;
};

TOptimizeLevel TOptimizer::Compute(TExpOperator parent, TExpToken& node) {
  switch (node.NodeClass) {
    case enUNARY:
      if (node.Operator == eoISBLANK || node.Operator == eoNOTBLANK) {
        const TExpToken* field = node.Left.get();
        if (field == nullptr || field->NodeClass != enFIELD) return olNone;
        if (!ChangeToRangeIndex(source_, IndexWantedFor(*field, false, false, true))) return olNone;
        return WithinLimit(parent, node.Operator, nullptr, nullptr, 0);
      }
      return olNone;
    case enBINARY:
    case enCOMPARE:
      if (node.Operator >= eoEQ && node.Operator <= eoLE) return Comparison(parent, node);
      return olNone;
    case enEXTBINARY:
      return Extended(parent, node);
    default:
      return olNone;
  }
}

TOptimizeLevel TOptimizer::Comparison(TExpOperator parent, TExpToken& node) {
  const TExpToken* left = node.Left.get();
  const TExpToken* right = node.Right.get();
  if (left == nullptr || !IsConstant(right)) return olNone;
  if (IsTextSearchFunc(left)) {
    if (node.NodeClass != enBINARY || node.Operator != eoEQ || right->IsNull || right->DataType != dtBoolean)
      return olNone;
    if (right->ValueData()[0] == 0 && right->ValueData()[1] == 0) return olNone;
    const TExpToken* search = left->GetArgumentExpToken(0);
    const TExpToken* column = left->GetArgumentExpToken(1);
    if (!IsConstant(search) || column == nullptr || column->NodeClass != enFIELD) return olNone;
    return source_.ChangeToTextIndex(column->FieldNumber) ? olFull : olNone;
  }
  bool upper = false;
  const TExpToken* field = KeyFieldOf(left, upper);
  if (field == nullptr) return olNone;
  const bool compare = node.NodeClass == enCOMPARE;
  if (compare && node.Operator != eoEQ && node.Operator != eoNE) return olNone;
  const bool caseInsensitive = upper || (compare && node.CaseInsensitive);
  if (!ChangeToRangeIndex(source_, IndexWantedFor(*field, upper, caseInsensitive, false))) return olNone;
  const std::int32_t partial = compare ? node.PartialLength : 0;
  // A case-insensitive comparison of UPPER(column) matches any case of the
  // constant, as the index does.
  if (!Usable(*right, node.Operator, upper && !(compare && node.CaseInsensitive), partial)) return olNone;
  return WithinLimit(parent, node.Operator, right, nullptr, partial);
}

TOptimizeLevel TOptimizer::Extended(TExpOperator parent, TExpToken& node) {
  const bool in = node.Operator == eoIN || node.Operator == eoNOTIN;
  const bool between = node.Operator == eoBETWEEN || node.Operator == eoNOTBETWEEN;
  if (!in && !between) return olNone;
  bool upper = false;
  const TExpToken* field = KeyFieldOf(node.GetArgumentExpToken(0), upper);
  if (field == nullptr || node.ArgumentCount() < 2) return olNone;
  if (between && node.ArgumentCount() != 3) return olNone;
  for (std::size_t i = 1; i < node.ArgumentCount(); ++i)
    if (!IsConstant(node.GetArgumentExpToken(i))) return olNone;
  if (!ChangeToRangeIndex(source_, IndexWantedFor(*field, upper, upper, false))) return olNone;
  if (between) {
    const TExpToken& low = *node.GetArgumentExpToken(1);
    const TExpToken& high = *node.GetArgumentExpToken(2);
    if (low.IsNull || high.IsNull) return olNone;
    if (!Usable(low, eoGE, upper, 0) || !Usable(high, eoLE, upper, 0)) return olNone;
    return WithinLimit(parent, eoBETWEEN, &low, &high, 0);
  }
  for (std::size_t i = 1; i < node.ArgumentCount(); ++i)
    if (!Usable(*node.GetArgumentExpToken(i), eoEQ, upper, 0)) return olNone;
  for (std::size_t i = 1; i < node.ArgumentCount(); ++i)
    if (WithinLimit(parent, eoEQ, node.GetArgumentExpToken(i), nullptr, 0) == olNone) return olNone;
  return olFull;
}

}  // namespace

const TExpToken* KeyFieldOf(const TExpToken* node, bool& upper) {
  upper = false;
  if (node == nullptr) return nullptr;
  if (node->NodeClass == enFIELD) return node;
  if (IsUpperField(node)) {
    upper = true;
    return node->GetArgumentExpToken(0);
  }
  return nullptr;
}

TIndexForField IndexWantedFor(const TExpToken& fieldNode, bool upper, bool caseInsensitive, bool anyCase) {
  TIndexForField wanted;
  wanted.FieldNumber = fieldNode.FieldNumber;
  wanted.CaseInsensitive = upper || caseInsensitive;
  wanted.AnyCase = anyCase || fieldNode.DataType != dtString;
  return wanted;
}

bool ChangeToRangeIndex(TFilterSource& source, const TIndexForField& wanted) {
  if (!source.ChangeToIndexForField(wanted)) return false;
  const TKeyLayout& layout = source.CurrentKeyLayout();
  if (layout.Kind != kkIndex || layout.Fields.empty()) return false;
  // A first field descending on its own is complemented (language 0) or
  // compared in reverse within an ascending key: its ranges are not built.
  if (layout.Fields[0].Descending && !layout.Descending) return false;
  return source.CurrentKeySize() >= layout.Fields[0].IndexedSize() + 1u;
}

TKeyRangeIndex CurrentRangeIndex(TFilterSource& source) {
  return TKeyRangeIndex{source.CurrentKeyLayout(), source.CurrentKeySize(), source.FilterCharMap()};
}

TOptimizeLevel GetExpressionOptimizeLevel(TFilterSource& source, TExpOperator parent, TExpToken& node,
                                          TCountCheck countCheck) {
  if (!source.OptimizationAllowed()) {
    SetAllNone(&node);
    return olNone;
  }
  TIndexPositionGuard guard(source);
  TOptimizer optimizer(source, countCheck == TCountCheck::On);
  return optimizer.Level(parent, node);
}

TOptimizeLevel GetFilterOptimizeLevel(std::span<const TOptimizeLevel> levels) {
  if (levels.empty()) return olNone;
  bool allFull = true, allNone = true;
  for (const TOptimizeLevel level : levels) {
    allFull = allFull && level == olFull;
    allNone = allNone && level == olNone;
  }
  if (allFull) return olFull;
  return allNone ? olNone : olPartial;
}

TOptimizeLevel GetFilterOptimizeLevel(std::span<const TFilter* const> filters) {
  std::vector<TOptimizeLevel> levels;
  levels.reserve(filters.size());
  for (const TFilter* filter : filters) levels.push_back(filter->OptimizeLevel());
  return GetFilterOptimizeLevel(levels);
}

}  // namespace tarn
