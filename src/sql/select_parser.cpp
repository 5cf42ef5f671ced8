// Statement dispatch and the SELECT grammar: TDataQuery::ParseQuery chooses
// the statement kind from the first keywords, and ParseSelectQuery reads one
// SELECT (select list, INTO, FROM with joins, WHERE, UNION, GROUP BY, HAVING,
// ORDER BY and the result options) from the statement's shared tokenizer into
// the query. The ON conditions are marked as join expressions here; turning
// them into joins, checking names against the tables and running the query
// belong to preparation and execution.
#include <charconv>
#include <initializer_list>
#include <limits>
#include <string>
#include <string_view>

#include "core/errors.h"
#include "expressions/exp_token_stack.h"
#include "expressions/expression_messages.h"
#include "expressions/expression_parser.h"
#include "platform/code_page.h"
#include "sql/data_query.h"
#include "sql/query_statement.h"
#include "sql/sql_grammar.h"
#include "storage/formats/data_types.h"
#include "storage/keys/languages.h"

namespace tarn {

using namespace sql_grammar;

namespace {

constexpr std::string_view kColumnDescription = "source column expression";
constexpr std::string_view kWhereDescription = "WHERE or JOIN clause";
constexpr std::string_view kHavingDescription = "HAVING clause";

// ALTER TABLE is recognised (its kind is set) but its grammar comes with
// table restructuring: it stops here.
[[noreturn]] void ParseStatementNotBuilt(std::string_view keyword) {
  std::string text(keyword);
  text += " statements are not supported yet";
  RaiseSqlError(text);
}

// Words that end a table reference instead of becoming its correlation name,
// for the statement kind that reads the table. ON is among them so that a
// joined table can be followed by its condition; FULL is not, so that it
// names the table it follows.
bool EndsTableReference(const TExpressionParser& parser, TStatementKind kind) {
  if (kind == skUpdate || kind == skDelete) {
    return IsAnySymbol(parser,
                       {"LEFT", "RIGHT", "INNER", "JOIN", "ON", "WHERE", "NOAUTOINC", "COMMIT", "NOJOINOPTIMIZE"});
  }
  return IsAnySymbol(parser, {"LEFT", "RIGHT", "INNER", "JOIN", "ON", "WHERE", "UNION", "ORDER", "GROUP", "HAVING",
                              "TOP", "RANGE", "WITH", "ENCRYPTED", "LANGUAGE", "NOJOINOPTIMIZE"});
}

// The statement name the join messages use.
std::string_view StatementWord(TStatementKind kind) {
  switch (kind) {
    case skUpdate:
      return "UPDATE";
    case skDelete:
      return "DELETE";
    default:
      return "SELECT";
  }
}

bool IsComparison(const TExpToken& node) {
  return node.NodeClass == enBINARY && node.Operator >= eoEQ && node.Operator <= eoLE;
}

// Calls visit for every node of the tree (operands and arguments), without
// recursing, so long chains are safe.
template <typename Visit>
void VisitTree(TExpToken* root, Visit visit) {
  std::vector<TExpToken*> pending;
  if (root != nullptr) pending.push_back(root);
  while (!pending.empty()) {
    TExpToken* node = pending.back();
    pending.pop_back();
    visit(*node);
    if (node->Left) pending.push_back(node->Left.get());
    if (node->Right) pending.push_back(node->Right.get());
    if (node->ThirdOperand) pending.push_back(node->ThirdOperand.get());
    for (const auto& argument : node->Arguments) {
      if (argument) pending.push_back(argument.get());
    }
  }
}

bool ContainsColumn(TExpToken* root) {
  bool found = false;
  VisitTree(root, [&](TExpToken& node) { found = found || node.NodeClass == enFIELD; });
  return found;
}

bool IsAggregate(const TExpToken& node) {
  if (node.NodeClass != enFUNC) return false;
  switch (node.Operator) {
    case eoSUM:
    case eoRUNSUM:
    case eoMIN:
    case eoMAX:
    case eoAVG:
    case eoCOUNT:
      return true;
    default:
      return false;
  }
}

bool ContainsAggregate(TExpToken* root) {
  bool found = false;
  VisitTree(root, [&](TExpToken& node) { found = found || IsAggregate(node); });
  return found;
}

TResultCalculation CalculationOf(TExpOperator op) {
  switch (op) {
    case eoSUM:
      return rcSum;
    case eoRUNSUM:
      return rcRunSum;
    case eoMIN:
      return rcMin;
    case eoMAX:
      return rcMax;
    case eoAVG:
      return rcAvg;
    case eoCOUNT:
      return rcCount;
    default:
      return rcNone;
  }
}

// Joins part to tree with AND, tree on the left (the order read).
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

// The value of an integer token in [low, high]; false when it is out of
// range or not a plain integer.
bool ReadIntegerToken(const TExpressionParser& parser, std::int64_t low, std::int64_t high, std::int64_t& value) {
  if (!parser.CheckToken(tkInteger)) return false;
  const std::string text = parser.TokenAsString();
  const char* last = text.data() + text.size();
  const auto [ptr, ec] = std::from_chars(text.data(), last, value);
  return ec == std::errc() && ptr == last && value >= low && value <= high;
}

// Sub-selects and UNION parts are read by recursion: their depth on this
// thread is bounded like the nesting of expressions, so that hostile text
// raises instead of exhausting the stack. A statement is parsed on one thread.
thread_local int selectNesting = 0;

class TSelectNestingGuard {
 public:
  explicit TSelectNestingGuard(const TExpressionParser& parser) {
    ++selectNesting;
    if (selectNesting > kMaxExpressionNesting) {
      --selectNesting;
      parser.RaiseParseError(expmsg::kNestedTooDeeply);
    }
  }
  ~TSelectNestingGuard() { --selectNesting; }
  TSelectNestingGuard(const TSelectNestingGuard&) = delete;
  TSelectNestingGuard& operator=(const TSelectNestingGuard&) = delete;
};

}  // namespace

// --- statement dispatch ---------------------------------------------------------------

void TDataQuery::ParseQuery(bool subSelect, bool unionPart) {
  TExpressionParser& parser = statement_.Parser();
  IsSubSelect = IsSubSelect || subSelect;
  IsUnionPart = IsUnionPart || unionPart;
  if (subSelect || unionPart) {
    if (!parser.CheckTokenSymbol("SELECT")) RaiseFoundError(parser, "SELECT keyword expected, instead found '");
    ParseSelectQuery();
    return;
  }
  if (parser.CheckTokenSymbol("SELECT")) {
    ParseSelectQuery();
    return;
  }
  if (parser.CheckTokenSymbol("INSERT")) {
    Kind = skInsert;
    ParseInsertQuery();
    return;
  }
  if (parser.CheckTokenSymbol("UPDATE")) {
    Kind = skUpdate;
    ParseUpdateQuery();
    return;
  }
  if (parser.CheckTokenSymbol("DELETE")) {
    Kind = skDelete;
    ParseDeleteQuery();
    return;
  }
  // CREATE, ALTER and DROP look at their second word without taking it: the
  // statement's own grammar starts there.
  if (parser.CheckTokenSymbol("CREATE")) {
    parser.NextToken();
    if (parser.CheckTokenSymbol("TABLE")) {
      Kind = skCreateTable;
      ParseCreateTableQuery();
    } else if (IsAnySymbol(parser, {"INDEX", "IF", "UNIQUE", "ASC", "ASCENDING", "DESC", "DESCENDING", "NOCASE"})) {
      Kind = skCreateIndex;
      ParseCreateIndexQuery();
    } else {
      RaiseFoundError(parser, "TABLE or INDEX keyword expected, instead found '");
    }
    return;
  }
  if (parser.CheckTokenSymbol("ALTER")) {
    parser.NextToken();
    if (!parser.CheckTokenSymbol("TABLE")) RaiseFoundError(parser, "TABLE keyword expected, instead found '");
    Kind = skAlterTable;
    ParseStatementNotBuilt("ALTER");
  }
  if (parser.CheckTokenSymbol("DROP")) {
    parser.NextToken();
    if (parser.CheckTokenSymbol("TABLE")) {
      Kind = skDropTable;
      ParseDropTableQuery();
    } else if (parser.CheckTokenSymbol("INDEX")) {
      Kind = skDropIndex;
      ParseDropIndexQuery();
    } else {
      RaiseFoundError(parser, "TABLE or INDEX keyword expected, instead found '");
    }
    return;
  }
  RaiseFoundError(parser, "SELECT, INSERT, UPDATE, DELETE, CREATE, ALTER, or DROP keyword expected, instead found '");
}

// --- SELECT -------------------------------------------------------------------------------

void TDataQuery::ParseSelectQuery() {
  TExpressionParser& parser = statement_.Parser();
  const TSelectNestingGuard nesting(parser);
  const bool master = !IsSubSelect && !IsUnionPart;
  Kind = skSelect;
  parser.NextToken();  // SELECT

  if (parser.CheckTokenSymbol("ALL")) parser.NextToken();
  if (parser.CheckTokenSymbol("DISTINCT")) {
    Distinct = true;
    parser.NextToken();
  }

  ParseSelectList();

  if (parser.CheckTokenSymbol("INTO")) {
    if (!master) RaiseSqlError("The INTO clause can only be used with the master query");
    ParseIntoClause();
  }

  if (!parser.CheckTokenSymbol("FROM")) RaiseFoundError(parser, "FROM keyword expected, instead found '");
  parser.NextToken();
  ParseFromClause();

  if (parser.CheckTokenSymbol("WHERE")) {
    parser.NextToken();
    AndInto(WhereTree, ParseWhereExpression(/*isWhere=*/true));
    HasWhere = true;
  }
  ParseWithLocks();
  if (parser.CheckTokenSymbol("NOJOINOPTIMIZE")) {
    NoJoinOptimize = true;
    parser.NextToken();
  }
  if (parser.CheckTokenSymbol("UNION")) {
    parser.NextToken();
    if (parser.CheckTokenSymbol("ALL")) {
      UnionType = utUnionAll;
      parser.NextToken();
    } else {
      UnionType = utUnion;
      Distinct = true;
    }
    TDataQuery& part = statement_.NewQuery();
    UnionPart = &part;
    part.ParseQuery(/*subSelect=*/false, /*unionPart=*/true);
  }
  // A UNION part ends here: what follows belongs to the query it follows.
  if (IsUnionPart) return;

  if (parser.CheckTokenSymbol("GROUP")) {
    parser.NextToken();
    if (!parser.CheckTokenSymbol("BY"))
      RaiseFoundError(parser, "BY keyword expected after GROUP keyword, instead found '");
    parser.NextToken();
    HasGroupBy = true;
    for (;;) {
      TGroupByField item;
      ParseColumnReference(item, "Column name or column number expected in GROUP BY clause, instead found '");
      GroupBy.push_back(std::move(item));
      if (!parser.CheckToken(',')) break;
      parser.NextToken();
    }
  }

  if (parser.CheckTokenSymbol("HAVING")) {
    parser.NextToken();
    HavingTree = ParseHavingExpression();
    HasHaving = true;
  }

  if (parser.CheckTokenSymbol("ORDER")) {
    parser.NextToken();
    if (!parser.CheckTokenSymbol("BY"))
      RaiseFoundError(parser, "BY keyword expected after ORDER keyword, instead found '");
    parser.NextToken();
    HasOrderBy = true;
    for (;;) {
      TOrderByField item;
      ParseColumnReference(item, "Column name or column number expected in ORDER BY clause, instead found '");
      if (IsAnySymbol(parser, {"ASC", "ASCENDING"})) {
        parser.NextToken();
      } else if (IsAnySymbol(parser, {"DESC", "DESCENDING"})) {
        item.Descending = true;
        parser.NextToken();
      }
      OrderBy.push_back(std::move(item));
      if (!parser.CheckToken(',')) break;
      parser.NextToken();
    }
    if (parser.CheckTokenSymbol("NOCASE")) {
      CaseInsensitiveOrder = true;
      parser.NextToken();
    }
  }

  if (parser.CheckTokenSymbol("TOP")) {
    parser.NextToken();
    std::int64_t count = 0;
    if (!ReadIntegerToken(parser, 0, std::numeric_limits<std::int64_t>::max(), count)) {
      RaiseFoundError(parser, "Integer value expected after TOP keyword, instead found '");
    }
    Top = count;
    parser.NextToken();
  }

  ParseWithLocks();

  if (parser.CheckTokenSymbol("LANGUAGE")) {
    parser.NextToken();
    const std::string language = parser.TokenAsString();
    if ((!parser.CheckToken(tkIdentifier) && !parser.CheckToken(tkQuotedString)) ||
        !IsValidLanguageConstant(language)) {
      RaiseSqlError("Invalid language constant '" + language + "'" + " specified after LANGUAGE keyword");
    }
    LanguageID = ConvertLanguageConstantToID(language);
    LanguageGiven = true;
    parser.NextToken();
    if (parser.CheckTokenSymbol("SORT")) {
      parser.NextToken();
      const std::string sort = parser.TokenAsString();
      if ((!parser.CheckToken(tkIdentifier) && !parser.CheckToken(tkQuotedString)) ||
          !IsValidSortConstant(LanguageID, sort)) {
        RaiseSqlError("Invalid sort constant '" + sort + "'" + " specified after SORT keyword");
      }
      SortID = ConvertSortConstantToID(LanguageID, sort);
      SortGiven = true;
      parser.NextToken();
    }
  }

  if (parser.CheckTokenSymbol("ENCRYPTED")) {
    parser.NextToken();
    if (!parser.CheckTokenSymbol("WITH")) {
      RaiseFoundError(parser, "WITH keyword expected after ENCRYPTED keyword, instead found '");
    }
    parser.NextToken();
    Password = parser.TokenAsString();
    Encrypted = !Password.empty();
    parser.NextToken();
  }

  if (parser.CheckTokenSymbol("NOJOINOPTIMIZE")) {
    NoJoinOptimize = true;
    parser.NextToken();
  }

  // A sub-select returns to the IN that called it, which expects its closing
  // parenthesis.
  if (!master) return;
  if (parser.CheckToken(';')) {
    parser.NextToken();
  } else if (!parser.CheckToken(tkEndOfText)) {
    RaiseFoundError(parser, "End of SELECT statement expected, instead found '");
  }
}

void TDataQuery::ParseSelectList() {
  TExpressionParser& parser = statement_.Parser();
  for (;;) {
    TResultField field;
    ParseSelectColumnExpression(field);
    bool aliased = false;
    if (parser.CheckTokenSymbol("AS")) {
      parser.NextToken();
      if (!IsNameToken(parser)) RaiseFoundError(parser, "Symbol or string expected after AS keyword, instead found '");
      aliased = true;
    } else if (IsNameToken(parser) && !parser.CheckTokenSymbol("INTO") && !parser.CheckTokenSymbol("FROM")) {
      aliased = true;
    }
    if (aliased) {
      field.Alias = CutToLength(parser.TokenAsString(), kMaxShortString);
      field.NoAlias = false;
      parser.NextToken();
      // "alias.name": the name after the '.' is the alias.
      if (parser.CheckToken('.')) {
        parser.NextToken();
        if (!IsNameToken(parser)) {
          RaiseFoundError(parser, "Symbol or string expected after table correlation name, instead found '");
        }
        field.Alias = CutToLength(parser.TokenAsString(), kMaxShortString);
        parser.NextToken();
      }
    }
    ResultFields.push_back(std::move(field));
    if (!parser.CheckToken(',')) break;
    parser.NextToken();
  }
  const TResultField& first = ResultFields.front();
  SelectStar = ResultFields.size() == 1 && first.Expression && first.Expression->NodeClass == enFIELD &&
               first.Expression->TableName.empty() && first.Expression->FieldName == "*";
}

void TDataQuery::ParseSelectColumnExpression(TResultField& field) {
  TExpressionParser& parser = statement_.Parser();
  TDescriptionScope description(parser, kColumnDescription);
  // The select list ends at FROM or INTO: an item that starts there is empty.
  if (AtEmptyExpression(parser) || parser.CheckTokenSymbol("FROM") || parser.CheckTokenSymbol("INTO")) {
    RaiseSqlError("Source column expression is empty");
  }
  parser.MarkExpressionLiteral();
  field.Expression = parser.ParseExpression1(pmAllowAggregates | pmAllowAllFields | pmAllowExtPredicates);
  LinkParents(field.Expression.get());
  field.ExpressionText = CutToLength(parser.ExpressionAsString(), kMaxShortString);
  TExpToken& root = *field.Expression;
  if (root.NodeClass == enFIELD) {
    field.TableName = root.TableName;
    field.ColumnName = root.FieldName;
    return;
  }
  if (IsAggregate(root)) {
    field.Calculation = CalculationOf(root.Operator);
    TExpToken* argument = root.Arguments.empty() ? nullptr : root.Arguments.front().get();
    if (ContainsAggregate(argument)) RaiseSqlError("Aggregate functions cannot be nested");
    if (argument != nullptr && argument->NodeClass == enFIELD) {
      field.TableName = argument->TableName;
      field.ColumnName = argument->FieldName;
    } else {
      field.Computed = true;
      HasComputedColumns = true;
    }
    if (field.Calculation == rcAvg) HasAverages = true;
    return;
  }
  if (ContainsAggregate(&root)) RaiseSqlError("Aggregate functions cannot be used within expressions");
  field.Computed = true;
  HasComputedColumns = true;
}

void TDataQuery::ParseIntoClause() {
  TExpressionParser& parser = statement_.Parser();
  parser.NextToken();  // INTO
  auto isTableName = [&] {
    return (parser.CheckToken(tkIdentifier) && !parser.CheckTokenSymbol("FROM")) || parser.CheckToken(tkQuotedString);
  };
  if (parser.CheckTokenSymbol("MEMORY")) {
    InMemoryResult = true;
    parser.NextToken();
    // Without a name the result table gets a generated one.
    if (isTableName()) {
      ResultTableName = CutToLength(parser.TokenAsString(), kMaxShortString);
      parser.NextToken();
    }
  } else {
    if (!isTableName()) RaiseFoundError(parser, "Result table name expected in INTO clause, instead found '");
    ResultTableName = CutToLength(parser.TokenAsString(), kMaxShortString);
    parser.NextToken();
  }
  RequestLive = false;
}

void TDataQuery::ParseFromClause() {
  TExpressionParser& parser = statement_.Parser();
  for (;;) {
    AddSourceTable(ParseSourceTable("Table name expected after FROM keyword, instead found '"), /*first=*/false);
    ParseJoinClauses();
    if (!parser.CheckToken(',')) break;
    parser.NextToken();
    HasJoins = true;
  }
}

void TDataQuery::ParseJoinClauses() {
  TExpressionParser& parser = statement_.Parser();
  bool afterJoin = false;
  for (;;) {
    if (afterJoin && parser.CheckTokenSymbol("FULL")) {
      RaiseSqlError("Full outer joins are currently not supported in Tarn SQL " + std::string(StatementWord(Kind)) +
                    " statements");
    }
    TJoinType type;
    if (parser.CheckTokenSymbol("JOIN")) {
      type = jtInner;
    } else if (parser.CheckTokenSymbol("INNER")) {
      type = jtInner;
      parser.NextToken();
      if (!parser.CheckTokenSymbol("JOIN")) {
        RaiseFoundError(parser, "JOIN keyword expected after INNER keyword, instead found '");
      }
    } else if (parser.CheckTokenSymbol("LEFT") || parser.CheckTokenSymbol("RIGHT")) {
      const bool left = parser.CheckTokenSymbol("LEFT");
      type = left ? jtLeftOuter : jtRightOuter;
      parser.NextToken();
      if (parser.CheckTokenSymbol("OUTER")) parser.NextToken();
      if (!parser.CheckTokenSymbol("JOIN")) {
        RaiseFoundError(parser, left ? "JOIN keyword expected after LEFT or OUTER keyword, instead found '"
                                     : "JOIN keyword expected after RIGHT or OUTER keyword, instead found '");
      }
    } else {
      return;
    }
    parser.NextToken();  // JOIN
    HasJoins = true;
    // A right outer join's table is placed first, so that it drives and the
    // join becomes a left outer join from it.
    AddSourceTable(ParseSourceTable("Table name expected after JOIN keyword, instead found '"),
                   /*first=*/type == jtRightOuter);
    if (!parser.CheckTokenSymbol("ON")) RaiseFoundError(parser, "ON keyword expected in JOIN clause, instead found '");
    parser.NextToken();
    TExpTokenPtr condition = ParseWhereExpression(/*isWhere=*/false);
    PrepareNextJoinExpression(type, condition.get());
    AndInto(WhereTree, std::move(condition));
    HasWhere = true;
    afterJoin = true;
  }
}

std::unique_ptr<TSourceTable> TDataQuery::ParseSourceTable(std::string_view missingNameMessage) {
  TExpressionParser& parser = statement_.Parser();
  auto table = std::make_unique<TSourceTable>();
  if (parser.CheckTokenSymbol("MEMORY")) {
    table->InMemory = true;
    parser.NextToken();
  }
  // A bracketed name is not a table name.
  if (!parser.CheckToken(tkIdentifier) && !parser.CheckToken(tkQuotedString)) {
    RaiseFoundError(parser, missingNameMessage);
  }
  table->SetTableName(parser.TokenAsString());
  if (table->InMemory) table->DatabaseName = "Memory";
  parser.NextToken();
  if (parser.CheckTokenSymbol("AS")) {
    parser.NextToken();
    if (!IsNameToken(parser)) RaiseFoundError(parser, "Symbol or string expected after AS keyword, instead found '");
    table->SetAliasName(parser.TokenAsString());
    parser.NextToken();
  } else if ((parser.CheckToken(tkIdentifier) && !EndsTableReference(parser, Kind)) ||
             parser.CheckToken(tkQuotedString)) {
    table->SetAliasName(parser.TokenAsString());
    parser.NextToken();
  }
  CheckForDuplicateSourceTable(table->CorrelationName, *table);
  return table;
}

void TDataQuery::AddSourceTable(std::unique_ptr<TSourceTable> table, bool first) {
  if (first) {
    SourceTables.insert(SourceTables.begin(), std::move(table));
  } else {
    SourceTables.push_back(std::move(table));
  }
  int position = 0;
  for (const auto& source : SourceTables) {
    source->Position = ++position;
    source->JoinOrder = position;
  }
}

void TDataQuery::CheckForDuplicateSourceTable(const std::string& name, const TSourceTable& table) const {
  for (const auto& source : SourceTables) {
    if (source.get() != &table && AnsiSameText(source->CorrelationName, name)) {
      RaiseSqlError("Duplicate table correlation name '" + name + "'" + " found in source tables");
    }
  }
}

void TDataQuery::ParseWithLocks() {
  TExpressionParser& parser = statement_.Parser();
  if (!parser.CheckTokenSymbol("WITH")) return;
  parser.NextToken();
  if (!parser.CheckTokenSymbol("LOCKS"))
    RaiseFoundError(parser, "LOCKS keyword expected after WITH keyword, instead found '");
  parser.NextToken();
  WithLocks = true;
}

void TDataQuery::ParseColumnReference(TGroupByField& item, std::string_view missingMessage) {
  TExpressionParser& parser = statement_.Parser();
  if (parser.CheckToken(tkInteger)) {
    std::int64_t number = 0;
    if (!ReadIntegerToken(parser, 1, std::numeric_limits<std::uint16_t>::max(), number)) {
      RaiseFoundError(parser, missingMessage);
    }
    item.ColumnNumber = static_cast<std::uint16_t>(number);
    parser.NextToken();
    return;
  }
  if (!IsNameToken(parser)) RaiseFoundError(parser, missingMessage);
  item.ColumnName = CutToLength(parser.TokenAsString(), kMaxShortString);
  parser.NextToken();
  if (!parser.CheckToken('.')) return;
  parser.NextToken();
  if (!IsNameToken(parser)) RaiseFoundError(parser, missingMessage);
  item.TableName = std::move(item.ColumnName);
  item.ColumnName = CutToLength(parser.TokenAsString(), kMaxShortString);
  parser.NextToken();
}

TExpTokenPtr TDataQuery::ParseWhereExpression(bool isWhere) {
  TExpressionParser& parser = statement_.Parser();
  TDescriptionScope description(parser, kWhereDescription);
  if (AtEmptyExpression(parser)) RaiseSqlError("WHERE or JOIN clause is empty");
  TParseModifiers modifiers = pmAllowExtPredicates | pmAllowParameters;
  if (isWhere) modifiers |= pmAllowSubSelects;
  TExpTokenPtr tree = parser.ParseExpression1(modifiers);
  LinkParents(tree.get());
  return tree;
}

TExpTokenPtr TDataQuery::ParseHavingExpression() {
  TExpressionParser& parser = statement_.Parser();
  TDescriptionScope description(parser, kHavingDescription);
  if (AtEmptyExpression(parser)) RaiseSqlError("HAVING clause is empty");
  TExpTokenPtr tree = parser.ParseExpression1(pmAllowAggregates);
  LinkParents(tree.get());
  return tree;
}

void TDataQuery::PrepareNextJoinExpression(TJoinType joinType, TExpToken* node) {
  VisitTree(node, [&](TExpToken& at) {
    at.IsJoinExpression = true;
    if (IsComparison(at) && ContainsColumn(at.Left.get()) && ContainsColumn(at.Right.get())) at.JoinType = joinType;
  });
}

}  // namespace tarn
