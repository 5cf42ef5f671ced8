// TWebModule1: one web module with its components (the query, the module's own
// session and the print-quota database), its construction from the
// configuration, its action table and the two action handlers.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "components/component.h"
#include "components/tarn_database.h"
#include "components/tarn_query.h"
#include "components/tarn_session.h"
#include "web/config_state.h"
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

// Called once a module's components are built, before the configuration is read:
// where a host (or a test) installs component events.
using TModuleSetup = std::function<void(TWebModule1& module)>;

class TWebModule1 : public tarn::TComponent {
 public:
  // The password every protected quota table carries.
  static constexpr std::string_view kTablePassword = "KT62WB38";

  // Builds the components, reads "Vantrel.ini", points the database at the configured
  // directory and restarts the session in the temporary directory. Failures set the
  // configuration state instead of raising.
  explicit TWebModule1(TConfigState& config, const TModuleSetup& setup = {});
  ~TWebModule1() override;

  // Runs the first action whose path matches; answers whether the request was handled.
  // The calling thread works in the module's session for the length of the request.
  bool DispatchAction(TWebRequest& Request, TWebResponse& Response);

  // MySession's OnPassword handler: adds the table password and asks for a retry.
  void SessionPassword(tarn::TTarnSession& Sender, bool& Continue);

  const std::vector<TWebActionItem>& Actions() const { return actions_; }

  // The components, under the names the module's handlers use.
  std::unique_ptr<tarn::TTarnSession> MySession;
  std::unique_ptr<tarn::TTarnDatabase> VantrelDB;
  std::unique_ptr<tarn::TTarnQuery> Query;

 private:
  void WebModule1WebActionItem1Action(TWebRequest& Request, TWebResponse& Response, bool& Handled);
  void WebModule1WebActionItem2Action(TWebRequest& Request, TWebResponse& Response, bool& Handled);

  void CreateComponents();
  void ReadConfiguration();
  void RestartSession();

  TConfigState& config_;
  std::vector<TWebActionItem> actions_;
};

}  // namespace dovecrest
