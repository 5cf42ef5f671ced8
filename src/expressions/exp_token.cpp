// TExpToken: node initialisation, field copy, value buffer and node comparison.
#include "expressions/exp_token.h"

#include <algorithm>
#include <cstring>

#include "platform/code_page.h"
#include "expressions/exp_token_stack.h"
#include "expressions/expression_layer.h"

namespace tarn {

void TExpTokenReturn::operator()(TExpToken* node) const noexcept { ReturnExpTokenInstance(node); }

TExpToken::TExpToken() : Value(kValueGranularity, 0) {}

TExpToken::~TExpToken() { ReleaseOperands(); }

void TExpToken::ReleaseOperands() noexcept {
  // Each reset returns a whole subtree through the pool's iterative walk.
  Left.reset();
  Right.reset();
  ThirdOperand.reset();
  for (auto& argument : Arguments) argument.reset();
  Arguments.clear();
}

void TExpToken::Initialize() {
  ReleaseOperands();
  Text.clear();
  NodeClass = enNULL;
  Operator = eoNOTDEFINED;
  OptimizeLevel = olNone;
  JoinType = jtNone;
  IsJoinExpression = false;
  FieldName.clear();
  FieldNumber = 0;
  TableName.clear();
  Source = nullptr;
  SubQuery = nullptr;
  if (Value.size() < kValueGranularity) Value.resize(kValueGranularity);
  std::fill(Value.begin(), Value.end(), std::uint8_t{0});
  IsNull = false;
  IsParameter = false;
  PartialLength = 0;
  CaseInsensitive = false;
  DataType = 0;
  SubType = 0;
  DataSize = 0;
  Decimals = 0;
  WasConstant = false;
  SavedDataType = 0;
  SavedSubType = 0;
  SavedDataSize = 0;
  SavedDecimals = 0;
  Parent = nullptr;
}

void TExpToken::CopyNodeFields(const TExpToken& other) {
  Text = other.Text;
  NodeClass = other.NodeClass;
  Operator = other.Operator;
  OptimizeLevel = other.OptimizeLevel;
  JoinType = other.JoinType;
  IsJoinExpression = other.IsJoinExpression;
  FieldName = other.FieldName;
  FieldNumber = other.FieldNumber;
  TableName = other.TableName;
  Source = other.Source;
  SubQuery = other.SubQuery;
  if (Value.size() < other.Value.size()) Value.resize(other.Value.size());
  std::copy(other.Value.begin(), other.Value.end(), Value.begin());
  std::fill(Value.begin() + static_cast<std::ptrdiff_t>(other.Value.size()), Value.end(), std::uint8_t{0});
  IsNull = other.IsNull;
  IsParameter = other.IsParameter;
  PartialLength = other.PartialLength;
  CaseInsensitive = other.CaseInsensitive;
  DataType = other.DataType;
  SubType = other.SubType;
  DataSize = other.DataSize;
  Decimals = other.Decimals;
  WasConstant = other.WasConstant;
  SavedDataType = other.SavedDataType;
  SavedSubType = other.SavedSubType;
  SavedDataSize = other.SavedDataSize;
  SavedDecimals = other.SavedDecimals;
  Parent = other.Parent;
}

void TExpToken::Copy(const TExpToken& other) {
  if (&other == this) return;
  ReleaseOperands();
  CopyNodeFields(other);
}

void TExpToken::SetDataSize(std::int32_t n) {
  if (n < 0) n = 0;
  const auto needed = static_cast<std::size_t>(n);
  if (needed > Value.size()) {
    const std::size_t rounded = (needed + kValueGranularity - 1) / kValueGranularity * kValueGranularity;
    Value.resize(rounded, 0);
  }
  DataSize = n;
}

TExpToken* TExpToken::GetArgumentExpToken(std::size_t i) const noexcept {
  return i < Arguments.size() ? Arguments[i].get() : nullptr;
}

void TExpToken::SetArgumentExpToken(std::size_t i, TExpTokenPtr node) {
  if (Arguments.size() < i + 1) Arguments.resize(i + 1);
  Arguments[i] = std::move(node);
}

void TExpToken::SetStringValue(const char* text, std::size_t length) {
  SetDataSize(static_cast<std::int32_t>(length + 1));
  if (length != 0) std::memcpy(Value.data(), text, length);
  Value[length] = 0;
}

std::size_t TExpToken::StringLength() const noexcept {
  const std::size_t limit = std::min(static_cast<std::size_t>(std::max(DataSize, 0)), Value.size());
  const void* zero = std::memchr(Value.data(), 0, limit);
  return zero ? static_cast<std::size_t>(static_cast<const std::uint8_t*>(zero) - Value.data()) : limit;
}

std::string TExpToken::StringValue() const {
  return std::string(reinterpret_cast<const char*>(Value.data()), StringLength());
}

void TExpToken::SetBooleanValue(bool value) {
  SetDataSize(2);
  Value[0] = value ? 1 : 0;
  Value[1] = 0;
}

bool TExpToken::Compare(const TExpToken& other) const {
  if (NodeClass != other.NodeClass || Operator != other.Operator) return false;
  if (!AnsiSameText(FieldName, other.FieldName) || !AnsiSameText(TableName, other.TableName)) return false;
  if (IsParameter != other.IsParameter || PartialLength != other.PartialLength ||
      CaseInsensitive != other.CaseInsensitive || DataType != other.DataType || SubType != other.SubType ||
      DataSize != other.DataSize || Decimals != other.Decimals)
    return false;
  if (NodeClass == enCONST) {
    if (IsNull != other.IsNull) return false;
    const auto size = static_cast<std::size_t>(std::max(DataSize, 0));
    if (size > Value.size() || size > other.Value.size()) return false;
    if (size != 0 && std::memcmp(Value.data(), other.Value.data(), size) != 0) return false;
  }
  return true;
}

}  // namespace tarn
