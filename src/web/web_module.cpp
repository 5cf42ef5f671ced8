// The web module: its components, construction, dispatch and the action handlers.
#include "web/web_module.h"

#include "platform/code_page.h"
#include "platform/exception.h"
#include "platform/os_process.h"
#include "platform/profile_file.h"
#include "web/default_page.h"
#include "web/html_escape.h"
#include "web/quota_status_page.h"

namespace dovecrest {
namespace {

// Exception messages of anything a component may raise.
std::string MessageOf(const std::exception& e) {
  if (auto* ex = dynamic_cast<const tarn::Exception*>(&e)) return ex->Message();
  return e.what();
}

}  // namespace

TWebModule1::TWebModule1(TConfigState& config, const TModuleSetup& setup) : tarn::TComponent(nullptr), config_(config) {
  SetName("WebModule1");
  actions_.push_back({"WebActionItem1", "", true, &TWebModule1::WebModule1WebActionItem1Action});
  actions_.push_back({"WebActionItem2", "/Query", true, &TWebModule1::WebModule1WebActionItem2Action});
  CreateComponents();
  if (setup) setup(*this);

  ReadConfiguration();
  if (config_.ConfigFailed()) return;  // set by this module or an earlier one
  RestartSession();
}

TWebModule1::~TWebModule1() {
  BeginDestroying();
  try {
    // Stopping the session closes the database and, with it, the query.
    MySession->SetActive(false);
  } catch (...) {
    // A session that cannot close cleanly at unload has nothing left to report to.
  }
  Query.reset();
  VantrelDB.reset();
  MySession.reset();
}

// The components with the property values the module relies on, as a stored form
// would give them: the session names itself, and once loading ends hands that name
// to the query and the database.
void TWebModule1::CreateComponents() {
  Query = std::make_unique<tarn::TTarnQuery>(this);
  Query->SetName("Query");
  MySession = std::make_unique<tarn::TTarnSession>(this);
  MySession->SetName("MySession");
  VantrelDB = std::make_unique<tarn::TTarnDatabase>(this);
  VantrelDB->SetName("VantrelDB");
  BeginLoading();  // the components read their stored properties now

  MySession->SetAutoSessionName(true);
  MySession->SetKeepConnections(false);
  MySession->SetLockRetryCount(15);
  MySession->SetLockWaitTime(100);
  MySession->SetLockProtocol(tarn::lpPessimistic);
  MySession->SetProgressSteps(20);
  MySession->SetStrictChangeDetection(true);
  MySession->SetSessionType(tarn::stLocal);
  MySession->OnPassword = [this](tarn::TTarnSession& Sender, bool& Continue) { SessionPassword(Sender, Continue); };

  VantrelDB->SetDatabaseName("Vantrel");
  VantrelDB->SetKeepConnection(false);
  VantrelDB->SetSessionName("MySession_1");

  Query->SetDatabaseName("Vantrel");
  Query->SetSessionName("MySession_1");
  Query->SetMaxRowCount(-1);
  Query->SQL().Add("select * from 'user'");
  EndLoading();
}

void TWebModule1::ReadConfiguration() {
  const std::string iniPath = tarn::ProfileFilePath("Vantrel.ini");
  try {
    std::string dbPath = tarn::GetPrivateProfileString("Setting", "DBPath", "", iniPath);
    if (dbPath.empty()) {
      config_.Fail("DBPath is't exist at Vantrel.ini");
    } else {
      VantrelDB->SetConnected(false);
      VantrelDB->SetDirectory(dbPath);
      VantrelDB->SetConnected(true);
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
    MySession->SetActive(false);
    MySession->SetPrivateDir(tempPath);
    MySession->SetActive(true);
  } catch (const std::exception& e) {
    config_.Fail("DataModule init error : " + MessageOf(e) + " <br>");
  }
}

bool TWebModule1::DispatchAction(TWebRequest& Request, TWebResponse& Response) {
  // The engine's current data session belongs to the thread: this thread now
  // works for this module.
  if (MySession->Active()) MySession->MakeCurrent();
  const std::string path = Request.PathInfo();
  for (const auto& action : actions_) {
    if (!action.Enabled || !tarn::AnsiSameText(action.PathInfo, path)) continue;
    bool handled = true;
    (this->*action.OnAction)(Request, Response, handled);
    if (handled) return true;
  }
  return false;
}

void TWebModule1::SessionPassword(tarn::TTarnSession&, bool& Continue) {
  MySession->AddPassword(std::string(kTablePassword));
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
  const std::string value = Request.ContentField("UNAME");
  std::string page;
  if (value.empty()) {
    page = kNoUserName;
  } else {
    try {
      page = BuildQuotaStatusPage(*Query, TrimUserName(value));
    } catch (const std::exception& e) {
      // The message alone; it may quote a field value, so it is escaped like one.
      page = HtmlEscape(MessageOf(e));
    }
  }
  Response.Content = std::move(page);
  VantrelDB->SetConnected(false);
}

}  // namespace dovecrest
