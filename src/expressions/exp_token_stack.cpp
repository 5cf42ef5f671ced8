// The process-wide expression node pool.
#include "expressions/exp_token_stack.h"

#include <array>
#include <atomic>

#include "expressions/expression_layer.h"

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

namespace {

// The nodes still to return: a small inline stack that spills into a vector
// only for wide or deep trees, so returning an evaluation result (a single
// node) allocates nothing.
class TPendingNodes {
 public:
  void Push(TExpToken* node) {
    if (count_ < inline_.size()) {
      inline_[count_++] = node;
      return;
    }
    try {
      spill_.push_back(node);
    } catch (...) {
      // Out of memory: the node and its subtree are freed through their
      // owning pointers instead of going back to the pool.
      std::unique_ptr<TExpToken> owned(node);
    }
  }
  bool Empty() const noexcept { return count_ == 0 && spill_.empty(); }
  TExpToken* Pop() noexcept {
    if (!spill_.empty()) {
      TExpToken* node = spill_.back();
      spill_.pop_back();
      return node;
    }
    return inline_[--count_];
  }

 private:
  std::array<TExpToken*, 32> inline_;  // only the first count_ entries are meaningful
  std::size_t count_ = 0;
  std::vector<TExpToken*> spill_;
};

}  // namespace

void ReturnExpTokenInstance(TExpToken* node) noexcept {
  if (node == nullptr) return;
  TPendingNodes pending;
  pending.Push(node);
  while (!pending.Empty()) {
    TExpToken* current = pending.Pop();
    // Detach the operands first so that neither Initialize nor the node's
    // destructor walks them recursively.
    if (current->Left) pending.Push(current->Left.release());
    if (current->Right) pending.Push(current->Right.release());
    if (current->ThirdOperand) pending.Push(current->ThirdOperand.release());
    for (auto& argument : current->Arguments)
      if (argument) pending.Push(argument.release());
    current->Arguments.clear();
    std::unique_ptr<TExpToken> owned(current);
    // A spare keeps an ordinary value buffer; one grown for a long text or
    // BLOB is given back to the system rather than kept in the pool.
    if (owned->Value.size() > kMaxPooledValueCapacity) std::vector<std::uint8_t>().swap(owned->Value);
    try {
      owned->Initialize();
      if (g_stackAlive.load()) ExpTokenStack().Give(std::move(owned));
    } catch (...) {
      // Out of memory while keeping a spare: the node is simply freed.
    }
  }
}

}  // namespace tarn
