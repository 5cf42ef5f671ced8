// The built-in functions of expressions, each described once: its keyword,
// its operator, how many arguments it takes, the type the parser gives its
// node, the rule by which verification checks and types it, and its
// evaluator. The grammar reads keywords and parser types from here (the
// special forms with keywords inside the parentheses, such as CAST, EXTRACT
// and TRIM, keep their syntax in the grammar); verification and evaluation
// look the operator up and apply the entry's rule and evaluator.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "expressions/exp_token.h"

namespace tarn {

// The verifier and the evaluator, as the rules of the table see them.
class TExpressionVerifier;
class TExpressionEvaluator;

// Checks the verified arguments of a function node and gives the node its
// result type, size and scale; raises the function's messages.
using TFunctionTypeRule = void (*)(TExpressionVerifier& verifier, TExpToken& node);
// Computes the function's value into out (a constant copy of the node).
using TFunctionEvaluator = void (*)(TExpressionEvaluator& evaluator, const TExpToken& node, TExpToken& out);

struct TBuiltinFunction {
  TExpOperator Operator;
  std::string_view Name;         // the keyword (EXTRACT and TRIM for all their parts)
  std::uint8_t MinArguments;     // verification requires these
  std::uint8_t MaxArguments;     // the most the grammar builds
  std::uint8_t ParsedDataType;   // the parser's type; 0 when verification sets it
  bool Aggregate;                // SUM, RUNSUM, AVG, MIN, MAX, COUNT
  bool ConditionFirst;           // argument 0 is a condition (booleans in it are transformed)
  TFunctionTypeRule Type;
  TFunctionEvaluator Evaluate;
};

// Every built-in function, in the order of their operators.
std::span<const TBuiltinFunction> BuiltinFunctions() noexcept;
// The entry of a function operator; nullptr for any other operator.
const TBuiltinFunction* FindBuiltinFunction(TExpOperator op) noexcept;
// The aggregate named (without regard to case), or nullptr.
const TBuiltinFunction* FindAggregateFunction(std::string_view name) noexcept;

}  // namespace tarn
