// Hostile expressions stay bounded: text results have a ceiling, and nodes
// that grew a large value buffer do not keep it in the node pool.
#include <gtest/gtest.h>

#include "evaluation_test_support.h"
#include "expressions/exp_token_stack.h"

namespace tarn {
namespace {

using namespace testing_support;

TEST(ResourceLimits, RepeatedReplaceCannotGrowWithoutBound) {
  // Each REPLACE doubles the text; 30 of them would need a gigabyte.
  std::string text = "Name";
  for (int i = 0; i < 30; ++i) text = "REPLACE('a' WITH 'aa' IN " + text + ")";
  TTestRecord record;
  record.Set(col::kName, TextBytes("a"));
  EXPECT_EQ(EvaluateText(text, record), "error: Result of expression 'REPLACE' is too large");
  // A few doublings are ordinary work.
  std::string small = "Name";
  for (int i = 0; i < 4; ++i) small = "REPLACE('a' WITH 'aa' IN " + small + ")";
  EXPECT_EQ(EvaluateText("LENGTH(" + small + ")", record), "16");
}

TEST(ResourceLimits, LargeValueBuffersAreNotKeptInThePool) {
  TExpTokenStack& stack = ExpTokenStack();
  stack.Clear();
  {
    TExpTokenPtr big = GetNewExpTokenInstance();
    big->SetDataSize(1 << 20);
    TExpTokenPtr small = GetNewExpTokenInstance();
    small->SetDataSize(1000);
  }
  ASSERT_EQ(stack.FreeCount(), 2u);
  TExpTokenPtr a = GetNewExpTokenInstance();
  TExpTokenPtr b = GetNewExpTokenInstance();
  EXPECT_LE(a->ValueCapacity(), kMaxPooledValueCapacity);
  EXPECT_LE(b->ValueCapacity(), kMaxPooledValueCapacity);
  EXPECT_GE(std::max(a->ValueCapacity(), b->ValueCapacity()), 1000u);  // an ordinary buffer is kept
  EXPECT_GE(a->ValueCapacity(), TExpToken::kValueGranularity);
}

TEST(ResourceLimits, WideTreesReturnToThePoolWithoutRecursion) {
  // A node with many arguments, each with a chain below it.
  TExpTokenPtr root = GetNewExpTokenInstance();
  for (std::size_t i = 0; i < 100; ++i) {
    TExpTokenPtr chain = GetNewExpTokenInstance();
    TExpToken* last = chain.get();
    for (int depth = 0; depth < 100; ++depth) {
      last->Left = GetNewExpTokenInstance();
      last = last->Left.get();
    }
    root->SetArgumentExpToken(i, std::move(chain));
  }
  ExpTokenStack().Clear();
  root.reset();
  EXPECT_EQ(ExpTokenStack().FreeCount(), TExpTokenStack::kMaxFreeNodes);
}

}  // namespace
}  // namespace tarn
