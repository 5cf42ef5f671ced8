// Filter text to prepared trees (see filter_expression.h).
#include "cursor/filter_expression.h"

#include <utility>
#include <vector>

#include "core/errors.h"
#include "expressions/expression_parser.h"
#include "expressions/expression_verifier.h"
#include "expressions/filter_preparation.h"
#include "storage/formats/data_types.h"

namespace tarn {

namespace {

constexpr std::string_view kFilterDescription = "filter expression";

bool LookupField(void* context, TExpToken& node) {
  return static_cast<TFilterSource*>(context)->LookupFilterField(node);
}

[[noreturn]] void RaiseInvalidFilter(TFilterSource& source, std::string_view text) {
  RaiseError(TARN_INVALIDFILTER, {}, {}, source.FilterDatabaseName(), source.FilterTableName(), {}, {}, text);
}

TExpOperator Mirrored(TExpOperator op) {
  switch (op) {
    case eoGT: return eoLT;
    case eoLT: return eoGT;
    case eoGE: return eoLE;
    case eoLE: return eoGE;
    default: return op;
  }
}

}  // namespace

TExpTokenPtr ParseFilter(TFilterSource& source, std::string_view text) {
  TExpressionParser parser;
  parser.ErrorCode = TARN_INVALIDFILTER;
  parser.DatabaseName = source.FilterDatabaseName();
  parser.TableName = source.FilterTableName();
  parser.ExpressionDescription = std::string(kFilterDescription);
  parser.SetExpression(text);
  if (parser.NextToken() == tkEndOfText) RaiseInvalidFilter(source, "filter expression is empty");
  TExpTokenPtr root = parser.ParseCompleteExpression(pmAllowExtPredicates);
  if (!root) RaiseInvalidFilter(source, "filter expression is empty");
  return root;
}

void VerifyFilter(TFilterSource& source, TExpToken& root) {
  VerifyExpressionToken(TARN_INVALIDFILTER, source.FilterDatabaseName(), source.FilterTableName(), true, LookupField,
                        &source, nullptr, root, kFilterDescription);
  if (root.DataType != dtBoolean) RaiseInvalidFilter(source, "filter expression must be a boolean expression");
}

void NormalizeFilter(TExpToken& root) {
  std::vector<TExpToken*> pending{&root};
  while (!pending.empty()) {
    TExpToken* node = pending.back();
    pending.pop_back();
    if (node == nullptr) continue;
    if (node->NodeClass == enUNARY) {
      pending.push_back(node->Left.get());
      continue;
    }
    if (node->NodeClass != enBINARY && node->NodeClass != enCOMPARE) continue;
    if (node->Operator == eoAND || node->Operator == eoOR) {
      pending.push_back(node->Left.get());
      pending.push_back(node->Right.get());
      continue;
    }
    if (node->Operator < eoEQ || node->Operator > eoLE || !node->Left || !node->Right) continue;
    if (!ContainsFields(node->Left.get()) && ContainsFields(node->Right.get())) {
      std::swap(node->Left, node->Right);
      node->Operator = Mirrored(node->Operator);
    }
  }
}

TExpTokenPtr PrepareFilterExpression(TFilterSource& source, std::string_view text,
                                     const TFilterTextOptions& options) {
  TExpTokenPtr parsed = ParseFilter(source, text);
  VerifyFilter(source, *parsed);
  NormalizeFilter(*parsed);
  TFilterCompare compare;
  compare.CaseInsensitive = options.CaseInsensitive;
  compare.NoPartialCompare = options.NoPartialCompare;
  compare.SortID = source.FilterSortID();
  compare.LanguageID = source.FilterLanguageID();
  return BuildNextFilterExpression(*parsed, source.EvaluationContext(), source.FieldCallback(), compare);
}

}  // namespace tarn
