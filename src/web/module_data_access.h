// What a web module needs from its session and database components: open the
// database directory, restart the session with a private directory, add a table
// password, and the session's name. The module talks to the engine only through this.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace dovecrest {

class TModuleDataAccess {
 public:
  // The session's OnPassword handler: set `Continue` to retry opening the table.
  using PasswordHandler = std::function<void(bool& Continue)>;

  virtual ~TModuleDataAccess() = default;

  virtual std::string SessionName() const = 0;
  virtual void SetOnPassword(PasswordHandler handler) = 0;
  virtual void AddPassword(std::string_view password) = 0;

  // MySession.Active and MySession.PrivateDir.
  virtual void SetSessionActive(bool active) = 0;
  virtual bool SessionActive() const = 0;
  virtual void SetPrivateDir(std::string_view directory) = 0;

  // VantrelDB.Connected and VantrelDB.Directory.
  virtual void SetDatabaseConnected(bool connected) = 0;
  virtual bool DatabaseConnected() const = 0;
  virtual void SetDatabaseDirectory(std::string_view directory) = 0;
};

// Creates the data access of one new module.
using ModuleDataAccessFactory = std::function<std::unique_ptr<TModuleDataAccess>()>;

}  // namespace dovecrest
