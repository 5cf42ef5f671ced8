// Storing one evaluated value into a column of a record buffer, for INSERT
// and UPDATE: NULL, BLOB contents written through the cursor, or the value
// converted to the column's type (a value that does not fit the column
// raises instead of being cut to its low-order bits).
#pragma once

#include <cstdint>
#include <string_view>

#include "cursor/data_cursor.h"
#include "expressions/exp_token.h"
#include "sql/data_query.h"

namespace tarn {

struct TStoreValueOptions {
  bool TruncateBlob = false;   // UPDATE: the BLOB's old contents go first
  std::string_view Statement;  // "INSERT" or "UPDATE", for messages
};

// Stores value into field's column of record (a record buffer of cursor's
// table).
void StoreUpdateValue(TDataCursor& cursor, std::uint8_t* record, const TDataQuery::TUpdateField& field,
                      const TExpToken& value, std::string_view valueText, const TStoreValueOptions& options);

}  // namespace tarn
