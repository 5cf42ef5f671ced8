// The names an error about a table's files carries as context: the table and
// its database directory.
#pragma once

#include <string_view>

#include "core/errors.h"

namespace tarn {

struct TTableContext {
  std::string_view DatabaseName;
  std::string_view TableName;
};

// Raises the engine error with the table and directory as context, plus a
// field or index name where the message has one.
[[noreturn]] inline void RaiseTableError(TarnErrorCode code, const TTableContext& context,
                                         std::string_view fieldName = {}, std::string_view indexName = {}) {
  RaiseError(code, {}, {}, context.DatabaseName, context.TableName, fieldName, indexName);
}

}  // namespace tarn
