// Checking and typing of expression trees.
#include "expressions/expression_verifier.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "platform/code_page.h"
#include "expressions/ansi_text_forms.h"
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
  return op == eoSUM || op == eoRUNSUM || op == eoAVG || op == eoMIN || op == eoMAX || op == eoCOUNT;
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

class TVerifier {
 public:
  TVerifier(TarnErrorCode code, std::string_view database, std::string_view table, TVerifyFieldCallback callback,
            void* context, std::string_view description)
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
};

void TVerifier::OfferConstantAsColumn(TExpToken& node) const {
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

void TVerifier::ConvertTemporalConstant(TExpToken& stringSide, const TExpToken& temporalSide) const {
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

void TVerifier::MaybeTransform(TExpToken& node, bool transform) const {
  if (!transform || node.DataType != dtBoolean) return;
  const TExpToken* parent = node.Parent;
  if (parent == nullptr || ((parent->NodeClass == enUNARY || parent->NodeClass == enBINARY) &&
                            (parent->Operator == eoNOT || parent->Operator == eoAND || parent->Operator == eoOR)))
    TransformBooleanExpression(node);
}

void TVerifier::Verify(TExpToken* parent, TExpToken& root, bool transform) {
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
          // IF transforms only its condition.
          const bool argumentTransform =
              node.NodeClass == enFUNC && node.Operator == eoIF ? i == 0 : step.transform;
          steps.push_back({node.Arguments[i].get(), &node, argumentTransform, false});
        }
        break;
      default:
        break;
    }
  }
}

void TVerifier::VerifyNode(TExpToken& node, bool transform) {
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

void TVerifier::VerifyBinary(TExpToken& node) {
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

void TVerifier::VerifyFunction(TExpToken& node, bool transform) {
  TExpToken* arg0 = node.GetArgumentExpToken(0);
  TExpToken* arg1 = node.GetArgumentExpToken(1);
  TExpToken* arg2 = node.GetArgumentExpToken(2);
  auto requireArguments = [&](std::size_t count) {
    for (std::size_t i = 0; i < count; ++i)
      if (node.GetArgumentExpToken(i) == nullptr) RaiseIn(expmsg::kNestedTooDeeply);
  };
  auto takeTypeOf = [&](const TExpToken& source) {
    node.DataType = source.DataType;
    node.SubType = source.SubType;
    node.DataSize = source.DataSize;
    node.Decimals = source.Decimals;
  };
  auto textResultOf = [&](const TExpToken& source) {
    node.DataType = IsMemoType(source.DataType, source.SubType) ? std::uint8_t{dtBlob} : std::uint8_t{dtString};
    node.SubType = IsMemoType(source.DataType, source.SubType) ? std::uint8_t{dstMemo} : std::uint8_t{0};
    node.DataSize = source.DataSize;
    node.Decimals = 0;
  };
  // A literal the callback took for a column name is a literal again where
  // only a constant makes sense.
  auto literalOnly = [](TExpToken* n) {
    if (n != nullptr && n->NodeClass == enFIELD && n->WasConstant) RevertToConstant(*n);
  };

  if (IsAggregate(node.Operator)) {
    requireArguments(1);
    constexpr std::uint8_t kAccepted[] = {dtDate, dtSmallInt, dtInteger, dtFloat, dtBCD,
                                          dtTime, dtTimeStamp, dtWord, dtLargeInt};
    if (node.Operator != eoCOUNT && std::find(std::begin(kAccepted), std::end(kAccepted), arg0->DataType) ==
                                        std::end(kAccepted)) {
      std::string message = node.Text;
      message += expmsg::kAggregateFunction;
      message += expmsg::kAggregateNumeric;
      RaiseIn(message);
    }
    takeTypeOf(*arg0);
    return;
  }
  switch (node.Operator) {
    case eoUPPER:
    case eoLOWER:
      requireArguments(1);
      if (!IsTextNode(*arg0)) {
        std::string message(expmsg::kTypeMismatchBetween);
        message += node.Operator == eoUPPER ? "UPPER" : "LOWER";
        message += expmsg::kFunctionArgumentMismatch;
        RaiseIn(message);
      }
      textResultOf(*arg0);
      break;
    case eoLENGTH:
      requireArguments(1);
      if (!IsTextNode(*arg0)) RaiseIn(expmsg::kLengthMismatch);
      node.DataType = dtInteger;
      node.SubType = 0;
      node.DataSize = 4;
      break;
    case eoSUBSTRING:
      requireArguments(2);
      if (!IsTextNode(*arg0)) RaiseIn(expmsg::kSubstringExpression);
      if (arg1->DataType != dtInteger) RaiseIn(expmsg::kSubstringFromInteger);
      if (arg2 != nullptr && arg2->DataType != dtInteger) RaiseIn(expmsg::kSubstringForInteger);
      textResultOf(*arg0);
      break;
    case eoREPLACE:
      requireArguments(3);
      literalOnly(arg0);
      literalOnly(arg1);
      if (!IsTextNode(*arg2)) RaiseIn(expmsg::kReplaceInString);
      if (arg0->DataType != dtString) RaiseIn(expmsg::kReplaceSearch);
      if (arg1->DataType != dtString) RaiseIn(expmsg::kReplaceReplacement);
      textResultOf(*arg2);
      break;
    case eoPOS:
    case eoOCCURS:
      requireArguments(2);
      literalOnly(arg0);
      if (!IsTextNode(*arg1)) RaiseIn(node.Operator == eoPOS ? expmsg::kPosInMismatch : expmsg::kOccursInMismatch);
      if (arg0->DataType != dtString)
        RaiseIn(node.Operator == eoPOS ? expmsg::kPosSearchMismatch : expmsg::kOccursSearchMismatch);
      node.DataType = dtInteger;
      node.SubType = 0;
      node.DataSize = 4;
      break;
    case eoTRIMLEADING:
    case eoTRIMTRAILING:
    case eoTRIMBOTH:
      requireArguments(2);
      literalOnly(arg0);
      if (!IsTextNode(*arg1)) RaiseIn(expmsg::kTrimFromString);
      if (arg0->NodeClass != enCONST || arg0->IsParameter || arg0->IsNull || arg0->DataType != dtString ||
          arg0->StringLength() != 1)
        RaiseIn(expmsg::kTrimCharacter);
      textResultOf(*arg1);
      break;
    case eoEXTRACTYEAR: case eoEXTRACTMONTH: case eoEXTRACTWEEK: case eoEXTRACTDAY:
    case eoEXTRACTDAYOFWEEK: case eoEXTRACTHOUR: case eoEXTRACTMINUTE: case eoEXTRACTSECOND:
      requireArguments(1);
      if (!IsTemporalType(arg0->DataType)) RaiseIn(expmsg::kExtractType);
      node.DataType = dtInteger;
      node.SubType = 0;
      node.DataSize = 4;
      break;
    case eoCAST:
      requireArguments(1);
      VerifyDataType(node);
      MaybeTransform(node, transform);
      break;
    case eoIF: {
      requireArguments(3);
      if (arg0->DataType != dtBoolean) RaiseIn(expmsg::kIfCondition);
      const bool thenNull = IsNullConstant(*arg1);
      const bool elseNull = IsNullConstant(*arg2);
      if (thenNull && elseNull) {
        std::string message(expmsg::kIfBothNull);
        message.append(description_);
        message += expmsg::kIfBothNullTail;
        Raise(std::move(message));
      }
      auto adopt = [](TExpToken& target, const TExpToken& source) {
        target.DataType = source.DataType;
        target.SubType = source.SubType;
        target.DataSize = source.DataSize;
        target.Decimals = source.Decimals;
      };
      if (thenNull) adopt(*arg1, *arg2);
      if (elseNull) adopt(*arg2, *arg1);
      if (!CheckBinaryTypes(eoEQ, arg1->DataType, arg1->SubType, arg2->SubType, arg2->DataType))
        RaiseIn(expmsg::kIfMismatch);
      node.DataType = arg1->DataType;
      node.SubType = arg1->SubType;
      if (arg1->DataType == dtString) {
        node.DataSize = std::max(arg1->DataSize, arg2->DataSize);
        node.Decimals = std::max(arg1->Decimals, arg2->Decimals);
      } else {
        node.DataSize = arg1->DataSize;
        node.Decimals = arg1->Decimals;
      }
      MaybeTransform(node, transform);
      break;
    }
    case eoABS: {
      requireArguments(1);
      constexpr std::uint8_t kAccepted[] = {dtSmallInt, dtInteger, dtFloat, dtBCD, dtWord, dtLargeInt};
      if (std::find(std::begin(kAccepted), std::end(kAccepted), arg0->DataType) == std::end(kAccepted))
        RaiseIn(expmsg::kAbsType);
      takeTypeOf(*arg0);
      break;
    }
    case eoROUND: {
      requireArguments(1);
      if (arg0->DataType != dtFloat && arg0->DataType != dtBCD) RaiseIn(expmsg::kRoundType);
      if (arg1 != nullptr) {
        std::int32_t places = 0;
        if (!IsIntegerConstant(arg1, places)) RaiseIn(expmsg::kRoundPlaces);
        if (places < 0 || places > 32) RaiseIn(expmsg::kRoundPlacesRange);
      }
      takeTypeOf(*arg0);
      break;
    }
    case eoTEXTSEARCH:
    case eoTEXTOCCURS: {
      requireArguments(2);
      const bool search = node.Operator == eoTEXTSEARCH;
      literalOnly(arg0);
      if (!IsTextNode(*arg0)) RaiseIn(search ? expmsg::kTextSearchTextMismatch : expmsg::kTextOccursTextMismatch);
      if (arg0->NodeClass != enCONST) RaiseIn(search ? expmsg::kTextSearchConstant : expmsg::kTextOccursConstant);
      if (arg1->NodeClass != enFIELD) RaiseIn(search ? expmsg::kTextSearchColumn : expmsg::kTextOccursColumn);
      if (!IsTextNode(*arg1))
        RaiseIn(search ? expmsg::kTextSearchColumnMismatch : expmsg::kTextOccursColumnMismatch);
      node.SubType = 0;
      node.Decimals = 0;
      if (search) {
        node.DataType = dtBoolean;
        node.DataSize = 2;
        MaybeTransform(node, transform);
      } else {
        node.DataType = dtInteger;
        node.DataSize = 4;
      }
      break;
    }
    default:
      break;
  }
}

void TVerifier::VerifyExtended(TExpToken& node) {
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

void TVerifier::VerifyDataType(TExpToken& node) {
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

}  // namespace

void VerifyExpressionToken(TarnErrorCode errorCode, std::string_view databaseName, std::string_view tableName,
                           bool transformBooleans, TVerifyFieldCallback fieldCallback, void* callbackContext,
                           TExpToken* parent, TExpToken& node, std::string_view description) {
  TVerifier verifier(errorCode, databaseName, tableName, fieldCallback, callbackContext, description);
  verifier.Verify(parent, node, transformBooleans);
}

void VerifyDataTypeToken(TarnErrorCode errorCode, std::string_view databaseName, std::string_view tableName,
                         TExpToken& node, std::string_view description) {
  TVerifier verifier(errorCode, databaseName, tableName, nullptr, nullptr, description);
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
  if (AnsiSameText(name, "SUM")) return eoSUM;
  if (AnsiSameText(name, "RUNSUM")) return eoRUNSUM;
  if (AnsiSameText(name, "AVG")) return eoAVG;
  if (AnsiSameText(name, "MIN")) return eoMIN;
  if (AnsiSameText(name, "MAX")) return eoMAX;
  if (AnsiSameText(name, "COUNT")) return eoCOUNT;
  return eoNOTDEFINED;
}

}  // namespace tarn
