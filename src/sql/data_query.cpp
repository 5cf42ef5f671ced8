// TDataQuery's shared parts: construction and teardown, source table names,
// joins, the lookup of a column's source table, and the scan expressions.
#include "sql/data_query.h"

#include <algorithm>
#include <cstring>

#include "engine/data_session.h"
#include "expressions/exp_token_stack.h"
#include "expressions/exp_tree.h"
#include "platform/code_page.h"
#include "sql/query_statement.h"

namespace tarn {

namespace {

// The name without a directory part and without a ".DAT" extension; the
// directory part (with its trailing separator) goes to directory.
std::string SplitTableName(const std::string& name, std::string& directory) {
  std::string table = name;
  directory.clear();
  const std::size_t slash = table.find_last_of("/\\");
  if (slash != std::string::npos) {
    directory = table.substr(0, slash + 1);
    table.erase(0, slash + 1);
  }
  if (table.size() >= 4 && AnsiSameText(std::string_view(table).substr(table.size() - 4), ".DAT")) {
    table.resize(table.size() - 4);
  }
  return table;
}

TExpTokenPtr JoinTrees(TExpTokenPtr existing, TExpTokenPtr part, TExpOperator parentOperator) {
  if (!part) return existing;
  if (!existing) {
    // The part becomes the whole tree: it no longer has the parent it had
    // where it came from.
    part->Parent = nullptr;
    return part;
  }
  TExpTokenPtr node = GetNewExpTokenInstance();
  node->NodeClass = enBINARY;
  node->Operator = parentOperator == eoOR ? eoOR : eoAND;
  node->Text = node->Operator == eoOR ? "OR" : "AND";
  existing->Parent = node.get();
  part->Parent = node.get();
  node->Left = std::move(existing);
  node->Right = std::move(part);
  return node;
}

}  // namespace

bool FindPhysicalField(const TDataCursor& cursor, const std::string& name, TFieldDefinition& def) {
  const std::uint16_t count = cursor.GetPhysicalFieldCount();
  for (std::uint16_t f = 1; f <= count; ++f) {
    cursor.GetPhysicalFieldDefinition(f, def);
    if (AnsiSameText(def.Name.Str(), name)) return true;
  }
  return false;
}

// --- TSourceTable --------------------------------------------------------------------

void TSourceTable::SetTableName(const std::string& name) {
  const bool followName = CorrelationName.empty() || AnsiSameText(CorrelationName, TableName);
  TableName = SplitTableName(name, DatabaseName);
  if (followName) CorrelationName = TableName;
}

void TSourceTable::SetAliasName(const std::string& name) { CorrelationName = name; }

TTableJoin& TSourceTable::AddJoin(TJoinType type, TExpTokenPtr condition, TSourceTable& inner,
                                  TExpOperator parentOperator) {
  for (const auto& join : Joins) {
    if (join->Inner != &inner) continue;
    if (join->Type != type && join->Type != jtNone) continue;
    join->Type = type;
    if (condition) join->Condition = JoinTrees(std::move(join->Condition), std::move(condition), parentOperator);
    return *join;
  }
  auto join = std::make_unique<TTableJoin>();
  join->Outer = this;
  join->Inner = &inner;
  join->Type = type;
  join->Condition = std::move(condition);
  if (join->Condition) join->Condition->Parent = nullptr;
  Joins.push_back(std::move(join));
  return *Joins.back();
}

// --- TDataQuery ------------------------------------------------------------------------

TDataQuery::TDataQuery(TQueryStatement& statement) : statement_(statement) {}

TDataQuery::~TDataQuery() {
  FreeResultTable();
  for (auto& source : SourceTables) {
    if (source->Cursor) {
      try {
        source->Cursor->CloseCursor();
      } catch (const ETarnEngineError&) {
        // Closing a source table that cannot be closed cleanly leaves nothing
        // of this query's own to keep.
      }
      source->Cursor.reset();
    }
    ReleaseDirectory(source->Directory);
  }
}

TSourceTable* TDataQuery::FindSourceTable(const std::string& correlationName) const {
  for (const auto& source : SourceTables) {
    if (AnsiSameText(source->CorrelationName, correlationName)) return source.get();
  }
  return nullptr;
}

TSourceTable* TDataQuery::FindColumnSource(const TExpToken& column) const {
  if (!column.TableName.empty()) return FindSourceTable(column.TableName);
  for (const auto& source : SourceTables) {
    if (!source->Cursor || !source->Cursor->IsOpen()) continue;
    TFieldDefinition def{};
    if (FindPhysicalField(*source->Cursor, column.FieldName, def)) return source.get();
  }
  return nullptr;
}

bool TDataQuery::ContainsMultipleDataSources(const TExpToken* node, TSourceTable** first) const {
  TSourceTable* found = nullptr;
  bool multiple = false;
  std::vector<const TExpToken*> pending;
  if (node != nullptr) pending.push_back(node);
  while (!pending.empty() && !multiple) {
    const TExpToken* at = pending.back();
    pending.pop_back();
    if (at->NodeClass == enFIELD) {
      TSourceTable* source = FindColumnSource(*at);
      if (source != nullptr) {
        if (found == nullptr) {
          found = source;
        } else if (found != source) {
          multiple = true;
        }
      }
    }
    if (at->ThirdOperand) pending.push_back(at->ThirdOperand.get());
    if (at->Right) pending.push_back(at->Right.get());
    if (at->Left) pending.push_back(at->Left.get());
    for (auto it = at->Arguments.rbegin(); it != at->Arguments.rend(); ++it) {
      if (*it) pending.push_back(it->get());
    }
  }
  if (first != nullptr) *first = found;
  return multiple;
}

bool TDataQuery::ContainsJoins() const {
  return std::any_of(SourceTables.begin(), SourceTables.end(), [](const auto& s) { return !s->Joins.empty(); });
}

bool TDataQuery::ContainsOuterJoins() const {
  for (const auto& source : SourceTables) {
    for (const auto& join : source->Joins) {
      if (join->Type == jtLeftOuter || join->Type == jtRightOuter) return true;
    }
  }
  return false;
}

namespace {
template <typename Predicate>
bool AnyJoinTo(const std::vector<std::unique_ptr<TSourceTable>>& sources, const TSourceTable& table, Predicate p) {
  for (const auto& source : sources) {
    for (const auto& join : source->Joins) {
      if (join->Inner == &table && p(*join)) return true;
    }
  }
  return false;
}
}  // namespace

bool TDataQuery::IsTargetOfJoin(const TSourceTable& table) const {
  return AnyJoinTo(SourceTables, table, [](const TTableJoin&) { return true; });
}

bool TDataQuery::IsTargetOfInnerJoin(const TSourceTable& table) const {
  return AnyJoinTo(SourceTables, table, [](const TTableJoin& j) { return j.Type == jtInner; });
}

bool TDataQuery::IsTargetOfOuterJoin(const TSourceTable& table) const {
  return AnyJoinTo(SourceTables, table,
                   [](const TTableJoin& j) { return j.Type == jtLeftOuter || j.Type == jtRightOuter; });
}

bool TDataQuery::VerifyExpressionFieldData(void* context, TExpToken& node) {
  auto& query = *static_cast<TDataQuery*>(context);
  TSourceTable* source = query.FindColumnSource(node);
  if (source == nullptr || !source->Cursor || !source->Cursor->IsOpen()) return false;
  TFieldDefinition def{};
  if (!FindPhysicalField(*source->Cursor, node.FieldName, def)) return false;
  node.FieldNumber = def.FieldNumber;
  node.Source = source;
  node.DataType = def.DataType;
  node.SubType = def.SubType;
  node.DataSize = def.PhysicalSize;
  node.Decimals = def.PhysicalDecimals;
  return true;
}

void TDataQuery::EvaluateExpressionFieldData(void* context, const std::uint8_t* record, TExpToken& node) {
  (void)context;
  (void)record;  // every column reads its own table's current row
  auto* source = static_cast<TSourceTable*>(node.Source);
  if (source == nullptr || source->AtEnd || !source->Cursor) {
    node.IsNull = true;
    node.SetDataSize(0);
    std::memset(node.ValueData(), 0, node.ValueCapacity());
    return;
  }
  TDataCursor& cursor = *source->Cursor;
  cursor.FieldCallback()(cursor.EvaluationContext(), source->Record.data(), node);
}

void TDataQuery::AddScanTokens(TExpTokenPtr part, TExpOperator parentOperator) {
  if (!part) return;
  part->Parent = nullptr;
  ScanExpression = JoinTrees(std::move(ScanExpression), std::move(part), parentOperator);
}

void TDataQuery::AddTempScanTokens(TExpTokenPtr part, TExpOperator parentOperator) {
  if (!part) return;
  part->Parent = nullptr;
  TempScanExpression = JoinTrees(std::move(TempScanExpression), std::move(part), parentOperator);
}

}  // namespace tarn
