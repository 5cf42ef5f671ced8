// Statement dispatch and the SELECT grammar (being written).
#include "core/errors.h"
#include "sql/data_query.h"

namespace tarn {

void TDataQuery::ParseQuery(bool, bool) { RaiseError(TARN_SQLPARSE, {}, {}, {}, {}, {}, {}, "SELECT parsing is not built yet"); }
void TDataQuery::ParseSelectQuery() { ParseQuery(false, false); }

}  // namespace tarn
