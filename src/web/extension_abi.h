/* The binary interface between the HTTP host and the Dovecrest extension: the
 * per-request control block and the three exported entry points. Plain C so that
 * the host depends on nothing but this header. */
#ifndef DOVECREST_EXTENSION_ABI_H
#define DOVECREST_EXTENSION_ABI_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* HttpExtensionProc answers. */
#define HSE_STATUS_SUCCESS 1
#define HSE_STATUS_ERROR 4

/* ServerSupportFunction requests. */
#define HSE_REQ_SEND_RESPONSE_HEADER 3
/* TerminateExtension flags: the server asks whether it may unload, or unloads now. */
#define HSE_TERM_ADVISORY_UNLOAD 1
#define HSE_TERM_MUST_UNLOAD 2

#define HSE_MAX_EXT_DLL_NAME_LEN 256
#define HSE_VERSION_MAJOR 2
#define HSE_VERSION_MINOR 0

typedef struct HSE_VERSION_INFO {
  uint32_t dwExtensionVersion; /* major in the high 16 bits, minor in the low */
  char lpszExtensionDesc[HSE_MAX_EXT_DLL_NAME_LEN];
} HSE_VERSION_INFO;

typedef struct EXTENSION_CONTROL_BLOCK EXTENSION_CONTROL_BLOCK;

/* All callbacks answer non-zero on success. ConnID is the host's own context. */
typedef int (*PFN_GETSERVERVARIABLE)(void* ConnID, const char* lpszVariableName,
                                     void* lpvBuffer, uint32_t* lpdwSize);
typedef int (*PFN_WRITECLIENT)(void* ConnID, const void* Buffer, uint32_t* lpdwBytes,
                               uint32_t dwReserved);
typedef int (*PFN_READCLIENT)(void* ConnID, void* lpvBuffer, uint32_t* lpdwSize);
/* HSE_REQ_SEND_RESPONSE_HEADER: lpvBuffer is the status text ("200 OK"), lpdwDataType
 * the header block (each line ended by CR LF, the block by an empty line); both are
 * zero-terminated. */
typedef int (*PFN_SERVERSUPPORTFUNCTION)(void* ConnID, uint32_t dwHSERequest, void* lpvBuffer,
                                         uint32_t* lpdwSize, void* lpdwDataType);

struct EXTENSION_CONTROL_BLOCK {
  uint32_t cbSize;               /* sizeof(EXTENSION_CONTROL_BLOCK) */
  uint32_t dwVersion;
  void* ConnID;
  uint32_t dwHttpStatusCode;     /* set by the extension */
  const char* lpszMethod;
  const char* lpszQueryString;
  const char* lpszPathInfo;
  const char* lpszContentType;
  uint32_t cbTotalBytes;         /* the request's declared body length */
  uint32_t cbAvailable;          /* bytes of the body already in lpbData */
  const unsigned char* lpbData;
  PFN_GETSERVERVARIABLE GetServerVariable;
  PFN_WRITECLIENT WriteClient;
  PFN_READCLIENT ReadClient;
  PFN_SERVERSUPPORTFUNCTION ServerSupportFunction;
};

typedef int (*PFN_GETEXTENSIONVERSION)(HSE_VERSION_INFO* pVer);
typedef uint32_t (*PFN_HTTPEXTENSIONPROC)(EXTENSION_CONTROL_BLOCK* pECB);
typedef int (*PFN_TERMINATEEXTENSION)(uint32_t dwFlags);

int GetExtensionVersion(HSE_VERSION_INFO* pVer);
uint32_t HttpExtensionProc(EXTENSION_CONTROL_BLOCK* pECB);
int TerminateExtension(uint32_t dwFlags);

#ifdef __cplusplus
}
#endif

#endif
