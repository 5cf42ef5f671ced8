// errno to engine code mapping.
#include "storage/files/file_errors.h"

#include <cerrno>

namespace tarn {
namespace {

struct TOSErrorMap {
  int osError;
  TarnErrorCode code;
};

constexpr TOSErrorMap kOSErrors[] = {
    {ENOENT, TARN_OSENOENT},       {ENOTDIR, TARN_OSENOENT},     {ENAMETOOLONG, TARN_OSENOENT},
    {ELOOP, TARN_OSENOENT},        {EMFILE, TARN_OSEMFILE},      {ENFILE, TARN_OSEMFILE},
    {EACCES, TARN_OSEACCES},       {EPERM, TARN_OSEACCES},       {EROFS, TARN_OSEACCES},
    {ETXTBSY, TARN_OSEACCES},      {EBUSY, TARN_OSEACCES},       {EAGAIN, TARN_OSEACCES},
    {EISDIR, TARN_OSEACCES},       {EBADF, TARN_OSEBADF},        {ENOMEM, TARN_OSENOMEM},
    {ENODEV, TARN_OSENODEV},       {ENXIO, TARN_OSENODEV},       {EXDEV, TARN_OSENOTSAM},
    {EEXIST, TARN_TABLEEXISTS},    {ENOTEMPTY, TARN_TABLEEXISTS},
};

}  // namespace

TarnErrorCode OSLastNativeError(int osError) noexcept {
  if (osError == 0) return 0;
  for (const auto& entry : kOSErrors)
    if (entry.osError == osError) return entry.code;
  return TARN_OSUNKNOWN;
}

}  // namespace tarn
