// The process-wide pool of spare expression nodes (at most 256), guarded by
// its own lock, and the functions that take nodes from it and return them.
#pragma once

#include <cstddef>
#include <memory>
#include <mutex>
#include <vector>

#include "expressions/exp_token.h"

namespace tarn {

// Value buffers above this capacity are freed when their node returns to the pool.
inline constexpr std::size_t kMaxPooledValueCapacity = 64 * 1024;

class TExpTokenStack {
 public:
  static constexpr std::size_t kMaxFreeNodes = 256;

  TExpTokenStack();
  ~TExpTokenStack();
  TExpTokenStack(const TExpTokenStack&) = delete;
  TExpTokenStack& operator=(const TExpTokenStack&) = delete;

  // A spare node (initialised) or a new one.
  TExpTokenPtr Take();
  // Keeps an operand-free, initialised node, or frees it when 256 are kept.
  void Give(std::unique_ptr<TExpToken> node);
  std::size_t FreeCount() const;
  // Frees every spare node.
  void Clear();

 private:
  mutable std::mutex lock_;
  std::vector<std::unique_ptr<TExpToken>> free_;
};

// The process-wide pool (created on first use, lives until process exit).
TExpTokenStack& ExpTokenStack();

TExpTokenPtr GetNewExpTokenInstance();
// Returns the node and its whole subtree (Left, Right, ThirdOperand,
// Arguments) to the pool. Works without recursion, so a degenerate tree of
// any depth is freed safely.
void ReturnExpTokenInstance(TExpToken* node) noexcept;

}  // namespace tarn
