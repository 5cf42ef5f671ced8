// The grammar of CREATE TABLE, CREATE INDEX, DROP TABLE and DROP INDEX: reads
// one statement from the statement's shared tokenizer into the query's column
// and index descriptions and table options. Names are not checked against any
// table here; that happens when the statement runs.
#include <charconv>
#include <cstring>
#include <initializer_list>
#include <limits>
#include <string>
#include <string_view>

#include "core/errors.h"
#include "expressions/exp_token_stack.h"
#include "expressions/expression_evaluator.h"
#include "expressions/expression_parser.h"
#include "expressions/expression_verifier.h"
#include "platform/code_page.h"
#include "sql/data_query.h"
#include "sql/query_statement.h"
#include "sql/sql_grammar.h"
#include "storage/formats/data_types.h"
#include "storage/formats/index_definition.h"
#include "storage/keys/languages.h"

namespace tarn {

using namespace sql_grammar;

namespace {

constexpr std::string_view kTableColumnDescription = "table column";
constexpr std::string_view kIndexColumnDescription = "index column";
constexpr std::string_view kCharacterSetDescription = "character set";
constexpr std::string_view kAutoIncDescription = "next auto-increment number";
constexpr std::string_view kIndexNameDescription = "index name expression";

// Takes the keyword when it is the current token, else raises message.
void ExpectSymbol(TExpressionParser& parser, std::string_view word, std::string_view message) {
  if (!parser.CheckTokenSymbol(word)) RaiseFoundError(parser, message);
  parser.NextToken();
}

void ExpectCharacter(TExpressionParser& parser, char character, std::string_view message) {
  if (!parser.CheckToken(character)) RaiseFoundError(parser, message);
  parser.NextToken();
}

// The text of one value token (a quoted string without its quotes), taken.
std::string TakeValue(TExpressionParser& parser) {
  std::string value = CutToLength(parser.TokenAsString(), kMaxShortString);
  parser.NextToken();
  return value;
}

// The value of an integer token in [low, high], taken; message otherwise.
std::int64_t TakeInteger(TExpressionParser& parser, std::int64_t low, std::int64_t high, std::string_view message) {
  std::int64_t value = 0;
  bool valid = parser.CheckToken(tkInteger);
  if (valid) {
    const std::string text = parser.TokenAsString();
    const char* last = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), last, value);
    valid = ec == std::errc() && ptr == last && value >= low && value <= high;
  }
  if (!valid) RaiseFoundError(parser, message);
  parser.NextToken();
  return value;
}

// The name a parsed primary stands for: a quoted string gives its text, any
// other node its column name (empty for a node that names nothing).
std::string NodeName(const TExpToken& node) {
  if (node.NodeClass == enCONST && node.DataType == dtString && !node.IsNull) return node.StringValue();
  return node.FieldName;
}

// An identifier or a quoted string can name a table.
bool AtTableName(const TExpressionParser& parser) {
  return parser.CheckToken(tkIdentifier) || parser.CheckToken(tkQuotedString);
}

// Reads [MEMORY] name into the query; missingMessage when no name follows
// the statement's keywords.
void ParseDefinitionTableName(TExpressionParser& parser, TDataQuery& query, std::string_view missingMessage) {
  if (parser.CheckTokenSymbol("MEMORY")) {
    query.DefinitionInMemory = true;
    parser.NextToken();
    if (!AtTableName(parser)) RaiseFoundError(parser, "Table name expected, instead found '");
  } else if (!AtTableName(parser)) {
    RaiseFoundError(parser, missingMessage);
  }
  query.DefinitionTableName = CutToLength(parser.TokenAsString(), kMaxShortString);
  parser.NextToken();
}

// ";" (taken) or the end of the text closes a statement.
void ParseStatementEnd(TExpressionParser& parser, std::string_view message) {
  if (parser.CheckToken(';')) {
    parser.NextToken();
  } else if (!parser.CheckToken(tkEndOfText)) {
    RaiseFoundError(parser, message);
  }
}

// Words that end the column list of CREATE TABLE where a column would start.
bool EndsColumnList(const TExpressionParser& parser) {
  return parser.CheckToken(')') ||
         IsAnySymbol(parser, {"CONSTRAINT", "PRIMARY", "UNIQUE", "ASC", "ASCENDING", "DESC", "DESCENDING", "NOCASE",
                              "TEXT", "DESCRIPTION", "BLOB", "LANGUAGE", "ENCRYPTED", "USER"});
}

// Words that start a primary key clause.
bool StartsPrimaryKey(const TExpressionParser& parser) {
  return IsAnySymbol(parser, {"CONSTRAINT", "PRIMARY", "UNIQUE", "ASC", "ASCENDING", "DESC", "DESCENDING", "NOCASE"});
}

// [UNIQUE] [ASC | ASCENDING | DESC | DESCENDING] [NOCASE] into index.
void ParseIndexAttributes(TExpressionParser& parser, TDataQuery::TCreateIndex& index) {
  if (parser.CheckTokenSymbol("UNIQUE")) {
    index.Unique = true;
    parser.NextToken();
  }
  if (IsAnySymbol(parser, {"ASC", "ASCENDING"})) {
    parser.NextToken();
  } else if (IsAnySymbol(parser, {"DESC", "DESCENDING"})) {
    index.Descending = true;
    parser.NextToken();
  }
  if (parser.CheckTokenSymbol("NOCASE")) {
    index.CaseInsensitive = true;
    parser.NextToken();
  }
}

// [COMPRESS FULL | DUPBYTE | TRAILBYTE | NONE] into index.
void ParseIndexCompression(TExpressionParser& parser, TDataQuery::TCreateIndex& index) {
  if (!parser.CheckTokenSymbol("COMPRESS")) return;
  parser.NextToken();
  if (parser.CheckTokenSymbol("FULL")) {
    index.Compression = icFull;
  } else if (parser.CheckTokenSymbol("DUPBYTE")) {
    index.Compression = icDuplicateByte;
  } else if (parser.CheckTokenSymbol("TRAILBYTE")) {
    index.Compression = icTrailingByte;
  } else if (parser.CheckTokenSymbol("NONE")) {
    index.Compression = icNone;
  } else {
    RaiseFoundError(parser,
                    "FULL, DUPBYTE, TRAILBYTE, or NONE keyword expected after COMPRESS keyword, instead found '");
  }
  parser.NextToken();
}

// "(" columns ")" of an index; the messages are those of the PRIMARY KEY
// clause, which CREATE INDEX shares.
void ParseIndexColumnList(TExpressionParser& parser, TDataQuery& query, TDataQuery::TCreateIndex& index,
                          std::string_view leftMessage, std::string_view rightMessage) {
  ExpectCharacter(parser, '(', leftMessage);
  for (;;) {
    query.ParseCreateIndexFieldExpression(index);
    if (!parser.CheckToken(',')) break;
    parser.NextToken();
  }
  ExpectCharacter(parser, ')', rightMessage);
}

// Splits the STOP WORDS value at blanks.
std::vector<std::string> SplitWords(std::string_view text) {
  std::vector<std::string> words;
  std::size_t pos = 0;
  while (pos < text.size()) {
    while (pos < text.size() && text[pos] == ' ') ++pos;
    const std::size_t start = pos;
    while (pos < text.size() && text[pos] != ' ') ++pos;
    if (pos > start) words.emplace_back(text.substr(start, pos - start));
  }
  return words;
}

}  // namespace

// --- items --------------------------------------------------------------------------

void TDataQuery::ParseCreateColumnExpression(TCreateField& field, bool create) {
  TExpressionParser& parser = statement_.Parser();
  const TDescriptionScope description(parser, kTableColumnDescription);
  if (AtEmptyExpression(parser)) RaiseSqlError("Table column name is empty");
  parser.MarkExpressionLiteral();
  const TExpTokenPtr column = parser.ParseExpression8(0);
  field.Name = CutToLength(NodeName(*column), kMaxShortString);

  TExpTokenPtr type = GetNewExpTokenInstance();
  parser.ParseDataTypeExpression(*type, 0, /*optional=*/!create);
  field.ColumnText = CutToLength(parser.ExpressionAsString(), kMaxShortString);
  if (type->DataType != 0) {
    VerifyDataTypeToken(TARN_SQLPARSE, statement_.Directory().Name(), DefinitionTableName, *type,
                        kTableColumnDescription);
    field.DataType = type->DataType;
    field.SubType = type->SubType;
    switch (type->DataType) {
      case dtString:
        field.Size = static_cast<std::uint8_t>(type->DataSize - 1);
        break;
      case dtBytes:
      case dtVarBytes:
        field.Size = static_cast<std::uint8_t>(type->DataSize);
        break;
      case dtBCD:
        field.Decimals = type->Decimals;
        break;
      default:
        break;
    }
  }

  // The options of a column directly followed by "," are not looked for.
  if (parser.CheckToken(',')) return;
  if (parser.CheckTokenSymbol("DESCRIPTION")) {
    parser.NextToken();
    field.Description = TakeValue(parser);
  }
  if (parser.CheckTokenSymbol("NOT")) {
    parser.NextToken();
    ExpectSymbol(parser, "NULL", "NULL keyword expected after NOT keyword, instead found '");
    field.Required = true;
  }
  if (parser.CheckTokenSymbol("DEFAULT")) {
    parser.NextToken();
    field.DefaultValue = TakeValue(parser);
  }
  if (IsAnySymbol(parser, {"MIN", "MINIMUM"})) {
    parser.NextToken();
    field.MinValue = TakeValue(parser);
  }
  if (IsAnySymbol(parser, {"MAX", "MAXIMUM"})) {
    parser.NextToken();
    field.MaxValue = TakeValue(parser);
  }
  if (parser.CheckTokenSymbol("CHARCASE")) {
    parser.NextToken();
    if (parser.CheckTokenSymbol("UPPER")) {
      field.CharCase = fcUpperCase;
    } else if (parser.CheckTokenSymbol("LOWER")) {
      field.CharCase = fcLowerCase;
    } else if (parser.CheckTokenSymbol("NOCHANGE")) {
      field.CharCase = fcNoChange;
    } else {
      RaiseFoundError(parser, "UPPER, LOWER, or NOCHANGE keyword expected after CHARCASE keyword, instead found '");
    }
    parser.NextToken();
  }
}

void TDataQuery::ParseCreateIndexFieldExpression(TCreateIndex& index) {
  TExpressionParser& parser = statement_.Parser();
  const TDescriptionScope description(parser, kIndexColumnDescription);
  if (AtEmptyExpression(parser)) RaiseSqlError("Index column name is empty");
  const TExpTokenPtr column = parser.ParseExpression8(0);
  // A key holds at most 16 fields: a longer list is refused before any
  // definition is built from it.
  if (index.Columns.size() >= kMaxKeyFields) {
    RaiseSqlError("Maximum number of index columns (" + std::to_string(kMaxKeyFields) + ") exceeded");
  }
  index.Columns.push_back(CutToLength(NodeName(*column), kMaxShortString));
}

void TDataQuery::ParseCreatePrimaryKey() {
  TExpressionParser& parser = statement_.Parser();
  TCreateIndex index;
  if (parser.CheckTokenSymbol("CONSTRAINT")) {
    // The constraint name is not kept.
    parser.NextToken();
    parser.NextToken();
  }
  ParseIndexAttributes(parser, index);
  ExpectSymbol(parser, "PRIMARY", "PRIMARY keyword expected, instead found '");
  ExpectSymbol(parser, "KEY", "KEY keyword expected after PRIMARY keyword, instead found '");
  ParseIndexColumnList(parser, *this, index, "Left parentheses expected after KEY keyword, instead found '",
                       "Right parentheses expected after PRIMARY KEY clause, instead found '");
  ParseIndexCompression(parser, index);
  CreateIndexes.push_back(std::move(index));
}

std::int32_t TDataQuery::ParseCreateAutoIncExpression() {
  TExpressionParser& parser = statement_.Parser();
  const TDescriptionScope description(parser, kAutoIncDescription);
  if (AtEmptyExpression(parser)) RaiseSqlError("Next auto-increment number is empty");
  const TExpTokenPtr term = parser.ParseExpression7(0);
  // An integer constant, with its sign when one is written, gives the value;
  // any other term gives 0.
  const TExpToken* constant = term.get();
  bool negative = false;
  if (constant->NodeClass == enUNARY && (constant->Operator == eoMINUS || constant->Operator == eoPLUS) &&
      constant->Left) {
    negative = constant->Operator == eoMINUS;
    constant = constant->Left.get();
  }
  if (constant->NodeClass != enCONST || constant->IsNull) return 0;
  std::int64_t value = 0;
  if (constant->DataType == dtInteger) {
    std::int32_t small = 0;
    std::memcpy(&small, constant->ValueData(), sizeof small);
    value = small;
  } else if (constant->DataType == dtLargeInt) {
    std::memcpy(&value, constant->ValueData(), sizeof value);
  } else {
    return 0;
  }
  if (negative) value = -value;
  if (value < std::numeric_limits<std::int32_t>::min() || value > std::numeric_limits<std::int32_t>::max()) return 0;
  return static_cast<std::int32_t>(value);
}

std::bitset<256> TDataQuery::ParseCreateCharSetExpression() {
  TExpressionParser& parser = statement_.Parser();
  const TDescriptionScope description(parser, kCharacterSetDescription);
  if (AtEmptyExpression(parser)) RaiseSqlError("Character set is empty");
  TExpTokenPtr tree = parser.ParseExpression5(0);
  // Evaluated without columns: a column in the set is an unknown name.
  VerifyExpressionToken(TARN_SQLPARSE, statement_.Directory().Name(), DefinitionTableName, false, nullptr, nullptr,
                        nullptr, *tree, kCharacterSetDescription);
  if (tree->DataType != dtString) RaiseSqlError("Character set must be a string expression");
  const TExpTokenPtr value = EvaluateExpressionToken(*tree, nullptr, nullptr, nullptr, 0, 0);
  std::bitset<256> set;
  if (!value->IsNull) {
    for (const char c : value->StringValue()) set.set(static_cast<unsigned char>(c));
  }
  return set;
}

void TDataQuery::ParseCreateTableOptions() {
  TExpressionParser& parser = statement_.Parser();
  if (parser.CheckTokenSymbol("TEXT")) {
    parser.NextToken();
    ExpectSymbol(parser, "INDEX", "INDEX keyword expected after TEXT keyword, instead found '");
    HasTextIndex = true;
    ParseIndexColumnList(parser, *this, TextIndex, "Left parentheses expected after TEXTINDEX keyword, instead found '",
                         "Right parentheses expected after TEXT INDEX clause, instead found '");
    if (parser.CheckTokenSymbol("STOP")) {
      parser.NextToken();
      ExpectSymbol(parser, "WORDS", "WORDS keyword expected after STOP keyword, instead found '");
      StopWordsGiven = true;
      StopWords = SplitWords(TakeValue(parser));
    }
    if (parser.CheckTokenSymbol("SPACE")) {
      parser.NextToken();
      ExpectSymbol(parser, "CHARS", "CHARS keyword expected after SPACE keyword, instead found '");
      SpaceChars = ParseCreateCharSetExpression();
    }
    if (parser.CheckTokenSymbol("INCLUDE")) {
      parser.NextToken();
      ExpectSymbol(parser, "CHARS", "CHARS keyword expected after INCLUDE keyword, instead found '");
      IncludeChars = ParseCreateCharSetExpression();
    }
  }
  if (parser.CheckTokenSymbol("DESCRIPTION")) {
    parser.NextToken();
    TableDescription = TakeValue(parser);
  }
  if (parser.CheckTokenSymbol("BLOB")) {
    parser.NextToken();
    ExpectSymbol(parser, "BLOCK", "BLOCK keyword expected after BLOB keyword, instead found '");
    ExpectSymbol(parser, "SIZE", "SIZE keyword expected after BLOCK keyword, instead found '");
    BlobBlockSize =
        static_cast<std::uint16_t>(TakeInteger(parser, 0, std::numeric_limits<std::uint16_t>::max(),
                                               "Integer value expected after SIZE keyword, instead found '"));
  }
  if (parser.CheckTokenSymbol("LANGUAGE")) {
    parser.NextToken();
    const std::string language = parser.TokenAsString();
    if (!AtTableName(parser) || !IsValidLanguageConstant(language)) {
      RaiseSqlError("Invalid language constant '" + language + "'" + " specified after LANGUAGE keyword");
    }
    LanguageID = ConvertLanguageConstantToID(language);
    LanguageGiven = true;
    SortID = 0;
    parser.NextToken();
    if (parser.CheckTokenSymbol("SORT")) {
      parser.NextToken();
      const std::string sort = parser.TokenAsString();
      if (!AtTableName(parser) || !IsValidSortConstant(LanguageID, sort)) {
        RaiseSqlError("Invalid sort constant '" + sort + "'" + " specified after SORT keyword");
      }
      SortID = ConvertSortConstantToID(LanguageID, sort);
      SortGiven = true;
      parser.NextToken();
    }
  }
  if (parser.CheckTokenSymbol("ENCRYPTED")) {
    parser.NextToken();
    ExpectSymbol(parser, "WITH", "WITH keyword expected after ENCRYPTED keyword, instead found '");
    Password = TakeValue(parser);
    Encrypted = !Password.empty();
  }
  // USER MAJOR VERSION n, then USER MINOR VERSION n; USER MINOR alone skips
  // the major version.
  bool minorPending = false;
  if (parser.CheckTokenSymbol("USER")) {
    parser.NextToken();
    if (parser.CheckTokenSymbol("MINOR")) {
      minorPending = true;
    } else {
      ExpectSymbol(parser, "MAJOR", "MAJOR keyword expected after USER keyword, instead found '");
      ExpectSymbol(parser, "VERSION", "VERSION keyword expected after MAJOR keyword, instead found '");
      UserMajorVersion =
          static_cast<std::uint16_t>(TakeInteger(parser, 0, std::numeric_limits<std::uint16_t>::max(),
                                                 "Integer value expected after VERSION keyword, instead found '"));
      if (parser.CheckTokenSymbol("USER")) {
        parser.NextToken();
        if (!parser.CheckTokenSymbol("MINOR")) {
          RaiseFoundError(parser, "MINOR keyword expected after USER keyword, instead found '");
        }
        minorPending = true;
      }
    }
  }
  if (minorPending) {
    parser.NextToken();  // MINOR
    ExpectSymbol(parser, "VERSION", "VERSION keyword expected after MINOR keyword, instead found '");
    UserMinorVersion =
        static_cast<std::uint16_t>(TakeInteger(parser, 0, std::numeric_limits<std::uint16_t>::max(),
                                               "Integer value expected after VERSION keyword, instead found '"));
  }
  if (parser.CheckTokenSymbol("LAST")) {
    parser.NextToken();
    ExpectSymbol(parser, "AUTOINC", "AUTOINC keyword expected after LAST keyword, instead found '");
    LastAutoIncValue = ParseCreateAutoIncExpression();
  }
}

void TDataQuery::ParseDropIndexExpression() {
  TExpressionParser& parser = statement_.Parser();
  if (parser.CheckTokenSymbol("MEMORY")) {
    DefinitionInMemory = true;
    parser.NextToken();
    if (!AtTableName(parser)) RaiseFoundError(parser, "Table name expected, instead found '");
  } else if (!AtTableName(parser)) {
    RaiseFoundError(parser, "Table name expected after INDEX keyword, instead found '");
  }
  const TDescriptionScope description(parser, kIndexNameDescription);
  if (AtEmptyExpression(parser)) RaiseSqlError("Index name expression is empty");
  const TExpTokenPtr name = parser.ParseExpression8(0);
  // Only table.index names an index: a bare index name would leave the table
  // to guess.
  if (name->NodeClass != enFIELD || name->TableName.empty()) {
    RaiseSqlError("Table name expected before index name in DROP INDEX statement");
  }
  // The node's text keeps the table part as written, directory included.
  const std::string& written = name->Text;
  DefinitionTableName = CutToLength(written.substr(0, written.size() - name->FieldName.size() - 1), kMaxShortString);
  DropIndexName = CutToLength(name->FieldName, kMaxShortString);
}

// --- statements ---------------------------------------------------------------------

void TDataQuery::ParseCreateTableQuery() {
  TExpressionParser& parser = statement_.Parser();
  parser.NextToken();  // TABLE
  if (parser.CheckTokenSymbol("IF")) {
    parser.NextToken();
    ExpectSymbol(parser, "NOT", "NOT keyword expected after IF keyword, instead found '");
    ExpectSymbol(parser, "EXISTS", "EXISTS keyword expected after NOT keyword, instead found '");
    IfNotExists = true;
  }
  ParseDefinitionTableName(parser, *this, "Table name expected after CREATE TABLE keywords, instead found '");
  ExpectCharacter(parser, '(', "Left parentheses expected before list of table columns, instead found '");
  while (!EndsColumnList(parser)) {
    // A table holds at most 1024 fields: a longer list is refused before any
    // definition is built from it.
    if (CreateFields.size() >= kMaxLogicalFields) {
      RaiseSqlError("Maximum number of table columns (" + std::to_string(kMaxLogicalFields) + ") exceeded");
    }
    TCreateField field;
    ParseCreateColumnExpression(field, /*create=*/true);
    CreateFields.push_back(std::move(field));
    if (!parser.CheckToken(',')) break;
    parser.NextToken();
  }
  if (StartsPrimaryKey(parser)) ParseCreatePrimaryKey();
  ParseCreateTableOptions();
  ExpectCharacter(parser, ')', "Right parentheses expected after CREATE TABLE statement, instead found '");
  ParseStatementEnd(parser, "End of CREATE TABLE statement expected, instead found '");
}

void TDataQuery::ParseCreateIndexQuery() {
  TExpressionParser& parser = statement_.Parser();
  if (parser.CheckTokenSymbol("IF")) {
    parser.NextToken();
    ExpectSymbol(parser, "NOT", "NOT keyword expected after IF keyword, instead found '");
    ExpectSymbol(parser, "EXISTS", "EXISTS keyword expected after NOT keyword, instead found '");
    IfNotExists = true;
  }
  TCreateIndex index;
  ParseIndexAttributes(parser, index);
  ExpectSymbol(parser, "INDEX", "INDEX keyword expected, instead found '");
  if (!AtTableName(parser)) RaiseFoundError(parser, "Index name expected after INDEX keyword, instead found '");
  index.Name = CutToLength(parser.TokenAsString(), kMaxShortString);
  parser.NextToken();
  ExpectSymbol(parser, "ON", "ON keyword expected after index name, instead found '");
  ParseDefinitionTableName(parser, *this, "Table name expected after ON keyword, instead found '");
  ParseIndexColumnList(parser, *this, index, "Left parentheses expected after KEY keyword, instead found '",
                       "Right parentheses expected after PRIMARY KEY clause, instead found '");
  ParseIndexCompression(parser, index);
  CreateIndexes.push_back(std::move(index));
  ParseStatementEnd(parser, "End of CREATE INDEX statement expected, instead found '");
}

void TDataQuery::ParseDropTableQuery() {
  TExpressionParser& parser = statement_.Parser();
  parser.NextToken();  // TABLE
  if (parser.CheckTokenSymbol("IF")) {
    parser.NextToken();
    ExpectSymbol(parser, "EXISTS", "EXISTS keyword expected after IF keyword, instead found '");
    IfExists = true;
  }
  ParseDefinitionTableName(parser, *this, "Table name expected after TABLE keyword, instead found '");
  ParseStatementEnd(parser, "End of DROP TABLE statement expected, instead found '");
}

void TDataQuery::ParseDropIndexQuery() {
  TExpressionParser& parser = statement_.Parser();
  parser.NextToken();  // INDEX
  if (parser.CheckTokenSymbol("IF")) {
    parser.NextToken();
    ExpectSymbol(parser, "EXISTS", "EXISTS keyword expected after IF keyword, instead found '");
    IfExists = true;
  }
  ParseDropIndexExpression();
  ParseStatementEnd(parser, "End of DROP INDEX statement expected, instead found '");
}

}  // namespace tarn
