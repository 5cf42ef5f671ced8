// The typing rules (defined with the verifier) and evaluators (defined with
// the evaluator) that the table of built-in functions refers to.
#pragma once

#include "expressions/builtin_functions.h"

namespace tarn {

void TypeAggregate(TExpressionVerifier& verifier, TExpToken& node);
void TypeCaseMapping(TExpressionVerifier& verifier, TExpToken& node);
void TypeLength(TExpressionVerifier& verifier, TExpToken& node);
void TypeSubstring(TExpressionVerifier& verifier, TExpToken& node);
void TypeReplace(TExpressionVerifier& verifier, TExpToken& node);
void TypeSearch(TExpressionVerifier& verifier, TExpToken& node);
void TypeTrim(TExpressionVerifier& verifier, TExpToken& node);
void TypeExtract(TExpressionVerifier& verifier, TExpToken& node);
void TypeCast(TExpressionVerifier& verifier, TExpToken& node);
void TypeIf(TExpressionVerifier& verifier, TExpToken& node);
void TypeAbs(TExpressionVerifier& verifier, TExpToken& node);
void TypeRound(TExpressionVerifier& verifier, TExpToken& node);
void TypeTextSearch(TExpressionVerifier& verifier, TExpToken& node);

void EvaluateAggregate(TExpressionEvaluator& evaluator, const TExpToken& node, TExpToken& out);
void EvaluateCaseMapping(TExpressionEvaluator& evaluator, const TExpToken& node, TExpToken& out);
void EvaluateLength(TExpressionEvaluator& evaluator, const TExpToken& node, TExpToken& out);
void EvaluateSubstring(TExpressionEvaluator& evaluator, const TExpToken& node, TExpToken& out);
void EvaluateReplace(TExpressionEvaluator& evaluator, const TExpToken& node, TExpToken& out);
void EvaluateSearch(TExpressionEvaluator& evaluator, const TExpToken& node, TExpToken& out);
void EvaluateTrim(TExpressionEvaluator& evaluator, const TExpToken& node, TExpToken& out);
void EvaluateExtract(TExpressionEvaluator& evaluator, const TExpToken& node, TExpToken& out);
void EvaluateCast(TExpressionEvaluator& evaluator, const TExpToken& node, TExpToken& out);
void EvaluateIf(TExpressionEvaluator& evaluator, const TExpToken& node, TExpToken& out);
void EvaluateAbs(TExpressionEvaluator& evaluator, const TExpToken& node, TExpToken& out);
void EvaluateRound(TExpressionEvaluator& evaluator, const TExpToken& node, TExpToken& out);
void EvaluateTextSearch(TExpressionEvaluator& evaluator, const TExpToken& node, TExpToken& out);

}  // namespace tarn
