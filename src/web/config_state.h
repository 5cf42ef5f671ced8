// The extension's configuration state: ConfigFailed and ConfigMessage, written while
// modules are constructed and read by every request without a lock.
#pragma once

#include <atomic>
#include <mutex>
#include <string>

namespace dovecrest {

class TConfigState {
 public:
  // Longest message kept (the message area holds 512 bytes with its terminating zero).
  static constexpr std::size_t kMessageMax = 511;

  bool ConfigFailed() const { return failed_.load(std::memory_order_acquire); }
  std::string ConfigMessage() const;

  // Stores the message, then sets the flag: a reader that sees the flag sees the message.
  void Fail(std::string message);
  void Clear() { failed_.store(false, std::memory_order_release); }

 private:
  std::atomic<bool> failed_{false};
  mutable std::mutex messageLock_;
  std::string message_;
};

}  // namespace dovecrest
