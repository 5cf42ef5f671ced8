/* A pass-through extension for the host tests: it loads the real extension named by
 * $DOVECREST_GATE_TARGET and forwards every call to it. A call whose query string is
 * "hold" reaches the real extension with its body not yet delivered; at the
 * extension's first body read it writes one byte to the descriptor named by
 * $DOVECREST_GATE_READY_FD and waits until the descriptor named by
 * $DOVECREST_GATE_RELEASE_FD becomes readable (the test closes the other end), then
 * delivers the body. So a test keeps calls busy inside the real extension, holding
 * its modules, for exactly as long as it wants and learns when they are. Plain C:
 * it depends on nothing but the extension's ABI header. */
#include <dlfcn.h>
#include <errno.h>
#include <poll.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "web/extension_abi.h"

static PFN_GETEXTENSIONVERSION targetVersion;
static PFN_HTTPEXTENSIONPROC targetProc;
static PFN_TERMINATEEXTENSION targetTerminate;
static int readyFd = -1;
static int releaseFd = -1;

typedef struct HeldCall {
  EXTENSION_CONTROL_BLOCK* outer;
  uint32_t delivered;
  int waited;
} HeldCall;

static int HeldGetServerVariable(void* id, const char* name, void* buffer, uint32_t* size) {
  EXTENSION_CONTROL_BLOCK* outer = ((HeldCall*)id)->outer;
  return outer->GetServerVariable(outer->ConnID, name, buffer, size);
}

static int HeldWriteClient(void* id, const void* data, uint32_t* bytes, uint32_t reserved) {
  EXTENSION_CONTROL_BLOCK* outer = ((HeldCall*)id)->outer;
  return outer->WriteClient(outer->ConnID, data, bytes, reserved);
}

static int HeldServerSupportFunction(void* id, uint32_t request, void* buffer, uint32_t* size, void* dataType) {
  EXTENSION_CONTROL_BLOCK* outer = ((HeldCall*)id)->outer;
  return outer->ServerSupportFunction(outer->ConnID, request, buffer, size, dataType);
}

static int HeldReadClient(void* id, void* buffer, uint32_t* size) {
  HeldCall* call = (HeldCall*)id;
  if (!call->waited) {
    call->waited = 1;
    char one = 1;
    if (write(readyFd, &one, 1) != 1) return 0;
    struct pollfd release = {releaseFd, POLLIN, 0};
    while (poll(&release, 1, -1) < 0 && errno == EINTR) {
    }
  }
  uint32_t left = call->outer->cbAvailable - call->delivered;
  uint32_t n = *size < left ? *size : left;
  memcpy(buffer, call->outer->lpbData + call->delivered, n);
  call->delivered += n;
  *size = n;
  return 1;
}

static int DescriptorFromEnvironment(const char* name) {
  const char* text = getenv(name);
  return text ? atoi(text) : -1;
}

__attribute__((visibility("default"))) int GetExtensionVersion(HSE_VERSION_INFO* pVer) {
  const char* target = getenv("DOVECREST_GATE_TARGET");
  void* library = target ? dlopen(target, RTLD_NOW | RTLD_LOCAL) : NULL;
  if (!library) return 0;
  targetVersion = (PFN_GETEXTENSIONVERSION)dlsym(library, "GetExtensionVersion");
  targetProc = (PFN_HTTPEXTENSIONPROC)dlsym(library, "HttpExtensionProc");
  targetTerminate = (PFN_TERMINATEEXTENSION)dlsym(library, "TerminateExtension");
  readyFd = DescriptorFromEnvironment("DOVECREST_GATE_READY_FD");
  releaseFd = DescriptorFromEnvironment("DOVECREST_GATE_RELEASE_FD");
  if (!targetVersion || !targetProc || !targetTerminate || readyFd < 0 || releaseFd < 0) return 0;
  return targetVersion(pVer);
}

__attribute__((visibility("default"))) uint32_t HttpExtensionProc(EXTENSION_CONTROL_BLOCK* pECB) {
  if (!pECB || !pECB->lpszQueryString || strcmp(pECB->lpszQueryString, "hold") != 0) return targetProc(pECB);
  HeldCall call = {pECB, 0, 0};
  EXTENSION_CONTROL_BLOCK inner = *pECB;
  inner.ConnID = &call;
  inner.cbAvailable = 0;
  inner.GetServerVariable = HeldGetServerVariable;
  inner.WriteClient = HeldWriteClient;
  inner.ReadClient = HeldReadClient;
  inner.ServerSupportFunction = HeldServerSupportFunction;
  uint32_t answer = targetProc(&inner);
  pECB->dwHttpStatusCode = inner.dwHttpStatusCode;
  return answer;
}

__attribute__((visibility("default"))) int TerminateExtension(uint32_t dwFlags) { return targetTerminate(dwFlags); }
