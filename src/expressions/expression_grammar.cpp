// The grammar half of TExpressionParser: precedence levels, predicates,
// primaries, function keywords and SQL data type names.
#include <charconv>
#include <cstring>
#include <limits>

#include "platform/code_page.h"
#include "expressions/builtin_functions.h"
#include "expressions/date_time_values.h"
#include "expressions/exp_token_stack.h"
#include "expressions/expression_layer.h"
#include "expressions/expression_messages.h"
#include "expressions/expression_parser.h"
#include "storage/formats/data_types.h"

namespace tarn {

namespace {

TExpTokenPtr NewNode(TExpNodeClass nodeClass, TExpOperator op, std::string text) {
  TExpTokenPtr node = GetNewExpTokenInstance();
  node->NodeClass = nodeClass;
  node->Operator = op;
  node->Text = std::move(text);
  return node;
}

void SetBooleanType(TExpToken& node) {
  node.DataType = dtBoolean;
  node.DataSize = 2;
}

TExpTokenPtr MakeBinary(TExpOperator op, std::string text, TExpTokenPtr left, TExpTokenPtr right, bool boolean) {
  TExpTokenPtr node = NewNode(enBINARY, op, std::move(text));
  if (boolean)
    SetBooleanType(*node);
  else
    node->DataType = left->DataType;
  node->Left = std::move(left);
  node->Right = std::move(right);
  return node;
}

TExpTokenPtr MakeNullConstant(std::string text) {
  TExpTokenPtr node = NewNode(enCONST, eoNOTDEFINED, std::move(text));
  node->IsNull = true;
  node->DataType = 0;
  return node;
}

template <typename T>
void StoreValue(TExpToken& node, T value) {
  node.SetDataSize(static_cast<std::int32_t>(sizeof(T)));
  std::memcpy(node.Value.data(), &value, sizeof(T));
}

// The table part of a qualified column without directory path and ".DAT".
std::string StripTableName(const std::string& name) {
  std::size_t start = 0;
  for (std::size_t pos = 0; pos < name.size(); pos = NextCharPos(name, pos)) {
    if (CharLength(name, pos) == 1 && (name[pos] == '\\' || name[pos] == '/' || name[pos] == ':')) start = pos + 1;
  }
  std::string result = name.substr(start);
  if (result.size() >= 4 && AnsiSameText(std::string_view(result).substr(result.size() - 4), ".DAT") &&
      !IsTrailBytePosition(result, result.size() - 4))
    result.resize(result.size() - 4);
  return result;
}

enum class TTypeForm { None, PrecisionScale, Char, VarChar, Bytes, Blob };

struct TDataTypeName {
  std::string_view Name;
  std::uint8_t DataType;
  std::uint8_t SubType;
  TTypeForm Form;
};

constexpr TDataTypeName kDataTypeNames[] = {
    {"SMALLINT", dtSmallInt, 0, TTypeForm::None},
    {"WORD", dtWord, 0, TTypeForm::None},
    {"INTEGER", dtInteger, 0, TTypeForm::None},
    {"INT", dtInteger, 0, TTypeForm::None},
    {"LARGEINT", dtLargeInt, 0, TTypeForm::None},
    {"AUTOINC", dtInteger, dstAutoInc, TTypeForm::None},
    {"DECIMAL", dtBCD, 0, TTypeForm::PrecisionScale},
    {"NUMERIC", dtFloat, 0, TTypeForm::PrecisionScale},
    {"FLOAT", dtFloat, 0, TTypeForm::PrecisionScale},
    {"MONEY", dtFloat, dstMoney, TTypeForm::None},
    {"CHARACTER", dtString, 0, TTypeForm::Char},
    {"CHAR", dtString, 0, TTypeForm::Char},
    {"VARCHAR", dtString, 0, TTypeForm::VarChar},
    {"DATE", dtDate, 0, TTypeForm::None},
    {"TIME", dtTime, 0, TTypeForm::None},
    {"TIMESTAMP", dtTimeStamp, 0, TTypeForm::None},
    {"BOOLEAN", dtBoolean, 0, TTypeForm::None},
    {"BYTES", dtBytes, 0, TTypeForm::Bytes},
    {"BLOB", dtBlob, 0, TTypeForm::Blob},
};

// A function node with the operator's keyword as written and the type the
// table of built-in functions gives it when parsed.
TExpTokenPtr NewFunctionNode(TExpOperator op, const std::string& keyword) {
  TExpTokenPtr node = NewNode(enFUNC, op, keyword);
  node->DataType = FindBuiltinFunction(op)->ParsedDataType;
  return node;
}

struct TExtractPart {
  std::string_view Name;
  TExpOperator Operator;
};

constexpr TExtractPart kExtractParts[] = {
    {"YEAR", eoEXTRACTYEAR},     {"MONTH", eoEXTRACTMONTH},         {"WEEK", eoEXTRACTWEEK},
    {"DAY", eoEXTRACTDAY},       {"DAYOFWEEK", eoEXTRACTDAYOFWEEK}, {"HOUR", eoEXTRACTHOUR},
    {"MINUTE", eoEXTRACTMINUTE}, {"SECOND", eoEXTRACTSECOND},
};

}  // namespace

void TExpressionParser::ExpectToken(int kind, std::string_view message) {
  if (tokenKind_ != kind) RaiseTokenError(message);
  NextToken();
}

void TExpressionParser::ExpectSymbol(std::string_view word, std::string_view message) {
  if (!CheckTokenSymbol(word)) RaiseTokenError(message);
  NextToken();
}

// Chains at one level are built in loops; only parentheses and calls recurse,
// and Level8 limits their nesting.
TExpTokenPtr TExpressionParser::ParseExpression1(TParseModifiers m) { return Level1(m); }
TExpTokenPtr TExpressionParser::ParseExpression2(TParseModifiers m) { return Level2(m); }
TExpTokenPtr TExpressionParser::ParseExpression3(TParseModifiers m) { return Level3(m); }
TExpTokenPtr TExpressionParser::ParseExpression4(TParseModifiers m) { return Level4(m); }
TExpTokenPtr TExpressionParser::ParseExpression5(TParseModifiers m) { return Level5(m); }
TExpTokenPtr TExpressionParser::ParseExpression6(TParseModifiers m) { return Level6(m); }
TExpTokenPtr TExpressionParser::ParseExpression7(TParseModifiers m) { return Level7(m); }
TExpTokenPtr TExpressionParser::ParseExpression8(TParseModifiers m) { return Level8(m); }

TExpTokenPtr TExpressionParser::ParseCompleteExpression(TParseModifiers modifiers) {
  TExpTokenPtr root = ParseExpression1(modifiers);
  if (tokenKind_ != tkEndOfText) RaiseTokenFoundError(expmsg::kUnknownSymbol);
  return root;
}

TExpTokenPtr TExpressionParser::Level1(TParseModifiers m) {
  TExpTokenPtr left = Level2(m);
  while (CheckTokenSymbol("OR")) {
    std::string text = TokenAsString();
    NextToken();
    TExpTokenPtr right = Level2(m);
    left = MakeBinary(eoOR, std::move(text), std::move(left), std::move(right), true);
  }
  return left;
}

TExpTokenPtr TExpressionParser::Level2(TParseModifiers m) {
  TExpTokenPtr left = Level3(m);
  while (CheckTokenSymbol("AND")) {
    std::string text = TokenAsString();
    NextToken();
    TExpTokenPtr right = Level3(m);
    left = MakeBinary(eoAND, std::move(text), std::move(left), std::move(right), true);
  }
  return left;
}

TExpTokenPtr TExpressionParser::Level3(TParseModifiers m) {
  if (!CheckTokenSymbol("NOT")) return Level4(m);
  TExpTokenPtr node = NewNode(enUNARY, eoNOT, TokenAsString());
  NextToken();
  node->Left = Level4(m);
  SetBooleanType(*node);
  return node;
}

TExpTokenPtr TExpressionParser::Level4(TParseModifiers m) {
  TExpTokenPtr left = Level5(m);
  TExpOperator op = eoNOTDEFINED;
  std::string text;
  if (tokenKind_ == '=') {
    op = eoEQ;
    text = "=";
    NextToken();
  } else if (tokenKind_ == '<') {
    NextToken();
    if (tokenKind_ == '>') {
      op = eoNE;
      text = "< >";
      NextToken();
    } else if (tokenKind_ == '=') {
      op = eoLE;
      text = "< =";
      NextToken();
    } else {
      op = eoLT;
      text = "<";
    }
  } else if (tokenKind_ == '>') {
    NextToken();
    if (tokenKind_ == '=') {
      op = eoGE;
      text = "> =";
      NextToken();
    } else {
      op = eoGT;
      text = ">";
    }
  } else if (CheckTokenSymbol("NOT") || CheckTokenSymbol("LIKE") || CheckTokenSymbol("BETWEEN") ||
             CheckTokenSymbol("IN") || CheckTokenSymbol("IS")) {
    return ParseExtendedPredicate(std::move(left), m);
  } else {
    return left;
  }
  TExpTokenPtr right = Level5(m);
  return MakeBinary(op, std::move(text), std::move(left), std::move(right), true);
}

TExpTokenPtr TExpressionParser::ParseExtendedPredicate(TExpTokenPtr left, TParseModifiers m) {
  if ((m & pmAllowExtPredicates) == 0) RaiseParseError(expmsg::kExtPredicatesNotAllowed);
  if (CheckTokenSymbol("IS")) {
    NextToken();
    bool negated = false;
    if (CheckTokenSymbol("NOT")) {
      negated = true;
      NextToken();
    }
    if (!CheckTokenSymbol("NULL")) RaiseTokenFoundError(expmsg::kUnknownSymbol);
    NextToken();
    return MakeBinary(negated ? eoNE : eoEQ, negated ? "IS NOT NULL" : "IS NULL", std::move(left),
                      MakeNullConstant("NULL"), true);
  }
  bool negated = false;
  if (CheckTokenSymbol("NOT")) {
    negated = true;
    NextToken();
    if (!CheckTokenSymbol("LIKE") && !CheckTokenSymbol("BETWEEN") && !CheckTokenSymbol("IN"))
      RaiseTokenError(expmsg::kUnknownSymbol);
  }
  if (CheckTokenSymbol("IN")) return ParseInList(std::move(left), negated, m);
  TExpTokenPtr node;
  if (CheckTokenSymbol("LIKE")) {
    NextToken();
    node = NewNode(enEXTBINARY, negated ? eoNOTLIKE : eoLIKE, negated ? "NOT LIKE" : "LIKE");
    node->Arguments.push_back(std::move(left));
    node->Arguments.push_back(Level5(m));
  } else {  // BETWEEN
    NextToken();
    node = NewNode(enEXTBINARY, negated ? eoNOTBETWEEN : eoBETWEEN, negated ? "NOT BETWEEN" : "BETWEEN");
    node->Arguments.push_back(std::move(left));
    node->Arguments.push_back(Level5(m));
    if (!CheckTokenSymbol("AND")) RaiseTokenError(negated ? expmsg::kNotBetweenAnd : expmsg::kBetweenAnd);
    NextToken();
    node->Arguments.push_back(Level5(m));
  }
  SetBooleanType(*node);
  return node;
}

TExpTokenPtr TExpressionParser::ParseInList(TExpTokenPtr left, bool negated, TParseModifiers m) {
  NextToken();
  if (tokenKind_ != '(') RaiseTokenError(negated ? expmsg::kNotInLeft : expmsg::kInLeft);
  NextToken();
  TExpTokenPtr node;
  if (CheckTokenSymbol("SELECT")) {
    if ((m & pmAllowSubSelects) == 0 || owner_ == nullptr) RaiseParseError(expmsg::kSubSelectsNotAllowed);
    node = NewNode(enEXTBINARY, negated ? eoNOTSUBIN : eoSUBIN, negated ? "NOT IN" : "IN");
    node->Arguments.push_back(std::move(left));
    TExpTokenPtr tuple = NewNode(enTUPLE, eoNOTDEFINED, TokenAsString());
    tuple->SubQuery = owner_->ParseSubSelect(*this);
    node->Arguments.push_back(std::move(tuple));
  } else {
    node = NewNode(enEXTBINARY, negated ? eoNOTIN : eoIN, negated ? "NOT IN" : "IN");
    node->Arguments.push_back(std::move(left));
    for (;;) {
      node->Arguments.push_back(Level5(m));
      if (tokenKind_ != ',') break;
      NextToken();
    }
  }
  if (tokenKind_ != ')') RaiseTokenError(negated ? expmsg::kNotInRight : expmsg::kInRight);
  NextToken();
  SetBooleanType(*node);
  return node;
}

TExpTokenPtr TExpressionParser::Level5(TParseModifiers m) {
  TExpTokenPtr left = Level6(m);
  for (;;) {
    TExpOperator op;
    std::string text;
    if (tokenKind_ == '+') {
      op = eoADD;
      text = "+";
    } else if (tokenKind_ == '-') {
      op = eoSUB;
      text = "-";
    } else if (tokenKind_ == '|') {
      NextToken();
      if (tokenKind_ != '|') RaiseTokenError(expmsg::kSecondBar);
      op = eoADD;
      text = "||";
    } else {
      return left;
    }
    NextToken();
    TExpTokenPtr right = Level6(m);
    left = MakeBinary(op, std::move(text), std::move(left), std::move(right), false);
  }
}

TExpTokenPtr TExpressionParser::Level6(TParseModifiers m) {
  TExpTokenPtr left = Level7(m);
  while (tokenKind_ == '*' || tokenKind_ == '/') {
    const TExpOperator op = tokenKind_ == '*' ? eoMUL : eoDIV;
    std::string text(1, static_cast<char>(tokenKind_));
    NextToken();
    TExpTokenPtr right = Level7(m);
    left = MakeBinary(op, std::move(text), std::move(left), std::move(right), false);
  }
  return left;
}

TExpTokenPtr TExpressionParser::Level7(TParseModifiers m) {
  if (tokenKind_ != '+' && tokenKind_ != '-') return Level8(m);
  TExpTokenPtr node = NewNode(enUNARY, tokenKind_ == '-' ? eoMINUS : eoPLUS, TokenAsString());
  NextToken();
  node->Left = Level8(m);
  node->DataType = node->Left->DataType;
  return node;
}

TExpTokenPtr TExpressionParser::Level8(TParseModifiers m) {
  struct TNestingGuard {
    int& depth;
    ~TNestingGuard() { --depth; }
  } guard{++nesting_};
  if (nesting_ > kMaxExpressionNesting) RaiseParseError(expmsg::kNestedTooDeeply);

  switch (tokenKind_) {
    case '(': {
      NextToken();
      TExpTokenPtr node = Level1(m);
      if (tokenKind_ != ')') RaiseTokenError(expmsg::kRightParen);
      NextToken();
      return node;
    }
    case tkIdentifier:
      return ParseIdentifier(m);
    case tkBracketedName:
    case tkQuotedString: {
      const bool quoted = tokenKind_ == tkQuotedString;
      std::string name = TokenAsString();
      NextToken();
      if (tokenKind_ == '.') return ParseQualifiedColumn(std::move(name), m);
      if (!quoted) {
        TExpTokenPtr node = NewNode(enFIELD, eoNOTDEFINED, name);
        node->FieldName = std::move(name);
        return node;
      }
      TExpTokenPtr node = NewNode(enCONST, eoNOTDEFINED, name);
      node->DataType = dtString;
      node->SetStringValue(name);
      // The empty string is the NULL string.
      if (name.empty()) node->IsNull = true;
      return node;
    }
    case tkCharacterCode:
      return ParseCharacterCode();
    case tkInteger:
    case tkReal:
      return ParseNumber();
    case '*': {
      if ((m & pmAllowAllFields) == 0) RaiseParseError(expmsg::kAllFieldsNotAllowed);
      NextToken();
      TExpTokenPtr node = NewNode(enFIELD, eoNOTDEFINED, "*");
      node->FieldName = "*";
      return node;
    }
    case '?': {
      if ((m & pmAllowParameters) == 0) RaiseParseError(expmsg::kParametersNotAllowed);
      NextToken();
      TExpTokenPtr node = NewNode(enCONST, eoNOTDEFINED, "?");
      node->IsParameter = true;
      if (owner_ != nullptr) owner_->AddParameter(*node);
      return node;
    }
    default:
      RaiseTokenFoundError(expmsg::kUnknownSymbol);
  }
}

TExpTokenPtr TExpressionParser::ParseQualifiedColumn(std::string tableName, TParseModifiers m) {
  NextToken();  // the '.'
  std::string fieldName;
  if (tokenKind_ == tkIdentifier || tokenKind_ == tkQuotedString || tokenKind_ == tkBracketedName) {
    fieldName = TokenAsString();
  } else if (tokenKind_ == '*') {
    if ((m & pmAllowAllFields) == 0) RaiseParseError(expmsg::kAllFieldsNotAllowed);
    fieldName = "*";
  } else {
    RaiseTokenError(expmsg::kAfterCorrelation);
  }
  NextToken();
  TExpTokenPtr node = NewNode(enFIELD, eoNOTDEFINED, tableName + "." + fieldName);
  node->TableName = StripTableName(tableName);
  node->FieldName = std::move(fieldName);
  return node;
}

TExpTokenPtr TExpressionParser::ParseCharacterCode() {
  const std::string token = TokenAsString();
  const char* first = token.data() + 1;
  const char* last = token.data() + token.size();
  unsigned code = 0;
  const auto [ptr, ec] = std::from_chars(first, last, code);
  if (first == last || ec != std::errc() || ptr != last || code > 255) {
    std::string message(expmsg::kCharRange);
    message += "0 to 255";
    message += expmsg::kIn;
    RaiseParseError(message);
  }
  NextToken();
  TExpTokenPtr node = NewNode(enCONST, eoNOTDEFINED, token);
  node->DataType = dtString;
  const char character = static_cast<char>(code);
  node->SetStringValue(&character, 1);
  return node;
}

TExpTokenPtr TExpressionParser::ParseNumber() {
  const std::string token = TokenAsString();
  const char* first = token.data();
  const char* last = token.data() + token.size();
  TExpTokenPtr node = NewNode(enCONST, eoNOTDEFINED, token);
  bool valid = false;
  if (tokenKind_ == tkInteger) {
    std::int64_t value = 0;
    const auto [ptr, ec] = std::from_chars(first, last, value);
    if (ec == std::errc() && ptr == last) {
      valid = true;
      if (value >= std::numeric_limits<std::int32_t>::min() && value <= std::numeric_limits<std::int32_t>::max()) {
        node->DataType = dtInteger;
        StoreValue(*node, static_cast<std::int32_t>(value));
      } else {
        node->DataType = dtLargeInt;
        StoreValue(*node, value);
      }
    }
  }
  if (!valid) {
    double value = 0;
    const auto [ptr, ec] = std::from_chars(first, last, value);
    if (ec == std::errc() && ptr == last) {
      valid = true;
      node->DataType = dtFloat;
      StoreValue(*node, value);
    }
  }
  if (!valid) {
    std::string message(expmsg::kConstantPrefix);
    message += token;
    message += '\'';
    message += expmsg::kNotValidNumber;
    message += expmsg::kIn;
    RaiseParseError(message);
  }
  NextToken();
  return node;
}

TExpTokenPtr TExpressionParser::ParseIdentifier(TParseModifiers m) {
  std::string name = TokenAsString();
  NextToken();
  if (tokenKind_ == '.') return ParseQualifiedColumn(std::move(name), m);

  if (AnsiSameText(name, "TRUE") || AnsiSameText(name, "FALSE")) {
    TExpTokenPtr node = NewNode(enCONST, eoNOTDEFINED, name);
    node->DataType = dtBoolean;
    node->SetBooleanValue(AnsiSameText(name, "TRUE"));
    return node;
  }
  if (AnsiSameText(name, "NULL")) return MakeNullConstant(name);
  const bool isDate = AnsiSameText(name, "CURRENT_DATE");
  const bool isTime = AnsiSameText(name, "CURRENT_TIME");
  const bool isTimeStamp = AnsiSameText(name, "CURRENT_TIMESTAMP");
  if (isDate || isTime || isTimeStamp) {
    if (tokenKind_ == '(') {
      NextToken();
      if (tokenKind_ != ')')
        RaiseTokenError(isDate ? expmsg::kCurrentDateRight
                               : isTime ? expmsg::kCurrentTimeRight : expmsg::kCurrentTimeStampRight);
      NextToken();
    }
    const TLocalNow now = CurrentLocalDateTime();
    TExpTokenPtr node = NewNode(enCONST, eoNOTDEFINED, name);
    if (isDate) {
      node->DataType = dtDate;
      StoreValue(*node, now.Date);
    } else if (isTime) {
      node->DataType = dtTime;
      StoreValue(*node, now.Time);
    } else {
      node->DataType = dtTimeStamp;
      StoreValue(*node, static_cast<double>(now.Date) * static_cast<double>(kMillisecondsPerDay) + now.Time);
    }
    return node;
  }
  bool matched = false;
  TExpTokenPtr function = ParseFunction(name, m, matched);
  if (matched) return function;
  if (tokenKind_ == '(') {
    std::string message(expmsg::kUnknownFunction);
    message += name;
    message += '\'';
    message += expmsg::kFoundIn;
    RaiseParseError(message);
  }
  TExpTokenPtr node = NewNode(enFIELD, eoNOTDEFINED, name);
  node->FieldName = std::move(name);
  return node;
}

TExpTokenPtr TExpressionParser::ParseFunction(const std::string& keyword, TParseModifiers m, bool& matched) {
  matched = true;
  auto is = [&](std::string_view word) { return AnsiSameText(keyword, word); };

  for (const auto& aggregate : BuiltinFunctions()) {
    if (!aggregate.Aggregate || !is(aggregate.Name)) continue;
    if ((m & pmAllowAggregates) == 0) RaiseParseError(expmsg::kAggregatesNotAllowed);
    if (tokenKind_ != '(') {
      std::string message(expmsg::kAggregateLeft);
      message += keyword;
      message += '\'';
      message += expmsg::kAggregateLeftTail;
      message += '\'';
      RaiseTokenError(message);
    }
    NextToken();
    TExpTokenPtr node = NewFunctionNode(aggregate.Operator, keyword);
    node->Arguments.push_back(Level5(m));
    if (tokenKind_ != ')') {
      std::string message(expmsg::kAggregateRight);
      message += keyword;
      message += expmsg::kAggregateRightTail;
      message += '\'';
      RaiseTokenError(message);
    }
    NextToken();
    return node;
  }

  // Functions of one level-5 argument in parentheses.
  struct TSimpleFunction {
    TExpOperator Operator;
    std::string_view LeftMessage;
    std::string_view RightMessage;
  };
  static constexpr TSimpleFunction kSimple[] = {
      {eoLOWER, expmsg::kLowerLeft, expmsg::kLowerRight},
      {eoUPPER, expmsg::kUpperLeft, expmsg::kUpperRight},
      {eoLENGTH, expmsg::kLengthLeft, expmsg::kLengthRight},
      {eoABS, expmsg::kAbsLeft, expmsg::kAbsRight},
  };
  for (const auto& function : kSimple) {
    if (!is(FindBuiltinFunction(function.Operator)->Name)) continue;
    ExpectToken('(', function.LeftMessage);
    TExpTokenPtr node = NewFunctionNode(function.Operator, keyword);
    node->Arguments.push_back(Level5(m));
    ExpectToken(')', function.RightMessage);
    return node;
  }

  // Functions of the form (expr IN expr) or (expr IN primary).
  struct TInFunction {
    TExpOperator Operator;
    bool PrimaryColumn;
    std::string_view LeftMessage;
    std::string_view InMessage;
    std::string_view RightMessage;
  };
  static constexpr TInFunction kInFunctions[] = {
      {eoPOS, false, expmsg::kPosLeft, expmsg::kPosIn, expmsg::kPosRight},
      {eoOCCURS, false, expmsg::kOccursLeft, expmsg::kOccursIn, expmsg::kOccursRight},
      {eoTEXTSEARCH, true, expmsg::kTextSearchLeft, expmsg::kTextSearchIn, expmsg::kTextSearchRight},
      {eoTEXTOCCURS, true, expmsg::kTextOccursLeft, expmsg::kTextOccursIn, expmsg::kTextOccursRight},
  };
  for (const auto& function : kInFunctions) {
    if (!is(FindBuiltinFunction(function.Operator)->Name)) continue;
    ExpectToken('(', function.LeftMessage);
    TExpTokenPtr node = NewFunctionNode(function.Operator, keyword);
    node->Arguments.push_back(Level5(m));
    ExpectSymbol("IN", function.InMessage);
    node->Arguments.push_back(function.PrimaryColumn ? Level8(m) : Level5(m));
    ExpectToken(')', function.RightMessage);
    return node;
  }

  auto isKeywordOf = [&](TExpOperator op) { return is(FindBuiltinFunction(op)->Name); };
  if (isKeywordOf(eoSUBSTRING)) {
    ExpectToken('(', expmsg::kSubstringLeft);
    TExpTokenPtr node = NewFunctionNode(eoSUBSTRING, keyword);
    node->Arguments.push_back(Level5(m));
    ExpectSymbol("FROM", expmsg::kSubstringFrom);
    node->Arguments.push_back(Level5(m));
    if (CheckTokenSymbol("FOR")) {
      NextToken();
      node->Arguments.push_back(Level5(m));
    }
    ExpectToken(')', expmsg::kSubstringRight);
    return node;
  }
  if (isKeywordOf(eoREPLACE)) {
    ExpectToken('(', expmsg::kReplaceLeft);
    TExpTokenPtr node = NewFunctionNode(eoREPLACE, keyword);
    node->Arguments.push_back(Level5(m));
    ExpectSymbol("WITH", expmsg::kReplaceWith);
    node->Arguments.push_back(Level5(m));
    ExpectSymbol("IN", expmsg::kReplaceIn);
    node->Arguments.push_back(Level5(m));
    ExpectToken(')', expmsg::kReplaceRight);
    return node;
  }
  if (isKeywordOf(eoCAST)) {
    ExpectToken('(', expmsg::kCastLeft);
    TExpTokenPtr node = NewFunctionNode(eoCAST, keyword);
    node->Arguments.push_back(Level5(m));
    ExpectSymbol("AS", expmsg::kCastAs);
    ParseDataTypeExpression(*node, m, false);
    ExpectToken(')', expmsg::kCastRight);
    return node;
  }
  if (isKeywordOf(eoTRIMBOTH)) {
    ExpectToken('(', expmsg::kTrimLeft);
    TExpOperator op;
    if (CheckTokenSymbol("LEADING"))
      op = eoTRIMLEADING;
    else if (CheckTokenSymbol("TRAILING"))
      op = eoTRIMTRAILING;
    else if (CheckTokenSymbol("BOTH"))
      op = eoTRIMBOTH;
    else
      RaiseTokenError(expmsg::kTrimKind);
    NextToken();
    TExpTokenPtr node = NewFunctionNode(op, keyword);
    node->Arguments.push_back(Level8(m));
    ExpectSymbol("FROM", expmsg::kTrimFrom);
    node->Arguments.push_back(Level5(m));
    ExpectToken(')', expmsg::kTrimRight);
    return node;
  }
  if (isKeywordOf(eoEXTRACTYEAR)) {
    ExpectToken('(', expmsg::kExtractLeft);
    TExpOperator op = eoNOTDEFINED;
    for (const auto& part : kExtractParts)
      if (CheckTokenSymbol(part.Name)) op = part.Operator;
    if (op == eoNOTDEFINED) RaiseTokenError(expmsg::kExtractPart);
    NextToken();
    ExpectSymbol("FROM", expmsg::kExtractFrom);
    TExpTokenPtr node = NewFunctionNode(op, keyword);
    node->Arguments.push_back(Level5(m));
    ExpectToken(')', expmsg::kExtractRight);
    return node;
  }
  if (isKeywordOf(eoROUND)) {
    ExpectToken('(', expmsg::kRoundLeft);
    TExpTokenPtr node = NewFunctionNode(eoROUND, keyword);
    node->Arguments.push_back(Level5(m));
    node->DataType = node->Arguments[0]->DataType;
    node->DataSize = node->Arguments[0]->DataSize;
    node->Decimals = node->Arguments[0]->Decimals;
    if (CheckTokenSymbol("TO")) {
      NextToken();
      node->Arguments.push_back(Level8(m));
    }
    ExpectToken(')', expmsg::kRoundRight);
    return node;
  }
  if (isKeywordOf(eoIF)) {
    ExpectToken('(', expmsg::kIfLeft);
    TExpTokenPtr node = NewFunctionNode(eoIF, keyword);
    node->Arguments.push_back(Level1(m));
    ExpectSymbol("THEN", expmsg::kIfThen);
    node->Arguments.push_back(Level5(m));
    ExpectSymbol("ELSE", expmsg::kIfElse);
    node->Arguments.push_back(Level5(m));
    ExpectToken(')', expmsg::kIfRight);
    return node;
  }
  matched = false;
  return {};
}

void TExpressionParser::ParseDataTypeExpression(TExpToken& node, TParseModifiers m, bool optional) {
  const TDataTypeName* found = nullptr;
  if (tokenKind_ == tkIdentifier) {
    for (const auto& name : kDataTypeNames)
      if (CheckTokenSymbol(name.Name)) {
        found = &name;
        break;
      }
  }
  if (found == nullptr) {
    if (optional) return;
    RaiseTokenError(expmsg::kDataTypeExpected);
  }
  node.DataType = found->DataType;
  node.SubType = found->SubType;
  NextToken();
  switch (found->Form) {
    case TTypeForm::None:
      break;
    case TTypeForm::PrecisionScale:
      if (tokenKind_ == '(') {
        NextToken();
        node.SetArgumentExpToken(1, Level8(m));
        if (tokenKind_ == ',') {
          NextToken();
        } else if (tokenKind_ != ')') {
          std::string message(expmsg::kCommaAfterFirst);
          message += found->Name;
          message += expmsg::kArgumentInsteadFound;
          RaiseTokenError(message);
        }
        node.SetArgumentExpToken(2, Level8(m));
        if (tokenKind_ != ')') {
          std::string message(expmsg::kRightAfterDataType);
          message += found->Name;
          message += expmsg::kDataTypeArgumentsInsteadFound;
          RaiseTokenError(message);
        }
        NextToken();
      }
      break;
    case TTypeForm::Char:
    case TTypeForm::VarChar: {
      const bool isChar = found->Form == TTypeForm::Char;
      ExpectToken('(', isChar ? expmsg::kCharLeft : expmsg::kVarCharLeft);
      node.SetArgumentExpToken(1, Level8(m));
      ExpectToken(')', isChar ? expmsg::kCharRight : expmsg::kVarCharRight);
      break;
    }
    case TTypeForm::Bytes:
      if (tokenKind_ == '(') {
        NextToken();
        node.SetArgumentExpToken(1, Level8(m));
        ExpectToken(')', expmsg::kBytesRight);
      }
      break;
    case TTypeForm::Blob:
      ExpectToken('(', expmsg::kBlobLeft);
      node.SetArgumentExpToken(1, Level8(m));
      ExpectToken(',', expmsg::kBlobComma);
      node.SetArgumentExpToken(2, Level8(m));
      ExpectToken(')', expmsg::kBlobRight);
      break;
  }
}

}  // namespace tarn
