// The databases of a session: its list, opening databases by name for
// datasets (temporary databases made on demand), releasing them, database and
// table names, and the directories one database lends another.
#include <algorithm>

#include "components/tarn_database.h"
#include "components/tarn_session.h"
#include "components/tarn_session_state.h"
#include "engine/data_directory.h"
#include "platform/code_page.h"

namespace tarn {

int TTarnSession::DatabaseCount() const { return static_cast<int>(state_->databases.size()); }

TTarnDatabase* TTarnSession::Databases(int index) const {
  if (index < 0 || static_cast<std::size_t>(index) >= state_->databases.size()) return nullptr;
  return state_->databases[static_cast<std::size_t>(index)];
}

void TTarnSession::AddDatabase(TTarnDatabase& database) {
  auto& list = state_->databases;
  if (std::find(list.begin(), list.end(), &database) != list.end()) return;
  list.push_back(&database);
  DBNotification(dbAdd, database);
}

void TTarnSession::RemoveDatabase(TTarnDatabase& database) {
  auto& list = state_->databases;
  auto it = std::find(list.begin(), list.end(), &database);
  if (it == list.end()) return;
  list.erase(it);
  DBNotification(dbRemove, database);
}

void TTarnSession::DBNotification(TTarnDatabaseEvent event, TTarnDatabase& database) {
  if (OnDBNotify) OnDBNotify(event, database);
}

TTarnDatabase* TTarnSession::FindDatabase(const std::string& name) const {
  for (TTarnDatabase* database : state_->databases)
    if (AnsiSameText(database->DatabaseName(), name)) return database;
  return nullptr;
}

TTarnDatabase& TTarnSession::CreateTemporary(const std::string& name) {
  auto database = std::make_unique<TTarnDatabase>(this);
  database->SetTemporary(true);
  database->SetDatabaseName(name);
  // A path serves as a database name: the temporary database opens it.
  if (!IsMemoryDatabaseName(name)) database->SetDirectory(name);
  database->SetKeepConnection(state_->keepConnections);
  state_->temporaries.push_back(std::move(database));
  return *state_->temporaries.back();
}

void TTarnSession::DestroyTemporary(TTarnDatabase& database) {
  auto& list = state_->temporaries;
  auto it = std::find_if(list.begin(), list.end(), [&](const auto& held) { return held.get() == &database; });
  if (it == list.end()) return;
  std::unique_ptr<TTarnDatabase> going = std::move(*it);
  list.erase(it);
  going.reset();
}

TTarnDatabase& TTarnSession::OpenDatabase(const std::string& name, const TComponent* requester) {
  TSessionLockGuard guard(*this);
  TTarnDatabase* database = nullptr;
  if (requester != nullptr && requester->Owner() != nullptr) {
    const TComponent& owner = *requester->Owner();
    for (int i = 0; i < owner.ComponentCount() && database == nullptr; ++i) {
      auto* candidate = dynamic_cast<TTarnDatabase*>(owner.Components(i));
      if (candidate != nullptr && candidate->HandleShared() && AnsiSameText(candidate->DatabaseName(), name))
        database = candidate;
    }
  }
  if (database == nullptr) database = FindDatabase(name);
  const bool created = database == nullptr;
  if (created) database = &CreateTemporary(name);
  try {
    database->Open();
  } catch (...) {
    if (created) DestroyTemporary(*database);
    throw;
  }
  database->IncRefCount();
  return *database;
}

void TTarnSession::CloseDatabase(TTarnDatabase& database) {
  database.DecRefCount();
  if (database.RefCount() > 0 || database.KeepConnection() || database.Closing()) return;
  if (database.Temporary()) {
    if (!database.Destroying()) DestroyTemporary(database);
  } else {
    database.Close();
  }
}

void TTarnSession::DropConnections() {
  std::vector<TTarnDatabase*> unused;
  for (const auto& database : state_->temporaries)
    if (database->RefCount() == 0) unused.push_back(database.get());
  for (TTarnDatabase* database : unused) DestroyTemporary(*database);
}

void TTarnSession::GetDatabaseNames(std::vector<std::string>& list) {
  list.clear();
  for (const TTarnDatabase* database : state_->databases)
    if (!DatabaseNameLooksLikePath(database->DatabaseName())) list.push_back(database->DatabaseName());
  std::sort(list.begin(), list.end(),
            [](const std::string& a, const std::string& b) { return AnsiCompareText(a, b) < 0; });
  list.erase(std::unique(list.begin(), list.end(),
                         [](const std::string& a, const std::string& b) { return AnsiSameText(a, b); }),
             list.end());
}

void TTarnSession::GetTableNames(const std::string& databaseName, std::vector<std::string>& list) {
  TSessionLockGuard guard(*this);
  TTarnDatabase& database = OpenDatabase(databaseName);
  try {
    list = database.Handle()->ListTableNames();
  } catch (...) {
    CloseDatabase(database);
    throw;
  }
  CloseDatabase(database);
}

void TTarnSession::AddBorrower(TDataDirectory& directory) { ++state_->borrows[&directory].borrowers; }

void TTarnSession::CloseDirectory(TDataDirectory& directory, bool borrower) {
  if (state_->handle == nullptr) return;  // the data session took its directories with it
  TSessionLockGuard guard(*this);
  auto it = state_->borrows.find(&directory);
  if (borrower) {
    if (it == state_->borrows.end() || --it->second.borrowers > 0) return;
    int pending = it->second.pendingCloses;
    state_->borrows.erase(it);
    for (; pending > 0; --pending) {
      const auto& open = state_->handle->Directories();
      if (std::none_of(open.begin(), open.end(), [&](const auto& held) { return held.get() == &directory; })) break;
      state_->handle->CloseDataDirectory(directory);
    }
    return;
  }
  if (it != state_->borrows.end()) {
    ++it->second.pendingCloses;
    return;
  }
  state_->handle->CloseDataDirectory(directory);
}

}  // namespace tarn
