// An in-memory stand-in for the session and database components, used until the
// engine's components serve web modules. It keeps the state a module sets (session
// name, activity, private directory, directory, passwords) and opens nothing.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "web/module_data_access.h"

namespace dovecrest {

class TStandInDataAccess final : public TModuleDataAccess {
 public:
  // Takes the lowest free automatic session number, as auto-named sessions do:
  // "MySession_1", "MySession_2", ... Numbers are not given back on destruction.
  TStandInDataAccess();

  std::string SessionName() const override { return sessionName_; }
  void SetOnPassword(PasswordHandler handler) override { onPassword_ = std::move(handler); }
  void AddPassword(std::string_view password) override { passwords_.emplace_back(password); }

  void SetSessionActive(bool active) override;
  bool SessionActive() const override { return sessionActive_; }
  void SetPrivateDir(std::string_view directory) override { privateDir_ = directory; }

  void SetDatabaseConnected(bool connected) override;
  bool DatabaseConnected() const override { return databaseConnected_; }
  void SetDatabaseDirectory(std::string_view directory) override { directory_ = directory; }

  const std::vector<std::string>& Passwords() const { return passwords_; }
  const std::string& PrivateDir() const { return privateDir_; }
  const std::string& Directory() const { return directory_; }

 private:
  std::string sessionName_;
  PasswordHandler onPassword_;
  std::vector<std::string> passwords_;
  std::string privateDir_;
  std::string directory_;
  bool sessionActive_ = false;
  bool databaseConnected_ = false;
};

}  // namespace dovecrest
