// INSERT, UPDATE and DELETE (being written).
#include "core/errors.h"
#include "sql/data_query.h"

namespace tarn {

namespace {
[[noreturn]] void NotBuilt(const char* word) {
  RaiseError(TARN_SQLPARSE, {}, {}, {}, {}, {}, {}, std::string(word) + " statements are not supported yet");
}
}  // namespace

void TDataQuery::ParseInsertQuery() { NotBuilt("INSERT"); }
void TDataQuery::ParseUpdateQuery() { NotBuilt("UPDATE"); }
void TDataQuery::ParseDeleteQuery() { NotBuilt("DELETE"); }
void TDataQuery::PrepareDataChangeQuery() {}
void TDataQuery::ExecuteDataChangeQuery() {}

}  // namespace tarn
