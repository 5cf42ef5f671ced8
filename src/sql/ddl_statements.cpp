// CREATE and DROP for tables and indexes (being written).
#include "core/errors.h"
#include "sql/data_query.h"

namespace tarn {

namespace {
[[noreturn]] void NotBuilt(const char* word) {
  RaiseError(TARN_SQLPARSE, {}, {}, {}, {}, {}, {}, std::string(word) + " statements are not supported yet");
}
}  // namespace

void TDataQuery::ParseCreateTableQuery() { NotBuilt("CREATE"); }
void TDataQuery::ParseCreateIndexQuery() { NotBuilt("CREATE"); }
void TDataQuery::ParseDropTableQuery() { NotBuilt("DROP"); }
void TDataQuery::ParseDropIndexQuery() { NotBuilt("DROP"); }
void TDataQuery::PrepareDefinitionQuery() {}
void TDataQuery::ExecuteDefinitionQuery() {}

}  // namespace tarn
