// The extension's exported entry points over the one web application of the library.
#include <algorithm>
#include <cstring>
#include <string>

#include "platform/no_destructor.h"
#include "web/extension_abi.h"
#include "web/web_application.h"

namespace {

// Created when the library is loaded. Its modules are destroyed when the server
// unloads the library (TerminateExtension with HSE_TERM_MUST_UNLOAD), while the
// engine's process-wide objects still exist; it is never destroyed by the static
// destructors, whose order would hand modules objects already destroyed.
tarn::TNoDestructor<dovecrest::TWebApplication> gApplication;

}  // namespace

extern "C" __attribute__((visibility("default"))) int GetExtensionVersion(HSE_VERSION_INFO* pVer) {
  if (!pVer) return 0;
  pVer->dwExtensionVersion = (static_cast<uint32_t>(HSE_VERSION_MAJOR) << 16) | HSE_VERSION_MINOR;
  std::string title = gApplication->Title();
  std::size_t n = std::min(title.size(), sizeof pVer->lpszExtensionDesc - 1);
  std::memcpy(pVer->lpszExtensionDesc, title.data(), n);
  pVer->lpszExtensionDesc[n] = '\0';
  return 1;
}

extern "C" __attribute__((visibility("default"))) uint32_t HttpExtensionProc(EXTENSION_CONTROL_BLOCK* pECB) {
  if (!pECB) return HSE_STATUS_ERROR;
  return gApplication->HttpExtensionProc(*pECB);
}

// Always consents; an unload that must happen takes the modules down first.
extern "C" __attribute__((visibility("default"))) int TerminateExtension(uint32_t dwFlags) {
  if (dwFlags & HSE_TERM_MUST_UNLOAD) gApplication->Unload();
  return 1;
}
