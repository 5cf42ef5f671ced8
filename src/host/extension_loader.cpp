// dlopen-based loading of the extension.
#include "host/extension_loader.h"

#include <dlfcn.h>

namespace dovecrest {

ExtensionLibrary::~ExtensionLibrary() { Unload(); }

bool ExtensionLibrary::Load(const std::string& path, std::string& error) {
  handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle_) {
    const char* why = dlerror();
    error = "cannot load extension " + path + ": " + (why ? why : "unknown error");
    return false;
  }
  auto version = reinterpret_cast<PFN_GETEXTENSIONVERSION>(dlsym(handle_, "GetExtensionVersion"));
  proc_ = reinterpret_cast<PFN_HTTPEXTENSIONPROC>(dlsym(handle_, "HttpExtensionProc"));
  terminate_ = reinterpret_cast<PFN_TERMINATEEXTENSION>(dlsym(handle_, "TerminateExtension"));
  if (!version || !proc_ || !terminate_) {
    error = "extension " + path + " lacks an entry point";
    dlclose(handle_);
    handle_ = nullptr;
    return false;
  }
  HSE_VERSION_INFO info{};
  if (!version(&info)) {
    error = "extension " + path + " refused to load";
    dlclose(handle_);
    handle_ = nullptr;
    return false;
  }
  info.lpszExtensionDesc[sizeof info.lpszExtensionDesc - 1] = '\0';
  description_ = info.lpszExtensionDesc;
  return true;
}

void ExtensionLibrary::Unload() {
  if (!handle_) return;
  terminate_(HSE_TERM_MUST_UNLOAD);
  dlclose(handle_);
  handle_ = nullptr;
}

}  // namespace dovecrest
