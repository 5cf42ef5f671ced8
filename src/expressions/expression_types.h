// The type rules of expressions, kept as data tables: which operand types an
// operator accepts, the result type and sub type it gives, and which casts
// are possible.
#pragma once

#include <cstdint>

#include "expressions/exp_types.h"

namespace tarn {

bool CheckUnaryTypes(TExpOperator op, std::uint8_t type);
std::uint8_t GetUnaryResultDataType(TExpOperator op, std::uint8_t type);
std::uint8_t GetUnaryResultSubType(TExpOperator op, std::uint8_t subType);

bool CheckBinaryTypes(TExpOperator op, std::uint8_t leftType, std::uint8_t leftSubType, std::uint8_t rightSubType,
                      std::uint8_t rightType);
std::uint8_t GetBinaryResultDataType(TExpOperator op, std::uint8_t leftType, std::uint8_t leftSubType,
                                     std::uint8_t rightSubType, std::uint8_t rightType);
std::uint8_t GetBinaryResultSubType(TExpOperator op, std::uint8_t leftType, std::uint8_t leftSubType,
                                    std::uint8_t rightSubType, std::uint8_t rightType);

bool CheckCastTypes(std::uint8_t targetType, std::uint8_t sourceType);

// String, or a memo (BLOB with the memo sub type).
bool IsStringOrMemoType(std::uint8_t type, std::uint8_t subType) noexcept;
bool IsMemoType(std::uint8_t type, std::uint8_t subType) noexcept;

}  // namespace tarn
