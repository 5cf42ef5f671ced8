// The optimiser of filter expressions: which parts of a tree an index can
// answer (olFull), which must be evaluated record by record (olNone), and
// mixes of both (olPartial). Each node's level is written into the node, an
// AND gets its better-optimised operand on the left, and the current index
// of the source is the same afterwards.
#pragma once

#include <cstdint>
#include <span>

#include "cursor/filter_source.h"
#include "cursor/key_ranges.h"
#include "expressions/exp_token.h"

namespace tarn {

class TFilter;

// Whether count checks apply: the optimiser may refuse an index for a nested
// condition that selects more than 90% of the records.
enum class TCountCheck : std::uint8_t { Off, On };

TOptimizeLevel GetExpressionOptimizeLevel(TFilterSource& source, TExpOperator parent, TExpToken& node,
                                          TCountCheck countCheck);

// The levels of filters together, in list order: olFull when every one is
// olFull, olNone when every one is olNone (or there are none), else olPartial.
TOptimizeLevel GetFilterOptimizeLevel(std::span<const TOptimizeLevel> levels);
TOptimizeLevel GetFilterOptimizeLevel(std::span<const TFilter* const> filters);

// The field node of a key condition: a column, or UPPER(column) (then
// upper is set). Null for anything else.
const TExpToken* KeyFieldOf(const TExpToken* node, bool& upper);

// The index a condition on this operand wants; fieldNode is the column.
TIndexForField IndexWantedFor(const TExpToken& fieldNode, bool upper, bool caseInsensitive, bool anyCase);

// Makes current the index for the condition and answers whether its first
// key field can take ranges (not descending on its own).
bool ChangeToRangeIndex(TFilterSource& source, const TIndexForField& wanted);

// The current index of the source, for range building.
TKeyRangeIndex CurrentRangeIndex(TFilterSource& source);

}  // namespace tarn
