// TWebApplication: the extension's request entry with its pool of web modules and the
// error page for exceptions that escape a request.
#pragma once

#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "web/config_state.h"
#include "web/extension_abi.h"
#include "web/web_module.h"

namespace dovecrest {

class TWebApplication {
 public:
  static constexpr std::string_view kPoolExhausted =
      "Maximum number of concurrent connections exceeded.  Please try again later";

  // `setup` runs on each module once its components exist (see TModuleSetup).
  explicit TWebApplication(TModuleSetup setup = {});
  ~TWebApplication();

  TWebApplication(const TWebApplication&) = delete;
  TWebApplication& operator=(const TWebApplication&) = delete;

  // Serves one request: HSE_STATUS_SUCCESS when an action handled it, HSE_STATUS_ERROR
  // otherwise (also after the error page).
  uint32_t HttpExtensionProc(EXTENSION_CONTROL_BLOCK& ecb);

  std::string Title() const { return {}; }

  // The library is being unloaded: destroys every module (each stops its session,
  // closing its databases), then stops the default session and with it the engine.
  // Runs while everything the modules use still exists. A module still serving a
  // request is left alone, and the engine with it.
  void Unload();

  int MaxConnections = 32;  // below 1: no limit
  bool CacheConnections = true;

  TConfigState& Config() { return config_; }
  std::size_t ActiveModuleCount() const;
  std::size_t InactiveModuleCount() const;
  std::size_t ConstructedModuleCount() const;

 private:
  TWebModule1* ActivateModule();
  void DeactivateModule(TWebModule1* module);
  static void SendErrorPage(EXTENSION_CONTROL_BLOCK& ecb, std::string_view className,
                            std::string_view message);

  TModuleSetup setup_;
  TConfigState config_;
  mutable std::mutex poolLock_;
  std::vector<std::unique_ptr<TWebModule1>> activeModules_;
  std::deque<std::unique_ptr<TWebModule1>> inactiveModules_;
  std::size_t constructed_ = 0;
};

}  // namespace dovecrest
