// WHERE and HAVING reduction (being written).
#include "core/errors.h"
#include "sql/data_query.h"

namespace tarn {

void TDataQuery::SetupDefaultTableJoins() {}
void TDataQuery::ReduceWhereExpression() {}
void TDataQuery::ReduceDefaultTableJoins() {}
void TDataQuery::SortJoinOrders() {}
void TDataQuery::ReduceHavingExpression() {}

}  // namespace tarn
