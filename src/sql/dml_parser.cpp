// The grammar of INSERT, UPDATE and DELETE: the target table, the column and
// value lists, SET assignments, the FROM, JOIN and WHERE clauses shared with
// SELECT, NOAUTOINC, the COMMIT clause and NOJOINOPTIMIZE, read from the
// statement's shared tokenizer into the query.
#include <charconv>
#include <initializer_list>
#include <limits>
#include <string>
#include <string_view>

#include "core/errors.h"
#include "expressions/exp_token_stack.h"
#include "expressions/expression_parser.h"
#include "platform/code_page.h"
#include "sql/data_query.h"
#include "sql/query_statement.h"
#include "sql/sql_grammar.h"
#include "storage/formats/data_types.h"

namespace tarn {

using namespace sql_grammar;

namespace {

constexpr std::string_view kColumnDescription = "table column";
constexpr std::string_view kValueDescription = "value expression";

// Joins part to tree with AND, tree on the left.
void AndInto(TExpTokenPtr& tree, TExpTokenPtr part) {
  if (!part) return;
  if (!tree) {
    part->Parent = nullptr;
    tree = std::move(part);
    return;
  }
  TExpTokenPtr node = GetNewExpTokenInstance();
  node->NodeClass = enBINARY;
  node->Operator = eoAND;
  node->Text = "AND";
  node->DataType = dtBoolean;
  node->DataSize = 2;
  tree->Parent = node.get();
  part->Parent = node.get();
  node->Left = std::move(tree);
  node->Right = std::move(part);
  tree = std::move(node);
}

// A quoted column name ('Name') names the column: the constant becomes a
// column reference. Parameters and the empty string stay what they are.
void TurnStringIntoColumn(TExpToken& node) {
  if (node.NodeClass != enCONST || node.IsParameter || node.DataType != dtString || node.Text.empty()) return;
  node.NodeClass = enFIELD;
  node.FieldName = node.Text;
  node.TableName.clear();
  node.DataType = 0;
  node.SubType = 0;
  node.DataSize = 0;
  node.Decimals = 0;
  node.IsNull = false;
}

// Fills the item's names from its parsed column reference.
void NameColumnItem(TDataQuery::TUpdateField& field) {
  const TExpToken& root = *field.Column;
  if (root.NodeClass == enFIELD) {
    field.ColumnName = root.FieldName;
    field.CorrelationName = root.TableName;
  } else {
    field.ColumnName = field.ColumnText;
  }
}

}  // namespace

// --- shared clauses ------------------------------------------------------------------------

namespace {

// NOAUTOINC, when allowed and present.
void ParseNoAutoInc(TExpressionParser& parser, bool& suppress) {
  if (!parser.CheckTokenSymbol("NOAUTOINC")) return;
  suppress = true;
  parser.NextToken();
}

// COMMIT INTERVAL n [FLUSH] or COMMIT FLUSH. The interval must be a positive
// 32-bit integer: an interval of 0 would never commit.
void ParseCommitClause(TExpressionParser& parser, TDataQuery& query) {
  if (!parser.CheckTokenSymbol("COMMIT")) return;
  parser.NextToken();
  if (parser.CheckTokenSymbol("INTERVAL")) {
    parser.NextToken();
    if (!parser.CheckToken(tkInteger)) {
      RaiseFoundError(parser, "Integer value expected after INTERVAL keyword, instead found '");
    }
    const std::string text = parser.TokenAsString();
    std::int64_t value = 0;
    const char* last = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), last, value);
    if (ec != std::errc() || ptr != last || value < 1 || value > std::numeric_limits<std::int32_t>::max()) {
      RaiseFoundError(parser, "Commit interval must be a positive integer, instead found '");
    }
    query.CommitInterval = static_cast<std::int32_t>(value);
    query.CommitIntervalGiven = true;
    parser.NextToken();
    if (parser.CheckTokenSymbol("FLUSH")) {
      query.CommitFlush = true;
      parser.NextToken();
    }
    return;
  }
  if (parser.CheckTokenSymbol("FLUSH")) {
    query.CommitFlush = true;
    parser.NextToken();
    return;
  }
  RaiseFoundError(parser, "INTERVAL and/or FLUSH keywords expected after COMMIT keyword, instead found '");
}

void ParseStatementEnd(TExpressionParser& parser, std::string_view message) {
  if (parser.CheckToken(';')) {
    parser.NextToken();
  } else if (!parser.CheckToken(tkEndOfText)) {
    RaiseFoundError(parser, message);
  }
}

// Reads [MEMORY] name into table; message when the name is missing.
void ParseTableName(TExpressionParser& parser, TSourceTable& table, std::string_view message,
                    std::string_view memoryMessage) {
  if (parser.CheckTokenSymbol("MEMORY")) {
    table.InMemory = true;
    parser.NextToken();
    if (!IsTableNameToken(parser)) RaiseFoundError(parser, memoryMessage);
  } else if (!IsTableNameToken(parser)) {
    RaiseFoundError(parser, message);
  }
  table.SetTableName(parser.TokenAsString());
  if (table.InMemory) table.DatabaseName = "Memory";
  parser.NextToken();
}

// A right outer join puts its table first, where it would become the table
// whose rows change: the join clauses must leave the statement's own table
// (first) where it was.
void RefuseRightJoins(const TDataQuery& query, const TSourceTable* first, std::string_view statement) {
  if (query.SourceTables.front().get() != first) {
    RaiseSqlError("Right outer joins are currently not supported in Tarn SQL " + std::string(statement) +
                  " statements");
  }
}

}  // namespace

// --- INSERT ----------------------------------------------------------------------------------

void TDataQuery::ParseInsertQuery() {
  TExpressionParser& parser = statement_.Parser();
  parser.NextToken();  // INSERT
  if (!parser.CheckTokenSymbol("INTO")) RaiseFoundError(parser, "INTO keyword expected, instead found '");
  parser.NextToken();

  auto table = std::make_unique<TSourceTable>();
  ParseTableName(parser, *table, "Table name expected after INTO clause, instead found '",
                 "Table name expected after INTO keyword, instead found '");
  if ((parser.CheckToken(tkIdentifier) && !IsAnySymbol(parser, {"VALUES", "SELECT"})) ||
      parser.CheckToken(tkQuotedString)) {
    table->SetAliasName(parser.TokenAsString());
    parser.NextToken();
  }
  AddSourceTable(std::move(table), /*first=*/false);

  if (parser.CheckToken('(')) {
    parser.NextToken();
    for (;;) {
      TUpdateField field;
      ParseInsertColumnExpression(field);
      UpdateFields.push_back(std::move(field));
      if (!parser.CheckToken(',')) break;
      parser.NextToken();
    }
    if (!parser.CheckToken(')')) {
      RaiseFoundError(parser, "Right parentheses expected after list of table columns, instead found '");
    }
    parser.NextToken();
  } else {
    // Every column of the table, in definition order.
    TUpdateField all;
    all.Column = GetNewExpTokenInstance();
    all.Column->NodeClass = enFIELD;
    all.Column->FieldName = "*";
    all.Column->Text = "*";
    all.ColumnName = "*";
    all.ColumnText = "*";
    UpdateFields.push_back(std::move(all));
  }

  if (parser.CheckTokenSymbol("VALUES")) {
    parser.NextToken();
    if (!parser.CheckToken('(')) {
      RaiseFoundError(parser, "Left parentheses expected after VALUES keyword, instead found '");
    }
    parser.NextToken();
    for (;;) {
      TUpdateValue value;
      ParseInsertValueExpression(value);
      UpdateValues.push_back(std::move(value));
      if (!parser.CheckToken(',')) break;
      parser.NextToken();
    }
    if (!parser.CheckToken(')')) {
      RaiseFoundError(parser, "Right parentheses expected after list of values, instead found '");
    }
    parser.NextToken();
  } else if (parser.CheckTokenSymbol("SELECT")) {
    // The SELECT is the statement's second query, which the statement runs
    // before this one. Its result is always a table of its own, so rows
    // appended to a table the SELECT reads are never read back.
    TDataQuery& select = statement_.NewQuery();
    select.ParseQuery(/*subSelect=*/true, /*unionPart=*/false);
    select.RequestLive = false;
    InsertSelect = &select;
    SubSelectInsert = true;
  } else {
    RaiseFoundError(parser, "VALUES or SELECT  keyword expected, instead found '");
  }

  ParseNoAutoInc(parser, SuppressAutoInc);
  ParseCommitClause(parser, *this);
  ParseStatementEnd(parser, "End of INSERT statement expected, instead found '");
}

void TDataQuery::ParseInsertColumnExpression(TUpdateField& field) {
  TExpressionParser& parser = statement_.Parser();
  TDescriptionScope description(parser, kColumnDescription);
  if (AtEmptyExpression(parser)) RaiseSqlError("Table column name is empty");
  parser.MarkExpressionLiteral();
  field.Column = parser.ParseExpression1(0);
  LinkParents(field.Column.get());
  field.ColumnText = CutToLength(parser.ExpressionAsString(), kMaxShortString);
  TurnStringIntoColumn(*field.Column);
  NameColumnItem(field);
}

void TDataQuery::ParseInsertValueExpression(TUpdateValue& value) {
  TExpressionParser& parser = statement_.Parser();
  TDescriptionScope description(parser, kValueDescription);
  if (AtEmptyExpression(parser)) RaiseSqlError("Value expression is empty");
  parser.MarkExpressionLiteral();
  value.Expression = parser.ParseExpression1(pmAllowParameters);
  LinkParents(value.Expression.get());
  value.ValueText = CutToLength(parser.ExpressionAsString(), kMaxShortString);
}

// --- UPDATE ----------------------------------------------------------------------------------

void TDataQuery::ParseUpdateQuery() {
  TExpressionParser& parser = statement_.Parser();
  parser.NextToken();  // UPDATE

  auto table = std::make_unique<TSourceTable>();
  ParseTableName(parser, *table, "Table name expected, instead found '", "Table name expected, instead found '");
  if (parser.CheckTokenSymbol("AS")) {
    parser.NextToken();
    if (!IsNameToken(parser)) RaiseFoundError(parser, "Symbol or string expected after AS keyword, instead found '");
    table->SetAliasName(parser.TokenAsString());
    parser.NextToken();
  } else if ((parser.CheckToken(tkIdentifier) && !parser.CheckTokenSymbol("SET")) ||
             parser.CheckToken(tkQuotedString)) {
    table->SetAliasName(parser.TokenAsString());
    parser.NextToken();
  }
  const std::string targetName = table->TableName;
  const std::string targetCorrelation = table->CorrelationName;
  const bool targetInMemory = table->InMemory;
  const TSourceTable* target = table.get();
  AddSourceTable(std::move(table), /*first=*/false);

  if (!parser.CheckTokenSymbol("SET")) RaiseFoundError(parser, "SET keyword expected, instead found '");
  parser.NextToken();
  for (;;) {
    TUpdateField field;
    ParseUpdateColumnExpression(field);
    if (!parser.CheckToken('=')) {
      RaiseFoundError(parser, "Assignment (=) operator expected after column name, instead found '");
    }
    parser.NextToken();
    TUpdateValue value;
    ParseUpdateValueExpression(value);
    UpdateFields.push_back(std::move(field));
    UpdateValues.push_back(std::move(value));
    if (!parser.CheckToken(',')) break;
    parser.NextToken();
  }

  if (parser.CheckTokenSymbol("FROM")) {
    parser.NextToken();
    // The FROM list opens with the updated table itself.
    TSourceTable first;
    ParseTableName(parser, first, "Table name expected after FROM keyword, instead found '",
                   "Table name expected after FROM keyword, instead found '");
    bool matches = AnsiSameText(first.TableName, targetName) && first.InMemory == targetInMemory;
    std::string correlation;
    bool hasCorrelation = false;
    if (parser.CheckTokenSymbol("AS")) {
      parser.NextToken();
      if (!IsNameToken(parser)) RaiseFoundError(parser, "Symbol or string expected after AS keyword, instead found '");
      correlation = parser.TokenAsString();
      hasCorrelation = true;
      parser.NextToken();
    } else if ((parser.CheckToken(tkIdentifier) &&
                !IsAnySymbol(parser, {"LEFT", "RIGHT", "INNER", "JOIN", "ON", "WHERE", "NOAUTOINC", "COMMIT",
                                      "NOJOINOPTIMIZE"})) ||
               parser.CheckToken(tkQuotedString)) {
      correlation = parser.TokenAsString();
      hasCorrelation = true;
      parser.NextToken();
    }
    if (hasCorrelation && !AnsiSameText(correlation, targetCorrelation)) matches = false;
    if (!matches) {
      RaiseSqlError(
          "The first source table specified in FROM clause must match the table being updated in the UPDATE "
          "statement");
    }
    ParseJoinClauses();
    while (parser.CheckToken(',')) {
      parser.NextToken();
      HasJoins = true;
      AddSourceTable(ParseSourceTable("Table name expected after FROM keyword, instead found '"), /*first=*/false);
      ParseJoinClauses();
    }
    RefuseRightJoins(*this, target, "UPDATE");
  }

  if (parser.CheckTokenSymbol("WHERE")) {
    parser.NextToken();
    AndInto(WhereTree, ParseWhereExpression(/*isWhere=*/true));
    HasWhere = true;
  }
  ParseNoAutoInc(parser, SuppressAutoInc);
  ParseCommitClause(parser, *this);
  if (parser.CheckTokenSymbol("NOJOINOPTIMIZE")) {
    NoJoinOptimize = true;
    parser.NextToken();
  }
  ParseStatementEnd(parser, "End of UPDATE statement expected, instead found '");
}

void TDataQuery::ParseUpdateColumnExpression(TUpdateField& field) {
  TExpressionParser& parser = statement_.Parser();
  TDescriptionScope description(parser, kColumnDescription);
  if (AtEmptyExpression(parser) || parser.CheckToken('=')) RaiseSqlError("Table column name is empty");
  parser.MarkExpressionLiteral();
  field.Column = parser.ParseExpression8(pmAllowAllFields);
  LinkParents(field.Column.get());
  field.ColumnText = CutToLength(parser.ExpressionAsString(), kMaxShortString);
  TurnStringIntoColumn(*field.Column);
  NameColumnItem(field);
}

void TDataQuery::ParseUpdateValueExpression(TUpdateValue& value) {
  TExpressionParser& parser = statement_.Parser();
  TDescriptionScope description(parser, kValueDescription);
  if (AtEmptyExpression(parser)) RaiseSqlError("Value expression is empty");
  parser.MarkExpressionLiteral();
  value.Expression = parser.ParseExpression1(pmAllowParameters);
  LinkParents(value.Expression.get());
  value.ValueText = CutToLength(parser.ExpressionAsString(), kMaxShortString);
}

// --- DELETE ----------------------------------------------------------------------------------

void TDataQuery::ParseDeleteQuery() {
  TExpressionParser& parser = statement_.Parser();
  parser.NextToken();  // DELETE
  if (!parser.CheckTokenSymbol("FROM")) RaiseFoundError(parser, "FROM keyword expected, instead found '");
  parser.NextToken();
  // The source tables as SELECT reads them; the first is the table whose rows
  // are deleted.
  AddSourceTable(ParseSourceTable("Table name expected after FROM keyword, instead found '"), /*first=*/false);
  const TSourceTable* target = SourceTables.front().get();
  ParseJoinClauses();
  while (parser.CheckToken(',')) {
    parser.NextToken();
    HasJoins = true;
    AddSourceTable(ParseSourceTable("Table name expected after FROM keyword, instead found '"), /*first=*/false);
    ParseJoinClauses();
  }
  RefuseRightJoins(*this, target, "DELETE");
  if (parser.CheckTokenSymbol("WHERE")) {
    parser.NextToken();
    AndInto(WhereTree, ParseWhereExpression(/*isWhere=*/true));
    HasWhere = true;
  }
  ParseCommitClause(parser, *this);
  if (parser.CheckTokenSymbol("NOJOINOPTIMIZE")) {
    NoJoinOptimize = true;
    parser.NextToken();
  }
  ParseStatementEnd(parser, "End of DELETE statement expected, instead found '");
}

}  // namespace tarn
