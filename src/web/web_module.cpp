// The web module: construction, dispatch and the action handlers.
#include "web/web_module.h"

#include "platform/code_page.h"
#include "platform/exception.h"
#include "platform/os_process.h"
#include "platform/profile_file.h"
#include "web/default_page.h"

namespace dovecrest {
namespace {

// Exception messages of anything a component may raise.
std::string MessageOf(const std::exception& e) {
  if (auto* ex = dynamic_cast<const tarn::Exception*>(&e)) return ex->Message();
  return e.what();
}

// "未输入任何使用者名称"
constexpr std::string_view kNoUserName =
    "\xce\xb4\xca\xe4\xc8\xeb\xc8\xce\xba\xce\xca\xb9\xd3\xc3\xd5\xdf\xc3\xfb\xb3\xc6";

}  // namespace

TWebModule1::TWebModule1(TConfigState& config, const ModuleDataAccessFactory& dataAccessFactory)
    : config_(config), data_(dataAccessFactory()) {
  data_->SetOnPassword([this](bool& Continue) { SessionPassword(Continue); });
  actions_.push_back({"WebActionItem1", "", true, &TWebModule1::WebModule1WebActionItem1Action});
  actions_.push_back({"WebActionItem2", "/Query", true, &TWebModule1::WebModule1WebActionItem2Action});

  ReadConfiguration();
  if (config_.ConfigFailed()) return;  // set by this module or an earlier one
  RestartSession();
}

TWebModule1::~TWebModule1() {
  try {
    data_->SetSessionActive(false);
  } catch (...) {
    // A session that cannot close cleanly at unload has nothing left to report to.
  }
}

void TWebModule1::ReadConfiguration() {
  const std::string iniPath = tarn::ProfileFilePath("Vantrel.ini");
  try {
    std::string dbPath = tarn::GetPrivateProfileString("Setting", "DBPath", "", iniPath);
    if (dbPath.empty()) {
      config_.Fail("DBPath is't exist at Vantrel.ini");
    } else {
      data_->SetDatabaseConnected(false);
      data_->SetDatabaseDirectory(dbPath);
      data_->SetDatabaseConnected(true);
    }
  } catch (const std::exception& e) {
    config_.Fail("Get database path in Vantrel.ini error(" + MessageOf(e) + ")");
  }
}

void TWebModule1::RestartSession() {
  try {
    config_.Clear();
    // The process's own private directory under the system temporary directory.
    std::string tempPath;
    if (tarn::OSProcessPrivateDirectory(tempPath) != 0)
      throw tarn::Exception("Cannot create a private directory in " + tarn::GetTempPath());
    data_->SetSessionActive(false);
    data_->SetPrivateDir(tempPath);
    data_->SetSessionActive(true);
  } catch (const std::exception& e) {
    config_.Fail("DataModule init error : " + MessageOf(e) + " <br>");
  }
}

bool TWebModule1::DispatchAction(TWebRequest& Request, TWebResponse& Response) {
  const std::string path = Request.PathInfo();
  for (const auto& action : actions_) {
    if (!action.Enabled || !tarn::AnsiSameText(action.PathInfo, path)) continue;
    bool handled = true;
    (this->*action.OnAction)(Request, Response, handled);
    if (handled) return true;
  }
  return false;
}

void TWebModule1::SessionPassword(bool& Continue) {
  data_->AddPassword(kTablePassword);
  Continue = true;
}

void TWebModule1::WebModule1WebActionItem1Action(TWebRequest&, TWebResponse& Response, bool&) {
  Response.Content = config_.ConfigFailed() ? config_.ConfigMessage() : DefaultPageContent();
}

void TWebModule1::WebModule1WebActionItem2Action(TWebRequest& Request, TWebResponse& Response, bool&) {
  if (config_.ConfigFailed()) {
    Response.Content = config_.ConfigMessage();
    return;
  }
  // Reading the form may fail on a malformed escape; that failure reaches the error page.
  std::string value = Request.ContentField("UNAME");
  if (value.empty()) {
    Response.Content = std::string(kNoUserName);
  } else {
    // Temporary answer until the engine can run the quota statements.
    Response.Content = "<html><body>The quota status page is not available yet.</body></html>";
  }
  data_->SetDatabaseConnected(false);
}

}  // namespace dovecrest
