// Configuration state.
#include "web/config_state.h"

namespace dovecrest {

std::string TConfigState::ConfigMessage() const {
  std::lock_guard lock(messageLock_);
  return message_;
}

void TConfigState::Fail(std::string message) {
  if (message.size() > kMessageMax) message.resize(kMessageMax);
  {
    std::lock_guard lock(messageLock_);
    message_ = std::move(message);
  }
  failed_.store(true, std::memory_order_release);
}

}  // namespace dovecrest
