// TWebModule1: one web module with its components, its construction from the
// configuration, its action table and the two action handlers.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "web/config_state.h"
#include "web/module_data_access.h"
#include "web/web_request.h"
#include "web/web_response.h"

namespace dovecrest {

class TWebModule1;

// One entry of the action table.
struct TWebActionItem {
  std::string Name;
  std::string PathInfo;  // compared with the request's path info without regard to case
  bool Enabled = true;
  void (TWebModule1::*OnAction)(TWebRequest& Request, TWebResponse& Response, bool& Handled) = nullptr;
};

class TWebModule1 {
 public:
  // The password every protected quota table carries.
  static constexpr std::string_view kTablePassword = "KT62WB38";

  // Builds the components, reads "Vantrel.ini", points the database at the configured
  // directory and restarts the session in the temporary directory. Failures set the
  // configuration state instead of raising.
  TWebModule1(TConfigState& config, const ModuleDataAccessFactory& dataAccessFactory);
  ~TWebModule1();

  TWebModule1(const TWebModule1&) = delete;
  TWebModule1& operator=(const TWebModule1&) = delete;

  // Runs the first action whose path matches; answers whether the request was handled.
  bool DispatchAction(TWebRequest& Request, TWebResponse& Response);

  // MySession's OnPassword handler: adds the table password and asks for a retry.
  void SessionPassword(bool& Continue);

  TModuleDataAccess& Data() { return *data_; }
  const std::vector<TWebActionItem>& Actions() const { return actions_; }

 private:
  void WebModule1WebActionItem1Action(TWebRequest& Request, TWebResponse& Response, bool& Handled);
  void WebModule1WebActionItem2Action(TWebRequest& Request, TWebResponse& Response, bool& Handled);

  void ReadConfiguration();
  void RestartSession();

  TConfigState& config_;
  std::unique_ptr<TModuleDataAccess> data_;
  std::vector<TWebActionItem> actions_;
};

}  // namespace dovecrest
