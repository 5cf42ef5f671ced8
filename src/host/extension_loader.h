// Loading the extension library and finding its three entry points.
#pragma once

#include <string>

#include "web/extension_abi.h"

namespace dovecrest {

class ExtensionLibrary {
 public:
  ExtensionLibrary() = default;
  ~ExtensionLibrary();
  ExtensionLibrary(const ExtensionLibrary&) = delete;
  ExtensionLibrary& operator=(const ExtensionLibrary&) = delete;

  // Loads the library and calls GetExtensionVersion; on failure `error` says why.
  bool Load(const std::string& path, std::string& error);
  // Calls TerminateExtension and unloads the library.
  void Unload();

  uint32_t HttpExtensionProc(EXTENSION_CONTROL_BLOCK* ecb) const { return proc_(ecb); }
  const std::string& Description() const { return description_; }

 private:
  void* handle_ = nullptr;
  PFN_HTTPEXTENSIONPROC proc_ = nullptr;
  PFN_TERMINATEEXTENSION terminate_ = nullptr;
  std::string description_;
};

}  // namespace dovecrest
