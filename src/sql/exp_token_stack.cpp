// The process-wide expression node pool.
#include "sql/exp_token_stack.h"

#include <atomic>

namespace tarn {

namespace {
// Constant-initialised, so it is valid before and after the pool's lifetime:
// nodes returned during process exit are freed directly.
std::atomic<bool> g_stackAlive{false};
}  // namespace

TExpTokenStack::TExpTokenStack() {
  free_.reserve(kMaxFreeNodes);
  g_stackAlive.store(true);
}

TExpTokenStack::~TExpTokenStack() { g_stackAlive.store(false); }

TExpTokenPtr TExpTokenStack::Take() {
  std::unique_ptr<TExpToken> node;
  {
    std::lock_guard<std::mutex> guard(lock_);
    if (!free_.empty()) {
      node = std::move(free_.back());
      free_.pop_back();
    }
  }
  if (!node) node = std::make_unique<TExpToken>();
  return TExpTokenPtr(node.release());
}

void TExpTokenStack::Give(std::unique_ptr<TExpToken> node) {
  std::lock_guard<std::mutex> guard(lock_);
  if (free_.size() < kMaxFreeNodes) free_.push_back(std::move(node));
  // Otherwise the node is freed when it goes out of scope (outside the lock
  // would be nicer, but a node without operands frees in constant time).
}

std::size_t TExpTokenStack::FreeCount() const {
  std::lock_guard<std::mutex> guard(lock_);
  return free_.size();
}

void TExpTokenStack::Clear() {
  std::vector<std::unique_ptr<TExpToken>> spare;
  {
    std::lock_guard<std::mutex> guard(lock_);
    spare.swap(free_);
  }
}

TExpTokenStack& ExpTokenStack() {
  static TExpTokenStack stack;
  return stack;
}

TExpTokenPtr GetNewExpTokenInstance() { return ExpTokenStack().Take(); }

void ReturnExpTokenInstance(TExpToken* node) noexcept {
  if (node == nullptr) return;
  std::vector<TExpToken*> pending;
  pending.push_back(node);
  while (!pending.empty()) {
    TExpToken* current = pending.back();
    pending.pop_back();
    // Detach the operands first so that neither Initialize nor the node's
    // destructor walks them recursively.
    if (current->Left) pending.push_back(current->Left.release());
    if (current->Right) pending.push_back(current->Right.release());
    if (current->ThirdOperand) pending.push_back(current->ThirdOperand.release());
    for (auto& argument : current->Arguments)
      if (argument) pending.push_back(argument.release());
    current->Arguments.clear();
    std::unique_ptr<TExpToken> owned(current);
    try {
      owned->Initialize();
      if (g_stackAlive.load()) ExpTokenStack().Give(std::move(owned));
    } catch (...) {
      // Out of memory while keeping a spare: the node is simply freed.
    }
  }
}

}  // namespace tarn
