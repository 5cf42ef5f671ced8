// Verification of parsed expression trees: column resolution through a
// caller's callback, operator and function type checks, result typing,
// string-to-date conversion of constants and the boolean transformation;
// plus the tree predicates the filter and SQL layers use.
#pragma once

#include <string_view>

#include "core/errors.h"
#include "expressions/exp_token.h"

namespace tarn {

// Finds the column named by node.FieldName (qualified by node.TableName when
// not empty), fills FieldNumber, Source, DataType, SubType, DataSize and
// Decimals, and answers true; false when there is no such column.
using TVerifyFieldCallback = bool (*)(void* context, TExpToken& node);

void VerifyExpressionToken(TarnErrorCode errorCode, std::string_view databaseName, std::string_view tableName,
                           bool transformBooleans, TVerifyFieldCallback fieldCallback, void* callbackContext,
                           TExpToken* parent, TExpToken& node, std::string_view description);

void VerifyDataTypeToken(TarnErrorCode errorCode, std::string_view databaseName, std::string_view tableName,
                         TExpToken& node, std::string_view description);

// Rewrites a boolean node in place into (node = TRUE).
void TransformBooleanExpression(TExpToken& node);

bool ContainsOrs(const TExpToken* node);
bool ContainsNots(const TExpToken* node);
bool ContainsFields(const TExpToken* node);
bool ContainsAggregates(const TExpToken* node);
TExpOperator GetOperatorForAggregate(std::string_view name);

}  // namespace tarn
