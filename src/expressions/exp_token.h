// The expression tree node TExpToken and TExpTokenPtr, the owning pointer
// through which a node and its whole subtree go back to the node pool.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "expressions/exp_types.h"

namespace tarn {

class TExpToken;

// The query of a sub-select node. The SQL statement owns it; the node only
// refers to it. Verification asks it for its column count and for the type
// of its single column; evaluation asks it whether a value is among its rows.
class TExpSubQuery {
 public:
  virtual ~TExpSubQuery() = default;
  virtual int SubSelectColumnCount() const = 0;
  // Fills DataType, SubType, DataSize and Decimals of the node from the
  // sub-select's column; false when the column cannot be typed.
  virtual bool TypeSubSelectColumn(TExpToken& node) = 0;
  // IN with a sub-select: filters the sub-select's result to the rows whose
  // single column equals value (the eoEQ rules, NULL = NULL included) and
  // answers whether at least one row remains.
  virtual bool SubSelectContains(const TExpToken& value) = 0;
};

// Returns a node and every node below it to the pool.
struct TExpTokenReturn {
  void operator()(TExpToken* node) const noexcept;
};
using TExpTokenPtr = std::unique_ptr<TExpToken, TExpTokenReturn>;

class TExpToken {
 public:
  static constexpr std::size_t kValueGranularity = 256;
  static constexpr std::size_t kMaxShortString = 255;

  TExpToken();
  ~TExpToken();
  TExpToken(const TExpToken&) = delete;
  TExpToken& operator=(const TExpToken&) = delete;

  // Every field zero or empty, no operands, a zeroed value buffer of at
  // least 256 bytes (a reused buffer keeps its capacity).
  void Initialize();
  // Copies every field of the node itself, value bytes included; the
  // operands of this node are released, never shared with the other node.
  void Copy(const TExpToken& other);
  // Grows the value buffer (in steps of 256 bytes, never shrinking) to hold
  // n bytes and sets DataSize. A negative size counts as 0.
  void SetDataSize(std::int32_t n);
  TExpToken* GetArgumentExpToken(std::size_t i) const noexcept;
  void SetArgumentExpToken(std::size_t i, TExpTokenPtr node);
  std::size_t ArgumentCount() const noexcept { return Arguments.size(); }
  // Node equality (not the operands): see CompareExpressionTokens for trees.
  bool Compare(const TExpToken& other) const;

  // Value helpers. The buffer always holds at least 256 bytes, so reading a
  // fixed-size value never leaves it.
  std::uint8_t* ValueData() noexcept { return Value.data(); }
  const std::uint8_t* ValueData() const noexcept { return Value.data(); }
  std::size_t ValueCapacity() const noexcept { return Value.size(); }
  // Stores text followed by a zero byte (DataSize = length + 1).
  void SetStringValue(const char* text, std::size_t length);
  void SetStringValue(const std::string& text) { SetStringValue(text.data(), text.size()); }
  // The string value up to its zero byte, never past DataSize.
  std::string StringValue() const;
  std::size_t StringLength() const noexcept;
  void SetBooleanValue(bool value);
  // Releases Left, Right, ThirdOperand and Arguments back to the pool.
  void ReleaseOperands() noexcept;

  std::string Text;
  TExpNodeClass NodeClass = enNULL;
  TExpOperator Operator = eoNOTDEFINED;
  TOptimizeLevel OptimizeLevel = olNone;
  TJoinType JoinType = jtNone;
  bool IsJoinExpression = false;
  std::string FieldName;
  std::uint16_t FieldNumber = 0;
  std::string TableName;
  void* Source = nullptr;               // not owned: the cursor or source table
  TExpSubQuery* SubQuery = nullptr;     // not owned: registered with the statement
  std::vector<std::uint8_t> Value;
  bool IsNull = false;
  bool IsParameter = false;
  std::int32_t PartialLength = 0;
  bool CaseInsensitive = false;
  std::uint8_t DataType = 0;
  std::uint8_t SubType = 0;
  std::int32_t DataSize = 0;
  std::uint8_t Decimals = 0;
  bool WasConstant = false;
  std::uint8_t SavedDataType = 0;
  std::uint8_t SavedSubType = 0;
  std::int32_t SavedDataSize = 0;
  std::uint8_t SavedDecimals = 0;
  TExpToken* Parent = nullptr;          // not owned
  TExpTokenPtr Left;
  TExpTokenPtr Right;
  TExpTokenPtr ThirdOperand;
  std::vector<TExpTokenPtr> Arguments;

 private:
  void CopyNodeFields(const TExpToken& other);
};

}  // namespace tarn
