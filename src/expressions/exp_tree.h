// Whole-tree utilities over TExpToken: deep copy, free, comparison, depth,
// and the small predicates the filter and SQL layers ask of a tree. None of
// them recurses, so trees of any depth (long chains) are safe.
#pragma once

#include "expressions/exp_token.h"

namespace tarn {

// Deep copy; an empty pointer for no tree. The copy shares no node with the
// original; Parent links inside the copy point into the copy.
TExpTokenPtr CopyExpressionTokens(const TExpToken* root);
// Frees the tree and clears the caller's reference.
void FreeExpressionTokens(TExpTokenPtr& root) noexcept;
// True when both are absent, false when exactly one is, else the node-by-node comparison.
bool CompareExpressionTokens(const TExpToken* a, const TExpToken* b);
// Number of node levels (0 for no tree), computed without recursion.
int ExpressionDepth(const TExpToken* root);

// The first column node, depth-first (Left, Right, then the arguments in order).
TExpToken* GetFieldToken(TExpToken* node);
// UPPER(column): an eoUPPER function with exactly one argument, a column.
bool IsUpperField(const TExpToken* node);
bool IsTextSearchFunc(const TExpToken* node);

}  // namespace tarn
