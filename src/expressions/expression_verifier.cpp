// Checking and typing of expression trees.
#include "expressions/expression_verifier.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "platform/code_page.h"
#include "expressions/ansi_text_forms.h"
#include "expressions/builtin_function_rules.h"
#include "expressions/exp_token_stack.h"
#include "expressions/exp_tree.h"
#include "expressions/expression_layer.h"
#include "expressions/expression_messages.h"
#include "expressions/expression_types.h"
#include "storage/formats/data_types.h"

namespace tarn {

namespace {

bool IsTemporalType(std::uint8_t type) { return type == dtDate || type == dtTime || type == dtTimeStamp; }

bool IsTextNode(const TExpToken& node) { return IsStringOrMemoType(node.DataType, node.SubType); }

bool IsNullConstant(const TExpToken& node) {
  return node.NodeClass == enCONST && node.IsNull && !node.IsParameter;
}

bool IsIntegerConstant(const TExpToken* node, std::int32_t& value) {
  if (node == nullptr || node->NodeClass != enCONST || node->IsNull || node->IsParameter ||
      node->DataType != dtInteger)
    return false;
  std::memcpy(&value, node->Value.data(), sizeof value);
  return true;
}

bool IsAggregate(TExpOperator op) {
  const TBuiltinFunction* function = FindBuiltinFunction(op);
  return function != nullptr && function->Aggregate;
}

std::string_view KindName(const TExpToken& node) {
  switch (node.NodeClass) {
    case enUNARY: case enBINARY: return "expression";
    case enFIELD: return "column";
    case enCONST: return "constant";
    case enFUNC: return "function";
    default: return "";
  }
}

void RevertToConstant(TExpToken& node) {
  node.NodeClass = enCONST;
  node.DataType = node.SavedDataType;
  node.SubType = node.SavedSubType;
  node.DataSize = node.SavedDataSize;
  node.Decimals = node.SavedDecimals;
  node.FieldName.clear();
  node.FieldNumber = 0;
  node.Source = nullptr;
  node.WasConstant = false;
}

std::int32_t FixedSizeOf(std::uint8_t type) {
  switch (type) {
    case dtDate: case dtInteger: case dtTime: return 4;
    case dtFloat: case dtTimeStamp: case dtLargeInt: case dtBlob: return 8;
    case dtBoolean: case dtSmallInt: case dtWord: return 2;
    case dtBCD: return kBcdPhysicalSize;
    default: return 0;
  }
}

}  // namespace

// Checks and types one tree; the typing rules of the built-in functions
// (below) use its messages and services.
class TExpressionVerifier {
 public:
  TExpressionVerifier(TarnErrorCode code, std::string_view database, std::string_view table,
                      TVerifyFieldCallback callback, void* context, std::string_view description)
      : code_(code), database_(database), table_(table), callback_(callback), context_(context),
        description_(description) {}

  [[noreturn]] void Raise(std::string message) const {
    RaiseError(code_, {}, {}, database_, table_, {}, {}, message);
  }
  [[noreturn]] void RaiseIn(std::string_view message) const {
    std::string text(message);
    text.append(description_);
    Raise(std::move(text));
  }

  // "Invalid column ..." naming the column and its table.
  [[noreturn]] void RaiseInvalidColumn(const TExpToken& node) const {
    std::string message(expmsg::kInvalidColumn);
    message += node.FieldName;
    message += '\'';
    message += expmsg::kInvalidColumnTable;
    message += '\'';
    message += node.TableName;
    message += '\'';
    message += expmsg::kSpecifiedIn;
    RaiseIn(message);
  }

  // Verifies the subtree children first, walking it with a list of pending
  // steps instead of recursion, so chains of any length are verified with a
  // flat stack.
  void Verify(TExpToken* parent, TExpToken& root, bool transform);
  void VerifyDataType(TExpToken& node);

  // For the typing rules of functions.
  std::string_view Description() const noexcept { return description_; }
  // The boolean transformation of a function's result, when the function's
  // place asks for it.
  void TransformResult(TExpToken& node) const { MaybeTransform(node, functionTransform_); }

 private:
  bool FindField(TExpToken& node) const { return callback_ != nullptr && callback_(context_, node); }
  void OfferConstantAsColumn(TExpToken& node) const;
  void ConvertTemporalConstant(TExpToken& stringSide, const TExpToken& temporalSide) const;
  void VerifyBinary(TExpToken& node);
  // What is checked of a node once its operands are verified.
  void VerifyNode(TExpToken& node, bool transform);
  void VerifyFunction(TExpToken& node, bool transform);
  void VerifyExtended(TExpToken& node);
  void MaybeTransform(TExpToken& node, bool transform) const;

  TarnErrorCode code_;
  std::string_view database_;
  std::string_view table_;
  TVerifyFieldCallback callback_;
  void* context_;
  std::string_view description_;
  bool functionTransform_ = false;  // whether the function being typed is transformed
};

void TExpressionVerifier::OfferConstantAsColumn(TExpToken& node) const {
  if (node.NodeClass != enCONST || node.IsParameter || node.DataType != dtString || node.Text.empty() ||
      node.Text == "*")
    return;
  node.FieldName = node.Text;
  node.SavedDataType = node.DataType;
  node.SavedSubType = node.SubType;
  node.SavedDataSize = node.DataSize;
  node.SavedDecimals = node.Decimals;
  if (FindField(node)) {
    node.NodeClass = enFIELD;
    node.WasConstant = true;
  } else {
    node.FieldName.clear();
  }
}

void TExpressionVerifier::ConvertTemporalConstant(TExpToken& stringSide, const TExpToken& temporalSide) const {
  bool valid = stringSide.NodeClass == enCONST && !stringSide.IsParameter && !stringSide.IsNull;
  if (valid) {
    const std::string text = stringSide.StringValue();
    switch (temporalSide.DataType) {
      case dtDate: {
        std::int32_t day = 0;
        valid = TryStrToAnsiDate(text, day);
        if (valid) {
          stringSide.SetDataSize(4);
          std::memcpy(stringSide.Value.data(), &day, 4);
        }
        break;
      }
      case dtTime: {
        std::int32_t ms = 0;
        valid = TryStrToAnsiTime(text, ms);
        if (valid) {
          stringSide.SetDataSize(4);
          std::memcpy(stringSide.Value.data(), &ms, 4);
        }
        break;
      }
      default: {
        double stamp = 0;
        valid = TryStrToAnsiDateTime(text, stamp);
        if (valid) {
          stringSide.SetDataSize(8);
          std::memcpy(stringSide.Value.data(), &stamp, 8);
        }
        break;
      }
    }
  }
  if (!valid) {
    std::string message(expmsg::kDateExpected);
    message += stringSide.Text;
    message += '\'';
    message += expmsg::kIn;
    RaiseIn(message);
  }
  stringSide.DataType = temporalSide.DataType;
  stringSide.SubType = temporalSide.SubType;
  stringSide.DataSize = FixedSizeOf(temporalSide.DataType);
  stringSide.Decimals = temporalSide.Decimals;
}

void TExpressionVerifier::MaybeTransform(TExpToken& node, bool transform) const {
  if (!transform || node.DataType != dtBoolean) return;
  const TExpToken* parent = node.Parent;
  if (parent == nullptr || ((parent->NodeClass == enUNARY || parent->NodeClass == enBINARY) &&
                            (parent->Operator == eoNOT || parent->Operator == eoAND || parent->Operator == eoOR)))
    TransformBooleanExpression(node);
}

void TExpressionVerifier::Verify(TExpToken* parent, TExpToken& root, bool transform) {
  struct TStep {
    TExpToken* node;
    TExpToken* parent;
    bool transform;
    bool operandsPushed;
  };
  std::vector<TStep> steps{{&root, parent, transform, false}};
  while (!steps.empty()) {
    const TStep step = steps.back();
    TExpToken& node = *step.node;
    if (step.operandsPushed) {
      steps.pop_back();
      VerifyNode(node, step.transform);
      continue;
    }
    steps.back().operandsPushed = true;
    node.Parent = step.parent;
    OfferConstantAsColumn(node);
    // Operands are pushed last first, so they are verified in order.
    switch (node.NodeClass) {
      case enUNARY:
        if (!node.Left) RaiseIn(expmsg::kNestedTooDeeply);
        steps.push_back({node.Left.get(), &node, step.transform, false});
        break;
      case enBINARY:
      case enCOMPARE:
        if (!node.Left || !node.Right) RaiseIn(expmsg::kNestedTooDeeply);
        steps.push_back({node.Right.get(), &node, step.transform, false});
        steps.push_back({node.Left.get(), &node, step.transform, false});
        break;
      case enFUNC:
      case enEXTBINARY:
        for (std::size_t i = node.Arguments.size(); i-- > 0;) {
          if (!node.Arguments[i]) continue;
          // A function whose first argument is a condition (IF) transforms
          // only that argument.
          const TBuiltinFunction* function = node.NodeClass == enFUNC ? FindBuiltinFunction(node.Operator) : nullptr;
          const bool argumentTransform = function != nullptr && function->ConditionFirst ? i == 0 : step.transform;
          steps.push_back({node.Arguments[i].get(), &node, argumentTransform, false});
        }
        break;
      default:
        break;
    }
  }
}

void TExpressionVerifier::VerifyNode(TExpToken& node, bool transform) {
  switch (node.NodeClass) {
    case enUNARY: {
      const TExpToken& operand = *node.Left;
      if (!CheckUnaryTypes(node.Operator, operand.DataType)) {
        std::string message(expmsg::kTypeMismatchBetween);
        message += '\'';
        message += node.Text;
        message += expmsg::kUnaryMismatchOperator;
        message += '\'';
        message += operand.Text;
        message += '\'';
        message += expmsg::kIn;
        RaiseIn(message);
      }
      node.DataType = GetUnaryResultDataType(node.Operator, operand.DataType);
      node.SubType = GetUnaryResultSubType(node.Operator, operand.SubType);
      node.DataSize = operand.DataSize;
      node.Decimals = operand.Decimals;
      if (node.DataType == dtBoolean) node.DataSize = 2;
      break;
    }
    case enBINARY:
    case enCOMPARE:
      VerifyBinary(node);
      break;
    case enFIELD:
      if (node.FieldName != "*" && !node.WasConstant && !FindField(node)) {
        RaiseInvalidColumn(node);
      }
      MaybeTransform(node, transform);
      break;
    case enTUPLE:
      if (node.SubQuery == nullptr || node.SubQuery->SubSelectColumnCount() != 1) RaiseIn(expmsg::kSubSelectColumns);
      if (!node.SubQuery->TypeSubSelectColumn(node)) {
        RaiseInvalidColumn(node);
      }
      break;
    case enFUNC:
      VerifyFunction(node, transform);
      break;
    case enEXTBINARY:
      VerifyExtended(node);
      break;
    default:
      break;
  }
}

void TExpressionVerifier::VerifyBinary(TExpToken& node) {
  TExpToken* left = node.Left.get();
  TExpToken* right = node.Right.get();
  auto columnOrFunction = [](const TExpToken& n) { return n.NodeClass == enFIELD || n.NodeClass == enFUNC; };
  // 1. Two column-bearing sides where one column was a string constant: that
  // one is a literal again (the right side first; only one is reverted).
  if (columnOrFunction(*left) && columnOrFunction(*right) && ContainsFields(left) && ContainsFields(right)) {
    TExpToken* rightField = GetFieldToken(right);
    TExpToken* leftField = GetFieldToken(left);
    if (rightField != nullptr && rightField->WasConstant)
      RevertToConstant(*rightField);
    else if (leftField != nullptr && leftField->WasConstant)
      RevertToConstant(*leftField);
  }
  // 2. A string constant against a date, time or timestamp becomes that type.
  if (left->NodeClass == enCONST || right->NodeClass == enCONST) {
    if (IsTemporalType(left->DataType) && right->DataType == dtString)
      ConvertTemporalConstant(*right, *left);
    else if (IsTemporalType(right->DataType) && left->DataType == dtString)
      ConvertTemporalConstant(*left, *right);
  }
  // 3. Operand types.
  if (!CheckBinaryTypes(node.Operator, left->DataType, left->SubType, right->SubType, right->DataType)) {
    std::string message(expmsg::kTypeMismatchBetween);
    message += KindName(*left);
    message += " '";
    message += left->Text;
    message += "' and ";
    message += KindName(*right);
    message += " '";
    message += right->Text;
    message += '\'';
    message += expmsg::kIn;
    RaiseIn(message);
  }
  // 4. Result type, size and scale.
  node.DataType = GetBinaryResultDataType(node.Operator, left->DataType, left->SubType, right->SubType, right->DataType);
  node.SubType = GetBinaryResultSubType(node.Operator, left->DataType, left->SubType, right->SubType, right->DataType);
  node.Decimals = 0;
  if (node.Operator == eoADD && IsTextNode(*left) && IsTextNode(*right)) {
    node.DataSize = left->DataSize + right->DataSize - 1;
  } else if (node.DataType == dtString) {
    node.DataSize = std::max(left->DataSize, right->DataSize);
  } else {
    node.DataSize = FixedSizeOf(node.DataType);
    if (node.DataType == dtBCD) node.Decimals = std::max(left->Decimals, right->Decimals);
  }
}

void TExpressionVerifier::VerifyFunction(TExpToken& node, bool transform) {
  const TBuiltinFunction* function = FindBuiltinFunction(node.Operator);
  if (function == nullptr) return;
  for (std::size_t i = 0; i < function->MinArguments; ++i)
    if (node.GetArgumentExpToken(i) == nullptr) RaiseIn(expmsg::kNestedTooDeeply);
  functionTransform_ = transform;
  function->Type(*this, node);
}

namespace {

void TakeTypeOf(TExpToken& node, const TExpToken& source) {
  node.DataType = source.DataType;
  node.SubType = source.SubType;
  node.DataSize = source.DataSize;
  node.Decimals = source.Decimals;
}

// A text function's result: a memo for a memo, else a string, of the source's size.
void TextResultOf(TExpToken& node, const TExpToken& source) {
  node.DataType = IsMemoType(source.DataType, source.SubType) ? std::uint8_t{dtBlob} : std::uint8_t{dtString};
  node.SubType = IsMemoType(source.DataType, source.SubType) ? std::uint8_t{dstMemo} : std::uint8_t{0};
  node.DataSize = source.DataSize;
  node.Decimals = 0;
}

void IntegerResult(TExpToken& node) {
  node.DataType = dtInteger;
  node.SubType = 0;
  node.DataSize = 4;
}

// A literal the callback took for a column name is a literal again where
// only a constant makes sense.
void LiteralOnly(TExpToken* n) {
  if (n != nullptr && n->NodeClass == enFIELD && n->WasConstant) RevertToConstant(*n);
}

}  // namespace

void TypeAggregate(TExpressionVerifier& verifier, TExpToken& node) {
  const TExpToken& arg0 = *node.Arguments[0];
  constexpr std::uint8_t kAccepted[] = {dtDate, dtSmallInt, dtInteger, dtFloat, dtBCD,
                                        dtTime, dtTimeStamp, dtWord, dtLargeInt};
  if (node.Operator != eoCOUNT &&
      std::find(std::begin(kAccepted), std::end(kAccepted), arg0.DataType) == std::end(kAccepted)) {
    std::string message = node.Text;
    message += expmsg::kAggregateFunction;
    message += expmsg::kAggregateNumeric;
    verifier.RaiseIn(message);
  }
  // A count is an integer whatever it counts (HAVING COUNT(name) > 1 compares
  // numbers); the other aggregates take their argument's type.
  if (node.Operator == eoCOUNT) {
    IntegerResult(node);
    return;
  }
  TakeTypeOf(node, arg0);
}

void TypeCaseMapping(TExpressionVerifier& verifier, TExpToken& node) {
  const TExpToken& arg0 = *node.Arguments[0];
  if (!IsTextNode(arg0)) {
    std::string message(expmsg::kTypeMismatchBetween);
    message += FindBuiltinFunction(node.Operator)->Name;
    message += expmsg::kFunctionArgumentMismatch;
    verifier.RaiseIn(message);
  }
  TextResultOf(node, arg0);
}

void TypeLength(TExpressionVerifier& verifier, TExpToken& node) {
  if (!IsTextNode(*node.Arguments[0])) verifier.RaiseIn(expmsg::kLengthMismatch);
  IntegerResult(node);
}

void TypeSubstring(TExpressionVerifier& verifier, TExpToken& node) {
  const TExpToken& arg0 = *node.Arguments[0];
  const TExpToken* arg2 = node.GetArgumentExpToken(2);
  if (!IsTextNode(arg0)) verifier.RaiseIn(expmsg::kSubstringExpression);
  if (node.Arguments[1]->DataType != dtInteger) verifier.RaiseIn(expmsg::kSubstringFromInteger);
  if (arg2 != nullptr && arg2->DataType != dtInteger) verifier.RaiseIn(expmsg::kSubstringForInteger);
  TextResultOf(node, arg0);
}

void TypeReplace(TExpressionVerifier& verifier, TExpToken& node) {
  TExpToken& search = *node.Arguments[0];
  TExpToken& replacement = *node.Arguments[1];
  const TExpToken& text = *node.Arguments[2];
  LiteralOnly(&search);
  LiteralOnly(&replacement);
  if (!IsTextNode(text)) verifier.RaiseIn(expmsg::kReplaceInString);
  if (search.DataType != dtString) verifier.RaiseIn(expmsg::kReplaceSearch);
  if (replacement.DataType != dtString) verifier.RaiseIn(expmsg::kReplaceReplacement);
  TextResultOf(node, text);
}

void TypeSearch(TExpressionVerifier& verifier, TExpToken& node) {
  TExpToken& search = *node.Arguments[0];
  const bool pos = node.Operator == eoPOS;
  LiteralOnly(&search);
  if (!IsTextNode(*node.Arguments[1])) verifier.RaiseIn(pos ? expmsg::kPosInMismatch : expmsg::kOccursInMismatch);
  if (search.DataType != dtString) verifier.RaiseIn(pos ? expmsg::kPosSearchMismatch : expmsg::kOccursSearchMismatch);
  IntegerResult(node);
}

void TypeTrim(TExpressionVerifier& verifier, TExpToken& node) {
  TExpToken& character = *node.Arguments[0];
  const TExpToken& text = *node.Arguments[1];
  LiteralOnly(&character);
  if (!IsTextNode(text)) verifier.RaiseIn(expmsg::kTrimFromString);
  if (character.NodeClass != enCONST || character.IsParameter || character.IsNull || character.DataType != dtString ||
      character.StringLength() != 1)
    verifier.RaiseIn(expmsg::kTrimCharacter);
  TextResultOf(node, text);
}

void TypeExtract(TExpressionVerifier& verifier, TExpToken& node) {
  if (!IsTemporalType(node.Arguments[0]->DataType)) verifier.RaiseIn(expmsg::kExtractType);
  IntegerResult(node);
}

void TypeCast(TExpressionVerifier& verifier, TExpToken& node) {
  verifier.VerifyDataType(node);
  verifier.TransformResult(node);
}

void TypeIf(TExpressionVerifier& verifier, TExpToken& node) {
  TExpToken& condition = *node.Arguments[0];
  TExpToken& then = *node.Arguments[1];
  TExpToken& otherwise = *node.Arguments[2];
  if (condition.DataType != dtBoolean) verifier.RaiseIn(expmsg::kIfCondition);
  const bool thenNull = IsNullConstant(then);
  const bool elseNull = IsNullConstant(otherwise);
  if (thenNull && elseNull) {
    std::string message(expmsg::kIfBothNull);
    message.append(verifier.Description());
    message += expmsg::kIfBothNullTail;
    verifier.Raise(std::move(message));
  }
  if (thenNull) TakeTypeOf(then, otherwise);
  if (elseNull) TakeTypeOf(otherwise, then);
  if (!CheckBinaryTypes(eoEQ, then.DataType, then.SubType, otherwise.SubType, otherwise.DataType))
    verifier.RaiseIn(expmsg::kIfMismatch);
  node.DataType = then.DataType;
  node.SubType = then.SubType;
  if (then.DataType == dtString) {
    node.DataSize = std::max(then.DataSize, otherwise.DataSize);
    node.Decimals = std::max(then.Decimals, otherwise.Decimals);
  } else {
    node.DataSize = then.DataSize;
    node.Decimals = then.Decimals;
  }
  verifier.TransformResult(node);
}

void TypeAbs(TExpressionVerifier& verifier, TExpToken& node) {
  const TExpToken& arg0 = *node.Arguments[0];
  constexpr std::uint8_t kAccepted[] = {dtSmallInt, dtInteger, dtFloat, dtBCD, dtWord, dtLargeInt};
  if (std::find(std::begin(kAccepted), std::end(kAccepted), arg0.DataType) == std::end(kAccepted))
    verifier.RaiseIn(expmsg::kAbsType);
  TakeTypeOf(node, arg0);
}

void TypeRound(TExpressionVerifier& verifier, TExpToken& node) {
  const TExpToken& arg0 = *node.Arguments[0];
  const TExpToken* places = node.GetArgumentExpToken(1);
  if (arg0.DataType != dtFloat && arg0.DataType != dtBCD) verifier.RaiseIn(expmsg::kRoundType);
  if (places != nullptr) {
    std::int32_t value = 0;
    if (!IsIntegerConstant(places, value)) verifier.RaiseIn(expmsg::kRoundPlaces);
    if (value < 0 || value > 32) verifier.RaiseIn(expmsg::kRoundPlacesRange);
  }
  TakeTypeOf(node, arg0);
}

void TypeTextSearch(TExpressionVerifier& verifier, TExpToken& node) {
  TExpToken& search = *node.Arguments[0];
  const TExpToken& column = *node.Arguments[1];
  const bool textSearch = node.Operator == eoTEXTSEARCH;
  LiteralOnly(&search);
  if (!IsTextNode(search))
    verifier.RaiseIn(textSearch ? expmsg::kTextSearchTextMismatch : expmsg::kTextOccursTextMismatch);
  if (search.NodeClass != enCONST)
    verifier.RaiseIn(textSearch ? expmsg::kTextSearchConstant : expmsg::kTextOccursConstant);
  if (column.NodeClass != enFIELD) verifier.RaiseIn(textSearch ? expmsg::kTextSearchColumn : expmsg::kTextOccursColumn);
  if (!IsTextNode(column))
    verifier.RaiseIn(textSearch ? expmsg::kTextSearchColumnMismatch : expmsg::kTextOccursColumnMismatch);
  node.SubType = 0;
  node.Decimals = 0;
  if (textSearch) {
    node.DataType = dtBoolean;
    node.DataSize = 2;
    verifier.TransformResult(node);
  } else {
    IntegerResult(node);
  }
}

void TExpressionVerifier::VerifyExtended(TExpToken& node) {
  TExpToken* value = node.GetArgumentExpToken(0);
  if (value == nullptr || node.Arguments.size() < 2) RaiseIn(expmsg::kNestedTooDeeply);
  auto mismatch = [&](std::string_view name, const TExpToken& operand) {
    std::string message(expmsg::kTypeMismatchBetween);
    message += name;
    message += expmsg::kOperatorAndExpression;
    message += '\'';
    message += operand.Text;
    message += '\'';
    message += expmsg::kIn;
    RaiseIn(message);
  };
  switch (node.Operator) {
    case eoLIKE:
    case eoNOTLIKE: {
      const std::string_view name = node.Operator == eoLIKE ? "LIKE" : "NOT LIKE";
      TExpToken* pattern = node.GetArgumentExpToken(1);
      if (pattern == nullptr) RaiseIn(expmsg::kNestedTooDeeply);
      if (!IsTextNode(*value)) mismatch(name, *value);
      if (pattern->DataType != dtString) mismatch(name, *pattern);
      break;
    }
    case eoIN: case eoNOTIN: case eoBETWEEN: case eoNOTBETWEEN: {
      const std::string_view name = node.Operator == eoIN      ? "IN"
                                    : node.Operator == eoNOTIN ? "NOT IN"
                                    : node.Operator == eoBETWEEN ? "BETWEEN"
                                                                 : "NOT BETWEEN";
      for (std::size_t i = 1; i < node.Arguments.size(); ++i) {
        TExpToken* argument = node.Arguments[i].get();
        if (argument == nullptr) RaiseIn(expmsg::kNestedTooDeeply);
        if (IsTemporalType(value->DataType) && argument->NodeClass == enCONST && argument->DataType == dtString)
          ConvertTemporalConstant(*argument, *value);
        if (!CheckBinaryTypes(eoEQ, value->DataType, value->SubType, argument->SubType, argument->DataType))
          mismatch(name, *argument);
      }
      break;
    }
    case eoSUBIN:
    case eoNOTSUBIN: {
      TExpToken* tuple = node.GetArgumentExpToken(1);
      if (tuple == nullptr) RaiseIn(expmsg::kNestedTooDeeply);
      if (!CheckBinaryTypes(eoEQ, value->DataType, value->SubType, tuple->SubType, tuple->DataType))
        mismatch("", *tuple);
      break;
    }
    default:
      break;
  }
  node.DataType = dtBoolean;
  node.SubType = 0;
  node.DataSize = 2;
  node.Decimals = 0;
}

void TExpressionVerifier::VerifyDataType(TExpToken& node) {
  const TExpToken* cast = node.GetArgumentExpToken(0);
  const TExpToken* size = node.GetArgumentExpToken(1);
  const TExpToken* scale = node.GetArgumentExpToken(2);
  node.Decimals = 0;
  std::int32_t value = 0;
  auto lengthRangeError = [&] {
    std::string message(expmsg::kLengthRange);
    message += "250";
    message += expmsg::kIn;
    RaiseIn(message);
  };
  switch (node.DataType) {
    case dtString:
      if (size != nullptr) {
        if (!IsIntegerConstant(size, value)) RaiseIn(expmsg::kLengthInteger);
        if (value < 1 || value > 250) lengthRangeError();
        node.DataSize = value + 1;
      } else {
        node.DataSize = cast != nullptr ? cast->DataSize : 10;
      }
      break;
    case dtBytes:
    case dtVarBytes:
      if (size != nullptr) {
        if (!IsIntegerConstant(size, value)) RaiseIn(expmsg::kLengthInteger);
        if (value < 1 || value > 250) lengthRangeError();
        node.DataSize = value;
      } else {
        node.DataSize = cast != nullptr ? cast->DataSize : 10;
      }
      break;
    case dtFloat:
    case dtBCD:
      node.DataSize = node.DataType == dtFloat ? 8 : kBcdPhysicalSize;
      if (size != nullptr && scale != nullptr) {
        if (!IsIntegerConstant(scale, value) || value < 0 || value > 255) RaiseIn(expmsg::kScaleInteger);
        if (node.DataType == dtBCD && value >= 5) {
          std::string message(expmsg::kBcdScale);
          message.append(description_);
          Raise(std::move(message));
        }
        node.Decimals = static_cast<std::uint8_t>(value);
      }
      break;
    case dtBlob:
      node.DataSize = cast != nullptr ? cast->DataSize : kBlobReferenceSize;
      if (!IsIntegerConstant(size, value)) RaiseIn(expmsg::kBlobFirstInteger);
      if (!IsIntegerConstant(scale, value)) RaiseIn(expmsg::kBlobTypeInteger);
      if (value != 1 && value != 2 && value != 3 && value != 5 && value != 7) RaiseIn(expmsg::kBlobTypeValue);
      node.SubType = static_cast<std::uint8_t>(value + 21);
      break;
    default:
      node.DataSize = FixedSizeOf(node.DataType);
      break;
  }
}

void VerifyExpressionToken(TarnErrorCode errorCode, std::string_view databaseName, std::string_view tableName,
                           bool transformBooleans, TVerifyFieldCallback fieldCallback, void* callbackContext,
                           TExpToken* parent, TExpToken& node, std::string_view description) {
  TExpressionVerifier verifier(errorCode, databaseName, tableName, fieldCallback, callbackContext, description);
  verifier.Verify(parent, node, transformBooleans);
}

void VerifyDataTypeToken(TarnErrorCode errorCode, std::string_view databaseName, std::string_view tableName,
                         TExpToken& node, std::string_view description) {
  TExpressionVerifier verifier(errorCode, databaseName, tableName, nullptr, nullptr, description);
  verifier.VerifyDataType(node);
}

void TransformBooleanExpression(TExpToken& node) {
  TExpTokenPtr inner = GetNewExpTokenInstance();
  inner->Copy(node);
  inner->Left = std::move(node.Left);
  inner->Right = std::move(node.Right);
  inner->ThirdOperand = std::move(node.ThirdOperand);
  inner->Arguments = std::move(node.Arguments);
  node.Arguments.clear();
  if (inner->Left) inner->Left->Parent = inner.get();
  if (inner->Right) inner->Right->Parent = inner.get();
  if (inner->ThirdOperand) inner->ThirdOperand->Parent = inner.get();
  for (auto& argument : inner->Arguments)
    if (argument) argument->Parent = inner.get();
  inner->Parent = &node;

  TExpTokenPtr truth = GetNewExpTokenInstance();
  truth->NodeClass = enCONST;
  truth->Text = "True";
  truth->DataType = dtBoolean;
  truth->SetBooleanValue(true);
  truth->Parent = &node;

  TExpToken* parent = node.Parent;
  node.Initialize();
  node.NodeClass = enBINARY;
  node.Operator = eoEQ;
  node.Text = "=";
  node.DataType = dtBoolean;
  node.DataSize = 2;
  node.Parent = parent;
  node.Left = std::move(inner);
  node.Right = std::move(truth);
}

bool ContainsFields(const TExpToken* node) {
  std::vector<const TExpToken*> pending{node};
  while (!pending.empty()) {
    const TExpToken* next = pending.back();
    pending.pop_back();
    if (next == nullptr) continue;
    switch (next->NodeClass) {
      case enFIELD:
        return true;
      case enUNARY:
      case enBINARY:
      case enCOMPARE:
        pending.push_back(next->Left.get());
        pending.push_back(next->Right.get());
        break;
      case enFUNC:
      case enEXTBINARY:
        for (const auto& argument : next->Arguments) pending.push_back(argument.get());
        break;
      default:
        break;
    }
  }
  return false;
}

bool ContainsAggregates(const TExpToken* node) {
  std::vector<const TExpToken*> pending{node};
  while (!pending.empty()) {
    const TExpToken* next = pending.back();
    pending.pop_back();
    if (next == nullptr) continue;
    if (next->NodeClass == enFUNC && IsAggregate(next->Operator)) return true;
    pending.push_back(next->Left.get());
    pending.push_back(next->Right.get());
    for (const auto& argument : next->Arguments) pending.push_back(argument.get());
  }
  return false;
}

bool ContainsOrs(const TExpToken* node) {
  if (node == nullptr) return false;
  if (node->NodeClass == enBINARY && node->Operator == eoOR) return true;
  if (node->NodeClass == enUNARY && node->Operator == eoNOT) return !ContainsOrs(node->Left.get());
  return false;
}

bool ContainsNots(const TExpToken* node) {
  if (node == nullptr) return false;
  if (node->NodeClass == enUNARY && node->Operator == eoNOT) return true;
  if (node->NodeClass != enBINARY) return false;
  for (const TExpToken* p = node->Parent; p != nullptr; p = p->Parent) {
    if (p->NodeClass == enUNARY && p->Operator == eoNOT) return true;
    if (p->NodeClass != enBINARY) return false;
  }
  return false;
}

TExpOperator GetOperatorForAggregate(std::string_view name) {
  const TBuiltinFunction* function = FindAggregateFunction(name);
  return function != nullptr ? function->Operator : eoNOTDEFINED;
}

}  // namespace tarn
