// SELECT execution (being written).
#include "core/errors.h"
#include "sql/data_query.h"

namespace tarn {

void TDataQuery::ExecuteQuery(TDataCursor*& result) { result = nullptr; }
int TDataQuery::SubSelectColumnCount() const { return 0; }
bool TDataQuery::TypeSubSelectColumn(TExpToken&) { return false; }
bool TDataQuery::SubSelectContains(const TExpToken&) { return false; }

}  // namespace tarn
