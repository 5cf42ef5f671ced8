// The packed form of an expression tree: one byte buffer of length-prefixed
// items, node records in pre-order, little-endian. Unpacking checks every
// length, link and count and refuses a malformed buffer with TARN_FILECORRUPT.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "expressions/exp_token.h"

namespace tarn {

// Bytes of the node's own record (without its operands).
std::size_t GetTotalPackSize(const TExpToken& node);
// Bytes of the node's record and every record below it.
std::size_t GetTreePackSize(const TExpToken& node);

// Writes the tree into buffer (replacing its contents); an empty buffer for no tree.
void PackExpressionTokens(const TExpToken* root, std::vector<std::uint8_t>& buffer);
// Reads a whole buffer back into a tree; no tree for an empty buffer.
TExpTokenPtr UnpackExpressionTokens(std::span<const std::uint8_t> buffer);

}  // namespace tarn
