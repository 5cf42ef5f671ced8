// The process-wide session list: its sessions, the default session, the
// automatic session numbers and the session lock.
#include "components/tarn_session_list.h"

#include <algorithm>
#include <atomic>

#include "components/database_errors.h"
#include "components/tarn_session.h"
#include "core/errors.h"
#include "engine/engine_state.h"
#include "platform/code_page.h"

namespace tarn {
namespace {

// Set once the process's list is gone (static destruction): sessions that
// outlive it no longer sign off.
std::atomic<bool> gListDestroyed{false};

}  // namespace

struct TTarnSessionList::State {
  // Guards the lists below (not the sessions themselves).
  mutable std::recursive_mutex listLock;
  std::vector<TTarnSession*> sessions;
  // Sessions the list created and destroys: the default session and those
  // OpenSession made.
  std::vector<std::unique_ptr<TTarnSession>> owned;
  TTarnSession* defaultSession = nullptr;
  bool creatingDefault = false;
  // Bit n set: the number n + 1 belongs to an auto-named session.
  std::vector<bool> autoNumbers;
};

TTarnSessionList::TTarnSessionList() : state_(std::make_unique<State>()) {}

TTarnSessionList::~TTarnSessionList() {
  CloseAll();
  gListDestroyed = true;
}

bool SessionListDestroyed() noexcept { return gListDestroyed; }

void TTarnSessionList::EnsureDefaultSession() {
  std::lock_guard lock(state_->listLock);
  if (state_->defaultSession != nullptr || state_->creatingDefault) return;
  state_->creatingDefault = true;
  try {
    // The new session joins the list through AddSession, which makes it the
    // default session: it is the first one the list sees.
    auto session = std::make_unique<TTarnSession>(nullptr);
    session->SetSessionName("Default");
    state_->owned.push_back(std::move(session));
  } catch (...) {
    state_->creatingDefault = false;
    throw;
  }
  state_->creatingDefault = false;
}

void TTarnSessionList::AddSession(TTarnSession& session) {
  std::lock_guard lock(state_->listLock);
  if (std::find(state_->sessions.begin(), state_->sessions.end(), &session) != state_->sessions.end()) return;
  state_->sessions.push_back(&session);
  if (state_->defaultSession == nullptr) {
    state_->defaultSession = &session;
    session.MarkDefault();
  }
}

void TTarnSessionList::RemoveSession(TTarnSession& session) {
  std::lock_guard lock(state_->listLock);
  auto it = std::find(state_->sessions.begin(), state_->sessions.end(), &session);
  if (it != state_->sessions.end()) state_->sessions.erase(it);
  if (state_->defaultSession == &session) state_->defaultSession = nullptr;
}

void TTarnSessionList::CloseAll() {
  // Destroying a session stops it, which takes the session lock: the list's
  // own lock is not held meanwhile.
  for (;;) {
    std::unique_ptr<TTarnSession> last;
    {
      std::lock_guard lock(state_->listLock);
      if (state_->owned.empty()) break;
      last = std::move(state_->owned.back());
      state_->owned.pop_back();
    }
    last.reset();
  }
}

int TTarnSessionList::Count() const {
  std::lock_guard lock(state_->listLock);
  return static_cast<int>(state_->sessions.size());
}

TTarnSession* TTarnSessionList::Sessions(int index) const {
  std::lock_guard lock(state_->listLock);
  if (index < 0 || static_cast<std::size_t>(index) >= state_->sessions.size()) return nullptr;
  return state_->sessions[static_cast<std::size_t>(index)];
}

TTarnSession* TTarnSessionList::FindSession(const std::string& name) const {
  if (name.empty()) return &DefaultSession();
  std::lock_guard lock(state_->listLock);
  for (TTarnSession* session : state_->sessions)
    if (AnsiSameText(session->SessionName(), name)) return session;
  return nullptr;
}

TTarnSession& TTarnSessionList::GetSessionByName(const std::string& name) const {
  TTarnSession* session = FindSession(name);
  if (session == nullptr) DatabaseError(kInvalidSessionName, name);
  return *session;
}

void TTarnSessionList::GetSessionNames(std::vector<std::string>& list) const {
  std::lock_guard lock(state_->listLock);
  list.clear();
  for (TTarnSession* session : state_->sessions) list.push_back(session->SessionName());
}

TTarnSession& TTarnSessionList::OpenSession(const std::string& name) {
  std::lock_guard sessionLock(sessionLock_);
  TTarnSession* session = FindSession(name);
  if (session == nullptr) {
    auto created = std::make_unique<TTarnSession>(nullptr);
    created->SetSessionName(name);
    // A session that cannot start is not kept.
    created->SetActive(true);
    session = created.get();
    std::lock_guard lock(state_->listLock);
    state_->owned.push_back(std::move(created));
    return *session;
  }
  session->SetActive(true);
  return *session;
}

TTarnSession* TTarnSessionList::CurrentSession() const {
  TDataSession* current = nullptr;
  try {
    current = &GetCurrentDataSession();
  } catch (const ETarnEngineError&) {
    return nullptr;  // the engine has not started and this thread set none
  }
  std::lock_guard lock(state_->listLock);
  for (TTarnSession* session : state_->sessions)
    if (session->DataSession() == current) return session;
  return nullptr;
}

void TTarnSessionList::SetCurrentSession(TTarnSession& session) { session.MakeCurrent(); }

TTarnSession& TTarnSessionList::DefaultSession() const {
  const_cast<TTarnSessionList*>(this)->EnsureDefaultSession();
  std::lock_guard lock(state_->listLock);
  return *state_->defaultSession;
}

int TTarnSessionList::TakeAutoSessionNumber() {
  std::lock_guard lock(sessionLock_);
  auto& bits = state_->autoNumbers;
  auto it = std::find(bits.begin(), bits.end(), false);
  const auto n = static_cast<int>(it - bits.begin());
  if (it == bits.end()) {
    bits.push_back(true);
  } else {
    *it = true;
  }
  return n + 1;
}

void TTarnSessionList::ReleaseAutoSessionNumber(int number) {
  std::lock_guard lock(sessionLock_);
  auto& bits = state_->autoNumbers;
  if (number >= 1 && static_cast<std::size_t>(number) <= bits.size())
    bits[static_cast<std::size_t>(number - 1)] = false;
}

TTarnSessionList& Sessions() {
  static TTarnSessionList list;
  list.EnsureDefaultSession();
  return list;
}

TTarnSession& Session() { return Sessions().DefaultSession(); }

}  // namespace tarn
