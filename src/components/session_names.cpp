// Session names: setting them, and automatic names ("<component name>_<n>",
// n the lowest free automatic number) handed to the databases and datasets of
// the session's owner.
#include <charconv>
#include <mutex>

#include "components/database_errors.h"
#include "components/tarn_session.h"
#include "components/tarn_session_list.h"
#include "components/tarn_session_state.h"
#include "platform/code_page.h"

namespace tarn {

const std::string& TTarnSession::SessionName() const { return state_->sessionName; }

void TTarnSession::SetSessionName(const std::string& name) {
  if (state_->autoSessionName && !state_->updatingAutoName) DatabaseError(kAutoSessionActive);
  if (name == state_->sessionName) return;
  if (Active()) DatabaseError(kSessionActive);
  if (!name.empty()) {
    const TTarnSession* other = Sessions().FindSession(name);
    if (other != nullptr && other != this) DatabaseError(kDuplicateSessionName, name);
  }
  state_->sessionName = name;
}

bool TTarnSession::AutoSessionName() const { return state_->autoSessionName; }

void TTarnSession::SetAutoSessionName(bool value) {
  if (value == state_->autoSessionName) return;
  if (!value) {
    Sessions().ReleaseAutoSessionNumber(state_->autoNumber);
    state_->autoNumber = -1;
    state_->autoSessionName = false;
    return;
  }
  if (Active()) DatabaseError(kSessionActive);
  if (TComponent* owner = Owner()) {
    for (int i = 0; i < owner->ComponentCount(); ++i) {
      auto* other = dynamic_cast<TTarnSession*>(owner->Components(i));
      if (other != nullptr && other != this) DatabaseError(kAutoSessionOnlyOne);
    }
  }
  std::lock_guard lock(Sessions().SessionLock());
  state_->autoNumber = Sessions().TakeAutoSessionNumber();
  state_->autoSessionName = true;
  try {
    UpdateAutoSessionName();
  } catch (...) {
    Sessions().ReleaseAutoSessionNumber(state_->autoNumber);
    state_->autoNumber = -1;
    state_->autoSessionName = false;
    throw;
  }
}

void TTarnSession::SetName(const std::string& name) {
  TComponent::SetName(name);
  if (state_->autoSessionName && !Loading()) UpdateAutoSessionName();
}

void TTarnSession::UpdateAutoSessionName() {
  char digits[16];
  const auto end = std::to_chars(digits, digits + sizeof digits, state_->autoNumber).ptr;
  std::string name = Name() + "_" + std::string(digits, end);
  struct TUpdating {
    bool& flag;
    explicit TUpdating(bool& f) : flag(f) { flag = true; }
    ~TUpdating() { flag = false; }
  } updating(state_->updatingAutoName);
  SetSessionName(name);
  HandOutSessionName();
}

void TTarnSession::HandOutSessionName() {
  TComponent* owner = Owner();
  if (owner == nullptr) return;
  std::vector<TComponent*> siblings;
  for (int i = 0; i < owner->ComponentCount(); ++i) siblings.push_back(owner->Components(i));
  for (TComponent* sibling : siblings) {
    if (sibling == this || !sibling->UsesSessionName()) continue;
    if (sibling->AssignedSessionName() != state_->sessionName) sibling->AssignSessionName(state_->sessionName);
  }
}

}  // namespace tarn
