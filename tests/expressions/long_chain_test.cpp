// Long flat chains (10,000 terms joined by OR, AND, + or ||) are ordinary
// expressions: they parse, verify, evaluate, prepare as filters, pack and
// unpack, copy, compare and free without recursing once per term, whether
// the tree leans left (as the parser builds it) or right. Only real nesting
// (parentheses and calls) is limited.
#include <gtest/gtest.h>
#include <pthread.h>

#include <functional>

#include "evaluation_test_support.h"
#include "expressions/exp_token_pack.h"
#include "expressions/exp_token_stack.h"
#include "expressions/exp_tree.h"
#include "expressions/filter_preparation.h"

namespace tarn {
namespace {

using namespace testing_support;

constexpr int kTerms = 10000;

// first op term(1) op term(2) ... with kTerms terms in all.
std::string Chain(const std::string& op, const std::function<std::string(int)>& term, int terms = kTerms) {
  std::string text = term(0);
  for (int i = 1; i < terms; ++i) text += " " + op + " " + term(i);
  return text;
}

TTestRecord AgeRecord(std::int32_t age) {
  TTestRecord record;
  record.Set(col::kAge, Bytes(age)).Set(col::kName, TextBytes("a"));
  return record;
}

std::string Evaluate(const TExpToken& tree, std::int32_t age) {
  TTestRecord record = AgeRecord(age);
  return Show(*EvaluateExpressionToken(tree, nullptr, &record, ReadTestField, 0, 0));
}

// What a tree read back from its packed form must match: every node, or
// (for trees whose verified sizes outgrow their value buffers, such as long
// concatenations, whose sizes the packed form does not carry) the values.
enum class TPackedMatch { EveryNode, Values };

// Every operation on the verified tree answers as expected for each age.
void ExpectWholeLifeCycle(TExpTokenPtr tree, const std::vector<std::pair<std::int32_t, std::string>>& answers,
                          TPackedMatch packed = TPackedMatch::EveryNode) {
  ASSERT_TRUE(tree);
  for (const auto& [age, expected] : answers) EXPECT_EQ(Evaluate(*tree, age), expected) << "age " << age;

  TExpTokenPtr prepared = BuildNextFilterExpression(*tree, nullptr, ReadTestField);
  for (const auto& [age, expected] : answers) EXPECT_EQ(Evaluate(*prepared, age), expected) << "prepared, age " << age;

  std::vector<std::uint8_t> buffer;
  PackExpressionTokens(tree.get(), buffer);
  TExpTokenPtr unpacked = UnpackExpressionTokens(buffer);
  if (packed == TPackedMatch::EveryNode) {
    EXPECT_TRUE(CompareExpressionTokens(tree.get(), unpacked.get()));
  }
  for (const auto& [age, expected] : answers) EXPECT_EQ(Evaluate(*unpacked, age), expected) << "unpacked, age " << age;

  TExpTokenPtr copy = CopyExpressionTokens(tree.get());
  EXPECT_TRUE(CompareExpressionTokens(tree.get(), copy.get()));
  EXPECT_NE(GetFieldToken(copy.get()), nullptr);
  EXPECT_TRUE(ContainsFields(copy.get()));
  EXPECT_FALSE(ContainsAggregates(copy.get()));

  FreeExpressionTokens(copy);
  FreeExpressionTokens(unpacked);
  FreeExpressionTokens(prepared);
  FreeExpressionTokens(tree);
  EXPECT_FALSE(tree);
}

TExpTokenPtr Verified(const std::string& text) {
  auto outcome = VerifyText(text);
  EXPECT_TRUE(outcome.Root) << outcome.Text;
  return std::move(outcome.Root);
}

// Runs fn on a thread whose stack (1 MiB) is far too small for one frame per
// term of a 10,000-term chain.
void OnSmallStack(const std::function<void()>& fn) {
  pthread_attr_t attributes;
  ASSERT_EQ(pthread_attr_init(&attributes), 0);
  ASSERT_EQ(pthread_attr_setstacksize(&attributes, 1024 * 1024), 0);
  pthread_t thread;
  auto run = [](void* argument) -> void* {
    (*static_cast<const std::function<void()>*>(argument))();
    return nullptr;
  };
  ASSERT_EQ(pthread_create(&thread, &attributes, run, const_cast<std::function<void()>*>(&fn)), 0);
  pthread_join(thread, nullptr);
  pthread_attr_destroy(&attributes);
}

TEST(LongChains, OrChain) {
  const std::string text = Chain("OR", [](int i) { return "Age = " + std::to_string(i); });
  ExpectWholeLifeCycle(Verified(text), {{0, "true"}, {5000, "true"}, {kTerms - 1, "true"}, {-1, "false"}});
}

TEST(LongChains, NeedNoDeepStack) {
  OnSmallStack([] {
    const std::string text = Chain("OR", [](int i) { return "Age = " + std::to_string(i); });
    ExpectWholeLifeCycle(Verified(text), {{-1, "false"}});
    const std::string sum = Chain("+", [](int i) { return i == 0 ? std::string("Age") : std::string("1"); });
    ExpectWholeLifeCycle(Verified(sum), {{0, std::to_string(kTerms - 1)}});
  });
}

TEST(LongChains, AndChain) {
  const std::string text = Chain("AND", [](int i) { return "Age <> " + std::to_string(i); });
  ExpectWholeLifeCycle(Verified(text), {{-1, "true"}, {kTerms, "true"}, {0, "false"}, {7777, "false"}});
}

TEST(LongChains, ArithmeticAndConcatenationChains) {
  const std::string sum = Chain("+", [](int i) { return i == 0 ? std::string("Age") : std::string("1"); });
  ExpectWholeLifeCycle(Verified(sum), {{1, std::to_string(kTerms)}, {-kTerms, "-1"}});
  const std::string mixed = Chain("-", [](int i) { return i == 0 ? std::string("Age") : std::string("1 + 1"); });
  ExpectWholeLifeCycle(Verified(mixed), {{0, "0"}});
  const std::string text = "LENGTH(" + Chain("||", [](int) { return std::string("Name"); }) + ")";
  ExpectWholeLifeCycle(Verified(text), {{0, std::to_string(kTerms)}}, TPackedMatch::Values);
}

TEST(LongChains, RightLeaningChainsBuiltByHand) {
  // (Age = 0) OR ((Age = 1) OR ((Age = 2) OR ...)): each level is a small
  // parsed comparison joined under a new OR node on the right.
  TExpTokenPtr root;
  for (int i = kTerms - 1; i >= 0; --i) {
    auto comparison = ParseText("Age = " + std::to_string(i));
    ASSERT_TRUE(comparison.Root);
    if (!root) {
      root = std::move(comparison.Root);
      continue;
    }
    TExpTokenPtr node = GetNewExpTokenInstance();
    node->NodeClass = enBINARY;
    node->Operator = eoOR;
    node->Text = "OR";
    node->DataType = dtBoolean;
    node->DataSize = 2;
    node->Left = std::move(comparison.Root);
    node->Right = std::move(root);
    root = std::move(node);
  }
  TTestTable table;
  VerifyExpressionToken(TARN_INVALIDFILTER, "", "customer", true, FindTestColumn, &table, nullptr, *root,
                        "filter expression");
  ExpectWholeLifeCycle(std::move(root), {{0, "true"}, {kTerms - 1, "true"}, {kTerms, "false"}});
}

TEST(LongChains, OnlyRealNestingIsLimited) {
  // The chain that used to be refused.
  EXPECT_TRUE(ParseText(Chain("OR", [](int i) { return "Age = " + std::to_string(i); }, 1000)).Root);
  // Parentheses and calls keep their limit and message.
  std::string deepCalls;
  for (int i = 0; i < 300; ++i) deepCalls += "UPPER(";
  deepCalls += "Name" + std::string(300, ')');
  EXPECT_EQ(ParseText(deepCalls).Text, "Expression nested too deeply in filter expression");
  EXPECT_EQ(ParseText(std::string(300, '(') + "Age" + std::string(300, ')')).Text,
            "Expression nested too deeply in filter expression");
  // A packed tree nested deeper by calls than any text can nest is refused.
  TExpTokenPtr column = ParseText("Name").Root;
  TExpTokenPtr nested = std::move(column);
  for (int i = 0; i < 1000; ++i) {
    TExpTokenPtr call = GetNewExpTokenInstance();
    call->NodeClass = enFUNC;
    call->Operator = eoUPPER;
    call->Text = "UPPER";
    call->SetArgumentExpToken(0, std::move(nested));
    nested = std::move(call);
  }
  std::vector<std::uint8_t> buffer;
  PackExpressionTokens(nested.get(), buffer);
  try {
    UnpackExpressionTokens(buffer);
    ADD_FAILURE() << "a tree nested 1000 calls deep was unpacked";
  } catch (const ETarnEngineError& error) {
    EXPECT_EQ(error.ErrorCode(), TARN_FILECORRUPT);
  }
}

}  // namespace
}  // namespace tarn
