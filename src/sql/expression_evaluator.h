// Evaluation of verified expression trees for one record: comparisons with
// the engine's NULL rules, integer, float, date and time arithmetic, string
// concatenation, LIKE, IN, BETWEEN and the string, date and numeric
// functions. Every intermediate value is a pooled node.
#pragma once

#include <cstdint>

#include "sql/exp_token.h"

namespace tarn {

// Fills result's value and IsNull for the column node (result is a copy of
// the column node) from the record.
using TEvaluateFieldCallback = void (*)(void* context, const std::uint8_t* record, TExpToken& result);

// The value of the tree as a fresh constant node (owned by the caller).
TExpTokenPtr EvaluateExpressionToken(const TExpToken& node, const std::uint8_t* record, void* context,
                                     TEvaluateFieldCallback fieldCallback, std::uint16_t sortID,
                                     std::uint16_t languageID);

// The comparison operators eoEQ to eoLE on two values, with the NULL rules.
bool EvaluateComparison(TExpOperator op, const TExpToken& left, const TExpToken& right, std::uint16_t sortID,
                        std::uint16_t languageID);

// LIKE matching: '%' any run, '_' one character; language 0 compares bytes.
bool MatchLikePattern(std::string_view value, std::string_view pattern, std::uint16_t sortID,
                      std::uint16_t languageID);

}  // namespace tarn
