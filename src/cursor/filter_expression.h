// Filter text to the tree a filter evaluates: parsing (with extended
// predicates), verification against the source's fields (the result must be
// boolean), normalisation (a constant on the left of a comparison moves to
// the right with the operator mirrored) and preparation (constants folded
// and brought to the column's type, prefix and case-insensitive comparisons).
#pragma once

#include <string_view>

#include "cursor/filter_source.h"
#include "expressions/exp_token.h"

namespace tarn {

// Parses filter text; raises TARN_INVALIDFILTER ("filter expression is
// empty" for text without an expression, the parser's message otherwise).
TExpTokenPtr ParseFilter(TFilterSource& source, std::string_view text);

// Resolves field names among the source's physical fields and types the
// tree; raises TARN_INVALIDFILTER for errors and for a result that is not
// boolean ("filter expression must be a boolean expression").
void VerifyFilter(TFilterSource& source, TExpToken& root);

// Moves column-free left operands of comparisons to the right, mirroring the
// operator (< and > exchange, <= and >= exchange, = and <> stay), through
// NOT, AND and OR.
void NormalizeFilter(TExpToken& root);

struct TFilterTextOptions {
  bool CaseInsensitive = false;   // text comparisons without regard to case
  bool NoPartialCompare = false;  // a trailing '*' is an ordinary character
};

// Parse, verify, normalise and prepare: the tree a TFilter evaluates.
TExpTokenPtr PrepareFilterExpression(TFilterSource& source, std::string_view text,
                                     const TFilterTextOptions& options);

}  // namespace tarn
