// Evaluation of verified expression trees for one record: comparisons with
// the engine's NULL rules, integer, float, BCD, date and time arithmetic,
// string concatenation, LIKE, IN (lists and sub-selects), BETWEEN, the
// prefix and case-insensitive string comparisons of prepared filters and
// every function. Intermediate values live in scratch nodes kept per thread;
// only the result is a node of the shared pool.
#pragma once

#include <cstdint>
#include <string_view>

#include "expressions/exp_token.h"

namespace tarn {

// Fills result's value and IsNull for the column node (result is a copy of
// the column node) from the record.
using TEvaluateFieldCallback = void (*)(void* context, const std::uint8_t* record, TExpToken& result);

// Word search of TEXTSEARCH (occurs false: answers 1 for a match, else 0) and
// TEXTOCCURS (occurs true: the number of matches) in the text of the column
// node (whose Source is the cursor or source table owning it). Installed by
// the layer that owns column sources, so that a table's own text-index
// parameters apply; without one the default parameters are used.
using TEvaluateTextSearchCallback = std::int32_t (*)(void* context, const TExpToken& column,
                                                     std::string_view searchText, std::string_view fieldText,
                                                     bool occurs);

// The value of the tree as a fresh constant node (owned by the caller).
TExpTokenPtr EvaluateExpressionToken(const TExpToken& node, const std::uint8_t* record, void* context,
                                     TEvaluateFieldCallback fieldCallback, std::uint16_t sortID,
                                     std::uint16_t languageID);
TExpTokenPtr EvaluateExpressionToken(const TExpToken& node, const std::uint8_t* record, void* context,
                                     TEvaluateFieldCallback fieldCallback,
                                     TEvaluateTextSearchCallback textSearchCallback, std::uint16_t sortID,
                                     std::uint16_t languageID);

// The operators on evaluated operands; result is a copy of the operator's
// node (its DataType, SubType and Decimals are the verified result type) and
// receives the value.
void EvaluateUnary(TExpOperator op, const TExpToken& operand, TExpToken& result);
void EvaluateBinary(TExpOperator op, const TExpToken& left, const TExpToken& right, std::uint16_t sortID,
                    std::uint16_t languageID, TExpToken& result);
// eoEQ / eoNE of two strings over their first partialLength bytes (all when
// 0), optionally without regard to case.
void EvaluateCompare(TExpOperator op, std::int32_t partialLength, bool caseInsensitive, std::uint16_t sortID,
                     std::uint16_t languageID, TExpToken& result, const TExpToken& right, const TExpToken& left);

// The comparison operators eoEQ to eoLE on two values, with the NULL rules.
bool EvaluateComparison(TExpOperator op, const TExpToken& left, const TExpToken& right, std::uint16_t sortID,
                        std::uint16_t languageID);

// LIKE matching: '%' any run, '_' one character; language 0 compares bytes.
bool MatchLikePattern(std::string_view value, std::string_view pattern, std::uint16_t sortID,
                      std::uint16_t languageID);

// ISO-like week number of a day number by the engine's rule (week 1 starts
// on the first Monday, moved back a week when it falls after 4 January).
std::int32_t WeekOfYear(std::int32_t dayNumber) noexcept;

}  // namespace tarn
