// TTarnDatabase: the database component. It names a database directory, opens
// it in its session's data session (or borrows the open directory of a
// HandleShared namesake), counts the datasets and session requests that use
// it, closes its datasets when it closes, and runs the directory's
// transactions.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "components/component.h"

namespace tarn {

class TDataDirectory;
class TTarnDatabase;
class TTarnSession;

// What a database knows of a dataset attached to it (TTarnDBDataSet).
class TDatabaseDataSet {
 public:
  // The database is closing: close, and a query also unprepares; the dataset
  // detaches itself from the database.
  virtual void Disconnect() = 0;

 protected:
  ~TDatabaseDataSet() = default;
};

// A name looks like a path when it is empty or holds ':', a backslash or '/' (the
// bytes of double-byte characters are skipped).
bool DatabaseNameLooksLikePath(const std::string& name);

using TDatabaseNotifyEvent = std::function<void(TTarnDatabase& Sender)>;

class TTarnDatabase : public TComponent {
 public:
  static constexpr const char* kEngineVersion = "3.08";

  // The session is the owner when the owner is a session component, otherwise
  // the default session; the database joins its list.
  explicit TTarnDatabase(TComponent* owner);
  ~TTarnDatabase() override;

  std::string EngineVersion() const { return kEngineVersion; }
  void SetEngineVersion(const std::string&) {}

  bool Connected() const;
  void SetConnected(bool value);
  void Open() { SetConnected(true); }
  void Close() { SetConnected(false); }
  void CloseDataSets();

  const std::string& DatabaseName() const;
  void SetDatabaseName(const std::string& name);
  const std::string& Directory() const;
  void SetDirectory(const std::string& directory);
  const std::string& RemoteDatabase() const;
  void SetRemoteDatabase(const std::string& name);
  bool HandleShared() const;
  void SetHandleShared(bool value);
  bool KeepConnection() const;
  void SetKeepConnection(bool value);
  const std::string& SessionName() const;
  void SetSessionName(const std::string& name);

  TDatabaseNotifyEvent BeforeConnect;

  void StartTransaction();
  void Commit(bool forceFlush);
  void Rollback();
  bool InTransaction() const;

  int DataSetCount() const;
  TDatabaseDataSet* DataSets(int index) const;
  void AttachDataSet(TDatabaseDataSet& dataset);
  void DetachDataSet(TDatabaseDataSet& dataset);

  // The open data directory (null while closed).
  TDataDirectory* Handle() const;
  // Attaches an open directory of the same session without owning it.
  void SetHandle(TDataDirectory* directory);

  // The session the database belongs to.
  TTarnSession& Session() const;
  bool Temporary() const;
  int RefCount() const;

  // Used by the session: users counted by OpenDatabase/CloseDatabase, temporary
  // databases, and moving to the session SessionName names (starting it).
  void IncRefCount();
  void DecRefCount();
  void SetTemporary(bool value);
  void AttachToNamedSession();
  // True while Close runs (its datasets are being disconnected).
  bool Closing() const;
  // The session is being destroyed: the database closes and will use the
  // default session from now on.
  void SessionGone(TTarnSession& session);

  // TComponent: a database names its session.
  bool UsesSessionName() const override { return true; }
  std::string AssignedSessionName() const override { return SessionName(); }
  void AssignSessionName(const std::string& name) override { SetSessionName(name); }

 protected:
  void Loaded() override;
  void Notification(TComponent& component, TOperation operation) override;

 private:
  void DoOpen();
  void DoClose();
  void MoveToSession(TTarnSession& session);
  TTarnSession& SessionRef() const;

  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace tarn
