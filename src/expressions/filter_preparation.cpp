// Filter preparation: constant folding, exact constant conversion, bound
// adjustment and the enCOMPARE rewrites.
#include "expressions/filter_preparation.h"

#include <array>
#include <cmath>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "core/errors.h"
#include "platform/code_page.h"
#include "expressions/bcd_values.h"
#include "expressions/date_time_values.h"
#include "expressions/exp_token_stack.h"
#include "expressions/expression_layer.h"
#include "expressions/expression_verifier.h"
#include "expressions/text_code_page.h"
#include "expressions/value_conversion.h"
#include "storage/formats/data_types.h"

namespace tarn {

namespace {

bool IsIntegerType(std::uint8_t t) { return t == dtSmallInt || t == dtWord || t == dtInteger || t == dtLargeInt; }

bool IsOrdering(TExpOperator op) { return op == eoGT || op == eoLT || op == eoGE || op == eoLE; }

template <typename T>
T Read(const TExpToken& n) {
  T v{};
  std::memcpy(&v, n.Value.data(), sizeof v);
  return v;
}

std::int64_t IntegerOf(const TExpToken& n) {
  switch (n.DataType) {
    case dtSmallInt: return Read<std::int16_t>(n);
    case dtWord: return Read<std::uint16_t>(n);
    case dtLargeInt: return Read<std::int64_t>(n);
    default: return Read<std::int32_t>(n);
  }
}

bool FitsInteger(std::uint8_t type, std::int64_t v) {
  switch (type) {
    case dtSmallInt: return v >= -32768 && v <= 32767;
    case dtWord: return v >= 0 && v <= 65535;
    case dtInteger: return v >= INT32_MIN && v <= INT32_MAX;
    default: return true;
  }
}

// Stores an integer that fits the column's type as the constant's value.
void SetIntegerConstant(TExpToken& constant, const TExpToken& column, std::int64_t v) {
  constant.DataType = column.DataType;
  constant.SubType = column.SubType;
  constant.Decimals = 0;
  constant.IsNull = false;
  switch (column.DataType) {
    case dtSmallInt: { const auto x = static_cast<std::int16_t>(v); constant.SetDataSize(2); std::memcpy(constant.Value.data(), &x, 2); break; }
    case dtWord: { const auto x = static_cast<std::uint16_t>(v); constant.SetDataSize(2); std::memcpy(constant.Value.data(), &x, 2); break; }
    case dtLargeInt: { constant.SetDataSize(8); std::memcpy(constant.Value.data(), &v, 8); break; }
    default: { const auto x = static_cast<std::int32_t>(v); constant.SetDataSize(4); std::memcpy(constant.Value.data(), &x, 4); break; }
  }
}

// A value lying strictly between two whole units of the column's type: an
// ordering comparison keeps its answers with the nearest whole bound
// (< x and <= x become <= floor(x); > x and >= x become >= ceil(x)).
bool AdjustBound(TExpOperator& op, double floorValue, std::int64_t& bound) {
  if (!IsOrdering(op)) return false;
  const bool below = op == eoLT || op == eoLE;
  const double b = below ? floorValue : floorValue + 1;
  if (!(b > -9.2e18 && b < 9.2e18)) return false;
  bound = static_cast<std::int64_t>(b);
  op = below ? eoLE : eoGE;
  return true;
}

// Brings a comparison constant to the column's type when that is exact,
// adjusting an ordering operator where the constant falls between two
// values of the column's type. False: the constant stays as it is and the
// comparison is answered per record by value.
bool FitConstant(TExpOperator& op, const TExpToken& column, TExpToken& constant) {
  const std::uint8_t target = column.DataType, source = constant.DataType;
  if (IsIntegerType(target)) {
    if (IsIntegerType(source)) {
      const std::int64_t v = IntegerOf(constant);
      if (!FitsInteger(target, v)) return false;
      SetIntegerConstant(constant, column, v);
      return true;
    }
    double x = 0;
    bool whole = false;
    std::int64_t v = 0;
    if (source == dtFloat) {
      x = Read<double>(constant);
      if (!std::isfinite(x)) return false;
      whole = x == std::trunc(x) && std::fabs(x) < 9.2e18;
      if (whole) v = static_cast<std::int64_t>(x);
    } else if (source == dtBCD) {
      std::int64_t fixed = 0;
      if (!BcdToFixed(constant.Value.data(), fixed)) return false;
      whole = fixed % kBcdScale == 0;
      v = fixed / kBcdScale;
      x = FixedToFloat(fixed);
      if (!whole) {
        // Bound from the exact fixed-point value.
        if (!IsOrdering(op)) return false;
        const std::int64_t floorValue = fixed < 0 ? v - 1 : v;
        const bool below = op == eoLT || op == eoLE;
        const std::int64_t bound = below ? floorValue : floorValue + 1;
        if (!FitsInteger(target, bound)) return false;
        op = below ? eoLE : eoGE;
        SetIntegerConstant(constant, column, bound);
        return true;
      }
    } else {
      return false;
    }
    if (whole) {
      if (!FitsInteger(target, v)) return false;
      SetIntegerConstant(constant, column, v);
      return true;
    }
    std::int64_t bound = 0;
    TExpOperator adjusted = op;
    if (!AdjustBound(adjusted, std::floor(x), bound) || !FitsInteger(target, bound)) return false;
    op = adjusted;
    SetIntegerConstant(constant, column, bound);
    return true;
  }
  if (target == dtFloat) {
    if (!IsIntegerType(source)) return false;
    const std::int64_t v = IntegerOf(constant);
    constexpr std::int64_t kExactLimit = std::int64_t{1} << 53;
    if (v > kExactLimit || v < -kExactLimit) return false;
    return ConvertConstant(constant, constant.Value.data(), column, constant);
  }
  if (target == dtBCD) {
    std::int64_t fixed = 0;
    if (IsIntegerType(source)) {
      if (!IntegerToFixed(IntegerOf(constant), fixed)) return false;
    } else if (source == dtFloat) {
      const double x = Read<double>(constant);
      if (!FloatToFixed(x, fixed) || FixedToFloat(fixed) != x) return false;
    } else {
      return false;
    }
    std::int64_t unit = 1;
    for (int i = column.Decimals; i < kBcdMaxDecimals; ++i) unit *= 10;
    if (fixed % unit != 0) return false;
    constant.DataType = dtBCD;
    constant.SubType = column.SubType;
    constant.Decimals = column.Decimals;
    constant.SetDataSize(kBcdPhysicalSize);
    FixedToBcd(fixed, column.Decimals, constant.Value.data());
    return true;
  }
  if (target == dtDate && source == dtTimeStamp) {
    const double days = Read<double>(constant) / static_cast<double>(kMillisecondsPerDay);
    if (!std::isfinite(days) || std::fabs(days) > 2e9) return false;
    std::int64_t day = 0;
    if (days == std::floor(days)) {
      day = static_cast<std::int64_t>(days);
    } else if (!AdjustBound(op, std::floor(days), day)) {
      return false;
    }
    const auto d = static_cast<std::int32_t>(day);
    constant.DataType = dtDate;
    constant.SubType = column.SubType;
    constant.Decimals = 0;
    constant.SetDataSize(4);
    std::memcpy(constant.Value.data(), &d, 4);
    return true;
  }
  if (target == dtTimeStamp && source == dtDate) return ConvertConstant(constant, constant.Value.data(), column, constant);
  return false;
}

bool IsTextType(std::uint8_t t) { return t == dtString || t == dtBlob; }

std::string_view TextOfConstant(const TExpToken& n) {
  return std::string_view(reinterpret_cast<const char*>(n.Value.data()), n.StringLength());
}

class TFilterPreparer {
 public:
  TFilterPreparer(void* context, TEvaluateFieldCallback callback, bool noPartialCompare, bool caseInsensitive,
                  std::uint16_t sortID, std::uint16_t languageID)
      : context_(context), callback_(callback), noPartialCompare_(noPartialCompare),
        caseInsensitive_(caseInsensitive), sortID_(sortID), languageID_(languageID), codePage_(languageID, sortID) {}

  // The prepared copy of the tree. Nodes still to be copied wait in a list
  // (with the place their copy goes) instead of being reached by recursion,
  // so chains of any length are prepared with a flat stack.
  TExpTokenPtr Prepare(const TExpToken& root);

 private:
  struct TPending {
    const TExpToken* source;
    TExpTokenPtr* slot;
    TExpToken* parent;
  };

  static bool ContainsTuple(const TExpToken* node) {
    std::vector<const TExpToken*> pending{node};
    while (!pending.empty()) {
      const TExpToken* next = pending.back();
      pending.pop_back();
      if (next == nullptr) continue;
      if (next->NodeClass == enTUPLE) return true;
      pending.push_back(next->Left.get());
      pending.push_back(next->Right.get());
      for (const auto& a : next->Arguments) pending.push_back(a.get());
    }
    return false;
  }
  static bool IsFoldable(const TExpToken* node) {
    return node != nullptr && node->NodeClass != enTUPLE && node->NodeClass != enCONST && !ContainsFields(node) &&
           !ContainsTuple(node);
  }
  // The copy of a node, its operands not yet there.
  static TExpTokenPtr CopyOf(const TExpToken& node, TExpToken* parent) {
    TExpTokenPtr copy = GetNewExpTokenInstance();
    copy->Copy(node);
    copy->Parent = parent;
    return copy;
  }
  void Later(const TExpToken& node, TExpTokenPtr& slot, TExpToken* parent) {
    pending_.push_back({&node, &slot, parent});
  }
  // A column-free subtree computed once, or a constant copied; empty for
  // anything else, which is prepared later.
  TExpTokenPtr ConstantNow(const TExpToken& reference, const TExpToken& node, TExpToken* parent) {
    if (node.NodeClass == enCONST) {
      // A placeholder's value is fixed once prepared: the copy is a plain
      // constant, which an index can serve.
      TExpTokenPtr copy = CopyOf(node, parent);
      copy->IsParameter = false;
      return copy;
    }
    if (!IsFoldable(&node)) return {};
    TExpTokenPtr value = EvaluateConstant(reference, node, context_, sortID_, languageID_, callback_);
    value->Parent = parent;
    return value;
  }
  // The argument list of the copy sized as the original's, up to its last entry.
  static void SizeArguments(const TExpToken& node, TExpToken& copy) {
    std::size_t count = node.Arguments.size();
    while (count > 0 && !node.Arguments[count - 1]) --count;
    copy.Arguments.resize(count);
  }
  TExpTokenPtr PrepareNode(const TExpToken& node, TExpToken* parent);
  void PrepareComparison(const TExpToken& node, TExpToken& copy);
  void PrepareLike(const TExpToken& node, TExpToken& copy);
  void PrepareList(const TExpToken& node, TExpToken& copy);

  void* context_;
  TEvaluateFieldCallback callback_;
  bool noPartialCompare_;
  bool caseInsensitive_;
  std::uint16_t sortID_;
  std::uint16_t languageID_;
  TTextCodePage codePage_;  // the table's: what a character is in patterns and prefixes
  std::vector<TPending> pending_;
};

TExpTokenPtr TFilterPreparer::Prepare(const TExpToken& root) {
  TExpTokenPtr result;
  pending_.clear();
  Later(root, result, nullptr);
  while (!pending_.empty()) {
    const TPending next = pending_.back();
    pending_.pop_back();
    *next.slot = PrepareNode(*next.source, next.parent);
  }
  return result;
}

TExpTokenPtr TFilterPreparer::PrepareNode(const TExpToken& node, TExpToken* parent) {
  TExpTokenPtr copy = CopyOf(node, parent);
  switch (node.NodeClass) {
    case enBINARY:
    case enCOMPARE:
      if (node.Operator >= eoEQ && node.Operator <= eoLE && node.Left && node.Right) {
        PrepareComparison(node, *copy);
        break;
      }
      [[fallthrough]];
    case enUNARY:
      if (node.Left) Later(*node.Left, copy->Left, copy.get());
      if (node.Right) Later(*node.Right, copy->Right, copy.get());
      break;
    case enFUNC:
      // Column-free arguments are computed once; they keep their own types,
      // which the function expects (a SUBSTRING position stays an integer).
      SizeArguments(node, *copy);
      for (std::size_t i = 0; i < copy->Arguments.size(); ++i) {
        const TExpToken* argument = node.Arguments[i].get();
        if (argument == nullptr) continue;
        copy->Arguments[i] = ConstantNow(*argument, *argument, copy.get());
        if (!copy->Arguments[i]) Later(*argument, copy->Arguments[i], copy.get());
      }
      break;
    case enEXTBINARY:
      if (node.Operator == eoLIKE || node.Operator == eoNOTLIKE)
        PrepareLike(node, *copy);
      else
        PrepareList(node, *copy);
      break;
    default:
      break;
  }
  return copy;
}

void TFilterPreparer::PrepareList(const TExpToken& node, TExpToken& copy) {
  SizeArguments(node, copy);
  for (std::size_t i = 0; i < copy.Arguments.size(); ++i) {
    const TExpToken* argument = node.Arguments[i].get();
    if (argument == nullptr) continue;
    const bool listValue = i > 0 && node.Operator != eoSUBIN && node.Operator != eoNOTSUBIN;
    TExpTokenPtr value = listValue ? ConstantNow(*node.Arguments[0], *argument, &copy) : TExpTokenPtr{};
    if (!value) {
      Later(*argument, copy.Arguments[i], &copy);
      continue;
    }
    // List values and bounds take the tested value's type when that is
    // exact; otherwise they are compared by value per record.
    if (!value->IsNull && !IsTextType(value->DataType) && value->DataType != node.Arguments[0]->DataType) {
      TExpOperator op = node.Operator == eoBETWEEN || node.Operator == eoNOTBETWEEN ? (i == 1 ? eoGE : eoLE) : eoEQ;
      const TExpOperator wanted = op;
      TExpTokenPtr trial = GetNewExpTokenInstance();
      trial->Copy(*value);
      if (FitConstant(op, *node.Arguments[0], *trial) && op == wanted) value->Copy(*trial);
    }
    copy.Arguments[i] = std::move(value);
  }
}

void TFilterPreparer::PrepareComparison(const TExpToken& node, TExpToken& copy) {
  Later(*node.Left, copy.Left, &copy);
  TExpTokenPtr constant = ConstantNow(*node.Left, *node.Right, &copy);
  if (!constant) {
    Later(*node.Right, copy.Right, &copy);
    return;
  }
  const TExpToken& left = *node.Left;
  if (!constant->IsNull && !IsTextType(constant->DataType) && constant->DataType != left.DataType) {
    TExpOperator op = copy.Operator;
    if (FitConstant(op, left, *constant)) copy.Operator = op;
  }
  if ((copy.Operator == eoEQ || copy.Operator == eoNE) && !constant->IsNull && constant->DataType == dtString &&
      IsTextType(left.DataType)) {
    const std::size_t length = constant->StringLength();
    const bool star = length > 0 && constant->Value[length - 1] == '*' &&
                      !codePage_.IsTrailBytePosition(TextOfConstant(*constant), length - 1);
    if (star || caseInsensitive_) {
      copy.NodeClass = enCOMPARE;
      copy.CaseInsensitive = caseInsensitive_;
    }
    if (star) {
      copy.PartialLength = noPartialCompare_ ? 0 : static_cast<std::int32_t>(length - 1);
      if (copy.PartialLength > 0) {
        constant->Value[length - 1] = 0;
        constant->DataSize = static_cast<std::int32_t>(length);
      }
    }
  }
  copy.Right = std::move(constant);
}

void TFilterPreparer::PrepareLike(const TExpToken& node, TExpToken& copy) {
  const TExpToken* value = node.GetArgumentExpToken(0);
  const TExpToken* pattern = node.GetArgumentExpToken(1);
  TExpTokenPtr constant = pattern != nullptr ? ConstantNow(*pattern, *pattern, &copy) : TExpTokenPtr{};
  // The arguments as they are, the pattern computed once where possible.
  auto keepArguments = [&] {
    SizeArguments(node, copy);
    for (std::size_t i = 0; i < copy.Arguments.size(); ++i) {
      if (!node.Arguments[i]) continue;
      if (i == 1 && constant)
        copy.Arguments[i] = std::move(constant);
      else
        Later(*node.Arguments[i], copy.Arguments[i], &copy);
    }
  };
  if (value == nullptr || !constant || constant->NodeClass != enCONST || constant->IsNull ||
      constant->DataType != dtString)
    return keepArguments();
  // A pattern that is a plain prefix followed by one '%' is a partial
  // equality comparison.
  const std::string_view text = TextOfConstant(*constant);
  std::size_t percents = 0, lastPercent = 0;
  bool underscore = false;
  for (std::size_t i = 0; i < text.size(); i = codePage_.NextCharPos(text, i)) {
    if (codePage_.CharLength(text, i) != 1) continue;
    if (text[i] == '%') {
      ++percents;
      lastPercent = i;
    } else if (text[i] == '_') {
      underscore = true;
    }
  }
  if (percents != 1 || underscore || lastPercent + 1 != text.size() || text.size() < 2) return keepArguments();
  const std::size_t prefix = text.size() - 1;
  constant->Value[prefix] = 0;
  constant->DataSize = static_cast<std::int32_t>(prefix + 1);
  copy.Arguments.clear();
  copy.NodeClass = enCOMPARE;
  copy.Operator = node.Operator == eoLIKE ? eoEQ : eoNE;
  copy.PartialLength = static_cast<std::int32_t>(prefix);
  copy.CaseInsensitive = false;
  Later(*value, copy.Left, &copy);
  copy.Right = std::move(constant);
}

}  // namespace

TExpTokenPtr BuildNextFilterExpression(const TExpToken& node, void* context, TEvaluateFieldCallback fieldCallback,
                                       const TFilterCompare& compare) {
  TFilterPreparer preparer(context, fieldCallback, compare.NoPartialCompare, compare.CaseInsensitive, compare.SortID,
                           compare.LanguageID);
  return preparer.Prepare(node);
}

TExpTokenPtr EvaluateConstant(const TExpToken& typeReference, const TExpToken& node, void* context,
                              std::uint16_t sortID, std::uint16_t languageID, TEvaluateFieldCallback fieldCallback) {
  (void)typeReference;
  TExpTokenPtr value = EvaluateExpressionToken(node, nullptr, context, fieldCallback, sortID, languageID);
  value->NodeClass = enCONST;
  value->IsParameter = false;
  return value;
}

bool ConvertConstant(const TExpToken& value, const std::uint8_t* bytes, const TExpToken& typeReference,
                     TExpToken& destination) {
  const std::int32_t sourceSize = FixedValueSize(value.DataType);
  const std::int32_t targetSize = FixedValueSize(typeReference.DataType);
  if (sourceSize == 0 || targetSize == 0) return false;
  std::array<std::uint8_t, 64> buffer{};
  std::memcpy(buffer.data(), bytes, static_cast<std::size_t>(sourceSize));
  const TConversionResult result = ConvertValue(value.DataType, sourceSize, value.Decimals, buffer.data(),
                                                buffer.size(), typeReference.Decimals, targetSize,
                                                typeReference.DataType);
  if (result == TConversionResult::DoesNotFit)
    RaiseError(TARN_SQLPARSE, {}, {}, {}, {}, {}, {},
               "Constant '" + value.Text + "' is out of range for the type of '" + typeReference.Text + "'");
  if (result != TConversionResult::Converted) return false;
  destination.SetDataSize(targetSize);
  std::memcpy(destination.Value.data(), buffer.data(), static_cast<std::size_t>(targetSize));
  destination.DataType = typeReference.DataType;
  destination.SubType = typeReference.SubType;
  destination.Decimals = typeReference.Decimals;
  destination.IsNull = false;
  return true;
}

}  // namespace tarn
