// TTarnSession: the session component. It owns one engine data session while
// active, carries the lock, flush, change-detection, progress and private
// directory settings it hands to that data session, names itself
// automatically on request, keeps the database components of the session and
// opens databases by name for datasets (creating temporary ones on demand).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "components/component.h"
#include "engine/data_session.h"

namespace tarn {

class TDataCursor;
class TQueryStatement;
class TTarnDatabase;
class TTarnSession;

enum TSessionType : std::uint8_t { stLocal = 0, stRemote = 1 };
enum TTarnDatabaseEvent : std::uint8_t { dbOpen, dbClose, dbAdd, dbRemove };

// OnPassword: add passwords with AddPassword and set Continue to retry.
using TPasswordEvent = std::function<void(TTarnSession& Sender, bool& Continue)>;
using TSessionNotifyEvent = std::function<void(TTarnSession& Sender)>;
using TTarnDatabaseNotifyEvent = std::function<void(TTarnDatabaseEvent event, TTarnDatabase& database)>;

class TTarnSession : public TComponent {
 public:
  static constexpr const char* kEngineVersion = "3.08";

  // Joins Sessions; the first session of the process becomes the default one.
  // Raises "This auto-session already exists." when the owner holds an
  // auto-named session.
  explicit TTarnSession(TComponent* owner);
  ~TTarnSession() override;

  // Renaming an auto-named session renames the session too.
  void SetName(const std::string& name) override;

  std::string EngineVersion() const { return kEngineVersion; }
  void SetEngineVersion(const std::string&) {}

  bool Active() const;
  void SetActive(bool value);
  void Open() { SetActive(true); }
  void Close() { SetActive(false); }

  bool AutoSessionName() const;
  void SetAutoSessionName(bool value);
  const std::string& SessionName() const;
  void SetSessionName(const std::string& name);

  bool ForceBufferFlush() const;
  void SetForceBufferFlush(bool value);
  bool KeepConnections() const;
  void SetKeepConnections(bool value);
  std::uint8_t LockRetryCount() const;
  void SetLockRetryCount(std::uint8_t value);
  std::uint16_t LockWaitTime() const;
  void SetLockWaitTime(std::uint16_t value);
  TLockProtocol LockProtocol() const;
  void SetLockProtocol(TLockProtocol value);
  // Empty (the default) means the process's own private temporary directory,
  // which the engine makes on first use.
  const std::string& PrivateDir() const;
  void SetPrivateDir(const std::string& value);
  std::uint16_t ProgressSteps() const;
  void SetProgressSteps(std::uint16_t value);  // above 100: ignored
  bool StrictChangeDetection() const;
  void SetStrictChangeDetection(bool value);
  TSessionType SessionType() const;
  void SetSessionType(TSessionType value);

  TPasswordEvent OnPassword;
  TSessionNotifyEvent OnStartup;
  // Internal hook: databases opened, closed, added and removed.
  TTarnDatabaseNotifyEvent OnDBNotify;

  void AddPassword(const std::string& password);
  void RemovePassword(const std::string& password);
  void RemoveAllPasswords();

  // Sorted names of the session's database components, without path-like names.
  void GetDatabaseNames(std::vector<std::string>& list);
  void GetTableNames(const std::string& databaseName, std::vector<std::string>& list);

  // Finds or creates (as a temporary database) the database of that name,
  // opens it and counts one more user. `requester` is the component of the
  // asking dataset: a HandleShared database of the same owner comes first.
  TTarnDatabase& OpenDatabase(const std::string& name, const TComponent* requester = nullptr);
  // One user less; the last user of a database without KeepConnection closes
  // it (a temporary one is destroyed).
  void CloseDatabase(TTarnDatabase& database);
  TTarnDatabase* FindDatabase(const std::string& name) const;
  // Destroys every temporary database nothing references.
  void DropConnections();

  // Enters the process-wide session lock and makes this session current
  // (starting it when inactive); nested calls only count.
  void LockSession();
  void UnlockSession();
  void MakeCurrent();
  // The data session; reading it makes the session current, starting it if needed.
  TDataSession& Handle();
  bool HasHandle() const;

  int DatabaseCount() const;
  TTarnDatabase* Databases(int index) const;

  // Asked by the engine when a table needs a password none of the session's
  // passwords fits: answers whether to try again. A true answer that added no
  // password ends the retries (false) instead of asking without end.
  bool GetPasswordCallback();
  // GetPasswordCallback in the shapes the engine's cursors and statements take,
  // with the session as the user value.
  static bool CursorPasswordCallback(void* session, TDataCursor& cursor);
  static bool StatementPasswordCallback(void* session, TQueryStatement& statement, const std::string& table);

  bool IsDefault() const;

  // Used by TTarnDatabase: its list membership and temporary databases.
  void AddDatabase(TTarnDatabase& database);
  void RemoveDatabase(TTarnDatabase& database);
  void DBNotification(TTarnDatabaseEvent event, TTarnDatabase& database);
  // The data session while active, else null; never starts the session.
  TDataSession* DataSession() const noexcept;
  // Called by the session list for the first session it sees.
  void MarkDefault() noexcept;
  // Destroys a temporary database of this session.
  void DestroyTemporary(TTarnDatabase& database);
  // Directories lent by one database component to others (HandleShared, or an
  // attached Handle): a borrower is counted, and the opener's close of a lent
  // directory waits until the last borrower is gone.
  void AddBorrower(TDataDirectory& directory);
  void CloseDirectory(TDataDirectory& directory, bool borrower);

 protected:
  void Loaded() override;
  void Notification(TComponent& component, TOperation operation) override;

 private:
  void StartSession();
  void StopSession();
  void UpdateAutoSessionName();
  void HandOutSessionName();
  TTarnDatabase& CreateTemporary(const std::string& name);

  struct State;
  std::unique_ptr<State> state_;
};

// RAII for LockSession/UnlockSession.
class TSessionLockGuard {
 public:
  explicit TSessionLockGuard(TTarnSession& session) : session_(session) { session_.LockSession(); }
  ~TSessionLockGuard() { session_.UnlockSession(); }
  TSessionLockGuard(const TSessionLockGuard&) = delete;
  TSessionLockGuard& operator=(const TSessionLockGuard&) = delete;

 private:
  TTarnSession& session_;
};

}  // namespace tarn
