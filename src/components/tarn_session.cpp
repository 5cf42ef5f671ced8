// TTarnSession: construction and destruction, start and stop, the session
// lock, the settings handed to the data session, passwords and the password
// callback.
#include "components/tarn_session.h"

#include <algorithm>
#include <exception>
#include <mutex>

#include "components/database_errors.h"
#include "components/tarn_database.h"
#include "components/tarn_session_list.h"
#include "components/tarn_session_state.h"
#include "engine/engine_state.h"

namespace tarn {
namespace {

// Stores a changed setting and, on an active session, hands it to the data
// session under the session lock.
template <typename T, typename Apply>
void ChangeSetting(TTarnSession& session, T& stored, const T& value, Apply apply) {
  if (value == stored) return;
  stored = value;
  if (!session.Active() || session.Loading()) return;
  TSessionLockGuard guard(session);
  apply(*session.DataSession());
}

}  // namespace

TTarnSession::TTarnSession(TComponent* owner) : TComponent(owner), state_(std::make_unique<State>()) {
  if (owner != nullptr) {
    for (int i = 0; i < owner->ComponentCount(); ++i) {
      auto* other = dynamic_cast<TTarnSession*>(owner->Components(i));
      if (other != nullptr && other != this && other->AutoSessionName()) DatabaseError(kAutoSessionExists);
    }
  }
  Sessions().AddSession(*this);
}

TTarnSession::~TTarnSession() {
  // Siblings hear of the removal first: databases of this owner fall back to
  // the default session.
  BeginDestroying();
  try {
    StopSession();
  } catch (...) {
    // A destructor passes nothing on; the data session is gone either way.
  }
  while (!state_->temporaries.empty()) DestroyTemporary(*state_->temporaries.back());
  Sessions().RemoveSession(*this);
  // Database components held elsewhere lose their session; they find the
  // default session when next used.
  const std::vector<TTarnDatabase*> left = state_->databases;
  state_->databases.clear();
  for (TTarnDatabase* database : left) database->SessionGone(*this);
}

bool TTarnSession::IsDefault() const { return state_->isDefault; }
void TTarnSession::MarkDefault() noexcept { state_->isDefault = true; }
TDataSession* TTarnSession::DataSession() const noexcept { return state_->handle; }
bool TTarnSession::HasHandle() const { return state_->handle != nullptr; }
bool TTarnSession::Active() const { return state_->handle != nullptr; }

void TTarnSession::SetActive(bool value) {
  if (Loading()) {
    state_->streamedActive = value;
    return;
  }
  if (value) {
    StartSession();
  } else {
    StopSession();
  }
}

void TTarnSession::StartSession() {
  std::lock_guard lock(Sessions().SessionLock());
  if (Active()) return;
  if (OnStartup) OnStartup(*this);
  if (Active()) return;  // the handler started it
  if (state_->sessionName.empty()) DatabaseError(kSessionNameMissing);
  try {
    if (!state_->isDefault) Sessions().DefaultSession().SetActive(true);
    if (state_->isDefault) {
      // The engine's default data session becomes this session's; the engine
      // keeps owning it.
      InitializeTarn();
      SetCurrentDataSession(nullptr);
      state_->handle = &GetCurrentDataSession();
    } else {
      state_->ownedHandle = StartDataSession(false);
      state_->handle = state_->ownedHandle.get();
    }
    if (state_->sessionType == stRemote) DatabaseError(kRemoteNotSupported);
    TDataSession& handle = *state_->handle;
    handle.SetPrivateDirectory(state_->privateDir);
    handle.SetStrictChangeDetection(state_->strictChangeDetection);
    handle.SetForceBufferFlush(state_->forceBufferFlush);
    handle.SetLockRetries(state_->lockRetryCount);
    handle.SetLockWait(state_->lockWaitTime);
    handle.SetLockProtocol(state_->lockProtocol);
    handle.SetProgress(state_->progressSteps);
  } catch (...) {
    try {
      StopSession();
    } catch (...) {
      // The start's own failure is the one to report.
    }
    throw;
  }
}

void TTarnSession::StopSession() {
  std::lock_guard lock(Sessions().SessionLock());
  if (state_->handle == nullptr || state_->stopping) return;
  state_->stopping = true;
  SetCurrentDataSession(state_->handle);
  // Every database is closed (temporary ones destroyed) even when one of them
  // fails; the first failure is passed on once the session has stopped.
  std::exception_ptr failure;
  const std::vector<TTarnDatabase*> databases = state_->databases;
  for (auto it = databases.rbegin(); it != databases.rend(); ++it) {
    TTarnDatabase* database = *it;
    if (std::find(state_->databases.begin(), state_->databases.end(), database) == state_->databases.end()) continue;
    try {
      if (database->Temporary()) {
        DestroyTemporary(*database);
      } else {
        database->Close();
      }
    } catch (...) {
      if (!failure) failure = std::current_exception();
    }
  }
  state_->borrows.clear();
  if (state_->isDefault) {
    state_->handle = nullptr;
    ExitTarn();
  } else {
    state_->handle = nullptr;
    CloseDataSession(state_->ownedHandle);
    TTarnSession& fallback = Sessions().DefaultSession();
    SetCurrentDataSession(fallback.DataSession());
  }
  state_->stopping = false;
  if (failure) std::rethrow_exception(failure);
}

void TTarnSession::LockSession() {
  std::recursive_mutex& lock = Sessions().SessionLock();
  // Every call enters the (re-entrant) lock, so the depth and the lock stay
  // paired even if a session were wrongly shared between threads.
  lock.lock();
  if (++state_->lockDepth == 1) {
    try {
      MakeCurrent();
    } catch (...) {
      --state_->lockDepth;
      lock.unlock();
      throw;
    }
  }
}

void TTarnSession::UnlockSession() {
  if (state_->lockDepth == 0) return;
  --state_->lockDepth;
  Sessions().SessionLock().unlock();
}

void TTarnSession::MakeCurrent() {
  if (!Active()) StartSession();
  SetCurrentDataSession(state_->handle);
}

TDataSession& TTarnSession::Handle() {
  MakeCurrent();
  return *state_->handle;
}

// Settings: stored always; on an active session passed on under the session
// lock when they change.
bool TTarnSession::ForceBufferFlush() const { return state_->forceBufferFlush; }
void TTarnSession::SetForceBufferFlush(bool value) {
  ChangeSetting(*this, state_->forceBufferFlush, value,
                [&](TDataSession& handle) { handle.SetForceBufferFlush(value); });
}

bool TTarnSession::KeepConnections() const { return state_->keepConnections; }
void TTarnSession::SetKeepConnections(bool value) { state_->keepConnections = value; }

std::uint8_t TTarnSession::LockRetryCount() const { return state_->lockRetryCount; }
void TTarnSession::SetLockRetryCount(std::uint8_t value) {
  ChangeSetting(*this, state_->lockRetryCount, value, [&](TDataSession& handle) { handle.SetLockRetries(value); });
}

std::uint16_t TTarnSession::LockWaitTime() const { return state_->lockWaitTime; }
void TTarnSession::SetLockWaitTime(std::uint16_t value) {
  ChangeSetting(*this, state_->lockWaitTime, value, [&](TDataSession& handle) { handle.SetLockWait(value); });
}

TLockProtocol TTarnSession::LockProtocol() const { return state_->lockProtocol; }
void TTarnSession::SetLockProtocol(TLockProtocol value) {
  ChangeSetting(*this, state_->lockProtocol, value, [&](TDataSession& handle) { handle.SetLockProtocol(value); });
}

const std::string& TTarnSession::PrivateDir() const { return state_->privateDir; }
void TTarnSession::SetPrivateDir(const std::string& value) {
  ChangeSetting(*this, state_->privateDir, value, [&](TDataSession& handle) { handle.SetPrivateDirectory(value); });
}

std::uint16_t TTarnSession::ProgressSteps() const { return state_->progressSteps; }
void TTarnSession::SetProgressSteps(std::uint16_t value) {
  if (value > 100) return;
  ChangeSetting(*this, state_->progressSteps, value, [&](TDataSession& handle) { handle.SetProgress(value); });
}

bool TTarnSession::StrictChangeDetection() const { return state_->strictChangeDetection; }
void TTarnSession::SetStrictChangeDetection(bool value) {
  ChangeSetting(*this, state_->strictChangeDetection, value,
                [&](TDataSession& handle) { handle.SetStrictChangeDetection(value); });
}

TSessionType TTarnSession::SessionType() const { return state_->sessionType; }
void TTarnSession::SetSessionType(TSessionType value) {
  if (value == state_->sessionType) return;
  if (Active()) DatabaseError(kSessionActive);
  state_->sessionType = value;
}

void TTarnSession::AddPassword(const std::string& password) {
  TSessionLockGuard guard(*this);
  state_->handle->AddPassword(password);
}

void TTarnSession::RemovePassword(const std::string& password) {
  TSessionLockGuard guard(*this);
  state_->handle->DeletePassword(password);
}

void TTarnSession::RemoveAllPasswords() {
  TSessionLockGuard guard(*this);
  state_->handle->DeleteAllPasswords();
}

bool TTarnSession::GetPasswordCallback() {
  // Without a handler there is nobody to ask: this system has no dialog.
  if (!OnPassword) return false;
  std::vector<std::string> before;
  if (state_->handle != nullptr) before = state_->handle->Passwords();
  bool again = false;
  OnPassword(*this, again);
  if (!again) return false;
  // Trying again with the same passwords would only ask again, without end.
  const std::vector<std::string> after =
      state_->handle != nullptr ? state_->handle->Passwords() : std::vector<std::string>{};
  return after != before;
}

bool TTarnSession::CursorPasswordCallback(void* session, TDataCursor&) {
  return session != nullptr && static_cast<TTarnSession*>(session)->GetPasswordCallback();
}

bool TTarnSession::StatementPasswordCallback(void* session, TQueryStatement&, const std::string&) {
  return session != nullptr && static_cast<TTarnSession*>(session)->GetPasswordCallback();
}

void TTarnSession::Loaded() {
  TComponent::Loaded();
  if (state_->autoSessionName) UpdateAutoSessionName();
  if (state_->streamedActive) SetActive(true);
}

void TTarnSession::Notification(TComponent& component, TOperation operation) {
  TComponent::Notification(component, operation);
  if (operation != opInsert || &component == this || !state_->autoSessionName) return;
  if (!component.UsesSessionName()) return;
  // A database or dataset joining the owner of an auto-named session works in
  // it (an open database stays where it is).
  if (auto* database = dynamic_cast<TTarnDatabase*>(&component)) {
    if (!database->Connected()) database->SetSessionName(state_->sessionName);
    return;
  }
  component.AssignSessionName(state_->sessionName);
}

}  // namespace tarn
