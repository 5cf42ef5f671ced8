// TARN_ASSERT: silent while its condition holds, and in the test build a broken
// invariant stops the process naming the condition and its place.
#include <gtest/gtest.h>

#include "core/invariant.h"

namespace tarn {
namespace {

TEST(Invariant, AHoldingConditionDoesNothingAndIsEvaluatedOnce) {
  int evaluated = 0;
  TARN_ASSERT(++evaluated == 1);
#ifdef NDEBUG
  EXPECT_EQ(evaluated, 0);
#else
  EXPECT_EQ(evaluated, 1);
#endif
}

#ifndef NDEBUG
TEST(InvariantDeathTest, ABrokenConditionStopsTheProcessInTheTestBuild) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  const int tokens = 1;
  EXPECT_DEATH(TARN_ASSERT(tokens == 0), "invariant_test.cpp:[0-9]+: invariant broken: tokens == 0");
}
#endif

}  // namespace
}  // namespace tarn
