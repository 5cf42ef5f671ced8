// SELECT preparation: opening the source tables, resolving and typing the
// select list, choosing between a live and a canned result, checking the
// ORDER BY, GROUP BY and DISTINCT columns, and creating the empty result
// table of a canned result in the session's private directory.
#include <algorithm>
#include <string>

#include "core/errors.h"
#include "engine/data_session.h"
#include "expressions/exp_token_stack.h"
#include "expressions/exp_tree.h"
#include "expressions/expression_verifier.h"
#include "platform/code_page.h"
#include "sql/data_query.h"
#include "cursor/table_structure.h"
#include "sql/query_statement.h"
#include "storage/formats/data_types.h"

namespace tarn {

namespace {

constexpr std::string_view kSourceColumns = "source columns";
constexpr std::string_view kHavingClause = "HAVING clause";

[[noreturn]] void RaiseSql(std::string_view message) { RaiseError(TARN_SQLPARSE, {}, {}, {}, {}, {}, {}, message); }

std::string Quote(const std::string& text) { return "'" + text + "'"; }

std::string InvalidColumnMessage(const std::string& column, const std::string& table, std::string_view where) {
  return "Invalid column name " + Quote(column) + " or table correlation name " + Quote(table) + " specified in " +
         std::string(where);
}

// The name prefix of an aggregate column.
std::string_view AggregatePrefix(TResultCalculation calculation) {
  switch (calculation) {
    case rcSum:
      return "Sum Of ";
    case rcRunSum:
      return "Running Sum Of ";
    case rcMin:
      return "Min Of ";
    case rcMax:
      return "Max Of ";
    case rcAvg:
      return "Average Of ";
    case rcCount:
      return "Count Of ";
    case rcNone:
      break;
  }
  return {};
}

// The password callback of source cursors: the statement asks its component.
bool AskStatementForPassword(void* userData, TDataCursor& cursor) {
  return static_cast<TQueryStatement*>(userData)->AskForPassword(cursor.TableName());
}

TExpTokenPtr MakeColumnNode(const TSourceTable& source, const TFieldDefinition& def) {
  TExpTokenPtr node = GetNewExpTokenInstance();
  node->NodeClass = enFIELD;
  node->Text = source.CorrelationName + "." + def.Name.Str();
  node->TableName = source.CorrelationName;
  node->FieldName = def.Name.Str();
  return node;
}

}  // namespace

// --- source tables ---------------------------------------------------------------------

void TDataQuery::OpenSourceTables() {
  TDataSession& session = statement_.GetDataSession();
  int position = 0;
  for (auto& source : SourceTables) {
    source->Position = ++position;
    if (source->InMemory) {
      source->Directory = &session.OpenDataDirectory("Memory", "");
    } else if (!source->DatabaseName.empty()) {
      source->Directory = &session.OpenDataDirectory(source->DatabaseName, source->DatabaseName);
    } else {
      // The statement's own directory: counted here, given back by ReleaseDirectory.
      source->Directory = &statement_.Directory();
      source->Directory->IncUseCount();
    }
    auto cursor = std::make_unique<TDataCursor>(*source->Directory);
    cursor->SetTableName(source->TableName);
    cursor->SetIsSourceTable(true);
    cursor->SetReadOnly(!RequestLive);
    cursor->SetExclusive(false);
    cursor->SetInMemory(source->InMemory);
    cursor->SetPasswordCallback(&statement_, &AskStatementForPassword);
    cursor->OpenCursor();
    source->Record.assign(cursor->GetRecordBufferSize(), 0);
    source->Cursor = std::move(cursor);
  }
  if (!SourceTables.empty()) {
    const TDataCursor& first = *SourceTables.front()->Cursor;
    if (!LanguageGiven) LanguageID = first.GetLanguageID();
    if (!SortGiven) SortID = first.GetSortID();
    if (!LanguageGiven && !SortGiven) SortID = first.GetSortID();
  }
}

void TDataQuery::ReleaseDirectory(TDataDirectory*& directory) noexcept {
  if (directory == nullptr) return;
  if (directory == &statement_.Directory()) {
    directory->DecUseCount();
  } else {
    // Opened through the session, which counts its users and closes it with
    // the last.
    statement_.GetDataSession().CloseDataDirectory(*directory);
  }
  directory = nullptr;
}

// --- the select list ------------------------------------------------------------------------

void TDataQuery::VerifyResultFields() {
  std::vector<TResultField> expanded;
  for (TResultField& item : ResultFields) {
    if (item.Calculation == rcNone && item.ColumnName == "*" && !item.Computed) {
      if (!item.NoAlias) {
        RaiseSql("Invalid use of column correlation name " + Quote(item.Alias) + " for " +
                 Quote(item.TableName.empty() ? std::string("*") : item.TableName + ".*") +
                 " specified in source columns");
      }
      for (const auto& source : SourceTables) {
        if (!item.TableName.empty() && !AnsiSameText(item.TableName, source->CorrelationName)) continue;
        for (std::uint16_t f = 1; f <= source->Cursor->GetPhysicalFieldCount(); ++f) {
          TFieldDefinition def;
          source->Cursor->GetPhysicalFieldDefinition(f, def);
          TResultField column;
          column.TableName = source->CorrelationName;
          column.ColumnName = def.Name.Str();
          column.ExpressionText = column.ColumnName;
          column.Expression = MakeColumnNode(*source, def);
          expanded.push_back(std::move(column));
        }
      }
      if (!item.TableName.empty() && FindSourceTable(item.TableName) == nullptr) {
        RaiseSql(InvalidColumnMessage("*", item.TableName, kSourceColumns));
      }
      continue;
    }
    expanded.push_back(std::move(item));
  }
  ResultFields = std::move(expanded);
  if (ResultFields.size() > kMaxResultColumns) {
    RaiseSql("Maximum number of columns (" + std::to_string(kMaxResultColumns) + ") in result set exceeded");
  }

  bool anyAggregate = false;
  bool anyPlain = false;
  HasAverages = false;
  HasComputedColumns = false;
  for (TResultField& field : ResultFields) {
    TExpToken& expression = *field.Expression;
    // The column an item (or its aggregate) is based on.
    TExpToken* column = nullptr;
    if (field.Calculation != rcNone) {
      column = expression.ArgumentCount() > 0 ? expression.GetArgumentExpToken(0) : nullptr;
    } else {
      column = &expression;
    }
    bool columnBased = column != nullptr && column->NodeClass == enFIELD;
    if (columnBased && column->FieldName == "*") {
      // COUNT(*): based on the first column of its table, counting every row.
      TSourceTable* source =
          column->TableName.empty() ? SourceTables.front().get() : FindSourceTable(column->TableName);
      if (source == nullptr) RaiseSql(InvalidColumnMessage("*", column->TableName, kSourceColumns));
      TFieldDefinition def;
      source->Cursor->GetPhysicalFieldDefinition(1, def);
      column->FieldName = def.Name.Str();
      column->TableName = source->CorrelationName;
      field.CountAll = true;
    }
    if (columnBased && VerifyExpressionFieldData(this, *column) == false) {
      RaiseSql(InvalidColumnMessage(column->FieldName, column->TableName, kSourceColumns));
    }
    VerifyExpressionToken(TARN_SQLPARSE, statement_.Directory().Name(), {}, false, &VerifyExpressionFieldData, this,
                          nullptr, expression, kSourceColumns);
    // A quoted name that the verifier found to be a column is that column, as a
    // bare name would be: it gets the column's name and its source.
    if (!columnBased && field.Calculation == rcNone && expression.NodeClass == enFIELD &&
        expression.Source != nullptr) {
      column = &expression;
      columnBased = true;
    }
    if (field.Computed && (expression.NodeClass == enFIELD ||
                           (field.Calculation != rcNone && columnBased))) {
      field.Computed = false;
    }
    if (columnBased) {
      field.Source = static_cast<TSourceTable*>(column->Source);
      field.SourceField = column->FieldNumber;
      field.TableName = field.Source->CorrelationName;
      field.ColumnName = column->FieldName;
    } else {
      field.Source = nullptr;
      field.SourceField = 0;
    }
    if (field.Computed) HasComputedColumns = true;
    if (field.Calculation == rcAvg) HasAverages = true;
    if (field.Calculation != rcNone) {
      anyAggregate = true;
    } else {
      anyPlain = true;
    }
    TypeResultField(field, column);
  }
  if (anyAggregate && anyPlain && !HasGroupBy) {
    RaiseSql("Invalid use of aggregate function(s), the necessary GROUP BY clause is missing");
  }
  NameResultFields();

  if (UnionPart != nullptr) {
    const std::string word = UnionType == utUnionAll ? "UNION ALL" : "UNION";
    if (UnionPart->ResultFields.size() != ResultFields.size()) {
      RaiseSql("The number of columns  in the " + word + " query must match the " +
               " number of columns in the master query");
    }
    for (std::size_t i = 0; i < ResultFields.size(); ++i) {
      const TResultField& part = UnionPart->ResultFields[i];
      if (part.DataType != ResultFields[i].DataType) {
        RaiseSql("Type mismatch between column expression " + Quote(part.ExpressionText) + " in the " + word +
                 " query and " + "column expression " + Quote(ResultFields[i].ExpressionText) +
                 " in the master query");
      }
    }
  }
}

void TDataQuery::TypeResultField(TResultField& field, const TExpToken* column) {
  const TExpToken& expression = *field.Expression;
  // The plain value's type: the column's for a column-based item, the
  // expression's otherwise (an aggregate's argument).
  const TExpToken& valueNode =
      field.Calculation != rcNone && expression.ArgumentCount() > 0 ? *expression.GetArgumentExpToken(0) : expression;
  (void)column;
  field.DataType = valueNode.DataType;
  field.SubType = valueNode.SubType == dstAutoInc ? static_cast<std::uint8_t>(dstNone) : valueNode.SubType;
  field.Size = valueNode.DataSize;
  field.Decimals = valueNode.Decimals;
  switch (field.Calculation) {
    case rcSum:
    case rcRunSum:
      if (field.DataType == dtSmallInt || field.DataType == dtWord) {
        field.DataType = dtInteger;
        field.Size = 4;
      } else if (field.DataType == dtInteger) {
        field.DataType = dtLargeInt;
        field.Size = 8;
      }
      field.SubType = field.SubType == dstMoney ? field.SubType : static_cast<std::uint8_t>(dstNone);
      break;
    case rcCount:
      field.DataType = dtInteger;
      field.SubType = dstNone;
      field.Size = 4;
      field.Decimals = 0;
      break;
    default:
      break;
  }
  if (field.DataType == dtBlob) HasBlobResults = true;
  if (field.DataType == dtString && field.Size > kMaxResultStringSize) {
    if (field.Size >= kMaxResultStringSize + 1 && field.Source == nullptr) {
      RaiseSql("Column expression " + Quote(field.ExpressionText) + " exceeds the maximum allowable field size");
    }
    field.Size = kMaxResultStringSize;
  }
  if ((field.DataType == dtBytes || field.DataType == dtVarBytes) && field.Size > kMaxResultBytesSize) {
    RaiseSql("Column expression " + Quote(field.ExpressionText) + " exceeds the maximum allowable field size");
  }
}

void TDataQuery::NameResultFields() {
  std::uint16_t number = 0;
  for (TResultField& field : ResultFields) {
    field.Number = ++number;
    std::string name;
    if (!field.NoAlias && !field.Alias.empty()) {
      name = field.Alias.size() > kMaxColumnNameLength ? field.Alias.substr(field.Alias.size() - kMaxColumnNameLength)
                                                       : field.Alias;
    } else if (field.Source != nullptr) {
      name = std::string(AggregatePrefix(field.Calculation)) + field.ColumnName;
    } else if (field.Calculation != rcNone) {
      name = std::string(AggregatePrefix(field.Calculation)) + "Expr";
    } else {
      name = "Expression";
    }
    if (name.size() > kMaxColumnNameLength) name.resize(kMaxColumnNameLength);
    const auto taken = [&](const std::string& candidate) {
      for (const TResultField& other : ResultFields) {
        if (&other == &field) break;
        if (AnsiSameText(other.Name, candidate)) return true;
      }
      return false;
    };
    if (taken(name)) {
      for (int counter = 1;; ++counter) {
        const std::string suffix = "_" + std::to_string(counter);
        std::string base = name;
        if (base.size() + suffix.size() > kMaxColumnNameLength) {
          base.erase(0, base.size() + suffix.size() - kMaxColumnNameLength);
        }
        if (!taken(base + suffix)) {
          name = base + suffix;
          break;
        }
      }
    }
    field.Name = name;
  }
}

// --- live or canned -------------------------------------------------------------------------

bool TDataQuery::FindOrderIndex(std::uint8_t& position) const {
  if (!HasOrderBy) return false;
  const TDataCursor& cursor = *SourceTables.front()->Cursor;
  TDataTable& table = *cursor.Table();
  for (std::uint8_t slot = 0; slot <= kMaxTableSecondaryIndexes; ++slot) {
    if (slot == 0 && !table.HasPrimaryIndex()) continue;
    if (slot > 0 && slot > cursor.GetIndexCount()) break;
    TIndexDefinition def;
    table.IndexFile().GetIndexDefinition(slot, def);
    if (def.KeyFieldCount != OrderBy.size()) continue;
    if ((def.CaseInsensitive != 0) != CaseInsensitiveOrder) continue;
    bool matches = true;
    for (std::size_t i = 0; i < OrderBy.size() && matches; ++i) {
      const TResultField& column = ResultFields[OrderBy[i].ResultColumn - 1u];
      const bool descending = (def.Descending != 0) != (def.KeyFieldDescending[i] != 0);
      matches = column.Calculation == rcNone && !column.Computed && column.Source != nullptr &&
                def.KeyFields[i] == column.SourceField && descending == OrderBy[i].Descending;
    }
    if (matches) {
      position = slot;
      return true;
    }
  }
  return false;
}

bool TDataQuery::CanReturnLiveResult() const {
  if (!RequestLive || !ResultTableName.empty() || InMemoryResult || Distinct || SourceTables.size() != 1) return false;
  if (HasGroupBy || HasHaving || SingleRowResult || HasComputedColumns || IsSubSelect || IsUnionPart) return false;
  if (statement_.Queries().size() != 1) return false;
  for (const TResultField& field : ResultFields) {
    if (field.Calculation != rcNone || field.Source == nullptr) return false;
  }
  std::uint8_t position = 0;
  return !HasOrderBy || FindOrderIndex(position);
}

void TDataQuery::ResolveOrderColumns(std::vector<TOrderByField>& items, std::string_view clause, bool allowBlobs) {
  const std::string where = "specified in " + std::string(clause);
  for (TOrderByField& item : items) {
    std::uint16_t found = 0;
    if (item.ColumnNumber != 0) {
      if (item.ColumnNumber > ResultFields.size()) {
        RaiseSql("Invalid column number " + Quote(std::to_string(item.ColumnNumber)) + " " + where);
      }
      found = item.ColumnNumber;
    } else {
      for (const TResultField& field : ResultFields) {
        const bool byName = item.TableName.empty() && AnsiSameText(field.Name, item.ColumnName);
        const bool byColumn = field.Calculation == rcNone && field.Source != nullptr &&
                              AnsiSameText(field.ColumnName, item.ColumnName) &&
                              (item.TableName.empty() || AnsiSameText(field.TableName, item.TableName));
        if (byName || byColumn) {
          found = field.Number;
          break;
        }
      }
      if (found == 0) RaiseSql(InvalidColumnMessage(item.ColumnName, item.TableName, where.substr(13)));
    }
    if (!allowBlobs && ResultFields[found - 1u].DataType == dtBlob) {
      if (item.ColumnNumber != 0 || &items == &OrderBy) {
        RaiseSql("Invalid column number " + Quote(std::to_string(found)) + " " + where);
      }
      RaiseSql("Invalid BLOB column " + Quote(item.ColumnName) + " " + where);
    }
    item.ResultColumn = found;
  }
}

void TDataQuery::PrepareQuery() {
  if (Kind == skInsert || Kind == skUpdate || Kind == skDelete) {
    PrepareDataChangeQuery();
    return;
  }
  if (Kind != skSelect) {
    PrepareDefinitionQuery();
    return;
  }
  if (Distinct && HasGroupBy) Distinct = false;
  OpenSourceTables();
  VerifyResultFields();
  if (HasHaving && !HasGroupBy) RaiseSql("A GROUP BY clause must exist in order to use the HAVING clause");
  SingleRowResult = !HasGroupBy && !ResultFields.empty() &&
                    std::all_of(ResultFields.begin(), ResultFields.end(),
                                [](const TResultField& f) { return f.Calculation != rcNone; });
  SimpleCount = SingleRowResult && SourceTables.size() == 1 && ResultFields.size() == 1 && ResultFields[0].CountAll &&
                ResultFields[0].Calculation == rcCount;
  if (RequestLive && HasOrderBy) ResolveOrderColumns(OrderBy, "ORDER BY clause", /*allowBlobs=*/false);
  LiveResult = CanReturnLiveResult();
  if (LiveResult) {
    PrepareLiveResult();
    return;
  }
  SetupDefaultTableJoins();
  ReduceWhereExpression();
  ReduceDefaultTableJoins();
  SortJoinOrders();
  if (HasHaving) {
    VerifyExpressionToken(TARN_SQLPARSE, statement_.Directory().Name(), {}, true, &VerifyExpressionFieldData, this,
                          nullptr, *HavingTree, kHavingClause);
    if (HavingTree->DataType != dtBoolean) RaiseSql("HAVING clause must be a boolean expression");
    ReduceHavingExpression();
    MapHavingColumns();
  }
  const auto checkCount = [](std::size_t count, std::string_view clause) {
    if (count > kMaxResultColumns) {
      RaiseSql("Maximum number of columns (" + std::to_string(kMaxResultColumns) + ") in " + std::string(clause) +
               " exceeded");
    }
  };
  checkCount(OrderBy.size(), "ORDER BY clause ");
  ResolveOrderColumns(OrderBy, "ORDER BY clause", /*allowBlobs=*/false);
  checkCount(GroupBy.size(), "GROUP BY clause ");
  std::vector<TOrderByField> groupItems;
  for (const TGroupByField& item : GroupBy) {
    TOrderByField copy;
    static_cast<TGroupByField&>(copy) = item;
    groupItems.push_back(copy);
  }
  ResolveOrderColumns(groupItems, "GROUP BY clause", /*allowBlobs=*/false);
  for (std::size_t i = 0; i < GroupBy.size(); ++i) GroupBy[i].ResultColumn = groupItems[i].ResultColumn;
  if (Distinct) {
    checkCount(ResultFields.size(), "DISTINCT clause ");
    for (const TResultField& field : ResultFields) {
      if (field.DataType == dtBlob) RaiseSql("Invalid BLOB column " + Quote(field.Name) + " specified in DISTINCT clause");
    }
  }
  OrderSatisfied = ComputeOrderSatisfied();
  if (!IsUnionPart) {
    AssignResultTableParams();
    CreateResultTable();
  }
}

bool TDataQuery::ComputeOrderSatisfied() const {
  if (!HasOrderBy) return false;
  if (CaseInsensitiveOrder) return false;
  if (std::any_of(OrderBy.begin(), OrderBy.end(), [](const TOrderByField& o) { return o.Descending; })) return false;
  if (HasGroupBy) {
    if (OrderBy.size() != GroupBy.size()) return false;
    for (std::size_t i = 0; i < OrderBy.size(); ++i) {
      if (OrderBy[i].ResultColumn != GroupBy[i].ResultColumn) return false;
    }
    return true;
  }
  if (Distinct) {
    if (OrderBy.size() != ResultFields.size()) return false;
    for (std::size_t i = 0; i < OrderBy.size(); ++i) {
      if (OrderBy[i].ResultColumn != i + 1) return false;
    }
    return true;
  }
  return false;
}

void TDataQuery::MapHavingColumns() {
  // Columns left in the reduced HAVING tree (GROUP BY columns) read the
  // grouped result record too: each becomes the result column showing it.
  std::vector<TExpToken*> pending{HavingTree.get()};
  while (!pending.empty()) {
    TExpToken* node = pending.back();
    pending.pop_back();
    if (node->NodeClass == enFIELD && node->Source != nullptr) {
      const auto* source = static_cast<const TSourceTable*>(node->Source);
      const TResultField* match = nullptr;
      for (const TResultField& field : ResultFields) {
        if (field.Calculation == rcNone && !field.Computed && field.Source == source &&
            field.SourceField == node->FieldNumber) {
          match = &field;
          break;
        }
      }
      if (match == nullptr) RaiseSql("Expression in HAVING clause not found in source columns");
      node->FieldNumber = match->Number;
      node->Source = nullptr;
      node->TableName.clear();
    }
    if (node->Left) pending.push_back(node->Left.get());
    if (node->Right) pending.push_back(node->Right.get());
    if (node->ThirdOperand) pending.push_back(node->ThirdOperand.get());
    for (auto& argument : node->Arguments) {
      if (argument) pending.push_back(argument.get());
    }
  }
}

void TDataQuery::PrepareLiveResult() {
  TSourceTable& source = *SourceTables.front();
  TDataCursor& cursor = *source.Cursor;
  cursor.SetIsResultSet(true);
  std::vector<TFieldDefinition> mapping;
  for (const TResultField& field : ResultFields) {
    TFieldDefinition def;
    cursor.GetPhysicalFieldDefinitionByNumber(field.SourceField, def);
    def.FieldNumber = field.Number;
    def.Name.Assign(field.Name);
    def.Working.SourceFieldNumber = static_cast<std::int16_t>(field.SourceField);
    mapping.push_back(def);
  }
  if (!SelectStar) cursor.SetFieldMapping(mapping);
  resultCursor_ = &cursor;
}

// --- the result table -----------------------------------------------------------------------

void TDataQuery::AssignResultTableParams() {
  TDataSession& session = statement_.GetDataSession();
  if (InMemoryResult) {
    resultDirectory_ = &session.OpenDataDirectory("Memory", "");
  } else if (!ResultTableName.empty()) {
    TSourceTable named;
    named.SetTableName(ResultTableName);
    resultDirectory_ = named.DatabaseName.empty() ? &statement_.Directory()
                                                  : &session.OpenDataDirectory(named.DatabaseName, named.DatabaseName);
  } else {
    const std::string path = session.GetPrivateDirectory();
    resultDirectory_ = &session.OpenDataDirectory(path, path);
  }
  if (resultDirectory_ == &statement_.Directory()) resultDirectory_->IncUseCount();
  if (ResultTableName.empty() || (InMemoryResult && ResultTableName.empty())) {
    std::string name = resultDirectory_->GetTempDataTableName(InMemoryResult);
    if (name.size() > 4) name.resize(name.size() - 4);
    resultName_ = name;
    resultTemporary_ = true;
  } else {
    TSourceTable named;
    named.SetTableName(ResultTableName);
    resultName_ = named.TableName;
    resultTemporary_ = false;
  }
}

void TDataQuery::CreateResultTable() {
  TDataCursor::TCreateTableArguments arguments;
  arguments.LanguageID = LanguageID;
  arguments.SortID = SortID;
  arguments.BlobBlockSize = 512;
  arguments.Indexes.push_back(MakeEmptyIndexDefinition());
  arguments.Encrypted = Encrypted && !Password.empty();
  arguments.Password = arguments.Encrypted ? Password : std::string();
  arguments.Overwrite = !resultTemporary_;
  for (const TResultField& field : ResultFields) {
    TFieldDefinition def = MakeEmptyFieldDefinition();
    if (field.Calculation == rcNone && !field.Computed && field.Source != nullptr) {
      field.Source->Cursor->GetPhysicalFieldDefinitionByNumber(field.SourceField, def);
      def.DefaultValue.Assign("");
      def.MinValue.Assign("");
      def.MaxValue.Assign("");
      def.Required = 0;
      def.CharCase = fcNoChange;
      def.Working = TFieldWorkingData{};
      def.Working.OriginName.Assign(field.Source->TableName + "." + field.ColumnName);
      if (IsAutoIncField(def)) def.SubType = dstNone;
    } else {
      def.DataType = field.DataType;
      def.SubType = field.SubType;
      if (field.DataType == dtString) {
        def.Size = static_cast<std::uint8_t>(std::clamp(field.Size - 1, 1, kMaxResultStringSize - 1));
      } else if (HasDeclaredSize(field.DataType)) {
        def.Size = static_cast<std::uint8_t>(std::clamp(field.Size, 1, kMaxResultBytesSize));
      }
      def.Decimals = field.Decimals;
    }
    def.Name.Assign(field.Name);
    def.FieldNumber = field.Number;
    arguments.Fields.push_back(def);
  }
  for (TResultField& field : ResultFields) {
    if (field.Calculation != rcAvg) continue;
    TFieldDefinition def = MakeEmptyFieldDefinition();
    def.DataType = dtInteger;
    def.Name.Assign("Sys__Avg__Count" + std::to_string(field.Number));
    def.FieldNumber = static_cast<std::uint16_t>(arguments.Fields.size() + 1);
    field.AvgCountColumn = def.FieldNumber;
    arguments.Fields.push_back(def);
  }
  auto cursor = std::make_unique<TDataCursor>(*resultDirectory_);
  cursor->SetTableName(resultName_);
  cursor->SetInMemory(InMemoryResult);
  cursor->SetIsTemporary(resultTemporary_);
  cursor->SetIsResultSet(true);
  cursor->SetExclusive(true);
  cursor->CreateTable(arguments);
  TDataSession& session = statement_.GetDataSession();
  const bool addPassword = arguments.Encrypted && !session.CheckForPassword(Password);
  if (addPassword) session.AddPassword(Password);
  try {
    cursor->OpenCursor();
  } catch (...) {
    if (addPassword) session.DeletePassword(Password);
    throw;
  }
  if (addPassword) session.DeletePassword(Password);
  if (HasAverages) {
    // The readers of the result see its columns; the counts of the averages
    // stay hidden behind them.
    std::vector<TFieldDefinition> visible;
    for (std::uint16_t f = 1; f <= ResultFields.size(); ++f) {
      TFieldDefinition def;
      cursor->GetPhysicalFieldDefinition(f, def);
      def.Working.SourceFieldNumber = static_cast<std::int16_t>(f);
      visible.push_back(def);
    }
    cursor->SetFieldMapping(visible);
  }
  ownedResult_ = std::move(cursor);
  resultCursor_ = ownedResult_.get();
}

void TDataQuery::FreeResultTable() noexcept {
  if (ownedResult_) {
    try {
      ownedResult_->CloseCursor();
    } catch (const ETarnEngineError&) {
      // A result table that cannot be closed cleanly is dropped with its cursor.
    }
    ownedResult_.reset();
  }
  resultCursor_ = nullptr;
  ReleaseDirectory(resultDirectory_);
}

}  // namespace tarn
