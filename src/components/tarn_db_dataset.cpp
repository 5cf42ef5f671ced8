// Database datasets: the database flags and the database link.
#include "components/tarn_db_dataset.h"

#include "components/db_messages.h"
#include "components/tarn_session.h"
#include "components/tarn_session_list.h"
#include "core/errors.h"

namespace tarn {

TTarnDBDataSet::TTarnDBDataSet(TComponent* owner) : TTarnDataSet(owner) {
  // An auto-named session of the owner hands its name to the dataset.
  if (owner == nullptr) return;
  for (int i = 0; i < owner->ComponentCount(); ++i) {
    auto* session = dynamic_cast<TTarnSession*>(owner->Components(i));
    if (session != nullptr && session->AutoSessionName()) {
      sessionName_ = session->SessionName();
      break;
    }
  }
}

TTarnDBDataSet::~TTarnDBDataSet() {
  BeginDestroying();
  try {
    Close();
    while (!DBFlagsEmpty()) {
      for (TDBFlag flag : {dbfOpened, dbfPrepared, dbfExecSQL})
        if (DBFlag(flag)) SetDBFlag(flag, false);
    }
  } catch (...) {
    // Closing while destroyed must not throw.
  }
}

void TTarnDBDataSet::CheckDatabaseClosed() const {
  if (!DBFlagsEmpty()) throw EDatabaseError(db_messages::kDatabaseOpen);
}

void TTarnDBDataSet::SetDatabaseName(const std::string& name) {
  if (name == databaseName_) return;
  CheckDatabaseClosed();
  databaseName_ = name;
}

void TTarnDBDataSet::SetSessionName(const std::string& name) {
  if (name == sessionName_) return;
  CheckDatabaseClosed();
  sessionName_ = name;
}

void TTarnDBDataSet::AssignSessionName(const std::string& name) {
  // A dataset that holds its database keeps its session until it lets go.
  if (DBFlagsEmpty()) sessionName_ = name;
}

void TTarnDBDataSet::SetDBFlag(TDBFlag flag, bool value) {
  const auto bit = static_cast<std::uint8_t>(1u << flag);
  if (value) {
    if ((dbFlags_ & bit) != 0) return;
    if (dbFlags_ == 0) {
      // A database created before its session existed lives in the default
      // session: it moves to the session it names first.
      TTarnSession* named = Sessions().FindSession(sessionName_);
      if (named != nullptr && named->FindDatabase(databaseName_) == nullptr && !named->IsDefault()) {
        TTarnDatabase* waiting = Session().FindDatabase(databaseName_);
        if (waiting != nullptr && !waiting->Temporary()) waiting->AttachToNamedSession();
      }
      TTarnSession& session = Sessions().GetSessionByName(sessionName_);
      TTarnDatabase& database = session.OpenDatabase(databaseName_, this);
      session_ = &session;
      database_ = &database;
      database.AttachDataSet(*this);
    }
    dbFlags_ = static_cast<std::uint8_t>(dbFlags_ | bit);
    return;
  }
  if ((dbFlags_ & bit) == 0) return;
  dbFlags_ = static_cast<std::uint8_t>(dbFlags_ & ~bit);
  if (dbFlags_ != 0) return;
  TTarnDatabase* database = database_;
  TTarnSession* session = session_;
  database_ = nullptr;
  session_ = nullptr;
  if (database != nullptr) {
    database->DetachDataSet(*this);
    session->CloseDatabase(*database);
  }
}

void TTarnDBDataSet::OpenCursor() {
  SetDBFlag(dbfOpened, true);
  try {
    TTarnDataSet::OpenCursor();
  } catch (...) {
    SetDBFlag(dbfOpened, false);
    throw;
  }
}

void TTarnDBDataSet::CloseCursor() {
  TTarnDataSet::CloseCursor();
  SetDBFlag(dbfOpened, false);
}

void TTarnDBDataSet::Disconnect() {
  Close();
  // Whatever still holds the database lets go: the database is closing.
  for (TDBFlag flag : {dbfExecSQL, dbfPrepared, dbfOpened})
    if (DBFlag(flag)) SetDBFlag(flag, false);
}

}  // namespace tarn
