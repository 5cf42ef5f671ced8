// TTarnDBDataSet: a dataset that reaches its cursor through a database
// component found by name in a session found by name. The database flags
// name why the dataset needs the database (0 cursor open, 1 statement
// prepared, 2 statement executing): the first flag set opens the database
// through the session and joins its dataset list, clearing the last one
// leaves the list and gives the database back.
#pragma once

#include <cstdint>
#include <string>

#include "components/tarn_database.h"
#include "components/tarn_dataset.h"

namespace tarn {

class TTarnSession;

enum TDBFlag : std::uint8_t { dbfOpened = 0, dbfPrepared = 1, dbfExecSQL = 2 };

class TTarnDBDataSet : public TTarnDataSet, public TDatabaseDataSet {
 public:
  // A new dataset takes the name of an auto-named session of its owner.
  explicit TTarnDBDataSet(TComponent* owner);
  ~TTarnDBDataSet() override;

  const std::string& DatabaseName() const noexcept { return databaseName_; }
  // Changeable only while the database flags are clear.
  virtual void SetDatabaseName(const std::string& name);
  const std::string& SessionName() const noexcept { return sessionName_; }
  void SetSessionName(const std::string& name);

  // The database while a flag holds it, else null.
  TTarnDatabase* Database() const noexcept { return database_; }
  TTarnSession* DBSession() const noexcept { return session_; }
  bool DBFlag(TDBFlag flag) const noexcept { return (dbFlags_ & (1u << flag)) != 0; }
  bool DBFlagsEmpty() const noexcept { return dbFlags_ == 0; }

  // TDatabaseDataSet: the database closes.
  void Disconnect() override;

  // TComponent: the dataset names its session.
  bool UsesSessionName() const override { return true; }
  std::string AssignedSessionName() const override { return sessionName_; }
  void AssignSessionName(const std::string& name) override;

 protected:
  // Opens the database on the first flag and releases it with the last.
  virtual void SetDBFlag(TDBFlag flag, bool value);
  void OpenCursor() override;
  void CloseCursor() override;
  void CheckDatabaseClosed() const;

 private:
  std::string databaseName_;
  std::string sessionName_;
  std::uint8_t dbFlags_ = 0;
  TTarnDatabase* database_ = nullptr;
  TTarnSession* session_ = nullptr;
};

}  // namespace tarn
