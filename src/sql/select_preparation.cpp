// SELECT preparation (being written).
#include "core/errors.h"
#include "sql/data_query.h"

namespace tarn {

void TDataQuery::PrepareQuery() {}
void TDataQuery::FreeResultTable() noexcept {}
void TDataQuery::ResetAllSourceFilters() {}

}  // namespace tarn
