// Preparation of verified filter and WHERE trees before a scan: column-free
// parts are computed once (EvaluateConstant) and brought to the compared
// column's type where that is exact (ConvertConstant); string comparisons
// with a trailing '*' or without regard to case, and LIKE prefixes, become
// enCOMPARE nodes that an index can serve.
#pragma once

#include <cstdint>

#include "expressions/exp_token.h"
#include "expressions/expression_evaluator.h"

namespace tarn {

// A prepared copy of the verified tree (the original is left as it is).
// A comparison whose constant could not be brought exactly to the column's
// type keeps the constant in its own type: it is then answered per record,
// by value. Bounds are adjusted where that is exact: IntCol < 2.5 becomes
// IntCol <= 2, DateCol > a timestamp after midnight becomes DateCol >= the
// next day.
struct TFilterCompare {
  bool NoPartialCompare = false;  // text comparisons never match on a prefix
  bool CaseInsensitive = false;   // text compares without regard to case
  std::uint16_t SortID = 0;       // the table's sort order and language
  std::uint16_t LanguageID = 0;
};
TExpTokenPtr BuildNextFilterExpression(const TExpToken& node, void* context, TEvaluateFieldCallback fieldCallback,
                                       const TFilterCompare& compare = {});

// Evaluates a column-free subtree once. typeReference is the node the value
// will be compared with or converted to (it is not changed).
TExpTokenPtr EvaluateConstant(const TExpToken& typeReference, const TExpToken& node, void* context,
                              std::uint16_t sortID, std::uint16_t languageID, TEvaluateFieldCallback fieldCallback);

// Converts the constant's value bytes to the reference's type into
// destination (which takes the reference's type, size and decimals):
// integers to other integer widths, floats and BCD values to integers
// (truncated toward zero), integers and floats to BCD with the reference's
// decimals, integers to floats, a timestamp to its date, a date to the
// timestamp of its midnight. A value that does not fit the reference's type
// raises TARN_SQLPARSE instead of keeping low-order bits. Answers false (and
// leaves destination unchanged) for pairs without a rule.
bool ConvertConstant(const TExpToken& value, const std::uint8_t* bytes, const TExpToken& typeReference,
                     TExpToken& destination);

}  // namespace tarn
