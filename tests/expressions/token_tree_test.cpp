// Node pool, deep copy, free, comparison and the packed form of trees,
// including hostile packed buffers.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "expression_test_support.h"
#include "expressions/exp_token_pack.h"
#include "expressions/exp_token_stack.h"
#include "expressions/exp_tree.h"

namespace tarn {
namespace {

using testing_support::ParseText;
using testing_support::Render;
using testing_support::VerifyText;

const char* const kTrees[] = {
    "Name = 'Smith' AND Age > 3 OR NOT Active",
    "UPPER(Name) LIKE 'A%' AND Birth BETWEEN '2000-01-01' AND '2001-01-01'",
    "Age IN (1, 2, 3) AND Price * 2 > 10.5",
    "SUBSTRING(Name FROM 2 FOR 3) = 'mit' AND Name || City <> ''",
    "IF(Active THEN Age ELSE -Age) = 5 AND ROUND(Ratio TO 2) > 1",
};

TEST(ExpressionTree, PoolKeepsAtMost256Spares) {
  TExpTokenStack& stack = ExpTokenStack();
  stack.Clear();
  {
    std::vector<TExpTokenPtr> nodes;
    for (int i = 0; i < 300; ++i) nodes.push_back(GetNewExpTokenInstance());
    EXPECT_EQ(stack.FreeCount(), 0u);
    for (int i = 0; i < 256; ++i) nodes[static_cast<std::size_t>(i)].reset();
    EXPECT_EQ(stack.FreeCount(), 256u);
  }  // the other 44 are freed, not kept
  EXPECT_EQ(stack.FreeCount(), 256u);
  TExpTokenPtr reused = GetNewExpTokenInstance();
  EXPECT_EQ(stack.FreeCount(), 255u);
  EXPECT_EQ(reused->NodeClass, enNULL);
  EXPECT_GE(reused->Value.size(), 256u);
  EXPECT_TRUE(std::all_of(reused->Value.begin(), reused->Value.end(), [](std::uint8_t b) { return b == 0; }));
}

TEST(ExpressionTree, ReturnedNodesComeBackClean) {
  ExpTokenStack().Clear();
  {
    auto outcome = VerifyText("Name = 'abc' AND Age > 3");
    ASSERT_TRUE(outcome.Root);
  }
  ASSERT_GT(ExpTokenStack().FreeCount(), 0u);
  TExpTokenPtr node = GetNewExpTokenInstance();
  EXPECT_TRUE(node->Text.empty());
  EXPECT_TRUE(node->FieldName.empty());
  EXPECT_EQ(node->Parent, nullptr);
  EXPECT_FALSE(node->Left);
  EXPECT_EQ(node->DataSize, 0);
  EXPECT_EQ(node->Value[0], 0);
}

TEST(ExpressionTree, ValueBufferGrowsInSteps) {
  TExpTokenPtr node = GetNewExpTokenInstance();
  node->SetDataSize(10);
  EXPECT_EQ(node->Value.size(), 256u);
  node->SetDataSize(257);
  EXPECT_EQ(node->Value.size(), 512u);
  node->SetDataSize(3);
  EXPECT_EQ(node->Value.size(), 512u);
  EXPECT_EQ(node->DataSize, 3);
  node->SetArgumentExpToken(3, GetNewExpTokenInstance());
  EXPECT_EQ(node->Arguments.size(), 4u);
  EXPECT_EQ(node->GetArgumentExpToken(0), nullptr);
  EXPECT_NE(node->GetArgumentExpToken(3), nullptr);
  EXPECT_EQ(node->GetArgumentExpToken(9), nullptr);
}

TEST(ExpressionTree, CopyIsDeepAndComparesEqual) {
  for (const char* text : kTrees) {
    auto outcome = VerifyText(text);
    ASSERT_TRUE(outcome.Root) << text << ": " << outcome.Text;
    TExpTokenPtr copy = CopyExpressionTokens(outcome.Root.get());
    EXPECT_TRUE(CompareExpressionTokens(outcome.Root.get(), copy.get())) << text;
    EXPECT_EQ(Render(copy.get()), Render(outcome.Root.get()));
    EXPECT_NE(copy->Left.get(), outcome.Root->Left.get());
    EXPECT_EQ(copy->Left->Parent, copy.get());
    // Freeing the original leaves the copy intact.
    FreeExpressionTokens(outcome.Root);
    EXPECT_FALSE(outcome.Root);
    EXPECT_FALSE(Render(copy.get()).empty());
  }
  EXPECT_FALSE(CopyExpressionTokens(nullptr));
}

TEST(ExpressionTree, ComparisonDistinguishes) {
  struct TCase {
    const char* A;
    const char* B;
    bool Equal;
  };
  const TCase cases[] = {
      {"Age = 1", "age = 1", true},
      {"Age = 1", "Age = 2", false},
      {"Age = 1", "Age <> 1", false},
      {"Name = 'a'", "Name = 'A'", false},
      {"SUM(Age)", "sum(age)", true},
      {"Age IN (1, 2)", "Age IN (1, 2, 3)", false},
      {"Age + Small", "Small + Age", false},
  };
  for (const auto& c : cases) {
    auto a = ParseText(c.A, {.Modifiers = pmAllowExtPredicates | pmAllowAggregates});
    auto b = ParseText(c.B, {.Modifiers = pmAllowExtPredicates | pmAllowAggregates});
    ASSERT_TRUE(a.Root && b.Root);
    EXPECT_EQ(CompareExpressionTokens(a.Root.get(), b.Root.get()), c.Equal) << c.A << " vs " << c.B;
  }
  EXPECT_TRUE(CompareExpressionTokens(nullptr, nullptr));
  auto a = ParseText("a");
  EXPECT_FALSE(CompareExpressionTokens(a.Root.get(), nullptr));
}

TEST(ExpressionTree, PackRoundTrip) {
  for (const char* text : kTrees) {
    auto outcome = VerifyText(text);
    ASSERT_TRUE(outcome.Root) << text;
    outcome.Root->Left->OptimizeLevel = olPartial;
    std::vector<std::uint8_t> buffer;
    PackExpressionTokens(outcome.Root.get(), buffer);
    EXPECT_EQ(buffer.size(), GetTreePackSize(*outcome.Root));
    TExpTokenPtr back = UnpackExpressionTokens(buffer);
    ASSERT_TRUE(back);
    EXPECT_TRUE(CompareExpressionTokens(outcome.Root.get(), back.get())) << text;
    EXPECT_EQ(Render(back.get()), Render(outcome.Root.get()));
    EXPECT_EQ(back->Left->OptimizeLevel, olPartial);
    EXPECT_EQ(back->Left->Parent, back.get());
    // Fields that do not travel come back empty.
    EXPECT_EQ(back->Left->Source, nullptr);
  }
  std::vector<std::uint8_t> empty;
  PackExpressionTokens(nullptr, empty);
  EXPECT_TRUE(empty.empty());
  EXPECT_FALSE(UnpackExpressionTokens(empty));
}

void ExpectCorrupt(const std::vector<std::uint8_t>& buffer) {
  try {
    TExpTokenPtr tree = UnpackExpressionTokens(buffer);
    ADD_FAILURE() << "accepted a malformed buffer of " << buffer.size() << " bytes";
  } catch (const ETarnEngineError& error) {
    EXPECT_EQ(error.ErrorCode(), TARN_FILECORRUPT);
  }
}

TEST(ExpressionTree, UnpackRefusesMalformedBuffers) {
  auto outcome = VerifyText(kTrees[0]);
  std::vector<std::uint8_t> good;
  PackExpressionTokens(outcome.Root.get(), good);

  // Every truncation.
  for (std::size_t n = 1; n < good.size(); n += 7) ExpectCorrupt(std::vector<std::uint8_t>(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(n)));
  // Trailing bytes.
  auto longer = good;
  longer.push_back(0);
  ExpectCorrupt(longer);
  // A text length past the end.
  auto badLength = good;
  badLength[0] = 0xFF;
  badLength[3] = 0x7F;
  ExpectCorrupt(badLength);
  // Arbitrary bytes never crash: they are refused or, rarely, form a tree.
  std::mt19937 random(12345);
  for (int round = 0; round < 2000; ++round) {
    auto mutated = good;
    for (int k = 0; k < 4; ++k) mutated[random() % mutated.size()] = static_cast<std::uint8_t>(random());
    try {
      TExpTokenPtr tree = UnpackExpressionTokens(mutated);
      ASSERT_TRUE(tree);
    } catch (const ETarnEngineError& error) {
      EXPECT_EQ(error.ErrorCode(), TARN_FILECORRUPT);
    }
  }
}

TEST(ExpressionTree, FreeingADegenerateTreeDoesNotRecurse) {
  TExpTokenPtr root = GetNewExpTokenInstance();
  TExpToken* tip = root.get();
  for (int i = 0; i < 200000; ++i) {
    tip->Left = GetNewExpTokenInstance();
    tip = tip->Left.get();
  }
  EXPECT_EQ(ExpressionDepth(root.get()), 200001);
  FreeExpressionTokens(root);
  EXPECT_FALSE(root);
}

}  // namespace
}  // namespace tarn
