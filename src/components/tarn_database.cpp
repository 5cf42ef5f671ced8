// TTarnDatabase: the database component: its session, name rules, opening
// and closing its directory (or borrowing a namesake's), attached datasets,
// attaching an outside directory, and transactions.
#include "components/tarn_database.h"

#include <algorithm>
#include <exception>

#include "components/database_errors.h"
#include "components/tarn_session.h"
#include "components/tarn_session_list.h"
#include "engine/data_directory.h"
#include "platform/code_page.h"

namespace tarn {
namespace {

bool IsAsciiLetter(unsigned char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

// A component database's name begins with a letter: an ASCII letter or a
// double-byte character.
bool BeginsWithLetter(const std::string& name) {
  if (name.empty()) return false;
  const auto first = static_cast<unsigned char>(name[0]);
  return IsAsciiLetter(first) || CharLength(name, 0) == 2;
}

bool ValidComponentName(const std::string& name) { return !DatabaseNameLooksLikePath(name) && BeginsWithLetter(name); }

}  // namespace

bool DatabaseNameLooksLikePath(const std::string& name) {
  if (name.empty()) return true;
  for (std::size_t pos = 0; pos < name.size(); pos = NextCharPos(name, pos)) {
    if (CharLength(name, pos) != 1) continue;
    const char c = name[pos];
    if (c == ':' || c == '\\' || c == '/') return true;
  }
  return false;
}

struct TTarnDatabase::State {
  // Null once the session went; the default session is taken on next use.
  TTarnSession* session = nullptr;
  TDataDirectory* handle = nullptr;
  std::vector<TDatabaseDataSet*> datasets;
  int refCount = 0;
  bool temporary = false;
  // The handle was borrowed (HandleShared) or attached: someone else opened it.
  bool borrowed = false;
  bool streamedConnected = false;
  bool closing = false;
  std::string databaseName;
  std::string directory;
  std::string remoteDatabase;
  std::string sessionName;
  bool handleShared = false;
  bool keepConnection = true;
};

TTarnDatabase::TTarnDatabase(TComponent* owner) : TComponent(owner), state_(std::make_unique<State>()) {
  auto* session = dynamic_cast<TTarnSession*>(owner);
  // An auto-named session of the same owner is the database's session.
  if (session == nullptr && owner != nullptr) {
    for (int i = 0; i < owner->ComponentCount() && session == nullptr; ++i) {
      auto* sibling = dynamic_cast<TTarnSession*>(owner->Components(i));
      if (sibling != nullptr && sibling->AutoSessionName()) session = sibling;
    }
  }
  if (session == nullptr) session = &Sessions().DefaultSession();
  state_->sessionName = session->SessionName();
  state_->session = session;
  session->AddDatabase(*this);
}

TTarnDatabase::~TTarnDatabase() {
  BeginDestroying();
  try {
    DoClose();
  } catch (...) {
    // A destructor passes nothing on.
  }
  if (state_->session != nullptr) state_->session->RemoveDatabase(*this);
}

TTarnSession& TTarnDatabase::SessionRef() const {
  if (state_->session == nullptr) {
    TTarnSession& fallback = Sessions().DefaultSession();
    state_->session = &fallback;
    fallback.AddDatabase(*const_cast<TTarnDatabase*>(this));
  }
  return *state_->session;
}

TTarnSession& TTarnDatabase::Session() const { return SessionRef(); }

void TTarnDatabase::MoveToSession(TTarnSession& session) {
  if (state_->session == &session) return;
  if (state_->session != nullptr) state_->session->RemoveDatabase(*this);
  state_->session = &session;
  session.AddDatabase(*this);
}

void TTarnDatabase::SessionGone(TTarnSession& session) {
  if (state_->session != &session) return;
  try {
    DoClose();
  } catch (...) {
    // The session's directories are gone with it.
  }
  state_->handle = nullptr;
  state_->borrowed = false;
  state_->session = nullptr;
}

bool TTarnDatabase::Connected() const { return state_->handle != nullptr; }

void TTarnDatabase::SetConnected(bool value) {
  if (Loading()) {
    state_->streamedConnected = value;
    return;
  }
  if (value) {
    DoOpen();
  } else {
    DoClose();
  }
}

void TTarnDatabase::DoOpen() {
  if (Connected()) return;
  if (BeforeConnect) BeforeConnect(*this);
  if (Connected()) return;  // the handler opened it
  if (state_->databaseName.empty() && !state_->temporary) DatabaseError(kDatabaseNameMissing);
  // A name stored in a form was not checked when it was read.
  if (!state_->temporary && !ValidComponentName(state_->databaseName))
    DatabaseError(kInvalidDatabaseName, state_->databaseName);

  TTarnSession& session = Sessions().GetSessionByName(state_->sessionName);
  MoveToSession(session);
  for (int i = session.DatabaseCount() - 1; i >= 0; --i) {
    TTarnDatabase* other = session.Databases(i);
    if (other == nullptr || other == this || !AnsiSameText(other->DatabaseName(), state_->databaseName)) continue;
    if (state_->handleShared && other->HandleShared()) continue;
    if (other->Temporary() && other->RefCount() == 0) {
      session.DestroyTemporary(*other);
      continue;
    }
    const std::string name = state_->databaseName;
    state_->databaseName.clear();
    DatabaseError(kDuplicateDatabaseName, name);
  }
  if (!session.Active()) session.Open();

  if (state_->handleShared) {
    for (int i = 0; i < session.DatabaseCount(); ++i) {
      TTarnDatabase* other = session.Databases(i);
      if (other == nullptr || other == this || !other->Connected() || !other->HandleShared() ||
          !AnsiSameText(other->DatabaseName(), state_->databaseName))
        continue;
      session.AddBorrower(*other->Handle());
      state_->handle = other->Handle();
      state_->borrowed = true;
      return;
    }
  }

  TSessionLockGuard guard(session);
  const std::string engineName = DatabaseNameLooksLikePath(state_->databaseName) ? "" : state_->databaseName;
  state_->handle = &session.Handle().OpenDataDirectory(engineName, state_->directory);
  state_->borrowed = false;
  session.DBNotification(dbOpen, *this);
}

void TTarnDatabase::DoClose() {
  if (!Connected() || state_->closing) return;
  state_->closing = true;
  TTarnSession& session = SessionRef();
  std::exception_ptr failure;
  try {
    session.DBNotification(dbClose, *this);
    CloseDataSets();
  } catch (...) {
    failure = std::current_exception();
  }
  TDataDirectory* handle = state_->handle;
  const bool borrowed = state_->borrowed;
  state_->handle = nullptr;
  state_->borrowed = false;
  state_->refCount = 0;
  try {
    session.CloseDirectory(*handle, borrowed);
  } catch (...) {
    if (!failure) failure = std::current_exception();
  }
  state_->closing = false;
  if (failure) std::rethrow_exception(failure);
}

bool TTarnDatabase::Closing() const { return state_->closing; }

void TTarnDatabase::CloseDataSets() {
  // Each dataset detaches itself; one that does not is let go here, so the
  // walk always ends. Every dataset is disconnected even if one fails.
  std::exception_ptr failure;
  auto& list = state_->datasets;
  while (!list.empty()) {
    TDatabaseDataSet* dataset = list.back();
    try {
      dataset->Disconnect();
    } catch (...) {
      if (!failure) failure = std::current_exception();
    }
    if (!list.empty() && list.back() == dataset) list.pop_back();
  }
  if (failure) std::rethrow_exception(failure);
}

const std::string& TTarnDatabase::DatabaseName() const { return state_->databaseName; }

void TTarnDatabase::SetDatabaseName(const std::string& name) {
  if (Loading()) {
    state_->databaseName = name;
    return;
  }
  if (name == state_->databaseName) return;
  if (Connected()) DatabaseError(kDatabaseOpen);
  if (!state_->temporary && !name.empty() && !ValidComponentName(name)) DatabaseError(kInvalidDatabaseName, name);
  state_->databaseName = name;
}

const std::string& TTarnDatabase::Directory() const { return state_->directory; }

void TTarnDatabase::SetDirectory(const std::string& directory) {
  if (!Loading() && Connected() && directory != state_->directory) DatabaseError(kDatabaseOpen);
  state_->directory = directory;
}

const std::string& TTarnDatabase::RemoteDatabase() const { return state_->remoteDatabase; }

void TTarnDatabase::SetRemoteDatabase(const std::string& name) {
  if (!Loading() && Connected() && name != state_->remoteDatabase) DatabaseError(kDatabaseOpen);
  state_->remoteDatabase = name;
}

bool TTarnDatabase::HandleShared() const { return state_->handleShared; }

void TTarnDatabase::SetHandleShared(bool value) {
  if (!Loading() && Connected() && value != state_->handleShared) DatabaseError(kDatabaseOpen);
  state_->handleShared = value;
}

bool TTarnDatabase::KeepConnection() const { return state_->keepConnection; }

void TTarnDatabase::SetKeepConnection(bool value) {
  state_->keepConnection = value;
  if (!value && !Loading() && Connected() && state_->refCount == 0) DoClose();
}

const std::string& TTarnDatabase::SessionName() const { return state_->sessionName; }

void TTarnDatabase::SetSessionName(const std::string& name) {
  if (Loading()) {
    state_->sessionName = name;
    return;
  }
  if (Connected() && name != state_->sessionName) DatabaseError(kDatabaseOpen);
  state_->sessionName = name;
  if (TTarnSession* session = Sessions().FindSession(name)) MoveToSession(*session);
}

void TTarnDatabase::AttachToNamedSession() {
  TTarnSession& session = Sessions().GetSessionByName(state_->sessionName);
  MoveToSession(session);
  if (!session.Active()) session.Open();
}

void TTarnDatabase::StartTransaction() {
  if (!Connected()) DatabaseError(kDatabaseClosed);
  if (InTransaction()) DatabaseError(kInTransaction, state_->databaseName);
  TSessionLockGuard guard(SessionRef());
  state_->handle->StartTransaction();
}

void TTarnDatabase::Commit(bool forceFlush) {
  if (!Connected()) DatabaseError(kDatabaseClosed);
  if (!InTransaction()) DatabaseError(kNotInTransaction, state_->databaseName);
  TSessionLockGuard guard(SessionRef());
  TCommitOptions options;
  options.EndTransaction = true;
  options.ForceFlush = forceFlush;
  state_->handle->CommitTransaction(options);
}

void TTarnDatabase::Rollback() {
  if (!Connected()) DatabaseError(kDatabaseClosed);
  if (!InTransaction()) DatabaseError(kNotInTransaction, state_->databaseName);
  TSessionLockGuard guard(SessionRef());
  state_->handle->RollbackTransaction();
}

bool TTarnDatabase::InTransaction() const { return state_->handle != nullptr && state_->handle->InTransaction(); }

int TTarnDatabase::DataSetCount() const { return static_cast<int>(state_->datasets.size()); }

TDatabaseDataSet* TTarnDatabase::DataSets(int index) const {
  if (index < 0 || static_cast<std::size_t>(index) >= state_->datasets.size()) return nullptr;
  return state_->datasets[static_cast<std::size_t>(index)];
}

void TTarnDatabase::AttachDataSet(TDatabaseDataSet& dataset) {
  auto& list = state_->datasets;
  if (std::find(list.begin(), list.end(), &dataset) == list.end()) list.push_back(&dataset);
}

void TTarnDatabase::DetachDataSet(TDatabaseDataSet& dataset) {
  auto& list = state_->datasets;
  auto it = std::find(list.begin(), list.end(), &dataset);
  if (it != list.end()) list.erase(it);
}

TDataDirectory* TTarnDatabase::Handle() const { return state_->handle; }

void TTarnDatabase::SetHandle(TDataDirectory* directory) {
  if (Connected()) DoClose();
  if (directory == nullptr) return;
  if (state_->databaseName.empty()) DatabaseError(kDatabaseNameMissing);
  TTarnSession& session = Sessions().GetSessionByName(state_->sessionName);
  MoveToSession(session);
  if (&directory->Session() != &session.Handle()) DatabaseError(kHandleOtherSession);
  session.AddBorrower(*directory);
  state_->handle = directory;
  state_->borrowed = true;
  session.DBNotification(dbOpen, *this);
}

bool TTarnDatabase::Temporary() const { return state_->temporary; }
int TTarnDatabase::RefCount() const { return state_->refCount; }
void TTarnDatabase::IncRefCount() { ++state_->refCount; }
void TTarnDatabase::DecRefCount() {
  if (state_->refCount > 0) --state_->refCount;
}
void TTarnDatabase::SetTemporary(bool value) { state_->temporary = value; }

void TTarnDatabase::Loaded() {
  TComponent::Loaded();
  if (state_->streamedConnected) {
    DoOpen();
    return;
  }
  if (TTarnSession* session = Sessions().FindSession(state_->sessionName)) MoveToSession(*session);
}

void TTarnDatabase::Notification(TComponent& component, TOperation operation) {
  TComponent::Notification(component, operation);
  if (operation != opRemove || &component != state_->session) return;
  auto* session = dynamic_cast<TTarnSession*>(&component);
  if (session == nullptr || session->IsDefault()) return;
  // The session component left: the database closes and falls back to the
  // default session. A notification passes nothing on.
  try {
    DoClose();
  } catch (...) {
  }
  state_->sessionName.clear();
  MoveToSession(Sessions().DefaultSession());
}

}  // namespace tarn
