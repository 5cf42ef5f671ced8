// Deep copy, free, comparison and inspection of expression trees.
#include "expressions/exp_tree.h"

#include <utility>
#include <vector>

#include "expressions/exp_token_stack.h"
#include "expressions/expression_layer.h"

namespace tarn {

TExpTokenPtr CopyExpressionTokens(const TExpToken* root) {
  if (root == nullptr) return {};
  // Walks with a list of pending nodes instead of recursion, so a chain of
  // any length is copied with a flat stack.
  struct TPending {
    const TExpToken* source;
    TExpToken* copy;
  };
  std::vector<TPending> pending;
  auto copyOf = [&](const TExpToken& source, TExpToken* parent) {
    TExpTokenPtr copy = GetNewExpTokenInstance();
    copy->Copy(source);
    copy->Parent = parent;
    pending.push_back({&source, copy.get()});
    return copy;
  };
  TExpTokenPtr top = copyOf(*root, root->Parent);
  while (!pending.empty()) {
    const TPending next = pending.back();
    pending.pop_back();
    const TExpToken& source = *next.source;
    TExpToken& copy = *next.copy;
    if (source.Left) copy.Left = copyOf(*source.Left, &copy);
    if (source.Right) copy.Right = copyOf(*source.Right, &copy);
    if (source.ThirdOperand) copy.ThirdOperand = copyOf(*source.ThirdOperand, &copy);
    copy.Arguments.resize(source.Arguments.size());
    for (std::size_t i = 0; i < source.Arguments.size(); ++i)
      if (source.Arguments[i]) copy.Arguments[i] = copyOf(*source.Arguments[i], &copy);
  }
  return top;
}

void FreeExpressionTokens(TExpTokenPtr& root) noexcept { root.reset(); }

bool CompareExpressionTokens(const TExpToken* a, const TExpToken* b) {
  std::vector<std::pair<const TExpToken*, const TExpToken*>> pending{{a, b}};
  while (!pending.empty()) {
    const auto [x, y] = pending.back();
    pending.pop_back();
    if (x == nullptr && y == nullptr) continue;
    if (x == nullptr || y == nullptr) return false;
    if (!x->Compare(*y)) return false;
    if (x->Arguments.size() != y->Arguments.size()) return false;
    pending.emplace_back(x->Left.get(), y->Left.get());
    pending.emplace_back(x->Right.get(), y->Right.get());
    for (std::size_t i = 0; i < x->Arguments.size(); ++i)
      pending.emplace_back(x->Arguments[i].get(), y->Arguments[i].get());
  }
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
  // Depth-first without recursion: a node, then its Left subtree, its Right
  // subtree and its arguments in order.
  std::vector<TExpToken*> pending{node};
  while (!pending.empty()) {
    TExpToken* next = pending.back();
    pending.pop_back();
    if (next == nullptr) continue;
    if (next->NodeClass == enFIELD) return next;
    for (auto argument = next->Arguments.rbegin(); argument != next->Arguments.rend(); ++argument)
      pending.push_back(argument->get());
    pending.push_back(next->Right.get());
    pending.push_back(next->Left.get());
  }
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
