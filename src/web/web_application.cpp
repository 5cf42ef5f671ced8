// Request entry, module pool and error page.
#include "web/web_application.h"

#include <algorithm>

#include "components/tarn_session.h"
#include "components/tarn_session_list.h"
#include "platform/exception.h"
#include "web/html_escape.h"
#include "web/web_request.h"
#include "web/web_response.h"

namespace dovecrest {

TWebApplication::TWebApplication(TModuleSetup setup) : setup_(std::move(setup)) {}

TWebApplication::~TWebApplication() = default;

void TWebApplication::Unload() {
  std::vector<std::unique_ptr<TWebModule1>> modules;
  bool serving = false;
  {
    std::lock_guard lock(poolLock_);
    for (auto& module : inactiveModules_) modules.push_back(std::move(module));
    inactiveModules_.clear();
    serving = !activeModules_.empty();
  }
  modules.clear();
  // A module still serving a request (which a server that unloads has ended)
  // keeps the engine running.
  if (serving) return;
  try {
    tarn::Session().SetActive(false);
  } catch (...) {
    // The library goes either way; there is no one left to tell.
  }
}

std::size_t TWebApplication::ActiveModuleCount() const {
  std::lock_guard lock(poolLock_);
  return activeModules_.size();
}

std::size_t TWebApplication::InactiveModuleCount() const {
  std::lock_guard lock(poolLock_);
  return inactiveModules_.size();
}

std::size_t TWebApplication::ConstructedModuleCount() const {
  std::lock_guard lock(poolLock_);
  return constructed_;
}

TWebModule1* TWebApplication::ActivateModule() {
  std::lock_guard lock(poolLock_);
  if (MaxConnections >= 1 && activeModules_.size() >= static_cast<std::size_t>(MaxConnections))
    throw tarn::Exception(std::string(kPoolExhausted));
  std::unique_ptr<TWebModule1> module;
  if (!inactiveModules_.empty()) {
    module = std::move(inactiveModules_.front());
    inactiveModules_.pop_front();
  } else {
    module = std::make_unique<TWebModule1>(config_, setup_);
    ++constructed_;
  }
  activeModules_.push_back(std::move(module));
  return activeModules_.back().get();
}

void TWebApplication::DeactivateModule(TWebModule1* module) {
  std::unique_ptr<TWebModule1> owned;
  {
    std::lock_guard lock(poolLock_);
    auto it = std::find_if(activeModules_.begin(), activeModules_.end(),
                           [module](const auto& m) { return m.get() == module; });
    if (it == activeModules_.end()) return;
    owned = std::move(*it);
    activeModules_.erase(it);
    if (CacheConnections) inactiveModules_.push_back(std::move(owned));
  }
  // Without caching, the module is destroyed here, outside the pool lock.
}

uint32_t TWebApplication::HttpExtensionProc(EXTENSION_CONTROL_BLOCK& ecb) {
  try {
    TWebRequest request(ecb);
    TWebResponse response(ecb, request.GetFieldByName("SERVER_PROTOCOL").empty());
    TWebModule1* module = ActivateModule();
    bool handled = false;
    try {
      handled = module->DispatchAction(request, response);
      if (handled && !response.Sent()) response.SendResponse();
    } catch (...) {
      DeactivateModule(module);
      throw;
    }
    DeactivateModule(module);
    return handled ? HSE_STATUS_SUCCESS : HSE_STATUS_ERROR;
  } catch (const tarn::Exception& e) {
    SendErrorPage(ecb, e.ClassName(), e.Message());
  } catch (const std::exception& e) {
    SendErrorPage(ecb, "Exception", e.what());
  }
  return HSE_STATUS_ERROR;
}

void TWebApplication::SendErrorPage(EXTENSION_CONTROL_BLOCK& ecb, std::string_view className,
                                    std::string_view message) {
  try {
    std::string page = "<html><title>Internal Server Error 500</title>\r\n"
                       "<h1>Internal Server Error 500</h1><hr>\r\n"
                       "Exception: " + HtmlEscape(className) + "<br>\r\n"
                       "Message: " + HtmlEscape(message) + "<br></html>\r\n";
    // The status line carries the message on one line: CR and LF would split it.
    std::string status = "500 " + std::string(message);
    std::replace_if(status.begin(), status.end(), [](char c) { return c == '\r' || c == '\n' || c == '\0'; }, ' ');
    std::string headers = "Content-Type: text/html\r\nContent-Length: " + std::to_string(page.size()) +
                          "\r\nContent:\r\n\r\n";
    ecb.dwHttpStatusCode = 500;
    SendResponseHeader(ecb, status, headers);
    WriteClient(ecb, page);
  } catch (...) {
    // Out of memory while reporting: the host answers the failed request itself.
    ecb.dwHttpStatusCode = 500;
  }
}

}  // namespace dovecrest
