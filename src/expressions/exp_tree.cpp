// Deep copy, free, comparison and inspection of expression trees.
#include "expressions/exp_tree.h"

#include <utility>
#include <vector>

#include "expressions/exp_token_stack.h"
#include "expressions/expression_layer.h"

namespace tarn {

namespace {

TExpTokenPtr CopyNode(const TExpToken& source, TExpToken* parent) {
  TExpTokenPtr copy = GetNewExpTokenInstance();
  copy->Copy(source);
  copy->Parent = parent;
  if (source.Left) copy->Left = CopyNode(*source.Left, copy.get());
  if (source.Right) copy->Right = CopyNode(*source.Right, copy.get());
  if (source.ThirdOperand) copy->ThirdOperand = CopyNode(*source.ThirdOperand, copy.get());
  copy->Arguments.resize(source.Arguments.size());
  for (std::size_t i = 0; i < source.Arguments.size(); ++i)
    if (source.Arguments[i]) copy->Arguments[i] = CopyNode(*source.Arguments[i], copy.get());
  return copy;
}

}  // namespace

TExpTokenPtr CopyExpressionTokens(const TExpToken* root) {
  if (root == nullptr) return {};
  return CopyNode(*root, root->Parent);
}

void FreeExpressionTokens(TExpTokenPtr& root) noexcept { root.reset(); }

bool CompareExpressionTokens(const TExpToken* a, const TExpToken* b) {
  if (a == nullptr && b == nullptr) return true;
  if (a == nullptr || b == nullptr) return false;
  if (!a->Compare(*b)) return false;
  if (!CompareExpressionTokens(a->Left.get(), b->Left.get())) return false;
  if (!CompareExpressionTokens(a->Right.get(), b->Right.get())) return false;
  if (a->Arguments.size() != b->Arguments.size()) return false;
  for (std::size_t i = 0; i < a->Arguments.size(); ++i)
    if (!CompareExpressionTokens(a->Arguments[i].get(), b->Arguments[i].get())) return false;
  return true;
}

int ExpressionDepth(const TExpToken* root) {
  if (root == nullptr) return 0;
  int deepest = 0;
  std::vector<std::pair<const TExpToken*, int>> pending{{root, 1}};
  while (!pending.empty()) {
    auto [node, depth] = pending.back();
    pending.pop_back();
    if (depth > deepest) deepest = depth;
    if (node->Left) pending.emplace_back(node->Left.get(), depth + 1);
    if (node->Right) pending.emplace_back(node->Right.get(), depth + 1);
    if (node->ThirdOperand) pending.emplace_back(node->ThirdOperand.get(), depth + 1);
    for (const auto& argument : node->Arguments)
      if (argument) pending.emplace_back(argument.get(), depth + 1);
  }
  return deepest;
}

TExpToken* GetFieldToken(TExpToken* node) {
  if (node == nullptr) return nullptr;
  if (node->NodeClass == enFIELD) return node;
  if (TExpToken* found = GetFieldToken(node->Left.get())) return found;
  if (TExpToken* found = GetFieldToken(node->Right.get())) return found;
  for (auto& argument : node->Arguments)
    if (TExpToken* found = GetFieldToken(argument.get())) return found;
  return nullptr;
}

bool IsUpperField(const TExpToken* node) {
  return node != nullptr && node->NodeClass == enFUNC && node->Operator == eoUPPER &&
         node->Arguments.size() == 1 && node->Arguments[0] && node->Arguments[0]->NodeClass == enFIELD;
}

bool IsTextSearchFunc(const TExpToken* node) {
  return node != nullptr && node->NodeClass == enFUNC && node->Operator == eoTEXTSEARCH;
}

}  // namespace tarn
