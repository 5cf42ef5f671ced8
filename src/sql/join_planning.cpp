// Join optimisation and join filters (being written).
#include "core/errors.h"
#include "sql/data_query.h"

namespace tarn {

bool TDataQuery::CanOptimizeTableJoins() const { return false; }
void TDataQuery::OptimizeTableJoins() {}
TExpTokenPtr TDataQuery::BuildNextJoinFilter(const TTableJoin&) { return {}; }

}  // namespace tarn
